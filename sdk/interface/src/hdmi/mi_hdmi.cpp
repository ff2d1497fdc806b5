// HDMI transmitter calls on "/dev/mi_hdmi" and the hot-plug watcher thread
// that polls the connection state every 500 ms and reports each change to
// the application's callback.
#include <errno.h>
#include <stdint.h>
#include <string.h>
#include <time.h>

#include "mi_hdmi.h"
#include "mi_hdmi_internal.h"
#include "mi_hdmi_ioctl.h"

namespace {

constexpr unsigned kPollMs = 500;
// How long a de-init waits for the watcher to leave a callback that is running.
constexpr unsigned kDeInitWaitMs = 2000;

// Module state. The flags are shared with the watcher, so every access holds
// g_lock. A de-init bumps g_generation: a watcher serves only the generation
// it was started for, so a quick de-init/init never leaves an old watcher
// polling beside the new one.
pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t g_cond;
pthread_once_t g_cond_once = PTHREAD_ONCE_INIT;
MI_BOOL _bThreadRunning = FALSE;
MI_HDMI_EventCallBack _gEventCallback = nullptr;
uint32_t g_generation = 0;
int g_watchers = 0;     // watcher threads alive
bool g_started = false; // the newest watcher has named itself
mi_hdmi_thread_start_fn g_thread_start = pthread_create;
thread_local bool t_on_watcher = false;

void init_cond() {
    pthread_condattr_t a;
    pthread_condattr_init(&a);
    pthread_condattr_setclock(&a, CLOCK_MONOTONIC);
    pthread_cond_init(&g_cond, &a);
    pthread_condattr_destroy(&a);
}

timespec deadline_after(unsigned ms) {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    ts.tv_sec += ms / 1000;
    ts.tv_nsec += (long)(ms % 1000) * 1000000L;
    if (ts.tv_nsec >= 1000000000L) {
        ts.tv_sec += 1;
        ts.tv_nsec -= 1000000000L;
    }
    return ts;
}

// Caller holds g_lock.
bool current(uint32_t gen) { return _bThreadRunning && g_generation == gen; }

bool watcher_current(uint32_t gen) {
    pthread_mutex_lock(&g_lock);
    bool c = current(gen);
    pthread_mutex_unlock(&g_lock);
    return c;
}

MI_S32 call(unsigned long request, void *payload, size_t len) { return mi_call(MI_DEV_HDMI, request, payload, len); }

MI_S32 call_dev(unsigned long request, MI_HDMI_DeviceId_e eHdmi) {
    MI_U32 dev = (MI_U32)eHdmi;
    return call(request, &dev, sizeof dev);
}

}  // namespace

extern "C" void *mi_hdmi_process(void *arg) {
    const uint32_t gen = (uint32_t)(uintptr_t)arg;
    t_on_watcher = true;
    pthread_setname_np(pthread_self(), "mi_hdmi_process");

    // The first state comes from a cleared record: when this read fails the
    // watcher starts from "not connected", never from stack contents.
    MI_HDMI_Attr_t attr;
    memset(&attr, 0, sizeof attr);
    const bool run = watcher_current(gen);
    if (run) (void)MI_HDMI_GetAttr(E_MI_HDMI_ID_0, &attr);
    MI_BOOL last = attr.bConnect;
    // Init returns now: every change after it is reported.
    pthread_mutex_lock(&g_lock);
    g_started = true;
    pthread_cond_broadcast(&g_cond);
    pthread_mutex_unlock(&g_lock);

    if (run) {
        for (;;) {
            if (!watcher_current(gen)) break;
            memset(&attr, 0, sizeof attr);
            if (MI_HDMI_GetAttr(E_MI_HDMI_ID_0, &attr) == MI_SUCCESS && attr.bConnect != last) {
                last = attr.bConnect;
                pthread_mutex_lock(&g_lock);
                MI_HDMI_EventCallBack cb = current(gen) ? _gEventCallback : nullptr;
                pthread_mutex_unlock(&g_lock);
                if (cb)
                    (void)cb(E_MI_HDMI_ID_0, last == 1 ? E_MI_HDMI_EVENT_HOTPLUG : E_MI_HDMI_EVENT_NO_PLUG, nullptr,
                             nullptr);
            }
            // One period, cut short by a de-init.
            timespec until = deadline_after(kPollMs);
            pthread_mutex_lock(&g_lock);
            int rc = 0;
            while (current(gen) && rc != ETIMEDOUT) rc = pthread_cond_timedwait(&g_cond, &g_lock, &until);
            pthread_mutex_unlock(&g_lock);
        }
    }

    pthread_mutex_lock(&g_lock);
    --g_watchers;
    pthread_cond_broadcast(&g_cond);
    pthread_mutex_unlock(&g_lock);
    return nullptr;
}

void mi_hdmi_set_thread_start(mi_hdmi_thread_start_fn fn) {
    pthread_mutex_lock(&g_lock);
    g_thread_start = fn ? fn : pthread_create;
    pthread_mutex_unlock(&g_lock);
}

MI_S32 MI_HDMI_Init(MI_HDMI_InitParam_t *pstInitParam) {
    pthread_once(&g_cond_once, init_cond);
    MI_S32 ret = call(MI_HDMI_INIT, nullptr, 0);
    if (ret != MI_SUCCESS) return ret;

    pthread_mutex_lock(&g_lock);
    if (_bThreadRunning) {
        pthread_mutex_unlock(&g_lock);
        MI_INFO("hdmi", "Thread alrady running...\n");
        return MI_SUCCESS;
    }
    // A null parameter record is taken as "no callback".
    if (pstInitParam && pstInitParam->pfnHdmiEventCallback) _gEventCallback = pstInitParam->pfnHdmiEventCallback;
    _bThreadRunning = TRUE;
    const uint32_t gen = g_generation;

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t tid;
    g_started = false;
    int rc = g_thread_start(&tid, &attr, mi_hdmi_process, (void *)(uintptr_t)gen);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        _bThreadRunning = FALSE;
        _gEventCallback = nullptr;
        pthread_mutex_unlock(&g_lock);
        printf("[hdmi] failed to start the hot-plug watcher!(%s)\n", strerror(rc));
        // Leave the driver as it was before this call.
        (void)call(MI_HDMI_DEINIT, nullptr, 0);
        return MI_HDMI_ERR_NOMEM;
    }
    ++g_watchers;
    // Return once the watcher runs under its name and holds its first state:
    // a plug right after Init is then reported.
    while (!g_started) pthread_cond_wait(&g_cond, &g_lock);
    pthread_mutex_unlock(&g_lock);
    return MI_SUCCESS;
}

MI_S32 MI_HDMI_DeInit(void) {
    pthread_once(&g_cond_once, init_cond);
    pthread_mutex_lock(&g_lock);
    _bThreadRunning = FALSE;
    _gEventCallback = nullptr;
    ++g_generation;
    pthread_cond_broadcast(&g_cond);
    // Wait for the watcher to end so that the callback is not called after
    // this returns. From the callback itself (on the watcher) do not wait.
    if (!t_on_watcher) {
        timespec until = deadline_after(kDeInitWaitMs);
        int rc = 0;
        while (g_watchers > 0 && rc != ETIMEDOUT) rc = pthread_cond_timedwait(&g_cond, &g_lock, &until);
        if (g_watchers > 0) {
            pthread_mutex_unlock(&g_lock);
            MI_WRN("hdmi", "hot-plug watcher still in its callback\n");
            pthread_mutex_lock(&g_lock);
        }
    }
    pthread_mutex_unlock(&g_lock);
    return call(MI_HDMI_DEINIT, nullptr, 0);
}

MI_S32 MI_HDMI_Open(MI_HDMI_DeviceId_e eHdmi) { return call_dev(MI_HDMI_OPEN, eHdmi); }

MI_S32 MI_HDMI_Close(MI_HDMI_DeviceId_e eHdmi) { return call_dev(MI_HDMI_CLOSE, eHdmi); }

MI_S32 MI_HDMI_SetAttr(MI_HDMI_DeviceId_e eHdmi, const MI_HDMI_Attr_t *pstAttr) {
    if (!pstAttr) {
        MI_ERR("hdmi", "[%s][%d]MI_HDMI_SetAttr param invaild!\n", "hdmi_api", __LINE__);
        return MI_HDMI_ERR_ILLEGAL_PARAM;
    }
    // Field by field into a cleared record: the caller's alignment bytes
    // after each boolean are never sent.
    MI_HDMI_AttrArg_t p;
    memset(&p, 0, sizeof p);
    p.u32Hdmi = (MI_U32)eHdmi;
    MI_HDMI_Attr_t &d = p.stAttr;
    d.bConnect = pstAttr->bConnect;
    const MI_HDMI_VideoAttr_t &v = pstAttr->stVideoAttr;
    d.stVideoAttr.bEnableVideo = v.bEnableVideo;
    d.stVideoAttr.eTimingType = v.eTimingType;
    d.stVideoAttr.eOutputMode = v.eOutputMode;
    d.stVideoAttr.eColorType = v.eColorType;
    d.stVideoAttr.eDeepColorMode = v.eDeepColorMode;
    const MI_HDMI_AudioAttr_t &a = pstAttr->stAudioAttr;
    d.stAudioAttr.bEnableAudio = a.bEnableAudio;
    d.stAudioAttr.bIsMultiChannel = a.bIsMultiChannel;
    d.stAudioAttr.eSampleRate = a.eSampleRate;
    d.stAudioAttr.eBitDepth = a.eBitDepth;
    d.stAudioAttr.eCodeType = a.eCodeType;
    d.stEnInfoFrame.bEnableAviInfoFrame = pstAttr->stEnInfoFrame.bEnableAviInfoFrame;
    d.stEnInfoFrame.bEnableAudInfoFrame = pstAttr->stEnInfoFrame.bEnableAudInfoFrame;
    d.stEnInfoFrame.bEnableSpdInfoFrame = pstAttr->stEnInfoFrame.bEnableSpdInfoFrame;
    return call(MI_HDMI_SET_ATTR, &p, sizeof p);
}

MI_S32 MI_HDMI_GetAttr(MI_HDMI_DeviceId_e eHdmi, MI_HDMI_Attr_t *pstAttr) {
    if (!pstAttr) {
        MI_ERR("hdmi", "[%s][%d]MI_HDMI_GetAttr param invaild!\n", "hdmi_api", __LINE__);
        return MI_HDMI_ERR_ILLEGAL_PARAM;
    }
    MI_HDMI_AttrArg_t p;
    memset(&p, 0, sizeof p);
    p.u32Hdmi = (MI_U32)eHdmi;
    MI_S32 ret = call(MI_HDMI_GET_ATTR, &p, sizeof p);
    if (ret == MI_SUCCESS) *pstAttr = p.stAttr;
    return ret;
}

MI_S32 MI_HDMI_Start(MI_HDMI_DeviceId_e eHdmi) { return call_dev(MI_HDMI_START, eHdmi); }

MI_S32 MI_HDMI_Stop(MI_HDMI_DeviceId_e eHdmi) { return call_dev(MI_HDMI_STOP, eHdmi); }

MI_S32 MI_HDMI_SetAvMute(MI_HDMI_DeviceId_e eHdmi, MI_BOOL bAvMute) {
    MI_HDMI_SetAvMute_t p;
    p.u32Hdmi = (MI_U32)eHdmi;
    p.u32AvMute = (MI_U32)bAvMute;
    return call(MI_HDMI_SET_AV_MUTE, &p, sizeof p);
}
