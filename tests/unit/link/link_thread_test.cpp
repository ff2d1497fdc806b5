// The serial thread end to end on a pseudo-terminal that appears only after
// the thread has started (as a port that is not there yet at boot).
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "link_test_util.h"
#include "uart_proto.h"
#include "usb_detect.h"
#include "user_setting.h"

static ScratchDir* g_dir;
static int g_master = -1;

// Id of this process's thread named `want`, or -1.
static int ThreadTid(const std::string& want) {
    DIR* d = opendir("/proc/self/task");
    if (!d) return -1;
    int tid = -1;
    while (struct dirent* e = readdir(d)) {
        std::ifstream f(std::string("/proc/self/task/") + e->d_name + "/comm");
        std::string name;
        if (std::getline(f, name) && name == want) tid = atoi(e->d_name);
    }
    closedir(d);
    return tid;
}

// Times the thread was switched out (each wake-up adds one).
static long Switches(int tid) {
    std::ifstream f("/proc/self/task/" + std::to_string(tid) + "/status");
    std::string key;
    long v, sum = 0;
    while (f >> key)
        if (key == "voluntary_ctxt_switches:" || key == "nonvoluntary_ctxt_switches:") {
            if (f >> v) sum += v;
        }
    return sum;
}

class SerialThread : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        g_dir = new ScratchDir();
        static std::string port = *g_dir / "ttyS2";
        ST_USB_PATHS p = {"/nonexistent", "/nonexistent", "/nonexistent", "/nonexistent", "/nonexistent", "/tmp"};
        static ST_USB_PATHS keep = p;
        UsbDetectSetPaths(&keep);
        DevDiskXInit();
        UartSetDevPath(port.c_str());
        UartRecvQueueInit();
        pthread_t t;
        ASSERT_EQ(0, pthread_create(&t, nullptr, UartDataProc, nullptr));
        pthread_detach(t);
        // The port is missing for a while: the thread must keep trying.
        usleep(1'300'000);
        g_master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(g_master, 0);
        ASSERT_EQ(0, grantpt(g_master));
        ASSERT_EQ(0, unlockpt(g_master));
        const char* slave = ptsname(g_master);
        ASSERT_NE(nullptr, slave);
        // Raw before the thread opens it, or the line discipline echoes.
        int s = open(slave, O_RDWR | O_NOCTTY);
        struct termios tio;
        tcgetattr(s, &tio);
        cfmakeraw(&tio);
        tcsetattr(s, TCSANOW, &tio);
        ASSERT_EQ(0, symlink(slave, port.c_str()));
        fcntl(g_master, F_SETFL, O_NONBLOCK);
        // Keep our slave descriptor open so the pty never reads as hung up.
    }
    static void TearDownTestSuite() {
        delete g_dir;  // the thread keeps its open descriptor
        g_dir = nullptr;
    }
    static void Send(const Bytes& b) {
        ASSERT_EQ((ssize_t)b.size(), write(g_master, b.data(), b.size()));
    }
    static std::vector<Bytes> Only(const std::vector<Bytes>& fr, uint8_t cmd) {
        std::vector<Bytes> out;
        for (auto& f : fr)
            if (f[16] == cmd) out.push_back(f);
        return out;
    }
};

TEST_F(SerialThread, OpensLatePortAndBeatsEverySecond) {
    auto fr = ReadFrames(g_master, 2, 4000);
    ASSERT_GE(fr.size(), 2u);
    for (auto& f : fr) {
        EXPECT_EQ(45u, f.size());
        EXPECT_EQ(0xBB, f[16]);
        EXPECT_EQ(0x10, f[18]);
        EXPECT_EQ(0x09, f[19]);
        EXPECT_EQ(0x26, f[20]);
    }
    EXPECT_GT(ThreadTid("UartDataProc"), 0);
}

TEST_F(SerialThread, AnswersAfterBadAndCutShortFrames) {
    Bytes good = MakeFrame({.cmd = 0x03, .payload = {1}, .devId = 0x5A});
    Bytes bad = good;
    bad[18] ^= 0xFF;  // checksum
    Send(bad);
    Send(Bytes(good.begin(), good.begin() + 12));  // cut short
    usleep(200'000);
    DrainFd(g_master);
    Send(good);
    auto rep = Only(ReadFrames(g_master, 1, 2000), 0x03);
    // Beats may come in between; wait for the reply itself.
    for (int i = 0; i < 3 && rep.empty(); i++) rep = Only(ReadFrames(g_master, 1, 1000), 0x03);
    ASSERT_EQ(1u, rep.size());
    EXPECT_EQ(0x5A, rep[0][5]);
    EXPECT_EQ(0x01, rep[0][17]);
}

TEST_F(SerialThread, BurstOfThirtyIsAnsweredCompletely) {
    DrainFd(g_master);
    Bytes burst;
    for (int i = 0; i < 30; i++) {
        Bytes f = MakeFrame({.cmd = 0x04, .payload = Bytes(40, (uint8_t)i), .devId = (uint8_t)i});
        burst.insert(burst.end(), f.begin(), f.end());
    }
    Send(burst);
    std::vector<Bytes> rep;
    Bytes acc;
    for (int tries = 0; tries < 50 && rep.size() < 30; tries++) {
        usleep(50'000);
        Bytes b = DrainFd(g_master);
        acc.insert(acc.end(), b.begin(), b.end());
        rep = Only(SplitFrames(acc), 0x04);
    }
    ASSERT_EQ(30u, rep.size());
    for (int i = 0; i < 30; i++) EXPECT_EQ(i, rep[i][5]);
}

TEST_F(SerialThread, SleepsWhileTheLineIsQuiet) {
    int tid = ThreadTid("UartDataProc");
    ASSERT_GT(tid, 0);
    DrainFd(g_master);
    long before = Switches(tid);
    usleep(2'000'000);
    // Two beats and their writes; a thread that polled each millisecond woke 2000 times.
    EXPECT_LT(Switches(tid) - before, 20);
}
