// Answer for frames meant for the recorder until the command handler is in
// place: no reply when none is wanted, else error code 1 for any command.
#include <string.h>

#include "err_code.h"
#include "uart_proto.h"

u16 ProtoRecvBagHandle(u8 *pucData) {
    if (pucData[4] == 0) return 0;
    return UartFinishBag(pucData, ReturnErrCode(pucData + 17, CMDErr));
}
