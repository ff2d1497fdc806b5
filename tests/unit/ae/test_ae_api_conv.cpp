// The AE control ids through the dispatch: records converted to the AE's
// methods and back (the methods replaced by recording fakes where the
// conversion is what is under test).
#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "ae_test_support.h"
#include "drv_algo_if.h"
#include "isp_api_records.h"

namespace {

using aetest::Ae;

LX_S32 Set(Ae &ae, LX_U32 id, void *rec, LX_U32 size) {
    return DrvAlgo_IF_ApiSet(id, ae.h, nullptr, nullptr, nullptr, size, rec);
}
LX_S32 Get(Ae &ae, LX_U32 id, void *rec, LX_U32 size) {
    return DrvAlgo_IF_ApiGet(id, ae.h, nullptr, nullptr, nullptr, size, rec);
}

// What the fakes saw and what they answer.
struct Fake {
    std::vector<long> calls;  // method code * 1000000 + first argument
    AE_FLICKER_MODE mode = AE_FLICKER_MANUAL;
    int banding = BANDING_60HZ;
    LX_S32 shortResult = 0;
    LX_U16 minShutter = 0;
    LX_U32 maxShutter = 0;
    LX_U16 minIsp = 0, minSensor = 0;
} fake;

LX_S32 fakeSetFlickerMode(cam_ae_handle_t *, AE_FLICKER_MODE m) {
    fake.calls.push_back(1000000 + m);
    return 0;
}
LX_S32 fakeSetFlicker(cam_ae_handle_t *, AE_BANDING b) {
    fake.calls.push_back(2000000 + b);
    return 7;  // passed through as the id's result
}
LX_S32 fakeGetFlickerMode(cam_ae_handle_t *, AE_FLICKER_MODE *m) {
    *m = fake.mode;
    return 0;
}
LX_S32 fakeGetFlicker(cam_ae_handle_t *, AE_BANDING *b) {
    *b = (AE_BANDING)fake.banding;
    return 0;
}
LX_S32 fakeShort(cam_ae_handle_t *, LX_U16 *, LX_U32 *, LX_U32 *, LX_U32 *) { return fake.shortResult; }
LX_S32 fakeMinMaxShutter(cam_ae_handle_t *, LX_U16 mn, LX_U32 mx) {
    fake.minShutter = mn;
    fake.maxShutter = mx;
    return 0;
}
LX_S32 fakeMinGains(cam_ae_handle_t *, LX_U16 isp, LX_U16 sensor) {
    fake.minIsp = isp;
    fake.minSensor = sensor;
    return 0;
}
LX_S32 fakePause(cam_ae_handle_t *) {
    fake.calls.push_back(3000000);
    return 0;
}
LX_S32 fakeResume(cam_ae_handle_t *) {
    fake.calls.push_back(4000000);
    return 0;
}

TEST(AeControlIds, ExposureLimitsCorrectedInPlaceAndSaturatedTo16Bits) {
    fake = Fake{};
    Ae ae;
    ae.h->pAE_SetMinMaxShutterUS = fakeMinMaxShutter;
    ae.h->pAE_SetMinGains = fakeMinGains;
    MI_ISP_AE_EXPO_LIMIT_TYPE_t r{0, 0, 5, 300, 0, 0, 0, 0};
    EXPECT_EQ(0, Set(ae, 0x1409, &r, sizeof(r)));
    const MI_ISP_AE_EXPO_LIMIT_TYPE_t want{1, 1, 10, 220, 1024, 1024, 1024, 1024};
    EXPECT_EQ(0, memcmp(&want, &r, sizeof(r)));
    EXPECT_EQ(1, fake.minShutter);

    // The sensor's maximum (33333 us) caps the shutters; 16-bit minima
    // saturate instead of wrapping.
    ae.h->strPlainLongExpo.u4HWSensorMaxUS = 1000000;
    MI_ISP_AE_EXPO_LIMIT_TYPE_t big{70000, 2000000, 18, 18, 70000, 65537, 70000, 70000};
    EXPECT_EQ(0, Set(ae, 0x1409, &big, sizeof(big)));
    EXPECT_EQ(65535, fake.minShutter);
    EXPECT_EQ(1000000u, fake.maxShutter);
    EXPECT_EQ(65535, fake.minIsp);
    EXPECT_EQ(65535, fake.minSensor);
}

TEST(AeControlIds, PointCountsOutsideOneToSixteenAnswer10AndLeaveTheRecord) {
    Ae ae;
    struct Case {
        LX_U32 id, size, countOffset, countBytes;
    };
    const Case cases[] = {
        {0x1407, sizeof(MI_ISP_AE_INTP_LUT_TYPE_t), 0, 2},
        {0x140A, sizeof(MI_ISP_AE_EXPO_TABLE_TYPE_t), 0, 4},
        {0x140B, sizeof(MI_ISP_AE_EXPO_TABLE_TYPE_t), 0, 4},
        {0x140F, sizeof(MI_ISP_AE_STRATEGY_TYPE_t), offsetof(MI_ISP_AE_STRATEGY_TYPE_t, stUpperOffset), 2},
        {0x140F, sizeof(MI_ISP_AE_STRATEGY_TYPE_t), offsetof(MI_ISP_AE_STRATEGY_TYPE_t, stLowerOffset), 2},
        {0x1411, sizeof(MI_ISP_AE_HDR_TYPE_t), 0, 2},
        {0x1416, sizeof(MI_ISP_AE_STRATEGY_EX_TYPE_t), offsetof(MI_ISP_AE_STRATEGY_EX_TYPE_t, u16BT_NodeNum), 2},
        {0x1416, sizeof(MI_ISP_AE_STRATEGY_EX_TYPE_t), offsetof(MI_ISP_AE_STRATEGY_EX_TYPE_t, u16DT_NodeNum), 2},
    };
    for (const Case &c : cases) {
        for (LX_U32 bad : {0u, 17u, 65535u}) {
            std::vector<uint8_t> rec(c.size, 0);
            // Every other count of the record is valid.
            for (LX_U32 off : {(LX_U32)offsetof(MI_ISP_AE_STRATEGY_TYPE_t, stUpperOffset),
                               (LX_U32)offsetof(MI_ISP_AE_STRATEGY_TYPE_t, stLowerOffset)})
                if (c.id == 0x140F) rec[off] = 1;
            if (c.id == 0x1416) {
                rec[offsetof(MI_ISP_AE_STRATEGY_EX_TYPE_t, u16BT_NodeNum)] = 1;
                rec[offsetof(MI_ISP_AE_STRATEGY_EX_TYPE_t, u16DT_NodeNum)] = 1;
            }
            memcpy(&rec[c.countOffset], &bad, c.countBytes);
            const std::vector<uint8_t> before = rec;
            EXPECT_EQ(CAMERA_ERROR_OUTOF_ARRAY, Set(ae, c.id, rec.data(), c.size)) << std::hex << c.id << " " << bad;
            EXPECT_EQ(before, rec);
        }
    }
}

TEST(AeControlIds, FlickerTypeToModeAndFrequency) {
    Ae ae;
    ae.h->pAE_SetFlickerMode = fakeSetFlickerMode;
    ae.h->pAE_SetFlicker = fakeSetFlicker;
    ae.h->pAE_GetFlickerMode = fakeGetFlickerMode;
    ae.h->pAE_GetFlicker = fakeGetFlicker;
    struct SetCase {
        LX_U32 v;
        LX_S32 result;
        std::vector<long> calls;
    };
    const SetCase sets[] = {
        {QV_AE_FLICKER_TYPE_60HZ, 7, {1000000 + AE_FLICKER_MANUAL, 2000000 + BANDING_60HZ}},
        {QV_AE_FLICKER_TYPE_50HZ, 7, {1000000 + AE_FLICKER_MANUAL, 2000000 + BANDING_50HZ}},
        {QV_AE_FLICKER_TYPE_AUTO, 0, {1000000 + AE_FLICKER_AUTO}},
        {QV_AE_FLICKER_TYPE_DISABLE, 0, {1000000 + AE_FLICKER_DISABLE}},
        {9, 0, {1000000 + AE_FLICKER_DISABLE}},
    };
    for (const SetCase &c : sets) {
        fake = Fake{};
        LX_U32 v = c.v;
        EXPECT_EQ(c.result, Set(ae, 0x140E, &v, sizeof(v))) << c.v;
        EXPECT_EQ(c.calls, fake.calls) << c.v;
    }
    struct GetCase {
        AE_FLICKER_MODE mode;
        int banding;
        LX_S32 result;
        LX_U32 v;
    };
    const GetCase gets[] = {
        {AE_FLICKER_AUTO, BANDING_50HZ, 0, QV_AE_FLICKER_TYPE_DISABLE},  // auto reads back as disable
        {AE_FLICKER_DISABLE, BANDING_50HZ, 0, QV_AE_FLICKER_TYPE_DISABLE},
        {AE_FLICKER_MANUAL, BANDING_50HZ, 0, QV_AE_FLICKER_TYPE_50HZ},
        {AE_FLICKER_MANUAL, BANDING_60HZ, 0, QV_AE_FLICKER_TYPE_60HZ},
        {AE_FLICKER_MANUAL, 5, CAMERA_ERROR_NOT_SUPPORT, 77},  // left as it was
    };
    for (const GetCase &c : gets) {
        fake = Fake{};
        fake.mode = c.mode;
        fake.banding = c.banding;
        LX_U32 v = 77;
        EXPECT_EQ(c.result, Get(ae, 0x140E, &v, sizeof(v)));
        EXPECT_EQ(c.v, v) << c.mode << "/" << c.banding;
    }
}

TEST(AeControlIds, StateAndInformationIds) {
    Ae ae;
    ae.h->pAE_Pause = fakePause;
    ae.h->pAE_Resume = fakeResume;
    fake = Fake{};
    for (LX_U32 s : {1u, 0u, 2u})
        EXPECT_EQ(0, Set(ae, 0x1406, &s, sizeof(s)));
    EXPECT_EQ((std::vector<long>{3000000, 4000000, 4000000}), fake.calls);

    const LX_S32 states[] = {AE_SM_START, AE_SM_CAL, AE_SM_RESUME, AE_SM_PAUSE, AE_SM_STOP, AE_SM_EXIT, 6};
    const int want[] = {0, 0, 0, 1, 1, 1, 9};
    for (int i = 0; i < 7; ++i) {
        ae.h->state = (AE_SM)states[i];
        LX_U32 v = 9;
        EXPECT_EQ(0, Get(ae, 0x1406, &v, sizeof(v)));
        EXPECT_EQ(want[i], (int)v) << states[i];
    }

    // 0x1402 answers 12 when the short exposure cannot be read.
    ae.h->pAE_GetCurShortExpo = fakeShort;
    fake.shortResult = -1;
    MI_ISP_AE_EXPO_INFO_TYPE_t info{};
    EXPECT_EQ(CAMERA_ERROR_EMPTY_VARIABLE, Get(ae, 0x1402, &info, sizeof(info)));
    fake.shortResult = 0;
    EXPECT_EQ(0, Get(ae, 0x1402, &info, sizeof(info)));
    EXPECT_EQ(470u, info.u32SceneTarget);

    // The detection results come straight from the handle.
    ae.h->strDNDetection.strInfo.bDay2Night = LX_TRUE;
    ae.h->strFlickerEx.bScoreEffective = 1;
    ae.h->strFlickerEx.strParam.eFlickerType = AE_FLICKER_DETECT_50HZ;
    ae.h->strFlickerEx.u2Score = 37;
    ae.h->strStrategyEx.strInfo = AE_STRATEGYEX_INFO{513, 1, 2, 3, 4, 5, 6};
    MI_ISP_DAYNIGHT_INFO_TYPE_t dn{QV_FALSE, QV_TRUE, 99};
    EXPECT_EQ(0, Get(ae, 0x1419, &dn, sizeof(dn)));
    EXPECT_EQ(QV_TRUE, dn.bD2N);
    EXPECT_EQ(QV_TRUE, dn.bN2D);  // the AWB's fields stay
    EXPECT_EQ(99u, dn.u32N2D_VsbLtScore);
    MI_ISP_AE_FLICKER_EX_INFO_TYPE_t fl{};
    EXPECT_EQ(0, Get(ae, 0x1414, &fl, sizeof(fl)));
    EXPECT_EQ(QV_TRUE, fl.bIsEffective);
    EXPECT_EQ(QV_AE_FLICKER_TYPE_DETECT_50HZ, fl.eFlickerType);
    EXPECT_EQ(37, fl.u16Score);
    MI_ISP_AE_STRATEGY_EX_INFO_TYPE_t sx{};
    EXPECT_EQ(0, Get(ae, 0x1417, &sx, sizeof(sx)));
    const MI_ISP_AE_STRATEGY_EX_INFO_TYPE_t wantSx{513, 1, 2, 3, 4, 5, 6};
    EXPECT_EQ(0, memcmp(&wantSx, &sx, sizeof(sx)));

    // Result-only ids are not settable.
    EXPECT_EQ(CAMERA_ERROR_API_NOT_SUPPORT, Set(ae, 0x1419, &dn, sizeof(dn)));
}

}  // namespace
