// Scaler devices, channels and output ports: one request on "/dev/mi_scl"
// per call.
#include <string.h>

#include "mi_id_records.h"
#include "mi_internal.h"
#include "mi_scl.h"
#include "mi_scl_internal.h"

namespace {

using SclDevArg = MiDevRecord<MI_SCL_DevAttr_t>;
using SclChnAttrArg = MiChnRecord<MI_SCL_ChannelAttr_t>;
using SclChnParamArg = MiChnRecord<MI_SCL_ChnParam_t>;
using SclCropArg = MiChnRecord<MI_SYS_WindowRect_t>;
using SclChnArg = MiChnIds;
using SclPortParamArg = MiPortRecord<MI_SCL_OutPortParam_t>;
using SclPortArg = MiPortIds;

enum : unsigned long {
    kCreateDevice = MI_IOW(0, SclDevArg),
    kCreateChannel = MI_IOW(2, SclChnAttrArg),
    kSetInputPortCrop = MI_IOW(4, SclCropArg),
    kSetChnParam = MI_IOW(6, SclChnParamArg),
    kGetChnParam = MI_IOWR(7, SclChnParamArg),
    kStartChannel = MI_IOW(8, SclChnArg),
    kSetOutputPortParam = MI_IOW(10, SclPortParamArg),
    kGetOutputPortParam = MI_IOWR(11, SclPortParamArg),
    kEnableOutputPort = MI_IOW(12, SclPortArg),
};

static_assert(kCreateDevice == 0x40086900);
static_assert(kCreateChannel == 0x400c6902);
static_assert(kSetInputPortCrop == 0x40106904);
static_assert(kSetChnParam == 0x400c6906);
static_assert(kGetChnParam == 0xc00c6907);
static_assert(kStartChannel == 0x40086908);
static_assert(kSetOutputPortParam == 0x4024690a);
static_assert(kGetOutputPortParam == 0xc024690b);
static_assert(kEnableOutputPort == 0x400c690c);

MiUseCount g_devUse;

}  // namespace

extern "C" MI_U16 mi_scl_dev_use_count(void) { return g_devUse.get(); }

extern "C" MI_S32 MI_SCL_CreateDevice(MI_SCL_DEV DevId, MI_SCL_DevAttr_t *pstSclDevAttr) {
    return g_devUse.count(mi_send(MI_DEV_SCL, kCreateDevice, SclDevArg{DevId, *pstSclDevAttr}));
}

extern "C" MI_S32 MI_SCL_CreateChannel(MI_SCL_DEV DevId, MI_SCL_CHANNEL ChnId, MI_SCL_ChannelAttr_t *pstChnAttr) {
    return mi_send(MI_DEV_SCL, kCreateChannel, SclChnAttrArg{DevId, ChnId, *pstChnAttr});
}

extern "C" MI_S32 MI_SCL_SetChnParam(MI_SCL_DEV DevId, MI_SCL_CHANNEL ChnId, MI_SCL_ChnParam_t *pstChnParam) {
    return mi_send(MI_DEV_SCL, kSetChnParam, SclChnParamArg{DevId, ChnId, *pstChnParam});
}

extern "C" MI_S32 MI_SCL_GetChnParam(MI_SCL_DEV DevId, MI_SCL_CHANNEL ChnId, MI_SCL_ChnParam_t *pstChnParam) {
    return mi_read_chn(MI_DEV_SCL, kGetChnParam, DevId, ChnId, pstChnParam);
}

extern "C" MI_S32 MI_SCL_SetInputPortCrop(MI_SCL_DEV DevId, MI_SCL_CHANNEL ChnId, MI_SYS_WindowRect_t *pstCropInfo) {
    return mi_send(MI_DEV_SCL, kSetInputPortCrop, SclCropArg{DevId, ChnId, *pstCropInfo});
}

extern "C" MI_S32 MI_SCL_StartChannel(MI_SCL_DEV DevId, MI_SCL_CHANNEL ChnId) {
    return mi_send(MI_DEV_SCL, kStartChannel, SclChnArg{DevId, ChnId});
}

extern "C" MI_S32 MI_SCL_SetOutputPortParam(MI_SCL_DEV DevId, MI_SCL_CHANNEL ChnId, MI_SCL_PORT PortId,
                                            MI_SCL_OutPortParam_t *pstOutPortParam) {
    // Field by field into a cleared record: the caller's alignment bytes after
    // the two booleans are never sent.
    SclPortParamArg a;
    memset(&a, 0, sizeof a);
    a.u32Dev = DevId;
    a.u32Chn = ChnId;
    a.u32Port = PortId;
    a.st.stSCLOutCropRect = pstOutPortParam->stSCLOutCropRect;
    a.st.stSCLOutputSize = pstOutPortParam->stSCLOutputSize;
    a.st.bMirror = pstOutPortParam->bMirror;
    a.st.bFlip = pstOutPortParam->bFlip;
    a.st.ePixelFormat = pstOutPortParam->ePixelFormat;
    a.st.eCompressMode = pstOutPortParam->eCompressMode;
    return mi_call(MI_DEV_SCL, kSetOutputPortParam, &a, sizeof a);
}

extern "C" MI_S32 MI_SCL_GetOutputPortParam(MI_SCL_DEV DevId, MI_SCL_CHANNEL ChnId, MI_SCL_PORT PortId,
                                            MI_SCL_OutPortParam_t *pstOutPortParam) {
    return mi_read_port(MI_DEV_SCL, kGetOutputPortParam, DevId, ChnId, PortId, pstOutPortParam);
}

extern "C" MI_S32 MI_SCL_EnableOutputPort(MI_SCL_DEV DevId, MI_SCL_CHANNEL ChnId, MI_SCL_PORT PortId) {
    return mi_send(MI_DEV_SCL, kEnableOutputPort, SclPortArg{DevId, ChnId, PortId});
}
