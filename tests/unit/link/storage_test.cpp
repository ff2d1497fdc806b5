#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include "link_test_util.h"
#include "user_setting.h"
#include "usb_detect.h"

TEST(StoragePartitions, DisksAndTheirPartitions) {
    ScratchDir d;
    WriteText(d / "p", "   8        0    7818240 sda\n   8        1    7817216 sda1\n"
                       "   8       16  500107608 sdb\n   8       17     524288 sdb1\n   8       18  499582279 sdb2\n"
                       "noblank\n");
    tagDevinfo_T t;
    ASSERT_EQ(0, UsbParsePartitions((d / "p").c_str(), &t));
    ASSERT_EQ(2, t.devcount);
    EXPECT_STREQ("sda", t.dev[0].devname);
    EXPECT_EQ(7818240u, t.dev[0].dev_totalspace);
    ASSERT_EQ(1, t.dev[0].partition_count);
    EXPECT_EQ(7817216u, t.dev[0].partition_size[0]);
    EXPECT_STREQ("sdb", t.dev[1].devname);
    EXPECT_EQ(500107608u, t.dev[1].dev_totalspace);
    ASSERT_EQ(2, t.dev[1].partition_count);
    EXPECT_EQ(524288u, t.dev[1].partition_size[0]);
    EXPECT_EQ(499582279u, t.dev[1].partition_size[1]);
    EXPECT_EQ(-1, UsbParsePartitions((d / "missing").c_str(), &t));
}

TEST(StoragePartitions, TablesNeverOverflow) {
    ScratchDir d;
    std::string s = "8 0 100 sda\n";
    for (int i = 1; i <= 20; i++) s += "8 " + std::to_string(i) + " " + std::to_string(i) + " sda" + std::to_string(i) + "\n";
    for (char c = 'b'; c <= 'm'; c++) s += std::string("8 0 5 sd") + c + "\n";
    WriteText(d / "p", s);
    tagDevinfo_T t;
    ASSERT_EQ(0, UsbParsePartitions((d / "p").c_str(), &t));
    EXPECT_EQ(USB_DEV_MAX, t.devcount);
    EXPECT_EQ(USB_PART_MAX, t.dev[0].partition_count);
    EXPECT_EQ(12u, t.dev[0].partition_size[11]);
    EXPECT_STREQ("sdh", t.dev[7].devname);
}

// A scratch board: partition list, removable flags, nodes, mount points and
// the two scripts, which log their calls and mount by linking the partition to
// a real mounted file system named in "mount_to" (or, without it, leave a plain
// directory as a failed mount would).
class StorageBoard : public ::testing::Test {
protected:
    ScratchDir d;
    char oldcwd[PATH_MAX] = {};
    ST_USB_PATHS paths{};
    std::string s_part, s_tmp, s_sys, s_dev, s_mnt, s_tmpdir;

    void SetUp() override {
        for (auto sub : {"sys", "dev", "vendor", "tmp"}) mkdir((d / sub).c_str(), 0755);
        s_part = d / "partitions";
        s_tmp = d / "tmp/partitions.txt";
        s_sys = d / "sys";
        s_dev = d / "dev";
        s_mnt = d / "vendor";
        s_tmpdir = d / "tmp";
        paths = {s_part.c_str(), s_tmp.c_str(), s_sys.c_str(), s_dev.c_str(), s_mnt.c_str(), s_tmpdir.c_str()};
        UsbDetectSetPaths(&paths);
        WriteText(d / "insert.sh",
                  "#!/bin/sh\necho \"insert $1\" >> log\n"
                  "if [ -s mount_to ]; then ln -s \"$(cat mount_to)\" vendor/$1; else mkdir -p vendor/$1; fi\n"
                  "echo mounted $1\n");
        WriteText(d / "remove.sh", "#!/bin/sh\necho \"remove $1\" >> log\nrm -rf vendor/$1\n");
        chmod((d / "insert.sh").c_str(), 0755);
        chmod((d / "remove.sh").c_str(), 0755);
        ASSERT_NE(nullptr, getcwd(oldcwd, sizeof(oldcwd)));
        ASSERT_EQ(0, chdir(d.path.c_str()));
        memset(&g_stUserSet, 0, sizeof(g_stUserSet));
        DevDiskXInit();
    }
    void TearDown() override {
        if (chdir(oldcwd) != 0) {
        }
        UsbDetectSetPaths(nullptr);
    }
    void Disk(const std::string& name, int removable, bool node = true) {
        mkdir((d / ("sys/" + name)).c_str(), 0755);
        WriteText(d / ("sys/" + name + "/removable"), std::to_string(removable) + "\n");
        if (node) WriteText(d / ("dev/" + name), "");
    }
    void List(const std::vector<std::string>& names) {
        std::string s = "major minor  #blocks  name\n\n 179 0 3872256 mmcblk0\n";
        for (auto& n : names) s += "   8        0    7818240 " + n + "\n   8        1    7817216 " + n + "1\n";
        WriteText(s_part, s);
    }
    std::string Log() { return ReadText(d / "log"); }
};

TEST_F(StorageBoard, RemovableFlagTellsUsbFromFixed) {
    Disk("sda", 1);
    Disk("sdb", 0);
    mkdir((d / "sys/sdc").c_str(), 0755);
    WriteText(d / "sys/sdc/removable", "7\n");
    EXPECT_EQ(USB_DEVTYPE_USB, CheckIsDiskOrUsbDisk("sda"));
    EXPECT_EQ(USB_DEVTYPE_HARD, CheckIsDiskOrUsbDisk("sdb"));
    EXPECT_EQ(-1, CheckIsDiskOrUsbDisk("sdc"));
    EXPECT_EQ(-1, CheckIsDiskOrUsbDisk("sdz"));
    // The temporary copies are cleaned up.
    EXPECT_EQ("", ReadText(d / "tmp/none"));
    int left = system(("test -z \"$(ls -A '" + s_tmpdir + "')\"").c_str());
    EXPECT_EQ(0, left);
}

TEST_F(StorageBoard, SdSlotIsFixedAtStart) {
    UsbDetectSetPaths(nullptr);
    DevDiskXInit();
    EXPECT_STREQ("mmcblk0", g_devinfo.dev[0].devname);
    EXPECT_STREQ("/dev/mmcblk0", g_devinfo.dev[0].ucDevPath);
    EXPECT_STREQ("/vendor/mmcblk0p1", g_devinfo.dev[0].ucMountPath);
    EXPECT_EQ(0, g_devinfo.dev[0].ucMount);
}

TEST_F(StorageBoard, UsbDiskPlugAndUnplugRunTheScriptsOnce) {
    Disk("sda", 1);
    List({"sda"});
    EXPECT_EQ(1, UsbDetectPoll());
    EXPECT_EQ("insert sda1\n", Log());
    const tagDevParam_T& s = g_devinfo.dev[USB_SLOT_USB];
    EXPECT_EQ(1, s.ucMount);
    EXPECT_STREQ("sda", s.devname);
    EXPECT_EQ(s_dev + "/sda", s.ucDevPath);
    EXPECT_EQ(s_mnt + "/sda1", s.ucMountPath);
    EXPECT_EQ(USB_DEVTYPE_USB, s.devtype);
    EXPECT_EQ(7818240u, s.dev_totalspace);
    EXPECT_EQ(0, g_devinfo.dev[USB_SLOT_HARD].ucMount);
    EXPECT_EQ(1, UsbDetectPoll());
    EXPECT_EQ("insert sda1\n", Log());  // mounted once
    List({});
    EXPECT_EQ(0, UsbDetectPoll());
    EXPECT_EQ("insert sda1\nremove sda1\n", Log());
    EXPECT_EQ(0, g_devinfo.dev[USB_SLOT_USB].ucMount);
    EXPECT_STREQ("", g_devinfo.dev[USB_SLOT_USB].ucMountPath);
    UserSetPut(UsrBits::SdCardSel, USB_SLOT_USB);
    EXPECT_EQ(nullptr, CheckSdx()) << "no directory to record to on a removed disk";
}

TEST_F(StorageBoard, FixedDiskTakesSlotTwoAndSecondDiskOfAKindWaits) {
    Disk("sda", 1);
    Disk("sdb", 0);
    Disk("sdc", 1);
    List({"sda", "sdb", "sdc"});
    EXPECT_EQ(3, UsbDetectPoll());
    EXPECT_EQ("insert sda1\ninsert sdb1\n", Log());
    EXPECT_STREQ("sda", g_devinfo.dev[USB_SLOT_USB].devname);
    EXPECT_STREQ("sdb", g_devinfo.dev[USB_SLOT_HARD].devname);
    EXPECT_EQ(s_mnt + "/sdb1", g_devinfo.dev[USB_SLOT_HARD].ucMountPath);
    // Only the fixed disk left: the USB slot is released.
    List({"sdb"});
    EXPECT_EQ(1, UsbDetectPoll());
    EXPECT_EQ("insert sda1\ninsert sdb1\nremove sda1\n", Log());
    EXPECT_EQ(0, g_devinfo.dev[USB_SLOT_USB].ucMount);
    EXPECT_EQ(1, g_devinfo.dev[USB_SLOT_HARD].ucMount);
    // Only a USB disk left: the fixed slot goes and the USB disk comes in.
    List({"sdc"});
    EXPECT_EQ(1, UsbDetectPoll());
    EXPECT_EQ("insert sda1\ninsert sdb1\nremove sda1\ninsert sdc1\nremove sdb1\n", Log());
    EXPECT_STREQ("sdc", g_devinfo.dev[USB_SLOT_USB].devname);
    EXPECT_EQ(0, g_devinfo.dev[USB_SLOT_HARD].ucMount);
}

TEST_F(StorageBoard, UnreadablePartitionListKeepsMountedDisks) {
    Disk("sda", 1);
    Disk("sdb", 0);
    List({"sda", "sdb"});
    ASSERT_EQ(2, UsbDetectPoll());
    unlink(s_part.c_str());
    EXPECT_EQ(-1, UsbDetectPoll());
    // The temporary copy cannot be written either.
    List({"sda", "sdb"});
    ASSERT_EQ(0, rmdir(s_tmpdir.c_str()) == 0 ? 0 : system(("rm -rf '" + s_tmpdir + "'").c_str()));
    EXPECT_EQ(-1, UsbDetectPoll());
    EXPECT_EQ("insert sda1\ninsert sdb1\n", Log());
    EXPECT_EQ(1, g_devinfo.dev[USB_SLOT_USB].ucMount);
    EXPECT_EQ(1, g_devinfo.dev[USB_SLOT_HARD].ucMount);
}

static bool IsMountedFs(const char* p) {
    struct stat a, b;
    return stat(p, &a) == 0 && stat((std::string(p) + "/..").c_str(), &b) == 0 && a.st_dev != b.st_dev;
}

TEST_F(StorageBoard, SizesComeFromTheMountedSlot) {
    const char* fs = "/dev/shm";
    if (!IsMountedFs(fs)) GTEST_SKIP() << fs << " is not a mounted file system here";
    WriteText(d / "mount_to", fs);
    Disk("sda", 1);
    List({"sda"});
    ASSERT_EQ(1, UsbDetectPoll());
    UserSetPut(UsrBits::SdCardSel, USB_SLOT_USB);
    EXPECT_STREQ((s_mnt + "/sda1").c_str(), CheckSdx());
    u32 total = 0, freemb = 0, used = 0;
    ASSERT_EQ(0, GetSDcardInfo_New(&total, &freemb, &used));
    struct statfs st;
    ASSERT_EQ(0, statfs(fs, &st));
    const uint64_t tb = (uint64_t)st.f_blocks * st.f_bsize, fb = (uint64_t)st.f_bfree * st.f_bsize;
    EXPECT_EQ((u32)(tb >> 20), total);
    EXPECT_NEAR((double)(u32)(fb >> 20), (double)freemb, 1.0);  // others may write to it meanwhile
    EXPECT_NEAR((double)(u32)((tb - fb) >> 20), (double)used, 1.0);
    EXPECT_EQ(2, UserSetGet(UsrBits::SdCardStatus));
    u32 v = 0;
    EXPECT_EQ(0, GetSDcardInfo(&v, 1));
    EXPECT_EQ(total, v);
    EXPECT_EQ(-1, GetStorageInfo(fs, &v, 4));
    EXPECT_EQ(-1, GetStorageInfo((d / "nothing").c_str(), &v, 1));
    // The node going away makes the storage absent.
    unlink((d / "dev/sda").c_str());
    EXPECT_EQ(2, GetSDcardInfo_New(&total, &freemb, &used));
    EXPECT_EQ(0, UserSetGet(UsrBits::SdCardStatus));
}

TEST_F(StorageBoard, FailedMountIsNeverOfferedForRecording) {
    Disk("sda", 1);
    List({"sda"});
    ASSERT_EQ(1, UsbDetectPoll());  // the script leaves a plain directory
    struct stat st;
    ASSERT_EQ(0, stat((s_mnt + "/sda1").c_str(), &st));
    UserSetPut(UsrBits::SdCardSel, USB_SLOT_USB);
    UserSetPut(UsrBits::SdCardStatus, 2);
    u32 total = 1, freemb = 1, used = 1, v = 1;
    EXPECT_EQ(2, GetSDcardInfo_New(&total, &freemb, &used));
    EXPECT_EQ(2, GetSDcardInfo(&v, 1));
    EXPECT_EQ(0, UserSetGet(UsrBits::SdCardStatus));
    EXPECT_EQ(nullptr, CheckSdx()) << "never the root file system";
    EXPECT_EQ(0, UsbIsMountPoint((s_mnt + "/sda1").c_str()));
    EXPECT_EQ(1, UsbIsMountPoint("/"));
}

TEST_F(StorageBoard, EmptySlotsAnswerAbsent) {
    u32 v = 0, a, b, c;
    for (int slot : {0, 1, 2, 3}) {
        UserSetPut(UsrBits::SdCardSel, (uint8_t)slot);
        EXPECT_EQ(2, GetSDcardInfo(&v, 1)) << slot;
        EXPECT_EQ(2, GetSDcardInfo_New(&a, &b, &c)) << slot;
        EXPECT_EQ(0, UserSetGet(UsrBits::SdCardStatus));
    }
}

TEST_F(StorageBoard, CopyFileFiltersLines) {
    WriteText(d / "src", "8 0 1 sda\n179 0 2 mmcblk0\n8 1 1 sda1\n");
    EXPECT_EQ(0, DvrCpFile((d / "src").c_str(), (d / "dst").c_str(), 1, "sd"));
    EXPECT_EQ("8 0 1 sda\n8 1 1 sda1\n", ReadText(d / "dst"));
    EXPECT_EQ(0, DvrCpFile((d / "src").c_str(), (d / "dst").c_str(), 0, "sd"));
    EXPECT_EQ(ReadText(d / "src"), ReadText(d / "dst"));
    EXPECT_EQ(-1, DvrCpFile((d / "none").c_str(), (d / "dst").c_str(), 0, nullptr));
    EXPECT_EQ(-1, DvrCpFile((d / "src").c_str(), (d / "no/dir/dst").c_str(), 0, nullptr));
}
