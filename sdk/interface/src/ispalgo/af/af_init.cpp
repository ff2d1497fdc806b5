// AF handle: creation with its built-in defaults, the hardware set-up of the
// ISP's AF statistics, and the methods the control ids reach.
#include <string.h>

#include "af_handle.h"
#include "mi_isp_iqapi.h"

namespace {

LX_U16 to_u16(LX_U32 v) { return v > 0xFFFF ? 0xFFFF : (LX_U16)v; }

// Into lo..hi; with lo > hi the upper bound wins.
LX_U16 clamp_u16(LX_U32 v, LX_U32 lo, LX_U32 hi) {
    if (v < lo) v = lo;
    return to_u16(v > hi ? hi : v);
}

bool is_continuous(const cam_af_handle_t *h) { return h->UserSetting.strAttr.eAlgo == QV_AF_ALGO_CONTINUOUS; }

// ---- hardware defaults -------------------------------------------------------

void hal_AF_InitParameters_HWRoiMode(MI_ISP_AF_HW_ROI_MODE_TYPE_t *r) {
    r->eMode = IQ_AF_ROI_MODE_NORMAL;
    r->u32VerticalBlockNumber = 1;
}

void hal_AF_InitParameters_HWWin(MI_ISP_AF_HW_WIN_TYPE_t *w) {
    // Window k, k = 0..15: {k, StartX, StartY, EndX, EndY}, a 4 x 4 grid over 1024 x 1024.
    static const LX_U32 kWin[16][5] = {
        {0, 0, 0, 255, 255},       {1, 256, 0, 511, 255},       {2, 512, 0, 767, 255},       {3, 768, 0, 1023, 255},
        {4, 0, 256, 255, 511},     {5, 256, 256, 511, 511},     {6, 512, 256, 767, 511},     {7, 768, 256, 1023, 511},
        {8, 0, 512, 255, 767},     {9, 256, 512, 511, 767},     {10, 512, 512, 767, 767},    {11, 768, 512, 1023, 767},
        {12, 0, 768, 255, 1023},   {13, 256, 768, 511, 1023},   {14, 512, 768, 767, 1023},   {15, 768, 768, 1023, 1023},
    };
    for (const auto &k : kWin)
        w->stParaAPI[k[0]] = {(LX_U16)k[1], (LX_U16)k[2], (LX_U16)k[3], (LX_U16)k[4]};
}

void hal_AF_InitParameters_HWFilterAttr(MI_ISP_AF_HW_FILTER_ATTR_TYPE_t *f) {
    *f = {37, 0, 549, 235, 49, 0, 1023, 0, 1023,  // IIR1
          19, 0, 531, 250, 59, 0, 1023, 0, 1023,  // IIR2
          1,  37, 0, 549, 25, 28,                 // IIR1_e1
          1,  32, 0, 544, 169, 0,                 // IIR1_e2
          1,  19, 0, 531, 201, 36,                // IIR2_e1
          1,  17, 0, 529, 219, 30};               // IIR2_e2
}

void hal_AF_InitParameters_HWFilterSq(MI_ISP_AF_HW_FILTERSQ_TYPE_t *s) {
    *s = {0, 1023, 1, 0, 0, 0, 0, 0, {6, 7, 7, 6, 6, 6, 7, 6, 6, 7, 6, 6},
          {0, 32, 288, 800, 1152, 1568, 2048, 3200, 3872, 4607, 6271, 7199, 8191}};
}

void hal_AF_InitParameters_HWYParam(MI_ISP_AF_HW_YPARAM_TYPE_t *y) { *y = {76, 75, 29}; }

void hal_AF_InitParameters_HWSource(MI_ISP_AF_HW_SOURCE_TYPE_e *s) { *s = IQ_AF_SOURCE_FROM_SE_OBC_BF_HDR; }

void hal_AF_InitParameters_HWPreFilter(MI_ISP_AF_HW_PREFILTER_TYPE_t *p) { memset(p, 0, sizeof *p); }

void hal_AF_InitParameters_HWYMap(MI_ISP_AF_HW_YMAP_TYPE_t *m) {
    *m = {0, 0, {4, 4, 4, 4, 6, 7, 8, 9}, {0, 72, 135, 183, 222, 340, 501, 722, 1023}};
}

void hal_AF_InitParameters_HWLdg(MI_ISP_AF_HW_LDG_TYPE_t *l) {
    *l = {0, 0, 0, 0, {0, 300, 1023, 1023, 1023, 1023}, {255, 255, 40, 40, 40, 40}, {0}, {0}};
}

// ---- getters: the stored record, no hardware read ---------------------------

#define AF_GETTER(Name, T, member)                                  \
    LX_S32 pAF_Get##Name(cam_af_handle_t *h, T *p) {                \
        if (!h || !p) return -1;                                    \
        *p = h->UserSetting.member;                                 \
        return 0;                                                   \
    }
AF_GETTER(HWRoiMode, MI_ISP_AF_HW_ROI_MODE_TYPE_t, strHWRoiMode)
AF_GETTER(HWWin, MI_ISP_AF_HW_WIN_TYPE_t, strHWWin)
AF_GETTER(HWFilterAttr, MI_ISP_AF_HW_FILTER_ATTR_TYPE_t, strHWFilterAttr)
AF_GETTER(HWFilterSq, MI_ISP_AF_HW_FILTERSQ_TYPE_t, strHWFilterSq)
AF_GETTER(HWYParam, MI_ISP_AF_HW_YPARAM_TYPE_t, strHWYParam)
AF_GETTER(HWSource, MI_ISP_AF_HW_SOURCE_TYPE_e, strHWSource)
AF_GETTER(HWPreFilter, MI_ISP_AF_HW_PREFILTER_TYPE_t, strHWPreFilter)
AF_GETTER(HWYMap, MI_ISP_AF_HW_YMAP_TYPE_t, strHWYMap)
AF_GETTER(HWLdg, MI_ISP_AF_HW_LDG_TYPE_t, strHWLdg)
AF_GETTER(Attr, MI_ISP_AF_ATTR_TYPE_t, strAttr)
AF_GETTER(Motor, MI_ISP_AF_MOTOR_TYPE_t, strMotor)
AF_GETTER(AccWeight, MI_ISP_AF_ACC_WEIGHT_TYPE_t, strAccWeight)
AF_GETTER(OneShot, MI_ISP_AF_ONESHOT_TYPE_t, strOneShot)
AF_GETTER(SceneChange, MI_ISP_AF_SCENE_CHANGE_TYPE_t, strSceneChange)
AF_GETTER(SearchStart, MI_ISP_AF_SEARCH_START_TYPE_t, strSearchStart)
AF_GETTER(Search, MI_ISP_AF_SEARCH_TYPE_t, strSearch)
#undef AF_GETTER

// ---- hardware setters: store first, then send -------------------------------

// Records whose request layout is the stored layout byte for byte.
static_assert(sizeof(CusAFRoiMode_t) == sizeof(MI_ISP_AF_HW_ROI_MODE_TYPE_t) && sizeof(ISP_AF_ROI_MODE_e) == 4);
static_assert(sizeof(CusAFFilter_t) == sizeof(MI_ISP_AF_HW_FILTER_ATTR_TYPE_t));
static_assert(sizeof(CusAFFilterSq_t) == sizeof(MI_ISP_AF_HW_FILTERSQ_TYPE_t) &&
              offsetof(CusAFFilterSq_t, u16AFTblY) == offsetof(MI_ISP_AF_HW_FILTERSQ_TYPE_t, u16AFTblY));
static_assert(sizeof(CusAFYParam_t) == sizeof(MI_ISP_AF_HW_YPARAM_TYPE_t));
static_assert(sizeof(CusAFSource_e) == sizeof(MI_ISP_AF_HW_SOURCE_TYPE_e));
static_assert(sizeof(CusAFPreFilter_t) == sizeof(MI_ISP_AF_HW_PREFILTER_TYPE_t));
static_assert(sizeof(CusAFYMap_t) == sizeof(MI_ISP_AF_HW_YMAP_TYPE_t) &&
              offsetof(CusAFYMap_t, u16YMapY) == offsetof(MI_ISP_AF_HW_YMAP_TYPE_t, u16YMapY));
static_assert(sizeof(CusAFLdg_t) == sizeof(MI_ISP_AF_HW_LDG_TYPE_t) &&
              offsetof(CusAFLdg_t, u8FIRCurveY) == offsetof(MI_ISP_AF_HW_LDG_TYPE_t, u8FIRCurveY));

// Store the record (also when the request then fails), then send it.
template <typename Rec, typename Req>
LX_S32 store_and_send(cam_af_handle_t *h, const Rec *p, Rec AF_USER_SETTING::*stored,
                      MI_S32 (*send)(MI_U32, MI_U32, Req *)) {
    if (!h || !p) return -1;
    h->UserSetting.*stored = *p;
    static_assert(sizeof(Req) == sizeof(Rec));
    Req r;
    memcpy(&r, p, sizeof r);
    return send(h->nDev, h->nCh, &r);
}

#define AF_HW_SETTER(Name, T, member, send) \
    LX_S32 pAF_Set##Name(cam_af_handle_t *h, T *p) { return store_and_send(h, p, &AF_USER_SETTING::member, send); }
AF_HW_SETTER(HWRoiMode, MI_ISP_AF_HW_ROI_MODE_TYPE_t, strHWRoiMode, MI_ISP_CUS3A_SetAFRoiMode)
AF_HW_SETTER(HWFilterAttr, MI_ISP_AF_HW_FILTER_ATTR_TYPE_t, strHWFilterAttr, MI_ISP_CUS3A_SetAFFilter)
AF_HW_SETTER(HWFilterSq, MI_ISP_AF_HW_FILTERSQ_TYPE_t, strHWFilterSq, MI_ISP_CUS3A_SetAFFilterSq)
AF_HW_SETTER(HWYParam, MI_ISP_AF_HW_YPARAM_TYPE_t, strHWYParam, MI_ISP_CUS3A_SetAFYParam)
AF_HW_SETTER(HWSource, MI_ISP_AF_HW_SOURCE_TYPE_e, strHWSource, MI_ISP_CUS3A_SetAFSource)
AF_HW_SETTER(HWPreFilter, MI_ISP_AF_HW_PREFILTER_TYPE_t, strHWPreFilter, MI_ISP_CUS3A_SetAFPreFilter)
AF_HW_SETTER(HWYMap, MI_ISP_AF_HW_YMAP_TYPE_t, strHWYMap, MI_ISP_CUS3A_SetAFYMap)
AF_HW_SETTER(HWLdg, MI_ISP_AF_HW_LDG_TYPE_t, strHWLdg, MI_ISP_CUS3A_SetAFLdg)
#undef AF_HW_SETTER

// Window by window, the corners widened to 32 bits; the first failed request
// ends the loop.
LX_S32 pAF_SetHWWin(cam_af_handle_t *h, MI_ISP_AF_HW_WIN_TYPE_t *p) {
    if (!h || !p) return -1;
    h->UserSetting.strHWWin = *p;
    LX_S32 ret = 0;
    for (LX_U8 i = 0; i < 16; ++i) {
        const AF_WIN_TYPE_t &w = p->stParaAPI[i];
        CusAFWin_t r;
        memset(&r, 0, sizeof r);
        r.u8WindowIndex = i;
        r.stParaAPI = {w.u16StartX, w.u16StartY, w.u16EndX, w.u16EndY};
        ret = MI_ISP_CUS3A_SetAFWindow(h->nDev, h->nCh, &r);
        if (ret != 0) return -1;
    }
    return ret;
}

// ---- restart of the search ---------------------------------------------------

LX_S32 pAF_Trigger(cam_af_handle_t *h) {
    if (!h) return -1;
    h->bReachStartPos = LX_FALSE;
    h->bFinishOneLoop = LX_FALSE;
    h->bCurUnstable = LX_FALSE;
    h->bEverUnstable = LX_FALSE;
    h->u8StableCnt = 0;
    AF_ResetSceneAcc(h);
    AF_ResetHistory(h);
    AF_ResetLocal(h);
    h->eFSMPreState = h->eFSMState;
    h->eFSMState = AF_FSM_STATE_SEARCH_START;
    return 0;
}

LX_S32 pAF_ForceTrigger(cam_af_handle_t *h, LX_CAM_BOOL *pbTrigger) {
    if (!h || !pbTrigger) return -1;
    if (*pbTrigger) {
        h->pAF_Trigger(h);
        *pbTrigger = LX_FALSE;
    }
    return 0;
}

// ---- algorithm setters: validate, store, restart -----------------------------

LX_S32 pAF_SetAttr(cam_af_handle_t *h, MI_ISP_AF_ATTR_TYPE_t *p) {
    if (!h || !p) return -1;
    const MI_ISP_AF_MOTOR_TYPE_t &m = h->UserSetting.strMotor;
    if (p->eType == QV_OP_TYP_MANUAL &&
        (p->u16ManualMotorPos < m.u16MinMotorPos || p->u16ManualMotorPos > m.u16MaxMotorPos)) {
        AF_PRINT("Error paramters!! u16ManualMotorPos = %d, u16MinMotorPos = %d, u16MaxMotorPos = %d \n",
                 p->u16ManualMotorPos, m.u16MinMotorPos, m.u16MaxMotorPos);
        return -1;
    }
    h->UserSetting.strAttr = *p;
    h->pAF_Trigger(h);
    return 0;
}

LX_S32 pAF_SetMotor(cam_af_handle_t *h, MI_ISP_AF_MOTOR_TYPE_t *p) {
    if (!h || !p) return -1;
    const MI_ISP_AF_MOTOR_TYPE_t &hw = h->strMotorHWLimit;
    if (p->u16MinMotorPos < hw.u16MinMotorPos || p->u16MinMotorPos > p->u16MaxMotorPos ||
        p->u16MaxMotorPos > hw.u16MaxMotorPos) {
        AF_PRINT("Error paramters!! u16MinMotorPos = %d, u16MaxMotorPos = %d, u16HWMinMotorPos = %d, "
                 "u16HWMaxMotorPos = %d \n",
                 p->u16MinMotorPos, p->u16MaxMotorPos, hw.u16MinMotorPos, hw.u16MaxMotorPos);
        return -1;
    }
    if (p->u16MinMotorStep < hw.u16MinMotorStep || p->u16MinMotorStep > p->u16MaxMotorStep ||
        p->u16MaxMotorStep > hw.u16MaxMotorStep) {
        AF_PRINT("Error paramters!! u16MinMotorStep = %d, u16MaxMotorStep = %d, u16HWMinMotorStep = %d, "
                 "u16HWMaxMotorStep = %d \n",
                 p->u16MinMotorStep, p->u16MaxMotorStep, hw.u16MinMotorStep, hw.u16MaxMotorStep);
        return -1;
    }
    h->UserSetting.strMotor = *p;
    h->pAF_Trigger(h);
    return 0;
}

LX_S32 pAF_SetAccWeight(cam_af_handle_t *h, MI_ISP_AF_ACC_WEIGHT_TYPE_t *p) {
    if (!h || !p) return -1;
    const MI_ISP_AF_HW_ROI_MODE_TYPE_t &roi = h->UserSetting.strHWRoiMode;
    if (p->u8WinNumY > 1 &&
        !(roi.eMode == IQ_AF_ROI_MODE_MATRIX && roi.u32VerticalBlockNumber >= p->u8WinNumY)) {
        AF_PRINT("Error paramters!! u8WinNumY = %d, eMode = %d, u32VerticalBlockNumber = %d \n", p->u8WinNumY,
                 (int)roi.eMode, (int)roi.u32VerticalBlockNumber);
        return -1;
    }
    // The statistics hold 16 x 16 windows, and an empty grid has no mean.
    if (p->u8WinNumX < 1 || p->u8WinNumX > 16 || p->u8WinNumY < 1 || p->u8WinNumY > 16) {
        AF_PRINT("Error paramters!! u8WinNumX = %d, u8WinNumY = %d \n", p->u8WinNumX, p->u8WinNumY);
        return -1;
    }
    h->UserSetting.strAccWeight = *p;
    h->pAF_Trigger(h);
    return 0;
}

LX_S32 pAF_SetOneShot(cam_af_handle_t *h, MI_ISP_AF_ONESHOT_TYPE_t *p) {
    if (!h || !p) return -1;
    const MI_ISP_AF_MOTOR_TYPE_t &m = h->UserSetting.strMotor;
    if (p->u16MotorStep < m.u16MinMotorStep || p->u16MotorStep > m.u16MaxMotorStep) {
        AF_PRINT("Error paramters!! u16MotorStep = %d, u16MinMotorStep = %d, u16MaxMotorStep = %d \n",
                 p->u16MotorStep, m.u16MinMotorStep, m.u16MaxMotorStep);
        return -1;
    }
    h->UserSetting.strOneShot = *p;
    if (h->UserSetting.strAttr.eAlgo == QV_AF_ALGO_ONESHOT) h->pAF_Trigger(h);
    return 0;
}

LX_S32 pAF_SetSceneChange(cam_af_handle_t *h, MI_ISP_AF_SCENE_CHANGE_TYPE_t *p) {
    if (!h || !p) return -1;
    h->UserSetting.strSceneChange = *p;
    if (is_continuous(h)) h->pAF_Trigger(h);
    return 0;
}

LX_S32 pAF_SetSearchStart(cam_af_handle_t *h, MI_ISP_AF_SEARCH_START_TYPE_t *p) {
    if (!h || !p) return -1;
    const MI_ISP_AF_MOTOR_TYPE_t &m = h->UserSetting.strMotor;
    if (p->u16SearchMotorStep < m.u16MinMotorStep || p->u16SearchMotorStep > m.u16MaxMotorStep) {
        AF_PRINT("Error paramters!! u16SearchMotorStep = %d, u16MinMotorStep = %d, u16MaxMotorStep = %d \n",
                 p->u16SearchMotorStep, m.u16MinMotorStep, m.u16MaxMotorStep);
        return -1;
    }
    if (p->u16SearchMotorDirByPosTh < m.u16MinMotorPos || p->u16SearchMotorDirByPosTh > m.u16MaxMotorPos) {
        AF_PRINT("Error paramters!! u16SearchMotorDirByPosTh = %d, u16MinMotorPos = %d, u16MaxMotorPos = %d \n",
                 p->u16SearchMotorDirByPosTh, m.u16MinMotorPos, m.u16MaxMotorPos);
        return -1;
    }
    h->UserSetting.strSearchStart = *p;
    if (is_continuous(h)) h->pAF_Trigger(h);
    return 0;
}

LX_S32 pAF_SetSearch(cam_af_handle_t *h, MI_ISP_AF_SEARCH_TYPE_t *p) {
    if (!h || !p) return -1;
    h->UserSetting.strSearch = *p;
    if (is_continuous(h)) h->pAF_Trigger(h);
    return 0;
}

// ---- creation ------------------------------------------------------------------

void AF_InitFuncPtr(cam_af_handle_t *h) {
    h->pAF_Trigger = pAF_Trigger;
    h->pAF_ForceTrigger = pAF_ForceTrigger;
#define AF_SLOTS(Name)                 \
    h->pAF_Set##Name = pAF_Set##Name;  \
    h->pAF_Get##Name = pAF_Get##Name;
    AF_SLOTS(HWRoiMode)
    AF_SLOTS(HWWin)
    AF_SLOTS(HWFilterAttr)
    AF_SLOTS(HWFilterSq)
    AF_SLOTS(HWYParam)
    AF_SLOTS(HWSource)
    AF_SLOTS(HWPreFilter)
    AF_SLOTS(HWYMap)
    AF_SLOTS(HWLdg)
    AF_SLOTS(Attr)
    AF_SLOTS(Motor)
    AF_SLOTS(AccWeight)
    AF_SLOTS(OneShot)
    AF_SLOTS(SceneChange)
    AF_SLOTS(SearchStart)
    AF_SLOTS(Search)
#undef AF_SLOTS
}

void AF_InitParameters(cam_af_handle_t *h) {
    const AfInitParam_t &ip = *h->AfInitParameter;
    h->nDev = ip.nDev;
    h->nCh = ip.nCh;
    if (ip.MaxMotorPos == 0 || ip.MaxMotorStep == 0 || ip.InitPos < ip.MinMotorPos || ip.InitPos > ip.MaxMotorPos) {
        AF_PRINT("Error!! Initial motor parameters got from motor driver are unreasonable. \n");
        AF_PRINT("InitPos = %d, MinMotorPos = %d, MaxMotorPos = %d, MinMotorStep = %d, MaxMotorStep = %d \n",
                 (int)ip.InitPos, (int)ip.MinMotorPos, (int)ip.MaxMotorPos, (int)ip.MinMotorStep,
                 (int)ip.MaxMotorStep);
    }
    if (AfOutput_t *out = h->AfOutputParameter) {
        out->FocusPos = ip.InitPos;
        out->Change_Motor = 0;
    }

    AF_USER_SETTING &us = h->UserSetting;
    hal_AF_InitParameters_HWRoiMode(&us.strHWRoiMode);
    hal_AF_InitParameters_HWWin(&us.strHWWin);
    hal_AF_InitParameters_HWFilterAttr(&us.strHWFilterAttr);
    hal_AF_InitParameters_HWFilterSq(&us.strHWFilterSq);
    hal_AF_InitParameters_HWYParam(&us.strHWYParam);
    hal_AF_InitParameters_HWSource(&us.strHWSource);
    hal_AF_InitParameters_HWPreFilter(&us.strHWPreFilter);
    hal_AF_InitParameters_HWYMap(&us.strHWYMap);
    hal_AF_InitParameters_HWLdg(&us.strHWLdg);
    // Sent from a copy: each setter stores its argument over the stored record.
    {
        AF_USER_SETTING d = us;
        h->pAF_SetHWRoiMode(h, &d.strHWRoiMode);
        h->pAF_SetHWWin(h, &d.strHWWin);
        h->pAF_SetHWFilterAttr(h, &d.strHWFilterAttr);
        h->pAF_SetHWFilterSq(h, &d.strHWFilterSq);
        h->pAF_SetHWYParam(h, &d.strHWYParam);
        h->pAF_SetHWSource(h, &d.strHWSource);
        h->pAF_SetHWPreFilter(h, &d.strHWPreFilter);
        h->pAF_SetHWYMap(h, &d.strHWYMap);
        h->pAF_SetHWLdg(h, &d.strHWLdg);
    }

    us.strAttr = {QV_ISP_STATE_NORMAL, QV_OP_TYP_AUTO, to_u16(ip.MinMotorPos), QV_AF_ALGO_CONTINUOUS};
    // The software range 320..700 and the step limit 50 are fixed, but never
    // reach beyond what the driver reports.
    us.strMotor.u16MinMotorPos = clamp_u16(320, ip.MinMotorPos, ip.MaxMotorPos);
    us.strMotor.u16MaxMotorPos = clamp_u16(700, ip.MinMotorPos, ip.MaxMotorPos);
    us.strMotor.u16MinMotorStep = to_u16(ip.MinMotorStep);
    us.strMotor.u16MaxMotorStep = clamp_u16(50, ip.MinMotorStep, ip.MaxMotorStep);
    us.strAccWeight.u8WinNumX = 16;
    us.strAccWeight.u8WinNumY = 1;
    us.strAccWeight.bEqualWinWgt = QV_TRUE;
    memset(us.strAccWeight.u8WinWgt, 255, sizeof us.strAccWeight.u8WinWgt);
    us.strAccWeight.bIIRHBlendEn = QV_FALSE;
    us.strAccWeight.u8IIRHWgt_FirstBlendIIRL = 255;
    us.strAccWeight.u8IIRHWgt_SecondBlendSBLV = 255;
    us.strAccWeight.u8IIRHWgt_ThirdBlendSBLH = 255;
    us.strOneShot = {QV_AF_ACC_SBLV, 10};
    us.strSceneChange = {QV_AF_ACC_IIRH, 20, 5, 20, 0, 20, 0, 20, 0, QV_AF_ACC_IIRL, 100, 20, 10, 20, 15};
    us.SpeedRatio = 24;
    us.Speedstep1_0 = 12;
    us.Speedstep1_1 = 26;
    us.Speedstep1_2 = 16;
    us.Speedstep1_4 = 13;
    us.SpeedCtrlMethod = 1;
    us.SpeedCtrlStartstep = 2;
    us.maxSpeedstep = 26;
    us.strSearchStart = {10, 400, QV_AF_ACC_SBLV};
    us.strSearch = {1, 0, 20, 5, 20, 5};
    us.WobblingMaxPosFPeriod = 0;
    us.WobblingFlatSlopeTh = 5;

    h->u8ThByFPS = 0;
    h->u8InitialSkipFrames = 30;
    h->strMotorHWLimit = {to_u16(ip.MinMotorPos), to_u16(ip.MaxMotorPos), to_u16(ip.MinMotorStep),
                          to_u16(ip.MaxMotorStep)};
    h->u16CurPos = h->u16TarPos = to_u16(ip.InitPos);
    h->bFirstSearch = LX_TRUE;
    h->eFSMPreState = AF_FSM_STATE_INIT;
    h->eFSMState = AF_FSM_STATE_SEARCH_START;
    h->u16CurFPSx10 = 300;
    h->u16EverMinPos = to_u16(ip.MaxMotorPos);
    h->u16EverMaxPos = to_u16(ip.MinMotorPos);
    h->u16TempPos = to_u16(ip.MinMotorPos);
    h->u16Step = to_u16(ip.MinMotorStep);
    h->s8Dir = 1;
    h->bCurPosInRange = LX_FALSE;
    h->bCurPosIsBoundary = LX_FALSE;
    h->ePreAfAccSel = QV_AF_ACC_MAX;
    h->eFocusAfAccSel = QV_AF_ACC_MAX;

    AF_ResetSceneAcc(h);
    AF_ResetHistory(h);
    AF_ResetLocal(h);
    h->bReachStartPos = h->bFinishOneLoop = h->bCurUnstable = h->bEverUnstable = LX_FALSE;
    h->u8StableCnt = 0;
    h->u16StartPos = to_u16(ip.InitPos);
    h->u32StartAcc = 0;
    h->u8MinMaxAccRatio = h->u8StartMaxAccRatio = h->u8NowMaxAccRatio = h->u8NowFakeMaxAccRatio = 0;
    h->u8MinMaxAccRatioPeakTh = 0;
    h->eAccHillType = AF_ACC_NULLHILL;
    h->u8AccIncCnt = h->u8AccDecCnt = 0;
    h->bEverChangeDir = h->bAccPeak = LX_FALSE;
    h->u8FocusDelayCnt = 2;
    h->ss_state = 0;
    h->wobbingStep = 1;
}

}  // namespace

extern "C" AfHandle AfInit(ISP_DBGBUF_HANDLE, AfInitParam_t *init_param, AfInput_t *input_param,
                           AfOutput_t *output_param) {
    if (!init_param) return nullptr;
    auto *h = (cam_af_handle_t *)CamOsMemCalloc(1, sizeof(cam_af_handle_t));
    if (!h) return nullptr;
    h->AfInitParameter = init_param;
    h->AfInputParameter = input_param;
    h->AfOutputParameter = output_param;
    AF_InitFuncPtr(h);
    AF_InitParameters(h);
    // The plug-in's init record need not outlive this call.
    h->AfInitParameter = nullptr;
    return h;
}

extern "C" LX_S32 AfRelease(AfHandle Handle) {
    if (Handle) CamOsMemRelease(Handle);
    return 0;
}
