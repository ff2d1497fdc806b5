// The AF control ids go to the AF handle's method slots. None yet: every AF
// id answers "not supported".
#include "drv_algo_if.h"

extern "C" DrvAlgo_ConvSlot_t DrvAlgo_IF_AF_Slot(LX_U32) { return DrvAlgo_ConvSlot_t{nullptr, nullptr}; }
