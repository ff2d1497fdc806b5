// What the virtual board offers a 3A service, seen through the IQ-API: whole-line
// shutters and the limits it reports, the sensor's latency and the motor's
// speed, the statistics' layout and histogram totals, the AE values in the AWB
// status, the ISP root, the request log with armed failures, and lockstep
// with a 3A service of the test's own that closes the loop on the grey card.
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "capture_test_util.h"
#include "cus3a_entry.h"
#include "mi_seam.h"

namespace {

using namespace ct;

class Board3A : public Pipeline {};

CusAEInfo_t ae_status() {
    CusAEInfo_t s;
    memset(&s, 0, sizeof s);
    EXPECT_EQ(0, MI_ISP_CUS3A_GetAeStatus(0, 0, &s));
    return s;
}

TEST_F(Board3A, ShuttersAreWholeLinesAndTheLimitsSaySo) {
    struct Case {
        uint32_t fps, sent, shown;
    };
    const Case cases[] = {
        {30, 10000, 9986},  {30, 33333, 33305}, {30, 40000, 33305}, {30, 5000, 4978}, {30, 60, 60},
        {30, 59, 30},       {30, 1, 30},        {25, 40000, 39971}, {25, 50000, 39971},
    };
    build(320, 240);
    uint32_t fps = 30;
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.fps << " fps, " << c.sent << " us");
        if (c.fps != fps) {
            vb::unbind(kVifOut, kIspIn);
            vb::Binding b{kVifOut, kIspIn, c.fps, c.fps, 1, 0};
            ASSERT_EQ(0, vb::bind(b));
            fps = c.fps;
            vb::capture::step(1);
        }
        set_ae(c.sent);
        vb::capture::step(2);
        EXPECT_EQ(c.shown, vb::capture::applied(0, 0).shutter_us);
        EXPECT_EQ(c.shown, ae_status().Shutter);

        CusAEInitParam_t ip;
        memset(&ip, 0, sizeof ip);
        ASSERT_EQ(0, MI_ISP_CUS3A_GetAeInitStatus(0, 0, &ip));
        const uint32_t period = 1000000 / c.fps;
        const uint32_t want[][2] = {
            {ip.shutter, c.shown},
            {ip.shutter_step, 29630},          {ip.shutter_min, 30},
            {ip.shutter_max, period},          {ip.shutterHDRShort_step, 29630},
            {ip.shutterHDRShort_min, 30},      {ip.shutterHDRShort_max, period},
            {ip.sensor_gain_min, 1024},        {ip.sensor_gain_max, 16384},
            {ip.sensor_gainHDRShort_min, 1024}, {ip.sensor_gainHDRShort_max, 16384},
            {ip.isp_gain_max, 8192},           {ip.fps, c.fps * 1000},
        };
        for (size_t i = 0; i < sizeof want / sizeof want[0]; ++i) EXPECT_EQ(want[i][1], want[i][0]) << "field " << i;
    }
}

TEST_F(Board3A, AnExposureShowsLatencyFramesAfterItIsSent) {
    build(320, 240);
    for (uint32_t latency : {1u, 2u, 3u}) {
        SCOPED_TRACE(testing::Message() << "latency " << latency);
        if (latency == 3)
            EXPECT_EQ("latency 3 motor 0", vb::ctl_exec("sensor latency 3"));
        else
            ASSERT_TRUE(vb::capture::set_sensor_latency(latency));
        set_ae(2500);
        vb::capture::step(4);
        double before = mean_y();
        set_ae(5000, 1024, 2048);  // four times the light: shutter and ISP gain together
        for (uint32_t f = 1; f <= 4; ++f) {
            vb::capture::step(1);
            bool shows = f >= latency;
            vb::cap::Exposure e = vb::capture::applied(0, 0);
            EXPECT_EQ(shows ? 4978u : 2489u, e.shutter_us) << "frame " << f;
            EXPECT_EQ(shows ? 2048u : 1024u, e.isp_gain) << "frame " << f;
            EXPECT_EQ(e.shutter_us, ae_status().Shutter) << "frame " << f;
            if (shows)
                EXPECT_NEAR(4.0, mean_y() / before, 0.4) << "frame " << f;
            else
                EXPECT_NEAR(1.0, mean_y() / before, 0.03) << "frame " << f;
        }
    }
    EXPECT_FALSE(vb::capture::set_sensor_latency(0));
    EXPECT_FALSE(vb::capture::set_sensor_latency(9));
    EXPECT_EQ(0u, vb::ctl_exec("sensor latency 9").find("error"));
    EXPECT_EQ("latency 3 motor 0", vb::ctl_exec("sensor"));
}

TEST_F(Board3A, TheMotorMovesAtMostItsSpeedAFrame) {
    struct Case {
        uint32_t speed;
        std::vector<uint32_t> cur_pos;  // after each frame, heading from 512 to 100
    };
    const Case cases[] = {
        {0, {100, 100, 100}},
        {100, {412, 312, 212, 112, 100, 100}},
        {300, {212, 100, 100}},
    };
    build(320, 240);
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "speed " << c.speed);
        EXPECT_EQ("latency 2 motor " + std::to_string(c.speed), vb::ctl_exec("sensor motor " + std::to_string(c.speed)));
        set_lens(512);
        vb::capture::step(c.speed ? 5 : 2);
        set_lens(100);
        uint32_t was = 512;
        for (uint32_t want : c.cur_pos) {
            vb::capture::step(1);
            CusAFInfo_t af;
            memset(&af, 0, sizeof af);
            ASSERT_EQ(0, MI_ISP_CUS3A_GetAfStatus(0, 0, &af));
            EXPECT_EQ(want, af.CurPos);
            EXPECT_EQ(was, vb::capture::applied(0, 0).lens_pos) << "the picture is taken where the lens stood";
            was = af.CurPos;
        }
    }
    EXPECT_FALSE(vb::capture::set_motor_speed(1024));
}

TEST_F(Board3A, BlockLayoutsAndHistogramsOf33909SamplesAtEverySize) {
    const std::pair<uint16_t, uint16_t> sizes[] = {{64, 64}, {320, 240}, {1920, 1080}};
    for (auto [w, h] : sizes) {
        TearDown();
        SetUp();
        build(w, h);
        for (double brightness : {0.0, 1.0, 50.0}) {
            SCOPED_TRACE(testing::Message() << w << "x" << h << " brightness " << brightness);
            vb::cap::SceneParams sc = vb::capture::scene();
            sc.brightness = brightness;
            vb::capture::set_scene(sc);
            vb::capture::step(1);
            MI_ISP_HISTO_HW_STATISTICS_t h0, h1;
            ASSERT_EQ(0, MI_ISP_AE_GetHisto0HwStats(0, 0, &h0));
            ASSERT_EQ(0, MI_ISP_AE_GetHisto1HwStats(0, 0, &h1));
            uint32_t n0 = 0, n1 = 0;
            for (int i = 0; i < 128; ++i) {
                n0 += h0.nHisto[i];
                n1 += h1.nHisto[i];
            }
            EXPECT_EQ(33909u, n0);
            EXPECT_EQ(33909u, n1);
            if (brightness == 0) {
                EXPECT_EQ(33909u, h0.nHisto[0]);
            }
            if (brightness == 50) {
                EXPECT_EQ(33909u, h0.nHisto[127]);
            }

            auto awb = std::make_unique<MI_ISP_AWB_HW_STATISTICS_t>();
            ASSERT_EQ(0, MI_ISP_AWB_GetAwbHwAvgStats(0, 0, awb.get()));
            EXPECT_EQ(128u, awb->nBlkX);
            EXPECT_EQ(90u, awb->nBlkY);
            const MI_ISP_AWB_AVGS &last = awb->nAvg[128 * 90 - 1];
            if (brightness == 50) {
                EXPECT_EQ(255, last.uAvgG) << "every block measured, the last too";
            }
            EXPECT_EQ(32u, ae_stats()->nBlkX);
        }
    }
}

TEST_F(Board3A, AwbStatusCarriesBvAndWeightYOfTheLastAeResult) {
    build(320, 240);
    vb::capture::step(1);
    struct Write {
        uint32_t change, bv, weight_y, avg_y;
    };
    const Write writes[] = {{1, 20694, 47, 45}, {0, (uint32_t)-16384, 52, 50}, {1, 158005, 0, 3}};
    CusAWBInfo_t aw;
    ASSERT_EQ(0, MI_ISP_CUS3A_GetAwbStatus(0, 0, &aw));
    EXPECT_EQ(0u, aw.u4BVx16384) << "no AE result yet";
    EXPECT_EQ(0, aw.WeightY);
    for (const Write &w : writes) {
        SCOPED_TRACE(testing::Message() << "BV " << (int32_t)w.bv);
        CusAEResult_t r;
        memset(&r, 0, sizeof r);
        r.Size = sizeof r;
        r.Change = w.change;
        r.Shutter = 10000;
        r.SensorGain = r.IspGain = 1024;
        r.u4BVx16384 = w.bv;
        r.WeightY = w.weight_y;
        r.AvgY = w.avg_y;
        ASSERT_EQ(0, MI_ISP_CUS3A_SetAeParam(0, 0, &r));
        ASSERT_EQ(0, MI_ISP_CUS3A_GetAwbStatus(0, 0, &aw));
        EXPECT_EQ(w.bv, aw.u4BVx16384);
        EXPECT_EQ((int32_t)w.weight_y, aw.WeightY);
        CusAEInfo_t st = ae_status();
        EXPECT_EQ(w.avg_y, st.PreAvgY);
        EXPECT_EQ(w.weight_y, st.PreWeightY);
    }
}

std::string isp_root() {
    MI_ISP_ROOT_PATH_T r;
    memset(&r, 0xCD, sizeof r);
    EXPECT_EQ(0, MI_ISP_GetIspRoot(0, 0, &r));
    return std::string(r.strIspRoot, strnlen(r.strIspRoot, sizeof r.strIspRoot));
}

TEST_F(Board3A, IspRootIsSettableAndFillsTheRecordAtMost) {
    build(64, 64);
    EXPECT_EQ("/config/iqfile", isp_root());
    vb::capture::set_isp_root("/tmp/iq");
    EXPECT_EQ("/tmp/iq", isp_root());
    EXPECT_EQ("/customer/iq", vb::ctl_exec("isp-root /customer/iq"));
    EXPECT_EQ("/customer/iq", isp_root());
    EXPECT_EQ("/customer/iq", vb::ctl_exec("isp-root"));
    const std::string s63(63, 'a'), s64(64, 'b'), s80(80, 'c');
    vb::capture::set_isp_root(s63);
    EXPECT_EQ(s63, isp_root()) << "ends in its NUL";
    vb::capture::set_isp_root(s64);
    EXPECT_EQ(s64, isp_root()) << "all 64 bytes, no NUL";
    vb::capture::set_isp_root(s80);
    EXPECT_EQ(s80.substr(0, 64), isp_root());
    vb::capture::reset();
    MI_ISP_DevAttr_t da{0};
    ASSERT_EQ(0, MI_ISP_CreateDevice(0, &da));
    EXPECT_EQ("/config/iqfile", isp_root()) << "reset restores the default";
}

std::vector<uint8_t> bytes_of(const void *p, size_t n) { return {(const uint8_t *)p, (const uint8_t *)p + n}; }

TEST_F(Board3A, IqLogRecordsEveryRequestAndArmedFailuresAnswerFirst) {
    build(320, 240);
    vb::capture::step(1);
    vb::capture::iq_log_clear();

    CusAEResult_t ae;
    memset(&ae, 0, sizeof ae);
    ae.Size = sizeof ae;
    ae.Change = 1;
    ae.Shutter = 10000;
    ae.SensorGain = 2048;
    ae.IspGain = 1024;
    ASSERT_EQ(0, MI_ISP_CUS3A_SetAeParam(0, 0, &ae));
    CusAEInfo_t st = ae_status();
    vb::capture::step(1);

    const int kCode = (int)0xA0072010;
    vb::capture::iq_fail(0x2E09, kCode, 2);
    CusAWBInfo_t aw;
    memset(&aw, 0xCD, sizeof aw);
    EXPECT_EQ(kCode, MI_ISP_CUS3A_GetAwbStatus(0, 0, &aw));
    EXPECT_EQ(kCode, MI_ISP_CUS3A_GetAwbStatus(0, 0, &aw));
    EXPECT_EQ(std::vector<uint8_t>(sizeof aw, 0xCD), bytes_of(&aw, sizeof aw)) << "a failed get leaves the record";
    EXPECT_EQ(0, MI_ISP_CUS3A_GetAwbStatus(0, 0, &aw));

    vb::capture::iq_fail(0x2E21, (int)0xA0072003, -1);
    CusAfResult_t af{sizeof(CusAfResult_t), 1, 300};
    for (int i = 0; i < 3; ++i) EXPECT_EQ((int)0xA0072003, MI_ISP_CUS3A_SetAfParam(0, 0, &af));
    vb::capture::iq_fail_clear();
    EXPECT_EQ(0, MI_ISP_CUS3A_SetAfParam(0, 0, &af));

    // A length that is not the id's, an id the driver does not know, a
    // record too large to keep, a channel out of range.
    MI_ISP_IQApiHeader_t short_len{24, 12, 0x2E06, 0, 0, 0};
    EXPECT_NE(0, MI_ISP_SetIQApiData(&short_len, &ae));
    uint32_t word = 0;
    MI_ISP_IQApiHeader_t unknown{24, 4, 0x1401, 0, 0, 0};
    EXPECT_NE(0, MI_ISP_GetIQApiData(&unknown, &word));
    EXPECT_EQ(32u, ae_stats()->nBlkX);
    MI_ISP_IQApiHeader_t far{24, sizeof ae, 0x2E06, 16, 0, 0};
    EXPECT_NE(0, MI_ISP_SetIQApiData(&far, &ae));

    struct Want {
        uint32_t id;
        uint64_t frame;
        bool set;
        uint32_t chn, len;
        std::vector<uint8_t> bytes;
        int result;  // kRefused: any driver error
    };
    const int kRefused = 1;
    const Want want[] = {
        {0x2E06, 1, true, 0, sizeof ae, bytes_of(&ae, sizeof ae), 0},
        {0x2E05, 1, false, 0, sizeof st, bytes_of(&st, sizeof st), 0},
        {0x2E09, 2, false, 0, sizeof aw, {}, kCode},
        {0x2E09, 2, false, 0, sizeof aw, {}, kCode},
        {0x2E09, 2, false, 0, sizeof aw, bytes_of(&aw, sizeof aw), 0},
        {0x2E21, 2, true, 0, sizeof af, bytes_of(&af, sizeof af), (int)0xA0072003},
        {0x2E21, 2, true, 0, sizeof af, bytes_of(&af, sizeof af), (int)0xA0072003},
        {0x2E21, 2, true, 0, sizeof af, bytes_of(&af, sizeof af), (int)0xA0072003},
        {0x2E21, 2, true, 0, sizeof af, bytes_of(&af, sizeof af), 0},
        {0x2E06, 2, true, 0, 12, {}, kRefused},
        {0x1401, 2, false, 0, 4, {}, kRefused},
        {0x2E01, 2, false, 0, sizeof(MI_ISP_AE_HW_STATISTICS_t), {}, 0},
        {0x2E06, 0, true, 16, sizeof ae, bytes_of(&ae, sizeof ae), kRefused},
    };
    std::vector<vb::capture::IqLogEntry> log;
    for (const auto &e : vb::capture::iq_log())
        for (const Want &w : want)
            if (e.id == w.id) {
                log.push_back(e);
                break;
            }
    ASSERT_EQ(sizeof want / sizeof want[0], log.size());
    for (size_t i = 0; i < log.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "entry " << i << " id 0x" << std::hex << want[i].id);
        const auto &e = log[i];
        EXPECT_EQ(want[i].id, e.id);
        EXPECT_EQ(want[i].frame, e.frame);
        EXPECT_EQ(want[i].set, e.set);
        EXPECT_EQ(0u, e.dev);
        EXPECT_EQ(want[i].chn, e.chn);
        EXPECT_EQ(want[i].len, e.len);
        EXPECT_EQ(want[i].bytes, e.bytes);
        if (want[i].result == kRefused)
            EXPECT_NE(0, e.result);
        else
            EXPECT_EQ(want[i].result, e.result);
        if (i) {
            EXPECT_GT(e.seq, log[i - 1].seq);
        }
    }

    // The same through the control socket.
    std::string line = vb::ctl_exec("iqlog 0x2e06");
    line = line.substr(0, line.find('\n'));
    EXPECT_EQ(std::to_string(log[0].seq) + " 1 set 0x2e06 0 0 " + std::to_string(sizeof ae) + " 0 " +
                  vb::to_hex(bytes_of(&ae, sizeof ae)),
              line);
    EXPECT_EQ("ok", vb::ctl_exec("iqfail 0x2e05 5"));
    EXPECT_EQ(5, MI_ISP_CUS3A_GetAeStatus(0, 0, &st));
    EXPECT_EQ(0, MI_ISP_CUS3A_GetAeStatus(0, 0, &st)) << "one by default";
    EXPECT_EQ(0u, vb::ctl_exec("iqfail 0x2e05 5 0").find("error"));
    EXPECT_EQ("ok", vb::ctl_exec("iqlog clear"));
    EXPECT_TRUE(vb::capture::iq_log().empty());
}

// A 3A service of the test's own on "/dev/isp_fe": on each event of channel 0
// it answers every enabled kind; its AWB makes the grey card neutral from
// the AWB blocks under the card (the statistics come before the gains, so
// the gains it finds hold still).
class Answerer {
public:
    explicit Answerer(bool answer) : answer_(answer), fd_(mi_node_open("/dev/isp_fe", 2)) {
        EXPECT_GE(fd_, 0);
        thread_ = std::thread([this] { run(); });
    }
    ~Answerer() {
        stop_ = true;
        thread_.join();
        mi_node_close(fd_);
    }
    // Its reads lag the board's sends: wait for them, 10 s at most.
    bool wait_events(int n) {
        for (int i = 0; i < 1000 && events_ < n; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return events_ == n;
    }

private:
    void run() {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20) != 1) continue;
            uint32_t ev[5];
            if (read(fd_, ev, sizeof ev) != (ssize_t)sizeof ev || !(ev[0] & 1)) continue;
            ++events_;
            if (!answer_) continue;
            if (ev[1] & 1) {
                CusAEResult_t r;
                memset(&r, 0, sizeof r);
                r.Size = sizeof r;
                MI_ISP_CUS3A_SetAeParam(0, 0, &r);
            }
            if (ev[2] & 1) awb();
            if (ev[3] & 1) {
                CusAfResult_t r{sizeof(CusAfResult_t), 0, 0};
                MI_ISP_CUS3A_SetAfParam(0, 0, &r);
            }
        }
    }
    void awb() {
        auto s = std::make_unique<MI_ISP_AWB_HW_STATISTICS_t>();
        if (MI_ISP_AWB_GetAwbHwAvgStats(0, 0, s.get()) != 0) return;
        double sum[3] = {0, 0, 0};
        for (uint32_t y = 42; y < 48; ++y)  // inside the card, 7/16..9/16 of the picture
            for (uint32_t x = 58; x < 70; ++x) {
                const MI_ISP_AWB_AVGS &b = s->nAvg[y * 128 + x];
                sum[0] += b.uAvgR;
                sum[1] += b.uAvgG;
                sum[2] += b.uAvgB;
            }
        CusAWBResult_t r;
        memset(&r, 0, sizeof r);
        r.Size = sizeof r;
        r.Change = 1;
        r.R_gain = (uint32_t)(1024 * sum[1] / sum[0]);
        r.G_gain = 1024;
        r.B_gain = (uint32_t)(1024 * sum[1] / sum[2]);
        MI_ISP_CUS3A_SetAwbParam(0, 0, &r);
    }

    bool answer_;
    int fd_;
    std::atomic<bool> stop_{false};
    std::atomic<int> events_{0};
    std::thread thread_;
};

TEST_F(Board3A, LockstepWaitsForEveryEnabledKindAndTheLoopCloses) {
    build(320, 240);
    // The library's own 3A service stays off this channel.
    CUS3A_EnableUserspaceAE(0, 0, 0);
    CUS3A_EnableUserspaceAWB(0, 0, 0);
    CUS3A_EnableUserspaceAF(0, 0, 0);
    EXPECT_EQ(0u, vb::ctl_exec("scene cct 3000").find("brightness"));
    Cus3AEnable_t on{1, 1, 1};
    ASSERT_EQ(0, MI_ISP_CUS3A_Enable(0, 0, &on));
    vb::capture::iq_log_clear();
    {
        Answerer a(true);
        vb::capture::set_lockstep(true, 5000);
        ASSERT_EQ(1, vb::capture::step(1));
        vb::cap::Rgb warm = vb::capture::grey_card(0, 0);
        EXPECT_GT(warm.r / warm.b, 2.0);
        // The gains found on frame 1 hold from frame 2 on.
        for (int f = 2; f <= 6; ++f) {
            EXPECT_EQ("1", vb::ctl_exec("vif step 1"));
            vb::cap::Rgb card = vb::capture::grey_card(0, 0);
            EXPECT_NEAR(1.0, card.r / card.g, 0.03) << "frame " << f;
            EXPECT_NEAR(1.0, card.b / card.g, 0.03) << "frame " << f;
        }
        // A result the driver refuses is an answer all the same.
        vb::capture::iq_fail(0x2E0A, (int)0xA0072010);
        EXPECT_EQ(1, vb::capture::step(1));
        EXPECT_EQ(0u, vb::capture::lockstep_timeouts());
        // Each frame's answers came before the next frame.
        for (uint32_t id : {0x2E06u, 0x2E0Au, 0x2E21u}) {
            auto log = vb::capture::iq_log(id);
            ASSERT_EQ(7u, log.size()) << std::hex << id;
            for (size_t i = 0; i < log.size(); ++i) EXPECT_EQ(i + 1, log[i].frame) << std::hex << id;
        }
    }
    {
        // A reader that never answers: every frame waits out the timeout.
        Answerer mute(false);
        EXPECT_EQ("ok", vb::ctl_exec("lockstep on 30"));
        EXPECT_EQ(3, vb::capture::step(3));
        EXPECT_EQ(3u, vb::capture::lockstep_timeouts());
        EXPECT_TRUE(mute.wait_events(3)) << "it got every frame's event";
        // Nothing enabled: nothing owed.
        Cus3AEnable_t off{0, 0, 0};
        ASSERT_EQ(0, MI_ISP_CUS3A_Enable(0, 0, &off));
        EXPECT_EQ(2, vb::capture::step(2));
        EXPECT_EQ(3u, vb::capture::lockstep_timeouts());
    }
    EXPECT_EQ("on timeout 30 timeouts 3", vb::ctl_exec("lockstep"));
    EXPECT_EQ("ok", vb::ctl_exec("lockstep off"));
    EXPECT_EQ("off timeout 30 timeouts 3", vb::ctl_exec("lockstep"));
    EXPECT_EQ(0u, vb::ctl_exec("lockstep on 0").find("error"));
}

}  // namespace
