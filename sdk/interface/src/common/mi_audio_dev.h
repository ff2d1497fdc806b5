// Device tables of the audio input and output modules: the dump switches, the
// device/table/channel argument checks, the lock set-up and the device
// attribute calls, written once for both. Each module describes itself with a
// type M providing:
//   kTag, kDev, kChnMax            message tag, node, channels a device may have
//   err(n)                         the module's error code for MI_AUDIO_ERR_xxx n
//   chip_devs()                    devices the chip has (asks the driver once)
//   init_global()                  allocates the device table, 0 on success
//   table(), table_devs()          the device table and its entry count
//   init_lock()                    the flag saying the table's locks are set up
//   SetRec, kSetPubAttr, fill_set  the set-attribute request record and code
//   GetRec, kGetPubAttr, fill_get, attr_of   the same for reading them back
// A device entry has stDevRwSem, bDevAttrSet, stDevAttr and astChanInfo[] whose
// entries have stChnBaseRwSem.
#pragma once
#include <stdlib.h>
#include <string.h>

#include "cam_os_wrapper.h"
#include "mi_aio_datatype.h"
#include "mi_internal.h"

namespace mi_audio {

// The attributes field by field (the caller's record is not copied whole):
// the alignment bytes after bSyncClock are never sent.
inline void copy_pub_attr(MI_AUDIO_Attr_t *d, const MI_AUDIO_Attr_t &s) {
    d->eSamplerate = s.eSamplerate;
    d->eBitwidth = s.eBitwidth;
    d->eWorkmode = s.eWorkmode;
    d->eSoundmode = s.eSoundmode;
    d->u32FrmNum = s.u32FrmNum;
    d->u32PtNumPerFrm = s.u32PtNumPerFrm;
    d->u32CodecChnCnt = s.u32CodecChnCnt;
    d->u32ChnCnt = s.u32ChnCnt;
    const MI_AUDIO_I2sConfig_t &i = s.WorkModeSetting.stI2sConfig;
    MI_AUDIO_I2sConfig_t &o = d->WorkModeSetting.stI2sConfig;
    o.eFmt = i.eFmt;
    o.eMclk = i.eMclk;
    o.bSyncClock = i.bSyncClock;
    o.u32TdmSlots = i.u32TdmSlots;
    o.eI2sBitWidth = i.eI2sBitWidth;
}

// A dump switch is on when the variable holds exactly the number 1.
inline bool switch_on(const char *name) {
    const char *v = getenv(name);
    if (!v || !*v) return false;
    char *end = nullptr;
    long n = strtol(v, &end, 10);
    return end && *end == '\0' && n == 1;
}

template <class M>
MI_S32 check_dev(const char *fn, int line, MI_AUDIO_DEV dev) {
    MI_U8 n = M::chip_devs();
    if (dev < 0 || dev >= (MI_S32)n) {
        MI_ERR(M::kTag, "[%s:%d] invalid device id[%d], support device id[0, %d].\n", fn, line, dev, (int)n - 1);
        return M::err(MI_AUDIO_ERR_INVALID_DEVID);
    }
    return 0;
}

// Calls that need the tables refuse to run before the attribute calls created
// them (or after their allocation failed).
template <class M>
MI_S32 check_table(const char *fn, int line, MI_AUDIO_DEV dev) {
    if (!M::table() || !M::init_lock() || dev >= (MI_S32)M::table_devs()) {
        MI_ERR(M::kTag, "[%s:%d] module is not set up, set the device attributes first.\n", fn, line);
        return M::err(MI_AUDIO_ERR_SYS_NOTREADY);
    }
    return 0;
}

// Device, table, attribute and channel checks; 0 when all pass.
template <class M>
MI_S32 check_all(const char *fn, int line, MI_AUDIO_DEV dev, MI_S32 chn) {
    MI_S32 r;
    if ((r = check_dev<M>(fn, line, dev)) != 0) return r;
    if ((r = check_table<M>(fn, line, dev)) != 0) return r;
    MI_U32 cnt = M::table()[dev].stDevAttr.u32ChnCnt;
    if (cnt == 0) {
        MI_ERR(M::kTag, "[%s:%d] device[%d] has not set device attr.\n", fn, line, dev);
        return M::err(MI_AUDIO_ERR_INVALID_CHNID);
    }
    if (chn < 0 || (MI_U32)chn >= cnt) {
        MI_ERR(M::kTag, "[%s:%d] invalid channel id[%d], support device id[0, %d].\n", fn, line, chn, (int)cnt - 1);
        return M::err(MI_AUDIO_ERR_INVALID_CHNID);
    }
    return 0;
}

// Allocates the table and sets up its locks, once.
template <class M>
void init_module() {
    if (M::init_global() != 0 || M::init_lock()) return;
    auto *t = M::table();
    for (int d = 0; d < M::table_devs(); d++) {
        CamOsRwsemInit(&t[d].stDevRwSem);
        for (auto &c : t[d].astChanInfo) CamOsRwsemInit(&c.stChnBaseRwSem);
    }
    M::init_lock() = TRUE;
}

// Checks shared by both attribute calls; fn and line name the public call.
template <class M>
MI_S32 check_pub_attr_call(const char *fn, int line, MI_AUDIO_DEV dev, const MI_AUDIO_Attr_t *attr) {
    init_module<M>();
    MI_S32 r;
    if ((r = check_dev<M>(fn, line, dev)) != 0) return r;
    if (!M::table()) return M::err(MI_AUDIO_ERR_NOMEM);
    if ((r = check_table<M>(fn, line, dev)) != 0) return r;
    if (!attr) {
        MI_ERR(M::kTag, "[%s:%d] null pointer.\n", fn, line);
        return M::err(MI_AUDIO_ERR_NULL_PTR);
    }
    return 0;
}

template <class M>
MI_S32 set_pub_attr(const char *fn, int line, MI_AUDIO_DEV dev, const MI_AUDIO_Attr_t *attr) {
    MI_S32 r;
    if ((r = check_pub_attr_call<M>(fn, line, dev, attr)) != 0) return r;
    // The channel table holds kChnMax channels per device.
    if (attr->u32ChnCnt > (MI_U32)M::kChnMax) {
        MI_ERR(M::kTag, "[%s:%d] channel count[%u] above %d.\n", fn, line, attr->u32ChnCnt, (int)M::kChnMax);
        return M::err(MI_AUDIO_ERR_ILLEGAL_PARAM);
    }
    auto *d = &M::table()[dev];
    typename M::SetRec st;
    memset(&st, 0, sizeof st);
    M::fill_set(st, dev, *attr);
    CamOsRwsemDownWrite(&d->stDevRwSem);
    r = mi_call(M::kDev, M::kSetPubAttr, &st, sizeof st);
    if (r == 0) {
        d->bDevAttrSet = TRUE;
        d->stDevAttr = *attr;
    } else {
        MI_ERR(M::kTag, "Dev%d failed to set pub attr!!! error number:0x%x!!!\n", dev, r);
    }
    CamOsRwsemUpWrite(&d->stDevRwSem);
    return r;
}

template <class M>
MI_S32 get_pub_attr(const char *fn, int line, MI_AUDIO_DEV dev, MI_AUDIO_Attr_t *attr) {
    MI_S32 r;
    if ((r = check_pub_attr_call<M>(fn, line, dev, attr)) != 0) return r;
    auto *d = &M::table()[dev];
    typename M::GetRec st;
    memset(&st, 0, sizeof st);
    M::fill_get(st, dev);
    CamOsRwsemDownRead(&d->stDevRwSem);
    r = mi_call(M::kDev, M::kGetPubAttr, &st, sizeof st);
    if (r == 0)
        *attr = M::attr_of(st);
    else
        MI_ERR(M::kTag, "Dev%d failed to get pub attr!!! error number:0x%x!!!\n", dev, r);
    CamOsRwsemUpRead(&d->stDevRwSem);
    return r;
}

}  // namespace mi_audio
