// Driver interface of the display node: command numbers, payloads (leading
// identifiers as unsigned 32-bit words, then the caller's record) and codes.
#pragma once
#include "mi_disp_datatype.h"
#include "mi_internal.h"

// Results: 0xA0 | module | level "error" | media error number.
#define MI_DISP_ERR(n) ((MI_S32)(0xA00F2000u | (n)))
#define MI_DISP_ERR_INVALID_DEVID MI_DISP_ERR(0x01)
#define MI_DISP_ERR_INVALID_CHNID MI_DISP_ERR(0x02)  // layer, input port or write-back unit
#define MI_DISP_ERR_ILLEGAL_PARAM MI_DISP_ERR(0x03)
#define MI_DISP_ERR_NULL_PTR MI_DISP_ERR(0x06)
#define MI_DISP_ERR_NOT_CONFIG MI_DISP_ERR(0x07)
#define MI_DISP_ERR_NOT_ENABLE MI_DISP_ERR(0x17)

typedef enum {
    E_MI_DISP_CMD_ENABLE = 0x00,
    E_MI_DISP_CMD_DISABLE = 0x01,
    E_MI_DISP_CMD_SET_PUB_ATTR = 0x02,
    E_MI_DISP_CMD_DEVICE_DETACH = 0x05,
    E_MI_DISP_CMD_ENABLE_VIDEO_LAYER = 0x06,
    E_MI_DISP_CMD_DISABLE_VIDEO_LAYER = 0x07,
    E_MI_DISP_CMD_SET_VIDEO_LAYER_ATTR = 0x08,
    E_MI_DISP_CMD_BIND_VIDEO_LAYER = 0x0a,
    E_MI_DISP_CMD_UNBIND_VIDEO_LAYER = 0x0b,
    E_MI_DISP_CMD_SET_INPUT_PORT_ATTR = 0x14,
    E_MI_DISP_CMD_ENABLE_INPUT_PORT = 0x16,
    E_MI_DISP_CMD_DISABLE_INPUT_PORT = 0x17,
    E_MI_DISP_CMD_GET_WBC_ATTR = 0x32,
} MI_DISP_Cmd_e;

typedef struct MI_DISP_SetPubAttr_s {
    MI_U32 u32DispDev;
    MI_DISP_PubAttr_t stPubAttr;
} MI_DISP_SetPubAttr_t;

typedef struct MI_DISP_DeviceDetach_s {
    MI_U32 u32SrcDev;
    MI_U32 u32DstDev;
} MI_DISP_DeviceDetach_t;

typedef struct MI_DISP_SetVideoLayerAttr_s {
    MI_U32 u32Layer;
    MI_DISP_VideoLayerAttr_t stLayerAttr;
} MI_DISP_SetVideoLayerAttr_t;

typedef struct MI_DISP_LayerDev_s {
    MI_U32 u32Layer;
    MI_U32 u32Dev;
} MI_DISP_LayerDev_t;

typedef struct MI_DISP_SetInputPortAttr_s {
    MI_U32 u32Layer;
    MI_U32 u32Port;
    MI_DISP_InputPortAttr_t stInputPortAttr;
} MI_DISP_SetInputPortAttr_t;

typedef struct MI_DISP_LayerPort_s {
    MI_U32 u32Layer;
    MI_U32 u32Port;
} MI_DISP_LayerPort_t;

typedef struct MI_DISP_GetWBCAttr_s {
    MI_U32 u32Wbc;
    MI_DISP_WBC_Attr_t stWbcAttr;
} MI_DISP_GetWBCAttr_t;

#define MI_DISP_ENABLE MI_IOW(E_MI_DISP_CMD_ENABLE, MI_U32)
#define MI_DISP_DISABLE MI_IOW(E_MI_DISP_CMD_DISABLE, MI_U32)
#define MI_DISP_SET_PUB_ATTR MI_IOW(E_MI_DISP_CMD_SET_PUB_ATTR, MI_DISP_SetPubAttr_t)
#define MI_DISP_DEVICE_DETACH MI_IOW(E_MI_DISP_CMD_DEVICE_DETACH, MI_DISP_DeviceDetach_t)
#define MI_DISP_ENABLE_VIDEO_LAYER MI_IOW(E_MI_DISP_CMD_ENABLE_VIDEO_LAYER, MI_U32)
#define MI_DISP_DISABLE_VIDEO_LAYER MI_IOW(E_MI_DISP_CMD_DISABLE_VIDEO_LAYER, MI_U32)
#define MI_DISP_SET_VIDEO_LAYER_ATTR MI_IOW(E_MI_DISP_CMD_SET_VIDEO_LAYER_ATTR, MI_DISP_SetVideoLayerAttr_t)
#define MI_DISP_BIND_VIDEO_LAYER MI_IOW(E_MI_DISP_CMD_BIND_VIDEO_LAYER, MI_DISP_LayerDev_t)
#define MI_DISP_UNBIND_VIDEO_LAYER MI_IOW(E_MI_DISP_CMD_UNBIND_VIDEO_LAYER, MI_DISP_LayerDev_t)
#define MI_DISP_SET_INPUT_PORT_ATTR MI_IOW(E_MI_DISP_CMD_SET_INPUT_PORT_ATTR, MI_DISP_SetInputPortAttr_t)
#define MI_DISP_ENABLE_INPUT_PORT MI_IOW(E_MI_DISP_CMD_ENABLE_INPUT_PORT, MI_DISP_LayerPort_t)
#define MI_DISP_DISABLE_INPUT_PORT MI_IOW(E_MI_DISP_CMD_DISABLE_INPUT_PORT, MI_DISP_LayerPort_t)
#define MI_DISP_GET_WBC_ATTR MI_IOWR(E_MI_DISP_CMD_GET_WBC_ATTR, MI_DISP_GetWBCAttr_t)

#if defined(__arm__)
static_assert(sizeof(MI_DISP_SetPubAttr_t) == 52, "set pub attr payload");
static_assert(sizeof(MI_DISP_SetVideoLayerAttr_t) == 24, "layer attr payload");
static_assert(sizeof(MI_DISP_SetInputPortAttr_t) == 20, "input port attr payload");
static_assert(sizeof(MI_DISP_GetWBCAttr_t) == 16, "wbc attr payload");
static_assert(MI_DISP_ENABLE == 0x40046900 && MI_DISP_DISABLE == 0x40046901, "disp codes");
static_assert(MI_DISP_SET_PUB_ATTR == 0x40346902 && MI_DISP_DEVICE_DETACH == 0x40086905, "disp codes");
static_assert(MI_DISP_ENABLE_VIDEO_LAYER == 0x40046906 && MI_DISP_DISABLE_VIDEO_LAYER == 0x40046907, "disp codes");
static_assert(MI_DISP_SET_VIDEO_LAYER_ATTR == 0x40186908, "disp codes");
static_assert(MI_DISP_BIND_VIDEO_LAYER == 0x4008690a && MI_DISP_UNBIND_VIDEO_LAYER == 0x4008690b, "disp codes");
static_assert(MI_DISP_SET_INPUT_PORT_ATTR == 0x40146914, "disp codes");
static_assert(MI_DISP_ENABLE_INPUT_PORT == 0x40086916 && MI_DISP_DISABLE_INPUT_PORT == 0x40086917, "disp codes");
static_assert(MI_DISP_GET_WBC_ATTR == 0xc0106932, "disp codes");
#endif
