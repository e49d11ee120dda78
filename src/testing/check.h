// The few checks the C++ tests beside the units use: a failed check prints
// where and what, and the test exits non-zero at the end.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace talvo::testing {

inline int failures = 0;

inline void report(const char* file, int line, const char* what) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    if (++failures > 20) std::exit(1);
}

inline int finish(const char* name) {
    if (failures) {
        std::fprintf(stderr, "%s: %d check(s) failed\n", name, failures);
        return 1;
    }
    std::printf("%s: ok\n", name);
    return 0;
}

}  // namespace talvo::testing

#define CHECK(cond)                                                                   \
    do {                                                                              \
        if (!(cond)) ::talvo::testing::report(__FILE__, __LINE__, #cond);             \
    } while (0)
