#include "stackelberg/solver.h"

#include <cmath>

#include "errors.h"

namespace talvo::stackelberg {

namespace {

// Clamp that leaves a NaN as it is.
double clamp(double x, double lo, double hi) {
    if (x < lo) x = lo;
    if (x > hi) x = hi;
    return x;
}

}  // namespace

double score_kappa(double c, double gap, double b) {
    b = clamp(b, 0.0, 1.0);
    // The gap term saturates at 10; a NaN gap counts as saturated.
    double g = (std::isnan(gap) || gap > 10.0 ? 10.0 : gap) / 10.0;
    double kappa = (0.5 * c + 0.3 * g) + 0.2 * (1.0 - b);
    return clamp(kappa, 0.0, 1.0);
}

Recommendation solve(const StackelbergSolver& solver, const std::vector<double>& confidences,
                     const std::vector<double>& best_energies, const std::vector<double>& second_best_energies,
                     const std::vector<double>& chain_break_fractions, double current_chain_strength) {
    const std::size_t n = confidences.size();
    std::vector<scoring::EquilibriumScore> scores;
    scores.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        check_index(i, best_energies.size());
        check_index(i, second_best_energies.size());
        check_index(i, chain_break_fractions.size());
        double c = confidences[i];
        double gap = std::fabs(second_best_energies[i] - best_energies[i]);
        scores.push_back({score_kappa(c, gap, chain_break_fractions[i]), c, gap, i, 0.0});
    }

    double std_dev = 0.0;
    std::size_t best = 0;
    if (n >= 2) {
        double sum = 0.0;
        for (const auto& s : scores) sum += s.kappa;
        const double mean = sum / static_cast<double>(n);
        double squares = 0.0;
        for (const auto& s : scores) {
            double d = s.kappa - mean;
            squares += d * d;
        }
        std_dev = std::sqrt(squares / static_cast<double>(n));
        // Among equal maxima the last one wins.
        for (std::size_t k = 1; k < n; ++k) {
            double a = scores[k].kappa, b = scores[best].kappa;
            if (std::isnan(a) || std::isnan(b)) panic("kappa values cannot be ordered: NaN met while choosing the best iteration");
            if (a >= b) best = k;
        }
    }
    if (best >= scores.size()) index_fault(scores.size(), best);
    for (auto& s : scores) s.kappa_std = std_dev;

    const double stability_penalty = clamp(5.0 * std_dev, 0.0, 0.9);
    const double effective_lr = solver.learning_rate * (1.0 - stability_penalty);
    const scoring::EquilibriumScore& top = scores[best];
    double recommended = current_chain_strength;
    if (!(top.kappa >= solver.target_kappa)) {
        recommended = current_chain_strength * ((1.0 - top.kappa) * effective_lr + 1.0);
    }
    return {recommended, top};
}

}  // namespace talvo::stackelberg
