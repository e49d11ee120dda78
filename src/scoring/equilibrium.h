// One scored co-design iteration. No Python here.
#pragma once

#include <cstdint>
#include <string>

namespace talvo::scoring {

struct EquilibriumScore {
    double kappa = 0.0;       // calibration margin, clamped to [0, 1]
    double confidence = 0.0;  // the validator's confidence, as given
    double energy_gap = 0.0;  // |second best - best|, unclamped
    std::uint64_t iterations = 0;  // position of the iteration in the history
    double kappa_std = 0.0;   // population standard deviation of every kappa of the call
};

// "EquilibriumScore(kappa=0.7000, confidence=1.0000, energy_gap=0.0000,
// kappa_std=0.0000, iterations=3)": four decimals, kappa_std before iterations.
std::string equilibrium_repr(const EquilibriumScore& s);

}  // namespace talvo::scoring
