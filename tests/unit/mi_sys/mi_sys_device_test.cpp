// The module's node: opened once per process, again in a forked child, and
// not inherited by exec.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "mi_internal.h"
#include "mi_sys.h"
#include "mi_sys_test_util.h"
#include "vb.h"

using namespace mi_sys_test;

namespace {

TEST(SysDevice, OpenedOnceAndCloseOnExec) {
    MI_U64 pts;
    ASSERT_EQ(MI_SYS_GetCurPts(0, &pts), 0);
    int fd = mi_device_open(MI_DEV_SYS);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(vb::node_of(fd), "/dev/mi_sys");
    int flags = fcntl(fd, F_GETFD);
    ASSERT_GE(flags, 0);
    EXPECT_TRUE(flags & FD_CLOEXEC);
    auto before = open_fds_of("/dev/mi_sys");
    for (int i = 0; i < 5; ++i) ASSERT_EQ(MI_SYS_GetCurPts(0, &pts), 0);
    EXPECT_EQ(mi_device_open(MI_DEV_SYS), fd);
    EXPECT_EQ(open_fds_of("/dev/mi_sys"), before);
}

// Child exit codes: 0 ok, otherwise the number of the failed check.
int child_reopens(int parent_fd) {
    MI_U64 pts = 0;
    if (MI_SYS_GetCurPts(0, &pts) != 0) return 1;
    int fd = mi_device_open(MI_DEV_SYS);
    if (fd < 0 || fd == parent_fd) return 2;
    if (fcntl(parent_fd, F_GETFD) < 0) return 3;  // the inherited one stays open
    if (!(fcntl(fd, F_GETFD) & FD_CLOEXEC)) return 4;
    if (mi_device_open(MI_DEV_SYS) != fd) return 5;
    return 0;
}

TEST(SysDevice, ForkedChildOpensItsOwnDescriptor) {
    MI_U64 pts;
    ASSERT_EQ(MI_SYS_GetCurPts(0, &pts), 0);
    int parent_fd = mi_device_open(MI_DEV_SYS);
    fflush(nullptr);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(child_reopens(parent_fd));
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(mi_device_open(MI_DEV_SYS), parent_fd);
}

}  // namespace
