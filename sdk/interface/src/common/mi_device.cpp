// Device nodes of the media modules: opened once per process, reopened in a
// forked child, and the single ioctl path every call goes through.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <string.h>
#include <unistd.h>

#include "mi_internal.h"
#include "mi_seam.h"

namespace {

struct DevInfo {
    const char *tag;
    const char *node;
};

constexpr DevInfo kDevs[MI_DEV_COUNT] = {
    {"sys", "/dev/mi_sys"},   {"vif", "/dev/mi_vif"},     {"isp", "/dev/mi_isp"},
    {"scl", "/dev/mi_scl"},   {"venc", "/dev/mi_venc"},   {"disp", "/dev/mi_disp"},
    {"hdmi", "/dev/mi_hdmi"}, {"panel", "/dev/mi_panel"}, {"ai", "/dev/mi_ai"},
    {"ao", "/dev/mi_ao"},
};

mi_device_attr_t g_devs[MI_DEV_COUNT] = {
    {-1, 0}, {-1, 0}, {-1, 0}, {-1, 0}, {-1, 0}, {-1, 0}, {-1, 0}, {-1, 0}, {-1, 0}, {-1, 0},
};

// Two threads making a module's first call must not both open the node.
pthread_mutex_t g_open_lock = PTHREAD_MUTEX_INITIALIZER;

// A child forked while another thread held the lock starts with it free.
const int g_atfork = pthread_atfork(nullptr, nullptr, [] { pthread_mutex_init(&g_open_lock, nullptr); });

}  // namespace

const char *mi_dev_tag(mi_dev_e dev) { return kDevs[dev].tag; }
const char *mi_dev_node(mi_dev_e dev) { return kDevs[dev].node; }

int mi_device_open(mi_dev_e dev) {
    mi_device_attr_t *d = &g_devs[dev];
    pid_t pid = getpid();
    int fd = __atomic_load_n(&d->midev_fd, __ATOMIC_ACQUIRE);
    if (fd >= 0 && __atomic_load_n(&d->mipid, __ATOMIC_ACQUIRE) == pid) return fd;

    pthread_mutex_lock(&g_open_lock);
    if (d->midev_fd < 0 || d->mipid != pid) {
        // A forked child opens its own descriptor; the inherited one stays open.
        int nfd = mi_node_open(kDevs[dev].node, O_RDWR);
        int saved = errno;
        if (nfd >= 0) {
            int fl = fcntl(nfd, F_GETFD);
            if (fl >= 0) fcntl(nfd, F_SETFD, fl | FD_CLOEXEC);
        }
        __atomic_store_n(&d->mipid, pid, __ATOMIC_RELEASE);
        __atomic_store_n(&d->midev_fd, nfd, __ATOMIC_RELEASE);
        errno = saved;
    }
    fd = d->midev_fd;
    pthread_mutex_unlock(&g_open_lock);
    if (fd < 0) printf("[%s] failed to open %s!(%s)\n", kDevs[dev].tag, kDevs[dev].node, strerror(errno));
    return fd;
}

int mi_call_fd(int fd, const char *tag, unsigned long request, void *payload, size_t len) {
    int ret;
    if (len == 0) {
        ret = mi_node_ioctl(fd, request, payload);
    } else {
        mi_ioctl_arg_t arg;
        arg.len = (int32_t)len;
        arg.reserved = 0;
        // Sign-extended widening, as the driver expects from a 32-bit process.
        arg.addr = (uint64_t)(int64_t)(intptr_t)payload;
        ret = mi_node_ioctl(fd, request, &arg);
    }
    if (ret == -1) printf("[%s] failed to ioctl 0x%08lx!(%s)\n", tag, request, strerror(errno));
    return ret;
}

int mi_call(mi_dev_e dev, unsigned long request, void *payload, size_t len) {
    return mi_call_fd(mi_device_open(dev), kDevs[dev].tag, request, payload, len);
}

MI_DBG_LEVEL_e _MI_PRINT_GetDebugLevel(const char *name) {
    char path[256];
    snprintf(path, sizeof(path), "%s/mi_%s/debug_level", mi_debug_level_root(), name);
    FILE *f = fopen(path, "r");
    if (!f) return MI_DBG_NONE;
    int level = 0;
    if (fscanf(f, "%d", &level) != 1) level = 0;
    fclose(f);
    return (MI_DBG_LEVEL_e)level;
}
