#include "boundary.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

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

// The borrows this thread holds, newest first: each is an object on this
// thread's stack, linked to the one taken before it.
static thread_local const Borrow* t_borrows = nullptr;

Borrow::Borrow(const BorrowFlag& f, bool exclusive) : flag_(&f), exclusive_(exclusive), below_(t_borrows) {
    for (const Borrow* b = t_borrows; b; b = b->below_) {
        if (b->flag_ != &f) continue;
        if (exclusive) raise(PyExc_RuntimeError, messages::kAlreadyBorrowed);
        if (b->exclusive_) raise(PyExc_RuntimeError, messages::kAlreadyMutablyBorrowed);
    }
    t_borrows = this;
}

Borrow::~Borrow() { t_borrows = below_; }

void Borrow::check_shared(const BorrowFlag& f) {
    for (const Borrow* b = t_borrows; b; b = b->below_) {
        if (b->flag_ == &f && b->exclusive_) raise(PyExc_RuntimeError, messages::kAlreadyMutablyBorrowed);
    }
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

// Keeps `made` (a new reference) in `slot` for the rest of the process,
// unless another thread has kept one first: then `made` is dropped and that
// one is used. Every thread therefore uses the same object from the start.
static PyObject* keep_first(std::atomic<PyObject*>& slot, PyObject* made) {
    PyObject* kept = nullptr;
    if (slot.compare_exchange_strong(kept, made, std::memory_order_acq_rel, std::memory_order_acquire)) return made;
    Py_DECREF(made);  // GCOVR_EXCL_LINE: only when threads race to make it without the GIL
    return kept;      // GCOVR_EXCL_LINE
}

static PyObject* panic_class() {
    static std::atomic<PyObject*> cls{nullptr};
    if (PyObject* kept = cls.load(std::memory_order_acquire)) return kept;
    PyObject* made = PyErr_NewExceptionWithDoc("talvo_core.PanicException",
                                               "An internal fault ended a call of talvo_core.\n\n"
                                               "Derived from BaseException, so `except Exception` does not catch it.",
                                               PyExc_BaseException, nullptr);
    return made ? keep_first(cls, made) : nullptr;
}

bool gil_disabled() {
#if defined(Py_GIL_DISABLED) && !defined(Py_TARGET_ABI3T)
    return true;
#else
    // The abi3t build loads on interpreters with and without the GIL alike
    // (its headers define Py_GIL_DISABLED on both), so it asks: a
    // free-threaded interpreter has a "t" in sys.abiflags, also while some
    // other module has the GIL switched on.
    // GCOVR_EXCL_START: CPython 3.13 and later (the suite checks it there)
#if defined(Py_TARGET_ABI3T)
    PyObject* flags = PySys_GetObject("abiflags");  // borrowed
    const char* text = flags && PyUnicode_Check(flags) ? PyUnicode_AsUTF8AndSize(flags, nullptr) : nullptr;
    if (!text) PyErr_Clear();
    else if (std::strchr(text, 't')) return true;
#endif
    PyObject* is_enabled = PySys_GetObject("_is_gil_enabled");  // borrowed; absent before 3.13
    if (!is_enabled) return false;
    PyObject* answer = PyObject_CallNoArgs(is_enabled);
    if (!answer) {
        PyErr_Clear();
        return false;
    }
    const bool off = answer == Py_False;
    Py_DECREF(answer);
    return off;
    // GCOVR_EXCL_STOP
#endif
}

void raise_pending_signal() {
    // On an interpreter without the GIL, a thread that runs native code
    // without ever detaching from the interpreter holds up every
    // stop-the-world pause (a garbage collection started by another thread,
    // say) until its call returns: there each poll detaches for an instant,
    // so a pending pause can happen.
    if (calls_at_once.load(std::memory_order_relaxed)) PyEval_RestoreThread(PyEval_SaveThread());
    // Only the main thread handles signals: on any other thread this reports
    // nothing, and a Ctrl-C waits for the main thread.
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
    static std::atomic<PyObject*> cls{nullptr};
    if (PyObject* kept = cls.load(std::memory_order_acquire)) return kept;
    PyObject* made = PyErr_NewExceptionWithDoc("talvo_core.SizeViolation",
                                               "An input beyond a size limit of talvo_core, raised when "
                                               "talvo.exceptions.SizeViolation cannot be imported.\n\n"
                                               "str() is the whole size message; a note says why the class is "
                                               "this one, and __context__ is the import failure.",
                                               PyExc_Exception, nullptr);
    return made ? keep_first(cls, made) : nullptr;
}

// The one-line note saying why the stand-in was raised: `talvo` missing
// altogether, or the import failure's type and text.
static std::string own_size_violation_note(PyObject* import_error) {
    if (!import_error) return messages::kOwnSizeViolationNoTalvo;
    if (PyErr_GivenExceptionMatches(import_error, PyExc_ModuleNotFoundError)) {
        PyObject* name = PyObject_GetAttrString(import_error, "name");
        if (!name) PyErr_Clear();
        bool talvo_missing = name && PyUnicode_Check(name) && PyUnicode_CompareWithASCIIString(name, "talvo") == 0;
        Py_XDECREF(name);
        if (talvo_missing) return messages::kOwnSizeViolationNoTalvo;
    }
    std::string text = type_name(import_error);
    PyObject* str = PyObject_Str(import_error);
    const char* utf8 = str ? PyUnicode_AsUTF8AndSize(str, nullptr) : nullptr;
    if (utf8 && *utf8) text += std::string(": ") + utf8;
    if (!utf8) PyErr_Clear();
    Py_XDECREF(str);
    return messages::own_size_violation(text);
}

// Raises the stand-in with `message`. The pending import failure becomes its
// context, kept for debugging but not printed (it is no fault of the caller's
// install), and a note says in one line that this is the module's own class.
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
    std::string note_text = own_size_violation_note(value);
    PyObject* note = message_object(note_text);
    PyObject* notes = note ? PyList_New(1) : nullptr;
    if (notes) PyList_SetItem(notes, 0, Py_NewRef(note));
    Py_XDECREF(note);
    // __notes__ as the standard traceback printer shows it (3.11 and later);
    // on 3.10 it is only an attribute.
    if (!notes || PyObject_SetAttrString(exc, "__notes__", notes) < 0 ||
        (value && PyObject_SetAttrString(exc, "__suppress_context__", Py_True) < 0)) {
        Py_XDECREF(notes);
        Py_XDECREF(value);
        Py_DECREF(exc);
        return;
    }
    Py_DECREF(notes);
    if (value) PyException_SetContext(exc, value);  // steals the reference
    // Restored as it stands: PyErr_SetObject would replace that context with
    // an exception the caller is handling.
    PyErr_Restore(Py_NewRef(cls), exc, nullptr);
}

void set_size_violation(const std::string& message) {
    // The class is looked up on every raise until it is found, so that a
    // calling package installed later in the process is still used; once
    // found it is kept for the rest of the process (by the first thread to
    // find it, when several look at once).
    static std::atomic<PyObject*> kept{nullptr};
    PyObject* cls = kept.load(std::memory_order_acquire);
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
        cls = keep_first(kept, attr);
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
    : name_(name), qualified_(std::string("builtins.") + name), ctor_(ctor) {
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


// ---------------------------------------------------------------------------
// Pickling.

namespace {

// The classes whose instances pickle, in the order they were created.
std::vector<ClassBase*>& pickled_classes() {
    static std::vector<ClassBase*> classes;
    return classes;
}

// talvo_core._reconstruct, kept from its creation for the reduce values.
PyObject* g_reconstructor = nullptr;

class Reconstructor final : public Member {
public:
    PyObject* build(PyObject* module) override {
        PyObject* f = function_.build(module);
        if (f) {
            Py_XDECREF(g_reconstructor);
            g_reconstructor = Py_NewRef(f);
        }
        return f;
    }

private:
    Function function_{"_reconstruct",
                       "Rebuilds a pickled instance of a class of talvo_core from the name of its class and its "
                       "state (a tuple).",
                       [](Arg<std::string, "name"> name, Arg<Ref, "state"> state) -> PyObject* {
                           return ClassBase::reconstruct(name.value, state.value.get());
                       }};
};

}  // namespace

Member& reconstructor() {
    static Reconstructor r;
    return r;
}

PyObject* ClassBase::reconstruct(const std::string& name, PyObject* state) {
    for (ClassBase* c : pickled_classes()) {
        if (c->name_ == name) return c->restore(state);
    }
    raise(PyExc_ValueError, messages::no_pickled_class(name));
}

bool ClassBase::prepare_pickling(const std::vector<Attribute>& attributes, const std::vector<Attribute>& hidden) {
    saved_.clear();
    auto find = [&](std::string_view name) -> const Attribute* {
        for (const auto* list : {&attributes, &hidden}) {
            for (const Attribute& a : *list) {
                if (name == a.name) return &a;
            }
        }
        return nullptr;
    };
    std::string missing;
    if (ctor_) {
        // The constructor's arguments, each read by the field of its name.
        for (const std::string& p : ctor_->names) {
            const Attribute* a = find(p);
            if (!a || !a->save) {
                missing = p;
                break;
            }
            saved_.push_back(*a);
        }
    } else {
        for (const auto* list : {&attributes, &hidden}) {
            for (const Attribute& a : *list) {
                if (missing.empty() && (!a.save || !a.load)) missing = a.name;
                saved_.push_back(a);
            }
        }
    }
    if (!missing.empty()) {
        PyErr_SetString(PyExc_TypeError, messages::no_state_field(name_, missing).c_str());
        return false;
    }
    auto& classes = pickled_classes();
    if (std::find(classes.begin(), classes.end(), this) == classes.end()) classes.push_back(this);
    return true;
}

PyObject* ClassBase::reduce(const void* record) const {
    if (!g_reconstructor) raise(PyExc_RuntimeError, messages::kNoReconstructor);
    Ref state = own(PyTuple_New(static_cast<Py_ssize_t>(saved_.size())));
    for (std::size_t k = 0; k < saved_.size(); ++k) {
        PyTuple_SetItem(state.get(), static_cast<Py_ssize_t>(k), check(saved_[k].save(record)));
    }
    return to_py(std::make_tuple(Ref(Py_NewRef(g_reconstructor)), std::make_tuple(name_, std::move(state))));
}

void ClassBase::expect_state_tuple(PyObject* state) {
    if (!PyTuple_Check(state)) raise_cannot_convert(state, messages::kTargetTuple);
}

void ClassBase::load_state(void* record, PyObject* state) const {
    expect_tuple(state, static_cast<Py_ssize_t>(saved_.size()));
    for (std::size_t k = 0; k < saved_.size(); ++k) {
        saved_[k].load(record, PyTuple_GetItem(state, static_cast<Py_ssize_t>(k)), saved_[k].name);
    }
}

}  // namespace talvo::py
