// AE convergence, smoothing, time buffer, linearity and stabiliser; RGB-IR
// feedback ratio, HDR curve and day-night settings. Operations of the other
// groups are replaced through their slots where a case needs them fixed.
#include <gtest/gtest.h>

#include <vector>

#include "ae_test_support.h"

namespace {

using aetest::Ae;

void setY(cam_ae_handle_t *h, LX_U32 target, LX_U32 y) {
    h->u4EVTargetx10 = target;
    h->u4CurYx10[0][0] = y;
    h->uCurYSyncIdx = 0;
}

TEST(AeConvergence, BandStabiliserAndBrightSceneCount) {
    struct Case {
        LX_U32 T, Y;
        LX_U8 stable;
        LX_U16 thd;  // the threshold of the band in use
        bool stabiliser;
        AE_MD_STATE md;
        LX_S32 bv;
        LX_U32 linearity;
        LX_U8 count, wantCount;
        LX_CAM_BOOL want;
    };
    const LX_S32 ev8 = 8 * 16384;
    const Case cases[] = {
        {470, 450, 0, 20, false, eMD_LOCAL_MOTION, 0, 0, 0, 0, LX_TRUE},
        {470, 490, 0, 20, false, eMD_LOCAL_MOTION, 0, 0, 0, 0, LX_TRUE},
        {470, 449, 0, 20, false, eMD_LOCAL_MOTION, 0, 0, 0, 0, LX_FALSE},
        {50, 10, 0, 100, false, eMD_LOCAL_MOTION, 0, 0, 0, 0, LX_TRUE},  // lower edge at least 10
        {50, 9, 0, 100, false, eMD_LOCAL_MOTION, 0, 0, 0, 0, LX_FALSE},
        {2540, 2550, 0, 20, false, eMD_LOCAL_MOTION, 0, 0, 0, 0, LX_TRUE},  // upper edge at most 2550
        {2540, 2551, 0, 20, false, eMD_LOCAL_MOTION, 0, 0, 0, 0, LX_FALSE},
        // Settled: local motion holds the exposure, other motion does not.
        {470, 489, 1, 20, false, eMD_GLOBAL_MOTION, 0, 0, 0, 0, LX_TRUE},
        {470, 500, 1, 20, true, eMD_LOCAL_MOTION, 0, 0, 0, 0, LX_TRUE},
        {470, 500, 1, 20, true, eMD_GLOBAL_MOTION, 0, 0, 0, 0, LX_FALSE},
        {470, 500, 1, 20, true, eMD_FORCE_MOTION, 0, 0, 0, 0, LX_FALSE},
        {470, 500, 1, 20, false, eMD_LOCAL_MOTION, 0, 0, 0, 0, LX_FALSE},
        {470, 500, 0, 20, true, eMD_LOCAL_MOTION, 0, 0, 0, 0, LX_FALSE},
        // A bright, linear scene counts as converged after 30 frames.
        {470, 900, 0, 10, false, eMD_LOCAL_MOTION, ev8, 30, 29, 30, LX_TRUE},
        {470, 900, 0, 10, false, eMD_LOCAL_MOTION, ev8, 30, 28, 29, LX_FALSE},
        {470, 900, 1, 20, true, eMD_GLOBAL_MOTION, ev8, 0, 100, 101, LX_TRUE},
        {470, 900, 0, 10, false, eMD_LOCAL_MOTION, ev8, 0, 255, 255, LX_TRUE},  // saturates
        {470, 900, 0, 10, false, eMD_LOCAL_MOTION, ev8, 31, 200, 0, LX_FALSE},
        {470, 900, 0, 10, false, eMD_LOCAL_MOTION, ev8 - 1, 0, 200, 0, LX_FALSE},
    };
    Ae ae;
    cam_ae_handle_t *h = ae.h;
    for (const Case &c : cases) {
        setY(h, c.T, c.Y);
        h->bStable = c.stable;
        h->u2ConvIntoStableThd = h->u2ConvOutStableThd = 1;
        (c.stable ? h->u2ConvOutStableThd : h->u2ConvIntoStableThd) = c.thd;
        h->strStabilizer.strParam.bEnable = c.stabiliser ? LX_TRUE : LX_FALSE;
        h->strStabilizer.strInfo.eMDState = c.md;
        h->i4CurBV = c.bv;
        h->u4LinearityDeltaEV = c.linearity;
        h->uBVStableCnt = c.count;
        EXPECT_EQ(c.want, h->pAE_isConverged(h)) << c.T << "/" << c.Y << " stable " << (int)c.stable;
        EXPECT_EQ(c.wantCount, h->uBVStableCnt) << (int)c.count;
    }
}

TEST(AeConvergence, RgbIrTopsWithinTheirLimits) {
    struct Case {
        LX_U8 stable;
        LX_U16 yTop, irTop, ratio, pre, minRatio;
        LX_U32 Y;
        LX_CAM_BOOL want;
    };
    // Limits: Y top + IR top 2400, IR top 1800; tolerance 50, settled 100.
    const Case cases[] = {
        {0, 2000, 400, 10000, 10000, 2500, 470, LX_TRUE},   // at the total limit
        {0, 2000, 500, 10000, 10000, 2500, 470, LX_TRUE},   // over it, IR below its limit at full ratio
        {0, 2000, 500, 9000, 9000, 2500, 470, LX_FALSE},    // ... but with the ratio already lowered
        {0, 100, 1900, 9000, 9000, 2500, 470, LX_FALSE},    // IR over its limit
        {0, 100, 1900, 3000, 3000, 3000, 470, LX_TRUE},     // the ratio rests on its minimum
        {0, 100, 1900, 3000, 3500, 3000, 470, LX_FALSE},
        {0, 1000, 400, 9600, 9600, 2500, 470, LX_TRUE},     // far below, ratio near 1
        {1, 2000, 500, 9000, 9000, 2500, 470, LX_TRUE},     // settled: wider tolerance
        {0, 2000, 400, 10000, 10000, 2500, 700, LX_FALSE},  // outside the band stays 0
    };
    Ae ae;
    cam_ae_handle_t *h = ae.h;
    h->strRgbirParam.bEnable = 1;
    for (const Case &c : cases) {
        setY(h, 470, c.Y);
        h->bStable = c.stable;
        AE_RGBIR_SETTING &r = h->strRgbirParam;
        r.u2HistYTop = c.yTop;
        r.u2HistIRTop = c.irTop;
        r.u2IRFeedBakckRatio = c.ratio;
        r.u2IRFeedBakckRatioPre = c.pre;
        r.u2IRFeedBakckRatioMinLimit = c.minRatio;
        EXPECT_EQ(c.want, h->pAE_isConverged(h)) << c.yTop << "+" << c.irTop << " R " << c.ratio;
    }
}

TEST(AeConvergence, BoundaryAtTheTableEnds) {
    Ae ae;
    cam_ae_handle_t *h = ae.h;
    ASSERT_EQ(3, h->pAE_GetExpTblMaxIdx(h));
    const AE_APEX_EXPO *p = h->strApexLongExpoTbl.Points;
    auto moved = [](AE_APEX_EXPO e, LX_S32 ssv, LX_S32 bv) {
        e.i4SSVxBASE += ssv;
        e.i4BVxBASE += bv;
        return e;
    };
    struct Case {
        AE_APEX_EXPO pre, cur;
        LX_U8 upper, lower;
        LX_CAM_BOOL want;
    };
    const Case cases[] = {
        {p[2], p[2], 2, 2, LX_TRUE},
        {p[0], p[0], 0, 0, LX_TRUE},
        {p[1], p[1], 1, 1, LX_FALSE},
        // Within the SV slack of the last point: 100 less gain, 100 brighter.
        {moved(p[2], -100, 100), moved(p[2], -100, 100), 2, 2, LX_TRUE},
        {moved(p[2], -100, 101), moved(p[2], -100, 101), 2, 2, LX_FALSE},
        {moved(p[0], 100, 0), moved(p[0], 100, 0), 0, 0, LX_TRUE},
        // Inside a segment: 16 of slack.
        {moved(p[2], 0, 16), moved(p[2], 0, 16), 1, 2, LX_TRUE},
        {moved(p[2], 0, 17), moved(p[2], 0, 17), 1, 2, LX_FALSE},
        // Still moving.
        {moved(p[2], 1, 0), p[2], 2, 2, LX_FALSE},
    };
    for (const Case &c : cases) {
        h->strApexPreExpo = c.pre;
        h->strApexCurExpo = c.cur;
        h->strCalLongExpo.Upper = c.upper;
        h->strCalLongExpo.Lower = c.lower;
        EXPECT_EQ(c.want, h->pAE_isReachBoundary(h)) << (int)c.upper << "/" << (int)c.lower << " BV "
                                                     << c.cur.i4BVxBASE;
    }

    // Stable: converged, or stuck at an end of the table.
    h->bStable = 0;
    h->strRgbirParam.bEnable = 0;
    h->i4CurBV = 0;
    struct StableCase {
        LX_U32 Y;
        LX_U8 point;
        LX_CAM_BOOL want;
        LX_U8 boundary;
    };
    const StableCase stable[] = {{900, 2, LX_TRUE, 1}, {470, 1, LX_TRUE, 0}, {900, 1, LX_FALSE, 0}};
    for (const StableCase &c : stable) {
        setY(h, 470, c.Y);
        h->strApexPreExpo = h->strApexCurExpo = p[c.point];
        h->strCalLongExpo.Upper = h->strCalLongExpo.Lower = c.point;
        EXPECT_EQ(c.want, h->pAE_isStable(h)) << c.Y;
        EXPECT_EQ(c.boundary, h->bReachBoundary) << c.Y;
    }
}

TEST(AeConvergence, TimeBufferHoldsSmallChangesBack) {
    struct Case {
        bool enable, force;
        LX_U32 Y, count, want, wantCount;
    };
    // Settled at 470; bright: 50 apart or 3 frames, dark: 40 apart or 5 frames.
    const Case cases[] = {
        {false, false, 471, 0, 1, 6},
        {true, false, 480, 0, 0, 0},
        {true, false, 480, 3, 0, 3},
        {true, false, 480, 4, 1, 4},
        {true, false, 520, 0, 1, 6},
        {true, false, 440, 5, 0, 5},
        {true, false, 440, 6, 1, 6},
        {true, false, 430, 0, 1, 6},
        {true, true, 470, 0, 1, 6},
    };
    Ae ae;
    cam_ae_handle_t *h = ae.h;
    for (const Case &c : cases) {
        h->strAETimeBuffer = {c.enable ? LX_TRUE : LX_FALSE, 470, c.count, 50, 3, 40, 5};
        h->bForceReCal = c.force ? LX_TRUE : LX_FALSE;
        setY(h, 470, c.Y);
        EXPECT_EQ(c.want, (LX_U32)h->pAE_CheckTimeBuffer(h)) << c.Y << " after " << c.count;
        EXPECT_EQ(c.wantCount, h->strAETimeBuffer.u4UnStableCount) << c.Y;
    }
}

TEST(AeSmoothing, StepPredictionAndExposureChange) {
    struct Case {
        LX_U32 T, Y;
        bool oneShot;
        LX_S32 speedY;  // 0: the IQ curve Y 200 120 120 200, X 100 T T 2000; else flat
        LX_U16 speed;
        LX_U32 pred, ratio;
        LX_S32 ev;
    };
    const Case cases[] = {
        {470, 235, false, 0, 170, 274, 1193, 3629},
        {470, 940, false, 0, 144, 874, 952, -1720},
        {470, 465, false, 0, 121, 468, 1030, 152},  // the minimum step of 3
        {470, 468, false, 0, 120, 470, 1028, 100},  // ... but never past the target
        {3000, 2550, false, 0, 200, 2550, 1024, 0},
        {470, 5, false, 0, 200, 96, 10342, 54661},   // a dark frame counts from 10
        {470, 235, true, 0, 170, 470, 2048, 16384},  // the frequency detector: to the target at once
        {470, 0, true, 0, 200, 470, 481280, 145432},
        {470, 235, false, 5, 10, 238, 1037, 299},  // speeds of 10 and less are 10
        {470, 235, false, 1024, 1024, 470, 2048, 16384},
        {470, 235, false, 4000, 1024, 470, 2048, 16384},  // faster than 1024 would overshoot
    };
    for (const Case &c : cases) {
        Ae ae;
        cam_ae_handle_t *h = ae.h;
        if (c.speedY)
            for (LX_S32 &y : h->strConvRatioLut.i4Y) y = c.speedY;
        setY(h, c.T, c.Y);
        h->bOneShot = c.oneShot ? LX_TRUE : LX_FALSE;
        EXPECT_EQ(0, h->pAE_CalSmoothExpo(h));
        EXPECT_EQ(c.speed, h->u2CnvgRatio) << c.T << "/" << c.Y;
        EXPECT_EQ(c.pred, h->u4PredYx10) << c.T << "/" << c.Y;
        EXPECT_EQ(c.ratio, h->u4DeltaEnergyRatio) << c.T << "/" << c.Y;
        EXPECT_EQ(c.ev, h->i4SmoothDeltaEV) << c.T << "/" << c.Y;
        EXPECT_EQ(c.T < 2550 ? (LX_S32)c.T : 2550, h->strConvRatioLut.i4X[2]);
    }
}

TEST(AeSmoothing, LinearityOfTheLastStep) {
    const AE_APEX_EXPO base{80395, 81920, 0, 27787, 26262};
    auto with = [&](LX_S32 tv, LX_S32 ssv, LX_S32 dsv) {
        AE_APEX_EXPO e = base;
        e.i4TVxBASE += tv;
        e.i4SSVxBASE += ssv;
        e.i4DSVxBASE += dsv;
        return e;
    };
    struct Case {
        AE_APEX_EXPO cur;
        LX_U32 preY, curY;
        LX_S32 want;
    };
    const Case cases[] = {
        {base, 470, 470, 0},
        {with(-16384, 0, 0), 235, 470, 0},  // 1 EV longer, twice the light
        {with(0, 8192, 8192), 235, 470, 0},
        {base, 235, 470, 16384},
        {with(-16384, 0, 0), 470, 470, 16384},
        {with(0, 16384, 0), 470, 235, 32768},
        {base, 1, 470, 145432},  // below 2 counts as log 0
        {base, 0, 1, 0},
    };
    Ae ae;
    for (const Case &c : cases)
        EXPECT_EQ(c.want, ae.h->pAE_CheckLinearity(ae.h, base, c.cur, c.preY, c.curY)) << c.preY << "->" << c.curY;
}

TEST(AeStabiliser, LocalGlobalAndForcedMotion) {
    struct Case {
        LX_U32 blkX, blkY, moved;
        int delta;
        LX_U32 stableCnt, Y;
        bool enable;
        AE_MD_STATE want;
        LX_U16 wantTrigger;
    };
    // Reference blocks of Y 100; u2DiffThd 2, u2Percent 25, u2LocalCntThr 300.
    const Case cases[] = {
        {32, 32, 257, 3, 1, 470, true, eMD_GLOBAL_MOTION, 257},
        {32, 32, 256, 3, 1, 470, true, eMD_LOCAL_MOTION, 256},
        {32, 32, 1024, 2, 1, 470, true, eMD_LOCAL_MOTION, 0},  // a difference of 2 is no motion
        {32, 32, 1024, -3, 1, 470, true, eMD_GLOBAL_MOTION, 1024},
        {32, 32, 0, 3, 300, 500, true, eMD_FORCE_MOTION, 0},
        {32, 32, 0, 3, 300, 480, true, eMD_LOCAL_MOTION, 0},
        {32, 32, 0, 3, 301, 500, true, eMD_LOCAL_MOTION, 0},
        {40, 40, 1600, 3, 1, 470, true, eMD_GLOBAL_MOTION, 1024},  // only the reference's 1024 compared
        {16, 16, 65, 3, 1, 470, true, eMD_GLOBAL_MOTION, 65},      // a quarter of 256 blocks
        {16, 16, 64, 3, 1, 470, true, eMD_LOCAL_MOTION, 64},
        {32, 32, 1024, 3, 1, 470, false, eMD_FORCE_MOTION, 77},  // disabled: untouched
    };
    for (const Case &c : cases) {
        Ae ae;
        cam_ae_handle_t *h = ae.h;
        std::vector<ISPAESample_t> grid(c.blkX * c.blkY, ISPAESample_t{9, 9, 9, 100});
        for (LX_U32 i = 0; i < c.moved; ++i) grid[i].y = (LX_U8)(100 + c.delta);
        ae.in.avgs = grid.data();
        ae.in.AvgBlkX = c.blkX;
        ae.in.AvgBlkY = c.blkY;
        h->AeInputParameter = &ae.in;
        for (AE_AVG_SAMPLE &s : h->strStabilizer.strInfo.strRefAEStatis) s.uAvgY = 100;
        h->strStabilizer.strParam = {c.enable ? LX_TRUE : LX_FALSE, 2, 25};
        h->strStabilizer.strInfo.eMDState = eMD_FORCE_MOTION;
        h->strStabilizer.strInfo.u2TriggerCnt = 77;
        h->u4StableCnt = c.stableCnt;
        setY(h, 470, c.Y);
        EXPECT_EQ(0, AE_MotionDetection(h));
        EXPECT_EQ(c.want, h->strStabilizer.strInfo.eMDState) << c.blkX << "x" << c.blkY << " moved " << c.moved;
        EXPECT_EQ(c.wantTrigger, h->strStabilizer.strInfo.u2TriggerCnt) << c.blkX << " moved " << c.moved;
    }
}

TEST(AeConvSettings, SettersCheckTheirInputAndGettersReadBack) {
    Ae ae;
    cam_ae_handle_t *h = ae.h;
    AE_USER_SETTING &u = h->strUserParam;

    // Thresholds: user copy, 1..255; the getter reads the live ones.
    u.bIsChanged = LX_FALSE;
    EXPECT_EQ(0, h->pAE_SetConvergeThd(h, 0, 300));
    EXPECT_EQ(1, u.u2ConvIntoStableThd);
    EXPECT_EQ(255, u.u2ConvOutStableThd);
    EXPECT_EQ(LX_TRUE, u.bIsChanged);
    LX_U32 in = 0, out = 0;
    EXPECT_EQ(0, h->pAE_GetConvergeThd(h, &in, &out));
    EXPECT_EQ(10u, in);
    EXPECT_EQ(20u, out);

    // Speed: zero ends and speeds above 1024 are refused, the curve kept.
    struct SpeedCase {
        LX_U32 x[4], y[4];
        LX_S32 result;
    };
    const SpeedCase speeds[] = {
        {{10, 20, 30, 0}, {100, 100, 100, 100}, -1},
        {{10, 20, 30, 40}, {0, 100, 100, 100}, -1},
        {{10, 20, 30, 40}, {100, 100, 100, 0}, -1},
        {{10, 20, 30, 40}, {100, 1025, 100, 100}, -1},
        {{50, 0, 0, 3000}, {1024, 0, 0, 300}, 0},
    };
    for (const SpeedCase &c : speeds) {
        LX_U32 x[4], y[4];
        memcpy(x, c.x, sizeof(x));
        memcpy(y, c.y, sizeof(y));
        EXPECT_EQ(c.result, h->pAE_SetConvergeSpeed(h, x, y)) << c.x[3] << "/" << c.y[1];
    }
    LX_U32 x[4], y[4];
    EXPECT_EQ(0, h->pAE_GetConvergeSpeed(h, x, y));
    EXPECT_EQ((std::vector<LX_U32>{50, 0, 0, 3000, 1024, 0, 0, 300}),
              (std::vector<LX_U32>{x[0], x[1], x[2], x[3], y[0], y[1], y[2], y[3]}));
    EXPECT_EQ(4, u.strConvRatio.u2NumOfPoints);
    EXPECT_EQ(0, u.strConvRatio.i4Y[4]);

    // Stabiliser: enable as 0/1, difference at most 20, share at most 100.
    struct StbCase {
        AE_STABILIZER_PARAM in, want;
    };
    const StbCase stbs[] = {{{(LX_CAM_BOOL)7, 50, 150}, {LX_TRUE, 20, 100}},
                            {{(LX_CAM_BOOL)-1, 3, 30}, {LX_FALSE, 3, 30}}};
    for (const StbCase &c : stbs) {
        AE_STABILIZER_PARAM p = c.in, back{};
        h->bForceReCal = LX_FALSE;
        EXPECT_EQ(0, h->pAE_SetStabilizerParam(h, &p));
        EXPECT_EQ(LX_TRUE, h->bForceReCal);
        EXPECT_EQ(0, h->pAE_GetStabilizerParam(h, &back));
        EXPECT_EQ(c.want.bEnable, back.bEnable);
        EXPECT_EQ(c.want.u2DiffThd, back.u2DiffThd);
        EXPECT_EQ(c.want.u2Percent, back.u2Percent);
    }

    // Day-night: all three values come back; applying them is the frame's.
    AE_DAYNIGHT_DETECTION_PARAM dn{LX_TRUE, -40000, 321}, dnBack{};
    EXPECT_EQ(0, h->pAE_SetDayNightDetectionParam(h, &dn));
    EXPECT_EQ(0, h->pAE_GetDayNightDetectionParam(h, &dnBack));
    EXPECT_EQ(0, memcmp(&dn, &dnBack, sizeof(dn)));
    EXPECT_EQ(-30000, h->strDNDetection.strParam.s4D2N_BvThd);

    // RGB-IR: user copy; the getter reads the live record.
    AE_RGBIR_AE ir{LX_TRUE, 2200, 4000}, irBack{};
    EXPECT_EQ(0, h->pAE_SetRGBIRAE(h, &ir));
    EXPECT_EQ(2200, u.strRGBIRAE.u16MaxYWithIR);
    EXPECT_EQ(0, h->pAE_GetRGBIRAE(h, &irBack));
    EXPECT_EQ(LX_FALSE, irBack.bEnable);
    EXPECT_EQ(2400, irBack.u16MaxYWithIR);
    EXPECT_EQ(2500, irBack.u16MinISPGainCompRatio);

    // HDR curve: at once; 1..16 points, ratios of at least 1x.
    AE_HDR_TYPE hdr;
    memset(&hdr, 0, sizeof(hdr));
    for (LX_U16 n : {(LX_U16)0, (LX_U16)17}) {
        hdr.AeHdrRatio.u2NumOfPoints = n;
        EXPECT_EQ(-1, h->pAE_SetAeHdrRatio(h, &hdr)) << n;
    }
    EXPECT_EQ(5, h->strAeHdrLut.u2NumOfPoints);
    hdr.AeHdrRatio = {3, {500, 4096, 8192}, {1024, 4096, 16384}};
    EXPECT_EQ(0, h->pAE_SetAeHdrRatio(h, &hdr));
    AE_HDR_TYPE hdrBack;
    EXPECT_EQ(0, h->pAE_GetAeHdrRatio(h, &hdrBack));
    EXPECT_EQ(3, hdrBack.AeHdrRatio.u2NumOfPoints);
    EXPECT_EQ(1024, hdrBack.AeHdrRatio.i4Y[0]);
    EXPECT_EQ(8192, hdrBack.AeHdrRatio.i4Y[2]);
    EXPECT_EQ(16384, hdrBack.AeHdrRatio.i4X[2]);
}

TEST(AeRgbIr, FeedbackRatioAndIrAwareStep) {
    struct Case {
        LX_U32 T, Y;
        LX_U16 yTop, irTop, pre, minRatio;
        bool oneShot;
        LX_S32 irTarget;
        LX_U16 ratio;
        LX_U32 pred, energy;
        LX_S32 ev;
    };
    // Limits: total 2400, IR 1800. Speed curve as the IQ file's.
    const Case cases[] = {
        // Room enough: the target stays; the step's share of it sets the ratio.
        {470, 235, 500, 100, 10000, 2500, false, 470, 5829, 274, 1193, 3629},
        // The IR limit leaves room for 1.125x of the 2x wanted.
        {470, 235, 2000, 1600, 10000, 2500, false, 264, 5092, 239, 1041, 398},
        {470, 235, 2000, 1600, 10000, 6000, false, 282, 6000, 241, 1050, 595},    // never below the minimum
        {470, 235, 2000, 1600, 10000, 12000, false, 470, 10000, 274, 1193, 3629}, // never above 1
        {470, 235, 2000, 1600, 10000, 2500, true, 264, 5625, 264, 1150, 2750},
        {470, 470, 500, 100, 5000, 2500, false, 940, 5797, 545, 1187, 3499},
        // Ratios and a target of 0 divide nothing by 0.
        {470, 235, 2000, 1600, 0, 0, false, 470, 1, 274, 1193, 3629},
        {0, 235, 500, 100, 10000, 2500, false, 1, 10000, 206, 897, -3113},
    };
    for (const Case &c : cases) {
        Ae ae;
        cam_ae_handle_t *h = ae.h;
        AE_RGBIR_SETTING &r = h->strRgbirParam;
        r.bEnable = r.bIsValid = 1;
        r.u2HistYTop = c.yTop;
        r.u2HistIRTop = c.irTop;
        r.u2IRFeedBakckRatioPre = c.pre;
        r.u2IRFeedBakckRatioMinLimit = c.minRatio;
        h->bOneShot = c.oneShot ? LX_TRUE : LX_FALSE;
        setY(h, c.T, c.Y);
        EXPECT_EQ(0, AE_CalRGBIRTargetwithSmooth(h));
        EXPECT_EQ(c.irTarget, h->strConvRatioLut.i4X[1]) << c.yTop << "+" << c.irTop << " min " << c.minRatio;
        EXPECT_EQ(c.ratio, r.u2IRFeedBakckRatio) << c.yTop << "+" << c.irTop << " min " << c.minRatio;
        EXPECT_EQ(c.pred, h->u4PredYx10) << c.yTop << "+" << c.irTop;
        EXPECT_EQ(c.energy, h->u4DeltaEnergyRatio) << c.yTop << "+" << c.irTop;
        EXPECT_EQ(c.ev, h->i4SmoothDeltaEV) << c.yTop << "+" << c.irTop;
    }
}

// ---- the loop through DoAe, with metering and the scene target of their
// own groups replaced by a scene model ------------------------------------------------

// Y of a still scene: brightness x exposure, 47.0 at 5000 us and 1x for a
// brightness of 1; the blocks carry it, plus an object of `objectY` levels
// over the first `objectBlocks` blocks.
struct Scene {
    double brightness = 1.0;
    LX_U32 objectBlocks = 0, objectY = 0;
    LX_U32 fixedY = 0;  // not 0: the frame's Y whatever the exposure
    Ae *ae = nullptr;
} scene;

LX_S32 sceneLumY(cam_ae_handle_t *h) {
    const AeInput_t &in = *h->AeInputParameter;
    const double e = (double)in.Shutter * in.SensorGain * in.IspGain / (1024.0 * 1024.0);
    double y = scene.fixedY ? scene.fixedY : scene.brightness * e * 470.0 / 5000.0;
    if (y > 2550) y = 2550;
    const LX_U8 block = (LX_U8)(y / 10 + 0.5);
    for (LX_U32 i = 0; i < 32 * 32; ++i) {
        const LX_U32 b = block + (i < scene.objectBlocks ? scene.objectY : 0);
        scene.ae->blocks[i].y = (LX_U8)(b > 255 ? 255 : b);
    }
    const LX_U32 yx10 = (LX_U32)(y + 0.5) + scene.objectBlocks * scene.objectY * 10 / 1024;
    h->u4CurYx10[0][0] = h->u4AvgYx10[0] = yx10;
    h->uCurYSyncIdx = 0;
    return 0;
}
LX_S32 sceneBV(cam_ae_handle_t *) { return 0; }
LX_U32 sceneTarget(cam_ae_handle_t *h) { return h->u4Targetx10; }
LX_S32 noOp(cam_ae_handle_t *) { return 0; }
LX_S32 noDeBanding(cam_ae_handle_t *, AE_APEX_EXPO *, AE_EXPOVAL *) { return 0; }

void useScene(Ae &ae) {
    scene = Scene{};
    scene.ae = &ae;
    cam_ae_handle_t *h = ae.h;
    h->pAE_CalLumY = sceneLumY;
    h->pAE_GetBV = sceneBV;
    h->pAE_GetSceneTarget = sceneTarget;
    h->pAE_StrategyEX_GetGMBlendRatio = noOp;
    h->pAE_DoDeBanding = noDeBanding;
}

TEST(AeConvLoop, DarkSceneFirstFrames) {
    Ae ae;
    useScene(ae);
    scene.fixedY = 235;
    ae.in.Shutter = 33333;
    ASSERT_EQ(0, ae.Frame());
    EXPECT_EQ(1u, ae.out.Change);
    EXPECT_EQ(33305u, ae.out.Shutter);
    EXPECT_EQ(1024u, ae.out.SensorGain);
    EXPECT_EQ(1024u, ae.out.IspGain);
    ASSERT_EQ(0, ae.Frame());
    EXPECT_EQ(1u, ae.out.Change);
    EXPECT_EQ(1193u, ae.h->u4DeltaEnergyRatio);
    EXPECT_EQ(33305u, ae.out.Shutter);
    EXPECT_NEAR(1192, (double)ae.out.SensorGain * ae.out.IspGain / 1024, 1.0);
}

// Brightness steps 1, 4, 1, 1/4, 1: each is reached within 60 frames without
// passing the target by more than 20, then held with Change 0 for 90 frames.
// With the stabiliser on, an object moving in settles nothing; a change of
// the whole scene re-converges.
TEST(AeConvLoop, StepsConvergeWithoutOvershootAndHold) {
    Ae ae;
    useScene(ae);
    int frame = 0;
    auto run = [&](int n) {
        for (int i = 0; i < n; ++i, ++frame) {
            ASSERT_EQ(0, ae.Frame()) << frame;
            ae.Apply();
        }
    };
    auto settle = [&](double brightness) {
        const LX_U32 start = ae.out.CurYx10;
        const bool darker = brightness < scene.brightness || start < 450;
        scene.brightness = brightness;
        int reached = -1;
        for (int i = 0; i < 60 && reached < 0; ++i) {
            run(1);
            const LX_U32 y = ae.out.CurYx10;
            if (darker) {
                EXPECT_LE(y, 490u) << "frame " << frame;
            } else {
                EXPECT_GE(y, 450u) << "frame " << frame;
            }
            if (y >= 460 && y <= 480 && i > 0) reached = i;
        }
        ASSERT_GE(reached, 0) << "brightness " << brightness << " from Y " << start;
        run(2);  // the frame that finds it converged, and the first held one
        for (int i = 0; i < 90; ++i) {
            run(1);
            EXPECT_EQ(0u, ae.out.Change) << "frame " << frame;
            EXPECT_NEAR(470, (double)ae.out.CurYx10, 20.0) << "frame " << frame;
        }
    };
    run(1);
    for (double b : {1.0, 4.0, 1.0, 0.25, 1.0}) settle(b);

    AE_STABILIZER_PARAM stb{LX_TRUE, 2, 25};
    ASSERT_EQ(0, ae.h->pAE_SetStabilizerParam(ae.h, &stb));
    settle(1.0);
    const LX_U32 shutter = ae.out.Shutter, gain = ae.out.SensorGain * ae.out.IspGain;
    scene.objectBlocks = 100;
    scene.objectY = 60;
    run(30);
    EXPECT_GT(ae.out.CurYx10, 490u);
    EXPECT_EQ(0u, ae.out.Change);
    EXPECT_EQ(shutter, ae.out.Shutter);
    EXPECT_EQ(gain, ae.out.SensorGain * ae.out.IspGain);
    EXPECT_EQ(eMD_LOCAL_MOTION, ae.h->strStabilizer.strInfo.eMDState);
    scene.objectBlocks = 0;
    settle(2.0);
}

}  // namespace
