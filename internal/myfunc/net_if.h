// Interface helpers shared by vidrec and ethaddr.
#pragma once
#include <stdint.h>

// SIOCSIFHWADDR with the 6 bytes; the ioctl result, -1 for a missing argument.
int set_mac_addr(const char *ifname, const uint8_t mac[6]);
// Clears (0) or sets (1) IFF_UP; another value writes the flags unchanged.
int if_updown(const char *ifname, int up);
