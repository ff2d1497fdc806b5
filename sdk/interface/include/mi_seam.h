// The one place where the platforms differ: open/ioctl/close of the media
// device nodes. board: the real system calls. sim: the virtual board's
// drivers in this process (every descriptor is a real eventfd or pipe).
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

int mi_node_open(const char *path, int flags);
int mi_node_ioctl(int fd, unsigned long request, void *arg);
int mi_node_close(int fd);
// Where the per-module debug level text lives ("/proc/mi_modules" on the board).
const char *mi_debug_level_root(void);

#ifdef __cplusplus
}
#endif
