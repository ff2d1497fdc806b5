// The AE handle's life and its frame: creation with the built-in defaults and
// the IQ items, the per-frame flow, the user settings applied at the start of
// a frame, the calculation step, pause/resume and release.
#include <string.h>

#include <initializer_list>

#include "ae_handle.h"
#include "cam_os_wrapper.h"

namespace {

void setLut(INTP_LUT *lut, LX_U16 n, const LX_S32 *y, const LX_S32 *x) {
    memset(lut, 0, sizeof(*lut));
    lut->u2NumOfPoints = n;
    for (LX_U16 i = 0; i < n; ++i) {
        lut->i4Y[i] = y[i];
        lut->i4X[i] = x[i];
    }
}

void setLut1(INTP_LUT *lut, LX_S32 y) {
    const LX_S32 x = 0;
    setLut(lut, 1, &y, &x);
}

void expoValDefaults(AE_EXPOVAL *e) {
    e->u4SensorGain = e->u4PrevSensorGain = e->u4ISPGain = 1024;
    e->u4SensorUSec = e->u4PrevSensorUSec = 33333;
    e->u2Fnx10 = 16;
    e->u4ShutterStepGain = 1024;
    e->bLimited = LX_FALSE;
    e->u2HWMinAperture = e->u2HWMaxAperture = 16;
    e->u2MinISPGain = e->u2MinSensorGain = 1024;
    e->u2MinShutter = 1;
    e->u4MaxISPGain = 16383;
    e->u4MaxSensorGain = 1048576;
    e->u4MaxShutter = 250000;
    e->u2HWSensorMinUS = 1;
    e->u2HWSensorMinGain = 1024;
    e->u4HWSensorMaxUS = 1000000000;
    e->u4HWSensorMaxGain = 5120000;
    e->u4HWISPMaxGain = 262143;
}

void builtInDefaults(cam_ae_handle_t *h) {
    h->state = AE_SM_START;
    h->eExpMode = AE_MODE_A;
    h->eOpMode = AE_OP_NORMAL;
    {
        const LX_S32 y[] = {400, 400, 400, 400, 400};
        const LX_S32 x[] = {-98702, -85810, -58278, -20248, 8333};
        setLut(&h->strTargetLut, 5, y, x);
    }
    h->u4Targetx10 = h->u4SceneTargetx10 = h->u4UpperTargetx10 = h->u4LowerTargetx10 = h->u4EVTargetx10 = 470;
    {
        const LX_S32 y[] = {1, 3, 6, 12, 25, 50, 100, 135, 160, 200, 232, 265, 300};
        LX_S32 x[13];
        for (int i = 0; i < 13; ++i) x[i] = (i - 6) * AE_APEX_BASE;
        setLut(&h->strEvLut, 13, y, x);
    }
    h->u4EVCompGrad = 3;
    h->i4EVComp = 0;
    h->i4EVCompValue = 100;
    h->u2ConvIntoStableThd = 10;
    h->u2ConvOutStableThd = 20;
    h->u2CnvgRatio = 80;
    {
        const LX_S32 y[] = {200, 120, 120, 200};
        const LX_S32 x[] = {100, 470, 470, 2000};
        setLut(&h->strConvRatioLut, 4, y, x);
    }
    h->eFlicker = BANDING_60HZ;
    h->eFlickerMode = AE_FLICKER_MANUAL;
    h->strFlickerEx.strParam = {LX_FALSE, OP_TYP_MANUAL, 30, 50, 3, 2, AE_FLICKER_DETECT_60HZ};
    h->strFlickerEx.uPeriod = 5;
    h->strFlickerEx.u2Score = 50;
    expoValDefaults(&h->strPlainLongExpo);
    expoValDefaults(&h->strPlainShortExpo);
    h->i4CurBV = 81920;
    h->u4CurLVx10 = 100;
    {
        const LX_S32 y[] = {10240, 10240, 10240, 10240, 10240};
        const LX_S32 x[] = {1024, 2048, 4096, 8192, 16384};
        setLut(&h->strAeHdrLut, 5, y, x);
    }
    h->u4DeltaEnergyRatio = 1024;
    h->u4InitShutter = 25000;
    h->u4InitGain = 1024;
    h->u4InitFNum = 16;
    {
        const LX_S32 y[] = {1024, 1024, 1024, 1024};
        const LX_S32 x[] = {0, 1024, 2048, 4096};
        setLut(&h->strTargetWeightingByLinearityLut, 4, y, x);
    }
    h->strAETimeBuffer = {LX_FALSE, 470, 9, 470, 6, 470, 8};
    h->strStrategyBTDT.strBrightTone.eStartPoint = AE_TONE_BRIGHT;
    h->strStrategyBTDT.strDarkTone.eStartPoint = AE_TONE_DARK;
    {
        AE_STRATEGYEX_PARAM &p = h->strStrategyEx.strParam;
        p.bEnable = LX_FALSE;
        p.eMode = AE_STGY_MODE_TARGET;
        p.ePriority = AE_STGY_PRIORITY_BRIGHTTONE;
        setLut1(&p.strBTThdY, 140);
        setLut1(&p.strBTPercentx10, 70);
        setLut1(&p.strBTTargetx10, 1600);
        setLut1(&p.strLowerBound, 0);
        setLut1(&p.strDTThdY, 5);
        setLut1(&p.strDTPercentx10, 50);
        setLut1(&p.strDTTargetx10, 10);
        setLut1(&p.strUpperBound, 0);
    }
    h->strStrategyEx.strInfo.u2GMBlendRatio = 512;
    for (LX_U16 &r : h->u2GMBlendRatioBuffer) r = 512;
    {
        const LX_S32 by[] = {100, 120}, bx[] = {0, 65536};
        setLut(&h->strSceneDR.strBrightPcentByLUT, 2, by, bx);
        const LX_S32 dy[] = {250, 200, 150}, dx[] = {-81920, -16384, 65536};
        setLut(&h->strSceneDR.strDarkPcentByLUT, 3, dy, dx);
        h->strSceneDR.u4BTSortBlockYWeighting = 384;
        h->strSceneDR.u4DTSortBlockYWeighting = 512;
    }
    {
        AE_TONEBALANCE_TARGET &t = h->strToneBalance;
        t.bEnable = LX_FALSE;
        const LX_S32 py[] = {500, 500, 500}, px[] = {-32768, 65536, 114688};
        setLut(&t.strMidDarkToneLimit.strTotalPcentByLUT, 3, py, px);
        const LX_S32 ty[] = {1440, 1500, 1550}, tx[] = {-32768, 65536, 131072};
        setLut(&t.strMidDarkToneLimit.strTargetByLUT, 3, ty, tx);
        t.strDarkTone.eStartPoint = AE_TONE_DARK;
    }
    h->strAEStat.eWinWght = AE_AVERAGE;
    h->strAEStat.strWins[0].NumX = h->strAEStat.strWins[0].NumY = 16;
    h->strAEStat.strWins[1].NumX = h->strAEStat.strWins[1].NumY = 1;
    h->u4CurFPS = h->u4DebandFPS = 30000;
    h->u4BandingGain = 1024;
    h->strCaliData.u4ISO100Gain = 1782;
    h->strCaliData.u4MinISO = 57;
    h->strCaliData.i4BVOffset = 13102;
    h->strCaliData.i4AVOffset = 0;
    {
        AE_RGBIR_SETTING &r = h->strRgbirParam;
        r.u2IRFeedBakckRatio = r.u2IRFeedBakckRatioPre = 10000;
        r.u2IRFeedBakckRatioMinLimit = 2500;
        r.u2IRMaxLimit = 1800;
        r.u2TotalMaxLimit = 2400;
        r.u2HistIRTop = r.u2HistYTop = 2550;
        r.i4K1_Of_IR_Index_x10000 = -208930;
    }
    h->strStabilizer.strParam = {LX_FALSE, 2, 25};
    h->strStabilizer.strInfo.eMDState = eMD_FORCE_MOTION;
    h->strStabilizer.strInfo.u2TriggerCnt = 1024;
    h->strStabilizer.strInfo.u2LocalCntThr = 300;
    h->strDNDetection.strParam = {LX_FALSE, -30000, 600};
}

// What the first result and every frame's result share: the exposure, the
// scene's BV, the luminance of window 0, the target and the HDR curve.
void writeResult(cam_ae_handle_t *h, AeOutput_t *o) {
    const AE_EXPOVAL &lo = h->strPlainLongExpo, &sh = h->strPlainShortExpo;
    o->Shutter = lo.u4SensorUSec;
    o->SensorGain = lo.u4SensorGain;
    o->IspGain = lo.u4ISPGain;
    o->ShutterHDR = sh.u4SensorUSec;
    o->SensorGainHDR = sh.u4SensorGain;
    o->IspGainHDR = sh.u4ISPGain;
    o->i4BVx16384 = h->i4CurBV;
    o->CurYx10 = h->u4CurYx10[0][h->uCurYSyncIdx];
    o->AvgYx10 = h->u4AvgYx10[0];
    o->SceneTargetx10 = h->u4SceneTargetx10;
    o->IsStable = (LX_CAM_BOOL)h->bStable;
    o->HistMaxY = h->uRGBHistMaxY;
    o->AeHdr_Num_BV[0] = h->strAeHdrLut.u2NumOfPoints;
    for (int i = 0; i < INTP_LUT_MAX_POINTS; ++i) o->AeHdr_Num_BV[1 + i] = (LX_U32)h->strAeHdrLut.i4X[i];
}

// ---- IQ items -------------------------------------------------------------------

// A bad item keeps the default it would have replaced; it is reported once
// per initialisation.
void badItem(LX_U32 tag, long value) {
    CamOsPrintf("[AE_GetParamFromCfg] IQ item %u out of range (%ld), default kept\n", (unsigned)tag, value);
}

// An item copied whole over its member (which a failed read leaves alone);
// true when it was read.
template <typename T>
bool readItem(ISP_DBGBUF_HANDLE cfg, LX_U32 tag, T *member) {
    return cfg_getcfgsize(tag) == sizeof(T) && cfg_getcfgbyenum(cfg, tag, member) == 0;
}

template <typename T>
void readRange(ISP_DBGBUF_HANDLE cfg, LX_U32 tag, T *member, long lo, long hi) {
    T v;
    if (cfg_getcfgsize(tag) != sizeof(T) || cfg_getcfgbyenum(cfg, tag, &v) != 0) return;
    if ((long)v < lo || (long)v > hi) return badItem(tag, (long)v);
    *member = v;
}

// A _NUM, _Y, _X triple: the curve is taken only when its count is 1..16.
void readLut(ISP_DBGBUF_HANDLE cfg, LX_U32 numTag, INTP_LUT *lut) {
    INTP_LUT v;
    memset(&v, 0, sizeof(v));
    if (cfg_getcfgbyenum(cfg, numTag, &v.u2NumOfPoints) != 0 || cfg_getcfgbyenum(cfg, numTag + 1, v.i4Y) != 0 ||
        cfg_getcfgbyenum(cfg, numTag + 2, v.i4X) != 0)
        return;
    if (v.u2NumOfPoints < 1 || v.u2NumOfPoints > INTP_LUT_MAX_POINTS) return badItem(numTag, v.u2NumOfPoints);
    *lut = v;
}

// An exposure table item (count of 4 bytes, then 16 points): 1..16 points go
// to the table setter.
void readExpoTbl(cam_ae_handle_t *h, LX_U32 numTag, bool shortTbl) {
    LX_U32 n = 0;
    AE_EXPO_TBL tbl;
    memset(&tbl, 0, sizeof(tbl));
    static_assert(sizeof(tbl.ExpoTbl) == 256, "the table item fills the 16 points");
    if (cfg_getcfgbyenum(h->isp_dbg_buf_handle, numTag, &n) != 0 ||
        cfg_getcfgbyenum(h->isp_dbg_buf_handle, numTag + 1, tbl.ExpoTbl) != 0)
        return;
    if (n < 1 || n > AE_EXPO_TBL_MAX) return badItem(numTag, (long)n);
    tbl.u2NumPoints = (LX_U16)n;
    if (shortTbl)
        h->pAE_SetPlainShortExpTbl(h, &tbl);
    else
        h->pAE_SetPlainExpTbl(h, &tbl);
}

}  // namespace

// ---- creation ---------------------------------------------------------------------

void AE_InitFuncPtr(cam_ae_handle_t *h) {
#define AE_FILL_SLOT(ret, name, params) h->name = ::name;
    AE_METHOD_TABLE(AE_FILL_SLOT)
#undef AE_FILL_SLOT
}

LX_S32 AE_GetParamFromCfg(cam_ae_handle_t *h) {
    ISP_DBGBUF_HANDLE cfg = h->isp_dbg_buf_handle;
    readItem(cfg, DBG_AE_HIST_TYPE, &h->eHistType);
    readItem(cfg, DBG_AE_CALI_AVOFFSET, &h->strCaliData.i4AVOffset);
    readItem(cfg, DBG_AE_CALI_BVOFFSET, &h->strCaliData.i4BVOffset);
    readItem(cfg, DBG_AE_CALI_ISO100GAIN, &h->strCaliData.u4ISO100Gain);
    readItem(cfg, DBG_AE_CALI_MINISO, &h->strCaliData.u4MinISO);
    readItem(cfg, DBG_AE_DEFAULT_TARGET, &h->u4Targetx10);
    readLut(cfg, DBG_AE_TARGET_LUT_NUM, &h->strTargetLut);
    readItem(cfg, DBG_AE_INIT_SHUTTER, &h->u4InitShutter);
    readItem(cfg, DBG_AE_INIT_GAIN, &h->u4InitGain);
    readItem(cfg, DBG_AE_INIT_FNUM, &h->u4InitFNum);
    readItem(cfg, DBG_AE_MIN_FPS, &h->u4CurFPS);
    readItem(cfg, DBG_AE_SHUTTER_COMP_GAIN, &h->eShutterCompGain);
    readRange(cfg, DBG_AE_METERING_TYPE, &h->strAEStat.eWinWght, AE_AVERAGE, AE_SPOT);
    // The start-up frequency detector is never armed from the IQ file; without
    // the item the built-in mode stays.
    if (readItem(cfg, DBG_AE_FLICKER_MODE, &h->eFlickerMode)) h->eFlickerMode = AE_FLICKER_DISABLE;
    readRange(cfg, DBG_AE_FLICKER, &h->eFlicker, BANDING_50HZ, BANDING_60HZ);
    readRange(cfg, DBG_AE_EVCOMP_GRAD, &h->u4EVCompGrad, 1, 20);
    readItem(cfg, DBG_AE_EVCOMP, &h->i4EVComp);
    readLut(cfg, DBG_AE_CONV_RATIO_NUM, &h->strConvRatioLut);
    // A band of one level never holds; one beyond 255 counts every frame as converged.
    readRange(cfg, DBG_AE_CONV_INTO_STABLE_THD, &h->u2ConvIntoStableThd, 1, 255);
    readRange(cfg, DBG_AE_CONV_OUT_STABLE_THD, &h->u2ConvOutStableThd, 1, 255);
    readRange(cfg, DBG_AE_WIN_X_NUM, &h->strAEStat.strWins[0].NumX, 1, AE_WIN_MAX_CELLS);
    readRange(cfg, DBG_AE_WIN_Y_NUM, &h->strAEStat.strWins[0].NumY, 1, AE_WIN_MAX_CELLS);
    readExpoTbl(h, DBG_AE_EXPO_TBL_NUM, false);
    readExpoTbl(h, DBG_AE_HDR_SHORT_EXPO_TBL_NUM, true);
    readItem(cfg, DBG_AE_WEIGHTING_TBL, &h->uWghts);
    readLut(cfg, DBG_AE_DR_BT_NUM, &h->strSceneDR.strBrightPcentByLUT);
    readLut(cfg, DBG_AE_DR_DT_NUM, &h->strSceneDR.strDarkPcentByLUT);
    readItem(cfg, DBG_AE_DR_BT_SORTY_WT, &h->strSceneDR.u4BTSortBlockYWeighting);
    readItem(cfg, DBG_AE_DR_DT_SORTY_WT, &h->strSceneDR.u4DTSortBlockYWeighting);
    readItem(cfg, DBG_AE_STRATEGY, &h->strStrategyParam.eStrategy);
    readItem(cfg, DBG_AE_STRATEGY_WEIGHTING, &h->strStrategyParam.u4Weighting);
    readLut(cfg, DBG_AE_STRATEGY_UPPER_NUM, &h->strStrategyParam.strUpperBound);
    readLut(cfg, DBG_AE_STRATEGY_LOWER_NUM, &h->strStrategyParam.strLowerBound);
    readItem(cfg, DBG_AE_ENABLE_STRETCH, &h->strToneBalance.bEnable);
    AE_STRATEGY_BTDT &bd = h->strStrategyBTDT;
    AE_TONEBALANCE_TARGET &tb = h->strToneBalance;
    readLut(cfg, DBG_AE_STGY_BT_PCENT_NUM, &bd.strBrightTone.strTotalPcentByLUT);
    readLut(cfg, DBG_AE_STGY_BT_TARGET_NUM, &bd.strBrightTone.strTargetByLUT);
    readLut(cfg, DBG_AE_MAIN_BT_PCENT_NUM, &tb.strBrightTone.strTotalPcentByLUT);
    readLut(cfg, DBG_AE_MAIN_BT_TARGET_NUM, &tb.strBrightTone.strTargetByLUT);
    readLut(cfg, DBG_AE_MAIN_BT_TARGETBYBV_NUM, &tb.strBTTargetByBV);
    readLut(cfg, DBG_AE_MAIN_BT_BLKYWGHT_NUM, &tb.strBTBYWghtLUT);
    readItem(cfg, DBG_AE_MAIN_BT_SORTY_WT, &tb.u4BTBlockYWeighting);
    readLut(cfg, DBG_AE_MAIN_MT_PCENT_NUM, &tb.strMidTone.strTotalPcentByLUT);
    readLut(cfg, DBG_AE_MAIN_MT_TARGET_NUM, &tb.strMidTone.strTargetByLUT);
    readLut(cfg, DBG_AE_STGY_DT_PCENT_NUM, &bd.strDarkTone.strTotalPcentByLUT);
    readLut(cfg, DBG_AE_STGY_DT_TARGET_NUM, &bd.strDarkTone.strTargetByLUT);
    readLut(cfg, DBG_AE_MAIN_DT_PCENT_NUM, &tb.strDarkTone.strTotalPcentByLUT);
    readLut(cfg, DBG_AE_MAIN_DT_TARGET_NUM, &tb.strDarkTone.strTargetByLUT);
    readItem(cfg, DBG_AE_MAIN_DT_SORTY_WT, &tb.u4DTBlockYWeighting);
    h->bForceReCal = LX_TRUE;
    return 0;
}

LX_S32 AE_InitBV(cam_ae_handle_t *h) {
    const AE_EXPOVAL &e = h->strPlainLongExpo;
    AE_APEX_EXPO &c = h->strApexCurExpo;
    c.i4AVxBASE = AE_ApexAV(e.u2Fnx10);
    c.i4TVxBASE = AE_ApexTV(e.u4SensorUSec);
    c.i4SSVxBASE = AE_ApexSSV(e.u4SensorGain);
    c.i4DSVxBASE = 0;
    c.i4BVxBASE = c.i4AVxBASE + c.i4TVxBASE - c.i4SSVxBASE;
    h->u4CurLVx10 = 0;
    return 0;
}

LX_S32 AE_InitParameters(cam_ae_handle_t *h) {
    builtInDefaults(h);

    AE_EV_CONVERSION conv1, conv2;
    memset(&conv1, 0, sizeof(conv1));
    memset(&conv2, 0, sizeof(conv2));
    conv1.strPlainExpo = {16, 8333, 100, 100};
    AE_Plain2Apex(h, &conv1);
    h->strApexCurExpo = h->strApexPreExpo = conv1.strApexExpo;
    conv2.strPlainExpo = {16, 833, 100, 100};
    AE_Plain2Apex(h, &conv2);

    h->u4PredYx10 = h->u4Targetx10;
    AE_STAT &st = h->strAEStat;
    memset(st.u2Hist, 0, sizeof(st.u2Hist));
    memset(st.u4HistTotalPixel, 0, sizeof(st.u4HistTotalPixel));
    memset(st.u2IRHist, 0, sizeof(st.u2IRHist));
    memset(h->uWghts, 0, sizeof(h->uWghts));
    memset(st.u4FlickerDetectACC, 0, sizeof(st.u4FlickerDetectACC));
    memset(st.u4FlickerDetectAmp, 0, sizeof(st.u4FlickerDetectAmp));

    AE_GetParamFromCfg(h);

    for (AE_EXPOVAL *e : {&h->strPlainLongExpo, &h->strPlainShortExpo}) {
        e->u4SensorUSec = e->u4MaxShutter;
        e->u4SensorGain = e->u2MinSensorGain;
        e->u4ISPGain = e->u2MinISPGain;
    }

    AE_USER_SETTING &u = h->strUserParam;
    u.bIsChanged = LX_FALSE;
    u.u4EVCompGrad = h->u4EVCompGrad;
    u.i4EVComp = h->i4EVComp;
    u.u2ConvOutStableThd = h->u2ConvOutStableThd;
    u.u2ConvIntoStableThd = h->u2ConvIntoStableThd;
    u.strConvRatio = h->strConvRatioLut;
    u.strStrategyParam = h->strStrategyParam;
    u.eFlicker = h->eFlicker;
    u.eFlickerMode = h->eFlickerMode;
    const AE_FLICKER_DETECT_TYPE_t &fp = h->strFlickerEx.strParam;
    u.strFlickerEx = {LX_FALSE,          OP_TYP_MANUAL,      (LX_U8)(100 - fp.uAmpSensitivity),
                      fp.uScoreThd,      fp.uRefreshCycles,  fp.uValidTimesThd,
                      AE_FLICKER_DETECT_60HZ};
    const AE_EXPOVAL &lo = h->strPlainLongExpo, &sh = h->strPlainShortExpo;
    u.strPlainLongExpo = {lo.u2Fnx10, lo.u2MinSensorGain, lo.u2MinISPGain, lo.u4MaxShutter};
    u.strPlainShortExpo = {sh.u2Fnx10, sh.u2MinSensorGain, sh.u2MinISPGain, sh.u4MaxShutter};
    u.strApexLongExpo = conv1.strApexExpo;
    u.strApexShortExpo = conv2.strApexExpo;

    AE_InitBV(h);

    h->strManualLongExp = u.strApexLongExpo;
    h->strManualShortExp = u.strApexShortExpo;

    u.eWinWght = st.eWinWght;
    memcpy(u.uWghts, h->uWghts, sizeof(u.uWghts));
    u.strRGBIRAE = {LX_FALSE, h->strRgbirParam.u2TotalMaxLimit, h->strRgbirParam.u2IRFeedBakckRatioMinLimit};
    u.eExpMode = h->eExpMode;
    u.strAeHdr = h->strAeHdrLut;
    u.strStbParam = h->strStabilizer.strParam;
    u.strDNDetectionParam = h->strDNDetection.strParam;
    u.strStrategyExParam = h->strStrategyEx.strParam;
    return 0;
}

extern "C" AeHandle AeInit(ISP_DBGBUF_HANDLE CfgHandle, AeInitParam_t *init_param, AeInput_t *input_param,
                           AeOutput_t *output_param) {
    auto *h = (cam_ae_handle_t *)CamOsMemCalloc(1, sizeof(cam_ae_handle_t));
    if (!h) return nullptr;
    h->isp_dbg_buf_handle = CfgHandle;
    h->AeInitParameter = init_param;
    h->AeInputParameter = input_param;
    h->AeOutputParameter = output_param;

    AE_InitFuncPtr(h);
    AE_InitParameters(h);

    if (init_param) {
        // A sensor maximum of 0 means "not reported": the built-in limit stays.
        auto setHw = [](AE_EXPOVAL *e, LX_U16 minUS, LX_U16 minGain, LX_U32 maxUS, LX_U32 maxGain, LX_U32 ispMax,
                        LX_U32 stepNS) {
            e->u2HWSensorMinUS = minUS;
            e->u2HWSensorMinGain = minGain;
            if (maxUS) e->u4HWSensorMaxUS = maxUS;
            if (maxGain) e->u4HWSensorMaxGain = maxGain;
            if (ispMax) e->u4HWISPMaxGain = ispMax;
            e->u4HWSensorShutterStepNS = stepNS;
        };
        const AeInitParam_t &p = *init_param;
        setHw(&h->strPlainLongExpo, p.shutter_min, p.sensor_gain_min, p.shutter_max, p.sensor_gain_max,
              p.isp_gain_max, p.shutter_step);
        setHw(&h->strPlainShortExpo, p.shutterHDRShort_min, p.sensor_gainHDRShort_min, p.shutterHDRShort_max,
              p.sensor_gainHDRShort_max, p.isp_gain_max, p.shutterHDRShort_step);
        if (input_param) input_param->CurFPS = p.fps;
        h->u4CurFPS = p.fps;
    }

    // The cell arrays hold the largest window there can be, so no layout
    // (from the IQ file or a new statistics grid) can outgrow them.
    for (AE_WIN_CFG &w : h->strAEStat.strWins) {
        for (LX_U32 **arr : {&w.pBlockCnt, &w.pLumYSum, &w.pLumYx10, &w.pSortedLumYx10}) {
            if (*arr) CamOsMemRelease(*arr);
            *arr = (LX_U32 *)CamOsMemCalloc(AE_WIN_MAX_CELLS * AE_WIN_MAX_CELLS, sizeof(LX_U32));
        }
    }
    AE_WIN_CFG *wins = h->strAEStat.strWins;
    h->pAE_SetNthWin(h, 0, AE_WIN{1024, 1024, 0, 0, wins[0].NumX, wins[0].NumY});
    h->pAE_SetNthWin(h, 1, AE_WIN{409, 409, 0, 0, wins[1].NumX, wins[1].NumY});

    auto first = [](AE_EXPOVAL *e, LX_U32 floorUS) {
        e->u4ISPGain = e->u2MinISPGain < 1024 ? 1024 : e->u2MinISPGain;
        if (e->u4ISPGain > e->u4HWISPMaxGain) e->u4ISPGain = e->u4HWISPMaxGain;
        e->u4SensorGain = e->u2HWSensorMinGain < 1024 ? 1024 : e->u2HWSensorMinGain;
        if (e->u4SensorGain > e->u4HWSensorMaxGain) e->u4SensorGain = e->u4HWSensorMaxGain;
        e->u4SensorUSec = e->u2HWSensorMinUS < floorUS ? floorUS : e->u2HWSensorMinUS;
        if (e->u4SensorUSec > e->u4HWSensorMaxUS) e->u4SensorUSec = e->u4HWSensorMaxUS;
    };
    first(&h->strPlainLongExpo, 300);
    first(&h->strPlainShortExpo, 30);

    if (output_param) {
        output_param->Change = 1;
        writeResult(h, output_param);
    }
    // The caller frees the IQ buffer once the AE is made.
    h->isp_dbg_buf_handle = nullptr;
    return h;
}

extern "C" LX_S32 AeRelease(AeHandle handle) {
    auto *h = (cam_ae_handle_t *)handle;
    if (!h) return 0;
    for (AE_WIN_CFG &w : h->strAEStat.strWins) {
        for (LX_U32 **arr : {&w.pBlockCnt, &w.pLumYSum, &w.pLumYx10, &w.pSortedLumYx10}) {
            if (*arr) CamOsMemRelease(*arr);
            *arr = nullptr;
        }
    }
    CamOsMemRelease(h);
    return 0;
}

// ---- state --------------------------------------------------------------------------

LX_S32 pAE_Pause(cam_ae_handle_t *h) {
    h->state = AE_SM_PAUSE;
    return 0;
}

LX_S32 pAE_Resume(cam_ae_handle_t *h) {
    if (h->state == AE_SM_PAUSE) h->state = AE_SM_RESUME;
    return 0;
}

LX_S32 pAE_GetSMState(cam_ae_handle_t *h) { return (LX_S32)h->state; }

// ---- per frame ------------------------------------------------------------------------

namespace {

// The exposure the sensor runs with (long or short) and its energy.
void takeApplied(AE_EXPOVAL *e, LX_U32 sensorGain, LX_U32 ispGain, LX_U32 shutter, LX_U16 fnx10) {
    e->u4SensorGain = e->u4PrevSensorGain = sensorGain;
    e->u4ISPGain = e->u4PrevISPGain = ispGain;
    e->u4SensorUSec = e->u4PrevSensorUSec = shutter;
    e->u2Fnx10 = fnx10;
    e->u2PrevFnx10 = fnx10 < 10 ? 10 : fnx10;
    const LX_U64 f2 = (LX_U64)fnx10 * fnx10;
    e->u8PrevTotalEnergy = CamOsMathDivU64((LX_U64)sensorGain * ispGain * shutter, f2 ? f2 : 1, nullptr);
}

void flickerStep(cam_ae_handle_t *h) {
    if (h->strFlickerEx.strParam.bEnable) {
        h->strFlickerEx.bShowMessage = (h->u2DbgLevel >> 8) & 1;
        AE_FlickerFrequencyDetect_RunTimeMode(h);
        h->bOneShot = LX_FALSE;
        h->u4DebandFPS = 0;
        return;
    }
    if (h->eFlickerMode == AE_FLICKER_AUTO) h->bAutoFlickerFrequencyDetection = LX_TRUE;
    if (h->bAutoFlickerFrequencyDetection) {
        if (h->u4DebandFPS == 0) {
            CamOsPrintf("[%s] Frame Counts = %6d, FPS - (Current,Deband) = (%6d,%6d)\n", "DoAe", (int)h->SyncFrameCnt,
                        (int)h->u4CurFPS, (int)h->u4DebandFPS);
            if (h->u4CurFPS > 55000)
                h->u4DebandFPS = 55000;
            else if (h->u4CurFPS > 27500)
                h->u4DebandFPS = 27500;
            else if (h->u4CurFPS > 13750)
                h->u4DebandFPS = 13750;
        }
        h->bOneShot = LX_TRUE;
        AE_FlickerFrequencyDetect(h);
    }
    h->bOneShot = LX_FALSE;
    h->strFlickerEx.bScoreEffective = 0;
    h->u4DebandFPS = 0;
    h->strFlickerEx.u2Score = 50;
}

void writeOutput(cam_ae_handle_t *h, AeOutput_t *o) {
    o->Change = (!h->pAE_isConverged(h) || h->bForceReCal) ? 1 : 0;
    writeResult(h, o);
    o->FNx10 = h->strPlainLongExpo.u2Fnx10;
    o->CurY1x10 = h->u4CurYx10[1][0];
    o->AvgY1x10 = h->u4AvgYx10[1];
    o->IsReachBoundary = (LX_CAM_BOOL)h->bReachBoundary;
    o->DebandFPS = h->u4DebandFPS;
    o->GMBlendRatio = (LX_U16)(h->strStrategyEx.strInfo.u2GMBlendRatio + 1);
}

void traceOutput(cam_ae_handle_t *h, const AeOutput_t *o, LX_U8 hdrMode) {
    const unsigned stepL = h->strPlainLongExpo.u4HWSensorShutterStepNS;
    if (hdrMode == 0) {
        CamOsPrintf("DoAE --> Change  : %6u,    CurYx10 : %6u, CurY1x10 : %6u   , Targetx10 : %6u, u4BVx16384 : %6d\n"
                    "         IspGain : %6u, SensorGain : %6u, Shutter  : %6u us, Step      : %6u ns\n\n",
                    (unsigned)o->Change, (unsigned)o->CurYx10, (unsigned)o->CurY1x10, (unsigned)o->SceneTargetx10,
                    (int)o->i4BVx16384, (unsigned)o->IspGain, (unsigned)o->SensorGain, (unsigned)o->Shutter, stepL);
        return;
    }
    CamOsPrintf("DoAE --> Change      : %6u,    CurYx10     : %6u, CurY1x10    : %6u   , Targetx10 : %6u, "
                "u4BVx16384 : %6d\n"
                "         IspGain     : %6u, SensorGain     : %6u, Shutter     : %6u us, Step      : %6u ns\n"
                "         IspGain_HDR : %6u, SensorGain_HDR : %6u, Shutter_HDR : %6u us, Step_HDR  : %6u ns\n\n",
                (unsigned)o->Change, (unsigned)o->CurYx10, (unsigned)o->CurY1x10, (unsigned)o->SceneTargetx10,
                (int)o->i4BVx16384, (unsigned)o->IspGain, (unsigned)o->SensorGain, (unsigned)o->Shutter, stepL,
                (unsigned)o->IspGainHDR, (unsigned)o->SensorGainHDR, (unsigned)o->ShutterHDR,
                (unsigned)h->strPlainShortExpo.u4HWSensorShutterStepNS);
}

}  // namespace

LX_S32 AE_ProcessAPI(cam_ae_handle_t *h) {
    AE_USER_SETTING &u = h->strUserParam;
    if (u.bIsChanged != LX_TRUE) return 0;
    h->u4EVCompGrad = u.u4EVCompGrad;
    h->eExpMode = u.eExpMode;
    h->i4EVComp = u.i4EVComp;
    h->strConvRatioLut = u.strConvRatio;
    h->u2ConvIntoStableThd = u.u2ConvIntoStableThd;
    h->u2ConvOutStableThd = u.u2ConvOutStableThd;

    AE_FLICKER_DETECT_TYPE_t &fp = h->strFlickerEx.strParam;
    fp.bEnable = u.strFlickerEx.bEnable;
    fp.enOpType = u.strFlickerEx.enOpType;
    fp.eFlickerType = u.strFlickerEx.eFlickerType;
    fp.uScoreThd = u.strFlickerEx.uScoreThd;
    fp.uRefreshCycles = u.strFlickerEx.uRefreshCycles;
    fp.uValidTimesThd = u.strFlickerEx.uValidTimesThd;
    fp.uAmpSensitivity = (LX_U8)(100 - u.strFlickerEx.uAmpSensitivity);
    if (u.strFlickerEx.bEnable == 1) {
        h->strFlickerEx.bWaitingEffective = 0;
        h->strFlickerEx.uPreFps = 0;
        h->eFlickerMode = AE_FLICKER_MANUAL;
        h->eFlicker = u.strFlickerEx.eFlickerType == AE_FLICKER_DETECT_50HZ ? BANDING_50HZ : BANDING_60HZ;
    } else {
        h->eFlicker = u.eFlicker;
        h->eFlickerMode = u.eFlickerMode;
    }

    h->strManualLongExp = u.strApexLongExpo;
    h->strManualShortExp = u.strApexShortExpo;

    h->strStrategyParam = u.strStrategyParam;
    const AE_STRATEGY_PARAM &sp = h->strStrategyParam;
    h->strToneBalance.u4Strength = sp.u4AutoStrength;
    h->strToneBalance.u4Sensitivity = sp.u4AutoSensitivity;
    h->strStrategyBTDT.u4BTStrength = sp.u4BrightToneStrength;
    h->strStrategyBTDT.u4BTSensitivity = sp.u4BrightToneSensitivity;
    h->strStrategyBTDT.u4DTStrength = sp.u4DarkToneStrength;
    h->strStrategyBTDT.u4DTSensitivity = sp.u4DarkToneSensitivity;

    h->strStrategyEx.strParam = u.strStrategyExParam;
    h->strAEStat.eWinWght = u.eWinWght;
    memcpy(h->uWghts, u.uWghts, sizeof(h->uWghts));

    AE_RGBIR_SETTING &ir = h->strRgbirParam;
    ir.bEnable = ir.bIsValid = (LX_U8)(u.strRGBIRAE.bEnable & 0xFF);
    if (ir.bEnable) ir.uInvalidCount = 0;
    ir.u2TotalMaxLimit = u.strRGBIRAE.u16MaxYWithIR;
    ir.u2IRFeedBakckRatioMinLimit = u.strRGBIRAE.u16MinISPGainCompRatio;

    h->strStabilizer.strParam = u.strStbParam;
    if (u.strStbParam.bEnable == 1) {
        h->strStabilizer.strInfo.eMDState = eMD_FORCE_MOTION;
        h->strStabilizer.strInfo.u2TriggerCnt = 0;
    }

    h->strDNDetection.strParam.bEnable = u.strDNDetectionParam.bEnable;
    h->strDNDetection.strParam.s4D2N_BvThd = u.strDNDetectionParam.s4D2N_BvThd;

    u.bIsChanged = LX_FALSE;
    h->bForceReCal = LX_TRUE;
    return 0;
}

LX_S32 pAE_ProcessAE(cam_ae_handle_t *h) {
    const AeInput_t *in = h->AeInputParameter;
    const LX_U32 curY = h->u4CurYx10[0][h->uCurYSyncIdx];
    h->u4LinearityDeltaEV =
        (LX_U32)h->pAE_CheckLinearity(h, h->strApexPreExpo, h->strApexCurExpo, in->PreCurYx10, curY);

    if (h->strStrategyEx.strParam.bEnable == 1) {
        h->pAE_StrategyEX_GetSceneTarget(h);
    } else {
        const LX_U32 w = (LX_U32)Interp_LUT(h->strTargetWeightingByLinearityLut, (LX_S32)h->u4LinearityDeltaEV);
        const LX_U32 t = h->pAE_GetSceneTarget(h);
        if (!h->bOneShot)
            h->u4SceneTargetx10 = (w * t + (1024 - w) * h->u4SceneTargetx10 + 512) >> 10;
        else
            h->u4SceneTargetx10 = t;
    }
    h->pAE_StrategyEX_GetGMBlendRatio(h);

    h->u4EVTargetx10 = h->u4SceneTargetx10;
    if (h->i4EVComp != 0) {
        const LX_S32 grad = h->u4EVCompGrad ? (LX_S32)h->u4EVCompGrad : 1;
        // Any step count: a huge one reads the curve's end on its own side.
        const LX_S32 x = satS32((LX_S64)h->i4EVComp * AE_APEX_BASE / grad);
        h->i4EVCompValue = Interp_LUT(h->strEvLut, x);
        h->u4EVTargetx10 = (h->u4SceneTargetx10 * (LX_U32)h->i4EVCompValue + 50) / 100;
    }

    if (h->pAE_CheckTimeBuffer(h) != 1) {
        h->strAETimeBuffer.u4UnStableCount += 1;
        return 0;
    }

    if (!h->pAE_isConverged(h) || h->bForceReCal) {
        const bool trace = h->SyncFrameCnt != 0 && (h->u2DbgLevel & 0x2);
        AE_EXPOVAL &lo = h->strPlainLongExpo;
        if (trace) {
            const AE_APEX_EXPO &c = h->strApexCurExpo;
            CamOsPrintf("[%20s][%4d]  Cur : TV/SSV/DSV/AV/BV = %6d/%6d/%6d/%6d/%7d, ST/SG/DG/AV = %6d/%6d/%6d/%3d\n",
                        "pAE_ProcessAE", __LINE__, (int)c.i4TVxBASE, (int)c.i4SSVxBASE, (int)c.i4DSVxBASE,
                        (int)c.i4AVxBASE, (int)c.i4BVxBASE, (int)lo.u4SensorUSec, (int)lo.u4SensorGain,
                        (int)lo.u4ISPGain, (int)lo.u2Fnx10);
        }
        h->pAE_CalPvExpo(h);
        h->pAE_SetExposure(h, &h->strNextLongExpo, &lo);
        if (in->HDRMode) {
            AE_EXPOVAL &sh = h->strPlainShortExpo;
            h->pAE_CalPvExpoShort(h);
            if (h->eExpMode != AE_MODE_M && in->HDRMode == 2) {
                sh.u4SensorGain = lo.u4SensorGain;
                sh.u4ISPGain = lo.u4ISPGain;
                LX_S32 ratio = Interp_LUT(h->strAeHdrLut, (LX_S32)lo.u4TotalGain);
                if (ratio < 1) ratio = 1;
                sh.u4SensorUSec = (LX_U32)((LX_U64)lo.u4SensorUSec * 1024 / (LX_U32)ratio);
            }
            h->pAE_SetExposure(h, &h->strNextShortExpo, &sh);
        }
        if (trace) {
            const AE_APEX_EXPO &n = h->strNextLongExpo;
            CamOsPrintf("[%20s][%4d] Next : TV / SSV / DSV / AV / BV = %6d / %6d / %6d / %6d / %8d\n"
                        "%35s ST /  SG /  DG / AV      = %6d / %6d / %6d / %6d\n\n",
                        "pAE_ProcessAE", __LINE__, (int)n.i4TVxBASE, (int)n.i4SSVxBASE, (int)n.i4DSVxBASE,
                        (int)n.i4AVxBASE, (int)n.i4BVxBASE, "", (int)lo.u4SensorUSec, (int)lo.u4SensorGain,
                        (int)lo.u4ISPGain, (int)lo.u2Fnx10);
        }
        h->strApexCurExpo = h->strNextLongExpo;
        h->bConverged = 0;
        return 0;
    }

    h->strApexPreExpo = h->strApexCurExpo;
    h->strAETimeBuffer.u4UnStableCount = 0;
    h->strAETimeBuffer.u4StableY = curY;
    if (!h->bConverged) {
        h->bConverged = 1;
        h->u4StableCnt = 0;
        return 0;
    }
    const LX_U16 thr = h->strStabilizer.strInfo.u2LocalCntThr;
    if (thr && h->u4StableCnt % thr == 2 && in->avgs) {
        // The motion reference: the blocks of this settled frame, as many as
        // the reference holds.
        LX_U32 n = in->AvgBlkX * in->AvgBlkY;
        if (n > AE_REF_BLOCKS) n = AE_REF_BLOCKS;
        memcpy(h->strStabilizer.strInfo.strRefAEStatis, in->avgs, n * sizeof(ISPAESample_t));
    }
    h->u4StableCnt += 1;
    return 0;
}

extern "C" LX_S32 DoAe(AeHandle _handle, AeInput_t *input_param, AeOutput_t *output_param) {
    auto *h = (cam_ae_handle_t *)_handle;
    if (!h || !input_param || !output_param || !input_param->tAEDebug) return -1;
    h->AeInputParameter = input_param;
    h->AeOutputParameter = output_param;
    const AeInput_t &in = *input_param;

    // The windows follow the grid, also back to 32 x 32, with the cell counts
    // asked for (a smaller grid may have laid out fewer).
    AE_WIN_CFG *w = h->strAEStat.strWins;
    if (in.AvgBlkX != 32 || in.AvgBlkY != 32 || in.AvgBlkX != w[0].u2GridX || in.AvgBlkY != w[0].u2GridY) {
        const AE_WIN whole{1024, 1024, 0, 0, w[0].u2ReqNumX, w[0].u2ReqNumY};
        h->pAE_SetNthWin(h, 0, whole);
        h->pAE_SetNthWin(h, 1,
                         h->strRgbirParam.bEnable ? whole : AE_WIN{409, 409, 0, 0, w[1].u2ReqNumX, w[1].u2ReqNumY});
    }

    takeApplied(&h->strPlainLongExpo, in.SensorGain, in.IspGain, in.Shutter, in.FNx10);
    takeApplied(&h->strPlainShortExpo, in.SensorGainHDR, in.IspGainHDR, in.ShutterHDR, in.FNx10);
    h->u4CurFPS = in.CurFPS <= 2999 ? in.CurFPS * 1000 : in.CurFPS;
    h->u2DbgLevel = (LX_U16)(in.tAEDebug->AE_DEBUG_LEVEL & 0xFFFF);
    const LX_S32 enableAe = in.tAEDebug->AE_DEBUG_ENABLE_AE;

    AE_ProcessAPI(h);
    flickerStep(h);

    const LX_S32 status = h->pAE_CalLumY(h);
    h->i4CurBV = h->pAE_GetBV(h);
    h->u4Targetx10 = (LX_U32)Interp_LUT(h->strTargetLut, h->i4CurBV);
    h->u4CurLVx10 = (LX_U32)(((LX_S64)h->i4CurBV * 10 + 8192) / AE_APEX_BASE + 50);
    h->bStable = (LX_U8)h->pAE_isStable(h);
    AE_MotionDetection(h);

    if (status == 0 || h->state != AE_SM_CAL) {
        h->error_cnt = 0;
    } else if (h->error_cnt < 3) {
        h->error_cnt += 1;
        CamOsPrintf("[%s] $$$$$$$$ Unreliable stat $$$$$$$$\n", "DoAe");
        return -1;
    } else {
        h->error_cnt = 0;
    }

    switch (h->state) {
    case AE_SM_CAL:
        h->bAECalDone = LX_FALSE;
        if (enableAe == 1) h->pAE_ProcessAE(h);
        h->bAECalDone = LX_TRUE;
        break;
    case AE_SM_RESUME:
        h->state = AE_SM_CAL;
        break;
    case AE_SM_START:
        AE_InitBV(h);
        h->bStable = 0;
        h->bReachBoundary = 0;
        h->pAE_SetExposure(h, &h->strApexCurExpo, &h->strPlainLongExpo);
        h->state = AE_SM_CAL;
        break;
    default:
        break;
    }

    h->SyncFrameCnt += 1;
    if (in.HDRMode == 0) {
        AE_EXPOVAL &sh = h->strPlainShortExpo;
        sh.u4ISPGain = h->strPlainLongExpo.u4ISPGain;
        sh.u4SensorGain = h->strPlainLongExpo.u4SensorGain;
        sh.u4SensorUSec = h->strPlainLongExpo.u4SensorUSec;
    }

    writeOutput(h, output_param);
    if (h->u2DbgLevel & 0x40) traceOutput(h, output_param, in.HDRMode);
    h->bForceReCal = LX_FALSE;
    return 0;
}
