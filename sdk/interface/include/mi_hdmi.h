// HDMI transmitter calls ("/dev/mi_hdmi") and its hot-plug watcher.
#pragma once
#include "mi_hdmi_datatype.h"

#ifdef __cplusplus
extern "C" {
#endif

// Starts the hot-plug watcher thread "mi_hdmi_process" (one per process).
MI_S32 MI_HDMI_Init(MI_HDMI_InitParam_t *pstInitParam);
// Stops the watcher; returns once it has ended, so the callback is no longer
// called (unless called from the callback itself).
MI_S32 MI_HDMI_DeInit(void);
MI_S32 MI_HDMI_Open(MI_HDMI_DeviceId_e eHdmi);
MI_S32 MI_HDMI_Close(MI_HDMI_DeviceId_e eHdmi);
MI_S32 MI_HDMI_SetAttr(MI_HDMI_DeviceId_e eHdmi, const MI_HDMI_Attr_t *pstAttr);
MI_S32 MI_HDMI_GetAttr(MI_HDMI_DeviceId_e eHdmi, MI_HDMI_Attr_t *pstAttr);
MI_S32 MI_HDMI_Start(MI_HDMI_DeviceId_e eHdmi);
MI_S32 MI_HDMI_Stop(MI_HDMI_DeviceId_e eHdmi);
MI_S32 MI_HDMI_SetAvMute(MI_HDMI_DeviceId_e eHdmi, MI_BOOL bAvMute);

#ifdef __cplusplus
}
#endif
