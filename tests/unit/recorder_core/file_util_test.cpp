#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <string>

#include "file_util.h"
#include "test_tmpdir.h"

namespace {

class FileUtil : public ::testing::Test {
protected:
    TmpDir tmp;
};

}  // namespace

TEST_F(FileUtil, WriteCreatesTruncatesAndAppends) {
    const std::string f = tmp.path("a.bin");
    EXPECT_EQ(WriteFile(f.c_str(), "\x01\x02\x03\x00\x05", 5), NoErr);
    EXPECT_EQ(read_all(f), std::string("\x01\x02\x03\x00\x05", 5));
    EXPECT_EQ(WriteFile(f.c_str(), "xy", 2), NoErr);
    EXPECT_EQ(read_all(f), "xy");
    EXPECT_EQ(WriteFileEx(f.c_str(), "z\n", 2), NoErr);
    EXPECT_EQ(read_all(f), "xyz\n");
    EXPECT_EQ(WriteFileEx(tmp.path("new.txt").c_str(), "n", 1), NoErr);
    EXPECT_EQ(read_all(tmp.path("new.txt")), "n");

    std::string big(65535, 'q');
    big[65534] = 'e';
    EXPECT_EQ(WriteFile(f.c_str(), big.data(), 65535), NoErr);
    EXPECT_EQ(read_all(f), big);
}

TEST_F(FileUtil, OpenAndTransferErrors) {
    const std::string missingDir = tmp.path("nodir/file");
    EXPECT_EQ(WriteFile(missingDir.c_str(), "x", 1), FileCreatFail);
    EXPECT_EQ(WriteFileEx(missingDir.c_str(), "x", 1), FileCreatFail);
    char buf[4] = {'k', 'k', 'k', 'k'};
    EXPECT_EQ(ReadFileEx(tmp.path("missing").c_str(), buf, 4), FileOpenFail);
    EXPECT_EQ(memcmp(buf, "kkkk", 4), 0);
    int len = -7;
    EXPECT_EQ(ReadFileByLine(tmp.path("missing").c_str(), buf, &len, 0, sizeof(buf)), FileOpenFail);
    EXPECT_EQ(len, -7);
    // Reading a directory opens but fails to read.
    EXPECT_EQ(ReadFileEx(tmp.dir().c_str(), buf, 4), FileReadFail);
    // A full device fails the write.
    struct stat st;
    if (stat("/dev/full", &st) == 0) {
        EXPECT_EQ(WriteFile("/dev/full", "x", 1), FileWriteFail);
    }
}

TEST_F(FileUtil, ShortReadKeepsTheRestAndReportsTheCount) {
    const std::string f = tmp.path("s.bin");
    write_all(f, "abc");
    char buf[6] = {'1', '2', '3', '4', '5', '6'};
    size_t got = 99;
    EXPECT_EQ(ReadFileEx(f.c_str(), buf, 6, &got), NoErr);
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(std::string(buf, 6), "abc456");
    EXPECT_EQ(ReadFileEx(f.c_str(), buf, 2), NoErr);
    EXPECT_EQ(std::string(buf, 6), "abc456");
}

TEST_F(FileUtil, ReadFileByLine) {
    const std::string f = tmp.path("net.txt");
    write_all(f, "192.168.1.10\r\n255.255.255.0\r\n10.0.0.1\nlast");
    char buf[32];
    int len = -1;
    EXPECT_EQ(ReadFileByLine(f.c_str(), buf, &len, 1, sizeof(buf)), NoErr);
    EXPECT_STREQ(buf, "255.255.255.0\r\n");
    EXPECT_EQ(len, 13);
    EXPECT_EQ(ReadFileByLine(f.c_str(), buf, &len, 0, sizeof(buf)), NoErr);
    EXPECT_STREQ(buf, "192.168.1.10\r\n");
    EXPECT_EQ(len, 12);
    // A bare line feed or no line end at all: the length is still the text's.
    EXPECT_EQ(ReadFileByLine(f.c_str(), buf, &len, 2, sizeof(buf)), NoErr);
    EXPECT_STREQ(buf, "10.0.0.1\n");
    EXPECT_EQ(len, 8);
    EXPECT_EQ(ReadFileByLine(f.c_str(), buf, &len, 3, sizeof(buf)), NoErr);
    EXPECT_STREQ(buf, "last");
    EXPECT_EQ(len, 4);
    // Fewer lines: buffer and length untouched, still no error.
    memcpy(buf, "keep", 5);
    len = 77;
    EXPECT_EQ(ReadFileByLine(f.c_str(), buf, &len, 4, sizeof(buf)), NoErr);
    EXPECT_STREQ(buf, "keep");
    EXPECT_EQ(len, 77);
}

TEST_F(FileUtil, ReadFileByLineStaysInsideTheCallersBuffer) {
    const std::string f = tmp.path("long.txt");
    write_all(f, "short\r\n" + std::string(300, 'L') + "\r\n");
    char buf[16 + 8];
    memset(buf, 0x5A, sizeof(buf));
    int len = -1;
    EXPECT_EQ(ReadFileByLine(f.c_str(), buf, &len, 1, 16), NoErr);
    EXPECT_EQ(std::string(buf), std::string(15, 'L'));
    EXPECT_EQ(len, 15);
    for (size_t i = 16; i < sizeof(buf); ++i) EXPECT_EQ(buf[i], 0x5A) << i;
    // Cut inside the line end: the length counts only text.
    EXPECT_EQ(ReadFileByLine(f.c_str(), buf, &len, 0, 7), NoErr);
    EXPECT_STREQ(buf, "short\r");
    EXPECT_EQ(len, 5);
}

TEST(TimeFormat, FourFormats) {
    const char* oldTz = getenv("TZ");
    const std::string saved = oldTz ? oldTz : "";
    setenv("TZ", "UTC0", 1);
    tzset();
    struct tm tmv = {};
    tmv.tm_year = 2024 - 1900;
    tmv.tm_mon = 2;
    tmv.tm_mday = 5;
    tmv.tm_hour = 7;
    tmv.tm_min = 8;
    tmv.tm_sec = 9;
    const time_t t = timegm(&tmv);
    char out[40];
    EXPECT_EQ(format_local_time(out, sizeof(out), t, 2), 14u);
    EXPECT_STREQ(out, "20240305070809");
    format_local_time(out, sizeof(out), t, 0);
    EXPECT_STREQ(out, "20240305");
    format_local_time(out, sizeof(out), t, 9);
    EXPECT_STREQ(out, "20240305");
    format_local_time(out, sizeof(out), t, 1);
    EXPECT_STREQ(out, "070809");
    format_local_time(out, sizeof(out), t, 3);
    EXPECT_STREQ(out, "2024-03-05 07:08:09");

    // Local time, not UTC.
    setenv("TZ", "XYZ-3", 1);
    tzset();
    format_local_time(out, sizeof(out), t, 1);
    EXPECT_STREQ(out, "100809");

    // The current time: one static buffer, the latest format in it.
    char* a = get_current_time(2);
    EXPECT_EQ(strlen(a), 14u);
    char* b = get_current_time(0);
    EXPECT_EQ(a, b);
    EXPECT_EQ(strlen(b), 8u);
    EXPECT_EQ(strspn(b, "0123456789"), 8u);

    if (oldTz)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}
