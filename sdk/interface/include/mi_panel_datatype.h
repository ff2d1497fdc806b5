// LCD panel interface types.
#pragma once
#include "mi_common_datatype.h"

typedef enum {
    E_MI_PNL_INTF_TTL = 0,
    E_MI_PNL_INTF_LVDS = 1,
    E_MI_PNL_INTF_RSDS = 2,
    E_MI_PNL_INTF_MINILVDS = 3,
    E_MI_PNL_INTF_ANALOG_MINILVDS = 4,
    E_MI_PNL_INTF_DIGITAL_MINILVDS = 5,
    E_MI_PNL_INTF_MFC = 6,
    E_MI_PNL_INTF_DAC_I = 7,
    E_MI_PNL_INTF_DAC_P = 8,
    E_MI_PNL_INTF_PDPLVDS = 9,
    E_MI_PNL_INTF_EXT = 10,
    E_MI_PNL_INTF_MIPI_DSI = 11,
    E_MI_PNL_INTF_BT656 = 12,
    E_MI_PNL_INTF_BT601 = 13,
    E_MI_PNL_INTF_BT1120 = 14,
    E_MI_PNL_INTF_MCU_TYPE = 15,
    E_MI_PNL_INTF_SRGB = 16,
    E_MI_PNL_INTF_TTL_SPI_IF = 17,
} MI_PANEL_IntfType_e;
