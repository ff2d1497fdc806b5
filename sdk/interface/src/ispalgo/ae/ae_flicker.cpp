// Flicker: de-banding and the start-up and run-time frequency detectors.
// Not written yet: every operation does nothing and returns 0.
#include "ae_handle.h"

LX_S32 pAE_DoDeBanding(cam_ae_handle_t*, AE_APEX_EXPO*, AE_EXPOVAL*) { return 0; }
LX_S32 pAE_SetFlicker(cam_ae_handle_t*, AE_BANDING) { return 0; }
LX_S32 pAE_GetFlicker(cam_ae_handle_t*, AE_BANDING*) { return 0; }
LX_S32 pAE_SetFlickerMode(cam_ae_handle_t*, AE_FLICKER_MODE) { return 0; }
LX_S32 pAE_GetFlickerMode(cam_ae_handle_t*, AE_FLICKER_MODE*) { return 0; }
LX_S32 pAE_SetFlickerModeEX(cam_ae_handle_t*, AE_FLICKER_DETECT_TYPE_t*) { return 0; }
LX_S32 pAE_GetFlickerModeEX(cam_ae_handle_t*, AE_FLICKER_DETECT_TYPE_t*) { return 0; }

LX_S32 AE_FlickerFrequencyDetect(cam_ae_handle_t*) { return 0; }
LX_S32 AE_FlickerFrequencyDetect_RunTimeMode(cam_ae_handle_t*) { return 0; }
