// Python bindings of the exhaustive QUBO and Ising analysis.
#include "sim/ising.h"
#include "types_py.h"

namespace talvo::bind {

using py::Arg;
using py::to_py;

namespace {

// A new list of the n doubles at v, built by memoryview.tolist(): the
// interpreter's own loop, one new float per element and no intermediate
// copy. The views are released before returning, so nothing refers to v
// afterwards.
py::Ref float_list(const double* v, std::size_t n) {
    constexpr int kRead = 0x100;  // PyBUF_READ, which the 3.10 limited API headers do not define
    char* bytes = reinterpret_cast<char*>(const_cast<double*>(v));
    py::Ref raw = py::own(PyMemoryView_FromMemory(bytes, static_cast<Py_ssize_t>(n * sizeof(double)), kRead));
    py::Ref view = py::own(PyObject_CallMethod(raw.get(), "cast", "s", "d"));
    py::Ref list = py::own(PyObject_CallMethod(view.get(), "tolist", nullptr));
    py::Ref released = py::own(PyObject_CallMethod(view.get(), "release", nullptr));
    released = py::own(PyObject_CallMethod(raw.get(), "release", nullptr));
    return list;
}

}  // namespace

py::Member& member_qubo_energy_spectrum() {
    static py::Function f(
        "qubo_energy_spectrum",
        "Enumerate all 2^n_vars assignments of a QUBO term list.\n\n"
        "Returns (best_assignment, best_energy, energies): the first assignment of lowest\n"
        "energy (variable k is bit k of the assignment number, so ties go to the smallest\n"
        "number), its energy, and the ascending list of distinct energies rounded to 1e-9.\n\n"
        "# Arguments\n"
        "* `qubo` - list of ((i, j), w) terms; E(x) = sum of w * x_i * x_j in list order.\n"
        "* `n_vars` - number of variables, at most 20.\n\n"
        "# Errors\n"
        "SizeViolation when n_vars > 20.",
        [](Arg<QuboTerms, "qubo"> qubo, Arg<std::uint64_t, "n_vars"> n_vars) -> PyObject* {
            sim::Spectrum s = sim::qubo_energy_spectrum(qubo.value, n_vars.value);
            py::Ref energies = float_list(s.energies(), s.distinct);
            return to_py(std::make_tuple(s.best_assignment, s.best_energy, std::move(energies)));
        });
    return f;
}

py::Member& member_exact_ising_norm() {
    static py::Function f(
        "exact_ising_norm",
        "Exact operator norm of an Ising error Hamiltonian by exhaustive enumeration.\n\n"
        "Returns max over all 2^n_sites spin configurations of |dE(s)|, where\n"
        "dE(s) = sum of dh_i * s_i + sum of dJ_ij * s_i * s_j and site k has spin +1 when\n"
        "bit k of the configuration number is set, -1 otherwise. The linear sum is added\n"
        "before the quadratic sum, each in list order.\n\n"
        "# Arguments\n"
        "* `dh` - list of (i, h) linear error terms.\n"
        "* `dj` - list of ((i, j), J) coupling error terms; i == j contributes J.\n"
        "* `n_sites` - number of sites, at most 20.\n\n"
        "# Errors\n"
        "SizeViolation when n_sites > 20.",
        [](Arg<sim::LinearTerms, "dh"> dh, Arg<QuboTerms, "dj"> dj, Arg<std::uint64_t, "n_sites"> n_sites) -> PyObject* {
            return to_py(sim::exact_ising_norm(dh.value, dj.value, n_sites.value));
        });
    return f;
}

py::Member& member_IsingSimulator() {
    static py::Class<sim::IsingSimulator> c({
        .name = "IsingSimulator",
        .methods = {py::method("solve_exact", "",
                               [](const sim::IsingSimulator&, Arg<sim::LogicalGraph, "graph"> graph) -> PyObject* {
                                   return to_py(sim::solve_exact(graph.value));
                               })},
        .ctor = py::constructor([] { return sim::IsingSimulator{}; }),
    });
    return c;
}

py::Member& member_LogicalGraph() {
    static py::Class<sim::LogicalGraph> c({
        .name = "LogicalGraph",
        .attributes = {py::writable<&sim::LogicalGraph::variables>("variables"),
                       py::writable<&sim::LogicalGraph::interactions>("interactions")},
        .ctor = py::constructor([](Arg<std::vector<sim::Variable>, "variables"> variables,
                                   Arg<std::vector<sim::Interaction>, "interactions"> interactions) {
            return sim::LogicalGraph{std::move(variables.value), std::move(interactions.value)};
        }),
    });
    return c;
}

py::Member& member_Variable() {
    static py::Class<sim::Variable> c({
        .name = "Variable",
        .attributes = {py::writable<&sim::Variable::name>("name"), py::writable<&sim::Variable::domain>("domain")},
        .ctor = py::constructor([](Arg<std::string, "name"> name, Arg<std::string, "domain"> domain) {
            return sim::Variable{std::move(name.value), std::move(domain.value)};
        }),
    });
    return c;
}

py::Member& member_Interaction() {
    static py::Class<sim::Interaction> c({
        .name = "Interaction",
        .attributes = {py::writable<&sim::Interaction::i>("i"), py::writable<&sim::Interaction::j>("j"),
                       py::writable<&sim::Interaction::weight>("weight")},
        .ctor = py::constructor(
            [](Arg<std::string, "i"> i, Arg<std::string, "j"> j, Arg<double, "weight"> weight) {
                return sim::Interaction{std::move(i.value), std::move(j.value), weight.value};
            }),
    });
    return c;
}

}  // namespace talvo::bind
