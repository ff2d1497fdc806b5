// Entry points of the camera 3A service that the ISP module calls when an ISP
// channel is created: start the service for a device, switch user-space AE,
// AWB and AF on for a channel, and the two IQ-API agents.
#pragma once
#include "mi_isp_iqapi.h"

#ifdef __cplusplus
extern "C" {
#endif
int CUS3A_Init(unsigned int dev);
int CUS3A_EnableUserspaceAE(unsigned int nDev, unsigned int nCh, int bEn);
int CUS3A_EnableUserspaceAWB(unsigned int nDev, unsigned int nCh, int bEn);
int CUS3A_EnableUserspaceAF(unsigned int nDev, unsigned int nCh, int bEn);
MI_S32 Cus3A_SetIspApiData(MI_ISP_IQApiHeader_t *pCmd, void *pstData);
MI_S32 Cus3A_GetIspApiData(MI_ISP_IQApiHeader_t *pCmd, void *pstData);
#ifdef __cplusplus
}
#endif
