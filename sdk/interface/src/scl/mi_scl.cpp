// Scaler devices, channels and output ports: one request on "/dev/mi_scl"
// per call.
#include <string.h>

#include "mi_internal.h"
#include "mi_scl.h"
#include "mi_scl_internal.h"

namespace {

struct SclDevArg {
    MI_U32 u32Dev;
    MI_SCL_DevAttr_t stAttr;
};
struct SclChnAttrArg {
    MI_U32 u32Dev;
    MI_U32 u32Chn;
    MI_SCL_ChannelAttr_t stAttr;
};
struct SclChnParamArg {
    MI_U32 u32Dev;
    MI_U32 u32Chn;
    MI_SCL_ChnParam_t stParam;
};
struct SclCropArg {
    MI_U32 u32Dev;
    MI_U32 u32Chn;
    MI_SYS_WindowRect_t stRect;
};
struct SclChnArg {
    MI_U32 u32Dev;
    MI_U32 u32Chn;
};
struct SclPortParamArg {
    MI_U32 u32Dev;
    MI_U32 u32Chn;
    MI_U32 u32Port;
    MI_SCL_OutPortParam_t stParam;
};
struct SclPortArg {
    MI_U32 u32Dev;
    MI_U32 u32Chn;
    MI_U32 u32Port;
};

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

MI_U16 g_u16DevUseCnt = 0;

}  // namespace

extern "C" MI_U16 mi_scl_dev_use_count(void) { return __atomic_load_n(&g_u16DevUseCnt, __ATOMIC_RELAXED); }

extern "C" MI_S32 MI_SCL_CreateDevice(MI_SCL_DEV DevId, MI_SCL_DevAttr_t *pstSclDevAttr) {
    SclDevArg a{DevId, *pstSclDevAttr};
    int ret = mi_call(MI_DEV_SCL, kCreateDevice, &a, sizeof a);
    if (ret == MI_SUCCESS) __atomic_add_fetch(&g_u16DevUseCnt, 1, __ATOMIC_RELAXED);
    return ret;
}

extern "C" MI_S32 MI_SCL_CreateChannel(MI_SCL_DEV DevId, MI_SCL_CHANNEL ChnId, MI_SCL_ChannelAttr_t *pstChnAttr) {
    SclChnAttrArg a{DevId, ChnId, *pstChnAttr};
    return mi_call(MI_DEV_SCL, kCreateChannel, &a, sizeof a);
}

extern "C" MI_S32 MI_SCL_SetChnParam(MI_SCL_DEV DevId, MI_SCL_CHANNEL ChnId, MI_SCL_ChnParam_t *pstChnParam) {
    SclChnParamArg a{DevId, ChnId, *pstChnParam};
    return mi_call(MI_DEV_SCL, kSetChnParam, &a, sizeof a);
}

extern "C" MI_S32 MI_SCL_GetChnParam(MI_SCL_DEV DevId, MI_SCL_CHANNEL ChnId, MI_SCL_ChnParam_t *pstChnParam) {
    SclChnParamArg a;
    memset(&a, 0, sizeof a);
    a.u32Dev = DevId;
    a.u32Chn = ChnId;
    int ret = mi_call(MI_DEV_SCL, kGetChnParam, &a, sizeof a);
    *pstChnParam = a.stParam;  // whatever the result
    return ret;
}

extern "C" MI_S32 MI_SCL_SetInputPortCrop(MI_SCL_DEV DevId, MI_SCL_CHANNEL ChnId, MI_SYS_WindowRect_t *pstCropInfo) {
    SclCropArg a{DevId, ChnId, *pstCropInfo};
    return mi_call(MI_DEV_SCL, kSetInputPortCrop, &a, sizeof a);
}

extern "C" MI_S32 MI_SCL_StartChannel(MI_SCL_DEV DevId, MI_SCL_CHANNEL ChnId) {
    SclChnArg a{DevId, ChnId};
    return mi_call(MI_DEV_SCL, kStartChannel, &a, sizeof a);
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
    a.stParam.stSCLOutCropRect = pstOutPortParam->stSCLOutCropRect;
    a.stParam.stSCLOutputSize = pstOutPortParam->stSCLOutputSize;
    a.stParam.bMirror = pstOutPortParam->bMirror;
    a.stParam.bFlip = pstOutPortParam->bFlip;
    a.stParam.ePixelFormat = pstOutPortParam->ePixelFormat;
    a.stParam.eCompressMode = pstOutPortParam->eCompressMode;
    return mi_call(MI_DEV_SCL, kSetOutputPortParam, &a, sizeof a);
}

extern "C" MI_S32 MI_SCL_GetOutputPortParam(MI_SCL_DEV DevId, MI_SCL_CHANNEL ChnId, MI_SCL_PORT PortId,
                                            MI_SCL_OutPortParam_t *pstOutPortParam) {
    SclPortParamArg a;
    memset(&a, 0, sizeof a);
    a.u32Dev = DevId;
    a.u32Chn = ChnId;
    a.u32Port = PortId;
    int ret = mi_call(MI_DEV_SCL, kGetOutputPortParam, &a, sizeof a);
    *pstOutPortParam = a.stParam;  // whatever the result
    return ret;
}

extern "C" MI_S32 MI_SCL_EnableOutputPort(MI_SCL_DEV DevId, MI_SCL_CHANNEL ChnId, MI_SCL_PORT PortId) {
    SclPortArg a{DevId, ChnId, PortId};
    return mi_call(MI_DEV_SCL, kEnableOutputPort, &a, sizeof a);
}
