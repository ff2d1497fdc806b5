// Helpers shared by the capture tests: the last request a node saw.
#pragma once
#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "vb.h"
#include "vb_capture.h"

namespace ct {

inline vb::TraceEntry last(const char *node) {
    auto t = vb::trace(node);
    if (t.empty()) {
        ADD_FAILURE() << "no request on " << node;
        return {};
    }
    return t.back();
}

inline uint32_t word(const std::vector<uint8_t> &b, size_t off) {
    uint32_t v = 0;
    if (off + 4 <= b.size()) memcpy(&v, &b[off], 4);
    return v;
}

inline uint16_t half(const std::vector<uint8_t> &b, size_t off) {
    uint16_t v = 0;
    if (off + 2 <= b.size()) memcpy(&v, &b[off], 2);
    return v;
}

}  // namespace ct
