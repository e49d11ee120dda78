// Exhaustive analysis of small QUBO and Ising problems. No Python here.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
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

// Enumerates all 2^n assignments (variable k = bit k of the assignment
// number) and returns the first best assignment, its energy and the ascending
// distinct energies.
Spectrum qubo_energy_spectrum(const QuboTerms& terms, std::uint64_t n_vars);

// Linear error terms (site, h) of an Ising error Hamiltonian.
using LinearTerms = std::vector<std::pair<std::uint64_t, double>>;

// max over all 2^n spin configurations of |dE(s)|, where site k has spin +1
// when bit k of the configuration number is set and -1 otherwise. Each dE
// adds s_i * h over `dh` in list order, then (J * s_i) * s_j over `dj` in list
// order, from +0.0. NaN energies never count; the result starts at 0.0.
double exact_ising_norm(const LinearTerms& dh, const QuboTerms& dj, std::uint64_t n_sites);

// The named-variable problem graph. Interactions refer to variables by name.
struct Variable {
    std::string name;
    std::string domain;  // free-form label, never interpreted
};

struct Interaction {
    std::string i;
    std::string j;
    double weight = 0.0;
};

struct LogicalGraph {
    std::vector<Variable> variables;        // position k is variable k of every result
    std::vector<Interaction> interactions;  // in summation order
};

struct IsingSimulator {};

// Position of each variable name: a later variable with the same name replaces
// an earlier one, so only the last of several equal names is reachable.
class NameIndex {
public:
    explicit NameIndex(const std::vector<Variable>& variables);
    // The position of `name`, or -1 when no variable has it.
    std::int64_t find(const std::string& name) const;

private:
    std::unordered_map<std::string, std::uint64_t> index_;
};

// The spins (+1/-1) of the first configuration of lowest energy
// E = sum of weight * s_i * s_j (weight * s_i for an interaction of a variable
// with itself) over the interactions whose names both resolve.
std::vector<std::int8_t> solve_exact(const LogicalGraph& graph);

}  // namespace talvo::sim
