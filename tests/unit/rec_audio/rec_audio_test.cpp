// The recorder's audio path on the virtual board: start-up failures, the PCM
// packet, the AAC halves, ten seconds of a tone through capture, loop-back and
// encoder, a stalled output and a muted input. The capture and encoder threads
// live for the process, so the tests run in this order.
#include <gtest/gtest.h>
#include <math.h>

#include <thread>

#include "../mi_audio/audio_test_env.h"
#include "aac_encoder.h"
#include "dvr_audio.h"
#include "frame_list.h"
#include "mi_ai.h"
#include "mi_ao.h"
#include "mi_ai_datatype.h"
#include "mi_ao_datatype.h"
#include "vb.h"
#include "vb_audio.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

using namespace audio_test;

namespace {

const bool g_env = !board_dir().empty();
constexpr double kToneHz = 1000.0;

struct AacFrame {
    std::vector<uint8_t> data;
    uint64_t ts;
};

std::vector<AacFrame> take_all(rtp_s *list) {
    std::vector<AacFrame> out;
    while (frame_t *f = rtp_take_frame(list)) {
        EXPECT_EQ(f->i_type, FRAME_TYPE_AUDIO);
        EXPECT_EQ(f->i_flag, 2);
        out.push_back({std::vector<uint8_t>(f->p_frame, f->p_frame + f->i_frame_size), f->i_time_stamp});
        free_frame(&f);
    }
    return out;
}

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Takes the list's frames until one stamped at or after `ts` (board clock)
// has come, however long a slow machine's encoder takes to get there.
std::vector<AacFrame> take_until(rtp_s *list, uint64_t ts) {
    std::vector<AacFrame> out;
    for (int i = 0; i < 300 && (out.empty() || out.back().ts < ts); i++) {
        sleep_ms(100);
        auto more = take_all(list);
        out.insert(out.end(), more.begin(), more.end());
    }
    EXPECT_FALSE(out.empty() || out.back().ts < ts) << "the encoder never got to " << ts;
    return out;
}

// AAC frames missing between consecutive time stamps from `from` on. A
// machine too slow to encode in real time (an emulator under load) has whole
// PCM packets refused at the full ring, each a gap of exactly two frames;
// any other step is a fault.
uint64_t frames_missing(const std::vector<AacFrame> &v, size_t from) {
    uint64_t missing = 0;
    for (size_t i = std::max<size_t>(from, 1); i < v.size(); i++) {
        uint64_t d = v[i].ts - v[i - 1].ts;
        uint64_t k = (d * 3 + 32000) / 64000;  // steps of 1024 samples (21333.3 us)
        EXPECT_TRUE(k % 2 == 1 && d + 1 >= k * 64000 / 3 && d <= k * 64000 / 3 + 1) << i << ": " << d;
        missing += k - 1;
    }
    return missing;
}

// Left-channel samples of the decoded frames (decoder configured from the
// recorder's two-byte decoder configuration).
std::vector<float> decode_left(const std::vector<AacFrame> &frames) {
    std::vector<float> out;
    const AVCodec *dec = avcodec_find_decoder(AV_CODEC_ID_AAC);
    if (!dec) return out;
    AVCodecContext *ctx = avcodec_alloc_context3(dec);
    ctx->extradata = (uint8_t *)av_mallocz(2 + AV_INPUT_BUFFER_PADDING_SIZE);
    memcpy(ctx->extradata, kAacDecoderConfig, 2);
    ctx->extradata_size = 2;
    if (avcodec_open2(ctx, dec, nullptr) < 0) {
        avcodec_free_context(&ctx);
        return out;
    }
    AVPacket *pkt = av_packet_alloc();
    AVFrame *fr = av_frame_alloc();
    for (const AacFrame &f : frames) {
        av_new_packet(pkt, (int)f.data.size());
        memcpy(pkt->data, f.data.data(), f.data.size());
        if (avcodec_send_packet(ctx, pkt) == 0) {
            while (avcodec_receive_frame(ctx, fr) == 0) {
                EXPECT_EQ(fr->sample_rate, 48000);
                EXPECT_EQ(fr->ch_layout.nb_channels, 2);
                const float *l = reinterpret_cast<const float *>(fr->data[0]);
                out.insert(out.end(), l, l + fr->nb_samples);
            }
        }
        av_packet_unref(pkt);
    }
    av_frame_free(&fr);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    return out;
}

double tone_frequency(const std::vector<float> &s, size_t skip) {
    size_t ups = 0, first = 0, last = 0;
    for (size_t i = skip + 1; i < s.size(); i++) {
        if (s[i - 1] < 0 && s[i] >= 0) {
            if (ups == 0) first = i;
            last = i;
            ups++;
        }
    }
    if (ups < 2) return 0;
    return (double)(ups - 1) * 48000.0 / (double)(last - first);
}

}  // namespace

TEST(RecAudioStart, DriverFailureEndsStartWithItsCode) {
    ASSERT_TRUE(g_env);
    vb::inject("/dev/mi_ai", MI_AI_ENABLE, (int)0xA0042010, 1);
    EXPECT_EQ(initAi(), (MI_S32)0xA0042010);
    vb::inject("/dev/mi_ao", MI_AO_ENABLE, (int)0xA0052017, 1);
    EXPECT_EQ(initAo(), (MI_S32)0xA0052017);
    EXPECT_EQ(u8AOInitOk, 0) << "loop-back stays off after a failed start";
    EXPECT_EQ(vb::audio_stats(4).ao_written, 0u);
    vb::inject_clear();
}

TEST(RecAudioPacket, PcmThenTimeStamp) {
    std::vector<uint8_t> pcm(100, 0xab), pkt(AAC_PACKET_LEN, 0xee);
    MI_AUDIO_Frame_t f;
    memset(&f, 0, sizeof f);
    f.apVirAddr[0] = pcm.data();
    f.u32Len[0] = 100;
    f.u64TimeStamp = 0x1122334455667788ull;
    AacBuildPacket(&f, pkt.data());
    EXPECT_EQ(pkt[99], 0xab);
    EXPECT_EQ(pkt[100], 0);
    EXPECT_EQ(pkt[8191], 0);
    uint64_t ts;
    memcpy(&ts, pkt.data() + 8192, 8);
    EXPECT_EQ(ts, 0x1122334455667788ull);
    // A longer frame is cut at 8192 bytes: the time stamp is not overwritten.
    std::vector<uint8_t> big(9000, 0x5c);
    f.apVirAddr[0] = big.data();
    f.u32Len[0] = 9000;
    AacBuildPacket(&f, pkt.data());
    EXPECT_EQ(pkt[8191], 0x5c);
    memcpy(&ts, pkt.data() + 8192, 8);
    EXPECT_EQ(ts, 0x1122334455667788ull);
}

// A click captured at t decodes from the frame stamped t, though the encoder
// emits each frame a step behind its input, and across a stalled capture.
TEST(RecAudioAac, EachFrameIsStampedWithItsSamplesCaptureTime) {
    rtp_init(&audio_list[0]);
    rtp_init(&input_list[1]);
    Fdk_AAC_Init();
    std::vector<uint8_t> pkt(AAC_PACKET_LEN);
    std::vector<uint64_t> clicks;
    const uint64_t stall = 300000;  // capture stopped after packet 3
    int appended = 0;
    for (int p = 0; p < 8; p++) {
        std::fill(pkt.begin(), pkt.end(), 0);
        int16_t *s = reinterpret_cast<int16_t *>(pkt.data());
        uint64_t ts = (1ull << 63) + (uint64_t)p * 128000 / 3 + (p >= 4 ? stall : 0);  // clocks use all 64 bits
        if (p < 7) {  // the last packet is still in the encoder
            int at = 100 + 271 * p;
            s[2 * at] = s[2 * at + 1] = 24000;
            clicks.push_back(ts + (uint64_t)at * 1000000 / 48000);
        }
        memcpy(pkt.data() + 8192, &ts, 8);
        appended += AacEncodePacket(pkt.data());
    }
    // The encoder holds back its first frame: 16 halves in, at least 15 out.
    EXPECT_GE(appended, 15);
    auto rec = take_all(&audio_list[0]);
    auto str = take_all(&input_list[1]);
    ASSERT_EQ((int)rec.size(), appended);
    ASSERT_EQ(rec.size(), str.size());
    int stalls = 0;
    for (size_t i = 0; i < rec.size(); i++) {
        EXPECT_EQ(rec[i].data, str[i].data);
        EXPECT_EQ(rec[i].ts, str[i].ts);
        if (i) {
            uint64_t d = rec[i].ts - rec[i - 1].ts;
            if (d > stall) d -= stall, stalls++;
            EXPECT_TRUE(d == 21333 || d == 21334) << i << ": " << d;
        }
    }
    EXPECT_EQ(stalls, 1);
    // Each click is the loudest sample within 15 ms; its time is its frame's
    // stamp plus its place in the frame.
    std::vector<float> pcm = decode_left(rec);
    std::vector<uint64_t> heard;
    for (size_t i = 0; i < pcm.size(); i++) {
        bool peak = fabsf(pcm[i]) > 0.2f;
        for (size_t j = i > 720 ? i - 720 : 0; peak && j < std::min(pcm.size(), i + 720); j++)
            peak = fabsf(pcm[j]) < fabsf(pcm[i]) || j == i;
        if (peak) heard.push_back(rec[i / 1024].ts + (i % 1024) * 1000000 / 48000);
    }
    ASSERT_EQ(heard.size(), clicks.size());
    for (size_t i = 0; i < clicks.size(); i++)
        EXPECT_LE(std::llabs((long long)(heard[i] - clicks[i])), 500) << "click " << i << " decodes late or early";
}

TEST(RecAudioRun, FullPacketRingRefusesInsteadOfOverwriting) {
    BagQueueInit(&stAacAudioQueue, ucAacAudioQueueBuf, AAC_PACKET_LEN, AAC_PACKET_NUM);
    std::string dump = make_dir("rec-dump");
    setenv("MI_AI_DUMP_PCM_ENABLE", "1", 1);
    setenv("MI_AI_DUMP_PATH", dump.c_str(), 1);
    ASSERT_EQ(vb::ctl_exec("ai-tone 1000 0.5"), "ok");
    bAiExit = 0;
    u8AOInitOk = 0;
    ASSERT_EQ(initAi(), 0);
    ASSERT_EQ(initAo(), 0);
    EXPECT_EQ(u8AOInitOk, 1);
    // No encoder yet: 49 packets fill the ring in 2.1 s, the rest are refused.
    sleep_ms(2600);
    AudioDropCounters c = audio_drop_counters();
    EXPECT_GT(c.queue_full, 0u);
    uint8_t *pkt = nullptr;
    uint64_t prev = 0;
    int n = 0;
    while (BagQueueGetData(&stAacAudioQueue, &pkt)) {
        uint64_t ts;
        memcpy(&ts, pkt + 8192, 8);
        if (n) {
            EXPECT_GE(ts - prev, 42666u) << n;
            EXPECT_LE(ts - prev, 42667u) << n << ": the oldest packets were kept in order";
        }
        prev = ts;
        n++;
    }
    EXPECT_EQ(n, AAC_PACKET_NUM - 1);
}

TEST(RecAudioRun, TenSecondsOfToneLoopBackAndAac) {
    rtp_init(&audio_list[0]);
    rtp_init(&input_list[1]);
    pthread_t tid;
    ASSERT_EQ(pthread_create(&tid, nullptr, FdkAAC_Encode, nullptr), 0);
    pthread_setname_np(tid, "FdkAAC_Encode");
    pthread_detach(tid);

    AudioDropCounters c0 = audio_drop_counters();
    uint64_t ai_dropped0 = vb::audio_stats(4).ai_dropped;
    std::vector<AacFrame> rec, str;
    for (int i = 0; i < 21; i++) {  // 10.5 s, taking frames as the muxer would
        sleep_ms(500);
        auto r = take_all(&audio_list[0]);
        auto s = take_all(&input_list[1]);
        rec.insert(rec.end(), r.begin(), r.end());
        str.insert(str.end(), s.begin(), s.end());
    }
    AudioDropCounters c1 = audio_drop_counters();
    EXPECT_EQ(c1.ao_dropped, c0.ao_dropped) << "the loop-back kept up";
    EXPECT_EQ(c1.get_failed, c0.get_failed);
    EXPECT_EQ(vb::audio_stats(4).ai_dropped, ai_dropped0) << "capture kept up";

    // Loop-back: what audio out played is what audio in captured.
    std::vector<uint8_t> played = wav_data(vb::audio_stats(4).ao_wav);
    std::vector<uint8_t> captured = read_file(make_dir("rec-dump") + "/MI_AI_Dev2Chn0_48K_Stereo.pcm");
    // Frames captured before audio out was ready were not played: align on a frame.
    size_t off = 0;
    while (off <= 4 * 8192 && off + 8192 <= captured.size() && played.size() >= 8192 &&
           memcmp(played.data(), captured.data() + off, 8192) != 0)
        off += 8192;
    ASSERT_LE(off, 4u * 8192u) << "played data not found in the capture";
    size_t n = std::min(played.size(), captured.size() - off);
    EXPECT_GE(n, (size_t)(12.5 * 192000)) << "2.6 s before and 10.5 s of this test";
    EXPECT_EQ(memcmp(played.data(), captured.data() + off, n), 0);
    // And it is the tone itself: sample 0 of the left channel starts the sine.
    ASSERT_GE(captured.size(), 8u);
    int16_t first[2];
    memcpy(first, captured.data(), 4);
    EXPECT_EQ(first[0], 0);
    EXPECT_EQ(first[1], (int16_t)lrint(0.5 * 32767.0));

    // AAC: 46.875 frames a second, stamped 1024 samples apart, same in both
    // lists; what a slow machine could not encode is counted at the ring.
    ASSERT_EQ(rec.size(), str.size());
    ASSERT_GT(rec.size(), 160u);
    for (size_t i = 0; i < rec.size(); i++) EXPECT_EQ(rec[i].ts, str[i].ts);
    // The ring's backlog from the previous test has a gap: judge from 60 frames on.
    uint64_t missing = frames_missing(rec, 61);
    EXPECT_LE(missing, 2 * (c1.queue_full - c0.queue_full));
    double secs = (double)(rec.back().ts - rec[60].ts) / 1e6;
    EXPECT_NEAR((double)(rec.size() - 61 + missing) / secs, 46.875, 0.01);
    std::vector<AacFrame> tail(rec.begin() + 60, rec.end());
    std::vector<float> pcm = decode_left(tail);
    // How many frames the loaded machine let through in 10.5 s is its own
    // business (the time stamps above show none was lost); each one decodes.
    ASSERT_EQ(pcm.size(), tail.size() * 1024);
    EXPECT_NEAR(tone_frequency(pcm, 4096), kToneHz, 1.0);
    float peak = 0;
    for (size_t i = 4096; i < pcm.size(); i++) peak = std::max(peak, fabsf(pcm[i]));
    EXPECT_NEAR(peak, 0.5f, 0.05f);
}

TEST(RecAudioRun, StalledOutputDropsLoopBackNotCapture) {
    take_all(&audio_list[0]);
    take_all(&input_list[1]);
    AudioDropCounters c0 = audio_drop_counters();
    uint64_t ai_dropped0 = vb::audio_stats(4).ai_dropped;
    uint64_t start = vb::pts_now();
    ASSERT_EQ(vb::ctl_exec("ao-stall 1"), "ok");
    sleep_ms(2000);
    ASSERT_EQ(vb::ctl_exec("ao-stall 0"), "ok");
    uint64_t end = vb::pts_now();
    AudioDropCounters c1 = audio_drop_counters();
    // About 47 frames in 2 s; the ring takes three before it is full.
    EXPECT_GT(c1.ao_dropped - c0.ao_dropped, 35u);
    EXPECT_EQ(vb::audio_stats(4).ai_dropped, ai_dropped0) << "capture was never held up";
    // Encoding went on: the stall's 2 s are all there (about 94 frames), but
    // for packets a slow machine had refused at the ring.
    std::vector<AacFrame> rec;
    for (const AacFrame &f : take_until(&audio_list[0], end))
        if (f.ts >= start && f.ts < end) rec.push_back(f);
    uint64_t missing = frames_missing(rec, 1);
    EXPECT_LE(missing, 2 * (audio_drop_counters().queue_full - c0.queue_full));
    EXPECT_GT(rec.size() + missing, 85u);
    take_all(&input_list[1]);
}

TEST(RecAudioRun, MutedInputIsEncodedAsSilence) {
    ASSERT_EQ(vb::ctl_exec("ai-mute 2 0 1"), "ok");
    uint64_t muted = vb::pts_now();
    sleep_ms(300);
    take_all(&input_list[1]);
    uint64_t written0 = vb::audio_stats(4).ao_written;
    sleep_ms(1000);
    // What was captured from 100 ms after the mute on, for about a second.
    std::vector<AacFrame> rec;
    for (const AacFrame &f : take_until(&audio_list[0], muted + 1100000))
        if (f.ts >= muted + 100000) rec.push_back(f);
    take_all(&input_list[1]);
    ASSERT_EQ(vb::ctl_exec("ai-mute 2 0 0"), "ok");
    // The output played the zeros too.
    sleep_ms(300);
    std::vector<uint8_t> played = wav_data(vb::audio_stats(4).ao_wav);
    ASSERT_GT(played.size(), written0 + 96000);
    for (size_t i = written0 + 48000; i < written0 + 96000; i++) ASSERT_EQ(played[i], 0) << i;
    ASSERT_GT(rec.size(), 40u);
    std::vector<float> pcm = decode_left(rec);
    ASSERT_GT(pcm.size(), 4096u);
    float peak = 0;
    for (size_t i = 4096; i < pcm.size(); i++) peak = std::max(peak, fabsf(pcm[i]));
    EXPECT_LT(peak, 0.01f);
}
