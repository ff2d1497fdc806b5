#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "bag_queue.h"

TEST(BagQueueTest, InitZeroesTheBufferAndStartsEmpty) {
    std::vector<uint8_t> buf(4 * 6 + 1, 0x5C);
    BagQueue q;
    BagQueueInit(&q, buf.data(), 4, 6);
    for (size_t i = 0; i < 24; ++i) ASSERT_EQ(buf[i], 0) << i;
    EXPECT_EQ(buf[24], 0x5C);  // only slots x length
    EXPECT_EQ(BagQueueCheckEmpty(&q), 1);
    EXPECT_EQ(q.ucBagCnt, 0);
    uint8_t* keep = reinterpret_cast<uint8_t*>(&q);
    uint8_t* p = keep;
    EXPECT_EQ(BagQueueGetData(&q, &p), 0);
    EXPECT_EQ(p, keep);  // untouched
}

TEST(BagQueueTest, WrapsAroundAndHandsOutSlotsInPlace) {
    constexpr uint32_t kLen = 8;
    constexpr uint8_t kNum = 4;
    std::vector<uint8_t> buf(kLen * kNum);
    BagQueue q;
    BagQueueInit(&q, buf.data(), kLen, kNum);
    // Ten rounds of add two / take two walk head and tail round the ring.
    uint8_t val = 0;
    uint8_t expect = 0;
    for (int round = 0; round < 10; ++round) {
        for (int k = 0; k < 2; ++k) {
            uint8_t pkt[kLen];
            memset(pkt, val++, kLen);
            ASSERT_EQ(BagQueueAddData(&q, pkt, kLen), 1);
        }
        EXPECT_EQ(BagQueueCheckEmpty(&q), 0);
        for (int k = 0; k < 2; ++k) {
            uint8_t* p = nullptr;
            ASSERT_EQ(BagQueueGetData(&q, &p), 1);
            const size_t slot = size_t(p - buf.data()) / kLen;
            EXPECT_EQ(p, buf.data() + slot * kLen);  // no copy: a slot of the buffer
            EXPECT_EQ(slot, size_t((round * 2 + k) % kNum));
            EXPECT_EQ(p[0], expect);
            EXPECT_EQ(p[kLen - 1], expect);
            ++expect;
        }
        EXPECT_EQ(BagQueueCheckEmpty(&q), 1);
    }
    EXPECT_EQ(q.usHead.load(), 20 % kNum);
}

TEST(BagQueueTest, FullRingRefusesAndKeepsPendingPackets) {
    std::vector<uint8_t> buf(8200u * 50);
    BagQueue q;
    BagQueueInit(&q, buf.data(), 8200, 50);
    std::vector<uint8_t> pkt(8200);
    for (int i = 0; i < 49; ++i) {
        pkt[0] = uint8_t(i);
        ASSERT_EQ(BagQueueAddData(&q, pkt.data(), 8200), 1) << i;
    }
    // The 50th would make the ring look empty: refused, nothing overwritten.
    pkt[0] = 0xEE;
    EXPECT_EQ(BagQueueAddData(&q, pkt.data(), 8200), 0);
    EXPECT_EQ(BagQueueCheckEmpty(&q), 0);
    uint8_t* p = nullptr;
    ASSERT_EQ(BagQueueGetData(&q, &p), 1);
    EXPECT_EQ(p[0], 0);
    // One taken: room for exactly one more.
    EXPECT_EQ(BagQueueAddData(&q, pkt.data(), 8200), 1);
    EXPECT_EQ(BagQueueAddData(&q, pkt.data(), 8200), 0);
    for (int i = 1; i < 49; ++i) {
        ASSERT_EQ(BagQueueGetData(&q, &p), 1);
        EXPECT_EQ(p[0], uint8_t(i));
    }
    ASSERT_EQ(BagQueueGetData(&q, &p), 1);
    EXPECT_EQ(p[0], 0xEE);
    EXPECT_EQ(BagQueueGetData(&q, &p), 0);
}

TEST(BagQueueTest, RefusesPacketLongerThanASlot) {
    std::vector<uint8_t> buf(22 * 3 + 4, 0);
    BagQueue q;
    BagQueueInit(&q, buf.data(), 22, 3);
    std::vector<uint8_t> pkt(23, 0x77);
    EXPECT_EQ(BagQueueAddData(&q, pkt.data(), 23), 0);
    EXPECT_EQ(BagQueueCheckEmpty(&q), 1);
    for (uint8_t b : buf) EXPECT_EQ(b, 0);
    // A shorter packet fills the start of its slot.
    EXPECT_EQ(BagQueueAddData(&q, pkt.data(), 10), 1);
    uint8_t* p = nullptr;
    ASSERT_EQ(BagQueueGetData(&q, &p), 1);
    EXPECT_EQ(p[9], 0x77);
    EXPECT_EQ(p[10], 0);

    BagQueue none;
    BagQueueInit(&none, buf.data(), 22, 0);
    EXPECT_EQ(BagQueueAddData(&none, pkt.data(), 1), 0);
}

// The packet handed out stays intact until the consumer takes the next one,
// even when the producer fills every free slot meanwhile.
TEST(BagQueueTest, TakenPacketSurvivesProducerFillingTheRing) {
    std::vector<uint8_t> buf(4 * 5);
    BagQueue q;
    BagQueueInit(&q, buf.data(), 4, 5);
    uint8_t pkt[4] = {1, 1, 1, 1};
    for (int i = 0; i < 4; ++i) ASSERT_EQ(BagQueueAddData(&q, pkt, 4), 1);
    uint8_t* taken = nullptr;
    ASSERT_EQ(BagQueueGetData(&q, &taken), 1);
    memset(pkt, 9, 4);
    int added = 0;
    while (BagQueueAddData(&q, pkt, 4)) ++added;
    EXPECT_EQ(added, 1);
    EXPECT_EQ(memcmp(taken, "\x01\x01\x01\x01", 4), 0);
}

// One producer and one consumer at full speed: the consumer sees every
// packet once, in order, never torn; the producer retries when refused.
TEST(BagQueueTest, ProducerConsumerThreads) {
    constexpr uint32_t kLen = 64;
    constexpr uint8_t kNum = 16;
    constexpr uint32_t kCount = 100000;
    std::vector<uint8_t> buf(kLen * kNum);
    BagQueue q;
    BagQueueInit(&q, buf.data(), kLen, kNum);
    std::thread producer([&] {
        uint8_t pkt[kLen];
        for (uint32_t seq = 0; seq < kCount; ++seq) {
            for (uint32_t i = 0; i < kLen; i += 4) memcpy(pkt + i, &seq, 4);
            while (!BagQueueAddData(&q, pkt, kLen)) usleep(50);
        }
    });
    uint32_t expect = 0;
    int bad = 0;
    while (expect < kCount) {
        uint8_t* p = nullptr;
        if (!BagQueueGetData(&q, &p)) {
            usleep(50);
            continue;
        }
        for (uint32_t i = 0; i < kLen; i += 4) {
            uint32_t v;
            memcpy(&v, p + i, 4);
            if (v != expect) ++bad;
        }
        ++expect;
    }
    producer.join();
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(BagQueueCheckEmpty(&q), 1);
}

TEST(ByteQueueTest, WrapsRefusesWhenFullAndKeepsOrder) {
    uint8_t buf[6] = {9, 9, 9, 9, 9, 9};
    Queue q;
    QueueInit(&q, buf, 5);
    EXPECT_EQ(buf[4], 0);
    EXPECT_EQ(buf[5], 9);
    uint8_t b = 0x42;
    EXPECT_EQ(QueueGetData(&q, &b), 0);
    EXPECT_EQ(b, 0x42);
    uint8_t next_in = 0, next_out = 0;
    for (int round = 0; round < 7; ++round) {
        int added = 0;
        while (QueueAddData(&q, next_in)) {
            ++next_in;
            ++added;
        }
        EXPECT_EQ(added, round == 0 ? 4 : 3);  // one slot always free
        EXPECT_EQ(QueueCheckEmpty(&q), 0);
        // Leave one byte behind so head and tail keep moving round.
        for (int k = 0; k < 3; ++k) {
            ASSERT_EQ(QueueGetData(&q, &b), 1);
            EXPECT_EQ(b, next_out++);
        }
    }
    ASSERT_EQ(QueueGetData(&q, &b), 1);
    EXPECT_EQ(b, next_out++);
    EXPECT_EQ(QueueCheckEmpty(&q), 1);
    EXPECT_EQ(next_out, next_in);
}

TEST(ByteQueueTest, ProducerConsumerThreads) {
    std::vector<uint8_t> buf(1056);
    Queue q;
    QueueInit(&q, buf.data(), uint16_t(buf.size()));
    constexpr uint32_t kCount = 300000;
    std::thread producer([&] {
        for (uint32_t i = 0; i < kCount; ++i)
            while (!QueueAddData(&q, uint8_t(i * 7))) usleep(20);
    });
    uint32_t i = 0;
    int bad = 0;
    while (i < kCount) {
        uint8_t b;
        if (!QueueGetData(&q, &b)) {
            usleep(20);
            continue;
        }
        if (b != uint8_t(i * 7)) ++bad;
        ++i;
    }
    producer.join();
    EXPECT_EQ(bad, 0);
}
