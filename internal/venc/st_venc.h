#pragma once
// Encoder channels of the recorder: channel 0 records (1920x1080), channel 1
// streams live (1280x720); H.264 CBR with the user's bit-rate indexes.

#include "mi_venc.h"
#include "st_common.h"

#define ST_MAX_VENC_NUM 16
#define ST_VENC_STREAM_NAME_LEN 128

typedef struct {
    ST_BindParam_t stVencInBindParam;
    MI_VENC_CHN vencChn;
    MI_VENC_ModType_e eType;
    MI_U32 u32Width;
    MI_U32 u32Height;
    MI_U32 u32Fps;
    char szStreamName[ST_VENC_STREAM_NAME_LEN];
    MI_BOOL bUsed;
    MI_BOOL bCreate;
    MI_VENC_DEV DevId;
} ST_VencAttr_t;

extern ST_VencAttr_t gstVencattr[ST_MAX_VENC_NUM];

// 1 when u32Chn can index gstVencattr.
static inline int ST_VencChnValid(MI_U32 u32Chn) { return u32Chn < ST_MAX_VENC_NUM; }

// Take the first unused entry for an encoder of type eType fed from
// pstBindParam; its channel number, or -1.
MI_S32 ST_IniSetVencParam(MI_VENC_ModType_e eType, const ST_BindParam_t *pstBindParam, MI_U32 u32Fps);

// Bit rate in bit/s of a channel for a bit-rate index: channel 1 steps by
// 1 Mbit/s (1048576), every other channel by 10 Mbit/s (10485760).
MI_U32 ST_VencBitRate(MI_U32 u32Chn, MI_U8 u8Index);
// The attributes ST_VencModuleInit creates a channel with (fixed size per
// channel, frame rate stUser.ucDstFrameRate, bit rate and profile from
// g_stUserSet).
void ST_VencFillAttr(MI_U32 u32Chn, MI_VENC_ChnAttr_t *pstAttr);

MI_S32 ST_VencModuleInit(MI_U32 u32VencChn);
MI_S32 ST_VencModuleUnInit(MI_U32 u32VencChn);

MI_S32 ST_Venc_CreateChannel(MI_VENC_DEV VencDev, MI_VENC_CHN VencChn, MI_VENC_ChnAttr_t *pstAttr);
MI_S32 ST_Venc_StartChannel(MI_VENC_DEV VencDev, MI_VENC_CHN VencChn);
MI_S32 ST_Venc_StopChannel(MI_VENC_DEV VencDev, MI_VENC_CHN VencChn);
MI_S32 ST_Venc_DestoryChannel(MI_VENC_DEV VencDev, MI_VENC_CHN VencChn);

// VUI timing (1 / u32Fps, not fixed, limited range) and CAVLC entropy coding;
// 0, or 31 when a VUI or entropy call failed.
MI_S32 SetVui(MI_U32 u32VencChn, MI_U32 u32Fps);
