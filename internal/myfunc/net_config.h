// eth0 set-up: static address from "/customer/app/netIp" or DHCP, name
// servers, MAC, and the link watcher thread.
#pragma once
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

void *DHCP_Proc(void *arg);
void ReadDhcpFlag(void);
int SaveDhcpFlag(void);
int network_connect_check(void);
int get_local_mac(const char *ifname, char *out);
int GetComputerInfo(char *ip, char *mask, char *broadcast);
// Default gateway of eth0 from the kernel's routing table, dotted text.
int GetDefaultGateway(const char *ifname, char *gateway, unsigned len);
int SetIfAddr(const char *ifname, const char *Ipaddr, const char *mask, const char *gateway);
int SetIp(void);
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
