// The AF handle: its method table, the search state, the user setting the
// control ids read and write, and the records it was given by the plug-in.
#pragma once
#include "af_algo.h"
#include "cam_os_wrapper.h"
#include "isp_api_records.h"

typedef enum {
    AF_FSM_STATE_INIT = 0,
    AF_FSM_STATE_MOVE_TO = 1,
    AF_FSM_STATE_UNSTABLE_STOP = 2,
    AF_FSM_STATE_SEARCH_START = 3,
    AF_FSM_STATE_SEARCH = 4,
    AF_FSM_STATE_FOCUSED = 5,
    AF_FSM_STATE_WOBBLING = 6,
    AF_FSM_STATE_CHECK_SCENE = 7,
} AF_FSM_STATE;

typedef enum {
    AF_ACC_NULLHILL = 0,
    AF_ACC_DOWNHILL = 1,
    AF_ACC_UPHILL = 2,
} AF_ACC_HILL_TYPE;

// Bits of AF_DEBUG_LEVEL: which traces the AF prints.
enum {
    AF_DBG_LV_DISABLE = 0,
    AF_DBG_LV_INPUT_PARAM = 1,
    AF_DBG_LV_OUTPUT_PARAM = 2,
    AF_DBG_LV_ACC_ALLVALUE = 4,
    AF_DBG_LV_ACC_ONEVALUE = 8,
    AF_DBG_LV_ACC_DIFF_CNT = 16,
    AF_DBG_LV_ONESHOT_STATUS = 32,
    AF_DBG_LV_CONTINUOUS_STATUS = 64,
    AF_DBG_LV_CONTINUOUS_SCENE = 128,
    AF_DBG_LV_CONTINUOUS_ACC_CAL = 256,
    AF_DBG_LV_CONTINUOUS_PEAK_CANDI = 512,
    AF_DBG_LV_CONTINUOUS_SEARCH_ALL = 1024,
    AF_DBG_LV_CONTINUOUS_WRONG_DIR = 2048,
};

// Every AF message starts with the operation's name and the source line.
#define AF_PRINT(fmt, ...) CamOsPrintf("[%s-%04d] " fmt, __func__, __LINE__, ##__VA_ARGS__)

typedef struct {
    MI_ISP_AF_HW_ROI_MODE_TYPE_t strHWRoiMode;
    MI_ISP_AF_HW_WIN_TYPE_t strHWWin;
    MI_ISP_AF_HW_FILTER_ATTR_TYPE_t strHWFilterAttr;
    MI_ISP_AF_HW_FILTERSQ_TYPE_t strHWFilterSq;
    MI_ISP_AF_HW_YPARAM_TYPE_t strHWYParam;
    MI_ISP_AF_HW_SOURCE_TYPE_e strHWSource;
    MI_ISP_AF_HW_PREFILTER_TYPE_t strHWPreFilter;
    MI_ISP_AF_HW_YMAP_TYPE_t strHWYMap;
    MI_ISP_AF_HW_LDG_TYPE_t strHWLdg;
    MI_ISP_AF_ATTR_TYPE_t strAttr;
    MI_ISP_AF_MOTOR_TYPE_t strMotor;
    MI_ISP_AF_ACC_WEIGHT_TYPE_t strAccWeight;
    MI_ISP_AF_ONESHOT_TYPE_t strOneShot;
    MI_ISP_AF_SCENE_CHANGE_TYPE_t strSceneChange;
    LX_U16 SpeedRatio;
    LX_U16 Speedstep1_0;
    LX_U16 Speedstep1_1;
    LX_U16 Speedstep1_2;
    LX_U16 Speedstep1_4;
    LX_U16 SpeedCtrlMethod;
    LX_U16 SpeedCtrlStartstep;
    LX_U16 maxSpeedstep;
    MI_ISP_AF_SEARCH_START_TYPE_t strSearchStart;
    MI_ISP_AF_SEARCH_TYPE_t strSearch;
    LX_U16 WobblingMaxPosFPeriod;
    LX_U16 WobblingFlatSlopeTh;
} AF_USER_SETTING;

typedef struct __cam_af_handle_t cam_af_handle_t;

// A getter/setter pair of method slots over one user-setting record.
#define AF_METHOD_PAIR(Name, T)                         \
    LX_S32 (*pAF_Set##Name)(cam_af_handle_t *, T *);  \
    LX_S32 (*pAF_Get##Name)(cam_af_handle_t *, T *);

struct __cam_af_handle_t {
    // Method table: callers always go through these slots.
    LX_S32 (*pAF_Trigger)(cam_af_handle_t *);
    LX_S32 (*pAF_ForceTrigger)(cam_af_handle_t *, LX_CAM_BOOL *);
    AF_METHOD_PAIR(HWRoiMode, MI_ISP_AF_HW_ROI_MODE_TYPE_t)
    AF_METHOD_PAIR(HWWin, MI_ISP_AF_HW_WIN_TYPE_t)
    AF_METHOD_PAIR(HWFilterAttr, MI_ISP_AF_HW_FILTER_ATTR_TYPE_t)
    AF_METHOD_PAIR(HWFilterSq, MI_ISP_AF_HW_FILTERSQ_TYPE_t)
    AF_METHOD_PAIR(HWYParam, MI_ISP_AF_HW_YPARAM_TYPE_t)
    AF_METHOD_PAIR(HWSource, MI_ISP_AF_HW_SOURCE_TYPE_e)
    AF_METHOD_PAIR(HWPreFilter, MI_ISP_AF_HW_PREFILTER_TYPE_t)
    AF_METHOD_PAIR(HWYMap, MI_ISP_AF_HW_YMAP_TYPE_t)
    AF_METHOD_PAIR(HWLdg, MI_ISP_AF_HW_LDG_TYPE_t)
    AF_METHOD_PAIR(Attr, MI_ISP_AF_ATTR_TYPE_t)
    AF_METHOD_PAIR(Motor, MI_ISP_AF_MOTOR_TYPE_t)
    AF_METHOD_PAIR(AccWeight, MI_ISP_AF_ACC_WEIGHT_TYPE_t)
    AF_METHOD_PAIR(OneShot, MI_ISP_AF_ONESHOT_TYPE_t)
    AF_METHOD_PAIR(SceneChange, MI_ISP_AF_SCENE_CHANGE_TYPE_t)
    AF_METHOD_PAIR(SearchStart, MI_ISP_AF_SEARCH_START_TYPE_t)
    AF_METHOD_PAIR(Search, MI_ISP_AF_SEARCH_TYPE_t)

    // Search state.
    LX_U8 u8InitialSkipFrames;
    LX_CAM_BOOL bFirstSearch;
    AF_FSM_STATE eFSMState;
    AF_FSM_STATE eFSMPreState;
    LX_U16 u16DbgLevel;
    LX_U16 u16CurFPSx10;
    LX_U8 u8ThByFPS;
    MI_ISP_AF_MOTOR_TYPE_t strMotorHWLimit;  // the driver's limits
    LX_U16 u16CurPos;
    LX_U16 u16TarPos;
    LX_U16 u16HistPos[4];  // [0] this frame's position
    LX_U16 u16EverMinPos;
    LX_U16 u16EverMaxPos;
    LX_U16 u16TempPos;
    LX_U16 u16Step;
    LX_S8 s8Dir;
    LX_CAM_BOOL bCurPosInRange;
    LX_CAM_BOOL bCurPosIsBoundary;
    LX_U32 u32IIRH_All[256];
    LX_U32 u32IIRL_All[256];
    LX_U32 u32SBLV_All[256];
    LX_U32 u32SBLH_All[256];
    LX_U32 u32Luma_All[256];
    LX_U32 u32YSat_All[256];
    MI_ISP_AF_ACC_SEL_TYPE_e ePreAfAccSel;
    LX_U32 u32PreAeAcc_All[256];
    LX_U32 u32PreAfAcc_All[256];
    MI_ISP_AF_ACC_SEL_TYPE_e eFocusAfAccSel;
    LX_U32 u32FocusAeAcc_All[256];
    LX_U32 u32FocusAfAcc_All[256];
    LX_U64 u64IIRH;
    LX_U64 u64IIRL;
    LX_U64 u64SBLV;
    LX_U64 u64SBLH;
    LX_U64 u64Luma;
    LX_U32 u32HistIIRH[4];  // [0] newest
    LX_U32 u32HistIIRL[4];
    LX_U32 u32HistSBLV[4];
    LX_U32 u32HistSBLH[4];
    MI_ISP_AF_ACC_SEL_TYPE_e eLocalAfAccSel;
    LX_U32 u32MaxAcc;
    LX_U16 u16MaxAccPos;
    LX_U32 u32MaxPreAcc;
    LX_U16 u16MaxPreAccPos;
    LX_U32 u32MaxPostAcc;
    LX_U16 u16MaxPostAccPos;
    LX_CAM_BOOL bUpdateMaxPostValue;
    LX_U32 u32MinAcc;
    LX_U32 u32FakeMaxAcc;
    LX_CAM_BOOL bEverAccDecrease;
    LX_CAM_BOOL bReachStartPos;
    LX_CAM_BOOL bFinishOneLoop;
    LX_CAM_BOOL bCurUnstable;
    LX_CAM_BOOL bEverUnstable;
    LX_U8 u8StableCnt;
    LX_S16 IdxSlope[4];
    LX_U8 IdxCorrectDir;
    LX_U8 SpeedSlowdownFlag;
    LX_U8 SpeedSlowdownCnt;
    LX_U8 Speed1Cnt;
    LX_U32 u32StartAcc;
    LX_U16 u16StartPos;
    LX_U8 u8MinMaxAccRatio;
    LX_U8 u8StartMaxAccRatio;
    LX_U8 u8NowMaxAccRatio;
    LX_U8 u8NowFakeMaxAccRatio;
    LX_U8 u8MinMaxAccRatioPeakTh;
    AF_ACC_HILL_TYPE eAccHillType;
    LX_U8 u8AccIncCnt;
    LX_U8 u8AccDecCnt;
    LX_CAM_BOOL bEverChangeDir;
    LX_CAM_BOOL bAccPeak;
    LX_U8 u8FocusDelayCnt;
    LX_U8 ss_state;
    LX_S16 slope;
    LX_U8 wobbingStep;
    LX_U8 WobblingMaxPosFrameCnt;
    LX_U8 WobblingCnt;
    LX_S16 avg8Slope;

    LX_U32 nDev;  // every hardware request goes to this ISP device and channel
    LX_U32 nCh;

    AF_USER_SETTING UserSetting;

    // The plug-in's records; the init record is only read inside AfInit.
    AfInitParam_t *AfInitParameter;
    AfInput_t *AfInputParameter;
    AfOutput_t *AfOutputParameter;
};
#undef AF_METHOD_PAIR

// Clearing shared by the restart of the search (methods) and the search itself.
void AF_ResetSceneAcc(cam_af_handle_t *h);  // pre-scene and focus-scene snapshots
void AF_ResetHistory(cam_af_handle_t *h);
void AF_ResetLocal(cam_af_handle_t *h);
