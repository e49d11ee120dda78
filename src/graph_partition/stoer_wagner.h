// Global minimum cut of a weighted undirected graph (Stoer-Wagner, dense).
// No Python here.
#pragma once

#include <cstdint>
#include <tuple>
#include <vector>

namespace talvo::graph_partition {

using Edge = std::tuple<std::uint64_t, std::uint64_t, double>;  // (i, j, weight)

struct Bisection {
    double cut_weight;
    // The group of the last node of the lightest phase: that node first, then
    // the nodes merged into it in merge order.
    std::vector<std::uint64_t> side_a;
};

// Splits nodes 0 .. n_nodes-1 along a minimum cut. Faults on an edge index
// >= n_nodes; rejects n_nodes < 2 ("n_nodes must be >= 2 to bisect") and a
// graph where no phase yields a cut ("no cut found").
Bisection stoer_wagner_bisect(const std::vector<Edge>& edges, std::uint64_t n_nodes);

}  // namespace talvo::graph_partition
