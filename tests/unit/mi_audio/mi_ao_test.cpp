// Audio output: the byte ring, the DMA wait and the chunks handed to the
// virtual driver, which plays them into a WAV file at the real rate.
#include <gtest/gtest.h>

#include <thread>

#include "audio_test_env.h"
#include "mi_ai.h"
#include "mi_ai_impl.h"
#include "mi_ao.h"
#include "mi_ao_impl.h"
#include "vb.h"
#include "vb_audio.h"

using namespace audio_test;

namespace {

const bool g_env = !board_dir().empty();

std::vector<const vb::TraceEntry *> entries(const std::vector<vb::TraceEntry> &t, unsigned long code) {
    std::vector<const vb::TraceEntry *> out;
    for (auto &e : t)
        if (e.code == code) out.push_back(&e);
    return out;
}

MI_AUDIO_Frame_t frame_of(std::vector<uint8_t> &a, std::vector<uint8_t> *b = nullptr) {
    MI_AUDIO_Frame_t f;
    memset(&f, 0, sizeof f);
    f.apVirAddr[0] = a.data();
    f.u32Len[0] = (MI_U32)a.size();
    if (b) {
        f.apVirAddr[1] = b->data();
        f.u32Len[1] = (MI_U32)b->size();
    }
    return f;
}

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++) v[i] = (uint8_t)(seed + i * 7 + (i >> 8));
    return v;
}

void enable(MI_AUDIO_DEV dev, MI_AUDIO_Attr_t a) {
    ASSERT_EQ(MI_AO_SetPubAttr(dev, &a), 0);
    ASSERT_EQ(MI_AO_Enable(dev), 0);
    for (MI_U32 c = 0; c < a.u32ChnCnt; c++) ASSERT_EQ(MI_AO_EnableChn(dev, (MI_AO_CHN)c), 0);
}

// Wait (bounded) until the DMA ring of `dev` has been played out.
bool wait_played(int dev) {
    for (int i = 0; i < 300; i++) {
        if (vb::audio_stats(dev).ao_fill == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace

TEST(MiAoSetup, CallsBeforeTheTablesExistAreRefused) {
    ASSERT_TRUE(g_env);
    std::vector<uint8_t> d(64);
    MI_AUDIO_Frame_t f = frame_of(d);
    MI_AO_ChnState_t st;
    EXPECT_EQ(_MI_AO_DevInfo(4), nullptr);
    EXPECT_EQ(MI_AO_Enable(4), (MI_S32)0xA0052010);
    EXPECT_EQ(MI_AO_EnableChn(4, 0), (MI_S32)0xA0052010);
    EXPECT_EQ(MI_AO_SendFrame(4, 0, &f, 0), (MI_S32)0xA0052010);
    EXPECT_EQ(MI_AO_QueryChnStat(4, 0, &st), (MI_S32)0xA0052010);
}

TEST(MiAoRecords, RequestCodesCarryPayloadSizes) {
    EXPECT_EQ(_IOC_SIZE(MI_AO_SEND_FRAME), sizeof(MI_AO_SendFrame_t));
    EXPECT_EQ(_IOC_SIZE(MI_AO_UPDATE_QUEUE_STATUS), sizeof(MI_AO_QueueStatus_t));
    EXPECT_EQ(_IOC_NR(MI_AO_GET_CHIP_DEV_NUM), 25u);
    EXPECT_EQ(_IOC_DIR(MI_AO_QUERY_CHN_STAT), (unsigned)(_IOC_READ | _IOC_WRITE));
#if defined(__arm__)
    EXPECT_EQ(sizeof(MI_AO_SendFrame_t), 304u);
    EXPECT_EQ(offsetof(MI_AO_SendFrame_t, s32MilliSec), 296u);
    EXPECT_EQ(sizeof(MI_AO_QueueStatus_t), 32u);
    EXPECT_EQ((unsigned long)MI_AO_GET_CHIP_DEV_NUM, 0xC0016919ul);
    EXPECT_EQ((unsigned long)MI_AO_SET_PUB_ATTR, 0x40386900ul);
    EXPECT_EQ((unsigned long)MI_AO_GET_PUB_ATTR, 0xC0386901ul);
    EXPECT_EQ((unsigned long)MI_AO_ENABLE, 0x40046902ul);
    EXPECT_EQ((unsigned long)MI_AO_ENABLE_CHN, 0x40086904ul);
    EXPECT_EQ((unsigned long)MI_AO_DISABLE_CHN, 0x40086905ul);
    EXPECT_EQ((unsigned long)MI_AO_SEND_FRAME, 0x41306906ul);
    EXPECT_EQ((unsigned long)MI_AO_QUERY_CHN_STAT, 0xC014690Aul);
    EXPECT_EQ((unsigned long)MI_AO_UPDATE_QUEUE_STATUS, 0x40206910ul);
#endif
}

TEST(MiAoQueue, WrapsAndRefusesOverAndUnderflow) {
    uint8_t store[16];
    _MI_AO_QueueInfo_t q = {0, 0, 16, 0, store};
    std::vector<uint8_t> a = pattern(10, 1), b = pattern(10, 100), out(16);
    _MI_AO_QueueInsert(&q, a.data(), 10);
    ASSERT_EQ(_MI_AO_QueueDraw(&q, out.data(), 10), 0);
    _MI_AO_QueueInsert(&q, b.data(), 10);  // 6 bytes at the end, 4 at the start
    EXPECT_EQ(q.s32Front, 4);
    _MI_AO_QueueInsert(&q, a.data(), 10);  // 10 + 10 > 16: not inserted
    EXPECT_EQ(q.s32Size, 10);
    EXPECT_EQ(_MI_AO_QueueDraw(&q, out.data(), 11), (MI_S32)0xA005200E);
    EXPECT_EQ(q.s32Size, 10);
    ASSERT_EQ(_MI_AO_QueueDraw(&q, out.data(), 10), 0);
    EXPECT_EQ(memcmp(out.data(), b.data(), 10), 0);
    EXPECT_EQ(q.s32Rear, 4);
    EXPECT_EQ(q.s32Size, 0);

    // Drawing exactly up to the end of the storage leaves the rear at 0.
    _MI_AO_QueueInfo_t e = {0, 4, 16, 0, store};
    e.s32Front = 4;
    _MI_AO_QueueInsert(&e, a.data(), 10);
    _MI_AO_QueueInsert(&e, b.data(), 2);
    ASSERT_EQ(_MI_AO_QueueDraw(&e, out.data(), 12), 0);
    EXPECT_EQ(e.s32Rear, 0);
    EXPECT_EQ(_MI_AO_QueueDraw(nullptr, out.data(), 1), (MI_S32)0xA0052006);
}

TEST(MiAoPlay, StereoFrameGoesOutAsOneChunkAndIsPlayed) {
    enable(4, attr(E_MI_AUDIO_SOUND_MODE_STEREO, 1));
    _MI_AO_DevInfoUsr_t *d = _MI_AO_DevInfo(4);
    ASSERT_NE(d, nullptr);
    std::vector<uint8_t> pcm = pattern(8192, 3);
    MI_AUDIO_Frame_t f = frame_of(pcm);
    uint64_t written0 = vb::audio_stats(4).ao_written;
    vb::trace_clear();
    ASSERT_EQ(MI_AO_SendFrame(4, 0, &f, -1), 0);
    auto t = vb::trace("/dev/mi_ao");
    auto sends = entries(t, MI_AO_SEND_FRAME);
    ASSERT_EQ(sends.size(), 1u);
    MI_AO_SendFrame_t sent;
    memcpy(&sent, sends[0]->in.data(), sizeof sent);
    EXPECT_EQ(sent.stData.u32Len[0], 8192u);
    EXPECT_EQ(sent.AoChn, 0);
    auto upd = entries(t, MI_AO_UPDATE_QUEUE_STATUS);
    ASSERT_EQ(upd.size(), 1u);
    MI_AO_QueueStatus_t qs;
    memcpy(&qs, upd[0]->in.data(), sizeof qs);
    EXPECT_EQ(qs.s32Max, 51200);
    EXPECT_EQ(qs.s32Size, 0);
    EXPECT_EQ(qs.u64GetTotalSize, 8192u);
    EXPECT_EQ(d->astChanInfo[0].stChnOutputQueue.s32Size, 0);
    // The room test asked for more than 8192 + 128 free bytes.
    auto q = entries(t, MI_AO_QUERY_CHN_STAT);
    ASSERT_GE(q.size(), 1u);

    ASSERT_TRUE(wait_played(4));
    auto st = vb::audio_stats(4);
    EXPECT_EQ(st.ao_written, written0 + 8192);
    std::vector<uint8_t> wav = wav_data(st.ao_wav);
    ASSERT_GE(wav.size(), 8192u);
    EXPECT_EQ(memcmp(wav.data() + wav.size() - 8192, pcm.data(), 8192), 0);
}

TEST(MiAoPlay, RejectsBadFrames) {
    std::vector<uint8_t> big(51201), ok(51200), one(8);
    MI_AUDIO_Frame_t f = frame_of(big);
    EXPECT_EQ(MI_AO_SendFrame(4, 0, &f, 0), (MI_S32)0xA0052003);
    f.u32Len[0] = 0;
    EXPECT_EQ(MI_AO_SendFrame(4, 0, &f, 0), (MI_S32)0xA0052003);
    f = frame_of(one);
    EXPECT_EQ(MI_AO_SendFrame(4, 0, &f, -2), (MI_S32)0xA0052003);
    EXPECT_EQ(MI_AO_SendFrame(4, 0, nullptr, 0), (MI_S32)0xA0052006);
    // 51200 passes the length check but can never fit a 32 KB DMA buffer.
    f = frame_of(ok);
    EXPECT_EQ(MI_AO_SendFrame(4, 0, &f, 0), (MI_S32)0xA005200D);
    EXPECT_EQ(_MI_AO_DevInfo(4)->astChanInfo[0].stChnOutputQueue.s32Size, 0);

    // Channel 1 is refused even on a device with two channels.
    enable(3, attr(E_MI_AUDIO_SOUND_MODE_MONO, 2, 1024));
    std::vector<uint8_t> a(64), b(64);
    f = frame_of(a, &b);
    EXPECT_EQ(MI_AO_SendFrame(3, 1, &f, 0), (MI_S32)0xA0052003);
    // More than two channels never reaches the driver.
    MI_AUDIO_Attr_t three = attr(E_MI_AUDIO_SOUND_MODE_MONO, 3);
    EXPECT_EQ(MI_AO_SetPubAttr(2, &three), (MI_S32)0xA0052003);
}

TEST(MiAoPlay, TwoMonoChannelsAreInterleaved) {
    std::vector<uint8_t> a = pattern(4000, 10), b = pattern(4000, 200);
    MI_AUDIO_Frame_t f = frame_of(a, &b);
    ASSERT_EQ(MI_AO_SendFrame(3, 0, &f, -1), 0);
    const uint16_t *out = reinterpret_cast<const uint16_t *>(_MI_AO_DevInfo(3)->pu8DevOutputBuff);
    const uint16_t *l = reinterpret_cast<const uint16_t *>(a.data());
    const uint16_t *r = reinterpret_cast<const uint16_t *>(b.data());
    for (int k = 0; k < 2000; k++) {
        ASSERT_EQ(out[2 * k], l[k]) << k;
        ASSERT_EQ(out[2 * k + 1], r[k]) << k;
    }
    ASSERT_TRUE(wait_played(3));
    std::vector<uint8_t> wav = wav_data(vb::audio_stats(3).ao_wav);
    ASSERT_EQ(wav.size(), 8000u);
    EXPECT_EQ(memcmp(wav.data(), _MI_AO_DevInfo(3)->pu8DevOutputBuff, 8000), 0);
}

TEST(MiAoPlay, StalledOutputEndsTheWaitWithinItsBudget) {
    ASSERT_EQ(vb::ctl_exec("ao-stall 1"), "ok");
    std::vector<uint8_t> pcm = pattern(8192, 9);
    MI_AUDIO_Frame_t f = frame_of(pcm);
    int sent = 0;
    MI_S32 r = 0;
    for (; sent < 10; sent++)
        if ((r = MI_AO_SendFrame(4, 0, &f, 0)) != 0) break;
    EXPECT_EQ(r, (MI_S32)0xA005200D);
    EXPECT_LE(sent, 4) << "a 32 KB ring takes at most 3 frames with the 128-byte margin";

    vb::trace_clear();
    EXPECT_EQ(MI_AO_SendFrame(4, 0, &f, 0), (MI_S32)0xA005200D);
    EXPECT_EQ(entries(vb::trace("/dev/mi_ao"), MI_AO_QUERY_CHN_STAT).size(), 1u);
    vb::trace_clear();
    EXPECT_EQ(MI_AO_SendFrame(4, 0, &f, 45), (MI_S32)0xA005200D);
    EXPECT_EQ(entries(vb::trace("/dev/mi_ao"), MI_AO_QUERY_CHN_STAT).size(), 3u);
    vb::trace_clear();
    EXPECT_EQ(MI_AO_SendFrame(4, 0, &f, 5), (MI_S32)0xA005200D);
    EXPECT_EQ(entries(vb::trace("/dev/mi_ao"), MI_AO_QUERY_CHN_STAT).size(), 2u);
    EXPECT_EQ(entries(vb::trace("/dev/mi_ao"), MI_AO_SEND_FRAME).size(), 0u);
    EXPECT_EQ(_MI_AO_DevInfo(4)->astChanInfo[0].stChnOutputQueue.s32Size, 0) << "nothing queued";

    ASSERT_EQ(vb::ctl_exec("ao-stall 0"), "ok");
    EXPECT_TRUE(wait_played(4));
    EXPECT_EQ(MI_AO_SendFrame(4, 0, &f, 0), 0);
}

TEST(MiAoPlay, FullQueueIsReportedAfterPlayingWhatIsQueued) {
    // A queue holding 51000 bytes cannot take 400 more.
    _MI_AO_QueueInfo_t *q = &_MI_AO_DevInfo(4)->astChanInfo[0].stChnOutputQueue;
    ASSERT_TRUE(wait_played(4));
    std::vector<uint8_t> fill = pattern(51000, 1);
    ASSERT_EQ(vb::ctl_exec("ao-stall 1"), "ok");
    // Put bytes in the queue directly (the DMA ring is stalled, nothing is drawn).
    _MI_AO_QueueInsert(q, fill.data(), 51000);
    ASSERT_EQ(q->s32Size, 51000);
    std::vector<uint8_t> more(400);
    MI_AUDIO_Frame_t f = frame_of(more);
    EXPECT_EQ(MI_AO_SendFrame(4, 0, &f, 0), (MI_S32)0xA005200D);
    EXPECT_EQ(q->s32Size, 51000) << "the frame is not queued";
    // With the ring running again the queued bytes go out in whole chunks.
    ASSERT_EQ(vb::ctl_exec("ao-stall 0"), "ok");
    ASSERT_TRUE(wait_played(4));
    // Room for the 25600-byte chunk is never there in a 32 KB ring minus margin: draw it down first.
    while (q->s32Size > 0) {
        std::vector<uint8_t> tmp(q->s32Size > 8192 ? 8192 : q->s32Size);
        ASSERT_EQ(_MI_AO_QueueDraw(q, tmp.data(), (MI_S32)tmp.size()), 0);
    }
}

TEST(MiAoDump, SwitchOpensThePcmFile) {
    std::string dir = make_dir("ao-dump");
    setenv("MI_AO_DUMP_PCM_ENABLE", "1", 1);
    setenv("MI_AO_DUMP_PATH", dir.c_str(), 1);
    enable(1, attr(E_MI_AUDIO_SOUND_MODE_STEREO, 1));
    std::string path = dir + "/MI_AO_Dev1Chn0_48K_Stereo.pcm";
    ASSERT_TRUE(file_exists(path));
    std::vector<uint8_t> all;
    for (int i = 0; i < 4; i++) {
        std::vector<uint8_t> pcm = pattern(8192, (uint8_t)i);
        MI_AUDIO_Frame_t f = frame_of(pcm);
        ASSERT_EQ(MI_AO_SendFrame(1, 0, &f, 200), 0);
        all.insert(all.end(), pcm.begin(), pcm.end());
    }
    std::vector<uint8_t> disk = read_file(path);
    EXPECT_GE(disk.size(), 2u * 8192u);
    ASSERT_LE(disk.size(), all.size());
    EXPECT_EQ(memcmp(disk.data(), all.data(), disk.size()), 0);

    // Switch not 1: nothing opened.
    setenv("MI_AO_DUMP_PCM_ENABLE", "0", 1);
    enable(0, attr(E_MI_AUDIO_SOUND_MODE_STEREO, 1));
    EXPECT_FALSE(file_exists(dir + "/MI_AO_Dev0Chn0_48K_Stereo.pcm"));
    unsetenv("MI_AO_DUMP_PCM_ENABLE");
    unsetenv("MI_AO_DUMP_PATH");
}

// The same fields from a clean and from a dirty caller record reach the driver
// as the same bytes: the alignment bytes after bSyncClock are never sent.
TEST(MiAudioRecords, CallersAlignmentBytesNeverReachTheDriver) {
    std::vector<uint8_t> ai[2], ao[2];
    for (int dirty = 0; dirty < 2; ++dirty) {
        MI_AUDIO_Attr_t a;
        memset(&a, dirty ? 0xAB : 0, sizeof a);
        a.eSamplerate = E_MI_AUDIO_SAMPLE_RATE_48000;
        a.eBitwidth = E_MI_AUDIO_BIT_WIDTH_16;
        a.eWorkmode = E_MI_AUDIO_MODE_I2S_MASTER;
        a.eSoundmode = E_MI_AUDIO_SOUND_MODE_STEREO;
        a.u32FrmNum = 8;
        a.u32PtNumPerFrm = 1024;
        a.u32CodecChnCnt = 0;
        a.u32ChnCnt = 1;
        a.WorkModeSetting.stI2sConfig.eFmt = E_MI_AUDIO_I2S_FMT_I2S_MSB;
        a.WorkModeSetting.stI2sConfig.eMclk = E_MI_AUDIO_I2S_MCLK_0;
        a.WorkModeSetting.stI2sConfig.bSyncClock = 1;
        a.WorkModeSetting.stI2sConfig.u32TdmSlots = 2;
        a.WorkModeSetting.stI2sConfig.eI2sBitWidth = E_MI_AUDIO_BIT_WIDTH_16;
        vb::trace_clear();
        MI_AI_SetPubAttr(1, &a);
        MI_AO_SetPubAttr(1, &a);
        for (auto &e : vb::trace("/dev/mi_ai"))
            if (e.code == MI_AI_SET_PUB_ATTR) ai[dirty] = e.in;
        for (auto &e : vb::trace("/dev/mi_ao"))
            if (e.code == MI_AO_SET_PUB_ATTR) ao[dirty] = e.in;
    }
    ASSERT_EQ(ai[0].size(), sizeof(MI_AI_SetPubAttr_t));
    ASSERT_EQ(ao[0].size(), sizeof(MI_AO_SetPubAttr_t));
    EXPECT_EQ(ai[0], ai[1]);
    EXPECT_EQ(ao[0], ao[1]);
}
