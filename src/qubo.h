// The QUBO term list: ((i, j), w) terms over 0/1 variables, read the same way
// by every routine. No Python here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "errors.h"

namespace talvo {

struct QuboTerm {
    std::uint64_t i;
    std::uint64_t j;
    double w;
};

using QuboTerms = std::vector<QuboTerm>;

// The index fault the first out-of-range term raises when evaluated against
// n variables: i is reported when out of range, else j.
inline void check_qubo_indices(const QuboTerms& terms, std::uint64_t n) {
    for (const QuboTerm& t : terms) {
        check_index(t.i, n);
        check_index(t.j, n);
    }
}

// E(x) from `start`: each term contributes (x_i * w) * x_j, added to the
// running sum one at a time in list order. x_i is the bit's value as a double
// (0.0 or 1.0 for proper bits; a byte 2 counts as 2.0). Indices must have
// been checked.
template <class Bit>
inline double qubo_energy(const QuboTerms& terms, const Bit* bits, double start) {
    double e = start;
    for (const QuboTerm& t : terms) {
        double xi = static_cast<double>(bits[t.i]);
        double xj = static_cast<double>(bits[t.j]);
        e += (xi * t.w) * xj;
    }
    return e;
}

}  // namespace talvo
