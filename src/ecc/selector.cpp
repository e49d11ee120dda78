#include "ecc/selector.h"

#include <string>

#include "errors.h"

namespace talvo::ecc {

std::vector<PatchAssignment> select_patches(const std::vector<std::pair<std::uint64_t, double>>& ranked,
                                            std::uint64_t budget, std::uint64_t distance) {
    std::uint64_t cost;
    if (__builtin_mul_overflow(distance, distance, &cost))
        panic("patch cost overflow: distance " + std::to_string(distance) +
              " squared does not fit in 64 bits");
    std::vector<PatchAssignment> out;
    if (cost == 0) return out;
    std::uint64_t used = 0;
    for (const auto& entry : ranked) {
        // A block end past 2^64 - 1 is past any budget too.
        std::uint64_t end;
        if (__builtin_add_overflow(used, cost, &end) || end > budget) break;
        out.push_back({entry.first, distance, used, end});
        used = end;
    }
    return out;
}

}  // namespace talvo::ecc
