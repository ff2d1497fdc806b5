// AWB test bench: fixture T1 as an IQ file, uniform or mixed block colours,
// and a handle driven frame by frame like the plug-in drives it.
#pragma once
#include <gtest/gtest.h>
#include <stdio.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "awb_handle.h"
#include "iq_text.h"

namespace awbtest {

struct Rgb {
    LX_U8 r, g, b;
};
constexpr Rgb kA{65, 100, 105};  // white point (65, 105): area 3, 6500 K
constexpr Rgb kB{75, 100, 95};   // (75, 95): area 4, 5000 K
constexpr Rgb kC{85, 100, 85};   // (85, 85): area 5, 4000 K
constexpr Rgb kBlack{0, 0, 0};   // outside the luminance window

// Fixture T1, with "NAME = value" lines replaced or added.
inline std::string t1_text(const std::vector<std::pair<std::string, std::string>> &over = {}) {
    std::ifstream f(AWB_FIXTURE_T1);
    std::stringstream all;
    all << f.rdbuf();
    std::string out, line;
    std::vector<bool> used(over.size());
    bool skipping = false;  // inside a replaced item's continuation lines
    while (std::getline(all, line)) {
        bool replaced = false;
        for (size_t i = 0; i < over.size(); ++i)
            if (line.rfind(over[i].first + " =", 0) == 0) {
                out += over[i].first + " = " + over[i].second + "\n";
                used[i] = replaced = true;
            }
        if (replaced) {
            skipping = true;
            continue;
        }
        if (skipping && !line.empty() && line[0] == ' ') continue;
        skipping = false;
        out += line + "\n";
    }
    for (size_t i = 0; i < over.size(); ++i)
        if (!used[i]) out += over[i].first + " = " + over[i].second + "\n";
    return out;
}

struct Iq {
    ISP_DBGBUF_HANDLE h = nullptr;
    explicit Iq(const std::string &text) {
        std::string err;
        std::vector<uint8_t> img = iqtext::compile(text, {}, &err);
        EXPECT_EQ("", err);
        EXPECT_EQ(0, IspLoadIqCfg(&h, img.data(), (LX_U32)img.size()));
    }
    ~Iq() { IspFreeIqCfg(&h); }
};

// Fills the blocks the AWB visits (even columns, every row, in order) with
// runs of colours; the rest stay black.
inline void fill(IspAwbStatis_t &st, const std::vector<std::pair<int, Rgb>> &runs) {
    for (ISP_AWB_AVGS &a : st.Avgs) a = {0, 0, 0};
    int n = 0;
    for (const auto &run : runs)
        for (int k = 0; k < run.first; ++k, ++n) {
            const int row = n / 64, col = 2 * (n % 64);
            st.Avgs[128 * row + col] = {run.second.r, run.second.g, run.second.b};
        }
}

struct Awb {
    AwbInput_t in{};
    AwbOutput_t out{};
    AWBDEBUG_t dbg{1, 0, 0, 0, 0};
    std::unique_ptr<IspAwbStatis_t> st{new IspAwbStatis_t{}};
    AWB_HND h = nullptr;
    LX_U32 count = 1;  // the plug-in's frame number of the next run

    explicit Awb(const std::string &text = t1_text(), LX_U16 r = 1024, LX_U16 g = 1024, LX_U16 b = 1024) {
        Iq iq(text);
        in.InitRgain = r;
        in.InitGgain = g;
        in.InitBgain = b;
        h = (AWB_HND)AwbInit(iq.h, &in, &out);
        in.nSize = sizeof in;
        in.tBlock = {128, 90, 4, 2, 10, 8, 0};
        in.tCrop = {1, 1, 1920, 1080};
        in.CurYx10 = 470;
        in.pAwbStatis = st.get();
        in.tAWBDebug = &dbg;
    }
    ~Awb() { AwbRelease(h); }
    // One run of the algorithm, on the plug-in's frames 1, 4, 7, ...
    void run(const std::vector<std::pair<int, Rgb>> &runs) {
        fill(*st, runs);
        in.nFrameCount = count;
        count += 3;
        DoAwb(h, &in, &out);
    }
    void run(Rgb c) { run({{5760, c}}); }
};

inline std::vector<int> gains(const AwbOutput_t &o) {
    return {o.tGain.nRgain, o.tGain.nGrgain, o.tGain.nGbgain, o.tGain.nBgain};
}

}  // namespace awbtest
