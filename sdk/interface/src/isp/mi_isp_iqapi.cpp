// The IQ-API transport, the agent table and the typed calls of the 3A
// service. A request goes first to the agent registered for its device and
// channel; the driver answers when there is none or the agent passes it on.
#include <stdio.h>
#include <string.h>

#include "cus3a_entry.h"
#include "mi_internal.h"
#include "mi_isp.h"

namespace {

enum : unsigned long {
    kSetIQApiData = MI_IOW(0x10, MI_ISP_IoctlIQApiData_t),
    kGetIQApiData = MI_IOW(0x11, MI_ISP_IoctlIQApiData_t),
};
#if defined(__arm__)
static_assert(kSetIQApiData == 0x401c6910);
static_assert(kGetIQApiData == 0x401c6911);
#endif

// Slots are swapped atomically: the 3A thread routes requests while
// application threads create channels (and so register agents).
MI_ISP_ApiAgent_fp fpSetIspApiData[MI_ISP_AGENT_MAX_DEV][MI_ISP_AGENT_MAX_CHN];
MI_ISP_ApiAgent_fp fpGetIspApiData[MI_ISP_AGENT_MAX_DEV][MI_ISP_AGENT_MAX_CHN];

MI_S32 send_iqapi(unsigned long code, MI_ISP_IQApiHeader_t *hdr, void *data) {
    MI_ISP_IoctlIQApiData_t a;
    memset(&a, 0, sizeof a);
    a.stIQApiDataHeader = *hdr;
    a.pVirData = data;
    return mi_call(MI_DEV_ISP, code, &a, sizeof a);
}

MI_ISP_ApiAgent_fp agent_for(MI_ISP_ApiAgent_fp (&table)[MI_ISP_AGENT_MAX_DEV][MI_ISP_AGENT_MAX_CHN],
                             const MI_ISP_IQApiHeader_t *hdr) {
    // A header naming a device or channel outside the table has no agent.
    if (hdr->u32DevId >= MI_ISP_AGENT_MAX_DEV || hdr->u32Channel >= MI_ISP_AGENT_MAX_CHN) return nullptr;
    return __atomic_load_n(&table[hdr->u32DevId][hdr->u32Channel], __ATOMIC_ACQUIRE);
}

MI_S32 route_set(MI_ISP_IQApiHeader_t *hdr, void *data) {
    if (MI_ISP_ApiAgent_fp agent = agent_for(fpSetIspApiData, hdr)) {
        MI_S32 ret = agent(hdr, data);
        if (ret != MI_ISP_API_AGENT_PASS_ON) return ret;
    }
    return MI_ISP_SetIQApiData(hdr, data);
}

MI_S32 route_get(MI_ISP_IQApiHeader_t *hdr, void *data) {
    if (MI_ISP_ApiAgent_fp agent = agent_for(fpGetIspApiData, hdr)) {
        MI_S32 ret = agent(hdr, data);
        if (ret != MI_ISP_API_AGENT_PASS_ON) return ret;
    }
    return MI_ISP_GetIQApiData(hdr, data);
}

MI_ISP_IQApiHeader_t make_header(MI_U32 dev, MI_U32 chn, MI_U32 cid, MI_U32 len) {
    MI_ISP_IQApiHeader_t h;
    h.u32HeadSize = MI_ISP_IQAPI_HEAD_SIZE;
    h.u32DataLen = len;
    h.u32CtrlID = cid;
    h.u32Channel = chn;
    h.u32DevId = dev;
    h.s32Ret = 0;
    return h;
}

template <typename T>
MI_S32 typed_get(MI_U32 dev, MI_U32 chn, MI_U32 cid, T *data) {
    MI_ISP_IQApiHeader_t h = make_header(dev, chn, cid, sizeof(T));
    return route_get(&h, data);
}

template <typename T>
MI_S32 typed_set(MI_U32 dev, MI_U32 chn, MI_U32 cid, T *data) {
    MI_ISP_IQApiHeader_t h = make_header(dev, chn, cid, sizeof(T));
    return route_set(&h, data);
}

}  // namespace

extern "C" MI_S32 MI_ISP_SetIQApiData(MI_ISP_IQApiHeader_t *pstIspDataHeader, void *pVirData) {
    return send_iqapi(kSetIQApiData, pstIspDataHeader, pVirData);
}

extern "C" MI_S32 MI_ISP_GetIQApiData(MI_ISP_IQApiHeader_t *pstIspDataHeader, void *pVirData) {
    return send_iqapi(kGetIQApiData, pstIspDataHeader, pVirData);
}

extern "C" MI_S32 MI_ISP_RegisterIspApiAgent(MI_U32 Dev, MI_U32 Channel, MI_ISP_ApiAgent_fp fpApiSet,
                                             MI_ISP_ApiAgent_fp fpApiGet) {
    if (Channel >= MI_ISP_AGENT_MAX_CHN) {
        printf("[%s] error , Channel %d out of range.\n", __func__, (int)Channel);
        return 6;
    }
    // The table has two devices; a larger number would write past it.
    if (Dev >= MI_ISP_AGENT_MAX_DEV) {
        printf("[%s] error , Dev %d out of range.\n", __func__, (int)Dev);
        return 6;
    }
    __atomic_store_n(&fpSetIspApiData[Dev][Channel], fpApiSet, __ATOMIC_RELEASE);
    __atomic_store_n(&fpGetIspApiData[Dev][Channel], fpApiGet, __ATOMIC_RELEASE);
    return 0;
}

extern "C" MI_S32 _MI_ISP_SetIspApiData(MI_ISP_IQApiHeader_t *pstHeader, void *pData) {
    return route_set(pstHeader, pData);
}

extern "C" MI_S32 _MI_ISP_GetIspApiData(MI_ISP_IQApiHeader_t *pstHeader, void *pData) {
    return route_get(pstHeader, pData);
}

extern "C" MI_S32 MI_ISP_EnableUserspace3A(MI_U32 Dev, MI_U32 Channel) {
    CUS3A_Init(Dev);
    CUS3A_EnableUserspaceAE(Dev, Channel, 1);
    CUS3A_EnableUserspaceAWB(Dev, Channel, 1);
    CUS3A_EnableUserspaceAF(Dev, Channel, 1);
    MI_ISP_RegisterIspApiAgent(Dev, Channel, Cus3A_SetIspApiData, Cus3A_GetIspApiData);
    return 0;
}

#define MI_ISP_TYPED_GET(name, cid, T) \
    extern "C" MI_S32 name(MI_U32 DevId, MI_U32 Channel, T *data) { return typed_get(DevId, Channel, cid, data); }
#define MI_ISP_TYPED_SET(name, cid, T) \
    extern "C" MI_S32 name(MI_U32 DevId, MI_U32 Channel, T *data) { return typed_set(DevId, Channel, cid, data); }

MI_ISP_TYPED_GET(MI_ISP_AE_GetAeHwAvgStats, MI_ISP_CID_AE_HW_AVG_STATS, MI_ISP_AE_HW_STATISTICS_t)
MI_ISP_TYPED_GET(MI_ISP_AE_GetHisto0HwStats, MI_ISP_CID_AE_HISTO0_STATS, MI_ISP_HISTO_HW_STATISTICS_t)
MI_ISP_TYPED_GET(MI_ISP_AE_GetHisto1HwStats, MI_ISP_CID_AE_HISTO1_STATS, MI_ISP_HISTO_HW_STATISTICS_t)
MI_ISP_TYPED_GET(MI_ISP_CUS3A_GetAeInitStatus, MI_ISP_CID_AE_INIT_STATUS, CusAEInitParam_t)
MI_ISP_TYPED_GET(MI_ISP_CUS3A_GetAeStatus, MI_ISP_CID_AE_STATUS, CusAEInfo_t)
MI_ISP_TYPED_SET(MI_ISP_CUS3A_SetAeParam, MI_ISP_CID_AE_PARAM, CusAEResult_t)
MI_ISP_TYPED_GET(MI_ISP_AWB_GetAwbHwAvgStats, MI_ISP_CID_AWB_HW_AVG_STATS, MI_ISP_AWB_HW_STATISTICS_t)
MI_ISP_TYPED_GET(MI_ISP_CUS3A_GetAwbStatus, MI_ISP_CID_AWB_STATUS, CusAWBInfo_t)
MI_ISP_TYPED_SET(MI_ISP_CUS3A_SetAwbParam, MI_ISP_CID_AWB_PARAM, CusAWBResult_t)
MI_ISP_TYPED_GET(MI_ISP_CUS3A_GetAFStats, MI_ISP_CID_AF_STATS, CusAFStats_t)
MI_ISP_TYPED_SET(MI_ISP_CUS3A_SetAFFilter_Geo, MI_ISP_CID_AF_FILTER, CusAFFilter_Geo_t)
MI_ISP_TYPED_SET(MI_ISP_CUS3A_SetAFRoiMode, MI_ISP_CID_AF_ROI_MODE, CusAFRoiMode_t)
MI_ISP_TYPED_GET(MI_ISP_AWB_GetAwbHwAvgStatsShort, MI_ISP_CID_AWB_HW_AVG_STATS_SHORT, MI_ISP_AWB_HW_STATISTICS_t)
MI_ISP_TYPED_GET(MI_ISP_AE_GetRgbIrHistoHwStats, MI_ISP_CID_AE_RGBIR_HISTO_STATS, MI_ISP_RGBIR_HISTO_HW_STATISTICS_t)
MI_ISP_TYPED_GET(MI_ISP_CUS3A_GetAfStatus, MI_ISP_CID_AF_STATUS, CusAFInfo_t)
MI_ISP_TYPED_SET(MI_ISP_CUS3A_SetAfParam, MI_ISP_CID_AF_PARAM, CusAfResult_t)
MI_ISP_TYPED_SET(MI_ISP_CUS3A_SetAFYParam, MI_ISP_CID_AF_YPARAM, CusAFYParam_t)
MI_ISP_TYPED_SET(MI_ISP_CUS3A_SetAFSource, MI_ISP_CID_AF_SOURCE, CusAFSource_e)
MI_ISP_TYPED_SET(MI_ISP_CUS3A_SetAFPreFilter, MI_ISP_CID_AF_PREFILTER, CusAFPreFilter_t)
MI_ISP_TYPED_SET(MI_ISP_CUS3A_SetAFYMap, MI_ISP_CID_AF_YMAP, CusAFYMap_t)
MI_ISP_TYPED_SET(MI_ISP_CUS3A_SetAFLdg, MI_ISP_CID_AF_LDG, CusAFLdg_t)
MI_ISP_TYPED_GET(MI_ISP_GetIspRoot, MI_ISP_CID_ISP_ROOT, MI_ISP_ROOT_PATH_T)

extern "C" MI_S32 MI_ISP_CUS3A_Enable(MI_U32 DevId, MI_U32 Channel, Cus3AEnable_t *data) {
    printf("[%s] AE = %d, AWB = %d, AF = %d\n", __func__, data->bAE, data->bAWB, data->bAF);
    return typed_set(DevId, Channel, MI_ISP_CID_CUS3A_ENABLE, data);
}

extern "C" MI_S32 MI_ISP_CUS3A_SetAFWindow(MI_U32 DevId, MI_U32 Channel, CusAFWin_t *data) {
    // Field by field: the three alignment bytes after the index go out as 0.
    CusAFWin_t w;
    memset(&w, 0, sizeof w);
    w.u8WindowIndex = data->u8WindowIndex;
    w.stParaAPI = data->stParaAPI;
    MI_ISP_IQApiHeader_t h = make_header(DevId, Channel, MI_ISP_CID_AF_WINDOW, sizeof w);
    MI_S32 ret = route_set(&h, &w);
    return ret;
}

extern "C" MI_S32 MI_ISP_CUS3A_SetAFFilterSq(MI_U32 DevId, MI_U32 Channel, CusAFFilterSq_t *data) {
    CusAFFilterSq_t sq;
    memset(&sq, 0, sizeof sq);
    sq.bSobelYSatEn = data->bSobelYSatEn;
    sq.u16SobelYThd = data->u16SobelYThd;
    sq.bIIRSquareAccEn = data->bIIRSquareAccEn;
    sq.bSobelSquareAccEn = data->bSobelSquareAccEn;
    sq.u16IIR1Thd = data->u16IIR1Thd;
    sq.u16IIR2Thd = data->u16IIR2Thd;
    sq.u16SobelHThd = data->u16SobelHThd;
    sq.u16SobelVThd = data->u16SobelVThd;
    memcpy(sq.u8AFTblX, data->u8AFTblX, sizeof sq.u8AFTblX);
    memcpy(sq.u16AFTblY, data->u16AFTblY, sizeof sq.u16AFTblY);
    return typed_set(DevId, Channel, MI_ISP_CID_AF_FILTER_SQ, &sq);
}

extern "C" MI_S32 MI_ISP_CUS3A_SetAFFilter(MI_U32 DevId, MI_U32 Channel, CusAFFilter_t *data) {
    // The 42 coefficients lead the 70 of the wider record; the rest go out as 0.
    CusAFFilter_Geo_t geo;
    memset(&geo, 0, sizeof geo);
    static_assert(sizeof(CusAFFilter_t) <= sizeof geo.u16Coeff);
    memcpy(geo.u16Coeff, data, sizeof(CusAFFilter_t));
    return MI_ISP_CUS3A_SetAFFilter_Geo(DevId, Channel, &geo);
}
