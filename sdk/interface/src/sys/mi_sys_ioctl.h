// Request codes of "/dev/mi_sys", derived from the size of each payload.
// Shared by the library and the virtual board's driver.
#pragma once
#include "mi_internal.h"
#include "mi_sys_datatype.h"

#define MI_SYS_IOC_INIT MI_IOR(0x00, MI_U32)
#define MI_SYS_IOC_EXIT MI_IOR(0x01, MI_U32)
#define MI_SYS_IOC_BIND_CHN_PORT MI_IOW(0x03, MI_SYS_ChnPortArg_t)
#define MI_SYS_IOC_UNBIND_CHN_PORT MI_IOW(0x04, MI_SYS_ChnPortArg_t)
#define MI_SYS_IOC_GET_VERSION MI_IOR(0x06, MI_SYS_Version_t)
#define MI_SYS_IOC_GET_CUR_PTS MI_IOR(0x07, MI_U64)
#define MI_SYS_IOC_INIT_PTS_BASE MI_IOW(0x08, MI_U64)
#define MI_SYS_IOC_SYNC_PTS MI_IOW(0x09, MI_U64)
#define MI_SYS_IOC_MMAP MI_IOWR(0x0a, MI_SYS_Mmap_t)
#define MI_SYS_IOC_MUNMAP MI_IOW(0x0b, MI_SYS_Munmap_t)
#define MI_SYS_IOC_GET_OUTPUT_BUF MI_IOWR(0x13, MI_SYS_ChnOutputPortGetBuf_t)
#define MI_SYS_IOC_PUT_OUTPUT_BUF MI_IOW(0x14, MI_SYS_BUF_HANDLE)
#define MI_SYS_IOC_SET_OUTPUT_DEPTH MI_IOW(0x15, MI_SYS_SetChnOutputPortDepth_t)
#define MI_SYS_IOC_GET_POLL_DATA MI_IOWR(0x17, MI_SYS_GetPollData_t)
#define MI_SYS_IOC_CLOSE_FD MI_IOW(0x18, MI_S32)
#define MI_SYS_IOC_GET_FD MI_IOWR(0x19, MI_SYS_ChnPort_Fd_t)
#define MI_SYS_IOC_SET_FD MI_IOW(0x1a, MI_SYS_ChnPort_Fd_t)
#define MI_SYS_IOC_FLUSH_INV_CACHE MI_IOW(0x1e, MI_SYS_FlushInvCache_t)
#define MI_SYS_IOC_READ_UUID MI_IOR(0x1f, MI_U64)

// GetBuf marks its request with these flags; nothing else of the record is filled.
#define MI_SYS_GETBUF_EXTRA_FLAGS (0xA0000000u)

#if defined(__arm__)
static_assert(MI_SYS_IOC_INIT == 0x80046900, "code");
static_assert(MI_SYS_IOC_EXIT == 0x80046901, "code");
static_assert(MI_SYS_IOC_BIND_CHN_PORT == 0x40306903, "code");
static_assert(MI_SYS_IOC_UNBIND_CHN_PORT == 0x40306904, "code");
static_assert(MI_SYS_IOC_GET_VERSION == 0x80806906, "code");
static_assert(MI_SYS_IOC_GET_CUR_PTS == 0x80086907, "code");
static_assert(MI_SYS_IOC_INIT_PTS_BASE == 0x40086908, "code");
static_assert(MI_SYS_IOC_SYNC_PTS == 0x40086909, "code");
static_assert(MI_SYS_IOC_MMAP == 0xc018690a, "code");
static_assert(MI_SYS_IOC_MUNMAP == 0x4008690b, "code");
static_assert(MI_SYS_IOC_GET_OUTPUT_BUF == 0xc1286913, "code");
static_assert(MI_SYS_IOC_PUT_OUTPUT_BUF == 0x40046914, "code");
static_assert(MI_SYS_IOC_SET_OUTPUT_DEPTH == 0x40186915, "code");
static_assert(MI_SYS_IOC_GET_POLL_DATA == 0xc0146917, "code");
static_assert(MI_SYS_IOC_CLOSE_FD == 0x40046918, "code");
static_assert(MI_SYS_IOC_GET_FD == 0xc0146919, "code");
static_assert(MI_SYS_IOC_SET_FD == 0x4014691a, "code");
static_assert(MI_SYS_IOC_FLUSH_INV_CACHE == 0x4008691e, "code");
static_assert(MI_SYS_IOC_READ_UUID == 0x8008691f, "code");
#endif
