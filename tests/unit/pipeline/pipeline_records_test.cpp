// The pipeline's fixed configuration, the display timing table, the encoder
// attributes and the channel checks, without running the board.
#include <string.h>

#include <gtest/gtest.h>

#include "st_disp.h"
#include "st_hdmi.h"
#include "st_pipeline.h"
#include "user_setting.h"

namespace {

// Saves and restores the process-wide records a test changes.
struct RecordGuard {
    ST_VencAttr_t venc[ST_MAX_VENC_NUM];
    ST_GLOBAL_SETTING set;
    ST_USER_SETTING user;
    RecordGuard() {
        memcpy(venc, gstVencattr, sizeof venc);
        set = g_stUserSet;
        user = stUser;
    }
    ~RecordGuard() {
        memcpy(gstVencattr, venc, sizeof venc);
        g_stUserSet = set;
        stUser = user;
    }
};

TEST(PipelineRecords, ParaInitFillsTheFixedConfiguration) {
    RecordGuard g;
    ST_VifModAttr_t vif = gstVifModule;
    ST_IspModeAttr_t isp = gstIspModule;
    ST_SclModAttr_t scl = gstSclModule;
    ST_DispModAttr_t disp = gstDispModule;
    memset(&gstVifModule, 0, sizeof gstVifModule);
    memset(&gstIspModule, 0, sizeof gstIspModule);
    memset(&gstSclModule, 0, sizeof gstSclModule);
    memset(&gstDispModule, 0, sizeof gstDispModule);
    memset(gstVencattr, 0, sizeof gstVencattr);

    ASSERT_EQ(0, ST_BaseModuleParaInit());

    const ST_VifGroupAttr_t &vg = gstVifModule.stVifGroupAttr[0];
    EXPECT_TRUE(vg.bUsed);
    EXPECT_FALSE(gstVifModule.stVifGroupAttr[1].bUsed);
    const ST_VifPortAttr_t &vp = vg.stVifDevAttr[0].stVifOutPortAttr[0];
    EXPECT_TRUE(vp.bUsed);
    EXPECT_EQ(1920, vp.stCapRect.u16Width);
    EXPECT_EQ(1080, vp.stCapRect.u16Height);
    EXPECT_EQ(E_MI_SYS_PIXEL_FRAME_YUV422_UYVY, vp.ePixFormat);
    EXPECT_FALSE(vg.stVifDevAttr[0].stVifOutPortAttr[1].bUsed);

    const ST_IspChannelAttr_t &ic = gstIspModule.stIspChnlAttr[0];
    EXPECT_TRUE(ic.bUsed);
    EXPECT_EQ(E_MI_MODULE_ID_VIF, ic.stIspInPortAttr.stBindParam.stChnPort.eModId);
    EXPECT_EQ(E_MI_SYS_BIND_TYPE_FRAME_BASE, ic.stIspInPortAttr.stBindParam.eBindType);
    EXPECT_EQ(E_MI_ISP_3DNR_LEVEL2, ic.e3DNRLevel);
    EXPECT_EQ(E_MI_SYS_PIXEL_FRAME_YUV_SEMIPLANAR_420, ic.stIspOutPortAttr[0].ePixelFormat);
    EXPECT_EQ(4u, ic.stIspOutPortAttr[0].u32BufQueueDepth);
    EXPECT_FALSE(ic.stIspOutPortAttr[1].bUsed);
    EXPECT_FALSE(gstIspModule.stIspChnlAttr[1].bUsed);

    const ST_SclDevAttr_t &sd = gstSclModule.stSclDevAttr[0];
    EXPECT_EQ(3u, sd.u32UseHwSclMask);
    EXPECT_EQ(E_MI_SYS_BIND_TYPE_REALTIME, sd.stSclChnlAttr[0].stSclInPortAttr.eBindType);
    EXPECT_EQ(1920, sd.stSclChnlAttr[0].stSclOutPortAttr[0].stOutputSize.u16Width);
    EXPECT_EQ(1280, sd.stSclChnlAttr[0].stSclOutPortAttr[1].stOutputSize.u16Width);
    EXPECT_EQ(720, sd.stSclChnlAttr[0].stSclOutPortAttr[1].stOutputSize.u16Height);
    EXPECT_FALSE(sd.stSclChnlAttr[0].stSclOutPortAttr[2].bUsed);

    for (int c = 0; c < 2; c++) {
        EXPECT_TRUE(gstVencattr[c].bUsed);
        EXPECT_EQ(E_MI_VENC_MODTYPE_H264E, gstVencattr[c].eType);
        EXPECT_EQ(E_MI_MODULE_ID_SCL, gstVencattr[c].stVencInBindParam.stChnPort.eModId);
        EXPECT_EQ((MI_U32)c, gstVencattr[c].stVencInBindParam.stChnPort.u32PortId);
        EXPECT_STREQ(c ? "video1" : "video0", gstVencattr[c].szStreamName);
    }
    EXPECT_FALSE(gstVencattr[2].bUsed);

    const ST_DispDevAttr_t &dd = gstDispModule.stDev[0];
    EXPECT_EQ(E_MI_DISP_INTF_HDMI, dd.eIntfType);
    EXPECT_TRUE(dd.stLayerAttr[0].stInPortAttr[0].bUsed);
    EXPECT_EQ(1080, dd.stLayerAttr[0].stInPortAttr[0].stDispWin.u16Height);
    EXPECT_FALSE(dd.stLayerAttr[0].stInPortAttr[1].bUsed) << "only ports with a source are used";
    EXPECT_FALSE(gstDispModule.stDev[1].bUsed);

    gstVifModule = vif;
    gstIspModule = isp;
    gstSclModule = scl;
    gstDispModule = disp;
}

TEST(PipelineRecords, VencChannelTableRefusesBadTypesAndFullTables) {
    RecordGuard g;
    memset(gstVencattr, 0, sizeof gstVencattr);
    ST_BindParam_t bp{};
    bp.stChnPort.eModId = E_MI_MODULE_ID_SCL;
    EXPECT_EQ(-1, ST_IniSetVencParam(E_MI_VENC_MODTYPE_VENC, &bp, 30));
    for (int i = 0; i < ST_MAX_VENC_NUM; i++) EXPECT_EQ(i, ST_IniSetVencParam(E_MI_VENC_MODTYPE_H264E, &bp, 25));
    EXPECT_EQ(-1, ST_IniSetVencParam(E_MI_VENC_MODTYPE_H264E, &bp, 25));
    EXPECT_STREQ("video15", gstVencattr[15].szStreamName);
    EXPECT_EQ(25u, gstVencattr[15].u32Fps);
}

TEST(PipelineRecords, EncoderAttributesFollowSettings) {
    RecordGuard g;
    stUser.ucDstFrameRate = 50;
    g_stUserSet.ucBitRate[0] = 1;
    g_stUserSet.ucBitRate[1] = 2;
    UserSetPut(UsrBits::Profile, 1);

    MI_VENC_ChnAttr_t a;
    ST_VencFillAttr(0, &a);
    EXPECT_EQ(E_MI_VENC_MODTYPE_H264E, a.stVeAttr.eType);
    EXPECT_EQ(1920u, a.stVeAttr.stAttrH264e.u32PicWidth);
    EXPECT_EQ(1080u, a.stVeAttr.stAttrH264e.u32MaxPicHeight);
    EXPECT_EQ(1920u * 1080u * 30u, a.stVeAttr.stAttrH264e.u32BufSize);
    EXPECT_EQ(1u, a.stVeAttr.stAttrH264e.u32Profile);
    EXPECT_EQ(E_MI_VENC_RC_MODE_H264CBR, a.stRcAttr.eRcMode);
    EXPECT_EQ(50u, a.stRcAttr.stAttrH264Cbr.u32Gop);
    EXPECT_EQ(50u, a.stRcAttr.stAttrH264Cbr.u32SrcFrmRateNum);
    EXPECT_EQ(1u, a.stRcAttr.stAttrH264Cbr.u32SrcFrmRateDen);
    EXPECT_EQ(20971520u, a.stRcAttr.stAttrH264Cbr.u32BitRate);

    ST_VencFillAttr(1, &a);
    EXPECT_EQ(1280u, a.stVeAttr.stAttrH264e.u32PicWidth);
    EXPECT_EQ(720u, a.stVeAttr.stAttrH264e.u32PicHeight);
    EXPECT_EQ(2u, a.stVeAttr.stAttrH264e.u32Profile) << "the live channel is always profile 2";
    EXPECT_EQ(3145728u, a.stRcAttr.stAttrH264Cbr.u32BitRate);

    EXPECT_EQ(10485760u, ST_VencBitRate(0, 0));
    EXPECT_EQ(2684354560u, ST_VencBitRate(0, 255));
    EXPECT_EQ(1048576u, ST_VencBitRate(1, 0));
    EXPECT_EQ(268435456u, ST_VencBitRate(1, 255));
}

TEST(PipelineRecords, TimingTable) {
    struct Row {
        MI_U32 key, hdmi, disp, w, h;
    } rows[] = {{1, 4, 8, 1280, 720},      {2, 5, 9, 1280, 720},      {3, 7, 15, 1920, 1080},
                {4, 9, 16, 1920, 1080},    {5, 39, 26, 1600, 1200},   {6, 38, 22, 1440, 900},
                {7, 37, 20, 1280, 1024},   {8, 36, 19, 1024, 768},    {9, 40, 23, 1280, 800},
                {10, 41, 21, 1366, 768},   {11, 42, 24, 1680, 1050},  {12, 17, 28, 2560, 1440},
                {13, 13, 30, 3840, 2160},  {16, 10, 12, 1920, 1080},  {17, 11, 11, 1920, 1080},
                {18, 12, 10, 1920, 1080}};
    for (const Row &r : rows) {
        MI_U32 h = 0, d = 0, w = 0, ht = 0;
        ASSERT_EQ(0, ST_GetTimingInfo(r.key, &h, &d, &w, &ht)) << r.key;
        EXPECT_EQ(r.hdmi, h) << r.key;
        EXPECT_EQ(r.disp, d) << r.key;
        EXPECT_EQ(r.w, w) << r.key;
        EXPECT_EQ(r.h, ht) << r.key;
    }
    for (MI_U32 bad : {0u, 14u, 15u, 19u, 20u, 21u, 255u}) {
        MI_U32 h = 77, d = 77, w = 77, ht = 77;
        EXPECT_EQ(-1, ST_GetTimingInfo(bad, &h, &d, &w, &ht)) << bad;
        EXPECT_EQ(77u, h) << "outputs untouched for " << bad;
        EXPECT_EQ(77u, d);
        EXPECT_EQ(77u, w);
        EXPECT_EQ(77u, ht);
    }
}

TEST(PipelineRecords, HdmiAttributes) {
    MI_HDMI_Attr_t a;
    ST_Hdmi_FillAttr(E_MI_HDMI_TIMING_1080_50P, &a);
    EXPECT_EQ(0, a.bConnect);
    EXPECT_EQ(1, a.stVideoAttr.bEnableVideo);
    EXPECT_EQ(E_MI_HDMI_TIMING_1080_50P, a.stVideoAttr.eTimingType);
    EXPECT_EQ(E_MI_HDMI_COLOR_TYPE_YCBCR422, a.stVideoAttr.eColorType);
    EXPECT_EQ(E_MI_HDMI_AUDIO_SAMPLERATE_48K, a.stAudioAttr.eSampleRate);
    EXPECT_EQ(E_MI_HDMI_BIT_DEPTH_16, a.stAudioAttr.eBitDepth);
    EXPECT_EQ(0, a.stEnInfoFrame.bEnableAviInfoFrame + a.stEnInfoFrame.bEnableAudInfoFrame +
                     a.stEnInfoFrame.bEnableSpdInfoFrame);
}

TEST(PipelineRecords, ChannelNumbersFromOutsideAreChecked) {
    const uint8_t flag = u8UserChangeFlag.load();
    EXPECT_EQ(-1, VencSetRcParam(16));
    EXPECT_EQ(-1, VencSetRcParam(0xFFFFFFFFu));
    EXPECT_EQ(0xFF, ST_DoChangeInputReso(1000));
    EXPECT_EQ(-1, ST_VencModuleInit(16));
    EXPECT_EQ(-1, ST_VencModuleUnInit(99));
    EXPECT_EQ(flag, u8UserChangeFlag.load()) << "a refused change leaves the flag alone";
}

}  // namespace
