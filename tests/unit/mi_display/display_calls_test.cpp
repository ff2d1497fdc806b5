// Every display, HDMI and panel call: the request code, the payload size and
// layout the driver receives, and what comes back to the caller.
#include <linux/ioctl.h>

#include <gtest/gtest.h>

#include "display_test_util.h"
#include "mi_disp.h"
#include "mi_disp_ioctl.h"
#include "mi_hdmi.h"
#include "mi_hdmi_ioctl.h"
#include "mi_panel.h"
#include "mi_panel_ioctl.h"
#include "vb.h"
#include "vb_display.h"

using dt::rd16;
using dt::rd32;
using dt::rd8;

// None of these records carries a pointer, so the board's layout holds on
// every build.
static_assert(sizeof(MI_DISP_PubAttr_t) == 48);
static_assert(sizeof(MI_DISP_VideoLayerAttr_t) == 20);
static_assert(sizeof(MI_DISP_InputPortAttr_t) == 12);
static_assert(sizeof(MI_DISP_WBC_Attr_t) == 12);
static_assert(sizeof(MI_HDMI_Attr_t) == 44);

namespace {

const char *kDisp = "/dev/mi_disp";
const char *kHdmi = "/dev/mi_hdmi";
const char *kPanel = "/dev/mi_panel";

class DisplayCalls : public ::testing::Test {
protected:
    void SetUp() override {
        vb::display::reset();
        vb::inject_clear();
        vb::trace_clear();
    }
    void TearDown() override { vb::inject_clear(); }

    // The last request with `code` on `node`; checks that its payload size is
    // the size the code carries and the Part's literal size.
    vb::TraceEntry expect_request(const char *node, unsigned long code, size_t size) {
        vb::TraceEntry e;
        EXPECT_TRUE(dt::last_request(node, code, &e)) << std::hex << code;
        EXPECT_EQ(_IOC_SIZE(code), size);
        EXPECT_EQ(e.in.size(), size);
        return e;
    }
};

TEST_F(DisplayCalls, DeviceLayerAndPortSetUpSendsListedCodesAndPayloads) {
    MI_DISP_PubAttr_t pub{};
    pub.u32BgColor = 0x800080;
    pub.eIntfType = E_MI_DISP_INTF_HDMI;
    pub.eIntfSync = E_MI_DISP_OUTPUT_1080P30;
    pub.stSyncInfo.bIop = 1;
    pub.stSyncInfo.u16Vact = 0x1111;
    pub.stSyncInfo.u16Vpw = 0x2222;
    pub.stSyncInfo.bIvs = 1;
    pub.stSyncInfo.u32FrameRate = 30;
    ASSERT_EQ(MI_DISP_SetPubAttr(1, &pub), 0);
    auto e = expect_request(kDisp, 0x40346902, 52);
    EXPECT_EQ(rd32(e.in, 0), 1u);
    EXPECT_EQ(rd32(e.in, 4), 0x800080u);
    EXPECT_EQ(rd32(e.in, 8), 5u);
    EXPECT_EQ(rd32(e.in, 12), 12u);
    EXPECT_EQ(rd8(e.in, 17), 1);          // bIop
    EXPECT_EQ(rd16(e.in, 20), 0x1111);    // u16Vact after one byte of alignment
    EXPECT_EQ(rd16(e.in, 42), 0x2222);    // u16Vpw
    EXPECT_EQ(rd8(e.in, 46), 1);          // bIvs
    EXPECT_EQ(rd32(e.in, 48), 30u);       // u32FrameRate

    ASSERT_EQ(MI_DISP_Enable(1), 0);
    e = expect_request(kDisp, 0x40046900, 4);
    EXPECT_EQ(rd32(e.in, 0), 1u);

    ASSERT_EQ(MI_DISP_BindVideoLayer(2, 1), 0);
    e = expect_request(kDisp, 0x4008690a, 8);
    EXPECT_EQ(rd32(e.in, 0), 2u);
    EXPECT_EQ(rd32(e.in, 4), 1u);

    MI_DISP_VideoLayerAttr_t la{};
    la.stVidLayerDispWin = {1, 2, 1920, 1080};
    la.stVidLayerSize.u16Width = 1920;
    la.stVidLayerSize.u16Height = 1080;
    la.ePixFormat = E_MI_SYS_PIXEL_FRAME_YUV_SEMIPLANAR_420;
    ASSERT_EQ(MI_DISP_SetVideoLayerAttr(2, &la), 0);
    e = expect_request(kDisp, 0x40186908, 24);
    EXPECT_EQ(rd32(e.in, 0), 2u);
    EXPECT_EQ(rd16(e.in, 4), 1);
    EXPECT_EQ(rd16(e.in, 6), 2);
    EXPECT_EQ(rd16(e.in, 8), 1920);
    EXPECT_EQ(rd16(e.in, 10), 1080);
    EXPECT_EQ(rd32(e.in, 12), 1920u);  // layer size: 32-bit members
    EXPECT_EQ(rd32(e.in, 16), 1080u);
    EXPECT_EQ(rd32(e.in, 20), 11u);

    ASSERT_EQ(MI_DISP_EnableVideoLayer(2), 0);
    e = expect_request(kDisp, 0x40046906, 4);
    EXPECT_EQ(rd32(e.in, 0), 2u);

    MI_DISP_InputPortAttr_t pa{};
    pa.stDispWin = {0, 0, 1920, 1080};
    pa.u16SrcWidth = 1280;
    pa.u16SrcHeight = 720;
    ASSERT_EQ(MI_DISP_SetInputPortAttr(2, 5, &pa), 0);
    e = expect_request(kDisp, 0x40146914, 20);
    EXPECT_EQ(rd32(e.in, 0), 2u);
    EXPECT_EQ(rd32(e.in, 4), 5u);
    EXPECT_EQ(rd16(e.in, 12), 1920);
    EXPECT_EQ(rd16(e.in, 16), 1280);
    EXPECT_EQ(rd16(e.in, 18), 720);

    ASSERT_EQ(MI_DISP_EnableInputPort(2, 5), 0);
    e = expect_request(kDisp, 0x40086916, 8);
    EXPECT_EQ(rd32(e.in, 0), 2u);
    EXPECT_EQ(rd32(e.in, 4), 5u);

    // Tear-down in the order the recorder uses.
    ASSERT_EQ(MI_DISP_DisableInputPort(2, 5), 0);
    e = expect_request(kDisp, 0x40086917, 8);
    EXPECT_EQ(rd32(e.in, 4), 5u);
    ASSERT_EQ(MI_DISP_UnBindVideoLayer(2, 1), 0);
    e = expect_request(kDisp, 0x4008690b, 8);
    EXPECT_EQ(rd32(e.in, 0), 2u);
    EXPECT_EQ(rd32(e.in, 4), 1u);
    ASSERT_EQ(MI_DISP_DisableVideoLayer(2), 0);
    e = expect_request(kDisp, 0x40046907, 4);
    EXPECT_EQ(rd32(e.in, 0), 2u);
    ASSERT_EQ(MI_DISP_Disable(1), 0);
    e = expect_request(kDisp, 0x40046901, 4);
    EXPECT_EQ(rd32(e.in, 0), 1u);

    ASSERT_EQ(MI_DISP_DeviceDetach(0, 1), 0);
    e = expect_request(kDisp, 0x40086905, 8);
    EXPECT_EQ(rd32(e.in, 0), 0u);
    EXPECT_EQ(rd32(e.in, 4), 1u);
}

TEST_F(DisplayCalls, WriteBackAttributeIsClearedOnTheWayInAndCopiedOutOnlyOnSuccess) {
    MI_DISP_PubAttr_t pub{};
    pub.eIntfType = E_MI_DISP_INTF_HDMI;
    pub.eIntfSync = E_MI_DISP_OUTPUT_720P60;
    ASSERT_EQ(MI_DISP_SetPubAttr(0, &pub), 0);

    MI_DISP_WBC_Attr_t wbc;
    memset(&wbc, 0xAA, sizeof wbc);
    ASSERT_EQ(MI_DISP_GetWBCAttr(0, &wbc), 0);
    auto e = expect_request(kDisp, 0xc0106932, 16);
    for (size_t i = 4; i < e.in.size(); ++i) EXPECT_EQ(e.in[i], 0) << "byte " << i;
    EXPECT_EQ(wbc.stTargetSize.u32Width, 1280u);
    EXPECT_EQ(wbc.stTargetSize.u32Height, 720u);

    memset(&wbc, 0xAA, sizeof wbc);
    vb::inject(kDisp, 0xc0106932, (int)0xA00F2007, 1);
    EXPECT_EQ(MI_DISP_GetWBCAttr(0, &wbc), (MI_S32)0xA00F2007);
    EXPECT_EQ(wbc.stTargetSize.u32Width, 0xAAAAAAAAu);

    // A unit the board does not have: the driver's answer comes back unchanged.
    EXPECT_EQ(MI_DISP_GetWBCAttr(3, &wbc), MI_DISP_ERR_INVALID_CHNID);
    EXPECT_EQ(wbc.stTargetSize.u32Width, 0xAAAAAAAAu);
}

TEST_F(DisplayCalls, MissingRecordsAreRefusedWithoutReachingTheDriver) {
    MI_DISP_WBC_Attr_t *no_wbc = nullptr;
    EXPECT_EQ(MI_DISP_SetPubAttr(0, nullptr), MI_DISP_ERR_NULL_PTR);
    EXPECT_EQ(MI_DISP_SetVideoLayerAttr(0, nullptr), MI_DISP_ERR_NULL_PTR);
    EXPECT_EQ(MI_DISP_SetInputPortAttr(0, 0, nullptr), MI_DISP_ERR_NULL_PTR);
    EXPECT_EQ(MI_DISP_GetWBCAttr(0, no_wbc), MI_DISP_ERR_NULL_PTR);
    EXPECT_EQ(MI_HDMI_SetAttr(E_MI_HDMI_ID_0, nullptr), (MI_S32)0xA00B2003);
    EXPECT_EQ(MI_HDMI_GetAttr(E_MI_HDMI_ID_0, nullptr), (MI_S32)0xA00B2003);
    EXPECT_TRUE(vb::trace(kDisp).empty());
    EXPECT_TRUE(vb::trace(kHdmi).empty());
}

TEST_F(DisplayCalls, DriverAnswersPassThroughUnchanged) {
    vb::inject(kDisp, 0x40046900, (int)0xA00F2010, 1);
    EXPECT_EQ(MI_DISP_Enable(0), (MI_S32)0xA00F2010);
    vb::inject(kDisp, 0x40086916, -1, 1);
    EXPECT_EQ(MI_DISP_EnableInputPort(0, 0), -1);
    vb::inject(kPanel, 0x40046900, (int)0xA0192010, 1);
    EXPECT_EQ(MI_PANEL_Init(E_MI_PNL_INTF_TTL), (MI_S32)0xA0192010);
    vb::inject(kHdmi, 0x40086908, (int)0xA00B2017, 1);
    EXPECT_EQ(MI_HDMI_SetAvMute(E_MI_HDMI_ID_0, TRUE), (MI_S32)0xA00B2017);
}

TEST_F(DisplayCalls, HdmiCallsSendListedCodesAndPayloads) {
    // Bring the driver up without the watcher so that only this test's
    // requests are traced.
    ASSERT_EQ(mi_call(MI_DEV_HDMI, MI_HDMI_INIT, nullptr, 0), 0);

    ASSERT_EQ(MI_HDMI_Open(E_MI_HDMI_ID_0), 0);
    auto e = expect_request(kHdmi, 0x40046902, 4);
    EXPECT_EQ(rd32(e.in, 0), 0u);

    MI_HDMI_Attr_t a{};
    a.bConnect = 0;
    a.stVideoAttr.bEnableVideo = 1;
    a.stVideoAttr.eTimingType = E_MI_HDMI_TIMING_1080_30P;
    a.stVideoAttr.eOutputMode = E_MI_HDMI_OUTPUT_MODE_HDMI;
    a.stVideoAttr.eColorType = E_MI_HDMI_COLOR_TYPE_YCBCR422;
    a.stVideoAttr.eDeepColorMode = E_MI_HDMI_DEEP_COLOR_24BIT;
    a.stAudioAttr.bEnableAudio = 1;
    a.stAudioAttr.bIsMultiChannel = 0;
    a.stAudioAttr.eSampleRate = E_MI_HDMI_AUDIO_SAMPLERATE_48K;
    a.stAudioAttr.eBitDepth = E_MI_HDMI_BIT_DEPTH_16;
    a.stAudioAttr.eCodeType = E_MI_HDMI_ACODE_PCM;
    a.stEnInfoFrame.bEnableSpdInfoFrame = 1;
    ASSERT_EQ(MI_HDMI_SetAttr(E_MI_HDMI_ID_0, &a), 0);
    e = expect_request(kHdmi, 0x40306904, 48);
    EXPECT_EQ(rd32(e.in, 0), 0u);
    EXPECT_EQ(rd8(e.in, 8), 1);       // bEnableVideo
    EXPECT_EQ(rd32(e.in, 12), 10u);   // eTimingType
    EXPECT_EQ(rd32(e.in, 20), 1u);    // eColorType
    EXPECT_EQ(rd8(e.in, 28), 1);      // bEnableAudio
    EXPECT_EQ(rd32(e.in, 32), 3u);    // eSampleRate
    EXPECT_EQ(rd32(e.in, 36), 16u);   // eBitDepth
    EXPECT_EQ(rd8(e.in, 46), 1);      // bEnableSpdInfoFrame

    ASSERT_EQ(MI_HDMI_SetAvMute(E_MI_HDMI_ID_0, TRUE), 0);
    e = expect_request(kHdmi, 0x40086908, 8);
    EXPECT_EQ(rd32(e.in, 0), 0u);
    EXPECT_EQ(rd32(e.in, 4), 1u);

    ASSERT_EQ(MI_HDMI_Start(E_MI_HDMI_ID_0), 0);
    expect_request(kHdmi, 0x40046906, 4);

    vb::display::hdmi_plug(true);
    MI_HDMI_Attr_t got;
    memset(&got, 0xAA, sizeof got);
    ASSERT_EQ(MI_HDMI_GetAttr(E_MI_HDMI_ID_0, &got), 0);
    e = expect_request(kHdmi, 0xc0306905, 48);
    for (size_t i = 4; i < e.in.size(); ++i) EXPECT_EQ(e.in[i], 0) << "byte " << i;
    EXPECT_EQ(got.bConnect, 1);
    EXPECT_EQ(got.stVideoAttr.eTimingType, E_MI_HDMI_TIMING_1080_30P);
    EXPECT_EQ(got.stAudioAttr.eBitDepth, E_MI_HDMI_BIT_DEPTH_16);

    // A failed read leaves the caller's record alone.
    vb::display::hdmi_plug(false);
    vb::inject(kHdmi, 0xc0306905, (int)0xA00B2010, 1);
    EXPECT_EQ(MI_HDMI_GetAttr(E_MI_HDMI_ID_0, &got), (MI_S32)0xA00B2010);
    EXPECT_EQ(got.bConnect, 1);

    ASSERT_EQ(MI_HDMI_Stop(E_MI_HDMI_ID_0), 0);
    expect_request(kHdmi, 0x40046907, 4);
    ASSERT_EQ(MI_HDMI_Close(E_MI_HDMI_ID_0), 0);
    expect_request(kHdmi, 0x40046903, 4);
    ASSERT_EQ(mi_call(MI_DEV_HDMI, MI_HDMI_DEINIT, nullptr, 0), 0);
}

TEST_F(DisplayCalls, HdmiInitAndDeInitCarryNoPayload) {
    MI_HDMI_InitParam_t p{nullptr, nullptr};
    ASSERT_EQ(MI_HDMI_Init(&p), 0);
    ASSERT_EQ(MI_HDMI_DeInit(), 0);
    auto t = vb::trace(kHdmi);
    ASSERT_FALSE(t.empty());
    EXPECT_EQ(t.front().code, 0x6900ul);
    EXPECT_TRUE(t.front().in.empty());
    EXPECT_EQ(t.back().code, 0x6901ul);  // nothing after the de-init: the watcher has ended
    EXPECT_TRUE(t.back().in.empty());
}

// The same fields from a clean and from a dirty caller record reach the driver
// as the same bytes: no alignment byte of the caller's is sent.
TEST_F(DisplayCalls, CallersAlignmentBytesNeverReachTheDriver) {
    ASSERT_EQ(mi_call(MI_DEV_HDMI, MI_HDMI_INIT, nullptr, 0), 0);
    std::vector<uint8_t> disp[2], hdmi[2];
    for (int dirty = 0; dirty < 2; ++dirty) {
        MI_DISP_PubAttr_t p;
        memset(&p, dirty ? 0xAB : 0, sizeof p);
        p.u32BgColor = 1;
        p.eIntfType = E_MI_DISP_INTF_HDMI;
        p.eIntfSync = E_MI_DISP_OUTPUT_1080P30;
        MI_DISP_SyncInfo_t &s = p.stSyncInfo;
        s.bSynm = 1, s.bIop = 0, s.u8Intfb = 2;
        s.u16Vact = 3, s.u16Vbb = 4, s.u16Vfb = 5, s.u16Hact = 6, s.u16Hbb = 7, s.u16Hfb = 8, s.u16Hmid = 9;
        s.u16Bvact = 10, s.u16Bvbb = 11, s.u16Bvfb = 12, s.u16Hpw = 13, s.u16Vpw = 14;
        s.bIdv = 1, s.bIhs = 0, s.bIvs = 1, s.u32FrameRate = 30;
        MI_DISP_SetPubAttr(0, &p);
        disp[dirty] = expect_request(kDisp, 0x40346902, 52).in;

        MI_HDMI_Attr_t a;
        memset(&a, dirty ? 0xAB : 0, sizeof a);
        a.bConnect = 1;
        a.stVideoAttr = {1, E_MI_HDMI_TIMING_1080_30P, E_MI_HDMI_OUTPUT_MODE_HDMI, E_MI_HDMI_COLOR_TYPE_YCBCR422,
                         E_MI_HDMI_DEEP_COLOR_24BIT};
        a.stAudioAttr.bEnableAudio = 1;
        a.stAudioAttr.bIsMultiChannel = 0;
        a.stAudioAttr.eSampleRate = E_MI_HDMI_AUDIO_SAMPLERATE_48K;
        a.stAudioAttr.eBitDepth = E_MI_HDMI_BIT_DEPTH_16;
        a.stAudioAttr.eCodeType = E_MI_HDMI_ACODE_PCM;
        a.stEnInfoFrame.bEnableAviInfoFrame = 1;
        a.stEnInfoFrame.bEnableAudInfoFrame = 0;
        a.stEnInfoFrame.bEnableSpdInfoFrame = 1;
        MI_HDMI_SetAttr(E_MI_HDMI_ID_0, &a);
        hdmi[dirty] = expect_request(kHdmi, 0x40306904, 48).in;
    }
    EXPECT_EQ(disp[0], disp[1]);
    EXPECT_EQ(hdmi[0], hdmi[1]);
}

TEST_F(DisplayCalls, PanelCallsSendListedCodes) {
    ASSERT_EQ(MI_PANEL_Init(E_MI_PNL_INTF_BT1120), 0);
    auto e = expect_request(kPanel, 0x40046900, 4);
    EXPECT_EQ(rd32(e.in, 0), 14u);
    EXPECT_EQ(vb::display::panel_text(), "init 1 type 14\n");
    ASSERT_EQ(MI_PANEL_DeInit(), 0);
    auto t = vb::trace(kPanel);
    ASSERT_FALSE(t.empty());
    EXPECT_EQ(t.back().code, 0x6901ul);
    EXPECT_TRUE(t.back().in.empty());
    EXPECT_EQ(vb::display::panel_text(), "init 0 type 14\n");
    // The board refuses a type it does not know and a de-init without init.
    EXPECT_EQ(MI_PANEL_Init((MI_PANEL_IntfType_e)18), MI_PANEL_ERR_ILLEGAL_PARAM);
    EXPECT_EQ(MI_PANEL_DeInit(), MI_PANEL_ERR_SYS_NOTREADY);
}

}  // namespace
