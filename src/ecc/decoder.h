// Minimum-weight lookup decoder for bit-flip errors, and the exact logical
// failure probability under independent bit-flip noise. No Python here.
//
// Patterns and stabilizers are 64-bit masks over the data qubits (bit i is data
// qubit i). Syndrome bit j is the parity of the overlap with stabilizer j.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ecc/surface_code.h"

namespace talvo::ecc {

using Mask = std::uint64_t;

inline constexpr std::uint64_t kMaxDecoderQubits = 26;
inline constexpr std::size_t kMaxDecoderStabilizers = 32;

// Checks the sizes, then the entries, and turns each support into a mask:
// SizeLimit when n_data > 26, then when there are more than 32 supports, then
// InvalidInput for the first entry (supports in order, entries in order) that
// is not a data qubit.
std::vector<Mask> stabilizer_masks(std::uint64_t n_data, const std::vector<QubitList>& supports);

// The decoder table: for every syndrome some pattern produces, the pattern of
// least weight that produces it, the first one met when the patterns are
// visited in lexicographic order of (x_0, x_1, ..., x_{n-1}), i.e. counting
// with data qubit 0 as the most significant position.
//
// Only reachable syndromes get a slot. They form the linear span of the
// qubits' syndrome columns, so they are indexed by their coordinates in a
// reduced basis of that span (2^rank slots, rank <= min(n, m)). The basis is
// in echelon form on the leading bits, so increasing coordinates are
// increasing syndromes.
class DecoderTable {
public:
    DecoderTable(unsigned n_data, const std::vector<Mask>& masks);

    // Number of reachable syndromes, 2^rank.
    std::size_t size() const { return slots_.size(); }
    // The k-th reachable syndrome in increasing order.
    std::uint64_t syndrome(std::size_t k) const;
    // The correction chosen for the k-th reachable syndrome.
    Mask pattern(std::size_t k) const;

    // Probability of a logical failure: the sum over all patterns P, in
    // increasing order of P, of the probability of P when P XOR its correction
    // overlaps `logical` on an odd number of qubits. `weight_prob[k]` is the
    // probability of one pattern of weight k. Consumes the table.
    double failure_sum(Mask logical, const std::vector<double>& weight_prob) &&;

private:
    unsigned n_;
    std::vector<std::uint64_t> basis_;   // basis_[k]: syndrome of coordinate bit k
    std::vector<std::uint32_t> coord_;   // coord_[i]: coordinates of data qubit i's syndrome
    // Per slot: (weight << 27) | counter of the chosen pattern, where the
    // counter is the pattern read with qubit 0 as the most significant bit.
    std::vector<std::uint32_t> slots_;

    Mask counter_to_pattern(std::uint32_t counter) const;
};

// Integer power by repeated squaring.
double powi(double x, std::uint64_t e);

// The exact logical X-failure probability of the lookup decoder.
double logical_failure_probability(std::uint64_t n_data, const std::vector<QubitList>& z_stabilizers,
                                   const QubitList& logical_z, double physical_error_rate);

}  // namespace talvo::ecc
