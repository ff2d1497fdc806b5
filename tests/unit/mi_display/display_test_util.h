// Helpers shared by the display tests: the last request a node received and
// little-endian reads out of a traced payload.
#pragma once
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "vb.h"

namespace dt {

// Most recent traced request with `code` on `node` (null entry when none).
inline bool last_request(const char *node, unsigned long code, vb::TraceEntry *out) {
    auto t = vb::trace(node);
    for (auto it = t.rbegin(); it != t.rend(); ++it)
        if (it->code == code) {
            *out = *it;
            return true;
        }
    return false;
}

inline uint32_t rd32(const std::vector<uint8_t> &v, size_t off) {
    uint32_t x = 0;
    if (off + 4 <= v.size()) memcpy(&x, v.data() + off, 4);
    return x;
}

inline uint16_t rd16(const std::vector<uint8_t> &v, size_t off) {
    uint16_t x = 0;
    if (off + 2 <= v.size()) memcpy(&x, v.data() + off, 2);
    return x;
}

inline uint8_t rd8(const std::vector<uint8_t> &v, size_t off) { return off < v.size() ? v[off] : 0xEE; }

}  // namespace dt
