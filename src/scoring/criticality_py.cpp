// Python binding of the criticality ranking.
#include "scoring/criticality.h"
#include "types_py.h"

namespace talvo::bind {

using py::Arg;
using py::to_py;

py::Member& member_qubo_criticality() {
    static py::Function f(
        "qubo_criticality",
        "Rank QUBO variables by criticality for ECC patch-budget allocation.\n\n"
        "The criticality of a variable is the sum of |w| over the QUBO terms that touch it:\n"
        "a linear term counts once, a quadratic term once for each of its two variables.\n"
        "A bit flip on a heavily weighted variable is the likeliest to push the solver into\n"
        "a wrong basin, so those variables are the first candidates for surface-code\n"
        "protection when physical qubits are scarce.\n\n"
        "# Arguments\n"
        "* `qubo` - list of ((i, j), w) terms, the term-list convention of the package's other\n"
        "  QUBO code; terms with an index `>= n_vars` are ignored.\n"
        "* `n_vars` - number of logical variables.\n\n"
        "# Returns\n"
        "A `(qubit_idx, weight)` pair for every index 0..n_vars, sorted descending by weight\n"
        "(equal weights in index order); untouched qubits get 0.0 and sort last.",
        [](Arg<QuboTerms, "qubo"> qubo, Arg<std::uint64_t, "n_vars"> n_vars) -> PyObject* {
            return to_py(scoring::qubo_criticality(qubo.value, n_vars.value));
        });
    return f;
}

}  // namespace talvo::bind
