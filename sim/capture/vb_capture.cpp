// Drivers of the capture path on the virtual board: "/dev/mi_vif",
// "/dev/mi_isp", "/dev/mi_scl" and "/dev/isp_fe". A picture source on thread
// "vb-vif" renders the scene for every enabled sensor-interface port at the
// input's rate; the ISP applies the exposure and white balance it was given,
// measures its statistics and hands the picture to the scaler, whose output
// ports feed the bound encoder channels and the display. The ISP's IQ-API
// serves statistics, status and results to a 3A service (see vb_capture.h).
#include "vb_capture.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "mi_internal.h"
#include "mi_isp.h"
#include "mi_scl.h"
#include "mi_vif.h"
#include "vb.h"

namespace vb::capture {
namespace {

using cap::Exposure;
using cap::SceneParams;
using cap::Stats;

// ---- request records (as the library sends them) --------------------------
struct VifGroupArg { MI_U32 group; MI_VIF_GroupAttr_t attr; };
struct VifDevArg { MI_U32 dev; MI_VIF_DevAttr_t attr; };
struct VifPortAttrArg { MI_U32 dev, port; MI_VIF_OutputPortAttr_t attr; };
struct VifPortArg { MI_U32 dev, port; };
struct IspDevArg { MI_U32 dev; MI_ISP_DevAttr_t attr; };
struct IspChnAttrArg { MI_U32 dev, chn; MI_ISP_ChannelAttr_t attr; };
struct CropArg { MI_U32 dev, chn; MI_SYS_WindowRect_t rect; };
struct IspChnParamArg { MI_U32 dev, chn; MI_ISP_ChnParam_t param; };
struct ChnArg { MI_U32 dev, chn; };
struct IspPortParamArg { MI_U32 dev, chn, port; MI_ISP_OutPortParam_t param; };
struct PortArg { MI_U32 dev, chn, port; };
struct SclDevArg { MI_U32 dev; MI_SCL_DevAttr_t attr; };
struct SclChnAttrArg { MI_U32 dev, chn; MI_SCL_ChannelAttr_t attr; };
struct SclChnParamArg { MI_U32 dev, chn; MI_SCL_ChnParam_t param; };
struct SclPortParamArg { MI_U32 dev, chn, port; MI_SCL_OutPortParam_t param; };

enum : unsigned long {
    kVifCreateDevGroup = MI_IOW(0, VifGroupArg),
    kVifSetDevAttr = MI_IOW(4, VifDevArg),
    kVifEnableDev = MI_IOW(6, MI_U32),
    kVifSetOutputPortAttr = MI_IOW(9, VifPortAttrArg),
    kVifEnableOutputPort = MI_IOW(11, VifPortArg),
    kVifDisableOutputPort = MI_IOW(12, VifPortArg),

    kIspCreateDevice = MI_IOW(0, IspDevArg),
    kIspCreateChannel = MI_IOW(2, IspChnAttrArg),
    kIspSetInputPortCrop = MI_IOW(4, CropArg),
    kIspSetChnParam = MI_IOW(6, IspChnParamArg),
    kIspGetChnParam = MI_IOWR(7, IspChnParamArg),
    kIspStartChannel = MI_IOW(8, ChnArg),
    kIspStopChannel = MI_IOW(9, ChnArg),
    kIspSetOutputPortParam = MI_IOW(10, IspPortParamArg),
    kIspGetOutputPortParam = MI_IOWR(11, IspPortParamArg),
    kIspEnableOutputPort = MI_IOW(12, PortArg),
    kIspSetIQApiData = MI_IOW(0x10, MI_ISP_IoctlIQApiData_t),
    kIspGetIQApiData = MI_IOW(0x11, MI_ISP_IoctlIQApiData_t),

    kSclCreateDevice = MI_IOW(0, SclDevArg),
    kSclCreateChannel = MI_IOW(2, SclChnAttrArg),
    kSclSetInputPortCrop = MI_IOW(4, CropArg),
    kSclSetChnParam = MI_IOW(6, SclChnParamArg),
    kSclGetChnParam = MI_IOWR(7, SclChnParamArg),
    kSclStartChannel = MI_IOW(8, ChnArg),
    kSclSetOutputPortParam = MI_IOW(10, SclPortParamArg),
    kSclGetOutputPortParam = MI_IOWR(11, SclPortParamArg),
    kSclEnableOutputPort = MI_IOW(12, PortArg),
};

// Driver results: 0xA0, module id, error level 2, error number.
constexpr int err(MI_ModuleId_e mod, int e) { return (int)(0xA0002000u | ((uint32_t)mod << 16) | (uint32_t)e); }
enum { kInvalidDev = 1, kInvalidChn = 2, kIllegalParam = 3, kExist = 4, kUnexist = 5, kNullPtr = 6,
       kNotConfig = 7, kNotSupport = 8, kNotReady = 16 };

constexpr uint32_t kVifGroups = 4, kVifDevs = 16, kVifPorts = 2;
constexpr uint32_t kIspDevs = 2, kIspChns = 16, kIspPorts = 3;
constexpr uint32_t kSclDevs = 4, kSclChns = 16, kSclPorts = 6;

// Sensor limits reported to the 3A service.
constexpr uint32_t kShutterMin = cap::lines_us(1), kSensorGainMax = 16 * 1024, kIspGainMax = 8 * 1024;
constexpr uint32_t kDefaultLatency = 2, kMaxLatency = 8;
constexpr uint32_t kDefaultLockstepMs = 1000;
const char *const kDefaultIspRoot = "/config/iqfile";
constexpr size_t kIqLogMax = 32768, kIqLogMaxBytes = 512;
// Results a 3A service owes for a frame, one bit per kind it has enabled.
constexpr uint32_t kOweAe = 1, kOweAwb = 2, kOweAf = 4;

struct VifPort {
    bool attr_set = false, enabled = false;
    MI_VIF_OutputPortAttr_t attr{};
    uint64_t next_us = 0;
    uint64_t seq = 0;      // frames made (and the scene's pan position)
    uint64_t skipped = 0;  // slots the source let pass without a frame
    // Slots passed over since the last frame: counted once the frame after
    // them is made, so that every skip lies between two frames (a pause or
    // a disable in between ends the run without them).
    uint64_t passed = 0;
};
struct VifDev {
    bool attr_set = false, enabled = false;
    MI_VIF_DevAttr_t attr{};
    VifPort port[kVifPorts];
};

enum Field { kShutter, kSensorGain, kIspGain, kRGain, kGGain, kBGain };
struct Change {
    uint64_t at;  // number (from 1) of the first frame the value holds for
    Field field;
    uint32_t value;
};

struct IspChn {
    bool created = false, started = false;
    MI_ISP_ChannelAttr_t attr{};
    MI_SYS_WindowRect_t crop{};
    MI_ISP_ChnParam_t param{};
    MI_ISP_OutPortParam_t port[kIspPorts]{};
    bool port_en[kIspPorts]{};
    Cus3AEnable_t en3a{};
    cap::AfConfig af = cap::default_af_config();
    std::map<uint32_t, std::vector<uint8_t>> stored;  // other set requests, by control id
    Exposure cur;      // of the frame being made (set as its exposure starts)
    Exposure shown;    // of the latest finished frame
    uint32_t motor = 512, motor_target = 512;  // lens motor: where it stands, where it goes
    std::vector<Change> pending;
    uint64_t frames = 0;
    uint32_t fps = 30;
    std::shared_ptr<Stats> stats;
    cap::Rgb card{};   // latest output over the grey card
    CusAEResult_t last_ae{};  // the last 0x2E06 written
    uint32_t owed = 0;        // kOwe* bits still unanswered for the latest frame
};
struct IspDev {
    bool created = false;
    IspChn chn[kIspChns];
};

struct SclPort {
    bool set = false, enabled = false;
    MI_SCL_OutPortParam_t p{};
};
struct SclChn {
    bool created = false, started = false;
    MI_SYS_WindowRect_t crop{};
    MI_SCL_ChnParam_t param{};
    SclPort port[kSclPorts];
};
struct SclDev {
    bool created = false;
    uint32_t mask = 0;
    SclChn chn[kSclChns];
};

struct IqFail {
    uint32_t id;
    int code;
    int times;  // -1: until cleared
};

struct FeClient {
    int fd;    // the descriptor the 3A service holds
    int peer;  // our end
};

struct Board {
    std::mutex mu;
    bool group[kVifGroups]{};
    VifDev vif[kVifDevs];
    IspDev isp[kIspDevs];
    SclDev scl[kSclDevs];
    SceneParams scene;
    std::vector<FeClient> fe;
    uint64_t fe_hold_until = 0;
    uint32_t fe_reopen = 0;
    bool paused = false;
    std::condition_variable cv;  // wakes the source on config changes
    uint64_t generation = 0;
    std::condition_variable answered;  // a 3A result came in
    uint64_t iqlog_seq = 0;
    // What tests set for a 3A service; reset() restores the defaults.
    struct Options {
        uint32_t latency = kDefaultLatency;
        uint32_t motor_speed = 0;
        std::string isp_root = kDefaultIspRoot;
        bool lockstep = false;
        uint32_t lockstep_ms = kDefaultLockstepMs;
        uint64_t lockstep_timeouts = 0;
        std::deque<IqLogEntry> iqlog;
        std::vector<IqFail> iqfail;
    } opt;
};

Board &B() {
    static Board *b = new Board;  // driver threads may outlive static destruction
    return *b;
}

std::mutex g_produce;  // one frame at a time (source thread or step())

const cap::SceneModel &model() {
    static const cap::SceneModel *m = new cap::SceneModel;
    return *m;
}

// Reuses picture buffers that nobody downstream still holds.
class Pool {
public:
    std::shared_ptr<std::vector<uint8_t>> get(size_t n) {
        std::lock_guard<std::mutex> g(mu_);
        for (auto &b : bufs_)
            if (b.use_count() == 1 && b->size() == n) return b;
        if (bufs_.size() > 24) bufs_.erase(std::remove_if(bufs_.begin(), bufs_.end(), [](auto &b) { return b.use_count() == 1; }), bufs_.end());
        bufs_.push_back(std::make_shared<std::vector<uint8_t>>(n));
        return bufs_.back();
    }

private:
    std::mutex mu_;
    std::vector<std::shared_ptr<std::vector<uint8_t>>> bufs_;
};
Pool &pool() {
    static Pool *p = new Pool;
    return *p;
}

void kick() {
    ++B().generation;
    B().cv.notify_all();
}

MI_SYS_ChnPort_t port_of(MI_ModuleId_e m, uint32_t dev, uint32_t chn, uint32_t port) {
    MI_SYS_ChnPort_t p;
    p.eModId = m;
    p.u32DevId = dev;
    p.u32ChnId = chn;
    p.u32PortId = port;
    return p;
}

// ---- VIF ---------------------------------------------------------------------
class VifDriver : public Driver {
public:
    int ioctl(int, unsigned long code, void *pl, size_t) override {
        constexpr auto M = E_MI_MODULE_ID_VIF;
        std::lock_guard<std::mutex> g(B().mu);
        switch (code) {
        case kVifCreateDevGroup: {
            auto *a = (VifGroupArg *)pl;
            if (a->group >= kVifGroups) return err(M, kInvalidDev);
            if (B().group[a->group]) return err(M, kExist);
            if ((uint32_t)a->attr.eIntfMode >= E_MI_VIF_MODE_MAX) return err(M, kIllegalParam);
            B().group[a->group] = true;
            return 0;
        }
        case kVifSetDevAttr: {
            auto *a = (VifDevArg *)pl;
            if (a->dev >= kVifDevs) return err(M, kInvalidDev);
            if (!B().group[a->dev / 4]) return err(M, kNotConfig);
            B().vif[a->dev].attr = a->attr;
            B().vif[a->dev].attr_set = true;
            return 0;
        }
        case kVifEnableDev: {
            uint32_t dev = *(MI_U32 *)pl;
            if (dev >= kVifDevs) return err(M, kInvalidDev);
            if (!B().vif[dev].attr_set) return err(M, kNotConfig);
            B().vif[dev].enabled = true;
            return 0;
        }
        case kVifSetOutputPortAttr: {
            auto *a = (VifPortAttrArg *)pl;
            if (a->dev >= kVifDevs) return err(M, kInvalidDev);
            if (a->port >= kVifPorts) return err(M, kInvalidChn);
            const auto &s = a->attr.stDestSize;
            if (s.u16Width < 64 || s.u16Height < 64 || (s.u16Width & 1) || (s.u16Height & 1) ||
                (uint32_t)a->attr.eFrameRate >= E_MI_VIF_FRAMERATE_MAX)
                return err(M, kIllegalParam);
            B().vif[a->dev].port[a->port].attr = a->attr;
            B().vif[a->dev].port[a->port].attr_set = true;
            return 0;
        }
        case kVifEnableOutputPort:
        case kVifDisableOutputPort: {
            auto *a = (VifPortArg *)pl;
            if (a->dev >= kVifDevs) return err(M, kInvalidDev);
            if (a->port >= kVifPorts) return err(M, kInvalidChn);
            VifPort &p = B().vif[a->dev].port[a->port];
            if (code == kVifDisableOutputPort) {
                p.enabled = false;
                return 0;
            }
            if (!B().vif[a->dev].enabled || !p.attr_set) return err(M, kNotConfig);
            if (!p.enabled) {
                p.enabled = true;
                p.next_us = 0;
                p.passed = 0;
                kick();
            }
            return 0;
        }
        }
        return err(M, kNotSupport);
    }
};

// ---- ISP ---------------------------------------------------------------------
uint32_t expected_len(uint32_t cid) {
    switch (cid) {
    case MI_ISP_CID_AE_HW_AVG_STATS: return sizeof(MI_ISP_AE_HW_STATISTICS_t);
    case MI_ISP_CID_AE_HISTO0_STATS:
    case MI_ISP_CID_AE_HISTO1_STATS: return sizeof(MI_ISP_HISTO_HW_STATISTICS_t);
    case MI_ISP_CID_AE_INIT_STATUS: return sizeof(CusAEInitParam_t);
    case MI_ISP_CID_AE_STATUS: return sizeof(CusAEInfo_t);
    case MI_ISP_CID_AE_PARAM: return sizeof(CusAEResult_t);
    case MI_ISP_CID_AWB_HW_AVG_STATS:
    case MI_ISP_CID_AWB_HW_AVG_STATS_SHORT: return sizeof(MI_ISP_AWB_HW_STATISTICS_t);
    case MI_ISP_CID_CUS3A_ENABLE: return sizeof(Cus3AEnable_t);
    case MI_ISP_CID_AWB_STATUS: return sizeof(CusAWBInfo_t);
    case MI_ISP_CID_AWB_PARAM: return sizeof(CusAWBResult_t);
    case MI_ISP_CID_AF_STATS: return sizeof(CusAFStats_t);
    case MI_ISP_CID_AF_WINDOW: return sizeof(CusAFWin_t);
    case MI_ISP_CID_AF_FILTER: return sizeof(CusAFFilter_Geo_t);
    case MI_ISP_CID_AF_FILTER_SQ: return sizeof(CusAFFilterSq_t);
    case MI_ISP_CID_AF_ROI_MODE: return sizeof(CusAFRoiMode_t);
    case MI_ISP_CID_AE_RGBIR_HISTO_STATS: return sizeof(MI_ISP_RGBIR_HISTO_HW_STATISTICS_t);
    case MI_ISP_CID_AF_STATUS: return sizeof(CusAFInfo_t);
    case MI_ISP_CID_AF_PARAM: return sizeof(CusAfResult_t);
    case MI_ISP_CID_AF_YPARAM: return sizeof(CusAFYParam_t);
    case MI_ISP_CID_AF_SOURCE: return sizeof(CusAFSource_e);
    case MI_ISP_CID_AF_PREFILTER: return sizeof(CusAFPreFilter_t);
    case MI_ISP_CID_AF_YMAP: return sizeof(CusAFYMap_t);
    case MI_ISP_CID_AF_LDG: return sizeof(CusAFLdg_t);
    case MI_ISP_CID_ISP_ROOT: return sizeof(MI_ISP_ROOT_PATH_T);
    }
    return 0;
}

void put_u32(uint8_t *p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

uint32_t frame_period_us(uint32_t fps) { return 1000000u / std::max(1u, fps); }

class IspDriver : public Driver {
public:
    int ioctl(int, unsigned long code, void *pl, size_t) override {
        constexpr auto M = E_MI_MODULE_ID_ISP;
        std::lock_guard<std::mutex> g(B().mu);
        if (code == kIspSetIQApiData || code == kIspGetIQApiData)
            return iqapi(code == kIspSetIQApiData, (MI_ISP_IoctlIQApiData_t *)pl);
        if (code == kIspCreateDevice) {
            auto *a = (IspDevArg *)pl;
            if (a->dev >= kIspDevs) return err(M, kInvalidDev);
            if (B().isp[a->dev].created) return err(M, kExist);
            B().isp[a->dev].created = true;
            return 0;
        }
        // Every other request leads with device and channel.
        auto *dc = (ChnArg *)pl;
        if (dc->dev >= kIspDevs) return err(M, kInvalidDev);
        if (dc->chn >= kIspChns) return err(M, kInvalidChn);
        if (!B().isp[dc->dev].created) return err(M, kNotConfig);
        IspChn &c = B().isp[dc->dev].chn[dc->chn];
        if (code == kIspCreateChannel) {
            if (c.created) return err(M, kExist);
            c = IspChn();
            c.created = true;
            c.attr = ((IspChnAttrArg *)pl)->attr;
            return 0;
        }
        if (!c.created) return err(M, kUnexist);
        switch (code) {
        case kIspSetInputPortCrop: c.crop = ((CropArg *)pl)->rect; return 0;
        case kIspSetChnParam: c.param = ((IspChnParamArg *)pl)->param; return 0;
        case kIspGetChnParam: ((IspChnParamArg *)pl)->param = c.param; return 0;
        case kIspStartChannel: c.started = true; kick(); return 0;
        case kIspStopChannel: c.started = false; return 0;
        case kIspSetOutputPortParam:
        case kIspGetOutputPortParam:
        case kIspEnableOutputPort: {
            auto *pa = (PortArg *)pl;
            if (pa->port >= kIspPorts) return err(M, kIllegalParam);
            if (code == kIspSetOutputPortParam) c.port[pa->port] = ((IspPortParamArg *)pl)->param;
            else if (code == kIspGetOutputPortParam) ((IspPortParamArg *)pl)->param = c.port[pa->port];
            else c.port_en[pa->port] = true;
            return 0;
        }
        }
        return err(M, kNotSupport);
    }

private:
    // Board lock held. Armed failures answer first; every request is logged.
    static int iqapi(bool set, MI_ISP_IoctlIQApiData_t *rq) {
        const MI_ISP_IQApiHeader_t h = rq->stIQApiDataHeader;
        const uint8_t *d = (const uint8_t *)rq->pVirData;
        uint32_t want = expected_len(h.u32CtrlID);
        // Only a record of the id's own length is read: the caller's buffer
        // may be shorter than a bogus header claims.
        bool keep = d && want && h.u32DataLen == want && want <= kIqLogMaxBytes;
        IqLogEntry e{B().iqlog_seq++, 0, set, h.u32CtrlID, h.u32DevId, h.u32Channel, h.u32DataLen, {}, 0};
        if (h.u32DevId < kIspDevs && h.u32Channel < kIspChns) e.frame = B().isp[h.u32DevId].chn[h.u32Channel].frames;
        if (set && keep) e.bytes.assign(d, d + want);
        // A result written is the 3A's answer to its frame, whatever the
        // driver then makes of it.
        if (set && h.u32DevId < kIspDevs && h.u32Channel < kIspChns) {
            IspChn &c = B().isp[h.u32DevId].chn[h.u32Channel];
            c.owed &= ~(h.u32CtrlID == MI_ISP_CID_AE_PARAM    ? kOweAe
                        : h.u32CtrlID == MI_ISP_CID_AWB_PARAM ? kOweAwb
                        : h.u32CtrlID == MI_ISP_CID_AF_PARAM  ? kOweAf
                                                              : 0);
            B().answered.notify_all();
        }
        if (!armed_failure(h.u32CtrlID, &e.result)) e.result = request(set, rq);
        if (!set && keep && e.result == 0) e.bytes.assign(d, d + want);
        int r = e.result;
        B().opt.iqlog.push_back(std::move(e));
        if (B().opt.iqlog.size() > kIqLogMax) B().opt.iqlog.pop_front();
        return r;
    }

    static bool armed_failure(uint32_t id, int *code) {
        auto &v = B().opt.iqfail;
        for (auto it = v.begin(); it != v.end(); ++it) {
            if (it->id != id) continue;
            *code = it->code;
            if (it->times > 0 && --it->times == 0) v.erase(it);
            return true;
        }
        return false;
    }

    static int request(bool set, MI_ISP_IoctlIQApiData_t *rq) {
        constexpr auto M = E_MI_MODULE_ID_ISP;
        const MI_ISP_IQApiHeader_t &h = rq->stIQApiDataHeader;
        if (h.u32HeadSize != MI_ISP_IQAPI_HEAD_SIZE) return err(M, kIllegalParam);
        if (!rq->pVirData) return err(M, kNullPtr);
        uint32_t want = expected_len(h.u32CtrlID);
        if (!want) return err(M, kNotSupport);
        if (h.u32DataLen != want) return err(M, kIllegalParam);
        if (h.u32DevId >= kIspDevs) return err(M, kInvalidDev);
        if (h.u32Channel >= kIspChns) return err(M, kInvalidChn);
        void *d = rq->pVirData;
        if (h.u32CtrlID == MI_ISP_CID_ISP_ROOT) {
            if (set) return err(M, kNotSupport);
            auto *r = (MI_ISP_ROOT_PATH_T *)d;
            memset(r, 0, sizeof *r);
            memcpy(r->strIspRoot, B().opt.isp_root.data(), std::min(B().opt.isp_root.size(), sizeof r->strIspRoot));
            return 0;
        }
        IspChn &c = B().isp[h.u32DevId].chn[h.u32Channel];
        if (!B().isp[h.u32DevId].created || !c.created) return err(M, kUnexist);
        return set ? iq_set(c, h.u32CtrlID, d) : iq_get(c, h.u32CtrlID, d);
    }

    // The value holds from the frame `delay` frames after the latest one.
    static void later(IspChn &c, uint64_t delay, Field f, uint32_t v) { c.pending.push_back({c.frames + delay, f, v}); }

    static int iq_set(IspChn &c, uint32_t cid, const void *d) {
        constexpr auto M = E_MI_MODULE_ID_ISP;
        switch (cid) {
        case MI_ISP_CID_AE_PARAM: {
            auto *r = (const CusAEResult_t *)d;
            c.last_ae = *r;
            if (!r->Change) return 0;
            // The sensor takes shutter and gain `latency` frames on; the ISP
            // holds its gain back to the same frame. Shutters are whole lines.
            uint32_t max_sh = frame_period_us(c.fps);
            later(c, B().opt.latency, kShutter, cap::whole_line_shutter(std::clamp(r->Shutter, kShutterMin, max_sh)));
            later(c, B().opt.latency, kSensorGain, std::clamp(r->SensorGain, 1024u, kSensorGainMax));
            later(c, B().opt.latency, kIspGain, std::clamp(r->IspGain, 1024u, kIspGainMax));
            return 0;
        }
        case MI_ISP_CID_AWB_PARAM: {
            auto *r = (const CusAWBResult_t *)d;
            if (!r->Change) return 0;
            later(c, 1, kRGain, std::clamp(r->R_gain, 1u, 16383u));
            later(c, 1, kGGain, std::clamp(r->G_gain, 1u, 16383u));
            later(c, 1, kBGain, std::clamp(r->B_gain, 1u, 16383u));
            return 0;
        }
        case MI_ISP_CID_AF_PARAM: {
            auto *r = (const CusAfResult_t *)d;
            // The motor heads there during the next frame, which is still
            // exposed where the lens stood when it began.
            if (r->Change) c.motor_target = std::clamp(r->NextPos, cap::kLensMin, cap::kLensMax);
            return 0;
        }
        case MI_ISP_CID_CUS3A_ENABLE: c.en3a = *(const Cus3AEnable_t *)d; return 0;
        case MI_ISP_CID_AF_WINDOW: {
            auto *w = (const CusAFWin_t *)d;
            if (w->u8WindowIndex >= cap::kAfCols) return err(M, kIllegalParam);
            const CusAFWinPara_t &p = w->stParaAPI;
            if (p.u32StartX > p.u32EndX || p.u32StartY > p.u32EndY || p.u32EndX > 1023 || p.u32EndY > 1023)
                return err(M, kIllegalParam);
            c.af.win[w->u8WindowIndex] = {p.u32StartX, p.u32StartY, p.u32EndX, p.u32EndY};
            return 0;
        }
        case MI_ISP_CID_AF_ROI_MODE: {
            auto *r = (const CusAFRoiMode_t *)d;
            if ((uint32_t)r->mode > AF_ROI_MODE_MATRIX || r->u32_vertical_block_number > 16) return err(M, kIllegalParam);
            c.af.matrix = r->mode == AF_ROI_MODE_MATRIX;
            c.af.vblocks = std::max(1u, r->u32_vertical_block_number);
            return 0;
        }
        case MI_ISP_CID_AF_FILTER:
        case MI_ISP_CID_AF_FILTER_SQ:
        case MI_ISP_CID_AF_YPARAM:
        case MI_ISP_CID_AF_SOURCE:
        case MI_ISP_CID_AF_PREFILTER:
        case MI_ISP_CID_AF_YMAP:
        case MI_ISP_CID_AF_LDG: {
            // Kept as set; the virtual focus measure is fixed.
            auto *b = (const uint8_t *)d;
            c.stored[cid].assign(b, b + expected_len(cid));
            return 0;
        }
        }
        return err(M, kNotSupport);
    }

    static int iq_get(IspChn &c, uint32_t cid, void *d) {
        constexpr auto M = E_MI_MODULE_ID_ISP;
        const Stats *s = c.stats.get();
        switch (cid) {
        case MI_ISP_CID_AE_INIT_STATUS: {
            // The sensor is up once it has delivered a frame.
            if (!c.frames) return err(M, kNotReady);
            auto *r = (CusAEInitParam_t *)d;
            memset(r, 0, sizeof *r);
            r->Size = sizeof *r;
            snprintf(r->sensor_id, sizeof r->sensor_id, "%s", "vb_bt1120");
            r->shutter = c.shown.shutter_us;
            r->shutter_step = cap::kLineNs;
            r->shutter_min = kShutterMin;
            r->shutter_max = frame_period_us(c.fps);
            r->sensor_gain = c.shown.sensor_gain;
            r->sensor_gain_min = 1024;
            r->sensor_gain_max = kSensorGainMax;
            r->isp_gain = c.shown.isp_gain;
            r->isp_gain_max = kIspGainMax;
            r->FNx10 = 18;
            r->fps = c.fps * 1000;
            r->shutterHDRShort_step = r->shutter_step;
            r->shutterHDRShort_min = r->shutter_min;
            r->shutterHDRShort_max = r->shutter_max;
            r->sensor_gainHDRShort_min = r->sensor_gain_min;
            r->sensor_gainHDRShort_max = r->sensor_gain_max;
            r->AvgBlkX = cap::kStatBlkX;
            r->AvgBlkY = cap::kStatBlkY;
            return 0;
        }
        case MI_ISP_CID_AF_STATUS: {
            auto *r = (CusAFInfo_t *)d;
            r->Size = sizeof *r;
            r->MinPos = cap::kLensMin;
            r->MaxPos = cap::kLensMax;
            r->CurPos = c.motor;
            return 0;
        }
        case MI_ISP_CID_AE_RGBIR_HISTO_STATS:
            // No infrared pixels on this sensor.
            memset(d, 0, sizeof(MI_ISP_RGBIR_HISTO_HW_STATISTICS_t));
            return 0;
        case MI_ISP_CID_AWB_HW_AVG_STATS_SHORT:
            return err(M, kNotSupport);  // no HDR: there is no short exposure
        }
        if (!s) return err(M, kNotReady);
        switch (cid) {
        case MI_ISP_CID_AE_HW_AVG_STATS: {
            auto *r = (MI_ISP_AE_HW_STATISTICS_t *)d;
            memset(r, 0, sizeof *r);
            r->nBlkX = s->blk_x;
            r->nBlkY = s->blk_y;
            for (uint32_t i = 0; i < s->blk_x * s->blk_y; ++i)
                r->nAvg[i] = {s->ae[i][0], s->ae[i][1], s->ae[i][2], s->ae[i][3]};
            return 0;
        }
        case MI_ISP_CID_AWB_HW_AVG_STATS: {
            auto *r = (MI_ISP_AWB_HW_STATISTICS_t *)d;
            memset(r, 0, sizeof *r);
            r->nBlkX = cap::kAwbBlkX;
            r->nBlkY = cap::kAwbBlkY;
            for (uint32_t i = 0; i < cap::kAwbBlkX * cap::kAwbBlkY; ++i)
                r->nAvg[i] = {s->awb[i][0], s->awb[i][1], s->awb[i][2]};
            return 0;
        }
        case MI_ISP_CID_AE_HISTO0_STATS: memcpy(d, s->hist0, sizeof s->hist0); return 0;
        case MI_ISP_CID_AE_HISTO1_STATS: memcpy(d, s->hist1, sizeof s->hist1); return 0;
        case MI_ISP_CID_AE_STATUS: {
            CusAEInfo_t r;
            memset(&r, 0, sizeof r);
            r.Size = sizeof r;
            r.AvgBlkX = s->blk_x;
            r.AvgBlkY = s->blk_y;
            r.Shutter = c.shown.shutter_us;
            r.SensorGain = c.shown.sensor_gain;
            r.IspGain = c.shown.isp_gain;
            r.PreAvgY = c.last_ae.AvgY;
            r.FNx10 = 18;
            r.CurFPS = c.fps * 1000;
            r.PreWeightY = c.last_ae.WeightY;
            memcpy(d, &r, sizeof r);
            return 0;
        }
        case MI_ISP_CID_AWB_STATUS: {
            CusAWBInfo_t r;
            memset(&r, 0, sizeof r);
            r.Size = sizeof r;
            r.AvgBlkX = cap::kAwbBlkX;
            r.AvgBlkY = cap::kAwbBlkY;
            r.CurRGain = c.shown.r_gain;
            r.CurGGain = c.shown.g_gain;
            r.CurBGain = c.shown.b_gain;
            r.u4BVx16384 = c.last_ae.u4BVx16384;
            r.WeightY = (MI_S32)c.last_ae.WeightY;
            memcpy(d, &r, sizeof r);
            return 0;
        }
        case MI_ISP_CID_AF_STATS: {
            auto *r = (CusAFStats_t *)d;
            memset(r, 0, sizeof *r);
            for (int row = 0; row < cap::kAfRows; ++row) {
                AF_STATS_PARAM_t &p = r->stParaAPI[row];
                for (int col = 0; col < cap::kAfCols; ++col) {
                    const cap::AfCell &cell = s->af[row][col];
                    put_u32(&p.iir_1[col * 5 + 1], cell.high);
                    put_u32(&p.iir_2[col * 5 + 1], cell.low);
                    put_u32(&p.luma[col * 5 + 1], cell.luma);
                    put_u32(&p.fir_v[col * 5 + 1], cell.vert);
                    put_u32(&p.fir_h[col * 5 + 1], cell.horz);
                    uint32_t sat = std::min(cell.sat, 0xFFFFFFu);
                    p.ysat[col * 3] = (uint8_t)sat;
                    p.ysat[col * 3 + 1] = (uint8_t)(sat >> 8);
                    p.ysat[col * 3 + 2] = (uint8_t)(sat >> 16);
                }
            }
            return 0;
        }
        }
        return err(M, kNotSupport);
    }
};

// ---- SCL ---------------------------------------------------------------------
class SclDriver : public Driver {
public:
    int ioctl(int, unsigned long code, void *pl, size_t) override {
        constexpr auto M = E_MI_MODULE_ID_SCL;
        std::lock_guard<std::mutex> g(B().mu);
        if (code == kSclCreateDevice) {
            auto *a = (SclDevArg *)pl;
            if (a->dev >= kSclDevs) return err(M, kInvalidDev);
            if (B().scl[a->dev].created) return err(M, kExist);
            B().scl[a->dev].created = true;
            B().scl[a->dev].mask = a->attr.u32NeedUseHWOutPortMask;
            return 0;
        }
        auto *dc = (ChnArg *)pl;
        if (dc->dev >= kSclDevs) return err(M, kInvalidDev);
        if (dc->chn >= kSclChns) return err(M, kInvalidChn);
        if (!B().scl[dc->dev].created) return err(M, kNotConfig);
        SclChn &c = B().scl[dc->dev].chn[dc->chn];
        if (code == kSclCreateChannel) {
            if (c.created) return err(M, kExist);
            c = SclChn();
            c.created = true;
            return 0;
        }
        if (!c.created) return err(M, kUnexist);
        switch (code) {
        case kSclSetInputPortCrop: c.crop = ((CropArg *)pl)->rect; return 0;
        case kSclSetChnParam: c.param = ((SclChnParamArg *)pl)->param; return 0;
        case kSclGetChnParam: ((SclChnParamArg *)pl)->param = c.param; return 0;
        case kSclStartChannel: c.started = true; return 0;
        case kSclSetOutputPortParam:
        case kSclGetOutputPortParam:
        case kSclEnableOutputPort: {
            auto *pa = (PortArg *)pl;
            if (pa->port >= kSclPorts) return err(M, kIllegalParam);
            SclPort &p = c.port[pa->port];
            if (code == kSclSetOutputPortParam) {
                const MI_SCL_OutPortParam_t &np = ((SclPortParamArg *)pl)->param;
                const auto &sz = np.stSCLOutputSize;
                if ((sz.u16Width | sz.u16Height) & 1) return err(M, kIllegalParam);
                if ((sz.u16Width && sz.u16Width < 16) || (sz.u16Height && sz.u16Height < 16)) return err(M, kIllegalParam);
                p.p = np;
                p.set = true;
            } else if (code == kSclGetOutputPortParam) {
                ((SclPortParamArg *)pl)->param = p.p;
            } else {
                if (!p.set) return err(M, kNotConfig);
                p.enabled = true;
            }
            return 0;
        }
        }
        return err(M, kNotSupport);
    }
};

// ---- "/dev/isp_fe" -----------------------------------------------------------
// Each open gets one end of a datagram pair: a read returns one 20-byte
// record, poll reports one waiting. A reader that falls behind loses events
// rather than piling them up.
struct IspPollStatus {
    uint32_t u32ChStatus, u32ChAeEn, u32ChAwbEn, u32ChAfEn, u32ChReopen;
};
static_assert(sizeof(IspPollStatus) == 20);

class IspFeDriver : public Driver {
public:
    int ioctl(int, unsigned long, void *, size_t) override { return -EINVAL; }
    void on_open(int fd) override {
        int sv[2];
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0) return;
        int small = 2048;
        setsockopt(sv[1], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        if (dup3(sv[0], fd, O_CLOEXEC) < 0) {
            close(sv[0]);
            close(sv[1]);
            return;
        }
        close(sv[0]);
        std::lock_guard<std::mutex> g(B().mu);
        B().fe.push_back({fd, sv[1]});
    }
    void on_close(int fd) override {
        std::lock_guard<std::mutex> g(B().mu);
        auto &v = B().fe;
        for (auto it = v.begin(); it != v.end();)
            if (it->fd == fd) {
                close(it->peer);
                it = v.erase(it);
            } else {
                ++it;
            }
    }
};

// Called with B().mu held, after channel `chn` of ISP device 0 finished a
// frame. A delivered event makes the channel owe a result per enabled kind.
void fe_event(uint32_t chn) {
    Board &b = B();
    b.isp[0].chn[chn].owed = 0;
    if (b.fe.empty()) return;
    if (pts_now() < b.fe_hold_until) return;
    IspPollStatus ev{};
    ev.u32ChStatus = 1u << chn;
    for (uint32_t c = 0; c < kIspChns; ++c) {
        const IspChn &ic = b.isp[0].chn[c];
        if (!ic.created) continue;
        if (ic.en3a.bAE) ev.u32ChAeEn |= 1u << c;
        if (ic.en3a.bAWB) ev.u32ChAwbEn |= 1u << c;
        if (ic.en3a.bAF) ev.u32ChAfEn |= 1u << c;
    }
    ev.u32ChReopen = b.fe_reopen;
    b.fe_reopen = 0;
    bool sent = false;
    for (auto &cl : b.fe) sent |= send(cl.peer, &ev, sizeof ev, MSG_DONTWAIT | MSG_NOSIGNAL) == (ssize_t)sizeof ev;
    const Cus3AEnable_t &en = b.isp[0].chn[chn].en3a;
    b.isp[0].chn[chn].owed = sent ? (en.bAE ? kOweAe : 0) | (en.bAWB ? kOweAwb : 0) | (en.bAF ? kOweAf : 0) : 0;
}

// ---- the picture path --------------------------------------------------------
class SclSink : public FrameSink {
public:
    void deliver(const MI_SYS_ChnPort_t &dst, const Picture &pic) override {
        if (pic.fmt != PixFmt::NV12 || !pic.data || dst.u32DevId >= kSclDevs || dst.u32ChnId >= kSclChns) return;
        SclChn c;
        {
            std::lock_guard<std::mutex> g(B().mu);
            const SclChn &sc = B().scl[dst.u32DevId].chn[dst.u32ChnId];
            if (!sc.started) return;
            c = sc;
        }
        // Input crop (whole picture when unset or out of range).
        cap::Rect in{0, 0, pic.width, pic.height};
        if (c.crop.u16Width && c.crop.u16Height && c.crop.u16X + c.crop.u16Width <= pic.width &&
            c.crop.u16Y + c.crop.u16Height <= pic.height)
            in = {c.crop.u16X & ~1u, c.crop.u16Y & ~1u, c.crop.u16Width & ~1u, c.crop.u16Height & ~1u};
        for (uint32_t p = 0; p < kSclPorts; ++p) {
            const SclPort &sp = c.port[p];
            if (!sp.enabled) continue;
            MI_SYS_ChnPort_t out = port_of(E_MI_MODULE_ID_SCL, dst.u32DevId, dst.u32ChnId, p);
            if (bindings_from(out).empty()) continue;
            cap::Rect cr = in;
            const auto &oc = sp.p.stSCLOutCropRect;
            if (oc.u16Width && oc.u16Height && oc.u16X + oc.u16Width <= in.w && oc.u16Y + oc.u16Height <= in.h)
                cr = {in.x + (oc.u16X & ~1u), in.y + (oc.u16Y & ~1u), oc.u16Width & ~1u, oc.u16Height & ~1u};
            uint32_t dw = sp.p.stSCLOutputSize.u16Width ? sp.p.stSCLOutputSize.u16Width : cr.w;
            uint32_t dh = sp.p.stSCLOutputSize.u16Height ? sp.p.stSCLOutputSize.u16Height : cr.h;
            bool i420 = sp.p.ePixelFormat == E_MI_SYS_PIXEL_FRAME_YUV420_PLANAR;
            Picture o;
            o.width = dw;
            o.height = dh;
            o.fmt = i420 ? PixFmt::I420 : PixFmt::NV12;
            o.pts = pic.pts;
            if (!i420 && !sp.p.bMirror && !sp.p.bFlip && cr.x == 0 && cr.y == 0 && cr.w == pic.width &&
                cr.h == pic.height && dw == pic.width && dh == pic.height) {
                o.data = pic.data;  // nothing to do: share the ISP's picture
            } else {
                auto buf = pool().get((size_t)dw * dh * 3 / 2);
                cap::scale_nv12(pic.data->data(), pic.width, pic.height, cr, buf->data(), dw, dh, i420,
                                sp.p.bMirror, sp.p.bFlip);
                o.data = buf;
            }
            deliver_from(out, o);
        }
    }
};

class IspSink : public FrameSink {
public:
    void deliver(const MI_SYS_ChnPort_t &dst, const Picture &pic) override {
        if (pic.fmt != PixFmt::UYVY422 || !pic.data || dst.u32DevId >= kIspDevs || dst.u32ChnId >= kIspChns) return;
        process(dst.u32DevId, dst.u32ChnId, pic);
    }

    static void process(uint32_t dev, uint32_t chn, const Picture &pic) {
        Exposure ex;
        cap::AfConfig af;
        cap::Rect in{0, 0, pic.width, pic.height};
        {
            std::lock_guard<std::mutex> g(B().mu);
            IspChn &c = B().isp[dev].chn[chn];
            if (!c.started) return;
            ex = c.cur;  // set when the sensor began this frame
            af = c.af;
            if (c.crop.u16Width && c.crop.u16Height && c.crop.u16X + c.crop.u16Width <= pic.width &&
                c.crop.u16Y + c.crop.u16Height <= pic.height)
                in = {c.crop.u16X & ~1u, c.crop.u16Y & ~1u, c.crop.u16Width & ~1u, c.crop.u16Height & ~1u};
        }
        // The sensor already exposed this picture; the ISP adds its gain,
        // measures, then applies the white balance.
        const size_t size = (size_t)in.w * in.h * 3 / 2;
        Exposure pre = ex;
        pre.r_gain = pre.g_gain = pre.b_gain = 1024;
        auto measured = pool().get(size);
        cap::isp_process(pic.data->data(), pic.width, in.x, in.y, in.w, in.h, pre, measured->data());
        auto st = std::make_shared<Stats>();
        cap::compute_stats(measured->data(), in.w, in.h, af, st.get());
        auto buf = measured;
        if (ex.r_gain != 1024 || ex.g_gain != 1024 || ex.b_gain != 1024) {
            buf = pool().get(size);
            cap::isp_process(pic.data->data(), pic.width, in.x, in.y, in.w, in.h, ex, buf->data());
        }
        measured.reset();
        cap::Rect card = cap::grey_card_rect(pic.width, pic.height);
        uint32_t cx0 = std::max(card.x, in.x), cx1 = std::min(card.x + card.w, in.x + in.w);
        uint32_t cy0 = std::max(card.y, in.y), cy1 = std::min(card.y + card.h, in.y + in.h);
        cap::Rgb card_rgb{0, 0, 0};
        if (cx0 < cx1 && cy0 < cy1)
            card_rgb = cap::card_rgb(buf->data(), in.w, in.h, {cx0 - in.x, cy0 - in.y, cx1 - cx0, cy1 - cy0});
        {
            std::lock_guard<std::mutex> g(B().mu);
            IspChn &c = B().isp[dev].chn[chn];
            c.stats = st;
            c.shown = ex;
            c.card = card_rgb;
            ++c.frames;
            if (dev == 0) fe_event(chn);
        }
        Picture o;
        o.width = in.w;
        o.height = in.h;
        o.fmt = PixFmt::NV12;
        o.pts = pic.pts;
        o.data = buf;
        deliver_from(port_of(E_MI_MODULE_ID_ISP, dev, chn, 0), o);
    }
};

// A frame of the channel begins: the changes due for it take effect, the lens
// is where the motor stands, and the motor moves on during the frame. Board
// lock held.
void begin_frame(IspChn &c) {
    uint64_t n = c.frames + 1;
    for (auto it = c.pending.begin(); it != c.pending.end();) {
        if (it->at > n) {
            ++it;
            continue;
        }
        switch (it->field) {
        case kShutter: c.cur.shutter_us = it->value; break;
        case kSensorGain: c.cur.sensor_gain = it->value; break;
        case kIspGain: c.cur.isp_gain = it->value; break;
        case kRGain: c.cur.r_gain = it->value; break;
        case kGGain: c.cur.g_gain = it->value; break;
        case kBGain: c.cur.b_gain = it->value; break;
        }
        it = c.pending.erase(it);
    }
    c.cur.lens_pos = c.motor;
    uint32_t dist = c.motor < c.motor_target ? c.motor_target - c.motor : c.motor - c.motor_target;
    uint32_t move = B().opt.motor_speed ? std::min(dist, B().opt.motor_speed) : dist;
    c.motor = c.motor < c.motor_target ? c.motor + move : c.motor - move;
}

// The exposure a VIF port's sensor uses: that of the started ISP channel it
// feeds, whose frame begins now. Board lock held.
void sensor_exposure(const MI_SYS_ChnPort_t &src, Exposure *ex) {
    for (const Binding &b : bindings_from(src)) {
        if (b.dst.eModId != E_MI_MODULE_ID_ISP || b.dst.u32DevId >= kIspDevs || b.dst.u32ChnId >= kIspChns) continue;
        IspChn &c = B().isp[b.dst.u32DevId].chn[b.dst.u32ChnId];
        if (b.src_fps) c.fps = b.src_fps;
        if (c.started) begin_frame(c);
        *ex = c.cur;
        return;
    }
}

uint32_t rate_divisor_x4(MI_VIF_FrameRate_e r) {
    switch (r) {
    case E_MI_VIF_FRAMERATE_HALF: return 8;
    case E_MI_VIF_FRAMERATE_QUARTER: return 16;
    case E_MI_VIF_FRAMERATE_OCTANT: return 32;
    case E_MI_VIF_FRAMERATE_THREE_QUARTERS: return 5;  // ~4/3
    default: return 4;
    }
}

// Produce one frame on VIF port (dev, port) with time stamp `pts`.
void produce(uint32_t dev, uint32_t port, uint64_t pts) {
    MI_SYS_ChnPort_t src = port_of(E_MI_MODULE_ID_VIF, dev, 0, port);
    Exposure ex;
    uint32_t w, h;
    SceneParams sc;
    uint64_t seq;
    {
        std::lock_guard<std::mutex> g(B().mu);
        VifPort &p = B().vif[dev].port[port];
        sensor_exposure(src, &ex);
        w = p.attr.stDestSize.u16Width;
        h = p.attr.stDestSize.u16Height;
        sc = B().scene;
        seq = p.seq++;
        p.skipped += p.passed;
        p.passed = 0;
    }
    auto buf = pool().get((size_t)w * h * 2);
    model().render_sensor(sc, ex, seq, pts, cap::kLineNs / 1000.0, w, h, buf->data());
    Picture pic;
    pic.width = w;
    pic.height = h;
    pic.fmt = PixFmt::UYVY422;
    pic.pts = pts;
    pic.data = buf;
    deliver_from(src, pic);
}

// Period of a port in microseconds (board lock held).
uint64_t port_period(uint32_t dev, uint32_t port) {
    MI_SYS_ChnPort_t src = port_of(E_MI_MODULE_ID_VIF, dev, 0, port);
    uint32_t fps = 30;
    for (const Binding &b : bindings_from(src))
        if (b.src_fps) fps = b.src_fps;
    return (uint64_t)1000000 * rate_divisor_x4(B().vif[dev].port[port].attr.eFrameRate) / 4 / std::max(1u, fps);
}

void source_thread() {
    name_thread("vb-vif");
    std::unique_lock<std::mutex> lk(B().mu);
    for (;;) {
        uint64_t now = pts_now();
        uint64_t wake = UINT64_MAX;
        std::vector<std::pair<uint32_t, uint32_t>> due;
        std::vector<uint64_t> due_pts;
        if (!B().paused) {
            for (uint32_t d = 0; d < kVifDevs; ++d)
                for (uint32_t p = 0; p < kVifPorts; ++p) {
                    VifPort &vp = B().vif[d].port[p];
                    if (!vp.enabled || !B().vif[d].enabled) continue;
                    uint64_t per = port_period(d, p);
                    if (vp.next_us == 0) vp.next_us = now;
                    if (vp.next_us <= now) {
                        due.push_back({d, p});
                        due_pts.push_back(vp.next_us);
                        vp.next_us += per;
                        // Fallen behind by more than a frame: skip, don't burst.
                        if (vp.next_us + per <= now) {
                            uint64_t n = (now - vp.next_us) / per;
                            vp.next_us += n * per;
                            vp.passed += n;
                        }
                    }
                    wake = std::min(wake, vp.next_us);
                }
        }
        if (!due.empty()) {
            lk.unlock();
            {
                std::lock_guard<std::mutex> pg(g_produce);
                bool running;
                {
                    std::lock_guard<std::mutex> g(B().mu);
                    running = !B().paused;  // pause() may have come in between
                }
                for (size_t i = 0; running && i < due.size(); ++i) produce(due[i].first, due[i].second, due_pts[i]);
            }
            lk.lock();
            continue;
        }
        uint64_t gen = B().generation;
        if (wake == UINT64_MAX) {
            B().cv.wait(lk, [&] { return B().generation != gen; });
        } else {
            B().cv.wait_for(lk, std::chrono::microseconds(wake - now), [&] { return B().generation != gen; });
        }
    }
}

void start_source() {
    static std::once_flag once;
    std::call_once(once, [] { std::thread(source_thread).detach(); });
}

// ---- control verbs -----------------------------------------------------------
std::string scene_text(const SceneParams &s) {
    char b[200];
    snprintf(b, sizeof b, "brightness %.3f cct %u focus %u flicker %u %u moving %d", s.brightness, s.cct, s.focus_pos,
             s.flicker_hz, s.flicker_pct, s.moving ? 1 : 0);
    return b;
}

std::string ctl_scene(const std::vector<std::string> &a) {
    SceneParams s = scene();
    for (size_t i = 1; i < a.size(); ++i) {
        const std::string &k = a[i];
        auto num = [&](double *out) {
            if (i + 1 >= a.size()) return false;
            char *end = nullptr;
            *out = strtod(a[++i].c_str(), &end);
            return end && *end == 0;
        };
        double v = 0, v2 = 0;
        if (k == "brightness" && num(&v) && v >= 0) s.brightness = v;
        else if (k == "cct" && num(&v) && v >= 1500 && v <= 15000) s.cct = (uint32_t)v;
        else if (k == "focus" && num(&v) && v >= cap::kLensMin && v <= cap::kLensMax) s.focus_pos = (uint32_t)v;
        else if (k == "flicker" && num(&v) && num(&v2) && v >= 0 && v2 >= 0 && v2 <= 100) {
            s.flicker_hz = (uint32_t)v;
            s.flicker_pct = (uint32_t)v2;
        } else if (k == "moving") s.moving = true;
        else if (k == "still") s.moving = false;
        else return "error: scene [brightness X] [cct K] [focus POS] [flicker HZ PCT] [moving|still]";
    }
    set_scene(s);
    return scene_text(s);
}

std::string ctl_vif(const std::vector<std::string> &a) {
    if (a.size() >= 2 && a[1] == "pause") {
        pause();
        return "ok";
    }
    if (a.size() >= 2 && a[1] == "resume") {
        resume();
        return "ok";
    }
    if (a.size() >= 3 && a[1] == "step") return std::to_string(step(atoi(a[2].c_str())));
    if (a.size() == 2 && a[1] == "stats") {
        std::string out;
        for (uint32_t d = 0; d < kVifDevs; ++d)
            for (uint32_t p = 0; p < kVifPorts; ++p) {
                VifCounts n = vif_counts(d, p);
                if (!n.frames && !n.skipped) continue;
                char b[128];
                snprintf(b, sizeof b, "dev %u port %u frames %llu skipped %llu\n", d, p, (unsigned long long)n.frames,
                         (unsigned long long)n.skipped);
                out += b;
            }
        return out;
    }
    return "error: vif pause|resume|step N|stats";
}

std::string ctl_isp_fe(const std::vector<std::string> &a) {
    if (a.size() >= 3 && a[1] == "pause") {
        fe_pause((uint32_t)strtoul(a[2].c_str(), nullptr, 0));
        return "ok";
    }
    if (a.size() >= 3 && a[1] == "reopen") {
        uint32_t c = (uint32_t)strtoul(a[2].c_str(), nullptr, 0);
        if (c >= kIspChns) return "error: channel 0-15";
        fe_reopen(c);
        return "ok";
    }
    return "error: isp-fe pause MS | reopen CHN";
}

// "[DEV] [CHN]" of an ISP channel (0 0 by default); false when out of range.
bool dev_chn(const std::vector<std::string> &a, uint32_t *dev, uint32_t *chn) {
    *dev = a.size() > 1 ? (uint32_t)atoi(a[1].c_str()) : 0;
    *chn = a.size() > 2 ? (uint32_t)atoi(a[2].c_str()) : 0;
    return *dev < kIspDevs && *chn < kIspChns;
}

std::string ctl_isp(const std::vector<std::string> &a) {
    uint32_t dev, chn;
    if (!dev_chn(a, &dev, &chn)) return "error: isp [dev] [chn]";
    std::lock_guard<std::mutex> g(B().mu);
    const IspChn &c = B().isp[dev].chn[chn];
    char b[256];
    snprintf(b, sizeof b, "frames %llu shutter %u sensor_gain %u isp_gain %u wb %u %u %u lens %u mean_y %u",
             (unsigned long long)c.frames, c.shown.shutter_us, c.shown.sensor_gain, c.shown.isp_gain, c.shown.r_gain,
             c.shown.g_gain, c.shown.b_gain, c.shown.lens_pos, c.stats ? c.stats->mean_y : 0);
    return b;
}

std::string ctl_grey_card(const std::vector<std::string> &a) {
    uint32_t dev, chn;
    if (!dev_chn(a, &dev, &chn)) return "error: grey-card [dev] [chn]";
    cap::Rgb c = grey_card(dev, chn);
    char b[128];
    snprintf(b, sizeof b, "r %.2f g %.2f b %.2f", c.r, c.g, c.b);
    return b;
}

std::string ctl_isp_root(const std::vector<std::string> &a) {
    if (a.size() > 2) return "error: isp-root [PATH]";
    if (a.size() == 2) set_isp_root(a[1]);
    std::lock_guard<std::mutex> g(B().mu);
    return B().opt.isp_root;
}

std::string ctl_iqlog(const std::vector<std::string> &a) {
    if (a.size() == 2 && a[1] == "clear") {
        iq_log_clear();
        return "ok";
    }
    if (a.size() > 2) return "error: iqlog [ID] | iqlog clear";
    std::string out;
    for (const IqLogEntry &e : iq_log(a.size() > 1 ? (uint32_t)strtoul(a[1].c_str(), nullptr, 0) : 0)) {
        char head[160];
        snprintf(head, sizeof head, "%llu %llu %s 0x%04x %u %u %u %d ", (unsigned long long)e.seq,
                 (unsigned long long)e.frame, e.set ? "set" : "get", e.id, e.dev, e.chn, e.len, e.result);
        out += head + to_hex(e.bytes) + "\n";
    }
    return out;
}

std::string ctl_iqfail(const std::vector<std::string> &a) {
    if (a.size() == 2 && a[1] == "clear") {
        iq_fail_clear();
        return "ok";
    }
    if (a.size() < 3 || a.size() > 4) return "error: iqfail ID CODE [N] | iqfail clear";
    int times = a.size() > 3 ? atoi(a[3].c_str()) : 1;
    if (times == 0 || times < -1) return "error: N is -1 or at least 1";
    iq_fail((uint32_t)strtoul(a[1].c_str(), nullptr, 0), (int)strtoll(a[2].c_str(), nullptr, 0), times);
    return "ok";
}

std::string ctl_lockstep(const std::vector<std::string> &a) {
    if (a.size() >= 2 && a.size() <= 3 && a[1] == "on") {
        long ms = a.size() > 2 ? atol(a[2].c_str()) : (long)kDefaultLockstepMs;
        if (ms < 1) return "error: timeout in ms, at least 1";
        set_lockstep(true, (uint32_t)ms);
        return "ok";
    }
    if (a.size() == 2 && a[1] == "off") {
        set_lockstep(false);
        return "ok";
    }
    if (a.size() != 1) return "error: lockstep on [TIMEOUT_MS] | off";
    std::lock_guard<std::mutex> g(B().mu);
    char b[128];
    snprintf(b, sizeof b, "%s timeout %u timeouts %llu", B().opt.lockstep ? "on" : "off", B().opt.lockstep_ms,
             (unsigned long long)B().opt.lockstep_timeouts);
    return b;
}

std::string ctl_sensor(const std::vector<std::string> &a) {
    for (size_t i = 1; i < a.size(); i += 2) {
        if (i + 1 >= a.size()) return "error: sensor [latency N] [motor N]";
        char *end = nullptr;
        unsigned long v = strtoul(a[i + 1].c_str(), &end, 0);
        bool ok = end && *end == 0 && v <= UINT32_MAX;
        if (a[i] == "latency" && ok && set_sensor_latency((uint32_t)v)) continue;
        if (a[i] == "motor" && ok && set_motor_speed((uint32_t)v)) continue;
        return "error: sensor [latency 1-8] [motor 0-1023]";
    }
    std::lock_guard<std::mutex> g(B().mu);
    return "latency " + std::to_string(B().opt.latency) + " motor " + std::to_string(B().opt.motor_speed);
}

VifDriver g_vif;
IspDriver g_isp;
SclDriver g_scl;
IspFeDriver g_fe;
IspSink g_isp_sink;
SclSink g_scl_sink;

}  // namespace

SceneParams scene() {
    std::lock_guard<std::mutex> g(B().mu);
    return B().scene;
}

void set_scene(const SceneParams &sc) {
    std::lock_guard<std::mutex> g(B().mu);
    B().scene = sc;
}

namespace {
// Stop the source; a frame it is making is finished first.
void stop_source(bool lockstep, uint32_t timeout_ms) {
    {
        std::lock_guard<std::mutex> g(B().mu);
        B().paused = true;
        B().opt.lockstep = lockstep;
        for (auto &d : B().vif)
            for (auto &p : d.port) p.passed = 0;
        if (lockstep) B().opt.lockstep_ms = std::max(1u, timeout_ms);
        kick();
    }
    std::lock_guard<std::mutex> pg(g_produce);
}
}  // namespace

void pause() { stop_source(false, 0); }

void resume() {
    std::lock_guard<std::mutex> g(B().mu);
    B().paused = false;
    B().opt.lockstep = false;
    for (auto &d : B().vif)
        for (auto &p : d.port) {
            p.next_us = 0;
            p.passed = 0;
        }
    kick();
}

void set_lockstep(bool on, uint32_t timeout_ms) {
    if (on)
        stop_source(true, timeout_ms);
    else
        resume();
}

uint64_t lockstep_timeouts() {
    std::lock_guard<std::mutex> g(B().mu);
    return B().opt.lockstep_timeouts;
}

namespace {
// In lockstep: wait until no channel owes a result for its latest frame.
void wait_for_3a() {
    std::unique_lock<std::mutex> lk(B().mu);
    if (!B().opt.lockstep) return;
    auto settled = [] {
        for (auto &d : B().isp)
            for (auto &c : d.chn)
                if (c.owed) return false;
        return true;
    };
    if (B().answered.wait_for(lk, std::chrono::milliseconds(B().opt.lockstep_ms), settled)) return;
    ++B().opt.lockstep_timeouts;
    for (auto &d : B().isp)
        for (auto &c : d.chn) c.owed = 0;
}
}  // namespace

int step(int frames) {
    int made = 0;
    for (int i = 0; i < frames; ++i) {
        std::lock_guard<std::mutex> pg(g_produce);
        std::vector<std::pair<uint32_t, uint32_t>> ports;
        uint64_t pts = pts_now();
        {
            std::lock_guard<std::mutex> g(B().mu);
            for (uint32_t d = 0; d < kVifDevs; ++d)
                for (uint32_t p = 0; p < kVifPorts; ++p)
                    if (B().vif[d].enabled && B().vif[d].port[p].enabled) ports.push_back({d, p});
        }
        if (ports.empty()) break;
        for (auto &dp : ports) produce(dp.first, dp.second, pts);
        ++made;
        wait_for_3a();
    }
    return made;
}

VifCounts vif_counts(uint32_t dev, uint32_t port) {
    if (dev >= kVifDevs || port >= kVifPorts) return {};
    std::lock_guard<std::mutex> g(B().mu);
    const VifPort &p = B().vif[dev].port[port];
    return {p.seq, p.skipped};
}

uint64_t isp_frames(uint32_t dev, uint32_t chn) {
    if (dev >= kIspDevs || chn >= kIspChns) return 0;
    std::lock_guard<std::mutex> g(B().mu);
    return B().isp[dev].chn[chn].frames;
}

cap::Exposure applied(uint32_t dev, uint32_t chn) {
    if (dev >= kIspDevs || chn >= kIspChns) return {};
    std::lock_guard<std::mutex> g(B().mu);
    return B().isp[dev].chn[chn].shown;
}

cap::Rgb grey_card(uint32_t dev, uint32_t chn) {
    if (dev >= kIspDevs || chn >= kIspChns) return {0, 0, 0};
    std::lock_guard<std::mutex> g(B().mu);
    return B().isp[dev].chn[chn].card;
}

bool set_sensor_latency(uint32_t frames) {
    if (frames < 1 || frames > kMaxLatency) return false;
    std::lock_guard<std::mutex> g(B().mu);
    B().opt.latency = frames;
    return true;
}

bool set_motor_speed(uint32_t steps) {
    if (steps > cap::kLensMax) return false;
    std::lock_guard<std::mutex> g(B().mu);
    B().opt.motor_speed = steps;
    return true;
}

void set_isp_root(const std::string &root) {
    std::lock_guard<std::mutex> g(B().mu);
    B().opt.isp_root = root;
}

std::vector<IqLogEntry> iq_log(uint32_t id) {
    std::lock_guard<std::mutex> g(B().mu);
    std::vector<IqLogEntry> out;
    for (const IqLogEntry &e : B().opt.iqlog)
        if (!id || e.id == id) out.push_back(e);
    return out;
}

void iq_log_clear() {
    std::lock_guard<std::mutex> g(B().mu);
    B().opt.iqlog.clear();
}

void iq_fail(uint32_t id, int code, int times) {
    if (times == 0) return;
    std::lock_guard<std::mutex> g(B().mu);
    B().opt.iqfail.push_back({id, code, times});
}

void iq_fail_clear() {
    std::lock_guard<std::mutex> g(B().mu);
    B().opt.iqfail.clear();
}

void fe_pause(uint32_t ms) {
    std::lock_guard<std::mutex> g(B().mu);
    B().fe_hold_until = pts_now() + (uint64_t)ms * 1000;
}

void fe_reopen(uint32_t chn) {
    if (chn >= kIspChns) return;
    std::lock_guard<std::mutex> g(B().mu);
    B().fe_reopen |= 1u << chn;
}

void reset() {
    std::lock_guard<std::mutex> pg(g_produce);
    std::lock_guard<std::mutex> g(B().mu);
    Board &b = B();
    for (auto &x : b.group) x = false;
    for (auto &x : b.vif) x = VifDev();
    for (auto &x : b.isp) x = IspDev();
    for (auto &x : b.scl) x = SclDev();
    b.scene = SceneParams();
    b.fe_hold_until = 0;
    b.fe_reopen = 0;
    b.paused = false;
    b.opt = Board::Options();
    kick();
}

}  // namespace vb::capture

void vb_install_capture() {
    using namespace vb::capture;
    vb::register_driver("/dev/mi_vif", &g_vif);
    vb::register_driver("/dev/mi_isp", &g_isp);
    vb::register_driver("/dev/mi_scl", &g_scl);
    vb::register_driver("/dev/isp_fe", &g_fe);
    vb::register_sink(E_MI_MODULE_ID_ISP, &g_isp_sink);
    vb::register_sink(E_MI_MODULE_ID_SCL, &g_scl_sink);
    vb::register_ctl("scene", ctl_scene);
    vb::register_ctl("vif", ctl_vif);
    vb::register_ctl("isp-fe", ctl_isp_fe);
    vb::register_ctl("isp", ctl_isp);
    vb::register_ctl("grey-card", ctl_grey_card);
    vb::register_ctl("isp-root", ctl_isp_root);
    vb::register_ctl("iqlog", ctl_iqlog);
    vb::register_ctl("iqfail", ctl_iqfail);
    vb::register_ctl("lockstep", ctl_lockstep);
    vb::register_ctl("sensor", ctl_sensor);
    start_source();
}
