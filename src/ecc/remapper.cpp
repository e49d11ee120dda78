#include "ecc/remapper.h"

#include <unordered_map>

namespace talvo::ecc {

void remap_circuit(std::vector<Gate>& circuit, const std::vector<PatchAssignment>& assignments) {
    if (assignments.empty()) return;
    std::unordered_map<std::uint64_t, std::uint64_t> start;
    start.reserve(assignments.size());
    for (const PatchAssignment& a : assignments) start[a.logical_var] = a.physical_start;
    for (Gate& gate : circuit) {
        for (std::uint64_t& x : gate.second) {
            auto it = start.find(x);
            if (it != start.end()) x = it->second;
        }
    }
}

}  // namespace talvo::ecc
