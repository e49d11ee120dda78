#include "runs/runs.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>

#include "errors.h"
#include "pool.h"

namespace talvo::runs {

NoisyRuns simulate_qubo_runs(const QuboTerms& terms, const std::vector<std::uint8_t>& base_bits,
                             std::uint64_t n_runs, double noise_level, std::uint64_t seed,
                             std::uint64_t result_bytes_per_run) {
    // The run list holds one 24-byte list header per run; past the largest
    // signed size it cannot even be described.
    constexpr std::uint64_t kMaxRuns = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) / 24;
    if (n_runs > kMaxRuns) capacity_overflow();

    NoisyRuns out;
    const std::size_t n = base_bits.size();
    out.n_runs = static_cast<std::size_t>(n_runs);
    out.n_vars = n;
    if (n != 0 && out.n_runs > static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max()) / n) {
        throw std::bad_alloc();  // more assignment bytes than memory can hold
    }
    // Each run costs its bits and energy here and the caller's bytes for its
    // result: refuse up front what the machine cannot hold.
    check_allocation(n_runs, static_cast<std::uint64_t>(n) + sizeof(double) + result_bytes_per_run);
    out.bits.resize(out.n_runs * n);
    out.energies.resize(out.n_runs);

    // One stream for the whole call, one draw per bit, run-major.
    SplitMix64 rng{seed};
    std::uint8_t* dst = out.bits.data();
    for (std::size_t r = 0; r < out.n_runs; ++r) {
        if ((r & 4095) == 0) poll_interrupt();
        for (std::size_t k = 0; k < n; ++k) {
            double u = rng.uniform();
            std::uint8_t b = base_bits[k];
            *dst++ = noise_level > u ? static_cast<std::uint8_t>(1 - b) : b;
        }
    }
    if (out.n_runs == 0) return out;

    // Every run has the same length, so the first bad term faults the same
    // way whichever run would meet it.
    check_qubo_indices(terms, n);
    // The energies go to the pool in batches of about four million term
    // steps, a few milliseconds each, with a poll for Ctrl-C before each; a
    // batch of few term steps runs on the calling thread.
    const std::size_t batch = std::max<std::size_t>(1, (std::size_t{1} << 22) / std::max<std::size_t>(1, terms.size()));
    for (std::size_t first = 0; first < out.n_runs; first += batch) {
        poll_interrupt();
        const std::size_t count = std::min(batch, out.n_runs - first);
        pool::for_each(count, count * std::max<std::size_t>(1, terms.size()), [&](std::size_t k) {
            out.energies[first + k] = qubo_energy(terms, out.run(first + k), -0.0);
        });
    }
    return out;
}

}  // namespace talvo::runs
