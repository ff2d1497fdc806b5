// The virtual sensor's reference IQ file: it loads, the AE reads the table,
// target and weights the board is tuned for, and the AWB's light areas sit
// on the sensor's own white points (what falls in them: ut_awb).
#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>

#include <vector>

#include "iq_cfg.h"
#include "vb_scene.h"

namespace {

struct Iq {
    ISP_DBGBUF_HANDLE h = nullptr;
    Iq() {
        FILE *f = fopen(VIDREC_REFERENCE_IQFILE, "rb");
        if (!f) return;
        std::vector<LX_U8> b(64 * 1024);
        size_t n = fread(b.data(), 1, b.size(), f);
        fclose(f);
        EXPECT_EQ(39135u, n);
        EXPECT_EQ(0, IspLoadIqCfg(&h, b.data(), (LX_U32)n));
    }
    ~Iq() { IspFreeIqCfg(&h); }
    template <typename T>
    std::vector<T> item(LX_U32 tag) {
        std::vector<T> v(cfg_getcfgsize(tag) / sizeof(T));
        EXPECT_EQ(0, cfg_getcfgbyenum(h, tag, v.data()));
        return v;
    }
};

TEST(ReferenceIq, AeTableTargetAndWeights) {
    Iq iq;
    ASSERT_NE(nullptr, iq.h);
    EXPECT_EQ(470u, iq.item<LX_U32>(DBG_AE_DEFAULT_TARGET)[0]);
    std::vector<LX_S32> y = iq.item<LX_S32>(DBG_AE_TARGET_LUT_Y);
    EXPECT_EQ(5, iq.item<LX_U16>(DBG_AE_TARGET_LUT_NUM)[0]);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(470, y[i]);
    EXPECT_EQ(3u, iq.item<LX_U32>(DBG_AE_EXPO_TBL_NUM)[0]);
    // F-number x10, shutter us, total gain, sensor gain per point.
    const LX_U32 want[3][4] = {{18, 100, 1024, 1024}, {18, 33333, 1024, 1024}, {18, 33333, 128 * 1024, 16 * 1024}};
    for (LX_U32 tag : {DBG_AE_EXPO_TBL, DBG_AE_HDR_SHORT_EXPO_TBL}) {
        std::vector<LX_U32> t = iq.item<LX_U32>(tag);
        for (int p = 0; p < 3; ++p)
            for (int k = 0; k < 4; ++k) EXPECT_EQ(want[p][k], t[p * 4 + k]) << tag << " point " << p;
        for (size_t k = 12; k < t.size(); ++k) EXPECT_EQ(0u, t[k]);
    }
    for (LX_U8 w : iq.item<LX_U8>(DBG_AE_WEIGHTING_TBL)) ASSERT_EQ(1, w);
}

TEST(ReferenceIq, AwbAreasSitOnTheSensorsWhitePoints) {
    Iq iq;
    ASSERT_NE(nullptr, iq.h);
    std::vector<LX_S32> a = iq.item<LX_S32>(DBG_AWB_LIGHT_CT);
    std::vector<LX_U16> ct = iq.item<LX_U16>(DBG_AWB_COLOR_TEMP);
    ASSERT_EQ(80u, a.size());
    EXPECT_EQ(0, iq.item<LX_U8>(DBG_AWB_LIGHT_START)[0]);
    EXPECT_EQ(9, iq.item<LX_U8>(DBG_AWB_LIGHT_END)[0]);
    for (int i = 0; i < 10; ++i) {
        const LX_S32 *p = &a[i * 8];  // P0 x,y  P1 x,y  P2 x,y  P3 x,y
        // The AWB takes the light's white point from P0 and P3 across and
        // from P0 and P1 up.
        const double mx = (p[0] + p[6]) / 2.0, my = (p[1] + p[3]) / 2.0;
        if (i > 0) {
            EXPECT_LT(ct[i], ct[i - 1]);
        }
        if (ct[i] < 1500) {
            EXPECT_GT(mx, (a[(i - 1) * 8] + a[(i - 1) * 8 + 6]) / 2.0) << "beyond the sensor's range";
            continue;
        }
        // Slanted along the locus: left side P0 over P1; P3 the lower right
        // corner, level with P1, so that P0 and P3 span the area; P2 further
        // down the right side.
        EXPECT_GT(p[1], p[3]) << ct[i] << " K";
        EXPECT_EQ(p[3], p[7]) << ct[i] << " K";
        EXPECT_LT(p[5], p[7]) << ct[i] << " K";
        EXPECT_LT(p[2], p[6]) << ct[i] << " K";
        double rgb[3];
        vb::cap::illuminant_rgb(ct[i], rgb);
        EXPECT_NEAR(100 * rgb[0] / rgb[1], mx, 0.51) << ct[i] << " K";
        EXPECT_NEAR(100 * rgb[2] / rgb[1], my, 0.51) << ct[i] << " K";
    }
    // The three the closed loops work in, as the white-point plane names them.
    const int named[][3] = {{6500, 89, 123}, {5000, 100, 100}, {3000, 142, 54}};
    for (const auto &n : named) {
        int i = 0;
        while (i < 10 && ct[i] != n[0]) ++i;
        ASSERT_LT(i, 10);
        EXPECT_EQ(n[1], (a[i * 8] + a[i * 8 + 6]) / 2) << n[0];
        EXPECT_EQ(n[2], (a[i * 8 + 1] + a[i * 8 + 3]) / 2) << n[0];
    }
}

}  // namespace
