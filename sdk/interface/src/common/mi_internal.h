// Call convention shared by every module of the media interface library.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <linux/ioctl.h>

#include "mi_common_datatype.h"

// Argument record of every media ioctl: payload length, a reserved word and the
// payload address widened to 64 bits.
typedef struct mi_ioctl_arg_s {
    int32_t len;
    uint32_t reserved;
    uint64_t addr;
} mi_ioctl_arg_t;
static_assert(sizeof(mi_ioctl_arg_t) == 16, "ioctl argument record is 16 bytes");

typedef struct mi_device_attr_s {
    int32_t midev_fd;
    int32_t mipid;
} mi_device_attr_t;

typedef enum {
    MI_DEV_SYS = 0,
    MI_DEV_VIF,
    MI_DEV_ISP,
    MI_DEV_SCL,
    MI_DEV_VENC,
    MI_DEV_DISP,
    MI_DEV_HDMI,
    MI_DEV_PANEL,
    MI_DEV_AI,
    MI_DEV_AO,
    MI_DEV_COUNT
} mi_dev_e;

// Request codes: direction, type 'i', command number, payload size.
#define MI_IOW(nr, T) _IOC(_IOC_WRITE, 'i', (nr), sizeof(T))
#define MI_IOR(nr, T) _IOC(_IOC_READ, 'i', (nr), sizeof(T))
#define MI_IOWR(nr, T) _IOC(_IOC_READ | _IOC_WRITE, 'i', (nr), sizeof(T))
#define MI_IO(nr) _IO('i', (nr))

const char *mi_dev_tag(mi_dev_e dev);
const char *mi_dev_node(mi_dev_e dev);

// Cached descriptor of the module's node; reopened after fork, FD_CLOEXEC set.
int mi_device_open(mi_dev_e dev);

// One call: builds the argument record for `payload` of `len` bytes (or passes
// 0 when len is 0), issues the ioctl and prints the failure message on -1.
int mi_call(mi_dev_e dev, unsigned long request, void *payload, size_t len);

// Same, on a descriptor the caller holds (the "/dev/mi_poll" descriptors).
int mi_call_fd(int fd, const char *tag, unsigned long request, void *payload, size_t len);

// Reads "<root>/mi_<tag>/debug_level" anew at every message site.
MI_DBG_LEVEL_e _MI_PRINT_GetDebugLevel(const char *name);

#define MI_PRINT_AT_(tag, min, prefix, ...)                                                  \
    do {                                                                                     \
        if ((int)_MI_PRINT_GetDebugLevel(tag) > (min)) {                                     \
            printf(prefix, __func__, __LINE__);                                              \
            printf(__VA_ARGS__);                                                             \
            printf("\033[0m");                                                               \
        }                                                                                    \
    } while (0)

#define MI_ERR(tag, ...) MI_PRINT_AT_(tag, 0, "\033[1;31m[MI ERR ]: %s[%d]: ", __VA_ARGS__)
#define MI_WRN(tag, ...) MI_PRINT_AT_(tag, 1, "\033[1;33m[MI WRN ]: %s[%d]: ", __VA_ARGS__)
#define MI_INFO(tag, ...) MI_PRINT_AT_(tag, 4, "\033[1;32m[MI INFO]:%s[%d]: ", __VA_ARGS__)
