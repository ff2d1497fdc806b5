#include "rtmp_publish.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "err_code.h"
#include "file_util.h"
#include "h264_sps.h"
#include "uart_proto.h"
#include "user_setting.h"

ST_RTMP_URL g_stUrl;
std::atomic<EM_RTMP_STATE> emRtmpState{State_Rtmp_Init};
std::atomic<uint8_t> u8RtmpConnectOK{0};
std::atomic<uint8_t> u8RtmpStart{0};
std::atomic<uint8_t> u8RtmpAudioStart{0};
std::atomic<uint8_t> u8RtmpConnectFlag{0};

namespace {

RtmpTransport *g_link = nullptr;
std::string g_relDir = "url";
std::string g_absDir = RTMP_URL_DIR;

// Publisher-thread state (the thread alone runs RtmpStep).
struct Pub {
    int inSend = 0;       // in the Send state
    int started = 0;      // a key frame has been sent on this connection
    int iReConnectCnt = 0;
    int iRet = 0;
    uint8_t ucConnectcheck = 0;
    // Tag time stamps are capture times relative to the connection's first
    // picture: they keep pace with the frames actually sent, at any frame
    // rate and across frames the list dropped.
    bool haveBase = false;
    uint64_t baseUs = 0;
    uint32_t videoTs = 0, audioTs = 0;  // last sent, never to go back
} g_pub;

// Counts the host's requests to connect: one made while a connection is
// being opened is served after it, with the destination it named.
std::atomic<uint32_t> g_openRequests{0};

RtmpTransport *link() { return g_link ? g_link : RtmpLibTransport(); }

constexpr uint8_t kAacConfig[2] = {0x11, 0x90};  // AAC-LC, 48 kHz, stereo

std::string url_file(const std::string &dir, unsigned idx) { return dir + "/" + std::to_string(idx); }

}  // namespace

void RtmpSetTransport(RtmpTransport *t) { g_link = t; }

void RtmpResetForTest(void) {
    g_pub = Pub{};
    emRtmpState = State_Rtmp_Init;
    u8RtmpConnectOK = 0;
    u8RtmpStart = 0;
    u8RtmpAudioStart = 0;
    u8RtmpConnectFlag = 0;
}

void RtmpUrlSetDirs(const char *relDir, const char *absDir) {
    g_relDir = relDir ? relDir : "url";
    g_absDir = absDir ? absDir : RTMP_URL_DIR;
}

void RtmpOpenState(void) {
    g_openRequests++;
    emRtmpState = State_Rtmp_Connect;
}

void RtmpCloseState(void) {
    if (u8RtmpConnectOK) emRtmpState = State_Rtmp_Close;
}

// Reads destination `index` from `dir`, both strings terminated. A short file
// is refused: it would leave the tail of the previous destination behind.
static int read_url_record(const std::string &dir, uint8_t index, ST_RTMP_URL *rec) {
    memset(rec, 0, sizeof *rec);
    size_t got = 0;
    int ret = index < RTMP_URL_COUNT ? ReadFileEx(url_file(dir, index).c_str(), rec, sizeof *rec, &got) : FileOpenFail;
    if (ret == NoErr && got != sizeof *rec) ret = FileReadFail;
    rec->user_name[sizeof rec->user_name - 1] = 0;
    rec->rtmp_url[sizeof rec->rtmp_url - 1] = 0;
    return ret;
}

int ReadRtmpUrl(uint8_t index) {
    ST_RTMP_URL rec;
    int ret = read_url_record(g_relDir, index, &rec);
    if (ret == NoErr) g_stUrl = rec;
    return ret;
}

int LoadRtmpUrl(uint8_t ucIndex, ST_RTMP_URL *out) {
    printf("ucIndex = %d\n", ucIndex);
    ST_RTMP_URL rec;
    int ret = read_url_record(g_absDir, ucIndex, &rec);
    if (out) memcpy(out, &rec, sizeof rec);
    return ret;
}

int SaveRtmpUrlFile(const ST_RTMP_URL *rec) {
    if (!rec || rec->index >= RTMP_URL_COUNT) return FileCreatFail;
    return WriteFile(url_file(g_absDir, rec->index).c_str(), rec, sizeof *rec);
}

int SaveRtmpUrl(const ST_RTMP_URL *rec) {
    if (!rec || rec->index >= RTMP_URL_COUNT) return FileCreatFail;
    ST_RTMP_URL r = *rec;
    r.user_name[sizeof r.user_name - 1] = 0;
    r.rtmp_url[sizeof r.rtmp_url - 1] = 0;
    printf("%d \n", r.index);
    printf("%d \n", r.user_name_len);
    printf("%s \n", r.user_name);
    printf("%d \n", r.rtmp_url_len);
    printf("%s \n", r.rtmp_url);
    int ret = WriteFile(url_file(g_absDir, r.index).c_str(), &r, sizeof r);
    uint8_t frame[1 + sizeof r];
    frame[0] = 0;
    memcpy(frame + 1, &r, sizeof r);
    UartSendBag(0x67, frame, sizeof frame);
    return ret;
}

int RTMP264_Connect(const char *url) { return link()->connect(url); }

int Rtmp264_Open(void) {
    int ret = RtmpWriteNFail;
    const uint32_t request = g_openRequests;
    for (int i = 0; i < 2; ++i) {
        char url[sizeof g_stUrl.rtmp_url];
        memcpy(url, g_stUrl.rtmp_url, sizeof url);
        url[sizeof url - 1] = 0;
        ret = RTMP264_Connect(url);
        printf("RTMP264_Connect %d %d\n", ret, i);
        if (ret == 0) return 0;
        UartSendErrorCode((uint32_t)ret);
        // Switched off, or asked again (perhaps elsewhere) meanwhile: the
        // caller serves the newer request.
        if (!UserSetGet(UsrBits::RtmpOnOff) || g_openRequests != request) return ret;
    }
    return RtmpWriteNFail;
}

void RTMP264_Close(void) {
    link()->close();
    printf("RTMP264_Close ");
}

int SendPacket(uint32_t type, uint8_t *data, uint32_t size, uint32_t timestamp) {
    if (!link()->connected()) return 0;
    return link()->send((uint8_t)type, timestamp, 0, data, size);
}

int SendVideoSpsPps(uint8_t *pps, int pps_len, uint8_t *sps, int sps_len, uint32_t timestamp) {
    if (!sps || !pps || sps_len < 4 || pps_len < 0 || 16 + sps_len + pps_len > 1024) return 0;
    uint8_t body[1024];
    int i = 0;
    body[i++] = 0x17;
    body[i++] = 0x00;
    body[i++] = 0x00;
    body[i++] = 0x00;
    body[i++] = 0x00;
    body[i++] = 0x01;
    body[i++] = sps[1];
    body[i++] = sps[2];
    body[i++] = sps[3];
    body[i++] = 0xFF;
    body[i++] = 0xE1;
    body[i++] = (uint8_t)(sps_len >> 8);
    body[i++] = (uint8_t)sps_len;
    memcpy(body + i, sps, (size_t)sps_len);
    i += sps_len;
    body[i++] = 0x01;
    body[i++] = (uint8_t)(pps_len >> 8);
    body[i++] = (uint8_t)pps_len;
    memcpy(body + i, pps, (size_t)pps_len);
    i += pps_len;
    return link()->send(9, timestamp, 1, body, (uint32_t)i);
}

int SendH264Packet(uint8_t *data, uint32_t size, int bIsKeyFrame, uint32_t timestamp) {
    // A picture whose macroblocks are all skipped is a NAL unit of a few
    // bytes: only a missing one is refused.
    if (!data || size == 0) {
        printf("data == NULL && size<11\n");
        return 0;
    }
    std::string body(size + 9, '\0');
    uint8_t *b = reinterpret_cast<uint8_t *>(body.data());
    b[0] = bIsKeyFrame ? 0x17 : 0x27;
    b[1] = 0x01;
    b[5] = (uint8_t)(size >> 24);
    b[6] = (uint8_t)(size >> 16);
    b[7] = (uint8_t)(size >> 8);
    b[8] = (uint8_t)size;
    memcpy(b + 9, data, size);
    if (bIsKeyFrame) {
        ST_SPS_PPS sp;
        SpsPpsLoad(1, &sp);
        SendVideoSpsPps(sp.pps, sp.ppsLen, sp.sps, sp.spsLen, timestamp);
    }
    return SendPacket(9, b, size + 9, timestamp);
}

// Milliseconds of capture time since the connection's first picture; a
// stamp that would go back repeats the last one.
static uint32_t tag_time(uint64_t stamp, uint32_t *last) {
    if (stamp > g_pub.baseUs) {
        uint64_t ms = (stamp - g_pub.baseUs) / 1000;
        if (ms > *last) *last = (uint32_t)ms;
    }
    return *last;
}

int RTMP264_Send(uint8_t *data, uint32_t size, int bIsKeyFrame, uint64_t stamp) {
    if (u8RtmpStart) {
        u8RtmpStart = 0;
        ST_SPS_PPS sp;
        SpsPpsLoad(1, &sp);
        sps_info_struct info;
        memset(&info, 0, sizeof info);
        h264_parse_sps(sp.sps, sp.spsLen, &info);
        printf("width = %d  height = %d fps = %d \n", info.width, info.height, info.fps);
        printf("bIsKeyFrame = %d \n", bIsKeyFrame);
        g_pub.haveBase = true;
        g_pub.baseUs = stamp;
        g_pub.videoTs = g_pub.audioTs = 0;
    }
    if (size < 4) return 0;
    return SendH264Packet(data + 4, size - 4, bIsKeyFrame, tag_time(stamp, &g_pub.videoTs));
}

int SendAacSequenceHderPacket0(uint8_t *config, uint32_t len, double timestamp) {
    if (!config || len > 16) return 0;
    uint8_t body[18] = {0xAF, 0x00};
    memcpy(body + 2, config, len);
    return SendPacket(8, body, len + 2, (uint32_t)timestamp);
}

int SendAacRawPacket(uint8_t *data, int len, double timestamp) {
    if (len < 1) return 1;
    std::string body((size_t)len + 2, '\0');
    uint8_t *b = reinterpret_cast<uint8_t *>(body.data());
    b[0] = 0xAF;
    b[1] = 0x01;
    memcpy(b + 2, data, (size_t)len);
    return SendPacket(8, b, (uint32_t)len + 2, (uint32_t)timestamp);
}

int RTMP_AAC_Send(uint8_t *data, int len, uint64_t stamp) {
    // Audio captured before the connection's first picture has no place
    // on its time line.
    if (!g_pub.haveBase || stamp < g_pub.baseUs) return 1;
    if (u8RtmpAudioStart) {
        u8RtmpAudioStart = 0;
        uint8_t cfg[2] = {kAacConfig[0], kAacConfig[1]};
        SendAacSequenceHderPacket0(cfg, 2, 0);
    }
    return SendAacRawPacket(data, len, tag_time(stamp, &g_pub.audioTs));
}

void RtmpStep(rtp_s *list, int wait_ms) {
    switch (emRtmpState) {
    case State_Rtmp_Init:
        g_pub.inSend = 0;
        g_pub.started = 0;
        u8RtmpConnectOK = 0;
        break;
    case State_Rtmp_Idle:
        break;
    case State_Rtmp_Connect: {
        // Also when asked to connect while sending: a new connection starts
        // with the sequence headers and a key frame, and the old one is
        // closed, also when no attempt follows (publishing went off).
        if (u8RtmpConnectOK) RTMP264_Close();
        g_pub.inSend = 0;
        g_pub.started = 0;
        g_pub.haveBase = false;
        u8RtmpStart = 1;
        u8RtmpAudioStart = 1;
        u8RtmpConnectFlag = 1;
        const uint32_t request = g_openRequests;
        int r = UserSetGet(UsrBits::RtmpOnOff) ? Rtmp264_Open() : RtmpWriteNFail;
        const bool on = UserSetGet(UsrBits::RtmpOnOff);
        if (r == 0 && on && g_openRequests == request) {
            // Nothing sent yet on this connection: the status follows its first send.
            g_pub.iRet = 0;
            u8RtmpConnectOK = 1;
            emRtmpState = State_Rtmp_Send;
        } else {
            if (r == 0) RTMP264_Close();
            u8RtmpConnectOK = 0;
            // Failed while nobody asked again: publishing goes off.
            if (r != 0 && on && g_openRequests == request) UserSetPut(UsrBits::RtmpOnOff, 0);
            emRtmpState = State_Rtmp_Idle;
        }
        u8RtmpConnectFlag = 0;
        // The host asked again while this one was connecting (perhaps
        // elsewhere): serve that request next, also one that came in while
        // the state above was being stored.
        if (g_openRequests != request && UserSetGet(UsrBits::RtmpOnOff)) emRtmpState = State_Rtmp_Connect;
        break;
    }
    case State_Rtmp_Send:
        g_pub.inSend = 1;
        break;
    case State_Rtmp_Close:
        // Out of the send state at once: a key frame taken in this very pass
        // must not restart sending on the closed connection (which would
        // report a failed send and reconnect against the host's wish).
        g_pub.inSend = 0;
        g_pub.started = 0;
        g_pub.iReConnectCnt = 0;
        RTMP264_Close();
        emRtmpState = State_Rtmp_Init;
        break;
    }

    // The frame leaves the list before it goes to the network: a slow server
    // must never hold up the encoder stream thread behind the list's mutex.
    frame_t *f = rtp_take_frame(list);
    if (!f) {
        rtp_wait_frame(list, wait_ms);
        return;
    }
    if (f->i_type == FRAME_TYPE_VIDEO) {
        if (f->i_flag && g_pub.inSend) g_pub.started = 1;
        if (g_pub.started) g_pub.iRet = RTMP264_Send(f->p_frame, f->i_frame_size, f->i_flag, f->i_time_stamp);
    } else if (f->i_type == FRAME_TYPE_AUDIO) {
        if (g_pub.started) g_pub.iRet = RTMP_AAC_Send(f->p_frame, (int)f->i_frame_size, f->i_time_stamp);
    }
    free_frame(&f);

    if (g_pub.started && g_pub.iRet == 0) {
        UartSendErrorCode(RtmpWriteNFail);
        printf("RtmpWriteNFail -------\n");
        RTMP264_Close();
        g_pub.inSend = 0;
        g_pub.started = 0;
        u8RtmpConnectOK = 0;
        emRtmpState = State_Rtmp_Connect;
        if (++g_pub.iReConnectCnt > 10) {
            g_pub.iReConnectCnt = 0;
            emRtmpState = State_Rtmp_Init;
            UserSetPut(UsrBits::RtmpOnOff, 0);
        }
    }

    uint8_t ucConnect = (u8RtmpConnectOK == 1 && g_pub.iRet == 1) ? 1 : 0;
    g_pub.ucConnectcheck = (uint8_t)((g_pub.ucConnectcheck << 1) | ucConnect);
    if ((g_pub.ucConnectcheck & 3) == 1) {
        UartSendRtmpStatus(1);
        printf("connect OK .......\n");
    } else if ((g_pub.ucConnectcheck & 3) == 2) {
        UartSendRtmpStatus(0);
        printf("disconnect .......\n");
    }
}

void *RtmpHandle(void *p) {
    rtp_s *list = static_cast<rtp_s *>(p);
    if (!list) {
        printf("ERROR!\n");
        return nullptr;
    }
    // A frame wakes the thread at once; the time-out only bounds how late a
    // state change is seen while no frame comes (a short one woke it 200
    // times a second for nothing).
    for (;;) RtmpStep(list, RTMP_IDLE_WAIT_MS);
    return nullptr;
}
