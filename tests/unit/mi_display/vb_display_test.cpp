// The virtual display: set-up order it enforces, pictures arriving through the
// binding graph checked against the port's source size and the device timing,
// the HDMI cable and the control verbs.
#include <gtest/gtest.h>

#include <string>

#include "mi_disp.h"
#include "mi_disp_ioctl.h"
#include "mi_hdmi.h"
#include "mi_hdmi_ioctl.h"
#include "vb.h"
#include "vb_display.h"

namespace {

const MI_SYS_ChnPort_t kScl0{E_MI_MODULE_ID_SCL, 0, 0, 0};
const MI_SYS_ChnPort_t kDisp0{E_MI_MODULE_ID_DISP, 0, 0, 0};

class VirtualDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        vb::display::reset();
        vb::display::stats_clear();
        vb::inject_clear();
        vb::unbind(kScl0, kDisp0);
    }
    void TearDown() override { vb::unbind(kScl0, kDisp0); }

    // Device 0 at `timing`, layer 0, input port 0 taking `sw` x `sh` pictures.
    void set_up(MI_DISP_OutputTiming_e timing, uint16_t sw, uint16_t sh, const MI_DISP_SyncInfo_t *user = nullptr) {
        MI_DISP_PubAttr_t pub{};
        pub.eIntfType = E_MI_DISP_INTF_HDMI;
        pub.eIntfSync = timing;
        if (user) pub.stSyncInfo = *user;
        ASSERT_EQ(MI_DISP_SetPubAttr(0, &pub), 0);
        ASSERT_EQ(MI_DISP_Enable(0), 0);
        ASSERT_EQ(MI_DISP_BindVideoLayer(0, 0), 0);
        MI_DISP_VideoLayerAttr_t la{};
        ASSERT_EQ(MI_DISP_SetVideoLayerAttr(0, &la), 0);
        ASSERT_EQ(MI_DISP_EnableVideoLayer(0), 0);
        MI_DISP_InputPortAttr_t pa{};
        pa.stDispWin = {0, 0, 1920, 1080};
        pa.u16SrcWidth = sw;
        pa.u16SrcHeight = sh;
        ASSERT_EQ(MI_DISP_SetInputPortAttr(0, 0, &pa), 0);
        ASSERT_EQ(MI_DISP_EnableInputPort(0, 0), 0);
        ASSERT_EQ(vb::bind({kScl0, kDisp0, 30, 30, 1, 0}), 0);
    }

    // `n` pictures from the scaler port, `interval_us` apart on the picture clock.
    static int feed(int n, uint32_t w, uint32_t h, uint64_t interval_us, uint64_t start = 1000000) {
        int taken = 0;
        for (int i = 0; i < n; ++i) {
            vb::Picture pic;
            pic.width = w;
            pic.height = h;
            pic.pts = start + (uint64_t)i * interval_us;
            taken += vb::deliver_from(kScl0, pic);
        }
        return taken;
    }

    static vb::display::PortStats port0() {
        for (auto &s : vb::display::stats())
            if (s.layer == 0 && s.port == 0) return s;
        return {};
    }
};

TEST_F(VirtualDisplay, RefusesSetUpOutOfOrderAndUnknownObjects) {
    EXPECT_EQ(MI_DISP_Enable(0), MI_DISP_ERR_NOT_CONFIG);  // no public attributes yet
    EXPECT_EQ(MI_DISP_Enable(2), MI_DISP_ERR_INVALID_DEVID);
    EXPECT_EQ(MI_DISP_EnableVideoLayer(0), MI_DISP_ERR_NOT_CONFIG);  // not bound to a device
    EXPECT_EQ(MI_DISP_EnableVideoLayer(4), MI_DISP_ERR_INVALID_CHNID);
    MI_DISP_InputPortAttr_t pa{};
    EXPECT_EQ(MI_DISP_SetInputPortAttr(1, 1, &pa), MI_DISP_ERR_INVALID_CHNID);  // layer 1 has one port
    EXPECT_EQ(MI_DISP_SetInputPortAttr(0, 16, &pa), MI_DISP_ERR_INVALID_CHNID);
    EXPECT_EQ(MI_DISP_EnableInputPort(0, 3), MI_DISP_ERR_NOT_CONFIG);
    ASSERT_EQ(MI_DISP_SetInputPortAttr(0, 3, &pa), 0);
    EXPECT_EQ(MI_DISP_EnableInputPort(0, 3), MI_DISP_ERR_NOT_ENABLE);  // layer off
    ASSERT_EQ(MI_DISP_BindVideoLayer(0, 0), 0);
    EXPECT_EQ(MI_DISP_UnBindVideoLayer(0, 1), MI_DISP_ERR_ILLEGAL_PARAM);  // bound to device 0
    MI_DISP_PubAttr_t pub{};
    pub.eIntfSync = E_MI_DISP_OUTPUT_MAX;
    EXPECT_EQ(MI_DISP_SetPubAttr(0, &pub), MI_DISP_ERR_ILLEGAL_PARAM);
    pub.eIntfSync = E_MI_DISP_OUTPUT_USER;  // a user timing needs its sizes and rate
    EXPECT_EQ(MI_DISP_SetPubAttr(0, &pub), MI_DISP_ERR_ILLEGAL_PARAM);
    EXPECT_EQ(MI_DISP_DeviceDetach(0, 0), MI_DISP_ERR_ILLEGAL_PARAM);
}

TEST_F(VirtualDisplay, CountsPicturesAtTheConfiguredSizeAndRate) {
    set_up(E_MI_DISP_OUTPUT_1080P30, 1920, 1080);
    EXPECT_EQ(feed(61, 1920, 1080, 33333), 61);
    auto s = port0();
    EXPECT_EQ(s.frames, 61u);
    EXPECT_EQ(s.size_mismatch, 0u);
    EXPECT_EQ(s.rate_mismatch, 0u);
    EXPECT_EQ(s.dropped, 0u);
    EXPECT_NEAR(s.fps, 30.0, 0.1);
    EXPECT_EQ(s.last_width, 1920u);
}

TEST_F(VirtualDisplay, FlagsPicturesOfAnotherSize) {
    set_up(E_MI_DISP_OUTPUT_1080P30, 1920, 1080);
    feed(5, 1280, 720, 33333);
    feed(3, 1920, 1080, 33333, 2000000);
    auto s = port0();
    EXPECT_EQ(s.frames, 8u);
    EXPECT_EQ(s.size_mismatch, 5u);
}

TEST_F(VirtualDisplay, FlagsARateOffTheTiming) {
    set_up(E_MI_DISP_OUTPUT_1080P60, 1920, 1080);
    // 30 pictures a second into a 60 Hz timing: each one-second window is off.
    feed(121, 1920, 1080, 33333);
    auto s = port0();
    EXPECT_EQ(s.frames, 121u);
    EXPECT_EQ(s.rate_mismatch, 2u);  // two complete windows of 60 intervals
    EXPECT_NEAR(s.fps, 30.0, 0.1);

    // A rate within 10 % passes.
    vb::display::stats_clear();
    feed(61, 1920, 1080, 17241, 9000000);  // 58 per second
    EXPECT_EQ(port0().rate_mismatch, 0u);
}

TEST_F(VirtualDisplay, UserTimingTakesSizeAndRateFromSyncInfo) {
    MI_DISP_SyncInfo_t si{};
    si.u16Hact = 800;
    si.u16Vact = 480;
    si.u32FrameRate = 25;
    set_up(E_MI_DISP_OUTPUT_USER, 800, 480, &si);
    feed(26, 800, 480, 40000);
    auto s = port0();
    EXPECT_EQ(s.rate_mismatch, 0u);
    EXPECT_NEAR(s.fps, 25.0, 0.1);
    MI_DISP_WBC_Attr_t w{};
    ASSERT_EQ(MI_DISP_GetWBCAttr(0, &w), 0);
    EXPECT_EQ(w.stTargetSize.u32Width, 800u);
    EXPECT_EQ(w.stTargetSize.u32Height, 480u);
}

TEST_F(VirtualDisplay, PicturesForAPortThatIsOffAreDroppedNotShown) {
    set_up(E_MI_DISP_OUTPUT_1080P30, 1920, 1080);
    ASSERT_EQ(MI_DISP_DisableInputPort(0, 0), 0);
    feed(4, 1920, 1080, 33333);
    ASSERT_EQ(MI_DISP_EnableInputPort(0, 0), 0);
    ASSERT_EQ(MI_DISP_Disable(0), 0);
    feed(2, 1920, 1080, 33333, 5000000);
    auto s = port0();
    EXPECT_EQ(s.frames, 0u);
    EXPECT_EQ(s.dropped, 6u);

    // A channel that maps to no input port.
    const MI_SYS_ChnPort_t far{E_MI_MODULE_ID_DISP, 0, 20, 0};
    const MI_SYS_ChnPort_t scl1{E_MI_MODULE_ID_SCL, 0, 0, 1};
    ASSERT_EQ(vb::bind({scl1, far, 30, 30, 1, 0}), 0);
    vb::Picture pic;
    vb::deliver_from(scl1, pic);
    EXPECT_EQ(vb::display::unrouted(), 1u);
    vb::unbind(scl1, far);
}

TEST_F(VirtualDisplay, ControlVerbsSteerTheCableAndReportStats) {
    set_up(E_MI_DISP_OUTPUT_1080P30, 1920, 1080);
    feed(3, 1280, 720, 33333);
    std::string st = vb::ctl_exec("disp stats");
    EXPECT_EQ(st.rfind("frames 3 size_mismatch 3 rate_mismatch 0 dropped 0 unrouted 0\n", 0), 0u) << st;
    EXPECT_NE(st.find("dev 0 layer 0 port 0 frames 3"), std::string::npos) << st;
    EXPECT_EQ(vb::ctl_exec("disp stats-clear"), "ok");
    EXPECT_EQ(port0().frames, 0u);
    EXPECT_NE(vb::ctl_exec("disp state").find("dev 0 enabled 1 intf 5 timing 12 1920x1080@30"), std::string::npos);

    ASSERT_EQ(mi_call(MI_DEV_HDMI, MI_HDMI_INIT, nullptr, 0), 0);
    MI_HDMI_Attr_t a{};
    EXPECT_EQ(vb::ctl_exec("hdmi plug"), "ok");
    ASSERT_EQ(MI_HDMI_GetAttr(E_MI_HDMI_ID_0, &a), 0);
    EXPECT_EQ(a.bConnect, 1);
    EXPECT_EQ(vb::ctl_exec("hdmi unplug"), "ok");
    ASSERT_EQ(MI_HDMI_GetAttr(E_MI_HDMI_ID_0, &a), 0);
    EXPECT_EQ(a.bConnect, 0);
    EXPECT_FALSE(vb::display::hdmi_plugged());
    EXPECT_EQ(vb::ctl_exec("hdmi"), "cable unplugged init 1 open 0 started 0 avmute 0 timing -1\n");
    EXPECT_EQ(vb::ctl_exec("hdmi bogus").rfind("error", 0), 0u);
    ASSERT_EQ(mi_call(MI_DEV_HDMI, MI_HDMI_DEINIT, nullptr, 0), 0);
}

TEST_F(VirtualDisplay, HdmiDriverFollowsItsLifecycle) {
    EXPECT_EQ(MI_HDMI_Open(E_MI_HDMI_ID_0), MI_HDMI_ERR_SYS_NOTREADY);
    ASSERT_EQ(mi_call(MI_DEV_HDMI, MI_HDMI_INIT, nullptr, 0), 0);
    EXPECT_EQ(MI_HDMI_Open((MI_HDMI_DeviceId_e)1), MI_HDMI_ERR_INVALID_DEVID);
    EXPECT_EQ(MI_HDMI_Start(E_MI_HDMI_ID_0), MI_HDMI_ERR_NOT_ENABLE);
    ASSERT_EQ(MI_HDMI_Open(E_MI_HDMI_ID_0), 0);
    EXPECT_EQ(MI_HDMI_Start(E_MI_HDMI_ID_0), MI_HDMI_ERR_NOT_CONFIG);  // no attributes yet
    MI_HDMI_Attr_t a{};
    a.stVideoAttr.eTimingType = E_MI_HDMI_TIMING_MAX;
    EXPECT_EQ(MI_HDMI_SetAttr(E_MI_HDMI_ID_0, &a), MI_HDMI_ERR_ILLEGAL_PARAM);
    a.stVideoAttr.eTimingType = E_MI_HDMI_TIMING_720_60P;
    ASSERT_EQ(MI_HDMI_SetAttr(E_MI_HDMI_ID_0, &a), 0);
    ASSERT_EQ(MI_HDMI_Start(E_MI_HDMI_ID_0), 0);
    EXPECT_EQ(vb::display::hdmi_text(), "cable unplugged init 1 open 1 started 1 avmute 0 timing 5\n");
    ASSERT_EQ(mi_call(MI_DEV_HDMI, MI_HDMI_DEINIT, nullptr, 0), 0);
    EXPECT_EQ(vb::display::hdmi_text(), "cable unplugged init 0 open 0 started 0 avmute 0 timing 5\n");
}

TEST_F(VirtualDisplay, TimingTableHoldsTheOutputsTheRecorderUses) {
    struct Row {
        MI_DISP_OutputTiming_e t;
        uint32_t w, h, fps;
    } rows[] = {
        {E_MI_DISP_OUTPUT_720P50, 1280, 720, 50},       {E_MI_DISP_OUTPUT_1080P24, 1920, 1080, 24},
        {E_MI_DISP_OUTPUT_1366x768_60, 1366, 768, 60},  {E_MI_DISP_OUTPUT_2560x1440_30, 2560, 1440, 30},
        {E_MI_DISP_OUTPUT_3840x2160_30, 3840, 2160, 30}, {E_MI_DISP_OUTPUT_1680x1050_60, 1680, 1050, 60},
    };
    for (auto &r : rows) {
        vb::display::Timing t;
        ASSERT_TRUE(vb::display::timing_of(r.t, &t)) << r.t;
        EXPECT_EQ(t.width, r.w) << r.t;
        EXPECT_EQ(t.height, r.h) << r.t;
        EXPECT_EQ(t.fps, r.fps) << r.t;
    }
    vb::display::Timing t;
    EXPECT_FALSE(vb::display::timing_of(E_MI_DISP_OUTPUT_USER, &t));
}

}  // namespace
