// Virtual display controller, HDMI transmitter and panel behind "/dev/mi_disp",
// "/dev/mi_hdmi" and "/dev/mi_panel". The display keeps device, layer and
// input-port state and checks every picture that reaches an input port through
// the binding graph against the port's source size and the device's timing.
#include "vb_display.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <mutex>

#include "mi_disp_ioctl.h"
#include "mi_hdmi_ioctl.h"
#include "mi_panel_ioctl.h"
#include "vb.h"

namespace vb::display {
namespace {

constexpr int kDevs = 2;
constexpr int kLayers = 4;
constexpr int kMaxPorts = 16;
// A rate window spans one second of pictures at the timing's rate; a window
// more than 10 % off counts as one rate mismatch.
constexpr double kRateTolerance = 0.10;

int ports_of(int layer) { return (layer == 0 || layer == 2) ? kMaxPorts : 1; }

struct Port {
    bool attr_set = false;
    bool enabled = false;
    MI_DISP_InputPortAttr_t attr{};
    PortStats st;
    uint64_t win_first_pts = 0;
    uint32_t win_count = 0;
};

struct Layer {
    int dev = -1;  // device the layer is bound to
    bool attr_set = false;
    bool enabled = false;
    MI_DISP_VideoLayerAttr_t attr{};
    Port ports[kMaxPorts];
};

struct Dev {
    bool attr_set = false;
    bool enabled = false;
    MI_DISP_PubAttr_t attr{};
};

struct Hdmi {
    bool plugged = false;  // the cable: survives de-init and reset
    bool inited = false;
    bool opened = false;
    bool started = false;
    bool attr_set = false;
    bool avmute = false;
    MI_HDMI_Attr_t attr{};
};

struct Panel {
    bool inited = false;
    uint32_t type = 0;
};

std::mutex g_mu;
Dev g_dev[kDevs];
Layer g_layer[kLayers];
Hdmi g_hdmi;
Panel g_panel;
uint64_t g_unrouted = 0;

// Frames per second of each E_MI_DISP_OUTPUT_* value (interlaced: frames,
// not fields).
constexpr Timing kTimings[] = {
    {720, 576, 25},    {720, 480, 30},    {960, 576, 25},   {960, 480, 30},    {720, 480, 30},
    {720, 576, 25},    {720, 480, 60},    {720, 576, 50},   {1280, 720, 50},   {1280, 720, 60},
    {1920, 1080, 24},  {1920, 1080, 25},  {1920, 1080, 30}, {1920, 1080, 25},  {1920, 1080, 30},
    {1920, 1080, 50},  {1920, 1080, 60},  {640, 480, 60},   {800, 600, 60},    {1024, 768, 60},
    {1280, 1024, 60},  {1366, 768, 60},   {1440, 900, 60},  {1280, 800, 60},   {1680, 1050, 60},
    {1920, 2160, 30},  {1600, 1200, 60},  {1920, 1200, 60}, {2560, 1440, 30},  {2560, 1600, 60},
    {3840, 2160, 30},  {3840, 2160, 60},
};
static_assert(sizeof kTimings / sizeof kTimings[0] == E_MI_DISP_OUTPUT_USER, "one timing per output value");

// Caller holds g_mu.
bool dev_timing(int dev, Timing *t) {
    const Dev &d = g_dev[dev];
    if (!d.attr_set) return false;
    if (d.attr.eIntfSync == E_MI_DISP_OUTPUT_USER) {
        t->width = d.attr.stSyncInfo.u16Hact;
        t->height = d.attr.stSyncInfo.u16Vact;
        t->fps = d.attr.stSyncInfo.u32FrameRate;
        return true;
    }
    return timing_of((uint32_t)d.attr.eIntfSync, t);
}

void reset_window(Port &p) { p.win_count = 0; }

void reset_windows_of_dev(int dev) {
    for (auto &l : g_layer)
        if (l.dev == dev)
            for (auto &p : l.ports) reset_window(p);
}

bool dev_ok(uint32_t d) { return d < (uint32_t)kDevs; }
bool layer_ok(uint32_t l) { return l < (uint32_t)kLayers; }
bool port_ok(uint32_t l, uint32_t p) { return layer_ok(l) && p < (uint32_t)ports_of((int)l); }

// ---- display controller -------------------------------------------------

class DispDriver : public Driver {
public:
    int ioctl(int, unsigned long code, void *payload, size_t) override {
        std::lock_guard<std::mutex> g(g_mu);
        switch (code) {
        case MI_DISP_ENABLE: {
            uint32_t d = *static_cast<MI_U32 *>(payload);
            if (!dev_ok(d)) return MI_DISP_ERR_INVALID_DEVID;
            if (!g_dev[d].attr_set) return MI_DISP_ERR_NOT_CONFIG;
            g_dev[d].enabled = true;
            reset_windows_of_dev((int)d);
            return 0;
        }
        case MI_DISP_DISABLE: {
            uint32_t d = *static_cast<MI_U32 *>(payload);
            if (!dev_ok(d)) return MI_DISP_ERR_INVALID_DEVID;
            g_dev[d].enabled = false;
            return 0;
        }
        case MI_DISP_SET_PUB_ATTR: {
            auto *p = static_cast<MI_DISP_SetPubAttr_t *>(payload);
            if (!dev_ok(p->u32DispDev)) return MI_DISP_ERR_INVALID_DEVID;
            const MI_DISP_PubAttr_t &a = p->stPubAttr;
            if ((uint32_t)a.eIntfType >= E_MI_DISP_INTF_MAX || (uint32_t)a.eIntfSync >= E_MI_DISP_OUTPUT_MAX)
                return MI_DISP_ERR_ILLEGAL_PARAM;
            if (a.eIntfSync == E_MI_DISP_OUTPUT_USER &&
                (a.stSyncInfo.u16Hact == 0 || a.stSyncInfo.u16Vact == 0 || a.stSyncInfo.u32FrameRate == 0))
                return MI_DISP_ERR_ILLEGAL_PARAM;
            g_dev[p->u32DispDev].attr = a;
            g_dev[p->u32DispDev].attr_set = true;
            reset_windows_of_dev((int)p->u32DispDev);
            return 0;
        }
        case MI_DISP_DEVICE_DETACH: {
            auto *p = static_cast<MI_DISP_DeviceDetach_t *>(payload);
            if (!dev_ok(p->u32SrcDev) || !dev_ok(p->u32DstDev)) return MI_DISP_ERR_INVALID_DEVID;
            return p->u32SrcDev == p->u32DstDev ? MI_DISP_ERR_ILLEGAL_PARAM : 0;
        }
        case MI_DISP_ENABLE_VIDEO_LAYER: {
            uint32_t l = *static_cast<MI_U32 *>(payload);
            if (!layer_ok(l)) return MI_DISP_ERR_INVALID_CHNID;
            if (g_layer[l].dev < 0) return MI_DISP_ERR_NOT_CONFIG;
            g_layer[l].enabled = true;
            for (auto &p : g_layer[l].ports) reset_window(p);
            return 0;
        }
        case MI_DISP_DISABLE_VIDEO_LAYER: {
            uint32_t l = *static_cast<MI_U32 *>(payload);
            if (!layer_ok(l)) return MI_DISP_ERR_INVALID_CHNID;
            g_layer[l].enabled = false;
            return 0;
        }
        case MI_DISP_SET_VIDEO_LAYER_ATTR: {
            auto *p = static_cast<MI_DISP_SetVideoLayerAttr_t *>(payload);
            if (!layer_ok(p->u32Layer)) return MI_DISP_ERR_INVALID_CHNID;
            if ((uint32_t)p->stLayerAttr.ePixFormat >= E_MI_SYS_PIXEL_FRAME_FORMAT_MAX)
                return MI_DISP_ERR_ILLEGAL_PARAM;
            g_layer[p->u32Layer].attr = p->stLayerAttr;
            g_layer[p->u32Layer].attr_set = true;
            return 0;
        }
        case MI_DISP_BIND_VIDEO_LAYER: {
            auto *p = static_cast<MI_DISP_LayerDev_t *>(payload);
            if (!layer_ok(p->u32Layer)) return MI_DISP_ERR_INVALID_CHNID;
            if (!dev_ok(p->u32Dev)) return MI_DISP_ERR_INVALID_DEVID;
            g_layer[p->u32Layer].dev = (int)p->u32Dev;
            return 0;
        }
        case MI_DISP_UNBIND_VIDEO_LAYER: {
            auto *p = static_cast<MI_DISP_LayerDev_t *>(payload);
            if (!layer_ok(p->u32Layer)) return MI_DISP_ERR_INVALID_CHNID;
            if (!dev_ok(p->u32Dev)) return MI_DISP_ERR_INVALID_DEVID;
            if (g_layer[p->u32Layer].dev != (int)p->u32Dev) return MI_DISP_ERR_ILLEGAL_PARAM;
            g_layer[p->u32Layer].dev = -1;
            return 0;
        }
        case MI_DISP_SET_INPUT_PORT_ATTR: {
            auto *p = static_cast<MI_DISP_SetInputPortAttr_t *>(payload);
            if (!port_ok(p->u32Layer, p->u32Port)) return MI_DISP_ERR_INVALID_CHNID;
            Port &port = g_layer[p->u32Layer].ports[p->u32Port];
            port.attr = p->stInputPortAttr;
            port.attr_set = true;
            reset_window(port);
            return 0;
        }
        case MI_DISP_ENABLE_INPUT_PORT: {
            auto *p = static_cast<MI_DISP_LayerPort_t *>(payload);
            if (!port_ok(p->u32Layer, p->u32Port)) return MI_DISP_ERR_INVALID_CHNID;
            Layer &l = g_layer[p->u32Layer];
            Port &port = l.ports[p->u32Port];
            if (!port.attr_set) return MI_DISP_ERR_NOT_CONFIG;
            if (!l.enabled) return MI_DISP_ERR_NOT_ENABLE;
            port.enabled = true;
            reset_window(port);
            return 0;
        }
        case MI_DISP_DISABLE_INPUT_PORT: {
            auto *p = static_cast<MI_DISP_LayerPort_t *>(payload);
            if (!port_ok(p->u32Layer, p->u32Port)) return MI_DISP_ERR_INVALID_CHNID;
            g_layer[p->u32Layer].ports[p->u32Port].enabled = false;
            return 0;
        }
        case MI_DISP_GET_WBC_ATTR: {
            auto *p = static_cast<MI_DISP_GetWBCAttr_t *>(payload);
            if (p->u32Wbc != 0) return MI_DISP_ERR_INVALID_CHNID;
            // The write-back unit captures device 0 at its output size.
            Timing t;
            if (!dev_timing(0, &t)) return MI_DISP_ERR_NOT_CONFIG;
            p->stWbcAttr.stTargetSize.u32Width = t.width;
            p->stWbcAttr.stTargetSize.u32Height = t.height;
            p->stWbcAttr.ePixFormat = E_MI_SYS_PIXEL_FRAME_YUV_SEMIPLANAR_420;
            return 0;
        }
        default:
            errno = ENOTTY;
            return -1;
        }
    }
};

// Pictures from the scaler arrive at (DISP, device, channel, 0): channels 0-15
// are the input ports of layer 0 (or 2), channel 16 is layer 1 (or 3).
class DispSink : public FrameSink {
public:
    void deliver(const MI_SYS_ChnPort_t &dst, const Picture &pic) override {
        std::lock_guard<std::mutex> g(g_mu);
        int dev = (int)dst.u32DevId;
        uint32_t chn = dst.u32ChnId;
        int layer = -1, port = 0;
        if (dev_ok(dst.u32DevId)) {
            if (chn < (uint32_t)kMaxPorts) {
                layer = g_layer[2].dev == dev && g_layer[0].dev != dev ? 2 : 0;
                port = (int)chn;
            } else if (chn == (uint32_t)kMaxPorts) {
                layer = g_layer[3].dev == dev && g_layer[1].dev != dev ? 3 : 1;
            }
        }
        if (layer < 0) {
            ++g_unrouted;
            return;
        }
        Layer &l = g_layer[layer];
        Port &p = l.ports[port];
        p.st.dev = dev;
        p.st.layer = layer;
        p.st.port = port;
        if (!p.enabled || !l.enabled || l.dev != dev || !g_dev[dev].enabled) {
            ++p.st.dropped;
            return;
        }
        ++p.st.frames;
        p.st.last_width = pic.width;
        p.st.last_height = pic.height;
        if (pic.width != p.attr.u16SrcWidth || pic.height != p.attr.u16SrcHeight) ++p.st.size_mismatch;

        Timing t;
        if (!dev_timing(dev, &t) || t.fps == 0) return;
        if (p.win_count == 0) {
            p.win_first_pts = pic.pts;
            p.win_count = 1;
            return;
        }
        ++p.win_count;
        if (p.win_count - 1 < t.fps) return;
        // (count - 1) intervals over the window's span.
        uint64_t span = pic.pts > p.win_first_pts ? pic.pts - p.win_first_pts : 0;
        double fps = span ? (double)(p.win_count - 1) * 1e6 / (double)span : 1e9;
        p.st.fps = fps;
        if (fps > t.fps * (1 + kRateTolerance) || fps < t.fps * (1 - kRateTolerance)) ++p.st.rate_mismatch;
        p.win_first_pts = pic.pts;
        p.win_count = 1;
    }
};

// ---- HDMI transmitter -----------------------------------------------------

class HdmiDriver : public Driver {
public:
    int ioctl(int, unsigned long code, void *payload, size_t) override {
        std::lock_guard<std::mutex> g(g_mu);
        Hdmi &h = g_hdmi;
        switch (code) {
        case MI_HDMI_INIT:
            h.inited = true;
            return 0;
        case MI_HDMI_DEINIT:
            h.inited = h.opened = h.started = false;
            return 0;
        default:
            break;
        }
        if (code != MI_HDMI_OPEN && code != MI_HDMI_CLOSE && code != MI_HDMI_SET_ATTR && code != MI_HDMI_GET_ATTR &&
            code != MI_HDMI_START && code != MI_HDMI_STOP && code != MI_HDMI_SET_AV_MUTE) {
            errno = ENOTTY;
            return -1;
        }
        // Every other request starts with the device id.
        uint32_t dev = *static_cast<MI_U32 *>(payload);
        if (dev >= (uint32_t)E_MI_HDMI_ID_MAX) return MI_HDMI_ERR_INVALID_DEVID;
        if (!h.inited) return MI_HDMI_ERR_SYS_NOTREADY;
        switch (code) {
        case MI_HDMI_OPEN:
            h.opened = true;
            return 0;
        case MI_HDMI_CLOSE:
            if (!h.opened) return MI_HDMI_ERR_NOT_ENABLE;
            h.opened = h.started = false;
            return 0;
        case MI_HDMI_SET_ATTR: {
            const MI_HDMI_Attr_t &a = static_cast<MI_HDMI_AttrArg_t *>(payload)->stAttr;
            if ((uint32_t)a.stVideoAttr.eTimingType >= E_MI_HDMI_TIMING_MAX ||
                (uint32_t)a.stVideoAttr.eOutputMode >= E_MI_HDMI_OUTPUT_MODE_MAX ||
                (uint32_t)a.stVideoAttr.eColorType >= E_MI_HDMI_COLOR_TYPE_MAX ||
                (uint32_t)a.stVideoAttr.eDeepColorMode >= E_MI_HDMI_DEEP_COLOR_MAX ||
                (uint32_t)a.stAudioAttr.eSampleRate >= E_MI_HDMI_AUDIO_SAMPLERATE_MAX ||
                (uint32_t)a.stAudioAttr.eCodeType >= E_MI_HDMI_ACODE_MAX)
                return MI_HDMI_ERR_ILLEGAL_PARAM;
            h.attr = a;
            h.attr_set = true;
            return 0;
        }
        case MI_HDMI_GET_ATTR: {
            auto *p = static_cast<MI_HDMI_AttrArg_t *>(payload);
            p->stAttr = h.attr;
            p->stAttr.bConnect = h.plugged ? 1 : 0;
            return 0;
        }
        case MI_HDMI_START:
            if (!h.opened) return MI_HDMI_ERR_NOT_ENABLE;
            if (!h.attr_set) return MI_HDMI_ERR_NOT_CONFIG;
            h.started = true;
            return 0;
        case MI_HDMI_STOP:
            h.started = false;
            return 0;
        case MI_HDMI_SET_AV_MUTE:
            if (!h.opened) return MI_HDMI_ERR_NOT_ENABLE;
            h.avmute = static_cast<MI_HDMI_SetAvMute_t *>(payload)->u32AvMute != 0;
            return 0;
        }
        return -1;  // not reached
    }
};

// ---- panel --------------------------------------------------------------

class PanelDriver : public Driver {
public:
    int ioctl(int, unsigned long code, void *payload, size_t) override {
        std::lock_guard<std::mutex> g(g_mu);
        switch (code) {
        case MI_PANEL_INIT: {
            uint32_t type = *static_cast<MI_U32 *>(payload);
            if (type > (uint32_t)E_MI_PNL_INTF_TTL_SPI_IF) return MI_PANEL_ERR_ILLEGAL_PARAM;
            g_panel.inited = true;
            g_panel.type = type;
            return 0;
        }
        case MI_PANEL_DEINIT:
            if (!g_panel.inited) return MI_PANEL_ERR_SYS_NOTREADY;
            g_panel.inited = false;
            return 0;
        default:
            errno = ENOTTY;
            return -1;
        }
    }
};

DispDriver g_disp_drv;
DispSink g_disp_sink;
HdmiDriver g_hdmi_drv;
PanelDriver g_panel_drv;

std::string fmt(const char *f, ...) __attribute__((format(printf, 1, 2)));
std::string fmt(const char *f, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, f);
    vsnprintf(buf, sizeof buf, f, ap);
    va_end(ap);
    return buf;
}

std::vector<PortStats> stats_locked() {
    std::vector<PortStats> out;
    for (int l = 0; l < kLayers; ++l)
        for (int p = 0; p < ports_of(l); ++p) {
            const Port &port = g_layer[l].ports[p];
            if (!port.enabled && port.st.frames == 0 && port.st.dropped == 0) continue;
            PortStats s = port.st;
            s.layer = l;
            s.port = p;
            if (s.dev < 0) s.dev = g_layer[l].dev;
            out.push_back(s);
        }
    return out;
}

}  // namespace

bool timing_of(uint32_t disp_output, Timing *t) {
    if (disp_output >= (uint32_t)E_MI_DISP_OUTPUT_USER) return false;
    *t = kTimings[disp_output];
    return true;
}

void hdmi_plug(bool plugged) {
    std::lock_guard<std::mutex> g(g_mu);
    g_hdmi.plugged = plugged;
}

bool hdmi_plugged() {
    std::lock_guard<std::mutex> g(g_mu);
    return g_hdmi.plugged;
}

std::vector<PortStats> stats() {
    std::lock_guard<std::mutex> g(g_mu);
    return stats_locked();
}

uint64_t unrouted() {
    std::lock_guard<std::mutex> g(g_mu);
    return g_unrouted;
}

void stats_clear() {
    std::lock_guard<std::mutex> g(g_mu);
    for (auto &l : g_layer)
        for (auto &p : l.ports) {
            p.st = PortStats{};
            reset_window(p);
        }
    g_unrouted = 0;
}

std::string stats_text() {
    std::lock_guard<std::mutex> g(g_mu);
    auto all = stats_locked();
    uint64_t frames = 0, size = 0, rate = 0, dropped = 0;
    for (auto &s : all) {
        frames += s.frames;
        size += s.size_mismatch;
        rate += s.rate_mismatch;
        dropped += s.dropped;
    }
    std::string out = fmt("frames %llu size_mismatch %llu rate_mismatch %llu dropped %llu unrouted %llu\n",
                          (unsigned long long)frames, (unsigned long long)size, (unsigned long long)rate,
                          (unsigned long long)dropped, (unsigned long long)g_unrouted);
    for (auto &s : all) {
        const Port &p = g_layer[s.layer].ports[s.port];
        Timing t;
        int dev = g_layer[s.layer].dev;
        if (dev < 0 || !dev_timing(dev, &t)) t = Timing{};
        out += fmt("dev %d layer %d port %d frames %llu size_mismatch %llu rate_mismatch %llu dropped %llu "
                   "fps %.2f size %ux%u expect %ux%u@%u\n",
                   s.dev, s.layer, s.port, (unsigned long long)s.frames, (unsigned long long)s.size_mismatch,
                   (unsigned long long)s.rate_mismatch, (unsigned long long)s.dropped, s.fps, s.last_width,
                   s.last_height, (unsigned)p.attr.u16SrcWidth, (unsigned)p.attr.u16SrcHeight, t.fps);
    }
    return out;
}

std::string state_text() {
    std::lock_guard<std::mutex> g(g_mu);
    std::string out;
    for (int d = 0; d < kDevs; ++d) {
        const Dev &dv = g_dev[d];
        Timing t;
        if (!dev_timing(d, &t)) t = Timing{};
        out += fmt("dev %d enabled %d intf %d timing %d %ux%u@%u\n", d, dv.enabled ? 1 : 0,
                   dv.attr_set ? (int)dv.attr.eIntfType : -1, dv.attr_set ? (int)dv.attr.eIntfSync : -1, t.width,
                   t.height, t.fps);
    }
    for (int l = 0; l < kLayers; ++l) {
        const Layer &ly = g_layer[l];
        out += fmt("layer %d dev %d enabled %d size %ux%u\n", l, ly.dev, ly.enabled ? 1 : 0,
                   ly.attr.stVidLayerSize.u16Width, ly.attr.stVidLayerSize.u16Height);
        for (int p = 0; p < ports_of(l); ++p) {
            const Port &pt = ly.ports[p];
            if (!pt.attr_set && !pt.enabled) continue;
            out += fmt("port %d/%d enabled %d win %u,%u,%ux%u src %ux%u\n", l, p, pt.enabled ? 1 : 0,
                       pt.attr.stDispWin.u16X, pt.attr.stDispWin.u16Y, pt.attr.stDispWin.u16Width,
                       pt.attr.stDispWin.u16Height, pt.attr.u16SrcWidth, pt.attr.u16SrcHeight);
        }
    }
    return out;
}

std::string hdmi_text() {
    std::lock_guard<std::mutex> g(g_mu);
    const Hdmi &h = g_hdmi;
    return fmt("cable %s init %d open %d started %d avmute %d timing %d\n", h.plugged ? "plugged" : "unplugged",
               h.inited ? 1 : 0, h.opened ? 1 : 0, h.started ? 1 : 0, h.avmute ? 1 : 0,
               h.attr_set ? (int)h.attr.stVideoAttr.eTimingType : -1);
}

std::string panel_text() {
    std::lock_guard<std::mutex> g(g_mu);
    return fmt("init %d type %u\n", g_panel.inited ? 1 : 0, g_panel.type);
}

void reset() {
    std::lock_guard<std::mutex> g(g_mu);
    for (auto &d : g_dev) d = Dev{};
    for (auto &l : g_layer) l = Layer{};
    bool plugged = g_hdmi.plugged;
    g_hdmi = Hdmi{};
    g_hdmi.plugged = plugged;
    g_panel = Panel{};
    g_unrouted = 0;
}

}  // namespace vb::display

void vb_install_display() {
    using namespace vb::display;
    vb::register_driver("/dev/mi_disp", &g_disp_drv);
    vb::register_driver("/dev/mi_hdmi", &g_hdmi_drv);
    vb::register_driver("/dev/mi_panel", &g_panel_drv);
    vb::register_sink(E_MI_MODULE_ID_DISP, &g_disp_sink);
    vb::register_ctl("hdmi", [](const std::vector<std::string> &a) {
        if (a.size() > 1 && a[1] == "plug") {
            hdmi_plug(true);
            return std::string("ok");
        }
        if (a.size() > 1 && a[1] == "unplug") {
            hdmi_plug(false);
            return std::string("ok");
        }
        if (a.size() > 1 && a[1] != "state") return std::string("error: hdmi [plug|unplug|state]");
        return hdmi_text();
    });
    vb::register_ctl("disp", [](const std::vector<std::string> &a) {
        std::string sub = a.size() > 1 ? a[1] : "stats";
        if (sub == "stats") return stats_text();
        if (sub == "stats-clear") {
            stats_clear();
            return std::string("ok");
        }
        if (sub == "state") return state_text();
        return std::string("error: disp [stats|stats-clear|state]");
    });
    vb::register_ctl("panel", [](const std::vector<std::string> &) { return panel_text(); });
}
