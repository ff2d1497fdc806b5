#include "st_disp.h"

#include <stdio.h>
#include <string.h>

#include "mi_panel.h"
#include "mi_scl.h"
#include "st_hdmi.h"
#include "user_setting.h"

ST_DispModAttr_t gstDispModule;

namespace {

struct TimingEntry {
    MI_U32 key, hdmi, disp, w, h;
};

const TimingEntry kTimings[] = {
    {E_ST_TIMING_720P_50, E_MI_HDMI_TIMING_720_50P, E_MI_DISP_OUTPUT_720P50, 1280, 720},
    {E_ST_TIMING_720P_60, E_MI_HDMI_TIMING_720_60P, E_MI_DISP_OUTPUT_720P60, 1280, 720},
    {E_ST_TIMING_1080P_50, E_MI_HDMI_TIMING_1080_50P, E_MI_DISP_OUTPUT_1080P50, 1920, 1080},
    {E_ST_TIMING_1080P_60, E_MI_HDMI_TIMING_1080_60P, E_MI_DISP_OUTPUT_1080P60, 1920, 1080},
    {E_ST_TIMING_1600x1200_60, E_MI_HDMI_TIMING_1600x1200_60P, E_MI_DISP_OUTPUT_1600x1200_60, 1600, 1200},
    {E_ST_TIMING_1440x900_60, E_MI_HDMI_TIMING_1440x900_60P, E_MI_DISP_OUTPUT_1440x900_60, 1440, 900},
    {E_ST_TIMING_1280x1024_60, E_MI_HDMI_TIMING_1280x1024_60P, E_MI_DISP_OUTPUT_1280x1024_60, 1280, 1024},
    {E_ST_TIMING_1024x768_60, E_MI_HDMI_TIMING_1024x768_60P, E_MI_DISP_OUTPUT_1024x768_60, 1024, 768},
    {E_ST_TIMING_1280x800_60, E_MI_HDMI_TIMING_1280x800_60P, E_MI_DISP_OUTPUT_1280x800_60, 1280, 800},
    {E_ST_TIMING_1366x768_60, E_MI_HDMI_TIMING_1366x768_60P, E_MI_DISP_OUTPUT_1366x768_60, 1366, 768},
    {E_ST_TIMING_1680x1050_60, E_MI_HDMI_TIMING_1680x1050_60P, E_MI_DISP_OUTPUT_1680x1050_60, 1680, 1050},
    {E_ST_TIMING_2560x1440_30, E_MI_HDMI_TIMING_1440_30P, E_MI_DISP_OUTPUT_2560x1440_30, 2560, 1440},
    {E_ST_TIMING_4k2k_30, E_MI_HDMI_TIMING_4K2K_30P, E_MI_DISP_OUTPUT_3840x2160_30, 3840, 2160},
    {E_ST_TIMING_1080P_30, E_MI_HDMI_TIMING_1080_30P, E_MI_DISP_OUTPUT_1080P30, 1920, 1080},
    {E_ST_TIMING_1080P_25, E_MI_HDMI_TIMING_1080_25P, E_MI_DISP_OUTPUT_1080P25, 1920, 1080},
    {E_ST_TIMING_1080P_24, E_MI_HDMI_TIMING_1080_24P, E_MI_DISP_OUTPUT_1080P24, 1920, 1080},
};

int InPortCount(int layer) { return (layer == 0 || layer == 2) ? ST_MAX_DISP_INPORT : 1; }

}  // namespace

MI_S32 ST_GetTimingInfo(MI_U32 u32ApTiming, MI_U32 *pu32HdmiTiming, MI_U32 *pu32DispTiming, MI_U32 *pu32DispW,
                        MI_U32 *pu32DispH) {
    for (const TimingEntry &e : kTimings) {
        if (e.key != u32ApTiming) continue;
        if (pu32HdmiTiming) *pu32HdmiTiming = e.hdmi;
        if (pu32DispTiming) *pu32DispTiming = e.disp;
        if (pu32DispW) *pu32DispW = e.w;
        if (pu32DispH) *pu32DispH = e.h;
        return 0;
    }
    printf("Unspport Ap timing (%d)\n", (int)u32ApTiming);
    return -1;
}

MI_S32 ST_DispModuleInit(MI_DISP_DEV s32Dev) {
    if (s32Dev < 0 || s32Dev >= ST_MAX_DISP_DEV) return -1;
    ST_DispDevAttr_t *pDev = &gstDispModule.stDev[s32Dev];
    MI_U32 u32HdmiTiming = ST_HDMI_TIMING_FALLBACK, u32DispTiming = 0, u32LayerW = 0, u32LayerH = 0;

    (void)ST_GetTimingInfo(stUser.ucOutTiming, &u32HdmiTiming, &u32DispTiming, &u32LayerW, &u32LayerH);
    printf("u32HdmiTiming: %d\n", (int)u32HdmiTiming);
    printf("u32DispTiming: %d\n", (int)u32DispTiming);
    printf("u32LayerW: %d u32LayerH: %d\n", (int)u32LayerW, (int)u32LayerH);

    MI_DISP_PubAttr_t stPub;
    memset(&stPub, 0, sizeof stPub);
    stPub.u32BgColor = 0x800080;
    stPub.eIntfType = pDev->eIntfType;
    stPub.eIntfSync = (MI_DISP_OutputTiming_e)u32DispTiming;
    STCHECKRESULT(MI_DISP_SetPubAttr(s32Dev, &stPub));
    STCHECKRESULT(MI_DISP_Enable(s32Dev));
    pDev->bCreate = TRUE;

    if (pDev->eIntfType == E_MI_DISP_INTF_TTL) {
        STCHECKRESULT(MI_PANEL_Init((MI_PANEL_IntfType_e)0));
    } else if (pDev->eIntfType == E_MI_DISP_INTF_HDMI) {
        STCHECKRESULT(ST_Hdmi_Init());
        STCHECKRESULT(MI_HDMI_SetAvMute(E_MI_HDMI_ID_0, TRUE));
    }

    for (int layer = 0; layer < ST_MAX_DISP_LAYER; layer++) {
        ST_DispLayerAttr_t *pLayer = &pDev->stLayerAttr[layer];
        if (!pLayer->bUsed) continue;
        if (!pLayer->bCreate) {
            STCHECKRESULT(MI_DISP_BindVideoLayer(layer, s32Dev));
            MI_DISP_VideoLayerAttr_t stLayer;
            memset(&stLayer, 0, sizeof stLayer);
            stLayer.stVidLayerDispWin.u16X = 0;
            stLayer.stVidLayerDispWin.u16Y = 0;
            stLayer.stVidLayerDispWin.u16Width = (MI_U16)u32LayerW;
            stLayer.stVidLayerDispWin.u16Height = (MI_U16)u32LayerH;
            stLayer.stVidLayerSize.u16Width = u32LayerW;
            stLayer.stVidLayerSize.u16Height = u32LayerH;
            stLayer.ePixFormat = (MI_SYS_PixelFormat_e)0;
            STCHECKRESULT(MI_DISP_SetVideoLayerAttr(layer, &stLayer));
            STCHECKRESULT(MI_DISP_EnableVideoLayer(layer));
            pLayer->bCreate = TRUE;
        }
        for (int port = 0; port < InPortCount(layer); port++) {
            ST_DispInPortAttr_t *pPort = &pLayer->stInPortAttr[port];
            if (!pPort->bUsed || pPort->bCreate) continue;
            const MI_SYS_ChnPort_t &src = pPort->stBindParam.stChnPort;
            MI_SCL_OutPortParam_t stOut;
            memset(&stOut, 0, sizeof stOut);
            if (src.eModId == E_MI_MODULE_ID_SCL)
                STCHECKRESULT(MI_SCL_GetOutputPortParam(src.u32DevId, src.u32ChnId, src.u32PortId, &stOut));
            MI_DISP_InputPortAttr_t stIn;
            memset(&stIn, 0, sizeof stIn);
            stIn.stDispWin = pPort->stDispWin;
            stIn.u16SrcWidth = stOut.stSCLOutputSize.u16Width;
            stIn.u16SrcHeight = stOut.stSCLOutputSize.u16Height;
            STCHECKRESULT(MI_DISP_SetInputPortAttr(layer, (MI_DISP_INPUTPORT)port, &stIn));
            STCHECKRESULT(MI_DISP_EnableInputPort(layer, (MI_DISP_INPUTPORT)port));
            pPort->bCreate = TRUE;

            ST_Sys_BindInfo_T stBind;
            memset(&stBind, 0, sizeof stBind);
            stBind.stSrcChnPort = src;
            stBind.stDstChnPort.eModId = E_MI_MODULE_ID_DISP;
            stBind.stDstChnPort.u32DevId = (MI_U32)s32Dev;
            stBind.stDstChnPort.u32ChnId = layer == 1 ? 16 : (MI_U32)port;
            stBind.stDstChnPort.u32PortId = 0;
            stBind.u32SrcFrmrate = stUser.ucDstFrameRate;
            stBind.u32DstFrmrate = stUser.ucDstFrameRate;
            stBind.eBindType = E_MI_SYS_BIND_TYPE_FRAME_BASE;
            STCHECKRESULT(ST_Sys_Bind(&stBind));
        }
    }

    if (pDev->eIntfType == E_MI_DISP_INTF_HDMI) {
        STCHECKRESULT(MI_HDMI_SetAvMute(E_MI_HDMI_ID_0, FALSE));
        STCHECKRESULT(ST_Hdmi_Start(E_MI_HDMI_ID_0, (MI_HDMI_TimingType_e)u32HdmiTiming));
    }
    return MI_SUCCESS;
}

MI_S32 ST_DispModuleUnInit(MI_DISP_DEV s32Dev) {
    if (s32Dev < 0 || s32Dev >= ST_MAX_DISP_DEV) return -1;
    ST_DispDevAttr_t *pDev = &gstDispModule.stDev[s32Dev];
    for (int layer = 0; layer < ST_MAX_DISP_LAYER; layer++) {
        ST_DispLayerAttr_t *pLayer = &pDev->stLayerAttr[layer];
        if (!pLayer->bUsed || !pLayer->bCreate) continue;
        for (int port = 0; port < InPortCount(layer); port++) {
            ST_DispInPortAttr_t *pPort = &pLayer->stInPortAttr[port];
            if (!pPort->bUsed || !pPort->bCreate) continue;
            ST_Sys_BindInfo_T stBind;
            memset(&stBind, 0, sizeof stBind);
            stBind.stSrcChnPort = pPort->stBindParam.stChnPort;
            stBind.stDstChnPort.eModId = E_MI_MODULE_ID_DISP;
            stBind.stDstChnPort.u32DevId = (MI_U32)s32Dev;
            stBind.stDstChnPort.u32ChnId = layer == 1 ? 16 : (MI_U32)port;
            stBind.stDstChnPort.u32PortId = 0;
            stBind.u32SrcFrmrate = g_SrcFrameRatePrev;
            stBind.u32DstFrmrate = g_DstFrameRatePrev;
            stBind.eBindType = E_MI_SYS_BIND_TYPE_FRAME_BASE;
            STCHECKRESULT(ST_Sys_UnBind(&stBind));
            STCHECKRESULT(MI_DISP_DisableInputPort(layer, (MI_DISP_INPUTPORT)port));
            pPort->bCreate = FALSE;
        }
        STCHECKRESULT(MI_DISP_UnBindVideoLayer(layer, s32Dev));
        STCHECKRESULT(MI_DISP_DisableVideoLayer(layer));
        pLayer->bCreate = FALSE;
    }
    if (pDev->eIntfType == E_MI_DISP_INTF_TTL) STCHECKRESULT(MI_PANEL_DeInit());
    STCHECKRESULT(MI_DISP_Disable(s32Dev));
    pDev->bCreate = FALSE;
    if (pDev->eIntfType == E_MI_DISP_INTF_HDMI) STCHECKRESULT(ST_Hdmi_DeInit(E_MI_HDMI_ID_0));
    return MI_SUCCESS;
}
