// The AF stand-in aims wherever the lens already is.
#include <gtest/gtest.h>

#include "af_algo.h"

namespace {

TEST(AfStandIn, TargetIsTheCurrentPosition) {
    AfInitParam_t init{0, 1023, 1, 1023, 500, 0, 0};
    AfInput_t in{};
    AfOutput_t out{};
    AfHandle h = AfInit(nullptr, &init, &in, &out);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(500u, out.FocusPos);
    in.CurPos = 611;
    EXPECT_EQ(0, DoAf(h, &in, &out));
    EXPECT_EQ(611u, out.FocusPos);
    EXPECT_EQ(0u, out.Change_Motor);
    EXPECT_EQ(0, AfRelease(h));
}

}  // namespace
