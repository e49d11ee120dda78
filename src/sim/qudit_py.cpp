// Python binding of the qudit register.
#include "sim/qudit.h"
#include "types_py.h"

namespace talvo::bind {

py::Member& member_QuditSimulator() {
    static py::Class<sim::QuditSimulator> c({
        .name = "QuditSimulator",
        .methods = {py::method("simulate", "", [](const sim::QuditSimulator& self) -> PyObject* {
              sim::check_qudit_capacity(self);
              check_allocation(self.num_sites, py::estimate::kSlot);
              py::Ref zero = py::own(PyLong_FromLong(0));
              if (self.num_sites < 0xFFFFF) {
                  // Short enough to need no look for Ctrl-C: [0] * num_sites,
                  // the list repeated in one step.
                  py::Ref one = py::own(PyList_New(1));
                  PyList_SetItem(one.get(), 0, Py_NewRef(zero.get()));
                  return py::check(PySequence_Repeat(one.get(), static_cast<Py_ssize_t>(self.num_sites)));
              }
              // One zero per site, straight into the result list.
              py::Ref list = py::own(PyList_New(static_cast<Py_ssize_t>(self.num_sites)));
              for (std::uint64_t i = 0; i < self.num_sites; ++i) {
                  if ((i & 0xFFFFF) == 0xFFFFF) py::raise_pending_signal();
                  PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), Py_NewRef(zero.get()));
              }
              return list.release();
          })},
        .ctor = py::constructor(
            [](py::Arg<std::uint64_t, "levels"> levels, py::Arg<std::uint64_t, "num_sites"> num_sites) {
                return sim::QuditSimulator{levels.value, num_sites.value};
            }),
        // Shown by no attribute, but kept by pickling.
        .hidden = {py::hidden_field<&sim::QuditSimulator::levels>("levels"),
                   py::hidden_field<&sim::QuditSimulator::num_sites>("num_sites")},
    });
    return c;
}

}  // namespace talvo::bind
