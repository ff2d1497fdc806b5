// What the AF tests share: an IQ-API agent on device 0, channel 0 that records
// every request the AF sends (and can fail chosen ones), and a lens that
// reaches each target by the next frame over a scene of known sharpness.
#pragma once
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <set>
#include <vector>

#include "af_handle.h"
#include "drv_algo_if.h"
#include "mi_isp.h"

namespace aft {

struct Request {
    uint32_t id, dev, ch;
    std::vector<uint8_t> bytes;
};

// Requests seen by the agent; those whose 1-based number is in `fail` answer -1.
struct IspLog {
    std::vector<Request> seen;
    std::set<size_t> fail;
    bool fail_all = false;
};
inline IspLog g_isp;

inline MI_S32 record(MI_ISP_IQApiHeader_t *h, void *d) {
    g_isp.seen.push_back({h->u32CtrlID, h->u32DevId, h->u32Channel,
                          std::vector<uint8_t>((uint8_t *)d, (uint8_t *)d + h->u32DataLen)});
    return g_isp.fail_all || g_isp.fail.count(g_isp.seen.size()) ? -1 : 0;
}

class AfTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_isp = IspLog();
        ASSERT_EQ(0, MI_ISP_RegisterIspApiAgent(0, 0, record, record));
    }
    void TearDown() override {
        MI_ISP_RegisterIspApiAgent(0, 0, nullptr, nullptr);
        if (h_) AfRelease(h_);
    }

public:
    cam_af_handle_t *make(uint32_t init_pos = 500) {
        AfInitParam_t ip{0, 1023, 1, 1023, init_pos, 0, 0};
        h_ = (cam_af_handle_t *)AfInit(nullptr, &ip, &in_, &out_);
        g_isp.seen.clear();
        return h_;
    }
    // A control id through the dispatch, as the plug-in sends it.
    template <typename T>
    LX_S32 set(uint32_t id, T rec) {
        return DrvAlgo_IF_ApiSet(id, nullptr, nullptr, h_, nullptr, sizeof rec, &rec);
    }
    template <typename T>
    T get(uint32_t id) {
        T rec;
        memset(&rec, 0xA5, sizeof rec);
        EXPECT_EQ(0, DrvAlgo_IF_ApiGet(id, nullptr, nullptr, h_, nullptr, sizeof rec, &rec));
        return rec;
    }

    cam_af_handle_t *h_ = nullptr;
    AfInput_t in_{};
    AfOutput_t out_{};
};

// Per-window values of the five filters, IIRH IIRL SBLV SBLH LUMA.
struct Window {
    uint32_t iirh, iirl, sblv, sblh, luma;
};

inline void put_group(LX_U8 *filter, int col, uint32_t v) {
    LX_U8 *g = filter + 5 * col;
    g[0] = 0xEE;  // not part of the value
    g[1] = (LX_U8)v;
    g[2] = (LX_U8)(v >> 8);
    g[3] = (LX_U8)(v >> 16);
    g[4] = (LX_U8)(v >> 24);
}

inline void put_window(IQ_ISP_AF_INFO_STATS *s, int w, const Window &v) {
    ISP_AF_STATS &r = s->stParaAPI[w / 16];
    put_group(r.high_iir, w % 16, v.iirh);
    put_group(r.low_iir, w % 16, v.iirl);
    put_group(r.sobel_v, w % 16, v.sblv);
    put_group(r.sobel_h, w % 16, v.sblh);
    put_group(r.luma_iir, w % 16, v.luma);
}

// The lens reaches each target by the next call; a call's statistics show the
// lens where it stood on the call before. `scene(frame, pos, window)`.
struct Board {
    using Scene = std::function<Window(int frame, uint32_t pos, int w)>;
    cam_af_handle_t *h;
    AfInput_t *in;
    AfOutput_t *out;
    Scene scene;
    uint32_t lens, prev;
    int frame = 0;
    IQ_ISP_AF_INFO_STATS stats{};
    AFDEBUG_t dbg{1, 0};
    uint32_t fps = 30;
    uint32_t max_travel = 0xFFFF;  // per frame, for a slow motor

    Board(cam_af_handle_t *h_, AfInput_t *in_, AfOutput_t *out_, uint32_t pos, Scene s)
        : h(h_), in(in_), out(out_), scene(std::move(s)), lens(pos), prev(pos) {}

    void step() {
        ++frame;
        memset(&stats, 0, sizeof stats);
        for (int w = 0; w < 256; ++w) put_window(&stats, w, scene(frame, prev, w));
        in->fps = fps;
        in->af_stats = &stats;
        in->CurPos = lens;
        in->tAFDebug = &dbg;
        ASSERT_EQ(0, DoAf(h, in, out));
        prev = lens;
        uint32_t t = out->FocusPos;
        lens = t > lens ? lens + std::min(t - lens, max_travel) : lens - std::min(lens - t, max_travel);
    }
};

inline Window flat(uint32_t v) { return {v, v, v, v, 4000}; }
inline uint32_t peak550(uint32_t p) { return 10000 - 10 * (p > 550 ? p - 550 : 550 - p); }

}  // namespace aft
