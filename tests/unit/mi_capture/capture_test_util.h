// Helpers shared by the capture tests: the last request a node saw, and a
// paused capture pipeline (VIF -> ISP channel 0) with results set by hand.
#pragma once
#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <vector>

#include "mi_isp.h"
#include "mi_vif.h"
#include "vb.h"
#include "vb_capture.h"

namespace ct {

inline vb::TraceEntry last(const char *node) {
    auto t = vb::trace(node);
    if (t.empty()) {
        ADD_FAILURE() << "no request on " << node;
        return {};
    }
    return t.back();
}

inline uint32_t word(const std::vector<uint8_t> &b, size_t off) {
    uint32_t v = 0;
    if (off + 4 <= b.size()) memcpy(&v, &b[off], 4);
    return v;
}

inline uint16_t half(const std::vector<uint8_t> &b, size_t off) {
    uint16_t v = 0;
    if (off + 2 <= b.size()) memcpy(&v, &b[off], 2);
    return v;
}

inline MI_SYS_ChnPort_t port(MI_ModuleId_e m, uint32_t d, uint32_t c, uint32_t p) {
    MI_SYS_ChnPort_t r;
    r.eModId = m;
    r.u32DevId = d;
    r.u32ChnId = c;
    r.u32PortId = p;
    return r;
}

inline const MI_SYS_ChnPort_t kVifOut = port(E_MI_MODULE_ID_VIF, 0, 0, 0);
inline const MI_SYS_ChnPort_t kIspIn = port(E_MI_MODULE_ID_ISP, 0, 0, 0);

class Pipeline : public ::testing::Test {
protected:
    void SetUp() override {
        vb::capture::reset();
        vb::inject_clear();
        vb::capture::pause();
        vb::cap::SceneParams sc;
        sc.moving = false;
        vb::capture::set_scene(sc);
    }
    void TearDown() override {
        for (auto &b : binds_) vb::unbind(b.first, b.second);
        binds_.clear();
        vb::capture::reset();
    }

    void build(uint16_t w, uint16_t h, uint32_t fps = 30) {
        MI_VIF_GroupAttr_t ga;
        memset(&ga, 0, sizeof ga);
        ga.eIntfMode = E_MI_VIF_MODE_BT1120_STANDARD;
        ASSERT_EQ(0, MI_VIF_CreateDevGroup(0, &ga));
        MI_VIF_DevAttr_t da;
        memset(&da, 0, sizeof da);
        da.eInputPixel = E_MI_SYS_PIXEL_FRAME_YUV422_UYVY;
        da.stInputRect = {0, 0, w, h};
        ASSERT_EQ(0, MI_VIF_SetDevAttr(0, &da));
        ASSERT_EQ(0, MI_VIF_EnableDev(0));
        MI_VIF_OutputPortAttr_t pa;
        memset(&pa, 0, sizeof pa);
        pa.stCapRect = {0, 0, w, h};
        pa.stDestSize = {w, h};
        pa.ePixFormat = E_MI_SYS_PIXEL_FRAME_YUV422_UYVY;
        ASSERT_EQ(0, MI_VIF_SetOutputPortAttr(0, 0, &pa));
        MI_ISP_DevAttr_t ida{0};
        ASSERT_EQ(0, MI_ISP_CreateDevice(0, &ida));
        MI_ISP_ChannelAttr_t ca;
        memset(&ca, 0, sizeof ca);
        ASSERT_EQ(0, MI_ISP_CreateChannel(0, 0, &ca));
        // The tests write the results themselves: no 3A service on the channel.
        Cus3AEnable_t off{0, 0, 0};
        ASSERT_EQ(0, MI_ISP_CUS3A_Enable(0, 0, &off));
        ASSERT_EQ(0, MI_ISP_StartChannel(0, 0));
        bind(kVifOut, kIspIn, fps);
        ASSERT_EQ(0, MI_VIF_EnableOutputPort(0, 0));
    }

    void bind(MI_SYS_ChnPort_t s, MI_SYS_ChnPort_t d, uint32_t fps) {
        vb::Binding b{s, d, fps, fps, 1, 0};
        ASSERT_EQ(0, vb::bind(b));
        binds_.push_back({s, d});
    }

    std::vector<std::pair<MI_SYS_ChnPort_t, MI_SYS_ChnPort_t>> binds_;
};

inline void set_ae(uint32_t shutter, uint32_t sgain = 1024, uint32_t igain = 1024) {
    CusAEResult_t r;
    memset(&r, 0, sizeof r);
    r.Size = sizeof r;
    r.Change = 1;
    r.Shutter = shutter;
    r.SensorGain = sgain;
    r.IspGain = igain;
    ASSERT_EQ(0, MI_ISP_CUS3A_SetAeParam(0, 0, &r));
}

inline void set_awb(uint32_t r, uint32_t g, uint32_t b) {
    CusAWBResult_t a;
    memset(&a, 0, sizeof a);
    a.Size = sizeof a;
    a.Change = 1;
    a.R_gain = r;
    a.G_gain = g;
    a.B_gain = b;
    ASSERT_EQ(0, MI_ISP_CUS3A_SetAwbParam(0, 0, &a));
}

inline void set_lens(uint32_t pos) {
    CusAfResult_t a{sizeof(CusAfResult_t), 1, pos};
    ASSERT_EQ(0, MI_ISP_CUS3A_SetAfParam(0, 0, &a));
}

inline std::unique_ptr<MI_ISP_AE_HW_STATISTICS_t> ae_stats() {
    auto s = std::make_unique<MI_ISP_AE_HW_STATISTICS_t>();
    EXPECT_EQ(0, MI_ISP_AE_GetAeHwAvgStats(0, 0, s.get()));
    return s;
}

inline double mean_y() {
    auto s = ae_stats();
    double sum = 0;
    uint32_t n = s->nBlkX * s->nBlkY;
    for (uint32_t i = 0; i < n; ++i) sum += s->nAvg[i].uAvgY;
    return n ? sum / n : 0;
}

}  // namespace ct
