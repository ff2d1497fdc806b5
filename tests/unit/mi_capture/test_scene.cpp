// The virtual capture path seen through the library: exposure, white balance
// and focus act on the statistics with a sensor's delay, the scene can change
// while the board runs, and the scaler feeds its bound outputs.
#include <math.h>
#include <poll.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "capture_test_util.h"
#include "mi_isp.h"
#include "mi_scl.h"
#include "mi_seam.h"
#include "mi_vif.h"

namespace {

using namespace ct;

struct Ratios {
    double rg, bg, g;
};
Ratios awb_ratios() {
    auto s = std::make_unique<MI_ISP_AWB_HW_STATISTICS_t>();
    EXPECT_EQ(0, MI_ISP_AWB_GetAwbHwAvgStats(0, 0, s.get()));
    double r = 0, g = 0, b = 0;
    for (uint32_t i = 0; i < s->nBlkX * s->nBlkY; ++i) {
        r += s->nAvg[i].uAvgR;
        g += s->nAvg[i].uAvgG;
        b += s->nAvg[i].uAvgB;
    }
    uint32_t n = s->nBlkX * s->nBlkY;
    return {r / g, b / g, g / n};
}

uint64_t sharpness() {
    auto s = std::make_unique<CusAFStats_t>();
    EXPECT_EQ(0, MI_ISP_CUS3A_GetAFStats(0, 0, s.get()));
    uint64_t sum = 0;
    for (int c = 0; c < 16; ++c) sum += ct::word({s->stParaAPI[0].iir_1 + c * 5 + 1, s->stParaAPI[0].iir_1 + c * 5 + 5}, 0);
    return sum;
}

TEST_F(Pipeline, DoublingTheExposureDoublesTheBlockAveragesUntilSaturation) {
    build(640, 480);
    set_ae(2500);
    vb::capture::step(3);
    auto a = ae_stats();
    set_ae(5000);
    vb::capture::step(3);
    auto b = ae_stats();
    set_ae(10000);
    vb::capture::step(3);
    auto c = ae_stats();
    ASSERT_EQ(32u, a->nBlkX);
    ASSERT_EQ(32u, a->nBlkY);
    int checked = 0;
    for (int i = 0; i < 32 * 32; ++i) {
        if (a->nAvg[i].uAvgY >= 10 && c->nAvg[i].uAvgY < 250) {
            double r1 = (double)b->nAvg[i].uAvgY / a->nAvg[i].uAvgY;
            double r2 = (double)c->nAvg[i].uAvgY / b->nAvg[i].uAvgY;
            EXPECT_NEAR(2.0, r1, 0.3) << "block " << i;
            EXPECT_NEAR(2.0, r2, 0.2) << "block " << i;
            ++checked;
        }
    }
    EXPECT_GT(checked, 800);
    // Sensor gain doubles like the shutter does.
    double m10 = mean_y();
    set_ae(10000, 2048);
    vb::capture::step(3);
    EXPECT_NEAR(2.0, mean_y() / m10, 0.15);
    // Far past the top the picture clips: no more doubling.
    set_ae(30000, 8192);
    vb::capture::step(3);
    double hi = mean_y();
    set_ae(30000, 16384);
    vb::capture::step(3);
    EXPECT_LT(mean_y() / hi, 1.3);
    EXPECT_GT(hi, 200.0);
}

TEST_F(Pipeline, BrighterOrDarkerSceneWhileRunning) {
    build(640, 480);
    vb::capture::step(2);
    double m1 = mean_y();
    vb::cap::SceneParams sc = vb::capture::scene();
    sc.brightness = 0.5;
    vb::capture::set_scene(sc);
    vb::capture::step(1);
    EXPECT_NEAR(0.5, mean_y() / m1, 0.06);
    EXPECT_EQ("brightness 1.000 cct 5000 focus 512 flicker 0 0 moving 0",
              vb::ctl_exec("scene brightness 1"));
    vb::capture::step(1);
    EXPECT_NEAR(1.0, mean_y() / m1, 0.05);
    EXPECT_EQ(0u, vb::ctl_exec("scene brightness -2").find("error"));
    EXPECT_EQ(0u, vb::ctl_exec("scene cct 99").find("error"));
    EXPECT_EQ(1.0, vb::capture::scene().brightness);
}

TEST_F(Pipeline, StatisticsFollowTheIlluminantAndTheOutputTheGains) {
    build(640, 480);
    vb::cap::SceneParams sc = vb::capture::scene();
    sc.cct = 5000;
    vb::capture::set_scene(sc);
    vb::capture::step(1);
    Ratios neutral = awb_ratios();
    EXPECT_NEAR(1.0, neutral.rg, 0.08);
    EXPECT_NEAR(1.0, neutral.bg, 0.08);

    sc.cct = 3000;
    vb::capture::set_scene(sc);
    vb::capture::step(1);
    Ratios warm = awb_ratios();
    sc.cct = 8000;
    vb::capture::set_scene(sc);
    vb::capture::step(1);
    Ratios cool = awb_ratios();
    EXPECT_GT(warm.rg, neutral.rg + 0.2);
    EXPECT_LT(warm.bg, neutral.bg - 0.2);
    EXPECT_LT(cool.rg, neutral.rg - 0.1);
    EXPECT_GT(cool.bg, neutral.bg + 0.1);

    // Gains that undo the warm light make the grey card grey in the output;
    // the statistics are measured before them and do not move.
    sc.cct = 3000;
    vb::capture::set_scene(sc);
    vb::capture::step(1);
    vb::cap::Rgb card = vb::capture::grey_card(0, 0);
    EXPECT_GT(card.r / card.b, 1.5);
    double ill[3];
    vb::cap::illuminant_rgb(3000, ill);
    set_awb((uint32_t)lround(1024 / ill[0]), 1024, (uint32_t)lround(1024 / ill[2]));
    vb::capture::step(1);
    Ratios same = awb_ratios();
    EXPECT_EQ(warm.rg, same.rg);
    EXPECT_EQ(warm.bg, same.bg);
    card = vb::capture::grey_card(0, 0);
    EXPECT_NEAR(1.0, card.r / card.g, 0.03);
    EXPECT_NEAR(1.0, card.b / card.g, 0.03);

    // Doubling the red gain doubles red against green in the output.
    sc.cct = 5000;
    vb::capture::set_scene(sc);
    set_awb(1024, 1024, 1024);
    set_ae(5000);
    vb::capture::step(2);
    card = vb::capture::grey_card(0, 0);
    set_awb(2048, 1024, 1024);
    vb::capture::step(1);
    vb::cap::Rgb twice = vb::capture::grey_card(0, 0);
    EXPECT_NEAR(2.0, (twice.r / twice.g) / (card.r / card.g), 0.1);
    EXPECT_EQ("r 0.00 g 0.00 b 0.00", vb::ctl_exec("grey-card 1 0")) << "no frames on device 1";
    EXPECT_EQ(0u, vb::ctl_exec("grey-card 0 16").find("error"));
}

TEST_F(Pipeline, FocusSharpnessPeaksAtTheScenesFocusPosition) {
    build(640, 480);
    vb::cap::SceneParams sc = vb::capture::scene();
    sc.focus_pos = 600;
    vb::capture::set_scene(sc);
    std::vector<std::pair<uint32_t, uint64_t>> sweep;
    for (uint32_t pos = 350; pos <= 850; pos += 50) {
        set_lens(pos);
        vb::capture::step(2);
        sweep.push_back({pos, sharpness()});
    }
    size_t best = 0;
    for (size_t i = 1; i < sweep.size(); ++i)
        if (sweep[i].second > sweep[best].second) best = i;
    EXPECT_EQ(600u, sweep[best].first);
    for (size_t i = 1; i <= best; ++i) EXPECT_GT(sweep[i].second, sweep[i - 1].second) << sweep[i].first;
    for (size_t i = best + 1; i < sweep.size(); ++i) EXPECT_LT(sweep[i].second, sweep[i - 1].second) << sweep[i].first;
    EXPECT_GT(sweep[best].second, 2 * sweep.front().second);

    // Another focus distance while running moves the peak.
    EXPECT_EQ(0u, vb::ctl_exec("scene focus 400").find("brightness"));
    set_lens(400);
    vb::capture::step(2);
    uint64_t at400 = sharpness();
    set_lens(600);
    vb::capture::step(2);
    EXPECT_GT(at400, sharpness());
}

TEST_F(Pipeline, ChangesReachTheStatisticsOneOrTwoFramesLater) {
    build(640, 480);
    set_ae(5000);
    vb::capture::step(3);
    double base = mean_y();
    vb::cap::Rgb wb0 = vb::capture::grey_card(0, 0);

    // The ISP takes its white-balance gains with the next frame.
    set_awb(2048, 1024, 1024);
    vb::capture::step(1);
    vb::cap::Rgb wb1 = vb::capture::grey_card(0, 0);
    EXPECT_NEAR(2.0, (wb1.r / wb1.g) / (wb0.r / wb0.g), 0.1);

    // The sensor takes shutter and gain one frame later.
    base = mean_y();
    set_ae(10000);
    vb::capture::step(1);
    EXPECT_NEAR(1.0, mean_y() / base, 0.03) << "frame 1: old exposure";
    EXPECT_EQ(4978u, vb::capture::applied(0, 0).shutter_us) << "168 lines";
    vb::capture::step(1);
    EXPECT_GT(mean_y() / base, 1.5) << "frame 2: new exposure";
    EXPECT_EQ(9986u, vb::capture::applied(0, 0).shutter_us) << "337 lines";

    CusAEInfo_t st;
    memset(&st, 0, sizeof st);
    ASSERT_EQ(0, MI_ISP_CUS3A_GetAeStatus(0, 0, &st));
    EXPECT_EQ(9986u, st.Shutter);
    EXPECT_EQ(1024u, st.SensorGain);
    EXPECT_EQ(32u, st.AvgBlkX);
    EXPECT_EQ(30000u, st.CurFPS);

    // The lens reaches its target during the next frame, whose picture is
    // still taken at the old position.
    set_lens(100);
    uint64_t s0 = sharpness();
    vb::capture::step(1);
    CusAFInfo_t af;
    ASSERT_EQ(0, MI_ISP_CUS3A_GetAfStatus(0, 0, &af));
    EXPECT_EQ(100u, af.CurPos);
    EXPECT_EQ(s0, sharpness());
    vb::capture::step(1);
    EXPECT_LT(sharpness(), s0 / 2);

    // A result without Change leaves everything as it is.
    CusAEResult_t same;
    memset(&same, 0, sizeof same);
    same.Size = sizeof same;
    same.Shutter = 100;
    ASSERT_EQ(0, MI_ISP_CUS3A_SetAeParam(0, 0, &same));
    vb::capture::step(2);
    EXPECT_EQ(9986u, vb::capture::applied(0, 0).shutter_us);
}

std::vector<double> row_means() {
    auto s = ae_stats();
    std::vector<double> rows(s->nBlkY);
    for (uint32_t r = 0; r < s->nBlkY; ++r) {
        double sum = 0;
        for (uint32_t c = 0; c < s->nBlkX; ++c) sum += s->nAvg[r * s->nBlkX + c].uAvgY;
        rows[r] = sum / s->nBlkX;
    }
    return rows;
}

double spread(const std::vector<double> &v) {
    auto mm = std::minmax_element(v.begin(), v.end());
    return *mm.second - *mm.first;
}

TEST_F(Pipeline, FlickeringLightBandsUnlessTheShutterSpansWholePeriods) {
    build(640, 480);
    set_ae(1250, 8192);
    vb::capture::step(3);
    double steady_short = spread(row_means());
    set_ae(10000, 1024);
    vb::capture::step(3);
    double steady_long = spread(row_means());
    EXPECT_EQ(0u, vb::ctl_exec("scene flicker 50 40").find("brightness"));
    vb::capture::step(1);
    EXPECT_LT(spread(row_means()), steady_long + 3.0) << "10 ms spans one period of a 50 Hz light";
    set_ae(1250, 8192);
    vb::capture::step(3);
    EXPECT_GT(spread(row_means()), steady_short + 20.0);
}

TEST_F(Pipeline, SensorStatusNeedsARunningSensor) {
    CusAEInitParam_t ip;
    memset(&ip, 0, sizeof ip);
    build(640, 480);
    EXPECT_NE(0, MI_ISP_CUS3A_GetAeInitStatus(0, 0, &ip)) << "no frame yet";
    vb::capture::step(1);
    ASSERT_EQ(0, MI_ISP_CUS3A_GetAeInitStatus(0, 0, &ip));
    EXPECT_EQ(108u, ip.Size);
    EXPECT_EQ(33333u, ip.shutter_max);
    EXPECT_LE(ip.shutter_min, ip.shutter);
    EXPECT_EQ(1024u, ip.sensor_gain_min);
    EXPECT_EQ(30000u, ip.fps);
    EXPECT_EQ(32u, ip.AvgBlkX);
    MI_ISP_HISTO_HW_STATISTICS_t h0, h1;
    ASSERT_EQ(0, MI_ISP_AE_GetHisto0HwStats(0, 0, &h0));
    ASSERT_EQ(0, MI_ISP_AE_GetHisto1HwStats(0, 0, &h1));
    uint32_t n0 = 0, n1 = 0, wsum = 0;
    for (int i = 0; i < 128; ++i) {
        n0 += h0.nHisto[i];
        n1 += h1.nHisto[i];
        wsum += h0.nHisto[i] * (2 * i + 1);
    }
    EXPECT_GT(n0, 1000u);
    EXPECT_GT(n1, 100u);
    EXPECT_NEAR(mean_y(), (double)wsum / n0, 3.0) << "histogram and block averages agree";
    CusAWBInfo_t aw;
    ASSERT_EQ(0, MI_ISP_CUS3A_GetAwbStatus(0, 0, &aw));
    EXPECT_EQ(1024u, aw.CurRGain);
    EXPECT_EQ(128u, aw.AvgBlkX);
    EXPECT_EQ(90u, aw.AvgBlkY);
}

TEST_F(Pipeline, FrontEndDeliversOneRecordPerFrame) {
    build(320, 240);
    int fd = mi_node_open("/dev/isp_fe", 2);
    ASSERT_GE(fd, 0);
    Cus3AEnable_t en{1, 1, 0};
    ASSERT_EQ(0, MI_ISP_CUS3A_Enable(0, 0, &en));
    vb::capture::step(2);
    uint32_t ev[5];
    for (int i = 0; i < 2; ++i) {
        pollfd p{fd, POLLIN, 0};
        ASSERT_EQ(1, poll(&p, 1, 1000));
        ASSERT_EQ(20, read(fd, ev, sizeof ev));
        EXPECT_EQ(1u, ev[0]);
        EXPECT_EQ(1u, ev[1]);
        EXPECT_EQ(1u, ev[2]);
        EXPECT_EQ(0u, ev[3]);
        EXPECT_EQ(0u, ev[4]);
    }
    pollfd p{fd, POLLIN, 0};
    EXPECT_EQ(0, poll(&p, 1, 0)) << "one record per frame";

    EXPECT_EQ("ok", vb::ctl_exec("isp-fe reopen 0"));
    vb::capture::step(2);
    ASSERT_EQ(20, read(fd, ev, sizeof ev));
    EXPECT_EQ(1u, ev[4]);
    ASSERT_EQ(20, read(fd, ev, sizeof ev));
    EXPECT_EQ(0u, ev[4]) << "the reopen bit goes out once";

    vb::capture::fe_pause(1500);
    vb::capture::step(3);
    EXPECT_EQ(0, poll(&p, 1, 0)) << "held back";
    vb::capture::fe_pause(0);
    vb::capture::step(1);
    EXPECT_EQ(1, poll(&p, 1, 0));
    mi_node_close(fd);
}

// Stands in for the encoder: records the pictures its input ports receive.
class Catcher : public vb::FrameSink {
public:
    void deliver(const MI_SYS_ChnPort_t &dst, const vb::Picture &pic) override {
        std::lock_guard<std::mutex> g(mu);
        got.push_back({dst, pic});
        cv.notify_all();
    }
    std::mutex mu;
    std::condition_variable cv;
    std::vector<std::pair<MI_SYS_ChnPort_t, vb::Picture>> got;
};

double picture_mean_y(const vb::Picture &p) {
    uint64_t s = 0;
    for (size_t i = 0; i < (size_t)p.width * p.height; ++i) s += (*p.data)[i];
    return (double)s / ((size_t)p.width * p.height);
}

TEST_F(Pipeline, ScalerFeedsEachBoundPortAtItsSize) {
    build(640, 360);  // the board installs its drivers, and their sinks, at the first node opened
    Catcher sink;
    vb::register_sink(E_MI_MODULE_ID_VENC, &sink);
    MI_SCL_DevAttr_t sd{3};
    ASSERT_EQ(0, MI_SCL_CreateDevice(0, &sd));
    MI_SCL_ChannelAttr_t sc{0};
    ASSERT_EQ(0, MI_SCL_CreateChannel(0, 0, &sc));
    for (uint32_t p = 0; p < 2; ++p) {
        MI_SCL_OutPortParam_t op;
        memset(&op, 0, sizeof op);
        op.stSCLOutCropRect = {0, 0, 640, 360};
        op.stSCLOutputSize = p == 0 ? MI_SYS_WindowSize_t{640, 360} : MI_SYS_WindowSize_t{320, 180};
        op.ePixelFormat = p == 0 ? E_MI_SYS_PIXEL_FRAME_YUV_SEMIPLANAR_420 : E_MI_SYS_PIXEL_FRAME_YUV420_PLANAR;
        ASSERT_EQ(0, MI_SCL_SetOutputPortParam(0, 0, p, &op));
        ASSERT_EQ(0, MI_SCL_EnableOutputPort(0, 0, p));
        bind(port(E_MI_MODULE_ID_SCL, 0, 0, p), port(E_MI_MODULE_ID_VENC, 0, p, 0), 30);
    }
    ASSERT_EQ(0, MI_SCL_StartChannel(0, 0));
    bind(port(E_MI_MODULE_ID_ISP, 0, 0, 0), port(E_MI_MODULE_ID_SCL, 0, 0, 0), 0);
    vb::capture::step(2);
    std::lock_guard<std::mutex> g(sink.mu);
    ASSERT_EQ(4u, sink.got.size());
    for (auto &[dst, pic] : sink.got) {
        ASSERT_TRUE(pic.data);
        if (dst.u32ChnId == 0) {
            EXPECT_EQ(640u, pic.width);
            EXPECT_EQ(360u, pic.height);
            EXPECT_EQ(vb::PixFmt::NV12, pic.fmt);
        } else {
            EXPECT_EQ(320u, pic.width);
            EXPECT_EQ(180u, pic.height);
            EXPECT_EQ(vb::PixFmt::I420, pic.fmt);
        }
        EXPECT_EQ((size_t)pic.width * pic.height * 3 / 2, pic.data->size());
    }
    EXPECT_NEAR(picture_mean_y(sink.got[0].second), picture_mean_y(sink.got[1].second), 4.0);
    EXPECT_NEAR(mean_y(), picture_mean_y(sink.got[2].second), 4.0);
    vb::register_sink(E_MI_MODULE_ID_VENC, nullptr);
}

TEST_F(Pipeline, MovingSceneChangesEveryPictureAndRunsAtTheBoundRate) {
    vb::cap::SceneParams sc = vb::capture::scene();
    sc.moving = true;
    vb::capture::set_scene(sc);
    build(320, 240, 25);
    Catcher sink;
    vb::register_sink(E_MI_MODULE_ID_DISP, &sink);  // catch the ISP's output
    bind(port(E_MI_MODULE_ID_ISP, 0, 0, 0), port(E_MI_MODULE_ID_DISP, 0, 0, 0), 0);
    vb::capture::resume();
    {
        std::unique_lock<std::mutex> lk(sink.mu);
        ASSERT_TRUE(sink.cv.wait_for(lk, std::chrono::seconds(20), [&] { return sink.got.size() >= 4; }));
    }
    vb::capture::pause();
    std::lock_guard<std::mutex> g(sink.mu);
    for (size_t i = 1; i < sink.got.size(); ++i) {
        const vb::Picture &a = sink.got[i - 1].second, &b = sink.got[i].second;
        uint64_t dt = b.pts - a.pts;
        EXPECT_GT(dt, 0u);
        EXPECT_EQ(0u, dt % 40000) << "25 frames per second";
        EXPECT_NE(0, memcmp(a.data->data(), b.data->data(), a.data->size())) << "the picture moves";
    }
    vb::register_sink(E_MI_MODULE_ID_DISP, nullptr);
}

}  // namespace

// Holds the picture source's thread in the delivery of one picture, as this
// machine under load holds it back, and records what it delivers.
class Holder : public vb::FrameSink {
public:
    explicit Holder(size_t hold_at) : hold_at_(hold_at) { vb::register_sink(E_MI_MODULE_ID_DISP, this); }
    ~Holder() override {
        release();
        vb::capture::pause();  // no delivery in flight once it returns
        vb::register_sink(E_MI_MODULE_ID_DISP, nullptr);
    }
    void deliver(const MI_SYS_ChnPort_t &, const vb::Picture &pic) override {
        std::unique_lock<std::mutex> lk(mu);
        pts.push_back(pic.pts);
        cv.notify_all();
        if (pts.size() == hold_at_ + 1) cv.wait(lk, [&] { return released_; });
    }
    void release() {
        std::lock_guard<std::mutex> g(mu);
        released_ = true;
        cv.notify_all();
    }
    bool wait_for(size_t n) {
        std::unique_lock<std::mutex> lk(mu);
        return cv.wait_for(lk, std::chrono::seconds(20), [&] { return pts.size() >= n; });
    }
    std::mutex mu;
    std::condition_variable cv;
    std::vector<uint64_t> pts;

private:
    size_t hold_at_;
    bool released_ = false;
};

TEST_F(Pipeline, SlotsTheSourceSkipsWhenHeldBackAreCountedOneForEachMissingPeriod) {
    constexpr uint64_t kPeriod = 33333;  // 30 fps, in board microseconds
    constexpr size_t kHoldAt = 2;
    build(320, 240, 30);
    Holder sink(kHoldAt);
    bind(port(E_MI_MODULE_ID_ISP, 0, 0, 0), port(E_MI_MODULE_ID_DISP, 0, 0, 0), 0);
    vb::capture::resume();
    ASSERT_TRUE(sink.wait_for(kHoldAt + 1));
    uint64_t held;
    {
        std::lock_guard<std::mutex> g(sink.mu);
        held = sink.pts[kHoldAt];
    }
    // Six and a half periods from the held picture's slot: the source makes
    // the next slot late and must skip at least the four after it.
    for (uint64_t now = vb::pts_now(); now < held + kPeriod * 13 / 2; now = vb::pts_now())
        std::this_thread::sleep_for(std::chrono::microseconds(held + kPeriod * 13 / 2 - now));
    sink.release();
    ASSERT_TRUE(sink.wait_for(kHoldAt + 5));
    vb::capture::pause();

    vb::capture::VifCounts n = vb::capture::vif_counts(0, 0);
    std::lock_guard<std::mutex> g(sink.mu);
    EXPECT_EQ(sink.pts.size(), n.frames);
    uint64_t missing = 0;
    for (size_t i = 1; i < sink.pts.size(); ++i) {
        uint64_t dt = sink.pts[i] - sink.pts[i - 1];
        ASSERT_EQ(0u, dt % kPeriod) << "picture " << i;
        ASSERT_GT(dt, 0u) << "picture " << i;
        missing += dt / kPeriod - 1;
    }
    EXPECT_EQ(missing, n.skipped) << "every skip is one period missing between two pictures, and no more";
    EXPECT_GE(n.skipped, 4u);
    EXPECT_EQ("dev 0 port 0 frames " + std::to_string(n.frames) + " skipped " + std::to_string(n.skipped) + "\n",
              vb::ctl_exec("vif stats"));
}
