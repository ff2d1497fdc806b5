// Flicker: de-banding of each new exposure, the start-up detector that finds
// the mains frequency by trying both settings, the run-time detector that
// watches for flicker of the other frequency, and the flicker settings.
#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "ae_flicker.h"
#include "ae_handle.h"
#include "cam_os_wrapper.h"

AE_FLICKER_STARTUP g_AeFlickerStartup = {AE_FLICKER_STEP_SET60, 1, AE_FLICKER_ENERGY_NONE, AE_FLICKER_ENERGY_NONE};

namespace {

constexpr LX_U16 kDbgCalc = 0x2;
constexpr LX_U16 kDbgEnergy = 0x10;
constexpr LX_U16 kDbgSettings = 0x20;
constexpr LX_U16 kDbgBandLimit = 0x80;
constexpr LX_U16 kDbgRestartOnZero = 0x2000;
constexpr LX_U16 kDbgRowSums = 0x4000;

constexpr LX_U32 kPeriod50 = 10000;  // us of 100 Hz light
constexpr LX_U32 kPeriod60 = 8333;   // us of 120 Hz light

bool dbgMask(const cam_ae_handle_t *h, LX_U16 mask) { return (h->u2DbgLevel & mask) != 0; }

const char *bandName(AE_BANDING b) { return b == BANDING_50HZ ? "50Hz" : "60Hz"; }

const char *modeName(AE_FLICKER_MODE m) {
    switch (m) {
    case AE_FLICKER_AUTO:
        return "AUTO";
    case AE_FLICKER_DISABLE:
        return "DISABLE";
    case AE_FLICKER_MANUAL:
        return "MANUAL";
    default:
        return "UNKNOW";
    }
}

void traceFlickerEx(const cam_ae_handle_t *h, const char *name, const AE_FLICKER_DETECT_TYPE_t &p) {
    if (!dbgMask(h, kDbgSettings)) return;
    CamOsPrintf("[%24s] Auto = %5s, OpType = %6s, AmpSensitivity = %3u, ScoreThd = %3u, RefreshCycles = %4u, "
                "ValidTimes = %3u, Flicker Mode = %s\n",
                name, p.bEnable ? "TRUE" : "FALSE", p.enOpType == OP_TYP_AUTO ? "AUTO" : "MANUAL",
                (unsigned)p.uAmpSensitivity, (unsigned)p.uScoreThd, (unsigned)p.uRefreshCycles,
                (unsigned)p.uValidTimesThd, p.eFlickerType == AE_FLICKER_DETECT_50HZ ? "50HZ" : "60HZ");
}

LX_U8 clampU8(LX_U8 v, LX_U8 lo, LX_U8 hi) { return v < lo ? lo : (v > hi ? hi : v); }

// ---- de-banding ---------------------------------------------------------------------

// While the start-up detector runs, a whole number of periods that also fits
// the other mains frequency would hide the difference it looks for.
LX_U32 avoidBothFrequencies(LX_U32 n, AE_BANDING band) {
    if (band == BANDING_60HZ) {
        switch (n) {
        case 5:
            return 4;
        case 6:
            return 7;
        case 11:
            return 10;
        case 12:
            return 13;
        default:
            return n;
        }
    }
    switch (n) {
    case 5:
        return 4;
    case 10:
        return 9;
    case 15:
        return 14;
    default:
        return n;
    }
}

void traceExpo(const cam_ae_handle_t *h, int line, const char *tag, const AE_APEX_EXPO &a, LX_U32 us, float s,
               float i) {
    if (!dbgMask(h, kDbgCalc) || h->SyncFrameCnt == 0) return;
    const LX_S32 lvx10 = (LX_S32)(((LX_S64)a.i4BVxBASE * 10) / AE_APEX_BASE) + 50;
    CamOsPrintf("[%20s][%4d] %s : TV = %6d, SSV = %6d, SDV = %6d, BV = %7d(%4d)\n", "pAE_DoDeBanding", line, tag,
                (int)a.i4TVxBASE, (int)a.i4SSVxBASE, (int)a.i4DSVxBASE, (int)a.i4BVxBASE, (int)lvx10);
    CamOsPrintf("[%20s][%4d] %s : ST = %6lu,  AG = %6lu,  DG = %6lu\n", "pAE_DoDeBanding", line, tag,
                (unsigned long)us, (unsigned long)(LX_U32)s, (unsigned long)(LX_U32)i);
}

// ---- start-up detector ---------------------------------------------------------------

// Row sums of this frame into ACC[0], then the square-wave correlations of
// the row differences to the previous measured frame, periods of 2..Rows rows
// over whole periods only. Returns the flicker energy: the sum of their sizes.
LX_U32 rowFlickerEnergy(cam_ae_handle_t *h) {
    AE_STAT &st = h->strAEStat;
    const AeInput_t *in = h->AeInputParameter;
    LX_U32 rows = 0, cols = 0;
    if (in && in->avgs) {
        rows = in->AvgBlkY < AE_FLICKER_ROWS ? in->AvgBlkY : AE_FLICKER_ROWS;
        cols = in->AvgBlkX;
    }
    for (LX_U32 r = 0; r < rows; ++r) {
        LX_U32 sum = 0;
        const ISPAESample_t *row = in->avgs + (size_t)r * cols;
        for (LX_U32 c = 0; c < cols; ++c) sum += row[c].y;
        st.u4FlickerDetectACC[0][r] = sum;
    }
    const LX_U32 half = rows / 2;
    for (LX_U32 k = 0; k < half; ++k) st.u4FlickerDetectAmp[k] = 0;
    for (LX_U32 i = 0; i < rows; ++i) {
        const LX_S32 d = (LX_S32)(st.u4FlickerDetectACC[0][i] - st.u4FlickerDetectACC[1][i]);
        for (LX_U32 k = 1; k <= half; ++k) {
            if (i >= 2 * k * (rows / (2 * k))) continue;
            if ((i / k) & 1)
                st.u4FlickerDetectAmp[k - 1] -= d;
            else
                st.u4FlickerDetectAmp[k - 1] += d;
        }
    }
    LX_U32 energy = 0;
    for (LX_U32 k = 0; k < half; ++k) energy += (LX_U32)abs(st.u4FlickerDetectAmp[k]);

    if (dbgMask(h, kDbgRowSums)) {
        const char *name = "AE_FlickerFrequencyDetect";
        CamOsPrintf("[%s] FlickerDetectACC[0] = \n", name);
        for (LX_U32 r = 0; r < rows; ++r) CamOsPrintf(" %lu,", (unsigned long)st.u4FlickerDetectACC[0][r]);
        CamOsPrintf("\n[%s] FlickerDetectAmp diff mode = \n", name);
        for (LX_U32 r = 0; r < rows; ++r)
            CamOsPrintf("diff[%02d] = %-6d\n", (int)r,
                        (int)(LX_S32)(st.u4FlickerDetectACC[0][r] - st.u4FlickerDetectACC[1][r]));
        CamOsPrintf("[%s] FlickerDetectAmp = \n", name);
        for (LX_U32 k = 0; k < half; ++k) CamOsPrintf(" %ld,", (long)st.u4FlickerDetectAmp[k]);
        CamOsPrintf("\n[%s] FlickerDetectACC[1] = \n", name);
        for (LX_U32 r = 0; r < rows; ++r) CamOsPrintf(" %lu,", (unsigned long)st.u4FlickerDetectACC[1][r]);
        CamOsPrintf("\n");
    }
    memcpy(st.u4FlickerDetectACC[1], st.u4FlickerDetectACC[0], rows * sizeof(LX_U32));
    return energy;
}

// The setting whose frames showed less row-to-row flicker energy wins; a tie
// goes to 50 Hz.
void decideMains(cam_ae_handle_t *h) {
    AE_FLICKER_STARTUP &s = g_AeFlickerStartup;
    const bool is60 = s.avg60 < s.avg50;
    h->eFlicker = h->strUserParam.eFlicker = is60 ? BANDING_60HZ : BANDING_50HZ;
    h->eFlickerMode = h->strUserParam.eFlickerMode = AE_FLICKER_MANUAL;
    h->bForceReCal = LX_TRUE;
    CamOsPrintf("[%s] HZ = %d\n", "AE_FlickerFrequencyDetect", is60 ? 60 : 50);
    s.avg60 = s.avg50 = AE_FLICKER_ENERGY_NONE;
    s.FlickerRefreshCnt = AE_FLICKER_STEP_SET60;
    h->bAutoFlickerFrequencyDetection = LX_FALSE;
}

// ---- run-time detector -----------------------------------------------------------------

// Frames after which flicker of the frequency not in use is back at the same
// phase; 1 means it stands still at this frame rate and cannot be seen.
LX_U8 flickerPeriod(LX_U32 fps, AE_BANDING band) {
    if (fps == 0) return 1;
    const LX_U32 f = band == BANDING_60HZ ? 100 : 120;
    for (LX_U32 m = 1; m <= 30; ++m)
        if ((f * m) % fps == 0) return (LX_U8)m;
    return 30;
}

}  // namespace

// ---- de-banding -------------------------------------------------------------------------

LX_S32 pAE_DoDeBanding(cam_ae_handle_t *h, AE_APEX_EXPO *pExpo, AE_EXPOVAL *strExpoVal) {
    if (!pExpo || !strExpoVal) return 0;
    AE_EXPOVAL &e = *strExpoVal;
    const LX_U32 t = AE_ApexToUSec(pExpo->i4TVxBASE);
    const double sensor = AE_ApexToGain(pExpo->i4SSVxBASE);
    const double total = AE_ApexToGain(pExpo->i4SSVxBASE + pExpo->i4DSVxBASE);
    float S = (float)sensor;
    float I = (float)(total * 1024.0 / sensor);
    h->bUseDgain2CompBanding = h->eExpMode == AE_MODE_SV ? LX_TRUE : LX_FALSE;
    const LX_U32 period = h->eFlicker == BANDING_60HZ ? kPeriod60 : kPeriod50;

    if (h->eFlickerMode == AE_FLICKER_DISABLE || h->eExpMode == AE_MODE_TV || h->eExpMode == AE_MODE_M) return 0;
    traceExpo(h, __LINE__, "Before", *pExpo, t, S, I);

    // A shutter shorter than the period cannot be made a multiple of it; the
    // start-up detector needs one whole period all the same.
    LX_U32 tNew = t;
    LX_U32 k = 1024;
    if (t < period) {
        if (h->bAutoFlickerFrequencyDetection) tNew = period;
    } else {
        LX_U32 n = t / period;
        if (h->bAutoFlickerFrequencyDetection) n = avoidBothFrequencies(n, h->eFlicker);
        tNew = n * period;
        if (tNew < 1) tNew = 1;
        k = (LX_U32)(((LX_U64)t << 10) / tNew);
    }
    h->u4BandingGain = k;

    const float kf = (float)k;
    if (h->bUseDgain2CompBanding) {
        I = I * kf / 1024.0f;
    } else {
        const float s2 = S * kf / 1024.0f;
        if (s2 < (float)e.u4HWSensorMaxGain)
            S = s2;
        else
            I = I * kf / 1024.0f;
    }

    const float sMax = (float)(e.u4HWSensorMaxGain ? e.u4HWSensorMaxGain : 1);
    const float iMax = (float)(e.u4HWISPMaxGain ? e.u4HWISPMaxGain : 1);
    if (S * I > sMax * iMax) {
        if (dbgMask(h, kDbgBandLimit))
            CamOsPrintf("[%27s] Banding limited to (AGain,DGain) = (%7lu,%6lu); Input (AGain,DGain) = (%7lu,%6lu)\n",
                        "pAE_DoDeBanding", (unsigned long)e.u4HWSensorMaxGain, (unsigned long)e.u4HWISPMaxGain,
                        (unsigned long)(LX_U32)S, (unsigned long)(LX_U32)I);
        S = sMax;
        I = iMax;
    } else {
        if (S > sMax) {
            I = S * I / sMax;
            S = sMax;
        }
        if (I > iMax) {
            S = S * I / iMax;
            I = iMax;
        }
    }

    const LX_U32 Si = (LX_U32)S;
    e.u4SensorUSec = tNew;
    e.u4SensorGain = Si;
    e.u4ISPGain = (LX_U32)I;
    if (dbgMask(h, kDbgEnergy)) {
        const LX_U64 f2 = (LX_U64)e.u2Fnx10 * e.u2Fnx10;
        e.u8TargetTotalEnergy = mulSat(mulSat(Si, e.u4ISPGain), tNew) / (f2 ? f2 : 1);
    }

    if (tNew != t) pExpo->i4TVxBASE = AE_ApexTV(tNew);
    pExpo->i4SSVxBASE = AE_ApexSSV(Si);
    const LX_S32 sv = AE_ApexSSV((LX_U32)(S * I / 1024.0f));
    pExpo->i4DSVxBASE = sv - pExpo->i4SSVxBASE;
    pExpo->i4BVxBASE = pExpo->i4TVxBASE + pExpo->i4AVxBASE - sv;
    traceExpo(h, __LINE__, "After ", *pExpo, tNew, S, I);
    return 0;
}

// ---- start-up detector ------------------------------------------------------------------

namespace {

// Each ISP device runs its AE on its own 3A thread; the shared steps are read
// and advanced under this lock.
pthread_mutex_t g_startupLock = PTHREAD_MUTEX_INITIALIZER;

void startupStep(cam_ae_handle_t *h) {
    const char *name = "AE_FlickerFrequencyDetect";
    AE_FLICKER_STARTUP &s = g_AeFlickerStartup;
    CamOsPrintf("[%s] Frame Counts (Current/Delay) = (%2d,%2d), FPS - (Current,Deband) = (%6d,%6d)\n", name,
                (int)s.FlickerRefreshCnt, (int)s.delayCnt, (int)h->u4CurFPS, (int)h->u4DebandFPS);
    if (s.delayCnt <= AE_FLICKER_WAIT_CALLS) {
        s.delayCnt += 1;
        return;
    }
    const LX_U32 step = s.FlickerRefreshCnt;
    if (step < AE_FLICKER_STEP_SET60 || step > AE_FLICKER_STEP_MEAS50) {
        s.FlickerRefreshCnt = AE_FLICKER_STEP_SET60;
        return;
    }
    LX_U32 next = step + 1;

    if (step == AE_FLICKER_STEP_SET60) {
        h->eFlicker = BANDING_60HZ;
        h->bForceReCal = LX_TRUE;
        CamOsPrintf("[%s] Get Acc - frame counts (60Hz/50Hz) = (%2d,%2d)\n", name, AE_FLICKER_STEP_MEAS60,
                    AE_FLICKER_STEP_MEAS50);
    }
    if (step == AE_FLICKER_STEP_SET50) {
        h->eFlicker = BANDING_50HZ;
        h->bForceReCal = LX_TRUE;
    }
    if (step >= AE_FLICKER_STEP_REF60) {
        const LX_U32 energy = rowFlickerEnergy(h);
        // A frame without any difference to its reference usually means the
        // statistics did not move; bit 13 measures that setting again.
        const bool retry = dbgMask(h, kDbgRestartOnZero) && energy == 0;
        if (step == AE_FLICKER_STEP_MEAS60) {
            if (energy < s.avg60) s.avg60 = energy;
            if (retry) {
                s.avg60 = AE_FLICKER_ENERGY_NONE;
                next = AE_FLICKER_STEP_SET60;
            }
        }
        if (step == AE_FLICKER_STEP_MEAS50) {
            if (energy < s.avg50) s.avg50 = energy;
            if (retry) {
                s.avg50 = AE_FLICKER_ENERGY_NONE;
                next = AE_FLICKER_STEP_SET50;
            }
        }
        CamOsPrintf("\n[%s] avg = %u, avg60 = %u, avg50 = %u, RegreshCnt = %u\n", name, (unsigned)energy,
                    (unsigned)s.avg60, (unsigned)s.avg50, (unsigned)step);
        if (step == AE_FLICKER_STEP_MEAS50 && next != AE_FLICKER_STEP_SET50) {
            decideMains(h);
            return;
        }
    }
    s.FlickerRefreshCnt = next;
}

}  // namespace

LX_S32 AE_FlickerFrequencyDetect(cam_ae_handle_t *h) {
    pthread_mutex_lock(&g_startupLock);
    startupStep(h);
    pthread_mutex_unlock(&g_startupLock);
    return 0;
}

// ---- run-time detector ------------------------------------------------------------------

LX_S32 AE_FlickerFrequencyDetect_RunTimeMode(cam_ae_handle_t *h) {
    AE_AUTO_FLICKER_SETTING &f = h->strFlickerEx;
    AE_FLICKER_DETECT_TYPE_t &p = f.strParam;
    if (h->bStable != 1) {
        f.bWaitingEffective = 0;
        f.bScoreEffective = 0;
        f.u4FlickerCnt = 0;
        return 0;
    }
    // The frame rate is kept x1000; the phase arithmetic wants whole frames.
    const LX_U32 fps = h->u4CurFPS / 1000;
    if (fps != f.uPreFps) {
        f.uPeriod = flickerPeriod(fps, h->eFlicker);
        f.uPreFps = (LX_U8)fps;
        f.bWaitingEffective = 0;
        f.bScoreEffective = 0;
        f.u4FlickerCnt = 0;
    }
    if (f.uPeriod <= 1) {
        f.bScoreEffective = 0;
        return 0;
    }

    // Sums of 4 adjacent blocks per column group and row, and how far each
    // group moved from the reference frame.
    const AeInput_t *in = h->AeInputParameter;
    if (!in || !in->avgs) return 0;
    AE_STAT &st = h->strAEStat;
    const LX_U32 rows = in->AvgBlkY < AE_FLICKER_ROWS ? in->AvgBlkY : AE_FLICKER_ROWS;
    const LX_U32 cols = in->AvgBlkX;
    LX_U32 diff[AE_FLICKER_GROUPS] = {};
    for (LX_U32 r = 0; r < rows; ++r) {
        const ISPAESample_t *row = in->avgs + (size_t)r * cols;
        for (LX_U32 g = 0; g < AE_FLICKER_GROUPS; ++g) {
            LX_U32 sum = 0;
            for (LX_U32 c = 4 * g; c < 4 * g + 4 && c < cols; ++c) sum += row[c].y;
            st.u4FlickerExACCCur[g][r] = sum;
            const LX_U32 ref = st.u4FlickerExACCRef[g][r];
            const LX_U32 d = sum > ref ? sum - ref : ref - sum;
            diff[g] += (d > 2 ? d : 2) - 2;
        }
    }
    if (f.bShowMessage) {
        CamOsPrintf("[%lu] ", (unsigned long)f.u4FlickerCnt);
        for (LX_U32 g = 0; g < AE_FLICKER_GROUPS; ++g) CamOsPrintf("%04lu,", (unsigned long)diff[g]);
        CamOsPrintf("\n");
    }

    if (!f.bWaitingEffective) {
        const LX_U32 old = f.u4FlickerCnt++;
        if (old > 1) {
            f.bScoreEffective = 0;
            f.u4FlickerCnt = 0;
            f.uCycleCnt = 0;
            f.u2DetectedCnt = 0;
            f.u4ValidTimes = 0;
            f.bWaitingEffective = 1;
        }
        return 0;
    }
    if (f.u4FlickerCnt == 0) {
        for (LX_U32 g = 0; g < AE_FLICKER_GROUPS; ++g) {
            memcpy(st.u4FlickerExACCRef[g], st.u4FlickerExACCCur[g], rows * sizeof(LX_U32));
            f.u4CycleDiffMax[g] = 0;
            f.u4CycleDiffMin[g] = 65536;
        }
        f.u4FlickerCnt = 1;
        return 0;
    }
    if (f.u4FlickerCnt % f.uPeriod != 0) {
        // The frame right after the reference is too close to it in phase
        // to widen the range.
        if (!(f.uPeriod > 2 && f.u4FlickerCnt == 1)) {
            for (LX_U32 g = 0; g < AE_FLICKER_GROUPS; ++g) {
                if (diff[g] > f.u4CycleDiffMax[g]) f.u4CycleDiffMax[g] = diff[g];
                if (diff[g] < f.u4CycleDiffMin[g]) f.u4CycleDiffMin[g] = diff[g];
            }
        }
        f.u4FlickerCnt += 1;
        return 0;
    }

    // Back at the reference's phase: a group that is now closer to the
    // reference than on every frame between, by more than the sensitivity,
    // saw flicker.
    f.uCycleCnt += 1;
    for (LX_U32 g = 0; g < AE_FLICKER_GROUPS; ++g) {
        if (diff[g] < f.u4CycleDiffMin[g] && (LX_S64)f.u4CycleDiffMax[g] - diff[g] > (LX_S64)p.uAmpSensitivity)
            f.u2DetectedCnt += 1;
    }
    if (f.uCycleCnt != p.uRefreshCycles) {
        f.u4FlickerCnt = 0;
        return 0;
    }
    if (f.bShowMessage) CamOsPrintf("\n====== DetectedCnt:%u =======", (unsigned)f.u2DetectedCnt);

    f.bScoreEffective = 1;
    f.u2Score = (LX_U16)(100 - (((LX_U32)f.u2DetectedCnt * 100) >> 3) / f.uCycleCnt);
    if (p.enOpType == OP_TYP_AUTO) {
        if (f.u2Score <= p.uScoreThd) {
            f.u4ValidTimes += 1;
            if (f.u4ValidTimes >= p.uValidTimesThd) {
                const bool was50 = p.eFlickerType == AE_FLICKER_DETECT_50HZ;
                h->eFlicker = was50 ? BANDING_60HZ : BANDING_50HZ;
                p.eFlickerType = was50 ? AE_FLICKER_DETECT_60HZ : AE_FLICKER_DETECT_50HZ;
                h->strUserParam.strFlickerEx.eFlickerType = p.eFlickerType;
                h->bForceReCal = LX_TRUE;
                f.u2Score = 100;
                f.bWaitingEffective = 0;
                f.bScoreEffective = 0;
                f.u4ValidTimes = 0;
                f.uPreFps = 0;
            }
        } else {
            f.u4ValidTimes = 0;
        }
    }
    f.u2DetectedCnt = 0;
    f.uCycleCnt = 0;
    f.u4FlickerCnt = 0;
    return 0;
}

// ---- settings -----------------------------------------------------------------------------

LX_S32 pAE_SetFlicker(cam_ae_handle_t *h, AE_BANDING bs) {
    if (bs != BANDING_50HZ && bs != BANDING_60HZ) {
        CamOsPrintf("[%s] banding %d is neither 50Hz (0) nor 60Hz (1)\n", __func__, (int)bs);
        return -1;
    }
    h->strUserParam.eFlicker = bs;
    h->strUserParam.bIsChanged = LX_TRUE;
    if (dbgMask(h, kDbgSettings)) CamOsPrintf("[%24s] BS : %s\n", __func__, bandName(bs));
    return 0;
}

LX_S32 pAE_GetFlicker(cam_ae_handle_t *h, AE_BANDING *bs) {
    if (!bs) return 0;
    *bs = h->strUserParam.eFlicker;
    if (dbgMask(h, kDbgSettings)) CamOsPrintf("[%24s] BS : %s\n", __func__, bandName(*bs));
    return 0;
}

LX_S32 pAE_SetFlickerMode(cam_ae_handle_t *h, AE_FLICKER_MODE mode) {
    // Any value past the last mode (a negative one included) is manual.
    if ((LX_U32)mode > (LX_U32)AE_FLICKER_MANUAL) mode = AE_FLICKER_MANUAL;
    h->strUserParam.eFlickerMode = mode;
    h->strUserParam.bIsChanged = LX_TRUE;
    if (dbgMask(h, kDbgSettings)) CamOsPrintf("[%24s] mode : %7s\n", __func__, modeName(mode));
    return 0;
}

LX_S32 pAE_GetFlickerMode(cam_ae_handle_t *h, AE_FLICKER_MODE *mode) {
    if (!mode) return 0;
    *mode = h->strUserParam.eFlickerMode;
    if (dbgMask(h, kDbgSettings)) CamOsPrintf("[%24s] mode : %7s\n", __func__, modeName(*mode));
    return 0;
}

LX_S32 pAE_SetFlickerModeEX(cam_ae_handle_t *h, AE_FLICKER_DETECT_TYPE_t *pFlickerEx) {
    if (!pFlickerEx) {
        CamOsPrintf("[%s] no settings\n", __func__);
        return -1;
    }
    const AE_FLICKER_DETECT_TYPE_t &in = *pFlickerEx;
    AE_FLICKER_DETECT_TYPE_t &u = h->strUserParam.strFlickerEx;
    u.bEnable = in.bEnable != LX_FALSE ? LX_TRUE : LX_FALSE;
    u.enOpType = in.enOpType != OP_TYP_AUTO ? OP_TYP_MANUAL : OP_TYP_AUTO;
    u.uAmpSensitivity = clampU8(in.uAmpSensitivity, 1, 100);
    u.uScoreThd = clampU8(in.uScoreThd, 1, 100);
    u.uRefreshCycles = clampU8(in.uRefreshCycles, 1, 10);
    u.uValidTimesThd = clampU8(in.uValidTimesThd, 1, 10);
    u.eFlickerType = in.eFlickerType >= AE_FLICKER_DETECT_50HZ ? AE_FLICKER_DETECT_50HZ : AE_FLICKER_DETECT_60HZ;
    h->strUserParam.bIsChanged = LX_TRUE;
    traceFlickerEx(h, __func__, u);
    return 0;
}

LX_S32 pAE_GetFlickerModeEX(cam_ae_handle_t *h, AE_FLICKER_DETECT_TYPE_t *pFlickerEx) {
    if (!pFlickerEx) return 0;
    *pFlickerEx = h->strUserParam.strFlickerEx;
    traceFlickerEx(h, __func__, *pFlickerEx);
    return 0;
}
