// Audio-output module internals, shared with its tests.
#pragma once
#include <stdio.h>

#include "cam_os_wrapper.h"
#include "mi_ao_datatype.h"

#define MI_AO_DEV_NUM_MAX 6
#define MI_AO_CHN_NUM_MAX 2
#define MI_AO_QUEUE_SIZE 51200
#define MI_AO_CHUNK_MAX 25600
#define MI_AO_DMA_MARGIN 128

typedef enum {
    MI_AO_DUMP_PCM = 0,
} MI_AO_DumpType;

typedef struct _MI_AO_QueueInfo_s {
    MI_S32 s32Front;
    MI_S32 s32Rear;
    MI_S32 s32Max;
    MI_S32 s32Size;
    MI_U8 *pu8Buff;
} _MI_AO_QueueInfo_t;

typedef struct _MI_AO_ChanInfoUsr_s {
    MI_BOOL bChanEnable;
    MI_U8 *pu8InputBuff;
    MI_U8 *pu8OutputBuff;
    _MI_AO_QueueInfo_t stChnOutputQueue;
    CamOsRwsem_t stChnBaseRwSem;
    MI_U64 u64GetTotalSize;
} _MI_AO_ChanInfoUsr_t;

typedef struct _MI_AO_DevInfoUsr_s {
    MI_BOOL bDevEnable;
    MI_BOOL bDevAttrSet;
    MI_AUDIO_Attr_t stDevAttr;
    _MI_AO_ChanInfoUsr_t astChanInfo[MI_AO_CHN_NUM_MAX];
    CamOsRwsem_t stDevRwSem;
    MI_U64 u64StartTime;
    MI_U8 *pu8DevOutputBuff;
    MI_BOOL bDevPause;
} _MI_AO_DevInfoUsr_t;

MI_U8 _MI_AO_GetDevNumOfChip(void);
MI_S32 _MI_AO_InitGlobalData(void);
void _MI_AO_InitModule(void);
void _MI_AO_QueueInsert(_MI_AO_QueueInfo_t *pstQueue, const MI_U8 *pu8InputBuff, MI_S32 s32Size);
MI_S32 _MI_AO_QueueDraw(_MI_AO_QueueInfo_t *pstQueue, MI_U8 *pu8OutputBuff, MI_S32 s32Size);
MI_S32 _MI_AO_OpenDumpFile(MI_AUDIO_DEV AoDevId, MI_AO_CHN AoChn, MI_AO_DumpType eType);
MI_S32 _MI_AO_SendToChnInputPort(MI_AUDIO_DEV AoDevId, MI_AO_CHN AoChn, _MI_AO_QueueInfo_t *pstInputQueue,
                                 MI_S32 s32MilliSec);
// Test view of the per-device state (null before the module is set up).
_MI_AO_DevInfoUsr_t *_MI_AO_DevInfo(MI_AUDIO_DEV AoDevId);
