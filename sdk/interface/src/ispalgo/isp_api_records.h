// Public records of the 3A control ids: what an IQ-API caller sends or gets
// for each id (the dispatch checks the size, the kinds convert them). None
// carries a pointer, so sizes are the same on every build.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "mi_isp_3a_datatype.h"

typedef enum { QV_FALSE = 0, QV_TRUE = 1 } MI_ISP_BOOL_e;
typedef enum { QV_ISP_STATE_NORMAL = 0, QV_ISP_STATE_PAUSE = 1 } MI_ISP_SM_STATE_TYPE_e;
typedef enum { QV_OP_TYP_AUTO = 0, QV_OP_TYP_MANUAL = 1 } MI_ISP_OP_TYPE_e;

// ---- AE ----------------------------------------------------------------------
typedef struct {
    uint32_t u32LumY;
    uint32_t u32AvgY;
    uint32_t u32Hits[128];
} MI_ISP_AE_HIST_WEIGHT_Y_TYPE_t;

typedef struct {
    uint32_t u32FNx10;
    uint32_t u32SensorGain;
    uint32_t u32ISPGain;
    uint32_t u32US;
} MI_ISP_AE_EXPO_VALUE_TYPE_t;

typedef struct {
    MI_ISP_BOOL_e bIsStable;
    MI_ISP_BOOL_e bIsReachBoundary;
    MI_ISP_AE_EXPO_VALUE_TYPE_t stExpoValueLong;
    MI_ISP_AE_EXPO_VALUE_TYPE_t stExpoValueShort;
    MI_ISP_AE_HIST_WEIGHT_Y_TYPE_t stHistWeightY;
    uint32_t u32LVx10;
    int32_t s32BV;
    uint32_t u32SceneTarget;
} MI_ISP_AE_EXPO_INFO_TYPE_t;

typedef struct {
    int32_t s32EV;
    uint32_t u32Grad;
} MI_ISP_AE_EV_COMP_TYPE_t;

typedef enum {
    QV_AE_MODE_A = 0,
    QV_AE_MODE_AV = 1,
    QV_AE_MODE_SV = 2,
    QV_AE_MODE_TV = 3,
    QV_AE_MODE_M = 4,
} MI_ISP_AE_MODE_TYPE_e;

// The layout of INTP_LUT.
typedef struct {
    uint16_t u16NumOfPoints;
    uint32_t u32Y[16];
    uint32_t u32X[16];
} MI_ISP_AE_INTP_LUT_TYPE_t;

typedef struct {
    uint32_t u32InThd;
    uint32_t u32OutThd;
} MI_ISP_AE_CONV_THD_TYPE_t;

typedef struct {
    uint32_t u32SpeedX[4];
    uint32_t u32SpeedY[4];
} MI_ISP_AE_CONV_SPEED_TYPE_t;

typedef struct {
    MI_ISP_AE_CONV_THD_TYPE_t stConvThrd;
    MI_ISP_AE_CONV_SPEED_TYPE_t stConvSpeed;
} MI_ISP_AE_CONV_CONDITON_TYPE_t;

typedef struct {
    uint32_t u32MinShutterUS;
    uint32_t u32MaxShutterUS;
    uint32_t u32MinFNx10;
    uint32_t u32MaxFNx10;
    uint32_t u32MinSensorGain;
    uint32_t u32MinISPGain;
    uint32_t u32MaxSensorGain;
    uint32_t u32MaxISPGain;
} MI_ISP_AE_EXPO_LIMIT_TYPE_t;

typedef struct {
    uint32_t u32FNumx10;
    uint32_t u32Shutter;
    uint32_t u32TotalGain;
    uint32_t u32SensorGain;
} MI_ISP_AE_EXPO_POINT_TYPE_t;

typedef struct {
    uint32_t u32NumPoints;
    MI_ISP_AE_EXPO_POINT_TYPE_t stExpoTbl[16];
} MI_ISP_AE_EXPO_TABLE_TYPE_t;

typedef enum {
    QV_AE_WEIGHT_AVERAGE = 0,
    QV_AE_WEIGHT_CENTER = 1,
    QV_AE_WEIGHT_SPOT = 2,
} MI_ISP_AE_WIN_WEIGHT_MODE_TYPE_e;

typedef struct {
    uint8_t u8AverageTbl[1024];
    uint8_t u8CenterTbl[1024];
    uint8_t u8SpotTbl[1024];
} MI_ISP_AE_WIN_WEIGHT_TBL_TYPE_t;

typedef struct {
    MI_ISP_AE_WIN_WEIGHT_MODE_TYPE_e eTypeID;
    MI_ISP_AE_WIN_WEIGHT_TBL_TYPE_t stParaAPI;
} MI_ISP_AE_WIN_WEIGHT_TYPE_t;

typedef enum {
    QV_AE_FLICKER_TYPE_DISABLE = 0,
    QV_AE_FLICKER_TYPE_60HZ = 1,
    QV_AE_FLICKER_TYPE_50HZ = 2,
    QV_AE_FLICKER_TYPE_AUTO = 3,
} MI_ISP_AE_FLICKER_TYPE_e;

typedef enum {
    QV_AE_FLICKER_TYPE_DETECT_60HZ = 0,
    QV_AE_FLICKER_TYPE_DETECT_50HZ = 1,
} MI_ISP_AE_FLICKER_DETECT_TYPE_e;

typedef struct {
    MI_ISP_BOOL_e bEnable;
    MI_ISP_OP_TYPE_e enOpType;
    uint8_t u8AmpSensitivity;
    uint8_t u8ScoreThd;
    uint8_t uRefreshCycles;
    uint8_t u8ValidTimesThd;
    MI_ISP_AE_FLICKER_DETECT_TYPE_e eFlickerType;
} MI_ISP_AE_FLICKER_EX_TYPE_t;

typedef struct {
    MI_ISP_BOOL_e bIsEffective;
    MI_ISP_AE_FLICKER_DETECT_TYPE_e eFlickerType;
    uint16_t u16Score;
} MI_ISP_AE_FLICKER_EX_INFO_TYPE_t;

typedef enum {
    QV_AE_STRATEGY_BRIGHTTONE = 0,
    QV_AE_STRATEGY_DARKTONE = 1,
    QV_AE_STRATEGY_AUTO = 2,
} MI_ISP_AE_STRATEGY_TYPE_e;

typedef struct {
    MI_ISP_AE_STRATEGY_TYPE_e eAEStrategyMode;
    uint32_t u32Weighting;
    MI_ISP_AE_INTP_LUT_TYPE_t stUpperOffset;
    MI_ISP_AE_INTP_LUT_TYPE_t stLowerOffset;
    uint32_t u32BrightToneStrength;
    uint32_t u32BrightToneSensitivity;
    uint32_t u32DarkToneStrength;
    uint32_t u32DarkToneSensitivity;
    uint32_t u32AutoStrength;
    uint32_t u32AutoSensitivity;
} MI_ISP_AE_STRATEGY_TYPE_t;

typedef enum { QV_AE_STRATEGY_EX_COUNT = 0, QV_AE_STRATEGY_EX_TARGET = 1 } MI_ISP_AE_STRATEGY_EX_MODE_e;
typedef enum { QV_AE_STRATEGY_EX_BRIGHTTONE = 0, QV_AE_STRATEGY_EX_DARKTONE = 1 } MI_ISP_AE_STRATEGY_EX_PRIORITY_e;

typedef struct {
    MI_ISP_BOOL_e bEnable;
    MI_ISP_AE_STRATEGY_EX_MODE_e eMode;
    MI_ISP_AE_STRATEGY_EX_PRIORITY_e ePriority;
    uint16_t u16BT_NodeNum;
    int32_t u32BT_NodeBV[16];  // signed, in spite of the name
    uint32_t u32BT_ThdY[16];
    uint32_t u32BT_Percentx10[16];
    uint32_t u32BT_TargetYx10[16];
    uint32_t u32BT_MaxOffsetDown[16];
    uint16_t u16DT_NodeNum;
    int32_t u32DT_NodeBV[16];
    uint32_t u32DT_ThdY[16];
    uint32_t u32DT_Percentx10[16];
    uint32_t u32DT_TargetYx10[16];
    uint32_t u32DT_MaxOffsetUp[16];
} MI_ISP_AE_STRATEGY_EX_TYPE_t;

typedef struct {
    uint16_t u16GMBlendRatio;
    uint16_t u16UpperLimitTargetx10;
    uint16_t u16LowerLimitTargetx10;
    uint16_t u16BTCntPcntx10;
    uint16_t u16DTCntPcntx10;
    uint16_t u16BTYx10;
    uint16_t u16DTYx10;
} MI_ISP_AE_STRATEGY_EX_INFO_TYPE_t;

typedef struct {
    MI_ISP_BOOL_e bEnable;
    uint16_t u16MaxYWithIR;
    uint16_t u16MinISPGainCompRatio;
} MI_ISP_AE_RGBIR_AE_TYPE_t;

typedef struct {
    MI_ISP_AE_INTP_LUT_TYPE_t stAeHdrRatio;
} MI_ISP_AE_HDR_TYPE_t;

typedef struct {
    MI_ISP_BOOL_e bEnable;
    uint16_t u16DiffThd;
    uint16_t u16Percent;
} MI_ISP_AE_STABILIZER_TYPE_t;

typedef struct {
    MI_ISP_BOOL_e bEnable;
    int32_t s32D2N_BvThd;
    uint32_t u32N2D_VsbLtScoreThd;
} MI_ISP_DAYNIGHT_DETECTION_TYPE_t;

typedef struct {
    MI_ISP_BOOL_e bD2N;
    MI_ISP_BOOL_e bN2D;
    uint32_t u32N2D_VsbLtScore;
} MI_ISP_DAYNIGHT_INFO_TYPE_t;

// ---- AWB ---------------------------------------------------------------------
typedef struct {
    MI_ISP_BOOL_e bIsStable;
    uint16_t u16Rgain;
    uint16_t u16Grgain;
    uint16_t u16Gbgain;
    uint16_t u16Bgain;
    uint16_t u16ColorTemp;
    uint8_t u8WPInd;
    MI_ISP_BOOL_e bMultiLSDetected;
    uint8_t u8FirstLSInd;
    uint8_t u8SecondLSInd;
} MI_ISP_AWB_QUERY_INFO_TYPE_t;

typedef enum { QV_AWB_MODE_AUTO = 0, QV_AWB_MODE_MANUAL = 1, QV_AWB_MODE_CTMANUAL = 2 } MI_ISP_AWB_MODE_TYPE_e;
typedef enum {
    QV_AWB_ALG_GRAYWORLD = 0,
    QV_AWB_ALG_NORMAL = 1,
    QV_AWB_ALG_BALANCE = 2,
    QV_AWB_ALG_FOCUS = 3,
} MI_ISP_AWB_ALG_TYPE_e;
typedef enum { QV_AWB_ADV_DEFAULT = 0, QV_AWB_ADV_ADVANCE = 1 } MI_ISP_AWB_ADV_TYPE_e;

typedef struct {
    uint16_t u16Rgain;
    uint16_t u16Grgain;
    uint16_t u16Gbgain;
    uint16_t u16Bgain;
} MI_ISP_AWB_MWB_PARAM_t;

typedef struct {
    uint16_t u16MaxRgain;
    uint16_t u16MinRgain;
    uint16_t u16MaxBgain;
    uint16_t u16MinBgain;
} MI_ISP_AWB_CT_LIMIT_PARAM_t;

typedef struct {
    uint16_t u16Weight[10];
} MI_ISP_AWB_LV_CT_WEIGHT_PARAM_t;

typedef struct {
    uint16_t u16Ratio[10];
} MI_ISP_AWB_CT_RATIO_PARAM_t;

typedef struct {
    uint8_t u8Speed;
    uint8_t u8ConvInThd;
    uint8_t u8ConvOutThd;
    MI_ISP_AWB_ALG_TYPE_e eAlgType;
    MI_ISP_AWB_ADV_TYPE_e eAdvType;
    uint8_t u8RGStrength;
    uint8_t u8BGStrength;
    MI_ISP_AWB_CT_LIMIT_PARAM_t stCTLimit;
    MI_ISP_AWB_LV_CT_WEIGHT_PARAM_t stLvWeight[18];
    MI_ISP_AWB_CT_RATIO_PARAM_t stPreferRRatio[18];
    MI_ISP_AWB_CT_RATIO_PARAM_t stPreferBRatio[18];
    uint16_t u16WpWeight[10];
    uint32_t u32WeightWin[81];
} AWB_ATTR_PARAM_t;

typedef struct {
    MI_ISP_SM_STATE_TYPE_e eState;
    MI_ISP_AWB_MODE_TYPE_e eOpType;
    MI_ISP_AWB_MWB_PARAM_t stManualParaAPI;
    AWB_ATTR_PARAM_t stAutoParaAPI;
} MI_ISP_AWB_ATTR_TYPE_t;

typedef struct {
    uint16_t u16WhiteRgain;
    uint16_t u16WhiteBgain;
    uint8_t u8AreaSize;
    MI_ISP_BOOL_e bExclude;
} MI_ISP_AWB_EXTRA_LIGHT_PARAM_t;

typedef struct {
    MI_ISP_BOOL_e bExtraLightEn;
    MI_ISP_AWB_EXTRA_LIGHT_PARAM_t stLightInfo[4];
} MI_ISP_AWB_ATTR_EX_TYPE_t;

typedef struct {
    MI_ISP_BOOL_e bEnable;
    uint8_t u8Sensitive;
    uint8_t u8CaliStrength;
    uint16_t u16CcmForLow[9];
    uint16_t u16CcmForHigh[9];
} MI_ISP_AWB_MULTILS_LS_TYPE_t;

typedef struct {
    uint16_t u16StartIdx;
    uint16_t u16EndIdx;
    uint16_t u16CtParams[40];
} MI_ISP_AWB_CT_CALI_TYPE_t;

typedef struct {
    uint16_t u16CtParams[40];
} MI_ISP_AWB_CUR_CT_CALI_TYPE_t;

typedef struct {
    uint16_t u16Width;
    uint16_t u16Height;
    uint16_t u16StatisX[5760];
    uint16_t u16StatisY[5760];
} MI_ISP_AWB_CT_STATISTICS_TYPE_t;

typedef struct {
    uint8_t u8AwbBuffer[34560];
} MI_ISP_AWB_HW_STATISTICS_TYPE_t;

typedef struct {
    uint32_t u32CT;
} MI_ISP_AWB_CTMWB_PARAM_t;

typedef struct {
    MI_ISP_BOOL_e bEnable;
    uint16_t u16GlbGainThd;
    uint16_t u16CountThd;
    uint16_t u16ForceTriGainThd;
} MI_ISP_AWB_STABILIZER_PARAM_t;

// ---- AF (also the AF algorithm's user setting) ------------------------------
// The filter, pre-filter, luma map and LDG records are the driver's own.
typedef enum { IQ_AF_ROI_MODE_NORMAL = 0, IQ_AF_ROI_MODE_MATRIX = 1 } AF_ROI_MODE_TYPE_e;

typedef struct {
    AF_ROI_MODE_TYPE_e eMode;
    uint32_t u32VerticalBlockNumber;
} MI_ISP_AF_HW_ROI_MODE_TYPE_t;

typedef struct {
    uint16_t u16StartX;
    uint16_t u16StartY;
    uint16_t u16EndX;
    uint16_t u16EndY;
} AF_WIN_TYPE_t;

typedef struct {
    AF_WIN_TYPE_t stParaAPI[16];
} MI_ISP_AF_HW_WIN_TYPE_t;

typedef CusAFFilter_t MI_ISP_AF_HW_FILTER_ATTR_TYPE_t;

typedef CusAFFilterSq_t MI_ISP_AF_HW_FILTERSQ_TYPE_t;

typedef struct {
    uint8_t u8R;
    uint8_t u8G;
    uint8_t u8B;
} MI_ISP_AF_HW_YPARAM_TYPE_t;

typedef enum {
    IQ_AF_SOURCE_FROM_SE_OBC_BF_HDR = 2,
    IQ_AF_SOURCE_FROM_SE_WBG_BF_HDR = 3,
    IQ_AF_SOURCE_FROM_ALSC_AF_HDR = 4,
    IQ_AF_SOURCE_FROM_WBG_AF_HDR = 5,
    IQ_AF_SOURCE_FROM_LE_OBC_BF_HDR = 6,
    IQ_AF_SOURCE_FROM_LE_WBG_BF_HDR = 7,
} MI_ISP_AF_HW_SOURCE_TYPE_e;

typedef CusAFPreFilter_t MI_ISP_AF_HW_PREFILTER_TYPE_t;

typedef CusAFYMap_t MI_ISP_AF_HW_YMAP_TYPE_t;

typedef CusAFLdg_t MI_ISP_AF_HW_LDG_TYPE_t;

typedef enum { QV_AF_ALGO_ONESHOT = 0, QV_AF_ALGO_CONTINUOUS = 1 } MI_ISP_AF_ALGO_TYPE_e;

typedef struct {
    MI_ISP_SM_STATE_TYPE_e eState;
    MI_ISP_OP_TYPE_e eType;
    uint16_t u16ManualMotorPos;
    MI_ISP_AF_ALGO_TYPE_e eAlgo;
} MI_ISP_AF_ATTR_TYPE_t;

typedef struct {
    uint16_t u16MinMotorPos;
    uint16_t u16MaxMotorPos;
    uint16_t u16MinMotorStep;
    uint16_t u16MaxMotorStep;
} MI_ISP_AF_MOTOR_TYPE_t;

typedef struct {
    uint8_t u8WinNumX;
    uint8_t u8WinNumY;
    MI_ISP_BOOL_e bEqualWinWgt;
    uint8_t u8WinWgt[256];
    MI_ISP_BOOL_e bIIRHBlendEn;
    uint8_t u8IIRHWgt_FirstBlendIIRL;
    uint8_t u8IIRHWgt_SecondBlendSBLV;
    uint8_t u8IIRHWgt_ThirdBlendSBLH;
} MI_ISP_AF_ACC_WEIGHT_TYPE_t;

typedef enum : uint32_t {
    QV_AF_ACC_IIRH = 0,
    QV_AF_ACC_IIRL = 1,
    QV_AF_ACC_SBLV = 2,
    QV_AF_ACC_SBLH = 3,
    QV_AF_ACC_LUMA = 4,
    QV_AF_ACC_MAX = 0xFFFFFFFF,  // no selection
} MI_ISP_AF_ACC_SEL_TYPE_e;

typedef struct {
    MI_ISP_AF_ACC_SEL_TYPE_e eAccSel;
    uint16_t u16MotorStep;
} MI_ISP_AF_ONESHOT_TYPE_t;

typedef struct {
    MI_ISP_AF_ACC_SEL_TYPE_e ePreAfAccSel;
    uint8_t u8PreAeAccDiffThOft;
    uint8_t u8PreAeAccDiffThSlp;
    uint8_t u8PreAeAccCntThOft;
    uint8_t u8PreAeAccCntThSlp;
    uint8_t u8PreAfAccDiffThOft;
    uint8_t u8PreAfAccDiffThSlp;
    uint8_t u8PreAfAccCntThOft;
    uint8_t u8PreAfAccCntThSlp;
    MI_ISP_AF_ACC_SEL_TYPE_e eFocusAfAccSel;
    uint8_t u8FocusAeAccDiffTh;
    uint8_t u8FocusAeAccCntTh;
    uint8_t u8FocusAfAccDiffTh;
    uint8_t u8FocusAfAccCntTh;
    uint8_t u8StableCntTh;
} MI_ISP_AF_SCENE_CHANGE_TYPE_t;

typedef struct {
    uint16_t u16SearchMotorStep;
    uint16_t u16SearchMotorDirByPosTh;
    MI_ISP_AF_ACC_SEL_TYPE_e eSearchAccSel;
} MI_ISP_AF_SEARCH_START_TYPE_t;

typedef struct {
    uint8_t u8MinMaxAccRatioPeakThOft;
    uint8_t u8MinMaxAccRatioPeakThSlp;
    uint8_t u8AccDecCntPeakTh;
    uint8_t u8NowFakeMaxAccRatioPeakTh;
    uint8_t u8AccDecCntWrongDirTh;
    uint8_t u8NowFakeMaxAccRatioWrongDirTh;
} MI_ISP_AF_SEARCH_TYPE_t;

#define ISP_API_RECORD_SIZE(T, n) static_assert(sizeof(T) == (n), #T " layout")
ISP_API_RECORD_SIZE(MI_ISP_AE_HIST_WEIGHT_Y_TYPE_t, 520);
ISP_API_RECORD_SIZE(MI_ISP_AE_EXPO_VALUE_TYPE_t, 16);
ISP_API_RECORD_SIZE(MI_ISP_AE_EXPO_INFO_TYPE_t, 572);
ISP_API_RECORD_SIZE(MI_ISP_AE_EV_COMP_TYPE_t, 8);
ISP_API_RECORD_SIZE(MI_ISP_AE_MODE_TYPE_e, 4);
ISP_API_RECORD_SIZE(MI_ISP_AE_INTP_LUT_TYPE_t, 132);
ISP_API_RECORD_SIZE(MI_ISP_AE_CONV_CONDITON_TYPE_t, 40);
ISP_API_RECORD_SIZE(MI_ISP_AE_EXPO_LIMIT_TYPE_t, 32);
ISP_API_RECORD_SIZE(MI_ISP_AE_EXPO_TABLE_TYPE_t, 260);
ISP_API_RECORD_SIZE(MI_ISP_AE_WIN_WEIGHT_MODE_TYPE_e, 4);
ISP_API_RECORD_SIZE(MI_ISP_AE_WIN_WEIGHT_TYPE_t, 3076);
ISP_API_RECORD_SIZE(MI_ISP_AE_FLICKER_TYPE_e, 4);
ISP_API_RECORD_SIZE(MI_ISP_AE_FLICKER_EX_TYPE_t, 16);
ISP_API_RECORD_SIZE(MI_ISP_AE_FLICKER_EX_INFO_TYPE_t, 12);
ISP_API_RECORD_SIZE(MI_ISP_AE_STRATEGY_TYPE_t, 296);
ISP_API_RECORD_SIZE(MI_ISP_AE_STRATEGY_EX_TYPE_t, 660);
ISP_API_RECORD_SIZE(MI_ISP_AE_STRATEGY_EX_INFO_TYPE_t, 14);
ISP_API_RECORD_SIZE(MI_ISP_AE_RGBIR_AE_TYPE_t, 8);
ISP_API_RECORD_SIZE(MI_ISP_AE_HDR_TYPE_t, 132);
ISP_API_RECORD_SIZE(MI_ISP_AE_STABILIZER_TYPE_t, 8);
ISP_API_RECORD_SIZE(MI_ISP_DAYNIGHT_DETECTION_TYPE_t, 12);
ISP_API_RECORD_SIZE(MI_ISP_DAYNIGHT_INFO_TYPE_t, 12);
ISP_API_RECORD_SIZE(MI_ISP_AWB_QUERY_INFO_TYPE_t, 24);
ISP_API_RECORD_SIZE(AWB_ATTR_PARAM_t, 1448);
ISP_API_RECORD_SIZE(MI_ISP_AWB_ATTR_TYPE_t, 1464);
ISP_API_RECORD_SIZE(MI_ISP_AWB_ATTR_EX_TYPE_t, 52);
ISP_API_RECORD_SIZE(MI_ISP_AWB_MULTILS_LS_TYPE_t, 44);
ISP_API_RECORD_SIZE(MI_ISP_AWB_CT_CALI_TYPE_t, 84);
ISP_API_RECORD_SIZE(MI_ISP_AWB_CUR_CT_CALI_TYPE_t, 80);
ISP_API_RECORD_SIZE(MI_ISP_AWB_CT_STATISTICS_TYPE_t, 23044);
ISP_API_RECORD_SIZE(MI_ISP_AWB_HW_STATISTICS_TYPE_t, 34560);
ISP_API_RECORD_SIZE(MI_ISP_AWB_CTMWB_PARAM_t, 4);
ISP_API_RECORD_SIZE(MI_ISP_AWB_STABILIZER_PARAM_t, 12);
ISP_API_RECORD_SIZE(MI_ISP_AF_HW_ROI_MODE_TYPE_t, 8);
ISP_API_RECORD_SIZE(MI_ISP_AF_HW_WIN_TYPE_t, 128);
ISP_API_RECORD_SIZE(MI_ISP_AF_HW_FILTER_ATTR_TYPE_t, 84);
ISP_API_RECORD_SIZE(MI_ISP_AF_HW_FILTERSQ_TYPE_t, 52);
ISP_API_RECORD_SIZE(MI_ISP_AF_HW_YPARAM_TYPE_t, 3);
ISP_API_RECORD_SIZE(MI_ISP_AF_HW_SOURCE_TYPE_e, 4);
ISP_API_RECORD_SIZE(MI_ISP_AF_HW_PREFILTER_TYPE_t, 12);
ISP_API_RECORD_SIZE(MI_ISP_AF_HW_YMAP_TYPE_t, 28);
ISP_API_RECORD_SIZE(MI_ISP_AF_HW_LDG_TYPE_t, 40);
ISP_API_RECORD_SIZE(MI_ISP_AF_ATTR_TYPE_t, 16);
ISP_API_RECORD_SIZE(MI_ISP_AF_MOTOR_TYPE_t, 8);
ISP_API_RECORD_SIZE(MI_ISP_AF_ACC_WEIGHT_TYPE_t, 272);
ISP_API_RECORD_SIZE(MI_ISP_AF_ONESHOT_TYPE_t, 8);
ISP_API_RECORD_SIZE(MI_ISP_AF_SCENE_CHANGE_TYPE_t, 24);
ISP_API_RECORD_SIZE(MI_ISP_AF_SEARCH_START_TYPE_t, 8);
ISP_API_RECORD_SIZE(MI_ISP_AF_SEARCH_TYPE_t, 6);
#undef ISP_API_RECORD_SIZE
static_assert(offsetof(MI_ISP_AE_STRATEGY_EX_TYPE_t, u16DT_NodeNum) == 336, "strategy EX layout");
static_assert(offsetof(AWB_ATTR_PARAM_t, u32WeightWin) == 1124, "AWB attribute layout");
static_assert(offsetof(MI_ISP_AWB_QUERY_INFO_TYPE_t, u8FirstLSInd) == 20, "AWB query layout");
