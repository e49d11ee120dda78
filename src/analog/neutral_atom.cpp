#include "analog/neutral_atom.h"

#include <cmath>

namespace talvo::analog {

std::vector<SpatialCoordinates> map_to_spatial_geometry(std::uint64_t n_atoms) {
    std::vector<SpatialCoordinates> out;
    if (n_atoms == 0) return out;
    const auto side = static_cast<std::uint64_t>(std::ceil(std::sqrt(static_cast<double>(n_atoms))));
    out.reserve(n_atoms);
    for (std::uint64_t i = 0; i < n_atoms; ++i) {
        const double column = static_cast<double>(i % side);
        const double row = static_cast<double>(i / side);
        out.push_back({column * kAtomPitch, row * kAtomPitch});
    }
    return out;
}

RydbergControlParameters generate_rydberg_controls(std::vector<SpatialCoordinates> coords) {
    constexpr std::size_t kSamples = 100;
    return {std::vector<double>(kSamples, 1.0), std::vector<double>(kSamples, 0.5), std::move(coords)};
}

}  // namespace talvo::analog
