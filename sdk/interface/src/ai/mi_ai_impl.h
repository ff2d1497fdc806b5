// Audio-input module internals, shared with its tests.
#pragma once
#include <stdio.h>

#include "cam_os_wrapper.h"
#include "mi_ai_datatype.h"

#define MI_AI_DEV_NUM_MAX 8
#define MI_AI_CHN_NUM_MAX 8
#define MI_AI_ECHO_SRC_MAX 2

typedef enum {
    MI_AI_DUMP_PCM = 0,
    MI_AI_DUMP_ECHO = 1,
} MI_AI_DumpType;

typedef struct _MI_AI_ChanInfoUsr_s {
    MI_BOOL bChanEnable;
    MI_SYS_BUF_HANDLE hBufHandle;
    void *pVirBufAddr;
    CamOsRwsem_t stChnBaseRwSem;
    MI_U32 u32Seq;
    MI_S32 s32ChnFd;
    // hBufHandle names a buffer not yet given back: a release without one is
    // refused, so no buffer goes back to the driver twice.
    MI_BOOL bBufHeld;
} _MI_AI_ChanInfoUsr_t;

typedef struct _MI_AI_DevInfoUsr_s {
    MI_BOOL bDevEnable;
    MI_BOOL bDevAttrSet;
    MI_AUDIO_Attr_t stDevAttr;
    _MI_AI_ChanInfoUsr_t astChanInfo[MI_AI_CHN_NUM_MAX];
    MI_U64 u64PhyBufAddr;
    CamOsRwsem_t stDevRwSem;
} _MI_AI_DevInfoUsr_t;

MI_U8 _MI_AI_GetDevNumOfChip(void);
MI_S32 _MI_AI_InitGlobalData(void);
void _MI_AI_InitModule(void);
MI_S32 _MI_AI_OpenDumpFile(MI_AUDIO_DEV AiDevId, MI_AI_CHN AiChn, MI_AI_DumpType eType);
// Test view of the per-device state (null before the module is set up).
const _MI_AI_DevInfoUsr_t *_MI_AI_DevInfo(MI_AUDIO_DEV AiDevId);
