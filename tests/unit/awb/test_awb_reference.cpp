// The light areas of the virtual sensor's reference IQ file, as the AWB
// reads them: a grey under any light the sensor renders falls in the area of
// a light next to it, and a near-neutral surface a little off the locus falls
// in none (it would otherwise count as a light that is not there).
#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>

#include <vector>

#include "awb_handle.h"
#include "vb_scene.h"

namespace {

struct Point {
    double x, y;
};

// The sensor's white point under `cct`, in the AWB's plane.
Point locus(uint32_t cct) {
    double rgb[3];
    vb::cap::illuminant_rgb(cct, rgb);
    return {100 * rgb[0] / rgb[1], 100 * rgb[2] / rgb[1]};
}

struct ReferenceAwb {
    ISP_DBGBUF_HANDLE iq = nullptr;
    AwbInput_t in{};
    AwbOutput_t out{};
    AWB_HND h = nullptr;
    ReferenceAwb() {
        FILE *f = fopen(VIDREC_REFERENCE_IQFILE, "rb");
        if (!f) return;
        std::vector<LX_U8> b(64 * 1024);
        const size_t n = fread(b.data(), 1, b.size(), f);
        fclose(f);
        if (IspLoadIqCfg(&iq, b.data(), (LX_U32)n) != 0) return;
        in.InitRgain = in.InitGgain = in.InitBgain = 1024;
        h = (AWB_HND)AwbInit(iq, &in, &out);
    }
    ~ReferenceAwb() {
        AwbRelease(h);
        IspFreeIqCfg(&iq);
    }
    LX_U8 area(double x, double y) const {
        const AWB_ADJUSTABLE_SETTING &p = h->AwbParam;
        return pAWB_GetLightArea(h, h->pLightArea, AWB_CT_NUM, (LX_S32)lround(x), (LX_S32)lround(y), p.u2LightStart,
                                 p.u2LightEnd);
    }
    LX_U32 ct(LX_U8 i) const { return h->AwbParam.stAwbCtCurve[i].u2ColorTemp; }
};

TEST(AwbReferenceAreas, HoldTheLocusAndNothingBesideIt) {
    ReferenceAwb a;
    ASSERT_NE(nullptr, a.h);
    for (uint32_t cct = 1500; cct <= 15000; cct += 50) {
        const Point p = locus(cct);
        const LX_U8 i = a.area(p.x, p.y);
        ASSERT_LT(i, AWB_CT_NUM) << cct << " K: the grey falls in no area";
        // The light of the area, or its neighbour on the far side of cct.
        const bool next = a.ct(i) == cct || (a.ct(i) > cct ? i + 1 < AWB_CT_NUM && a.ct(i + 1) <= cct
                                                           : i > 0 && a.ct(i - 1) >= cct);
        EXPECT_TRUE(next) << cct << " K lands in the " << a.ct(i) << " K area";
    }
    // From 12000 K to 4000 K, 5 off the locus either way: a brown under
    // daylight sits 5.4 off it, a slate blue 7.
    for (uint32_t cct = 4000; cct <= 12000; cct += 100) {
        const Point p = locus(cct), q = locus(cct + 10);
        const double dx = q.x - p.x, dy = q.y - p.y, n = hypot(dx, dy);
        for (double off : {5.0, -5.0}) {
            const LX_U8 i = a.area(p.x - off * dy / n, p.y + off * dx / n);
            EXPECT_EQ(AWB_CT_NUM, i) << cct << " K, " << off << " off: in the " << (i < AWB_CT_NUM ? a.ct(i) : 0)
                                     << " K area";
        }
    }
}

}  // namespace
