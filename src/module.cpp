// The import entry of talvo_core and the member table: every function, class
// and submodule is added here, in this order, which is also the order of the
// names in each module's __all__.
#include <atomic>
#include <cstdlib>
#include <mutex>

#include "boundary.h"
#include "simd.h"

namespace talvo::bind {
namespace {

using py::Ref;

// Appends `name` to module.__all__ (creating the list on first use), then sets
// the attribute.
void add_object(PyObject* module, PyObject* obj) {
    Ref name = py::own(PyObject_GetAttrString(obj, "__name__"));
    if (!PyUnicode_Check(name.get())) py::raise_type_error("__name__ must be a str");
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) py::throw_error();
        PyErr_Clear();
        all = py::check(PyList_New(0));
        if (PyObject_SetAttrString(module, "__all__", all) < 0) {
            Py_DECREF(all);
            py::throw_error();
        }
    }
    Ref all_ref(all);
    if (!PyList_Check(all)) py::raise_type_error(messages::cannot_convert(py::type_name(all), messages::kTargetList));
    if (PyList_Append(all, name.get()) < 0) py::throw_error();
    if (PyObject_SetAttr(module, name.get(), obj) < 0) py::throw_error();
}

void add_member(PyObject* module, py::Member& member) {
    Ref obj = py::own(member.build(module));
    add_object(module, obj.get());
}

// One line per member: declares the binding's accessor and adds its object.
#define MEMBER(module, NAME)                   \
    do {                                       \
        py::Member& member_##NAME();           \
        add_member(module, member_##NAME());   \
    } while (0)

}  // namespace

// The member table. Members are added in this order; each submodule is added
// to talvo_core after its own members.
void populate(PyObject* top) {
    MEMBER(top, StackelbergSolver);
    MEMBER(top, EquilibriumScore);
    MEMBER(top, apply_detuning_correction);
    MEMBER(top, apply_coupling_correction);
    MEMBER(top, apply_rabi_correction);
    MEMBER(top, qubo_criticality);
    MEMBER(top, exact_ising_norm);
    MEMBER(top, qubo_energy_spectrum);
    MEMBER(top, run_statevector);
    MEMBER(top, simulate_qubo_runs);
    MEMBER(top, vrp_qubo_terms);
    MEMBER(top, build_ecc_lookup_table);
    MEMBER(top, logical_failure_probability);
    MEMBER(top, stoer_wagner_bisect);

    Ref sim = py::own(PyModule_New("sim"));
    MEMBER(sim.get(), IsingSimulator);
    MEMBER(sim.get(), LogicalGraph);
    MEMBER(sim.get(), Variable);
    MEMBER(sim.get(), Interaction);
    MEMBER(sim.get(), QuditSimulator);
    add_object(top, sim.get());

    Ref analog = py::own(PyModule_New("analog"));
    MEMBER(analog.get(), ContinuousFieldIR);
    MEMBER(analog.get(), HardwareDeltaModel);
    MEMBER(analog.get(), RydbergControlParameters);
    MEMBER(analog.get(), SpatialCoordinates);
    MEMBER(analog.get(), NeutralAtomCompiler);
    MEMBER(analog.get(), PhotonicGBSParameters);
    MEMBER(analog.get(), PhotonicCompiler);
    add_object(top, analog.get());

    Ref ecc = py::own(PyModule_New("ecc"));
    MEMBER(ecc.get(), SurfaceCodePatch);
    MEMBER(ecc.get(), build_surface_code);
    MEMBER(ecc.get(), PatchAssignment);
    MEMBER(ecc.get(), select_patches);
    MEMBER(ecc.get(), remap_circuit);
    add_object(top, ecc.get());

    Ref cutting = py::own(PyModule_New("cutting"));
    MEMBER(cutting.get(), SubcircuitSampleCounts);
    MEMBER(cutting.get(), SampleCoefficient);
    MEMBER(cutting.get(), reconstruct_expectation);
    add_object(top, cutting.get());

    // Private, and so not in __all__: what unpickling calls to rebuild an
    // instance of any of the classes above.
    Ref reconstruct = py::own(py::reconstructor().build(top));
    if (PyObject_SetAttrString(top, "_reconstruct", reconstruct.get()) < 0) py::throw_error();
}

namespace {

// The module object, built by one import at a time: a thread that calls in
// while another builds it waits (detached from the interpreter, which the
// builder calls into and may need to pause every thread) and then finds it.
std::mutex g_init_mutex;
PyObject* g_module = nullptr;  // guarded by g_init_mutex
std::atomic<std::int64_t> g_interpreter{-1};

#if defined(Py_TARGET_ABI3T)
// abi3t: a module definition (PyModuleDef) is itself an object, whose header
// is opaque in this build; the module is a plain module object instead, made
// once and handed out by the export hook's create slot below (and by
// PyInit_talvo_core).
PyObject* new_module_object() {
    PyObject* module = PyModule_New("talvo_core");
    if (module && PyModule_SetDocString(module, "") < 0) {  // GCOVR_EXCL_START: only when memory runs out
        Py_DECREF(module);
        return nullptr;
    }  // GCOVR_EXCL_STOP
    return module;
}
#else
PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "talvo_core", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

PyObject* new_module_object() { return PyModule_Create(&module_def); }
#endif

}  // namespace

// The one module object of the process: made and populated on the first call,
// the same object (a new reference) on every later one; nullptr with the error
// set when it cannot be made, or when a second interpreter asks for it.
PyObject* the_module() {
    PyInterpreterState* state = PyInterpreterState_Get();
    std::int64_t id = PyInterpreterState_GetID(state);
    if (id == -1 && PyErr_Occurred()) return nullptr;
    std::int64_t expected = -1;
    if (!g_interpreter.compare_exchange_strong(expected, id) && expected != id) {
        PyErr_SetString(PyExc_ImportError,
                        "talvo_core does not support subinterpreters: it cannot be loaded in more than one "
                        "interpreter per process");
        return nullptr;
    }
    std::unique_lock<std::mutex> building(g_init_mutex, std::try_to_lock);
    if (!building.owns_lock()) {  // GCOVR_EXCL_START: only when two threads import at once
        PyThreadState* detached = PyEval_SaveThread();
        building.lock();
        PyEval_RestoreThread(detached);
    }  // GCOVR_EXCL_STOP
    if (g_module) return Py_NewRef(g_module);
    // The instruction set is chosen once, when the module is first imported.
    const std::string simd_error = talvo::simd::select(std::getenv("TALVO_CORE_SIMD"));
    if (!simd_error.empty()) {
        PyErr_SetString(PyExc_ImportError, simd_error.c_str());
        return nullptr;
    }
    talvo::py::calls_at_once.store(talvo::py::gil_disabled(), std::memory_order_relaxed);
    talvo::interrupt_hook.store(&talvo::py::raise_pending_signal, std::memory_order_release);
    PyObject* module = new_module_object();
    if (!module) return nullptr;
#if defined(Py_GIL_DISABLED) && !defined(Py_LIMITED_API) && !defined(Py_TARGET_ABI3T)
    // Everything the module shares is safe without the GIL (docs/threads.md).
    // The abi3t build says so in its export hook's slots instead.
    PyUnstable_Module_SetGIL(module, Py_MOD_GIL_NOT_USED);
#endif
    try {
        populate(module);
        // The distribution's version, outside __all__ (the member list is
        // fixed); the build passes it from pyproject.toml.
        if (PyModule_AddStringConstant(module, "__version__", TALVO_VERSION) < 0) talvo::py::throw_error();
    } catch (...) {  // GCOVR_EXCL_START: populating fails only when memory runs out
        talvo::py::set_from_current_exception();
        Py_DECREF(module);
        return nullptr;
    }  // GCOVR_EXCL_STOP
    g_module = Py_NewRef(module);
    return module;
}

}  // namespace talvo::bind

PyMODINIT_FUNC PyInit_talvo_core() { return talvo::bind::the_module(); }

#if defined(Py_TARGET_ABI3T)
// The export hook, which CPython 3.15 and later call instead of
// PyInit_talvo_core: the module as slots. Its create slot returns the same
// one module object as PyInit_talvo_core.
namespace talvo::bind {
namespace {

PyObject* create_module(PyObject*, PyModuleDef*) { return the_module(); }

PyABIInfo_VAR(abi_info);

PySlot data_slot(std::uint16_t id, const void* value) {
    PySlot slot{};
    slot.sl_id = id;
    slot.sl_flags = PySlot_INTPTR;
    slot.sl_ptr = const_cast<void*>(value);
    return slot;
}

PySlot function_slot(std::uint16_t id, _Py_funcptr_t value) {
    PySlot slot{};
    slot.sl_id = id;
    slot.sl_func = value;
    return slot;
}

}  // namespace
}  // namespace talvo::bind

PyMODEXPORT_FUNC PyModExport_talvo_core() {
    using namespace talvo::bind;
    static PySlot slots[] = {
        data_slot(Py_mod_abi, &abi_info),
        data_slot(Py_mod_name, "talvo_core"),
        data_slot(Py_mod_doc, ""),
        // Everything the module shares is safe without the GIL (docs/threads.md).
        data_slot(Py_mod_gil, Py_MOD_GIL_NOT_USED),
        function_slot(Py_mod_create, reinterpret_cast<_Py_funcptr_t>(&create_module)),
        PySlot{},
    };
    return slots;
}
#endif
