// Curve helpers: exact values, rounding toward Y1 and clamping, the same on
// every build.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "iq_interp.h"

namespace {

TEST(Interp, TwoPointTable) {
    struct Case {
        LX_S32 x1, x2, y1, y2, xx, want;
    };
    const Case cases[] = {
        {5, 5, 7, 9, 123, 7},         // equal X: Y1
        {0, 10, 0, 5, 3, 1},          // 1.5 rounded down
        {0, 10, 5, 0, 3, 3},          // 3.5: offset -1.5 becomes -2
        {10, 0, 0, 5, 7, 1},          // followed from X1 = 10
        {0, 2048, 0, -1, 1, 0},       // offset below 1/1024 is 0
        {0, 1024, 0, -1, 1, -1},
        {0, 10, 0, 5, -3, 0},         // clamps
        {0, 10, 0, 5, 10, 5},
        {10, 0, 0, 5, 12, 0},         // larger X is X1: its Y
        {-98304, 98304, 1, 300, 0, 150},
        {0, 100000, 0, 100000, 50000, 50000},  // the product needs 64 bits
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.want, Interp(c.x1, c.x2, c.y1, c.y2, c.xx))
            << c.x1 << "," << c.x2 << "," << c.y1 << "," << c.y2 << " at " << c.xx;
}

TEST(Interp, Unsigned64RoundsTowardY1) {
    struct Case {
        LX_U64 x1, x2, y1, y2, xx, want;
    };
    const Case cases[] = {
        {7, 7, 3, 9, 100, 3},
        {100, 200, 10, 20, 150, 15},
        {200, 100, 20, 10, 150, 15},
        {100, 200, 20, 10, 150, 15},
        {0, 3, 0, 2, 2, 1},
        {0, 3, 2, 0, 1, 2},
        {0, 3, 2, 0, 5, 0},
        {1ull << 40, 1ull << 41, 16, 220, 3ull << 39, 118},
    };
    for (const Case &c : cases) EXPECT_EQ(c.want, InterpU64(c.x1, c.x2, c.y1, c.y2, c.xx)) << c.xx;
}

INTP_LUT curve(std::initializer_list<LX_S32> x, std::initializer_list<LX_S32> y, LX_U16 n = 0) {
    INTP_LUT l{};
    int i = 0;
    for (LX_S32 v : x) l.i4X[i++] = v;
    i = 0;
    for (LX_S32 v : y) l.i4Y[i++] = v;
    l.u2NumOfPoints = n ? n : (LX_U16)x.size();
    return l;
}

TEST(Interp, PiecewiseCurves) {
    const INTP_LUT rising = curve({0, 10, 20}, {100, 200, 400});
    const INTP_LUT falling = curve({20, 10, 0}, {1, 2, 3});
    const INTP_LUT single = curve({50}, {9});
    struct Case {
        const INTP_LUT *l;
        LX_S32 xx, want;
    };
    const Case cases[] = {
        {&rising, -5, 100}, {&rising, 10, 200}, {&rising, 15, 300}, {&rising, 25, 400},
        {&falling, 20, 1},  {&falling, 15, 1},  {&falling, 0, 3},   {&falling, -1, 3},
        {&single, -7, 9},   {&single, 50, 9},   {&single, 1000, 9},
    };
    for (const Case &c : cases) EXPECT_EQ(c.want, Interp_LUT(*c.l, c.xx)) << c.xx;

    // Out of order: the first segment holding the value wins.
    EXPECT_EQ(7, Interp_LUT(curve({0, 30, 10, 40}, {7, 8, 9, 10}), 20));
}

TEST(Interp, CurveCountsOutsideTheArrays) {
    // No points reads 0; a count above 16 uses the 16 points there are.
    INTP_LUT l{};
    for (int i = 0; i < 16; ++i) {
        l.i4X[i] = i * 10;
        l.i4Y[i] = i;
    }
    EXPECT_EQ(0, Interp_LUT(l, 55));
    l.u2NumOfPoints = 40000;
    EXPECT_EQ(5, Interp_LUT(l, 55));
    EXPECT_EQ(15, Interp_LUT(l, 1000));
}

TEST(Interp, CompareSortsAscending) {
    LX_S32 v[] = {3, -1, 3, 0, INT32_MAX, INT32_MIN};
    qsort(v, 6, sizeof v[0], compare);
    const LX_S32 want[] = {INT32_MIN, -1, 0, 3, 3, INT32_MAX};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(want[i], v[i]) << i;
}

}  // namespace
