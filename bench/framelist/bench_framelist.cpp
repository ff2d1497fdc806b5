// Frame list throughput, one producer and one consumer thread, 100 KB frames,
// against a plain memcpy of the same bytes into as many buffers. The ratio of
// the two (time per byte) is printed at the end of the run.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "frame_list.h"

namespace {

constexpr size_t kFrameBytes = 100 * 1024;
constexpr int kBatch = 64;  // frames per iteration, below the list's cap

void BM_Memcpy(benchmark::State& state) {
    std::vector<uint8_t> src(kFrameBytes, 0x3C);
    std::vector<std::vector<uint8_t>> dst(kBatch, std::vector<uint8_t>(kFrameBytes));
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            memcpy(dst[i].data(), src.data(), kFrameBytes);
            benchmark::DoNotOptimize(dst[i].data());
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kBatch * kFrameBytes);
    state.SetItemsProcessed(int64_t(state.iterations()) * kBatch);
}

// The producer (benchmark thread) appends a batch; the iteration ends when
// the consumer has taken and released every frame of it.
void BM_FrameList(benchmark::State& state) {
    rtp_s list;
    rtp_init(&list);
    std::vector<uint8_t> src(kFrameBytes, 0x3C);
    std::atomic<int64_t> consumed{0};
    std::atomic<bool> stop{false};
    std::thread consumer([&] {
        while (!stop.load()) {
            if (!rtp_wait_frame(&list, 50)) continue;
            while (frame_t* f = rtp_take_frame(&list)) {
                benchmark::DoNotOptimize(f->p_frame[kFrameBytes - 1]);
                free_frame(&f);
                consumed.fetch_add(1);
                consumed.notify_one();
            }
        }
    });
    int64_t produced = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < kBatch; ++i)
            add_frame(&list, src.data(), kFrameBytes, FRAME_TYPE_VIDEO, uint64_t(produced + i), 0);
        produced += kBatch;
        for (int64_t c = consumed.load(); c < produced; c = consumed.load()) consumed.wait(c);
        const auto t1 = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    stop = true;
    consumer.join();
    rtp_destroy(&list);
    state.SetBytesProcessed(int64_t(state.iterations()) * kBatch * kFrameBytes);
    state.SetItemsProcessed(int64_t(state.iterations()) * kBatch);
}

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FrameList)->UseManualTime()->Unit(benchmark::kMicrosecond);

// Console output plus the ratio of the two benchmarks' time per iteration
// (same bytes per iteration in both).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        // Single runs, or the mean when repetitions are reported as aggregates.
        for (const Run& r : runs) {
            if (r.error_occurred) continue;
            if (r.run_type == Run::RT_Iteration ||
                (r.run_type == Run::RT_Aggregate && r.aggregate_name == "mean"))
                time_[r.run_name.function_name] = r.GetAdjustedRealTime();
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        auto m = time_.find("BM_Memcpy");
        auto f = time_.find("BM_FrameList");
        if (m != time_.end() && f != time_.end() && m->second > 0)
            printf("frame list / memcpy time for %zu KB frames: %.2f\n", kFrameBytes / 1024,
                   f->second / m->second);
    }

private:
    std::map<std::string, double> time_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
