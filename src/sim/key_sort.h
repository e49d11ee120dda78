// Sorting the spectrum's energy keys. No Python here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace talvo::sim {

// Sorts keys[0 .. n) ascending and keeps one of each value: the distinct keys
// end up, ascending, in keys[0 .. returned count). `scratch` holds at least n
// values; its contents are lost. Whatever the keys' distribution (a bell
// curve, a few values repeated a million times, saturated extremes far from
// the rest), the cost stays a few passes over the keys.
std::size_t sort_unique_keys(std::int64_t* keys, std::size_t n, std::int64_t* scratch);

// The same, with each distinct key k then written over as the double k / 1e9
// (the spectrum's energy of that key), while it is still in cache. [lo, hi]
// is the keys' range as the caller knows it (the sort checks it as it goes,
// and finds the range itself when a key lies outside).
std::size_t sort_unique_energies(std::int64_t* keys, std::size_t n, std::int64_t lo, std::int64_t hi,
                                 std::int64_t* scratch);

}  // namespace talvo::sim
