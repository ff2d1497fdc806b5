// MP4 recording: real H.264 and AAC frames (made with the ffmpeg command
// line) go through the muxer; the files are judged with ffprobe.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <thread>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "h264_sps.h"
#include "mp4_record.h"
#include "mp4_writer.h"
#include "shell_output.h"
#include "uart_proto.h"
#include "usb_detect.h"
#include "user_setting.h"

namespace {

std::string sh(const std::string &cmd) { return unit::shell_output(cmd); }

std::vector<uint8_t> slurp(const std::string &p) {
    std::ifstream f(p, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), {});
}

struct Frame {
    std::vector<uint8_t> data;  // 4-byte length + NAL unit, as the stream thread stores it
    int key;
};

// 4 s of 320x240 H.264 at 30 fps (GOP 30, no B-frames, two slices a
// picture, as an encoder may deliver them), split as the encoder
// stream thread does, and 4 s of AAC-LC 48 kHz stereo raw frames.
struct Media {
    std::vector<std::vector<Frame>> pictures;  // one entry per picture, its slices
    std::vector<std::vector<uint8_t>> aac;
    std::vector<uint8_t> sps, pps;
};

// Pictures and parameter sets of a raw H.264 file.
void split_h264(const std::string &file, Media &m) {
    auto v = slurp(file);
    std::vector<std::pair<size_t, size_t>> nals;
    size_t i = 0, start = SIZE_MAX;
    while (i + 3 <= v.size()) {
        if (v[i] == 0 && v[i + 1] == 0 && v[i + 2] == 1) {
            if (start != SIZE_MAX) {
                size_t end = i;
                if (end > start && v[end - 1] == 0) --end;
                nals.push_back({start, end});
            }
            start = i + 3;
            i += 3;
        } else {
            ++i;
        }
    }
    if (start != SIZE_MAX) nals.push_back({start, v.size()});
    std::vector<Frame> cur;
    for (auto [s, e] : nals) {
        int type = v[s] & 0x1f;
        std::vector<uint8_t> nal(v.begin() + (long)s, v.begin() + (long)e);
        if (type == 7) m.sps = nal;
        if (type == 8) m.pps = nal;
        if (type != 1 && type != 5) continue;
        uint32_t n = (uint32_t)nal.size();
        std::vector<uint8_t> d = {(uint8_t)(n >> 24), (uint8_t)(n >> 16), (uint8_t)(n >> 8), (uint8_t)n};
        d.insert(d.end(), nal.begin(), nal.end());
        // first_mb_in_slice == 0 (leading bit 1 of the slice header) starts a picture
        if ((nal[1] & 0x80) && !cur.empty()) {
            m.pictures.push_back(cur);
            cur.clear();
        }
        cur.push_back({d, type == 5});
    }
    if (!cur.empty()) m.pictures.push_back(cur);
}

const Media &media() {
    static Media m = [] {
        Media m;
        std::string dir = "/tmp/ut_mp4_media";
        mkdir(dir.c_str(), 0755);
        // A constant rate, marked as such in the SPS, as the board's encoder does.
        sh("ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=30 -t 4 -c:v libx264 -preset ultrafast "
           "-x264-params force-cfr=1:slices=2 -bf 0 -g 30 -pix_fmt yuv420p -f h264 " + dir + "/v.h264");
        sh("ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=48000 -ac 2 -t 4 -c:a aac -b:a 128k "
           "-f adts " + dir + "/a.aac");
        split_h264(dir + "/v.h264", m);
        auto a = slurp(dir + "/a.aac");
        for (size_t p = 0; p + 7 <= a.size();) {
            size_t len = ((a[p + 3] & 3) << 11) | (a[p + 4] << 3) | (a[p + 5] >> 5);
            size_t hdr = (a[p + 1] & 1) ? 7 : 9;
            if (len < hdr || p + len > a.size()) break;
            m.aac.emplace_back(a.begin() + (long)(p + hdr), a.begin() + (long)(p + len));
            p += len;
        }
        return m;
    }();
    return m;
}

// The same scene after a profile change (High instead of the first clip's
// Baseline): other parameter sets, no audio.
const Media &media_high() {
    static Media m = [] {
        Media m;
        std::string f = "/tmp/ut_mp4_media/h.h264";
        sh("ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=30 -t 2 -c:v libx264 -preset ultrafast "
           "-x264-params force-cfr=1:8x8dct=1 -g 30 -pix_fmt yuv420p -f h264 " + f);
        split_h264(f, m);
        return m;
    }();
    return m;
}

::testing::AssertionResult whole(const std::string &file, int pictures);

std::string g_dir;
char *test_dir() { return g_dir.empty() ? nullptr : g_dir.data(); }

class Mp4 : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GT(media().pictures.size(), 100u);
        ASSERT_GT(media().aac.size(), 150u);
        char tmpl[] = "/tmp/ut_mp4_XXXXXX";
        g_dir = mkdtemp(tmpl);
        rtp_init(&video_);
        rtp_init(&audio_);
        ctx_.video = &video_;
        ctx_.audio = &audio_;
        ctx_.storage_dir = test_dir;
        ctx_.syncWaitMs = 50;
        ctx_.flush_fs = [] {};
        Sample_Mp4ParaInit();
        g_Mp4State = State_Mp4_Init;
        UserSetPut(UsrBits::SdCardStatus, 2);
        UserSetPut(UsrBits::SaveStop, 0);
        SpsPpsStore(0, media().sps.data(), (uint32_t)media().sps.size(), media().pps.data(),
                    (uint32_t)media().pps.size());
        ASSERT_EQ(pipe2(uart_, O_NONBLOCK), 0);
        g_UartFd = uart_[1];
    }
    void TearDown() override {
        limit_file_size(RLIM_INFINITY);
        Mp4WriterSync = fsync;
        Mp4MuxerFlush(&ctx_);
        g_Mp4State = State_Mp4_Init;
        rtp_destroy(&video_);
        rtp_destroy(&audio_);
        g_UartFd = -1;
        close(uart_[0]);
        close(uart_[1]);
        sh("rm -rf " + g_dir);
        g_dir.clear();
    }
    // Feeds pictures [from, to) at 30 fps and the AAC frames of that span,
    // in capture order, running the muxer as it goes.
    void feed(size_t from, size_t to) { feed(from, to, t0_); }
    void feed(size_t from, size_t to, uint64_t t0) {
        const Media &m = media();
        // 64-bit: ai * 1024 * 1000000 overflows a 32-bit size_t.
        uint64_t ai = (uint64_t)((double)from / 30.0 * 46.875);
        for (size_t p = from; p < to && p < m.pictures.size(); ++p) {
            uint64_t ts = t0 + p * 1000000 / 30;
            while (ai < m.aac.size() && t0 + ai * 1024 * 1000000 / 48000 <= ts) {
                auto &a = m.aac[ai];
                add_frame(&audio_, a.data(), (uint32_t)a.size(), FRAME_TYPE_AUDIO, t0 + ai * 1024 * 1000000 / 48000, 2);
                ++ai;
            }
            for (auto &f : m.pictures[p])
                add_frame(&video_, f.data.data(), (uint32_t)f.data.size(), FRAME_TYPE_VIDEO, ts, f.key);
            rtp_picture_end(&video_, ts);
            run(8);  // enough passes to keep up with a picture and its audio
        }
    }
    void run(int passes) {
        for (int i = 0; i < passes; ++i) Mp4MuxerStep(&ctx_, 0);
    }
    void drain() {
        for (int i = 0; i < 2000 && (video_.i_buf_num.load() || audio_.i_buf_num.load()); ++i) Mp4MuxerStep(&ctx_, 0);
        run(3);
    }
    std::vector<std::string> files(const std::string &ending) {
        std::vector<std::string> out;
        DIR *d = opendir(g_dir.c_str());
        while (dirent *e = d ? readdir(d) : nullptr) {
            std::string n = e->d_name;
            if (n.size() >= ending.size() && n.compare(n.size() - ending.size(), ending.size(), ending) == 0)
                out.push_back(g_dir + "/" + n);
        }
        if (d) closedir(d);
        std::sort(out.begin(), out.end());
        return out;
    }
    std::vector<uint8_t> host_cmds() {
        std::vector<uint8_t> raw(65536), cmds;
        ssize_t n = read(uart_[0], raw.data(), raw.size());
        for (ssize_t i = 0; i + 20 <= n; ++i)
            if (raw[i] == 0xA5 && raw[i + 1] == 0x6C) {
                cmds.push_back(raw[i + 16]);
                cmds.push_back(raw[i + 17]);
            }
        return cmds;
    }
    void start() {
        Mp4RequestRecord(1);
        run(1);
    }
    // Stops at picture 80 (the file closes at the key frame at 90) and
    // expects the recordings to hold these many pictures, each whole.
    void stop_at_80_expecting(const std::vector<int> &pictures) {
        stop();
        feed(80, 100);
        drain();
        auto mp4 = files(".mp4");
        ASSERT_EQ(mp4.size(), pictures.size());
        for (size_t i = 0; i < mp4.size(); ++i) EXPECT_TRUE(whole(mp4[i], pictures[i])) << "file " << i;
    }
    // No file may grow past `bytes` (a full card); writes past it fail.
    static void limit_file_size(rlim_t bytes) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit l{bytes, RLIM_INFINITY};
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &l), 0);
    }
    off_t size_of(const std::string &f) {
        struct stat st;
        return stat(f.c_str(), &st) == 0 ? st.st_size : -1;
    }
    // Sum of the sample sizes a side index lists.
    uint64_t side_bytes(const std::string &f) {
        auto b = slurp(f);
        uint64_t sum = 0;
        for (size_t i = 82; i + 12 <= b.size(); i += 12) {
            uint32_t n;
            memcpy(&n, b.data() + i + 4, 4);
            sum += n;
        }
        return sum;
    }
    std::string side_file() {
        for (auto &f : files(".tmp"))
            if (f.find(".mp4.tmp") == std::string::npos) return f;
        return "";
    }
    void stop() { Mp4RequestRecord(0); }
    // Adds the slices of picture p from `first` up to `last` (exclusive).
    void slices(size_t p, size_t first, size_t last) {
        auto &pic = media().pictures[p];
        for (size_t i = first; i < last && i < pic.size(); ++i)
            add_frame(&video_, pic[i].data.data(), (uint32_t)pic[i].data.size(), FRAME_TYPE_VIDEO,
                      t0_ + p * 1000000 / 30, pic[i].key);
        if (last >= pic.size()) rtp_picture_end(&video_, t0_ + p * 1000000 / 30);
    }
    // An AAC frame just after picture p, with no picture behind it yet: it is
    // written while p is still being gathered.
    void audio_after(size_t p) {
        auto &a = media().aac[0];
        add_frame(&audio_, a.data(), (uint32_t)a.size(), FRAME_TYPE_AUDIO, t0_ + p * 1000000 / 30 + 1000, 2);
        for (int i = 0; i < 50 && audio_.i_buf_num.load(); ++i) run(1);
    }

    rtp_s video_, audio_;
    uint64_t t0_ = 1000000;  // capture time of picture 0
    Mp4MuxerCtx ctx_;
    int uart_[2];
};

std::map<std::string, std::string> probe(const std::string &file, const std::string &stream) {
    std::map<std::string, std::string> kv;
    std::istringstream is(sh("ffprobe -v error -select_streams " + stream +
                             " -show_entries stream=codec_name,width,height,sample_rate,channels,duration,nb_frames,"
                             "start_time -of default=nw=1 '" + file + "'"));
    std::string line;
    while (std::getline(is, line)) {
        auto eq = line.find('=');
        if (eq != std::string::npos) kv[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return kv;
}

// What ffmpeg reports decoding the whole file (empty: it decodes cleanly),
// errors it concealed included (reported below the error level).
std::string decode_errors(const std::string &file) {
    return sh("ffmpeg -loglevel level+info -nostdin -i '" + file +
              "' -f null - 2>&1 | grep -E '\\[(error|fatal|panic)\\]|conceal' || true");
}

// The file holds `pictures` video samples, begins at a key frame and decodes
// picture for picture: a file that starts with P pictures decodes fewer
// pictures than it holds.
::testing::AssertionResult whole(const std::string &file, int pictures) {
    std::string first = sh("ffprobe -v error -select_streams v -show_entries packet=flags -of csv=p=0 "
                           "-read_intervals %+#1 '" + file + "'");
    auto v = probe(file, "v");
    std::string decoded = sh("ffprobe -v error -count_frames -select_streams v -show_entries "
                             "stream=nb_read_frames -of csv=p=0 '" + file + "'");
    std::string errors = decode_errors(file);
    std::ostringstream why;
    if (first.substr(0, 1) != "K") why << " first sample not a key frame (" << first << ")";
    if (v["nb_frames"] != std::to_string(pictures)) why << " " << v["nb_frames"] << " samples";
    if (decoded.substr(0, decoded.find_first_not_of("0123456789")) != std::to_string(pictures))
        why << " " << decoded << " pictures decoded";
    if (!errors.empty()) why << " decode errors: " << errors;
    if (why.str().empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << file << ", expected " << pictures << " pictures:" << why.str();
}

TEST_F(Mp4, RecordingPlaysWithBothTracksAlignedAndLeavesNoTemporaryFiles) {
    feed(0, 10);  // before the start: not recorded
    start();
    EXPECT_EQ(UserSetGet(UsrBits::RecStatus), 1);
    feed(10, 80);
    auto side = files(".tmp");
    ASSERT_EQ(side.size(), 2u);  // the recording and its side file
    stop();  // acted on at the next key frame, picture 90
    feed(80, 120);
    drain();
    EXPECT_EQ(UserSetGet(UsrBits::RecStatus), 0);
    EXPECT_EQ(UserSetGet(UsrBits::SaveOnOff), 0);
    auto mp4 = files(".mp4");
    ASSERT_EQ(mp4.size(), 1u);
    EXPECT_TRUE(files(".tmp").empty());
    auto v = probe(mp4[0], "v");
    auto a = probe(mp4[0], "a");
    EXPECT_EQ(v["codec_name"], "h264");
    EXPECT_EQ(v["width"], "320");
    EXPECT_EQ(a["codec_name"], "aac");
    EXPECT_EQ(a["sample_rate"], "48000");
    EXPECT_EQ(a["channels"], "2");
    // From the first key frame after the start (30) to the one after the stop (90).
    int nb = std::stoi(v["nb_frames"]);
    EXPECT_EQ(nb, 60);
    double vd = std::stod(v["duration"]), ad = std::stod(a["duration"]);
    EXPECT_NEAR(vd, nb / 30.0, 1.0 / 30 + 1e-3);
    EXPECT_NEAR(ad, vd, 1.0 / 30 + 0.025);
    EXPECT_NEAR(std::stod(a["start_time"]), std::stod(v["start_time"]), 1.0 / 30);
    EXPECT_TRUE(whole(mp4[0], 60));
}

TEST_F(Mp4, StopWritesTheAudioUpToTheClosingKeyFrame) {
    start();
    feed(0, 90);
    stop();  // the key frame at 90 ends the file; its audio is already queued
    feed(90, 120);
    drain();
    auto mp4 = files(".mp4");
    ASSERT_EQ(mp4.size(), 1u);
    auto v = probe(mp4[0], "v");
    auto a = probe(mp4[0], "a");
    double v_end = std::stod(v["start_time"]) + std::stod(v["duration"]);
    double a_end = std::stod(a["start_time"]) + std::stod(a["duration"]);
    // The audio queued before the key frame that ends the file belongs to it:
    // both tracks end together, within one AAC frame.
    EXPECT_GE(a_end, v_end - 0.001);
    EXPECT_LT(a_end, v_end + 1024.0 / 48000 + 0.001);
}

TEST_F(Mp4, AudioArrivingBeforeTheFirstKeyFrameIsKept) {
    g_video_u64pts = 0;  // no picture seen yet on this time line
    start();
    const Media &m = media();
    // Pictures arrive 60 ms after their audio, as when encoding is slow.
    uint64_t ai = 0;
    for (size_t p = 0; p < 70; ++p) {
        uint64_t ts = 1000000 + p * 1000000 / 30;
        while (1000000 + ai * 1024 * 1000000 / 48000 <= ts + 60000) {
            add_frame(&audio_, m.aac[ai].data(), (uint32_t)m.aac[ai].size(), FRAME_TYPE_AUDIO,
                      1000000 + ai * 1024 * 1000000 / 48000, 2);
            ++ai;
        }
        // Before the first picture the muxer sees audio alone for a while.
        ctx_.syncWaitMs = p == 0 ? 1000 : 50;
        run(p == 0 ? 4 : 1);
        for (auto &f : m.pictures[p])
            add_frame(&video_, f.data.data(), (uint32_t)f.data.size(), FRAME_TYPE_VIDEO, ts, f.key);
        run(8);
    }
    stop();
    for (size_t p = 70; p < 95; ++p)
        for (auto &f : m.pictures[p])
            add_frame(&video_, f.data.data(), (uint32_t)f.data.size(), FRAME_TYPE_VIDEO, 1000000 + p * 1000000 / 30,
                      f.key);
    drain();
    auto mp4 = files(".mp4");
    ASSERT_EQ(mp4.size(), 1u);
    // The audio from the first picture on is in the file.
    EXPECT_NEAR(std::stod(probe(mp4[0], "a")["start_time"]), std::stod(probe(mp4[0], "v")["start_time"]),
                1024.0 / 48000);
}

TEST_F(Mp4, SideIndexMatchesSamplesWhileOpen) {
    start();
    feed(0, 45);
    auto side = files(".tmp");
    std::string sidefile;
    for (auto &f : side)
        if (f.find(".mp4.tmp") == std::string::npos) sidefile = f;
    ASSERT_FALSE(sidefile.empty());
    auto bytes = slurp(sidefile);
    ASSERT_GE(bytes.size(), 82u);
    EXPECT_EQ(bytes[0], media().sps[0]);
    ASSERT_EQ((bytes.size() - 82) % 12, 0u);
    size_t n = (bytes.size() - 82) / 12;
    EXPECT_EQ(n, g_stMp4[0].uiVideocnt + g_stMp4[0].uiAudiocnt);
    uint32_t lastV = 0, lastA = 0;
    uint64_t sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t *r = bytes.data() + 82 + 12 * i;
        uint32_t size, idx;
        memcpy(&size, r + 4, 4);
        memcpy(&idx, r + 8, 4);
        sum += size;
        if (r[0] == 1) {
            EXPECT_EQ(idx, ++lastV);
            if (i == 0) {
                EXPECT_EQ(r[1], 1) << "first sample is a key frame";
            }
        } else {
            ASSERT_EQ(r[0], 2);
            ASSERT_EQ(r[1], 2) << "the AAC frame's own key flag";
            EXPECT_EQ(idx, ++lastA);
        }
    }
    EXPECT_EQ(sum, g_stMp4[0].u64FileSize);
}

TEST_F(Mp4, RotationSplitsAtKeyFramesWithoutLosingFrames) {
    ctx_.u64SizeLimit = 60000;  // a few seconds of this small picture
    start();
    feed(0, 85);
    stop();
    feed(85, 120);
    drain();
    auto mp4 = files(".mp4");
    ASSERT_GE(mp4.size(), 2u);
    int total = 0;
    for (auto &f : mp4) {
        int n = std::stoi(probe(f, "v")["nb_frames"]);
        total += n;
        EXPECT_TRUE(whole(f, n));
    }
    // Every picture up to the stop at 90 was recorded once.
    EXPECT_EQ(total, 90);
}

std::string g_hookDir;
int g_startsDuringOpen = 0;
char *start_during_open() {
    if (g_startsDuringOpen-- > 0) Mp4RequestRecord(1);
    return g_hookDir.data();
}

char *pause_and_fail() {
    Mp4RequestPause(1);
    return nullptr;
}
char *start_and_fail() {
    if (g_startsDuringOpen-- > 0) Mp4RequestRecord(1);
    return nullptr;
}

TEST_F(Mp4, FailedCreationReportsAndLeavesRecordingOff) {
    UserSetPut(UsrBits::SdCardStatus, 0);  // no storage
    start();
    EXPECT_EQ(g_Mp4State.load(), State_Mp4_Init);
    EXPECT_EQ(UserSetGet(UsrBits::SaveOnOff), 0);
    auto cmds = host_cmds();
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(cmds[0], 0xE1);
    EXPECT_EQ(cmds[1], 36);

    // A pause that arrives while the failing creation is under way: the
    // status still says nothing is recorded, not "paused".
    UserSetPut(UsrBits::SdCardStatus, 2);
    ctx_.storage_dir = pause_and_fail;
    start();
    EXPECT_EQ(g_Mp4State.load(), State_Mp4_Init);
    EXPECT_EQ(UserSetGet(UsrBits::SaveOnOff), 0);
    EXPECT_EQ(UserSetGet(UsrBits::RecStatus), 0);
    EXPECT_EQ(UserSetGet(UsrBits::SavePause), 0);
    EXPECT_EQ(host_cmds(), (std::vector<uint8_t>{0xE1, 36}));

    // A start that arrives meanwhile is not dropped: it is tried in its turn
    // and refused in the same way.
    g_startsDuringOpen = 1;
    ctx_.storage_dir = start_and_fail;
    start();
    run(1);
    EXPECT_EQ(g_Mp4State.load(), State_Mp4_Init);
    EXPECT_EQ(UserSetGet(UsrBits::SaveOnOff), 0);
    EXPECT_EQ(host_cmds(), (std::vector<uint8_t>{0xE1, 36, 0xE1, 36}));

    // A card with no room for a file's header: nothing is left on it.
    ctx_.storage_dir = test_dir;
    limit_file_size(1);
    start();
    limit_file_size(RLIM_INFINITY);
    EXPECT_EQ(g_Mp4State.load(), State_Mp4_Init);
    EXPECT_EQ(host_cmds(), (std::vector<uint8_t>{0xE1, 36}));
    EXPECT_TRUE(files(".tmp").empty());
}

TEST_F(Mp4, NoStoredParameterSetsRefusesInsteadOfDividingByZero) {
    SpsPpsStore(0, nullptr, 0, nullptr, 0);
    ST_SPS_PPS empty{};
    SpsPpsStore(0, empty.sps, 0, empty.pps, 0);
    start();
    EXPECT_EQ(g_Mp4State.load(), State_Mp4_Init);
    EXPECT_TRUE(files(".mp4.tmp").empty());
}

// Also when recording is paused, and after a start that came while the file
// was being created, which that file served.
TEST_F(Mp4, LosingStorageClosesFileAndTellsHost) {
    g_hookDir = g_dir;
    for (bool startDuringOpen : {false, true}) {
        for (bool paused : {false, true}) {
            SCOPED_TRACE(std::string(startDuringOpen ? "start during the creation" : "") + (paused ? ", paused" : ""));
            g_startsDuringOpen = startDuringOpen;
            ctx_.storage_dir = start_during_open;
            start();
            ctx_.storage_dir = test_dir;
            feed(0, 40);
            if (paused) Mp4RequestPause(1);
            host_cmds();
            UserSetPut(UsrBits::SdCardStatus, 0);
            run(3);
            EXPECT_EQ(g_Mp4State.load(), State_Mp4_Init);
            EXPECT_EQ(UserSetGet(UsrBits::RecStatus), 0);
            EXPECT_EQ(UserSetGet(UsrBits::SaveOnOff), 0);
            EXPECT_EQ(UserSetGet(UsrBits::SavePause), 0);
            EXPECT_EQ(host_cmds(), (std::vector<uint8_t>{0xE1, 35}));
            EXPECT_EQ(files(".mp4").size(), 1u);
            UserSetPut(UsrBits::SdCardStatus, 2);
            sh("rm -f " + g_dir + "/*");
        }
    }
}

TEST_F(Mp4, StartWhileOpenClosesTheFirstFileProperly) {
    start();
    feed(0, 40);
    start();
    feed(40, 70);
    stop();
    feed(70, 95);
    drain();
    auto mp4 = files(".mp4");
    ASSERT_EQ(mp4.size(), 2u);  // same second: the second got its own name
    EXPECT_TRUE(whole(mp4[0], 40));
    EXPECT_TRUE(whole(mp4[1], 30)) << "the second file begins at the first key frame after its start";
    EXPECT_TRUE(files(".tmp").empty());
}

TEST_F(Mp4, PauseLeavesNoHoleInTheTimeLine) {
    start();
    feed(0, 20);
    g_Mp4State = State_Mp4_Wait;
    UserSetPut(UsrBits::RecStatus, 2);
    feed(20, 50);  // not recorded
    g_Mp4State = State_Mp4_WriteFile;
    feed(50, 80);  // recorded from the key frame at 60
    stop();
    feed(80, 120);
    drain();
    auto mp4 = files(".mp4");
    ASSERT_EQ(mp4.size(), 1u);
    auto v = probe(mp4[0], "v");
    int nb = std::stoi(v["nb_frames"]);
    EXPECT_TRUE(whole(mp4[0], 50));
    EXPECT_NEAR(std::stod(v["duration"]), nb / 30.0, 2.0 / 30);
}

TEST_F(Mp4, VideoDoesNotWaitForAudioThatNeverComes) {
    start();
    const Media &m = media();
    for (size_t p = 0; p < 40; ++p)
        for (auto &f : m.pictures[p])
            add_frame(&video_, f.data.data(), (uint32_t)f.data.size(), FRAME_TYPE_VIDEO, 1000000 + p * 33333, f.key);
    drain();
    EXPECT_EQ(video_.i_buf_num.load(), 0);
    EXPECT_GE(g_stMp4[0].uiVideocnt, 9u);
    EXPECT_EQ(g_stMp4[0].uiAudiocnt, 0u);
}

// Host requests that arrive while the muxer is in the middle of a long step
// (the flush after a close, the creation of a file) are not stored over.
void start_during_flush() { Mp4RequestRecord(1); }
char *pause_during_open() {
    Mp4RequestPause(1);
    return g_hookDir.data();
}

TEST_F(Mp4, RequestsDuringCloseOrOpenAreKept) {
    // Off, then on again while the close is flushing the card.
    start();
    feed(0, 40);
    stop();
    ctx_.flush_fs = start_during_flush;
    feed(40, 80);  // the stop closes at 60, the new file starts there
    ctx_.flush_fs = [] {};
    EXPECT_EQ(UserSetGet(UsrBits::SaveOnOff), 1);
    EXPECT_EQ(UserSetGet(UsrBits::RecStatus), 1);
    EXPECT_EQ(g_Mp4State.load(), State_Mp4_WriteFile);
    // The new file begins at the key frame that ended the old.
    stop_at_80_expecting({60, 30});

    // A pause that arrives while the file is being created.
    g_hookDir = g_dir;
    ctx_.storage_dir = pause_during_open;
    start();
    ctx_.storage_dir = test_dir;
    EXPECT_EQ(g_Mp4State.load(), State_Mp4_Wait);
    EXPECT_EQ(UserSetGet(UsrBits::RecStatus), 2);
    feed(0, 40);
    EXPECT_EQ(g_stMp4[0].uiVideocnt, 0u) << "paused: nothing written";
}

TEST_F(Mp4, StopAfterPauseClearsThePauseBit) {
    start();
    feed(0, 40);
    Mp4RequestPause(1);
    EXPECT_EQ(UserSetGet(UsrBits::SavePause), 1);
    feed(40, 50);
    stop();
    feed(50, 70);
    drain();
    EXPECT_EQ(UserSetGet(UsrBits::RecStatus), 0);
    EXPECT_EQ(UserSetGet(UsrBits::SavePause), 0);
    EXPECT_EQ(files(".mp4").size(), 1u);
}

int failed_sync(int) {
    errno = EIO;
    return -1;
}

TEST_F(Mp4, FailedIndexWriteOrSyncKeepsTheFilesForRecoveryAndTellsTheHost) {
    for (bool syncFails : {false, true}) {
        SCOPED_TRACE(syncFails ? "the sync fails" : "the card is full");
        start();
        feed(0, 45);
        auto tmp = files(".mp4.tmp");
        ASSERT_EQ(tmp.size(), 1u);
        if (syncFails)
            Mp4WriterSync = failed_sync;
        else
            limit_file_size((rlim_t)size_of(tmp[0]));  // the index at the end cannot be written
        host_cmds();
        stop();
        feed(45, 70);
        drain();
        limit_file_size(RLIM_INFINITY);
        Mp4WriterSync = fsync;
        EXPECT_TRUE(files(".mp4").empty());
        EXPECT_EQ(files(".mp4.tmp").size(), 1u);
        EXPECT_EQ(files(".tmp").size(), 2u) << "the side index stays beside it";
        EXPECT_EQ(host_cmds(), (std::vector<uint8_t>{0xE1, 22}));
        EXPECT_EQ(UserSetGet(UsrBits::RecStatus), 0);
        sh("rm -f " + g_dir + "/*");
    }
}

// The card takes no more after 45 pictures: the file ends with what it
// holds, its side index lists no sample it lacks, the host hears of it once,
// and recording goes on in a new file from the next key frame.
TEST_F(Mp4, FailedSampleEndsTheFileAndRecordingGoesOnInANewOne) {
    for (bool audio : {false, true}) {
        SCOPED_TRACE(audio ? "an audio frame fails while a picture is gathered" : "a picture fails");
        start();
        feed(0, 45);
        auto tmp = files(".mp4.tmp");
        ASSERT_EQ(tmp.size(), 1u);
        host_cmds();
        limit_file_size((rlim_t)size_of(tmp[0]) + (audio ? 0 : 1000));
        if (audio) audio_after(44);
        feed(45, 50);
        limit_file_size(RLIM_INFINITY);  // the new file has room
        feed(50, 80);
        EXPECT_EQ(UserSetGet(UsrBits::RecStatus), 1);
        EXPECT_EQ(UserSetGet(UsrBits::SaveOnOff), 1);
        // The new file runs from the key frame at 60: nothing of the old one.
        stop_at_80_expecting({30});
        EXPECT_EQ(host_cmds(), (std::vector<uint8_t>{0xE1, 22}));
        EXPECT_EQ(UserSetGet(UsrBits::RecStatus), 0);
        // The first file keeps its temporary name and side index (its index could
        // not be written either); the index covers only what the file holds.
        ASSERT_EQ(files(".mp4.tmp"), tmp);
        std::string side = side_file();
        ASSERT_FALSE(side.empty());
        uint64_t listed = side_bytes(side);
        off_t held = size_of(tmp[0]);
        EXPECT_LE(listed, (uint64_t)held);
        EXPECT_GT(listed + 2048, (uint64_t)held) << "no more than the header and a part sample unlisted";
        sh("rm -f " + g_dir + "/*");
    }
}

// A picture that loses a slice, in the muxer or in the list, reaches no file
// in part: recording resumes at the next whole key picture.
TEST_F(Mp4, APictureThatLosesASliceReachesNoFile) {
    ASSERT_EQ(media().pictures[30].size(), 2u);
    enum Where { SampleFails, ListHasNoMemoryWithMuxer, ListHasNoMemoryAtHead, AndTheNextKeyAtHead, FilesFirst };
    const struct {
        Where where;
        std::vector<int> files;
    } rows[] = {
        // A new file begins at 60, not with the second slice of 30.
        {SampleFails, {30}},
        // The file goes on from 60: 30 and the pictures after it are lost.
        {ListHasNoMemoryWithMuxer, {60}},
        {ListHasNoMemoryAtHead, {60}},
        // 30 lost with the muxer, then 60 at the head: neither reaches the file.
        {AndTheNextKeyAtHead, {30}},
        // The file's first picture (0) is lost: the file, audio included, begins at 30.
        {FilesFirst, {60}},
    };
    auto no_memory_for = [&](size_t p) {
        rtp_frame_alloc = [](size_t) -> void * { return nullptr; };
        slices(p, 1, 2);
        rtp_frame_alloc = malloc;
    };
    for (auto &r : rows) {
        SCOPED_TRACE(r.where);
        t0_ += 100000000;  // a stream's clock never goes back
        const size_t key = r.where == FilesFirst ? 0 : 30;
        start();
        feed(0, key);
        slices(key, 0, 1);
        if (r.where != ListHasNoMemoryAtHead) run(8);
        if (r.where == SampleFails) {
            limit_file_size((rlim_t)size_of(files(".mp4.tmp")[0]));
            audio_after(30);
            limit_file_size(RLIM_INFINITY);
            slices(30, 1, 2);
        } else {
            if (r.where == FilesFirst) audio_after(0);
            no_memory_for(key);
        }
        if (r.where == AndTheNextKeyAtHead) {
            for (size_t p = 31; p < 60; ++p) slices(p, 0, 2);
            slices(60, 0, 1);
            no_memory_for(60);
        }
        feed(r.where == AndTheNextKeyAtHead ? 61 : key + 1, 80);
        host_cmds();
        stop_at_80_expecting(r.files);
        EXPECT_EQ(files(".mp4.tmp").size(), r.where == SampleFails ? 1u : 0u);
        for (auto &f : files(".mp4"))
            for (const char *track : {"v", "a"}) EXPECT_LT(std::stod(probe(f, track)["start_time"]), 0.03) << track;
        sh("rm -f " + g_dir + "/*");
    }
}

// A pause, or a start while recording, that comes while the muxer holds the
// first slice of a picture ends the file with that picture whole, when its
// second slice is queued, or without it, when that slice is still to come.
TEST_F(Mp4, AFileEndsWithAWholePicture) {
    for (bool pause : {true, false}) {
        for (bool queued : {true, false}) {
            SCOPED_TRACE(std::string(pause ? "pause" : "start") + (queued ? ", second slice queued" : ""));
            start();
            feed(0, 20);
            slices(20, 0, 1);
            run(8);
            if (queued) slices(20, 1, 2);
            pause ? Mp4RequestPause(1) : Mp4RequestRecord(1);
            run(1);
            if (!queued) slices(20, 1, 2);
            if (pause) Mp4RequestPause(0);
            feed(21, 80);  // goes on from the key picture at 30
            const int first = queued ? 21 : 20;
            stop_at_80_expecting(pause ? std::vector<int>{first + 60} : std::vector<int>{first, 60});
            sh("rm -f " + g_dir + "/*");
        }
    }
}

// When the new file cannot take its first sample either, recording stops and
// the status says so; the new file, holding nothing, is not left behind, and
// the next recording begins with nothing of it.
TEST_F(Mp4, NewFileThatTakesNoSampleEitherStopsRecording) {
    g_hookDir = g_dir;
    const struct {
        bool audio, startDuringOpen;
        const char *what;
    } rows[] = {
        {false, false, "its picture fails"},
        {true, false, "its first picture fails while audio waits for it"},
        {false, true, "a start came while it was created, which it served"},
    };
    for (auto &r : rows) {
        const bool audio = r.audio;
        SCOPED_TRACE(r.what);
        g_startsDuringOpen = 0;
        ctx_.storage_dir = start_during_open;
        start();
        g_startsDuringOpen = r.startDuringOpen;
        feed(0, 45);
        host_cmds();
        limit_file_size(1024);  // room for a new file's header, not for a picture
        feed(45, audio ? 61 : 75);
        if (audio) {
            limit_file_size(1);
            audio_after(60);
            feed(61, 62);
        }
        limit_file_size(RLIM_INFINITY);
        EXPECT_EQ(g_Mp4State.load(), State_Mp4_Init);
        EXPECT_EQ(UserSetGet(UsrBits::RecStatus), 0);
        EXPECT_EQ(UserSetGet(UsrBits::SaveOnOff), 0);
        EXPECT_EQ(host_cmds(), (std::vector<uint8_t>{0xE1, 22}));
        EXPECT_EQ(files(".mp4.tmp").size(), 1u) << "the first file, kept for recovery";
        EXPECT_EQ(files(".tmp").size(), 2u);
        EXPECT_TRUE(files(".mp4").empty());
        start();
        feed(0, 20, 9000000);
        stop();
        feed(20, 40, 9000000);
        drain();
        auto mp4 = files(".mp4");
        ASSERT_EQ(mp4.size(), 1u);
        EXPECT_TRUE(whole(mp4[0], 30));
        sh("rm -f " + g_dir + "/*");
    }
}

TEST_F(Mp4, StopBeforeTheFirstPictureLeavesNoFile) {
    start();
    feed(1, 20);  // the next key frame is at 30
    stop();
    feed(20, 40);
    drain();
    EXPECT_EQ(UserSetGet(UsrBits::RecStatus), 0);
    EXPECT_TRUE(files(".mp4").empty());
    EXPECT_TRUE(files(".tmp").empty());
}

int pause_during_sync(int fd) {
    Mp4RequestPause(1);
    Mp4WriterSync = fsync;
    return fsync(fd);
}

TEST_F(Mp4, PauseDuringARotationWaitsAndTheResumeStartsAtAKeyFrame) {
    start();
    feed(0, 20);
    ctx_.u64SizeLimit = 1;  // the key frame at 30 rotates
    Mp4WriterSync = pause_during_sync;
    feed(20, 45);
    ctx_.u64SizeLimit = MP4_SIZE_LIMIT;
    EXPECT_EQ(g_Mp4State.load(), State_Mp4_Wait);
    EXPECT_EQ(UserSetGet(UsrBits::RecStatus), 2);
    EXPECT_TRUE(files(".mp4.tmp").empty()) << "paused: no file open";
    Mp4RequestPause(0);
    feed(45, 80);
    // Resumed at 45: the second file runs from the key frame at 60.
    stop_at_80_expecting({30, 30});
}

// A slow create on the card holds the muxer, not the heartbeat, which reads
// the same storage table.
std::mutex g_createMu;
std::condition_variable g_createCv;
bool g_inCreate = false, g_releaseCreate = false, g_beat = false;
void held_create() {
    std::unique_lock<std::mutex> lk(g_createMu);
    g_inCreate = true;
    g_createCv.notify_all();
    g_createCv.wait(lk, [] { return g_releaseCreate; });
}

TEST_F(Mp4, HeartbeatGoesOutWhileAFileIsBeingCreated) {
    // A card the heartbeat finds present: a node that opens, a mount point.
    UsbStorageLock();
    snprintf(g_devinfo.dev[USB_SLOT_SD].ucDevPath, sizeof g_devinfo.dev[0].ucDevPath, "/dev/null");
    snprintf(g_devinfo.dev[USB_SLOT_SD].ucMountPath, sizeof g_devinfo.dev[0].ucMountPath, "/proc");
    UsbStorageUnlock();
    UserSetPut(UsrBits::SdCardSel, USB_SLOT_SD);
    ctx_.before_create = held_create;
    host_cmds();
    std::thread muxer([&] {
        pthread_setname_np(pthread_self(), "ut_muxer");
        start();
    });
    std::unique_lock<std::mutex> lk(g_createMu);
    ASSERT_TRUE(g_createCv.wait_for(lk, std::chrono::seconds(30), [] { return g_inCreate; }));
    lk.unlock();
    std::thread heart([] {
        pthread_setname_np(pthread_self(), "ut_heart");
        DeviceHeart();
        std::lock_guard<std::mutex> g(g_createMu);
        g_beat = true;
        g_createCv.notify_all();
    });
    lk.lock();
    // Generous: the beat takes no time unless it waits for the create.
    g_createCv.wait_for(lk, std::chrono::seconds(10), [] { return g_beat; });
    const bool beatWhileHeld = g_beat;
    g_releaseCreate = true;
    g_createCv.notify_all();
    lk.unlock();
    heart.join();
    muxer.join();
    EXPECT_TRUE(beatWhileHeld) << "the heartbeat waited for the file to be created";
    auto cmds = host_cmds();
    ASSERT_GE(cmds.size(), 1u);
    EXPECT_EQ(cmds[0], 0xBB);
    EXPECT_EQ(g_Mp4State.load(), State_Mp4_WriteFile) << "the create went on";
    DevDiskXInit();
}

// A USB disk plugged while a file is created on the SD card: a disk found in
// a scratch partition list fills slot 1.
void usb_plugged() {
    std::string d = g_dir + "/board", part = d + "/partitions", tmp = d + "/partitions.txt";
    sh("mkdir -p " + d + "/sda && echo 1 > " + d + "/sda/removable && printf ' 8 0 1024 sda\\n' > " + part);
    ST_USB_PATHS p{part.c_str(), tmp.c_str(), d.c_str(), d.c_str(), d.c_str(), d.c_str()};
    UsbDetectSetPaths(&p);
    UsbDetectPoll();
    UsbDetectSetPaths(nullptr);
}

TEST_F(Mp4, OnlyAChangeToTheSlotRecordedToStopsACreation) {
    UserSetPut(UsrBits::SdCardSel, USB_SLOT_SD);
    ctx_.before_create = usb_plugged;
    start();
    EXPECT_EQ(g_devinfo.dev[USB_SLOT_USB].ucMount, 1);
    EXPECT_EQ(g_Mp4State.load(), State_Mp4_WriteFile);
    EXPECT_TRUE(host_cmds().empty());
    // The SD card's slot is set up afresh meanwhile: not recorded to.
    ctx_.before_create = DevDiskXInit;
    start();
    EXPECT_EQ(g_Mp4State.load(), State_Mp4_Init);
    EXPECT_EQ(host_cmds(), (std::vector<uint8_t>{0xE1, 36}));
    EXPECT_TRUE(files(".tmp").empty());
}

TEST_F(Mp4, ParameterSetChangeStartsANewFileAtItsFirstKeyFrame) {
    const Media &a = media(), &b = media_high();
    ASSERT_GE(b.pictures.size(), 60u);
    ASSERT_NE(a.sps, b.sps);
    start();
    feed(0, 40);
    // The stream thread is ahead of the muxer: the new sets are stored while
    // pictures made with the old ones, a key frame among them, still wait.
    uint64_t t = 1000000 + 40 * 1000000 / 30;
    auto put = [&](const Media &m, size_t p) {
        for (auto &f : m.pictures[p])
            add_frame(&video_, f.data.data(), (uint32_t)f.data.size(), FRAME_TYPE_VIDEO, t, f.key);
        t += 1000000 / 30;
    };
    for (size_t p = 40; p < 70; ++p) put(a, p);
    SpsPpsStore(0, b.sps.data(), (uint32_t)b.sps.size(), b.pps.data(), (uint32_t)b.pps.size(), t);
    for (size_t p = 0; p < 30; ++p) put(b, p);
    drain();
    stop();
    for (size_t p = 30; p < 60; ++p) put(b, p);
    drain();
    auto mp4 = files(".mp4");
    ASSERT_EQ(mp4.size(), 2u);
    EXPECT_TRUE(whole(mp4[0], 70));
    EXPECT_TRUE(whole(mp4[1], 30));
    EXPECT_TRUE(files(".tmp").empty());
}

}  // namespace
