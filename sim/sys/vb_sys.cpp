// Virtual system driver: binding graph, board clock, device memory, output
// port buffers routed to the owning module's driver, pollable port
// descriptors, version text and the chip's unique id.
#include "vb_sys.h"

#include <errno.h>
#include <stdlib.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>

#include <array>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "../../sdk/interface/src/sys/mi_sys_ioctl.h"
#include "vb.h"

namespace vb {
namespace {

constexpr uint64_t kDefaultUuid = 0x0123456789ABCDEFull;
constexpr uint64_t kPhysBase = 0x20000000ull;
constexpr size_t kMemSize = 64u << 20;
constexpr size_t kPage = 4096;
const char kVersion[] = "vb_mi_sys 1.0.0 (virtual board)";

bool valid_port(const MI_SYS_ChnPort_t &p) { return (uint32_t)p.eModId < (uint32_t)E_MI_MODULE_ID_MAX; }

using PortKey = std::array<uint32_t, 4>;
PortKey port_key(const MI_SYS_ChnPort_t &p) { return {(uint32_t)p.eModId, p.u32DevId, p.u32ChnId, p.u32PortId}; }

struct SysState {
    std::mutex mu;
    uint64_t uuid = kDefaultUuid;
    uint8_t *mem = nullptr;
    std::map<size_t, size_t> allocs;    // offset -> size
    std::map<uintptr_t, int> mappings;  // mapped address -> open mappings
    std::map<PortKey, std::pair<uint32_t, uint32_t>> depth;
    std::map<PortKey, int> port_fd;    // held or recorded descriptors
    std::map<uintptr_t, MI_SYS_ChnPort_t> tokens;
    uintptr_t next_token = 0x1000;
    int inits = 0;
};

SysState &ss() {
    static SysState *s = new SysState;  // outlives static destruction: driver threads may call in late
    return *s;
}

uint8_t *area_locked() {
    SysState &s = ss();
    if (!s.mem) {
        void *p = mmap(nullptr, kMemSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        s.mem = p == MAP_FAILED ? nullptr : static_cast<uint8_t *>(p);
    }
    return s.mem;
}

bool in_area(const uint8_t *mem, uintptr_t addr, uint64_t len) {
    uintptr_t base = (uintptr_t)mem;
    return mem && addr >= base && len <= kMemSize && addr - base <= kMemSize - len;
}

class SysDriver : public Driver {
public:
    int ioctl(int, unsigned long code, void *payload, size_t) override {
        switch (code) {
            case MI_SYS_IOC_INIT:
            case MI_SYS_IOC_EXIT: {
                std::lock_guard<std::mutex> g(ss().mu);
                ss().inits += code == MI_SYS_IOC_INIT ? 1 : -1;
                return 0;
            }
            case MI_SYS_IOC_BIND_CHN_PORT: return do_bind(*static_cast<MI_SYS_ChnPortArg_t *>(payload));
            case MI_SYS_IOC_UNBIND_CHN_PORT: {
                auto *a = static_cast<MI_SYS_ChnPortArg_t *>(payload);
                return unbind(a->stSrcChnPort, a->stDstChnPort) == 0 ? 0 : (int)MI_SYS_ERR_UNEXIST;
            }
            case MI_SYS_IOC_GET_VERSION: {
                auto *v = static_cast<MI_SYS_Version_t *>(payload);
                memset(v, 0, sizeof *v);
                memcpy(v->u8Version, kVersion, sizeof kVersion);
                return 0;
            }
            case MI_SYS_IOC_GET_CUR_PTS: {
                uint64_t now = pts_now();
                memcpy(payload, &now, sizeof now);
                return 0;
            }
            case MI_SYS_IOC_INIT_PTS_BASE:
            case MI_SYS_IOC_SYNC_PTS: {
                uint64_t v;
                memcpy(&v, payload, sizeof v);
                pts_set(v);
                return 0;
            }
            case MI_SYS_IOC_MMAP: return do_mmap(*static_cast<MI_SYS_Mmap_t *>(payload));
            case MI_SYS_IOC_MUNMAP: return do_munmap(*static_cast<MI_SYS_Munmap_t *>(payload));
            case MI_SYS_IOC_FLUSH_INV_CACHE: {
                auto *f = static_cast<MI_SYS_FlushInvCache_t *>(payload);
                std::lock_guard<std::mutex> g(ss().mu);
                if (!in_area(area_locked(), (uintptr_t)f->pVirtualAddress, f->length))
                    return (int)MI_SYS_ERR_ILLEGAL_PARAM;
                __atomic_thread_fence(__ATOMIC_SEQ_CST);
                return 0;
            }
            case MI_SYS_IOC_GET_OUTPUT_BUF: {
                auto *r = static_cast<MI_SYS_ChnOutputPortGetBuf_t *>(payload);
                if (!valid_port(r->stChnPort)) return (int)MI_SYS_ERR_ILLEGAL_PARAM;
                PortSource *src = port_source(r->stChnPort.eModId);
                if (!src) return (int)MI_SYS_ERR_NOT_CONFIG;
                return src->get_buf(r->stChnPort, &r->stBufInfo, &r->BufHandle);
            }
            case MI_SYS_IOC_PUT_OUTPUT_BUF: {
                int32_t h;
                memcpy(&h, payload, sizeof h);
                PortSource *src = port_source(handle_module(h));
                if (!src) return (int)MI_SYS_ERR_ILLEGAL_PARAM;
                return src->put_buf(h);
            }
            case MI_SYS_IOC_SET_OUTPUT_DEPTH: {
                auto *d = static_cast<MI_SYS_SetChnOutputPortDepth_t *>(payload);
                if (!valid_port(d->stChnPort)) return (int)MI_SYS_ERR_ILLEGAL_PARAM;
                std::lock_guard<std::mutex> g(ss().mu);
                ss().depth[port_key(d->stChnPort)] = {d->u32UserFrameDepth, d->u32BufQueueDepth};
                return 0;
            }
            case MI_SYS_IOC_GET_FD: {
                auto *pf = static_cast<MI_SYS_ChnPort_Fd_t *>(payload);
                std::lock_guard<std::mutex> g(ss().mu);
                auto it = ss().port_fd.find(port_key(pf->stChnPort));
                if (it == ss().port_fd.end()) return (int)MI_SYS_ERR_UNEXIST;
                pf->s32Fd = it->second;
                return 0;
            }
            case MI_SYS_IOC_GET_POLL_DATA: {
                auto *pd = static_cast<MI_SYS_GetPollData_t *>(payload);
                if (!valid_port(pd->stChnPort)) return (int)MI_SYS_ERR_ILLEGAL_PARAM;
                std::lock_guard<std::mutex> g(ss().mu);
                uintptr_t token = 0;
                for (auto &t : ss().tokens)
                    if (same_port(t.second, pd->stChnPort)) token = t.first;
                if (!token) {
                    token = ss().next_token;
                    ss().next_token += 0x10;
                    ss().tokens[token] = pd->stChnPort;
                }
                pd->pPrivateData = reinterpret_cast<void *>(token);
                return 0;
            }
            case MI_SYS_IOC_SET_FD: {
                auto *pf = static_cast<MI_SYS_ChnPort_Fd_t *>(payload);
                MI_SYS_ChnPort_t attached;
                if (!poll_port_of(pf->s32Fd, &attached) || !same_port(attached, pf->stChnPort))
                    return (int)MI_SYS_ERR_ILLEGAL_PARAM;
                std::lock_guard<std::mutex> g(ss().mu);
                ss().port_fd[port_key(pf->stChnPort)] = pf->s32Fd;
                return 0;
            }
            case MI_SYS_IOC_CLOSE_FD: {
                int32_t fd;
                memcpy(&fd, payload, sizeof fd);
                poll_detach(fd);
                std::lock_guard<std::mutex> g(ss().mu);
                for (auto it = ss().port_fd.begin(); it != ss().port_fd.end();)
                    it = it->second == fd ? ss().port_fd.erase(it) : std::next(it);
                return 0;
            }
            case MI_SYS_IOC_READ_UUID: {
                uint64_t u = sys_uuid();
                memcpy(payload, &u, sizeof u);
                return 0;
            }
            default: errno = ENOTTY; return -1;
        }
    }

private:
    static int do_bind(const MI_SYS_ChnPortArg_t &a) {
        if (!valid_port(a.stSrcChnPort) || !valid_port(a.stDstChnPort)) return (int)MI_SYS_ERR_ILLEGAL_PARAM;
        Binding b{a.stSrcChnPort, a.stDstChnPort, a.u32SrcFrmrate, a.u32DstFrmrate, (uint32_t)a.eBindType,
                  a.u32BindParam};
        // An input takes one source only.
        return bind(b) == 0 ? 0 : (int)MI_SYS_ERR_ILLEGAL_PARAM;
    }

    static int do_mmap(MI_SYS_Mmap_t &m) {
        std::lock_guard<std::mutex> g(ss().mu);
        uint8_t *mem = area_locked();
        m.pVirtualAddress = nullptr;
        if (!mem) return (int)MI_SYS_ERR_NOMEM;
        if (m.u32Size == 0 || m.phyAddr < kPhysBase || m.phyAddr - kPhysBase > kMemSize - m.u32Size)
            return (int)MI_SYS_ERR_ILLEGAL_PARAM;
        uint8_t *va = mem + (m.phyAddr - kPhysBase);
        ss().mappings[(uintptr_t)va]++;
        m.pVirtualAddress = va;
        return 0;
    }

    static int do_munmap(const MI_SYS_Munmap_t &m) {
        std::lock_guard<std::mutex> g(ss().mu);
        auto it = ss().mappings.find((uintptr_t)m.pVirtualAddress);
        if (it == ss().mappings.end()) return (int)MI_SYS_ERR_ILLEGAL_PARAM;
        if (--it->second == 0) ss().mappings.erase(it);
        return 0;
    }
};

// "/dev/mi_poll": ioctl(fd, 0, token) attaches the descriptor to the port the
// token was given for.
class PollDriver : public Driver {
public:
    int ioctl(int fd, unsigned long code, void *payload, size_t len) override {
        if (code != 0 || len != 0) {
            errno = ENOTTY;
            return -1;
        }
        MI_SYS_ChnPort_t port;
        {
            std::lock_guard<std::mutex> g(ss().mu);
            auto it = ss().tokens.find(reinterpret_cast<uintptr_t>(payload));
            if (it == ss().tokens.end()) {
                errno = EINVAL;
                return -1;
            }
            port = it->second;
        }
        poll_attach(fd, port);
        return 0;
    }
    void on_close(int fd) override {
        std::lock_guard<std::mutex> g(ss().mu);
        for (auto it = ss().port_fd.begin(); it != ss().port_fd.end();)
            it = it->second == fd ? ss().port_fd.erase(it) : std::next(it);
    }
};

SysDriver g_sys;
PollDriver g_poll;

}  // namespace

void sys_set_uuid(uint64_t uuid) {
    std::lock_guard<std::mutex> g(ss().mu);
    ss().uuid = uuid;
}

uint64_t sys_uuid() {
    std::lock_guard<std::mutex> g(ss().mu);
    return ss().uuid;
}

uint64_t sys_mem_alloc(size_t size) {
    if (size == 0 || size > kMemSize) return 0;
    size = (size + kPage - 1) / kPage * kPage;
    std::lock_guard<std::mutex> g(ss().mu);
    if (!area_locked()) return 0;
    size_t off = 0;
    for (auto &a : ss().allocs) {
        if (a.first - off >= size) break;
        off = a.first + a.second;
    }
    if (off + size > kMemSize) return 0;
    ss().allocs[off] = size;
    return kPhysBase + off;
}

void sys_mem_free(uint64_t phy) {
    if (phy < kPhysBase) return;
    std::lock_guard<std::mutex> g(ss().mu);
    ss().allocs.erase((size_t)(phy - kPhysBase));
}

void *sys_phys_to_virt(uint64_t phy) {
    std::lock_guard<std::mutex> g(ss().mu);
    uint8_t *mem = area_locked();
    if (!mem || phy < kPhysBase || phy - kPhysBase >= kMemSize) return nullptr;
    return mem + (phy - kPhysBase);
}

uint64_t sys_mem_base() { return kPhysBase; }
size_t sys_mem_size() { return kMemSize; }

bool sys_port_depth(const MI_SYS_ChnPort_t &port, uint32_t *user_depth, uint32_t *queue_depth) {
    std::lock_guard<std::mutex> g(ss().mu);
    auto it = ss().depth.find(port_key(port));
    if (it == ss().depth.end()) return false;
    if (user_depth) *user_depth = it->second.first;
    if (queue_depth) *queue_depth = it->second.second;
    return true;
}

void sys_hold_port_fd(const MI_SYS_ChnPort_t &port, int fd) {
    std::lock_guard<std::mutex> g(ss().mu);
    if (fd < 0)
        ss().port_fd.erase(port_key(port));
    else
        ss().port_fd[port_key(port)] = fd;
}

int sys_port_fd(const MI_SYS_ChnPort_t &port) {
    std::lock_guard<std::mutex> g(ss().mu);
    auto it = ss().port_fd.find(port_key(port));
    return it == ss().port_fd.end() ? -1 : it->second;
}

const char *sys_version_text() { return kVersion; }

}  // namespace vb

void vb_install_sys() {
    // A board's chip id is fixed before any program runs: "$VB_ROOT/uuid".
    if (FILE *f = fopen((vb::root_dir() + "/uuid").c_str(), "r")) {
        char txt[40] = "";
        if (fgets(txt, sizeof txt, f)) vb::sys_set_uuid(strtoull(txt, nullptr, 0));
        fclose(f);
    }
    vb::register_driver("/dev/mi_sys", &vb::g_sys);
    vb::register_driver("/dev/mi_poll", &vb::g_poll);
    vb::register_ctl("uuid", [](const std::vector<std::string> &a) {
        if (a.size() > 1) {
            char *end = nullptr;
            errno = 0;
            unsigned long long v = strtoull(a[1].c_str(), &end, 0);
            if (errno || !end || *end) return std::string("error: uuid <value>");
            vb::sys_set_uuid(v);
        }
        char buf[32];
        snprintf(buf, sizeof buf, "0x%016llx", (unsigned long long)vb::sys_uuid());
        return std::string(buf);
    });
}
