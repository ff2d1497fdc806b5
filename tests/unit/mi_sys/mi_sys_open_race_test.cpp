// A process whose first system calls come from several threads at once opens
// the node once. Its own executable, so that nothing has opened it before.
#include <stdlib.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "mi_internal.h"
#include "mi_sys.h"
#include "vb.h"

namespace {

// A private board directory (control socket, debug levels), not /tmp/vb.
struct PrivateBoardRoot {
    std::string dir;
    PrivateBoardRoot() {
        char tmpl[] = "/tmp/ut_mi_sys_open.XXXXXX";
        if (mkdtemp(tmpl)) {
            dir = tmpl;
            setenv("VB_ROOT", tmpl, 1);
        }
    }
    ~PrivateBoardRoot() {
        if (!dir.empty()) (void)!system(("rm -rf '" + dir + "'").c_str());
    }
} g_root;

size_t sys_nodes_open() {
    size_t n = 0;
    for (int fd = 0; fd < 1024; ++fd) n += vb::node_of(fd) == "/dev/mi_sys";
    return n;
}

TEST(SysOpenRace, RacingFirstCallsOpenTheNodeOnce) {
    constexpr int kThreads = 8;
    std::atomic<int> ready{0};
    int fds[kThreads];
    int results[kThreads];
    std::vector<std::thread> th;
    for (int i = 0; i < kThreads; ++i)
        th.emplace_back([&, i] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) {
            }
            MI_U64 pts;
            results[i] = MI_SYS_GetCurPts(0, &pts);
            fds[i] = mi_device_open(MI_DEV_SYS);
        });
    for (auto &t : th) t.join();
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(results[i], 0) << "thread " << i;
        EXPECT_GE(fds[i], 0);
        EXPECT_EQ(fds[i], fds[0]) << "thread " << i;
    }
    EXPECT_EQ(sys_nodes_open(), 1u);
}

}  // namespace
