// Python bindings of the exhaustive QUBO and Ising analysis.
#include "boundary.h"
#include "qubo_py.h"
#include "sim/ising_backend.h"

namespace talvo::bind {

using py::Args;
using py::to_py;

py::Member& member_qubo_energy_spectrum() {
    static py::Function f(
        "qubo_energy_spectrum(qubo, n_vars)",
        "Enumerate all 2^n_vars assignments of a QUBO term list.\n\n"
        "Returns (best_assignment, best_energy, energies): the first assignment of lowest\n"
        "energy (variable k is bit k of the assignment number, so ties go to the smallest\n"
        "number), its energy, and the ascending list of distinct energies rounded to 1e-9.\n\n"
        "# Arguments\n"
        "* `qubo` - list of ((i, j), w) terms; E(x) = sum of w * x_i * x_j in list order.\n"
        "* `n_vars` - number of variables, at most 20.\n\n"
        "# Errors\n"
        "SizeViolation when n_vars > 20.",
        [](const Args& a) -> PyObject* {
            auto qubo = a.get<QuboTerms>(0);
            auto n_vars = a.get<std::uint64_t>(1);
            sim::Spectrum s = sim::qubo_energy_spectrum(qubo, n_vars);
            return to_py(std::make_tuple(s.best_assignment, s.best_energy, s.energies));
        });
    return f;
}

}  // namespace talvo::bind
