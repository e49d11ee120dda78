// Conversion of the QUBO term list from Python: each term a tuple
// ((i, j), w) with unsigned i, j and a float w.
#pragma once

#include "boundary.h"
#include "qubo.h"

namespace talvo::py {

template <>
struct Conv<QuboTerm> {
    static QuboTerm from(PyObject* o) {
        expect_tuple(o, 2);
        auto [i, j] = Conv<std::pair<std::uint64_t, std::uint64_t>>::from(PyTuple_GetItem(o, 0));
        double w = Conv<double>::from(PyTuple_GetItem(o, 1));
        return {i, j, w};
    }
    static PyObject* to(const QuboTerm& t) {
        return Conv<std::pair<std::pair<std::uint64_t, std::uint64_t>, double>>::to({{t.i, t.j}, t.w});
    }
};

}  // namespace talvo::py
