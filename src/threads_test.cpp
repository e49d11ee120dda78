// Calls running at once on several threads: every kernel called by several
// threads together gives, bit for bit, what it gives called alone, faults
// included; and several threads submitting to the shared pool together each
// get their own results and their own first error, one submitter's fault
// cancelling nothing of another's work. Built with -fsanitize=thread by
// scripts/tsan.sh, where any data race fails the run.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "analog/neutral_atom.h"
#include "analog/photonic.h"
#include "cutting/reconstruct.h"
#include "delta/delta.h"
#include "ecc/decoder.h"
#include "ecc/remapper.h"
#include "ecc/selector.h"
#include "ecc/surface_code.h"
#include "errors.h"
#include "frontends/vrp.h"
#include "graph_partition/stoer_wagner.h"
#include "pool.h"
#include "runs/runs.h"
#include "scoring/criticality.h"
#include "sim/ising.h"
#include "sim/statevector.h"
#include "stackelberg/solver.h"
#include "testing/check.h"

namespace {

using namespace talvo;

// A result as text: floats by their bits, so equal text is equal bits.
struct Digest {
    std::string text;
    void add(double x) {
        std::uint64_t bits;
        std::memcpy(&bits, &x, sizeof bits);
        add(bits);
    }
    void add(std::uint64_t v) { text += std::to_string(v) + ","; }
    void add(const std::string& s) { text += s + ";"; }
    template <class T>
    void add(const std::vector<T>& v) {
        add(static_cast<std::uint64_t>(v.size()));
        for (const T& x : v) add(x);
    }
    void add(std::uint8_t v) { add(static_cast<std::uint64_t>(v)); }
    void add(std::int8_t v) { add(static_cast<std::uint64_t>(static_cast<std::uint8_t>(v))); }
    void add(std::uint32_t v) { add(static_cast<std::uint64_t>(v)); }
};

QuboTerms random_qubo(std::mt19937_64& rng, unsigned n, std::size_t count) {
    QuboTerms q;
    std::uniform_real_distribution<double> w(-2.0, 2.0);
    for (std::size_t k = 0; k < count; ++k) q.push_back({rng() % n, rng() % n, w(rng)});
    q.push_back({0, 1, -0.0});  // a signed zero in the sums
    return q;
}

struct Kernel {
    std::string name;
    std::function<void(Digest&)> run;
};

// Every kernel of the module on small inputs (the sanitizer makes each step
// many times slower), and a few calls that fault, on the pool among them.
std::vector<Kernel> kernels() {
    std::mt19937_64 rng(29);
    auto qubo = std::make_shared<QuboTerms>(random_qubo(rng, 10, 40));
    std::vector<Kernel> out;
    out.push_back({"spectrum", [qubo](Digest& d) {
                       sim::Spectrum s = sim::qubo_energy_spectrum(*qubo, 10);
                       d.add(s.best_assignment);
                       d.add(s.best_energy);
                       for (std::size_t k = 0; k < s.distinct; ++k) d.add(s.energies()[k]);
                   }});
    out.push_back({"ising_norm", [qubo](Digest& d) {
                       d.add(sim::exact_ising_norm({{0, 0.5}, {3, -0.25}, {3, 0.0}}, *qubo, 10));
                   }});
    out.push_back({"solve_exact", [](Digest& d) {
                       sim::LogicalGraph g;
                       for (int k = 0; k < 9; ++k) g.variables.push_back({"v" + std::to_string(k), "spin"});
                       for (int k = 0; k < 20; ++k)
                           g.interactions.push_back({"v" + std::to_string(k % 9), "v" + std::to_string((k * 4 + 1) % 9),
                                                     0.25 * (k % 5) - 0.5});
                       d.add(sim::solve_exact(g));
                   }});
    out.push_back({"runs", [qubo](Digest& d) {
                       runs::NoisyRuns r = runs::simulate_qubo_runs(*qubo, {1, 0, 1, 1, 0, 0, 1, 0, 1, 1}, 300, 0.3, 7);
                       d.add(r.bits);
                       d.add(r.energies);
                   }});
    out.push_back({"runs_fault", [qubo](Digest& d) {
                       QuboTerms bad = *qubo;
                       bad.push_back({2, 12, 1.0});
                       bad.push_back({11, 0, 1.0});
                       try {
                           runs::simulate_qubo_runs(bad, std::vector<std::uint8_t>(10, 1), 200, 0.5, 1);
                       } catch (const Panic& e) {
                           d.add(e.message);
                       }
                   }});
    out.push_back({"statevector", [](Digest& d) {
                       std::vector<sim::Instruction> c;
                       for (std::uint64_t q = 0; q < 9; ++q) {
                           c.emplace_back("h", std::vector<std::uint64_t>{q}, std::vector<double>{});
                           c.emplace_back("rx", std::vector<std::uint64_t>{(q * 5) % 9}, std::vector<double>{0.1 * q});
                           c.emplace_back("cx", std::vector<std::uint64_t>{q, (q + 1) % 9}, std::vector<double>{});
                       }
                       std::vector<sim::GateOp> ops = sim::compile_circuit(c, 9);
                       sim::StateBuffer state(9);
                       sim::apply_circuit(state.data(), 9, ops);
                       for (std::size_t k = 0; k < 2 * (std::size_t{1} << 9); ++k) d.add(state.data()[k]);
                   }});
    out.push_back({"decoder", [](Digest& d) {
                       std::vector<ecc::QubitList> z{{0, 1, 2}, {2, 3, 4}, {4, 5, 6}, {6, 7, 0}, {1, 5}};
                       std::vector<ecc::Mask> masks = ecc::stabilizer_masks(9, z);
                       ecc::DecoderTable table(9, masks);
                       for (std::size_t k = 0; k < table.size(); ++k) {
                           d.add(table.syndrome(k));
                           d.add(table.pattern(k));
                       }
                       d.add(ecc::logical_failure_probability(9, z, {0, 3, 6}, 0.05));
                   }});
    out.push_back({"surface_code", [](Digest& d) {
                       ecc::SurfaceCodePatch p = ecc::build_surface_code(5);
                       d.add(p.data_qubits);
                       for (const auto& s : p.x_stabilizers) d.add(s);
                       for (const auto& s : p.z_stabilizers) d.add(s);
                       d.add(p.logical_x);
                       d.add(p.logical_z);
                   }});
    out.push_back({"criticality_patches_remap", [qubo](Digest& d) {
                       scoring::Ranked ranked = scoring::qubo_criticality(*qubo, 12);
                       for (const auto& [v, c] : ranked) {
                           d.add(v);
                           d.add(c);
                       }
                       std::vector<ecc::PatchAssignment> patches = ecc::select_patches(ranked, 200, 3);
                       for (const auto& p : patches) d.add(std::vector<std::uint64_t>{p.logical_var, p.distance, p.physical_start, p.physical_end});
                       std::vector<ecc::Gate> circuit{{"h", {0}}, {"cx", {1, 2}}, {"rz", {3}}};
                       try {
                           ecc::remap_circuit(circuit, patches);
                           for (const auto& [name, qubits] : circuit) {
                               d.add(name);
                               d.add(qubits);
                           }
                       } catch (const Error& e) {
                           d.add(e.message);
                       }
                   }});
    out.push_back({"stackelberg", [](Digest& d) {
                       stackelberg::Recommendation r = stackelberg::solve({0.9, 100, 0.05}, {0.5, 0.75, 0.25},
                                                                          {-3.0, -2.5, -1.0}, {-2.0, -2.5, 0.0},
                                                                          {0.1, 0.0, 0.3}, 1.5);
                       d.add(r.chain_strength);
                       d.add(r.best.kappa);
                       d.add(r.best.confidence);
                       d.add(r.best.energy_gap);
                   }});
    out.push_back({"vrp", [](Digest& d) {
                       std::vector<std::vector<double>> dist(5, std::vector<double>(5));
                       for (std::size_t i = 0; i < 5; ++i)
                           for (std::size_t j = 0; j < 5; ++j) dist[i][j] = 0.1 * static_cast<double>((i * 7 + j * 3) % 11);
                       frontends::VrpTerms t = frontends::vrp_qubo_terms(dist, 2.0, 0.5);
                       d.add(t.names);
                       t.for_each_entry([&](const frontends::VrpEntry& e) {
                           d.add(e.first);
                           d.add(e.second);
                           d.add(e.weight);
                       });
                   }});
    out.push_back({"bisect", [](Digest& d) {
                       std::vector<graph_partition::Edge> edges;
                       for (std::uint64_t k = 0; k < 40; ++k) edges.emplace_back(k % 14, (k * 5 + 3) % 14, 0.5 + 0.125 * static_cast<double>(k % 7));
                       graph_partition::Bisection b = graph_partition::stoer_wagner_bisect(edges, 14);
                       d.add(b.cut_weight);
                       d.add(b.side_a);
                   }});
    out.push_back({"reconstruct", [](Digest& d) {
                       std::vector<cutting::SubcircuitSampleCounts> counts;
                       std::vector<cutting::SampleCoefficient> coefficients;
                       for (std::uint64_t s = 0; s < 300; ++s) {
                           for (const char* label : {"A", "B"}) {
                               auto body = std::make_shared<cutting::SampleCounts>();
                               body->subcircuit_label = label;
                               std::vector<std::pair<std::string, std::uint64_t>> h{{"01", s % 5 + 1}, {"11", 3}, {"00", s % 3}};
                               body->counts = cutting::Histogram(h);
                               body->sample_index = s;
                               body->shots = s % 5 + 4 + s % 3;
                               counts.push_back({std::move(body)});
                           }
                           coefficients.push_back({s, 1.0 / static_cast<double>(s + 1) - 0.01});
                       }
                       d.add(cutting::reconstruct_expectation(counts, coefficients, {"A", "B"}));
                       // Zero shots in two samples: the first in coefficient order is named.
                       for (std::uint64_t s : {250, 40}) {
                           auto body = std::make_shared<cutting::SampleCounts>(*counts[2 * s + 1]);
                           body->shots = 0;
                           counts[2 * s + 1] = {std::move(body)};
                       }
                       try {
                           cutting::reconstruct_expectation(counts, coefficients, {"A", "B"});
                       } catch (const InvalidInput& e) {
                           d.add(e.message);
                       }
                   }});
    out.push_back({"analog", [](Digest& d) {
                       std::vector<analog::SpatialCoordinates> coords = analog::map_to_spatial_geometry(11);
                       analog::RydbergControlParameters p = analog::generate_rydberg_controls(coords);
                       d.add(p.omega);
                       d.add(p.delta);
                       for (const auto& c : p.atom_positions) {
                           d.add(c.x);
                           d.add(c.y);
                       }
                       sim::LogicalGraph g{{{"a", "x"}, {"b", "x"}, {"c", "x"}}, {{"a", "b", 0.5}, {"c", "c", -1.0}, {"b", "z", 2.0}}};
                       analog::PhotonicGBSParameters gbs = analog::build_arrazola_bromley_encoding(g);
                       for (const auto& row : gbs.adjacency_matrix) d.add(row);
                       d.add(gbs.phases);
                   }});
    out.push_back({"delta", [](Digest& d) {
                       for (const QuboTerm& t : delta::apply_coupling_correction({{0, 1, 1.0}, {1, 2, -0.0}, {0, 1, 0.5}},
                                                                                 {{0, 1, 0.1}, {1, 2, 2.0}})) {
                           d.add(t.i);
                           d.add(t.j);
                           d.add(t.w);
                       }
                       d.add(delta::apply_detuning_correction({1.0, -0.0, 3.0}, {{2, 0.5}, {0, -1.0}, {2, 0.25}}));
                       d.add(delta::apply_rabi_correction(2.0, 0.125));
                   }});
    return out;
}

std::string run_one(const Kernel& k) {
    Digest d;
    k.run(d);
    return d.text;
}

// Several threads each call every kernel a few times, each in its own order;
// every result must equal the one of a single call made alone.
void check_kernels_at_once() {
    const std::vector<Kernel> all = kernels();
    std::vector<std::string> alone;
    for (const Kernel& k : all) alone.push_back(run_one(k));
    for (std::size_t i = 0; i < all.size(); ++i) {
        CHECK(!alone[i].empty());
        if (alone[i].empty()) std::fprintf(stderr, "  %s gave nothing\n", all[i].name.c_str());
    }
    constexpr unsigned kThreads = 4, kRounds = 3;
    std::vector<std::vector<std::string>> got(kThreads);
    std::vector<std::thread> threads;
    std::atomic<unsigned> ready{0};
    for (unsigned t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) std::this_thread::yield();
            for (unsigned r = 0; r < kRounds; ++r) {
                for (std::size_t i = 0; i < all.size(); ++i) {
                    const std::size_t k = (i * (2 * t + 1) + r) % all.size();  // each thread its own order
                    std::string text = run_one(all[k]);
                    if (text != alone[k]) got[t].push_back(all[k].name);
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    for (unsigned t = 0; t < kThreads; ++t) {
        for (const std::string& name : got[t]) std::fprintf(stderr, "  thread %u: %s differs\n", t, name.c_str());
        CHECK(got[t].empty());
    }
}

// Several threads submit jobs to the pool at once; the jobs of one of them
// fail at a few elements. That thread gets the error of its lowest failing
// element, every element below it ran once; every other thread's jobs run
// every element exactly once and end without an error.
void check_submitters_at_once() {
    constexpr unsigned kThreads = 4, kJobs = 12;
    std::vector<int> wrong(kThreads, 0);
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937_64 rng(100 + t);
            for (unsigned job = 0; job < kJobs; ++job) {
                const std::size_t n = 50 + rng() % 2000;
                const bool faulty = t == 0;
                const std::size_t low = rng() % n, high = low + (n - low) / 2;
                std::unique_ptr<std::atomic<int>[]> runs(new std::atomic<int>[n]());
                std::vector<double> out(n);
                std::string caught;
                try {
                    pool::for_each(n, [&](std::size_t i) {
                        runs[i].fetch_add(1);
                        if (faulty && (i == high || i == low)) throw InvalidInput("element " + std::to_string(i));
                        out[i] = 0.5 * static_cast<double>(i) + static_cast<double>(t);
                    });
                } catch (const InvalidInput& e) {
                    caught = e.message;
                }
                if (caught != (faulty ? "element " + std::to_string(low) : "")) ++wrong[t];
                const std::size_t last = faulty ? low : n - 1;
                for (std::size_t i = 0; i <= last; ++i) {
                    if (runs[i].load() != 1) ++wrong[t];
                    if (i < last || !faulty) {
                        if (out[i] != 0.5 * static_cast<double>(i) + static_cast<double>(t)) ++wrong[t];
                    }
                }
                for (std::size_t i = last + 1; i < n; ++i)
                    if (runs[i].load() > 1) ++wrong[t];
            }
        });
    }
    for (auto& t : threads) t.join();
    for (unsigned t = 0; t < kThreads; ++t) {
        if (wrong[t]) std::fprintf(stderr, "  submitter %u: %d wrong\n", t, wrong[t]);
        CHECK(wrong[t] == 0);
    }
}

}  // namespace

int main() {
    check_submitters_at_once();
    check_kernels_at_once();
    return talvo::testing::finish("threads_test");
}
