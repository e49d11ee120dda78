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
// running sum one at a time in list order. Indices must have been checked.
template <class Bit>
inline double qubo_energy(const QuboTerms& terms, const Bit* bits, double start) {
    double e = start;
    for (const QuboTerm& t : terms) {
        double xi = bits[t.i] ? 1.0 : 0.0;
        double xj = bits[t.j] ? 1.0 : 0.0;
        e += (xi * t.w) * xj;
    }
    return e;
}

}  // namespace talvo
