#include "ecc/surface_code.h"

#include "errors.h"

namespace talvo::ecc {

SurfaceCodePatch build_surface_code(std::uint64_t d) {
    SurfaceCodePatch p;
    p.distance = d;
    std::uint64_t n;
    if (__builtin_mul_overflow(d, d, &n)) capacity_overflow();
    // The patch and then its Python form take a few hundred bytes per data
    // qubit: refuse a distance whose patch the machine cannot hold up front,
    // rather than be killed half way.
    check_allocation(n, 256);

    p.data_qubits.reserve(n);
    for (std::uint64_t q = 0; q < n; ++q) p.data_qubits.push_back(q);

    // Plaquette (r, c) names its top-left corner, r and c running from -1 to
    // d-1. Here ri = r + 1 and ci = c + 1 run from 0 to d, so the corner rows
    // are ri - 1 (on the grid when ri >= 1) and ri (on the grid when ri < d),
    // and likewise for columns. The parity of r + c is the parity of ri + ci.
    for (std::uint64_t ri = 0; ri <= d; ++ri) {
        poll_interrupt();
        for (std::uint64_t ci = 0; ci <= d; ++ci) {
            QubitList support;
            const bool top = ri >= 1, bottom = ri < d, left = ci >= 1, right = ci < d;
            // Corner order: top-left, bottom-left, top-right, bottom-right.
            if (top && left) support.push_back((ri - 1) * d + (ci - 1));
            if (bottom && left) support.push_back(ri * d + (ci - 1));
            if (top && right) support.push_back((ri - 1) * d + ci);
            if (bottom && right) support.push_back(ri * d + ci);
            const bool even = ((ri + ci) & 1) == 0;
            if (support.size() == 4) {
                (even ? p.z_stabilizers : p.x_stabilizers).push_back(std::move(support));
            } else if (support.size() == 2) {
                if (ri == 0 || ri == d) {
                    // top or bottom edge: Z type only
                    if (even) p.z_stabilizers.push_back(std::move(support));
                } else if (!even) {
                    // left or right edge: X type only
                    p.x_stabilizers.push_back(std::move(support));
                }
            }
        }
    }

    p.logical_x.reserve(d);
    p.logical_z.reserve(d);
    for (std::uint64_t k = 0; k < d; ++k) {
        p.logical_x.push_back(k);
        p.logical_z.push_back(k * d);
    }
    return p;
}

}  // namespace talvo::ecc
