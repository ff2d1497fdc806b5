// Image signal processor: devices, channels and output ports.
#pragma once
#include "mi_common_datatype.h"
#include "mi_video_types.h"

typedef MI_U32 MI_ISP_DEV;
typedef MI_U32 MI_ISP_CHANNEL;
typedef MI_U32 MI_ISP_PORT;

typedef enum {
    E_MI_ISP_HDR_TYPE_OFF = 0,
    E_MI_ISP_HDR_TYPE_VC = 1,
    E_MI_ISP_HDR_TYPE_DOL = 2,
    E_MI_ISP_HDR_TYPE_EMBEDDED = 3,
    E_MI_ISP_HDR_TYPE_LI = 4,
    E_MI_ISP_HDR_TYPE_MAX = 5,
} MI_ISP_HDRType_e;

typedef enum {
    E_MI_ISP_3DNR_LEVEL_OFF = 0,
    E_MI_ISP_3DNR_LEVEL1 = 1,
    E_MI_ISP_3DNR_LEVEL2 = 2,
    E_MI_ISP_3DNR_LEVEL3 = 3,
    E_MI_ISP_3DNR_LEVEL4 = 4,
    E_MI_ISP_3DNR_LEVEL5 = 5,
    E_MI_ISP_3DNR_LEVEL6 = 6,
    E_MI_ISP_3DNR_LEVEL7 = 7,
    E_MI_ISP_3DNR_LEVEL_NUM = 8,
} MI_ISP_3DNR_Level_e;

typedef struct MI_ISP_DevAttr_s {
    MI_U32 u32DevStitchMask;
} MI_ISP_DevAttr_t;

typedef struct MI_ISP_VersionPara_s {
    MI_U32 u32Revision;
    MI_U32 u32Size;
    MI_U8 u8Data[64];
} MI_ISP_VersionPara_t;

typedef struct MI_ISP_CustIQParam_s {
    MI_ISP_VersionPara_t stVersion;
} MI_ISP_CustIQParam_t;

typedef struct MI_ISP_ChannelAttr_s {
    MI_U32 u32SensorBindId;
    MI_ISP_CustIQParam_t stIspCustIqParam;
    MI_U32 u32Sync3AType;
} MI_ISP_ChannelAttr_t;

typedef struct MI_ISP_ChnParam_s {
    MI_ISP_HDRType_e eHDRType;
    MI_ISP_3DNR_Level_e e3DNRLevel;
    MI_BOOL bMirror;
    MI_BOOL bFlip;
    MI_SYS_Rotate_e eRot;
} MI_ISP_ChnParam_t;

typedef struct MI_ISP_OutPortParam_s {
    MI_SYS_WindowRect_t stCropRect;
    MI_SYS_PixelFormat_e ePixelFormat;
} MI_ISP_OutPortParam_t;

static_assert(sizeof(MI_ISP_DevAttr_t) == 4, "MI_ISP_DevAttr_t layout");
static_assert(sizeof(MI_ISP_ChannelAttr_t) == 80, "MI_ISP_ChannelAttr_t layout");
static_assert(sizeof(MI_ISP_ChnParam_t) == 16, "MI_ISP_ChnParam_t layout");
static_assert(sizeof(MI_ISP_OutPortParam_t) == 12, "MI_ISP_OutPortParam_t layout");
