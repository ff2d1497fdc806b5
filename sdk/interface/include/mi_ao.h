// Audio output: device attributes, enable, and PCM playback.
#pragma once
#include "mi_ao_datatype.h"

#ifdef __cplusplus
extern "C" {
#endif

MI_S32 MI_AO_SetPubAttr(MI_AUDIO_DEV AoDevId, MI_AUDIO_Attr_t *pstAttr);
MI_S32 MI_AO_GetPubAttr(MI_AUDIO_DEV AoDevId, MI_AUDIO_Attr_t *pstAttr);
MI_S32 MI_AO_Enable(MI_AUDIO_DEV AoDevId);
MI_S32 MI_AO_EnableChn(MI_AUDIO_DEV AoDevId, MI_AO_CHN AoChn);
MI_S32 MI_AO_QueryChnStat(MI_AUDIO_DEV AoDevId, MI_AO_CHN AoChn, MI_AO_ChnState_t *pstStatus);
// Queues the frame and plays what is queued; waits up to s32MilliSec (-1: no
// limit) for room in the driver's DMA buffer.
MI_S32 MI_AO_SendFrame(MI_AUDIO_DEV AoDevId, MI_AO_CHN AoChn, MI_AUDIO_Frame_t *pstData, MI_S32 s32MilliSec);

#ifdef __cplusplus
}
#endif
