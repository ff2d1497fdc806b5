// Conversions between the AWB control ids' records and the AWB's methods.
// The dispatch has checked the id, the size (except 0x240F), the handle and
// the data pointer before any of these runs.
#include <string.h>

#include "awb_handle.h"
#include "cam_os_wrapper.h"
#include "drv_algo_if.h"
#include "isp_api_records.h"

// Unit-calibration data of id 0x240F: a header, then a version-dependent
// control part and the golden and module gains.
typedef struct {
    LX_U32 u4Version;  // the version is its first byte
    LX_U32 u4DataSize;
    LX_U32 u4CheckSum;
    LX_U32 u4Rsvd[2];
} ISP_CALI_HEADER;

typedef struct {
    LX_U16 u2HighRg;
    LX_U16 u2HighBg;
    LX_U16 u2LowRg;
    LX_U16 u2LowBg;
} AWB_CALI_UNIT_GAIN;

typedef struct {
    LX_U16 u2Obc[4];
} AWB_CALI_OBC_INFO;

typedef enum { eAWB_CALI_OK = 0, eAWB_CALI_NG = 1 } AWB_CALI_RET;
typedef enum {
    AWB_UNIT_CALIB_GOLDEN_H = 0,
    AWB_UNIT_CALIB_GOLDEN_L = 1,
    AWB_UNIT_CALIB_H = 2,
    AWB_UNIT_CALIB_L = 3,
    AWB_UNIT_CALIB_VERIFY = 4,
} AWB_UNIT_CALIB_STATE;

typedef struct {
    AWB_CALI_RET eRet;
    AWB_UNIT_CALIB_STATE eCaliState;
    LX_U8 uCaliNum;
    LX_U32 u4HighCT;
    LX_U32 u4LowCT;
    AWB_CALI_UNIT_GAIN sGolden;
    AWB_CALI_OBC_INFO tObcInfo;
} AWB_UNIT_CALI_CTRL;

typedef struct {
    ISP_CALI_HEADER tHeader;
    AWB_UNIT_CALI_CTRL tCtrl;
    AWB_CALI_UNIT_GAIN sGolden;
    AWB_CALI_UNIT_GAIN sModule;
} AWB_CALI_UNIT_DATAv3;

typedef struct {
    AWB_CALI_RET eRet;
    AWB_UNIT_CALIB_STATE eCaliState;
    LX_U8 uCaliNum;
    LX_U32 u4HighCT;
    LX_U32 u4LowCT;
    AWB_CALI_OBC_INFO tObcInfo;
} AWB_EX_UNIT_CALI_CTRL;

typedef struct {
    ISP_CALI_HEADER tHeader;
    AWB_EX_UNIT_CALI_CTRL tCtrl;
    AWB_CALI_UNIT_GAIN sGolden;
    AWB_CALI_UNIT_GAIN sModule;
} AWB_EX_CALI_UNIT_DATAv3;

static_assert(sizeof(ISP_CALI_HEADER) == 20, "calibration header");
static_assert(sizeof(AWB_UNIT_CALI_CTRL) == 36 && sizeof(AWB_EX_UNIT_CALI_CTRL) == 28, "calibration control");
static_assert(sizeof(AWB_CALI_UNIT_DATAv3) == 72 && offsetof(AWB_CALI_UNIT_DATAv3, sGolden) == 56 &&
                  offsetof(AWB_CALI_UNIT_DATAv3, sModule) == 64,
              "calibration data v3");
static_assert(sizeof(AWB_EX_CALI_UNIT_DATAv3) == 64 && offsetof(AWB_EX_CALI_UNIT_DATAv3, sGolden) == 48 &&
                  offsetof(AWB_EX_CALI_UNIT_DATAv3, sModule) == 56,
              "calibration data v4");

namespace {

AWB_HND H(void *p) { return (AWB_HND)p; }

// An enumeration field of a caller's record, read as the 32-bit value it
// holds: callers may send values the enumeration does not name.
template <typename E>
LX_U32 raw(const E &e) {
    static_assert(sizeof(E) == 4, "record enumerations are 4 bytes");
    LX_U32 v;
    memcpy(&v, &e, 4);
    return v;
}

LX_S32 QueryInfoGet(void *p, LX_U32, void *d) {
    const AWB_HND h = H(p);
    auto *r = (MI_ISP_AWB_QUERY_INFO_TYPE_t *)d;
    r->bIsStable = h->IsStable ? QV_TRUE : QV_FALSE;
    r->u16Rgain = (uint16_t)h->sCurIspGain.u4Rgain;
    r->u16Grgain = (uint16_t)h->sCurIspGain.u4Grgain;
    r->u16Gbgain = (uint16_t)h->sCurIspGain.u4Gbgain;
    r->u16Bgain = (uint16_t)h->sCurIspGain.u4Bgain;
    r->u16ColorTemp = h->u2ColorTemp;
    r->u8WPInd = h->sMultiLS.uRefWPInd;
    r->bMultiLSDetected = h->sMultiLS.sInfo.bMultiLSDetected ? QV_TRUE : QV_FALSE;
    r->u8FirstLSInd = h->sMultiLS.sInfo.uFisrtLSInd;
    r->u8SecondLSInd = h->sMultiLS.sInfo.uSecondLSInd;
    return CAMERA_OK;
}

LX_S32 AttrSet(void *p, LX_U32, void *d) {
    const AWB_HND h = H(p);
    auto *r = (MI_ISP_AWB_ATTR_TYPE_t *)d;
    AWB_ATTR_PARAM_t &a = r->stAutoParaAPI;
    // The manual gains are the one refusal of the request: they are stored
    // first, so a refused request changes nothing at all (the setters below
    // touch settings the gains' store does not).
    const MWB_PARAMS mwb = {r->stManualParaAPI.u16Rgain, r->stManualParaAPI.u16Grgain, r->stManualParaAPI.u16Gbgain,
                            r->stManualParaAPI.u16Bgain};
    if (h->pAWB_SetMwbAttr(h, &mwb) != 0) return CAMERA_ERROR_3A_FAIL;
    h->pAWB_SetApiState(h, (AWB_API_STATE)raw(r->eState));
    h->pAWB_SetApiMode(h, (AWB_API_MODE)raw(r->eOpType));
    h->pAWB_SetConvergeSpeed(h, a.u8Speed);
    // Saturated, not cut: 0x10001 must stay out of range.
    h->pAWB_SetAwbAdvMode(h, awb_sat_u16(raw(a.eAdvType)));
    h->pAWB_SetConvergeThd(h, a.u8ConvInThd, a.u8ConvOutThd);
    h->pAWB_SetGainStrength(h, a.u8RGStrength, a.u8BGStrength);
    h->pAWB_SetAwbAlgMode(h, (AWB_ALG_MODE)raw(a.eAlgType));
    h->pAWB_SetCtLimit(h, AWB_CTLIMIT{a.stCTLimit.u16MaxRgain, a.stCTLimit.u16MinRgain, a.stCTLimit.u16MaxBgain,
                                      a.stCTLimit.u16MinBgain});
    for (LX_U16 lv = 0; lv < AWB_LV_POINTS; ++lv) {
        h->pAWB_SetLvColorTempWeight(h, lv, a.stLvWeight[lv].u16Weight);
        h->pAWB_SetPreferRRatio(h, lv, a.stPreferRRatio[lv].u16Ratio);
        h->pAWB_SetPreferBRatio(h, lv, a.stPreferBRatio[lv].u16Ratio);
    }
    for (uint16_t &w : a.u16WpWeight) w = (uint16_t)awb_clamp_u32(w, 1, 400);
    h->pAWB_SetWpWeight(h, a.u16WpWeight);
    h->pAWB_SetWeightWin(h, a.u32WeightWin);
    h->bForceUpdate = LX_TRUE;
    return CAMERA_OK;
}

LX_S32 AttrGet(void *p, LX_U32, void *d) {
    const AWB_HND h = H(p);
    auto *r = (MI_ISP_AWB_ATTR_TYPE_t *)d;
    AWB_ATTR_PARAM_t &a = r->stAutoParaAPI;
    AWB_API_STATE st;
    AWB_API_MODE md;
    h->pAWB_GetApiState(h, &st);
    h->pAWB_GetApiMode(h, &md);
    memcpy(&r->eState, &st, 4);
    memcpy(&r->eOpType, &md, 4);
    MWB_PARAMS mwb;
    h->pAWB_GetMwbAttr(h, &mwb);
    r->stManualParaAPI = {mwb.u2Rgain, mwb.u2Grgain, mwb.u2Gbgain, mwb.u2Bgain};
    h->pAWB_GetConvergeSpeed(h, &a.u8Speed);
    h->pAWB_GetConvergeThd(h, &a.u8ConvInThd, &a.u8ConvOutThd);
    h->pAWB_GetGainStrength(h, &a.u8RGStrength, &a.u8BGStrength);
    LX_U16 alg, adv;
    h->pAWB_GetAwbAlgMode(h, &alg);
    h->pAWB_GetAwbAdvMode(h, &adv);
    const LX_U32 alg32 = alg, adv32 = adv;
    memcpy(&a.eAlgType, &alg32, 4);
    memcpy(&a.eAdvType, &adv32, 4);
    AWB_CTLIMIT lim;
    h->pAWB_GetCtLimit(h, &lim);
    a.stCTLimit = {lim.u2MaxRgain, lim.u2MinRgain, lim.u2MaxBgain, lim.u2MinBgain};
    for (LX_U16 lv = 0; lv < AWB_LV_POINTS; ++lv) {
        h->pAWB_GetLvColorTempWeight(h, lv, a.stLvWeight[lv].u16Weight);
        h->pAWB_GetPreferRRatio(h, lv, a.stPreferRRatio[lv].u16Ratio);
        h->pAWB_GetPreferBRatio(h, lv, a.stPreferBRatio[lv].u16Ratio);
    }
    h->pAWB_GetWpWeight(h, a.u16WpWeight);
    h->pAWB_GetWeightWin(h, a.u32WeightWin);
    return CAMERA_OK;
}

LX_S32 AttrExSet(void *p, LX_U32, void *d) {
    const AWB_HND h = H(p);
    const auto *r = (const MI_ISP_AWB_ATTR_EX_TYPE_t *)d;
    ADV_PARAMS adv{};
    adv.bEnable = raw(r->bExtraLightEn) ? LX_TRUE : LX_FALSE;
    for (int u = 0; u < AWB_USER_AREA_NUM; ++u) {
        const MI_ISP_AWB_EXTRA_LIGHT_PARAM_t &e = r->stLightInfo[u];
        adv.stUserArea[u].u2WhiteRgain = e.u16WhiteRgain;
        adv.stUserArea[u].u2WhiteBgain = e.u16WhiteBgain;
        adv.stUserArea[u].uAreaSize = e.u8AreaSize;
        adv.stUserArea[u].bExclude = raw(e.bExclude) ? LX_TRUE : LX_FALSE;
    }
    return h->pAWB_SetUserExtraArea(h, adv);
}

LX_S32 AttrExGet(void *p, LX_U32, void *d) {
    const AWB_HND h = H(p);
    auto *r = (MI_ISP_AWB_ATTR_EX_TYPE_t *)d;
    ADV_PARAMS adv;
    const LX_S32 ret = h->pAWB_GetUserExtraArea(h, &adv);
    r->bExtraLightEn = adv.bEnable ? QV_TRUE : QV_FALSE;
    for (int u = 0; u < AWB_USER_AREA_NUM; ++u) {
        MI_ISP_AWB_EXTRA_LIGHT_PARAM_t &e = r->stLightInfo[u];
        e.u16WhiteRgain = adv.stUserArea[u].u2WhiteRgain;
        e.u16WhiteBgain = adv.stUserArea[u].u2WhiteBgain;
        e.u8AreaSize = adv.stUserArea[u].uAreaSize;
        e.bExclude = adv.stUserArea[u].bExclude ? QV_TRUE : QV_FALSE;
    }
    return ret;
}

LX_S32 MultiLSSet(void *p, LX_U32, void *d) {
    const AWB_HND h = H(p);
    const auto *r = (const MI_ISP_AWB_MULTILS_LS_TYPE_t *)d;
    AWB_MULTI_LS_PARAM &m = h->sMultiLS.sParam;
    m.bEnable = raw(r->bEnable) >= 1 ? LX_TRUE : LX_FALSE;
    m.uSensitive = (LX_U8)awb_clamp_u32(r->u8Sensitive, 1, 10);
    m.uCaliStrength = r->u8CaliStrength > 100 ? 100 : r->u8CaliStrength;
    for (int j = 0; j < 9; ++j) {
        m.u2CcmForLow[j] = r->u16CcmForLow[j] > AWB_GAIN_MAX ? AWB_GAIN_MAX : r->u16CcmForLow[j];
        m.u2CcmForHigh[j] = r->u16CcmForHigh[j] > AWB_GAIN_MAX ? AWB_GAIN_MAX : r->u16CcmForHigh[j];
    }
    // New corner matrices reach the output on the next frame.
    h->sMultiLS.sInfo.bApiCcmUpdate = LX_TRUE;
    return CAMERA_OK;
}

LX_S32 MultiLSGet(void *p, LX_U32, void *d) {
    const AWB_MULTI_LS_PARAM &m = H(p)->sMultiLS.sParam;
    auto *r = (MI_ISP_AWB_MULTILS_LS_TYPE_t *)d;
    r->bEnable = m.bEnable ? QV_TRUE : QV_FALSE;
    r->u8Sensitive = m.uSensitive;
    r->u8CaliStrength = m.uCaliStrength;
    memcpy(r->u16CcmForLow, m.u2CcmForLow, sizeof r->u16CcmForLow);
    memcpy(r->u16CcmForHigh, m.u2CcmForHigh, sizeof r->u16CcmForHigh);
    return CAMERA_OK;
}

LX_S32 CtMwbSet(void *p, LX_U32, void *d) {
    const CTMWB_PARAMS ct = {((const MI_ISP_AWB_CTMWB_PARAM_t *)d)->u32CT};
    return H(p)->pAWB_SetCTMwb(H(p), &ct);
}

LX_S32 CtMwbGet(void *p, LX_U32, void *d) {
    CTMWB_PARAMS ct;
    const LX_S32 ret = H(p)->pAWB_GetCTMwb(H(p), &ct);
    ((MI_ISP_AWB_CTMWB_PARAM_t *)d)->u32CT = ct.u4CT;
    return ret;
}

LX_S32 DayNightSet(void *p, LX_U32, void *d) {
    const auto *r = (const MI_ISP_DAYNIGHT_DETECTION_TYPE_t *)d;
    const AWB_DAYNIGHT_DETECTION_PARAM dn = {raw(r->bEnable) ? LX_TRUE : LX_FALSE, r->s32D2N_BvThd,
                                             r->u32N2D_VsbLtScoreThd};
    return H(p)->pAWB_SetDayNightDetectionParam(H(p), &dn);
}

LX_S32 DayNightGet(void *p, LX_U32, void *d) {
    AWB_DAYNIGHT_DETECTION_PARAM dn;
    const LX_S32 ret = H(p)->pAWB_GetDayNightDetectionParam(H(p), &dn);
    auto *r = (MI_ISP_DAYNIGHT_DETECTION_TYPE_t *)d;
    r->bEnable = dn.bEnable ? QV_TRUE : QV_FALSE;
    r->s32D2N_BvThd = dn.s4D2N_BvThd;
    r->u32N2D_VsbLtScoreThd = dn.u4N2D_VsbLtScoreThd;
    return ret;
}

LX_S32 DayNightInfoGet(void *p, LX_U32, void *d) {
    const AWB_DAYNIGHT_DETECTION_INFO &i = H(p)->sDNDetection.strInfo;
    auto *r = (MI_ISP_DAYNIGHT_INFO_TYPE_t *)d;
    r->bN2D = i.bNight2Day ? QV_TRUE : QV_FALSE;
    r->u32N2D_VsbLtScore = i.u4N2D_VsbLtScore;
    return CAMERA_OK;
}

LX_S32 StabilizerSet(void *p, LX_U32, void *d) {
    const auto *r = (const MI_ISP_AWB_STABILIZER_PARAM_t *)d;
    const AWB_STABILIZER_PARAM s = {raw(r->bEnable) ? LX_TRUE : LX_FALSE, r->u16GlbGainThd, r->u16CountThd,
                                    r->u16ForceTriGainThd};
    return H(p)->pAWB_SetStabilizer(H(p), &s);
}

LX_S32 StabilizerGet(void *p, LX_U32, void *d) {
    AWB_STABILIZER_PARAM s;
    const LX_S32 ret = H(p)->pAWB_GetStabilizer(H(p), &s);
    auto *r = (MI_ISP_AWB_STABILIZER_PARAM_t *)d;
    r->bEnable = s.bEnable ? QV_TRUE : QV_FALSE;
    r->u16GlbGainThd = s.u2GlbGainThd;
    r->u16CountThd = s.u2CountThd;
    r->u16ForceTriGainThd = s.u2ForceTriGainThd;
    return ret;
}

LX_S32 GoldenAreaSet(void *p, LX_U32, void *d) {
    const auto *r = (const MI_ISP_AWB_CT_CALI_TYPE_t *)d;
    AWB_CT_CALIB_S g;
    g.u2StartIdx = r->u16StartIdx;
    g.u2EndIdx = r->u16EndIdx;
    memcpy(g.u2CtParams, r->u16CtParams, sizeof g.u2CtParams);
    return H(p)->pAWB_SetGoldenLightArea(H(p), &g);
}

LX_S32 GoldenAreaGet(void *p, LX_U32, void *d) {
    AWB_CT_CALIB_S g;
    const LX_S32 ret = H(p)->pAWB_GetGoldenLightArea(H(p), &g);
    auto *r = (MI_ISP_AWB_CT_CALI_TYPE_t *)d;
    r->u16StartIdx = g.u2StartIdx;
    r->u16EndIdx = g.u2EndIdx;
    memcpy(r->u16CtParams, g.u2CtParams, sizeof r->u16CtParams);
    return ret;
}

LX_S32 CurAreaGet(void *p, LX_U32, void *d) {
    AWB_CT_PARAMS_S c;
    const LX_S32 ret = H(p)->pAWB_GetCurLightArea(H(p), &c);
    memcpy(((MI_ISP_AWB_CUR_CT_CALI_TYPE_t *)d)->u16CtParams, c.u2CtParams, sizeof c.u2CtParams);
    return ret;
}

// The statistics of the last frame run; none before the first.
const IspAwbStatis_t *last_statis(AWB_HND h) {
    return h->bDoInitFrameCnt ? nullptr : h->AwbInputParameter.pAwbStatis;
}

LX_S32 CtStatisticsGet(void *p, LX_U32, void *d) {
    const AWB_HND h = H(p);
    if (!last_statis(h)) return CAMERA_ERROR_EMPTY_VARIABLE;
    auto *r = (MI_ISP_AWB_CT_STATISTICS_TYPE_t *)d;
    return h->pAWB_GetCTStatistics(h, &r->u16Width, &r->u16Height, r->u16StatisX, r->u16StatisY);
}

LX_S32 HwStatisticsGet(void *p, LX_U32, void *d) {
    const IspAwbStatis_t *st = last_statis(H(p));
    if (!st) return CAMERA_ERROR_EMPTY_VARIABLE;
    memcpy(((MI_ISP_AWB_HW_STATISTICS_TYPE_t *)d)->u8AwbBuffer, st, sizeof(IspAwbStatis_t));
    return CAMERA_OK;
}

}  // namespace

extern "C" LX_S32 DrvAlgo_IF_CALIv30_AWB_CaliApply(void *pAWBHandle, LX_U32 nSize, void *pData) {
    if (!pAWBHandle) return CAMERA_ERROR_NULL_POINTER;
    if (!pData) return CAMERA_ERROR_EMPTY_VARIABLE;
    if (nSize < sizeof(ISP_CALI_HEADER)) return CAMERA_ERROR_API_STRUCTURE_SIZE_NOT_MATCH;
    const LX_U8 version = *(const LX_U8 *)pData;
    if (version != 3 && version != 4) {
        CamOsPrintf("Wrong Awb unit calibratoin version!!\n");
        return CAMERA_ERROR_CALIB_VERSION_FAIL;
    }
    AWB_UNIT_CALIB_ATTR_S attr;
    const auto to_attr_gain = [](const AWB_CALI_UNIT_GAIN &g) {
        return AWB_UNIT_CALIB_GAIN_S{g.u2HighRg, g.u2HighBg, g.u2LowRg, g.u2LowBg};
    };
    const auto to_cali_gain = [](const AWB_UNIT_CALIB_GAIN_S &g) {
        return AWB_CALI_UNIT_GAIN{g.u2HighRg, g.u2HighBg, g.u2LowRg, g.u2LowBg};
    };
    // The records are copied in and out: the caller's bytes need no alignment.
    const auto apply = [&](auto &rec) {
        if (nSize < sizeof rec) return (LX_S32)CAMERA_ERROR_API_STRUCTURE_SIZE_NOT_MATCH;
        memcpy(&rec, pData, sizeof rec);
        attr = {rec.tCtrl.u4HighCT, rec.tCtrl.u4LowCT, rec.tCtrl.uCaliNum, to_attr_gain(rec.sGolden),
                to_attr_gain(rec.sModule)};
        const AWB_HND h = H(pAWBHandle);
        const LX_S32 ret = h->pAWB_ApplyUnitCalibration(h, &attr);
        rec.tCtrl.uCaliNum = (LX_U8)attr.u4CaliNum;
        rec.tCtrl.u4HighCT = attr.u4HighCT;
        rec.tCtrl.u4LowCT = attr.u4LowCT;
        rec.sGolden = to_cali_gain(attr.sGolden);
        rec.sModule = to_cali_gain(attr.sModule);
        memcpy(pData, &rec, sizeof rec);
        if (ret == -1) CamOsPrintf("Wrong Awb unit calibratoin data!!\n");
        return ret;
    };
    if (version == 3) {
        AWB_CALI_UNIT_DATAv3 rec;
        return apply(rec);
    }
    AWB_EX_CALI_UNIT_DATAv3 rec;
    return apply(rec);
}

namespace {
LX_S32 CaliApplySet(void *p, LX_U32 n, void *d) { return DrvAlgo_IF_CALIv30_AWB_CaliApply(p, n, d); }
}  // namespace

extern "C" DrvAlgo_ConvSlot_t DrvAlgo_IF_AWB_Slot(LX_U32 nCtlID) {
    switch (nCtlID) {
    case 0x1801: return {nullptr, QueryInfoGet};
    case 0x1802: return {AttrSet, AttrGet};
    case 0x1803: return {AttrExSet, AttrExGet};
    case 0x1804: return {MultiLSSet, MultiLSGet};
    case 0x1806: return {CtMwbSet, CtMwbGet};
    case 0x1807: return {DayNightSet, DayNightGet};
    case 0x1808: return {nullptr, DayNightInfoGet};
    case 0x1809: return {StabilizerSet, StabilizerGet};
    case 0x240F: return {CaliApplySet, nullptr};
    case 0x2C03: return {GoldenAreaSet, GoldenAreaGet};
    case 0x2C04: return {nullptr, CtStatisticsGet};
    case 0x2C05: return {nullptr, HwStatisticsGet};
    case 0x2C06: return {nullptr, CurAreaGet};
    default: return {nullptr, nullptr};
    }
}
