// Audio of the recorder: capture from audio-input device 2, loop-back on
// audio-output device 4, AAC-LC encoding into the record and stream lists.
#pragma once
#include <pthread.h>
#include <stdint.h>

#include "bag_queue.h"
#include "mi_aio_datatype.h"

#define AAC_PCM_BYTES 8192             // 2048 stereo 16-bit samples
#define AAC_PACKET_LEN 8200            // PCM, then the 64-bit time stamp
#define AAC_PACKET_NUM 50
#define AAC_OUT_BUF_LEN 20480
#define AO_SEND_WAIT_MS 20             // loop-back wait for room before the frame is dropped
#define AI_RETRY_DELAY_MS 10           // pause after a failed frame fetch

typedef struct {
    MI_AUDIO_DEV AiDevId;
    MI_S32 AiChn;
    MI_S32 s32Fd;
    MI_U32 u32TotalSize;
    MI_U32 u32ChnCnt;
    pthread_t tid;
} AiChnPriv_t;

extern MI_AUDIO_DEV AiDevId;
extern MI_AUDIO_DEV AoDevId;
extern MI_S32 AoChn;
extern AiChnPriv_t stAiChnPriv[16];
extern volatile MI_BOOL bAiExit;
extern volatile uint8_t u8AOInitOk;
extern BagQueue stAacAudioQueue;
extern uint8_t ucAacAudioQueueBuf[AAC_PACKET_LEN * AAC_PACKET_NUM];

// Frames lost on the way, by cause (read by tests and status output).
struct AudioDropCounters {
    uint64_t ao_dropped;      // loop-back frames audio out had no room for
    uint64_t queue_full;      // packets refused by the full AAC ring
    uint64_t get_failed;      // failed frame fetches
    uint64_t aac_frames;      // AAC frames appended to the lists
};
AudioDropCounters audio_drop_counters(void);

MI_S32 initAi(void);
MI_S32 initAo(void);
void *aiGetChnPortBuf(void *data);
void Fdk_AAC_Init(void);
void *FdkAAC_Encode(void *p);

// One captured frame into an 8200-byte packet (PCM of the first buffer, at
// most 8192 bytes, zero-filled behind; the time stamp at byte 8192).
void AacBuildPacket(const MI_AUDIO_Frame_t *pstFrame, uint8_t *pucPacket);
// Encode one packet as two 1024-sample halves and append each AAC frame to
// the record audio list and the stream list, stamped with the capture time of
// the samples it decodes to (the encoder emits a frame behind its input; the
// second half is captured 1024 samples after the first). Returns the AAC
// frames appended.
int AacEncodePacket(const uint8_t *pucPacket);
