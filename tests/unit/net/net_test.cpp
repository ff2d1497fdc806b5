// Network configuration: the settings files, and — as root, inside a private
// network namespace of this test process — the interface set-up itself.
#include <arpa/inet.h>
#include <net/if.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "net_config.h"
#include "user_setting.h"

namespace {

bool g_private_net = false;

// Runs before any test: moves the whole process into its own network
// namespace with a veth "eth0", so nothing here reaches this machine's network.
class NetEnv : public ::testing::Environment {
public:
    void SetUp() override {
#if !defined(__arm__)
        if (geteuid() == 0 && unshare(CLONE_NEWNET) == 0) {
            g_private_net =
                system("ip link add eth0 type veth peer name eth0p && ip link set eth0p up && ip link set lo up") ==
                0;
        }
#endif
    }
};
const auto *g_env = ::testing::AddGlobalTestEnvironment(new NetEnv);

class NetFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/nettestXXXXXX";
        dir_ = mkdtemp(tmpl);
        netip_ = dir_ + "/netIp";
        flag_ = dir_ + "/DHCP_flag";
        resolv_ = dir_ + "/resolv.conf";
        oper_ = dir_ + "/operstate";
        route_ = dir_ + "/route";
        g_netPaths.netip = netip_.c_str();
        g_netPaths.dhcp_flag = flag_.c_str();
        g_netPaths.resolv = resolv_.c_str();
        g_netPaths.operstate = oper_.c_str();
        g_netPaths.route = route_.c_str();
        memset(&g_NetInfoEx, 0, sizeof g_NetInfoEx);
    }
    void TearDown() override {
        g_netPaths = NetPaths{};
        std::string cmd = "rm -rf " + dir_;
        (void)!system(cmd.c_str());
    }
    static void write(const std::string &p, const std::string &bytes) { std::ofstream(p, std::ios::binary) << bytes; }
    static std::string read(const std::string &p) {
        std::ifstream f(p, std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }
    std::string dir_, netip_, flag_, resolv_, oper_, route_;
};

TEST_F(NetFiles, StaticRecordFallsBackToDefaultUnlessMarkedValid) {
    const uint8_t expect_def[13] = {0, 192, 168, 1, 239, 255, 255, 255, 0, 192, 168, 1, 1};
    for (const std::string &content : {std::string(), std::string(13, '\0'), std::string("\xAA\x0a\x00", 3)}) {
        write(netip_, content);
        LoadNetWorkParam();
        EXPECT_EQ(memcmp(&g_NetInfoEx, expect_def, 13), 0) << "file of " << content.size() << " bytes";
    }
    const uint8_t rec[12] = {10, 1, 2, 3, 255, 255, 0, 0, 10, 1, 0, 1};
    ASSERT_EQ(Proto_SetIP(rec, sizeof rec), 0);
    std::string file = read(netip_);
    ASSERT_EQ(file.size(), 13u);
    EXPECT_EQ((uint8_t)file[0], 0xAA);
    EXPECT_EQ(memcmp(file.data() + 1, rec, 12), 0);
    memset(&g_NetInfoEx, 0, 13);
    LoadNetWorkParam();
    EXPECT_EQ(g_NetInfoEx.ucIp[3], 3);
    EXPECT_EQ(g_NetInfoEx.ucGateWay[3], 1);
}

TEST_F(NetFiles, SetIpStoresOnlyWholeUsableSetups) {
    const uint8_t zero[12] = {0, 1, 2, 3};
    EXPECT_EQ(Proto_SetIP(zero, 12), 0);
    EXPECT_EQ(access(netip_.c_str(), F_OK), -1);
    const uint8_t rec[12] = {10, 1, 2, 3, 255, 0, 0, 0, 10, 0, 0, 1};
    EXPECT_NE(Proto_SetIP(rec, 11), 0);
    const uint8_t holeyMask[12] = {10, 1, 2, 3, 255, 0, 255, 0, 10, 0, 0, 1};
    EXPECT_NE(Proto_SetIP(holeyMask, 12), 0);
    const uint8_t farGateway[12] = {10, 1, 2, 3, 255, 255, 0, 0, 10, 2, 0, 1};
    EXPECT_NE(Proto_SetIP(farGateway, 12), 0);
    EXPECT_EQ(access(netip_.c_str(), F_OK), -1);
}

TEST(NetCheck, SetupsTheBoardCannotUseAreRefused) {
    struct {
        const char *ip, *mask, *gw;
        int want;
    } rows[] = {
        {"192.168.1.20", "255.255.255.0", "192.168.1.1", 0},
        {"10.0.0.1", "255.0.0.0", "10.255.255.254", 0},
        {"172.16.0.9", "255.255.255.252", "172.16.0.10", 0},
        {"192.168.1.20", "255.255.255.0", "192.168.1.0", NET_BAD_GATEWAY},    // network address
        {"192.168.1.20", "255.255.255.0", "192.168.1.255", NET_BAD_GATEWAY},  // broadcast address
        {"192.168.1.20", "255.255.255.0", "192.168.1.20", NET_BAD_GATEWAY},   // the board itself
        {"192.168.1.0", "255.255.255.0", "192.168.1.1", NET_BAD_ADDRESS},
        {"192.168.1.255", "255.255.255.0", "192.168.1.1", NET_BAD_ADDRESS},
        {"172.16.0.8", "255.255.255.252", "172.16.0.9", NET_BAD_ADDRESS},
        {"0.1.2.3", "255.0.0.0", "0.1.2.1", NET_BAD_ADDRESS},
        {"127.0.0.2", "255.0.0.0", "127.0.0.1", NET_BAD_ADDRESS},
        {"224.0.0.5", "255.255.255.0", "224.0.0.1", NET_BAD_ADDRESS},
        {"239.1.1.1", "255.255.255.0", "239.1.1.2", NET_BAD_ADDRESS},
        {"240.0.0.5", "255.255.255.0", "240.0.0.1", NET_BAD_ADDRESS},
        {"255.255.255.255", "255.255.255.0", "255.255.255.1", NET_BAD_ADDRESS},
        {"192.168.1.20", "255.255.255.255", "192.168.1.20", NET_BAD_MASK},
        {"192.168.1.20", "255.255.255.255", "192.168.1.1", NET_BAD_MASK},
        {"192.168.1.20", "0.0.0.0", "192.168.1.1", NET_BAD_MASK},
        {"192.168.1.20", "255.0.255.0", "192.168.1.1", NET_BAD_MASK},
        {"192.168.1.20", "255.255.255.0", "192.168.2.1", NET_BAD_GATEWAY},
        {"96.0.0.5", "128.0.0.0", "127.0.0.1", NET_BAD_GATEWAY},  // loopback inside a wide subnet
    };
    for (const auto &r : rows) {
        uint8_t ip[4], mask[4], gw[4];
        ASSERT_TRUE(NetParseIpv4(r.ip, ip) && NetParseIpv4(r.mask, mask) && NetParseIpv4(r.gw, gw)) << r.ip;
        EXPECT_EQ(NetCheckStatic(ip, mask, gw), r.want) << r.ip << " " << r.mask << " " << r.gw;
    }
}

TEST_F(NetFiles, UnusableStoredSetupIsNeitherStoredNorLoaded) {
    const uint8_t gwIsBroadcast[12] = {192, 168, 1, 20, 255, 255, 255, 0, 192, 168, 1, 255};
    EXPECT_NE(Proto_SetIP(gwIsBroadcast, 12), 0);
    EXPECT_EQ(access(netip_.c_str(), F_OK), -1);
    // One stored before such set-ups were refused reads as the default record.
    const uint8_t old[13] = {0xAA, 192, 168, 1, 20, 255, 255, 255, 255, 192, 168, 1, 1};
    write(netip_, std::string((const char *)old, sizeof old));
    LoadNetWorkParam();
    EXPECT_EQ(memcmp(&g_NetInfoEx, &tIpDefault, sizeof tIpDefault), 0);
}

TEST_F(NetFiles, NameServersWrittenAndReadBack) {
    const uint8_t dns[4] = {10, 0, 0, 53};
    ASSERT_EQ(Proto_SetDns(dns, 4), 0);
    EXPECT_EQ(read(resolv_), "nameserver 10.0.0.53\nnameserver " NET_FIXED_DNS "\n");
    uint8_t got[8] = {};
    ReadDns(got);
    EXPECT_EQ(got[3], 53);
    EXPECT_EQ(got[4], 8);
    write(resolv_, "domain lan\nsearch lan\nnameserver 192.168.1.1\n");
    memset(got, 0, sizeof got);
    ReadDns(got);
    EXPECT_EQ(got[0], 192);
    EXPECT_EQ(got[3], 1);
    EXPECT_EQ(got[4], 0);
    // Only lines whose first word is "nameserver"; the tail of an overlong
    // line, comments and search domains are not name servers.
    write(resolv_, "# nameserver 1.1.1.1\nsearch nameserver.lan\noptions " + std::string(119, 'x') +
                       "nameserver 6.6.6.6\n nameserver 10.0.0.9\nnameserver\t10.0.0.10\nnameserver");
    memset(got, 0, sizeof got);
    ReadDns(got);
    const uint8_t want[8] = {10, 0, 0, 9, 10, 0, 0, 10};
    EXPECT_EQ(memcmp(got, want, 8), 0);
    // A token longer than an address is refused, not read as its first 15
    // characters; so is one the line buffer would cut.
    write(resolv_, "nameserver 192.168.100.1005\nnameserver 192.168.100.1001\n"
                   "nameserver " + std::string(101, ' ') + "192.168.100.1005\n"
                   "nameserver 10.0.0.7\nnameserver " + std::string(101, ' ') + "192.168.100.100\n");
    memset(got, 0, sizeof got);
    ReadDns(got);
    const uint8_t whole[8] = {10, 0, 0, 7, 192, 168, 100, 100};
    EXPECT_EQ(memcmp(got, whole, 8), 0);
    // A file that cannot be written is a failure, not a success.
    g_netPaths.resolv = "/nonexistent-dir/resolv.conf";
    EXPECT_NE(Proto_SetDns(dns, 4), 0);
    uint8_t out[28];
    EXPECT_EQ(Proto_GetNetworkPara(out), 28);
}

TEST_F(NetFiles, DhcpFlagAndLinkState) {
    write(flag_, "1");
    ReadDhcpFlag();
    EXPECT_EQ(g_NetInfoEx.ucDhcpFlag, 1);
    write(flag_, "x");
    ReadDhcpFlag();
    EXPECT_EQ(g_NetInfoEx.ucDhcpFlag, 0);
    g_NetInfoEx.ucDhcpFlag = 1;
    ASSERT_EQ(SaveDhcpFlag(), 0);
    EXPECT_EQ(read(flag_), "1");

    write(oper_, "up\n");
    EXPECT_EQ(network_connect_check(), 1);
    write(oper_, "down\n");
    EXPECT_EQ(network_connect_check(), 0);
    write(oper_, "lowerlayerdown\n");  // a cable whose far end is down
    EXPECT_EQ(network_connect_check(), 0);
    write(oper_, "dormant\n");
    EXPECT_EQ(network_connect_check(), -1);
    unlink(oper_.c_str());
    EXPECT_EQ(network_connect_check(), -1);
}

TEST_F(NetFiles, LinkHistoryDrivesStatusBit) {
    g_NetInfoEx.ucDhcpFlag = 0;
    ucCheckIpFlag = 1;  // nothing to apply: only the status is watched
    DhcpState st;
    write(oper_, "up\n");
    DhcpStep(&st);
    EXPECT_EQ(UserSetGet(UsrBits::NetWorkStatus), 1);
    write(oper_, "down\n");
    DhcpStep(&st);
    EXPECT_EQ(UserSetGet(UsrBits::NetWorkStatus), 0);
    write(oper_, "garbage\n");  // unknown keeps the last state
    DhcpStep(&st);
    EXPECT_EQ(UserSetGet(UsrBits::NetWorkStatus), 0);
    EXPECT_EQ(st.history & 3, 2);
}

TEST_F(NetFiles, GatewayComesFromDefaultRoute) {
    write(route_,
          "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
          "eth0\t0000A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
          "eth0\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n");
    char gw[16];
    ASSERT_EQ(GetDefaultGateway("eth0", gw, sizeof gw), 0);
    EXPECT_STREQ(gw, "192.168.1.1");
    EXPECT_NE(GetDefaultGateway("eth1", gw, sizeof gw), 0);
}

// ---- interface set-up, in the private namespace ------------------------

std::string sh(const char *cmd) {
    std::string out;
    FILE *p = popen(cmd, "r");
    if (!p) return out;
    char buf[512];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
    return out;
}

class NetIface : public NetFiles {
protected:
    void SetUp() override {
        if (!g_private_net) GTEST_SKIP() << "needs root and a private network namespace";
        NetFiles::SetUp();
        g_netPaths.route = "/proc/net/route";
        ASSERT_EQ(if_updown("eth0", 1), 0);
    }
};

TEST_F(NetIface, StaticAddressMaskAndChangedGatewayAreApplied) {
    ASSERT_EQ(SetIfAddr("eth0", "10.20.0.5", "255.255.255.0", "10.20.0.1"), 0);
    EXPECT_NE(sh("ip -4 addr show dev eth0").find("10.20.0.5/24"), std::string::npos);
    EXPECT_NE(sh("ip route show default").find("via 10.20.0.1"), std::string::npos);
    // A second set-up with another gateway replaces the default route.
    ASSERT_EQ(SetIfAddr("eth0", "10.20.0.5", "255.255.255.0", "10.20.0.254"), 0);
    std::string routes = sh("ip route show default");
    EXPECT_NE(routes.find("via 10.20.0.254"), std::string::npos);
    EXPECT_EQ(routes.find("via 10.20.0.1 "), std::string::npos);
    // The same set-up again keeps its route.
    ASSERT_EQ(SetIfAddr("eth0", "10.20.0.5", "255.255.255.0", "10.20.0.254"), 0);
    EXPECT_NE(sh("ip route show default").find("via 10.20.0.254"), std::string::npos);

    char ip[16], mask[16], brd[16];
    ASSERT_EQ(GetComputerInfo(ip, mask, brd), 0);
    EXPECT_STREQ(ip, "10.20.0.5");
    EXPECT_STREQ(mask, "255.255.255.0");
}

TEST_F(NetIface, AddressTextsAreDecimalAndCheckedWholeBeforeAnythingChanges) {
    // Leading zeros are decimal: .010 is ten, not eight.
    ASSERT_EQ(SetIfAddr("eth0", "192.168.001.010", "255.255.255.000", "192.168.001.001"), 0);
    const char *addr = "192.168.1.10/24", *route = "default via 192.168.1.1 ";
    ASSERT_NE(sh("ip -4 addr show dev eth0").find(addr), std::string::npos);
    ASSERT_NE(sh("ip route show default").find(route), std::string::npos);
    struct {
        const char *ip, *mask, *gw;
        int ret;
    } bad[] = {
        {"10.0.0.2", "255.0.255.0", "10.0.0.1", -4},  // mask with a hole
        {"10.0.0.2", "0.0.0.0", "10.0.0.1", -4},
        {"10.0.0.2", "255.0.0.0 ", "10.0.0.1", -4},
        {"10.0.0.2", "255.0.0.0", "11.0.0.1", -6},  // gateway outside the subnet
        {"10.0.0.2", "255.0.0.0", "bad", -6},
        {"0x0a.0.0.2", "255.0.0.0", "10.0.0.1", -2},
        {"10.0.0.0002", "255.0.0.0", "10.0.0.1", -2},
        {"10.0.0.256", "255.0.0.0", "10.0.0.1", -2},
        {"127.0.0.2", "255.0.0.0", "127.0.0.1", -2},
        {"10.0.0.0", "255.0.0.0", "10.0.0.1", -2},   // the subnet's own address
        {"10.0.0.2", "255.255.255.255", "10.0.0.2", -4},
        {"10.0.0.2", "255.0.0.0", "10.255.255.255", -6},  // broadcast as gateway
        {"10.0.0.2", "255.0.0.0", "10.0.0.2", -6},
    };
    for (const auto &b : bad) {
        EXPECT_EQ(SetIfAddr("eth0", b.ip, b.mask, b.gw), b.ret) << b.ip << " " << b.mask << " " << b.gw;
        EXPECT_NE(sh("ip -4 addr show dev eth0").find(addr), std::string::npos) << b.ip << " " << b.mask;
        EXPECT_NE(sh("ip route show default").find(route), std::string::npos) << b.ip << " " << b.gw;
    }
}

TEST_F(NetIface, OldDefaultRouteGoesOnlyOnceTheNewOneIsIn) {
    ASSERT_EQ(SetIfAddr("eth0", "10.30.0.5", "255.255.255.0", "10.30.0.1"), 0);
    // Without its subnet route the kernel cannot reach a new gateway.
    ASSERT_EQ(system("ip route del 10.30.0.0/24 dev eth0"), 0);
    EXPECT_EQ(SetIfAddr("eth0", "10.30.0.5", "255.255.255.0", "10.30.0.254"), -7);
    EXPECT_NE(sh("ip route show default").find("via 10.30.0.1 "), std::string::npos);
}

TEST_F(NetIface, FailedRouteAfterAnAddressChangePutsTheOldSetupBack) {
    // The kernel refuses a gateway it holds unreachable: the new route fails
    // after the old address, and with it the old default route, are gone.
    auto failing = [] {
        EXPECT_EQ(system("ip route add unreachable 10.50.0.1/32 scope link"), 0);
        int r = SetIfAddr("eth0", "10.50.0.5", "255.255.0.0", "10.50.0.1");
        (void)!system("ip route del unreachable 10.50.0.1/32");
        return r;
    };
    ASSERT_EQ(SetIfAddr("eth0", "10.40.0.5", "255.255.255.0", "10.40.0.1"), 0);
    EXPECT_EQ(failing(), -7);
    std::string addrs = sh("ip -4 addr show dev eth0");
    EXPECT_NE(addrs.find("10.40.0.5/24"), std::string::npos) << addrs;
    EXPECT_EQ(addrs.find("10.50.0.5"), std::string::npos) << addrs;
    EXPECT_NE(sh("ip route show default").find("default via 10.40.0.1 "), std::string::npos);
    // With no address before, putting it back means having none.
    ASSERT_EQ(system("ip -4 addr flush dev eth0"), 0);
    EXPECT_EQ(failing(), -7);
    addrs = sh("ip -4 addr show dev eth0");
    EXPECT_EQ(addrs.find("inet "), std::string::npos) << addrs;
}

TEST_F(NetIface, MacCommandSetsFixedPrefixAndPayloadBytes) {
    uint8_t payload[27] = {};
    payload[15] = 1;
    payload[16] = 2;
    payload[17] = 3;
    payload[18] = 4;
    g_NetInfoEx.ucDhcpFlag = 1;  // no static re-apply
    ASSERT_EQ(Proto_SetMac(payload, sizeof payload), 0);
    char mac[18];
    ASSERT_EQ(get_local_mac("eth0", mac), 0);
    EXPECT_STREQ(mac, "48:49:01:02:03:04");
    EXPECT_NE(sh("ip link show eth0").find("UP"), std::string::npos);
    // A multicast MAC is refused by the kernel: reported, not hidden.
    const uint8_t bad[6] = {0x01, 0, 0, 0, 0, 1};
    EXPECT_NE(set_mac_addr("eth0", bad), 0);
}

TEST_F(NetIface, StaticAddressAppliedInTwelfthSecondOfLink) {
    const uint8_t rec[12] = {172, 16, 5, 9, 255, 255, 0, 0, 172, 16, 0, 1};
    ASSERT_EQ(Proto_SetIP(rec, 12), 0);
    write(oper_, "up\n");
    g_NetInfoEx.ucDhcpFlag = 0;
    ucCheckIpFlag = 0;
    DhcpState st;
    for (int s = 0; s < 11; ++s) DhcpStep(&st);
    EXPECT_EQ(sh("ip -4 addr show dev eth0").find("172.16.5.9"), std::string::npos);
    DhcpStep(&st);
    EXPECT_NE(sh("ip -4 addr show dev eth0").find("172.16.5.9/16"), std::string::npos);
    EXPECT_EQ(ucCheckIpFlag, 1);
}

}  // namespace
