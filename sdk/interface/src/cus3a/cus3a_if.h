// Plug-in interfaces of the custom-3A framework and the records it hands to
// them. Each interface is five words: the plug-in's own state (passed back
// as the first argument), init, release, run (once per frame) and ctrl (an
// IQ-API control id, or CUS3A_CTRL_CAMERA_REOPEN).
#pragma once
#include "mi_isp_iqapi.h"

// ctrl command of a sensor reopen (no parameter).
#define CUS3A_CTRL_CAMERA_REOPEN 105

typedef MI_U32 ISP_AE_CTRL_CMD;
typedef MI_U32 ISP_AWB_CTRL_CMD;
typedef MI_U32 ISP_AF_CTRL_CMD;

typedef struct {
    MI_U16 nHisto[128];
} ISP_HISTX;

typedef struct {
    MI_U16 nHisto[256];
} ISP_IR_HISTX;

typedef struct {
    MI_U8 r, g, b, y;
} ISP_AE_SAMPLE;

typedef struct {
    MI_U8 r, g, b;
} ISP_AWB_SAMPLE;

// The sensor state at AE start: the record the driver reports.
typedef CusAEInitParam_t ISP_AE_INIT_PARAM;

typedef struct {
    MI_U32 Size;
    ISP_HISTX *hist1;
    ISP_HISTX *hist2;
    MI_U32 AvgBlkX;
    MI_U32 AvgBlkY;
    ISP_AE_SAMPLE *avgs;
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
    ISP_IR_HISTX *histIR;
} ISP_AE_INFO;

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
    MI_U16 GMBlendRatio;
} ISP_AE_RESULT;

typedef struct {
    MI_U32 Size;
    MI_U32 AvgBlkX;
    MI_U32 AvgBlkY;
    MI_U32 CurRGain;
    MI_U32 CurGGain;
    MI_U32 CurBGain;
    ISP_AWB_SAMPLE *avgs;
    MI_U8 HDRMode;
    ISP_AWB_SAMPLE *pAwbStatisShort;
    MI_U32 u4BVx16384;
    MI_S32 WeightY;
} ISP_AWB_INFO;

// What the AWB step writes back, field for field.
typedef CusAWBResult_t ISP_AWB_RESULT;

typedef struct {
    MI_U32 start_x;
    MI_U32 start_y;
    MI_U32 end_x;
    MI_U32 end_y;
} ISP_AF_RECT;

typedef struct _isp_af_init_param {
    MI_U32 Size;
    ISP_AF_RECT af_stats_win[16];
    MI_U32 CurPos;
    MI_U32 MinPos;
    MI_U32 MaxPos;
    MI_U32 MinStep;
    MI_U32 MaxStep;
} ISP_AF_INIT_PARAM;

typedef CusAFStats_t ISP_AF_INFO_STATS;

typedef struct {
    MI_U32 Size;
    ISP_AF_INFO_STATS *pStats;
    MI_U32 CurPos;
    MI_U32 MinPos;
    MI_U32 MaxPos;
} ISP_AF_INFO;

typedef CusAfResult_t ISP_AF_RESULT;

typedef struct isp_ae_interface {
    void *pdata;
    int (*init)(void *pdata, ISP_AE_INIT_PARAM *init_state);
    void (*release)(void *pdata);
    void (*run)(void *pdata, const ISP_AE_INFO *info, ISP_AE_RESULT *result);
    int (*ctrl)(void *pdata, ISP_AE_CTRL_CMD cmd, void *param);
} ISP_AE_INTERFACE;

typedef struct isp_awb_interface {
    void *pdata;
    int (*init)(void *pdata);
    void (*release)(void *pdata);
    void (*run)(void *pdata, const ISP_AWB_INFO *info, ISP_AWB_RESULT *result);
    int (*ctrl)(void *pdata, ISP_AWB_CTRL_CMD cmd, void *param);
} ISP_AWB_INTERFACE;

typedef struct isp_af_interface {
    void *pdata;
    int (*init)(void *pdata, ISP_AF_INIT_PARAM *param);
    void (*release)(void *pdata);
    void (*run)(void *pdata, const ISP_AF_INFO *af_info, ISP_AF_RESULT *result);
    int (*ctrl)(void *pdata, ISP_AF_CTRL_CMD cmd, void *param);
} ISP_AF_INTERFACE;

// What a plug-in's ctrl gets as `param` for an IQ-API request: the plug-in
// writes its answer into stApiHeader.s32Ret.
typedef struct {
    MI_U32 u32Dir;  // 0 set, 1 get
    MI_ISP_IQApiHeader_t stApiHeader;
    void *pData;
} MI_CUS3A_CtrlCmd_t;

typedef enum { E_ALGO_TYPE_AE = 0, E_ALGO_TYPE_AWB = 1, E_ALGO_TYPE_AF = 2 } CUS3A_ALGO_TYPE_e;
typedef enum { E_ALGO_ADAPTOR_NATIVE = 0, E_ALGO_ADAPTOR_1 = 1 } CUS3A_ALGO_ADAPTOR_e;

// The ISP front end's frame event (one per read of "/dev/isp_fe"): masks with
// bit n for channel n.
typedef struct {
    MI_U32 u32ChStatus;  // the frame's statistics are ready
    MI_U32 u32ChAeEn;
    MI_U32 u32ChAwbEn;
    MI_U32 u32ChAfEn;
    MI_U32 u32ChReopen;  // the sensor was reopened
} IspPollStatus_t;

static_assert(sizeof(ISP_AE_INIT_PARAM) == 108, "ISP_AE_INIT_PARAM layout");
static_assert(sizeof(ISP_AE_RESULT) == 60, "ISP_AE_RESULT layout");
static_assert(sizeof(ISP_AWB_RESULT) == 24, "ISP_AWB_RESULT layout");
static_assert(sizeof(ISP_AF_INIT_PARAM) == 280, "ISP_AF_INIT_PARAM layout");
static_assert(sizeof(ISP_AF_RESULT) == 12, "ISP_AF_RESULT layout");
static_assert(sizeof(IspPollStatus_t) == 20, "IspPollStatus_t layout");
#if defined(__arm__)
static_assert(sizeof(ISP_AE_INFO) == 72, "ISP_AE_INFO layout");
static_assert(sizeof(ISP_AWB_INFO) == 44, "ISP_AWB_INFO layout");
static_assert(sizeof(ISP_AF_INFO) == 20, "ISP_AF_INFO layout");
static_assert(sizeof(MI_CUS3A_CtrlCmd_t) == 32, "MI_CUS3A_CtrlCmd_t layout");
#endif
