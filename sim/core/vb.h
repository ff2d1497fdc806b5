// The virtual board: media drivers that live in the vidrec process on the sim
// platform. Each device node is served by one Driver; every descriptor handed
// out is a real eventfd so select/poll/fork behave as on the board.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mi_common_datatype.h"

namespace vb {

class Driver {
public:
    virtual ~Driver() = default;
    // Called for every request whose payload size matched its code. `payload`
    // points at the caller's record (len bytes); for a code without payload
    // it is the raw ioctl argument and len is 0. Returns the driver result.
    virtual int ioctl(int fd, unsigned long code, void *payload, size_t len) = 0;
    virtual void on_open(int /*fd*/) {}
    virtual void on_close(int /*fd*/) {}
};

// Drivers register themselves from their vb_install_* function.
void register_driver(const char *node, Driver *drv);
Driver *driver_for(const char *node);

// Seam entry points (mi_node_* forward here on sim).
int open_node(const char *path, int flags);
int ioctl_node(int fd, unsigned long request, void *arg);
int close_node(int fd);
// Node path behind a descriptor handed out by open_node ("" if not ours).
std::string node_of(int fd);

// ---- trace and failure injection -------------------------------------
struct TraceEntry {
    std::string node;
    unsigned long code;
    std::vector<uint8_t> in;   // payload as the driver received it
    std::vector<uint8_t> out;  // payload after the driver answered
    int result;
};
std::vector<TraceEntry> trace();              // snapshot, oldest first
std::vector<TraceEntry> trace(const char *node);
void trace_clear();
void trace_enable(bool on);                   // on by default; bounded ring
// Make `code` on `node` answer `result` (without reaching the driver) for the
// next `times` requests (-1: until cleared).
void inject(const char *node, unsigned long code, int result, int times = -1);
void inject_clear();

// ---- board clock ------------------------------------------------------
// One clock for every time stamp on the board, in microseconds.
uint64_t pts_now();
void pts_set(uint64_t now_us);  // InitPtsBase / SyncPts

// ---- binding graph ----------------------------------------------------
struct Binding {
    MI_SYS_ChnPort_t src;
    MI_SYS_ChnPort_t dst;
    uint32_t src_fps;
    uint32_t dst_fps;
    uint32_t type;
    uint32_t param;
};
bool same_port(const MI_SYS_ChnPort_t &a, const MI_SYS_ChnPort_t &b);
int bind(const Binding &b);           // 0, or an error if dst already bound
int unbind(const MI_SYS_ChnPort_t &src, const MI_SYS_ChnPort_t &dst);
std::vector<Binding> bindings_from(const MI_SYS_ChnPort_t &src);
bool binding_to(const MI_SYS_ChnPort_t &dst, Binding *out);
std::vector<Binding> bindings();
// Called on every bind/unbind change (drivers that push frames use it).
void on_graph_change(std::function<void()> cb);

// ---- pollable ports ---------------------------------------------------
// A descriptor attached to a port is readable exactly while the port is ready.
void poll_attach(int fd, const MI_SYS_ChnPort_t &port);
void poll_detach(int fd);
bool poll_port_of(int fd, MI_SYS_ChnPort_t *port);
void port_set_ready(const MI_SYS_ChnPort_t &port, bool ready);
bool port_ready(const MI_SYS_ChnPort_t &port);
// A fresh pollable descriptor owned by a driver (eventfd), readable while ready.
int new_event_fd();
void event_fd_set(int fd, bool ready);

// ---- pictures through the binding graph --------------------------------
enum class PixFmt { UYVY422, NV12, I420 };
struct Picture {
    uint32_t width = 0, height = 0;
    PixFmt fmt = PixFmt::NV12;
    uint64_t pts = 0;  // board clock, us
    std::shared_ptr<const std::vector<uint8_t>> data;  // tightly packed planes
};
// A module that takes pictures on its input ports (scaler, encoder, display).
class FrameSink {
public:
    virtual ~FrameSink() = default;
    // Called on the producer's thread: copy or queue, never block long.
    virtual void deliver(const MI_SYS_ChnPort_t &dst, const Picture &pic) = 0;
};
void register_sink(MI_ModuleId_e mod, FrameSink *sink);
// Hand `pic` from output port `src` to every input bound to it (honouring the
// binding's source/destination frame rates). Returns how many took it.
int deliver_from(const MI_SYS_ChnPort_t &src, const Picture &pic);

// ---- output-port buffers (MI_SYS_ChnOutputPortGetBuf / PutBuf) -----------
// Served by the driver owning the port's module. Handles carry the module id in
// bits 24-30 so PutBuf can be routed: make them with make_handle().
class PortSource {
public:
    virtual ~PortSource() = default;
    // bufinfo points at the caller's 264-byte MI_SYS_BufInfo_t.
    virtual int get_buf(const MI_SYS_ChnPort_t &port, void *bufinfo, int32_t *handle) = 0;
    virtual int put_buf(int32_t handle) = 0;
};
void register_port_source(MI_ModuleId_e mod, PortSource *src);
PortSource *port_source(MI_ModuleId_e mod);
inline int32_t make_handle(MI_ModuleId_e mod, uint32_t idx) {
    return (int32_t)(((uint32_t)mod & 0x7f) << 24 | (idx & 0xffffff));
}
inline MI_ModuleId_e handle_module(int32_t h) { return (MI_ModuleId_e)(((uint32_t)h >> 24) & 0x7f); }

// ---- control from outside (system tests, the sandbox) -------------------
// A line-based control socket at <root_dir>/ctl.sock ("verb arg ...\n" ->
// reply text ending in "\n.\n"). Drivers add verbs; the core serves
// "trace [node]", "trace-clear", "inject node code result [times]",
// "inject-clear", "pts", "bindings", "ping".
using CtlHandler = std::function<std::string(const std::vector<std::string> &args)>;
void register_ctl(const char *verb, CtlHandler h);
std::string ctl_exec(const std::string &line);  // same as a socket request, in-process

// Lower-case hex of bytes (control-socket replies).
std::string to_hex(const std::vector<uint8_t> &v);

// Name the calling thread ("vb-...").
void name_thread(const char *name);

// Board directory for files the board itself keeps (debug levels, audio out,
// ...): $VB_ROOT, else "/tmp/vb".
const std::string &root_dir();

}  // namespace vb

// One per driver family; each is defined in its own folder under sim/.
void vb_install_sys();
void vb_install_capture();  // vif, isp, scl, isp_fe
void vb_install_venc();
void vb_install_display();  // disp, hdmi, panel
void vb_install_audio();    // ai, ao
