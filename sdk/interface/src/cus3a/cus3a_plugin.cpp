// The default plug-ins: the framework's per-frame records in, the
// algorithm's input built from them, its output converted back; tuning
// requests to the algorithm's control-id dispatch. Every slot runs under
// the framework's device lock.
#include <stdio.h>
#include <string.h>

#include "cam_os_wrapper.h"
#include "cus3a_entry.h"
#include "cus3a_plugin.h"
#include "drv_algo_if.h"

namespace {

Cus3A_Priv_Data_t g_PrivData[MI_ISP_AGENT_MAX_DEV][MI_ISP_AGENT_MAX_CHN];

Cus3A_Priv_Data_t *priv(void *pdata) { return (Cus3A_Priv_Data_t *)pdata; }

enum { kAeCtrlId = 0x3000, kAwbCtrlId = 0x3001, kAfCtrlId = 0x3003 };

// The plug-in's own control id: one 32-bit word, the kind's debug level.
void own_ctrl(MI_CUS3A_CtrlCmd_t *c, LX_S32 *level) {
    if (!c->pData || c->stApiHeader.u32DataLen < 4) {
        c->stApiHeader.s32Ret = CAMERA_ERROR_API_STRUCTURE_SIZE_NOT_MATCH;
        return;
    }
    if (c->u32Dir == 1) memcpy(c->pData, level, 4);
    else memcpy(level, c->pData, 4);
    c->stApiHeader.s32Ret = 0;
}

// Any other id goes to the algorithm's dispatch with only this kind's handle.
void to_dispatch(MI_CUS3A_CtrlCmd_t *c, void *hAe, void *hAwb, void *hAf) {
    const MI_ISP_IQApiHeader_t &h = c->stApiHeader;
    c->stApiHeader.s32Ret = c->u32Dir == 1 ? DrvAlgo_IF_ApiGet(h.u32CtrlID, hAe, hAwb, hAf, nullptr, h.u32DataLen, c->pData)
                                           : DrvAlgo_IF_ApiSet(h.u32CtrlID, hAe, hAwb, hAf, nullptr, h.u32DataLen, c->pData);
}

// The ctrl slot of each kind: reopen, the kind's own id, then the
// algorithm's dispatch with only this kind's handle.
struct CtrlKind {
    int kind;              // E_ALGO_TYPE_*
    MI_U32 own_id;
    const char *reopen;    // messages
    const char *no_pdata;  // null: none
    const char *no_param;
};

const CtrlKind kAeCtrl = {E_ALGO_TYPE_AE, kAeCtrlId, "[ae_ctrl] camera reopen\n",
                          "ae_ctrl pdata error!!! NULL Pointer!!!\n", "ae_ctrl param error!!! NULL Pointer!!!\n"};
const CtrlKind kAwbCtrl = {E_ALGO_TYPE_AWB, kAwbCtrlId, "[awb_ctrl] camera reopen\n",
                           "awb_ctrl pdata error!!! NULL Pointer!!!\n", "awb_ctrl param error!!! NULL Pointer!!!\n"};
const CtrlKind kAfCtrl = {E_ALGO_TYPE_AF, kAfCtrlId, "[af_ctrl] camera reopen \n", nullptr,
                          "af_ctrl param error!!! NULL Pointer!!!\n"};

int plugin_ctrl(const CtrlKind &k, void *pdata, MI_U32 cmd, void *param) {
    if (cmd == CUS3A_CTRL_CAMERA_REOPEN) {
        CamOsPrintf("%s", k.reopen);
        return 0;
    }
    if (!pdata) {
        if (k.no_pdata) CamOsPrintf("%s", k.no_pdata);
        return -1;
    }
    if (!param) {
        CamOsPrintf("%s", k.no_param);
        return -1;
    }
    Cus3A_Priv_Data_t *s = priv(pdata);
    auto *c = (MI_CUS3A_CtrlCmd_t *)param;
    LX_S32 *level = k.kind == E_ALGO_TYPE_AE    ? &s->tCusAeInfo.tAeDbg.AE_DEBUG_LEVEL
                    : k.kind == E_ALGO_TYPE_AWB ? &s->tCusAwbInfo.tAwbDbg.AWB_DEBUG_LEVEL
                                                : &s->tCusAfInfo.tAfDbg.AF_DEBUG_LEVEL;
    void *h = k.kind == E_ALGO_TYPE_AE    ? s->tCusAeInfo.hAe
              : k.kind == E_ALGO_TYPE_AWB ? s->tCusAwbInfo.hAwb
                                          : s->tCusAfInfo.hAf;
    if (cmd == k.own_id) {
        own_ctrl(c, level);
        return 0;
    }
    if (!h) return -1;
    to_dispatch(c, k.kind == E_ALGO_TYPE_AE ? h : nullptr, k.kind == E_ALGO_TYPE_AWB ? h : nullptr,
                k.kind == E_ALGO_TYPE_AF ? h : nullptr);
    return 0;
}

int VeltoAeCtrl(void *pdata, ISP_AE_CTRL_CMD cmd, void *param) { return plugin_ctrl(kAeCtrl, pdata, cmd, param); }
int VeltoAwbCtrl(void *pdata, ISP_AWB_CTRL_CMD cmd, void *param) { return plugin_ctrl(kAwbCtrl, pdata, cmd, param); }
int VeltoAfCtrl(void *pdata, ISP_AF_CTRL_CMD cmd, void *param) { return plugin_ctrl(kAfCtrl, pdata, cmd, param); }

// ---- AE --------------------------------------------------------------------

int VeltoAeInit(void *pdata, ISP_AE_INIT_PARAM *p) {
    if (!pdata || !p) return -1;
    Cus3A_Priv_Data_t *s = priv(pdata);
    CusAeInfo_t &ae = s->tCusAeInfo;
    CamOsPrintf("[brelt ae_init] dev=%d, ch=%d\n", (int)s->nDev, (int)s->nCh);
    CamOsPrintf("[brelt ae_init] isp_gain_max = 0x%x, sgl_min = 0x%x, sgl_max = 0x%x, sgs_min  0x%x, sgs_max = 0x%x\n",
                p->isp_gain_max, p->sensor_gain_min, p->sensor_gain_max, p->sensor_gainHDRShort_min,
                p->sensor_gainHDRShort_max);
    CamOsPrintf("[brelt ae_init], shl_min = %d us, shl_max = %d us, shl_step = %d us, shs_min = %d us, shs_max = %d "
                "us, shs_step = %d us\n",
                (int)p->shutter_min, (int)p->shutter_max, (int)p->shutter_step, (int)p->shutterHDRShort_min,
                (int)p->shutterHDRShort_max, (int)p->shutterHDRShort_step);
    CamOsPrintf("[brelt ae_init], FNum = %d, fps = %d\n", (int)p->FNx10, (int)p->fps);
    if (ae.hAe) AeRelease(ae.hAe);

    AeInitParam_t &init = s->tAeInit;
    memset(&init, 0, sizeof init);
    memcpy(init.sensor_id, p->sensor_id, sizeof init.sensor_id);
    init.sensor_id[sizeof init.sensor_id - 1] = 0;
    init.Size = sizeof init;
    init.FNx10 = (LX_U16)p->FNx10;
    // The AE holds the minima in 16 bits: a larger one becomes the largest it can hold.
    auto min16 = [](MI_U32 v) { return v > 0xFFFFu ? (LX_U16)0xFFFFu : (LX_U16)v; };
    init.shutter_min = min16(p->shutter_min);
    init.sensor_gain_min = min16(p->sensor_gain_min);
    init.shutterHDRShort_min = min16(p->shutterHDRShort_min);
    init.sensor_gainHDRShort_min = min16(p->sensor_gainHDRShort_min);
    init.fps = p->fps;
    init.shutter = p->shutter;
    init.shutter_step = p->shutter_step;
    init.shutterHDRShort_step = p->shutterHDRShort_step;
    init.sensor_gain = p->sensor_gain;
    init.isp_gain = p->isp_gain;
    init.isp_gain_max = p->isp_gain_max;
    init.shutter_max = p->shutter_max;
    init.sensor_gain_max = p->sensor_gain_max;
    init.shutterHDRShort_max = p->shutterHDRShort_max;
    init.sensor_gainHDRShort_max = p->sensor_gainHDRShort_max;
    AeInput_t &in = s->tAeInput;
    memset(&in, 0, sizeof in);
    in.Size = sizeof in;
    in.AvgBlkX = p->AvgBlkX;
    in.AvgBlkY = p->AvgBlkY;
    in.tAEDebug = &ae.tAeDbg;

    ae.tAeDbg.AE_DEBUG_ENABLE_AE = 1;
    ae.tAeDbg.AE_DEBUG_LEVEL = 0;
    ae.tAeOutput.Shutter = 300;
    ae.tAeOutput.SensorGain = 1024;
    ae.tAeOutput.IspGain = 1024;
    ae.tAeOutput.ShutterHDR = 30;
    ae.tAeOutput.SensorGainHDR = 1024;
    ae.tAeOutput.IspGainHDR = 1024;
    ae.tAeOutput.CurYx10 = 100;
    ae.tAeOutput.FNx10 = 18;

    ISP_DBGBUF_HANDLE iq = nullptr;
    LoadIqFile(&iq, 0);
    ae.hAe = AeInit(iq, &init, &in, &ae.tAeOutput);
    FreeIqFile(&iq);
    s->nAeFrameCnt = 0;
    return 0;
}

void VeltoAeRelease(void *pdata) {
    if (!pdata) return;
    Cus3A_Priv_Data_t *s = priv(pdata);
    CamOsPrintf("[brelt ae_release] dev=%d, ch=%d\n", (int)s->nDev, (int)s->nCh);
    if (s->tCusAeInfo.hAe) AeRelease(s->tCusAeInfo.hAe);
    s->tCusAeInfo.hAe = nullptr;
}

void ae_result_from_output(const AeOutput_t &o, ISP_AE_RESULT *r) {
    r->u4BVx16384 = (MI_U32)o.i4BVx16384;
    r->Shutter = o.Shutter;
    r->SensorGain = o.SensorGain;
    r->IspGain = o.IspGain;
    r->ShutterHdrShort = o.ShutterHDR;
    r->SensorGainHdrShort = o.SensorGainHDR;
    r->IspGainHdrShort = o.IspGainHDR;
}

void VeltoAeRun(void *pdata, const ISP_AE_INFO *info, ISP_AE_RESULT *result) {
    if (!pdata || !info || !result) {
        CamOsPrintf("ae_run error!!! NULL Pointer!!! pdata=0x%X, info=0x%X\n", (unsigned)(uintptr_t)pdata,
                    (unsigned)(uintptr_t)info);
        return;
    }
    Cus3A_Priv_Data_t *s = priv(pdata);
    CusAeInfo_t &ae = s->tCusAeInfo;
    result->Size = sizeof *result;
    result->Change = 0;
    result->HdrRatio = 0;
    ae_result_from_output(ae.tAeOutput, result);
    result->AvgY = ae.tAeOutput.CurYx10 / 10;
    ++s->nAeFrameCnt;
    if (!ae.hAe) return;

    AeInput_t &in = s->tAeInput;
    in.Size = sizeof in;
    in.hist1 = (ISPHistX_t *)info->hist1;
    in.hist2 = (ISPHistX_t *)info->hist2;
    in.histIR = (ISPHistIR_t *)info->histIR;
    in.AvgBlkX = info->AvgBlkX;
    in.AvgBlkY = info->AvgBlkY;
    in.avgs = (ISPAESample_t *)info->avgs;
    in.avgs1 = nullptr;
    in.FNx10 = info->FNx10 ? (LX_U16)info->FNx10 : 18;
    in.Shutter = info->Shutter;
    in.SensorGain = info->SensorGain;
    in.IspGain = info->IspGain;
    in.ShutterHDR = info->ShutterHDRShort;
    in.SensorGainHDR = info->SensorGainHDRShort;
    in.IspGainHDR = info->IspGainHDRShort;
    in.PreCurYx10 = ae.tAeOutput.CurYx10;
    in.PreAvgYx10 = 10 * info->PreAvgY;
    in.HDRMode = info->HDRCtlMode;
    in.tAEDebug = &ae.tAeDbg;
    in.CurFPS = info->CurFPS;
    DoAe(ae.hAe, &in, &ae.tAeOutput);

    result->Change = ae.tAeOutput.Change;
    ae_result_from_output(ae.tAeOutput, result);
    result->AvgY = ae.tAeOutput.AvgYx10 / 10;
    result->WeightY = ae.tAeOutput.CurY1x10 / 10;
    result->FNx10 = ae.tAeOutput.FNx10;
    result->DebandFPS = ae.tAeOutput.DebandFPS;
    result->Size = sizeof *result;
    result->HdrRatio = 0;
}


// ---- AWB -------------------------------------------------------------------

int VeltoAwbInit(void *pdata) {
    if (!pdata) return -1;
    Cus3A_Priv_Data_t *s = priv(pdata);
    CusAwbInfo_t &awb = s->tCusAwbInfo;
    CamOsPrintf("[brelt awb_init] dev=%d, ch=%d\n", (int)s->nDev, (int)s->nCh);
    if (awb.hAwb) AwbRelease(awb.hAwb);
    awb.tAwbDbg.AWB_DEBUG_AWB_ENABLE = 1;
    awb.tAwbDbg.AWB_DEBUG_LEVEL = 0;
    AwbInput_t &in = s->tAwbInput;
    memset(&in, 0, sizeof in);
    in.InitRgain = 1024;
    in.InitGgain = 1024;
    in.InitBgain = 1024;
    ISP_DBGBUF_HANDLE iq = nullptr;
    LoadIqFile(&iq, 0);
    awb.hAwb = AwbInit(iq, &in, &awb.tAwbOutput);
    FreeIqFile(&iq);
    s->nAwbFrameCnt = 0;
    return 0;
}

void VeltoAwbRelease(void *pdata) {
    if (!pdata) {
        CamOsPrintf("awb_release error!!! NULL Pointer!!!\n");
        return;
    }
    Cus3A_Priv_Data_t *s = priv(pdata);
    CamOsPrintf("[brelt awb_release] dev=%d, ch=%d\n", (int)s->nDev, (int)s->nCh);
    if (s->tCusAwbInfo.hAwb) AwbRelease(s->tCusAwbInfo.hAwb);
    s->tCusAwbInfo.hAwb = nullptr;
}

void VeltoAwbRun(void *pdata, const ISP_AWB_INFO *info, ISP_AWB_RESULT *result) {
    if (!pdata || !info || !result) return;
    Cus3A_Priv_Data_t *s = priv(pdata);
    CusAwbInfo_t &awb = s->tCusAwbInfo;
    const IspAwbGain_t &g = awb.tAwbOutput.tGain;
    *result = {sizeof *result, 0, g.nRgain, g.nGrgain, g.nBgain, awb.tAwbOutput.nColorTmp};
    // The algorithm runs on the first frame and every third after it.
    const MI_U32 n = s->nAwbFrameCnt++;
    if (n % 3 != 0 || !awb.hAwb) return;
    AwbInput_t &in = s->tAwbInput;
    in.nSize = sizeof in;
    in.nFrameCount = n + 1;
    in.nBV = (LX_S32)info->u4BVx16384;
    in.CurYx10 = info->WeightY;
    in.nColorToGrayFlag = 0;
    in.nGrayToColorFlag = 0;
    in.HDRMode = info->HDRMode;
    in.tCrop = {1, 1, 1920, 1080};
    in.tBlock = {128, 90, 4, 2, 10, 8, 0};
    in.pAwbStatis = (IspAwbStatis_t *)info->avgs;
    in.pAwbStatisShort = (IspAwbStatis_t *)info->pAwbStatisShort;
    in.tAWBDebug = &awb.tAwbDbg;
    DoAwb(awb.hAwb, &in, &awb.tAwbOutput);
    *result = {sizeof *result, 1, g.nRgain, g.nGrgain, g.nBgain, awb.tAwbOutput.nColorTmp};
}


// ---- AF --------------------------------------------------------------------

int VeltoAfInit(void *pdata, ISP_AF_INIT_PARAM *) {
    if (!pdata) return -1;
    Cus3A_Priv_Data_t *s = priv(pdata);
    CamOsPrintf("[brelt af_init] dev=%d, ch=%d\n", (int)s->nDev, (int)s->nCh);
    if (s->tCusAfInfo.hAf) AfRelease(s->tCusAfInfo.hAf);
    s->tCusAfInfo.hAf = nullptr;
    s->tCusAfInfo.tAfOutput.Change_Motor = 0;
    return 0;
}

void VeltoAfRelease(void *pdata) {
    if (!pdata) {
        CamOsPrintf("af_release error!!! NULL Pointer!!!\n");
        return;
    }
    Cus3A_Priv_Data_t *s = priv(pdata);
    CamOsPrintf("[brelt af_release] dev=%d, ch=%d\n", (int)s->nDev, (int)s->nCh);
    AfRelease(s->tCusAfInfo.hAf);
    s->tCusAfInfo.hAf = nullptr;
}

void VeltoAfRun(void *pdata, const ISP_AF_INFO *info, ISP_AF_RESULT *result) {
    if (!pdata || !info || !result) return;
    Cus3A_Priv_Data_t *s = priv(pdata);
    CusAfInfo_t &af = s->tCusAfInfo;
    AfInput_t &in = s->tAfInput;
    in.nCropSizeW = 0;
    in.nCropSizeH = 0;
    in.fps = 30;
    in.af_stats = (IQ_ISP_AF_INFO_STATS *)info->pStats;
    in.CurPos = info->CurPos;
    in.tAFDebug = &af.tAfDbg;
    // Frames the framework skipped since the last run (no lens status or
    // statistics) still happened: the AF's lens history counts them.
    const MI_U32 frame = Cus3A_FrameNo(s->nDev, s->nCh);
    in.nLostFrames = af.hAf && frame - s->nAfFrameNo > 1 ? frame - s->nAfFrameNo - 1 : 0;
    s->nAfFrameNo = frame;
    if (!af.hAf) {
        CamOsPrintf("************ af_init **********\n");
        af.tAfDbg.AF_DEBUG_ENABLE_AF = 1;
        const MI_U32 span = info->MaxPos > info->MinPos ? info->MaxPos - info->MinPos : 0;
        s->tAfInit = {info->MinPos, info->MaxPos, 1, span, info->CurPos, s->nDev, s->nCh};
        // Until the AF picks a target, the lens stays where it is: the output
        // is kept from frame to frame, also while the AF skips frames.
        af.tAfOutput = {0, info->CurPos};
        af.hAf = AfInit(nullptr, &s->tAfInit, &in, &af.tAfOutput);
    }
    if (af.hAf) DoAf(af.hAf, &in, &af.tAfOutput);
    result->Change = 1;
    result->NextPos = af.tAfOutput.FocusPos;
}


// The state's device and channel are written once, before the channel's
// interface is first registered (and so before any slot can read them).
Cus3A_Priv_Data_t *bind(unsigned nDev, unsigned nCh) {
    Cus3A_Priv_Data_t *s = Cus3A_PrivData(nDev, nCh);
    if (s && (s->nDev != nDev || s->nCh != nCh)) {
        s->nDev = nDev;
        s->nCh = nCh;
    }
    return s;
}

}  // namespace

extern "C" Cus3A_Priv_Data_t *Cus3A_PrivData(unsigned int nDev, unsigned int nCh) {
    if (nDev >= MI_ISP_AGENT_MAX_DEV || nCh >= MI_ISP_AGENT_MAX_CHN) return nullptr;
    return &g_PrivData[nDev][nCh];
}

extern "C" int Velto3AGetAeInterface(unsigned int nDev, unsigned int nCh, ISP_AE_INTERFACE *pAeIf) {
    Cus3A_Priv_Data_t *s = bind(nDev, nCh);
    if (!s || !pAeIf) return -1;
    *pAeIf = {s, VeltoAeInit, VeltoAeRelease, VeltoAeRun, VeltoAeCtrl};
    return 0;
}

extern "C" int Velto3AGetAwbInterface(unsigned int nDev, unsigned int nCh, ISP_AWB_INTERFACE *pAwbIf) {
    Cus3A_Priv_Data_t *s = bind(nDev, nCh);
    if (!s || !pAwbIf) return -1;
    *pAwbIf = {s, VeltoAwbInit, VeltoAwbRelease, VeltoAwbRun, VeltoAwbCtrl};
    return 0;
}

extern "C" int Velto3AGetAfInterface(unsigned int nDev, unsigned int nCh, ISP_AF_INTERFACE *pAfIf) {
    Cus3A_Priv_Data_t *s = bind(nDev, nCh);
    if (!s || !pAfIf) return -1;
    *pAfIf = {s, VeltoAfInit, VeltoAfRelease, VeltoAfRun, VeltoAfCtrl};
    return 0;
}
