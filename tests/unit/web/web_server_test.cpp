// The web control served in-process on a loopback port: exact answers on the
// wire, pages, files, refusals, start-up failures and the WebSocket push.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net_config.h"
#include "rtmp_publish.h"
#include "uart_proto.h"
#include "user_setting.h"
#include "web_control.h"
#include "web_test_util.h"

using namespace webtest;

namespace {

int no_if_addr(const char *, const char *, const char *, const char *) { return 0; }
int no_dhcp(void) { return 0; }
int no_venc(unsigned) { return 0; }

double now_s() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// One server for the suite (stopping one takes the library a while).
class WebServe : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = make_temp_dir();
        root_ = dir_ + "/web_root";
        url_ = dir_ + "/url";
        mkdir(root_.c_str(), 0755);
        mkdir(url_.c_str(), 0755);
        WebStartResult r;
        srv_ = WebControlStart("127.0.0.1:0", root_.c_str(), &r);
        port_ = WebServerPort(srv_);
    }
    static void TearDownTestSuite() {
        WebServerStop(srv_);
        srv_ = nullptr;
        WebSetDocRoot(WEB_ROOT);
        remove_tree(dir_);
    }
    void SetUp() override {
        ASSERT_NE(srv_, nullptr);
        ASSERT_GT(port_, 0);
        ASSERT_TRUE(write_file(root_ + "/index.shtml", "<p>index <!--#call iUrlIndex --></p>"));
        ASSERT_TRUE(write_file(root_ + "/plain.txt", "plain file\n"));
        ASSERT_TRUE(write_file(dir_ + "/outside.txt", "secret\n"));
        RtmpUrlSetDirs(url_.c_str(), url_.c_str());
        g_UartFd = tap_.fd();
        WebHooks h = WebDefaultHooks();
        h.setIfAddr = no_if_addr;
        h.runDhcp = no_dhcp;
        h.vencSetRcParam = no_venc;
        WebSetHooks(h);
        WebSetDocRoot(root_.c_str());
        WebResetForTest();
        UserSetPut(UsrBits::RtmpIndex, 0);
        UserSetPut(UsrBits::SaveOnOff, 0);
    }
    void TearDown() override {
        stop_ = true;
        if (pusher_.joinable()) pusher_.join();
        WebWorkersIdle();
        g_UartFd = -1;
        RtmpUrlSetDirs(nullptr, nullptr);
        WebSetHooks(WebDefaultHooks());
    }
    void start_push() {
        pusher_ = std::thread([this] { WebPushLoop(srv_, &stop_); });
    }

    SerialTap tap_;
    static std::string dir_, root_, url_;
    static WebServer *srv_;
    static int port_;
    std::atomic<bool> stop_{false};
    std::thread pusher_;
};

TEST_F(WebServe, JsonAnswersAreExactlyTheChunkedForm) {
    UserSetPut(UsrBits::SaveOnOff, 1);
    EXPECT_EQ(http_get(port_, "/get_Rec_Status"),
              "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nf\r\n{ \"result\": 1 }\r\n0\r\n\r\n");
    std::string cpu = http_get(port_, "/get_cpu_usage");
    int v = -1;
    ASSERT_EQ(sscanf(cpu.c_str(), "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n%*x\r\n{ \"result\": %d }", &v),
              1)
        << cpu;
    EXPECT_GE(v, 0);
    EXPECT_LE(v, 100);
    EXPECT_EQ(v, WebCpuLoad());
}

TEST_F(WebServe, KeptAliveConnectionCarriesSeveralAnswers) {
    int fd = connect_loopback(port_);
    ASSERT_GE(fd, 0);
    const std::string req = "GET /get_Rec_Status HTTP/1.1\r\nHost: x\r\n\r\n";
    const std::string want =
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nf\r\n{ \"result\": 0 }\r\n0\r\n\r\n";
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(send_all(fd, req));
        std::string got;
        char buf[512];
        while (got.size() < want.size()) {
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            ASSERT_GT(n, 0) << "round " << i;
            got.append(buf, (size_t)n);
        }
        EXPECT_EQ(got, want);
    }
    close(fd);
}

TEST_F(WebServe, FormsAnswerWithARedirectHome) {
    testing::internal::CaptureStdout();
    std::string a = http_post(port_, "/setUrlIndex", "UrlIndex=6");
    std::string b = http_post(port_, "/RtmpUrl_save", "UserName=n&StreamAddr=rtmp%3A%2F%2Fx");
    testing::internal::GetCapturedStdout();
    for (const std::string &ans : {a, b}) {
        EXPECT_EQ(status_of(ans), 302) << ans;
        EXPECT_EQ(header_of(ans, "Location"), "/");
    }
    EXPECT_EQ(UserSetGet(UsrBits::RtmpIndex), 6);
    bool exists = false;
    read_file(url_ + "/6", &exists);
    EXPECT_TRUE(exists);
    // The page shows the new index.
    std::string page = http_get(port_, "/");
    EXPECT_EQ(status_of(page), 200);
    EXPECT_EQ(body_of(page), "<p>index 6</p>");
    EXPECT_EQ(header_of(page, "Content-Type"), "text/html; charset=utf-8");
}

TEST_F(WebServe, FilesAreServedAndNothingOutsideTheRoot) {
    std::string f = http_get(port_, "/plain.txt");
    EXPECT_EQ(status_of(f), 200);
    EXPECT_EQ(body_of(f), "plain file\n");
    for (const char *path : {"/../outside.txt", "/%2e%2e/outside.txt", "/a/../../outside.txt", "/nosuch"}) {
        std::string ans = http_get(port_, path);
        EXPECT_EQ(status_of(ans), 404) << path << "\n" << ans;
        EXPECT_EQ(ans.find("secret"), std::string::npos) << path;
    }
    // Include tags are not evaluated by anyone else (no script runs either).
    ASSERT_TRUE(write_file(root_ + "/x.cgi", "#!/bin/sh\necho ran\n"));
    chmod((root_ + "/x.cgi").c_str(), 0755);
    std::string cgi = http_get(port_, "/x.cgi");
    EXPECT_EQ(cgi.find("\nran"), std::string::npos);
}

TEST_F(WebServe, OversizedBodyIsRefusedAndChangesNothing) {
    testing::internal::CaptureStdout();
    std::string big = "UrlIndex=5&pad=" + std::string(WEB_BODY_MAX, 'p');
    std::string ans = http_post(port_, "/setUrlIndex", big);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(status_of(ans), 413);
    EXPECT_EQ(UserSetGet(UsrBits::RtmpIndex), 0);
    // Garbage instead of a request is answered with an error, and the server goes on.
    std::string junk = http_raw(port_, std::string("\x01\x02 nonsense\r\n\r\n", 15));
    EXPECT_TRUE(junk.empty() || status_of(junk) >= 400) << junk;
    EXPECT_EQ(status_of(http_get(port_, "/plain.txt")), 200);
}

TEST_F(WebServe, ConcurrentClientsAllGetTheirAnswers) {
    constexpr int kThreads = 8, kEach = 25;
    std::atomic<int> ok{0};
    testing::internal::CaptureStdout();
    std::vector<std::thread> ts;
    for (int t = 0; t < kThreads; ++t)
        ts.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                std::string a = t % 2 ? http_get(port_, "/") : http_post(port_, "/setUrlIndex", "UrlIndex=3");
                if (status_of(a) == (t % 2 ? 200 : 302)) ++ok;
            }
        });
    for (auto &t : ts) t.join();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(ok.load(), kThreads * kEach);
}

std::string WebServe::dir_, WebServe::root_, WebServe::url_;
WebServer *WebServe::srv_ = nullptr;
int WebServe::port_ = 0;

// A WebSocket client: handshake, then text frames as they come.
class WsClient {
public:
    explicit WsClient(int port) : fd_(connect_loopback(port)) {}
    ~WsClient() {
        if (fd_ >= 0) close(fd_);
    }
    bool handshake() {
        if (!send_all(fd_, "GET / HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n"))
            return false;
        while (buf_.find("\r\n\r\n") == std::string::npos)
            if (!fill()) return false;
        size_t end = buf_.find("\r\n\r\n") + 4;
        std::string head = buf_.substr(0, end);
        buf_.erase(0, end);
        return head.find(" 101 ") != std::string::npos &&
               head.find("s3pPLMBiTxaQ9kYGzzhZRbK+xOo=") != std::string::npos;
    }
    // Next frame as (opcode, payload); opcode -1 when the connection ended.
    std::pair<int, std::string> frame() {
        while (buf_.size() < 2)
            if (!fill()) return {-1, ""};
        size_t len = (uint8_t)buf_[1] & 0x7F, off = 2;
        if (len == 126) {
            while (buf_.size() < 4)
                if (!fill()) return {-1, ""};
            len = ((uint8_t)buf_[2] << 8) | (uint8_t)buf_[3];
            off = 4;
        }
        while (buf_.size() < off + len)
            if (!fill()) return {-1, ""};
        std::pair<int, std::string> f{(uint8_t)buf_[0] & 0x0F, buf_.substr(off, len)};
        EXPECT_EQ((uint8_t)buf_[0] & 0x80, 0x80);  // whole message in one frame
        buf_.erase(0, off + len);
        return f;
    }

private:
    bool fill() {
        char b[1024];
        ssize_t n = recv(fd_, b, sizeof b, 0);
        if (n <= 0) return false;
        buf_.append(b, (size_t)n);
        return true;
    }
    int fd_;
    std::string buf_;
};

TEST_F(WebServe, WebSocketClientsGetTheLoadOncePerSecond) {
    WsClient a(port_), b(port_);
    ASSERT_TRUE(a.handshake());
    ASSERT_TRUE(b.handshake());
    for (int i = 0; i < 100 && WebServerClientCount(srv_) < 2; ++i) usleep(10000);
    ASSERT_EQ(WebServerClientCount(srv_), 2);
    start_push();
    std::vector<double> at;
    for (int i = 0; i < 4; ++i) {
        auto f = a.frame();
        ASSERT_EQ(f.first, 1) << "text frame expected";
        at.push_back(now_s());
        int v = -1;
        char tail;
        ASSERT_EQ(sscanf(f.second.c_str(), "%d%c", &v, &tail), 1) << f.second;
        EXPECT_GE(v, 0);
        EXPECT_LE(v, 100);
        auto g = b.frame();
        EXPECT_EQ(g.first, 1);
    }
    for (size_t i = 1; i < at.size(); ++i) {
        EXPECT_GT(at[i] - at[i - 1], 0.7) << i;
        EXPECT_LT(at[i] - at[i - 1], 1.3) << i;
    }
}

TEST_F(WebServe, ClosedWebSocketsLeaveTheList) {
    start_push();
    for (int round = 0; round < 20; ++round) {
        WsClient c(port_);
        ASSERT_TRUE(c.handshake());
    }
    for (int i = 0; i < 200 && WebServerClientCount(srv_) > 0; ++i) usleep(10000);
    EXPECT_EQ(WebServerClientCount(srv_), 0);
    EXPECT_EQ(WebServerPushText(srv_, "1", 1), 0);
}

TEST_F(WebServe, WebSocketsHoldAtMostHalfTheWorkersAndPagesStillAnswer) {
    std::vector<std::unique_ptr<WsClient>> ws;
    int accepted = 0;
    for (int i = 0; i < 20; ++i) {
        ws.push_back(std::make_unique<WsClient>(port_));
        if (ws.back()->handshake()) ++accepted;
    }
    EXPECT_EQ(accepted, WEB_WORKERS / 2);
    EXPECT_EQ(WebServerClientCount(srv_), WEB_WORKERS / 2);
    EXPECT_EQ(status_of(http_get(port_, "/")), 200);
    EXPECT_EQ(status_of(http_get(port_, "/get_Rec_Status")), 200);
    // A closed one frees its place.
    ws.clear();
    for (int i = 0; i < 200 && WebServerClientCount(srv_) > 0; ++i) usleep(10000);
    WsClient again(port_);
    EXPECT_TRUE(again.handshake());
}

TEST(WebWsPlaces, HandshakesThatNeverGetReadyGiveTheirPlaceBackAfterTenSeconds) {
    using std::chrono::milliseconds;
    using std::chrono::seconds;
    // Connection records are only compared, never used: any distinct pointers do.
    char rec[64];
    auto conn = [&rec](int i) { return reinterpret_cast<mg_connection *>(rec + i); };
    WebWsPlaces p;
    const auto t0 = WebWsPlaces::Clock::now();
    ASSERT_TRUE(p.Open(conn(0), t0));
    p.Ready(conn(0));
    // Handshakes that never finish, begun at t0 (odd i) and t0 + 1 s (even i).
    for (int i = 1; i < WEB_WS_MAX; ++i) ASSERT_TRUE(p.Open(conn(i), t0 + seconds(i % 2 ? 0 : 1)));
    const int early = WEB_WS_MAX / 2;  // i = 1, 3, ... below WEB_WS_MAX
    EXPECT_FALSE(p.Open(conn(40), t0 + seconds(WEB_WS_OPENING_S)));
    // Just past ten seconds the early ones are gone; the open client stays.
    const auto t1 = t0 + seconds(WEB_WS_OPENING_S) + milliseconds(1);
    for (int i = 0; i < early; ++i) EXPECT_TRUE(p.Open(conn(40 + i), t1)) << i;
    EXPECT_FALSE(p.Open(conn(50), t1));
    ASSERT_EQ(p.clients().size(), 1u);
    EXPECT_EQ(p.clients()[0], conn(0));
    // A close gives its place back at once; so does a record opened again.
    p.Close(conn(40));
    EXPECT_TRUE(p.Open(conn(51), t1));
    EXPECT_TRUE(p.Open(conn(51), t1));
    EXPECT_FALSE(p.Open(conn(52), t1));
    p.Close(conn(0));
    EXPECT_TRUE(p.clients().empty());
}

TEST(WebStart, BindAndDocumentRootFailuresAreReported) {
    std::string dir = make_temp_dir();
    WebStartResult r;
    WebServer *first = WebControlStart("127.0.0.1:0", dir.c_str(), &r);
    ASSERT_NE(first, nullptr);
    std::string taken = "127.0.0.1:" + std::to_string(WebServerPort(first));
    testing::internal::CaptureStderr();
    EXPECT_EQ(WebControlStart(taken.c_str(), dir.c_str(), &r), nullptr);
    EXPECT_EQ(r, WEB_START_BIND);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Cannot bind to " + taken + "\n");
    WebServerStop(first);

    testing::internal::CaptureStderr();
    EXPECT_EQ(WebControlStart("127.0.0.1:0", (dir + "/none").c_str(), &r), nullptr);
    EXPECT_EQ(r, WEB_START_ROOT);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Cannot find web_root directory, exiting\n");
    WebSetDocRoot(WEB_ROOT);
    remove_tree(dir);
}

TEST(WebStartDeathTest, MissingRootEndsTheProcessWithStatusOne) {
#if defined(__arm__)
    // Under qemu-arm the child cannot re-execute an ARM program (no binfmt
    // handler needed): fork only. The death tests run before any thread starts.
    GTEST_FLAG_SET(death_test_style, "fast");
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
#endif
    std::string dir = make_temp_dir();
    // The thread entry serves "web_root" of the working directory on port 80.
    EXPECT_EXIT(
        {
            if (chdir(dir.c_str()) != 0) _exit(3);
            MongooseWeb(nullptr);
        },
        testing::ExitedWithCode(1), "Cannot (find web_root directory, exiting|bind to 80)");
    remove_tree(dir);
}

}  // namespace
