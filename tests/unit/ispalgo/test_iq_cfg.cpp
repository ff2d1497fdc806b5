// The parameter table's layout, loading IQ file bytes and reading items by
// tag, with files written by the IQ text tool.
#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "iq_cfg.h"
#include "iq_text.h"

namespace {

TEST(IqTable, LayoutOfTheStoredTable) {
    ISP_DBGBUF_HANDLE h = nullptr;
    ASSERT_EQ(0, Cfg_InitDbgBuf(&h));
    EXPECT_EQ(39127u, Cfg_GetDbgBufSize(h));
    cfg_ReleaseDBGInfo(&h);
    EXPECT_EQ(nullptr, h);

    auto step = [](LX_U32 tag) { return cfg_getcfgoffset(tag + 1) - cfg_getcfgoffset(tag); };
    EXPECT_EQ(260u, step(DBG_AE_EXPO_TBL));
    EXPECT_EQ(3076u, step(DBG_AE_WEIGHTING_TBL));
    EXPECT_EQ(22u, step(DBG_AWB_CALI_PREGAIN));
    EXPECT_EQ(2754u, cfg_getcfgoffset(DBG_AWB_END) - cfg_getcfgoffset(DBG_AWB_CALI_PREGAIN));
    for (LX_U32 t = 0; t < DBG_TAG_MAX; ++t) ASSERT_EQ(t, Dbg_Items[t].u4Tag) << t;

    // Bytes read per item: flagged types read with width 1; the AE's items
    // with the width of the member they fill.
    struct Case {
        LX_U32 tag, bytes;
    };
    const Case cases[] = {
        {DBG_AWB_IMAGE_GAIN, 4},      {DBG_AWB_GAIN, 20},          {DBG_AWB_LVVALUE, 1},
        {DBG_AWB_LIGHT_CT, 320},      {DBG_AWB_SPEED, 2},          {DBG_AWB_LIGHT_START, 1},
        {DBG_AE_HIST_TYPE, 4},        {DBG_AE_ISO, 1},             {DBG_AE_DEFAULT_TARGET, 4},
        {DBG_AE_TARGET_LUT_NUM, 2},   {DBG_AE_TARGET_LUT_Y, 64},   {DBG_AE_TARGET_LUT_X, 64},
        {DBG_AE_WIN_X_NUM, 1},        {DBG_AE_EXPO_TBL, 256},      {DBG_AE_WEIGHTING_TBL, 3072},
        {DBG_AE_CONV_INTO_STABLE_THD, 2}, {DBG_AE_STRATEGY_UPPER_NUM, 2}, {DBG_AE_EVCOMP, 4},
        {DBG_AE_START, 0},            {DBG_IQ_END, 0},             {DBG_TAG_MAX, 0},
    };
    for (const Case &c : cases) EXPECT_EQ(c.bytes, cfg_getcfgsize(c.tag)) << c.tag;
}

std::vector<uint8_t> image(const std::string &text, iqtext::Options opt = {}) {
    std::string err;
    std::vector<uint8_t> img = iqtext::compile(text, opt, &err);
    EXPECT_EQ("", err);
    return img;
}

TEST(IqTable, LoadsOnlyWholeFilesWithTheirSum) {
    const std::string text = "DBG_AE_DEFAULT_TARGET = 470\nDBG_AE_CALI_BVOFFSET = -13102\n"
                             "DBG_AE_TARGET_LUT_X = -98702 8333\nDBG_AWB_LIGHT_START = 0\nDBG_AWB_LIGHT_END = 9\n";
    struct Case {
        const char *what;
        iqtext::Options opt;
        LX_S32 want;
    };
    const Case cases[] = {
        {"exact", {}, 0},
        {"longer", {false, 40000}, 0},
        {"one byte short", {false, 39134}, -1},
        {"head only", {false, 8}, -1},
        {"wrong sum", {true, -1}, -1},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> img = image(text, c.opt);
        ISP_DBGBUF_HANDLE h = (ISP_DBGBUF_HANDLE)1;
        EXPECT_EQ(c.want, IspLoadIqCfg(&h, img.data(), (LX_U32)img.size())) << c.what;
        if (c.want != 0) {
            EXPECT_EQ(nullptr, h) << c.what;
            continue;
        }
        LX_U32 target = 0;
        LX_S32 bv = 0, x[16];
        LX_U8 start = 7, end = 0;
        EXPECT_EQ(0, cfg_getcfgbyenum(h, DBG_AE_DEFAULT_TARGET, &target));
        EXPECT_EQ(0, cfg_getcfgbyenum(h, DBG_AE_CALI_BVOFFSET, &bv));
        EXPECT_EQ(0, cfg_getcfgbyenum(h, DBG_AE_TARGET_LUT_X, x));
        EXPECT_EQ(0, cfg_getcfgbyenum(h, DBG_AWB_LIGHT_START, &start));
        EXPECT_EQ(0, cfg_getcfgbyenum(h, DBG_AWB_LIGHT_END, &end));
        EXPECT_EQ(470u, target);
        EXPECT_EQ(-13102, bv);
        EXPECT_EQ(-98702, x[0]);
        EXPECT_EQ(8333, x[1]);
        EXPECT_EQ(0, x[2]);
        EXPECT_EQ(0, start);
        EXPECT_EQ(9, end);
        EXPECT_EQ(-1, cfg_getcfgbyenum(h, DBG_TAG_MAX, &target));
        IspFreeIqCfg(&h);
        EXPECT_EQ(nullptr, h);
    }
    LX_U32 v = 5;
    EXPECT_EQ(-1, cfg_getcfgbyenum(nullptr, DBG_AE_DEFAULT_TARGET, &v));
    EXPECT_EQ(5u, v);
}

// The sum covers the payload's whole words only: its last 39127 mod 4 = 3
// bytes load as they stand, one byte before them must match the sum.
TEST(IqTable, LastBytesOfThePayloadAreOutsideTheSum) {
    const LX_U32 words = IQ_CFG_BUF_SIZE / 4 * 4;
    ASSERT_EQ(39124u, words);
    struct Case {
        LX_U32 at;
        LX_S32 want;
    };
    for (const Case c : {Case{words, 0}, Case{IQ_CFG_BUF_SIZE - 1, 0}, Case{words - 1, -1}}) {
        std::vector<uint8_t> img = image("DBG_AE_DEFAULT_TARGET = 470\n");
        img[IQ_FILE_HEAD_SIZE + c.at] = 0xA5;
        ISP_DBGBUF_HANDLE h = nullptr;
        ASSERT_EQ(c.want, IspLoadIqCfg(&h, img.data(), (LX_U32)img.size())) << c.at;
        if (h) {
            EXPECT_EQ(0xA5, ((dbgbuf_handle_t *)h)->pDbgBuf[c.at]) << c.at;
        }
        IspFreeIqCfg(&h);
    }
}

TEST(IqText, RejectsWhatWouldNotLoadAsMeant) {
    struct Case {
        const char *text, *error;
    };
    const Case cases[] = {
        {"DBG_AE_NO_SUCH = 1\n", "line 1: unknown item"},
        {"DBG_AE_EVCOMP = 09\n", nullptr},  // decimal: 9
        {"DBG_AE_EVCOMP = 0b1\n", "line 1: bad value"},
        {"# c\n5\n", "line 2: value before any item"},
        {"DBG_AWB_LIGHT_START = 256\n", "line 1: value 256 does not fit 1 bytes"},
        {"DBG_AE_TARGET_LUT_Y = 1*17\n", "line 1: too many values (17, the item holds 16)"},
        {"DBG_AE_EVCOMP = 1\nDBG_AE_EVCOMP = 2\n", "line 2: DBG_AE_EVCOMP given twice"},
        {"DBG_AE_EVCOMP = 0x1g\n", "line 1: bad value"},
    };
    for (const Case &c : cases) {
        std::string err;
        EXPECT_EQ(!c.error, !iqtext::compile(c.text, {}, &err).empty()) << c.text;
        EXPECT_EQ(0u, err.rfind(c.error ? c.error : "", 0)) << err;
    }
    // Values run on over lines; a repeat fills a table. Numbers are decimal,
    // also with a leading zero, or hexadecimal after 0x.
    std::string err;
    std::vector<uint8_t> img = iqtext::compile(
        "DBG_AE_WEIGHTING_TBL = 1*1024\n  2*1024\n3*1024\nDBG_AE_TARGET_LUT_Y = 0470 -0x10 0X1D6 +010\n", {}, &err);
    ASSERT_EQ("", err);
    ISP_DBGBUF_HANDLE h = nullptr;
    ASSERT_EQ(0, IspLoadIqCfg(&h, img.data(), (LX_U32)img.size()));
    static LX_U8 w[3072];
    ASSERT_EQ(0, cfg_getcfgbyenum(h, DBG_AE_WEIGHTING_TBL, w));
    EXPECT_EQ(1, w[0]);
    EXPECT_EQ(2, w[1024]);
    EXPECT_EQ(3, w[3071]);
    LX_S32 y[16];
    ASSERT_EQ(0, cfg_getcfgbyenum(h, DBG_AE_TARGET_LUT_Y, y));
    EXPECT_EQ((std::vector<LX_S32>{470, -16, 470, 10}), std::vector<LX_S32>(y, y + 4));
    IspFreeIqCfg(&h);
}

}  // namespace
