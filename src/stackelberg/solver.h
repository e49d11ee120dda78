// The Stackelberg co-design solver: scores a history of validation runs and
// recommends the next chain strength. No Python here.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "scoring/equilibrium.h"

namespace talvo::stackelberg {

struct StackelbergSolver {
    double target_kappa = 0.0;
    std::uint64_t max_iterations = 0;  // reported only; solve scores every entry
    double learning_rate = 0.0;
};

// kappa of one iteration i, with confidence c, energy gap and chain-break
// fraction b (already read from the lists).
double score_kappa(double c, double gap, double b);

struct Recommendation {
    double chain_strength;
    scoring::EquilibriumScore best;
};

// Scores iteration 0 .. len(confidences)-1 and recommends the next chain
// strength. The other three lists must be at least as long as confidences
// (entries beyond are ignored); an empty history, a short list or a NaN kappa
// met while choosing the best iteration is an internal fault.
Recommendation solve(const StackelbergSolver& solver, const std::vector<double>& confidences,
                     const std::vector<double>& best_energies, const std::vector<double>& second_best_energies,
                     const std::vector<double>& chain_break_fractions, double current_chain_strength);

}  // namespace talvo::stackelberg
