// Cost of the AE per frame: DoAe on statistics recorded from the virtual
// board (a brightness sweep, 1 -> 4 -> 0.25, with the AE closing the loop
// while recording), as a share of a 33.3 ms frame. The reference, measured in
// the same run, is the board working out the statistics of one 1080p frame;
// "x_board_stats" is DoAe's cost over that.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <vector>

#include "ae_algo.h"
#include "bench_board_stats.h"
#include "iq_cfg.h"
#include "vb_scene.h"

namespace {

using namespace vb::cap;

using benchref::thread_cpu_s;

// One recorded frame: what the plug-in hands DoAe.
struct Recorded {
    Stats stats;
    Exposure ex;
};

struct AeRun {
    AeInitParam_t init{};
    AeInput_t in{};
    AeOutput_t out{};
    AEDEBUG_t dbg{1, 0};
    AeHandle h = nullptr;

    AeRun() {
        std::vector<uint8_t> file;
        if (FILE *f = fopen(VIDREC_REFERENCE_IQFILE, "rb")) {
            uint8_t b[4096];
            for (size_t n; (n = fread(b, 1, sizeof b, f)) > 0;) file.insert(file.end(), b, b + n);
            fclose(f);
        }
        ISP_DBGBUF_HANDLE cfg = nullptr;
        if (IspLoadIqCfg(&cfg, file.data(), (LX_U32)file.size()) != 0) fprintf(stderr, "no reference IQ file\n");
        init.FNx10 = 18;
        init.shutter_min = init.shutterHDRShort_min = 30;
        init.sensor_gain_min = init.sensor_gainHDRShort_min = 1024;
        init.fps = 30000;
        init.shutter_step = init.shutterHDRShort_step = kLineNs;
        init.isp_gain_max = 8192;
        init.shutter_max = init.shutterHDRShort_max = 33333;
        init.sensor_gain_max = init.sensor_gainHDRShort_max = 16384;
        in.AvgBlkX = kStatBlkX;
        in.AvgBlkY = kStatBlkY;
        in.tAEDebug = &dbg;
        h = AeInit(cfg, &init, &in, &out);
        IspFreeIqCfg(&cfg);
        in.FNx10 = 18;
    }
    ~AeRun() { AeRelease(h); }

    void frame(Recorded &r) {
        in.hist1 = (ISPHistX_t *)r.stats.hist0;
        in.hist2 = (ISPHistX_t *)r.stats.hist1;
        in.avgs = (ISPAESample_t *)r.stats.ae;
        in.Shutter = in.ShutterHDR = r.ex.shutter_us;
        in.SensorGain = in.SensorGainHDR = r.ex.sensor_gain;
        in.IspGain = in.IspGainHDR = r.ex.isp_gain;
        in.PreCurYx10 = out.CurYx10;
        DoAe(h, &in, &out);
    }
};

const std::vector<Recorded> &recording() {
    static const std::vector<Recorded> rec = [] {
        constexpr uint32_t W = 640, H = 360;
        SceneModel m;
        SceneParams sc;
        sc.moving = false;
        AfConfig af = default_af_config();
        AeRun ae;
        Exposure ex;
        ex.shutter_us = ae.out.Shutter;
        std::vector<uint8_t> uyvy((size_t)W * H * 2), nv12((size_t)W * H * 3 / 2);
        std::vector<Recorded> out;
        const double sweep[] = {1.0, 4.0, 0.25};
        for (uint64_t seq = 0; seq < 90; ++seq) {
            sc.brightness = sweep[seq / 30];
            Recorded r;
            r.ex = ex;
            m.render_sensor(sc, ex, seq, seq * 33333, kLineNs / 1000.0, W, H, uyvy.data());
            isp_process(uyvy.data(), W, 0, 0, W, H, ex, nv12.data());
            compute_stats(nv12.data(), W, H, af, &r.stats);
            ae.frame(r);
            out.push_back(r);
            if (ae.out.Change) {
                ex.shutter_us = whole_line_shutter(ae.out.Shutter);
                ex.sensor_gain = ae.out.SensorGain;
                ex.isp_gain = ae.out.IspGain;
            }
        }
        return out;
    }();
    return rec;
}

void BM_DoAeOnRecordedStatistics(benchmark::State &st) {
    std::vector<Recorded> rec = recording();
    benchref::board_stats_s_per_frame();  // the reference, measured outside the timed loop
    AeRun ae;
    size_t i = 0;
    const double t0 = thread_cpu_s();
    for (auto _ : st) {
        ae.frame(rec[i]);
        benchmark::DoNotOptimize(ae.out);
        i = (i + 1) % rec.size();
    }
    benchref::report(st, thread_cpu_s() - t0, st.iterations());
}
BENCHMARK(BM_DoAeOnRecordedStatistics);

}  // namespace

BENCHMARK_MAIN();
