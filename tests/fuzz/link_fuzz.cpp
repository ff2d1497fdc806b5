// Fuzz target: arbitrary bytes from the serial line through the byte ring,
// the frame parser, the frame queue and the router; and arbitrary partition
// lists through the storage monitor's reader. Aborts on a broken invariant.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "uart_proto.h"
#include "usb_detect.h"

static int s_sink = -1;

static void Check(bool ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "invariant broken: %s\n", what);
        abort();
    }
}

static void CheckParser(void) {
    const SStateVar &s = stStateVarUart;
    Check(s.eCurrRecvState >= STATE_RX_HEADER_1 && s.eCurrRecvState <= STATE_RX_TAIL, "parser state");
    Check(s.usRecBufPos <= UART_BAG_SIZE, "parser position");
    Check(s.usBackPos <= s.usBackLen && s.usBackLen <= UART_BAG_SIZE, "taken-back bytes");
    if (s.eCurrRecvState >= STATE_RX_DATA)
        Check(s.usRecBagLen >= UART_BAG_MIN && s.usRecBagLen <= UART_BAG_SIZE, "frame length");
    Check(UartBagQueuePending() <= UART_BAG_NUM - 1, "frame queue");
}

static void FuzzLine(const uint8_t *data, size_t size) {
    UartRecvQueueInit();
    unsigned long now_ms = 1000;
    size_t i = 0;
    while (i < size) {
        // A chunk as one read, then one loop cycle; a zero byte in the
        // stream also stands for a quiet gap on the line.
        size_t n = 1 + data[i] % 64;
        bool gap = data[i] & 0x80;
        i++;
        for (size_t k = 0; k < n && i < size; k++, i++) {
            if (!QueueAddData(&stUartQueue, data[i])) {
                UartRecvHandle();
                RecvBagPoll(s_sink);
                QueueAddData(&stUartQueue, data[i]);
            }
        }
        UartRecvHandle();
        CheckParser();
        RecvBagPoll(s_sink);
        now_ms += gap ? UART_RESYNC_GAP_MS : 1;
        UartProto_TimeOutPoll(&stStateVarUart, now_ms + stStateVarUart.stAnalyzeTimeOut.ulTimer);
        CheckParser();
    }
    while (RecvBagPoll(s_sink)) UartRecvHandle();
    Check(UartBagQueuePending() == 0, "queue drained");
    // Device frames of any payload size: refused beyond a frame, else whole.
    u16 len = (u16)(size > 2 ? (data[0] | (data[1] << 8)) % 1200 : 0);
    static u8 payload[1200];
    int r = UartSendBag(0x67, payload, len);
    Check(len > UART_PAYLOAD_MAX ? r == -1 : r == len + UART_BAG_MIN, "device frame size");
}

static void FuzzPartitions(const uint8_t *data, size_t size) {
    static char path[] = "/tmp/link_fuzz_partsXXXXXX";
    static int fd = -1;
    if (fd < 0) fd = mkstemp(path);
    if (fd < 0) return;
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != (ssize_t)size) return;
    tagDevinfo_T t;
    Check(UsbParsePartitions(path, &t) == 0, "partition list read");
    Check(t.devcount >= 0 && t.devcount <= USB_DEV_MAX, "disk count");
    for (int k = 0; k < t.devcount; k++) {
        Check(t.dev[k].partition_count <= USB_PART_MAX, "partition count");
        Check(memchr(t.dev[k].devname, 0, sizeof(t.dev[k].devname)) != nullptr, "disk name");
        Check(strlen(t.dev[k].devname) <= 3, "disk name length");
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (s_sink < 0) {
        s_sink = open("/dev/null", O_WRONLY);
        g_UartFd = s_sink;
        if (!freopen("/dev/null", "w", stdout)) return 0;
    }
    if (size == 0) return 0;
    if (data[0] == 'P')
        FuzzPartitions(data + 1, size - 1);
    else
        FuzzLine(data, size);
    return 0;
}
