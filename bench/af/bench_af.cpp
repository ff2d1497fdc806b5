// Cost of the AF per frame, as a share of one frame at 30 frames per second:
// DoAf in continuous mode over AF statistics recorded from the virtual board's
// scene at every lens position the search visits, the lens following the
// AF's own targets and the search restarted every 150 frames. The reference,
// measured in the same run, is the board computing the statistics of one
// 1920x1080 frame; "x_board_stats" is the AF's cost over that.
#include <benchmark/benchmark.h>
#include <string.h>
#include <time.h>

#include <memory>
#include <vector>

#include "af_handle.h"
#include "bench_board_stats.h"
#include "mi_isp.h"
#include "vb_scene.h"

namespace {

using namespace vb::cap;
constexpr uint32_t W = 1920, H = 1080;
constexpr uint32_t kFirstPos = 300, kLastPos = 720, kPosStep = 5;
using benchref::report;
using benchref::thread_cpu_s;

std::vector<uint8_t> isp_picture(const SceneModel &m, uint32_t lens) {
    SceneParams sc;
    sc.moving = false;
    sc.focus_pos = 600;
    Exposure ex;
    ex.lens_pos = lens;
    std::vector<uint8_t> uyvy((size_t)W * H * 2), nv12((size_t)W * H * 3 / 2);
    m.render_sensor(sc, ex, 0, 0, kLineNs / 1000.0, W, H, uyvy.data());
    isp_process(uyvy.data(), W, 0, 0, W, H, ex, nv12.data());
    return nv12;
}

void put_u32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = (uint8_t)(v >> (8 * i));
}

// The statistics record as the ISP hands it out (value in bytes 1-4 of each group).
void pack(const Stats &s, IQ_ISP_AF_INFO_STATS *r) {
    memset(r, 0, sizeof *r);
    for (int row = 0; row < kAfRows; ++row)
        for (int col = 0; col < kAfCols; ++col) {
            const AfCell &c = s.af[row][col];
            ISP_AF_STATS &p = r->stParaAPI[row];
            put_u32(&p.high_iir[col * 5 + 1], c.high);
            put_u32(&p.low_iir[col * 5 + 1], c.low);
            put_u32(&p.luma_iir[col * 5 + 1], c.luma);
            put_u32(&p.sobel_v[col * 5 + 1], c.vert);
            put_u32(&p.sobel_h[col * 5 + 1], c.horz);
        }
}

// One record per lens position kFirstPos, +kPosStep, ..., kLastPos.
const std::vector<IQ_ISP_AF_INFO_STATS> &recorded() {
    static const std::vector<IQ_ISP_AF_INFO_STATS> v = [] {
        SceneModel m;
        AfConfig af = default_af_config();
        auto s = std::make_unique<Stats>();
        std::vector<IQ_ISP_AF_INFO_STATS> out;
        for (uint32_t p = kFirstPos; p <= kLastPos; p += kPosStep) {
            compute_stats(isp_picture(m, p).data(), W, H, af, s.get());
            out.emplace_back();
            pack(*s, &out.back());
        }
        return out;
    }();
    return v;
}

const IQ_ISP_AF_INFO_STATS *stats_at(uint32_t pos) {
    pos = pos < kFirstPos ? kFirstPos : pos > kLastPos ? kLastPos : pos;
    return &recorded()[(pos - kFirstPos + kPosStep / 2) / kPosStep];
}

MI_S32 answer_ok(MI_ISP_IQApiHeader_t *, void *) { return 0; }

void BM_BoardStatistics1080p(benchmark::State &st) {
    SceneModel m;
    std::vector<uint8_t> nv12 = isp_picture(m, 500);
    AfConfig af = default_af_config();
    auto s = std::make_unique<Stats>();
    double t0 = thread_cpu_s();
    for (auto _ : st) {
        compute_stats(nv12.data(), W, H, af, s.get());
        benchmark::DoNotOptimize(s.get());
    }
    report(st, thread_cpu_s() - t0, st.iterations());
}
BENCHMARK(BM_BoardStatistics1080p);

void BM_DoAfContinuous(benchmark::State &st) {
    recorded();
    benchref::board_stats_s_per_frame();  // the reference, measured outside the timed loop
    MI_ISP_RegisterIspApiAgent(0, 0, answer_ok, answer_ok);  // the set-up requests at creation
    AfInitParam_t ip{0, 1023, 1, 1023, 500, 0, 0};
    AFDEBUG_t dbg{1, 0};
    AfInput_t in{0, 0, 30, nullptr, 500, &dbg, 0};
    AfOutput_t out{0, 500};
    auto *h = (cam_af_handle_t *)AfInit(nullptr, &ip, &in, &out);
    MI_ISP_RegisterIspApiAgent(0, 0, nullptr, nullptr);
    uint32_t lens = 500, prev = 500;
    uint64_t frame = 0, searches = 0;
    double t0 = thread_cpu_s();
    for (auto _ : st) {
        in.af_stats = (IQ_ISP_AF_INFO_STATS *)stats_at(prev);
        in.CurPos = lens;
        DoAf(h, &in, &out);
        prev = lens;
        lens = out.FocusPos;
        if (++frame % 150 == 0) {
            searches += h->eFSMState == AF_FSM_STATE_WOBBLING;
            h->pAF_Trigger(h);
        }
    }
    report(st, thread_cpu_s() - t0, st.iterations());
    st.counters["focused_of_150"] = frame >= 150 ? (double)searches / (double)(frame / 150) : 0;
    AfRelease(h);
}
BENCHMARK(BM_DoAfContinuous);

}  // namespace

BENCHMARK_MAIN();
