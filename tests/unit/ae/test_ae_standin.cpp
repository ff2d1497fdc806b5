// The AE stand-in keeps whatever exposure the sensor reports.
#include <gtest/gtest.h>

#include "ae_algo.h"

namespace {

TEST(AeStandIn, HoldsTheReportedExposure) {
    AeInitParam_t init{};
    init.fps = 30;
    AeInput_t in{};
    AeOutput_t out{};
    AEDEBUG_t dbg{1, 0};
    AeHandle h = AeInit(nullptr, &init, &in, &out);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(30u, in.CurFPS);
    in.tAEDebug = &dbg;
    in.Shutter = 12345;
    in.SensorGain = 2048;
    in.IspGain = 1100;
    in.FNx10 = 18;
    out.Change = 1;
    EXPECT_EQ(0, DoAe(h, &in, &out));
    EXPECT_EQ(0u, out.Change);
    EXPECT_EQ(12345u, out.Shutter);
    EXPECT_EQ(2048u, out.SensorGain);
    EXPECT_EQ(1100u, out.IspGain);
    EXPECT_EQ(18, out.FNx10);
    EXPECT_EQ(0, AeRelease(h));
}

}  // namespace
