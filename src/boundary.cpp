#include "boundary.h"

#include <cstdio>

namespace talvo::py {

std::string type_name(PyObject* o) {
    PyObject* name = PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(o)), "__name__");
    if (!name) {
        PyErr_Clear();
        return "object";
    }
    Ref holder(name);
    Py_ssize_t len = 0;
    const char* text = PyUnicode_Check(name) ? PyUnicode_AsUTF8AndSize(name, &len) : nullptr;
    if (!text) {
        PyErr_Clear();
        return "object";
    }
    return std::string(text, static_cast<std::size_t>(len));
}

void raise(PyObject* exc_type, const std::string& message) {
    PyErr_SetString(exc_type, message.c_str());
    throw_error();
}

void raise_type_error(const std::string& message) { raise(PyExc_TypeError, message); }

void raise_cannot_convert(PyObject* o, const char* target) {
    raise_type_error("'" + type_name(o) + "' object cannot be converted to '" + target + "'");
}

SharedBorrow::SharedBorrow(BorrowFlag& f) : f_(f) {
    if (f_.state < 0) raise(PyExc_RuntimeError, "Already mutably borrowed");
    ++f_.state;
}

ExclusiveBorrow::ExclusiveBorrow(BorrowFlag& f) : f_(f) {
    if (f_.state != 0) raise(PyExc_RuntimeError, "Already borrowed");
    f_.state = -1;
}

// ---------------------------------------------------------------------------
// Scalar conversions.

std::uint64_t Conv<std::uint64_t>::from(PyObject* o) {
    Ref index = own(PyNumber_Index(o));
    unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw_error();
    return v;
}

std::uint8_t Conv<std::uint8_t>::from(PyObject* o) {
    Ref index = own(PyNumber_Index(o));
    int overflow = 0;
    long v = PyLong_AsLongAndOverflow(index.get(), &overflow);
    if (v == -1 && PyErr_Occurred()) throw_error();
    if (overflow != 0 || v < 0 || v > 255) raise(PyExc_OverflowError, "out of range integral type conversion attempted");
    return static_cast<std::uint8_t>(v);
}

double Conv<double>::from(PyObject* o) {
    double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) throw_error();
    return v;
}

std::string Conv<std::string>::from(PyObject* o) {
    if (!PyUnicode_Check(o)) raise_cannot_convert(o, "PyString");
    Py_ssize_t len = 0;
    const char* text = PyUnicode_AsUTF8AndSize(o, &len);
    if (!text) throw_error();
    return std::string(text, static_cast<std::size_t>(len));
}

PyObject* Conv<std::string>::to(const std::string& v) {
    return check(PyUnicode_FromStringAndSize(v.data(), static_cast<Py_ssize_t>(v.size())));
}

Ref sequence_iter(PyObject* o, Py_ssize_t& size_hint) {
    if (PyUnicode_Check(o)) raise_type_error("Can't extract `str` to `Vec`");
    if (!PySequence_Check(o)) raise_cannot_convert(o, "Sequence");
    size_hint = PySequence_Size(o);
    if (size_hint < 0) {
        PyErr_Clear();
        size_hint = 0;
    }
    // The reported length only sizes the first buffer; a lying __len__ must
    // not make us reserve absurd amounts.
    if (size_hint > (Py_ssize_t{1} << 20)) size_hint = Py_ssize_t{1} << 20;
    return own(PyObject_GetIter(o));
}

PyObject* iter_next(PyObject* it) {
    PyObject* item = PyIter_Next(it);
    if (!item && PyErr_Occurred()) throw_error();
    return item;
}

void expect_tuple(PyObject* o, Py_ssize_t n) {
    if (!PyTuple_Check(o)) raise_cannot_convert(o, "PyTuple");
    Py_ssize_t actual = PyTuple_Size(o);
    if (actual != n) {
        raise(PyExc_ValueError, "expected tuple of length " + std::to_string(n) + ", but got tuple of length " +
                                    std::to_string(actual));
    }
}

void expect_dict(PyObject* o) {
    if (!PyDict_Check(o)) raise_cannot_convert(o, "PyDict");
}

// ---------------------------------------------------------------------------
// Binding.

static std::string_view trim(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

Signature Signature::parse(std::string_view text, std::string display) {
    Signature sig;
    sig.display = std::move(display);
    std::string_view inner = text.substr(1, text.size() - 2);  // strip the parentheses
    bool seen_default = false;
    while (!inner.empty()) {
        std::size_t comma = inner.find(',');
        std::string_view param = trim(inner.substr(0, comma));
        inner = comma == std::string_view::npos ? std::string_view{} : inner.substr(comma + 1);
        if (param.empty() || param.front() == '$') continue;
        std::size_t eq = param.find('=');
        if (eq != std::string_view::npos) {
            seen_default = true;
            param = trim(param.substr(0, eq));
        } else if (!seen_default) {
            ++sig.required;
        }
        sig.names.emplace_back(param);
    }
    return sig;
}

static std::string quoted_list(const std::vector<std::string>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        out += "'" + names[i] + "'";
    }
    return out;
}

Args::Args(const Signature& sig, PyObject* args, PyObject* kwargs) : sig_(sig) {
    const std::size_t n = sig.names.size();
    const Py_ssize_t given = args ? PyTuple_Size(args) : 0;
    if (static_cast<std::size_t>(given) > n) {
        std::string msg = sig.display + " takes ";
        msg += sig.required != n ? "from " + std::to_string(sig.required) + " to " + std::to_string(n)
                                 : std::to_string(n);
        msg += " positional arguments but " + std::to_string(given) + (given == 1 ? " was" : " were") + " given";
        raise_type_error(msg);
    }
    for (Py_ssize_t i = 0; i < given; ++i) values_[static_cast<std::size_t>(i)] = PyTuple_GetItem(args, i);
    if (kwargs && PyDict_Size(kwargs) > 0) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            Py_ssize_t len = 0;
            const char* text = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &len) : nullptr;
            if (!text) {
                if (PyErr_Occurred()) throw_error();
                raise_type_error(sig.display + " keywords must be strings");
            }
            std::string_view kw(text, static_cast<std::size_t>(len));
            std::size_t i = 0;
            while (i < n && sig.names[i] != kw) ++i;
            if (i == n) raise_type_error(sig.display + " got an unexpected keyword argument '" + std::string(kw) + "'");
            if (values_[i]) raise_type_error(sig.display + " got multiple values for argument '" + std::string(kw) + "'");
            values_[i] = value;
        }
    }
    std::vector<std::string> missing;
    for (std::size_t i = 0; i < sig.required; ++i) {
        if (!values_[i]) missing.push_back(sig.names[i]);
    }
    if (!missing.empty()) {
        std::string msg = sig.display + " missing " + std::to_string(missing.size()) + " required positional argument" +
                          (missing.size() == 1 ? "" : "s") + ": " + quoted_list(missing);
        raise_type_error(msg);
    }
}

void rethrow_for_argument(const char* name) {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    if (type != PyExc_TypeError) {
        PyErr_Restore(type, value, tb);
        throw_error();
    }
    PyErr_NormalizeException(&type, &value, &tb);
    Ref t(type), v(value), trace(tb);
    Ref text(PyObject_Str(value));
    if (!text) throw_error();
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &len);
    if (!utf8) throw_error();
    std::string msg = std::string("argument '") + name + "': " + std::string(utf8, static_cast<std::size_t>(len));
    Ref exc = own(PyObject_CallFunction(PyExc_TypeError, "s#", msg.data(), static_cast<Py_ssize_t>(msg.size())));
    if (PyObject* cause = PyException_GetCause(value)) PyException_SetCause(exc.get(), cause);
    PyErr_SetObject(PyExc_TypeError, exc.get());
    throw_error();
}

// ---------------------------------------------------------------------------
// The module's own errors.

static PyObject* panic_class() {
    static PyObject* cls = nullptr;
    if (!cls) {
        cls = PyErr_NewExceptionWithDoc("talvo_core.PanicException",
                                        "An internal fault ended a call of talvo_core.\n\n"
                                        "Derived from BaseException, so `except Exception` does not catch it.",
                                        PyExc_BaseException, nullptr);
    }
    return cls;
}

void raise_pending_signal() {
    if (PyErr_CheckSignals() < 0) throw_error();
}

// A message as a Python str; bytes that are not UTF-8 are replaced.
static PyObject* message_object(const std::string& message) {
    return PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
}

void set_panic(const std::string& message) {
    std::fprintf(stderr, "talvo_core: internal fault: %s\n", message.c_str());
    std::fflush(stderr);
    PyObject* cls = panic_class();
    if (!cls) return;  // the error of creating the class is set
    PyObject* text = message_object(message);
    if (!text) return;
    PyErr_SetObject(cls, text);
    Py_DECREF(text);
}

void set_size_violation(const std::string& message) {
    static PyObject* cls = nullptr;
    if (!cls) {
        PyObject* mod = PyImport_ImportModule("talvo.exceptions");
        if (!mod) return;
        PyObject* attr = PyObject_GetAttrString(mod, "SizeViolation");
        Py_DECREF(mod);
        if (!attr) return;
        if (!PyType_Check(attr)) {
            std::string msg = "'" + type_name(attr) + "' object cannot be converted to 'PyType'";
            Py_DECREF(attr);
            PyErr_SetString(PyExc_TypeError, msg.c_str());
            return;
        }
        cls = attr;  // kept for the rest of the process
    }
    int is_exc = PyObject_IsSubclass(cls, PyExc_BaseException);
    if (is_exc < 0) return;
    if (!is_exc) {
        PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
        return;
    }
    PyObject* text = message_object(message);
    if (!text) return;
    PyErr_SetObject(cls, text);
    Py_DECREF(text);
}

void set_from_current_exception() {
    try {
        throw;
    } catch (const PyError&) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "talvo_core: error without exception set");
    } catch (const Panic& e) {
        set_panic(e.message);
    } catch (const SizeLimit& e) {
        set_size_violation(e.message);
    } catch (const InvalidInput& e) {
        if (PyObject* text = message_object(e.message)) {
            PyErr_SetObject(PyExc_ValueError, text);
            Py_DECREF(text);
        }
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::length_error&) {
        set_panic("capacity overflow");
    } catch (const std::exception& e) {
        set_panic(e.what());
    } catch (...) {
        set_panic("unknown internal fault");
    }
}

// ---------------------------------------------------------------------------
// Functions.

namespace {
constexpr std::size_t kMaxFunctions = 32;
Function* g_functions[kMaxFunctions];
std::size_t g_function_count = 0;

template <std::size_t I>
PyObject* function_trampoline(PyObject*, PyObject* args, PyObject* kwargs) {
    return g_functions[I]->call(args, kwargs);
}

template <std::size_t... I>
constexpr std::array<PyCFunctionWithKeywords, sizeof...(I)> function_trampolines(std::index_sequence<I...>) {
    return {&function_trampoline<I>...};
}
constexpr auto kTrampolines = function_trampolines(std::make_index_sequence<kMaxFunctions>{});
}  // namespace

Function::Function(const char* signature, const char* prose, Body body) : body_(body) {
    std::string_view sig(signature);
    std::size_t paren = sig.find('(');
    name_ = std::string(sig.substr(0, paren));
    sig_ = Signature::parse(sig.substr(paren), name_ + "()");
    doc_ = std::string(sig) + "\n--\n\n" + prose;
    slot_ = g_function_count++;
    if (slot_ >= kMaxFunctions) panic("too many functions registered");
    g_functions[slot_] = this;
}

PyObject* Function::call(PyObject* args, PyObject* kwargs) {
    return guard([&] {
        Args a(sig_, args, kwargs);
        return body_(a);
    });
}

PyObject* Function::build(PyObject* module) {
    def_ = {name_.c_str(), reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(kTrampolines[slot_])),
            METH_VARARGS | METH_KEYWORDS, doc_.c_str()};
    PyObject* modname = PyModule_GetNameObject(module);
    if (!modname) return nullptr;
    PyObject* f = PyCFunction_NewEx(&def_, module, modname);
    Py_DECREF(modname);
    return f;
}

// ---------------------------------------------------------------------------
// Classes.

PyObject* no_constructor(PyTypeObject* type, PyObject*, PyObject*) {
    std::string name = "object";
    if (PyObject* n = PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__")) {
        Ref holder(n);
        if (const char* text = PyUnicode_AsUTF8AndSize(n, nullptr)) name = text;
    }
    PyErr_Clear();
    PyErr_SetString(PyExc_TypeError, ("No constructor defined for " + name).c_str());
    return nullptr;
}

ClassBase::ClassBase(const char* name, const char* signature, const char* prose)
    : name_(name), qualified_(std::string("builtins.") + name), has_constructor_(signature != nullptr) {
    if (signature) {
        doc_ = name_ + signature + "\n--\n\n" + prose;
        ctor_sig_ = Signature::parse(signature, name_ + ".__new__()");
    } else {
        doc_ = prose;
    }
}

PyTypeObject* ClassBase::create_from(std::vector<PyType_Slot> slots, int basicsize,
                                     std::vector<PyGetSetDef>& getset, std::vector<PyMethodDef>& methods) {
    // A class without a constructor and without prose has no docstring at all.
    if (!doc_.empty()) slots.push_back({Py_tp_doc, const_cast<char*>(doc_.c_str())});
    if (getset.size() > 1) slots.push_back({Py_tp_getset, getset.data()});
    if (methods.size() > 1) slots.push_back({Py_tp_methods, methods.data()});
    slots.push_back({0, nullptr});
    // Created as "builtins.Variable", so __module__ reads "builtins" whichever
    // module the class is placed in; then renamed to the bare class name, so
    // the class prints as <class 'Variable'> and messages name it 'Variable'.
    PyType_Spec spec = {qualified_.c_str(), basicsize, 0, Py_TPFLAGS_DEFAULT, slots.data()};
    PyObject* tp = PyType_FromSpec(&spec);
    if (!tp) return nullptr;
    PyObject* bare = PyUnicode_FromStringAndSize(name_.data(), static_cast<Py_ssize_t>(name_.size()));
    int rc = bare ? PyObject_SetAttrString(tp, "__name__", bare) : -1;
    Py_XDECREF(bare);
    if (rc < 0) {
        Py_DECREF(tp);
        return nullptr;
    }
    return reinterpret_cast<PyTypeObject*>(tp);
}

PyObject* ClassBase::build(PyObject*) {
    PyTypeObject* tp = create_type();
    if (!tp) {
        PyObject *type, *value, *tb;
        PyErr_Fetch(&type, &value, &tb);
        PyErr_NormalizeException(&type, &value, &tb);
        std::string msg = "An error occurred while initializing class " + name_;
        PyObject* exc = PyObject_CallFunction(PyExc_RuntimeError, "s", msg.c_str());
        if (exc && value) PyException_SetCause(exc, Py_NewRef(value));
        Py_XDECREF(type);
        Py_XDECREF(value);
        Py_XDECREF(tb);
        if (exc) {
            PyErr_SetObject(PyExc_RuntimeError, exc);
            Py_DECREF(exc);
        }
        return nullptr;
    }
    // The type object lives for the rest of the process.
    Py_INCREF(tp);
    return reinterpret_cast<PyObject*>(tp);
}

}  // namespace talvo::py
