// NAL-unit split of the first pack of a fetched stream.
#include <gtest/gtest.h>

#include <vector>

#include "mi_venc.h"
#include "mi_venc_ioctl.h"
#include "venc_fake_driver.h"

using venc_test::add_nal;

namespace {

struct Split {
    MI_VENC_Pack_t pack;
    MI_VENC_Stream_t stream;
    MI_S32 ret;
};

Split split(MI_VENC_ModType_e codec, std::vector<uint8_t> &bytes) {
    Split s;
    memset(&s, 0, sizeof s);
    // Stale entries from an earlier frame must never survive as lengths.
    for (auto &e : s.pack.asackInfo) e.u32PackLength = 0xdeadbeef;
    s.pack.u32Len = (MI_U32)bytes.size();
    s.stream.pstPack = &s.pack;
    s.stream.u32PackCount = 1;
    s.stream.u32Seq = 7;
    s.ret = _MI_VENC_ParseNalu(codec, &s.stream, bytes.data());
    return s;
}

TEST(VencNalSplit, OneNalUnitCoversTheWholePack) {
    std::vector<uint8_t> b;
    add_nal(&b, 4, 0x41, 300);  // P slice
    Split s = split(E_MI_VENC_MODTYPE_H264E, b);
    EXPECT_EQ(s.ret, 0);
    ASSERT_EQ(s.pack.u32DataNum, 1u);
    EXPECT_EQ(s.pack.asackInfo[0].stPackType.eH264EType, E_MI_VENC_H264E_NALU_PSLICE);
    EXPECT_EQ(s.pack.asackInfo[0].u32PackOffset, 0u);
    EXPECT_EQ(s.pack.asackInfo[0].u32PackLength, b.size());
    EXPECT_EQ(s.pack.stDataType.eH264EType, E_MI_VENC_H264E_NALU_PSLICE);
}

TEST(VencNalSplit, KeyFrameWithThreeNalUnits) {
    std::vector<uint8_t> b;
    add_nal(&b, 4, 0x67, 20);  // SPS: 25 bytes with start code
    add_nal(&b, 4, 0x68, 4);   // PPS: 9
    add_nal(&b, 4, 0x65, 5000);
    Split s = split(E_MI_VENC_MODTYPE_H264E, b);
    EXPECT_EQ(s.ret, 0);
    ASSERT_EQ(s.pack.u32DataNum, 3u);
    const MI_VENC_PackInfo_t *e = s.pack.asackInfo;
    EXPECT_EQ(e[0].stPackType.eH264EType, E_MI_VENC_H264E_NALU_SPS);
    EXPECT_EQ(e[0].u32PackOffset, 0u);
    EXPECT_EQ(e[0].u32PackLength, 25u);
    EXPECT_EQ(e[1].stPackType.eH264EType, E_MI_VENC_H264E_NALU_PPS);
    EXPECT_EQ(e[1].u32PackOffset, 25u);
    EXPECT_EQ(e[1].u32PackLength, 9u);
    EXPECT_EQ(e[2].stPackType.eH264EType, E_MI_VENC_H264E_NALU_ISLICE);
    EXPECT_EQ(e[2].u32PackOffset, 34u);
    // The slice runs to the end of the pack, far beyond the scan window.
    EXPECT_EQ(e[2].u32PackLength, b.size() - 34);
    EXPECT_EQ(s.pack.stDataType.eH264EType, E_MI_VENC_H264E_NALU_ISLICE);
}

TEST(VencNalSplit, SpsPpsSeiIdrAndThreeByteStartCodes) {
    std::vector<uint8_t> b;
    add_nal(&b, 4, 0x67, 10);  // 15
    add_nal(&b, 3, 0x68, 3);   // 7
    add_nal(&b, 3, 0x06, 6);   // 10
    add_nal(&b, 4, 0x65, 100);
    Split s = split(E_MI_VENC_MODTYPE_H264E, b);
    EXPECT_EQ(s.ret, 0);
    ASSERT_EQ(s.pack.u32DataNum, 4u);
    const MI_VENC_PackInfo_t *e = s.pack.asackInfo;
    const int types[] = {7, 8, 6, 5};
    const unsigned offs[] = {0, 15, 22, 32};
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ((int)e[i].stPackType.eH264EType, types[i]) << i;
        EXPECT_EQ(e[i].u32PackOffset, offs[i]) << i;
    }
    EXPECT_EQ(e[0].u32PackLength, 15u);
    EXPECT_EQ(e[1].u32PackLength, 7u);
    EXPECT_EQ(e[2].u32PackLength, 10u);
    EXPECT_EQ(e[3].u32PackLength, b.size() - 32);
}

TEST(VencNalSplit, EightNalUnitsFillTheTableAndTheLastKeepsItsLength) {
    std::vector<uint8_t> b;
    for (int i = 0; i < 7; i++) add_nal(&b, 4, 0x06, 10 + i);  // SEI x7
    size_t eighth = b.size();
    add_nal(&b, 4, 0x65, 400);
    Split s = split(E_MI_VENC_MODTYPE_H264E, b);
    EXPECT_EQ(s.ret, 0);
    ASSERT_EQ(s.pack.u32DataNum, 8u);
    EXPECT_EQ(s.pack.asackInfo[7].u32PackOffset, eighth);
    EXPECT_EQ(s.pack.asackInfo[7].u32PackLength, b.size() - eighth);
    MI_U32 sum = 0;
    for (int i = 0; i < 8; i++) sum += s.pack.asackInfo[i].u32PackLength;
    EXPECT_EQ(sum, b.size());  // entries tile the pack

    // Eight parameter NAL units and then more: the scan stops at eight, and
    // the eighth still gets its true length (up to the ninth start code).
    std::vector<uint8_t> c;
    for (int i = 0; i < 8; i++) add_nal(&c, 4, 0x06, 12);
    size_t ninth = c.size();
    add_nal(&c, 4, 0x65, 50);
    Split t = split(E_MI_VENC_MODTYPE_H264E, c);
    ASSERT_EQ(t.pack.u32DataNum, 8u);
    EXPECT_EQ(t.pack.asackInfo[7].u32PackOffset + t.pack.asackInfo[7].u32PackLength, ninth);
}

TEST(VencNalSplit, ParameterSetsBeyondTheScanWindowGetTrueLengths) {
    std::vector<uint8_t> b;
    add_nal(&b, 4, 0x67, 20);
    size_t pps_off = b.size();
    add_nal(&b, 4, 0x68, 1700);  // runs past byte 1500
    size_t idr_off = b.size();
    add_nal(&b, 4, 0x65, 100);
    Split s = split(E_MI_VENC_MODTYPE_H264E, b);
    EXPECT_EQ(s.ret, 0);
    ASSERT_EQ(s.pack.u32DataNum, 2u);  // the slice lies beyond the window
    EXPECT_EQ(s.pack.asackInfo[1].u32PackOffset, pps_off);
    EXPECT_EQ(s.pack.asackInfo[1].u32PackLength, idr_off - pps_off);

    // A pack of parameter sets only: the last one runs to the end.
    std::vector<uint8_t> c;
    add_nal(&c, 4, 0x67, 20);
    add_nal(&c, 4, 0x68, 6);
    Split t = split(E_MI_VENC_MODTYPE_H264E, c);
    ASSERT_EQ(t.pack.u32DataNum, 2u);
    EXPECT_EQ(t.pack.asackInfo[1].u32PackLength, c.size() - t.pack.asackInfo[1].u32PackOffset);
}

TEST(VencNalSplit, H265KeyFrame) {
    std::vector<uint8_t> b;
    add_nal(&b, 4, 32 << 1, 20);  // VPS
    add_nal(&b, 4, 33 << 1, 30);  // SPS
    add_nal(&b, 4, 34 << 1, 8);   // PPS
    add_nal(&b, 4, 19 << 1, 200);  // IDR_W_RADL
    Split s = split(E_MI_VENC_MODTYPE_H265E, b);
    EXPECT_EQ(s.ret, 0);
    ASSERT_EQ(s.pack.u32DataNum, 4u);
    const int types[] = {32, 33, 34, 19};
    for (int i = 0; i < 4; i++) EXPECT_EQ((int)s.pack.asackInfo[i].stPackType.eH265EType, types[i]);
    EXPECT_EQ(s.pack.stDataType.eH265EType, E_MI_VENC_H265E_NALU_ISLICE);

    std::vector<uint8_t> p;
    add_nal(&p, 4, 0 << 1, 50);  // TRAIL_N is recorded as a P slice
    Split t = split(E_MI_VENC_MODTYPE_H265E, p);
    EXPECT_EQ(t.ret, 0);
    EXPECT_EQ(t.pack.stDataType.eH265EType, E_MI_VENC_H265E_NALU_PSLICE);
}

TEST(VencNalSplit, UnexpectedPictureTypesFailButAreRecorded) {
    for (int t : {21, 20}) {  // CRA, IDR_N_LP
        std::vector<uint8_t> b;
        add_nal(&b, 4, (uint8_t)(t << 1), 40);
        Split s = split(E_MI_VENC_MODTYPE_H265E, b);
        EXPECT_EQ((MI_U32)s.ret, MI_ERR_VENC_FAILED) << t;
        ASSERT_EQ(s.pack.u32DataNum, 1u);
        EXPECT_EQ((int)s.pack.asackInfo[0].stPackType.eH265EType, t);
    }
    std::vector<uint8_t> b;
    add_nal(&b, 4, 0x09, 4);  // an access unit delimiter is no slice
    EXPECT_EQ((MI_U32)split(E_MI_VENC_MODTYPE_H264E, b).ret, MI_ERR_VENC_FAILED);
}

TEST(VencNalSplit, ShortPacksAndOtherCodecs) {
    std::vector<uint8_t> b = {0, 0, 1};
    Split s = split(E_MI_VENC_MODTYPE_H264E, b);
    EXPECT_EQ(s.ret, 0);
    EXPECT_EQ(s.pack.stDataType.eH264EType, E_MI_VENC_H264E_NALU_MAX);
    EXPECT_EQ(s.pack.u32DataNum, 0u);
    Split h = split(E_MI_VENC_MODTYPE_H265E, b);
    EXPECT_EQ(h.pack.stDataType.eH265EType, E_MI_VENC_H265E_NALU_MAX);

    std::vector<uint8_t> four = {0, 0, 0, 1};
    Split f = split(E_MI_VENC_MODTYPE_H264E, four);
    EXPECT_EQ(f.ret, 0);
    EXPECT_EQ(f.pack.u32DataNum, 0u);

    std::vector<uint8_t> jpeg = {0xff, 0xd8, 0xff, 0xe0, 0, 0, 1, 0x65, 1, 2};
    Split j = split(E_MI_VENC_MODTYPE_JPEGE, jpeg);
    EXPECT_EQ(j.ret, 0);
    EXPECT_EQ(j.pack.u32DataNum, 0u);

    MI_VENC_Stream_t st;
    memset(&st, 0, sizeof st);
    EXPECT_EQ((MI_U32)_MI_VENC_ParseNalu(E_MI_VENC_MODTYPE_H264E, &st, four.data()), MI_ERR_VENC_NULL_PTR);
    EXPECT_EQ((MI_U32)_MI_VENC_ParseNalu(E_MI_VENC_MODTYPE_H264E, nullptr, four.data()), MI_ERR_VENC_NULL_PTR);
}

TEST(VencNalSplit, AdjacentStartCodesOfBothLengths) {
    // SPS (4-byte code), PPS (3-byte code) with only two bytes of its own
    // before a 4-byte code: each entry ends where the next code begins.
    std::vector<uint8_t> b = {0, 0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x68, 0xce, 0, 0, 0, 1, 0x65};
    for (int i = 0; i < 40; i++) b.push_back(0x90);
    Split s = split(E_MI_VENC_MODTYPE_H264E, b);
    ASSERT_EQ(s.pack.u32DataNum, 3u);
    EXPECT_EQ(s.pack.asackInfo[0].u32PackLength, 6u);
    EXPECT_EQ(s.pack.asackInfo[1].u32PackOffset, 6u);
    EXPECT_EQ(s.pack.asackInfo[1].u32PackLength, 5u);
    EXPECT_EQ(s.pack.asackInfo[2].u32PackOffset, 11u);
}

}  // namespace
