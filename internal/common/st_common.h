#pragma once
// Recorder helpers shared by the pipeline modules: the media system start,
// channel-port binding and the pass/fail lines every pipeline call prints.

#include <stdio.h>

#include "mi_common_datatype.h"
#include "mi_sys.h"

// One binding of an output port to an input port.
typedef struct {
    MI_SYS_ChnPort_t stSrcChnPort;
    MI_SYS_ChnPort_t stDstChnPort;
    MI_U32 u32SrcFrmrate;
    MI_U32 u32DstFrmrate;
    MI_SYS_BindType_e eBindType;
    MI_U32 u32BindParam;
} ST_Sys_BindInfo_T;

// Where a module input takes its pictures from, and how.
typedef struct {
    MI_SYS_ChnPort_t stChnPort;  // source output port; eModId 0 (unused module) = none
    MI_SYS_BindType_e eBindType;
    MI_U32 u32BindParam;
    MI_U32 u32SrcFrmrate;
    MI_U32 u32DstFrmrate;
} ST_BindParam_t;

static inline int ST_BindSrcSet(const ST_BindParam_t *p) { return p->stChnPort.eModId != E_MI_MODULE_ID_IVE; }

// Runs a media call; on failure prints the failure line and returns its code
// from the calling function, on success prints the pass line.
#define STCHECKRESULT(_func_)                                                         \
    do {                                                                              \
        MI_S32 _s32Ret_ = (MI_S32)(_func_);                                           \
        if (_s32Ret_ != MI_SUCCESS) {                                                 \
            printf("[%s %d]exec function failed, error:%x\n", __func__, __LINE__,     \
                   (unsigned)_s32Ret_);                                               \
            return _s32Ret_;                                                          \
        }                                                                             \
        printf("(%s %d)exec function pass\n", __func__, __LINE__);                    \
    } while (0)

// Same lines, but the caller goes on whatever the result.
#define STREPORTRESULT(_ret_)                                                         \
    do {                                                                              \
        if ((MI_S32)(_ret_) != MI_SUCCESS)                                            \
            printf("[%s %d]exec function failed, error:%x\n", __func__, __LINE__,     \
                   (unsigned)(_ret_));                                                \
        else                                                                          \
            printf("(%s %d)exec function pass\n", __func__, __LINE__);                \
    } while (0)

// MI_SYS_Init, version, current PTS, PTS base and sync, chip id; 0 or the
// first failing code.
MI_S32 ST_Sys_Init(void);
MI_S32 ST_Sys_Bind(ST_Sys_BindInfo_T *pstBindInfo);
MI_S32 ST_Sys_UnBind(ST_Sys_BindInfo_T *pstBindInfo);
