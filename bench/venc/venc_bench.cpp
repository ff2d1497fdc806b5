// Virtual encoder and stream path cost.
//
// BM_TwoChannelRealTime: 1920x1080 (20 Mbit/s) and 1280x720 (3 Mbit/s), both
// 30 fps, fed as fast as the encoders take them and drained through the
// library the way the recorder's stream thread does (select, query, fetch,
// release). Reports how many times real time that is, the CPU seconds spent
// per second of video, and the library's own CPU share (fetch, NAL split and
// release, timed on the consumer thread) apart from the encoding.
//
// BM_FetchSplitRelease vs BM_CopyFrameReference: the library's cost for one
// frame against copying that frame's bytes once, in the same run.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <time.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "../../tests/unit/vb_venc/venc_test_picture.h"
#include "mi_venc.h"
#include "vb.h"
#include "vb_venc_codec.h"
#include "vb_venc_test.h"

namespace {

struct Cfg {
    int chn;
    MI_U32 w, h, bitrate;
};
const Cfg kCfg[2] = {{0, 1920, 1080, 20971520}, {1, 1280, 720, 3145728}};
constexpr int kFps = 30;

double now_s(clockid_t c) {
    timespec ts;
    clock_gettime(c, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

MI_SYS_ChnPort_t src_port(int chn) { return {E_MI_MODULE_ID_SCL, 0, 0, (MI_U32)chn}; }

bool set_up(const Cfg &c, MI_U32 max_streams) {
    MI_VENC_ChnAttr_t a;
    memset(&a, 0, sizeof a);
    a.stVeAttr.eType = E_MI_VENC_MODTYPE_H264E;
    MI_VENC_AttrH264_t &h = a.stVeAttr.stAttrH264e;
    h.u32MaxPicWidth = h.u32PicWidth = c.w;
    h.u32MaxPicHeight = h.u32PicHeight = c.h;
    h.u32BufSize = c.w * c.h * 30;
    h.u32Profile = 2;
    a.stRcAttr.eRcMode = E_MI_VENC_RC_MODE_H264CBR;
    a.stRcAttr.stAttrH264Cbr.u32Gop = kFps;
    a.stRcAttr.stAttrH264Cbr.u32SrcFrmRateNum = kFps;
    a.stRcAttr.stAttrH264Cbr.u32SrcFrmRateDen = 1;
    a.stRcAttr.stAttrH264Cbr.u32BitRate = c.bitrate;
    MI_VENC_ParamH264Entropy_t e = {0, 0};
    vb::Binding b{src_port(c.chn), {E_MI_MODULE_ID_VENC, 0, (MI_U32)c.chn, 0}, 30, 30, 1, 0};
    return MI_VENC_CreateChn(0, c.chn, &a) == 0 && MI_VENC_SetH264Entropy(0, c.chn, &e) == 0 &&
           MI_VENC_SetMaxStreamCnt(0, c.chn, max_streams) == 0 && MI_VENC_StartRecvPic(0, c.chn) == 0 &&
           vb::bind(b) == 0;
}

void tear_down(const Cfg &c) {
    vb::unbind(src_port(c.chn), {E_MI_MODULE_ID_VENC, 0, (MI_U32)c.chn, 0});
    MI_VENC_StopRecvPic(0, c.chn);
    MI_VENC_DestroyChn(0, c.chn);
}

std::vector<vb::Picture> pictures(const Cfg &c, int n) {
    venc_test::MovingPicture gen(c.w, c.h);
    std::vector<vb::Picture> v;
    for (int i = 0; i < n; i++) v.push_back(gen.frame((uint64_t)i, 0));
    return v;
}

void board_up() {
    static bool up = [] {
        char tmpl[] = "/tmp/bench_venc.XXXXXX";
        if (mkdtemp(tmpl)) setenv("VB_ROOT", tmpl, 1);
        vb::driver_for("/dev/mi_venc");
        vb::trace_enable(false);  // the board's request trace is test tooling, not path cost
        return true;
    }();
    (void)up;
}

void BM_TwoChannelRealTime(benchmark::State &state) {
    board_up();
    const int frames = (int)state.range(0);
    for (const Cfg &c : kCfg)
        if (!set_up(c, 60)) {
            state.SkipWithError("channel set-up failed");
            return;
        }
    std::vector<vb::Picture> pics[2] = {pictures(kCfg[0], 30), pictures(kCfg[1], 30)};
    double wall = 0, cpu = 0, lib_cpu = 0;
    uint64_t lib_calls = 0;

    for (auto _ : state) {
        std::mutex mu;
        std::condition_variable cv;
        int fetched[2] = {0, 0};
        std::atomic<bool> done{false};
        double consumer_lib = 0;
        uint64_t calls = 0;

        const double w0 = now_s(CLOCK_MONOTONIC), c0 = now_s(CLOCK_PROCESS_CPUTIME_ID);
        std::thread consumer([&] {
            vb::name_thread("bench-consumer");
            int fd[2] = {MI_VENC_GetFd(0, 0), MI_VENC_GetFd(0, 1)};
            MI_VENC_Pack_t packs[16];
            while (!done) {
                fd_set rs;
                FD_ZERO(&rs);
                FD_SET(fd[0], &rs);
                FD_SET(fd[1], &rs);
                timeval tv{0, 100000};
                if (select((fd[0] > fd[1] ? fd[0] : fd[1]) + 1, &rs, nullptr, nullptr, &tv) <= 0) continue;
                for (int c = 0; c < 2; c++) {
                    if (!FD_ISSET(fd[c], &rs)) continue;
                    const double t0 = now_s(CLOCK_THREAD_CPUTIME_ID);
                    MI_VENC_ChnStat_t st;
                    if (MI_VENC_Query(0, c, &st) != 0 || st.u32CurPacks == 0) continue;
                    MI_VENC_Stream_t s;
                    memset(&s, 0, sizeof s);
                    s.pstPack = packs;
                    s.u32PackCount = 16;
                    if (MI_VENC_GetStream(0, c, &s, 0) != 0) continue;
                    benchmark::DoNotOptimize(packs[0].pu8Addr[packs[0].u32Len - 1]);
                    MI_VENC_ReleaseStream(0, c, &s);
                    consumer_lib += now_s(CLOCK_THREAD_CPUTIME_ID) - t0;
                    calls++;
                    std::lock_guard<std::mutex> g(mu);
                    fetched[c]++;
                    cv.notify_all();
                }
            }
        });
        auto feeder = [&](int c) {
            for (int n = 0; n < frames; n++) {
                vb::Picture p = pics[c][(size_t)n % pics[c].size()];
                p.pts = vb::pts_now();
                vb::deliver_from(src_port(c), p);
                // Keep at most three pictures in flight: the encoder's input
                // queue never overflows, so every picture is encoded.
                std::unique_lock<std::mutex> lk(mu);
                cv.wait(lk, [&] { return fetched[c] >= n - 2; });
            }
            std::unique_lock<std::mutex> lk(mu);
            cv.wait(lk, [&] { return fetched[c] >= frames; });
        };
        std::thread f0(feeder, 0), f1(feeder, 1);
        f0.join();
        f1.join();
        done = true;
        consumer.join();
        wall += now_s(CLOCK_MONOTONIC) - w0;
        cpu += now_s(CLOCK_PROCESS_CPUTIME_ID) - c0;
        lib_cpu += consumer_lib;
        lib_calls += calls;
    }
    const double video_s = (double)frames / kFps * (double)state.iterations();
    vbvenc::ChnStats s0, s1;
    vbvenc::stats(0, &s0);
    vbvenc::stats(1, &s1);
    state.counters["realtime_x"] = video_s / wall;  // >= 1: keeps real time with both channels
    state.counters["cpu_s_per_video_s"] = cpu / video_s;
    state.counters["lib_cpu_s_per_video_s"] = lib_cpu / video_s;
    state.counters["lib_share_pct"] = 100.0 * lib_cpu / cpu;
    state.counters["lib_us_per_frame"] = 1e6 * lib_cpu / (double)(lib_calls ? lib_calls : 1);
    state.counters["dropped"] = (double)(s0.dropped + s1.dropped);
    state.SetLabel(vbvenc::codec_name());
    for (const Cfg &c : kCfg) tear_down(c);
}
BENCHMARK(BM_TwoChannelRealTime)->Arg(150)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// Frames for the micro benchmarks: 1080p, queued in the ring ahead of time.
constexpr int kQueued = 50;

void fill_ring(const std::vector<vb::Picture> &pics) {
    vbvenc::ChnStats s;
    for (int n = 0; n < kQueued; n++) {
        vb::Picture p = pics[(size_t)n % pics.size()];
        vb::deliver_from(src_port(0), p);
        do {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            vbvenc::stats(0, &s);
        } while (s.queued < (size_t)n + 1 && s.dropped == 0);
    }
}

void BM_FetchSplitRelease(benchmark::State &state) {
    board_up();
    if (!set_up(kCfg[0], kQueued + 4)) {
        state.SkipWithError("channel set-up failed");
        return;
    }
    std::vector<vb::Picture> pics = pictures(kCfg[0], 30);
    MI_VENC_Pack_t packs[16];
    uint64_t bytes = 0;
    int left = 0;
    for (auto _ : state) {
        if (left == 0) {
            state.PauseTiming();
            fill_ring(pics);
            left = kQueued;
            state.ResumeTiming();
        }
        MI_VENC_Stream_t s;
        memset(&s, 0, sizeof s);
        s.pstPack = packs;
        s.u32PackCount = 16;
        if (MI_VENC_GetStream(0, 0, &s, 0) != 0) {
            state.SkipWithError("fetch failed");
            break;
        }
        bytes += packs[0].u32Len;
        benchmark::DoNotOptimize(packs[0].asackInfo[0].u32PackLength);
        MI_VENC_ReleaseStream(0, 0, &s);
        left--;
    }
    state.counters["avg_frame_bytes"] = (double)bytes / (double)state.iterations();
    tear_down(kCfg[0]);
}
// Every refill encodes kQueued 1080p pictures: a fixed count of fetches keeps the run short.
BENCHMARK(BM_FetchSplitRelease)->Unit(benchmark::kMicrosecond)->Iterations(kQueued * 4);

// Reference: one pass over a frame of the typical size (20 Mbit/s at 30 fps).
void BM_CopyFrameReference(benchmark::State &state) {
    const size_t n = 20971520 / 8 / kFps;
    std::vector<uint8_t> a(n, 0x5a), b(n);
    for (auto _ : state) {
        memcpy(b.data(), a.data(), n);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)(n * state.iterations()));
}
BENCHMARK(BM_CopyFrameReference)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
