#include "st_venc.h"

#include <stdio.h>
#include <string.h>

#include "mi_scl.h"
#include "user_setting.h"

ST_VencAttr_t gstVencattr[ST_MAX_VENC_NUM];

MI_S32 ST_IniSetVencParam(MI_VENC_ModType_e eType, const ST_BindParam_t *pstBindParam, MI_U32 u32Fps) {
    if (eType != E_MI_VENC_MODTYPE_H264E && eType != E_MI_VENC_MODTYPE_H265E && eType != E_MI_VENC_MODTYPE_JPEGE) {
        printf("encode type %d not support \n", (int)eType);
        return -1;
    }
    for (MI_S32 i = 0; i < ST_MAX_VENC_NUM; i++) {
        ST_VencAttr_t *a = &gstVencattr[i];
        if (a->bUsed) continue;
        a->bUsed = TRUE;
        a->eType = eType;
        a->vencChn = i;
        a->u32Fps = u32Fps;
        snprintf(a->szStreamName, sizeof a->szStreamName, "video%d", (int)i);
        if (pstBindParam) a->stVencInBindParam = *pstBindParam;
        return i;
    }
    printf("[%s]%d find venc chn fail max %d all use \n", __func__, __LINE__, ST_MAX_VENC_NUM);
    return -1;
}

MI_U32 ST_VencBitRate(MI_U32 u32Chn, MI_U8 u8Index) {
    const MI_U32 step = u32Chn == 1 ? 1048576u : 10485760u;
    return ((MI_U32)u8Index + 1u) * step;  // 256 x 10485760 still fits 32 bits
}

void ST_VencFillAttr(MI_U32 u32Chn, MI_VENC_ChnAttr_t *pstAttr) {
    const MI_U32 w = u32Chn == 1 ? 1280 : 1920;
    const MI_U32 h = u32Chn == 1 ? 720 : 1080;
    const MI_U32 fps = stUser.ucDstFrameRate;
    const MI_U8 idx = g_stUserSet.ucBitRate[u32Chn == 1 ? 1 : 0];

    memset(pstAttr, 0, sizeof *pstAttr);
    pstAttr->stVeAttr.eType = E_MI_VENC_MODTYPE_H264E;
    MI_VENC_AttrH264_t *a = &pstAttr->stVeAttr.stAttrH264e;
    a->u32MaxPicWidth = w;
    a->u32MaxPicHeight = h;
    a->u32PicWidth = w;
    a->u32PicHeight = h;
    a->u32BufSize = w * h * 30;
    a->u32Profile = u32Chn == 1 ? 2 : UserSetGet(UsrBits::Profile);
    a->bByFrame = TRUE;
    a->u32BFrameNum = 2;
    a->u32RefNum = 2;
    pstAttr->stRcAttr.eRcMode = E_MI_VENC_RC_MODE_H264CBR;
    MI_VENC_AttrH264Cbr_t *c = &pstAttr->stRcAttr.stAttrH264Cbr;
    c->u32Gop = fps;
    c->u32StatTime = 0;
    c->u32SrcFrmRateNum = fps;
    c->u32SrcFrmRateDen = 1;
    c->u32BitRate = ST_VencBitRate(u32Chn, idx);
    c->u32FluctuateLevel = 0;
}

MI_S32 ST_Venc_CreateChannel(MI_VENC_DEV VencDev, MI_VENC_CHN VencChn, MI_VENC_ChnAttr_t *pstAttr) {
    if (!pstAttr) {
        printf("invalid param\n");
        return -1;
    }
    STCHECKRESULT(MI_VENC_CreateChn(VencDev, VencChn, pstAttr));
    return MI_SUCCESS;
}

MI_S32 ST_Venc_StartChannel(MI_VENC_DEV VencDev, MI_VENC_CHN VencChn) {
    STCHECKRESULT(MI_VENC_StartRecvPic(VencDev, VencChn));
    return MI_SUCCESS;
}

MI_S32 ST_Venc_StopChannel(MI_VENC_DEV VencDev, MI_VENC_CHN VencChn) {
    STCHECKRESULT(MI_VENC_StopRecvPic(VencDev, VencChn));
    return MI_SUCCESS;
}

MI_S32 ST_Venc_DestoryChannel(MI_VENC_DEV VencDev, MI_VENC_CHN VencChn) {
    STCHECKRESULT(MI_VENC_StopRecvPic(VencDev, VencChn));
    STCHECKRESULT(MI_VENC_DestroyChn(VencDev, VencChn));
    return MI_SUCCESS;
}

MI_S32 SetVui(MI_U32 u32VencChn, MI_U32 u32Fps) {
    MI_VENC_ParamH264Vui_t stVui;
    memset(&stVui, 0, sizeof stVui);
    MI_S32 s32Ret = MI_VENC_GetH264Vui(0, (MI_VENC_CHN)u32VencChn, &stVui);
    if (s32Ret != MI_SUCCESS) {
        printf("MI_VENC_GetH264Vui err0x%x\n", (unsigned)s32Ret);
        return 31;
    }
    stVui.stVuiTimeInfo.u8TimingInfoPresentFlag = 1;
    stVui.stVuiTimeInfo.u32NumUnitsInTick = 1;
    stVui.stVuiTimeInfo.u32TimeScale = u32Fps;
    stVui.stVuiTimeInfo.u8FixedFrameRateFlag = 0;
    if (stVui.stVuiVideoSignal.u8VideoFullRangeFlag) stVui.stVuiVideoSignal.u8VideoFullRangeFlag = 0;
    s32Ret = MI_VENC_SetH264Vui(0, (MI_VENC_CHN)u32VencChn, &stVui);
    if (s32Ret != MI_SUCCESS) {
        printf("MI_VENC_SetH264Vui err0x%x\n", (unsigned)s32Ret);
        return 31;
    }

    MI_VENC_ParamH264Entropy_t stEntropy;
    memset(&stEntropy, 0, sizeof stEntropy);
    s32Ret = MI_VENC_GetH264Entropy(0, (MI_VENC_CHN)u32VencChn, &stEntropy);
    if (s32Ret == MI_SUCCESS) {
        printf("u32EntropyEncModeI = %d ,u32EntropyEncModeP = %d\r\n", (int)stEntropy.u32EntropyEncModeI,
               (int)stEntropy.u32EntropyEncModeP);
        stEntropy.u32EntropyEncModeI = 0;
        stEntropy.u32EntropyEncModeP = 0;
        s32Ret = MI_VENC_SetH264Entropy(0, (MI_VENC_CHN)u32VencChn, &stEntropy);
    }
    if (s32Ret != MI_SUCCESS) {
        printf("MI_VENC_SetH264Entropy err0x%x\n", (unsigned)s32Ret);
        return 31;
    }
    return MI_SUCCESS;
}

MI_S32 ST_VencModuleInit(MI_U32 u32VencChn) {
    if (!ST_VencChnValid(u32VencChn)) {
        printf("[%s %d]venc chn %u out of range\n", __func__, __LINE__, (unsigned)u32VencChn);
        return -1;
    }
    ST_VencAttr_t *pst = &gstVencattr[u32VencChn];
    const MI_VENC_CHN chn = (MI_VENC_CHN)u32VencChn;
    const MI_SYS_ChnPort_t &src = pst->stVencInBindParam.stChnPort;

    printf("eBindModule=%d", (int)src.eModId);
    if (src.eModId == E_MI_MODULE_ID_SCL) {
        MI_SCL_OutPortParam_t stOut;
        MI_SCL_ChnParam_t stChn;
        memset(&stOut, 0, sizeof stOut);
        memset(&stChn, 0, sizeof stChn);
        STCHECKRESULT(MI_SCL_GetOutputPortParam(src.u32DevId, src.u32ChnId, src.u32PortId, &stOut));
        STCHECKRESULT(MI_SCL_GetChnParam(src.u32DevId, src.u32ChnId, &stChn));
        printf("scl rotate %d\n", (int)stChn.eRot);
        // The channel's size is fixed whatever the scaler reports.
    }

    const MI_U8 idx = g_stUserSet.ucBitRate[u32VencChn == 1 ? 1 : 0];
    printf("ucBitRate[%d] = %d\r\n", (int)(u32VencChn == 1 ? 1 : 0), (int)idx);

    MI_VENC_ChnAttr_t stAttr;
    ST_VencFillAttr(u32VencChn, &stAttr);
    pst->u32Width = stAttr.stVeAttr.stAttrH264e.u32PicWidth;
    pst->u32Height = stAttr.stVeAttr.stAttrH264e.u32PicHeight;
    pst->u32Fps = stUser.ucDstFrameRate;
    printf("Venc u32Profile...  %d \n", (int)stAttr.stVeAttr.stAttrH264e.u32Profile);

    STCHECKRESULT(ST_Venc_CreateChannel(0, chn, &stAttr));

    (void)SetVui(u32VencChn, stUser.ucDstFrameRate);

    MI_U32 u32Cnt = 0;
    if (MI_VENC_GetMaxStreamCnt(0, chn, &u32Cnt) == MI_SUCCESS) {
        printf("MI_VENC_GetMaxStreamCnt [%d]  =  %d\r\n", (int)chn, (int)u32Cnt);
        if (u32Cnt <= 9 && u32VencChn < 2) {
            MI_S32 r = MI_VENC_SetMaxStreamCnt(0, chn, 60);
            printf("u32Ret = %x \r\n", (unsigned)r);
        }
    }

    MI_VENC_InputSourceConfig_t stSrc;
    memset(&stSrc, 0, sizeof stSrc);
    stSrc.eInputSrcBufferMode = E_MI_VENC_INPUT_MODE_NORMAL_FRMBASE;
    (void)MI_VENC_SetInputSourceConfig(0, chn, &stSrc);

    STCHECKRESULT(ST_Venc_StartChannel(0, chn));
    pst->bCreate = TRUE;
    pst->DevId = 0;

    ST_Sys_BindInfo_T stBind;
    memset(&stBind, 0, sizeof stBind);
    stBind.stSrcChnPort = src;
    stBind.stDstChnPort.eModId = E_MI_MODULE_ID_VENC;
    stBind.stDstChnPort.u32DevId = 0;
    stBind.stDstChnPort.u32ChnId = u32VencChn;
    stBind.stDstChnPort.u32PortId = 0;
    stBind.u32SrcFrmrate = stUser.ucDstFrameRate;
    stBind.u32DstFrmrate = stUser.ucDstFrameRate;
    stBind.eBindType = pst->stVencInBindParam.eBindType;
    stBind.u32BindParam = pst->stVencInBindParam.u32BindParam;
    printf("ucSrcFrameRate=%d,ucDstFrameRate=%d \n", (int)stBind.u32SrcFrmrate, (int)stBind.u32DstFrmrate);
    STCHECKRESULT(ST_Sys_Bind(&stBind));
    return MI_SUCCESS;
}

MI_S32 ST_VencModuleUnInit(MI_U32 u32VencChn) {
    if (!ST_VencChnValid(u32VencChn)) {
        printf("[%s %d]venc chn %u out of range\n", __func__, __LINE__, (unsigned)u32VencChn);
        return -1;
    }
    ST_VencAttr_t *pst = &gstVencattr[u32VencChn];
    ST_Sys_BindInfo_T stBind;
    memset(&stBind, 0, sizeof stBind);
    stBind.stSrcChnPort = pst->stVencInBindParam.stChnPort;
    stBind.stDstChnPort.eModId = E_MI_MODULE_ID_VENC;
    stBind.stDstChnPort.u32DevId = 0;
    stBind.stDstChnPort.u32ChnId = u32VencChn;
    stBind.stDstChnPort.u32PortId = 0;
    STCHECKRESULT(ST_Sys_UnBind(&stBind));
    STCHECKRESULT(ST_Venc_StopChannel(0, (MI_VENC_CHN)u32VencChn));
    STCHECKRESULT(ST_Venc_DestoryChannel(0, (MI_VENC_CHN)u32VencChn));
    pst->bCreate = FALSE;
    return MI_SUCCESS;
}
