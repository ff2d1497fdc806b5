// The AF closing the loop on the virtual board: the default plug-ins on a
// running channel in lockstep, a still scene, the exposure held, the lens
// targets read from the board's log of 0x2E21 requests.
#include <optional>
#include <string>
#include <vector>

#include "af/af_handle.h"
#include "capture_test_util.h"
#include "cus3a_entry.h"
#include "cus3a_plugin.h"
#include "iq_root.h"
#include "isp_api_records.h"

namespace {

using namespace ct;

MI_S32 api_set(uint32_t id, void *data, uint32_t len) {
    MI_ISP_IQApiHeader_t h = {MI_ISP_IQAPI_HEAD_SIZE, len, id, 0, 0, 0};
    return _MI_ISP_SetIspApiData(&h, data);
}

struct Target {
    uint32_t change, pos;
};

class AfLoop : public Pipeline {
protected:
    void SetUp() override {
        Pipeline::SetUp();
        // The default plug-ins load the virtual sensor's IQ file.
        iq_.emplace(VIDREC_REFERENCE_IQFILE);
        focus(600);
        build(320, 240);  // installs the default plug-ins, then switches the 3A off
        Cus3AEnable_t on{1, 1, 1};
        ASSERT_EQ(0, MI_ISP_CUS3A_Enable(0, 0, &on));
        vb::capture::set_lockstep(true, 2000);
        // The AF is made on its first frame; it then holds the lens at 400,
        // away from the focus, while the exposure settles. The exposure is
        // then held: a changing exposure reads as a scene change.
        ASSERT_EQ(1, vb::capture::step(1));
        attr(QV_OP_TYP_MANUAL, 400, QV_AF_ALGO_CONTINUOUS);
        ASSERT_EQ(89, vb::capture::step(89));
        MI_ISP_SM_STATE_TYPE_e pause = QV_ISP_STATE_PAUSE;
        api_set(0x1406, &pause, sizeof pause);
    }
    void TearDown() override {
        vb::capture::set_lockstep(false);
        Pipeline::TearDown();
    }
    std::optional<unit::IqRoot> iq_;
    static void focus(uint32_t pos) {
        vb::cap::SceneParams sc = vb::capture::scene();
        sc.moving = false;
        sc.focus_pos = pos;
        vb::capture::set_scene(sc);
    }
    void attr(MI_ISP_OP_TYPE_e type, uint16_t manual, MI_ISP_AF_ALGO_TYPE_e algo) {
        MI_ISP_AF_ATTR_TYPE_t a{QV_ISP_STATE_NORMAL, type, manual, algo};
        ASSERT_EQ(0, api_set(0x1C29, &a, sizeof a));
    }
    // The lens targets of the next `frames` frames.
    std::vector<Target> run(int frames) {
        vb::capture::iq_log_clear();
        EXPECT_EQ(frames, vb::capture::step(frames));
        std::vector<Target> t;
        for (const auto &e : vb::capture::iq_log(0x2E21))
            if (e.dev == 0 && e.chn == 0) t.push_back({word(e.bytes, 4), word(e.bytes, 8)});
        EXPECT_EQ((size_t)frames, t.size());
        EXPECT_EQ(0u, vb::capture::lockstep_timeouts());
        return t;
    }
};

// Frames until the target last changed, and where it then stays.
std::pair<size_t, uint32_t> settled(const std::vector<Target> &t) {
    size_t i = t.size();
    while (i > 1 && t[i - 2].pos == t.back().pos) --i;
    return {i, t.empty() ? 0 : t.back().pos};
}

void expect_in_software_range(const std::vector<Target> &t) {
    for (size_t i = 0; i < t.size(); ++i) {
        ASSERT_EQ(1u, t[i].change) << "frame " << i;
        ASSERT_GE(t[i].pos, 320u) << "frame " << i;
        ASSERT_LE(t[i].pos, 700u) << "frame " << i;
    }
}

TEST_F(AfLoop, ContinuousFindsTheFocusAndFollowsItWhenItMoves) {
    attr(QV_OP_TYP_AUTO, 0, QV_AF_ALGO_CONTINUOUS);  // restarts the search
    struct Leg {
        uint32_t focus;
        uint32_t speed;  // motor steps per frame, 0 unlimited
        int within;      // frames
    };
    // The slow motor makes the AF repeat targets it has not reached.
    const Leg legs[] = {{600, 0, 300}, {450, 0, 300}, {600, 4, 300}};
    for (const Leg &l : legs) {
        SCOPED_TRACE(l.focus);
        focus(l.focus);
        ASSERT_TRUE(vb::capture::set_motor_speed(l.speed));
        std::vector<Target> t = run(l.within + 60);
        expect_in_software_range(t);
        auto [at, pos] = settled(t);
        EXPECT_LE(at, (size_t)l.within) << "still moving at frame " << at;
        EXPECT_NEAR((double)l.focus, (double)pos, 10.0);
        EXPECT_EQ(pos, vb::capture::applied(0, 0).lens_pos) << "the lens stands at the target";
    }
}

TEST_F(AfLoop, OneShotLandsOnTheFocusAndManualGoesAtOnce) {
    attr(QV_OP_TYP_AUTO, 0, QV_AF_ALGO_ONESHOT);
    std::vector<Target> t = run(120);
    expect_in_software_range(t);
    auto [at, pos] = settled(t);
    EXPECT_LE(at, 90u);
    EXPECT_EQ(600u, pos) << "the 10-step sweep from 320 passes 600";

    for (uint16_t manual : {450, 600}) {
        attr(QV_OP_TYP_MANUAL, manual, QV_AF_ALGO_ONESHOT);
        t = run(2);
        EXPECT_EQ(manual, t[0].pos);
        EXPECT_EQ(manual, t[1].pos);
    }
}

// A frame without the lens status is skipped, yet the lens moved during it:
// the next frame's statistics are paired with where its picture was taken.
TEST_F(AfLoop, StatisticsPairWithTheirPictureAfterASkippedFrame) {
    attr(QV_OP_TYP_MANUAL, 450, QV_AF_ALGO_CONTINUOUS);
    ASSERT_EQ(1, vb::capture::step(1));  // the lens at 400 is sent to 450
    vb::capture::set_lockstep(true, 300);
    vb::capture::iq_fail(MI_ISP_CID_AF_STATUS, -1, 1);
    ASSERT_EQ(1, vb::capture::step(1));
    ASSERT_EQ(1, vb::capture::step(1));
    const auto *h = (const cam_af_handle_t *)Cus3A_PrivData(0, 0)->tCusAfInfo.hAf;
    ASSERT_NE(nullptr, h);
    const uint16_t paired = h->u16HistPos[1];
    // A request through the device lock: the 3A thread frees the handle at
    // teardown only after this read.
    attr(QV_OP_TYP_MANUAL, 450, QV_AF_ALGO_CONTINUOUS);
    EXPECT_EQ(450u, vb::capture::applied(0, 0).lens_pos);
    EXPECT_EQ(vb::capture::applied(0, 0).lens_pos, paired);
}

}  // namespace
