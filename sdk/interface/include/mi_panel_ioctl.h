// Driver interface of the panel node.
#pragma once
#include "mi_internal.h"
#include "mi_panel_datatype.h"

#define MI_PANEL_ERR(n) ((MI_S32)(0xA0192000u | (n)))
#define MI_PANEL_ERR_ILLEGAL_PARAM MI_PANEL_ERR(0x03)
#define MI_PANEL_ERR_SYS_NOTREADY MI_PANEL_ERR(0x10)

typedef enum {
    E_MI_PANEL_CMD_INIT = 0x00,
    E_MI_PANEL_CMD_DEINIT = 0x01,
} MI_PANEL_Cmd_e;

#define MI_PANEL_INIT MI_IOW(E_MI_PANEL_CMD_INIT, MI_U32)
#define MI_PANEL_DEINIT MI_IO(E_MI_PANEL_CMD_DEINIT)

#if defined(__arm__)
static_assert(MI_PANEL_INIT == 0x40046900 && MI_PANEL_DEINIT == 0x6901, "panel codes");
#endif
