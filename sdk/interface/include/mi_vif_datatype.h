// Sensor interface: device groups, devices and output ports.
#pragma once
#include "mi_common_datatype.h"
#include "mi_video_types.h"

typedef MI_U32 MI_VIF_GROUP;
typedef MI_U32 MI_VIF_DEV;
typedef MI_U32 MI_VIF_PORT;

typedef enum {
    E_MI_VIF_MODE_BT656 = 0,
    E_MI_VIF_MODE_DIGITAL_CAMERA = 1,
    E_MI_VIF_MODE_BT1120_STANDARD = 2,
    E_MI_VIF_MODE_BT1120_INTERLEAVED = 3,
    E_MI_VIF_MODE_MIPI = 4,
    E_MI_VIF_MODE_MAX = 5,
} MI_VIF_IntfMode_e;

typedef enum {
    E_MI_VIF_WORK_MODE_1MULTIPLEX = 0,
    E_MI_VIF_WORK_MODE_2MULTIPLEX = 1,
    E_MI_VIF_WORK_MODE_4MULTIPLEX = 2,
    E_MI_VIF_WORK_MODE_MAX = 3,
} MI_VIF_WorkMode_e;

typedef enum {
    E_MI_VIF_HDR_TYPE_OFF = 0,
    E_MI_VIF_HDR_TYPE_VC = 1,
    E_MI_VIF_HDR_TYPE_DOL = 2,
    E_MI_VIF_HDR_TYPE_EMBEDDED = 3,
    E_MI_VIF_HDR_TYPE_LI = 4,
    E_MI_VIF_HDR_TYPE_MAX = 5,
} MI_VIF_HDRType_e;

typedef enum {
    E_MI_VIF_CLK_EDGE_SINGLE_UP = 0,
    E_MI_VIF_CLK_EDGE_SINGLE_DOWN = 1,
    E_MI_VIF_CLK_EDGE_DOUBLE = 2,
    E_MI_VIF_CLK_EDGE_MAX = 3,
} MI_VIF_ClkEdge_e;

typedef enum {
    E_MI_VIF_MCLK_12MHZ = 0,
    E_MI_VIF_MCLK_18MHZ = 1,
    E_MI_VIF_MCLK_27MHZ = 2,
    E_MI_VIF_MCLK_36MHZ = 3,
    E_MI_VIF_MCLK_54MHZ = 4,
    E_MI_VIF_MCLK_108MHZ = 5,
    E_MI_VIF_MCLK_MAX = 6,
} MI_VIF_MclkSource_e;

typedef enum {
    E_MI_VIF_FRAMERATE_FULL = 0,
    E_MI_VIF_FRAMERATE_HALF = 1,
    E_MI_VIF_FRAMERATE_QUARTER = 2,
    E_MI_VIF_FRAMERATE_OCTANT = 3,
    E_MI_VIF_FRAMERATE_THREE_QUARTERS = 4,
    E_MI_VIF_FRAMERATE_MAX = 5,
} MI_VIF_FrameRate_e;

typedef struct MI_VIF_GroupAttr_s {
    MI_VIF_IntfMode_e eIntfMode;
    MI_VIF_WorkMode_e eWorkMode;
    MI_VIF_HDRType_e eHDRType;
    MI_VIF_ClkEdge_e eClkEdge;
    MI_VIF_MclkSource_e eMclk;
    MI_SYS_FrameScanMode_e eScanMode;
    MI_U32 u32GroupStitchMask;
} MI_VIF_GroupAttr_t;

typedef struct MI_VIF_DevAttr_s {
    MI_SYS_PixelFormat_e eInputPixel;
    MI_SYS_WindowRect_t stInputRect;
    MI_SYS_FieldType_e eField;
    MI_BOOL bEnH2T1PMode;
} MI_VIF_DevAttr_t;

typedef struct MI_VIF_OutputPortAttr_s {
    MI_SYS_WindowRect_t stCapRect;
    MI_SYS_WindowSize_t stDestSize;
    MI_SYS_PixelFormat_e ePixFormat;
    MI_VIF_FrameRate_e eFrameRate;
} MI_VIF_OutputPortAttr_t;

static_assert(sizeof(MI_VIF_GroupAttr_t) == 28, "MI_VIF_GroupAttr_t layout");
static_assert(sizeof(MI_VIF_DevAttr_t) == 20, "MI_VIF_DevAttr_t layout");
static_assert(sizeof(MI_VIF_OutputPortAttr_t) == 20, "MI_VIF_OutputPortAttr_t layout");
