// Python classes of the neutral-atom compiler and its records.
#include "analog/neutral_atom.h"
#include "types_py.h"

namespace talvo::bind {

using analog::NeutralAtomCompiler;
using analog::RydbergControlParameters;
using analog::SpatialCoordinates;
using py::Arg;
using py::to_py;

py::Member& member_RydbergControlParameters() {
    static py::Class<RydbergControlParameters> c({
        .name = "RydbergControlParameters",
        .attributes = {py::readonly<&RydbergControlParameters::omega>("omega"),
                       py::readonly<&RydbergControlParameters::delta>("delta"),
                       py::readonly<&RydbergControlParameters::atom_positions>("atom_positions")},
        .ctor = py::constructor([](Arg<std::vector<double>, "omega"> omega, Arg<std::vector<double>, "delta"> delta,
                                   Arg<std::vector<SpatialCoordinates>, "atom_positions"> positions) {
            return RydbergControlParameters{std::move(omega.value), std::move(delta.value),
                                            std::move(positions.value)};
        }),
    });
    return c;
}

py::Member& member_SpatialCoordinates() {
    static py::Class<SpatialCoordinates> c({
        .name = "SpatialCoordinates",
        .attributes = {py::readonly<&SpatialCoordinates::x>("x"), py::readonly<&SpatialCoordinates::y>("y")},
    });
    return c;
}

py::Member& member_NeutralAtomCompiler() {
    static py::Class<NeutralAtomCompiler> c({
        .name = "NeutralAtomCompiler",
        .methods = {py::method("map_to_spatial_geometry", "",
                               [](const NeutralAtomCompiler&, Arg<sim::LogicalGraph, "graph"> graph) -> PyObject* {
                                   return to_py(analog::map_to_spatial_geometry(graph.value.variables.size()));
                               }),
                    py::method("generate_rydberg_controls", "",
                               [](const NeutralAtomCompiler&, Arg<py::Checked<sim::LogicalGraph>, "graph">,
                                  Arg<std::vector<SpatialCoordinates>, "coords"> coords) -> PyObject* {
                                   return to_py(analog::generate_rydberg_controls(std::move(coords.value)));
                               })},
        .ctor = py::constructor([] { return NeutralAtomCompiler{}; }),
    });
    return c;
}

}  // namespace talvo::bind
