// The AWB stand-in hands out the initial gains and keeps them.
#include <gtest/gtest.h>

#include "awb_algo.h"

namespace {

TEST(AwbStandIn, HoldsTheInitialGains) {
    AwbInput_t in{};
    AwbOutput_t out{};
    in.InitRgain = 1500;
    in.InitGgain = 1024;
    in.InitBgain = 1800;
    AwbHandle h = AwbInit(nullptr, &in, &out);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(1500, out.tGain.nRgain);
    EXPECT_EQ(1024, out.tGain.nGbgain);
    EXPECT_EQ(1800, out.tGain.nBgain);
    out.tGain = {1, 2, 3, 4};
    in.nSize = sizeof in;
    EXPECT_EQ(0, DoAwb(h, &in, &out));
    EXPECT_EQ(1500, out.tGain.nRgain);
    EXPECT_EQ(1024, out.tGain.nGrgain);
    EXPECT_EQ(1800, out.tGain.nBgain);
    EXPECT_EQ(0, AwbRelease(h));
}

}  // namespace
