// AAC-LC encoding cost per second of 48 kHz stereo audio: the recorder's
// encoder path (two 1024-sample halves per 8200-byte packet) against the
// ffmpeg command line encoding the same PCM with the same encoder and bit
// rate, both measured as CPU time in this run. Counter "ratio" = ours / CLI.
#include <benchmark/benchmark.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "aac_encoder.h"

namespace {

constexpr int kSeconds = 10;

std::vector<int16_t> &pcm() {
    static std::vector<int16_t> s = [] {
        std::vector<int16_t> v((size_t)48000 * kSeconds * 2);
        for (size_t i = 0; i < v.size() / 2; i++) {
            double t = (double)i / 48000.0;
            // A tone with a little noise keeps the encoder honest.
            v[2 * i] = (int16_t)(12000 * sin(2 * M_PI * 1000 * t) + (rand() % 512) - 256);
            v[2 * i + 1] = (int16_t)(12000 * sin(2 * M_PI * 1500 * t) + (rand() % 512) - 256);
        }
        return v;
    }();
    return s;
}

double cpu_seconds(int who) {
    rusage ru;
    getrusage(who, &ru);
    return (double)ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + (double)ru.ru_stime.tv_sec +
           ru.ru_stime.tv_usec / 1e6;
}

double g_ours_cpu_per_s = 0;

void BM_RecorderEncoder(benchmark::State &state) {
    AacEncoder *enc = aac_encoder_open(AAC_SAMPLE_RATE, AAC_CHANNELS, AAC_BIT_RATE);
    if (!enc) {
        state.SkipWithError("no encoder");
        return;
    }
    std::vector<uint8_t> out(20480);
    const std::vector<int16_t> &in = pcm();
    size_t bytes = 0;
    double cpu = 0;
    int64_t runs = 0;
    for (auto _ : state) {
        double c0 = cpu_seconds(RUSAGE_SELF);
        for (size_t off = 0; off + 2048 <= in.size(); off += 2048) {
            int n = aac_encoder_encode(enc, in.data() + off, 1024, off / 2 * 1000000 / 48000, out.data(), out.size(), nullptr);
            if (n > 0) bytes += (size_t)n;
        }
        cpu += cpu_seconds(RUSAGE_SELF) - c0;
        runs++;
    }
    aac_encoder_close(enc);
    g_ours_cpu_per_s = cpu / (double)(runs * kSeconds);
    state.counters["cpu_ms_per_audio_s"] = g_ours_cpu_per_s * 1000;
    state.counters["kbit_per_s"] = (double)bytes * 8 / 1000 / (double)(runs * kSeconds);
}
BENCHMARK(BM_RecorderEncoder)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_FfmpegCli(benchmark::State &state) {
    char path[] = "/tmp/aac-bench-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) {
        state.SkipWithError("no temp file");
        return;
    }
    const std::vector<int16_t> &in = pcm();
    if (write(fd, in.data(), in.size() * 2) != (ssize_t)(in.size() * 2)) state.SkipWithError("short write");
    close(fd);
    std::string cmd = std::string("ffmpeg -nostdin -loglevel error -threads 1 -f s16le -ar 48000 -ac 2 -i ") + path +
                      " -c:a aac -b:a 128k -f adts -y /dev/null";
    double cpu = 0;
    int64_t runs = 0;
    for (auto _ : state) {
        double c0 = cpu_seconds(RUSAGE_CHILDREN);
        if (system(cmd.c_str()) != 0) {
            state.SkipWithError("ffmpeg failed");
            break;
        }
        cpu += cpu_seconds(RUSAGE_CHILDREN) - c0;
        runs++;
    }
    unlink(path);
    if (runs == 0) return;
    double cli = cpu / (double)(runs * kSeconds);
    state.counters["cpu_ms_per_audio_s"] = cli * 1000;
    if (g_ours_cpu_per_s > 0) state.counters["ratio"] = g_ours_cpu_per_s / cli;
}
BENCHMARK(BM_FfmpegCli)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
