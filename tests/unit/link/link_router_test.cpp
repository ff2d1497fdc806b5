#include <time.h>

#include "link_fixture.h"

// Network side of the router, captured: this executable provides the relay
// entry points itself.
struct RelayCall {
    std::string to;
    Bytes frame;
};
static std::vector<RelayCall> g_relayed;
static int Capture(const char* to, const u8* b, int len) {
    g_relayed.push_back({to, Bytes(b, b + len)});
    return len;
}
int UartToNetBag(const u8* b, int len) { return Capture("7000", b, len); }
int UartToNetBag_7100(const u8* b, int len) { return Capture("7100", b, len); }
int UartToNetBagNew(const u8* b, int len) { return Capture("57038", b, len); }
int UartToNetBag_mcast(const u8* b, int len) { return Capture("mcast", b, len); }

class LinkRouter : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        g_relayed.clear();
    }
    void Route(const Bytes& f) {
        ASSERT_EQ(1, Feed(f));
        ASSERT_EQ(1, RecvBagPoll(g_UartFd));
    }
};

TEST_F(LinkRouter, RecorderFrameGetsReplyEchoingItsHeader) {
    Bytes req = MakeFrame({.cmd = 0x02, .payload = {9, 9}, .devType = 3, .devId = 0x42, .ifType = 0x07, .reserveFill = 0x30});
    Route(req);
    Bytes reply = DrainFd(peer);
    // Until the command handler answers them, every command gets error 1.
    Bytes want = {0xA5, 0x6C, 0x15, 0x00, 0xE0};
    want.insert(want.end(), req.begin() + 5, req.begin() + 17);
    want.push_back(0x01);
    uint16_t cs = Sum16(want.data(), want.size());
    want.push_back(cs & 0xFF);
    want.push_back(cs >> 8);
    want.push_back(0xAE);
    EXPECT_EQ(want, reply);
    EXPECT_TRUE(g_relayed.empty());
}

TEST_F(LinkRouter, NoReplyWhenNoneIsWantedOrForHeartbeatCommand) {
    Route(MakeFrame({.cmd = 0x21, .devType = 0}));
    Route(MakeFrame({.cmd = 0xBB, .devType = 1}));
    EXPECT_TRUE(DrainFd(peer).empty());
    EXPECT_TRUE(g_relayed.empty());
}

TEST_F(LinkRouter, VersionedNetworkFrameGoesToPeerAndGroupWithVersionCleared) {
    Bytes f = MakeFrame({.cmd = 0x33, .payload = {1, 2, 3, 4}, .ifType = 1, .version = 3});
    ASSERT_EQ(0x18, f[3]);
    Route(f);
    ASSERT_EQ(2u, g_relayed.size());
    EXPECT_EQ("57038", g_relayed[0].to);
    EXPECT_EQ("mcast", g_relayed[1].to);
    Bytes want = f;
    want[3] = 0x00;  // checksum and tail stay as received
    EXPECT_EQ(want, g_relayed[0].frame);
    EXPECT_EQ(want, g_relayed[1].frame);
    EXPECT_TRUE(DrainFd(peer).empty());
}

TEST_F(LinkRouter, UnversionedNetworkFramesPickTheirPort) {
    Route(MakeFrame({.cmd = 0x5E, .ifType = 1}));
    Route(MakeFrame({.cmd = 0x5F, .ifType = 1}));
    Route(MakeFrame({.cmd = 0x77, .payload = {5}, .ifType = 1}));
    ASSERT_EQ(3u, g_relayed.size());
    EXPECT_EQ("7100", g_relayed[0].to);
    EXPECT_EQ("7100", g_relayed[1].to);
    EXPECT_EQ("7000", g_relayed[2].to);
    EXPECT_EQ(21u, g_relayed[2].frame.size());
}

TEST_F(LinkRouter, RelayedUpdateCommandsPauseAndResumeTheHeartbeat) {
    UsbDetectSetPaths(nullptr);
    ASSERT_EQ(1, UartHeartPoll(10'000'000));
    EXPECT_EQ(1u, SplitFrames(DrainFd(peer)).size());
    for (uint8_t pause : {0x40, 0x10}) {
        Route(MakeFrame({.cmd = pause, .ifType = 1}));
        EXPECT_EQ(1, g_UpdataFlag);
        // Periods keep passing, but nothing is sent.
        EXPECT_EQ(1, UartHeartPoll(11'000'000));
        EXPECT_EQ(1, UartHeartPoll(12'000'000));
        EXPECT_TRUE(DrainFd(peer).empty());
        Route(MakeFrame({.cmd = 0x49, .ifType = 1}));
        EXPECT_EQ(0, g_UpdataFlag);
        // The clock of the paused periods was kept: no beat before the next one.
        EXPECT_EQ(0, UartHeartPoll(12'999'999));
        EXPECT_EQ(1, UartHeartPoll(13'000'000));
        EXPECT_EQ(1u, SplitFrames(DrainFd(peer)).size());
        UartHeartReset();
        ASSERT_EQ(1, UartHeartPoll(10'000'000));
        DrainFd(peer);
    }
    // Only relayed frames touch the flag.
    Route(MakeFrame({.cmd = 0x40, .ifType = 0}));
    EXPECT_EQ(0, g_UpdataFlag);
}

using LinkHeart = LinkTest;

TEST_F(LinkHeart, FirstBeatAtOnceThenOncePerSecond) {
    UsbDetectSetPaths(nullptr);
    const u64 t0 = 5'000'000;
    EXPECT_EQ(1, UartHeartPoll(t0));
    EXPECT_EQ(0, UartHeartPoll(t0 + 1));
    EXPECT_EQ(0, UartHeartPoll(t0 + 999'999));
    EXPECT_EQ(1, UartHeartPoll(t0 + 1'000'000));
    EXPECT_EQ(0, UartHeartPoll(t0 + 1'500'000));
    EXPECT_EQ(1, UartHeartPoll(t0 + 2'000'100));
    EXPECT_EQ(3u, SplitFrames(DrainFd(peer)).size());
}

TEST(LinkHeartClock, LoopClockIsMonotonicNotWallClock) {
    struct timespec mono, real;
    u64 mine = UartMonotonicUs();
    clock_gettime(CLOCK_MONOTONIC, &mono);
    clock_gettime(CLOCK_REALTIME, &real);
    u64 m = (u64)mono.tv_sec * 1000000ULL + (u64)mono.tv_nsec / 1000ULL;
    u64 r = (u64)real.tv_sec * 1000000ULL + (u64)real.tv_nsec / 1000ULL;
    EXPECT_LE(mine, m);
    EXPECT_LT(m - mine, 1'000'000ULL);
    // The wall clock is set by the host (command 84): it must not be the one.
    EXPECT_GT(r > mine ? r - mine : mine - r, 1'000'000ULL);
}

TEST_F(LinkHeart, BeatCarriesTheLiveSettingsByteForByte) {
    ScratchDir d;
    ST_USB_PATHS p = {"/nonexistent/partitions", "/nonexistent/p.txt", "/nonexistent", "/nonexistent", "/nonexistent", "/tmp"};
    UsbDetectSetPaths(&p);
    DevDiskXInit();
    g_stUserSet.ucRcMode[0] = 1;
    g_stUserSet.ucBitRate[0] = 1;
    g_stUserSet.ucBitRate[1] = 2;
    g_stUserSet.usTotalSize = 777;  // replaced: no storage present
    UserSetPut(UsrBits::RecStatus, 1);
    UserSetPut(UsrBits::InputState, 1);
    UserSetPut(UsrBits::Bitstream, 1);
    UserSetPut(UsrBits::SdCardStatus, 2);  // the query finds no card
    UserSetPut(UsrBits::RecReso, 3);
    UserSetPut(UsrBits::Profile, 2);
    UserSetPut(UsrBits::RtmpIndex, 5);
    UserSetPut(UsrBits::NetWorkStatus, 1);
    DeviceHeart();
    Bytes got = DrainFd(peer);
    Bytes want = {0xA5, 0x6C, 45, 0, 0xE0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xBB,
                  0,                              // error code
                  0x10, 0x09, 0x26, 0, 0, 0, 0, 0,  // chip id, version, pad, rec time, pad
                  0, 0, 0, 0, 0, 0, 0, 0,          // total, free
                  1, 0, 1, 2,                      // rc modes, bit rates
                  0x88, 0x01, 0x23, 0x0D};
    uint16_t cs = Sum16(want.data(), want.size());
    want.push_back(cs & 0xFF);
    want.push_back(cs >> 8);
    want.push_back(0xAE);
    EXPECT_EQ(want, got);
    UsbDetectSetPaths(nullptr);
}

TEST_F(LinkHeart, LowFreeSpaceStopsRecording) {
    UserSetPut(UsrBits::SaveOnOff, 1);
    HeartApplyStorage(0, 10000, 513);
    EXPECT_EQ(1, UserSetGet(UsrBits::SaveOnOff));
    EXPECT_EQ(0, UserSetGet(UsrBits::SaveStop));
    EXPECT_EQ(10000u, g_stUserSet.usTotalSize);
    EXPECT_EQ(513u, g_stUserSet.usFreeSize);
    HeartApplyStorage(0, 10000, 512);
    EXPECT_EQ(0, UserSetGet(UsrBits::SaveOnOff));
    EXPECT_EQ(1, UserSetGet(UsrBits::SaveStop));

    // A failed query reads as 0 MB, which stops a running recording too.
    UserSetPut(UsrBits::SaveStop, 0);
    UserSetPut(UsrBits::SaveOnOff, 1);
    HeartApplyStorage(2, 10000, 9000);
    EXPECT_EQ(0u, g_stUserSet.usTotalSize);
    EXPECT_EQ(0u, g_stUserSet.usFreeSize);
    EXPECT_EQ(0, UserSetGet(UsrBits::SaveOnOff));
    EXPECT_EQ(1, UserSetGet(UsrBits::SaveStop));

    // Not recording: nothing to stop.
    UserSetPut(UsrBits::SaveStop, 0);
    HeartApplyStorage(0, 100, 1);
    EXPECT_EQ(0, UserSetGet(UsrBits::SaveStop));
}
