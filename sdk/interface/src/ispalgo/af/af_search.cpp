// The per-frame AF step: one focus value per frame from up to 16 x 16 windows,
// then a one-shot sweep, a continuous hill climb watched by a scene check, or
// a manual position; the result is the next motor target.
#include <stdlib.h>
#include <string.h>

#include "af_handle.h"

namespace {

// The statistics of a frame show the lens where it stood one frame earlier.
constexpr int AF_ACC_DELAY = 1;

// The windows in use: rows 0..ny-1 and columns 0..nx-1 of the 16 x 16
// statistics; window (r, c) is index 16 r + c of every per-window array.
struct Grid {
    int nx, ny;
    int count() const { return nx * ny; }
    int end() const { return 16 * ny; }
    bool has(int w) const { return w % 16 < nx; }
};

Grid grid(const cam_af_handle_t *h) {
    const MI_ISP_AF_ACC_WEIGHT_TYPE_t &a = h->UserSetting.strAccWeight;
    return {a.u8WinNumX > 16 ? 16 : a.u8WinNumX, a.u8WinNumY > 16 ? 16 : a.u8WinNumY};
}

#define FOR_EACH_WINDOW(g, w) \
    for (int w = 0; w < (g).end(); ++w) \
        if ((g).has(w))

LX_U32 *acc_all(cam_af_handle_t *h, MI_ISP_AF_ACC_SEL_TYPE_e sel) {
    switch (sel) {
    case QV_AF_ACC_IIRL: return h->u32IIRL_All;
    case QV_AF_ACC_SBLV: return h->u32SBLV_All;
    case QV_AF_ACC_SBLH: return h->u32SBLH_All;
    case QV_AF_ACC_LUMA: return h->u32Luma_All;
    default: return h->u32IIRH_All;
    }
}

// Luma has no history: it and any other selector read the IIRH history.
LX_U32 *acc_hist(cam_af_handle_t *h, MI_ISP_AF_ACC_SEL_TYPE_e sel) {
    switch (sel) {
    case QV_AF_ACC_IIRL: return h->u32HistIIRL;
    case QV_AF_ACC_SBLV: return h->u32HistSBLV;
    case QV_AF_ACC_SBLH: return h->u32HistSBLH;
    default: return h->u32HistIIRH;
    }
}

LX_U32 group_value(const LX_U8 *filter, int col) {
    const LX_U8 *g = filter + 5 * col;
    return (LX_U32)g[1] | (LX_U32)g[2] << 8 | (LX_U32)g[3] << 16 | (LX_U32)g[4] << 24;
}

bool dbg(const cam_af_handle_t *h, int bit) { return (h->u16DbgLevel & bit) != 0; }

// ---- motor commands (the target only) -----------------------------------------

void set_target(cam_af_handle_t *h, int pos) {
    const MI_ISP_AF_MOTOR_TYPE_t &m = h->UserSetting.strMotor;
    if (pos < m.u16MinMotorPos) pos = m.u16MinMotorPos;
    if (pos > m.u16MaxMotorPos) pos = m.u16MaxMotorPos;
    h->u16TarPos = (LX_U16)pos;
}

void move_by_dir(cam_af_handle_t *h) {
    const int most = h->UserSetting.strMotor.u16MaxMotorStep;
    const int step = h->u16Step < most ? h->u16Step : most;
    set_target(h, h->u16CurPos + h->s8Dir * step);
}

void move_toward(cam_af_handle_t *h, int pos, int most) {
    int dist = abs(pos - h->u16CurPos);
    int d = dist < most ? dist : most;
    set_target(h, pos > h->u16CurPos ? h->u16CurPos + d : h->u16CurPos - d);
}

// ---- per-frame input ------------------------------------------------------------

void AF_UpdateInput(cam_af_handle_t *h) {
    const AfInput_t *in = h->AfInputParameter;
    if (dbg(h, AF_DBG_LV_INPUT_PARAM)) AF_PRINT("fps = %d, CurPos = %d \n", (int)in->fps, (int)in->CurPos);
    h->u16CurFPSx10 = (LX_U16)(in->fps * 10);
    h->u16CurPos = (LX_U16)in->CurPos;
    h->u16DbgLevel = (LX_U16)in->tAFDebug->AF_DEBUG_LEVEL;
    int th = 3 - h->u16CurFPSx10 / 100;
    h->u8ThByFPS = (LX_U8)(th < 0 ? 0 : th > 2 ? 2 : th);

    const MI_ISP_AF_MOTOR_TYPE_t &m = h->UserSetting.strMotor;
    h->bCurPosInRange = (m.u16MinMotorPos <= h->u16CurPos && h->u16CurPos <= m.u16MaxMotorPos) ? LX_TRUE : LX_FALSE;
    h->bCurPosIsBoundary = (h->u16CurPos == m.u16MinMotorPos || h->u16CurPos == m.u16MaxMotorPos) ? LX_TRUE : LX_FALSE;
    // One entry a frame, also for frames the caller skipped: no target was
    // sent then, so the lens was already where it is now, or on its way.
    const LX_U32 lost = in->nLostFrames < 3 ? in->nLostFrames : 3;
    for (LX_U32 k = 0; k <= lost; ++k) {
        memmove(&h->u16HistPos[1], &h->u16HistPos[0], 3 * sizeof h->u16HistPos[0]);
        h->u16HistPos[0] = h->u16CurPos;
    }
    if (h->u16CurPos < h->u16EverMinPos) h->u16EverMinPos = h->u16CurPos;
    if (h->u16CurPos > h->u16EverMaxPos) h->u16EverMaxPos = h->u16CurPos;

    const ISP_AF_STATS *rows = in->af_stats->stParaAPI;
    const Grid g = grid(h);
    FOR_EACH_WINDOW(g, w) {
        const ISP_AF_STATS &s = rows[w / 16];
        const int c = w % 16;
        h->u32IIRH_All[w] = group_value(s.high_iir, c);
        h->u32IIRL_All[w] = group_value(s.low_iir, c);
        h->u32SBLV_All[w] = group_value(s.sobel_v, c);
        h->u32SBLH_All[w] = group_value(s.sobel_h, c);
        h->u32Luma_All[w] = group_value(s.luma_iir, c);
        if (dbg(h, AF_DBG_LV_ACC_ALLVALUE))
            AF_PRINT("u16HistPos[AF_ACC_DELAY] = %d, index = %d, u32IIRH_All = %04d, u32IIRL_All = %04d, "
                     "u32SBLV_All = %0d, u32SBLH_All = %04d, u32Luma_All = %04d \n",
                     h->u16HistPos[AF_ACC_DELAY], w, (int)h->u32IIRH_All[w], (int)h->u32IIRL_All[w],
                     (int)h->u32SBLV_All[w], (int)h->u32SBLH_All[w], (int)h->u32Luma_All[w]);
    }

    const MI_ISP_AF_ACC_WEIGHT_TYPE_t &a = h->UserSetting.strAccWeight;
    LX_U32 *all[5] = {h->u32IIRH_All, h->u32IIRL_All, h->u32SBLV_All, h->u32SBLH_All, h->u32Luma_All};
    LX_U64 *val[5] = {&h->u64IIRH, &h->u64IIRL, &h->u64SBLV, &h->u64SBLH, &h->u64Luma};
    LX_U64 sum[5] = {0, 0, 0, 0, 0};
    LX_U16 wsum = 0;
    const bool equal = a.bEqualWinWgt == QV_TRUE;
    FOR_EACH_WINDOW(g, w) {
        const LX_U64 k = equal ? 1 : a.u8WinWgt[w];
        for (int f = 0; f < 5; ++f) sum[f] += all[f][w] * k;
        wsum = (LX_U16)(wsum + a.u8WinWgt[w]);
    }
    const LX_U64 div = equal ? (LX_U64)g.count() : wsum ? wsum : 1;
    for (int f = 0; f < 5; ++f) *val[f] = div ? sum[f] / div : 0;
    if (a.bIIRHBlendEn) {
        const LX_U64 wa = a.u8IIRHWgt_FirstBlendIIRL, wb = a.u8IIRHWgt_SecondBlendSBLV, wc = a.u8IIRHWgt_ThirdBlendSBLH;
        LX_U64 t1 = (wa * h->u64IIRH + (256 - wa) * h->u64IIRL + 128) >> 8;
        LX_U64 t2 = (wb * t1 + (256 - wb) * h->u64SBLV + 128) >> 8;
        h->u64IIRH = (wc * t2 + (256 - wc) * h->u64SBLH + 128) >> 8;
    }
    if (dbg(h, AF_DBG_LV_ACC_ONEVALUE))
        AF_PRINT("u16HistPos[AF_ACC_DELAY] = %d, u64IIRH = %04llu, u64IIRL = %04llu, u64SBLV = %04llu, "
                 "u64SBLH = %04llu, u64Luma = %04llu \n",
                 h->u16HistPos[AF_ACC_DELAY], (unsigned long long)h->u64IIRH, (unsigned long long)h->u64IIRL,
                 (unsigned long long)h->u64SBLV, (unsigned long long)h->u64SBLH, (unsigned long long)h->u64Luma);
}

// ---- history and the best position of the current sweep --------------------------

void AF_UpdateHistory(cam_af_handle_t *h) {
    LX_U32 *hist[4] = {h->u32HistIIRH, h->u32HistIIRL, h->u32HistSBLV, h->u32HistSBLH};
    const LX_U64 now[4] = {h->u64IIRH, h->u64IIRL, h->u64SBLV, h->u64SBLH};
    for (int f = 0; f < 4; ++f) {
        memmove(&hist[f][1], &hist[f][0], 3 * sizeof hist[f][0]);
        hist[f][0] = (LX_U32)now[f];
    }
}

void AF_UpdateLocal(cam_af_handle_t *h, MI_ISP_AF_ACC_SEL_TYPE_e sel) {
    const LX_U32 *hist = acc_hist(h, sel);
    const LX_U32 v = hist[0];
    const LX_U16 p = h->u16HistPos[AF_ACC_DELAY];
    if (h->bUpdateMaxPostValue) {
        h->u32MaxPostAcc = v;
        h->u16MaxPostAccPos = p;
        h->bUpdateMaxPostValue = LX_FALSE;
    }
    if (v > h->u32MaxAcc) {
        h->u32MaxAcc = v;
        h->u16MaxAccPos = p;
        h->u32MaxPreAcc = hist[1];
        h->u16MaxPreAccPos = h->u16HistPos[AF_ACC_DELAY + 1];
        h->bUpdateMaxPostValue = LX_TRUE;
    }
    if (v < h->u32MinAcc) h->u32MinAcc = v;
    if (v > h->u32FakeMaxAcc) h->u32FakeMaxAcc = v;
}

// ---- scene supervision --------------------------------------------------------------

void snapshot(cam_af_handle_t *h, MI_ISP_AF_ACC_SEL_TYPE_e sel, MI_ISP_AF_ACC_SEL_TYPE_e *psel, LX_U32 *ae,
              LX_U32 *af) {
    const LX_U32 *src = acc_all(h, sel);
    const Grid g = grid(h);
    FOR_EACH_WINDOW(g, w) {
        ae[w] = h->u32Luma_All[w];
        af[w] = src[w];
    }
    *psel = sel;
}

void reset_snapshot(cam_af_handle_t *h, MI_ISP_AF_ACC_SEL_TYPE_e *psel, LX_U32 *ae, LX_U32 *af) {
    const Grid g = grid(h);
    FOR_EACH_WINDOW(g, w) ae[w] = af[w] = 0;
    *psel = QV_AF_ACC_MAX;
}

LX_U32 abs_diff(LX_U32 a, LX_U32 b) { return a > b ? a - b : b - a; }

// More than C % of the grid's windows moved by more than D % of the larger value.
bool AF_IsUnstable(cam_af_handle_t *h, const LX_U32 *x, const LX_U32 *ref, int d, int c) {
    const Grid g = grid(h);
    int cnt = 0;
    FOR_EACH_WINDOW(g, w) {
        const LX_U32 hi = x[w] > ref[w] ? x[w] : ref[w];
        if (abs_diff(x[w], ref[w]) > (LX_U64)hi * (LX_U64)d / 100) ++cnt;
    }
    const int n = g.count();
    if (dbg(h, AF_DBG_LV_ACC_DIFF_CNT)) {
        int bucket[11] = {0};
        FOR_EACH_WINDOW(g, w) {
            LX_U64 hi = x[w] > ref[w] ? x[w] : ref[w];
            LX_U64 pct = (LX_U64)abs_diff(x[w], ref[w]) * 100 / (hi ? hi : 1);
            ++bucket[pct / 5 < 10 ? pct / 5 : 10];
        }
        int p[11];
        for (int i = 0; i < 11; ++i) {
            p[i] = n ? bucket[i] * 100 / n : 0;
            if (p[i] > 99) p[i] = 99;
        }
        AF_PRINT("u16CurPos = %03d, [Diff(%%): Cnt(%%)] 0~9: %02d,%02d; 10~19: %02d,%02d; 20~29: %02d,%02d; "
                 "30~39: %02d,%02d; 40~49: %02d,%02d; >50: %02d \n",
                 h->u16CurPos, p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8], p[9], p[10]);
    }
    return cnt > c * n / 100;
}

int cap99(int v) { return v < 99 ? v : 99; }

// 1 on the frame a scene change has settled.
int AF_CheckScene(cam_af_handle_t *h) {
    const MI_ISP_AF_SCENE_CHANGE_TYPE_t &sc = h->UserSetting.strSceneChange;
    const int m = abs(h->u16HistPos[1] - h->u16HistPos[2]);
    bool pre_ae = false, pre_af = false, foc_ae = false, foc_af = false;
    if (h->eFocusAfAccSel == sc.eFocusAfAccSel) {
        foc_ae = AF_IsUnstable(h, h->u32Luma_All, h->u32FocusAeAcc_All, cap99(sc.u8FocusAeAccDiffTh),
                               cap99(sc.u8FocusAeAccCntTh));
        foc_af = AF_IsUnstable(h, acc_all(h, sc.eFocusAfAccSel), h->u32FocusAfAcc_All, cap99(sc.u8FocusAfAccDiffTh),
                               cap99(sc.u8FocusAfAccCntTh));
    } else {
        pre_ae = AF_IsUnstable(h, h->u32Luma_All, h->u32PreAeAcc_All,
                               cap99(sc.u8PreAeAccDiffThOft + m * sc.u8PreAeAccDiffThSlp),
                               cap99(sc.u8PreAeAccCntThOft + m * sc.u8PreAeAccCntThSlp));
        pre_af = AF_IsUnstable(h, acc_all(h, sc.ePreAfAccSel), h->u32PreAfAcc_All,
                               cap99(sc.u8PreAfAccDiffThOft + m * sc.u8PreAfAccDiffThSlp),
                               cap99(sc.u8PreAfAccCntThOft + m * sc.u8PreAfAccCntThSlp));
    }
    snapshot(h, sc.ePreAfAccSel, &h->ePreAfAccSel, h->u32PreAeAcc_All, h->u32PreAfAcc_All);

    h->bCurUnstable = (pre_ae || pre_af || foc_ae || foc_af) ? LX_TRUE : LX_FALSE;
    if (h->bCurUnstable) {
        h->bEverUnstable = LX_TRUE;
        h->u8StableCnt = 0;
        reset_snapshot(h, &h->eFocusAfAccSel, h->u32FocusAeAcc_All, h->u32FocusAfAcc_All);
        if (h->eFSMState != AF_FSM_STATE_UNSTABLE_STOP) {
            h->eFSMPreState = h->eFSMState;
            h->eFSMState = AF_FSM_STATE_UNSTABLE_STOP;
        }
    } else {
        ++h->u8StableCnt;
    }
    int ret = 0;
    if (h->bEverUnstable && h->u8StableCnt == sc.u8StableCntTh) {
        h->bEverUnstable = LX_FALSE;
        ret = 1;
    }
    if (dbg(h, AF_DBG_LV_CONTINUOUS_SCENE)) {
        AF_PRINT("Return = %d \n", ret);
        AF_PRINT("bCurUnstable = %d, bEverUnstable = %d, u8StableCnt = %d, u8StableCntTh = %d \n", h->bCurUnstable,
                 h->bEverUnstable, h->u8StableCnt, sc.u8StableCntTh);
        AF_PRINT("bPreAeAccUnstable = %d, bPreAfAccUnstable = %d, bFocusAeAccUnstable = %d, "
                 "bFocusAfAccUnstable = %d \n",
                 pre_ae, pre_af, foc_ae, foc_af);
    }
    return ret;
}

// ---- continuous search ------------------------------------------------------------

void AF_SearchStart(cam_af_handle_t *h) {
    const MI_ISP_AF_SEARCH_START_TYPE_t &ss = h->UserSetting.strSearchStart;
    const MI_ISP_AF_MOTOR_TYPE_t &m = h->UserSetting.strMotor;
    const LX_U32 start = acc_hist(h, ss.eSearchAccSel)[0];
    h->u16EverMinPos = m.u16MaxMotorPos;
    h->u16EverMaxPos = m.u16MinMotorPos;
    AF_ResetLocal(h);
    h->u8MinMaxAccRatio = h->u8StartMaxAccRatio = h->u8NowMaxAccRatio = h->u8NowFakeMaxAccRatio = 0;
    h->u8MinMaxAccRatioPeakTh = 0;
    h->eAccHillType = AF_ACC_NULLHILL;
    h->u8AccIncCnt = h->u8AccDecCnt = 0;
    h->bEverChangeDir = h->bAccPeak = LX_FALSE;
    h->s8Dir = h->u16CurPos < ss.u16SearchMotorDirByPosTh ? 1 : -1;
    h->u16Step = ss.u16SearchMotorStep;
    AF_UpdateLocal(h, ss.eSearchAccSel);
    h->u32StartAcc = start;
    h->u16StartPos = h->u16HistPos[AF_ACC_DELAY];
    h->eFSMState = AF_FSM_STATE_SEARCH;
}

// (max - x) in percent of max; 64-bit product, 8-bit result.
LX_U8 ratio(LX_U32 max, LX_U32 x) { return (LX_U8)((LX_U64)(LX_U32)(max - x) * 100 / max); }

void AF_AccCal(cam_af_handle_t *h, LX_U32 now) {
    const MI_ISP_AF_MOTOR_TYPE_t &m = h->UserSetting.strMotor;
    const MI_ISP_AF_SEARCH_TYPE_t &s = h->UserSetting.strSearch;
    if (h->u32MaxAcc != 0) {
        h->u8MinMaxAccRatio = ratio(h->u32MaxAcc, h->u32MinAcc);
        h->u8StartMaxAccRatio = ratio(h->u32MaxAcc, h->u32StartAcc);
        h->u8NowMaxAccRatio = ratio(h->u32MaxAcc, now);
    }
    if (h->u32FakeMaxAcc != 0) h->u8NowFakeMaxAccRatio = ratio(h->u32FakeMaxAcc, now);
    const int range = m.u16MaxMotorPos - m.u16MinMotorPos;
    const int swept = (LX_U16)(h->u16EverMaxPos - h->u16EverMinPos);
    // A range of zero width has no slope.
    const int slope = range ? (range - swept) * s.u8MinMaxAccRatioPeakThSlp / range : 0;
    const int th = slope + s.u8MinMaxAccRatioPeakThOft + h->u8ThByFPS;
    h->u8MinMaxAccRatioPeakTh = (LX_U8)(th < 0 ? 0 : th > 99 ? 99 : th);
    if (dbg(h, AF_DBG_LV_CONTINUOUS_ACC_CAL)) {
        AF_PRINT("u8MinMaxAccRatio = %d, u8StartMaxAccRatio = %d, u8NowMaxAccRatio = %d, u8NowFakeMaxAccRatio = %d \n",
                 h->u8MinMaxAccRatio, h->u8StartMaxAccRatio, h->u8NowMaxAccRatio, h->u8NowFakeMaxAccRatio);
        AF_PRINT("u32MaxAcc = %d, u32MinAcc = %d, u32StartAcc = %d, NowAcc = %d, u32FakeMaxAcc = %d \n",
                 (int)h->u32MaxAcc, (int)h->u32MinAcc, (int)h->u32StartAcc, (int)now, (int)h->u32FakeMaxAcc);
        AF_PRINT("u8MinMaxAccRatioPeakTh = %d \n", h->u8MinMaxAccRatioPeakTh);
        AF_PRINT("u8MinMaxAccRatioPeakThOft = %d, u8MinMaxAccRatioPeakThSlp = %d, u16EverMinPos = %d, "
                 "u16EverMaxPos = %d \n",
                 s.u8MinMaxAccRatioPeakThOft, s.u8MinMaxAccRatioPeakThSlp, h->u16EverMinPos, h->u16EverMaxPos);
    }
}

void AF_HillStatus(cam_af_handle_t *h, LX_U32 now, LX_U32 before) {
    if (now < before) {
        h->eAccHillType = AF_ACC_DOWNHILL;
        ++h->u8AccDecCnt;
        h->u8AccIncCnt = 0;
    } else if (now > before) {
        h->u8AccDecCnt = 0;
        if (now >= h->u32MaxAcc) {
            h->eAccHillType = AF_ACC_UPHILL;
            ++h->u8AccIncCnt;
        }
    }
    if (dbg(h, AF_DBG_LV_CONTINUOUS_ACC_CAL))
        AF_PRINT("eAccHillType = %d, u8AccIncCnt = %d, u8AccDecCnt = %d \n", h->eAccHillType, h->u8AccIncCnt,
                 h->u8AccDecCnt);
}

bool AF_PeakCandidate(cam_af_handle_t *h) {
    const MI_ISP_AF_SEARCH_TYPE_t &s = h->UserSetting.strSearch;
    const bool c1 = h->u8MinMaxAccRatio >= h->u8MinMaxAccRatioPeakTh;
    const bool c2 = h->u8StartMaxAccRatio != 0 || h->bEverChangeDir;
    const bool c3 = h->u8AccDecCnt >= s.u8AccDecCntPeakTh + h->u8ThByFPS ||
                    h->u8NowFakeMaxAccRatio >= s.u8NowFakeMaxAccRatioPeakTh;
    const bool ret = c1 && c2 && c3;
    if (dbg(h, AF_DBG_LV_CONTINUOUS_PEAK_CANDI)) {
        AF_PRINT("Return = %d \n", ret);
        AF_PRINT("Condition 1: u8MinMaxAccRatio = %d, u8MinMaxAccRatioPeakTh = %d \n", h->u8MinMaxAccRatio,
                 h->u8MinMaxAccRatioPeakTh);
        AF_PRINT("Condition 2: u8StartMaxAccRatio = %d, bEverChangeDir = %d \n", h->u8StartMaxAccRatio,
                 h->bEverChangeDir);
        AF_PRINT("Condition 3: u8AccDecCnt = %d, u8AccDecCntPeakTh = %d, u8NowFakeMaxAccRatio = %d, "
                 "u8NowFakeMaxAccRatioPeakTh = %d \n",
                 h->u8AccDecCnt, s.u8AccDecCntPeakTh, h->u8NowFakeMaxAccRatio, s.u8NowFakeMaxAccRatioPeakTh);
    }
    return ret;
}

bool AF_SearchAll(cam_af_handle_t *h) {
    const bool ret = h->bEverChangeDir && h->bCurPosIsBoundary;
    if (dbg(h, AF_DBG_LV_CONTINUOUS_SEARCH_ALL)) {
        AF_PRINT("Return = %d \n", ret);
        AF_PRINT("Condition 1,2: bEverChangeDir = %d, bCurPosIsBoundary = %d \n", h->bEverChangeDir,
                 h->bCurPosIsBoundary);
    }
    return ret;
}

bool AF_WrongDir(cam_af_handle_t *h) {
    const MI_ISP_AF_SEARCH_TYPE_t &s = h->UserSetting.strSearch;
    const MI_ISP_AF_MOTOR_TYPE_t &m = h->UserSetting.strMotor;
    const bool ret = !h->bEverChangeDir && (h->u8AccDecCnt >= s.u8AccDecCntWrongDirTh + h->u8ThByFPS ||
                                            h->u8NowFakeMaxAccRatio >= s.u8NowFakeMaxAccRatioWrongDirTh ||
                                            (h->u16CurPos == m.u16MaxMotorPos && h->s8Dir == 1) ||
                                            (h->u16CurPos == m.u16MinMotorPos && h->s8Dir == -1));
    if (dbg(h, AF_DBG_LV_CONTINUOUS_WRONG_DIR)) {
        AF_PRINT("Return = %d \n", ret);
        AF_PRINT("Condition 0: bEverChangeDir = %d \n", h->bEverChangeDir);
        AF_PRINT("Condition 1: u8AccDecCnt = %d, u8AccDecCntWrongDirTh = %d, u8NowFakeMaxAccRatio = %d, "
                 "u8NowFakeMaxAccRatioWrongDirTh = %d \n",
                 h->u8AccDecCnt, s.u8AccDecCntWrongDirTh, h->u8NowFakeMaxAccRatio, s.u8NowFakeMaxAccRatioWrongDirTh);
        AF_PRINT("Condition 2: u16CurPos = %d, s8Dir = %d \n", h->u16CurPos, h->s8Dir);
    }
    return ret;
}

// Focus approach step: 1 for small search steps, else half the step.
int approach_step(const cam_af_handle_t *h) { return h->u16Step < 4 ? 1 : h->u16Step / 2; }

void AF_Search(cam_af_handle_t *h) {
    const MI_ISP_AF_ACC_SEL_TYPE_e sel = h->UserSetting.strSearchStart.eSearchAccSel;
    const MI_ISP_AF_MOTOR_TYPE_t &m = h->UserSetting.strMotor;
    const LX_U32 *hist = acc_hist(h, sel);
    const LX_U32 now = hist[0];
    AF_UpdateLocal(h, sel);
    AF_AccCal(h, now);
    AF_HillStatus(h, now, hist[1]);
    bool focused = false;
    if (AF_PeakCandidate(h)) {
        h->bAccPeak = LX_TRUE;
        focused = true;
    } else if (AF_SearchAll(h)) {
        focused = true;
    }
    if (!focused) {
        if (AF_WrongDir(h)) {
            h->bEverChangeDir = LX_TRUE;
            h->s8Dir = (LX_S8)-h->s8Dir;
            h->u32FakeMaxAcc = 0;
        }
        move_by_dir(h);
        return;
    }
    // Aim just past the best position, on the side away from the lens, and
    // follow the focus filter's own best on the way.
    h->eFSMState = AF_FSM_STATE_FOCUSED;
    const int b = approach_step(h);
    if (h->u16CurPos < h->u16MaxAccPos) {
        int t = h->u16MaxAccPos + b;
        h->u16TempPos = (LX_U16)(t < m.u16MaxMotorPos ? t : m.u16MaxMotorPos);
    } else {
        int t = h->u16MaxAccPos - b;
        h->u16TempPos = (LX_U16)(t > m.u16MinMotorPos ? t : m.u16MinMotorPos);
    }
    AF_ResetLocal(h);
    AF_UpdateLocal(h, h->UserSetting.strSceneChange.eFocusAfAccSel);
    move_toward(h, h->u16TempPos, b);
}

void AF_Focused(cam_af_handle_t *h) {
    const MI_ISP_AF_SCENE_CHANGE_TYPE_t &sc = h->UserSetting.strSceneChange;
    AF_UpdateLocal(h, sc.eFocusAfAccSel);
    if (h->u16CurPos == h->u16TempPos && h->u16CurPos == h->u16MaxAccPos) {
        // The lens rests two more frames before the focus snapshot.
        if (h->u8FocusDelayCnt == 0) {
            h->u8FocusDelayCnt = 2;
            snapshot(h, sc.eFocusAfAccSel, &h->eFocusAfAccSel, h->u32FocusAeAcc_All, h->u32FocusAfAcc_All);
            h->bFirstSearch = LX_FALSE;
            h->eFSMState = AF_FSM_STATE_WOBBLING;
        } else {
            --h->u8FocusDelayCnt;
        }
        return;
    }
    if (h->u16CurPos == h->u16TempPos) h->u16TempPos = h->u16MaxAccPos;
    move_toward(h, h->u16TempPos, approach_step(h));
}

void AF_Continuous(cam_af_handle_t *h) {
    const MI_ISP_AF_MOTOR_TYPE_t &m = h->UserSetting.strMotor;
    const bool status = dbg(h, AF_DBG_LV_CONTINUOUS_STATUS);
    if (!h->bCurPosInRange) {
        if (status) AF_PRINT("current position is out of range, move to nearest position in range \n");
        move_toward(h, h->u16CurPos < m.u16MinMotorPos ? m.u16MinMotorPos : m.u16MaxMotorPos, m.u16MaxMotorStep);
        return;
    }
    if (h->u16CurPos != h->u16TarPos) {
        if (status) AF_PRINT("motor has not reach previous target position, move to previous target position again \n");
        move_toward(h, h->u16TarPos, m.u16MaxMotorStep);
        return;
    }
    AF_UpdateHistory(h);
    if (AF_CheckScene(h) == 1) {
        if (status) AF_PRINT("AF_CheckScene == 1 \n");
        AF_SearchStart(h);
        return;
    }
    if (status) AF_PRINT("eFSMState = %d \n", h->eFSMState);
    switch (h->eFSMState) {
    case AF_FSM_STATE_UNSTABLE_STOP:
    case AF_FSM_STATE_WOBBLING:
    case AF_FSM_STATE_CHECK_SCENE: h->u16Step = 0; break;
    case AF_FSM_STATE_SEARCH_START: AF_SearchStart(h); break;
    case AF_FSM_STATE_SEARCH: AF_Search(h); break;
    case AF_FSM_STATE_FOCUSED: AF_Focused(h); break;
    default: break;
    }
}

// ---- one-shot sweep ------------------------------------------------------------------

void AF_OneShot(cam_af_handle_t *h) {
    const MI_ISP_AF_MOTOR_TYPE_t &m = h->UserSetting.strMotor;
    const bool status = dbg(h, AF_DBG_LV_ONESHOT_STATUS);
    if (!h->bReachStartPos) {
        if (h->u16CurPos != m.u16MinMotorPos) {
            if (status)
                AF_PRINT("move to min motor position, u16MinMotorPos = %d, u16CurPos = %d \n", m.u16MinMotorPos,
                         h->u16CurPos);
            move_toward(h, m.u16MinMotorPos, m.u16MaxMotorStep);
            return;
        }
        h->bReachStartPos = LX_TRUE;
        AF_ResetHistory(h);
        AF_ResetLocal(h);
    }
    if (!h->bFinishOneLoop) {
        if (h->u16CurPos != m.u16MaxMotorPos) {
            if (status)
                AF_PRINT("move from min motor position to max motor position, u16CurPos = %d \n", h->u16CurPos);
            AF_UpdateHistory(h);
            AF_UpdateLocal(h, h->UserSetting.strOneShot.eAccSel);
            h->s8Dir = 1;
            h->u16Step = h->UserSetting.strOneShot.u16MotorStep;
            move_by_dir(h);
            return;
        }
        h->bFinishOneLoop = LX_TRUE;
    }
    if (h->u16CurPos != h->u16MaxAccPos) {
        if (status)
            AF_PRINT("move to max acc position, u16MaxAccPos = %d, u16CurPos = %d \n", h->u16MaxAccPos, h->u16CurPos);
        move_toward(h, h->u16MaxAccPos, m.u16MaxMotorStep);
    }
}

}  // namespace

void AF_ResetSceneAcc(cam_af_handle_t *h) {
    reset_snapshot(h, &h->ePreAfAccSel, h->u32PreAeAcc_All, h->u32PreAfAcc_All);
    reset_snapshot(h, &h->eFocusAfAccSel, h->u32FocusAeAcc_All, h->u32FocusAfAcc_All);
}

void AF_ResetHistory(cam_af_handle_t *h) {
    memset(h->u32HistIIRH, 0, sizeof h->u32HistIIRH);
    memset(h->u32HistIIRL, 0, sizeof h->u32HistIIRL);
    memset(h->u32HistSBLV, 0, sizeof h->u32HistSBLV);
    memset(h->u32HistSBLH, 0, sizeof h->u32HistSBLH);
}

void AF_ResetLocal(cam_af_handle_t *h) {
    const LX_U16 min = h->UserSetting.strMotor.u16MinMotorPos;
    h->eLocalAfAccSel = QV_AF_ACC_MAX;
    h->u32MaxAcc = 0;
    h->u16MaxAccPos = h->u16MaxPreAccPos = h->u16MaxPostAccPos = min;
    h->u32MaxPreAcc = h->u32MaxPostAcc = 0;
    h->bUpdateMaxPostValue = LX_FALSE;
    h->u32MinAcc = 0xFFFFFFFF;
    h->u32FakeMaxAcc = 0;
    h->bEverAccDecrease = LX_FALSE;
}

extern "C" LX_S32 DoAf(AfHandle Handle, AfInput_t *input_param, AfOutput_t *output_param) {
    auto *h = (cam_af_handle_t *)Handle;
    if (!h || !input_param || !output_param || !input_param->tAFDebug || !input_param->af_stats) return -1;
    h->AfInputParameter = input_param;
    h->AfOutputParameter = output_param;
    if (input_param->tAFDebug->AF_DEBUG_ENABLE_AF == 0) return 0;
    if (h->u8InitialSkipFrames > 0) {
        --h->u8InitialSkipFrames;
        return 0;
    }
    AF_UpdateInput(h);
    const MI_ISP_AF_ATTR_TYPE_t &attr = h->UserSetting.strAttr;
    if (attr.eState == QV_ISP_STATE_NORMAL) {
        if (attr.eType == QV_OP_TYP_AUTO) {
            if (attr.eAlgo == QV_AF_ALGO_ONESHOT)
                AF_OneShot(h);
            else if (attr.eAlgo == QV_AF_ALGO_CONTINUOUS)
                AF_Continuous(h);
        } else if (attr.eType == QV_OP_TYP_MANUAL) {
            set_target(h, attr.u16ManualMotorPos);  // kept inside the motor range
        }
    }
    output_param->FocusPos = h->u16TarPos;
    output_param->Change_Motor = h->u16CurPos != h->u16TarPos;
    if (dbg(h, AF_DBG_LV_OUTPUT_PARAM))
        AF_PRINT("Change_Motor = %d, FocusPos = %d \n", (int)output_param->Change_Motor, (int)output_param->FocusPos);
    return 0;
}
