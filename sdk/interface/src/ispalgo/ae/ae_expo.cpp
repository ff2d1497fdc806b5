// Exposure model and computation: APEX tables, limits, manual exposure, the
// next exposure, its split and the hardware values.
// Not written yet: every operation does nothing and returns 0.
#include "ae_handle.h"

LX_S32 pAE_CalPvExpo(cam_ae_handle_t*) { return 0; }
LX_S32 pAE_CalPvExpoShort(cam_ae_handle_t*) { return 0; }
LX_S32 pAE_CalIntpApex(cam_ae_handle_t*, LX_S32) { return 0; }
LX_S32 pAE_CalIntpApexShort(cam_ae_handle_t*, LX_S32, LX_U64) { return 0; }
LX_S32 pAE_CalApexTblIdx(cam_ae_handle_t*, AE_CAL_EXPO*) { return 0; }
LX_S32 pAE_CalApexTblIdxShort(cam_ae_handle_t*, AE_CAL_EXPO*) { return 0; }
LX_S32 pAE_CalApexAuto2(cam_ae_handle_t*, LX_U8, LX_U8, AE_APEX_EXPO*, AE_EXPOVAL*) { return 0; }
LX_S32 pAE_CalApexAV2(cam_ae_handle_t*, LX_U8, LX_U8, AE_APEX_EXPO*) { return 0; }
LX_S32 pAE_CalApexSV2(cam_ae_handle_t*, LX_U8, LX_U8, AE_APEX_EXPO*) { return 0; }
LX_S32 pAE_CalApexTV(cam_ae_handle_t*, LX_U8, LX_U8, AE_APEX_EXPO*) { return 0; }
LX_CAM_BOOL pAE_FurtherLimitOnAperture(cam_ae_handle_t*) { return LX_FALSE; }
LX_S32 pAE_FindClosestAV(cam_ae_handle_t*, LX_S32, LX_U8, LX_U8) { return 0; }
LX_S32 pAE_LimitMinMax(cam_ae_handle_t*, AE_APEX_EXPO*, AE_EXPOVAL*) { return 0; }
LX_S32 pAE_SetExposure(cam_ae_handle_t*, AE_APEX_EXPO*, AE_EXPOVAL*) { return 0; }
LX_U8 pAE_GetExpTblMaxIdx(cam_ae_handle_t*) { return 0; }
LX_U8 pAE_GetExpTblMaxIdxShort(cam_ae_handle_t*) { return 0; }
LX_S32 pAE_SetExpMode(cam_ae_handle_t*, AE_EXP_MODE) { return 0; }
LX_S32 pAE_GetExpMode(cam_ae_handle_t*, AE_EXP_MODE*) { return 0; }
LX_S32 pAE_SetManualExpo(cam_ae_handle_t*, LX_U16, LX_U32, LX_U32, LX_U32) { return 0; }
LX_S32 pAE_GetManualExpo(cam_ae_handle_t*, LX_U16*, LX_U32*, LX_U32*, LX_U32*) { return 0; }
LX_S32 pAE_SetManualExpoShort(cam_ae_handle_t*, LX_U16, LX_U32, LX_U32, LX_U32) { return 0; }
LX_S32 pAE_GetManualExpoShort(cam_ae_handle_t*, LX_U16*, LX_U32*, LX_U32*, LX_U32*) { return 0; }
LX_S32 pAE_SetMinMaxShutterUS(cam_ae_handle_t*, LX_U16, LX_U32) { return 0; }
LX_S32 pAE_GetMinMaxShutterUS(cam_ae_handle_t*, LX_U16*, LX_U32*) { return 0; }
LX_S32 pAE_SetMinMaxAperture(cam_ae_handle_t*, LX_U16, LX_U16) { return 0; }
LX_S32 pAE_GetMinMaxAperture(cam_ae_handle_t*, LX_U16*, LX_U16*) { return 0; }
LX_S32 pAE_SetMaxGains(cam_ae_handle_t*, LX_U32, LX_U32) { return 0; }
LX_S32 pAE_GetMaxGains(cam_ae_handle_t*, LX_U32*, LX_U32*) { return 0; }
LX_S32 pAE_SetMinGains(cam_ae_handle_t*, LX_U16, LX_U16) { return 0; }
LX_S32 pAE_GetMinGains(cam_ae_handle_t*, LX_U16*, LX_U16*) { return 0; }
LX_S32 pAE_SetPlainExpTbl(cam_ae_handle_t*, AE_EXPO_TBL*) { return 0; }
LX_S32 pAE_SetPlainShortExpTbl(cam_ae_handle_t*, AE_EXPO_TBL*) { return 0; }
LX_S32 pAE_GetPlainExpTbl(cam_ae_handle_t*, AE_EXPO_TBL*) { return 0; }
LX_S32 pAE_GetPlainShortExpTbl(cam_ae_handle_t*, AE_EXPO_TBL*) { return 0; }
LX_S32 pAE_GetCurExpo(cam_ae_handle_t*, LX_U16*, LX_U32*, LX_U32*, LX_U32*) { return 0; }
LX_S32 pAE_GetCurShortExpo(cam_ae_handle_t*, LX_U16*, LX_U32*, LX_U32*, LX_U32*) { return 0; }

LX_S32 AE_Plain2Apex(cam_ae_handle_t*, AE_EV_CONVERSION*) { return 0; }
LX_S32 AE_ConversionExpoTbl(cam_ae_handle_t*, AE_APEX_EXPOTBL*, AE_EXPO_TBL*) { return 0; }
LX_S32 AE_ConvertNextExpoToExpoVal(cam_ae_handle_t*, AE_APEX_EXPO, AE_EXPOVAL*) { return 0; }
LX_U32 AE_CalNewDGainWithIR(cam_ae_handle_t*, LX_U32) { return 0; }
LX_S32 AE_CalApexSVforHDRShort(cam_ae_handle_t*, AE_APEX_EXPO*, AE_EXPOVAL*) { return 0; }
LX_S32 AE_CalApexTVforHDRShort(cam_ae_handle_t*, AE_APEX_EXPO*) { return 0; }
