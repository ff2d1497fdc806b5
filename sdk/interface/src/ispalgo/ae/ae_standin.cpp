// Stand-in AE until the algorithm lands: it keeps the exposure the sensor
// reports and never asks for a change.
#include "ae_algo.h"

#include "cam_os_wrapper.h"

namespace {
struct AeStandIn {
    AeInitParam_t init;
};
}  // namespace

extern "C" AeHandle AeInit(ISP_DBGBUF_HANDLE, AeInitParam_t *init_param, AeInput_t *input_param, AeOutput_t *) {
    auto *h = (AeStandIn *)CamOsMemCalloc(1, sizeof(AeStandIn));
    if (h && init_param) h->init = *init_param;
    if (input_param && init_param) input_param->CurFPS = init_param->fps;
    return h;
}

extern "C" LX_S32 DoAe(AeHandle handle, AeInput_t *in, AeOutput_t *out) {
    if (!handle || !in || !out) return -1;
    out->Change = 0;
    out->Shutter = in->Shutter;
    out->SensorGain = in->SensorGain;
    out->IspGain = in->IspGain;
    out->ShutterHDR = in->ShutterHDR;
    out->SensorGainHDR = in->SensorGainHDR;
    out->IspGainHDR = in->IspGainHDR;
    out->FNx10 = in->FNx10;
    out->CurYx10 = in->PreCurYx10;
    out->AvgYx10 = in->PreAvgYx10;
    return 0;
}

extern "C" LX_S32 AeRelease(AeHandle handle) {
    CamOsMemRelease(handle);
    return 0;
}
