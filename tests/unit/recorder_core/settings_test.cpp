#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "test_tmpdir.h"
#include "user_setting.h"

namespace {

std::vector<uint8_t> bytes_of(const void* p, size_t n) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    return std::vector<uint8_t>(b, b + n);
}

void reset_settings() {
    memset(&g_stUserSet, 0, sizeof(g_stUserSet));
    memset(&stUserSetSave, 0, sizeof(stUserSetSave));
    memset(&stUser, 0, sizeof(stUser));
    g_SrcFrameRatePrev = g_DstFrameRatePrev = 0;
}

bool exists(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0;
}

std::string save_bytes(const ST_USR_SETTING_SAVE& s) {
    return std::string(reinterpret_cast<const char*>(&s), sizeof(s));
}

class Settings : public ::testing::Test {
protected:
    void SetUp() override { reset_settings(); }
    void TearDown() override { reset_settings(); }
    TmpDir tmp;
};

}  // namespace

TEST_F(Settings, LiveRecordWireBytes) {
    g_stUserSet.usChipId = 0x0910;
    g_stUserSet.ucVersion = 0x26;
    g_stUserSet.usRecTimeCnt = 0x1234;
    g_stUserSet.usTotalSize = 0x11223344;
    g_stUserSet.usFreeSize = 0x55667788;
    g_stUserSet.ucRcMode[0] = 1;
    g_stUserSet.ucBitRate[0] = 3;
    g_stUserSet.ucBitRate[1] = 4;
    g_stUserSet.ucSaveOnOff = 1;
    g_stUserSet.ucRecStatus = 3;
    g_stUserSet.ucInputState = 1;
    g_stUserSet.ucRtmpOnOff = 1;
    g_stUserSet.bSdCardSel = 2;
    g_stUserSet.bSdCardStatus = 2;
    g_stUserSet.ucRecReso = 13;
    g_stUserSet.ucProfile = 2;
    g_stUserSet.ucRotate = 1;
    g_stUserSet.ucRtmpIndex = 5;
    g_stUserSet.ucNetWorkStatus = 1;
    const std::vector<uint8_t> want = {0x10, 0x09, 0x26, 0x00, 0x34, 0x12, 0x00, 0x00,
                                       0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55,
                                       0x01, 0x00, 0x03, 0x04, 0x9A, 0x54, 0x6D, 0x0D};
    EXPECT_EQ(bytes_of(&g_stUserSet, 24), want);

    ST_GLOBAL_SETTING snap;
    memset(&snap, 0xEE, sizeof(snap));
    UserSetSnapshot(&snap);
    EXPECT_EQ(bytes_of(&snap, 24), want);
}

// Each helper descriptor must name exactly the bits of its bit-field member.
TEST_F(Settings, BitDescriptorsMatchTheRecord) {
    struct Case {
        const char* name;
        UserSetBits bits;
        std::function<unsigned()> member;
    };
    ST_GLOBAL_SETTING& s = g_stUserSet;
    const Case cases[] = {
        {"UpdataFlag", UsrBits::UpdataFlag, [&] { return unsigned(s.ucUpdataFlag); }},
        {"SaveOnOff", UsrBits::SaveOnOff, [&] { return unsigned(s.ucSaveOnOff); }},
        {"Saveflag", UsrBits::Saveflag, [&] { return unsigned(s.ucSaveflag); }},
        {"RecStatus", UsrBits::RecStatus, [&] { return unsigned(s.ucRecStatus); }},
        {"SavePause", UsrBits::SavePause, [&] { return unsigned(s.ucSavePause); }},
        {"SaveStop", UsrBits::SaveStop, [&] { return unsigned(s.ucSaveStop); }},
        {"InputState", UsrBits::InputState, [&] { return unsigned(s.ucInputState); }},
        {"Bitstream", UsrBits::Bitstream, [&] { return unsigned(s.ucBitstream); }},
        {"Savestream", UsrBits::Savestream, [&] { return unsigned(s.ucSavestream); }},
        {"RtmpOnOff", UsrBits::RtmpOnOff, [&] { return unsigned(s.ucRtmpOnOff); }},
        {"SdCardSel", UsrBits::SdCardSel, [&] { return unsigned(s.bSdCardSel); }},
        {"SdCardStatus", UsrBits::SdCardStatus, [&] { return unsigned(s.bSdCardStatus); }},
        {"SdCardDouble", UsrBits::SdCardDouble, [&] { return unsigned(s.bSdCardDouble); }},
        {"RecReso", UsrBits::RecReso, [&] { return unsigned(s.ucRecReso); }},
        {"Profile", UsrBits::Profile, [&] { return unsigned(s.ucProfile); }},
        {"Rotate", UsrBits::Rotate, [&] { return unsigned(s.ucRotate); }},
        {"RtmpIndex", UsrBits::RtmpIndex, [&] { return unsigned(s.ucRtmpIndex); }},
        {"NetWorkStatus", UsrBits::NetWorkStatus, [&] { return unsigned(s.ucNetWorkStatus); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        memset(&g_stUserSet, 0, sizeof(g_stUserSet));
        const unsigned max = (1u << c.bits.ucWidth) - 1u;
        EXPECT_EQ(UserSetPut(c.bits, 0xFF), 0u);  // cut to the field's width
        EXPECT_EQ(c.member(), max);
        EXPECT_EQ(UserSetGet(c.bits), max);
        std::vector<uint8_t> want(24, 0);
        want[c.bits.ucByte] = uint8_t(max << c.bits.ucShift);
        EXPECT_EQ(bytes_of(&g_stUserSet, 24), want);
    }
}

TEST_F(Settings, PutKeepsNeighboursAndReturnsPrevious) {
    g_stUserSet.ucRecReso = 9;
    g_stUserSet.ucRotate = 3;
    EXPECT_EQ(UserSetPut(UsrBits::Profile, 2), 0u);
    EXPECT_EQ(UserSetPut(UsrBits::Profile, 1), 2u);
    EXPECT_EQ(g_stUserSet.ucRecReso, 9u);
    EXPECT_EQ(g_stUserSet.ucRotate, 3u);
    EXPECT_EQ(g_stUserSet.ucProfile, 1u);
    EXPECT_EQ(UserSetGet(UsrBits::RecReso), 9u);
}

// Eight threads each own one bit of the same byte and flip it many times; a
// lost update would leave some bit wrong at a check or at the end.
TEST_F(Settings, ConcurrentBitUpdatesAreNotLost) {
    const UserSetBits bits[8] = {UsrBits::UpdataFlag, UsrBits::SaveOnOff, UsrBits::Saveflag,
                                 {20, 3, 1},          {20, 4, 1},         UsrBits::SavePause,
                                 UsrBits::SaveStop,   UsrBits::InputState};
    std::atomic<int> wrong{0};
    std::vector<std::thread> th;
    for (int t = 0; t < 8; ++t) {
        th.emplace_back([&, t] {
            for (int i = 0; i < 20000; ++i) {
                UserSetPut(bits[t], 1);
                if (UserSetGet(bits[t]) != 1) ++wrong;
                UserSetPut(bits[t], 0);
                if (UserSetGet(bits[t]) != 0) ++wrong;
            }
            UserSetPut(bits[t], 1);
        });
    }
    for (auto& t : th) t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(bytes_of(&g_stUserSet, 24)[20], 0xFF);
}

TEST_F(Settings, DefaultsAndSavedFileBytes) {
    EXPECT_EQ(bytes_of(&tUserSetDef, 8),
              (std::vector<uint8_t>{0x5A, 0xA5, 0x00, 0x00, 0x01, 0x02, 0x23, 0x00}));

    const std::string f = tmp.path("userpara");
    stUserSetSave.usCheckId = USER_PARA_CHECK_ID;
    stUserSetSave.ucRcMode[1] = 1;
    stUserSetSave.ucBitRate[0] = 7;
    stUserSetSave.ucBitRate[1] = 9;
    stUserSetSave.ucRecReso = 14;
    stUserSetSave.ucProfile = 1;
    stUserSetSave.ucRotate = 2;
    stUserSetSave.bSdCardSel = 3;
    EXPECT_EQ(UserParaSaveAt(f.c_str()), NoErr);
    EXPECT_EQ(read_all(f), std::string("\x5A\xA5\x00\x01\x07\x09\x9E\x03", 8));

    EXPECT_EQ(UserParaResetAt(f.c_str()), NoErr);
    EXPECT_EQ(read_all(f), std::string("\x5A\xA5\x00\x00\x01\x02\x23\x00", 8));
    EXPECT_EQ(bytes_of(&stUserSetSave, 8), bytes_of(&tUserSetDef, 8));

    EXPECT_EQ(UserParaSaveAt(tmp.path("no/such/dir/userpara").c_str()), FileCreatFail);
}

TEST_F(Settings, MissingShortOrInvalidFileGivesDefaultsAndIsNotRewritten) {
    const std::string f = tmp.path("userpara");
    UserParaInitAt(f.c_str());
    EXPECT_EQ(bytes_of(&stUserSetSave, 8), bytes_of(&tUserSetDef, 8));
    EXPECT_FALSE(exists(f));

    // A valid start but only 7 bytes.
    const std::string shortFile("\x5A\xA5\x01\x01\x05\x06\x2D", 7);
    write_all(f, shortFile);
    reset_settings();
    UserParaInitAt(f.c_str());
    EXPECT_EQ(bytes_of(&stUserSetSave, 8), bytes_of(&tUserSetDef, 8));
    EXPECT_EQ(read_all(f), shortFile);

    const std::string badId("\xA5\x5A\x01\x01\x05\x06\x2D\x01", 8);
    write_all(f, badId);
    reset_settings();
    UserParaInitAt(f.c_str());
    EXPECT_EQ(bytes_of(&stUserSetSave, 8), bytes_of(&tUserSetDef, 8));
    EXPECT_EQ(read_all(f), badId);
}

TEST_F(Settings, ValidFileIsLoadedAsIs) {
    const std::string f = tmp.path("userpara");
    const std::string good("\x5A\xA5\x01\x01\x05\x06\xED\x02", 8);  // mode 13, profile 2, rotate 3
    write_all(f, good);
    UserParaInitAt(f.c_str());
    EXPECT_EQ(save_bytes(stUserSetSave), good);
    EXPECT_EQ(stUserSetSave.ucRecReso, 13u);
    EXPECT_EQ(stUserSetSave.ucRotate, 3u);
    EXPECT_EQ(stUserSetSave.bSdCardSel, 2u);
}

// A saved mode outside the table would leave frame rate 0 for the encoder
// and the muxer: it is replaced by the default mode, the rest is kept.
TEST_F(Settings, UnknownSavedModeBecomesDefaultMode) {
    const std::string f = tmp.path("userpara");
    for (uint8_t mode : {0, 4, 8, 15}) {
        SCOPED_TRACE(int(mode));
        reset_settings();
        std::string file("\x5A\xA5\x00\x00\x04\x05\x00\x01", 8);
        file[6] = char(0x10 | mode);  // profile 1
        write_all(f, file);
        StartupLoadSettings(f.c_str());
        EXPECT_EQ(stUserSetSave.ucRecReso, USER_DEFAULT_VI_MODE);
        EXPECT_EQ(stUserSetSave.ucProfile, 1u);
        EXPECT_EQ(stUserSetSave.ucBitRate[0], 4u);
        EXPECT_EQ(g_stUserSet.ucRecReso, USER_DEFAULT_VI_MODE);
        EXPECT_EQ(stUser.enViMode, USER_DEFAULT_VI_MODE);
        EXPECT_EQ(stUser.ucOutTiming, 16u);
        EXPECT_EQ(stUser.ucSrcFrameRate, 30u);
        EXPECT_EQ(g_DstFrameRatePrev, 30u);
        EXPECT_EQ(read_all(f), file);
    }
}

TEST_F(Settings, FrameRateTable) {
    struct Row {
        uint8_t code, timing, fps;
    };
    const Row rows[] = {{1, 3, 50},  {2, 1, 25},  {3, 16, 30}, {5, 18, 24},
                        {6, 1, 50},  {7, 4, 60},  {9, 4, 60},  {10, 2, 30},
                        {11, 3, 50}, {12, 2, 24}, {13, 17, 25}, {14, 2, 60}};
    for (const Row& r : rows) {
        SCOPED_TRACE(int(r.code));
        EXPECT_TRUE(IsKnownInputMode(r.code));
        SetFrameRatePara(r.code);
        EXPECT_EQ(stUser.enViMode, r.code);
        EXPECT_EQ(stUser.ucOutTiming, r.timing);
        EXPECT_EQ(stUser.ucSrcFrameRate, r.fps);
        EXPECT_EQ(stUser.ucDstFrameRate, r.fps);
    }
    // Unknown codes keep the previous timing and rates.
    SetFrameRatePara(13);
    for (int code : {0, 4, 8, 15, 16, 255}) {
        SCOPED_TRACE(code);
        EXPECT_FALSE(IsKnownInputMode(uint8_t(code)));
        SetFrameRatePara(uint8_t(code));
        EXPECT_EQ(stUser.enViMode, code);
        EXPECT_EQ(stUser.ucOutTiming, 17u);
        EXPECT_EQ(stUser.ucSrcFrameRate, 25u);
        EXPECT_EQ(stUser.ucDstFrameRate, 25u);
    }
    // With no previous rate an unknown code falls back to the default mode.
    memset(&stUser, 0, sizeof(stUser));
    SetFrameRatePara(8);
    EXPECT_EQ(stUser.enViMode, USER_DEFAULT_VI_MODE);
    EXPECT_EQ(stUser.ucOutTiming, 16u);
    EXPECT_EQ(stUser.ucSrcFrameRate, 30u);
    EXPECT_EQ(stUser.ucDstFrameRate, 30u);
}

TEST_F(Settings, StartupTakesOverOnlyTheLiveFields) {
    const std::string f = tmp.path("userpara");
    // rc modes 2 3, bit rates 5 6, mode 13, profile 1, rotate 3, slot 2.
    write_all(f, std::string("\x5A\xA5\x02\x03\x05\x06\xDD\x02", 8));
    StartupLoadSettings(f.c_str());
    const std::vector<uint8_t> want = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                       0, 0, 5, 6, 0, 0x10, 0x1D, 0};
    EXPECT_EQ(bytes_of(&g_stUserSet, 24), want);
    EXPECT_EQ(stUser.enViMode, 13u);
    EXPECT_EQ(stUser.ucOutTiming, 17u);
    EXPECT_EQ(stUser.ucSrcFrameRate, 25u);
    EXPECT_EQ(stUser.ucDstFrameRate, 25u);
    EXPECT_EQ(g_SrcFrameRatePrev, 25u);
    EXPECT_EQ(g_DstFrameRatePrev, 25u);

    // Fresh device without a settings file.
    reset_settings();
    StartupLoadSettings(tmp.path("absent").c_str());
    EXPECT_EQ(bytes_of(&g_stUserSet, 24),
              (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                    0, 0, 1, 2, 0, 0, 0x23, 0}));
    EXPECT_EQ(stUser.ucOutTiming, 16u);
    EXPECT_EQ(g_SrcFrameRatePrev, 30u);
    EXPECT_FALSE(exists(tmp.path("absent")));
}

TEST_F(Settings, DebugInfoNamesTheMode) {
    auto output_for = [](uint8_t code) {
        SetFrameRatePara(code);
        testing::internal::CaptureStdout();
        DebugInfo();
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    };
    std::string out = output_for(11);
    EXPECT_NE(out.find("-----------------user info-------------------\n--b SAMPLE_VI_1080P50\n"
                       "--stUser.ucSrcFrameRate = 50\n--stUser.ucDstFrameRate = 50\n"
                       "------------------------------------\n"),
              std::string::npos)
        << out;
    out = output_for(13);
    EXPECT_NE(out.find("--d SAMPLE_VI_1080P25\n"), std::string::npos) << out;
    out = output_for(12);
    EXPECT_NE(out.find("--12 enViMode Value Fail\n"), std::string::npos) << out;
}
