// The encoder stream thread on the in-process virtual board at 1080p30 plus
// 720p30: its share of one core (against a memcpy of the same bytes, measured
// in the same run), and the time from a frame becoming ready in the virtual
// encoder's ring to its arrival in its frame list (median, 99th percentile).
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "frame_list.h"
#include "mi_internal.h"
#include "mi_venc_ioctl.h"
#include "st_pipeline.h"
#include "st_venc_stream.h"
#include "user_setting.h"
#include "vb.h"
#include "vb_venc_test.h"

namespace {

uint64_t MonoUs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000000u + (uint64_t)ts.tv_nsec / 1000u;
}

double CpuSec(clockid_t c) {
    timespec ts;
    clock_gettime(c, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// Forwards to the real encoder driver and notes, per channel, which ring
// sequence number each fetched time stamp has.
struct SeqTap : vb::Driver {
    vb::Driver *real = nullptr;
    std::mutex mu;
    std::map<uint64_t, uint64_t> seqOfPts[2];
    int ioctl(int fd, unsigned long code, void *p, size_t len) override {
        int r = real->ioctl(fd, code, p, len);
        if (r == 0 && code == MI_VENC_IOC_RING_GET_HEAD) {
            auto *rec = static_cast<MI_VENC_RingPoolGetHeadRecord_t *>(p);
            if (rec->s32ChnId >= 0 && rec->s32ChnId < 2) {
                std::lock_guard<std::mutex> g(mu);
                seqOfPts[rec->s32ChnId][rec->u64Pts] = rec->u64SeqNum;
            }
        }
        return r;
    }
    void on_open(int fd) override { real->on_open(fd); }
    void on_close(int fd) override { real->on_close(fd); }
};

SeqTap g_tap;
std::thread *g_stream;
bool g_up;

bool BringUp() {
    if (g_up) return true;
    char tmpl[] = "/tmp/bench_pipeline.XXXXXX";
    if (mkdtemp(tmpl)) setenv("VB_ROOT", tmpl, 1);
    g_tap.real = vb::driver_for("/dev/mi_venc");
    if (!g_tap.real) return false;
    vb::register_driver("/dev/mi_venc", &g_tap);
    vb::trace_enable(false);
    StartupLoadSettings("/nonexistent/userpara");  // 1080p30
    rtp_init(&input_list[0]);
    rtp_init(&input_list[1]);
    SetChangeStart(0);
    if (ST_BaseModuleParaInit() != 0 || ST_BaseModuleInit(0) != 0) return false;
    g_stream = new std::thread([] {
        pthread_setname_np(pthread_self(), "_ST_VencGetData");
        _ST_VencGetData(nullptr);
    });
    g_up = true;
    return true;
}

void BM_StreamThread_1080p30_720p30(benchmark::State &state) {
    if (!BringUp()) {
        state.SkipWithError("pipeline did not come up");
        return;
    }
    const int seconds = (int)state.range(0);
    for (auto _ : state) {
        // Ready times: an edge-triggered watch on both channels' descriptors
        // wakes at every frame the encoder queues.
        int ep = epoll_create1(0);
        int fds[2] = {MI_VENC_GetFd(0, 0), MI_VENC_GetFd(0, 1)};
        for (int c = 0; c < 2; c++) {
            epoll_event ev{};
            ev.events = EPOLLIN | EPOLLET;
            ev.data.u32 = (uint32_t)c;
            epoll_ctl(ep, EPOLL_CTL_ADD, fds[c], &ev);
        }
        std::atomic<bool> stop{false};
        std::mutex rmu;
        std::map<uint64_t, uint64_t> readyAt[2];  // ring sequence -> time
        uint64_t seen[2] = {0, 0};
        vbvenc::ChnStats st{};
        for (int c = 0; c < 2; c++)
            if (vbvenc::stats(c, &st)) seen[c] = st.encoded;
        std::thread watcher([&] {
            epoll_event evs[4];
            while (!stop.load()) {
                int n = epoll_wait(ep, evs, 4, 100);
                uint64_t now = MonoUs();
                for (int i = 0; i < n; i++) {
                    int c = (int)evs[i].data.u32;
                    vbvenc::ChnStats s{};
                    if (!vbvenc::stats(c, &s)) continue;
                    std::lock_guard<std::mutex> g(rmu);
                    for (uint64_t k = seen[c]; k < s.encoded; k++) readyAt[c][k] = now;
                    seen[c] = s.encoded;
                }
            }
        });

        for (int l = 0; l < 2; l++)
            while (frame_t *f = rtp_take_frame(&input_list[l])) free_frame(&f);
        clockid_t cpu;
        pthread_getcpuclockid(g_stream->native_handle(), &cpu);
        const double cpu0 = CpuSec(cpu);
        const uint64_t t0 = MonoUs();
        std::vector<std::pair<int, std::pair<uint64_t, uint64_t>>> arrivals;  // list, (pts, time)
        uint64_t bytes = 0;
        rtp_s *lists[2] = {&input_list[0], &input_list[1]};
        while (MonoUs() - t0 < (uint64_t)seconds * 1000000u) {
            rtp_wait_added(lists, 2, 50);
            for (int l = 0; l < 2; l++)
                while (frame_t *f = rtp_take_frame(&input_list[l])) {
                    arrivals.push_back({l, {f->i_time_stamp, MonoUs()}});
                    bytes += f->i_frame_size;
                    free_frame(&f);
                }
        }
        const double wall = (MonoUs() - t0) * 1e-6;
        const double cpuUsed = CpuSec(cpu) - cpu0;
        stop = true;
        watcher.join();
        close(ep);

        // The same bytes through memcpy: the least any consumer must spend.
        std::vector<uint8_t> src(1 << 20, 0x5A), dst(1 << 20);
        const double m0 = CpuSec(CLOCK_THREAD_CPUTIME_ID);
        for (uint64_t done = 0; done < bytes; done += src.size()) {
            memcpy(dst.data(), src.data(), src.size());
            benchmark::DoNotOptimize(dst.data());
        }
        const double memcpyCpu = CpuSec(CLOCK_THREAD_CPUTIME_ID) - m0;

        std::vector<double> lat;
        {
            std::lock_guard<std::mutex> g(rmu), g2(g_tap.mu);
            for (auto &a : arrivals) {
                auto s = g_tap.seqOfPts[a.first].find(a.second.first);
                if (s == g_tap.seqOfPts[a.first].end()) continue;
                auto r = readyAt[a.first].find(s->second);
                if (r == readyAt[a.first].end() || r->second > a.second.second) continue;
                lat.push_back((double)(a.second.second - r->second));
            }
        }
        std::sort(lat.begin(), lat.end());
        state.SetIterationTime(wall);
        state.counters["frames"] = (double)arrivals.size();
        state.counters["matched"] = (double)lat.size();
        state.counters["cpu_share_pct"] = 100.0 * cpuUsed / wall;
        state.counters["vs_memcpy_x"] = memcpyCpu > 0 ? cpuUsed / memcpyCpu : 0;
        state.counters["lat_p50_us"] = lat.empty() ? 0 : lat[lat.size() / 2];
        state.counters["lat_p99_us"] = lat.empty() ? 0 : lat[std::min(lat.size() - 1, lat.size() * 99 / 100)];
    }
}
BENCHMARK(BM_StreamThread_1080p30_720p30)->Arg(5)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_stream) {
        ST_VencGetDataStop();
        g_stream->join();
        ST_VencModuleUnInit(0);
        ST_VencModuleUnInit(1);
        ST_DispModuleUnInit(0);
    }
    _exit(0);  // the board's own threads are not taken down
}
