// The virtual encoder's picture-to-access-unit step. With libx264 it produces
// real H.264 of the picture; without it (the armhf build: x264 under qemu-arm
// is far below real time) a light encoder produces decodable H.264 at the
// channel's size, rate and GOP whose pictures are flat grey, so everything
// around the encoder -- ring, records, NAL split, muxers -- still runs.
#pragma once
#include <stdint.h>

#include <memory>
#include <vector>

#include "vb.h"

namespace vbvenc {

struct CodecConfig {
    uint32_t width = 0, height = 0;
    uint32_t fps_num = 30, fps_den = 1;
    uint32_t gop = 30;
    uint32_t rc_mode = 1;          // MI_VENC_RcMode_e (H.264 family)
    uint32_t bitrate = 0;          // bit/s: CBR target, VBR/AVBR maximum, ABR average
    uint32_t max_bitrate = 0;      // ABR maximum
    uint32_t min_qp = 0, max_qp = 51;
    uint32_t i_qp = 26, p_qp = 28;  // fixed QP
    uint32_t profile = 2;          // 0 baseline, 1 main, 2 high
    bool cabac = false;
    bool full_range = false;
    uint16_t sar_w = 0, sar_h = 0;
    // VUI timing the SPS carries: what the host set, as the chip writes it.
    bool timing = true;
    uint32_t num_units_in_tick = 1, time_scale = 30;
    bool fixed_rate = false;
    uint32_t slices = 1;  // slice NAL units per picture
    bool operator==(const CodecConfig &) const = default;
};

struct EncodedFrame {
    std::vector<uint8_t> au;  // Annex-B, 4-byte start codes; key: SPS, PPS, IDR
    bool key = false;
    uint8_t qp = 0;
    uint64_t pts = 0;
    int32_t poc = 0;
};

class Codec {
public:
    virtual ~Codec() = default;
    // Encodes one picture (any size/format: converted to the channel's size).
    // Returns false when the picture cannot be used.
    virtual bool encode(const vb::Picture &pic, bool force_idr, EncodedFrame *out) = 0;
};

std::unique_ptr<Codec> make_codec(const CodecConfig &cfg);
// Name of the encoder behind make_codec ("x264 ..." or "shape-only").
const char *codec_name();

// Converts any picture to tightly packed I420 at w x h (nearest neighbour).
bool to_i420(const vb::Picture &pic, uint32_t w, uint32_t h, std::vector<uint8_t> *out);

}  // namespace vbvenc
