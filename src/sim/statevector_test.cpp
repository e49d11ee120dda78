// The statevector kernel with every way of grouping the gates into blocks:
// one pass per gate (block_qubits == 0), the shipped block size, and blocks
// smaller than a register, down to fewer qubits than one chunk. Each
// amplitude sees the same arithmetic in the same order either way, so every
// grouping must give the same bits, on every offered instruction set; the
// Python suite compares the shipped grouping with its model.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "sim/statevector.h"
#include "simd.h"
#include "testing/check.h"

using talvo::sim::apply_circuit;
using talvo::sim::compile_circuit;
using talvo::sim::Instruction;
using talvo::sim::StateBuffer;

namespace {

std::vector<Instruction> random_circuit(std::mt19937_64& rng, unsigned n, unsigned gates) {
    static const char* const kSingle[] = {"h", "x", "y", "z", "s", "t", "rx", "ry", "rz", "u"};
    static const char* const kDouble[] = {"cx", "swap", "cz"};
    std::uniform_real_distribution<double> angle(-4.0, 4.0);
    std::vector<Instruction> out;
    // A spread-out start, so that every amplitude is live.
    for (unsigned q = 0; q < n; ++q) out.push_back({"u", {q}, {0.3 + q, 1.1 - 0.2 * q, 0.7 * q}});
    for (unsigned g = 0; g < gates; ++g) {
        // Half the gates on the top three qubits, which lie outside a block.
        auto qubit = [&] {
            return rng() % 2 || n < 4 ? static_cast<std::uint64_t>(rng() % n) : n - 1 - rng() % 3;
        };
        if (n >= 2 && rng() % 3 == 0) {
            std::uint64_t a = qubit(), b = qubit();
            while (b == a) b = rng() % n;
            out.push_back({kDouble[rng() % 3], {a, b}, {}});
        } else {
            out.push_back({kSingle[rng() % 10], {qubit()}, {angle(rng), angle(rng), angle(rng)}});
        }
    }
    return out;
}

std::vector<std::uint64_t> run(unsigned n, const std::vector<talvo::sim::GateOp>& ops, unsigned block_qubits) {
    StateBuffer state(n);
    apply_circuit(state.data(), n, ops, block_qubits);
    std::vector<std::uint64_t> bits(2 * state.size());
    std::memcpy(bits.data(), state.data(), bits.size() * sizeof(double));
    return bits;
}

void check_groupings(std::mt19937_64& rng) {
    for (unsigned n = 1; n <= 14; ++n) {
        for (int trial = 0; trial < 3; ++trial) {
            const auto ops = compile_circuit(random_circuit(rng, n, 40), n);
            const auto one_pass = run(n, ops, 0);
            for (unsigned block : {talvo::sim::kBlockQubits, 9u, 7u, talvo::sim::kChunkQubits, 3u}) {
                const bool same = run(n, ops, block) == one_pass;
                CHECK(same);
                if (!same) std::fprintf(stderr, "  n = %u, block_qubits = %u, trial %d\n", n, block, trial);
            }
        }
    }
}

// The state's memory, heap or mapping, changes nothing: the same circuit
// gives the same bits from either at the sizes around the crossover, and by
// default the mapping is taken from kMappedStateQubits on.
void check_memories(std::mt19937_64& rng) {
    using talvo::sim::kMappedStateQubits;
    for (unsigned n : {kMappedStateQubits - 1, kMappedStateQubits, kMappedStateQubits + 1}) {
        const auto ops = compile_circuit(random_circuit(rng, n, 12), n);
        std::vector<std::uint64_t> got[2];
        for (bool mapped : {false, true}) {
            StateBuffer state(n, mapped);
            CHECK(state.mapped() == mapped);
            apply_circuit(state.data(), n, ops);
            got[mapped].resize(2 * state.size());
            std::memcpy(got[mapped].data(), state.data(), got[mapped].size() * sizeof(double));
        }
        CHECK(got[0] == got[1]);
    }
    for (unsigned n = 0; n <= kMappedStateQubits + 1; ++n) {
        StateBuffer state(n);
        CHECK(state.mapped() == (n >= kMappedStateQubits));
        CHECK(state.size() == (std::size_t{1} << n));
        CHECK(state.data()[0] == 1.0 && !std::signbit(state.data()[1]));
    }
}

}  // namespace

int main() {
    for (const char* set : {"generic", "avx2", "avx512"}) {
        if (!talvo::simd::select(set).empty()) continue;  // not offered here
        std::mt19937_64 rng(23);
        check_groupings(rng);
        check_memories(rng);
        std::printf("statevector_test: %s checked\n", set);
    }
    return talvo::testing::finish("statevector_test");
}
