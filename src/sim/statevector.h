// Dense statevector simulation over a fixed gate set. No Python here.
//
// Basis index i stands for the state in which qubit q has the value
// (i >> q) & 1: qubit 0 is the least significant bit. The state is one
// contiguous buffer of 2^n amplitudes, each a (real, imag) pair of doubles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "buffer.h"
#include "errors.h"

namespace talvo::sim {

// Largest register run_statevector accepts: 2^24 amplitudes are 256 MiB.
inline constexpr std::uint64_t kMaxStatevectorQubits = 24;

// Qubits of one cache block: runs of consecutive gates whose qubits fit in a
// block of 2^kBlockQubits amplitudes (64 KiB, well inside a core's L2) are
// applied block by block, so the state streams through memory once per run
// instead of once per gate.
inline constexpr unsigned kBlockQubits = 12;
// Every block keeps the lowest kChunkQubits qubits, so it is made of
// contiguous chunks of at least 2^kChunkQubits amplitudes.
inline constexpr unsigned kChunkQubits = 6;

// One instruction as the caller passes it: (gate_name, qubit_indices, params).
using Instruction = std::tuple<std::string, std::vector<std::uint64_t>, std::vector<double>>;

enum class GateKind : std::uint8_t { Single, CX, Swap, CZ };

// A gate ready to apply: qubits already checked against the register.
// Single: m holds M00, M01, M10, M11 as (re, im) pairs. CX: control a,
// target b. Swap: a, b. CZ: a, b (a == b acts as z on a).
struct GateOp {
    GateKind kind;
    unsigned a;
    unsigned b;
    double m[8];
};

// SizeViolation unless n_qubits <= 24.
void check_statevector_size(std::uint64_t n_qubits);

// Builds every instruction's gate in list order and reports the first failing
// instruction's error exactly as applying the list would: an unknown name, a
// missing parameter, or an index the gate would touch outside the state.
// Gates that provably change nothing (cx or swap whose control qubit lies
// outside the register, cz on a qubit outside it) are left out.
std::vector<GateOp> compile_circuit(const std::vector<Instruction>& instructions, unsigned n_qubits);

// States of fewer qubits than this come from the heap; larger ones are
// mapped directly (see LargeBuffer). A mapping is zero-filled a whole 2 MiB
// huge page at a time, which for a few amplitudes costs a hundred times the
// simulation. Measured (a register of h gates, and no gates): the heap is
// ahead up to 18 qubits, even at 19 and 20 with gates, and well behind from
// 21, where the mapping's fewer page faults win; with no gates the mapping
// is ahead from 19.
inline constexpr unsigned kMappedStateQubits = 19;

// The initial state of n qubits: 2^n amplitudes, all zero but amplitude 0,
// which is 1.0 + 0.0i. `mapped` picks where the memory comes from (by
// default by size, see kMappedStateQubits); the contents are the same.
class StateBuffer {
public:
    explicit StateBuffer(unsigned n_qubits) : StateBuffer(n_qubits, n_qubits >= kMappedStateQubits) {}
    StateBuffer(unsigned n_qubits, bool mapped);
    double* data() { return data_; }
    const double* data() const { return data_; }
    std::size_t size() const { return size_; }  // amplitudes
    bool mapped() const { return large_ != nullptr; }

private:
    std::vector<double> small_;                   // zero-filled
    std::unique_ptr<LargeBuffer<double>> large_;  // page-aligned, zero-filled
    double* data_ = nullptr;
    std::size_t size_ = 0;
};

// Applies the gates in order to the state of n qubits, in place. Consecutive
// gates whose qubits fit in one block of 2^block_qubits amplitudes are
// applied one block at a time; block_qubits == 0 applies every gate in its
// own pass over the whole state. Either way each amplitude sees exactly the
// same arithmetic in the same order, so the result is the same to the bit.
void apply_circuit(double* state, unsigned n_qubits, const std::vector<GateOp>& ops,
                   unsigned block_qubits = kBlockQubits);

}  // namespace talvo::sim
