// UDP relay: datagrams to the serial port (some paced through queues), and
// serial frames back to the last sender and the multicast target.
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <vector>

#include "uart_proto.h"
#include "udp_relay.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes frame(uint8_t cmd, size_t total, uint8_t fill = 0x11) {
    Bytes f(total, fill);
    f[0] = 0xA5;
    f[1] = 0x6C;
    f[2] = (uint8_t)total;
    f[3] = (uint8_t)(total >> 8);
    f[16] = cmd;
    f[total - 1] = 0xAE;
    return f;
}

class Relay : public ::testing::Test {
protected:
    void SetUp() override {
        UdpRelayInitQueues();
        uint8_t *s;
        while (BagQueueGetData(&stNetRecvBagQueue, &s)) {
        }
        while (BagQueueGetData(&stNetRecvBagQueue_5f, &s)) {
        }
        ASSERT_EQ(pipe2(uart_, O_NONBLOCK), 0);
        g_UartFd = uart_[1];
    }
    void TearDown() override {
        g_UartFd = -1;
        close(uart_[0]);
        close(uart_[1]);
    }
    Bytes serial() {
        Bytes b(65536);
        ssize_t n = read(uart_[0], b.data(), b.size());
        b.resize(n > 0 ? (size_t)n : 0);
        return b;
    }
    int uart_[2];
};

TEST_F(Relay, Port7000QueuesOnlyExact22ByteFrames) {
    Bytes q = frame(0x82, 22), big = frame(0x82, 23), other = frame(0x30, 22);
    UdpHandleDatagram(UDP_PORT_7000, q.data(), (int)q.size());
    EXPECT_TRUE(serial().empty());
    UdpHandleDatagram(UDP_PORT_7000, big.data(), (int)big.size());
    EXPECT_EQ(serial(), big);
    UdpHandleDatagram(UDP_PORT_7000, other.data(), (int)other.size());
    EXPECT_EQ(serial(), other);
    NetQueueStep();
    EXPECT_EQ(serial(), q);
}

TEST_F(Relay, PacerSendsOneOfEachKindPerStep) {
    Bytes a = frame(0x82, 22, 1), b = frame(0x82, 22, 2), c = frame(0x5F, 31, 3);
    UdpHandleDatagram(UDP_PORT_7000, a.data(), 22);
    UdpHandleDatagram(UDP_PORT_7000, b.data(), 22);
    UdpHandleDatagram(UDP_PORT_7100, c.data(), 31);
    NetQueueStep();
    Bytes out = serial();
    Bytes expect = a;
    expect.insert(expect.end(), c.begin(), c.end());
    EXPECT_EQ(out, expect);
    NetQueueStep();
    EXPECT_EQ(serial(), b);
    NetQueueStep();
    EXPECT_TRUE(serial().empty());
}

TEST_F(Relay, Port7100OtherLengthsGoAtOnceAndNeverOverrunASlot) {
    Bytes longer = frame(0x5F, 40), shorter = frame(0x5F, 25);
    UdpHandleDatagram(UDP_PORT_7100, longer.data(), (int)longer.size());
    EXPECT_EQ(serial(), longer);
    UdpHandleDatagram(UDP_PORT_7100, shorter.data(), (int)shorter.size());
    EXPECT_EQ(serial(), shorter);
    NetQueueStep();
    EXPECT_TRUE(serial().empty());
}

TEST_F(Relay, FullQueueRefusesWithoutOverwriting) {
    for (int i = 0; i < 200; ++i) {
        Bytes f = frame(0x82, 22, (uint8_t)i);
        UdpHandleDatagram(UDP_PORT_7000, f.data(), 22);
    }
    // The ring keeps the oldest frames, in order.
    for (int i = 0; i < 127; ++i) {
        NetQueueStep();
        Bytes out = serial();
        ASSERT_EQ(out.size(), 22u);
        EXPECT_EQ(out[5], (uint8_t)i);
    }
    NetQueueStep();
    EXPECT_TRUE(serial().empty());
}

int udp_socket(uint16_t *port) {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, (sockaddr *)&a, sizeof a);
    socklen_t l = sizeof a;
    getsockname(s, (sockaddr *)&a, &l);
    *port = ntohs(a.sin_port);
    return s;
}

Bytes recv_wait(int s, int ms) {
    pollfd p{s, POLLIN, 0};
    if (poll(&p, 1, ms) != 1) return {};
    Bytes b(2048);
    ssize_t n = recv(s, b.data(), b.size(), 0);
    b.resize(n > 0 ? (size_t)n : 0);
    return b;
}

TEST_F(Relay, RepliesGoToLastSenderWithMatchingChecksum) {
    // Free ports for the receivers, and a loopback "group" listener.
    uint16_t p7000, p7100, pnew, pm;
    int t1 = udp_socket(&p7000), t2 = udp_socket(&p7100), t3 = udp_socket(&pnew);
    close(t1);
    close(t2);
    close(t3);
    int group = udp_socket(&pm);
    UdpRelaySetPorts(p7000, p7100, pnew, "127.0.0.1", pm);
    pthread_t th;
    pthread_create(&th, nullptr, UdpRecvData, nullptr);
    pthread_detach(th);
    pthread_create(&th, nullptr, UdpRecvDataNew, nullptr);
    pthread_detach(th);

    uint16_t cport;
    int client = udp_socket(&cport);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    Bytes hello = frame(0x30, 25);
    Bytes got;
    for (int i = 0; i < 100 && got.empty(); ++i) {  // until the receiver is up
        to.sin_port = htons(p7000);
        sendto(client, hello.data(), hello.size(), 0, (sockaddr *)&to, sizeof to);
        usleep(20000);
        got = serial();
    }
    ASSERT_EQ(got, hello);

    // A serial frame whose version bits were cleared by the router.
    Bytes out = frame(0x31, 24, 0x22);
    out[out.size() - 3] = 0xFF;  // stale sum
    ASSERT_EQ(UartToNetBag(out.data(), (int)out.size()), (int)out.size());
    Bytes back = recv_wait(client, 1000);
    ASSERT_EQ(back.size(), out.size());
    uint16_t sum = CalcCheckSum(back.data(), (uint16_t)(back.size() - 3));
    EXPECT_EQ(back[back.size() - 3], (uint8_t)sum);
    EXPECT_EQ(back[back.size() - 2], (uint8_t)(sum >> 8));

    // No peer on 57038 yet: the send fails; the group still gets it.
    for (int i = 0; i < 100 && UartToNetBag_mcast(out.data(), (int)out.size()) < 0; ++i) usleep(10000);
    EXPECT_EQ(recv_wait(group, 1000).size(), out.size());
    EXPECT_LT(UartToNetBagNew(out.data(), (int)out.size()), 0);
    close(client);
    close(group);
}

}  // namespace
