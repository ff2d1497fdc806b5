// System module: channel-port binding, the board clock, device memory,
// output-port buffers, pollable port descriptors and the chip's unique id.
#pragma once
#include "mi_sys_datatype.h"

#ifdef __cplusplus
extern "C" {
#endif

MI_S32 MI_SYS_Init(MI_U16 u16SocId);
MI_S32 MI_SYS_Exit(void);
MI_S32 MI_SYS_BindChnPort2(MI_U16 u16SocId, MI_SYS_ChnPort_t *pstSrcChnPort, MI_SYS_ChnPort_t *pstDstChnPort,
                           MI_U32 u32SrcFrmrate, MI_U32 u32DstFrmrate, MI_SYS_BindType_e eBindType,
                           MI_U32 u32BindParam);
MI_S32 MI_SYS_UnBindChnPort(MI_U16 u16SocId, MI_SYS_ChnPort_t *pstSrcChnPort, MI_SYS_ChnPort_t *pstDstChnPort);
MI_S32 MI_SYS_GetVersion(MI_U16 u16SocId, MI_SYS_Version_t *pstVersion);
MI_S32 MI_SYS_GetCurPts(MI_U16 u16SocId, MI_U64 *pu64Pts);
MI_S32 MI_SYS_InitPtsBase(MI_U16 u16SocId, MI_U64 u64PtsBase);
MI_S32 MI_SYS_SyncPts(MI_U16 u16SocId, MI_U64 u64Pts);
// The mapped address is stored through ppVirtualAddress whatever the result.
MI_S32 MI_SYS_Mmap(MI_U64 phyAddr, MI_U32 u32Size, void **ppVirtualAddress, MI_BOOL bCache);
MI_S32 MI_SYS_Munmap(void *pVirtualAddress, MI_U32 u32Size);
MI_S32 MI_SYS_FlushInvCache(void *pVirtualAddress, MI_U32 u32Length);
// Buffer information and handle are copied back whatever the result.
MI_S32 MI_SYS_ChnOutputPortGetBuf(MI_SYS_ChnPort_t *pstChnPort, MI_SYS_BufInfo_t *pstBufInfo,
                                  MI_SYS_BUF_HANDLE *pBufHandle);
MI_S32 MI_SYS_ChnOutputPortPutBuf(MI_SYS_BUF_HANDLE bufHandle);
MI_S32 MI_SYS_SetChnOutputPortDepth(MI_U16 u16SocId, MI_SYS_ChnPort_t *pstChnPort, MI_U32 u32UserFrameDepth,
                                    MI_U32 u32BufQueueDepth);
// A descriptor that select() reports readable while the port has data.
MI_S32 MI_SYS_GetFd(MI_SYS_ChnPort_t *pstChnPort, MI_S32 *ps32Fd);
MI_S32 MI_SYS_CloseFd(MI_S32 s32ChnPortFd);
MI_S32 MI_SYS_ReadUuid(MI_U16 u16SocId, MI_U64 *u64Uuid);

#ifdef __cplusplus
}
#endif
