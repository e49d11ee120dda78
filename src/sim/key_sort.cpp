#include "sim/key_sort.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "simd.h"

namespace talvo::sim {

namespace {

// A bucket of at most this many keys (32 KiB) is finished in the core's own
// caches; larger groups of nearby keys are split again.
constexpr std::size_t kBucket = 4096;

// Buckets of at most this many keys are sorted by insertion alone.
constexpr std::size_t kShortRun = 16;

// Values are sorted by their offset from the smallest, as unsigned 64-bit
// numbers: for signed keys that is the signed order, whatever the range.
struct Range {
    std::uint64_t lo, hi;  // hi - lo is the largest offset
};

// The smallest and largest of n values, in the order of T.
template <class T>
Range range_of(const T* a, std::size_t n) {
    T lo = a[0], hi = a[0];
    for (std::size_t k = 1; k < n; ++k) {
        lo = std::min(lo, a[k]);
        hi = std::max(hi, a[k]);
    }
    return {static_cast<std::uint64_t>(lo), static_cast<std::uint64_t>(hi)};
}

// Sorts a[0 .. n), which is expected to be nearly sorted, by insertion while
// that moves fewer than `budget` values in all, else by std::sort. Returns
// false when no two values are equal (true when there may be repeats).
bool sort_nearly_sorted(std::uint64_t* a, std::size_t n, std::size_t budget) {
    bool repeats = false;
    for (std::size_t k = 1; k < n; ++k) {
        const std::uint64_t v = a[k];
        if (a[k - 1] <= v) {
            repeats |= a[k - 1] == v;
            continue;
        }
        std::size_t m = k;
        do {
            a[m] = a[m - 1];
            --m;
        } while (m > 0 && a[m - 1] > v);
        a[m] = v;
        repeats |= m > 0 && a[m - 1] == v;  // a[m + 1] is larger
        if (k - m > budget) {
            std::sort(a, a + n);
            return true;
        }
        budget -= k - m;
    }
    return repeats;
}

// Moves the distinct values of the sorted a[0 .. n) to its front; returns how many.
std::size_t unique_in_place(std::uint64_t* a, std::size_t n) {
    if (n == 0) return 0;
    std::size_t m = 1;
    for (std::size_t k = 1; k < n; ++k) {
        const std::uint64_t v = a[k];
        a[m] = v;
        m += v != a[m - 1];
    }
    return m;
}

// Where a finished run of distinct offsets goes: written as base + offset,
// either as the key itself or as the key's energy. `top` is the largest
// offset of the run.
struct AsKeys {
    static void put(std::uint64_t* dst, const std::uint64_t* offsets, std::size_t m, std::uint64_t base,
                    std::uint64_t) {
        for (std::size_t k = 0; k < m; ++k) dst[k] = base + offsets[k];
    }
};

struct AsEnergies {
    static void put(std::uint64_t* dst, const std::uint64_t* offsets, std::size_t m, std::uint64_t base,
                    std::uint64_t top) {
        // Keys below 2^51 in magnitude convert exactly without the scalar
        // int-to-double step; larger ones take it.
        constexpr std::int64_t kLimit = std::int64_t{1} << 51;
        const std::int64_t first = static_cast<std::int64_t>(base + offsets[0]);
        const std::int64_t last = static_cast<std::int64_t>(base + top);
        double* out = reinterpret_cast<double*>(dst);
        if (first > -kLimit && last < kLimit) {
            simd::divide_small_ints(offsets, base, m, 1e9, out);
            return;
        }
        for (std::size_t k = 0; k < m; ++k) out[k] = static_cast<double>(static_cast<std::int64_t>(base + offsets[k])) / 1e9;
    }
};

// Working space of the bucket finish, allocated once per sort.
struct Spare {
    std::vector<std::uint64_t> keys = std::vector<std::uint64_t>(kBucket);
    std::vector<std::uint16_t> count;
};

// Sorts the n <= kBucket offsets of src, all within [lo, lo + width], and
// writes their distinct values to dst (which may be src) through Out.
//
// A counting pass on the top bits of the bucket's range, with four to eight
// slots per key, leaves only keys of one slot out of order; an insertion pass
// finishes them, unless they crowd into a few slots. (Fewer slots make the
// slot starts cheaper but leave more keys for the insertion pass to move,
// and its mispredicted branches cost more; measured on a bell curve, two to
// four slots per key and eight to sixteen both lose to this.)
template <class Out>
std::size_t finish_bucket(const std::uint64_t* src, std::size_t n, std::uint64_t lo, std::uint64_t width,
                          std::uint64_t* dst, std::uint64_t base, Spare& spare) {
    std::uint64_t* a = spare.keys.data();
    bool repeats;
    if (n <= kShortRun || width == 0) {
        std::copy(src, src + n, a);
        repeats = sort_nearly_sorted(a, n, n * n);  // a budget insertion never exceeds
    } else {
        const unsigned bits = static_cast<unsigned>(std::bit_width(width));
        const unsigned digit = static_cast<unsigned>(std::bit_width(n)) + 2;
        const unsigned shift = bits > digit ? bits - digit : 0;
        const std::size_t slots = static_cast<std::size_t>(width >> shift) + 1;
        std::vector<std::uint16_t>& count = spare.count;
        count.assign(slots + 1, 0);
        for (std::size_t k = 0; k < n; ++k) ++count[((src[k] - lo) >> shift) + 1];
        simd::running_sums(count.data(), slots + 1);  // count[s]: where slot s starts
        for (std::size_t k = 0; k < n; ++k) a[count[(src[k] - lo) >> shift]++] = src[k];
        // Keys are now out of order only within a slot, and slots are short
        // unless the keys crowd into a few of them.
        repeats = sort_nearly_sorted(a, n, 4 * n);
    }
    const std::size_t m = repeats ? unique_in_place(a, n) : n;
    Out::put(dst, a, m, base, a[m - 1]);
    return m;
}

constexpr std::size_t kOutside = ~std::size_t{0};

// Sorts the n values of a, all within [r.lo, r.hi] (as offsets from r.lo),
// and writes their distinct values, ascending, to the front of a through Out;
// returns how many. scratch holds n values. When a value lies outside the
// range after all, nothing is changed and kOutside is returned.
//
// One pass counts the values in up to 2^16 equal slices of their range;
// consecutive slices are then grouped into buckets of at most kBucket values
// (a slice holding more is a bucket of its own), so that the buckets are
// small however unevenly the values spread, and a second pass deals their
// offsets into scratch, bucket by bucket. Each bucket is then finished in
// cache, from scratch into the front of a, behind the distinct values of the
// buckets before it. An oversized bucket spans a single slice, 2^16 times
// narrower than the range it came from, and is sorted the same way, with the
// unused rest of a as its scratch.
template <class Out>
std::size_t sort_unique_range(std::uint64_t* a, std::size_t n, Range r, std::uint64_t* scratch, Spare& spare) {
    const std::uint64_t width = r.hi - r.lo;
    if (n <= kBucket) {
        std::uint64_t top = 0;
        for (std::size_t k = 0; k < n; ++k) {
            scratch[k] = a[k] - r.lo;
            top = std::max(top, scratch[k]);
        }
        if (top > width) return kOutside;
        return finish_bucket<Out>(scratch, n, 0, width, a, r.lo, spare);
    }
    const unsigned bits = static_cast<unsigned>(std::bit_width(width));
    const unsigned shift = bits - std::min(bits, 16u);  // 0 when width is 0: one slice
    const std::size_t slices = static_cast<std::size_t>(width >> shift) + 1;
    std::vector<std::uint32_t> count(slices + 1, 0);
    std::uint64_t top = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const std::uint64_t o = a[k] - r.lo;
        top = std::max(top, o);
        ++count[std::min(o >> shift, std::uint64_t{slices})];  // a value outside lands in the spare slot
    }
    if (top > width) return kOutside;
    if (width == 0) {
        Out::put(a, &width, 1, r.lo, width);
        return 1;
    }

    // bucket[s]: the bucket of slice s; start[b]: where bucket b begins in
    // scratch; first[b]: its first slice.
    std::vector<std::uint16_t> bucket(slices);
    std::vector<std::size_t> start{0}, first{0};
    std::size_t filled = 0;
    for (std::size_t s = 0; s < slices; ++s) {
        // A bucket closes before a slice that would overfill it, so none is empty.
        if (filled > 0 && count[s] > 0 && filled + count[s] > kBucket) {
            start.push_back(start.back() + filled);
            first.push_back(s);
            filled = 0;
        }
        bucket[s] = static_cast<std::uint16_t>(start.size() - 1);
        filled += count[s];
    }
    start.push_back(n);
    first.push_back(slices);
    const std::size_t buckets = start.size() - 1;

    {
        std::vector<std::size_t> next(start.begin(), start.end() - 1);
        for (std::size_t k = 0; k < n; ++k) {
            const std::uint64_t o = a[k] - r.lo;
            scratch[next[bucket[o >> shift]]++] = o;
        }
    }

    std::size_t out = 0;
    for (std::size_t b = 0; b < buckets; ++b) {
        std::uint64_t* values = scratch + start[b];
        const std::size_t size = start[b + 1] - start[b];
        const std::uint64_t lo = static_cast<std::uint64_t>(first[b]) << shift;
        const std::uint64_t hi = b + 1 == buckets ? width : (static_cast<std::uint64_t>(first[b + 1]) << shift) - 1;
        if (size <= kBucket) {
            out += finish_bucket<Out>(values, size, lo, hi - lo, a + out, r.lo, spare);
        } else {
            // a[out ..] is free from here on and holds at least `size` values.
            const std::size_t m =
                sort_unique_range<AsKeys>(values, size, range_of(values, size), a + out, spare);
            Out::put(a + out, values, m, r.lo, values[m - 1]);
            out += m;
        }
    }
    return out;
}

template <class Out>
std::size_t sort_unique(std::int64_t* keys, std::size_t n, const Range* known, std::int64_t* scratch) {
    if (n == 0) return 0;
    static_assert(sizeof(std::int64_t) == sizeof(std::uint64_t) && sizeof(double) == sizeof(std::uint64_t));
    std::uint64_t* a = reinterpret_cast<std::uint64_t*>(keys);
    std::uint64_t* s = reinterpret_cast<std::uint64_t*>(scratch);
    Spare spare;
    if (known) {
        const std::size_t m = sort_unique_range<Out>(a, n, *known, s, spare);
        if (m != kOutside) return m;
    }
    return sort_unique_range<Out>(a, n, range_of(keys, n), s, spare);
}

}  // namespace

std::size_t sort_unique_keys(std::int64_t* keys, std::size_t n, std::int64_t* scratch) {
    return sort_unique<AsKeys>(keys, n, nullptr, scratch);
}

std::size_t sort_unique_energies(std::int64_t* keys, std::size_t n, std::int64_t lo, std::int64_t hi,
                                 std::int64_t* scratch) {
    const Range known{static_cast<std::uint64_t>(lo), static_cast<std::uint64_t>(hi)};
    return sort_unique<AsEnergies>(keys, n, lo <= hi ? &known : nullptr, scratch);
}

}  // namespace talvo::sim
