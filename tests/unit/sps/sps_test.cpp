// SPS parsing: parameter sets from a real encoder, and hand-built ones that
// exercise scaling lists, cropping, VUI timing and malformed input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "h264_sps.h"

namespace {

std::vector<uint8_t> unhex(const std::string &h) {
    std::vector<uint8_t> v;
    for (size_t i = 0; i + 1 < h.size(); i += 2) v.push_back((uint8_t)std::stoul(h.substr(i, 2), nullptr, 16));
    return v;
}

sps_info_struct parse_ok(const std::vector<uint8_t> &sps) {
    sps_info_struct info{};
    EXPECT_EQ(h264_parse_sps(sps.data(), (uint32_t)sps.size(), &info), 1);
    return info;
}

// Parameter sets written by H.264 encoders (emulation-prevention bytes
// included), each with the size, profile and rate the recorder reads. The
// board's encoder writes the VUI timing the recorder gives it (tick 1, time
// scale = rate, rate not fixed); the others were made at 30, 30, 30, 25 and
// 50 fps by an encoder that writes twice the rate as time scale but leaves
// the rate unfixed, so they read at twice their rate.
struct RealSps {
    const char *hex;
    uint32_t profile, width, height, fps;
};

TEST(SpsParser, ParametersFromRealEncoderOutput) {
    const RealSps cases[] = {
        {"67640028acb403c0113f2c20000003002000000303c1e30654", 100, 1920, 1080, 30},
        {"6764001facb402802dd080000003008000000f078c1950", 100, 1280, 720, 30},
        {"6742c028d900780227e5c044000003000400000300f03c60c920", 66, 1920, 1080, 60},
        {"674d4028eca03c0113f2e022000003000200000300781e30632c", 77, 1920, 1080, 60},
        {"67640028acd940780227e5c044000003000400000300f03c60c658", 100, 1920, 1080, 60},
        {"6764001facd9405005bb011000000300100000030320f1831960", 100, 1280, 720, 50},
        {"674d401feca05017fcb808800000030080000032078c18cb", 77, 640, 360, 100},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.hex);
        auto info = parse_ok(unhex(c.hex));
        EXPECT_EQ(info.profile_idc, c.profile);
        EXPECT_EQ(info.width, c.width);
        EXPECT_EQ(info.height, c.height);
        EXPECT_EQ(info.fps, c.fps);
    }
}

// Writes an RBSP bit by bit, then inserts emulation-prevention bytes.
class BitWriter {
public:
    void bits(uint64_t v, int n) {
        for (int i = n - 1; i >= 0; --i) bit((v >> i) & 1);
    }
    void ue(uint32_t v) {
        uint64_t x = (uint64_t)v + 1;
        int len = 0;
        while ((x >> len) > 1) ++len;
        bits(0, len);
        bits(x, len + 1);
    }
    void se(int32_t v) { ue(v > 0 ? (uint32_t)(2 * v - 1) : (uint32_t)(-2 * v)); }
    std::vector<uint8_t> nal() {
        bit(1);  // rbsp_stop_one_bit
        while (n_ % 8) bit(0);
        std::vector<uint8_t> out;
        int zeros = 0;
        for (uint8_t b : buf_) {
            if (zeros >= 2 && b <= 3) {
                out.push_back(3);
                zeros = 0;
            }
            out.push_back(b);
            zeros = b == 0 ? zeros + 1 : 0;
        }
        return out;
    }

private:
    void bit(int b) {
        if (n_ % 8 == 0) buf_.push_back(0);
        if (b) buf_.back() |= (uint8_t)(0x80 >> (n_ % 8));
        ++n_;
    }
    std::vector<uint8_t> buf_;
    int n_ = 0;
};

struct SpsShape {
    uint32_t profile = 66;
    bool scaling = false;
    uint32_t w_mbs = 120, h_map = 68;
    bool frame_only = true;
    bool crop = false;
    uint32_t crop_bottom = 0, crop_right = 0;
    bool vui = false, timing = false;
    uint32_t tick = 1, scale = 60, fixed = 1;
    bool hrd = false;
};

std::vector<uint8_t> build(const SpsShape &s) {
    BitWriter w;
    w.bits(0x67, 8);
    w.bits(s.profile, 8);
    w.bits(0, 8);
    w.bits(40, 8);
    w.ue(0);
    if (s.profile == 100) {
        w.ue(1);     // 4:2:0
        w.ue(0);
        w.ue(0);
        w.bits(0, 1);
        w.bits(s.scaling, 1);
        if (s.scaling) {
            for (int i = 0; i < 8; ++i) {
                bool present = i == 0 || i == 6;
                w.bits(present, 1);
                if (present) {
                    int n = i < 6 ? 16 : 64;
                    for (int j = 0; j < n; ++j) w.se(j % 3 == 0 ? 5 : -2);  // never hits zero
                }
            }
        }
    }
    w.ue(0);  // log2_max_frame_num_minus4
    w.ue(0);  // poc type 0
    w.ue(2);
    w.ue(1);  // max refs
    w.bits(0, 1);
    w.ue(s.w_mbs - 1);
    w.ue(s.h_map - 1);
    w.bits(s.frame_only, 1);
    if (!s.frame_only) w.bits(0, 1);
    w.bits(1, 1);
    w.bits(s.crop, 1);
    if (s.crop) {
        w.ue(0);
        w.ue(s.crop_right);
        w.ue(0);
        w.ue(s.crop_bottom);
    }
    w.bits(s.vui, 1);
    if (s.vui) {
        w.bits(1, 1);  // aspect ratio present
        w.bits(255, 8);
        w.bits(1, 16);
        w.bits(1, 16);
        w.bits(0, 1);
        w.bits(1, 1);  // video signal
        w.bits(5, 3);
        w.bits(0, 1);
        w.bits(1, 1);
        w.bits(1, 8);
        w.bits(1, 8);
        w.bits(1, 8);
        w.bits(0, 1);
        w.bits(s.timing, 1);
        if (s.timing) {
            w.bits(s.tick, 32);
            w.bits(s.scale, 32);
            w.bits(s.fixed, 1);
        }
        w.bits(s.hrd, 1);  // nal hrd
        if (s.hrd) {
            w.ue(0);
            w.bits(4, 4);
            w.bits(2, 4);
            w.ue(1000);
            w.ue(1000);
            w.bits(1, 1);
            w.bits(23, 5);
            w.bits(23, 5);
            w.bits(23, 5);
            w.bits(24, 5);
        }
        w.bits(0, 1);  // vcl hrd
        if (s.hrd) w.bits(0, 1);
        w.bits(0, 1);
        w.bits(1, 1);  // bitstream restriction
        w.bits(1, 1);
        for (int i = 0; i < 6; ++i) w.ue(i);
    }
    return w.nal();
}

TEST(SpsParser, CroppingOfA1080Picture) {
    SpsShape s;
    s.crop = true;
    s.crop_bottom = 4;
    auto info = parse_ok(build(s));
    EXPECT_EQ(info.width, 1920u);
    EXPECT_EQ(info.height, 1080u);

    s.frame_only = false;  // field coding doubles map units and crop unit
    s.h_map = 34;
    s.crop_bottom = 2;
    info = parse_ok(build(s));
    EXPECT_EQ(info.height, 1080u);
}

TEST(SpsParser, ScalingListsDoNotShiftLaterFields) {
    SpsShape s;
    s.profile = 100;
    s.scaling = true;
    s.w_mbs = 80;
    s.h_map = 45;
    s.vui = s.timing = true;
    s.scale = 50;
    auto info = parse_ok(build(s));
    EXPECT_EQ(info.profile_idc, 100u);
    EXPECT_EQ(info.width, 1280u);
    EXPECT_EQ(info.height, 720u);
    EXPECT_EQ(info.fps, 25u);
}

TEST(SpsParser, FrameRateFromVuiTiming) {
    // A fixed rate counts two ticks a frame, an unfixed one (what the
    // recorder programs its encoder with: tick 1, time scale = rate) one.
    const struct {
        uint32_t tick, scale, fixed;
        bool hrd;
        uint32_t fps;
    } cases[] = {
        {1, 60, 1, false, 30}, {1, 30, 0, false, 30}, {1, 25, 0, false, 25}, {1, 60, 0, false, 60},
        {1001, 60000, 1, false, 29}, {1001, 30000, 0, false, 29},
        {1, 100, 1, true, 50},  // HRD parameters between timing and the restriction flags
    };
    for (const auto &c : cases) {
        SpsShape s;
        s.vui = s.timing = true;
        s.tick = c.tick;
        s.scale = c.scale;
        s.fixed = c.fixed;
        s.hrd = c.hrd;
        EXPECT_EQ(parse_ok(build(s)).fps, c.fps) << c.scale << "/" << c.tick << " fixed " << c.fixed;
    }
}

TEST(SpsParser, FrameRateKeptWithoutUsableTiming) {
    SpsShape s;
    sps_info_struct info{};
    info.fps = 17;
    auto nal = build(s);  // no VUI at all
    ASSERT_EQ(h264_parse_sps(nal.data(), (uint32_t)nal.size(), &info), 1);
    EXPECT_EQ(info.fps, 17u);
    s.vui = true;  // VUI without timing
    nal = build(s);
    ASSERT_EQ(h264_parse_sps(nal.data(), (uint32_t)nal.size(), &info), 1);
    EXPECT_EQ(info.fps, 17u);
    s.timing = true;  // a tick of zero must not divide
    s.tick = 0;
    nal = build(s);
    ASSERT_EQ(h264_parse_sps(nal.data(), (uint32_t)nal.size(), &info), 1);
    EXPECT_EQ(info.fps, 17u);
}

TEST(SpsParser, RefusesOtherNalTypesAndMissingArguments) {
    auto pps = unhex("68ebe3cb22c0");
    sps_info_struct info{1, 2, 3, 4, 5};
    EXPECT_EQ(h264_parse_sps(pps.data(), (uint32_t)pps.size(), &info), 0);
    EXPECT_EQ(info.width, 3u);
    EXPECT_EQ(info.fps, 5u);
    EXPECT_EQ(h264_parse_sps(nullptr, 4, &info), 0);
    EXPECT_EQ(h264_parse_sps(pps.data(), (uint32_t)pps.size(), nullptr), 0);
}

TEST(SpsParser, RefusesEveryTruncation) {
    SpsShape s;
    s.profile = 100;
    s.scaling = true;
    s.crop = true;
    s.crop_bottom = 4;
    s.vui = s.timing = true;
    auto full = build(s);
    for (size_t n = 1; n + 1 < full.size(); ++n) {
        sps_info_struct info{9, 9, 9, 9, 9};
        SCOPED_TRACE(n);
        EXPECT_EQ(h264_parse_sps(full.data(), (uint32_t)n, &info), 0);
        EXPECT_EQ(info.width, 9u);
    }
}

TEST(SpsParser, RefusesMalformedFields) {
    // Thirty-two leading zeros is no Exp-Golomb code an SPS can hold.
    std::vector<uint8_t> zeros = {0x67, 0x42, 0x00, 0x28, 0x00, 0x00, 0x00, 0x00, 0x80};
    sps_info_struct info{};
    EXPECT_EQ(h264_parse_sps(zeros.data(), (uint32_t)zeros.size(), &info), 0);

    SpsShape s;  // cropping more than the picture
    s.crop = true;
    s.crop_right = 960;
    auto nal = build(s);
    EXPECT_EQ(h264_parse_sps(nal.data(), (uint32_t)nal.size(), &info), 0);
}

TEST(SpsParser, EmulationPreventionRemoval) {
    std::vector<uint8_t> d = {0x00, 0x00, 0x03, 0x01, 0x00, 0x00, 0x03, 0x00, 0x00, 0x03};
    uint32_t n = (uint32_t)d.size();
    del_emulation_prevention(d.data(), &n);
    ASSERT_EQ(n, 7u);
    EXPECT_EQ(std::vector<uint8_t>(d.begin(), d.begin() + n),
              (std::vector<uint8_t>{0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}));
}

TEST(SpsBits, ExpGolombCodes) {
    // 1 | 010 | 011 | 00100 | 00101 -> ue 0,1,2,3 and se(4) = -2
    const uint8_t d[] = {0xA6, 0x42, 0x80};
    sps_bit_stream bs;
    sps_bs_init(&bs, d, sizeof d);
    EXPECT_EQ(ue(&bs), 0u);
    EXPECT_EQ(ue(&bs), 1u);
    EXPECT_EQ(ue(&bs), 2u);
    EXPECT_EQ(ue(&bs), 3u);
    EXPECT_EQ(se(&bs), -2);
    EXPECT_FALSE(bs.overrun);
    EXPECT_EQ(u(&bs, 8), 0u);
    EXPECT_TRUE(bs.overrun);
}

}  // namespace
