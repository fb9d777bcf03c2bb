#pragma once

#include <cstdio>
#include <cstdlib>

// A property of the code under test failed: report it and abort so that the fuzzer keeps the
// input (and the corpus replay fails).
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
