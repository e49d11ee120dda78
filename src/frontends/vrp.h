// The one-hot tour QUBO of a vehicle-routing / travelling-salesman instance.
// No Python here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace talvo::frontends {

// One QUBO entry over variable indices: `first` is the variable whose name
// sorts first (first == second for a linear term).
struct VrpEntry {
    std::uint32_t first;
    std::uint32_t second;
    double weight;
};

struct VrpTerms {
    // "x_{i}_{t}" for variable i*N + t, in index order.
    std::vector<std::string> names;
    // Sorted by (first, second) index, which is the order of the result dict.
    std::vector<VrpEntry> entries;
};

// Builds the tour QUBO of the N x N augmented distance matrix `dist` with
// constraint weight `penalty_a` and distance weight `penalty_b`. A row whose
// length is not N is rejected ("distance matrix must be square").
VrpTerms vrp_qubo_terms(const std::vector<std::vector<double>>& dist, double penalty_a, double penalty_b);

}  // namespace talvo::frontends
