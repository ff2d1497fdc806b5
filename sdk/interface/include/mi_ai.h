// Audio input: device attributes, enable, and captured PCM frames.
#pragma once
#include "mi_aio_datatype.h"

#ifdef __cplusplus
extern "C" {
#endif

MI_S32 MI_AI_SetPubAttr(MI_AUDIO_DEV AiDevId, MI_AUDIO_Attr_t *pstAttr);
MI_S32 MI_AI_GetPubAttr(MI_AUDIO_DEV AiDevId, MI_AUDIO_Attr_t *pstAttr);
MI_S32 MI_AI_Enable(MI_AUDIO_DEV AiDevId);
MI_S32 MI_AI_EnableChn(MI_AUDIO_DEV AiDevId, MI_AI_CHN AiChn);
// Waits up to s32MilliSec (-1: no limit) for a frame; the frame points into the
// driver's buffer until MI_AI_ReleaseFrame.
MI_S32 MI_AI_GetFrame(MI_AUDIO_DEV AiDevId, MI_AI_CHN AiChn, MI_AUDIO_Frame_t *pstFrm,
                      MI_AUDIO_AecFrame_t *pstAecFrm, MI_S32 s32MilliSec);
MI_S32 MI_AI_ReleaseFrame(MI_AUDIO_DEV AiDevId, MI_AI_CHN AiChn, MI_AUDIO_Frame_t *pstFrm,
                          MI_AUDIO_AecFrame_t *pstAecFrm);

#ifdef __cplusplus
}
#endif
