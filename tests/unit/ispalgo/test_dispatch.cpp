// The dispatch frame: which ids it knows per direction, size checks, and
// what a missing algorithm answers, before any kind's conversion is asked.
#include <gtest/gtest.h>
#include <string.h>

#include "drv_algo_if.h"
#include "isp_api_records.h"

namespace {

struct Call {
    const char *what;
    LX_U32 dir, id, size;
    bool ae, awb, af;  // which handles are present
    LX_S32 want;
    const char *message;  // printed line, "" for none
    bool zeroed;          // the caller's record comes back all zero
};

TEST(Dispatch, FrameAnswersBeforeTheConversions) {
    static int dummy;
    const Call calls[] = {
        {"unknown id", 0, 0x1805, 4, true, true, true, 15,
         "[ERROR - ISP API SET] Not support - Ctrl ID = 6149\n", false},
        {"set of a get-only id", 0, 0x1401, 520, true, true, true, 15,
         "[ERROR - ISP API SET] Not support - Ctrl ID = 5121\n", false},
        {"get of a set-only id", 1, 0x240F, 72, true, true, true, 15,
         "[ERROR - ISP API GET] Not support - Ctrl ID = 9231\n", false},
        {"AF gap", 1, 0x1C0A, 4, true, true, true, 15, "[ERROR - ISP API GET] Not support - Ctrl ID = 7178\n",
         false},
        {"size", 0, 0x1C05, 4, true, true, true, 14,
         "[ERROR - ISP API SET] Structure mismatch - Ctrl ID = 7173 \n", false},
        {"size on get", 1, 0x1403, 12, true, true, true, 14,
         "[ERROR - ISP API SET] Structure mismatch - Ctrl ID = 5123 \n", false},
        {"no AE", 1, 0x1403, 8, false, true, true, 6, "", false},
        {"no AWB", 0, 0x1806, 4, true, false, true, 6, "", false},
        {"no AWB, calibration of any length", 0, 0x240F, 3, true, false, true, 6, "", false},
        {"no AF, get", 1, 0x1C29, 16, true, true, false, 6, "", true},
        {"no AF, set", 0, 0x1C29, 16, true, true, false, 6, "", false},
    };
    for (const Call &c : calls) {
        uint8_t rec[64];
        memset(rec, 0xA5, sizeof rec);
        testing::internal::CaptureStderr();
        LX_S32 r = c.dir == 0 ? DrvAlgo_IF_ApiSet(c.id, c.ae ? &dummy : nullptr, c.awb ? &dummy : nullptr,
                                                  c.af ? &dummy : nullptr, nullptr, c.size, rec)
                              : DrvAlgo_IF_ApiGet(c.id, c.ae ? &dummy : nullptr, c.awb ? &dummy : nullptr,
                                                  c.af ? &dummy : nullptr, nullptr, c.size, rec);
        std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_EQ(c.want, r) << c.what;
        EXPECT_EQ(c.message, printed) << c.what;
        for (LX_U32 i = 0; i < sizeof rec; ++i)
            ASSERT_EQ(c.zeroed && i < c.size ? 0 : 0xA5, rec[i]) << c.what << " byte " << i;
    }
}

TEST(Dispatch, TableHasEveryIdWithItsRecordSize) {
    struct Row {
        LX_U32 id, set_size, get_size;  // 0: not in that direction
    };
    const Row rows[] = {
        {0x1401, 0, 520},      {0x1402, 0, 572},      {0x1403, 8, 8},       {0x1404, 4, 4},
        {0x1405, 16, 16},      {0x1406, 4, 4},        {0x1407, 132, 132},   {0x1408, 40, 40},
        {0x1409, 32, 32},      {0x140A, 260, 260},    {0x140B, 260, 260},   {0x140C, 4, 4},
        {0x140D, 3076, 3076},  {0x140E, 4, 4},        {0x140F, 296, 296},   {0x1410, 8, 8},
        {0x1411, 132, 132},    {0x1412, 16, 16},      {0x1413, 16, 16},     {0x1414, 0, 12},
        {0x1415, 8, 8},        {0x1416, 660, 660},    {0x1417, 0, 14},      {0x1418, 12, 12},
        {0x1419, 0, 12},       {0x1801, 0, 24},       {0x1802, 1464, 1464}, {0x1803, 52, 52},
        {0x1804, 44, 44},      {0x1806, 4, 4},        {0x1807, 12, 12},     {0x1808, 0, 12},
        {0x1809, 12, 12},      {0x1C01, 8, 8},        {0x1C02, 128, 128},   {0x1C03, 84, 84},
        {0x1C04, 52, 52},      {0x1C05, 3, 3},        {0x1C06, 4, 4},       {0x1C07, 12, 12},
        {0x1C08, 28, 28},      {0x1C09, 40, 40},      {0x1C29, 16, 16},     {0x1C2A, 8, 8},
        {0x1C2B, 272, 272},    {0x1C2C, 8, 8},        {0x1C2D, 24, 24},     {0x1C2E, 8, 8},
        {0x1C2F, 6, 6},        {0x240F, 1, 0},        {0x2C03, 84, 84},     {0x2C04, 0, 23044},
        {0x2C05, 0, 34560},    {0x2C06, 0, 80},
    };
    int known = 0;
    for (LX_U32 id = 0x1000; id < 0x3200; ++id)
        for (LX_U32 dir = 0; dir < 2; ++dir) known += DrvAlgo_IF_Lookup(id, dir, nullptr, nullptr) == 0;
    int want = 0;
    for (const Row &r : rows) {
        for (LX_U32 dir = 0; dir < 2; ++dir) {
            const LX_U32 size = dir == 0 ? r.set_size : r.get_size;
            DRVALGO_KIND kind;
            LX_U32 got = 99;
            ASSERT_EQ(size ? 0 : -1, DrvAlgo_IF_Lookup(r.id, dir, &kind, &got)) << std::hex << r.id << " " << dir;
            if (!size) continue;
            ++want;
            EXPECT_EQ(r.id == 0x240F ? 0 : size, got) << std::hex << r.id;
            const DRVALGO_KIND k = (r.id >> 8) == 0x14 ? DRVALGO_KIND_AE
                                   : (r.id >> 8) == 0x1C ? DRVALGO_KIND_AF
                                                         : DRVALGO_KIND_AWB;
            EXPECT_EQ(k, kind) << std::hex << r.id;
        }
    }
    EXPECT_EQ(want, known);
}

}  // namespace
