// Video encoder module: parameter calls, the per-channel stream ring mapped
// once into the process, stream fetch with NAL-unit split, and the pollable
// descriptor of each channel.
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "cam_os_wrapper.h"
#include "mi_seam.h"
#include "mi_venc.h"
#include "mi_venc_ioctl.h"

#include "mi_sys.h"

#define VENC_TAG "venc"
#define NAL_SCAN_MAX 1500u

typedef struct _MI_VENC_RingPoolInfo_s {
    MI_U32 hHandle;
    MI_S32 s32Fd;  // poll descriptor; -1 = none (0 is a valid descriptor)
    MI_PHY PA;
    void *VA;
    MI_U32 u32Size;
} _MI_VENC_RingPoolInfo_t;

typedef struct _MI_VENC_UsrChnInfo_s {
    _MI_VENC_RingPoolInfo_t stRingPoolInfo;
    MI_U32 u32ChnFrameSliceId;
    // Ring records handed out by the last successful fetch and not yet
    // returned: a release gives back exactly these.
    MI_U32 u32FetchedRecords;
    CamOsMutex_t stMutex;
    CamOsMutex_t stCustomMapMutex;
    CamOsMutex_t stFrameHistoMutex;
} _MI_VENC_UsrChnInfo_t;

typedef struct MI_VENC_CustomMapInfo_s {
    MI_BOOL bEnabelHistoStaticInfo;
    MI_U32 u32MaxCustMapSize;
    MI_PHY phyAddr[2];
    void *virAddr[2];
    MI_BOOL bAvailable[2];
} MI_VENC_CustomMapInfo_t;

namespace {

// The mutexes initialise themselves on first use and are never destroyed: a
// destroy racing a fetch that still waits on the channel must not pull the
// lock away under it.
struct ChnTable {
    _MI_VENC_UsrChnInfo_t chn[VENC_MAX_CHN_NUM];
    ChnTable() {
        memset(chn, 0, sizeof chn);
        for (auto &c : chn) c.stRingPoolInfo.s32Fd = -1;
    }
};

ChnTable g_tab;
MI_VENC_CustomMapInfo_t _astCustomMap[VENC_MAX_CHN_NUM];

#define _astUsrChnInfo g_tab.chn

bool chn_ok(MI_VENC_CHN c) { return c >= 0 && c < VENC_MAX_CHN_NUM; }

#define CHECK_CHN(c)                                         \
    do {                                                     \
        if (!chn_ok(c)) {                                    \
            MI_ERR(VENC_TAG, "chn%u is invalid\n", (unsigned)(c)); \
            return (MI_S32)MI_ERR_VENC_INVALID_CHNID;        \
        }                                                    \
    } while (0)

#define CHECK_PTR(p)                                         \
    do {                                                     \
        if (!(p)) {                                          \
            MI_ERR(VENC_TAG, "%s is null pointer\n", #p);    \
            return (MI_S32)MI_ERR_VENC_NULL_PTR;             \
        }                                                    \
    } while (0)

int venc_call(unsigned long code, void *payload, size_t len) { return mi_call(MI_DEV_VENC, code, payload, len); }

// Command carrying only the channel number.
MI_S32 chn_cmd(unsigned long code, MI_VENC_CHN chn) {
    MI_VENC_CHN c = chn;
    return venc_call(code, &c, sizeof c);
}

// Returns the records of one fetch to the driver: each ring record, then the
// stream itself. Failures are only reported: the caller's answer is kept.
void release_records(_MI_VENC_UsrChnInfo_t *info, MI_VENC_CHN chn, MI_U32 n, MI_VENC_Stream_t *pstStream,
                     MI_VENC_ReleaseStream_t *rel) {
    for (MI_U32 i = 0; i < n; i++) {
        MI_VENC_RingPoolReleaseHeadRecord_t r = {info->stRingPoolInfo.hHandle, chn};
        venc_call(MI_VENC_IOC_RING_RELEASE_HEAD, &r, sizeof r);
    }
    info->u32FetchedRecords = 0;
    pstStream->hMiSys = 0;
    venc_call(MI_VENC_IOC_RELEASE_STREAM, rel, sizeof *rel);
}

bool is_h264_side_nal(MI_U32 t) { return t == 6 || t == 7 || t == 8 || t == 14; }
bool is_h265_side_nal(MI_U32 t) { return t == 32 || t == 33 || t == 34 || t == 39; }

// Position of the next start code (its first byte) at or after `from`, or `len`.
MI_U32 next_start_code(const MI_U8 *d, MI_U32 from, MI_U32 len) {
    for (MI_U32 q = from; q + 3 <= len; q++) {
        if (d[q] == 0 && d[q + 1] == 0 && d[q + 2] == 1) return (q > from && d[q - 1] == 0) ? q - 1 : q;
    }
    return len;
}

}  // namespace

MI_S32 _MI_VENC_ParseNalu(MI_VENC_ModType_e eModType, MI_VENC_Stream_t *pstStream, MI_U8 *pData) {
    if (!pstStream || !pData || !pstStream->pstPack) return (MI_S32)MI_ERR_VENC_NULL_PTR;
    if (eModType != E_MI_VENC_MODTYPE_H264E && eModType != E_MI_VENC_MODTYPE_H265E) return MI_SUCCESS;
    const bool h264 = eModType == E_MI_VENC_MODTYPE_H264E;
    MI_VENC_Pack_t *pack = &pstStream->pstPack[0];
    const MI_U32 L = pack->u32Len;
    if (L < 4) {
        if (h264)
            pack->stDataType.eH264EType = E_MI_VENC_H264E_NALU_MAX;
        else
            pack->stDataType.eH265EType = E_MI_VENC_H265E_NALU_MAX;
        return MI_SUCCESS;
    }
    const MI_U32 S = L < NAL_SCAN_MAX ? L : NAL_SCAN_MAX;
    const MI_U32 limit = S - 4;
    MI_S32 ret = MI_SUCCESS;
    MI_U32 n = 0;
    bool last_closed = true;  // the newest entry has its length
    MI_U32 masked_until = 0;  // bytes of a matched start code cannot match again

    for (MI_U32 p = 0; p < limit && n < MI_VENC_MAX_PACK_INFO; p++) {
        if (p < masked_until) continue;
        MI_U32 hdr;
        if (pData[p] == 0 && pData[p + 1] == 0 && pData[p + 2] == 0 && pData[p + 3] == 1)
            hdr = p + 4;
        else if (pData[p] == 0 && pData[p + 1] == 0 && pData[p + 2] == 1)
            hdr = p + 3;
        else
            continue;
        masked_until = p + 4;

        MI_U32 type;
        if (h264) {
            type = pData[hdr] & 0x1F;
        } else {
            type = (pData[hdr] >> 1) & 0x3F;
            if (type <= 2) type = 1;
        }
        MI_VENC_PackInfo_t *e = &pack->asackInfo[n];
        if (n > 0) pack->asackInfo[n - 1].u32PackLength = p - pack->asackInfo[n - 1].u32PackOffset;
        e->stPackType.eH264EType = (MI_VENC_H264eNaluType_e)type;
        e->u32PackOffset = p;
        const bool side = h264 ? is_h264_side_nal(type) : is_h265_side_nal(type);
        if (side) {
            last_closed = false;
            n++;
        } else {
            // The first picture NAL takes the rest of the pack.
            pack->stDataType.eH264EType = (MI_VENC_H264eNaluType_e)type;
            e->u32PackLength = L - p;
            last_closed = true;
            n++;
            bool ok = h264 ? (type == 1 || type == 5) : (type == 1 || type == 19);
            if (!ok) ret = (MI_S32)MI_ERR_VENC_FAILED;
        }
        if (n == MI_VENC_MAX_PACK_INFO) MI_ERR(VENC_TAG, "seq:%d, too much NALU in one frame\n", (int)pstStream->u32Seq);
        if (!side) break;
    }
    // A parameter set that ends the scan still gets its true length: up to the
    // next start code, wherever it lies in the pack.
    if (n > 0 && !last_closed) {
        MI_VENC_PackInfo_t *e = &pack->asackInfo[n - 1];
        MI_U32 from = e->u32PackOffset + 3;
        e->u32PackLength = next_start_code(pData, from + 1, L) - e->u32PackOffset;
    }
    pack->u32DataNum = n;
    return ret;
}

extern "C" {

MI_S32 MI_VENC_GetFd(MI_VENC_DEV VeDev, MI_VENC_CHN VeChn) {
    (void)VeDev;
    CHECK_CHN(VeChn);
    _MI_VENC_RingPoolInfo_t *r = &_astUsrChnInfo[VeChn].stRingPoolInfo;
    if (r->s32Fd >= 0) return r->s32Fd;
    int fd = mi_node_open("/dev/mi_poll", O_RDWR);
    if (fd < 0) return -1;
    r->s32Fd = fd;
    return fd;
}

MI_S32 MI_VENC_CloseFd(MI_VENC_DEV VeDev, MI_VENC_CHN VeChn) {
    (void)VeDev;
    CHECK_CHN(VeChn);
    return MI_SUCCESS;
}

namespace {

// The attributes field by field into a cleared record: neither the caller's
// alignment bytes nor the union bytes past the member its type or mode
// selects are sent (a type or mode the library does not know sends none).
void copy_chn_attr(MI_VENC_ChnAttr_t *d, const MI_VENC_ChnAttr_t &s) {
    d->stVeAttr.eType = s.stVeAttr.eType;
    switch (s.stVeAttr.eType) {
    case E_MI_VENC_MODTYPE_H264E:
    case E_MI_VENC_MODTYPE_H265E: {
        const MI_VENC_AttrH264_t &a = s.stVeAttr.stAttrH264e;
        MI_VENC_AttrH264_t &o = d->stVeAttr.stAttrH264e;
        o.u32MaxPicWidth = a.u32MaxPicWidth;
        o.u32MaxPicHeight = a.u32MaxPicHeight;
        o.u32BufSize = a.u32BufSize;
        o.u32Profile = a.u32Profile;
        o.bByFrame = a.bByFrame;
        o.u32PicWidth = a.u32PicWidth;
        o.u32PicHeight = a.u32PicHeight;
        o.u32BFrameNum = a.u32BFrameNum;
        o.u32RefNum = a.u32RefNum;
        break;
    }
    case E_MI_VENC_MODTYPE_JPEGE: {
        const MI_VENC_AttrJpeg_t &a = s.stVeAttr.stAttrJpeg;
        MI_VENC_AttrJpeg_t &o = d->stVeAttr.stAttrJpeg;
        o.u32MaxPicWidth = a.u32MaxPicWidth;
        o.u32MaxPicHeight = a.u32MaxPicHeight;
        o.u32BufSize = a.u32BufSize;
        o.bByFrame = a.bByFrame;
        o.u32PicWidth = a.u32PicWidth;
        o.u32PicHeight = a.u32PicHeight;
        o.bSupportDCF = a.bSupportDCF;
        o.u32RestartMakerPerRowCnt = a.u32RestartMakerPerRowCnt;
        break;
    }
    default:
        break;
    }
    // The rate-control records are all 32-bit words: a member copies exactly its own bytes.
    const MI_VENC_RcAttr_t &r = s.stRcAttr;
    MI_VENC_RcAttr_t &o = d->stRcAttr;
    o.eRcMode = r.eRcMode;
    switch (r.eRcMode) {
    case E_MI_VENC_RC_MODE_H264CBR:
    case E_MI_VENC_RC_MODE_H265CBR: o.stAttrH264Cbr = r.stAttrH264Cbr; break;
    case E_MI_VENC_RC_MODE_H264VBR:
    case E_MI_VENC_RC_MODE_H264AVBR:
    case E_MI_VENC_RC_MODE_H265VBR:
    case E_MI_VENC_RC_MODE_H265AVBR: o.stAttrH264Vbr = r.stAttrH264Vbr; break;
    case E_MI_VENC_RC_MODE_H264ABR: o.stAttrH264Abr = r.stAttrH264Abr; break;
    case E_MI_VENC_RC_MODE_H264FIXQP:
    case E_MI_VENC_RC_MODE_H265FIXQP: o.stAttrH264FixQp = r.stAttrH264FixQp; break;
    case E_MI_VENC_RC_MODE_MJPEGCBR: o.stAttrMjpegCbr = r.stAttrMjpegCbr; break;
    case E_MI_VENC_RC_MODE_MJPEGFIXQP: o.stAttrMjpegFixQp = r.stAttrMjpegFixQp; break;
    default: break;
    }
    o.pRcAttr = r.pRcAttr;
}

}  // namespace

MI_S32 MI_VENC_CreateChn(MI_VENC_DEV VeDev, MI_VENC_CHN VeChn, MI_VENC_ChnAttr_t *pstAttr) {
    CHECK_CHN(VeChn);
    CHECK_PTR(pstAttr);
    _MI_VENC_UsrChnInfo_t *info = &_astUsrChnInfo[VeChn];

    MI_VENC_CreateChn_t arg;
    memset(&arg, 0, sizeof arg);
    arg.VeChn = VeChn;
    copy_chn_attr(&arg.stAttr, *pstAttr);
    int ret = venc_call(MI_VENC_IOC_CREATE_CHN, &arg, sizeof arg);
    info->u32ChnFrameSliceId = 0;
    if (ret == -1) return -1;
    if ((MI_U32)ret == MI_ERR_VENC_EXIST) return MI_SUCCESS;
    if (ret != 0) return ret;

    CamOsMutexLock(&info->stMutex);
    info->stRingPoolInfo.hHandle = 0;
    info->stRingPoolInfo.PA = 0;
    info->stRingPoolInfo.VA = nullptr;
    info->stRingPoolInfo.u32Size = 0;
    info->u32FetchedRecords = 0;
    CamOsMutexUnlock(&info->stMutex);

    // A channel without a working poll descriptor cannot be waited on: report
    // it and take the channel down again rather than hand back a half set-up.
    int fd = MI_VENC_GetFd(VeDev, VeChn);
    MI_S32 res = MI_SUCCESS;
    if (fd < 0) {
        MI_ERR(VENC_TAG, "chn%d open poll node failed\n", VeChn);
        res = (MI_S32)MI_ERR_VENC_FAILED;
    } else {
        MI_VENC_GetPollData_t pd;
        memset(&pd, 0, sizeof pd);
        pd.VeChn = VeChn;
        if (venc_call(MI_VENC_IOC_GET_POLL_DATA, &pd, sizeof pd) != 0) {
            MI_ERR(VENC_TAG, "chn%d get poll data failed\n", VeChn);
            res = (MI_S32)MI_ERR_VENC_FAILED;
        } else if (mi_node_ioctl(fd, 0, pd.pPrivateData) != 0) {
            MI_ERR(VENC_TAG, "chn%d attach poll descriptor failed\n", VeChn);
            res = (MI_S32)MI_ERR_VENC_FAILED;
        }
    }
    if (res != MI_SUCCESS) chn_cmd(MI_VENC_IOC_DESTROY_CHN, VeChn);
    return res;
}

MI_S32 MI_VENC_FreeCustomMap(MI_VENC_DEV VeDev, MI_VENC_CHN VeChn) {
    (void)VeDev;
    CHECK_CHN(VeChn);
    _MI_VENC_UsrChnInfo_t *info = &_astUsrChnInfo[VeChn];
    MI_VENC_CustomMapInfo_t *m = &_astCustomMap[VeChn];
    if (CamOsMutexLock(&info->stCustomMapMutex) != 0) return (MI_S32)MI_ERR_VENC_NOT_PERM;
    MI_S32 ret = MI_SUCCESS;
    for (int i = 0; i < 2; i++) {
        if (m->virAddr[i]) {
            MI_S32 r = MI_SYS_Munmap(m->virAddr[i], m->u32MaxCustMapSize);
            if (r != MI_SUCCESS && i == 0) {
                CamOsMutexUnlock(&info->stCustomMapMutex);
                return r;
            }
            ret = r;
        } else if (i == 0) {
            ret = (MI_S32)MI_ERR_VENC_FAILED;
        }
        m->phyAddr[i] = 0;
        m->virAddr[i] = nullptr;
        m->bAvailable[i] = FALSE;
    }
    CamOsMutexUnlock(&info->stCustomMapMutex);
    return ret;
}

MI_S32 MI_VENC_DestroyChn(MI_VENC_DEV VeDev, MI_VENC_CHN VeChn) {
    CHECK_CHN(VeChn);
    _MI_VENC_UsrChnInfo_t *info = &_astUsrChnInfo[VeChn];
    (void)MI_VENC_FreeCustomMap(VeDev, VeChn);
    if (CamOsMutexLock(&info->stMutex) != 0) return (MI_S32)MI_ERR_VENC_NOT_PERM;
    _MI_VENC_RingPoolInfo_t *r = &info->stRingPoolInfo;
    if (r->VA) {
        MI_SYS_FlushInvCache(r->VA, r->u32Size);
        if (MI_SYS_Munmap(r->VA, r->u32Size) != MI_SUCCESS) {
            CamOsMutexUnlock(&info->stMutex);
            return -1;
        }
    }
    r->hHandle = 0;
    r->PA = 0;
    r->VA = nullptr;
    r->u32Size = 0;
    info->u32FetchedRecords = 0;
    if (r->s32Fd >= 0) chn_cmd(MI_VENC_IOC_RELEASE_POLL, VeChn);
    MI_S32 ret = chn_cmd(MI_VENC_IOC_DESTROY_CHN, VeChn);
    info->u32ChnFrameSliceId = 0;
    CamOsMutexUnlock(&info->stMutex);
    return ret;
}

MI_S32 MI_VENC_StartRecvPic(MI_VENC_DEV VeDev, MI_VENC_CHN VeChn) {
    (void)VeDev;
    CHECK_CHN(VeChn);
    return chn_cmd(MI_VENC_IOC_START_RECV_PIC, VeChn);
}

MI_S32 MI_VENC_StopRecvPic(MI_VENC_DEV VeDev, MI_VENC_CHN VeChn) {
    (void)VeDev;
    CHECK_CHN(VeChn);
    MI_S32 ret = chn_cmd(MI_VENC_IOC_STOP_RECV_PIC, VeChn);
    for (int i = 0; i < 100 && (MI_U32)ret == MI_ERR_VENC_BUSY; i++) {
        ret = chn_cmd(MI_VENC_IOC_STOP_RECV_PIC, VeChn);
        usleep(10 * 1000);
    }
    return ret;
}

MI_S32 MI_VENC_Query(MI_VENC_DEV VeDev, MI_VENC_CHN VeChn, MI_VENC_ChnStat_t *pstStat) {
    (void)VeDev;
    CHECK_CHN(VeChn);
    CHECK_PTR(pstStat);
    MI_VENC_ChnStatArg_t a;
    memset(&a, 0, sizeof a);
    a.VeChn = VeChn;
    MI_S32 ret = venc_call(MI_VENC_IOC_QUERY, &a, sizeof a);
    if (ret == MI_SUCCESS) *pstStat = a.stStat;
    return ret;
}

MI_S32 MI_VENC_SetMaxStreamCnt(MI_VENC_DEV VeDev, MI_VENC_CHN VeChn, MI_U32 u32MaxStrmCnt) {
    (void)VeDev;
    CHECK_CHN(VeChn);
    if (u32MaxStrmCnt < 2) return (MI_S32)MI_ERR_VENC_ILLEGAL_PARAM;
    MI_VENC_MaxStreamCntArg_t a = {VeChn, u32MaxStrmCnt};
    return venc_call(MI_VENC_IOC_SET_MAX_STREAM_CNT, &a, sizeof a);
}

MI_S32 MI_VENC_GetMaxStreamCnt(MI_VENC_DEV VeDev, MI_VENC_CHN VeChn, MI_U32 *pu32MaxStrmCnt) {
    (void)VeDev;
    CHECK_CHN(VeChn);
    CHECK_PTR(pu32MaxStrmCnt);
    MI_VENC_MaxStreamCntArg_t a = {VeChn, 0};
    MI_S32 ret = venc_call(MI_VENC_IOC_GET_MAX_STREAM_CNT, &a, sizeof a);
    if (ret == MI_SUCCESS) *pu32MaxStrmCnt = a.u32MaxStrmCnt;
    return ret;
}

// Set/get pairs of the parameter records: the channel, then a copy of the
// caller's record; a get clears the record and copies back only on success.
#define VENC_SET_GET(SetName, GetName, Type, ArgType, Field, SetCode, GetCode, param) \
    MI_S32 SetName(MI_VENC_DEV VeDev, MI_VENC_CHN VeChn, Type *param) {             \
        (void)VeDev;                                                                  \
        CHECK_CHN(VeChn);                                                             \
        CHECK_PTR(param);                                                             \
        ArgType a;                                                                    \
        memset(&a, 0, sizeof a);                                                      \
        a.VeChn = VeChn;                                                              \
        a.Field = *param;                                                             \
        return venc_call(SetCode, &a, sizeof a);                                      \
    }                                                                                 \
    MI_S32 GetName(MI_VENC_DEV VeDev, MI_VENC_CHN VeChn, Type *param) {             \
        (void)VeDev;                                                                  \
        CHECK_CHN(VeChn);                                                             \
        CHECK_PTR(param);                                                             \
        ArgType a;                                                                    \
        memset(&a, 0, sizeof a);                                                      \
        a.VeChn = VeChn;                                                              \
        MI_S32 ret = venc_call(GetCode, &a, sizeof a);                                \
        if (ret == MI_SUCCESS) *param = a.Field;                                      \
        return ret;                                                                   \
    }

VENC_SET_GET(MI_VENC_SetH264Entropy, MI_VENC_GetH264Entropy, MI_VENC_ParamH264Entropy_t, MI_VENC_H264EntropyArg_t,
             stEntropy, MI_VENC_IOC_SET_H264_ENTROPY, MI_VENC_IOC_GET_H264_ENTROPY, pstH264EntropyEnc)
VENC_SET_GET(MI_VENC_SetH264Vui, MI_VENC_GetH264Vui, MI_VENC_ParamH264Vui_t, MI_VENC_H264VuiArg_t, stVui,
             MI_VENC_IOC_SET_H264_VUI, MI_VENC_IOC_GET_H264_VUI, pstH264Vui)
VENC_SET_GET(MI_VENC_SetJpegParam, MI_VENC_GetJpegParam, MI_VENC_ParamJpeg_t, MI_VENC_JpegParamArg_t, stParam,
             MI_VENC_IOC_SET_JPEG_PARAM, MI_VENC_IOC_GET_JPEG_PARAM, pstJpegParam)

MI_S32 MI_VENC_SetInputSourceConfig(MI_VENC_DEV VeDev, MI_VENC_CHN VeChn,
                                    MI_VENC_InputSourceConfig_t *pstInputSourceConfig) {
    (void)VeDev;
    CHECK_CHN(VeChn);
    CHECK_PTR(pstInputSourceConfig);
    MI_VENC_InputSourceConfigArg_t a;
    memset(&a, 0, sizeof a);
    a.VeChn = VeChn;
    a.stConfig = *pstInputSourceConfig;
    return venc_call(MI_VENC_IOC_SET_INPUT_SOURCE, &a, sizeof a);
}

MI_S32 MI_VENC_GetStream(MI_VENC_DEV VeDev, MI_VENC_CHN VeChn, MI_VENC_Stream_t *pstStream, MI_S32 s32MilliSec) {
    (void)VeDev;
    CHECK_CHN(VeChn);
    CHECK_PTR(pstStream);
    if (s32MilliSec < -1) return (MI_S32)MI_ERR_VENC_ILLEGAL_PARAM;
    if (!pstStream->pstPack || pstStream->u32PackCount == 0) return (MI_S32)MI_ERR_VENC_ILLEGAL_PARAM;

    _MI_VENC_UsrChnInfo_t *info = &_astUsrChnInfo[VeChn];
    _MI_VENC_RingPoolInfo_t *ring = &info->stRingPoolInfo;
    MI_VENC_GetStream_t get;
    MI_VENC_ReleaseStream_t rel;
    memset(&get, 0, sizeof get);
    memset(&rel, 0, sizeof rel);
    rel.VeChn = VeChn;
    if (CamOsMutexLock(&info->stMutex) != 0) return (MI_S32)MI_ERR_VENC_NOT_PERM;

    MI_VENC_RingPoolGetHandle_t gh = {(MI_U32)VeChn, 0};
    if (venc_call(MI_VENC_IOC_RING_GET_HANDLE, &gh, sizeof gh) != 0) {
        CamOsMutexUnlock(&info->stMutex);
        return (MI_S32)MI_ERR_VENC_ILLEGAL_PARAM;
    }
    if (ring->hHandle != gh.hHandle && ring->VA) {
        if (MI_SYS_Munmap(ring->VA, ring->u32Size) != MI_SUCCESS) {
            CamOsMutexUnlock(&info->stMutex);
            return -1;
        }
        ring->VA = nullptr;
        ring->u32Size = 0;
    }
    ring->hHandle = gh.hHandle;
    if (!ring->VA) {
        MI_VENC_RingPoolGetInfo_t gi;
        memset(&gi, 0, sizeof gi);
        gi.hHandle = ring->hHandle;
        if (venc_call(MI_VENC_IOC_RING_GET_INFO, &gi, sizeof gi) != 0) {
            CamOsMutexUnlock(&info->stMutex);
            return -1;
        }
        void *va = nullptr;
        if (MI_SYS_Mmap(gi.PA, gi.u32Length, &va, TRUE) != MI_SUCCESS || !va) {
            CamOsMutexUnlock(&info->stMutex);
            return -1;
        }
        ring->PA = gi.PA;
        ring->u32Size = gi.u32Length;
        ring->VA = va;
        MI_SYS_FlushInvCache(va, gi.u32Length);
    }

    MI_U32 fetched = 0;
    MI_S32 ret = MI_SUCCESS;
    for (MI_U32 i = 0;;) {
        MI_VENC_RingPoolGetHeadRecord_t rec;
        memset(&rec, 0, sizeof rec);
        rec.hHandle = ring->hHandle;
        rec.u32MaxMsToWait = (MI_U32)s32MilliSec;
        rec.s32ChnId = VeChn;
        ret = venc_call(MI_VENC_IOC_RING_GET_HEAD, &rec, sizeof rec);
        if (ret != MI_SUCCESS) {
            if (fetched == 0) {
                CamOsMutexUnlock(&info->stMutex);
                return ret;
            }
            break;  // hand back what this call already took
        }
        fetched++;

        // Never trust a record's address: it must lie inside the mapped ring.
        MI_U64 off = rec.PA - ring->PA;
        if (rec.PA < ring->PA || off > ring->u32Size || rec.u32Length > ring->u32Size - off) {
            MI_ERR(VENC_TAG, "chn%d pack outside the stream ring\n", VeChn);
            ret = (MI_S32)MI_ERR_VENC_FAILED;
            break;
        }
        MI_U8 *addr = (MI_U8 *)ring->VA + off;
        MI_SYS_FlushInvCache(addr, rec.u32Length);
        // The handle only marks "a fetch is outstanding": never let it read 0.
        MI_SYS_BUF_HANDLE h = (MI_SYS_BUF_HANDLE)(uintptr_t)addr;
        pstStream->hMiSys = h ? h : 1;
        pstStream->u32Seq = (MI_U32)rec.u64SeqNum;

        MI_VENC_Pack_t *pack = &pstStream->pstPack[i];
        const MI_U32 modtype = (MI_U32)MI_VENC_RING_FLAG_MODTYPE(rec.u64ExtFlags);
        const bool frame_end = (rec.u64ExtFlags & MI_VENC_RING_FLAG_FRAME_END) != 0;
        if (frame_end) {
            pack->bFrameEnd = 1;
            pack->asackInfo[0].u32SliceId = info->u32ChnFrameSliceId + 1;
            info->u32ChnFrameSliceId = 0;
            MI_VENC_H264eRefType_e rt = (MI_VENC_H264eRefType_e)MI_VENC_RING_FLAG_REFTYPE(rec.u64ExtFlags);
            if (modtype == E_MI_VENC_MODTYPE_H264E)
                pstStream->stH264Info.eRefType = rt;
            else if (modtype == E_MI_VENC_MODTYPE_H265E)
                pstStream->stH265Info.eRefType = rt;
            pack->u8FrameQP = rec.u8PicQP;
            pack->s32PocNum = rec.s32PocNum;
            pack->u32Gradient = rec.u32Gradient;
        } else {
            info->u32ChnFrameSliceId++;
            pack->asackInfo[0].u32SliceId = info->u32ChnFrameSliceId;
            pack->bFrameEnd = 0;
        }
        pack->phyAddr = rec.PA;
        pack->pu8Addr = addr;
        pack->u32Len = rec.u32Length;
        pack->u64PTS = rec.u64Pts;
        pack->u32Offset = 0;
        pack->u32DataNum = 0;
        const bool eos = rec.bEndOfStream != 0;
        if (eos) pack->bFrameEnd = (MI_BOOL)(2 + (frame_end ? 1 : 0));

        if (i > 0) {
            i++;
            if (eos || frame_end || i == pstStream->u32PackCount) {
                info->u32FetchedRecords = fetched;
                CamOsMutexUnlock(&info->stMutex);
                return MI_SUCCESS;
            }
            continue;
        }
        ret = venc_call(MI_VENC_IOC_GET_STREAM, &get, sizeof get);
        if (ret != MI_SUCCESS) break;
        if (_MI_VENC_ParseNalu((MI_VENC_ModType_e)modtype, pstStream, addr) != MI_SUCCESS) {
            ret = (MI_S32)MI_ERR_VENC_FAILED;
            break;
        }
        i++;
        if (pack->bFrameEnd || i == pstStream->u32PackCount) {
            info->u32FetchedRecords = fetched;
            CamOsMutexUnlock(&info->stMutex);
            return MI_SUCCESS;
        }
    }
    release_records(info, VeChn, fetched, pstStream, &rel);
    CamOsMutexUnlock(&info->stMutex);
    return ret;
}

MI_S32 MI_VENC_ReleaseStream(MI_VENC_DEV VeDev, MI_VENC_CHN VeChn, MI_VENC_Stream_t *pstStream) {
    (void)VeDev;
    CHECK_CHN(VeChn);
    CHECK_PTR(pstStream);
    if (pstStream->hMiSys == 0) return (MI_S32)MI_ERR_VENC_NULL_PTR;
    _MI_VENC_UsrChnInfo_t *info = &_astUsrChnInfo[VeChn];
    if (CamOsMutexLock(&info->stMutex) != 0) return (MI_S32)MI_ERR_VENC_NOT_PERM;
    if (info->stRingPoolInfo.hHandle == 0) {
        CamOsMutexUnlock(&info->stMutex);
        return MI_SUCCESS;
    }
    if (!pstStream->pstPack) {
        MI_ERR(VENC_TAG, "chn%u pstPack is null\n", (unsigned)VeChn);
        CamOsMutexUnlock(&info->stMutex);
        return (MI_S32)MI_ERR_VENC_NULL_PTR;
    }
    if (pstStream->u32PackCount == 0) MI_ERR(VENC_TAG, "chn%u pack count is zero\n", (unsigned)VeChn);
    // Exactly the records of the last fetch go back, whatever the array length.
    const MI_U32 n = info->u32FetchedRecords;
    for (MI_U32 i = 0; i < n; i++) {
        if (i < pstStream->u32PackCount) {
            MI_VENC_Pack_t *pack = &pstStream->pstPack[i];
            if (pack->pu8Addr)
                MI_SYS_FlushInvCache(pack->pu8Addr, pack->u32Len);
            else
                MI_WRN(VENC_TAG, "pstPack[%d] has reset zero\n", (int)i);
        }
        MI_VENC_RingPoolReleaseHeadRecord_t r = {info->stRingPoolInfo.hHandle, VeChn};
        MI_S32 ret = venc_call(MI_VENC_IOC_RING_RELEASE_HEAD, &r, sizeof r);
        if (ret != MI_SUCCESS) {
            info->u32FetchedRecords = n - i;
            CamOsMutexUnlock(&info->stMutex);
            return ret;
        }
    }
    info->u32FetchedRecords = 0;
    pstStream->hMiSys = 0;
    CamOsMutexUnlock(&info->stMutex);
    MI_VENC_ReleaseStream_t rel;
    memset(&rel, 0, sizeof rel);
    rel.VeChn = VeChn;
    return venc_call(MI_VENC_IOC_RELEASE_STREAM, &rel, sizeof rel);
}

}  // extern "C"
