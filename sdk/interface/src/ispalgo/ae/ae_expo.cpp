// Exposure model and computation: APEX tables, limits, manual exposure, the
// next exposure, its split into aperture, shutter and gains, and the hardware
// values with the shutter rounded to whole sensor lines.
//
// APEX values are x16384 per EV; BV = AV + TV - SSV - DSV everywhere. The
// exposure tables run from the brightest scene (point 0) to the darkest.
// Sums and differences of APEX values are formed in 64 bits; products of
// gains, shutters and energies in unsigned 64 bits, saturating.
#include <math.h>
#include <stdint.h>
#include <string.h>

#include "ae_handle.h"
#include "cam_os_wrapper.h"

namespace {

// Debug mask bits of u2DbgLevel.
constexpr unsigned kDbgResult = 0;    // final hardware values
constexpr unsigned kDbgCalc = 1;      // per-frame computation
constexpr unsigned kDbgEnergy = 4;    // energy interpolation mode (changes behaviour)
constexpr unsigned kDbgSetting = 5;   // setters and getters
constexpr unsigned kDbgSetExpo = 9;   // pAE_SetExposure start/end
constexpr unsigned kDbgEnergyTr = 12; // energy interpolation traces


LX_U16 sat16(LX_U64 v) { return v > 0xFFFFu ? (LX_U16)0xFFFFu : (LX_U16)v; }
LX_U32 sat32(LX_U64 v) { return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : (LX_U32)v; }

// Clamp into the range spanned by a and b, whichever is larger.
LX_S64 clampSpan(LX_S64 v, LX_S64 a, LX_S64 b) {
    const LX_S64 lo = a < b ? a : b, hi = a < b ? b : a;
    return v < lo ? lo : v > hi ? hi : v;
}

// Non-negative double to an unsigned 32-bit value, truncated and saturated.
LX_U32 toU32(double v) { return !(v > 0.0) ? 0u : v >= 4294967295.0 ? 0xFFFFFFFFu : (LX_U32)v; }

// APEX back to plain values, kept inside what the plain members can hold.
// (A TV below -197000 would be a shutter beyond 2^32 us.)
LX_U32 usecOf(LX_S32 tv) { return AE_ApexToUSec(tv < -197000 ? -197000 : tv); }
LX_U16 fnOf(LX_S32 av) { return sat16(AE_ApexToFNx10(av > 500000 ? 500000 : av)); }
LX_U32 gainOf(LX_S32 sv) { return toU32(AE_ApexToGain(sv)); }

// APEX form of a plain exposure (F-number, shutter, sensor and total gain).
AE_APEX_EXPO apexOf(LX_U32 fn, LX_U32 us, LX_U32 sensorGain, LX_U32 totalGain) {
    AE_APEX_EXPO a;
    a.i4AVxBASE = AE_ApexAV(fn);
    a.i4TVxBASE = AE_ApexTV(us);
    a.i4SSVxBASE = AE_ApexSSV(sensorGain);
    a.i4DSVxBASE = AE_ApexSSV(totalGain) - a.i4SSVxBASE;
    a.i4BVxBASE = a.i4AVxBASE + a.i4TVxBASE - (a.i4SSVxBASE + a.i4DSVxBASE);
    return a;
}

void recomputeBV(AE_APEX_EXPO *a) {
    a->i4BVxBASE = satS32((LX_S64)a->i4AVxBASE + a->i4TVxBASE - ((LX_S64)a->i4SSVxBASE + a->i4DSVxBASE));
}

LX_U8 hdrMode(const cam_ae_handle_t *h) { return h->AeInputParameter ? h->AeInputParameter->HDRMode : 0; }

// The records of one of the two exposures (long, or HDR short).
struct Side {
    bool isShort;
    AE_EXPOVAL *plain;
    AE_EXPO_TBL *plainTbl;
    AE_EXPO_TBL *userTbl;
    AE_APEX_EXPOTBL *apexTbl;
    AE_APEX_EXPO *next;
    AE_APEX_EXPO *manual;
    AE_CAL_EXPO *cal;
    AE_MANUAL_PLAIN_EXP *userPlain;
    AE_APEX_EXPO *userApex;
};

Side longSide(cam_ae_handle_t *h) {
    return {false,
            &h->strPlainLongExpo,
            &h->strPlainLongExpoTbl,
            &h->strUserParam.strPlainLongExpoTbl,
            &h->strApexLongExpoTbl,
            &h->strNextLongExpo,
            &h->strManualLongExp,
            &h->strCalLongExpo,
            &h->strUserParam.strPlainLongExpo,
            &h->strUserParam.strApexLongExpo};
}

Side shortSide(cam_ae_handle_t *h) {
    return {true,
            &h->strPlainShortExpo,
            &h->strPlainShortExpoTbl,
            &h->strUserParam.strPlainShortExpoTbl,
            &h->strApexShortExpoTbl,
            &h->strNextShortExpo,
            &h->strManualShortExp,
            &h->strCalShortExpo,
            &h->strUserParam.strPlainShortExpo,
            &h->strUserParam.strApexShortExpo};
}

LX_U8 pointCount(cam_ae_handle_t *h, bool isShort) {
    return isShort ? h->pAE_GetExpTblMaxIdxShort(h) : h->pAE_GetExpTblMaxIdx(h);
}

// The range one APEX member spans between point 0 and point n - 1.
struct Span {
    LX_S64 a, b;
    LX_S64 clamp(LX_S64 v) const { return clampSpan(v, a, b); }
    LX_S64 lo() const { return a < b ? a : b; }
    LX_S64 hi() const { return a < b ? b : a; }
};

Span span(const AE_APEX_EXPOTBL &t, LX_U8 n, LX_S32 AE_APEX_EXPO::*m) { return {t.Points[0].*m, t.Points[n - 1].*m}; }

LX_S64 svOf(const AE_APEX_EXPO &a) { return (LX_S64)a.i4SSVxBASE + a.i4DSVxBASE; }

// ---- tables -------------------------------------------------------------------------

LX_U8 usablePoints(const cam_ae_handle_t *h, const AE_APEX_EXPOTBL &t) {
    LX_U32 n = t.u2NumPoints > AE_EXPO_TBL_MAX ? AE_EXPO_TBL_MAX : t.u2NumPoints;
    if (h->eScene != AE_SCENE_FIREWORKS && h->eScene != AE_SCENE_NIGHT)
        n = n > h->u4NightSceneExtNum ? n - h->u4NightSceneExtNum : 0;
    return (LX_U8)n;
}

LX_S32 setPlainTable(cam_ae_handle_t *h, AE_EXPO_TBL *t, const Side &s, const char *name) {
    if (!t) return -1;
    const LX_U16 n = t->u2NumPoints;
    if (n < 1 || n > AE_EXPO_TBL_MAX) {
        CamOsPrintf("[%s] %hu points, a table has 1..%d\n", name, n, AE_EXPO_TBL_MAX);
        return -1;
    }
    AE_EXPOVAL &rec = *s.plain;
    // Running extremes; the ISP gain of a point may pass 32 bits.
    LX_U64 maxIsp = 0, minIsp = UINT64_MAX, maxSg = 0, minSg = UINT64_MAX, maxUs = 0, minUs = UINT64_MAX;
    LX_U16 minF = 0xFFFF, maxF = 0;
    for (LX_U16 i = 0; i < n; ++i) {
        const AE_EXPO_POINT &p = t->ExpoTbl[i];
        if (p.u4SensorGain == 0) {
            if (s.isShort)
                CamOsPrintf("[%26s] --------------- PlainShortExpoTbl->ExpoTbl[%2d].u4SensorGain = %lu(0)!!\n", name, i,
                            (unsigned long)p.u4SensorGain);
            else
                CamOsPrintf("[%26s] ---------------  PlainLongExpoTbl->ExpoTbl[%2d].u4SensorGain = %lu(0)!!\n", name, i,
                            (unsigned long)p.u4SensorGain);
            return -1;
        }
        // Below F1.0 the aperture value turns negative and the energy divides by nothing.
        if (p.u2FNumx10 < 10) {
            CamOsPrintf("[%26s] ExpoTbl[%2d].u2FNumx10 = %hu, below 10\n", name, i, p.u2FNumx10);
            return -1;
        }
        const LX_U64 isp = (LX_U64)p.u4TotalGain * 1024u / p.u4SensorGain;
        if (isp > maxIsp) maxIsp = isp;
        if (isp < minIsp) minIsp = isp;
        if (p.u4USec > maxUs) maxUs = p.u4USec;
        if (p.u4USec < minUs) minUs = p.u4USec;
        if (p.u2FNumx10 > maxF) maxF = p.u2FNumx10;
        if (p.u2FNumx10 < minF) minF = p.u2FNumx10;
        if (p.u4SensorGain > maxSg) maxSg = p.u4SensorGain;
        if (p.u4SensorGain < minSg) minSg = p.u4SensorGain;
        if (h->strPlainLongExpo.u4HWISPMaxGain < maxIsp) {
            CamOsPrintf("[%26s] Index = %2d, DG Max - TBL > HW = %6d > %6d \n", name, i, (int)sat32(maxIsp),
                        (int)h->strPlainLongExpo.u4HWISPMaxGain);
            maxIsp = h->strPlainLongExpo.u4HWISPMaxGain;
        }
        t->TotalE[i] = mulSat(mulSat(p.u4TotalGain, p.u4USec), 1024u) / ((LX_U64)p.u2FNumx10 * p.u2FNumx10);
        if (dbg(h, kDbgSetting))
            CamOsPrintf("[%24s]--idx:%2d----F#/US/TGain/AGain/TotalE:%3hu/%6lu/%6lu/%6lu/%12llu\n", name, i, p.u2FNumx10,
                        (unsigned long)p.u4USec, (unsigned long)p.u4TotalGain, (unsigned long)p.u4SensorGain,
                        (unsigned long long)t->TotalE[i]);
    }
    // Above 30 fps the frame time bounds the shutter whatever the table says.
    if (h->u4CurFPS > 30000) maxUs = 1000000000u / h->u4CurFPS;

    t->u4MaxISPGain = sat32(maxIsp);
    t->u4MaxSensorGain = sat32(maxSg);
    t->u4MaxUSec = sat32(maxUs);
    t->u2MinISPGain = sat16(minIsp);
    t->u2MinSensorGain = sat16(minSg);
    t->u2MinUSec = sat16(minUs);

    if (rec.u2HWSensorMinGain > minSg || rec.u4HWSensorMaxGain < maxSg || rec.u2HWSensorMinUS > minUs ||
        rec.u4HWSensorMaxUS < maxUs) {
        CamOsPrintf("[%26s]-------------HW:%hu/%lu/%hu/%lu-----TBL:%lu/%lu/%lu/%lu-----Plain Table is not valid!\n", name,
                    rec.u2HWSensorMinGain, (unsigned long)rec.u4HWSensorMaxGain, rec.u2HWSensorMinUS,
                    (unsigned long)rec.u4HWSensorMaxUS, (unsigned long)sat32(minSg), (unsigned long)sat32(maxSg),
                    (unsigned long)sat32(minUs), (unsigned long)sat32(maxUs));
        return -1;
    }

    rec.u2MinShutter = t->u2MinUSec;
    rec.u4MaxShutter = t->u4MaxUSec;
    rec.u2MinISPGain = t->u2MinISPGain;
    rec.u4MaxISPGain = t->u4MaxISPGain;
    rec.u2MinSensorGain = t->u2MinSensorGain;
    rec.u4MaxSensorGain = t->u4MaxSensorGain;
    rec.u2HWMinAperture = maxF;  // the smallest opening
    rec.u2HWMaxAperture = minF;
    if (dbg(h, kDbgSetting))
        CamOsPrintf(
            "[%24s]----Min/Max F#: %hu,%hu, Min/Max Shutter: %hu,%lu, Min/Max AGain: %hu,%lu, Min/Max DGain: %hu,%lu \n",
            name, minF, maxF, rec.u2MinShutter, (unsigned long)rec.u4MaxShutter, rec.u2MinSensorGain,
            (unsigned long)rec.u4MaxSensorGain, rec.u2MinISPGain, (unsigned long)rec.u4MaxISPGain);

    *s.plainTbl = *t;
    *s.userTbl = *t;
    AE_ConversionExpoTbl(h, s.apexTbl, t);
    h->bForceReCal = LX_TRUE;
    return 0;
}

// ---- manual exposure ------------------------------------------------------------------

LX_U32 clampNoted(const char *name, const char *fmt, LX_U32 v, LX_U32 lo, LX_U32 hi) {
    const LX_U32 c = v < lo ? lo : v > hi ? hi : v;
    if (c != v) CamOsPrintf(fmt, name, (int)c, (int)v);
    return c;
}

constexpr const char *kApertureLimited = "[%s] Aperture limited to %03d, input : %03d\n";
constexpr const char *kGainLimited = "[%s] gain limited to %04d, input : %06d\n";

// Gains of a limit setter: at least 1x, at most what the hardware takes.
// Either way the next frame works out a new exposure.
void gainLimits(cam_ae_handle_t *h, const char *name, const char *which, LX_U32 *isp, LX_U32 *sg) {
    const AE_EXPOVAL &e = h->strPlainLongExpo;
    *isp = clampNoted(name, kGainLimited, *isp, 1024, UINT32_MAX);
    *sg = clampNoted(name, kGainLimited, *sg, 1024, UINT32_MAX);
    if (*isp > e.u4HWISPMaxGain) {
        *isp = e.u4HWISPMaxGain;
        CamOsPrintf("[%s] u4%sISPGain > HW : %06d\n", name, which, (int)e.u4HWISPMaxGain);
    }
    if (*sg > e.u4HWSensorMaxGain) {
        *sg = e.u4HWSensorMaxGain;
        CamOsPrintf("[%s] u4%sSensorGain > HW : %06d\n", name, which, (int)e.u4HWSensorMaxGain);
    }
    h->bForceReCal = LX_TRUE;
}

LX_S32 setManual(cam_ae_handle_t *h, const Side &s, LX_U16 fn, LX_U32 sg, LX_U32 isp, LX_U32 us, const char *name) {
    const AE_EXPOVAL &rec = *s.plain;
    if (sg < rec.u2HWSensorMinGain || sg > rec.u4HWSensorMaxGain || us < rec.u2HWSensorMinUS ||
        us > rec.u4HWSensorMaxUS) {
        if (s.isShort)
            CamOsPrintf("[%s] Short exposure Gain/Shutter Min-Max: %hu/%u, %hu/%u, SG:%u, US:%u\n", name,
                        rec.u2HWSensorMinGain, rec.u4HWSensorMaxGain, rec.u2HWSensorMinUS, rec.u4HWSensorMaxUS, sg, us);
        else
            CamOsPrintf("[%s] Gain/Shutter Min-Max: %hu/%u, %hu/%u, FN:%hu, SG:%u, DG:%u, US:%u\n", name,
                        rec.u2HWSensorMinGain, rec.u4HWSensorMaxGain, rec.u2HWSensorMinUS, rec.u4HWSensorMaxUS, fn, sg,
                        isp, us);
        return -1;
    }
    fn = (LX_U16)clampNoted(name, kApertureLimited, fn, 10, 220);
    isp = clampNoted(name, kGainLimited, isp, 1024, rec.u4HWISPMaxGain < 1024 ? 1024 : rec.u4HWISPMaxGain);
    *s.userPlain = {fn, sg, isp, us};
    const LX_S32 bv = s.userApex->i4BVxBASE;
    *s.userApex = apexOf(fn, us, sg, sat32(((LX_U64)isp * sg + 512u) / 1024u));
    s.userApex->i4BVxBASE = bv;
    h->strUserParam.bIsChanged = LX_TRUE;
    return 0;
}

void getPlain(const AE_MANUAL_PLAIN_EXP &m, LX_U16 *fn, LX_U32 *sg, LX_U32 *isp, LX_U32 *us) {
    if (fn) *fn = m.u2FNx10;
    if (sg) *sg = m.u4SensorGain;
    if (isp) *isp = m.u4ISPGain;
    if (us) *us = m.u4USec;
}

void getCur(const cam_ae_handle_t *h, const AE_EXPOVAL &e, const char *which, const char *name, LX_U16 *fn, LX_U32 *sg,
            LX_U32 *isp, LX_U32 *us) {
    getPlain({e.u2Fnx10, e.u4SensorGain, e.u4ISPGain, e.u4SensorUSec}, fn, sg, isp, us);
    if (dbg(h, kDbgSetting))
        CamOsPrintf("[%24s]  %s Exposure - FN:%hu, SG:%u, DG:%u, US:%u\n", name, which, e.u2Fnx10, e.u4SensorGain,
                    e.u4ISPGain, e.u4SensorUSec);
}

// ---- splits ----------------------------------------------------------------------------

// A new aperture whose change moves into time, then the sensor gain, then the
// ISP gain, each within the table's span (the ISP gain one EV beyond it).
// What none of them can take is dropped and traced.
void chainIntoTimeAndGain(cam_ae_handle_t *h, AE_APEX_EXPO *out, LX_S32 newAV, const char *name) {
    const AE_APEX_EXPOTBL &t = h->strApexLongExpoTbl;
    const LX_U8 n = h->pAE_GetExpTblMaxIdx(h);
    const AE_APEX_EXPO in = *out;
    const Span tv = span(t, n, &AE_APEX_EXPO::i4TVxBASE), ssv = span(t, n, &AE_APEX_EXPO::i4SSVxBASE);
    const Span dsv{t.Points[0].i4DSVxBASE, (LX_S64)t.Points[n - 1].i4DSVxBASE + AE_APEX_BASE};
    const LX_S64 tvWant = (LX_S64)in.i4TVxBASE + in.i4AVxBASE - newAV;
    const LX_S64 tvOut = tv.clamp(tvWant);
    const LX_S64 ssvWant = in.i4SSVxBASE + (tvOut - tvWant);
    const LX_S64 ssvOut = ssv.clamp(ssvWant);
    const LX_S64 dsvWant = in.i4DSVxBASE + (ssvWant - ssvOut);
    const LX_S64 dsvOut = dsv.clamp(dsvWant);
    out->i4AVxBASE = newAV;
    out->i4TVxBASE = (LX_S32)tvOut;
    out->i4SSVxBASE = (LX_S32)ssvOut;
    out->i4DSVxBASE = (LX_S32)dsvOut;
    recomputeBV(out);
    if (dsvOut != dsvWant) {
        const AE_EXPOVAL &e = h->strPlainLongExpo;
        CamOsPrintf("MAV:%u, Max/Min TV:%u,%u, SSV:%u,%u, DSV:%u,%u, AV:%u,%u, AV/TV/SV Input:%u,%u,%u Output:%u,%u,%u\n",
                    (unsigned)h->strManualLongExp.i4AVxBASE, (unsigned)tv.hi(), (unsigned)tv.lo(), (unsigned)ssv.hi(),
                    (unsigned)ssv.lo(), (unsigned)dsv.hi(), (unsigned)dsv.lo(),
                    (unsigned)AE_ApexAV(e.u2HWMinAperture), (unsigned)AE_ApexAV(e.u2HWMaxAperture),
                    (unsigned)in.i4AVxBASE, (unsigned)in.i4TVxBASE, (unsigned)svOf(in), (unsigned)out->i4AVxBASE,
                    (unsigned)out->i4TVxBASE, (unsigned)svOf(*out));
        CamOsPrintf("[%s] i4AVDiff:%u\n", name, (unsigned)(dsvWant - dsvOut));
    }
}

// The aperture set to a table point's AV inside a segment: the change goes
// into time towards the other point's time, then into the sensor gain towards
// the other point's, and the rest into the ISP gain, so BV stays.
void snapAperture(AE_APEX_EXPO *out, LX_S32 newAV, const AE_APEX_EXPO &toward) {
    LX_S64 need = (LX_S64)newAV - out->i4AVxBASE;  // TV - SSV - DSV must fall by this
    LX_S64 tv = out->i4TVxBASE, ssv = out->i4SSVxBASE;
    auto take = [&need](LX_S64 room) {
        const LX_S64 mag = need < 0 ? -need : need;
        const LX_S64 t = room <= 0 ? 0 : room < mag ? room : mag;
        need += need < 0 ? t : -t;
        return t;
    };
    if (need > 0) {
        tv -= take(tv - toward.i4TVxBASE);
        ssv += take(toward.i4SSVxBASE - ssv);
    } else if (need < 0) {
        tv += take(toward.i4TVxBASE - tv);
        ssv -= take(ssv - toward.i4SSVxBASE);
    }
    out->i4AVxBASE = newAV;
    out->i4TVxBASE = (LX_S32)tv;
    out->i4SSVxBASE = (LX_S32)ssv;
    out->i4DSVxBASE = satS32(out->i4DSVxBASE + need);
}

// Shutter priority: the manual TV, limited to the table, with the difference
// moved into the speed values (and, for the long exposure, the aperture).
void tvPriority(cam_ae_handle_t *h, const AE_APEX_EXPOTBL &t, LX_U8 n, AE_APEX_EXPO *manual, AE_APEX_EXPO *out,
                bool withAperture, const char *name) {
    const AE_APEX_EXPO in = *out;
    const Span tv = span(t, n, &AE_APEX_EXPO::i4TVxBASE), ssv = span(t, n, &AE_APEX_EXPO::i4SSVxBASE);
    const Span sv{svOf(t.Points[0]), svOf(t.Points[n - 1])};
    manual->i4TVxBASE = (LX_S32)tv.clamp(manual->i4TVxBASE);
    LX_S64 move = (LX_S64)manual->i4TVxBASE - in.i4TVxBASE;  // SSV + DSV must rise by this
    out->i4TVxBASE = manual->i4TVxBASE;
    if (withAperture) {
        const LX_S64 after = svOf(in) + move;
        const LX_S64 excess = after - sv.clamp(after);
        const LX_S32 av = excess == 0 ? h->pAE_FindClosestAV(h, in.i4AVxBASE, 2, 0)
                                      : h->pAE_FindClosestAV(h, satS32(in.i4AVxBASE - excess), excess > 0 ? 0 : 1, 0);
        move += (LX_S64)av - in.i4AVxBASE;
        out->i4AVxBASE = av;
    }
    const LX_S64 ssvOut = ssv.clamp(in.i4SSVxBASE + move);
    const LX_S64 dsvOut = in.i4DSVxBASE + move - (ssvOut - in.i4SSVxBASE);
    const LX_S64 svOut = ssvOut + dsvOut;
    if (svOut > sv.hi() || svOut < sv.lo()) {
        const bool top = (svOut > sv.hi()) == (sv.b >= sv.a);
        const AE_APEX_EXPO &end = t.Points[top ? n - 1 : 0];
        out->i4SSVxBASE = end.i4SSVxBASE;
        out->i4DSVxBASE = end.i4DSVxBASE;
        recomputeBV(out);
        CamOsPrintf("[%s]MTV: %d, Max/Min SV:%d,%d, AV/TV/SV Input:%d,%d,%d Output:%d,%d,%d\n", name,
                    manual->i4TVxBASE, (int)sv.hi(), (int)sv.lo(), in.i4AVxBASE, in.i4TVxBASE, (int)svOf(in),
                    out->i4AVxBASE, out->i4TVxBASE, (int)svOf(*out));
        CamOsPrintf("[%s] i4TVDiff:%d\n", name, (int)(svOut - svOf(*out)));
        return;
    }
    out->i4SSVxBASE = (LX_S32)ssvOut;
    out->i4DSVxBASE = (LX_S32)dsvOut;
    recomputeBV(out);
}

// ---- interpolation in a table ------------------------------------------------------------

LX_S32 intpApex(cam_ae_handle_t *h, const Side &s, LX_S32 bv, LX_U64 energy) {
    AE_CAL_EXPO &cal = *s.cal;
    cal.i4TargetBV = bv;
    if (s.isShort)
        h->pAE_CalApexTblIdxShort(h, &cal);
    else
        h->pAE_CalApexTblIdx(h, &cal);
    const LX_U8 n = pointCount(h, s.isShort);
    if (n == 0 || cal.Upper >= n || cal.Lower >= n) return -1;  // no table: the exposure stays
    const AE_APEX_EXPO &U = s.apexTbl->Points[cal.Upper], &L = s.apexTbl->Points[cal.Lower];
    AE_APEX_EXPO &next = *s.next;
    next.i4AVxBASE = Interp(L.i4BVxBASE, U.i4BVxBASE, L.i4AVxBASE, U.i4AVxBASE, bv);
    next.i4TVxBASE = Interp(L.i4BVxBASE, U.i4BVxBASE, L.i4TVxBASE, U.i4TVxBASE, bv);
    next.i4SSVxBASE = Interp(L.i4BVxBASE, U.i4BVxBASE, L.i4SSVxBASE, U.i4SSVxBASE, bv);
    next.i4DSVxBASE = Interp(L.i4BVxBASE, U.i4BVxBASE, L.i4DSVxBASE, U.i4DSVxBASE, bv);
    next.i4BVxBASE = bv;

    // Energy mode: inside a segment where only one of shutter and sensor gain
    // moves (and the aperture stays), the plain values follow the energy.
    const AE_EXPO_POINT &pl = s.plainTbl->ExpoTbl[cal.Lower], &pu = s.plainTbl->ExpoTbl[cal.Upper];
    const bool usDiff = pl.u4USec != pu.u4USec, sgDiff = pl.u4SensorGain != pu.u4SensorGain;
    const bool energyMode = dbg(h, kDbgEnergy) && pl.u2FNumx10 == pu.u2FNumx10 &&
                            ((!usDiff && !sgDiff) || (usDiff != sgDiff && L.i4DSVxBASE == U.i4DSVxBASE));
    if (!energyMode) return AE_ConvertNextExpoToExpoVal(h, next, s.plain);

    const LX_U64 e1 = s.plainTbl->TotalE[cal.Lower], e2 = s.plainTbl->TotalE[cal.Upper];
    AE_EXPOVAL &p = *s.plain;
    const LX_U64 fn = InterpU64(e1, e2, pl.u2FNumx10, pu.u2FNumx10, energy);
    const LX_U64 us = InterpU64(e1, e2, pl.u4USec, pu.u4USec, energy);
    const LX_U64 sg = InterpU64(e1, e2, pl.u4SensorGain, pu.u4SensorGain, energy);
    LX_U64 den = sg * us;
    if (den == 0) den = 1;
    LX_U64 isp = (mulSat(energy, fn * fn) + den / 2) / den;
    const LX_U64 ispUpper = (LX_U64)pu.u4TotalGain * 1024u / pu.u4SensorGain;
    if (isp < ispUpper) isp = ispUpper;
    if (dbg(h, kDbgEnergyTr)) {
        CamOsPrintf("[%20s] FN : Min/Current/Max = %10hu / %10lu / %10lu\n", __func__, pu.u2FNumx10, (unsigned long)fn,
                    (unsigned long)pl.u2FNumx10);
        CamOsPrintf("[%20s] ST : Min/Current/Max = %10lu / %10lu / %10lu\n", __func__, (unsigned long)pu.u4USec,
                    (unsigned long)us, (unsigned long)pl.u4USec);
        CamOsPrintf("[%20s] SG : Min/Current/Max = %10lu / %10lu / %10lu\n", __func__, (unsigned long)pu.u4SensorGain,
                    (unsigned long)sg, (unsigned long)pl.u4SensorGain);
        CamOsPrintf("[%20s] DG : New - Old = %10lu - %10lu\n", __func__, (unsigned long)isp,
                    (unsigned long)p.u4ISPGain);
        CamOsPrintf("[%20s] TE : Min/Current/Max = %12llu / %12llu / %12llu\n", __func__, (unsigned long long)e2,
                    (unsigned long long)energy, (unsigned long long)e1);
    }
    p.u2Fnx10 = sat16(fn);
    p.u4SensorUSec = sat32(us);
    p.u4SensorGain = sat32(sg);
    p.u4ISPGain = sat32(isp);
    return 0;
}

LX_S32 tblIdx(cam_ae_handle_t *h, const AE_APEX_EXPOTBL &t, LX_U8 n, AE_CAL_EXPO *c, const char *name) {
    if (!c) return -1;
    c->Upper = c->Lower = 0;
    if (n == 0) return -1;
    const LX_S32 bv = c->i4TargetBV;
    if (bv >= t.Points[0].i4BVxBASE) {
        c->Upper = c->Lower = 0;
    } else if (bv <= t.Points[n - 1].i4BVxBASE) {
        c->Upper = c->Lower = n - 1;
    } else {
        c->Upper = c->Lower = n - 1;  // a table whose BV does not fall stops at its last point
        for (LX_U8 i = 0; i + 1 < n; ++i) {
            if (t.Points[i].i4BVxBASE > bv && bv >= t.Points[i + 1].i4BVxBASE) {
                c->Upper = i;
                c->Lower = i + 1;
                break;
            }
        }
    }
    if (frameDbg(h, kDbgCalc))
        CamOsPrintf("[%20s][%4d] : BV = %7d, Total Number = %2hu, Upper = %2d(%7d), Lower = %2d(%7d)\n", name, __LINE__,
                    bv, (LX_U16)n, c->Upper, t.Points[c->Upper].i4BVxBASE, c->Lower, t.Points[c->Lower].i4BVxBASE);
    return 0;
}

void deband(cam_ae_handle_t *h, AE_APEX_EXPO *a, AE_EXPOVAL *e) {
    if (!h->bAutoFlickerFrequencyDetection) h->pAE_DoDeBanding(h, a, e);
}

void traceNext(const cam_ae_handle_t *h, const char *name, const char *tag, const AE_APEX_EXPO &a,
               const AE_EXPOVAL &e, bool plainToo) {
    if (!frameDbg(h, kDbgCalc)) return;
    CamOsPrintf("[%20s][%4d] %s :    TVxBASE = %6d,   SSVxBASE = %6d, DSVxBASE = %6d, AVxBASE = %6d, BVxBASE = %6d\n",
                name, __LINE__, tag, a.i4TVxBASE, a.i4SSVxBASE, a.i4DSVxBASE, a.i4AVxBASE, a.i4BVxBASE);
    if (plainToo)
        CamOsPrintf("[%20s][%4d] %s : SensorUSec = %6u, SensorGain = %6u,  ISPGain = %6u,   Fnx10 = %4u\n",
                    name, __LINE__, tag, e.u4SensorUSec, e.u4SensorGain, e.u4ISPGain, (unsigned)e.u2Fnx10);
}

}  // namespace

// ---- APEX form of exposures and tables --------------------------------------------------

LX_S32 AE_Plain2Apex(cam_ae_handle_t *, AE_EV_CONVERSION *pConv) {
    if (!pConv) return -1;
    const AE_PLAIN_EXPO &p = pConv->strPlainExpo;
    AE_APEX_EXPO &a = pConv->strApexExpo;
    a.i4AVxBASE = AE_ApexAV(p.u2FNumx10);
    a.i4TVxBASE = AE_ApexTV(p.u4ExpoUSec);
    a.i4SSVxBASE = AE_ApexSV(p.u4StdISO);
    a.i4DSVxBASE = 0;
    a.i4BVxBASE = AE_ApexBVFromLV(p.u4LVx10);
    return 0;
}

LX_S32 AE_ConversionExpoTbl(cam_ae_handle_t *, AE_APEX_EXPOTBL *pApexTbl, AE_EXPO_TBL *pPlainTbl) {
    const LX_U16 n = pPlainTbl ? pPlainTbl->u2NumPoints : 0;
    if (!pApexTbl || !pPlainTbl || n == 0 || n > AE_EXPO_TBL_MAX) {
        CamOsPrintf("[%s] NULL pointer: Apex = 0x%08x, Cus = 0x%08x, u2NumPoints = %hu\n", __func__,
                    (unsigned)(uintptr_t)pApexTbl, (unsigned)(uintptr_t)pPlainTbl, n);
        return -1;
    }
    pApexTbl->u2NumPoints = n;
    for (LX_U16 i = 0; i < n; ++i) {
        const AE_EXPO_POINT &p = pPlainTbl->ExpoTbl[i];
        pApexTbl->Points[i] = apexOf(p.u2FNumx10, p.u4USec, p.u4SensorGain, p.u4TotalGain);
    }
    pApexTbl->MaxBV = pApexTbl->Points[0];
    pApexTbl->MinBV = pApexTbl->Points[n - 1];
    return 0;
}

LX_S32 pAE_SetPlainExpTbl(cam_ae_handle_t *h, AE_EXPO_TBL *pTbl) {
    return setPlainTable(h, pTbl, longSide(h), __func__);
}

LX_S32 pAE_SetPlainShortExpTbl(cam_ae_handle_t *h, AE_EXPO_TBL *pTbl) {
    return setPlainTable(h, pTbl, shortSide(h), __func__);
}

LX_S32 pAE_GetPlainExpTbl(cam_ae_handle_t *h, AE_EXPO_TBL *pTbl) {
    if (pTbl) *pTbl = h->strUserParam.strPlainLongExpoTbl;
    return 0;
}

LX_S32 pAE_GetPlainShortExpTbl(cam_ae_handle_t *h, AE_EXPO_TBL *pTbl) {
    if (pTbl) *pTbl = h->strUserParam.strPlainShortExpoTbl;
    return 0;
}

LX_U8 pAE_GetExpTblMaxIdx(cam_ae_handle_t *h) { return usablePoints(h, h->strApexLongExpoTbl); }

LX_U8 pAE_GetExpTblMaxIdxShort(cam_ae_handle_t *h) { return usablePoints(h, h->strApexShortExpoTbl); }

// ---- limits ----------------------------------------------------------------------------

LX_S32 pAE_SetMinMaxShutterUS(cam_ae_handle_t *h, LX_U16 u2MinShutterUS, LX_U32 u4MaxShutterUS) {
    h->strPlainLongExpo.u2MinShutter = u2MinShutterUS;
    h->strPlainLongExpo.u4MaxShutter = u4MaxShutterUS;
    h->bForceReCal = LX_TRUE;
    if (dbg(h, kDbgSetting)) CamOsPrintf("[%24s] Min/Max:%hu,%u\n", __func__, u2MinShutterUS, u4MaxShutterUS);
    return 0;
}

LX_S32 pAE_GetMinMaxShutterUS(cam_ae_handle_t *h, LX_U16 *u2MinShutterUS, LX_U32 *u4MaxShutterUS) {
    const AE_EXPOVAL &e = h->strPlainLongExpo;
    if (u2MinShutterUS) *u2MinShutterUS = e.u2MinShutter;
    if (u4MaxShutterUS) *u4MaxShutterUS = e.u4MaxShutter;
    if (dbg(h, kDbgSetting)) CamOsPrintf("[%24s] Min/Max:%hu,%u\n", __func__, e.u2MinShutter, e.u4MaxShutter);
    return 0;
}

// The limits stay within the F-numbers the table spans. They are kept the
// way the computation reads them: u2HWMinAperture the larger F-number (the
// smallest opening), u2HWMaxAperture the smaller, whatever order they came in.
LX_S32 pAE_SetMinMaxAperture(cam_ae_handle_t *h, LX_U16 u2MinAperture, LX_U16 u2MaxAperture) {
    LX_U16 v[2] = {u2MinAperture, u2MaxAperture};
    for (LX_U16 &x : v) x = (LX_U16)clampNoted(__func__, kApertureLimited, x, 10, 220);
    const LX_U8 n = h->pAE_GetExpTblMaxIdx(h);
    if (n > 0) {
        const LX_U16 f0 = fnOf(h->strApexLongExpoTbl.Points[0].i4AVxBASE);
        const LX_U16 fn = fnOf(h->strApexLongExpoTbl.Points[n - 1].i4AVxBASE);
        for (LX_U16 &x : v) {
            if (f0 < x)
                x = f0;
            else if (fn > x)
                x = fn;
        }
    }
    AE_EXPOVAL &e = h->strPlainLongExpo;
    e.u2HWMinAperture = v[0] > v[1] ? v[0] : v[1];
    e.u2HWMaxAperture = v[0] > v[1] ? v[1] : v[0];
    h->bForceReCal = LX_TRUE;
    if (dbg(h, kDbgSetting))
        CamOsPrintf("[%24s] Aperture Min/Max : %u / %u\n", __func__, e.u2HWMaxAperture, e.u2HWMinAperture);
    return 0;
}

// Smallest F-number first, as the setter takes them.
LX_S32 pAE_GetMinMaxAperture(cam_ae_handle_t *h, LX_U16 *u2MinAperture, LX_U16 *u2MaxAperture) {
    const AE_EXPOVAL &e = h->strPlainLongExpo;
    if (u2MinAperture) *u2MinAperture = e.u2HWMaxAperture;
    if (u2MaxAperture) *u2MaxAperture = e.u2HWMinAperture;
    if (dbg(h, kDbgSetting))
        CamOsPrintf("[%24s] Aperture Min/Max : %u / %u\n", __func__, e.u2HWMaxAperture, e.u2HWMinAperture);
    return 0;
}

LX_S32 pAE_SetMaxGains(cam_ae_handle_t *h, LX_U32 u4MaxISPGain, LX_U32 u4MaxSensorGain) {
    AE_EXPOVAL &e = h->strPlainLongExpo;
    gainLimits(h, __func__, "Max", &u4MaxISPGain, &u4MaxSensorGain);
    e.u4MaxISPGain = u4MaxISPGain;
    e.u4MaxSensorGain = u4MaxSensorGain;
    if (dbg(h, kDbgSetting)) CamOsPrintf("[%24s] Max ISP/Sensor : %u / %u\n", __func__, u4MaxISPGain, u4MaxSensorGain);
    return 0;
}

LX_S32 pAE_GetMaxGains(cam_ae_handle_t *h, LX_U32 *u4MaxISPGain, LX_U32 *u4MaxSensorGain) {
    const AE_EXPOVAL &e = h->strPlainLongExpo;
    if (u4MaxISPGain) *u4MaxISPGain = e.u4MaxISPGain;
    if (u4MaxSensorGain) *u4MaxSensorGain = e.u4MaxSensorGain;
    if (dbg(h, kDbgSetting))
        CamOsPrintf("[%24s] Max ISP/Sensor : %u / %u\n", __func__, e.u4MaxISPGain, e.u4MaxSensorGain);
    return 0;
}

LX_S32 pAE_SetMinGains(cam_ae_handle_t *h, LX_U16 u2MinISPGain, LX_U16 u2MinSensorGain) {
    AE_EXPOVAL &e = h->strPlainLongExpo;
    LX_U32 isp = u2MinISPGain, sg = u2MinSensorGain;
    gainLimits(h, __func__, "Min", &isp, &sg);
    e.u2MinISPGain = sat16(isp);
    e.u2MinSensorGain = sat16(sg);
    if (dbg(h, kDbgSetting))
        CamOsPrintf("[%24s] Max ISP/Sensor : %hu / %hu\n", __func__, e.u2MinISPGain, e.u2MinSensorGain);
    return 0;
}

LX_S32 pAE_GetMinGains(cam_ae_handle_t *h, LX_U16 *u2MinISPGain, LX_U16 *u2MinSensorGain) {
    const AE_EXPOVAL &e = h->strPlainLongExpo;
    if (u2MinISPGain) *u2MinISPGain = e.u2MinISPGain;
    if (u2MinSensorGain) *u2MinSensorGain = e.u2MinSensorGain;
    if (dbg(h, kDbgSetting))
        CamOsPrintf("[%24s] Min ISP/Sensor : %hu / %hu\n", __func__, e.u2MinISPGain, e.u2MinSensorGain);
    return 0;
}

// ---- mode and manual exposure ---------------------------------------------------------------

LX_S32 pAE_SetExpMode(cam_ae_handle_t *h, AE_EXP_MODE mode) {
    if ((LX_U32)mode > (LX_U32)AE_MODE_M) {
        CamOsPrintf("[%s] mode:%u, not a mode (0..4)\n", __func__, (unsigned)mode);
        return -1;
    }
    h->strUserParam.eExpMode = mode;
    h->strUserParam.bIsChanged = LX_TRUE;
    h->bForceReCal = LX_TRUE;
    if (dbg(h, kDbgSetting)) CamOsPrintf("[%24s] mode:%d\n", __func__, (int)mode);
    return 0;
}

LX_S32 pAE_GetExpMode(cam_ae_handle_t *h, AE_EXP_MODE *mode) {
    if (mode) *mode = h->strUserParam.eExpMode;
    if (dbg(h, kDbgSetting)) CamOsPrintf("[%24s] mode:%d\n", __func__, (int)h->eExpMode);
    return 0;
}

LX_S32 pAE_SetManualExpo(cam_ae_handle_t *h, LX_U16 u2FNx10, LX_U32 u4SensorGain, LX_U32 u4ISPGain, LX_U32 u4US) {
    return setManual(h, longSide(h), u2FNx10, u4SensorGain, u4ISPGain, u4US, __func__);
}

LX_S32 pAE_SetManualExpoShort(cam_ae_handle_t *h, LX_U16 u2FNx10, LX_U32 u4SensorGain, LX_U32 u4ISPGain,
                              LX_U32 u4US) {
    return setManual(h, shortSide(h), u2FNx10, u4SensorGain, u4ISPGain, u4US, __func__);
}

LX_S32 pAE_GetManualExpo(cam_ae_handle_t *h, LX_U16 *u2FNx10, LX_U32 *u4SensorGain, LX_U32 *u4ISPGain, LX_U32 *u4US) {
    getPlain(h->strUserParam.strPlainLongExpo, u2FNx10, u4SensorGain, u4ISPGain, u4US);
    return 0;
}

LX_S32 pAE_GetManualExpoShort(cam_ae_handle_t *h, LX_U16 *u2FNx10, LX_U32 *u4SensorGain, LX_U32 *u4ISPGain,
                              LX_U32 *u4US) {
    getPlain(h->strUserParam.strPlainShortExpo, u2FNx10, u4SensorGain, u4ISPGain, u4US);
    return 0;
}

LX_S32 pAE_GetCurExpo(cam_ae_handle_t *h, LX_U16 *u2FNx10, LX_U32 *u4SensorGain, LX_U32 *u4ISPGain, LX_U32 *u4US) {
    getCur(h, h->strPlainLongExpo, "Long", __func__, u2FNx10, u4SensorGain, u4ISPGain, u4US);
    return 0;
}

LX_S32 pAE_GetCurShortExpo(cam_ae_handle_t *h, LX_U16 *u2FNx10, LX_U32 *u4SensorGain, LX_U32 *u4ISPGain,
                           LX_U32 *u4US) {
    getCur(h, h->strPlainShortExpo, "Short", __func__, u2FNx10, u4SensorGain, u4ISPGain, u4US);
    return 0;
}

// ---- the next exposure ---------------------------------------------------------------------

LX_S32 pAE_CalPvExpo(cam_ae_handle_t *h) {
    if (!h->strRgbirParam.bEnable)
        h->pAE_CalSmoothExpo(h);
    else if (h->strRgbirParam.bIsValid)
        AE_CalRGBIRTargetwithSmooth(h);
    else
        h->i4SmoothDeltaEV = 0;

    const LX_U8 n = h->pAE_GetExpTblMaxIdx(h);
    const bool noChange = h->i4SmoothDeltaEV == 0 || h->u4DeltaEnergyRatio == 1024;
    if (n == 0 || (noChange && !h->bForceReCal)) {
        h->strNextLongExpo = h->strApexCurExpo;
        return 0;
    }
    LX_S32 d = h->i4SmoothDeltaEV;
    if (h->bAutoFlickerFrequencyDetection) {
        d = 0;
        h->i4SmoothDeltaEV = 0;
        h->u4DeltaEnergyRatio = 1024;
    }

    h->strApexPreExpo = h->strApexCurExpo;
    const AE_APEX_EXPOTBL &t = h->strApexLongExpoTbl;
    LX_S64 bv = (LX_S64)h->strApexCurExpo.i4BVxBASE - d;
    if (bv > t.Points[0].i4BVxBASE) bv = t.Points[0].i4BVxBASE;
    if (bv < t.Points[n - 1].i4BVxBASE) bv = t.Points[n - 1].i4BVxBASE;
    const LX_S32 targetBV = (LX_S32)bv;
    if (frameDbg(h, kDbgCalc))
        CamOsPrintf("[%20s][%4d] TargetBV = %7d, BVxBASE = %7d, SmoothedDeltaEv = %6d, EVCompValue = %6d\n", __func__,
                    __LINE__, targetBV, h->strApexCurExpo.i4BVxBASE, h->i4SmoothDeltaEV, h->i4EVCompValue);

    AE_EXPOVAL &plain = h->strPlainLongExpo;
    if (dbg(h, kDbgEnergy)) {
        const AE_EXPO_TBL &pt = h->strPlainLongExpoTbl;
        LX_U64 e = mulSat(plain.u8PrevTotalEnergy, h->u4DeltaEnergyRatio) / 1024u;
        if (e < pt.TotalE[0]) e = pt.TotalE[0];
        if (e > pt.TotalE[n - 1]) e = pt.TotalE[n - 1];
        plain.u8TargetTotalEnergy = e;
        if (frameDbg(h, kDbgCalc))
            CamOsPrintf(
                "[%20s][%4d] TargetTotalEnergy - (Cur/Pre/DeltaRatio)= (%12llu / %12llu / %5lu), (Min,Max) = "
                "(%12llu,%12llu)\n",
                __func__, __LINE__, (unsigned long long)e, (unsigned long long)plain.u8PrevTotalEnergy,
                (unsigned long)h->u4DeltaEnergyRatio, (unsigned long long)pt.TotalE[0],
                (unsigned long long)pt.TotalE[n - 1]);
    }

    h->pAE_CalIntpApex(h, targetBV);

    AE_APEX_EXPO &next = h->strNextLongExpo;
    const LX_U8 lower = h->strCalLongExpo.Lower, upper = h->strCalLongExpo.Upper;
    switch (h->eExpMode) {
        case AE_MODE_A:
            h->pAE_CalApexAuto2(h, lower, upper, &next, &plain);
            // The split may have moved the aperture to a table point: the plain
            // values (the F-number sent to the lens) follow it.
            AE_ConvertNextExpoToExpoVal(h, next, &plain);
            h->pAE_LimitMinMax(h, &next, &plain);
            h->pAE_DoDeBanding(h, &next, &plain);
            break;
        case AE_MODE_AV:
        case AE_MODE_SV:
            if (h->eExpMode == AE_MODE_AV)
                h->pAE_CalApexAV2(h, lower, upper, &next);
            else
                h->pAE_CalApexSV2(h, lower, upper, &next);
            AE_ConvertNextExpoToExpoVal(h, next, &plain);
            h->pAE_LimitMinMax(h, &next, &plain);
            h->pAE_DoDeBanding(h, &next, &plain);
            break;
        case AE_MODE_TV:
            h->pAE_CalApexTV(h, lower, upper, &next);
            AE_ConvertNextExpoToExpoVal(h, next, &plain);
            h->pAE_LimitMinMax(h, &next, &plain);
            break;
        case AE_MODE_M: {
            const AE_APEX_EXPO &m = h->strManualLongExp;
            next.i4TVxBASE = m.i4TVxBASE;
            next.i4SSVxBASE = m.i4SSVxBASE;
            next.i4DSVxBASE = m.i4DSVxBASE;
            next.i4AVxBASE = m.i4AVxBASE;
            recomputeBV(&next);
            AE_ConvertNextExpoToExpoVal(h, next, &plain);
            h->pAE_LimitMinMax(h, &next, &plain);
            break;
        }
        default:
            break;
    }
    traceNext(h, __func__, "NextExpo", next, plain, true);
    return 0;
}

LX_S32 pAE_CalPvExpoShort(cam_ae_handle_t *h) {
    AE_APEX_EXPO &next = h->strNextShortExpo;
    AE_EXPOVAL &plain = h->strPlainShortExpo;
    if (h->pAE_GetExpTblMaxIdxShort(h) == 0) {
        // No short table: the short exposure stays as it is.
        next = apexOf(plain.u2Fnx10, plain.u4SensorUSec, plain.u4SensorGain,
                      sat32((LX_U64)plain.u4SensorGain * plain.u4ISPGain / 1024u));
        return 0;
    }
    const AE_EXPOVAL &lng = h->strPlainLongExpo;
    LX_S32 r = Interp_LUT(h->strAeHdrLut, (LX_S32)(lng.u4TotalGain > INT32_MAX ? INT32_MAX : lng.u4TotalGain));
    if (r < 1) r = 1024;  // a curve without a ratio: the short exposure equals the long one
    const LX_U32 k = r >= 2048 ? (LX_U32)r / 1024u : 1u;
    const LX_S32 bv = satS32((LX_S64)h->strNextLongExpo.i4BVxBASE + (LX_S64)(AE_APEX_BASE * log2((double)k)));
    const LX_U64 energy = mulSat(lng.u8TargetTotalEnergy, 1024u) / (LX_U64)r;
    h->pAE_CalIntpApexShort(h, bv, energy);
    if (frameDbg(h, kDbgCalc)) {
        CamOsPrintf("[%20s][%4d] TargetBVShort = %6d\n", __func__, __LINE__, bv);
        traceNext(h, __func__, "NextExpoS", next, plain, dbg(h, kDbgEnergy));
    }

    const LX_U8 hdr = hdrMode(h);
    switch (h->eExpMode) {
        case AE_MODE_A:
        case AE_MODE_AV:
            recomputeBV(&next);
            if (hdr == 2) AE_CalApexSVforHDRShort(h, &next, &plain);
            h->pAE_LimitMinMax(h, &next, &plain);
            deband(h, &next, &plain);
            break;
        case AE_MODE_SV:
            AE_CalApexSVforHDRShort(h, &next, &plain);
            AE_ConvertNextExpoToExpoVal(h, next, &plain);
            h->pAE_LimitMinMax(h, &next, &plain);
            deband(h, &next, &plain);
            break;
        case AE_MODE_TV:
            AE_CalApexTVforHDRShort(h, &next);
            AE_ConvertNextExpoToExpoVal(h, next, &plain);
            h->pAE_LimitMinMax(h, &next, &plain);
            break;
        case AE_MODE_M: {
            const AE_APEX_EXPO &m = h->strManualShortExp;
            const AE_APEX_EXPO &gains = hdr == 2 ? h->strNextLongExpo : m;
            next.i4TVxBASE = m.i4TVxBASE;
            next.i4AVxBASE = m.i4AVxBASE;
            next.i4SSVxBASE = gains.i4SSVxBASE;
            next.i4DSVxBASE = gains.i4DSVxBASE;
            recomputeBV(&next);
            AE_ConvertNextExpoToExpoVal(h, next, &plain);
            h->pAE_LimitMinMax(h, &next, &plain);
            break;
        }
        default:
            break;
    }
    return 0;
}

LX_S32 pAE_CalIntpApex(cam_ae_handle_t *h, LX_S32 i4BVxBASE) {
    return intpApex(h, longSide(h), i4BVxBASE, h->strPlainLongExpo.u8TargetTotalEnergy);
}

LX_S32 pAE_CalIntpApexShort(cam_ae_handle_t *h, LX_S32 i4BVxBASE, LX_U64 u8TargetEnergy) {
    return intpApex(h, shortSide(h), i4BVxBASE, u8TargetEnergy);
}

LX_S32 pAE_CalApexTblIdx(cam_ae_handle_t *h, AE_CAL_EXPO *pCal) {
    return tblIdx(h, h->strApexLongExpoTbl, h->pAE_GetExpTblMaxIdx(h), pCal, __func__);
}

LX_S32 pAE_CalApexTblIdxShort(cam_ae_handle_t *h, AE_CAL_EXPO *pCal) {
    return tblIdx(h, h->strApexShortExpoTbl, h->pAE_GetExpTblMaxIdxShort(h), pCal, __func__);
}

LX_S32 pAE_CalApexAuto2(cam_ae_handle_t *h, LX_U8 Lower, LX_U8 Upper, AE_APEX_EXPO *pOut, AE_EXPOVAL *) {
    if (!pOut) return -1;
    const LX_U8 n = h->pAE_GetExpTblMaxIdx(h);
    if (n == 0 || Lower >= n || Upper >= n) {
        recomputeBV(pOut);
        return 0;
    }
    const AE_APEX_EXPO &U = h->strApexLongExpoTbl.Points[Upper], &L = h->strApexLongExpoTbl.Points[Lower];
    if (h->pAE_FurtherLimitOnAperture(h)) {
        chainIntoTimeAndGain(h, pOut, h->pAE_FindClosestAV(h, pOut->i4AVxBASE, 2, 0), __func__);
    } else if (U.i4AVxBASE != L.i4AVxBASE) {
        const AE_APEX_EXPO &o = *pOut;
        // Room towards the darker point (one EV of ISP gain beyond it) and towards the brighter one.
        const LX_S64 gainsToL = ((LX_S64)L.i4SSVxBASE - o.i4SSVxBASE) + ((LX_S64)L.i4DSVxBASE - o.i4DSVxBASE + AE_APEX_BASE);
        const LX_S64 gainsToU = ((LX_S64)o.i4SSVxBASE - U.i4SSVxBASE) + ((LX_S64)o.i4DSVxBASE - U.i4DSVxBASE);
        if ((LX_S64)U.i4AVxBASE - o.i4AVxBASE <= (LX_S64)o.i4TVxBASE - L.i4TVxBASE + gainsToL && gainsToL >= 8192)
            snapAperture(pOut, U.i4AVxBASE, L);
        else if ((LX_S64)o.i4AVxBASE - L.i4AVxBASE <= (LX_S64)U.i4TVxBASE - o.i4TVxBASE + gainsToU &&
                 gainsToU >= AE_APEX_BASE)
            snapAperture(pOut, L.i4AVxBASE, U);
    }
    recomputeBV(pOut);
    if (frameDbg(h, kDbgCalc))
        CamOsPrintf("[%20s][%4d] Band = %2d, (PredY/TargetY/CurY)x10 = %4u,%4u,%4u IntpBV = %6d, Delta = %6d, ResOut = "
                    "%4d,%4d,%4d,%4d\n",
                    __func__, __LINE__, Upper, h->u4PredYx10, h->u4EVTargetx10, h->u4CurYx10[0][h->uCurYSyncIdx % 3],
                    h->strCalLongExpo.i4TargetBV, h->i4SmoothDeltaEV, pOut->i4TVxBASE, pOut->i4SSVxBASE,
                    pOut->i4DSVxBASE, pOut->i4AVxBASE);
    return 0;
}

LX_S32 pAE_CalApexAV2(cam_ae_handle_t *h, LX_U8, LX_U8, AE_APEX_EXPO *pOut) {
    const LX_U8 n = h->pAE_GetExpTblMaxIdx(h);
    if (!pOut || n == 0) return -1;
    const AE_APEX_EXPOTBL &t = h->strApexLongExpoTbl;
    AE_APEX_EXPO &m = h->strManualLongExp;
    m.i4AVxBASE = (LX_S32)span(t, n, &AE_APEX_EXPO::i4AVxBASE).clamp(m.i4AVxBASE);
    chainIntoTimeAndGain(h, pOut, h->pAE_FindClosestAV(h, m.i4AVxBASE, 2, 0), __func__);
    return 0;
}

LX_S32 pAE_CalApexSV2(cam_ae_handle_t *h, LX_U8, LX_U8, AE_APEX_EXPO *pOut) {
    const LX_U8 n = h->pAE_GetExpTblMaxIdx(h);
    if (!pOut || n == 0) return -1;
    const AE_APEX_EXPOTBL &t = h->strApexLongExpoTbl;
    AE_APEX_EXPO &m = h->strManualLongExp;
    const AE_APEX_EXPO in = *pOut;
    m.i4SSVxBASE = (LX_S32)span(t, n, &AE_APEX_EXPO::i4SSVxBASE).clamp(m.i4SSVxBASE);
    m.i4DSVxBASE = (LX_S32)span(t, n, &AE_APEX_EXPO::i4DSVxBASE).clamp(m.i4DSVxBASE);
    pOut->i4SSVxBASE = m.i4SSVxBASE;
    pOut->i4DSVxBASE = m.i4DSVxBASE;
    // AV + TV rises by what the gains fell, within what the table's points reach.
    const AE_APEX_EXPO &p0 = t.Points[0], &pn = t.Points[n - 1];
    const LX_S64 sum = (LX_S64)in.i4TVxBASE + in.i4AVxBASE;
    const LX_S64 reach = clampSpan(sum + svOf(*pOut) - svOf(in), (LX_S64)pn.i4BVxBASE + svOf(pn),
                                   (LX_S64)p0.i4BVxBASE + svOf(p0));
    const LX_S64 delta = reach - sum;
    const Span tv = span(t, n, &AE_APEX_EXPO::i4TVxBASE);
    const LX_S64 tvDelta = in.i4TVxBASE + delta;
    const LX_S32 av = tv.clamp(tvDelta) != tvDelta
                          ? h->pAE_FindClosestAV(h, satS32(in.i4AVxBASE + delta), delta >= 0 ? 1 : 0, 0)
                          : h->pAE_FindClosestAV(h, in.i4AVxBASE, 2, 0);
    const LX_S64 tvWant = tvDelta - ((LX_S64)av - in.i4AVxBASE);
    const LX_S64 tvOut = tv.clamp(tvWant);
    if (tvOut != tvWant)
        CamOsPrintf("MSV:%d, i4SVDiff:%d Max/Min TV:%d,%d, SSV:%d,%d, DSV:%d,%d, AV/TV/SV Input:%d,%d,%d Output:%d,%d,%d \n",
                    (int)svOf(m), (int)(tvWant - tvOut), (int)tv.hi(), (int)tv.lo(), p0.i4SSVxBASE, pn.i4SSVxBASE,
                    p0.i4DSVxBASE, pn.i4DSVxBASE, in.i4AVxBASE, in.i4TVxBASE, (int)svOf(in), av, (int)tvOut,
                    (int)svOf(*pOut));
    pOut->i4AVxBASE = av;
    pOut->i4TVxBASE = (LX_S32)tvOut;
    recomputeBV(pOut);
    return 0;
}

LX_S32 pAE_CalApexTV(cam_ae_handle_t *h, LX_U8, LX_U8, AE_APEX_EXPO *pOut) {
    const LX_U8 n = h->pAE_GetExpTblMaxIdx(h);
    if (!pOut || n == 0) return -1;
    tvPriority(h, h->strApexLongExpoTbl, n, &h->strManualLongExp, pOut, true, __func__);
    return 0;
}

LX_S32 AE_CalApexTVforHDRShort(cam_ae_handle_t *h, AE_APEX_EXPO *pExpo) {
    const LX_U8 n = h->pAE_GetExpTblMaxIdxShort(h);
    if (!pExpo || n == 0) return -1;
    // The lens is shared: the short exposure keeps the aperture it has.
    tvPriority(h, h->strApexShortExpoTbl, n, &h->strManualShortExp, pExpo, false, __func__);
    return 0;
}

LX_S32 AE_CalApexSVforHDRShort(cam_ae_handle_t *h, AE_APEX_EXPO *pA, AE_EXPOVAL *pE) {
    const LX_U8 n = h->pAE_GetExpTblMaxIdxShort(h);
    if (!pA || !pE || n == 0) return -1;
    const AE_APEX_EXPOTBL &t = h->strApexShortExpoTbl;
    const AE_EXPO_TBL &pt = h->strPlainShortExpoTbl;
    const AE_APEX_EXPO &lng = h->strNextLongExpo;
    const AE_APEX_EXPO old = *pA;
    LX_S64 delta;
    LX_U32 newSg, newIsp;
    if (hdrMode(h) == 2) {
        pA->i4SSVxBASE = lng.i4SSVxBASE;
        pA->i4DSVxBASE = lng.i4DSVxBASE;
        newSg = h->strPlainLongExpo.u4SensorGain;
        newIsp = h->strPlainLongExpo.u4ISPGain;
        delta = svOf(*pA) - svOf(old);
    } else {
        AE_APEX_EXPO &m = h->strManualShortExp;
        m.i4SSVxBASE = (LX_S32)span(t, n, &AE_APEX_EXPO::i4SSVxBASE).clamp(m.i4SSVxBASE);
        pA->i4SSVxBASE = m.i4SSVxBASE;
        delta = svOf(m) - svOf(old);
        pA->i4DSVxBASE = (LX_S32)span(t, n, &AE_APEX_EXPO::i4DSVxBASE).clamp(lng.i4DSVxBASE);
        newSg = h->strUserParam.strPlainShortExpo.u4SensorGain;
        newIsp = h->strPlainLongExpo.u4ISPGain;
    }
    const LX_U32 oldSg = pE->u4SensorGain, oldIsp = pE->u4ISPGain, oldUs = pE->u4SensorUSec;
    pE->u4ISPGain = newIsp;
    pE->u4SensorGain = newSg;
    const LX_S64 tvWant = (LX_S64)old.i4TVxBASE + delta;
    const LX_S32 tvDark = t.Points[n - 1].i4TVxBASE, tvBright = t.Points[0].i4TVxBASE;
    if (tvWant < tvDark) {
        pA->i4TVxBASE = tvDark;
        pE->u4SensorUSec = pt.ExpoTbl[n - 1].u4USec;
    } else if (tvWant > tvBright) {
        pA->i4TVxBASE = tvBright;
        pE->u4SensorUSec = pt.ExpoTbl[0].u4USec;
    } else {
        // The shutter keeps the exposure product of the old gains.
        pA->i4TVxBASE = (LX_S32)tvWant;
        LX_U64 den = (LX_U64)newSg * newIsp;
        if (den < 1024) den = 1024;
        LX_U64 us = mulSat(mulSat(oldSg, oldUs), oldIsp) / den;
        if (us < pt.ExpoTbl[0].u4USec) us = pt.ExpoTbl[0].u4USec;
        pE->u4SensorUSec = sat32(us);
    }
    recomputeBV(pA);
    return 0;
}

// ---- aperture ------------------------------------------------------------------------------

LX_CAM_BOOL pAE_FurtherLimitOnAperture(cam_ae_handle_t *h) {
    const LX_U8 n = h->pAE_GetExpTblMaxIdx(h);
    if (n == 0) return LX_FALSE;
    const AE_EXPOVAL &e = h->strPlainLongExpo;
    const AE_APEX_EXPOTBL &t = h->strApexLongExpoTbl;
    return (AE_ApexAV(e.u2HWMinAperture) == t.Points[0].i4AVxBASE &&
            AE_ApexAV(e.u2HWMaxAperture) == t.Points[n - 1].i4AVxBASE)
               ? LX_FALSE
               : LX_TRUE;
}

LX_S32 pAE_FindClosestAV(cam_ae_handle_t *h, LX_S32 i4AV, LX_U8 Mode, LX_U8 Nth) {
    const LX_U8 n = h->pAE_GetExpTblMaxIdx(h);
    const AE_APEX_EXPO *P = h->strApexLongExpoTbl.Points;
    const LX_U8 want = Nth < 1 ? 1 : Nth;
    LX_S32 av = i4AV;
    if (n > 0) {
        LX_U8 seen = 0;
        switch (Mode) {
            case 0:
                av = P[n - 1].i4AVxBASE;
                for (LX_U8 i = 0; i < n; ++i)
                    if (P[i].i4AVxBASE <= i4AV && ++seen == want) {
                        av = P[i].i4AVxBASE;
                        break;
                    }
                break;
            case 1:
                av = P[0].i4AVxBASE;
                for (int i = n - 1; i >= 0; --i)
                    if (P[i].i4AVxBASE >= i4AV && ++seen == want) {
                        av = P[i].i4AVxBASE;
                        break;
                    }
                break;
            case 2: {
                LX_S64 best = -1;
                for (LX_U8 i = 0; i < n; ++i) {
                    const LX_S64 d = (LX_S64)P[i].i4AVxBASE - i4AV;
                    const LX_S64 ad = d < 0 ? -d : d;
                    if (best < 0 || ad < best) {
                        best = ad;
                        av = P[i].i4AVxBASE;
                    }
                }
                break;
            }
            default:
                av = P[0].i4AVxBASE;
                break;
        }
    }
    const AE_EXPOVAL &e = h->strPlainLongExpo;
    const LX_S32 avClosed = AE_ApexAV(e.u2HWMinAperture), avOpen = AE_ApexAV(e.u2HWMaxAperture);
    if (av > avClosed) return avClosed;
    if (e.u2HWMaxAperture >= 2 && av < avOpen) return avOpen;
    return av;
}

// ---- plain values ----------------------------------------------------------------------------

LX_S32 AE_ConvertNextExpoToExpoVal(cam_ae_handle_t *h, AE_APEX_EXPO strExpo, AE_EXPOVAL *pExpoVal) {
    if (!pExpoVal) return -1;
    const LX_U32 us = usecOf(strExpo.i4TVxBASE);
    const LX_U16 fn = fnOf(strExpo.i4AVxBASE);
    const LX_U32 sg = gainOf(strExpo.i4SSVxBASE);
    const LX_U32 tg = gainOf(satS32(svOf(strExpo)));
    const LX_U64 ratio = (LX_U64)tg * 1024u / (sg > 1024 ? sg : 1024);
    const LX_U32 isp = ratio > 1024 ? sat32(ratio) : 1024;
    AE_EXPOVAL &e = *pExpoVal;
    e.u4PrevSensorGain = e.u4SensorGain;
    e.u4PrevISPGain = e.u4ISPGain;
    e.u4PrevSensorUSec = e.u4SensorUSec;
    e.u2PrevFnx10 = e.u2Fnx10;
    e.u4SensorGain = sg;
    e.u4ISPGain = isp;
    e.u4SensorUSec = us;
    e.u2Fnx10 = fn;
    if (frameDbg(h, kDbgCalc))
        CamOsPrintf("[%20s][%4d] APEX AV/TV/SSV/DSV: %6lu/%6lu/%6lu/%6lu, FNx10/Shutter/AGain/DGain:%4lu/%6lu/%6lu/%6lu\n",
                    __func__, __LINE__, (unsigned long)(LX_U32)strExpo.i4AVxBASE, (unsigned long)(LX_U32)strExpo.i4TVxBASE,
                    (unsigned long)(LX_U32)strExpo.i4SSVxBASE, (unsigned long)(LX_U32)strExpo.i4DSVxBASE,
                    (unsigned long)fn, (unsigned long)us, (unsigned long)sg, (unsigned long)isp);
    return 0;
}

// Single precision, as the sensor driver's own limit check works.
LX_S32 pAE_LimitMinMax(cam_ae_handle_t *h, AE_APEX_EXPO *pExpo, AE_EXPOVAL *pExpoVal) {
    if (!pExpo || !pExpoVal || h->eExpMode == AE_MODE_M) return 0;
    const AE_APEX_EXPO in = *pExpo;
    AE_EXPOVAL &e = *pExpoVal;
    const float s = (float)(1000000.0 * exp2(-(double)in.i4TVxBASE / AE_APEX_BASE));
    const float tg = (float)AE_ApexToGain(satS32(svOf(in)));
    const float sg = (float)AE_ApexToGain(in.i4SSVxBASE);
    const float E = s * tg * 1024.0f;
    const float igRaw = tg * 1024.0f / (sg > 1024.0f ? sg : 1024.0f);
    const float ig = igRaw > 1024.0f ? igRaw : 1024.0f;

    auto clamp = [](float v, LX_U32 lo, LX_U32 hi) {
        if (v < (float)lo) v = (float)lo;
        if (v > (float)hi) v = (float)hi;
        return v;
    };
    // Nothing divides by less than one.
    auto nz = [](float v) { return v < 1.0f ? 1.0f : v; };
    const LX_U32 minUs = e.u2MinShutter, maxUs = e.u4MaxShutter;
    const LX_U32 minSg = e.u2MinSensorGain, maxSg = e.u4MaxSensorGain;
    const LX_U32 minIsp = e.u2MinISPGain, maxIsp = e.u4MaxISPGain;
    const float sgc = clamp(sg, minSg, maxSg), igc = clamp(ig, minIsp, maxIsp);
    float us, sensor, isp;
    switch (h->eExpMode) {
        case AE_MODE_A:
        case AE_MODE_AV:
            us = clamp(E / nz(sgc * igc), minUs, maxUs);
            sensor = clamp(E / nz(igc * us), minSg, maxSg);
            isp = clamp(E / nz(us * sensor), minIsp, maxIsp);
            break;
        case AE_MODE_TV:
            us = s;
            sensor = clamp(E / nz(s * igc), minSg, maxSg);
            isp = clamp(E / nz(s * sensor), minIsp, maxIsp);
            break;
        case AE_MODE_SV:
            sensor = sg;
            isp = ig;
            us = clamp(E / nz(sg * ig), minUs, maxUs);
            break;
        default:
            us = sensor = isp = 0.0f;
            break;
    }
    // The shutter to the nearest microsecond: truncating would take a table
    // shutter of whole lamp periods (20000 us, 19999.99 after APEX) a
    // microsecond below them, and de-banding would drop a whole period.
    const LX_U32 usI = toU32(us + 0.5f), sgI = toU32(sensor), ispI = toU32(isp);
    e.bLimited = (sgI == minSg || sgI == maxSg || ispI == minIsp || ispI == maxIsp || usI == minUs || usI == maxUs)
                     ? LX_TRUE
                     : LX_FALSE;

    const LX_S32 sv = AE_ApexSSV(sat32((LX_U64)sgI * ispI / 1024u));
    pExpo->i4TVxBASE = AE_ApexTV(usI < 1 ? 1 : usI);
    pExpo->i4SSVxBASE = AE_ApexSSV(sgI);
    pExpo->i4DSVxBASE = sv - pExpo->i4SSVxBASE;
    pExpo->i4BVxBASE = satS32((LX_S64)pExpo->i4TVxBASE + pExpo->i4AVxBASE - sv);
    if (frameDbg(h, kDbgCalc)) {
        CamOsPrintf("[%20s][%4d] Before : TV = %6d ,SSV = %6d, SDV = %6d \n", __func__, __LINE__, in.i4TVxBASE,
                    in.i4SSVxBASE, in.i4DSVxBASE);
        CamOsPrintf("[%20s][%4d] After  : TV = %6d ,SSV = %6d, SDV = %6d, BV = %7d \n", __func__, __LINE__,
                    pExpo->i4TVxBASE, pExpo->i4SSVxBASE, pExpo->i4DSVxBASE, pExpo->i4BVxBASE);
        CamOsPrintf("[%20s][%4d] Old : %6d/%6d/%6d, New : %6d/%6d/%6d, ISP min/max : %4d/%6d\n", __func__, __LINE__,
                    (int)toU32(s), (int)toU32(sg), (int)toU32(ig), (int)usI, (int)sgI, (int)ispI, (int)minIsp,
                    (int)maxIsp);
    }
    return 0;
}

LX_U32 AE_CalNewDGainWithIR(cam_ae_handle_t *h, LX_U32 dgain) {
    AE_RGBIR_SETTING &r = h->strRgbirParam;
    const AE_EXPOVAL &e = h->strPlainLongExpo;
    const LX_U64 g = (LX_U64)dgain * 10000u / (r.u2IRFeedBakckRatio ? r.u2IRFeedBakckRatio : 1u);
    if (e.u2MinISPGain <= g && g <= e.u4HWISPMaxGain) return (LX_U32)g;
    LX_U32 limit = g > e.u4HWISPMaxGain ? e.u4HWISPMaxGain : e.u2MinISPGain;
    if (limit == 0) limit = 1;
    // The ratio that the limit leaves, kept within what a ratio may be.
    const LX_U64 lo = r.u2IRFeedBakckRatioMinLimit ? r.u2IRFeedBakckRatioMinLimit : 1u;
    LX_U64 ratio = (LX_U64)dgain * 10000u / limit;
    if (ratio < lo) ratio = lo;
    if (ratio > 10000u) ratio = 10000u;
    r.u2IRFeedBakckRatio = (LX_U16)ratio;
    return limit;
}

LX_S32 pAE_SetExposure(cam_ae_handle_t *h, AE_APEX_EXPO *strCurExpo, AE_EXPOVAL *pExpoVal) {
    if (!strCurExpo || !pExpoVal) return -1;
    AE_APEX_EXPO &a = *strCurExpo;
    AE_EXPOVAL &e = *pExpoVal;
    AE_RGBIR_SETTING &ir = h->strRgbirParam;
    const bool withIR = ir.bEnable && ir.bIsValid && h->eExpMode != AE_MODE_M;

    const LX_U64 step = e.u4HWSensorShutterStepNS ? e.u4HWSensorShutterStepNS : 1u;
    const LX_U32 t = usecOf(a.i4TVxBASE);
    LX_U64 sg = gainOf(a.i4SSVxBASE);
    const LX_U64 tg = gainOf(satS32(svOf(a)));

    // Whole lines, and the gain that makes up for the time rounding lost.
    const LX_U64 lines = (LX_U64)t * 1000u / step;
    LX_U64 tq = (lines * step + 999u) / 1000u;
    if (tq < 1) tq = 1;
    const LX_U64 qns = step > 1000u * tq ? step : step * ((1000u * tq) / step);
    e.u4PrevTotalGain = e.u4TotalGain;
    e.u4ShutterStepGain = sat32((LX_U64)t * 1024000u / qns);
    const LX_U64 TG = (mulSat(tg, e.u4ShutterStepGain) + 512u) / 1024u * 1024u;  // x1024 squared

    auto ispFor = [](LX_U64 total, LX_U64 sensor) { return (total + sensor / 2) / (sensor > 1024 ? sensor : 1024); };
    LX_U64 isp;
    if (h->eShutterCompGain == COMP_BY_SENSOR_GAIN && hdrMode(h) != 2) {
        const LX_U64 plainRatio = tg * 1024u / (sg > 1024 ? sg : 1024);
        isp = plainRatio > 1024 ? plainRatio : 1024;
        sg = (TG + isp / 2) / isp;
    } else {
        isp = ispFor(TG, sg);
    }
    if (withIR) isp = AE_CalNewDGainWithIR(h, sat32(isp));

    const LX_U64 sgIn = sg;
    if (sg < e.u2MinSensorGain) sg = e.u2MinSensorGain;
    if (sg > e.u4MaxSensorGain) sg = e.u4MaxSensorGain;
    if (sg != sgIn || h->bAutoFlickerFrequencyDetection) isp = ispFor(TG, sg);

    LX_U64 shutter = tq;
    if (isp < 1024 || isp > e.u4HWISPMaxGain) {
        if (dbg(h, kDbgResult))
            CamOsPrintf("[%20s][%4d] DG(> %4dx or < 1x):%6lu, AG:%6lu, StepNS:%6lu, TempST:%6lu, ST:%6lu, TempTG:%6lu, "
                        "TG:%6lu, StepGain:%6lu\n",
                        __func__, __LINE__, (int)(e.u4HWISPMaxGain / 1024u), (unsigned long)sat32(isp),
                        (unsigned long)sat32(sg), (unsigned long)step, (unsigned long)sat32(tq), (unsigned long)t,
                        (unsigned long)sat32(TG / 1024u), (unsigned long)sat32(tg), (unsigned long)e.u4ShutterStepGain);
        // Without line rounding the ISP gain makes up for nothing but the gain itself.
        shutter = t;
        isp = ispFor(tg * 1024u, sg);
        if (isp < 1024) isp = 1024;
        if (isp > e.u4HWISPMaxGain) isp = e.u4HWISPMaxGain;
        if (withIR) isp = AE_CalNewDGainWithIR(h, sat32(isp));
    }

    if (dbg(h, kDbgSetExpo))
        CamOsPrintf("[%27s] Start : (AV/TV/SSV/DSV) = (%6lu/%6lu/%6lu/%6lu), FNx10/Shutter/AGain/DGain = "
                    "(%4lu/%6lu/%6lu/%6lu)\n",
                    __func__, (unsigned long)(LX_U32)a.i4AVxBASE, (unsigned long)(LX_U32)a.i4TVxBASE,
                    (unsigned long)(LX_U32)a.i4SSVxBASE, (unsigned long)(LX_U32)a.i4DSVxBASE, (unsigned long)e.u2Fnx10,
                    (unsigned long)e.u4SensorUSec, (unsigned long)e.u4SensorGain, (unsigned long)e.u4ISPGain);
    e.u4SensorGain = sat32(sg);
    e.u4ISPGain = sat32(isp);
    e.u4SensorUSec = sat32(shutter);
    e.u4TotalGain = sat32((LX_U64)e.u4ISPGain * e.u4SensorGain / 1024u);

    const LX_S32 sv = AE_ApexSSV(e.u4TotalGain);
    if (e.u4SensorUSec != t) a.i4TVxBASE = AE_ApexTV(e.u4SensorUSec);
    a.i4SSVxBASE = AE_ApexSSV(e.u4SensorGain);
    a.i4DSVxBASE = sv - a.i4SSVxBASE;
    a.i4BVxBASE = satS32((LX_S64)a.i4TVxBASE + a.i4AVxBASE - sv);
    if (dbg(h, kDbgSetExpo))
        CamOsPrintf("[%27s] End : (AV/TV/SSV/DSV) = (%6lu/%6lu/%6lu/%6lu), FNx10/Shutter/AGain/DGain = "
                    "(%4lu/%6lu/%6lu/%6lu)\n",
                    __func__, (unsigned long)(LX_U32)a.i4AVxBASE, (unsigned long)(LX_U32)a.i4TVxBASE,
                    (unsigned long)(LX_U32)a.i4SSVxBASE, (unsigned long)(LX_U32)a.i4DSVxBASE, (unsigned long)e.u2Fnx10,
                    (unsigned long)e.u4SensorUSec, (unsigned long)e.u4SensorGain, (unsigned long)e.u4ISPGain);

    // The IR feedback follows the long exposure only; the short one would
    // otherwise count every frame twice.
    if (ir.bEnable && pExpoVal == &h->strPlainLongExpo) {
        if (ir.bIsValid) {
            ir.uInvalidCount = 0;
            ir.bIsValid = 0;
            ir.u2IRFeedBakckRatioPre = ir.u2IRFeedBakckRatio;
            h->strNextLongExpo.i4DSVxBASE = AE_ApexSSV(e.u4TotalGain) - h->strNextLongExpo.i4SSVxBASE;
        } else if (ir.uInvalidCount % 2 == 0) {
            ++ir.uInvalidCount;
        } else {
            ir.bIsValid = 1;
        }
    }
    if (dbg(h, kDbgResult))
        CamOsPrintf("[%20s][%4d] Sensor Gain = %6lu, ISP Gain = %6lu, Sensor Shutter = %6lu\n\n", __func__, __LINE__,
                    (unsigned long)e.u4SensorGain, (unsigned long)e.u4ISPGain, (unsigned long)e.u4SensorUSec);
    return 0;
}
