// An AE made the way the plug-in makes it, for the AE tests: an IQ file from
// text, the virtual sensor's limits, and one frame's input records that a
// test fills and hands to DoAe (or to single operations through the slots).
#pragma once
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "ae_handle.h"
#include "iq_text.h"

namespace aetest {

// The virtual sensor: 30 fps, lines of 29630 ns, 30..33333 us, sensor gain
// 1x..16x, ISP gain to 8x, F1.8.
inline AeInitParam_t BoardSensor() {
    AeInitParam_t p;
    memset(&p, 0, sizeof(p));
    p.FNx10 = 18;
    p.shutter_min = p.shutterHDRShort_min = 30;
    p.sensor_gain_min = p.sensor_gainHDRShort_min = 1024;
    p.Size = sizeof(p);
    p.fps = 30000;
    p.shutter = 33333;
    p.shutter_step = p.shutterHDRShort_step = 29630;
    p.sensor_gain = p.isp_gain = 1024;
    p.isp_gain_max = 8192;
    p.shutter_max = p.shutterHDRShort_max = 33333;
    p.sensor_gain_max = p.sensor_gainHDRShort_max = 16384;
    return p;
}

// The AE items of the virtual sensor's IQ file: table F1.8 100..33333 us up
// to 128x total gain, target 470 flat, every weight 1, flicker off.
inline std::string ReferenceIq() {
    return R"(
DBG_AE_CALI_BVOFFSET = 13102
DBG_AE_CALI_ISO100GAIN = 1782
DBG_AE_CALI_MINISO = 57
DBG_AE_DEFAULT_TARGET = 470
DBG_AE_TARGET_LUT_NUM = 5
DBG_AE_TARGET_LUT_Y = 470 470 470 470 470
DBG_AE_TARGET_LUT_X = -98702 -85810 -58278 -20248 8333
DBG_AE_INIT_SHUTTER = 25000
DBG_AE_INIT_GAIN = 1024
DBG_AE_INIT_FNUM = 18
DBG_AE_MIN_FPS = 30000
DBG_AE_FLICKER_MODE = 1
DBG_AE_FLICKER = 1
DBG_AE_EVCOMP_GRAD = 3
DBG_AE_CONV_RATIO_NUM = 4
DBG_AE_CONV_RATIO_Y = 200 120 120 200
DBG_AE_CONV_RATIO_X = 100 470 470 2000
DBG_AE_CONV_INTO_STABLE_THD = 10
DBG_AE_CONV_OUT_STABLE_THD = 20
DBG_AE_WIN_X_NUM = 16
DBG_AE_WIN_Y_NUM = 16
DBG_AE_EXPO_TBL_NUM = 3
DBG_AE_EXPO_TBL = 18 100 1024 1024  18 33333 1024 1024  18 33333 131072 16384
DBG_AE_HDR_SHORT_EXPO_TBL_NUM = 3
DBG_AE_HDR_SHORT_EXPO_TBL = 18 100 1024 1024  18 33333 1024 1024  18 33333 131072 16384
DBG_AE_WEIGHTING_TBL = 1*3072
DBG_AE_DR_BT_NUM = 2
DBG_AE_DR_BT_PCENT_Y = 100 120
DBG_AE_DR_BT_PCENT_X = 0 65536
DBG_AE_DR_DT_NUM = 3
DBG_AE_DR_DT_PCENT_Y = 250 200 150
DBG_AE_DR_DT_PCENT_X = -81920 -16384 65536
DBG_AE_DR_BT_SORTY_WT = 384
DBG_AE_DR_DT_SORTY_WT = 512
DBG_AE_STRATEGY_UPPER_NUM = 1
DBG_AE_STRATEGY_LOWER_NUM = 1
DBG_AE_STGY_BT_PCENT_NUM = 1
DBG_AE_STGY_BT_PCENT_Y = 70
DBG_AE_STGY_BT_TARGET_NUM = 1
DBG_AE_STGY_BT_TARGET_Y = 1600
DBG_AE_MAIN_BT_PCENT_NUM = 1
DBG_AE_MAIN_BT_PCENT_Y = 70
DBG_AE_MAIN_BT_TARGET_NUM = 1
DBG_AE_MAIN_BT_TARGET_Y = 1600
DBG_AE_MAIN_BT_TARGETBYBV_NUM = 1
DBG_AE_MAIN_BT_TARGETBYBV_Y = 1600
DBG_AE_MAIN_BT_BLKYWGHT_NUM = 1
DBG_AE_MAIN_BT_BLKYWGHT_Y = 512
DBG_AE_MAIN_BT_SORTY_WT = 512
DBG_AE_MAIN_MT_PCENT_NUM = 1
DBG_AE_MAIN_MT_PCENT_Y = 500
DBG_AE_MAIN_MT_TARGET_NUM = 1
DBG_AE_MAIN_MT_TARGET_Y = 470
DBG_AE_STGY_DT_PCENT_NUM = 1
DBG_AE_STGY_DT_PCENT_Y = 50
DBG_AE_STGY_DT_TARGET_NUM = 1
DBG_AE_STGY_DT_TARGET_Y = 10
DBG_AE_MAIN_DT_PCENT_NUM = 1
DBG_AE_MAIN_DT_PCENT_Y = 50
DBG_AE_MAIN_DT_TARGET_NUM = 1
DBG_AE_MAIN_DT_TARGET_Y = 10
DBG_AE_MAIN_DT_SORTY_WT = 512
)";
}

// One AE handle with its plug-in records. The input starts as the plug-in
// builds it: a 32 x 32 grid of blocks of Y 0, an empty histogram, the
// exposure of the first result, F1.8, 30 fps, AE enabled, debug mask 0.
struct Ae {
    AeInitParam_t init;
    AeInput_t in;
    AeOutput_t out;
    AEDEBUG_t dbg{1, 0};
    ISPHistX_t hist;
    ISPAESample_t blocks[32 * 32];
    cam_ae_handle_t *h = nullptr;

    // iq empty: no IQ file (the built-in defaults stay).
    explicit Ae(const std::string &iq = ReferenceIq(), const AeInitParam_t &sensor = BoardSensor()) : init(sensor) {
        memset(&in, 0, sizeof(in));
        memset(&out, 0, sizeof(out));
        memset(&hist, 0, sizeof(hist));
        memset(blocks, 0, sizeof(blocks));
        in.Size = sizeof(in);
        in.AvgBlkX = in.AvgBlkY = 32;
        in.tAEDebug = &dbg;
        ISP_DBGBUF_HANDLE cfg = nullptr;
        if (!iq.empty()) {
            std::string err;
            const std::vector<uint8_t> img = iqtext::compile(iq, iqtext::Options{}, &err);
            EXPECT_EQ("", err);
            EXPECT_EQ(0, IspLoadIqCfg(&cfg, img.data(), (LX_U32)img.size()));
        }
        h = (cam_ae_handle_t *)AeInit(cfg, &init, &in, &out);
        IspFreeIqCfg(&cfg);
        in.hist1 = in.hist2 = &hist;
        in.avgs = blocks;
        in.FNx10 = init.FNx10;
        in.Shutter = in.ShutterHDR = out.Shutter;
        in.SensorGain = in.SensorGainHDR = out.SensorGain;
        in.IspGain = in.IspGainHDR = out.IspGain;
    }
    ~Ae() { AeRelease(h); }
    Ae(const Ae &) = delete;
    Ae &operator=(const Ae &) = delete;

    // A flat scene: every block of luminance y, all 33909 histogram samples
    // in y's bin.
    void Flat(LX_U8 y) {
        for (ISPAESample_t &b : blocks) b = ISPAESample_t{y, y, y, y};
        memset(&hist, 0, sizeof(hist));
        hist.u2HistY[y / 2] = 33909;
    }

    // The exposure of the last result becomes the one the sensor runs with.
    void Apply() {
        in.Shutter = out.Shutter;
        in.SensorGain = out.SensorGain;
        in.IspGain = out.IspGain;
        in.ShutterHDR = out.ShutterHDR;
        in.SensorGainHDR = out.SensorGainHDR;
        in.IspGainHDR = out.IspGainHDR;
        in.PreCurYx10 = out.CurYx10;
        in.PreAvgYx10 = out.AvgYx10;
    }

    LX_S32 Frame() { return DoAe(h, &in, &out); }
};

}  // namespace aetest
