#include "analog/photonic.h"

#include <cmath>

namespace talvo::analog {

PhotonicGBSParameters build_arrazola_bromley_encoding(const sim::LogicalGraph& graph) {
    const std::size_t n = graph.variables.size();
    PhotonicGBSParameters out;
    out.adjacency_matrix.assign(n, std::vector<double>(n, 0.0));
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
