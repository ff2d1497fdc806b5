// CamOs: lock records usable from zero, misuse reported and survived, reader/
// writer exclusion under threads, sleeps that round and do not wrap, and
// 64-bit division that never traps.
#include <limits.h>
#include <signal.h>
#include <stdint.h>
#include <string.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cam_os_wrapper.h"

namespace {

size_t count_of(const std::string &hay, const std::string &needle) {
    size_t n = 0;
    for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1)) ++n;
    return n;
}

TEST(CamOsMutex, ZeroFilledRecordLocksWithoutInitAndCountsExactlyUnderThreads) {
    static CamOsMutex_t m;  // zero, as a static record is
    memset(&m, 0, sizeof m);
    constexpr int kThreads = 6, kIters = 20000;
    long counter = 0;
    std::atomic<int> go{0};
    testing::internal::CaptureStderr();
    std::vector<std::thread> th;
    for (int i = 0; i < kThreads; ++i)
        th.emplace_back([&] {
            while (!go.load()) std::this_thread::yield();
            for (int k = 0; k < kIters; ++k) {
                ASSERT_EQ(CamOsMutexLock(&m), CAM_OS_OK);
                long v = counter;
                counter = v + 1;
                ASSERT_EQ(CamOsMutexUnlock(&m), CAM_OS_OK);
            }
        });
    go = 1;
    for (auto &t : th) t.join();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(counter, (long)kThreads * kIters);
    EXPECT_EQ(m.nPriv[0], CAM_OS_INIT_MARKER);
    // Racing first locks initialise once and are not reported as misuse.
    EXPECT_EQ(err.find("already inited"), std::string::npos) << err;
    EXPECT_EQ(CamOsMutexDestroy(&m), CAM_OS_OK);
}

TEST(CamOsMutex, RacingFirstLocksOfAFreshRecordAreNotReportedAsMisuse) {
    constexpr int kRounds = 300, kThreads = 4;
    testing::internal::CaptureStderr();
    for (int round = 0; round < kRounds; ++round) {
        CamOsMutex_t m;
        memset(&m, 0, sizeof m);
        std::atomic<int> ready{0};
        std::vector<std::thread> th;
        for (int i = 0; i < kThreads; ++i)
            th.emplace_back([&] {
                ready.fetch_add(1);
                while (ready.load() < kThreads) {
                }
                CamOsMutexLock(&m);
                CamOsMutexUnlock(&m);
            });
        for (auto &t : th) t.join();
        CamOsMutexDestroy(&m);
    }
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "");
}

TEST(CamOsMutex, MisuseIsReportedAndTheLockStaysUsable) {
    CamOsMutex_t m;
    memset(&m, 0, sizeof m);
    ASSERT_EQ(CamOsMutexInit(&m), CAM_OS_OK);
    EXPECT_EQ(m.nPriv[0], CAM_OS_INIT_MARKER);

    testing::internal::CaptureStderr();
    EXPECT_EQ(CamOsMutexInit(&m), CAM_OS_FAIL);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("CamOsMutexInit already inited, LR:0x", 0), 0u) << err;

    // Still a working mutex: another thread cannot take it while we hold it.
    ASSERT_EQ(CamOsMutexLock(&m), CAM_OS_OK);
    std::atomic<bool> got{false};
    std::thread t([&] {
        CamOsMutexLock(&m);
        got = true;
        CamOsMutexUnlock(&m);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(got.load());
    ASSERT_EQ(CamOsMutexUnlock(&m), CAM_OS_OK);
    t.join();
    EXPECT_TRUE(got.load());

    ASSERT_EQ(CamOsMutexDestroy(&m), CAM_OS_OK);
    EXPECT_EQ(m.nPriv[0], 0u);
    testing::internal::CaptureStderr();
    EXPECT_EQ(CamOsMutexDestroy(&m), CAM_OS_FAIL);
    err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("CamOsMutexDestroy not inited, LR:0x"), std::string::npos) << err;

    // A destroyed mutex re-initialises silently on its next lock.
    testing::internal::CaptureStderr();
    EXPECT_EQ(CamOsMutexLock(&m), CAM_OS_OK);
    EXPECT_EQ(CamOsMutexUnlock(&m), CAM_OS_OK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(CamOsMutexDestroy(&m), CAM_OS_OK);
}

TEST(CamOsMutex, NullRecordsGiveMinusTwoSilently) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(CamOsMutexInit(nullptr), CAM_OS_PARAM_ERR);
    EXPECT_EQ(CamOsMutexLock(nullptr), CAM_OS_PARAM_ERR);
    EXPECT_EQ(CamOsMutexUnlock(nullptr), CAM_OS_PARAM_ERR);
    EXPECT_EQ(CamOsMutexDestroy(nullptr), CAM_OS_PARAM_ERR);
    EXPECT_EQ(CamOsRwsemInit(nullptr), CAM_OS_PARAM_ERR);
    CamOsRwsemDownRead(nullptr);
    CamOsRwsemUpWrite(nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(CamOsRwsem, UninitialisedSemaphoreIgnoresUpAndDownAndSaysSo) {
    CamOsRwsem_t s;
    memset(&s, 0, sizeof s);
    testing::internal::CaptureStderr();
    CamOsRwsemDownWrite(&s);
    CamOsRwsemDownWrite(&s);  // would deadlock if it took the lock
    CamOsRwsemUpWrite(&s);
    CamOsRwsemDownRead(&s);
    CamOsRwsemUpRead(&s);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(count_of(err, "not inited, LR:0x"), 5u) << err;
    EXPECT_EQ(count_of(err, "CamOsRwsemDownWrite not inited"), 2u) << err;
    EXPECT_EQ(count_of(err, "CamOsRwsemUpRead not inited"), 1u) << err;

    ASSERT_EQ(CamOsRwsemInit(&s), CAM_OS_OK);
    EXPECT_EQ(s.nPriv[0], CAM_OS_INIT_MARKER);
    testing::internal::CaptureStderr();
    EXPECT_EQ(CamOsRwsemInit(&s), CAM_OS_FAIL);
    err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("CamOsRwsemInit already inited"), std::string::npos) << err;
}

TEST(CamOsRwsem, ReadersShareAndAWriterExcludesThem) {
    CamOsRwsem_t s;
    memset(&s, 0, sizeof s);
    ASSERT_EQ(CamOsRwsemInit(&s), CAM_OS_OK);

    // Two readers hold it at the same time.
    std::atomic<bool> second_in{false};
    CamOsRwsemDownRead(&s);
    std::thread r([&] {
        CamOsRwsemDownRead(&s);
        second_in = true;
        CamOsRwsemUpRead(&s);
    });
    for (int i = 0; i < 500 && !second_in.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(second_in.load());
    CamOsRwsemUpRead(&s);
    r.join();

    // A held write lock keeps a reader out until it is released.
    std::atomic<bool> reader_in{false};
    CamOsRwsemDownWrite(&s);
    std::thread w([&] {
        CamOsRwsemDownRead(&s);
        reader_in = true;
        CamOsRwsemUpRead(&s);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(reader_in.load());
    CamOsRwsemUpWrite(&s);
    w.join();
    EXPECT_TRUE(reader_in.load());
}

TEST(CamOsRwsem, ReadersNeverSeeAHalfWrittenPair) {
    CamOsRwsem_t s;
    memset(&s, 0, sizeof s);
    ASSERT_EQ(CamOsRwsemInit(&s), CAM_OS_OK);
    volatile long a = 0, b = 0;
    std::atomic<bool> stop{false};
    std::atomic<long> torn{0}, reads{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i)
        readers.emplace_back([&] {
            while (!stop.load()) {
                CamOsRwsemDownRead(&s);
                if (a != b) ++torn;
                ++reads;
                CamOsRwsemUpRead(&s);
            }
        });
    std::thread writer([&] {
        for (int k = 0; k < 5000; ++k) {
            CamOsRwsemDownWrite(&s);
            a = a + 1;
            std::this_thread::yield();
            b = b + 1;
            CamOsRwsemUpWrite(&s);
        }
    });
    writer.join();
    stop = true;
    for (auto &t : readers) t.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(a, 5000);
}

TEST(CamOsMath, DivisionResultsAndEdges) {
    uint64_t ru = 1;
    EXPECT_EQ(CamOsMathDivU64(UINT64_MAX, 10, &ru), UINT64_MAX / 10);
    EXPECT_EQ(ru, 5u);
    EXPECT_EQ(CamOsMathDivU64(7, 7, nullptr), 1u);

    int64_t rs = 1;
    EXPECT_EQ(CamOsMathDivS64(-7, 2, &rs), -3);
    EXPECT_EQ(rs, -1);
    EXPECT_EQ(CamOsMathDivS64(7, -1, &rs), -7);
    EXPECT_EQ(rs, 0);
    // The most negative value by -1 wraps to itself and does not trap.
    rs = 1;
    EXPECT_EQ(CamOsMathDivS64(INT64_MIN, -1, &rs), INT64_MIN);
    EXPECT_EQ(rs, 0);

    // A zero divisor is reported; quotient 0, remainder the dividend.
    testing::internal::CaptureStderr();
    EXPECT_EQ(CamOsMathDivU64(1234, 0, &ru), 0u);
    EXPECT_EQ(ru, 1234u);
    EXPECT_EQ(CamOsMathDivS64(-99, 0, &rs), 0);
    EXPECT_EQ(rs, -99);
    EXPECT_EQ(CamOsMathDivS64(INT64_MIN, 0, nullptr), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(count_of(err, "divide by zero"), 3u) << err;
}

double elapsed_ms(const std::function<void()> &f) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

TEST(CamOsTime, MsSleepRoundsUpToTenMilliseconds) {
    // Lower bounds only: a sleep may run late, never short.
    EXPECT_GE(elapsed_ms([] { CamOsMsSleep(1); }), 10.0);
    EXPECT_GE(elapsed_ms([] { CamOsMsSleep(11); }), 20.0);
    EXPECT_GE(elapsed_ms([] { CamOsUsSleep(3000); }), 3.0);
}

TEST(CamOsTime, LongMsSleepDoesNotWrap) {
    // 429496730 ms rounds to 4294967300 ms; computed in 32 bits its
    // microseconds wrap to a 0.4 ms sleep.
    fflush(nullptr);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        CamOsMsSleep(429496730u);
        _exit(0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the child woke up already";
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
}

TEST(CamOsTime, TimeOfDayAndFormatting) {
    CamOsGetTimeOfDay(nullptr);  // does nothing
    CamOsTimespec_t ts{0, 1};
    CamOsGetTimeOfDay(&ts);
    timeval tv;
    gettimeofday(&tv, nullptr);
    EXPECT_LE(ts.nSec, (uint32_t)tv.tv_sec);
    EXPECT_GE(ts.nSec + 5, (uint32_t)tv.tv_sec);
    EXPECT_LT(ts.nNanoSec, 1000000000u);
    EXPECT_EQ(ts.nNanoSec % 1000, 0u);

    char buf[4];
    EXPECT_EQ(CamOsSnprintf(buf, sizeof buf, "%d", 12345), 5);
    EXPECT_STREQ(buf, "123");

    testing::internal::CaptureStderr();
    EXPECT_EQ(CamOsPrintf("[%s-%04d] x\n", "op", 42), 12);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[op-0042] x\n");

    void *p = CamOsMemCalloc(16, 4);
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(static_cast<uint8_t *>(p)[i], 0);
    CamOsMemRelease(p);
    CamOsMemRelease(nullptr);
    p = CamOsMemAlloc(10);
    EXPECT_NE(p, nullptr);
    CamOsMemRelease(p);
}

TEST(CamOsLayout, RecordsHoldThePlatformLocks) {
#if defined(__arm__)
    EXPECT_EQ(sizeof(CamOsMutex_t), 28u);
    EXPECT_EQ(sizeof(CamOsRwsem_t), 36u);
#else
    EXPECT_GE(sizeof(CamOsMutex_t), 4 + sizeof(pthread_mutex_t));
    EXPECT_GE(sizeof(CamOsRwsem_t), 4 + sizeof(pthread_rwlock_t));
    EXPECT_EQ(alignof(CamOsMutex_t) % alignof(pthread_mutex_t), 0u);
#endif
}

}  // namespace
