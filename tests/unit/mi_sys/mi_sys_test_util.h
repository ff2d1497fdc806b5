// Helpers shared by the system-module tests.
#pragma once
#include <linux/ioctl.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "vb.h"

namespace mi_sys_test {

// Request code as the Linux encoding builds it, written out independently of
// the library's macros.
constexpr unsigned long code(unsigned dir, unsigned nr, size_t size) {
    return (unsigned long)dir << 30 | (unsigned long)size << 16 | (unsigned long)'i' << 8 | nr;
}
constexpr unsigned kW = 1, kR = 2, kRW = 3;

// Last request the system driver saw (fails the test when there is none).
inline vb::TraceEntry last_sys_request() {
    auto t = vb::trace("/dev/mi_sys");
    return t.empty() ? vb::TraceEntry{"", 0, {}, {}, 0} : t.back();
}

template <typename T>
T read_at(const std::vector<uint8_t> &v, size_t off) {
    T x{};
    if (off + sizeof(T) <= v.size()) memcpy(&x, v.data() + off, sizeof(T));
    return x;
}

// Leaves a recognisable pattern where the next call's locals will live, so a
// payload that is not cleared shows it.
__attribute__((noinline)) inline void poison_stack() {
    volatile uint8_t junk[4096];
    for (size_t i = 0; i < sizeof junk; ++i) junk[i] = 0xA5;
}

std::vector<int> open_fds_of(const char *node);

}  // namespace mi_sys_test
