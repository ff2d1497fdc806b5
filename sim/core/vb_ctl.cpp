// Picture delivery through the binding graph, output-port buffer routing, and
// the control socket through which tests steer a running board.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "vb.h"

namespace vb {
namespace {

std::mutex g_mu;
std::map<int, FrameSink *> g_sinks;
std::map<int, PortSource *> g_sources;
std::map<std::string, CtlHandler> g_ctl;
// Frame-rate conversion state per binding: accumulator of dst/src credit.
std::map<std::string, uint32_t> g_rate_acc;

std::string port_str(const MI_SYS_ChnPort_t &p) {
    char b[64];
    snprintf(b, sizeof b, "%d/%u/%u/%u", (int)p.eModId, p.u32DevId, p.u32ChnId, p.u32PortId);
    return b;
}

std::vector<std::string> split(const std::string &line) {
    std::vector<std::string> out;
    std::istringstream is(line);
    std::string w;
    while (is >> w) out.push_back(w);
    return out;
}

void register_core_verbs() {
    register_ctl("ping", [](const std::vector<std::string> &) { return std::string("pong"); });
    register_ctl("pts", [](const std::vector<std::string> &) { return std::to_string(pts_now()); });
    register_ctl("trace", [](const std::vector<std::string> &a) {
        std::string out;
        auto t = a.size() > 1 ? trace(a[1].c_str()) : trace();
        for (auto &e : t) {
            char head[96];
            snprintf(head, sizeof head, "%s 0x%08lx %d ", e.node.c_str(), e.code, e.result);
            out += head + to_hex(e.in) + " " + to_hex(e.out) + "\n";
        }
        return out;
    });
    register_ctl("trace-clear", [](const std::vector<std::string> &) {
        trace_clear();
        return std::string("ok");
    });
    register_ctl("inject", [](const std::vector<std::string> &a) {
        if (a.size() < 4) return std::string("error: inject node code result [times]");
        int times = a.size() > 4 ? atoi(a[4].c_str()) : -1;
        inject(a[1].c_str(), strtoul(a[2].c_str(), nullptr, 0), (int)strtoll(a[3].c_str(), nullptr, 0), times);
        return std::string("ok");
    });
    register_ctl("inject-clear", [](const std::vector<std::string> &) {
        inject_clear();
        return std::string("ok");
    });
    register_ctl("bindings", [](const std::vector<std::string> &) {
        std::string out;
        for (auto &b : bindings())
            out += port_str(b.src) + " -> " + port_str(b.dst) + " " + std::to_string(b.src_fps) + "/" +
                   std::to_string(b.dst_fps) + "\n";
        return out;
    });
}

void serve_client(int c) {
    std::string buf;
    char tmp[4096];
    for (;;) {
        size_t nl;
        while ((nl = buf.find('\n')) != std::string::npos) {
            std::string line = buf.substr(0, nl);
            buf.erase(0, nl + 1);
            std::string reply = ctl_exec(line);
            if (reply.empty() || reply.back() != '\n') reply += '\n';
            reply += ".\n";
            size_t off = 0;
            while (off < reply.size()) {
                ssize_t w = send(c, reply.data() + off, reply.size() - off, MSG_NOSIGNAL);
                if (w <= 0) return;
                off += (size_t)w;
            }
        }
        ssize_t n = recv(c, tmp, sizeof tmp, 0);
        if (n <= 0) return;
        buf.append(tmp, (size_t)n);
    }
}

void ctl_thread(int ls) {
    name_thread("vb-ctl");
    for (;;) {
        int c = accept(ls, nullptr, nullptr);
        if (c < 0) {
            if (errno == EINTR) continue;
            return;
        }
        std::thread([c] {
            name_thread("vb-ctl-client");
            serve_client(c);
            close(c);
        }).detach();
    }
}

}  // namespace

std::string to_hex(const std::vector<uint8_t> &v) {
    static const char *d = "0123456789abcdef";
    std::string s;
    s.reserve(v.size() * 2);
    for (uint8_t b : v) {
        s += d[b >> 4];
        s += d[b & 15];
    }
    return s;
}

void register_sink(MI_ModuleId_e mod, FrameSink *sink) {
    std::lock_guard<std::mutex> g(g_mu);
    g_sinks[(int)mod] = sink;
}

int deliver_from(const MI_SYS_ChnPort_t &src, const Picture &pic) {
    int n = 0;
    for (const Binding &b : bindings_from(src)) {
        FrameSink *sink;
        bool take = true;
        {
            std::lock_guard<std::mutex> g(g_mu);
            auto it = g_sinks.find((int)b.dst.eModId);
            sink = it == g_sinks.end() ? nullptr : it->second;
            if (b.src_fps > 0 && b.dst_fps > 0 && b.dst_fps < b.src_fps) {
                // Keep dst_fps out of every src_fps pictures, evenly spread.
                uint32_t &acc = g_rate_acc[port_str(b.src) + ">" + port_str(b.dst)];
                acc += b.dst_fps;
                if (acc >= b.src_fps)
                    acc -= b.src_fps;
                else
                    take = false;
            }
        }
        if (sink && take) {
            sink->deliver(b.dst, pic);
            ++n;
        }
    }
    return n;
}

void register_port_source(MI_ModuleId_e mod, PortSource *src) {
    std::lock_guard<std::mutex> g(g_mu);
    g_sources[(int)mod] = src;
}

PortSource *port_source(MI_ModuleId_e mod) {
    std::lock_guard<std::mutex> g(g_mu);
    auto it = g_sources.find((int)mod);
    return it == g_sources.end() ? nullptr : it->second;
}

void register_ctl(const char *verb, CtlHandler h) {
    std::lock_guard<std::mutex> g(g_mu);
    g_ctl[verb] = std::move(h);
}

std::string ctl_exec(const std::string &line) {
    auto args = split(line);
    if (args.empty()) return "error: empty";
    CtlHandler h;
    {
        std::lock_guard<std::mutex> g(g_mu);
        auto it = g_ctl.find(args[0]);
        if (it == g_ctl.end()) return "error: unknown verb " + args[0];
        h = it->second;
    }
    return h(args);
}

// Called once when the board comes up (first open of a media node).
void start_ctl() {
    register_core_verbs();
    std::string dir = root_dir();
    mkdir(dir.c_str(), 0755);
    std::string path = dir + "/ctl.sock";
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    if (path.size() >= sizeof sa.sun_path) return;
    memcpy(sa.sun_path, path.c_str(), path.size() + 1);
    int ls = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (ls < 0) return;
    unlink(path.c_str());
    if (::bind(ls, (sockaddr *)&sa, sizeof sa) < 0 || listen(ls, 8) < 0) {
        close(ls);
        return;
    }
    std::thread(ctl_thread, ls).detach();
}

}  // namespace vb
