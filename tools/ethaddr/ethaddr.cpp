// ethaddr: gives eth0 the MAC address 00:49 followed by the low 32 bits of
// the chip's unique id.
#include <stdio.h>
#include <string.h>

#include "mi_sys.h"
#include "net_if.h"

namespace {

// A failing call ends the program with its result's low byte; a result whose
// low byte is 0 (most media error codes) must still read as a failure.
int exit_status(MI_S32 ret) { return (ret & 0xff) ? (ret & 0xff) : 1; }

bool step(MI_S32 ret, int line) {
    if (ret != MI_SUCCESS) {
        printf("[%s %d]exec function failed, error:%x\n", "main", line, (unsigned)ret);
        return false;
    }
    printf("(%s %d)exec function pass\n", "main", line);
    return true;
}

}  // namespace

void ethaddr_mac_from_uuid(MI_U64 uuid, unsigned char mac[6]) {
    mac[0] = 0x00;
    mac[1] = 0x49;
    mac[2] = (unsigned char)(uuid >> 24);
    mac[3] = (unsigned char)(uuid >> 16);
    mac[4] = (unsigned char)(uuid >> 8);
    mac[5] = (unsigned char)uuid;
}

int main(int, char **) {
    MI_S32 ret;
    if (!step(ret = MI_SYS_Init(0), 137)) return exit_status(ret);

    MI_SYS_Version_t version;
    memset(&version, 0, sizeof version);
    if (!step(ret = MI_SYS_GetVersion(0, &version), 140)) return exit_status(ret);
    printf("[INFO]:%s[%d]: \n", "main", 141);
    version.u8Version[sizeof version.u8Version - 1] = 0;
    printf("u8Version:%s\n", (const char *)version.u8Version);

    MI_U64 pts = 0;
    if (!step(ret = MI_SYS_GetCurPts(0, &pts), 143)) return exit_status(ret);
    printf("[INFO]:%s[%d]: \n", "main", 144);
    printf("u64Pts:0x%llx\n", (unsigned long long)pts);

    if (!step(ret = MI_SYS_InitPtsBase(0, 0xF1237890F1237890ull), 147)) return exit_status(ret);
    if (!step(ret = MI_SYS_SyncPts(0, 0xE1237890E1237890ull), 150)) return exit_status(ret);

    MI_U64 uuid = 0;
    if (!step(ret = MI_SYS_ReadUuid(0, &uuid), 152)) return exit_status(ret);
    printf("[INFO]:%s[%d]: \n", "main", 153);
    printf("u64Uuid:0x%llx\n", (unsigned long long)uuid);

    unsigned char mac[6];
    ethaddr_mac_from_uuid(uuid, mac);
    if_updown("eth0", 0);
    int mac_ret = set_mac_addr("eth0", mac);
    if_updown("eth0", 1);

    if (!step(ret = MI_SYS_Exit(), 163)) return exit_status(ret);
    // The address not being set is this program's failure too.
    return mac_ret == 0 ? 0 : 1;
}
