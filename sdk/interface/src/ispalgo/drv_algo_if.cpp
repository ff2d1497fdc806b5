// Control-id dispatch: find the id for its direction, check the record size,
// check the kind's handle, then hand the record to the kind's conversion.
#include "drv_algo_if.h"

#include <string.h>

#include "cam_os_wrapper.h"
#include "isp_api_records.h"

namespace {

enum : LX_U8 { S = 1, G = 2, SG = 3 };

struct Row {
    LX_U32 id;
    LX_U8 dirs;
    DRVALGO_KIND kind;
    LX_U32 size;
};

constexpr DRVALGO_KIND AE = DRVALGO_KIND_AE, AWB = DRVALGO_KIND_AWB, AF = DRVALGO_KIND_AF;

constexpr Row kRows[] = {
    {0x1401, G, AE, sizeof(MI_ISP_AE_HIST_WEIGHT_Y_TYPE_t)},
    {0x1402, G, AE, sizeof(MI_ISP_AE_EXPO_INFO_TYPE_t)},
    {0x1403, SG, AE, sizeof(MI_ISP_AE_EV_COMP_TYPE_t)},
    {0x1404, SG, AE, sizeof(MI_ISP_AE_MODE_TYPE_e)},
    {0x1405, SG, AE, sizeof(MI_ISP_AE_EXPO_VALUE_TYPE_t)},
    {0x1406, SG, AE, sizeof(MI_ISP_SM_STATE_TYPE_e)},
    {0x1407, SG, AE, sizeof(MI_ISP_AE_INTP_LUT_TYPE_t)},
    {0x1408, SG, AE, sizeof(MI_ISP_AE_CONV_CONDITON_TYPE_t)},
    {0x1409, SG, AE, sizeof(MI_ISP_AE_EXPO_LIMIT_TYPE_t)},
    {0x140A, SG, AE, sizeof(MI_ISP_AE_EXPO_TABLE_TYPE_t)},
    {0x140B, SG, AE, sizeof(MI_ISP_AE_EXPO_TABLE_TYPE_t)},
    {0x140C, SG, AE, sizeof(MI_ISP_AE_WIN_WEIGHT_MODE_TYPE_e)},
    {0x140D, SG, AE, sizeof(MI_ISP_AE_WIN_WEIGHT_TYPE_t)},
    {0x140E, SG, AE, sizeof(MI_ISP_AE_FLICKER_TYPE_e)},
    {0x140F, SG, AE, sizeof(MI_ISP_AE_STRATEGY_TYPE_t)},
    {0x1410, SG, AE, sizeof(MI_ISP_AE_RGBIR_AE_TYPE_t)},
    {0x1411, SG, AE, sizeof(MI_ISP_AE_HDR_TYPE_t)},
    {0x1412, SG, AE, sizeof(MI_ISP_AE_EXPO_VALUE_TYPE_t)},
    {0x1413, SG, AE, sizeof(MI_ISP_AE_FLICKER_EX_TYPE_t)},
    {0x1414, G, AE, sizeof(MI_ISP_AE_FLICKER_EX_INFO_TYPE_t)},
    {0x1415, SG, AE, sizeof(MI_ISP_AE_STABILIZER_TYPE_t)},
    {0x1416, SG, AE, sizeof(MI_ISP_AE_STRATEGY_EX_TYPE_t)},
    {0x1417, G, AE, sizeof(MI_ISP_AE_STRATEGY_EX_INFO_TYPE_t)},
    {0x1418, SG, AE, sizeof(MI_ISP_DAYNIGHT_DETECTION_TYPE_t)},
    {0x1419, G, AE, sizeof(MI_ISP_DAYNIGHT_INFO_TYPE_t)},
    {0x1801, G, AWB, sizeof(MI_ISP_AWB_QUERY_INFO_TYPE_t)},
    {0x1802, SG, AWB, sizeof(MI_ISP_AWB_ATTR_TYPE_t)},
    {0x1803, SG, AWB, sizeof(MI_ISP_AWB_ATTR_EX_TYPE_t)},
    {0x1804, SG, AWB, sizeof(MI_ISP_AWB_MULTILS_LS_TYPE_t)},
    {0x1806, SG, AWB, sizeof(MI_ISP_AWB_CTMWB_PARAM_t)},
    {0x1807, SG, AWB, sizeof(MI_ISP_DAYNIGHT_DETECTION_TYPE_t)},
    {0x1808, G, AWB, sizeof(MI_ISP_DAYNIGHT_INFO_TYPE_t)},
    {0x1809, SG, AWB, sizeof(MI_ISP_AWB_STABILIZER_PARAM_t)},
    {0x1C01, SG, AF, sizeof(MI_ISP_AF_HW_ROI_MODE_TYPE_t)},
    {0x1C02, SG, AF, sizeof(MI_ISP_AF_HW_WIN_TYPE_t)},
    {0x1C03, SG, AF, sizeof(MI_ISP_AF_HW_FILTER_ATTR_TYPE_t)},
    {0x1C04, SG, AF, sizeof(MI_ISP_AF_HW_FILTERSQ_TYPE_t)},
    {0x1C05, SG, AF, sizeof(MI_ISP_AF_HW_YPARAM_TYPE_t)},
    {0x1C06, SG, AF, sizeof(MI_ISP_AF_HW_SOURCE_TYPE_e)},
    {0x1C07, SG, AF, sizeof(MI_ISP_AF_HW_PREFILTER_TYPE_t)},
    {0x1C08, SG, AF, sizeof(MI_ISP_AF_HW_YMAP_TYPE_t)},
    {0x1C09, SG, AF, sizeof(MI_ISP_AF_HW_LDG_TYPE_t)},
    {0x1C29, SG, AF, sizeof(MI_ISP_AF_ATTR_TYPE_t)},
    {0x1C2A, SG, AF, sizeof(MI_ISP_AF_MOTOR_TYPE_t)},
    {0x1C2B, SG, AF, sizeof(MI_ISP_AF_ACC_WEIGHT_TYPE_t)},
    {0x1C2C, SG, AF, sizeof(MI_ISP_AF_ONESHOT_TYPE_t)},
    {0x1C2D, SG, AF, sizeof(MI_ISP_AF_SCENE_CHANGE_TYPE_t)},
    {0x1C2E, SG, AF, sizeof(MI_ISP_AF_SEARCH_START_TYPE_t)},
    {0x1C2F, SG, AF, sizeof(MI_ISP_AF_SEARCH_TYPE_t)},
    {0x240F, S, AWB, 0},  // unit calibration: its length depends on its version
    {0x2C03, SG, AWB, sizeof(MI_ISP_AWB_CT_CALI_TYPE_t)},
    {0x2C04, G, AWB, sizeof(MI_ISP_AWB_CT_STATISTICS_TYPE_t)},
    {0x2C05, G, AWB, sizeof(MI_ISP_AWB_HW_STATISTICS_TYPE_t)},
    {0x2C06, G, AWB, sizeof(MI_ISP_AWB_CUR_CT_CALI_TYPE_t)},
};

const Row *find(LX_U32 id, LX_U32 dir) {
    const LX_U8 want = dir == 0 ? S : G;
    for (const Row &r : kRows)
        if (r.id == id) return (r.dirs & want) ? &r : nullptr;
    return nullptr;
}

LX_S32 dispatch(LX_U32 dir, LX_U32 id, void *hAe, void *hAwb, void *hAf, LX_U32 nSize, void *pData) {
    const char *tag = dir == 0 ? "SET" : "GET";
    const Row *r = find(id, dir);
    if (!r) {
        CamOsPrintf("[ERROR - ISP API %s] Not support - Ctrl ID = %d\n", tag, (int)id);
        return CAMERA_ERROR_API_NOT_SUPPORT;
    }
    if (r->size && nSize != r->size) {
        CamOsPrintf("[ERROR - ISP API SET] Structure mismatch - Ctrl ID = %d \n", (int)id);
        return CAMERA_ERROR_API_STRUCTURE_SIZE_NOT_MATCH;
    }
    void *h = r->kind == AE ? hAe : r->kind == AWB ? hAwb : hAf;
    if (!h) {
        // A missing AF reads as zeros; a set leaves the caller's record alone.
        if (r->kind == AF && dir == 1 && pData) memset(pData, 0, nSize);
        return CAMERA_ERROR_NULL_POINTER;
    }
    if (!pData) return CAMERA_ERROR_EMPTY_VARIABLE;
    const DrvAlgo_ConvSlot_t slot = r->kind == AE    ? DrvAlgo_IF_AE_Slot(id)
                                    : r->kind == AWB ? DrvAlgo_IF_AWB_Slot(id)
                                                     : DrvAlgo_IF_AF_Slot(id);
    const DrvAlgo_Conv_fp fp = dir == 0 ? slot.fpSet : slot.fpGet;
    if (!fp) {
        CamOsPrintf("[ERROR - ISP API %s] Not support - Ctrl ID = %d\n", tag, (int)id);
        return CAMERA_ERROR_API_NOT_SUPPORT;
    }
    return fp(h, nSize, pData);
}

}  // namespace

extern "C" LX_S32 DrvAlgo_IF_Lookup(LX_U32 nCtlID, LX_U32 u32Dir, DRVALGO_KIND *peKind, LX_U32 *pnSize) {
    const Row *r = find(nCtlID, u32Dir);
    if (!r) return -1;
    if (peKind) *peKind = r->kind;
    if (pnSize) *pnSize = r->size;
    return 0;
}

extern "C" LX_S32 DrvAlgo_IF_ApiSet(LX_U32 nCtlID, void *pAEHandle, void *pAWBHandle, void *pAFHandle, void *,
                                   LX_U32 nSize, void *pData) {
    return dispatch(0, nCtlID, pAEHandle, pAWBHandle, pAFHandle, nSize, pData);
}

extern "C" LX_S32 DrvAlgo_IF_ApiGet(LX_U32 nCtlID, void *pAEHandle, void *pAWBHandle, void *pAFHandle, void *,
                                   LX_U32 nSize, void *pData) {
    return dispatch(1, nCtlID, pAEHandle, pAWBHandle, pAFHandle, nSize, pData);
}
