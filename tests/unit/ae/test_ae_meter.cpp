// AE metering (cell luminance, histogram and sorted-cell queries, window
// layout, BV and LV) and the scene target with its strategies, on an AE made
// from the reference IQ file: 16 x 16 cells over 32 x 32 blocks, weights 1.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "ae_test_support.h"

namespace {

using aetest::Ae;

INTP_LUT Flat(LX_S32 y) {
    INTP_LUT l;
    memset(&l, 0, sizeof(l));
    l.u2NumOfPoints = 1;
    l.i4Y[0] = y;
    return l;
}

TEST(AeMeter, CellLuminanceWeightedAndPlainMeans) {
    struct Case {
        const char *what;
        LX_U32 grid;                                 // blocks of this frame, across and down
        std::function<LX_U8(int r, int c)> y;        // block luminance
        std::function<LX_U8(int j, int i)> weight;   // average table, cell (j, i)
        LX_S32 type;                                 // weight type in use
        LX_U16 cells;                                // window 0 laid out with cells x cells
        LX_U32 curY, avgY, curY1;
    };
    auto halves = [](int, int c) { return (LX_U8)(c < 16 ? 50 : 150); };
    auto one = [](int, int) { return (LX_U8)1; };
    const Case cases[] = {
        {"blocks 50 | 150, weight 3 on cells i < 8", 32, halves, [](int, int i) { return (LX_U8)(i < 8 ? 3 : 1); },
         AE_AVERAGE, 16, 750, 1000, 962},
        {"one block per cell, weight 3 on the right half", 32, [](int, int c) { return (LX_U8)c; },
         [](int, int i) { return (LX_U8)(i < 16 ? 1 : 3); }, AE_AVERAGE, 32, 195, 155, 150},
        // A layout made for 32 x 32 blocks read on a 16 x 16 frame: only the
        // cells inside the frame have blocks; the others read 0.
        {"frame smaller than the layout", 16, [](int, int) { return (LX_U8)100; }, one, AE_AVERAGE, 16, 250, 250,
         1000},
        // Types beyond spot, negative ones too, weigh with the spot table
        // (which the case leaves 0 but for cell (0, 0)).
        {"type 7 weighs with the spot table", 32, halves, one, 7, 16, 500, 1000, 962},
        {"type -1 weighs with the spot table", 32, halves, one, -1, 16, 500, 1000, 962},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        Ae ae;
        cam_ae_handle_t *h = ae.h;
        ASSERT_EQ(0, h->pAE_SetNthWin(h, 0, AE_WIN{1024, 1024, 0, 0, k.cells, k.cells}));
        std::vector<ISPAESample_t> blocks(k.grid * k.grid);  // exactly the frame: reads past it are caught
        for (LX_U32 r = 0; r < k.grid; ++r)
            for (LX_U32 c = 0; c < k.grid; ++c) blocks[r * k.grid + c].y = k.y((int)r, (int)c);
        for (int j = 0; j < 32; ++j)
            for (int i = 0; i < 32; ++i) h->uWghts[AE_AVERAGE][j * 32 + i] = k.weight(j, i);
        memset(h->uWghts[AE_SPOT], 0, sizeof(h->uWghts[AE_SPOT]));
        h->uWghts[AE_SPOT][0] = 1;
        h->strAEStat.eWinWght = (AE_WIN_WGT)k.type;
        // Stale cell values must not survive a frame.
        for (int i = 0; i < 1024; ++i) h->strAEStat.strWins[0].pLumYx10[i] = 999;
        ae.in.AvgBlkX = ae.in.AvgBlkY = k.grid;
        ae.in.avgs = ae.in.avgs1 = blocks.data();

        ASSERT_EQ(0, h->pAE_CalLumY(h));
        EXPECT_EQ(k.curY, h->pAE_GetLumY(h));
        EXPECT_EQ(k.avgY, h->pAE_GetAvgY(h));
        EXPECT_EQ(k.curY1, h->u4CurYx10[1][0]);
        EXPECT_EQ(k.curY1, h->u4AvgYx10[1]);
        const AE_WIN_CFG &w = h->strAEStat.strWins[0];
        const int n = w.NumX * w.NumY;
        LX_U32 sum = 0;
        for (int i = 0; i < n; ++i) {
            sum += w.pLumYx10[i];
            if (i) {
                EXPECT_LE(w.pSortedLumYx10[i - 1], w.pSortedLumYx10[i]);
            }
        }
        EXPECT_EQ(k.avgY, (sum + n / 2) / n);

        // Without the second sample set window 1 keeps what it had.
        ae.in.avgs1 = nullptr;
        for (ISPAESample_t &b : blocks) b.y = 0;
        ASSERT_EQ(0, h->pAE_CalLumY(h));
        EXPECT_EQ(0u, h->u4AvgYx10[0]);
        EXPECT_EQ(k.curY1, h->u4CurYx10[1][0]);
    }

    // A frame without block averages is not metered.
    Ae ae;
    ae.in.avgs = nullptr;
    EXPECT_NE(0, ae.h->pAE_CalLumY(ae.h));
}

// A frame through DoAe on a 64 x 48 grid: both windows are laid out again on
// it, and the result carries the metering.
TEST(AeMeter, DoAeMetersAFrameOfAnotherGrid) {
    Ae ae;
    cam_ae_handle_t *h = ae.h;
    std::vector<ISPAESample_t> blocks(64 * 48);
    for (int r = 0; r < 48; ++r)
        for (int c = 0; c < 64; ++c) blocks[r * 64 + c].y = c < 32 ? 50 : 150;
    for (int j = 0; j < 32; ++j)
        for (int i = 0; i < 32; ++i) h->uWghts[AE_AVERAGE][j * 32 + i] = i < 8 ? 3 : 1;
    memset(&ae.hist, 0, sizeof(ae.hist));
    ae.hist.u2HistY[25] = ae.hist.u2HistY[75] = 1536;
    ae.in.AvgBlkX = 64;
    ae.in.AvgBlkY = 48;
    ae.in.avgs = ae.in.avgs1 = blocks.data();
    const AE_APEX_EXPO e = h->strApexCurExpo;

    ASSERT_EQ(0, ae.Frame());
    EXPECT_EQ(750u, ae.out.CurYx10);
    EXPECT_EQ(1000u, ae.out.AvgYx10);
    EXPECT_EQ(1000u, ae.out.CurY1x10);  // blocks 19..44 across: half of each
    EXPECT_EQ(1000u, ae.out.AvgY1x10);
    EXPECT_EQ(151, ae.out.HistMaxY);
    EXPECT_EQ(3072u, h->strAEStat.u4HistTotalPixel[1]);
    // 16384 log2(100.0 / 47.0) = 17846 above the exposure's own BV.
    EXPECT_EQ(17846 + e.i4TVxBASE + e.i4AVxBASE - e.i4SSVxBASE - e.i4DSVxBASE, ae.out.i4BVx16384);
    EXPECT_EQ(513, ae.out.GMBlendRatio);
    const AE_WIN_CFG &w1 = h->strAEStat.strWins[1];
    EXPECT_EQ(19, w1.StartX);
    EXPECT_EQ(45, w1.EndX);
    EXPECT_EQ(14, w1.StartY);
    EXPECT_EQ(33, w1.EndY);
}

// An IQ file asking for 32 x 32 cells, centre-weighted (8 on cells 8..23 both
// ways, 1 elsewhere), on grids of fewer blocks: the scene is metered all the
// same, each cell with the weight of the picture area it covers, and the
// count asked for comes back with the grid.
TEST(AeMeter, MoreCellsThanBlocksMeterTheScene) {
    std::string iq = aetest::ReferenceIq();
    for (const char *item : {"DBG_AE_WIN_X_NUM = 16", "DBG_AE_WIN_Y_NUM = 16"}) {
        const size_t at = iq.find(item);
        ASSERT_NE(std::string::npos, at);
        iq.replace(at + strlen(item) - 2, 2, "32");
    }
    Ae ae(iq);
    LX_U8 centre[1024];
    for (int k = 0; k < 1024; ++k) centre[k] = (k / 32 >= 8 && k / 32 < 24 && k % 32 >= 8 && k % 32 < 24) ? 8 : 1;
    ASSERT_EQ(0, ae.h->pAE_SetAEWinWgtTbl(ae.h, centre, centre, centre));
    auto quarter = [](int g, int r, int c) { return r < g / 2 && c < g / 2 ? 50 : 200; };
    auto corner = [](int g, int r, int c) { return r >= g * 3 / 4 && c >= g * 3 / 4 ? 200 : 50; };
    auto middle = [](int g, int r, int c) {
        return std::abs(2 * r + 1 - g) < g / 4 && std::abs(2 * c + 1 - g) < g / 4 ? 200 : 50;
    };
    const struct {
        int grid;
        std::function<int(int, int, int)> y;
        LX_U32 curY, avgY;
    } frames[] = {
        {16, [](int, int, int) { return 100; }, 1000, 1000},
        // The top-left quarter dark: the same on every grid, 32 x 32 again too.
        {32, quarter, 1625, 1625}, {16, quarter, 1625, 1625}, {24, quarter, 1625, 1625}, {32, quarter, 1625, 1625},
        // A bright corner weighs less than a bright centre.
        {16, corner, 534, 594}, {16, middle, 773, 594},
    };
    for (const auto &f : frames) {
        SCOPED_TRACE(f.grid);
        for (int r = 0; r < f.grid; ++r)
            for (int c = 0; c < f.grid; ++c) ae.blocks[r * f.grid + c].y = (LX_U8)f.y(f.grid, r, c);
        ae.in.AvgBlkX = ae.in.AvgBlkY = f.grid;
        ASSERT_EQ(0, ae.Frame());
        EXPECT_EQ(f.curY, ae.out.CurYx10);
        EXPECT_EQ(f.avgY, ae.out.AvgYx10);
    }
}

// RGB-IR metering: IR histogram of 1000 pixels at 100 and 10 at 200; the
// luminance histogram's top 1 % is taken of the IR pixel total.
TEST(AeMeter, InfraredMeans) {
    const std::pair<LX_U32, LX_U16> gains[] = {{1024, 1520}, {2048, 760}, {0, 1520}};
    for (const auto &g : gains) {
        SCOPED_TRACE(g.first);
        Ae ae;
        cam_ae_handle_t *h = ae.h;
        ae.Flat(150);
        ISPHistIR_t ir;
        memset(&ir, 0, sizeof(ir));
        ir.u2IRHist[100] = 1000;
        ir.u2IRHist[200] = 10;
        ae.in.histIR = &ir;
        h->strRgbirParam.bEnable = 1;
        h->strPlainLongExpo.u4ISPGain = g.first;
        ASSERT_EQ(0, h->pAE_CalLumY(h));
        const AE_RGBIR_SETTING &r = h->strRgbirParam;
        EXPECT_EQ(1010u, h->strAEStat.u4IRHistTotalPixel);
        EXPECT_EQ(200, h->uIRHistMaxY);
        EXPECT_EQ(1020, r.u2IRAvg);
        EXPECT_EQ(1040, r.u2IRIdx);  // |10000 x 1020 + 208930| / 10000
        EXPECT_EQ(2010, r.u2HistIRTop);
        EXPECT_EQ(g.second, r.u2HistYTop);

        h->strRgbirParam.bEnable = 0;
        ASSERT_EQ(0, h->pAE_CalLumY(h));
        EXPECT_EQ(0, r.u2IRAvg + r.u2IRIdx + r.u2HistIRTop + r.u2HistYTop);
    }
}

TEST(AeMeter, HistogramQueries) {
    struct Case {
        const char *what;
        std::vector<std::pair<int, LX_U16>> bins;
        AE_HIST_OP op;
        AE_TONE from;
        LX_CAM_BOOL skip;
        LX_U32 pcent, skipPcent, totalThd, skipThd;
        LX_S64 total;  // kOwn: the histogram's own
        LX_U32 avg10, avg40, maxY, maxCnt, finalBin, acc;
    };
    // Outputs start as 1234 (finalBin 77): a value left alone shows as that.
    const LX_S64 kOwn = -1;
    const AE_HIST_OP P = AE_HIST_OP_ACC_PCENT, L = AE_HIST_OP_ACC_THD;
    const AE_TONE UP = AE_TONE_DARK, DOWN = AE_TONE_BRIGHT;
    const LX_CAM_BOOL N = LX_FALSE, Y = LX_TRUE;
    // what, bins, op, from, skip, pcent, skipPcent, totalThd, skipThd, total,
    //   avg10, avg40, maxY, maxCnt, finalBin, acc
    const Case cases[] = {
        {"h[10] = 1000 from the dark end", {{10, 1000}}, P, UP, N, 1000, 0, 0, 0, kOwn,  //
         200, 800, 20, 1000, 20, 1234},
        {"h[10] = 1000 from the bright end", {{10, 1000}}, P, DOWN, N, 1000, 0, 0, 0, kOwn,  //
         220, 880, 21, 1000, 20, 1234},
        {"empty, 1000 pixels expected", {}, P, UP, N, 1000, 0, 0, 0, 1000,  //
         470, 1880, 0, 0, 77, 1234},
        {"top quarter, stops inside a bin", {{5, 100}, {50, 100}}, P, DOWN, N, 250, 0, 0, 0, kOwn,  //
         1020, 4080, 101, 100, 100, 1234},
        // A skip ending on a bin's edge skips that whole bin.
        {"skip ends on a bin edge", {{0, 100}, {10, 100}}, P, UP, Y, 1000, 500, 0, 0, kOwn,  //
         200, 800, 0, 100, 20, 1234},
        {"skip ends inside a bin", {{0, 100}, {10, 100}, {20, 100}}, P, UP, Y, 1000, 500, 0, 0, kOwn,  //
         333, 1333, 0, 100, 40, 1234},
        {"skip longer than the count is ignored", {{0, 100}, {10, 100}}, P, UP, Y, 400, 600, 0, 0, kOwn,  //
         0, 0, 0, 100, 0, 1234},
        {"levels up to 60", {{5, 100}, {50, 100}}, L, UP, N, 0, 0, 60, 0, kOwn,  //
         100, 400, 10, 100, 77, 500},
        {"levels above 60", {{5, 100}, {50, 100}}, L, DOWN, Y, 0, 0, 60, 0, kOwn,  //
         1020, 4080, 101, 100, 77, 500},
        {"levels up to 120, those below 20 skipped", {{5, 100}, {50, 100}}, L, UP, Y, 0, 0, 120, 20, kOwn,  //
         1000, 4000, 10, 100, 77, 1000},
        {"levels up to 0", {{5, 100}}, L, UP, N, 0, 0, 0, 0, kOwn,  //
         470, 1880, 0, 0, 77, 0},
        {"levels from the top bin", {{127, 100}}, L, DOWN, N, 0, 0, 254, 0, kOwn,  //
         470, 1880, 0, 0, 77, 0},
        {"threshold with no pixel total", {{5, 100}, {50, 100}}, L, UP, N, 0, 0, 60, 0, 0,  //
         100, 400, 10, 100, 77, 0},
        {"unknown operation", {{5, 100}}, (AE_HIST_OP)2, UP, N, 1000, 0, 0, 0, kOwn,  //
         1234, 1234, 0, 0, 77, 1234},
    };
    Ae ae;
    cam_ae_handle_t *h = ae.h;
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        LX_U16 hist[128] = {};
        LX_U32 total = 0;
        for (const auto &b : k.bins) total += (hist[b.first] = b.second);
        AE_HIST_SPEC q;
        memset(&q, 0, sizeof(q));
        q.u4AvgYx10 = q.u4AvgYx40 = q.u4MaxPcentY = q.u4MaxPcentx10 = q.u4AccPcentx10 = 1234;
        q.u4FinalBin = 77;
        q.eHistOp = k.op;
        q.eStartPoint = k.from;
        q.bSkip = k.skip;
        q.u4TotalPcentx10 = k.pcent;
        q.u4SkipPcentx10 = k.skipPcent;
        q.u4TotalThd = k.totalThd;
        q.u4SkipThd = k.skipThd;
        q.u4OutputBins = 256;
        q.u4InputBins = 128;
        q.u4TotalPixelCnt = k.total == kOwn ? total : (LX_U32)k.total;
        q.pHist = hist;
        ASSERT_EQ(0, h->pAE_CalHistogram(h, &q));
        EXPECT_EQ(k.avg10, q.u4AvgYx10);
        EXPECT_EQ(k.avg40, q.u4AvgYx40);
        EXPECT_EQ(k.maxY, q.u4MaxPcentY);
        EXPECT_EQ(k.maxCnt, q.u4MaxPcentx10);
        EXPECT_EQ(k.finalBin, q.u4FinalBin);
        EXPECT_EQ(k.acc, q.u4AccPcentx10);
    }
}

TEST(AeMeter, WindowLayoutAndSortedCellShares) {
    struct Case {
        const char *what;
        LX_U32 bx, by;
        AE_WIN win;
        int sx, ex, sy, ey, nx, ny, step1x, step1y;
    };
    const Case cases[] = {
        {"whole grid, 16 x 16 cells", 32, 32, {1024, 1024, 0, 0, 16, 16}, 0, 32, 0, 32, 16, 16, 2, 2},
        {"centre window", 32, 32, {409, 409, 0, 0, 1, 1}, 9, 22, 9, 22, 1, 1, 22, 22},
        {"ratio below 4: as many blocks as cells", 32, 32, {1, 1, 0, 0, 4, 4}, 14, 18, 14, 18, 4, 4, 15, 15},
        {"centre moved off the left edge", 32, 32, {1024, 1024, -20, 0, 16, 16}, 32, 32, 0, 32, 16, 16, 32, 2},
        {"centre moved down by half the grid", 32, 32, {409, 409, 0, 45, 1, 1}, 9, 22, 25, 32, 1, 1, 22, 32},
        {"0 and 40 cells: 1 and 32 over the whole window", 32, 32, {1024, 1024, 0, 0, 0, 40}, 0, 32, 0, 32, 1, 32,
         32, 1},
        {"no grid yet: 32 x 32", 0, 0, {1024, 1024, 0, 0, 16, 16}, 0, 32, 0, 32, 16, 16, 2, 2},
        {"128 x 90 grid", 128, 90, {1024, 1024, 0, 0, 16, 16}, 0, 128, 0, 90, 16, 16, 8, 6},
        {"128 x 90 grid, centre", 128, 90, {409, 409, 0, 0, 1, 1}, 38, 89, 27, 63, 1, 1, 89, 63},
        {"32 cells on a 16 x 16 grid: a block each", 16, 16, {1024, 1024, 0, 0, 32, 32}, 0, 16, 0, 16, 16, 16, 1, 1},
        {"32 cells, centre of a 24 x 24 grid: the whole grid", 24, 24, {409, 409, 0, 0, 32, 32}, 0, 24, 0, 24, 24, 24,
         1, 1},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        Ae ae;
        cam_ae_handle_t *h = ae.h;
        ae.in.AvgBlkX = k.bx;
        ae.in.AvgBlkY = k.by;
        ASSERT_EQ(0, h->pAE_SetNthWin(h, 1, k.win));
        const AE_WIN_CFG &w = h->strAEStat.strWins[1];
        EXPECT_EQ(k.sx, w.StartX);
        EXPECT_EQ(k.ex, w.EndX);
        EXPECT_EQ(k.sy, w.StartY);
        EXPECT_EQ(k.ey, w.EndY);
        EXPECT_EQ(k.nx, w.NumX);
        EXPECT_EQ(k.ny, w.NumY);
        EXPECT_EQ(k.step1x, w.StepX[1]);
        EXPECT_EQ(k.step1y, w.StepY[1]);
        EXPECT_EQ(k.ex, w.StepX[w.NumX]);
        EXPECT_EQ(k.ey, w.StepY[w.NumY]);
    }
    Ae ae;
    cam_ae_handle_t *h = ae.h;
    EXPECT_EQ(-1, h->pAE_SetNthWin(h, 2, AE_WIN{1024, 1024, 0, 0, 16, 16}));

    // 256 cells (step 3) of 0, 10, ... 2550 in window 0; window 1 is one
    // cell of 777.
    for (int i = 0; i < 256; ++i) h->strAEStat.strWins[0].pSortedLumYx10[i] = 10 * i;
    h->strAEStat.strWins[1].pSortedLumYx10[0] = 777;
    struct Share {
        LX_U8 win;
        LX_CAM_BOOL high;
        LX_U32 pcent, mean;
    };
    const Share shares[] = {
        {0, LX_FALSE, 10, 12},  {0, LX_TRUE, 10, 2538}, {0, LX_FALSE, 1, 0},      {0, LX_TRUE, 1, 2550},
        {0, LX_FALSE, 0, 0},    {0, LX_FALSE, 1000, 979}, {1, LX_TRUE, 500, 777}, {2, LX_TRUE, 500, 0},
    };
    for (const Share &s : shares) {
        SCOPED_TRACE(testing::Message() << "window " << (int)s.win << " " << (s.high ? "top " : "bottom ") << s.pcent);
        EXPECT_EQ(s.mean, h->pAE_CalSortYByPcent(h, s.win, s.high, s.pcent));
    }
}

LX_S32 g_bv;
LX_S32 FixedBV(cam_ae_handle_t *) { return g_bv; }

TEST(AeMeter, BrightnessAndLightValues) {
    Ae ae;
    cam_ae_handle_t *h = ae.h;
    // BV = 16384 log2(Y / 47.0) + TV + AV - SSV - DSV, truncated.
    struct Bv {
        LX_U32 y;
        AE_APEX_EXPO e;
        LX_S32 bv;
        LX_CAM_BOOL night;  // below 80000 with detection on
    };
    const AE_APEX_EXPO f18_33ms{80395, 0, 0, 27787, 0};
    const Bv bvs[] = {
        {470, f18_33ms, 108182, LX_FALSE}, {940, f18_33ms, 124566, LX_FALSE}, {235, f18_33ms, 91798, LX_FALSE},
        {1, f18_33ms, -37250, LX_TRUE},    {100, f18_33ms, 71603, LX_TRUE},
        {470, {80395, 16384, 8192, 27787, 0}, 83606, LX_FALSE},
    };
    h->strDNDetection.strParam.s4D2N_BvThd = 80000;
    for (const Bv &b : bvs) {
        SCOPED_TRACE(b.y);
        h->u4AvgYx10[0] = b.y;
        h->strApexCurExpo = b.e;
        h->strDNDetection.strParam.bEnable = LX_TRUE;
        EXPECT_EQ(b.bv, h->pAE_GetBV(h));
        EXPECT_EQ(b.night, h->strDNDetection.strInfo.bDay2Night);
        h->strDNDetection.strParam.bEnable = LX_FALSE;
        EXPECT_EQ(b.bv, h->pAE_GetCurBV(h));
        EXPECT_EQ(LX_FALSE, h->strDNDetection.strInfo.bDay2Night);
    }
    // At 0 EV a mean of 23.5 is BV -1 EV: LV 4.0.
    h->u4AvgYx10[0] = 235;
    h->strApexCurExpo = AE_APEX_EXPO{0, 0, 0, 0, 0};
    EXPECT_EQ(40u, h->pAE_GetCurLV(h));

    // LV = 0.5 + (BV + 5 EV) * 10 / 16384, truncated into 0..200.
    h->pAE_GetBV = FixedBV;
    const std::pair<LX_S32, LX_U32> lvs[] = {{20694, 63}, {-16384, 40}, {0, 50},      {-81920, 0},
                                             {-81921, 0}, {-200000, 0}, {245759, 200}, {245760, 200}};
    for (const auto &l : lvs) {
        g_bv = l.first;
        EXPECT_EQ(l.second, h->pAE_GetLV(h)) << "BV " << l.first;
    }
}

// Scene targets on flat scenes (every block and every histogram pixel at one
// level) at BV 0 with the default target 470 and the reference IQ curves.
TEST(AeSceneTarget, StrategiesOnFlatScenes) {
    struct Case {
        const char *what;
        LX_U8 y;                                       // the scene's level
        std::function<void(cam_ae_handle_t *)> setup;  // strategy settings
        LX_U32 target;
        std::function<void(cam_ae_handle_t *)> more;   // further checks, or null
    };
    auto bounds = [](cam_ae_handle_t *h, LX_S32 up, LX_S32 down) {
        h->strStrategyParam.strUpperBound = Flat(up);
        h->strStrategyParam.strLowerBound = Flat(down);
    };
    auto bright = [bounds](LX_S32 target, LX_U32 strength) {
        return [=](cam_ae_handle_t *h) {
            h->strStrategyParam.eStrategy = AE_STGY_BRIGHTTONE;
            h->strStrategyParam.u4Weighting = 512;
            h->strStrategyBTDT.strBrightTone.strTargetByLUT = Flat(target);
            h->strStrategyBTDT.u4BTStrength = strength;
            bounds(h, 1000, 400);
        };
    };
    auto dark = [bounds](LX_S32 target, LX_S32 up, LX_S32 down) {
        return [=](cam_ae_handle_t *h) {
            h->strStrategyParam.eStrategy = AE_STGY_DARKTONE;
            h->strStrategyParam.u4Weighting = 512;
            h->strStrategyBTDT.strDarkTone.strTargetByLUT = Flat(target);
            bounds(h, up, down);
        };
    };
    const Case cases[] = {
        {"automatic, tone balance off: the default", 50,
         [](cam_ae_handle_t *h) { h->strStrategyParam.eStrategy = AE_STGY_AUTO; }, 470, nullptr},
        // Bright tone: 300 x 2000 / 2020 = 297 below 470, blended half way.
        {"bright tone below the default", 200, bright(300, 0), 384, nullptr},
        {"bright tone, full strength aims at the default", 200, bright(300, 1024), 468, nullptr},
        {"bright tone above the default: the default", 200, bright(1600, 0), 470, nullptr},
        // Dark tone: 600 x 200 / 200 = 600 above 470, blended half way.
        {"dark tone above the default", 20, dark(600, 1000, 400), 535, nullptr},
        {"dark tone within an upper bound of 50", 20, dark(600, 50, 400), 520, nullptr},
        {"crossed bounds: the upper wins", 20, dark(600, -100, 0), 370,
         [](cam_ae_handle_t *h) {
             EXPECT_EQ(370u, h->u4UpperTargetx10);
             EXPECT_EQ(470u, h->u4LowerTargetx10);
         }},
        // Tone balance: the bright tone's 1600 x 500 / 510 wins over the mid
        // tone (452) and the smoothed dark tone (3).
        {"tone balance", 50,
         [bounds](cam_ae_handle_t *h) {
             h->strStrategyParam.eStrategy = AE_STGY_AUTO;
             h->strToneBalance.bEnable = LX_TRUE;
             bounds(h, 2000, 400);
         },
         1569,
         [](cam_ae_handle_t *h) {
             const AE_TONEBALANCE_TARGET &t = h->strToneBalance;
             EXPECT_EQ(16809u, h->strSceneDR.u4DR);  // 51.3 / 50.0
             EXPECT_EQ(1569u, t.u4StsBTTargetx10);
             EXPECT_EQ(452u, t.u4StsMTTargetx10);
             EXPECT_EQ(1404u, t.u4StsMTDTTargetUpperx10);
             EXPECT_EQ(10u, t.u4StsNotSmoothedDTTargetx10);
             EXPECT_EQ(3u, t.u4StsDTTargetx10);
             h->pAE_GetSceneTarget(h);
             EXPECT_EQ(5u, t.u4StsDTTargetx10);  // three quarters the last frame's
             h->bOneShot = LX_TRUE;
             h->pAE_GetSceneTarget(h);
             EXPECT_EQ(10u, t.u4StsDTTargetx10);
         }},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        Ae ae;
        cam_ae_handle_t *h = ae.h;
        ae.Flat(k.y);
        ASSERT_EQ(0, h->pAE_CalLumY(h));
        h->i4CurBV = 0;
        h->u4Targetx10 = 470;
        k.setup(h);
        EXPECT_EQ(k.target, h->pAE_GetSceneTarget(h));
        if (k.more) k.more(h);
    }
}

// The extended strategy on a scene whose blocks read 50.0 and whose
// histogram holds 10 % at level 2, 80 % at 50 and 10 % at 200.
TEST(AeSceneTarget, ExtendedStrategyAndBlendRatio) {
    struct Case {
        AE_STRATEGYEX_MODE mode;
        AE_STRATEGYEX_PRIORITY priority;
        LX_U32 target, ratio;
    };
    // Bright tone aims 200 -> 600 (target 149) or the 7 % level 200 -> 140
    // (350); dark tone 2 -> 700 or 2 -> 5; limits 470 - 300 .. 470 + 500.
    const Case cases[] = {
        {AE_STGY_MODE_TARGET, AE_STGY_PRIORITY_BRIGHTTONE, 170, 0},
        {AE_STGY_MODE_TARGET, AE_STGY_PRIORITY_DARKTONE, 970, 1024},
        {AE_STGY_MODE_COUNT, AE_STGY_PRIORITY_BRIGHTTONE, 350, 307},
        {AE_STGY_MODE_COUNT, AE_STGY_PRIORITY_DARKTONE, 970, 1024},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << k.mode << " priority " << k.priority);
        Ae ae;
        cam_ae_handle_t *h = ae.h;
        ae.Flat(50);
        memset(&ae.hist, 0, sizeof(ae.hist));
        ae.hist.u2HistY[1] = 3391;
        ae.hist.u2HistY[25] = 27127;
        ae.hist.u2HistY[100] = 3391;
        ASSERT_EQ(0, h->pAE_CalLumY(h));
        h->i4CurBV = 0;
        h->u4Targetx10 = 470;

        AE_STRATEGYEX_MI_PARAM p;
        memset(&p, 0, sizeof(p));
        p.bEnable = LX_TRUE;
        p.eMode = k.mode;
        p.ePriority = k.priority;
        p.u2BT_NodeNum = p.u2DT_NodeNum = 1;
        p.u4BT_ThdY[0] = 140;
        p.u4BT_Percentx10[0] = 70;
        p.u4BT_TargetYx10[0] = 600;
        p.u4BT_MaxOffsetDown[0] = 300;
        p.u4DT_ThdY[0] = 5;
        p.u4DT_Percentx10[0] = 50;
        p.u4DT_TargetYx10[0] = 700;
        p.u4DT_MaxOffsetUp[0] = 500;
        p.u4DT_MaxOffsetUp[1] = 9999;  // beyond the node count
        ASSERT_EQ(0, h->pAE_SetAEStrategyEX(h, &p));
        EXPECT_EQ(300, h->strStrategyEx.u2MaxOffsetDown);
        EXPECT_EQ(500, h->strStrategyEx.u2MaxOffsetUp);
        h->strStrategyEx.strParam = h->strUserParam.strStrategyExParam;

        ASSERT_EQ(0, h->pAE_StrategyEX_GetSceneTarget(h));
        EXPECT_EQ(k.target, h->u4SceneTargetx10);
        const AE_STRATEGYEX_INFO &i = h->strStrategyEx.strInfo;
        EXPECT_EQ(2020, i.u2BTYx10);
        EXPECT_EQ(20, i.u2DTYx10);
        EXPECT_EQ(200, h->strStrategyEx.uCurBTThdY);
        EXPECT_EQ(2, h->strStrategyEx.uCurDTThdY);
        EXPECT_EQ(100, i.u2BTCntPcntx10);
        EXPECT_EQ(100, i.u2DTCntPcntx10);
        EXPECT_EQ(970, i.u2UpperLimitTargetx10);
        EXPECT_EQ(170, i.u2LowerLimitTargetx10);

        // The ratio of this target is reported three frames later.
        for (int f = 0; f < 3; ++f) {
            h->pAE_StrategyEX_GetGMBlendRatio(h);
            EXPECT_EQ(512, i.u2GMBlendRatio);
            h->u4SceneTargetx10 = 470;
        }
        h->pAE_StrategyEX_GetGMBlendRatio(h);
        EXPECT_EQ(k.ratio, i.u2GMBlendRatio);
    }

    Ae ae;
    cam_ae_handle_t *h = ae.h;
    // No room up at all: the ratio stays within 0..1024.
    h->strStrategyEx.strParam.bEnable = LX_TRUE;
    h->strStrategyEx.u2MaxOffsetUp = 0;
    h->u4Targetx10 = 470;
    h->u4SceneTargetx10 = 480;
    h->pAE_StrategyEX_GetGMBlendRatio(h);
    EXPECT_EQ(1024, h->u2GMBlendRatioBuffer[0]);
    // Switched off: neutral from the fourth frame on, results cleared.
    h->strStrategyEx.strParam.bEnable = LX_FALSE;
    h->strStrategyEx.strInfo.u2BTYx10 = 99;
    for (int f = 0; f < 4; ++f) h->pAE_StrategyEX_GetGMBlendRatio(h);
    EXPECT_EQ(512, h->strStrategyEx.strInfo.u2GMBlendRatio);
    EXPECT_EQ(0, h->strStrategyEx.strInfo.u2BTYx10);
}

TEST(AeSettings, SettersKeepWhatTheyAcceptAndRejectTheRest) {
    Ae ae;
    cam_ae_handle_t *h = ae.h;
    AE_USER_SETTING &u = h->strUserParam;

    const std::pair<LX_S32, AE_WIN_WGT> types[] = {
        {0, AE_AVERAGE}, {1, AE_CENTER_WGHT}, {2, AE_SPOT}, {5, AE_SPOT}, {-1, AE_SPOT}};
    for (const auto &t : types) {
        u.bIsChanged = LX_FALSE;
        EXPECT_EQ(0, h->pAE_SetAEWinWgtType(h, (AE_WIN_WGT)t.first));
        AE_WIN_WGT got = AE_WGT_END;
        EXPECT_EQ(0, h->pAE_GetAEWinWgtType(h, &got));
        EXPECT_EQ(t.second, got) << t.first;
        EXPECT_EQ(LX_TRUE, u.bIsChanged);
    }

    // Weight tables: a table not given stays; the getter reads the live ones.
    LX_U8 avg[1024], centre[1024], got[1024];
    memset(avg, 7, sizeof(avg));
    memset(centre, 8, sizeof(centre));
    memset(u.uWghts[AE_SPOT], 9, sizeof(u.uWghts[AE_SPOT]));
    EXPECT_EQ(0, h->pAE_SetAEWinWgtTbl(h, avg, centre, nullptr));
    EXPECT_EQ(0, memcmp(avg, u.uWghts[AE_AVERAGE], 1024));
    EXPECT_EQ(0, memcmp(centre, u.uWghts[AE_CENTER_WGHT], 1024));
    EXPECT_EQ(9, u.uWghts[AE_SPOT][1023]);
    h->uWghts[AE_CENTER_WGHT][5] = 42;
    EXPECT_EQ(0, h->pAE_GetAEWinWgtTbl(h, nullptr, got, nullptr));
    EXPECT_EQ(0, memcmp(got, h->uWghts[AE_CENTER_WGHT], 1024));

    // Target curve: 1..16 points, taken at once.
    const INTP_LUT before = h->strTargetLut;
    INTP_LUT bad = Flat(600);
    for (LX_U16 n : {0, 17}) {
        bad.u2NumOfPoints = n;
        EXPECT_EQ(-1, h->pAE_SetTarget(h, &bad));
    }
    EXPECT_EQ(-1, h->pAE_SetTarget(h, nullptr));
    EXPECT_EQ(-1, h->pAE_GetTarget(h, nullptr));
    EXPECT_EQ(0, memcmp(&before, &h->strTargetLut, sizeof(before)));
    INTP_LUT lut = Flat(600);
    h->bForceReCal = LX_FALSE;
    EXPECT_EQ(0, h->pAE_SetTarget(h, &lut));
    EXPECT_EQ(LX_TRUE, h->bForceReCal);
    INTP_LUT back;
    EXPECT_EQ(0, h->pAE_GetTarget(h, &back));
    EXPECT_EQ(0, memcmp(&lut, &back, sizeof(lut)));

    // Strategy: both bound curves need a point; the getter reports the live
    // strengths.
    AE_STRATEGY_PARAM sp;
    memset(&sp, 0, sizeof(sp));
    sp.eStrategy = AE_STGY_DARKTONE;
    sp.strLowerBound = Flat(100);
    const AE_STRATEGY_PARAM userBefore = u.strStrategyParam;
    EXPECT_EQ(-1, h->pAE_SetAEStrategy(h, &sp));
    EXPECT_EQ(0, memcmp(&userBefore, &u.strStrategyParam, sizeof(sp)));
    sp.strUpperBound = Flat(100);
    EXPECT_EQ(0, h->pAE_SetAEStrategy(h, &sp));
    EXPECT_EQ(0, memcmp(&sp, &u.strStrategyParam, sizeof(sp)));
    h->strStrategyBTDT.u4DTStrength = 77;
    EXPECT_EQ(0, h->pAE_GetAEStrategy(h, &sp));
    EXPECT_EQ(77u, sp.u4DarkToneStrength);

    // Extended strategy: at most 16 nodes; what is set reads back.
    AE_STRATEGYEX_MI_PARAM ex, exBack;
    memset(&ex, 0, sizeof(ex));
    ex.u2BT_NodeNum = 17;
    EXPECT_EQ(-1, h->pAE_SetAEStrategyEX(h, &ex));
    ex.bEnable = LX_TRUE;
    ex.eMode = AE_STGY_MODE_TARGET;
    ex.ePriority = AE_STGY_PRIORITY_DARKTONE;
    ex.u2BT_NodeNum = 2;
    ex.u2DT_NodeNum = 3;
    for (int i = 0; i < 16; ++i) {
        ex.u4BT_NodeBV[i] = ex.u4DT_NodeBV[i] = i * 16384;
        ex.u4BT_ThdY[i] = ex.u4DT_ThdY[i] = 100 + i;
        ex.u4BT_Percentx10[i] = ex.u4DT_Percentx10[i] = 10 + i;
        ex.u4BT_TargetYx10[i] = ex.u4DT_TargetYx10[i] = 400 + i;
        ex.u4BT_MaxOffsetDown[i] = ex.u4DT_MaxOffsetUp[i] = 50 + i;
    }
    EXPECT_EQ(0, h->pAE_SetAEStrategyEX(h, &ex));
    EXPECT_EQ(51, h->strStrategyEx.u2MaxOffsetDown);
    EXPECT_EQ(52, h->strStrategyEx.u2MaxOffsetUp);
    memset(&exBack, 0, sizeof(exBack));  // padding as in ex
    EXPECT_EQ(0, h->pAE_GetAEStrategyEX(h, &exBack));
    EXPECT_EQ(0, memcmp(&ex, &exBack, sizeof(ex)));

    // EV compensation: steps per EV kept in 1..20.
    const LX_S32 evs[][4] = {{3, 3, 3, 3}, {-3, 0, -3, 1}, {1, 25, 1, 20}};
    for (const auto &e : evs) {
        EXPECT_EQ(0, h->pAE_SetEVComp(h, e[0], (LX_U32)e[1]));
        LX_S32 ev = 0;
        LX_U32 grad = 0;
        EXPECT_EQ(0, h->pAE_GetEVComp(h, &ev, &grad));
        EXPECT_EQ(e[2], ev);
        EXPECT_EQ((LX_U32)e[3], grad);
    }

    // The histogram, widened.
    for (int k = 0; k < 128; ++k) h->strAEStat.u2Hist[1][k] = (LX_U16)(k * 500);
    LX_U32 hist[128];
    EXPECT_EQ(0, h->pAE_GetHist(h, hist));
    EXPECT_EQ(63500u, hist[127]);
    EXPECT_EQ(-1, h->pAE_GetHist(h, nullptr));
}

}  // namespace
