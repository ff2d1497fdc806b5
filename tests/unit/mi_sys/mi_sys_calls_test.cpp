// Each system call: the request code and payload the driver receives, the
// result handed back unchanged, and the failure message of the call path.
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <functional>
#include <gtest/gtest.h>

#include "mi_internal.h"
#include "mi_seam.h"
#include "mi_sys.h"
#include "mi_sys_ioctl.h"
#include "mi_sys_test_util.h"
#include "vb.h"
#include "vb_sys.h"

using namespace mi_sys_test;

namespace {

// A private board directory, set before anything reads VB_ROOT.
struct PrivateBoardRoot {
    std::string dir;
    PrivateBoardRoot() {
        char tmpl[] = "/tmp/ut_mi_sys.XXXXXX";
        if (mkdtemp(tmpl)) {
            dir = tmpl;
            setenv("VB_ROOT", tmpl, 1);
        }
    }
    ~PrivateBoardRoot() {
        if (!dir.empty()) (void)!system(("rm -rf '" + dir + "'").c_str());
    }
} g_root;

class SysCalls : public ::testing::Test {
protected:
    void SetUp() override {
        vb::inject_clear();
        vb::trace_enable(true);
        vb::trace_clear();
    }
    void TearDown() override { vb::inject_clear(); }
};

MI_SYS_ChnPort_t port(MI_ModuleId_e m, MI_U32 dev, MI_U32 chn, MI_U32 p) { return {m, dev, chn, p}; }

struct CallCase {
    const char *name;
    std::function<void()> call;
    unsigned long board_code;  // code on the board (armhf)
    unsigned dir, nr;
    size_t host_size;          // payload size on this platform
};

std::vector<CallCase> all_calls() {
    static MI_SYS_Version_t ver;
    static MI_U64 u64;
    static MI_SYS_BufInfo_t bi;
    static MI_SYS_BUF_HANDLE h;
    static void *va;
    static MI_SYS_ChnPort_t a = port(E_MI_MODULE_ID_VDEC, 0, 9, 0), b = port(E_MI_MODULE_ID_VDISP, 0, 9, 0);
    return {
        {"Init", [] { MI_SYS_Init(0); }, 0x80046900, kR, 0x00, 4},
        {"Exit", [] { MI_SYS_Exit(); }, 0x80046901, kR, 0x01, 4},
        {"BindChnPort2", [] { MI_SYS_BindChnPort2(0, &a, &b, 30, 30, E_MI_SYS_BIND_TYPE_FRAME_BASE, 0); },
         0x40306903, kW, 0x03, 48},
        {"UnBindChnPort", [] { MI_SYS_UnBindChnPort(0, &a, &b); }, 0x40306904, kW, 0x04, 48},
        {"GetVersion", [] { MI_SYS_GetVersion(0, &ver); }, 0x80806906, kR, 0x06, 128},
        {"GetCurPts", [] { MI_SYS_GetCurPts(0, &u64); }, 0x80086907, kR, 0x07, 8},
        {"InitPtsBase", [] { MI_SYS_InitPtsBase(0, 5); }, 0x40086908, kW, 0x08, 8},
        {"SyncPts", [] { MI_SYS_SyncPts(0, 5); }, 0x40086909, kW, 0x09, 8},
        {"Mmap", [] { MI_SYS_Mmap(0, 16, &va, 0); }, 0xc018690a, kRW, 0x0a, sizeof(MI_SYS_Mmap_t)},
        {"Munmap", [] { MI_SYS_Munmap(nullptr, 16); }, 0x4008690b, kW, 0x0b, sizeof(MI_SYS_Munmap_t)},
        {"ChnOutputPortGetBuf", [] { MI_SYS_ChnOutputPortGetBuf(&a, &bi, &h); }, 0xc1286913, kRW, 0x13,
         sizeof(MI_SYS_ChnOutputPortGetBuf_t)},
        {"ChnOutputPortPutBuf", [] { MI_SYS_ChnOutputPortPutBuf(0); }, 0x40046914, kW, 0x14, 4},
        {"SetChnOutputPortDepth", [] { MI_SYS_SetChnOutputPortDepth(0, &a, 1, 2); }, 0x40186915, kW, 0x15, 24},
        {"CloseFd", [] { MI_SYS_CloseFd(-1); }, 0x40046918, kW, 0x18, 4},
        {"FlushInvCache", [] { MI_SYS_FlushInvCache(nullptr, 16); }, 0x4008691e, kW, 0x1e,
         sizeof(MI_SYS_FlushInvCache_t)},
        {"ReadUuid", [] { MI_SYS_ReadUuid(0, &u64); }, 0x8008691f, kR, 0x1f, 8},
    };
}

TEST_F(SysCalls, EveryCallSendsItsCodeWithAPayloadOfTheEncodedSize) {
    for (const CallCase &c : all_calls()) {
        SCOPED_TRACE(c.name);
        vb::trace_clear();
        c.call();
        auto t = last_sys_request();
#if defined(__arm__)
        EXPECT_EQ(t.code, c.board_code);
#else
        EXPECT_EQ(t.code, code(c.dir, c.nr, c.host_size));
#endif
        EXPECT_EQ(t.in.size(), _IOC_SIZE(t.code));
        EXPECT_EQ(t.in.size(), c.host_size);
    }
}

TEST_F(SysCalls, RecordSizesOnThisPlatform) {
    // Records without pointers have the board's size everywhere.
    EXPECT_EQ(sizeof(MI_SYS_ChnPortArg_t), 48u);
    EXPECT_EQ(sizeof(MI_SYS_Version_t), 128u);
    EXPECT_EQ(sizeof(MI_SYS_Mmap_t), 24u);
    EXPECT_EQ(sizeof(MI_SYS_SetChnOutputPortDepth_t), 24u);
    EXPECT_EQ(sizeof(MI_SYS_ChnPort_Fd_t), 20u);
#if defined(__arm__)
    EXPECT_EQ(sizeof(MI_SYS_Munmap_t), 8u);
    EXPECT_EQ(sizeof(MI_SYS_FlushInvCache_t), 8u);
    EXPECT_EQ(sizeof(MI_SYS_GetPollData_t), 20u);
    EXPECT_EQ(sizeof(MI_SYS_RawData_t), 40u);
    EXPECT_EQ(sizeof(MI_SYS_BufInfo_t), 264u);
    EXPECT_EQ(sizeof(MI_SYS_ChnOutputPortGetBuf_t), 296u);
    EXPECT_EQ(MI_SYS_IOC_GET_POLL_DATA, 0xc0146917u);
    EXPECT_EQ(MI_SYS_IOC_GET_FD, 0xc0146919u);
    EXPECT_EQ(MI_SYS_IOC_SET_FD, 0x4014691au);
#else
    // Pointer-carrying records grow on 64 bits and their codes follow.
    EXPECT_EQ(sizeof(MI_SYS_Munmap_t), 16u);
    EXPECT_EQ(MI_SYS_IOC_MUNMAP, code(kW, 0x0b, 16));
    EXPECT_EQ(MI_SYS_IOC_GET_POLL_DATA, code(kRW, 0x17, sizeof(MI_SYS_GetPollData_t)));
    EXPECT_GT(sizeof(MI_SYS_BufInfo_t), 264u);
#endif
}

TEST_F(SysCalls, BindPayloadCarriesEveryArgumentInOrder) {
    MI_SYS_ChnPort_t src = port(E_MI_MODULE_ID_VDEC, 1, 2, 3), dst = port(E_MI_MODULE_ID_VDISP, 4, 5, 6);
    poison_stack();
    ASSERT_EQ(MI_SYS_BindChnPort2(0, &src, &dst, 60, 30, E_MI_SYS_BIND_TYPE_REALTIME, 0x77), 0);
    auto t = last_sys_request();
    ASSERT_EQ(t.in.size(), 48u);
    const uint32_t want[12] = {8, 1, 2, 3, 14, 4, 5, 6, 60, 30, 4, 0x77};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(read_at<uint32_t>(t.in, 4 * i), want[i]) << "word " << i;

    // Unbind fills only the two ports; the rest is zero, not stack left-overs.
    poison_stack();
    ASSERT_EQ(MI_SYS_UnBindChnPort(0, &src, &dst), 0);
    t = last_sys_request();
    for (int i = 0; i < 8; ++i) EXPECT_EQ(read_at<uint32_t>(t.in, 4 * i), want[i]) << "word " << i;
    for (int i = 8; i < 12; ++i) EXPECT_EQ(read_at<uint32_t>(t.in, 4 * i), 0u) << "word " << i;
}

TEST_F(SysCalls, PayloadPaddingAndUnfilledFieldsAreZero) {
    void *va = reinterpret_cast<void *>(0x1);
    poison_stack();
    MI_SYS_Mmap(0x12345678abcdull, 4096, &va, 1);
    auto t = last_sys_request();
    ASSERT_EQ(t.in.size(), sizeof(MI_SYS_Mmap_t));
    EXPECT_EQ(t.in[0], 1);  // bCache
    EXPECT_EQ(t.in[1] | t.in[2] | t.in[3], 0);
    EXPECT_EQ(read_at<uint32_t>(t.in, offsetof(MI_SYS_Mmap_t, u32Size)), 4096u);
    EXPECT_EQ(read_at<uintptr_t>(t.in, offsetof(MI_SYS_Mmap_t, pVirtualAddress)), 0u);
    EXPECT_EQ(read_at<uint64_t>(t.in, offsetof(MI_SYS_Mmap_t, phyAddr)), 0x12345678abcdull);
    for (size_t i = offsetof(MI_SYS_Mmap_t, pVirtualAddress) + sizeof(void *); i < offsetof(MI_SYS_Mmap_t, phyAddr);
         ++i)
        EXPECT_EQ(t.in[i], 0) << "padding byte " << i;

    MI_SYS_ChnPort_t p = port(E_MI_MODULE_ID_VDEC, 0, 1, 2);
    MI_SYS_BufInfo_t bi;
    MI_SYS_BUF_HANDLE h;
    poison_stack();
    MI_SYS_ChnOutputPortGetBuf(&p, &bi, &h);
    t = last_sys_request();
    ASSERT_EQ(t.in.size(), sizeof(MI_SYS_ChnOutputPortGetBuf_t));
    EXPECT_EQ(read_at<uint32_t>(t.in, 0), (uint32_t)E_MI_MODULE_ID_VDEC);
    EXPECT_EQ(read_at<uint32_t>(t.in, 12), 2u);
    EXPECT_EQ(read_at<uint32_t>(t.in, offsetof(MI_SYS_ChnOutputPortGetBuf_t, u32ExtraFlags)), 0xA0000000u);
    for (size_t i = sizeof(MI_SYS_ChnPort_t); i < offsetof(MI_SYS_ChnOutputPortGetBuf_t, u32ExtraFlags); ++i)
        ASSERT_EQ(t.in[i], 0) << "byte " << i << " reached the driver uncleared";

    poison_stack();
    MI_SYS_SetChnOutputPortDepth(0, &p, 3, 5);
    t = last_sys_request();
    EXPECT_EQ(read_at<uint32_t>(t.in, 16), 3u);
    EXPECT_EQ(read_at<uint32_t>(t.in, 20), 5u);

    int dummy = 0;
    poison_stack();
    MI_SYS_FlushInvCache(&dummy, 100);
    t = last_sys_request();
    EXPECT_EQ(read_at<uintptr_t>(t.in, 0), (uintptr_t)&dummy);
    EXPECT_EQ(read_at<uint32_t>(t.in, sizeof(void *)), 100u);
    for (size_t i = sizeof(void *) + 4; i < t.in.size(); ++i) EXPECT_EQ(t.in[i], 0) << "padding byte " << i;

    MI_SYS_InitPtsBase(0, 0xF1237890F1237890ull);
    EXPECT_EQ(read_at<uint64_t>(last_sys_request().in, 0), 0xF1237890F1237890ull);
    MI_SYS_SyncPts(0, 0xE1237890E1237890ull);
    EXPECT_EQ(read_at<uint64_t>(last_sys_request().in, 0), 0xE1237890E1237890ull);
    MI_SYS_Init(0);
    EXPECT_EQ(read_at<uint32_t>(last_sys_request().in, 0), 0u);
    MI_SYS_ChnOutputPortPutBuf(0x0d000042);
    EXPECT_EQ(read_at<int32_t>(last_sys_request().in, 0), 0x0d000042);
}

TEST_F(SysCalls, DriverResultsReachTheCallerUnchanged) {
    MI_SYS_ChnPort_t a = port(E_MI_MODULE_ID_VDEC, 0, 3, 0), b = port(E_MI_MODULE_ID_VDISP, 0, 3, 0);
    for (const CallCase &c : all_calls()) {
        SCOPED_TRACE(c.name);
        vb::trace_clear();
        c.call();
        unsigned long req = last_sys_request().code;
        ASSERT_NE(req, 0u);
        vb::inject("/dev/mi_sys", req, (int)0xA0092011, 1);
        vb::trace_clear();
        c.call();
        EXPECT_EQ(last_sys_request().result, (int)0xA0092011);
    }
    // And the value itself, for calls whose return we can see directly.
    MI_U64 v = 99;
    vb::inject("/dev/mi_sys", MI_SYS_IOC_GET_CUR_PTS, (int)0xA0092010, 1);
    EXPECT_EQ(MI_SYS_GetCurPts(0, &v), (int)0xA0092010);
    EXPECT_EQ(v, 0u);  // cleared before the call, the driver did not answer
    vb::inject("/dev/mi_sys", MI_SYS_IOC_BIND_CHN_PORT, 7, 1);
    EXPECT_EQ(MI_SYS_BindChnPort2(0, &a, &b, 1, 1, E_MI_SYS_BIND_TYPE_FRAME_BASE, 0), 7);
    vb::inject("/dev/mi_sys", MI_SYS_IOC_INIT, (int)0xA009200C, 1);
    EXPECT_EQ(MI_SYS_Init(0), (int)0xA009200C);
    vb::inject("/dev/mi_sys", MI_SYS_IOC_EXIT, 3, 1);
    EXPECT_EQ(MI_SYS_Exit(), 3);
}

TEST_F(SysCalls, FailedIoctlReturnsMinusOneAndPrintsTheCode) {
    MI_U64 pts;
    vb::inject("/dev/mi_sys", MI_SYS_IOC_GET_CUR_PTS, -1, 1);
    testing::internal::CaptureStdout();
    int ret = MI_SYS_GetCurPts(0, &pts);
    fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(ret, -1);
    char want[64];
    snprintf(want, sizeof want, "[sys] failed to ioctl 0x%08lx!(", (unsigned long)MI_SYS_IOC_GET_CUR_PTS);
    EXPECT_NE(out.find(want), std::string::npos) << out;
#if defined(__arm__)
    EXPECT_NE(out.find("[sys] failed to ioctl 0x80086907!("), std::string::npos) << out;
#endif
    // A real refusal: a null out-pointer is turned away by the driver (EINVAL).
    testing::internal::CaptureStdout();
    ret = MI_SYS_ReadUuid(0, nullptr);
    fflush(stdout);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(ret, -1);
    EXPECT_NE(out.find("failed to ioctl"), std::string::npos) << out;
}

TEST_F(SysCalls, NullCallerPointersAreRefusedWithoutACall) {
    MI_SYS_ChnPort_t p = port(E_MI_MODULE_ID_VDEC, 0, 0, 0);
    MI_SYS_BufInfo_t bi;
    MI_S32 fd;
    EXPECT_EQ(MI_SYS_BindChnPort2(0, nullptr, &p, 1, 1, E_MI_SYS_BIND_TYPE_FRAME_BASE, 0), (int)MI_SYS_ERR_NULL_PTR);
    EXPECT_EQ(MI_SYS_ChnOutputPortGetBuf(&p, &bi, nullptr), (int)MI_SYS_ERR_NULL_PTR);
    EXPECT_EQ(MI_SYS_Mmap(0, 1, nullptr, 0), (int)MI_SYS_ERR_NULL_PTR);
    EXPECT_EQ(MI_SYS_GetFd(nullptr, &fd), (int)MI_SYS_ERR_NULL_PTR);
    EXPECT_TRUE(vb::trace("/dev/mi_sys").empty());
}

TEST_F(SysCalls, VersionUuidAndClock) {
    MI_SYS_Version_t v;
    memset(&v, 'x', sizeof v);
    ASSERT_EQ(MI_SYS_GetVersion(0, &v), 0);
    EXPECT_STREQ((const char *)v.u8Version, vb::sys_version_text());
    EXPECT_EQ(v.u8Version[127], 0);

    vb::sys_set_uuid(0x0011223344556677ull);
    MI_U64 u = 0;
    ASSERT_EQ(MI_SYS_ReadUuid(0, &u), 0);
    EXPECT_EQ(u, 0x0011223344556677ull);
    EXPECT_EQ(vb::ctl_exec("uuid 0xA1B2C3D4E5F60718"), "0xa1b2c3d4e5f60718");
    ASSERT_EQ(MI_SYS_ReadUuid(0, &u), 0);
    EXPECT_EQ(u, 0xA1B2C3D4E5F60718ull);
    EXPECT_EQ(vb::ctl_exec("uuid 12zz").rfind("error", 0), 0u);
    EXPECT_EQ(vb::sys_uuid(), 0xA1B2C3D4E5F60718ull);

    // The clock follows the base it is given and keeps running from there.
    const MI_U64 base = 0x1000000000ull;
    ASSERT_EQ(MI_SYS_InitPtsBase(0, base), 0);
    MI_U64 a = 0, b = 0;
    ASSERT_EQ(MI_SYS_GetCurPts(0, &a), 0);
    ASSERT_EQ(MI_SYS_GetCurPts(0, &b), 0);
    EXPECT_GE(a, base);
    EXPECT_LT(a, base + 60000000ull);
    EXPECT_GE(b, a);
    EXPECT_EQ(vb::pts_now() >= b, true);
    ASSERT_EQ(MI_SYS_SyncPts(0, 5000000), 0);
    ASSERT_EQ(MI_SYS_GetCurPts(0, &a), 0);
    EXPECT_GE(a, 5000000u);
    EXPECT_LT(a, base);
}

// Messages are gated by "<root>/mi_sys/debug_level", read at every site.
class DebugLevel : public SysCalls {
protected:
    std::string dir() { return std::string(mi_debug_level_root()) + "/mi_sys"; }
    void set_level(const char *text) {
        std::string cmd = "mkdir -p '" + dir() + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
        FILE *f = fopen((dir() + "/debug_level").c_str(), "w");
        ASSERT_NE(f, nullptr);
        fputs(text, f);
        fclose(f);
    }
    std::string emit_all() {
        testing::internal::CaptureStdout();
        MI_ERR("sys", "e%d\n", 1);
        MI_WRN("sys", "w%d\n", 2);
        MI_INFO("sys", "i%d\n", 3);
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }
    void TearDown() override {
        unlink((dir() + "/debug_level").c_str());
        SysCalls::TearDown();
    }
};

TEST_F(DebugLevel, LevelsGateErrorsWarningsAndInformation) {
    unlink((dir() + "/debug_level").c_str());
    EXPECT_EQ(_MI_PRINT_GetDebugLevel("sys"), MI_DBG_NONE);
    EXPECT_EQ(emit_all(), "");

    set_level("1\n");
    std::string out = emit_all();
    EXPECT_NE(out.find("e1"), std::string::npos);
    EXPECT_EQ(out.find("w2"), std::string::npos);

    set_level("2");
    out = emit_all();
    EXPECT_NE(out.find("w2"), std::string::npos);
    EXPECT_EQ(out.find("i3"), std::string::npos);

    set_level("4");
    EXPECT_EQ(emit_all().find("i3"), std::string::npos);

    set_level("5");
    out = emit_all();
    EXPECT_NE(out.find("i3"), std::string::npos);
    EXPECT_EQ(_MI_PRINT_GetDebugLevel("sys"), MI_DBG_INFO);
}

TEST_F(DebugLevel, MessageFraming) {
    set_level("8");
    testing::internal::CaptureStdout();
    MI_ERR("sys", "boom %s\n", "x");
    fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("\033[1;31m[MI ERR ]: TestBody[", 0), 0u) << out;
    EXPECT_NE(out.find("]: boom x\n\033[0m"), std::string::npos) << out;

    testing::internal::CaptureStdout();
    MI_WRN("sys", "w\n");
    MI_INFO("sys", "i\n");
    fflush(stdout);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("\033[1;33m[MI WRN ]: TestBody[", 0), 0u) << out;
    EXPECT_NE(out.find("\033[1;32m[MI INFO]:TestBody["), std::string::npos) << out;
}

}  // namespace
