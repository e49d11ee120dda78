// Errors a kernel can end a call with. Kernels throw these; the Python
// boundary turns each into its Python exception. No Python here.
#pragma once

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

#include "messages.h"

namespace talvo {

// An internal fault: the call cannot continue (an index that does not fit the
// data, a size computation that overflows, a NaN where an order is needed).
// Raised in Python as PanicException with exactly this message.
//
// Each error keeps its whole message, so text taken from the caller (a gate
// name, a label) reaches Python intact, NUL characters included.
struct Error : std::runtime_error {
    explicit Error(std::string m) : std::runtime_error(m), message(std::move(m)) {}
    std::string message;
};

struct Panic : Error {
    using Error::Error;
};

// Input beyond a documented exhaustive-search or memory limit. The message
// starts with "SizeViolation: ".
struct SizeLimit : Error {
    using Error::Error;
};

// Malformed input, raised in Python as ValueError with exactly this message.
struct InvalidInput : Error {
    using Error::Error;
};

[[noreturn]] inline void panic(const std::string& message) { throw Panic(message); }

[[noreturn]] inline void index_fault(std::uint64_t len, std::uint64_t index) {
    throw Panic(messages::index_out_of_bounds(len, index));
}

// The fault of comparing values that have no order (a NaN) where an order is
// required.
[[noreturn]] inline void unordered_fault() { throw Panic(messages::kUnwrapNone); }

// The fault of multiplying or adding sizes past 64 bits.
[[noreturn]] inline void capacity_overflow() { throw Panic(messages::kCapacityOverflow); }

// Refuses, with std::bad_alloc (MemoryError in Python), a buffer of
// count * elem_size bytes that the machine cannot hold: more than the memory
// it has available, or more than 64 bits can count. Call it before allocating anything
// whose size the caller chose (after any "capacity overflow" limit of the
// entry's own).
void check_allocation(std::uint64_t count, std::uint64_t elem_size);

// Long computations call poll_interrupt() every few milliseconds of work on
// the calling thread. The Python boundary installs the hook: it raises a
// pending KeyboardInterrupt (or other signal error) by throwing, so the call
// ends with nothing returned and nothing changed. Never call it from a pool
// worker.
// Set once, when the module is imported, and read by every calling thread.
inline std::atomic<void (*)()> interrupt_hook{nullptr};

inline void poll_interrupt() {
    if (void (*hook)() = interrupt_hook.load(std::memory_order_acquire)) hook();
}

// Checks an index against a length, faulting the way every kernel reports it.
inline void check_index(std::uint64_t index, std::uint64_t len) {
    if (index >= len) index_fault(len, index);
}

}  // namespace talvo
