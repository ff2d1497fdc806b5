#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "frame_list.h"

namespace {

class FrameList : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(rtp_init(&list), 0); }
    void TearDown() override { rtp_destroy(&list); }

    // Walks the links and checks them against the count and the tail.
    int walk() {
        int n = 0;
        frame_t* last = nullptr;
        for (frame_t* f = list.p_frame_header; f; f = f->p_next) {
            last = f;
            ++n;
        }
        EXPECT_EQ(last, list.p_frame_buf);
        EXPECT_EQ(n, list.i_buf_num.load());
        return n;
    }

    rtp_s list;
};

}  // namespace

TEST_F(FrameList, FrameIsOneBlockWithACopyOfTheData) {
    EXPECT_EQ(rtp_init(nullptr), -1);
    uint8_t data[5] = {1, 2, 3, 4, 5};
    frame_t* f = new_frame(data, sizeof(data), FRAME_TYPE_AUDIO, 0x123456789ULL);
    ASSERT_NE(f, nullptr);
    data[0] = 9;
    EXPECT_EQ(f->p_frame, reinterpret_cast<uint8_t*>(f + 1));
    EXPECT_EQ(f->i_type, FRAME_TYPE_AUDIO);
    EXPECT_EQ(f->i_frame_size, 5u);
    EXPECT_EQ(f->i_time_stamp, 0x123456789ULL);
    EXPECT_EQ(f->p_next, nullptr);
    EXPECT_EQ(memcmp(f->p_frame, "\x01\x02\x03\x04\x05", 5), 0);
    EXPECT_EQ(free_frame(&f), 0);
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(free_frame(&f), 0);  // empty pointer: nothing happens

    EXPECT_EQ(new_frame(nullptr, 4, 1, 0), nullptr);
    EXPECT_EQ(new_frame(data, 0, 1, 0), nullptr);
}

TEST_F(FrameList, AppendsOldestFirstAndTakesInOrder) {
    for (uint8_t i = 0; i < 5; ++i) {
        const uint8_t d[3] = {i, uint8_t(i + 1), uint8_t(i + 2)};
        EXPECT_EQ(add_frame(&list, d, 3, FRAME_TYPE_VIDEO, 1000u + i, i == 0), 0);
    }
    EXPECT_EQ(walk(), 5);
    for (uint8_t i = 0; i < 5; ++i) {
        frame_t* f = rtp_take_frame(&list);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->p_frame[0], i);
        EXPECT_EQ(f->i_time_stamp, 1000u + i);
        EXPECT_EQ(f->i_flag, i == 0 ? 1 : 0);
        EXPECT_EQ(f->i_type, FRAME_TYPE_VIDEO);
        EXPECT_EQ(f->p_next, nullptr);
        free_frame(&f);
        walk();
    }
    EXPECT_EQ(rtp_take_frame(&list), nullptr);
    EXPECT_EQ(list.p_frame_header, nullptr);
    EXPECT_EQ(list.p_frame_buf, nullptr);

    // Refilled after running empty: both links set again.
    const uint8_t d = 7;
    add_frame(&list, &d, 1, FRAME_TYPE_AUDIO, 1, 0);
    EXPECT_EQ(walk(), 1);
    EXPECT_EQ(list.p_frame_header, list.p_frame_buf);
}

TEST_F(FrameList, SizeZeroOrNoDataAddsNothing) {
    const uint8_t d[4] = {};
    EXPECT_EQ(add_frame(&list, d, 0, FRAME_TYPE_VIDEO, 0, 0), 0);
    EXPECT_EQ(add_frame(&list, nullptr, 4, FRAME_TYPE_VIDEO, 0, 0), 0);
    EXPECT_EQ(walk(), 0);
    EXPECT_EQ(list.p_frame_header, nullptr);
}

TEST_F(FrameList, CapAt400Queued) {
    const uint8_t d[2] = {0xAB, 0xCD};
    for (int i = 0; i < 400; ++i) add_frame(&list, d, 2, FRAME_TYPE_VIDEO, uint64_t(i), 0);
    ASSERT_EQ(walk(), 400);
    // 400 queued: one more is added.
    EXPECT_EQ(add_frame(&list, d, 2, FRAME_TYPE_VIDEO, 400, 1), 0);
    ASSERT_EQ(walk(), 401);
    frame_t* newest = list.p_frame_buf;
    EXPECT_EQ(newest->i_time_stamp, 400u);
    // 401 queued: unchanged.
    EXPECT_EQ(add_frame(&list, d, 2, FRAME_TYPE_VIDEO, 401, 1), 0);
    EXPECT_EQ(walk(), 401);
    EXPECT_EQ(list.p_frame_buf, newest);
    EXPECT_EQ(newest->p_next, nullptr);
    // Taking one makes room for one.
    frame_t* f = rtp_take_frame(&list);
    EXPECT_EQ(f->i_time_stamp, 0u);
    free_frame(&f);
    add_frame(&list, d, 2, FRAME_TYPE_VIDEO, 402, 1);
    EXPECT_EQ(walk(), 401);
    EXPECT_EQ(list.p_frame_buf->i_time_stamp, 402u);
}

TEST_F(FrameList, AfterADropVideoWaitsForTheNextKeyFrame) {
    const uint8_t d[2] = {0xAB, 0xCD};
    for (int i = 0; i < 401; ++i) add_frame(&list, d, 2, FRAME_TYPE_VIDEO, uint64_t(i), 0);
    testing::internal::CaptureStdout();
    add_frame(&list, d, 2, FRAME_TYPE_VIDEO, 500, 1);  // full: a key slice is lost
    for (int i = 0; i < 10; ++i) {
        frame_t* f = rtp_take_frame(&list);
        free_frame(&f);
    }
    // (timestamp, type, key flag, kept): the rest of the lost picture and the
    // pictures that refer to it go too; audio stands alone and is kept.
    const struct {
        uint64_t ts;
        int32_t type, flag;
        bool kept;
    } steps[] = {
        {500, FRAME_TYPE_VIDEO, 1, false},  // second slice of the lost key frame
        {501, FRAME_TYPE_VIDEO, 0, false},
        {501, FRAME_TYPE_AUDIO, 2, true},
        {502, FRAME_TYPE_VIDEO, 0, false},
        {503, FRAME_TYPE_VIDEO, 1, true},   // the next key frame
        {503, FRAME_TYPE_VIDEO, 1, true},   // and its second slice
        {504, FRAME_TYPE_VIDEO, 0, true},
    };
    for (const auto& s : steps) {
        frame_t* before = list.p_frame_buf;
        add_frame(&list, d, 2, s.type, s.ts, s.flag);
        EXPECT_EQ(list.p_frame_buf != before, s.kept) << s.ts << " type " << s.type;
    }
    EXPECT_EQ(walk(), 391 + 4);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "frame list full: 4 frames dropped\n");
}

TEST_F(FrameList, WaitFrameSeesQueuedAndNewFrames) {
    EXPECT_EQ(rtp_wait_frame(&list, 0), 0);  // empty: times out at once
    EXPECT_EQ(rtp_wait_frame(&list, 20), 0);
    const uint8_t d = 1;
    add_frame(&list, &d, 1, FRAME_TYPE_VIDEO, 0, 0);
    EXPECT_EQ(rtp_wait_frame(&list, 0), 1);
    EXPECT_EQ(rtp_wait_frame(&list, -1), 1);  // still queued: no wait
    frame_t* f = rtp_take_frame(&list);
    free_frame(&f);
    EXPECT_EQ(rtp_wait_frame(&list, 0), 0);

    // A consumer blocked without limit is woken by the producer.
    std::atomic<int> woke{-1};
    std::thread consumer([&] { woke = rtp_wait_frame(&list, -1); });
    usleep(20 * 1000);
    EXPECT_EQ(woke.load(), -1);
    add_frame(&list, &d, 1, FRAME_TYPE_VIDEO, 1, 0);
    consumer.join();
    EXPECT_EQ(woke.load(), 1);
}

TEST_F(FrameList, WaitAddedIgnoresFramesLeftQueued) {
    rtp_s other;
    ASSERT_EQ(rtp_init(&other), 0);
    rtp_s* lists[2] = {&list, &other};
    const uint8_t d = 1;
    add_frame(&list, &d, 1, FRAME_TYPE_VIDEO, 0, 0);
    EXPECT_EQ(rtp_wait_added(lists, 2, 0), 1);  // the add since the last wait
    EXPECT_EQ(rtp_wait_added(lists, 2, 0), 0);  // the frame is still queued, nothing new
    EXPECT_EQ(rtp_wait_added(lists, 2, 20), 0);

    std::atomic<int> woke{-1};
    std::thread consumer([&] { woke = rtp_wait_added(lists, 2, 5000); });
    usleep(20 * 1000);
    add_frame(&other, &d, 1, FRAME_TYPE_AUDIO, 0, 0);
    consumer.join();
    EXPECT_EQ(woke.load(), 1);
    rtp_destroy(&other);
}

// Two producers and one consumer that blocks for frames: every frame arrives
// exactly once and in each producer's order; ASan catches a double free.
TEST_F(FrameList, ConcurrentProducersLoseNoFrame) {
    constexpr int kProducers = 2;
    constexpr uint32_t kPerProducer = 20000;
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            uint8_t buf[64];
            for (uint32_t seq = 0; seq < kPerProducer; ++seq) {
                // Stay below the cap so nothing is dropped on purpose.
                while (list.i_buf_num.load() > 300) usleep(200);
                const uint32_t len = 8 + seq % 50;
                memset(buf, int(seq & 0xFF), sizeof(buf));
                memcpy(buf, &seq, 4);
                buf[4] = uint8_t(p);
                add_frame(&list, buf, len, p + 1, (uint64_t(p) << 32) | seq, int(seq & 1));
            }
        });
    }
    std::vector<uint32_t> next(kProducers, 0);
    int bad = 0;
    for (uint32_t got = 0; got < kProducers * kPerProducer;) {
        ASSERT_EQ(rtp_wait_frame(&list, 5000), 1) << "stalled after " << got;
        while (frame_t* f = rtp_take_frame(&list)) {
            uint32_t seq;
            memcpy(&seq, f->p_frame, 4);
            const int p = f->p_frame[4];
            if (p >= kProducers || seq != next[p] || f->i_type != p + 1 ||
                f->i_frame_size != 8 + seq % 50 || f->i_flag != int(seq & 1) ||
                f->i_time_stamp != ((uint64_t(p) << 32) | seq) ||
                f->p_frame[f->i_frame_size - 1] != uint8_t(seq & 0xFF))
                ++bad;
            else
                ++next[p];
            free_frame(&f);
            ++got;
        }
    }
    for (auto& t : producers) t.join();
    EXPECT_EQ(bad, 0);
    for (int p = 0; p < kProducers; ++p) EXPECT_EQ(next[p], kPerProducer);
    EXPECT_EQ(walk(), 0);
}

// A picture of several slices enters the list whole or not at all, whichever
// of its slices meets the full list.
TEST_F(FrameList, APictureIsQueuedWholeOrNotAtAll) {
    const uint8_t d[2] = {0xAB, 0xCD};
    auto fill = [&](int n) {
        for (int i = 0; i < n; ++i) add_frame(&list, d, 2, FRAME_TYPE_VIDEO, uint64_t(i), i == 0);
    };
    auto take = [&](int n) {
        for (int i = 0; i < n; ++i) {
            frame_t* f = rtp_take_frame(&list);
            free_frame(&f);
        }
    };
    auto stamps = [&] {
        std::vector<uint64_t> out;
        for (frame_t* f = list.p_frame_header; f; f = f->p_next)
            if (f->i_type == FRAME_TYPE_VIDEO && f->i_time_stamp >= 1000) out.push_back(f->i_time_stamp);
        return out;
    };
    testing::internal::CaptureStdout();

    // The first slice of a key picture is lost while the list is still full
    // after an earlier loss: its second slice and the P picture after it
    // must not get in when room is made; the next key picture does, whole.
    fill(401);
    add_frame(&list, d, 2, FRAME_TYPE_VIDEO, 1000, 0);  // lost P picture
    add_frame(&list, d, 2, FRAME_TYPE_VIDEO, 1001, 1);  // lost first slice
    take(10);
    add_frame(&list, d, 2, FRAME_TYPE_VIDEO, 1001, 1);  // second slice
    add_frame(&list, d, 2, FRAME_TYPE_VIDEO, 1002, 0);
    add_frame(&list, d, 2, FRAME_TYPE_VIDEO, 1003, 1);
    add_frame(&list, d, 2, FRAME_TYPE_VIDEO, 1003, 1);
    EXPECT_EQ(stamps(), (std::vector<uint64_t>{1003, 1003}));
    EXPECT_EQ(walk(), 393);
    take(393);

    // The first slice gets the last place, the second finds the list full:
    // the first is taken back out, and the list waits for a whole key picture.
    fill(399);
    add_frame(&list, d, 2, FRAME_TYPE_VIDEO, 2000, 1);
    add_frame(&list, d, 2, FRAME_TYPE_AUDIO, 2000, 2);  // audio between the slices stays
    add_frame(&list, d, 2, FRAME_TYPE_VIDEO, 2000, 1);  // full
    EXPECT_EQ(stamps(), (std::vector<uint64_t>{}));
    EXPECT_EQ(list.p_frame_buf->i_type, FRAME_TYPE_AUDIO);
    EXPECT_EQ(walk(), 400);
    take(10);
    add_frame(&list, d, 2, FRAME_TYPE_VIDEO, 2001, 0);
    add_frame(&list, d, 2, FRAME_TYPE_VIDEO, 2002, 1);
    add_frame(&list, d, 2, FRAME_TYPE_VIDEO, 2002, 1);
    EXPECT_EQ(stamps(), (std::vector<uint64_t>{2002, 2002}));
    EXPECT_EQ(walk(), 392);
    take(392);

    // No memory for the second slice, with room in the list: the same,
    // also when the first is the head, or already with the consumer, which
    // then learns that its picture is lost.
    auto no_memory_for_second_slice = [&](uint64_t at) {
        rtp_frame_alloc = [](size_t) -> void* { return nullptr; };
        add_frame(&list, d, 2, FRAME_TYPE_VIDEO, at, 1);
        rtp_frame_alloc = malloc;
        add_frame(&list, d, 2, FRAME_TYPE_VIDEO, at + 1, 0);
        add_frame(&list, d, 2, FRAME_TYPE_VIDEO, at + 2, 1);
    };
    auto consumed = [&] {  // what a consumer that heeds the loss keeps
        std::vector<uint64_t> out;
        while (frame_t* f = rtp_take_frame(&list)) {
            if (!rtp_picture_lost(&list, f->i_time_stamp) && f->i_time_stamp >= 1000)
                out.push_back(f->i_time_stamp);
            free_frame(&f);
        }
        return out;
    };
    fill(5);
    add_frame(&list, d, 2, FRAME_TYPE_VIDEO, 3000, 1);
    no_memory_for_second_slice(3000);
    EXPECT_EQ(stamps(), (std::vector<uint64_t>{3002}));
    EXPECT_EQ(walk(), 6);
    EXPECT_EQ(consumed(), (std::vector<uint64_t>{3002}));
    add_frame(&list, d, 2, FRAME_TYPE_VIDEO, 4000, 1);  // the head
    no_memory_for_second_slice(4000);
    EXPECT_EQ(consumed(), (std::vector<uint64_t>{4002}));
    add_frame(&list, d, 2, FRAME_TYPE_VIDEO, 5000, 1);
    frame_t* held = rtp_take_frame(&list);
    EXPECT_FALSE(rtp_picture_lost(&list, 5000));
    no_memory_for_second_slice(5000);
    EXPECT_TRUE(rtp_picture_lost(&list, 5000));
    free_frame(&held);
    EXPECT_EQ(consumed(), (std::vector<uint64_t>{5002}));
    // Two key pictures in a row lose a slice, the first while the consumer
    // holds it, the next while its first slice is the head: both stay lost.
    add_frame(&list, d, 2, FRAME_TYPE_VIDEO, 6000, 1);
    held = rtp_take_frame(&list);
    no_memory_for_second_slice(6000);
    no_memory_for_second_slice(6002);
    EXPECT_TRUE(rtp_picture_lost(&list, 6000));
    EXPECT_TRUE(rtp_picture_lost(&list, 6002));
    free_frame(&held);
    EXPECT_EQ(consumed(), (std::vector<uint64_t>{6004}));
    testing::internal::GetCapturedStdout();
}
