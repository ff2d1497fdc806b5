// Payloads that lead with the device, channel and port numbers followed by the
// caller's record, as the capture-side modules (isp, scl, vif) send them, and
// the two ways those modules make their calls.
#pragma once
#include <string.h>

#include "mi_internal.h"

template <class T>
struct MiDevRecord {
    MI_U32 u32Dev;
    T st;
};
struct MiChnIds {
    MI_U32 u32Dev;
    MI_U32 u32Chn;
};
template <class T>
struct MiChnRecord {
    MI_U32 u32Dev;
    MI_U32 u32Chn;
    T st;
};
struct MiPortIds {
    MI_U32 u32Dev;
    MI_U32 u32Chn;
    MI_U32 u32Port;
};
template <class T>
struct MiPortRecord {
    MI_U32 u32Dev;
    MI_U32 u32Chn;
    MI_U32 u32Port;
    T st;
};

// One request with a payload built by the caller.
template <class R>
MI_S32 mi_send(mi_dev_e dev, unsigned long request, R payload) {
    return mi_call(dev, request, &payload, sizeof payload);
}

// Reads a channel's or port's record back: the numbers in a cleared payload,
// the record copied out whatever the result.
template <class T>
MI_S32 mi_read_chn(mi_dev_e dev, unsigned long request, MI_U32 devId, MI_U32 chn, T *out) {
    MiChnRecord<T> a;
    memset(&a, 0, sizeof a);
    a.u32Dev = devId;
    a.u32Chn = chn;
    MI_S32 ret = mi_call(dev, request, &a, sizeof a);
    *out = a.st;
    return ret;
}

template <class T>
MI_S32 mi_read_port(mi_dev_e dev, unsigned long request, MI_U32 devId, MI_U32 chn, MI_U32 port, T *out) {
    MiPortRecord<T> a;
    memset(&a, 0, sizeof a);
    a.u32Dev = devId;
    a.u32Chn = chn;
    a.u32Port = port;
    MI_S32 ret = mi_call(dev, request, &a, sizeof a);
    *out = a.st;
    return ret;
}

// Successful create calls of a module in this process.
class MiUseCount {
  public:
    MI_S32 count(MI_S32 ret) {
        if (ret == MI_SUCCESS) __atomic_add_fetch(&n_, 1, __ATOMIC_RELAXED);
        return ret;
    }
    MI_U16 get() const { return __atomic_load_n(&n_, __ATOMIC_RELAXED); }

  private:
    MI_U16 n_ = 0;
};
