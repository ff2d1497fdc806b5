// Virtual audio drivers. "/dev/mi_ai": frames of u32PtNumPerFrm samples from
// a tone or a WAV file, made on the board clock by the "vb-ai" thread and
// served as output-port buffers. "/dev/mi_ao": a DMA ring drained at the
// device's byte rate by the "vb-ao" thread into <root>/ao_dev<N>.wav.
#include "vb_audio.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "mi_ai_datatype.h"
#include "mi_ao_datatype.h"
#include "mi_sys_datatype.h"
#include "vb.h"
#include "../sys/vb_sys.h"

namespace vb {
namespace {

constexpr int kAiDevs = 4;
constexpr int kAiChns = 8;
constexpr int kAoDevs = 5;
constexpr int kAoChns = 2;
constexpr size_t kAiDefaultDepth = 8;   // frames waiting when no depth was set
constexpr size_t kAiMaxHeld = 64;       // buffers out with the library at once
constexpr int kAiMaxCatchUp = 16;       // frames made at once after a stall
constexpr uint32_t kAoDmaBytes = 32768;

struct AiFrame {
    std::vector<uint8_t> data;
    uint64_t pts = 0;
    uint64_t seq = 0;
};

struct AiChn {
    bool enabled = false;
    bool mute = false;
    std::deque<std::shared_ptr<AiFrame>> ready;
    uint64_t seq = 0;
};

struct AiDev {
    bool attr_set = false;
    bool enabled = false;
    MI_AUDIO_Attr_t attr{};
    AiChn chn[kAiChns];
    uint64_t t0 = 0;      // board time of frame 0
    uint64_t k = 0;       // next frame index
    uint64_t sample = 0;  // source position, samples
};

struct AoDev {
    bool attr_set = false;
    bool enabled = false;
    MI_AUDIO_Attr_t attr{};
    bool chn[kAoChns] = {false, false};
    std::vector<uint8_t> ring = std::vector<uint8_t>(kAoDmaBytes);
    size_t rd = 0, fill = 0;
    FILE *wav = nullptr;
    std::string path;
    uint64_t t_enable = 0;     // board time of enable
    uint64_t budget_used = 0;  // bytes of play time already spent
    uint64_t written = 0;
    uint64_t underruns = 0;
    MI_AO_QueueStatus_t last_status{};
};

struct Source {
    double tone_hz = 1000.0;
    double amplitude = 0.5;
    std::vector<int16_t> wav;  // interleaved
    int wav_channels = 0;
    std::string wav_path;
};

struct State {
    std::mutex mu;
    std::condition_variable cv;
    AiDev ai[kAiDevs];
    AoDev ao[kAoDevs];
    Source src;
    int layout_mic = -1, layout_src = 0;  // -1: by sound mode
    std::map<uint32_t, std::shared_ptr<AiFrame>> held;
    uint32_t next_handle = 0;
    uint64_t produced = 0, dropped = 0, bad_put = 0;
    bool ao_stall = false;
    bool ai_thread = false, ao_thread = false;
};

State &S() {
    static State *s = new State;  // outlives static destruction: board threads keep running
    return *s;
}

MI_SYS_ChnPort_t ai_port(int dev, int chn) {
    MI_SYS_ChnPort_t p;
    p.eModId = E_MI_MODULE_ID_AI;
    p.u32DevId = (MI_U32)dev;
    p.u32ChnId = (MI_U32)chn;
    p.u32PortId = 0;
    return p;
}

bool rate_ok(uint32_t r) {
    switch (r) {
        case 8000: case 11025: case 12000: case 16000: case 22050:
        case 24000: case 32000: case 44100: case 48000: case 96000: return true;
        default: return false;
    }
}

bool attr_ok(const MI_AUDIO_Attr_t &a, uint32_t max_chn) {
    return rate_ok((uint32_t)a.eSamplerate) && a.eBitwidth == E_MI_AUDIO_BIT_WIDTH_16 &&
           (uint32_t)a.eSoundmode < E_MI_AUDIO_SOUND_MODE_MAX && a.u32ChnCnt >= 1 && a.u32ChnCnt <= max_chn &&
           a.u32PtNumPerFrm >= 1 && a.u32PtNumPerFrm <= 16384;
}

uint32_t frame_channels(const MI_AUDIO_Attr_t &a) { return a.eSoundmode == E_MI_AUDIO_SOUND_MODE_STEREO ? 2 : 1; }

int mic_parts(const State &s, const AiDev &d) {
    if (s.layout_mic >= 0) return s.layout_mic;
    return d.attr.eSoundmode == E_MI_AUDIO_SOUND_MODE_QUEUE ? (int)d.attr.u32ChnCnt : 1;
}

int16_t tone_sample(const Source &src, uint32_t rate, uint64_t n, int ch, double hz) {
    // Right channel a quarter period ahead of the left: a swapped pair shows.
    double ph = 2.0 * M_PI * hz * (double)n / (double)rate + (ch ? M_PI / 2 : 0.0);
    return (int16_t)lrint(src.amplitude * 32767.0 * sin(ph));
}

int16_t source_sample(const Source &src, uint32_t rate, uint64_t n, int ch) {
    if (!src.wav.empty() && src.wav_channels > 0) {
        size_t frames = src.wav.size() / (size_t)src.wav_channels;
        size_t i = (size_t)(n % frames);
        return src.wav[i * (size_t)src.wav_channels + (size_t)(ch < src.wav_channels ? ch : 0)];
    }
    return tone_sample(src, rate, n, ch, src.tone_hz);
}

// One buffer: the microphone parts, then the echo-reference parts.
std::shared_ptr<AiFrame> make_frame(State &s, AiDev &d, int chn, uint64_t pts) {
    const uint32_t pts_n = d.attr.u32PtNumPerFrm, chs = frame_channels(d.attr), rate = (uint32_t)d.attr.eSamplerate;
    int mic = mic_parts(s, d);
    if (mic < 1) mic = 1;
    if (mic > kAiChns) mic = kAiChns;
    int src = s.layout_src < 0 ? 0 : (s.layout_src > 4 ? 4 : s.layout_src);
    const size_t part = (size_t)pts_n * chs * 2;
    auto f = std::make_shared<AiFrame>();
    f->data.resize(part * (size_t)(mic + src));
    f->pts = pts;
    f->seq = d.chn[chn].seq++;
    auto *out = reinterpret_cast<int16_t *>(f->data.data());
    for (int p = 0; p < mic + src; p++) {
        for (uint32_t i = 0; i < pts_n; i++) {
            for (uint32_t c = 0; c < chs; c++) {
                int16_t v = p < mic ? source_sample(s.src, rate, d.sample + i, (int)c)
                                    : tone_sample(s.src, rate, d.sample + i, (int)c, s.src.tone_hz / 2);
                *out++ = v;
            }
        }
    }
    return f;
}

uint64_t frame_due(const AiDev &d, uint64_t k) {
    return d.t0 + k * (uint64_t)d.attr.u32PtNumPerFrm * 1000000ull / (uint64_t)d.attr.eSamplerate;
}

size_t depth_of(int dev, int chn) {
    uint32_t user = 0, queue = 0;
    if (sys_port_depth(ai_port(dev, chn), &user, &queue) && user > 0) return user;
    return kAiDefaultDepth;
}

void ai_thread() {
    name_thread("vb-ai");
    State &s = S();
    std::unique_lock<std::mutex> g(s.mu);
    for (;;) {
        uint64_t now = pts_now();
        uint64_t next = UINT64_MAX;
        for (int dv = 0; dv < kAiDevs; dv++) {
            AiDev &d = s.ai[dv];
            if (!d.enabled) continue;
            int made = 0;
            while (frame_due(d, d.k + 1) <= now) {
                if (++made > kAiMaxCatchUp) {  // far behind (clock step, stopped process): start afresh
                    d.t0 = now;
                    d.k = 0;
                    break;
                }
                uint64_t pts = frame_due(d, d.k + 1);
                for (int c = 0; c < kAiChns; c++) {
                    AiChn &ch = d.chn[c];
                    if (!ch.enabled) continue;
                    ch.ready.push_back(make_frame(s, d, c, pts));
                    s.produced++;
                    size_t depth = depth_of(dv, c);
                    while (ch.ready.size() > depth) {  // the consumer is late: the oldest goes
                        ch.ready.pop_front();
                        s.dropped++;
                    }
                    port_set_ready(ai_port(dv, c), true);
                }
                d.sample += d.attr.u32PtNumPerFrm;
                d.k++;
            }
            next = std::min(next, frame_due(d, d.k + 1));
        }
        if (next == UINT64_MAX) {
            s.cv.wait(g);
        } else {
            uint64_t wait = next > now ? next - now : 0;
            s.cv.wait_for(g, std::chrono::microseconds(wait));
        }
    }
}

void wav_header(FILE *f, uint32_t rate, uint32_t chs, uint32_t data_bytes) {
    uint8_t h[44];
    auto put32 = [&](int off, uint32_t v) { memcpy(h + off, &v, 4); };
    auto put16 = [&](int off, uint16_t v) { memcpy(h + off, &v, 2); };
    memcpy(h, "RIFF", 4);
    put32(4, 36 + data_bytes);
    memcpy(h + 8, "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, (uint16_t)chs);
    put32(24, rate);
    put32(28, rate * chs * 2);
    put16(32, (uint16_t)(chs * 2));
    put16(34, 16);
    memcpy(h + 36, "data", 4);
    put32(40, data_bytes);
    fseek(f, 0, SEEK_SET);
    fwrite(h, 1, sizeof h, f);
    fseek(f, 0, SEEK_END);
}

void ao_thread() {
    name_thread("vb-ao");
    State &s = S();
    std::unique_lock<std::mutex> g(s.mu);
    for (;;) {
        bool any = false;
        uint64_t now = pts_now();
        for (AoDev &d : s.ao) {
            if (!d.enabled) continue;
            any = true;
            const uint64_t bps = (uint64_t)d.attr.eSamplerate * frame_channels(d.attr) * 2;
            const uint64_t unit = frame_channels(d.attr) * 2;
            uint64_t target = (now - d.t_enable) * bps / 1000000ull / unit * unit;
            if (target <= d.budget_used) continue;
            uint64_t allowed = target - d.budget_used;
            d.budget_used = target;  // play time passes whether or not there is data
            if (s.ao_stall) continue;
            uint64_t n = std::min<uint64_t>(allowed, d.fill) / unit * unit;
            if (n < allowed) d.underruns++;
            size_t left = (size_t)n;
            while (left > 0) {
                size_t piece = std::min(left, d.ring.size() - d.rd);
                if (d.wav) fwrite(d.ring.data() + d.rd, 1, piece, d.wav);
                d.rd = (d.rd + piece) % d.ring.size();
                d.fill -= piece;
                left -= piece;
            }
            if (n && d.wav) {
                d.written += n;
                wav_header(d.wav, (uint32_t)d.attr.eSamplerate, frame_channels(d.attr), (uint32_t)d.written);
                fflush(d.wav);
            }
        }
        if (any)
            s.cv.wait_for(g, std::chrono::milliseconds(10));
        else
            s.cv.wait(g);
    }
}

void start_threads_locked(State &s, bool ai, bool ao) {
    if (ai && !s.ai_thread) {
        s.ai_thread = true;
        std::thread(ai_thread).detach();
    }
    if (ao && !s.ao_thread) {
        s.ao_thread = true;
        std::thread(ao_thread).detach();
    }
    s.cv.notify_all();
}

class AiDriver : public Driver, public PortSource {
public:
    int ioctl(int, unsigned long code, void *payload, size_t) override {
        State &s = S();
        std::lock_guard<std::mutex> g(s.mu);
        switch (code) {
            case MI_AI_GET_CHIP_DEV_NUM:
                static_cast<MI_AI_GetChipDevNum_t *>(payload)->u8ChipDevNum = kAiDevs;
                return 0;
            case MI_AI_SET_PUB_ATTR: {
                auto *p = static_cast<MI_AI_SetPubAttr_t *>(payload);
                if (p->AiDevId < 0 || p->AiDevId >= kAiDevs) return MI_AI_ERR(MI_AUDIO_ERR_INVALID_DEVID);
                AiDev &d = s.ai[p->AiDevId];
                if (d.enabled) return MI_AI_ERR(MI_AUDIO_ERR_NOT_CONFIG);
                if (!attr_ok(p->stAttr, kAiChns)) return MI_AI_ERR(MI_AUDIO_ERR_ILLEGAL_PARAM);
                d.attr = p->stAttr;
                d.attr_set = true;
                return 0;
            }
            case MI_AI_GET_PUB_ATTR: {
                auto *p = static_cast<MI_AI_GetPubAttr_t *>(payload);
                if (p->AiDevId < 0 || p->AiDevId >= kAiDevs) return MI_AI_ERR(MI_AUDIO_ERR_INVALID_DEVID);
                AiDev &d = s.ai[p->AiDevId];
                if (!d.attr_set) return MI_AI_ERR(MI_AUDIO_ERR_NOT_CONFIG);
                p->stAttr = d.attr;
                return 0;
            }
            case MI_AI_ENABLE: {
                MI_AUDIO_DEV dev = *static_cast<MI_AUDIO_DEV *>(payload);
                if (dev < 0 || dev >= kAiDevs) return MI_AI_ERR(MI_AUDIO_ERR_INVALID_DEVID);
                AiDev &d = s.ai[dev];
                if (!d.attr_set) return MI_AI_ERR(MI_AUDIO_ERR_NOT_CONFIG);
                if (!d.enabled) {
                    d.enabled = true;
                    d.t0 = pts_now();
                    d.k = 0;
                    d.sample = 0;
                    start_threads_locked(s, true, false);
                }
                return 0;
            }
            case MI_AI_ENABLE_CHN: {
                auto *p = static_cast<MI_AI_EnableChn_t *>(payload);
                if (p->AiDevId < 0 || p->AiDevId >= kAiDevs) return MI_AI_ERR(MI_AUDIO_ERR_INVALID_DEVID);
                AiDev &d = s.ai[p->AiDevId];
                if (!d.enabled) return MI_AI_ERR(MI_AUDIO_ERR_NOT_ENABLE);
                if (p->AiChn < 0 || (uint32_t)p->AiChn >= d.attr.u32ChnCnt) return MI_AI_ERR(MI_AUDIO_ERR_INVALID_CHNID);
                AiChn &c = d.chn[p->AiChn];
                if (!c.enabled) {
                    c.enabled = true;
                    c.seq = 0;
                    c.ready.clear();
                }
                return 0;
            }
            case MI_AI_GET_CHN_MUTE_STATUS:
            case MI_AI_GET_CHN_DATA_INFO: {
                auto *p = static_cast<MI_AI_EnableChn_t *>(payload);  // both start with device, channel
                if (p->AiDevId < 0 || p->AiDevId >= kAiDevs) return MI_AI_ERR(MI_AUDIO_ERR_INVALID_DEVID);
                AiDev &d = s.ai[p->AiDevId];
                if (p->AiChn < 0 || p->AiChn >= kAiChns || !d.chn[p->AiChn].enabled)
                    return MI_AI_ERR(MI_AUDIO_ERR_NOT_ENABLE);
                if (code == MI_AI_GET_CHN_MUTE_STATUS) {
                    static_cast<MI_AI_GetChnMuteStatus_t *>(payload)->bMute = d.chn[p->AiChn].mute;
                } else {
                    auto *q = static_cast<MI_AI_GetChnDataInfo_t *>(payload);
                    q->u32MicDataChnCnt = (MI_U32)mic_parts(s, d);
                    q->u32SrcDataChnCnt = (MI_U32)s.layout_src;
                }
                return 0;
            }
            default:
                return MI_AI_ERR(MI_AUDIO_ERR_ILLEGAL_PARAM);
        }
    }

    int get_buf(const MI_SYS_ChnPort_t &port, void *bufinfo, int32_t *handle) override {
        State &s = S();
        std::lock_guard<std::mutex> g(s.mu);
        if (port.u32DevId >= (uint32_t)kAiDevs || port.u32ChnId >= (uint32_t)kAiChns || port.u32PortId != 0)
            return (int)MI_SYS_ERR_ILLEGAL_PARAM;
        AiChn &c = s.ai[port.u32DevId].chn[port.u32ChnId];
        if (c.ready.empty()) return (int)MI_SYS_ERR_BUF_EMPTY;
        if (s.held.size() >= kAiMaxHeld) return (int)MI_SYS_ERR_NOBUF;
        std::shared_ptr<AiFrame> f = c.ready.front();
        c.ready.pop_front();
        if (c.ready.empty()) port_set_ready(port, false);
        uint32_t idx;
        do {
            idx = s.next_handle++ & 0xffffff;
        } while (s.held.count(idx));
        s.held[idx] = f;
        auto *bi = static_cast<MI_SYS_BufInfo_t *>(bufinfo);
        memset(bi, 0, sizeof *bi);
        bi->u64Pts = f->pts;
        bi->eBufType = E_MI_SYS_BUFDATA_RAW;
        bi->u32SequenceNumber = (MI_U32)f->seq;
        bi->stRawData.pVirAddr = f->data.data();
        bi->stRawData.u32BufSize = (MI_U32)f->data.size();
        bi->stRawData.u32ContentSize = (MI_U32)f->data.size();
        bi->stRawData.bEndOfFrame = TRUE;
        bi->stRawData.u64SeqNum = f->seq;
        *handle = make_handle(E_MI_MODULE_ID_AI, idx);
        return 0;
    }

    int put_buf(int32_t handle) override {
        State &s = S();
        std::lock_guard<std::mutex> g(s.mu);
        auto it = s.held.find((uint32_t)handle & 0xffffff);
        if (it == s.held.end()) {
            s.bad_put++;
            return (int)MI_SYS_ERR_ILLEGAL_PARAM;
        }
        s.held.erase(it);
        return 0;
    }
};

class AoDriver : public Driver {
public:
    int ioctl(int, unsigned long code, void *payload, size_t) override {
        State &s = S();
        std::lock_guard<std::mutex> g(s.mu);
        switch (code) {
            case MI_AO_GET_CHIP_DEV_NUM:
                static_cast<MI_AO_GetChipDevNum_t *>(payload)->u8ChipDevNum = kAoDevs;
                return 0;
            case MI_AO_SET_PUB_ATTR: {
                auto *p = static_cast<MI_AO_SetPubAttr_t *>(payload);
                if (p->AoDevId < 0 || p->AoDevId >= kAoDevs) return MI_AO_ERR(MI_AUDIO_ERR_INVALID_DEVID);
                AoDev &d = s.ao[p->AoDevId];
                if (d.enabled) return MI_AO_ERR(MI_AUDIO_ERR_NOT_CONFIG);
                if (!attr_ok(p->stPubAttr, kAoChns) || p->stPubAttr.eSoundmode == E_MI_AUDIO_SOUND_MODE_QUEUE)
                    return MI_AO_ERR(MI_AUDIO_ERR_ILLEGAL_PARAM);
                d.attr = p->stPubAttr;
                d.attr_set = true;
                return 0;
            }
            case MI_AO_GET_PUB_ATTR: {
                auto *p = static_cast<MI_AO_GetPubAttr_t *>(payload);
                if (p->AoDevId < 0 || p->AoDevId >= kAoDevs) return MI_AO_ERR(MI_AUDIO_ERR_INVALID_DEVID);
                if (!s.ao[p->AoDevId].attr_set) return MI_AO_ERR(MI_AUDIO_ERR_NOT_CONFIG);
                p->stPubAttr = s.ao[p->AoDevId].attr;
                return 0;
            }
            case MI_AO_ENABLE: {
                MI_AUDIO_DEV dev = *static_cast<MI_AUDIO_DEV *>(payload);
                if (dev < 0 || dev >= kAoDevs) return MI_AO_ERR(MI_AUDIO_ERR_INVALID_DEVID);
                AoDev &d = s.ao[dev];
                if (!d.attr_set) return MI_AO_ERR(MI_AUDIO_ERR_NOT_CONFIG);
                if (d.enabled) return 0;
                mkdir(root_dir().c_str(), 0755);
                d.path = root_dir() + "/ao_dev" + std::to_string(dev) + ".wav";
                d.wav = fopen(d.path.c_str(), "w+b");
                if (d.wav) wav_header(d.wav, (uint32_t)d.attr.eSamplerate, frame_channels(d.attr), 0);
                d.rd = d.fill = 0;
                d.written = d.underruns = 0;
                d.t_enable = pts_now();
                d.budget_used = 0;
                d.enabled = true;
                start_threads_locked(s, false, true);
                return 0;
            }
            case MI_AO_ENABLE_CHN:
            case MI_AO_DISABLE_CHN: {
                auto *p = static_cast<MI_AO_EnableChn_t *>(payload);
                if (p->AoDevId < 0 || p->AoDevId >= kAoDevs) return MI_AO_ERR(MI_AUDIO_ERR_INVALID_DEVID);
                AoDev &d = s.ao[p->AoDevId];
                if (!d.enabled) return MI_AO_ERR(MI_AUDIO_ERR_NOT_ENABLE);
                if (p->AoChn < 0 || (uint32_t)p->AoChn >= d.attr.u32ChnCnt) return MI_AO_ERR(MI_AUDIO_ERR_INVALID_CHNID);
                d.chn[p->AoChn] = code == MI_AO_ENABLE_CHN;
                return 0;
            }
            case MI_AO_QUERY_CHN_STAT: {
                auto *p = static_cast<MI_AO_QueryChnStat_t *>(payload);
                AoDev *d = enabled_chn(s, p->AoDevId, p->AoChn);
                if (!d) return MI_AO_ERR(MI_AUDIO_ERR_NOT_ENABLE);
                p->stStatus.u32ChnTotalNum = kAoDmaBytes;
                p->stStatus.u32ChnBusyNum = (MI_U32)d->fill;
                p->stStatus.u32ChnFreeNum = (MI_U32)(kAoDmaBytes - d->fill);
                return 0;
            }
            case MI_AO_SEND_FRAME: {
                auto *p = static_cast<MI_AO_SendFrame_t *>(payload);
                AoDev *d = enabled_chn(s, p->AoDevId, p->AoChn);
                if (!d) return MI_AO_ERR(MI_AUDIO_ERR_NOT_ENABLE);
                size_t n = p->stData.u32Len[0];
                const uint8_t *src = static_cast<const uint8_t *>(p->stData.apVirAddr[0]);
                if (!src || n == 0) return MI_AO_ERR(MI_AUDIO_ERR_ILLEGAL_PARAM);
                if (n > d->ring.size() - d->fill) return MI_AO_ERR(MI_AUDIO_ERR_NOBUF);
                size_t wr = (d->rd + d->fill) % d->ring.size();
                for (size_t done = 0; done < n;) {
                    size_t piece = std::min(n - done, d->ring.size() - wr);
                    memcpy(d->ring.data() + wr, src + done, piece);
                    wr = (wr + piece) % d->ring.size();
                    done += piece;
                }
                d->fill += n;
                return 0;
            }
            case MI_AO_UPDATE_QUEUE_STATUS: {
                auto *p = static_cast<MI_AO_QueueStatus_t *>(payload);
                AoDev *d = enabled_chn(s, p->AoDevId, p->AoChn);
                if (!d) return MI_AO_ERR(MI_AUDIO_ERR_NOT_ENABLE);
                d->last_status = *p;
                return 0;
            }
            default:
                return MI_AO_ERR(MI_AUDIO_ERR_ILLEGAL_PARAM);
        }
    }

private:
    static AoDev *enabled_chn(State &s, int dev, int chn) {
        if (dev < 0 || dev >= kAoDevs || chn < 0 || chn >= kAoChns) return nullptr;
        AoDev &d = s.ao[dev];
        return d.enabled && d.chn[chn] ? &d : nullptr;
    }
};

AiDriver g_ai;
AoDriver g_ao;

std::string ok() { return "ok"; }

bool load_wav(const std::string &path, Source &src, std::string *err) {
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) {
        *err = "error: cannot open " + path;
        return false;
    }
    std::vector<uint8_t> b;
    uint8_t tmp[65536];
    size_t n;
    while ((n = fread(tmp, 1, sizeof tmp, f)) > 0) b.insert(b.end(), tmp, tmp + n);
    fclose(f);
    if (b.size() < 12 || memcmp(b.data(), "RIFF", 4) || memcmp(b.data() + 8, "WAVE", 4)) {
        *err = "error: not a WAV file";
        return false;
    }
    int chs = 0, bits = 0;
    size_t off = 12;
    while (off + 8 <= b.size()) {
        uint32_t len;
        memcpy(&len, b.data() + off + 4, 4);
        size_t body = off + 8;
        if (len > b.size() - body) len = (uint32_t)(b.size() - body);  // a truncated file keeps what it has
        if (!memcmp(b.data() + off, "fmt ", 4) && len >= 16) {
            uint16_t fmt, c, bps;
            memcpy(&fmt, b.data() + body, 2);
            memcpy(&c, b.data() + body + 2, 2);
            memcpy(&bps, b.data() + body + 14, 2);
            if (fmt != 1) break;
            chs = c;
            bits = bps;
        } else if (!memcmp(b.data() + off, "data", 4)) {
            if (bits != 16 || chs < 1 || chs > 8) break;
            size_t samples = len / 2 / (size_t)chs * (size_t)chs;
            if (samples == 0) break;
            src.wav.assign(samples, 0);
            memcpy(src.wav.data(), b.data() + body, samples * 2);
            src.wav_channels = chs;
            src.wav_path = path;
            return true;
        }
        off = body + len + (len & 1);
    }
    *err = "error: need a 16-bit PCM WAV file";
    return false;
}

void register_verbs() {
    register_ctl("ai-tone", [](const std::vector<std::string> &a) {
        if (a.size() < 2) return std::string("error: ai-tone hz [amplitude 0..1]");
        double hz = atof(a[1].c_str());
        double amp = a.size() > 2 ? atof(a[2].c_str()) : 0.5;
        if (hz <= 0 || amp < 0 || amp > 1) return std::string("error: bad tone");
        std::lock_guard<std::mutex> g(S().mu);
        S().src.tone_hz = hz;
        S().src.amplitude = amp;
        S().src.wav.clear();
        S().src.wav_channels = 0;
        S().src.wav_path.clear();
        return ok();
    });
    register_ctl("ai-wav", [](const std::vector<std::string> &a) {
        if (a.size() < 2) return std::string("error: ai-wav path");
        Source tmp;
        std::string err;
        if (!load_wav(a[1], tmp, &err)) return err;
        std::lock_guard<std::mutex> g(S().mu);
        S().src.wav = std::move(tmp.wav);
        S().src.wav_channels = tmp.wav_channels;
        S().src.wav_path = tmp.wav_path;
        return ok();
    });
    register_ctl("ai-mute", [](const std::vector<std::string> &a) {
        if (a.size() < 4) return std::string("error: ai-mute dev chn 0|1");
        int dev = atoi(a[1].c_str()), chn = atoi(a[2].c_str());
        if (dev < 0 || dev >= kAiDevs || chn < 0 || chn >= kAiChns) return std::string("error: no such channel");
        std::lock_guard<std::mutex> g(S().mu);
        S().ai[dev].chn[chn].mute = atoi(a[3].c_str()) != 0;
        return ok();
    });
    register_ctl("ai-layout", [](const std::vector<std::string> &a) {
        std::lock_guard<std::mutex> g(S().mu);
        if (a.size() == 2 && a[1] == "default") {
            S().layout_mic = -1;
            S().layout_src = 0;
            return ok();
        }
        if (a.size() < 3) return std::string("error: ai-layout mic src | ai-layout default");
        S().layout_mic = atoi(a[1].c_str());
        S().layout_src = atoi(a[2].c_str());
        return ok();
    });
    register_ctl("ai-stat", [](const std::vector<std::string> &) {
        std::lock_guard<std::mutex> g(S().mu);
        char b[160];
        snprintf(b, sizeof b, "produced %llu dropped %llu held %zu bad_put %llu",
                 (unsigned long long)S().produced, (unsigned long long)S().dropped, S().held.size(),
                 (unsigned long long)S().bad_put);
        return std::string(b);
    });
    register_ctl("ao-stall", [](const std::vector<std::string> &a) {
        if (a.size() < 2) return std::string("error: ao-stall 0|1");
        std::lock_guard<std::mutex> g(S().mu);
        S().ao_stall = atoi(a[1].c_str()) != 0;
        return ok();
    });
    register_ctl("ao-stat", [](const std::vector<std::string> &a) {
        int dev = a.size() > 1 ? atoi(a[1].c_str()) : 0;
        if (dev < 0 || dev >= kAoDevs) return std::string("error: no such device");
        std::lock_guard<std::mutex> g(S().mu);
        const AoDev &d = S().ao[dev];
        char b[320];
        snprintf(b, sizeof b, "written %llu fill %zu underruns %llu stalled %d queued %d total %llu path %s",
                 (unsigned long long)d.written, d.fill, (unsigned long long)d.underruns, S().ao_stall ? 1 : 0,
                 d.last_status.s32Size, (unsigned long long)d.last_status.u64GetTotalSize, d.path.c_str());
        return std::string(b);
    });
}

}  // namespace

AudioStats audio_stats(int ao_dev) {
    State &s = S();
    std::lock_guard<std::mutex> g(s.mu);
    AudioStats st;
    st.ai_produced = s.produced;
    st.ai_dropped = s.dropped;
    st.ai_held = s.held.size();
    st.ai_bad_put = s.bad_put;
    if (ao_dev >= 0 && ao_dev < kAoDevs) {
        st.ao_written = s.ao[ao_dev].written;
        st.ao_fill = s.ao[ao_dev].fill;
        st.ao_underruns = s.ao[ao_dev].underruns;
        st.ao_wav = s.ao[ao_dev].path;
    }
    return st;
}

}  // namespace vb

void vb_install_audio() {
    vb::register_driver("/dev/mi_ai", &vb::g_ai);
    vb::register_driver("/dev/mi_ao", &vb::g_ao);
    vb::register_port_source(E_MI_MODULE_ID_AI, &vb::g_ai);
    vb::register_verbs();
}
