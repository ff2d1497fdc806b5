// AE exposure model and computation: APEX tables, limits and manual exposure,
// the next exposure in each mode, and the hardware values rounded to lines.
#include <gtest/gtest.h>

#include <initializer_list>

#include "ae_test_support.h"

namespace {

using aetest::Ae;
using aetest::BoardSensor;

AE_EXPO_TBL Table(std::initializer_list<AE_EXPO_POINT> pts) {
    AE_EXPO_TBL t;
    memset(&t, 0, sizeof(t));
    for (const AE_EXPO_POINT &p : pts) t.ExpoTbl[t.u2NumPoints++] = p;
    return t;
}

// APEX of a plain exposure, with DSV from the total gain.
AE_APEX_EXPO Apex(LX_U32 fn, LX_U32 us, LX_U32 sensorGain, LX_U32 totalGain) {
    AE_APEX_EXPO a;
    a.i4AVxBASE = AE_ApexAV(fn);
    a.i4TVxBASE = AE_ApexTV(us);
    a.i4SSVxBASE = AE_ApexSSV(sensorGain);
    a.i4DSVxBASE = AE_ApexSSV(totalGain) - a.i4SSVxBASE;
    a.i4BVxBASE = a.i4AVxBASE + a.i4TVxBASE - a.i4SSVxBASE - a.i4DSVxBASE;
    return a;
}

LX_S32 BV(const AE_APEX_EXPO &a) { return a.i4AVxBASE + a.i4TVxBASE - a.i4SSVxBASE - a.i4DSVxBASE; }

// Smoothing replaced by a fixed step, so the next exposure is seen alone.
LX_S32 g_stepEV = 0;
LX_U32 g_stepRatio = 1024;
LX_S32 FixedSmoothing(cam_ae_handle_t *h) {
    h->i4SmoothDeltaEV = g_stepEV;
    h->u4DeltaEnergyRatio = g_stepRatio;
    return 0;
}

int g_debands = 0;
LX_S32 CountDeBanding(cam_ae_handle_t *, AE_APEX_EXPO *, AE_EXPOVAL *) {
    ++g_debands;
    return 0;
}

// The F1.6 table of the examples: 100 us, 33333 us, then 16x sensor gain.
AE_EXPO_TBL F16Table() { return Table({{16, 100, 1024, 1024}, {16, 33333, 1024, 1024}, {16, 33333, 16384, 16384}}); }

TEST(AeApex, ConversionsTablesAndInterpolation) {
    EXPECT_EQ(22219, AE_ApexAV(16));
    EXPECT_EQ(27787, AE_ApexAV(18));
    EXPECT_EQ(80395, AE_ApexTV(33333));
    EXPECT_EQ(91504, AE_ApexSSV(1536));

    AE_EV_CONVERSION conv;
    memset(&conv, 0, sizeof(conv));
    conv.strPlainExpo = {16, 8333, 100, 100};
    ASSERT_EQ(0, AE_Plain2Apex(nullptr, &conv));
    const AE_APEX_EXPO &c = conv.strApexExpo;
    EXPECT_EQ(113163, c.i4TVxBASE);
    EXPECT_EQ(81920, c.i4SSVxBASE);
    EXPECT_EQ(0, c.i4DSVxBASE);
    EXPECT_EQ(22219, c.i4AVxBASE);
    EXPECT_EQ(81920, c.i4BVxBASE);

    Ae ae("");
    cam_ae_handle_t *h = ae.h;
    AE_EXPO_TBL t = F16Table();
    h->bForceReCal = LX_FALSE;
    ASSERT_EQ(0, h->pAE_SetPlainExpTbl(h, &t));
    EXPECT_EQ(LX_TRUE, h->bForceReCal);
    const AE_APEX_EXPOTBL &a = h->strApexLongExpoTbl;
    ASSERT_EQ(3, a.u2NumPoints);
    EXPECT_EQ(158005, a.Points[0].i4BVxBASE);
    EXPECT_EQ(20694, a.Points[1].i4BVxBASE);
    EXPECT_EQ(-44842, a.Points[2].i4BVxBASE);
    EXPECT_EQ(158005, a.MaxBV.i4BVxBASE);
    EXPECT_EQ(-44842, a.MinBV.i4BVxBASE);
    EXPECT_EQ(3, h->pAE_GetExpTblMaxIdx(h));
    // The table passed in carries its limits and energies (gain x us x 1024 / F^2).
    EXPECT_EQ(409600ull, t.TotalE[0]);
    EXPECT_EQ(136531968ull, t.TotalE[1]);
    EXPECT_EQ(2184511488ull, t.TotalE[2]);
    EXPECT_EQ(100, t.u2MinUSec);
    EXPECT_EQ(33333u, t.u4MaxUSec);
    EXPECT_EQ(16384u, t.u4MaxSensorGain);
    const AE_EXPOVAL &e = h->strPlainLongExpo;
    EXPECT_EQ(100, e.u2MinShutter);
    EXPECT_EQ(33333u, e.u4MaxShutter);
    EXPECT_EQ(1024, e.u2MinSensorGain);
    EXPECT_EQ(16384u, e.u4MaxSensorGain);
    EXPECT_EQ(1024, e.u2MinISPGain);
    EXPECT_EQ(1024u, e.u4MaxISPGain);
    AE_EXPO_TBL back;
    h->pAE_GetPlainExpTbl(h, &back);
    EXPECT_EQ(0, memcmp(&back, &t, sizeof(t)));

    // BV 0 lies between points 1 and 2: the shutter stays, the sensor gain rises 1.26 EV.
    ASSERT_EQ(0, h->pAE_CalIntpApex(h, 0));
    EXPECT_EQ(2, h->strCalLongExpo.Lower);
    EXPECT_EQ(1, h->strCalLongExpo.Upper);
    EXPECT_EQ(33333u, e.u4SensorUSec);
    EXPECT_EQ(2457u, e.u4SensorGain);
    EXPECT_EQ(1024u, e.u4ISPGain);
    EXPECT_EQ(16, e.u2Fnx10);
    // Above the brightest point: exactly point 0.
    ASSERT_EQ(0, h->pAE_CalIntpApex(h, 200000));
    EXPECT_EQ(0, h->strCalLongExpo.Upper);
    EXPECT_EQ(0, h->strCalLongExpo.Lower);
    EXPECT_EQ(100u, e.u4SensorUSec);
    EXPECT_EQ(1024u, e.u4SensorGain);
}

TEST(AeExpoTable, BadTablesLeaveThePreviousOneInForce) {
    struct Case {
        const char *what;
        AE_EXPO_TBL tbl;
    };
    AE_EXPO_TBL tooMany = F16Table();
    tooMany.u2NumPoints = 17;
    Case cases[] = {
        {"no points", Table({})},
        {"17 points", tooMany},
        {"sensor gain 0", Table({{18, 100, 1024, 1024}, {18, 33333, 2048, 0}})},
        {"below F1.0", Table({{18, 100, 1024, 1024}, {9, 33333, 1024, 1024}})},
        {"shutter below the sensor's", Table({{18, 29, 1024, 1024}, {18, 33333, 1024, 1024}})},
        {"shutter above the sensor's", Table({{18, 100, 1024, 1024}, {18, 33334, 1024, 1024}})},
        {"sensor gain above the sensor's", Table({{18, 100, 1024, 1024}, {18, 33333, 32768, 32768}})},
    };
    Ae ae;
    cam_ae_handle_t *h = ae.h;
    const AE_EXPOVAL before = h->strPlainLongExpo;
    const AE_APEX_EXPOTBL apexBefore = h->strApexLongExpoTbl;
    ASSERT_EQ(3, apexBefore.u2NumPoints);
    for (Case &c : cases) {
        EXPECT_EQ(-1, h->pAE_SetPlainExpTbl(h, &c.tbl)) << c.what;
        EXPECT_EQ(0, memcmp(&before, &h->strPlainLongExpo, sizeof(before))) << c.what;
        EXPECT_EQ(0, memcmp(&apexBefore, &h->strApexLongExpoTbl, sizeof(apexBefore))) << c.what;
    }
    // A table outside the sensor's range still comes back with what was worked out.
    EXPECT_EQ(32768u, cases[6].tbl.u4MaxSensorGain);
    EXPECT_EQ(100, cases[6].tbl.u2MinUSec);
    EXPECT_EQ(-1, h->pAE_SetPlainExpTbl(h, nullptr));
    EXPECT_EQ(-1, AE_ConversionExpoTbl(h, &h->strApexShortExpoTbl, &cases[0].tbl));
}

TEST(AeExpoTable, FrameRateAndWideValues) {
    // A sensor of long shutters and wide gains: the built-in limits stay.
    AeInitParam_t s = BoardSensor();
    s.shutter_max = s.shutterHDRShort_max = 2000000;
    s.sensor_gain_max = s.isp_gain_max = 0;
    Ae ae("", s);
    cam_ae_handle_t *h = ae.h;
    const AE_EXPOVAL &e = h->strPlainLongExpo;

    // 16-bit minima saturate; the ISP gain of a point is formed in 64 bits
    // (70000 x 1024 x 64 would pass 32).
    AE_EXPO_TBL t = Table({{18, 70000, 70000 * 64, 1024 * 64}, {18, 1000000, 100000 * 64, 1024 * 64}});
    ASSERT_EQ(0, h->pAE_SetPlainExpTbl(h, &t));
    EXPECT_EQ(65535, e.u2MinShutter);
    EXPECT_EQ(65535, e.u2MinISPGain);
    EXPECT_EQ(100000u, e.u4MaxISPGain);
    EXPECT_EQ(1000000u, e.u4MaxShutter);
    EXPECT_EQ(100000ull * 64 * 1000000 * 1024 / 324, t.TotalE[1]);

    // Above 30 fps the frame time bounds the shutter.
    h->u4CurFPS = 60000;
    t = F16Table();
    ASSERT_EQ(0, h->pAE_SetPlainExpTbl(h, &t));
    EXPECT_EQ(16666u, e.u4MaxShutter);
    h->u4CurFPS = 30000;
    ASSERT_EQ(0, h->pAE_SetPlainExpTbl(h, &t));
    EXPECT_EQ(33333u, e.u4MaxShutter);

    // The short table has its own limits.
    AE_EXPO_TBL st = Table({{16, 50, 1024, 1024}, {16, 5000, 4096, 2048}});
    ASSERT_EQ(0, h->pAE_SetPlainShortExpTbl(h, &st));
    EXPECT_EQ(50, h->strPlainShortExpo.u2MinShutter);
    EXPECT_EQ(2048u, h->strPlainShortExpo.u4MaxISPGain);
    EXPECT_EQ(100, e.u2MinShutter);
    EXPECT_EQ(2, h->pAE_GetExpTblMaxIdxShort(h));
}

TEST(AeExpoLimits, SettersClampAndGettersReadBack) {
    Ae ae;
    cam_ae_handle_t *h = ae.h;
    AE_EXPO_TBL t = Table({{160, 100, 1024, 1024}, {56, 10000, 1024, 1024}, {16, 33333, 1024, 1024}});
    ASSERT_EQ(0, h->pAE_SetPlainExpTbl(h, &t));
    LX_U16 lo = 0, hi = 0;

    // Inputs first to F1.0..F22, then into the table's F1.6..F16; the
    // smaller F-number reads back as the minimum whatever order it came in.
    struct Aperture {
        LX_U16 min, max, wantMin, wantMax;
    };
    const Aperture apertures[] = {{5, 300, 16, 160}, {40, 80, 40, 80}, {80, 40, 40, 80}, {220, 220, 160, 160}};
    for (const Aperture &c : apertures) {
        h->bForceReCal = LX_FALSE;
        EXPECT_EQ(0, h->pAE_SetMinMaxAperture(h, c.min, c.max));
        EXPECT_EQ(LX_TRUE, h->bForceReCal);
        h->pAE_GetMinMaxAperture(h, &lo, &hi);
        EXPECT_EQ(c.wantMin, lo) << c.min << "/" << c.max;
        EXPECT_EQ(c.wantMax, hi) << c.min << "/" << c.max;
        // The computation closes the aperture no further than the larger F-number.
        EXPECT_EQ(c.wantMax, h->strPlainLongExpo.u2HWMinAperture);
        EXPECT_EQ(AE_ApexAV(c.wantMax), h->pAE_FindClosestAV(h, AE_ApexAV(160), 2, 0));
        EXPECT_EQ(AE_ApexAV(c.wantMin), h->pAE_FindClosestAV(h, AE_ApexAV(16), 2, 0));
    }

    struct Gains {
        LX_U32 isp, sensor, wantIsp, wantSensor;
    };
    const Gains maxima[] = {{512, 2048, 1024, 2048}, {9000, 20000, 8192, 16384}, {4096, 0, 4096, 1024}};
    for (const Gains &c : maxima) {
        EXPECT_EQ(0, h->pAE_SetMaxGains(h, c.isp, c.sensor));
        LX_U32 isp = 0, sensor = 0;
        h->pAE_GetMaxGains(h, &isp, &sensor);
        EXPECT_EQ(c.wantIsp, isp) << c.isp;
        EXPECT_EQ(c.wantSensor, sensor) << c.sensor;
    }
    const Gains minima[] = {{0, 100, 1024, 1024}, {9000, 20000, 8192, 16384}, {2048, 4096, 2048, 4096}};
    for (const Gains &c : minima) {
        EXPECT_EQ(0, h->pAE_SetMinGains(h, (LX_U16)c.isp, (LX_U16)c.sensor));
        LX_U16 isp = 0, sensor = 0;
        h->pAE_GetMinGains(h, &isp, &sensor);
        EXPECT_EQ(c.wantIsp, isp) << c.isp;
        EXPECT_EQ(c.wantSensor, sensor) << c.sensor;
    }
    EXPECT_EQ(0, h->pAE_SetMinMaxShutterUS(h, 0, 1));
    LX_U16 minUs = 9;
    LX_U32 maxUs = 9;
    h->pAE_GetMinMaxShutterUS(h, &minUs, &maxUs);
    EXPECT_EQ(0, minUs);
    EXPECT_EQ(1u, maxUs);

    // A hardware ISP maximum beyond 16 bits saturates the minimum.
    h->strPlainLongExpo.u4HWISPMaxGain = 262143;
    EXPECT_EQ(0, h->pAE_SetMinGains(h, 65535, 1024));
    EXPECT_EQ(65535, h->strPlainLongExpo.u2MinISPGain);
}

TEST(AeExpoManual, ModeAndManualExposureWaitForTheFrame) {
    AeInitParam_t s = BoardSensor();
    s.sensor_gain_max = s.isp_gain_max = 0;  // the built-in 5000x sensor, 256x ISP
    Ae ae("", s);
    cam_ae_handle_t *h = ae.h;
    AE_USER_SETTING &u = h->strUserParam;

    EXPECT_EQ(-1, h->pAE_SetExpMode(h, (AE_EXP_MODE)5));
    EXPECT_EQ(LX_FALSE, u.bIsChanged);
    EXPECT_EQ(0, h->pAE_SetExpMode(h, AE_MODE_TV));
    AE_EXP_MODE mode = AE_MODE_A;
    h->pAE_GetExpMode(h, &mode);
    EXPECT_EQ(AE_MODE_TV, mode);
    EXPECT_EQ(AE_MODE_A, h->eExpMode);

    struct Case {
        LX_U16 fn;
        LX_U32 sg, isp, us;
        LX_S32 result;
        LX_U16 wantFn;
        LX_U32 wantIsp;
    };
    const Case cases[] = {
        {18, 2048, 1024, 10000, 0, 18, 1024},
        {5, 2048, 500, 10000, 0, 10, 1024},          // F and ISP gain brought into range
        {300, 2048, 300000, 10000, 0, 220, 262143},  // ... from above
        {18, 2048, 1024, 29, -1, 0, 0},               // shutter 1 us below the sensor's
        {18, 2048, 1024, 33334, -1, 0, 0},
        {18, 1023, 1024, 10000, -1, 0, 0},
        {18, 5120001, 1024, 10000, -1, 0, 0},
    };
    for (const Case &c : cases) {
        u.bIsChanged = LX_FALSE;
        const AE_MANUAL_PLAIN_EXP before = u.strPlainLongExpo;
        EXPECT_EQ(c.result, h->pAE_SetManualExpo(h, c.fn, c.sg, c.isp, c.us)) << c.us;
        LX_U16 fn = 0;
        LX_U32 sg = 0, isp = 0, us = 0;
        h->pAE_GetManualExpo(h, &fn, &sg, &isp, &us);
        if (c.result != 0) {
            EXPECT_EQ(LX_FALSE, u.bIsChanged);
            EXPECT_EQ(0, memcmp(&before, &u.strPlainLongExpo, sizeof(before)));
            continue;
        }
        EXPECT_EQ(LX_TRUE, u.bIsChanged);
        EXPECT_EQ(c.wantFn, fn);
        EXPECT_EQ(c.sg, sg);
        EXPECT_EQ(c.wantIsp, isp);
        EXPECT_EQ(c.us, us);
        EXPECT_EQ(AE_ApexAV(c.wantFn), u.strApexLongExpo.i4AVxBASE);
        EXPECT_EQ(AE_ApexTV(c.us), u.strApexLongExpo.i4TVxBASE);
        EXPECT_EQ(98304, u.strApexLongExpo.i4SSVxBASE);
    }
    EXPECT_EQ(16384 * 8 - 1, u.strApexLongExpo.i4DSVxBASE);  // ISP 262143: just under 8 EV

    // The total gain of a manual exposure is formed in 64 bits.
    ASSERT_EQ(0, h->pAE_SetManualExpo(h, 18, 1048576, 262143, 10000));
    EXPECT_EQ(AE_ApexSSV(268434432) - AE_ApexSSV(1048576), u.strApexLongExpo.i4DSVxBASE);

    // The short exposure checks the short sensor's limits.
    EXPECT_EQ(-1, h->pAE_SetManualExpoShort(h, 18, 1024, 1024, 33334));
    ASSERT_EQ(0, h->pAE_SetManualExpoShort(h, 18, 4096, 1024, 500));
    LX_U32 sg = 0, us = 0;
    h->pAE_GetManualExpoShort(h, nullptr, &sg, nullptr, &us);
    EXPECT_EQ(4096u, sg);
    EXPECT_EQ(500u, us);
}

TEST(AeSetExposure, ShutterInWholeLinesAndTheGainThatMakesUpForIt) {
    struct Case {
        const char *what;
        LX_U32 stepNS;
        AE_SHUTTER_COMP_GAIN comp;
        LX_U16 minSensorGain;
        LX_U32 us, sensorGain, totalGain;
        LX_U32 wantUs, wantSensor, wantIsp, wantStepGain;
    };
    const Case cases[] = {
        // 337 lines of 29630 ns: 9985.31 us shown as 9986, step gain 1024 x 10000000 / 9985310.
        {"lines", 29630, COMP_BY_ISP_GAIN, 1024, 10000, 2048, 2048, 9986, 2048, 1025, 1025},
        {"first frame", 29630, COMP_BY_ISP_GAIN, 1024, 33333, 1024, 1024, 33305, 1024, 1024, 1024},
        {"by sensor gain", 29630, COMP_BY_SENSOR_GAIN, 1024, 10000, 2048, 2048, 9986, 2050, 1024, 1025},
        {"no line time", 0, COMP_BY_ISP_GAIN, 1024, 10000, 2048, 2048, 10000, 2048, 1024, 1024},
        // ISP gain below 1x after the sensor minimum: no rounding, ISP 1x.
        {"sensor minimum", 29630, COMP_BY_ISP_GAIN, 2048, 10000, 1024, 1024, 10000, 2048, 1024, 1025},
        // ISP gain beyond the hardware's 8x: no rounding, ISP at 8x.
        {"ISP maximum", 29630, COMP_BY_ISP_GAIN, 1024, 10000, 1024, 16384, 10000, 1024, 8192, 1025},
    };
    for (const Case &c : cases) {
        Ae ae;
        cam_ae_handle_t *h = ae.h;
        AE_EXPOVAL &e = h->strPlainLongExpo;
        e.u4HWSensorShutterStepNS = c.stepNS;
        e.u2MinSensorGain = c.minSensorGain;
        e.u4TotalGain = 777;
        h->eShutterCompGain = c.comp;
        AE_APEX_EXPO a = Apex(18, c.us, c.sensorGain, c.totalGain);
        ASSERT_EQ(0, h->pAE_SetExposure(h, &a, &e)) << c.what;
        EXPECT_EQ(c.wantUs, e.u4SensorUSec) << c.what;
        EXPECT_EQ(c.wantSensor, e.u4SensorGain) << c.what;
        EXPECT_EQ(c.wantIsp, e.u4ISPGain) << c.what;
        EXPECT_EQ(c.wantStepGain, e.u4ShutterStepGain) << c.what;
        EXPECT_EQ(777u, e.u4PrevTotalGain) << c.what;
        EXPECT_EQ(c.wantIsp * c.wantSensor / 1024, e.u4TotalGain) << c.what;
        // The APEX record now describes what the sensor gets.
        const AE_APEX_EXPO want = Apex(18, c.wantUs, c.wantSensor, e.u4TotalGain);
        EXPECT_EQ(want.i4TVxBASE, a.i4TVxBASE) << c.what;
        EXPECT_EQ(want.i4SSVxBASE, a.i4SSVxBASE) << c.what;
        EXPECT_EQ(want.i4DSVxBASE, a.i4DSVxBASE) << c.what;
        EXPECT_EQ(BV(a), a.i4BVxBASE) << c.what;
    }
}

TEST(AeLimitMinMax, EachModeGivesWayInItsOrder) {
    struct Case {
        AE_EXP_MODE mode;
        LX_U32 us, sensorGain, totalGain;
        LX_U32 wantUs, wantSensor, wantIsp;
        LX_CAM_BOOL limited;
    };
    // Limits of the reference table: 100..33333 us, sensor 1x..16x, ISP 1x..8x.
    // The split is worked out in single precision; the shutter comes back to
    // the nearest microsecond (20000 us is 19999.99 us after its APEX round
    // trip), the gains truncated.
    const Case cases[] = {
        {AE_MODE_A, 20000, 2048, 2048, 20000, 2048, 1024, LX_TRUE},      // ISP at its minimum
        {AE_MODE_A, 50000, 1024, 1024, 33333, 1536, 1024, LX_TRUE},      // the sensor gain takes the time cut off
        {AE_MODE_A, 33333, 32768, 32768, 33333, 16384, 2047, LX_TRUE},   // the ISP gain takes the sensor's excess
        {AE_MODE_AV, 50000, 1024, 1024, 33333, 1536, 1024, LX_TRUE},
        {AE_MODE_TV, 50, 2048, 2048, 50, 2048, 1024, LX_TRUE},           // the time stays, even below its limit
        {AE_MODE_TV, 33333, 32768, 32768, 33333, 16384, 2048, LX_TRUE},
        {AE_MODE_SV, 40000, 2048, 4096, 33333, 2048, 2048, LX_TRUE},     // the gains stay
        {AE_MODE_SV, 20000, 2048, 4096, 20000, 2048, 2048, LX_FALSE},
        {AE_MODE_M, 50000, 1024, 1024, 0, 0, 0, LX_FALSE},               // untouched
    };
    for (const Case &c : cases) {
        Ae ae;
        cam_ae_handle_t *h = ae.h;
        h->eExpMode = c.mode;
        AE_EXPOVAL &e = h->strPlainLongExpo;
        e.bLimited = LX_FALSE;
        AE_APEX_EXPO a = Apex(18, c.us, c.sensorGain, c.totalGain);
        const AE_APEX_EXPO in = a;
        ASSERT_EQ(0, h->pAE_LimitMinMax(h, &a, &e));
        EXPECT_EQ(c.limited, e.bLimited) << c.mode << " " << c.us;
        if (c.mode == AE_MODE_M) {
            EXPECT_EQ(0, memcmp(&in, &a, sizeof(a)));
            continue;
        }
        const AE_APEX_EXPO want = Apex(18, c.wantUs, c.wantSensor, c.wantSensor * c.wantIsp / 1024);
        EXPECT_EQ(want.i4TVxBASE, a.i4TVxBASE) << c.mode << " " << c.us;
        EXPECT_EQ(want.i4SSVxBASE, a.i4SSVxBASE) << c.mode << " " << c.us;
        EXPECT_EQ(want.i4DSVxBASE, a.i4DSVxBASE) << c.mode << " " << c.us;
        EXPECT_EQ(BV(a), a.i4BVxBASE);
    }
}

// The calculation step of a frame on the board's sensor and table, with the
// smoothing step given: what the sensor gets next.
TEST(AeNextExposure, AutoAndManualOnTheBoardTable) {
    Ae ae;
    cam_ae_handle_t *h = ae.h;
    h->pAE_CalSmoothExpo = FixedSmoothing;
    h->pAE_DoDeBanding = CountDeBanding;
    AE_EXPOVAL &e = h->strPlainLongExpo;

    // The first frame: the exposure the sensor runs with (33333 us, 1x) in lines.
    e.u4SensorUSec = 33333;
    e.u4SensorGain = e.u4ISPGain = 1024;
    e.u2Fnx10 = 18;
    AE_InitBV(h);
    ASSERT_EQ(0, h->pAE_SetExposure(h, &h->strApexCurExpo, &e));
    EXPECT_EQ(33305u, e.u4SensorUSec);
    EXPECT_EQ(26282, h->strApexCurExpo.i4BVxBASE);

    // A scene at half the target: 0.22 EV more, taken by the table's
    // interpolated sensor and ISP gains (4 EV and 3 EV over the same span).
    g_stepEV = 3629;
    g_stepRatio = 1193;
    g_debands = 0;
    h->bForceReCal = LX_FALSE;
    ASSERT_EQ(0, h->pAE_CalPvExpo(h));
    EXPECT_EQ(26282 - 3629, h->strCalLongExpo.i4TargetBV);
    EXPECT_EQ(1, g_debands);
    ASSERT_EQ(0, h->pAE_SetExposure(h, &h->strNextLongExpo, &e));
    EXPECT_EQ(33305u, e.u4SensorUSec);
    EXPECT_EQ(1116u, e.u4SensorGain);
    EXPECT_EQ(1093u, e.u4ISPGain);
    EXPECT_EQ(1191u, e.u4TotalGain);
    EXPECT_EQ(LX_TRUE, e.bLimited);  // the table's 33333 us is the shutter's limit

    // No change and nothing forced: the exposure stays.
    g_stepEV = 0;
    g_stepRatio = 1024;
    h->strApexCurExpo = h->strNextLongExpo;
    h->strNextLongExpo = AE_APEX_EXPO{};
    ASSERT_EQ(0, h->pAE_CalPvExpo(h));
    EXPECT_EQ(0, memcmp(&h->strApexCurExpo, &h->strNextLongExpo, sizeof(AE_APEX_EXPO)));

    // Manual 1405 {18, 2048, 1024, 10000} with mode 4, applied as the next
    // frame applies the user settings.
    ASSERT_EQ(0, h->pAE_SetManualExpo(h, 18, 2048, 1024, 10000));
    ASSERT_EQ(0, h->pAE_SetExpMode(h, AE_MODE_M));
    h->eExpMode = h->strUserParam.eExpMode;
    h->strManualLongExp = h->strUserParam.strApexLongExpo;
    g_debands = 0;
    for (int frame = 0; frame < 3; ++frame) {
        g_stepEV = frame * 5000;  // whatever the scene does
        g_stepRatio = 1024 + frame * 300;
        ASSERT_EQ(0, h->pAE_CalPvExpo(h));
        ASSERT_EQ(0, h->pAE_SetExposure(h, &h->strNextLongExpo, &e));
        h->strApexCurExpo = h->strNextLongExpo;
        h->bForceReCal = LX_FALSE;
        EXPECT_EQ(9986u, e.u4SensorUSec) << frame;
        EXPECT_EQ(2048u, e.u4SensorGain) << frame;
        EXPECT_EQ(1025u, e.u4ISPGain) << frame;
        EXPECT_EQ(18, e.u2Fnx10) << frame;
    }
    EXPECT_EQ(0, g_debands);
}

// A lens with two F-numbers: each mode keeps the target BV, an aperture of
// the table and the shutter within the table.
TEST(AeNextExposure, SplitsKeepTheBrightnessInEveryMode) {
    Ae ae("");
    cam_ae_handle_t *h = ae.h;
    h->pAE_CalSmoothExpo = FixedSmoothing;
    h->pAE_DoDeBanding = CountDeBanding;
    AE_EXPO_TBL t = Table({{80, 100, 1024, 1024},
                           {80, 10000, 1024, 1024},
                           {28, 10000, 1024, 1024},
                           {28, 33333, 1024, 1024},
                           {28, 33333, 32768, 16384}});
    ASSERT_EQ(0, h->pAE_SetPlainExpTbl(h, &t));
    const AE_APEX_EXPOTBL &a = h->strApexLongExpoTbl;
    const LX_S32 av80 = AE_ApexAV(80), av28 = AE_ApexAV(28);
    ASSERT_EQ(av80, a.Points[0].i4AVxBASE);
    EXPECT_EQ(LX_FALSE, h->pAE_FurtherLimitOnAperture(h));

    // Mode 0 looks from the bright end, mode 1 from the dark end, mode 2 for the nearest.
    struct Find {
        LX_S32 av;
        LX_U8 mode, nth;
        LX_S32 want;
    };
    const Find finds[] = {{av80 - 1, 0, 0, av28}, {av80 - 1, 0, 2, av28}, {av28 + 1, 1, 0, av80},
                          {av80 + 1, 1, 0, av80}, {av28 - 1, 1, 2, av28}, {(av80 + av28) / 2 + 1, 2, 0, av80},
                          {(av80 + av28) / 2 - 1, 2, 0, av28}, {av28, 7, 0, av80}};
    for (const Find &f : finds) EXPECT_EQ(f.want, h->pAE_FindClosestAV(h, f.av, f.mode, f.nth)) << f.av << "/" << (int)f.mode;

    const AE_APEX_EXPO &p1 = a.Points[1], &p2 = a.Points[2], &p3 = a.Points[3], &p4 = a.Points[4];
    const LX_S32 bvNear = p2.i4BVxBASE + (p1.i4BVxBASE - p2.i4BVxBASE) / 5 * 4;  // aperture step, near F8
    const LX_S32 bvMid = (p1.i4BVxBASE + p2.i4BVxBASE) / 2;                      // aperture step, midway
    const LX_S32 bvLow = (p3.i4BVxBASE + p4.i4BVxBASE) / 2;                      // gains rising at F2.8
    struct Case {
        const char *what;
        AE_EXP_MODE mode;
        LX_S32 bv;
        LX_S32 av;
        bool reached;  // else the gains stop at the table's darkest point
    };
    const Case cases[] = {
        {"A near", AE_MODE_A, bvNear, av80, true},    {"A low", AE_MODE_A, bvLow, av28, true},
        {"AV mid", AE_MODE_AV, bvMid, av80, true},    {"AV low", AE_MODE_AV, bvLow, av80, true},
        {"SV near", AE_MODE_SV, bvNear, av80, true},  {"TV near", AE_MODE_TV, bvNear, av80, true},
        {"TV low", AE_MODE_TV, bvLow, av28, false},
    };
    for (const Case &c : cases) {
        h->eExpMode = c.mode;
        h->strManualLongExp = Apex(80, 2000, 2048, 4096);  // F8, 2 ms, sensor 2x, ISP 2x
        ASSERT_EQ(0, h->pAE_CalIntpApex(h, c.bv));
        AE_APEX_EXPO out = h->strNextLongExpo;
        const LX_U8 lo = h->strCalLongExpo.Lower, up = h->strCalLongExpo.Upper;
        switch (c.mode) {
            case AE_MODE_A: h->pAE_CalApexAuto2(h, lo, up, &out, &h->strPlainLongExpo); break;
            case AE_MODE_AV: h->pAE_CalApexAV2(h, lo, up, &out); break;
            case AE_MODE_SV: h->pAE_CalApexSV2(h, lo, up, &out); break;
            default: h->pAE_CalApexTV(h, lo, up, &out); break;
        }
        EXPECT_EQ(BV(out), out.i4BVxBASE) << c.what;
        EXPECT_EQ(c.av, out.i4AVxBASE) << c.what;
        EXPECT_LE(out.i4TVxBASE, a.Points[0].i4TVxBASE) << c.what;
        EXPECT_GE(out.i4TVxBASE, p4.i4TVxBASE) << c.what;
        if (c.reached) {
            EXPECT_EQ(c.bv, out.i4BVxBASE) << c.what;
        } else {
            EXPECT_EQ(p4.i4SSVxBASE, out.i4SSVxBASE) << c.what;
            EXPECT_EQ(p4.i4DSVxBASE, out.i4DSVxBASE) << c.what;
        }
        if (c.mode == AE_MODE_TV) {
            EXPECT_EQ(AE_ApexTV(2000), out.i4TVxBASE) << c.what;
        }
        if (c.mode == AE_MODE_SV) {
            EXPECT_EQ(AE_ApexSSV(2048), out.i4SSVxBASE) << c.what;
            EXPECT_EQ(AE_APEX_BASE, out.i4DSVxBASE) << c.what;
        }
    }

    // The whole calculation step in mode A: the F-number that goes out is the
    // aperture the split took (F8; the interpolated one there is F6.5).
    h->eExpMode = AE_MODE_A;
    h->strApexCurExpo.i4BVxBASE = bvNear;
    g_stepEV = 0;
    g_stepRatio = 1024;
    h->bForceReCal = LX_TRUE;
    ASSERT_EQ(0, h->pAE_CalPvExpo(h));
    EXPECT_EQ(av80, h->strNextLongExpo.i4AVxBASE);
    EXPECT_EQ(80, h->strPlainLongExpo.u2Fnx10);

    // Narrower limits than the table: the aperture stops at F4.0 and the
    // time takes the difference.
    ASSERT_EQ(0, h->pAE_SetMinMaxAperture(h, 28, 40));
    EXPECT_EQ(LX_TRUE, h->pAE_FurtherLimitOnAperture(h));
    h->eExpMode = AE_MODE_A;
    h->strApexCurExpo.i4BVxBASE = a.Points[1].i4BVxBASE;
    h->pAE_CalIntpApex(h, a.Points[1].i4BVxBASE);
    AE_APEX_EXPO out = h->strNextLongExpo;
    h->pAE_CalApexAuto2(h, h->strCalLongExpo.Lower, h->strCalLongExpo.Upper, &out, &h->strPlainLongExpo);
    EXPECT_EQ(AE_ApexAV(40), out.i4AVxBASE);
    EXPECT_EQ(a.Points[1].i4BVxBASE, out.i4BVxBASE);
    EXPECT_EQ(a.Points[1].i4TVxBASE + av80 - AE_ApexAV(40), out.i4TVxBASE);
}

TEST(AeRgbIr, IspGainCorrectedForTheIrShareOnTheLongExposure) {
    Ae ae;
    cam_ae_handle_t *h = ae.h;
    AE_RGBIR_SETTING &r = h->strRgbirParam;
    struct Case {
        LX_U16 ratio;
        LX_U32 dgain, want;
        LX_U16 ratioAfter;
    };
    const Case cases[] = {
        {5000, 1024, 2048, 5000},  // half the light is IR: twice the gain
        {1000, 1024, 8192, 2500},  // beyond 8x: the ratio left by 8x, kept at its minimum
        {0, 2048, 8192, 2500},     // no ratio yet
        {10000, 500, 1024, 4882},  // below the minimum ISP gain
    };
    for (const Case &c : cases) {
        r.u2IRFeedBakckRatio = c.ratio;
        EXPECT_EQ(c.want, AE_CalNewDGainWithIR(h, c.dgain)) << c.ratio;
        EXPECT_EQ(c.ratioAfter, r.u2IRFeedBakckRatio) << c.ratio;
    }

    r.bEnable = r.bIsValid = 1;
    r.u2IRFeedBakckRatio = 5000;
    r.uInvalidCount = 5;
    AE_APEX_EXPO a = Apex(18, 10000, 1024, 1024);
    ASSERT_EQ(0, h->pAE_SetExposure(h, &a, &h->strPlainShortExpo));
    a = Apex(18, 10000, 1024, 1024);
    EXPECT_EQ(2050u, h->strPlainShortExpo.u4ISPGain);
    EXPECT_EQ(5, r.uInvalidCount);  // the short exposure leaves the feedback alone
    EXPECT_EQ(1, r.bIsValid);
    ASSERT_EQ(0, h->pAE_SetExposure(h, &a, &h->strPlainLongExpo));
    EXPECT_EQ(2050u, h->strPlainLongExpo.u4ISPGain);
    EXPECT_EQ(0, r.uInvalidCount);
    EXPECT_EQ(0, r.bIsValid);
    EXPECT_EQ(5000, r.u2IRFeedBakckRatioPre);
    // Every second exposure after that is computed from fresh statistics.
    const LX_U8 valid[] = {0, 1, 0};
    for (LX_U8 v : valid) {
        a = Apex(18, 10000, 1024, 1024);
        h->pAE_SetExposure(h, &a, &h->strPlainLongExpo);
        EXPECT_EQ(v, r.bIsValid);
    }
}

TEST(AeHdrShort, ShortExposureFollowsTheRatioCurve) {
    Ae ae;
    cam_ae_handle_t *h = ae.h;
    ae.in.HDRMode = 1;
    h->pAE_DoDeBanding = CountDeBanding;
    g_debands = 0;
    AE_EXPO_TBL st = Table({{18, 30, 1024, 1024}, {18, 3333, 1024, 1024}, {18, 3333, 16384, 16384}});
    ASSERT_EQ(0, h->pAE_SetPlainShortExpTbl(h, &st));
    h->strNextLongExpo = Apex(18, 33333, 2048, 2048);
    h->strPlainLongExpo.u4TotalGain = 2048;
    // Ratio 10 (the default curve): the short BV is log2(10) EV brighter.
    ASSERT_EQ(0, h->pAE_CalPvExpoShort(h));
    EXPECT_EQ(h->strNextLongExpo.i4BVxBASE + 54426, h->strCalShortExpo.i4TargetBV);
    // A quarter of the way from 3333 us at 1x to 16x: one EV of sensor gain.
    EXPECT_EQ(3333u, h->strPlainShortExpo.u4SensorUSec);
    EXPECT_EQ(2048u, h->strPlainShortExpo.u4SensorGain);
    EXPECT_EQ(1024u, h->strPlainShortExpo.u4ISPGain);
    EXPECT_EQ(1, g_debands);

    // Fixed ratio: the short exposure takes the long gains and keeps its product.
    ae.in.HDRMode = 2;
    AE_EXPOVAL &s = h->strPlainShortExpo;
    s.u4SensorGain = 1024;
    s.u4ISPGain = 1024;
    s.u4SensorUSec = 3000;
    h->strPlainLongExpo.u4SensorGain = 2048;
    h->strPlainLongExpo.u4ISPGain = 1024;
    AE_APEX_EXPO a = Apex(18, 3000, 1024, 1024);
    ASSERT_EQ(0, AE_CalApexSVforHDRShort(h, &a, &s));
    EXPECT_EQ(h->strNextLongExpo.i4SSVxBASE, a.i4SSVxBASE);
    EXPECT_EQ(2048u, s.u4SensorGain);
    EXPECT_EQ(1500u, s.u4SensorUSec);
    EXPECT_EQ(AE_ApexTV(3000) + 16384, a.i4TVxBASE);
    EXPECT_EQ(BV(a), a.i4BVxBASE);
}

}  // namespace
