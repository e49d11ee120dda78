#include "errors.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>

namespace talvo {

namespace {

// Bytes the machine can still hand out: MemAvailable plus free swap from
// /proc/meminfo, or the physical memory where that cannot be read.
std::uint64_t available_bytes() {
    std::uint64_t available = 0, swap_free = 0;
    bool found = false;
    if (std::FILE* f = std::fopen("/proc/meminfo", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            unsigned long long kib = 0;
            if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1) {
                available = kib * 1024;
                found = true;
            } else if (std::sscanf(line, "SwapFree: %llu kB", &kib) == 1) {
                swap_free = kib * 1024;
            }
        }
        std::fclose(f);
    }
    if (found) return available + swap_free;
    long pages = sysconf(_SC_PHYS_PAGES);
    long page = sysconf(_SC_PAGESIZE);
    return pages > 0 && page > 0 ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page)
                                 : ~std::uint64_t{0};
}

}  // namespace

void check_allocation(std::uint64_t count, std::uint64_t elem_size) {
    std::uint64_t bytes = 0;
    if (__builtin_mul_overflow(count, elem_size, &bytes)) throw std::bad_alloc();
    // Small requests are left to the allocator; only large ones are weighed
    // against what the machine has left.
    if (bytes < (std::uint64_t{1} << 28)) return;
    if (bytes > available_bytes()) throw std::bad_alloc();
}

}  // namespace talvo
