// The default AE plug-in's start: the sensor's limits as the AE receives them.
#include <gtest/gtest.h>
#include <string.h>

#include "cus3a_entry.h"
#include "cus3a_plugin.h"

namespace {

// The AE keeps its minima in 16 bits: a sensor minimum beyond them becomes
// the largest it can hold, never what is left of its low bits.
TEST(AePlugin, SensorMinimaBeyondSixteenBitsSaturate) {
    ISP_AE_INTERFACE ae;
    ASSERT_EQ(0, Velto3AGetAeInterface(1, 12, &ae));
    ISP_AE_INIT_PARAM p;
    memset(&p, 0, sizeof p);
    p.shutter_min = 70000;
    p.shutter_max = 1000000;
    p.sensor_gain_min = 0x10400;
    p.sensor_gain_max = 0x40000;
    p.shutterHDRShort_min = 65535;
    p.shutterHDRShort_max = 1000000;
    p.sensor_gainHDRShort_min = 1024;
    p.sensor_gainHDRShort_max = 0x40000;
    p.isp_gain_max = 8192;
    p.fps = 30;
    ASSERT_EQ(0, ae.init(ae.pdata, &p));
    const AeInitParam_t &got = Cus3A_PrivData(1, 12)->tAeInit;
    EXPECT_EQ(0xFFFF, got.shutter_min);
    EXPECT_EQ(0xFFFF, got.sensor_gain_min);
    EXPECT_EQ(65535, got.shutterHDRShort_min);
    EXPECT_EQ(1024, got.sensor_gainHDRShort_min);
    ae.release(ae.pdata);
}

}  // namespace
