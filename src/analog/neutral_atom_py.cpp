// Python classes of the neutral-atom compiler and its records.
#include "analog/neutral_atom.h"
#include "boundary.h"

namespace talvo::bind {

using py::Args;
using py::to_py;

py::Member& member_RydbergControlParameters() {
    static py::Class<analog::RydbergControlParameters> c({
        "RydbergControlParameters",
        "(omega, delta, atom_positions)",
        "",
        {py::readonly<&analog::RydbergControlParameters::omega>("omega"),
         py::readonly<&analog::RydbergControlParameters::delta>("delta"),
         py::readonly<&analog::RydbergControlParameters::atom_positions>("atom_positions")},
        {},
        [](const Args& a) {
            auto omega = a.get<std::vector<double>>(0);
            auto delta = a.get<std::vector<double>>(1);
            auto positions = a.get<std::vector<analog::SpatialCoordinates>>(2);
            return analog::RydbergControlParameters{std::move(omega), std::move(delta), std::move(positions)};
        },
    });
    return c;
}

py::Member& member_SpatialCoordinates() {
    static py::Class<analog::SpatialCoordinates> c({
        "SpatialCoordinates",
        nullptr,
        "",
        {py::readonly<&analog::SpatialCoordinates::x>("x"), py::readonly<&analog::SpatialCoordinates::y>("y")},
    });
    return c;
}

py::Member& member_NeutralAtomCompiler() {
    static py::Class<analog::NeutralAtomCompiler> c({
        "NeutralAtomCompiler",
        "()",
        "",
        {},
        {{"map_to_spatial_geometry($self, graph)", "",
          [](const analog::NeutralAtomCompiler&, const Args& a) -> PyObject* {
              auto graph = a.get<sim::LogicalGraph>(0);
              return to_py(analog::map_to_spatial_geometry(graph.variables.size()));
          }},
         {"generate_rydberg_controls($self, graph, coords)", "",
          [](const analog::NeutralAtomCompiler&, const Args& a) -> PyObject* {
              a.get<sim::LogicalGraph>(0);  // checked, then not read
              auto coords = a.get<std::vector<analog::SpatialCoordinates>>(1);
              return to_py(analog::generate_rydberg_controls(std::move(coords)));
          }}},
        [](const Args&) { return analog::NeutralAtomCompiler{}; },
    });
    return c;
}

}  // namespace talvo::bind
