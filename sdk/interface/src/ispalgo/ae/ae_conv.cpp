// Convergence, smoothing and the stabiliser; RGB-IR exposure control, the HDR
// ratio curve and the day-night parameters.
//
// T is the EV-compensated target, Y the weighted luminance of the frame (both
// Yx10). Speeds are x1024, RGB-IR ratios x10000, EV values x16384.
#include <math.h>
#include <string.h>

#include "ae_handle.h"
#include "cam_os_wrapper.h"

namespace {

constexpr unsigned kDbgSmooth = 0;   // smoothing step
constexpr unsigned kDbgLinear = 1;   // linearity check
constexpr unsigned kDbgSetting = 5;  // setters and getters
constexpr unsigned kDbgRgbir = 9;    // IR-aware step

constexpr LX_S64 kMaxYx10 = 2550;
constexpr LX_U64 kRatioOne = 10000;   // RGB-IR ratio of 1
constexpr LX_U32 kMaxSpeed = 1024;    // a speed of 1024 moves the whole error in one frame
constexpr LX_U8 kBVStableFrames = 29; // frames of a bright, linear scene that count as converged


LX_U32 curY(const cam_ae_handle_t *h) { return h->u4CurYx10[0][h->uCurYSyncIdx % 3]; }

template <typename T>
T clampTo(T v, T lo, T hi) {
    return v < lo ? lo : v > hi ? hi : v;
}

LX_S32 sat32(LX_S64 v) { return (LX_S32)clampTo<LX_S64>(v, INT32_MIN, INT32_MAX); }

// Y inside the band of half-width t around T: [max(T - t, 10), min(T + t, 2550)].
bool inBand(const cam_ae_handle_t *h, LX_U32 t) {
    const LX_S64 T = h->u4EVTargetx10, y = curY(h);
    const LX_S64 upper = T + t < kMaxYx10 ? T + t : kMaxYx10;
    const LX_S64 lower = T - (LX_S64)t > 10 ? T - (LX_S64)t : 10;
    return lower <= y && y <= upper;
}

// 16384 x log2(a / b), truncated; values of 1 or less count as log2 = 0.
LX_S32 evBetween(LX_S64 a, LX_S64 b) {
    const double la = a > 1 ? AE_APEX_BASE * log2((double)a) : 0.0;
    const double lb = b > 1 ? AE_APEX_BASE * log2((double)b) : 0.0;
    return (LX_S32)(la - lb);
}

// Speed of this frame off the speed curve, whose middle points sit on the
// target: at least 10, at most 1024 (beyond that a step overshoots).
LX_U16 speedAt(cam_ae_handle_t *h, LX_S64 target, LX_S64 y) {
    INTP_LUT &lut = h->strConvRatioLut;
    lut.i4X[1] = lut.i4X[2] = sat32(target);
    const LX_S32 r = Interp_LUT(lut, sat32(y));
    h->u2CnvgRatio = (LX_U16)(r <= 10 ? 10 : (LX_U32)r > kMaxSpeed ? kMaxSpeed : (LX_U32)r);
    return h->u2CnvgRatio;
}

// Step of a luminance error d at speed r: r*d/1024 rounded, but at least the
// minimum step (and never past the error) so that a small error still closes.
LX_S64 stepFor(LX_S64 r, LX_S64 d, LX_S64 minStep) {
    LX_S64 s = (r * d + 512) >> 10;
    const LX_S64 absS = s < 0 ? -s : s, absD = d < 0 ? -d : d;
    if (absS < minStep && d != 0) s = (d < 0 ? -1 : 1) * (absD < minStep ? absD : minStep);
    return s;
}

LX_U16 widerThd(const cam_ae_handle_t *h) {
    return h->u2ConvOutStableThd > h->u2ConvIntoStableThd ? h->u2ConvOutStableThd : h->u2ConvIntoStableThd;
}

// The energy ratio (x1024) and the EV change of moving from luminance `from`
// to `to`; `div` is the divisor of the ratio (never 0).
void setDelta(cam_ae_handle_t *h, LX_S64 to, LX_S64 from, LX_S64 div) {
    if (to < 0) to = 0;
    h->u4DeltaEnergyRatio = (LX_U32)clampTo<LX_S64>((to << 10) / (div > 0 ? div : 1), 0, UINT32_MAX);
    h->i4SmoothDeltaEV = evBetween(to, from);
}

// The RGB-IR limits on the visible and IR tops, with a tolerance of tol.
// Returns whether a convergence result may stand.
bool irLimitsAllow(const cam_ae_handle_t *h, LX_S32 tol) {
    const AE_RGBIR_SETTING &r = h->strRgbirParam;
    const LX_S32 ratio = r.u2IRFeedBakckRatio, irTop = r.u2HistIRTop, irMax = r.u2IRMaxLimit;
    const LX_S32 sum = (LX_S32)r.u2HistYTop + r.u2HistIRTop, total = r.u2TotalMaxLimit;
    const bool atFullRatio = ratio > 9499;
    const bool irOK = irTop <= irMax + tol && (irTop >= irMax - tol || atFullRatio);
    if (sum <= total + tol && (sum >= total - tol || atFullRatio)) return true;
    if (r.u2IRFeedBakckRatioPre == ratio && r.u2IRFeedBakckRatioMinLimit == ratio) return true;
    return irOK;
}

LX_S64 apexSum(const AE_APEX_EXPO &e) {
    return (LX_S64)e.i4TVxBASE + e.i4AVxBASE - e.i4SSVxBASE - e.i4DSVxBASE;
}

LX_S64 speedSum(const AE_APEX_EXPO &e) { return (LX_S64)e.i4SSVxBASE + e.i4DSVxBASE; }

LX_S64 absDiff(LX_S64 a, LX_S64 b) { return a > b ? a - b : b - a; }

}  // namespace

// ---- convergence ------------------------------------------------------------------

LX_CAM_BOOL pAE_isConverged(cam_ae_handle_t *h) {
    if (h->i4CurBV >= 8 * AE_APEX_BASE && h->u4LinearityDeltaEV <= 30) {
        if (h->uBVStableCnt < UINT8_MAX) h->uBVStableCnt += 1;
    } else {
        h->uBVStableCnt = 0;
    }
    const bool settledBright = h->uBVStableCnt > kBVStableFrames;

    bool result;
    LX_S32 tol;
    if (h->bStable == 1) {
        tol = 100;
        const AE_STABILIZER &stb = h->strStabilizer;
        // A settled exposure ignores local motion.
        result = inBand(h, h->u2ConvOutStableThd) ||
                 (stb.strParam.bEnable == LX_TRUE && stb.strInfo.eMDState == eMD_LOCAL_MOTION) || settledBright;
    } else {
        tol = 50;
        result = inBand(h, h->u2ConvIntoStableThd) || settledBright;
    }
    if (!h->strRgbirParam.bEnable) return result ? LX_TRUE : LX_FALSE;
    return result && irLimitsAllow(h, tol) ? LX_TRUE : LX_FALSE;
}

LX_CAM_BOOL pAE_isReachBoundary(cam_ae_handle_t *h) {
    const AE_APEX_EXPO &pre = h->strApexPreExpo, &cur = h->strApexCurExpo;
    if (pre.i4AVxBASE != cur.i4AVxBASE || pre.i4TVxBASE != cur.i4TVxBASE || speedSum(pre) != speedSum(cur))
        return LX_FALSE;
    const LX_U8 n = h->pAE_GetExpTblMaxIdx(h);
    if (n == 0) return LX_FALSE;
    const AE_APEX_EXPO &first = h->strApexLongExpoTbl.Points[0];
    const AE_APEX_EXPO &last = h->strApexLongExpoTbl.Points[n - 1];
    const LX_U8 up = h->strCalLongExpo.Upper, lo = h->strCalLongExpo.Lower;

    // The slack in SV and TV between the exposure and the table end it sits on.
    LX_S64 d;
    if (up == 0 && lo == 0)
        d = (speedSum(cur) - speedSum(first)) + ((LX_S64)cur.i4TVxBASE - first.i4TVxBASE);
    else if (up == n - 1 && lo == n - 1)
        d = (speedSum(last) - speedSum(cur)) + ((LX_S64)last.i4TVxBASE - cur.i4TVxBASE);
    else
        d = up != lo ? 16 : 0;
    const bool atEnd = absDiff(cur.i4BVxBASE, last.i4BVxBASE) <= d || absDiff(cur.i4BVxBASE, first.i4BVxBASE) <= d;
    return atEnd ? LX_TRUE : LX_FALSE;
}

LX_CAM_BOOL pAE_isStable(cam_ae_handle_t *h) {
    h->bReachBoundary = (LX_U8)(h->pAE_isReachBoundary(h) ? 1 : 0);
    return h->pAE_isConverged(h) ? LX_TRUE : (LX_CAM_BOOL)h->bReachBoundary;
}

// A small luminance change must last longer than the count threshold before
// the exposure reacts; a large one, or a forced recalculation, acts at once.
LX_CAM_BOOL pAE_CheckTimeBuffer(cam_ae_handle_t *h) {
    AE_TimeBuffer &tb = h->strAETimeBuffer;
    const LX_U32 y = curY(h), s = tb.u4StableY;
    const bool dark = y < s;
    const LX_U32 diffThd = dark ? tb.u4DarkYDiffThd : tb.u4BrightYDiffThd;
    const LX_U32 countThd = dark ? tb.u4UnStableDarkCountThd : tb.u4UnStableBrightCountThd;
    if (!tb.bEnable || h->bForceReCal || (dark ? s - y : y - s) >= diffThd) {
        const LX_U32 m = tb.u4UnStableBrightCountThd > tb.u4UnStableDarkCountThd ? tb.u4UnStableBrightCountThd
                                                                                  : tb.u4UnStableDarkCountThd;
        tb.u4UnStableCount = m < UINT32_MAX ? m + 1 : m;
        return LX_TRUE;
    }
    return tb.u4UnStableCount > countThd ? LX_TRUE : LX_FALSE;
}

// ---- smoothing and linearity ----------------------------------------------------------

LX_S32 pAE_CalSmoothExpo(cam_ae_handle_t *h) {
    const LX_S64 T = h->u4EVTargetx10 < kMaxYx10 ? h->u4EVTargetx10 : kMaxYx10;
    const LX_S64 y = curY(h);
    const LX_S64 r = speedAt(h, T, y);
    const LX_S64 d = T - y;
    LX_S64 minStep = (r * widerThd(h)) >> 10;
    if (minStep < 3) minStep = 3;
    const LX_S64 s = stepFor(r, d, minStep);
    const LX_S64 p = y + s;

    if (h->bOneShot != LX_TRUE) {
        h->u4PredYx10 = (LX_U32)(p > 0 ? p : 0);
        const LX_S64 y1 = y > 10 ? y : 10;
        setDelta(h, y1 + s > p ? y1 + s : p, y1, y1);
    } else {
        // The frequency detector lands on the target in one step.
        h->u4PredYx10 = (LX_U32)T;
        const LX_S64 y1 = y > 1 ? y : 1;
        setDelta(h, p > T ? p : T, y1, y1);
    }

    if (frameDbg(h, kDbgSmooth))
        CamOsPrintf("[%20s][%4d] NewTarget/Target/CurY = %4u, %4u, %4u, RatioDiff = %4d (%6d), Diff = %4d (%4d), "
                    "Min = %4d, Ratio = %4hu\n",
                    "pAE_CalSmoothExpo", 3111, h->u4PredYx10, (unsigned)T, (unsigned)y, (int)s,
                    (int)h->i4SmoothDeltaEV, (int)d, (int)d, (int)minStep, h->u2CnvgRatio);
    return 0;
}

// How far the luminance change of the last step strayed from the exposure
// change that caused it (x16384).
LX_S32 pAE_CheckLinearity(cam_ae_handle_t *h, AE_APEX_EXPO strPreExpo, AE_APEX_EXPO strCurExpo, LX_U32 u4PreYx10,
                          LX_U32 u4CurYx10) {
    const LX_S64 e = apexSum(strPreExpo) - apexSum(strCurExpo);
    const LX_S64 l = evBetween(u4CurYx10, u4PreYx10);
    const LX_S32 err = sat32(absDiff(l, e));
    if (err != 0 && frameDbg(h, kDbgLinear))
        CamOsPrintf("[%20s][%4d] %5u, Non-linear(PreBV/CurBV):%5d,%5d, (PreY/PredY/CurY)/(SmoothEV/DeltaEV/YDeltaEV):"
                    "(%4u,%4u,%4u),(%6d,%6d,%6d)\n",
                    "pAE_CheckLinearity", 5682, (unsigned)h->SyncFrameCnt, (int)strPreExpo.i4BVxBASE,
                    (int)strCurExpo.i4BVxBASE, (unsigned)u4PreYx10, (unsigned)h->u4PredYx10, (unsigned)u4CurYx10,
                    (int)h->i4SmoothDeltaEV, (int)sat32(e), (int)l);
    return err;
}

// ---- stabiliser -----------------------------------------------------------------------

// Global motion when more than u2Percent of the blocks moved away from the
// settled reference; local motion otherwise, except that a settled exposure
// that has drifted out of its band is re-examined every u2LocalCntThr frames.
LX_S32 AE_MotionDetection(cam_ae_handle_t *h) {
    AE_STABILIZER &stb = h->strStabilizer;
    if (stb.strParam.bEnable != LX_TRUE) return 0;
    const AeInput_t *in = h->AeInputParameter;
    LX_U32 n = 0;
    if (in && in->avgs) {
        const LX_U64 blocks = (LX_U64)in->AvgBlkX * in->AvgBlkY;
        n = blocks < AE_REF_BLOCKS ? (LX_U32)blocks : AE_REF_BLOCKS;
    }
    LX_U32 moved = 0;
    for (LX_U32 i = 0; i < n; ++i) {
        const int diff = (int)in->avgs[i].y - (int)stb.strInfo.strRefAEStatis[i].uAvgY;
        if ((diff < 0 ? -diff : diff) > stb.strParam.u2DiffThd) ++moved;
    }
    stb.strInfo.u2TriggerCnt = (LX_U16)moved;
    const LX_U16 thr = stb.strInfo.u2LocalCntThr;
    if (moved > (LX_U32)stb.strParam.u2Percent * n / 100)
        stb.strInfo.eMDState = eMD_GLOBAL_MOTION;
    else if (thr != 0 && h->u4StableCnt % thr == 0 && !inBand(h, h->u2ConvOutStableThd))
        stb.strInfo.eMDState = eMD_FORCE_MOTION;
    else
        stb.strInfo.eMDState = eMD_LOCAL_MOTION;
    return 0;
}

// ---- convergence settings ---------------------------------------------------------------

LX_S32 pAE_SetConvergeThd(cam_ae_handle_t *h, LX_U32 Inthd, LX_U32 Outthd) {
    AE_USER_SETTING &u = h->strUserParam;
    u.u2ConvIntoStableThd = (LX_U16)clampTo<LX_U32>(Inthd, 1, 255);
    u.u2ConvOutStableThd = (LX_U16)clampTo<LX_U32>(Outthd, 1, 255);
    u.bIsChanged = LX_TRUE;
    if (dbg(h, kDbgSetting))
        CamOsPrintf("[%24s] ae conv In/Out thd: %u,%u\n", __func__, (unsigned)u.u2ConvIntoStableThd,
                    (unsigned)u.u2ConvOutStableThd);
    return 0;
}

LX_S32 pAE_GetConvergeThd(cam_ae_handle_t *h, LX_U32 *Inthd, LX_U32 *Outthd) {
    if (Inthd) *Inthd = h->u2ConvIntoStableThd;
    if (Outthd) *Outthd = h->u2ConvOutStableThd;
    if (dbg(h, kDbgSetting))
        CamOsPrintf("[%24s] In/Out: %u/%u\n", __func__, (unsigned)h->u2ConvIntoStableThd,
                    (unsigned)h->u2ConvOutStableThd);
    return 0;
}

namespace {
void traceSpeed(const cam_ae_handle_t *h, const char *fn) {
    if (!dbg(h, kDbgSetting)) return;
    const INTP_LUT &c = h->strUserParam.strConvRatio;
    CamOsPrintf("[%24s] X:%u/%u/%u/%u, Y:%u/%u/%u/%u\n", fn, (unsigned)c.i4X[0], (unsigned)c.i4X[1],
                (unsigned)c.i4X[2], (unsigned)c.i4X[3], (unsigned)c.i4Y[0], (unsigned)c.i4Y[1], (unsigned)c.i4Y[2],
                (unsigned)c.i4Y[3]);
}
}  // namespace

LX_S32 pAE_SetConvergeSpeed(cam_ae_handle_t *h, LX_U32 *speed_X, LX_U32 *speed_Y) {
    if (!speed_X || !speed_Y) return -1;
    if (speed_X[3] == 0 || speed_Y[0] == 0 || speed_Y[3] == 0) {
        CamOsPrintf("[%s] Ratio should no be zero!!\n", __func__);
        return -1;
    }
    for (int i = 0; i < 4; ++i) {
        if ((LX_S32)speed_Y[i] > (LX_S32)kMaxSpeed) {
            CamOsPrintf("[%s] Ratio should <= 1024!!\n", __func__);
            return -1;
        }
    }
    INTP_LUT &c = h->strUserParam.strConvRatio;
    memset(&c, 0, sizeof(c));
    c.u2NumOfPoints = 4;
    for (int i = 0; i < 4; ++i) {
        c.i4X[i] = (LX_S32)speed_X[i];
        c.i4Y[i] = (LX_S32)speed_Y[i];
    }
    h->strUserParam.bIsChanged = LX_TRUE;
    traceSpeed(h, __func__);
    return 0;
}

LX_S32 pAE_GetConvergeSpeed(cam_ae_handle_t *h, LX_U32 *speed_X, LX_U32 *speed_Y) {
    const INTP_LUT &c = h->strUserParam.strConvRatio;
    for (int i = 0; i < 4; ++i) {
        if (speed_X) speed_X[i] = (LX_U32)c.i4X[i];
        if (speed_Y) speed_Y[i] = (LX_U32)c.i4Y[i];
    }
    traceSpeed(h, __func__);
    return 0;
}

LX_S32 pAE_SetStabilizerParam(cam_ae_handle_t *h, AE_STABILIZER_PARAM *pParam) {
    if (!pParam) return -1;
    AE_STABILIZER_PARAM &s = h->strUserParam.strStbParam;
    s.bEnable = (LX_S32)pParam->bEnable >= 1 ? LX_TRUE : LX_FALSE;
    s.u2DiffThd = pParam->u2DiffThd < 20 ? pParam->u2DiffThd : (LX_U16)20;
    s.u2Percent = pParam->u2Percent < 100 ? pParam->u2Percent : (LX_U16)100;
    h->strUserParam.bIsChanged = LX_TRUE;
    h->bForceReCal = LX_TRUE;
    if (dbg(h, kDbgSetting)) CamOsPrintf("[%24s] \n", __func__);
    return 0;
}

LX_S32 pAE_GetStabilizerParam(cam_ae_handle_t *h, AE_STABILIZER_PARAM *pParam) {
    if (!pParam) return -1;
    *pParam = h->strUserParam.strStbParam;
    if (dbg(h, kDbgSetting)) CamOsPrintf("[%24s] \n", __func__);
    return 0;
}

// ---- RGB-IR -----------------------------------------------------------------------------

// The target is lowered by the feedback ratio R so that the visible top plus
// the IR top stay within their limits; the exposure computation raises the
// ISP gain by 1/R so that the picture keeps its brightness.
LX_S32 AE_CalRGBIRTargetwithSmooth(cam_ae_handle_t *h) {
    AE_RGBIR_SETTING &ir = h->strRgbirParam;
    const LX_U64 T = h->u4EVTargetx10 < kMaxYx10 ? h->u4EVTargetx10 : kMaxYx10;
    const LX_U64 y = curY(h), y1 = y > 1 ? y : 1;
    const LX_U64 pre = ir.u2IRFeedBakckRatioPre ? ir.u2IRFeedBakckRatioPre : 1;
    const LX_U64 minR = ir.u2IRFeedBakckRatioMinLimit ? ir.u2IRFeedBakckRatioMinLimit : 1;
    auto ratioWithin = [&](LX_U64 r) { return (LX_U16)(r < minR ? (minR < kRatioOne ? minR : kRatioOne)
                                                                : r > kRatioOne ? kRatioOne : r); };

    // The brightening the plain target asks for, and the room the tops leave.
    const LX_U64 ori = kRatioOne * T / y1, oriDiv = ori ? ori : 1;
    const LX_U64 tops = (LX_U64)ir.u2HistYTop + ir.u2HistIRTop;
    const LX_U64 roomTotal = kRatioOne * ir.u2TotalMaxLimit / (tops ? tops : 1);
    const LX_U64 roomIR = kRatioOne * ir.u2IRMaxLimit / (ir.u2HistIRTop ? ir.u2HistIRTop : 1u);
    const LX_U64 room = roomTotal > roomIR ? roomTotal : roomIR;
    const LX_U64 wanted = ori * kRatioOne / pre;
    const LX_U64 irConsider = wanted < room ? wanted : room;
    ir.u2IRFeedBakckRatio = ratioWithin(pre * (irConsider * kRatioOne / oriDiv) / kRatioOne);
    const LX_U64 r = ir.u2IRFeedBakckRatio;

    const LX_U64 vr = r * ori / pre;
    LX_U64 ti = vr * y1 / kRatioOne;
    if (ti < 1) ti = 1;

    const LX_S64 speed = speedAt(h, (LX_S64)ti, (LX_S64)y);
    const LX_S64 d = (LX_S64)ti - (LX_S64)y;
    LX_S64 minStep = (speed * widerThd(h) + 512) >> 10;
    if (minStep < 1) minStep = 1;
    const LX_S64 s = stepFor(speed, d, minStep);

    LX_S64 p, from, energy;
    if (h->bOneShot != LX_TRUE) {
        p = (LX_S64)y + s;
        from = y > 10 ? (LX_S64)y : 10;
        energy = from + s > p ? from + s : p;
    } else {
        p = (LX_S64)ti;
        from = (LX_S64)y;
        energy = (LX_S64)y + s > (LX_S64)ti ? (LX_S64)y + s : (LX_S64)ti;
    }
    if (p < 0) p = 0;

    // The ratio that the predicted luminance leaves.
    const LX_U64 rp = r * (LX_U64)p;
    ir.u2IRFeedBakckRatio = ratioWithin(rp < ti ? 1 : rp / ti);

    h->u4PredYx10 = (LX_U32)p;
    setDelta(h, energy, from, from);

    if (dbg(h, kDbgRgbir)) {
        const char *fn = "AE_CalRGBIRTargetwithSmooth";
        CamOsPrintf("\n======================================== [%27s] - Start "
                    "========================================\n",
                    fn);
        CamOsPrintf("[%27s] RatioToIRMax = %5u, VriationRatio (Ori/IR_Consider) = (%5u / %5u)\n %27s  FeedBakckRatio "
                    "(Pre/Cur) = (%5hu / %5hu)\n",
                    fn, (unsigned)room, (unsigned)ori, (unsigned)irConsider, "", ir.u2IRFeedBakckRatioPre,
                    ir.u2IRFeedBakckRatio);
        CamOsPrintf("[%27s] RGBIR enable = %4d, IR_Total_Max_Limit = %4hu, minFeedBackRatio = %4hu\n"
                    " %27s  IRAvg = %4hu, IRMaxBin = %3u, IRTop = %4hu, YTop = %4hu, Vr = %5u, Target/IRTarget = "
                    "%4u/%4u, Step = %4d, Diff = %4d, Min = %4d, Ratio = %4hu\n",
                    fn, (int)ir.bEnable, ir.u2TotalMaxLimit, ir.u2IRFeedBakckRatioMinLimit, "", ir.u2IRAvg,
                    (unsigned)h->uIRHistMaxY, ir.u2HistIRTop, ir.u2HistYTop, (unsigned)vr, (unsigned)T,
                    (unsigned)ti, (int)s, (int)d, (int)minStep, h->u2CnvgRatio);
        CamOsPrintf("======================================== [%27s] -  End  "
                    "========================================\n",
                    fn);
    }
    return 0;
}

LX_S32 pAE_SetRGBIRAE(cam_ae_handle_t *h, AE_RGBIR_AE *pParam) {
    if (!pParam) return -1;
    h->strUserParam.strRGBIRAE = *pParam;
    h->strUserParam.bIsChanged = LX_TRUE;
    if (dbg(h, kDbgSetting))
        CamOsPrintf("[%24s] enable:%d, MaxYWithIR:%u, MinISPGainCompRatio:%u\n", __func__, (int)pParam->bEnable,
                    (unsigned)pParam->u16MaxYWithIR, (unsigned)pParam->u16MinISPGainCompRatio);
    return 0;
}

LX_S32 pAE_GetRGBIRAE(cam_ae_handle_t *h, AE_RGBIR_AE *pParam) {
    if (!pParam) return -1;
    const AE_RGBIR_SETTING &ir = h->strRgbirParam;
    pParam->bEnable = (LX_CAM_BOOL)ir.bEnable;
    pParam->u16MaxYWithIR = ir.u2TotalMaxLimit;
    pParam->u16MinISPGainCompRatio = ir.u2IRFeedBakckRatioMinLimit;
    if (dbg(h, kDbgSetting))
        CamOsPrintf("[%24s] Enable:%d, IR_Total_Max_Limit:%hu, MinISPGainCompRatio:%hu\n", __func__,
                    (int)ir.bEnable, ir.u2TotalMaxLimit, ir.u2IRFeedBakckRatioMinLimit);
    return 0;
}

// ---- HDR ratio curve ------------------------------------------------------------------------

// Takes effect at once. The ratio divides the long shutter, so a curve needs
// 1..16 points and ratios of at least 1x.
LX_S32 pAE_SetAeHdrRatio(cam_ae_handle_t *h, AE_HDR_TYPE *pParam) {
    if (!pParam) return -1;
    const INTP_LUT &in = pParam->AeHdrRatio;
    if (in.u2NumOfPoints < 1 || in.u2NumOfPoints > INTP_LUT_MAX_POINTS) {
        CamOsPrintf("[%s] points should be 1..%d, not %u\n", __func__, INTP_LUT_MAX_POINTS,
                    (unsigned)in.u2NumOfPoints);
        return -1;
    }
    INTP_LUT lut = in;
    bool raised = false;
    for (int i = 0; i < lut.u2NumOfPoints; ++i) {
        if (lut.i4Y[i] < 1024) {
            lut.i4Y[i] = 1024;
            raised = true;
        }
    }
    if (raised) CamOsPrintf("[%s] ratios below 1024 taken as 1024\n", __func__);
    h->strAeHdrLut = lut;
    return 0;
}

LX_S32 pAE_GetAeHdrRatio(cam_ae_handle_t *h, AE_HDR_TYPE *pParam) {
    if (!pParam) return -1;
    pParam->AeHdrRatio = h->strAeHdrLut;
    return 0;
}

// ---- day-night ---------------------------------------------------------------------------------

LX_S32 pAE_SetDayNightDetectionParam(cam_ae_handle_t *h, AE_DAYNIGHT_DETECTION_PARAM *pParam) {
    if (!pParam) return -1;
    h->strUserParam.strDNDetectionParam = *pParam;
    h->strUserParam.bIsChanged = LX_TRUE;
    h->bForceReCal = LX_TRUE;
    return 0;
}

LX_S32 pAE_GetDayNightDetectionParam(cam_ae_handle_t *h, AE_DAYNIGHT_DETECTION_PARAM *pParam) {
    if (!pParam) return -1;
    *pParam = h->strUserParam.strDNDetectionParam;
    return 0;
}
