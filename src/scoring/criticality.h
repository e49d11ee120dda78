// Criticality ranking of QUBO variables for error-correction budgeting.
// No Python here.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "qubo.h"

namespace talvo::scoring {

// (variable index, criticality weight)
using Ranked = std::vector<std::pair<std::uint64_t, double>>;

// The weight of a variable is the sum of |w| over the terms that touch it (a
// linear term once, a quadratic term once for each of its two variables);
// terms with an index >= n_vars are ignored. Returns every variable, heaviest
// first, equal weights in index order. A NaN weight among two or more
// variables cannot be ordered and faults.
Ranked qubo_criticality(const QuboTerms& terms, std::uint64_t n_vars);

}  // namespace talvo::scoring
