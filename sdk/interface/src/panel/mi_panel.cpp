// LCD panel: interface type in, nothing out; "/dev/mi_panel".
#include "mi_panel.h"
#include "mi_panel_ioctl.h"

MI_S32 MI_PANEL_Init(MI_PANEL_IntfType_e eIntfType) {
    MI_U32 type = (MI_U32)eIntfType;
    return mi_call(MI_DEV_PANEL, MI_PANEL_INIT, &type, sizeof type);
}

MI_S32 MI_PANEL_DeInit(void) { return mi_call(MI_DEV_PANEL, MI_PANEL_DEINIT, nullptr, 0); }
