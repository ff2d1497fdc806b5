// Sensor interface: what the module keeps beside its calls.
#pragma once
#include "mi_common_datatype.h"

#ifdef __cplusplus
extern "C" {
#endif
// Successful MI_VIF_CreateDevGroup calls in this process.
MI_U16 mi_vif_group_use_count(void);
#ifdef __cplusplus
}
#endif
