// Records of the ISP's IQ-API that the user-space 3A service exchanges with
// the ISP: statistics, sensor status, 3A results and AF hardware set-up.
#pragma once
#include "mi_common_datatype.h"

#define MI_ISP_STATS_MAX_BLOCKS 11520  // 128 x 90, the largest statistics grid

typedef struct {
    MI_BOOL bAE;
    MI_BOOL bAWB;
    MI_BOOL bAF;
} Cus3AEnable_t;

typedef struct {
    MI_U8 uAvgR;
    MI_U8 uAvgG;
    MI_U8 uAvgB;
    MI_U8 uAvgY;
} MI_ISP_AE_AVGS;

typedef struct {
    MI_U8 uAvgR;
    MI_U8 uAvgG;
    MI_U8 uAvgB;
} MI_ISP_AWB_AVGS;

typedef struct {
    MI_U32 nBlkX;
    MI_U32 nBlkY;
    MI_ISP_AE_AVGS nAvg[MI_ISP_STATS_MAX_BLOCKS];
} MI_ISP_AE_HW_STATISTICS_t;

typedef struct {
    MI_U32 nBlkX;
    MI_U32 nBlkY;
    MI_ISP_AWB_AVGS nAvg[MI_ISP_STATS_MAX_BLOCKS];
} MI_ISP_AWB_HW_STATISTICS_t;

typedef struct {
    MI_U16 nHisto[128];
} MI_ISP_HISTO_HW_STATISTICS_t;

typedef struct {
    MI_U16 nHisto[256];
} MI_ISP_RGBIR_HISTO_HW_STATISTICS_t;

typedef struct {
    MI_U32 Size;
    char sensor_id[32];
    MI_U32 shutter;
    MI_U32 shutter_step;
    MI_U32 shutter_min;
    MI_U32 shutter_max;
    MI_U32 sensor_gain;
    MI_U32 sensor_gain_min;
    MI_U32 sensor_gain_max;
    MI_U32 isp_gain;
    MI_U32 isp_gain_max;
    MI_U32 FNx10;
    MI_U32 fps;
    MI_U32 shutterHDRShort_step;
    MI_U32 shutterHDRShort_min;
    MI_U32 shutterHDRShort_max;
    MI_U32 sensor_gainHDRShort_min;
    MI_U32 sensor_gainHDRShort_max;
    MI_U32 AvgBlkX;
    MI_U32 AvgBlkY;
} CusAEInitParam_t;

typedef struct __attribute__((packed)) {
    MI_U32 Size;
    MI_U16 *hist1;
    MI_U16 *hist2;
    MI_U32 AvgBlkX;
    MI_U32 AvgBlkY;
    MI_ISP_AE_AVGS *avgs;
    MI_U32 Shutter;
    MI_U32 SensorGain;
    MI_U32 IspGain;
    MI_U32 ShutterHDRShort;
    MI_U32 SensorGainHDRShort;
    MI_U32 IspGainHDRShort;
    MI_U32 PreAvgY;
    MI_U8 HDRCtlMode;
    MI_U32 FNx10;
    MI_U32 CurFPS;
    MI_U32 PreWeightY;
} CusAEInfo_t;

typedef struct {
    MI_U32 Size;
    MI_U32 Change;
    MI_U32 Shutter;
    MI_U32 SensorGain;
    MI_U32 IspGain;
    MI_U32 ShutterHdrShort;
    MI_U32 SensorGainHdrShort;
    MI_U32 IspGainHdrShort;
    MI_U32 u4BVx16384;
    MI_U32 AvgY;
    MI_U32 HdrRatio;
    MI_U32 FNx10;
    MI_U32 DebandFPS;
    MI_U32 WeightY;
} CusAEResult_t;

typedef struct __attribute__((packed)) {
    MI_U32 Size;
    MI_U32 AvgBlkX;
    MI_U32 AvgBlkY;
    MI_U32 CurRGain;
    MI_U32 CurGGain;
    MI_U32 CurBGain;
    MI_ISP_AWB_AVGS *avgs;
    MI_U8 HDRMode;
    MI_ISP_AWB_AVGS **pAwbStatisShort;
    MI_U32 u4BVx16384;
    MI_S32 WeightY;
} CusAWBInfo_t;

typedef struct {
    MI_U32 Size;
    MI_U32 Change;
    MI_U32 R_gain;
    MI_U32 G_gain;
    MI_U32 B_gain;
    MI_U32 ColorTmp;
} CusAWBResult_t;

typedef struct {
    MI_U32 u32StartX;
    MI_U32 u32StartY;
    MI_U32 u32EndX;
    MI_U32 u32EndY;
} CusAFWinPara_t;

typedef struct {
    MI_U8 u8WindowIndex;
    CusAFWinPara_t stParaAPI;
} CusAFWin_t;

typedef struct {
    MI_U16 u16IIR1_a0, u16IIR1_a1, u16IIR1_a2, u16IIR1_b1, u16IIR1_b2;
    MI_U16 u16IIR1_1st_low_clip, u16IIR1_1st_high_clip, u16IIR1_2nd_low_clip, u16IIR1_2nd_high_clip;
    MI_U16 u16IIR2_a0, u16IIR2_a1, u16IIR2_a2, u16IIR2_b1, u16IIR2_b2;
    MI_U16 u16IIR2_1st_low_clip, u16IIR2_1st_high_clip, u16IIR2_2nd_low_clip, u16IIR2_2nd_high_clip;
    MI_U16 u16IIR1_e1_en, u16IIR1_e1_a0, u16IIR1_e1_a1, u16IIR1_e1_a2, u16IIR1_e1_b1, u16IIR1_e1_b2;
    MI_U16 u16IIR1_e2_en, u16IIR1_e2_a0, u16IIR1_e2_a1, u16IIR1_e2_a2, u16IIR1_e2_b1, u16IIR1_e2_b2;
    MI_U16 u16IIR2_e1_en, u16IIR2_e1_a0, u16IIR2_e1_a1, u16IIR2_e1_a2, u16IIR2_e1_b1, u16IIR2_e1_b2;
    MI_U16 u16IIR2_e2_en, u16IIR2_e2_a0, u16IIR2_e2_a1, u16IIR2_e2_a2, u16IIR2_e2_b1, u16IIR2_e2_b2;
} CusAFFilter_t;

typedef struct {
    MI_U16 u16Coeff[70];
} CusAFFilter_Geo_t;

typedef struct {
    MI_BOOL bSobelYSatEn;
    MI_U16 u16SobelYThd;
    MI_BOOL bIIRSquareAccEn;
    MI_BOOL bSobelSquareAccEn;
    MI_U16 u16IIR1Thd;
    MI_U16 u16IIR2Thd;
    MI_U16 u16SobelHThd;
    MI_U16 u16SobelVThd;
    MI_U8 u8AFTblX[12];
    MI_U16 u16AFTblY[13];
} CusAFFilterSq_t;

typedef enum {
    AF_ROI_MODE_NORMAL = 0,
    AF_ROI_MODE_MATRIX = 1,
} ISP_AF_ROI_MODE_e;

typedef struct {
    ISP_AF_ROI_MODE_e mode;
    MI_U32 u32_vertical_block_number;
} CusAFRoiMode_t;

typedef struct {
    MI_U8 r;
    MI_U8 g;
    MI_U8 b;
} CusAFYParam_t;

typedef struct {
    MI_U8 u8IIR1En, u8IIR1Cor, u8IIR1Hor, u8IIR1Vert, u8IIR1Cent, u8IIR1Div;
    MI_U8 u8IIR2En, u8IIR2Cor, u8IIR2Hor, u8IIR2Vert, u8IIR2Cent, u8IIR2Div;
} CusAFPreFilter_t;

typedef struct {
    MI_U8 u8En;
    MI_U8 u8LumaSource;
    MI_U8 u8YMapX[8];
    MI_U16 u16YMapY[9];
} CusAFYMap_t;

typedef struct {
    MI_U8 u8IIR1En;
    MI_U8 u8IIR2En;
    MI_U8 u8FIRHEn;
    MI_U8 u8FIRVEn;
    MI_U16 u16IIRCurveX[6];
    MI_U8 u8IIRCurveY[6];
    MI_U16 u16FIRCurveX[6];
    MI_U8 u8FIRCurveY[6];
} CusAFLdg_t;

typedef struct {
    MI_U32 Size;
    MI_U32 Change;
    MI_U32 NextPos;
} CusAfResult_t;

typedef struct {
    MI_U32 Size;
    MI_U32 MinPos;
    MI_U32 MaxPos;
    MI_U32 CurPos;
} CusAFInfo_t;

typedef enum {
    AF_SOURCE_FROM_SE_OBC_BF_HDR = 2,
    AF_SOURCE_FROM_SE_WBG_BF_HDR = 3,
    AF_SOURCE_FROM_ALSC_AF_HDR = 4,
    AF_SOURCE_FROM_WBG_AF_HDR = 5,
    AF_SOURCE_FROM_LE_OBC_BF_HDR = 6,
    AF_SOURCE_FROM_LE_WBG_BF_HDR = 7,
} CusAFSource_e;

// One row of AF windows: per filter, 16 columns of 5 bytes (value in bytes
// 1-4, little-endian); ysat holds 16 columns of 3 bytes.
typedef struct {
    MI_U8 iir_1[80];
    MI_U8 iir_2[80];
    MI_U8 luma[80];
    MI_U8 fir_v[80];
    MI_U8 fir_h[80];
    MI_U8 ysat[48];
} AF_STATS_PARAM_t;

typedef struct {
    AF_STATS_PARAM_t stParaAPI[16];
} CusAFStats_t;

typedef struct {
    char strIspRoot[64];
} MI_ISP_ROOT_PATH_T;

static_assert(sizeof(Cus3AEnable_t) == 3, "Cus3AEnable_t layout");
static_assert(sizeof(CusAEInitParam_t) == 108, "CusAEInitParam_t layout");
static_assert(sizeof(CusAEResult_t) == 56, "CusAEResult_t layout");
static_assert(sizeof(CusAWBResult_t) == 24, "CusAWBResult_t layout");
static_assert(sizeof(CusAFWin_t) == 20, "CusAFWin_t layout");
static_assert(sizeof(CusAFFilter_t) == 84, "CusAFFilter_t layout");
static_assert(sizeof(CusAFFilter_Geo_t) == 140, "CusAFFilter_Geo_t layout");
static_assert(sizeof(CusAFFilterSq_t) == 52, "CusAFFilterSq_t layout");
static_assert(sizeof(CusAFRoiMode_t) == 8, "CusAFRoiMode_t layout");
static_assert(sizeof(CusAFYParam_t) == 3, "CusAFYParam_t layout");
static_assert(sizeof(CusAFPreFilter_t) == 12, "CusAFPreFilter_t layout");
static_assert(sizeof(CusAFYMap_t) == 28, "CusAFYMap_t layout");
static_assert(sizeof(CusAFLdg_t) == 40, "CusAFLdg_t layout");
static_assert(sizeof(CusAfResult_t) == 12, "CusAfResult_t layout");
static_assert(sizeof(CusAFInfo_t) == 16, "CusAFInfo_t layout");
static_assert(sizeof(CusAFSource_e) == 4, "CusAFSource_e layout");
static_assert(sizeof(AF_STATS_PARAM_t) == 448, "AF_STATS_PARAM_t layout");
static_assert(sizeof(CusAFStats_t) == 7168, "CusAFStats_t layout");
static_assert(sizeof(MI_ISP_AE_HW_STATISTICS_t) == 46088, "MI_ISP_AE_HW_STATISTICS_t layout");
static_assert(sizeof(MI_ISP_AWB_HW_STATISTICS_t) == 34568, "MI_ISP_AWB_HW_STATISTICS_t layout");
static_assert(sizeof(MI_ISP_HISTO_HW_STATISTICS_t) == 256, "MI_ISP_HISTO_HW_STATISTICS_t layout");
static_assert(sizeof(MI_ISP_RGBIR_HISTO_HW_STATISTICS_t) == 512, "MI_ISP_RGBIR_HISTO_HW_STATISTICS_t layout");
static_assert(sizeof(MI_ISP_ROOT_PATH_T) == 64, "MI_ISP_ROOT_PATH_T layout");
static_assert(sizeof(CusAEInfo_t) == 53 + 3 * sizeof(void *), "CusAEInfo_t is packed");
static_assert(sizeof(CusAWBInfo_t) == 33 + 2 * sizeof(void *), "CusAWBInfo_t is packed");
#if defined(__arm__)
static_assert(sizeof(CusAEInfo_t) == 65, "CusAEInfo_t layout");
static_assert(sizeof(CusAWBInfo_t) == 41, "CusAWBInfo_t layout");
#endif
