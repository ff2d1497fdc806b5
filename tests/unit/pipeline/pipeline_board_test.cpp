// The whole video pipeline on the in-process virtual board: the build's call
// order and bindings, access units in the record and stream lists with their
// parameter sets, rebuilds after input-mode and bit-rate changes, the change
// flag, and the stream thread's behaviour on time-outs and failed waits.
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <linux/ioctl.h>
#include <string>
#include <thread>
#include <vector>

#include "frame_list.h"
#include "h264_sps.h"
#include "mi_hdmi.h"
#include "mi_internal.h"
#include "mi_venc_ioctl.h"
#include "st_pipeline.h"
#include "st_venc_stream.h"
#include "user_setting.h"
#include "vb.h"
#include "vb_capture.h"
#include "vb_display.h"
#include "vb_venc_test.h"

namespace {

// Under the sanitizers the virtual board renders slower than real time and
// loses pictures: rates are then checked as whole multiples of the period.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSlowBoard = true;
#else
constexpr bool kSlowBoard = false;
#endif

void ExpectPeriod(double period_us, uint64_t step_us, const char *what) {
    if (!kSlowBoard) {
        EXPECT_NEAR(period_us, (double)step_us, period_us * 0.06) << what;
        return;
    }
    double k = std::max(1.0, std::round(step_us / period_us));
    EXPECT_NEAR(k * period_us, (double)step_us, period_us * 0.06) << what;
}

struct PrivateBoardRoot {
    PrivateBoardRoot() {
        char tmpl[] = "/tmp/ut_pipeline.XXXXXX";
        if (mkdtemp(tmpl)) setenv("VB_ROOT", tmpl, 1);
    }
} g_root;

struct Frame {
    int list;
    uint64_t pts;
    uint32_t size;
    int32_t flag;
    uint8_t nalType;      // type of the NAL unit after the length prefix
    bool prefixOk;        // the 4-byte prefix equals the size minus 4
    sps_info_struct sps;  // parsed stored SPS of the channel, at a key frame
    int spsOk;
};


void DrainAll() {
    for (int l = 0; l < 2; l++)
        while (frame_t *f = rtp_take_frame(&input_list[l])) free_frame(&f);
}

// Takes what both lists receive for `ms`, or until each list holds `frames`
// access units of which `keys` are key frames (what a loaded machine gets
// done in a given time is its own business).
std::vector<Frame> Collect(int ms, size_t frames = 0, size_t keys = 0) {
    std::vector<Frame> out;
    size_t got[2] = {0, 0}, got_keys[2] = {0, 0};
    auto enough = [&] {
        return frames && got[0] >= frames && got[1] >= frames && got_keys[0] >= keys && got_keys[1] >= keys;
    };
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end && !enough()) {
        rtp_s *lists[2] = {&input_list[0], &input_list[1]};
        rtp_wait_added(lists, 2, 50);
        for (int l = 0; l < 2; l++) {
            while (frame_t *f = rtp_take_frame(&input_list[l])) {
                Frame fr{};
                fr.list = l;
                fr.pts = f->i_time_stamp;
                fr.size = f->i_frame_size;
                fr.flag = f->i_flag;
                if (f->i_frame_size > 4) {
                    const uint8_t *d = f->p_frame;
                    uint32_t n = (uint32_t)d[0] << 24 | (uint32_t)d[1] << 16 | (uint32_t)d[2] << 8 | d[3];
                    fr.prefixOk = n + 4 == f->i_frame_size;
                    fr.nalType = d[4] & 0x1F;
                }
                if (f->i_flag) {
                    ST_SPS_PPS sp;
                    SpsPpsLoad(l, &sp);
                    fr.spsOk = h264_parse_sps(sp.sps, sp.spsLen, &fr.sps) && sp.ppsLen > 0 && (sp.pps[0] & 0x1F) == 8;
                }
                out.push_back(fr);
                got[l]++;
                if (fr.flag) got_keys[l]++;
                free_frame(&f);
            }
        }
    }
    return out;
}

std::vector<Frame> Of(const std::vector<Frame> &all, int list) {
    std::vector<Frame> v;
    for (auto &f : all)
        if (f.list == list) v.push_back(f);
    return v;
}

// Frame period from the median time-stamp step, in microseconds.
uint64_t MedianStep(const std::vector<Frame> &v) {
    std::vector<uint64_t> d;
    for (size_t i = 1; i < v.size(); i++)
        if (v[i].pts > v[i - 1].pts) d.push_back(v[i].pts - v[i - 1].pts);
    if (d.empty()) return 0;
    std::nth_element(d.begin(), d.begin() + d.size() / 2, d.end());
    return d[d.size() / 2];
}

uint64_t Bytes(const std::vector<Frame> &v) {
    uint64_t b = 0;
    for (auto &f : v) b += f.size;
    return b;
}

// The board's own threads (picture source, poll node) run until the process
// ends; leave before static destructors pull their drivers away under them.
void LeaveWithResult() {
    fflush(stdout);
    fflush(stderr);
    _exit(::testing::UnitTest::GetInstance()->Passed() ? 0 : 1);
}

class Pipeline : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        atexit(LeaveWithResult);
        StartupLoadSettings("/nonexistent/userpara");  // defaults: 1080p30, bit-rate indexes 1 and 2
        rtp_init(&input_list[0]);
        rtp_init(&input_list[1]);
        vb::trace_enable(true);
        vb::trace_clear();
        SetChangeStart(0);
        ASSERT_EQ(0, ST_BaseModuleParaInit());
        build_result_ = ST_BaseModuleInit(0);
        // The 3A service's IQ-API requests interleave with the build: they
        // are not part of the order.
        build_trace_ = new std::vector<vb::TraceEntry>();
        for (auto &e : vb::trace())
            if (!(e.node == "/dev/mi_isp" && (_IOC_NR(e.code) == 0x10 || _IOC_NR(e.code) == 0x11)))
                build_trace_->push_back(e);
        build_bindings_ = new std::vector<vb::Binding>(vb::bindings());
        thread_ = new std::thread([] {
            pthread_setname_np(pthread_self(), "_ST_VencGetData");
            _ST_VencGetData(nullptr);
        });
    }
    static void TearDownTestSuite() {
        ST_VencGetDataStop();
        if (thread_) thread_->join();
        delete thread_;
        thread_ = nullptr;
        DrainAll();
        // Take the board's threads down before its drivers go out of scope.
        ST_VencModuleUnInit(0);
        ST_VencModuleUnInit(1);
        ST_DispModuleUnInit(0);
        vb::capture::reset();
    }
    void SetUp() override {
        ASSERT_EQ(0, build_result_);
        vb::inject_clear();
    }
    void TearDown() override { vb::inject_clear(); }

    static MI_S32 build_result_;
    static std::vector<vb::TraceEntry> *build_trace_;
    static std::vector<vb::Binding> *build_bindings_;
    static std::thread *thread_;
};
MI_S32 Pipeline::build_result_ = -1;
std::vector<vb::TraceEntry> *Pipeline::build_trace_;
std::vector<vb::Binding> *Pipeline::build_bindings_;
std::thread *Pipeline::thread_;

// Requests of the ISP channel stop and start (device and channel numbers).
struct IspChnArg {
    MI_U32 dev, chn;
};
constexpr unsigned long kIspStop = MI_IOW(9, IspChnArg);
constexpr unsigned long kIspStart = MI_IOW(8, IspChnArg);

int CountCode(const std::vector<vb::TraceEntry> &t, const char *node, unsigned long code) {
    int n = 0;
    for (auto &e : t) n += e.node == node && e.code == code;
    return n;
}

int FirstOf(const std::vector<vb::TraceEntry> &t, const char *node) {
    for (size_t i = 0; i < t.size(); i++)
        if (t[i].node == node) return (int)i;
    return -1;
}
int LastOf(const std::vector<vb::TraceEntry> &t, const char *node) {
    for (size_t i = t.size(); i-- > 0;)
        if (t[i].node == node) return (int)i;
    return -1;
}
int Count(const std::vector<vb::TraceEntry> &t, const char *node) {
    int n = 0;
    for (auto &e : t) n += e.node == node;
    return n;
}

bool HasBinding(const std::vector<vb::Binding> &bs, MI_ModuleId_e sm, MI_U32 sp, MI_ModuleId_e dm, MI_U32 dc,
                uint32_t fps, uint32_t type) {
    for (auto &b : bs)
        if (b.src.eModId == sm && b.src.u32PortId == sp && b.dst.eModId == dm && b.dst.u32ChnId == dc &&
            b.src_fps == fps && b.dst_fps == fps && b.type == type)
            return true;
    return false;
}

TEST_F(Pipeline, BuildRunsModulesInOrderAndBindsThePipeline) {
    const auto &t = *build_trace_;
    const char *order[] = {"/dev/mi_sys", "/dev/mi_vif", "/dev/mi_isp", "/dev/mi_scl", "/dev/mi_venc", "/dev/mi_disp",
                           "/dev/mi_hdmi"};
    for (size_t i = 0; i + 1 < sizeof order / sizeof order[0]; i++) {
        ASSERT_GE(FirstOf(t, order[i]), 0) << order[i];
        EXPECT_LT(FirstOf(t, order[i]), FirstOf(t, order[i + 1])) << order[i] << " before " << order[i + 1];
    }
    // Each stage is done before the next starts.
    EXPECT_LT(LastOf(t, "/dev/mi_vif"), FirstOf(t, "/dev/mi_isp"));
    EXPECT_LT(LastOf(t, "/dev/mi_isp"), FirstOf(t, "/dev/mi_scl"));
    // (The encoder and display stages read scaler ports: no "last scaler" check.)
    EXPECT_LT(LastOf(t, "/dev/mi_venc"), FirstOf(t, "/dev/mi_disp"));
    EXPECT_EQ(0, Count(t, "/dev/mi_panel"));
    // Channel 0 is created (and fed) before channel 1.
    int c0 = -1, c1 = -1;
    for (size_t i = 0; i < t.size(); i++) {
        if (t[i].node != "/dev/mi_venc" || t[i].in.size() < 4) continue;
        int32_t chn;
        memcpy(&chn, t[i].in.data(), 4);
        if (chn == 0 && c0 < 0) c0 = (int)i;
        if (chn == 1 && c1 < 0) c1 = (int)i;
    }
    EXPECT_GE(c0, 0);
    EXPECT_LT(c0, c1);

    const auto &b = *build_bindings_;
    EXPECT_TRUE(HasBinding(b, E_MI_MODULE_ID_VIF, 0, E_MI_MODULE_ID_ISP, 0, 30, E_MI_SYS_BIND_TYPE_FRAME_BASE));
    EXPECT_TRUE(HasBinding(b, E_MI_MODULE_ID_ISP, 0, E_MI_MODULE_ID_SCL, 0, 0, E_MI_SYS_BIND_TYPE_REALTIME));
    EXPECT_TRUE(HasBinding(b, E_MI_MODULE_ID_SCL, 0, E_MI_MODULE_ID_VENC, 0, 30, E_MI_SYS_BIND_TYPE_FRAME_BASE));
    EXPECT_TRUE(HasBinding(b, E_MI_MODULE_ID_SCL, 1, E_MI_MODULE_ID_VENC, 1, 30, E_MI_SYS_BIND_TYPE_FRAME_BASE));
    EXPECT_TRUE(HasBinding(b, E_MI_MODULE_ID_SCL, 0, E_MI_MODULE_ID_DISP, 0, 30, E_MI_SYS_BIND_TYPE_FRAME_BASE));
    EXPECT_EQ(5u, b.size());

    MI_HDMI_Attr_t a;
    ASSERT_EQ(0, MI_HDMI_GetAttr(E_MI_HDMI_ID_0, &a));
    EXPECT_EQ(E_MI_HDMI_TIMING_1080_30P, a.stVideoAttr.eTimingType);
}

TEST_F(Pipeline, ListsReceiveAccessUnitsWithMatchingParameterSets) {
    DrainAll();
    auto all = Collect(30000, kSlowBoard ? 10 : 40, kSlowBoard ? 1 : 2);
    for (int l = 0; l < 2; l++) {
        auto v = Of(all, l);
        ASSERT_GE(v.size(), kSlowBoard ? 10u : 40u) << "list " << l;
        ExpectPeriod(33333.0, MedianStep(v), l ? "stream list" : "record list");
        int keys = 0;
        for (auto &f : v) {
            EXPECT_TRUE(f.prefixOk);
            EXPECT_EQ(f.flag ? 5 : 1, f.nalType) << "key flag on IDR slices only";
            if (!f.flag) continue;
            keys++;
            ASSERT_TRUE(f.spsOk) << "list " << l;
            EXPECT_EQ(l ? 1280u : 1920u, f.sps.width);
            EXPECT_EQ(l ? 720u : 1080u, f.sps.height);
            EXPECT_EQ(30u, f.sps.fps);
        }
        EXPECT_GE(keys, kSlowBoard ? 1 : 2) << "one key frame per GOP of 30";
    }
    EXPECT_EQ(1, UserSetGet(UsrBits::InputState));

    bool shown = false;
    for (auto &s : vb::display::stats())
        if (s.dev == 0 && s.layer == 0 && s.port == 0 && s.frames > 0) {
            shown = true;
            EXPECT_EQ(1920u, s.last_width);
        }
    EXPECT_TRUE(shown) << "the display gets scaler port 0";
}

TEST_F(Pipeline, ChangeFlagStopsFetchingUntilCleared) {
    SetChangeStart(1);
    usleep(300 * 1000);  // a pass in flight finishes
    DrainAll();
    auto during = Collect(1200);
    EXPECT_TRUE(during.empty()) << during.size() << " frames while the flag was set";
    vbvenc::ChnStats st{};
    ASSERT_TRUE(vbvenc::stats(0, &st));
    EXPECT_GT(st.queued, 0u) << "the encoder went on; its frames wait";
    SetChangeStart(0);
    auto after = Collect(800);
    EXPECT_FALSE(Of(after, 0).empty());
    EXPECT_FALSE(Of(after, 1).empty());
}

TEST_F(Pipeline, BitRateChangeRebuildsOnlyThatChannel) {
    const uint8_t saved = g_stUserSet.ucBitRate[1];
    g_stUserSet.ucBitRate[1] = 0;
    vbvenc::ChnStats before0{}, before1{}, after0{}, after1{};
    ASSERT_TRUE(vbvenc::stats(0, &before0));
    ASSERT_TRUE(vbvenc::stats(1, &before1));
    vb::trace_clear();
    ASSERT_EQ(0, VencSetRcParam(1));
    auto t = vb::trace();
    ASSERT_TRUE(vbvenc::stats(0, &after0));
    ASSERT_TRUE(vbvenc::stats(1, &after1));
    EXPECT_EQ(0, Count(t, "/dev/mi_disp")) << "channel 1 leaves the display alone";
    EXPECT_EQ(0, Count(t, "/dev/mi_hdmi"));
    EXPECT_EQ(1, CountCode(t, "/dev/mi_isp", kIspStop)) << "ISP channel stopped";
    EXPECT_EQ(1, CountCode(t, "/dev/mi_isp", kIspStart)) << "and started again";
    // A channel made anew starts its counters at 0; channel 0 keeps counting.
    EXPECT_GE(after0.encoded, before0.encoded) << "channel 0 untouched";
    EXPECT_LT(after1.encoded, before1.encoded) << "channel 1 made anew";
    MI_VENC_ChnStat_t st;
    ASSERT_EQ(0, MI_VENC_Query(0, 1, &st));
    EXPECT_EQ(1048576u, st.u32BitRate);
    ASSERT_EQ(0, MI_VENC_Query(0, 0, &st));
    EXPECT_EQ(20971520u, st.u32BitRate);

    usleep(300 * 1000);
    DrainAll();
    auto low = Of(Collect(2000), 1);
    g_stUserSet.ucBitRate[1] = 5;
    ASSERT_EQ(0, VencSetRcParam(1));
    usleep(300 * 1000);
    DrainAll();
    auto high = Of(Collect(2000), 1);
    ASSERT_FALSE(low.empty());
    ASSERT_FALSE(high.empty());
    double rl = Bytes(low) * 8.0 / (low.back().pts - low.front().pts + 33333) * 1e6;
    double rh = Bytes(high) * 8.0 / (high.back().pts - high.front().pts + 33333) * 1e6;
    printf("measured live bit rate: index 0 %.0f bit/s, index 5 %.0f bit/s\n", rl, rh);
    EXPECT_LT(rl, 1048576 * 1.5);
    EXPECT_GT(rh, rl * 2.0) << "the measured rate follows the index";
    g_stUserSet.ucBitRate[1] = saved;
    ASSERT_EQ(0, VencSetRcParam(1));
}

TEST_F(Pipeline, InputModeChangeMovesRatesAndTiming) {
    ASSERT_EQ(0, SetInputReso(1));  // 1080p at 50
    EXPECT_EQ(50, stUser.ucDstFrameRate);
    EXPECT_EQ(50, g_SrcFrameRatePrev);
    auto b = vb::bindings();
    EXPECT_TRUE(HasBinding(b, E_MI_MODULE_ID_VIF, 0, E_MI_MODULE_ID_ISP, 0, 50, E_MI_SYS_BIND_TYPE_FRAME_BASE));
    EXPECT_TRUE(HasBinding(b, E_MI_MODULE_ID_ISP, 0, E_MI_MODULE_ID_SCL, 0, 0, E_MI_SYS_BIND_TYPE_REALTIME));
    EXPECT_TRUE(HasBinding(b, E_MI_MODULE_ID_SCL, 1, E_MI_MODULE_ID_VENC, 1, 50, E_MI_SYS_BIND_TYPE_FRAME_BASE));
    EXPECT_EQ(5u, b.size());
    MI_HDMI_Attr_t a;
    ASSERT_EQ(0, MI_HDMI_GetAttr(E_MI_HDMI_ID_0, &a));
    EXPECT_EQ(E_MI_HDMI_TIMING_1080_50P, a.stVideoAttr.eTimingType);

    usleep(400 * 1000);
    DrainAll();
    auto all = Collect(2000);
    for (int l = 0; l < 2; l++) {
        auto v = Of(all, l);
        ASSERT_GE(v.size(), kSlowBoard ? 10u : 60u) << "list " << l;
        ExpectPeriod(20000.0, MedianStep(v), l ? "stream list" : "record list");
        for (auto &f : v)
            if (f.flag) {
                ASSERT_TRUE(f.spsOk);
                EXPECT_EQ(50u, f.sps.fps);
            }
    }
    ASSERT_EQ(0, SetInputReso(3));
    EXPECT_EQ(30, stUser.ucDstFrameRate);
}

TEST_F(Pipeline, ConcurrentRebuildsAreSerialised) {
    std::atomic<int> failures{0};
    auto rc = [&](MI_U32 chn) {
        for (int i = 0; i < 3; i++)
            if (VencSetRcParam(chn) != 0) failures++;
    };
    std::thread t0(rc, 0), t1(rc, 1), t2([&] {
        if (SetInputReso(3) != 0) failures++;
    });
    t0.join();
    t1.join();
    t2.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_TRUE(gstVencattr[0].bCreate);
    EXPECT_TRUE(gstVencattr[1].bCreate);
    EXPECT_EQ(0, u8UserChangeFlag.load());
    EXPECT_EQ(5u, vb::bindings().size());
    DrainAll();
    auto after = Collect(1000);
    EXPECT_FALSE(Of(after, 0).empty());
    EXPECT_FALSE(Of(after, 1).empty());
}

TEST_F(Pipeline, FailedRebuildIsReported) {
    const unsigned long stopCode = kIspStop;
    const unsigned long createCode = MI_VENC_IOC_CREATE_CHN;
    vb::inject("/dev/mi_venc", createCode, (int)0xA0022003, 1);
    EXPECT_NE(0, VencSetRcParam(1)) << "a channel that did not come back is a failure";
    EXPECT_FALSE(gstVencattr[1].bCreate);
    EXPECT_EQ(0, u8UserChangeFlag.load()) << "the stream thread is not left paused";
    vb::inject_clear();
    ASSERT_EQ(0, VencSetRcParam(1));
    EXPECT_TRUE(gstVencattr[1].bCreate);

    vb::inject("/dev/mi_isp", stopCode, (int)0xA0212100, 1);
    EXPECT_NE(0, ST_DoChangeInputReso(1)) << "a code with a zero low byte still reads as failure";
    vb::inject_clear();
    ASSERT_EQ(0, VencSetRcParam(1));
    DrainAll();
    EXPECT_FALSE(Of(Collect(800), 1).empty());
}

TEST_F(Pipeline, FailedWaitIsRetried) {
    const int fd = MI_VENC_GetFd(0, 0);
    ASSERT_GE(fd, 0);
    const int saved = dup(fd);
    ASSERT_GE(saved, 0);
    close(fd);  // select now fails with a bad descriptor
    usleep(500 * 1000);
    EXPECT_EQ(0, UserSetGet(UsrBits::InputState));
    ASSERT_EQ(fd, dup2(saved, fd));
    close(saved);
    DrainAll();
    auto after = Collect(1000);
    EXPECT_FALSE(Of(after, 0).empty()) << "video goes on after the wait failed";
    EXPECT_EQ(1, UserSetGet(UsrBits::InputState));
}

TEST_F(Pipeline, TimeOutClearsInputStateAndTheThreadWaitsOn) {
    vb::capture::pause();
    usleep(2600 * 1000);
    EXPECT_EQ(0, UserSetGet(UsrBits::InputState));
    vb::capture::resume();
    DrainAll();
    auto after = Collect(1000);
    EXPECT_FALSE(Of(after, 0).empty());
    EXPECT_EQ(1, UserSetGet(UsrBits::InputState));
}

}  // namespace
