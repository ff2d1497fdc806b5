#pragma once
// HDMI output of the recorder's display: transmitter start with fixed video
// and audio attributes, tear-down, and the hot-plug event handler.

#include "mi_hdmi.h"

MI_S32 ST_Hdmi_Init(void);
MI_S32 ST_Hdmi_Start(MI_HDMI_DeviceId_e eHdmi, MI_HDMI_TimingType_e eTimingType);
MI_S32 ST_Hdmi_DeInit(MI_HDMI_DeviceId_e eHdmi);
// The attributes ST_Hdmi_Start sets.
void ST_Hdmi_FillAttr(MI_HDMI_TimingType_e eTimingType, MI_HDMI_Attr_t *pstAttr);
// Called on the HDMI module's watcher thread; only reports the event.
MI_S32 Hdmi_callback_impl(MI_HDMI_DeviceId_e eHdmi, MI_HDMI_EventType_e eEvent, void *pEventParam,
                          void *pUsrParam);
