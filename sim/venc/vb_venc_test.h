// Hooks of the virtual encoder for tests and benchmarks of this board.
#pragma once
#include <stddef.h>
#include <stdint.h>

namespace vbvenc {

struct ChnStats {
    uint64_t encoded = 0;  // frames queued in the stream ring
    uint64_t dropped = 0;  // pictures lost (input queue, full ring, bad picture)
    uint64_t dropped_ring = 0;   // no room in the stream ring (the consumer is behind)
    // Pushed out of the input queue by newer pictures: the encoder had not
    // finished the ones before (this machine's load; a chip's encoder keeps up).
    uint64_t dropped_input = 0;
    size_t queued = 0;  // frames waiting for the user
    size_t handed = 0;  // records with the user
    uint64_t bytes = 0;
};
bool stats(int chn, ChnStats *out);

struct TestHooks {
    int64_t pa_skew = 0;  // added to every record's address (a faulty driver)
    bool hold_input = false;  // encoders take no picture, as in one long encode
};
void set_test_hooks(const TestHooks &h);

}  // namespace vbvenc
