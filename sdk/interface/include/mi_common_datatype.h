// Base types shared by every media interface module.
#pragma once
#include <stdint.h>

typedef uint8_t MI_U8;
typedef uint16_t MI_U16;
typedef uint32_t MI_U32;
typedef uint64_t MI_U64;
typedef int8_t MI_S8;
typedef int16_t MI_S16;
typedef int32_t MI_S32;
typedef int64_t MI_S64;
typedef unsigned char MI_BOOL;
typedef uint64_t MI_PHY;
typedef int32_t MI_SYS_BUF_HANDLE;

#define MI_SUCCESS (0)
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

typedef enum {
    E_MI_MODULE_ID_IVE = 0,
    E_MI_MODULE_ID_VDF = 1,
    E_MI_MODULE_ID_VENC = 2,
    E_MI_MODULE_ID_RGN = 3,
    E_MI_MODULE_ID_AI = 4,
    E_MI_MODULE_ID_AO = 5,
    E_MI_MODULE_ID_VIF = 6,
    E_MI_MODULE_ID_VPE = 7,
    E_MI_MODULE_ID_VDEC = 8,
    E_MI_MODULE_ID_SYS = 9,
    E_MI_MODULE_ID_FB = 10,
    E_MI_MODULE_ID_HDMI = 11,
    E_MI_MODULE_ID_DIVP = 12,
    E_MI_MODULE_ID_GFX = 13,
    E_MI_MODULE_ID_VDISP = 14,
    E_MI_MODULE_ID_DISP = 15,
    E_MI_MODULE_ID_OS = 16,
    E_MI_MODULE_ID_IAE = 17,
    E_MI_MODULE_ID_MD = 18,
    E_MI_MODULE_ID_OD = 19,
    E_MI_MODULE_ID_SHADOW = 20,
    E_MI_MODULE_ID_WARP = 21,
    E_MI_MODULE_ID_UAC = 22,
    E_MI_MODULE_ID_LDC = 23,
    E_MI_MODULE_ID_SD = 24,
    E_MI_MODULE_ID_PANEL = 25,
    E_MI_MODULE_ID_CIPHER = 26,
    E_MI_MODULE_ID_SNR = 27,
    E_MI_MODULE_ID_WLAN = 28,
    E_MI_MODULE_ID_IPU = 29,
    E_MI_MODULE_ID_MIPITX = 30,
    E_MI_MODULE_ID_GYRO = 31,
    E_MI_MODULE_ID_JPD = 32,
    E_MI_MODULE_ID_ISP = 33,
    E_MI_MODULE_ID_SCL = 34,
    E_MI_MODULE_ID_WBC = 35,
    E_MI_MODULE_ID_MAX = 36,
} MI_ModuleId_e;

typedef struct MI_SYS_ChnPort_s {
    MI_ModuleId_e eModId;
    MI_U32 u32DevId;
    MI_U32 u32ChnId;
    MI_U32 u32PortId;
} MI_SYS_ChnPort_t;

typedef enum {
    MI_DBG_NONE = 0,
    MI_DBG_ERR = 1,
    MI_DBG_WRN = 2,
    MI_DBG_API = 3,
    MI_DBG_KMSG = 4,
    MI_DBG_INFO = 5,
    MI_DBG_DEBUG = 6,
    MI_DBG_TRACE = 7,
    MI_DBG_ALL = 8,
} MI_DBG_LEVEL_e;

#if defined(__arm__)
static_assert(sizeof(MI_SYS_ChnPort_t) == 16, "MI_SYS_ChnPort_t layout");
#endif
