#include "errors.h"

#include <unistd.h>

#include <new>

namespace talvo {

void check_allocation(std::uint64_t count, std::uint64_t elem_size) {
    std::uint64_t bytes = 0;
    if (__builtin_mul_overflow(count, elem_size, &bytes)) throw std::bad_alloc();
    static const std::uint64_t physical = [] {
        long pages = sysconf(_SC_PHYS_PAGES);
        long page = sysconf(_SC_PAGESIZE);
        return pages > 0 && page > 0 ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page)
                                     : ~std::uint64_t{0};
    }();
    if (bytes > physical) throw std::bad_alloc();
}

}  // namespace talvo
