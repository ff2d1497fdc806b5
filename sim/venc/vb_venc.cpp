// Virtual video encoder behind "/dev/mi_venc": one encoding thread per channel
// ("vb-venc<N>") takes pictures from the binding graph, encodes them to H.264
// access units (one pack per frame) and queues them in the channel's stream
// ring, whose records the library fetches and releases. The channel's port is
// pollable while a frame waits. A consumer that falls behind loses pictures,
// counted per channel, as with a hardware encoder; so does an encoder that
// falls behind its input, as this machine under load makes it (counted apart:
// a chip's encoder keeps up).
#include <string.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "../../sdk/interface/src/sys/mi_sys_ioctl.h"
#include "../../sdk/interface/src/venc/mi_venc_ioctl.h"
#include "vb.h"
#include "../sys/vb_sys.h"
#include "vb_venc_codec.h"
#include "vb_venc_test.h"

namespace {

constexpr uint32_t kRingMin = 1u << 20;
constexpr uint32_t kRingMax = 8u << 20;  // device memory is shared by every driver
constexpr uint32_t kDefaultMaxStreams = 8;
constexpr size_t kInputDepth = 4;  // absorbs the longer encode of a key frame
constexpr uint32_t kMaxSlices = 16;

#define ERR(x) ((int)(x))

struct Rec {
    uint32_t off, len;
    uint64_t pts, seq, flags;
    uint8_t qp;
    int32_t poc;
};

struct Chn {
    int id = 0;
    bool exists = false;
    bool receiving = false;
    bool tearing_down = false;
    uint32_t handle = 0;
    MI_VENC_ChnAttr_t attr{};
    MI_VENC_ParamH264Vui_t vui{};
    MI_VENC_ParamH264Entropy_t entropy{};
    MI_VENC_ParamJpeg_t jpeg{};
    MI_VENC_InputSourceConfig_t input{};
    uint32_t max_streams = kDefaultMaxStreams;
    uint64_t cfg_gen = 0;  // bumped by every parameter change
    // Slices per picture ("venc-slices"): the board's setting, kept when the
    // host creates the channel again.
    uint32_t slices = 1;

    uint8_t *ring = nullptr;  // device memory at ring_pa
    uint64_t ring_pa = 0;
    uint32_t ring_size = 0;
    uint32_t wpos = 0;
    std::deque<Rec> recs;  // oldest first; the first `handed` are with the user
    size_t handed = 0;
    uint64_t seq = 0;
    bool force_idr = false;

    std::deque<vb::Picture> in;
    std::thread th;
    std::condition_variable cv_in, cv_out;

    uint64_t encoded = 0, dropped = 0, dropped_ring = 0, dropped_input = 0, bytes = 0, user_streams = 0;
    uint64_t first_pts = 0, last_pts = 0;
};

std::mutex g_mu;
// Never destroyed, as a driver's channels outlive the program: an exit() while
// an encoding thread runs would abort in a joinable thread's destructor.
Chn (&g_chn)[VENC_MAX_CHN_NUM] = *new Chn[1][VENC_MAX_CHN_NUM];
// Poll data handed to the library: the port record of each channel.
MI_SYS_ChnPort_t g_ports[VENC_MAX_CHN_NUM];
uint32_t g_handle_gen = 0;
vbvenc::TestHooks g_hooks;

bool chn_valid(int32_t c) { return c >= 0 && c < VENC_MAX_CHN_NUM; }

uint32_t fps_of(const MI_VENC_ChnAttr_t &a, uint32_t *den) {
    const MI_VENC_RcAttr_t &rc = a.stRcAttr;
    uint32_t num = 0, d = 1;
    switch (rc.eRcMode) {
    case E_MI_VENC_RC_MODE_H264CBR: num = rc.stAttrH264Cbr.u32SrcFrmRateNum; d = rc.stAttrH264Cbr.u32SrcFrmRateDen; break;
    case E_MI_VENC_RC_MODE_H264VBR: num = rc.stAttrH264Vbr.u32SrcFrmRateNum; d = rc.stAttrH264Vbr.u32SrcFrmRateDen; break;
    case E_MI_VENC_RC_MODE_H264ABR: num = rc.stAttrH264Abr.u32SrcFrmRateNum; d = rc.stAttrH264Abr.u32SrcFrmRateDen; break;
    case E_MI_VENC_RC_MODE_H264FIXQP: num = rc.stAttrH264FixQp.u32SrcFrmRateNum; d = rc.stAttrH264FixQp.u32SrcFrmRateDen; break;
    case E_MI_VENC_RC_MODE_H264AVBR: num = rc.stAttrH264Avbr.u32SrcFrmRateNum; d = rc.stAttrH264Avbr.u32SrcFrmRateDen; break;
    default: break;
    }
    if (den) *den = d ? d : 1;
    return num;
}

vbvenc::CodecConfig codec_config(const Chn &c) {
    vbvenc::CodecConfig k;
    const MI_VENC_AttrH264_t &h = c.attr.stVeAttr.stAttrH264e;
    const MI_VENC_RcAttr_t &rc = c.attr.stRcAttr;
    k.width = h.u32PicWidth;
    k.height = h.u32PicHeight;
    k.fps_num = fps_of(c.attr, &k.fps_den);
    k.rc_mode = rc.eRcMode;
    k.profile = h.u32Profile;
    switch (rc.eRcMode) {
    case E_MI_VENC_RC_MODE_H264CBR: k.gop = rc.stAttrH264Cbr.u32Gop; k.bitrate = rc.stAttrH264Cbr.u32BitRate; break;
    case E_MI_VENC_RC_MODE_H264ABR:
        k.gop = rc.stAttrH264Abr.u32Gop;
        k.bitrate = rc.stAttrH264Abr.u32AvgBitRate;
        k.max_bitrate = rc.stAttrH264Abr.u32MaxBitRate;
        break;
    case E_MI_VENC_RC_MODE_H264FIXQP:
        k.gop = rc.stAttrH264FixQp.u32Gop;
        k.i_qp = rc.stAttrH264FixQp.u32IQp;
        k.p_qp = rc.stAttrH264FixQp.u32PQp;
        break;
    default:  // VBR / AVBR share a layout
        k.gop = rc.stAttrH264Vbr.u32Gop;
        k.bitrate = rc.stAttrH264Vbr.u32MaxBitRate;
        k.min_qp = rc.stAttrH264Vbr.u32MinQp;
        k.max_qp = rc.stAttrH264Vbr.u32MaxQp;
    }
    k.cabac = k.profile != 0 && c.entropy.u32EntropyEncModeI != 0;
    k.full_range = c.vui.stVuiVideoSignal.u8VideoFullRangeFlag != 0;
    const MI_VENC_VuiH264TimeInfo_t &t = c.vui.stVuiTimeInfo;
    k.timing = t.u8TimingInfoPresentFlag != 0;
    k.num_units_in_tick = t.u32NumUnitsInTick;
    k.time_scale = t.u32TimeScale;
    k.fixed_rate = t.u8FixedFrameRateFlag != 0;
    if (c.vui.stVuiAspectRatio.u8AspectRatioInfoPresentFlag) {
        k.sar_w = c.vui.stVuiAspectRatio.u16SarWidth;
        k.sar_h = c.vui.stVuiAspectRatio.u16SarHeight;
    }
    k.slices = c.slices;
    return k;
}

void update_ready(const Chn &c) { vb::port_set_ready(g_ports[c.id], c.handed < c.recs.size()); }

// Contiguous room for `len` bytes in the ring, or false.
bool ring_alloc(Chn &c, uint32_t len, uint32_t *off) {
    if (len > c.ring_size) return false;
    if (c.recs.empty()) {
        *off = 0;
        return true;
    }
    uint32_t head = c.recs.front().off;
    if (c.wpos > head) {
        if (c.ring_size - c.wpos >= len) {
            *off = c.wpos;
            return true;
        }
        if (len < head) {
            *off = 0;
            return true;
        }
        return false;
    }
    // Written part wraps: free space runs from wpos up to the head.
    if (head - c.wpos > len) {
        *off = c.wpos;
        return true;
    }
    return false;
}

void encoder_thread(Chn *c, uint32_t handle) {
    char name[16];
    snprintf(name, sizeof name, "vb-venc%d", c->id);
    vb::name_thread(name);
    std::unique_ptr<vbvenc::Codec> codec;
    vbvenc::CodecConfig cur;
    uint64_t codec_gen = ~0ull;

    std::unique_lock<std::mutex> lk(g_mu);
    for (;;) {
        c->cv_in.wait(lk, [&] { return c->handle != handle || (!c->in.empty() && !g_hooks.hold_input); });
        if (c->handle != handle) return;
        vb::Picture pic = std::move(c->in.front());
        c->in.pop_front();
        if (!c->receiving) continue;
        if (c->recs.size() >= c->max_streams) {  // consumer behind: skip the picture
            c->dropped++;
            continue;
        }
        if (codec_gen != c->cfg_gen) {
            cur = codec_config(*c);
            codec_gen = c->cfg_gen;
            codec.reset();
        }
        bool idr = c->force_idr;
        c->force_idr = false;
        lk.unlock();
        if (!codec) codec = vbvenc::make_codec(cur);
        vbvenc::EncodedFrame f;
        bool ok = codec->encode(pic, idr, &f);
        lk.lock();
        if (c->handle != handle) return;
        if (!ok) {
            c->dropped++;
            continue;
        }
        uint32_t off;
        if (!ring_alloc(*c, (uint32_t)f.au.size(), &off)) {
            // No room for the frame: lose it and restart the reference chain.
            c->dropped++;
            c->dropped_ring++;
            c->force_idr = true;
            continue;
        }
        memcpy(c->ring + off, f.au.data(), f.au.size());
        c->wpos = off + (uint32_t)f.au.size();
        Rec r;
        r.off = off;
        r.len = (uint32_t)f.au.size();
        r.pts = f.pts;
        r.seq = c->seq++;
        r.flags = MI_VENC_RING_FLAG_FRAME_END | ((uint64_t)E_MI_VENC_MODTYPE_H264E << 1) |
                  ((uint64_t)(f.key ? E_MI_VENC_BASE_IDR : E_MI_VENC_BASE_P_REFBYBASE) << 4);
        r.qp = f.qp;
        r.poc = f.poc;
        c->recs.push_back(r);
        if (c->encoded == 0) c->first_pts = f.pts;
        c->last_pts = f.pts;
        c->encoded++;
        c->bytes += f.au.size();
        update_ready(*c);
        c->cv_out.notify_all();
    }
}

// Takes the channel down; the caller holds `lk`, which is released while the
// encoding thread finishes.
void teardown(Chn &c, std::unique_lock<std::mutex> &lk) {
    c.exists = false;
    c.receiving = false;
    c.tearing_down = true;
    c.handle = 0;
    c.cv_in.notify_all();
    c.cv_out.notify_all();
    std::thread th = std::move(c.th);
    lk.unlock();
    if (th.joinable()) th.join();
    lk.lock();
    c.recs.clear();
    c.handed = 0;
    c.in.clear();
    if (c.ring_pa) vb::sys_mem_free(c.ring_pa);
    c.ring = nullptr;
    c.ring_pa = 0;
    c.ring_size = 0;
    c.tearing_down = false;
    update_ready(c);
}

int create(MI_VENC_CreateChn_t *a, std::unique_lock<std::mutex> &lk) {
    if (!chn_valid(a->VeChn)) return ERR(MI_ERR_VENC_INVALID_CHNID);
    Chn &c = g_chn[a->VeChn];
    if (c.exists) return ERR(MI_ERR_VENC_EXIST);
    if (c.tearing_down) return ERR(MI_ERR_VENC_BUSY);
    const MI_VENC_ChnAttr_t &at = a->stAttr;
    if (at.stVeAttr.eType != E_MI_VENC_MODTYPE_H264E) return ERR(0xA0022008);  // only H.264 here
    const MI_VENC_AttrH264_t &h = at.stVeAttr.stAttrH264e;
    if (h.u32PicWidth < 16 || h.u32PicHeight < 16 || h.u32PicWidth > 4096 || h.u32PicHeight > 4096 ||
        (h.u32PicWidth & 1) || (h.u32PicHeight & 1))
        return ERR(MI_ERR_VENC_ILLEGAL_PARAM);
    if (at.stRcAttr.eRcMode < E_MI_VENC_RC_MODE_H264CBR || at.stRcAttr.eRcMode > E_MI_VENC_RC_MODE_H264AVBR)
        return ERR(MI_ERR_VENC_ILLEGAL_PARAM);
    uint32_t den;
    uint32_t num = fps_of(at, &den);
    if (num == 0 || num / den > 240) return ERR(MI_ERR_VENC_ILLEGAL_PARAM);
    (void)lk;

    c.attr = at;
    c.receiving = false;
    c.vui = MI_VENC_ParamH264Vui_t{};
    c.entropy = MI_VENC_ParamH264Entropy_t{};
    c.jpeg = MI_VENC_ParamJpeg_t{};
    c.input = MI_VENC_InputSourceConfig_t{};
    c.max_streams = kDefaultMaxStreams;
    c.cfg_gen = 0;
    c.wpos = 0;
    c.recs.clear();
    c.handed = 0;
    c.seq = 0;
    c.force_idr = false;
    c.in.clear();
    c.encoded = c.dropped = c.dropped_ring = c.dropped_input = c.bytes = c.user_streams = 0;
    c.first_pts = c.last_pts = 0;
    c.exists = true;
    c.handle = (++g_handle_gen << 8) | (uint32_t)(a->VeChn + 1);
    uint32_t want = h.u32BufSize;
    c.ring_size = want < kRingMin ? kRingMin : want > kRingMax ? kRingMax : want;
    c.ring_pa = vb::sys_mem_alloc(c.ring_size);
    c.ring = c.ring_pa ? static_cast<uint8_t *>(vb::sys_phys_to_virt(c.ring_pa)) : nullptr;
    if (!c.ring) {
        c.exists = false;
        c.ring_pa = 0;
        return ERR(0xA002200C);  // no memory
    }
    c.vui.stVuiTimeInfo.u8TimingInfoPresentFlag = 1;
    c.vui.stVuiTimeInfo.u32NumUnitsInTick = den;
    c.vui.stVuiTimeInfo.u32TimeScale = num;
    c.entropy.u32EntropyEncModeI = c.entropy.u32EntropyEncModeP = h.u32Profile ? 1 : 0;
    c.th = std::thread(encoder_thread, &c, c.handle);
    update_ready(c);
    return 0;
}

Chn *existing(int32_t chn, int *err) {
    if (!chn_valid(chn)) {
        *err = ERR(MI_ERR_VENC_INVALID_CHNID);
        return nullptr;
    }
    if (!g_chn[chn].exists) {
        *err = ERR(MI_ERR_VENC_UNEXIST);
        return nullptr;
    }
    return &g_chn[chn];
}

Chn *by_handle(uint32_t h) {
    if (h == 0) return nullptr;
    for (auto &c : g_chn)
        if (c.exists && c.handle == h) return &c;
    return nullptr;
}

int get_head(MI_VENC_RingPoolGetHeadRecord_t *r, std::unique_lock<std::mutex> &lk) {
    Chn *c = by_handle(r->hHandle);
    if (!c || c->id != r->s32ChnId) return ERR(MI_ERR_VENC_ILLEGAL_PARAM);
    const uint32_t h = c->handle;
    auto pending = [&] { return c->handle != h || c->handed < c->recs.size() || !c->receiving; };
    if (r->u32MaxMsToWait == 0xFFFFFFFFu)
        c->cv_out.wait(lk, pending);
    else
        c->cv_out.wait_for(lk, std::chrono::milliseconds(r->u32MaxMsToWait), pending);
    if (c->handle != h) return ERR(MI_ERR_VENC_UNEXIST);  // destroyed while waiting
    if (c->handed >= c->recs.size()) return ERR(MI_ERR_VENC_BUF_EMPTY);
    const Rec &rec = c->recs[c->handed++];
    r->u64ExtFlags = rec.flags;
    r->u64Pts = rec.pts;
    r->u64SeqNum = rec.seq;
    r->bEndOfStream = 0;
    r->PA = c->ring_pa + rec.off;
    r->u32Length = rec.len;
    r->u8PicQP = rec.qp;
    r->s32PocNum = rec.poc;
    r->u32Gradient = 0;
    if (g_hooks.pa_skew) r->PA += (MI_PHY)(int64_t)g_hooks.pa_skew;
    update_ready(*c);
    return 0;
}

class VencDriver : public vb::Driver, public vb::FrameSink {
public:
    int ioctl(int /*fd*/, unsigned long code, void *p, size_t /*len*/) override {
        std::unique_lock<std::mutex> lk(g_mu);
        int err = 0;
        switch (code) {
        case MI_VENC_IOC_CREATE_CHN: return create(static_cast<MI_VENC_CreateChn_t *>(p), lk);
        case MI_VENC_IOC_DESTROY_CHN: {
            Chn *c = existing(*static_cast<MI_VENC_CHN *>(p), &err);
            if (!c) return err;
            teardown(*c, lk);
            return 0;
        }
        case MI_VENC_IOC_START_RECV_PIC:
        case MI_VENC_IOC_STOP_RECV_PIC: {
            Chn *c = existing(*static_cast<MI_VENC_CHN *>(p), &err);
            if (!c) return err;
            c->receiving = code == MI_VENC_IOC_START_RECV_PIC;
            if (c->receiving)
                c->force_idr = true;  // a restarted stream begins with a key frame
            else
                c->in.clear();
            c->cv_out.notify_all();
            return 0;
        }
        case MI_VENC_IOC_QUERY: {
            auto *a = static_cast<MI_VENC_ChnStatArg_t *>(p);
            Chn *c = existing(a->VeChn, &err);
            if (!c) return err;
            MI_VENC_ChnStat_t &s = a->stStat;
            memset(&s, 0, sizeof s);
            uint32_t den, num = fps_of(c->attr, &den);
            uint32_t frames = (uint32_t)(c->recs.size() - c->handed);
            s.u32LeftPics = (uint32_t)c->in.size();
            s.u32LeftEncPics = (uint32_t)c->in.size();
            s.u32LeftStreamFrames = frames;
            for (size_t i = c->handed; i < c->recs.size(); i++) s.u32LeftStreamBytes += c->recs[i].len;
            s.u32LeftStreamMillisec = num ? frames * 1000 * den / num : 0;
            s.u32CurPacks = frames ? 1 : 0;  // packs of the next frame: one per frame
            s.u32FrmRateNum = num;
            s.u32FrmRateDen = den;
            s.u32BitRate = codec_config(*c).bitrate;
            return 0;
        }
        case MI_VENC_IOC_GET_STREAM: {
            // The library sends this record zeroed; it only marks a fetch.
            for (auto &c : g_chn)
                if (c.exists && c.handed) c.user_streams++;
            return 0;
        }
        case MI_VENC_IOC_RELEASE_STREAM: {
            auto *a = static_cast<MI_VENC_ReleaseStream_t *>(p);
            if (!existing(a->VeChn, &err)) return err;
            return 0;
        }
        case MI_VENC_IOC_SET_MAX_STREAM_CNT:
        case MI_VENC_IOC_GET_MAX_STREAM_CNT: {
            auto *a = static_cast<MI_VENC_MaxStreamCntArg_t *>(p);
            Chn *c = existing(a->VeChn, &err);
            if (!c) return err;
            if (code == MI_VENC_IOC_GET_MAX_STREAM_CNT) {
                a->u32MaxStrmCnt = c->max_streams;
                return 0;
            }
            if (a->u32MaxStrmCnt < 2 || a->u32MaxStrmCnt > 1024) return ERR(MI_ERR_VENC_ILLEGAL_PARAM);
            c->max_streams = a->u32MaxStrmCnt;
            return 0;
        }
        case MI_VENC_IOC_GET_POLL_DATA: {
            auto *a = static_cast<MI_VENC_GetPollData_t *>(p);
            if (!existing(a->VeChn, &err)) return err;
            // The poll node knows ports by the system driver's tokens.
            MI_SYS_GetPollData_t pd;
            memset(&pd, 0, sizeof pd);
            pd.stChnPort = g_ports[a->VeChn];
            lk.unlock();
            vb::Driver *sys = vb::driver_for("/dev/mi_sys");
            int r = sys ? sys->ioctl(-1, MI_SYS_IOC_GET_POLL_DATA, &pd, sizeof pd) : -1;
            if (r != 0) return ERR(MI_ERR_VENC_FAILED);
            a->pPrivateData = pd.pPrivateData;
            return 0;
        }
        case MI_VENC_IOC_RELEASE_POLL: {
            Chn *c = existing(*static_cast<MI_VENC_CHN *>(p), &err);
            return c ? 0 : err;
        }
        case MI_VENC_IOC_SET_H264_ENTROPY:
        case MI_VENC_IOC_GET_H264_ENTROPY: {
            auto *a = static_cast<MI_VENC_H264EntropyArg_t *>(p);
            Chn *c = existing(a->VeChn, &err);
            if (!c) return err;
            if (code == MI_VENC_IOC_GET_H264_ENTROPY) {
                a->stEntropy = c->entropy;
                return 0;
            }
            if (a->stEntropy.u32EntropyEncModeI > 1 || a->stEntropy.u32EntropyEncModeP > 1)
                return ERR(MI_ERR_VENC_ILLEGAL_PARAM);
            c->entropy = a->stEntropy;
            c->cfg_gen++;
            return 0;
        }
        case MI_VENC_IOC_SET_H264_VUI:
        case MI_VENC_IOC_GET_H264_VUI: {
            auto *a = static_cast<MI_VENC_H264VuiArg_t *>(p);
            Chn *c = existing(a->VeChn, &err);
            if (!c) return err;
            if (code == MI_VENC_IOC_GET_H264_VUI) {
                a->stVui = c->vui;
                return 0;
            }
            // Written into the SPS as given, as the chip does.
            c->vui = a->stVui;
            c->cfg_gen++;
            return 0;
        }
        case MI_VENC_IOC_SET_JPEG_PARAM:
        case MI_VENC_IOC_GET_JPEG_PARAM: {
            auto *a = static_cast<MI_VENC_JpegParamArg_t *>(p);
            Chn *c = existing(a->VeChn, &err);
            if (!c) return err;
            if (code == MI_VENC_IOC_GET_JPEG_PARAM)
                a->stParam = c->jpeg;
            else
                c->jpeg = a->stParam;
            return 0;
        }
        case MI_VENC_IOC_SET_INPUT_SOURCE: {
            auto *a = static_cast<MI_VENC_InputSourceConfigArg_t *>(p);
            Chn *c = existing(a->VeChn, &err);
            if (!c) return err;
            if ((uint32_t)a->stConfig.eInputSrcBufferMode >= E_MI_VENC_INPUT_MODE_MAX)
                return ERR(MI_ERR_VENC_ILLEGAL_PARAM);
            c->input = a->stConfig;
            return 0;
        }
        case MI_VENC_IOC_RING_GET_HANDLE: {
            auto *a = static_cast<MI_VENC_RingPoolGetHandle_t *>(p);
            Chn *c = existing((int32_t)a->u32ChnId, &err);
            if (!c) return err;
            a->hHandle = c->handle;
            return 0;
        }
        case MI_VENC_IOC_RING_GET_INFO: {
            auto *a = static_cast<MI_VENC_RingPoolGetInfo_t *>(p);
            Chn *c = by_handle(a->hHandle);
            if (!c) return ERR(MI_ERR_VENC_ILLEGAL_PARAM);
            a->PA = c->ring_pa;
            a->u32Length = c->ring_size;
            return 0;
        }
        case MI_VENC_IOC_RING_GET_HEAD:
            return get_head(static_cast<MI_VENC_RingPoolGetHeadRecord_t *>(p), lk);
        case MI_VENC_IOC_RING_RELEASE_HEAD: {
            auto *a = static_cast<MI_VENC_RingPoolReleaseHeadRecord_t *>(p);
            Chn *c = by_handle(a->hHandle);
            if (!c || c->id != a->s32ChnId) return ERR(MI_ERR_VENC_ILLEGAL_PARAM);
            if (c->handed == 0) return ERR(MI_ERR_VENC_NOT_PERM);  // nothing handed out
            c->recs.pop_front();
            c->handed--;
            if (c->recs.empty()) c->wpos = 0;
            update_ready(*c);
            return 0;
        }
        default:
            return ERR(0xA0022008);  // not supported
        }
    }

    void deliver(const MI_SYS_ChnPort_t &dst, const vb::Picture &pic) override {
        if (!chn_valid((int32_t)dst.u32ChnId)) return;
        std::lock_guard<std::mutex> g(g_mu);
        Chn &c = g_chn[dst.u32ChnId];
        if (!c.exists || !c.receiving) return;
        if (c.in.size() >= kInputDepth) {  // encoder behind: the oldest picture goes
            c.in.pop_front();
            c.dropped++;
            c.dropped_input++;
        }
        c.in.push_back(pic);
        c.cv_in.notify_one();
    }
};

VencDriver g_drv;

std::string stats_line(const Chn &c) {
    char b[256];
    uint32_t den, num = fps_of(c.attr, &den);
    const MI_VENC_AttrH264_t &h = c.attr.stVeAttr.stAttrH264e;
    snprintf(b, sizeof b,
             "chn %d %ux%u fps %u/%u encoded %llu dropped %llu dropped_ring %llu dropped_input %llu queued %zu "
             "bytes %llu\n",
             c.id, h.u32PicWidth, h.u32PicHeight, num, den, (unsigned long long)c.encoded,
             (unsigned long long)c.dropped, (unsigned long long)c.dropped_ring, (unsigned long long)c.dropped_input,
             c.recs.size() - c.handed, (unsigned long long)c.bytes);
    return b;
}

}  // namespace

namespace vbvenc {

bool stats(int chn, ChnStats *out) {
    std::lock_guard<std::mutex> g(g_mu);
    if (!chn_valid(chn) || !g_chn[chn].exists) return false;
    const Chn &c = g_chn[chn];
    out->encoded = c.encoded;
    out->dropped = c.dropped;
    out->dropped_ring = c.dropped_ring;
    out->dropped_input = c.dropped_input;
    out->queued = c.recs.size() - c.handed;
    out->handed = c.handed;
    out->bytes = c.bytes;
    return true;
}

void set_test_hooks(const TestHooks &h) {
    std::lock_guard<std::mutex> g(g_mu);
    g_hooks = h;
    for (Chn &c : g_chn) c.cv_in.notify_all();
}

}  // namespace vbvenc

void vb_install_venc() {
    for (int i = 0; i < VENC_MAX_CHN_NUM; i++) {
        g_ports[i] = MI_SYS_ChnPort_t{E_MI_MODULE_ID_VENC, 0, (MI_U32)i, 0};
        g_chn[i].id = i;
    }
    vb::register_driver("/dev/mi_venc", &g_drv);
    vb::register_sink(E_MI_MODULE_ID_VENC, &g_drv);
    vb::register_ctl("venc-stats", [](const std::vector<std::string> &a) {
        std::string out;
        std::lock_guard<std::mutex> g(g_mu);
        for (auto &c : g_chn) {
            if (!c.exists) continue;
            if (a.size() > 1 && std::to_string(c.id) != a[1]) continue;
            out += stats_line(c);
        }
        out += std::string("codec ") + vbvenc::codec_name() + "\n";
        return out;
    });
    vb::register_ctl("venc-idr", [](const std::vector<std::string> &a) {
        if (a.size() < 2) return std::string("error: venc-idr chn");
        int chn = atoi(a[1].c_str());
        std::lock_guard<std::mutex> g(g_mu);
        if (!chn_valid(chn) || !g_chn[chn].exists) return std::string("error: no such channel");
        g_chn[chn].force_idr = true;
        return std::string("ok");
    });
    // A chip may cut a picture into several slices; so can this encoder, from
    // its next picture on, which is a key picture (the codec is rebuilt).
    vb::register_ctl("venc-slices", [](const std::vector<std::string> &a) {
        if (a.size() < 2) return std::string("error: venc-slices chn [n]");
        int chn = atoi(a[1].c_str());
        if (!chn_valid(chn)) return std::string("error: no such channel");
        std::lock_guard<std::mutex> g(g_mu);
        Chn &c = g_chn[chn];
        if (a.size() > 2) {
            int n = atoi(a[2].c_str());
            if (n < 1 || n > (int)kMaxSlices) return std::string("error: 1 to ") + std::to_string(kMaxSlices) + " slices";
            if ((uint32_t)n != c.slices) {
                c.slices = (uint32_t)n;
                c.cfg_gen++;
            }
        }
        return "slices " + std::to_string(c.slices);
    });
}
