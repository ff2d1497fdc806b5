// Storage monitor: follows disks in the kernel's partition list, runs the
// mount and unmount scripts, keeps the slot table (0 SD card, 1 USB disk,
// 2 fixed disk) and answers presence and size queries for the selected slot.
#pragma once
#include <stdint.h>

#include "link_types.h"

#define USB_DEV_MAX 8
#define USB_PART_MAX 12
#define USB_SLOT_SD 0
#define USB_SLOT_USB 1
#define USB_SLOT_HARD 2
#define USB_DEVTYPE_USB 3
#define USB_DEVTYPE_HARD 2
#define USB_POLL_PERIOD_S 2

typedef struct {
    u8 ucMount;
    char ucDevPath[32];
    char ucMountPath[32];
    char devname[12];
    u8 devtype;
    u8 partition_count;
    u32 dev_totalspace;
    u32 partition_size[USB_PART_MAX];
} tagDevParam_T;

typedef struct {
    tagDevParam_T dev[USB_DEV_MAX];
    int devcount;
    int disk_num;
} tagDevinfo_T;

extern tagDevinfo_T g_devinfo;

// Where the monitor looks. The system's own paths by default; tests point
// them into a scratch tree.
typedef struct {
    const char *partitions;      // "/proc/partitions"
    const char *partitions_tmp;  // "/tmp/partitions.txt"
    const char *sys_block;       // "/sys/block"
    const char *dev_dir;         // "/dev"
    const char *mount_dir;       // "/vendor"
    const char *tmp_dir;         // "/tmp"
} ST_USB_PATHS;

void UsbDetectSetPaths(const ST_USB_PATHS *paths);  // nullptr: defaults
const ST_USB_PATHS *UsbDetectPaths(void);

void *UsbDetectProc(void *p);
void DevDiskXInit(void);
// One poll of the partition list; returns the number of disks seen, or -1
// when the list could not be read (nothing is changed then).
int UsbDetectPoll(void);
// Reads a filtered partition list into a zeroed table; -1 if it does not open.
int UsbParsePartitions(const char *file, tagDevinfo_T *out);

// Mount point of the selected slot to record to, or nullptr when no file
// system is mounted there (a removed disk, a failed mount: never the root
// file system). Call with the storage table locked.
char *CheckSdx(void);
// The storage thread changes the table only under this lock. Hold it only to
// read the table, never across work on the disk itself.
void UsbStorageLock(void);
void UsbStorageUnlock(void);
// The selected slot's index (read under the lock).
int UsbSelectedSlot(void);
// Counts the changes of one slot (read under the lock): a caller that did its
// disk work outside the lock sees whether its slot changed meanwhile.
unsigned UsbStorageGeneration(int slot);
int OpenSdCard(const char *node);
int GetSDcardInfo(u32 *value, int kind);
int GetSDcardInfo_New(u32 *total, u32 *freemb, u32 *used);
int GetStorageInfo(const char *MountPoint, u32 *Capacity, int type);
int GetStorageInfo_New(const char *MountPoint, u32 *pTotal, u32 *pFree, u32 *pUsed);
int CheckIsDiskOrUsbDisk(const char *devname);
int DvrCpFile(const char *src, const char *dst, int mode, const char *key);
int MyExecCmd(const char *cmd);
// 1 when `path` is the root of a mounted file system (not just a directory on
// the one above it).
int UsbIsMountPoint(const char *path);
