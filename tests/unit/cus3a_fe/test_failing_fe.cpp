// A front-end node that fails (hang-up: poll returns at once, read gives
// nothing) costs the 3A thread almost nothing: each failure waits like a
// short timeout instead of spinning.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "cus3a_entry.h"
#include "vb.h"

namespace {

class HungUpFe : public vb::Driver {
public:
    int ioctl(int, unsigned long, void *, size_t) override { return -EINVAL; }
    void on_open(int fd) override {
        int sv[2];
        ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv));
        ASSERT_EQ(fd, dup3(sv[0], fd, O_CLOEXEC));
        close(sv[0]);
        close(sv[1]);  // no peer: hang-up
    }
};

// Nanoseconds on a CPU of the thread with this name, or -1.
long long cpu_ns(const char *name) {
    DIR *d = opendir("/proc/self/task");
    long long ns = -1;
    while (dirent *e = d ? readdir(d) : nullptr) {
        const std::string task = std::string("/proc/self/task/") + e->d_name;
        std::string comm;
        std::getline(std::ifstream(task + "/comm"), comm);
        if (comm == name) std::ifstream(task + "/schedstat") >> ns;
    }
    if (d) closedir(d);
    return ns;
}

TEST(FailingFrontEnd, ThreadWaitsInsteadOfSpinning) {
    static HungUpFe fe;
    vb::driver_for("/dev/isp_fe");  // the board's own drivers first, then ours over it
    vb::register_driver("/dev/isp_fe", &fe);
    testing::internal::CaptureStderr();
    ASSERT_EQ(0, CUS3A_Init(0));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long long a = cpu_ns("3A_Proc_0");
    ASSERT_GE(a, 0);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const long long b = cpu_ns("3A_Proc_0");
    const std::string out = testing::internal::GetCapturedStderr();
    // Spinning takes all of the 2 s; waiting, a few ms (more under emulation
    // or a sanitizer, and on a loaded machine).
    EXPECT_LT(b - a, 100000000LL) << "3A thread used " << (b - a) / 1000000 << " ms of 2000";
    // Said once, not at every retry.
    size_t first = out.find("[Cus3A_ProcRoutine] err.");
    EXPECT_NE(std::string::npos, first) << out;
    EXPECT_EQ(std::string::npos, out.find("[Cus3A_ProcRoutine] err.", first + 1)) << out;
}

}  // namespace
