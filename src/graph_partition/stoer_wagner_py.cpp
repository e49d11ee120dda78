// Python binding of the Stoer-Wagner bisection.
#include "graph_partition/stoer_wagner.h"
#include "types_py.h"

namespace talvo::bind {

using py::Arg;

py::Member& member_stoer_wagner_bisect() {
    static py::Function f(
        "stoer_wagner_bisect",
        "Bisect a weighted undirected graph via the Stoer-Wagner global min-cut.\n\n"
        "# Arguments\n"
        "* `edges` - list of (i, j, weight) tuples, each undirected edge listed once, with\n"
        "  0-based node indices. Weights should be non-negative: Stoer-Wagner assumes\n"
        "  non-negative capacities, like its max-flow relatives.\n"
        "* `n_nodes` - total node count. Isolated nodes end up on whichever side the\n"
        "  algorithm places them, since they contribute no cut weight.\n\n"
        "# Returns\n"
        "`(cut_weight, side_a)`; `side_b` is the complement of `side_a` in 0 .. n_nodes-1.\n\n"
        "# Errors\n"
        "ValueError if `n_nodes` < 2.",
        [](Arg<std::vector<graph_partition::Edge>, "edges"> edges, Arg<std::uint64_t, "n_nodes"> n_nodes) -> PyObject* {
            graph_partition::Bisection b = graph_partition::stoer_wagner_bisect(edges.value, n_nodes.value);
            return py::to_py(std::make_pair(b.cut_weight, b.side_a));
        });
    return f;
}

}  // namespace talvo::bind
