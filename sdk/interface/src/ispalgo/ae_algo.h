// What crosses between the AE plug-in and the AE algorithm: the sensor state
// at start, one frame's statistics and exposure, and the frame's result. The
// plug-in fills and reads these records; the algorithm keeps pointers to
// them only for the call.
#pragma once
#include <stddef.h>

#include "iq_cfg.h"
#include "lx_types.h"

typedef struct {
    LX_U16 u2HistY[128];
} ISPHistX_t;

typedef struct {
    LX_U16 u2IRHist[256];
} ISPHistIR_t;

typedef struct {
    LX_U8 r;
    LX_U8 g;
    LX_U8 b;
    LX_U8 y;
} ISPAESample_t;

typedef struct {
    LX_S32 AE_DEBUG_ENABLE_AE;  // the AE runs only while this is 1
    LX_S32 AE_DEBUG_LEVEL;      // debug print mask
} AEDEBUG_t;

// Shutters in microseconds, except the _step members: line times in ns.
typedef struct {
    char sensor_id[32];
    LX_U16 FNx10;
    LX_U16 shutter_min;
    LX_U16 sensor_gain_min;
    LX_U16 shutterHDRShort_min;
    LX_U16 sensor_gainHDRShort_min;
    LX_U32 Size;
    LX_U32 fps;
    LX_U32 shutter;
    LX_U32 shutter_step;
    LX_U32 shutterHDRShort_step;
    LX_U32 sensor_gain;
    LX_U32 isp_gain;
    LX_U32 isp_gain_max;
    LX_U32 shutter_max;
    LX_U32 sensor_gain_max;
    LX_U32 shutterHDRShort_max;
    LX_U32 sensor_gainHDRShort_max;
} AeInitParam_t;

typedef struct {
    LX_U32 Size;
    ISPHistX_t *hist1;
    ISPHistX_t *hist2;
    ISPHistIR_t *histIR;
    LX_U32 AvgBlkX;
    LX_U32 AvgBlkY;
    ISPAESample_t *avgs;
    ISPAESample_t *avgs1;
    LX_U16 FNx10;
    LX_U32 Shutter;
    LX_U32 SensorGain;
    LX_U32 IspGain;
    LX_U32 ShutterHDR;
    LX_U32 SensorGainHDR;
    LX_U32 IspGainHDR;
    LX_U32 PreCurYx10;
    LX_U32 PreAvgYx10;
    LX_U32 PreCurY1x10;
    LX_U32 PreAvgY1x10;
    LX_U8 HDRMode;         // 0 none; 2 the fixed long/short ratio
    AEDEBUG_t *tAEDebug;   // never null
    LX_U32 CurFPS;         // below 3000 frames per second, else x1000
} AeInput_t;

typedef struct {
    LX_U32 Size;  // not written by the AE
    LX_U32 Change;
    LX_U32 Shutter;
    LX_U32 SensorGain;
    LX_U32 IspGain;
    LX_U32 ShutterHDR;
    LX_U32 SensorGainHDR;
    LX_U32 IspGainHDR;
    LX_S32 i4BVx16384;
    LX_U32 CurYx10;
    LX_U32 AvgYx10;
    LX_U32 CurY1x10;
    LX_U32 AvgY1x10;
    LX_U32 SceneTargetx10;
    LX_CAM_BOOL IsStable;
    LX_CAM_BOOL IsReachBoundary;
    LX_U32 AeHdr_Num_BV[17];
    LX_U32 DebandFPS;
    LX_U16 FNx10;
    LX_U8 HistMaxY;
    LX_U8 Reserved;
    LX_U16 GMBlendRatio;
} AeOutput_t;

typedef void *AeHandle;

#ifdef __cplusplus
extern "C" {
#endif
// CfgHandle may be null (no IQ file): the built-in defaults stay.
AeHandle AeInit(ISP_DBGBUF_HANDLE CfgHandle, AeInitParam_t *init_param, AeInput_t *input_param,
                AeOutput_t *output_param);
LX_S32 DoAe(AeHandle handle, AeInput_t *input_param, AeOutput_t *output_param);
LX_S32 AeRelease(AeHandle handle);
#ifdef __cplusplus
}
#endif

static_assert(sizeof(AeInitParam_t) == 92, "AeInitParam_t layout");
static_assert(offsetof(AeInitParam_t, Size) == 44, "AeInitParam_t layout");
static_assert(sizeof(AeOutput_t) == 144, "AeOutput_t layout");
static_assert(offsetof(AeOutput_t, GMBlendRatio) == 140, "AeOutput_t layout");
#if defined(__arm__)
static_assert(sizeof(AeInput_t) == 88, "AeInput_t layout");
static_assert(offsetof(AeInput_t, tAEDebug) == 80, "AeInput_t layout");
#endif
