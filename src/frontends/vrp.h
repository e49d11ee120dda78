// The one-hot tour QUBO of a vehicle-routing / travelling-salesman instance.
// No Python here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "errors.h"

namespace talvo::frontends {

// One QUBO entry over variable indices: `first` is the variable whose name
// sorts first (first == second for a linear term).
struct VrpEntry {
    std::uint32_t first;
    std::uint32_t second;
    double weight;
};

// One contribution to the weight of the term {first, second}.
struct VrpContribution {
    std::uint32_t first;
    std::uint32_t second;
    double delta;
};

struct VrpTerms {
    // "x_{i}_{t}" for variable i*N + t, in index order.
    std::vector<std::string> names;
    // Every contribution, sorted by (first, second) index; the contributions
    // of one term keep the order in which they were made.
    std::vector<VrpContribution> contributions;

    // Calls f(VrpEntry) for each term in (first, second) index order, which is
    // the order of the result dict. Each weight starts at 0.0 and adds its
    // contributions in order. Polls for Ctrl-C every few thousand terms.
    template <class F>
    void for_each_entry(F&& f) const {
        const std::size_t size = contributions.size();
        for (std::size_t k = 0, terms = 0; k < size; ++terms) {
            if ((terms & 0x3FFF) == 0) poll_interrupt();
            const std::uint32_t first = contributions[k].first, second = contributions[k].second;
            double weight = 0.0;
            for (; k < size && contributions[k].first == first && contributions[k].second == second; ++k) {
                weight += contributions[k].delta;
            }
            f(VrpEntry{first, second, weight});
        }
    }
};

// Builds the tour QUBO of the N x N augmented distance matrix `dist` with
// constraint weight `penalty_a` and distance weight `penalty_b`. A row whose
// length is not N is rejected ("distance matrix must be square"); an N whose
// 2 N^3 contributions and result the machine cannot hold throws bad_alloc
// before anything is built. Polls for Ctrl-C throughout.
VrpTerms vrp_qubo_terms(const std::vector<std::vector<double>>& dist, double penalty_a, double penalty_b);

}  // namespace talvo::frontends
