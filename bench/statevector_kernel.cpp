// Times the statevector kernel alone, without Python or result conversion.
// Built by CMake (target bench_statevector_kernel) and run by bench/statevector.py:
//   statevector_kernel CIRCUIT_FILE N_QUBITS REPEATS
// CIRCUIT_FILE has one gate per line: name, qubit count, qubits, parameter
// count, parameters. Prints one JSON object.
#include <time.h>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/statevector.h"
#include "simd.h"

using namespace talvo::sim;
namespace simd = talvo::simd;
// Thread CPU time: the machine is shared, and time spent descheduled is not
// the kernel's.
struct Clock {
    using time_point = double;
    static double now() {
        timespec ts;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return ts.tv_sec + ts.tv_nsec * 1e-9;
    }
};

static double seconds_since(double t0) { return Clock::now() - t0; }

// A plain read-and-write pass: every amplitude loaded and stored once (its
// sign bits flipped, so the work cannot be optimised away).
static void read_write_pass(double* d, std::size_t doubles) {
    const simd::Vec<4> sign = simd::splat<4>(-0.0);
    for (std::size_t i = 0; i < doubles; i += 4) simd::store<4>(d + i, simd::bit_xor<4>(simd::load<4>(d + i), sign));
}

static void reset(StateBuffer& s) {
    std::memset(s.data(), 0, s.size() * 2 * sizeof(double));
    s.data()[0] = 1.0;
}

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    const std::string simd_error = talvo::simd::select(std::getenv("TALVO_CORE_SIMD"));
    if (!simd_error.empty()) {
        std::fprintf(stderr, "%s\n", simd_error.c_str());
        return 2;
    }
    std::ifstream in(argv[1]);
    unsigned n = static_cast<unsigned>(std::stoul(argv[2]));
    int repeats = std::stoi(argv[3]);
    std::vector<Instruction> instructions;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        Instruction ins;
        std::size_t nq, np;
        ls >> std::get<0>(ins) >> nq;
        std::get<1>(ins).resize(nq);
        for (auto& q : std::get<1>(ins)) ls >> q;
        ls >> np;
        std::get<2>(ins).resize(np);
        for (auto& p : std::get<2>(ins)) ls >> p;
        if (!std::get<0>(ins).empty()) instructions.push_back(ins);
    }
    std::vector<GateOp> ops = compile_circuit(instructions, n);
    StateBuffer state(n);
    double* d = state.data();
    const std::size_t doubles = state.size() * 2;

    double best_pass = 1e30, best_blocked = 1e30, best_unblocked = 1e30;
    for (int r = 0; r < repeats; ++r) {
        // A plain read-and-write pass over the whole buffer.
        auto t0 = Clock::now();
        read_write_pass(d, doubles);
        best_pass = std::min(best_pass, seconds_since(t0));
    }
    std::vector<double> blocked;
    for (int r = 0; r < repeats; ++r) {
        reset(state);
        auto t0 = Clock::now();
        apply_circuit(d, n, ops);
        best_blocked = std::min(best_blocked, seconds_since(t0));
    }
    blocked.assign(d, d + doubles);
    for (int r = 0; r < repeats; ++r) {
        reset(state);
        auto t0 = Clock::now();
        apply_circuit(d, n, ops, 0);
        best_unblocked = std::min(best_unblocked, seconds_since(t0));
    }
    // Optional further arguments: other block sizes to time (block qubits).
    std::string others;
    for (int a = 4; a < argc; ++a) {
        unsigned bq = static_cast<unsigned>(std::stoul(argv[a]));
        double best = 1e30;
        for (int r = 0; r < repeats; ++r) {
            reset(state);
            auto t0 = Clock::now();
            apply_circuit(d, n, ops, bq);
            best = std::min(best, seconds_since(t0));
        }
        others += ", \"blocked_" + std::to_string(bq) + "_s\": " + std::to_string(best);
    }
    reset(state);
    apply_circuit(d, n, ops, 0);
    bool same = std::memcmp(blocked.data(), d, doubles * sizeof(double)) == 0;
    std::printf(
        "{\"gates\": %zu, \"pass_s\": %.6f, \"blocked_s\": %.6f, \"unblocked_s\": %.6f, \"blocked_equals_unblocked\": %s%s}\n",
        ops.size(), best_pass, best_blocked, best_unblocked, same ? "true" : "false", others.c_str());
    return 0;
}
