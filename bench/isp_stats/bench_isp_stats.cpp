// Cost of the virtual ISP per frame, as a share of one core at 30 frames per
// second: the statistics alone, and the whole picture path with white balance
// (sensor picture, ISP gain for the statistics, statistics, white-balanced
// output, grey-card readout, 1280x720 scaler output) at 1920x1080. The
// reference is a plain copy of one 1080p NV12 picture, measured in the same
// run; "x_copy" is the cost over that copy.
#include <benchmark/benchmark.h>
#include <string.h>
#include <time.h>

#include <vector>

#include "vb_scene.h"

namespace {

using namespace vb::cap;
constexpr uint32_t W = 1920, H = 1080;

double thread_cpu_s() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

double copy_s_per_frame() {
    static double v = [] {
        std::vector<uint8_t> a((size_t)W * H * 3 / 2, 7), b(a.size());
        double t0 = thread_cpu_s();
        const int n = 200;
        for (int i = 0; i < n; ++i) {
            a[i] = (uint8_t)i;
            memcpy(b.data(), a.data(), a.size());
            benchmark::DoNotOptimize(b.data());
        }
        return (thread_cpu_s() - t0) / n;
    }();
    return v;
}

void report(benchmark::State &st, double cpu_s, int64_t frames) {
    double per = cpu_s / (double)frames;
    st.counters["cpu_share_30fps_pct"] = per * 30.0 * 100.0;
    st.counters["x_copy"] = per / copy_s_per_frame();
}

std::vector<uint8_t> isp_picture() {
    SceneModel m;
    SceneParams sc;
    Exposure ex;
    std::vector<uint8_t> uyvy((size_t)W * H * 2), nv12((size_t)W * H * 3 / 2);
    m.render_sensor(sc, ex, 0, 0, kLineNs / 1000.0, W, H, uyvy.data());
    isp_process(uyvy.data(), W, 0, 0, W, H, ex, nv12.data());
    return nv12;
}

void BM_CopyReference(benchmark::State &st) {
    std::vector<uint8_t> a((size_t)W * H * 3 / 2, 7), b(a.size());
    double t0 = thread_cpu_s();
    for (auto _ : st) {
        memcpy(b.data(), a.data(), a.size());
        benchmark::DoNotOptimize(b.data());
    }
    report(st, thread_cpu_s() - t0, st.iterations());
}
BENCHMARK(BM_CopyReference);

void BM_Statistics1080p(benchmark::State &st) {
    std::vector<uint8_t> nv12 = isp_picture();
    AfConfig af = default_af_config();
    Stats s;
    double t0 = thread_cpu_s();
    for (auto _ : st) {
        compute_stats(nv12.data(), W, H, af, &s);
        benchmark::DoNotOptimize(&s);
    }
    report(st, thread_cpu_s() - t0, st.iterations());
}
BENCHMARK(BM_Statistics1080p);

void BM_WholeFrame1080pPlus720p(benchmark::State &st) {
    SceneModel m;
    SceneParams sc;
    Exposure measured, ex;
    ex.r_gain = 1400;
    ex.b_gain = 1900;
    AfConfig af = default_af_config();
    Stats s;
    std::vector<uint8_t> uyvy((size_t)W * H * 2), pre((size_t)W * H * 3 / 2), nv12(pre.size()),
        small((size_t)1280 * 720 * 3 / 2);
    uint64_t seq = 0;
    double t0 = thread_cpu_s();
    for (auto _ : st) {
        m.render_sensor(sc, ex, seq, seq * 33333, kLineNs / 1000.0, W, H, uyvy.data());
        ++seq;
        isp_process(uyvy.data(), W, 0, 0, W, H, measured, pre.data());
        compute_stats(pre.data(), W, H, af, &s);
        isp_process(uyvy.data(), W, 0, 0, W, H, ex, nv12.data());
        benchmark::DoNotOptimize(card_rgb(nv12.data(), W, H, grey_card_rect(W, H)));
        scale_nv12(nv12.data(), W, H, {0, 0, W, H}, small.data(), 1280, 720, false, false, false);
        benchmark::DoNotOptimize(small.data());
    }
    report(st, thread_cpu_s() - t0, st.iterations());
}
BENCHMARK(BM_WholeFrame1080pPlus720p);

}  // namespace

BENCHMARK_MAIN();
