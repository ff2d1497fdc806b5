// Entry points of the camera 3A service: starting it for an ISP device,
// switching user-space AE, AWB and AF on a channel, the plug-in registry and
// the two IQ-API agents that route tuning requests to the plug-ins.
#pragma once
#include "cus3a_if.h"
#include "mi_isp_iqapi.h"

#ifdef __cplusplus
extern "C" {
#endif
// Starts the device's 3A thread on first use (reference-counted): 0 or the
// thread-creation error.
int CUS3A_Init(unsigned int dev);
// Installs (or with a null pAlgo clears) a plug-in interface: 0, or -1 for a
// device, channel or adaptor out of range.
int CUS3A_RegInterfaceEX(unsigned int eDev, unsigned int eCh, unsigned int eAdaptor, unsigned int eType,
                         void *pAlgo);
int CUS3A_EnableUserspaceAE(unsigned int nDev, unsigned int nCh, int bEn);
int CUS3A_EnableUserspaceAWB(unsigned int nDev, unsigned int nCh, int bEn);
int CUS3A_EnableUserspaceAF(unsigned int nDev, unsigned int nCh, int bEn);
// The plug-in's ctrl result (0 or -1), or -1 when the kind is not running on
// the channel or has no ctrl.
int Cus3A_ProcAeCtrl(unsigned int nDev, unsigned int nCh, unsigned int cmd, void *param);
int Cus3A_ProcAwbCtrl(unsigned int nDev, unsigned int nCh, unsigned int cmd, void *param);
int Cus3A_ProcAfCtrl(unsigned int nDev, unsigned int nCh, unsigned int cmd, void *param);
// The number of the channel's current frame: it counts every frame whose
// statistics were announced, also those whose steps were skipped.
unsigned int Cus3A_FrameNo(unsigned int nDev, unsigned int nCh);
MI_S32 Cus3A_SetIspApiData(MI_ISP_IQApiHeader_t *pCmd, void *pstData);
MI_S32 Cus3A_GetIspApiData(MI_ISP_IQApiHeader_t *pCmd, void *pstData);

// Default plug-ins: fill an interface for a device and channel (0, or -1 out
// of range).
int Velto3AGetAeInterface(unsigned int nDev, unsigned int nCh, ISP_AE_INTERFACE *pAeIf);
int Velto3AGetAwbInterface(unsigned int nDev, unsigned int nCh, ISP_AWB_INTERFACE *pAwbIf);
int Velto3AGetAfInterface(unsigned int nDev, unsigned int nCh, ISP_AF_INTERFACE *pAfIf);
#ifdef __cplusplus
}
#endif
