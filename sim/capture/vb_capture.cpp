// Drivers of the capture path on the virtual board: "/dev/mi_vif",
// "/dev/mi_isp", "/dev/mi_scl" and "/dev/isp_fe". A picture source on thread
// "vb-vif" renders the scene for every enabled sensor-interface port at the
// input's rate; the ISP applies the exposure and white balance it was given,
// measures its statistics and hands the picture to the scaler, whose output
// ports feed the bound encoder channels and the display.
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
constexpr uint32_t kShutterMin = 30, kSensorGainMax = 16 * 1024, kIspGainMax = 8 * 1024;

struct VifPort {
    bool attr_set = false, enabled = false;
    MI_VIF_OutputPortAttr_t attr{};
    uint64_t next_us = 0, seq = 0;
};
struct VifDev {
    bool attr_set = false, enabled = false;
    MI_VIF_DevAttr_t attr{};
    VifPort port[kVifPorts];
};

enum Field { kShutter, kSensorGain, kIspGain, kRGain, kGGain, kBGain, kLens, kMotor };
struct Change {
    uint64_t at;  // frame index from which the value holds
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
    Exposure cur;      // applied to the latest frame
    uint32_t motor = 512;  // lens motor position reached
    std::vector<Change> pending;
    uint64_t frames = 0;
    uint32_t fps = 30;
    std::shared_ptr<Stats> stats;
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
    static int iqapi(bool set, MI_ISP_IoctlIQApiData_t *rq) {
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
            snprintf(r->strIspRoot, sizeof r->strIspRoot, "%s", "/config/iqfile");
            return 0;
        }
        IspChn &c = B().isp[h.u32DevId].chn[h.u32Channel];
        if (!B().isp[h.u32DevId].created || !c.created) return err(M, kUnexist);
        return set ? iq_set(c, h.u32CtrlID, d) : iq_get(c, h.u32CtrlID, d);
    }

    static void later(IspChn &c, uint64_t delay, Field f, uint32_t v) { c.pending.push_back({c.frames + delay, f, v}); }

    static int iq_set(IspChn &c, uint32_t cid, const void *d) {
        constexpr auto M = E_MI_MODULE_ID_ISP;
        switch (cid) {
        case MI_ISP_CID_AE_PARAM: {
            auto *r = (const CusAEResult_t *)d;
            if (!r->Change) return 0;
            // The sensor takes shutter and gain one frame later than the ISP
            // takes its own gain.
            uint32_t max_sh = frame_period_us(c.fps);
            later(c, 1, kShutter, std::clamp(r->Shutter, kShutterMin, max_sh));
            later(c, 1, kSensorGain, std::clamp(r->SensorGain, 1024u, kSensorGainMax));
            later(c, 0, kIspGain, std::clamp(r->IspGain, 1024u, kIspGainMax));
            return 0;
        }
        case MI_ISP_CID_AWB_PARAM: {
            auto *r = (const CusAWBResult_t *)d;
            if (!r->Change) return 0;
            later(c, 0, kRGain, std::clamp(r->R_gain, 1u, 16383u));
            later(c, 0, kGGain, std::clamp(r->G_gain, 1u, 16383u));
            later(c, 0, kBGain, std::clamp(r->B_gain, 1u, 16383u));
            return 0;
        }
        case MI_ISP_CID_AF_PARAM: {
            auto *r = (const CusAfResult_t *)d;
            if (!r->Change) return 0;
            uint32_t pos = std::clamp(r->NextPos, cap::kLensMin, cap::kLensMax);
            // The motor reaches the target during the next frame; that
            // frame is still exposed at the old position.
            later(c, 0, kMotor, pos);
            later(c, 1, kLens, pos);
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
            r->shutter = c.cur.shutter_us;
            r->shutter_step = 1;
            r->shutter_min = kShutterMin;
            r->shutter_max = frame_period_us(c.fps);
            r->sensor_gain = c.cur.sensor_gain;
            r->sensor_gain_min = 1024;
            r->sensor_gain_max = kSensorGainMax;
            r->isp_gain = c.cur.isp_gain;
            r->isp_gain_max = kIspGainMax;
            r->FNx10 = 18;
            r->fps = c.fps * 1000;
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
            r->nBlkX = s->blk_x;
            r->nBlkY = s->blk_y;
            for (uint32_t i = 0; i < s->blk_x * s->blk_y; ++i) r->nAvg[i] = {s->ae[i][0], s->ae[i][1], s->ae[i][2]};
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
            r.Shutter = c.cur.shutter_us;
            r.SensorGain = c.cur.sensor_gain;
            r.IspGain = c.cur.isp_gain;
            r.PreAvgY = s->mean_y;
            r.FNx10 = 18;
            r.CurFPS = c.fps * 1000;
            r.PreWeightY = s->mean_y;
            memcpy(d, &r, sizeof r);
            return 0;
        }
        case MI_ISP_CID_AWB_STATUS: {
            CusAWBInfo_t r;
            memset(&r, 0, sizeof r);
            r.Size = sizeof r;
            r.AvgBlkX = s->blk_x;
            r.AvgBlkY = s->blk_y;
            r.CurRGain = c.cur.r_gain;
            r.CurGGain = c.cur.g_gain;
            r.CurBGain = c.cur.b_gain;
            r.WeightY = (MI_S32)s->mean_y;
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

// Called with B().mu held, after channel `chn` of ISP device 0 finished a frame.
void fe_event(uint32_t chn) {
    Board &b = B();
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
    for (auto &cl : b.fe) (void)!send(cl.peer, &ev, sizeof ev, MSG_DONTWAIT | MSG_NOSIGNAL);
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
            // Changes due for this frame take effect now.
            for (auto it = c.pending.begin(); it != c.pending.end();) {
                if (it->at > c.frames) {
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
                case kLens: c.cur.lens_pos = it->value; break;
                case kMotor: c.motor = it->value; break;
                }
                it = c.pending.erase(it);
            }
            ex = c.cur;
            af = c.af;
            if (c.crop.u16Width && c.crop.u16Height && c.crop.u16X + c.crop.u16Width <= pic.width &&
                c.crop.u16Y + c.crop.u16Height <= pic.height)
                in = {c.crop.u16X & ~1u, c.crop.u16Y & ~1u, c.crop.u16Width & ~1u, c.crop.u16Height & ~1u};
        }
        // The sensor already exposed this picture; the ISP adds its gains.
        auto buf = pool().get((size_t)in.w * in.h * 3 / 2);
        cap::isp_process(pic.data->data(), pic.width, in.x, in.y, in.w, in.h, ex, buf->data());
        auto st = std::make_shared<Stats>();
        cap::compute_stats(buf->data(), in.w, in.h, af, st.get());
        {
            std::lock_guard<std::mutex> g(B().mu);
            IspChn &c = B().isp[dev].chn[chn];
            c.stats = st;
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

// The exposure a VIF port's sensor uses: that of the ISP channel it feeds
// (shutter, sensor gain, lens), pending changes included as the ISP applies
// them. Board lock held.
bool sensor_exposure(const MI_SYS_ChnPort_t &src, Exposure *ex, uint32_t *fps) {
    bool found = false;
    for (const Binding &b : bindings_from(src)) {
        if (b.dst.eModId != E_MI_MODULE_ID_ISP || b.dst.u32DevId >= kIspDevs || b.dst.u32ChnId >= kIspChns) continue;
        IspChn &c = B().isp[b.dst.u32DevId].chn[b.dst.u32ChnId];
        if (b.src_fps) c.fps = b.src_fps;
        *fps = c.fps;
        Exposure e = c.cur;
        for (const Change &ch : c.pending) {
            if (ch.at > c.frames) continue;
            if (ch.field == kShutter) e.shutter_us = ch.value;
            if (ch.field == kSensorGain) e.sensor_gain = ch.value;
            if (ch.field == kLens) e.lens_pos = ch.value;
        }
        *ex = e;
        found = true;
        break;
    }
    return found;
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
    uint32_t fps = 30, w, h;
    SceneParams sc;
    uint64_t seq;
    {
        std::lock_guard<std::mutex> g(B().mu);
        VifPort &p = B().vif[dev].port[port];
        sensor_exposure(src, &ex, &fps);
        w = p.attr.stDestSize.u16Width;
        h = p.attr.stDestSize.u16Height;
        sc = B().scene;
        seq = p.seq++;
    }
    auto buf = pool().get((size_t)w * h * 2);
    double line_us = 1e6 / std::max(1u, fps) / h;
    model().render_sensor(sc, ex, seq, pts, line_us, w, h, buf->data());
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
                        if (vp.next_us + per <= now) vp.next_us += (now - vp.next_us) / per * per;
                    }
                    wake = std::min(wake, vp.next_us);
                }
        }
        if (!due.empty()) {
            lk.unlock();
            {
                std::lock_guard<std::mutex> pg(g_produce);
                for (size_t i = 0; i < due.size(); ++i) produce(due[i].first, due[i].second, due_pts[i]);
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
    return "error: vif pause|resume|step N";
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

std::string ctl_isp(const std::vector<std::string> &a) {
    uint32_t dev = a.size() > 1 ? (uint32_t)atoi(a[1].c_str()) : 0, chn = a.size() > 2 ? (uint32_t)atoi(a[2].c_str()) : 0;
    if (dev >= kIspDevs || chn >= kIspChns) return "error: isp [dev] [chn]";
    std::lock_guard<std::mutex> g(B().mu);
    const IspChn &c = B().isp[dev].chn[chn];
    char b[256];
    snprintf(b, sizeof b, "frames %llu shutter %u sensor_gain %u isp_gain %u wb %u %u %u lens %u mean_y %u",
             (unsigned long long)c.frames, c.cur.shutter_us, c.cur.sensor_gain, c.cur.isp_gain, c.cur.r_gain,
             c.cur.g_gain, c.cur.b_gain, c.cur.lens_pos, c.stats ? c.stats->mean_y : 0);
    return b;
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

void pause() {
    std::lock_guard<std::mutex> g(B().mu);
    B().paused = true;
    kick();
}

void resume() {
    std::lock_guard<std::mutex> g(B().mu);
    B().paused = false;
    for (auto &d : B().vif)
        for (auto &p : d.port) p.next_us = 0;
    kick();
}

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
    }
    return made;
}

uint64_t isp_frames(uint32_t dev, uint32_t chn) {
    if (dev >= kIspDevs || chn >= kIspChns) return 0;
    std::lock_guard<std::mutex> g(B().mu);
    return B().isp[dev].chn[chn].frames;
}

cap::Exposure applied(uint32_t dev, uint32_t chn) {
    if (dev >= kIspDevs || chn >= kIspChns) return {};
    std::lock_guard<std::mutex> g(B().mu);
    return B().isp[dev].chn[chn].cur;
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
    start_source();
}
