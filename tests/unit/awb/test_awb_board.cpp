// The AWB in the loop on the virtual board: the default plug-ins with the
// sensor's reference IQ file, AE and AWB running, lockstep, a still scene
// whose light changes 6500 K -> 3000 K -> 6500 K, or whose brightness changes
// under 6500 K. Judged from outside: the grey card in the ISP's output, and
// the gains the plug-in sends.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "capture_test_util.h"
#include "iq_root.h"

namespace {

struct Gains {
    double r, g, b;
};

// Gains that make a white under the light grey, the smallest of them 1.0.
Gains neutral(uint32_t cct) {
    double rgb[3];
    vb::cap::illuminant_rgb(cct, rgb);
    const double m = std::min({1 / rgb[0], 1 / rgb[1], 1 / rgb[2]});
    return {1024 / rgb[0] / m, 1024 / rgb[1] / m, 1024 / rgb[2] / m};
}

CusAWBResult_t awb_result(const vb::capture::IqLogEntry &e) {
    CusAWBResult_t r;
    memset(&r, 0, sizeof r);
    if (e.bytes.size() == sizeof r) memcpy(&r, e.bytes.data(), sizeof r);
    return r;
}

double spread(const vb::cap::Rgb &c) {
    return (std::max({c.r, c.g, c.b}) - std::min({c.r, c.g, c.b})) / c.g;
}

class AwbOnBoard : public ct::Pipeline {
protected:
    // The default plug-ins with the reference IQ file, AE and AWB on, a
    // still scene under 6500 K, lockstep.
    void start(vb::cap::SceneParams *sc) {
        iq_.emplace(VIDREC_REFERENCE_IQFILE);
        *sc = vb::capture::scene();
        sc->moving = false;
        sc->cct = 6500;
        vb::capture::set_scene(*sc);
        build(320, 240);
        Cus3AEnable_t on{1, 1, 0};  // AE and AWB
        ASSERT_EQ(0, MI_ISP_CUS3A_Enable(0, 0, &on));
        vb::capture::iq_log_clear();
        vb::capture::set_lockstep(true, 2000);
    }
    void TearDown() override {
        vb::capture::set_lockstep(false);
        Pipeline::TearDown();
    }
    std::optional<unit::IqRoot> iq_;
};

TEST_F(AwbOnBoard, FollowsTheLightToAGreyCard) {
    vb::cap::SceneParams sc;
    ASSERT_NO_FATAL_FAILURE(start(&sc));

    size_t seen = 0;
    bool first = true;
    for (uint32_t cct : {6500u, 3000u, 6500u}) {
        sc.cct = cct;
        vb::capture::set_scene(sc);
        ASSERT_EQ(1, vb::capture::step(1));
        // The new light under the old gains: the card is visibly off grey.
        if (!first) {
            EXPECT_GT(spread(vb::capture::grey_card(0, 0)), 0.2) << cct;
        }
        first = false;
        ASSERT_EQ(29, vb::capture::step(29));
        const vb::cap::Rgb card = vb::capture::grey_card(0, 0);
        EXPECT_LT(spread(card), 0.05) << cct << " K: card " << card.r << " " << card.g << " " << card.b;

        const auto log = vb::capture::iq_log(0x2E0A);
        ASSERT_EQ(seen + 30, log.size());
        const CusAWBResult_t last = awb_result(log.back());
        const Gains want = neutral(cct);
        EXPECT_NEAR(want.r, last.R_gain, 0.03 * want.r) << cct;
        EXPECT_NEAR(want.g, last.G_gain, 0.03 * want.g) << cct;
        EXPECT_NEAR(want.b, last.B_gain, 0.03 * want.b) << cct;
        EXPECT_NEAR(cct, last.ColorTmp, 0.1 * cct);
        seen = log.size();
    }
    // The AWB runs on its frames 1, 4, 7, ...; the other frames repeat its gains.
    const auto log = vb::capture::iq_log(0x2E0A);
    for (size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(i % 3 == 0 ? 1u : 0u, awb_result(log[i]).Change) << "frame " << i + 1;
        EXPECT_EQ(log[0].frame + i, log[i].frame) << "one result a frame";
    }
    EXPECT_EQ(0u, vb::capture::lockstep_timeouts());
}

// The same light at other brightnesses: the AE moves the exposure, and with
// it every block's level and rounding; the white balance must not move.
TEST_F(AwbOnBoard, HoldsTheGainsWhileTheExposureMoves) {
    vb::cap::SceneParams sc;
    ASSERT_NO_FATAL_FAILURE(start(&sc));

    const Gains want = neutral(6500);
    uint32_t shutter = 0;
    double lo[2] = {1e9, 1e9}, hi[2] = {0, 0};  // R and G gains seen
    for (double b : {0.4, 1.0, 2.5}) {
        sc.brightness = b;
        vb::capture::set_scene(sc);
        ASSERT_EQ(45, vb::capture::step(45));
        const uint32_t s = vb::capture::applied(0, 0).shutter_us;
        EXPECT_NE(shutter, s) << "the AE should have followed brightness " << b;
        shutter = s;
        const CusAWBResult_t last = awb_result(vb::capture::iq_log(0x2E0A).back());
        EXPECT_NEAR(want.r, last.R_gain, 0.03 * want.r) << b;
        EXPECT_NEAR(want.g, last.G_gain, 0.03 * want.g) << b;
        EXPECT_NEAR(want.b, last.B_gain, 0.03 * want.b) << b;
        const double g[2] = {(double)last.R_gain, (double)last.G_gain};
        for (int k = 0; k < 2; ++k) {
            lo[k] = std::min(lo[k], g[k]);
            hi[k] = std::max(hi[k], g[k]);
        }
    }
    EXPECT_LT(hi[0] - lo[0], 0.015 * want.r) << "R gain moved with the exposure";
    EXPECT_LT(hi[1] - lo[1], 0.015 * want.g) << "G gain moved with the exposure";
    EXPECT_EQ(0u, vb::capture::lockstep_timeouts());
}

}  // namespace
