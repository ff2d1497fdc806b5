// The AE closing the loop on the virtual board: the default AE plug-in with
// the virtual sensor's IQ file, frame by frame in lockstep over a still
// scene. Judged from outside: the AE results the board received (0x2E06),
// the statistics it measured, and the AE's answers to its control ids.
#include <string.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "capture_test_util.h"
#include "cus3a_entry.h"
#include "iq_root.h"
#include "isp_api_records.h"
#include "mi_isp_3a_datatype.h"

namespace {

using namespace ct;

MI_S32 api(bool set, uint32_t id, void *data, uint32_t len) {
    MI_ISP_IQApiHeader_t h = {MI_ISP_IQAPI_HEAD_SIZE, len, id, 0, 0, 0};
    return set ? _MI_ISP_SetIspApiData(&h, data) : _MI_ISP_GetIspApiData(&h, data);
}

template <typename T>
MI_S32 set_id(uint32_t id, T v) {
    return api(true, id, &v, sizeof v);
}

// The AE's weighted luminance (Yx10) of the latest frame.
uint32_t lum_y() {
    MI_ISP_AE_HIST_WEIGHT_Y_TYPE_t r;
    memset(&r, 0, sizeof r);
    EXPECT_EQ(0, api(false, 0x1401, &r, sizeof r));
    return r.u32LumY;
}

// AE results the board received since the log was cleared.
std::vector<CusAEResult_t> results() {
    std::vector<CusAEResult_t> out;
    for (const auto &e : vb::capture::iq_log(0x2E06)) {
        CusAEResult_t r;
        memset(&r, 0, sizeof r);
        memcpy(&r, e.bytes.data(), std::min(e.bytes.size(), sizeof r));
        out.push_back(r);
    }
    return out;
}

// One frame: the AE's luminance after it, and its result.
struct Frame {
    uint32_t y;
    CusAEResult_t r;
};

Frame step() {
    vb::capture::iq_log_clear();
    EXPECT_EQ(1, vb::capture::step(1));
    Frame f{lum_y(), {}};
    std::vector<CusAEResult_t> rs = results();
    EXPECT_EQ(1u, rs.size());
    if (!rs.empty()) f.r = rs.back();
    return f;
}

void set_brightness(double b) {
    vb::cap::SceneParams sc = vb::capture::scene();
    sc.brightness = b;
    vb::capture::set_scene(sc);
}

// Spread (largest minus smallest) of the block-row means of the latest
// statistics: the banding a flickering light leaves.
double row_spread() {
    auto s = ae_stats();
    double lo = 1e9, hi = -1e9;
    for (uint32_t r = 0; r < s->nBlkY; ++r) {
        double sum = 0;
        for (uint32_t c = 0; c < s->nBlkX; ++c) sum += s->nAvg[r * s->nBlkX + c].uAvgY;
        lo = std::min(lo, sum / s->nBlkX);
        hi = std::max(hi, sum / s->nBlkX);
    }
    return hi - lo;
}

class AeBoard : public Pipeline {
protected:
    void SetUp() override {
        Pipeline::SetUp();
        iq_.emplace(VIDREC_REFERENCE_IQFILE);
        build(320, 240);
        CUS3A_EnableUserspaceAE(0, 0, 1);
        ASSERT_EQ(0, MI_ISP_RegisterIspApiAgent(0, 0, Cus3A_SetIspApiData, Cus3A_GetIspApiData));
        vb::capture::set_lockstep(true, 2000);
        ASSERT_EQ(1, vb::capture::step(1));  // the AE is made on the first frame
    }
    void TearDown() override {
        vb::capture::set_lockstep(false);
        Pipeline::TearDown();
    }
    std::optional<unit::IqRoot> iq_;

    // Frames until the luminance lies within 470 +- 10 (at most `limit`).
    int converge(int limit) {
        for (int n = 1; n <= limit; ++n)
            if (std::abs((int)step().y - 470) <= 10) return n;
        return -1;
    }
};

TEST_F(AeBoard, BrightnessStepsConvergeWithoutOvershootAndSettle) {
    ASSERT_GT(converge(120), 0) << "the first exposure never reached the target";
    for (int i = 0; i < 30; ++i) step();
    for (double b : {4.0, 1.0, 0.25, 1.0}) {
        SCOPED_TRACE(testing::Message() << "brightness " << b);
        set_brightness(b);
        Frame f = step();
        const bool fromAbove = f.y > 470;
        int n = 1;
        uint32_t lo = f.y, hi = f.y;
        while (std::abs((int)f.y - 470) > 10 && n < 60) {
            f = step();
            ++n;
            lo = std::min(lo, f.y);
            hi = std::max(hi, f.y);
        }
        EXPECT_LE(std::abs((int)f.y - 470), 10) << "not in 470+-10 after " << n << " frames";
        if (fromAbove)
            EXPECT_GE(lo, 450u) << "fell below the target by more than 20";
        else
            EXPECT_LE(hi, 490u) << "rose above the target by more than 20";
        int changes = 0;
        uint32_t worst = 0;
        for (int k = 0; k < 90; ++k) {
            f = step();
            changes += f.r.Change != 0;
            worst = std::max(worst, (uint32_t)std::abs((int)f.y - 470));
        }
        EXPECT_EQ(0, changes) << "changed the exposure while settled";
        EXPECT_LE(worst, 20u);
    }
}

TEST_F(AeBoard, ManualExposureGoesOutEveryFrameInWholeLines) {
    ASSERT_EQ(0, set_id(0x1405, MI_ISP_AE_EXPO_VALUE_TYPE_t{18, 2048, 1024, 10000}));
    ASSERT_EQ(0, set_id(0x1404, (uint32_t)QV_AE_MODE_M));
    step();  // the settings apply on the next frame
    for (int i = 0; i < 10; ++i) {
        Frame f = step();
        EXPECT_EQ(9986u, f.r.Shutter) << i;
        EXPECT_EQ(2048u, f.r.SensorGain) << i;
        EXPECT_EQ(1025u, f.r.IspGain) << i;
    }
    MI_ISP_AE_EXPO_VALUE_TYPE_t m{};
    ASSERT_EQ(0, api(false, 0x1405, &m, sizeof m));
    EXPECT_EQ(10000u, m.u32US);
}

// Dark scenes on a table that holds 20 ms, then 30 ms, while the gain rises:
// a shutter of whole 50 Hz periods stays as it is, so 50 Hz de-banding needs
// no more gain than the same scene with flicker off.
TEST_F(AeBoard, FiftyHzKeepsATableShutterOfWholePeriods) {
    MI_ISP_AE_EXPO_TABLE_TYPE_t t{};
    const MI_ISP_AE_EXPO_POINT_TYPE_t pts[] = {{18, 100, 1024, 1024},     {18, 20000, 1024, 1024},
                                               {18, 20000, 8192, 8192},   {18, 30000, 8192, 8192},
                                               {18, 30000, 131072, 16384}};
    t.u32NumPoints = 5;
    std::copy(std::begin(pts), std::end(pts), t.stExpoTbl);
    ASSERT_EQ(0, set_id(0x140A, t));
    // Mean total gain of the settled loop, after its shutters were checked.
    auto settle = [](uint32_t flicker, const char *what) {
        SCOPED_TRACE(what);
        EXPECT_EQ(0, set_id(0x140E, flicker));
        for (int i = 0; i < 90; ++i) step();
        double gain = 0;
        for (int i = 0; i < 10; ++i) {
            const CusAEResult_t r = step().r;
            const int us = (int)r.Shutter;
            EXPECT_TRUE(std::abs(us - 20000) <= 30 || std::abs(us - 30000) <= 30) << us;
            gain += (double)r.SensorGain * r.IspGain / 1024 / 10;
        }
        return gain;
    };
    // Settled with flicker off: 20 ms at 1.5x and 7.4x, 30 ms at 12.5x.
    for (double b : {0.25, 0.05, 0.02}) {
        SCOPED_TRACE(testing::Message() << "brightness " << b);
        set_brightness(b);
        const double off = settle(QV_AE_FLICKER_TYPE_DISABLE, "flicker off");
        const double fifty = settle(QV_AE_FLICKER_TYPE_50HZ, "50 Hz");
        EXPECT_LE(fifty, off * 1.01);
    }
}

// A dark scene under a 50 Hz lamp: the exposure is long enough to be bent
// onto whole flicker periods.
class AeFlicker : public AeBoard, public testing::WithParamInterface<uint32_t> {
protected:
    void SetUp() override {
        AeBoard::SetUp();
        ASSERT_TRUE(vb::capture::set_sensor_latency(GetParam()));
        set_brightness(0.3);
    }
    // The lamp, as a test on the board's control socket sets it.
    static void lamp50() { EXPECT_EQ(0u, vb::ctl_exec("scene flicker 50 40").find("brightness")); }
};

TEST_P(AeFlicker, FiftyHzDeBandingKeepsTheRowsEven) {
    ASSERT_GT(converge(120), 0);
    for (int i = 0; i < 10; ++i) step();
    const double steady = row_spread();

    lamp50();
    ASSERT_EQ(0, set_id(0x140E, (uint32_t)QV_AE_FLICKER_TYPE_50HZ));
    uint32_t flickerType = 0;
    ASSERT_EQ(0, api(false, 0x140E, &flickerType, sizeof flickerType));
    // Not yet applied: the user copy is what reads back.
    EXPECT_EQ((uint32_t)QV_AE_FLICKER_TYPE_50HZ, flickerType);
    for (int i = 0; i < 90; ++i) step();
    for (int i = 0; i < 20; ++i) {
        Frame f = step();
        const uint32_t periods = (f.r.Shutter + 5000) / 10000;
        EXPECT_GE(periods, 1u);
        EXPECT_LE(std::abs((int)f.r.Shutter - (int)(periods * 10000)), 30) << f.r.Shutter;
    }
    EXPECT_LE(row_spread(), steady + 3.0) << "banding left: " << row_spread() << " against " << steady;
}

TEST_P(AeFlicker, StartUpDetectionFindsFiftyHzOnce) {
    ASSERT_GT(converge(120), 0);
    lamp50();
    testing::internal::CaptureStderr();
    ASSERT_EQ(0, set_id(0x140E, (uint32_t)QV_AE_FLICKER_TYPE_AUTO));
    for (int i = 0; i < 40; ++i) step();
    const std::string out = testing::internal::GetCapturedStderr();
    size_t n = 0;
    for (size_t p = out.find("HZ = "); p != std::string::npos; p = out.find("HZ = ", p + 1)) ++n;
    EXPECT_EQ(1u, n) << out;
    EXPECT_NE(std::string::npos, out.find("HZ = 50\n")) << out;
    uint32_t flickerType = 0;
    ASSERT_EQ(0, api(false, 0x140E, &flickerType, sizeof flickerType));
    EXPECT_EQ((uint32_t)QV_AE_FLICKER_TYPE_50HZ, flickerType);
}

// The board shows an exposure two frames after it is sent; the start-up
// detector was laid out for three.
INSTANTIATE_TEST_SUITE_P(Latency, AeFlicker, testing::Values(2u, 3u));

}  // namespace
