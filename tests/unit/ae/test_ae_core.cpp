// The AE handle's creation (first result, sensor limits, IQ items checked
// before use) and its frame: the order of DoAe's steps, the state machine,
// the user settings and the calculation step, with the other operations
// replaced through their slots where the flow itself is under test.
#include <gtest/gtest.h>

#include "ae_test_support.h"

namespace {

using aetest::Ae;
using aetest::BoardSensor;

TEST(AeInit, FirstResultFromTheSensorLimits) {
    struct Case {
        LX_U16 minUS, minUSShort, minGain;
        LX_U32 maxUS;
        LX_U32 shutter, shutterShort, gain;
    };
    const Case cases[] = {
        {30, 30, 1024, 33333, 300, 30, 1024},     // the board: floors of 300 and 30 us
        {1, 10, 512, 33333, 300, 30, 1024},       // gains below 1x start at 1x
        {500, 40, 2048, 33333, 500, 40, 2048},    // the sensor's own minima above the floors
        {30, 30, 1024, 200, 200, 30, 1024},       // a maximum below 300 us
    };
    for (const Case &c : cases) {
        AeInitParam_t s = BoardSensor();
        s.shutter_min = c.minUS;
        s.shutterHDRShort_min = c.minUSShort;
        s.sensor_gain_min = s.sensor_gainHDRShort_min = c.minGain;
        s.shutter_max = s.shutterHDRShort_max = c.maxUS;
        Ae ae("", s);
        EXPECT_EQ(1u, ae.out.Change);
        EXPECT_EQ(c.shutter, ae.out.Shutter) << c.minUS << "/" << c.maxUS;
        EXPECT_EQ(c.shutterShort, ae.out.ShutterHDR) << c.minUSShort;
        EXPECT_EQ(c.gain, ae.out.SensorGain);
        EXPECT_EQ(c.gain, ae.out.SensorGainHDR);
        EXPECT_EQ(1024u, ae.out.IspGain);
        EXPECT_EQ(30000u, ae.in.CurFPS);
    }
    Ae ae("");
    const LX_U32 hdr[] = {5, 1024, 2048, 4096, 8192, 16384, 0};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(hdr[i], ae.out.AeHdr_Num_BV[i]) << i;
    EXPECT_EQ(81920, ae.out.i4BVx16384);
    EXPECT_EQ(470u, ae.out.SceneTargetx10);
}

TEST(AeInit, SensorMaximaOfZeroKeepTheBuiltInLimits) {
    AeInitParam_t s = BoardSensor();
    s.shutter_max = s.sensor_gain_max = s.isp_gain_max = 0;
    s.shutterHDRShort_max = s.sensor_gainHDRShort_max = 0;
    Ae ae("", s);
    for (const AE_EXPOVAL *e : {&ae.h->strPlainLongExpo, &ae.h->strPlainShortExpo}) {
        EXPECT_EQ(1000000000u, e->u4HWSensorMaxUS);
        EXPECT_EQ(5120000u, e->u4HWSensorMaxGain);
        EXPECT_EQ(262143u, e->u4HWISPMaxGain);
        EXPECT_EQ(29630u, e->u4HWSensorShutterStepNS);
    }
    EXPECT_EQ(300u, ae.out.Shutter);
}

TEST(AeInit, IqItemsOutsideTheirRangeKeepTheDefaults) {
    const std::string bad = R"(
DBG_AE_DEFAULT_TARGET = 500
DBG_AE_TARGET_LUT_NUM = 17
DBG_AE_TARGET_LUT_Y = 1*16
DBG_AE_CONV_RATIO_NUM = 0
DBG_AE_WIN_X_NUM = 0
DBG_AE_WIN_Y_NUM = 33
DBG_AE_METERING_TYPE = 3
DBG_AE_EVCOMP_GRAD = 21
DBG_AE_FLICKER_MODE = 0
DBG_AE_FLICKER = 0
DBG_AE_CONV_INTO_STABLE_THD = 7
DBG_AE_STRATEGY_UPPER_NUM = 2
DBG_AE_STRATEGY_UPPER_Y = 30 40
DBG_AE_STRATEGY_UPPER_X = -5 5
)";
    Ae ae(bad);
    cam_ae_handle_t *h = ae.h;
    // Taken: items in range.
    EXPECT_EQ(500u, h->u4Targetx10);
    EXPECT_EQ(BANDING_50HZ, h->eFlicker);
    EXPECT_EQ(7, h->u2ConvIntoStableThd);
    EXPECT_EQ(2, h->strStrategyParam.strUpperBound.u2NumOfPoints);
    EXPECT_EQ(40, h->strStrategyParam.strUpperBound.i4Y[1]);
    // Kept: the defaults of the bad ones.
    EXPECT_EQ(5, h->strTargetLut.u2NumOfPoints);
    EXPECT_EQ(400, h->strTargetLut.i4Y[0]);
    EXPECT_EQ(4, h->strConvRatioLut.u2NumOfPoints);
    EXPECT_EQ(16, h->strAEStat.strWins[0].NumX);
    EXPECT_EQ(16, h->strAEStat.strWins[0].NumY);
    EXPECT_EQ(AE_AVERAGE, h->strAEStat.eWinWght);
    EXPECT_EQ(3u, h->u4EVCompGrad);
    EXPECT_EQ(3u, h->strUserParam.u4EVCompGrad);
    // The start-up frequency detector is never armed from the file.
    EXPECT_EQ(AE_FLICKER_DISABLE, h->eFlickerMode);
    EXPECT_EQ(AE_FLICKER_DISABLE, h->strUserParam.eFlickerMode);
    EXPECT_EQ(LX_TRUE, h->bForceReCal);
    // The IQ buffer is the caller's once the AE is made.
    EXPECT_EQ(nullptr, h->isp_dbg_buf_handle);

    // Convergence bands outside 1..255 and a mains setting other than 0 and 1.
    Ae worse(R"(
DBG_AE_FLICKER = 2
DBG_AE_CONV_INTO_STABLE_THD = 0
DBG_AE_CONV_OUT_STABLE_THD = 256
)");
    EXPECT_EQ(BANDING_60HZ, worse.h->eFlicker);
    EXPECT_EQ(10, worse.h->u2ConvIntoStableThd);
    EXPECT_EQ(20, worse.h->u2ConvOutStableThd);
    Ae edge("DBG_AE_CONV_INTO_STABLE_THD = 1\nDBG_AE_CONV_OUT_STABLE_THD = 255\n");
    EXPECT_EQ(1, edge.h->u2ConvIntoStableThd);
    EXPECT_EQ(255, edge.h->u2ConvOutStableThd);

    // Without an IQ file the built-in flicker mode stays.
    Ae none("");
    EXPECT_EQ(AE_FLICKER_MANUAL, none.h->eFlickerMode);
    EXPECT_EQ(AE_FLICKER_MANUAL, none.h->strUserParam.eFlickerMode);
}

// Fakes for the flow tests: what they return and how often they ran.
struct Flow {
    LX_S32 lumStatus = 0;
    LX_CAM_BOOL converged = LX_TRUE;
    LX_CAM_BOOL timeBuffer = LX_TRUE;
    LX_U32 sceneTarget = 470;
    int processAE = 0, calPvExpo = 0, setExposure = 0;
} flow;

LX_S32 fakeCalLumY(cam_ae_handle_t *) { return flow.lumStatus; }
LX_CAM_BOOL fakeConverged(cam_ae_handle_t *) { return flow.converged; }
LX_CAM_BOOL fakeTimeBuffer(cam_ae_handle_t *) { return flow.timeBuffer; }
LX_U32 fakeSceneTarget(cam_ae_handle_t *) { return flow.sceneTarget; }
LX_S32 fakeProcessAE(cam_ae_handle_t *) { return ++flow.processAE, 0; }
LX_S32 fakeCalPvExpo(cam_ae_handle_t *) { return ++flow.calPvExpo, 0; }
LX_S32 fakeSetExposure(cam_ae_handle_t *, AE_APEX_EXPO *, AE_EXPOVAL *) { return ++flow.setExposure, 0; }

void useFakes(cam_ae_handle_t *h) {
    flow = Flow{};
    h->pAE_CalLumY = fakeCalLumY;
    h->pAE_isConverged = fakeConverged;
    h->pAE_CheckTimeBuffer = fakeTimeBuffer;
    h->pAE_GetSceneTarget = fakeSceneTarget;
    h->pAE_CalPvExpo = fakeCalPvExpo;
    h->pAE_SetExposure = fakeSetExposure;
}

TEST(DoAe, FrameRateDebugMaskAndHdrOff) {
    const LX_U32 fps[][2] = {{30, 30000}, {2999, 2999000}, {3000, 3000}, {30000, 30000}};
    for (const auto &f : fps) {
        Ae ae;
        useFakes(ae.h);
        ae.in.CurFPS = f[0];
        ae.dbg.AE_DEBUG_LEVEL = 0x18000;
        ae.in.ShutterHDR = 77;
        EXPECT_EQ(0, ae.Frame());
        EXPECT_EQ(f[1], ae.h->u4CurFPS) << f[0];
        EXPECT_EQ(0x8000, ae.h->u2DbgLevel);
        // Without HDR the short exposure follows the long one.
        EXPECT_EQ(ae.out.Shutter, ae.out.ShutterHDR);
        EXPECT_EQ(ae.out.SensorGain, ae.out.SensorGainHDR);
        EXPECT_EQ(513, ae.out.GMBlendRatio);
    }
}

TEST(DoAe, UnreliableStatisticsDropAtMostThreeFramesInARow) {
    Ae ae;
    useFakes(ae.h);
    ae.h->pAE_ProcessAE = fakeProcessAE;
    flow.lumStatus = 1;
    // The start frame is processed whatever the statistics say.
    EXPECT_EQ(0, ae.Frame());
    EXPECT_EQ(AE_SM_CAL, ae.h->state);
    const LX_S32 want[] = {-1, -1, -1, 0, -1, -1, -1, 0};
    for (LX_S32 w : want) {
        const LX_U32 frames = ae.h->SyncFrameCnt;
        ae.out.Shutter = 4242;
        EXPECT_EQ(w, ae.Frame());
        EXPECT_EQ(frames + (w == 0 ? 1 : 0), ae.h->SyncFrameCnt);
        if (w != 0) {
            EXPECT_EQ(4242u, ae.out.Shutter);  // a dropped frame writes nothing
        }
    }
    EXPECT_EQ(2, flow.processAE);
    flow.lumStatus = 0;
    EXPECT_EQ(0, ae.Frame());
    EXPECT_EQ(0, ae.h->error_cnt);
}

TEST(DoAe, PauseResumeAndTheChangeFlag) {
    Ae ae;
    useFakes(ae.h);
    ae.h->pAE_ProcessAE = fakeProcessAE;
    // Start: the applied exposure becomes the first APEX exposure; the
    // creation's forced recalculation gives Change 1 though converged.
    EXPECT_EQ(0, ae.Frame());
    EXPECT_EQ(1, flow.setExposure);
    EXPECT_EQ(1u, ae.out.Change);
    EXPECT_EQ(0, flow.processAE);
    EXPECT_EQ(0, ae.Frame());
    EXPECT_EQ(0u, ae.out.Change);
    EXPECT_EQ(1, flow.processAE);

    // Paused: metered and reported, not calculated; a second pause stays.
    ae.h->pAE_Pause(ae.h);
    ae.h->pAE_Pause(ae.h);
    EXPECT_EQ(AE_SM_PAUSE, ae.h->state);
    ae.Flat(100);
    EXPECT_EQ(0, ae.Frame());
    EXPECT_EQ(1, flow.processAE);
    // Resume costs one frame without calculation.
    ae.h->pAE_Resume(ae.h);
    EXPECT_EQ(AE_SM_RESUME, ae.h->state);
    EXPECT_EQ(0, ae.Frame());
    EXPECT_EQ(1, flow.processAE);
    EXPECT_EQ(0, ae.Frame());
    EXPECT_EQ(2, flow.processAE);
    // Resume while calculating changes nothing.
    ae.h->pAE_Resume(ae.h);
    EXPECT_EQ(AE_SM_CAL, ae.h->state);

    // Not converged: Change 1. Settings applied: Change 1 once.
    flow.converged = LX_FALSE;
    EXPECT_EQ(0, ae.Frame());
    EXPECT_EQ(1u, ae.out.Change);
    flow.converged = LX_TRUE;
    ae.h->strUserParam.bIsChanged = LX_TRUE;
    EXPECT_EQ(0, ae.Frame());
    EXPECT_EQ(1u, ae.out.Change);
    EXPECT_EQ(0, ae.Frame());
    EXPECT_EQ(0u, ae.out.Change);

    // AE switched off by the plug-in: no calculation.
    ae.dbg.AE_DEBUG_ENABLE_AE = 0;
    EXPECT_EQ(0, ae.Frame());
    EXPECT_EQ(5, flow.processAE);
}

TEST(DoAe, UserSettingsReachTheNextFrame) {
    Ae ae;
    useFakes(ae.h);
    AE_USER_SETTING &u = ae.h->strUserParam;
    u.i4EVComp = 2;
    u.eExpMode = AE_MODE_TV;
    u.strFlickerEx = {LX_TRUE, OP_TYP_AUTO, 30, 40, 4, 5, AE_FLICKER_DETECT_50HZ};
    u.strRGBIRAE = {LX_TRUE, 2000, 3000};
    u.strStbParam = {LX_TRUE, 3, 30};
    u.strDNDetectionParam = {LX_TRUE, -1000, 123};
    u.strStrategyParam.u4BrightToneStrength = 11;
    u.strStrategyParam.u4AutoSensitivity = 12;
    EXPECT_EQ(0, ae.Frame());
    EXPECT_EQ(0, ae.h->i4EVComp);  // not yet: nothing changed
    u.bIsChanged = LX_TRUE;
    EXPECT_EQ(0, ae.Frame());
    cam_ae_handle_t *h = ae.h;
    EXPECT_EQ(LX_FALSE, u.bIsChanged);
    EXPECT_EQ(2, h->i4EVComp);
    EXPECT_EQ(AE_MODE_TV, h->eExpMode);
    EXPECT_EQ(70, h->strFlickerEx.strParam.uAmpSensitivity);
    EXPECT_EQ(AE_FLICKER_MANUAL, h->eFlickerMode);
    EXPECT_EQ(BANDING_50HZ, h->eFlicker);
    EXPECT_EQ(1, h->strRgbirParam.bEnable);
    EXPECT_EQ(1, h->strRgbirParam.bIsValid);
    EXPECT_EQ(2000, h->strRgbirParam.u2TotalMaxLimit);
    EXPECT_EQ(3000, h->strRgbirParam.u2IRFeedBakckRatioMinLimit);
    EXPECT_EQ(eMD_FORCE_MOTION, h->strStabilizer.strInfo.eMDState);
    EXPECT_EQ(0, h->strStabilizer.strInfo.u2TriggerCnt);
    EXPECT_EQ(-1000, h->strDNDetection.strParam.s4D2N_BvThd);
    EXPECT_EQ(600u, h->strDNDetection.strParam.u4N2D_VsbLtScoreThd);  // not applied
    EXPECT_EQ(11u, h->strStrategyBTDT.u4BTStrength);
    EXPECT_EQ(12u, h->strToneBalance.u4Sensitivity);
    EXPECT_EQ(1u, ae.out.Change);
}

TEST(ProcessAE, EvCompensationOfTheSceneTarget) {
    struct Case {
        LX_S32 ev;
        LX_U32 grad, target, want;
    };
    // Step counts beyond 32 bits of EV x16384 read the curve's own end (300 % or 1 %).
    const Case cases[] = {{3, 3, 400, 540},      {-3, 3, 400, 200},       {0, 3, 400, 400},
                          {6, 2, 470, 940},      {-20, 1, 470, 5},        {131072, 1, 400, 1200},
                          {-131073, 1, 400, 4},  {INT32_MAX, 1, 400, 1200}, {INT32_MIN, 1, 400, 4}};
    for (const Case &c : cases) {
        Ae ae;
        useFakes(ae.h);
        cam_ae_handle_t *h = ae.h;
        flow.sceneTarget = c.target;
        flow.timeBuffer = LX_FALSE;
        h->i4EVComp = c.ev;
        h->u4EVCompGrad = c.grad;
        h->AeInputParameter = &ae.in;
        EXPECT_EQ(0, h->pAE_ProcessAE(h));
        EXPECT_EQ(c.target, h->u4SceneTargetx10);
        EXPECT_EQ(c.want, h->u4EVTargetx10) << c.ev << "/" << c.grad;
        if (c.ev == 0) {
            EXPECT_EQ(100, h->i4EVCompValue);
        }
        // The time buffer held the exposure back.
        EXPECT_EQ(10u, h->strAETimeBuffer.u4UnStableCount);
        EXPECT_EQ(0, flow.calPvExpo);
    }
}

TEST(ProcessAE, NewExposureOrSettledCount) {
    Ae ae;
    useFakes(ae.h);
    cam_ae_handle_t *h = ae.h;
    h->AeInputParameter = &ae.in;
    // Not converged: the next exposure, long and (HDR 2) short at the
    // curve's fixed ratio of 10.
    flow.converged = LX_FALSE;
    ae.in.HDRMode = 2;
    h->strPlainLongExpo.u4SensorUSec = 20000;
    h->strPlainLongExpo.u4SensorGain = 3000;
    h->strPlainLongExpo.u4TotalGain = 4096;
    h->strNextLongExpo.i4BVxBASE = 1234;
    h->bConverged = 1;
    EXPECT_EQ(0, h->pAE_ProcessAE(h));
    EXPECT_EQ(1, flow.calPvExpo);
    EXPECT_EQ(2, flow.setExposure);
    EXPECT_EQ(2000u, h->strPlainShortExpo.u4SensorUSec);
    EXPECT_EQ(3000u, h->strPlainShortExpo.u4SensorGain);
    EXPECT_EQ(1234, h->strApexCurExpo.i4BVxBASE);
    EXPECT_EQ(0, h->bConverged);

    // Converged: counting starts, and the motion reference is taken when
    // the count modulo 300 is 2, never more than 1024 blocks of it.
    flow.converged = LX_TRUE;
    h->bForceReCal = LX_FALSE;
    std::vector<ISPAESample_t> grid(40 * 40, ISPAESample_t{1, 2, 3, 4});
    ae.in.avgs = grid.data();
    ae.in.AvgBlkX = ae.in.AvgBlkY = 40;
    h->u4CurYx10[0][0] = 333;
    EXPECT_EQ(0, h->pAE_ProcessAE(h));
    EXPECT_EQ(1, h->bConverged);
    EXPECT_EQ(0u, h->u4StableCnt);
    EXPECT_EQ(333u, h->strAETimeBuffer.u4StableY);
    for (int i = 0; i < 3; ++i) h->pAE_ProcessAE(h);
    EXPECT_EQ(3u, h->u4StableCnt);
    EXPECT_EQ(4, h->strStabilizer.strInfo.strRefAEStatis[1023].uAvgY);
    EXPECT_EQ(1, flow.calPvExpo);
}

// The whole AE on one scene, every operation its own: a table F1.6 from
// 100 us to 33333 us and then to 16x gain, lines of 29630 ns, target 470,
// flicker off, every metering cell at 23.5.
TEST(DoAe, ExactFirstFramesOnAHalfBrightScene) {
    std::string iq = aetest::ReferenceIq();
    const std::string tbl = "16 100 1024 1024  16 33333 1024 1024  16 33333 16384 16384";
    for (const char *item : {"DBG_AE_EXPO_TBL = ", "DBG_AE_HDR_SHORT_EXPO_TBL = "}) {
        const size_t at = iq.find(item) + strlen(item);
        iq.replace(at, iq.find('\n', at) - at, tbl);
    }
    Ae ae(iq);
    // Blocks of 23 and 24 in turn: each cell of 2 x 2 blocks measures 23.5.
    for (int i = 0; i < 32 * 32; ++i) {
        const LX_U8 y = (LX_U8)(((i + i / 32) & 1) ? 24 : 23);
        ae.blocks[i] = ISPAESample_t{y, y, y, y};
    }
    ae.hist.u2HistY[11] = 16955;
    ae.hist.u2HistY[12] = 16954;
    ae.in.FNx10 = 16;
    ae.in.Shutter = ae.in.ShutterHDR = 33333;
    ae.in.SensorGain = ae.in.SensorGainHDR = 1024;
    ae.in.IspGain = ae.in.IspGainHDR = 1024;
    ae.in.CurFPS = 30000;

    ASSERT_EQ(0, ae.Frame());
    EXPECT_EQ(235u, ae.out.CurYx10);
    EXPECT_EQ(1u, ae.out.Change);
    EXPECT_EQ(33305u, ae.out.Shutter);
    EXPECT_EQ(1024u, ae.out.SensorGain);
    EXPECT_EQ(1024u, ae.out.IspGain);
    EXPECT_EQ(16, ae.out.FNx10);
    EXPECT_EQ(ae.out.Shutter, ae.out.ShutterHDR);

    ASSERT_EQ(0, ae.Frame());
    EXPECT_EQ(1u, ae.out.Change);
    EXPECT_EQ(33305u, ae.out.Shutter);
    EXPECT_EQ(1191u, ae.out.SensorGain);  // 1.193x the light, in whole sensor-gain steps
    EXPECT_EQ(1024u, ae.out.IspGain);
    EXPECT_EQ(470u, ae.out.SceneTargetx10);
}

}  // namespace
