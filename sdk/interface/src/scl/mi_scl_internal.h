// Scaler: what the module keeps beside its calls.
#pragma once
#include "mi_common_datatype.h"

#ifdef __cplusplus
extern "C" {
#endif
// Successful MI_SCL_CreateDevice calls in this process.
MI_U16 mi_scl_dev_use_count(void);
#ifdef __cplusplus
}
#endif
