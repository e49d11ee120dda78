#include "stackelberg/solver.h"

#include <algorithm>
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
    const double g = (gap <= 10.0 ? gap : 10.0) / 10.0;
    const double kappa = (0.5 * c + 0.3 * g) + 0.2 * (1.0 - b);
    return clamp(kappa, 0.0, 1.0);
}

Recommendation solve(const StackelbergSolver& solver, const std::vector<double>& confidences,
                     const std::vector<double>& best_energies, const std::vector<double>& second_best_energies,
                     const std::vector<double>& chain_break_fractions, double current_chain_strength) {
    const std::size_t n = confidences.size();
    // Iteration i reads the three other lists in this order, so the first
    // short list at the first index it lacks is the fault.
    std::size_t reach = n;
    for (const auto* list : {&best_energies, &second_best_energies, &chain_break_fractions}) {
        reach = std::min(reach, list->size());
    }
    if (reach < n) {
        for (const auto* list : {&best_energies, &second_best_energies, &chain_break_fractions}) {
            if (list->size() == reach) index_fault(reach, reach);
        }
    }
    if (n == 0) index_fault(0, 0);  // no score to pick

    std::vector<double> kappas(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double gap = std::fabs(second_best_energies[i] - best_energies[i]);
        kappas[i] = score_kappa(confidences[i], gap, chain_break_fractions[i]);
    }

    double std_dev = 0.0;
    std::size_t best = 0;
    if (n >= 2) {
        double sum = 0.0;
        for (double k : kappas) sum += k;
        const double mean = sum / static_cast<double>(n);
        double squares = 0.0;
        for (double k : kappas) {
            const double d = k - mean;
            squares += d * d;
        }
        std_dev = std::sqrt(squares / static_cast<double>(n));
        // Every kappa takes part in a comparison, so one NaN anywhere leaves
        // the best iteration undefined.
        for (double k : kappas) {
            if (std::isnan(k)) unordered_fault();
        }
        // Among equal maxima the last one wins.
        double top = kappas[0];
        for (std::size_t k = 1; k < n; ++k) {
            if (kappas[k] >= top) {
                top = kappas[k];
                best = k;
            }
        }
    }

    const double stability_penalty = clamp(5.0 * std_dev, 0.0, 0.9);
    const double effective_lr = solver.learning_rate * (1.0 - stability_penalty);
    const double kappa = kappas[best];
    double recommended = current_chain_strength;
    if (!(kappa >= solver.target_kappa)) {
        recommended = current_chain_strength * ((1.0 - kappa) * effective_lr + 1.0);
    }
    const double gap = std::fabs(second_best_energies[best] - best_energies[best]);
    return {recommended, {kappa, confidences[best], gap, best, std_dev}};
}

}  // namespace talvo::stackelberg
