// The router's two destinations, reduced to what the frame-parser target
// needs: frames for the recorder get error 1 (none when byte 4 is 0), frames
// for the network go nowhere. The real handler and relay have targets of
// their own (cmd_fuzz, udp_fuzz).
#include "err_code.h"
#include "uart_proto.h"

u16 ProtoRecvBagHandle(u8 *pucData) {
    if (pucData[4] == 0) return 0;
    return UartFinishBag(pucData, ReturnErrCode(pucData + 17, CMDErr));
}

static int NoPeer(const u8 *, int len) { return len > 0 ? -1 : 0; }
int UartToNetBag(const u8 *b, int len) { return NoPeer(b, len); }
int UartToNetBag_7100(const u8 *b, int len) { return NoPeer(b, len); }
int UartToNetBagNew(const u8 *b, int len) { return NoPeer(b, len); }
int UartToNetBag_mcast(const u8 *b, int len) { return NoPeer(b, len); }
