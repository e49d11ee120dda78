#include "scoring/criticality.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "errors.h"

namespace talvo::scoring {

Ranked qubo_criticality(const QuboTerms& terms, std::uint64_t n_vars) {
    if (n_vars > Ranked().max_size()) throw std::bad_alloc();
    // The ranking and its Python form (a tuple of an int and a float per
    // variable) take about 128 bytes a variable.
    check_allocation(n_vars, 128);
    std::vector<double> weight(n_vars, 0.0);
    for (const QuboTerm& t : terms) {
        if (t.i >= n_vars || t.j >= n_vars) continue;
        const double x = std::fabs(t.w);
        weight[t.i] += x;
        if (t.i != t.j) weight[t.j] += x;
    }

    Ranked ranked;
    ranked.reserve(n_vars);
    for (std::uint64_t k = 0; k < n_vars; ++k) ranked.emplace_back(k, weight[k]);

    // Every element takes part in at least one comparison of a sort of two or
    // more, so any NaN makes the order undefined.
    if (n_vars >= 2 && std::any_of(weight.begin(), weight.end(), [](double w) { return std::isnan(w); }))
        unordered_fault();
    std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    return ranked;
}

}  // namespace talvo::scoring
