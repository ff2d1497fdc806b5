// Conversions between the AE control ids' records and the AE's methods. The
// dispatch has checked the id, the direction and the record's size, and that
// the handle and the data are there.
#include <string.h>

#include <initializer_list>

#include "ae_handle.h"
#include "drv_algo_if.h"
#include "isp_api_records.h"

namespace {

using Hnd = cam_ae_handle_t;

// Records whose layout is the AE's own form, member for member.
static_assert(sizeof(MI_ISP_AE_INTP_LUT_TYPE_t) == sizeof(INTP_LUT), "curve record");
static_assert(sizeof(MI_ISP_AE_STRATEGY_TYPE_t) == sizeof(AE_STRATEGY_PARAM), "strategy record");
static_assert(sizeof(MI_ISP_AE_STRATEGY_EX_TYPE_t) == sizeof(AE_STRATEGYEX_MI_PARAM), "strategy EX record");
static_assert(sizeof(MI_ISP_AE_RGBIR_AE_TYPE_t) == sizeof(AE_RGBIR_AE), "RGB-IR record");
static_assert(sizeof(MI_ISP_AE_HDR_TYPE_t) == sizeof(AE_HDR_TYPE), "HDR record");
static_assert(sizeof(MI_ISP_AE_FLICKER_EX_TYPE_t) == sizeof(AE_FLICKER_DETECT_TYPE_t), "flicker EX record");
static_assert(offsetof(MI_ISP_AE_FLICKER_EX_TYPE_t, eFlickerType) == offsetof(AE_FLICKER_DETECT_TYPE_t, eFlickerType),
              "flicker EX record");
static_assert(sizeof(MI_ISP_AE_STABILIZER_TYPE_t) == sizeof(AE_STABILIZER_PARAM), "stabiliser record");
static_assert(sizeof(MI_ISP_DAYNIGHT_DETECTION_TYPE_t) == sizeof(AE_DAYNIGHT_DETECTION_PARAM), "day-night record");

bool countOk(LX_U32 n) { return n >= 1 && n <= 16; }

// Point counts of a record about to be set: 1..16, or the id answers 10.
bool noCounts(const void *) { return true; }
bool lutCounts(const void *p) { return countOk(((const INTP_LUT *)p)->u2NumOfPoints); }
bool strategyCounts(const void *p) {
    const auto *s = (const AE_STRATEGY_PARAM *)p;
    return countOk(s->strUpperBound.u2NumOfPoints) && countOk(s->strLowerBound.u2NumOfPoints);
}
bool strategyExCounts(const void *p) {
    const auto *s = (const AE_STRATEGYEX_MI_PARAM *)p;
    return countOk(s->u2BT_NodeNum) && countOk(s->u2DT_NodeNum);
}

// A record set or got whole through one method.
template <typename Rec, LX_S32 (*Hnd::*Slot)(Hnd *, Rec *), bool (*Check)(const void *) = noCounts>
LX_S32 setSame(void *ph, LX_U32, void *pd) {
    Rec v;
    memcpy(&v, pd, sizeof(v));
    if (!Check(&v)) return CAMERA_ERROR_OUTOF_ARRAY;
    Hnd *h = (Hnd *)ph;
    return (h->*Slot)(h, &v);
}

template <typename Rec, LX_S32 (*Hnd::*Slot)(Hnd *, Rec *), bool Result = true>
LX_S32 getSame(void *ph, LX_U32, void *pd) {
    Rec v;
    memcpy(&v, pd, sizeof(v));
    Hnd *h = (Hnd *)ph;
    const LX_S32 r = (h->*Slot)(h, &v);
    memcpy(pd, &v, sizeof(v));
    return Result ? r : 0;
}

LX_U16 sat16(LX_U32 v) { return v > 0xFFFF ? 0xFFFF : (LX_U16)v; }

// An enumeration of a record, read as the word it is: a caller may send any
// value.
LX_U32 raw(const void *pd) {
    LX_U32 v;
    memcpy(&v, pd, sizeof(v));
    return v;
}

// ---- results ---------------------------------------------------------------------

LX_S32 getHistWeightY(Hnd *h, MI_ISP_AE_HIST_WEIGHT_Y_TYPE_t *r) {
    r->u32LumY = h->pAE_GetLumY(h);
    r->u32AvgY = h->pAE_GetAvgY(h);
    return h->pAE_GetHist(h, r->u32Hits);
}

LX_S32 get1401(void *ph, LX_U32, void *pd) { return getHistWeightY((Hnd *)ph, (MI_ISP_AE_HIST_WEIGHT_Y_TYPE_t *)pd); }

LX_S32 getExpo(LX_S32 (*Hnd::*Slot)(Hnd *, LX_U16 *, LX_U32 *, LX_U32 *, LX_U32 *), Hnd *h,
               MI_ISP_AE_EXPO_VALUE_TYPE_t *r) {
    LX_U16 fn = (LX_U16)r->u32FNx10;
    const LX_S32 ret = (h->*Slot)(h, &fn, &r->u32SensorGain, &r->u32ISPGain, &r->u32US);
    r->u32FNx10 = fn;
    return ret;
}

LX_S32 get1402(void *ph, LX_U32, void *pd) {
    Hnd *h = (Hnd *)ph;
    auto *r = (MI_ISP_AE_EXPO_INFO_TYPE_t *)pd;
    r->bIsStable = h->pAE_isStable(h) ? QV_TRUE : QV_FALSE;
    r->bIsReachBoundary = h->pAE_isReachBoundary(h) ? QV_TRUE : QV_FALSE;
    getExpo(&Hnd::pAE_GetCurExpo, h, &r->stExpoValueLong);
    if (getExpo(&Hnd::pAE_GetCurShortExpo, h, &r->stExpoValueShort) != 0) return CAMERA_ERROR_EMPTY_VARIABLE;
    if (getHistWeightY(h, &r->stHistWeightY) != 0) return CAMERA_ERROR_EMPTY_VARIABLE;
    r->u32LVx10 = h->pAE_GetCurLV(h);
    r->s32BV = h->pAE_GetCurBV(h);
    r->u32SceneTarget = h->u4SceneTargetx10;
    return CAMERA_OK;
}

// ---- settings ----------------------------------------------------------------------

LX_S32 set1403(void *ph, LX_U32, void *pd) {
    Hnd *h = (Hnd *)ph;
    const auto *r = (const MI_ISP_AE_EV_COMP_TYPE_t *)pd;
    return h->pAE_SetEVComp(h, r->s32EV, r->u32Grad);
}

LX_S32 get1403(void *ph, LX_U32, void *pd) {
    Hnd *h = (Hnd *)ph;
    auto *r = (MI_ISP_AE_EV_COMP_TYPE_t *)pd;
    return h->pAE_GetEVComp(h, &r->s32EV, &r->u32Grad);
}

LX_S32 set1404(void *ph, LX_U32, void *pd) {
    Hnd *h = (Hnd *)ph;
    return h->pAE_SetExpMode(h, (AE_EXP_MODE)raw(pd));
}

LX_S32 get1404(void *ph, LX_U32, void *pd) {
    Hnd *h = (Hnd *)ph;
    AE_EXP_MODE m = (AE_EXP_MODE)raw(pd);
    const LX_S32 r = h->pAE_GetExpMode(h, &m);
    *(LX_U32 *)pd = m;
    return r;
}

template <LX_S32 (*Hnd::*Slot)(Hnd *, LX_U16, LX_U32, LX_U32, LX_U32)>
LX_S32 setManual(void *ph, LX_U32, void *pd) {
    Hnd *h = (Hnd *)ph;
    const auto *r = (const MI_ISP_AE_EXPO_VALUE_TYPE_t *)pd;
    return (h->*Slot)(h, sat16(r->u32FNx10), r->u32SensorGain, r->u32ISPGain, r->u32US);
}

template <LX_S32 (*Hnd::*Slot)(Hnd *, LX_U16 *, LX_U32 *, LX_U32 *, LX_U32 *)>
LX_S32 getManual(void *ph, LX_U32, void *pd) {
    return getExpo(Slot, (Hnd *)ph, (MI_ISP_AE_EXPO_VALUE_TYPE_t *)pd);
}

LX_S32 set1406(void *ph, LX_U32, void *pd) {
    Hnd *h = (Hnd *)ph;
    return raw(pd) == QV_ISP_STATE_PAUSE ? h->pAE_Pause(h) : h->pAE_Resume(h);
}

LX_S32 get1406(void *ph, LX_U32, void *pd) {
    Hnd *h = (Hnd *)ph;
    const LX_S32 s = h->pAE_GetSMState(h);
    if (s >= AE_SM_START && s <= AE_SM_RESUME)
        *(LX_U32 *)pd = QV_ISP_STATE_NORMAL;
    else if (s >= AE_SM_PAUSE && s <= AE_SM_EXIT)
        *(LX_U32 *)pd = QV_ISP_STATE_PAUSE;
    return CAMERA_OK;
}

LX_S32 set1408(void *ph, LX_U32, void *pd) {
    Hnd *h = (Hnd *)ph;
    auto *r = (MI_ISP_AE_CONV_CONDITON_TYPE_t *)pd;
    h->pAE_SetConvergeThd(h, r->stConvThrd.u32InThd, r->stConvThrd.u32OutThd);
    LX_U32 x[4], y[4];
    memcpy(x, r->stConvSpeed.u32SpeedX, sizeof(x));
    memcpy(y, r->stConvSpeed.u32SpeedY, sizeof(y));
    return h->pAE_SetConvergeSpeed(h, x, y);
}

LX_S32 get1408(void *ph, LX_U32, void *pd) {
    Hnd *h = (Hnd *)ph;
    auto *r = (MI_ISP_AE_CONV_CONDITON_TYPE_t *)pd;
    h->pAE_GetConvergeThd(h, &r->stConvThrd.u32InThd, &r->stConvThrd.u32OutThd);
    return h->pAE_GetConvergeSpeed(h, r->stConvSpeed.u32SpeedX, r->stConvSpeed.u32SpeedY);
}

// The record is corrected in place, then applied; the 16-bit arguments
// saturate rather than wrap.
LX_S32 set1409(void *ph, LX_U32, void *pd) {
    Hnd *h = (Hnd *)ph;
    auto *r = (MI_ISP_AE_EXPO_LIMIT_TYPE_t *)pd;
    const LX_U32 hwMaxUS = h->strPlainLongExpo.u4HWSensorMaxUS;
    for (uint32_t *us : {&r->u32MinShutterUS, &r->u32MaxShutterUS}) {
        if (*us == 0) *us = 1;
        if (*us > hwMaxUS) *us = hwMaxUS;
    }
    for (uint32_t *fn : {&r->u32MinFNx10, &r->u32MaxFNx10}) *fn = *fn < 10 ? 10 : *fn > 220 ? 220 : *fn;
    for (uint32_t *g : {&r->u32MinSensorGain, &r->u32MinISPGain, &r->u32MaxSensorGain, &r->u32MaxISPGain})
        if (*g < 1024) *g = 1024;
    h->pAE_SetMinMaxShutterUS(h, sat16(r->u32MinShutterUS), r->u32MaxShutterUS);
    h->pAE_SetMinMaxAperture(h, (LX_U16)r->u32MinFNx10, (LX_U16)r->u32MaxFNx10);
    h->pAE_SetMinGains(h, sat16(r->u32MinISPGain), sat16(r->u32MinSensorGain));
    return h->pAE_SetMaxGains(h, r->u32MaxISPGain, r->u32MaxSensorGain);
}

LX_S32 get1409(void *ph, LX_U32, void *pd) {
    Hnd *h = (Hnd *)ph;
    auto *r = (MI_ISP_AE_EXPO_LIMIT_TYPE_t *)pd;
    LX_U16 minUS = 0, minFN = 0, maxFN = 0, minIsp = 0, minSensor = 0;
    h->pAE_GetMinMaxShutterUS(h, &minUS, &r->u32MaxShutterUS);
    h->pAE_GetMinMaxAperture(h, &minFN, &maxFN);
    h->pAE_GetMinGains(h, &minIsp, &minSensor);
    const LX_S32 ret = h->pAE_GetMaxGains(h, &r->u32MaxISPGain, &r->u32MaxSensorGain);
    r->u32MinShutterUS = minUS;
    r->u32MinFNx10 = minFN;
    r->u32MaxFNx10 = maxFN;
    r->u32MinISPGain = minIsp;
    r->u32MinSensorGain = minSensor;
    return ret;
}

template <LX_S32 (*Hnd::*Slot)(Hnd *, AE_EXPO_TBL *)>
LX_S32 setTable(void *ph, LX_U32, void *pd) {
    const auto *r = (const MI_ISP_AE_EXPO_TABLE_TYPE_t *)pd;
    if (!countOk(r->u32NumPoints)) return CAMERA_ERROR_OUTOF_ARRAY;
    AE_EXPO_TBL t;
    memset(&t, 0, sizeof(t));
    t.u2NumPoints = (LX_U16)r->u32NumPoints;
    for (int i = 0; i < AE_EXPO_TBL_MAX; ++i) {
        const MI_ISP_AE_EXPO_POINT_TYPE_t &p = r->stExpoTbl[i];
        t.ExpoTbl[i] = AE_EXPO_POINT{sat16(p.u32FNumx10), p.u32Shutter, p.u32TotalGain, p.u32SensorGain};
    }
    Hnd *h = (Hnd *)ph;
    return (h->*Slot)(h, &t);
}

template <LX_S32 (*Hnd::*Slot)(Hnd *, AE_EXPO_TBL *)>
LX_S32 getTable(void *ph, LX_U32, void *pd) {
    AE_EXPO_TBL t;
    memset(&t, 0, sizeof(t));
    Hnd *h = (Hnd *)ph;
    const LX_S32 ret = (h->*Slot)(h, &t);
    if (ret != 0) return ret;
    auto *r = (MI_ISP_AE_EXPO_TABLE_TYPE_t *)pd;
    r->u32NumPoints = t.u2NumPoints;
    for (int i = 0; i < AE_EXPO_TBL_MAX; ++i) {
        const AE_EXPO_POINT &p = t.ExpoTbl[i];
        r->stExpoTbl[i] = MI_ISP_AE_EXPO_POINT_TYPE_t{p.u2FNumx10, p.u4USec, p.u4TotalGain, p.u4SensorGain};
    }
    return 0;
}

LX_S32 set140C(void *ph, LX_U32, void *pd) {
    Hnd *h = (Hnd *)ph;
    return h->pAE_SetAEWinWgtType(h, (AE_WIN_WGT)raw(pd));
}

LX_S32 get140C(void *ph, LX_U32, void *pd) {
    Hnd *h = (Hnd *)ph;
    AE_WIN_WGT w = (AE_WIN_WGT)raw(pd);
    const LX_S32 r = h->pAE_GetAEWinWgtType(h, &w);
    *(LX_U32 *)pd = w;
    return r;
}

LX_S32 set140D(void *ph, LX_U32 n, void *pd) {
    Hnd *h = (Hnd *)ph;
    auto *r = (MI_ISP_AE_WIN_WEIGHT_TYPE_t *)pd;
    set140C(ph, n, &r->eTypeID);
    return h->pAE_SetAEWinWgtTbl(h, r->stParaAPI.u8AverageTbl, r->stParaAPI.u8CenterTbl, r->stParaAPI.u8SpotTbl);
}

LX_S32 get140D(void *ph, LX_U32 n, void *pd) {
    Hnd *h = (Hnd *)ph;
    auto *r = (MI_ISP_AE_WIN_WEIGHT_TYPE_t *)pd;
    get140C(ph, n, &r->eTypeID);
    return h->pAE_GetAEWinWgtTbl(h, r->stParaAPI.u8AverageTbl, r->stParaAPI.u8CenterTbl, r->stParaAPI.u8SpotTbl);
}

LX_S32 set140E(void *ph, LX_U32, void *pd) {
    Hnd *h = (Hnd *)ph;
    switch (raw(pd)) {
    case QV_AE_FLICKER_TYPE_60HZ:
        h->pAE_SetFlickerMode(h, AE_FLICKER_MANUAL);
        return h->pAE_SetFlicker(h, BANDING_60HZ);
    case QV_AE_FLICKER_TYPE_50HZ:
        h->pAE_SetFlickerMode(h, AE_FLICKER_MANUAL);
        return h->pAE_SetFlicker(h, BANDING_50HZ);
    case QV_AE_FLICKER_TYPE_AUTO:
        return h->pAE_SetFlickerMode(h, AE_FLICKER_AUTO);
    default:
        return h->pAE_SetFlickerMode(h, AE_FLICKER_DISABLE);
    }
}

LX_S32 get140E(void *ph, LX_U32, void *pd) {
    Hnd *h = (Hnd *)ph;
    auto *r = (LX_U32 *)pd;
    AE_FLICKER_MODE mode = AE_FLICKER_MANUAL;
    h->pAE_GetFlickerMode(h, &mode);
    if (mode != AE_FLICKER_MANUAL) {
        *r = QV_AE_FLICKER_TYPE_DISABLE;
        return CAMERA_OK;
    }
    AE_BANDING f = BANDING_60HZ;
    const LX_S32 ret = h->pAE_GetFlicker(h, &f);
    if (f == BANDING_60HZ)
        *r = QV_AE_FLICKER_TYPE_60HZ;
    else if (f == BANDING_50HZ)
        *r = QV_AE_FLICKER_TYPE_50HZ;
    else
        return CAMERA_ERROR_NOT_SUPPORT;
    return ret;
}

LX_S32 get1414(void *ph, LX_U32, void *pd) {
    const AE_AUTO_FLICKER_SETTING &f = ((Hnd *)ph)->strFlickerEx;
    auto *r = (MI_ISP_AE_FLICKER_EX_INFO_TYPE_t *)pd;
    r->bIsEffective = f.bScoreEffective ? QV_TRUE : QV_FALSE;
    r->eFlickerType = (MI_ISP_AE_FLICKER_DETECT_TYPE_e)f.strParam.eFlickerType;
    r->u16Score = f.u2Score;
    return CAMERA_OK;
}

LX_S32 get1417(void *ph, LX_U32, void *pd) {
    const AE_STRATEGYEX_INFO &i = ((Hnd *)ph)->strStrategyEx.strInfo;
    *(MI_ISP_AE_STRATEGY_EX_INFO_TYPE_t *)pd = MI_ISP_AE_STRATEGY_EX_INFO_TYPE_t{
        i.u2GMBlendRatio, i.u2UpperLimitTargetx10, i.u2LowerLimitTargetx10, i.u2BTCntPcntx10,
        i.u2DTCntPcntx10, i.u2BTYx10,           i.u2DTYx10};
    return CAMERA_OK;
}

LX_S32 get1419(void *ph, LX_U32, void *pd) {
    ((MI_ISP_DAYNIGHT_INFO_TYPE_t *)pd)->bD2N = ((Hnd *)ph)->strDNDetection.strInfo.bDay2Night ? QV_TRUE : QV_FALSE;
    return CAMERA_OK;
}

struct Conv {
    LX_U32 id;
    DrvAlgo_ConvSlot_t slot;
};

const Conv kConvs[] = {
    {0x1401, {nullptr, get1401}},
    {0x1402, {nullptr, get1402}},
    {0x1403, {set1403, get1403}},
    {0x1404, {set1404, get1404}},
    {0x1405, {setManual<&Hnd::pAE_SetManualExpo>, getManual<&Hnd::pAE_GetManualExpo>}},
    {0x1406, {set1406, get1406}},
    {0x1407, {setSame<INTP_LUT, &Hnd::pAE_SetTarget, lutCounts>, getSame<INTP_LUT, &Hnd::pAE_GetTarget, false>}},
    {0x1408, {set1408, get1408}},
    {0x1409, {set1409, get1409}},
    {0x140A, {setTable<&Hnd::pAE_SetPlainExpTbl>, getTable<&Hnd::pAE_GetPlainExpTbl>}},
    {0x140B, {setTable<&Hnd::pAE_SetPlainShortExpTbl>, getTable<&Hnd::pAE_GetPlainShortExpTbl>}},
    {0x140C, {set140C, get140C}},
    {0x140D, {set140D, get140D}},
    {0x140E, {set140E, get140E}},
    {0x140F,
     {setSame<AE_STRATEGY_PARAM, &Hnd::pAE_SetAEStrategy, strategyCounts>,
      getSame<AE_STRATEGY_PARAM, &Hnd::pAE_GetAEStrategy>}},
    {0x1410, {setSame<AE_RGBIR_AE, &Hnd::pAE_SetRGBIRAE>, getSame<AE_RGBIR_AE, &Hnd::pAE_GetRGBIRAE>}},
    {0x1411,
     {setSame<AE_HDR_TYPE, &Hnd::pAE_SetAeHdrRatio, lutCounts>, getSame<AE_HDR_TYPE, &Hnd::pAE_GetAeHdrRatio>}},
    {0x1412, {setManual<&Hnd::pAE_SetManualExpoShort>, getManual<&Hnd::pAE_GetManualExpoShort>}},
    {0x1413,
     {setSame<AE_FLICKER_DETECT_TYPE_t, &Hnd::pAE_SetFlickerModeEX>,
      getSame<AE_FLICKER_DETECT_TYPE_t, &Hnd::pAE_GetFlickerModeEX, false>}},
    {0x1414, {nullptr, get1414}},
    {0x1415,
     {setSame<AE_STABILIZER_PARAM, &Hnd::pAE_SetStabilizerParam>,
      getSame<AE_STABILIZER_PARAM, &Hnd::pAE_GetStabilizerParam>}},
    {0x1416,
     {setSame<AE_STRATEGYEX_MI_PARAM, &Hnd::pAE_SetAEStrategyEX, strategyExCounts>,
      getSame<AE_STRATEGYEX_MI_PARAM, &Hnd::pAE_GetAEStrategyEX>}},
    {0x1417, {nullptr, get1417}},
    {0x1418,
     {setSame<AE_DAYNIGHT_DETECTION_PARAM, &Hnd::pAE_SetDayNightDetectionParam>,
      getSame<AE_DAYNIGHT_DETECTION_PARAM, &Hnd::pAE_GetDayNightDetectionParam>}},
    {0x1419, {nullptr, get1419}},
};

}  // namespace

extern "C" DrvAlgo_ConvSlot_t DrvAlgo_IF_AE_Slot(LX_U32 nCtlID) {
    for (const Conv &c : kConvs)
        if (c.id == nCtlID) return c.slot;
    return DrvAlgo_ConvSlot_t{nullptr, nullptr};
}
