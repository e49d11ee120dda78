// Allocation of surface-code patches under a physical-qubit budget.
// No Python here.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace talvo::ecc {

// One patch: logical variable `logical_var` gets the physical qubits
// physical_start .. physical_end (half-open).
struct PatchAssignment {
    std::uint64_t logical_var = 0;
    std::uint64_t distance = 0;
    std::uint64_t physical_start = 0;
    std::uint64_t physical_end = 0;
};

// Walks `ranked` in the given order, giving each variable a block of
// distance * distance qubits after the previous one, and stops at the first
// block that would end past the budget. A distance whose square does not fit
// in 64 bits faults.
std::vector<PatchAssignment> select_patches(const std::vector<std::pair<std::uint64_t, double>>& ranked,
                                            std::uint64_t budget, std::uint64_t distance);

}  // namespace talvo::ecc
