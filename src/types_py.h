// The module's own types at the boundary: how a QUBO term converts, and which
// kernel types are the records of module classes (copied out of an instance
// of exactly that class, returned as a new instance). Every binding includes
// this header, so each type has one conversion everywhere; a type missing
// here does not compile.
#pragma once

#include "analog/interface.h"
#include "analog/neutral_atom.h"
#include "analog/photonic.h"
#include "boundary.h"
#include "cutting/reconstruct.h"
#include "ecc/selector.h"
#include "ecc/surface_code.h"
#include "qubo.h"
#include "scoring/equilibrium.h"
#include "sim/ising.h"
#include "sim/qudit.h"
#include "stackelberg/solver.h"

namespace talvo::py {

// A QUBO term: the tuple ((i, j), w) with unsigned i, j and a float w.
template <>
struct Conv<QuboTerm> {
    static QuboTerm from(PyObject* o) {
        expect_tuple(o, 2);
        auto [i, j] = Conv<std::pair<std::uint64_t, std::uint64_t>>::from(PyTuple_GetItem(o, 0));
        double w = Conv<double>::from(PyTuple_GetItem(o, 1));
        return {i, j, w};
    }
    static PyObject* to(const QuboTerm& t) {
        return Conv<std::pair<std::pair<std::uint64_t, std::uint64_t>, double>>::to({{t.i, t.j}, t.w});
    }
};

// The records, one line per module class.
template <> inline constexpr bool is_record<stackelberg::StackelbergSolver> = true;
template <> inline constexpr bool is_record<scoring::EquilibriumScore> = true;
template <> inline constexpr bool is_record<sim::IsingSimulator> = true;
template <> inline constexpr bool is_record<sim::LogicalGraph> = true;
template <> inline constexpr bool is_record<sim::Variable> = true;
template <> inline constexpr bool is_record<sim::Interaction> = true;
template <> inline constexpr bool is_record<sim::QuditSimulator> = true;
template <> inline constexpr bool is_record<analog::ContinuousFieldIR> = true;
template <> inline constexpr bool is_record<analog::HardwareDeltaModel> = true;
template <> inline constexpr bool is_record<analog::RydbergControlParameters> = true;
template <> inline constexpr bool is_record<analog::SpatialCoordinates> = true;
template <> inline constexpr bool is_record<analog::NeutralAtomCompiler> = true;
template <> inline constexpr bool is_record<analog::PhotonicGBSParameters> = true;
template <> inline constexpr bool is_record<analog::PhotonicCompiler> = true;
template <> inline constexpr bool is_record<ecc::SurfaceCodePatch> = true;
template <> inline constexpr bool is_record<ecc::PatchAssignment> = true;
template <> inline constexpr bool is_record<cutting::SubcircuitSampleCounts> = true;
template <> inline constexpr bool is_record<cutting::SampleCoefficient> = true;

}  // namespace talvo::py
