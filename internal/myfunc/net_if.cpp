// Interface helpers shared by vidrec and ethaddr: MAC and up/down of eth0.
#include <net/if.h>
#include <net/if_arp.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net_if.h"

namespace {

void fill_ifreq(ifreq *ifr, const char *ifname) {
    memset(ifr, 0, sizeof *ifr);
    snprintf(ifr->ifr_name, sizeof ifr->ifr_name, "%s", ifname);
}

}  // namespace

int set_mac_addr(const char *ifname, const uint8_t mac[6]) {
    if (!ifname || !mac) return -1;
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return -1;
    ifreq ifr;
    fill_ifreq(&ifr, ifname);
    ifr.ifr_hwaddr.sa_family = ARPHRD_ETHER;
    memcpy(ifr.ifr_hwaddr.sa_data, mac, 6);
    int ret = ioctl(fd, SIOCSIFHWADDR, &ifr);
    if (ret < 0) perror("SIOCSIFHWADDR");
    close(fd);
    return ret;
}

int if_updown(const char *ifname, int up) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return -1;
    ifreq ifr;
    fill_ifreq(&ifr, ifname);
    short flags = IFF_BROADCAST;
    if (ioctl(fd, SIOCGIFFLAGS, &ifr) == 0) flags = ifr.ifr_flags;
    if (up == 0)
        flags &= (short)~IFF_UP;
    else if (up == 1)
        flags |= IFF_UP;
    fill_ifreq(&ifr, ifname);
    ifr.ifr_flags = flags;
    int ret = ioctl(fd, SIOCSIFFLAGS, &ifr);
    if (ret < 0) perror("SIOCSIFFLAGS");
    close(fd);
    return ret;
}

