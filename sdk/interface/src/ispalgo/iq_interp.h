// Integer curve helpers of the AE (and anyone reading a curve off an IQ item):
// clamped two-point interpolation, its unsigned 64-bit twin, piecewise-linear
// lookup over an INTP_LUT, and the qsort order of signed 32-bit values.
#pragma once
#include "lx_types.h"

#define INTP_LUT_MAX_POINTS 16

// Y before X; points ordered along X, rising or falling (decided from the
// first and the last point).
typedef struct {
    LX_U16 u2NumOfPoints;
    LX_S32 i4Y[INTP_LUT_MAX_POINTS];
    LX_S32 i4X[INTP_LUT_MAX_POINTS];
} INTP_LUT;

static_assert(sizeof(INTP_LUT) == 132, "INTP_LUT layout");

#ifdef __cplusplus
extern "C" {
#endif
LX_S32 Interp(LX_S32 X1, LX_S32 X2, LX_S32 Y1, LX_S32 Y2, LX_S32 XX);
LX_U64 InterpU64(LX_U64 X1, LX_U64 X2, LX_U64 Y1, LX_U64 Y2, LX_U64 XX);
// N 0 gives 0; N above 16 uses the 16 points there are.
LX_S32 Interp_LUT(INTP_LUT strLUT, LX_S32 XX);
int compare(const void *a, const void *b);
#ifdef __cplusplus
}
#endif
