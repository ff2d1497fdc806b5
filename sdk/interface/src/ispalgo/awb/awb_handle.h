// The AWB algorithm's handle: its records, constant tables and methods.
// Everything outside this folder reaches the algorithm through AwbInit,
// DoAwb, AwbRelease and the handle's method slots.
#pragma once
#include "awb_algo.h"
#include "iq_cfg.h"
#include "lx_types.h"

#define AWB_GAIN_UNIT 1024
#define AWB_GAIN_MAX 8191
#define AWB_GAIN_MIN_LIMIT 256
#define AWB_STATIS_COLS 128
#define AWB_STATIS_ROWS 90
#define AWB_LV_POINTS 18
#define AWB_USER_AREA_NUM 4
#define AWB_CT_HIGHPRE_NUM 19
#define AWB_PRE_GAIN_NUM 8

// The control path stores what a caller sends: the state and mode
// enumerations hold any 32-bit value.
typedef enum : LX_U32 {
    AWB_SM_CAL = 0,
    AWB_SM_MANUAL = 1,
    AWB_SM_CTMANUAL = 2,
    AWB_SM_STOP = 3,
    AWB_SM_PAUSE = 4,
    AWB_SM_RESUME = 5,
    AWB_SM_END = 6,
} AWB_SM;

typedef enum : LX_U32 { AWB_API_STATE_NORMAL = 0, AWB_API_STATE_PAUSE = 1 } AWB_API_STATE;
typedef enum : LX_U32 { AWB_API_MODE_AUTO = 0, AWB_API_MODE_MANUAL = 1, AWB_API_MODE_CTMANUAL = 2 } AWB_API_MODE;

typedef enum : LX_U32 {
    AWB_ALG_GRAYWORLD = 0,
    AWB_ALG_NORMAL = 1,
    AWB_ALG_BALANCE = 2,
    AWB_ALG_FOCUS = 3,
    AWB_ALG_NUM = 4,
} AWB_ALG_MODE;

typedef enum : LX_U32 { AWB_ADV_DEFAULT = 0, AWB_ADV_ADVANCE = 1 } AWB_ADV_MODE;

typedef enum {
    AWB_CT_HIGH_1 = 0,
    AWB_CT_HIGH_2 = 1,
    AWB_CT_HIGH_3 = 2,
    AWB_CT_6500K = 3,
    AWB_CT_5000K = 4,
    AWB_CT_4000K = 5,
    AWB_CT_3000K = 6,
    AWB_CT_2300K = 7,
    AWB_CT_1500K = 8,
    AWB_CT_1000K = 9,
    AWB_CT_NUM = 10,
} AWB_CT;

typedef enum {
    AWB_CT_HIGHPRE_20000k = 0,
    AWB_CT_HIGHPRE_17500k,
    AWB_CT_HIGHPRE_15000k,
    AWB_CT_HIGHPRE_12500k,
    AWB_CT_HIGHPRE_10000k,
    AWB_CT_HIGHPRE_8250k,
    AWB_CT_HIGHPRE_6500K,
    AWB_CT_HIGHPRE_5750K,
    AWB_CT_HIGHPRE_5000K,
    AWB_CT_HIGHPRE_4500K,
    AWB_CT_HIGHPRE_4000K,
    AWB_CT_HIGHPRE_3500K,
    AWB_CT_HIGHPRE_3000K,
    AWB_CT_HIGHPRE_2650K,
    AWB_CT_HIGHPRE_2300K,
    AWB_CT_HIGHPRE_1900K,
    AWB_CT_HIGHPRE_1500K,
    AWB_CT_HIGHPRE_1250K,
    AWB_CT_HIGHPRE_1000K,
} AWB_CT_HIGHPRE;

typedef enum {
    AWB_GAIN_1 = 0,
    AWB_GAIN_2 = 1,
    AWB_GAIN_MIX_1 = 2,
    AWB_GAIN_MIX_2 = 3,
    AWB_GAIN_PREFER_1 = 4,
    AWB_GAIN_USER = 5,
    AWB_GAIN_NORMAL = 6,
    AWB_GAIN_COMP = 7,
    AWB_GAIN_PRE = 8,
    AWB_GAIN_TARGET = 9,
    AWB_GAIN_NUM = 10,
} AWB_GAIN_SLOT;

typedef enum {
    AWB_DEBUG_ALGO = 1,
    AWB_DEBUG_LIGHTAREA = 2,
    AWB_DEBUG_MultiLS = 3,
    AWB_DEBUG_IR_CUT = 4,
} AWB_DEBUG;

typedef enum {
    AWB_CALI_DEFAULT_H = 0,
    AWB_CALI_CT_H = 1,
    AWB_CALI_DEFAULT_L = 2,
    AWB_CALI_CT_L = 3,
    AWB_CALI_NUM = 4,
} AWB_CALI_GAIN;

typedef struct {
    LX_U16 u2MaxRgain;
    LX_U16 u2MinRgain;
    LX_U16 u2MaxBgain;
    LX_U16 u2MinBgain;
} AWB_CTLIMIT;

typedef struct {
    LX_U32 u4Rgain;
    LX_U32 u4Bgain;
} AWB_RBGAIN;

typedef struct {
    LX_U32 u4Confidence;
    LX_U32 u4FrameCnt;
    LX_U32 u4Rgain;
    LX_U32 u4Bgain;
} AWB_PRE_GAIN;

typedef struct {
    LX_U32 u4Rgain;
    LX_U32 u4Grgain;
    LX_U32 u4Gbgain;
    LX_U32 u4Bgain;
} AWB_ISP_GAIN;

typedef struct {
    LX_U16 u2ColorTemp;
    LX_U16 u2Rgain;
    LX_U16 u2Grgain;
    LX_U16 u2Gbgain;
    LX_U16 u2Bgain;
} AWB_CT_CURVE;

typedef struct {
    LX_U16 u2Rgain;
    LX_U16 u2Grgain;
    LX_U16 u2Gbgain;
    LX_U16 u2Bgain;
} MWB_PARAMS;

typedef struct {
    LX_U32 u4CT;
} CTMWB_PARAMS;

typedef struct {
    LX_CAM_BOOL bEnable;
    LX_S32 s4D2N_BvThd;
    LX_U32 u4N2D_VsbLtScoreThd;
} AWB_DAYNIGHT_DETECTION_PARAM;

typedef struct {
    LX_CAM_BOOL bNight2Day;
    LX_U32 u4N2D_VsbLtScore;
} AWB_DAYNIGHT_DETECTION_INFO;

typedef struct {
    AWB_DAYNIGHT_DETECTION_PARAM strParam;
    AWB_DAYNIGHT_DETECTION_INFO strInfo;
} AWB_DAYNIGHT_DETECTION;

typedef struct {
    LX_CAM_BOOL bEnable;
    LX_U16 u2GlbGainThd;
    LX_U16 u2CountThd;
    LX_U16 u2ForceTriGainThd;
} AWB_STABILIZER_PARAM;

typedef struct {
    AWB_RBGAIN RefGW;
    AWB_RBGAIN CurGW;
    LX_U16 u2UnStbCnt;
} AWB_STABILIZER_INFO;

typedef struct {
    AWB_STABILIZER_PARAM strParam;
    AWB_STABILIZER_INFO strInfo;
} AWB_STABILIZER;

// A quadrilateral of the white-point plane: left edge P0 (upper) - P1
// (lower), right edge P2 (lower) - P3 (upper).
typedef struct {
    LX_S32 P0_X, P0_Y, P1_X, P1_Y, P2_X, P2_Y, P3_X, P3_Y;
} AWB_LIGHT_AREA;

typedef struct {
    LX_CAM_BOOL bEnable;
    LX_CAM_BOOL bExclude;
    LX_U16 u2LvValue;
} AWB_LIGHT_USER;

typedef struct _AWB_WHITE_LT_S {
    LX_U16 u2WhiteRgain;
    LX_U16 u2WhiteBgain;
    LX_U16 u2LvValue;
    LX_U8 uAreaSize;  // side of the square, 1..32
    LX_CAM_BOOL bExclude;
} ADV_LT_UNIT;

typedef struct {
    LX_CAM_BOOL bEnable;
    ADV_LT_UNIT stUserArea[AWB_USER_AREA_NUM];
} ADV_PARAMS;

// The window-weighted members are 64 bits wide: a window weight may be any
// 32-bit value, and a uniform weight of any size must give the gains of
// weight 8. Bounds (23040 blocks at most, HDR included): region count below
// 2^47, sums below 2^55, weight below 2^57.
typedef struct {
    LX_U32 u4Count;
    LX_U64 u4RegionCount;
    LX_U64 u4Weight;
    LX_U32 u4LvWeight;
    LX_U64 u4SumR;
    LX_U64 u4SumG;
    LX_U64 u4SumB;
} AWB_LIGHT_COUNT;

// Area i at 4i..4i+3 as {x, y, width, height}.
typedef struct _AWB_CT_CALIB_S {
    LX_U16 u2StartIdx;
    LX_U16 u2EndIdx;
    LX_U16 u2CtParams[4 * AWB_CT_NUM];
} AWB_CT_CALIB_S;

typedef struct _AWB_CT_PARAMS_S {
    LX_U16 u2CtParams[4 * AWB_CT_NUM];
} AWB_CT_PARAMS_S;

typedef struct {
    LX_U16 u2HighRg;
    LX_U16 u2HighBg;
    LX_U16 u2LowRg;
    LX_U16 u2LowBg;
} AWB_UNIT_CALIB_GAIN_S;

typedef struct _AWB_UNIT_CALIB_ATTR_S {
    LX_U32 u4HighCT;
    LX_U32 u4LowCT;
    LX_U32 u4CaliNum;
    AWB_UNIT_CALIB_GAIN_S sGolden;
    AWB_UNIT_CALIB_GAIN_S sModule;
} AWB_UNIT_CALIB_ATTR_S;

typedef struct {
    LX_CAM_BOOL bEnable;
    LX_U16 u2CaliLightNum;
    AWB_RBGAIN sCaliGain[AWB_CALI_NUM];
} AWB_CALIDATA;

// Corner matrices x1024; values above 4096 stand for value - 8192.
typedef struct {
    LX_CAM_BOOL bEnable;
    LX_U8 uSensitive;
    LX_U8 uCaliStrength;
    LX_U16 u2CcmForLow[9];
    LX_U16 u2CcmForHigh[9];
} AWB_MULTI_LS_PARAM;

typedef struct {
    LX_CAM_BOOL bMultiLSDetected;
    LX_CAM_BOOL bApiCcmUpdate;
    LX_U8 uFisrtLSInd;
    LX_U8 uSecondLSInd;
    LX_S8 Rratio_Target;
    LX_S8 Bratio_Target;
    LX_S8 Rratio_Current;
    LX_S8 Bratio_Current;
    LX_S8 Rratio_Previous;
    LX_S8 Bratio_Previous;
} AWB_MULTI_LS_INFO;

typedef struct {
    AWB_MULTI_LS_PARAM sParam;
    AWB_MULTI_LS_INFO sInfo;
    LX_U16 u2AwbDynamicCTWeight[2][AWB_CT_NUM];  // row 0 current, row 1 target
    LX_U32 u4ChkWpWeight[AWB_CT_NUM];
    LX_U8 uRefWPInd;
    LX_U8 uRefWPStableCount;
} AWB_MULTI_LS;

typedef struct {
    AWB_SM eAwbState;
    AWB_API_STATE eApiState;
    AWB_API_MODE eApiMode;
    LX_U8 uSpeed;
    LX_U8 uConvInThd;
    LX_U8 uConvOutThd;
    AWB_ALG_MODE eAlgType;
    AWB_ADV_MODE eAdvType;
    LX_U8 uRGStrength;
    LX_U8 uBGStrength;
    AWB_CTLIMIT stCTLimit;
    LX_U16 u2LvWeight[AWB_CT_NUM][AWB_LV_POINTS];
    LX_U16 u2PreferRRatio[AWB_CT_NUM][AWB_LV_POINTS];
    LX_U16 u2PreferBRatio[AWB_CT_NUM][AWB_LV_POINTS];
    LX_U16 u2WpWeight[AWB_CT_NUM];
    LX_U32 u4WeightWin[9][9];
} AWB_PARAMS;

typedef struct {
    AWB_PARAMS Awb;
    MWB_PARAMS Mwb;
    CTMWB_PARAMS CtMwb;
    ADV_PARAMS Adv;
    LX_U16 u2LightStart;
    LX_U16 u2LightEnd;
    AWB_LIGHT_AREA stAwbLightArea[AWB_CT_NUM];
    AWB_LIGHT_AREA stAwbLightAreaHighPreTotal[AWB_CT_HIGHPRE_NUM];
    AWB_LIGHT_AREA stAwbCaliLightArea[AWB_CT_NUM];
    AWB_LIGHT_AREA stAwbLightUserArea[AWB_USER_AREA_NUM];
    AWB_LIGHT_USER stAwbLightUserParam[AWB_USER_AREA_NUM];
    AWB_CT_CURVE stAwbCtCurve[AWB_CT_NUM];
    LX_U8 uDbgLevel;
    LX_U16 u2SubSampleX;
    LX_U16 u2SubSampleY;
    LX_U16 u2LumMax;
    LX_U16 u2LumMin;
    LX_U16 u2CountThd;
    LX_U8 uDoFastAWBThr;
    LX_U8 uMixThirdThd;
    LX_U16 u2AwbDefaultGainPercent[AWB_CT_NUM][AWB_LV_POINTS];
    LX_U16 u2LowLuxThd;
    LX_U16 u2StatisBlkValidX;
    LX_U16 u2StatisBlkValidY;
    LX_U16 u2StatisBlkValidLowLuxX;
    LX_U16 u2StatisBlkValidLowLuxY;
} AWB_ADJUSTABLE_SETTING;

typedef struct __cam_awb_handle_t cam_awb_handle_t;
typedef cam_awb_handle_t *AWB_HND;

struct __cam_awb_handle_t {
    LX_S32 (*pAWB_SetApiState)(AWB_HND, AWB_API_STATE);
    LX_S32 (*pAWB_GetApiState)(AWB_HND, AWB_API_STATE *);
    LX_S32 (*pAWB_SetApiMode)(AWB_HND, AWB_API_MODE);
    LX_S32 (*pAWB_GetApiMode)(AWB_HND, AWB_API_MODE *);
    LX_S32 (*pAWB_SetMwbAttr)(AWB_HND, const MWB_PARAMS *);
    LX_S32 (*pAWB_GetMwbAttr)(AWB_HND, MWB_PARAMS *);
    LX_S32 (*pAWB_SetConvergeSpeed)(AWB_HND, LX_U8);
    LX_S32 (*pAWB_GetConvergeSpeed)(AWB_HND, LX_U8 *);
    LX_S32 (*pAWB_SetConvergeThd)(AWB_HND, LX_U8, LX_U8);
    LX_S32 (*pAWB_GetConvergeThd)(AWB_HND, LX_U8 *, LX_U8 *);
    LX_S32 (*pAWB_SetAwbAlgMode)(AWB_HND, AWB_ALG_MODE);
    LX_S32 (*pAWB_GetAwbAlgMode)(AWB_HND, LX_U16 *);
    LX_S32 (*pAWB_SetAwbAdvMode)(AWB_HND, LX_U16);
    LX_S32 (*pAWB_GetAwbAdvMode)(AWB_HND, LX_U16 *);
    LX_S32 (*pAWB_SetGainStrength)(AWB_HND, LX_U8, LX_U8);
    LX_S32 (*pAWB_GetGainStrength)(AWB_HND, LX_U8 *, LX_U8 *);
    LX_S32 (*pAWB_SetCtLimit)(AWB_HND, AWB_CTLIMIT);
    LX_S32 (*pAWB_GetCtLimit)(AWB_HND, AWB_CTLIMIT *);
    LX_S32 (*pAWB_SetLvColorTempWeight)(AWB_HND, LX_U16, const LX_U16 *);
    LX_S32 (*pAWB_GetLvColorTempWeight)(AWB_HND, LX_U16, LX_U16 *);
    LX_S32 (*pAWB_SetPreferRRatio)(AWB_HND, LX_U16, const LX_U16 *);
    LX_S32 (*pAWB_GetPreferRRatio)(AWB_HND, LX_U16, LX_U16 *);
    LX_S32 (*pAWB_SetPreferBRatio)(AWB_HND, LX_U16, const LX_U16 *);
    LX_S32 (*pAWB_GetPreferBRatio)(AWB_HND, LX_U16, LX_U16 *);
    LX_S32 (*pAWB_SetWpWeight)(AWB_HND, const LX_U16 *);
    LX_S32 (*pAWB_GetWpWeight)(AWB_HND, LX_U16 *);
    LX_S32 (*pAWB_SetWeightWin)(AWB_HND, const LX_U32 *);
    LX_S32 (*pAWB_GetWeightWin)(AWB_HND, LX_U32 *);
    LX_S32 (*pAWB_SetUserExtraArea)(AWB_HND, ADV_PARAMS);
    LX_S32 (*pAWB_GetUserExtraArea)(AWB_HND, ADV_PARAMS *);
    LX_S32 (*pAWB_SetCTMwb)(AWB_HND, const CTMWB_PARAMS *);
    LX_S32 (*pAWB_GetCTMwb)(AWB_HND, CTMWB_PARAMS *);
    LX_S32 (*pAWB_SetDayNightDetectionParam)(AWB_HND, const AWB_DAYNIGHT_DETECTION_PARAM *);
    LX_S32 (*pAWB_GetDayNightDetectionParam)(AWB_HND, AWB_DAYNIGHT_DETECTION_PARAM *);
    LX_S32 (*pAWB_SetGoldenLightArea)(AWB_HND, const AWB_CT_CALIB_S *);
    LX_S32 (*pAWB_GetGoldenLightArea)(AWB_HND, AWB_CT_CALIB_S *);
    LX_S32 (*pAWB_GetCurLightArea)(AWB_HND, AWB_CT_PARAMS_S *);
    LX_S32 (*pAWB_SetStabilizer)(AWB_HND, const AWB_STABILIZER_PARAM *);
    LX_S32 (*pAWB_GetStabilizer)(AWB_HND, AWB_STABILIZER_PARAM *);
    LX_S32 (*pAWB_ApplyUnitCalibration)(AWB_HND, AWB_UNIT_CALIB_ATTR_S *);
    LX_S32 (*pAWB_GetCTStatistics)(AWB_HND, LX_U16 *, LX_U16 *, LX_U16 *, LX_U16 *);
    LX_S32 (*release)(AWB_HND);  // stays empty: AwbRelease frees the handle

    // The current call's records. The input is a copy, so nothing read
    // later (statistics getters) depends on the caller's record living on.
    AwbInput_t AwbInputParameter;
    AwbOutput_t *AwbOutputParameter;

    LX_U32 u4LvValue;
    LX_CAM_BOOL bDoInitFrameCnt;
    LX_U32 u4InitFrameCnt;
    LX_U32 u4SyncFrameCnt;
    LX_U16 u2ColorTemp;

    AWB_LIGHT_COUNT sTotalCount;
    AWB_LIGHT_COUNT sLightCount[AWB_CT_NUM];
    AWB_LIGHT_COUNT sLightCountHighPre[AWB_CT_HIGHPRE_NUM];
    AWB_LIGHT_COUNT sUserCount[AWB_USER_AREA_NUM];
    LX_U32 u4EffectTotalCount;

    AWB_ISP_GAIN sCurGain;
    AWB_ISP_GAIN sApplyGain;
    LX_U8 uLightFirst;
    LX_U8 uLightSecond;
    LX_U8 uLightThird;
    LX_U8 uUserLightFirst;
    AWB_PRE_GAIN sPreGain[AWB_PRE_GAIN_NUM];
    AWB_RBGAIN sLightGain[AWB_GAIN_NUM];
    LX_U8 IsStable;
    LX_U8 uGainStableCount;
    AWB_ISP_GAIN sInitGain;
    LX_CAM_BOOL bForceUpdate;
    AWB_LIGHT_AREA *pLightArea;

    AWB_ADJUSTABLE_SETTING AwbParam;

    AWB_CALIDATA sCaliData;
    AWB_MULTI_LS sMultiLS;
    AWB_DAYNIGHT_DETECTION sDNDetection;
    AWB_STABILIZER sStabilizer;
    AWB_ISP_GAIN sCurIspGain;
    ISP_DBGBUF_HANDLE isp_dbg_buf_handle;
};

// Constant tables.
extern const LX_U32 DivGTbl[256];
extern const LX_U8 MapX_Tbl[AWB_STATIS_COLS];
extern const LX_U8 MapY_Tbl[AWB_STATIS_ROWS];
extern const LX_U16 AwbDynamicCTWeight[2][AWB_CT_NUM];

// Saturating helpers: the counters and gains are 32 or 16 bits wide while
// the products feeding them are not.
static inline LX_U32 awb_sat_u32(LX_U64 v) { return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : (LX_U32)v; }
static inline LX_U16 awb_sat_u16(LX_U64 v) { return v > 0xFFFFull ? (LX_U16)0xFFFF : (LX_U16)v; }
static inline void awb_add_u32(LX_U32 *acc, LX_U64 v) { *acc = awb_sat_u32((LX_U64)*acc + v); }

// Products of the wide sums and weights with gains and weights pass 64
// bits; they are formed exactly in 128 bits made of two 64-bit halves (the
// board's compiler has no 128-bit type).
typedef struct {
    LX_U64 hi, lo;
} AWB_U128;

static inline AWB_U128 awb_u128(LX_U64 v) { return {0, v}; }
static inline AWB_U128 awb_add128(AWB_U128 a, AWB_U128 b) {
    const LX_U64 lo = a.lo + b.lo;
    return {a.hi + b.hi + (lo < a.lo ? 1u : 0u), lo};
}
static inline AWB_U128 awb_mul128(LX_U64 a, LX_U64 b) {
    const LX_U64 al = a & 0xFFFFFFFFu, ah = a >> 32, bl = b & 0xFFFFFFFFu, bh = b >> 32;
    const LX_U64 ll = al * bl, lh = al * bh, hl = ah * bl;
    const LX_U64 mid = (ll >> 32) + (lh & 0xFFFFFFFFu) + (hl & 0xFFFFFFFFu);
    return {ah * bh + (lh >> 32) + (hl >> 32) + (mid >> 32), (mid << 32) | (ll & 0xFFFFFFFFu)};
}
// floor(n / d) saturated to 64 bits, for d below 2^127; a d of 0 counts as 1.
LX_U64 awb_div128(AWB_U128 n, AWB_U128 d);
// floor(a * b / d), saturated.
static inline LX_U64 awb_muldiv(LX_U64 a, LX_U64 b, LX_U64 d) { return awb_div128(awb_mul128(a, b), awb_u128(d)); }
static inline LX_U32 awb_clamp_u32(LX_U32 v, LX_U32 lo, LX_U32 hi) { return v < lo ? lo : v > hi ? hi : v; }

// ---- statistics, light areas, light-source selection --------------------
LX_S32 pAWB_GetStatisticsExt(AWB_HND h);
LX_CAM_BOOL pAWB_GetLightSource(AWB_HND h);
LX_CAM_BOOL pAWB_GetUserLight(AWB_HND h);
void pAWB_RBgainToXY(AWB_HND h, LX_U32 nRgain, LX_U32 nBgain, LX_S32 *x, LX_S32 *y);
LX_U8 pAWB_GetLightArea(AWB_HND h, const AWB_LIGHT_AREA *areas, LX_U8 lightnum, LX_S32 x, LX_S32 y, LX_U16 StartIdx,
                        LX_U16 EndIdx);
void pAWB_GetLightAreaUser(AWB_HND h, LX_S32 x, LX_S32 y, LX_U8 *nLightIdx, LX_CAM_BOOL *bExclude);
void pAWB_GetLightAreaHighPrecisionCount(AWB_HND h, const AWB_LIGHT_AREA *areas, LX_U8 lightnum, LX_S32 x, LX_S32 y,
                                         LX_U32 index);
void pAWB_UpdateLightAeraHighPrecision(AWB_HND h);
void pAWB_GetLightWeight(AWB_HND h, LX_U8 lightsource, LX_U32 lv, LX_U16 *weight);
void pAWB_GetWeight(AWB_HND h, const LX_U16 *weight_table, LX_U32 lv, LX_U16 *weight);
// Gains of the curve point from a light area's mid-point; 0 for an area
// whose mid-point sums are 0.
void pAWB_BuildCtCurveGains(AWB_HND h, const AWB_LIGHT_AREA *areas);
LX_S32 pAWB_SetUserExtraArea(AWB_HND h, ADV_PARAMS adv);
LX_S32 pAWB_GetUserExtraArea(AWB_HND h, ADV_PARAMS *adv);
LX_S32 pAWB_SetGoldenLightArea(AWB_HND h, const AWB_CT_CALIB_S *p);
LX_S32 pAWB_GetGoldenLightArea(AWB_HND h, AWB_CT_CALIB_S *p);
LX_S32 pAWB_GetCurLightArea(AWB_HND h, AWB_CT_PARAMS_S *p);
LX_S32 pAWB_GetCTStatistics(AWB_HND h, LX_U16 *u2Width, LX_U16 *u2Height, LX_U16 *pStatisX, LX_U16 *pStatisY);

// ---- gains, convergence, manual modes ------------------------------------
LX_S32 pAWB_CalcGain(AWB_HND h);
LX_S32 pAWB_GainStrength(AWB_HND h);
LX_S32 pAWB_CheckGain(AWB_HND h);
LX_S32 pAWB_ApplyGain(AWB_HND h);
LX_S32 pAWB_ManualGain(AWB_HND h);
LX_S32 pAWB_CTManualGain(AWB_HND h);
LX_U32 pAWB_GetSmoothBySpeed(AWB_HND h, LX_U8 uSpeed, LX_U32 curr_value, LX_U32 final_value);
LX_S32 pAWB_ColorTempToGain(AWB_HND h, LX_U32 nCT, LX_U32 *nCtRgain, LX_U32 *nCtBgain);
LX_CAM_BOOL pAWB_isConverged(AWB_HND h);
LX_U16 pAWB_CalcColorTempByWeight(AWB_HND h);

// ---- multi-light-source colour correction, unit calibration -------------
LX_CAM_BOOL pAWB_CheckRefWhitePoint(AWB_HND h);
LX_CAM_BOOL pAWB_MultiLS_Check(AWB_HND h);
void pAWB_MultiLS_Defaults(AWB_HND h);
LX_U32 pAWB_Ccm_Inter(LX_U8 showMSG, LX_U8 doInter, LX_U32 xin, LX_U32 xinL, LX_U32 xinR, LX_U32 yinL, LX_U32 yinR);
LX_S32 pAWB_ApplyUnitCalibration(AWB_HND h, AWB_UNIT_CALIB_ATTR_S *attr);
LX_S32 pAWB_VerifyUnitCalibration(AWB_HND h, const AWB_UNIT_CALIB_ATTR_S *attr);
LX_S32 pAWB_InitCaliParam(AWB_HND h, LX_CAM_BOOL bLock);
