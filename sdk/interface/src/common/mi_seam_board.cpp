// Platform board: the media device nodes are real.
#include <sys/ioctl.h>
#include <unistd.h>
#include <fcntl.h>

#include "mi_seam.h"

#if defined(VIDREC_BOARD)
extern "C" int mi_node_open(const char *path, int flags) { return open(path, flags); }
extern "C" int mi_node_ioctl(int fd, unsigned long request, void *arg) { return ioctl(fd, request, arg); }
extern "C" int mi_node_close(int fd) { return close(fd); }
extern "C" const char *mi_debug_level_root(void) { return "/proc/mi_modules"; }
#endif
