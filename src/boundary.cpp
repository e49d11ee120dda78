#include "boundary.h"

#include <cstdio>

namespace talvo::py {

std::string type_name(PyObject* o) {
    PyObject* name = PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(o)), "__name__");
    // GCOVR_EXCL_START: a type's __name__ is always a str (type.__name__
    // cannot be deleted or set to anything else); kept in case of a failure.
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
    // GCOVR_EXCL_STOP
    return std::string(text, static_cast<std::size_t>(len));
}

void raise(PyObject* exc_type, const std::string& message) {
    PyErr_SetString(exc_type, message.c_str());
    throw_error();
}

void raise_type_error(const std::string& message) { raise(PyExc_TypeError, message); }

void raise_cannot_convert(PyObject* o, const char* target) {
    raise_type_error(messages::cannot_convert(type_name(o), target));
}

SharedBorrow::SharedBorrow(BorrowFlag& f) : f_(f) {
    if (f_.state < 0) raise(PyExc_RuntimeError, messages::kAlreadyMutablyBorrowed);
    ++f_.state;
}

ExclusiveBorrow::ExclusiveBorrow(BorrowFlag& f) : f_(f) {
    if (f_.state != 0) raise(PyExc_RuntimeError, messages::kAlreadyBorrowed);
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
    if (overflow != 0 || v < 0 || v > 255) raise(PyExc_OverflowError, messages::kIntegerOutOfRange);
    return static_cast<std::uint8_t>(v);
}

double Conv<double>::from(PyObject* o) {
    double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) throw_error();
    return v;
}

std::string Conv<std::string>::from(PyObject* o) {
    if (!PyUnicode_Check(o)) raise_cannot_convert(o, messages::kTargetStr);
    Py_ssize_t len = 0;
    const char* text = PyUnicode_AsUTF8AndSize(o, &len);
    if (!text) throw_error();
    return std::string(text, static_cast<std::size_t>(len));
}

PyObject* Conv<std::string>::to(const std::string& v) {
    return check(PyUnicode_FromStringAndSize(v.data(), static_cast<Py_ssize_t>(v.size())));
}

Ref sequence_iter(PyObject* o, Py_ssize_t& size_hint) {
    if (PyUnicode_Check(o)) raise_type_error(messages::kStrToList);
    if (!PySequence_Check(o)) raise_cannot_convert(o, messages::kTargetSequence);
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
    if (!PyTuple_Check(o)) raise_cannot_convert(o, messages::kTargetTuple);
    Py_ssize_t actual = PyTuple_Size(o);
    if (actual != n) {
        raise(PyExc_ValueError, messages::tuple_length(n, actual));
    }
}

void expect_dict(PyObject* o) {
    if (!PyDict_Check(o)) raise_cannot_convert(o, messages::kTargetDict);
}

// ---------------------------------------------------------------------------
// Binding.

void bind_arguments(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** values) {
    const std::size_t n = sig.names.size();
    const Py_ssize_t given = args ? PyTuple_Size(args) : 0;
    if (static_cast<std::size_t>(given) > n) {
        raise_type_error(messages::too_many_positional(sig.display, sig.required, n, static_cast<std::size_t>(given)));
    }
    for (Py_ssize_t i = 0; i < given; ++i) values[i] = PyTuple_GetItem(args, i);
    if (kwargs && PyDict_Size(kwargs) > 0) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            Py_ssize_t len = 0;
            const char* text = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &len) : nullptr;
            if (!text) {
                if (PyErr_Occurred()) throw_error();
                raise_type_error(messages::keywords_must_be_strings(sig.display));
            }
            std::string_view kw(text, static_cast<std::size_t>(len));
            std::size_t i = 0;
            while (i < n && sig.names[i] != kw) ++i;
            if (i == n) raise_type_error(messages::unexpected_keyword(sig.display, kw));
            if (values[i]) raise_type_error(messages::multiple_values(sig.display, kw));
            values[i] = value;
        }
    }
    std::vector<std::string> missing;
    for (std::size_t i = 0; i < sig.required; ++i) {
        if (!values[i]) missing.push_back(sig.names[i]);
    }
    if (!missing.empty()) raise_type_error(messages::missing_arguments(sig.display, missing));
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
    std::string msg = messages::for_argument(name, std::string_view(utf8, static_cast<std::size_t>(len)));
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
    std::fprintf(stderr, messages::kFaultReport, message.c_str());
    std::fflush(stderr);
    PyObject* cls = panic_class();
    if (!cls) return;  // the error of creating the class is set
    PyObject* text = message_object(message);
    if (!text) return;
    PyErr_SetObject(cls, text);
    Py_DECREF(text);
}

// The stand-in raised when the calling package cannot give its SizeViolation
// class (not installed, or without that attribute): an Exception subclass of
// the same name, so that the size message still reaches the user. Created once
// per process; not a module attribute, as the member list is fixed.
static PyObject* fallback_size_class() {
    static PyObject* cls = nullptr;
    if (!cls) {
        cls = PyErr_NewExceptionWithDoc("talvo_core.SizeViolation",
                                        "An input beyond a size limit of talvo_core, raised when "
                                        "talvo.exceptions.SizeViolation cannot be imported.\n\n"
                                        "str() is the whole size message; __cause__ is the import failure.",
                                        PyExc_Exception, nullptr);
    }
    return cls;
}

// Raises the stand-in with `message`, chained from the pending import failure.
static void raise_fallback_size_violation(const std::string& message) {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    if (tb && value) PyException_SetTraceback(value, tb);
    Py_XDECREF(type);
    Py_XDECREF(tb);
    PyObject* cls = fallback_size_class();
    PyObject* text = cls ? message_object(message) : nullptr;
    PyObject* exc = text ? PyObject_CallFunctionObjArgs(cls, text, nullptr) : nullptr;
    Py_XDECREF(text);
    if (!exc) {
        Py_XDECREF(value);
        return;  // the error of creating it is set
    }
    if (value) {
        PyException_SetContext(exc, Py_NewRef(value));
        PyException_SetCause(exc, value);  // steals the reference
    }
    PyErr_SetObject(cls, exc);
    Py_DECREF(exc);
}

void set_size_violation(const std::string& message) {
    // The class is looked up on every raise until it is found, so that a
    // calling package installed later in the process is still used; once
    // found it is kept for the rest of the process.
    static PyObject* cls = nullptr;
    if (!cls) {
        PyObject* mod = PyImport_ImportModule("talvo.exceptions");
        PyObject* attr = mod ? PyObject_GetAttrString(mod, "SizeViolation") : nullptr;
        Py_XDECREF(mod);
        if (!attr) {
            // Only an ordinary failure (not found, no such attribute, a broken
            // package) is replaced; KeyboardInterrupt and the like go on.
            if (PyErr_ExceptionMatches(PyExc_Exception)) raise_fallback_size_violation(message);
            return;
        }
        if (!PyType_Check(attr)) {
            std::string msg = messages::cannot_convert(type_name(attr), messages::kTargetType);
            Py_DECREF(attr);
            PyErr_SetString(PyExc_TypeError, msg.c_str());
            return;
        }
        cls = attr;  // kept for the rest of the process
    }
    int is_exc = PyObject_IsSubclass(cls, PyExc_BaseException);
    if (is_exc < 0) return;
    if (!is_exc) {
        PyErr_SetString(PyExc_TypeError, messages::kNotAnException);
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
    // GCOVR_EXCL_START: every kernel checks its sizes before it allocates and
    // throws only the types above; these arms turn anything else into a
    // PanicException rather than a terminated process.
    } catch (const std::length_error&) {
        set_panic(messages::kCapacityOverflow);
    } catch (const std::exception& e) {
        set_panic(e.what());
    } catch (...) {
        set_panic(messages::kUnknownFault);
    }
    // GCOVR_EXCL_STOP
}

// ---------------------------------------------------------------------------
// Functions.

PyObject* Function::build(PyObject* module) {
    def_ = {name_.c_str(), reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry_)),
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
    PyErr_SetString(PyExc_TypeError, messages::no_constructor(name).c_str());
    return nullptr;
}

ClassBase::ClassBase(const char* name, const Signature* ctor, const char* prose)
    : name_(name), qualified_(std::string("builtins.") + name) {
    if (ctor) {
        doc_ = name_ + "(" + ctor->text + ")\n--\n\n" + prose;
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
    if (rc < 0) {  // GCOVR_EXCL_START: only when memory runs out during import
        Py_DECREF(tp);
        return nullptr;
    }  // GCOVR_EXCL_STOP
    return reinterpret_cast<PyTypeObject*>(tp);
}

PyObject* ClassBase::build(PyObject*) {
    PyTypeObject* tp = create_type();
    if (!tp) {  // GCOVR_EXCL_START: only when memory runs out during import
        PyObject *type, *value, *tb;
        PyErr_Fetch(&type, &value, &tb);
        PyErr_NormalizeException(&type, &value, &tb);
        std::string msg = messages::class_init_failed(name_);
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
    }  // GCOVR_EXCL_STOP
    // The type object lives for the rest of the process.
    Py_INCREF(reinterpret_cast<PyObject*>(tp));
    return reinterpret_cast<PyObject*>(tp);
}

}  // namespace talvo::py
