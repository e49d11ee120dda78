// Encoding of a logical graph for photonic Gaussian boson sampling: couplings
// between distinct variables form a symmetric adjacency matrix, self-couplings
// become phases. No Python here.
#pragma once

#include <vector>

#include "sim/ising.h"

namespace talvo::analog {

struct PhotonicGBSParameters {
    std::vector<std::vector<double>> adjacency_matrix;  // rows; no shape is assumed
    std::vector<double> phases;
};

struct PhotonicCompiler {};

// n x n matrix and n phases for the n variables of `graph`. Interactions are
// applied in order, so a later one overwrites both mirrored entries (or the
// phase atan(w) of a self-interaction); unknown names are skipped.
PhotonicGBSParameters build_arrazola_bromley_encoding(const sim::LogicalGraph& graph);

}  // namespace talvo::analog
