// Resampling internals shared with the tests and the benchmark.
#pragma once
#include <cstdint>

struct Contrib {
    int32_t *first;    // first contributing source pixel, per destination pixel
    uint32_t *count;   // contributors, per destination pixel
    float *weights;    // taps per destination pixel, normalised
    int32_t taps;
};

int contrib_build(Contrib *c, uint32_t src_len, uint32_t dst_len, int filter);
void contrib_free(Contrib *c);
