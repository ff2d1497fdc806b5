// Entry points of the camera 3A service. The service itself (its thread, the
// plug-ins and the algorithms) is not built yet: these start nothing, and
// the agents hand every request on to the ISP driver.
#include "cus3a_entry.h"

extern "C" int CUS3A_Init(unsigned int /*dev*/) { return 0; }
extern "C" int CUS3A_EnableUserspaceAE(unsigned int, unsigned int, int) { return 0; }
extern "C" int CUS3A_EnableUserspaceAWB(unsigned int, unsigned int, int) { return 0; }
extern "C" int CUS3A_EnableUserspaceAF(unsigned int, unsigned int, int) { return 0; }
extern "C" MI_S32 Cus3A_SetIspApiData(MI_ISP_IQApiHeader_t *, void *) { return MI_ISP_API_AGENT_PASS_ON; }
extern "C" MI_S32 Cus3A_GetIspApiData(MI_ISP_IQApiHeader_t *, void *) { return MI_ISP_API_AGENT_PASS_ON; }
