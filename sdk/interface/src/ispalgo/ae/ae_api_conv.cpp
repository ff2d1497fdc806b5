// Conversions between the AE control ids' records and the AE's methods. None
// yet: every AE id answers "not supported".
#include "drv_algo_if.h"

extern "C" DrvAlgo_ConvSlot_t DrvAlgo_IF_AE_Slot(LX_U32) { return DrvAlgo_ConvSlot_t{nullptr, nullptr}; }
