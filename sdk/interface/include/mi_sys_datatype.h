// Records and enumerations of the system module, shared by every module that
// exchanges buffers or describes pictures.
#pragma once
#include <stddef.h>

#include "mi_common_datatype.h"

#ifdef __cplusplus
extern "C" {
#endif

// Results the system module produces itself (module 9, error level 2).
#define MI_SYS_ERR_INVALID_DEVID (0xA0092001)
#define MI_SYS_ERR_ILLEGAL_PARAM (0xA0092003)
#define MI_SYS_ERR_UNEXIST (0xA0092005)
#define MI_SYS_ERR_NULL_PTR (0xA0092006)
#define MI_SYS_ERR_NOT_CONFIG (0xA0092007)
#define MI_SYS_ERR_NOMEM (0xA009200C)
#define MI_SYS_ERR_NOBUF (0xA009200D)
#define MI_SYS_ERR_BUF_EMPTY (0xA009200E)
#define MI_SYS_ERR_FAILED (0xA009201F)

typedef enum {
    E_MI_SYS_BIND_TYPE_FRAME_BASE = 0x00000001,
    E_MI_SYS_BIND_TYPE_SW_LOW_LATENCY = 0x00000002,
    E_MI_SYS_BIND_TYPE_REALTIME = 0x00000004,
    E_MI_SYS_BIND_TYPE_HW_AUTOSYNC = 0x00000008,
    E_MI_SYS_BIND_TYPE_HW_RING = 0x00000010,
} MI_SYS_BindType_e;

typedef enum {
    E_MI_SYS_BUFDATA_RAW = 0,
    E_MI_SYS_BUFDATA_FRAME = 1,
    E_MI_SYS_BUFDATA_META = 2,
    E_MI_SYS_BUFDATA_MULTIPLANE = 3,
    E_MI_SYS_BUFDATA_FBC = 4,
} MI_SYS_BufDataType_e;

// Picture geometry and formats; capture headers that also carry them check
// this marker.
#define MI_SYS_VIDEO_TYPES_DECLARED 1

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
    E_MI_SYS_FRAME_TILE_MODE_NONE = 0,
    E_MI_SYS_FRAME_TILE_MODE_16x16 = 1,
    E_MI_SYS_FRAME_TILE_MODE_16x32 = 2,
    E_MI_SYS_FRAME_TILE_MODE_32x16 = 3,
    E_MI_SYS_FRAME_TILE_MODE_32x32 = 4,
    E_MI_SYS_FRAME_TILE_MODE_MAX = 5,
} MI_SYS_FrameTileMode_e;

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

// Argument of bind and unbind.
typedef struct MI_SYS_ChnPortArg_s {
    MI_SYS_ChnPort_t stSrcChnPort;
    MI_SYS_ChnPort_t stDstChnPort;
    MI_U32 u32SrcFrmrate;
    MI_U32 u32DstFrmrate;
    MI_SYS_BindType_e eBindType;
    MI_U32 u32BindParam;
} MI_SYS_ChnPortArg_t;

typedef struct MI_SYS_Version_s {
    MI_U8 u8Version[128];
} MI_SYS_Version_t;

typedef struct MI_SYS_Mmap_s {
    MI_BOOL bCache;
    MI_U32 u32Size;
    void *pVirtualAddress;
    MI_PHY phyAddr;
} MI_SYS_Mmap_t;

typedef struct MI_SYS_Munmap_s {
    void *pVirtualAddress;
    MI_U32 u32Size;
} MI_SYS_Munmap_t;

typedef struct MI_SYS_FlushInvCache_s {
    void *pVirtualAddress;
    MI_U32 length;
} MI_SYS_FlushInvCache_t;

// One picture plane set.
typedef struct MI_SYS_FrameData_s {
    MI_SYS_FrameTileMode_e eTileMode;
    MI_SYS_PixelFormat_e ePixelFormat;
    MI_SYS_CompressMode_e eCompressMode;
    MI_SYS_FrameScanMode_e eFrameScanMode;
    MI_SYS_FieldType_e eFieldType;
    MI_U16 u16Width;
    MI_U16 u16Height;
    void *pVirAddr[3];
    MI_PHY phyAddr[3];
    MI_U32 u32Stride[3];
    MI_U32 u32BufSize;
    MI_U16 u16RingBufStartLine;
    MI_U16 u16RingBufRealTotalHeight;
    MI_SYS_WindowRect_t stContentCropWindow;
    MI_U32 u32FrameFlag;
    void *pMetaVirAddr;
    MI_PHY phyMetaAddr;
} MI_SYS_FrameData_t;

// Plain bytes (audio frames, encoded streams).
typedef struct MI_SYS_RawData_s {
    void *pVirAddr;
    MI_PHY phyAddr;
    MI_U32 u32BufSize;
    MI_U32 u32ContentSize;
    MI_BOOL bEndOfFrame;
    MI_U64 u64SeqNum;
} MI_SYS_RawData_t;

typedef struct MI_SYS_MetaData_s {
    void *pVirAddr;
    MI_PHY phyAddr;
    MI_U32 u32Size;
    MI_U32 u32ExtraData;
    MI_ModuleId_e eDataFromModule;
} MI_SYS_MetaData_t;

typedef struct MI_SYS_FrameDataMultiPlane_s {
    MI_U8 u8SubPlaneNum;
    MI_SYS_FrameData_t stSubPlanes[2];
} MI_SYS_FrameDataMultiPlane_t;

typedef struct MI_SYS_FbcData_s {
    MI_SYS_FrameData_t stFrameData;
    MI_PHY phyFbcTableAddr[2];
    void *pFbcTableVirAddr[2];
    MI_U32 u32FbcTableSize[2];
} MI_SYS_FbcData_t;

typedef struct MI_SYS_BufInfo_s {
    MI_U64 u64Pts;
    MI_U64 u64SidebandMsg;
    MI_SYS_BufDataType_e eBufType;
    MI_BOOL bEndOfStream;
    MI_BOOL bUsrBuf;
    MI_U32 u32SequenceNumber;
    MI_BOOL bDrop;
    union {
        MI_SYS_FrameData_t stFrameData;
        MI_SYS_RawData_t stRawData;
        MI_SYS_MetaData_t stMetaData;
        MI_SYS_FrameDataMultiPlane_t stFrameDataMultiPlane;
        MI_SYS_FbcData_t stFbcData;
    };
} MI_SYS_BufInfo_t;

typedef struct MI_SYS_ChnOutputPortGetBuf_s {
    MI_SYS_ChnPort_t stChnPort;
    MI_SYS_BufInfo_t stBufInfo;
    MI_SYS_BUF_HANDLE BufHandle;
    MI_U32 u32TimeoutMs;
    MI_U32 u32ExtraFlags;
} MI_SYS_ChnOutputPortGetBuf_t;

typedef struct MI_SYS_SetChnOutputPortDepth_s {
    MI_SYS_ChnPort_t stChnPort;
    MI_U32 u32UserFrameDepth;
    MI_U32 u32BufQueueDepth;
} MI_SYS_SetChnOutputPortDepth_t;

typedef struct MI_SYS_ChnPort_Fd_s {
    MI_SYS_ChnPort_t stChnPort;
    MI_S32 s32Fd;
} MI_SYS_ChnPort_Fd_t;

typedef struct MI_SYS_GetPollData_s {
    MI_SYS_ChnPort_t stChnPort;
    void *pPrivateData;
} MI_SYS_GetPollData_t;

#ifdef __cplusplus
}
#endif

#if defined(__arm__)
static_assert(sizeof(MI_SYS_WindowRect_t) == 8, "MI_SYS_WindowRect_t layout");
static_assert(sizeof(MI_SYS_WindowSize_t) == 4, "MI_SYS_WindowSize_t layout");
static_assert(sizeof(MI_SYS_ChnPortArg_t) == 48, "MI_SYS_ChnPortArg_t layout");
static_assert(sizeof(MI_SYS_Version_t) == 128, "MI_SYS_Version_t layout");
static_assert(sizeof(MI_SYS_Mmap_t) == 24, "MI_SYS_Mmap_t layout");
static_assert(offsetof(MI_SYS_Mmap_t, pVirtualAddress) == 8 && offsetof(MI_SYS_Mmap_t, phyAddr) == 16,
              "MI_SYS_Mmap_t layout");
static_assert(sizeof(MI_SYS_Munmap_t) == 8, "MI_SYS_Munmap_t layout");
static_assert(sizeof(MI_SYS_FlushInvCache_t) == 8, "MI_SYS_FlushInvCache_t layout");
static_assert(sizeof(MI_SYS_RawData_t) == 40, "MI_SYS_RawData_t layout");
static_assert(offsetof(MI_SYS_RawData_t, phyAddr) == 8 && offsetof(MI_SYS_RawData_t, bEndOfFrame) == 24 &&
                  offsetof(MI_SYS_RawData_t, u64SeqNum) == 32,
              "MI_SYS_RawData_t layout");
static_assert(sizeof(MI_SYS_FrameDataMultiPlane_t) == 232, "the buffer union is 232 bytes");
static_assert(sizeof(MI_SYS_BufInfo_t) == 264, "MI_SYS_BufInfo_t layout");
static_assert(offsetof(MI_SYS_BufInfo_t, eBufType) == 16 && offsetof(MI_SYS_BufInfo_t, bUsrBuf) == 21 &&
                  offsetof(MI_SYS_BufInfo_t, u32SequenceNumber) == 24 && offsetof(MI_SYS_BufInfo_t, bDrop) == 28 &&
                  offsetof(MI_SYS_BufInfo_t, stRawData) == 32,
              "MI_SYS_BufInfo_t layout");
static_assert(sizeof(MI_SYS_ChnOutputPortGetBuf_t) == 296, "MI_SYS_ChnOutputPortGetBuf_t layout");
static_assert(offsetof(MI_SYS_ChnOutputPortGetBuf_t, BufHandle) == 280 &&
                  offsetof(MI_SYS_ChnOutputPortGetBuf_t, u32ExtraFlags) == 288,
              "MI_SYS_ChnOutputPortGetBuf_t layout");
static_assert(sizeof(MI_SYS_SetChnOutputPortDepth_t) == 24, "MI_SYS_SetChnOutputPortDepth_t layout");
static_assert(sizeof(MI_SYS_ChnPort_Fd_t) == 20, "MI_SYS_ChnPort_Fd_t layout");
static_assert(sizeof(MI_SYS_GetPollData_t) == 20, "MI_SYS_GetPollData_t layout");
#endif
