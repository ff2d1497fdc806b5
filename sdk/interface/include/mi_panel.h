// LCD panel calls ("/dev/mi_panel").
#pragma once
#include "mi_panel_datatype.h"

#ifdef __cplusplus
extern "C" {
#endif

MI_S32 MI_PANEL_Init(MI_PANEL_IntfType_e eIntfType);
MI_S32 MI_PANEL_DeInit(void);

#ifdef __cplusplus
}
#endif
