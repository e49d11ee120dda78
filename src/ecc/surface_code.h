// Rotated surface-code patch of one logical qubit. No Python here.
#pragma once

#include <cstdint>
#include <vector>

namespace talvo::ecc {

using QubitList = std::vector<std::uint64_t>;

struct SurfaceCodePatch {
    std::uint64_t distance = 0;
    QubitList data_qubits;
    std::vector<QubitList> x_stabilizers;
    std::vector<QubitList> z_stabilizers;
    QubitList logical_x;
    QubitList logical_z;
};

// Lays out a distance-d patch on a d x d grid of data qubits numbered row-major.
SurfaceCodePatch build_surface_code(std::uint64_t distance);

}  // namespace talvo::ecc
