// Stand-in AWB until the algorithm lands: it hands out the initial gains and
// keeps them.
#include "awb_algo.h"

#include "cam_os_wrapper.h"

namespace {
struct AwbStandIn {
    IspAwbGain_t gain;
};
}  // namespace

extern "C" AwbHandle AwbInit(ISP_DBGBUF_HANDLE, AwbInput_t *pInput, AwbOutput_t *pOutput) {
    auto *h = (AwbStandIn *)CamOsMemCalloc(1, sizeof(AwbStandIn));
    if (!h) return nullptr;
    h->gain = {1024, 1024, 1024, 1024};
    if (pInput) h->gain = {pInput->InitRgain, pInput->InitGgain, pInput->InitGgain, pInput->InitBgain};
    if (pOutput) {
        pOutput->tGain = h->gain;
        pOutput->nColorTmp = 5000;
    }
    return h;
}

extern "C" LX_S32 DoAwb(AwbHandle handle, AwbInput_t *in, AwbOutput_t *out) {
    if (!handle || !in || !out) return 0;
    out->nSize = in->nSize;
    out->tCrop = in->tCrop;
    out->tBlock = in->tBlock;
    out->tGain = ((AwbStandIn *)handle)->gain;
    return 0;
}

extern "C" LX_S32 AwbRelease(AwbHandle Handle) {
    CamOsMemRelease(Handle);
    return 0;
}
