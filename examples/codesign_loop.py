"""A short tour of talvo_core: the exact energy spectrum of a small QUBO."""
import random
import time

import talvo_core


def main() -> None:
    rng = random.Random(7)
    n = 12
    qubo = [((i, j), round(rng.uniform(-1.0, 1.0), 3)) for i in range(n) for j in range(i, n)]
    t0 = time.perf_counter()
    best, best_energy, energies = talvo_core.qubo_energy_spectrum(qubo, n)
    dt = time.perf_counter() - t0
    print(f"QUBO with {n} variables and {len(qubo)} terms")
    print(f"  best assignment   {''.join(map(str, best))}")
    print(f"  best energy       {best_energy:.6f}")
    print(f"  second-best       {energies[1]:.6f}")
    print(f"  distinct energies {len(energies)}  ({dt * 1e3:.1f} ms)")


if __name__ == "__main__":
    main()
