// Display controller: devices, video layers and layer input ports.
#pragma once
#include "mi_common_datatype.h"

#include "mi_sys_datatype.h"  // MI_SYS_PixelFormat_e

typedef MI_S32 MI_DISP_DEV;
typedef MI_S32 MI_DISP_LAYER;
typedef MI_U32 MI_DISP_INPUTPORT;
typedef MI_S32 MI_DISP_WBC;

typedef enum {
    E_MI_DISP_INTF_CVBS = 0,
    E_MI_DISP_INTF_YPBPR = 1,
    E_MI_DISP_INTF_VGA = 2,
    E_MI_DISP_INTF_BT656 = 3,
    E_MI_DISP_INTF_BT1120 = 4,
    E_MI_DISP_INTF_HDMI = 5,
    E_MI_DISP_INTF_LCD = 6,
    E_MI_DISP_INTF_BT656_H = 7,
    E_MI_DISP_INTF_BT656_L = 8,
    E_MI_DISP_INTF_TTL = 9,
    E_MI_DISP_INTF_MIPIDSI = 10,
    E_MI_DISP_INTF_TTL_SPI_IF = 11,
    E_MI_DISP_INTF_SRGB = 12,
    E_MI_DISP_INTF_MCU = 13,
    E_MI_DISP_INTF_MCU_NOFLM = 14,
    E_MI_DISP_INTF_MAX = 15,
} MI_DISP_Interface_e;

typedef enum {
    E_MI_DISP_OUTPUT_PAL = 0,
    E_MI_DISP_OUTPUT_NTSC = 1,
    E_MI_DISP_OUTPUT_960H_PAL = 2,
    E_MI_DISP_OUTPUT_960H_NTSC = 3,
    E_MI_DISP_OUTPUT_480i60 = 4,
    E_MI_DISP_OUTPUT_576i50 = 5,
    E_MI_DISP_OUTPUT_480P60 = 6,
    E_MI_DISP_OUTPUT_576P50 = 7,
    E_MI_DISP_OUTPUT_720P50 = 8,
    E_MI_DISP_OUTPUT_720P60 = 9,
    E_MI_DISP_OUTPUT_1080P24 = 10,
    E_MI_DISP_OUTPUT_1080P25 = 11,
    E_MI_DISP_OUTPUT_1080P30 = 12,
    E_MI_DISP_OUTPUT_1080I50 = 13,
    E_MI_DISP_OUTPUT_1080I60 = 14,
    E_MI_DISP_OUTPUT_1080P50 = 15,
    E_MI_DISP_OUTPUT_1080P60 = 16,
    E_MI_DISP_OUTPUT_640x480_60 = 17,
    E_MI_DISP_OUTPUT_800x600_60 = 18,
    E_MI_DISP_OUTPUT_1024x768_60 = 19,
    E_MI_DISP_OUTPUT_1280x1024_60 = 20,
    E_MI_DISP_OUTPUT_1366x768_60 = 21,
    E_MI_DISP_OUTPUT_1440x900_60 = 22,
    E_MI_DISP_OUTPUT_1280x800_60 = 23,
    E_MI_DISP_OUTPUT_1680x1050_60 = 24,
    E_MI_DISP_OUTPUT_1920x2160_30 = 25,
    E_MI_DISP_OUTPUT_1600x1200_60 = 26,
    E_MI_DISP_OUTPUT_1920x1200_60 = 27,
    E_MI_DISP_OUTPUT_2560x1440_30 = 28,
    E_MI_DISP_OUTPUT_2560x1600_60 = 29,
    E_MI_DISP_OUTPUT_3840x2160_30 = 30,
    E_MI_DISP_OUTPUT_3840x2160_60 = 31,
    E_MI_DISP_OUTPUT_USER = 32,
    E_MI_DISP_OUTPUT_MAX = 33,
} MI_DISP_OutputTiming_e;

typedef struct MI_DISP_SyncInfo_s {
    MI_BOOL bSynm;
    MI_BOOL bIop;
    MI_U8 u8Intfb;
    MI_U16 u16Vact;
    MI_U16 u16Vbb;
    MI_U16 u16Vfb;
    MI_U16 u16Hact;
    MI_U16 u16Hbb;
    MI_U16 u16Hfb;
    MI_U16 u16Hmid;
    MI_U16 u16Bvact;
    MI_U16 u16Bvbb;
    MI_U16 u16Bvfb;
    MI_U16 u16Hpw;
    MI_U16 u16Vpw;
    MI_BOOL bIdv;
    MI_BOOL bIhs;
    MI_BOOL bIvs;
    MI_U32 u32FrameRate;
} MI_DISP_SyncInfo_t;

typedef struct MI_DISP_PubAttr_s {
    MI_U32 u32BgColor;
    MI_DISP_Interface_e eIntfType;
    MI_DISP_OutputTiming_e eIntfSync;
    MI_DISP_SyncInfo_t stSyncInfo;
} MI_DISP_PubAttr_t;

typedef struct MI_DISP_VidWinRect_s {
    MI_U16 u16X;
    MI_U16 u16Y;
    MI_U16 u16Width;
    MI_U16 u16Height;
} MI_DISP_VidWinRect_t;

// Both members are 32 bits wide despite their names.
typedef struct MI_DISP_VideoLayerSize_s {
    MI_U32 u16Width;
    MI_U32 u16Height;
} MI_DISP_VideoLayerSize_t;

typedef struct MI_DISP_VideoLayerAttr_s {
    MI_DISP_VidWinRect_t stVidLayerDispWin;
    MI_DISP_VideoLayerSize_t stVidLayerSize;
    MI_SYS_PixelFormat_e ePixFormat;
} MI_DISP_VideoLayerAttr_t;

typedef struct MI_DISP_InputPortAttr_s {
    MI_DISP_VidWinRect_t stDispWin;
    MI_U16 u16SrcWidth;
    MI_U16 u16SrcHeight;
} MI_DISP_InputPortAttr_t;

typedef struct MI_DISP_WBC_TargetSize_s {
    MI_U32 u32Width;
    MI_U32 u32Height;
} MI_DISP_WBC_TargetSize_t;

typedef struct MI_DISP_WBC_Attr_s {
    MI_DISP_WBC_TargetSize_t stTargetSize;
    MI_SYS_PixelFormat_e ePixFormat;
} MI_DISP_WBC_Attr_t;

#if defined(__arm__)
static_assert(sizeof(MI_DISP_SyncInfo_t) == 36, "MI_DISP_SyncInfo_t layout");
static_assert(sizeof(MI_DISP_PubAttr_t) == 48, "MI_DISP_PubAttr_t layout");
static_assert(sizeof(MI_DISP_VidWinRect_t) == 8, "MI_DISP_VidWinRect_t layout");
static_assert(sizeof(MI_DISP_VideoLayerAttr_t) == 20, "MI_DISP_VideoLayerAttr_t layout");
static_assert(sizeof(MI_DISP_InputPortAttr_t) == 12, "MI_DISP_InputPortAttr_t layout");
static_assert(sizeof(MI_DISP_WBC_Attr_t) == 12, "MI_DISP_WBC_Attr_t layout");
#endif
