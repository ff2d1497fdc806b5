// The per-frame AF step seen from its input and output records: skipped
// frames, the focus value of a frame, the search frame by frame against the
// traces worked out beforehand, manual, pause and a slow motor (one-shot and
// the loop through the plug-in: loop/).
#include <stdio.h>

#include <fstream>
#include <sstream>
#include <string>

#include "af_test_util.h"

namespace {

using aft::AfTest;
using aft::Board;
using aft::Window;

constexpr int kSkip = 30;

TEST_F(AfTest, DisabledAndSkippedFramesLeaveTheOutputAlone) {
    make(500);
    IQ_ISP_AF_INFO_STATS stats{};
    AFDEBUG_t dbg{0, 0};
    in_ = {0, 0, 30, &stats, 600, &dbg, 0};
    out_ = {7, 777};
    for (int i = 0; i < 40; ++i) ASSERT_EQ(0, DoAf(h_, &in_, &out_));
    EXPECT_EQ(777u, out_.FocusPos);
    EXPECT_EQ(7u, out_.Change_Motor);
    EXPECT_EQ(kSkip, h_->u8InitialSkipFrames) << "disabled frames are not skipped frames";
    dbg.AF_DEBUG_ENABLE_AF = 1;
    for (int i = 1; i <= kSkip; ++i) {
        ASSERT_EQ(0, DoAf(h_, &in_, &out_));
        ASSERT_EQ(777u, out_.FocusPos) << "call " << i;
        ASSERT_EQ(kSkip - i, h_->u8InitialSkipFrames);
        ASSERT_EQ(0, h_->u16HistPos[0]) << "nothing is read while skipping";
    }
    ASSERT_EQ(0, DoAf(h_, &in_, &out_));
    EXPECT_EQ(550u, out_.FocusPos) << "back toward the start position, 50 at most";
    EXPECT_EQ(1u, out_.Change_Motor);
    EXPECT_EQ(600, h_->u16HistPos[0]);
}

// The frame's one value per filter after `setup` and one processed frame.
struct FrameCase {
    const char *what;
    std::function<void(AfTest &)> setup;
    std::function<Window(int w)> window;
    uint64_t iirh, iirl, luma;
};

TEST_F(AfTest, OneValuePerFrame) {
    auto weights = [](std::vector<std::pair<int, uint8_t>> ws, bool blend = false) {
        return [ws, blend](AfTest &t) {
            auto a = t.get<MI_ISP_AF_ACC_WEIGHT_TYPE_t>(0x1C2B);
            a.bEqualWinWgt = QV_FALSE;
            memset(a.u8WinWgt, 0, sizeof a.u8WinWgt);
            for (auto [w, k] : ws) a.u8WinWgt[w] = k;
            if (blend) {
                a.bEqualWinWgt = QV_TRUE;
                a.bIIRHBlendEn = QV_TRUE;
                a.u8IIRHWgt_FirstBlendIIRL = 192;
                a.u8IIRHWgt_SecondBlendSBLV = 64;
                a.u8IIRHWgt_ThirdBlendSBLH = 255;
            }
            ASSERT_EQ(0, t.set(0x1C2B, a));
        };
    };
    auto none = [](AfTest &) {};
    const FrameCase cases[] = {
        {"equal weights, 0..15000", none, [](int w) { return Window{1000u * w, 7, 0, 0, 2u * w}; }, 7500, 7, 15},
        {"weights 3 and 1", weights({{0, 3}, {1, 1}}), [](int w) { return Window{w ? 5000u : 1000u, 9, 0, 0, 0}; },
         2000, 9, 0},
        {"all weights 0", weights({}), [](int) { return Window{5000, 5000, 0, 0, 4000}; }, 0, 0, 0},
        {"IIRH blended with IIRL, SBLV, SBLH", weights({}, true), [](int) { return Window{1000, 3000, 5000, 7000, 1}; },
         4136, 3000, 1},
        {"a 3 x 2 grid",
         [](AfTest &t) {
             ASSERT_EQ(0, t.set(0x1C01, MI_ISP_AF_HW_ROI_MODE_TYPE_t{IQ_AF_ROI_MODE_MATRIX, 2}));
             auto a = t.get<MI_ISP_AF_ACC_WEIGHT_TYPE_t>(0x1C2B);
             a.u8WinNumX = 3;
             a.u8WinNumY = 2;
             ASSERT_EQ(0, t.set(0x1C2B, a));
         },
         [](int w) { return Window{(uint32_t)w, 0, 0, 0, w % 16 < 3 ? 600u : 1000000u}; },
         (0 + 1 + 2 + 16 + 17 + 18) / 6, 0, 600},
        {"values above 2^31", none, [](int) { return Window{0xF0000000u, 0, 0, 0, 0}; }, 0xF0000000u, 0, 0},
    };
    for (const FrameCase &c : cases) {
        SCOPED_TRACE(c.what);
        if (h_) AfRelease(h_);
        make();
        c.setup(*this);
        Board b(h_, &in_, &out_, 500, [&](int, uint32_t, int w) { return c.window(w); });
        for (int i = 0; i <= kSkip; ++i) b.step();
        EXPECT_EQ(c.iirh, h_->u64IIRH);
        EXPECT_EQ(c.iirl, h_->u64IIRL);
        EXPECT_EQ(c.luma, h_->u64Luma);
    }

    // Byte 0 of a 5-byte group is not part of the value.
    if (h_) AfRelease(h_);
    make();
    Board b(h_, &in_, &out_, 500, [](int, uint32_t, int) { return aft::flat(0); });
    for (int i = 0; i < kSkip; ++i) b.step();
    IQ_ISP_AF_INFO_STATS s{};
    const uint8_t group[5] = {0xAB, 0x10, 0x27, 0, 0};
    memcpy(s.stParaAPI[0].high_iir, group, 5);
    in_.af_stats = &s;
    ASSERT_EQ(0, DoAf(h_, &in_, &out_));
    EXPECT_EQ(10000u, h_->u32IIRH_All[0]);
}

TEST_F(AfTest, FrameRateAllowance) {
    const std::pair<uint32_t, int> cases[] = {{60, 0}, {30, 0}, {25, 1}, {20, 1}, {19, 2}};
    for (auto [fps, th] : cases) {
        if (h_) AfRelease(h_);
        make();
        Board b(h_, &in_, &out_, 500, [](int, uint32_t, int) { return aft::flat(5000); });
        b.fps = fps;
        for (int i = 0; i <= kSkip; ++i) b.step();
        EXPECT_EQ(th, h_->u8ThByFPS) << fps << " fps";
        EXPECT_EQ(fps * 10, h_->u16CurFPSx10);
    }
}

TEST_F(AfTest, SearchDirectionFollowsTheStartPosition) {
    for (auto [start, first] : {std::pair{399u, 409u}, {400u, 390u}, {320u, 330u}, {700u, 690u}}) {
        if (h_) AfRelease(h_);
        make(start);
        Board b(h_, &in_, &out_, start, [](int, uint32_t, int) { return aft::flat(5000); });
        while (b.frame < 100 && out_.Change_Motor == 0) b.step();
        EXPECT_EQ(first, out_.FocusPos) << "from " << start;
    }
}

// ---- frame-exact traces ------------------------------------------------------------

const char *state_name(AF_FSM_STATE s) {
    static const char *names[] = {"INIT",   "MOVE_TO", "UNSTABLE_STOP", "SEARCH_START",
                                  "SEARCH", "FOCUSED", "WOBBLING",      "CHECK_SCENE"};
    return (unsigned)s < 8 ? names[s] : "?";
}

struct TraceLine {
    int frame;
    uint32_t cur, focus, change;
    std::string state;
};

std::vector<TraceLine> load_trace(const std::string &name) {
    std::ifstream f(std::string(AF_TRACE_DIR) + "/" + name);
    EXPECT_TRUE(f.good()) << name;
    std::vector<TraceLine> lines;
    std::string l;
    while (std::getline(f, l)) {
        if (l.empty() || l[0] == '#') continue;
        TraceLine t;
        std::istringstream(l) >> t.frame >> t.cur >> t.focus >> t.change >> t.state;
        lines.push_back(t);
    }
    return lines;
}

struct TraceCase {
    const char *file;
    uint32_t start;
    Board::Scene scene;
};

// Windows 0-2 go dark at call 160, window 3 too at 170.
Window dark_from_160(int frame, uint32_t p, int w) {
    int dark = frame >= 170 ? 4 : frame >= 160 ? 3 : 0;
    return w < dark ? Window{0, 0, 0, 0, 0} : aft::flat(aft::peak550(p));
}

TEST_F(AfTest, SearchFollowsTheTracesFrameByFrame) {
    const TraceCase cases[] = {
        {"flat_from_400.txt", 400, [](int, uint32_t, int) { return aft::flat(5000); }},
        {"peak_550_from_400.txt", 400, [](int, uint32_t p, int) { return aft::flat(aft::peak550(p)); }},
        // Scaled near 2^32: ratios and thresholds must not overflow.
        {"peak_550_from_400.txt", 400,
         [](int, uint32_t p, int) {
             uint32_t v = aft::peak550(p) * 400000u;
             return Window{v, v, v, v, 4000};
         }},
        {"scene_change.txt", 400, dark_from_160},
    };
    for (const TraceCase &c : cases) {
        SCOPED_TRACE(c.file);
        std::vector<TraceLine> want = load_trace(c.file);
        ASSERT_FALSE(want.empty());
        if (h_) AfRelease(h_);
        make(c.start);
        Board b(h_, &in_, &out_, c.start, c.scene);
        size_t i = 0;
        while (i < want.size()) {
            b.step();
            if (b.frame < want[i].frame) continue;
            const TraceLine &t = want[i++];
            char got[96], exp[96];
            snprintf(got, sizeof got, "%d %u %u %u %s", b.frame, in_.CurPos, out_.FocusPos, out_.Change_Motor,
                     state_name(h_->eFSMState));
            snprintf(exp, sizeof exp, "%d %u %u %u %s", t.frame, t.cur, t.focus, t.change, t.state.c_str());
            ASSERT_STREQ(exp, got);
        }
    }
}

// ---- manual, pause, the motor ---------------------------------------------------------

TEST_F(AfTest, ManualPauseOutOfRangeAndASlowMotor) {
    struct Case {
        const char *what;
        uint32_t start;
        std::function<void(AfTest &)> setup;
        uint32_t max_travel;
        std::vector<uint32_t> targets;  // FocusPos of calls 31, 32, ...
    };
    auto attr = [](MI_ISP_AF_ATTR_TYPE_t a) { return [a](AfTest &t) { ASSERT_EQ(0, t.set(0x1C29, a)); }; };
    std::vector<uint32_t> slow(16, 500);
    slow.insert(slow.end(), {490, 490, 490, 480});
    const Case cases[] = {
        {"manual kept inside a narrowed range", 500,
         [&](AfTest &t) {
             attr({QV_ISP_STATE_NORMAL, QV_OP_TYP_MANUAL, 650, QV_AF_ALGO_CONTINUOUS})(t);
             ASSERT_EQ(0, t.set(0x1C2A, MI_ISP_AF_MOTOR_TYPE_t{320, 550, 1, 50}));
         },
         0xFFFF, {550, 550}},
        {"pause holds the target", 500, attr({QV_ISP_STATE_PAUSE, QV_OP_TYP_MANUAL, 600, QV_AF_ALGO_CONTINUOUS}),
         0xFFFF, {500, 500}},
        {"below the range: to its limit", 100, [](AfTest &) {}, 0xFFFF, {320, 320}},
        // The search's first step (call 47) takes the motor three calls at 4 a call.
        {"a slow motor gets the same target again", 500, [](AfTest &) {}, 4, slow},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (h_) AfRelease(h_);
        make(c.start);
        c.setup(*this);
        Board b(h_, &in_, &out_, c.start, [](int, uint32_t, int) { return aft::flat(5000); });
        b.max_travel = c.max_travel;
        for (int i = 0; i < kSkip; ++i) b.step();
        std::vector<uint32_t> got;
        for (size_t i = 0; i < c.targets.size(); ++i) {
            b.step();
            got.push_back(out_.FocusPos);
            EXPECT_EQ(in_.CurPos != out_.FocusPos, out_.Change_Motor == 1);
        }
        EXPECT_EQ(c.targets, got);
    }
}

TEST_F(AfTest, ZeroWidthRangeSearchesWithoutSlope) {
    make(500);
    ASSERT_EQ(0, set(0x1C2A, MI_ISP_AF_MOTOR_TYPE_t{500, 500, 1, 50}));
    MI_ISP_AF_SEARCH_TYPE_t s = get<MI_ISP_AF_SEARCH_TYPE_t>(0x1C2F);
    s.u8MinMaxAccRatioPeakThSlp = 50;
    ASSERT_EQ(0, set(0x1C2F, s));
    ASSERT_EQ(0, set(0x1C2E, MI_ISP_AF_SEARCH_START_TYPE_t{10, 500, QV_AF_ACC_SBLV}));
    Board b(h_, &in_, &out_, 500, [](int f, uint32_t, int) { return aft::flat(5000 + 7 * (f % 5)); });
    for (int i = 0; i < 200; ++i) b.step();
    EXPECT_EQ(500u, b.lens);
    EXPECT_EQ(1, h_->u8MinMaxAccRatioPeakTh) << "offset only";
}

}  // namespace
