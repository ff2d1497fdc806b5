// eth0 set-up: static address from "/customer/app/netIp" or DHCP, name
// servers, MAC, and the link watcher thread.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "net_if.h"

#pragma pack(push, 1)
typedef struct {
    uint8_t chksum;  // 0xAA marks a valid stored record
    uint8_t ucIp[4];
    uint8_t ucMask[4];
    uint8_t ucGateWay[4];
} DEV_IP_INFO_ST;

typedef struct {
    uint8_t chksum;
    uint8_t ucIp[4];
    uint8_t ucMask[4];
    uint8_t ucGateWay[4];
    uint8_t ucMac[6];
    uint8_t ucDns1[4];
    uint8_t ucDns2[4];
    uint8_t ucDhcpFlag;
} DEV_NET_INFO_ST_EX;
#pragma pack(pop)
static_assert(sizeof(DEV_IP_INFO_ST) == 13, "netIp file record");
static_assert(sizeof(DEV_NET_INFO_ST_EX) == 28, "network record");

extern DEV_NET_INFO_ST_EX g_NetInfoEx;
extern const DEV_IP_INFO_ST tIpDefault;
extern uint8_t ucCheckIpFlag;

// Files and interface the functions below use; tests point them elsewhere.
struct NetPaths {
    const char *netip = "/customer/app/netIp";
    const char *dhcp_flag = "/customer/app/DHCP_flag";
    const char *resolv = "/etc/resolv.conf";
    const char *operstate = "/sys/class/net/eth0/operstate";
    const char *route = "/proc/net/route";
};
extern NetPaths g_netPaths;

#define NET_FIXED_DNS "8.8.8.8"
#define NET_DHCP_CMD "udhcpc -i eth0 -n -q"

// Dotted IPv4 text: four numbers 0-255 of one to three decimal digits
// ("010" is ten, never octal) and nothing else. out is written only when valid.
bool NetParseIpv4(const char *text, uint8_t out[4]);
// Dotted text of 4 address bytes (16 bytes of room take any).
void NetFormatIpv4(const uint8_t a[4], char *out, size_t len);
// A static set-up the board can use: 0; NET_BAD_ADDRESS (0/8, 127/8,
// multicast or reserved, or the subnet's network or broadcast address);
// NET_BAD_MASK (not contiguous, 0 or /32); NET_BAD_GATEWAY (outside the
// subnet, its network or broadcast address, the board's own address, or of an
// unusable class as above).
enum { NET_BAD_MASK = 1, NET_BAD_GATEWAY = 2, NET_BAD_ADDRESS = 3 };
int NetCheckStatic(const uint8_t ip[4], const uint8_t mask[4], const uint8_t gw[4]);

void *DHCP_Proc(void *arg);
void ReadDhcpFlag(void);
int SaveDhcpFlag(void);
int network_connect_check(void);
int get_local_mac(const char *ifname, char *out);
int GetComputerInfo(char *ip, char *mask, char *broadcast);
// Default gateway of eth0 from the kernel's routing table, dotted text.
int GetDefaultGateway(const char *ifname, char *gateway, unsigned len);
// Checks all three texts first (-2 address, -4 mask, -6 gateway: nothing
// changed), then sets address (-3) and mask (-5), adds the default route (-7,
// the old one kept) and only then removes the old default routes. A failure
// after the address was set puts back the old set-up, or none.
int SetIfAddr(const char *ifname, const char *Ipaddr, const char *mask, const char *gateway);
int SetIp(void);
// Stores {0xAA, address, mask, gateway}; nothing for a first byte 0, -1 for a
// set-up NetCheckStatic refuses.
int Proto_SetIP(const uint8_t *data, uint16_t len);
int SaveNetWorkParam(uint8_t kind, const DEV_IP_INFO_ST *rec);
void LoadNetWorkParam(void);
void ReadDns(uint8_t *dns);
int Proto_SetDns(const uint8_t *data, uint16_t len);
int Proto_SetMac(const uint8_t *data, uint16_t len);
uint8_t Proto_GetNetworkPara(uint8_t *out);

// One second of the link watcher (the body of DHCP_Proc's loop), for tests.
struct DhcpState {
    uint8_t history = 0;
    int retry = 0;
};
void DhcpStep(DhcpState *st);
