// System module: one ioctl on "/dev/mi_sys" per call. Every payload starts
// zeroed so nothing of this stack reaches the driver or comes back unasked.
#include "mi_sys.h"

#include <fcntl.h>
#include <string.h>

#include "mi_internal.h"
#include "mi_seam.h"
#include "mi_sys_ioctl.h"

namespace {

int sys_call(unsigned long request, void *payload, size_t len) { return mi_call(MI_DEV_SYS, request, payload, len); }

}  // namespace

extern "C" {

MI_S32 MI_SYS_Init(MI_U16 /*u16SocId*/) {
    MI_U32 word = 0;
    return sys_call(MI_SYS_IOC_INIT, &word, sizeof word);
}

MI_S32 MI_SYS_Exit(void) {
    MI_U32 word = 0;
    return sys_call(MI_SYS_IOC_EXIT, &word, sizeof word);
}

MI_S32 MI_SYS_BindChnPort2(MI_U16 /*u16SocId*/, MI_SYS_ChnPort_t *pstSrcChnPort, MI_SYS_ChnPort_t *pstDstChnPort,
                           MI_U32 u32SrcFrmrate, MI_U32 u32DstFrmrate, MI_SYS_BindType_e eBindType,
                           MI_U32 u32BindParam) {
    if (!pstSrcChnPort || !pstDstChnPort) return (MI_S32)MI_SYS_ERR_NULL_PTR;
    MI_SYS_ChnPortArg_t arg;
    memset(&arg, 0, sizeof arg);
    arg.stSrcChnPort = *pstSrcChnPort;
    arg.stDstChnPort = *pstDstChnPort;
    arg.u32SrcFrmrate = u32SrcFrmrate;
    arg.u32DstFrmrate = u32DstFrmrate;
    arg.eBindType = eBindType;
    arg.u32BindParam = u32BindParam;
    return sys_call(MI_SYS_IOC_BIND_CHN_PORT, &arg, sizeof arg);
}

MI_S32 MI_SYS_UnBindChnPort(MI_U16 /*u16SocId*/, MI_SYS_ChnPort_t *pstSrcChnPort, MI_SYS_ChnPort_t *pstDstChnPort) {
    if (!pstSrcChnPort || !pstDstChnPort) return (MI_S32)MI_SYS_ERR_NULL_PTR;
    MI_SYS_ChnPortArg_t arg;
    memset(&arg, 0, sizeof arg);
    arg.stSrcChnPort = *pstSrcChnPort;
    arg.stDstChnPort = *pstDstChnPort;
    return sys_call(MI_SYS_IOC_UNBIND_CHN_PORT, &arg, sizeof arg);
}

// The next three hand the caller's own storage to the driver; it is cleared
// first so a failed call leaves zeros rather than what was there before.
MI_S32 MI_SYS_GetVersion(MI_U16 /*u16SocId*/, MI_SYS_Version_t *pstVersion) {
    if (pstVersion) memset(pstVersion, 0, sizeof *pstVersion);
    return sys_call(MI_SYS_IOC_GET_VERSION, pstVersion, sizeof *pstVersion);
}

MI_S32 MI_SYS_GetCurPts(MI_U16 /*u16SocId*/, MI_U64 *pu64Pts) {
    if (pu64Pts) *pu64Pts = 0;
    return sys_call(MI_SYS_IOC_GET_CUR_PTS, pu64Pts, sizeof *pu64Pts);
}

MI_S32 MI_SYS_ReadUuid(MI_U16 /*u16SocId*/, MI_U64 *u64Uuid) {
    if (u64Uuid) *u64Uuid = 0;
    return sys_call(MI_SYS_IOC_READ_UUID, u64Uuid, sizeof *u64Uuid);
}

MI_S32 MI_SYS_InitPtsBase(MI_U16 /*u16SocId*/, MI_U64 u64PtsBase) {
    MI_U64 base = u64PtsBase;
    return sys_call(MI_SYS_IOC_INIT_PTS_BASE, &base, sizeof base);
}

MI_S32 MI_SYS_SyncPts(MI_U16 /*u16SocId*/, MI_U64 u64Pts) {
    MI_U64 pts = u64Pts;
    return sys_call(MI_SYS_IOC_SYNC_PTS, &pts, sizeof pts);
}

MI_S32 MI_SYS_Mmap(MI_U64 phyAddr, MI_U32 u32Size, void **ppVirtualAddress, MI_BOOL bCache) {
    if (!ppVirtualAddress) return (MI_S32)MI_SYS_ERR_NULL_PTR;
    MI_SYS_Mmap_t arg;
    memset(&arg, 0, sizeof arg);
    arg.bCache = bCache;
    arg.u32Size = u32Size;
    arg.phyAddr = phyAddr;
    int ret = sys_call(MI_SYS_IOC_MMAP, &arg, sizeof arg);
    *ppVirtualAddress = arg.pVirtualAddress;
    return ret;
}

MI_S32 MI_SYS_Munmap(void *pVirtualAddress, MI_U32 u32Size) {
    MI_SYS_Munmap_t arg;
    memset(&arg, 0, sizeof arg);
    arg.pVirtualAddress = pVirtualAddress;
    arg.u32Size = u32Size;
    return sys_call(MI_SYS_IOC_MUNMAP, &arg, sizeof arg);
}

MI_S32 MI_SYS_FlushInvCache(void *pVirtualAddress, MI_U32 u32Length) {
    MI_SYS_FlushInvCache_t arg;
    memset(&arg, 0, sizeof arg);
    arg.pVirtualAddress = pVirtualAddress;
    arg.length = u32Length;
    return sys_call(MI_SYS_IOC_FLUSH_INV_CACHE, &arg, sizeof arg);
}

MI_S32 MI_SYS_ChnOutputPortGetBuf(MI_SYS_ChnPort_t *pstChnPort, MI_SYS_BufInfo_t *pstBufInfo,
                                  MI_SYS_BUF_HANDLE *pBufHandle) {
    if (!pstChnPort || !pstBufInfo || !pBufHandle) return (MI_S32)MI_SYS_ERR_NULL_PTR;
    MI_SYS_ChnOutputPortGetBuf_t arg;
    memset(&arg, 0, sizeof arg);
    arg.stChnPort = *pstChnPort;
    arg.u32ExtraFlags = MI_SYS_GETBUF_EXTRA_FLAGS;
    int ret = sys_call(MI_SYS_IOC_GET_OUTPUT_BUF, &arg, sizeof arg);
    memcpy(pstBufInfo, &arg.stBufInfo, sizeof arg.stBufInfo);
    *pBufHandle = arg.BufHandle;
    return ret;
}

MI_S32 MI_SYS_ChnOutputPortPutBuf(MI_SYS_BUF_HANDLE bufHandle) {
    MI_SYS_BUF_HANDLE h = bufHandle;
    return sys_call(MI_SYS_IOC_PUT_OUTPUT_BUF, &h, sizeof h);
}

MI_S32 MI_SYS_SetChnOutputPortDepth(MI_U16 /*u16SocId*/, MI_SYS_ChnPort_t *pstChnPort, MI_U32 u32UserFrameDepth,
                                    MI_U32 u32BufQueueDepth) {
    if (!pstChnPort) return (MI_S32)MI_SYS_ERR_NULL_PTR;
    MI_SYS_SetChnOutputPortDepth_t arg;
    memset(&arg, 0, sizeof arg);
    arg.stChnPort = *pstChnPort;
    arg.u32UserFrameDepth = u32UserFrameDepth;
    arg.u32BufQueueDepth = u32BufQueueDepth;
    return sys_call(MI_SYS_IOC_SET_OUTPUT_DEPTH, &arg, sizeof arg);
}

MI_S32 MI_SYS_CloseFd(MI_S32 s32ChnPortFd) {
    MI_S32 fd = s32ChnPortFd;
    MI_S32 ret = sys_call(MI_SYS_IOC_CLOSE_FD, &fd, sizeof fd);
    if (mi_node_close(s32ChnPortFd) != 0) ret = (MI_S32)((MI_U32)ret | MI_SYS_ERR_FAILED);
    return ret;
}

MI_S32 MI_SYS_GetFd(MI_SYS_ChnPort_t *pstChnPort, MI_S32 *ps32Fd) {
    if (!pstChnPort || !ps32Fd) return (MI_S32)MI_SYS_ERR_NULL_PTR;

    // The driver may already hold a descriptor for this port.
    MI_SYS_ChnPort_Fd_t portFd;
    memset(&portFd, 0, sizeof portFd);
    portFd.stChnPort = *pstChnPort;
    if (sys_call(MI_SYS_IOC_GET_FD, &portFd, sizeof portFd) == 0) {
        *ps32Fd = portFd.s32Fd;
        return MI_SUCCESS;
    }

    int pollFd = mi_node_open("/dev/mi_poll", O_RDWR);
    if (pollFd < 0) return (MI_S32)MI_SYS_ERR_FAILED;

    MI_SYS_GetPollData_t pollData;
    memset(&pollData, 0, sizeof pollData);
    pollData.stChnPort = *pstChnPort;
    if (sys_call(MI_SYS_IOC_GET_POLL_DATA, &pollData, sizeof pollData) != 0) {
        mi_node_close(pollFd);
        return (MI_S32)MI_SYS_ERR_FAILED;
    }

    // Attach the poll descriptor to the port the private data names.
    if (mi_node_ioctl(pollFd, 0, pollData.pPrivateData) == 0) {
        memset(&portFd, 0, sizeof portFd);
        portFd.stChnPort = *pstChnPort;
        portFd.s32Fd = pollFd;
        if (sys_call(MI_SYS_IOC_SET_FD, &portFd, sizeof portFd) == 0) {
            *ps32Fd = pollFd;
            return MI_SUCCESS;
        }
    }
    MI_SYS_CloseFd(pollFd);
    return (MI_S32)MI_SYS_ERR_FAILED;
}

}  // extern "C"
