// Scaler: devices, channels and output ports.
#pragma once
#include "mi_common_datatype.h"
#include "mi_video_types.h"

typedef MI_U32 MI_SCL_DEV;
typedef MI_U32 MI_SCL_CHANNEL;
typedef MI_U32 MI_SCL_PORT;

typedef struct MI_SCL_DevAttr_s {
    MI_U32 u32NeedUseHWOutPortMask;
} MI_SCL_DevAttr_t;

typedef struct MI_SCL_ChannelAttr_s {
    MI_U32 u32Reserved;
} MI_SCL_ChannelAttr_t;

typedef struct MI_SCL_ChnParam_s {
    MI_SYS_Rotate_e eRot;
} MI_SCL_ChnParam_t;

typedef struct MI_SCL_OutPortParam_s {
    MI_SYS_WindowRect_t stSCLOutCropRect;
    MI_SYS_WindowSize_t stSCLOutputSize;
    MI_BOOL bMirror;
    MI_BOOL bFlip;
    MI_SYS_PixelFormat_e ePixelFormat;
    MI_SYS_CompressMode_e eCompressMode;
} MI_SCL_OutPortParam_t;

static_assert(sizeof(MI_SCL_DevAttr_t) == 4, "MI_SCL_DevAttr_t layout");
static_assert(sizeof(MI_SCL_ChannelAttr_t) == 4, "MI_SCL_ChannelAttr_t layout");
static_assert(sizeof(MI_SCL_ChnParam_t) == 4, "MI_SCL_ChnParam_t layout");
static_assert(sizeof(MI_SCL_OutPortParam_t) == 24, "MI_SCL_OutPortParam_t layout");
