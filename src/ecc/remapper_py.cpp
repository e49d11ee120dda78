// Python binding of circuit remapping.
#include "ecc/remapper.h"
#include "types_py.h"

namespace talvo::bind {

using py::Arg;
using py::to_py;

py::Member& member_remap_circuit() {
    static py::Function f(
        "remap_circuit",
        "Rewrite gate operand indices from logical to physical qubits.\n\n"
        "Each gate is a `(gate_name, operand_indices)` tuple. Every operand that names a\n"
        "logical variable with a patch becomes that patch's representative physical qubit,\n"
        "the first qubit of its block (`physical_start`); operands without a patch pass\n"
        "through unchanged. A single linear pass, as it sits on the hot dispatch path.",
        [](Arg<std::vector<ecc::Gate>, "circuit"> circuit,
           Arg<std::vector<ecc::PatchAssignment>, "assignments"> assignments) -> PyObject* {
            ecc::remap_circuit(circuit.value, assignments.value);
            return to_py(circuit.value);
        });
    return f;
}

}  // namespace talvo::bind
