// The AWB control ids through the dispatch, as an IQ-API caller sees them:
// what comes back in the caller's record and what the algorithm then does.
#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "awb_test_util.h"
#include "drv_algo_if.h"
#include "isp_api_records.h"

namespace {

using namespace awbtest;

// Records compared byte for byte start all zero, padding included.
template <typename T>
T zeroed() {
    T t;
    memset(&t, 0, sizeof t);
    return t;
}

template <typename T>
LX_S32 set(Awb &a, LX_U32 id, T &rec) {
    return DrvAlgo_IF_ApiSet(id, nullptr, a.h, nullptr, nullptr, sizeof rec, &rec);
}
template <typename T>
LX_S32 get(Awb &a, LX_U32 id, T &rec) {
    return DrvAlgo_IF_ApiGet(id, nullptr, a.h, nullptr, nullptr, sizeof rec, &rec);
}

TEST(AwbCtl, AttributesRoundTripWithClampsInTheCallersRecord) {
    Awb a;
    auto r = zeroed<MI_ISP_AWB_ATTR_TYPE_t>();
    ASSERT_EQ(0, get(a, 0x1802, r));
    EXPECT_EQ(50, r.stAutoParaAPI.u8Speed);
    EXPECT_EQ(8u, r.stAutoParaAPI.u32WeightWin[40]);
    r.stAutoParaAPI.u16WpWeight[0] = 0;
    r.stAutoParaAPI.u16WpWeight[1] = 1000;
    r.stAutoParaAPI.u8Speed = 30;
    r.stAutoParaAPI.stCTLimit = {4000, 300, 5000, 400};
    r.stAutoParaAPI.stLvWeight[17].u16Weight[9] = 77;
    r.stAutoParaAPI.eAlgType = QV_AWB_ALG_BALANCE;
    r.stManualParaAPI = {2000, 1024, 1024, 1500};
    ASSERT_EQ(0, set(a, 0x1802, r));
    EXPECT_EQ(1, r.stAutoParaAPI.u16WpWeight[0]);
    EXPECT_EQ(400, r.stAutoParaAPI.u16WpWeight[1]);
    EXPECT_TRUE(a.h->bForceUpdate);

    auto back = zeroed<MI_ISP_AWB_ATTR_TYPE_t>();
    ASSERT_EQ(0, get(a, 0x1802, back));
    EXPECT_EQ(0, memcmp(&r, &back, sizeof r));

    // An advanced type beyond 16 bits is refused like 2, not cut to 1.
    memcpy(&r.stAutoParaAPI.eAdvType, "\x01\x00\x01\x00", 4);
    ASSERT_EQ(0, set(a, 0x1802, r));
    ASSERT_EQ(0, get(a, 0x1802, back));
    EXPECT_EQ(QV_AWB_ADV_DEFAULT, back.stAutoParaAPI.eAdvType);
}

// Manual gains that cannot be applied fail the whole request: the mode, the
// speed and the gains handed out stay as they were.
TEST(AwbCtl, RefusedAttributesChangeNothing) {
    Awb a;
    for (int i = 0; i < 3; ++i) a.run(kA);
    ASSERT_EQ((std::vector<int>{1647, 1074, 1074, 1024}), gains(a.out));
    auto before = zeroed<MI_ISP_AWB_ATTR_TYPE_t>();
    ASSERT_EQ(0, get(a, 0x1802, before));
    for (bool red : {true, false}) {
        MI_ISP_AWB_ATTR_TYPE_t r = before;
        r.eOpType = QV_AWB_MODE_MANUAL;
        r.stAutoParaAPI.u8Speed = 20;
        (red ? r.stManualParaAPI.u16Rgain : r.stManualParaAPI.u16Bgain) = 9000;
        EXPECT_EQ(CAMERA_ERROR_3A_FAIL, set(a, 0x1802, r));
        auto now = zeroed<MI_ISP_AWB_ATTR_TYPE_t>();
        ASSERT_EQ(0, get(a, 0x1802, now));
        EXPECT_EQ(0, memcmp(&before, &now, sizeof now));
        EXPECT_FALSE(a.h->bForceUpdate);
        for (int i = 0; i < 2; ++i) a.run(kA);
        EXPECT_EQ((std::vector<int>{1647, 1074, 1074, 1024}), gains(a.out));
    }
}

TEST(AwbCtl, SettingsRoundTrip) {
    Awb a;
    MI_ISP_AWB_CTMWB_PARAM_t ct{4200}, ct2{};
    EXPECT_EQ(0, set(a, 0x1806, ct));
    EXPECT_EQ(0, get(a, 0x1806, ct2));
    EXPECT_EQ(4200u, ct2.u32CT);

    MI_ISP_DAYNIGHT_DETECTION_TYPE_t dn{QV_TRUE, -1234, 5000}, dn2{};
    EXPECT_EQ(0, set(a, 0x1807, dn));
    EXPECT_EQ(0, get(a, 0x1807, dn2));
    EXPECT_EQ(QV_TRUE, dn2.bEnable);
    EXPECT_EQ(-1234, dn2.s32D2N_BvThd);
    EXPECT_EQ(2000u, dn2.u32N2D_VsbLtScoreThd);

    auto st = zeroed<MI_ISP_AWB_STABILIZER_PARAM_t>(), st2 = st;
    st.bEnable = QV_TRUE;
    st.u16GlbGainThd = 10;
    st.u16CountThd = 3;
    st.u16ForceTriGainThd = 99;
    EXPECT_EQ(0, set(a, 0x1809, st));
    EXPECT_EQ(0, get(a, 0x1809, st2));
    EXPECT_EQ(0, memcmp(&st, &st2, sizeof st));

    auto ex = zeroed<MI_ISP_AWB_ATTR_EX_TYPE_t>(), ex2 = zeroed<MI_ISP_AWB_ATTR_EX_TYPE_t>();
    ex.bExtraLightEn = QV_TRUE;
    ex.stLightInfo[2].u16WhiteRgain = 1365;
    ex.stLightInfo[2].u16WhiteBgain = 1077;
    ex.stLightInfo[2].u8AreaSize = 6;
    ex.stLightInfo[2].bExclude = QV_TRUE;
    EXPECT_EQ(0, set(a, 0x1803, ex));
    EXPECT_EQ(0, get(a, 0x1803, ex2));
    EXPECT_EQ(0, memcmp(&ex, &ex2, sizeof ex));
    EXPECT_TRUE(a.h->AwbParam.stAwbLightUserParam[2].bEnable);
}

// A scene of white point (65, 105) with a far red-heavy one: the night-to-day
// score is the squared distance of the whole frame from grey.
TEST(AwbCtl, DayNightInfoComesFromTheFrame) {
    Awb a;
    MI_ISP_DAYNIGHT_DETECTION_TYPE_t dn{QV_TRUE, 0, 600};
    ASSERT_EQ(0, set(a, 0x1807, dn));
    struct Row {
        Rgb c;
        LX_U32 score;
        MI_ISP_BOOL_e n2d;
    } rows[] = {{{100, 100, 100}, 0, QV_FALSE}, {kA, 35 * 35 + 5 * 5, QV_TRUE}, {{90, 100, 110}, 200, QV_FALSE}};
    for (const Row &r : rows) {
        a.run(r.c);
        MI_ISP_DAYNIGHT_INFO_TYPE_t info{QV_TRUE, QV_FALSE, 0};
        EXPECT_EQ(0, get(a, 0x1808, info));
        EXPECT_EQ(QV_TRUE, info.bD2N) << "left for the AE";
        EXPECT_EQ(r.score, info.u32N2D_VsbLtScore);
        EXPECT_EQ(r.n2d, info.bN2D);
    }
}

TEST(AwbCtl, QueryAfterConverging) {
    Awb a;
    for (int i = 0; i < 3; ++i) a.run(kA);
    MI_ISP_AWB_QUERY_INFO_TYPE_t q{};
    ASSERT_EQ(0, get(a, 0x1801, q));
    EXPECT_EQ(QV_TRUE, q.bIsStable);
    EXPECT_EQ((std::vector<int>{1647, 1074, 1074, 1024}),
              (std::vector<int>{q.u16Rgain, q.u16Grgain, q.u16Gbgain, q.u16Bgain}));
    EXPECT_EQ(6500, q.u16ColorTemp);
    EXPECT_EQ(3, q.u8WPInd);
    EXPECT_EQ(QV_FALSE, q.bMultiLSDetected);
    EXPECT_EQ(19, q.u8FirstLSInd);
    EXPECT_EQ(19, q.u8SecondLSInd);
}

TEST(AwbCtl, MultiLightSourceParametersAreLimitedAndRaiseTheMatrixUpdate) {
    Awb a;
    a.h->pAWB_SetAwbAlgMode(a.h, AWB_ALG_FOCUS);
    a.run(kA);
    EXPECT_FALSE(a.out.nMultiLS_CaliCCMUpdate);
    MI_ISP_AWB_MULTILS_LS_TYPE_t m{};
    const uint32_t five = 5;  // any non-zero value enables
    memcpy(&m.bEnable, &five, 4);
    m.u8Sensitive = 0;
    m.u8CaliStrength = 200;
    for (int j = 0; j < 9; ++j) m.u16CcmForLow[j] = m.u16CcmForHigh[j] = (uint16_t)(j == 4 ? 9000 : 1024);
    ASSERT_EQ(0, set(a, 0x1804, m));
    MI_ISP_AWB_MULTILS_LS_TYPE_t back{};
    ASSERT_EQ(0, get(a, 0x1804, back));
    EXPECT_EQ(QV_TRUE, back.bEnable);
    EXPECT_EQ(1, back.u8Sensitive);
    EXPECT_EQ(100, back.u8CaliStrength);
    EXPECT_EQ(8191, back.u16CcmForHigh[4]);
    a.run(kA);
    EXPECT_TRUE(a.out.nMultiLS_CaliCCMUpdate);
    EXPECT_EQ(1024, a.out.nMultiLS_CaliCCM[0]);
    a.run(kA);
    EXPECT_FALSE(a.out.nMultiLS_CaliCCMUpdate);
}

TEST(AwbCtl, GoldenAreasSetGetAndRefusals) {
    Awb a;
    MI_ISP_AWB_CT_CALI_TYPE_t g{};
    ASSERT_EQ(0, get(a, 0x2C03, g));
    EXPECT_EQ(0, g.u16StartIdx);
    EXPECT_EQ(9, g.u16EndIdx);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(30 + 10 * i, g.u16CtParams[4 * i]);
        EXPECT_EQ(140 - 10 * i, g.u16CtParams[4 * i + 1]);
        EXPECT_EQ(10, g.u16CtParams[4 * i + 2]);
        EXPECT_EQ(10, g.u16CtParams[4 * i + 3]);
    }
    struct Row {
        const char *what;
        int field;  // index into u16CtParams, or -1 / -2 for start / end
        uint16_t value;
    } bad[] = {
        {"start beyond 9", -1, 10},
        {"end before start", -2, 0},  // start set to 1 below
        {"upper edges 0..5 must fall", 4 * 3 + 1, 120},
        {"left edges 5..9 must rise", 4 * 7, 80},
        {"zero width", 4 * 2 + 2, 0},
        {"height above y", 4 * 9 + 3, 51},
    };
    for (const Row &r : bad) {
        MI_ISP_AWB_CT_CALI_TYPE_t b = g;
        if (r.field == -1) b.u16StartIdx = r.value;
        if (r.field == -2) b.u16StartIdx = 1, b.u16EndIdx = r.value;
        if (r.field >= 0) b.u16CtParams[r.field] = r.value;
        EXPECT_EQ(-1, set(a, 0x2C03, b)) << r.what;
    }
    MI_ISP_AWB_CT_CALI_TYPE_t now{};
    ASSERT_EQ(0, get(a, 0x2C03, now));
    EXPECT_EQ(0, memcmp(&g, &now, sizeof g)) << "refusals change nothing";

    // Area 3 moved over B's white point: B now counts as 6500 K.
    g.u16CtParams[4 * 3] = 70;
    g.u16CtParams[4 * 3 + 1] = 101;
    g.u16StartIdx = 3;
    g.u16EndIdx = 3;
    ASSERT_EQ(0, set(a, 0x2C03, g));
    a.run(kB);
    EXPECT_EQ(5760u, a.h->sLightCount[AWB_CT_6500K].u4Count);
    EXPECT_EQ(6500, a.out.nColorTmp);
    EXPECT_EQ(204800 / 150, a.h->AwbParam.stAwbCtCurve[3].u2Rgain);

    // Mid-point sums of 3 (x 0, width 3) and 1 (y 1, height 1): the largest gain.
    g.u16CtParams[0] = 0, g.u16CtParams[2] = 3;
    g.u16CtParams[4 * 9 + 1] = 1, g.u16CtParams[4 * 9 + 3] = 1;
    ASSERT_EQ(0, set(a, 0x2C03, g));
    EXPECT_EQ(0xFFFF, a.h->AwbParam.stAwbCtCurve[0].u2Rgain);
    EXPECT_EQ(0xFFFF, a.h->AwbParam.stAwbCtCurve[9].u2Bgain);
}

TEST(AwbCtl, StatisticsOnlyAfterTheFirstFrame) {
    Awb a;
    static MI_ISP_AWB_HW_STATISTICS_TYPE_t hw;
    static MI_ISP_AWB_CT_STATISTICS_TYPE_t ct;
    EXPECT_EQ(CAMERA_ERROR_EMPTY_VARIABLE, get(a, 0x2C05, hw));
    EXPECT_EQ(CAMERA_ERROR_EMPTY_VARIABLE, get(a, 0x2C04, ct));
    a.run({{64, kA}, {64, kBlack}, {5632, kB}});
    ASSERT_EQ(0, get(a, 0x2C05, hw));
    EXPECT_EQ(0, memcmp(hw.u8AwbBuffer, a.st.get(), sizeof hw));
    ASSERT_EQ(0, get(a, 0x2C04, ct));
    EXPECT_EQ(64, ct.u16Width);
    EXPECT_EQ(90, ct.u16Height);
    EXPECT_EQ(65, ct.u16StatisX[5]);  // row 0: A
    EXPECT_EQ(105, ct.u16StatisY[5]);
    EXPECT_EQ(0, ct.u16StatisX[64 + 5]);  // row 1: black, outside the window
    EXPECT_EQ(95, ct.u16StatisY[2 * 64 + 5]);
}

std::vector<uint8_t> cali_v4(uint8_t num, AWB_UNIT_CALIB_GAIN_S golden, AWB_UNIT_CALIB_GAIN_S module) {
    std::vector<uint8_t> d(64);
    d[0] = 4;
    d[28] = num;
    memcpy(&d[48], &golden, 8);
    memcpy(&d[56], &module, 8);
    return d;
}

std::vector<int> cur_area(Awb &a, int i) {
    MI_ISP_AWB_CUR_CT_CALI_TYPE_t c{};
    EXPECT_EQ(0, get(a, 0x2C06, c));
    return {c.u16CtParams[4 * i], c.u16CtParams[4 * i + 1], c.u16CtParams[4 * i + 2], c.u16CtParams[4 * i + 3]};
}

LX_S32 cali(Awb &a, std::vector<uint8_t> &d) {
    return DrvAlgo_IF_ApiSet(0x240F, nullptr, a.h, nullptr, nullptr, (LX_U32)d.size(), d.data());
}

TEST(AwbCtl, UnitCalibrationMovesTheAreasAllOrNothing) {
    Awb a;
    // Golden white (100, 100), this module's (96, 109): every area moves by (-4, +9).
    std::vector<uint8_t> one = cali_v4(1, {1024, 1024, 0, 0}, {1066, 939, 0, 0});
    ASSERT_EQ(0, cali(a, one));
    for (int i = 0; i < 10; ++i) EXPECT_EQ((std::vector<int>{26 + 10 * i, 149 - 10 * i, 10, 10}), cur_area(a, i));
    MI_ISP_AWB_CT_CALI_TYPE_t g{};
    ASSERT_EQ(0, get(a, 0x2C03, g));
    EXPECT_EQ(30, g.u16CtParams[0]) << "the golden areas stay";
    EXPECT_EQ(a.h->AwbParam.stAwbCaliLightArea, a.h->pLightArea);

    testing::internal::CaptureStderr();
    struct Row {
        const char *what;
        std::vector<uint8_t> data;
        LX_S32 want;
        const char *msg;
    } rows[] = {
        {"three lights", cali_v4(3, {1024, 1024, 0, 0}, {1066, 939, 0, 0}), -1, "Wrong Awb unit calibratoin data!!"},
        {"zero module gain", cali_v4(1, {1024, 1024, 0, 0}, {0, 939, 0, 0}), -1, "Wrong Awb unit calibratoin data!!"},
        {"golden high R below low", cali_v4(2, {900, 1024, 1000, 2048}, {1066, 939, 1000, 2048}), -1,
         "Wrong Awb unit calibratoin data!!"},
        {"moves a corner below 2", cali_v4(1, {1024, 1024, 0, 0}, {2000, 939, 0, 0}), -1,
         "Wrong Awb unit calibratoin data!!"},
        // y around 102400 scaled by 100 (102400 - 51200) / (100 - 48): the
        // lower edges stay above 2, the upper ones leave the 16-bit plane.
        {"moves an edge beyond 16 bits", cali_v4(2, {1024, 1024, 1013, 2090}, {1024, 1, 1024, 2}), -1,
         "Wrong Awb unit calibratoin data!!"},
        {"version 5", [] { auto d = cali_v4(1, {1024, 1024, 0, 0}, {1066, 939, 0, 0}); d[0] = 5; return d; }(), 13,
         "Wrong Awb unit calibratoin version!!"},
        {"header cut", std::vector<uint8_t>(19, 4), 14, nullptr},
        {"version 4 cut", std::vector<uint8_t>(63, 4), 14, nullptr},
        {"version 3 cut", std::vector<uint8_t>(71, 3), 14, nullptr},
    };
    for (Row &r : rows) EXPECT_EQ(r.want, cali(a, r.data)) << r.what;
    const std::string out = testing::internal::GetCapturedStderr();
    for (const Row &r : rows)
        if (r.msg) {
            EXPECT_NE(std::string::npos, out.find(r.msg)) << r.what;
        }
    // None of the refusals touched the calibration in use.
    EXPECT_EQ((std::vector<int>{26, 149, 10, 10}), cur_area(a, 0));
    EXPECT_EQ(1, a.h->sCaliData.u2CaliLightNum);
    EXPECT_EQ(a.h->AwbParam.stAwbCaliLightArea, a.h->pLightArea);
}

TEST(AwbCtl, UnitCalibrationTwoLightsScaleTheAreas) {
    Awb a;
    // Version 3: golden (100, 100) high and (200, 50) low, module (96, 109)
    // and (189, 50): x scales by 93 %, y by 118 % around the high point.
    std::vector<uint8_t> d(72);
    d[0] = 3;
    d[28] = 2;
    const AWB_UNIT_CALIB_GAIN_S golden{1024, 1024, 512, 2048}, module{1066, 939, 539, 2048};
    memcpy(&d[56], &golden, 8);
    memcpy(&d[64], &module, 8);
    ASSERT_EQ(0, cali(a, d));
    EXPECT_EQ((std::vector<int>{31, 156, 10, 12}), cur_area(a, 0));
    EXPECT_EQ(2, d[28]) << "written back";
}

}  // namespace
