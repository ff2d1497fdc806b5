#include "vb.h"

#include <errno.h>
#include <linux/ioctl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <deque>
#include <map>
#include <mutex>

#include "mi_seam.h"

namespace vb {
void start_ctl();
namespace {

struct ArgRecord {  // the library's 16-byte ioctl argument record
    int32_t len;
    uint32_t reserved;
    uint64_t addr;
};

struct Injection {
    std::string node;
    unsigned long code;
    int result;
    int times;
};

struct State {
    std::mutex mu;
    std::map<std::string, Driver *> drivers;
    std::map<int, std::string> fds;  // descriptor -> node
    std::deque<TraceEntry> trace;
    bool trace_on = true;
    std::vector<Injection> inject;
    int64_t pts_offset = 0;
    std::vector<Binding> graph;
    std::vector<std::function<void()>> graph_cbs;
    std::map<int, MI_SYS_ChnPort_t> poll_fds;
    std::vector<std::pair<MI_SYS_ChnPort_t, bool>> ready;
};

State &st() {
    static State *s = new State;  // lives past static destruction: driver threads may still call in
    return *s;
}

constexpr size_t kTraceMax = 20000;

// "$VB_ROOT/inject": failures armed before the program starts, one
// "node code result [times]" per line (for programs that run only briefly).
void load_board_injections() {
    std::string path = root_dir() + "/inject";
    FILE *f = fopen(path.c_str(), "r");
    if (!f) return;
    char node[128];
    unsigned long code;
    long long result;
    char line[256];
    while (fgets(line, sizeof line, f)) {
        int times = -1;
        if (sscanf(line, "%127s %li %lli %d", node, &code, &result, &times) >= 3)
            st().inject.push_back({node, code, (int)result, times});
    }
    fclose(f);
}

void install_once() {
    static std::once_flag once;
    std::call_once(once, [] {
        load_board_injections();
        start_ctl();
        vb_install_sys();
        vb_install_capture();
        vb_install_venc();
        vb_install_display();
        vb_install_audio();
    });
}

uint64_t mono_us() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000000ull + (uint64_t)ts.tv_nsec / 1000;
}

void set_fd_ready(int fd, bool ready) {
    if (ready) {
        uint64_t one = 1;
        // Keep the counter at most 1: drain first, then add.
        uint64_t v;
        while (read(fd, &v, sizeof v) == (ssize_t)sizeof v) {
        }
        (void)!write(fd, &one, sizeof one);
    } else {
        uint64_t v;
        while (read(fd, &v, sizeof v) == (ssize_t)sizeof v) {
        }
    }
}

}  // namespace

void register_driver(const char *node, Driver *drv) {
    std::lock_guard<std::mutex> g(st().mu);
    st().drivers[node] = drv;
}

Driver *driver_for(const char *node) {
    install_once();
    std::lock_guard<std::mutex> g(st().mu);
    auto it = st().drivers.find(node);
    return it == st().drivers.end() ? nullptr : it->second;
}

int open_node(const char *path, int /*flags*/) {
    Driver *d = driver_for(path);
    if (!d) {
        errno = ENOENT;
        return -1;
    }
    int fd = eventfd(0, EFD_NONBLOCK);
    if (fd < 0) return -1;
    {
        std::lock_guard<std::mutex> g(st().mu);
        st().fds[fd] = path;
    }
    d->on_open(fd);
    return fd;
}

std::string node_of(int fd) {
    std::lock_guard<std::mutex> g(st().mu);
    auto it = st().fds.find(fd);
    return it == st().fds.end() ? std::string() : it->second;
}

int ioctl_node(int fd, unsigned long request, void *arg) {
    std::string node = node_of(fd);
    if (node.empty()) return ::ioctl(fd, request, arg);  // not a media node
    Driver *d = driver_for(node.c_str());

    size_t size = _IOC_SIZE(request);
    void *payload = arg;
    size_t len = 0;
    if (size != 0) {
        auto *a = static_cast<ArgRecord *>(arg);
        // A driver refuses a request whose record does not match its code.
        if (!a || a->len < 0 || (size_t)a->len != size || a->addr == 0) {
            errno = EINVAL;
            std::lock_guard<std::mutex> g(st().mu);
            if (st().trace_on) {
                st().trace.push_back({node, request, {}, {}, -1});
                if (st().trace.size() > kTraceMax) st().trace.pop_front();
            }
            return -1;
        }
        payload = reinterpret_cast<void *>(static_cast<uintptr_t>(a->addr));
        len = size;
    }

    TraceEntry te{node, request, {}, {}, 0};
    bool injected = false;
    bool tracing;
    {
        std::lock_guard<std::mutex> g(st().mu);
        tracing = st().trace_on;
        for (auto it = st().inject.begin(); it != st().inject.end(); ++it) {
            if (it->code == request && it->node == node) {
                te.result = it->result;
                injected = true;
                if (it->times > 0 && --it->times == 0) st().inject.erase(it);
                break;
            }
        }
    }
    if (tracing && len) te.in.assign((uint8_t *)payload, (uint8_t *)payload + len);
    if (!injected) te.result = d->ioctl(fd, request, payload, len);
    if (tracing) {
        if (len) te.out.assign((uint8_t *)payload, (uint8_t *)payload + len);
        std::lock_guard<std::mutex> g(st().mu);
        st().trace.push_back(std::move(te));
        if (st().trace.size() > kTraceMax) st().trace.pop_front();
        return st().trace.back().result;
    }
    return te.result;
}

int close_node(int fd) {
    std::string node = node_of(fd);
    if (!node.empty()) {
        if (Driver *d = driver_for(node.c_str())) d->on_close(fd);
        poll_detach(fd);
        std::lock_guard<std::mutex> g(st().mu);
        st().fds.erase(fd);
    }
    return ::close(fd);
}

std::vector<TraceEntry> trace() {
    std::lock_guard<std::mutex> g(st().mu);
    return {st().trace.begin(), st().trace.end()};
}

std::vector<TraceEntry> trace(const char *node) {
    std::vector<TraceEntry> out;
    std::lock_guard<std::mutex> g(st().mu);
    for (auto &e : st().trace)
        if (e.node == node) out.push_back(e);
    return out;
}

void trace_clear() {
    std::lock_guard<std::mutex> g(st().mu);
    st().trace.clear();
}

void trace_enable(bool on) {
    std::lock_guard<std::mutex> g(st().mu);
    st().trace_on = on;
}

void inject(const char *node, unsigned long code, int result, int times) {
    std::lock_guard<std::mutex> g(st().mu);
    st().inject.push_back({node, code, result, times});
}

void inject_clear() {
    std::lock_guard<std::mutex> g(st().mu);
    st().inject.clear();
}

uint64_t pts_now() {
    int64_t off = __atomic_load_n(&st().pts_offset, __ATOMIC_ACQUIRE);
    return (uint64_t)((int64_t)mono_us() + off);
}

void pts_set(uint64_t now_us) {
    __atomic_store_n(&st().pts_offset, (int64_t)now_us - (int64_t)mono_us(), __ATOMIC_RELEASE);
}

bool same_port(const MI_SYS_ChnPort_t &a, const MI_SYS_ChnPort_t &b) {
    return a.eModId == b.eModId && a.u32DevId == b.u32DevId && a.u32ChnId == b.u32ChnId &&
           a.u32PortId == b.u32PortId;
}

int bind(const Binding &b) {
    std::vector<std::function<void()>> cbs;
    {
        std::lock_guard<std::mutex> g(st().mu);
        for (auto &e : st().graph)
            if (same_port(e.dst, b.dst)) return -1;  // an input has one source
        st().graph.push_back(b);
        cbs = st().graph_cbs;
    }
    for (auto &cb : cbs) cb();
    return 0;
}

int unbind(const MI_SYS_ChnPort_t &src, const MI_SYS_ChnPort_t &dst) {
    std::vector<std::function<void()>> cbs;
    {
        std::lock_guard<std::mutex> g(st().mu);
        auto &gr = st().graph;
        size_t before = gr.size();
        for (auto it = gr.begin(); it != gr.end();) {
            if (same_port(it->src, src) && same_port(it->dst, dst))
                it = gr.erase(it);
            else
                ++it;
        }
        if (gr.size() == before) return -1;
        cbs = st().graph_cbs;
    }
    for (auto &cb : cbs) cb();
    return 0;
}

std::vector<Binding> bindings_from(const MI_SYS_ChnPort_t &src) {
    std::vector<Binding> out;
    std::lock_guard<std::mutex> g(st().mu);
    for (auto &e : st().graph)
        if (same_port(e.src, src)) out.push_back(e);
    return out;
}

bool binding_to(const MI_SYS_ChnPort_t &dst, Binding *out) {
    std::lock_guard<std::mutex> g(st().mu);
    for (auto &e : st().graph)
        if (same_port(e.dst, dst)) {
            if (out) *out = e;
            return true;
        }
    return false;
}

std::vector<Binding> bindings() {
    std::lock_guard<std::mutex> g(st().mu);
    return st().graph;
}

void on_graph_change(std::function<void()> cb) {
    std::lock_guard<std::mutex> g(st().mu);
    st().graph_cbs.push_back(std::move(cb));
}

void poll_attach(int fd, const MI_SYS_ChnPort_t &port) {
    bool ready;
    {
        std::lock_guard<std::mutex> g(st().mu);
        st().poll_fds[fd] = port;
        ready = false;
        for (auto &r : st().ready)
            if (same_port(r.first, port)) ready = r.second;
    }
    set_fd_ready(fd, ready);
}

void poll_detach(int fd) {
    std::lock_guard<std::mutex> g(st().mu);
    st().poll_fds.erase(fd);
}

bool poll_port_of(int fd, MI_SYS_ChnPort_t *port) {
    std::lock_guard<std::mutex> g(st().mu);
    auto it = st().poll_fds.find(fd);
    if (it == st().poll_fds.end()) return false;
    if (port) *port = it->second;
    return true;
}

void port_set_ready(const MI_SYS_ChnPort_t &port, bool ready) {
    std::lock_guard<std::mutex> g(st().mu);
    bool found = false;
    for (auto &r : st().ready)
        if (same_port(r.first, port)) {
            r.second = ready;
            found = true;
        }
    if (!found) st().ready.push_back({port, ready});
    for (auto &p : st().poll_fds)
        if (same_port(p.second, port)) set_fd_ready(p.first, ready);
}

bool port_ready(const MI_SYS_ChnPort_t &port) {
    std::lock_guard<std::mutex> g(st().mu);
    for (auto &r : st().ready)
        if (same_port(r.first, port)) return r.second;
    return false;
}

int new_event_fd() { return eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }
void event_fd_set(int fd, bool ready) { set_fd_ready(fd, ready); }

void name_thread(const char *name) {
    char buf[16];
    snprintf(buf, sizeof buf, "%s", name);
    pthread_setname_np(pthread_self(), buf);
}

const std::string &root_dir() {
    static const std::string r = [] {
        const char *e = getenv("VB_ROOT");
        return std::string(e && *e ? e : "/tmp/vb");
    }();
    return r;
}

}  // namespace vb

extern "C" int mi_node_open(const char *path, int flags) { return vb::open_node(path, flags); }
extern "C" int mi_node_ioctl(int fd, unsigned long request, void *arg) { return vb::ioctl_node(fd, request, arg); }
extern "C" int mi_node_close(int fd) { return vb::close_node(fd); }
extern "C" const char *mi_debug_level_root(void) {
    static const std::string p = vb::root_dir() + "/proc/mi_modules";
    return p.c_str();
}
