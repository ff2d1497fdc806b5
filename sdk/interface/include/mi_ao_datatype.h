// Audio-output driver interface: command numbers, request payloads and codes.
#pragma once
#include <linux/ioctl.h>

#include "mi_aio_datatype.h"

#define MI_AO_ERR(n) ((MI_S32)(0xA0052000u | (n)))

typedef enum {
    E_MI_AO_CMD_SET_PUB_ATTR = 0,
    E_MI_AO_CMD_GET_PUB_ATTR = 1,
    E_MI_AO_CMD_ENABLE = 2,
    E_MI_AO_CMD_DISABLE = 3,
    E_MI_AO_CMD_ENABLE_CHN = 4,
    E_MI_AO_CMD_DISABLE_CHN = 5,
    E_MI_AO_CMD_SEND_FRAME = 6,
    E_MI_AO_CMD_PAUSE_DEV = 7,
    E_MI_AO_CMD_RESUME_DEV = 8,
    E_MI_AO_CMD_CLEAR_CHN_BUF = 9,
    E_MI_AO_CMD_QUERY_CHN_STAT = 10,
    E_MI_AO_CMD_SET_VOLUME = 11,
    E_MI_AO_CMD_GET_VOLUME = 12,
    E_MI_AO_CMD_SET_MUTE = 13,
    E_MI_AO_CMD_GET_MUTE = 14,
    E_MI_AO_CMD_CLR_PUB_ATTR = 15,
    E_MI_AO_CMD_UPDATE_QUEUE_STATUS = 16,
    E_MI_AO_CMD_GET_AO_START_PTS = 17,
    E_MI_AO_CMD_READ_AO_DATA = 18,
    E_MI_AO_CMD_LSEEK_AO_DATA = 19,
    E_MI_AO_CMD_INIT = 20,
    E_MI_AO_CMD_DEINIT = 21,
    E_MI_AO_CMD_SET_CHN_PARAM = 22,
    E_MI_AO_CMD_GET_CHN_PARAM = 23,
    E_MI_AO_CMD_SET_SRC_GAIN = 24,
    E_MI_AO_CMD_GET_CHIP_DEV_NUM = 25,
    E_MI_AO_CMD_SET_DEV_MMA_BUF = 26,
    E_MI_AO_CMD_MAX = 27,
} MI_AO_Cmd_e;

typedef struct MI_AO_ChnState_s {
    MI_U32 u32ChnTotalNum;  // DMA buffer size in bytes
    MI_U32 u32ChnFreeNum;   // free bytes in it
    MI_U32 u32ChnBusyNum;   // bytes waiting to be played
} MI_AO_ChnState_t;

typedef struct MI_AO_GetChipDevNum_s {
    MI_U8 u8ChipDevNum;
} MI_AO_GetChipDevNum_t;

typedef struct MI_AO_SetPubAttr_s {
    MI_AUDIO_DEV AoDevId;
    MI_AUDIO_Attr_t stPubAttr;
} MI_AO_SetPubAttr_t;

typedef struct MI_AO_GetPubAttr_s {
    MI_AUDIO_DEV AoDevId;
    MI_AUDIO_Attr_t stPubAttr;
} MI_AO_GetPubAttr_t;

typedef struct MI_AO_EnableChn_s {
    MI_AUDIO_DEV AoDevId;
    MI_AO_CHN AoChn;
} MI_AO_EnableChn_t;

typedef struct MI_AO_DisableChn_s {
    MI_AUDIO_DEV AoDevId;
    MI_AO_CHN AoChn;
} MI_AO_DisableChn_t;

typedef struct MI_AO_SendFrame_s {
    MI_AUDIO_DEV AoDevId;
    MI_AO_CHN AoChn;
    MI_AUDIO_Frame_t stData;
    MI_S32 s32MilliSec;
} MI_AO_SendFrame_t;

typedef struct MI_AO_QueryChnStat_s {
    MI_AUDIO_DEV AoDevId;
    MI_AO_CHN AoChn;
    MI_AO_ChnState_t stStatus;
} MI_AO_QueryChnStat_t;

typedef struct MI_AO_QueueStatus_s {
    MI_AUDIO_DEV AoDevId;
    MI_AO_CHN AoChn;
    MI_S32 s32Max;
    MI_S32 s32Size;
    MI_U64 u64RunTime;
    MI_U64 u64GetTotalSize;
} MI_AO_QueueStatus_t;

#define MI_AO_IOC(dir, nr, T) _IOC((dir), 'i', (nr), sizeof(T))
#define MI_AO_GET_CHIP_DEV_NUM MI_AO_IOC(_IOC_READ | _IOC_WRITE, E_MI_AO_CMD_GET_CHIP_DEV_NUM, MI_AO_GetChipDevNum_t)
#define MI_AO_SET_PUB_ATTR MI_AO_IOC(_IOC_WRITE, E_MI_AO_CMD_SET_PUB_ATTR, MI_AO_SetPubAttr_t)
#define MI_AO_GET_PUB_ATTR MI_AO_IOC(_IOC_READ | _IOC_WRITE, E_MI_AO_CMD_GET_PUB_ATTR, MI_AO_GetPubAttr_t)
#define MI_AO_ENABLE MI_AO_IOC(_IOC_WRITE, E_MI_AO_CMD_ENABLE, MI_AUDIO_DEV)
#define MI_AO_ENABLE_CHN MI_AO_IOC(_IOC_WRITE, E_MI_AO_CMD_ENABLE_CHN, MI_AO_EnableChn_t)
#define MI_AO_DISABLE_CHN MI_AO_IOC(_IOC_WRITE, E_MI_AO_CMD_DISABLE_CHN, MI_AO_DisableChn_t)
#define MI_AO_SEND_FRAME MI_AO_IOC(_IOC_WRITE, E_MI_AO_CMD_SEND_FRAME, MI_AO_SendFrame_t)
#define MI_AO_QUERY_CHN_STAT MI_AO_IOC(_IOC_READ | _IOC_WRITE, E_MI_AO_CMD_QUERY_CHN_STAT, MI_AO_QueryChnStat_t)
#define MI_AO_UPDATE_QUEUE_STATUS MI_AO_IOC(_IOC_WRITE, E_MI_AO_CMD_UPDATE_QUEUE_STATUS, MI_AO_QueueStatus_t)

#if defined(__arm__)
static_assert(sizeof(MI_AO_ChnState_t) == 12, "MI_AO_ChnState_t layout");
static_assert(sizeof(MI_AO_SendFrame_t) == 304, "MI_AO_SendFrame_t layout");
static_assert(sizeof(MI_AO_QueryChnStat_t) == 20, "MI_AO_QueryChnStat_t layout");
static_assert(sizeof(MI_AO_QueueStatus_t) == 32, "MI_AO_QueueStatus_t layout");
static_assert(MI_AO_GET_CHIP_DEV_NUM == 0xC0016919, "GET_CHIP_DEV_NUM code");
static_assert(MI_AO_SET_PUB_ATTR == 0x40386900, "SET_PUB_ATTR code");
static_assert(MI_AO_GET_PUB_ATTR == 0xC0386901, "GET_PUB_ATTR code");
static_assert(MI_AO_ENABLE == 0x40046902, "ENABLE code");
static_assert(MI_AO_ENABLE_CHN == 0x40086904, "ENABLE_CHN code");
static_assert(MI_AO_DISABLE_CHN == 0x40086905, "DISABLE_CHN code");
static_assert(MI_AO_SEND_FRAME == 0x41306906, "SEND_FRAME code");
static_assert(MI_AO_QUERY_CHN_STAT == 0xC014690A, "QUERY_CHN_STAT code");
static_assert(MI_AO_UPDATE_QUEUE_STATUS == 0x40206910, "UPDATE_QUEUE_STATUS code");
#endif
