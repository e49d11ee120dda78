// The Python boundary: everything that touches Python objects. Each entry of
// the module is a thin binding written with these pieces: bind the arguments,
// convert them to plain C++ values, call the kernel, convert the result back.
//
// Errors travel as C++ exceptions until the entry's guard:
//   PyError      a Python exception is already set (a failed conversion),
//   Panic        an internal fault -> PanicException,
//   SizeLimit    -> talvo.exceptions.SizeViolation,
//   InvalidInput -> ValueError,
//   std::bad_alloc -> MemoryError.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "errors.h"
#include "messages.h"

namespace talvo::py {

// A Python exception is set and the call must end with it.
struct PyError {};

[[noreturn]] inline void throw_error() { throw PyError{}; }

// Returns `o`, or unwinds when a Python API call failed (returned NULL).
inline PyObject* check(PyObject* o) {
    if (!o) throw_error();
    return o;
}

// An owned (strong) reference.
class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject* owned) : p_(owned) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    Ref& operator=(Ref&& o) noexcept {
        if (this != &o) {
            Py_XDECREF(p_);
            p_ = o.p_;
            o.p_ = nullptr;
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }
    PyObject* get() const { return p_; }
    PyObject* release() {
        PyObject* p = p_;
        p_ = nullptr;
        return p;
    }
    explicit operator bool() const { return p_ != nullptr; }

private:
    PyObject* p_ = nullptr;
};

// Takes ownership of a new reference, unwinding on NULL.
inline Ref own(PyObject* o) { return Ref(check(o)); }

// The name of an object's type, as used in conversion messages.
std::string type_name(PyObject* o);

[[noreturn]] void raise(PyObject* exc_type, const std::string& message);
[[noreturn]] void raise_type_error(const std::string& message);
// "'{type}' object cannot be converted to '{target}'"
[[noreturn]] void raise_cannot_convert(PyObject* o, const char* target);

// ---------------------------------------------------------------------------
// Borrows. Methods, getters and record conversions hold shared access to an
// instance for the whole call, setters exclusive access. Borrows are kept per
// thread: a thread asking for access that conflicts with a borrow it already
// holds on the same instance (only re-entrant use from a conversion hook can)
// is refused with RuntimeError "Already borrowed" (exclusive access refused)
// or "Already mutably borrowed" (shared access refused).
//
// Borrows held by other threads never refuse and never make a call wait
// long: the record itself is only copied out or replaced as a whole, under
// the instance's lock, which is held for that copy alone and never while
// Python code runs or the interpreter is called. A reader racing a setter on
// another thread therefore gets the old or the new value, whole.

struct BorrowFlag {
    std::mutex lock;  // held only to copy the record (or one field) out or in
};

// Whether calls may run at once: set at import, true on an interpreter
// without the GIL. With the GIL, which every call keeps from start to end,
// the interpreter lock already keeps the copies apart and the instances'
// own locks are left alone; without it, each poll for Ctrl-C also detaches
// from the interpreter for an instant (raise_pending_signal).
inline std::atomic<bool> calls_at_once{false};

// Holds an instance's lock, when calls may run at once.
class RecordLock {
public:
    explicit RecordLock(BorrowFlag& f) : lock_(calls_at_once.load(std::memory_order_relaxed) ? &f.lock : nullptr) {
        if (lock_) lock_->lock();
    }
    ~RecordLock() {
        if (lock_) lock_->unlock();
    }
    RecordLock(const RecordLock&) = delete;
    RecordLock& operator=(const RecordLock&) = delete;

private:
    std::mutex* lock_;
};

class Borrow {
public:
    Borrow(const Borrow&) = delete;
    Borrow& operator=(const Borrow&) = delete;

    // Refuses shared access as a SharedBorrow would, without taking it: for
    // a copy that runs no Python code, so nothing can ask for access while
    // it lasts.
    static void check_shared(const BorrowFlag& f);

protected:
    Borrow(const BorrowFlag& f, bool exclusive);
    ~Borrow();

private:
    const BorrowFlag* flag_;
    bool exclusive_;
    const Borrow* below_;  // the borrow this thread took before this one
};

class SharedBorrow : Borrow {
public:
    explicit SharedBorrow(const BorrowFlag& f) : Borrow(f, false) {}
};

class ExclusiveBorrow : Borrow {
public:
    explicit ExclusiveBorrow(const BorrowFlag& f) : Borrow(f, true) {}
};

// The type object of record T, set when its class is created.
template <class T>
struct TypeSlot {
    static inline PyTypeObject* type = nullptr;
    static inline const char* name = "";
};

#if defined(Py_TARGET_ABI3T)
// The abi3t build: the object header is opaque, so an instance's own part is
// the class's type data (a negative basicsize asks for it), found through
// PyObject_GetTypeData.
inline constexpr bool kOpaqueObjects = true;

template <class T>
struct Instance {
    BorrowFlag borrow;
    T value;
};

template <class T>
Instance<T>* instance_of(PyObject* o) {
    return static_cast<Instance<T>*>(PyObject_GetTypeData(o, TypeSlot<T>::type));
}
#else
// The layout of every instance of a module class: the record is held by value.
inline constexpr bool kOpaqueObjects = false;

template <class T>
struct Instance {
    PyObject_HEAD
    BorrowFlag borrow;
    T value;
};

template <class T>
Instance<T>* instance_of(PyObject* o) {
    return reinterpret_cast<Instance<T>*>(o);
}
#endif

// PyType_Spec.basicsize of the class of T: the whole object, or (abi3t) minus
// the size of the type data added to the base's.
template <class T>
constexpr int instance_basicsize() {
    // Type data is aligned for any fundamental type, as the object itself is.
    static_assert(alignof(Instance<T>) <= alignof(std::max_align_t));
    return kOpaqueObjects ? -static_cast<int>(sizeof(Instance<T>)) : static_cast<int>(sizeof(Instance<T>));
}

// A copy of the record, taken under the instance's lock (RecordLock).
template <class T>
T snapshot(Instance<T>* inst) {
    RecordLock hold(inst->borrow);
    return inst->value;
}

template <class M>
struct member_class;
template <class C, class V>
struct member_class<V C::*> {
    using type = C;
    using value = V;
};

// A copy of field M of the record, taken under the instance's lock.
template <auto M>
typename member_class<decltype(M)>::value snapshot_field(Instance<typename member_class<decltype(M)>::type>* inst) {
    RecordLock hold(inst->borrow);
    return inst->value.*M;
}

// Puts `v` in field M of the record under the instance's lock; `v` is left
// holding the old value, freed by the caller after the lock is released.
template <auto M>
void swap_field(Instance<typename member_class<decltype(M)>::type>* inst, typename member_class<decltype(M)>::value& v) {
    using std::swap;
    RecordLock hold(inst->borrow);
    swap(inst->value.*M, v);
}

// A new instance of the class of T holding `value`.
template <class T>
PyObject* new_instance(T value) {
    PyTypeObject* tp = TypeSlot<T>::type;
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(tp, Py_tp_alloc));
    PyObject* o = check(alloc(tp, 0));
    auto* inst = instance_of<T>(o);
    new (&inst->borrow) BorrowFlag();
    new (&inst->value) T(std::move(value));
    return o;
}

// ---------------------------------------------------------------------------
// Conversion. Conv<T>::from turns a Python object into T (unwinding with the
// Python error set); Conv<T>::to builds a new Python object from T.

// A Python dict; item order is the dict's iteration order on input and
// unspecified on output.
template <class K, class V>
struct Dict {
    std::vector<std::pair<K, V>> items;
};

// Every conversion is chosen explicitly: a type without one below, in
// types_py.h or declared a record there does not compile, so no translation
// unit can ever pick a different conversion for the same type.
template <class T>
inline constexpr bool is_record = false;

template <class T>
inline constexpr bool no_conversion = false;

template <class T, class = void>
struct Conv {
    static_assert(no_conversion<T>, "no conversion for this type: add one, or declare the record in types_py.h");
};

// The record rule: the record of a module class. An instance of exactly that
// class is copied out; results become new instances.
template <class T>
struct Conv<T, std::enable_if_t<is_record<T>>> {
    static T from(PyObject* o) {
        if (Py_TYPE(o) != TypeSlot<T>::type) raise_cannot_convert(o, TypeSlot<T>::name);
        auto* inst = instance_of<T>(o);
        Borrow::check_shared(inst->borrow);
        return snapshot(inst);
    }
    static PyObject* to(const T& v) { return new_instance<T>(v); }
};

// An argument that must be an instance of exactly the class of record T but
// whose contents the entry does not read: checked, never copied.
template <class T>
struct Checked {};

template <class T>
struct Conv<Checked<T>, std::enable_if_t<is_record<T>>> {
    static Checked<T> from(PyObject* o) {
        if (Py_TYPE(o) != TypeSlot<T>::type) raise_cannot_convert(o, TypeSlot<T>::name);
        return {};
    }
};

template <class T>
T from_py(PyObject* o) {
    return Conv<T>::from(o);
}

template <class T>
PyObject* to_py(const T& v) {
    return Conv<T>::to(v);
}

// unsigned integer: int, int subclasses, anything with __index__.
template <>
struct Conv<std::uint64_t> {
    static std::uint64_t from(PyObject* o);
    static PyObject* to(std::uint64_t v) { return check(PyLong_FromUnsignedLongLong(v)); }
};

// bit (unsigned 8-bit).
template <>
struct Conv<std::uint8_t> {
    static std::uint8_t from(PyObject* o);
    static PyObject* to(std::uint8_t v) { return check(PyLong_FromLong(v)); }
};

// small signed integers (spins) and machine integers: results only.
template <>
struct Conv<std::int8_t> {
    static PyObject* to(std::int8_t v) { return check(PyLong_FromLong(v)); }
};
template <>
struct Conv<std::int64_t> {
    static PyObject* to(std::int64_t v) { return check(PyLong_FromLongLong(v)); }
};
template <>
struct Conv<bool> {
    static PyObject* to(bool v) { return Py_NewRef(v ? Py_True : Py_False); }
};

template <>
struct Conv<double> {
    static double from(PyObject* o);
    static PyObject* to(double v) { return check(PyFloat_FromDouble(v)); }
};

template <>
struct Conv<std::string> {
    static std::string from(PyObject* o);
    static PyObject* to(const std::string& v);
};

// list of X: any sequence but str, read by iteration.
template <class T>
struct Conv<std::vector<T>> {
    static std::vector<T> from(PyObject* o);
    static PyObject* to(const std::vector<T>& v);
};

// fixed-length tuples.
template <class A, class B>
struct Conv<std::pair<A, B>> {
    static std::pair<A, B> from(PyObject* o);
    static PyObject* to(const std::pair<A, B>& v);
};
template <class... Ts>
struct Conv<std::tuple<Ts...>> {
    static std::tuple<Ts...> from(PyObject* o);
    static PyObject* to(const std::tuple<Ts...>& v);
};

template <class K, class V>
struct Conv<Dict<K, V>> {
    static Dict<K, V> from(PyObject* o);
    static PyObject* to(const Dict<K, V>& v);
};

// A Python object built by the binding itself, passed through unchanged.
template <>
struct Conv<Ref> {
    static Ref from(PyObject* o) { return Ref(Py_NewRef(o)); }
    static PyObject* to(const Ref& r) { return Py_NewRef(r.get()); }
};

// Estimated bytes of the Python objects a result is built from (64-bit
// CPython), for the memory checks that refuse up front a result the machine
// cannot hold. Small ints are shared objects and cost only their slot.
namespace estimate {
// A reference held in a list or tuple.
inline constexpr std::uint64_t kSlot = 8;
// A (float, float) tuple in a list: the tuple, its two floats and its slot.
inline constexpr std::uint64_t kFloatPairInList = 112;
// A float in a list.
inline constexpr std::uint64_t kFloatInList = 32;
// A list of n small ints in a list.
inline constexpr std::uint64_t small_int_list_in_list(std::uint64_t n) { return 64 + kSlot * n; }
// A tuple of two lists of m and n small ints in a list, with room to spare.
inline constexpr std::uint64_t small_int_list_pair_in_list(std::uint64_t m, std::uint64_t n) {
    return 200 + kSlot * (m + n);
}
}  // namespace estimate

// Helpers for sequence conversion.
Ref sequence_iter(PyObject* o, Py_ssize_t& size_hint);
// The next element (new reference) or NULL at the end; unwinds on error.
PyObject* iter_next(PyObject* it);
// Checks that o is a tuple of length n.
void expect_tuple(PyObject* o, Py_ssize_t n);

template <class T>
std::vector<T> Conv<std::vector<T>>::from(PyObject* o) {
    Py_ssize_t hint = 0;
    Ref it = sequence_iter(o, hint);
    std::vector<T> out;
    if (hint > 0) out.reserve(static_cast<std::size_t>(hint));
    while (PyObject* item = iter_next(it.get())) {
        Ref holder(item);
        out.push_back(Conv<T>::from(item));
    }
    return out;
}

// Throws PyError when a signal handler (Ctrl-C) raised; defined with the guard.
void raise_pending_signal();

template <class T>
PyObject* Conv<std::vector<T>>::to(const std::vector<T>& v) {
    Ref list = own(PyList_New(static_cast<Py_ssize_t>(v.size())));
    for (std::size_t i = 0; i < v.size(); ++i) {
        if ((i & 0xFFFF) == 0xFFFF) raise_pending_signal();  // a long list notices Ctrl-C
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), Conv<T>::to(v[i]));
    }
    return list.release();
}

template <class A, class B>
std::pair<A, B> Conv<std::pair<A, B>>::from(PyObject* o) {
    expect_tuple(o, 2);
    A a = Conv<A>::from(PyTuple_GetItem(o, 0));
    B b = Conv<B>::from(PyTuple_GetItem(o, 1));
    return {std::move(a), std::move(b)};
}

template <class A, class B>
PyObject* Conv<std::pair<A, B>>::to(const std::pair<A, B>& v) {
    Ref a = own(Conv<A>::to(v.first));
    Ref b = own(Conv<B>::to(v.second));
    PyObject* t = check(PyTuple_New(2));
    PyTuple_SetItem(t, 0, a.release());
    PyTuple_SetItem(t, 1, b.release());
    return t;
}

template <class... Ts>
std::tuple<Ts...> Conv<std::tuple<Ts...>>::from(PyObject* o) {
    expect_tuple(o, sizeof...(Ts));
    return [&]<std::size_t... I>(std::index_sequence<I...>) {
        // Braced initialisation converts the elements in position order.
        return std::tuple<Ts...>{Conv<Ts>::from(PyTuple_GetItem(o, I))...};
    }(std::index_sequence_for<Ts...>{});
}

template <class... Ts>
PyObject* Conv<std::tuple<Ts...>>::to(const std::tuple<Ts...>& v) {
    std::array<Ref, sizeof...(Ts)> items;
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        ((items[I] = own(Conv<Ts>::to(std::get<I>(v)))), ...);
    }(std::index_sequence_for<Ts...>{});
    PyObject* t = check(PyTuple_New(sizeof...(Ts)));
    for (std::size_t i = 0; i < sizeof...(Ts); ++i) PyTuple_SetItem(t, static_cast<Py_ssize_t>(i), items[i].release());
    return t;
}

void expect_dict(PyObject* o);

template <class K, class V>
Dict<K, V> Conv<Dict<K, V>>::from(PyObject* o) {
    expect_dict(o);
    Dict<K, V> out;
    // Work on a snapshot of the items, so a conversion hook that changes the
    // dict cannot free what is being read.
    Ref items = own(PyDict_Items(o));
    Py_ssize_t n = PyList_Size(items.get());
    out.items.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t pos = 0; pos < n; ++pos) {
        PyObject* kv = PyList_GetItem(items.get(), pos);
        K k = Conv<K>::from(PyTuple_GetItem(kv, 0));
        V v = Conv<V>::from(PyTuple_GetItem(kv, 1));
        out.items.emplace_back(std::move(k), std::move(v));
    }
    return out;
}

template <class K, class V>
PyObject* Conv<Dict<K, V>>::to(const Dict<K, V>& d) {
    Ref dict = own(PyDict_New());
    for (const auto& [k, v] : d.items) {
        Ref key = own(Conv<K>::to(k));
        Ref val = own(Conv<V>::to(v));
        if (PyDict_SetItem(dict.get(), key.get(), val.get()) < 0) throw_error();
    }
    return dict.release();
}

// ---------------------------------------------------------------------------
// Parameters. An entry declares each parameter with its name and type
// together, as the parameter list of its body:
//
//     [](py::Arg<QuboTerms, "qubo"> qubo, py::Arg<std::uint64_t, "n_vars"> n_vars) { ... qubo.value ... }
//
// The text signature, the binding of positional and keyword arguments and the
// conversion order all come from that one list: arguments are converted in
// parameter order, the first failure ending the call, and freed in the
// reverse order after the body returns.

// A parameter name as a template argument.
template <std::size_t N>
struct Name {
    char text[N]{};
    constexpr Name(const char (&s)[N]) {
        for (std::size_t i = 0; i < N; ++i) text[i] = s[i];
    }
};

// A required parameter. `value` is the converted argument, owned by the call
// (the body may move from it).
template <class T, Name N>
struct Arg {
    using type = T;
    static constexpr const char* name = N.text;
    static constexpr bool optional = false;
    T& value;
};

// A parameter with a default, shown in the text signature as name=default.
template <class T, Name N, T Default>
struct Opt {
    using type = T;
    static constexpr const char* name = N.text;
    static constexpr bool optional = true;
    static T fallback() { return Default; }
    static std::string shown() { return std::to_string(Default); }
    T& value;
};

// The parameters of one entry, without $self.
struct Signature {
    std::string display;             // "qubo_energy_spectrum()", "Variable.__new__()", "IsingSimulator.solve_exact()"
    std::vector<std::string> names;  // in order
    std::size_t required = 0;        // parameters without a default come first
    std::string text;                // "qubo, n_vars", "distance=3"
};

// Binds positional and keyword arguments to the parameters of `sig`:
// values[i] is the object given for parameter i, or NULL for an omitted
// optional one. `values` has sig.names.size() slots.
void bind_arguments(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** values);

// Re-raises an exact TypeError as "argument '{name}': {message}", keeping
// its cause; other errors pass unchanged. Always unwinds.
[[noreturn]] void rethrow_for_argument(const char* name);

template <class P>
typename P::type convert_argument(PyObject* value) {
    if constexpr (P::optional) {
        if (!value) return P::fallback();
    }
    try {
        return Conv<typename P::type>::from(value);
    } catch (PyError&) {
        rethrow_for_argument(P::name);
    }
}

// The result and the parameter types of a body (a captureless lambda).
template <class F>
struct body_traits : body_traits<decltype(&F::operator())> {};
template <class C, class R, class... P>
struct body_traits<R (C::*)(P...) const> {
    using result = R;
    using params = std::tuple<std::remove_cvref_t<P>...>;
};

// The converted arguments of one call: converted in parameter order, freed
// in the reverse order once the body has returned.
template <class... P>
struct Converted {
    explicit Converted(PyObject* const*) {}
    // Named, never called, by the empty expansion of a call without
    // parameters (newer Clang looks the member up even then).
    template <std::size_t I>
    void get() = delete;
};

template <class H, class... T>
struct Converted<H, T...> {
    typename H::type head;
    Converted<T...> rest;

    explicit Converted(PyObject* const* values) : head(convert_argument<H>(values[0])), rest(values + 1) {}

    template <std::size_t I>
    auto& get() {
        if constexpr (I == 0) {
            return head;
        } else {
            return rest.template get<I - 1>();
        }
    }
};

template <class Params>
struct Binder;

template <class... P>
struct Binder<std::tuple<P...>> {
    static_assert(((sizeof(P::name) > 0) && ...), "every parameter is a py::Arg or py::Opt");

    static constexpr bool defaults_last() {
        constexpr std::array<bool, sizeof...(P)> optional{P::optional...};
        for (std::size_t i = 1; i < optional.size(); ++i)
            if (optional[i - 1] && !optional[i]) return false;
        return true;
    }
    static_assert(defaults_last(), "parameters with defaults come last");

    static Signature signature(std::string display) {
        Signature sig;
        sig.display = std::move(display);
        sig.required = (std::size_t{0} + ... + (P::optional ? 0 : 1));
        (
            [&] {
                if (!sig.names.empty()) sig.text += ", ";
                sig.names.emplace_back(P::name);
                sig.text += P::name;
                if constexpr (P::optional) sig.text += "=" + P::shown();
            }(),
            ...);
        return sig;
    }

    // Binds and converts the arguments, then calls body(lead..., P...): a
    // method's record leads.
    template <class F, class... Lead>
    static decltype(auto) call(const Signature& sig, PyObject* args, PyObject* kwargs, const F& body,
                               Lead&&... lead) {
        std::array<PyObject*, sizeof...(P)> values{};
        bind_arguments(sig, args, kwargs, values.data());
        Converted<P...> converted(values.data());
        return [&]<std::size_t... I>(std::index_sequence<I...>)->decltype(auto) {
            return body(std::forward<Lead>(lead)..., P{converted.template get<I>()}...);
        }
        (std::index_sequence_for<P...>{});
    }
};

template <class Tuple>
struct drop_first;
template <class First, class... Rest>
struct drop_first<std::tuple<First, Rest...>> {
    using type = std::tuple<Rest...>;
};

// Bodies are captureless lambdas: each has a type of its own, which gives
// every entry its own static entry point and signature without any table.
template <class F>
constexpr void check_body() {
    static_assert(std::is_empty_v<F> && std::is_default_constructible_v<F>, "an entry body captures nothing");
}

// Converts a value assigned to attribute `name` (setters) with the same rule.
template <class T>
T convert_attribute(PyObject* value, const char* name) {
    try {
        return Conv<T>::from(value);
    } catch (PyError&) {
        rethrow_for_argument(name);
    }
}

// ---------------------------------------------------------------------------
// The guard around every entry: runs `body`, turning C++ exceptions into
// Python ones. `body` returns a new reference.

// The interrupt hook of the kernels: throws PyError when a signal handler
// (Ctrl-C) raised. Called on a thread attached to the interpreter (the one
// that holds the GIL, on an interpreter with one), never on a pool worker.
// When calls may run at once, each call first detaches for an instant.
void raise_pending_signal();
// Whether the interpreter runs without the GIL: always for the build for
// free-threaded interpreters alone, else asked of the interpreter (the abi3t
// build loads on both kinds).
bool gil_disabled();

void set_panic(const std::string& message);
void set_size_violation(const std::string& message);
void set_from_current_exception();

template <class F>
PyObject* guard(F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        set_from_current_exception();
        return nullptr;
    }
}

template <class F>
int guard_int(F&& body) noexcept {
    try {
        body();
        return 0;
    } catch (...) {
        set_from_current_exception();
        return -1;
    }
}

// ---------------------------------------------------------------------------
// Members of the module: functions, classes and submodules, each added in the
// order of the member table.

class Member {
public:
    virtual ~Member() = default;
    // Builds the Python object to add to `module` (new reference).
    virtual PyObject* build(PyObject* module) = 0;
};

// A module-level function: its name, its documentation after the text
// signature, and its body, whose parameters declare the function's.
class Function : public Member {
public:
    template <class F>
    Function(const char* name, const char* prose, F body);
    PyObject* build(PyObject* module) override;

private:
    template <class F>
    struct Site {
        static inline Signature sig;
        static PyObject* entry(PyObject*, PyObject* args, PyObject* kwargs) {
            return guard([&] {
                using Params = typename body_traits<F>::params;
                return Binder<Params>::call(sig, args, kwargs, F{});
            });
        }
    };

    std::string name_;
    std::string doc_;
    PyCFunctionWithKeywords entry_;
    PyMethodDef def_{};
};

template <class F>
Function::Function(const char* name, const char* prose, F) : name_(name), entry_(&Site<F>::entry) {
    check_body<F>();
    static_assert(std::is_same_v<typename body_traits<F>::result, PyObject*>, "a function body returns PyObject*");
    Site<F>::sig = Binder<typename body_traits<F>::params>::signature(name_ + "()");
    doc_ = name_ + "(" + Site<F>::sig.text + ")\n--\n\n" + prose;
}

// An attribute: a getter, and for writable attributes a setter. `save` reads
// its value out of a record for a pickled state, `load` converts a value into
// a record as the setter would (either is null where it does not apply).
struct Attribute {
    const char* name;
    getter get;
    setter set;
    const char* doc;
    PyObject* (*save)(const void* record) = nullptr;
    void (*load)(void* record, PyObject* value, const char* name) = nullptr;
};

// Pickling. An instance pickles as (talvo_core._reconstruct, (class name,
// state)), as the class itself cannot be found by its name ("builtins.Variable").
// The state is a tuple. A class with a constructor keeps the constructor's
// arguments, read by the attributes (or hidden fields) of the same names, and
// is restored by calling its constructor with them; a class without one keeps
// the value of every attribute and hidden field in spec order, and is restored
// by converting each as its setter would. Either way the instance is created
// only once the whole state has converted.

// The private member `_reconstruct(name, state)` of talvo_core.
Member& reconstructor();

// The class of record T.
class ClassBase : public Member {
public:
    PyObject* build(PyObject* module) override;
    // A new instance of the pickled class named `name` from `state`.
    static PyObject* reconstruct(const std::string& name, PyObject* state);

protected:
    // name: "Variable"; ctor: the constructor's parameters, or nullptr for a
    // class without one; prose: doc.
    ClassBase(const char* name, const Signature* ctor, const char* prose);
    virtual PyTypeObject* create_type() = 0;
    PyTypeObject* create_from(std::vector<PyType_Slot> slots, int basicsize, std::vector<PyGetSetDef>& getset,
                              std::vector<PyMethodDef>& methods);

    // Chooses the fields of the state from `attributes` and `hidden`, and
    // makes the class known to reconstruct(). False, with a Python error set,
    // when a field of the state has no way to be saved or restored.
    bool prepare_pickling(const std::vector<Attribute>& attributes, const std::vector<Attribute>& hidden);
    // The reduce value of the record at `record` (a snapshot of the instance's).
    PyObject* reduce(const void* record) const;
    // A new instance from a state: the constructor's arguments, or the fields.
    virtual PyObject* restore(PyObject* state) = 0;
    // Converts the fields of `state` into the record at `record`.
    void load_state(void* record, PyObject* state) const;
    // Unwinds with a TypeError when `state` is not a tuple.
    static void expect_state_tuple(PyObject* state);

    std::string name_;
    std::string qualified_;  // "builtins.Variable"
    std::string doc_;
    const Signature* ctor_;
    std::vector<Attribute> saved_;  // the fields of the pickled state, in order
};

// Refusing constructor of the classes without one.
PyObject* no_constructor(PyTypeObject* type, PyObject* args, PyObject* kwargs);

template <class T>
void instance_dealloc(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    instance_of<T>(self)->value.~T();
    instance_of<T>(self)->borrow.~BorrowFlag();
    auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(tp, Py_tp_free));
    free_fn(self);
    Py_DECREF(reinterpret_cast<PyObject*>(tp));
}

template <auto M>
PyObject* attribute_get(PyObject* self, void*) {
    using T = typename member_class<decltype(M)>::type;
    return guard([&] {
        auto* inst = instance_of<T>(self);
        SharedBorrow b(inst->borrow);
        return to_py(snapshot_field<M>(inst));
    });
}

template <auto M>
int attribute_set(PyObject* self, PyObject* value, void* closure) {
    using T = typename member_class<decltype(M)>::type;
    using V = typename member_class<decltype(M)>::value;
    if (!value) {
        PyErr_SetString(PyExc_AttributeError, messages::kCannotDelete);
        return -1;
    }
    return guard_int([&] {
        auto* inst = instance_of<T>(self);
        ExclusiveBorrow b(inst->borrow);
        V v = convert_attribute<V>(value, static_cast<const char*>(closure));
        swap_field<M>(inst, v);
    });
}

template <auto M>
PyObject* field_save(const void* record) {
    using T = typename member_class<decltype(M)>::type;
    return to_py(static_cast<const T*>(record)->*M);
}

template <auto M>
void field_load(void* record, PyObject* value, const char* name) {
    using T = typename member_class<decltype(M)>::type;
    using V = typename member_class<decltype(M)>::value;
    static_cast<T*>(record)->*M = convert_attribute<V>(value, name);
}

// The loader of field M, or null when its type only converts to Python.
template <auto M>
constexpr auto field_loader() {
    using V = typename member_class<decltype(M)>::value;
    if constexpr (requires(PyObject* o) { Conv<V>::from(o); }) {
        return &field_load<M>;
    } else {
        return static_cast<void (*)(void*, PyObject*, const char*)>(nullptr);
    }
}

// A read-only attribute over field M.
template <auto M>
Attribute readonly(const char* name, const char* doc = nullptr) {
    return {name, &attribute_get<M>, nullptr, doc, &field_save<M>, field_loader<M>()};
}

// A readable and writable attribute over field M.
template <auto M>
Attribute writable(const char* name, const char* doc = nullptr) {
    return {name, &attribute_get<M>, &attribute_set<M>, doc, &field_save<M>, field_loader<M>()};
}

// Field M kept in the pickled state of a class that shows it as no attribute.
template <auto M>
Attribute hidden_field(const char* name) {
    return {name, nullptr, nullptr, nullptr, &field_save<M>, field_loader<M>()};
}

// A read-only attribute computed from the record.
template <class T, auto F>
PyObject* computed_get(PyObject* self, void*) {
    return guard([&] {
        auto* inst = instance_of<T>(self);
        SharedBorrow b(inst->borrow);
        const T record = snapshot(inst);
        return to_py(F(record));
    });
}

template <class T, auto F>
PyObject* computed_save(const void* record) {
    return to_py(F(*static_cast<const T*>(record)));
}

// A read-only attribute computed from the record by F(const T&).
template <class T, auto F>
Attribute computed(const char* name, const char* doc = nullptr) {
    return {name, &computed_get<T, F>, nullptr, doc, &computed_save<T, F>, nullptr};
}

// A method of record T, made by py::method.
template <class T>
struct MethodSpec {
    const char* name;
    const char* prose;
    PyCFunctionWithKeywords entry;
    Signature* sig;
    Signature (*make_signature)(std::string display);
};

template <class T, class F>
struct MethodSite {
    using Params = typename drop_first<typename body_traits<F>::params>::type;
    static inline Signature sig;
    static PyObject* entry(PyObject* self, PyObject* args, PyObject* kwargs) {
        return guard([&] {
            auto* inst = instance_of<T>(self);
            SharedBorrow b(inst->borrow);
            const T record = snapshot(inst);
            return Binder<Params>::call(sig, args, kwargs, F{}, record);
        });
    }
};

// A method: body(const T& self, py::Arg<...>...) -> PyObject*.
template <class F, class T = std::tuple_element_t<0, typename body_traits<F>::params>>
MethodSpec<T> method(const char* name, const char* prose, F) {
    check_body<F>();
    static_assert(std::is_same_v<typename body_traits<F>::result, PyObject*>, "a method body returns PyObject*");
    return {name, prose, &MethodSite<T, F>::entry, &MethodSite<T, F>::sig,
            &Binder<typename MethodSite<T, F>::Params>::signature};
}

// The constructor of record T, made by py::constructor.
template <class T>
struct Constructor {
    T (*make)(PyObject* args, PyObject* kwargs) = nullptr;
    Signature* sig = nullptr;
    Signature (*make_signature)(std::string display) = nullptr;
};

template <class F>
struct ConstructorSite {
    using Params = typename body_traits<F>::params;
    using T = typename body_traits<F>::result;
    static inline Signature sig;
    static T make(PyObject* args, PyObject* kwargs) { return Binder<Params>::call(sig, args, kwargs, F{}); }
};

// A constructor: body(py::Arg<...>...) -> T.
template <class F>
Constructor<typename body_traits<F>::result> constructor(F) {
    check_body<F>();
    return {&ConstructorSite<F>::make, &ConstructorSite<F>::sig, &Binder<typename ConstructorSite<F>::Params>::signature};
}

// The class of record T, from a spec written with designated initializers:
//
//     static py::Class<Variable> c({
//         .name = "Variable",
//         .attributes = {py::writable<&Variable::name>("name")},
//         .ctor = py::constructor([](py::Arg<std::string, "name"> name) { return Variable{name.value}; }),
//     });
template <class T>
class Class : public ClassBase {
public:
    using Repr = std::string (*)(const T&);

    struct Spec {
        const char* name;
        const char* prose = "";
        std::vector<Attribute> attributes = {};
        std::vector<MethodSpec<T>> methods = {};
        Constructor<T> ctor = {};  // none: the class refuses to be called
        Repr repr = nullptr;
        // Fields of the pickled state that are no attributes (py::hidden_field).
        std::vector<Attribute> hidden = {};
        // False: instances do not pickle (the class has no __reduce__).
        bool pickled = true;
    };

    static_assert(is_record<T>, "declare the record of every class in types_py.h");

    explicit Class(Spec spec) : ClassBase(spec.name, constructor_signature(spec), spec.prose), spec_(std::move(spec)) {
        self_ = this;
    }

private:
    static inline Class* self_ = nullptr;

    static const Signature* constructor_signature(const Spec& spec) {
        if (!spec.ctor.make) return nullptr;
        *spec.ctor.sig = spec.ctor.make_signature(std::string(spec.name) + ".__new__()");
        return spec.ctor.sig;
    }

    static PyObject* construct(PyTypeObject*, PyObject* args, PyObject* kwargs) {
        return guard([&] { return new_instance<T>(self_->spec_.ctor.make(args, kwargs)); });
    }

    static PyObject* reduce_impl(PyObject* self, PyObject*) {
        return guard([&] {
            auto* inst = instance_of<T>(self);
            SharedBorrow b(inst->borrow);
            const T record = snapshot(inst);
            return self_->reduce(&record);
        });
    }

    PyObject* restore(PyObject* state) override {
        expect_state_tuple(state);
        if (spec_.ctor.make) return new_instance<T>(spec_.ctor.make(state, nullptr));
        if constexpr (std::is_default_constructible_v<T>) {
            T value{};
            load_state(&value, state);
            return new_instance<T>(std::move(value));
        } else {
            static_assert(std::is_default_constructible_v<T>, "a pickled record is default-constructible");
        }
    }

    static PyObject* repr_impl(PyObject* self) {
        return guard([&] {
            auto* inst = instance_of<T>(self);
            SharedBorrow b(inst->borrow);
            const T record = snapshot(inst);
            return to_py(self_->spec_.repr(record));
        });
    }

    PyTypeObject* create_type() override {
        method_docs_.clear();
        method_defs_.clear();
        for (const auto& m : spec_.methods) {
            *m.sig = m.make_signature(name_ + "." + m.name + "()");
            const std::string& params = m.sig->text;
            method_docs_.push_back(std::string(m.name) + "($self" + (params.empty() ? "" : ", ") + params + ")\n--\n\n" +
                                   m.prose);
        }
        for (std::size_t i = 0; i < spec_.methods.size(); ++i) {
            method_defs_.push_back({spec_.methods[i].name,
                                    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(spec_.methods[i].entry)),
                                    METH_VARARGS | METH_KEYWORDS, method_docs_[i].c_str()});
        }
        if (spec_.pickled) {
            if (!prepare_pickling(spec_.attributes, spec_.hidden)) return nullptr;
            method_defs_.push_back(
                {"__reduce__", reinterpret_cast<PyCFunction>(&reduce_impl), METH_NOARGS, "Helper for pickle."});
        }
        method_defs_.push_back({nullptr, nullptr, 0, nullptr});
        getset_defs_.clear();
        for (const auto& a : spec_.attributes) {
            getset_defs_.push_back({a.name, a.get, a.set, a.doc, const_cast<char*>(a.name)});
        }
        getset_defs_.push_back({nullptr, nullptr, nullptr, nullptr, nullptr});

        std::vector<PyType_Slot> slots;
        slots.push_back({Py_tp_new, reinterpret_cast<void*>(spec_.ctor.make ? &construct : &no_constructor)});
        slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(&instance_dealloc<T>)});
        if (spec_.repr) slots.push_back({Py_tp_repr, reinterpret_cast<void*>(&repr_impl)});
        PyTypeObject* tp = create_from(std::move(slots), instance_basicsize<T>(), getset_defs_,
                                       method_defs_);
        TypeSlot<T>::type = tp;
        TypeSlot<T>::name = name_.c_str();
        return tp;
    }

    Spec spec_;
    std::vector<std::string> method_docs_;
    std::vector<PyMethodDef> method_defs_;
    std::vector<PyGetSetDef> getset_defs_;
};

}  // namespace talvo::py
