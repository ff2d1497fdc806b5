// What crosses between the AWB plug-in and the AWB algorithm: the frame's
// block statistics and state in, gains and colour temperature out.
#pragma once
#include <stddef.h>

#include "iq_cfg.h"
#include "lx_types.h"

#define AWB_STATIS_BLOCKS 11520  // 128 blocks a row, 90 rows

typedef struct {
    LX_U8 uAvgR;
    LX_U8 uAvgG;
    LX_U8 uAvgB;
} ISP_AWB_AVGS;

typedef struct {
    ISP_AWB_AVGS Avgs[AWB_STATIS_BLOCKS];
} IspAwbStatis_t;

typedef struct {
    LX_S32 x_start;
    LX_S32 y_start;
    LX_S32 width;
    LX_S32 height;
} IspCropWin_t;

typedef struct {
    LX_U16 u2BlkNum_x;
    LX_U16 u2BlkNum_y;
    LX_U16 u2BlkVaild_x;
    LX_U16 u2BlkVaild_y;
    LX_U16 u2BlkValidLowLux_x;
    LX_U16 u2BlkValidLowLux_y;
    LX_U8 AccEnhanceRatio;
} IspAwbWin_t;

typedef struct {
    LX_U16 nRgain;
    LX_U16 nGrgain;
    LX_U16 nGbgain;
    LX_U16 nBgain;
} IspAwbGain_t;

typedef struct {
    LX_S32 AWB_DEBUG_AWB_ENABLE;  // the AWB runs only while this is 1
    LX_S32 AWB_DEBUG_MWB_ENABLE;
    LX_S32 AWB_DEBUG_MWB_RGAIN;
    LX_S32 AWB_DEBUG_MWB_BGAIN;
    LX_S32 AWB_DEBUG_LEVEL;
} AWBDEBUG_t;

typedef struct {
    LX_U32 nSize;
    LX_U32 nFrameCount;
    LX_S32 nBV;       // x16384, from the AE
    LX_S32 CurYx10;   // from the AE
    LX_U8 nColorToGrayFlag;
    LX_U8 nGrayToColorFlag;
    LX_U8 HDRMode;    // 1: pAwbStatisShort is present
    LX_U16 InitRgain; // read by AwbInit only
    LX_U16 InitGgain;
    LX_U16 InitBgain;
    IspCropWin_t tCrop;
    IspAwbWin_t tBlock;
    IspAwbStatis_t *pAwbStatis;
    IspAwbStatis_t *pAwbStatisShort;
    AWBDEBUG_t *tAWBDebug;
} AwbInput_t;

typedef struct {
    LX_U32 nSize;
    IspCropWin_t tCrop;
    IspAwbWin_t tBlock;
    IspAwbGain_t tGain;
    LX_U16 nColorTmp;
    LX_CAM_BOOL nMultiLS_CaliCCMUpdate;
    LX_U16 nMultiLS_CaliCCM[9];
} AwbOutput_t;

typedef void *AwbHandle;

#ifdef __cplusplus
extern "C" {
#endif
AwbHandle AwbInit(ISP_DBGBUF_HANDLE CfgHandle, AwbInput_t *pInput, AwbOutput_t *pOutput);
LX_S32 DoAwb(AwbHandle handle, AwbInput_t *input_param, AwbOutput_t *output_param);
LX_S32 AwbRelease(AwbHandle Handle);
#ifdef __cplusplus
}
#endif

static_assert(sizeof(IspAwbStatis_t) == 34560, "IspAwbStatis_t layout");
static_assert(sizeof(IspAwbWin_t) == 14, "IspAwbWin_t layout");
static_assert(sizeof(AwbOutput_t) == 68, "AwbOutput_t layout");
static_assert(offsetof(AwbOutput_t, tGain) == 34, "AwbOutput_t layout");
#if defined(__arm__)
static_assert(sizeof(AwbInput_t) == 72, "AwbInput_t layout");
static_assert(offsetof(AwbInput_t, pAwbStatis) == 60, "AwbInput_t layout");
#endif
