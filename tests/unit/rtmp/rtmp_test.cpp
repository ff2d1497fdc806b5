// RTMP publisher: FLV tag bodies, time stamp clocks, the connection state
// machine and the destination store, against a recording transport.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "h264_sps.h"
#include "link_test_util.h"
#include "proto_cmd.h"
#include "rtmp_publish.h"
#include "uart_proto.h"
#include "user_setting.h"

namespace {

struct Sent {
    uint8_t type;
    uint32_t ts;
    int header;
    std::vector<uint8_t> body;
};

class FakeLink : public RtmpTransport {
public:
    std::vector<int> connect_results;  // consumed one per connect; then 0
    std::vector<Sent> sent;
    int connects = 0, closes = 0;
    bool up = false;
    int fail_sends = 0;  // next n sends fail
    int connect(const char *url) override {
        ++connects;
        last_url = url;
        urls.push_back(url);
        if (on_connect) on_connect(connects);
        int r = connect_results.empty() ? 0 : connect_results.front();
        if (!connect_results.empty()) connect_results.erase(connect_results.begin());
        up = r == 0;
        return r;
    }
    bool connected() override { return up; }
    int send(uint8_t type, uint32_t ts, int header, const uint8_t *body, uint32_t len) override {
        if (fail_sends > 0) {
            --fail_sends;
            return 0;
        }
        sent.push_back({type, ts, header, std::vector<uint8_t>(body, body + len)});
        return 1;
    }
    void close() override {
        ++closes;
        up = false;
    }
    std::string last_url;
    std::vector<std::string> urls;
    std::function<void(int)> on_connect;  // called with the attempt number from 1
};

// A 1920x1080 SPS of the board's encoder at 30 fps (VUI tick 1, time scale
// 30, rate not fixed) and a PPS.
const std::vector<uint8_t> kSps = {0x67, 0x64, 0x00, 0x28, 0xac, 0xb4, 0x03, 0xc0, 0x11, 0x3f, 0x2c, 0x20, 0x00,
                                   0x00, 0x03, 0x00, 0x20, 0x00, 0x00, 0x03, 0x03, 0xc1, 0xe3, 0x06, 0x54};
const std::vector<uint8_t> kPps = {0x68, 0xeb, 0xe3, 0xcb, 0x22, 0xc0};

class Rtmp : public ::testing::Test {
protected:
    void SetUp() override {
        RtmpResetForTest();
        RtmpSetTransport(&link_);
        ASSERT_EQ(rtp_init(&list_), 0);
        SpsPpsStore(1, kSps.data(), (uint32_t)kSps.size(), kPps.data(), (uint32_t)kPps.size());
        ASSERT_EQ(pipe2(uart_, O_NONBLOCK), 0);
        g_UartFd = uart_[1];
        UserSetPut(UsrBits::RtmpOnOff, 1);
        snprintf(g_stUrl.rtmp_url, sizeof g_stUrl.rtmp_url, "rtmp://10.0.0.1/live/test");
    }
    void TearDown() override {
        RtmpSetTransport(nullptr);
        rtp_destroy(&list_);
        g_UartFd = -1;
        close(uart_[0]);
        close(uart_[1]);
    }
    // Frame data as the stream thread stores it: 4-byte length, then the NAL
    // unit. Capture stamps follow 30 fps and 1024-sample AAC frames unless given.
    void video(bool key, size_t payload = 20, uint64_t stamp = UINT64_MAX) {
        if (stamp == UINT64_MAX) stamp = vstamp_ += 33333;
        std::vector<uint8_t> d(4 + payload, 0x41);
        d[0] = (uint8_t)(payload >> 24);
        d[1] = (uint8_t)(payload >> 16);
        d[2] = (uint8_t)(payload >> 8);
        d[3] = (uint8_t)payload;
        d[4] = key ? 0x65 : 0x41;
        add_frame(&list_, d.data(), (uint32_t)d.size(), FRAME_TYPE_VIDEO, stamp, key ? 1 : 0);
    }
    void audio(size_t n = 10, uint64_t stamp = UINT64_MAX) {
        if (stamp == UINT64_MAX) stamp = astamp_ += 21333;
        std::vector<uint8_t> d(n, 0x21);
        add_frame(&list_, d.data(), (uint32_t)d.size(), FRAME_TYPE_AUDIO, stamp, 0);
    }
    void drain() {
        for (int i = 0; i < 50 && list_.i_buf_num.load() > 0; ++i) RtmpStep(&list_, 0);
    }
    // Device frames the publisher sent to the host: (command, payload).
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> host_frames() {
        std::vector<uint8_t> raw(65536);
        ssize_t n = read(uart_[0], raw.data(), raw.size());
        std::vector<std::pair<uint8_t, std::vector<uint8_t>>> out;
        // 0xA5 0x6C, length (11 bits), 0xE0, 11 zero bytes, command, payload, sum, 0xAE
        for (size_t i = 0; n > 0 && i + 20 <= (size_t)n;) {
            if (raw[i] != 0xA5 || raw[i + 1] != 0x6C) {
                ++i;
                continue;
            }
            size_t len = raw[i + 2] | ((raw[i + 3] & 0x07) << 8);
            if (len < 20 || i + len > (size_t)n) break;
            out.push_back({raw[i + 16], std::vector<uint8_t>(raw.begin() + i + 17, raw.begin() + i + len - 3)});
            i += len;
        }
        return out;
    }
    void connect() {
        RtmpOpenState();
        RtmpStep(&list_, 0);
        ASSERT_EQ(emRtmpState, State_Rtmp_Send);
    }

    FakeLink link_;
    rtp_s list_;
    int uart_[2];
    uint64_t vstamp_ = 0, astamp_ = 0;
};

TEST_F(Rtmp, KeyFrameGoesWithSequenceHeaderAndDropsWhatCameBefore) {
    connect();
    audio();
    video(false);  // before the first key frame: dropped, audio too
    video(true);
    video(false);
    drain();
    ASSERT_EQ(link_.sent.size(), 3u);
    const Sent &seq = link_.sent[0];
    EXPECT_EQ(seq.type, 9);
    EXPECT_EQ(seq.header, 1);
    std::vector<uint8_t> expect = {0x17, 0, 0, 0, 0, 0x01, kSps[1], kSps[2], kSps[3], 0xFF, 0xE1, 0, (uint8_t)kSps.size()};
    expect.insert(expect.end(), kSps.begin(), kSps.end());
    expect.insert(expect.end(), {0x01, 0, (uint8_t)kPps.size()});
    expect.insert(expect.end(), kPps.begin(), kPps.end());
    EXPECT_EQ(seq.body, expect);
    const Sent &key = link_.sent[1];
    EXPECT_EQ(key.header, 0);
    ASSERT_EQ(key.body.size(), 9u + 20u);
    EXPECT_EQ(std::vector<uint8_t>(key.body.begin(), key.body.begin() + 10),
              (std::vector<uint8_t>{0x17, 0x01, 0, 0, 0, 0, 0, 0, 20, 0x65}));
    EXPECT_EQ(seq.ts, key.ts);
    EXPECT_EQ(link_.sent[2].body[0], 0x27);
}

// Frames in list order: K key picture, V other picture, A audio; capture
// stamps in microseconds.
struct ClockCase {
    const char *name;
    std::vector<std::pair<char, uint64_t>> frames;
    std::vector<uint32_t> vts, ats;
};

TEST_F(Rtmp, TagTimesFollowCaptureTimeFromTheFirstPicture) {
    const ClockCase cases[] = {
        {"30 fps", {{'K', 0}, {'A', 0}, {'V', 33333}, {'A', 21333}, {'V', 66666}, {'A', 42666}, {'V', 99999},
                    {'A', 63999}, {'V', 133332}},
         {0, 33, 66, 99, 133}, {0, 21, 42, 63}},
        {"30 then 50 fps", {{'K', 0}, {'V', 33333}, {'A', 21333}, {'V', 66666}, {'K', 86666}, {'A', 63999},
                            {'V', 106666}, {'A', 85332}, {'V', 126666}},
         {0, 33, 66, 86, 106, 126}, {21, 63, 85}},
        {"list dropped video to a key picture and audio", {{'K', 0}, {'A', 0}, {'V', 33333}, {'A', 21333},
                                                           {'K', 1000000}, {'A', 1002666}, {'V', 1033333}},
         {0, 33, 1000, 1033}, {0, 21, 1002}},
        {"audio captured before the first picture", {{'K', 50000}, {'A', 42666}, {'A', 64000}, {'V', 83333}},
         {0, 33}, {14}},
    };
    for (const ClockCase &c : cases) {
        RtmpResetForTest();
        link_.sent.clear();
        connect();
        for (auto [kind, stamp] : c.frames) kind == 'A' ? audio(10, stamp) : video(kind == 'K', 20, stamp);
        drain();
        std::vector<uint32_t> vts, ats;
        std::vector<uint8_t> aseq;
        for (auto &s : link_.sent) {
            if (s.type == 9 && s.header == 0) vts.push_back(s.ts);
            if (s.type == 8) {
                if (s.body[1] == 0x00)
                    aseq = s.body;
                else
                    ats.push_back(s.ts);
            }
        }
        EXPECT_EQ(vts, c.vts) << c.name;
        EXPECT_EQ(ats, c.ats) << c.name;
        EXPECT_EQ(aseq, (std::vector<uint8_t>{0xAF, 0x00, 0x11, 0x90})) << c.name;
    }
}

TEST_F(Rtmp, FailedFirstAttemptThenSuccessPublishesAfterOneReport) {
    link_.connect_results = {RtmpConnectFail, 0};
    connect();
    EXPECT_EQ(link_.connects, 2);
    video(true);
    drain();
    auto frames = host_frames();
    int errors = 0, status_up = 0;
    for (auto &f : frames) {
        if (f.first == 0xEE) {
            ++errors;
            EXPECT_EQ(f.second[0], RtmpConnectFail);
        }
        if (f.first == 0x68 && f.second.size() == 2 && f.second[1] == 1) ++status_up;
    }
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(status_up, 1);
}

TEST_F(Rtmp, TwoFailedAttemptsSwitchPublishingOffUnlessTheHostAskedAgain) {
    const char *old_url = "rtmp://10.0.0.1/live/test", *new_url = "rtmp://10.0.0.2/live/new";
    // The host names another destination and switches on during attempt
    // `during` (0: never); the attempts that follow use it.
    const struct {
        int during;
        std::vector<int> results;
        std::vector<std::string> urls;
        EM_RTMP_STATE end;
    } cases[] = {
        {0, {RtmpConnectFail, RtmpConnectStreamFail}, {old_url, old_url}, State_Rtmp_Idle},
        {1, {RtmpConnectFail, 0}, {old_url, new_url}, State_Rtmp_Send},
        {2, {RtmpConnectFail, RtmpConnectFail, 0}, {old_url, old_url, new_url}, State_Rtmp_Send},
    };
    for (const auto &c : cases) {
        RtmpResetForTest();
        UserSetPut(UsrBits::RtmpOnOff, 1);
        link_.urls.clear();
        snprintf(g_stUrl.rtmp_url, sizeof g_stUrl.rtmp_url, "%s", old_url);
        link_.connect_results = c.results;
        link_.on_connect = [&](int n) {
            if (n != c.during) return;
            snprintf(g_stUrl.rtmp_url, sizeof g_stUrl.rtmp_url, "%s", new_url);
            UserSetPut(UsrBits::RtmpOnOff, 1);
            RtmpOpenState();
        };
        link_.connects = 0;
        RtmpOpenState();
        for (int i = 0; i < 3 && emRtmpState == State_Rtmp_Connect; ++i) RtmpStep(&list_, 0);
        EXPECT_EQ(link_.urls, c.urls) << c.during;
        EXPECT_EQ(emRtmpState, c.end) << c.during;
        EXPECT_EQ(UserSetGet(UsrBits::RtmpOnOff), c.end == State_Rtmp_Send) << c.during;
        EXPECT_EQ(u8RtmpConnectOK, c.end == State_Rtmp_Send) << c.during;
    }
    link_.on_connect = nullptr;
}

TEST_F(Rtmp, AnotherDestinationWhilePublishingStartsAtAKeyFrameOrStaysOff) {
    // The new destination connects, or fails twice, or a refused "on" (an
    // unreadable destination) switched publishing off before the publisher
    // got to it, or with no switch pending: then the old connection is
    // closed, not left open unused.
    enum { Connects, Fails, Refused, RefusedOnly };
    for (int row : {Connects, Fails, Refused, RefusedOnly}) {
        SCOPED_TRACE(row);
        RtmpResetForTest();
        UserSetPut(UsrBits::RtmpOnOff, 1);
        link_.connects = 0;
        connect();
        video(true);
        video(false);
        drain();
        host_frames();
        link_.sent.clear();
        snprintf(g_stUrl.rtmp_url, sizeof g_stUrl.rtmp_url, "rtmp://10.0.0.2/live/other");
        if (row == Fails) link_.connect_results = {RtmpConnectFail, RtmpConnectFail};
        if (row == RefusedOnly) {
            // Command 102 "on" with destination 5, which cannot be read.
            RtmpUrlSetDirs("/nonexistent", "/nonexistent");
            FrameSpec req;
            req.cmd = 102;
            req.payload = {1, 5};
            req.devType = 0xE0;
            Bytes f = MakeFrame(req);
            f.resize(UART_BAG_SIZE);  // the reply is written in place
            ProtoRecvBagHandle(f.data());
            RtmpUrlSetDirs(nullptr, nullptr);
            EXPECT_EQ(f[17], FileOpenFail);
        } else {
            RtmpOpenState();  // command 102 "on", another destination
        }
        if (row == Refused) UserSetPut(UsrBits::RtmpOnOff, 0);
        video(false);
        audio(10, vstamp_);
        video(true);
        audio(10, vstamp_ + 1000);
        video(false);
        drain();
        EXPECT_EQ(link_.connects, row == Fails ? 3 : row == Connects ? 2 : 1) << "no attempt after publishing went off";
        int errors26 = 0;
        for (auto &f : host_frames()) errors26 += f.first == 0xEE && f.second[0] == RtmpWriteNFail;
        EXPECT_EQ(errors26, 0);
        if (row != Connects) {
            EXPECT_EQ(UserSetGet(UsrBits::RtmpOnOff), 0);
            EXPECT_FALSE(link_.up) << "a connection nobody publishes to stays open";
            EXPECT_TRUE(link_.sent.empty());
            continue;
        }
        EXPECT_EQ(link_.last_url, "rtmp://10.0.0.2/live/other");
        ASSERT_EQ(link_.sent.size(), 5u);
        EXPECT_EQ(link_.sent[0].header, 1);  // AVC sequence header
        EXPECT_EQ(link_.sent[1].body[0], 0x17);
        EXPECT_EQ(link_.sent[1].ts, 0u);
        EXPECT_EQ(link_.sent[2].body[1], 0x00);  // then the AAC sequence header
    }
}

TEST_F(Rtmp, FailedSendReportsAndReconnectsClosingTheOldConnectionFirst) {
    connect();
    video(true);
    drain();
    host_frames();
    link_.fail_sends = 1;
    video(false);
    RtmpStep(&list_, 0);
    EXPECT_EQ(emRtmpState, State_Rtmp_Connect);
    EXPECT_GE(link_.closes, 1);
    auto frames = host_frames();
    bool err26 = false, down = false;
    for (auto &f : frames) {
        if (f.first == 0xEE && f.second[0] == RtmpWriteNFail) err26 = true;
        if (f.first == 0x68 && f.second.size() == 2 && f.second[1] == 0) down = true;
    }
    EXPECT_TRUE(err26);
    EXPECT_TRUE(down);
    RtmpStep(&list_, 0);  // reconnects; the stream restarts at a key frame with headers
    EXPECT_EQ(emRtmpState, State_Rtmp_Send);
    link_.sent.clear();
    video(false);
    video(true);
    drain();
    ASSERT_EQ(link_.sent.size(), 2u);
    EXPECT_EQ(link_.sent[0].header, 1);
    EXPECT_EQ(link_.sent[1].ts, 0u);
}

TEST_F(Rtmp, ShortNalUnitsAreSentAndStatusFollowsEachConnectionsFirstSend) {
    auto statuses = [&] {
        std::vector<int> st;
        for (auto &f : host_frames())
            if (f.first == 0x68 && f.second.size() == 2) st.push_back(f.second[1]);
        return st;
    };
    // Audio before the first key frame is dropped: it only drives the passes.
    for (int round = 0; round < 2; ++round) {
        RtmpOpenState();
        audio();
        RtmpStep(&list_, 0);
        ASSERT_EQ(emRtmpState, State_Rtmp_Send);
        EXPECT_EQ(statuses(), std::vector<int>{}) << "connected, nothing sent yet, round " << round;
        link_.sent.clear();
        video(true);
        video(false, 5);  // a NAL unit shorter than 11 bytes is a frame like any other
        drain();
        ASSERT_EQ(link_.sent.size(), 3u);
        EXPECT_EQ(link_.sent[2].body.size(), 9u + 5u);
        EXPECT_EQ(statuses(), std::vector<int>{1}) << round;
        RtmpCloseState();
        audio();
        RtmpStep(&list_, 0);
        audio();
        RtmpStep(&list_, 0);
        EXPECT_EQ(statuses(), std::vector<int>{0}) << round;
    }
    EXPECT_EQ(link_.connects, 2);
}

TEST_F(Rtmp, ElevenFailedSendsStopPublishing) {
    connect();
    for (int i = 0; i < 11; ++i) {
        video(true);
        link_.fail_sends = 2;  // the header and the frame
        RtmpStep(&list_, 0);
        if (emRtmpState == State_Rtmp_Connect) RtmpStep(&list_, 0);
    }
    EXPECT_EQ(emRtmpState, State_Rtmp_Init);
    EXPECT_EQ(UserSetGet(UsrBits::RtmpOnOff), 0);
}

TEST_F(Rtmp, ListIsNotHeldWhileSending) {
    // A transport that blocks in send: a producer must still be able to add.
    struct SlowLink : FakeLink {
        std::atomic<bool> in_send{false}, release{false};
        int send(uint8_t t, uint32_t ts, int h, const uint8_t *b, uint32_t l) override {
            in_send = true;
            while (!release) usleep(1000);
            return FakeLink::send(t, ts, h, b, l);
        }
    } slow;
    RtmpSetTransport(&slow);
    connect();
    video(true);
    std::thread pub([&] { RtmpStep(&list_, 0); });
    while (!slow.in_send) usleep(1000);
    std::atomic<bool> added{false};
    std::thread prod([&] {
        video(false);
        added = true;
    });
    for (int i = 0; i < 200 && !added; ++i) usleep(1000);
    EXPECT_TRUE(added.load());
    slow.release = true;
    pub.join();
    prod.join();
}

TEST_F(Rtmp, CloseStateOnlyWhenConnected) {
    RtmpCloseState();
    EXPECT_EQ(emRtmpState, State_Rtmp_Init);
    connect();
    RtmpCloseState();
    EXPECT_EQ(emRtmpState, State_Rtmp_Close);
    RtmpStep(&list_, 0);
    EXPECT_EQ(emRtmpState, State_Rtmp_Init);
    EXPECT_FALSE(link_.up);
}

TEST_F(Rtmp, SwitchingOffAtAKeyFrameClosesWithoutErrorOrReconnect) {
    connect();
    video(true);
    video(false);
    drain();
    host_frames();
    UserSetPut(UsrBits::RtmpOnOff, 0);
    RtmpCloseState();
    video(true);  // taken in the very pass that closes the connection
    RtmpStep(&list_, 0);
    RtmpStep(&list_, 0);
    EXPECT_EQ(emRtmpState, State_Rtmp_Init);
    EXPECT_EQ(link_.connects, 1);
    for (auto &f : host_frames()) EXPECT_NE(f.first, 0xEE) << "error " << (int)f.second[0] << " after a requested close";
}

class UrlStore : public Rtmp {
protected:
    void SetUp() override {
        Rtmp::SetUp();
        char tmpl[] = "/tmp/urltestXXXXXX";
        dir_ = mkdtemp(tmpl);
        RtmpUrlSetDirs(dir_.c_str(), dir_.c_str());
    }
    void TearDown() override {
        RtmpUrlSetDirs(nullptr, nullptr);
        std::string cmd = "rm -rf " + dir_;
        (void)!system(cmd.c_str());
        Rtmp::TearDown();
    }
    std::string dir_;
};

TEST_F(UrlStore, SavedDestinationReadsBackAndIsReportedToHost) {
    ST_RTMP_URL rec;
    memset(&rec, 0, sizeof rec);
    rec.index = 3;
    rec.user_name_len = 4;
    memcpy(rec.user_name, "user", 4);
    const char *url = "rtmp://10.0.0.1/live/cam";
    rec.rtmp_url_len = (uint16_t)strlen(url);
    strcpy(rec.rtmp_url, url);
    ASSERT_EQ(SaveRtmpUrl(&rec), 0);
    auto frames = host_frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].first, 0x67);
    ASSERT_EQ(frames[0].second.size(), 789u);
    EXPECT_EQ(frames[0].second[0], 0);
    EXPECT_EQ(memcmp(frames[0].second.data() + 1, &rec, sizeof rec), 0);

    ST_RTMP_URL back;
    ASSERT_EQ(LoadRtmpUrl(3, &back), 0);
    EXPECT_EQ(memcmp(&back, &rec, sizeof rec), 0);
    ASSERT_EQ(ReadRtmpUrl(3), 0);
    EXPECT_STREQ(g_stUrl.rtmp_url, url);
    EXPECT_NE(ReadRtmpUrl(5), 0);  // missing
}

TEST_F(UrlStore, ShortOrUnterminatedFilesAreHandledSafely) {
    strcpy(g_stUrl.rtmp_url, "rtmp://keep/me");
    std::string path = dir_ + "/2";
    FILE *f = fopen(path.c_str(), "wb");
    fwrite("\x02\x00", 1, 2, f);
    fclose(f);
    EXPECT_NE(ReadRtmpUrl(2), 0);
    EXPECT_STREQ(g_stUrl.rtmp_url, "rtmp://keep/me");

    std::vector<char> full(788, 'x');  // no terminator anywhere
    f = fopen(path.c_str(), "wb");
    fwrite(full.data(), 1, full.size(), f);
    fclose(f);
    ASSERT_EQ(ReadRtmpUrl(2), 0);
    EXPECT_EQ(strlen(g_stUrl.rtmp_url), 767u);
    EXPECT_NE(ReadRtmpUrl(8), 0);  // out of range
}

}  // namespace
