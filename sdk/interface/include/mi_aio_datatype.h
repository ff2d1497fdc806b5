// Types shared by the audio-input and audio-output modules.
#pragma once
#include "mi_common_datatype.h"

typedef MI_S32 MI_AUDIO_DEV;
typedef MI_S32 MI_AI_CHN;
typedef MI_S32 MI_AO_CHN;

#define MI_AUDIO_MAX_CHN_NUM 16

typedef enum {
    E_MI_AUDIO_SAMPLE_RATE_8000 = 8000,
    E_MI_AUDIO_SAMPLE_RATE_11025 = 11025,
    E_MI_AUDIO_SAMPLE_RATE_12000 = 12000,
    E_MI_AUDIO_SAMPLE_RATE_16000 = 16000,
    E_MI_AUDIO_SAMPLE_RATE_22050 = 22050,
    E_MI_AUDIO_SAMPLE_RATE_24000 = 24000,
    E_MI_AUDIO_SAMPLE_RATE_32000 = 32000,
    E_MI_AUDIO_SAMPLE_RATE_44100 = 44100,
    E_MI_AUDIO_SAMPLE_RATE_48000 = 48000,
    E_MI_AUDIO_SAMPLE_RATE_96000 = 96000,
    E_MI_AUDIO_SAMPLE_RATE_INVALID = 96001,
} MI_AUDIO_SampleRate_e;

typedef enum {
    E_MI_AUDIO_BIT_WIDTH_16 = 0,
    E_MI_AUDIO_BIT_WIDTH_24 = 1,
    E_MI_AUDIO_BIT_WIDTH_32 = 2,
    E_MI_AUDIO_BIT_WIDTH_MAX = 3,
} MI_AUDIO_BitWidth_e;

typedef enum {
    E_MI_AUDIO_MODE_I2S_MASTER = 0,
    E_MI_AUDIO_MODE_I2S_SLAVE = 1,
    E_MI_AUDIO_MODE_TDM_MASTER = 2,
    E_MI_AUDIO_MODE_TDM_SLAVE = 3,
    E_MI_AUDIO_MODE_MAX = 4,
} MI_AUDIO_Mode_e;

typedef enum {
    E_MI_AUDIO_SOUND_MODE_MONO = 0,
    E_MI_AUDIO_SOUND_MODE_STEREO = 1,
    E_MI_AUDIO_SOUND_MODE_QUEUE = 2,
    E_MI_AUDIO_SOUND_MODE_MAX = 3,
} MI_AUDIO_SoundMode_e;

typedef enum {
    E_MI_AUDIO_I2S_FMT_I2S_MSB = 0,
    E_MI_AUDIO_I2S_FMT_LEFT_JUSTIFY_MSB = 1,
} MI_AUDIO_I2sFmt_e;

typedef enum {
    E_MI_AUDIO_I2S_MCLK_0 = 0,
    E_MI_AUDIO_I2S_MCLK_12_288M = 1,
    E_MI_AUDIO_I2S_MCLK_16_384M = 2,
    E_MI_AUDIO_I2S_MCLK_18_432M = 3,
    E_MI_AUDIO_I2S_MCLK_24_576M = 4,
    E_MI_AUDIO_I2S_MCLK_24M = 5,
    E_MI_AUDIO_I2S_MCLK_48M = 6,
} MI_AUDIO_I2sMclk_e;

typedef struct MI_AUDIO_I2sConfig_s {
    MI_AUDIO_I2sFmt_e eFmt;
    MI_AUDIO_I2sMclk_e eMclk;
    MI_BOOL bSyncClock;
    MI_U32 u32TdmSlots;
    MI_AUDIO_BitWidth_e eI2sBitWidth;
} MI_AUDIO_I2sConfig_t;

typedef struct MI_AUDIO_Attr_s {
    MI_AUDIO_SampleRate_e eSamplerate;
    MI_AUDIO_BitWidth_e eBitwidth;
    MI_AUDIO_Mode_e eWorkmode;
    MI_AUDIO_SoundMode_e eSoundmode;
    MI_U32 u32FrmNum;
    MI_U32 u32PtNumPerFrm;
    MI_U32 u32CodecChnCnt;
    MI_U32 u32ChnCnt;
    union {
        MI_AUDIO_I2sConfig_t stI2sConfig;
    } WorkModeSetting;
} MI_AUDIO_Attr_t;

typedef struct MI_AUDIO_Frame_s {
    MI_AUDIO_BitWidth_e eBitwidth;
    MI_AUDIO_SoundMode_e eSoundmode;
    void *apVirAddr[MI_AUDIO_MAX_CHN_NUM];
    MI_U64 u64TimeStamp;
    MI_U32 u32Seq;
    MI_U32 u32Len[MI_AUDIO_MAX_CHN_NUM];
    MI_U32 au32PoolId[2];
    void *apSrcPcmVirAddr[MI_AUDIO_MAX_CHN_NUM];
    MI_U32 u32SrcPcmLen[MI_AUDIO_MAX_CHN_NUM];
} MI_AUDIO_Frame_t;

typedef struct MI_AUDIO_AecFrame_s {
    MI_AUDIO_Frame_t stRefFrame;
    MI_BOOL bValid;
} MI_AUDIO_AecFrame_t;

// Media error numbers used by the audio modules (low byte of a result).
#define MI_AUDIO_ERR_INVALID_DEVID 0x01
#define MI_AUDIO_ERR_INVALID_CHNID 0x02
#define MI_AUDIO_ERR_ILLEGAL_PARAM 0x03
#define MI_AUDIO_ERR_NULL_PTR 0x06
#define MI_AUDIO_ERR_NOT_CONFIG 0x07
#define MI_AUDIO_ERR_NOMEM 0x0C
#define MI_AUDIO_ERR_NOBUF 0x0D
#define MI_AUDIO_ERR_BUF_EMPTY 0x0E
#define MI_AUDIO_ERR_SYS_NOTREADY 0x10
#define MI_AUDIO_ERR_NOT_ENABLE 0x17

#if defined(__arm__)
static_assert(sizeof(MI_AUDIO_I2sConfig_t) == 20, "MI_AUDIO_I2sConfig_t layout");
static_assert(sizeof(MI_AUDIO_Attr_t) == 52, "MI_AUDIO_Attr_t layout");
static_assert(sizeof(MI_AUDIO_Frame_t) == 288, "MI_AUDIO_Frame_t layout");
static_assert(sizeof(MI_AUDIO_AecFrame_t) == 296, "MI_AUDIO_AecFrame_t layout");
#endif
