// Display controller: each call packs its identifiers and record into one
// payload and makes one request on "/dev/mi_disp".
#include <string.h>

#include "mi_disp.h"
#include "mi_disp_ioctl.h"

namespace {

MI_S32 call(unsigned long request, void *payload, size_t len) { return mi_call(MI_DEV_DISP, request, payload, len); }

MI_S32 call_id(unsigned long request, MI_S32 id) {
    MI_U32 u = (MI_U32)id;
    return call(request, &u, sizeof u);
}

MI_S32 call_pair(unsigned long request, MI_U32 a, MI_U32 b) {
    MI_U32 p[2] = {a, b};
    static_assert(sizeof p == sizeof(MI_DISP_LayerDev_t), "pair payload");
    return call(request, p, sizeof p);
}

}  // namespace

MI_S32 MI_DISP_Enable(MI_DISP_DEV DispDev) { return call_id(MI_DISP_ENABLE, DispDev); }

MI_S32 MI_DISP_Disable(MI_DISP_DEV DispDev) { return call_id(MI_DISP_DISABLE, DispDev); }

MI_S32 MI_DISP_SetPubAttr(MI_DISP_DEV DispDev, const MI_DISP_PubAttr_t *pstPubAttr) {
    // A missing record would be read through a null pointer.
    if (!pstPubAttr) {
        MI_ERR("disp", "null public attribute\n");
        return MI_DISP_ERR_NULL_PTR;
    }
    // Field by field into a cleared record: the caller's alignment bytes in
    // the sync record are never sent.
    MI_DISP_SetPubAttr_t p;
    memset(&p, 0, sizeof p);
    p.u32DispDev = (MI_U32)DispDev;
    p.stPubAttr.u32BgColor = pstPubAttr->u32BgColor;
    p.stPubAttr.eIntfType = pstPubAttr->eIntfType;
    p.stPubAttr.eIntfSync = pstPubAttr->eIntfSync;
    const MI_DISP_SyncInfo_t &s = pstPubAttr->stSyncInfo;
    MI_DISP_SyncInfo_t &d = p.stPubAttr.stSyncInfo;
    d.bSynm = s.bSynm;
    d.bIop = s.bIop;
    d.u8Intfb = s.u8Intfb;
    d.u16Vact = s.u16Vact;
    d.u16Vbb = s.u16Vbb;
    d.u16Vfb = s.u16Vfb;
    d.u16Hact = s.u16Hact;
    d.u16Hbb = s.u16Hbb;
    d.u16Hfb = s.u16Hfb;
    d.u16Hmid = s.u16Hmid;
    d.u16Bvact = s.u16Bvact;
    d.u16Bvbb = s.u16Bvbb;
    d.u16Bvfb = s.u16Bvfb;
    d.u16Hpw = s.u16Hpw;
    d.u16Vpw = s.u16Vpw;
    d.bIdv = s.bIdv;
    d.bIhs = s.bIhs;
    d.bIvs = s.bIvs;
    d.u32FrameRate = s.u32FrameRate;
    return call(MI_DISP_SET_PUB_ATTR, &p, sizeof p);
}

MI_S32 MI_DISP_DeviceDetach(MI_DISP_DEV DispSrcDev, MI_DISP_DEV DispDstDev) {
    return call_pair(MI_DISP_DEVICE_DETACH, (MI_U32)DispSrcDev, (MI_U32)DispDstDev);
}

MI_S32 MI_DISP_EnableVideoLayer(MI_DISP_LAYER DispLayer) { return call_id(MI_DISP_ENABLE_VIDEO_LAYER, DispLayer); }

MI_S32 MI_DISP_DisableVideoLayer(MI_DISP_LAYER DispLayer) { return call_id(MI_DISP_DISABLE_VIDEO_LAYER, DispLayer); }

MI_S32 MI_DISP_SetVideoLayerAttr(MI_DISP_LAYER DispLayer, const MI_DISP_VideoLayerAttr_t *pstLayerAttr) {
    if (!pstLayerAttr) {
        MI_ERR("disp", "null layer attribute\n");
        return MI_DISP_ERR_NULL_PTR;
    }
    MI_DISP_SetVideoLayerAttr_t p;
    memset(&p, 0, sizeof p);
    p.u32Layer = (MI_U32)DispLayer;
    p.stLayerAttr = *pstLayerAttr;
    return call(MI_DISP_SET_VIDEO_LAYER_ATTR, &p, sizeof p);
}

MI_S32 MI_DISP_BindVideoLayer(MI_DISP_LAYER DispLayer, MI_DISP_DEV DispDev) {
    return call_pair(MI_DISP_BIND_VIDEO_LAYER, (MI_U32)DispLayer, (MI_U32)DispDev);
}

MI_S32 MI_DISP_UnBindVideoLayer(MI_DISP_LAYER DispLayer, MI_DISP_DEV DispDev) {
    return call_pair(MI_DISP_UNBIND_VIDEO_LAYER, (MI_U32)DispLayer, (MI_U32)DispDev);
}

MI_S32 MI_DISP_SetInputPortAttr(MI_DISP_LAYER DispLayer, MI_DISP_INPUTPORT LayerInputPort,
                                const MI_DISP_InputPortAttr_t *pstInputPortAttr) {
    if (!pstInputPortAttr) {
        MI_ERR("disp", "null input port attribute\n");
        return MI_DISP_ERR_NULL_PTR;
    }
    MI_DISP_SetInputPortAttr_t p;
    memset(&p, 0, sizeof p);
    p.u32Layer = (MI_U32)DispLayer;
    p.u32Port = LayerInputPort;
    p.stInputPortAttr = *pstInputPortAttr;
    return call(MI_DISP_SET_INPUT_PORT_ATTR, &p, sizeof p);
}

MI_S32 MI_DISP_EnableInputPort(MI_DISP_LAYER DispLayer, MI_DISP_INPUTPORT LayerInputPort) {
    return call_pair(MI_DISP_ENABLE_INPUT_PORT, (MI_U32)DispLayer, LayerInputPort);
}

MI_S32 MI_DISP_DisableInputPort(MI_DISP_LAYER DispLayer, MI_DISP_INPUTPORT LayerInputPort) {
    return call_pair(MI_DISP_DISABLE_INPUT_PORT, (MI_U32)DispLayer, LayerInputPort);
}

MI_S32 MI_DISP_GetWBCAttr(MI_DISP_WBC DispWbc, MI_DISP_WBC_Attr_t *pstWbcAttr) {
    if (!pstWbcAttr) {
        MI_ERR("disp", "null write-back attribute\n");
        return MI_DISP_ERR_NULL_PTR;
    }
    MI_DISP_GetWBCAttr_t p;
    memset(&p, 0, sizeof p);
    p.u32Wbc = (MI_U32)DispWbc;
    MI_S32 ret = call(MI_DISP_GET_WBC_ATTR, &p, sizeof p);
    if (ret == MI_SUCCESS) *pstWbcAttr = p.stWbcAttr;
    return ret;
}
