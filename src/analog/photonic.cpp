#include "analog/photonic.h"

#include <cmath>
#include <new>

#include "errors.h"

namespace talvo::analog {

PhotonicGBSParameters build_arrazola_bromley_encoding(const sim::LogicalGraph& graph) {
    const std::size_t n = graph.variables.size();
    // The n x n matrix grows much faster than the graph: each entry takes 8
    // bytes here, as many in the copy handed to Python, and a float object
    // and its list slot when read. Refuse up front what the machine cannot
    // hold; poll for Ctrl-C while filling it.
    if (n > 0xFFFFFFFFu) throw std::bad_alloc();
    check_allocation(static_cast<std::uint64_t>(n) * n, 48);
    PhotonicGBSParameters out;
    out.adjacency_matrix.reserve(n);
    for (std::size_t r = 0; r < n; ++r) {
        if ((r & 255) == 0) poll_interrupt();
        out.adjacency_matrix.emplace_back(n, 0.0);
    }
    out.phases.assign(n, 0.0);
    const sim::NameIndex index(graph.variables);
    for (const sim::Interaction& it : graph.interactions) {
        const std::int64_t a = index.find(it.i);
        if (a < 0) continue;
        const std::int64_t b = index.find(it.j);
        if (b < 0) continue;
        if (a != b) {
            out.adjacency_matrix[a][b] = it.weight;
            out.adjacency_matrix[b][a] = it.weight;
        } else {
            out.phases[a] = std::atan(it.weight);
        }
    }
    return out;
}

}  // namespace talvo::analog
