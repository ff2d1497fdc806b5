// The AWB algorithm on fixture T1: initial gains and the gain check, IQ
// input it refuses, LV, convergence toward a scene, mixes of light sources,
// the manual modes and the multi-light-source matrix.
#include <gtest/gtest.h>

#include "awb_test_util.h"

namespace {

using namespace awbtest;
using G = std::vector<int>;

TEST(AwbInit, InitialGainsPassTheGainCheck) {
    struct Row {
        LX_U16 r, g, b;
        G want;
        int ct;
    } rows[] = {
        {1024, 1024, 1024, {1365, 1024, 1024, 1077}, 5000},  // all 1.0: the 5000 K curve point
        {512, 1024, 2048, {1024, 2044, 2044, 4088}, 5000},   // R below 1.0 lifts G and B
        {1500, 1024, 900, {1703, 1163, 1163, 1024}, 5000},   // B below 1.0 lifts G and R
        {900, 1024, 900, {1024, 1024, 1024, 1024}, 5000},    // equal and below: each raised alone
        {1023, 1024, 2000, {1024, 1024, 1024, 2000}, 5000},  // g = 1024
    };
    for (const Row &r : rows) {
        Awb a(t1_text(), r.r, r.g, r.b);
        ASSERT_NE(nullptr, a.h);
        EXPECT_EQ(r.want, gains(a.out)) << r.r << "," << r.b;
        EXPECT_EQ(r.ct, a.out.nColorTmp);
    }
}

TEST(AwbInit, RefusesIqDataItCannotUse) {
    struct Row {
        const char *what;
        std::vector<std::pair<std::string, std::string>> over;
    } rows[] = {
        {"light start after end", {{"DBG_AWB_LIGHT_START", "5"}, {"DBG_AWB_LIGHT_END", "3"}}},
        {"light end beyond the ten areas", {{"DBG_AWB_LIGHT_END", "10"}}},
        {"area whose mid-point sum is 0", {{"DBG_AWB_LIGHT_CT", "0*8 " + std::string("40 130 40 120 50 120 50 130")}}},
        {"area whose mid-point sum is negative",
         {{"DBG_AWB_LIGHT_CT", "-50 140 -50 130 40 130 40 140 " + [] {
               std::string rest;  // areas 1..9 of the fixture
               for (int i = 1; i < 10; ++i)
                   for (int v : {30 + 10 * i, 140 - 10 * i, 30 + 10 * i, 130 - 10 * i, 40 + 10 * i, 130 - 10 * i,
                                 40 + 10 * i, 140 - 10 * i})
                       rest += std::to_string(v) + " ";
               return rest;
           }()}}},
    };
    for (const Row &r : rows) {
        Iq iq(t1_text(r.over));
        AwbInput_t in{};
        AwbOutput_t out{};
        EXPECT_EQ(nullptr, AwbInit(iq.h, &in, &out)) << r.what;
    }
    AwbInput_t in{};
    AwbOutput_t out{};
    EXPECT_EQ(nullptr, AwbInit(nullptr, &in, &out)) << "no IQ data";
    EXPECT_EQ(0, AwbRelease(nullptr));
}

TEST(AwbInit, SpeedIsReadAtItsWidthThenLimited) {
    for (auto [iq, want] : {std::pair{"0", 1}, {"50", 50}, {"300", 100}, {"65535", 100}}) {
        Awb a(t1_text({{"DBG_AWB_SPEED", iq}}));
        ASSERT_NE(nullptr, a.h);
        EXPECT_EQ(want, a.h->AwbParam.Awb.uSpeed) << iq;
    }
}

TEST(AwbFrame, LvFromBv) {
    Awb a;
    struct Row {
        LX_S32 bv;
        LX_U32 lv;
    } rows[] = {
        {0, 50},         {16384, 60}, {-16384, 41}, {244940, 199}, {244941, 200},
        {-84377, 0},     {-84378, 0}, {INT32_MAX, 200}, {INT32_MIN, 0},
    };
    for (const Row &r : rows) {
        a.in.nBV = r.bv;
        a.run(kA);
        EXPECT_EQ(r.lv, a.h->u4LvValue) << r.bv;
    }
}

TEST(AwbFrame, ConvergesOnOneLightThenFollowsTheNext) {
    Awb a;
    for (int i = 0; i < 3; ++i) {
        a.run(kA);
        EXPECT_EQ((G{1647, 1074, 1074, 1024}), gains(a.out)) << "run " << i;
        EXPECT_EQ(6500, a.out.nColorTmp);
    }
    // Speed 50 from the A gains toward B's (1363, 1077): one step outside
    // the stable band, then speed-50 steps while stable, then frozen.
    const int want_r[] = {1467, 1415, 1389, 1376, 1369, 1366, 1364, 1363, 1363, 1363};
    for (int r : want_r) {
        a.run(kB);
        EXPECT_EQ(r, a.out.tGain.nRgain);
    }
    EXPECT_EQ((G{1363, 1024, 1024, 1077}), gains(a.out));
    EXPECT_EQ(5005, a.out.nColorTmp);
    EXPECT_EQ(1, a.h->IsStable);
    EXPECT_EQ(4, a.h->uGainStableCount);
}

TEST(AwbFrame, FirstStepAfterTheSceneChange) {
    Awb a;
    a.run(kA);
    a.run(kB);
    EXPECT_EQ(1467u, a.h->sCurGain.u4Rgain);
    EXPECT_EQ(1026u, a.h->sCurGain.u4Bgain);
    EXPECT_EQ(5750, a.out.nColorTmp);
}

// The 16-bit count of frames since the first run saturates: two hours in,
// a scene change still converges instead of jumping.
TEST(AwbFrame, LongRunsKeepConverging) {
    Awb a;
    a.run(kA);
    a.count = 1 + 65536;  // cut to 16 bits, the distance would read 0: a jump
    a.run(kB);
    EXPECT_EQ(1467, a.out.tGain.nRgain);
}

TEST(AwbFrame, MixesAndLimits) {
    struct Row {
        const char *what;
        std::vector<std::pair<int, Rgb>> scene;
        AWB_CTLIMIT lim;
        G want;
        int ct;
    } rows[] = {
        {"B first, A second, C third", {{3000, kB}, {1500, kA}, {1260, kC}}, {8191, 256, 8191, 256},
         {1382, 1024, 1024, 1078}, 5171},
        {"max R gain 1500 on A", {{5760, kA}}, {1500, 256, 8191, 256}, {1573, 1074, 1074, 1024}, 6500},
        {"nothing in any area keeps the start gains", {{5760, kBlack}}, {8191, 256, 8191, 256},
         {1365, 1024, 1024, 1077}, 5000},
    };
    for (const Row &r : rows) {
        Awb a;
        ASSERT_EQ(0, a.h->pAWB_SetCtLimit(a.h, r.lim));
        a.run(r.scene);
        EXPECT_EQ(r.want, gains(a.out)) << r.what;
        EXPECT_EQ(r.ct, a.out.nColorTmp) << r.what;
    }
}

// Window weights scale every weighted sum alike: a uniform weight of any
// size gives the gains and colour temperature of the default weight 8.
TEST(AwbFrame, UniformWindowWeightOfAnySizeGivesTheSameGains) {
    struct Scene {
        const char *what;
        AWB_ALG_MODE alg;
        bool hdr;
        std::vector<std::pair<int, Rgb>> runs;
    };
    const Scene scenes[] = {
        {"A", AWB_ALG_NORMAL, false, {{5760, kA}}},
        {"A in HDR", AWB_ALG_NORMAL, true, {{5760, kA}}},
        {"B between A and C", AWB_ALG_NORMAL, false, {{2000, kA}, {2500, kB}, {1260, kC}}},
        {"A and B, balance", AWB_ALG_BALANCE, false, {{3000, kA}, {2760, kB}}},
        {"A and B, focus, HDR", AWB_ALG_FOCUS, true, {{3000, kA}, {2760, kB}}},
    };
    for (const Scene &sc : scenes) {
        G ref;
        for (LX_U32 w : {8u, 8000u, 0xFFFFFFFFu}) {
            Awb a;
            ASSERT_EQ(0, a.h->pAWB_SetAwbAlgMode(a.h, sc.alg));
            std::vector<LX_U32> win(81, w);
            ASSERT_EQ(0, a.h->pAWB_SetWeightWin(a.h, win.data()));
            if (sc.hdr) {
                a.in.HDRMode = 1;
                a.in.pAwbStatisShort = a.st.get();
            }
            for (int i = 0; i < 3; ++i) a.run(sc.runs);
            G g = gains(a.out);
            g.push_back(a.out.nColorTmp);
            if (w == 8) {
                ref = g;
                continue;
            }
            EXPECT_EQ(ref, g) << sc.what << ", weight " << w;
        }
        if (sc.alg == AWB_ALG_NORMAL && sc.runs.size() == 1) {
            EXPECT_EQ((G{1647, 1074, 1074, 1024, 6500}), ref) << sc.what;
        }
    }
}

TEST(AwbFrame, WideProductsAndQuotients) {
    const LX_U64 max = ~0ull;
    const AWB_U128 sq = awb_mul128(max, max);
    EXPECT_EQ(max - 1, sq.hi);
    EXPECT_EQ(1u, sq.lo);
    EXPECT_EQ(max, awb_div128(sq, awb_u128(max)));
    EXPECT_EQ(1ull << 63, awb_div128({1, 0}, awb_u128(2)));
    EXPECT_EQ(max, awb_div128({1, 0}, awb_u128(1))) << "saturates";
    EXPECT_EQ(2u, awb_div128({3, 5}, {1, 7})) << "a divisor beyond 64 bits";
    EXPECT_EQ(1ull << 33, awb_div128({1, 0}, awb_u128(0x80000000u)));
    EXPECT_EQ(123456789012345ull, awb_muldiv(123456789012345ull, 987654321987ull, 987654321987ull));
    EXPECT_EQ(7u, awb_div128(awb_u128(7), awb_u128(0))) << "0 divides by 1";
    const AWB_U128 s = awb_add128({0, max}, awb_u128(2));
    EXPECT_EQ(1u, s.hi);
    EXPECT_EQ(1u, s.lo);
}

// Converged on A, then part of the frame turns to B. Without the stabiliser
// the gains follow; with it (grey-world threshold 64, count 2, force 150) a
// grey world within 64 of the reference holds them, a larger one holds them
// for two frames, and one beyond 150 with a target beyond 150 lets them go
// at once.
TEST(AwbFrame, StabiliserHoldsTheGainsAgainstSmallChanges) {
    struct Row {
        int b_blocks;
        bool on;
        G r_gains;  // of the three runs after the change
    } rows[] = {
        {1000, false, {1614, 1598, 1590}},
        {1000, true, {1647, 1647, 1647}},
        {2500, true, {1647, 1647, 1563}},
        {5760, true, {1467, 1415, 1389}},
        {5760, false, {1467, 1415, 1389}},
    };
    for (const Row &r : rows) {
        Awb a;
        const AWB_STABILIZER_PARAM sp{r.on ? LX_TRUE : LX_FALSE, 64, 2, 150};
        ASSERT_EQ(0, a.h->pAWB_SetStabilizer(a.h, &sp));
        for (int i = 0; i < 6; ++i) a.run(kA);
        ASSERT_EQ(1647, a.out.tGain.nRgain);
        G got;
        for (int i = 0; i < 3; ++i) {
            a.run({{5760 - r.b_blocks, kA}, {r.b_blocks, kB}});
            got.push_back(a.out.tGain.nRgain);
        }
        EXPECT_EQ(r.r_gains, got) << r.b_blocks << (r.on ? " on" : " off");
    }
}

TEST(AwbFrame, DaylightShareBeyond100IsAll) {
    Awb a(t1_text({{"DBG_AWB_DEFAULT_RATIO", "250*180"}}));
    a.run(kB);
    // The 6500 K curve point's gains (1575, 975), checked.
    EXPECT_EQ((G{1651, 1074, 1074, 1024}), gains(a.out));
}

TEST(AwbFrame, SmoothingBySpeed) {
    Awb a;
    struct Row {
        LX_U8 speed;
        LX_U32 cur, fin, want;
    } rows[] = {{50, 1000, 2000, 1500}, {50, 1000, 1001, 1001}, {50, 1001, 1000, 1000},
                {100, 1000, 2000, 2000}, {1, 1000, 2000, 1010}};
    for (const Row &r : rows) EXPECT_EQ(r.want, pAWB_GetSmoothBySpeed(a.h, r.speed, r.cur, r.fin));
}

TEST(AwbManual, GainsAndColourTemperature) {
    struct Row {
        AWB_API_MODE mode;
        LX_U32 ct;
        G want;
        int want_ct;
    } rows[] = {
        {AWB_API_MODE_CTMANUAL, 5750, {1470, 1024, 1024, 1026}, 5750},
        {AWB_API_MODE_CTMANUAL, 999, {1024, 1024, 1024, 1024}, 999},   // below the curve: 1/1, checked
        {AWB_API_MODE_CTMANUAL, 70000, {3944, 1381, 1381, 1024}, 65535},  // above: point 0, kelvin saturate
        {AWB_API_MODE_MANUAL, 0, {800, 1100, 1100, 3000}, 5000},      // manual gains pass unchecked
    };
    for (const Row &r : rows) {
        Awb a;
        const MWB_PARAMS m{800, 1100, 1100, 3000};
        ASSERT_EQ(0, a.h->pAWB_SetMwbAttr(a.h, &m));
        const CTMWB_PARAMS ct{r.ct};
        a.h->pAWB_SetApiMode(a.h, r.mode);
        a.h->pAWB_SetCTMwb(a.h, &ct);
        a.run(kA);
        EXPECT_EQ(r.want, gains(a.out)) << r.ct;
        EXPECT_EQ(r.want_ct, a.out.nColorTmp);
        EXPECT_EQ(AWB_SM_PAUSE, a.h->AwbParam.Awb.eAwbState);
        a.run(kB);  // paused: the output stays
        EXPECT_EQ(r.want, gains(a.out));
    }
    Awb a;
    const MWB_PARAMS big{8192, 1024, 1024, 1024};
    EXPECT_EQ(-1, a.h->pAWB_SetMwbAttr(a.h, &big));
    EXPECT_EQ(1024, a.h->AwbParam.Mwb.u2Rgain);
}

TEST(AwbMethods, SettersLimitOrRefuse) {
    Awb a;
    AWB_HND h = a.h;
    h->pAWB_SetConvergeSpeed(h, 0);
    EXPECT_EQ(1, h->AwbParam.Awb.uSpeed);
    h->pAWB_SetConvergeSpeed(h, 250);
    EXPECT_EQ(100, h->AwbParam.Awb.uSpeed);
    EXPECT_EQ(0, h->pAWB_SetCtLimit(h, {100, 100, 100, 100}));
    EXPECT_EQ(256, h->AwbParam.Awb.stCTLimit.u2MaxRgain);
    EXPECT_EQ(-1, h->pAWB_SetCtLimit(h, {300, 400, 8191, 256}));
    EXPECT_EQ(256, h->AwbParam.Awb.stCTLimit.u2MaxBgain);
    EXPECT_EQ(-1, h->pAWB_SetAwbAlgMode(h, (AWB_ALG_MODE)4));
    EXPECT_EQ(-1, h->pAWB_SetAwbAdvMode(h, 2));
    LX_U16 w[10] = {};
    EXPECT_EQ(0, h->pAWB_SetLvColorTempWeight(h, 17, w));
    EXPECT_EQ(-1, h->pAWB_SetLvColorTempWeight(h, 18, w));
    EXPECT_EQ(-1, h->pAWB_GetPreferBRatio(h, 3, nullptr));
    // Pause holds the state machine even when a mode is set.
    h->pAWB_SetApiState(h, AWB_API_STATE_PAUSE);
    h->pAWB_SetApiMode(h, AWB_API_MODE_MANUAL);
    EXPECT_EQ(AWB_SM_PAUSE, h->AwbParam.Awb.eAwbState);
    EXPECT_EQ(AWB_API_MODE_MANUAL, h->AwbParam.Awb.eApiMode);
}

TEST(AwbAreas, PointsOnEdgesOverlapsAndUserAreas) {
    Awb a;
    AWB_LIGHT_AREA slanted = {10, 100, 20, 50, 60, 50, 50, 100};  // left edge leans right going down
    AWB_LIGHT_AREA areas[2] = {{30, 140, 30, 130, 40, 130, 40, 140}, {35, 140, 35, 130, 45, 130, 45, 140}};
    struct Row {
        const AWB_LIGHT_AREA *set;
        LX_U8 n;
        LX_S32 x, y;
        LX_U8 want;
    } rows[] = {
        {areas, 2, 30, 140, 0}, {areas, 2, 40, 130, 0}, {areas, 2, 37, 135, 0},  // edges inside, overlap to 0
        {areas, 2, 42, 135, 1}, {areas, 2, 29, 135, 2}, {areas, 2, 35, 141, 2},
        {&slanted, 1, 14, 75, 0}, {&slanted, 1, 13, 75, 1}, {&slanted, 1, 56, 75, 0}, {&slanted, 1, 57, 75, 1},
    };
    for (const Row &r : rows) EXPECT_EQ(r.want, pAWB_GetLightArea(a.h, r.set, r.n, r.x, r.y, 0, r.n - 1));

    ADV_PARAMS adv{};
    adv.bEnable = LX_TRUE;
    adv.stUserArea[0] = {1024, 1024, 0, 1, LX_FALSE};  // (100, 100), size 1
    adv.stUserArea[1] = {1024, 1024, 0, 2, LX_TRUE};
    adv.stUserArea[2] = {255, 1024, 0, 4, LX_FALSE};   // gain below range
    adv.stUserArea[3] = {1024, 1024, 0, 33, LX_FALSE};  // too large
    a.h->pAWB_SetUserExtraArea(a.h, adv);
    const AWB_LIGHT_AREA *u = a.h->AwbParam.stAwbLightUserArea;
    EXPECT_EQ((std::vector<int>{99, 101, 99, 100, 100, 100, 100, 101}),
              (std::vector<int>{u[0].P0_X, u[0].P0_Y, u[0].P1_X, u[0].P1_Y, u[0].P2_X, u[0].P2_Y, u[0].P3_X, u[0].P3_Y}));
    EXPECT_EQ((std::vector<int>{99, 101, 99, 99, 101, 99, 101, 101}),
              (std::vector<int>{u[1].P0_X, u[1].P0_Y, u[1].P1_X, u[1].P1_Y, u[1].P2_X, u[1].P2_Y, u[1].P3_X, u[1].P3_Y}));
    EXPECT_EQ(1, u[2].P2_X);
    EXPECT_FALSE(a.h->AwbParam.stAwbLightUserParam[2].bEnable);
    EXPECT_FALSE(a.h->AwbParam.stAwbLightUserParam[3].bEnable);
}

// Advanced mode: blocks in an excluding user area are dropped; a counting
// user area mixes its own gains in by weight.
TEST(AwbAreas, UserAreasExcludeOrMix) {
    Awb a;
    ASSERT_EQ(0, a.h->pAWB_SetAwbAdvMode(a.h, AWB_ADV_ADVANCE));
    ADV_PARAMS adv{};
    adv.bEnable = LX_TRUE;
    adv.stUserArea[0] = {1575, 975, 0, 4, LX_TRUE};  // around A's white point (65, 105): excluded
    adv.stUserArea[1] = {1365, 1077, 0, 4, LX_FALSE};  // around B's (75, 95): counted
    a.h->pAWB_SetUserExtraArea(a.h, adv);
    a.run({{2880, kA}, {2880, kB}});
    EXPECT_EQ(0u, a.h->sLightCount[AWB_CT_6500K].u4Count);
    EXPECT_EQ(2880u, a.h->sLightCount[AWB_CT_5000K].u4Count);
    EXPECT_EQ(2880u, a.h->sUserCount[1].u4Count);
    EXPECT_EQ(2880u, a.h->u4EffectTotalCount);
    EXPECT_EQ(1, a.h->uUserLightFirst);
    // Light and user area weigh the same: the mean of their R gains 1363
    // (rounded sums) and 1365 (plain sums).
    EXPECT_EQ((G{1364, 1024, 1024, 1077}), gains(a.out));
}

TEST(AwbAreas, HdrCountsBlocksOnceAndLongSumsTwice) {
    Awb a;
    IspAwbStatis_t shortst;
    fill(shortst, {{5760, kB}});
    a.in.HDRMode = 1;
    a.in.pAwbStatisShort = &shortst;
    a.run(kA);
    EXPECT_EQ(5760u, a.h->sTotalCount.u4Count);
    EXPECT_EQ(2u * 5760 * 65, a.h->sTotalCount.u4SumR);
    EXPECT_EQ(5760u, a.h->sLightCount[AWB_CT_6500K].u4Count);
    EXPECT_EQ(5760u, a.h->sLightCount[AWB_CT_5000K].u4Count);
    EXPECT_EQ(2u * 5760, a.h->u4EffectTotalCount);
}

// Focus algorithm, reference white point 6500 K (area 3): a frame counting
// more blocks of another area moves the reference there on the 11th such
// frame when that area is a neighbour (threshold 100 %), never when it lies
// two areas away and counts less than 8 times the reference (threshold 800 %).
// The dynamic weights then favour the new reference and the colour
// temperature follows it.
TEST(AwbMultiLS, ReferenceWhitePointMovesToAStrongerNeighbour) {
    struct Row {
        Rgb other;
        int ref_after_11;
        int ct_after_14;
    } rows[] = {{kB, 4, 5564}, {kC, 3, 6254}};
    for (const Row &r : rows) {
        Awb a;
        ASSERT_EQ(0, a.h->pAWB_SetAwbAlgMode(a.h, AWB_ALG_FOCUS));
        G refs;
        for (int i = 0; i < 14; ++i) {
            a.run({{3000, r.other}, {2760, kA}});
            refs.push_back(a.h->sMultiLS.uRefWPInd);
        }
        G want(14, 3);
        for (int i = 10; i < 14; ++i) want[i] = r.ref_after_11;
        EXPECT_EQ(want, refs) << r.ref_after_11;
        EXPECT_EQ(r.ct_after_14, a.out.nColorTmp);
        const LX_U16 *target = a.h->sMultiLS.u2AwbDynamicCTWeight[1];
        EXPECT_EQ(200, target[r.ref_after_11]);
        EXPECT_EQ(100, target[r.ref_after_11 + 1]);
        EXPECT_EQ(20, target[r.ref_after_11 + 2]);
    }
}

TEST(AwbMultiLS, MatrixElementInterpolation) {
    struct Row {
        LX_U32 k, from, to, want;
    } rows[] = {
        {50, 1024, 870, 947},
        {100, 1024, 870, 870},
        {0, 1024, 870, 1024},
        {50, 0, 8092, 8143},      // 0 toward -100: -49.5 truncated, written the way the corners are
        {50, 1024, 1024, 1024},
        {101, 1024, 870, 870},
    };
    for (const Row &r : rows) EXPECT_EQ(r.want, pAWB_Ccm_Inter(0, 1, r.k, 0, 100, r.from, r.to)) << r.k;
}

// Two light sources in the focus algorithm: 6500 K at (62, 102) and 3000 K
// at (92, 72), points inside one high-precision box each.
TEST(AwbMultiLS, TwoPeaksBendTheMatrixThreeAFrame) {
    Awb a;
    a.h->pAWB_SetAwbAlgMode(a.h, AWB_ALG_FOCUS);
    a.h->sMultiLS.sParam.bEnable = LX_TRUE;
    const Rgb day{62, 100, 102}, warm{92, 100, 72};
    a.run({{600, day}, {100, warm}});
    EXPECT_FALSE(a.h->sMultiLS.sInfo.bMultiLSDetected) << "smoothed 540 / 90 = 6 is more than 5";
    EXPECT_EQ(0, a.h->sMultiLS.sInfo.Rratio_Target);

    const LX_S8 want_r[] = {-3, -6, -9, -12, -15, -18, -21, -23, -23, -23};
    for (size_t i = 0; i < sizeof want_r; ++i) {
        a.run({{500, day}, {100, warm}});
        ASSERT_TRUE(a.h->sMultiLS.sInfo.bMultiLSDetected);
        EXPECT_EQ(6, a.h->sMultiLS.sInfo.uFisrtLSInd);
        EXPECT_EQ(12, a.h->sMultiLS.sInfo.uSecondLSInd);
        EXPECT_EQ(-23, a.h->sMultiLS.sInfo.Rratio_Target);
        EXPECT_EQ(-25, a.h->sMultiLS.sInfo.Bratio_Target);
        EXPECT_EQ(want_r[i], a.h->sMultiLS.sInfo.Rratio_Current) << i;
        // B's ratio walks on to -25 one frame after R has arrived.
        EXPECT_EQ(i + 1 < sizeof want_r, a.out.nMultiLS_CaliCCMUpdate != LX_FALSE) << i;
    }
    // Row 0 toward the low matrix {512, 384, 128} by 23 %.
    EXPECT_EQ(907, a.out.nMultiLS_CaliCCM[0]);
    EXPECT_EQ(88, a.out.nMultiLS_CaliCCM[1]);
    EXPECT_EQ(1024, a.out.nMultiLS_CaliCCM[4]);
    // Back to one light source: the ratios decay three a frame.
    a.run({{600, day}, {100, warm}});
    EXPECT_EQ(-20, a.h->sMultiLS.sInfo.Rratio_Current);
    EXPECT_EQ(-22, a.h->sMultiLS.sInfo.Bratio_Current);
}

}  // namespace
