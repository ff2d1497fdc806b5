// Cost of the 3A thread per frame (statistics fetched over the IQ-API, the
// plug-ins and algorithms, the three results written back), on a 1920x1080
// channel of the virtual board stepped in lockstep, as a share of one frame
// at 30 fps. The reference is the board's own statistics of one such frame
// (cap::compute_stats), measured in the same run; "x_board_stats" is the
// 3A thread's cost over it.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <string.h>
#include <time.h>

#include <fstream>
#include <string>
#include <vector>

#include "mi_isp.h"
#include "mi_sys.h"
#include "mi_vif.h"
#include "vb.h"
#include "iq_root.h"
#include "vb_capture.h"
#include "vb_scene.h"
#include "bench_board_stats.h"

namespace {

using namespace vb::cap;
using namespace benchref;
constexpr uint32_t W = 1920, H = 1080;

// Seconds on a CPU of the named thread of this process (-1: no such thread).
double named_thread_cpu_s(const char *name) {
    double s = -1;
    DIR *d = opendir("/proc/self/task");
    while (dirent *e = d ? readdir(d) : nullptr) {
        const std::string task = std::string("/proc/self/task/") + e->d_name;
        std::string comm;
        std::getline(std::ifstream(task + "/comm"), comm);
        long long ns = 0;
        if (comm == name && (std::ifstream(task + "/schedstat") >> ns)) s = ns / 1e9;
    }
    if (d) closedir(d);
    return s;
}

void BM_BoardStatistics1080p(benchmark::State &st) {
    double sum = 0;
    for (auto _ : st) sum += board_stats_s_per_frame();
    report(st, sum, st.iterations());
}
BENCHMARK(BM_BoardStatistics1080p)->Iterations(1);

// A VIF -> ISP channel at 1080p with the library's own 3A on it.
void build_channel() {
    static bool done = false;
    if (done) return;
    done = true;
    static unit::IqRoot iq(VIDREC_REFERENCE_IQFILE);
    MI_VIF_GroupAttr_t ga;
    memset(&ga, 0, sizeof ga);
    ga.eIntfMode = E_MI_VIF_MODE_BT1120_STANDARD;
    MI_VIF_CreateDevGroup(0, &ga);
    MI_VIF_DevAttr_t da;
    memset(&da, 0, sizeof da);
    da.eInputPixel = E_MI_SYS_PIXEL_FRAME_YUV422_UYVY;
    da.stInputRect = {0, 0, W, H};
    MI_VIF_SetDevAttr(0, &da);
    MI_VIF_EnableDev(0);
    MI_VIF_OutputPortAttr_t pa;
    memset(&pa, 0, sizeof pa);
    pa.stCapRect = {0, 0, W, H};
    pa.stDestSize = {W, H};
    pa.ePixFormat = E_MI_SYS_PIXEL_FRAME_YUV422_UYVY;
    MI_VIF_SetOutputPortAttr(0, 0, &pa);
    MI_ISP_DevAttr_t ida{0};
    MI_ISP_CreateDevice(0, &ida);
    MI_ISP_ChannelAttr_t ca;
    memset(&ca, 0, sizeof ca);
    MI_ISP_CreateChannel(0, 0, &ca);
    MI_ISP_StartChannel(0, 0);
    MI_SYS_ChnPort_t vif{E_MI_MODULE_ID_VIF, 0, 0, 0}, isp{E_MI_MODULE_ID_ISP, 0, 0, 0};
    vb::bind(vb::Binding{vif, isp, 30, 30, 1, 0});
    MI_VIF_EnableOutputPort(0, 0);
    vb::capture::set_lockstep(true, 1000);
    vb::capture::step(10);  // plug-ins started, IQ file loaded
}

void BM_3AThreadPerFrame1080p(benchmark::State &st) {
    build_channel();
    double cpu = 0;
    for (auto _ : st) {
        const double a = named_thread_cpu_s("3A_Proc_0");
        vb::capture::step(1);
        cpu += named_thread_cpu_s("3A_Proc_0") - a;
    }
    report(st, cpu, st.iterations());
    st.counters["lockstep_timeouts"] = (double)vb::capture::lockstep_timeouts();
}
BENCHMARK(BM_3AThreadPerFrame1080p)->Iterations(300);

}  // namespace

BENCHMARK_MAIN();
