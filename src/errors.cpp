#include "errors.h"

#include <new>

#include "os.h"

namespace talvo {

void check_allocation(std::uint64_t count, std::uint64_t elem_size) {
    std::uint64_t bytes = 0;
    if (__builtin_mul_overflow(count, elem_size, &bytes)) throw std::bad_alloc();
    // Small requests are left to the allocator; only large ones are weighed
    // against what the machine has left.
    if (bytes < (std::uint64_t{1} << 28)) return;
    if (bytes > os::available_memory()) throw std::bad_alloc();
}

}  // namespace talvo
