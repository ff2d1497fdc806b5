// Metering: the luminance of each cell of the two metering windows, the
// weighted and plain window means, the histogram copies with their totals,
// the histogram and sorted-cell percentile queries, BV and LV of the scene,
// the window layout and the weight tables with their setters and getters.
//
// Luminance is in tenths of an 8-bit level (Yx10); APEX values x16384.
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "ae_handle.h"
#include "cam_os_wrapper.h"

namespace {

constexpr unsigned kDbgHistScan = 2;   // histogram scan of a frame
constexpr unsigned kDbgSetting = 5;    // setters and getters
constexpr unsigned kDbgIRHist = 10;    // every IR histogram bin

constexpr LX_U32 kDefaultYx10 = 470;   // the mean of an empty scan
constexpr LX_U32 kWholeGrid = 32;      // the grid DoAe lays the windows out for


LX_U32 cellsAcross(const AE_WIN_CFG &w) { return w.NumX > AE_WIN_MAX_CELLS ? AE_WIN_MAX_CELLS : w.NumX; }
LX_U32 cellsDown(const AE_WIN_CFG &w) { return w.NumY > AE_WIN_MAX_CELLS ? AE_WIN_MAX_CELLS : w.NumY; }

bool hasCells(const AE_WIN_CFG &w) { return w.pBlockCnt && w.pLumYSum && w.pLumYx10 && w.pSortedLumYx10; }

void clearSums(AE_WIN_CFG &w) {
    if (!hasCells(w)) return;
    const LX_U32 n = cellsAcross(w) * cellsDown(w);
    memset(w.pBlockCnt, 0, n * sizeof(LX_U32));
    memset(w.pLumYSum, 0, n * sizeof(LX_U32));
}

// Adds the Y of every block of every cell. Blocks outside this frame's grid
// (a layout made for a larger grid) are not read.
void accumulate(AE_WIN_CFG &w, const ISPAESample_t *avgs, LX_U32 blkX, LX_U32 blkY) {
    if (!hasCells(w)) return;
    const LX_U32 nx = cellsAcross(w), ny = cellsDown(w);
    for (LX_U32 j = 0; j < ny; ++j) {
        const LX_U32 r1 = w.StepY[j + 1] < blkY ? w.StepY[j + 1] : blkY;
        for (LX_U32 i = 0; i < nx; ++i) {
            const LX_U32 c1 = w.StepX[i + 1] < blkX ? w.StepX[i + 1] : blkX;
            const LX_U32 cell = j * nx + i;
            for (LX_U32 r = w.StepY[j]; r < r1; ++r) {
                for (LX_U32 c = w.StepX[i]; c < c1; ++c) {
                    w.pBlockCnt[cell] += 1;
                    w.pLumYSum[cell] += avgs[r * blkX + c].y;
                }
            }
        }
    }
}

// The weight of laid-out cell (j, i). The table holds one weight per cell of
// the count asked for; when fewer cells were laid out (a grid of fewer
// blocks), a cell weighs the asked-for cells of the picture area it covers,
// each by its share of the cell's area (a common scale for all cells).
LX_U32 cellWeight(const AE_WIN_CFG &w, const LX_U8 *wghts, LX_U32 j, LX_U32 i) {
    const LX_U32 nx = cellsAcross(w), ny = cellsDown(w), rx = w.u2ReqNumX, ry = w.u2ReqNumY;
    if (rx <= nx && ry <= ny) return wghts[j * AE_WIN_MAX_CELLS + i];
    // On a scale of nx * rx across, cell i spans [i rx, (i + 1) rx) and
    // asked-for cell k spans [k nx, (k + 1) nx); likewise down.
    auto overlap = [](LX_U32 a0, LX_U32 a1, LX_U32 b0, LX_U32 b1) { return std::min(a1, b1) - std::max(a0, b0); };
    LX_U32 sum = 0;
    for (LX_U32 ky = j * ry / ny; ky * ny < (j + 1) * ry; ++ky) {
        const LX_U32 oy = overlap(j * ry, (j + 1) * ry, ky * ny, (ky + 1) * ny);
        for (LX_U32 kx = i * rx / nx; kx * nx < (i + 1) * rx; ++kx)
            sum += oy * overlap(i * rx, (i + 1) * rx, kx * nx, (kx + 1) * nx) * wghts[ky * AE_WIN_MAX_CELLS + kx];
    }
    return sum;
}

// Cell luminance, the weighted mean (weights from wghts, or 1 each when it is
// null) and the plain mean; the sorted copy of the cells. A cell without
// blocks reads 0.
void measure(AE_WIN_CFG &w, const LX_U8 *wghts) {
    w.u4WghtYx10 = 0;
    w.u4AvgYx10 = 0;
    if (!hasCells(w)) return;
    const LX_U32 nx = cellsAcross(w), ny = cellsDown(w), cells = nx * ny;
    LX_U64 wsum = 0, wy = 0, ysum = 0;
    for (LX_U32 j = 0; j < ny; ++j) {
        for (LX_U32 i = 0; i < nx; ++i) {
            const LX_U32 cell = j * nx + i;
            const LX_U32 n = w.pBlockCnt[cell];
            const LX_U32 wt = wghts ? cellWeight(w, wghts, j, i) : 1u;
            LX_U32 y = 0;
            if (n) y = (LX_U16)(((LX_U64)w.pLumYSum[cell] * 10 + n / 2) / n);
            w.pLumYx10[cell] = y;
            w.pSortedLumYx10[cell] = y;
            ysum += y;
            wy += (LX_U64)wt * y;
            wsum += wt;
        }
    }
    if (wsum) w.u4WghtYx10 = (LX_U32)((wy + wsum / 2) / wsum);
    if (cells) w.u4AvgYx10 = (LX_U32)((ysum + cells / 2) / cells);
    qsort(w.pSortedLumYx10, cells, sizeof(LX_U32), compare);
}

// The mean of an empty scan.
void defaultMean(AE_HIST_SPEC *q) {
    q->u4AvgYx10 = kDefaultYx10;
    q->u4AvgYx40 = kDefaultYx10 * 4;
}

// Mean of n pixels whose levels (x10, in input bins) sum to s; levels per
// bin scale it to output levels.
void setMean(AE_HIST_SPEC *q, LX_U64 n, LX_U64 s, LX_U32 levelsPerBin) {
    if (n == 0) return defaultMean(q);
    q->u4AvgYx40 = (LX_U32)((n / 2 + 4ull * levelsPerBin * s) / n);
    q->u4AvgYx10 = (q->u4AvgYx40 + 2) >> 2;
}

// The running state of one scan: what is counted, what is skipped, and the
// fullest bin met.
struct Scan {
    AE_HIST_SPEC *q;
    LX_U32 s;     // output levels per input bin
    bool up;      // from bin 0 upward
    LX_U64 counted = 0, skipped = 0, sum = 0, skippedSum = 0;

    LX_U32 value(LX_U32 k) const { return up ? k : k + 1; }
    void meet(LX_U32 k, LX_U32 c) {
        if (c > q->u4MaxPcentx10) {
            q->u4MaxPcentx10 = c;
            q->u4MaxPcentY = up ? s * k : s * (k + 1) - 1;
        }
    }
    void count(LX_U32 k, LX_U64 c) {
        counted += c;
        sum += c * 10 * value(k);
    }
    void skip(LX_U32 k, LX_U64 c) {
        skipped += c;
        skippedSum += c * 10 * value(k);
    }
    void finish() const { setMean(q, counted - skipped, sum - skippedSum, s); }
};

void tracePcentBins(const AE_HIST_SPEC *q, LX_U64 target, LX_U32 k) {
    const LX_U32 last = q->u4InputBins - 1;
    LX_U32 c[6];
    for (LX_U32 i = 0; i < 6; ++i) c[i] = q->pHist[k + i < last ? k + i : last];
    CamOsPrintf("[%24s] u4Pcent:%4u, u4TotalCnt:%6u, u4TargetCnt:%6u, i4BinIdx:%2d, 0~5:%4u/%4u/%4u/%4u/%4u/%4u\n",
                "pAE_CalHistogram", (unsigned)q->u4TotalPcentx10, (unsigned)q->u4TotalPixelCnt, (unsigned)target,
                (int)k, c[0], c[1], c[2], c[3], c[4], c[5]);
}

void histPercent(const cam_ae_handle_t *h, Scan &sc) {
    AE_HIST_SPEC *q = sc.q;
    const LX_U32 n = q->u4InputBins;
    const LX_U64 total = q->u4TotalPixelCnt;
    const LX_U64 target = ((LX_U64)q->u4TotalPcentx10 * total + 500) / 1000;
    LX_U64 skipTo = 0;
    if (q->bSkip == LX_TRUE) {
        skipTo = ((LX_U64)q->u4SkipPcentx10 * total + 500) / 1000;
        if (skipTo > target) skipTo = 0;
    }
    const bool trace = sc.up && dbg(h, kDbgHistScan) && h->SyncFrameCnt != 0;
    for (LX_U32 i = 0; i < n; ++i) {
        const LX_U32 k = sc.up ? i : n - 1 - i;
        const LX_U32 c = q->pHist[k];
        sc.meet(k, c);
        if (trace && k % 10 == 0) tracePcentBins(q, target, k);
        if (sc.counted + c >= target) {
            const LX_U64 part = target - sc.counted;
            sc.count(k, part);
            q->u4FinalBin = sc.s * k;
            if (trace)
                CamOsPrintf("[%24s] u4Pcent:%4u, u4TotalCnt:%6u, u4TargetCnt:%6u, i4BinIdx:%2d, pHist[i4BinIdx]:%4u, "
                            "u4Weight:%5u, u4WghtYx10:%6u\n",
                            "pAE_CalHistogram", (unsigned)q->u4TotalPcentx10, (unsigned)total, (unsigned)target,
                            (int)k, (unsigned)c, (unsigned)part, (unsigned)sc.sum);
            break;
        }
        sc.count(k, c);
        // A skip that ends on this bin's edge takes the whole bin.
        if (sc.skipped < skipTo) sc.skip(k, skipTo - sc.skipped < c ? skipTo - sc.skipped : c);
    }
    sc.finish();
}

void histThreshold(Scan &sc) {
    AE_HIST_SPEC *q = sc.q;
    const LX_U32 n = q->u4InputBins;
    q->u4AccPcentx10 = 0;
    const LX_U32 lo = (q->u4TotalThd + sc.s / 2) / sc.s;
    const LX_U32 hi = (q->u4SkipThd + sc.s / 2) / sc.s;
    LX_U32 first, last;  // bins counted, in scan order
    if (sc.up) {
        if (lo <= hi) q->bSkip = LX_FALSE;
        if (lo == 0) return defaultMean(q);
        first = 0;
        last = (lo < n ? lo : n) - 1;
    } else {
        if (lo >= hi) q->bSkip = LX_FALSE;
        if (n - 1 <= lo) return defaultMean(q);
        first = n - 1;
        last = lo + 1;
    }
    const bool skip = q->bSkip == LX_TRUE;
    for (LX_U32 k = first;; k = sc.up ? k + 1 : k - 1) {
        const LX_U32 c = q->pHist[k];
        sc.meet(k, c);
        sc.count(k, c);
        if (skip && (sc.up ? k < hi : k > hi)) sc.skip(k, c);
        if (k == last) break;
    }
    const LX_U64 total = q->u4TotalPixelCnt;
    if (total) q->u4AccPcentx10 = (LX_U32)((total / 2 + 1000 * sc.counted) / total);
    sc.finish();
}

const char *wgtName(LX_U32 w) {
    switch (w) {
    case AE_AVERAGE: return "AVERAGE";
    case AE_CENTER_WGHT: return "CENTER";
    case AE_SPOT: return "SPOT";
    default: return "UNKNOW";
    }
}

// The weight table of a type; a type beyond the three reads as spot.
const LX_U8 *weightsOf(const cam_ae_handle_t *h, AE_WIN_WGT t) {
    const LX_U32 i = (LX_U32)t;
    return h->uWghts[i > (LX_U32)AE_SPOT ? (LX_U32)AE_SPOT : i];
}

// Bright/dark-tone queries of the IR and Y histograms (RGB-IR sensors).
void meterIR(cam_ae_handle_t *h) {
    AE_RGBIR_SETTING &ir = h->strRgbirParam;
    AE_HIST_SPEC q;
    memset(&q, 0, sizeof(q));
    q.eHistOp = AE_HIST_OP_ACC_PCENT;
    q.eStartPoint = AE_TONE_BRIGHT;
    q.bSkip = LX_FALSE;
    q.u4TotalPcentx10 = 1000;
    q.u4OutputBins = 256;
    q.u4InputBins = AE_IR_HIST_BINS;
    q.u4TotalPixelCnt = h->strAEStat.u4IRHistTotalPixel;
    q.pHist = h->strAEStat.u2IRHist;
    h->pAE_CalHistogram(h, &q);
    ir.u2IRAvg = (LX_U16)q.u4AvgYx10;
    const LX_S64 d = 10000ll * ir.u2IRAvg - ir.i4K1_Of_IR_Index_x10000;
    const LX_S64 ratio = ir.u2IRFeedBakckRatio ? ir.u2IRFeedBakckRatio : 1;
    ir.u2IRIdx = (LX_U16)((d < 0 ? -d : d) / ratio);

    q.u4TotalPcentx10 = 10;
    h->pAE_CalHistogram(h, &q);
    ir.u2HistIRTop = (LX_U16)q.u4AvgYx10;

    // The pixel total stays the IR histogram's.
    q.pHist = h->strAEStat.u2Hist[1];
    q.u4InputBins = AE_HIST_BINS;
    h->pAE_CalHistogram(h, &q);
    const LX_U32 isp = h->strPlainLongExpo.u4ISPGain ? h->strPlainLongExpo.u4ISPGain : 1024u;
    const LX_U64 top = (LX_U64)q.u4AvgYx10 * 1024 / isp;
    ir.u2HistYTop = top > 0xFFFF ? (LX_U16)0xFFFF : (LX_U16)top;
}

}  // namespace

// ---- per frame ------------------------------------------------------------------

LX_S32 AE_FindHistInfo(cam_ae_handle_t *h) {
    const LX_U16 *hist = h->strAEStat.u2Hist[1];
    LX_U32 total = 0;
    h->uRGBHistMaxY = 0;
    for (LX_U32 k = 0; k < AE_HIST_BINS; ++k) {
        total += hist[k];
        if (hist[k]) h->uRGBHistMaxY = (LX_U8)(2 * k + 1);
    }
    h->strAEStat.u4HistTotalPixel[1] = total;
    return 0;
}

LX_S32 AE_FindIRHistInfo(cam_ae_handle_t *h) {
    const LX_U16 *hist = h->strAEStat.u2IRHist;
    LX_U32 total = 0;
    h->uIRHistMaxY = 0;
    for (LX_U32 k = 0; k < AE_IR_HIST_BINS; ++k) {
        total += hist[k];
        if (hist[k]) h->uIRHistMaxY = (LX_U8)k;
    }
    h->strAEStat.u4IRHistTotalPixel = total;
    return 0;
}

// Non-zero when the frame brought no block averages or no histogram: its
// statistics cannot be used and the previous results stay.
LX_S32 pAE_CalLumY(cam_ae_handle_t *h) {
    const AeInput_t *in = h->AeInputParameter;
    if (!in || !in->avgs || !in->hist1) return 1;
    AE_STAT &st = h->strAEStat;
    AE_WIN_CFG &w0 = st.strWins[0], &w1 = st.strWins[1];

    clearSums(w0);
    if (in->avgs1) clearSums(w1);

    memcpy(st.u2Hist[1], in->hist1->u2HistY, sizeof(st.u2Hist[1]));
    if (in->histIR) {
        memcpy(st.u2IRHist, in->histIR->u2IRHist, sizeof(st.u2IRHist));
        if (dbg(h, kDbgIRHist))
            for (int k = 0; k < AE_IR_HIST_BINS; ++k)
                CamOsPrintf("[%s] IR Hist[%3d] = %5d\n", "pAE_CalLumY", k, (int)st.u2IRHist[k]);
    } else {
        memset(st.u2IRHist, 0, sizeof(st.u2IRHist));
    }
    AE_FindHistInfo(h);
    if (h->strRgbirParam.bEnable) AE_FindIRHistInfo(h);

    accumulate(w0, in->avgs, in->AvgBlkX, in->AvgBlkY);
    if (in->avgs1) accumulate(w1, in->avgs1, in->AvgBlkX, in->AvgBlkY);

    measure(w0, weightsOf(h, st.eWinWght));
    if (in->avgs1) measure(w1, nullptr);

    h->u4CurYx10[0][0] = w0.u4WghtYx10;
    h->u4CurYx10[1][0] = w1.u4WghtYx10;
    h->uCurYSyncIdx = 0;
    h->u4AvgYx10[0] = w0.u4AvgYx10;
    h->u4AvgYx10[1] = w1.u4AvgYx10;

    AE_RGBIR_SETTING &ir = h->strRgbirParam;
    if (!ir.bEnable) {
        ir.u2IRIdx = ir.u2IRAvg = ir.u2HistIRTop = ir.u2HistYTop = 0;
        return 0;
    }
    meterIR(h);
    return 0;
}

// ---- queries --------------------------------------------------------------------

LX_S32 pAE_CalHistogram(cam_ae_handle_t *h, AE_HIST_SPEC *q) {
    if (!q) return 0;
    q->u4MaxPcentY = 0;
    q->u4MaxPcentx10 = 0;
    if (q->eHistOp != AE_HIST_OP_ACC_PCENT && q->eHistOp != AE_HIST_OP_ACC_THD) return 0;
    if (q->u4InputBins == 0 || !q->pHist) {
        if (q->eHistOp == AE_HIST_OP_ACC_THD) q->u4AccPcentx10 = 0;
        defaultMean(q);
        return 0;
    }
    Scan sc{q, q->u4OutputBins / q->u4InputBins, q->eStartPoint == AE_TONE_DARK};
    if (q->eHistOp == AE_HIST_OP_ACC_PCENT) {
        histPercent(h, sc);
    } else {
        // Fewer output levels than bins: one level a bin.
        if (sc.s == 0) sc.s = 1;
        histThreshold(sc);
    }
    return 0;
}

LX_U32 pAE_CalSortYByPcent(cam_ae_handle_t *h, LX_U8 idx, LX_CAM_BOOL bFromHigh, LX_U32 u4Pcent) {
    LX_U64 sum = 0;
    if (idx < 2 && hasCells(h->strAEStat.strWins[idx])) {
        const AE_WIN_CFG &w = h->strAEStat.strWins[idx];
        const LX_U32 n = cellsAcross(w) * cellsDown(w);
        if (n) {
            LX_U32 step = 1000 / n;
            if (step < 1) step = 1;
            const LX_U32 q = u4Pcent / step, r = u4Pcent % step;
            LX_U32 i = 0;
            for (; i < q && i < n; ++i) sum += (LX_U64)step * w.pSortedLumYx10[bFromHigh ? n - 1 - i : i];
            if (i < n) sum += (LX_U64)r * w.pSortedLumYx10[bFromHigh ? n - 1 - i : i];
        }
    }
    return (LX_U32)((sum + u4Pcent / 2) / (u4Pcent ? u4Pcent : 1));
}

// ---- BV and LV ------------------------------------------------------------------

LX_S32 pAE_GetBV(cam_ae_handle_t *h) {
    const LX_U32 y = h->u4AvgYx10[0];
    const double ly = y < 2 ? 0.0 : log2((double)y);
    // 145432.85... = 16384 * log2(470): BV 0 is a mean of 47.0 at 0 EV.
    const LX_S32 fromY = (LX_S32)(AE_APEX_BASE * ly - 145432.85365252095);
    const AE_APEX_EXPO &e = h->strApexCurExpo;
    const LX_S64 bv = (LX_S64)fromY + e.i4TVxBASE + e.i4AVxBASE - ((LX_S64)e.i4SSVxBASE + e.i4DSVxBASE);
    const LX_S32 out = bv > INT32_MAX ? INT32_MAX : bv < INT32_MIN ? INT32_MIN : (LX_S32)bv;
    const AE_DAYNIGHT_DETECTION &dn = h->strDNDetection;
    h->strDNDetection.strInfo.bDay2Night =
        (dn.strParam.bEnable == LX_TRUE && out < dn.strParam.s4D2N_BvThd) ? LX_TRUE : LX_FALSE;
    return out;
}

LX_U32 pAE_GetLV(cam_ae_handle_t *h) {
    // Each test reads BV afresh, so each refreshes the day-to-night flag.
    auto lv = [h]() { return 0.5 + ((double)h->pAE_GetBV(h) + 81920.0) * 10.0 / AE_APEX_BASE; };
    if (lv() > 200.0) return 200;
    if (lv() < 0.0) return 0;
    return (LX_U32)lv();
}

LX_S32 pAE_GetCurBV(cam_ae_handle_t *h) {
    const LX_S32 bv = h->pAE_GetBV(h);
    if (dbg(h, kDbgSetting)) CamOsPrintf("[%24s] %d\n", __func__, (int)bv);
    return bv;
}

LX_U32 pAE_GetCurLV(cam_ae_handle_t *h) {
    const LX_U32 lv = h->pAE_GetLV(h);
    if (dbg(h, kDbgSetting)) CamOsPrintf("[%24s] %u\n", __func__, (unsigned)lv);
    return lv;
}

// ---- results --------------------------------------------------------------------

LX_U32 pAE_GetLumY(cam_ae_handle_t *h) {
    const LX_U32 y = h->u4CurYx10[0][h->uCurYSyncIdx < 3 ? h->uCurYSyncIdx : 0];
    if (dbg(h, kDbgSetting)) CamOsPrintf("[%24s] %u\n", __func__, (unsigned)y);
    return y;
}

LX_U32 pAE_GetAvgY(cam_ae_handle_t *h) {
    const LX_U32 y = h->u4AvgYx10[0];
    if (dbg(h, kDbgSetting)) CamOsPrintf("[%24s] %u\n", __func__, (unsigned)y);
    return y;
}

LX_S32 pAE_GetHist(cam_ae_handle_t *h, LX_U32 *pHist128) {
    if (!pHist128) {
        CamOsPrintf("[%s] Null!!\n", __func__);
        return -1;
    }
    for (int k = 0; k < AE_HIST_BINS; ++k) pHist128[k] = h->strAEStat.u2Hist[1][k];
    if (dbg(h, kDbgSetting))
        CamOsPrintf("[%24s] pHist128[0]:%u, pHist128[16]:%u, pHist128[32]:%u, pHist128[64]:%u\n", __func__,
                    (unsigned)pHist128[0], (unsigned)pHist128[16], (unsigned)pHist128[32], (unsigned)pHist128[64]);
    return 0;
}

// ---- windows and weights ----------------------------------------------------------

// Lays window idx out over the frame's block grid; without a grid (no input
// yet, or a grid of 0) over the 32 x 32 grid that DoAe keeps.
LX_S32 pAE_SetNthWin(cam_ae_handle_t *h, LX_S32 idx, AE_WIN win) {
    if (idx < 0 || idx > 1) {
        CamOsPrintf("[%s] window %d, there are 2\n", __func__, (int)idx);
        return -1;
    }
    const AeInput_t *in = h->AeInputParameter;
    LX_U32 bx = in ? in->AvgBlkX : 0, by = in ? in->AvgBlkY : 0;
    if (bx == 0 || by == 0) bx = by = kWholeGrid;
    AE_WIN_CFG &c = h->strAEStat.strWins[idx];
    c.u2GridX = (LX_U16)bx;
    c.u2GridY = (LX_U16)by;
    // Window bounds are 8-bit block numbers.
    if (bx > 255) bx = 255;
    if (by > 255) by = 255;

    auto clampRatio = [](LX_U32 r) { return r < 4 ? 4u : r > 1024 ? 1024u : r; };
    auto clampCells = [](LX_U32 n) { return n < 1 ? 1u : n > AE_WIN_MAX_CELLS ? (LX_U32)AE_WIN_MAX_CELLS : n; };
    auto extent = [](LX_U32 blocks, LX_U32 ratio, LX_U32 cells) {
        const LX_U32 e = (blocks * ratio + 512) >> 10;
        return e > blocks ? blocks : e < cells ? cells : e;
    };
    auto start = [](LX_S64 s, LX_U32 blocks) { return (LX_U32)s >= blocks ? blocks : (LX_U32)s; };

    // A window is at least as many blocks as it has cells (the count it
    // really gets, 1..32, and no more than the grid has blocks: a window
    // wider than the grid would start past its end and meter nothing).
    c.u2ReqNumX = (LX_U16)clampCells(win.u2NumX);
    c.u2ReqNumY = (LX_U16)clampCells(win.u2NumY);
    const LX_U32 numX = std::min<LX_U32>(c.u2ReqNumX, bx), numY = std::min<LX_U32>(c.u2ReqNumY, by);
    const LX_U32 w = extent(bx, clampRatio(win.u4RatioX), numX);
    const LX_U32 hgt = extent(by, clampRatio(win.u4RatioY), numY);
    const LX_U32 sx = start((LX_S64)win.i4CenterOffsetX + ((LX_S64)bx - w) / 2, bx);
    const LX_U32 sy = start((LX_S64)win.i4CenterOffsetY * by / 90 + ((LX_S64)by - hgt) / 2, by);
    const LX_U32 ex = sx + w < bx ? sx + w : bx;
    const LX_U32 ey = sy + hgt < by ? sy + hgt : by;

    c.StartX = (LX_U8)sx;
    c.StartY = (LX_U8)sy;
    c.EndX = (LX_U8)ex;
    c.EndY = (LX_U8)ey;
    c.NumX = (LX_U8)numX;
    c.NumY = (LX_U8)numY;
    // Cell boundaries spread over the cells there are.
    for (LX_U32 i = 0; i < c.NumX; ++i) c.StepX[i] = (LX_U8)(sx + (i * (ex - sx) + c.NumX / 2) / c.NumX);
    c.StepX[c.NumX] = (LX_U8)ex;
    for (LX_U32 j = 0; j < c.NumY; ++j) c.StepY[j] = (LX_U8)(sy + (j * (ey - sy) + c.NumY / 2) / c.NumY);
    c.StepY[c.NumY] = (LX_U8)ey;
    return 0;
}

LX_S32 pAE_SetAEWinWgtType(cam_ae_handle_t *h, AE_WIN_WGT wght) {
    const LX_U32 t = (LX_U32)wght;
    h->strUserParam.eWinWght = t > AE_SPOT ? AE_SPOT : wght;
    h->strUserParam.bIsChanged = LX_TRUE;
    if (dbg(h, kDbgSetting)) CamOsPrintf("[%24s] Type : %7s\n", __func__, wgtName(t));
    return 0;
}

LX_S32 pAE_GetAEWinWgtType(cam_ae_handle_t *h, AE_WIN_WGT *wght) {
    if (!wght) {
        CamOsPrintf("[%s] Null!!\n", __func__);
        return -1;
    }
    *wght = h->strUserParam.eWinWght;
    if (dbg(h, kDbgSetting)) CamOsPrintf("[%24s] Type : %7s\n", __func__, wgtName((LX_U32)*wght));
    return 0;
}

// Tables not given stay as they are.
LX_S32 pAE_SetAEWinWgtTbl(cam_ae_handle_t *h, LX_U8 *pAverageWghtTbl, LX_U8 *pCenterWghtTbl, LX_U8 *pSpotWghtTbl) {
    const LX_U8 *src[3] = {pAverageWghtTbl, pCenterWghtTbl, pSpotWghtTbl};
    for (int t = 0; t < 3; ++t)
        if (src[t]) memcpy(h->strUserParam.uWghts[t], src[t], AE_WGT_TBL_SIZE);
    h->strUserParam.bIsChanged = LX_TRUE;
    if (dbg(h, kDbgSetting)) CamOsPrintf("[%24s] \n", __func__);
    return 0;
}

LX_S32 pAE_GetAEWinWgtTbl(cam_ae_handle_t *h, LX_U8 *pAverageWghtTbl, LX_U8 *pCenterWghtTbl, LX_U8 *pSpotWghtTbl) {
    LX_U8 *dst[3] = {pAverageWghtTbl, pCenterWghtTbl, pSpotWghtTbl};
    for (int t = 0; t < 3; ++t)
        if (dst[t]) memcpy(dst[t], h->uWghts[t], AE_WGT_TBL_SIZE);
    if (dbg(h, kDbgSetting)) CamOsPrintf("[%24s] \n", __func__);
    return 0;
}
