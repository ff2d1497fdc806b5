// The scene target: the luminance the exposure is to reach this frame. The
// default target comes off the target curve at the scene's BV; the
// strategies move it to keep highlights down (bright tone), lift shadows
// (dark tone), balance both (tone balance) or follow the histogram's
// brightest and darkest parts (the extended strategy, which also drives the
// gamma blend ratio). Also the setters and getters of the target curve, the
// strategies and EV compensation.
//
// Targets and luminance x10; shares in tenths of a percent; weights,
// strengths and sensitivities x1024; BV x16384. Products are formed in 64
// bits.
#include <string.h>

#include "ae_handle.h"
#include "cam_os_wrapper.h"

namespace {

constexpr unsigned kDbgScene = 2;     // scene target of a frame
constexpr unsigned kDbgSetting = 5;   // setters and getters
constexpr unsigned kDbgStrategyEx = 11;

constexpr LX_S64 kMaxTarget = 2550;
constexpr LX_S64 kMinTarget = 10;
constexpr LX_U32 kHistPixels = 33909;  // pixels of a statistics histogram
constexpr LX_U32 kNeutralRatio = 512;


LX_U32 curYOf(const cam_ae_handle_t *h) { return h->u4CurYx10[0][h->uCurYSyncIdx < 3 ? h->uCurYSyncIdx : 0]; }

LX_S64 maxS(LX_S64 a, LX_S64 b) { return a > b ? a : b; }
LX_S64 minS(LX_S64 a, LX_S64 b) { return a < b ? a : b; }
LX_U32 toU32(LX_S64 v) { return v < 0 ? 0u : v > 0xFFFFFFFFll ? 0xFFFFFFFFu : (LX_U32)v; }

int pointsOf(const INTP_LUT &l) {
    return l.u2NumOfPoints > INTP_LUT_MAX_POINTS ? INTP_LUT_MAX_POINTS : l.u2NumOfPoints;
}

// A copy of a curve with every Y pulled toward y2 by amount (x1024).
INTP_LUT pulled(INTP_LUT l, LX_S32 y2, LX_U32 amount) {
    const LX_S32 a = amount > 0x7FFFFFFFu ? 0x7FFFFFFF : (LX_S32)amount;
    for (int i = 0; i < pointsOf(l); ++i) l.i4Y[i] = Interp(0, 1024, l.i4Y[i], y2, a);
    return l;
}

LX_S32 pull(LX_S32 y1, LX_S32 y2, LX_U32 amount) {
    return Interp(0, 1024, y1, y2, amount > 0x7FFFFFFFu ? 0x7FFFFFFF : (LX_S32)amount);
}

// (a*(1024 - w) + 512 + w*b) >> 10, a weight beyond 1024 taken as 1024.
LX_S64 mix(LX_S64 a, LX_S64 b, LX_U32 w) {
    const LX_S64 wt = w > 1024 ? 1024 : w;
    return (a * (1024 - wt) + 512 + wt * b) >> 10;
}

// (num + den/2) / den with den at least 1.
LX_S64 ratioRound(LX_S64 num, LX_S64 den) {
    if (den < 1) den = 1;
    return (num + den / 2) / den;
}

// Into [lo, hi]; when the two cross, hi wins.
LX_S64 clampTarget(LX_S64 v, LX_S64 lo, LX_S64 hi) { return minS(maxS(v, lo), hi); }

// One percentage query of the frame's luminance histogram, through the
// handle's query record; the record's mean x10 is the result.
LX_U32 histY(cam_ae_handle_t *h, AE_HIST_OP op, AE_TONE start, LX_CAM_BOOL skip, LX_U32 pcent, LX_U32 skipPcent) {
    AE_HIST_SPEC &q = h->strHistSpec;
    q.u4TotalPixelCnt = h->strAEStat.u4HistTotalPixel[1];
    q.pHist = h->strAEStat.u2Hist[1];
    q.u4OutputBins = 256;
    q.u4InputBins = AE_HIST_BINS;
    q.eHistOp = op;
    q.eStartPoint = start;
    q.bSkip = skip;
    q.u4TotalPcentx10 = pcent;
    q.u4SkipPcentx10 = skipPcent;
    h->pAE_CalHistogram(h, &q);
    return q.u4AvgYx10;
}

LX_U32 histY(cam_ae_handle_t *h, const AE_HIST_METERING &m, LX_U32 pcent) {
    return histY(h, m.eHistOp, m.eStartPoint, m.bSkip, pcent, m.u4SkipPcentx10);
}

const char *modeName(AE_EXP_MODE m) {
    static const char *const names[] = {"AUTO", "AV", "SV", "TV", "MANUAL"};
    return (LX_U32)m < 5 ? names[m] : "";
}

const char *strategyName(AE_STRATEGY s) {
    static const char *const names[] = {"BRIGHTTONE", "DARKTONE", "AUTO"};
    return (LX_U32)s < 3 ? names[s] : "";
}

void banner(char which) {
    CamOsPrintf("================%c=================================================================================\n",
                which);
}

// The bounds of a strategy at BV, written to the handle's limits.
void strategyLimits(cam_ae_handle_t *h, LX_S64 t, LX_S64 *lo, LX_S64 *hi) {
    const LX_S64 up = Interp_LUT(h->strStrategyParam.strUpperBound, h->i4CurBV);
    const LX_S64 down = Interp_LUT(h->strStrategyParam.strLowerBound, h->i4CurBV);
    *hi = minS(t + up, kMaxTarget);
    *lo = maxS(t - down, kMinTarget);
    h->u4UpperTargetx10 = toU32(*hi);
    h->u4LowerTargetx10 = toU32(*lo);
}

LX_U16 maxOf(const LX_U32 *v, LX_U16 n) {
    LX_U32 m = 0;
    for (LX_U16 i = 0; i < n; ++i) m = v[i] > m ? v[i] : m;
    return m > 0xFFFF ? (LX_U16)0xFFFF : (LX_U16)m;
}

// One side (bright or dark) of the extended strategy: in the control form a
// node count, the nodes' BVs and four columns of values; in the handle four
// curves over the same nodes.
struct NodeSide {
    LX_U16 *num;
    LX_S32 *bv;
    LX_U32 *col[4];
};
using CurveSide = INTP_LUT *[4];

void toCurves(const NodeSide &n, const CurveSide &c) {
    for (int k = 0; k < 4; ++k) {
        c[k]->u2NumOfPoints = *n.num;
        for (int i = 0; i < INTP_LUT_MAX_POINTS; ++i) {
            c[k]->i4X[i] = n.bv[i];
            c[k]->i4Y[i] = (LX_S32)n.col[k][i];
        }
    }
}

void toNodes(const CurveSide &c, const NodeSide &n) {
    *n.num = c[0]->u2NumOfPoints;
    memcpy(n.bv, c[0]->i4X, sizeof(c[0]->i4X));
    for (int k = 0; k < 4; ++k)
        for (int i = 0; i < INTP_LUT_MAX_POINTS; ++i) n.col[k][i] = (LX_U32)c[k]->i4Y[i];
}

NodeSide brightNodes(AE_STRATEGYEX_MI_PARAM &m) {
    return {&m.u2BT_NodeNum, m.u4BT_NodeBV, {m.u4BT_ThdY, m.u4BT_Percentx10, m.u4BT_TargetYx10, m.u4BT_MaxOffsetDown}};
}

NodeSide darkNodes(AE_STRATEGYEX_MI_PARAM &m) {
    return {&m.u2DT_NodeNum, m.u4DT_NodeBV, {m.u4DT_ThdY, m.u4DT_Percentx10, m.u4DT_TargetYx10, m.u4DT_MaxOffsetUp}};
}

bool badCount(const char *fn, LX_U32 n, LX_U32 lo) {
    if (n >= lo && n <= INTP_LUT_MAX_POINTS) return false;
    CamOsPrintf("[%s] %u points, a curve has %u..%d\n", fn, (unsigned)n, (unsigned)lo, INTP_LUT_MAX_POINTS);
    return true;
}

}  // namespace

// ---- scene target -------------------------------------------------------------

LX_U32 pAE_GetSceneTarget(cam_ae_handle_t *h) {
    const bool trace = frameDbg(h, kDbgScene);
    const LX_U32 t = h->u4Targetx10;
    if (trace) {
        banner('s');
        CamOsPrintf("[%24s] AEMode:%6s, Scene:%d, Stgy:%10s, AvgYx10/CurYx10/SceneTargetx10/Lnty, %u/%u/%u/%u\n",
                    __func__, modeName(h->eExpMode), (int)h->eScene, strategyName(h->strStrategyParam.eStrategy),
                    (unsigned)h->u4AvgYx10[0], (unsigned)curYOf(h), (unsigned)h->u4SceneTargetx10,
                    (unsigned)h->u4LinearityDeltaEV);
    }
    h->pAE_GetSceneDynamicRange(h);
    LX_U32 out = t;
    if (h->strStrategyParam.eStrategy != AE_STGY_AUTO) {
        out = h->pAE_GetStrategyBTDT(h);
    } else if (h->strToneBalance.bEnable == LX_TRUE) {
        h->pAE_GetToneBalanceTarget(h);
        out = h->strToneBalance.u4StsFinalTarget;
    }
    if (trace) {
        CamOsPrintf("[%24s] --e-- %u\n\n", __func__, (unsigned)out);
        banner('e');
    }
    return out;
}

LX_S32 pAE_GetSceneDynamicRange(cam_ae_handle_t *h) {
    AE_SCENE_DR &dr = h->strSceneDR;
    const LX_S32 bv = h->i4CurBV;

    dr.u4StsBrightPcent = (LX_U32)Interp_LUT(dr.strBrightPcentByLUT, bv);
    dr.u4StsBTYx10 = histY(h, AE_HIST_OP_ACC_PCENT, AE_TONE_BRIGHT, LX_FALSE, dr.u4StsBrightPcent, 0);
    dr.u4StsBTBlockYx10 = h->pAE_CalSortYByPcent(h, 0, LX_TRUE, dr.u4StsBrightPcent);
    const LX_S64 brightY = mix(dr.u4StsBTYx10, dr.u4StsBTBlockYx10, dr.u4BTSortBlockYWeighting);

    dr.u4StsDarkPcent = (LX_U32)Interp_LUT(dr.strDarkPcentByLUT, bv);
    dr.u4StsDTYx10 = histY(h, AE_HIST_OP_ACC_PCENT, AE_TONE_DARK, LX_FALSE, dr.u4StsDarkPcent, 0);
    dr.u4StsDTBlockYx10 = h->pAE_CalSortYByPcent(h, 0, LX_FALSE, dr.u4StsDarkPcent);
    const LX_U32 wd = dr.u4DTSortBlockYWeighting > 1024 ? 1024 : dr.u4DTSortBlockYWeighting;
    const LX_S64 d = (LX_S64)dr.u4StsDTYx10 * (1024 - wd) + 512 + (LX_S64)wd * dr.u4StsDTBlockYx10;
    const LX_S64 darkY = d >= 1024 ? d >> 10 : 1;

    dr.u4DR = toU32((brightY << 14) / darkY);
    if (frameDbg(h, kDbgScene))
        CamOsPrintf("[%24s] u4BrightWghtY:%u, u4DarkWghtY:%u\n", __func__, (unsigned)brightY, (unsigned)darkY);
    return 0;
}

LX_U32 pAE_GetStrategyBTDT(cam_ae_handle_t *h) {
    AE_STRATEGY_BTDT &s = h->strStrategyBTDT;
    const LX_S64 t = h->u4Targetx10;
    const LX_S64 curY = curYOf(h);
    const LX_S32 bv = h->i4CurBV;
    const LX_U32 w = h->strStrategyParam.u4Weighting;

    if (h->strStrategyParam.eStrategy == AE_STGY_BRIGHTTONE) {
        AE_HIST_METERING &m = s.strBrightTone;
        m.u4StsPcent = (LX_U32)pull(Interp_LUT(m.strTotalPcentByLUT, bv), 10, s.u4BTSensitivity);
        // The bright-tone target curve is read at the scene's dynamic range.
        const LX_S32 byDR = Interp_LUT(m.strTargetByLUT, (LX_S32)h->strSceneDR.u4DR);
        m.u4StsTargetx10 = (LX_U32)pull(byDR, (LX_S32)t, s.u4BTStrength);
        const LX_U32 y = histY(h, m, m.u4StsPcent);
        m.u4CurYx10 = y;
        s.u4BTFinalTarget = toU32(ratioRound((LX_S64)m.u4StsTargetx10 * curY, y));
        s.u4StsFinalTarget = s.u4BTFinalTarget < t ? toU32(mix(t, s.u4BTFinalTarget, w)) : (LX_U32)t;
    } else if (h->strStrategyParam.eStrategy == AE_STGY_DARKTONE) {
        AE_HIST_METERING &m = s.strDarkTone;
        m.u4StsPcent = (LX_U32)pull(Interp_LUT(m.strTotalPcentByLUT, bv), 900, s.u4DTSensitivity);
        m.u4StsTargetx10 = (LX_U32)pull(Interp_LUT(m.strTargetByLUT, bv), 40, s.u4DTStrength);
        histY(h, m, m.u4StsPcent);
        const LX_U32 y40 = h->strHistSpec.u4AvgYx40;
        m.u4CurYx10 = y40;
        s.u4DTFinalTarget = toU32(ratioRound(4 * (LX_S64)m.u4StsTargetx10 * curY, y40));
        s.u4StsFinalTarget = s.u4DTFinalTarget > t ? toU32(mix(t, s.u4DTFinalTarget, w)) : (LX_U32)t;
    }

    LX_S64 lo, hi;
    strategyLimits(h, t, &lo, &hi);
    s.u4StsFinalTarget = toU32(clampTarget(s.u4StsFinalTarget, lo, hi));
    if (frameDbg(h, kDbgScene)) {
        CamOsPrintf("%26s DefaulTarget/Upper/Lower:%4u/%4u/%4u\n", "", (unsigned)t, (unsigned)hi, (unsigned)lo);
        CamOsPrintf("[%24s] Wght:%u, u4Targetx10:%u, i4OffsetUpper:%d, i4OffsetLower:%d, Max/Min:%u/%u, Final:%u\n",
                    __func__, (unsigned)w, (unsigned)t, (int)(hi - t), (int)(t - lo), (unsigned)hi, (unsigned)lo,
                    (unsigned)s.u4StsFinalTarget);
    }
    return s.u4StsFinalTarget;
}

LX_S32 pAE_GetToneBalanceTarget(cam_ae_handle_t *h) {
    AE_TONEBALANCE_TARGET &tb = h->strToneBalance;
    const LX_U32 sens = tb.u4Sensitivity, strength = tb.u4Strength;
    const LX_S64 t = h->u4Targetx10;
    const LX_S64 curY = curYOf(h);
    const LX_S32 bv = h->i4CurBV;

    // Bright tone: keep the brightest share at a target set by the scene's
    // dynamic range, scaled by how likely a bright scene is at this BV.
    {
        AE_HIST_METERING &m = tb.strBrightTone;
        m.u4StsPcent = (LX_U32)Interp_LUT(pulled(m.strTotalPcentByLUT, 10, sens), bv);
        const LX_U32 y = histY(h, m, m.u4StsPcent);
        tb.u4StsBTBVProb = (LX_U32)Interp_LUT(tb.strBTTargetByBV, bv);
        const int n = pointsOf(m.strTargetByLUT);
        const LX_S64 yf = m.strTargetByLUT.i4Y[0], yl = m.strTargetByLUT.i4Y[n > 0 ? n - 1 : 0];
        const LX_S64 r = minS(((LX_S64)pull((LX_S32)yl, (LX_S32)yf, tb.u4StsBTBVProb) << 10) / maxS(yl, 1), 1024);
        const LX_S64 d = maxS(((LX_S64)Interp_LUT(m.strTargetByLUT, (LX_S32)h->strSceneDR.u4DR) * r + 512) >> 10, t);
        m.u4StsTargetx10 = tb.u4StsBTDRTargetx10 = (LX_U32)pull((LX_S32)d, (LX_S32)t, strength);
        tb.u4StsBTBlockYx10 = h->pAE_CalSortYByPcent(h, 0, LX_TRUE, m.u4StsPcent);
        tb.u4BTBlockYWeighting = (LX_U32)Interp_LUT(tb.strBTBYWghtLUT, bv);
        tb.u4StsBTWghtYx10 = toU32(maxS(1, mix(y, tb.u4StsBTBlockYx10, tb.u4BTBlockYWeighting)));
        m.u4CurYx10 = y;
        tb.u4StsBTTargetx10 = toU32(ratioRound((LX_S64)m.u4StsTargetx10 * curY, tb.u4StsBTWghtYx10));
    }
    // Mid tone: the middle share, both ends skipped equally.
    {
        AE_HIST_METERING &m = tb.strMidTone;
        m.u4StsPcent = (LX_U32)Interp_LUT(pulled(m.strTotalPcentByLUT, 900, sens), bv);
        m.u4SkipPcentx10 = m.u4StsPcent < 1000 ? (1000 - m.u4StsPcent) / 2 : 0;
        m.u4StsTargetx10 = (LX_U32)Interp_LUT(pulled(m.strTargetByLUT, 40, strength), bv);
        const LX_U32 y = histY(h, m, m.u4StsPcent);
        m.u4CurYx10 = y ? y : 1;
        tb.u4StsMTTargetx10 = toU32(ratioRound((LX_S64)m.u4StsTargetx10 * curY, m.u4CurYx10));
    }
    // Dark tone: lift the darkest share; smoothed over frames.
    {
        AE_HIST_METERING &m = tb.strDarkTone;
        m.u4StsPcent = (LX_U32)Interp_LUT(pulled(m.strTotalPcentByLUT, 900, sens), bv);
        m.u4StsTargetx10 = (LX_U32)Interp_LUT(pulled(m.strTargetByLUT, 40, strength), bv);
        const LX_U32 y = histY(h, m, m.u4StsPcent);
        const LX_U32 y40 = h->strHistSpec.u4AvgYx40;
        tb.u4StsDTBlockYx10 = h->pAE_CalSortYByPcent(h, 0, LX_FALSE, m.u4StsPcent);
        const LX_U32 w = tb.u4DTBlockYWeighting > 1024 ? 1024 : tb.u4DTBlockYWeighting;
        const LX_S64 wy = ((LX_S64)y40 * (1024 - w) + 512 + 4 * (LX_S64)w * tb.u4StsDTBlockYx10) >> 10;
        tb.u4StsDTDarkWghtYx10 = toU32(maxS(1, wy));
        m.u4CurYx10 = y;
        const LX_S64 r = minS(kMaxTarget, ratioRound(4 * (LX_S64)m.u4StsTargetx10 * curY, tb.u4StsDTDarkWghtYx10));
        tb.u4StsNotSmoothedDTTargetx10 = (LX_U32)r;
        tb.u4StsDTTargetx10 = h->bOneShot ? (LX_U32)r : (LX_U32)((3 * (LX_S64)tb.u4StsDTTargetx10 + r + 2) >> 2);
    }
    // Mid-dark limit: how far the dark and mid tones may lift the target.
    {
        AE_HIST_METERING &m = tb.strMidDarkToneLimit;
        m.u4StsPcent = (LX_U32)Interp_LUT(m.strTotalPcentByLUT, bv);
        m.u4StsTargetx10 = (LX_U32)Interp_LUT(m.strTargetByLUT, bv);
        const LX_U32 y = histY(h, m, m.u4StsPcent);
        m.u4CurYx10 = y;
        const LX_S64 l = y == 0 ? t : ratioRound((LX_S64)m.u4StsTargetx10 * curY, y);
        tb.u4StsMTDTTargetUpperx10 = (LX_U32)clampTarget(l, 100, 2000);
    }

    LX_S64 f = maxS(maxS(tb.u4StsDTTargetx10, tb.u4StsMTTargetx10), tb.strDarkTone.u4StsTargetx10);
    f = minS(f, tb.u4StsMTDTTargetUpperx10);
    f = maxS(f, tb.u4StsBTTargetx10);
    LX_S64 lo, hi;
    strategyLimits(h, t, &lo, &hi);
    tb.u4StsFinalTarget = toU32(clampTarget(f, lo, hi));
    if (frameDbg(h, kDbgScene))
        CamOsPrintf("%26s DefaulTarget/MTDTUpper/Upper/Lower:%u/%u/%u/%u\n", "", (unsigned)t,
                    (unsigned)tb.u4StsMTDTTargetUpperx10, (unsigned)hi, (unsigned)lo);
    return 0;
}

// ---- extended strategy ----------------------------------------------------------

LX_S32 pAE_StrategyEX_GetSceneTarget(cam_ae_handle_t *h) {
    AE_STRATEGYEX &ex = h->strStrategyEx;
    const AE_STRATEGYEX_PARAM &p = ex.strParam;
    const LX_S32 bv = h->i4CurBV;
    const LX_S64 t = h->u4Targetx10;
    const LX_S64 curY = curYOf(h);
    const bool trace = frameDbg(h, kDbgScene);
    if (trace) banner('s');

    const LX_S32 a = Interp_LUT(p.strBTThdY, bv), b = Interp_LUT(p.strDTThdY, bv);
    const LX_S32 c = Interp_LUT(p.strBTTargetx10, bv), d = Interp_LUT(p.strDTTargetx10, bv);
    const LX_S64 e = Interp_LUT(p.strUpperBound, bv), f = Interp_LUT(p.strLowerBound, bv);
    const LX_S64 lo = maxS(t - f, kMinTarget), hi = minS(t + e, kMaxTarget);
    ex.strInfo.u2LowerLimitTargetx10 = (LX_U16)lo;
    ex.strInfo.u2UpperLimitTargetx10 = (LX_U16)(hi < 0 ? 0 : hi);

    h->pAE_StrategyEX_GetToneY(h);
    h->pAE_StrategyEX_GetCntPcntx10(h);

    LX_S64 bt, dt;
    if (p.eMode == AE_STGY_MODE_TARGET) {
        bt = ratioRound(curY * (LX_U16)c, maxS(ex.strInfo.u2BTYx10, 10));
        dt = ratioRound(curY * (LX_U16)d, maxS(ex.strInfo.u2DTYx10, 10));
    } else {
        bt = ratioRound(curY * (LX_U16)a, ex.uCurBTThdY);
        dt = ratioRound(curY * (LX_U16)b, ex.uCurDTThdY);
    }
    LX_S64 target;
    if (p.ePriority == AE_STGY_PRIORITY_DARKTONE)
        target = (dt < t && bt >= dt) ? minS(t, bt) : dt;
    else
        target = (bt > t && bt >= dt) ? maxS(t, dt) : bt;
    h->u4SceneTargetx10 = toU32(clampTarget(target, lo, hi));

    if (dbg(h, kDbgStrategyEx))
        CamOsPrintf("[FinalTarget, BTtarget, DTtarget] = [%lu, %lu, %lu]\n", (unsigned long)h->u4SceneTargetx10,
                    (unsigned long)toU32(bt), (unsigned long)toU32(dt));
    if (trace) {
        CamOsPrintf("[%24s] Offset Upper/Lower:%4d/%4d, Max/Min:%4u/%4u \n", __func__, (int)e, (int)f, (unsigned)hi,
                    (unsigned)lo);
        CamOsPrintf("[%24s] --e-- %u\n\n", __func__, (unsigned)h->u4SceneTargetx10);
        banner('e');
    }
    return 0;
}

LX_S32 pAE_StrategyEX_GetToneY(cam_ae_handle_t *h) {
    AE_STRATEGYEX &ex = h->strStrategyEx;
    const LX_S32 bv = h->i4CurBV;
    ex.strInfo.u2BTYx10 = (LX_U16)histY(h, AE_HIST_OP_ACC_PCENT, AE_TONE_BRIGHT, LX_FALSE,
                                        (LX_U32)Interp_LUT(ex.strParam.strBTPercentx10, bv), 0);
    ex.uCurBTThdY = (LX_U8)h->strHistSpec.u4FinalBin;
    ex.strInfo.u2DTYx10 = (LX_U16)histY(h, AE_HIST_OP_ACC_PCENT, AE_TONE_DARK, LX_FALSE,
                                        (LX_U32)Interp_LUT(ex.strParam.strDTPercentx10, bv), 0);
    ex.uCurDTThdY = (LX_U8)h->strHistSpec.u4FinalBin;
    return 0;
}

// Shares of the histogram above the bright threshold and up to the dark one.
LX_S32 pAE_StrategyEX_GetCntPcntx10(cam_ae_handle_t *h) {
    AE_STRATEGYEX &ex = h->strStrategyEx;
    const LX_U16 *hist = h->strHistSpec.pHist ? h->strHistSpec.pHist : h->strAEStat.u2Hist[1];
    const LX_S32 bv = h->i4CurBV;
    auto share = [](LX_U32 count) {
        const LX_U32 v = (LX_U32)((LX_U64)count * 1000 / kHistPixels);
        return v > 0xFFFF ? (LX_U16)0xFFFF : (LX_U16)v;
    };

    const LX_U16 a = (LX_U16)Interp_LUT(ex.strParam.strBTThdY, bv);
    LX_U32 bright = 0;
    if (a <= 255)
        for (LX_U32 k = a / 2; k < AE_HIST_BINS; ++k) bright += hist[k];
    ex.strInfo.u2BTCntPcntx10 = a > 255 ? 0 : share(bright);

    LX_U32 d = (LX_U32)(Interp_LUT(ex.strParam.strDTThdY, bv) / 2) & 0x7FFF;
    if (d > AE_HIST_BINS - 1) d = AE_HIST_BINS - 1;
    LX_U32 dark = 0;
    for (LX_U32 k = 0; k <= d; ++k) dark += hist[k];
    ex.strInfo.u2DTCntPcntx10 = share(dark);

    if (dbg(h, kDbgStrategyEx))
        CamOsPrintf("[BTThdY, BTCntPcntx10, DTThdY, DTCntPcntx10] = [%lu, %lu, %lu, %lu]\n", (unsigned long)a,
                    (unsigned long)ex.strInfo.u2BTCntPcntx10, (unsigned long)(d * 2),
                    (unsigned long)ex.strInfo.u2DTCntPcntx10);
    return 0;
}

// The ratio reported to the ISP lags three frames behind the target.
LX_S32 pAE_StrategyEX_GetGMBlendRatio(cam_ae_handle_t *h) {
    AE_STRATEGYEX &ex = h->strStrategyEx;
    LX_U16 *buf = h->u2GMBlendRatioBuffer;
    buf[3] = buf[2];
    buf[2] = buf[1];
    buf[1] = buf[0];
    if (ex.strParam.bEnable == LX_TRUE) {
        const LX_S64 s = h->u4SceneTargetx10, t = h->u4Targetx10;
        LX_S64 r = kNeutralRatio;
        // The ratio spans 0..1024 over the largest offsets down and up.
        if (s > t)
            r = kNeutralRatio + ratioRound((s - t) << 9, ex.u2MaxOffsetUp);
        else if (s < t)
            r = kNeutralRatio - ratioRound((t - s) << 9, ex.u2MaxOffsetDown);
        buf[0] = (LX_U16)clampTarget(r, 0, 2 * kNeutralRatio);
    } else {
        buf[0] = kNeutralRatio;
        AE_STRATEGYEX_INFO &i = ex.strInfo;
        i.u2UpperLimitTargetx10 = i.u2LowerLimitTargetx10 = 0;
        i.u2BTCntPcntx10 = i.u2DTCntPcntx10 = 0;
        i.u2BTYx10 = i.u2DTYx10 = 0;
    }
    ex.strInfo.u2GMBlendRatio = buf[3];
    if (dbg(h, kDbgStrategyEx))
        CamOsPrintf("[GMRatio, SceneTarget, Target, MaxUp, MaxDown] = [%lu, %lu, %lu, %lu, %lu]\n",
                    (unsigned long)buf[0], (unsigned long)h->u4SceneTargetx10, (unsigned long)h->u4Targetx10,
                    (unsigned long)ex.u2MaxOffsetUp, (unsigned long)ex.u2MaxOffsetDown);
    return 0;
}

// ---- settings ---------------------------------------------------------------------

LX_S32 pAE_SetTarget(cam_ae_handle_t *h, INTP_LUT *target) {
    if (!target) {
        CamOsPrintf("[%s] Null!!\n", __func__);
        return -1;
    }
    if (badCount(__func__, target->u2NumOfPoints, 1)) return -1;
    h->strTargetLut = *target;
    h->bForceReCal = LX_TRUE;
    if (dbg(h, kDbgSetting))
        CamOsPrintf("[%24s] Num:%d, target[0]:%d, target[Num-1]:%d\n", __func__, (int)target->u2NumOfPoints,
                    (int)target->i4Y[0], (int)target->i4Y[target->u2NumOfPoints - 1]);
    return 0;
}

LX_S32 pAE_GetTarget(cam_ae_handle_t *h, INTP_LUT *target) {
    if (!target) {
        CamOsPrintf("[%s] Null!!\n", __func__);
        return -1;
    }
    *target = h->strTargetLut;
    if (dbg(h, kDbgSetting)) {
        const int n = pointsOf(*target);
        CamOsPrintf("[%24s] Num:%d, target[0]:%d, target[Num-1]:%d\n", __func__, n, (int)target->i4Y[0],
                    (int)target->i4Y[n > 0 ? n - 1 : 0]);
    }
    return 0;
}

LX_S32 pAE_SetAEStrategy(cam_ae_handle_t *h, AE_STRATEGY_PARAM *pParam) {
    if (!pParam) {
        CamOsPrintf("[%s] Null!!\n", __func__);
        return -1;
    }
    if (pParam->strUpperBound.u2NumOfPoints == 0 || pParam->strLowerBound.u2NumOfPoints == 0) {
        CamOsPrintf("[%s] At least one value for Upper/Lower bound\n", __func__);
        return -1;
    }
    if (badCount(__func__, pParam->strUpperBound.u2NumOfPoints, 1) ||
        badCount(__func__, pParam->strLowerBound.u2NumOfPoints, 1))
        return -1;
    h->strUserParam.strStrategyParam = *pParam;
    h->strUserParam.bIsChanged = LX_TRUE;
    if (dbg(h, kDbgSetting))
        CamOsPrintf("[%24s] %d/%lu/%hu/%hu upper[0]:%d/%d, lower[0]:%d/%d\n", __func__, (int)pParam->eStrategy,
                    (unsigned long)pParam->u4Weighting, pParam->strUpperBound.u2NumOfPoints,
                    pParam->strLowerBound.u2NumOfPoints, (int)pParam->strUpperBound.i4X[0],
                    (int)pParam->strUpperBound.i4Y[0], (int)pParam->strLowerBound.i4X[0],
                    (int)pParam->strLowerBound.i4Y[0]);
    return 0;
}

LX_S32 pAE_GetAEStrategy(cam_ae_handle_t *h, AE_STRATEGY_PARAM *pParam) {
    if (!pParam) {
        CamOsPrintf("[%s] Null!!\n", __func__);
        return -1;
    }
    *pParam = h->strStrategyParam;
    pParam->u4BrightToneStrength = h->strStrategyBTDT.u4BTStrength;
    pParam->u4BrightToneSensitivity = h->strStrategyBTDT.u4BTSensitivity;
    pParam->u4DarkToneStrength = h->strStrategyBTDT.u4DTStrength;
    pParam->u4DarkToneSensitivity = h->strStrategyBTDT.u4DTSensitivity;
    pParam->u4AutoStrength = h->strToneBalance.u4Strength;
    pParam->u4AutoSensitivity = h->strToneBalance.u4Sensitivity;
    if (dbg(h, kDbgSetting)) {
        const INTP_LUT &up = pParam->strUpperBound, &down = pParam->strLowerBound;
        CamOsPrintf("[%24s] Stgy:%d, Weight:%lu, Up Y:%d,%d,%d,%d, Down Y:%d,%d,%d,%d\n", __func__,
                    (int)pParam->eStrategy, (unsigned long)pParam->u4Weighting, (int)up.i4Y[0], (int)up.i4Y[1],
                    (int)up.i4Y[2], (int)up.i4Y[3], (int)down.i4Y[0], (int)down.i4Y[1], (int)down.i4Y[2],
                    (int)down.i4Y[3]);
    }
    return 0;
}

LX_S32 pAE_SetAEStrategyEX(cam_ae_handle_t *h, AE_STRATEGYEX_MI_PARAM *pParam) {
    if (!pParam) {
        CamOsPrintf("[%s] Null!!\n", __func__);
        return -1;
    }
    if (badCount(__func__, pParam->u2BT_NodeNum, 0) || badCount(__func__, pParam->u2DT_NodeNum, 0)) return -1;
    AE_STRATEGYEX_MI_PARAM &m = *pParam;
    AE_STRATEGYEX_PARAM &p = h->strUserParam.strStrategyExParam;
    p.bEnable = m.bEnable;
    p.eMode = m.eMode;
    p.ePriority = m.ePriority;
    toCurves(brightNodes(m), {&p.strBTThdY, &p.strBTPercentx10, &p.strBTTargetx10, &p.strLowerBound});
    toCurves(darkNodes(m), {&p.strDTThdY, &p.strDTPercentx10, &p.strDTTargetx10, &p.strUpperBound});
    // The largest offsets scale the blend ratio; they act at once.
    h->strStrategyEx.u2MaxOffsetDown = maxOf(m.u4BT_MaxOffsetDown, m.u2BT_NodeNum);
    h->strStrategyEx.u2MaxOffsetUp = maxOf(m.u4DT_MaxOffsetUp, m.u2DT_NodeNum);
    h->strUserParam.bIsChanged = LX_TRUE;
    return 0;
}

LX_S32 pAE_GetAEStrategyEX(cam_ae_handle_t *h, AE_STRATEGYEX_MI_PARAM *pParam) {
    if (!pParam) {
        CamOsPrintf("[%s] Null!!\n", __func__);
        return -1;
    }
    AE_STRATEGYEX_PARAM &p = h->strUserParam.strStrategyExParam;
    AE_STRATEGYEX_MI_PARAM &m = *pParam;
    m.bEnable = p.bEnable;
    m.eMode = p.eMode;
    m.ePriority = p.ePriority;
    toNodes({&p.strBTThdY, &p.strBTPercentx10, &p.strBTTargetx10, &p.strLowerBound}, brightNodes(m));
    toNodes({&p.strDTThdY, &p.strDTPercentx10, &p.strDTTargetx10, &p.strUpperBound}, darkNodes(m));
    return 0;
}

LX_S32 pAE_SetEVComp(cam_ae_handle_t *h, LX_S32 i4EV, LX_U32 u4Grad) {
    h->strUserParam.i4EVComp = i4EV;
    h->strUserParam.u4EVCompGrad = u4Grad == 0 ? 1 : u4Grad > 20 ? 20 : u4Grad;
    h->strUserParam.bIsChanged = LX_TRUE;
    return 0;
}

LX_S32 pAE_GetEVComp(cam_ae_handle_t *h, LX_S32 *i4EV, LX_U32 *u4Grad) {
    if (i4EV) *i4EV = h->strUserParam.i4EVComp;
    if (u4Grad) *u4Grad = h->strUserParam.u4EVCompGrad;
    return 0;
}
