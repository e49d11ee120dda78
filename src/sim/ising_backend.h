// Exhaustive analysis of small QUBO and Ising problems. No Python here.
#pragma once

#include <cstdint>
#include <vector>

#include "qubo.h"

namespace talvo::sim {

// Largest problem the exhaustive searches accept.
inline constexpr std::uint64_t kMaxExhaustiveVars = 20;

struct Spectrum {
    std::vector<std::uint8_t> best_assignment;
    double best_energy;
    std::vector<double> energies;  // distinct energies on the 1e-9 grid, ascending
};

// Spectrum identity of an energy: round(E * 1e9), halves away from zero,
// saturating at the 64-bit range, NaN -> 0.
std::int64_t energy_key(double e);

// Enumerates all 2^n assignments (variable k = bit k of the assignment
// number) and returns the first best assignment, its energy and the ascending
// distinct energies.
Spectrum qubo_energy_spectrum(const QuboTerms& terms, std::uint64_t n_vars);

}  // namespace talvo::sim
