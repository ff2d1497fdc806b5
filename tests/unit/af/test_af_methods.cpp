// The AF handle seen from the ISP and from the control ids: the set-up it
// sends at creation, the defaults the ids read back, which settings it
// refuses and what a failing hardware request leaves behind.
#include <algorithm>

#include "af_test_util.h"

namespace {

using aft::AfTest;
using aft::g_isp;

struct Bytes {
    std::vector<uint8_t> v;
    Bytes &u8(std::initializer_list<unsigned> xs) {
        for (unsigned x : xs) v.push_back((uint8_t)x);
        return *this;
    }
    Bytes &u16(std::initializer_list<unsigned> xs) {
        for (unsigned x : xs) u8({x & 0xFF, x >> 8});
        return *this;
    }
    Bytes &u32(std::initializer_list<unsigned> xs) {
        for (unsigned x : xs) u16({x & 0xFFFF, x >> 16});
        return *this;
    }
    Bytes &zeros(size_t n) {
        v.resize(v.size() + n);
        return *this;
    }
};

TEST_F(AfTest, CreationSendsTheNineSetUpsInOrder) {
    std::vector<std::pair<uint32_t, Bytes>> want;
    want.push_back({0x2E11, Bytes().u32({0, 1})});
    for (unsigned k = 0; k < 16; ++k) {
        unsigned x = 256 * (k % 4), y = 256 * (k / 4);
        want.push_back({0x2E0E, Bytes().u8({k, 0, 0, 0}).u32({x, y, x + 255, y + 255})});
    }
    want.push_back({0x2E0F, Bytes()
                                .u16({37, 0, 549, 235, 49, 0, 1023, 0, 1023, 19, 0, 531, 250, 59, 0, 1023, 0, 1023})
                                .u16({1, 37, 0, 549, 25, 28, 1, 32, 0, 544, 169, 0})
                                .u16({1, 19, 0, 531, 201, 36, 1, 17, 0, 529, 219, 30})
                                .zeros(56)});
    want.push_back({0x2E10, Bytes()
                                .u8({0, 0})
                                .u16({1023})
                                .u8({1, 0})
                                .u16({0, 0, 0, 0})
                                .u8({6, 7, 7, 6, 6, 6, 7, 6, 6, 7, 6, 6})
                                .u16({0, 32, 288, 800, 1152, 1568, 2048, 3200, 3872, 4607, 6271, 7199, 8191})});
    want.push_back({0x2E24, Bytes().u8({76, 75, 29})});
    want.push_back({0x2E25, Bytes().u32({2})});
    want.push_back({0x2E26, Bytes().zeros(12)});
    want.push_back(
        {0x2E27, Bytes().u8({0, 0, 4, 4, 4, 4, 6, 7, 8, 9}).u16({0, 72, 135, 183, 222, 340, 501, 722, 1023})});
    want.push_back({0x2E28, Bytes()
                                .u8({0, 0, 0, 0})
                                .u16({0, 300, 1023, 1023, 1023, 1023})
                                .u8({255, 255, 40, 40, 40, 40})
                                .zeros(18)});

    AfInitParam_t ip{0, 1023, 1, 1023, 500, 0, 0};
    h_ = (cam_af_handle_t *)AfInit(nullptr, &ip, &in_, &out_);
    ASSERT_NE(nullptr, h_);
    ASSERT_EQ(want.size(), g_isp.seen.size());
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(want[i].first, g_isp.seen[i].id);
        EXPECT_EQ(0u, g_isp.seen[i].dev);
        EXPECT_EQ(0u, g_isp.seen[i].ch);
        EXPECT_EQ(want[i].second.v, g_isp.seen[i].bytes);
    }
    EXPECT_EQ(500u, out_.FocusPos);
    EXPECT_EQ(0u, out_.Change_Motor);

    // Getters read the stored records and send nothing.
    g_isp.seen.clear();
    auto motor = get<MI_ISP_AF_MOTOR_TYPE_t>(0x1C2A);
    EXPECT_EQ(Bytes().u8({0x40, 0x01, 0xBC, 0x02, 0x01, 0x00, 0x32, 0x00}).v,
              std::vector<uint8_t>((uint8_t *)&motor, (uint8_t *)&motor + sizeof motor));
    auto attr = get<MI_ISP_AF_ATTR_TYPE_t>(0x1C29);
    EXPECT_EQ(QV_ISP_STATE_NORMAL, attr.eState);
    EXPECT_EQ(QV_OP_TYP_AUTO, attr.eType);
    EXPECT_EQ(0, attr.u16ManualMotorPos);
    EXPECT_EQ(QV_AF_ALGO_CONTINUOUS, attr.eAlgo);
    auto os = get<MI_ISP_AF_ONESHOT_TYPE_t>(0x1C2C);
    EXPECT_EQ(QV_AF_ACC_SBLV, os.eAccSel);
    EXPECT_EQ(10, os.u16MotorStep);
    auto ss = get<MI_ISP_AF_SEARCH_START_TYPE_t>(0x1C2E);
    EXPECT_EQ(10, ss.u16SearchMotorStep);
    EXPECT_EQ(400, ss.u16SearchMotorDirByPosTh);
    EXPECT_EQ(QV_AF_ACC_SBLV, ss.eSearchAccSel);
    auto win = get<MI_ISP_AF_HW_WIN_TYPE_t>(0x1C02);
    EXPECT_EQ(768, win.stParaAPI[15].u16StartX);
    EXPECT_EQ(1023, win.stParaAPI[15].u16EndY);
    EXPECT_TRUE(g_isp.seen.empty());
}

TEST_F(AfTest, CreationFromAnUnreasonableDriverStillGivesAHandle) {
    struct Case {
        const char *what;
        AfInitParam_t ip;
        bool fail_requests;
        bool complaint;
        MI_ISP_AF_MOTOR_TYPE_t motor;  // the software range after creation
    };
    const Case cases[] = {
        {"every request fails", {0, 1023, 1, 1023, 500, 0, 0}, true, false, {320, 700, 1, 50}},
        {"no travel", {0, 0, 1, 0, 0, 0, 0}, false, true, {0, 0, 1, 0}},
        {"start outside", {100, 600, 1, 500, 700, 0, 0}, false, true, {320, 600, 1, 50}},
        {"short lens, small steps", {400, 500, 2, 20, 450, 0, 0}, false, false, {400, 500, 2, 20}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        g_isp = aft::IspLog();
        g_isp.fail_all = c.fail_requests;
        AfInitParam_t ip = c.ip;
        AfOutput_t out{7, 7};
        testing::internal::CaptureStderr();
        auto *h = (cam_af_handle_t *)AfInit(nullptr, &ip, &in_, &out);
        std::string printed = testing::internal::GetCapturedStderr();
        ASSERT_NE(nullptr, h);
        // A failed window request ends the window loop.
        EXPECT_EQ(c.fail_requests ? 9u : 24u, g_isp.seen.size());
        EXPECT_EQ(c.ip.InitPos, out.FocusPos);
        EXPECT_EQ(0u, out.Change_Motor);
        EXPECT_EQ(c.complaint, printed.find("Error!! Initial motor parameters got from motor driver are "
                                            "unreasonable. \n") != std::string::npos);
        EXPECT_EQ(c.complaint, printed.find("] InitPos = ") != std::string::npos);
        EXPECT_EQ(0, memcmp(&c.motor, &h->UserSetting.strMotor, sizeof c.motor));
        EXPECT_EQ(nullptr, h->AfInitParameter) << "the init record is not kept";
        AfRelease(h);
    }
    EXPECT_EQ(0, AfRelease(nullptr));
}

TEST_F(AfTest, AlgorithmSettersValidateAndRestart) {
    using Set = std::function<LX_S32(AfTest &)>;
    struct Case {
        const char *what;
        Set call;
        LX_S32 want;
        const char *message;  // "" when none
        bool restarts;
        Set prep = nullptr;  // made before the record is judged
    };
    auto attr = [](MI_ISP_AF_ATTR_TYPE_t a) { return [a](AfTest &t) { return t.set(0x1C29, a); }; };
    auto motor = [](MI_ISP_AF_MOTOR_TYPE_t m) { return [m](AfTest &t) { return t.set(0x1C2A, m); }; };
    auto weight = [](uint8_t nx, uint8_t ny) {
        return [nx, ny](AfTest &t) {
            auto a = t.get<MI_ISP_AF_ACC_WEIGHT_TYPE_t>(0x1C2B);
            a.u8WinNumX = nx;
            a.u8WinNumY = ny;
            return t.set(0x1C2B, a);
        };
    };
    auto one_shot = [](uint16_t step) {
        return [step](AfTest &t) { return t.set(0x1C2C, MI_ISP_AF_ONESHOT_TYPE_t{QV_AF_ACC_IIRL, step}); };
    };
    auto roi4 = [](AfTest &t) { return t.set(0x1C01, MI_ISP_AF_HW_ROI_MODE_TYPE_t{IQ_AF_ROI_MODE_MATRIX, 4}); };
    const Case cases[] = {
        {"manual 319", attr({QV_ISP_STATE_NORMAL, QV_OP_TYP_MANUAL, 319, QV_AF_ALGO_CONTINUOUS}), -1,
         "[pAF_SetAttr-", false},
        {"manual 320", attr({QV_ISP_STATE_NORMAL, QV_OP_TYP_MANUAL, 320, QV_AF_ALGO_CONTINUOUS}), 0, "", true},
        {"manual 700", attr({QV_ISP_STATE_NORMAL, QV_OP_TYP_MANUAL, 700, QV_AF_ALGO_CONTINUOUS}), 0, "", true},
        {"manual 701", attr({QV_ISP_STATE_NORMAL, QV_OP_TYP_MANUAL, 701, QV_AF_ALGO_CONTINUOUS}), -1,
         "u16ManualMotorPos = 701, u16MinMotorPos = 320, u16MaxMotorPos = 700 \n", false},
        {"auto, any position", attr({QV_ISP_STATE_NORMAL, QV_OP_TYP_AUTO, 5, QV_AF_ALGO_CONTINUOUS}), 0, "", true},
        {"motor min above max", motor({400, 380, 1, 50}), -1,
         "u16MinMotorPos = 400, u16MaxMotorPos = 380, u16HWMinMotorPos = 0, u16HWMaxMotorPos = 1023 \n", false},
        {"motor beyond the driver", motor({0, 1024, 1, 50}), -1, "u16HWMaxMotorPos = 1023", false},
        {"motor step 0", motor({300, 800, 0, 50}), -1,
         "u16MinMotorStep = 0, u16MaxMotorStep = 50, u16HWMinMotorStep = 1, u16HWMaxMotorStep = 1023 \n", false},
        {"motor zero width", motor({500, 500, 1, 50}), 0, "", true},
        {"two rows, normal mode", weight(16, 2), -1,
         "u8WinNumY = 2, eMode = 0, u32VerticalBlockNumber = 1 \n", false},
        {"one row", weight(16, 1), 0, "", true},
        {"no columns", weight(0, 1), -1, "u8WinNumX = 0, u8WinNumY = 1 \n", false},
        {"17 columns", weight(17, 1), -1, "u8WinNumX = 17", false},
        {"matrix of 4: 4 rows", weight(16, 4), 0, "", true, roi4},
        {"matrix of 4: 5 rows", weight(16, 5), -1, "u8WinNumY = 5, eMode = 1", false, roi4},
        {"one-shot step while continuous", one_shot(20), 0, "", false},
        {"one-shot step above the motor's", one_shot(51), -1,
         "u16MotorStep = 51, u16MinMotorStep = 1, u16MaxMotorStep = 50 \n", false},
        {"search start step checked first",
         [](AfTest &t) { return t.set(0x1C2E, MI_ISP_AF_SEARCH_START_TYPE_t{60, 100, QV_AF_ACC_SBLV}); }, -1,
         "u16SearchMotorStep = 60", false},
        {"search start threshold",
         [](AfTest &t) { return t.set(0x1C2E, MI_ISP_AF_SEARCH_START_TYPE_t{10, 100, QV_AF_ACC_SBLV}); }, -1,
         "u16SearchMotorDirByPosTh = 100, u16MinMotorPos = 320, u16MaxMotorPos = 700 \n", false},
        {"scene change while continuous",
         [](AfTest &t) { return t.set(0x1C2D, t.get<MI_ISP_AF_SCENE_CHANGE_TYPE_t>(0x1C2D)); }, 0, "", true},
        {"search while continuous", [](AfTest &t) { return t.set(0x1C2F, MI_ISP_AF_SEARCH_TYPE_t{}); }, 0, "", true},
        {"hardware setters never restart",
         [](AfTest &t) { return t.set(0x1C05, MI_ISP_AF_HW_YPARAM_TYPE_t{1, 2, 3}); }, 0, "", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (h_) AfRelease(h_);
        make();
        h_->eFSMState = AF_FSM_STATE_WOBBLING;
        h_->u32MaxAcc = 1234;
        if (c.prep) {
            ASSERT_EQ(0, c.prep(*this));
        }
        AF_USER_SETTING before = h_->UserSetting;
        testing::internal::CaptureStderr();
        LX_S32 r = c.call(*this);
        std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_EQ(c.want, r);
        if (*c.message) {
            EXPECT_NE(std::string::npos, printed.find(c.message)) << printed;
            EXPECT_EQ(1, std::count(printed.begin(), printed.end(), '\n')) << printed;
            EXPECT_EQ(0, memcmp(&before, &h_->UserSetting, sizeof before)) << "a refused record changes nothing";
        } else {
            EXPECT_EQ("", printed);
        }
        EXPECT_EQ(c.restarts ? AF_FSM_STATE_SEARCH_START : AF_FSM_STATE_WOBBLING, h_->eFSMState);
        EXPECT_EQ(c.restarts ? AF_FSM_STATE_WOBBLING : AF_FSM_STATE_INIT, h_->eFSMPreState);
        EXPECT_EQ(c.restarts ? 0u : 1234u, h_->u32MaxAcc);
    }
}

TEST_F(AfTest, RestartsFollowTheAlgorithmInUse) {
    make();
    ASSERT_EQ(0, set(0x1C29, MI_ISP_AF_ATTR_TYPE_t{QV_ISP_STATE_NORMAL, QV_OP_TYP_AUTO, 0, QV_AF_ALGO_ONESHOT}));
    struct Case {
        uint32_t id;
        bool restarts;
    } cases[] = {{0x1C2C, true}, {0x1C2D, false}, {0x1C2E, false}, {0x1C2F, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.id);
        h_->eFSMState = AF_FSM_STATE_FOCUSED;
        h_->bFinishOneLoop = LX_TRUE;
        uint8_t rec[24];
        LX_U32 size = 0;
        ASSERT_EQ(0, DrvAlgo_IF_Lookup(c.id, 1, nullptr, &size));
        ASSERT_EQ(0, DrvAlgo_IF_ApiGet(c.id, nullptr, nullptr, h_, nullptr, size, rec));
        ASSERT_EQ(0, DrvAlgo_IF_ApiSet(c.id, nullptr, nullptr, h_, nullptr, size, rec));
        EXPECT_EQ(c.restarts, h_->eFSMState == AF_FSM_STATE_SEARCH_START);
        EXPECT_EQ(!c.restarts, h_->bFinishOneLoop == LX_TRUE);
    }
    // A forced restart clears its flag; a clear flag does nothing.
    for (LX_CAM_BOOL flag : {LX_FALSE, LX_TRUE}) {
        h_->eFSMState = AF_FSM_STATE_WOBBLING;
        LX_CAM_BOOL f = flag;
        EXPECT_EQ(0, h_->pAF_ForceTrigger(h_, &f));
        EXPECT_EQ(LX_FALSE, f);
        EXPECT_EQ(flag ? AF_FSM_STATE_SEARCH_START : AF_FSM_STATE_WOBBLING, h_->eFSMState);
    }
}

TEST_F(AfTest, WindowLoopStopsAtTheFirstFailedRequest) {
    make();
    MI_ISP_AF_HW_WIN_TYPE_t w;
    for (uint16_t k = 0; k < 16; ++k) w.stParaAPI[k] = {k, (uint16_t)(k + 100), (uint16_t)(k + 200), 1023};
    g_isp.fail = {3};
    EXPECT_EQ(-1, set(0x1C02, w));
    ASSERT_EQ(3u, g_isp.seen.size());
    for (unsigned i = 0; i < 3; ++i)
        EXPECT_EQ(Bytes().u8({i, 0, 0, 0}).u32({i, i + 100, i + 200, 1023}).v, g_isp.seen[i].bytes);
    auto stored = get<MI_ISP_AF_HW_WIN_TYPE_t>(0x1C02);
    EXPECT_EQ(0, memcmp(&w, &stored, sizeof w)) << "all 16 windows are stored";

    // Other hardware setters return the request's result, the record stored.
    g_isp = aft::IspLog();
    g_isp.fail_all = true;
    EXPECT_EQ(-1, set(0x1C06, MI_ISP_AF_HW_SOURCE_TYPE_e{IQ_AF_SOURCE_FROM_WBG_AF_HDR}));
    EXPECT_EQ(IQ_AF_SOURCE_FROM_WBG_AF_HDR, get<MI_ISP_AF_HW_SOURCE_TYPE_e>(0x1C06));
    ASSERT_EQ(1u, g_isp.seen.size());
    EXPECT_EQ(0x2E25u, g_isp.seen[0].id);
}

}  // namespace
