// The virtual encoder through the library: pictures in through the binding
// graph, access units out through the stream ring, the poll descriptor, the
// end of blocked waits, and pictures lost (and counted) when the consumer
// falls behind.
#include <dirent.h>
#include <stdlib.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

#include "mi_venc.h"
#include "mi_venc_ioctl.h"
#include "vb.h"
#include "vb_venc_test.h"
#include "venc_test_picture.h"

namespace {

struct PrivateBoardRoot {
    PrivateBoardRoot() {
        char tmpl[] = "/tmp/ut_vb_venc.XXXXXX";
        if (mkdtemp(tmpl)) setenv("VB_ROOT", tmpl, 1);
    }
} g_root;

MI_SYS_ChnPort_t scl_port(MI_U32 port) { return {E_MI_MODULE_ID_SCL, 0, 0, port}; }
MI_SYS_ChnPort_t venc_port(MI_U32 chn) { return {E_MI_MODULE_ID_VENC, 0, chn, 0}; }

MI_VENC_ChnAttr_t attr(MI_U32 w, MI_U32 h, MI_U32 profile, MI_U32 bitrate, MI_U32 gop = 10) {
    MI_VENC_ChnAttr_t a;
    memset(&a, 0, sizeof a);
    a.stVeAttr.eType = E_MI_VENC_MODTYPE_H264E;
    MI_VENC_AttrH264_t &h264 = a.stVeAttr.stAttrH264e;
    h264.u32MaxPicWidth = h264.u32PicWidth = w;
    h264.u32MaxPicHeight = h264.u32PicHeight = h;
    h264.u32BufSize = w * h * 30;
    h264.u32Profile = profile;
    h264.bByFrame = 1;
    h264.u32BFrameNum = 2;  // asked for; a real-time encoder without look-ahead makes none
    h264.u32RefNum = 2;
    a.stRcAttr.eRcMode = E_MI_VENC_RC_MODE_H264CBR;
    a.stRcAttr.stAttrH264Cbr.u32Gop = gop;
    a.stRcAttr.stAttrH264Cbr.u32SrcFrmRateNum = 30;
    a.stRcAttr.stAttrH264Cbr.u32SrcFrmRateDen = 1;
    a.stRcAttr.stAttrH264Cbr.u32BitRate = bitrate;
    return a;
}

bool wait_for(const std::function<bool()> &pred, int ms = 5000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

vbvenc::ChnStats stats(int chn) {
    vbvenc::ChnStats s;
    vbvenc::stats(chn, &s);
    return s;
}

bool readable(int fd, int ms = 0) {
    fd_set rs;
    FD_ZERO(&rs);
    FD_SET(fd, &rs);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    return select(fd + 1, &rs, nullptr, nullptr, &tv) == 1;
}

// One channel created, started and bound to scaler port `chn`.
class Channel {
public:
    Channel(int chn, const MI_VENC_ChnAttr_t &a) : chn_(chn), pic_(a.stVeAttr.stAttrH264e.u32PicWidth, a.stVeAttr.stAttrH264e.u32PicHeight) {
        MI_VENC_ChnAttr_t at = a;
        ok_ = MI_VENC_CreateChn(0, chn, &at) == 0 && MI_VENC_StartRecvPic(0, chn) == 0;
        vb::Binding b{scl_port((MI_U32)chn), venc_port((MI_U32)chn), 30, 30, 1, 0};
        ok_ = ok_ && vb::bind(b) == 0;
    }
    ~Channel() {
        vb::unbind(scl_port((MI_U32)chn_), venc_port((MI_U32)chn_));
        MI_VENC_StopRecvPic(0, chn_);
        MI_VENC_DestroyChn(0, chn_);
    }
    bool ok() const { return ok_; }
    // Hands picture n to the binding graph; returns its time stamp.
    uint64_t feed() {
        uint64_t pts = vb::pts_now();
        vb::deliver_from(scl_port((MI_U32)chn_), pic_.frame(n_++, pts));
        return pts;
    }
    // Feeds one picture and waits until the encoder has dealt with it.
    uint64_t feed_and_wait() {
        vbvenc::ChnStats s0 = stats(chn_);
        uint64_t pts = feed();
        wait_for([&] {
            vbvenc::ChnStats s = stats(chn_);
            return s.encoded + s.dropped > s0.encoded + s0.dropped;
        });
        return pts;
    }
    int chn() const { return chn_; }

private:
    int chn_;
    venc_test::MovingPicture pic_;
    uint64_t n_ = 0;
    bool ok_ = false;
};

struct Fetched {
    MI_VENC_Pack_t pack[4];
    MI_VENC_Stream_t st;
    Fetched() {
        memset(pack, 0, sizeof pack);
        memset(&st, 0, sizeof st);
        st.pstPack = pack;
        st.u32PackCount = 4;
    }
    std::vector<int> types() const {
        std::vector<int> t;
        for (MI_U32 i = 0; i < pack[0].u32DataNum; i++) t.push_back(pack[0].asackInfo[i].stPackType.eH264EType);
        return t;
    }
};

// NAL unit types of the picture entry of a pack, which runs to the pack's end
// and holds every slice of the picture; each must start with a 4-byte code.
std::vector<int> slice_types(const MI_VENC_Pack_t &p) {
    std::vector<int> t;
    if (p.u32DataNum == 0) return t;
    const MI_VENC_PackInfo_t &e = p.asackInfo[p.u32DataNum - 1];
    EXPECT_EQ(e.u32PackOffset + e.u32PackLength, p.u32Len);
    const MI_U8 *d = p.pu8Addr + e.u32PackOffset;
    for (MI_U32 i = 0; i + 3 < e.u32PackLength; i++) {
        if (d[i] || d[i + 1] || d[i + 2] != 1) continue;
        EXPECT_TRUE(i > 0 && d[i - 1] == 0) << "3-byte start code at " << i;
        t.push_back(d[i + 3] & 0x1f);
    }
    return t;
}

TEST(VirtualEncoder, KeyFramesCarrySpsPpsIdrAndTheProfileIsLabelled) {
    const MI_U32 profile_idc[] = {66, 77, 100};
    struct Row {
        MI_U32 profile, slices;
    };
    // The slice count is the board's ("venc-slices"); the library's split
    // still ends at the first slice, which runs to the end of the pack.
    for (Row row : {Row{0, 1}, Row{1, 1}, Row{2, 1}, Row{2, 3}}) {
        const MI_U32 prof = row.profile;
        Channel ch(2, attr(320, 240, prof, 500000, 4));
        ASSERT_TRUE(ch.ok());
        ASSERT_EQ(vb::ctl_exec("venc-slices 2 " + std::to_string(row.slices)), "slices " + std::to_string(row.slices));
#if defined(VB_HAVE_X264)
        const size_t slices = row.slices;
#else
        const size_t slices = 1;  // the light codec makes one slice whatever the setting
#endif
        for (int f = 0; f < 6; f++) {
            uint64_t pts = ch.feed_and_wait();
            Fetched s;
            ASSERT_EQ(MI_VENC_GetStream(0, 2, &s.st, 1000), 0) << f;
            const MI_VENC_Pack_t &p = s.pack[0];
            EXPECT_EQ(p.u64PTS, pts);  // the picture's own time stamp
            EXPECT_EQ(p.bFrameEnd, 1);
            EXPECT_EQ(s.st.u32Seq, (MI_U32)f);
            // Every NAL unit starts with a four-byte start code.
            for (MI_U32 i = 0; i < p.u32DataNum; i++) {
                const MI_U8 *nal = p.pu8Addr + p.asackInfo[i].u32PackOffset;
                ASSERT_EQ(nal[0] | nal[1] | nal[2], 0);
                ASSERT_EQ(nal[3], 1);
            }
            if (f % 4 == 0) {
                ASSERT_EQ(s.types(), (std::vector<int>{7, 8, 5})) << "frame " << f;
                EXPECT_EQ(p.pu8Addr[5], profile_idc[prof]);
                EXPECT_EQ(s.st.stH264Info.eRefType, E_MI_VENC_BASE_IDR);
            } else {
                EXPECT_EQ(s.types(), (std::vector<int>{1})) << "frame " << f;  // P only, never B
            }
            EXPECT_EQ(slice_types(p), std::vector<int>(slices, f % 4 == 0 ? 5 : 1)) << "frame " << f;
            ASSERT_EQ(MI_VENC_ReleaseStream(0, 2, &s.st), 0);
        }
    }
    vb::ctl_exec("venc-slices 2 1");
}

TEST(VirtualEncoder, PollDescriptorIsReadableExactlyWhileAFrameWaits) {
    Channel ch(3, attr(320, 240, 2, 500000));
    ASSERT_TRUE(ch.ok());
    int fd = MI_VENC_GetFd(0, 3);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(readable(fd));
    ch.feed_and_wait();
    ch.feed_and_wait();
    EXPECT_TRUE(readable(fd));
    MI_VENC_ChnStat_t stat;
    ASSERT_EQ(MI_VENC_Query(0, 3, &stat), 0);
    EXPECT_EQ(stat.u32LeftStreamFrames, 2u);
    EXPECT_EQ(stat.u32CurPacks, 1u);
    EXPECT_EQ(stat.u32FrmRateNum, 30u);
    for (int i = 0; i < 2; i++) {
        Fetched s;
        ASSERT_EQ(MI_VENC_GetStream(0, 3, &s.st, 0), 0);
        // Still readable while the second frame waits, not after the last.
        EXPECT_EQ(readable(fd), i == 0);
        ASSERT_EQ(MI_VENC_ReleaseStream(0, 3, &s.st), 0);
    }
    EXPECT_FALSE(readable(fd));
    ASSERT_EQ(MI_VENC_Query(0, 3, &stat), 0);
    EXPECT_EQ(stat.u32CurPacks, 0u);
    Fetched s;
    EXPECT_EQ((MI_U32)MI_VENC_GetStream(0, 3, &s.st, 0), MI_ERR_VENC_BUF_EMPTY);
}

TEST(VirtualEncoder, BlockedWaitEndsWhenTheChannelStopsOrGoesAway) {
    Channel ch(4, attr(320, 240, 2, 500000));
    ASSERT_TRUE(ch.ok());
    std::atomic<int> ret{1};
    std::thread t([&] {
        Fetched s;
        ret = MI_VENC_GetStream(0, 4, &s.st, -1);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(ret.load(), 1);  // still waiting
    ASSERT_EQ(MI_VENC_StopRecvPic(0, 4), 0);
    t.join();
    EXPECT_EQ((MI_U32)ret.load(), MI_ERR_VENC_BUF_EMPTY);

    // A wait on the driver ends with the channel's destruction as well.
    ASSERT_EQ(MI_VENC_StartRecvPic(0, 4), 0);
    MI_VENC_RingPoolGetHandle_t gh = {4, 0};
    ASSERT_EQ(mi_call(MI_DEV_VENC, MI_VENC_IOC_RING_GET_HANDLE, &gh, sizeof gh), 0);
    std::atomic<int> dret{1};
    std::thread w([&] {
        MI_VENC_RingPoolGetHeadRecord_t r;
        memset(&r, 0, sizeof r);
        r.hHandle = gh.hHandle;
        r.s32ChnId = 4;
        r.u32MaxMsToWait = 0xFFFFFFFFu;
        dret = mi_call(MI_DEV_VENC, MI_VENC_IOC_RING_GET_HEAD, &r, sizeof r);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(dret.load(), 1);
    MI_VENC_CHN c = 4;
    ASSERT_EQ(mi_call(MI_DEV_VENC, MI_VENC_IOC_DESTROY_CHN, &c, sizeof c), 0);
    w.join();
    EXPECT_EQ((MI_U32)dret.load(), MI_ERR_VENC_UNEXIST);
}

TEST(VirtualEncoder, PicturesAreLostAndCountedWhenTheConsumerFallsBehind) {
    Channel ch(5, attr(320, 240, 2, 500000, 30));
    ASSERT_TRUE(ch.ok());
    ASSERT_EQ(MI_VENC_SetMaxStreamCnt(0, 5, 3), 0);
    for (int i = 0; i < 10; i++) ch.feed_and_wait();
    vbvenc::ChnStats s = stats(5);
    EXPECT_EQ(s.encoded, 3u);
    EXPECT_EQ(s.dropped, 7u);
    EXPECT_EQ(s.dropped_input, 0u) << "the consumer's loss, not the encoder's";
    EXPECT_EQ(s.queued, 3u);
    std::string line = vb::ctl_exec("venc-stats 5");
    EXPECT_NE(line.find("encoded 3 dropped 7 dropped_ring 0 dropped_input 0"), std::string::npos) << line;

    // The frames kept are the oldest ones, in order; the stream resumes after.
    for (int i = 0; i < 3; i++) {
        Fetched f;
        ASSERT_EQ(MI_VENC_GetStream(0, 5, &f.st, 0), 0);
        EXPECT_EQ(f.st.u32Seq, (MI_U32)i);
        ASSERT_EQ(MI_VENC_ReleaseStream(0, 5, &f.st), 0);
    }
    ch.feed_and_wait();
    EXPECT_EQ(stats(5).encoded, 4u);
}

TEST(VirtualEncoder, PicturesComingFasterThanItEncodesAreLostAtItsInputAndCountedApart) {
    Channel ch(6, attr(640, 360, 2, 1000000, 30));
    ASSERT_TRUE(ch.ok());
    ASSERT_EQ(MI_VENC_SetMaxStreamCnt(0, 6, 64), 0);  // the consumer never falls behind here
    // The encoder is held, as in one encode longer than 24 frame times.
    vbvenc::TestHooks hold;
    hold.hold_input = true;
    vbvenc::set_test_hooks(hold);
    venc_test::MovingPicture mp(640, 360);
    vb::Picture pic = mp.frame(0, vb::pts_now());
    constexpr uint64_t kFed = 24, kDepth = 4;
    std::vector<uint64_t> fed;
    for (uint64_t i = 0; i < kFed; i++) {
        pic.pts += 33333;
        fed.push_back(pic.pts);
        vb::deliver_from(scl_port(6), pic);
    }
    vbvenc::ChnStats s = stats(6);
    EXPECT_EQ(s.encoded, 0u);
    EXPECT_EQ(s.dropped_input, kFed - kDepth);
    vbvenc::set_test_hooks(vbvenc::TestHooks{});
    ASSERT_TRUE(wait_for([&] { return stats(6).encoded == kDepth; }));
    s = stats(6);
    EXPECT_EQ(s.dropped, s.dropped_input);
    EXPECT_EQ(s.dropped_ring, 0u);
    // The newest pictures are the ones kept.
    for (uint64_t i = kFed - kDepth; i < kFed; i++) {
        Fetched f;
        ASSERT_EQ(MI_VENC_GetStream(0, 6, &f.st, 0), 0);
        EXPECT_EQ(f.st.pstPack[0].u64PTS, (MI_U64)fed[i]);
        ASSERT_EQ(MI_VENC_ReleaseStream(0, 6, &f.st), 0);
    }
}

TEST(VirtualEncoder, EncodingRunsOnTheChannelsOwnThread) {
    Channel ch(6, attr(320, 240, 2, 500000));
    ASSERT_TRUE(ch.ok());
    auto named = [] {
        bool found = false;
        if (DIR *d = opendir("/proc/self/task")) {
            while (dirent *e = readdir(d)) {
                std::ifstream f(std::string("/proc/self/task/") + e->d_name + "/comm");
                std::string name;
                if (f && std::getline(f, name) && name == "vb-venc6") found = true;
            }
            closedir(d);
        }
        return found;
    };
    bool found = wait_for(named, 2000);  // the thread names itself once running
    EXPECT_TRUE(found);
    // Delivery only queues: the picture is encoded after deliver_from returned,
    // so nothing is in the ring right after it.
    ch.feed();
    ch.feed();
    EXPECT_LE(stats(6).encoded + stats(6).dropped, 2u);
}

TEST(VirtualEncoder, RestartBeginsWithAKeyFrame) {
    Channel ch(7, attr(320, 240, 2, 500000, 100));
    ASSERT_TRUE(ch.ok());
    for (int i = 0; i < 3; i++) ch.feed_and_wait();
    for (int i = 0; i < 3; i++) {
        Fetched f;
        ASSERT_EQ(MI_VENC_GetStream(0, 7, &f.st, 0), 0);
        EXPECT_EQ(f.types().back(), i == 0 ? 5 : 1);
        MI_VENC_ReleaseStream(0, 7, &f.st);
    }
    ASSERT_EQ(MI_VENC_StopRecvPic(0, 7), 0);
    ch.feed();  // ignored while stopped
    ASSERT_EQ(MI_VENC_StartRecvPic(0, 7), 0);
    ch.feed_and_wait();
    Fetched f;
    ASSERT_EQ(MI_VENC_GetStream(0, 7, &f.st, 0), 0);
    EXPECT_EQ(f.types(), (std::vector<int>{7, 8, 5}));
    EXPECT_EQ(stats(7).encoded, 4u);
    MI_VENC_ReleaseStream(0, 7, &f.st);
}

TEST(VirtualEncoder, PicturesOfAnotherSizeOrLayoutAreConverted) {
    Channel ch(8, attr(320, 240, 2, 500000));
    ASSERT_TRUE(ch.ok());
    auto buf = std::make_shared<std::vector<uint8_t>>(640 * 480 * 2, 0x80);
    vb::Picture p;
    p.width = 640;
    p.height = 480;
    p.fmt = vb::PixFmt::UYVY422;
    p.pts = 42;
    p.data = buf;
    vb::deliver_from(scl_port(8), p);
    ASSERT_TRUE(wait_for([] { return stats(8).encoded == 1; }));
    // A picture shorter than its size claims is refused, not read past its end.
    p.data = std::make_shared<std::vector<uint8_t>>(100);
    vb::deliver_from(scl_port(8), p);
    ASSERT_TRUE(wait_for([] { return stats(8).dropped == 1; }));
    EXPECT_EQ(stats(8).encoded, 1u);
    Fetched f;
    ASSERT_EQ(MI_VENC_GetStream(0, 8, &f.st, 0), 0);
    EXPECT_EQ(f.pack[0].u64PTS, 42u);
    MI_VENC_ReleaseStream(0, 8, &f.st);
}

TEST(VirtualEncoder, DriverChecksChannelsAndParameters) {
    MI_VENC_ChnAttr_t a = attr(321, 240, 2, 500000);  // odd width
    EXPECT_EQ((MI_U32)MI_VENC_CreateChn(0, 9, &a), MI_ERR_VENC_ILLEGAL_PARAM);
    a = attr(320, 240, 2, 500000);
    a.stRcAttr.stAttrH264Cbr.u32SrcFrmRateNum = 0;
    EXPECT_EQ((MI_U32)MI_VENC_CreateChn(0, 9, &a), MI_ERR_VENC_ILLEGAL_PARAM);
    a = attr(320, 240, 2, 500000);
    a.stVeAttr.eType = E_MI_VENC_MODTYPE_H265E;
    EXPECT_EQ((MI_U32)MI_VENC_CreateChn(0, 9, &a), 0xA0022008u);
    EXPECT_EQ((MI_U32)MI_VENC_StartRecvPic(0, 9), MI_ERR_VENC_UNEXIST);

    a = attr(320, 240, 1, 500000);
    ASSERT_EQ(MI_VENC_CreateChn(0, 9, &a), 0);
    EXPECT_EQ(MI_VENC_CreateChn(0, 9, &a), 0);  // already there: no error
    MI_U32 cnt = 0;
    ASSERT_EQ(MI_VENC_GetMaxStreamCnt(0, 9, &cnt), 0);
    EXPECT_LE(cnt, 9u);  // small by default: the recorder raises it
    MI_VENC_MaxStreamCntArg_t m = {9, 1};
    EXPECT_EQ((MI_U32)mi_call(MI_DEV_VENC, MI_VENC_IOC_SET_MAX_STREAM_CNT, &m, sizeof m), MI_ERR_VENC_ILLEGAL_PARAM);
    MI_VENC_ParamH264Entropy_t e = {0, 0};
    ASSERT_EQ(MI_VENC_SetH264Entropy(0, 9, &e), 0);
    MI_VENC_ParamH264Entropy_t back = {9, 9};
    ASSERT_EQ(MI_VENC_GetH264Entropy(0, 9, &back), 0);
    EXPECT_EQ(back.u32EntropyEncModeI, 0u);
    e.u32EntropyEncModeP = 2;
    EXPECT_EQ((MI_U32)MI_VENC_SetH264Entropy(0, 9, &e), MI_ERR_VENC_ILLEGAL_PARAM);
    MI_VENC_ParamH264Vui_t vui;
    ASSERT_EQ(MI_VENC_GetH264Vui(0, 9, &vui), 0);
    EXPECT_EQ(vui.stVuiTimeInfo.u8TimingInfoPresentFlag, 1);
    EXPECT_EQ(vui.stVuiTimeInfo.u32TimeScale, 30u);
    ASSERT_EQ(MI_VENC_DestroyChn(0, 9), 0);
    EXPECT_EQ((MI_U32)MI_VENC_DestroyChn(0, 9), MI_ERR_VENC_UNEXIST);
}

TEST(VirtualEncoder, AFullRingLosesTheFrameAndRestartsWithAKeyFrame) {
#if !defined(VB_HAVE_X264)
    GTEST_SKIP() << "needs real encoded frames (x264)";
#else
    // 20 Mbit/s at 640x360 gives frames of tens of kilobytes: the smallest
    // ring (1 MiB) fills long before 300 frames.
    Channel ch(10, attr(640, 360, 2, 20000000, 1000));
    ASSERT_TRUE(ch.ok());
    ASSERT_EQ(MI_VENC_SetMaxStreamCnt(0, 10, 1000), 0);
    int fed = 0;
    while (stats(10).dropped_ring == 0 && fed < 300) {
        ch.feed_and_wait();
        fed++;
    }
    vbvenc::ChnStats s = stats(10);
    ASSERT_GT(s.dropped_ring, 0u);
    // Drain, then the next frame must be decodable on its own.
    for (size_t i = 0; i < s.queued; i++) {
        Fetched f;
        ASSERT_EQ(MI_VENC_GetStream(0, 10, &f.st, 0), 0);
        MI_VENC_ReleaseStream(0, 10, &f.st);
    }
    ch.feed_and_wait();
    Fetched f;
    ASSERT_EQ(MI_VENC_GetStream(0, 10, &f.st, 0), 0);
    EXPECT_EQ(f.types(), (std::vector<int>{7, 8, 5}));
    MI_VENC_ReleaseStream(0, 10, &f.st);
#endif
}

}  // namespace
