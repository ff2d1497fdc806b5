#include "rtmp_link.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "err_code.h"

#include <librtmp/log.h>
#include <librtmp/rtmp.h>

namespace {

constexpr uint32_t RTMP_CHUNK_OUT = 4096;  // bytes of a message per chunk we send
constexpr int RTMP_SEND_TIMEOUT_S = 5;     // bounds the TCP connect and every send

using Clock = std::chrono::steady_clock;

// Shuts a connecting socket down at the attempt's deadline. The library waits
// for each reply with the socket's receive time-out, which every message from
// the server starts again: a server that only sent pings held an attempt for
// ever. After the shutdown its blocked recv (or TCP connect) returns and the
// attempt fails as it would against a server that went away. Only the read
// side: the library closes the connection on a failed send in the middle of
// handling a reply, then goes on to use what the close freed.
class AttemptWatchdog {
public:
    ~AttemptWatchdog() { disarm(); }
    // False when the bound cannot be set up (no descriptor, no thread): an
    // attempt without it could last for ever, so it is not made.
    bool arm(int fd, Clock::time_point deadline) {
        disarm();
        // A duplicate of our own: the library closes its descriptor when the
        // peer goes, and the number may be reused before we are disarmed.
        int own = dup(fd);
        if (own < 0) return why_not("no descriptor", errno);
        std::lock_guard<std::mutex> g(m_);
        fd_ = own;
        deadline_ = deadline;
        fired_ = false;
        try {
            thread_ = std::thread(rtmpWatchdog, this);
        } catch (const std::system_error &e) {
            ::close(fd_);
            fd_ = -1;
            return why_not("no thread", e.code().value());
        }
        armed_ = true;
        return true;
    }
    // Whether the deadline came first: the socket was shut down, so what the
    // attempt achieved is void.
    bool disarm() {
        {
            std::lock_guard<std::mutex> g(m_);
            if (!armed_) return false;
            armed_ = false;
        }
        cv_.notify_all();
        thread_.join();
        ::close(fd_);
        fd_ = -1;
        return fired_;
    }

private:
    static bool why_not(const char *what, int err) {
        fprintf(stderr, "RTMP connect: the attempt cannot be bounded (%s: %s), not made\n", what, strerror(err));
        return false;
    }
    static void rtmpWatchdog(AttemptWatchdog *self) {
        pthread_setname_np(pthread_self(), "rtmpWatchdog");
        std::unique_lock<std::mutex> g(self->m_);
        if (!self->cv_.wait_until(g, self->deadline_, [self] { return !self->armed_; })) {
            // Not the library's logger: it formats into a buffer of its own,
            // and the attempt's thread may be logging.
            fputs("RTMP connect: the attempt's time is up, shutting the socket down\n", stderr);
            shutdown(self->fd_, SHUT_RD);
            self->fired_ = true;
        }
    }
    std::mutex m_;
    std::condition_variable cv_;
    std::thread thread_;
    Clock::time_point deadline_;
    int fd_ = -1;
    bool armed_ = false;
    bool fired_ = false;
};

class LibTransport : public RtmpTransport {
public:
    int connect(const char *url) override {
        const Clock::time_point start = Clock::now();
        close();  // a reconnect never leaks the previous connection
        RTMP_LogSetLevel(RTMP_LOGINFO);
        r_ = RTMP_Alloc();
        if (!r_) return RtmpConnectFail;
        RTMP_Init(r_);
        // The library keeps pointers into the URL it was given.
        url_ = url ? url : "";
        if (!RTMP_SetupURL(r_, url_.data())) {
            free_conn();
            return RtmpUrlSetupFail;
        }
        fprintf(stderr, "Connecting to %s\n", url_.c_str());
        RTMP_EnableWrite(r_);
        // A whole attempt ends within the receive time-out from its start,
        // whatever the server sends (a URL's "timeout=0" keeps the default).
        deadline_ = start + std::chrono::seconds(r_->Link.timeout > 0 ? r_->Link.timeout : 30);
        if (!connect_bounded()) {
            fail();
            return RtmpConnectFail;
        }
        // The proxied path gets its socket only from the library's connect.
        if (r_->Link.socksport && !watchdog_.arm(RTMP_Socket(r_), deadline_)) {
            fail();
            return RtmpConnectStreamFail;
        }
        // The library sets only a receive time-out: a stalled server must
        // not block a send for ever.
        set_send_timeout(RTMP_Socket(r_));
        // A last reply that beat the deadline by a hair leaves a socket the
        // watchdog has just shut down: no connection.
        if (!RTMP_ConnectStream(r_, 0) || watchdog_.disarm()) {
            fail();
            return RtmpConnectStreamFail;
        }
        set_chunk_size();
        return 0;
    }
    bool connected() override { return r_ && RTMP_IsConnected(r_); }
    int send(uint8_t type, uint32_t timestamp, int header_type, const uint8_t *body, uint32_t len) override {
        if (!connected()) return 0;
        RTMPPacket pkt;
        RTMPPacket_Reset(&pkt);
        if (!RTMPPacket_Alloc(&pkt, len)) return 0;
        memcpy(pkt.m_body, body, len);
        pkt.m_nBodySize = len;
        pkt.m_packetType = type;
        pkt.m_nChannel = 0x04;
        pkt.m_nInfoField2 = r_->m_stream_id;
        pkt.m_hasAbsTimestamp = 0;
        pkt.m_nTimeStamp = timestamp;
        pkt.m_headerType = (uint8_t)(header_type == 1 ? RTMP_PACKET_SIZE_MEDIUM : RTMP_PACKET_SIZE_LARGE);
        int ok = RTMP_SendPacket(r_, &pkt, 1);
        RTMPPacket_Free(&pkt);
        return ok ? 1 : 0;
    }
    void close() override {
        watchdog_.disarm();
        if (r_) {
            RTMP_Close(r_);
            free_conn();
        }
    }

private:
    static void set_send_timeout(int fd) {
        timeval tv{RTMP_SEND_TIMEOUT_S, 0};
        if (setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) < 0)
            RTMP_Log(RTMP_LOGERROR, "%s, Setting socket timeout to %ds failed!", __func__, RTMP_SEND_TIMEOUT_S);
    }
    // Disarmed before the socket is closed: the watchdog never shuts down a
    // later connection.
    void fail() {
        watchdog_.disarm();
        RTMP_Close(r_);
        free_conn();
    }
    // The library's own connect blocks until the kernel gives up, minutes
    // against a host that drops the attempt. Here the socket gets its send
    // time-out before connecting, which bounds the TCP connect too; the
    // library then does the RTMP part on it, under the attempt's watchdog.
    // A proxied URL keeps the library's path: its lookup, connect, proxy
    // exchange and handshake are left to the library's own time-outs; the
    // watchdog covers only the wait for the stream's replies.
    bool connect_bounded() {
        if (r_->Link.socksport) return RTMP_Connect(r_, nullptr);
        std::string host(r_->Link.hostname.av_val ? r_->Link.hostname.av_val : "", (size_t)r_->Link.hostname.av_len);
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *ai = nullptr;
        if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &ai) != 0 || !ai) {
            RTMP_Log(RTMP_LOGERROR, "Problem accessing the DNS. (addr: %s)", host.c_str());
            return false;
        }
        // The lookup follows the resolver's own time-outs; we cannot cut it.
        if (Clock::now() >= deadline_) {
            freeaddrinfo(ai);
            RTMP_Log(RTMP_LOGERROR, "%s, the name lookup used up the attempt's time", __func__);
            return false;
        }
        sockaddr_in sa;
        memcpy(&sa, ai->ai_addr, sizeof sa);
        freeaddrinfo(ai);
        sa.sin_port = htons(r_->Link.port ? r_->Link.port : 1935);
        int fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (fd < 0) return false;
        set_send_timeout(fd);
        if (!watchdog_.arm(fd, deadline_)) {
            ::close(fd);
            return false;
        }
        if (::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) < 0) {
            RTMP_Log(RTMP_LOGERROR, "%s, failed to connect socket. %d (%s)", __func__, errno, strerror(errno));
            ::close(fd);
            return false;
        }
        timeval rcv{r_->Link.timeout, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &rcv, sizeof rcv);
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        r_->m_sb.sb_socket = fd;
        r_->m_sb.sb_timedout = 0;
        r_->m_pausing = 0;
        r_->m_fDuration = 0.0;
        r_->m_bSendCounter = 1;
        return RTMP_Connect1(r_, nullptr) != 0;
    }
    // The library writes every chunk with its own send: with its default of
    // 128 bytes a second of live video took thousands of them.
    void set_chunk_size() {
        RTMPPacket pkt;
        RTMPPacket_Reset(&pkt);
        if (!RTMPPacket_Alloc(&pkt, 4)) return;
        const uint32_t size = RTMP_CHUNK_OUT;
        pkt.m_body[0] = (char)(size >> 24);
        pkt.m_body[1] = (char)(size >> 16);
        pkt.m_body[2] = (char)(size >> 8);
        pkt.m_body[3] = (char)size;
        pkt.m_nBodySize = 4;
        pkt.m_packetType = RTMP_PACKET_TYPE_CHUNK_SIZE;
        pkt.m_nChannel = 0x02;  // protocol control
        pkt.m_headerType = RTMP_PACKET_SIZE_LARGE;
        if (RTMP_SendPacket(r_, &pkt, 0)) r_->m_outChunkSize = (int)size;
        RTMPPacket_Free(&pkt);
    }
    void free_conn() {
        RTMP_Free(r_);
        r_ = nullptr;
    }
    RTMP *r_ = nullptr;
    std::string url_;
    Clock::time_point deadline_;
    AttemptWatchdog watchdog_;
};

}  // namespace

RtmpTransport *RtmpLibTransport() {
    static LibTransport t;
    return &t;
}
