// The AF control ids go straight to the AF handle's method slots: the public
// records are the handle's own user-setting records.
#include "af_handle.h"
#include "drv_algo_if.h"

namespace {

template <typename T, LX_S32 (*cam_af_handle_t::*Slot)(cam_af_handle_t *, T *)>
LX_S32 call(void *pHandle, LX_U32, void *pData) {
    auto *h = (cam_af_handle_t *)pHandle;
    return (h->*Slot)(h, (T *)pData);
}

#define AF_ROW(id, Name, T) \
    case id: return {call<T, &cam_af_handle_t::pAF_Set##Name>, call<T, &cam_af_handle_t::pAF_Get##Name>};

}  // namespace

extern "C" DrvAlgo_ConvSlot_t DrvAlgo_IF_AF_Slot(LX_U32 nCtlID) {
    switch (nCtlID) {
        AF_ROW(0x1C01, HWRoiMode, MI_ISP_AF_HW_ROI_MODE_TYPE_t)
        AF_ROW(0x1C02, HWWin, MI_ISP_AF_HW_WIN_TYPE_t)
        AF_ROW(0x1C03, HWFilterAttr, MI_ISP_AF_HW_FILTER_ATTR_TYPE_t)
        AF_ROW(0x1C04, HWFilterSq, MI_ISP_AF_HW_FILTERSQ_TYPE_t)
        AF_ROW(0x1C05, HWYParam, MI_ISP_AF_HW_YPARAM_TYPE_t)
        AF_ROW(0x1C06, HWSource, MI_ISP_AF_HW_SOURCE_TYPE_e)
        AF_ROW(0x1C07, HWPreFilter, MI_ISP_AF_HW_PREFILTER_TYPE_t)
        AF_ROW(0x1C08, HWYMap, MI_ISP_AF_HW_YMAP_TYPE_t)
        AF_ROW(0x1C09, HWLdg, MI_ISP_AF_HW_LDG_TYPE_t)
        AF_ROW(0x1C29, Attr, MI_ISP_AF_ATTR_TYPE_t)
        AF_ROW(0x1C2A, Motor, MI_ISP_AF_MOTOR_TYPE_t)
        AF_ROW(0x1C2B, AccWeight, MI_ISP_AF_ACC_WEIGHT_TYPE_t)
        AF_ROW(0x1C2C, OneShot, MI_ISP_AF_ONESHOT_TYPE_t)
        AF_ROW(0x1C2D, SceneChange, MI_ISP_AF_SCENE_CHANGE_TYPE_t)
        AF_ROW(0x1C2E, SearchStart, MI_ISP_AF_SEARCH_START_TYPE_t)
        AF_ROW(0x1C2F, Search, MI_ISP_AF_SEARCH_TYPE_t)
    default: return DrvAlgo_ConvSlot_t{nullptr, nullptr};
    }
}
