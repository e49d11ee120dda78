// The texts the calling package sees and may match on: conversion, binding and
// fault messages shared by every area. These are the module's compatibility
// surface: a changed word here is a changed error for every caller, so they
// live together and nowhere else. Messages that belong to one routine stay
// beside it. No Python here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace talvo::messages {

// ---- faults (PanicException) ----------------------------------------------

inline std::string index_out_of_bounds(std::uint64_t len, std::uint64_t index) {
    return "index out of bounds: the len is " + std::to_string(len) + " but the index is " + std::to_string(index);
}
// Values without an order (a NaN) where an order is required.
inline constexpr const char* kUnwrapNone = "called `Option::unwrap()` on a `None` value";
inline constexpr const char* kCapacityOverflow = "capacity overflow";
inline constexpr const char* kUnknownFault = "unknown internal fault";
// The line written to standard error before a PanicException is raised.
inline constexpr const char* kFaultReport = "talvo_core: internal fault: %s\n";

// ---- argument conversion (TypeError, OverflowError, ValueError) ------------

// "'{type}' object cannot be converted to '{target}'", with these targets:
inline std::string cannot_convert(std::string_view type, std::string_view target) {
    return "'" + std::string(type) + "' object cannot be converted to '" + std::string(target) + "'";
}
inline constexpr const char* kTargetStr = "PyString";
inline constexpr const char* kTargetSequence = "Sequence";
inline constexpr const char* kTargetTuple = "PyTuple";
inline constexpr const char* kTargetDict = "PyDict";
inline constexpr const char* kTargetList = "PyList";
inline constexpr const char* kTargetType = "PyType";

inline constexpr const char* kStrToList = "Can't extract `str` to `Vec`";
inline constexpr const char* kIntegerOutOfRange = "out of range integral type conversion attempted";
inline std::string tuple_length(std::int64_t expected, std::int64_t actual) {
    return "expected tuple of length " + std::to_string(expected) + ", but got tuple of length " +
           std::to_string(actual);
}
// A conversion TypeError, prefixed with the parameter it happened in.
inline std::string for_argument(std::string_view name, std::string_view message) {
    return "argument '" + std::string(name) + "': " + std::string(message);
}

// ---- argument binding (TypeError); `display` is "name()" or "Class.name()" -

inline std::string too_many_positional(std::string_view display, std::size_t required, std::size_t n,
                                       std::size_t given) {
    std::string msg = std::string(display) + " takes ";
    msg += required != n ? "from " + std::to_string(required) + " to " + std::to_string(n) : std::to_string(n);
    msg += " positional arguments but " + std::to_string(given) + (given == 1 ? " was" : " were") + " given";
    return msg;
}
inline std::string keywords_must_be_strings(std::string_view display) {
    return std::string(display) + " keywords must be strings";
}
inline std::string unexpected_keyword(std::string_view display, std::string_view keyword) {
    return std::string(display) + " got an unexpected keyword argument '" + std::string(keyword) + "'";
}
inline std::string multiple_values(std::string_view display, std::string_view keyword) {
    return std::string(display) + " got multiple values for argument '" + std::string(keyword) + "'";
}
inline std::string missing_arguments(std::string_view display, const std::vector<std::string>& names) {
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) list += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        list += "'" + names[i] + "'";
    }
    return std::string(display) + " missing " + std::to_string(names.size()) + " required positional argument" +
           (names.size() == 1 ? "" : "s") + ": " + list;
}

// ---- classes and instances -------------------------------------------------

inline std::string no_constructor(std::string_view class_name) {
    return "No constructor defined for " + std::string(class_name);
}
inline std::string class_init_failed(std::string_view class_name) {
    return "An error occurred while initializing class " + std::string(class_name);
}
// Pickling: a tampered class name (ValueError), and the faults of a class
// spec or module built without what pickling needs.
inline std::string no_pickled_class(std::string_view class_name) {
    return "talvo_core has no picklable class named '" + std::string(class_name) + "'";
}
inline std::string no_state_field(std::string_view class_name, std::string_view field) {
    return "class " + std::string(class_name) + " pickles no field '" + std::string(field) + "'";
}
inline constexpr const char* kNoReconstructor = "talvo_core._reconstruct was never created";  // RuntimeError
inline constexpr const char* kAlreadyMutablyBorrowed = "Already mutably borrowed";  // RuntimeError
inline constexpr const char* kAlreadyBorrowed = "Already borrowed";                 // RuntimeError
inline constexpr const char* kCannotDelete = "can't delete attribute";              // AttributeError

// ---- the caller's SizeViolation class --------------------------------------

inline constexpr const char* kNotAnException = "exceptions must derive from BaseException";  // TypeError
// The note on the module's own SizeViolation, raised when the calling
// package's class cannot be imported.
inline constexpr const char* kOwnSizeViolationNoTalvo =
    "talvo is not installed, so this is talvo_core's own SizeViolation (talvo_core works without talvo)";
inline std::string own_size_violation(std::string_view import_error) {
    return "talvo.exceptions.SizeViolation could not be imported (" + std::string(import_error) +
           "), so this is talvo_core's own SizeViolation";
}

}  // namespace talvo::messages
