// Stand-in AF until the algorithm lands: the target is wherever the lens is.
#include "af_algo.h"

#include "cam_os_wrapper.h"

namespace {
struct AfStandIn {
    AfInitParam_t init;
};
}  // namespace

extern "C" AfHandle AfInit(ISP_DBGBUF_HANDLE, AfInitParam_t *init_param, AfInput_t *, AfOutput_t *output_param) {
    auto *h = (AfStandIn *)CamOsMemCalloc(1, sizeof(AfStandIn));
    if (!h) return nullptr;
    if (init_param) h->init = *init_param;
    if (output_param) {
        output_param->Change_Motor = 0;
        output_param->FocusPos = h->init.InitPos;
    }
    return h;
}

extern "C" LX_S32 DoAf(AfHandle Handle, AfInput_t *in, AfOutput_t *out) {
    if (!Handle || !in || !out) return -1;
    out->Change_Motor = 0;
    out->FocusPos = in->CurPos;
    return 0;
}

extern "C" LX_S32 AfRelease(AfHandle Handle) {
    CamOsMemRelease(Handle);
    return 0;
}
