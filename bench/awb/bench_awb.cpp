// Cost of one AWB run (DoAwb) on 128 x 90 block statistics recorded from the
// virtual board, as a share of a 30 fps frame, and against what the board
// spends measuring the statistics of a 1080p frame, in the same run
// ("x_board_stats").
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include "awb_algo.h"
#include "bench_board_stats.h"
#include "iq_cfg.h"
#include "vb_scene.h"

namespace {

using namespace vb::cap;
using namespace benchref;

// Statistics of the still scene under two lights, recorded once.
struct Recorded {
    IspAwbStatis_t stat[2];
    Recorded() {
        const uint32_t ccts[2] = {6500, 3000};
        AfConfig af = default_af_config();
        static Stats s;
        for (int k = 0; k < 2; ++k) {
            SceneParams sc;
            sc.cct = ccts[k];
            sc.moving = false;
            std::vector<uint8_t> nv12 = pre_wb_picture(sc);
            compute_stats(nv12.data(), 1920, 1080, af, &s);
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
    AWBDEBUG_t dbg{1, 0, 0, 0, 0};
    AwbInput_t in{};
    AwbOutput_t out{};
    in.InitRgain = in.InitGgain = in.InitBgain = 1024;
    AwbHandle h = AwbInit(iq, &in, &out);
    IspFreeIqCfg(&iq);
    if (!h) {
        st.SkipWithError("no reference IQ file");
        return;
    }
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
