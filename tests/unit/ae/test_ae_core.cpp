// The AE handle's creation: first result, sensor limits, IQ items checked
// before use.
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
}

}  // namespace
