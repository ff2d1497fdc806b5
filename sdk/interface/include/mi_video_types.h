// Picture geometry and format enumerations shared by the capture modules
// (sensor interface, ISP, scaler). Everything here belongs to the system
// module's vocabulary; when the system module's own header declares it, that
// declaration is used instead.
#pragma once
#include "mi_common_datatype.h"

#if __has_include("mi_sys_datatype.h")
#include "mi_sys_datatype.h"
#endif

#ifndef MI_SYS_VIDEO_TYPES_DECLARED
#define MI_SYS_VIDEO_TYPES_DECLARED 1

typedef struct MI_SYS_WindowRect_s {
    MI_U16 u16X;
    MI_U16 u16Y;
    MI_U16 u16Width;
    MI_U16 u16Height;
} MI_SYS_WindowRect_t;

typedef struct MI_SYS_WindowSize_s {
    MI_U16 u16Width;
    MI_U16 u16Height;
} MI_SYS_WindowSize_t;

typedef enum {
    E_MI_SYS_PIXEL_FRAME_YUV422_YUYV = 0,
    E_MI_SYS_PIXEL_FRAME_ARGB8888 = 1,
    E_MI_SYS_PIXEL_FRAME_ABGR8888 = 2,
    E_MI_SYS_PIXEL_FRAME_BGRA8888 = 3,
    E_MI_SYS_PIXEL_FRAME_RGB565 = 4,
    E_MI_SYS_PIXEL_FRAME_ARGB1555 = 5,
    E_MI_SYS_PIXEL_FRAME_ARGB4444 = 6,
    E_MI_SYS_PIXEL_FRAME_I2 = 7,
    E_MI_SYS_PIXEL_FRAME_I4 = 8,
    E_MI_SYS_PIXEL_FRAME_I8 = 9,
    E_MI_SYS_PIXEL_FRAME_YUV_SEMIPLANAR_422 = 10,
    E_MI_SYS_PIXEL_FRAME_YUV_SEMIPLANAR_420 = 11,
    E_MI_SYS_PIXEL_FRAME_YUV_SEMIPLANAR_420_NV21 = 12,
    E_MI_SYS_PIXEL_FRAME_YUV_TILE_420 = 13,
    E_MI_SYS_PIXEL_FRAME_YUV422_UYVY = 14,
    E_MI_SYS_PIXEL_FRAME_YUV422_YVYU = 15,
    E_MI_SYS_PIXEL_FRAME_YUV422_VYUY = 16,
    E_MI_SYS_PIXEL_FRAME_YUV422_PLANAR = 17,
    E_MI_SYS_PIXEL_FRAME_YUV420_PLANAR = 18,
    E_MI_SYS_PIXEL_FRAME_FBC_420 = 19,
    E_MI_SYS_PIXEL_FRAME_RGB_BAYER_BASE = 20,
    E_MI_SYS_PIXEL_FRAME_RGB_BAYER_NUM = 79,
    E_MI_SYS_PIXEL_FRAME_RGB888 = 80,
    E_MI_SYS_PIXEL_FRAME_BGR888 = 81,
    E_MI_SYS_PIXEL_FRAME_GRAY8 = 82,
    E_MI_SYS_PIXEL_FRAME_RGB101010 = 83,
    E_MI_SYS_PIXEL_FRAME_FORMAT_MAX = 84,
} MI_SYS_PixelFormat_e;

typedef enum {
    E_MI_SYS_ROTATE_NONE = 0,
    E_MI_SYS_ROTATE_90 = 1,
    E_MI_SYS_ROTATE_180 = 2,
    E_MI_SYS_ROTATE_270 = 3,
    E_MI_SYS_ROTATE_NUM = 4,
} MI_SYS_Rotate_e;

typedef enum {
    E_MI_SYS_FIELDTYPE_NONE = 0,
    E_MI_SYS_FIELDTYPE_TOP = 1,
    E_MI_SYS_FIELDTYPE_BOTTOM = 2,
    E_MI_SYS_FIELDTYPE_BOTH = 3,
    E_MI_SYS_FIELDTYPE_NUM = 4,
} MI_SYS_FieldType_e;

typedef enum {
    E_MI_SYS_FRAME_SCAN_MODE_PROGRESSIVE = 0,
    E_MI_SYS_FRAME_SCAN_MODE_INTERLACE = 1,
    E_MI_SYS_FRAME_SCAN_MODE_MAX = 2,
} MI_SYS_FrameScanMode_e;

typedef enum {
    E_MI_SYS_COMPRESS_MODE_NONE = 0,
    E_MI_SYS_COMPRESS_MODE_SEG = 1,
    E_MI_SYS_COMPRESS_MODE_LINE = 2,
    E_MI_SYS_COMPRESS_MODE_FRAME = 3,
    E_MI_SYS_COMPRESS_MODE_TO_8BIT = 4,
    E_MI_SYS_COMPRESS_MODE_BUTT = 5,
} MI_SYS_CompressMode_e;

#endif  // MI_SYS_VIDEO_TYPES_DECLARED

static_assert(sizeof(MI_SYS_WindowRect_t) == 8, "MI_SYS_WindowRect_t layout");
static_assert(sizeof(MI_SYS_WindowSize_t) == 4, "MI_SYS_WindowSize_t layout");
