// APEX conversions shared by every part of the AE. Double precision; the
// results are truncated toward zero. Small arguments are floored so that the
// logarithm stays finite.
#include <math.h>

#include "ae_handle.h"

LX_S32 AE_ApexAV(LX_U32 u4FNx10) {
    const double f = u4FNx10 < 2 ? 0.1 : u4FNx10 / 10.0;
    return (LX_S32)(2.0 * AE_APEX_BASE * log2(f) + 0.5);
}

LX_S32 AE_ApexTV(LX_U32 u4USec) {
    const double t = u4USec < 2 ? 1e-6 : u4USec / 1e6;
    return (LX_S32)(0.5 - AE_APEX_BASE * log2(t));
}

LX_S32 AE_ApexSSV(LX_U32 u4Gain) {
    const double s = u4Gain < 2 ? 0.03125 : u4Gain * 100.0 / 3200.0;
    return (LX_S32)(AE_APEX_BASE * log2(s));
}

LX_S32 AE_ApexSV(LX_U32 u4ISO) {
    const double s = u4ISO < 2 ? 0.32 : (double)u4ISO;
    return (LX_S32)(AE_APEX_BASE * log2(s / 3.125));
}

LX_S32 AE_ApexBVFromLV(LX_U32 u4LVx10) { return (LX_S32)(((LX_S64)u4LVx10 * AE_APEX_BASE + 5) / 10) - 81920; }

LX_U32 AE_ApexToUSec(LX_S32 i4TV) { return (LX_U32)(0.5 + 1e6 * exp2(-(double)i4TV / AE_APEX_BASE)); }

LX_U32 AE_ApexToFNx10(LX_S32 i4AV) { return (LX_U32)(0.5 + 10.0 * exp2((double)i4AV / (2.0 * AE_APEX_BASE))); }

double AE_ApexToGain(LX_S32 i4SV) { return 1024.0 * 3.125 * exp2((double)i4SV / AE_APEX_BASE) / 100.0; }
