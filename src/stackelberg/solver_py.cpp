// Python class of the Stackelberg co-design solver.
#include "boundary.h"
#include "stackelberg/solver.h"

namespace talvo::bind {

using py::Args;
using stackelberg::StackelbergSolver;

py::Member& member_StackelbergSolver() {
    static py::Class<StackelbergSolver> c({
        "StackelbergSolver",
        "(target_kappa, max_iterations, learning_rate)",
        "Stackelberg co-design solver.\n\n"
        "Scores a history of validation runs and recommends the chain-strength adjustment\n"
        "that drives the encoding toward the target calibration margin \xce\xba. When \xce\xba oscillates\n"
        "across iterations, the effective learning rate is reduced in proportion to the\n"
        "standard deviation of \xce\xba, so the recommendation does not overshoot.",
        {
            py::readonly<&StackelbergSolver::target_kappa>("target_kappa", "Convergence target for \xce\xba."),
            py::readonly<&StackelbergSolver::max_iterations>("max_iterations",
                                                             "Maximum number of iterations before stopping."),
            py::readonly<&StackelbergSolver::learning_rate>(
                "learning_rate", "Base multiplicative step size for chain-strength adjustment."),
        },
        {
            {"solve($self, confidences, best_energies, second_best_energies, chain_break_fractions, "
             "current_chain_strength)",
             "Score each iteration and return `(recommended_chain_strength, best_score)`.\n\n"
             "The effective learning rate is reduced when \xce\xba oscillates:\n\n"
             "    stability_penalty = (kappa_std * 5.0).clamp(0.0, 0.9)\n"
             "    effective_lr      = learning_rate * (1.0 - stability_penalty)\n\n"
             "If the best \xce\xba already meets `target_kappa`, the chain strength is returned\n"
             "unchanged; otherwise it is scaled up by `effective_lr * (1 - best_kappa)`.",
             [](const StackelbergSolver& self, const Args& a) -> PyObject* {
                 auto confidences = a.get<std::vector<double>>(0);
                 auto best = a.get<std::vector<double>>(1);
                 auto second = a.get<std::vector<double>>(2);
                 auto breaks = a.get<std::vector<double>>(3);
                 auto current = a.get<double>(4);
                 auto r = stackelberg::solve(self, confidences, best, second, breaks, current);
                 return py::to_py(std::make_pair(r.chain_strength, r.best));
             }},
        },
        [](const Args& a) -> StackelbergSolver {
            auto target = a.get<double>(0);
            auto max_iterations = a.get<std::uint64_t>(1);
            auto rate = a.get<double>(2);
            return {target, max_iterations, rate};
        },
        nullptr,
    });
    return c;
}

}  // namespace talvo::bind
