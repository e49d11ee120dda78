// Rewriting of gate operands from logical variables to physical qubits.
// No Python here.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ecc/selector.h"

namespace talvo::ecc {

// (gate_name, operand_indices)
using Gate = std::pair<std::string, std::vector<std::uint64_t>>;

// Replaces, in place, every operand that names a variable with a patch by the
// first qubit of its block; the last assignment of a variable decides.
void remap_circuit(std::vector<Gate>& circuit, const std::vector<PatchAssignment>& assignments);

}  // namespace talvo::ecc
