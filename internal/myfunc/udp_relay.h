// UDP relay of the control protocol: datagrams on ports 7000, 7100 and 57038
// go to the serial link (two kinds queued and paced), and frames the host
// marks for the network go back to the last sender of a port and the
// multicast group.
#pragma once
#include <netinet/in.h>
#include <stdint.h>

#include "bag_queue.h"

#define UDP_PORT_7000 7000
#define UDP_PORT_7100 7100
#define UDP_PORT_NEW 57038
#define UDP_MCAST_GROUP "239.10.10.222"
#define UDP_MCAST_PORT 57030
#define UDP_RECV_BUF 1056
#define NET_BAG_LEN_82 22
#define NET_BAG_LEN_5F 31
#define NET_BAG_NUM 128

extern BagQueue stNetRecvBagQueue;
extern BagQueue stNetRecvBagQueue_5f;

void *UdpRecvData(void *p);
void *UdpRecvData_7100(void *p);
void *UdpRecvDataNew(void *p);
void *NetQueueDataProc(void *p);
int mcast_init(void);

// One received datagram of a port, as the receiver threads handle it.
void UdpHandleDatagram(int port, const uint8_t *buf, int len);
// One pacer pass: at most one queued frame of each kind to the serial port.
void NetQueueStep(void);
// Tests: ports to bind instead of the fixed ones, and the multicast target.
void UdpRelaySetPorts(int p7000, int p7100, int pnew, const char *mcastAddr, int mcastPort);
// Queues set up (the threads do it at start).
void UdpRelayInitQueues(void);
