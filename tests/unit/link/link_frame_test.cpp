#include <pthread.h>

#include <future>
#include <thread>

#include "link_fixture.h"

TEST(LinkChecksum, SumsBytesModulo65536) {
    const uint8_t a[] = {0xA5, 0x6C, 0x15, 0x00};
    EXPECT_EQ(0xA5 + 0x6C + 0x15, CalcCheckSum(a, 4));
    EXPECT_EQ(0, CalcCheckSum(a, 0));
    std::vector<uint8_t> ff(300, 0xFF);  // 76500 wraps to 10964
    EXPECT_EQ(10964, CalcCheckSum(ff.data(), 300));
    uint8_t at = 9;
    EXPECT_EQ(1, ReturnErrCode(&at, 6));
    EXPECT_EQ(6, at);
}

TEST(LinkChecksum, FinishBagBuildsTheWireFrame) {
    uint8_t bag[UART_BAG_SIZE] = {};
    bag[16] = 0xEE;
    bag[17] = 0x23;
    ASSERT_EQ(21, UartFinishBag(bag, 1));
    // 0xA5+0x6C+0x15+0xE0+0xEE+0x23 = 0x317
    const Bytes want = {0xA5, 0x6C, 0x15, 0x00, 0xE0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xEE, 0x23, 0x17, 0x03, 0xAE};
    EXPECT_EQ(want, Bytes(bag, bag + 21));
    EXPECT_EQ(0, UartFinishBag(bag, UART_PAYLOAD_MAX + 1));
    EXPECT_EQ(UART_BAG_SIZE, UartFinishBag(bag, UART_PAYLOAD_MAX));
}

using LinkParser = LinkTest;

TEST_F(LinkParser, WalksEveryStateOfAFrame) {
    Bytes f = MakeFrame({.cmd = 0x21, .payload = {7}});
    ASSERT_EQ(21u, f.size());
    std::vector<int> seen;
    for (uint8_t b : f) {
        MediumCtrl_ProtocolAnalyzeState(b, &stStateVarUart);
        seen.push_back(stStateVarUart.eCurrRecvState);
    }
    std::vector<int> want = {STATE_RX_HEADER_2, STATE_RX_BAG_LEN_1, STATE_RX_BAG_LEN_2};
    for (int i = 3; i <= 16; i++) want.push_back(STATE_RX_DATA);  // bytes 3..16
    // byte 17, the last payload byte, ends the data
    for (int st : {STATE_RX_CHECKSUM_1, STATE_RX_CHECKSUM_2, STATE_RX_TAIL, STATE_RX_HEADER_1}) want.push_back(st);
    ASSERT_EQ(want.size(), seen.size());
    EXPECT_EQ(want, seen);
    auto q = TakeQueued();
    ASSERT_EQ(1u, q.size());
    EXPECT_EQ(f, q[0]);
}

TEST_F(LinkParser, AcceptsLengthLimitsAndRefusesBeyond) {
    Bytes empty = MakeFrame({.cmd = 0x30});
    ASSERT_EQ(20u, empty.size());
    EXPECT_EQ(1, Feed(empty));
    Bytes biggest = MakeFrame({.cmd = 0x31, .payload = Bytes(UART_PAYLOAD_MAX, 0x5A)});
    ASSERT_EQ(1056u, biggest.size());
    EXPECT_EQ(1, Feed(biggest));
    auto q = TakeQueued();
    ASSERT_EQ(2u, q.size());
    EXPECT_EQ(empty, q[0]);
    EXPECT_EQ(biggest, q[1]);

    // 19 and 1057 end the frame at the second length byte.
    for (uint16_t len : {19, 1057, 0}) {
        Feed({0xA5, 0x6C, (uint8_t)(len & 0xFF)});
        EXPECT_EQ(STATE_RX_BAG_LEN_2, stStateVarUart.eCurrRecvState);
        Feed({(uint8_t)(len >> 8)});
        EXPECT_EQ(STATE_RX_HEADER_1, stStateVarUart.eCurrRecvState) << len;
    }
    EXPECT_TRUE(TakeQueued().empty());
}

TEST_F(LinkParser, VersionBitsAreSummedAndKept) {
    Bytes f = MakeFrame({.cmd = 0x40, .version = 1});
    ASSERT_EQ(0x14, f[2]);
    ASSERT_EQ(0x08, f[3]);
    EXPECT_EQ(1, Feed(f));
    auto q = TakeQueued();
    ASSERT_EQ(1u, q.size());
    EXPECT_EQ(f, q[0]);
    // The same frame with a checksum that leaves out 0x08 is refused.
    Bytes bad = f;
    uint16_t cs = (uint16_t)(Sum16(f.data(), 17) - 0x08);
    bad[17] = cs & 0xFF;
    bad[18] = cs >> 8;
    EXPECT_EQ(0, Feed(bad));
}

TEST_F(LinkParser, DamagedFramesAreDroppedAndTheNextOneStillCounts) {
    Bytes good = MakeFrame({.cmd = 0x22, .payload = {1, 2, 3}, .devId = 9});
    Bytes badSum = good;
    badSum[20] ^= 0x01;
    Bytes badTail = good;
    badTail[good.size() - 1] = 0xAF;
    Bytes badHead2 = good;
    badHead2[1] = 0x6D;
    // A false header does not hide the frames it took in: a frame inside one
    // whose checksum or tail is wrong counts too.
    Bytes wrapSum = MakeFrame({.cmd = 0x22, .payload = good}), wrapTail = wrapSum;
    wrapSum[wrapSum.size() - 3] ^= 0x01;
    wrapTail.back() = 0xAF;
    for (const Bytes& bad : {badSum, badTail, badHead2, wrapSum, wrapTail}) {
        Bytes stream = bad;
        stream.insert(stream.end(), good.begin(), good.end());
        const size_t n = bad.size() > good.size() ? 2 : 1;
        EXPECT_EQ((int)n, Feed(stream));
        auto q = TakeQueued();
        ASSERT_EQ(n, q.size());
        for (const Bytes& f : q) EXPECT_EQ(good, f);
        EXPECT_EQ(STATE_RX_HEADER_1, stStateVarUart.eCurrRecvState);
    }
    // Noise before a frame is skipped.
    Bytes noisy = {0x00, 0xAE, 0x6C, 0x13};
    noisy.insert(noisy.end(), good.begin(), good.end());
    EXPECT_EQ(1, Feed(noisy));
    EXPECT_EQ(1u, TakeQueued().size());
}

TEST_F(LinkParser, RepeatedFirstHeaderByteStartsTheFrame) {
    Bytes f = MakeFrame({.cmd = 0x23});
    Bytes stream = {0xA5};
    stream.insert(stream.end(), f.begin(), f.end());
    EXPECT_EQ(1, Feed(stream));
    auto q = TakeQueued();
    ASSERT_EQ(1u, q.size());
    EXPECT_EQ(f, q[0]);
}

TEST_F(LinkParser, QuietLineEndsACutShortFrame) {
    Bytes good = MakeFrame({.cmd = 0x24, .payload = {4, 5}});
    Bytes cut(good.begin(), good.begin() + 11);
    Feed(cut);
    ASSERT_EQ(STATE_RX_DATA, stStateVarUart.eCurrRecvState);
    ASSERT_EQ(1, stStateVarUart.stAnalyzeTimeOut.ucRun);
    const unsigned long t0 = stStateVarUart.stAnalyzeTimeOut.ulTimer;
    UartProto_TimeOutPoll(&stStateVarUart, t0 + UART_RESYNC_GAP_MS - 1);
    EXPECT_EQ(STATE_RX_DATA, stStateVarUart.eCurrRecvState);
    UartProto_TimeOutPoll(&stStateVarUart, t0 + UART_RESYNC_GAP_MS);
    EXPECT_EQ(STATE_RX_HEADER_1, stStateVarUart.eCurrRecvState);
    EXPECT_EQ(0, stStateVarUart.stAnalyzeTimeOut.ucRun);
    EXPECT_EQ(1, Feed(good));
    auto q = TakeQueued();
    ASSERT_EQ(1u, q.size());
    EXPECT_EQ(good, q[0]);
    // No watch runs between frames, and a clock read from before the last
    // byte never fires it.
    Feed(cut);
    UartProto_TimeOutPoll(&stStateVarUart, stStateVarUart.stAnalyzeTimeOut.ulTimer - 1000);
    EXPECT_EQ(STATE_RX_DATA, stStateVarUart.eCurrRecvState);

    // As the serial loop runs it: a reply that waits 60 ms for the port (another
    // writer holds it) is no quiet line, so the second of two requests sent
    // together, cut by the 100-byte read, is still answered.
    UartRecvQueueInit();
    Bytes two = MakeFrame({.cmd = 0x02, .payload = Bytes(60, 1), .devId = 1});
    Bytes second = MakeFrame({.cmd = 0x02, .payload = Bytes(60, 2), .devId = 2});
    two.insert(two.end(), second.begin(), second.end());
    SendToBoard(two);
    std::promise<void> held;
    std::thread writer([&held] {
        pthread_mutex_lock(&g_UartSendMutex);
        held.set_value();
        usleep(60'000);
        pthread_mutex_unlock(&g_UartSendMutex);
    });
    held.get_future().wait();
    Cycle(3);
    writer.join();
    auto rep = SplitFrames(DrainFd(peer));
    ASSERT_EQ(2u, rep.size());
    EXPECT_EQ(2, rep[1][5]);
}

using LinkQueue = LinkTest;

TEST_F(LinkQueue, BurstOfThirtyFramesIsHandledCompletelyAndInOrder) {
    for (size_t plen : {0u, 200u, 1036u}) {
        SCOPED_TRACE(plen);
        Bytes burst;
        for (int i = 0; i < 30; i++) {
            Bytes f = MakeFrame({.cmd = 0x02, .payload = Bytes(plen, (uint8_t)i), .devId = (uint8_t)i});
            burst.insert(burst.end(), f.begin(), f.end());
        }
        SendToBoard(burst);
        int maxPending = 0;
        for (int c = 0; c < 2000; c++) {
            UartRecvData();
            UartRecvHandle();
            maxPending = std::max(maxPending, UartBagQueuePending());
            RecvBagPoll(g_UartFd);
        }
        EXPECT_LE(maxPending, UART_BAG_NUM - 1);
        auto replies = SplitFrames(DrainFd(peer));
        ASSERT_EQ(30u, replies.size());
        for (int i = 0; i < 30; i++) EXPECT_EQ(i, replies[i][5]) << "reply " << i;
    }
}

TEST_F(LinkQueue, OneFrameIsRoutedPerCycle) {
    Bytes burst;
    for (int i = 0; i < 5; i++) {
        Bytes f = MakeFrame({.cmd = 0x03, .devId = (uint8_t)i});
        burst.insert(burst.end(), f.begin(), f.end());
    }
    SendToBoard(burst);
    Cycle(1);
    EXPECT_EQ(4, UartBagQueuePending());
    EXPECT_EQ(1u, SplitFrames(DrainFd(peer)).size());
    Cycle(4);
    EXPECT_EQ(0, UartBagQueuePending());
    EXPECT_EQ(4u, SplitFrames(DrainFd(peer)).size());
    EXPECT_EQ(0, RecvBagPoll(g_UartFd));
}

using LinkSend = LinkTest;

TEST_F(LinkSend, DeviceFramesCarryTheirPayloads) {
    ASSERT_EQ(21, UartSendErrorCode(0x123));
    ASSERT_EQ(21, UartSendRecErrorCode(0x2324));
    ASSERT_EQ(22, UartSendRtmpStatus(1));
    ASSERT_EQ(22, UartSendUrlIndex(5));
    auto fr = SplitFrames(DrainFd(peer));
    ASSERT_EQ(4u, fr.size());
    const Bytes zeros(11, 0);
    struct {
        uint8_t cmd;
        Bytes payload;
    } want[] = {{0xEE, {0x23}}, {0xE1, {0x24}}, {0x68, {0, 1}}, {0x6C, {0, 5}}};
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(0xE0, fr[i][4]);
        EXPECT_EQ(zeros, Bytes(fr[i].begin() + 5, fr[i].begin() + 16));
        EXPECT_EQ(want[i].cmd, fr[i][16]);
        EXPECT_EQ(want[i].payload, Bytes(fr[i].begin() + 17, fr[i].end() - 3));
    }
}

TEST_F(LinkSend, OversizedPayloadIsRefused) {
    Bytes big(UART_PAYLOAD_MAX + 1, 0x11);
    EXPECT_EQ(-1, UartSendBag(0x67, big.data(), (u16)big.size()));
    EXPECT_TRUE(DrainFd(peer).empty());
    EXPECT_EQ(1056, UartSendBag(0x67, big.data(), UART_PAYLOAD_MAX));
    auto fr = SplitFrames(DrainFd(peer));
    ASSERT_EQ(1u, fr.size());
    EXPECT_EQ(1056u, fr[0].size());
}

TEST_F(LinkSend, NoPortMeansNothingWritten) {
    int keep = g_UartFd;
    g_UartFd = -1;
    EXPECT_EQ(-1, UartSendRtmpStatus(1));
    const uint8_t d[3] = {1, 2, 3};
    EXPECT_EQ(-1, NetToUartSendBag(d, 3));
    g_UartFd = keep;
    EXPECT_EQ(3, NetToUartSendBag(d, 3));
    EXPECT_EQ(Bytes({1, 2, 3}), DrainFd(peer));
}

TEST_F(LinkSend, SendersOnManyThreadsNeverInterleave) {
    // Make the socket blocking for the writers; a reader thread drains it.
    fcntl(g_UartFd, F_SETFL, 0);
    Bytes got;
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        uint8_t buf[8192];
        while (!stop.load()) {
            ssize_t n = read(peer, buf, sizeof(buf));
            if (n > 0) got.insert(got.end(), buf, buf + n);
            else usleep(200);
        }
        for (;;) {
            ssize_t n = read(peer, buf, sizeof(buf));
            if (n <= 0) break;
            got.insert(got.end(), buf, buf + n);
        }
    });
    const int kThreads = 6, kEach = 150;
    std::vector<std::thread> th;
    for (int t = 0; t < kThreads; t++)
        th.emplace_back([t] {
            Bytes p(700 + t * 50, (uint8_t)t);
            for (int i = 0; i < kEach; i++) {
                if (i % 3 == 0) {
                    Bytes raw = MakeFrame({.cmd = 0x55, .payload = Bytes(300, (uint8_t)(0x80 + t))});
                    NetToUartSendBag(raw.data(), (int)raw.size());
                } else {
                    UartSendBag((u8)(0x10 + t), p.data(), (u16)p.size());
                }
            }
        });
    for (auto& x : th) x.join();
    stop = true;
    reader.join();
    auto fr = SplitFrames(got);
    ASSERT_EQ((size_t)kThreads * kEach, fr.size());
    size_t total = 0;
    for (auto& f : fr) total += f.size();
    EXPECT_EQ(got.size(), total);  // nothing between or inside frames
    for (auto& f : fr) {
        if (f[16] == 0x55) {
            EXPECT_EQ(320u, f.size());
            continue;
        }
        int t = f[16] - 0x10;
        ASSERT_GE(t, 0);
        ASSERT_LT(t, kThreads);
        EXPECT_EQ(Bytes(700 + t * 50, (uint8_t)t), Bytes(f.begin() + 17, f.end() - 3));
    }
}
