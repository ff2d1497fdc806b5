// What crosses between the AF plug-in and the AF algorithm: the motor's range
// at start, the frame's statistics and motor position, and the motor target.
#pragma once
#include <stddef.h>

#include "iq_cfg.h"
#include "lx_types.h"

// One AF window's statistics as the ISP reports them (5-byte groups).
typedef struct {
    LX_U8 high_iir[80];
    LX_U8 low_iir[80];
    LX_U8 luma_iir[80];
    LX_U8 sobel_v[80];
    LX_U8 sobel_h[80];
    LX_U8 ysat[48];
} ISP_AF_STATS;

typedef struct {
    ISP_AF_STATS stParaAPI[16];
} IQ_ISP_AF_INFO_STATS;

typedef struct {
    LX_S32 AF_DEBUG_ENABLE_AF;  // the AF runs only while this is non-zero
    LX_S32 AF_DEBUG_LEVEL;
} AFDEBUG_t;

typedef struct {
    LX_U32 MinMotorPos;
    LX_U32 MaxMotorPos;
    LX_U32 MinMotorStep;
    LX_U32 MaxMotorStep;
    LX_U32 InitPos;
    LX_U32 nDev;
    LX_U32 nCh;
} AfInitParam_t;

typedef struct {
    LX_U32 nCropSizeW;
    LX_U32 nCropSizeH;
    LX_U32 fps;  // frames per second
    IQ_ISP_AF_INFO_STATS *af_stats;
    LX_U32 CurPos;
    AFDEBUG_t *tAFDebug;
    LX_U32 nLostFrames;  // frames since the previous call that the AF was not called for
} AfInput_t;

typedef struct {
    LX_U32 Change_Motor;
    LX_U32 FocusPos;
} AfOutput_t;

typedef void *AfHandle;

#ifdef __cplusplus
extern "C" {
#endif
// The AF reads nothing from CfgHandle.
AfHandle AfInit(ISP_DBGBUF_HANDLE CfgHandle, AfInitParam_t *init_param, AfInput_t *input_param,
                AfOutput_t *output_param);
LX_S32 DoAf(AfHandle Handle, AfInput_t *input_param, AfOutput_t *output_param);
LX_S32 AfRelease(AfHandle Handle);
#ifdef __cplusplus
}
#endif

static_assert(sizeof(ISP_AF_STATS) == 448, "ISP_AF_STATS layout");
static_assert(sizeof(IQ_ISP_AF_INFO_STATS) == 7168, "IQ_ISP_AF_INFO_STATS layout");
static_assert(sizeof(AfInitParam_t) == 28, "AfInitParam_t layout");
#if defined(__arm__)
static_assert(sizeof(AfInput_t) == 28, "AfInput_t layout");
#endif
