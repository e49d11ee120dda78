// Python class of the Stackelberg co-design solver.
#include "stackelberg/solver.h"
#include "types_py.h"

namespace talvo::bind {

using py::Arg;
using stackelberg::StackelbergSolver;

py::Member& member_StackelbergSolver() {
    static py::Class<StackelbergSolver> c({
        .name = "StackelbergSolver",
        .prose =
        "Stackelberg co-design solver.\n\n"
        "Scores a history of validation runs and recommends the chain-strength adjustment\n"
        "that drives the encoding toward the target calibration margin \xce\xba. When \xce\xba oscillates\n"
        "across iterations, the effective learning rate is reduced in proportion to the\n"
        "standard deviation of \xce\xba, so the recommendation does not overshoot.",
        .attributes = {
            py::readonly<&StackelbergSolver::target_kappa>("target_kappa", "Convergence target for \xce\xba."),
            py::readonly<&StackelbergSolver::max_iterations>("max_iterations",
                                                             "Maximum number of iterations before stopping."),
            py::readonly<&StackelbergSolver::learning_rate>(
                "learning_rate", "Base multiplicative step size for chain-strength adjustment."),
        },
        .methods = {py::method(
            "solve",
             "Score each iteration and return `(recommended_chain_strength, best_score)`.\n\n"
             "The effective learning rate is reduced when \xce\xba oscillates:\n\n"
             "    stability_penalty = (kappa_std * 5.0).clamp(0.0, 0.9)\n"
             "    effective_lr      = learning_rate * (1.0 - stability_penalty)\n\n"
             "If the best \xce\xba already meets `target_kappa`, the chain strength is returned\n"
             "unchanged; otherwise it is scaled up by `effective_lr * (1 - best_kappa)`.",
             [](const StackelbergSolver& self, Arg<std::vector<double>, "confidences"> confidences,
                Arg<std::vector<double>, "best_energies"> best, Arg<std::vector<double>, "second_best_energies"> second,
                Arg<std::vector<double>, "chain_break_fractions"> breaks,
                Arg<double, "current_chain_strength"> current) -> PyObject* {
                 auto r = stackelberg::solve(self, confidences.value, best.value, second.value, breaks.value,
                                             current.value);
                 return py::to_py(std::make_pair(r.chain_strength, r.best));
             })},
        .ctor = py::constructor([](Arg<double, "target_kappa"> target, Arg<std::uint64_t, "max_iterations"> max_iterations,
                                   Arg<double, "learning_rate"> rate) {
            return StackelbergSolver{target.value, max_iterations.value, rate.value};
        }),
    });
    return c;
}

}  // namespace talvo::bind
