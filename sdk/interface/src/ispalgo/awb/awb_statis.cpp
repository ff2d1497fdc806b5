// AWB statistics: blocks to white points, light areas and the ranking of
// the light sources.
#include <string.h>

#include "awb_handle.h"
#include "cam_os_wrapper.h"

namespace {

struct WhitePoint {
    LX_S32 x, y;
};

bool in_lum_window(const AWB_ADJUSTABLE_SETTING &p, const ISP_AWB_AVGS &b) {
    const LX_U32 lo = p.u2LumMin, hi = p.u2LumMax;
    return b.uAvgR > lo && b.uAvgR < hi && b.uAvgG > lo && b.uAvgG < hi && b.uAvgB > lo && b.uAvgB < hi;
}

WhitePoint white_point(const ISP_AWB_AVGS &b) {
    const LX_U32 d = DivGTbl[b.uAvgG];
    return {(LX_S32)((d * b.uAvgR) >> 8), (LX_S32)((d * b.uAvgB) >> 8)};
}

// The edge test runs in 64 bits: light areas from the IQ file or the control
// path may hold any 32-bit coordinates.
bool in_area(const AWB_LIGHT_AREA &a, LX_S64 x, LX_S64 y) {
    const LX_S64 p0x = a.P0_X, p0y = a.P0_Y, p1x = a.P1_X, p1y = a.P1_Y;
    const LX_S64 p2x = a.P2_X, p2y = a.P2_Y, p3x = a.P3_X, p3y = a.P3_Y;
    if (p1x != p0x && p1y != p0y) {
        const LX_S64 slope = ((p1x - p0x) * 1024) / (p1y - p0y);
        if (p0x + ((y - p0y) * slope) / 1024 > x) return false;
    } else if (p1x == p0x && p0x > x) {
        return false;
    }
    if (p3x != p2x && p3y != p2y) {
        const LX_S64 slope = ((p3x - p2x) * 1024) / (p3y - p2y);
        if (x > p2x + ((y - p2y) * slope) / 1024) return false;
    } else if (p3x == p2x && x > p2x) {
        return false;
    }
    return p1y <= y && y <= p0y;
}

// The wide sums cannot overflow (bounds at AWB_LIGHT_COUNT).
void accumulate(AWB_LIGHT_COUNT &c, LX_U32 w, const ISP_AWB_AVGS &b) {
    awb_add_u32(&c.u4Count, 1);
    c.u4RegionCount += w;
    c.u4SumR += (LX_U64)w * b.uAvgR;
    c.u4SumG += (LX_U64)w * b.uAvgG;
    c.u4SumB += (LX_U64)w * b.uAvgB;
}

void add_plain(AWB_LIGHT_COUNT &c, const ISP_AWB_AVGS &b, bool count) {
    if (count) awb_add_u32(&c.u4Count, 1);
    c.u4SumR += b.uAvgR;
    c.u4SumG += b.uAvgG;
    c.u4SumB += b.uAvgB;
}

// One block of one exposure: user areas, light areas, high-precision boxes
// (these always take the long exposure's block idx).
void count_block(AWB_HND h, const ISP_AWB_AVGS &b, LX_U32 idx, bool focus_ls) {
    AWB_ADJUSTABLE_SETTING &p = h->AwbParam;
    if (!in_lum_window(p, b)) return;
    const WhitePoint pt = white_point(b);
    const LX_U32 w = p.Awb.u4WeightWin[MapY_Tbl[idx / AWB_STATIS_COLS]][MapX_Tbl[idx % AWB_STATIS_COLS]];
    if (p.Awb.eAdvType == AWB_ADV_ADVANCE && p.Adv.bEnable) {
        LX_U8 u = AWB_USER_AREA_NUM;
        LX_CAM_BOOL exclude = LX_FALSE;
        pAWB_GetLightAreaUser(h, pt.x, pt.y, &u, &exclude);
        if (u < AWB_USER_AREA_NUM) {
            if (exclude) return;
            accumulate(h->sUserCount[u], w, b);
        }
    }
    const LX_U8 li = pAWB_GetLightArea(h, h->pLightArea, AWB_CT_NUM, pt.x, pt.y, p.u2LightStart, p.u2LightEnd);
    if (li < AWB_CT_NUM) accumulate(h->sLightCount[li], w, b);
    if (focus_ls)
        pAWB_GetLightAreaHighPrecisionCount(h, p.stAwbLightAreaHighPreTotal, AWB_CT_HIGHPRE_NUM, pt.x, pt.y, idx);
    awb_add_u32(&h->u4EffectTotalCount, 1);
}

LX_U32 lv_interp(const LX_U16 *t, LX_U32 lv, bool *limited) {
    *limited = false;
    if (lv >= 170) return t[AWB_LV_POINTS - 1];
    const LX_U32 i = lv / 10, f = lv % 10;
    if (f == 0) return t[i];
    LX_S32 w = (LX_S32)t[i] + ((LX_S32)f * ((LX_S32)t[i + 1] - (LX_S32)t[i])) / 10;
    LX_S32 mx = 0;
    for (int k = 0; k < AWB_LV_POINTS; ++k)
        if (t[k] > mx) mx = t[k];
    if (w < 0 || w > mx) {
        *limited = true;
        w = w < 0 ? 0 : mx;
    }
    return (LX_U32)w;
}

// Largest non-zero weight among the lights not yet picked; lowest index on a
// tie; AWB_CT_NUM when none is left.
LX_U8 pick(const AWB_LIGHT_COUNT *c, LX_U8 skip1, LX_U8 skip2) {
    LX_U8 best = AWB_CT_NUM;
    LX_U64 bw = 0;
    for (LX_U8 i = 0; i < AWB_CT_NUM; ++i) {
        if (i == skip1 || i == skip2) continue;
        if (c[i].u4Weight > bw) {
            bw = c[i].u4Weight;
            best = i;
        }
    }
    return best;
}

void to_ct_params(const AWB_LIGHT_AREA *areas, LX_U16 *out) {
    for (int i = 0; i < AWB_CT_NUM; ++i) {
        const AWB_LIGHT_AREA &a = areas[i];
        out[4 * i + 0] = (LX_U16)a.P0_X;
        out[4 * i + 1] = (LX_U16)a.P0_Y;
        out[4 * i + 2] = (LX_U16)((LX_S64)a.P3_X - a.P0_X);
        out[4 * i + 3] = (LX_U16)((LX_S64)a.P0_Y - a.P1_Y);
    }
}

}  // namespace

void pAWB_RBgainToXY(AWB_HND, LX_U32 nRgain, LX_U32 nBgain, LX_S32 *x, LX_S32 *y) {
    *x = (LX_S32)(102400 / nRgain);
    *y = (LX_S32)(102400 / nBgain);
}

LX_U8 pAWB_GetLightArea(AWB_HND, const AWB_LIGHT_AREA *areas, LX_U8 lightnum, LX_S32 x, LX_S32 y, LX_U16 StartIdx,
                        LX_U16 EndIdx) {
    for (LX_U32 i = StartIdx; i <= EndIdx && i < lightnum; ++i)
        if (in_area(areas[i], x, y)) return (LX_U8)i;
    return lightnum;
}

void pAWB_GetLightAreaUser(AWB_HND h, LX_S32 x, LX_S32 y, LX_U8 *nLightIdx, LX_CAM_BOOL *bExclude) {
    const LX_U8 u = pAWB_GetLightArea(h, h->AwbParam.stAwbLightUserArea, AWB_USER_AREA_NUM, x, y, 0,
                                      AWB_USER_AREA_NUM - 1);
    *nLightIdx = u;
    if (u < AWB_USER_AREA_NUM) *bExclude = h->AwbParam.Adv.stUserArea[u].bExclude;
}

void pAWB_GetLightAreaHighPrecisionCount(AWB_HND h, const AWB_LIGHT_AREA *areas, LX_U8 lightnum, LX_S32 x, LX_S32 y,
                                         LX_U32 index) {
    const IspAwbStatis_t *st = h->AwbInputParameter.pAwbStatis;
    if (!st || index >= AWB_STATIS_BLOCKS) return;
    const LX_U32 last = 2u * h->AwbParam.u2LightEnd;
    for (LX_U32 k = 2u * h->AwbParam.u2LightStart; k <= last && k < lightnum; ++k) {
        const AWB_LIGHT_AREA &a = areas[k];
        if (a.P0_X <= x && x <= a.P2_X && a.P1_Y <= y && y <= a.P0_Y)
            add_plain(h->sLightCountHighPre[k], st->Avgs[index], true);
    }
}

void pAWB_UpdateLightAeraHighPrecision(AWB_HND h) {
    AWB_ADJUSTABLE_SETTING &p = h->AwbParam;
    const AWB_LIGHT_AREA *src = h->pLightArea;
    for (int j = 0; j < AWB_CT_NUM; ++j) {
        p.stAwbLightAreaHighPreTotal[2 * j] = src[j];
        if (j + 1 == AWB_CT_NUM) break;
        const LX_S32 *a = &src[j].P0_X, *b = &src[j + 1].P0_X;
        LX_S32 *m = &p.stAwbLightAreaHighPreTotal[2 * j + 1].P0_X;
        for (int k = 0; k < 8; ++k) m[k] = (LX_S32)(((LX_S64)a[k] + b[k]) / 2);
    }
}

LX_S32 pAWB_GetStatisticsExt(AWB_HND h) {
    const AwbInput_t &in = h->AwbInputParameter;
    AWB_ADJUSTABLE_SETTING &p = h->AwbParam;
    memset(&h->sTotalCount, 0, sizeof h->sTotalCount);
    memset(h->sLightCount, 0, sizeof h->sLightCount);
    memset(h->sLightCountHighPre, 0, sizeof h->sLightCountHighPre);
    memset(h->sUserCount, 0, sizeof h->sUserCount);
    h->u4EffectTotalCount = 0;
    if (!in.pAwbStatis) return 0;
    const bool focus_ls = p.Awb.eAlgType == AWB_ALG_FOCUS && h->sMultiLS.sParam.bEnable;
    const LX_U32 sx = p.u2SubSampleX ? p.u2SubSampleX : 1, sy = p.u2SubSampleY ? p.u2SubSampleY : 1;
    const ISP_AWB_AVGS *lng = in.pAwbStatis->Avgs;
    for (LX_U32 r = 0; r < AWB_STATIS_ROWS; r += sy)
        for (LX_U32 c = 0; c < AWB_STATIS_COLS; c += sx) {
            const LX_U32 i = AWB_STATIS_COLS * r + c;
            add_plain(h->sTotalCount, lng[i], true);
            count_block(h, lng[i], i, focus_ls);
        }
    if (in.HDRMode == 1 && in.pAwbStatisShort) {
        const ISP_AWB_AVGS *sht = in.pAwbStatisShort->Avgs;
        for (LX_U32 r = 0; r < AWB_STATIS_ROWS; r += sy)
            for (LX_U32 c = 0; c < AWB_STATIS_COLS; c += sx) {
                const LX_U32 i = AWB_STATIS_COLS * r + c;
                add_plain(h->sTotalCount, lng[i], false);
                count_block(h, sht[i], i, focus_ls);
            }
    }
    AWB_DAYNIGHT_DETECTION &dn = h->sDNDetection;
    if (dn.strParam.bEnable) {
        const LX_U64 g = h->sTotalCount.u4SumG ? h->sTotalCount.u4SumG : 1;
        const LX_U64 r = 100ull * h->sTotalCount.u4SumR / g, b = 100ull * h->sTotalCount.u4SumB / g;
        const LX_U64 dr = r > 100 ? r - 100 : 100 - r, db = b > 100 ? b - 100 : 100 - b;
        // Squares of 32-bit distances may pass 64 bits' worth only in theory;
        // saturate each step.
        const LX_U64 sq_r = dr > 0xFFFFFFFFull ? ~0ull : dr * dr, sq_b = db > 0xFFFFFFFFull ? ~0ull : db * db;
        const LX_U64 score = sq_r > ~0ull - sq_b ? ~0ull : sq_r + sq_b;
        dn.strInfo.u4N2D_VsbLtScore = awb_sat_u32(score);
        dn.strInfo.bNight2Day = dn.strInfo.u4N2D_VsbLtScore > dn.strParam.u4N2D_VsbLtScoreThd ? LX_TRUE : LX_FALSE;
    } else {
        dn.strInfo.bNight2Day = LX_FALSE;
    }
    return 0;
}

void pAWB_GetLightWeight(AWB_HND h, LX_U8 lightsource, LX_U32 lv, LX_U16 *weight) {
    bool limited;
    *weight = (LX_U16)lv_interp(h->AwbParam.Awb.u2LvWeight[lightsource], lv, &limited);
}

void pAWB_GetWeight(AWB_HND, const LX_U16 *weight_table, LX_U32 lv, LX_U16 *weight) {
    bool limited;
    *weight = (LX_U16)lv_interp(weight_table, lv, &limited);
    if (limited) {
        const LX_U32 i = lv / 10;
        CamOsPrintf("[%s] - pointnum = %03u, weight1 = %03u, weight2 = %03u, final weight= %03u\n", "pAWB_GetWeight",
                    lv % 10, (unsigned)weight_table[i], (unsigned)weight_table[i + 1], (unsigned)*weight);
    }
}

LX_CAM_BOOL pAWB_GetLightSource(AWB_HND h) {
    AWB_PARAMS &a = h->AwbParam.Awb;
    AWB_MULTI_LS &ls = h->sMultiLS;
    for (LX_U8 i = 0; i < AWB_CT_NUM; ++i) {
        AWB_LIGHT_COUNT &c = h->sLightCount[i];
        if (!c.u4SumR) c.u4SumR = 1;
        if (!c.u4SumG) c.u4SumG = 1;
        if (!c.u4SumB) c.u4SumB = 1;
        c.u4Weight = 0;
        c.u4LvWeight = 0;
        if (c.u4Count < h->AwbParam.u2CountThd) continue;
        LX_U16 lvw;
        pAWB_GetLightWeight(h, i, h->u4LvValue, &lvw);
        if (a.eAlgType != AWB_ALG_FOCUS) {
            c.u4LvWeight = lvw;
            c.u4Weight = c.u4RegionCount * lvw / 100;
        } else {
            const LX_U32 tgt = ls.u2AwbDynamicCTWeight[1][i], cur = ls.u2AwbDynamicCTWeight[0][i];
            const LX_U32 d = a.uSpeed >= 100 ? tgt : (a.uSpeed * tgt + (100u - a.uSpeed) * cur) / 100;
            ls.u2AwbDynamicCTWeight[0][i] = (LX_U16)d;
            c.u4Weight = awb_muldiv(c.u4RegionCount * lvw / 100, d, 100);
        }
    }
    h->uLightFirst = pick(h->sLightCount, AWB_CT_NUM, AWB_CT_NUM);
    h->uLightSecond = pick(h->sLightCount, h->uLightFirst, AWB_CT_NUM);
    h->uLightThird = pick(h->sLightCount, h->uLightFirst, h->uLightSecond);
    return LX_TRUE;
}

LX_CAM_BOOL pAWB_GetUserLight(AWB_HND h) {
    AWB_ADJUSTABLE_SETTING &p = h->AwbParam;
    h->uUserLightFirst = AWB_USER_AREA_NUM;
    if (p.Awb.eAdvType != AWB_ADV_ADVANCE || !p.Adv.bEnable) return LX_FALSE;
    LX_U64 bw = 0;
    for (LX_U8 u = 0; u < AWB_USER_AREA_NUM; ++u) {
        if (!p.stAwbLightUserParam[u].bEnable) continue;
        AWB_LIGHT_COUNT &c = h->sUserCount[u];
        if (!c.u4SumR) c.u4SumR = 1;
        if (!c.u4SumG) c.u4SumG = 1;
        if (!c.u4SumB) c.u4SumB = 1;
        c.u4Weight = c.u4Count >= p.u2CountThd ? c.u4RegionCount : 0;
        if (c.u4Weight > bw) {
            bw = c.u4Weight;
            h->uUserLightFirst = u;
        }
    }
    return LX_TRUE;
}

LX_S32 pAWB_SetUserExtraArea(AWB_HND h, ADV_PARAMS adv) {
    AWB_ADJUSTABLE_SETTING &p = h->AwbParam;
    p.Adv = adv;
    memset(p.stAwbLightUserParam, 0, sizeof p.stAwbLightUserParam);
    for (int u = 0; u < AWB_USER_AREA_NUM; ++u) {
        const ADV_LT_UNIT &e = adv.stUserArea[u];
        AWB_LIGHT_AREA &a = p.stAwbLightUserArea[u];
        const bool valid = e.u2WhiteRgain >= AWB_GAIN_MIN_LIMIT && e.u2WhiteRgain <= AWB_GAIN_MAX &&
                           e.u2WhiteBgain >= AWB_GAIN_MIN_LIMIT && e.u2WhiteBgain <= AWB_GAIN_MAX &&
                           e.uAreaSize >= 1 && e.uAreaSize <= 32;
        p.stAwbLightUserParam[u].bExclude = e.bExclude;
        if (!valid) {
            a = {1, 1, 1, 1, 1, 1, 1, 1};
            continue;
        }
        const LX_S32 cx = 102400 / e.u2WhiteRgain, cy = 102400 / e.u2WhiteBgain;
        const LX_S32 half = e.uAreaSize / 2, odd = e.uAreaSize % 2;
        const LX_S32 xlo = cx - half - odd > 0 ? cx - half - odd : 0, xhi = cx + half;
        const LX_S32 ylo = cy - half > 0 ? cy - half : 0, yhi = cy + half + odd;
        a = {xlo, yhi, xlo, ylo, xhi, ylo, xhi, yhi};
        p.stAwbLightUserParam[u].bEnable = LX_TRUE;
    }
    return 0;
}

LX_S32 pAWB_GetUserExtraArea(AWB_HND h, ADV_PARAMS *adv) {
    *adv = h->AwbParam.Adv;
    return 0;
}

LX_S32 pAWB_SetGoldenLightArea(AWB_HND h, const AWB_CT_CALIB_S *g) {
    if (g->u2StartIdx > 9 || g->u2EndIdx > 9 || g->u2StartIdx > g->u2EndIdx) return -1;
    const LX_U16 *c = g->u2CtParams;
    for (int i = 0; i < AWB_CT_NUM; ++i) {
        const LX_U16 y = c[4 * i + 1], w = c[4 * i + 2], ht = c[4 * i + 3];
        if (w == 0 || ht == 0 || ht > y) return -1;
        if (i >= 1 && i <= 5 && !(y < c[4 * (i - 1) + 1])) return -1;
        if (i >= 6 && !(c[4 * i] > c[4 * (i - 1)])) return -1;
    }
    AWB_ADJUSTABLE_SETTING &p = h->AwbParam;
    for (int i = 0; i < AWB_CT_NUM; ++i) {
        const LX_S32 x = c[4 * i], y = c[4 * i + 1], w = c[4 * i + 2], ht = c[4 * i + 3];
        p.stAwbLightArea[i] = {x, y, x, y - ht, x + w, y - ht, x + w, y};
    }
    pAWB_BuildCtCurveGains(h, p.stAwbLightArea);
    h->pLightArea = p.stAwbLightArea;
    pAWB_InitCaliParam(h, LX_FALSE);
    pAWB_UpdateLightAeraHighPrecision(h);
    p.u2LightStart = g->u2StartIdx;
    p.u2LightEnd = g->u2EndIdx;
    return 0;
}

LX_S32 pAWB_GetGoldenLightArea(AWB_HND h, AWB_CT_CALIB_S *g) {
    to_ct_params(h->AwbParam.stAwbLightArea, g->u2CtParams);
    g->u2StartIdx = h->AwbParam.u2LightStart;
    g->u2EndIdx = h->AwbParam.u2LightEnd;
    return 0;
}

LX_S32 pAWB_GetCurLightArea(AWB_HND h, AWB_CT_PARAMS_S *c) {
    to_ct_params(h->AwbParam.stAwbCaliLightArea, c->u2CtParams);
    return 0;
}

LX_S32 pAWB_GetCTStatistics(AWB_HND h, LX_U16 *u2Width, LX_U16 *u2Height, LX_U16 *pStatisX, LX_U16 *pStatisY) {
    if (!pStatisX || !pStatisY) return -1;
    const AWB_ADJUSTABLE_SETTING &p = h->AwbParam;
    const LX_U32 sx = p.u2SubSampleX ? p.u2SubSampleX : 1, sy = p.u2SubSampleY ? p.u2SubSampleY : 1;
    const LX_U32 width = AWB_STATIS_COLS / sx < 64 ? AWB_STATIS_COLS / sx : 64, height = AWB_STATIS_ROWS / sy;
    *u2Width = (LX_U16)width;
    *u2Height = (LX_U16)height;
    const IspAwbStatis_t *st = h->AwbInputParameter.pAwbStatis;
    if (!st) return -1;
    for (LX_U32 r = 0; r < height; ++r)
        for (LX_U32 c = 0; c < width; ++c) {
            const ISP_AWB_AVGS &b = st->Avgs[AWB_STATIS_COLS * r + c * sx];
            LX_U16 x = 0, y = 0;
            if (in_lum_window(p, b) && b.uAvgG) {
                const WhitePoint pt = white_point(b);
                x = (LX_U16)pt.x;
                y = (LX_U16)pt.y;
            }
            pStatisX[r * width + c] = x;
            pStatisY[r * width + c] = y;
        }
    return 0;
}
