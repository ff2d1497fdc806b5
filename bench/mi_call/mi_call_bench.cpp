// Cost of one media call through the seam on the virtual board, against a
// bare ioctl system call on a real device node, measured in the same run.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <map>
#include <string>

#include <benchmark/benchmark.h>

#include "mi_sys.h"
#include "vb.h"

namespace {

// FIONBIO is served by the kernel's generic ioctl path for any descriptor:
// a real, successful ioctl on /dev/null.
void BM_BareIoctlDevNull(benchmark::State &state) {
    int fd = open("/dev/null", O_RDWR);
    if (fd < 0) {
        state.SkipWithError("cannot open /dev/null");
        return;
    }
    int off = 0;
    for (auto _ : state) benchmark::DoNotOptimize(ioctl(fd, FIONBIO, &off));
    close(fd);
}
BENCHMARK(BM_BareIoctlDevNull);

// The default board: every request is traced.
void BM_MiSysGetCurPts(benchmark::State &state) {
    vb::trace_enable(true);
    MI_U64 pts = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(MI_SYS_GetCurPts(0, &pts));
        benchmark::DoNotOptimize(pts);
    }
}
BENCHMARK(BM_MiSysGetCurPts);

// The seam alone: tracing off.
void BM_MiSysGetCurPtsUntraced(benchmark::State &state) {
    vb::trace_enable(false);
    MI_U64 pts = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(MI_SYS_GetCurPts(0, &pts));
        benchmark::DoNotOptimize(pts);
    }
    vb::trace_enable(true);
}
BENCHMARK(BM_MiSysGetCurPtsUntraced);

// A call with the largest system payload (296 bytes on the board).
void BM_MiSysSetDepthUntraced(benchmark::State &state) {
    vb::trace_enable(false);
    MI_SYS_ChnPort_t p{E_MI_MODULE_ID_VDEC, 0, 0, 0};
    for (auto _ : state) benchmark::DoNotOptimize(MI_SYS_SetChnOutputPortDepth(0, &p, 4, 6));
    vb::trace_enable(true);
}
BENCHMARK(BM_MiSysSetDepthUntraced);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(isatty(1) ? OO_Defaults : OO_Tabular) {}
    std::map<std::string, double> ns;
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &r : runs)
            if (r.run_type == Run::RT_Iteration && !r.error_occurred)
                ns[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    // A board of its own: its control socket must not replace a running one's.
    char root[] = "/tmp/bench_mi_call.XXXXXX";
    bool own_root = !getenv("VB_ROOT") && mkdtemp(root);
    if (own_root) setenv("VB_ROOT", root, 1);
    // Bring the board up before timing anything.
    MI_U64 pts;
    MI_SYS_GetCurPts(0, &pts);
    RatioReporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    auto ref = rep.ns.find("BM_BareIoctlDevNull");
    if (ref != rep.ns.end() && ref->second > 0) {
        for (auto &[name, t] : rep.ns)
            if (name != ref->first) printf("ratio %s / BM_BareIoctlDevNull = %.2f\n", name.c_str(), t / ref->second);
    }
    benchmark::Shutdown();
    if (own_root) (void)!system((std::string("rm -rf '") + root + "'").c_str());
    return 0;
}
