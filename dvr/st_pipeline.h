#pragma once
// The recorder's video pipeline: BT.1120 input on the sensor interface, ISP,
// scaler with a 1920x1080 and a 1280x720 port, two H.264 encoder channels and
// the HDMI display. Built once at start-up; its encoder and display tail is
// rebuilt by an input-mode, bit-rate or profile change.

#include <stdint.h>

#include <atomic>

#include "mi_isp.h"
#include "mi_scl.h"
#include "mi_vif.h"
#include "st_common.h"
#include "st_disp.h"
#include "st_venc.h"

#define ST_MAX_VIF_GROUP 4
#define ST_MAX_VIF_DEV_PERGROUP 4
#define ST_MAX_VIF_DEV (ST_MAX_VIF_GROUP * ST_MAX_VIF_DEV_PERGROUP)
#define ST_MAX_VIF_OUTPORT 2
#define ST_MAX_ISP_CHN 16
#define ST_MAX_ISP_OUTPORT 3
#define ST_MAX_SCL_DEV 4
#define ST_MAX_SCL_CHN 16
#define ST_MAX_SCL_OUTPORT 6
#define ST_MAX_SENSOR 3

typedef struct {
    MI_BOOL bCreate;
    MI_BOOL bUsed;
    MI_SYS_WindowRect_t stCapRect;
    MI_SYS_WindowSize_t stDestSize;
    MI_SYS_PixelFormat_e ePixFormat;
} ST_VifPortAttr_t;

typedef struct {
    MI_BOOL bCreate;
    MI_BOOL bUsed;
    MI_BOOL bH2T1PMode;
    MI_SYS_FieldType_e eField;
    ST_VifPortAttr_t stVifOutPortAttr[ST_MAX_VIF_OUTPORT];
} ST_VifDevAttr_t;

typedef struct {
    MI_BOOL bCreate;
    MI_BOOL bUsed;
    MI_U32 u32SensorPad;  // sensor pad the group is bound to
    MI_VIF_WorkMode_e eWorkMode;
    MI_VIF_HDRType_e eHDRType;
    ST_VifDevAttr_t stVifDevAttr[ST_MAX_VIF_DEV_PERGROUP];
} ST_VifGroupAttr_t;

typedef struct {
    ST_VifGroupAttr_t stVifGroupAttr[ST_MAX_VIF_GROUP];
} ST_VifModAttr_t;

typedef struct {
    MI_BOOL bUsed;
    ST_BindParam_t stBindParam;
    MI_SYS_PixelFormat_e ePixelFormat;
    MI_SYS_WindowRect_t stOrigPortCrop;
    MI_U32 u32UserFrameDepth;
    MI_U32 u32BufQueueDepth;
} ST_PortAttr_t;

typedef struct {
    MI_BOOL bUsed;
    MI_SYS_WindowRect_t stInputCropWin;
    ST_BindParam_t stBindParam;
} ST_InPortAttr_t;

typedef struct {
    MI_U8 u8ChnId;
    MI_BOOL bUsed;
    MI_BOOL bCreate;
    ST_InPortAttr_t stIspInPortAttr;
    ST_PortAttr_t stIspOutPortAttr[ST_MAX_ISP_OUTPORT];
    MI_ISP_HDRType_e eHDRType;
    MI_ISP_3DNR_Level_e e3DNRLevel;
    MI_BOOL bMirror;
    MI_BOOL bFlip;
    MI_SYS_Rotate_e eRot;
    char szIqBinPath[64];
} ST_IspChannelAttr_t;

typedef struct {
    MI_U8 u8DevId;
    MI_BOOL bUsed;
    MI_BOOL bCreate;
    ST_IspChannelAttr_t stIspChnlAttr[ST_MAX_ISP_CHN];
} ST_IspModeAttr_t;

typedef struct {
    MI_BOOL bUsed;
    MI_SYS_WindowRect_t stOutCropWin;
    MI_SYS_WindowSize_t stOutputSize;
    MI_BOOL bMirror;
    MI_BOOL bFlip;
    MI_SYS_PixelFormat_e ePixelFormat;
    MI_U32 u32UserFrameDepth;
    MI_U32 u32BufQueueDepth;
} ST_SclPortAttr_t;

typedef struct {
    MI_BOOL bUsed;
    MI_BOOL bCreate;
    MI_SYS_WindowRect_t stInputCropWin;
    ST_BindParam_t stSclInPortAttr;  // source of the channel
    MI_SYS_Rotate_e eRotate;
    ST_SclPortAttr_t stSclOutPortAttr[ST_MAX_SCL_OUTPORT];
} ST_SclChannelAttr_t;

typedef enum {
    E_ST_SCL_SOURCE_NONE = 0,
    E_ST_SCL_SOURCE_ISP_REALTIME = 1,  // "SclIspRealtime"
} ST_SclSource_e;

typedef struct {
    MI_BOOL bUsed;
    MI_BOOL bCreate;
    ST_SclSource_e eSource;
    MI_U32 u32UseHwSclMask;
    ST_SclChannelAttr_t stSclChnlAttr[ST_MAX_SCL_CHN];
} ST_SclDevAttr_t;

typedef struct {
    ST_SclDevAttr_t stSclDevAttr[ST_MAX_SCL_DEV];
} ST_SclModAttr_t;

typedef struct {
    MI_BOOL bUsed;
    MI_BOOL bCreate;
} ST_SensorAttr_t;

extern ST_VifModAttr_t gstVifModule;
extern ST_IspModeAttr_t gstIspModule;
extern ST_SclModAttr_t gstSclModule;
extern ST_SensorAttr_t gstSensorAttr[ST_MAX_SENSOR];

// 1 from process start until main clears it before the build, and during
// every rebuild: the encoder stream thread fetches nothing while it is set.
extern std::atomic<uint8_t> u8UserChangeFlag;

int ST_BaseModuleParaInit(void);
void ST_DispParserIni(void);
MI_S32 ST_BaseModuleInit(MI_U8 u8DoReset);
MI_S32 ST_SysModuleInit(void);
MI_S32 ST_VifModuleInit(MI_U32 GroupId);
MI_S32 ST_IspModuleInit(MI_U32 IspDevId);
MI_S32 ST_SclModuleInit(MI_U32 SclDevId);
MI_S32 ST_UserSensorModuleInit(MI_U32 id);
MI_S32 ST_IspModuleBindVif(MI_U32 IspDevId, MI_U32 IspChnId);
MI_S32 ST_IspModuleUnBindVif(MI_U32 IspDevId, MI_U32 IspChnId);
MI_S32 ResetIspModule(void);

// Rebuild encoder channel u32Chn (for channel 0 also the display); 0 or the
// failing code cut to 8 bits. The caller holds the change lock.
MI_U8 ST_DoChangeInputReso(MI_U32 u32Chn);
// ResetIspModule, rebuild both channels, remember the bound frame rates.
// 0 or the first failing code. The caller holds the change lock.
MI_S32 DoChangeInputReso(void);
// After a bit-rate or profile change: rebuild channel u32Chn under the change
// flag; 0, or the failure (-1 for a channel number out of range).
MI_S32 VencSetRcParam(MI_U32 u32Chn);
// The run-time input change: stUser from the mode code, then the rebuild of
// both channels under the change flag; 0 or the failure. Neither g_stUserSet
// nor the saved settings change here.
MI_S32 SetInputReso(uint32_t code);
void SetChangeStart(uint8_t flag);

// --- serialisation of rebuilds with each other and with the stream thread ---
// Held by every rebuild and by the stream thread around each fetch pass.
void ST_PipelineLock(void);
void ST_PipelineUnlock(void);
// Stream thread: wait up to timeout_ms for the change flag to clear; 1 when
// it is clear.
int ST_WaitChangeDone(int timeout_ms);
