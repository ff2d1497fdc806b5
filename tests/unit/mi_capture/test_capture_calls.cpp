// Sensor interface, ISP and scaler calls: request codes, payload layouts,
// copy-back of getters, create counters, and the 3A set-up of a new channel.
#include <string.h>

#include "capture_test_util.h"
#include "mi_isp.h"
#include "mi_isp_internal.h"
#include "mi_scl.h"
#include "mi_scl_internal.h"
#include "mi_vif.h"
#include "mi_vif_internal.h"

using ct::half;
using ct::last;
using ct::word;

namespace {

class CaptureCalls : public ::testing::Test {
protected:
    void SetUp() override {
        vb::capture::reset();
        vb::inject_clear();
        vb::trace_clear();
    }
    void TearDown() override { vb::inject_clear(); }
};

MI_SYS_WindowRect_t rect(uint16_t x, uint16_t y, uint16_t w, uint16_t h) {
    MI_SYS_WindowRect_t r;
    r.u16X = x;
    r.u16Y = y;
    r.u16Width = w;
    r.u16Height = h;
    return r;
}

TEST_F(CaptureCalls, VifRequestsCarryIdentifiersThenRecord) {
    MI_VIF_GroupAttr_t ga;
    memset(&ga, 0, sizeof ga);
    ga.eIntfMode = E_MI_VIF_MODE_BT1120_STANDARD;
    ga.eWorkMode = E_MI_VIF_WORK_MODE_1MULTIPLEX;
    ga.eScanMode = E_MI_SYS_FRAME_SCAN_MODE_PROGRESSIVE;
    ga.u32GroupStitchMask = 0x5;
    ASSERT_EQ(0, MI_VIF_CreateDevGroup(0, &ga));
    auto e = last("/dev/mi_vif");
    EXPECT_EQ(0x40206900ul, e.code);
    ASSERT_EQ(32u, e.in.size());
    EXPECT_EQ(0u, word(e.in, 0));
    EXPECT_EQ(2u, word(e.in, 4));
    EXPECT_EQ(0x5u, word(e.in, 28));

    MI_VIF_DevAttr_t da;
    memset(&da, 0xAB, sizeof da);  // alignment bytes the caller left dirty
    da.eInputPixel = E_MI_SYS_PIXEL_FRAME_YUV422_UYVY;
    da.stInputRect = rect(0, 0, 1920, 1080);
    da.eField = E_MI_SYS_FIELDTYPE_NONE;
    da.bEnH2T1PMode = 0;
    ASSERT_EQ(0, MI_VIF_SetDevAttr(1, &da));
    e = last("/dev/mi_vif");
    EXPECT_EQ(0x40186904ul, e.code);
    ASSERT_EQ(24u, e.in.size());
    EXPECT_EQ(1u, word(e.in, 0));
    EXPECT_EQ(14u, word(e.in, 4));
    EXPECT_EQ(1920u, half(e.in, 12));
    EXPECT_EQ(1080u, half(e.in, 14));
    for (size_t i = 20; i < 24; ++i) EXPECT_EQ(0, e.in[i]) << "byte " << i << " of the device record";

    ASSERT_EQ(0, MI_VIF_EnableDev(1));
    e = last("/dev/mi_vif");
    EXPECT_EQ(0x40046906ul, e.code);
    ASSERT_EQ(4u, e.in.size());
    EXPECT_EQ(1u, word(e.in, 0));

    MI_VIF_OutputPortAttr_t pa;
    memset(&pa, 0, sizeof pa);
    pa.stCapRect = rect(0, 0, 1920, 1080);
    pa.stDestSize.u16Width = 1280;
    pa.stDestSize.u16Height = 720;
    pa.ePixFormat = E_MI_SYS_PIXEL_FRAME_YUV422_UYVY;
    pa.eFrameRate = E_MI_VIF_FRAMERATE_HALF;
    ASSERT_EQ(0, MI_VIF_SetOutputPortAttr(1, 1, &pa));
    e = last("/dev/mi_vif");
    EXPECT_EQ(0x401c6909ul, e.code);
    ASSERT_EQ(28u, e.in.size());
    EXPECT_EQ(1u, word(e.in, 0));
    EXPECT_EQ(1u, word(e.in, 4));
    EXPECT_EQ(1280u, half(e.in, 16));
    EXPECT_EQ(720u, half(e.in, 18));
    EXPECT_EQ(14u, word(e.in, 20));
    EXPECT_EQ(1u, word(e.in, 24));

    ASSERT_EQ(0, MI_VIF_EnableOutputPort(1, 1));
    e = last("/dev/mi_vif");
    EXPECT_EQ(0x4008690bul, e.code);
    EXPECT_EQ(8u, e.in.size());
    ASSERT_EQ(0, MI_VIF_DisableOutputPort(1, 1));
    e = last("/dev/mi_vif");
    EXPECT_EQ(0x4008690cul, e.code);
    EXPECT_EQ(1u, word(e.in, 0));
    EXPECT_EQ(1u, word(e.in, 4));
}

TEST_F(CaptureCalls, IspRequestsAndGettersCopyBackWhateverTheResult) {
    MI_ISP_DevAttr_t da{0x3};
    ASSERT_EQ(0, MI_ISP_CreateDevice(0, &da));
    auto e = last("/dev/mi_isp");
    EXPECT_EQ(0x40086900ul, e.code);
    EXPECT_EQ(0x3u, word(e.in, 4));

    MI_ISP_ChannelAttr_t ca;
    memset(&ca, 0, sizeof ca);
    ca.u32SensorBindId = 7;
    ca.stIspCustIqParam.stVersion.u32Revision = 2;
    ca.u32Sync3AType = 9;
    vb::trace_clear();
    ASSERT_EQ(0, MI_ISP_CreateChannel(0, 3, &ca));
    auto creates = vb::trace("/dev/mi_isp");
    ASSERT_FALSE(creates.empty());
    e = creates.front();
    EXPECT_EQ(0x40586902ul, e.code);
    ASSERT_EQ(88u, e.in.size());
    EXPECT_EQ(0u, word(e.in, 0));
    EXPECT_EQ(3u, word(e.in, 4));
    EXPECT_EQ(7u, word(e.in, 8));
    EXPECT_EQ(2u, word(e.in, 12));
    EXPECT_EQ(9u, word(e.in, 84));

    MI_SYS_WindowRect_t r = rect(2, 4, 640, 480);
    ASSERT_EQ(0, MI_ISP_SetInputPortCrop(0, 3, &r));
    e = last("/dev/mi_isp");
    EXPECT_EQ(0x40106904ul, e.code);
    EXPECT_EQ(16u, e.in.size());
    EXPECT_EQ(640u, half(e.in, 12));

    MI_ISP_ChnParam_t cp;
    memset(&cp, 0xCD, sizeof cp);
    cp.eHDRType = E_MI_ISP_HDR_TYPE_OFF;
    cp.e3DNRLevel = E_MI_ISP_3DNR_LEVEL2;
    cp.bMirror = 1;
    cp.bFlip = 0;
    cp.eRot = E_MI_SYS_ROTATE_180;
    ASSERT_EQ(0, MI_ISP_SetChnParam(0, 3, &cp));
    e = last("/dev/mi_isp");
    EXPECT_EQ(0x40186906ul, e.code);
    ASSERT_EQ(24u, e.in.size());
    EXPECT_EQ(2u, word(e.in, 12));
    EXPECT_EQ(1, e.in[16]);
    EXPECT_EQ(0, e.in[18]) << "alignment bytes are sent as zero";
    EXPECT_EQ(0, e.in[19]);
    EXPECT_EQ(2u, word(e.in, 20));

    MI_ISP_ChnParam_t got;
    memset(&got, 0xEE, sizeof got);
    ASSERT_EQ(0, MI_ISP_GetChnParam(0, 3, &got));
    e = last("/dev/mi_isp");
    EXPECT_EQ(0xc0186907ul, e.code);
    for (size_t i = 8; i < 24; ++i) EXPECT_EQ(0, e.in[i]) << "out part is cleared before the call";
    EXPECT_EQ(E_MI_ISP_3DNR_LEVEL2, got.e3DNRLevel);
    EXPECT_EQ(E_MI_SYS_ROTATE_180, got.eRot);
    EXPECT_EQ(1, got.bMirror);

    // A failing driver: the caller still receives the (cleared) record.
    vb::inject("/dev/mi_isp", 0xc0186907ul, (int)0xA0212007, 1);
    memset(&got, 0xEE, sizeof got);
    EXPECT_EQ((int)0xA0212007, MI_ISP_GetChnParam(0, 3, &got));
    EXPECT_EQ(0, (int)got.e3DNRLevel);
    EXPECT_EQ(0, (int)got.eRot);
    EXPECT_EQ(0, got.bMirror);

    ASSERT_EQ(0, MI_ISP_StartChannel(0, 3));
    EXPECT_EQ(0x40086908ul, last("/dev/mi_isp").code);
    ASSERT_EQ(0, MI_ISP_StopChannel(0, 3));
    EXPECT_EQ(0x40086909ul, last("/dev/mi_isp").code);

    MI_ISP_OutPortParam_t op;
    op.stCropRect = rect(0, 0, 1920, 1080);
    op.ePixelFormat = E_MI_SYS_PIXEL_FRAME_YUV_SEMIPLANAR_420;
    ASSERT_EQ(0, MI_ISP_SetOutputPortParam(0, 3, 1, &op));
    e = last("/dev/mi_isp");
    EXPECT_EQ(0x4018690aul, e.code);
    EXPECT_EQ(1u, word(e.in, 8));
    EXPECT_EQ(11u, word(e.in, 20));
    MI_ISP_OutPortParam_t og;
    memset(&og, 0x77, sizeof og);
    ASSERT_EQ(0, MI_ISP_GetOutputPortParam(0, 3, 1, &og));
    EXPECT_EQ(0xc018690bul, last("/dev/mi_isp").code);
    EXPECT_EQ(1080, og.stCropRect.u16Height);
    EXPECT_EQ(E_MI_SYS_PIXEL_FRAME_YUV_SEMIPLANAR_420, og.ePixelFormat);
    vb::inject("/dev/mi_isp", 0xc018690bul, -1, 1);
    memset(&og, 0x77, sizeof og);
    EXPECT_EQ(-1, MI_ISP_GetOutputPortParam(0, 3, 1, &og));
    EXPECT_EQ(0, og.stCropRect.u16Height);

    ASSERT_EQ(0, MI_ISP_EnableOutputPort(0, 3, 0));
    e = last("/dev/mi_isp");
    EXPECT_EQ(0x400c690cul, e.code);
    EXPECT_EQ(12u, e.in.size());
}

TEST_F(CaptureCalls, SclRequestsAndGetters) {
    MI_SCL_DevAttr_t da{0x3};
    ASSERT_EQ(0, MI_SCL_CreateDevice(0, &da));
    auto e = last("/dev/mi_scl");
    EXPECT_EQ(0x40086900ul, e.code);
    EXPECT_EQ(3u, word(e.in, 4));
    MI_SCL_ChannelAttr_t ca{0};
    ASSERT_EQ(0, MI_SCL_CreateChannel(0, 2, &ca));
    EXPECT_EQ(0x400c6902ul, last("/dev/mi_scl").code);

    MI_SCL_ChnParam_t cp{E_MI_SYS_ROTATE_90};
    ASSERT_EQ(0, MI_SCL_SetChnParam(0, 2, &cp));
    e = last("/dev/mi_scl");
    EXPECT_EQ(0x400c6906ul, e.code);
    EXPECT_EQ(1u, word(e.in, 8));
    MI_SCL_ChnParam_t got{E_MI_SYS_ROTATE_NUM};
    ASSERT_EQ(0, MI_SCL_GetChnParam(0, 2, &got));
    e = last("/dev/mi_scl");
    EXPECT_EQ(0xc00c6907ul, e.code);
    EXPECT_EQ(0u, word(e.in, 8));
    EXPECT_EQ(E_MI_SYS_ROTATE_90, got.eRot);
    vb::inject("/dev/mi_scl", 0xc00c6907ul, (int)0xA0222005, 1);
    got.eRot = E_MI_SYS_ROTATE_NUM;
    EXPECT_EQ((int)0xA0222005, MI_SCL_GetChnParam(0, 2, &got));
    EXPECT_EQ(E_MI_SYS_ROTATE_NONE, got.eRot);

    MI_SYS_WindowRect_t r = rect(0, 0, 1280, 720);
    ASSERT_EQ(0, MI_SCL_SetInputPortCrop(0, 2, &r));
    EXPECT_EQ(0x40106904ul, last("/dev/mi_scl").code);
    ASSERT_EQ(0, MI_SCL_StartChannel(0, 2));
    EXPECT_EQ(0x40086908ul, last("/dev/mi_scl").code);

    MI_SCL_OutPortParam_t op;
    memset(&op, 0x5A, sizeof op);
    op.stSCLOutCropRect = rect(0, 0, 1920, 1080);
    op.stSCLOutputSize.u16Width = 1280;
    op.stSCLOutputSize.u16Height = 720;
    op.bMirror = 0;
    op.bFlip = 1;
    op.ePixelFormat = E_MI_SYS_PIXEL_FRAME_YUV_SEMIPLANAR_420;
    op.eCompressMode = E_MI_SYS_COMPRESS_MODE_NONE;
    ASSERT_EQ(0, MI_SCL_SetOutputPortParam(0, 2, 1, &op));
    e = last("/dev/mi_scl");
    EXPECT_EQ(0x4024690aul, e.code);
    ASSERT_EQ(36u, e.in.size());
    EXPECT_EQ(1u, word(e.in, 8));
    EXPECT_EQ(1280u, half(e.in, 20));
    EXPECT_EQ(720u, half(e.in, 22));
    EXPECT_EQ(0, e.in[24]);
    EXPECT_EQ(1, e.in[25]);
    EXPECT_EQ(0, e.in[26]) << "alignment bytes are sent as zero";
    EXPECT_EQ(0, e.in[27]);
    EXPECT_EQ(11u, word(e.in, 28));
    EXPECT_EQ(0u, word(e.in, 32));

    MI_SCL_OutPortParam_t og;
    memset(&og, 0x11, sizeof og);
    ASSERT_EQ(0, MI_SCL_GetOutputPortParam(0, 2, 1, &og));
    EXPECT_EQ(0xc024690bul, last("/dev/mi_scl").code);
    EXPECT_EQ(720, og.stSCLOutputSize.u16Height);
    EXPECT_EQ(1, og.bFlip);
    ASSERT_EQ(0, MI_SCL_EnableOutputPort(0, 2, 1));
    e = last("/dev/mi_scl");
    EXPECT_EQ(0x400c690cul, e.code);
    EXPECT_EQ(1u, word(e.in, 8));
}

TEST_F(CaptureCalls, CreateCountersCountOnlySuccess) {
    MI_U16 vif0 = mi_vif_group_use_count(), isp0 = mi_isp_dev_use_count(), scl0 = mi_scl_dev_use_count();
    MI_VIF_GroupAttr_t ga;
    memset(&ga, 0, sizeof ga);
    ASSERT_EQ(0, MI_VIF_CreateDevGroup(1, &ga));
    EXPECT_NE(0, MI_VIF_CreateDevGroup(1, &ga)) << "a group exists once";
    EXPECT_EQ(vif0 + 1, mi_vif_group_use_count());

    MI_ISP_DevAttr_t ida{0};
    vb::inject("/dev/mi_isp", 0x40086900ul, -1, 1);
    EXPECT_EQ(-1, MI_ISP_CreateDevice(0, &ida));
    EXPECT_EQ(isp0, mi_isp_dev_use_count());
    EXPECT_EQ(0, MI_ISP_CreateDevice(0, &ida));
    EXPECT_EQ(isp0 + 1, mi_isp_dev_use_count());

    MI_SCL_DevAttr_t sda{3};
    vb::inject("/dev/mi_scl", 0x40086900ul, (int)0xA0222003, 1);
    EXPECT_EQ((int)0xA0222003, MI_SCL_CreateDevice(1, &sda));
    EXPECT_EQ(scl0, mi_scl_dev_use_count());
    EXPECT_NE(0, MI_SCL_CreateDevice(9, &sda)) << "the board has four scaler devices";
    EXPECT_EQ(scl0, mi_scl_dev_use_count());
    EXPECT_EQ(0, MI_SCL_CreateDevice(1, &sda));
    EXPECT_EQ(scl0 + 1, mi_scl_dev_use_count());
}

int g_own_agent_calls = 0;
MI_S32 own_agent(MI_ISP_IQApiHeader_t *, void *) {
    ++g_own_agent_calls;
    return 0;
}

TEST_F(CaptureCalls, RejectedChannelStillGetsTheThreeAService) {
    MI_ISP_DevAttr_t da{0};
    ASSERT_EQ(0, MI_ISP_CreateDevice(0, &da));
    ASSERT_EQ(0, MI_ISP_RegisterIspApiAgent(0, 5, own_agent, own_agent));
    MI_ISP_ChannelAttr_t ca;
    memset(&ca, 0, sizeof ca);
    vb::inject("/dev/mi_isp", 0x40586902ul, (int)0xA0212003, 1);
    EXPECT_EQ((int)0xA0212003, MI_ISP_CreateChannel(0, 5, &ca));
    // The 3A service's agents replaced ours; they hand this request on to the
    // driver.
    g_own_agent_calls = 0;
    vb::trace_clear();
    MI_ISP_ROOT_PATH_T root;
    MI_ISP_GetIspRoot(0, 5, &root);
    EXPECT_EQ(0, g_own_agent_calls);
    EXPECT_EQ(1u, vb::trace("/dev/mi_isp").size());
    MI_ISP_RegisterIspApiAgent(0, 5, nullptr, nullptr);
}

TEST_F(CaptureCalls, DriverRefusesOutOfRangeAndUnconfigured) {
    MI_ISP_DevAttr_t da{0};
    EXPECT_NE(0, MI_ISP_CreateDevice(2, &da));
    MI_ISP_ChannelAttr_t ca;
    memset(&ca, 0, sizeof ca);
    EXPECT_NE(0, MI_ISP_CreateChannel(0, 0, &ca)) << "device not created";
    ASSERT_EQ(0, MI_ISP_CreateDevice(0, &da));
    EXPECT_NE(0, MI_ISP_CreateChannel(0, 16, &ca));
    EXPECT_NE(0, MI_ISP_StartChannel(0, 1)) << "channel not created";
    EXPECT_NE(0, MI_VIF_EnableDev(3)) << "device without attributes";
    MI_VIF_OutputPortAttr_t pa;
    memset(&pa, 0, sizeof pa);
    pa.stDestSize.u16Width = 1921;  // odd width cannot be UYVY
    pa.stDestSize.u16Height = 1080;
    EXPECT_NE(0, MI_VIF_SetOutputPortAttr(0, 0, &pa));
}

}  // namespace
