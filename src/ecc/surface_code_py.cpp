// Python bindings of the surface-code patch.
#include "boundary.h"
#include "ecc/surface_code.h"

namespace talvo::bind {

using ecc::SurfaceCodePatch;
using py::Args;
using py::to_py;

py::Member& member_SurfaceCodePatch() {
    static py::Class<SurfaceCodePatch> c({
        "SurfaceCodePatch",
        nullptr,
        "One logical qubit encoded in a rotated surface code patch.\n\n"
        "Mirrors `talvo.ecc.surface_code.SurfaceCodePatch`, whose module documentation\n"
        "states the construction rule; correctness rests on the package's Python test suite.",
        {
            py::readonly<&SurfaceCodePatch::distance>("distance"),
            py::readonly<&SurfaceCodePatch::data_qubits>("data_qubits"),
            py::readonly<&SurfaceCodePatch::x_stabilizers>("x_stabilizers"),
            py::readonly<&SurfaceCodePatch::z_stabilizers>("z_stabilizers"),
            py::readonly<&SurfaceCodePatch::logical_x>("logical_x"),
            py::readonly<&SurfaceCodePatch::logical_z>("logical_z"),
        },
        {},
        nullptr,
        [](const SurfaceCodePatch& p) -> std::string {
            return "SurfaceCodePatch(distance=" + std::to_string(p.distance) +
                   ", data_qubits=" + std::to_string(p.data_qubits.size()) + ")";
        },
    });
    return c;
}

py::Member& member_build_surface_code() {
    static py::Function f(
        "build_surface_code(distance=3)",
        "Build a rotated surface code patch encoding one logical qubit.\n\n"
        "Mirrors `talvo.ecc.surface_code.build_surface_code`; only distance 3 is\n"
        "tested there.",
        [](const Args& a) -> PyObject* {
            auto distance = a.get_or<std::uint64_t>(0, 3);
            return to_py(ecc::build_surface_code(distance));
        });
    return f;
}

}  // namespace talvo::bind
