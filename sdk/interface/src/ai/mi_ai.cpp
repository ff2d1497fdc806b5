// Audio input: user-side device and channel state under reader/writer locks,
// frames handed over in place from the channel's output-port buffer.
#include <errno.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>

#include "mi_ai.h"
#include "mi_ai_impl.h"
#include "mi_audio_dev.h"
#include "mi_internal.h"
#include "mi_sys.h"

#define AI_TAG "ai"

namespace {

_MI_AI_DevInfoUsr_t *_gastAiDevInfoUsr = nullptr;
MI_U8 u8ChipDevNum = 0;
MI_U8 u8TableDevNum = 0;  // entries of _gastAiDevInfoUsr
MI_BOOL bInitLock = FALSE;
FILE *_gastPcmData[MI_AI_DEV_NUM_MAX][MI_AI_CHN_NUM_MAX];
FILE *_gastEchoData[MI_AI_DEV_NUM_MAX][MI_AI_CHN_NUM_MAX][MI_AI_ECHO_SRC_MAX];

struct AiModule {
    using SetRec = MI_AI_SetPubAttr_t;
    using GetRec = MI_AI_GetPubAttr_t;
    static constexpr const char *kTag = AI_TAG;
    static constexpr mi_dev_e kDev = MI_DEV_AI;
    static constexpr int kChnMax = MI_AI_CHN_NUM_MAX;
    static constexpr unsigned long kSetPubAttr = MI_AI_SET_PUB_ATTR;
    static constexpr unsigned long kGetPubAttr = MI_AI_GET_PUB_ATTR;
    static MI_S32 err(MI_S32 n) { return MI_AI_ERR(n); }
    static MI_U8 chip_devs() { return _MI_AI_GetDevNumOfChip(); }
    static MI_S32 init_global() { return _MI_AI_InitGlobalData(); }
    static _MI_AI_DevInfoUsr_t *table() { return _gastAiDevInfoUsr; }
    static MI_U8 table_devs() { return u8TableDevNum; }
    static MI_BOOL &init_lock() { return bInitLock; }
    static void fill_set(SetRec &st, MI_AUDIO_DEV dev, const MI_AUDIO_Attr_t &a) {
        st.AiDevId = dev;
        mi_audio::copy_pub_attr(&st.stAttr, a);
    }
    static void fill_get(GetRec &st, MI_AUDIO_DEV dev) { st.AiDevId = dev; }
    static const MI_AUDIO_Attr_t &attr_of(const GetRec &st) { return st.stAttr; }
};

using mi_audio::switch_on;
constexpr auto check_dev = mi_audio::check_dev<AiModule>;
constexpr auto check_table = mi_audio::check_table<AiModule>;
constexpr auto check_all = mi_audio::check_all<AiModule>;

MI_SYS_ChnPort_t chn_port(MI_AUDIO_DEV dev, MI_AI_CHN chn) {
    MI_SYS_ChnPort_t p;
    p.eModId = E_MI_MODULE_ID_AI;
    p.u32DevId = (MI_U32)dev;
    p.u32ChnId = (MI_U32)chn;
    p.u32PortId = 0;
    return p;
}

void dump(FILE *f, const void *p, size_t n) {
    if (f && p && n) fwrite(p, 1, n, f);
}

// Mute-zero, dump and describe the parts of one taken buffer.
void describe_frame(MI_AUDIO_DEV dev, MI_AI_CHN chn, const _MI_AI_DevInfoUsr_t *d, MI_U8 *base, MI_U32 bufSize,
                    MI_U32 mic, MI_U32 src, MI_BOOL bMute, MI_AUDIO_Frame_t *pstFrm, MI_AUDIO_AecFrame_t *pstAecFrm) {
    MI_U32 parts = mic + src;
    MI_U32 copy = parts ? bufSize / parts : 0;
    MI_U32 micSize = copy * mic;
    MI_AUDIO_SoundMode_e mode = d->stDevAttr.eSoundmode;

    if (mode == E_MI_AUDIO_SOUND_MODE_MONO || mode == E_MI_AUDIO_SOUND_MODE_STEREO) {
        pstFrm->apVirAddr[0] = base;
        pstFrm->apSrcPcmVirAddr[0] = base;
        pstFrm->u32Len[0] = micSize;
        pstFrm->u32SrcPcmLen[0] = micSize;
        if (bMute && base) memset(base, 0, micSize);
        dump(_gastPcmData[dev][chn], pstFrm->apVirAddr[0], pstFrm->u32Len[0]);
        if (mode == E_MI_AUDIO_SOUND_MODE_MONO) {
            for (MI_U32 i = 0; i < src && i < MI_AI_ECHO_SRC_MAX; i++)
                dump(_gastEchoData[dev][chn][i], base + micSize + i * copy, copy);
        } else if (src > 0) {
            // The reference part holds src * copy bytes: never read past it.
            MI_U32 n = micSize < src * copy ? micSize : src * copy;
            dump(_gastEchoData[dev][chn][0], base + micSize, n);
        }
    } else if (mode == E_MI_AUDIO_SOUND_MODE_QUEUE) {
        for (MI_U32 i = 0; i < mic; i++) {
            MI_U8 *blk = base + i * copy;
            pstFrm->apVirAddr[i] = blk;
            pstFrm->apSrcPcmVirAddr[i] = blk;
            pstFrm->u32Len[i] = copy;
            pstFrm->u32SrcPcmLen[i] = copy;
            if (bMute && blk) memset(blk, 0, copy);
            if (i < MI_AI_CHN_NUM_MAX) dump(_gastPcmData[dev][i], blk, copy);
        }
        for (MI_U32 i = 0; i < src && i < MI_AI_CHN_NUM_MAX * MI_AI_ECHO_SRC_MAX; i++)
            dump(_gastEchoData[dev][i / MI_AI_ECHO_SRC_MAX][i % MI_AI_ECHO_SRC_MAX], base + (mic + i) * copy, copy);
    }

    if (pstAecFrm) {
        MI_AUDIO_Frame_t *ref = &pstAecFrm->stRefFrame;
        ref->eBitwidth = pstFrm->eBitwidth;
        ref->eSoundmode = pstFrm->eSoundmode;
        ref->u64TimeStamp = pstFrm->u64TimeStamp;
        ref->u32Seq = pstFrm->u32Seq;
        pstAecFrm->bValid = FALSE;
        for (int i = 0; i < 8; i++) {
            ref->apVirAddr[i] = nullptr;
            ref->u32Len[i] = 0;
        }
        if (src != 0) {
            pstAecFrm->bValid = TRUE;
            if (mode == E_MI_AUDIO_SOUND_MODE_STEREO) {
                for (MI_U32 i = 0; i < src / 2; i++) {
                    ref->apVirAddr[i] = base + mic * copy;
                    ref->u32Len[i] = copy * src;
                }
            } else if (mode == E_MI_AUDIO_SOUND_MODE_MONO || mode == E_MI_AUDIO_SOUND_MODE_QUEUE) {
                for (MI_U32 i = 0; i < src; i++) {
                    ref->apVirAddr[i] = base + (mic + i) * copy;
                    ref->u32Len[i] = copy;
                }
            }
        }
    }
}

}  // namespace

MI_U8 _MI_AI_GetDevNumOfChip(void) {
    if (u8ChipDevNum != 0) return u8ChipDevNum;
    MI_AI_GetChipDevNum_t st;
    memset(&st, 0, sizeof st);
    MI_S32 r = mi_call(MI_DEV_AI, MI_AI_GET_CHIP_DEV_NUM, &st, sizeof st);
    if (r != 0) {
        MI_ERR(AI_TAG, "Can not get AI dev num of this chip!!!");
        u8ChipDevNum = 0;
        return 0;
    }
    // The tables hold MI_AI_DEV_NUM_MAX devices: a larger count must not index past them.
    u8ChipDevNum = st.u8ChipDevNum > MI_AI_DEV_NUM_MAX ? MI_AI_DEV_NUM_MAX : st.u8ChipDevNum;
    return u8ChipDevNum;
}

MI_S32 _MI_AI_InitGlobalData(void) {
    if (_gastAiDevInfoUsr) return 0;
    MI_U8 n = _MI_AI_GetDevNumOfChip();
    if (n == 0) return MI_AI_ERR(MI_AUDIO_ERR_SYS_NOTREADY);
    auto *t = (_MI_AI_DevInfoUsr_t *)CamOsMemAlloc(sizeof(_MI_AI_DevInfoUsr_t) * n);
    if (!t) {
        MI_ERR(AI_TAG, "Failed to alloc memory for AI global data.");
        return MI_AI_ERR(MI_AUDIO_ERR_NOMEM);
    }
    memset(t, 0, sizeof(_MI_AI_DevInfoUsr_t) * n);
    for (int d = 0; d < n; d++)
        for (int c = 0; c < MI_AI_CHN_NUM_MAX; c++) t[d].astChanInfo[c].s32ChnFd = -1;
    u8TableDevNum = n;
    _gastAiDevInfoUsr = t;
    return 0;
}

void _MI_AI_InitModule(void) { mi_audio::init_module<AiModule>(); }

const _MI_AI_DevInfoUsr_t *_MI_AI_DevInfo(MI_AUDIO_DEV AiDevId) {
    if (!_gastAiDevInfoUsr || AiDevId < 0 || AiDevId >= (MI_S32)u8TableDevNum) return nullptr;
    return &_gastAiDevInfoUsr[AiDevId];
}

MI_S32 MI_AI_SetPubAttr(MI_AUDIO_DEV AiDevId, MI_AUDIO_Attr_t *pstAttr) {
    return mi_audio::set_pub_attr<AiModule>(__func__, __LINE__, AiDevId, pstAttr);
}

MI_S32 MI_AI_GetPubAttr(MI_AUDIO_DEV AiDevId, MI_AUDIO_Attr_t *pstAttr) {
    return mi_audio::get_pub_attr<AiModule>(__func__, __LINE__, AiDevId, pstAttr);
}

MI_S32 MI_AI_Enable(MI_AUDIO_DEV AiDevId) {
    MI_S32 r;
    if ((r = check_dev(__func__, __LINE__, AiDevId)) != 0) return r;
    if ((r = check_table(__func__, __LINE__, AiDevId)) != 0) return r;
    _MI_AI_DevInfoUsr_t *d = &_gastAiDevInfoUsr[AiDevId];
    MI_AUDIO_DEV dev = AiDevId;
    CamOsRwsemDownWrite(&d->stDevRwSem);
    r = mi_call(MI_DEV_AI, MI_AI_ENABLE, &dev, sizeof dev);
    if (r == 0) {
        d->bDevEnable = TRUE;
        for (MI_U32 c = 0; c < d->stDevAttr.u32ChnCnt && c < MI_AI_CHN_NUM_MAX; c++) d->astChanInfo[c].u32Seq = 0;
    } else {
        MI_ERR(AI_TAG, "Dev%d failed to enable!!! error number:0x%x!!!\n", AiDevId, r);
    }
    CamOsRwsemUpWrite(&d->stDevRwSem);
    return r;
}

MI_S32 MI_AI_EnableChn(MI_AUDIO_DEV AiDevId, MI_AI_CHN AiChn) {
    MI_S32 r;
    if ((r = check_all(__func__, __LINE__, AiDevId, AiChn)) != 0) return r;
    _MI_AI_DevInfoUsr_t *d = &_gastAiDevInfoUsr[AiDevId];
    _MI_AI_ChanInfoUsr_t *c = &d->astChanInfo[AiChn];
    CamOsRwsemDownRead(&d->stDevRwSem);
    CamOsRwsemDownWrite(&c->stChnBaseRwSem);
    MI_AI_EnableChn_t st;
    st.AiDevId = AiDevId;
    st.AiChn = AiChn;
    r = mi_call(MI_DEV_AI, MI_AI_ENABLE_CHN, &st, sizeof st);
    if (r != 0) {
        MI_ERR(AI_TAG, "Dev%d Chn%d failed to enable channel!!! error number:0x%x!!!\n", AiDevId, AiChn, r);
        goto out;
    }
    if (c->s32ChnFd == -1) {
        MI_SYS_ChnPort_t port = chn_port(AiDevId, AiChn);
        MI_S32 fd = -1;
        r = MI_SYS_GetFd(&port, &fd);
        if (r != 0) {
            MI_ERR(AI_TAG, "Dev%d Chn%d failed to MI_SYS_GetFd!!!\n", AiDevId, AiChn);
            goto out;
        }
        c->s32ChnFd = fd;
        MI_INFO(AI_TAG, "Dev%d Chn%d get fd[%d] from sys.\n", AiDevId, AiChn, fd);
    }
    _MI_AI_OpenDumpFile(AiDevId, AiChn, MI_AI_DUMP_PCM);
    _MI_AI_OpenDumpFile(AiDevId, AiChn, MI_AI_DUMP_ECHO);
    c->bChanEnable = TRUE;
    c->u32Seq = 0;
    c->hBufHandle = 0;
    c->bBufHeld = FALSE;
    c->pVirBufAddr = nullptr;
    r = 0;
out:
    CamOsRwsemUpWrite(&c->stChnBaseRwSem);
    CamOsRwsemUpRead(&d->stDevRwSem);
    return r;
}

MI_S32 MI_AI_GetFrame(MI_AUDIO_DEV AiDevId, MI_AI_CHN AiChn, MI_AUDIO_Frame_t *pstFrm,
                      MI_AUDIO_AecFrame_t *pstAecFrm, MI_S32 s32MilliSec) {
    MI_S32 r;
    if ((r = check_all(__func__, __LINE__, AiDevId, AiChn)) != 0) return r;
    if (!pstFrm) {
        MI_ERR(AI_TAG, "[%s:%d] null pointer.\n", __func__, __LINE__);
        return MI_AI_ERR(MI_AUDIO_ERR_NULL_PTR);
    }
    if (s32MilliSec < -1) {
        MI_ERR(AI_TAG, "Dev%d Chn%d invalid paramter s32MilliSec[%d]!!!\n", AiDevId, AiChn, s32MilliSec);
        return MI_AI_ERR(MI_AUDIO_ERR_ILLEGAL_PARAM);
    }
    _MI_AI_DevInfoUsr_t *d = &_gastAiDevInfoUsr[AiDevId];
    _MI_AI_ChanInfoUsr_t *c = &d->astChanInfo[AiChn];
    CamOsRwsemDownRead(&d->stDevRwSem);
    CamOsRwsemDownRead(&c->stChnBaseRwSem);

    MI_SYS_ChnPort_t port;
    MI_SYS_BufInfo_t info;
    MI_SYS_BUF_HANDLE h = 0;
    MI_AI_GetChnMuteStatus_t mute;
    MI_AI_GetChnDataInfo_t layout;
    MI_U32 mic = 0, src = 0;
    struct pollfd pfd;
    int pr;

    if (!d->bDevEnable || !c->bChanEnable) {
        r = MI_AI_ERR(MI_AUDIO_ERR_NOT_ENABLE);
        goto out;
    }
    if (c->s32ChnFd == -1) {
        MI_ERR(AI_TAG, "Dev%d Chn%d Fd:%d is error!!!\n", AiDevId, AiChn, c->s32ChnFd);
        r = MI_AI_ERR(MI_AUDIO_ERR_SYS_NOTREADY);
        goto out;
    }
    memset(pstFrm, 0, sizeof *pstFrm);
    // poll rather than select: a descriptor above FD_SETSIZE must not overrun an fd_set.
    pfd.fd = c->s32ChnFd;
    pfd.events = POLLIN;
    pfd.revents = 0;
    pr = poll(&pfd, 1, s32MilliSec);
    if (pr <= 0 || !(pfd.revents & POLLIN)) {
        r = MI_AI_ERR(MI_AUDIO_ERR_NOBUF);
        goto out;
    }

    port = chn_port(AiDevId, AiChn);
    memset(&info, 0, sizeof info);
    r = MI_SYS_ChnOutputPortGetBuf(&port, &info, &h);
    if (r != 0) goto out;

    memset(&mute, 0, sizeof mute);
    mute.AiDevId = AiDevId;
    mute.AiChn = AiChn;
    if (mi_call(MI_DEV_AI, MI_AI_GET_CHN_MUTE_STATUS, &mute, sizeof mute) != 0) {
        MI_ERR(AI_TAG, "Dev%d Chn%d failed to get mute status of channel.\n", AiDevId, AiChn);
        mute.bMute = FALSE;
    }

    memset(&layout, 0, sizeof layout);
    layout.AiDevId = AiDevId;
    layout.AiChn = AiChn;
    r = mi_call(MI_DEV_AI, MI_AI_GET_CHN_DATA_INFO, &layout, sizeof layout);
    if (r != 0) {
        MI_ERR(AI_TAG, "Dev%d Chn%d failed to get data info of channel.\n", AiDevId, AiChn);
    } else if (layout.u32MicDataChnCnt + layout.u32SrcDataChnCnt == 0 ||
               layout.u32MicDataChnCnt > MI_AUDIO_MAX_CHN_NUM || layout.u32SrcDataChnCnt > MI_AUDIO_MAX_CHN_NUM) {
        // Counts that would divide by zero or index past the frame's 16 entries.
        MI_ERR(AI_TAG, "Dev%d Chn%d bad data info: mic[%u] src[%u].\n", AiDevId, AiChn, layout.u32MicDataChnCnt,
               layout.u32SrcDataChnCnt);
        r = MI_AI_ERR(MI_AUDIO_ERR_ILLEGAL_PARAM);
    } else {
        mic = layout.u32MicDataChnCnt;
        src = layout.u32SrcDataChnCnt;
    }

    c->hBufHandle = h;
    c->bBufHeld = TRUE;
    {
        MI_U32 seq = (MI_U32)info.stRawData.u64SeqNum;
        if (seq != c->u32Seq) {
            MI_WRN(AI_TAG, "Dev%d Chn%d Buffer(s) is lost due to slow fetching!!!\n", AiDevId, AiChn);
            MI_WRN(AI_TAG, "Current buf index[%d], recording buf index[%d].\n", (int)seq, (int)c->u32Seq);
            c->u32Seq = seq;
        }
    }
    pstFrm->eBitwidth = d->stDevAttr.eBitwidth;
    pstFrm->eSoundmode = d->stDevAttr.eSoundmode;
    pstFrm->u64TimeStamp = info.u64Pts;
    pstFrm->u32Seq = c->u32Seq;
    describe_frame(AiDevId, AiChn, d, (MI_U8 *)info.stRawData.pVirAddr,
                   info.stRawData.pVirAddr ? info.stRawData.u32BufSize : 0, mic, src, mute.bMute, pstFrm,
                   pstAecFrm);
    c->u32Seq++;
out:
    CamOsRwsemUpRead(&c->stChnBaseRwSem);
    CamOsRwsemUpRead(&d->stDevRwSem);
    return r;
}

MI_S32 MI_AI_ReleaseFrame(MI_AUDIO_DEV AiDevId, MI_AI_CHN AiChn, MI_AUDIO_Frame_t *pstFrm,
                          MI_AUDIO_AecFrame_t *pstAecFrm) {
    (void)pstFrm;
    (void)pstAecFrm;
    MI_S32 r;
    if ((r = check_all(__func__, __LINE__, AiDevId, AiChn)) != 0) return r;
    _MI_AI_DevInfoUsr_t *d = &_gastAiDevInfoUsr[AiDevId];
    _MI_AI_ChanInfoUsr_t *c = &d->astChanInfo[AiChn];
    CamOsRwsemDownRead(&d->stDevRwSem);
    CamOsRwsemDownRead(&c->stChnBaseRwSem);
    if (!d->bDevEnable || !c->bChanEnable) {
        r = MI_AI_ERR(MI_AUDIO_ERR_NOT_ENABLE);
    } else if (!__atomic_exchange_n(&c->bBufHeld, FALSE, __ATOMIC_ACQ_REL)) {
        r = MI_AI_ERR(MI_AUDIO_ERR_BUF_EMPTY);
    } else {
        MI_SYS_ChnOutputPortPutBuf(c->hBufHandle);
        r = 0;
    }
    CamOsRwsemUpRead(&c->stChnBaseRwSem);
    CamOsRwsemUpRead(&d->stDevRwSem);
    return r;
}

MI_S32 _MI_AI_OpenDumpFile(MI_AUDIO_DEV AiDevId, MI_AI_CHN AiChn, MI_AI_DumpType eType) {
    MI_S32 r;
    if ((r = check_all(__func__, __LINE__, AiDevId, AiChn)) != 0) return r;
    const char *sw = eType == MI_AI_DUMP_ECHO ? "MI_AI_DUMP_ECHO_ENABLE" : "MI_AI_DUMP_PCM_ENABLE";
    if (!switch_on(sw)) return 0;
    const char *dir = getenv("MI_AI_DUMP_PATH");
    if (!dir || !*dir) {
        MI_ERR(AI_TAG, "Env variable \"MI_AI_DUMP_PATH\" has not set!!!");
        return 0;
    }
    const MI_AUDIO_Attr_t *a = &_gastAiDevInfoUsr[AiDevId].stDevAttr;
    MI_S32 first, last;
    if (a->eSoundmode == E_MI_AUDIO_SOUND_MODE_QUEUE) {
        first = 0;
        last = (MI_S32)a->u32ChnCnt - 1;
    } else if (a->eSoundmode == E_MI_AUDIO_SOUND_MODE_MONO || a->eSoundmode == E_MI_AUDIO_SOUND_MODE_STEREO) {
        first = last = AiChn;
    } else {
        return 0;
    }
    const char *mode = a->eSoundmode == E_MI_AUDIO_SOUND_MODE_STEREO ? "Stereo" : "Mono";
    int rate = (int)a->eSamplerate / 1000;
    char name[512];
    for (MI_S32 c = first; c <= last; c++) {
        if (eType == MI_AI_DUMP_PCM) {
            if (_gastPcmData[AiDevId][c]) continue;  // a re-enabled channel keeps its file
            snprintf(name, sizeof name, "%s/MI_AI_Dev%dChn%d_%dK_%s.pcm", dir, AiDevId, c, rate, mode);
            _gastPcmData[AiDevId][c] = fopen(name, "w+");
            if (!_gastPcmData[AiDevId][c])
                MI_ERR(AI_TAG, "Open dump pcm file failed! Dev[%d] Chn[%d] Path[%s] \n", AiDevId, c, dir);
        } else if (a->eSoundmode != E_MI_AUDIO_SOUND_MODE_QUEUE || c == 0) {
            for (int s = 0; s < MI_AI_ECHO_SRC_MAX; s++) {
                if (_gastEchoData[AiDevId][c][s]) continue;
                snprintf(name, sizeof name, "%s/MI_AI_Dev%dChn%dSrc%d_%dK_Echo_%s.pcm", dir, AiDevId, c, s, rate,
                         mode);
                _gastEchoData[AiDevId][c][s] = fopen(name, "w+");
                if (!_gastEchoData[AiDevId][c][s])
                    MI_ERR(AI_TAG, "Open dump echo file failed! Dev[%d] Chn[%d] Src[%d] Path[%s] \n", AiDevId, c, s,
                           dir);
            }
        }
    }
    return 0;
}
