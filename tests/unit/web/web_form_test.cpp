// Form variables: decoding, cutting to the buffer, missing and malformed values.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "web_control.h"
#include "web_form.h"

namespace {

WebVar get(const std::string &body, const char *name, char *dst, size_t size) {
    return WebFormGet(body.data(), body.size(), name, dst, size);
}

TEST(WebForm, DecodesPlusAndEscapesAndFindsTheRightVariable) {
    char v[64];
    std::string body = "UserName=cam+1&StreamAddr=rtmp%3A%2F%2F10.0.0.2%2Flive%2Fa%3Fk%3D1&x=";
    EXPECT_EQ(get(body, "UserName", v, sizeof v), WebVar::Ok);
    EXPECT_STREQ(v, "cam 1");
    EXPECT_EQ(get(body, "StreamAddr", v, sizeof v), WebVar::Ok);
    EXPECT_STREQ(v, "rtmp://10.0.0.2/live/a?k=1");
    EXPECT_EQ(get(body, "x", v, sizeof v), WebVar::Ok);
    EXPECT_STREQ(v, "");
    // A name that is only the start of another, or an encoded name.
    EXPECT_EQ(get("setting10=5&setting1=7", "setting1", v, sizeof v), WebVar::Ok);
    EXPECT_STREQ(v, "7");
    EXPECT_EQ(get("Url%49ndex=3", "UrlIndex", v, sizeof v), WebVar::Ok);
    EXPECT_STREQ(v, "3");
    // The first of two, and a variable without "=".
    EXPECT_EQ(get("a=1&a=2", "a", v, sizeof v), WebVar::Ok);
    EXPECT_STREQ(v, "1");
    EXPECT_EQ(get("a&b=2", "a", v, sizeof v), WebVar::Missing);
}

TEST(WebForm, MissingVariableGivesEmptyText) {
    char v[8];
    memset(v, 'z', sizeof v);
    EXPECT_EQ(get("a=1&b=2", "c", v, sizeof v), WebVar::Missing);
    EXPECT_STREQ(v, "");
    EXPECT_EQ(get("", "c", v, sizeof v), WebVar::Missing);
    EXPECT_EQ(WebFormGet(nullptr, 0, "c", v, sizeof v), WebVar::Missing);
}

TEST(WebForm, LongValuesAreCutToTheBufferNeverPastIt) {
    // Guard bytes on both sides of a 16-byte buffer.
    char mem[16 + 32];
    memset(mem, 0x5A, sizeof mem);
    char *dst = mem + 16;
    std::string body = "UserName=" + std::string(100, 'u');
    EXPECT_EQ(get(body, "UserName", dst, 16), WebVar::Cut);
    EXPECT_EQ(std::string(dst), std::string(15, 'u'));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(mem[i], 0x5A);
    for (int i = 32; i < 48; ++i) EXPECT_EQ(mem[i], 0x5A) << i;

    // Exactly size-1 characters fit; escapes count decoded.
    char v[4];
    EXPECT_EQ(get("i=123", "i", v, sizeof v), WebVar::Ok);
    EXPECT_STREQ(v, "123");
    EXPECT_EQ(get("i=1234", "i", v, sizeof v), WebVar::Cut);
    EXPECT_STREQ(v, "123");
    EXPECT_EQ(get("i=%31%32%33", "i", v, sizeof v), WebVar::Ok);
    EXPECT_STREQ(v, "123");
    char one[1];
    EXPECT_EQ(get("i=1", "i", one, sizeof one), WebVar::Cut);
    EXPECT_STREQ(one, "");
}

TEST(WebForm, BrokenEscapesAndNulBytesAreMalformed) {
    char v[16];
    for (const char *body : {"a=%", "a=%4", "a=%zz", "a=1%2", "a=%00x", "a=ab%0"}) {
        strcpy(v, "old");
        EXPECT_EQ(get(body, "a", v, sizeof v), WebVar::Bad) << body;
        EXPECT_STREQ(v, "") << body;
    }
    // The value ends at the next '&', so an escape cannot reach into it.
    EXPECT_EQ(get("a=%4&b=1", "a", v, sizeof v), WebVar::Bad);
    EXPECT_EQ(get("a=%4&b=1", "b", v, sizeof v), WebVar::Ok);
}

TEST(WebForm, DecimalOnlyDigitsWithinRange) {
    unsigned v = 77;
    EXPECT_TRUE(WebParseDecimal("0", 1, &v));
    EXPECT_EQ(v, 0u);
    EXPECT_TRUE(WebParseDecimal("255", 255, &v));
    EXPECT_EQ(v, 255u);
    EXPECT_TRUE(WebParseDecimal("007", 9, &v));
    EXPECT_EQ(v, 7u);
    v = 77;
    for (const char *bad : {"", "256", "-1", "+1", " 1", "1 ", "1a", "0x1", "9999999999"})
        EXPECT_FALSE(WebParseDecimal(bad, 255, &v)) << bad;
    EXPECT_FALSE(WebParseDecimal(nullptr, 255, &v));
    EXPECT_EQ(v, 77u);
}

TEST(WebForm, CheckIpWantsFourNumbersAndNothingElse) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(CheckIp("192.168.1.231"), 1);
    EXPECT_EQ(CheckIp("0.0.0.0"), 1);
    EXPECT_EQ(CheckIp("255.255.255.255"), 1);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[192.168.1.231] is valid IPv4\n"), std::string::npos);

    testing::internal::CaptureStdout();
    for (const char *bad : {"192.168.1.300", "1.2.3", "1.2.3.4.5", "1.2.3.4x", "1..2.3", " 1.2.3.4", "1.2.3.-4",
                            "a.b.c.d", "", "1.2.3.0004", "256.1.1.1"})
        EXPECT_EQ(CheckIp(bad), 0) << bad;
    EXPECT_EQ(CheckIp(nullptr), 0);
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[192.168.1.300] is invalid IPv4\n"), std::string::npos);
}

}  // namespace
