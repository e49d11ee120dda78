"""Noisy runs: how often a noisy annealer keeps the best assignment of a QUBO,
at several noise levels, from one seeded and reproducible random stream.

    python examples/noisy_runs.py
"""
import talvo_core


def main():
    # A chain of 8 variables that prefers alternating bits.
    n = 8
    qubo = [((i, i), -1.0) for i in range(n)] + [((i, i + 1), 2.5) for i in range(n - 1)]
    best, best_energy, _ = talvo_core.qubo_energy_spectrum(qubo, n)
    print(f"best assignment {best}, energy {best_energy}")

    print(f"{'noise':>6} {'kept best':>10} {'mean energy':>12}")
    for noise in (0.0, 0.02, 0.05, 0.1, 0.2):
        runs, energies = talvo_core.simulate_qubo_runs(qubo, best, 500, noise, seed=2026)
        kept = sum(run == best for run in runs) / len(runs)
        print(f"{noise:>6} {kept:>10.1%} {sum(energies) / len(energies):>12.3f}")

    # The same arguments give the same runs, on any machine and any number of threads.
    again = talvo_core.simulate_qubo_runs(qubo, best, 500, 0.1, seed=2026)
    print("reproducible:", again == talvo_core.simulate_qubo_runs(qubo, best, 500, 0.1, seed=2026))

    # noise_level is not checked: validate it where it comes from outside.
    for noise in (0.1, 1.5):
        print(f"noise_level {noise} valid: {0.0 <= noise <= 1.0}")


if __name__ == "__main__":
    main()
