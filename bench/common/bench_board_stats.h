// The reference of the 3A benchmarks: what the virtual board spends measuring
// the statistics of one 1920x1080 frame, and the report of a cost per frame
// as a share of a 30 fps frame and against that reference, same run.
#pragma once
#include <benchmark/benchmark.h>
#include <time.h>

#include <vector>

#include "vb_scene.h"

namespace benchref {

inline double thread_cpu_s() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// The ISP's 1080p picture of the scene before white balance.
inline std::vector<uint8_t> pre_wb_picture(const vb::cap::SceneParams &sc) {
    using namespace vb::cap;
    constexpr uint32_t W = 1920, H = 1080;
    SceneModel m;
    Exposure ex;
    std::vector<uint8_t> uyvy((size_t)W * H * 2), nv12((size_t)W * H * 3 / 2);
    m.render_sensor(sc, ex, 0, 0, kLineNs / 1000.0, W, H, uyvy.data());
    isp_process(uyvy.data(), W, 0, 0, W, H, ex, nv12.data());
    return nv12;
}

inline double board_stats_s_per_frame() {
    static double v = [] {
        std::vector<uint8_t> nv12 = pre_wb_picture({});
        vb::cap::AfConfig af = vb::cap::default_af_config();
        static vb::cap::Stats s;
        const int n = 30;
        double t0 = thread_cpu_s();
        for (int i = 0; i < n; ++i) {
            vb::cap::compute_stats(nv12.data(), 1920, 1080, af, &s);
            benchmark::DoNotOptimize(&s);
        }
        return (thread_cpu_s() - t0) / n;
    }();
    return v;
}

inline void report(benchmark::State &st, double cpu_s, int64_t frames) {
    const double per = cpu_s / (double)frames;
    st.counters["pct_of_frame_30fps"] = per * 30.0 * 100.0;
    st.counters["x_board_stats"] = per / board_stats_s_per_frame();
}

}  // namespace benchref
