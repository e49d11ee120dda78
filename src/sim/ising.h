// Exhaustive analysis of small QUBO and Ising problems. No Python here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "buffer.h"
#include "qubo.h"

namespace talvo::sim {

// Largest problem the exhaustive searches accept.
inline constexpr std::uint64_t kMaxExhaustiveVars = 20;

// Key buffers this long or longer are mapped directly (see LargeBuffer).
inline constexpr std::size_t kSmallKeys = std::size_t{1} << 16;

// Room for `count` keys: on the heap while short, mapped directly from
// kSmallKeys keys on (see LargeBuffer).
class KeyBuffer {
public:
    explicit KeyBuffer(std::size_t count);
    std::int64_t* data() { return large_ ? large_->data() : small_.data(); }
    const std::int64_t* data() const { return large_ ? large_->data() : small_.data(); }

private:
    std::vector<std::int64_t> small_;
    std::unique_ptr<LargeBuffer<std::int64_t>> large_;
};

struct Spectrum {
    explicit Spectrum(std::size_t count) : storage_(count) {}  // room for `count` keys
    std::vector<std::uint8_t> best_assignment;
    double best_energy = 0.0;
    // The distinct energies, ascending, on the 1e-9 grid: energies()[0 ..
    // distinct). Until they are sorted, the same storage holds every
    // assignment's key (keys()).
    std::size_t distinct = 1;
    std::int64_t* keys() { return storage_.data(); }
    const double* energies() const { return reinterpret_cast<const double*>(storage_.data()); }

private:
    KeyBuffer storage_;
};

// Enumerates all 2^n assignments (variable k = bit k of the assignment
// number) and returns the first best assignment, its energy and the ascending
// distinct energies.
Spectrum qubo_energy_spectrum(const QuboTerms& terms, std::uint64_t n_vars);

namespace detail {
// The two phases of qubo_energy_spectrum (n >= 1, indices checked): every
// assignment's key into keys[0 .. 2^n), the first lowest energy and its
// assignment number, and the smallest and largest key written (key_lo,
// key_hi); then the keys sorted ascending, the distinct ones moved to the
// front as their energies (doubles written over them), returning how many
// there are; [lo, hi] is the keys' range if known (lo > hi if not).
void spectrum_scan(const QuboTerms& terms, unsigned n, std::int64_t* keys, double& best, std::uint64_t& best_v,
                   std::int64_t& key_lo, std::int64_t& key_hi);
std::size_t sort_energies(std::int64_t* keys, std::size_t count, std::int64_t lo, std::int64_t hi);
}  // namespace detail

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
