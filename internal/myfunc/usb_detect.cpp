#include "usb_detect.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include "user_setting.h"

tagDevinfo_T g_devinfo;

static const ST_USB_PATHS kDefaultPaths = {
    "/proc/partitions", "/tmp/partitions.txt", "/sys/block", "/dev", "/vendor", "/tmp",
};
static ST_USB_PATHS s_paths = kDefaultPaths;

void UsbDetectSetPaths(const ST_USB_PATHS *paths) { s_paths = paths ? *paths : kDefaultPaths; }
const ST_USB_PATHS *UsbDetectPaths(void) { return &s_paths; }

// ---- sizes --------------------------------------------------------------------

int GetStorageInfo_New(const char *MountPoint, u32 *pTotal, u32 *pFree, u32 *pUsed) {
    struct statfs st;
    if (statfs(MountPoint, &st) != 0) {
        fprintf(stderr, "%s: %s\n", MountPoint, strerror(errno));
        printf("statfs failed for path->[%s]\n", MountPoint);
        return -1;
    }
    u64 total = (u64)st.f_blocks * (u64)st.f_bsize;
    u64 freeb = (u64)st.f_bfree * (u64)st.f_bsize;
    u64 used = total - freeb;
    *pTotal = (u32)(total >> 20);
    *pFree = (u32)(freeb >> 20);
    *pUsed = (u32)(used >> 20);
    return 0;
}

int GetStorageInfo(const char *MountPoint, u32 *Capacity, int type) {
    u32 total, freemb, used;
    if (GetStorageInfo_New(MountPoint, &total, &freemb, &used) != 0) return -1;
    switch (type) {
    case 1: *Capacity = total; return 0;
    case 2: *Capacity = used; return 0;
    case 3: *Capacity = freemb; return 0;
    default: return -1;
    }
}

int UsbIsMountPoint(const char *path) {
    struct stat self, parent;
    if (stat(path, &self) != 0 || !S_ISDIR(self.st_mode)) return 0;
    char up[PATH_MAX];
    if (snprintf(up, sizeof(up), "%s/..", path) >= (int)sizeof(up)) return 0;
    if (stat(up, &parent) != 0) return 0;
    if (self.st_dev != parent.st_dev) return 1;
    return self.st_ino == parent.st_ino;  // the root directory
}

// ---- presence -------------------------------------------------------------------

int OpenSdCard(const char *node) {
    int fd = (node && node[0]) ? open(node, O_RDWR) : -1;
    if (fd < 0) {
        UserSetPut(UsrBits::SdCardStatus, 0);
        return 0;
    }
    close(fd);
    UserSetPut(UsrBits::SdCardStatus, 2);
    return 1;
}

static pthread_mutex_t s_tableLock = PTHREAD_MUTEX_INITIALIZER;
void UsbStorageLock(void) { pthread_mutex_lock(&s_tableLock); }
void UsbStorageUnlock(void) { pthread_mutex_unlock(&s_tableLock); }
static unsigned s_slotGeneration[USB_DEV_MAX] = {};
unsigned UsbStorageGeneration(int slot) { return s_slotGeneration[(unsigned)slot % USB_DEV_MAX]; }

int UsbSelectedSlot(void) { return UserSetGet(UsrBits::SdCardSel) % USB_DEV_MAX; }
static tagDevParam_T *SelectedSlot(void) { return &g_devinfo.dev[UsbSelectedSlot()]; }

// The selected slot's node must open and its mount point must really be a
// mounted file system: a mount script that failed leaves a plain directory on
// the root file system, which must never be offered for recording.
static int SelectedMountPoint(char *out, size_t len) {
    char node[sizeof(g_devinfo.dev[0].ucDevPath)];
    UsbStorageLock();
    tagDevParam_T *d = SelectedSlot();
    memcpy(node, d->ucDevPath, sizeof(node));
    node[sizeof(node) - 1] = 0;
    snprintf(out, len, "%s", d->ucMountPath);
    UsbStorageUnlock();
    if (!OpenSdCard(node)) return 2;
    if (!UsbIsMountPoint(out)) {
        printf("%s is not mounted\n", out);
        UserSetPut(UsrBits::SdCardStatus, 0);
        return 2;
    }
    return 0;
}

int GetSDcardInfo(u32 *value, int kind) {
    char mp[sizeof(g_devinfo.dev[0].ucMountPath)];
    if (SelectedMountPoint(mp, sizeof(mp)) != 0) return 2;
    if (GetStorageInfo(mp, value, kind) != 0) return 2;
    return 0;
}

int GetSDcardInfo_New(u32 *total, u32 *freemb, u32 *used) {
    char mp[sizeof(g_devinfo.dev[0].ucMountPath)];
    if (SelectedMountPoint(mp, sizeof(mp)) != 0) return 2;
    if (GetStorageInfo_New(mp, total, freemb, used) != 0) return 2;
    return 0;
}

char *CheckSdx(void) {
    char *mp = SelectedSlot()->ucMountPath;
    return mp[0] && UsbIsMountPoint(mp) ? mp : nullptr;
}

// ---- files and commands ------------------------------------------------------

int DvrCpFile(const char *src, const char *dst, int mode, const char *key) {
    if (access(src, F_OK) != 0) {
        printf("ERROR: src file is not exist!\n");
        return -1;
    }
    FILE *in = fopen(src, "r");
    if (!in) {
        printf("ERROR: open flie %s\n", src);
        return -1;
    }
    FILE *out = fopen(dst, "w");
    if (!out) {
        printf("ERROR: open flie %s\n", dst);
        fclose(in);
        return -1;
    }
    char line[512];
    int rc = 0;
    while (fgets(line, sizeof(line), in)) {
        if (mode == 1 && key && !strstr(line, key)) continue;
        if (fputs(line, out) == EOF) rc = -1;
    }
    if (ferror(in)) rc = -1;
    fclose(in);
    if (fclose(out) != 0) rc = -1;
    return rc;
}

int MyExecCmd(const char *cmd) {
    FILE *p = popen(cmd, "r");
    if (!p) return 0;
    char line[1024];
    if (fgets(line, sizeof(line), p)) printf("%s", line);
    // Drain the rest so the command never blocks on a full pipe.
    while (fgets(line, sizeof(line), p)) {
    }
    pclose(p);
    return 0;
}

int CheckIsDiskOrUsbDisk(const char *devname) {
    char src[256];
    snprintf(src, sizeof(src), "%s/%s/removable", s_paths.sys_block, devname);
    char tmp[256];
    snprintf(tmp, sizeof(tmp), "%s/check_dev_typeXXXXXX", s_paths.tmp_dir);
    int fd = mkstemp(tmp);
    if (fd >= 0)
        close(fd);
    else
        snprintf(tmp, sizeof(tmp), "%s/check_dev_type.txt", s_paths.tmp_dir);
    int type = -1;
    if (DvrCpFile(src, tmp, 0, nullptr) == 0) {
        FILE *f = fopen(tmp, "r");
        char line[32];
        if (f && fgets(line, sizeof(line), f)) {
            int v = atoi(line);
            if (line[0] == '0') type = v == 0 ? USB_DEVTYPE_HARD : -1;
            if (line[0] == '1') type = v == 1 ? USB_DEVTYPE_USB : -1;
        }
        if (f) fclose(f);
    }
    unlink(tmp);
    return type;
}

// ---- partition list ---------------------------------------------------------------

int UsbParsePartitions(const char *file, tagDevinfo_T *out) {
    memset(out, 0, sizeof(*out));
    FILE *f = fopen(file, "r");
    if (!f) return -1;
    char line[256];
    char prev[4] = "";
    tagDevParam_T *cur = nullptr;
    while (fgets(line, sizeof(line), f)) {
        size_t n = strcspn(line, "\r\n");
        line[n] = 0;
        while (n > 0 && (line[n - 1] == ' ' || line[n - 1] == '\t')) line[--n] = 0;
        const char *blank = strrchr(line, ' ');
        const char *tab = strrchr(line, '\t');
        if (tab && (!blank || tab > blank)) blank = tab;
        if (!blank || !blank[1]) continue;
        const char *name = blank + 1;
        unsigned long blocks = 0;
        if (sscanf(line, "%*s %*s %lu", &blocks) != 1) blocks = 0;
        char head[4];
        snprintf(head, sizeof(head), "%s", name);
        if (strcmp(head, prev) != 0) {
            snprintf(prev, sizeof(prev), "%s", head);
            // More disks than the table holds are left out.
            if (out->devcount >= USB_DEV_MAX) {
                cur = nullptr;
                continue;
            }
            cur = &out->dev[out->devcount++];
            snprintf(cur->devname, sizeof(cur->devname), "%s", head);
            cur->dev_totalspace = (u32)blocks;
        } else if (cur && cur->partition_count < USB_PART_MAX) {
            cur->partition_size[cur->partition_count++] = (u32)blocks;
        }
    }
    fclose(f);
    return 0;
}

// ---- slots -------------------------------------------------------------------------

static void FormSlotPaths(tagDevParam_T *d, const char *devname, bool sd) {
    // The name may be the slot's own devname: work from a copy.
    char name[sizeof(d->devname)];
    snprintf(name, sizeof(name), "%s", devname);
    snprintf(d->ucDevPath, sizeof(d->ucDevPath), "%s/%s", s_paths.dev_dir, name);
    snprintf(d->ucMountPath, sizeof(d->ucMountPath), sd ? "%s/%sp1" : "%s/%s1", s_paths.mount_dir, name);
}

void DevDiskXInit(void) {
    UsbStorageLock();
    for (unsigned &g : s_slotGeneration) g++;
    memset(&g_devinfo, 0, sizeof(g_devinfo));
    tagDevParam_T *sd = &g_devinfo.dev[USB_SLOT_SD];
    snprintf(sd->devname, sizeof(sd->devname), "mmcblk0");
    FormSlotPaths(sd, sd->devname, true);
    UsbStorageUnlock();
}

static void RunScript(const char *script, const char *name) {
    char cmd[128];
    snprintf(cmd, sizeof(cmd), "%s %s1", script, name);
    printf("Shell Cmd : %s\r\n", cmd);
    MyExecCmd(cmd);
}

// The slot is filled once its disk is mounted, and emptied before the disk is
// unmounted: a reader under the table lock never gets a path being released.
static void SlotInsert(int slot, const tagDevParam_T *disk, const char *msg) {
    printf("%s\r\n", msg);
    tagDevParam_T filled = *disk;
    RunScript("./insert.sh", filled.devname);
    filled.ucMount = 1;
    FormSlotPaths(&filled, filled.devname, false);
    if (!UsbIsMountPoint(filled.ucMountPath)) printf("mount of %s failed\n", filled.ucMountPath);
    UsbStorageLock();
    s_slotGeneration[slot]++;
    g_devinfo.dev[slot] = filled;
    UsbStorageUnlock();
}

static void SlotRemove(int slot, const char *msg) {
    tagDevParam_T *d = &g_devinfo.dev[slot];
    printf("%s\r\n", msg);
    char name[sizeof(d->devname)];
    memcpy(name, d->devname, sizeof(name));
    name[sizeof(name) - 1] = 0;
    UsbStorageLock();
    s_slotGeneration[slot]++;
    memset(d, 0, sizeof(*d));
    UsbStorageUnlock();
    RunScript("./remove.sh", name);
}

int UsbDetectPoll(void) {
    // A list that cannot be read says nothing about the disks: keep them.
    if (DvrCpFile(s_paths.partitions, s_paths.partitions_tmp, 1, "sd") != 0) return -1;
    tagDevinfo_T found;
    if (UsbParsePartitions(s_paths.partitions_tmp, &found) != 0) return -1;

    for (int i = 0; i < found.devcount; i++) {
        tagDevParam_T *disk = &found.dev[i];
        int t = CheckIsDiskOrUsbDisk(disk->devname);
        disk->devtype = t < 0 ? 0xFF : (u8)t;
        if (t == USB_DEVTYPE_USB && !g_devinfo.dev[USB_SLOT_USB].ucMount)
            SlotInsert(USB_SLOT_USB, disk, "insert USB dev");
        else if (t == USB_DEVTYPE_HARD && !g_devinfo.dev[USB_SLOT_HARD].ucMount)
            SlotInsert(USB_SLOT_HARD, disk, "insert Hard dev");
    }
    if (found.devcount == 1) {
        u8 t = found.dev[0].devtype;
        if (t == USB_DEVTYPE_USB && g_devinfo.dev[USB_SLOT_HARD].ucMount)
            SlotRemove(USB_SLOT_HARD, "Hard Disk remove ");
        else if (t == USB_DEVTYPE_HARD && g_devinfo.dev[USB_SLOT_USB].ucMount)
            SlotRemove(USB_SLOT_USB, "Usb remove ");
    } else if (found.devcount == 0) {
        if (g_devinfo.dev[USB_SLOT_USB].ucMount) SlotRemove(USB_SLOT_USB, "Usb remove ");
        if (g_devinfo.dev[USB_SLOT_HARD].ucMount) SlotRemove(USB_SLOT_HARD, "Hard Disk remove ");
    }
    return found.devcount;
}

void *UsbDetectProc(void *p) {
    (void)p;
    pthread_setname_np(pthread_self(), "UsbDetectProc");
    DevDiskXInit();
    for (;;) {
        UsbDetectPoll();
        sleep(USB_POLL_PERIOD_S);
    }
    return nullptr;
}
