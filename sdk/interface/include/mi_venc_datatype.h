// Records and enumerations of the video encoder module. Field order and widths
// are the driver's: on the board (armhf) every size below is asserted.
#pragma once
#include "mi_common_datatype.h"

#define VENC_MAX_CHN_NUM 34
#define MI_VENC_MAX_PACK_INFO 8

typedef MI_S32 MI_VENC_DEV;
typedef MI_S32 MI_VENC_CHN;

// Result codes produced by the library itself.
#define MI_ERR_VENC_INVALID_CHNID 0xA0022002
#define MI_ERR_VENC_ILLEGAL_PARAM 0xA0022003
#define MI_ERR_VENC_EXIST 0xA0022004
#define MI_ERR_VENC_UNEXIST 0xA0022005
#define MI_ERR_VENC_NULL_PTR 0xA0022006
#define MI_ERR_VENC_NOT_PERM 0xA0022009
#define MI_ERR_VENC_BUF_EMPTY 0xA002200E
#define MI_ERR_VENC_BUSY 0xA0022012
#define MI_ERR_VENC_FAILED 0xA002201F

typedef enum {
    E_MI_VENC_MODTYPE_VENC = 1,
    E_MI_VENC_MODTYPE_H264E = 2,
    E_MI_VENC_MODTYPE_H265E = 3,
    E_MI_VENC_MODTYPE_JPEGE = 4,
    E_MI_VENC_MODTYPE_MAX
} MI_VENC_ModType_e;

typedef enum {
    E_MI_VENC_H264E_NALU_PSLICE = 1,
    E_MI_VENC_H264E_NALU_ISLICE = 5,
    E_MI_VENC_H264E_NALU_SEI = 6,
    E_MI_VENC_H264E_NALU_SPS = 7,
    E_MI_VENC_H264E_NALU_PPS = 8,
    E_MI_VENC_H264E_NALU_IPSLICE = 9,
    E_MI_VENC_H264E_NALU_PREFIX = 14,
    E_MI_VENC_H264E_NALU_MAX = 15
} MI_VENC_H264eNaluType_e;

typedef enum {
    E_MI_VENC_H265E_NALU_PSLICE = 1,
    E_MI_VENC_H265E_NALU_ISLICE = 19,
    E_MI_VENC_H265E_NALU_VPS = 32,
    E_MI_VENC_H265E_NALU_SPS = 33,
    E_MI_VENC_H265E_NALU_PPS = 34,
    E_MI_VENC_H265E_NALU_SEI = 39,
    E_MI_VENC_H265E_NALU_MAX = 40
} MI_VENC_H265eNaulType_e;

typedef enum {
    E_MI_VENC_JPEGE_PACK_ECS = 5,
    E_MI_VENC_JPEGE_PACK_APP = 6,
    E_MI_VENC_JPEGE_PACK_VDO = 7,
    E_MI_VENC_JPEGE_PACK_PIC = 8,
    E_MI_VENC_JPEGE_PACK_MAX
} MI_VENC_JpegePackType_e;

// Reference type of a frame (bits 4-6 of a ring record's flags).
typedef enum {
    E_MI_VENC_BASE_IDR = 0,
    E_MI_VENC_BASE_P_REFTOIDR,
    E_MI_VENC_BASE_P_REFBYBASE,
    E_MI_VENC_BASE_P_REFBYENHANCE,
    E_MI_VENC_ENHANCE_P_REFBYENHANCE,
    E_MI_VENC_ENHANCE_P_NOTFORREF,
    E_MI_VENC_REF_TYPE_MAX
} MI_VENC_H264eRefType_e;
typedef MI_VENC_H264eRefType_e MI_VENC_H265eRefType_e;

typedef enum {
    E_MI_VENC_RC_MODE_H264CBR = 1,
    E_MI_VENC_RC_MODE_H264VBR = 2,
    E_MI_VENC_RC_MODE_H264ABR = 3,
    E_MI_VENC_RC_MODE_H264FIXQP = 4,
    E_MI_VENC_RC_MODE_H264AVBR = 5,
    E_MI_VENC_RC_MODE_MJPEGCBR = 6,
    E_MI_VENC_RC_MODE_MJPEGFIXQP = 7,
    E_MI_VENC_RC_MODE_H265CBR = 8,
    E_MI_VENC_RC_MODE_H265VBR = 9,
    E_MI_VENC_RC_MODE_H265FIXQP = 10,
    E_MI_VENC_RC_MODE_H265AVBR = 11,
    E_MI_VENC_RC_MODE_MAX
} MI_VENC_RcMode_e;

typedef enum {
    E_MI_VENC_INPUT_MODE_NORMAL_FRMBASE = 0,
    E_MI_VENC_INPUT_MODE_RING_ONE_FRM = 1,
    E_MI_VENC_INPUT_MODE_RING_HALF_FRM = 2,
    E_MI_VENC_INPUT_MODE_HW_AUTO_SYNC = 3,
    E_MI_VENC_INPUT_MODE_MAX
} MI_VENC_InputSrcBufferMode_e;

// ---- stream records ---------------------------------------------------------

typedef union MI_VENC_DataType_s {
    MI_VENC_H264eNaluType_e eH264EType;
    MI_VENC_JpegePackType_e eJPEGEType;
    MI_VENC_H265eNaulType_e eH265EType;
} MI_VENC_DataType_t;

typedef struct MI_VENC_PackInfo_s {
    MI_VENC_DataType_t stPackType;
    MI_U32 u32PackOffset;
    MI_U32 u32PackLength;
    MI_U32 u32SliceId;
} MI_VENC_PackInfo_t;

typedef struct MI_VENC_Pack_s {
    MI_PHY phyAddr;
    MI_U8 *pu8Addr;
    MI_U32 u32Len;
    MI_U64 u64PTS;
    MI_BOOL bFrameEnd;
    MI_VENC_DataType_t stDataType;
    MI_U32 u32Offset;
    MI_U32 u32DataNum;
    MI_U8 u8FrameQP;
    MI_S32 s32PocNum;
    MI_U32 u32Gradient;
    MI_VENC_PackInfo_t asackInfo[MI_VENC_MAX_PACK_INFO];
} MI_VENC_Pack_t;

typedef struct MI_VENC_StreamInfoH264_s {
    MI_VENC_H264eRefType_e eRefType;
    MI_U32 u32PicBytesNum;
    MI_U32 u32PSkipMbNum;
    MI_U32 u32IpcmMbNum;
    MI_U32 u32UpdateAttrCnt;
    MI_U32 u32StartQp;
    MI_U32 au32Reserved[8];
} MI_VENC_StreamInfoH264_t;

typedef struct MI_VENC_StreamInfoH265_s {
    MI_VENC_H265eRefType_e eRefType;
    MI_U32 u32PicBytesNum;
    MI_U32 u32PSkipCuNum;
    MI_U32 u32IpcmCuNum;
    MI_U32 u32UpdateAttrCnt;
    MI_U32 u32StartQp;
    MI_U32 au32Reserved[8];
} MI_VENC_StreamInfoH265_t;

typedef struct MI_VENC_StreamInfoJpeg_s {
    MI_U32 u32PicBytesNum;
    MI_U32 u32UpdateAttrCnt;
    MI_U32 u32Qfactor;
    MI_U32 au32Reserved[11];
} MI_VENC_StreamInfoJpeg_t;

typedef struct MI_VENC_Stream_s {
    MI_VENC_Pack_t *pstPack;
    MI_U32 u32PackCount;
    MI_U32 u32Seq;
    MI_SYS_BUF_HANDLE hMiSys;
    union {
        MI_VENC_StreamInfoH264_t stH264Info;
        MI_VENC_StreamInfoJpeg_t stJpegInfo;
        MI_VENC_StreamInfoH265_t stH265Info;
    };
} MI_VENC_Stream_t;

// ---- channel attributes --------------------------------------------------------

typedef struct MI_VENC_AttrH264_s {
    MI_U32 u32MaxPicWidth;
    MI_U32 u32MaxPicHeight;
    MI_U32 u32BufSize;
    MI_U32 u32Profile;
    MI_BOOL bByFrame;
    MI_U32 u32PicWidth;
    MI_U32 u32PicHeight;
    MI_U32 u32BFrameNum;
    MI_U32 u32RefNum;
} MI_VENC_AttrH264_t;
typedef MI_VENC_AttrH264_t MI_VENC_AttrH265_t;

typedef struct MI_VENC_AttrJpeg_s {
    MI_U32 u32MaxPicWidth;
    MI_U32 u32MaxPicHeight;
    MI_U32 u32BufSize;
    MI_BOOL bByFrame;
    MI_U32 u32PicWidth;
    MI_U32 u32PicHeight;
    MI_BOOL bSupportDCF;
    MI_U32 u32RestartMakerPerRowCnt;
} MI_VENC_AttrJpeg_t;

typedef struct MI_VENC_Attr_s {
    MI_VENC_ModType_e eType;
    union {
        MI_VENC_AttrH264_t stAttrH264e;
        MI_VENC_AttrH265_t stAttrH265e;
        MI_VENC_AttrJpeg_t stAttrJpeg;
    };
} MI_VENC_Attr_t;

typedef struct MI_VENC_AttrH264Cbr_s {
    MI_U32 u32Gop;
    MI_U32 u32StatTime;
    MI_U32 u32SrcFrmRateNum;
    MI_U32 u32SrcFrmRateDen;
    MI_U32 u32BitRate;
    MI_U32 u32FluctuateLevel;
} MI_VENC_AttrH264Cbr_t;
typedef MI_VENC_AttrH264Cbr_t MI_VENC_AttrH265Cbr_t;

typedef struct MI_VENC_AttrH264Vbr_s {
    MI_U32 u32Gop;
    MI_U32 u32StatTime;
    MI_U32 u32SrcFrmRateNum;
    MI_U32 u32SrcFrmRateDen;
    MI_U32 u32MaxBitRate;
    MI_U32 u32MaxQp;
    MI_U32 u32MinQp;
} MI_VENC_AttrH264Vbr_t;
typedef MI_VENC_AttrH264Vbr_t MI_VENC_AttrH264Avbr_t;
typedef MI_VENC_AttrH264Vbr_t MI_VENC_AttrH265Vbr_t;
typedef MI_VENC_AttrH264Vbr_t MI_VENC_AttrH265Avbr_t;

typedef struct MI_VENC_AttrH264Abr_s {
    MI_U32 u32Gop;
    MI_U32 u32StatTime;
    MI_U32 u32SrcFrmRateNum;
    MI_U32 u32SrcFrmRateDen;
    MI_U32 u32AvgBitRate;
    MI_U32 u32MaxBitRate;
} MI_VENC_AttrH264Abr_t;

typedef struct MI_VENC_AttrH264FixQp_s {
    MI_U32 u32Gop;
    MI_U32 u32SrcFrmRateNum;
    MI_U32 u32SrcFrmRateDen;
    MI_U32 u32IQp;
    MI_U32 u32PQp;
} MI_VENC_AttrH264FixQp_t;
typedef MI_VENC_AttrH264FixQp_t MI_VENC_AttrH265FixQp_t;

typedef struct MI_VENC_AttrMjpegCbr_s {
    MI_U32 u32BitRate;
    MI_U32 u32SrcFrmRateNum;
    MI_U32 u32SrcFrmRateDen;
} MI_VENC_AttrMjpegCbr_t;

typedef struct MI_VENC_AttrMjpegFixQp_s {
    MI_U32 u32SrcFrmRateNum;
    MI_U32 u32SrcFrmRateDen;
    MI_U32 u32Qfactor;
} MI_VENC_AttrMjpegFixQp_t;

typedef struct MI_VENC_RcAttr_s {
    MI_VENC_RcMode_e eRcMode;
    union {
        MI_VENC_AttrH264Cbr_t stAttrH264Cbr;
        MI_VENC_AttrH264Vbr_t stAttrH264Vbr;
        MI_VENC_AttrH264Abr_t stAttrH264Abr;
        MI_VENC_AttrH264FixQp_t stAttrH264FixQp;
        MI_VENC_AttrH264Avbr_t stAttrH264Avbr;
        MI_VENC_AttrMjpegCbr_t stAttrMjpegCbr;
        MI_VENC_AttrMjpegFixQp_t stAttrMjpegFixQp;
        MI_VENC_AttrH265Cbr_t stAttrH265Cbr;
        MI_VENC_AttrH265Vbr_t stAttrH265Vbr;
        MI_VENC_AttrH265FixQp_t stAttrH265FixQp;
        MI_VENC_AttrH265Avbr_t stAttrH265Avbr;
    };
    void *pRcAttr;
} MI_VENC_RcAttr_t;

typedef struct MI_VENC_ChnAttr_s {
    MI_VENC_Attr_t stVeAttr;
    MI_VENC_RcAttr_t stRcAttr;
} MI_VENC_ChnAttr_t;

typedef struct MI_VENC_ChnStat_s {
    MI_U32 u32LeftPics;
    MI_U32 u32LeftStreamBytes;
    MI_U32 u32LeftStreamFrames;
    MI_U32 u32LeftStreamMillisec;
    MI_U32 u32CurPacks;
    MI_U32 u32LeftRecvPics;
    MI_U32 u32LeftEncPics;
    MI_U32 u32FrmRateNum;
    MI_U32 u32FrmRateDen;
    MI_U32 u32BitRate;
} MI_VENC_ChnStat_t;

typedef struct MI_VENC_VuiAspectRatio_s {
    MI_U8 u8AspectRatioInfoPresentFlag;
    MI_U8 u8AspectRatioIdc;
    MI_U8 u8OverscanInfoPresentFlag;
    MI_U8 u8OverscanAppropriateFlag;
    MI_U16 u16SarWidth;
    MI_U16 u16SarHeight;
} MI_VENC_VuiAspectRatio_t;

typedef struct MI_VENC_VuiH264TimeInfo_s {
    MI_U8 u8TimingInfoPresentFlag;
    MI_U8 u8FixedFrameRateFlag;
    MI_U32 u32NumUnitsInTick;
    MI_U32 u32TimeScale;
} MI_VENC_VuiH264TimeInfo_t;

typedef struct MI_VENC_VuiVideoSignal_s {
    MI_U8 u8VideoSignalTypePresentFlag;
    MI_U8 u8VideoFormat;
    MI_U8 u8VideoFullRangeFlag;
    MI_U8 u8ColourDescriptionPresentFlag;
    MI_U8 u8ColourPrimaries;
    MI_U8 u8TransferCharacteristics;
    MI_U8 u8MatrixCoefficients;
} MI_VENC_VuiVideoSignal_t;

typedef struct MI_VENC_ParamH264Vui_s {
    MI_VENC_VuiAspectRatio_t stVuiAspectRatio;
    MI_VENC_VuiH264TimeInfo_t stVuiTimeInfo;
    MI_VENC_VuiVideoSignal_t stVuiVideoSignal;
} MI_VENC_ParamH264Vui_t;

typedef struct MI_VENC_ParamH264Entropy_s {
    MI_U32 u32EntropyEncModeI;
    MI_U32 u32EntropyEncModeP;
} MI_VENC_ParamH264Entropy_t;

typedef struct MI_VENC_ParamJpeg_s {
    MI_U32 u32Qfactor;
    MI_U8 au8YQt[64];
    MI_U8 au8CbCrQt[64];
    MI_U32 u32McuPerEcs;
} MI_VENC_ParamJpeg_t;

typedef struct MI_VENC_InputSourceConfig_s {
    MI_VENC_InputSrcBufferMode_e eInputSrcBufferMode;
} MI_VENC_InputSourceConfig_t;

// ---- driver records of the stream path -------------------------------------------

typedef struct MI_VENC_RingPoolGetHandle_s {
    MI_U32 u32ChnId;
    MI_U32 hHandle;
} MI_VENC_RingPoolGetHandle_t;

typedef struct MI_VENC_RingPoolGetInfo_s {
    MI_U32 hHandle;
    MI_PHY PA;
    MI_U32 u32Length;
} MI_VENC_RingPoolGetInfo_t;

// Bits of u64ExtFlags.
#define MI_VENC_RING_FLAG_FRAME_END 0x1ull
#define MI_VENC_RING_FLAG_MODTYPE(f) (((f) >> 1) & 0x7)
#define MI_VENC_RING_FLAG_REFTYPE(f) (((f) >> 4) & 0x7)

typedef struct MI_VENC_RingPoolGetHeadRecord_s {
    MI_U32 hHandle;
    MI_U64 u64ExtFlags;
    MI_U64 u64Pts;
    MI_U64 u64SeqNum;
    MI_U64 bEndOfStream;
    MI_PHY PA;
    MI_U32 u32Length;
    MI_U32 u32MaxMsToWait;
    MI_S32 s32ChnId;
    MI_U8 u8PicQP;
    MI_S32 s32PocNum;
    MI_U32 u32Gradient;
} MI_VENC_RingPoolGetHeadRecord_t;

typedef struct MI_VENC_RingPoolReleaseHeadRecord_s {
    MI_U32 hHandle;
    MI_S32 s32ChnId;
} MI_VENC_RingPoolReleaseHeadRecord_t;

typedef struct MI_VENC_GetStream_s {
    MI_VENC_CHN VeChn;
    MI_VENC_Stream_t stStream;
    MI_S32 s32MilliSec;
} MI_VENC_GetStream_t;

typedef struct MI_VENC_ReleaseStream_s {
    MI_VENC_CHN VeChn;
    MI_VENC_Stream_t stStream;
} MI_VENC_ReleaseStream_t;

typedef struct MI_VENC_CreateChn_s {
    MI_VENC_CHN VeChn;
    MI_VENC_ChnAttr_t stAttr;
} MI_VENC_CreateChn_t;

typedef struct MI_VENC_GetPollData_s {
    MI_VENC_CHN VeChn;
    void *pPrivateData;
} MI_VENC_GetPollData_t;

// Payloads of the parameter calls: the channel, then the caller's record.
typedef struct MI_VENC_ChnStatArg_s {
    MI_VENC_CHN VeChn;
    MI_VENC_ChnStat_t stStat;
} MI_VENC_ChnStatArg_t;

typedef struct MI_VENC_MaxStreamCntArg_s {
    MI_VENC_CHN VeChn;
    MI_U32 u32MaxStrmCnt;
} MI_VENC_MaxStreamCntArg_t;

typedef struct MI_VENC_H264EntropyArg_s {
    MI_VENC_CHN VeChn;
    MI_VENC_ParamH264Entropy_t stEntropy;
} MI_VENC_H264EntropyArg_t;

typedef struct MI_VENC_H264VuiArg_s {
    MI_VENC_CHN VeChn;
    MI_VENC_ParamH264Vui_t stVui;
} MI_VENC_H264VuiArg_t;

typedef struct MI_VENC_JpegParamArg_s {
    MI_VENC_CHN VeChn;
    MI_VENC_ParamJpeg_t stParam;
} MI_VENC_JpegParamArg_t;

typedef struct MI_VENC_InputSourceConfigArg_s {
    MI_VENC_CHN VeChn;
    MI_VENC_InputSourceConfig_t stConfig;
} MI_VENC_InputSourceConfigArg_t;

#if defined(__arm__)
static_assert(sizeof(MI_VENC_PackInfo_t) == 16, "MI_VENC_PackInfo_t layout");
static_assert(sizeof(MI_VENC_Pack_t) == 184, "MI_VENC_Pack_t layout");
static_assert(sizeof(MI_VENC_Stream_t) == 72, "MI_VENC_Stream_t layout");
static_assert(sizeof(MI_VENC_RingPoolGetHandle_t) == 8, "MI_VENC_RingPoolGetHandle_t layout");
static_assert(sizeof(MI_VENC_RingPoolGetInfo_t) == 24, "MI_VENC_RingPoolGetInfo_t layout");
static_assert(sizeof(MI_VENC_RingPoolGetHeadRecord_t) == 72, "MI_VENC_RingPoolGetHeadRecord_t layout");
static_assert(sizeof(MI_VENC_RingPoolReleaseHeadRecord_t) == 8, "release record layout");
static_assert(sizeof(MI_VENC_GetStream_t) == 80, "MI_VENC_GetStream_t layout");
static_assert(sizeof(MI_VENC_ReleaseStream_t) == 76, "MI_VENC_ReleaseStream_t layout");
static_assert(sizeof(MI_VENC_CreateChn_t) == 80, "MI_VENC_CreateChn_t layout");
static_assert(sizeof(MI_VENC_GetPollData_t) == 8, "MI_VENC_GetPollData_t layout");
static_assert(sizeof(MI_VENC_Attr_t) == 40, "MI_VENC_Attr_t layout");
static_assert(sizeof(MI_VENC_RcAttr_t) == 36, "MI_VENC_RcAttr_t layout");
static_assert(sizeof(MI_VENC_ChnAttr_t) == 76, "MI_VENC_ChnAttr_t layout");
static_assert(sizeof(MI_VENC_ChnStat_t) == 40, "MI_VENC_ChnStat_t layout");
static_assert(sizeof(MI_VENC_ParamH264Vui_t) == 28, "MI_VENC_ParamH264Vui_t layout");
static_assert(sizeof(MI_VENC_ParamJpeg_t) == 136, "MI_VENC_ParamJpeg_t layout");
#endif
static_assert(sizeof(MI_VENC_StreamInfoH264_t) == 56 && sizeof(MI_VENC_StreamInfoJpeg_t) == 56 &&
                  sizeof(MI_VENC_StreamInfoH265_t) == 56,
              "stream statistics union is 56 bytes");
