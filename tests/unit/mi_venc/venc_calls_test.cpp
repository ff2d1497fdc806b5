// Encoder calls against a scripted driver: request codes and payloads, the
// stream fetch and release bookkeeping, and every failure path of the fetch.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <gtest/gtest.h>

#include "mi_venc.h"
#include "venc_fake_driver.h"

using namespace venc_test;

namespace {

struct PrivateBoardRoot {
    PrivateBoardRoot() {
        char tmpl[] = "/tmp/ut_mi_venc.XXXXXX";
        if (mkdtemp(tmpl)) setenv("VB_ROOT", tmpl, 1);
    }
} g_root;

FakeVenc *g_fake;

class VencCalls : public ::testing::Test {
protected:
    void SetUp() override {
        if (!g_fake) {
            vb::driver_for("/dev/mi_venc");  // bring the board up, then take the node over
            g_fake = new FakeVenc;
            vb::register_driver("/dev/mi_venc", g_fake);
        }
        std::lock_guard<std::mutex> g(g_fake->mu);
        g_fake->script.clear();
        g_fake->head_calls = g_fake->release_head = g_fake->get_stream = g_fake->release_stream = 0;
        g_fake->outstanding = 0;
        g_fake->fail_head_after = -1;
        vb::inject_clear();
        vb::trace_enable(true);
        vb::trace_clear();
    }
    void TearDown() override { vb::inject_clear(); }

    static std::vector<vb::TraceEntry> venc_trace() { return vb::trace("/dev/mi_venc"); }
    static int count(unsigned long code) {
        int n = 0;
        for (auto &e : venc_trace()) n += e.code == code;
        return n;
    }
};

MI_VENC_ChnAttr_t h264_attr(MI_U32 w, MI_U32 h) {
    MI_VENC_ChnAttr_t a;
    memset(&a, 0, sizeof a);
    a.stVeAttr.eType = E_MI_VENC_MODTYPE_H264E;
    a.stVeAttr.stAttrH264e.u32PicWidth = a.stVeAttr.stAttrH264e.u32MaxPicWidth = w;
    a.stVeAttr.stAttrH264e.u32PicHeight = a.stVeAttr.stAttrH264e.u32MaxPicHeight = h;
    a.stVeAttr.stAttrH264e.u32Profile = 2;
    a.stRcAttr.eRcMode = E_MI_VENC_RC_MODE_H264CBR;
    a.stRcAttr.stAttrH264Cbr.u32Gop = 30;
    a.stRcAttr.stAttrH264Cbr.u32SrcFrmRateNum = 30;
    a.stRcAttr.stAttrH264Cbr.u32SrcFrmRateDen = 1;
    a.stRcAttr.stAttrH264Cbr.u32BitRate = 3145728;
    return a;
}

constexpr uint64_t kH264End = MI_VENC_RING_FLAG_FRAME_END | (E_MI_VENC_MODTYPE_H264E << 1);
constexpr uint64_t kH264Mid = E_MI_VENC_MODTYPE_H264E << 1;

std::vector<uint8_t> p_frame(size_t n = 200) {
    std::vector<uint8_t> v;
    add_nal(&v, 4, 0x41, n);
    return v;
}

// ---- request codes and payloads ---------------------------------------------

struct CodeCase {
    const char *name;
    std::function<void()> call;
    unsigned long board_code;
    unsigned long code;  // derived on this platform
};

TEST_F(VencCalls, EveryCallSendsItsCodeWithAMatchingPayload) {
    static MI_VENC_ChnStat_t stat;
    static MI_U32 cnt;
    static MI_VENC_ParamH264Entropy_t ent;
    static MI_VENC_ParamH264Vui_t vui;
    static MI_VENC_ParamJpeg_t jpeg;
    static MI_VENC_InputSourceConfig_t src;
    const std::vector<CodeCase> cases = {
        {"StartRecvPic", [] { MI_VENC_StartRecvPic(0, 3); }, 0x40046905, MI_VENC_IOC_START_RECV_PIC},
        {"StopRecvPic", [] { MI_VENC_StopRecvPic(0, 3); }, 0x40046907, MI_VENC_IOC_STOP_RECV_PIC},
        {"Query", [] { MI_VENC_Query(0, 3, &stat); }, 0xc02c6908, MI_VENC_IOC_QUERY},
        {"SetMaxStreamCnt", [] { MI_VENC_SetMaxStreamCnt(0, 3, 60); }, 0x4008690e, MI_VENC_IOC_SET_MAX_STREAM_CNT},
        {"GetMaxStreamCnt", [] { MI_VENC_GetMaxStreamCnt(0, 3, &cnt); }, 0xc008690f, MI_VENC_IOC_GET_MAX_STREAM_CNT},
        {"SetH264Entropy", [] { MI_VENC_SetH264Entropy(0, 3, &ent); }, 0x400c6922, MI_VENC_IOC_SET_H264_ENTROPY},
        {"GetH264Entropy", [] { MI_VENC_GetH264Entropy(0, 3, &ent); }, 0xc00c6923, MI_VENC_IOC_GET_H264_ENTROPY},
        {"SetH264Vui", [] { MI_VENC_SetH264Vui(0, 3, &vui); }, 0x40206926, MI_VENC_IOC_SET_H264_VUI},
        {"GetH264Vui", [] { MI_VENC_GetH264Vui(0, 3, &vui); }, 0xc0206927, MI_VENC_IOC_GET_H264_VUI},
        {"SetJpegParam", [] { MI_VENC_SetJpegParam(0, 3, &jpeg); }, 0x408c6934, MI_VENC_IOC_SET_JPEG_PARAM},
        {"GetJpegParam", [] { MI_VENC_GetJpegParam(0, 3, &jpeg); }, 0xc08c6935, MI_VENC_IOC_GET_JPEG_PARAM},
        {"SetInputSourceConfig", [] { MI_VENC_SetInputSourceConfig(0, 3, &src); }, 0x4008694a,
         MI_VENC_IOC_SET_INPUT_SOURCE},
    };
    for (const CodeCase &c : cases) {
        vb::trace_clear();
        c.call();
        auto t = venc_trace();
        ASSERT_EQ(t.size(), 1u) << c.name;
        EXPECT_EQ(t[0].code, c.code) << c.name;
#if defined(__arm__)
        EXPECT_EQ(t[0].code, c.board_code) << c.name;
#endif
        EXPECT_EQ(_IOC_SIZE(t[0].code), t[0].in.size()) << c.name;
        ASSERT_GE(t[0].in.size(), 4u) << c.name;
        int32_t chn;
        memcpy(&chn, t[0].in.data(), 4);
        EXPECT_EQ(chn, 3) << c.name;  // every payload leads with the channel
    }
}

TEST_F(VencCalls, StreamPathCodesAndRecordSizes) {
#if defined(__arm__)
    EXPECT_EQ(MI_VENC_IOC_CREATE_CHN, 0x40506902u);
    EXPECT_EQ(MI_VENC_IOC_DESTROY_CHN, 0x40046903u);
    EXPECT_EQ(MI_VENC_IOC_GET_STREAM, 0xc050690bu);
    EXPECT_EQ(MI_VENC_IOC_RELEASE_STREAM, 0x404c690cu);
    EXPECT_EQ(MI_VENC_IOC_GET_POLL_DATA, 0xc0086914u);
    EXPECT_EQ(MI_VENC_IOC_RELEASE_POLL, 0x40046915u);
    EXPECT_EQ(MI_VENC_IOC_RING_GET_HANDLE, 0xc0086943u);
    EXPECT_EQ(MI_VENC_IOC_RING_GET_INFO, 0xc0186944u);
    EXPECT_EQ(MI_VENC_IOC_RING_GET_HEAD, 0xc0486946u);
    EXPECT_EQ(MI_VENC_IOC_RING_RELEASE_HEAD, 0x40086949u);
    EXPECT_EQ(offsetof(MI_VENC_Pack_t, asackInfo), 52u);
    EXPECT_EQ(offsetof(MI_VENC_Pack_t, u64PTS), 16u);
    EXPECT_EQ(offsetof(MI_VENC_RingPoolGetHeadRecord_t, PA), 40u);
    EXPECT_EQ(offsetof(MI_VENC_RingPoolGetHeadRecord_t, u8PicQP), 60u);
    EXPECT_EQ(offsetof(MI_VENC_GetStream_t, s32MilliSec), 76u);
    EXPECT_EQ(offsetof(MI_VENC_ParamH264Vui_t, stVuiVideoSignal), 20u);
#endif
    // Whatever the platform, the code carries the record's size.
    EXPECT_EQ(_IOC_SIZE(MI_VENC_IOC_GET_STREAM), sizeof(MI_VENC_GetStream_t));
    EXPECT_EQ(_IOC_SIZE(MI_VENC_IOC_RING_GET_HEAD), sizeof(MI_VENC_RingPoolGetHeadRecord_t));
    EXPECT_EQ(_IOC_NR(MI_VENC_IOC_RING_GET_HEAD), 0x46u);
    EXPECT_EQ(_IOC_DIR(MI_VENC_IOC_RELEASE_STREAM), (unsigned)_IOC_WRITE);
}

TEST_F(VencCalls, ArgumentChecksSendNothing) {
    MI_VENC_Pack_t pack[2];
    MI_VENC_Stream_t st;
    memset(&st, 0, sizeof st);
    st.pstPack = pack;
    st.u32PackCount = 2;
    EXPECT_EQ((MI_U32)MI_VENC_GetStream(0, 34, &st, 0), MI_ERR_VENC_INVALID_CHNID);
    EXPECT_EQ((MI_U32)MI_VENC_GetStream(0, -1, &st, 0), MI_ERR_VENC_INVALID_CHNID);
    EXPECT_EQ((MI_U32)MI_VENC_GetStream(0, 2, nullptr, 0), MI_ERR_VENC_NULL_PTR);
    EXPECT_EQ((MI_U32)MI_VENC_GetStream(0, 2, &st, -2), MI_ERR_VENC_ILLEGAL_PARAM);
    st.u32PackCount = 0;
    EXPECT_EQ((MI_U32)MI_VENC_GetStream(0, 2, &st, 0), MI_ERR_VENC_ILLEGAL_PARAM);
    st.u32PackCount = 2;
    st.pstPack = nullptr;
    EXPECT_EQ((MI_U32)MI_VENC_GetStream(0, 2, &st, 0), MI_ERR_VENC_ILLEGAL_PARAM);
    EXPECT_EQ((MI_U32)MI_VENC_SetMaxStreamCnt(0, 2, 1), MI_ERR_VENC_ILLEGAL_PARAM);
    EXPECT_EQ((MI_U32)MI_VENC_Query(0, 2, nullptr), MI_ERR_VENC_NULL_PTR);
    EXPECT_EQ((MI_U32)MI_VENC_CreateChn(0, 2, nullptr), MI_ERR_VENC_NULL_PTR);
    EXPECT_EQ((MI_U32)MI_VENC_StartRecvPic(0, 99), MI_ERR_VENC_INVALID_CHNID);
    EXPECT_EQ((MI_U32)MI_VENC_CloseFd(0, 34), MI_ERR_VENC_INVALID_CHNID);
    st.pstPack = pack;
    st.hMiSys = 0;  // nothing fetched
    EXPECT_EQ((MI_U32)MI_VENC_ReleaseStream(0, 2, &st), MI_ERR_VENC_NULL_PTR);
    EXPECT_TRUE(venc_trace().empty());
}

TEST_F(VencCalls, GetCallsCopyBackOnlyOnSuccess) {
    MI_VENC_ChnStat_t stat;
    memset(&stat, 0x5a, sizeof stat);
    vb::inject("/dev/mi_venc", MI_VENC_IOC_QUERY, (int)MI_ERR_VENC_UNEXIST, 1);
    EXPECT_EQ((MI_U32)MI_VENC_Query(0, 4, &stat), MI_ERR_VENC_UNEXIST);
    EXPECT_EQ(stat.u32CurPacks, 0x5a5a5a5au);
    EXPECT_EQ(MI_VENC_Query(0, 4, &stat), 0);
    EXPECT_EQ(stat.u32FrmRateNum, 30u);

    MI_U32 cnt = 77;
    vb::inject("/dev/mi_venc", MI_VENC_IOC_GET_MAX_STREAM_CNT, -1, 1);
    EXPECT_EQ(MI_VENC_GetMaxStreamCnt(0, 4, &cnt), -1);
    EXPECT_EQ(cnt, 77u);
    EXPECT_EQ(MI_VENC_SetMaxStreamCnt(0, 4, 60), 0);
    EXPECT_EQ(MI_VENC_GetMaxStreamCnt(0, 4, &cnt), 0);
    EXPECT_EQ(cnt, 60u);

    MI_VENC_ParamH264Vui_t vui;
    memset(&vui, 0, sizeof vui);
    vui.stVuiTimeInfo.u8TimingInfoPresentFlag = 1;
    vui.stVuiTimeInfo.u32TimeScale = 25;
    EXPECT_EQ(MI_VENC_SetH264Vui(0, 4, &vui), 0);
    MI_VENC_ParamH264Vui_t back;
    memset(&back, 0xee, sizeof back);
    vb::inject("/dev/mi_venc", MI_VENC_IOC_GET_H264_VUI, (int)MI_ERR_VENC_NOT_PERM, 1);
    EXPECT_EQ((MI_U32)MI_VENC_GetH264Vui(0, 4, &back), MI_ERR_VENC_NOT_PERM);
    EXPECT_EQ(back.stVuiTimeInfo.u32TimeScale, 0xeeeeeeeeu);
    EXPECT_EQ(MI_VENC_GetH264Vui(0, 4, &back), 0);
    EXPECT_EQ(back.stVuiTimeInfo.u32TimeScale, 25u);
    // The get request went out cleared: the driver saw zeros after the channel.
    auto t = venc_trace();
    ASSERT_FALSE(t.empty());
    const auto &last = t.back();
    ASSERT_EQ(last.code, MI_VENC_IOC_GET_H264_VUI);
    for (size_t i = 4; i < last.in.size(); i++) ASSERT_EQ(last.in[i], 0) << i;
}

// ---- fetch and release -----------------------------------------------------

TEST_F(VencCalls, FetchOnePackKeyFrameAndReleaseIt) {
    std::vector<uint8_t> key;
    add_nal(&key, 4, 0x67, 12);
    add_nal(&key, 4, 0x68, 3);
    add_nal(&key, 4, 0x65, 900);
    g_fake->queue(256, key, kH264End | (E_MI_VENC_BASE_IDR << 4), 123456789, 0x100000005ull);

    MI_VENC_Pack_t pack[4];
    memset(pack, 0, sizeof pack);
    MI_VENC_Stream_t st;
    memset(&st, 0, sizeof st);
    st.pstPack = pack;
    st.u32PackCount = 4;
    st.stH264Info.eRefType = E_MI_VENC_REF_TYPE_MAX;
    ASSERT_EQ(MI_VENC_GetStream(0, 5, &st, 40), 0);
    ASSERT_NE(pack[0].pu8Addr, nullptr);
    EXPECT_EQ(memcmp(pack[0].pu8Addr, key.data(), key.size()), 0);
    EXPECT_EQ(pack[0].u32Len, key.size());
    EXPECT_EQ(pack[0].phyAddr, g_fake->pa + 256);
    EXPECT_EQ(pack[0].u64PTS, 123456789u);
    EXPECT_EQ(pack[0].bFrameEnd, 1);
    EXPECT_EQ(pack[0].u8FrameQP, 31);
    EXPECT_EQ(pack[0].s32PocNum, 4);
    EXPECT_EQ(pack[0].u32Gradient, 9u);
    EXPECT_EQ(pack[0].asackInfo[0].u32SliceId, 1u);
    EXPECT_EQ(pack[0].u32DataNum, 3u);
    EXPECT_EQ(st.u32Seq, 5u);  // low 32 bits of the sequence number
    EXPECT_EQ(st.stH264Info.eRefType, E_MI_VENC_BASE_IDR);
    EXPECT_NE(st.hMiSys, 0);

    // The fetch path on the wire: handle, ring info (first time), head, stream.
    auto t = venc_trace();
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0].code, MI_VENC_IOC_RING_GET_HANDLE);
    EXPECT_EQ(t[1].code, MI_VENC_IOC_RING_GET_INFO);
    EXPECT_EQ(t[2].code, MI_VENC_IOC_RING_GET_HEAD);
    EXPECT_EQ(t[3].code, MI_VENC_IOC_GET_STREAM);
    MI_VENC_RingPoolGetHeadRecord_t sent;
    memcpy(&sent, t[2].in.data(), sizeof sent);
    EXPECT_EQ(sent.u32MaxMsToWait, 40u);
    EXPECT_EQ(sent.s32ChnId, 5);
    EXPECT_EQ(sent.hHandle, g_fake->handle);
    for (uint8_t b : t[3].in) ASSERT_EQ(b, 0);  // the stream record goes out zeroed

    vb::trace_clear();
    ASSERT_EQ(MI_VENC_ReleaseStream(0, 5, &st), 0);
    EXPECT_EQ(st.hMiSys, 0);
    t = venc_trace();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].code, MI_VENC_IOC_RING_RELEASE_HEAD);
    EXPECT_EQ(t[1].code, MI_VENC_IOC_RELEASE_STREAM);
    int32_t chn;
    memcpy(&chn, t[1].in.data(), 4);
    EXPECT_EQ(chn, 5);
    EXPECT_EQ(g_fake->outstanding, 0);

    // The mapping is reused: no ring info on the next fetch.
    g_fake->queue(0, p_frame(), kH264End, 1, 6);
    vb::trace_clear();
    ASSERT_EQ(MI_VENC_GetStream(0, 5, &st, 0), 0);
    EXPECT_EQ(count(MI_VENC_IOC_RING_GET_INFO), 0);
    EXPECT_EQ(MI_VENC_ReleaseStream(0, 5, &st), 0);
}

TEST_F(VencCalls, MultiPackFrameAndSliceNumbers) {
    g_fake->queue(0, p_frame(100), kH264Mid, 10, 1);
    g_fake->queue(1000, p_frame(100), kH264Mid, 10, 1);
    g_fake->queue(2000, p_frame(100), kH264End, 10, 1);
    MI_VENC_Pack_t pack[8];
    memset(pack, 0, sizeof pack);
    MI_VENC_Stream_t st;
    memset(&st, 0, sizeof st);
    st.pstPack = pack;
    st.u32PackCount = 8;
    ASSERT_EQ(MI_VENC_GetStream(0, 6, &st, 0), 0);
    EXPECT_EQ(g_fake->head_calls, 3);
    EXPECT_EQ(pack[0].bFrameEnd, 0);
    EXPECT_EQ(pack[1].bFrameEnd, 0);
    EXPECT_EQ(pack[2].bFrameEnd, 1);
    EXPECT_EQ(pack[0].asackInfo[0].u32SliceId, 1u);
    EXPECT_EQ(pack[1].asackInfo[0].u32SliceId, 2u);
    EXPECT_EQ(pack[2].asackInfo[0].u32SliceId, 3u);
    EXPECT_EQ(pack[2].phyAddr, g_fake->pa + 2000);
    EXPECT_EQ(pack[0].u32DataNum, 1u);  // only pack 0 is split
    EXPECT_EQ(pack[1].u32DataNum, 0u);
    ASSERT_EQ(MI_VENC_ReleaseStream(0, 6, &st), 0);
    EXPECT_EQ(g_fake->release_head, 3);
    EXPECT_EQ(g_fake->outstanding, 0);

    // A frame larger than the pack array stops at the array's end.
    g_fake->queue(0, p_frame(), kH264Mid, 11, 2);
    g_fake->queue(500, p_frame(), kH264Mid, 11, 2);
    g_fake->queue(900, p_frame(), kH264End, 11, 2);
    st.u32PackCount = 2;
    ASSERT_EQ(MI_VENC_GetStream(0, 6, &st, 0), 0);
    EXPECT_EQ(g_fake->outstanding, 2);
    ASSERT_EQ(MI_VENC_ReleaseStream(0, 6, &st), 0);
    EXPECT_EQ(g_fake->outstanding, 0);
}

TEST_F(VencCalls, ReleaseReturnsExactlyTheFetchedRecords) {
    // The stream thread sizes its array from the driver's pack count, which
    // may exceed the packs of one frame: the release must not hand back
    // records of frames it never fetched.
    for (int i = 0; i < 3; i++) g_fake->queue(i * 1024, p_frame(), kH264End, 100 + i, 20 + i);
    MI_VENC_Pack_t pack[16];
    memset(pack, 0, sizeof pack);
    MI_VENC_Stream_t st;
    memset(&st, 0, sizeof st);
    st.pstPack = pack;
    st.u32PackCount = 3;
    for (int i = 0; i < 3; i++) {
        ASSERT_EQ(MI_VENC_GetStream(0, 7, &st, 0), 0) << i;
        EXPECT_EQ(st.u32Seq, (MI_U32)(20 + i));
        EXPECT_EQ(pack[0].u64PTS, (MI_U64)(100 + i));
        ASSERT_EQ(MI_VENC_ReleaseStream(0, 7, &st), 0);
        EXPECT_EQ(g_fake->release_head, i + 1);
        EXPECT_EQ(g_fake->outstanding, 0);
    }
    // A release with no fetch outstanding returns nothing more.
    st.hMiSys = 1;
    EXPECT_EQ(MI_VENC_ReleaseStream(0, 7, &st), 0);
    EXPECT_EQ(g_fake->release_head, 3);
}

TEST_F(VencCalls, FailureAfterTheFirstPackLeaksNothing) {
    g_fake->queue(0, p_frame(), kH264Mid, 1, 1);  // the frame's second pack never comes
    MI_VENC_Pack_t pack[4];
    memset(pack, 0, sizeof pack);
    MI_VENC_Stream_t st;
    memset(&st, 0, sizeof st);
    st.pstPack = pack;
    st.u32PackCount = 4;
    EXPECT_EQ((MI_U32)MI_VENC_GetStream(0, 8, &st, 0), MI_ERR_VENC_BUF_EMPTY);
    EXPECT_EQ(g_fake->outstanding, 0);
    EXPECT_EQ(g_fake->release_head, 1);
    EXPECT_EQ(g_fake->release_stream, 1);
    EXPECT_EQ(st.hMiSys, 0);

    // Same with the driver failing the request itself on the second pack.
    g_fake->queue(0, p_frame(), kH264Mid, 2, 2);
    g_fake->queue(400, p_frame(), kH264End, 2, 2);
    g_fake->fail_head_after = 1;
    g_fake->fail_head_code = (int)MI_ERR_VENC_NOT_PERM;
    memset(&st, 0, sizeof st);
    st.pstPack = pack;
    st.u32PackCount = 4;
    EXPECT_EQ((MI_U32)MI_VENC_GetStream(0, 8, &st, 0), MI_ERR_VENC_NOT_PERM);
    EXPECT_EQ(g_fake->outstanding, 0);
    EXPECT_EQ(st.hMiSys, 0);
    g_fake->fail_head_after = -1;
    // The frame's second pack is still queued; nothing else went missing.
    EXPECT_EQ(g_fake->script.size(), 1u);
}

TEST_F(VencCalls, PackAddressesOutsideTheRingAreRefused) {
    MI_VENC_Pack_t pack[2];
    MI_VENC_Stream_t st;
    const MI_PHY bad[] = {g_fake->pa - 64, g_fake->pa + FakeVenc::kRingSize - 100,
                          g_fake->pa + FakeVenc::kRingSize + 4096, 0};
    for (MI_PHY pa : bad) {
        MI_VENC_RingPoolGetHeadRecord_t r;
        memset(&r, 0, sizeof r);
        r.u64ExtFlags = kH264End;
        r.PA = pa;
        r.u32Length = 200;
        g_fake->queue_raw(r);
        memset(pack, 0, sizeof pack);
        memset(&st, 0, sizeof st);
        st.pstPack = pack;
        st.u32PackCount = 2;
        EXPECT_EQ((MI_U32)MI_VENC_GetStream(0, 9, &st, 0), MI_ERR_VENC_FAILED) << std::hex << pa;
        EXPECT_EQ(pack[0].pu8Addr, nullptr);
        EXPECT_EQ(g_fake->outstanding, 0);  // handed straight back
    }
    // A length that wraps past the end is as bad as a wrong address.
    MI_VENC_RingPoolGetHeadRecord_t r;
    memset(&r, 0, sizeof r);
    r.u64ExtFlags = kH264End;
    r.PA = g_fake->pa + 16;
    r.u32Length = 0xfffffff8u;
    g_fake->queue_raw(r);
    memset(&st, 0, sizeof st);
    st.pstPack = pack;
    st.u32PackCount = 2;
    EXPECT_EQ((MI_U32)MI_VENC_GetStream(0, 9, &st, 0), MI_ERR_VENC_FAILED);
    EXPECT_EQ(g_fake->outstanding, 0);
}

TEST_F(VencCalls, FailedSplitOrStreamRequestHandsTheFrameBack) {
    std::vector<uint8_t> aud;
    add_nal(&aud, 4, 0x09, 10);  // not a slice
    g_fake->queue(0, aud, kH264End, 1, 1);
    MI_VENC_Pack_t pack[2];
    memset(pack, 0, sizeof pack);
    MI_VENC_Stream_t st;
    memset(&st, 0, sizeof st);
    st.pstPack = pack;
    st.u32PackCount = 2;
    EXPECT_EQ((MI_U32)MI_VENC_GetStream(0, 10, &st, 0), MI_ERR_VENC_FAILED);
    EXPECT_EQ(g_fake->outstanding, 0);
    EXPECT_EQ(g_fake->release_stream, 1);

    g_fake->queue(0, p_frame(), kH264End, 1, 1);
    vb::inject("/dev/mi_venc", MI_VENC_IOC_GET_STREAM, (int)MI_ERR_VENC_NOT_PERM, 1);
    EXPECT_EQ((MI_U32)MI_VENC_GetStream(0, 10, &st, 0), MI_ERR_VENC_NOT_PERM);
    EXPECT_EQ(g_fake->outstanding, 0);
    EXPECT_EQ(st.hMiSys, 0);

    vb::inject("/dev/mi_venc", MI_VENC_IOC_RING_GET_HANDLE, (int)MI_ERR_VENC_UNEXIST, 1);
    EXPECT_EQ((MI_U32)MI_VENC_GetStream(0, 10, &st, 0), MI_ERR_VENC_ILLEGAL_PARAM);
    EXPECT_EQ(MI_VENC_GetStream(0, 10, &st, 0), (MI_S32)MI_ERR_VENC_BUF_EMPTY);  // nothing queued
}

TEST_F(VencCalls, ANewRingHandleRemapsTheRing) {
    g_fake->queue(0, p_frame(), kH264End, 1, 1);
    MI_VENC_Pack_t pack[2];
    MI_VENC_Stream_t st;
    memset(&st, 0, sizeof st);
    st.pstPack = pack;
    st.u32PackCount = 2;
    ASSERT_EQ(MI_VENC_GetStream(0, 11, &st, 0), 0);
    ASSERT_EQ(MI_VENC_ReleaseStream(0, 11, &st), 0);
    g_fake->handle = 0x4302;
    g_fake->queue(64, p_frame(), kH264End, 2, 2);
    vb::trace_clear();
    ASSERT_EQ(MI_VENC_GetStream(0, 11, &st, 0), 0);
    EXPECT_EQ(count(MI_VENC_IOC_RING_GET_INFO), 1);
    bool unmapped = false;
    for (auto &e : vb::trace("/dev/mi_sys")) unmapped |= _IOC_NR(e.code) == 0x0b;
    EXPECT_TRUE(unmapped);
    ASSERT_EQ(MI_VENC_ReleaseStream(0, 11, &st), 0);
    g_fake->handle = 0x4201;
}

TEST_F(VencCalls, ReleaseFailureIsReturned) {
    g_fake->queue(0, p_frame(), kH264End, 1, 1);
    MI_VENC_Pack_t pack[2];
    MI_VENC_Stream_t st;
    memset(&st, 0, sizeof st);
    st.pstPack = pack;
    st.u32PackCount = 2;
    ASSERT_EQ(MI_VENC_GetStream(0, 12, &st, 0), 0);
    vb::inject("/dev/mi_venc", MI_VENC_IOC_RING_RELEASE_HEAD, (int)MI_ERR_VENC_BUSY, 1);
    EXPECT_EQ((MI_U32)MI_VENC_ReleaseStream(0, 12, &st), MI_ERR_VENC_BUSY);
    EXPECT_NE(st.hMiSys, 0);  // still outstanding: the caller may retry
    EXPECT_EQ(MI_VENC_ReleaseStream(0, 12, &st), 0);
    EXPECT_EQ(g_fake->outstanding, 0);
}

TEST_F(VencCalls, StopRetriesWhileTheDriverIsBusy) {
    vb::inject("/dev/mi_venc", MI_VENC_IOC_STOP_RECV_PIC, (int)MI_ERR_VENC_BUSY, 2);
    EXPECT_EQ(MI_VENC_StopRecvPic(0, 13), 0);
    EXPECT_EQ(count(MI_VENC_IOC_STOP_RECV_PIC), 3);

    vb::trace_clear();
    vb::inject("/dev/mi_venc", MI_VENC_IOC_STOP_RECV_PIC, (int)MI_ERR_VENC_BUSY);
    EXPECT_EQ((MI_U32)MI_VENC_StopRecvPic(0, 13), MI_ERR_VENC_BUSY);
    EXPECT_EQ(count(MI_VENC_IOC_STOP_RECV_PIC), 101);

    vb::inject_clear();
    vb::trace_clear();
    vb::inject("/dev/mi_venc", MI_VENC_IOC_STOP_RECV_PIC, -1, 1);
    EXPECT_EQ(MI_VENC_StopRecvPic(0, 13), -1);
    EXPECT_EQ(count(MI_VENC_IOC_STOP_RECV_PIC), 1);
}

// ---- channel life and the poll descriptor ------------------------------------------

bool readable(int fd) {
    fd_set rs;
    FD_ZERO(&rs);
    FD_SET(fd, &rs);
    timeval tv{0, 20000};
    return select(fd + 1, &rs, nullptr, nullptr, &tv) == 1;
}

TEST_F(VencCalls, CreateSendsTheAttributesAndAttachesThePollDescriptor) {
    MI_VENC_ChnAttr_t a = h264_attr(1280, 720);
    ASSERT_EQ(MI_VENC_CreateChn(0, 14, &a), 0);
    auto t = venc_trace();
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t[0].code, MI_VENC_IOC_CREATE_CHN);
    MI_VENC_CreateChn_t sent;
    memcpy(&sent, t[0].in.data(), sizeof sent);
    EXPECT_EQ(sent.VeChn, 14);
    EXPECT_EQ(memcmp(&sent.stAttr, &a, sizeof a), 0);
    EXPECT_EQ(t[1].code, MI_VENC_IOC_GET_POLL_DATA);

    int fd = MI_VENC_GetFd(0, 14);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(MI_VENC_GetFd(0, 14), fd);  // cached
    const MI_SYS_ChnPort_t port{E_MI_MODULE_ID_VENC, 0, 14, 0};
    EXPECT_FALSE(readable(fd));
    vb::port_set_ready(port, true);
    EXPECT_TRUE(readable(fd));
    vb::port_set_ready(port, false);
    EXPECT_FALSE(readable(fd));

    // CloseFd keeps the descriptor working.
    EXPECT_EQ(MI_VENC_CloseFd(0, 14), 0);
    EXPECT_GE(fcntl(fd, F_GETFD), 0);

    vb::trace_clear();
    EXPECT_EQ(MI_VENC_DestroyChn(0, 14), 0);
    t = venc_trace();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].code, MI_VENC_IOC_RELEASE_POLL);
    EXPECT_EQ(t[1].code, MI_VENC_IOC_DESTROY_CHN);
    // A later create reuses the descriptor.
    ASSERT_EQ(MI_VENC_CreateChn(0, 14, &a), 0);
    EXPECT_EQ(MI_VENC_GetFd(0, 14), fd);
}

// The same fields from a clean and from a dirty caller record reach the driver
// as the same bytes: no alignment byte, and no union byte past the member the
// type or mode selects.
TEST_F(VencCalls, CreateSendsNoByteTheCallerDidNotSet) {
    auto sent = [&](bool dirty, bool jpeg) {
        MI_VENC_ChnAttr_t a;
        memset(&a, dirty ? 0xAB : 0, sizeof a);
        if (jpeg) {
            a.stVeAttr.eType = E_MI_VENC_MODTYPE_JPEGE;
            a.stVeAttr.stAttrJpeg = {1920, 1080, 1 << 20, 1, 1920, 1080, 0, 0};
            a.stRcAttr.eRcMode = E_MI_VENC_RC_MODE_MJPEGFIXQP;
            a.stRcAttr.stAttrMjpegFixQp = {30, 1, 80};
        } else {
            a.stVeAttr.eType = E_MI_VENC_MODTYPE_H264E;
            a.stVeAttr.stAttrH264e = {1920, 1080, 1 << 20, 2, 1, 1920, 1080, 0, 1};
            a.stRcAttr.eRcMode = E_MI_VENC_RC_MODE_H264CBR;
            a.stRcAttr.stAttrH264Cbr = {30, 1, 30, 1, 4 << 20, 1};
        }
        a.stRcAttr.pRcAttr = nullptr;
        vb::trace_clear();
        MI_VENC_CreateChn(0, 9, &a);
        MI_VENC_DestroyChn(0, 9);
        auto t = venc_trace();
        EXPECT_FALSE(t.empty());
        return t.empty() ? std::vector<uint8_t>{} : t[0].in;
    };
    EXPECT_EQ(sent(false, false), sent(true, false));
    EXPECT_EQ(sent(false, true), sent(true, true));
}

TEST_F(VencCalls, ExistingChannelIsNoErrorAndNeedsNoSetUp) {
    MI_VENC_ChnAttr_t a = h264_attr(640, 480);
    vb::inject("/dev/mi_venc", MI_VENC_IOC_CREATE_CHN, (int)MI_ERR_VENC_EXIST, 1);
    EXPECT_EQ(MI_VENC_CreateChn(0, 15, &a), 0);
    EXPECT_EQ(count(MI_VENC_IOC_GET_POLL_DATA), 0);
    vb::inject("/dev/mi_venc", MI_VENC_IOC_CREATE_CHN, (int)MI_ERR_VENC_ILLEGAL_PARAM, 1);
    EXPECT_EQ((MI_U32)MI_VENC_CreateChn(0, 15, &a), MI_ERR_VENC_ILLEGAL_PARAM);
    vb::inject("/dev/mi_venc", MI_VENC_IOC_CREATE_CHN, -1, 1);
    EXPECT_EQ(MI_VENC_CreateChn(0, 15, &a), -1);
}

TEST_F(VencCalls, FailedPollSetUpIsReportedAndTheChannelTakenDown) {
    MI_VENC_ChnAttr_t a = h264_attr(640, 480);
    vb::inject("/dev/mi_venc", MI_VENC_IOC_GET_POLL_DATA, (int)MI_ERR_VENC_UNEXIST, 1);
    EXPECT_EQ((MI_U32)MI_VENC_CreateChn(0, 16, &a), MI_ERR_VENC_FAILED);
    auto t = venc_trace();
    ASSERT_FALSE(t.empty());
    EXPECT_EQ(t.back().code, MI_VENC_IOC_DESTROY_CHN);

    // The attach on the poll node itself failing is reported the same way.
    vb::trace_clear();
    vb::inject("/dev/mi_venc", MI_VENC_IOC_GET_POLL_DATA, 0, 1);  // answers 0 but leaves no token
    EXPECT_EQ((MI_U32)MI_VENC_CreateChn(0, 16, &a), MI_ERR_VENC_FAILED);
    EXPECT_EQ(count(MI_VENC_IOC_DESTROY_CHN), 1);
}

TEST_F(VencCalls, DescriptorZeroIsAValidPollDescriptor) {
    int saved = dup(0);
    ASSERT_GE(saved, 0);
    close(0);
    int fd = MI_VENC_GetFd(0, 17);  // the lowest free descriptor: 0
    ASSERT_EQ(fd, 0);
    EXPECT_EQ(MI_VENC_GetFd(0, 17), 0);  // kept, not reopened
    MI_VENC_ChnAttr_t a = h264_attr(640, 480);
    ASSERT_EQ(MI_VENC_CreateChn(0, 17, &a), 0);
    vb::port_set_ready(MI_SYS_ChnPort_t{E_MI_MODULE_ID_VENC, 0, 17, 0}, true);
    EXPECT_TRUE(readable(0));
    vb::trace_clear();
    EXPECT_EQ(MI_VENC_DestroyChn(0, 17), 0);
    EXPECT_EQ(count(MI_VENC_IOC_RELEASE_POLL), 1);  // descriptor 0 counts as one
    close(saved);
}

}  // namespace
