// The AE handle: one heap object per ISP channel. It starts with 96 method
// slots in a fixed order; every AE operation is called through its slot, also
// from inside the AE, so a test can replace any operation of a handle by
// writing its slot. After the slots come the state members and the user copy
// of the settings, which setters fill and the next frame applies.
//
// Units everywhere: gains x1024, shutters in microseconds, F-number x10,
// luminance in tenths of an 8-bit level (Yx10), APEX values x16384 per EV,
// LV x10, frame rates x1000, RGB-IR ratios x10000.
#pragma once
#include <stddef.h>

#include "ae_algo.h"
#include "iq_cfg.h"
#include "iq_interp.h"
#include "lx_types.h"

#define AE_APEX_BASE 16384
#define AE_EXPO_TBL_MAX 16
#define AE_WIN_MAX_CELLS 32     // cells across or down a metering window
#define AE_WGT_TBL_SIZE 1024    // 32 x 32 weights, row stride 32
#define AE_REF_BLOCKS 1024      // block samples the stabiliser compares
#define AE_HIST_BINS 128
#define AE_IR_HIST_BINS 256
#define AE_FLICKER_ROWS 32
#define AE_FLICKER_GROUPS 8

// ---- enumerations (32-bit; any value a record brings is representable) -------------

typedef enum : LX_S32 {
    AE_SM_START = 0,
    AE_SM_CAL = 1,
    AE_SM_RESUME = 2,
    AE_SM_PAUSE = 3,
    AE_SM_STOP = 4,
    AE_SM_EXIT = 5,
} AE_SM;

typedef enum : LX_S32 {
    AE_MODE_A = 0,   // automatic
    AE_MODE_AV = 1,  // aperture priority
    AE_MODE_SV = 2,  // gain priority
    AE_MODE_TV = 3,  // shutter priority
    AE_MODE_M = 4,   // manual
} AE_EXP_MODE;

typedef enum : LX_S32 { AE_OP_NORMAL = 0, AE_OP_CALI = 1, AE_OP_TUNING = 2, AE_OP_ENG = 3 } AE_OP_MODE;

typedef enum : LX_S32 { BANDING_50HZ = 0, BANDING_60HZ = 1 } AE_BANDING;
typedef enum : LX_S32 { AE_FLICKER_AUTO = 0, AE_FLICKER_DISABLE = 1, AE_FLICKER_MANUAL = 2 } AE_FLICKER_MODE;
typedef enum : LX_S32 { OP_TYP_AUTO = 0, OP_TYP_MANUAL = 1 } OP_TYPE;
typedef enum : LX_S32 { AE_FLICKER_DETECT_60HZ = 0, AE_FLICKER_DETECT_50HZ = 1 } AE_FLICKER_DETECT_MODE;

typedef enum : LX_S32 { AE_AVERAGE = 0, AE_CENTER_WGHT = 1, AE_SPOT = 2, AE_WGT_END = 3 } AE_WIN_WGT;
typedef enum : LX_S32 { AE_HIST_RGB = 0, AE_HIST_Y = 1 } AE_HIST_TYPE;
typedef enum : LX_S32 { AE_HIST_OP_ACC_PCENT = 0, AE_HIST_OP_ACC_THD = 1 } AE_HIST_OP;
typedef enum : LX_S32 { AE_TONE_BRIGHT = 0, AE_TONE_DARK = 1 } AE_TONE;

typedef enum : LX_S32 { AE_STGY_BRIGHTTONE = 0, AE_STGY_DARKTONE = 1, AE_STGY_AUTO = 2 } AE_STRATEGY;
typedef enum : LX_S32 { AE_STGY_MODE_COUNT = 0, AE_STGY_MODE_TARGET = 1 } AE_STRATEGYEX_MODE;
typedef enum : LX_S32 { AE_STGY_PRIORITY_BRIGHTTONE = 0, AE_STGY_PRIORITY_DARKTONE = 1 } AE_STRATEGYEX_PRIORITY;

typedef enum : LX_S32 { eMD_LOCAL_MOTION = 0, eMD_GLOBAL_MOTION = 1, eMD_FORCE_MOTION = 2 } AE_MD_STATE;
typedef enum : LX_S32 { eFPS_FIX = 0, eFPS_FLOAT_W_STEP = 1, eFPS_FLOAT_WO_STEP = 2 } AE_FPS_CTRL;
typedef enum : LX_S32 { COMP_BY_ISP_GAIN = 0, COMP_BY_SENSOR_GAIN = 1 } AE_SHUTTER_COMP_GAIN;
typedef enum : LX_S32 { SCENE_MODE_OFF = 0, SCENE_MODE_AUTO = 1, SCENE_MODE_MANUAL = 2 } AE_SCENE_MODE;

typedef enum : LX_S32 {
    AE_SCENE_NONE = 0,
    AE_SCENE_AUTO,
    AE_SCENE_BACKLIGHT,
    AE_SCENE_BEACH,
    AE_SCENE_FIREWORKS,
    AE_SCENE_LANDSCAPE,
    AE_SCENE_MACRO,
    AE_SCENE_NIGHT,
    AE_SCENE_PARTY,
    AE_SCENE_PORTRAIT,
    AE_SCENE_SPORTS,
    AE_SCENE_SUNSET,
    AE_SCENE_AQUARIUM,
    AE_SCENE_FOLIAGE,
    AE_SCENE_LARGE_APERTURE,
    AE_SCENE_SMALL_APERTURE,
    AE_SCENE_SPOTLIGHT,
} AE_SCENE;

// ---- exposure records --------------------------------------------------------

// One exposure in APEX form; BV = AV + TV - SSV - DSV.
typedef struct {
    LX_S32 i4TVxBASE;   // time value
    LX_S32 i4SSVxBASE;  // sensor-gain speed value
    LX_S32 i4DSVxBASE;  // ISP-gain speed value
    LX_S32 i4AVxBASE;   // aperture value
    LX_S32 i4BVxBASE;   // brightness value
} AE_APEX_EXPO;

// One plain exposure with its limits.
typedef struct {
    LX_U32 u4SensorGain, u4PrevSensorGain;
    LX_U32 u4ISPGain, u4PrevISPGain;
    LX_U32 u4TotalGain, u4PrevTotalGain;
    LX_U32 u4SensorUSec, u4PrevSensorUSec;
    LX_U16 u2Fnx10, u2PrevFnx10;
    LX_U64 u8PrevTotalEnergy, u8TargetTotalEnergy;
    LX_U32 u4ShutterStepGain;  // makes up for rounding the shutter to lines
    LX_CAM_BOOL bLimited;
    LX_U16 u2HWMinAperture;    // largest F-number
    LX_U16 u2HWMaxAperture;    // smallest F-number
    LX_U16 u2MinISPGain, u2MinSensorGain, u2MinShutter;
    LX_U32 u4MaxISPGain, u4MaxSensorGain, u4MaxShutter;
    LX_U16 u2HWSensorMinUS, u2HWSensorMinGain;
    LX_U32 u4HWSensorMaxUS, u4HWSensorMaxGain;
    LX_U32 u4HWSensorShutterStepNS;  // one sensor line
    LX_U32 u4HWISPMaxGain;
} AE_EXPOVAL;

typedef struct {
    LX_U16 u2FNumx10;
    LX_U32 u4USec;
    LX_U32 u4TotalGain;
    LX_U32 u4SensorGain;
} AE_EXPO_POINT;

// Points from the brightest scene (0) to the darkest.
typedef struct {
    LX_U16 u2NumPoints;
    LX_U16 u2MinISPGain, u2MinSensorGain, u2MinUSec;
    LX_U32 u4MaxISPGain, u4MaxSensorGain, u4MaxUSec;
    AE_EXPO_POINT ExpoTbl[AE_EXPO_TBL_MAX];
    LX_U64 TotalE[AE_EXPO_TBL_MAX];  // gain x shutter x 1024 / F^2 of each point
} AE_EXPO_TBL;

typedef struct {
    LX_U16 u2NumPoints;
    AE_APEX_EXPO Points[AE_EXPO_TBL_MAX];
    AE_APEX_EXPO MaxBV;  // point 0
    AE_APEX_EXPO MinBV;  // the last point
} AE_APEX_EXPOTBL;

typedef struct {
    LX_U8 Upper;  // the brighter bracketing point
    LX_U8 Lower;
    LX_S32 i4TargetBV;
    LX_S32 i4DeltaxBASE;
    AE_APEX_EXPO strCurExpo;
    AE_APEX_EXPO strOutputExpo;
} AE_CAL_EXPO;

typedef struct {
    LX_U16 u2FNumx10;
    LX_U32 u4ExpoUSec;
    LX_U32 u4StdISO;
    LX_U32 u4LVx10;
} AE_PLAIN_EXPO;

typedef struct {
    AE_PLAIN_EXPO strPlainExpo;
    AE_APEX_EXPO strApexExpo;
} AE_EV_CONVERSION;

typedef struct {
    LX_U16 u2FNx10;
    LX_U32 u4SensorGain;
    LX_U32 u4ISPGain;
    LX_U32 u4USec;
} AE_MANUAL_PLAIN_EXP;

// ---- metering ------------------------------------------------------------------

typedef struct {
    LX_U8 NumX, NumY;  // cells, 1..32
    LX_U8 StartX, StartY, EndX, EndY;  // in statistics blocks, end exclusive
    LX_U8 StepX[AE_WIN_MAX_CELLS + 1];
    LX_U8 StepY[AE_WIN_MAX_CELLS + 1];
    LX_U32 u4WghtYx10;
    LX_U32 u4AvgYx10;
    LX_U32 *pBlockCnt;       // per cell; 32 x 32 entries each
    LX_U32 *pLumYSum;
    LX_U32 *pLumYx10;
    LX_U32 *pSortedLumYx10;
    LX_U16 u2ReqNumX, u2ReqNumY;  // cells asked for (1..32): NumX, NumY may be fewer on a small grid
    LX_U16 u2GridX, u2GridY;      // the block grid the window was laid out on
} AE_WIN_CFG;

typedef struct {
    LX_U32 u4RatioX, u4RatioY;  // x1024 of the block grid
    LX_S32 i4CenterOffsetX, i4CenterOffsetY;
    LX_U16 u2NumX, u2NumY;
} AE_WIN;

typedef struct {
    AE_WIN_WGT eWinWght;
    AE_WIN_CFG strWins[2];
    LX_U16 u2Hist[3][AE_HIST_BINS];
    LX_U16 u2IRHist[AE_IR_HIST_BINS];
    LX_U32 u4HistTotalPixel[3];
    LX_U32 u4IRHistTotalPixel;
    LX_U32 u4FlickerDetectACC[2][AE_FLICKER_ROWS];
    LX_S32 u4FlickerDetectAmp[16];
    LX_U32 u4FlickerExACCCur[AE_FLICKER_GROUPS][AE_FLICKER_ROWS];
    LX_U32 u4FlickerExACCRef[AE_FLICKER_GROUPS][AE_FLICKER_ROWS];
} AE_STAT;

// One histogram query: inputs and outputs in one record.
typedef struct {
    LX_U32 u4AvgYx10;
    LX_U32 u4AvgYx40;
    LX_U32 u4MaxPcentY;
    LX_U32 u4MaxPcentx10;
    LX_U32 u4AccPcentx10;
    AE_HIST_OP eHistOp;
    AE_TONE eStartPoint;
    LX_CAM_BOOL bSkip;
    LX_U32 u4TotalPcentx10;
    LX_U32 u4SkipPcentx10;
    LX_U32 u4TotalThd;
    LX_U32 u4SkipThd;
    LX_U32 u4FinalBin;
    LX_U32 u4OutputBins;
    LX_U32 u4InputBins;
    LX_U32 u4TotalPixelCnt;
    LX_U16 *pHist;
} AE_HIST_SPEC;

// ---- scene target and strategies -------------------------------------------------

typedef struct {
    AE_STRATEGY eStrategy;
    LX_U32 u4Weighting;
    INTP_LUT strUpperBound;
    INTP_LUT strLowerBound;
    LX_U32 u4BrightToneStrength;
    LX_U32 u4BrightToneSensitivity;
    LX_U32 u4DarkToneStrength;
    LX_U32 u4DarkToneSensitivity;
    LX_U32 u4AutoStrength;
    LX_U32 u4AutoSensitivity;
} AE_STRATEGY_PARAM;

typedef struct {
    AE_HIST_OP eHistOp;
    AE_TONE eStartPoint;
    LX_CAM_BOOL bSkip;
    INTP_LUT strTotalPcentByLUT;
    INTP_LUT strTargetByLUT;
    LX_U32 u4SkipPcentx10;
    LX_U32 u4StsPcent;
    LX_U32 u4StsTargetx10;
    LX_U32 u4CurYx10;
} AE_HIST_METERING;

typedef struct {
    AE_HIST_METERING strBrightTone;
    LX_U32 u4BTFinalTarget, u4BTStrength, u4BTSensitivity;
    AE_HIST_METERING strDarkTone;
    LX_U32 u4DTFinalTarget, u4DTStrength, u4DTSensitivity;
    LX_U32 u4StsFinalTarget;
} AE_STRATEGY_BTDT;

typedef struct {
    INTP_LUT strBrightPcentByLUT;
    LX_U32 u4BTSortBlockYWeighting;
    LX_U32 u4StsBrightPcent;
    LX_U32 u4StsBTYx10;
    LX_U32 u4StsBTBlockYx10;
    INTP_LUT strDarkPcentByLUT;
    LX_U32 u4DTSortBlockYWeighting;
    LX_U32 u4StsDarkPcent;
    LX_U32 u4StsDTBlockYx10;
    LX_U32 u4StsDTYx10;
    LX_U32 u4DR;  // dynamic range x16384
} AE_SCENE_DR;

typedef struct {
    LX_CAM_BOOL bEnable;
    AE_HIST_METERING strBrightTone;
    INTP_LUT strBTTargetByBV;
    INTP_LUT strBTBYWghtLUT;
    LX_U32 u4BTBlockYWeighting;
    LX_U32 u4StsBTBlockYx10;
    LX_U32 u4StsBTWghtYx10;
    LX_U32 u4StsBTBVProb;
    LX_U32 u4StsBTDRTargetx10;
    LX_U32 u4StsBTTargetx10;
    AE_HIST_METERING strMidDarkToneLimit;
    LX_U32 u4StsMTDTTargetUpperx10;
    AE_HIST_METERING strMidTone;
    LX_U32 u4StsMTTargetx10;
    AE_HIST_METERING strDarkTone;
    LX_U32 u4StsNotSmoothedDTTargetx10;
    LX_U32 u4DTBlockYWeighting;
    LX_U32 u4StsDTBlockYx10;
    LX_U32 u4StsDTDarkWghtYx10;
    LX_U32 u4StsDTTargetx10;
    LX_U32 u4Strength;
    LX_U32 u4Sensitivity;
    LX_U32 u4StsFinalTarget;
} AE_TONEBALANCE_TARGET;

// Curves by BV.
typedef struct {
    LX_CAM_BOOL bEnable;
    AE_STRATEGYEX_MODE eMode;
    AE_STRATEGYEX_PRIORITY ePriority;
    INTP_LUT strBTThdY;
    INTP_LUT strBTPercentx10;
    INTP_LUT strBTTargetx10;
    INTP_LUT strLowerBound;
    INTP_LUT strDTThdY;
    INTP_LUT strDTPercentx10;
    INTP_LUT strDTTargetx10;
    INTP_LUT strUpperBound;
} AE_STRATEGYEX_PARAM;

typedef struct {
    LX_U16 u2GMBlendRatio;
    LX_U16 u2UpperLimitTargetx10;
    LX_U16 u2LowerLimitTargetx10;
    LX_U16 u2BTCntPcntx10;
    LX_U16 u2DTCntPcntx10;
    LX_U16 u2BTYx10;
    LX_U16 u2DTYx10;
} AE_STRATEGYEX_INFO;

typedef struct {
    AE_STRATEGYEX_PARAM strParam;
    AE_STRATEGYEX_INFO strInfo;
    LX_U8 uCurBTThdY;
    LX_U8 uCurDTThdY;
    LX_U16 u2MaxOffsetDown;
    LX_U16 u2MaxOffsetUp;
} AE_STRATEGYEX;

// The control-interface form of the extended strategy (node tables).
typedef struct {
    LX_CAM_BOOL bEnable;
    AE_STRATEGYEX_MODE eMode;
    AE_STRATEGYEX_PRIORITY ePriority;
    LX_U16 u2BT_NodeNum;
    LX_S32 u4BT_NodeBV[16];
    LX_U32 u4BT_ThdY[16];
    LX_U32 u4BT_Percentx10[16];
    LX_U32 u4BT_TargetYx10[16];
    LX_U32 u4BT_MaxOffsetDown[16];
    LX_U16 u2DT_NodeNum;
    LX_S32 u4DT_NodeBV[16];
    LX_U32 u4DT_ThdY[16];
    LX_U32 u4DT_Percentx10[16];
    LX_U32 u4DT_TargetYx10[16];
    LX_U32 u4DT_MaxOffsetUp[16];
} AE_STRATEGYEX_MI_PARAM;

// ---- convergence and stabiliser ----------------------------------------------------

typedef struct {
    LX_CAM_BOOL bEnable;
    LX_U32 u4StableY;
    LX_U32 u4UnStableCount;
    LX_U32 u4BrightYDiffThd;
    LX_U32 u4UnStableBrightCountThd;
    LX_U32 u4DarkYDiffThd;
    LX_U32 u4UnStableDarkCountThd;
} AE_TimeBuffer;

typedef struct {
    LX_CAM_BOOL bEnable;
    LX_U16 u2DiffThd;
    LX_U16 u2Percent;
} AE_STABILIZER_PARAM;

typedef struct {
    LX_U8 uAvgR;
    LX_U8 uAvgG;
    LX_U8 uAvgB;
    LX_U8 uAvgY;
} AE_AVG_SAMPLE;

typedef struct {
    AE_MD_STATE eMDState;
    LX_U16 u2TriggerCnt;
    LX_U16 u2LocalCntThr;
    AE_AVG_SAMPLE strRefAEStatis[AE_REF_BLOCKS];
} AE_STABILIZER_INFO;

typedef struct {
    AE_STABILIZER_PARAM strParam;
    AE_STABILIZER_INFO strInfo;
} AE_STABILIZER;

// ---- flicker ---------------------------------------------------------------------

typedef struct {
    LX_CAM_BOOL bEnable;
    OP_TYPE enOpType;
    LX_U8 uAmpSensitivity;
    LX_U8 uScoreThd;
    LX_U8 uRefreshCycles;
    LX_U8 uValidTimesThd;
    AE_FLICKER_DETECT_MODE eFlickerType;  // the mains frequency assumed
} AE_FLICKER_DETECT_TYPE_t;

// Run-time detector: settings and state.
typedef struct {
    AE_FLICKER_DETECT_TYPE_t strParam;
    LX_U8 bShowMessage;
    LX_U8 bWaitingEffective;
    LX_U8 bScoreEffective;
    LX_U16 u2Score;
    LX_U32 u4FlickerCnt;
    LX_U32 u4SamplingAvg;
    LX_U32 u4ValidTimes;
    LX_U8 uPeriod;
    LX_U8 uCycleCnt;
    LX_U32 u4CycleDiffMax[AE_FLICKER_GROUPS];
    LX_U32 u4CycleDiffMin[AE_FLICKER_GROUPS];
    LX_U16 u2DetectedCnt;
    LX_U8 uPreFps;
} AE_AUTO_FLICKER_SETTING;

// ---- calibration, RGB-IR, HDR, day-night -------------------------------------------

typedef struct {
    LX_U32 u4ISO100Gain;
    LX_U32 u4MinISO;
    LX_S32 i4BVOffset;
    LX_S32 i4AVOffset;
    LX_U32 u4ModuleFN;
} AE_CALIDATA;

typedef struct {
    LX_U8 bEnable;
    LX_U8 bIsValid;
    LX_U8 uInvalidCount;
    LX_U16 u2IRFeedBakckRatio;          // x10000
    LX_U16 u2IRFeedBakckRatioPre;
    LX_U16 u2IRFeedBakckRatioMinLimit;
    LX_U16 u2IRMaxLimit;                // IR top, Yx10
    LX_U16 u2TotalMaxLimit;             // Y top + IR top, Yx10
    LX_U16 u2IRIdx;
    LX_U16 u2IRAvg;
    LX_U16 u2HistIRTop;
    LX_U16 u2HistYTop;
    LX_S32 i4K1_Of_IR_Index_x10000;
} AE_RGBIR_SETTING;

typedef struct {
    LX_CAM_BOOL bEnable;
    LX_U16 u16MaxYWithIR;
    LX_U16 u16MinISPGainCompRatio;
} AE_RGBIR_AE;

typedef struct {
    INTP_LUT AeHdrRatio;  // long/short ratio x1024 by long total gain
} AE_HDR_TYPE;

typedef struct {
    LX_CAM_BOOL bEnable;
    LX_S32 s4D2N_BvThd;
    LX_U32 u4N2D_VsbLtScoreThd;
} AE_DAYNIGHT_DETECTION_PARAM;

typedef struct {
    LX_CAM_BOOL bDay2Night;
} AE_DAYNIGHT_DETECTION_INFO;

typedef struct {
    AE_DAYNIGHT_DETECTION_PARAM strParam;
    AE_DAYNIGHT_DETECTION_INFO strInfo;
} AE_DAYNIGHT_DETECTION;

// ---- user copy: setters write it, the next frame applies it --------------------------

typedef struct {
    LX_CAM_BOOL bIsChanged;
    LX_U32 u4EVCompGrad;
    LX_S32 i4EVComp;
    LX_U16 u2ConvOutStableThd;
    LX_U16 u2ConvIntoStableThd;
    INTP_LUT strConvRatio;
    AE_STRATEGY_PARAM strStrategyParam;
    AE_STRATEGYEX_PARAM strStrategyExParam;
    AE_DAYNIGHT_DETECTION_PARAM strDNDetectionParam;
    AE_BANDING eFlicker;
    AE_FLICKER_MODE eFlickerMode;
    AE_FLICKER_DETECT_TYPE_t strFlickerEx;
    AE_EXPO_TBL strPlainLongExpoTbl;
    AE_EXPO_TBL strPlainShortExpoTbl;
    AE_MANUAL_PLAIN_EXP strPlainLongExpo;
    AE_MANUAL_PLAIN_EXP strPlainShortExpo;
    AE_APEX_EXPO strApexLongExpo;
    AE_APEX_EXPO strApexShortExpo;
    AE_WIN_WGT eWinWght;
    LX_U8 uWghts[3][AE_WGT_TBL_SIZE];
    AE_EXP_MODE eExpMode;
    AE_RGBIR_AE strRGBIRAE;
    INTP_LUT strAeHdr;
    AE_STABILIZER_PARAM strStbParam;
} AE_USER_SETTING;

// ---- the method table ------------------------------------------------------------------

typedef struct __cam_ae_handle_t cam_ae_handle_t;

// The 96 slots in their order: result type, name, parameters. The same list
// declares the operations, lays out the slots and fills them.
#define AE_METHOD_TABLE(X)                                                                                     \
    /* metering: luminance, BV, LV */                                                                          \
    X(LX_S32, pAE_CalLumY, (cam_ae_handle_t * h))                                                              \
    X(LX_S32, pAE_GetBV, (cam_ae_handle_t * h))                                                                \
    X(LX_U32, pAE_GetLV, (cam_ae_handle_t * h))                                                                \
    /* the calculation step of a frame */                                                                      \
    X(LX_S32, pAE_ProcessAE, (cam_ae_handle_t * h))                                                            \
    /* scene target and strategies */                                                                          \
    X(LX_S32, pAE_StrategyEX_GetSceneTarget, (cam_ae_handle_t * h))                                            \
    X(LX_S32, pAE_StrategyEX_GetToneY, (cam_ae_handle_t * h))                                                  \
    X(LX_S32, pAE_StrategyEX_GetCntPcntx10, (cam_ae_handle_t * h))                                             \
    X(LX_S32, pAE_StrategyEX_GetGMBlendRatio, (cam_ae_handle_t * h))                                           \
    X(LX_U32, pAE_GetSceneTarget, (cam_ae_handle_t * h))                                                       \
    X(LX_S32, pAE_GetSceneDynamicRange, (cam_ae_handle_t * h))                                                 \
    X(LX_S32, pAE_GetToneBalanceTarget, (cam_ae_handle_t * h))                                                 \
    X(LX_U32, pAE_GetStrategyBTDT, (cam_ae_handle_t * h))                                                      \
    /* histogram and sorted-cell percentiles */                                                                \
    X(LX_S32, pAE_CalHistogram, (cam_ae_handle_t * h, AE_HIST_SPEC * pHistSpec))                               \
    X(LX_U32, pAE_CalSortYByPcent, (cam_ae_handle_t * h, LX_U8 idx, LX_CAM_BOOL bFromHigh, LX_U32 u4Pcent))   \
    /* next exposure */                                                                                        \
    X(LX_S32, pAE_CalPvExpo, (cam_ae_handle_t * h))                                                            \
    X(LX_S32, pAE_CalPvExpoShort, (cam_ae_handle_t * h))                                                       \
    X(LX_S32, pAE_CalSmoothExpo, (cam_ae_handle_t * h))                                                        \
    X(LX_S32, pAE_CalIntpApex, (cam_ae_handle_t * h, LX_S32 i4BVxBASE))                                        \
    X(LX_S32, pAE_CalIntpApexShort, (cam_ae_handle_t * h, LX_S32 i4BVxBASE, LX_U64 u8TargetEnergy))           \
    X(LX_S32, pAE_CalApexTblIdx, (cam_ae_handle_t * h, AE_CAL_EXPO * pCal))                                    \
    X(LX_S32, pAE_CalApexTblIdxShort, (cam_ae_handle_t * h, AE_CAL_EXPO * pCal))                               \
    X(LX_S32, pAE_CalApexAuto2,                                                                                \
      (cam_ae_handle_t * h, LX_U8 Lower, LX_U8 Upper, AE_APEX_EXPO * pOut, AE_EXPOVAL * pExpoVal))            \
    X(LX_S32, pAE_CalApexAV2, (cam_ae_handle_t * h, LX_U8 Lower, LX_U8 Upper, AE_APEX_EXPO * pOut))           \
    X(LX_S32, pAE_CalApexSV2, (cam_ae_handle_t * h, LX_U8 Lower, LX_U8 Upper, AE_APEX_EXPO * pOut))           \
    X(LX_S32, pAE_CalApexTV, (cam_ae_handle_t * h, LX_U8 Lower, LX_U8 Upper, AE_APEX_EXPO * pOut))            \
    X(LX_S32, pAE_DoDeBanding, (cam_ae_handle_t * h, AE_APEX_EXPO * pExpo, AE_EXPOVAL * strExpoVal))           \
    X(LX_CAM_BOOL, pAE_FurtherLimitOnAperture, (cam_ae_handle_t * h))                                          \
    X(LX_S32, pAE_FindClosestAV, (cam_ae_handle_t * h, LX_S32 i4AV, LX_U8 Mode, LX_U8 Nth))                    \
    X(LX_S32, pAE_LimitMinMax, (cam_ae_handle_t * h, AE_APEX_EXPO * pExpo, AE_EXPOVAL * pExpoVal))            \
    X(LX_S32, pAE_SetExposure, (cam_ae_handle_t * h, AE_APEX_EXPO * strCurExpo, AE_EXPOVAL * pExpoVal))       \
    X(LX_U8, pAE_GetExpTblMaxIdx, (cam_ae_handle_t * h))                                                       \
    X(LX_U8, pAE_GetExpTblMaxIdxShort, (cam_ae_handle_t * h))                                                  \
    /* convergence */                                                                                          \
    X(LX_CAM_BOOL, pAE_isConverged, (cam_ae_handle_t * h))                                                     \
    X(LX_CAM_BOOL, pAE_isReachBoundary, (cam_ae_handle_t * h))                                                 \
    X(LX_CAM_BOOL, pAE_isStable, (cam_ae_handle_t * h))                                                        \
    X(LX_S32, pAE_CheckLinearity,                                                                              \
      (cam_ae_handle_t * h, AE_APEX_EXPO strPreExpo, AE_APEX_EXPO strCurExpo, LX_U32 u4PreYx10,               \
       LX_U32 u4CurYx10))                                                                                      \
    X(LX_CAM_BOOL, pAE_CheckTimeBuffer, (cam_ae_handle_t * h))                                                 \
    X(LX_S32, pAE_SetNthWin, (cam_ae_handle_t * h, LX_S32 idx, AE_WIN win))                                    \
    /* settings */                                                                                             \
    X(LX_S32, pAE_SetEVComp, (cam_ae_handle_t * h, LX_S32 i4EV, LX_U32 u4Grad))                                \
    X(LX_S32, pAE_GetEVComp, (cam_ae_handle_t * h, LX_S32 * i4EV, LX_U32 * u4Grad))                            \
    X(LX_S32, pAE_SetExpMode, (cam_ae_handle_t * h, AE_EXP_MODE mode))                                         \
    X(LX_S32, pAE_GetExpMode, (cam_ae_handle_t * h, AE_EXP_MODE * mode))                                       \
    X(LX_S32, pAE_SetManualExpo,                                                                               \
      (cam_ae_handle_t * h, LX_U16 u2FNx10, LX_U32 u4SensorGain, LX_U32 u4ISPGain, LX_U32 u4US))              \
    X(LX_S32, pAE_GetManualExpo,                                                                               \
      (cam_ae_handle_t * h, LX_U16 * u2FNx10, LX_U32 * u4SensorGain, LX_U32 * u4ISPGain, LX_U32 * u4US))      \
    X(LX_S32, pAE_SetManualExpoShort,                                                                          \
      (cam_ae_handle_t * h, LX_U16 u2FNx10, LX_U32 u4SensorGain, LX_U32 u4ISPGain, LX_U32 u4US))              \
    X(LX_S32, pAE_GetManualExpoShort,                                                                          \
      (cam_ae_handle_t * h, LX_U16 * u2FNx10, LX_U32 * u4SensorGain, LX_U32 * u4ISPGain, LX_U32 * u4US))      \
    X(LX_S32, pAE_Pause, (cam_ae_handle_t * h))                                                                \
    X(LX_S32, pAE_Resume, (cam_ae_handle_t * h))                                                               \
    X(LX_S32, pAE_GetSMState, (cam_ae_handle_t * h))                                                           \
    X(LX_S32, pAE_SetTarget, (cam_ae_handle_t * h, INTP_LUT * target))                                         \
    X(LX_S32, pAE_GetTarget, (cam_ae_handle_t * h, INTP_LUT * target))                                         \
    X(LX_S32, pAE_SetConvergeThd, (cam_ae_handle_t * h, LX_U32 Inthd, LX_U32 Outthd))                          \
    X(LX_S32, pAE_GetConvergeThd, (cam_ae_handle_t * h, LX_U32 * Inthd, LX_U32 * Outthd))                      \
    X(LX_S32, pAE_SetConvergeSpeed, (cam_ae_handle_t * h, LX_U32 * speed_X, LX_U32 * speed_Y))                 \
    X(LX_S32, pAE_GetConvergeSpeed, (cam_ae_handle_t * h, LX_U32 * speed_X, LX_U32 * speed_Y))                 \
    X(LX_S32, pAE_SetMinMaxShutterUS, (cam_ae_handle_t * h, LX_U16 u2MinShutterUS, LX_U32 u4MaxShutterUS))     \
    X(LX_S32, pAE_GetMinMaxShutterUS, (cam_ae_handle_t * h, LX_U16 * u2MinShutterUS, LX_U32 * u4MaxShutterUS)) \
    X(LX_S32, pAE_SetMinMaxAperture, (cam_ae_handle_t * h, LX_U16 u2MinAperture, LX_U16 u2MaxAperture))        \
    X(LX_S32, pAE_GetMinMaxAperture, (cam_ae_handle_t * h, LX_U16 * u2MinAperture, LX_U16 * u2MaxAperture))    \
    X(LX_S32, pAE_SetMaxGains, (cam_ae_handle_t * h, LX_U32 u4MaxISPGain, LX_U32 u4MaxSensorGain))             \
    X(LX_S32, pAE_GetMaxGains, (cam_ae_handle_t * h, LX_U32 * u4MaxISPGain, LX_U32 * u4MaxSensorGain))         \
    X(LX_S32, pAE_SetMinGains, (cam_ae_handle_t * h, LX_U16 u2MinISPGain, LX_U16 u2MinSensorGain))             \
    X(LX_S32, pAE_GetMinGains, (cam_ae_handle_t * h, LX_U16 * u2MinISPGain, LX_U16 * u2MinSensorGain))         \
    X(LX_S32, pAE_SetPlainExpTbl, (cam_ae_handle_t * h, AE_EXPO_TBL * pTbl))                                   \
    X(LX_S32, pAE_SetPlainShortExpTbl, (cam_ae_handle_t * h, AE_EXPO_TBL * pTbl))                              \
    X(LX_S32, pAE_GetPlainExpTbl, (cam_ae_handle_t * h, AE_EXPO_TBL * pTbl))                                   \
    X(LX_S32, pAE_GetPlainShortExpTbl, (cam_ae_handle_t * h, AE_EXPO_TBL * pTbl))                              \
    X(LX_S32, pAE_SetAEWinWgtType, (cam_ae_handle_t * h, AE_WIN_WGT wght))                                     \
    X(LX_S32, pAE_GetAEWinWgtType, (cam_ae_handle_t * h, AE_WIN_WGT * wght))                                   \
    X(LX_S32, pAE_SetAEWinWgtTbl,                                                                              \
      (cam_ae_handle_t * h, LX_U8 * pAverageWghtTbl, LX_U8 * pCenterWghtTbl, LX_U8 * pSpotWghtTbl))           \
    X(LX_S32, pAE_GetAEWinWgtTbl,                                                                              \
      (cam_ae_handle_t * h, LX_U8 * pAverageWghtTbl, LX_U8 * pCenterWghtTbl, LX_U8 * pSpotWghtTbl))           \
    X(LX_S32, pAE_SetFlicker, (cam_ae_handle_t * h, AE_BANDING bs))                                            \
    X(LX_S32, pAE_GetFlicker, (cam_ae_handle_t * h, AE_BANDING * bs))                                          \
    X(LX_S32, pAE_SetFlickerMode, (cam_ae_handle_t * h, AE_FLICKER_MODE mode))                                 \
    X(LX_S32, pAE_GetFlickerMode, (cam_ae_handle_t * h, AE_FLICKER_MODE * mode))                               \
    X(LX_S32, pAE_SetFlickerModeEX, (cam_ae_handle_t * h, AE_FLICKER_DETECT_TYPE_t * pFlickerEx))              \
    X(LX_S32, pAE_GetFlickerModeEX, (cam_ae_handle_t * h, AE_FLICKER_DETECT_TYPE_t * pFlickerEx))              \
    X(LX_S32, pAE_SetAEStrategy, (cam_ae_handle_t * h, AE_STRATEGY_PARAM * pParam))                            \
    X(LX_S32, pAE_GetAEStrategy, (cam_ae_handle_t * h, AE_STRATEGY_PARAM * pParam))                            \
    X(LX_S32, pAE_SetAEStrategyEX, (cam_ae_handle_t * h, AE_STRATEGYEX_MI_PARAM * pParam))                     \
    X(LX_S32, pAE_GetAEStrategyEX, (cam_ae_handle_t * h, AE_STRATEGYEX_MI_PARAM * pParam))                     \
    X(LX_S32, pAE_SetRGBIRAE, (cam_ae_handle_t * h, AE_RGBIR_AE * pParam))                                     \
    X(LX_S32, pAE_GetRGBIRAE, (cam_ae_handle_t * h, AE_RGBIR_AE * pParam))                                     \
    X(LX_S32, pAE_SetAeHdrRatio, (cam_ae_handle_t * h, AE_HDR_TYPE * pParam))                                  \
    X(LX_S32, pAE_GetAeHdrRatio, (cam_ae_handle_t * h, AE_HDR_TYPE * pParam))                                  \
    X(LX_S32, pAE_SetStabilizerParam, (cam_ae_handle_t * h, AE_STABILIZER_PARAM * pParam))                     \
    X(LX_S32, pAE_GetStabilizerParam, (cam_ae_handle_t * h, AE_STABILIZER_PARAM * pParam))                     \
    X(LX_S32, pAE_SetDayNightDetectionParam, (cam_ae_handle_t * h, AE_DAYNIGHT_DETECTION_PARAM * pParam))      \
    X(LX_S32, pAE_GetDayNightDetectionParam, (cam_ae_handle_t * h, AE_DAYNIGHT_DETECTION_PARAM * pParam))      \
    /* results */                                                                                              \
    X(LX_U32, pAE_GetLumY, (cam_ae_handle_t * h))                                                              \
    X(LX_U32, pAE_GetAvgY, (cam_ae_handle_t * h))                                                              \
    X(LX_S32, pAE_GetHist, (cam_ae_handle_t * h, LX_U32 * pHist128))                                           \
    X(LX_S32, pAE_GetCurBV, (cam_ae_handle_t * h))                                                             \
    X(LX_U32, pAE_GetCurLV, (cam_ae_handle_t * h))                                                             \
    X(LX_S32, pAE_GetCurExpo,                                                                                  \
      (cam_ae_handle_t * h, LX_U16 * u2FNx10, LX_U32 * u4SensorGain, LX_U32 * u4ISPGain, LX_U32 * u4US))      \
    X(LX_S32, pAE_GetCurShortExpo,                                                                             \
      (cam_ae_handle_t * h, LX_U16 * u2FNx10, LX_U32 * u4SensorGain, LX_U32 * u4ISPGain, LX_U32 * u4US))

#define AE_DECLARE_METHOD(ret, name, params) ret name params;
AE_METHOD_TABLE(AE_DECLARE_METHOD)
#undef AE_DECLARE_METHOD

#define AE_METHOD_SLOT(ret, name, params) ret(*name) params;

struct __cam_ae_handle_t {
    AE_METHOD_TABLE(AE_METHOD_SLOT)

    AE_SM state;
    AE_EXP_MODE eExpMode;
    AE_OP_MODE eOpMode;  // set, never consulted
    LX_U32 SyncFrameCnt;
    LX_CAM_BOOL bForceReCal;  // new exposure and Change 1 on the next frame
    LX_CAM_BOOL bAECalDone;
    LX_U16 u2DbgLevel;
    INTP_LUT strTargetLut;  // target Yx10 by BV
    LX_U32 u4Targetx10;
    LX_U32 u4SceneTargetx10;
    LX_U32 u4UpperTargetx10;
    LX_U32 u4LowerTargetx10;
    INTP_LUT strEvLut;  // EV-compensation percent by EV x16384
    LX_U32 u4EVTargetx10;
    LX_U32 u4EVCompGrad;
    LX_S32 i4EVComp;
    LX_S32 i4EVCompValue;
    LX_U16 u2ConvIntoStableThd;
    LX_U16 u2ConvOutStableThd;
    LX_U16 u2CnvgRatio;
    INTP_LUT strConvRatioLut;
    AE_BANDING eFlicker;
    AE_FLICKER_MODE eFlickerMode;
    LX_CAM_BOOL bAutoFlickerFrequencyDetection;
    AE_AUTO_FLICKER_SETTING strFlickerEx;
    AE_EXPO_TBL strPlainLongExpoTbl;
    AE_EXPO_TBL strPlainShortExpoTbl;
    AE_APEX_EXPOTBL strApexLongExpoTbl;
    AE_APEX_EXPOTBL strApexShortExpoTbl;
    AE_CAL_EXPO strCalLongExpo;
    AE_CAL_EXPO strCalShortExpo;
    AE_EXPOVAL strPlainLongExpo;
    AE_EXPOVAL strPlainShortExpo;
    AE_APEX_EXPO strApexPreExpo;
    AE_APEX_EXPO strApexCurExpo;
    AE_APEX_EXPO strNextLongExpo;
    AE_APEX_EXPO strNextShortExpo;
    AE_APEX_EXPO strManualLongExp;
    AE_APEX_EXPO strManualShortExp;
    LX_U8 bStable;
    LX_U8 bConverged;
    LX_U8 bReachBoundary;
    LX_U8 uCurYSyncIdx;
    LX_U8 uBVStableCnt;
    LX_U32 u4StableCnt;
    LX_S32 i4CurBV;
    LX_U32 u4CurLVx10;
    LX_U32 u4CurYx10[2][3];
    LX_U32 u4AvgYx10[2];
    LX_U32 u4PredYx10;
    INTP_LUT strAeHdrLut;  // HDR long/short ratio x1024 by long total gain
    LX_U8 uRGBHistMaxY;
    LX_U8 uIRHistMaxY;
    LX_U8 uWghts[3][AE_WGT_TBL_SIZE];  // one per AE_WIN_WGT
    LX_S32 i4SmoothDeltaEV;
    LX_U32 u4DeltaEnergyRatio;
    LX_U32 u4InitShutter;  // stored from the IQ file, not used
    LX_U32 u4InitGain;
    LX_U32 u4InitFNum;
    LX_U32 u4LinearityDeltaEV;
    INTP_LUT strTargetWeightingByLinearityLut;
    AE_TimeBuffer strAETimeBuffer;
    AE_STRATEGY_PARAM strStrategyParam;
    AE_STRATEGY_BTDT strStrategyBTDT;
    AE_STRATEGYEX strStrategyEx;
    LX_U16 u2GMBlendRatioBuffer[4];  // newest first
    AE_SCENE_DR strSceneDR;
    AE_TONEBALANCE_TARGET strToneBalance;
    LX_S32 error_cnt;  // frames in a row with unreliable statistics
    AE_STAT strAEStat;
    AE_HIST_SPEC strHistSpec;
    AE_HIST_TYPE eHistType;
    ISPAESample_t *pAEStatis;
    LX_CAM_BOOL bOneShot;  // set while the frequency detector runs
    AE_FPS_CTRL eFPSCtrl;
    AE_SHUTTER_COMP_GAIN eShutterCompGain;
    LX_U32 u4CurFPS;
    LX_U32 u4DebandFPS;
    LX_U32 u4LongShutterLVx10Thd;
    LX_CAM_BOOL bUseDgain2CompBanding;
    LX_U32 u4BandingGain;
    AE_SCENE_MODE eSceneMode;
    AE_SCENE eScene;
    LX_U32 u4NightSceneExtNum;
    AE_CALIDATA strCaliData;
    AE_RGBIR_SETTING strRgbirParam;
    AE_STABILIZER strStabilizer;
    AE_DAYNIGHT_DETECTION strDNDetection;
    AE_USER_SETTING strUserParam;
    ISP_DBGBUF_HANDLE isp_dbg_buf_handle;  // only while AeInit runs
    AeInitParam_t *AeInitParameter;
    AeInput_t *AeInputParameter;    // the caller's records of this frame
    AeOutput_t *AeOutputParameter;
};

#undef AE_METHOD_SLOT

#define AE_METHOD_COUNT_ONE(ret, name, params) +1
enum { AE_METHOD_COUNT = 0 AE_METHOD_TABLE(AE_METHOD_COUNT_ONE) };
#undef AE_METHOD_COUNT_ONE

static_assert(AE_METHOD_COUNT == 96, "the AE handle has 96 method slots");
static_assert(offsetof(cam_ae_handle_t, state) == AE_METHOD_COUNT * sizeof(void *),
              "the slots come first, nothing between them");
static_assert(sizeof(AE_APEX_EXPO) == 20, "AE_APEX_EXPO layout");
static_assert(sizeof(AE_EXPO_POINT) == 16, "the IQ table item fills points of 16 bytes");
static_assert(sizeof(AE_EXPO_TBL) == 408, "AE_EXPO_TBL layout");
static_assert(sizeof(AE_STRATEGY_PARAM) == 296, "AE_STRATEGY_PARAM layout");
static_assert(sizeof(AE_STRATEGYEX_PARAM) == 1068, "AE_STRATEGYEX_PARAM layout");
static_assert(sizeof(AE_STRATEGYEX_MI_PARAM) == 660, "AE_STRATEGYEX_MI_PARAM layout");
static_assert(offsetof(AE_STRATEGYEX_MI_PARAM, u2DT_NodeNum) == 336, "AE_STRATEGYEX_MI_PARAM layout");
static_assert(sizeof(AE_STRATEGYEX_INFO) == 14, "AE_STRATEGYEX_INFO layout");
static_assert(sizeof(AE_FLICKER_DETECT_TYPE_t) == 16, "AE_FLICKER_DETECT_TYPE_t layout");
static_assert(sizeof(AE_RGBIR_AE) == 8, "AE_RGBIR_AE layout");
static_assert(sizeof(AE_STABILIZER_PARAM) == 8, "AE_STABILIZER_PARAM layout");
static_assert(sizeof(AE_DAYNIGHT_DETECTION_PARAM) == 12, "AE_DAYNIGHT_DETECTION_PARAM layout");
static_assert(sizeof(AE_HDR_TYPE) == 132, "AE_HDR_TYPE layout");
static_assert(sizeof(AE_AVG_SAMPLE) == sizeof(ISPAESample_t), "block samples are 4 bytes");

// ---- operations that are not slots ---------------------------------------------------------

// Handle life (ae_core.cpp).
void AE_InitFuncPtr(cam_ae_handle_t *h);
LX_S32 AE_InitParameters(cam_ae_handle_t *h);
LX_S32 AE_GetParamFromCfg(cam_ae_handle_t *h);
LX_S32 AE_InitBV(cam_ae_handle_t *h);
LX_S32 AE_ProcessAPI(cam_ae_handle_t *h);

// APEX conversions (ae_apex.cpp): double precision, truncated toward zero.
LX_S32 AE_ApexAV(LX_U32 u4FNx10);       // 2*16384*log2(f/10) + 0.5; f < 2 is F0.1
LX_S32 AE_ApexTV(LX_U32 u4USec);        // 0.5 - 16384*log2(t/1e6); t < 2 is 1 us
LX_S32 AE_ApexSSV(LX_U32 u4Gain);       // 16384*log2(g*100/3200); g < 2 is 0.03125
LX_S32 AE_ApexSV(LX_U32 u4ISO);         // 16384*log2(s/3.125); s < 2 is 0.32
LX_S32 AE_ApexBVFromLV(LX_U32 u4LVx10); // (l*16384 + 5)/10 - 81920
// Inverses: 0.5 + 1e6*2^(-TV/16384) us, 0.5 + 10*2^(AV/32768), 1024*3.125*2^(SV/16384)/100.
LX_U32 AE_ApexToUSec(LX_S32 i4TV);
LX_U32 AE_ApexToFNx10(LX_S32 i4AV);
double AE_ApexToGain(LX_S32 i4SV);

// Exposure model (ae_expo.cpp).
LX_S32 AE_Plain2Apex(cam_ae_handle_t *h, AE_EV_CONVERSION *pConv);
LX_S32 AE_ConversionExpoTbl(cam_ae_handle_t *h, AE_APEX_EXPOTBL *pApexTbl, AE_EXPO_TBL *pPlainTbl);
LX_S32 AE_ConvertNextExpoToExpoVal(cam_ae_handle_t *h, AE_APEX_EXPO strExpo, AE_EXPOVAL *pExpoVal);
LX_U32 AE_CalNewDGainWithIR(cam_ae_handle_t *h, LX_U32 dgain);
LX_S32 AE_CalApexSVforHDRShort(cam_ae_handle_t *h, AE_APEX_EXPO *pExpo, AE_EXPOVAL *pExpoVal);
LX_S32 AE_CalApexTVforHDRShort(cam_ae_handle_t *h, AE_APEX_EXPO *pExpo);

// Metering (ae_meter.cpp).
LX_S32 AE_FindHistInfo(cam_ae_handle_t *h);
LX_S32 AE_FindIRHistInfo(cam_ae_handle_t *h);

// Convergence and RGB-IR (ae_conv.cpp).
LX_S32 AE_MotionDetection(cam_ae_handle_t *h);
LX_S32 AE_CalRGBIRTargetwithSmooth(cam_ae_handle_t *h);

// Flicker (ae_flicker.cpp).
LX_S32 AE_FlickerFrequencyDetect(cam_ae_handle_t *h);
LX_S32 AE_FlickerFrequencyDetect_RunTimeMode(cam_ae_handle_t *h);

// Small helpers every AE group uses.
// Debug bit `bit` of u2DbgLevel; frameDbg only once frames are counted.
inline bool dbg(const cam_ae_handle_t *h, unsigned bit) { return (h->u2DbgLevel >> bit) & 1u; }
inline bool frameDbg(const cam_ae_handle_t *h, unsigned bit) { return h->SyncFrameCnt != 0 && dbg(h, bit); }
// 64-bit product saturating at the type's maximum.
inline LX_U64 mulSat(LX_U64 a, LX_U64 b) { return (b != 0 && a > UINT64_MAX / b) ? UINT64_MAX : a * b; }
// 64-bit signed value saturated to 32 bits.
inline LX_S32 satS32(LX_S64 v) { return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : (LX_S32)v; }
