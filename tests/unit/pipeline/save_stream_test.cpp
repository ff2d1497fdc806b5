// HiApp_VENC_SaveStream on hand-built packs: start codes to lengths, SPS and
// PPS by NAL unit type, key flags, multi-slice frames and malformed splits.
#include <string.h>

#include <gtest/gtest.h>
#include <vector>

#include "frame_list.h"
#include "h264_sps.h"
#include "st_venc_stream.h"

namespace {

struct Got {
    std::vector<uint8_t> data;
    uint64_t pts;
    int32_t flag;
    int32_t type;
};

std::vector<Got> Drain(int list) {
    std::vector<Got> out;
    while (frame_t *f = rtp_take_frame(&input_list[list])) {
        out.push_back({std::vector<uint8_t>(f->p_frame, f->p_frame + f->i_frame_size), f->i_time_stamp, f->i_flag,
                       f->i_type});
        free_frame(&f);
    }
    return out;
}

// An access unit under construction: NAL units with their start codes, and
// the pack-info split the encoder library would report for it.
struct Au {
    std::vector<uint8_t> bytes;
    std::vector<std::pair<uint32_t, uint32_t>> info;  // offset, length
    // Appends a unit; `entry` false keeps it inside the previous entry (as
    // the library does for slices after the first picture NAL).
    Au &nal(std::vector<uint8_t> payload, int sc = 4, bool entry = true) {
        uint32_t off = (uint32_t)bytes.size();
        for (int i = 0; i < sc - 1; i++) bytes.push_back(0);
        bytes.push_back(1);
        bytes.insert(bytes.end(), payload.begin(), payload.end());
        if (entry)
            info.push_back({off, (uint32_t)bytes.size() - off});
        else
            info.back().second = (uint32_t)bytes.size() - info.back().first;
        return *this;
    }
};

std::vector<uint8_t> Unit(uint8_t header, size_t n, uint8_t fill) {
    std::vector<uint8_t> v(n, fill);
    v[0] = header;
    return v;
}

// A 1280x720 SPS of the board's encoder (High; VUI timing as the recorder
// sets it: tick 1, time scale 30, rate not fixed: 30 fps).
const std::vector<uint8_t> kSps720 = {0x67, 0x64, 0x00, 0x1f, 0xac, 0xb4, 0x02, 0x80, 0x2d, 0xd0, 0x80, 0x00,
                                      0x00, 0x03, 0x00, 0x80, 0x00, 0x00, 0x0f, 0x07, 0x8c, 0x19, 0x50};
const std::vector<uint8_t> kPps = {0x68, 0xeb, 0xe3, 0xcb, 0x22, 0xc0};

class SaveStream : public ::testing::Test {
protected:
    void SetUp() override {
        rtp_init(&input_list[0]);
        rtp_init(&input_list[1]);
        memset(stSpsPps, 0, sizeof stSpsPps);
    }
    void TearDown() override {
        rtp_destroy(&input_list[0]);
        rtp_destroy(&input_list[1]);
    }
    // Runs the save on a copy of the access unit (converted in place).
    int Save(uint8_t chn, const Au &au, uint64_t pts, uint32_t dataNum = ~0u) {
        buf_ = au.bytes;
        memset(&pack_, 0, sizeof pack_);
        pack_.pu8Addr = buf_.data();
        pack_.u32Len = (uint32_t)buf_.size();
        pack_.u64PTS = pts;
        pack_.u32DataNum = dataNum == ~0u ? (uint32_t)au.info.size() : dataNum;
        for (size_t i = 0; i < au.info.size() && i < MI_VENC_MAX_PACK_INFO; i++) {
            pack_.asackInfo[i].u32PackOffset = au.info[i].first;
            pack_.asackInfo[i].u32PackLength = au.info[i].second;
            pack_.asackInfo[i].stPackType.eH264EType = (MI_VENC_H264eNaluType_e)(au.bytes[au.info[i].first + 4] & 0x1f);
        }
        memset(&stream_, 0, sizeof stream_);
        stream_.pstPack = &pack_;
        stream_.u32PackCount = 1;
        return HiApp_VENC_SaveStream(chn, &stream_);
    }
    static std::vector<uint8_t> Prefixed(const std::vector<uint8_t> &nal) {
        std::vector<uint8_t> v = {(uint8_t)(nal.size() >> 24), (uint8_t)(nal.size() >> 16), (uint8_t)(nal.size() >> 8),
                                  (uint8_t)nal.size()};
        v.insert(v.end(), nal.begin(), nal.end());
        return v;
    }
    std::vector<uint8_t> buf_;
    MI_VENC_Pack_t pack_;
    MI_VENC_Stream_t stream_;
};

TEST_F(SaveStream, SingleSliceBecomesOneNonKeyFrameWithLengthPrefix) {
    auto p = Unit(0x41, 300, 0x5A);
    Au au;
    au.nal(p);
    ASSERT_EQ(0, Save(1, au, 123456789));
    auto got = Drain(1);
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(Prefixed(p), got[0].data);
    EXPECT_EQ(0, got[0].flag);
    EXPECT_EQ(FRAME_TYPE_VIDEO, got[0].type);
    EXPECT_EQ(123456789u, got[0].pts);
    EXPECT_TRUE(Drain(0).empty()) << "channel 1 frames go to the stream list only";
    EXPECT_EQ(0, stSpsPps[1].spsLen) << "a P frame stores no parameter sets";
}

TEST_F(SaveStream, KeyFrameStoresParameterSetsAndFlagsTheIdrSlice) {
    auto idr = Unit(0x65, 1000, 0x11);
    Au au;
    au.nal(kSps720).nal(kPps).nal(idr);
    ASSERT_EQ(0, Save(1, au, 42));
    auto got = Drain(1);
    ASSERT_EQ(1u, got.size()) << "SPS and PPS are stored, not queued";
    EXPECT_EQ(Prefixed(idr), got[0].data);
    EXPECT_EQ(1, got[0].flag);

    ST_SPS_PPS sp;
    SpsPpsLoad(1, &sp);
    ASSERT_EQ(kSps720.size(), sp.spsLen);
    EXPECT_EQ(0, memcmp(sp.sps, kSps720.data(), kSps720.size()));
    ASSERT_EQ(kPps.size(), sp.ppsLen);
    EXPECT_EQ(0, memcmp(sp.pps, kPps.data(), kPps.size()));
    sps_info_struct info{};
    ASSERT_EQ(1, h264_parse_sps(sp.sps, sp.spsLen, &info));
    EXPECT_EQ(1280u, info.width);
    EXPECT_EQ(720u, info.height);
    EXPECT_EQ(30u, info.fps);
}

TEST_F(SaveStream, SeiNeitherOverwritesParameterSetsNorBecomesAFrame) {
    auto sei = Unit(0x06, 20, 0x05);
    auto idr = Unit(0x65, 200, 0x22);
    // SEI first, where position-based code would take it for the SPS.
    Au au;
    au.nal(sei).nal(kSps720).nal(kPps).nal(idr);
    ASSERT_EQ(0, Save(0, au, 7));
    auto got = Drain(0);
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(Prefixed(idr), got[0].data);
    EXPECT_EQ(1, got[0].flag);
    ST_SPS_PPS sp;
    SpsPpsLoad(0, &sp);
    ASSERT_EQ(kSps720.size(), sp.spsLen);
    EXPECT_EQ(0x67, sp.sps[0]);
    EXPECT_EQ(0x68, sp.pps[0]);
}

TEST_F(SaveStream, SecondSliceNeverOverwritesThePps) {
    // Two slices and no parameter sets: a position rule would store slice 0
    // as the SPS and slice 1 as the PPS.
    Au keep;
    keep.nal(kSps720).nal(kPps).nal(Unit(0x65, 50, 1));
    ASSERT_EQ(0, Save(1, keep, 1));
    Drain(1);
    auto s0 = Unit(0x41, 120, 0x33), s1 = Unit(0x41, 90, 0x44);
    Au au;
    au.nal(s0).nal(s1, 4);
    ASSERT_EQ(0, Save(1, au, 2));
    auto got = Drain(1);
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ(0, got[0].flag);
    EXPECT_EQ(0, got[1].flag);
    ST_SPS_PPS sp;
    SpsPpsLoad(1, &sp);
    EXPECT_EQ(kSps720.size(), sp.spsLen);
    EXPECT_EQ(0, memcmp(sp.pps, kPps.data(), kPps.size()));
}

TEST_F(SaveStream, MultiSliceKeyFrameWithShortStartCodesStaysIntact) {
    auto s0 = Unit(0x65, 700, 0x71), s1 = Unit(0x65, 500, 0x72), s2 = Unit(0x65, 300, 0x73);
    // The library reports one entry from the first slice to the end of the
    // pack; the later slices start with 3-byte codes inside it.
    Au au;
    au.nal(kSps720).nal(kPps).nal(s0).nal(s1, 3, false).nal(s2, 3, false);
    ASSERT_EQ(0, Save(0, au, 99));
    auto got = Drain(0);
    ASSERT_EQ(3u, got.size());
    EXPECT_EQ(Prefixed(s0), got[0].data);
    EXPECT_EQ(Prefixed(s1), got[1].data);
    EXPECT_EQ(Prefixed(s2), got[2].data);
    for (auto &g : got) {
        EXPECT_EQ(1, g.flag) << "every IDR slice is flagged key";
        EXPECT_EQ(99u, g.pts);
    }
}

TEST_F(SaveStream, ShortStartCodeAtPackStart) {
    auto p = Unit(0x41, 64, 0x19);
    Au au;
    au.nal(p, 3);
    ASSERT_EQ(0, Save(0, au, 5));
    auto got = Drain(0);
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(Prefixed(p), got[0].data);
}

TEST_F(SaveStream, OversizedParameterSetIsRefusedAndThePreviousKept) {
    Au first;
    first.nal(kSps720).nal(kPps).nal(Unit(0x65, 40, 1));
    ASSERT_EQ(0, Save(0, first, 1));
    Drain(0);
    Au big;
    big.nal(Unit(0x67, 80, 0x21)).nal(kPps).nal(Unit(0x65, 40, 2));
    ASSERT_EQ(0, Save(0, big, 2));
    auto got = Drain(0);
    EXPECT_EQ(1u, got.size()) << "the slice still goes out";
    ST_SPS_PPS sp;
    SpsPpsLoad(0, &sp);
    EXPECT_EQ(kSps720.size(), sp.spsLen);
    EXPECT_EQ(0, memcmp(sp.sps, kSps720.data(), kSps720.size()));
}

TEST_F(SaveStream, BadChannelAndMalformedSplitsAreHandled) {
    Au au;
    au.nal(Unit(0x41, 30, 3));
    EXPECT_EQ(-1, Save(2, au, 1));
    EXPECT_EQ(-1, HiApp_VENC_SaveStream(0, nullptr));
    EXPECT_TRUE(Drain(0).empty());
    EXPECT_TRUE(Drain(1).empty());

    // A NAL count beyond the pack-info array and entries pointing outside the
    // pack: nothing is read out of bounds (checked under ASan), the pack is
    // still split by its own start codes.
    Au two;
    two.nal(Unit(0x41, 30, 3)).nal(Unit(0x41, 30, 4));
    EXPECT_EQ(0, Save(0, two, 1, 200));
    EXPECT_EQ(2u, Drain(0).size());
    pack_.asackInfo[0].u32PackOffset = 0xFFFFFF00u;
    pack_.asackInfo[0].u32PackLength = 0x1000;
    buf_ = two.bytes;
    pack_.pu8Addr = buf_.data();
    pack_.u32DataNum = 1;
    EXPECT_EQ(0, HiApp_VENC_SaveStream(0, &stream_));
    EXPECT_EQ(2u, Drain(0).size());
}

}  // namespace
