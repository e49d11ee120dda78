// The boundary without fixed capacities: an entry with more parameters than
// any member of the module, more functions and more methods than the module
// has, all registered and called through an embedded interpreter. And the
// borrows of an instance shared by threads that run at once (as they do on
// an interpreter without the GIL): refused only on the thread that holds the
// conflicting borrow, and a record read while others replace it is always
// one whole value.
#include <atomic>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>
#include <memory>

#include "boundary.h"
#include "testing/check.h"

namespace {

struct Probe {
    std::uint64_t base;
};

// A record without a constructor: it pickles by its attributes, in order.
struct Pair {
    std::uint64_t a;
    std::uint64_t b;
};

// A record whose constructor takes a value no attribute shows: it cannot pickle.
struct Orphan {
    std::uint64_t x;
};

}  // namespace

namespace talvo::py {
template <>
inline constexpr bool is_record<Probe> = true;
template <>
inline constexpr bool is_record<Orphan> = true;
template <>
inline constexpr bool is_record<Pair> = true;
}  // namespace talvo::py

namespace {

namespace py = talvo::py;
using py::Arg;
using py::Opt;
using U = std::uint64_t;

constexpr int kFunctions = 40;
constexpr int kMethods = 12;

py::Member& twelve() {
    static py::Function f(
        "twelve", "Twelve parameters, the last two with defaults.",
        [](Arg<U, "a0"> a0, Arg<U, "a1"> a1, Arg<U, "a2"> a2, Arg<U, "a3"> a3, Arg<U, "a4"> a4, Arg<U, "a5"> a5,
           Arg<U, "a6"> a6, Arg<U, "a7"> a7, Arg<U, "a8"> a8, Arg<U, "a9"> a9, Opt<U, "a10", 10> a10,
           Opt<U, "a11", 11> a11) -> PyObject* {
            return py::to_py(std::vector<U>{a0.value, a1.value, a2.value, a3.value, a4.value, a5.value, a6.value,
                                            a7.value, a8.value, a9.value, a10.value, a11.value});
        });
    return f;
}

template <int K>
py::Member& numbered() {
    static const std::string name = "f" + std::to_string(K);
    static py::Function f(name.c_str(), "", [](Arg<U, "x"> x) -> PyObject* { return py::to_py(x.value + K); });
    return f;
}

template <int K>
py::MethodSpec<Probe> probe_method() {
    static const std::string name = "m" + std::to_string(K);
    return py::method(name.c_str(), "",
                      [](const Probe& self, Arg<U, "x"> x) -> PyObject* { return py::to_py(self.base + K * x.value); });
}

template <int... K>
std::vector<py::MethodSpec<Probe>> probe_methods(std::integer_sequence<int, K...>) {
    return {probe_method<K>()...};
}

py::Member& probe_class() {
    static py::Class<Probe> c({
        .name = "Probe",
        .attributes = {py::readonly<&Probe::base>("base")},
        .methods = probe_methods(std::make_integer_sequence<int, kMethods>{}),
        .ctor = py::constructor([](Arg<U, "base"> base) { return Probe{base.value}; }),
    });
    return c;
}

py::Member& pair_class() {
    static py::Class<Pair> c({
        .name = "Pair",
        .attributes = {py::readonly<&Pair::a>("a"), py::readonly<&Pair::b>("b")},
    });
    return c;
}

py::Member& orphan_class() {
    static py::Class<Orphan> c({
        .name = "Orphan",
        .ctor = py::constructor([](Arg<U, "x"> x) { return Orphan{x.value}; }),
    });
    return c;
}

// The class of a record that cannot pickle is refused when it is built, with
// the field it lacks named in the cause.
void check_orphan_is_refused(PyObject* module) {
    PyObject* built = orphan_class().build(module);
    CHECK(built == nullptr);
    if (built) return;
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    py::Ref t(type), v(value), trace(tb);
    CHECK(type == PyExc_RuntimeError);
    py::Ref cause(value ? PyException_GetCause(value) : nullptr);
    py::Ref text(cause ? PyObject_Str(cause.get()) : nullptr);
    const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), nullptr) : nullptr;
    CHECK(utf8 && std::string(utf8) == "class Orphan pickles no field 'x'");
    PyErr_Clear();
}

void add(PyObject* module, py::Member& member) {
    py::Ref obj = py::own(member.build(module));
    py::Ref name = py::own(PyObject_GetAttrString(obj.get(), "__name__"));
    if (PyObject_SetAttr(module, name.get(), obj.get()) < 0) py::throw_error();
}

template <int... K>
void add_numbered(PyObject* module, std::integer_sequence<int, K...>) {
    (add(module, numbered<K>()), ...);
}

// A record whose whole value is recognisable: value k is 8 + k % 50 copies
// of k, so a copy taken halfway through a replacement shows.
struct Sequence {
    std::vector<U> values;
};

Sequence sequence(U k) { return {std::vector<U>(8 + k % 50, k)}; }

bool whole(const std::vector<U>& v) {
    if (v.empty() || v.size() != 8 + v[0] % 50) return false;
    for (U x : v)
        if (x != v[0]) return false;
    return true;
}

// The message of the RuntimeError that `borrow` raises, or "" when it does
// not; on the thread that holds the interpreter.
template <class F>
std::string refusal(F borrow) {
    try {
        borrow();
    } catch (const py::PyError&) {
        PyObject *type, *value, *tb;
        PyErr_Fetch(&type, &value, &tb);
        py::Ref t(type), v(value), trace(tb);
        py::Ref text(PyObject_Str(value));
        const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), nullptr) : nullptr;
        return type == PyExc_RuntimeError && utf8 ? utf8 : "?";
    }
    return "";
}

void check_borrows_across_threads() {
    using Inst = py::Instance<Sequence>;
    std::unique_ptr<unsigned char[]> memory(new unsigned char[sizeof(Inst)]);
    auto* inst = reinterpret_cast<Inst*>(memory.get());  // the object header is never read
    new (&inst->borrow) py::BorrowFlag();
    new (&inst->value) Sequence(sequence(0));

    // This thread: a conflicting borrow of its own is refused, as from a
    // conversion hook.
    {
        py::ExclusiveBorrow writing(inst->borrow);
        CHECK(refusal([&] { py::SharedBorrow b(inst->borrow); }) == "Already mutably borrowed");
        CHECK(refusal([&] { py::ExclusiveBorrow b(inst->borrow); }) == "Already borrowed");
    }
    {
        py::SharedBorrow reading(inst->borrow);
        CHECK(refusal([&] { py::SharedBorrow b(inst->borrow); }).empty());
        CHECK(refusal([&] { py::ExclusiveBorrow b(inst->borrow); }) == "Already borrowed");
    }
    CHECK(refusal([&] { py::ExclusiveBorrow b(inst->borrow); }).empty());  // all given back

    // Other threads, as on an interpreter without the GIL, while this one
    // holds exclusive access: they are never refused (a refusal would call
    // the interpreter from a thread not attached to it, and crash), readers
    // always copy a whole value, and writers replace it whole.
    py::calls_at_once.store(true);
    py::ExclusiveBorrow held(inst->borrow);
    std::atomic<int> torn{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (U w = 1; w <= 2; ++w) {
        threads.emplace_back([&, w] {
            for (U k = w; k < 4000; k += 2) {
                py::ExclusiveBorrow b(inst->borrow);
                std::vector<U> next = sequence(k).values;
                py::swap_field<&Sequence::values>(inst, next);
                if (!whole(next)) ++torn;  // the value replaced
            }
        });
    }
    for (int r = 0; r < 2; ++r) {
        threads.emplace_back([&] {
            while (!stop.load()) {
                py::SharedBorrow b(inst->borrow);
                if (!whole(py::snapshot_field<&Sequence::values>(inst))) ++torn;
                if (!whole(py::snapshot(inst).values)) ++torn;
            }
        });
    }
    threads[0].join();
    threads[1].join();
    stop.store(true);
    for (std::size_t k = 2; k < threads.size(); ++k) threads[k].join();
    CHECK(torn.load() == 0);
    CHECK(whole(inst->value.values) && inst->value.values[0] >= 3998);
    inst->value.~Sequence();
    inst->borrow.~BorrowFlag();
}

const char* kScript = R"py(
import probe

assert probe.twelve(*range(10)) == list(range(12))
assert probe.twelve(*range(8), a9=9, a8=8, a11=0) == list(range(11)) + [0]
assert probe.twelve.__text_signature__ == "(a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10=10, a11=11)"

def error(fn, *args, **kwargs):
    try:
        fn(*args, **kwargs)
    except TypeError as e:
        return str(e)
    raise AssertionError("no TypeError")

assert error(probe.twelve, *range(13)) == "twelve() takes from 10 to 12 positional arguments but 13 were given"
assert error(probe.twelve, *range(9)) == "twelve() missing 1 required positional argument: 'a9'"
assert error(probe.twelve, *range(10), a0=1) == "twelve() got multiple values for argument 'a0'"
assert error(probe.twelve, *range(9), "x") == (
    "argument 'a9': 'str' object cannot be interpreted as an integer")

for k in range(FUNCTIONS):
    assert getattr(probe, f"f{k}")(x=100) == 100 + k

p = probe.Probe(7)
for k in range(METHODS):
    assert getattr(p, f"m{k}")(3) == 7 + 3 * k
    assert getattr(probe.Probe, f"m{k}").__text_signature__ == "($self, x)"
assert error(p.m11) == "Probe.m11() missing 1 required positional argument: 'x'"

import copy, pickle
q = pickle.loads(pickle.dumps(p))
assert type(q) is probe.Probe and q is not p and q.base == 7 and copy.deepcopy(q).base == 7
assert probe._reconstruct("Probe", (9,)).base == 9
s = probe._reconstruct("Pair", (1, 2))
assert (s.a, s.b) == (1, 2) and s.__reduce__() == (probe._reconstruct, ("Pair", (1, 2)))
assert pickle.loads(pickle.dumps(s)).b == 2
assert error(probe._reconstruct, "Pair", (1, "x")) == "argument 'b': 'str' object cannot be interpreted as an integer"
assert error(probe._reconstruct, "Pair", [1, 2]) == "'list' object cannot be converted to 'PyTuple'"
assert error(probe._reconstruct, "Probe", [1]) == "'list' object cannot be converted to 'PyTuple'"
assert error(probe.Pair) == "No constructor defined for Pair"
)py";

}  // namespace

int main() {
    Py_InitializeEx(0);
    int rc = -1;
    try {
        py::Ref module = py::own(PyModule_New("probe"));
        add(module.get(), twelve());
        add_numbered(module.get(), std::make_integer_sequence<int, kFunctions>{});
        add(module.get(), probe_class());
        add(module.get(), pair_class());
        check_orphan_is_refused(module.get());
        py::Ref reconstruct = py::own(py::reconstructor().build(module.get()));
        if (PyObject_SetAttrString(module.get(), "_reconstruct", reconstruct.get()) < 0) py::throw_error();
        PyObject* modules = PyImport_GetModuleDict();
        if (PyDict_SetItemString(modules, "probe", module.get()) < 0) py::throw_error();
        const std::string script = "FUNCTIONS = " + std::to_string(kFunctions) + "\nMETHODS = " +
                                   std::to_string(kMethods) + "\n" + kScript;
        rc = PyRun_SimpleString(script.c_str());
        check_borrows_across_threads();
    } catch (...) {
        py::set_from_current_exception();
        PyErr_Print();
    }
    CHECK(rc == 0);
    return talvo::testing::finish("boundary_test");
}
