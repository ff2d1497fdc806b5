// A moving NV12 test picture for the encoder: a textured background that
// pans, a bright box that travels, and fresh low-level noise in every frame
// (as a sensor has) so that rate control has real detail to spend bits on.
#pragma once
#include <stdint.h>
#include <string.h>

#include <memory>
#include <vector>

#include "vb.h"

namespace venc_test {

class MovingPicture {
public:
    MovingPicture(uint32_t w, uint32_t h) : w_(w), h_(h), tw_(w + 512), th_(h + 256) {
        uint64_t s = 0x9e3779b97f4a7c15ull ^ ((uint64_t)w << 32 | h);
        tex_.resize((size_t)tw_ * th_);
        for (uint32_t y = 0; y < th_; y++)
            for (uint32_t x = 0; x < tw_; x++) {
                // Smooth bands plus texture: details at several scales.
                uint32_t band = ((x / 24) ^ (y / 16)) & 1 ? 150 : 80;
                tex_[(size_t)y * tw_ + x] = (uint8_t)(band + (next(s) & 31));
            }
        noise_.resize((size_t)w * h + 65536);
        for (auto &b : noise_) b = (uint8_t)(next(s) & 7);
        seed_ = s;
    }

    // Frame `n` with time stamp `pts` (board clock).
    vb::Picture frame(uint64_t n, uint64_t pts) {
        auto buf = std::make_shared<std::vector<uint8_t>>((size_t)w_ * h_ * 3 / 2);
        uint8_t *y = buf->data();
        uint32_t dx = (uint32_t)(n * 3) % (tw_ - w_), dy = (uint32_t)(n * 2) % (th_ - h_);
        size_t noff = (size_t)(next(seed_) % 65536);
        for (uint32_t r = 0; r < h_; r++) {
            const uint8_t *src = &tex_[(size_t)(r + dy) * tw_ + dx];
            const uint8_t *nz = &noise_[noff + (size_t)r * w_];
            uint8_t *dst = y + (size_t)r * w_;
            for (uint32_t c = 0; c < w_; c++) dst[c] = (uint8_t)(src[c] + nz[c]);
        }
        uint32_t bx = (uint32_t)(n * 7) % (w_ > 64 ? w_ - 64 : 1), by = h_ / 3;
        for (uint32_t r = by; r < by + 64 && r < h_; r++) memset(y + (size_t)r * w_ + bx, 235, 64);
        uint8_t *uv = y + (size_t)w_ * h_;
        for (uint32_t r = 0; r < h_ / 2; r++)
            for (uint32_t c = 0; c < w_ / 2; c++) {
                uv[(size_t)r * w_ + c * 2] = (uint8_t)(128 + ((c + n) & 63) - 32);
                uv[(size_t)r * w_ + c * 2 + 1] = (uint8_t)(128 + ((r + n) & 63) - 32);
            }
        vb::Picture p;
        p.width = w_;
        p.height = h_;
        p.fmt = vb::PixFmt::NV12;
        p.pts = pts;
        p.data = buf;
        return p;
    }

private:
    static uint64_t next(uint64_t &s) {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
    uint32_t w_, h_, tw_, th_;
    std::vector<uint8_t> tex_, noise_;
    uint64_t seed_;
};

}  // namespace venc_test
