// Cost of one AWB run (DoAwb) on 128 x 90 block statistics recorded from the
// virtual board, as a share of a 33.3 ms frame, and against what the board
// spends measuring the statistics of a 1080p frame, in the same run
// ("x_board_stats").
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <vector>

#include "awb_algo.h"
#include "iq_cfg.h"
#include "vb_scene.h"

namespace {

using namespace vb::cap;
constexpr uint32_t W = 1920, H = 1080;
constexpr double kFrameS = 1.0 / 30.0;

double thread_cpu_s() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// The ISP's picture of the still scene under a light, before white balance.
std::vector<uint8_t> pre_wb_picture(uint32_t cct) {
    SceneModel m;
    SceneParams sc;
    sc.cct = cct;
    sc.moving = false;
    Exposure ex;
    std::vector<uint8_t> uyvy((size_t)W * H * 2), nv12((size_t)W * H * 3 / 2);
    m.render_sensor(sc, ex, 0, 0, kLineNs / 1000.0, W, H, uyvy.data());
    isp_process(uyvy.data(), W, 0, 0, W, H, ex, nv12.data());
    return nv12;
}

// The board's statistics pass over one 1080p frame, seconds.
double board_stats_s() {
    static double v = [] {
        std::vector<uint8_t> nv12 = pre_wb_picture(5000);
        AfConfig af = default_af_config();
        static Stats s;
        const int n = 30;
        double t0 = thread_cpu_s();
        for (int i = 0; i < n; ++i) {
            compute_stats(nv12.data(), W, H, af, &s);
            benchmark::DoNotOptimize(&s);
        }
        return (thread_cpu_s() - t0) / n;
    }();
    return v;
}

void report(benchmark::State &st, double cpu_s, int64_t runs) {
    const double per = cpu_s / (double)runs;
    st.counters["frame_pct"] = per / kFrameS * 100.0;
    st.counters["x_board_stats"] = per / board_stats_s();
}

// Statistics of two lights, recorded once from the board.
struct Recorded {
    IspAwbStatis_t stat[2];
    Recorded() {
        const uint32_t ccts[2] = {6500, 3000};
        AfConfig af = default_af_config();
        static Stats s;
        for (int k = 0; k < 2; ++k) {
            std::vector<uint8_t> nv12 = pre_wb_picture(ccts[k]);
            compute_stats(nv12.data(), W, H, af, &s);
            memcpy(stat[k].Avgs, s.awb, sizeof stat[k].Avgs);
        }
    }
};

ISP_DBGBUF_HANDLE load_reference_iq() {
    FILE *f = fopen(VIDREC_REFERENCE_IQFILE, "rb");
    if (!f) return nullptr;
    std::vector<LX_U8> b(64 * 1024);
    const size_t n = fread(b.data(), 1, b.size(), f);
    fclose(f);
    ISP_DBGBUF_HANDLE h = nullptr;
    IspLoadIqCfg(&h, b.data(), (LX_U32)n);
    return h;
}

void BM_DoAwb(benchmark::State &st) {
    static Recorded rec;
    ISP_DBGBUF_HANDLE iq = load_reference_iq();
    if (!iq) {
        st.SkipWithError("no reference IQ file");
        return;
    }
    AWBDEBUG_t dbg{1, 0, 0, 0, 0};
    AwbInput_t in{};
    AwbOutput_t out{};
    in.InitRgain = in.InitGgain = in.InitBgain = 1024;
    AwbHandle h = AwbInit(iq, &in, &out);
    IspFreeIqCfg(&iq);
    in.nSize = sizeof in;
    in.tBlock = {128, 90, 4, 2, 10, 8, 0};
    in.CurYx10 = 470;
    in.tAWBDebug = &dbg;
    // The light changes every 8 runs, so the runs converge as well as hold.
    uint32_t n = 0;
    double t0 = thread_cpu_s();
    for (auto _ : st) {
        in.pAwbStatis = &rec.stat[(n / 8) % 2];
        in.nFrameCount = 3 * n + 1;
        ++n;
        DoAwb(h, &in, &out);
        benchmark::DoNotOptimize(out.tGain);
    }
    report(st, thread_cpu_s() - t0, st.iterations());
    AwbRelease(h);
}
BENCHMARK(BM_DoAwb);

}  // namespace

BENCHMARK_MAIN();
