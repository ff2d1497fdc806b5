#pragma once
// The recorder's display: device 0 on HDMI, its timing from the input mode,
// video layer 0 fed by scaler port 0.

#include "mi_disp.h"
#include "mi_hdmi.h"
#include "st_common.h"

#define ST_MAX_DISP_DEV 2
#define ST_MAX_DISP_LAYER 4
#define ST_MAX_DISP_INPORT 16

typedef struct {
    MI_BOOL bCreate;
    MI_BOOL bUsed;
    MI_DISP_VidWinRect_t stDispWin;
    ST_BindParam_t stBindParam;  // source port, frame rates, bind type
} ST_DispInPortAttr_t;

typedef struct {
    MI_BOOL bCreate;
    MI_BOOL bUsed;
    ST_DispInPortAttr_t stInPortAttr[ST_MAX_DISP_INPORT];
} ST_DispLayerAttr_t;

typedef struct {
    MI_BOOL bCreate;
    MI_BOOL bUsed;
    MI_DISP_Interface_e eIntfType;
    ST_DispLayerAttr_t stLayerAttr[ST_MAX_DISP_LAYER];
} ST_DispDevAttr_t;

typedef struct {
    ST_DispDevAttr_t stDev[ST_MAX_DISP_DEV];
} ST_DispModAttr_t;

extern ST_DispModAttr_t gstDispModule;

// Output timing codes of the input modes (ucOutTiming).
typedef enum {
    E_ST_TIMING_720P_50 = 1,
    E_ST_TIMING_720P_60 = 2,
    E_ST_TIMING_1080P_50 = 3,
    E_ST_TIMING_1080P_60 = 4,
    E_ST_TIMING_1600x1200_60 = 5,
    E_ST_TIMING_1440x900_60 = 6,
    E_ST_TIMING_1280x1024_60 = 7,
    E_ST_TIMING_1024x768_60 = 8,
    E_ST_TIMING_1280x800_60 = 9,
    E_ST_TIMING_1366x768_60 = 10,
    E_ST_TIMING_1680x1050_60 = 11,
    E_ST_TIMING_2560x1440_30 = 12,
    E_ST_TIMING_4k2k_30 = 13,
    E_ST_TIMING_PAL = 14,
    E_ST_TIMING_NTSC = 15,
    E_ST_TIMING_1080P_30 = 16,
    E_ST_TIMING_1080P_25 = 17,
    E_ST_TIMING_1080P_24 = 18,
    E_ST_TIMING_1080I_60 = 19,
    E_ST_TIMING_1080I_50 = 20,
    E_ST_TIMING_MAX,
} ST_DispoutTiming_e;

// HDMI timing, display timing and size of an output timing code; 0, or -1
// (outputs untouched) for a code without an entry.
MI_S32 ST_GetTimingInfo(MI_U32 u32ApTiming, MI_U32 *pu32HdmiTiming, MI_U32 *pu32DispTiming, MI_U32 *pu32DispW,
                        MI_U32 *pu32DispH);

// HDMI timing used when the output timing code has no entry.
#define ST_HDMI_TIMING_FALLBACK E_MI_HDMI_TIMING_1080_60P

MI_S32 ST_DispModuleInit(MI_DISP_DEV s32Dev);
MI_S32 ST_DispModuleUnInit(MI_DISP_DEV s32Dev);
