// The RTMP connection behind the publisher: one adapter over the RTMP library,
// replaceable in tests by a recording transport.
#pragma once
#include <stdint.h>

class RtmpTransport {
public:
    virtual ~RtmpTransport() = default;
    // 0, or RtmpUrlSetupFail / RtmpConnectFail / RtmpConnectStreamFail.
    virtual int connect(const char *url) = 0;
    virtual bool connected() = 0;
    // One FLV tag as an RTMP message on chunk channel 4; header_type 0 (full)
    // or 1 (medium). Returns 1 when handed to the socket, 0 on failure.
    virtual int send(uint8_t type, uint32_t timestamp, int header_type, const uint8_t *body, uint32_t len) = 0;
    virtual void close() = 0;
};

// The library-backed transport.
RtmpTransport *RtmpLibTransport();
