// Fixed-width integers of the 3A algorithms and their 32-bit boolean.
#pragma once
#include <stdint.h>

typedef uint8_t LX_U8;
typedef uint16_t LX_U16;
typedef uint32_t LX_U32;
typedef uint64_t LX_U64;
typedef int8_t LX_S8;
typedef int16_t LX_S16;
typedef int32_t LX_S32;
typedef int64_t LX_S64;

// A fixed underlying type: a record from outside may hold any value here.
typedef enum : LX_S32 {
    LX_FALSE = 0,
    LX_TRUE = 1,
} LX_CAM_BOOL;

static_assert(sizeof(LX_CAM_BOOL) == 4, "LX_CAM_BOOL is a 32-bit enum");
