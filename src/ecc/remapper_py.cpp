// Python binding of circuit remapping.
#include "boundary.h"
#include "ecc/remapper.h"

namespace talvo::bind {

using py::Args;
using py::to_py;

py::Member& member_remap_circuit() {
    static py::Function f(
        "remap_circuit(circuit, assignments)",
        "Rewrite gate operand indices from logical to physical qubits.\n\n"
        "Each gate is a `(gate_name, operand_indices)` tuple. Every operand that names a\n"
        "logical variable with a patch becomes that patch's representative physical qubit,\n"
        "the first qubit of its block (`physical_start`); operands without a patch pass\n"
        "through unchanged. A single linear pass, as it sits on the hot dispatch path.",
        [](const Args& a) -> PyObject* {
            auto circuit = a.get<std::vector<ecc::Gate>>(0);
            auto assignments = a.get<std::vector<ecc::PatchAssignment>>(1);
            ecc::remap_circuit(circuit, assignments);
            return to_py(circuit);
        });
    return f;
}

}  // namespace talvo::bind
