// Stand-ins for the parts of the recorder the command handler reaches but a
// fuzz run must not start: the media pipeline, the RTMP connection and the
// muxer thread. They record how they were called so targets can check it.
#include <stdio.h>
#include <stdlib.h>

#include <atomic>

#include "fuzz_stubs.h"
#include "mp4_record.h"
#include "rtmp_link.h"
#include "st_pipeline.h"
#include "user_setting.h"

std::atomic<MP4_STATE> g_Mp4State{State_Mp4_Init};
FuzzCalls g_fuzzCalls;

// The muxer's request entry points: the state the host's request leaves.
void Mp4RequestRecord(int on) {
    UserSetPut(UsrBits::SaveOnOff, on ? 1 : 0);
    UserSetPut(UsrBits::SaveStop, on ? 0 : 1);
    if (on) g_Mp4State = State_Mp4_OpenFile;
}

void Mp4RequestPause(int pause) {
    if (!UserSetGet(UsrBits::SaveOnOff)) return;
    UserSetPut(UsrBits::SavePause, pause ? 1 : 0);
    UserSetPut(UsrBits::RecStatus, pause ? 2 : 1);
    g_Mp4State = pause ? State_Mp4_Wait : State_Mp4_WriteFile;
}

MI_S32 VencSetRcParam(MI_U32 u32Chn) {
    // Only two encoder streams exist; the handler must refuse the rest itself.
    if (u32Chn > 1) {
        fprintf(stderr, "VencSetRcParam(%u)\n", (unsigned)u32Chn);
        abort();
    }
    g_fuzzCalls.rc++;
    return 0;
}

MI_S32 SetInputReso(uint32_t code) {
    g_fuzzCalls.reso++;
    g_fuzzCalls.lastReso = code;
    return 0;
}

namespace {
class NoServer : public RtmpTransport {
public:
    int connect(const char *) override { return -1; }
    bool connected() override { return false; }
    int send(uint8_t, uint32_t, int, const uint8_t *, uint32_t) override { return -1; }
    void close() override {}
};
}  // namespace

RtmpTransport *RtmpLibTransport() {
    static NoServer s;
    return &s;
}
