// Integer curve helpers (see iq_interp.h). The fixed-point base is 1024: the
// dividend is scaled up by 10 bits before the division and the quotient is
// shifted back afterwards.
#include "iq_interp.h"

#include "cam_os_wrapper.h"

extern "C" LX_S32 Interp(LX_S32 X1, LX_S32 X2, LX_S32 Y1, LX_S32 Y2, LX_S32 XX) {
    if (X1 == X2) return Y1;
    const LX_S64 x1 = X1, x2 = X2, y1 = Y1, y2 = Y2, xx = XX;
    const LX_S64 i4Min = x1 < x2 ? x1 : x2;
    const LX_S64 i4Max = x1 < x2 ? x2 : x1;
    if (xx <= i4Min) return (LX_S32)(x1 < x2 ? y1 : y2);
    if (xx >= i4Max) return (LX_S32)(x1 > x2 ? y1 : y2);
    // Wrapping arithmetic: inputs far beyond the exposure ranges give a wrong
    // value, never undefined behaviour.
    const LX_S64 nDividend = (LX_S64)((LX_U64)(xx - x1) * (LX_U64)(y2 - y1) * 1024u);
    const LX_S64 quotient = CamOsMathDivS64(nDividend, x2 - x1, nullptr);
    // Arithmetic shift: rounds toward minus infinity.
    const LX_S64 first_out = quotient >> 10;
    return (LX_S32)(LX_U64)(y1 + first_out);
}

extern "C" LX_U64 InterpU64(LX_U64 X1, LX_U64 X2, LX_U64 Y1, LX_U64 Y2, LX_U64 XX) {
    if (X1 == X2) return Y1;
    const LX_U64 u4Min = X1 < X2 ? X1 : X2;
    const LX_U64 u4Max = X1 < X2 ? X2 : X1;
    if (XX <= u4Min) return X1 < X2 ? Y1 : Y2;
    if (XX >= u4Max) return X1 > X2 ? Y1 : Y2;
    const LX_U64 dx = XX > X1 ? XX - X1 : X1 - XX;
    const LX_U64 dy = Y2 > Y1 ? Y2 - Y1 : Y1 - Y2;
    const LX_U64 first_out = CamOsMathDivU64((dx * dy) << 10, u4Max - u4Min, nullptr) >> 10;
    return Y2 >= Y1 ? Y1 + first_out : Y1 - first_out;
}

extern "C" LX_S32 Interp_LUT(INTP_LUT strLUT, LX_S32 XX) {
    // A curve without points reads 0; a count beyond the arrays uses them all.
    if (strLUT.u2NumOfPoints == 0) return 0;
    const int n = strLUT.u2NumOfPoints > INTP_LUT_MAX_POINTS ? INTP_LUT_MAX_POINTS : strLUT.u2NumOfPoints;
    const LX_S32 *X = strLUT.i4X, *Y = strLUT.i4Y;
    if (X[0] < X[n - 1]) {
        if (XX <= X[0]) return Y[0];
        if (XX >= X[n - 1]) return Y[n - 1];
        for (int i = 0; i + 1 < n; ++i)
            if (X[i] <= XX && XX < X[i + 1]) return Interp(X[i], X[i + 1], Y[i], Y[i + 1], XX);
        return Y[0];
    }
    if (XX >= X[0]) return Y[0];
    if (XX <= X[n - 1]) return Y[n - 1];
    for (int i = 0; i + 1 < n; ++i)
        if (X[i + 1] <= XX && XX < X[i]) return Interp(X[i], X[i + 1], Y[i], Y[i + 1], XX);
    return Y[0];
}

extern "C" int compare(const void *a, const void *b) {
    const LX_S32 va = *(const LX_S32 *)a, vb = *(const LX_S32 *)b;
    return va < vb ? -1 : (va > vb ? 1 : 0);
}
