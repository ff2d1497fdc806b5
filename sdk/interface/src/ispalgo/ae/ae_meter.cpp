// Metering (window luminance, histograms, BV, LV) and the scene target with
// its strategies.
// Not written yet: every operation does nothing and returns 0.
#include "ae_handle.h"

LX_S32 pAE_CalLumY(cam_ae_handle_t*) { return 0; }
LX_S32 pAE_GetBV(cam_ae_handle_t*) { return 0; }
LX_U32 pAE_GetLV(cam_ae_handle_t*) { return 0; }
LX_S32 pAE_StrategyEX_GetSceneTarget(cam_ae_handle_t*) { return 0; }
LX_S32 pAE_StrategyEX_GetToneY(cam_ae_handle_t*) { return 0; }
LX_S32 pAE_StrategyEX_GetCntPcntx10(cam_ae_handle_t*) { return 0; }
LX_S32 pAE_StrategyEX_GetGMBlendRatio(cam_ae_handle_t*) { return 0; }
LX_U32 pAE_GetSceneTarget(cam_ae_handle_t*) { return 0; }
LX_S32 pAE_GetSceneDynamicRange(cam_ae_handle_t*) { return 0; }
LX_S32 pAE_GetToneBalanceTarget(cam_ae_handle_t*) { return 0; }
LX_U32 pAE_GetStrategyBTDT(cam_ae_handle_t*) { return 0; }
LX_S32 pAE_CalHistogram(cam_ae_handle_t*, AE_HIST_SPEC*) { return 0; }
LX_U32 pAE_CalSortYByPcent(cam_ae_handle_t*, LX_U8, LX_CAM_BOOL, LX_U32) { return 0; }
LX_S32 pAE_SetNthWin(cam_ae_handle_t*, LX_S32, AE_WIN) { return 0; }
LX_S32 pAE_SetEVComp(cam_ae_handle_t*, LX_S32, LX_U32) { return 0; }
LX_S32 pAE_GetEVComp(cam_ae_handle_t*, LX_S32*, LX_U32*) { return 0; }
LX_S32 pAE_SetTarget(cam_ae_handle_t*, INTP_LUT*) { return 0; }
LX_S32 pAE_GetTarget(cam_ae_handle_t*, INTP_LUT*) { return 0; }
LX_S32 pAE_SetAEWinWgtType(cam_ae_handle_t*, AE_WIN_WGT) { return 0; }
LX_S32 pAE_GetAEWinWgtType(cam_ae_handle_t*, AE_WIN_WGT*) { return 0; }
LX_S32 pAE_SetAEWinWgtTbl(cam_ae_handle_t*, LX_U8*, LX_U8*, LX_U8*) { return 0; }
LX_S32 pAE_GetAEWinWgtTbl(cam_ae_handle_t*, LX_U8*, LX_U8*, LX_U8*) { return 0; }
LX_S32 pAE_SetAEStrategy(cam_ae_handle_t*, AE_STRATEGY_PARAM*) { return 0; }
LX_S32 pAE_GetAEStrategy(cam_ae_handle_t*, AE_STRATEGY_PARAM*) { return 0; }
LX_S32 pAE_SetAEStrategyEX(cam_ae_handle_t*, AE_STRATEGYEX_MI_PARAM*) { return 0; }
LX_S32 pAE_GetAEStrategyEX(cam_ae_handle_t*, AE_STRATEGYEX_MI_PARAM*) { return 0; }
LX_U32 pAE_GetLumY(cam_ae_handle_t*) { return 0; }
LX_U32 pAE_GetAvgY(cam_ae_handle_t*) { return 0; }
LX_S32 pAE_GetHist(cam_ae_handle_t*, LX_U32*) { return 0; }
LX_S32 pAE_GetCurBV(cam_ae_handle_t*) { return 0; }
LX_U32 pAE_GetCurLV(cam_ae_handle_t*) { return 0; }

LX_S32 AE_FindHistInfo(cam_ae_handle_t*) { return 0; }
LX_S32 AE_FindIRHistInfo(cam_ae_handle_t*) { return 0; }
