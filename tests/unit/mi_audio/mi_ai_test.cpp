// Audio input against the virtual driver. The module's tables live for the
// process, so the first test runs before anything has set them up.
#include <gtest/gtest.h>

#include <thread>

#include "audio_test_env.h"
#include "mi_ai.h"
#include "mi_ai_impl.h"
#include "mi_sys.h"
#include "vb.h"
#include "vb_audio.h"

using namespace audio_test;

namespace {

const bool g_env = !board_dir().empty();

// Drain every waiting frame so the next GetFrame sees a fresh one.
void drain(MI_AUDIO_DEV dev, MI_AI_CHN chn) {
    MI_AUDIO_Frame_t f;
    for (int i = 0; i < 200; i++) {
        if (MI_AI_GetFrame(dev, chn, &f, nullptr, 0) != 0) break;
        MI_AI_ReleaseFrame(dev, chn, &f, nullptr);
    }
}

void enable(MI_AUDIO_DEV dev, MI_AUDIO_Attr_t a) {
    ASSERT_EQ(MI_AI_SetPubAttr(dev, &a), 0);
    ASSERT_EQ(MI_AI_Enable(dev), 0);
    for (MI_U32 c = 0; c < a.u32ChnCnt; c++) ASSERT_EQ(MI_AI_EnableChn(dev, (MI_AI_CHN)c), 0);
}

}  // namespace

TEST(MiAiSetup, CallsBeforeTheTablesExistAreRefused) {
    ASSERT_TRUE(g_env);
    MI_AUDIO_Frame_t f;
    EXPECT_EQ(_MI_AI_DevInfo(2), nullptr);
    EXPECT_EQ(MI_AI_Enable(2), (MI_S32)0xA0042010);
    EXPECT_EQ(MI_AI_EnableChn(2, 0), (MI_S32)0xA0042010);
    EXPECT_EQ(MI_AI_GetFrame(2, 0, &f, nullptr, 0), (MI_S32)0xA0042010);
    EXPECT_EQ(MI_AI_ReleaseFrame(2, 0, &f, nullptr), (MI_S32)0xA0042010);
    // The device check still runs first.
    EXPECT_EQ(MI_AI_Enable(9), (MI_S32)0xA0042001);
}

TEST(MiAiRecords, RequestCodesCarryPayloadSizes) {
    EXPECT_EQ(_IOC_SIZE(MI_AI_SET_PUB_ATTR), sizeof(MI_AI_SetPubAttr_t));
    EXPECT_EQ(_IOC_DIR(MI_AI_SET_PUB_ATTR), (unsigned)_IOC_WRITE);
    EXPECT_EQ(_IOC_DIR(MI_AI_GET_PUB_ATTR), (unsigned)(_IOC_READ | _IOC_WRITE));
    EXPECT_EQ(_IOC_NR(MI_AI_GET_CHN_DATA_INFO), 17u);
    EXPECT_EQ(_IOC_TYPE(MI_AI_ENABLE), (unsigned)'i');
#if defined(__arm__)
    EXPECT_EQ(sizeof(MI_AUDIO_Attr_t), 52u);
    EXPECT_EQ(sizeof(MI_AUDIO_Frame_t), 288u);
    EXPECT_EQ(sizeof(MI_AUDIO_AecFrame_t), 296u);
    EXPECT_EQ(offsetof(MI_AUDIO_Frame_t, u64TimeStamp), 72u);
    EXPECT_EQ(offsetof(MI_AUDIO_Frame_t, apSrcPcmVirAddr), 156u);
    EXPECT_EQ((unsigned long)MI_AI_GET_CHIP_DEV_NUM, 0xC001690Eul);
    EXPECT_EQ((unsigned long)MI_AI_SET_PUB_ATTR, 0x40386900ul);
    EXPECT_EQ((unsigned long)MI_AI_GET_PUB_ATTR, 0xC0386901ul);
    EXPECT_EQ((unsigned long)MI_AI_ENABLE, 0x40046902ul);
    EXPECT_EQ((unsigned long)MI_AI_ENABLE_CHN, 0x40086904ul);
    EXPECT_EQ((unsigned long)MI_AI_GET_CHN_MUTE_STATUS, 0xC00C6910ul);
    EXPECT_EQ((unsigned long)MI_AI_GET_CHN_DATA_INFO, 0xC0106911ul);
#endif
}

TEST(MiAiSetup, ChecksAndAttributes) {
    MI_AUDIO_Attr_t a = attr(E_MI_AUDIO_SOUND_MODE_STEREO, 1);
    EXPECT_EQ(MI_AI_SetPubAttr(-1, &a), (MI_S32)0xA0042001);
    EXPECT_EQ(MI_AI_SetPubAttr(4, &a), (MI_S32)0xA0042001);  // the board has devices 0..3
    EXPECT_EQ(MI_AI_SetPubAttr(2, nullptr), (MI_S32)0xA0042006);

    // More channels than the tables hold never reach the driver.
    vb::trace_clear();
    MI_AUDIO_Attr_t wide = attr(E_MI_AUDIO_SOUND_MODE_QUEUE, 9);
    EXPECT_EQ(MI_AI_SetPubAttr(3, &wide), (MI_S32)0xA0042003);
    for (auto &e : vb::trace("/dev/mi_ai")) EXPECT_NE(e.code, (unsigned long)MI_AI_SET_PUB_ATTR);

    // No attributes yet: the channel calls answer "invalid channel".
    EXPECT_EQ(MI_AI_EnableChn(3, 0), (MI_S32)0xA0042002);

    // A refused set leaves the stored copy alone; get reads the driver.
    MI_AUDIO_Attr_t bad = a;
    bad.eSamplerate = (MI_AUDIO_SampleRate_e)12345;
    EXPECT_NE(MI_AI_SetPubAttr(3, &bad), 0);
    EXPECT_EQ(_MI_AI_DevInfo(3)->bDevAttrSet, FALSE);
    MI_AUDIO_Attr_t got;
    memset(&got, 0x5a, sizeof got);
    MI_AUDIO_Attr_t before = got;
    EXPECT_NE(MI_AI_GetPubAttr(3, &got), 0);
    EXPECT_EQ(memcmp(&got, &before, sizeof got), 0) << "failed get must not write the caller's record";

    ASSERT_EQ(MI_AI_SetPubAttr(2, &a), 0);
    ASSERT_EQ(MI_AI_GetPubAttr(2, &got), 0);
    EXPECT_EQ(got.u32PtNumPerFrm, 2048u);
    EXPECT_EQ(got.eSoundmode, E_MI_AUDIO_SOUND_MODE_STEREO);
    EXPECT_EQ(MI_AI_EnableChn(2, 1), (MI_S32)0xA0042002);
    // Device attributes set but not enabled.
    MI_AUDIO_Frame_t f;
    EXPECT_EQ(MI_AI_GetFrame(2, 0, &f, nullptr, 0), (MI_S32)0xA0042017);
}

TEST(MiAiCapture, FramesCarryDriverTimeAndSequence) {
    enable(2, attr(E_MI_AUDIO_SOUND_MODE_STEREO, 1));
    MI_AUDIO_Frame_t f;
    MI_AUDIO_AecFrame_t aec;
    EXPECT_EQ(MI_AI_GetFrame(2, 0, nullptr, nullptr, -1), (MI_S32)0xA0042006);
    EXPECT_EQ(MI_AI_GetFrame(2, 0, &f, nullptr, -2), (MI_S32)0xA0042003);

    drain(2, 0);
    vb::trace_clear();
    ASSERT_EQ(MI_AI_GetFrame(2, 0, &f, &aec, -1), 0);
    EXPECT_EQ(f.u32Len[0], 8192u);
    EXPECT_EQ(f.apVirAddr[0], f.apSrcPcmVirAddr[0]);
    EXPECT_EQ(f.eSoundmode, E_MI_AUDIO_SOUND_MODE_STEREO);
    EXPECT_EQ(aec.bValid, FALSE);
    EXPECT_EQ(aec.stRefFrame.apVirAddr[0], nullptr);
    uint64_t t0 = f.u64TimeStamp;
    uint32_t s0 = f.u32Seq;
    EXPECT_LE(t0, vb::pts_now());
    std::vector<uint8_t> first((uint8_t *)f.apVirAddr[0], (uint8_t *)f.apVirAddr[0] + 8192);
    EXPECT_EQ(MI_AI_ReleaseFrame(2, 0, &f, nullptr), 0);

    bool saw_mute = false, saw_info = false;
    for (auto &e : vb::trace("/dev/mi_ai")) {
        if (e.code == (unsigned long)MI_AI_GET_CHN_MUTE_STATUS) saw_mute = e.in.size() == sizeof(MI_AI_GetChnMuteStatus_t);
        if (e.code == (unsigned long)MI_AI_GET_CHN_DATA_INFO) saw_info = e.in.size() == sizeof(MI_AI_GetChnDataInfo_t);
    }
    EXPECT_TRUE(saw_mute);
    EXPECT_TRUE(saw_info);

    ASSERT_EQ(MI_AI_GetFrame(2, 0, &f, nullptr, -1), 0);
    EXPECT_EQ(f.u32Seq, s0 + 1);
    // 2048 samples at 48 kHz: 42666.67 us.
    EXPECT_GE(f.u64TimeStamp - t0, 42666u);
    EXPECT_LE(f.u64TimeStamp - t0, 42667u);
    EXPECT_NE(memcmp(first.data(), f.apVirAddr[0], 8192), 0) << "the tone moves on";
    EXPECT_EQ(MI_AI_ReleaseFrame(2, 0, &f, nullptr), 0);
}

TEST(MiAiCapture, BufferIsGivenBackOnceOnly) {
    MI_AUDIO_Frame_t f;
    size_t held0 = vb::audio_stats(0).ai_held;
    ASSERT_EQ(MI_AI_GetFrame(2, 0, &f, nullptr, -1), 0);
    EXPECT_EQ(vb::audio_stats(0).ai_held, held0 + 1);
    uint64_t bad0 = vb::audio_stats(0).ai_bad_put;
    EXPECT_EQ(MI_AI_ReleaseFrame(2, 0, &f, nullptr), 0);
    EXPECT_EQ(MI_AI_ReleaseFrame(2, 0, &f, nullptr), (MI_S32)0xA004200E);
    EXPECT_EQ(vb::audio_stats(0).ai_held, held0);
    EXPECT_EQ(vb::audio_stats(0).ai_bad_put, bad0) << "no handle reached the driver twice";
}

TEST(MiAiCapture, ZeroWaitWithoutFrameIsNoBuf) {
    drain(2, 0);
    MI_AUDIO_Frame_t f;
    memset(&f, 0x77, sizeof f);
    EXPECT_EQ(MI_AI_GetFrame(2, 0, &f, nullptr, 0), (MI_S32)0xA004200D);
    EXPECT_EQ(f.u32Len[0], 0u) << "the frame is cleared before the wait";
}

TEST(MiAiCapture, SlowFetchShowsLostBuffers) {
    set_debug_level("ai", 2);
    MI_AUDIO_Frame_t f;
    drain(2, 0);
    ASSERT_EQ(MI_AI_GetFrame(2, 0, &f, nullptr, -1), 0);
    uint32_t expected = f.u32Seq + 1;
    ASSERT_EQ(MI_AI_ReleaseFrame(2, 0, &f, nullptr), 0);
    uint64_t dropped0 = vb::audio_stats(0).ai_dropped;
    // The driver keeps 8 frames when no depth was set: 0.6 s overflows it.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    testing::internal::CaptureStdout();
    ASSERT_EQ(MI_AI_GetFrame(2, 0, &f, nullptr, -1), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_GT(vb::audio_stats(0).ai_dropped, dropped0);
    EXPECT_GT(f.u32Seq, expected);
    EXPECT_NE(out.find("Buffer(s) is lost due to slow fetching"), std::string::npos) << out;
    uint32_t jumped = f.u32Seq;
    ASSERT_EQ(MI_AI_ReleaseFrame(2, 0, &f, nullptr), 0);
    ASSERT_EQ(MI_AI_GetFrame(2, 0, &f, nullptr, -1), 0);
    EXPECT_EQ(f.u32Seq, jumped + 1);
    ASSERT_EQ(MI_AI_ReleaseFrame(2, 0, &f, nullptr), 0);
    set_debug_level("ai", 0);
}

TEST(MiAiCapture, MutedChannelDeliversZeros) {
    MI_AUDIO_Frame_t f;
    ASSERT_EQ(vb::ctl_exec("ai-mute 2 0 1"), "ok");
    drain(2, 0);
    ASSERT_EQ(MI_AI_GetFrame(2, 0, &f, nullptr, -1), 0);
    ASSERT_EQ(f.u32Len[0], 8192u);
    std::vector<uint8_t> zeros(8192, 0);
    EXPECT_EQ(memcmp(f.apVirAddr[0], zeros.data(), 8192), 0);
    ASSERT_EQ(MI_AI_ReleaseFrame(2, 0, &f, nullptr), 0);

    // A failing mute query delivers the frame unmuted.
    vb::inject("/dev/mi_ai", MI_AI_GET_CHN_MUTE_STATUS, -1, 1);
    drain(2, 0);
    ASSERT_EQ(MI_AI_GetFrame(2, 0, &f, nullptr, -1), 0);
    EXPECT_NE(memcmp(f.apVirAddr[0], zeros.data(), 8192), 0);
    ASSERT_EQ(MI_AI_ReleaseFrame(2, 0, &f, nullptr), 0);
    ASSERT_EQ(vb::ctl_exec("ai-mute 2 0 0"), "ok");
    vb::inject_clear();
}

TEST(MiAiCapture, BadLayoutFromDriverIndexesNothing) {
    MI_AUDIO_Frame_t f;
    MI_AUDIO_AecFrame_t aec;
    size_t held0 = vb::audio_stats(0).ai_held;
    const char *layouts[] = {"ai-layout 0 0", "ai-layout 17 0", "ai-layout 1 40"};
    for (const char *l : layouts) {
        ASSERT_EQ(vb::ctl_exec(l), "ok");
        drain(2, 0);
        EXPECT_EQ(MI_AI_GetFrame(2, 0, &f, &aec, -1), (MI_S32)0xA0042003) << l;
        EXPECT_EQ(f.u32Len[0], 0u) << l;
        EXPECT_EQ(aec.bValid, FALSE) << l;
        // The buffer was taken: it must still be given back.
        EXPECT_EQ(MI_AI_ReleaseFrame(2, 0, &f, &aec), 0) << l;
        EXPECT_EQ(vb::audio_stats(0).ai_held, held0) << l;
    }
    // A failed layout query: its code is the result, the buffer still held.
    ASSERT_EQ(vb::ctl_exec("ai-layout default"), "ok");
    vb::inject("/dev/mi_ai", MI_AI_GET_CHN_DATA_INFO, (int)0xA0042010, 1);
    drain(2, 0);
    EXPECT_EQ(MI_AI_GetFrame(2, 0, &f, nullptr, -1), (MI_S32)0xA0042010);
    EXPECT_EQ(vb::audio_stats(0).ai_held, held0 + 1);
    EXPECT_EQ(MI_AI_ReleaseFrame(2, 0, &f, nullptr), 0);
    EXPECT_EQ(vb::audio_stats(0).ai_held, held0);
    vb::inject_clear();
}

TEST(MiAiCapture, StereoEchoReferenceCoversBothParts) {
    MI_AUDIO_Frame_t f;
    MI_AUDIO_AecFrame_t aec;
    ASSERT_EQ(vb::ctl_exec("ai-layout 1 2"), "ok");
    drain(2, 0);
    ASSERT_EQ(MI_AI_GetFrame(2, 0, &f, &aec, -1), 0);
    // Three equal parts of 8192 bytes: microphone, then two reference parts.
    EXPECT_EQ(f.u32Len[0], 8192u);
    EXPECT_EQ(aec.bValid, TRUE);
    EXPECT_EQ(aec.stRefFrame.apVirAddr[0], (uint8_t *)f.apVirAddr[0] + 8192);
    EXPECT_EQ(aec.stRefFrame.u32Len[0], 2u * 8192u);
    EXPECT_EQ(aec.stRefFrame.apVirAddr[1], nullptr);
    EXPECT_EQ(aec.stRefFrame.u64TimeStamp, f.u64TimeStamp);
    ASSERT_EQ(MI_AI_ReleaseFrame(2, 0, &f, &aec), 0);
    ASSERT_EQ(vb::ctl_exec("ai-layout default"), "ok");
}

TEST(MiAiDump, SwitchesOpenPcmAndEchoFiles) {
    std::string dir = make_dir("ai-dump");
    setenv("MI_AI_DUMP_PCM_ENABLE", "1", 1);
    setenv("MI_AI_DUMP_ECHO_ENABLE", "1", 1);
    setenv("MI_AI_DUMP_PATH", dir.c_str(), 1);
    ASSERT_EQ(vb::ctl_exec("ai-layout 1 1"), "ok");
    enable(1, attr(E_MI_AUDIO_SOUND_MODE_STEREO, 1));
    std::string pcm = dir + "/MI_AI_Dev1Chn0_48K_Stereo.pcm";
    EXPECT_TRUE(file_exists(pcm));
    EXPECT_TRUE(file_exists(dir + "/MI_AI_Dev1Chn0Src0_48K_Echo_Stereo.pcm"));
    EXPECT_TRUE(file_exists(dir + "/MI_AI_Dev1Chn0Src1_48K_Echo_Stereo.pcm"));

    std::vector<uint8_t> got, echo;
    MI_AUDIO_Frame_t f;
    for (int i = 0; i < 6; i++) {
        ASSERT_EQ(MI_AI_GetFrame(1, 0, &f, nullptr, -1), 0);
        ASSERT_EQ(f.u32Len[0], 8192u);
        got.insert(got.end(), (uint8_t *)f.apVirAddr[0], (uint8_t *)f.apVirAddr[0] + 8192);
        echo.insert(echo.end(), (uint8_t *)f.apVirAddr[0] + 8192, (uint8_t *)f.apVirAddr[0] + 16384);
        ASSERT_EQ(MI_AI_ReleaseFrame(1, 0, &f, nullptr), 0);
    }
    // The files are never flushed by the module: what reached the disk is a prefix.
    std::vector<uint8_t> disk = read_file(pcm);
    EXPECT_GE(disk.size(), 4u * 8192u);
    ASSERT_LE(disk.size(), got.size());
    EXPECT_EQ(memcmp(disk.data(), got.data(), disk.size()), 0);
    std::vector<uint8_t> edisk = read_file(dir + "/MI_AI_Dev1Chn0Src0_48K_Echo_Stereo.pcm");
    EXPECT_GE(edisk.size(), 4u * 8192u);
    ASSERT_LE(edisk.size(), echo.size());
    EXPECT_EQ(memcmp(edisk.data(), echo.data(), edisk.size()), 0);
    ASSERT_EQ(vb::ctl_exec("ai-layout default"), "ok");

    // A switch of 2 or an empty one opens nothing; so does a missing path.
    setenv("MI_AI_DUMP_PCM_ENABLE", "2", 1);
    setenv("MI_AI_DUMP_ECHO_ENABLE", "", 1);
    enable(0, attr(E_MI_AUDIO_SOUND_MODE_MONO, 1));
    EXPECT_FALSE(file_exists(dir + "/MI_AI_Dev0Chn0_48K_Mono.pcm"));
    EXPECT_FALSE(file_exists(dir + "/MI_AI_Dev0Chn0Src0_48K_Echo_Mono.pcm"));
    setenv("MI_AI_DUMP_PCM_ENABLE", "1", 1);
    unsetenv("MI_AI_DUMP_PATH");
    set_debug_level("ai", 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(_MI_AI_OpenDumpFile(0, 0, MI_AI_DUMP_PCM), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Env variable \"MI_AI_DUMP_PATH\" has not set!!!"), std::string::npos) << out;
    set_debug_level("ai", 0);
    unsetenv("MI_AI_DUMP_PCM_ENABLE");
    unsetenv("MI_AI_DUMP_ECHO_ENABLE");
}
