// Driver interface of the HDMI node: command numbers, payloads and codes.
#pragma once
#include "mi_hdmi_datatype.h"
#include "mi_internal.h"

#define MI_HDMI_ERR(n) ((MI_S32)(0xA00B2000u | (n)))
#define MI_HDMI_ERR_INVALID_DEVID MI_HDMI_ERR(0x01)
#define MI_HDMI_ERR_ILLEGAL_PARAM MI_HDMI_ERR(0x03)
#define MI_HDMI_ERR_NOT_CONFIG MI_HDMI_ERR(0x07)
#define MI_HDMI_ERR_NOMEM MI_HDMI_ERR(0x0C)
#define MI_HDMI_ERR_SYS_NOTREADY MI_HDMI_ERR(0x10)
#define MI_HDMI_ERR_NOT_ENABLE MI_HDMI_ERR(0x17)

typedef enum {
    E_MI_HDMI_CMD_INIT = 0x00,
    E_MI_HDMI_CMD_DEINIT = 0x01,
    E_MI_HDMI_CMD_OPEN = 0x02,
    E_MI_HDMI_CMD_CLOSE = 0x03,
    E_MI_HDMI_CMD_SET_ATTR = 0x04,
    E_MI_HDMI_CMD_GET_ATTR = 0x05,
    E_MI_HDMI_CMD_START = 0x06,
    E_MI_HDMI_CMD_STOP = 0x07,
    E_MI_HDMI_CMD_SET_AV_MUTE = 0x08,
} MI_HDMI_Cmd_e;

typedef struct MI_HDMI_AttrArg_s {
    MI_U32 u32Hdmi;
    MI_HDMI_Attr_t stAttr;
} MI_HDMI_AttrArg_t;

typedef struct MI_HDMI_SetAvMute_s {
    MI_U32 u32Hdmi;
    MI_U32 u32AvMute;  // the boolean widened to 32 bits
} MI_HDMI_SetAvMute_t;

#define MI_HDMI_INIT MI_IO(E_MI_HDMI_CMD_INIT)
#define MI_HDMI_DEINIT MI_IO(E_MI_HDMI_CMD_DEINIT)
#define MI_HDMI_OPEN MI_IOW(E_MI_HDMI_CMD_OPEN, MI_U32)
#define MI_HDMI_CLOSE MI_IOW(E_MI_HDMI_CMD_CLOSE, MI_U32)
#define MI_HDMI_SET_ATTR MI_IOW(E_MI_HDMI_CMD_SET_ATTR, MI_HDMI_AttrArg_t)
#define MI_HDMI_GET_ATTR MI_IOWR(E_MI_HDMI_CMD_GET_ATTR, MI_HDMI_AttrArg_t)
#define MI_HDMI_START MI_IOW(E_MI_HDMI_CMD_START, MI_U32)
#define MI_HDMI_STOP MI_IOW(E_MI_HDMI_CMD_STOP, MI_U32)
#define MI_HDMI_SET_AV_MUTE MI_IOW(E_MI_HDMI_CMD_SET_AV_MUTE, MI_HDMI_SetAvMute_t)

#if defined(__arm__)
static_assert(sizeof(MI_HDMI_AttrArg_t) == 48, "hdmi attr payload");
static_assert(MI_HDMI_INIT == 0x6900 && MI_HDMI_DEINIT == 0x6901, "hdmi codes");
static_assert(MI_HDMI_OPEN == 0x40046902 && MI_HDMI_CLOSE == 0x40046903, "hdmi codes");
static_assert(MI_HDMI_SET_ATTR == 0x40306904 && MI_HDMI_GET_ATTR == 0xc0306905, "hdmi codes");
static_assert(MI_HDMI_START == 0x40046906 && MI_HDMI_STOP == 0x40046907, "hdmi codes");
static_assert(MI_HDMI_SET_AV_MUTE == 0x40086908, "hdmi codes");
#endif
