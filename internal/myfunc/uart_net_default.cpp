// Frames the host marks for the network, until the network relay is in
// place: there is no peer to send them to, so they are dropped.
#include <stdio.h>

#include "uart_proto.h"

static int NoRelay(const u8 *pucBuf, int len) {
    (void)pucBuf;
    printf("send fail \n");
    return len > 0 ? -1 : 0;
}

int UartToNetBag(const u8 *pucBuf, int len) { return NoRelay(pucBuf, len); }
int UartToNetBag_7100(const u8 *pucBuf, int len) { return NoRelay(pucBuf, len); }
int UartToNetBagNew(const u8 *pucBuf, int len) { return NoRelay(pucBuf, len); }
int UartToNetBag_mcast(const u8 *pucBuf, int len) { return NoRelay(pucBuf, len); }
