// A property the fuzzed code broke: named on stderr, then abort, so that libFuzzer keeps the input.
#pragma once
#include <cstdio>
#include <cstdlib>

inline void fuzz_check(bool ok, const char *target, const char *what)
{
    if (ok) return;
    fprintf(stderr, "%s mismatch: %s\n", target, what);
    abort();
}
