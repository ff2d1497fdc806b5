// Audio output: per-channel byte rings in user memory, drained in chunks into
// the driver's DMA buffer once it has room.
#include <stdlib.h>
#include <string.h>

#include "mi_ao.h"
#include "mi_ao_impl.h"
#include "mi_audio_dev.h"
#include "mi_internal.h"

#define AO_TAG "ao"
#define AO_WAIT_STEP_MS 20

namespace {

_MI_AO_DevInfoUsr_t *_gastAoDevInfoUsr = nullptr;
MI_U8 u8ChipDevNum = 0;
MI_U8 u8TableDevNum = 0;
MI_BOOL bInitLock = FALSE;
FILE *_gastPcmData[MI_AO_DEV_NUM_MAX][MI_AO_CHN_NUM_MAX];

struct AoModule {
    using SetRec = MI_AO_SetPubAttr_t;
    using GetRec = MI_AO_GetPubAttr_t;
    static constexpr const char *kTag = AO_TAG;
    static constexpr mi_dev_e kDev = MI_DEV_AO;
    static constexpr int kChnMax = MI_AO_CHN_NUM_MAX;
    static constexpr unsigned long kSetPubAttr = MI_AO_SET_PUB_ATTR;
    static constexpr unsigned long kGetPubAttr = MI_AO_GET_PUB_ATTR;
    static MI_S32 err(MI_S32 n) { return MI_AO_ERR(n); }
    static MI_U8 chip_devs() { return _MI_AO_GetDevNumOfChip(); }
    static MI_S32 init_global() { return _MI_AO_InitGlobalData(); }
    static _MI_AO_DevInfoUsr_t *table() { return _gastAoDevInfoUsr; }
    static MI_U8 table_devs() { return u8TableDevNum; }
    static MI_BOOL &init_lock() { return bInitLock; }
    static void fill_set(SetRec &st, MI_AUDIO_DEV dev, const MI_AUDIO_Attr_t &a) {
        st.AoDevId = dev;
        mi_audio::copy_pub_attr(&st.stPubAttr, a);
    }
    static void fill_get(GetRec &st, MI_AUDIO_DEV dev) { st.AoDevId = dev; }
    static const MI_AUDIO_Attr_t &attr_of(const GetRec &st) { return st.stPubAttr; }
};

using mi_audio::switch_on;
constexpr auto check_dev = mi_audio::check_dev<AoModule>;
constexpr auto check_table = mi_audio::check_table<AoModule>;
constexpr auto check_all = mi_audio::check_all<AoModule>;

MI_U64 now_sec() {
    CamOsTimespec_t ts;
    CamOsGetTimeOfDay(&ts);
    return ts.nSec;
}

void queue_free(_MI_AO_QueueInfo_t *q) {
    CamOsMemRelease(q->pu8Buff);
    memset(q, 0, sizeof *q);
}

MI_S32 queue_init(_MI_AO_QueueInfo_t *q, MI_S32 size) {
    memset(q, 0, sizeof *q);
    q->pu8Buff = (MI_U8 *)CamOsMemAlloc((size_t)size);
    if (!q->pu8Buff) {
        MI_ERR(AO_TAG, "[%s:%d] null pointer.\n", "_MI_AO_QueueInit", __LINE__);
        return MI_AO_ERR(MI_AUDIO_ERR_NULL_PTR);
    }
    q->s32Max = size;
    return 0;
}

MI_S32 queue_size(const _MI_AO_QueueInfo_t *q) { return q->s32Size < 0 ? 0 : q->s32Size; }

void update_queue_status(MI_AUDIO_DEV dev, MI_AO_CHN chn, _MI_AO_DevInfoUsr_t *d) {
    _MI_AO_ChanInfoUsr_t *c = &d->astChanInfo[chn];
    MI_AO_QueueStatus_t st;
    memset(&st, 0, sizeof st);
    st.AoDevId = dev;
    st.AoChn = chn;
    st.s32Max = c->stChnOutputQueue.s32Max;
    st.s32Size = c->stChnOutputQueue.s32Size;
    st.u64RunTime = now_sec() - d->u64StartTime;
    st.u64GetTotalSize = c->u64GetTotalSize;
    mi_call(MI_DEV_AO, MI_AO_UPDATE_QUEUE_STATUS, &st, sizeof st);  // failure is only printed
}

}  // namespace

MI_U8 _MI_AO_GetDevNumOfChip(void) {
    if (u8ChipDevNum != 0) return u8ChipDevNum;
    MI_AO_GetChipDevNum_t st;
    memset(&st, 0, sizeof st);
    if (mi_call(MI_DEV_AO, MI_AO_GET_CHIP_DEV_NUM, &st, sizeof st) != 0) {
        MI_ERR(AO_TAG, "Can not get AO dev num of this chip!!!");
        u8ChipDevNum = 0;
        return 0;
    }
    // The tables hold MI_AO_DEV_NUM_MAX devices.
    u8ChipDevNum = st.u8ChipDevNum > MI_AO_DEV_NUM_MAX ? MI_AO_DEV_NUM_MAX : st.u8ChipDevNum;
    return u8ChipDevNum;
}

MI_S32 _MI_AO_InitGlobalData(void) {
    if (_gastAoDevInfoUsr) return 0;
    MI_U8 n = _MI_AO_GetDevNumOfChip();
    if (n == 0) return MI_AO_ERR(MI_AUDIO_ERR_SYS_NOTREADY);
    auto *t = (_MI_AO_DevInfoUsr_t *)CamOsMemAlloc(sizeof(_MI_AO_DevInfoUsr_t) * n);
    if (!t) {
        MI_ERR(AO_TAG, "Failed to alloc memory for AO global data.");
        return MI_AO_ERR(MI_AUDIO_ERR_NOMEM);
    }
    memset(t, 0, sizeof(_MI_AO_DevInfoUsr_t) * n);
    u8TableDevNum = n;
    _gastAoDevInfoUsr = t;
    return 0;
}

void _MI_AO_InitModule(void) { mi_audio::init_module<AoModule>(); }

_MI_AO_DevInfoUsr_t *_MI_AO_DevInfo(MI_AUDIO_DEV AoDevId) {
    if (!_gastAoDevInfoUsr || AoDevId < 0 || AoDevId >= (MI_S32)u8TableDevNum) return nullptr;
    return &_gastAoDevInfoUsr[AoDevId];
}

void _MI_AO_QueueInsert(_MI_AO_QueueInfo_t *pstQueue, const MI_U8 *pu8InputBuff, MI_S32 s32Size) {
    if (!pstQueue || !pstQueue->pu8Buff || !pu8InputBuff) {
        MI_ERR(AO_TAG, "[%s:%d] null pointer.\n", __func__, __LINE__);
        return;
    }
    MI_S32 size = queue_size(pstQueue);
    if (s32Size <= 0 || size + s32Size > pstQueue->s32Max) return;
    MI_S32 front = pstQueue->s32Front;
    if (front + s32Size > pstQueue->s32Max) {
        MI_S32 first = pstQueue->s32Max - front;
        memcpy(pstQueue->pu8Buff + front, pu8InputBuff, (size_t)first);
        memcpy(pstQueue->pu8Buff, pu8InputBuff + first, (size_t)(s32Size - first));
    } else {
        memcpy(pstQueue->pu8Buff + front, pu8InputBuff, (size_t)s32Size);
    }
    pstQueue->s32Size = size + s32Size;
    pstQueue->s32Front = (front + s32Size) % pstQueue->s32Max;
}

MI_S32 _MI_AO_QueueDraw(_MI_AO_QueueInfo_t *pstQueue, MI_U8 *pu8OutputBuff, MI_S32 s32Size) {
    if (!pstQueue || !pstQueue->pu8Buff || !pu8OutputBuff) {
        MI_ERR(AO_TAG, "[%s:%d] null pointer.\n", __func__, __LINE__);
        return MI_AO_ERR(MI_AUDIO_ERR_NULL_PTR);
    }
    MI_S32 size = queue_size(pstQueue);
    if (s32Size < 0 || s32Size > size) {
        MI_WRN(AO_TAG, "Queue has not enough data");
        MI_WRN(AO_TAG, "Input Size:%d, Remain data Size:%d\n", s32Size, size);
        return MI_AO_ERR(MI_AUDIO_ERR_BUF_EMPTY);
    }
    MI_S32 rear = pstQueue->s32Rear;
    if (rear + s32Size > pstQueue->s32Max) {
        MI_S32 first = pstQueue->s32Max - rear;
        memcpy(pu8OutputBuff, pstQueue->pu8Buff + rear, (size_t)first);
        memcpy(pu8OutputBuff + first, pstQueue->pu8Buff, (size_t)(s32Size - first));
    } else {
        memcpy(pu8OutputBuff, pstQueue->pu8Buff + rear, (size_t)s32Size);
    }
    pstQueue->s32Size = size - s32Size;
    pstQueue->s32Rear = (rear + s32Size) % pstQueue->s32Max;
    return 0;
}

MI_S32 MI_AO_SetPubAttr(MI_AUDIO_DEV AoDevId, MI_AUDIO_Attr_t *pstAttr) {
    return mi_audio::set_pub_attr<AoModule>(__func__, __LINE__, AoDevId, pstAttr);
}

MI_S32 MI_AO_GetPubAttr(MI_AUDIO_DEV AoDevId, MI_AUDIO_Attr_t *pstAttr) {
    return mi_audio::get_pub_attr<AoModule>(__func__, __LINE__, AoDevId, pstAttr);
}

MI_S32 MI_AO_Enable(MI_AUDIO_DEV AoDevId) {
    MI_S32 r;
    if ((r = check_dev(__func__, __LINE__, AoDevId)) != 0) return r;
    if ((r = check_table(__func__, __LINE__, AoDevId)) != 0) return r;
    _MI_AO_DevInfoUsr_t *d = &_gastAoDevInfoUsr[AoDevId];
    MI_AUDIO_DEV dev = AoDevId;
    CamOsRwsemDownWrite(&d->stDevRwSem);
    if (!d->bDevAttrSet) {
        MI_ERR(AO_TAG, "Dev%d has not be set pub attribute.\n", AoDevId);
        r = MI_AO_ERR(MI_AUDIO_ERR_NOT_CONFIG);
    } else if (d->bDevEnable) {
        r = 0;
    } else if (!(d->pu8DevOutputBuff = (MI_U8 *)CamOsMemAlloc(MI_AO_QUEUE_SIZE))) {
        MI_ERR(AO_TAG, "Dev%d failed to alloc dev output buffer.\n", AoDevId);
        r = MI_AO_ERR(MI_AUDIO_ERR_NOMEM);
    } else if ((r = mi_call(MI_DEV_AO, MI_AO_ENABLE, &dev, sizeof dev)) != 0) {
        MI_ERR(AO_TAG, "Dev%d failed to enable!!! error number:0x%x!!!\n", AoDevId, r);
        // Released here so that a retry does not leak one buffer per attempt.
        CamOsMemRelease(d->pu8DevOutputBuff);
        d->pu8DevOutputBuff = nullptr;
    } else {
        d->bDevEnable = TRUE;
        d->astChanInfo[0].u64GetTotalSize = 0;
        if (d->stDevAttr.u32ChnCnt > 1) d->astChanInfo[1].u64GetTotalSize = 0;
        d->u64StartTime = now_sec();
    }
    CamOsRwsemUpWrite(&d->stDevRwSem);
    return r;
}

MI_S32 MI_AO_EnableChn(MI_AUDIO_DEV AoDevId, MI_AO_CHN AoChn) {
    MI_S32 r;
    if ((r = check_all(__func__, __LINE__, AoDevId, AoChn)) != 0) return r;
    _MI_AO_DevInfoUsr_t *d = &_gastAoDevInfoUsr[AoDevId];
    _MI_AO_ChanInfoUsr_t *c = &d->astChanInfo[AoChn];
    CamOsRwsemDownRead(&d->stDevRwSem);
    CamOsRwsemDownWrite(&c->stChnBaseRwSem);
    if (!d->bDevEnable) {
        MI_ERR(AO_TAG, "Dev%d has not been enabled.\n", AoDevId);
        r = MI_AO_ERR(MI_AUDIO_ERR_NOT_ENABLE);
    } else if (c->bChanEnable) {
        r = 0;
    } else {
        MI_AO_EnableChn_t st;
        st.AoDevId = AoDevId;
        st.AoChn = AoChn;
        r = mi_call(MI_DEV_AO, MI_AO_ENABLE_CHN, &st, sizeof st);
        if (r != 0) {
            MI_ERR(AO_TAG, "Dev%d Chn%d failed to enable channel!!! error number:0x%x!!!\n", AoDevId, AoChn, r);
        } else {
            queue_init(&c->stChnOutputQueue, MI_AO_QUEUE_SIZE);
            c->pu8InputBuff = (MI_U8 *)CamOsMemAlloc(MI_AO_QUEUE_SIZE);
            c->pu8OutputBuff = (MI_U8 *)CamOsMemAlloc(MI_AO_QUEUE_SIZE);
            if (!c->stChnOutputQueue.pu8Buff || !c->pu8InputBuff || !c->pu8OutputBuff) {
                queue_free(&c->stChnOutputQueue);
                CamOsMemRelease(c->pu8InputBuff);
                CamOsMemRelease(c->pu8OutputBuff);
                c->pu8InputBuff = nullptr;
                c->pu8OutputBuff = nullptr;
                MI_ERR(AO_TAG, "Dev%d Chn%d Enable chn fail!!!\n", AoDevId, AoChn);
                MI_AO_DisableChn_t dis;
                dis.AoDevId = AoDevId;
                dis.AoChn = AoChn;
                MI_S32 r2 = mi_call(MI_DEV_AO, MI_AO_DISABLE_CHN, &dis, sizeof dis);
                if (r2 != 0)
                    MI_ERR(AO_TAG, "Dev%d Chn%d failed to disable channel in impl!!! error number:0x%x!!!\n", AoDevId,
                           AoChn, r2);
                r = MI_AO_ERR(MI_AUDIO_ERR_NOMEM);
            } else {
                _MI_AO_OpenDumpFile(AoDevId, AoChn, MI_AO_DUMP_PCM);
                c->bChanEnable = TRUE;
            }
        }
    }
    CamOsRwsemUpWrite(&c->stChnBaseRwSem);
    CamOsRwsemUpRead(&d->stDevRwSem);
    return r;
}

MI_S32 MI_AO_QueryChnStat(MI_AUDIO_DEV AoDevId, MI_AO_CHN AoChn, MI_AO_ChnState_t *pstStatus) {
    MI_S32 r;
    if ((r = check_all(__func__, __LINE__, AoDevId, AoChn)) != 0) return r;
    if (!pstStatus) {
        MI_ERR(AO_TAG, "[%s:%d] null pointer.\n", __func__, __LINE__);
        return MI_AO_ERR(MI_AUDIO_ERR_NULL_PTR);
    }
    _MI_AO_DevInfoUsr_t *d = &_gastAoDevInfoUsr[AoDevId];
    if (!d->bDevEnable) {
        MI_ERR(AO_TAG, "Dev%d has not been enabled.\n", AoDevId);
        return MI_AO_ERR(MI_AUDIO_ERR_NOT_ENABLE);
    }
    if (!d->astChanInfo[AoChn].bChanEnable) {
        MI_ERR(AO_TAG, "Dev%d Chn%d has not been enabled.\n", AoDevId, AoChn);
        return MI_AO_ERR(MI_AUDIO_ERR_NOT_ENABLE);
    }
    MI_AO_QueryChnStat_t st;
    memset(&st, 0, sizeof st);
    st.AoDevId = AoDevId;
    st.AoChn = AoChn;
    r = mi_call(MI_DEV_AO, MI_AO_QUERY_CHN_STAT, &st, sizeof st);
    if (r == 0)
        *pstStatus = st.stStatus;
    else
        MI_ERR(AO_TAG, "Dev%d Chn%d failed to get dma buffer info!!! error number:0x%x!!!\n", AoDevId, AoChn, r);
    return r;
}

MI_S32 _MI_AO_SendToChnInputPort(MI_AUDIO_DEV AoDevId, MI_AO_CHN AoChn, _MI_AO_QueueInfo_t *pstInputQueue,
                                 MI_S32 s32MilliSec) {
    (void)s32MilliSec;
    _MI_AO_DevInfoUsr_t *d = &_gastAoDevInfoUsr[AoDevId];
    const MI_AUDIO_Attr_t *a = &d->stDevAttr;
    MI_S32 ss = 0;
    if (a->eBitwidth == E_MI_AUDIO_BIT_WIDTH_16)
        ss = 2;
    else if (a->eBitwidth == E_MI_AUDIO_BIT_WIDTH_24)
        ss = 4;
    else
        MI_ERR(AO_TAG, "BitWidth is illegal = %u.\n", (unsigned)a->eBitwidth);
    MI_S32 unit = 0;
    if (a->eSoundmode == E_MI_AUDIO_SOUND_MODE_MONO)
        unit = ss;
    else if (a->eSoundmode == E_MI_AUDIO_SOUND_MODE_STEREO)
        unit = 2 * ss;
    else
        MI_ERR(AO_TAG, "eSoundmode is illegal = %u.\n", (unsigned)a->eSoundmode);
    if (unit == 0) return 0;  // no whole unit can be formed: nothing to play

    _MI_AO_QueueInfo_t *q0 = &d->astChanInfo[0].stChnOutputQueue;
    _MI_AO_QueueInfo_t *q1 = &d->astChanInfo[1].stChnOutputQueue;
    MI_S32 amount, need, chans;
    if (a->eSoundmode == E_MI_AUDIO_SOUND_MODE_MONO && a->u32ChnCnt == 2) {
        MI_S32 s0 = queue_size(q0), s1 = queue_size(q1);
        amount = (s0 < s1 ? s0 : s1) / unit * unit;
        need = 2 * amount;
        chans = 2;
    } else if (a->u32ChnCnt == 1) {
        amount = queue_size(pstInputQueue) / unit * unit;
        need = a->eSoundmode == E_MI_AUDIO_SOUND_MODE_MONO ? 2 * amount : amount;
        chans = 1;
    } else {
        return 0;
    }

    while (amount > 0) {
        MI_AO_ChnState_t st;
        memset(&st, 0, sizeof st);
        MI_S32 r = MI_AO_QueryChnStat(AoDevId, 0, &st);
        if (r != 0) return r;
        if ((MI_S64)st.u32ChnFreeNum <= (MI_S64)need + MI_AO_DMA_MARGIN) {
            MI_ERR(AO_TAG, "Dma has not enough size.");
            return MI_AO_ERR(MI_AUDIO_ERR_NOBUF);
        }
        MI_S32 chunk = amount < MI_AO_CHUNK_MAX ? amount : MI_AO_CHUNK_MAX;
        if (chans == 1) {
            memset(d->pu8DevOutputBuff, 0, MI_AO_QUEUE_SIZE);
            r = _MI_AO_QueueDraw(pstInputQueue, d->pu8DevOutputBuff, chunk);
            if (r != 0) {
                MI_ERR(AO_TAG, "Input Queue has not enough data!!!!");
                return r;
            }
            if (_gastPcmData[AoDevId][0]) fwrite(d->pu8DevOutputBuff, 1, (size_t)chunk, _gastPcmData[AoDevId][0]);
        } else {
            for (int ch = 0; ch < 2; ch++) {
                _MI_AO_ChanInfoUsr_t *c = &d->astChanInfo[ch];
                memset(c->pu8InputBuff, 0, MI_AO_QUEUE_SIZE);
                r = _MI_AO_QueueDraw(&c->stChnOutputQueue, c->pu8InputBuff, chunk);
                if (r != 0) {
                    MI_ERR(AO_TAG, "Chn%d output Queue has not enough data!!!!\n", ch);
                    return r;
                }
                if (_gastPcmData[AoDevId][ch]) fwrite(c->pu8InputBuff, 1, (size_t)chunk, _gastPcmData[AoDevId][ch]);
            }
            memset(d->pu8DevOutputBuff, 0, MI_AO_QUEUE_SIZE);
            // Interleave whole samples of the stored width (2 chunks fit the 51200-byte buffer).
            const MI_U8 *in0 = d->astChanInfo[0].pu8InputBuff;
            const MI_U8 *in1 = d->astChanInfo[1].pu8InputBuff;
            for (MI_S32 k = 0; k < chunk / ss; k++) {
                memcpy(d->pu8DevOutputBuff + (2 * k) * ss, in0 + k * ss, (size_t)ss);
                memcpy(d->pu8DevOutputBuff + (2 * k + 1) * ss, in1 + k * ss, (size_t)ss);
            }
        }
        MI_AO_SendFrame_t sf;
        memset(&sf, 0, sizeof sf);
        sf.AoDevId = AoDevId;
        sf.AoChn = AoChn;
        sf.stData.apVirAddr[0] = d->pu8DevOutputBuff;
        sf.stData.u32Len[0] = (MI_U32)(chans * chunk);
        sf.s32MilliSec = 0;
        r = mi_call(MI_DEV_AO, MI_AO_SEND_FRAME, &sf, sizeof sf);
        if (r != 0) return r;
        amount -= chunk;
        for (int ch = 0; ch < chans; ch++) {
            d->astChanInfo[ch].u64GetTotalSize += (MI_U64)chunk;
            update_queue_status(AoDevId, ch, d);
        }
    }
    return 0;
}

MI_S32 MI_AO_SendFrame(MI_AUDIO_DEV AoDevId, MI_AO_CHN AoChn, MI_AUDIO_Frame_t *pstData, MI_S32 s32MilliSec) {
    MI_S32 r;
    if ((r = check_all(__func__, __LINE__, AoDevId, AoChn)) != 0) return r;
    if (!pstData) {
        MI_ERR(AO_TAG, "[%s:%d] null pointer.\n", __func__, __LINE__);
        return MI_AO_ERR(MI_AUDIO_ERR_NULL_PTR);
    }
    if (s32MilliSec < -1) {
        MI_ERR(AO_TAG, "The timeout param is illegal!!!!");
        return MI_AO_ERR(MI_AUDIO_ERR_ILLEGAL_PARAM);
    }
    if (AoChn != 0) {
        MI_ERR(AO_TAG, "Dev%d Chn%d only support Chn0 to send frame.\n", AoDevId, AoChn);
        return MI_AO_ERR(MI_AUDIO_ERR_ILLEGAL_PARAM);
    }
    _MI_AO_DevInfoUsr_t *d = &_gastAoDevInfoUsr[AoDevId];
    const MI_U32 cnt = d->stDevAttr.u32ChnCnt;  // 1 or 2: SetPubAttr refuses more
    CamOsRwsemDownRead(&d->stDevRwSem);
    for (MI_U32 i = 0; i < cnt; i++) CamOsRwsemDownRead(&d->astChanInfo[i].stChnBaseRwSem);

    bool fits = true;
    MI_S32 est[MI_AO_CHN_NUM_MAX] = {0, 0};
    MI_S32 amount = 0, need = 0, budget = 0, tries = 0;

    if (!d->bDevEnable) {
        MI_ERR(AO_TAG, "Dev%d is disable!!!\n", AoDevId);
        r = MI_AO_ERR(MI_AUDIO_ERR_NOT_ENABLE);
        goto out;
    }
    if (!d->astChanInfo[0].bChanEnable) {
        MI_ERR(AO_TAG, "Dev%d Chn%d is disable!!!\n", AoDevId, 0);
        r = MI_AO_ERR(MI_AUDIO_ERR_NOT_ENABLE);
        goto out;
    }
    for (MI_U32 i = 0; i < cnt; i++) {
        if (pstData->u32Len[i] < 1 || pstData->u32Len[i] > MI_AO_QUEUE_SIZE) {
            MI_ERR(AO_TAG, "Dev%d Chn%d pstData->u32Len is error, pstData->u32Len[%d], range(0,%d].\n", AoDevId,
                   (int)i, (int)pstData->u32Len[i], MI_AO_QUEUE_SIZE);
            r = MI_AO_ERR(MI_AUDIO_ERR_ILLEGAL_PARAM);
            goto out;
        }
    }
    if (s32MilliSec == 0)
        budget = 0;
    else if (s32MilliSec > 0 && s32MilliSec < AO_WAIT_STEP_MS)
        budget = 1;
    else
        budget = s32MilliSec / AO_WAIT_STEP_MS;
    if (d->stDevAttr.eSoundmode == E_MI_AUDIO_SOUND_MODE_QUEUE) {
        MI_ERR(AO_TAG, "Dev%d does not support queue mode.\n", AoDevId);
        r = MI_AO_ERR(MI_AUDIO_ERR_ILLEGAL_PARAM);
        goto out;
    }
    for (MI_U32 i = 0; i < cnt; i++) {
        _MI_AO_QueueInfo_t *q = &d->astChanInfo[i].stChnOutputQueue;
        est[i] = (MI_S32)pstData->u32Len[i] + queue_size(q);
        if (est[i] > q->s32Max) {
            MI_ERR(AO_TAG, "Dev%d Chn%d Chn output queue has not enough space.\n", AoDevId, (int)i);
            est[i] = queue_size(q);
            fits = false;
        }
    }
    if (cnt == 1 && d->stDevAttr.eSoundmode == E_MI_AUDIO_SOUND_MODE_MONO) {
        amount = 2 * est[0];
    } else if (cnt == 1 && d->stDevAttr.eSoundmode == E_MI_AUDIO_SOUND_MODE_STEREO) {
        amount = est[0];
    } else if (cnt == 2 && d->stDevAttr.eSoundmode == E_MI_AUDIO_SOUND_MODE_MONO) {
        amount = 2 * (est[0] < est[1] ? est[0] : est[1]);
    } else {
        MI_ERR(AO_TAG, "Dev%d does not support this mode.\n", AoDevId);
        r = MI_AO_ERR(MI_AUDIO_ERR_ILLEGAL_PARAM);
        goto out;
    }
    need = amount + MI_AO_DMA_MARGIN;

    for (;;) {
        MI_AO_ChnState_t st;
        memset(&st, 0, sizeof st);
        r = MI_AO_QueryChnStat(AoDevId, 0, &st);
        if (r != 0) goto out;
        if ((MI_S64)st.u32ChnTotalNum <= (MI_S64)need) {
            MI_ERR(AO_TAG, "Need size[%d] > total Dma buffer size[%d].\n", need, (int)st.u32ChnTotalNum);
            r = MI_AO_ERR(MI_AUDIO_ERR_NOBUF);
            goto out;
        }
        if ((MI_S64)st.u32ChnFreeNum > (MI_S64)need) break;
        if (s32MilliSec == -1) {
            if (d->bDevPause) {
                r = MI_AO_ERR(MI_AUDIO_ERR_NOBUF);
                goto out;
            }
        } else if (++tries > budget) {
            r = MI_AO_ERR(MI_AUDIO_ERR_NOBUF);
            goto out;
        }
        CamOsMsSleep(AO_WAIT_STEP_MS);
    }

    for (MI_U32 i = 0; i < cnt; i++) {
        _MI_AO_QueueInfo_t *q = &d->astChanInfo[i].stChnOutputQueue;
        if (!q->pu8Buff || queue_size(q) + (MI_S32)pstData->u32Len[i] > q->s32Max) {
            MI_WRN(AO_TAG, "Dev%d Chn%d Chn output Queue has not enough space.\n", AoDevId, (int)i);
            fits = false;
            continue;
        }
        _MI_AO_QueueInsert(q, (const MI_U8 *)pstData->apVirAddr[i], (MI_S32)pstData->u32Len[i]);
    }
    r = _MI_AO_SendToChnInputPort(AoDevId, 0, &d->astChanInfo[cnt - 1].stChnOutputQueue, s32MilliSec);
    if (r == 0 && !fits) r = MI_AO_ERR(MI_AUDIO_ERR_NOBUF);
out:
    for (MI_U32 i = cnt; i > 0; i--) CamOsRwsemUpRead(&d->astChanInfo[i - 1].stChnBaseRwSem);
    CamOsRwsemUpRead(&d->stDevRwSem);
    return r;
}

MI_S32 _MI_AO_OpenDumpFile(MI_AUDIO_DEV AoDevId, MI_AO_CHN AoChn, MI_AO_DumpType eType) {
    MI_S32 r;
    if ((r = check_all(__func__, __LINE__, AoDevId, AoChn)) != 0) return r;
    if (eType != MI_AO_DUMP_PCM) {
        MI_ERR(AO_TAG, "dump type error!!!");
        return MI_AO_ERR(MI_AUDIO_ERR_ILLEGAL_PARAM);
    }
    if (!switch_on("MI_AO_DUMP_PCM_ENABLE")) return 0;
    const char *dir = getenv("MI_AO_DUMP_PATH");
    if (!dir || !*dir) return 0;
    if (_gastPcmData[AoDevId][AoChn]) return 0;
    const MI_AUDIO_Attr_t *a = &_gastAoDevInfoUsr[AoDevId].stDevAttr;
    const char *mode = a->eSoundmode == E_MI_AUDIO_SOUND_MODE_MONO     ? "Mono"
                       : a->eSoundmode == E_MI_AUDIO_SOUND_MODE_STEREO ? "Stereo"
                                                                       : "";
    char name[512];
    snprintf(name, sizeof name, "%s/MI_AO_Dev%dChn%d_%dK_%s.pcm", dir, AoDevId, AoChn, (int)a->eSamplerate / 1000,
             mode);
    FILE *f = fopen(name, "w+");
    _gastPcmData[AoDevId][AoChn] = f;
    if (!f)
        MI_ERR(AO_TAG, "Open dump file failed! Dev[%d] Chn[%d] Path[%s]\n", AoDevId, AoChn, name);
    else
        MI_INFO(AO_TAG, "Open file success! Dev[%d] Chn[%d] Path[%s] fd[%p].\n", AoDevId, AoChn, name, (void *)f);
    return 0;
}
