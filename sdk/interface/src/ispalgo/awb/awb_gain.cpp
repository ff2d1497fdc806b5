// AWB gains: the target of a frame from its light sources, the walk of the
// current gains toward it, strength, the check that keeps every gain at or
// above 1.0, and the manual modes.
#include <algorithm>

#include "awb_handle.h"
#include "cam_os_wrapper.h"

LX_U64 awb_div128(AWB_U128 n, AWB_U128 d) {
    if (!d.hi && !d.lo) d.lo = 1;
    if (!n.hi && !d.hi) return CamOsMathDivU64(n.lo, d.lo, nullptr);
    // Shift and subtract, one quotient bit at a time.
    AWB_U128 q = {0, 0}, r = {0, 0};
    for (int i = 127; i >= 0; --i) {
        const LX_U64 bit = i >= 64 ? (n.hi >> (i - 64)) & 1u : (n.lo >> i) & 1u;
        r = {(r.hi << 1) | (r.lo >> 63), (r.lo << 1) | bit};
        if (r.hi > d.hi || (r.hi == d.hi && r.lo >= d.lo)) {
            r = {r.hi - d.hi - (r.lo < d.lo ? 1u : 0u), r.lo - d.lo};
            if (i >= 64) q.hi |= 1ull << (i - 64);
            else q.lo |= 1ull << i;
        }
    }
    return q.hi ? ~0ull : q.lo;
}

namespace {

// Gains that make the sums grey, with half the count as rounding term.
AWB_RBGAIN gains_of_sums(LX_U64 r, LX_U64 g, LX_U64 b, LX_U64 count) {
    const LX_U64 half = count / 2;
    LX_U64 gn = g + half;
    if (!gn) gn = 1;
    return {awb_sat_u32(awb_muldiv(gn, 1024, r + half)), awb_sat_u32(awb_muldiv(gn, 1024, b + half))};
}

// (a * wa + b * wb) / (wa + wb) of two gains.
LX_U64 weighted_mean(LX_U64 a, LX_U64 wa, LX_U64 b, LX_U64 wb) {
    return awb_div128(awb_add128(awb_mul128(a, wa), awb_mul128(b, wb)), awb_u128(wa + wb));
}

AWB_RBGAIN light_gains(const AWB_LIGHT_COUNT &c, bool by_region) {
    return gains_of_sums(c.u4SumR, c.u4SumG, c.u4SumB, by_region ? c.u4RegionCount : c.u4Count);
}

void pAWB_GetLightGain_GrayWorld(AWB_HND h, LX_U32 *rgain, LX_U32 *bgain) {
    const AWB_LIGHT_COUNT &t = h->sTotalCount;
    const AWB_RBGAIN g = gains_of_sums(t.u4SumR, t.u4SumG, t.u4SumB, t.u4Count);
    *rgain = g.u4Rgain;
    *bgain = g.u4Bgain;
    h->sLightGain[AWB_GAIN_NORMAL] = g;
}

void pAWB_GetLightGain_Balance(AWB_HND h, LX_U32 *rgain, LX_U32 *bgain) {
    const AWB_ADJUSTABLE_SETTING &p = h->AwbParam;
    AWB_U128 sr = {0, 0}, sg = {0, 0}, sb = {0, 0};
    for (LX_U32 i = p.u2LightStart; i <= p.u2LightEnd && i < AWB_CT_NUM; ++i) {
        const AWB_LIGHT_COUNT &c = h->sLightCount[i];
        const LX_U64 v = c.u4LvWeight, half = c.u4RegionCount / 2;
        sr = awb_add128(sr, awb_mul128(v, c.u4SumR + half));
        sg = awb_add128(sg, awb_mul128(v, c.u4SumG + half));
        sb = awb_add128(sb, awb_mul128(v, c.u4SumB + half));
    }
    if (!sg.hi && !sg.lo) sg.lo = 1;
    // Sums below 2^76 (ten lights, 16-bit LV weights): times 1024 by a shift.
    const AWB_U128 g1024 = {(sg.hi << 10) | (sg.lo >> 54), sg.lo << 10};
    *rgain = awb_sat_u32(awb_div128(g1024, sr));
    *bgain = awb_sat_u32(awb_div128(g1024, sb));
    if (p.u2LightStart > p.u2LightEnd) *rgain = *bgain = AWB_GAIN_UNIT;
    h->sLightGain[AWB_GAIN_NORMAL] = {*rgain, *bgain};
}

// Weighted mean of the first and second light; the third joins only when it
// sits on the other side of the first and weighs enough beside the second.
void pAWB_GetLightGain_Normal(AWB_HND h, LX_U32 *rgain, LX_U32 *bgain) {
    const LX_U8 f = h->uLightFirst, s = h->uLightSecond, t = h->uLightThird;
    const AWB_RBGAIN g1 = light_gains(h->sLightCount[f], true);
    LX_U64 r = g1.u4Rgain, b = g1.u4Bgain;
    if (s < AWB_CT_NUM) {
        const AWB_RBGAIN g2 = light_gains(h->sLightCount[s], true);
        const LX_U64 w1 = h->sLightCount[f].u4Weight, w2 = h->sLightCount[s].u4Weight;
        r = weighted_mean(g2.u4Rgain, w2, g1.u4Rgain, w1);
        b = weighted_mean(g2.u4Bgain, w2, g1.u4Bgain, w1);
        const bool neighbours = f >= 1 && f <= 8 && t < AWB_CT_NUM &&
                                ((s == f - 1 && t == f + 1) || (s == f + 1 && t == f - 1));
        if (w2 && neighbours) {
            const LX_U64 w3 = h->sLightCount[t].u4Weight;
            if (w3 && h->AwbParam.uMixThirdThd < 100 * w3 / w2) {
                const AWB_RBGAIN g3 = light_gains(h->sLightCount[t], false);
                r = weighted_mean(g3.u4Rgain, w3, r, w1 + w2);
                b = weighted_mean(g3.u4Bgain, w3, b, w1 + w2);
            }
        }
    }
    *rgain = awb_sat_u32(r);
    *bgain = awb_sat_u32(b);
    h->sLightGain[AWB_GAIN_NORMAL] = {*rgain, *bgain};
}

bool user_light_active(AWB_HND h) {
    const AWB_ADJUSTABLE_SETTING &p = h->AwbParam;
    return p.Awb.eAdvType == AWB_ADV_ADVANCE && p.Adv.bEnable && h->uUserLightFirst < AWB_USER_AREA_NUM;
}

void pAWB_GetUserGain(AWB_HND h, LX_U32 *rgain, LX_U32 *bgain) {
    const AWB_LIGHT_COUNT &c = h->sUserCount[h->uUserLightFirst];
    const LX_U64 half = c.u4Count / 2;
    if (!(c.u4SumR + half) || !(c.u4SumG + half) || !(c.u4SumB + half)) return;
    const AWB_RBGAIN g = gains_of_sums(c.u4SumR, c.u4SumG, c.u4SumB, c.u4Count);
    *rgain = g.u4Rgain;
    *bgain = g.u4Bgain;
    h->sLightGain[AWB_GAIN_USER] = g;
}

void pAWB_GetDaylightGain(AWB_HND h, LX_U32 *rgain, LX_U32 *bgain) {
    *rgain = h->AwbParam.stAwbCtCurve[AWB_CT_6500K].u2Rgain;
    *bgain = h->AwbParam.stAwbCtCurve[AWB_CT_6500K].u2Bgain;
}

void pAWB_GetPrevGain(AWB_HND h, LX_U32 *rgain, LX_U32 *bgain) {
    *rgain = h->sPreGain[0].u4Rgain;
    *bgain = h->sPreGain[0].u4Bgain;
    h->sLightGain[AWB_GAIN_PRE] = {*rgain, *bgain};
}

void pAWB_MixDaylightGain(AWB_HND h, LX_U32 default_rgain, LX_U32 default_bgain, LX_U32 *rgain, LX_U32 *bgain) {
    LX_U16 pct;
    pAWB_GetWeight(h, h->AwbParam.u2AwbDefaultGainPercent[h->uLightFirst], h->u4LvValue, &pct);
    const LX_U64 p = pct > 100 ? 100 : pct;  // a share beyond 100 % would turn the mix negative
    *rgain = awb_sat_u32(((LX_U64)default_rgain * p + (LX_U64)*rgain * (100 - p)) / 100);
    *bgain = awb_sat_u32(((LX_U64)default_bgain * p + (LX_U64)*bgain * (100 - p)) / 100);
    h->sLightGain[AWB_GAIN_MIX_1] = {*rgain, *bgain};
}

void pAWB_GetPreferenceGain(AWB_HND h, LX_U32 *rgain, LX_U32 *bgain) {
    LX_U16 pr, pb;
    pAWB_GetWeight(h, h->AwbParam.Awb.u2PreferRRatio[h->uLightFirst], h->u4LvValue, &pr);
    pAWB_GetWeight(h, h->AwbParam.Awb.u2PreferBRatio[h->uLightFirst], h->u4LvValue, &pb);
    if (pr != 100) *rgain = awb_sat_u32((LX_U64)*rgain * pr / 100);
    if (pb != 100) *bgain = awb_sat_u32((LX_U64)*bgain * pb / 100);
    h->sLightGain[AWB_GAIN_PREFER_1] = {*rgain, *bgain};
}

void pAWB_MixUserGain(AWB_HND h, LX_U32 *rgain, LX_U32 *bgain) {
    if (h->uUserLightFirst >= AWB_USER_AREA_NUM) return;
    const AWB_LIGHT_COUNT &c = h->sUserCount[h->uUserLightFirst];
    if (!c.u4SumR || !c.u4SumG || !c.u4SumB) return;
    const LX_U64 ur = awb_sat_u32(awb_muldiv(c.u4SumG, 1024, c.u4SumR));
    const LX_U64 ub = awb_sat_u32(awb_muldiv(c.u4SumG, 1024, c.u4SumB));
    const LX_U64 w2 = h->uLightSecond < AWB_CT_NUM ? h->sLightCount[h->uLightSecond].u4Weight : 0;
    // Full-width weights: cut to 16 bits they would wrap and tip the mix.
    const LX_U64 l = h->sLightCount[h->uLightFirst].u4Weight + w2, u = c.u4Weight;
    if (u + l == 0) return;
    const LX_U64 pl = awb_muldiv(100, l, u + l), pu = awb_muldiv(100, u, u + l);
    *rgain = awb_sat_u32((ur * pu + *rgain * pl) / 100);
    *bgain = awb_sat_u32((ub * pu + *bgain * pl) / 100);
    h->sLightGain[AWB_GAIN_USER] = {*rgain, *bgain};
}

LX_U32 abs_diff(LX_U32 a, LX_U32 b) { return a > b ? a - b : b - a; }

}  // namespace

LX_U16 pAWB_CalcColorTempByWeight(AWB_HND h) {
    LX_U64 W = 0;
    AWB_U128 S = {0, 0};
    for (LX_U8 l : {h->uLightFirst, h->uLightSecond, h->uLightThird}) {
        if (l >= AWB_CT_NUM) continue;
        const LX_U64 w = h->sLightCount[l].u4Weight;
        W += w;
        S = awb_add128(S, awb_mul128(w, h->AwbParam.stAwbCtCurve[l].u2ColorTemp));
    }
    return W && (S.hi || S.lo) ? awb_sat_u16(awb_div128(S, awb_u128(W))) : h->u2ColorTemp;
}

LX_U32 pAWB_GetSmoothBySpeed(AWB_HND, LX_U8 uSpeed, LX_U32 curr_value, LX_U32 final_value) {
    if (uSpeed > 99) return final_value;
    LX_U32 v = awb_sat_u32(((LX_U64)final_value * uSpeed + (LX_U64)curr_value * (100 - uSpeed)) / 100);
    if (v == curr_value && final_value != curr_value) v = final_value > curr_value ? v + 1 : v - 1;
    return v;
}

LX_CAM_BOOL pAWB_isConverged(AWB_HND h) {
    const AWB_RBGAIN &t = h->sLightGain[AWB_GAIN_TARGET];
    const LX_U32 d = std::max(abs_diff(h->sCurGain.u4Rgain, t.u4Rgain), abs_diff(h->sCurGain.u4Bgain, t.u4Bgain));
    AWB_STABILIZER &st = h->sStabilizer;
    if (!h->IsStable) {
        if (d > h->AwbParam.Awb.uConvInThd) return LX_FALSE;
        h->IsStable = 1;
        st.strInfo.u2UnStbCnt = 0;
        return LX_TRUE;
    }
    if (d <= h->AwbParam.Awb.uConvOutThd) {
        st.strInfo.u2UnStbCnt = 0;
        return LX_TRUE;
    }
    if (st.strParam.bEnable) {
        const LX_U32 g = std::max(abs_diff(st.strInfo.CurGW.u4Rgain, st.strInfo.RefGW.u4Rgain),
                                  abs_diff(st.strInfo.CurGW.u4Bgain, st.strInfo.RefGW.u4Bgain));
        if (g <= st.strParam.u2GlbGainThd) {
            st.strInfo.u2UnStbCnt = 0;
            return LX_TRUE;
        }
        if (!(d > st.strParam.u2ForceTriGainThd && g > st.strParam.u2ForceTriGainThd)) {
            ++st.strInfo.u2UnStbCnt;
            if (st.strInfo.u2UnStbCnt <= st.strParam.u2CountThd) return LX_TRUE;
        }
    }
    h->IsStable = 0;
    return LX_FALSE;
}

LX_S32 pAWB_CalcGain(AWB_HND h) {
    AWB_ADJUSTABLE_SETTING &p = h->AwbParam;
    LX_U32 rgain = AWB_GAIN_UNIT, bgain = AWB_GAIN_UNIT, def_r, def_b;
    pAWB_GetDaylightGain(h, &def_r, &def_b);
    LX_U32 gw_r, gw_b;
    pAWB_GetLightGain_GrayWorld(h, &gw_r, &gw_b);
    h->sStabilizer.strInfo.CurGW = {gw_r, gw_b};

    if (p.Awb.eAlgType == AWB_ALG_GRAYWORLD) {
        rgain = gw_r;
        bgain = gw_b;
    } else if (h->uLightFirst >= AWB_CT_NUM) {
        pAWB_GetPrevGain(h, &rgain, &bgain);
        if (user_light_active(h)) pAWB_GetUserGain(h, &rgain, &bgain);
    } else {
        if (p.Awb.eAlgType == AWB_ALG_BALANCE)
            pAWB_GetLightGain_Balance(h, &rgain, &bgain);
        else
            pAWB_GetLightGain_Normal(h, &rgain, &bgain);
        pAWB_MixDaylightGain(h, def_r, def_b, &rgain, &bgain);
        pAWB_GetPreferenceGain(h, &rgain, &bgain);
        if (user_light_active(h))
            pAWB_MixUserGain(h, &rgain, &bgain);
        else
            h->sLightGain[AWB_GAIN_USER] = {AWB_GAIN_UNIT, AWB_GAIN_UNIT};
    }
    const LX_U16 ct = pAWB_CalcColorTempByWeight(h);

    const AWB_CTLIMIT &lim = p.Awb.stCTLimit;
    rgain = std::max<LX_U32>(std::min<LX_U32>(rgain, lim.u2MaxRgain), lim.u2MinRgain);
    bgain = std::max<LX_U32>(std::min<LX_U32>(bgain, lim.u2MaxBgain), lim.u2MinBgain);

    for (int i = AWB_PRE_GAIN_NUM - 1; i > 0; --i) {
        h->sPreGain[i].u4Rgain = h->sPreGain[i - 1].u4Rgain;
        h->sPreGain[i].u4Bgain = h->sPreGain[i - 1].u4Bgain;
    }
    h->sPreGain[0].u4Rgain = rgain;
    h->sPreGain[0].u4Bgain = bgain;
    h->sLightGain[AWB_GAIN_TARGET] = {rgain, bgain};

    if (pAWB_isConverged(h) && !h->bForceUpdate) {
        if (h->uGainStableCount <= 2) {
            h->sCurGain.u4Rgain = pAWB_GetSmoothBySpeed(h, 50, h->sCurGain.u4Rgain, rgain);
            h->sCurGain.u4Bgain = pAWB_GetSmoothBySpeed(h, 50, h->sCurGain.u4Bgain, bgain);
            h->u2ColorTemp = (LX_U16)pAWB_GetSmoothBySpeed(h, 50, h->u2ColorTemp, ct);
            ++h->uGainStableCount;
        } else if (h->uGainStableCount == 3) {
            h->sStabilizer.strInfo.RefGW = h->sStabilizer.strInfo.CurGW;
            h->uGainStableCount = 4;
        }
    } else {
        // Frames since the first run; saturating, so a long run never wraps
        // back into the fast-start window.
        const LX_U32 since = h->u4SyncFrameCnt - h->u4InitFrameCnt;
        const LX_U32 d = since > 0xFFFF ? 0xFFFF : since;
        if (p.uDoFastAWBThr <= d) {
            h->sCurGain.u4Rgain = pAWB_GetSmoothBySpeed(h, p.Awb.uSpeed, h->sCurGain.u4Rgain, rgain);
            h->sCurGain.u4Bgain = pAWB_GetSmoothBySpeed(h, p.Awb.uSpeed, h->sCurGain.u4Bgain, bgain);
            h->u2ColorTemp = (LX_U16)pAWB_GetSmoothBySpeed(h, p.Awb.uSpeed, h->u2ColorTemp, ct);
        } else {
            h->sCurGain.u4Rgain = rgain;
            h->sCurGain.u4Bgain = bgain;
            h->u2ColorTemp = ct;
        }
        h->uGainStableCount = 0;
        h->bForceUpdate = LX_FALSE;
    }
    return 0;
}

LX_S32 pAWB_GainStrength(AWB_HND h) {
    const AWB_PARAMS &a = h->AwbParam.Awb;
    h->sApplyGain.u4Rgain = a.uRGStrength == 128 ? h->sCurGain.u4Rgain : (a.uRGStrength * h->sCurGain.u4Rgain) >> 7;
    h->sApplyGain.u4Bgain = a.uBGStrength == 128 ? h->sCurGain.u4Bgain : (a.uBGStrength * h->sCurGain.u4Bgain) >> 7;
    return 0;
}

// Lifts the smaller of R and B to 1.0 and G with it, so no channel is cut.
LX_S32 pAWB_CheckGain(AWB_HND h) {
    const LX_U64 r = awb_sat_u16(h->sApplyGain.u4Rgain), b = awb_sat_u16(h->sApplyGain.u4Bgain);
    LX_U32 R, G, B;
    if (r <= 1023 && r < b) {
        const LX_U64 g = 1048576 / (r + 1);
        R = AWB_GAIN_UNIT;
        G = (LX_U32)std::min<LX_U64>(std::max<LX_U64>(g, AWB_GAIN_UNIT), AWB_GAIN_MAX);
        B = (LX_U32)std::min<LX_U64>(std::max<LX_U64>((g * b) >> 10, AWB_GAIN_UNIT), AWB_GAIN_MAX);
    } else if (b <= 1023 && r > b) {
        const LX_U64 g = 1048576 / (b + 1);
        B = AWB_GAIN_UNIT;
        G = (LX_U32)std::min<LX_U64>(std::max<LX_U64>(g, AWB_GAIN_UNIT), AWB_GAIN_MAX);
        R = (LX_U32)std::min<LX_U64>(std::max<LX_U64>((g * r) >> 10, AWB_GAIN_UNIT), AWB_GAIN_MAX);
    } else {
        G = AWB_GAIN_UNIT;
        R = (LX_U32)std::min<LX_U64>(std::max<LX_U64>(r, AWB_GAIN_UNIT), AWB_GAIN_MAX);
        B = (LX_U32)std::min<LX_U64>(std::max<LX_U64>(b, AWB_GAIN_UNIT), AWB_GAIN_MAX);
    }
    h->sApplyGain = {R, G, G, B};
    return 0;
}

LX_S32 pAWB_ApplyGain(AWB_HND h) {
    const AWB_ISP_GAIN &g = h->sApplyGain;
    h->sCurIspGain = {(LX_U16)g.u4Rgain, (LX_U16)g.u4Grgain, (LX_U16)g.u4Gbgain, (LX_U16)g.u4Bgain};
    AwbOutput_t *out = h->AwbOutputParameter;
    if (out) {
        out->tGain = {(LX_U16)g.u4Rgain, (LX_U16)g.u4Grgain, (LX_U16)g.u4Gbgain, (LX_U16)g.u4Bgain};
        out->nColorTmp = h->u2ColorTemp;
    }
    return 0;
}

LX_S32 pAWB_ManualGain(AWB_HND h) {
    const MWB_PARAMS &m = h->AwbParam.Mwb;
    if (m.u2Rgain > AWB_GAIN_MAX || m.u2Grgain > AWB_GAIN_MAX || m.u2Gbgain > AWB_GAIN_MAX || m.u2Bgain > AWB_GAIN_MAX)
        return -1;
    h->sApplyGain = {m.u2Rgain, m.u2Grgain, m.u2Gbgain, m.u2Bgain};
    return pAWB_ApplyGain(h);
}

LX_S32 pAWB_CTManualGain(AWB_HND h) {
    const LX_U32 ct = h->AwbParam.CtMwb.u4CT;
    pAWB_ColorTempToGain(h, ct, &h->sApplyGain.u4Rgain, &h->sApplyGain.u4Bgain);
    h->u2ColorTemp = awb_sat_u16(ct);
    pAWB_CheckGain(h);
    return pAWB_ApplyGain(h);
}

LX_S32 pAWB_ColorTempToGain(AWB_HND h, LX_U32 nCT, LX_U32 *nCtRgain, LX_U32 *nCtBgain) {
    const AWB_CT_CURVE *c = h->AwbParam.stAwbCtCurve;
    if (nCT >= c[0].u2ColorTemp) {
        *nCtRgain = c[0].u2Rgain;
        *nCtBgain = c[0].u2Bgain;
        return 0;
    }
    int i = 1;
    while (i < AWB_CT_NUM && nCT < c[i].u2ColorTemp) ++i;
    const LX_S32 span = i < AWB_CT_NUM ? (LX_S32)c[i - 1].u2ColorTemp - (LX_S32)c[i].u2ColorTemp : 0;
    if (span <= 0) {
        *nCtRgain = *nCtBgain = 1;
        return -1;
    }
    const LX_S64 dt = (LX_S64)nCT - c[i].u2ColorTemp;
    const LX_S64 r = c[i].u2Rgain + (dt * ((LX_S64)c[i - 1].u2Rgain - c[i].u2Rgain)) / span;
    const LX_S64 b = c[i].u2Bgain + (dt * ((LX_S64)c[i - 1].u2Bgain - c[i].u2Bgain)) / span;
    *nCtRgain = (LX_U32)(r < 1 ? 1 : r);
    *nCtBgain = (LX_U32)(b < 1 ? 1 : b);
    return 0;
}
