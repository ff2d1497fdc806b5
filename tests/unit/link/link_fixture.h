// Common set-up: fresh queues and parser, the serial descriptor replaced by
// one end of a socket pair whose other end the test reads.
#pragma once
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "link_test_util.h"
#include "uart_proto.h"
#include "user_setting.h"
#include "usb_detect.h"

class LinkTest : public ::testing::Test {
protected:
    int peer = -1;
    void SetUp() override {
        UartRecvQueueInit();
        UartHeartReset();
        g_UpdataFlag = 0;
        memset(&g_stUserSet, 0, sizeof(g_stUserSet));
        int sv[2];
        ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, sv));
        int big = 1 << 20;
        setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof(big));
        setsockopt(sv[1], SOL_SOCKET, SO_RCVBUF, &big, sizeof(big));
        setsockopt(sv[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof(big));
        setsockopt(sv[0], SOL_SOCKET, SO_RCVBUF, &big, sizeof(big));
        fcntl(sv[0], F_SETFL, O_NONBLOCK);
        fcntl(sv[1], F_SETFL, O_NONBLOCK);
        g_UartFd = sv[0];
        peer = sv[1];
    }
    void TearDown() override {
        close(g_UartFd);
        close(peer);
        g_UartFd = -1;
        g_UpdataFlag = 0;
    }
    int Feed(const Bytes& b) {
        int done = 0;
        for (uint8_t x : b) done += MediumCtrl_ProtocolAnalyzeState(x, &stStateVarUart);
        return done;
    }
    // Frames waiting in the frame queue, oldest first (taken out).
    std::vector<Bytes> TakeQueued() {
        std::vector<Bytes> out;
        uint8_t* slot = nullptr;
        while (BagQueueGetData(&stRecvBagQueue, &slot)) {
            size_t len = (slot[2] | (slot[3] << 8)) & 0x7FF;
            out.emplace_back(slot, slot + len);
        }
        return out;
    }
    void SendToBoard(const Bytes& b) {
        ASSERT_EQ((ssize_t)b.size(), write(peer, b.data(), b.size()));
    }
    // Runs the serial loop's read and what follows it `n` times.
    void Cycle(int n) {
        for (int i = 0; i < n; i++) {
            u64 t = UartMonotonicUs();
            UartRecvStep(UartRecvData(), t);
        }
    }
};
