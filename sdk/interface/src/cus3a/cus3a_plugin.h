// The default AE, AWB and AF plug-ins: each adapts the framework's interface
// to one of the algorithms, and AE and AWB load the sensor's IQ file when
// they start.
#pragma once
#include "ae_algo.h"
#include "af_algo.h"
#include "awb_algo.h"
#include "cus3a_if.h"
#include "iq_cfg.h"

typedef struct {
    AeHandle hAe;
    AeOutput_t tAeOutput;
    AEDEBUG_t tAeDbg;
} CusAeInfo_t;

typedef struct {
    AwbHandle hAwb;
    AwbOutput_t tAwbOutput;
    AWBDEBUG_t tAwbDbg;
} CusAwbInfo_t;

typedef struct {
    AfHandle hAf;
    AfOutput_t tAfOutput;
    AFDEBUG_t tAfDbg;
} CusAfInfo_t;

// One per device and channel. The algorithms keep pointers to the records
// they were created with, so those live here too, not on a stack.
typedef struct {
    CusAeInfo_t tCusAeInfo;
    CusAwbInfo_t tCusAwbInfo;
    CusAfInfo_t tCusAfInfo;
    MI_U32 nAeFrameCnt;
    MI_U32 nAwbFrameCnt;
    MI_U32 nDev;
    MI_U32 nCh;
    AeInitParam_t tAeInit;
    AeInput_t tAeInput;
    AwbInput_t tAwbInput;
    AfInitParam_t tAfInit;
    AfInput_t tAfInput;
    MI_U32 nAfFrameNo;  // the framework's frame number of the last AF run
} Cus3A_Priv_Data_t;

#ifdef __cplusplus
extern "C" {
#endif
// "iqfile%d.bin" of the sensor from the ISP root ("/config/iqfile" unless
// the driver names another): 0, or -1 with a null handle.
int LoadIqFile(ISP_DBGBUF_HANDLE *pHandle, int nSensorID);
void FreeIqFile(ISP_DBGBUF_HANDLE *pHandle);

// The plug-in state of a device and channel (null out of range).
Cus3A_Priv_Data_t *Cus3A_PrivData(unsigned int nDev, unsigned int nCh);
#ifdef __cplusplus
}
#endif
