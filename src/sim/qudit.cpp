#include "sim/qudit.h"

#include "errors.h"

namespace talvo::sim {

void check_qudit_capacity(const QuditSimulator& sim) {
    // num_sites * 8 bytes must stay at or below 2^63 - 8.
    if (sim.num_sites >= (std::uint64_t{1} << 60)) capacity_overflow();
}

}  // namespace talvo::sim
