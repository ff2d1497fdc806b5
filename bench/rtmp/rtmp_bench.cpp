// CPU per second of RTMP publishing at the live stream's rate (1280x720
// H.264 at 3 Mb/s, 30 fps, and AAC-LC 48 kHz stereo): the recorder's
// publisher (stream frame list, FLV tags, the RTMP library) fed in real time,
// against the ffmpeg command line publishing the same streams with
// `-re -c copy -f flv`, both to one local RTMP server (nginx with its RTMP
// module, started here on loopback), in this run. The ratio is printed at
// the end (below 1: the publisher costs less).
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "es_media.h"
#include "frame_list.h"
#include "h264_sps.h"
#include "rtmp_publish.h"
#include "user_setting.h"

namespace {

constexpr int kSeconds = 20;       // media published per benchmark
constexpr int kLiveKbps = 3072;    // the live stream's default rate

esmedia::Media g_media;
bool g_ok = false;
std::string g_dir, g_clip;
int g_port = 0;
pid_t g_nginx = -1;
double g_ours = 0, g_ours_thread = 0, g_ffmpeg = 0;  // CPU seconds per second of media

double mono() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

double cpu_of(const rusage &ru) {
    return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
}

double cpu_self() {
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return cpu_of(ru);
}

double thread_cpu() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

bool port_open(int port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(s, (sockaddr *)&a, sizeof a) == 0;
    close(s);
    return ok;
}

int free_port() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    int port = 0;
    if (bind(s, (sockaddr *)&a, sizeof a) == 0 && getsockname(s, (sockaddr *)&a, &n) == 0) port = ntohs(a.sin_port);
    close(s);
    return port;
}

bool start_server() {
    g_port = free_port();
    std::string conf = g_dir + "/nginx.conf";
    FILE *f = fopen(conf.c_str(), "w");
    if (!f || !g_port) return false;
    fprintf(f,
            "load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;\n"
            "daemon off;\nmaster_process off;\nworker_processes 1;\npid %s/nginx.pid;\n"
            "error_log %s/nginx-error.log warn;\nevents { worker_connections 64; }\n"
            "rtmp { server { listen 127.0.0.1:%d; chunk_size 4096; application live { live on; } } }\n",
            g_dir.c_str(), g_dir.c_str(), g_port);
    fclose(f);
    g_nginx = fork();
    if (g_nginx == 0) {
        execlp("nginx", "nginx", "-p", g_dir.c_str(), "-c", conf.c_str(), "-e", (g_dir + "/nginx-error.log").c_str(),
               (char *)nullptr);
        _exit(127);
    }
    for (int i = 0; i < 200; ++i) {
        if (port_open(g_port)) return true;
        usleep(20000);
    }
    return false;
}

void stop_server() {
    if (g_nginx <= 0) return;
    kill(g_nginx, SIGTERM);
    waitpid(g_nginx, nullptr, 0);
    g_nginx = -1;
}

void BM_RecorderPublisher(benchmark::State &state) {
    if (!g_ok) return state.SkipWithError("no media or no RTMP server");
    for (auto _ : state) {
        rtp_s list;
        rtp_init(&list);
        RtmpResetForTest();
        RtmpSetTransport(nullptr);
        SpsPpsStore(1, g_media.sps.data(), (uint32_t)g_media.sps.size(), g_media.pps.data(),
                    (uint32_t)g_media.pps.size());
        memset(&g_stUrl, 0, sizeof g_stUrl);
        snprintf(g_stUrl.rtmp_url, sizeof g_stUrl.rtmp_url, "rtmp://127.0.0.1:%d/live/ours", g_port);
        UserSetPut(UsrBits::RtmpOnOff, 1);
        RtmpOpenState();
        std::atomic<bool> stop{false};
        double pubCpu = 0;
        std::thread pub([&] {
            pthread_setname_np(pthread_self(), "RtmpHandle");
            double c0 = thread_cpu();
            while (!stop) RtmpStep(&list, 5);
            pubCpu = thread_cpu() - c0;
        });
        for (int i = 0; i < 500 && emRtmpState != State_Rtmp_Send; ++i) usleep(10000);
        bool connected = emRtmpState == State_Rtmp_Send;
        double c0 = cpu_self(), t0 = mono();
        size_t aud = 0;
        for (size_t pic = 0; connected && pic < (size_t)kSeconds * 30; ++pic) {
            double at = pic / 30.0;
            double wait = t0 + at - mono();
            if (wait > 0) usleep((useconds_t)(wait * 1e6));
            uint64_t ts = (uint64_t)(at * 1e6);
            while (aud * 1024 * 1000000 / 48000 <= ts) {
                const auto &a = g_media.aacFrames[aud % g_media.aacFrames.size()];
                add_frame(&list, a.data(), (uint32_t)a.size(), FRAME_TYPE_AUDIO, aud * 1024 * 1000000 / 48000, 1);
                ++aud;
            }
            const auto &p = g_media.pictures[pic % g_media.pictures.size()];
            add_frame(&list, p.data.data(), (uint32_t)p.data.size(), FRAME_TYPE_VIDEO, ts, p.key);
        }
        for (int i = 0; i < 200 && list.i_buf_num.load() > 0; ++i) usleep(5000);
        double cpu = cpu_self() - c0;
        bool ok = connected && u8RtmpConnectOK == 1 && emRtmpState == State_Rtmp_Send;
        RtmpCloseState();
        usleep(50000);
        stop = true;
        pub.join();
        rtp_destroy(&list);
        UserSetPut(UsrBits::RtmpOnOff, 0);
        if (!ok) return state.SkipWithError("the publisher did not stay connected");
        g_ours = cpu / kSeconds;
        g_ours_thread = pubCpu / kSeconds;
    }
    state.counters["cpu_ms_per_s"] = g_ours * 1000;
    state.counters["publisher_thread_ms_per_s"] = g_ours_thread * 1000;
}

void BM_FfmpegPublish(benchmark::State &state) {
    if (!g_ok) return state.SkipWithError("no media or no RTMP server");
    char url[128];
    snprintf(url, sizeof url, "rtmp://127.0.0.1:%d/live/ref", g_port);
    std::string t = std::to_string(kSeconds);
    for (auto _ : state) {
        pid_t pid = fork();
        if (pid == 0) {
            execlp("ffmpeg", "ffmpeg", "-v", "error", "-nostdin", "-re", "-stream_loop", "-1", "-i", g_clip.c_str(),
                   "-c", "copy", "-t", t.c_str(), "-f", "flv", url, (char *)nullptr);
            _exit(127);
        }
        int status = 0;
        rusage ru;
        if (pid < 0 || wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return state.SkipWithError("ffmpeg failed");
        g_ffmpeg = cpu_of(ru) / kSeconds;
    }
    state.counters["cpu_ms_per_s"] = g_ffmpeg * 1000;
}

BENCHMARK(BM_RecorderPublisher)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_FfmpegPublish)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char **argv) {
    signal(SIGPIPE, SIG_IGN);
    char tmpl[] = "/tmp/vidrec-bench-rtmp-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    g_dir = tmpl;
    const char *cache = getenv("VIDREC_BENCH_DIR");
    std::string media = std::string(cache && *cache ? cache : "/var/tmp/vidrec-bench-rtmp") + "/media";
    esmedia::run("mkdir -p " + media);
    g_ok = esmedia::make(g_media, media, 1280, 720, kLiveKbps, 10);
    g_clip = media + "/clip_live.nut";
    g_ok = g_ok && esmedia::run("ffmpeg -v error -nostdin -y -framerate 30 -i " + g_media.h264 + " -i " + g_media.aac +
                                " -map 0:v -map 1:a -c copy " + g_clip);
    g_ok = g_ok && start_server();
    if (!g_ok) fprintf(stderr, "no media or RTMP server (ffmpeg, nginx and its RTMP module needed)\n");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    stop_server();
    esmedia::run("rm -rf " + g_dir);
    if (g_ours > 0 && g_ffmpeg > 0)
        printf("publisher / ffmpeg CPU per second of stream: %.3f (process %.2f ms/s, its publisher thread %.2f ms/s, "
               "ffmpeg %.2f ms/s)\n",
               g_ours / g_ffmpeg, g_ours * 1000, g_ours_thread * 1000, g_ffmpeg * 1000);
    return 0;
}
