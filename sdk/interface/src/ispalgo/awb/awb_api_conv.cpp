// Conversions between the AWB control ids' records and the AWB's methods.
// None yet: every AWB id answers "not supported".
#include "drv_algo_if.h"

extern "C" DrvAlgo_ConvSlot_t DrvAlgo_IF_AWB_Slot(LX_U32) { return DrvAlgo_ConvSlot_t{nullptr, nullptr}; }
