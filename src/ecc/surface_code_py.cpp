// Python bindings of the surface-code patch.
#include "ecc/surface_code.h"
#include "types_py.h"

namespace talvo::bind {

using ecc::SurfaceCodePatch;
using py::Opt;
using py::to_py;

py::Member& member_SurfaceCodePatch() {
    static py::Class<SurfaceCodePatch> c({
        .name = "SurfaceCodePatch",
        .prose =
        "One logical qubit encoded in a rotated surface code patch.\n\n"
        "Mirrors `talvo.ecc.surface_code.SurfaceCodePatch`, whose module documentation\n"
        "states the construction rule; correctness rests on the package's Python test suite.",
        .attributes = {
            py::readonly<&SurfaceCodePatch::distance>("distance"),
            py::readonly<&SurfaceCodePatch::data_qubits>("data_qubits"),
            py::readonly<&SurfaceCodePatch::x_stabilizers>("x_stabilizers"),
            py::readonly<&SurfaceCodePatch::z_stabilizers>("z_stabilizers"),
            py::readonly<&SurfaceCodePatch::logical_x>("logical_x"),
            py::readonly<&SurfaceCodePatch::logical_z>("logical_z"),
        },
        .repr = [](const SurfaceCodePatch& p) -> std::string {
            return "SurfaceCodePatch(distance=" + std::to_string(p.distance) +
                   ", data_qubits=" + std::to_string(p.data_qubits.size()) + ")";
        },
    });
    return c;
}

py::Member& member_build_surface_code() {
    static py::Function f(
        "build_surface_code",
        "Build a rotated surface code patch encoding one logical qubit.\n\n"
        "Mirrors `talvo.ecc.surface_code.build_surface_code`; only distance 3 is\n"
        "tested there.",
        [](Opt<std::uint64_t, "distance", 3> distance) -> PyObject* {
            return to_py(ecc::build_surface_code(distance.value));
        });
    return f;
}

}  // namespace talvo::bind
