// A scripted stand-in for "/dev/mi_venc": hands out the ring records a test
// queues, counts what the library returns, and answers parameter calls from
// a small store. Installed over the virtual encoder for the library's tests.
#pragma once
#include <string.h>

#include <deque>
#include <mutex>
#include <vector>

#include "mi_sys_ioctl.h"
#include "mi_venc_ioctl.h"
#include "vb.h"
#include "vb_sys.h"

namespace venc_test {

struct FakeVenc : vb::Driver {
    static constexpr uint32_t kRingSize = 64 * 1024;
    std::mutex mu;
    uint32_t handle = 0x4201;
    uint64_t pa = 0;
    uint8_t *va = nullptr;
    std::deque<MI_VENC_RingPoolGetHeadRecord_t> script;
    int head_calls = 0, release_head = 0, get_stream = 0, release_stream = 0;
    int outstanding = 0;  // records handed out and not returned
    uint32_t max_cnt = 10;
    int fail_head_after = -1;  // head requests that pass before one fails
    int fail_head_code = 0;
    MI_VENC_ParamH264Vui_t vui{};

    FakeVenc() {
        pa = vb::sys_mem_alloc(kRingSize);
        va = static_cast<uint8_t *>(vb::sys_phys_to_virt(pa));
    }

    // Queues one record for `bytes` placed at `off` in the ring.
    void queue(uint32_t off, const std::vector<uint8_t> &bytes, uint64_t flags, uint64_t pts, uint64_t seq,
               bool eos = false) {
        memcpy(va + off, bytes.data(), bytes.size());
        MI_VENC_RingPoolGetHeadRecord_t r;
        memset(&r, 0, sizeof r);
        r.u64ExtFlags = flags;
        r.u64Pts = pts;
        r.u64SeqNum = seq;
        r.bEndOfStream = eos;
        r.PA = pa + off;
        r.u32Length = (uint32_t)bytes.size();
        r.u8PicQP = 31;
        r.s32PocNum = 4;
        r.u32Gradient = 9;
        std::lock_guard<std::mutex> g(mu);
        script.push_back(r);
    }
    void queue_raw(const MI_VENC_RingPoolGetHeadRecord_t &r) {
        std::lock_guard<std::mutex> g(mu);
        script.push_back(r);
    }

    int ioctl(int, unsigned long code, void *p, size_t) override {
        std::lock_guard<std::mutex> g(mu);
        switch (code) {
        case MI_VENC_IOC_RING_GET_HANDLE: static_cast<MI_VENC_RingPoolGetHandle_t *>(p)->hHandle = handle; return 0;
        case MI_VENC_IOC_RING_GET_INFO: {
            auto *a = static_cast<MI_VENC_RingPoolGetInfo_t *>(p);
            a->PA = pa;
            a->u32Length = kRingSize;
            return 0;
        }
        case MI_VENC_IOC_RING_GET_HEAD: {
            head_calls++;
            if (fail_head_after == 0) {
                fail_head_after = -1;
                return fail_head_code;
            }
            if (fail_head_after > 0) fail_head_after--;
            if (script.empty()) return (int)MI_ERR_VENC_BUF_EMPTY;
            auto *a = static_cast<MI_VENC_RingPoolGetHeadRecord_t *>(p);
            MI_VENC_RingPoolGetHeadRecord_t r = script.front();
            script.pop_front();
            r.hHandle = a->hHandle;
            r.u32MaxMsToWait = a->u32MaxMsToWait;
            r.s32ChnId = a->s32ChnId;
            *a = r;
            outstanding++;
            return 0;
        }
        case MI_VENC_IOC_RING_RELEASE_HEAD:
            release_head++;
            if (outstanding == 0) return (int)MI_ERR_VENC_NOT_PERM;
            outstanding--;
            return 0;
        case MI_VENC_IOC_GET_STREAM: get_stream++; return 0;
        case MI_VENC_IOC_RELEASE_STREAM: release_stream++; return 0;
        case MI_VENC_IOC_GET_POLL_DATA: {
            auto *a = static_cast<MI_VENC_GetPollData_t *>(p);
            MI_SYS_GetPollData_t pd;
            memset(&pd, 0, sizeof pd);
            pd.stChnPort = MI_SYS_ChnPort_t{E_MI_MODULE_ID_VENC, 0, (MI_U32)a->VeChn, 0};
            int r = vb::driver_for("/dev/mi_sys")->ioctl(-1, MI_SYS_IOC_GET_POLL_DATA, &pd, sizeof pd);
            a->pPrivateData = pd.pPrivateData;
            return r;
        }
        case MI_VENC_IOC_GET_MAX_STREAM_CNT: static_cast<MI_VENC_MaxStreamCntArg_t *>(p)->u32MaxStrmCnt = max_cnt; return 0;
        case MI_VENC_IOC_SET_MAX_STREAM_CNT: max_cnt = static_cast<MI_VENC_MaxStreamCntArg_t *>(p)->u32MaxStrmCnt; return 0;
        case MI_VENC_IOC_SET_H264_VUI: vui = static_cast<MI_VENC_H264VuiArg_t *>(p)->stVui; return 0;
        case MI_VENC_IOC_GET_H264_VUI: static_cast<MI_VENC_H264VuiArg_t *>(p)->stVui = vui; return 0;
        case MI_VENC_IOC_QUERY: {
            auto *a = static_cast<MI_VENC_ChnStatArg_t *>(p);
            a->stStat.u32CurPacks = (MI_U32)script.size();
            a->stStat.u32FrmRateNum = 30;
            return 0;
        }
        default: return 0;
        }
    }
};

// One NAL unit behind a start code of `sc` bytes (3 or 4).
inline void add_nal(std::vector<uint8_t> *v, int sc, uint8_t header, size_t payload) {
    for (int i = 0; i < sc - 1; i++) v->push_back(0);
    v->push_back(1);
    v->push_back(header);
    for (size_t i = 0; i < payload; i++) v->push_back((uint8_t)(0x80 | (i & 0x3f)));
}

}  // namespace venc_test
