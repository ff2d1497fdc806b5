#pragma once
#include <stdint.h>

// Calls the stand-ins saw since the last reset.
struct FuzzCalls {
    int rc = 0;
    int reso = 0;
    uint32_t lastReso = 0;
};
extern FuzzCalls g_fuzzCalls;
