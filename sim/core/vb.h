// The virtual board: media drivers that live in the vidrec process on the sim
// platform. Each device node is served by one Driver; every descriptor handed
// out is a real eventfd so select/poll/fork behave as on the board.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <functional>
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
