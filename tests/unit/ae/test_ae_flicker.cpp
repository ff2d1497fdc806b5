// AE flicker: de-banding of a new exposure, the start-up and run-time
// frequency detectors fed with frames of a lamp on 50 Hz or 60 Hz mains, and
// the flicker settings.
#include <gtest/gtest.h>
#include <math.h>

#include <pthread.h>

#include <atomic>
#include <deque>
#include <string>
#include <thread>

#include "ae_flicker.h"
#include "ae_test_support.h"

namespace {

using aetest::Ae;

// Mean light of a lamp on `hz` mains (flickering at twice that, depth
// `depth`) over an exposure of `us` microseconds starting at `t0` us.
double LampMean(double hz, double depth, double t0, double us) {
    const double w = 2.0 * M_PI * 2.0 * hz / 1e6;
    return 1.0 + depth * (sin(w * (t0 + us)) - sin(w * t0)) / (w * us);
}

// Frame `n` of a rolling-shutter sensor at `fps` under that lamp: block row r
// starts its exposure r/32 of a frame after the first, every block of a row
// alike, Y 100 for the lamp's mean.
void LampFrame(Ae &ae, int n, double fps, double hz, double depth, LX_U32 exposureUS) {
    const double frameUS = 1e6 / fps;
    for (int r = 0; r < 32; ++r) {
        const double mean = LampMean(hz, depth, n * frameUS + r * frameUS / 32.0, exposureUS);
        const LX_U8 y = (LX_U8)lround(100.0 * mean);
        for (int c = 0; c < 32; ++c) ae.blocks[r * 32 + c] = ISPAESample_t{y, y, y, y};
    }
}

// De-banded shutters the AE would pick near 20 ms.
LX_U32 DebandedUS(AE_BANDING b) { return b == BANDING_60HZ ? 16666 : 20000; }

void ResetStartup() { g_AeFlickerStartup = {AE_FLICKER_STEP_SET60, 1, AE_FLICKER_ENERGY_NONE, AE_FLICKER_ENERGY_NONE}; }

int Count(const std::string &s, const std::string &what) {
    int n = 0;
    for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
    return n;
}

TEST(AeDeBanding, ShutterOnWholePeriodsGainsMakeUpTheLight) {
    const LX_U32 kSame = 0;  // exposure passes untouched
    struct Case {
        AE_BANDING band;
        AE_FLICKER_MODE mode;
        AE_EXP_MODE exp;
        bool detecting;
        LX_U32 us, sensor, isp;
        LX_U32 outUS, outSensor, outIsp, bandingGain;
    };
    const AE_FLICKER_MODE man = AE_FLICKER_MANUAL, autoMode = AE_FLICKER_AUTO;
    const Case cases[] = {
        {BANDING_50HZ, man, AE_MODE_A, false, 15000, 1024, 1024, 10000, 1536, 1024, 1536},
        {BANDING_50HZ, man, AE_MODE_A, false, 15000, 16384, 1024, 10000, 16384, 1536, 1536},  // sensor at its max
        {BANDING_60HZ, man, AE_MODE_A, false, 20000, 1024, 1024, 16666, 1228, 1024, 1228},
        {BANDING_50HZ, man, AE_MODE_AV, false, 30000, 2048, 1024, 30000, 2048, 1024, 1024},  // a whole multiple
        {BANDING_50HZ, man, AE_MODE_A, false, 5000, 1024, 1024, 5000, 1024, 1024, 1024},     // under one period
        {BANDING_50HZ, autoMode, AE_MODE_A, true, 5000, 1024, 1024, 10000, 1024, 1024, 1024},  // stretched
        {BANDING_50HZ, autoMode, AE_MODE_A, true, 50000, 1024, 1024, 40000, 1280, 1024, 1280},  // 5 fits 60 Hz too
        {BANDING_60HZ, autoMode, AE_MODE_A, true, 50000, 1024, 1024, 58331, 877, 1024, 877},    // 6 fits 50 Hz too
        {BANDING_50HZ, man, AE_MODE_SV, false, 15000, 1024, 1024, 10000, 1024, 1536, 1536},     // ISP gain only
        {BANDING_50HZ, man, AE_MODE_SV, false, 15000, 4096, 8192, 10000, 6144, 8192, 1536},     // ISP over its max
        {BANDING_50HZ, man, AE_MODE_A, false, 15000, 16384, 8192, 10000, 16384, 8192, 1536},    // both at max
        {BANDING_50HZ, man, AE_MODE_A, false, 10000, 32768, 1024, 10000, 16384, 2048, 1024},    // sensor over max
        {BANDING_50HZ, AE_FLICKER_DISABLE, AE_MODE_A, false, 15000, 1024, 1024, kSame, 0, 0, 0},
        {BANDING_50HZ, man, AE_MODE_TV, false, 15000, 1024, 1024, kSame, 0, 0, 0},
        {BANDING_50HZ, man, AE_MODE_M, false, 15000, 1024, 1024, kSame, 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "band " << c.band << " mode " << c.mode << " exp " << c.exp << " us "
                                        << c.us << " gains " << c.sensor << "/" << c.isp);
        Ae ae("");
        cam_ae_handle_t *h = ae.h;
        h->eFlicker = c.band;
        h->eFlickerMode = c.mode;
        h->eExpMode = c.exp;
        h->bAutoFlickerFrequencyDetection = c.detecting ? LX_TRUE : LX_FALSE;
        h->u4BandingGain = 7;
        // De-banding reads TV, SSV and DSV and works out BV itself.
        const LX_S32 ssv = AE_ApexSSV(c.sensor);
        AE_APEX_EXPO a{AE_ApexTV(c.us), ssv, AE_ApexSSV(c.sensor * c.isp / 1024) - ssv, AE_ApexAV(18), 0};
        const AE_APEX_EXPO before = a;
        AE_EXPOVAL &e = h->strPlainLongExpo;
        const AE_EXPOVAL plainBefore = e;
        ASSERT_EQ(0, h->pAE_DoDeBanding(h, &a, &e));
        EXPECT_EQ(c.exp == AE_MODE_SV ? LX_TRUE : LX_FALSE, h->bUseDgain2CompBanding);
        if (c.outUS == kSame) {
            EXPECT_EQ(0, memcmp(&before, &a, sizeof(a)));
            EXPECT_EQ(0, memcmp(&plainBefore, &e, sizeof(e)));
            EXPECT_EQ(7u, h->u4BandingGain);
            continue;
        }
        EXPECT_EQ(c.outUS, e.u4SensorUSec);
        EXPECT_EQ(c.outSensor, e.u4SensorGain);
        EXPECT_EQ(c.outIsp, e.u4ISPGain);
        EXPECT_EQ(c.bandingGain, h->u4BandingGain);
        // The APEX record follows the new plain values.
        EXPECT_EQ(c.outUS == c.us ? before.i4TVxBASE : AE_ApexTV(c.outUS), a.i4TVxBASE);
        EXPECT_EQ(AE_ApexSSV(c.outSensor), a.i4SSVxBASE);
        EXPECT_EQ(AE_ApexSSV((LX_U32)((LX_U64)c.outSensor * c.outIsp / 1024)), a.i4SSVxBASE + a.i4DSVxBASE);
        EXPECT_EQ(before.i4AVxBASE, a.i4AVxBASE);
        EXPECT_EQ(a.i4AVxBASE + a.i4TVxBASE - a.i4SSVxBASE - a.i4DSVxBASE, a.i4BVxBASE);
    }
}

// A table shutter of whole lamp periods, through the limits and de-banding
// as a new exposure goes: it keeps every period and needs no banding gain.
TEST(AeDeBanding, TableShutterOfWholePeriodsKeepsThemAll) {
    const struct {
        AE_BANDING band;
        LX_U32 us;
    } cases[] = {{BANDING_50HZ, 10000}, {BANDING_50HZ, 20000}, {BANDING_50HZ, 30000},
                 {BANDING_50HZ, 40000}, {BANDING_60HZ, 16666}, {BANDING_60HZ, 41665}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "band " << c.band << " us " << c.us);
        Ae ae;
        cam_ae_handle_t *h = ae.h;
        h->eFlicker = c.band;
        h->eFlickerMode = AE_FLICKER_MANUAL;
        AE_EXPOVAL &e = h->strPlainLongExpo;
        e.u4MaxShutter = 100000;
        const LX_S32 ssv = AE_ApexSSV(2048);
        AE_APEX_EXPO a{AE_ApexTV(c.us), ssv, 0, AE_ApexAV(18), 0};
        ASSERT_EQ(0, h->pAE_LimitMinMax(h, &a, &e));
        ASSERT_EQ(0, h->pAE_DoDeBanding(h, &a, &e));
        EXPECT_EQ(c.us, e.u4SensorUSec);
        EXPECT_EQ(2048u, e.u4SensorGain);
        EXPECT_EQ(1024u, e.u4ISPGain);
        EXPECT_EQ(1024u, h->u4BandingGain);
    }
}

// The start-up detector in a loop with a sensor that shows each result
// `latency` frames later, under a lamp of the scene's mains. With the board's
// two frames instead of the three assumed, the second 60 Hz measurement
// already shows the 50 Hz exposure: under a 60 Hz lamp its bands are charged
// to the 60 Hz setting, which then loses.
TEST(AeFlickerStartup, DecidesOnItsSixteenthCallWithEitherLatency) {
    struct Case {
        double sceneHz, fps;
        int latency;
        AE_BANDING decided;
        bool bands60;  // the 60 Hz measurement saw bands
    };
    const Case cases[] = {
        {50, 30, AE_FLICKER_EXPO_LATENCY, BANDING_50HZ, true},
        {50, 30, 2, BANDING_50HZ, true},
        {60, 25, AE_FLICKER_EXPO_LATENCY, BANDING_60HZ, false},
        {60, 25, 2, BANDING_50HZ, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.sceneHz << " Hz mains at " << c.fps << " fps, latency " << c.latency);
        ResetStartup();
        Ae ae("");
        cam_ae_handle_t *h = ae.h;
        h->eFlickerMode = AE_FLICKER_AUTO;
        h->bAutoFlickerFrequencyDetection = LX_TRUE;
        h->u4CurFPS = (LX_U32)(c.fps * 1000);
        std::deque<AE_BANDING> sent(c.latency, h->eFlicker);
        int decidedAt = 0;
        LX_U32 energy60 = AE_FLICKER_ENERGY_NONE;
        testing::internal::CaptureStderr();
        for (int call = 1; call <= 20 && !decidedAt; ++call) {
            LampFrame(ae, call, c.fps, c.sceneHz, 0.5, DebandedUS(sent.front()));
            sent.pop_front();
            AE_FlickerFrequencyDetect(h);
            sent.push_back(h->eFlicker);
            if (g_AeFlickerStartup.avg60 != AE_FLICKER_ENERGY_NONE) energy60 = g_AeFlickerStartup.avg60;
            if (!h->bAutoFlickerFrequencyDetection) decidedAt = call;
        }
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(16, decidedAt);
        EXPECT_EQ(c.decided, h->eFlicker);
        EXPECT_EQ(c.decided, h->strUserParam.eFlicker);
        EXPECT_EQ(AE_FLICKER_MANUAL, h->eFlickerMode);
        EXPECT_EQ(AE_FLICKER_MANUAL, h->strUserParam.eFlickerMode);
        EXPECT_EQ(1, Count(log, "HZ = "));
        EXPECT_EQ(1, Count(log, c.decided == BANDING_50HZ ? "HZ = 50\n" : "HZ = 60\n"));
        EXPECT_EQ(c.bands60, energy60 > 0) << energy60;
        EXPECT_EQ((LX_U32)AE_FLICKER_STEP_SET60, g_AeFlickerStartup.FlickerRefreshCnt);
        EXPECT_EQ(AE_FLICKER_ENERGY_NONE, g_AeFlickerStartup.avg60);
        EXPECT_EQ(AE_FLICKER_ENERGY_NONE, g_AeFlickerStartup.avg50);
    }
}

TEST(AeFlickerStartup, StepsAreSharedByEveryHandleOfTheProcess) {
    ResetStartup();
    Ae a(""), b("");
    for (Ae *ae : {&a, &b}) {
        ae->h->eFlickerMode = AE_FLICKER_AUTO;
        ae->h->bAutoFlickerFrequencyDetection = LX_TRUE;
        ae->Flat(100);
    }
    testing::internal::CaptureStderr();
    for (int call = 1; call <= 15; ++call) AE_FlickerFrequencyDetect((call & 1 ? a : b).h);
    EXPECT_EQ(LX_TRUE, a.h->bAutoFlickerFrequencyDetection);
    EXPECT_EQ(LX_TRUE, b.h->bAutoFlickerFrequencyDetection);
    AE_FlickerFrequencyDetect(b.h);  // the 16th call of the process decides, on b
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(LX_FALSE, b.h->bAutoFlickerFrequencyDetection);
    EXPECT_EQ(AE_FLICKER_MANUAL, b.h->eFlickerMode);
    EXPECT_EQ(LX_TRUE, a.h->bAutoFlickerFrequencyDetection);
    EXPECT_EQ(10u, g_AeFlickerStartup.delayCnt);  // the wait happens once per process
}

// Two ISP devices detecting at once, each on its own 3A thread: every call of
// either advances the shared steps exactly once (the ThreadSanitizer build
// sees any unguarded access).
TEST(AeFlickerStartup, TwoDevicesThreadsShareTheStepsSafely) {
    ResetStartup();
    Ae a(""), b("");
    for (Ae *ae : {&a, &b}) ae->Flat(100);
    constexpr int kCalls = 40;
    std::atomic<int> decided{0};
    auto detect = [&decided](cam_ae_handle_t *h, const char *name) {
        pthread_setname_np(pthread_self(), name);
        for (int call = 0; call < kCalls; ++call) {
            h->bAutoFlickerFrequencyDetection = LX_TRUE;
            AE_FlickerFrequencyDetect(h);
            if (!h->bAutoFlickerFrequencyDetection) ++decided;
        }
    };
    testing::internal::CaptureStderr();
    std::thread t0(detect, a.h, "ae-dev0-3a"), t1(detect, b.h, "ae-dev1-3a");
    t0.join();
    t1.join();
    testing::internal::GetCapturedStderr();
    // 9 calls wait, then a decision every 7 steps: 71 steps are 10 decisions and one step.
    EXPECT_EQ(10u, g_AeFlickerStartup.delayCnt);
    EXPECT_EQ(10, decided.load());
    EXPECT_EQ((LX_U32)AE_FLICKER_STEP_SET60 + 1, g_AeFlickerStartup.FlickerRefreshCnt);
}

TEST(AeFlickerRunTime, FramesUntilTheOtherFlickerRepeats) {
    struct Case {
        LX_U32 curFPS;  // x1000, as the frame keeps it
        AE_BANDING band;
        LX_U8 period;
    };
    const Case cases[] = {
        {30000, BANDING_50HZ, 1},  // 120 Hz stands still at 30 fps
        {25000, BANDING_50HZ, 5},
        {30000, BANDING_60HZ, 3},
        {25000, BANDING_60HZ, 1},
        {24000, BANDING_60HZ, 6},
        {60000, BANDING_50HZ, 1},
        {29000, BANDING_50HZ, 29},
        {0, BANDING_50HZ, 1},
    };
    for (const Case &c : cases) {
        Ae ae("");
        cam_ae_handle_t *h = ae.h;
        h->bStable = 1;
        h->eFlicker = c.band;
        h->u4CurFPS = c.curFPS;
        h->strFlickerEx.uPreFps = 0xFF;
        AE_FlickerFrequencyDetect_RunTimeMode(h);
        EXPECT_EQ(c.period, h->strFlickerEx.uPeriod) << c.curFPS << " " << c.band;
        EXPECT_EQ((LX_U8)(c.curFPS / 1000), h->strFlickerEx.uPreFps);
    }
}

// 25 fps under 50 Hz de-banding; the scene's lamp is on 60 Hz mains (or
// steady). Three cycles of five frames give a score; two low scores switch.
TEST(AeFlickerRunTime, FlickerOfTheOtherMainsSwitchesTheBanding) {
    struct Case {
        double depth;
        OP_TYPE op;
        int switchedAt;  // 0: never within 60 frames
        LX_U16 firstScore;
    };
    const Case cases[] = {
        {0.5, OP_TYP_AUTO, 39, 0},
        {0.5, OP_TYP_MANUAL, 0, 0},
        {0.0, OP_TYP_AUTO, 0, 100},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "depth " << c.depth << " op " << c.op);
        Ae ae("");
        cam_ae_handle_t *h = ae.h;
        h->strFlickerEx.strParam = {LX_TRUE, c.op, 30, 50, 3, 2, AE_FLICKER_DETECT_50HZ};
        h->strUserParam.strFlickerEx = h->strFlickerEx.strParam;
        h->eFlicker = BANDING_50HZ;
        h->u4CurFPS = 25000;
        int switchedAt = 0;
        for (int n = 1; n <= 60 && !switchedAt; ++n) {
            h->bStable = 1;
            h->bForceReCal = LX_FALSE;
            LampFrame(ae, n, 25, 60, c.depth, DebandedUS(h->eFlicker));
            AE_FlickerFrequencyDetect_RunTimeMode(h);
            if (h->eFlicker == BANDING_60HZ) switchedAt = n;
            if (n == 21) {  // the first three cycles are scored here
                EXPECT_EQ(c.firstScore, h->strFlickerEx.u2Score);
                EXPECT_EQ(1, h->strFlickerEx.bScoreEffective);
            }
        }
        EXPECT_EQ(c.switchedAt, switchedAt);
        if (!switchedAt) continue;
        EXPECT_EQ(LX_TRUE, h->bForceReCal);
        EXPECT_EQ(AE_FLICKER_DETECT_60HZ, h->strFlickerEx.strParam.eFlickerType);
        EXPECT_EQ(AE_FLICKER_DETECT_60HZ, h->strUserParam.strFlickerEx.eFlickerType);
        EXPECT_EQ(100, h->strFlickerEx.u2Score);
        // 120 Hz light no longer bands; 100 Hz light stands still at 25 fps.
        LampFrame(ae, 40, 25, 60, c.depth, DebandedUS(h->eFlicker));
        AE_FlickerFrequencyDetect_RunTimeMode(h);
        EXPECT_EQ(1, h->strFlickerEx.uPeriod);
    }

    // Leaving the stable state starts the waiting again.
    Ae ae("");
    cam_ae_handle_t *h = ae.h;
    h->strFlickerEx.strParam.bEnable = LX_TRUE;
    h->eFlicker = BANDING_50HZ;
    h->u4CurFPS = 25000;
    h->bStable = 1;
    for (int n = 0; n < 5; ++n) AE_FlickerFrequencyDetect_RunTimeMode(h);
    EXPECT_EQ(1, h->strFlickerEx.bWaitingEffective);
    h->bStable = 0;
    AE_FlickerFrequencyDetect_RunTimeMode(h);
    EXPECT_EQ(0, h->strFlickerEx.bWaitingEffective);
    EXPECT_EQ(0u, h->strFlickerEx.u4FlickerCnt);
}

TEST(AeFlickerSettings, SettersKeepTheirInputsInRange) {
    struct Case {
        AE_FLICKER_DETECT_TYPE_t in, stored;
    };
    const Case cases[] = {
        {{LX_FALSE, OP_TYP_AUTO, 0, 0, 0, 0, AE_FLICKER_DETECT_60HZ},
         {LX_FALSE, OP_TYP_AUTO, 1, 1, 1, 1, AE_FLICKER_DETECT_60HZ}},
        {{(LX_CAM_BOOL)5, (OP_TYPE)9, 101, 255, 11, 200, (AE_FLICKER_DETECT_MODE)7},
         {LX_TRUE, OP_TYP_MANUAL, 100, 100, 10, 10, AE_FLICKER_DETECT_50HZ}},
        {{LX_TRUE, OP_TYP_MANUAL, 30, 50, 3, 2, (AE_FLICKER_DETECT_MODE)-1},
         {LX_TRUE, OP_TYP_MANUAL, 30, 50, 3, 2, AE_FLICKER_DETECT_60HZ}},
    };
    for (const Case &c : cases) {
        Ae ae("");
        cam_ae_handle_t *h = ae.h;
        AE_FLICKER_DETECT_TYPE_t in = c.in, out;
        memset(&out, 0xA5, sizeof(out));
        EXPECT_EQ(0, h->pAE_SetFlickerModeEX(h, &in));
        EXPECT_EQ(LX_TRUE, h->strUserParam.bIsChanged);
        EXPECT_EQ(0, h->pAE_GetFlickerModeEX(h, &out));
        EXPECT_EQ(0, memcmp(&c.stored, &out, sizeof(out))) << (int)c.in.uAmpSensitivity;
    }

    Ae ae("");
    cam_ae_handle_t *h = ae.h;
    EXPECT_EQ(-1, h->pAE_SetFlickerModeEX(h, nullptr));
    const struct {
        AE_FLICKER_MODE in, stored;
    } modes[] = {{AE_FLICKER_AUTO, AE_FLICKER_AUTO},
                 {AE_FLICKER_DISABLE, AE_FLICKER_DISABLE},
                 {(AE_FLICKER_MODE)7, AE_FLICKER_MANUAL},
                 {(AE_FLICKER_MODE)-1, AE_FLICKER_MANUAL}};
    for (const auto &m : modes) {
        AE_FLICKER_MODE got = (AE_FLICKER_MODE)5;
        EXPECT_EQ(0, h->pAE_SetFlickerMode(h, m.in));
        EXPECT_EQ(0, h->pAE_GetFlickerMode(h, &got));
        EXPECT_EQ(m.stored, got) << m.in;
    }
    h->strUserParam.bIsChanged = LX_FALSE;
    AE_BANDING band = (AE_BANDING)5;
    EXPECT_EQ(0, h->pAE_SetFlicker(h, BANDING_50HZ));
    EXPECT_EQ(LX_TRUE, h->strUserParam.bIsChanged);
    h->strUserParam.bIsChanged = LX_FALSE;
    EXPECT_EQ(-1, h->pAE_SetFlicker(h, (AE_BANDING)2));  // neither frequency: nothing changes
    EXPECT_EQ(LX_FALSE, h->strUserParam.bIsChanged);
    EXPECT_EQ(0, h->pAE_GetFlicker(h, &band));
    EXPECT_EQ(BANDING_50HZ, band);
}

}  // namespace
