// Convergence, smoothing and the stabiliser; RGB-IR exposure control, the HDR
// ratio curve and the day-night parameters.
// Not written yet: every operation does nothing and returns 0.
#include "ae_handle.h"

LX_S32 pAE_CalSmoothExpo(cam_ae_handle_t*) { return 0; }
LX_CAM_BOOL pAE_isConverged(cam_ae_handle_t*) { return LX_FALSE; }
LX_CAM_BOOL pAE_isReachBoundary(cam_ae_handle_t*) { return LX_FALSE; }
LX_CAM_BOOL pAE_isStable(cam_ae_handle_t*) { return LX_FALSE; }
LX_S32 pAE_CheckLinearity(cam_ae_handle_t*, AE_APEX_EXPO, AE_APEX_EXPO, LX_U32, LX_U32) { return 0; }
LX_CAM_BOOL pAE_CheckTimeBuffer(cam_ae_handle_t*) { return LX_FALSE; }
LX_S32 pAE_SetConvergeThd(cam_ae_handle_t*, LX_U32, LX_U32) { return 0; }
LX_S32 pAE_GetConvergeThd(cam_ae_handle_t*, LX_U32*, LX_U32*) { return 0; }
LX_S32 pAE_SetConvergeSpeed(cam_ae_handle_t*, LX_U32*, LX_U32*) { return 0; }
LX_S32 pAE_GetConvergeSpeed(cam_ae_handle_t*, LX_U32*, LX_U32*) { return 0; }
LX_S32 pAE_SetStabilizerParam(cam_ae_handle_t*, AE_STABILIZER_PARAM*) { return 0; }
LX_S32 pAE_GetStabilizerParam(cam_ae_handle_t*, AE_STABILIZER_PARAM*) { return 0; }
LX_S32 pAE_SetRGBIRAE(cam_ae_handle_t*, AE_RGBIR_AE*) { return 0; }
LX_S32 pAE_GetRGBIRAE(cam_ae_handle_t*, AE_RGBIR_AE*) { return 0; }
LX_S32 pAE_SetAeHdrRatio(cam_ae_handle_t*, AE_HDR_TYPE*) { return 0; }
LX_S32 pAE_GetAeHdrRatio(cam_ae_handle_t*, AE_HDR_TYPE*) { return 0; }
LX_S32 pAE_SetDayNightDetectionParam(cam_ae_handle_t*, AE_DAYNIGHT_DETECTION_PARAM*) { return 0; }
LX_S32 pAE_GetDayNightDetectionParam(cam_ae_handle_t*, AE_DAYNIGHT_DETECTION_PARAM*) { return 0; }

LX_S32 AE_MotionDetection(cam_ae_handle_t*) { return 0; }
LX_S32 AE_CalRGBIRTargetwithSmooth(cam_ae_handle_t*) { return 0; }
