// The 3A framework on the virtual board, in lockstep, with plug-ins of the
// test that record what they are asked: the requests of a frame and their
// order, enable and release as the driver's masks and the event stream say,
// the agents' routes, and answers of the control-id dispatch reaching the
// IQ-API caller.
#include <dirent.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "capture_test_util.h"
#include "cus3a_entry.h"
#include "iq_root.h"
#include "isp_api_records.h"

namespace {

using namespace ct;

// ---- plug-ins of the test --------------------------------------------------

std::mutex g_mu;
std::vector<std::string> g_calls;  // "AE init 0", "AWB run 0", "AF ctrl 105 0", ...
ISP_AF_INIT_PARAM g_afInit;
MI_U32 g_aeGrid[2], g_awbGrid[2];  // the grids the plug-ins were handed
// What the AE run was handed: the result's Size, the sums of histogram 1's
// and the RGB-IR histogram's bins (under g_mu).
struct AeSeen {
    MI_U32 resultSize, hist2, histIR;
};
AeSeen g_aeSeen;
int g_ctrlAnswer = 0;  // what the ctrl slots return
MI_S32 g_ctrlRet = 0;  // what they write into s32Ret

struct Probe {
    const char *kind;
    unsigned ch;
};
Probe g_probe[3][16];

void note(void *pdata, const std::string &what) {
    auto *p = (Probe *)pdata;
    std::lock_guard<std::mutex> g(g_mu);
    g_calls.push_back(std::string(p->kind) + " " + what + " " + std::to_string(p->ch));
}

std::vector<std::string> calls() {
    std::lock_guard<std::mutex> g(g_mu);
    return g_calls;
}

void clear_calls() {
    std::lock_guard<std::mutex> g(g_mu);
    g_calls.clear();
}

int probe_ctrl(void *pdata, MI_U32 cmd, void *param) {
    note(pdata, "ctrl " + std::to_string(cmd));
    if (param) ((MI_CUS3A_CtrlCmd_t *)param)->stApiHeader.s32Ret = g_ctrlRet;
    return cmd == CUS3A_CTRL_CAMERA_REOPEN ? 0 : g_ctrlAnswer;
}

AeSeen ae_seen() {
    std::lock_guard<std::mutex> g(g_mu);
    return g_aeSeen;
}

ISP_AE_INTERFACE ae_probe(Probe *p) {
    return {p, [](void *p, ISP_AE_INIT_PARAM *) { return note(p, "init"), 0; }, [](void *p) { note(p, "release"); },
            [](void *p, const ISP_AE_INFO *i, ISP_AE_RESULT *r) {
                note(p, "run");
                g_aeGrid[0] = i->AvgBlkX, g_aeGrid[1] = i->AvgBlkY;
                AeSeen seen{r->Size, 0, 0};
                for (MI_U16 b : i->hist2->nHisto) seen.hist2 += b;
                for (MI_U16 b : i->histIR->nHisto) seen.histIR += b;
                {
                    std::lock_guard<std::mutex> g(g_mu);
                    g_aeSeen = seen;
                }
                r->Change = 0;
            },
            probe_ctrl};
}

void register_probes(unsigned ch) {
    for (int k = 0; k < 3; ++k) g_probe[k][ch] = {k == 0 ? "AE" : k == 1 ? "AWB" : "AF", ch};
    ISP_AE_INTERFACE ae = ae_probe(&g_probe[0][ch]);
    ISP_AWB_INTERFACE awb = {&g_probe[1][ch], [](void *p) { return note(p, "init"), 0; },
                             [](void *p) { note(p, "release"); },
                             [](void *p, const ISP_AWB_INFO *i, ISP_AWB_RESULT *) {
                                 note(p, "run");
                                 g_awbGrid[0] = i->AvgBlkX, g_awbGrid[1] = i->AvgBlkY;
                             },
                             probe_ctrl};
    ISP_AF_INTERFACE af = {&g_probe[2][ch],
                           [](void *p, ISP_AF_INIT_PARAM *ip) { return note(p, "init"), g_afInit = *ip, 0; },
                           [](void *p) { note(p, "release"); },
                           [](void *p, const ISP_AF_INFO *i, ISP_AF_RESULT *r) {
                               note(p, "run");
                               r->NextPos = i->CurPos;
                           },
                           probe_ctrl};
    ASSERT_EQ(0, CUS3A_RegInterfaceEX(0, ch, E_ALGO_ADAPTOR_NATIVE, E_ALGO_TYPE_AE, &ae));
    ASSERT_EQ(0, CUS3A_RegInterfaceEX(0, ch, E_ALGO_ADAPTOR_NATIVE, E_ALGO_TYPE_AWB, &awb));
    ASSERT_EQ(0, CUS3A_RegInterfaceEX(0, ch, E_ALGO_ADAPTOR_NATIVE, E_ALGO_TYPE_AF, &af));
}

// "get 2E04", "set 2E06" ... of dev 0 from the board's request log.
std::vector<std::string> requests(uint32_t chn = 0) {
    std::vector<std::string> out;
    for (const auto &e : vb::capture::iq_log()) {
        if (e.dev != 0 || e.chn != chn) continue;
        char b[32];
        snprintf(b, sizeof b, "%s %X", e.set ? "set" : "get", e.id);
        out.push_back(b);
    }
    return out;
}

template <typename Pred>
bool eventually(Pred p, int ms = 3000) {
    for (int i = 0; i < ms / 10; ++i) {
        if (p()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return p();
}

class Framework : public Pipeline {
protected:
    void SetUp() override {
        Pipeline::SetUp();
        g_ctrlAnswer = 0;
        g_ctrlRet = 0;
    }
    void TearDown() override {
        vb::capture::set_lockstep(false);
        Pipeline::TearDown();
    }
    // A running channel 0 with the test's plug-ins, 3A enabled, in lockstep.
    void start(uint32_t timeout_ms = 2000) {
        build(320, 240);
        register_probes(0);
        Cus3AEnable_t on{1, 1, 1};
        ASSERT_EQ(0, MI_ISP_CUS3A_Enable(0, 0, &on));
        clear_calls();
        vb::capture::iq_log_clear();
        vb::capture::set_lockstep(true, timeout_ms);
    }
};

TEST_F(Framework, FirstEventInitialisesThenRunsEachKindInOrder) {
    start();
    ASSERT_EQ(1, vb::capture::step(1));
    const std::vector<std::string> want = {"get 2E04", "get 2E20", "get 2E01", "get 2E02", "get 2E03",
                                           "get 2E1E", "get 2E05", "set 2E06", "get 2E07", "get 2E09",
                                           "set 2E0A", "get 2E20", "get 2E0D", "set 2E21"};
    EXPECT_EQ(want, requests(0));
    auto ae = vb::capture::iq_log(0x2E06);
    ASSERT_EQ(1u, ae.size());
    EXPECT_EQ(56u, ae[0].len);
    EXPECT_EQ(56u, word(ae[0].bytes, 0));  // Size
    for (uint32_t c = 1; c < 16; ++c) EXPECT_TRUE(requests(c).empty()) << c;
    const std::vector<std::string> seq = {"AE init 0", "AWB init 0", "AF init 0", "AE run 0", "AWB run 0", "AF run 0"};
    EXPECT_EQ(seq, calls());
    // The AF starts from the lens status: step range 1 .. Max - Min.
    CusAFInfo_t st;
    memset(&st, 0, sizeof st);
    ASSERT_EQ(0, MI_ISP_CUS3A_GetAfStatus(0, 0, &st));
    EXPECT_EQ(sizeof(ISP_AF_INIT_PARAM), g_afInit.Size);
    EXPECT_EQ(st.MinPos, g_afInit.MinPos);
    EXPECT_EQ(st.MaxPos, g_afInit.MaxPos);
    EXPECT_EQ(1u, g_afInit.MinStep);
    EXPECT_EQ(st.MaxPos - st.MinPos, g_afInit.MaxStep);
    // Later frames only run.
    clear_calls();
    ASSERT_EQ(2, vb::capture::step(2));
    EXPECT_EQ(6u, calls().size());
    EXPECT_EQ(0u, vb::capture::lockstep_timeouts());
}

// A kind whose start-up read fails stays off for those frames (lockstep
// waits out its missing answer) and starts on the next event; `once`: the
// failure is printed once however many events it lasts.
void expect_start_up_retry(MI_U32 id, const char *printed, const std::vector<std::string> &first,
                           const std::vector<std::string> &second, int failing = 1, bool once = false) {
    vb::capture::iq_fail(id, -1, failing);
    testing::internal::CaptureStderr();
    std::vector<std::string> want = first;
    for (int i = 0; i < failing; ++i) {
        ASSERT_EQ(1, vb::capture::step(1));
        EXPECT_EQ(want, calls()) << i;
        clear_calls();
        // The other kinds started on the first event.
        want.erase(std::remove_if(want.begin(), want.end(),
                                  [](const std::string &c) { return c.find(" init ") != std::string::npos; }),
                   want.end());
    }
    std::string out = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, out.find(printed)) << out;
    if (once) {
        EXPECT_EQ(out.find(printed), out.rfind(printed)) << out;
    }
    ASSERT_EQ(1, vb::capture::step(1));
    EXPECT_EQ(second, calls());
}

TEST_F(Framework, SensorNotReadyRetriesAeOnTheNextEvent) {
    start(300);
    expect_start_up_retry(MI_ISP_CID_AE_INIT_STATUS, "[_DoAeInit] Sensor have NOT been initialized!sret = -1\n",
                          {"AWB init 0", "AF init 0", "AWB run 0", "AF run 0"},
                          {"AE init 0", "AE run 0", "AWB run 0", "AF run 0"});
}

// The statistics requests of the AE step failing one at a time (the RGB-IR
// histogram comes from an agent of the test, the board's would be empty):
// without histogram 0 or the status the AE skips the frame; a missing
// histogram 1 or RGB-IR histogram reaches the AE cleared.
std::atomic<MI_U32> g_failOnce{0};

MI_S32 ae_stats_driver(MI_ISP_IQApiHeader_t *h, void *d) {
    MI_U32 id = h->u32CtrlID;
    if (g_failOnce.compare_exchange_strong(id, 0)) return (MI_S32)0xA0072003;
    if (h->u32CtrlID == MI_ISP_CID_AE_RGBIR_HISTO_STATS) {
        auto *ir = (MI_ISP_RGBIR_HISTO_HW_STATISTICS_t *)d;
        for (size_t i = 0; i < sizeof *ir / 2; ++i) ((MI_U16 *)ir)[i] = 1;
        return 0;
    }
    return MI_ISP_API_AGENT_PASS_ON;
}

TEST_F(Framework, AeStepStopsWithoutHistogram0OrStatusAndClearsTheOthers) {
    start(300);
    ASSERT_EQ(0, MI_ISP_RegisterIspApiAgent(0, 0, nullptr, ae_stats_driver));
    struct Row {
        MI_U32 failing;
        bool runs;
        MI_U32 hist2, histIR;  // bin sums the AE is handed
    } rows[] = {
        {MI_ISP_CID_AE_HISTO0_STATS, false, 0, 0},
        {MI_ISP_CID_AE_STATUS, false, 0, 0},
        {MI_ISP_CID_AE_HISTO1_STATS, true, 0, 256},
        {MI_ISP_CID_AE_RGBIR_HISTO_STATS, true, 33909, 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.failing);
        ASSERT_EQ(1, vb::capture::step(1));
        const AeSeen whole = ae_seen();
        EXPECT_EQ(60u, whole.resultSize) << "the result comes with its size";
        EXPECT_EQ(33909u, whole.hist2);
        EXPECT_EQ(256u, whole.histIR);
        clear_calls();
        vb::capture::iq_log_clear();
        {
            std::lock_guard<std::mutex> g(g_mu);
            g_aeSeen = {};
        }
        g_failOnce = r.failing;
        ASSERT_EQ(1, vb::capture::step(1));
        std::vector<std::string> want = {"AE run 0", "AWB run 0", "AF run 0"};
        if (!r.runs) want.erase(want.begin());
        EXPECT_EQ(want, calls());
        EXPECT_EQ(r.runs ? 1u : 0u, vb::capture::iq_log(MI_ISP_CID_AE_PARAM).size());
        if (r.runs) {
            EXPECT_EQ(r.hist2, ae_seen().hist2);
            EXPECT_EQ(r.histIR, ae_seen().histIR);
        }
    }
    MI_ISP_RegisterIspApiAgent(0, 0, nullptr, nullptr);
}

TEST_F(Framework, NewAePluginReleasesTheRunningOneFirst) {
    start();
    ASSERT_EQ(1, vb::capture::step(1));
    clear_calls();
    static Probe other{"AE2", 0};
    ISP_AE_INTERFACE ae2 = ae_probe(&other);
    ASSERT_EQ(0, CUS3A_RegInterfaceEX(0, 0, E_ALGO_ADAPTOR_NATIVE, E_ALGO_TYPE_AE, &ae2));
    EXPECT_EQ((std::vector<std::string>{"AE release 0"}), calls());
    clear_calls();
    ASSERT_EQ(1, vb::capture::step(1));
    std::vector<std::string> want = {"AE2 init 0", "AE2 run 0", "AWB run 0", "AF run 0"};
    EXPECT_EQ(want, calls());
}

// Failed lens-status reads: at start-up the AF waits for the next event
// (its range comes from that read); on a running AF the frame is skipped
// and nothing is sent to the lens.
TEST_F(Framework, AfWaitsOutAFailedLensStatus) {
    start(300);
    expect_start_up_retry(MI_ISP_CID_AF_STATUS, "[_DoAfInit] Lens status NOT available!sret = -1\n",
                          {"AE init 0", "AWB init 0", "AE run 0", "AWB run 0"},
                          {"AF init 0", "AE run 0", "AWB run 0", "AF run 0"}, 3, true);
    EXPECT_EQ(1023u, g_afInit.MaxPos);

    clear_calls();
    vb::capture::iq_log_clear();
    vb::capture::iq_fail(MI_ISP_CID_AF_STATUS, -1, 1);
    ASSERT_EQ(1, vb::capture::step(1));
    EXPECT_EQ((std::vector<std::string>{"AE run 0", "AWB run 0"}), calls());
    EXPECT_TRUE(vb::capture::iq_log(MI_ISP_CID_AF_STATS).empty());
    EXPECT_TRUE(vb::capture::iq_log(MI_ISP_CID_AF_PARAM).empty());
    clear_calls();
    ASSERT_EQ(1, vb::capture::step(1));
    EXPECT_EQ(3u, calls().size());
}

TEST_F(Framework, EventsStoppingReleasesEveryKindAndTheNextEventStartsThemAgain) {
    start();
    ASSERT_EQ(1, vb::capture::step(1));
    vb::capture::fe_pause(1500);
    ASSERT_EQ(1, vb::capture::step(1));  // this frame's event is held back
    clear_calls();
    // One second without an event reads as everything disabled.
    std::vector<std::string> released = {"AE release 0", "AWB release 0", "AF release 0"};
    ASSERT_TRUE(eventually([&] { return calls() == released; })) << calls().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // past the hold
    clear_calls();
    ASSERT_EQ(1, vb::capture::step(1));
    std::vector<std::string> again = {"AE init 0", "AWB init 0", "AF init 0", "AE run 0", "AWB run 0", "AF run 0"};
    EXPECT_EQ(again, calls());
}

TEST_F(Framework, ReopenAsksEachRunningKindInOrder) {
    start();
    ASSERT_EQ(1, vb::capture::step(1));
    clear_calls();
    vb::capture::fe_reopen(0);
    testing::internal::CaptureStderr();
    ASSERT_EQ(1, vb::capture::step(1));
    std::string out = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, out.find("CUS3A camera reopen CH0\n"));
    std::vector<std::string> want = {"AE ctrl 105 0", "AWB ctrl 105 0", "AF ctrl 105 0",
                                     "AE run 0",      "AWB run 0",      "AF run 0"};
    EXPECT_EQ(want, calls());
}

// A driver whose status runs past the statistics buffers, and a lens whose
// range is upside down.
MI_S32 odd_driver(MI_ISP_IQApiHeader_t *h, void *d) {
    switch (h->u32CtrlID) {
    case MI_ISP_CID_AE_STATUS: {
        CusAEInfo_t st;
        memset(&st, 0, sizeof st);
        st.AvgBlkX = 200, st.AvgBlkY = 200;
        memcpy(d, &st, sizeof st);
        return 0;
    }
    case MI_ISP_CID_AWB_STATUS: {
        CusAWBInfo_t st;
        memset(&st, 0, sizeof st);
        st.AvgBlkX = 100000, st.AvgBlkY = 90;
        memcpy(d, &st, sizeof st);
        return 0;
    }
    case MI_ISP_CID_AF_STATUS:
        *(CusAFInfo_t *)d = {sizeof(CusAFInfo_t), 800, 100, 300};
        return 0;
    }
    return MI_ISP_API_AGENT_PASS_ON;
}

TEST_F(Framework, DriverValuesAreKeptWithinTheBuffers) {
    start();
    ASSERT_EQ(0, MI_ISP_RegisterIspApiAgent(0, 0, nullptr, odd_driver));
    ASSERT_EQ(1, vb::capture::step(1));
    MI_ISP_RegisterIspApiAgent(0, 0, nullptr, nullptr);
    EXPECT_EQ(200u, g_aeGrid[0]);
    EXPECT_EQ(57u, g_aeGrid[1]);  // 11520 blocks at most
    EXPECT_EQ(11520u, g_awbGrid[0]);
    EXPECT_EQ(1u, g_awbGrid[1]);
    EXPECT_EQ(800u, g_afInit.MinPos);
    EXPECT_EQ(100u, g_afInit.MaxPos);
    EXPECT_EQ(0u, g_afInit.MaxStep);
}

int threads_named(const char *name) {
    int n = 0;
    DIR *d = opendir("/proc/self/task");
    while (dirent *e = d ? readdir(d) : nullptr) {
        std::ifstream f(std::string("/proc/self/task/") + e->d_name + "/comm");
        std::string comm;
        if (std::getline(f, comm) && comm == name) ++n;
    }
    if (d) closedir(d);
    return n;
}

TEST_F(Framework, EveryChannelIsEnabledOnOneThread) {
    build(320, 240);
    vb::capture::iq_log_clear();
    for (uint32_t c = 1; c < 16; ++c) {
        MI_ISP_ChannelAttr_t ca;
        memset(&ca, 0, sizeof ca);
        ASSERT_EQ(0, MI_ISP_CreateChannel(0, c, &ca));
    }
    EXPECT_EQ(1, threads_named("3A_Proc_0"));
    // Each new channel: AE, AWB and AF switched on, each with all three flags.
    for (uint32_t c = 1; c < 16; ++c) {
        std::vector<vb::capture::IqLogEntry> en;
        for (const auto &e : vb::capture::iq_log(0x2E08))
            if (e.chn == c) en.push_back(e);
        ASSERT_EQ(3u, en.size()) << c;
        for (const auto &e : en) {
            EXPECT_TRUE(e.set);
            EXPECT_EQ((std::vector<uint8_t>{1, 1, 1}), e.bytes);
        }
    }
}

MI_S32 api(bool set, uint32_t id, uint32_t chn, void *data, uint32_t len, MI_ISP_IQApiHeader_t *out = nullptr) {
    MI_ISP_IQApiHeader_t h = {MI_ISP_IQAPI_HEAD_SIZE, len, id, chn, 0, 0};
    MI_S32 r = set ? _MI_ISP_SetIspApiData(&h, data) : _MI_ISP_GetIspApiData(&h, data);
    if (out) *out = h;
    return r;
}

TEST_F(Framework, AgentsRouteByControlIdAndHandBackThePluginsAnswer) {
    start();
    ASSERT_EQ(0, MI_ISP_RegisterIspApiAgent(0, 0, Cus3A_SetIspApiData, Cus3A_GetIspApiData));
    uint8_t rec[16] = {};
    // Before the AE runs, its ids reach the driver.
    EXPECT_NE(0, api(false, 0x1403, 0, rec, 8));
    EXPECT_EQ(1u, vb::capture::iq_log(0x1403).size());
    ASSERT_EQ(1, vb::capture::step(1));
    clear_calls();
    struct Case {
        uint32_t id;
        bool set;
        int answer;     // the plug-in's ctrl result
        MI_S32 s32Ret;  // what it writes into the header
        MI_S32 want;    // the caller's result
        const char *call;
        bool to_driver;
    };
    const Case cases[] = {
        {0x3002, false, 0, 0, 0, "", false},              // answered here
        {0x2FFF, true, 0, 0, 0, "", false},
        {0x3100, false, 0, 0, 0, "", false},
        {0x1403, false, 0, 12, 12, "AE ctrl 5123 0", false},
        {0x3000, true, 0, 0, 0, "AE ctrl 12288 0", false},
        {0x1801, false, 0, 15, 15, "AWB ctrl 6145 0", false},
        {0x240F, true, 0, 13, 13, "AWB ctrl 9231 0", false},
        {0x2C05, false, 0, 0, 0, "AWB ctrl 11269 0", false},
        {0x3001, false, 0, 0, 0, "AWB ctrl 12289 0", false},
        {0x1C29, true, 0, 6, 6, "AF ctrl 7209 0", false},
        {0x3003, false, 0, 0, 0, "AF ctrl 12291 0", false},
        {0x1C29, true, -1, 6, 0, "AF ctrl 7209 0", true},  // refused by the plug-in: the driver answers
        {0x2E05, false, 0, 0, 0, "", true},                // the driver's own ids never reach a plug-in
    };
    for (const Case &c : cases) {
        g_ctrlAnswer = c.answer;
        g_ctrlRet = c.s32Ret;
        clear_calls();
        vb::capture::iq_log_clear();
        MI_ISP_IQApiHeader_t h;
        static CusAEInfo_t big;  // large enough for the driver's 0x2E05
        MI_S32 r = api(c.set, c.id, 0, c.id == 0x2E05 ? (void *)&big : rec,
                       c.id == 0x2E05 ? (uint32_t)sizeof big : 4, &h);
        const bool reached = !vb::capture::iq_log(c.id).empty();
        EXPECT_EQ(c.to_driver, reached) << std::hex << c.id;
        if (!c.to_driver) {
            EXPECT_EQ(c.want, r) << std::hex << c.id;
            EXPECT_EQ(c.want, h.s32Ret) << std::hex << c.id;
        }
        std::vector<std::string> want;
        if (*c.call) want.push_back(c.call);
        EXPECT_EQ(want, calls()) << std::hex << c.id;
    }
}

// The default plug-ins on all three algorithms, loading the virtual sensor's
// IQ file (from a copy under an ISP root of the test), with the 3A's IQ-API
// agents registered.
class DefaultPlugins : public Framework {
protected:
    void start() {
        iq_.emplace(VIDREC_REFERENCE_IQFILE);
        build(320, 240);
        CUS3A_EnableUserspaceAE(0, 0, 1);
        CUS3A_EnableUserspaceAWB(0, 0, 1);
        CUS3A_EnableUserspaceAF(0, 0, 1);
        ASSERT_EQ(0, MI_ISP_RegisterIspApiAgent(0, 0, Cus3A_SetIspApiData, Cus3A_GetIspApiData));
    }
    std::optional<unit::IqRoot> iq_;
};

// With the default plug-ins, the dispatch's refusals come back to whoever
// called the IQ-API.
TEST_F(DefaultPlugins, DispatchRefusalsReachTheCaller) {
    ASSERT_NO_FATAL_FAILURE(start());
    vb::capture::set_lockstep(true, 2000);
    ASSERT_EQ(2, vb::capture::step(2));  // the AF algorithm is made on its first run
    vb::capture::iq_log_clear();
    struct Case {
        uint32_t id, len;
        MI_S32 want;
        const char *printed;
    };
    const Case cases[] = {
        {0x1805, 4, 15, "[ERROR - ISP API SET] Not support - Ctrl ID = 6149\n"},
        {0x1C05, 4, 14, "[ERROR - ISP API SET] Structure mismatch - Ctrl ID = 7173 \n"},
    };
    for (const Case &c : cases) {
        uint8_t rec[8] = {};
        testing::internal::CaptureStderr();
        MI_ISP_IQApiHeader_t h;
        EXPECT_EQ(c.want, api(true, c.id, 0, rec, c.len, &h)) << std::hex << c.id;
        std::string out = testing::internal::GetCapturedStderr();
        EXPECT_EQ(c.want, h.s32Ret);
        EXPECT_NE(std::string::npos, out.find(c.printed)) << out;
        EXPECT_TRUE(vb::capture::iq_log(c.id).empty());
    }
}

// The lens status fails on the AF's first frame (its start-up read went
// well): the AF algorithm is made on the next frame, from the lens range the
// board reports, so the control path can narrow that range to the AF's own.
std::atomic<int> g_afStatusReads{0};

MI_S32 second_lens_status_fails(MI_ISP_IQApiHeader_t *h, void *d) {
    if (h->u32CtrlID == MI_ISP_CID_AF_STATUS && ++g_afStatusReads == 2) return -1;
    return Cus3A_GetIspApiData(h, d);
}

TEST_F(DefaultPlugins, AfAlgorithmIsMadeFromARealLensStatus) {
    ASSERT_NO_FATAL_FAILURE(start());
    g_afStatusReads = 0;
    ASSERT_EQ(0, MI_ISP_RegisterIspApiAgent(0, 0, Cus3A_SetIspApiData, second_lens_status_fails));
    vb::capture::set_lockstep(true, 300);
    ASSERT_EQ(3, vb::capture::step(3));
    EXPECT_EQ(4, g_afStatusReads.load()) << "start-up, then one read a frame";
    MI_ISP_AF_MOTOR_TYPE_t m{320, 700, 1, 50};
    EXPECT_EQ(0, api(true, 0x1C2A, 0, &m, sizeof m));
    MI_ISP_RegisterIspApiAgent(0, 0, nullptr, nullptr);
}

// Tuning requests while the driver switches the AWB on and off: the ctrl
// route and the enable pass meet only under the device lock (run under
// ThreadSanitizer in CI).
TEST_F(DefaultPlugins, ControlWhileTheAwbIsSwitchedOnAndOff) {
    ASSERT_NO_FATAL_FAILURE(start());
    vb::capture::set_lockstep(true, 500);
    std::atomic<bool> stop{false};
    std::atomic<int> answered{0}, driver{0}, odd{0};
    std::thread t([&] {
        while (!stop) {
            MI_ISP_AWB_QUERY_INFO_TYPE_t q;
            MI_S32 r = api(false, 0x1801, 0, &q, sizeof q);
            if (r >= 0 && r <= 15) ++answered;  // the AWB's answer (a dispatch code)
            else if (((MI_U32)r >> 24) == 0xA0) ++driver;  // AWB off: the driver's refusal
            else ++odd;
        }
    });
    for (int i = 0; i < 40; ++i) {
        Cus3AEnable_t en{1, (MI_BOOL)(i % 2), 1};
        ASSERT_EQ(0, MI_ISP_CUS3A_Enable(0, 0, &en));
        ASSERT_EQ(1, vb::capture::step(1));
    }
    stop = true;
    t.join();
    EXPECT_GT(answered.load(), 0);
    EXPECT_GT(driver.load(), 0);
    EXPECT_EQ(0, odd.load());
}

}  // namespace
