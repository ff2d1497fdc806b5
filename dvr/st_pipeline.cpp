#include "st_pipeline.h"

#include <stdio.h>
#include <string.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "user_setting.h"

ST_VifModAttr_t gstVifModule;
ST_IspModeAttr_t gstIspModule;
ST_SclModAttr_t gstSclModule;
ST_SensorAttr_t gstSensorAttr[ST_MAX_SENSOR];
std::atomic<uint8_t> u8UserChangeFlag{1};

namespace {

// Rebuilds may come from the serial thread and the web thread at once, and
// the stream thread must not fetch from a channel being torn down: one lock,
// recursive so that a rebuild may call the others' steps.
std::recursive_mutex g_pipeMutex;
std::mutex g_flagMutex;
std::condition_variable g_flagCv;

// The BT.1120 input: one plane, no Bayer pattern (past the last one).
constexpr MI_VIF_IntfMode_e kVifIntf = E_MI_VIF_MODE_BT1120_STANDARD;
constexpr MI_SYS_WindowRect_t kCapRect = {0, 0, 1920, 1080};
constexpr MI_U32 kBayerNone = 12;
constexpr MI_U32 kPrecision = 4;
constexpr MI_SYS_PixelFormat_e kPlanePixel = E_MI_SYS_PIXEL_FRAME_YUV422_UYVY;

MI_SYS_ChnPort_t Port(MI_ModuleId_e mod, MI_U32 dev, MI_U32 chn, MI_U32 port) {
    MI_SYS_ChnPort_t p;
    p.eModId = mod;
    p.u32DevId = dev;
    p.u32ChnId = chn;
    p.u32PortId = port;
    return p;
}

ST_Sys_BindInfo_T BindInfo(const MI_SYS_ChnPort_t &src, const MI_SYS_ChnPort_t &dst, MI_U32 srcFps, MI_U32 dstFps,
                           MI_SYS_BindType_e type, MI_U32 param) {
    ST_Sys_BindInfo_T b;
    memset(&b, 0, sizeof b);
    b.stSrcChnPort = src;
    b.stDstChnPort = dst;
    b.u32SrcFrmrate = srcFps;
    b.u32DstFrmrate = dstFps;
    b.eBindType = type;
    b.u32BindParam = param;
    return b;
}

ST_BindParam_t BindParam(const MI_SYS_ChnPort_t &src, MI_SYS_BindType_e type, MI_U32 srcFps, MI_U32 dstFps) {
    ST_BindParam_t p;
    memset(&p, 0, sizeof p);
    p.stChnPort = src;
    p.eBindType = type;
    p.u32BindParam = 0;
    p.u32SrcFrmrate = srcFps;
    p.u32DstFrmrate = dstFps;
    return p;
}

int VifParaInit(MI_U32 u32VifDev, MI_U32 u32Port) {
    if (u32VifDev >= ST_MAX_VIF_DEV) {
        printf("VIF u32VifDev %d err > max %d \n", (int)u32VifDev, ST_MAX_VIF_DEV - 1);
        return -1;
    }
    const MI_U32 u8VifGroupId = u32VifDev / ST_MAX_VIF_DEV_PERGROUP;
    if (u8VifGroupId >= ST_MAX_VIF_GROUP) {
        printf("VIF u8VifGroupId %d err > max %d \n", (int)u8VifGroupId, ST_MAX_VIF_GROUP - 1);
        return -1;
    }
    if (u32Port >= ST_MAX_VIF_OUTPORT) {
        printf("VIF port %d err > max %d \n", (int)u32Port, ST_MAX_VIF_OUTPORT - 1);
        return -1;
    }
    printf(">>>>>>>>>>>>>>>dev %d groupid %d \n", (int)u32VifDev, (int)u8VifGroupId);
    ST_VifGroupAttr_t *g = &gstVifModule.stVifGroupAttr[u8VifGroupId];
    g->bUsed = TRUE;
    g->u32SensorPad = 0;
    g->eWorkMode = E_MI_VIF_WORK_MODE_1MULTIPLEX;
    g->eHDRType = E_MI_VIF_HDR_TYPE_OFF;
    ST_VifDevAttr_t *d = &g->stVifDevAttr[u32VifDev % ST_MAX_VIF_DEV_PERGROUP];
    d->bUsed = TRUE;
    d->eField = E_MI_SYS_FIELDTYPE_NONE;
    d->bH2T1PMode = FALSE;
    ST_VifPortAttr_t *p = &d->stVifOutPortAttr[u32Port];
    p->bUsed = TRUE;
    p->stCapRect = kCapRect;
    p->stDestSize.u16Width = 1920;
    p->stDestSize.u16Height = 1080;
    p->ePixFormat = E_MI_SYS_PIXEL_FRAME_YUV422_UYVY;
    return 0;
}

int IspParaInit(void) {
    ST_IspModeAttr_t *m = &gstIspModule;
    m->u8DevId = 0;
    m->bUsed = TRUE;
    int chn = -1;
    for (int i = 0; i < ST_MAX_ISP_CHN; i++) {
        if (!m->stIspChnlAttr[i].bUsed) {
            chn = i;
            break;
        }
    }
    if (chn < 0) {
        printf("[%s]%d find ispchn fail max %d all use \n", __func__, __LINE__, ST_MAX_ISP_CHN);
        return -1;
    }
    const char *szBindType = "Frame";
    MI_SYS_BindType_e eBind;
    if (strcmp(szBindType, "Frame") == 0)
        eBind = E_MI_SYS_BIND_TYPE_FRAME_BASE;
    else if (strcmp(szBindType, "Realtime") == 0)
        eBind = E_MI_SYS_BIND_TYPE_REALTIME;
    else {
        printf("[%s]%d isp input bindtype err %s \n", __func__, __LINE__, szBindType);
        return -1;
    }
    ST_IspChannelAttr_t *c = &m->stIspChnlAttr[chn];
    c->u8ChnId = (MI_U8)chn;
    c->bUsed = TRUE;
    c->stIspInPortAttr.bUsed = TRUE;
    c->stIspInPortAttr.stInputCropWin = kCapRect;
    c->stIspInPortAttr.stBindParam = BindParam(Port(E_MI_MODULE_ID_VIF, 0, 0, 0), eBind, 30, 30);
    c->eHDRType = E_MI_ISP_HDR_TYPE_OFF;
    c->e3DNRLevel = E_MI_ISP_3DNR_LEVEL2;
    c->bMirror = FALSE;
    c->bFlip = FALSE;
    c->eRot = E_MI_SYS_ROTATE_NONE;
    snprintf(c->szIqBinPath, sizeof c->szIqBinPath, "NULL");
    printf("IQ Bin Path %s ", c->szIqBinPath);
    ST_PortAttr_t *o = &c->stIspOutPortAttr[0];
    o->bUsed = TRUE;
    o->stOrigPortCrop = kCapRect;
    o->ePixelFormat = E_MI_SYS_PIXEL_FRAME_YUV_SEMIPLANAR_420;
    o->u32UserFrameDepth = 0;
    o->u32BufQueueDepth = 4;
    c->stIspOutPortAttr[1].bUsed = FALSE;
    c->stIspOutPortAttr[2].bUsed = FALSE;
    return 0;
}

int SclParaInit(void) {
    const char *szSource = "SclIspRealtime";
    ST_SclDevAttr_t *d = &gstSclModule.stSclDevAttr[0];
    if (strcmp(szSource, "SclIspRealtime") != 0) {
        printf("[%s]%d scl source err %d \n", __func__, __LINE__, 0);
        return -1;
    }
    d->bUsed = TRUE;
    d->eSource = E_ST_SCL_SOURCE_ISP_REALTIME;
    d->u32UseHwSclMask = 0x3;
    int chn = -1;
    for (int i = 0; i < ST_MAX_SCL_CHN; i++) {
        if (!d->stSclChnlAttr[i].bUsed) {
            chn = i;
            break;
        }
    }
    if (chn < 0) {
        printf("[%s]%d find ispchn fail max %d all use \n", __func__, __LINE__, ST_MAX_SCL_CHN);
        return -1;
    }
    ST_SclChannelAttr_t *c = &d->stSclChnlAttr[chn];
    c->bUsed = TRUE;
    c->stSclInPortAttr = BindParam(Port(E_MI_MODULE_ID_ISP, 0, 0, 0), E_MI_SYS_BIND_TYPE_REALTIME, 0, 0);
    c->eRotate = E_MI_SYS_ROTATE_NONE;
    memset(&c->stInputCropWin, 0, sizeof c->stInputCropWin);
    const MI_U16 sizes[2][2] = {{1920, 1080}, {1280, 720}};
    for (MI_U32 port = 0; port < 2; port++) {
        if (port >= ST_MAX_SCL_OUTPORT) {
            printf("[%s]%d find scl outputportid fail max %d all use \n", __func__, __LINE__, ST_MAX_SCL_OUTPORT);
            return -1;
        }
        ST_SclPortAttr_t *p = &c->stSclOutPortAttr[port];
        p->bUsed = TRUE;
        p->stOutCropWin = kCapRect;
        p->stOutputSize.u16Width = sizes[port][0];
        p->stOutputSize.u16Height = sizes[port][1];
        p->bMirror = FALSE;
        p->bFlip = FALSE;
        p->ePixelFormat = E_MI_SYS_PIXEL_FRAME_YUV_SEMIPLANAR_420;
        p->u32UserFrameDepth = 4;
        p->u32BufQueueDepth = 6;
        // Port 0 feeds encoder channel 0 and the display, port 1 channel 1.
        ST_BindParam_t src = BindParam(Port(E_MI_MODULE_ID_SCL, 0, (MI_U32)chn, port),
                                       E_MI_SYS_BIND_TYPE_FRAME_BASE, 30, 30);
        if (ST_IniSetVencParam(E_MI_VENC_MODTYPE_H264E, &src, 30) < 0) return -1;
    }
    return 0;
}

void DispParaInit(void) {
    ST_DispDevAttr_t *d = &gstDispModule.stDev[0];
    d->bUsed = TRUE;
    d->eIntfType = E_MI_DISP_INTF_HDMI;
    d->stLayerAttr[0].bUsed = TRUE;
    d->stLayerAttr[0].stInPortAttr[0].stBindParam =
        BindParam(Port(E_MI_MODULE_ID_SCL, 0, 0, 0), E_MI_SYS_BIND_TYPE_FRAME_BASE, 30, 30);
    ST_DispParserIni();
}

}  // namespace

int ST_BaseModuleParaInit(void) {
    if (VifParaInit(0, 0) != 0) return -1;
    if (IspParaInit() != 0) return -1;
    if (SclParaInit() != 0) return -1;
    DispParaInit();
    return 0;
}

void ST_DispParserIni(void) {
    for (int dev = 0; dev < ST_MAX_DISP_DEV; dev++) {
        ST_DispDevAttr_t *d = &gstDispModule.stDev[dev];
        if (!d->bUsed) continue;
        for (int layer = 0; layer < ST_MAX_DISP_LAYER; layer++) {
            ST_DispLayerAttr_t *l = &d->stLayerAttr[layer];
            if (!l->bUsed) continue;
            const int ports = (layer == 0 || layer == 2) ? ST_MAX_DISP_INPORT : 1;
            for (int port = 0; port < ports; port++) {
                ST_DispInPortAttr_t *p = &l->stInPortAttr[port];
                if (!ST_BindSrcSet(&p->stBindParam)) continue;
                p->bUsed = TRUE;
                p->stDispWin = MI_DISP_VidWinRect_t{0, 0, 1920, 1080};
                p->stBindParam.u32SrcFrmrate = 30;
                p->stBindParam.u32DstFrmrate = 30;
                p->stBindParam.eBindType = E_MI_SYS_BIND_TYPE_FRAME_BASE;
            }
        }
    }
}

MI_S32 ST_SysModuleInit(void) {
    (void)ST_Sys_Init();
    return MI_SUCCESS;
}

MI_S32 ST_UserSensorModuleInit(MI_U32 id) {
    (void)id;
    return MI_SUCCESS;
}

MI_S32 ST_VifModuleInit(MI_U32 GroupId) {
    if (GroupId >= ST_MAX_VIF_GROUP) return -1;
    ST_VifGroupAttr_t *g = &gstVifModule.stVifGroupAttr[GroupId];
    if (g->bUsed && !g->bCreate) {
        MI_VIF_GroupAttr_t a;
        memset(&a, 0, sizeof a);
        a.eIntfMode = kVifIntf;
        a.eWorkMode = g->eWorkMode;
        a.eHDRType = g->eHDRType;
        a.eClkEdge = E_MI_VIF_CLK_EDGE_SINGLE_UP;
        a.eMclk = (MI_VIF_MclkSource_e)0;
        a.eScanMode = E_MI_SYS_FRAME_SCAN_MODE_PROGRESSIVE;
        a.u32GroupStitchMask = 0;
        printf("GroupId: %d eIntfMode: %d eWorkMode: %d eHDRType: %d eClkEdge: %d\n", (int)GroupId,
               (int)a.eIntfMode, (int)a.eWorkMode, (int)a.eHDRType, (int)a.eClkEdge);
        STCHECKRESULT(MI_VIF_CreateDevGroup(GroupId, &a));
        g->bCreate = TRUE;
    }
    for (MI_U32 i = 0; i < ST_MAX_VIF_DEV_PERGROUP; i++) {
        ST_VifDevAttr_t *d = &g->stVifDevAttr[i];
        const MI_U32 dev = GroupId * ST_MAX_VIF_DEV_PERGROUP + i;
        if (d->bUsed && !d->bCreate) {
            MI_VIF_DevAttr_t a;
            memset(&a, 0, sizeof a);
            a.eInputPixel = kBayerNone > 11
                                ? kPlanePixel
                                : (MI_SYS_PixelFormat_e)(E_MI_SYS_PIXEL_FRAME_RGB_BAYER_BASE + kBayerNone +
                                                         12 * kPrecision);
            a.stInputRect = kCapRect;
            a.eField = E_MI_SYS_FIELDTYPE_NONE;
            a.bEnH2T1PMode = FALSE;
            STCHECKRESULT(MI_VIF_SetDevAttr(dev, &a));
            STCHECKRESULT(MI_VIF_EnableDev(dev));
            d->bCreate = TRUE;
        }
        for (MI_U32 port = 0; port < ST_MAX_VIF_OUTPORT; port++) {
            ST_VifPortAttr_t *p = &d->stVifOutPortAttr[port];
            if (!p->bUsed || p->bCreate) continue;
            MI_VIF_OutputPortAttr_t a;
            memset(&a, 0, sizeof a);
            a.stCapRect = (p->stCapRect.u16Width && p->stCapRect.u16Height) ? p->stCapRect : kCapRect;
            if (p->stDestSize.u16Width && p->stDestSize.u16Height) {
                a.stDestSize = p->stDestSize;
            } else {
                a.stDestSize.u16Width = kCapRect.u16Width;
                a.stDestSize.u16Height = kCapRect.u16Height;
            }
            a.ePixFormat = kPlanePixel;
            a.eFrameRate = E_MI_VIF_FRAMERATE_FULL;
            STCHECKRESULT(MI_VIF_SetOutputPortAttr(dev, port, &a));
            STCHECKRESULT(MI_VIF_EnableOutputPort(dev, port));
            p->bCreate = TRUE;
        }
    }
    return MI_SUCCESS;
}

MI_S32 ST_IspModuleInit(MI_U32 IspDevId) {
    ST_IspModeAttr_t *m = &gstIspModule;
    if (m->bUsed && !m->bCreate) {
        MI_ISP_DevAttr_t a;
        memset(&a, 0, sizeof a);
        a.u32DevStitchMask = 1;
        (void)MI_ISP_CreateDevice(IspDevId, &a);
        m->bCreate = TRUE;
    }
    for (MI_U32 chn = 0; chn < ST_MAX_ISP_CHN; chn++) {
        ST_IspChannelAttr_t *c = &m->stIspChnlAttr[chn];
        if (!c->bUsed || c->bCreate) continue;
        MI_ISP_ChannelAttr_t a;
        memset(&a, 0, sizeof a);
        STCHECKRESULT(MI_ISP_CreateChannel(IspDevId, chn, &a));
        c->bCreate = TRUE;
        c->stIspInPortAttr.stInputCropWin = kCapRect;
        STCHECKRESULT(MI_ISP_SetInputPortCrop(IspDevId, chn, &c->stIspInPortAttr.stInputCropWin));
        MI_ISP_ChnParam_t p;
        memset(&p, 0, sizeof p);
        p.eHDRType = c->eHDRType;
        p.e3DNRLevel = c->e3DNRLevel;
        p.bMirror = c->bMirror;
        p.bFlip = c->bFlip;
        p.eRot = c->eRot;
        STCHECKRESULT(MI_ISP_SetChnParam(IspDevId, chn, &p));
        STCHECKRESULT(MI_ISP_StartChannel(IspDevId, chn));

        for (MI_U32 port = 0; port < ST_MAX_ISP_OUTPORT; port++) {
            ST_PortAttr_t *o = &c->stIspOutPortAttr[port];
            if (!o->bUsed) continue;
            MI_ISP_OutPortParam_t op;
            memset(&op, 0, sizeof op);
            op.stCropRect = o->stOrigPortCrop;
            op.ePixelFormat = o->ePixelFormat;
            STCHECKRESULT(MI_ISP_SetOutputPortParam(IspDevId, chn, port, &op));
            STCHECKRESULT(MI_ISP_EnableOutputPort(IspDevId, chn, port));
            MI_SYS_ChnPort_t ispPort = Port(E_MI_MODULE_ID_ISP, IspDevId, chn, port);
            STCHECKRESULT(MI_SYS_SetChnOutputPortDepth(0, &ispPort, o->u32UserFrameDepth, o->u32BufQueueDepth));
            printf("isp module Dev%d, chn%d, port%d depth(%d,%d)\n", (int)IspDevId, (int)chn, (int)port,
                   (int)o->u32UserFrameDepth, (int)o->u32BufQueueDepth);
        }
        if (c->stIspInPortAttr.bUsed) {
            const ST_BindParam_t &bp = c->stIspInPortAttr.stBindParam;
            printf("ISP  src = %d, dst = %d \r\n", (int)stUser.ucSrcFrameRate, (int)stUser.ucDstFrameRate);
            ST_Sys_BindInfo_T b = BindInfo(bp.stChnPort, Port(E_MI_MODULE_ID_ISP, IspDevId, chn, 0),
                                           stUser.ucSrcFrameRate, stUser.ucDstFrameRate, bp.eBindType,
                                           bp.u32BindParam);
            STCHECKRESULT(ST_Sys_Bind(&b));
        }
    }
    return MI_SUCCESS;
}

MI_S32 ST_SclModuleInit(MI_U32 SclDevId) {
    if (SclDevId >= ST_MAX_SCL_DEV) return -1;
    ST_SclDevAttr_t *d = &gstSclModule.stSclDevAttr[SclDevId];
    if (d->bUsed && !d->bCreate) {
        MI_SCL_DevAttr_t a;
        memset(&a, 0, sizeof a);
        a.u32NeedUseHWOutPortMask = d->u32UseHwSclMask;
        STCHECKRESULT(MI_SCL_CreateDevice(SclDevId, &a));
        d->bCreate = TRUE;
    }
    if (!d->bUsed) return MI_SUCCESS;
    for (MI_U32 chn = 0; chn < ST_MAX_SCL_CHN; chn++) {
        ST_SclChannelAttr_t *c = &d->stSclChnlAttr[chn];
        if (!c->bUsed || c->bCreate) continue;
        MI_SCL_ChannelAttr_t a;
        memset(&a, 0, sizeof a);
        STCHECKRESULT(MI_SCL_CreateChannel(SclDevId, chn, &a));
        c->bCreate = TRUE;
        if (c->stInputCropWin.u16Width && c->stInputCropWin.u16Height)
            STCHECKRESULT(MI_SCL_SetInputPortCrop(SclDevId, chn, &c->stInputCropWin));
        MI_SCL_ChnParam_t p;
        memset(&p, 0, sizeof p);
        p.eRot = c->eRotate;
        STCHECKRESULT(MI_SCL_SetChnParam(SclDevId, chn, &p));
        STCHECKRESULT(MI_SCL_StartChannel(SclDevId, chn));
        for (MI_U32 port = 0; port < ST_MAX_SCL_OUTPORT; port++) {
            ST_SclPortAttr_t *o = &c->stSclOutPortAttr[port];
            if (!o->bUsed) continue;
            MI_SCL_OutPortParam_t op;
            memset(&op, 0, sizeof op);
            op.stSCLOutCropRect = o->stOutCropWin;
            op.stSCLOutputSize = o->stOutputSize;
            op.bMirror = o->bMirror;
            op.bFlip = o->bFlip;
            op.ePixelFormat = o->ePixelFormat;
            STCHECKRESULT(MI_SCL_SetOutputPortParam(SclDevId, chn, port, &op));
            STCHECKRESULT(MI_SCL_EnableOutputPort(SclDevId, chn, port));
            MI_SYS_ChnPort_t sclPort = Port(E_MI_MODULE_ID_SCL, SclDevId, chn, port);
            STCHECKRESULT(MI_SYS_SetChnOutputPortDepth(0, &sclPort, 4, 6));
        }
        if (ST_BindSrcSet(&c->stSclInPortAttr)) {
            printf("------------------------------------\n");
            printf("SCL   src = 0, dst = 0 \n");
            printf("------------------------------------\n");
            ST_Sys_BindInfo_T b = BindInfo(Port(E_MI_MODULE_ID_ISP, 0, 0, 0),
                                           Port(E_MI_MODULE_ID_SCL, SclDevId, chn, 0), 0, 0,
                                           E_MI_SYS_BIND_TYPE_REALTIME, 0);
            STCHECKRESULT(ST_Sys_Bind(&b));
        }
    }
    return MI_SUCCESS;
}

MI_S32 ST_BaseModuleInit(MI_U8 u8DoReset) {
    std::lock_guard<std::recursive_mutex> lock(g_pipeMutex);
    if (!u8DoReset) STCHECKRESULT(ST_SysModuleInit());

    printf("sensor module init ------------\n");
    for (MI_U32 i = 0; i < ST_MAX_SENSOR; i++) {
        if (gstSensorAttr[i].bUsed && !gstSensorAttr[i].bCreate) {
            gstSensorAttr[i].bCreate = TRUE;
            STCHECKRESULT(ST_UserSensorModuleInit(i));
        }
    }
    printf("vif module init ------------\n");
    for (MI_U32 g = 0; g < ST_MAX_VIF_GROUP; g++) STCHECKRESULT(ST_VifModuleInit(g));
    printf("isp module init ------------\n");
    STCHECKRESULT(ST_IspModuleInit(0));
    printf("scl module init ------------\n");
    for (MI_U32 d = 0; d < ST_MAX_SCL_DEV; d++) STCHECKRESULT(ST_SclModuleInit(d));
    printf("venc module init ------------\n");
    for (MI_U32 c = 0; c < ST_MAX_VENC_NUM; c++) {
        if (gstVencattr[c].bUsed && !gstVencattr[c].bCreate) STCHECKRESULT(ST_VencModuleInit(c));
    }
    printf("disp module init ------------\n");
    for (MI_S32 d = 0; d < ST_MAX_DISP_DEV; d++) {
        if (gstDispModule.stDev[d].bUsed && !gstDispModule.stDev[d].bCreate) STCHECKRESULT(ST_DispModuleInit(d));
    }
    return MI_SUCCESS;
}

MI_S32 ST_IspModuleBindVif(MI_U32 IspDevId, MI_U32 IspChnId) {
    printf("ISP  src = %d, dst = %d \r\n", (int)stUser.ucSrcFrameRate, (int)stUser.ucDstFrameRate);
    ST_Sys_BindInfo_T b = BindInfo(Port(E_MI_MODULE_ID_VIF, 0, 0, 0), Port(E_MI_MODULE_ID_ISP, IspDevId, IspChnId, 0),
                                   stUser.ucSrcFrameRate, stUser.ucDstFrameRate, E_MI_SYS_BIND_TYPE_FRAME_BASE, 0);
    STCHECKRESULT(ST_Sys_Bind(&b));
    return MI_SUCCESS;
}

MI_S32 ST_IspModuleUnBindVif(MI_U32 IspDevId, MI_U32 IspChnId) {
    ST_Sys_BindInfo_T b = BindInfo(Port(E_MI_MODULE_ID_VIF, 0, 0, 0), Port(E_MI_MODULE_ID_ISP, IspDevId, IspChnId, 0),
                                   g_SrcFrameRatePrev, g_DstFrameRatePrev, E_MI_SYS_BIND_TYPE_FRAME_BASE, 0);
    STCHECKRESULT(ST_Sys_UnBind(&b));
    return MI_SUCCESS;
}

MI_S32 ResetIspModule(void) {
    std::lock_guard<std::recursive_mutex> lock(g_pipeMutex);
    printf("---------------RESET-----------------------\n");
    MI_S32 ret = ST_IspModuleUnBindVif(0, 0);
    MI_S32 r2 = ST_IspModuleBindVif(0, 0);
    if (ret == MI_SUCCESS) ret = r2;
    printf("-----------------END---------------------\n");
    return ret;
}

namespace {

// One encoder channel (and for channel 0 the display) down and up again.
// Returns the first failure of the ISP restart in *pStep and of the tear-down
// or set-up in *pTail.
void ChangeChn(MI_U32 u32Chn, MI_S32 *pStep, MI_S32 *pTail) {
    *pStep = MI_SUCCESS;
    *pTail = MI_SUCCESS;
    ST_VencAttr_t *v = &gstVencattr[u32Chn];
    MI_S32 r;
    if (v->bUsed && v->bCreate) {
        r = ST_VencModuleUnInit(u32Chn);
        if (r != MI_SUCCESS && *pTail == MI_SUCCESS) *pTail = r;
    }
    if (u32Chn == 0) {
        r = ST_DispModuleUnInit(0);
        if (r != MI_SUCCESS && *pTail == MI_SUCCESS) *pTail = r;
    }
    r = MI_ISP_StopChannel(0, 0);
    if (r != MI_SUCCESS) {
        printf("[%s %d]exec function failed, error:%x\n", __func__, __LINE__, (unsigned)r);
        *pStep = r;
        return;
    }
    if (gstIspModule.stIspChnlAttr[0].stIspInPortAttr.stBindParam.eBindType == E_MI_SYS_BIND_TYPE_REALTIME) {
        r = MI_VIF_DisableOutputPort(0, 0);
        if (r == MI_SUCCESS) r = MI_VIF_EnableOutputPort(0, 0);
        if (r != MI_SUCCESS) {
            printf("[%s %d]exec function failed, error:%x\n", __func__, __LINE__, (unsigned)r);
            *pStep = r;
            return;
        }
    }
    r = MI_ISP_StartChannel(0, 0);
    if (r != MI_SUCCESS) {
        printf("[%s %d]exec function failed, error:%x\n", __func__, __LINE__, (unsigned)r);
        *pStep = r;
        return;
    }
    if (u32Chn == 0 && gstDispModule.stDev[0].bUsed) {
        r = ST_DispModuleInit(0);
        if (r != MI_SUCCESS && *pTail == MI_SUCCESS) *pTail = r;
    }
    if (v->bUsed && !v->bCreate) {
        r = ST_VencModuleInit(u32Chn);
        if (r != MI_SUCCESS && *pTail == MI_SUCCESS) *pTail = r;
    }
}

MI_U8 Code8(MI_S32 code) {
    if (code == MI_SUCCESS) return 0;
    // A failure must not read as success once cut to 8 bits.
    MI_U8 c = (MI_U8)code;
    return c ? c : 0xFF;
}

}  // namespace

MI_U8 ST_DoChangeInputReso(MI_U32 u32Chn) {
    if (!ST_VencChnValid(u32Chn)) {
        printf("[%s %d]venc chn %u out of range\n", __func__, __LINE__, (unsigned)u32Chn);
        return 0xFF;
    }
    std::lock_guard<std::recursive_mutex> lock(g_pipeMutex);
    MI_S32 step, tail;
    ChangeChn(u32Chn, &step, &tail);
    return Code8(step);
}

MI_S32 DoChangeInputReso(void) {
    std::lock_guard<std::recursive_mutex> lock(g_pipeMutex);
    MI_S32 ret = ResetIspModule();
    for (MI_U32 chn = 0; chn < 2; chn++) {
        MI_S32 step, tail;
        ChangeChn(chn, &step, &tail);
        if (ret == MI_SUCCESS) ret = step != MI_SUCCESS ? step : tail;
    }
    g_SrcFrameRatePrev = stUser.ucSrcFrameRate;
    g_DstFrameRatePrev = stUser.ucDstFrameRate;
    return ret;
}

MI_S32 VencSetRcParam(MI_U32 u32Chn) {
    if (!ST_VencChnValid(u32Chn)) {
        printf("[%s %d]venc chn %u out of range\n", __func__, __LINE__, (unsigned)u32Chn);
        return -1;
    }
    std::lock_guard<std::recursive_mutex> lock(g_pipeMutex);
    SetChangeStart(1);
    MI_S32 step, tail;
    ChangeChn(u32Chn, &step, &tail);
    SetChangeStart(0);
    return step != MI_SUCCESS ? step : tail;
}

MI_S32 SetInputReso(uint32_t code) {
    std::lock_guard<std::recursive_mutex> lock(g_pipeMutex);
    SetChangeStart(1);
    SetFrameRatePara((uint8_t)(code & 0xFF));
    MI_S32 ret = DoChangeInputReso();
    SetChangeStart(0);
    return ret;
}

void SetChangeStart(uint8_t flag) {
    {
        std::lock_guard<std::mutex> g(g_flagMutex);
        u8UserChangeFlag.store(flag);
    }
    if (!flag) g_flagCv.notify_all();
}

void ST_PipelineLock(void) { g_pipeMutex.lock(); }
void ST_PipelineUnlock(void) { g_pipeMutex.unlock(); }

int ST_WaitChangeDone(int timeout_ms) {
    std::unique_lock<std::mutex> lk(g_flagMutex);
    return g_flagCv.wait_for(lk, std::chrono::milliseconds(timeout_ms), [] { return u8UserChangeFlag.load() == 0; })
               ? 1
               : 0;
}
