#pragma once
// What a fuzz target asserts: a failed check aborts, which libFuzzer reports
// as a finding (with the input that caused it) and the corpus replay as a
// failed test.

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)
