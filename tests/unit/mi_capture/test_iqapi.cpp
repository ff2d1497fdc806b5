// The IQ-API: headers of every typed call, the transport request, and the
// agent routing (agent answers, agent passes on, no agent, out of range,
// agents changed while calls are routed).
#include <linux/ioctl.h>
#include <string.h>

#include <atomic>
#include <functional>
#include <thread>

#include "capture_test_util.h"
#include "mi_isp.h"

using ct::last;
using ct::word;

namespace {

#if defined(__arm__)
constexpr unsigned long kSetCode = 0x401c6910, kGetCode = 0x401c6911;
constexpr size_t kPayload = 28;
#else
constexpr unsigned long kSetCode = _IOC(_IOC_WRITE, 'i', 0x10, 24 + sizeof(void *));
constexpr unsigned long kGetCode = _IOC(_IOC_WRITE, 'i', 0x11, 24 + sizeof(void *));
constexpr size_t kPayload = 24 + sizeof(void *);
#endif

struct Seen {
    int calls = 0;
    MI_ISP_IQApiHeader_t h{};
    void *data = nullptr;
    std::vector<uint8_t> bytes;
};
Seen g_seen;
MI_S32 g_answer = 0;

MI_S32 recording_agent(MI_ISP_IQApiHeader_t *h, void *d) {
    ++g_seen.calls;
    g_seen.h = *h;
    g_seen.data = d;
    g_seen.bytes.assign((uint8_t *)d, (uint8_t *)d + h->u32DataLen);
    return g_answer;
}

class IqApi : public ::testing::Test {
protected:
    void SetUp() override {
        vb::capture::reset();
        vb::inject_clear();
        MI_ISP_DevAttr_t da{0};
        ASSERT_EQ(0, MI_ISP_CreateDevice(0, &da));
        MI_ISP_ChannelAttr_t ca;
        memset(&ca, 0, sizeof ca);
        ASSERT_EQ(0, MI_ISP_CreateChannel(0, 2, &ca));
        for (uint32_t d = 0; d < 2; ++d)
            for (uint32_t c = 0; c < 16; ++c) MI_ISP_RegisterIspApiAgent(d, c, nullptr, nullptr);
        g_seen = Seen();
        g_answer = 0;
        vb::trace_clear();
    }
    void TearDown() override {
        for (uint32_t d = 0; d < 2; ++d)
            for (uint32_t c = 0; c < 16; ++c) MI_ISP_RegisterIspApiAgent(d, c, nullptr, nullptr);
    }
};

struct Typed {
    const char *name;
    uint32_t cid;
    uint32_t len;
    bool set;
    std::function<MI_S32(void *)> call;  // device 0, channel 2
};

std::vector<Typed> typed_calls() {
#define G(fn, cid, T) {#fn, cid, sizeof(T), false, [](void *d) { return fn(0, 2, (T *)d); }}
#define S(fn, cid, T) {#fn, cid, sizeof(T), true, [](void *d) { return fn(0, 2, (T *)d); }}
    return {
        G(MI_ISP_AE_GetAeHwAvgStats, 0x2E01, MI_ISP_AE_HW_STATISTICS_t),
        G(MI_ISP_AE_GetHisto0HwStats, 0x2E02, MI_ISP_HISTO_HW_STATISTICS_t),
        G(MI_ISP_AE_GetHisto1HwStats, 0x2E03, MI_ISP_HISTO_HW_STATISTICS_t),
        G(MI_ISP_CUS3A_GetAeInitStatus, 0x2E04, CusAEInitParam_t),
        G(MI_ISP_CUS3A_GetAeStatus, 0x2E05, CusAEInfo_t),
        S(MI_ISP_CUS3A_SetAeParam, 0x2E06, CusAEResult_t),
        G(MI_ISP_AWB_GetAwbHwAvgStats, 0x2E07, MI_ISP_AWB_HW_STATISTICS_t),
        S(MI_ISP_CUS3A_Enable, 0x2E08, Cus3AEnable_t),
        G(MI_ISP_CUS3A_GetAwbStatus, 0x2E09, CusAWBInfo_t),
        S(MI_ISP_CUS3A_SetAwbParam, 0x2E0A, CusAWBResult_t),
        G(MI_ISP_CUS3A_GetAFStats, 0x2E0D, CusAFStats_t),
        S(MI_ISP_CUS3A_SetAFWindow, 0x2E0E, CusAFWin_t),
        S(MI_ISP_CUS3A_SetAFFilter_Geo, 0x2E0F, CusAFFilter_Geo_t),
        {"MI_ISP_CUS3A_SetAFFilter", 0x2E0F, 140, true, [](void *d) { return MI_ISP_CUS3A_SetAFFilter(0, 2, (CusAFFilter_t *)d); }},
        S(MI_ISP_CUS3A_SetAFFilterSq, 0x2E10, CusAFFilterSq_t),
        S(MI_ISP_CUS3A_SetAFRoiMode, 0x2E11, CusAFRoiMode_t),
        G(MI_ISP_AWB_GetAwbHwAvgStatsShort, 0x2E19, MI_ISP_AWB_HW_STATISTICS_t),
        G(MI_ISP_AE_GetRgbIrHistoHwStats, 0x2E1E, MI_ISP_RGBIR_HISTO_HW_STATISTICS_t),
        G(MI_ISP_CUS3A_GetAfStatus, 0x2E20, CusAFInfo_t),
        S(MI_ISP_CUS3A_SetAfParam, 0x2E21, CusAfResult_t),
        S(MI_ISP_CUS3A_SetAFYParam, 0x2E24, CusAFYParam_t),
        S(MI_ISP_CUS3A_SetAFSource, 0x2E25, CusAFSource_e),
        S(MI_ISP_CUS3A_SetAFPreFilter, 0x2E26, CusAFPreFilter_t),
        S(MI_ISP_CUS3A_SetAFYMap, 0x2E27, CusAFYMap_t),
        S(MI_ISP_CUS3A_SetAFLdg, 0x2E28, CusAFLdg_t),
        G(MI_ISP_GetIspRoot, 0x66, MI_ISP_ROOT_PATH_T),
    };
#undef G
#undef S
}

TEST(IqApiLayout, RecordSizesOfTheCalls) {
    EXPECT_EQ(46088u, sizeof(MI_ISP_AE_HW_STATISTICS_t));
    EXPECT_EQ(34568u, sizeof(MI_ISP_AWB_HW_STATISTICS_t));
    EXPECT_EQ(7168u, sizeof(CusAFStats_t));
    EXPECT_EQ(108u, sizeof(CusAEInitParam_t));
#if defined(__arm__)
    EXPECT_EQ(65u, sizeof(CusAEInfo_t));
    EXPECT_EQ(41u, sizeof(CusAWBInfo_t));
    EXPECT_EQ(28u, sizeof(MI_ISP_IoctlIQApiData_t));
#endif
}

TEST_F(IqApi, EveryTypedCallBuildsItsHeader) {
    static uint8_t buf[65536];
    for (const Typed &t : typed_calls()) {
        SCOPED_TRACE(t.name);
        ASSERT_EQ(0, MI_ISP_RegisterIspApiAgent(0, 2, recording_agent, recording_agent));
        g_seen = Seen();
        memset(buf, 0, sizeof buf);
        vb::trace_clear();
        EXPECT_EQ(0, t.call(buf));
        ASSERT_EQ(1, g_seen.calls);
        EXPECT_EQ(24u, g_seen.h.u32HeadSize);
        EXPECT_EQ(t.len, g_seen.h.u32DataLen);
        EXPECT_EQ(t.cid, g_seen.h.u32CtrlID);
        EXPECT_EQ(2u, g_seen.h.u32Channel);
        EXPECT_EQ(0u, g_seen.h.u32DevId);
        EXPECT_EQ(0, g_seen.h.s32Ret);
        EXPECT_TRUE(vb::trace("/dev/mi_isp").empty()) << "an agent's answer keeps the driver out";

        // Without an agent the same call is one transport request.
        MI_ISP_RegisterIspApiAgent(0, 2, nullptr, nullptr);
        vb::trace_clear();
        t.call(buf);
        auto tr = vb::trace("/dev/mi_isp");
        ASSERT_EQ(1u, tr.size());
        EXPECT_EQ(t.set ? kSetCode : kGetCode, tr[0].code);
        ASSERT_EQ(kPayload, tr[0].in.size());
        EXPECT_EQ(24u, word(tr[0].in, 0));
        EXPECT_EQ(t.len, word(tr[0].in, 4));
        EXPECT_EQ(t.cid, word(tr[0].in, 8));
        EXPECT_EQ(2u, word(tr[0].in, 12));
        EXPECT_EQ(0u, word(tr[0].in, 16));
        void *p = nullptr;
        memcpy(&p, &tr[0].in[24], sizeof p);
        EXPECT_NE(nullptr, p) << "the data record goes by address";
    }
}

TEST_F(IqApi, AgentPassingOnLetsTheDriverAnswerIntoTheSameRecord) {
    ASSERT_EQ(0, MI_ISP_RegisterIspApiAgent(0, 2, recording_agent, recording_agent));
    g_answer = MI_ISP_API_AGENT_PASS_ON;
    MI_ISP_ROOT_PATH_T root;
    memset(&root, 0, sizeof root);
    EXPECT_EQ(0, MI_ISP_GetIspRoot(0, 2, &root));
    EXPECT_EQ(1, g_seen.calls);
    EXPECT_EQ((void *)&root, g_seen.data);
    EXPECT_STREQ("/config/iqfile", root.strIspRoot);
    EXPECT_EQ(1u, vb::trace("/dev/mi_isp").size());
}

TEST_F(IqApi, AgentOwnCodeIsReturnedUnchanged) {
    ASSERT_EQ(0, MI_ISP_RegisterIspApiAgent(0, 2, recording_agent, recording_agent));
    g_answer = (MI_S32)0xA0078003;
    CusAFInfo_t info;
    EXPECT_EQ((MI_S32)0xA0078003, MI_ISP_CUS3A_GetAfStatus(0, 2, &info));
    EXPECT_TRUE(vb::trace("/dev/mi_isp").empty());
}

TEST_F(IqApi, NoAgentReachesTheDriver) {
    CusAFInfo_t info;
    memset(&info, 0, sizeof info);
    EXPECT_EQ(0, MI_ISP_CUS3A_GetAfStatus(0, 2, &info));
    EXPECT_EQ(16u, info.Size);
    EXPECT_EQ(1023u, info.MaxPos);
    EXPECT_EQ(0, g_seen.calls);
}

TEST_F(IqApi, OutOfRangeDeviceOrChannelGoesToTheDriverNotANeighbourSlot) {
    // Slots right after the end of device 0's row and of the table.
    ASSERT_EQ(0, MI_ISP_RegisterIspApiAgent(1, 0, recording_agent, recording_agent));
    ASSERT_EQ(0, MI_ISP_RegisterIspApiAgent(1, 15, recording_agent, recording_agent));
    MI_ISP_ROOT_PATH_T root;
    memset(&root, 0, sizeof root);
    MI_ISP_IQApiHeader_t h{24, sizeof root, 0x66, 16, 0, 0};
    EXPECT_NE(0, _MI_ISP_GetIspApiData(&h, &root)) << "the driver refuses channel 16";
    EXPECT_EQ(0, g_seen.calls);
    EXPECT_EQ(1u, vb::trace("/dev/mi_isp").size());
    MI_ISP_IQApiHeader_t h2{24, sizeof root, 0x66, 0, 2, 0};
    vb::trace_clear();
    _MI_ISP_GetIspApiData(&h2, &root);
    EXPECT_EQ(0, g_seen.calls);
    EXPECT_EQ(1u, vb::trace("/dev/mi_isp").size());
    CusAEResult_t r{};
    MI_ISP_IQApiHeader_t h3{24, sizeof r, 0x2E06, 0xFFFFFFFFu, 1, 0};
    vb::trace_clear();
    EXPECT_NE(0, _MI_ISP_SetIspApiData(&h3, &r)) << "the driver refuses channel 0xFFFFFFFF";
    EXPECT_EQ(0, g_seen.calls);
    EXPECT_EQ(1u, vb::trace("/dev/mi_isp").size());
}

TEST_F(IqApi, RegisterRejectsOutOfRangeAndChangesNothing) {
    EXPECT_EQ(6, MI_ISP_RegisterIspApiAgent(0, 16, recording_agent, recording_agent));
    EXPECT_EQ(6, MI_ISP_RegisterIspApiAgent(2, 0, recording_agent, recording_agent));
    CusAFInfo_t info;
    for (uint32_t d = 0; d < 2; ++d)
        for (uint32_t c = 0; c < 16; ++c) {
            MI_ISP_IQApiHeader_t h{24, sizeof info, 0x2E20, c, d, 0};
            _MI_ISP_GetIspApiData(&h, &info);
        }
    EXPECT_EQ(0, g_seen.calls);
    // A null pair removes an agent.
    ASSERT_EQ(0, MI_ISP_RegisterIspApiAgent(0, 2, recording_agent, recording_agent));
    ASSERT_EQ(0, MI_ISP_RegisterIspApiAgent(0, 2, nullptr, nullptr));
    MI_ISP_CUS3A_GetAfStatus(0, 2, &info);
    EXPECT_EQ(0, g_seen.calls);
}

std::atomic<int> g_a_calls{0}, g_b_calls{0};
MI_S32 agent_a(MI_ISP_IQApiHeader_t *, void *d) {
    g_a_calls++;
    ((CusAFInfo_t *)d)->CurPos = 0xA;
    return 0;
}
MI_S32 agent_b(MI_ISP_IQApiHeader_t *, void *d) {
    g_b_calls++;
    ((CusAFInfo_t *)d)->CurPos = 0xB;
    return 0;
}

TEST_F(IqApi, AgentsChangeWhileAnotherThreadRoutes) {
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0}, routed{0};
    std::thread router([&] {
        while (!stop.load()) {
            CusAFInfo_t info;
            memset(&info, 0, sizeof info);
            MI_S32 r = MI_ISP_CUS3A_GetAfStatus(0, 2, &info);
            // Agent A, agent B, or the driver (motor position 512).
            if (r != 0 || (info.CurPos != 0xA && info.CurPos != 0xB && info.CurPos != 512)) bad++;
            routed++;
        }
    });
    for (int i = 0; i < 20000 || routed.load() < 3000; ++i) {
        switch (i % 3) {
        case 0: MI_ISP_RegisterIspApiAgent(0, 2, agent_a, agent_a); break;
        case 1: MI_ISP_RegisterIspApiAgent(0, 2, agent_b, agent_b); break;
        default: MI_ISP_RegisterIspApiAgent(0, 2, nullptr, nullptr); break;
        }
        if (i % 64 == 0) std::this_thread::yield();
    }
    stop = true;
    router.join();
    EXPECT_EQ(0, bad.load());
    EXPECT_GT(g_a_calls.load() + g_b_calls.load(), 0);
}

TEST_F(IqApi, FilterGoesOutInTheWideRecordWithTheRestCleared) {
    ASSERT_EQ(0, MI_ISP_RegisterIspApiAgent(0, 2, recording_agent, recording_agent));
    CusAFFilter_t f;
    uint16_t *w = (uint16_t *)&f;
    for (int i = 0; i < 42; ++i) w[i] = (uint16_t)(100 + i);
    ASSERT_EQ(0, MI_ISP_CUS3A_SetAFFilter(0, 2, &f));
    ASSERT_EQ(140u, g_seen.bytes.size());
    for (int i = 0; i < 70; ++i) {
        uint16_t v;
        memcpy(&v, &g_seen.bytes[2 * i], 2);
        EXPECT_EQ(i < 42 ? 100 + i : 0, v) << "coefficient " << i;
    }
}

TEST_F(IqApi, RecordsWithAlignmentGapsSendZeros) {
    ASSERT_EQ(0, MI_ISP_RegisterIspApiAgent(0, 2, recording_agent, recording_agent));
    CusAFWin_t win;
    memset(&win, 0xAB, sizeof win);
    win.u8WindowIndex = 3;
    win.stParaAPI = {1, 2, 3, 4};
    ASSERT_EQ(0, MI_ISP_CUS3A_SetAFWindow(0, 2, &win));
    ASSERT_EQ(20u, g_seen.bytes.size());
    EXPECT_EQ(3, g_seen.bytes[0]);
    EXPECT_EQ(0, g_seen.bytes[1]);
    EXPECT_EQ(0, g_seen.bytes[2]);
    EXPECT_EQ(0, g_seen.bytes[3]);
    EXPECT_EQ(1u, word(g_seen.bytes, 4));

    CusAFFilterSq_t sq;
    memset(&sq, 0xAB, sizeof sq);
    sq.bSobelYSatEn = 1;
    sq.u16SobelYThd = 1023;
    ASSERT_EQ(0, MI_ISP_CUS3A_SetAFFilterSq(0, 2, &sq));
    ASSERT_EQ(52u, g_seen.bytes.size());
    EXPECT_EQ(1, g_seen.bytes[0]);
    EXPECT_EQ(0, g_seen.bytes[1]);
    EXPECT_EQ(1023u, ct::half(g_seen.bytes, 2));
}

TEST_F(IqApi, DriverChecksTheHeaderAgainstTheControlId) {
    CusAEResult_t r{};
    MI_ISP_IQApiHeader_t bad_len{24, 12, 0x2E06, 2, 0, 0};
    EXPECT_NE(0, MI_ISP_SetIQApiData(&bad_len, &r));
    MI_ISP_IQApiHeader_t bad_head{20, sizeof r, 0x2E06, 2, 0, 0};
    EXPECT_NE(0, MI_ISP_SetIQApiData(&bad_head, &r));
    MI_ISP_IQApiHeader_t null_data{24, sizeof r, 0x2E06, 2, 0, 0};
    EXPECT_NE(0, MI_ISP_SetIQApiData(&null_data, nullptr));
    MI_ISP_IQApiHeader_t unknown{24, 4, 0x1234, 2, 0, 0};
    EXPECT_NE(0, MI_ISP_GetIQApiData(&unknown, &r));
    MI_ISP_IQApiHeader_t no_chn{24, sizeof r, 0x2E06, 9, 0, 0};
    EXPECT_NE(0, MI_ISP_SetIQApiData(&no_chn, &r)) << "channel 9 was never created";
}

}  // namespace
