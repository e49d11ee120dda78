// Python bindings of the patch allocation.
#include "ecc/selector.h"
#include "types_py.h"

namespace talvo::bind {

using ecc::PatchAssignment;
using py::Arg;
using py::to_py;

py::Member& member_PatchAssignment() {
    static py::Class<PatchAssignment> c({
        .name = "PatchAssignment",
        .prose =
        "A QEC patch allocation for one logical variable.\n\n"
        "`physical_start..physical_end` is the contiguous, half-open block of physical\n"
        "qubits reserved for that variable's surface-code patch.",
        .attributes = {
            py::readonly<&PatchAssignment::logical_var>("logical_var"),
            py::readonly<&PatchAssignment::distance>("distance"),
            py::readonly<&PatchAssignment::physical_start>("physical_start"),
            py::readonly<&PatchAssignment::physical_end>("physical_end"),
        },
        .repr = [](const PatchAssignment& p) -> std::string {
            return "PatchAssignment(logical_var=" + std::to_string(p.logical_var) +
                   ", distance=" + std::to_string(p.distance) + ", physical_qubits=" +
                   std::to_string(p.physical_start) + ".." + std::to_string(p.physical_end) + ")";
        },
    });
    return c;
}

py::Member& member_select_patches() {
    static py::Function f(
        "select_patches",
        "Greedily assign surface-code patches to the most critical variables until the\n"
        "physical-qubit budget runs out.\n\n"
        "`ranked` is expected in descending criticality, as `qubo_criticality` returns it,\n"
        "and is not re-sorted. Each patch costs `distance * distance` physical qubits and\n"
        "takes the next contiguous block; a variable that does not fit is skipped while\n"
        "later ones are still tried.",
        [](Arg<std::vector<std::pair<std::uint64_t, double>>, "ranked"> ranked,
           Arg<std::uint64_t, "physical_qubit_budget"> budget, Arg<std::uint64_t, "distance"> distance) -> PyObject* {
            return to_py(ecc::select_patches(ranked.value, budget.value, distance.value));
        });
    return f;
}

}  // namespace talvo::bind
