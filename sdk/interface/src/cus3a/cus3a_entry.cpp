// The custom-3A framework: one thread per ISP device waits for the front
// end's frame events, keeps AE, AWB and AF of each channel initialised as the
// driver enables them, and on each frame feeds a channel's statistics to its
// plug-ins and writes their results back. The IQ-API agents route tuning
// requests to the same plug-ins. One lock per device serialises the thread
// against registration and the agents.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "cam_os_wrapper.h"
#include "cus3a_entry.h"
#include "mi_seam.h"

extern "C" const char brelt_mi_sys_version_string[] =
    "Corvane Module mi_cus3a version: project_commit.4314ad5 sdk_commit.0912413 build_time.20211116181445";

namespace {

constexpr unsigned kDevs = MI_ISP_AGENT_MAX_DEV;
constexpr unsigned kChns = MI_ISP_AGENT_MAX_CHN;
constexpr unsigned kAdaptors = 2;
constexpr unsigned kKinds = 3;
constexpr MI_U32 kStatBlocks = MI_ISP_STATS_MAX_BLOCKS;

typedef enum {
    E_USERSPACE_3A_DISABLE = 0,
    E_USERSPACE_3A_ENABLE = 1,
    E_USERSPACE_3A_ACTIVE = 2,
} USERSPACE_3A_STATUS_e;

struct AlgoAdaptor_t {
    Cus3AEnable_t bEn;
    ISP_AE_INTERFACE AE;
    ISP_AWB_INTERFACE AWB;
    ISP_AF_INTERFACE AF;
};

struct ChInfo_t {
    MI_U8 bEn[kKinds];
    AlgoAdaptor_t tAdaptor[kAdaptors];
    MI_U8 nAdapSel[kKinds];
    MI_U8 bAlgoInited[kKinds];
    USERSPACE_3A_STATUS_e bNativeAe, bNativeAwb, bNativeAf;
};

// Statistics land here straight from the driver; one set per device so the
// threads of two devices never share a buffer.
struct DevStats {
    MI_ISP_AE_HW_STATISTICS_t tAeAvg;
    MI_ISP_HISTO_HW_STATISTICS_t hist[2];
    MI_ISP_RGBIR_HISTO_HW_STATISTICS_t histIR;
    MI_ISP_AWB_HW_STATISTICS_t gAwbAvg;
    MI_ISP_AWB_HW_STATISTICS_t awbShort;
    ISP_AF_INFO_STATS af_stats;
};

ChInfo_t gCus3AChInfo[kDevs][kChns];
int g_RefCount[kDevs];
CamOsMutex_t gCus3AMutexLock[kDevs];
pthread_t g_thread[kDevs];
MI_U32 gCus3AProcRoutineExit[kDevs];
DevStats g_stats[kDevs];
// The channel's last lens-status read at AF start-up failed (device lock):
// the failure is reported once, not at every event it lasts.
bool g_lensMissing[kDevs][kChns];
// Frames of each channel whose statistics were announced, skipped steps too.
MI_U32 g_frameNo[kDevs][kChns];
pthread_mutex_t g_initLock = PTHREAD_MUTEX_INITIALIZER;

bool stopping(MI_U32 dev) { return __atomic_load_n(&gCus3AProcRoutineExit[dev], __ATOMIC_ACQUIRE) != 0; }

void init_locks() {
    for (unsigned d = 0; d < kDevs; ++d) CamOsMutexInit(&gCus3AMutexLock[d]);
}

struct DevLock {
    explicit DevLock(MI_U32 d) : dev(d) {
        static pthread_once_t once = PTHREAD_ONCE_INIT;
        pthread_once(&once, init_locks);
        CamOsMutexLock(&gCus3AMutexLock[dev]);
    }
    ~DevLock() { CamOsMutexUnlock(&gCus3AMutexLock[dev]); }
    DevLock(const DevLock &) = delete;
    DevLock &operator=(const DevLock &) = delete;
    MI_U32 dev;
};

ChInfo_t &ch_info(MI_U32 dev, MI_U32 ch) { return gCus3AChInfo[dev][ch]; }
ISP_AE_INTERFACE &active_ae(ChInfo_t &c) { return c.tAdaptor[c.nAdapSel[E_ALGO_TYPE_AE]].AE; }
ISP_AWB_INTERFACE &active_awb(ChInfo_t &c) { return c.tAdaptor[c.nAdapSel[E_ALGO_TYPE_AWB]].AWB; }
ISP_AF_INTERFACE &active_af(ChInfo_t &c) { return c.tAdaptor[c.nAdapSel[E_ALGO_TYPE_AF]].AF; }

// A statistics grid the driver reports is kept within the block buffers.
void clamp_grid(MI_U32 *x, MI_U32 *y) {
    if (*x > kStatBlocks) *x = kStatBlocks;
    if (*x && *y > kStatBlocks / *x) *y = kStatBlocks / *x;
}

// Releases the active plug-in of a kind (device lock held).
void release_kind(ChInfo_t &c, unsigned kind) {
    if (!c.bAlgoInited[kind]) return;
    if (kind == E_ALGO_TYPE_AE && active_ae(c).release) active_ae(c).release(active_ae(c).pdata);
    if (kind == E_ALGO_TYPE_AWB && active_awb(c).release) active_awb(c).release(active_awb(c).pdata);
    if (kind == E_ALGO_TYPE_AF && active_af(c).release) active_af(c).release(active_af(c).pdata);
    c.bAlgoInited[kind] = 0;
}

// ---- enable pass (device lock held) ---------------------------------------

void do_ae_init(MI_U32 dev, MI_U32 ch) {
    ChInfo_t &c = ch_info(dev, ch);
    ISP_AE_INTERFACE &ae = active_ae(c);
    if (ae.init) {
        auto *st = (CusAEInitParam_t *)CamOsMemCalloc(1, sizeof(CusAEInitParam_t));
        if (!st) return;
        MI_S32 ret = MI_ISP_CUS3A_GetAeInitStatus(dev, ch, st);
        if (ret != 0) {
            CamOsPrintf("[%s] Sensor have NOT been initialized!sret = %d\n", "_DoAeInit", ret);
            CamOsMemRelease(st);
            return;
        }
        ISP_AE_INIT_PARAM ip = *st;
        ip.Size = sizeof ip;
        ae.init(ae.pdata, &ip);
        CamOsMemRelease(st);
    }
    c.bAlgoInited[E_ALGO_TYPE_AE] = 1;
}

void do_af_init(MI_U32 dev, MI_U32 ch) {
    ChInfo_t &c = ch_info(dev, ch);
    ISP_AF_INTERFACE &af = active_af(c);
    if (af.init) {
        // The AF is made from the lens range it reads here: without a status,
        // it waits for the next event instead of starting from range 0..0.
        CusAFInfo_t st;
        memset(&st, 0, sizeof st);
        MI_S32 ret = MI_ISP_CUS3A_GetAfStatus(dev, ch, &st);
        if (ret != 0) {
            if (!g_lensMissing[dev][ch]) CamOsPrintf("[%s] Lens status NOT available!sret = %d\n", "_DoAfInit", ret);
            g_lensMissing[dev][ch] = true;
            return;
        }
        g_lensMissing[dev][ch] = false;
        ISP_AF_INIT_PARAM p;
        memset(&p, 0, sizeof p);
        p.Size = sizeof p;
        p.CurPos = st.CurPos;
        p.MinPos = st.MinPos;
        p.MaxPos = st.MaxPos;
        p.MinStep = 1;
        p.MaxStep = st.MaxPos > st.MinPos ? st.MaxPos - st.MinPos : 0;
        af.init(af.pdata, &p);
    }
    c.bAlgoInited[E_ALGO_TYPE_AF] = 1;
}

void enable_pass(MI_U32 dev, const IspPollStatus_t &ev) {
    for (MI_U32 ch = 0; ch < kChns; ++ch) {
        if (stopping(dev)) return;
        const MI_U32 bit = 1u << ch;
        ChInfo_t &c = ch_info(dev, ch);
        {
            DevLock l(dev);
            if ((ev.u32ChAeEn & bit) && !c.bAlgoInited[E_ALGO_TYPE_AE]) do_ae_init(dev, ch);
            else if (!(ev.u32ChAeEn & bit)) release_kind(c, E_ALGO_TYPE_AE);
        }
        if (stopping(dev)) return;
        {
            DevLock l(dev);
            if ((ev.u32ChAwbEn & bit) && !c.bAlgoInited[E_ALGO_TYPE_AWB]) {
                if (active_awb(c).init) active_awb(c).init(active_awb(c).pdata);
                c.bAlgoInited[E_ALGO_TYPE_AWB] = 1;
            } else if (!(ev.u32ChAwbEn & bit)) {
                release_kind(c, E_ALGO_TYPE_AWB);
            }
        }
        if (stopping(dev)) return;
        {
            DevLock l(dev);
            if ((ev.u32ChAfEn & bit) && !c.bAlgoInited[E_ALGO_TYPE_AF]) do_af_init(dev, ch);
            else if (!(ev.u32ChAfEn & bit)) release_kind(c, E_ALGO_TYPE_AF);
        }
        if ((ev.u32ChReopen & bit) && !stopping(dev)) {
            CamOsPrintf("CUS3A camera reopen CH%d\n", (int)ch);
            DevLock l(dev);
            if (c.bAlgoInited[E_ALGO_TYPE_AE] && active_ae(c).ctrl)
                active_ae(c).ctrl(active_ae(c).pdata, CUS3A_CTRL_CAMERA_REOPEN, nullptr);
            if (c.bAlgoInited[E_ALGO_TYPE_AWB] && active_awb(c).ctrl)
                active_awb(c).ctrl(active_awb(c).pdata, CUS3A_CTRL_CAMERA_REOPEN, nullptr);
            if (c.bAlgoInited[E_ALGO_TYPE_AF] && active_af(c).ctrl)
                active_af(c).ctrl(active_af(c).pdata, CUS3A_CTRL_CAMERA_REOPEN, nullptr);
        }
    }
}

// ---- frame pass (device lock held) -----------------------------------------

#define CUS3A_STEP_ERROR(fn) CamOsPrintf("%s,%d error!\n", fn, __LINE__)

void ae_step(MI_U32 dev, MI_U32 ch) {
    ISP_AE_INTERFACE &ae = active_ae(ch_info(dev, ch));
    if (!ae.run) return;
    DevStats &s = g_stats[dev];
    if (MI_ISP_AE_GetAeHwAvgStats(dev, ch, &s.tAeAvg) != 0) {
        CUS3A_STEP_ERROR("Cus3A_ProcAE");
        return;
    }
    if (MI_ISP_AE_GetHisto0HwStats(dev, ch, &s.hist[0]) != 0) {
        CUS3A_STEP_ERROR("Cus3A_ProcAE");
        return;
    }
    if (MI_ISP_AE_GetHisto1HwStats(dev, ch, &s.hist[1]) != 0) memset(&s.hist[1], 0, sizeof s.hist[1]);
    if (MI_ISP_AE_GetRgbIrHistoHwStats(dev, ch, &s.histIR) != 0) memset(&s.histIR, 0, sizeof s.histIR);
    CusAEInfo_t st;
    memset(&st, 0, sizeof st);
    if (MI_ISP_CUS3A_GetAeStatus(dev, ch, &st) != 0) {
        printf("%s,%d error!\n", "Cus3A_ProcAE", __LINE__);
        return;
    }
    ISP_AE_INFO info;
    memset(&info, 0, sizeof info);
    info.Size = sizeof info;
    info.hist1 = (ISP_HISTX *)&s.hist[0];
    info.hist2 = (ISP_HISTX *)&s.hist[1];
    info.avgs = (ISP_AE_SAMPLE *)s.tAeAvg.nAvg;
    info.histIR = (ISP_IR_HISTX *)&s.histIR;
    info.AvgBlkX = st.AvgBlkX;
    info.AvgBlkY = st.AvgBlkY;
    clamp_grid(&info.AvgBlkX, &info.AvgBlkY);
    info.Shutter = st.Shutter;
    info.SensorGain = st.SensorGain;
    info.IspGain = st.IspGain;
    info.ShutterHDRShort = st.ShutterHDRShort;
    info.SensorGainHDRShort = st.SensorGainHDRShort;
    info.IspGainHDRShort = st.IspGainHDRShort;
    info.PreAvgY = st.PreAvgY;
    info.HDRCtlMode = st.HDRCtlMode;
    info.FNx10 = st.FNx10;
    info.CurFPS = st.CurFPS;
    info.PreWeightY = st.PreWeightY;

    ISP_AE_RESULT res;
    memset(&res, 0, sizeof res);
    res.Size = sizeof res;
    res.Shutter = st.Shutter;
    res.SensorGain = st.SensorGain;
    res.IspGain = st.IspGain;
    res.ShutterHdrShort = st.ShutterHDRShort;
    res.SensorGainHdrShort = st.SensorGainHDRShort;
    res.IspGainHdrShort = st.IspGainHDRShort;
    res.AvgY = st.PreAvgY;
    res.FNx10 = st.FNx10;
    ae.run(ae.pdata, &info, &res);

    CusAEResult_t out;
    out.Size = sizeof out;
    out.Change = res.Change;
    out.Shutter = res.Shutter;
    out.SensorGain = res.SensorGain;
    out.IspGain = res.IspGain;
    out.ShutterHdrShort = res.ShutterHdrShort;
    out.SensorGainHdrShort = res.SensorGainHdrShort;
    out.IspGainHdrShort = res.IspGainHdrShort;
    out.u4BVx16384 = res.u4BVx16384;
    out.AvgY = res.AvgY;
    out.HdrRatio = res.HdrRatio;
    out.FNx10 = res.FNx10;
    out.DebandFPS = res.DebandFPS;
    out.WeightY = res.WeightY;
    if (MI_ISP_CUS3A_SetAeParam(dev, ch, &out) != 0) CUS3A_STEP_ERROR("Cus3A_ProcAE");
}

void awb_step(MI_U32 dev, MI_U32 ch) {
    ISP_AWB_INTERFACE &awb = active_awb(ch_info(dev, ch));
    if (!awb.run) return;
    DevStats &s = g_stats[dev];
    if (MI_ISP_AWB_GetAwbHwAvgStats(dev, ch, &s.gAwbAvg) != 0) {
        CUS3A_STEP_ERROR("Cus3A_ProcAWB");
        return;
    }
    CusAWBInfo_t st;
    memset(&st, 0, sizeof st);
    if (MI_ISP_CUS3A_GetAwbStatus(dev, ch, &st) != 0) {
        CUS3A_STEP_ERROR("Cus3A_ProcAWB");
        return;
    }
    ISP_AWB_INFO info;
    memset(&info, 0, sizeof info);
    info.Size = sizeof info;
    info.AvgBlkX = st.AvgBlkX;
    info.AvgBlkY = st.AvgBlkY;
    clamp_grid(&info.AvgBlkX, &info.AvgBlkY);
    info.CurRGain = st.CurRGain;
    info.CurGGain = st.CurGGain;
    info.CurBGain = st.CurBGain;
    info.avgs = (ISP_AWB_SAMPLE *)s.gAwbAvg.nAvg;
    info.HDRMode = st.HDRMode;
    info.u4BVx16384 = st.u4BVx16384;
    info.WeightY = st.WeightY;
    if (st.HDRMode) {
        if (MI_ISP_AWB_GetAwbHwAvgStatsShort(dev, ch, &s.awbShort) != 0) {
            CUS3A_STEP_ERROR("Cus3A_ProcAWB");
            return;
        }
        info.pAwbStatisShort = (ISP_AWB_SAMPLE *)s.awbShort.nAvg;
    }
    ISP_AWB_RESULT res;
    memset(&res, 0, sizeof res);
    res.Size = sizeof res;
    res.R_gain = st.CurRGain;
    res.G_gain = st.CurGGain;
    res.B_gain = st.CurBGain;
    awb.run(awb.pdata, &info, &res);
    if (MI_ISP_CUS3A_SetAwbParam(dev, ch, &res) != 0) CUS3A_STEP_ERROR("Cus3A_ProcAWB");
}

void af_step(MI_U32 dev, MI_U32 ch) {
    ISP_AF_INTERFACE &af = active_af(ch_info(dev, ch));
    if (!af.run) return;
    DevStats &s = g_stats[dev];
    // A frame without the lens status is skipped: an all-zero status would
    // read as a lens at 0 with range 0..0.
    CusAFInfo_t st;
    memset(&st, 0, sizeof st);
    if (MI_ISP_CUS3A_GetAfStatus(dev, ch, &st) != 0) {
        CUS3A_STEP_ERROR("Cus3A_ProcAF");
        return;
    }
    ISP_AF_INFO info;
    info.Size = sizeof info;
    info.pStats = &s.af_stats;
    info.CurPos = st.CurPos;
    info.MinPos = st.MinPos;
    info.MaxPos = st.MaxPos;
    if (MI_ISP_CUS3A_GetAFStats(dev, ch, &s.af_stats) != 0) {
        CUS3A_STEP_ERROR("Cus3A_ProcAF");
        return;
    }
    ISP_AF_RESULT res;
    memset(&res, 0, sizeof res);
    res.Size = sizeof res;
    af.run(af.pdata, &info, &res);
    if (MI_ISP_CUS3A_SetAfParam(dev, ch, &res) != 0) CUS3A_STEP_ERROR("Cus3A_ProcAF");
}

typedef void (*StepFn)(MI_U32 dev, MI_U32 ch);

// Runs one kind's step if the kind is initialised; false once the thread is
// asked to stop.
bool frame_step(MI_U32 dev, MI_U32 ch, unsigned kind, StepFn fn) {
    if (stopping(dev)) return false;
    DevLock l(dev);
    if (ch_info(dev, ch).bAlgoInited[kind]) fn(dev, ch);
    return true;
}

void frame_pass(MI_U32 dev, const IspPollStatus_t &ev) {
    for (MI_U32 ch = 0; ch < kChns; ++ch) {
        if (!(ev.u32ChStatus & (1u << ch))) continue;
        __atomic_add_fetch(&g_frameNo[dev][ch], 1, __ATOMIC_RELAXED);
        if (!frame_step(dev, ch, E_ALGO_TYPE_AE, ae_step) || !frame_step(dev, ch, E_ALGO_TYPE_AWB, awb_step) ||
            !frame_step(dev, ch, E_ALGO_TYPE_AF, af_step))
            return;
    }
}

// Waits for the next event: true with the record filled, false (record all
// zero) on a timeout. A failed poll or read counts as a timeout after a
// short sleep, so a failing node never spins the thread.
bool wait_event(int fd, IspPollStatus_t *ev, bool *failing) {
    memset(ev, 0, sizeof *ev);
    struct pollfd p = {fd, POLLIN, 0};
    int r = poll(&p, 1, 1000);
    if (r == 0) return false;
    if (r > 0 && read(fd, ev, sizeof *ev) == (ssize_t)sizeof *ev) {
        *failing = false;
        return true;
    }
    if (!*failing) CamOsPrintf("[Cus3A_ProcRoutine] err. %d\n", r < 0 ? -errno : r);
    *failing = true;
    memset(ev, 0, sizeof *ev);
    CamOsMsSleep(10);
    return false;
}

void *Cus3A_ProcRoutine(void *arg) {
    const MI_U32 dev = (MI_U32)(uintptr_t)arg;
    int fd = mi_node_open("/dev/isp_fe", O_RDWR);
    bool failing = false;
    while (!stopping(dev)) {
        IspPollStatus_t ev;
        wait_event(fd, &ev, &failing);
        enable_pass(dev, ev);
        frame_pass(dev, ev);
    }
    if (fd >= 0) mi_node_close(fd);
    CamOsPrintf("[Cus3A_ProcRoutine] exit.\n");
    return nullptr;
}

bool in_range(unsigned dev, unsigned ch) { return dev < kDevs && ch < kChns; }

// ---- agents ----------------------------------------------------------------

enum Route { kToDriver, kAnswerZero, kToAe, kToAwb, kToAf };

Route route_of(MI_U32 id) {
    if (id >= 0x1400 && id <= 0x17FF) return kToAe;
    if (id >= 0x1800 && id <= 0x1BFF) return kToAwb;
    if (id >= 0x1C00 && id <= 0x1FFF) return kToAf;
    if (id == 0x240F || (id >= 0x2C03 && id <= 0x2C06) || id == 0x3001) return kToAwb;
    if (id == 0x3000) return kToAe;
    if (id == 0x3003) return kToAf;
    if (id == 0x2FFF || id == 0x3002 || (id >= 0x3004 && id <= 0x3100)) return kAnswerZero;
    return kToDriver;
}

MI_S32 agent(MI_U32 dir, MI_ISP_IQApiHeader_t *pCmd, void *pData) {
    if (!pCmd) return MI_ISP_API_AGENT_PASS_ON;
    // Decided before any lock: the framework's own statistics and result
    // requests come through here while it holds the device lock.
    const Route r = route_of(pCmd->u32CtrlID);
    if (r == kToDriver) return MI_ISP_API_AGENT_PASS_ON;
    if (r == kAnswerZero) return 0;
    MI_CUS3A_CtrlCmd_t cmd;
    memset(&cmd, 0, sizeof cmd);
    cmd.u32Dir = dir;
    cmd.stApiHeader.u32HeadSize = MI_ISP_IQAPI_HEAD_SIZE;
    cmd.stApiHeader.u32DataLen = pCmd->u32DataLen;
    cmd.stApiHeader.u32CtrlID = pCmd->u32CtrlID;
    cmd.stApiHeader.u32Channel = pCmd->u32Channel;
    cmd.stApiHeader.u32DevId = pCmd->u32DevId;
    cmd.pData = pData;
    const unsigned dev = pCmd->u32DevId, ch = pCmd->u32Channel, id = pCmd->u32CtrlID;
    int ret = r == kToAe ? Cus3A_ProcAeCtrl(dev, ch, id, &cmd)
              : r == kToAwb ? Cus3A_ProcAwbCtrl(dev, ch, id, &cmd)
                            : Cus3A_ProcAfCtrl(dev, ch, id, &cmd);
    if (ret != 0) return MI_ISP_API_AGENT_PASS_ON;
    // The plug-in's answer is the caller's result.
    pCmd->s32Ret = cmd.stApiHeader.s32Ret;
    return cmd.stApiHeader.s32Ret;
}

template <typename If>
int proc_ctrl(unsigned nDev, unsigned nCh, unsigned kind, unsigned cmd, void *param, If &(*active)(ChInfo_t &)) {
    if (!in_range(nDev, nCh)) return -1;
    DevLock l(nDev);
    ChInfo_t &c = ch_info(nDev, nCh);
    If &ifc = active(c);
    if (!c.bAlgoInited[kind] || !ifc.ctrl) return -1;
    return ifc.ctrl(ifc.pdata, cmd, param) == 0 ? 0 : -1;
}

}  // namespace

extern "C" int CUS3A_Init(unsigned int dev) {
    CamOsPrintf("CUS3A ver : %s, date:%s \n", brelt_mi_sys_version_string, "Nov 16 2021");
    if (dev >= kDevs) return -1;
    pthread_mutex_lock(&g_initLock);
    if (g_RefCount[dev]++ > 0) {
        pthread_mutex_unlock(&g_initLock);
        return 0;
    }
    {
        DevLock l(dev);
        memset(gCus3AChInfo[dev], 0, sizeof gCus3AChInfo[dev]);
        memset(g_lensMissing[dev], 0, sizeof g_lensMissing[dev]);
    }
    __atomic_store_n(&gCus3AProcRoutineExit[dev], 0, __ATOMIC_RELEASE);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    int err = pthread_create(&g_thread[dev], &attr, Cus3A_ProcRoutine, (void *)(uintptr_t)dev);
    pthread_attr_destroy(&attr);
    if (err != 0) {
        --g_RefCount[dev];
        pthread_mutex_unlock(&g_initLock);
        CamOsPrintf("Failed to create Cus3A thread for Dev%d. err=%d\n", (int)dev, err);
        return err;
    }
    char name[32];
    snprintf(name, sizeof name, "3A_Proc_%d", (int)dev);
    pthread_setname_np(g_thread[dev], name);
    struct sched_param sp;
    memset(&sp, 0, sizeof sp);
    sp.sched_priority = 95;
    int serr = pthread_setschedparam(g_thread[dev], SCHED_RR, &sp);
    if (serr != 0) CamOsPrintf("[CUS3A_Init] %s: SCHED_RR 95 refused: %s\n", name, strerror(serr));
    pthread_mutex_unlock(&g_initLock);
    return 0;
}

extern "C" int CUS3A_RegInterfaceEX(unsigned int eDev, unsigned int eCh, unsigned int eAdaptor, unsigned int eType,
                                    void *pAlgo) {
    CamOsPrintf("CUS3A_RegInterfaceEX Ch=%d, Adap=%d, Type=%d\n", (int)eCh, (int)eAdaptor, (int)eType);
    if (!in_range(eDev, eCh) || eAdaptor >= kAdaptors) return -1;
    if (eType >= kKinds) return 0;
    DevLock l(eDev);
    ChInfo_t &c = ch_info(eDev, eCh);
    if (c.nAdapSel[eType] == eAdaptor) release_kind(c, eType);
    AlgoAdaptor_t &a = c.tAdaptor[eAdaptor];
    void *slot = eType == E_ALGO_TYPE_AE ? (void *)&a.AE : eType == E_ALGO_TYPE_AWB ? (void *)&a.AWB : (void *)&a.AF;
    static_assert(sizeof(ISP_AE_INTERFACE) == sizeof(ISP_AWB_INTERFACE) &&
                      sizeof(ISP_AE_INTERFACE) == sizeof(ISP_AF_INTERFACE),
                  "the plug-in interfaces are five words each");
    if (pAlgo) memcpy(slot, pAlgo, sizeof(ISP_AE_INTERFACE));
    else memset(slot, 0, sizeof(ISP_AE_INTERFACE));
    return 0;
}

namespace {

template <typename If>
int enable_kind(unsigned nDev, unsigned nCh, int bEn, unsigned kind, int (*get)(unsigned, unsigned, If *)) {
    if (!in_range(nDev, nCh)) return -1;
    if (!bEn) return CUS3A_RegInterfaceEX(nDev, nCh, E_ALGO_ADAPTOR_NATIVE, kind, nullptr);
    If ifc;
    memset(&ifc, 0, sizeof ifc);
    get(nDev, nCh, &ifc);
    int ret = CUS3A_RegInterfaceEX(nDev, nCh, E_ALGO_ADAPTOR_NATIVE, kind, &ifc);
    Cus3AEnable_t en = {1, 1, 1};
    MI_ISP_CUS3A_Enable(nDev, nCh, &en);
    return ret;
}

}  // namespace

extern "C" int CUS3A_EnableUserspaceAE(unsigned int nDev, unsigned int nCh, int bEn) {
    return enable_kind<ISP_AE_INTERFACE>(nDev, nCh, bEn, E_ALGO_TYPE_AE, Velto3AGetAeInterface);
}

extern "C" int CUS3A_EnableUserspaceAWB(unsigned int nDev, unsigned int nCh, int bEn) {
    return enable_kind<ISP_AWB_INTERFACE>(nDev, nCh, bEn, E_ALGO_TYPE_AWB, Velto3AGetAwbInterface);
}

extern "C" int CUS3A_EnableUserspaceAF(unsigned int nDev, unsigned int nCh, int bEn) {
    return enable_kind<ISP_AF_INTERFACE>(nDev, nCh, bEn, E_ALGO_TYPE_AF, Velto3AGetAfInterface);
}

extern "C" int Cus3A_ProcAeCtrl(unsigned int nDev, unsigned int nCh, unsigned int cmd, void *param) {
    return proc_ctrl<ISP_AE_INTERFACE>(nDev, nCh, E_ALGO_TYPE_AE, cmd, param, active_ae);
}

extern "C" int Cus3A_ProcAwbCtrl(unsigned int nDev, unsigned int nCh, unsigned int cmd, void *param) {
    return proc_ctrl<ISP_AWB_INTERFACE>(nDev, nCh, E_ALGO_TYPE_AWB, cmd, param, active_awb);
}

extern "C" int Cus3A_ProcAfCtrl(unsigned int nDev, unsigned int nCh, unsigned int cmd, void *param) {
    return proc_ctrl<ISP_AF_INTERFACE>(nDev, nCh, E_ALGO_TYPE_AF, cmd, param, active_af);
}

extern "C" unsigned int Cus3A_FrameNo(unsigned int nDev, unsigned int nCh) {
    return in_range(nDev, nCh) ? __atomic_load_n(&g_frameNo[nDev][nCh], __ATOMIC_RELAXED) : 0;
}

extern "C" MI_S32 Cus3A_SetIspApiData(MI_ISP_IQApiHeader_t *pCmd, void *pstData) { return agent(0, pCmd, pstData); }

extern "C" MI_S32 Cus3A_GetIspApiData(MI_ISP_IQApiHeader_t *pCmd, void *pstData) { return agent(1, pCmd, pstData); }
