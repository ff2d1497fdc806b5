// The ISP's IQ-API: one generic request (a 24-byte header plus a pointer to
// the caller's data record), the per device and channel agents that may
// answer a request before the driver does, and the typed calls of the 3A
// service.
#pragma once
#include "mi_common_datatype.h"
#include "mi_isp_3a_datatype.h"

#define MI_ISP_IQAPI_HEAD_SIZE 24
// An agent that returns this declines the request; the driver answers it.
#define MI_ISP_API_AGENT_PASS_ON ((MI_S32)0xA0078008)
#define MI_ISP_AGENT_MAX_DEV 2
#define MI_ISP_AGENT_MAX_CHN 16

typedef struct MI_ISP_IQApiHeader_s {
    MI_U32 u32HeadSize;
    MI_U32 u32DataLen;
    MI_U32 u32CtrlID;
    MI_U32 u32Channel;
    MI_U32 u32DevId;
    MI_S32 s32Ret;
} MI_ISP_IQApiHeader_t;

typedef struct MI_ISP_IoctlIQApiData_s {
    MI_ISP_IQApiHeader_t stIQApiDataHeader;
    void *pVirData;
} MI_ISP_IoctlIQApiData_t;

typedef MI_S32 (*MI_ISP_ApiAgent_fp)(MI_ISP_IQApiHeader_t *pstHeader, void *pData);

// Control ids of the typed calls.
enum {
    MI_ISP_CID_AE_HW_AVG_STATS = 0x2E01,
    MI_ISP_CID_AE_HISTO0_STATS = 0x2E02,
    MI_ISP_CID_AE_HISTO1_STATS = 0x2E03,
    MI_ISP_CID_AE_INIT_STATUS = 0x2E04,
    MI_ISP_CID_AE_STATUS = 0x2E05,
    MI_ISP_CID_AE_PARAM = 0x2E06,
    MI_ISP_CID_AWB_HW_AVG_STATS = 0x2E07,
    MI_ISP_CID_CUS3A_ENABLE = 0x2E08,
    MI_ISP_CID_AWB_STATUS = 0x2E09,
    MI_ISP_CID_AWB_PARAM = 0x2E0A,
    MI_ISP_CID_AF_STATS = 0x2E0D,
    MI_ISP_CID_AF_WINDOW = 0x2E0E,
    MI_ISP_CID_AF_FILTER = 0x2E0F,
    MI_ISP_CID_AF_FILTER_SQ = 0x2E10,
    MI_ISP_CID_AF_ROI_MODE = 0x2E11,
    MI_ISP_CID_AWB_HW_AVG_STATS_SHORT = 0x2E19,
    MI_ISP_CID_AE_RGBIR_HISTO_STATS = 0x2E1E,
    MI_ISP_CID_AF_STATUS = 0x2E20,
    MI_ISP_CID_AF_PARAM = 0x2E21,
    MI_ISP_CID_AF_YPARAM = 0x2E24,
    MI_ISP_CID_AF_SOURCE = 0x2E25,
    MI_ISP_CID_AF_PREFILTER = 0x2E26,
    MI_ISP_CID_AF_YMAP = 0x2E27,
    MI_ISP_CID_AF_LDG = 0x2E28,
    MI_ISP_CID_ISP_ROOT = 0x66,
};

#ifdef __cplusplus
extern "C" {
#endif

// Transport to the driver.
MI_S32 MI_ISP_SetIQApiData(MI_ISP_IQApiHeader_t *pstIspDataHeader, void *pVirData);
MI_S32 MI_ISP_GetIQApiData(MI_ISP_IQApiHeader_t *pstIspDataHeader, void *pVirData);

// Agents: [Dev][Channel]; a null agent removes the slot's agent.
MI_S32 MI_ISP_RegisterIspApiAgent(MI_U32 Dev, MI_U32 Channel, MI_ISP_ApiAgent_fp fpApiSet,
                                  MI_ISP_ApiAgent_fp fpApiGet);
MI_S32 _MI_ISP_SetIspApiData(MI_ISP_IQApiHeader_t *pstHeader, void *pData);
MI_S32 _MI_ISP_GetIspApiData(MI_ISP_IQApiHeader_t *pstHeader, void *pData);

// Installs the user-space 3A service on a channel (called by MI_ISP_CreateChannel).
MI_S32 MI_ISP_EnableUserspace3A(MI_U32 Dev, MI_U32 Channel);

MI_S32 MI_ISP_AE_GetAeHwAvgStats(MI_U32 DevId, MI_U32 Channel, MI_ISP_AE_HW_STATISTICS_t *data);
MI_S32 MI_ISP_AE_GetHisto0HwStats(MI_U32 DevId, MI_U32 Channel, MI_ISP_HISTO_HW_STATISTICS_t *data);
MI_S32 MI_ISP_AE_GetHisto1HwStats(MI_U32 DevId, MI_U32 Channel, MI_ISP_HISTO_HW_STATISTICS_t *data);
MI_S32 MI_ISP_CUS3A_GetAeInitStatus(MI_U32 DevId, MI_U32 Channel, CusAEInitParam_t *data);
MI_S32 MI_ISP_CUS3A_GetAeStatus(MI_U32 DevId, MI_U32 Channel, CusAEInfo_t *data);
MI_S32 MI_ISP_CUS3A_SetAeParam(MI_U32 DevId, MI_U32 Channel, CusAEResult_t *data);
MI_S32 MI_ISP_AWB_GetAwbHwAvgStats(MI_U32 DevId, MI_U32 Channel, MI_ISP_AWB_HW_STATISTICS_t *data);
MI_S32 MI_ISP_CUS3A_Enable(MI_U32 DevId, MI_U32 Channel, Cus3AEnable_t *data);
MI_S32 MI_ISP_CUS3A_GetAwbStatus(MI_U32 DevId, MI_U32 Channel, CusAWBInfo_t *data);
MI_S32 MI_ISP_CUS3A_SetAwbParam(MI_U32 DevId, MI_U32 Channel, CusAWBResult_t *data);
MI_S32 MI_ISP_CUS3A_GetAFStats(MI_U32 DevId, MI_U32 Channel, CusAFStats_t *data);
MI_S32 MI_ISP_CUS3A_SetAFWindow(MI_U32 DevId, MI_U32 Channel, CusAFWin_t *data);
MI_S32 MI_ISP_CUS3A_SetAFFilter_Geo(MI_U32 DevId, MI_U32 Channel, CusAFFilter_Geo_t *data);
MI_S32 MI_ISP_CUS3A_SetAFFilter(MI_U32 DevId, MI_U32 Channel, CusAFFilter_t *data);
MI_S32 MI_ISP_CUS3A_SetAFFilterSq(MI_U32 DevId, MI_U32 Channel, CusAFFilterSq_t *data);
MI_S32 MI_ISP_CUS3A_SetAFRoiMode(MI_U32 DevId, MI_U32 Channel, CusAFRoiMode_t *data);
MI_S32 MI_ISP_AWB_GetAwbHwAvgStatsShort(MI_U32 DevId, MI_U32 Channel, MI_ISP_AWB_HW_STATISTICS_t *data);
MI_S32 MI_ISP_AE_GetRgbIrHistoHwStats(MI_U32 DevId, MI_U32 Channel, MI_ISP_RGBIR_HISTO_HW_STATISTICS_t *data);
MI_S32 MI_ISP_CUS3A_GetAfStatus(MI_U32 DevId, MI_U32 Channel, CusAFInfo_t *data);
MI_S32 MI_ISP_CUS3A_SetAfParam(MI_U32 DevId, MI_U32 Channel, CusAfResult_t *data);
MI_S32 MI_ISP_CUS3A_SetAFYParam(MI_U32 DevId, MI_U32 Channel, CusAFYParam_t *data);
MI_S32 MI_ISP_CUS3A_SetAFSource(MI_U32 DevId, MI_U32 Channel, CusAFSource_e *data);
MI_S32 MI_ISP_CUS3A_SetAFPreFilter(MI_U32 DevId, MI_U32 Channel, CusAFPreFilter_t *data);
MI_S32 MI_ISP_CUS3A_SetAFYMap(MI_U32 DevId, MI_U32 Channel, CusAFYMap_t *data);
MI_S32 MI_ISP_CUS3A_SetAFLdg(MI_U32 DevId, MI_U32 Channel, CusAFLdg_t *data);
MI_S32 MI_ISP_GetIspRoot(MI_U32 DevId, MI_U32 Channel, MI_ISP_ROOT_PATH_T *data);

#ifdef __cplusplus
}
#endif

#if defined(__arm__)
static_assert(sizeof(MI_ISP_IQApiHeader_t) == 24, "MI_ISP_IQApiHeader_t layout");
static_assert(sizeof(MI_ISP_IoctlIQApiData_t) == 28, "MI_ISP_IoctlIQApiData_t layout");
#endif
static_assert(sizeof(MI_ISP_IQApiHeader_t) == 24, "MI_ISP_IQApiHeader_t is 24 bytes everywhere");
