// ISP devices, channels and output ports: one request on "/dev/mi_isp" per
// call. Creating a channel also installs the user-space 3A service on it.
#include <string.h>

#include "mi_id_records.h"
#include "mi_internal.h"
#include "mi_isp.h"
#include "mi_isp_internal.h"

namespace {

using IspDevArg = MiDevRecord<MI_ISP_DevAttr_t>;
using IspChnAttrArg = MiChnRecord<MI_ISP_ChannelAttr_t>;
using IspCropArg = MiChnRecord<MI_SYS_WindowRect_t>;
using IspChnParamArg = MiChnRecord<MI_ISP_ChnParam_t>;
using IspChnArg = MiChnIds;
using IspPortParamArg = MiPortRecord<MI_ISP_OutPortParam_t>;
using IspPortArg = MiPortIds;

enum : unsigned long {
    kCreateDevice = MI_IOW(0, IspDevArg),
    kCreateChannel = MI_IOW(2, IspChnAttrArg),
    kSetInputPortCrop = MI_IOW(4, IspCropArg),
    kSetChnParam = MI_IOW(6, IspChnParamArg),
    kGetChnParam = MI_IOWR(7, IspChnParamArg),
    kStartChannel = MI_IOW(8, IspChnArg),
    kStopChannel = MI_IOW(9, IspChnArg),
    kSetOutputPortParam = MI_IOW(10, IspPortParamArg),
    kGetOutputPortParam = MI_IOWR(11, IspPortParamArg),
    kEnableOutputPort = MI_IOW(12, IspPortArg),
};

static_assert(kCreateDevice == 0x40086900);
static_assert(kCreateChannel == 0x40586902);
static_assert(kSetInputPortCrop == 0x40106904);
static_assert(kSetChnParam == 0x40186906);
static_assert(kGetChnParam == 0xc0186907);
static_assert(kStartChannel == 0x40086908);
static_assert(kStopChannel == 0x40086909);
static_assert(kSetOutputPortParam == 0x4018690a);
static_assert(kGetOutputPortParam == 0xc018690b);
static_assert(kEnableOutputPort == 0x400c690c);

MiUseCount g_devUse;

}  // namespace

extern "C" MI_U16 mi_isp_dev_use_count(void) { return g_devUse.get(); }

extern "C" MI_S32 MI_ISP_CreateDevice(MI_ISP_DEV DevId, MI_ISP_DevAttr_t *pstDevAttr) {
    return g_devUse.count(mi_send(MI_DEV_ISP, kCreateDevice, IspDevArg{DevId, *pstDevAttr}));
}

extern "C" MI_S32 MI_ISP_CreateChannel(MI_ISP_DEV DevId, MI_ISP_CHANNEL ChnId, MI_ISP_ChannelAttr_t *pstChAttr) {
    int ret = mi_send(MI_DEV_ISP, kCreateChannel, IspChnAttrArg{DevId, ChnId, *pstChAttr});  // no padding in this record
    // The 3A service is installed whatever the driver said.
    MI_ISP_EnableUserspace3A(DevId, ChnId);
    return ret;
}

extern "C" MI_S32 MI_ISP_SetInputPortCrop(MI_ISP_DEV DevId, MI_ISP_CHANNEL ChnId, MI_SYS_WindowRect_t *pstCropInfo) {
    return mi_send(MI_DEV_ISP, kSetInputPortCrop, IspCropArg{DevId, ChnId, *pstCropInfo});
}

static void copy_chn_param(MI_ISP_ChnParam_t *dst, const MI_ISP_ChnParam_t *src) {
    dst->eHDRType = src->eHDRType;
    dst->e3DNRLevel = src->e3DNRLevel;
    dst->bMirror = src->bMirror;
    dst->bFlip = src->bFlip;
    dst->eRot = src->eRot;
}

extern "C" MI_S32 MI_ISP_SetChnParam(MI_ISP_DEV DevId, MI_ISP_CHANNEL ChnId, MI_ISP_ChnParam_t *pstChnParam) {
    // Field by field into a cleared record: the caller's alignment bytes are
    // never sent.
    IspChnParamArg a;
    memset(&a, 0, sizeof a);
    a.u32Dev = DevId;
    a.u32Chn = ChnId;
    copy_chn_param(&a.st, pstChnParam);
    return mi_call(MI_DEV_ISP, kSetChnParam, &a, sizeof a);
}

extern "C" MI_S32 MI_ISP_GetChnParam(MI_ISP_DEV DevId, MI_ISP_CHANNEL ChnId, MI_ISP_ChnParam_t *pstChnParam) {
    return mi_read_chn(MI_DEV_ISP, kGetChnParam, DevId, ChnId, pstChnParam);
}

extern "C" MI_S32 MI_ISP_StartChannel(MI_ISP_DEV DevId, MI_ISP_CHANNEL ChnId) {
    return mi_send(MI_DEV_ISP, kStartChannel, IspChnArg{DevId, ChnId});
}

extern "C" MI_S32 MI_ISP_StopChannel(MI_ISP_DEV DevId, MI_ISP_CHANNEL ChnId) {
    return mi_send(MI_DEV_ISP, kStopChannel, IspChnArg{DevId, ChnId});
}

extern "C" MI_S32 MI_ISP_SetOutputPortParam(MI_ISP_DEV DevId, MI_ISP_CHANNEL ChnId, MI_ISP_PORT PortId,
                                            MI_ISP_OutPortParam_t *pstOutPortParam) {
    // No padding in this record.
    return mi_send(MI_DEV_ISP, kSetOutputPortParam, IspPortParamArg{DevId, ChnId, PortId, *pstOutPortParam});
}

extern "C" MI_S32 MI_ISP_GetOutputPortParam(MI_ISP_DEV DevId, MI_ISP_CHANNEL ChnId, MI_ISP_PORT PortId,
                                            MI_ISP_OutPortParam_t *pstOutPortParam) {
    return mi_read_port(MI_DEV_ISP, kGetOutputPortParam, DevId, ChnId, PortId, pstOutPortParam);
}

extern "C" MI_S32 MI_ISP_EnableOutputPort(MI_ISP_DEV DevId, MI_ISP_CHANNEL ChnId, MI_ISP_PORT PortId) {
    return mi_send(MI_DEV_ISP, kEnableOutputPort, IspPortArg{DevId, ChnId, PortId});
}
