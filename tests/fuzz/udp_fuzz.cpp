// Fuzz target: sequences of datagrams on the relay's ports and pacer passes.
// What reaches the serial side is compared byte for byte with a model of
// the relay: immediate datagrams whole, the two paced kinds in order, at
// most one of each per pass, none lost while its queue had room. No socket
// is opened: datagrams go straight to the receivers' handling.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <deque>
#include <vector>

#include "uart_proto.h"
#include "udp_relay.h"

namespace {

using Bytes = std::vector<uint8_t>;
int s_pipe[2] = {-1, -1};
const int kQueueRoom = NET_BAG_NUM - 1;  // a ring keeps one slot free

void Check(bool ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "invariant broken: %s\n", what);
        abort();
    }
}

Bytes Drain() {
    Bytes out;
    uint8_t b[4096];
    for (;;) {
        ssize_t n = read(s_pipe[0], b, sizeof b);
        if (n <= 0) break;
        out.insert(out.end(), b, b + n);
    }
    return out;
}

struct Model {
    std::deque<Bytes> q82, q5f;
    Bytes expect;

    void Datagram(int port, const uint8_t *p, int len) {
        if (len < 1) return;
        if (port == UDP_PORT_7000 && len == NET_BAG_LEN_82 && p[16] == 0x82) {
            if ((int)q82.size() < kQueueRoom) q82.emplace_back(p, p + len);
            return;
        }
        if (port == UDP_PORT_7100 && len == NET_BAG_LEN_5F && p[16] == 0x5F) {
            if ((int)q5f.size() < kQueueRoom) q5f.emplace_back(p, p + len);
            return;
        }
        expect.insert(expect.end(), p, p + len);
    }
    void Step() {
        for (auto *q : {&q82, &q5f}) {
            if (q->empty()) continue;
            expect.insert(expect.end(), q->front().begin(), q->front().end());
            q->pop_front();
        }
    }
};

void Compare(Model &m) {
    Bytes got = Drain();
    Check(got == m.expect, "serial bytes differ from the relay model");
    m.expect.clear();
}

}  // namespace

// Input: records of [op][n][n bytes]. op bits 0-1 pick the port (7000,
// 7100, 57038, none of them); bit 2 runs a pacer pass afterwards; bits 3-4
// shape the datagram as a paced kind (22 bytes with 0x82 at byte 16, or 31
// with 0x5F); bits 5-7 repeat it (flood) 1 + 16 * value times. Without a
// shape the length is n * 5, capped by the data left and the 1056-byte
// receive buffer.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (s_pipe[0] < 0) {
        if (pipe2(s_pipe, O_NONBLOCK) != 0) abort();
        fcntl(s_pipe[1], F_SETPIPE_SZ, 1 << 20);
        g_UartFd = s_pipe[1];
        if (!freopen("/dev/null", "w", stdout)) abort();
        UdpRelayInitQueues();
    }
    static const int ports[4] = {UDP_PORT_7000, UDP_PORT_7100, UDP_PORT_NEW, 9};
    Model m;
    size_t i = 0;
    uint8_t dgram[UDP_RECV_BUF];
    while (i + 2 <= size) {
        const uint8_t op = data[i], n = data[i + 1];
        i += 2;
        int len = n * 5;
        if (op & 0x08) len = NET_BAG_LEN_82;
        if (op & 0x10) len = NET_BAG_LEN_5F;
        if (len > UDP_RECV_BUF) len = UDP_RECV_BUF;
        size_t avail = size - i;
        int take = (int)(avail < (size_t)len ? avail : (size_t)len);
        memset(dgram, 0, sizeof dgram);
        memcpy(dgram, data + i, (size_t)take);
        i += (size_t)take;
        if (!(op & 0x18)) len = take;
        if (op & 0x08) dgram[16] = 0x82;
        if (op & 0x10) dgram[16] = 0x5F;
        const int port = ports[op & 3];
        const int reps = 1 + 16 * (op >> 5);
        for (int r = 0; r < reps; r++) {
            UdpHandleDatagram(port, dgram, len);
            m.Datagram(port, dgram, len);
        }
        if (op & 0x04) {
            NetQueueStep();
            m.Step();
        }
        Compare(m);
    }
    // Empty both queues for the next input, one pass at a time.
    while (!m.q82.empty() || !m.q5f.empty()) {
        NetQueueStep();
        m.Step();
        Compare(m);
    }
    NetQueueStep();
    Compare(m);  // nothing more came out
    return 0;
}
