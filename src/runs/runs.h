// Simulated noisy annealer runs over a QUBO: every run starts from the base
// assignment and flips each bit with a fixed probability, drawn from one
// seeded SplitMix64 stream; the energies are evaluated on the shared pool.
// No Python here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "qubo.h"

namespace talvo::runs {

// SplitMix64: the state is advanced by the golden-ratio increment once per
// draw and mixed into the output.
struct SplitMix64 {
    std::uint64_t state;

    std::uint64_t next() {
        state += 0x9e3779b97f4a7c15ULL;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }

    // The top 53 bits as a double in [0, 1).
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
};

struct NoisyRuns {
    std::size_t n_runs = 0;
    std::size_t n_vars = 0;
    std::vector<std::uint8_t> bits;  // run-major: run r is bits[r * n_vars, (r + 1) * n_vars)
    std::vector<double> energies;    // one per run

    const std::uint8_t* run(std::size_t r) const { return bits.data() + r * n_vars; }
};

// The noisy runs of `base_bits` and their energies under `terms` (summed from
// -0.0). Faults with "capacity overflow" when the run list cannot be sized,
// and with the index fault of the first out-of-range term when n_runs >= 1.
// Refuses with std::bad_alloc, before anything is drawn, runs whose bits,
// energies and `result_bytes_per_run` (what the caller will build from each
// run) the machine cannot hold.
NoisyRuns simulate_qubo_runs(const QuboTerms& terms, const std::vector<std::uint8_t>& base_bits,
                             std::uint64_t n_runs, double noise_level, std::uint64_t seed,
                             std::uint64_t result_bytes_per_run = 0);

}  // namespace talvo::runs
