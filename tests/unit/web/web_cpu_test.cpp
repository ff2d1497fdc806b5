// CPU load from /proc/stat counters.
#include <gtest/gtest.h>

#include <string>

#include "web_cpu.h"
#include "web_test_util.h"

namespace {

std::string stat_text(unsigned long long user, unsigned long long sys, unsigned long long idle,
                      unsigned long long iowait) {
    return "cpu  " + std::to_string(user) + " 0 " + std::to_string(sys) + " " + std::to_string(idle) + " " +
           std::to_string(iowait) + " 0 0 0 0 0\ncpu0 1 2 3 4 5 6 7 8 9 10\nintr 12345\n";
}

TEST(WebCpu, ParsesTheSummaryLine) {
    CpuTimes t;
    ASSERT_TRUE(CpuTimesParse("cpu  10 20 30 400 50 6 7 8 9 10\ncpu0 1 1 1 1 1 1 1 1 1 1\n", &t));
    // guest time is inside user already: not added twice
    EXPECT_EQ(t.total, 10u + 20 + 30 + 400 + 50 + 6 + 7 + 8);
    EXPECT_EQ(t.busy, t.total - 450);
    // Old kernels with four columns.
    ASSERT_TRUE(CpuTimesParse("cpu 1 2 3 4\n", &t));
    EXPECT_EQ(t.total, 10u);
    EXPECT_EQ(t.busy, 6u);
    // The summary line found after other lines; per-CPU lines are not it.
    ASSERT_TRUE(CpuTimesParse("x\ncpu 5 0 5 10\n", &t));
    EXPECT_EQ(t.total, 20u);
    EXPECT_FALSE(CpuTimesParse("cpu0 1 2 3 4\n", &t));
    EXPECT_FALSE(CpuTimesParse("cpu 1 2\n", &t));
    EXPECT_FALSE(CpuTimesParse("", &t));
    EXPECT_FALSE(CpuTimesParse(nullptr, &t));
}

TEST(WebCpu, LoadIsTheBusyShareOfTheTicksBetweenReadings) {
    EXPECT_EQ(CpuLoadPercent({100, 1000}, {150, 1100}), 50);
    EXPECT_EQ(CpuLoadPercent({0, 0}, {1, 3}), 33);  // cut, not rounded
    EXPECT_EQ(CpuLoadPercent({0, 0}, {0, 100}), 0);
    EXPECT_EQ(CpuLoadPercent({0, 0}, {100, 100}), 100);
    EXPECT_EQ(CpuLoadPercent({5, 10}, {5, 10}), 0);    // no tick passed
    EXPECT_EQ(CpuLoadPercent({50, 100}, {40, 90}), 0); // counters went back
    EXPECT_EQ(CpuLoadPercent({50, 100}, {40, 200}), 0);
    EXPECT_EQ(CpuLoadPercent({0, 0}, {200, 100}), 100);
}

TEST(WebCpu, MeterReportsDeltasOfItsFile) {
    std::string dir = webtest::make_temp_dir();
    std::string path = dir + "/stat";
    CpuLoadMeter m(path.c_str());
    ASSERT_TRUE(webtest::write_file(path, stat_text(100, 100, 800, 0)));
    EXPECT_EQ(m.Sample(), 20);  // since boot
    ASSERT_TRUE(webtest::write_file(path, stat_text(170, 120, 800, 10)));
    EXPECT_EQ(m.Sample(), 90);  // 90 busy of 100 ticks, I/O wait idle
    ASSERT_TRUE(webtest::write_file(path, stat_text(170, 120, 900, 10)));
    EXPECT_EQ(m.Sample(), 0);
    EXPECT_EQ(m.Last(), 0);
    // Unreadable or unchanged: the last figure stays.
    ASSERT_TRUE(webtest::write_file(path, stat_text(200, 120, 930, 10)));
    EXPECT_EQ(m.Sample(), 50);
    EXPECT_EQ(m.Sample(), 50);
    ASSERT_EQ(unlink(path.c_str()), 0);
    EXPECT_EQ(m.Sample(), 50);
    webtest::remove_tree(dir);
}

TEST(WebCpu, RealCountersGiveAPercentage) {
    CpuLoadMeter m;
    int first = m.Sample();
    usleep(50 * 1000);
    int second = m.Sample();
    EXPECT_GE(first, 0);
    EXPECT_LE(first, 100);
    EXPECT_GE(second, 0);
    EXPECT_LE(second, 100);
    CpuTimes t;
    ASSERT_TRUE(CpuTimesRead("/proc/stat", &t));
    EXPECT_GT(t.total, 0u);
}

}  // namespace
