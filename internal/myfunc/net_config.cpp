#include "net_config.h"

#include <arpa/inet.h>
#include <errno.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <net/route.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "user_setting.h"

DEV_NET_INFO_ST_EX g_NetInfoEx;
const DEV_IP_INFO_ST tIpDefault = {0, {192, 168, 1, 239}, {255, 255, 255, 0}, {192, 168, 1, 1}};
uint8_t ucCheckIpFlag = 0;
NetPaths g_netPaths;

namespace {

// Closes the socket on every way out of an interface function.
struct Sock {
    int fd;
    explicit Sock(int type) : fd(socket(AF_INET, type, 0)) {}
    ~Sock() {
        if (fd >= 0) close(fd);
    }
};

void fill_ifreq(ifreq *ifr, const char *ifname) {
    memset(ifr, 0, sizeof *ifr);
    snprintf(ifr->ifr_name, sizeof ifr->ifr_name, "%s", ifname);
}

void set_sin(sockaddr *sa, in_addr a) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr = a;
    memcpy(sa, &sin, sizeof sin);
}

// Addresses no host of a subnet can have: "this network" 0/8, loopback
// 127/8, multicast 224/4 and the reserved 240/4 with the limited broadcast.
bool unusable_class(uint32_t a) {
    uint32_t top = a >> 24;
    return top == 0 || top == 127 || top >= 224;
}

void read_netip(DEV_IP_INFO_ST *rec) {
    DEV_IP_INFO_ST r{};
    FILE *f = fopen(g_netPaths.netip, "rb");
    size_t n = 0;
    if (f) {
        n = fread(&r, 1, sizeof r, f);
        fclose(f);
    }
    // A short file is as invalid as a missing one, and so is a set-up the
    // board cannot use (stored before such set-ups were refused).
    bool ok = n == sizeof r && r.chksum == 0xAA && NetCheckStatic(r.ucIp, r.ucMask, r.ucGateWay) == 0;
    *rec = ok ? r : tIpDefault;
}

in_addr to_in(const uint8_t a[4]) {
    in_addr r;
    memcpy(&r.s_addr, a, 4);
    return r;
}

uint32_t host_order(const uint8_t a[4]) {
    return (uint32_t)a[0] << 24 | (uint32_t)a[1] << 16 | (uint32_t)a[2] << 8 | a[3];
}

rtentry default_route(in_addr gw) {
    rtentry rt{};
    set_sin(&rt.rt_dst, in_addr{INADDR_ANY});
    set_sin(&rt.rt_genmask, in_addr{INADDR_ANY});
    set_sin(&rt.rt_gateway, gw);
    rt.rt_flags = RTF_GATEWAY;
    return rt;
}

// Calls fn(gateway) for each default route through `ifname` in the kernel's
// table until fn returns false; false if the table does not open.
template <class F>
bool each_default_route(const char *ifname, F fn) {
    FILE *f = fopen(g_netPaths.route, "r");
    if (!f) return false;
    char line[256];
    while (fgets(line, sizeof line, f)) {
        char dev[IFNAMSIZ + 1];
        unsigned dst, gw, flags;
        if (sscanf(line, "%16s %x %x %x", dev, &dst, &gw, &flags) != 4) continue;
        if (strcmp(dev, ifname) == 0 && dst == 0 && (flags & RTF_GATEWAY) && !fn(in_addr{gw})) break;
    }
    fclose(f);
    return true;
}

// Removes the default routes through `ifname` other than the one via `keep`:
// called once the new route is in, so the board always has one.
void del_other_default_routes(int fd, const char *ifname, in_addr keep) {
    each_default_route(ifname, [&](in_addr gw) {
        if (gw.s_addr == keep.s_addr) return true;
        rtentry rt = default_route(gw);
        rt.rt_dev = const_cast<char *>(ifname);
        if (ioctl(fd, SIOCDELRT, &rt) < 0) perror("ioctl(SIOCDELRT)");
        return true;
    });
}

// An interface's address, mask and default gateways, as read before a change.
struct IfSetup {
    bool valid = false;  // it had an address
    in_addr addr{}, mask{};
    in_addr gw[4]{};
    int gwCount = 0;
};

IfSetup read_setup(int fd, const char *ifname) {
    IfSetup st;
    ifreq ifr;
    fill_ifreq(&ifr, ifname);
    if (ioctl(fd, SIOCGIFADDR, &ifr) < 0) return st;
    st.addr = ((sockaddr_in *)&ifr.ifr_addr)->sin_addr;
    fill_ifreq(&ifr, ifname);
    if (ioctl(fd, SIOCGIFNETMASK, &ifr) < 0) return st;
    st.mask = ((sockaddr_in *)&ifr.ifr_netmask)->sin_addr;
    st.valid = true;
    each_default_route(ifname, [&](in_addr gw) {
        st.gw[st.gwCount++] = gw;
        return st.gwCount < 4;
    });
    return st;
}

// Puts a set-up read by read_setup back after a change that failed half way.
void restore_setup(int fd, const char *ifname, const IfSetup &st) {
    ifreq ifr;
    fill_ifreq(&ifr, ifname);
    if (!st.valid) {
        // It had no address: setting 0.0.0.0 removes the one just given.
        set_sin(&ifr.ifr_addr, in_addr{INADDR_ANY});
        bool gone = ioctl(fd, SIOCSIFADDR, &ifr) == 0;
        printf("%s: new address %s\n", ifname, gone ? "removed" : "could not be removed");
        return;
    }
    set_sin(&ifr.ifr_addr, st.addr);
    bool ok = ioctl(fd, SIOCSIFADDR, &ifr) == 0;
    fill_ifreq(&ifr, ifname);
    set_sin(&ifr.ifr_netmask, st.mask);
    ok = ok && ioctl(fd, SIOCSIFNETMASK, &ifr) == 0;
    for (int i = 0; ok && i < st.gwCount; ++i) {
        rtentry rt = default_route(st.gw[i]);
        ok = ioctl(fd, SIOCADDRT, &rt) == 0 || errno == EEXIST;
    }
    printf("%s: previous address %s %s\n", ifname, inet_ntoa(st.addr), ok ? "restored" : "could not be restored");
}

}  // namespace

void NetFormatIpv4(const uint8_t a[4], char *out, size_t len) { snprintf(out, len, "%d.%d.%d.%d", a[0], a[1], a[2], a[3]); }

bool NetParseIpv4(const char *text, uint8_t out[4]) {
    if (!text) return false;
    uint8_t v[4];
    const char *p = text;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && *p++ != '.') return false;
        unsigned n = 0;
        int digits = 0;
        for (; *p >= '0' && *p <= '9'; ++p, ++digits) {
            if (digits == 3) return false;
            n = n * 10 + (unsigned)(*p - '0');
        }
        if (digits == 0 || n > 255) return false;
        v[part] = (uint8_t)n;
    }
    if (*p != 0) return false;
    memcpy(out, v, 4);
    return true;
}

int NetCheckStatic(const uint8_t ip[4], const uint8_t mask[4], const uint8_t gw[4]) {
    uint32_t a = host_order(ip), m = host_order(mask), g = host_order(gw);
    if (unusable_class(a)) return NET_BAD_ADDRESS;
    // Contiguous: the ones, then only zeros (a zero mask is no subnet). A
    // /32 leaves no room for a gateway beside the board.
    if (m == 0 || m == 0xFFFFFFFFu || (~m & (~m + 1)) != 0) return NET_BAD_MASK;
    uint32_t net = a & m, bcast = a | ~m;
    if (a == net || a == bcast) return NET_BAD_ADDRESS;
    if ((g & m) != net || g == net || g == bcast || g == a || unusable_class(g)) return NET_BAD_GATEWAY;
    return 0;
}

void ReadDhcpFlag(void) {
    FILE *f = fopen(g_netPaths.dhcp_flag, "r");
    int c = f ? fgetc(f) : EOF;
    if (f) fclose(f);
    // Missing or not a digit: static address.
    g_NetInfoEx.ucDhcpFlag = (c >= '0' && c <= '9') ? (uint8_t)(c - '0') : 0;
    printf("ucDhcpFlag = %d \n", g_NetInfoEx.ucDhcpFlag);
}

int SaveDhcpFlag(void) {
    FILE *f = fopen(g_netPaths.dhcp_flag, "w");
    if (!f) return -1;
    int ok = fprintf(f, "%d", g_NetInfoEx.ucDhcpFlag % 10) == 1;
    return (fclose(f) == 0 && ok) ? 0 : -1;
}

int network_connect_check(void) {
    // The whole word: "lowerlayerdown" is 14 letters.
    char buf[32] = {0};
    FILE *f = fopen(g_netPaths.operstate, "r");
    if (f) {
        size_t n = fread(buf, 1, sizeof buf - 1, f);
        buf[n] = 0;
        fclose(f);
    }
    if (strstr(buf, "up")) return 1;
    if (strstr(buf, "down")) return 0;
    printf("unknown err\n");
    return -1;
}

int get_local_mac(const char *ifname, char *out) {
    Sock s(SOCK_STREAM);
    if (s.fd < 0) {
        printf("get %s mac address socket creat error\n", ifname);
        return -1;
    }
    ifreq ifr;
    fill_ifreq(&ifr, ifname);
    if (ioctl(s.fd, SIOCGIFHWADDR, &ifr) < 0) {
        printf("get %s mac address error\n", ifname);
        return -1;
    }
    const unsigned char *m = (const unsigned char *)ifr.ifr_hwaddr.sa_data;
    snprintf(out, 18, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    return 0;
}

int GetComputerInfo(char *ip, char *mask, char *broadcast) {
    Sock s(SOCK_DGRAM);
    if (s.fd < 0) {
        perror("socket");
        return -1;
    }
    ifreq ifr;
    fill_ifreq(&ifr, "eth0");
    if (ioctl(s.fd, SIOCGIFADDR, &ifr) < 0) {
        perror("ioctl");
        return -1;
    }
    strcpy(ip, inet_ntoa(((sockaddr_in *)&ifr.ifr_addr)->sin_addr));
    fill_ifreq(&ifr, "eth0");
    if (ioctl(s.fd, SIOCGIFNETMASK, &ifr) < 0) {
        perror("ioctl");
        return -1;
    }
    strcpy(mask, inet_ntoa(((sockaddr_in *)&ifr.ifr_netmask)->sin_addr));
    fill_ifreq(&ifr, "eth0");
    if (ioctl(s.fd, SIOCGIFBRDADDR, &ifr) == 0)
        strcpy(broadcast, inet_ntoa(((sockaddr_in *)&ifr.ifr_broadaddr)->sin_addr));
    else
        strcpy(broadcast, "0.0.0.0");
    return 0;
}

int GetDefaultGateway(const char *ifname, char *gateway, unsigned len) {
    int ret = -1;
    each_default_route(ifname, [&](in_addr gw) {
        snprintf(gateway, len, "%s", inet_ntoa(gw));
        ret = 0;
        return false;
    });
    return ret;
}

int SetIfAddr(const char *ifname, const char *Ipaddr, const char *mask, const char *gateway) {
    Sock s(SOCK_DGRAM);
    if (s.fd < 0) {
        perror("socket   error");
        return -1;
    }
    // The whole set-up is checked before anything on the interface changes.
    uint8_t ip[4], nm[4], gw[4];
    if (!NetParseIpv4(Ipaddr, ip)) {
        printf("inet_aton   error: %s\n", Ipaddr ? Ipaddr : "");
        return -2;
    }
    if (!NetParseIpv4(mask, nm)) {
        printf("inet_pton   error: %s\n", mask ? mask : "");
        return -4;
    }
    if (!NetParseIpv4(gateway, gw)) {
        printf("inet_aton error\n");
        return -6;
    }
    switch (NetCheckStatic(ip, nm, gw)) {
    case NET_BAD_ADDRESS:
        printf("inet_aton   error: %s unusable with %s\n", Ipaddr, mask);
        return -2;
    case NET_BAD_MASK:
        printf("inet_pton   error: %s\n", mask);
        return -4;
    case NET_BAD_GATEWAY:
        printf("inet_aton error\n");
        return -6;
    }
    // What is there now, to go back to: a changed address takes the routes
    // through the old one with it, the default route included.
    IfSetup old = read_setup(s.fd, ifname);
    in_addr newIp = to_in(ip), newMask = to_in(nm);
    bool changes = !old.valid || old.addr.s_addr != newIp.s_addr || old.mask.s_addr != newMask.s_addr;
    ifreq ifr;
    fill_ifreq(&ifr, ifname);
    set_sin(&ifr.ifr_addr, newIp);
    if (ioctl(s.fd, SIOCSIFADDR, &ifr) < 0) {
        perror("ioctl   SIOCSIFADDR   error");
        return -3;
    }
    fill_ifreq(&ifr, ifname);
    set_sin(&ifr.ifr_netmask, newMask);
    if (ioctl(s.fd, SIOCSIFNETMASK, &ifr) < 0) {
        perror("ioctl");
        if (changes) restore_setup(s.fd, ifname, old);
        return -5;
    }
    // The new default route first (an identical one may be there already),
    // then the old ones go.
    rtentry rt = default_route(to_in(gw));
    if (ioctl(s.fd, SIOCADDRT, &rt) < 0 && errno != EEXIST) {
        perror("ioctl(SIOCADDRT) error in set_default_route\n");
        if (changes) restore_setup(s.fd, ifname, old);
        return -7;
    }
    del_other_default_routes(s.fd, ifname, to_in(gw));
    return 0;
}

int SetIp(void) {
    DEV_IP_INFO_ST rec;
    read_netip(&rec);
    char ip[16], mask[16], gw[16];
    NetFormatIpv4(rec.ucIp, ip, sizeof ip);
    NetFormatIpv4(rec.ucMask, mask, sizeof mask);
    NetFormatIpv4(rec.ucGateWay, gw, sizeof gw);
    printf("checksum = %x\n", rec.chksum);
    printf("ip = %s\n", ip);
    printf("Mask = %s\n", mask);
    printf("GateWay = %s\n", gw);
    return SetIfAddr("eth0", ip, mask, gw);
}

int SaveNetWorkParam(uint8_t kind, const DEV_IP_INFO_ST *rec) {
    if (kind != 0 || !rec) return 0;
    memcpy(&g_NetInfoEx, rec, sizeof *rec);
    FILE *f = fopen(g_netPaths.netip, "wb");
    if (!f) return -1;
    size_t n = fwrite(rec, 1, sizeof *rec, f);
    return (fclose(f) == 0 && n == sizeof *rec) ? 0 : -1;
}

int Proto_SetIP(const uint8_t *data, uint16_t len) {
    if (!data || len < 12) return -1;
    if (data[0] == 0) return 0;
    // Only a set-up that SetIp can apply is stored.
    if (NetCheckStatic(data, data + 4, data + 8) != 0) return -1;
    DEV_IP_INFO_ST rec;
    rec.chksum = 0xAA;
    memcpy(rec.ucIp, data, 12);
    return SaveNetWorkParam(0, &rec);
}

void ReadDns(uint8_t *dns) {
    FILE *f = fopen(g_netPaths.resolv, "r");
    if (!f) return;
    char line[128];
    // The first two name servers, wherever they stand: a DHCP client puts
    // "search" or "domain" lines before them. Only lines whose first word is
    // "nameserver" count; the rest of a line longer than the buffer is skipped.
    // An address token is taken whole or not at all: one that runs on past an
    // address's length, or past the buffer, is refused rather than cut short.
    int i = 0;
    bool lineStart = true;
    while (i < 2 && fgets(line, sizeof line, f)) {
        bool atStart = lineStart;
        lineStart = strchr(line, '\n') != nullptr;
        if (!atStart) continue;
        const char *ws = " \t\r\n";
        const char *word = line + strspn(line, ws);
        size_t wordLen = strcspn(word, ws);
        if (wordLen != 10 || strncmp(word, "nameserver", 10) != 0) continue;
        const char *addr = word + wordLen + strspn(word + wordLen, ws);
        size_t addrLen = strcspn(addr, ws);
        bool cut = false;
        if (addr[addrLen] == 0 && !lineStart) {  // the token reaches the buffer's end
            int next = getc(f);
            if (next != EOF) ungetc(next, f);
            cut = next != EOF && !strchr(ws, next);
        }
        char text[16];
        if (addrLen == 0 || addrLen >= sizeof text || cut) continue;
        memcpy(text, addr, addrLen);
        text[addrLen] = 0;
        if (!NetParseIpv4(text, dns + 4 * i)) continue;
        ++i;
    }
    fclose(f);
}

int Proto_SetDns(const uint8_t *data, uint16_t len) {
    if (!data || len < 4) return -1;
    printf("nameserver %d.%d.%d.%d\n", data[0], data[1], data[2], data[3]);
    FILE *f = fopen(g_netPaths.resolv, "w");
    if (!f) return -1;
    int ok = fprintf(f, "nameserver %d.%d.%d.%d\n", data[0], data[1], data[2], data[3]) > 0;
    ok = fprintf(f, "nameserver %s\n", NET_FIXED_DNS) > 0 && ok;
    return (fclose(f) == 0 && ok) ? 0 : -1;
}

void LoadNetWorkParam(void) {
    if (g_NetInfoEx.ucDhcpFlag == 0) {
        DEV_IP_INFO_ST rec;
        read_netip(&rec);
        memcpy(&g_NetInfoEx, &rec, sizeof rec);
    }
    uint8_t dns[8];
    memcpy(dns, g_NetInfoEx.ucDns1, 4);
    memcpy(dns + 4, g_NetInfoEx.ucDns2, 4);
    ReadDns(dns);
    memcpy(g_NetInfoEx.ucDns1, dns, 4);
    memcpy(g_NetInfoEx.ucDns2, dns + 4, 4);
    const DEV_NET_INFO_ST_EX &n = g_NetInfoEx;
    printf("IP:      %d.%d.%d.%d\n", n.ucIp[0], n.ucIp[1], n.ucIp[2], n.ucIp[3]);
    printf("mask:    %d.%d.%d.%d\n", n.ucMask[0], n.ucMask[1], n.ucMask[2], n.ucMask[3]);
    printf("GateWay: %d.%d.%d.%d\n", n.ucGateWay[0], n.ucGateWay[1], n.ucGateWay[2], n.ucGateWay[3]);
    printf("MAC : %02x-%02x-%02x-%02x-%02x-%02x\n", n.ucMac[0], n.ucMac[1], n.ucMac[2], n.ucMac[3], n.ucMac[4],
           n.ucMac[5]);
    printf("DNS1 : %d.%d.%d.%d\n", n.ucDns1[0], n.ucDns1[1], n.ucDns1[2], n.ucDns1[3]);
    printf("DNS2 : %d.%d.%d.%d\n", n.ucDns2[0], n.ucDns2[1], n.ucDns2[2], n.ucDns2[3]);
}

int Proto_SetMac(const uint8_t *data, uint16_t len) {
    printf("usDataLen = %d \n", len);
    if (!data || len < 27) return -1;
    DEV_NET_INFO_ST_EX rec;
    memcpy(&rec, data, 27);
    uint8_t mac[6] = {0x48, 0x49, rec.ucMac[2], rec.ucMac[3], rec.ucMac[4], rec.ucMac[5]};
    if_updown("eth0", 0);
    int ret = set_mac_addr("eth0", mac);
    if_updown("eth0", 1);
    if (g_NetInfoEx.ucDhcpFlag == 0) SetIp();
    printf("MAC %x:%x:%x:%x:%x:%x\n", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return ret;
}

uint8_t Proto_GetNetworkPara(uint8_t *out) {
    LoadNetWorkParam();
    memcpy(out, &g_NetInfoEx, sizeof g_NetInfoEx);
    return (uint8_t)sizeof g_NetInfoEx;
}

void DhcpStep(DhcpState *st) {
    int link = network_connect_check();
    if (link >= 0) {
        UserSetPut(UsrBits::NetWorkStatus, (uint8_t)link);
        st->history = (uint8_t)((st->history << 1) | (uint8_t)link);
    }
    if ((st->history & 3) == 1 && g_NetInfoEx.ucDhcpFlag) {
        ucCheckIpFlag = 0;
        st->retry = 0;
        if (system(NET_DHCP_CMD) == -1) perror("system");
    }
    if (link != 1 || ucCheckIpFlag) return;
    bool got = false;
    if (g_NetInfoEx.ucDhcpFlag) {
        char ip[16] = "", mask[16] = "", brd[16] = "";
        int r = GetComputerInfo(ip, mask, brd);
        printf("GetIP: -------%d\n", st->retry);
        printf("%s\n%s\n%s\n", ip, mask, brd);
        if (r == 0) {
            ucCheckIpFlag = 1;
            got = true;
            NetParseIpv4(ip, g_NetInfoEx.ucIp);
            NetParseIpv4(mask, g_NetInfoEx.ucMask);
            // The gateway is the default route's, not the broadcast address.
            char gw[16];
            if (GetDefaultGateway("eth0", gw, sizeof gw) == 0) NetParseIpv4(gw, g_NetInfoEx.ucGateWay);
        }
    }
    if (st->retry >= 11 && !got) {
        SetIp();
        ucCheckIpFlag = 1;
    }
    st->retry++;
}

void *DHCP_Proc(void *) {
    char mac[18];
    if (get_local_mac("eth0", mac) == 0) {
        printf("Get MAC - %s\n", mac);
        unsigned m[6];
        if (sscanf(mac, "%x:%x:%x:%x:%x:%x", &m[0], &m[1], &m[2], &m[3], &m[4], &m[5]) == 6)
            for (int i = 0; i < 6; ++i) g_NetInfoEx.ucMac[i] = (uint8_t)m[i];
    }
    DhcpState st;
    for (;;) {
        DhcpStep(&st);
        sleep(1);
    }
    return nullptr;
}
