// Times the native part of simulate_qubo_runs (drawing and energies, no
// Python objects) for bench/runs.py. Usage: runs_kernel N_RUNS N_VARS N_TERMS REPS
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "pool.h"
#include "runs/runs.h"

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    std::uint64_t n_runs = std::strtoull(argv[1], nullptr, 10);
    std::size_t n = std::strtoull(argv[2], nullptr, 10);
    std::size_t n_terms = std::strtoull(argv[3], nullptr, 10);
    int reps = std::atoi(argv[4]);
    std::mt19937_64 rng(3);
    talvo::QuboTerms terms;
    for (std::size_t t = 0; t < n_terms; ++t) {
        terms.push_back({rng() % n, rng() % n, std::uniform_real_distribution<double>(-1, 1)(rng)});
    }
    std::vector<std::uint8_t> base(n);
    for (auto& b : base) b = rng() & 1;
    talvo::pool::worker_count();  // started outside the timing, as in a warm process
    double best = 1e30, sink = 0;
    for (int r = 0; r < reps; ++r) {
        auto t0 = std::chrono::steady_clock::now();
        auto runs = talvo::runs::simulate_qubo_runs(terms, base, n_runs, 0.1, 42 + r);
        auto t1 = std::chrono::steady_clock::now();
        sink += runs.energies[0];
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    std::printf("%.9f %zu %g\n", best, talvo::pool::worker_count(), sink);
}
