// The default plug-ins called directly through their interfaces, and the IQ
// file loader. An agent of the test answers the ISP root request, so each
// case picks its own IQ directory.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "cus3a_entry.h"
#include "cus3a_plugin.h"
#include "iq_text.h"
#include "mi_isp_iqapi.h"

namespace {

std::string g_root;

MI_S32 root_agent(MI_ISP_IQApiHeader_t *h, void *d) {
    if (h->u32CtrlID != MI_ISP_CID_ISP_ROOT) return MI_ISP_API_AGENT_PASS_ON;
    auto *r = (MI_ISP_ROOT_PATH_T *)d;
    memset(r, 0, sizeof *r);
    memcpy(r->strIspRoot, g_root.data(), std::min(g_root.size(), sizeof r->strIspRoot));
    return 0;
}

class Plugins : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/cus3a_iqXXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        dir_ = tmpl;
        g_root = dir_;
        MI_ISP_RegisterIspApiAgent(0, 0, nullptr, root_agent);
    }
    void TearDown() override {
        MI_ISP_RegisterIspApiAgent(0, 0, nullptr, nullptr);
        unlink((dir_ + "/iqfile0.bin").c_str());
        rmdir(dir_.c_str());
    }
    void write_iq(const std::string &text, iqtext::Options opt = {}) {
        std::string err;
        std::vector<uint8_t> img = iqtext::compile(text, opt, &err);
        ASSERT_EQ("", err);
        std::ofstream(dir_ + "/iqfile0.bin", std::ios::binary).write((const char *)img.data(), (long)img.size());
    }
    void write_reference() {
        std::ifstream in(VIDREC_REFERENCE_IQFILE, std::ios::binary);
        std::ofstream(dir_ + "/iqfile0.bin", std::ios::binary) << in.rdbuf();
    }
    std::string dir_;
};

TEST_F(Plugins, IqFileFromTheIspRootLoadsOnlyWhole) {
    struct Case {
        const char *what;
        iqtext::Options opt;
        int want;
        const char *printed;
    };
    const Case cases[] = {
        {"whole", {}, 0, "Load iq file "},
        {"one byte short", {false, 39134}, -1, "Failed to load IQ file.\n"},
        {"wrong sum", {true, -1}, -1, "Failed to load IQ file.\n"},
    };
    for (const Case &c : cases) {
        write_iq("DBG_AE_DEFAULT_TARGET = 470\n", c.opt);
        ISP_DBGBUF_HANDLE h = (ISP_DBGBUF_HANDLE)1;
        testing::internal::CaptureStderr();
        EXPECT_EQ(c.want, LoadIqFile(&h, 0)) << c.what;
        std::string out = testing::internal::GetCapturedStderr();
        EXPECT_NE(std::string::npos, out.find("change isproot : " + dir_ + "\n")) << out;
        EXPECT_NE(std::string::npos, out.find(c.printed)) << c.what << ": " << out;
        EXPECT_EQ(c.want == 0, h != nullptr) << c.what;
        FreeIqFile(&h);
        EXPECT_EQ(nullptr, h);
    }
    // A root that fills the whole record is cut to 63 characters.
    g_root = dir_ + std::string(64, 'x');
    ISP_DBGBUF_HANDLE h = nullptr;
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, LoadIqFile(&h, 3));
    std::string out = testing::internal::GetCapturedStderr();
    const std::string cut = g_root.substr(0, 63);
    EXPECT_NE(std::string::npos, out.find("Failed to open IQ file " + cut + "/iqfile3.bin.\n")) << out;
}

TEST_F(Plugins, AwbRunsOnTheFirstFrameAndEveryThird) {
    write_reference();
    ISP_AWB_INTERFACE awb;
    ASSERT_EQ(0, Velto3AGetAwbInterface(1, 15, &awb));
    ASSERT_EQ(0, awb.init(awb.pdata));
    static MI_ISP_AWB_HW_STATISTICS_t stats;
    for (auto &b : stats.nAvg) b = {100, 100, 100};
    ISP_AWB_INFO info;
    memset(&info, 0, sizeof info);
    info.Size = sizeof info;
    info.AvgBlkX = 128;
    info.AvgBlkY = 90;
    info.avgs = (ISP_AWB_SAMPLE *)stats.nAvg;
    info.CurRGain = info.CurGGain = info.CurBGain = 1024;
    std::string changes;
    for (int f = 0; f < 7; ++f) {
        ISP_AWB_RESULT r;
        memset(&r, 0xFF, sizeof r);
        awb.run(awb.pdata, &info, &r);
        EXPECT_EQ(sizeof r, r.Size);
        changes += std::to_string(r.Change);
    }
    EXPECT_EQ("1001001", changes);
    EXPECT_EQ(7u, Cus3A_PrivData(1, 15)->nAwbFrameCnt);
    awb.release(awb.pdata);
    EXPECT_EQ(nullptr, Cus3A_PrivData(1, 15)->tCusAwbInfo.hAwb);
}

TEST_F(Plugins, OwnControlIdsAnswerWithoutTheAlgorithm) {
    ISP_AE_INTERFACE ae;
    ISP_AWB_INTERFACE awb;
    ISP_AF_INTERFACE af;
    ASSERT_EQ(0, Velto3AGetAeInterface(1, 14, &ae));
    ASSERT_EQ(0, Velto3AGetAwbInterface(1, 14, &awb));
    ASSERT_EQ(0, Velto3AGetAfInterface(1, 14, &af));
    Cus3A_Priv_Data_t *s = Cus3A_PrivData(1, 14);
    ASSERT_EQ(nullptr, s->tCusAeInfo.hAe);  // never initialised: no algorithm to ask
    struct Case {
        int (*ctrl)(void *, MI_U32, void *);
        MI_U32 id;
        LX_S32 *level;
    };
    const Case cases[] = {
        {ae.ctrl, 0x3000, &s->tCusAeInfo.tAeDbg.AE_DEBUG_LEVEL},
        {awb.ctrl, 0x3001, &s->tCusAwbInfo.tAwbDbg.AWB_DEBUG_LEVEL},
        {af.ctrl, 0x3003, &s->tCusAfInfo.tAfDbg.AF_DEBUG_LEVEL},
    };
    for (const Case &c : cases) {
        *c.level = 0x25;
        MI_U32 word = 0;
        MI_CUS3A_CtrlCmd_t cmd{1, {24, 4, c.id, 14, 1, 99}, &word};
        EXPECT_EQ(0, c.ctrl(s, c.id, &cmd));
        EXPECT_EQ(0x25u, word);
        EXPECT_EQ(0, cmd.stApiHeader.s32Ret);
        word = 7;
        cmd.u32Dir = 0;
        EXPECT_EQ(0, c.ctrl(s, c.id, &cmd));
        EXPECT_EQ(7, *c.level);
        // Shorter than the word: refused, the level stays.
        cmd.stApiHeader.u32DataLen = 2;
        word = 9;
        EXPECT_EQ(0, c.ctrl(s, c.id, &cmd));
        EXPECT_EQ(14, cmd.stApiHeader.s32Ret);
        EXPECT_EQ(7, *c.level);
        // Any other id needs the algorithm.
        cmd.stApiHeader.u32DataLen = 4;
        cmd.stApiHeader.u32CtrlID = 0x1C29;
        EXPECT_EQ(-1, c.ctrl(s, 0x1C29, &cmd));
        EXPECT_EQ(0, c.ctrl(s, CUS3A_CTRL_CAMERA_REOPEN, nullptr));
        EXPECT_EQ(-1, c.ctrl(s, c.id, nullptr));
    }
}

TEST_F(Plugins, AfTargetStaysAtTheLensUntilTheAfMovesIt) {
    ISP_AF_INTERFACE af;
    ASSERT_EQ(0, Velto3AGetAfInterface(1, 13, &af));
    ISP_AF_INIT_PARAM ip;
    memset(&ip, 0, sizeof ip);
    ASSERT_EQ(0, af.init(af.pdata, &ip));
    static ISP_AF_INFO_STATS stats;
    ISP_AF_INFO info{sizeof(ISP_AF_INFO), &stats, 500, 0, 1023};
    // The AF skips its first frames: the target never drops to 0 meanwhile.
    for (int f = 0; f < 5; ++f) {
        ISP_AF_RESULT r{sizeof r, 0, 0};
        af.run(af.pdata, &info, &r);
        EXPECT_EQ(1u, r.Change) << f;
        EXPECT_EQ(500u, r.NextPos) << f;
    }
    af.release(af.pdata);
    EXPECT_EQ(nullptr, Cus3A_PrivData(1, 13)->tCusAfInfo.hAf);
}

}  // namespace
