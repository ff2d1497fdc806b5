// AWB refinements: the reference white point and the colour-correction
// matrix bent toward a corner matrix when a scene holds two light sources;
// the unit calibration that moves the golden light areas onto this module.
#include <stdint.h>
#include <string.h>

#include "awb_handle.h"
#include "cam_os_wrapper.h"

namespace {

const LX_U16 kCcmForLow[9] = {512, 384, 128, 0, 1024, 0, 52, 102, 870};
const LX_U16 kCcmForHigh[9] = {870, 102, 52, 0, 1024, 0, 128, 384, 512};
const LX_U16 kCcmIdentity[9] = {1024, 0, 0, 0, 1024, 0, 0, 0, 1024};
constexpr LX_U8 kHighPreNone = AWB_CT_HIGHPRE_NUM;
// Matrix elements above 4096 stand for value - 8192 (13-bit two's complement).
constexpr LX_S32 kCcmNegBase = 8192;

LX_S32 ccm_decode(LX_U32 v) { return v > 4096 ? (LX_S32)v - kCcmNegBase : (LX_S32)v; }
LX_U32 ccm_encode(LX_S64 v) { return (LX_U32)(v < 0 ? v + kCcmNegBase : v); }

LX_U32 _InterpXBase(LX_U32 Xin, LX_U32 XinL, LX_U32 XinR, LX_S32 YinL, LX_S32 YinR, LX_U32 Base, LX_U32 BaseHalf) {
    const LX_U32 q = XinR > XinL ? Base * (Xin - XinL) / (XinR - XinL) : 0;
    const LX_S64 v = ((LX_S64)(YinR - YinL) * q + (LX_S64)Base * YinL + BaseHalf) / (LX_S64)Base;
    return ccm_encode(v);
}

LX_U32 count_at(const AWB_LIGHT_COUNT *c, LX_S32 k) {
    return k >= 0 && k < AWB_CT_HIGHPRE_NUM ? c[k].u4Count : 0;  // neighbours beyond the ends read 0
}

void pAWB_MultiLS_CountSmooth(AWB_HND h, LX_U32 *S) {
    const LX_S32 first = 2 * h->AwbParam.u2LightStart, last = 2 * h->AwbParam.u2LightEnd;
    const AWB_LIGHT_COUNT *c = h->sLightCountHighPre;
    for (LX_S32 k = first; k <= last && k < AWB_CT_HIGHPRE_NUM; ++k) {
        LX_U64 v;
        if (k == first)
            v = ((LX_U64)count_at(c, k + 1) + 9ull * count_at(c, k)) * 2 / 20;
        else if (k == last)
            v = (9ull * count_at(c, k) + count_at(c, k - 1)) * 2 / 20;
        else
            v = ((LX_U64)count_at(c, k - 1) + 18ull * count_at(c, k) + count_at(c, k + 1)) / 20;
        S[k] = awb_sat_u32(v);
    }
}

void pAWB_MultiLS_PeakCheck(AWB_HND h, const LX_U32 *S, LX_U8 *PeakCount, LX_U8 *PeakFirstInd, LX_U8 *PeakSecondInd,
                            LX_U16 *PeakFirstCount, LX_U16 *PeakSecondCount) {
    const LX_S32 first = 2 * h->AwbParam.u2LightStart, last = 2 * h->AwbParam.u2LightEnd;
    auto at = [&](LX_S32 k) { return k >= 0 && k < AWB_CT_HIGHPRE_NUM ? S[k] : 0u; };
    LX_U8 peaks[AWB_CT_HIGHPRE_NUM];
    LX_U8 n = 0;
    for (LX_S32 k = first; k <= last && k < AWB_CT_HIGHPRE_NUM; ++k) {
        if (S[k] < h->AwbParam.u2CountThd) continue;
        const bool peak = k == first  ? S[k] >= at(k + 1)
                          : k == last ? S[k] >= at(k - 1)
                                      : S[k] >= at(k - 1) && S[k] >= at(k + 1);
        if (peak) peaks[n++] = (LX_U8)k;
    }
    *PeakCount = n;
    AWB_MULTI_LS_INFO &info = h->sMultiLS.sInfo;
    if (n < 2) {
        info.bMultiLSDetected = LX_FALSE;
        info.uFisrtLSInd = *PeakFirstInd;
        info.uSecondLSInd = *PeakSecondInd;
        return;
    }
    LX_U32 c1 = 0, c2 = 0;
    LX_U8 i1 = kHighPreNone, i2 = kHighPreNone;
    for (LX_U8 j = 0; j < n; ++j)
        if (S[peaks[j]] > c1) {
            c1 = S[peaks[j]];
            i1 = peaks[j];
        }
    for (LX_U8 j = 0; j < n; ++j)
        if (peaks[j] != i1 && S[peaks[j]] > c2) {
            c2 = S[peaks[j]];
            i2 = peaks[j];
        }
    *PeakFirstInd = i1;
    *PeakSecondInd = i2;
    *PeakFirstCount = awb_sat_u16(c1);
    *PeakSecondCount = awb_sat_u16(c2);
    info.uFisrtLSInd = i1;
    info.uSecondLSInd = i2;
}

LX_S32 abs32(LX_S32 v) { return v < 0 ? -v : v; }

// Percent of the way toward a corner matrix, limited to what an 8-bit ratio
// can carry; 0 over a zero span (one light source, or a flat curve).
LX_S8 ratio_of(LX_S32 sign, LX_S32 diff, LX_S32 span, LX_U8 strength) {
    if (span == 0) return 0;
    LX_S32 v = sign * abs32(diff) / span;
    v = v * strength / 100;
    return (LX_S8)(v > 100 ? 100 : v < -100 ? -100 : v);
}

void pAWB_MultiLS_TargetRatioCalc(AWB_HND h, LX_U8 F, LX_U8 S, LX_U16 cF, LX_U16 cS) {
    AWB_MULTI_LS &ls = h->sMultiLS;
    AWB_MULTI_LS_INFO &info = ls.sInfo;
    const AWB_CT_CURVE *curve = h->AwbParam.stAwbCtCurve;
    const LX_U16 start = h->AwbParam.u2LightStart, end = h->AwbParam.u2LightEnd;
    info.Rratio_Target = info.Bratio_Target = 0;
    if (cS == 0 || cF / cS > ls.sParam.uSensitive || F >= AWB_CT_HIGHPRE_NUM || S >= AWB_CT_HIGHPRE_NUM) {
        info.bMultiLSDetected = LX_FALSE;
        return;
    }
    info.bMultiLSDetected = LX_TRUE;
    const LX_S32 spanR = abs32((LX_S32)curve[start].u2Rgain - curve[end].u2Rgain);
    const LX_S32 spanB = abs32((LX_S32)curve[start].u2Bgain - curve[end].u2Bgain);
    const LX_S32 r2 = 2 * ls.uRefWPInd;
    const LX_S8 dF = (LX_S8)(r2 - F), dS = (LX_S8)(r2 - S);
    LX_S32 sign, from, to;
    if ((dF > 0 && dS > 0) || (dF < 0 && dS < 0)) {
        sign = dF > 0 ? 100 : -100;
        from = F / 2;
        to = S / 2;
    } else {
        if (abs32(dF) == abs32(dS) || F == S) return;
        const LX_U8 P = abs32(dF) > abs32(dS) ? F : S, other = P == F ? S : F;
        sign = P < other ? 100 : -100;
        from = ls.uRefWPInd;
        to = P / 2;
    }
    info.Rratio_Target =
        ratio_of(sign, (LX_S32)curve[from].u2Rgain - curve[to].u2Rgain, spanR, ls.sParam.uCaliStrength);
    info.Bratio_Target =
        ratio_of(sign, (LX_S32)curve[from].u2Bgain - curve[to].u2Bgain, spanB, ls.sParam.uCaliStrength);
}

LX_S8 step_toward(LX_S8 cur, LX_S8 tgt) {
    const LX_S32 d = tgt - cur;
    if (d >= -2 && d <= 2) return tgt;
    return (LX_S8)(cur + (d > 0 ? 3 : -3));
}

void pAWB_MultiLS_RatioSlowChange(AWB_HND h) {
    AWB_MULTI_LS_INFO &i = h->sMultiLS.sInfo;
    i.Rratio_Previous = i.Rratio_Current;
    i.Bratio_Previous = i.Bratio_Current;
    i.Rratio_Current = step_toward(i.Rratio_Current, i.Rratio_Target);
    i.Bratio_Current = step_toward(i.Bratio_Current, i.Bratio_Target);
}

void ccm_row(AWB_HND h, int row, LX_S8 ratio) {
    const AWB_MULTI_LS_PARAM &p = h->sMultiLS.sParam;
    AwbOutput_t *out = h->AwbOutputParameter;
    const LX_U32 k = (LX_U32)abs32(ratio);
    const LX_U8 show = h->AwbParam.uDbgLevel == AWB_DEBUG_MultiLS;
    for (int j = 3 * row; j < 3 * row + 3; ++j) {
        LX_U32 v = kCcmIdentity[j];
        if (ratio > 0) v = pAWB_Ccm_Inter(show, 1, k, 0, 100, kCcmIdentity[j], p.u2CcmForHigh[j]);
        if (ratio < 0) v = pAWB_Ccm_Inter(show, 1, k, 0, 100, kCcmIdentity[j], p.u2CcmForLow[j]);
        out->nMultiLS_CaliCCM[j] = (LX_U16)v;
    }
    out->nMultiLS_CaliCCMUpdate = LX_TRUE;
}

void pAWB_MultiLS_CaliCcmCalc(AWB_HND h) {
    AWB_MULTI_LS_INFO &i = h->sMultiLS.sInfo;
    AwbOutput_t *out = h->AwbOutputParameter;
    out->nMultiLS_CaliCCMUpdate = LX_FALSE;
    if (i.Rratio_Current != i.Rratio_Previous || i.bApiCcmUpdate) ccm_row(h, 0, i.Rratio_Current);
    if (i.Bratio_Current != i.Bratio_Previous || i.bApiCcmUpdate) ccm_row(h, 2, i.Bratio_Current);
    i.bApiCcmUpdate = LX_FALSE;
}

// Saturates to 32 bits; the caller refuses what lies outside the plane.
LX_S32 pAWB_GetAreaOffset(AWB_HND, LX_S32 PArea, LX_S32 PDefault, LX_S32 PCali, LX_S32 Ratio) {
    const LX_S64 v = PCali + ((LX_S64)Ratio * ((LX_S64)PArea - PDefault)) / 100;
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : (LX_S32)v;
}

LX_S32 pAWB_CaliLightArea(AWB_HND h, AWB_LIGHT_AREA *area, LX_S32 DefaultRG_H, LX_S32 DefaultBG_H, LX_S32 CaliRG_H,
                          LX_S32 CaliBG_H, LX_S32 X_Ratio, LX_S32 Y_Ratio) {
    LX_S32 *c = &area->P0_X;
    for (int k = 0; k < 8; ++k)
        if (c[k] < 2) return 0;  // areas not in use are left where they are
    LX_S32 moved[8];
    for (int k = 0; k < 8; ++k) {
        moved[k] = k % 2 == 0 ? pAWB_GetAreaOffset(h, c[k], DefaultRG_H, CaliRG_H, X_Ratio)
                              : pAWB_GetAreaOffset(h, c[k], DefaultBG_H, CaliBG_H, Y_Ratio);
        // Below 2 the area would vanish; beyond 16 bits it leaves the plane the
        // areas are set and read in.
        if (moved[k] < 2 || moved[k] > 0xFFFF) return -1;
    }
    memcpy(c, moved, sizeof moved);
    return 0;
}

}  // namespace

void pAWB_MultiLS_Defaults(AWB_HND h) {
    AWB_MULTI_LS &ls = h->sMultiLS;
    ls.sParam.bEnable = LX_FALSE;
    ls.sParam.uSensitive = 5;
    ls.sParam.uCaliStrength = 100;
    memcpy(ls.sParam.u2CcmForLow, kCcmForLow, sizeof kCcmForLow);
    memcpy(ls.sParam.u2CcmForHigh, kCcmForHigh, sizeof kCcmForHigh);
    ls.sInfo = {LX_FALSE, LX_FALSE, kHighPreNone, kHighPreNone, 0, 0, 0, 0, 0, 0};
    memcpy(ls.u2AwbDynamicCTWeight, AwbDynamicCTWeight, sizeof ls.u2AwbDynamicCTWeight);
    memset(ls.u4ChkWpWeight, 0, sizeof ls.u4ChkWpWeight);
    ls.uRefWPStableCount = 0;
    if (h->AwbOutputParameter) {
        memcpy(h->AwbOutputParameter->nMultiLS_CaliCCM, kCcmIdentity, sizeof kCcmIdentity);
        h->AwbOutputParameter->nMultiLS_CaliCCMUpdate = LX_FALSE;
    }
}

LX_U32 pAWB_Ccm_Inter(LX_U8 showMSG, LX_U8 doInter, LX_U32 xin, LX_U32 xinL, LX_U32 xinR, LX_U32 yinL, LX_U32 yinR) {
    LX_U32 out = yinR;
    if (doInter && yinR != yinL && xin <= 100)
        out = _InterpXBase(xin, xinL, xinR, ccm_decode(yinL), ccm_decode(yinR), 1024, 512);
    if (showMSG) CamOsPrintf("[pAWB_Ccm_Inter] x=%u, %u -> %u: %u\n", xin, yinL, yinR, out);
    return out;
}

LX_CAM_BOOL pAWB_CheckRefWhitePoint(AWB_HND h) {
    const AWB_ADJUSTABLE_SETTING &p = h->AwbParam;
    AWB_MULTI_LS &ls = h->sMultiLS;
    if (p.u2LightEnd < p.u2LightStart) return LX_TRUE;
    int best = -1;
    for (LX_U32 i = p.u2LightStart; i <= p.u2LightEnd && i < AWB_CT_NUM; ++i) {
        if (h->sLightCount[i].u4Count >= p.u2CountThd) {
            ls.u4ChkWpWeight[i] = awb_sat_u32((LX_U64)h->sLightCount[i].u4Count * p.Awb.u2WpWeight[i]);
            if (best < 0 || ls.u4ChkWpWeight[i] > ls.u4ChkWpWeight[best]) best = (int)i;
        } else {
            ls.u4ChkWpWeight[i] = 0;
        }
    }
    const int ref = ls.uRefWPInd;
    if (best < 0 || best == ref) return LX_TRUE;
    const LX_U64 thd = best > 2 && (best == ref + 1 || best == ref - 1) ? 100 : 800;
    if (100ull * ls.u4ChkWpWeight[best] / ((LX_U64)ls.u4ChkWpWeight[ref] + 1) <= thd) return LX_TRUE;
    if (++ls.uRefWPStableCount < 11) return LX_TRUE;
    ls.uRefWPInd = (LX_U8)best;
    for (int i = 0; i < AWB_CT_NUM; ++i) {
        const int d = i > best ? i - best : best - i;
        LX_U16 w = 10;
        if (i >= p.u2LightStart && i <= p.u2LightEnd) w = d == 0 ? 200 : d == 1 ? 100 : d == 2 ? 20 : 10;
        ls.u2AwbDynamicCTWeight[1][i] = w;
    }
    ls.uRefWPStableCount = 0;
    return LX_TRUE;
}

LX_CAM_BOOL pAWB_MultiLS_Check(AWB_HND h) {
    AWB_MULTI_LS &ls = h->sMultiLS;
    LX_U8 count = 0, i1 = kHighPreNone, i2 = kHighPreNone;
    LX_U16 c1 = 0, c2 = 0;
    LX_U32 smooth[AWB_CT_HIGHPRE_NUM] = {};
    if (ls.sParam.bEnable == LX_TRUE) {
        pAWB_MultiLS_CountSmooth(h, smooth);
        pAWB_MultiLS_PeakCheck(h, smooth, &count, &i1, &i2, &c1, &c2);
        if (count > 1) pAWB_MultiLS_TargetRatioCalc(h, i1, i2, c1, c2);
    }
    if (ls.sParam.bEnable != LX_TRUE || count <= 1) ls.sInfo.Rratio_Target = ls.sInfo.Bratio_Target = 0;
    pAWB_MultiLS_RatioSlowChange(h);
    pAWB_MultiLS_CaliCcmCalc(h);
    if (h->AwbParam.uDbgLevel == AWB_DEBUG_MultiLS) {
        CamOsPrintf("====[AWB_%04d][%s](S)====\n", (int)h->u4SyncFrameCnt, "pAWB_MultiLS_Check");
        CamOsPrintf("WPInd = %d\n", 2 * ls.uRefWPInd);
        CamOsPrintf("(PeakFirstInd, PeakFirstCount) = (%d, %d)\n", i1, c1);
        CamOsPrintf("(PeakSecondInd, PeakSecondCount) = (%d, %d)\n", i2, c2);
        CamOsPrintf("(TarRratio, TarBratio) = (%d, %d)\n", ls.sInfo.Rratio_Target, ls.sInfo.Bratio_Target);
        CamOsPrintf("(CurRratio, CurBratio) = (%d, %d)\n", ls.sInfo.Rratio_Current, ls.sInfo.Bratio_Current);
        CamOsPrintf("====[AWB_%04d][%s](E)====\n", (int)h->u4SyncFrameCnt, "pAWB_MultiLS_Check");
    }
    return LX_FALSE;
}

// ---- unit calibration ------------------------------------------------------

LX_S32 pAWB_VerifyUnitCalibration(AWB_HND, const AWB_UNIT_CALIB_ATTR_S *a) {
    const AWB_UNIT_CALIB_GAIN_S &g = a->sGolden, &m = a->sModule;
    // A zero gain has no white point.
    if (!g.u2HighRg || !g.u2HighBg || !m.u2HighRg || !m.u2HighBg) return -1;
    if (a->u4CaliNum == 2) {
        if (!g.u2LowRg || !g.u2LowBg || !m.u2LowRg || !m.u2LowBg) return -1;
        if (g.u2HighRg < g.u2LowRg || g.u2HighBg > g.u2LowBg || m.u2HighRg < m.u2LowRg || m.u2HighBg > m.u2LowBg)
            return -1;
    }
    return 0;
}

LX_S32 pAWB_InitCaliParam(AWB_HND h, LX_CAM_BOOL) {
    AWB_ADJUSTABLE_SETTING &p = h->AwbParam;
    const AWB_CALIDATA &cd = h->sCaliData;
    if (!cd.bEnable || (cd.u2CaliLightNum != 1 && cd.u2CaliLightNum != 2)) {
        memcpy(p.stAwbCaliLightArea, p.stAwbLightArea, sizeof p.stAwbCaliLightArea);
        return -1;
    }
    const AWB_RBGAIN *g = cd.sCaliGain;
    const LX_S32 caliXH = 102400 / g[AWB_CALI_CT_H].u4Rgain, caliYH = 102400 / g[AWB_CALI_CT_H].u4Bgain;
    const LX_S32 defXH = 102400 / g[AWB_CALI_DEFAULT_H].u4Rgain, defYH = 102400 / g[AWB_CALI_DEFAULT_H].u4Bgain;
    LX_S32 xr = 100, yr = 100;
    if (cd.u2CaliLightNum == 2) {
        const LX_S32 defXL = 102400 / g[AWB_CALI_DEFAULT_L].u4Rgain, defYL = 102400 / g[AWB_CALI_DEFAULT_L].u4Bgain;
        const LX_S32 caliXL = 102400 / g[AWB_CALI_CT_L].u4Rgain, caliYL = 102400 / g[AWB_CALI_CT_L].u4Bgain;
        if (defXL != defXH && defYL != defYH) {
            xr = 100 * (caliXL - caliXH) / (defXL - defXH);
            yr = 100 * (caliYH - caliYL) / (defYH - defYL);
        }
    }
    AWB_LIGHT_AREA moved[AWB_CT_NUM];
    memcpy(moved, p.stAwbLightArea, sizeof moved);
    for (AWB_LIGHT_AREA &a : moved)
        if (pAWB_CaliLightArea(h, &a, defXH, defYH, caliXH, caliYH, xr, yr) != 0) return -1;
    memcpy(p.stAwbCaliLightArea, moved, sizeof moved);
    pAWB_BuildCtCurveGains(h, p.stAwbCaliLightArea);
    h->pLightArea = p.stAwbCaliLightArea;
    pAWB_UpdateLightAeraHighPrecision(h);
    return 0;
}

// All or nothing: refused or unusable data leave the calibration, the areas
// and the curve as they were.
LX_S32 pAWB_ApplyUnitCalibration(AWB_HND h, AWB_UNIT_CALIB_ATTR_S *a) {
    LX_S32 ret = pAWB_VerifyUnitCalibration(h, a);
    if (ret == 0) {
        const AWB_CALIDATA saved = h->sCaliData;
        AWB_LIGHT_AREA saved_areas[AWB_CT_NUM];
        memcpy(saved_areas, h->AwbParam.stAwbCaliLightArea, sizeof saved_areas);
        AWB_CALIDATA &cd = h->sCaliData;
        cd.bEnable = LX_TRUE;
        cd.sCaliGain[AWB_CALI_DEFAULT_H] = {a->sGolden.u2HighRg, a->sGolden.u2HighBg};
        cd.sCaliGain[AWB_CALI_CT_H] = {a->sModule.u2HighRg, a->sModule.u2HighBg};
        if (a->u4CaliNum == 2) {
            cd.sCaliGain[AWB_CALI_DEFAULT_L] = {a->sGolden.u2LowRg, a->sGolden.u2LowBg};
            cd.sCaliGain[AWB_CALI_CT_L] = {a->sModule.u2LowRg, a->sModule.u2LowBg};
        } else {
            cd.sCaliGain[AWB_CALI_DEFAULT_L] = cd.sCaliGain[AWB_CALI_CT_L] = {AWB_GAIN_UNIT, AWB_GAIN_UNIT};
        }
        cd.u2CaliLightNum = (LX_U16)(a->u4CaliNum > 0xFFFF ? 0xFFFF : a->u4CaliNum);
        ret = pAWB_InitCaliParam(h, LX_FALSE);
        if (ret != 0) {
            h->sCaliData = saved;
            memcpy(h->AwbParam.stAwbCaliLightArea, saved_areas, sizeof saved_areas);
        }
    }
    if (ret != 0)
        CamOsPrintf("[%s] - Error : %hu,%hu,%hu,%hu,%hu,%hu,%hu,%hu,%hu\n", "pAWB_ApplyUnitCalibration",
                    (LX_U16)a->u4CaliNum, a->sGolden.u2HighRg, a->sGolden.u2HighBg, a->sGolden.u2LowRg,
                    a->sGolden.u2LowBg, a->sModule.u2HighRg, a->sModule.u2HighBg, a->sModule.u2LowRg,
                    a->sModule.u2LowBg);
    return ret;
}
