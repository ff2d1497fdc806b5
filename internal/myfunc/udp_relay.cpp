#include "udp_relay.h"

#include <arpa/inet.h>
#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <string_view>

#include "uart_proto.h"

BagQueue stNetRecvBagQueue;
BagQueue stNetRecvBagQueue_5f;

namespace {

uint8_t ucNetRecvBagQueueBuf[NET_BAG_LEN_82 * NET_BAG_NUM];
uint8_t ucNetRecvBagQueueBuf_5f[NET_BAG_LEN_5F * NET_BAG_NUM];

// One receiving port: its socket and the last peer that sent to it. The
// serial thread reads the peer while the receiver may replace it.
struct Port {
    int port;
    std::atomic<int> fd{-1};
    pthread_mutex_t mu = PTHREAD_MUTEX_INITIALIZER;
    sockaddr_in peer{};
    socklen_t peerLen = 0;
};

Port g_7000{UDP_PORT_7000}, g_7100{UDP_PORT_7100}, g_new{UDP_PORT_NEW};
std::atomic<int> socket_mcast{-1};
sockaddr_in mcast_addr{};
std::string_view g_mcastGroup = UDP_MCAST_GROUP;
int g_mcastPort = UDP_MCAST_PORT;
pthread_once_t g_queuesOnce = PTHREAD_ONCE_INIT;
// Counts frames queued for the pacer, so that it sleeps while both queues are empty.
int g_pacerWake = -1;

void init_queues() {
    BagQueueInit(&stNetRecvBagQueue, ucNetRecvBagQueueBuf, NET_BAG_LEN_82, NET_BAG_NUM);
    BagQueueInit(&stNetRecvBagQueue_5f, ucNetRecvBagQueueBuf_5f, NET_BAG_LEN_5F, NET_BAG_NUM);
    g_pacerWake = eventfd(0, EFD_CLOEXEC);
}

void queue_frame(BagQueue *q, const uint8_t *buf, int len) {
    // A full queue refuses the frame; nothing queued is overwritten.
    if (!BagQueueAddData(q, buf, (uint32_t)len)) {
        printf("net queue full\n");
        return;
    }
    uint64_t one = 1;
    if (g_pacerWake >= 0 && write(g_pacerWake, &one, sizeof one) < 0) perror("eventfd");
}

int open_port(Port &p) {
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        printf("socket error \n");
        return -1;
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    sa.sin_port = htons((uint16_t)p.port);
    if (bind(s, (sockaddr *)&sa, sizeof sa) < 0) printf("bind socket fail\n");
    p.fd = s;
    return s;
}

void recv_loop(Port &p, int port_id) {
    uint8_t buf[UDP_RECV_BUF];
    for (;;) {
        usleep(1000);
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        // Never more than the buffer: a longer datagram is cut by the kernel.
        int n = (int)recvfrom(p.fd, buf, sizeof buf, 0, (sockaddr *)&from, &fromLen);
        if (n >= 0) {
            pthread_mutex_lock(&p.mu);
            p.peer = from;
            p.peerLen = fromLen;
            pthread_mutex_unlock(&p.mu);
        }
        if (port_id != UDP_PORT_7100)
            printf("recvlen %d  %x  %d  %d\n", n, n > 16 ? buf[16] : 0, n > 17 ? buf[17] : 0, n > 18 ? buf[18] : 0);
        if (n < 1) {
            if (p.fd < 0) sleep(1);  // no socket: do not spin
            continue;
        }
        UdpHandleDatagram(port_id, buf, n);
    }
}

// Frames from the serial side have had their version bits cleared: the sum
// is made again so the bytes that leave match it.
int send_frame(int fd, const sockaddr_in &to, socklen_t toLen, const uint8_t *frame, int len) {
    if (fd < 0 || len < UART_BAG_MIN || len > UART_BAG_SIZE || toLen == 0) {
        printf("send fail ");
        return -1;
    }
    uint8_t out[UART_BAG_SIZE];
    memcpy(out, frame, (size_t)len);
    uint16_t sum = CalcCheckSum(out, (uint16_t)(len - 3));
    out[len - 3] = (uint8_t)sum;
    out[len - 2] = (uint8_t)(sum >> 8);
    int r = (int)sendto(fd, out, (size_t)len, 0, (const sockaddr *)&to, toLen);
    if (r < 0) printf("send fail ");
    return r;
}

int send_to_peer(Port &p, const uint8_t *frame, int len) {
    pthread_mutex_lock(&p.mu);
    sockaddr_in to = p.peer;
    socklen_t toLen = p.peerLen;
    pthread_mutex_unlock(&p.mu);
    return send_frame(p.fd, to, toLen, frame, len);
}

}  // namespace

void UdpRelayInitQueues(void) { pthread_once(&g_queuesOnce, init_queues); }

void UdpRelaySetPorts(int p7000, int p7100, int pnew, const char *mcastAddr, int mcastPort) {
    g_7000.port = p7000;
    g_7100.port = p7100;
    g_new.port = pnew;
    if (mcastAddr) g_mcastGroup = mcastAddr;
    g_mcastPort = mcastPort;
}

void UdpHandleDatagram(int port, const uint8_t *buf, int len) {
    if (len < 1) return;
    if (port == UDP_PORT_7000 && len == NET_BAG_LEN_82 && buf[16] == 0x82) {
        queue_frame(&stNetRecvBagQueue, buf, len);
        return;
    }
    // Only a frame that fills its slot exactly is paced; others go at once.
    if (port == UDP_PORT_7100 && len == NET_BAG_LEN_5F && buf[16] == 0x5F) {
        queue_frame(&stNetRecvBagQueue_5f, buf, len);
        return;
    }
    NetToUartSendBag(buf, len);
}

void NetQueueStep(void) {
    uint8_t *slot = nullptr;
    if (BagQueueGetData(&stNetRecvBagQueue, &slot)) {
        int r = NetToUartSendBag(slot, NET_BAG_LEN_82);
        printf("ret = %d \r\n", r);
    }
    if (BagQueueGetData(&stNetRecvBagQueue_5f, &slot)) {
        int r = NetToUartSendBag(slot, NET_BAG_LEN_5F);
        printf("ret = %d \r\n", r);
    }
}

void *UdpRecvData(void *) {
    printf("Waiting for data form sender \n");
    UdpRelayInitQueues();
    open_port(g_7000);
    recv_loop(g_7000, UDP_PORT_7000);
    return nullptr;
}

void *UdpRecvData_7100(void *) {
    printf("Waiting for data form sender \n");
    UdpRelayInitQueues();
    open_port(g_7100);
    recv_loop(g_7100, UDP_PORT_7100);
    return nullptr;
}

void *UdpRecvDataNew(void *) {
    open_port(g_new);
    mcast_init();
    recv_loop(g_new, UDP_PORT_NEW);
    return nullptr;
}

void *NetQueueDataProc(void *) {
    UdpRelayInitQueues();
    for (;;) {
        // Nothing queued: sleep until a receiver queues a frame (the count
        // keeps one queued meanwhile).
        uint64_t n;
        if (g_pacerWake >= 0 && BagQueueCheckEmpty(&stNetRecvBagQueue) && BagQueueCheckEmpty(&stNetRecvBagQueue_5f) &&
            read(g_pacerWake, &n, sizeof n) < 0 && errno != EINTR)
            perror("eventfd");
        usleep(5000);
        NetQueueStep();
    }
    return nullptr;
}

int mcast_init(void) {
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        // Without the group the recorder still works: multicast sends fail.
        perror("socket");
        return -1;
    }
    memset(&mcast_addr, 0, sizeof mcast_addr);
    mcast_addr.sin_family = AF_INET;
    inet_pton(AF_INET, std::string(g_mcastGroup).c_str(), &mcast_addr.sin_addr);
    mcast_addr.sin_port = htons((uint16_t)g_mcastPort);
    socket_mcast = s;
    return 0;
}

int UartToNetBag(const u8 *pucBuf, int len) { return send_to_peer(g_7000, pucBuf, len); }
int UartToNetBag_7100(const u8 *pucBuf, int len) { return send_to_peer(g_7100, pucBuf, len); }
int UartToNetBagNew(const u8 *pucBuf, int len) { return send_to_peer(g_new, pucBuf, len); }
int UartToNetBag_mcast(const u8 *pucBuf, int len) {
    return send_frame(socket_mcast, mcast_addr, sizeof mcast_addr, pucBuf, len);
}
