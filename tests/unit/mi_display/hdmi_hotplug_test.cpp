// The HDMI hot-plug watcher: each plug and unplug reaches the callback once,
// also after repeated de-init/init cycles, with exactly one watcher thread
// alive; failed reads and a failed thread start are handled.
#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mi_hdmi.h"
#include "mi_hdmi_internal.h"
#include "mi_hdmi_ioctl.h"
#include "vb.h"
#include "vb_display.h"

namespace {

using namespace std::chrono_literals;

// A private board directory, so the debug level written below touches no one else.
const bool g_root_set = [] {
    static std::string root = "/tmp/vb-ut-hdmi-" + std::to_string(getpid());
    setenv("VB_ROOT", root.c_str(), 1);
    return true;
}();

// Removes the private board directory when the tests are done.
class RootCleanup : public ::testing::Environment {
public:
    void TearDown() override {
        std::string cmd = "rm -rf '" + vb::root_dir() + "'";
        if (system(cmd.c_str()) != 0) fprintf(stderr, "could not remove %s\n", vb::root_dir().c_str());
    }
};
::testing::Environment *const g_cleanup = ::testing::AddGlobalTestEnvironment(new RootCleanup);

const char *kHdmi = "/dev/mi_hdmi";
// Longer than one watcher period: a second report of the same change would
// have arrived by then.
constexpr auto kSettle = 650ms;
constexpr auto kEventWait = 3s;

struct Event {
    int dev;
    int type;
    void *info;
    void *usr;
};

struct Recorder {
    std::mutex mu;
    std::condition_variable cv;
    std::vector<Event> events;

    void add(Event e) {
        std::lock_guard<std::mutex> g(mu);
        events.push_back(e);
        cv.notify_all();
    }
    bool wait_for(size_t n, std::chrono::milliseconds within = std::chrono::duration_cast<std::chrono::milliseconds>(kEventWait)) {
        std::unique_lock<std::mutex> g(mu);
        return cv.wait_for(g, within, [&] { return events.size() >= n; });
    }
    std::vector<Event> snapshot() {
        std::lock_guard<std::mutex> g(mu);
        return events;
    }
    void clear() {
        std::lock_guard<std::mutex> g(mu);
        events.clear();
    }
};

Recorder g_rec;
Recorder g_rec2;

MI_S32 on_event(MI_HDMI_DeviceId_e dev, MI_HDMI_EventType_e ev, void *info, void *usr) {
    g_rec.add({(int)dev, (int)ev, info, usr});
    return 0;
}

MI_S32 on_event2(MI_HDMI_DeviceId_e dev, MI_HDMI_EventType_e ev, void *info, void *usr) {
    g_rec2.add({(int)dev, (int)ev, info, usr});
    return 0;
}

int count_watchers() {
    int n = 0;
    DIR *d = opendir("/proc/self/task");
    if (!d) return -1;
    while (dirent *e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::string path = std::string("/proc/self/task/") + e->d_name + "/comm";
        FILE *f = fopen(path.c_str(), "r");
        if (!f) continue;
        char name[64] = {0};
        if (fgets(name, sizeof name, f) && std::string(name) == "mi_hdmi_process\n") ++n;
        fclose(f);
    }
    closedir(d);
    return n;
}

// A watcher that has ended may still be leaving the kernel's task list for a
// moment: wait (bounded) for the count to settle at `n`, return what is seen.
int settle_watchers(int n) {
    auto until = std::chrono::steady_clock::now() + 1s;
    int c = count_watchers();
    while (c != n && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(2ms);
        c = count_watchers();
    }
    return c;
}

size_t attr_reads() {
    size_t n = 0;
    for (auto &e : vb::trace(kHdmi))
        if (e.code == MI_HDMI_GET_ATTR) ++n;
    return n;
}

// One request on the board's control socket; the reply without its "\n.\n" end.
std::string ctl_socket(const std::string &line) {
    std::string path = vb::root_dir() + "/ctl.sock";
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return "socket failed";
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    snprintf(sa.sun_path, sizeof sa.sun_path, "%s", path.c_str());
    std::string reply;
    if (connect(fd, (sockaddr *)&sa, sizeof sa) == 0) {
        std::string req = line + "\n";
        if (send(fd, req.data(), req.size(), MSG_NOSIGNAL) == (ssize_t)req.size()) {
            char buf[256];
            while (reply.find("\n.\n") == std::string::npos) {
                ssize_t n = recv(fd, buf, sizeof buf, 0);
                if (n <= 0) break;
                reply.append(buf, (size_t)n);
            }
        }
    }
    close(fd);
    size_t end = reply.find("\n.\n");
    return end == std::string::npos ? "no reply: " + reply : reply.substr(0, end);
}

void set_debug_level(int level) {
    std::string dir = vb::root_dir() + "/proc/mi_modules/mi_hdmi";
    std::string cmd = "mkdir -p " + dir;
    ASSERT_EQ(system(cmd.c_str()), 0);
    FILE *f = fopen((dir + "/debug_level").c_str(), "w");
    ASSERT_NE(f, nullptr);
    fprintf(f, "%d\n", level);
    fclose(f);
}

class HdmiHotplug : public ::testing::Test {
protected:
    MI_HDMI_InitParam_t param_{on_event, nullptr};

    void SetUp() override {
        ASSERT_TRUE(g_root_set);
        vb::display::hdmi_plug(false);
        vb::inject_clear();
        vb::trace_clear();
        g_rec.clear();
        g_rec2.clear();
        mi_hdmi_set_thread_start(nullptr);
    }
    void TearDown() override {
        MI_HDMI_DeInit();
        vb::inject_clear();
        mi_hdmi_set_thread_start(nullptr);
        vb::display::hdmi_plug(false);
    }

    // Plug, then unplug: one report each, of the right kind.
    void expect_plug_and_unplug_once() {
        size_t base = g_rec.snapshot().size();
        vb::display::hdmi_plug(true);
        ASSERT_TRUE(g_rec.wait_for(base + 1)) << "no hot-plug report";
        std::this_thread::sleep_for(kSettle);
        auto ev = g_rec.snapshot();
        ASSERT_EQ(ev.size(), base + 1);
        EXPECT_EQ(ev.back().type, E_MI_HDMI_EVENT_HOTPLUG);
        EXPECT_EQ(ev.back().dev, 0);
        EXPECT_EQ(ev.back().info, nullptr);
        EXPECT_EQ(ev.back().usr, nullptr);

        vb::display::hdmi_plug(false);
        ASSERT_TRUE(g_rec.wait_for(base + 2)) << "no unplug report";
        std::this_thread::sleep_for(kSettle);
        ev = g_rec.snapshot();
        ASSERT_EQ(ev.size(), base + 2);
        EXPECT_EQ(ev.back().type, E_MI_HDMI_EVENT_NO_PLUG);
    }
};

TEST_F(HdmiHotplug, PlugAndUnplugReachTheCallbackOnceEach) {
    ASSERT_EQ(MI_HDMI_Init(&param_), 0);
    EXPECT_EQ(settle_watchers(1), 1);
    expect_plug_and_unplug_once();
    ASSERT_EQ(MI_HDMI_DeInit(), 0);
    EXPECT_EQ(settle_watchers(0), 0);
}

TEST_F(HdmiHotplug, CablePluggedThroughTheControlSocketWhileRunning) {
    ASSERT_EQ(MI_HDMI_Init(&param_), 0);
    EXPECT_EQ(ctl_socket("hdmi plug"), "ok");
    ASSERT_TRUE(g_rec.wait_for(1));
    EXPECT_EQ(ctl_socket("hdmi unplug"), "ok");
    ASSERT_TRUE(g_rec.wait_for(2));
    auto ev = g_rec.snapshot();
    EXPECT_EQ(ev[0].type, E_MI_HDMI_EVENT_HOTPLUG);
    EXPECT_EQ(ev[1].type, E_MI_HDMI_EVENT_NO_PLUG);
    EXPECT_EQ(ctl_socket("hdmi").rfind("cable unplugged init 1", 0), 0u);
}

TEST_F(HdmiHotplug, TenReinitCyclesLeaveExactlyOneWatcher) {
    ASSERT_EQ(MI_HDMI_Init(&param_), 0);
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(MI_HDMI_DeInit(), 0);
        EXPECT_EQ(settle_watchers(0), 0) << "cycle " << i;
        ASSERT_EQ(MI_HDMI_Init(&param_), 0);
        EXPECT_EQ(settle_watchers(1), 1) << "cycle " << i;
    }
    expect_plug_and_unplug_once();
    EXPECT_EQ(count_watchers(), 1);
    ASSERT_EQ(MI_HDMI_DeInit(), 0);
    EXPECT_EQ(settle_watchers(0), 0);
}

TEST_F(HdmiHotplug, SecondInitKeepsTheFirstCallbackAndSaysSo) {
    ASSERT_EQ(MI_HDMI_Init(&param_), 0);
    MI_HDMI_InitParam_t other{on_event2, nullptr};
    set_debug_level(5);
    testing::internal::CaptureStdout();
    EXPECT_EQ(MI_HDMI_Init(&other), 0);
    fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    set_debug_level(0);
    EXPECT_NE(out.find("Thread alrady running..."), std::string::npos) << out;
    EXPECT_EQ(settle_watchers(1), 1);
    vb::display::hdmi_plug(true);
    ASSERT_TRUE(g_rec.wait_for(1));
    std::this_thread::sleep_for(kSettle);
    EXPECT_EQ(g_rec.snapshot().size(), 1u);
    EXPECT_TRUE(g_rec2.snapshot().empty());
}

TEST_F(HdmiHotplug, InformationLineOnlyAboveLevelFour) {
    ASSERT_EQ(MI_HDMI_Init(&param_), 0);
    set_debug_level(4);
    testing::internal::CaptureStdout();
    EXPECT_EQ(MI_HDMI_Init(&param_), 0);
    fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    set_debug_level(0);
    EXPECT_EQ(out.find("alrady"), std::string::npos) << out;
}

TEST_F(HdmiHotplug, WithoutCallbackTheWatcherPollsAndReportsNothing) {
    MI_HDMI_InitParam_t none{nullptr, nullptr};
    ASSERT_EQ(MI_HDMI_Init(&none), 0);
    EXPECT_EQ(settle_watchers(1), 1);
    size_t before = attr_reads();
    vb::display::hdmi_plug(true);
    std::this_thread::sleep_for(kSettle);
    EXPECT_GT(attr_reads(), before);  // it still watches
    ASSERT_EQ(MI_HDMI_DeInit(), 0);
    // A missing parameter record is the same as no callback.
    ASSERT_EQ(MI_HDMI_Init(nullptr), 0);
    EXPECT_EQ(settle_watchers(1), 1);
    vb::display::hdmi_plug(false);
    std::this_thread::sleep_for(kSettle);
    EXPECT_TRUE(g_rec.snapshot().empty());
}

TEST_F(HdmiHotplug, FailedReadsReportNothingAndKeepTheLastState) {
    ASSERT_EQ(MI_HDMI_Init(&param_), 0);
    vb::inject(kHdmi, MI_HDMI_GET_ATTR, (int)0xA00B2010);
    vb::display::hdmi_plug(true);
    std::this_thread::sleep_for(kSettle);
    EXPECT_TRUE(g_rec.snapshot().empty());
    vb::inject_clear();
    ASSERT_TRUE(g_rec.wait_for(1));
    std::this_thread::sleep_for(kSettle);
    auto ev = g_rec.snapshot();
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].type, E_MI_HDMI_EVENT_HOTPLUG);
}

TEST_F(HdmiHotplug, FirstStateFromAFailedReadIsNotConnected) {
    // The cable is in before the watcher starts and its first read fails: the
    // watcher starts from a cleared record, so the next read reports the plug.
    vb::display::hdmi_plug(true);
    vb::inject(kHdmi, MI_HDMI_GET_ATTR, -1, 1);
    ASSERT_EQ(MI_HDMI_Init(&param_), 0);
    ASSERT_TRUE(g_rec.wait_for(1));
    std::this_thread::sleep_for(kSettle);
    auto ev = g_rec.snapshot();
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].type, E_MI_HDMI_EVENT_HOTPLUG);
}

TEST_F(HdmiHotplug, CableAlreadyInAtStartIsNotReported) {
    vb::display::hdmi_plug(true);
    ASSERT_EQ(MI_HDMI_Init(&param_), 0);
    std::this_thread::sleep_for(kSettle);
    EXPECT_TRUE(g_rec.snapshot().empty());
}

int fail_start(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *) { return EAGAIN; }

TEST_F(HdmiHotplug, FailedThreadStartIsReportedAndUndone) {
    mi_hdmi_set_thread_start(fail_start);
    testing::internal::CaptureStdout();
    MI_S32 ret = MI_HDMI_Init(&param_);
    fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(ret, MI_HDMI_ERR_NOMEM);
    EXPECT_NE(out.find("failed to start the hot-plug watcher"), std::string::npos) << out;
    EXPECT_EQ(settle_watchers(0), 0);
    auto t = vb::trace(kHdmi);
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].code, (unsigned long)MI_HDMI_INIT);
    EXPECT_EQ(t[1].code, (unsigned long)MI_HDMI_DEINIT);  // the driver is left as before

    // Nothing is left marked running: the next init starts a watcher.
    mi_hdmi_set_thread_start(nullptr);
    ASSERT_EQ(MI_HDMI_Init(&param_), 0);
    EXPECT_EQ(settle_watchers(1), 1);
    vb::display::hdmi_plug(true);
    ASSERT_TRUE(g_rec.wait_for(1));
}

TEST_F(HdmiHotplug, DriverRefusalOfInitStartsNoWatcher) {
    vb::inject(kHdmi, MI_HDMI_INIT, (int)0xA00B2010, 1);
    EXPECT_EQ(MI_HDMI_Init(&param_), (MI_S32)0xA00B2010);
    EXPECT_EQ(settle_watchers(0), 0);
    vb::inject(kHdmi, MI_HDMI_INIT, -1, 1);
    EXPECT_EQ(MI_HDMI_Init(&param_), -1);
    EXPECT_EQ(settle_watchers(0), 0);
}

std::atomic<bool> g_in_slow_cb{false};
std::atomic<bool> g_slow_cb_done{false};

MI_S32 slow_event(MI_HDMI_DeviceId_e, MI_HDMI_EventType_e, void *, void *) {
    g_in_slow_cb = true;
    std::this_thread::sleep_for(300ms);
    g_slow_cb_done = true;
    g_in_slow_cb = false;
    return 0;
}

TEST_F(HdmiHotplug, DeInitReturnsOnlyAfterARunningCallbackFinished) {
    g_in_slow_cb = false;
    g_slow_cb_done = false;
    MI_HDMI_InitParam_t p{slow_event, nullptr};
    ASSERT_EQ(MI_HDMI_Init(&p), 0);
    vb::display::hdmi_plug(true);
    auto until = std::chrono::steady_clock::now() + kEventWait;
    while (!g_in_slow_cb && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(5ms);
    ASSERT_TRUE(g_in_slow_cb.load());
    ASSERT_EQ(MI_HDMI_DeInit(), 0);
    EXPECT_TRUE(g_slow_cb_done.load());
    EXPECT_EQ(settle_watchers(0), 0);
}

MI_S32 deinit_from_callback(MI_HDMI_DeviceId_e, MI_HDMI_EventType_e ev, void *, void *) {
    g_rec.add({0, (int)ev, nullptr, nullptr});
    MI_HDMI_DeInit();
    return 0;
}

TEST_F(HdmiHotplug, DeInitFromTheCallbackEndsTheWatcher) {
    MI_HDMI_InitParam_t p{deinit_from_callback, nullptr};
    ASSERT_EQ(MI_HDMI_Init(&p), 0);
    vb::display::hdmi_plug(true);
    ASSERT_TRUE(g_rec.wait_for(1));
    EXPECT_EQ(settle_watchers(0), 0);
    vb::display::hdmi_plug(false);
    std::this_thread::sleep_for(kSettle);
    EXPECT_EQ(g_rec.snapshot().size(), 1u);
}

TEST_F(HdmiHotplug, NullAttributeReadIsRefusedWithItsMessage) {
    set_debug_level(1);
    testing::internal::CaptureStdout();
    MI_S32 ret = MI_HDMI_GetAttr(E_MI_HDMI_ID_0, nullptr);
    fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    set_debug_level(0);
    EXPECT_EQ(ret, (MI_S32)0xA00B2003);
    EXPECT_NE(out.find("[MI ERR ]"), std::string::npos) << out;
    EXPECT_NE(out.find("[hdmi_api]["), std::string::npos) << out;
    EXPECT_NE(out.find("]MI_HDMI_GetAttr param invaild!\n"), std::string::npos) << out;
    EXPECT_TRUE(vb::trace(kHdmi).empty());
}

}  // namespace
