// Start-up mains-frequency detection: its schedule and the progress that all
// AE handles of the process share.
//
// The detector tries both de-banding settings in turn and compares the
// row-to-row flicker energy of the frames that show each. It sends one
// setting, and only reads frames that it assumes already show it:
// AE_FLICKER_EXPO_LATENCY frames after the frame whose result carried the
// exposure. Each setting is measured on two frames (a reference, then the one
// whose difference counts), so the 50 Hz setting goes out at step 3 whatever
// the latency: the frame after the last 60 Hz measurement is the first to
// show it. A sensor that shows an exposure sooner than assumed lets the
// second 60 Hz measurement see the 50 Hz exposure.
#pragma once
#include "lx_types.h"

#define AE_FLICKER_EXPO_LATENCY 3  // frames from a result to the statistics that show it

enum {
    AE_FLICKER_WAIT_CALLS = 9,  // calls after start that only wait
    AE_FLICKER_STEP_SET60 = 1,
    AE_FLICKER_STEP_SET50 = 3,
    AE_FLICKER_STEP_REF60 = AE_FLICKER_STEP_SET60 + AE_FLICKER_EXPO_LATENCY,
    AE_FLICKER_STEP_MEAS60 = AE_FLICKER_STEP_REF60 + 1,
    AE_FLICKER_STEP_REF50 = AE_FLICKER_STEP_SET50 + AE_FLICKER_EXPO_LATENCY,
    AE_FLICKER_STEP_MEAS50 = AE_FLICKER_STEP_REF50 + 1,  // the deciding step
};

// Process-wide: two channels detecting at once advance the same steps. Each
// ISP device has its own 3A thread, so AE_FlickerFrequencyDetect holds a lock
// while it reads and advances them.
typedef struct {
    LX_U32 FlickerRefreshCnt;  // step, from AE_FLICKER_STEP_SET60
    LX_U32 delayCnt;           // waiting calls; never reset
    LX_U32 avg60;              // least flicker energy seen with each setting
    LX_U32 avg50;
} AE_FLICKER_STARTUP;

#define AE_FLICKER_ENERGY_NONE 99999u

extern AE_FLICKER_STARTUP g_AeFlickerStartup;
