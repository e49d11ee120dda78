// Compilation of a logical graph for a neutral-atom (Rydberg) array: one atom
// per variable on a square grid, with fixed drive and detuning sequences.
// No Python here.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/ising.h"

namespace talvo::analog {

struct SpatialCoordinates {
    double x = 0.0;
    double y = 0.0;
};

struct RydbergControlParameters {
    std::vector<double> omega;
    std::vector<double> delta;
    std::vector<SpatialCoordinates> atom_positions;  // independent of the other two lengths
};

struct NeutralAtomCompiler {};

// Distance between neighbouring atoms of the grid, in both directions.
inline constexpr double kAtomPitch = 5.0;

// Atom i of n sits at column i mod s, row i div s, with s = ceil(sqrt(n)).
std::vector<SpatialCoordinates> map_to_spatial_geometry(std::uint64_t n_atoms);

// 100 Rabi samples of 1.0, 100 detuning samples of 0.5, and the positions.
RydbergControlParameters generate_rydberg_controls(std::vector<SpatialCoordinates> coords);

}  // namespace talvo::analog
