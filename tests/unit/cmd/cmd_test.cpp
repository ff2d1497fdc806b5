// Command handler: request frames in, reply frames out of the same buffer.
// Runs in a private network namespace (as root) so the network commands
// cannot reach this machine's interfaces; the clock is never set here.
#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "mp4_record.h"
#include "net_config.h"
#include "proto_cmd.h"
#include "rtmp_publish.h"
#include "uart_proto.h"
#include "usb_detect.h"
#include "user_setting.h"
#include "mi_venc_ioctl.h"
#include "vb.h"

namespace {

bool g_private_net = false;

class NetEnv : public ::testing::Environment {
public:
    void SetUp() override {
#if !defined(__arm__)
        if (geteuid() == 0 && unshare(CLONE_NEWNET) == 0)
            g_private_net = system("ip link add eth0 type veth peer name eth0p && ip link set eth0 up && ip link set lo up") == 0;
#endif
    }
};
const auto *g_env = ::testing::AddGlobalTestEnvironment(new NetEnv);

using Bytes = std::vector<uint8_t>;

Bytes request(uint8_t cmd, const Bytes &payload, uint8_t byte4 = 0xE0) {
    std::vector<uint8_t> f(UART_BAG_SIZE, 0);
    uint16_t len = (uint16_t)(payload.size() + 20);
    f[0] = 0xA5;
    f[1] = 0x6C;
    f[2] = (uint8_t)len;
    f[3] = (uint8_t)(len >> 8);
    f[4] = byte4;
    f[16] = cmd;
    std::copy(payload.begin(), payload.end(), f.begin() + 17);
    uint16_t sum = CalcCheckSum(f.data(), (uint16_t)(len - 3));
    f[len - 3] = (uint8_t)sum;
    f[len - 2] = (uint8_t)(sum >> 8);
    f[len - 1] = 0xAE;
    return f;
}

// Handles the request; returns the reply payload (checked for a well-formed frame).
Bytes handle(uint8_t cmd, const Bytes &payload, uint16_t *replyLen = nullptr) {
    Bytes f = request(cmd, payload);
    uint16_t n = ProtoRecvBagHandle(f.data());
    if (replyLen) *replyLen = n;
    EXPECT_GE(n, UART_BAG_MIN);
    if (n < UART_BAG_MIN) return {};
    EXPECT_EQ((f[2] | (f[3] << 8)) & 0x7ff, n);
    EXPECT_EQ(f[4], 0xE0);
    EXPECT_EQ(f[16], cmd);
    uint16_t sum = CalcCheckSum(f.data(), (uint16_t)(n - 3));
    EXPECT_EQ(f[n - 3], (uint8_t)sum);
    EXPECT_EQ(f[n - 2], (uint8_t)(sum >> 8));
    EXPECT_EQ(f[n - 1], 0xAE);
    return Bytes(f.begin() + 17, f.begin() + n - 3);
}

class Cmd : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/ut_cmd_XXXXXX";
        dir_ = mkdtemp(tmpl);
        mkdir((dir_ + "/url").c_str(), 0755);
        RtmpUrlSetDirs((dir_ + "/url").c_str(), (dir_ + "/url").c_str());
        userpara_ = dir_ + "/userpara";
        ProtoSetUserParaPath(userpara_.c_str());
        netip_ = dir_ + "/netIp";
        resolv_ = dir_ + "/resolv.conf";
        g_netPaths.netip = netip_.c_str();
        g_netPaths.resolv = resolv_.c_str();
        ASSERT_EQ(pipe2(uart_, O_NONBLOCK), 0);
        g_UartFd = uart_[1];
        memset(&g_stUserSet, 0, sizeof g_stUserSet);
        g_Mp4State = State_Mp4_Init;
        g_NetInfoEx.ucDhcpFlag = 1;
    }
    void TearDown() override {
        RtmpUrlSetDirs(nullptr, nullptr);
        ProtoSetUserParaPath(nullptr);
        g_netPaths = NetPaths{};
        g_UartFd = -1;
        close(uart_[0]);
        close(uart_[1]);
        (void)!system(("rm -rf " + dir_).c_str());
    }
    static std::string read(const std::string &p) {
        std::ifstream f(p, std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }
    std::string dir_, userpara_, netip_, resolv_;
    int uart_[2];
};

TEST_F(Cmd, NoReplyWhenByteFourIsZero) {
    Bytes f = request(32, {}, 0);
    Bytes before = f;
    EXPECT_EQ(ProtoRecvBagHandle(f.data()), 0);
    EXPECT_EQ(f, before);
}

TEST_F(Cmd, UnknownAndLowCommandsAnswerCommandError) {
    for (uint8_t c : {0, 4, 6, 200}) EXPECT_EQ(handle(c, {}), Bytes{1}) << int(c);
}

TEST_F(Cmd, IdentityAndStatusReplies) {
    EXPECT_EQ(handle(32, {}), (Bytes{0, 0x10, 0x09}));
    EXPECT_EQ(handle(33, {}), (Bytes{0, 0x26}));
    UserSetPut(UsrBits::RecStatus, 2);
    EXPECT_EQ(handle(97, {}), (Bytes{0, 2}));
    UserSetPut(UsrBits::InputState, 1);
    EXPECT_EQ(handle(83, {}), (Bytes{0, 1}));
    g_NetInfoEx.ucMac[2] = 0xAB;
    g_NetInfoEx.ucMac[5] = 0xCD;
    Bytes dev = handle(255, {});
    ASSERT_EQ(dev.size(), 15u);
    EXPECT_EQ(std::string(dev.begin() + 1, dev.begin() + 8), "EnCoder");
    EXPECT_EQ(Bytes(dev.begin() + 8, dev.end()), (Bytes{0x2D, 0x26, 0x2D, 0xAB, 0, 0, 0xCD}));
    uint16_t n;
    EXPECT_TRUE(handle(114, {0, 2}, &n).empty());
    EXPECT_EQ(n, 20);
    EXPECT_EQ(UserSetGet(UsrBits::Rotate), 2);
}

TEST_F(Cmd, ShortRequestsChangeNothing) {
    g_stUserSet.ucBitRate[0] = 7;
    EXPECT_EQ(handle(49, {0}), Bytes{2});
    EXPECT_EQ(g_stUserSet.ucBitRate[0], 7);
    EXPECT_EQ(handle(103, Bytes(100, 1)), Bytes{2});
    EXPECT_EQ(handle(84, {0x21, 0x03}), Bytes{2});
    EXPECT_EQ(handle(96, {}), Bytes{2});
    EXPECT_EQ(UserSetGet(UsrBits::SaveOnOff), 0);
}

TEST_F(Cmd, OutOfRangeStreamsAndModesChangeNothing) {
    g_stUserSet.ucRcMode[1] = 1;
    EXPECT_EQ(handle(48, {2, 5}), Bytes{3});
    EXPECT_EQ(handle(49, {9, 5}), Bytes{3});
    EXPECT_EQ(handle(50, {2, 1}), Bytes{3});
    EXPECT_EQ(g_stUserSet.ucRcMode[1], 1);
    EXPECT_EQ(handle(48, {1, 0}), Bytes{0});
    EXPECT_EQ(g_stUserSet.ucRcMode[1], 0);
    UserSetPut(UsrBits::RecReso, 3);
    EXPECT_EQ(handle(25, {4}), Bytes{3});  // 4 is no input mode
    EXPECT_EQ(UserSetGet(UsrBits::RecReso), 3);
    EXPECT_EQ(access(userpara_.c_str(), F_OK), -1);
}

TEST_F(Cmd, RecordingSwitchNeedsStorage) {
    UserSetPut(UsrBits::SaveOnOff, 1);
    EXPECT_EQ(handle(96, {0}), Bytes{2});  // no storage: "off" changes nothing either
    EXPECT_EQ(UserSetGet(UsrBits::SaveOnOff), 1);
    EXPECT_EQ(g_Mp4State.load(), State_Mp4_Init);
}

TEST_F(Cmd, PauseOnlyWhileRecording) {
    EXPECT_EQ(handle(101, {1}), Bytes{0});
    EXPECT_EQ(g_Mp4State.load(), State_Mp4_Init);
    EXPECT_EQ(UserSetGet(UsrBits::SavePause), 0);
    UserSetPut(UsrBits::SaveOnOff, 1);
    EXPECT_EQ(handle(101, {1}), Bytes{0});
    EXPECT_EQ(g_Mp4State.load(), State_Mp4_Wait);
    EXPECT_EQ(UserSetGet(UsrBits::RecStatus), 2);
    EXPECT_EQ(handle(101, {0}), Bytes{0});
    EXPECT_EQ(g_Mp4State.load(), State_Mp4_WriteFile);
    EXPECT_EQ(UserSetGet(UsrBits::RecStatus), 1);
}

TEST_F(Cmd, RtmpSwitchAndDestinations) {
    EXPECT_EQ(handle(102, {1, 20}), Bytes{3});
    EXPECT_EQ(UserSetGet(UsrBits::RtmpOnOff), 0);
    EXPECT_EQ(handle(102, {2, 0}), Bytes{3});
    EXPECT_EQ(handle(102, {1, 4}), Bytes{20});  // no such destination file
    EXPECT_EQ(UserSetGet(UsrBits::RtmpOnOff), 0);

    ST_RTMP_URL rec{};
    rec.index = 4;
    strcpy(rec.rtmp_url, "rtmp://10.9.8.7/live/x");
    rec.rtmp_url_len = (uint16_t)strlen(rec.rtmp_url);
    Bytes raw((uint8_t *)&rec, (uint8_t *)&rec + sizeof rec);
    EXPECT_EQ(handle(103, raw), Bytes{0});
    Bytes back = handle(106, {4});
    ASSERT_EQ(back.size(), 789u);
    EXPECT_EQ(back[0], 0);
    EXPECT_EQ(Bytes(back.begin() + 1, back.end()), raw);
    EXPECT_EQ(handle(102, {1, 4}), Bytes{0});
    EXPECT_EQ(UserSetGet(UsrBits::RtmpOnOff), 1);
    EXPECT_EQ(emRtmpState.load(), State_Rtmp_Connect);
    EXPECT_STREQ(g_stUrl.rtmp_url, "rtmp://10.9.8.7/live/x");
    emRtmpState = State_Rtmp_Init;
    EXPECT_EQ(handle(107, {0, 13}), Bytes{0});
    EXPECT_EQ(UserSetGet(UsrBits::RtmpIndex), 5);
}

TEST_F(Cmd, FactoryResetWritesDefaults) {
    EXPECT_EQ(handle(11, {}), Bytes{0});
    std::string up = read(userpara_);
    EXPECT_EQ(Bytes(up.begin(), up.end()), (Bytes{0x5A, 0xA5, 0, 0, 1, 2, 0x23, 0}));
    for (int i = 0; i < 8; ++i) {
        std::string u = read(dir_ + "/url/" + std::to_string(i));
        ASSERT_EQ(u.size(), 788u);
        EXPECT_EQ((uint8_t)u[0], i);
        EXPECT_EQ(u.substr(2, 4), "NULL");
        EXPECT_EQ(u.substr(20, 5), std::string("NULL\0", 5));
    }
    EXPECT_EQ(g_stUrl.index, 7);
    // A destination directory that cannot be written is reported.
    RtmpUrlSetDirs("/nonexistent/url", "/nonexistent/url");
    EXPECT_NE(handle(11, {}), Bytes{0});
}

TEST_F(Cmd, DnsAndNetworkParameters) {
    EXPECT_EQ(handle(35, {10, 1, 1, 53}), Bytes{0});
    EXPECT_EQ(read(resolv_).substr(0, 22), "nameserver 10.1.1.53\nn");
    g_netPaths.resolv = "/nonexistent/resolv.conf";
    EXPECT_NE(handle(35, {10, 1, 1, 53}), Bytes{0});
    g_netPaths.resolv = resolv_.c_str();
    Bytes net = handle(36, {});
    ASSERT_EQ(net.size(), 29u);
    EXPECT_EQ(net[0], 0);
    EXPECT_EQ(net[28], 1);  // DHCP flag
}

TEST_F(Cmd, MacOnlyOnFirstCommandOfTheRun) {
    if (!g_private_net) GTEST_SKIP() << "needs root and a private network namespace";
    Bytes rec(27, 0);
    rec[15] = 1;
    rec[16] = 2;
    rec[17] = 3;
    rec[18] = 4;
    // (sysfs shows the namespace it was mounted in: ask the interface itself)
    char mac[18];
    EXPECT_EQ(handle(34, rec), (Bytes{0, 1}));
    ASSERT_EQ(get_local_mac("eth0", mac), 0);
    EXPECT_STREQ(mac, "48:49:01:02:03:04");
    rec[18] = 9;
    EXPECT_EQ(handle(34, rec), (Bytes{0, 1}));
    ASSERT_EQ(get_local_mac("eth0", mac), 0);
    EXPECT_STREQ(mac, "48:49:01:02:03:04");
}

TEST_F(Cmd, FailedMacChangeIsTriedAgainAndAnswersItsOwnResult) {
    if (!g_private_net) GTEST_SKIP() << "needs root and a private network namespace";
    g_FristInitMacFlag = 0;
    Bytes rec(27, 0);
    rec[15] = 5;
    rec[16] = 6;
    rec[17] = 7;
    rec[18] = 8;
    ASSERT_EQ(system("ip link set eth0 down && ip link set eth0 name eth9"), 0);
    EXPECT_EQ(handle(34, rec), (Bytes{1, 0}));  // no eth0: the change fails
    ASSERT_EQ(system("ip link set eth9 name eth0 && ip link set eth0 up"), 0);
    EXPECT_EQ(handle(34, rec), (Bytes{0, 1}));
    char mac[18];
    ASSERT_EQ(get_local_mac("eth0", mac), 0);
    EXPECT_STREQ(mac, "48:49:05:06:07:08");
    rec[18] = 9;
    EXPECT_EQ(handle(34, rec), (Bytes{0, 1}));  // done once: later ones change nothing
    ASSERT_EQ(get_local_mac("eth0", mac), 0);
    EXPECT_STREQ(mac, "48:49:05:06:07:08");
}

TEST_F(Cmd, FailuresAreAnsweredAsFailures) {
    // A settings file that cannot be written.
    ProtoSetUserParaPath("/nonexistent/userpara");
    EXPECT_EQ(handle(79, {1}), Bytes{FileCreatFail});
    EXPECT_EQ(UserSetGet(UsrBits::SdCardSel), 1);
    ProtoSetUserParaPath(userpara_.c_str());
    // A bit rate the encoder cannot be rebuilt with is neither saved nor
    // answered as an unknown command.
    vb::inject("/dev/mi_venc", MI_VENC_IOC_CREATE_CHN, (int)MI_ERR_VENC_FAILED);
    stUserSetSave.ucBitRate[0] = 4;
    Bytes r49 = handle(49, {0, 9});
    vb::inject_clear();
    EXPECT_EQ(r49, Bytes{DevInitERR});
    EXPECT_EQ(stUserSetSave.ucBitRate[0], 4);
    EXPECT_EQ(access(userpara_.c_str(), F_OK), -1);
    vb::inject("/dev/mi_venc", MI_VENC_IOC_CREATE_CHN, (int)MI_ERR_VENC_FAILED);
    UserSetPut(UsrBits::RecReso, 3);
    Bytes r25 = handle(25, {0x0B});
    vb::inject_clear();
    EXPECT_EQ(r25, Bytes{DevInitERR});
}

TEST_F(Cmd, StorageSizesSaturateInsteadOfWrapping) {
    std::string big = dir_ + "/big";
    ASSERT_EQ(mkdir(big.c_str(), 0755), 0);
    // A 100 GB card: a file system of its own in this process's mount namespace.
    if (geteuid() != 0 || unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
        mount("tmpfs", big.c_str(), "tmpfs", 0, "size=100g"))
        GTEST_SKIP() << "needs root for a private mount";
    tagDevParam_T saved = g_devinfo.dev[0];
    snprintf(g_devinfo.dev[0].ucDevPath, sizeof g_devinfo.dev[0].ucDevPath, "/dev/null");
    snprintf(g_devinfo.dev[0].ucMountPath, sizeof g_devinfo.dev[0].ucMountPath, "%s", big.c_str());
    UserSetPut(UsrBits::SdCardSel, 0);
    EXPECT_EQ(handle(80, {}), (Bytes{0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF}));  // total, used, free
    EXPECT_EQ(handle(81, {}), (Bytes{0, 0, 0}));
    EXPECT_EQ(handle(82, {}), (Bytes{0, 0xFF, 0xFF}));
    g_devinfo.dev[0] = saved;
    umount(big.c_str());
}

TEST_F(Cmd, ClockIsLeftWhenADigitIsNotBcd) {
    // Without the right to set the clock: a request that got as far as
    // setting it is answered DevInitERR (not 1, an unknown command), one
    // refused before answers RangeErr.
    __user_cap_header_struct hdr{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2];
    ASSERT_EQ(syscall(SYS_capget, &hdr, caps), 0);
    caps[CAP_SYS_TIME / 32].effective &= ~(1u << (CAP_SYS_TIME % 32));
    ASSERT_EQ(syscall(SYS_capset, &hdr, caps), 0);
    EXPECT_EQ(handle(84, {0x21, 0x03, 0x15, 0x00, 0x10, 0x30, 0x00}), (Bytes{DevInitERR, 1}));
    for (Bytes bad : {Bytes{0x21, 0x03, 0x1A, 0, 0x10, 0x30, 0}, Bytes{0x2F, 0x03, 0x15, 0, 0x10, 0x30, 0},
                      Bytes{0x21, 0x13, 0x15, 0, 0x10, 0x30, 0}, Bytes{0x21, 0x03, 0x15, 0, 0x24, 0x30, 0},
                      Bytes{0x21, 0x03, 0x15, 0, 0x10, 0x30, 0x60}, Bytes{0x21, 0x00, 0x15, 0, 0x10, 0x30, 0}})
        EXPECT_EQ(handle(84, bad), (Bytes{RangeErr, 1}));
}

TEST_F(Cmd, ShortOrMissingDestinationIsRefusedAlike) {
    std::ofstream(dir_ + "/url/5", std::ios::binary) << std::string(100, 'x');
    g_stUrl.index = 7;
    strcpy(g_stUrl.rtmp_url, "rtmp://keep/live/x");
    ST_RTMP_URL before = g_stUrl;
    for (uint8_t idx : {5, 6}) {
        uint8_t code = idx == 5 ? FileReadFail : FileOpenFail;
        EXPECT_EQ(handle(102, {1, idx}), Bytes{code}) << int(idx);
        EXPECT_EQ(UserSetGet(UsrBits::RtmpOnOff), 0);
        Bytes r = handle(106, {idx});
        ASSERT_EQ(r.size(), 789u);
        EXPECT_EQ(r[0], code) << int(idx);
        EXPECT_EQ(memcmp(&g_stUrl, &before, sizeof before), 0) << int(idx);
    }
}

TEST(Clock, BcdBytesGiveLocalTime) {
    const uint8_t bcd[7] = {0x21, 0x03, 0x15, 0x00, 0x10, 0x30, 0x00};
    time_t t = BcdToTime(bcd);
    struct tm lt;
    localtime_r(&t, &lt);
    EXPECT_EQ(lt.tm_year, 121);
    EXPECT_EQ(lt.tm_mon, 2);
    EXPECT_EQ(lt.tm_mday, 15);
    EXPECT_EQ(lt.tm_hour, 10);
    EXPECT_EQ(lt.tm_min, 30);
    EXPECT_EQ(lt.tm_sec, 0);
    EXPECT_EQ(HexToDec(0x59), 59);
}

}  // namespace
