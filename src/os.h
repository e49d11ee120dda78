// Everything the module asks of the operating system, in one place: how many
// processors the process may use, names and signal masks of the pool's
// worker threads, a hook for the child of fork(), how much memory the machine
// can still hand out, and large zero-filled buffers. os.cpp has one
// implementation per system (Linux, macOS, Windows, other POSIX systems);
// no other source file calls the system directly. No Python here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace talvo::os {

// The processors this process may run on; at least 1. On Linux its CPU
// affinity, capped by a cgroup CPU quota of its group or any ancestor
// (rounded up); on Windows its affinity mask (every active processor when it
// spans several processor groups), capped by the CPU rate limit of its job
// object (rounded up); elsewhere the processors the system has online.
std::size_t available_cpus();

// Gives the calling thread a name that debuggers and process listings show
// (at most 15 characters are kept). Does nothing where threads have no names.
void name_this_thread(const char* name);

// Calls fn(ctx) with every signal blocked in the calling thread and restores
// the thread's mask afterwards, also when fn throws. Threads started inside
// inherit the full mask, so signals go to the interpreter's own thread. Where
// threads have no signal masks, just calls fn(ctx).
void with_signals_blocked(void (*fn)(void* ctx), void* ctx);

template <class F>
void with_signals_blocked(F&& f) {
    using Fn = std::remove_reference_t<F>;
    with_signals_blocked([](void* ctx) { (*static_cast<Fn*>(ctx))(); }, const_cast<void*>(static_cast<const void*>(&f)));
}

// Registers handler to run in the child process right after a fork(), on its
// only thread. Does nothing where processes cannot fork.
void on_fork_child(void (*handler)());

// Bytes the machine can still hand out: available physical memory plus free
// swap (Linux: MemAvailable + SwapFree; macOS: free, inactive and purgeable
// pages plus free swap; Windows: the commit charge still available). The
// physical memory where that cannot be read, and ~0 where not even that can.
std::uint64_t available_memory();

// A zero-filled, page-aligned block of at least `bytes` bytes taken directly
// from the system (never from the heap), or nullptr when the system refuses.
// On Linux blocks of 2 MiB and more ask for transparent huge pages: one page
// fault per 2 MiB instead of per 4 KiB. Release with release_zeroed(p, bytes)
// with the same size.
void* map_zeroed(std::size_t bytes);
void release_zeroed(void* p, std::size_t bytes);

}  // namespace talvo::os
