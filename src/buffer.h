// Large zero-filled buffers straight from the system. No Python here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "os.h"

namespace talvo {

// A zero-filled array of n trivially copyable T, mapped directly (never from
// the heap) and, on Linux, backed by transparent huge pages where the kernel
// allows: one fault per 2 MiB instead of one per 4 KiB, which is a visible
// share of a call that fills tens of megabytes once. Freed on destruction.
template <class T>
class LargeBuffer {
public:
    explicit LargeBuffer(std::size_t n) : n_(n) {
        if (n == 0) return;
        if (n > (std::size_t{1} << 62) / sizeof(T)) throw std::bad_alloc();
        bytes_ = n * sizeof(T);
        void* p = os::map_zeroed(bytes_);
        if (!p) throw std::bad_alloc();
        data_ = static_cast<T*>(p);
    }
    LargeBuffer(const LargeBuffer&) = delete;
    LargeBuffer& operator=(const LargeBuffer&) = delete;
    ~LargeBuffer() {
        if (data_) os::release_zeroed(data_, bytes_);
    }
    T* data() { return data_; }
    const T* data() const { return data_; }
    std::size_t size() const { return n_; }
    T& operator[](std::size_t k) { return data_[k]; }
    const T& operator[](std::size_t k) const { return data_[k]; }

private:
    T* data_ = nullptr;
    std::size_t n_ = 0;
    std::size_t bytes_ = 0;
};

}  // namespace talvo
