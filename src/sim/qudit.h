// A register of qudits. No Python here.
#pragma once

#include <cstdint>

namespace talvo::sim {

// `levels` levels per site over `num_sites` sites; levels is kept but no
// operation reads it.
struct QuditSimulator {
    std::uint64_t levels;
    std::uint64_t num_sites;
};

// Every site's level after simulate() is 0, the ground level. Faults with
// "capacity overflow" when num_sites 64-bit values cannot be one allocation
// (2^60 sites or more).
void check_qudit_capacity(const QuditSimulator& sim);

}  // namespace talvo::sim
