// AWB handle: creation from the IQ file, the per-frame state machine and the
// simple tuning methods.
#include <string.h>

#include <algorithm>
#include <limits>

#include "awb_handle.h"
#include "cam_os_wrapper.h"

namespace {

constexpr LX_U32 kDivG(int i) { return i == 0 ? 25600u : (25600u + (LX_U32)i / 2) / (LX_U32)i; }

}  // namespace

// Entry i is 25600 / i rounded: (DivGTbl[G] * R) >> 8 approximates 100 R / G.
const LX_U32 DivGTbl[256] = {
#define D4(i) kDivG(i), kDivG(i + 1), kDivG(i + 2), kDivG(i + 3)
#define D16(i) D4(i), D4(i + 4), D4(i + 8), D4(i + 12)
#define D64(i) D16(i), D16(i + 16), D16(i + 32), D16(i + 48)
    D64(0), D64(64), D64(128), D64(192)
#undef D64
#undef D16
#undef D4
};

// Block column c to window column 9c / 128, block row r to r / 10.
const LX_U8 MapX_Tbl[AWB_STATIS_COLS] = {
#define X8(c) (LX_U8)(9 * (c) / 128), (LX_U8)(9 * ((c) + 1) / 128), (LX_U8)(9 * ((c) + 2) / 128), \
              (LX_U8)(9 * ((c) + 3) / 128), (LX_U8)(9 * ((c) + 4) / 128), (LX_U8)(9 * ((c) + 5) / 128), \
              (LX_U8)(9 * ((c) + 6) / 128), (LX_U8)(9 * ((c) + 7) / 128)
    X8(0),  X8(8),  X8(16), X8(24), X8(32), X8(40),  X8(48),  X8(56),
    X8(64), X8(72), X8(80), X8(88), X8(96), X8(104), X8(112), X8(120),
#undef X8
};

const LX_U8 MapY_Tbl[AWB_STATIS_ROWS] = {
#define Y10(r) r, r, r, r, r, r, r, r, r, r
    Y10(0), Y10(1), Y10(2), Y10(3), Y10(4), Y10(5), Y10(6), Y10(7), Y10(8),
#undef Y10
};

const LX_U16 AwbDynamicCTWeight[2][AWB_CT_NUM] = {
    {10, 20, 100, 200, 100, 20, 10, 10, 10, 10},
    {10, 20, 100, 200, 100, 20, 10, 10, 10, 10},
};

namespace {

constexpr LX_U32 kAwbWeightWin = 8;
constexpr LX_U16 kAwbWpWeight = 100;

// Reads an IQ item at its own element width and narrows each element to the
// field's type, saturating: false when the item cannot be read.
template <typename T>
bool iq_read(ISP_DBGBUF_HANDLE hnd, LX_U32 tag, T *dst, LX_U32 count) {
    LX_U8 buf[512];
    const LX_U32 size = cfg_getcfgsize(tag);
    const LX_U32 width = IQ_PARAMETER_TYPE(Dbg_Items[tag].eType);
    if (size > sizeof buf || size / width < count) return false;
    if (cfg_getcfgbyenum(hnd, tag, buf) != 0) return false;
    for (LX_U32 i = 0; i < count; ++i) {
        const LX_U8 *p = buf + i * width;
        LX_S64 v;
        if (width == 1)
            v = std::numeric_limits<T>::is_signed ? (LX_S64)(LX_S8)p[0] : (LX_S64)p[0];
        else if (width == 2) {
            LX_U16 u;
            memcpy(&u, p, 2);
            v = std::numeric_limits<T>::is_signed ? (LX_S64)(LX_S16)u : (LX_S64)u;
        } else {
            LX_U32 u;
            memcpy(&u, p, 4);
            v = std::numeric_limits<T>::is_signed ? (LX_S64)(LX_S32)u : (LX_S64)u;
        }
        const LX_S64 lo = (LX_S64)std::numeric_limits<T>::min(), hi = (LX_S64)std::numeric_limits<T>::max();
        dst[i] = (T)(v < lo ? lo : v > hi ? hi : v);
    }
    return true;
}

// Light-source indices outside 0..9 or reversed would make every search
// loop run off the tables.
bool light_range_ok(LX_U16 start, LX_U16 end) { return start <= end && end < AWB_CT_NUM; }

bool read_iq(AWB_HND h, ISP_DBGBUF_HANDLE iq) {
    AWB_ADJUSTABLE_SETTING &p = h->AwbParam;
    LX_U16 speed = 0;
    LX_S32 ct_area[AWB_CT_NUM * 8];
    LX_U16 ct[AWB_CT_NUM];
    bool ok = iq_read(iq, DBG_AWB_SPEED, &speed, 1) && iq_read(iq, DBG_AWB_CONV_THD, &p.Awb.uConvInThd, 1) &&
              iq_read(iq, DBG_AWB_CONV_OUT_THD, &p.Awb.uConvOutThd, 1) &&
              iq_read(iq, DBG_AWB_COUNT_THD, &p.u2CountThd, 1) &&
              iq_read(iq, DBG_AWB_LIGHT_CT, ct_area, AWB_CT_NUM * 8) &&
              iq_read(iq, DBG_AWB_COLOR_TEMP, ct, AWB_CT_NUM) &&
              iq_read(iq, DBG_AWB_LIGHT_START, &p.u2LightStart, 1) &&
              iq_read(iq, DBG_AWB_LIGHT_END, &p.u2LightEnd, 1) &&
              iq_read(iq, DBG_AWB_LIGHT_WEIGHT, &p.Awb.u2LvWeight[0][0], AWB_CT_NUM * AWB_LV_POINTS) &&
              iq_read(iq, DBG_AWB_PERFER_R_RATIO, &p.Awb.u2PreferRRatio[0][0], AWB_CT_NUM * AWB_LV_POINTS) &&
              iq_read(iq, DBG_AWB_PERFER_B_RATIO, &p.Awb.u2PreferBRatio[0][0], AWB_CT_NUM * AWB_LV_POINTS) &&
              iq_read(iq, DBG_AWB_LUM_MAX, &p.u2LumMax, 1) && iq_read(iq, DBG_AWB_LUM_MIN, &p.u2LumMin, 1) &&
              iq_read(iq, DBG_AWB_MIX_THIRD_THD, &p.uMixThirdThd, 1) &&
              iq_read(iq, DBG_AWB_DEFAULT_RATIO, &p.u2AwbDefaultGainPercent[0][0], AWB_CT_NUM * AWB_LV_POINTS) &&
              iq_read(iq, DBG_AWB_LOW_LUX_THD, &p.u2LowLuxThd, 1) &&
              iq_read(iq, DBG_AWB_LOW_LUX_BLK_X, &p.u2StatisBlkValidLowLuxX, 1) &&
              iq_read(iq, DBG_AWB_LOW_LUX_BLK_Y, &p.u2StatisBlkValidLowLuxY, 1);
    if (!ok) {
        CamOsPrintf("[AwbInit] no usable IQ data\n");
        return false;
    }
    p.Awb.uSpeed = (LX_U8)awb_clamp_u32(speed, 1, 100);
    if (!light_range_ok(p.u2LightStart, p.u2LightEnd)) {
        CamOsPrintf("[AwbInit] light range %hu..%hu outside 0..9\n", p.u2LightStart, p.u2LightEnd);
        return false;
    }
    memcpy(p.stAwbLightArea, ct_area, sizeof p.stAwbLightArea);
    for (int i = 0; i < AWB_CT_NUM; ++i) {
        const AWB_LIGHT_AREA &a = p.stAwbLightArea[i];
        // The curve's gains divide by these sums: a sum of 0 or below has no gain.
        if ((LX_S64)a.P0_X + a.P3_X <= 0 || (LX_S64)a.P0_Y + a.P1_Y <= 0) {
            CamOsPrintf("[AwbInit] light area %d has no mid-point\n", i);
            return false;
        }
        p.stAwbCtCurve[i].u2ColorTemp = ct[i];
    }
    h->pLightArea = p.stAwbLightArea;
    pAWB_UpdateLightAeraHighPrecision(h);
    memcpy(p.stAwbCaliLightArea, p.stAwbLightArea, sizeof p.stAwbCaliLightArea);
    pAWB_BuildCtCurveGains(h, p.stAwbLightArea);
    return true;
}

void pAWB_InitGain(AWB_HND h) {
    h->sMultiLS.uRefWPInd = AWB_CT_6500K;
    LX_U32 r = h->sInitGain.u4Rgain, g = h->sInitGain.u4Grgain, b = h->sInitGain.u4Bgain;
    if (r == AWB_GAIN_UNIT && g == AWB_GAIN_UNIT && h->sInitGain.u4Gbgain == AWB_GAIN_UNIT && b == AWB_GAIN_UNIT) {
        r = h->AwbParam.stAwbCtCurve[AWB_CT_5000K].u2Rgain;
        b = h->AwbParam.stAwbCtCurve[AWB_CT_5000K].u2Bgain;
    }
    h->sCurGain = h->sApplyGain = {r, g, g, b};
    for (AWB_RBGAIN &s : h->sLightGain) s = {r, b};
    for (AWB_PRE_GAIN &s : h->sPreGain) s = {0, 0, r, b};
    pAWB_CheckGain(h);
    pAWB_ApplyGain(h);
}

// ---- simple methods -------------------------------------------------------

LX_S32 SetApiState(AWB_HND h, AWB_API_STATE s) {
    h->AwbParam.Awb.eApiState = s;
    if (s == AWB_API_STATE_PAUSE) h->AwbParam.Awb.eAwbState = AWB_SM_PAUSE;
    return 0;
}
LX_S32 GetApiState(AWB_HND h, AWB_API_STATE *s) {
    *s = h->AwbParam.Awb.eApiState;
    return 0;
}
LX_S32 SetApiMode(AWB_HND h, AWB_API_MODE m) {
    AWB_PARAMS &a = h->AwbParam.Awb;
    a.eApiMode = m;
    if (a.eApiState != AWB_API_STATE_PAUSE)
        a.eAwbState = m == AWB_API_MODE_MANUAL     ? AWB_SM_MANUAL
                      : m == AWB_API_MODE_CTMANUAL ? AWB_SM_CTMANUAL
                                                   : AWB_SM_CAL;
    return 0;
}
LX_S32 GetApiMode(AWB_HND h, AWB_API_MODE *m) {
    *m = h->AwbParam.Awb.eApiMode;
    return 0;
}
// Gains of 8192 and more could never be handed out: refuse them here so the
// caller learns it, instead of a manual mode that silently does nothing.
LX_S32 SetMwbAttr(AWB_HND h, const MWB_PARAMS *m) {
    if (m->u2Rgain > AWB_GAIN_MAX || m->u2Grgain > AWB_GAIN_MAX || m->u2Gbgain > AWB_GAIN_MAX ||
        m->u2Bgain > AWB_GAIN_MAX) {
        CamOsPrintf("[pAWB_SetMwbAttr] gains %hu,%hu,%hu,%hu above %d\n", m->u2Rgain, m->u2Grgain, m->u2Gbgain,
                    m->u2Bgain, AWB_GAIN_MAX);
        return -1;
    }
    h->AwbParam.Mwb = *m;
    return 0;
}
LX_S32 GetMwbAttr(AWB_HND h, MWB_PARAMS *m) {
    *m = h->AwbParam.Mwb;
    return 0;
}
LX_S32 SetConvergeSpeed(AWB_HND h, LX_U8 s) {
    h->AwbParam.Awb.uSpeed = (LX_U8)awb_clamp_u32(s, 1, 100);
    return 0;
}
LX_S32 GetConvergeSpeed(AWB_HND h, LX_U8 *s) {
    *s = h->AwbParam.Awb.uSpeed;
    return 0;
}
LX_S32 SetConvergeThd(AWB_HND h, LX_U8 in, LX_U8 out) {
    h->AwbParam.Awb.uConvInThd = in;
    h->AwbParam.Awb.uConvOutThd = out;
    return 0;
}
LX_S32 GetConvergeThd(AWB_HND h, LX_U8 *in, LX_U8 *out) {
    *in = h->AwbParam.Awb.uConvInThd;
    *out = h->AwbParam.Awb.uConvOutThd;
    return 0;
}
LX_S32 SetAwbAlgMode(AWB_HND h, AWB_ALG_MODE m) {
    if ((LX_U32)m > AWB_ALG_FOCUS) return -1;
    h->AwbParam.Awb.eAlgType = m;
    return 0;
}
LX_S32 GetAwbAlgMode(AWB_HND h, LX_U16 *m) {
    *m = (LX_U16)h->AwbParam.Awb.eAlgType;
    return 0;
}
LX_S32 SetAwbAdvMode(AWB_HND h, LX_U16 m) {
    if (m > AWB_ADV_ADVANCE) return -1;
    h->AwbParam.Awb.eAdvType = (AWB_ADV_MODE)m;
    return 0;
}
LX_S32 GetAwbAdvMode(AWB_HND h, LX_U16 *m) {
    *m = (LX_U16)h->AwbParam.Awb.eAdvType;
    return 0;
}
LX_S32 SetGainStrength(AWB_HND h, LX_U8 rg, LX_U8 bg) {
    h->AwbParam.Awb.uRGStrength = rg;
    h->AwbParam.Awb.uBGStrength = bg;
    return 0;
}
LX_S32 GetGainStrength(AWB_HND h, LX_U8 *rg, LX_U8 *bg) {
    *rg = h->AwbParam.Awb.uRGStrength;
    *bg = h->AwbParam.Awb.uBGStrength;
    return 0;
}
LX_S32 SetCtLimit(AWB_HND h, AWB_CTLIMIT l) {
    l.u2MaxRgain = (LX_U16)awb_clamp_u32(l.u2MaxRgain, AWB_GAIN_MIN_LIMIT, AWB_GAIN_MAX);
    l.u2MinRgain = (LX_U16)awb_clamp_u32(l.u2MinRgain, AWB_GAIN_MIN_LIMIT, AWB_GAIN_MAX);
    l.u2MaxBgain = (LX_U16)awb_clamp_u32(l.u2MaxBgain, AWB_GAIN_MIN_LIMIT, AWB_GAIN_MAX);
    l.u2MinBgain = (LX_U16)awb_clamp_u32(l.u2MinBgain, AWB_GAIN_MIN_LIMIT, AWB_GAIN_MAX);
    if (l.u2MinRgain > l.u2MaxRgain || l.u2MinBgain > l.u2MaxBgain) {
        CamOsPrintf("[%s] Set Ct Limit Error: MaxRG=%hu,MinRG=%hu,MaxBG=%hu,MinBG=%hu\n", "pAWB_SetCtLimit",
                    l.u2MaxRgain, l.u2MinRgain, l.u2MaxBgain, l.u2MinBgain);
        return -1;
    }
    h->AwbParam.Awb.stCTLimit = l;
    return 0;
}
LX_S32 GetCtLimit(AWB_HND h, AWB_CTLIMIT *l) {
    *l = h->AwbParam.Awb.stCTLimit;
    return 0;
}

// One LV column of a light-source x LV table, in or out.
LX_S32 lv_column(LX_U16 (*tbl)[AWB_LV_POINTS], LX_U16 lv, LX_U16 *w, bool set, const char *err, const char *fn) {
    if (!w || lv >= AWB_LV_POINTS) {
        if (err) CamOsPrintf(err, fn, lv, (unsigned)(uintptr_t)w);
        return -1;
    }
    for (int i = 0; i < AWB_CT_NUM; ++i) {
        if (set)
            tbl[i][lv] = w[i];
        else
            w[i] = tbl[i][lv];
    }
    return 0;
}
LX_S32 SetLvColorTempWeight(AWB_HND h, LX_U16 lv, const LX_U16 *w) {
    return lv_column(h->AwbParam.Awb.u2LvWeight, lv, (LX_U16 *)w, true,
                     "[%s] Set Light Weight Error: LV=%hu,WtAddr=0x%08x\n", "pAWB_SetLvColorTempWeight");
}
LX_S32 GetLvColorTempWeight(AWB_HND h, LX_U16 lv, LX_U16 *w) {
    return lv_column(h->AwbParam.Awb.u2LvWeight, lv, w, false, "[%s] Get Light Weight Error: LV=%hu,WtAddr=0x%08x\n",
                     "pAWB_GetLvColorTempWeight");
}
LX_S32 SetPreferRRatio(AWB_HND h, LX_U16 lv, const LX_U16 *w) {
    return lv_column(h->AwbParam.Awb.u2PreferRRatio, lv, (LX_U16 *)w, true,
                     "[%s] Set Prefer R Ratio Error: LV=%hu,WtAddr=0x%08x\n", "pAWB_SetPreferRRatio");
}
LX_S32 GetPreferRRatio(AWB_HND h, LX_U16 lv, LX_U16 *w) {
    return lv_column(h->AwbParam.Awb.u2PreferRRatio, lv, w, false,
                     "[%s] Get Prefer R Ratio Error: LV=%hu,WtAddr=0x%08x\n", "pAWB_GetPreferRRatio");
}
LX_S32 SetPreferBRatio(AWB_HND h, LX_U16 lv, const LX_U16 *w) {
    return lv_column(h->AwbParam.Awb.u2PreferBRatio, lv, (LX_U16 *)w, true, nullptr, nullptr);
}
LX_S32 GetPreferBRatio(AWB_HND h, LX_U16 lv, LX_U16 *w) {
    return lv_column(h->AwbParam.Awb.u2PreferBRatio, lv, w, false, nullptr, nullptr);
}
LX_S32 SetWpWeight(AWB_HND h, const LX_U16 *w) {
    if (!w) return -1;
    memcpy(h->AwbParam.Awb.u2WpWeight, w, sizeof h->AwbParam.Awb.u2WpWeight);
    return 0;
}
LX_S32 GetWpWeight(AWB_HND h, LX_U16 *w) {
    if (!w) return -1;
    memcpy(w, h->AwbParam.Awb.u2WpWeight, sizeof h->AwbParam.Awb.u2WpWeight);
    return 0;
}
LX_S32 SetWeightWin(AWB_HND h, const LX_U32 *w) {
    if (!w) return -1;
    memcpy(h->AwbParam.Awb.u4WeightWin, w, sizeof h->AwbParam.Awb.u4WeightWin);
    return 0;
}
LX_S32 GetWeightWin(AWB_HND h, LX_U32 *w) {
    if (!w) return -1;
    memcpy(w, h->AwbParam.Awb.u4WeightWin, sizeof h->AwbParam.Awb.u4WeightWin);
    return 0;
}
LX_S32 SetCTMwb(AWB_HND h, const CTMWB_PARAMS *p) {
    AWB_PARAMS &a = h->AwbParam.Awb;
    h->AwbParam.CtMwb.u4CT = p->u4CT;
    if (a.eApiState != AWB_API_STATE_PAUSE && a.eApiMode == AWB_API_MODE_CTMANUAL) a.eAwbState = AWB_SM_CTMANUAL;
    return 0;
}
LX_S32 GetCTMwb(AWB_HND h, CTMWB_PARAMS *p) {
    *p = h->AwbParam.CtMwb;
    return 0;
}
LX_S32 SetDayNightDetectionParam(AWB_HND h, const AWB_DAYNIGHT_DETECTION_PARAM *p) {
    h->sDNDetection.strParam = *p;
    if (h->sDNDetection.strParam.u4N2D_VsbLtScoreThd > 2000) h->sDNDetection.strParam.u4N2D_VsbLtScoreThd = 2000;
    return 0;
}
LX_S32 GetDayNightDetectionParam(AWB_HND h, AWB_DAYNIGHT_DETECTION_PARAM *p) {
    *p = h->sDNDetection.strParam;
    return 0;
}
LX_S32 SetStabilizer(AWB_HND h, const AWB_STABILIZER_PARAM *p) {
    h->sStabilizer.strParam = *p;
    return 0;
}
LX_S32 GetStabilizer(AWB_HND h, AWB_STABILIZER_PARAM *p) {
    *p = h->sStabilizer.strParam;
    return 0;
}

void fill_methods(AWB_HND h) {
    h->pAWB_SetApiState = SetApiState;
    h->pAWB_GetApiState = GetApiState;
    h->pAWB_SetApiMode = SetApiMode;
    h->pAWB_GetApiMode = GetApiMode;
    h->pAWB_SetMwbAttr = SetMwbAttr;
    h->pAWB_GetMwbAttr = GetMwbAttr;
    h->pAWB_SetConvergeSpeed = SetConvergeSpeed;
    h->pAWB_GetConvergeSpeed = GetConvergeSpeed;
    h->pAWB_SetConvergeThd = SetConvergeThd;
    h->pAWB_GetConvergeThd = GetConvergeThd;
    h->pAWB_SetAwbAlgMode = SetAwbAlgMode;
    h->pAWB_GetAwbAlgMode = GetAwbAlgMode;
    h->pAWB_SetAwbAdvMode = SetAwbAdvMode;
    h->pAWB_GetAwbAdvMode = GetAwbAdvMode;
    h->pAWB_SetGainStrength = SetGainStrength;
    h->pAWB_GetGainStrength = GetGainStrength;
    h->pAWB_SetCtLimit = SetCtLimit;
    h->pAWB_GetCtLimit = GetCtLimit;
    h->pAWB_SetLvColorTempWeight = SetLvColorTempWeight;
    h->pAWB_GetLvColorTempWeight = GetLvColorTempWeight;
    h->pAWB_SetPreferRRatio = SetPreferRRatio;
    h->pAWB_GetPreferRRatio = GetPreferRRatio;
    h->pAWB_SetPreferBRatio = SetPreferBRatio;
    h->pAWB_GetPreferBRatio = GetPreferBRatio;
    h->pAWB_SetWpWeight = SetWpWeight;
    h->pAWB_GetWpWeight = GetWpWeight;
    h->pAWB_SetWeightWin = SetWeightWin;
    h->pAWB_GetWeightWin = GetWeightWin;
    h->pAWB_SetUserExtraArea = pAWB_SetUserExtraArea;
    h->pAWB_GetUserExtraArea = pAWB_GetUserExtraArea;
    h->pAWB_SetCTMwb = SetCTMwb;
    h->pAWB_GetCTMwb = GetCTMwb;
    h->pAWB_SetDayNightDetectionParam = SetDayNightDetectionParam;
    h->pAWB_GetDayNightDetectionParam = GetDayNightDetectionParam;
    h->pAWB_SetGoldenLightArea = pAWB_SetGoldenLightArea;
    h->pAWB_GetGoldenLightArea = pAWB_GetGoldenLightArea;
    h->pAWB_GetCurLightArea = pAWB_GetCurLightArea;
    h->pAWB_SetStabilizer = SetStabilizer;
    h->pAWB_GetStabilizer = GetStabilizer;
    h->pAWB_ApplyUnitCalibration = pAWB_ApplyUnitCalibration;
    h->pAWB_GetCTStatistics = pAWB_GetCTStatistics;
    h->release = nullptr;
}

bool init_params(AWB_HND h, ISP_DBGBUF_HANDLE iq) {
    if (!read_iq(h, iq)) return false;
    AWB_ADJUSTABLE_SETTING &p = h->AwbParam;
    AWB_PARAMS &a = p.Awb;
    a.eAwbState = AWB_SM_CAL;
    a.eApiState = AWB_API_STATE_NORMAL;
    a.eApiMode = AWB_API_MODE_AUTO;
    a.eAlgType = AWB_ALG_NORMAL;
    a.eAdvType = AWB_ADV_DEFAULT;
    a.uRGStrength = a.uBGStrength = 128;
    a.stCTLimit = {AWB_GAIN_MAX, AWB_GAIN_MIN_LIMIT, AWB_GAIN_MAX, AWB_GAIN_MIN_LIMIT};
    for (LX_U16 &w : a.u2WpWeight) w = kAwbWpWeight;
    for (auto &row : a.u4WeightWin)
        for (LX_U32 &w : row) w = kAwbWeightWin;

    p.Mwb = {AWB_GAIN_UNIT, AWB_GAIN_UNIT, AWB_GAIN_UNIT, AWB_GAIN_UNIT};
    p.CtMwb.u4CT = 5000;
    p.Adv.bEnable = LX_FALSE;
    for (ADV_LT_UNIT &u : p.Adv.stUserArea) u = {AWB_GAIN_UNIT, AWB_GAIN_UNIT, 0, 1, LX_TRUE};
    for (AWB_LIGHT_AREA &u : p.stAwbLightUserArea) u = {1, 1, 1, 1, 1, 1, 1, 1};
    for (AWB_LIGHT_USER &u : p.stAwbLightUserParam) u = {LX_FALSE, LX_FALSE, 0};

    h->sCaliData.bEnable = LX_FALSE;
    h->sCaliData.u2CaliLightNum = 0;
    for (AWB_RBGAIN &g : h->sCaliData.sCaliGain) g = {AWB_GAIN_UNIT, AWB_GAIN_UNIT};
    pAWB_InitCaliParam(h, LX_FALSE);  // calibration off: the IQ areas stay in use
    pAWB_MultiLS_Defaults(h);

    h->sDNDetection.strParam = {LX_FALSE, -30000, 600};
    h->sDNDetection.strInfo = {LX_FALSE, 0};
    h->sStabilizer.strParam = {LX_FALSE, 64, 2, 150};
    h->sStabilizer.strInfo = {{AWB_GAIN_MAX, AWB_GAIN_MAX}, {0, 0}, 0};

    p.uDbgLevel = 0;
    p.uDoFastAWBThr = 1;
    h->bDoInitFrameCnt = LX_TRUE;
    p.u2SubSampleX = 2;
    p.u2SubSampleY = 1;
    h->u2ColorTemp = p.stAwbCtCurve[AWB_CT_5000K].u2ColorTemp;
    h->bForceUpdate = LX_TRUE;
    h->IsStable = 0;
    h->uGainStableCount = 0;
    h->u4LvValue = 100;
    pAWB_InitGain(h);
    return true;
}

// LV x10 with LV 50 at BV 0, from BV x16384, limited to 0..200.
LX_U32 lv_of_bv(LX_S32 nBV) {
    const LX_S64 t = 10 * (LX_S64)nBV;
    if (t >= 2465792) return 200;
    if (t < -843775) return 0;
    return (LX_U32)((t + 8192) / 16384 + 50);
}

void pAWB_SetBlockValidSize(AWB_HND h) {
    AWB_ADJUSTABLE_SETTING &p = h->AwbParam;
    const AwbInput_t &in = h->AwbInputParameter;
    if (h->u4LvValue > p.u2LowLuxThd) {
        p.u2StatisBlkValidX = in.tBlock.u2BlkVaild_x;
        p.u2StatisBlkValidY = in.tBlock.u2BlkVaild_y;
    } else {
        p.u2StatisBlkValidX = in.tBlock.u2BlkValidLowLux_x;
        p.u2StatisBlkValidY = in.tBlock.u2BlkValidLowLux_y;
    }
    AwbOutput_t *out = h->AwbOutputParameter;
    out->nSize = in.nSize;
    out->tCrop = in.tCrop;
    out->tBlock.u2BlkNum_x = in.tBlock.u2BlkNum_x;
    out->tBlock.u2BlkNum_y = in.tBlock.u2BlkNum_y;
    out->tBlock.u2BlkVaild_x = p.u2StatisBlkValidX;
    out->tBlock.u2BlkVaild_y = p.u2StatisBlkValidY;
    out->tBlock.u2BlkValidLowLux_x = in.tBlock.u2BlkValidLowLux_x;
    out->tBlock.u2BlkValidLowLux_y = in.tBlock.u2BlkValidLowLux_y;
    const LX_S32 y = in.CurYx10 > 1 ? in.CurYx10 : 1;
    out->tBlock.AccEnhanceRatio = (LX_U8)awb_clamp_u32((LX_U32)(300 / y), 1, 20);
}

void print_api(AWB_HND h) {
    const AWB_ADJUSTABLE_SETTING &p = h->AwbParam;
    const AWB_PARAMS &a = p.Awb;
    CamOsPrintf("[AWB_Manual]: u2Rgain=%hu,u2Grgain=%hu,u2Gbgain=%hu,u2Bgain=%hu\n", p.Mwb.u2Rgain, p.Mwb.u2Grgain,
                p.Mwb.u2Gbgain, p.Mwb.u2Bgain);
    CamOsPrintf("[AWB_Limit]: MaxRg=%hu,MinRg=%hu,MaxBg=%hu,MinBg=%hu\n", a.stCTLimit.u2MaxRgain, a.stCTLimit.u2MinRgain,
                a.stCTLimit.u2MaxBgain, a.stCTLimit.u2MinBgain);
    CamOsPrintf("[AWB_User]: CnvgInThd=%hu, CnvgOutThd=%hu, ALG=%d, UserEN=%d\n", (LX_U16)a.uConvInThd,
                (LX_U16)a.uConvOutThd, (int)a.eAlgType, (int)p.Adv.bEnable);
    for (unsigned u = 0; u < AWB_USER_AREA_NUM; ++u)
        CamOsPrintf("[AWB_Aera%u]: RG=%hu,BG=%hu,Size=%d,Exd=%d\n", u, p.Adv.stUserArea[u].u2WhiteRgain,
                    p.Adv.stUserArea[u].u2WhiteBgain, (int)p.Adv.stUserArea[u].uAreaSize,
                    (int)p.Adv.stUserArea[u].bExclude);
    CamOsPrintf("[AWB_LvWeight]:\n");
    for (int i = 0; i < AWB_CT_NUM; ++i) {
        for (int lv = 0; lv < AWB_LV_POINTS; ++lv) CamOsPrintf("%hu,", a.u2LvWeight[i][lv]);
        CamOsPrintf("\n");
    }
}

void print_frame(AWB_HND h) {
    const AWB_ADJUSTABLE_SETTING &p = h->AwbParam;
    if (p.uDbgLevel == AWB_DEBUG_ALGO) {
        const AWB_RBGAIN &t = h->sLightGain[AWB_GAIN_TARGET];
        CamOsPrintf("[AWB_%04u] ALG = %02d, CurrRg = %05hu, CurrBg = %05hu, ApplyRg = %05hu, ApplyBg = %05hu, "
                    "TRg = %05hu, TBg = %hu,05 1st = %02d, 2nd = %02d, 3rd = %02d, LV = %u, Stable = %01d, "
                    "CT = %05hu, WP = %02d,",
                    h->u4SyncFrameCnt, (int)p.Awb.eAlgType, (LX_U16)h->sCurGain.u4Rgain, (LX_U16)h->sCurGain.u4Bgain,
                    (LX_U16)h->sApplyGain.u4Rgain, (LX_U16)h->sApplyGain.u4Bgain, (LX_U16)t.u4Rgain,
                    (LX_U16)t.u4Bgain, (int)h->uLightFirst, (int)h->uLightSecond, (int)h->uLightThird, h->u4LvValue,
                    (int)h->IsStable, h->u2ColorTemp, (int)h->sMultiLS.uRefWPInd);
        for (int i = 0; i < AWB_CT_NUM; ++i) {
            const AWB_LIGHT_COUNT &c = h->sLightCount[i];
            CamOsPrintf("LT[%02d] : Counts / RegionCount / Weight = %05u / %05llu / %05llu,", i, c.u4Count,
                        (unsigned long long)c.u4RegionCount, (unsigned long long)c.u4Weight);
            CamOsPrintf("WpWt[%02d] : WpWeight / ChkWpWeight = %03d / %03u,", i, (int)p.Awb.u2WpWeight[i],
                        h->sMultiLS.u4ChkWpWeight[i]);
            CamOsPrintf("DynWt[%02d] : Current / Target = %03d / %03d,", i,
                        (int)h->sMultiLS.u2AwbDynamicCTWeight[0][i], (int)h->sMultiLS.u2AwbDynamicCTWeight[1][i]);
        }
        CamOsPrintf("EffectTotal : %05u, Speed : %03hu,", h->u4EffectTotalCount, (LX_U16)p.Awb.uSpeed);
        CamOsPrintf("Conv : %03hu, ConvOut : %03hu, \n", (LX_U16)p.Awb.uConvInThd, (LX_U16)p.Awb.uConvOutThd);
    } else if (p.uDbgLevel == AWB_DEBUG_LIGHTAREA) {
        const struct {
            const char *head, *fmt;
            const AWB_LIGHT_AREA *a;
        } sets[] = {
            {"====GOLEDN LIGHT AREA====\n", "Golden[%02d] : %03d, %03d, %03d, %03d\n", p.stAwbLightArea},
            {"====APPLY CALIDATA LIGHT AREA====\n", "Cali[%02d] : %03d, %03d, %03d, %03d\n", p.stAwbCaliLightArea},
            {"====CURRENT USE LIGHT AREA====\n", "Current[%02d] : %03d, %03d, %03d, %03d\n", h->pLightArea},
        };
        for (const auto &s : sets) {
            CamOsPrintf("%s", s.head);
            for (int i = 0; i < AWB_CT_NUM; ++i) {
                const AWB_LIGHT_AREA &a = s.a[i];
                CamOsPrintf(s.fmt, i, (int)a.P0_X, (int)a.P0_Y, (int)((LX_S64)a.P3_X - a.P0_X),
                            (int)((LX_S64)a.P0_Y - a.P1_Y));
            }
        }
    }
}

void pAWB_Process(AWB_HND h) {
    if (h->AwbParam.Awb.eAlgType == AWB_ALG_FOCUS) {
        pAWB_CheckRefWhitePoint(h);
        pAWB_MultiLS_Check(h);
    }
    pAWB_GetLightSource(h);
    pAWB_GetUserLight(h);
    pAWB_CalcGain(h);
    pAWB_GainStrength(h);
    pAWB_CheckGain(h);
    pAWB_ApplyGain(h);
    print_frame(h);
}

}  // namespace

void pAWB_BuildCtCurveGains(AWB_HND h, const AWB_LIGHT_AREA *areas) {
    // A mid-point sum below 4 gives a gain past 16 bits: the largest is kept.
    auto gain = [](LX_S64 sum) { return (LX_U16)(sum <= 0 ? 0 : std::min<LX_S64>(204800 / sum, 0xFFFF)); };
    for (int i = 0; i < AWB_CT_NUM; ++i) {
        h->AwbParam.stAwbCtCurve[i].u2Rgain = gain((LX_S64)areas[i].P0_X + areas[i].P3_X);
        h->AwbParam.stAwbCtCurve[i].u2Bgain = gain((LX_S64)areas[i].P0_Y + areas[i].P1_Y);
    }
}

extern "C" AwbHandle AwbInit(ISP_DBGBUF_HANDLE CfgHandle, AwbInput_t *pInput, AwbOutput_t *pOutput) {
    // Without IQ data there are no light areas to classify blocks with.
    if (!CfgHandle || !pOutput) return nullptr;
    auto *h = (AWB_HND)CamOsMemCalloc(1, sizeof(cam_awb_handle_t));
    if (!h) return nullptr;
    h->AwbOutputParameter = pOutput;
    if (pInput) h->AwbInputParameter = *pInput;
    h->isp_dbg_buf_handle = CfgHandle;
    if (pInput)
        h->sInitGain = {pInput->InitRgain, pInput->InitGgain, pInput->InitGgain, pInput->InitBgain};
    else
        h->sInitGain = {AWB_GAIN_UNIT, AWB_GAIN_UNIT, AWB_GAIN_UNIT, AWB_GAIN_UNIT};
    fill_methods(h);
    if (!init_params(h, CfgHandle)) {
        CamOsMemRelease(h);
        return nullptr;
    }
    // The IQ data is freed by the caller right after this call.
    h->isp_dbg_buf_handle = nullptr;
    return h;
}

extern "C" LX_S32 DoAwb(AwbHandle handle, AwbInput_t *input_param, AwbOutput_t *output_param) {
    if (!handle || !input_param || !output_param) return 0;
    auto *h = (AWB_HND)handle;
    h->AwbInputParameter = *input_param;
    h->AwbOutputParameter = output_param;
    const AWBDEBUG_t *dbg = input_param->tAWBDebug;
    h->AwbParam.uDbgLevel = dbg ? (LX_U8)dbg->AWB_DEBUG_LEVEL : 0;

    if (h->bDoInitFrameCnt) {
        h->u4InitFrameCnt = input_param->nFrameCount;
        h->bDoInitFrameCnt = LX_FALSE;
    }
    h->u4SyncFrameCnt = input_param->nFrameCount;
    h->u4LvValue = lv_of_bv(input_param->nBV);
    pAWB_SetBlockValidSize(h);

    AWB_PARAMS &a = h->AwbParam.Awb;
    switch (a.eAwbState) {
    case AWB_SM_CAL:
        if (dbg && dbg->AWB_DEBUG_AWB_ENABLE == 1 && input_param->pAwbStatis) {
            pAWB_GetStatisticsExt(h);
            pAWB_Process(h);
        }
        break;
    case AWB_SM_MANUAL:
        pAWB_ManualGain(h);
        a.eAwbState = AWB_SM_PAUSE;
        break;
    case AWB_SM_CTMANUAL:
        pAWB_CTManualGain(h);
        a.eAwbState = AWB_SM_PAUSE;
        break;
    case AWB_SM_RESUME:
        a.eAwbState = AWB_SM_CAL;
        break;
    default:
        break;
    }
    if (h->AwbParam.uDbgLevel == AWB_DEBUG_ALGO) print_api(h);
    return 0;
}

extern "C" LX_S32 AwbRelease(AwbHandle Handle) {
    if (Handle) CamOsMemRelease(Handle);
    return 0;
}
