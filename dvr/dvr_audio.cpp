#include "dvr_audio.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "aac_encoder.h"
#include "frame_list.h"
#include "mi_ai.h"
#include "mi_ao.h"
#include "mi_sys.h"

MI_AUDIO_DEV AiDevId = 2;
MI_AUDIO_DEV AoDevId = -1;
MI_S32 AoChn = 0;
AiChnPriv_t stAiChnPriv[16];
volatile MI_BOOL bAiExit = 0;
volatile uint8_t u8AOInitOk = 0;
BagQueue stAacAudioQueue;
uint8_t ucAacAudioQueueBuf[AAC_PACKET_LEN * AAC_PACKET_NUM];

namespace {

AacEncoder *g_aac = nullptr;
uint64_t g_ao_dropped = 0;
uint64_t g_queue_full = 0;
uint64_t g_get_failed = 0;
uint64_t g_aac_frames = 0;

// Same attributes for audio in and audio out.
MI_AUDIO_Attr_t audio_attr() {
    MI_AUDIO_Attr_t a;
    memset(&a, 0, sizeof a);
    a.eSamplerate = E_MI_AUDIO_SAMPLE_RATE_48000;
    a.eBitwidth = E_MI_AUDIO_BIT_WIDTH_16;
    a.eWorkmode = E_MI_AUDIO_MODE_I2S_MASTER;
    a.eSoundmode = E_MI_AUDIO_SOUND_MODE_STEREO;
    a.u32FrmNum = 0;
    a.u32PtNumPerFrm = 2048;
    a.u32CodecChnCnt = 0;
    a.u32ChnCnt = 1;
    a.WorkModeSetting.stI2sConfig.eFmt = E_MI_AUDIO_I2S_FMT_I2S_MSB;
    a.WorkModeSetting.stI2sConfig.eMclk = E_MI_AUDIO_I2S_MCLK_0;
    a.WorkModeSetting.stI2sConfig.bSyncClock = FALSE;
    a.WorkModeSetting.stI2sConfig.u32TdmSlots = 2;
    a.WorkModeSetting.stI2sConfig.eI2sBitWidth = E_MI_AUDIO_BIT_WIDTH_32;
    return a;
}

#define AUDIO_STEP(call)                                                              \
    do {                                                                              \
        MI_S32 s32Ret_ = (call);                                                      \
        if (s32Ret_ != 0) {                                                           \
            printf("[%s %d]exec function failed, error:%x\n", __func__, __LINE__, s32Ret_); \
            return s32Ret_;                                                           \
        }                                                                             \
        printf("[%s %d]exec function pass\n", __func__, __LINE__);                    \
    } while (0)

void count(uint64_t *c) { __atomic_add_fetch(c, 1, __ATOMIC_RELAXED); }

}  // namespace

AudioDropCounters audio_drop_counters(void) {
    AudioDropCounters c;
    c.ao_dropped = __atomic_load_n(&g_ao_dropped, __ATOMIC_RELAXED);
    c.queue_full = __atomic_load_n(&g_queue_full, __ATOMIC_RELAXED);
    c.get_failed = __atomic_load_n(&g_get_failed, __ATOMIC_RELAXED);
    c.aac_frames = __atomic_load_n(&g_aac_frames, __ATOMIC_RELAXED);
    return c;
}

MI_S32 initAi(void) {
    MI_AUDIO_Attr_t attr = audio_attr();
    MI_AUDIO_Attr_t got;
    AUDIO_STEP(MI_AI_SetPubAttr(AiDevId, &attr));
    AUDIO_STEP(MI_AI_GetPubAttr(AiDevId, &got));
    AUDIO_STEP(MI_AI_Enable(AiDevId));

    memset(stAiChnPriv, 0, sizeof stAiChnPriv);
    for (MI_U32 i = 0; i < attr.u32ChnCnt; i++) {
        AiChnPriv_t *priv = &stAiChnPriv[i];
        priv->AiDevId = AiDevId;
        priv->AiChn = (MI_S32)i;
        priv->s32Fd = -1;
        priv->u32TotalSize = 0;
        priv->u32ChnCnt = attr.u32ChnCnt;
        MI_SYS_ChnPort_t port;
        port.eModId = E_MI_MODULE_ID_AI;
        port.u32DevId = (MI_U32)AiDevId;
        port.u32ChnId = i;
        port.u32PortId = 0;
        AUDIO_STEP(MI_SYS_SetChnOutputPortDepth(0, &port, 100, 108));
        AUDIO_STEP(MI_AI_EnableChn(AiDevId, (MI_AI_CHN)i));
        if (pthread_create(&priv->tid, nullptr, aiGetChnPortBuf, priv) == 0)
            pthread_setname_np(priv->tid, "aiGetChnPortBuf");
    }
    printf("create ai thread.\n");
    return 0;
}

MI_S32 initAo(void) {
    MI_AUDIO_Attr_t attr = audio_attr();
    MI_AUDIO_Attr_t got;
    AoDevId = 4;
    AUDIO_STEP(MI_AO_SetPubAttr(AoDevId, &attr));
    AUDIO_STEP(MI_AO_GetPubAttr(AoDevId, &got));
    AUDIO_STEP(MI_AO_Enable(AoDevId));
    AUDIO_STEP(MI_AO_EnableChn(AoDevId, AoChn));
    u8AOInitOk = 1;
    return 0;
}

void AacBuildPacket(const MI_AUDIO_Frame_t *pstFrame, uint8_t *pucPacket) {
    memset(pucPacket, 0, AAC_PACKET_LEN);
    MI_U32 len = pstFrame->u32Len[0];
    if (len > AAC_PCM_BYTES) len = AAC_PCM_BYTES;
    if (pstFrame->apVirAddr[0] && len) memcpy(pucPacket, pstFrame->apVirAddr[0], len);
    memcpy(pucPacket + AAC_PCM_BYTES, &pstFrame->u64TimeStamp, sizeof(uint64_t));
}

void *aiGetChnPortBuf(void *data) {
    AiChnPriv_t *priv = static_cast<AiChnPriv_t *>(data);
    static thread_local uint8_t packet[AAC_PACKET_LEN];
    while (!bAiExit) {
        MI_AUDIO_Frame_t frame;
        MI_AUDIO_AecFrame_t aec;
        memset(&aec, 0, sizeof aec);
        MI_S32 r = MI_AI_GetFrame(priv->AiDevId, priv->AiChn, &frame, &aec, -1);
        if (r != 0) {
            printf("Dev%dChn%d get frame failed!!!error:0x%x\n", priv->AiDevId, priv->AiChn, r);
            count(&g_get_failed);
            // A fetch can fail after the buffer was taken: give it back (refused
            // when none is held), and pause so a failing driver is not spun on.
            MI_AI_ReleaseFrame(priv->AiDevId, priv->AiChn, &frame, &aec);
            usleep(AI_RETRY_DELAY_MS * 1000);
            continue;
        }
        if (u8AOInitOk == 1) {
            // A bounded wait: a stalled output costs this frame's loop-back, never the capture.
            if (MI_AO_SendFrame(AoDevId, AoChn, &frame, AO_SEND_WAIT_MS) != 0) count(&g_ao_dropped);
        }
        AacBuildPacket(&frame, packet);
        if (!BagQueueAddData(&stAacAudioQueue, packet, AAC_PACKET_LEN)) count(&g_queue_full);
        MI_AI_ReleaseFrame(priv->AiDevId, priv->AiChn, &frame, &aec);
    }
    return nullptr;
}

void Fdk_AAC_Init(void) {
    if (g_aac) return;
    g_aac = aac_encoder_open(AAC_SAMPLE_RATE, AAC_CHANNELS, AAC_BIT_RATE);
    printf("AACENC_BITRATEMODE = %d \n", 0);
    printf("fdkaac open   input_size = %d\n", (2 * aac_encoder_frame_length(g_aac) + 4) * 2);
}

int AacEncodePacket(const uint8_t *pucPacket) {
    static uint8_t out[AAC_OUT_BUF_LEN];
    uint64_t ts;
    memcpy(&ts, pucPacket + AAC_PCM_BYTES, sizeof ts);
    const int half_samples = AAC_PCM_BYTES / 2 / (AAC_CHANNELS * 2);
    int appended = 0;
    for (int half = 0; half < 2; half++) {
        // Each half is captured 1024 samples after the one before.
        uint64_t captured = ts + ((uint64_t)half * half_samples * 1000000ull + AAC_SAMPLE_RATE / 2) / AAC_SAMPLE_RATE;
        const int16_t *pcm = reinterpret_cast<const int16_t *>(pucPacket + half * (AAC_PCM_BYTES / 2));
        // The frame that comes out carries older samples than this half: it
        // is stamped with their capture time.
        uint64_t stamp = 0;
        int n = aac_encoder_encode(g_aac, pcm, half_samples, captured, out, sizeof out, &stamp);
        if (n <= 0) continue;  // priming, or an error: nothing to append
        add_frame(&audio_list[0], out, (uint32_t)n, FRAME_TYPE_AUDIO, stamp, 2);
        add_frame(&input_list[1], out, (uint32_t)n, FRAME_TYPE_AUDIO, stamp, 2);
        count(&g_aac_frames);
        appended++;
    }
    return appended;
}

void *FdkAAC_Encode(void *p) {
    (void)p;
    Fdk_AAC_Init();
    for (;;) {
        uint8_t *pkt = nullptr;
        if (BagQueueCheckEmpty(&stAacAudioQueue) || !BagQueueGetData(&stAacAudioQueue, &pkt)) {
            usleep(20 * 1000);
            continue;
        }
        AacEncodePacket(pkt);
    }
    return nullptr;
}
