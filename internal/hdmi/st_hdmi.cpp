#include "st_hdmi.h"

#include <stdio.h>
#include <string.h>

#include "st_common.h"

#define ST_HDMI_SRC "internal//hdmi/st_hdmi"
#define HDMI_IN() printf("[IN] [%s:%s:%d] \n", ST_HDMI_SRC, __func__, __LINE__)
#define HDMI_OUT() printf("[OUT] [%s:%s:%d] \n", ST_HDMI_SRC, __func__, __LINE__)

// Like STCHECKRESULT, but closes the [IN]/[OUT] frame before returning.
#define HDMI_CHECK(_func_)                                                                            \
    do {                                                                                              \
        MI_S32 _r_ = (MI_S32)(_func_);                                                                \
        if (_r_ != MI_SUCCESS) {                                                                      \
            printf("[%s %d]exec function failed, error:%x\n", __func__, __LINE__, (unsigned)_r_);     \
            HDMI_OUT();                                                                               \
            return _r_;                                                                               \
        }                                                                                             \
        printf("(%s %d)exec function pass\n", __func__, __LINE__);                                    \
    } while (0)

MI_S32 Hdmi_callback_impl(MI_HDMI_DeviceId_e eHdmi, MI_HDMI_EventType_e eEvent, void *pEventParam,
                          void *pUsrParam) {
    (void)eHdmi;
    (void)pEventParam;
    (void)pUsrParam;
    switch (eEvent) {
    case E_MI_HDMI_EVENT_HOTPLUG: printf("E_MI_HDMI_EVENT_HOTPLUG.\n"); break;
    case E_MI_HDMI_EVENT_NO_PLUG: printf("E_MI_HDMI_EVENT_NO_PLUG.\n"); break;
    default: printf("Unsupport event.\n"); break;
    }
    return MI_SUCCESS;
}

MI_S32 ST_Hdmi_Init(void) {
    HDMI_IN();
    MI_HDMI_InitParam_t stInit;
    memset(&stInit, 0, sizeof stInit);
    stInit.pfnHdmiEventCallback = Hdmi_callback_impl;
    stInit.pCallBackArgs = nullptr;
    HDMI_CHECK(MI_HDMI_Init(&stInit));
    HDMI_CHECK(MI_HDMI_Open(E_MI_HDMI_ID_0));
    HDMI_OUT();
    return MI_SUCCESS;
}

void ST_Hdmi_FillAttr(MI_HDMI_TimingType_e eTimingType, MI_HDMI_Attr_t *pstAttr) {
    memset(pstAttr, 0, sizeof *pstAttr);
    pstAttr->bConnect = FALSE;
    pstAttr->stVideoAttr.bEnableVideo = TRUE;
    pstAttr->stVideoAttr.eTimingType = eTimingType;
    pstAttr->stVideoAttr.eOutputMode = E_MI_HDMI_OUTPUT_MODE_HDMI;
    pstAttr->stVideoAttr.eColorType = E_MI_HDMI_COLOR_TYPE_YCBCR422;
    pstAttr->stVideoAttr.eDeepColorMode = E_MI_HDMI_DEEP_COLOR_24BIT;
    pstAttr->stAudioAttr.bEnableAudio = TRUE;
    pstAttr->stAudioAttr.bIsMultiChannel = FALSE;
    pstAttr->stAudioAttr.eSampleRate = E_MI_HDMI_AUDIO_SAMPLERATE_48K;
    pstAttr->stAudioAttr.eBitDepth = E_MI_HDMI_BIT_DEPTH_16;
    pstAttr->stAudioAttr.eCodeType = E_MI_HDMI_ACODE_PCM;
    pstAttr->stEnInfoFrame.bEnableAviInfoFrame = FALSE;
    pstAttr->stEnInfoFrame.bEnableAudInfoFrame = FALSE;
    pstAttr->stEnInfoFrame.bEnableSpdInfoFrame = FALSE;
}

MI_S32 ST_Hdmi_Start(MI_HDMI_DeviceId_e eHdmi, MI_HDMI_TimingType_e eTimingType) {
    HDMI_IN();
    MI_HDMI_Attr_t stAttr;
    ST_Hdmi_FillAttr(eTimingType, &stAttr);
    HDMI_CHECK(MI_HDMI_SetAttr(eHdmi, &stAttr));
    HDMI_CHECK(MI_HDMI_Start(eHdmi));
    HDMI_OUT();
    return MI_SUCCESS;
}

MI_S32 ST_Hdmi_DeInit(MI_HDMI_DeviceId_e eHdmi) {
    HDMI_IN();
    HDMI_CHECK(MI_HDMI_Stop(eHdmi));
    HDMI_CHECK(MI_HDMI_Close(eHdmi));
    HDMI_CHECK(MI_HDMI_DeInit());
    HDMI_OUT();
    return MI_SUCCESS;
}
