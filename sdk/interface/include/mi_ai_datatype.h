// Audio-input driver interface: command numbers, request payloads and codes.
#pragma once
#include <linux/ioctl.h>

#include "mi_aio_datatype.h"

#define MI_AI_ERR(n) ((MI_S32)(0xA0042000u | (n)))

typedef enum {
    E_MI_AI_CMD_SET_PUB_ATTR = 0,
    E_MI_AI_CMD_GET_PUB_ATTR = 1,
    E_MI_AI_CMD_ENABLE = 2,
    E_MI_AI_CMD_DISABLE = 3,
    E_MI_AI_CMD_ENABLE_CHN = 4,
    E_MI_AI_CMD_DISABLE_CHN = 5,
    E_MI_AI_CMD_SET_CHN_PARAM = 6,
    E_MI_AI_CMD_GET_CHN_PARAM = 7,
    E_MI_AI_CMD_CLR_PUB_ATTR = 8,
    E_MI_AI_CMD_SET_VQE_VOLUME = 9,
    E_MI_AI_CMD_GET_VQE_VOLUME = 10,
    E_MI_AI_CMD_INIT = 11,
    E_MI_AI_CMD_DEINIT = 12,
    E_MI_AI_CMD_SET_EXT_AEC_CHN = 13,
    E_MI_AI_CMD_GET_CHIP_DEV_NUM = 14,
    E_MI_AI_CMD_MUTE_CHN = 15,
    E_MI_AI_CMD_GET_CHN_MUTE_STATUS = 16,
    E_MI_AI_CMD_GET_CHN_DATA_INFO = 17,
    E_MI_AI_CMD_MAX = 18,
} MI_AI_Cmd_e;

typedef struct MI_AI_GetChipDevNum_s {
    MI_U8 u8ChipDevNum;
} MI_AI_GetChipDevNum_t;

typedef struct MI_AI_SetPubAttr_s {
    MI_AUDIO_DEV AiDevId;
    MI_AUDIO_Attr_t stAttr;
} MI_AI_SetPubAttr_t;

typedef struct MI_AI_GetPubAttr_s {
    MI_AUDIO_DEV AiDevId;
    MI_AUDIO_Attr_t stAttr;
} MI_AI_GetPubAttr_t;

typedef struct MI_AI_EnableChn_s {
    MI_AUDIO_DEV AiDevId;
    MI_AI_CHN AiChn;
} MI_AI_EnableChn_t;

typedef struct MI_AI_GetChnMuteStatus_s {
    MI_AUDIO_DEV AiDevId;
    MI_AI_CHN AiChn;
    MI_BOOL bMute;
} MI_AI_GetChnMuteStatus_t;

typedef struct MI_AI_GetChnDataInfo_s {
    MI_AUDIO_DEV AiDevId;
    MI_AI_CHN AiChn;
    MI_U32 u32MicDataChnCnt;
    MI_U32 u32SrcDataChnCnt;
} MI_AI_GetChnDataInfo_t;

#define MI_AI_IOC(dir, nr, T) _IOC((dir), 'i', (nr), sizeof(T))
#define MI_AI_GET_CHIP_DEV_NUM MI_AI_IOC(_IOC_READ | _IOC_WRITE, E_MI_AI_CMD_GET_CHIP_DEV_NUM, MI_AI_GetChipDevNum_t)
#define MI_AI_SET_PUB_ATTR MI_AI_IOC(_IOC_WRITE, E_MI_AI_CMD_SET_PUB_ATTR, MI_AI_SetPubAttr_t)
#define MI_AI_GET_PUB_ATTR MI_AI_IOC(_IOC_READ | _IOC_WRITE, E_MI_AI_CMD_GET_PUB_ATTR, MI_AI_GetPubAttr_t)
#define MI_AI_ENABLE MI_AI_IOC(_IOC_WRITE, E_MI_AI_CMD_ENABLE, MI_AUDIO_DEV)
#define MI_AI_ENABLE_CHN MI_AI_IOC(_IOC_WRITE, E_MI_AI_CMD_ENABLE_CHN, MI_AI_EnableChn_t)
#define MI_AI_GET_CHN_MUTE_STATUS \
    MI_AI_IOC(_IOC_READ | _IOC_WRITE, E_MI_AI_CMD_GET_CHN_MUTE_STATUS, MI_AI_GetChnMuteStatus_t)
#define MI_AI_GET_CHN_DATA_INFO \
    MI_AI_IOC(_IOC_READ | _IOC_WRITE, E_MI_AI_CMD_GET_CHN_DATA_INFO, MI_AI_GetChnDataInfo_t)

#if defined(__arm__)
static_assert(sizeof(MI_AI_SetPubAttr_t) == 56, "MI_AI_SetPubAttr_t layout");
static_assert(sizeof(MI_AI_GetChnMuteStatus_t) == 12, "MI_AI_GetChnMuteStatus_t layout");
static_assert(sizeof(MI_AI_GetChnDataInfo_t) == 16, "MI_AI_GetChnDataInfo_t layout");
static_assert(MI_AI_GET_CHIP_DEV_NUM == 0xC001690E, "GET_CHIP_DEV_NUM code");
static_assert(MI_AI_SET_PUB_ATTR == 0x40386900, "SET_PUB_ATTR code");
static_assert(MI_AI_GET_PUB_ATTR == 0xC0386901, "GET_PUB_ATTR code");
static_assert(MI_AI_ENABLE == 0x40046902, "ENABLE code");
static_assert(MI_AI_ENABLE_CHN == 0x40086904, "ENABLE_CHN code");
static_assert(MI_AI_GET_CHN_MUTE_STATUS == 0xC00C6910, "GET_CHN_MUTE_STATUS code");
static_assert(MI_AI_GET_CHN_DATA_INFO == 0xC0106911, "GET_CHN_DATA_INFO code");
#endif
