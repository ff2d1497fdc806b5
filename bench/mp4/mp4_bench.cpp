// MP4 recording throughput: the recorder's muxer (frame lists, MP4 writer,
// side index, close with its sync) writing 1 GB of real 1080p H.264 and AAC
// samples with advancing time stamps, against a plain sequential write of
// the same bytes to the same file system and against the ffmpeg command line
// copying the same elementary streams into MP4 (-c copy), all in this run.
// Ratios are printed at the end (above 1: the muxer is faster).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "es_media.h"
#include "frame_list.h"
#include "h264_sps.h"
#include "mp4_record.h"
#include "user_setting.h"

namespace {

constexpr uint64_t kTarget = 1ull << 30;  // sample bytes per run
constexpr int kRecordKbps = 20480;        // the record stream's default rate

std::string g_dir;
esmedia::Media g_media;
bool g_ok = false;

struct Result {
    double seconds = 0, cpu = 0;
    uint64_t bytes = 0;
    double rate() const { return seconds > 0 ? bytes / seconds : 0; }
} g_mux, g_plain, g_ff;

double now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

double cpu(int who) {
    rusage ru;
    getrusage(who, &ru);
    return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
}

// The samples in capture order: each picture after the AAC frames up to
// 40 ms past it (audio arrives a little ahead, as on the board), the clip
// repeated with time running on, until kTarget bytes are out. fn(type, data,
// size, ts_us, key); the last call is a key picture (the one that stops).
template <class F>
uint64_t walk(F &&fn) {
    const auto &m = g_media;
    uint64_t bytes = 0, pic = 0, aud = 0;
    const uint64_t t0 = 1000000;
    for (;;) {
        const auto &p = m.pictures[pic % m.pictures.size()];
        uint64_t ts = t0 + pic * 1000000 / 30;
        while (t0 + aud * 1024 * 1000000 / 48000 <= ts + 40000) {
            const auto &a = m.aacFrames[aud % m.aacFrames.size()];
            fn(FRAME_TYPE_AUDIO, a.data(), (uint32_t)a.size(), t0 + aud * 1024 * 1000000 / 48000, 1);
            bytes += a.size();
            ++aud;
        }
        bool last = bytes >= kTarget && p.key;
        fn(FRAME_TYPE_VIDEO, p.data.data(), (uint32_t)p.data.size(), ts, p.key | (last ? 2 : 0));
        ++pic;
        if (last) return bytes;
        bytes += p.data.size();
    }
}

char *storage_dir() { return g_dir.data(); }

void clean() { esmedia::run("rm -f " + g_dir + "/video_* " + g_dir + "/plain.bin " + g_dir + "/ffmpeg.mp4"); }

void BM_RecorderMuxer(benchmark::State &state) {
    if (!g_ok) return state.SkipWithError("no media (ffmpeg command line missing?)");
    for (auto _ : state) {
        clean();
        rtp_s v, a;
        rtp_init(&v);
        rtp_init(&a);
        Mp4MuxerCtx ctx;
        ctx.video = &v;
        ctx.audio = &a;
        ctx.storage_dir = storage_dir;
        Sample_Mp4ParaInit();
        SpsPpsStore(0, g_media.sps.data(), (uint32_t)g_media.sps.size(), g_media.pps.data(),
                    (uint32_t)g_media.pps.size());
        UserSetPut(UsrBits::SdCardStatus, 2);
        UserSetPut(UsrBits::SaveOnOff, 1);
        UserSetPut(UsrBits::SaveStop, 0);
        double c0 = cpu(RUSAGE_SELF), t0 = now();
        g_Mp4State = State_Mp4_OpenFile;
        Mp4MuxerStep(&ctx, 0);
        uint64_t bytes = walk([&](int type, const uint8_t *d, uint32_t n, uint64_t ts, int key) {
            if (type == FRAME_TYPE_AUDIO) {
                add_frame(&a, d, n, FRAME_TYPE_AUDIO, ts, 1);
                return;
            }
            if (key & 2) UserSetPut(UsrBits::SaveStop, 1);
            add_frame(&v, d, n, FRAME_TYPE_VIDEO, ts, key & 1);
            while (v.i_buf_num.load() > 0) Mp4MuxerStep(&ctx, 0);
        });
        // The stop at the last key frame closes, renames and syncs.
        while (g_stMp4[0].Mp4FileSave || g_Mp4State != State_Mp4_Init) Mp4MuxerStep(&ctx, 0);
        g_mux = {now() - t0, cpu(RUSAGE_SELF) - c0, bytes};
        rtp_destroy(&v);
        rtp_destroy(&a);
    }
    state.counters["MB/s"] = g_mux.rate() / 1e6;
    state.counters["cpu_s"] = g_mux.cpu;
    clean();
}

void BM_PlainWrite(benchmark::State &state) {
    if (!g_ok) return state.SkipWithError("no media");
    for (auto _ : state) {
        clean();
        std::string path = g_dir + "/plain.bin";
        double c0 = cpu(RUSAGE_SELF), t0 = now();
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) return state.SkipWithError("cannot create the output file");
        bool ok = true;
        uint64_t bytes = walk([&](int, const uint8_t *d, uint32_t n, uint64_t, int key) {
            if (!(key & 2)) ok = write(fd, d, n) == (ssize_t)n && ok;
        });
        ok = close(fd) == 0 && ok;
        sync();
        g_plain = {now() - t0, cpu(RUSAGE_SELF) - c0, bytes};
        if (!ok) state.SkipWithError("write failed");
    }
    state.counters["MB/s"] = g_plain.rate() / 1e6;
    state.counters["cpu_s"] = g_plain.cpu;
    clean();
}

void BM_FfmpegCopy(benchmark::State &state) {
    if (!g_ok) return state.SkipWithError("no media");
    // The same span of media as the muxer's run.
    uint64_t pictures = 0;
    uint64_t bytes = walk([&](int type, const uint8_t *, uint32_t, uint64_t, int) { pictures += type == FRAME_TYPE_VIDEO; });
    double span = (double)(pictures - 1) / 30.0;
    int loops = (int)(span / g_media.seconds) + 1;
    // A raw H.264 input cannot be looped: the same streams go in a NUT
    // container first (untimed), which the loop can rewind.
    std::string clip = g_dir + "/media/clip.nut";
    if (!esmedia::run("ffmpeg -v error -nostdin -y -framerate 30 -i " + g_media.h264 + " -i " + g_media.aac +
                      " -map 0:v -map 1:a -c copy " + clip))
        return state.SkipWithError("cannot build the looped input");
    char cmd[1024];
    snprintf(cmd, sizeof cmd, "ffmpeg -v error -nostdin -y -stream_loop %d -i %s -c copy -t %.4f -f mp4 %s/ffmpeg.mp4",
             loops, clip.c_str(), span, g_dir.c_str());
    for (auto _ : state) {
        clean();
        double c0 = cpu(RUSAGE_CHILDREN), t0 = now();
        int rc = system(cmd);
        sync();
        g_ff = {now() - t0, cpu(RUSAGE_CHILDREN) - c0, bytes};
        // It must have written the same span: its file holds the samples
        // and an index.
        struct stat st;
        if (stat((g_dir + "/ffmpeg.mp4").c_str(), &st) != 0 || (uint64_t)st.st_size < bytes * 99 / 100)
            return state.SkipWithError("ffmpeg wrote less than the muxer");
        if (rc != 0) return state.SkipWithError("ffmpeg failed");
    }
    state.counters["MB/s"] = g_ff.rate() / 1e6;
    state.counters["cpu_s"] = g_ff.cpu;
    clean();
}

BENCHMARK(BM_RecorderMuxer)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_PlainWrite)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_FfmpegCopy)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char **argv) {
    const char *d = getenv("VIDREC_BENCH_DIR");
    g_dir = d && *d ? d : "/var/tmp/vidrec-bench-mp4";
    esmedia::run("mkdir -p " + g_dir);
    struct statvfs vs;
    if (statvfs(g_dir.c_str(), &vs) != 0 || (uint64_t)vs.f_bavail * vs.f_frsize < 3 * kTarget) {
        fprintf(stderr, "%s: needs 3 GB free\n", g_dir.c_str());
        return 1;
    }
    g_ok = esmedia::make(g_media, g_dir + "/media", 1920, 1080, kRecordKbps, 10);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_mux.rate() > 0 && g_plain.rate() > 0)
        printf("muxer / plain write throughput: %.3f\n", g_mux.rate() / g_plain.rate());
    if (g_mux.rate() > 0 && g_ff.rate() > 0)
        printf("muxer / ffmpeg -c copy throughput: %.3f (CPU: muxer %.2f s, ffmpeg %.2f s)\n",
               g_mux.rate() / g_ff.rate(), g_mux.cpu, g_ff.cpu);
    return 0;
}
