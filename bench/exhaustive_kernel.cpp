// Times the phases of the exhaustive searches without Python, and this
// machine's throughput figures that bound each phase. Built by CMake on the
// kernel library (target bench_exhaustive_kernel) and run by bench/spectrum.py
// and bench/ising.py:
//   bench_exhaustive_kernel TERMS_FILE N REPEATS
// TERMS_FILE has one QUBO term per line, "i j w" (w as a round-trip decimal);
// the same terms serve as the Ising couplings (dh from the i == j terms, dj
// from the others). The instruction set is the one TALVO_CORE_SIMD names (or
// the best). Prints one JSON object; times are seconds of thread CPU time,
// best of REPEATS. Exits 1 when the key range the evaluation pass reports is
// not that of the keys it wrote.
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "sim/ising.h"
#include "simd.h"

using namespace talvo;
using namespace talvo::sim;

namespace {

double now() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

template <class F>
double best_of(int repeats, F&& f) {
    double best = 1e30;
    for (int r = 0; r < repeats; ++r) {
        const double t0 = now();
        f();
        best = std::min(best, now() - t0);
    }
    return best;
}

volatile double g_sink;

// Lane additions per second of the widest vector the instruction set uses:
// eight independent accumulators, so the adder's throughput (not its latency)
// is the limit.
template <unsigned W>
TALVO_INLINE double add_rate_impl(int repeats) {
    constexpr std::uint64_t kSteps = std::uint64_t{1} << 22;
    double best = 1e30;
    for (int r = 0; r < repeats; ++r) {
        const double t0 = now();
        simd::Vec<W> a[8], x = simd::splat<W>(g_sink);
        TALVO_UNROLL
        for (unsigned g = 0; g < 8; ++g) a[g] = simd::splat<W>(0.0);
        for (std::uint64_t s = 0; s < kSteps; ++s) {
            TALVO_UNROLL
            for (unsigned g = 0; g < 8; ++g) a[g] += x;  // no reassociation: kSteps real additions
        }
        double sum = 0;
        for (auto& v : a) sum += simd::lane<W>(v, 0);
        g_sink = sum;
        best = std::min(best, now() - t0);
    }
    return 8.0 * W * static_cast<double>(kSteps) / best;
}
double add_rate_generic(int r) { return add_rate_impl<2>(r); }
#if TALVO_SIMD_X86
TALVO_TARGET_AVX2 double add_rate_avx2(int r) { return add_rate_impl<4>(r); }
TALVO_TARGET_AVX512 double add_rate_avx512(int r) { return add_rate_impl<8>(r); }
#endif
double add_rate(int r) {
    switch (simd::active()) {
#if TALVO_SIMD_X86
        case simd::Level::Avx512: return add_rate_avx512(r);
        case simd::Level::Avx2: return add_rate_avx2(r);
#endif
        default: return add_rate_generic(r);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    const std::string simd_error = simd::select(std::getenv("TALVO_CORE_SIMD"));
    if (!simd_error.empty()) {
        std::fprintf(stderr, "%s\n", simd_error.c_str());
        return 2;
    }
    std::ifstream in(argv[1]);
    const unsigned n = static_cast<unsigned>(std::stoul(argv[2]));
    const int repeats = std::stoi(argv[3]);
    QuboTerms terms;
    LinearTerms dh;
    QuboTerms dj;
    LogicalGraph graph;
    for (unsigned k = 0; k < n; ++k) graph.variables.push_back({"v" + std::to_string(k), "spin"});
    for (QuboTerm t; in >> t.i >> t.j >> t.w;) {
        terms.push_back(t);
        if (t.i == t.j) {
            dh.push_back({t.i, t.w});
        } else {
            dj.push_back(t);
            graph.interactions.push_back({"v" + std::to_string(t.i), "v" + std::to_string(t.j), t.w});
        }
    }
    const std::size_t total = std::size_t{1} << n;

    // Lane additions that change a sum: a term adds its weight to the
    // assignments where both its variables are 1.
    double active = 0;
    for (const QuboTerm& t : terms) active += static_cast<double>(total >> (t.i == t.j ? 1 : 2));

    Spectrum s(total);
    double best = 0;
    std::uint64_t best_v = 0;
    std::int64_t key_lo = 0, key_hi = 0;
    const double scan =
        best_of(repeats, [&] { detail::spectrum_scan(terms, n, s.keys(), best, best_v, key_lo, key_hi); });
    std::vector<std::int64_t> keys(s.keys(), s.keys() + total);
    // The key range the pass reports is that of the keys it wrote.
    const bool key_range_ok = key_lo == *std::min_element(keys.begin(), keys.end()) &&
                              key_hi == *std::max_element(keys.begin(), keys.end());
    std::size_t distinct = 0;
    const double sort = best_of(repeats, [&] {
        std::copy(keys.begin(), keys.end(), s.keys());
        distinct = detail::sort_energies(s.keys(), total, key_lo, key_hi);
    });
    const double copy_only = best_of(repeats, [&] { std::copy(keys.begin(), keys.end(), s.keys()); });
    const double whole = best_of(repeats, [&] { g_sink = qubo_energy_spectrum(terms, n).best_energy; });

    double norm = 0;
    const double norm_t = best_of(repeats, [&] { norm = exact_ising_norm(dh, dj, n); });
    std::vector<std::int8_t> spins;
    const double solve_t = best_of(repeats, [&] { spins = solve_exact(graph); });

    // Memory: one write pass and one read-and-write pass over the keys' size.
    std::vector<std::int64_t> other(total);
    const double write_t = best_of(repeats, [&] { std::memset(other.data(), repeats, total * 8); });
    const double rw_t = best_of(repeats, [&] { std::memcpy(other.data(), keys.data(), total * 8); });
    // The least a distribution sort does beyond reading the keys: one deal of
    // every key into one of 256 buckets whose places are known in advance.
    std::vector<std::uint8_t> dest(total);
    std::vector<std::size_t> first(257, 0);
    for (std::size_t k = 0; k < total; ++k) {
        dest[k] = static_cast<std::uint8_t>((static_cast<std::uint64_t>(keys[k]) * 0x9E3779B97F4A7C15u) >> 56);
        ++first[dest[k] + 1];
    }
    for (std::size_t b = 1; b < first.size(); ++b) first[b] += first[b - 1];
    const double deal_t = best_of(repeats, [&] {
        std::vector<std::size_t> next(first.begin(), first.end() - 1);
        for (std::size_t k = 0; k < total; ++k) other[next[dest[k]]++] = keys[k];
    });
    const double rate = add_rate(repeats);

    std::printf(
        "{\"simd\": \"%s\", \"n\": %u, \"terms\": %zu, \"distinct\": %zu, \"best\": %.17g, \"norm\": %.17g, "
        "\"scan_s\": %.6f, \"sort_unique_s\": %.6f, \"copy_s\": %.6f, \"spectrum_s\": %.6f, "
        "\"norm_s\": %.6f, \"solve_s\": %.6f, \"lane_adds_per_s\": %.4g, \"active_adds\": %.6g, "
        "\"dense_adds\": %.6g, \"write_pass_s\": %.6f, \"copy_pass_s\": %.6f, \"deal_pass_s\": %.6f, "
        "\"key_range_ok\": %s}\n",
        simd::name(simd::active()), n, terms.size(), distinct, best, norm, scan, sort - copy_only, copy_only, whole,
        norm_t, solve_t, rate, active, static_cast<double>(total) * static_cast<double>(terms.size()), write_t, rw_t,
        deal_t, key_range_ok ? "true" : "false");
    return key_range_ok ? 0 : 1;
}
