// Web control handlers, called as the server calls them: what each request
// path changes (files, shared settings, serial frames, RTMP state) and what it
// answers; requests with missing, long or malformed variables change nothing.
#include <arpa/inet.h>
#include <pthread.h>
#include <string.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net_config.h"
#include "rtmp_publish.h"
#include "uart_proto.h"
#include "user_setting.h"
#include "web_control.h"
#include "web_test_util.h"

using webtest::read_file;
using webtest::write_file;

namespace {

// What the handlers reached outside the web control.
struct Calls {
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::string> ifaddr;
    int dhcp = 0, venc = 0;
    unsigned vencChn = 99;
    std::string dhcpThread, vencThread, ifThread;
    bool holdDhcp = false;  // the fake DHCP client waits until released
} g_calls;

std::string thread_name() {
    char n[16] = "";
    pthread_getname_np(pthread_self(), n, sizeof n);
    return n;
}

int fake_set_if_addr(const char *ifname, const char *ip, const char *mask, const char *gw) {
    std::lock_guard<std::mutex> g(g_calls.m);
    g_calls.ifaddr.push_back(std::string(ifname) + " " + ip + " " + mask + " " + gw);
    g_calls.ifThread = thread_name();
    return 0;
}

int fake_dhcp(void) {
    std::unique_lock<std::mutex> g(g_calls.m);
    ++g_calls.dhcp;
    g_calls.dhcpThread = thread_name();
    g_calls.cv.notify_all();
    g_calls.cv.wait(g, [] { return !g_calls.holdDhcp; });
    return 0;
}

int fake_venc(unsigned chn) {
    std::lock_guard<std::mutex> g(g_calls.m);
    ++g_calls.venc;
    g_calls.vencChn = chn;
    g_calls.vencThread = thread_name();
    return 0;
}

// Everything a request could change, for "changes nothing" checks.
struct State {
    std::string netip, dhcpFlag, resolv, urls;
    std::vector<uint8_t> net, user, url;
    int rtmpState;
    size_t frames;
    size_t ifaddr;
    int dhcp, venc;
    bool operator==(const State &o) const {
        return netip == o.netip && dhcpFlag == o.dhcpFlag && resolv == o.resolv && urls == o.urls && net == o.net &&
               user == o.user && url == o.url && rtmpState == o.rtmpState && frames == o.frames &&
               ifaddr == o.ifaddr && dhcp == o.dhcp && venc == o.venc;
    }
};

template <class T>
std::vector<uint8_t> bytes_of(const T &v) {
    const uint8_t *p = reinterpret_cast<const uint8_t *>(&v);
    return std::vector<uint8_t>(p, p + sizeof v);
}

class WebControl : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = webtest::make_temp_dir();
        ASSERT_FALSE(dir_.empty());
        netip_ = dir_ + "/netIp";
        dhcp_ = dir_ + "/DHCP_flag";
        resolv_ = dir_ + "/resolv.conf";
        url_ = dir_ + "/url";
        root_ = dir_ + "/web_root";
        stat_ = dir_ + "/stat";
        ASSERT_EQ(mkdir(url_.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(root_.c_str(), 0755), 0);
        g_netPaths.netip = netip_.c_str();
        g_netPaths.dhcp_flag = dhcp_.c_str();
        g_netPaths.resolv = resolv_.c_str();
        RtmpUrlSetDirs(url_.c_str(), url_.c_str());
        RtmpResetForTest();
        g_UartFd = tap_.fd();
        {
            std::lock_guard<std::mutex> g(g_calls.m);
            g_calls.ifaddr.clear();
            g_calls.dhcp = g_calls.venc = 0;
            g_calls.dhcpThread.clear();
            g_calls.vencThread.clear();
            g_calls.holdDhcp = false;
        }
        WebHooks h = WebDefaultHooks();
        h.setIfAddr = fake_set_if_addr;
        h.runDhcp = fake_dhcp;
        h.vencSetRcParam = fake_venc;
        h.cpuStat = stat_.c_str();
        WebSetHooks(h);
        WebSetDocRoot(root_.c_str());
        WebResetForTest();

        // A board with a stored static address.
        memset(&g_NetInfoEx, 0, sizeof g_NetInfoEx);
        const uint8_t rec[13] = {0xAA, 10, 0, 0, 5, 255, 255, 0, 0, 10, 0, 0, 1};
        ASSERT_TRUE(write_file(netip_, std::string((const char *)rec, sizeof rec)));
        ASSERT_TRUE(write_file(dhcp_, "0"));
        ASSERT_TRUE(write_file(resolv_, "nameserver 10.0.0.1\nnameserver 8.8.8.8\n"));
        memcpy(&g_NetInfoEx, rec, sizeof rec);
        const uint8_t dns[8] = {10, 0, 0, 1, 8, 8, 8, 8};
        memcpy(g_NetInfoEx.ucDns1, dns, 4);
        memcpy(g_NetInfoEx.ucDns2, dns + 4, 4);
        g_NetInfoEx.ucDhcpFlag = 0;
        ucCheckIpFlag = 1;
        UserSetPut(UsrBits::RtmpOnOff, 0);
        UserSetPut(UsrBits::RtmpIndex, 0);
        UserSetPut(UsrBits::SaveOnOff, 0);
        g_stUserSet.ucBitRate[1] = 2;
        memset(&g_stUrl, 0, sizeof g_stUrl);
    }
    void TearDown() override {
        {
            std::lock_guard<std::mutex> g(g_calls.m);
            g_calls.holdDhcp = false;
            g_calls.cv.notify_all();
        }
        WebWorkersIdle();
        g_UartFd = -1;
        g_netPaths = NetPaths();
        RtmpUrlSetDirs(nullptr, nullptr);
        WebSetHooks(WebDefaultHooks());
        WebSetDocRoot(WEB_ROOT);
        webtest::remove_tree(dir_);
    }

    WebReply request(const std::string &uri, const std::string &body = "", const char *method = "POST") {
        WebRequest req;
        req.method = method;
        req.uri = uri;
        req.body = body;
        WebReply rep;
        ev_handler(req, &rep);
        return rep;
    }
    static void expect_home(const WebReply &rep) {
        EXPECT_EQ(rep.kind, WebReply::Redirect);
        EXPECT_EQ(rep.status, 302);
        EXPECT_EQ(rep.location, "/");
    }
    State state() {
        WebWorkersIdle();
        State s;
        s.netip = read_file(netip_);
        s.dhcpFlag = read_file(dhcp_);
        s.resolv = read_file(resolv_);
        for (int i = 0; i < RTMP_URL_COUNT; ++i) s.urls += read_file(url_ + "/" + std::to_string(i)) + "|";
        s.net = bytes_of(g_NetInfoEx);
        ST_GLOBAL_SETTING u;
        UserSetSnapshot(&u);
        s.user = bytes_of(u);
        s.url = bytes_of(g_stUrl);
        s.rtmpState = emRtmpState.load();
        s.frames = tap_.frames().size();
        std::lock_guard<std::mutex> g(g_calls.m);
        s.ifaddr = g_calls.ifaddr.size();
        s.dhcp = g_calls.dhcp;
        s.venc = g_calls.venc;
        return s;
    }
    ST_RTMP_URL stored_url(int index) {
        std::string f = read_file(url_ + "/" + std::to_string(index));
        ST_RTMP_URL r;
        memset(&r, 0, sizeof r);
        EXPECT_EQ(f.size(), sizeof r);
        memcpy(&r, f.data(), std::min(f.size(), sizeof r));
        return r;
    }
    std::string page(const std::string &uri) {
        WebReply rep = request(uri, "", "GET");
        EXPECT_EQ(rep.kind, WebReply::Page) << uri;
        return rep.body;
    }

    webtest::SerialTap tap_;
    std::string dir_, netip_, dhcp_, resolv_, url_, root_, stat_;
};

const char kStatic[] = "setting1=192.168.7.20&setting2=255.255.0.0&setting3=192.168.7.1&setting4=192.168.7.2"
                       "&IpAcquIndex=0";

TEST_F(WebControl, SaveStaticSetupStoresAndAppliesIt) {
    testing::internal::CaptureStdout();
    WebReply rep = request("/save", kStatic);
    WebWorkersIdle();
    std::string out = testing::internal::GetCapturedStdout();
    expect_home(rep);
    const uint8_t want[13] = {0xAA, 192, 168, 7, 20, 255, 255, 0, 0, 192, 168, 7, 1};
    EXPECT_EQ(read_file(netip_), std::string((const char *)want, sizeof want));
    EXPECT_EQ(read_file(dhcp_), "0");
    EXPECT_EQ(read_file(resolv_), "nameserver 192.168.7.2\nnameserver 8.8.8.8\n");
    EXPECT_EQ(memcmp(g_NetInfoEx.ucIp, want + 1, 12), 0);
    const uint8_t dns[8] = {192, 168, 7, 2, 8, 8, 4, 4};
    EXPECT_EQ(memcmp(g_NetInfoEx.ucDns1, dns, 4), 0);
    EXPECT_EQ(memcmp(g_NetInfoEx.ucDns2, dns + 4, 4), 0);
    EXPECT_EQ(g_NetInfoEx.ucDhcpFlag, 0);
    ASSERT_EQ(g_calls.ifaddr.size(), 1u);
    EXPECT_EQ(g_calls.ifaddr[0], "eth0 192.168.7.20 255.255.0.0 192.168.7.1");
    EXPECT_NE(out.find("setting1 :192.168.7.20\n"), std::string::npos);
    EXPECT_NE(out.find("setting4 :192.168.7.2\n"), std::string::npos);
    EXPECT_NE(out.find("ip :192.168.7.20\n"), std::string::npos);
    EXPECT_EQ(g_calls.dhcp, 0);
}

TEST_F(WebControl, SaveReadsLeadingZerosAsDecimalWhereverTheAddressGoes) {
    testing::internal::CaptureStdout();
    request("/save", "setting1=192.168.001.010&setting2=255.255.255.000&setting3=192.168.001.001"
                     "&setting4=192.168.001.008&IpAcquIndex=0");
    WebWorkersIdle();
    testing::internal::GetCapturedStdout();
    const uint8_t want[13] = {0xAA, 192, 168, 1, 10, 255, 255, 255, 0, 192, 168, 1, 1};
    EXPECT_EQ(read_file(netip_), std::string((const char *)want, sizeof want));
    EXPECT_EQ(read_file(resolv_), "nameserver 192.168.1.8\nnameserver 8.8.8.8\n");
    std::lock_guard<std::mutex> g(g_calls.m);
    ASSERT_EQ(g_calls.ifaddr.size(), 1u);
    EXPECT_EQ(g_calls.ifaddr[0], "eth0 192.168.1.10 255.255.255.0 192.168.1.1");
}

TEST_F(WebControl, SaveAppliesTheInterfaceOnItsOwnThreadAfterTheAnswer) {
    WebRequest req{"POST", "/save", kStatic};
    WebReply rep;
    testing::internal::CaptureStdout();
    ev_handler(req, &rep);
    {
        std::lock_guard<std::mutex> g(g_calls.m);
        EXPECT_TRUE(g_calls.ifaddr.empty());  // not while the answer is still to be sent
    }
    WebWorkersIdle();
    testing::internal::GetCapturedStdout();
    std::lock_guard<std::mutex> g(g_calls.m);
    ASSERT_EQ(g_calls.ifaddr.size(), 1u);
    EXPECT_EQ(g_calls.ifaddr[0], "eth0 192.168.7.20 255.255.0.0 192.168.7.1");
    EXPECT_EQ(g_calls.ifThread, "WebNetProc");
}

TEST_F(WebControl, SaveWithAnInvalidAddressChangesNothing) {
    State before = state();
    testing::internal::CaptureStdout();
    WebReply rep = request("/save",
                           "setting1=192.168.1.300&setting2=255.255.255.0&setting3=192.168.1.1&setting4=8.8.8.8"
                           "&IpAcquIndex=0");
    std::string out = testing::internal::GetCapturedStdout();
    expect_home(rep);
    EXPECT_NE(out.find("ip is invalid IPv4 ---------"), std::string::npos);
    EXPECT_TRUE(state() == before);
}

TEST_F(WebControl, SaveAppliesNothingUnlessTheWholeStaticSetupIsValid) {
    State before = state();
    const std::string bad[] = {
        // valid address, invalid mask: neither stored nor put on the interface
        "setting1=192.168.7.20&setting2=255.255.0&setting3=192.168.7.1&setting4=192.168.7.2&IpAcquIndex=0",
        "setting1=192.168.7.20&setting2=255.255.0.0&setting3=gw&setting4=192.168.7.2&IpAcquIndex=0",
        "setting1=192.168.7.20&setting2=255.255.0.0&setting3=192.168.7.1&setting4=1.2.3.4.5&IpAcquIndex=0",
        // a mask with a hole, a gateway outside the subnet
        "setting1=192.168.7.20&setting2=255.0.255.0&setting3=192.168.7.1&setting4=192.168.7.2&IpAcquIndex=0",
        "setting1=192.168.7.20&setting2=255.255.255.0&setting3=192.168.8.1&setting4=192.168.7.2&IpAcquIndex=0",
        // set-ups the board cannot use: gateway on the broadcast address,
        // the board on the network address, loopback, a /32 mask
        "setting1=192.168.7.20&setting2=255.255.255.0&setting3=192.168.7.255&setting4=192.168.7.2&IpAcquIndex=0",
        "setting1=192.168.7.0&setting2=255.255.255.0&setting3=192.168.7.1&setting4=192.168.7.2&IpAcquIndex=0",
        "setting1=127.0.0.2&setting2=255.0.0.0&setting3=127.0.0.1&setting4=192.168.7.2&IpAcquIndex=0",
        "setting1=192.168.7.20&setting2=255.255.255.255&setting3=192.168.7.20&setting4=192.168.7.2&IpAcquIndex=0",
        // a variable missing, too long or malformed
        "setting1=192.168.7.20&setting2=255.255.0.0&setting3=192.168.7.1&IpAcquIndex=0",
        "setting1=192.168.7.20&setting2=255.255.0.0&setting3=192.168.7.1&setting4=192.168.7.2",
        "setting1=192.168.7.20&setting2=255.255.0.0&setting3=192.168.7.1&setting4=192.168.7.2&IpAcquIndex=2",
        "setting1=192.168.7.20&setting2=255.255.0.0&setting3=192.168.7.1&setting4=192.168.7.2&IpAcquIndex=x",
        "setting1=192.168.7.20&setting2=255.255.0.0&setting3=192.168.7.1&setting4=192.168.7.2&IpAcquIndex=0000",
        "setting1=192.168.7.20&setting2=255.255.0.0&setting3=192.168.7.1&setting4=192.168.7.2%&IpAcquIndex=0",
        "setting1=192.168.7.20" + std::string(60, '0') +
            "&setting2=255.255.0.0&setting3=192.168.7.1&setting4=192.168.7.2&IpAcquIndex=0",
        "",
    };
    for (const std::string &body : bad) {
        testing::internal::CaptureStdout();
        WebReply rep = request("/save", body);
        testing::internal::GetCapturedStdout();
        expect_home(rep);
        EXPECT_TRUE(state() == before) << body;
    }
}

TEST_F(WebControl, SaveWithDhcpRunsTheClientOnItsOwnThread) {
    {
        std::lock_guard<std::mutex> g(g_calls.m);
        g_calls.holdDhcp = true;  // a client that does not finish
    }
    WebReply rep = request("/save", "IpAcquIndex=1");
    // The answer is there while the client still runs.
    expect_home(rep);
    {
        std::unique_lock<std::mutex> g(g_calls.m);
        ASSERT_TRUE(g_calls.cv.wait_for(g, std::chrono::seconds(5), [] { return g_calls.dhcp == 1; }));
        EXPECT_EQ(g_calls.dhcpThread, "WebDhcpProc");
    }
    EXPECT_EQ(read_file(dhcp_), "1");
    EXPECT_EQ(g_NetInfoEx.ucDhcpFlag, 1);
    EXPECT_EQ(ucCheckIpFlag, 0);
    // Other requests are answered meanwhile.
    EXPECT_EQ(request("/get_Rec_Status", "", "GET").kind, WebReply::Json);
    {
        std::lock_guard<std::mutex> g(g_calls.m);
        g_calls.holdDhcp = false;
        g_calls.cv.notify_all();
    }
    WebWorkersIdle();
    EXPECT_EQ(g_calls.dhcp, 1);
    EXPECT_TRUE(g_calls.ifaddr.empty());
}

TEST_F(WebControl, RtmpUrlSaveStoresTheDestinationOfTheCurrentIndex) {
    UserSetPut(UsrBits::RtmpIndex, 3);
    testing::internal::CaptureStdout();
    WebReply rep = request("/RtmpUrl_save", "UserName=cam+A&StreamAddr=rtmp%3A%2F%2F192.168.1.1%2Flive%2Fa");
    std::string out = testing::internal::GetCapturedStdout();
    expect_home(rep);
    ST_RTMP_URL r = stored_url(3);
    EXPECT_EQ(r.index, 3);
    EXPECT_STREQ(r.user_name, "cam A");
    EXPECT_EQ(r.user_name_len, 5);
    EXPECT_STREQ(r.rtmp_url, "rtmp://192.168.1.1/live/a");
    EXPECT_EQ(r.rtmp_url_len, 25);
    EXPECT_NE(out.find("UserName: cam A\n"), std::string::npos);
    EXPECT_NE(out.find("StreamAddr: rtmp://192.168.1.1/live/a\n"), std::string::npos);
    EXPECT_NE(out.find("save index = 3\n"), std::string::npos);
    auto frames = tap_.frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].cmd, 0x67);
    ASSERT_EQ(frames[0].payload.size(), 1 + sizeof r);
    EXPECT_EQ(memcmp(frames[0].payload.data() + 1, &r, sizeof r), 0);
    EXPECT_EQ(UserSetGet(UsrBits::RtmpOnOff), 0);  // publishing untouched
}

TEST_F(WebControl, DestinationFormsWithBadVariablesChangeNothing) {
    State before = state();
    const std::string bad[] = {
        "UserName=" + std::string(16, 'u') + "&StreamAddr=rtmp%3A%2F%2Fh%2Fl",  // 16 > 15
        "UserName=u&StreamAddr=" + std::string(768, 'a'),                     // 768 > 767
        "UserName=u",
        "StreamAddr=rtmp%3A%2F%2Fh%2Fl",
        "UserName=u%2&StreamAddr=x",
        "UserName=u%00v&StreamAddr=x",
    };
    for (const char *uri : {"/RtmpUrl_save", "/streamOnOff"})
        for (const std::string &body : bad) {
            testing::internal::CaptureStdout();
            expect_home(request(uri, body));
            testing::internal::GetCapturedStdout();
            EXPECT_TRUE(state() == before) << uri << " " << body;
        }
    // The longest values that fit are kept whole.
    std::string user(15, 'u'), addr = "rtmp://h/" + std::string(758, 'a');
    testing::internal::CaptureStdout();
    request("/RtmpUrl_save", "UserName=" + user + "&StreamAddr=" + addr);
    testing::internal::GetCapturedStdout();
    ST_RTMP_URL r = stored_url(0);
    EXPECT_EQ(std::string(r.user_name), user);
    EXPECT_EQ(std::string(r.rtmp_url), addr);
    EXPECT_EQ(r.rtmp_url_len, 767);
}

TEST_F(WebControl, StreamOnOffSavesThenSwitchesPublishing) {
    UserSetPut(UsrBits::RtmpIndex, 2);
    testing::internal::CaptureStdout();
    expect_home(request("/streamOnOff", "UserName=one&StreamAddr=rtmp%3A%2F%2Fh%2Flive%2Fone"));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(UserSetGet(UsrBits::RtmpOnOff), 1);
    EXPECT_EQ(emRtmpState.load(), State_Rtmp_Connect);
    EXPECT_STREQ(g_stUrl.rtmp_url, "rtmp://h/live/one");  // the destination just saved
    EXPECT_STREQ(stored_url(2).user_name, "one");
    EXPECT_NE(out.find("stream on..."), std::string::npos);
    EXPECT_STREQ(s_cStrem, "1");

    u8RtmpConnectOK = 1;  // as the publisher sets it once connected
    emRtmpState = State_Rtmp_Send;
    testing::internal::CaptureStdout();
    expect_home(request("/streamOnOff", "UserName=two&StreamAddr=rtmp%3A%2F%2Fh%2Flive%2Ftwo"));
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(UserSetGet(UsrBits::RtmpOnOff), 0);
    EXPECT_EQ(emRtmpState.load(), State_Rtmp_Close);
    EXPECT_STREQ(stored_url(2).user_name, "two");  // stored the second time too
    EXPECT_NE(out.find("stream off..."), std::string::npos);
    EXPECT_STREQ(s_cStrem, "0");
    auto frames = tap_.frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].cmd, 0x67);
    EXPECT_EQ(frames[1].cmd, 0x67);
}

TEST_F(WebControl, StreamOnWithoutAReadableDestinationIsRefused) {
    strcpy(g_stUrl.rtmp_url, "rtmp://keep/live/x");
    ST_RTMP_URL before = g_stUrl;
    RtmpUrlSetDirs((dir_ + "/gone").c_str(), (dir_ + "/gone").c_str());  // the save cannot store it
    testing::internal::CaptureStdout();
    expect_home(request("/streamOnOff", "UserName=one&StreamAddr=rtmp%3A%2F%2Fh%2Flive%2Fone"));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(UserSetGet(UsrBits::RtmpOnOff), 0);
    EXPECT_EQ(emRtmpState.load(), State_Rtmp_Init);
    EXPECT_EQ(memcmp(&g_stUrl, &before, sizeof before), 0);
    EXPECT_STREQ(s_cStrem, "0");
}

TEST_F(WebControl, RtmpUrlReadLoadsTheCurrentDestination) {
    UserSetPut(UsrBits::RtmpIndex, 5);
    testing::internal::CaptureStdout();
    request("/RtmpUrl_save", "UserName=five&StreamAddr=rtmp%3A%2F%2Fh%2F5");
    testing::internal::GetCapturedStdout();
    memset(&s_rtmp, 0x41, sizeof s_rtmp);
    State before = state();
    testing::internal::CaptureStdout();
    expect_home(request("/RtmpUrl_read"));
    testing::internal::GetCapturedStdout();
    EXPECT_STREQ(s_rtmp.user_name, "five");
    EXPECT_STREQ(s_rtmp.rtmp_url, "rtmp://h/5");
    EXPECT_TRUE(state() == before);
}

TEST_F(WebControl, SetUrlIndexKeepsThreeBitsAndTellsTheHost) {
    testing::internal::CaptureStdout();
    expect_home(request("/setUrlIndex", "UrlIndex=9"));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(UserSetGet(UsrBits::RtmpIndex), 1);
    EXPECT_NE(out.find("UrlIndex: 9\n"), std::string::npos);
    auto frames = tap_.frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].cmd, 0x6C);
    EXPECT_EQ(frames[0].payload, (std::vector<uint8_t>{0, 1}));

    State before = state();
    for (const char *bad : {"UrlIndex=", "UrlIndex=a", "UrlIndex=1000", "UrlIndex=-1", "Url=3", "UrlIndex=%33%"}) {
        testing::internal::CaptureStdout();
        expect_home(request("/setUrlIndex", bad));
        testing::internal::GetCapturedStdout();
        EXPECT_TRUE(state() == before) << bad;
    }
}

TEST_F(WebControl, SaveRtmpRateSetsTheLiveIndexAndRebuildsOnTheEncoderWorker) {
    testing::internal::CaptureStdout();
    expect_home(request("/saveRtmpRate", "StreamIndex=5"));
    std::string out = testing::internal::GetCapturedStdout();
    WebWorkersIdle();
    EXPECT_EQ(g_stUserSet.ucBitRate[1], 5);
    EXPECT_STREQ(s_user.cStreamBitRate, "5");
    EXPECT_NE(out.find("cStreamBitRate: 5\n"), std::string::npos);
    EXPECT_EQ(g_calls.venc, 1);
    EXPECT_EQ(g_calls.vencChn, 1u);
    EXPECT_EQ(g_calls.vencThread, "WebVencProc");

    State before = state();
    for (const char *bad : {"StreamIndex=256", "StreamIndex=", "StreamIndex=x1", "StreamIndex=1000", "Stream=1"}) {
        testing::internal::CaptureStdout();
        expect_home(request("/saveRtmpRate", bad));
        testing::internal::GetCapturedStdout();
        EXPECT_TRUE(state() == before) << bad;
    }
}

TEST_F(WebControl, StatusAnswersAreJsonResults) {
    ASSERT_TRUE(write_file(stat_, "cpu  30 0 10 60 0 0 0 0 0 0\n"));
    WebSetHooks([this] {
        WebHooks h = WebDefaultHooks();
        h.setIfAddr = fake_set_if_addr;
        h.runDhcp = fake_dhcp;
        h.vencSetRcParam = fake_venc;
        h.cpuStat = stat_.c_str();
        return h;
    }());
    EXPECT_EQ(WebCpuSample(), 40);
    ASSERT_TRUE(write_file(stat_, "cpu  100 0 10 90 0 0 0 0 0 0\n"));
    EXPECT_EQ(WebCpuSample(), 70);
    WebReply rep = request("/get_cpu_usage", "", "GET");
    EXPECT_EQ(rep.kind, WebReply::Json);
    EXPECT_EQ(rep.body, "{ \"result\": 70 }");

    rep = request("/get_Rec_Status", "", "GET");
    EXPECT_EQ(rep.body, "{ \"result\": 0 }");
    UserSetPut(UsrBits::SaveOnOff, 1);
    rep = request("/get_Rec_Status", "", "GET");
    EXPECT_EQ(rep.kind, WebReply::Json);
    EXPECT_EQ(rep.body, "{ \"result\": 1 }");
}

TEST_F(WebControl, PageTagsShowTheCurrentValues) {
    UserSetPut(UsrBits::RtmpIndex, 4);
    testing::internal::CaptureStdout();
    request("/RtmpUrl_save", "UserName=%3Cb%3E&StreamAddr=rtmp%3A%2F%2Fh%2Fl%3Fa%3D1%26b%3D%222%22");
    testing::internal::GetCapturedStdout();
    UserSetPut(UsrBits::RtmpOnOff, 1);
    UserSetPut(UsrBits::SaveOnOff, 1);
    g_stUserSet.ucBitRate[1] = 7;
    ASSERT_TRUE(write_file(root_ + "/index.shtml",
                           "<!--#call setting1 -->|<!--#call setting2 -->|<!--#call setting3 -->|"
                           "<!--#call setting4 -->|<!--#call setting5 -->|<!--#call UserName -->|"
                           "<!--#call StreamAddr -->|<!--#call StreamStatus -->|<!--#call RecStatus -->|"
                           "<!--#call iStreamBitRate -->|<!--#call iUrlIndex -->|<!--#call nosuch -->."));
    testing::internal::CaptureStdout();
    std::string body = page("/");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(body, "10.0.0.5|255.255.0.0|10.0.0.1|10.0.0.1|0|&lt;b&gt;|rtmp://h/l?a=1&amp;b=&quot;2&quot;|1|1|7|4|.");
    // The same page under its own name; a plain index comes first.
    testing::internal::CaptureStdout();
    EXPECT_EQ(page("/index.shtml"), body);
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(write_file(root_ + "/index.html", "plain"));
    EXPECT_EQ(request("/", "", "GET").kind, WebReply::Serve);
}

TEST_F(WebControl, LaterTagsShowWhatTheFirstOnesLoaded) {
    ASSERT_TRUE(write_file(root_ + "/a.shtml", "<!--#call setting2 -->,<!--#call StreamAddr -->,"
                                               "<!--#call setting1 -->,<!--#call setting2 -->"));
    UserSetPut(UsrBits::RtmpIndex, 1);
    testing::internal::CaptureStdout();
    request("/RtmpUrl_save", "UserName=u&StreamAddr=rtmp%3A%2F%2Fsaved");
    request("/RtmpUrl_read");  // loaded: StreamAddr shows it even before UserName
    std::string first = page("/a.shtml");
    // A new mask on file shows up only after "setting1" has reloaded it.
    const uint8_t rec[13] = {0xAA, 10, 0, 0, 5, 255, 0, 0, 0, 10, 0, 0, 1};
    ASSERT_TRUE(write_file(netip_, std::string((const char *)rec, sizeof rec)));
    std::string second = page("/a.shtml");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(first, "255.255.255.0,rtmp://saved,10.0.0.5,255.255.0.0");  // start value first
    EXPECT_EQ(second, "255.255.0.0,rtmp://saved,10.0.0.5,255.0.0.0");
}

TEST_F(WebControl, OnlyPagesInsideTheDocumentRootAreRendered) {
    ASSERT_TRUE(write_file(dir_ + "/secret.shtml", "<!--#call setting1 -->"));
    ASSERT_EQ(symlink((dir_ + "/secret.shtml").c_str(), (root_ + "/link.shtml").c_str()), 0);
    ASSERT_EQ(mkdir((root_ + "/sub").c_str(), 0755), 0);
    for (const char *uri : {"/../secret.shtml", "/sub/../../secret.shtml", "/link.shtml", "/nosuch.shtml", "/sub",
                            "/..", "", "x.shtml", "/style.css"}) {
        WebReply rep = request(uri, "", "GET");
        EXPECT_EQ(rep.kind, WebReply::Serve) << uri;
        EXPECT_TRUE(rep.body.empty()) << uri;
    }
    ASSERT_TRUE(write_file(root_ + "/sub/index.shtml", "in <!--#call iUrlIndex -->"));
    EXPECT_EQ(page("/sub/"), "in 0");
}

TEST_F(WebControl, ConcurrentRequestsNeverMixTwoForms) {
    // Each thread stores its own destination many times; every record that
    // reaches the store and the host must be one thread's whole form.
    constexpr int kThreads = 6, kRounds = 40;
    ASSERT_TRUE(write_file(root_ + "/index.shtml", "<!--#call UserName --><!--#call StreamAddr -->"));
    testing::internal::CaptureStdout();
    std::vector<std::thread> ts;
    for (int t = 0; t < kThreads; ++t)
        ts.emplace_back([this, t] {
            std::string name = "user" + std::to_string(t);
            std::string body = "UserName=" + name + "&StreamAddr=rtmp%3A%2F%2Fhost%2F" + std::string(200 + 50 * t, 'a' + t);
            for (int i = 0; i < kRounds; ++i) {
                request("/RtmpUrl_save", body);
                request("/setUrlIndex", "UrlIndex=" + std::to_string(t));
                request("/", "", "GET");
            }
        });
    for (auto &t : ts) t.join();
    testing::internal::GetCapturedStdout();
    auto frames = tap_.frames();
    int records = 0;
    for (auto &f : frames) {
        if (f.cmd != 0x67) continue;
        ++records;
        ST_RTMP_URL r;
        ASSERT_EQ(f.payload.size(), 1 + sizeof r);
        memcpy(&r, f.payload.data() + 1, sizeof r);
        int t = r.user_name[4] - '0';
        ASSERT_TRUE(t >= 0 && t < kThreads) << r.user_name;
        EXPECT_EQ(std::string(r.rtmp_url), "rtmp://host/" + std::string(200 + 50 * t, 'a' + t));
        EXPECT_EQ(r.rtmp_url_len, strlen(r.rtmp_url));
        EXPECT_EQ(r.user_name_len, strlen(r.user_name));
    }
    EXPECT_EQ(records, kThreads * kRounds);
}

}  // namespace
