// Python binding of the qudit register.
#include "boundary.h"
#include "sim/qudit.h"

namespace talvo::bind {

py::Member& member_QuditSimulator() {
    static py::Class<sim::QuditSimulator> c({
        "QuditSimulator",
        "(levels, num_sites)",
        "",
        {},
        {{"simulate($self)", "",
          [](const sim::QuditSimulator& self, const py::Args&) -> PyObject* {
              sim::check_qudit_capacity(self);
              // One zero per site, straight into the result list.
              py::Ref list = py::own(PyList_New(static_cast<Py_ssize_t>(self.num_sites)));
              py::Ref zero = py::own(PyLong_FromLong(0));
              for (std::uint64_t i = 0; i < self.num_sites; ++i) {
                  if ((i & 0xFFFFF) == 0xFFFFF) py::raise_pending_signal();
                  PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), Py_NewRef(zero.get()));
              }
              return list.release();
          }}},
        [](const py::Args& a) -> sim::QuditSimulator {
            auto levels = a.get<std::uint64_t>(0);
            auto num_sites = a.get<std::uint64_t>(1);
            return {levels, num_sites};
        },
        nullptr,
    });
    return c;
}

}  // namespace talvo::bind
