#pragma once

#include <cstdio>
#include <cstdlib>

namespace valve::fuzz {

[[noreturn]] inline void checkFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
    std::abort();
}

} // namespace valve::fuzz

// Aborts on a broken invariant so that libFuzzer keeps the input as a crash.
// Unlike assert() it stays on in optimised builds.
#define FUZZ_CHECK(condition)                                                                                \
    ((condition) ? static_cast<void>(0) : ::valve::fuzz::checkFailed(#condition, __FILE__, __LINE__))
