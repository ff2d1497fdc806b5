// HDMI transmitter records and the hot-plug event callback.
#pragma once
#include "mi_common_datatype.h"

typedef enum {
    E_MI_HDMI_ID_0 = 0,
    E_MI_HDMI_ID_MAX = 1,
} MI_HDMI_DeviceId_e;

typedef enum {
    E_MI_HDMI_EVENT_HOTPLUG = 0,
    E_MI_HDMI_EVENT_NO_PLUG = 1,
} MI_HDMI_EventType_e;

typedef enum {
    E_MI_HDMI_TIMING_480_60I = 0,
    E_MI_HDMI_TIMING_480_60P = 1,
    E_MI_HDMI_TIMING_576_50I = 2,
    E_MI_HDMI_TIMING_576_50P = 3,
    E_MI_HDMI_TIMING_720_50P = 4,
    E_MI_HDMI_TIMING_720_60P = 5,
    E_MI_HDMI_TIMING_1080_50I = 6,
    E_MI_HDMI_TIMING_1080_50P = 7,
    E_MI_HDMI_TIMING_1080_60I = 8,
    E_MI_HDMI_TIMING_1080_60P = 9,
    E_MI_HDMI_TIMING_1080_30P = 10,
    E_MI_HDMI_TIMING_1080_25P = 11,
    E_MI_HDMI_TIMING_1080_24P = 12,
    E_MI_HDMI_TIMING_4K2K_30P = 13,
    E_MI_HDMI_TIMING_1440_50P = 14,
    E_MI_HDMI_TIMING_1440_60P = 15,
    E_MI_HDMI_TIMING_1440_24P = 16,
    E_MI_HDMI_TIMING_1440_30P = 17,
    E_MI_HDMI_TIMING_1470_50P = 18,
    E_MI_HDMI_TIMING_1470_60P = 19,
    E_MI_HDMI_TIMING_1470_24P = 20,
    E_MI_HDMI_TIMING_1470_30P = 21,
    E_MI_HDMI_TIMING_1920x2205_24P = 22,
    E_MI_HDMI_TIMING_1920x2205_30P = 23,
    E_MI_HDMI_TIMING_4K2K_25P = 24,
    E_MI_HDMI_TIMING_4K1K_60P = 25,
    E_MI_HDMI_TIMING_4K2K_60P = 26,
    E_MI_HDMI_TIMING_4K2K_24P = 27,
    E_MI_HDMI_TIMING_4K2K_50P = 28,
    E_MI_HDMI_TIMING_2205_24P = 29,
    E_MI_HDMI_TIMING_4K1K_120P = 30,
    E_MI_HDMI_TIMING_4096x2160_24P = 31,
    E_MI_HDMI_TIMING_4096x2160_25P = 32,
    E_MI_HDMI_TIMING_4096x2160_30P = 33,
    E_MI_HDMI_TIMING_4096x2160_50P = 34,
    E_MI_HDMI_TIMING_4096x2160_60P = 35,
    E_MI_HDMI_TIMING_1024x768_60P = 36,
    E_MI_HDMI_TIMING_1280x1024_60P = 37,
    E_MI_HDMI_TIMING_1440x900_60P = 38,
    E_MI_HDMI_TIMING_1600x1200_60P = 39,
    E_MI_HDMI_TIMING_1280x800_60P = 40,
    E_MI_HDMI_TIMING_1366x768_60P = 41,
    E_MI_HDMI_TIMING_1680x1050_60P = 42,
    E_MI_HDMI_TIMING_800x600_60P = 48,
    E_MI_HDMI_TIMING_MAX = 49,
} MI_HDMI_TimingType_e;

typedef enum {
    E_MI_HDMI_OUTPUT_MODE_HDMI = 0,
    E_MI_HDMI_OUTPUT_MODE_HDMI_HDCP = 1,
    E_MI_HDMI_OUTPUT_MODE_DVI = 2,
    E_MI_HDMI_OUTPUT_MODE_DVI_HDCP = 3,
    E_MI_HDMI_OUTPUT_MODE_MAX = 4,
} MI_HDMI_OutputMode_e;

typedef enum {
    E_MI_HDMI_COLOR_TYPE_RGB444 = 0,
    E_MI_HDMI_COLOR_TYPE_YCBCR422 = 1,
    E_MI_HDMI_COLOR_TYPE_YCBCR444 = 2,
    E_MI_HDMI_COLOR_TYPE_YCBCR420 = 3,
    E_MI_HDMI_COLOR_TYPE_MAX = 4,
} MI_HDMI_ColorType_e;

typedef enum {
    E_MI_HDMI_DEEP_COLOR_24BIT = 0,
    E_MI_HDMI_DEEP_COLOR_30BIT = 1,
    E_MI_HDMI_DEEP_COLOR_36BIT = 2,
    E_MI_HDMI_DEEP_COLOR_48BIT = 3,
    E_MI_HDMI_DEEP_COLOR_MAX = 4,
} MI_HDMI_DeepColor_e;

typedef enum {
    E_MI_HDMI_AUDIO_SAMPLERATE_UNKNOWN = 0,
    E_MI_HDMI_AUDIO_SAMPLERATE_32K = 1,
    E_MI_HDMI_AUDIO_SAMPLERATE_44K = 2,
    E_MI_HDMI_AUDIO_SAMPLERATE_48K = 3,
    E_MI_HDMI_AUDIO_SAMPLERATE_88K = 4,
    E_MI_HDMI_AUDIO_SAMPLERATE_96K = 5,
    E_MI_HDMI_AUDIO_SAMPLERATE_176K = 6,
    E_MI_HDMI_AUDIO_SAMPLERATE_192K = 7,
    E_MI_HDMI_AUDIO_SAMPLERATE_MAX = 8,
} MI_HDMI_SampleRate_e;

typedef enum {
    E_MI_HDMI_BIT_DEPTH_8 = 8,
    E_MI_HDMI_BIT_DEPTH_16 = 16,
    E_MI_HDMI_BIT_DEPTH_18 = 18,
    E_MI_HDMI_BIT_DEPTH_20 = 20,
    E_MI_HDMI_BIT_DEPTH_24 = 24,
    E_MI_HDMI_BIT_DEPTH_32 = 32,
    E_MI_HDMI_BIT_DEPTH_MAX = 33,
} MI_HDMI_BitDepth_e;

typedef enum {
    E_MI_HDMI_ACODE_PCM = 0,
    E_MI_HDMI_ACODE_NON_PCM = 1,
    E_MI_HDMI_ACODE_MAX = 2,
} MI_HDMI_AudioCodeType_e;

typedef struct MI_HDMI_VideoAttr_s {
    MI_BOOL bEnableVideo;
    MI_HDMI_TimingType_e eTimingType;
    MI_HDMI_OutputMode_e eOutputMode;
    MI_HDMI_ColorType_e eColorType;
    MI_HDMI_DeepColor_e eDeepColorMode;
} MI_HDMI_VideoAttr_t;

typedef struct MI_HDMI_AudioAttr_s {
    MI_BOOL bEnableAudio;
    MI_BOOL bIsMultiChannel;
    MI_HDMI_SampleRate_e eSampleRate;
    MI_HDMI_BitDepth_e eBitDepth;
    MI_HDMI_AudioCodeType_e eCodeType;
} MI_HDMI_AudioAttr_t;

typedef struct MI_HDMI_EnInfoFrame_s {
    MI_BOOL bEnableAviInfoFrame;
    MI_BOOL bEnableAudInfoFrame;
    MI_BOOL bEnableSpdInfoFrame;
} MI_HDMI_EnInfoFrame_t;

typedef struct MI_HDMI_Attr_s {
    MI_BOOL bConnect;
    MI_HDMI_VideoAttr_t stVideoAttr;
    MI_HDMI_AudioAttr_t stAudioAttr;
    MI_HDMI_EnInfoFrame_t stEnInfoFrame;
} MI_HDMI_Attr_t;

typedef MI_S32 (*MI_HDMI_EventCallBack)(MI_HDMI_DeviceId_e eHdmi, MI_HDMI_EventType_e Event, void *pEventParam,
                                        void *pUsrParam);

typedef struct MI_HDMI_InitParam_s {
    MI_HDMI_EventCallBack pfnHdmiEventCallback;
    void *pCallBackArgs;
} MI_HDMI_InitParam_t;

#if defined(__arm__)
static_assert(sizeof(MI_HDMI_VideoAttr_t) == 20, "MI_HDMI_VideoAttr_t layout");
static_assert(sizeof(MI_HDMI_AudioAttr_t) == 16, "MI_HDMI_AudioAttr_t layout");
static_assert(sizeof(MI_HDMI_Attr_t) == 44, "MI_HDMI_Attr_t layout");
static_assert(sizeof(MI_HDMI_InitParam_t) == 8, "MI_HDMI_InitParam_t layout");
#endif
