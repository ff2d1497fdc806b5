// The library-backed connection against a loopback server. Each attempt runs
// in a child process, which may limit itself first: an attempt whose bound
// cannot be set up, or whose bound fired, fails, leaves nothing open and the
// process goes on.
#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "err_code.h"
#include "rtmp_link.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

bool read_n(int fd, uint8_t *p, size_t n) {
    for (ssize_t r; n > 0; p += r, n -= (size_t)r)
        if ((r = recv(fd, p, n, 0)) <= 0) return false;
    return true;
}

// One message of fewer than 128 bytes (the peer's default chunk size).
Bytes message(uint8_t csid, uint8_t type, const Bytes &body) {
    const uint8_t hdr[12] = {csid, 0, 0, 0, 0, 0, (uint8_t)body.size(), type, 1, 0, 0, 0};
    Bytes m(hdr, hdr + sizeof hdr);
    m.resize(sizeof hdr + body.size());
    std::copy(body.begin(), body.end(), m.begin() + sizeof hdr);
    return m;
}
void amf_str(Bytes &b, const std::string &s, bool marker = true) {
    if (marker) b.push_back(0x02);
    b.push_back(0);
    b.push_back((uint8_t)s.size());
    b.insert(b.end(), s.begin(), s.end());
}
void amf_num(Bytes &b, double d) {
    uint64_t u;
    memcpy(&u, &d, 8);
    b.push_back(0x00);
    for (int i = 7; i >= 0; --i) b.push_back((uint8_t)(u >> (8 * i)));
}

// The replies to connect, createStream and publish, all at once: the client
// sends each request before it reads the next reply.
Bytes replies() {
    const uint8_t null = 0x05, object = 0x03;
    Bytes connect, create, status;
    amf_str(connect, "_result");
    amf_num(connect, 1);  // the connect request's transaction
    connect.insert(connect.end(), {null, null});
    amf_str(create, "_result");
    amf_num(create, 4);  // createStream's, after releaseStream and FCPublish
    create.push_back(null);
    amf_num(create, 1);  // the stream
    amf_str(status, "onStatus");
    amf_num(status, 0);
    status.insert(status.end(), {null, object});
    amf_str(status, "level", false);
    amf_str(status, "status");
    amf_str(status, "code", false);
    amf_str(status, "NetStream.Publish.Start");
    status.insert(status.end(), {0, 0, 0x09});
    Bytes out;
    for (const Bytes *b : {&connect, &create, &status}) {
        Bytes m = message(3, 0x14, *b);
        out.insert(out.end(), m.begin(), m.end());
    }
    return out;
}

// Completes the handshake; then only pings every 500 ms, or answers at the
// time the client names as its application: "r" and the steady clock in us.
// A process of its own: the test forks its clients from a process without
// threads, so no lock of an allocator is held for ever in a child.
class Server {
public:
    explicit Server(bool answer) : answer_(answer) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        EXPECT_EQ(bind(fd, (sockaddr *)&a, n), 0);
        EXPECT_EQ(listen(fd, 64), 0);
        getsockname(fd, (sockaddr *)&a, &n);
        port_ = ntohs(a.sin_port);
        if ((pid_ = fork()) == 0) {
            for (int c; (c = accept(fd, nullptr, nullptr)) >= 0;) std::thread([this, c] { serve(c); }).detach();
            _exit(1);
        }
        close(fd);
    }
    ~Server() {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    std::string url(int timeout, const std::string &app = "live") const {
        return "rtmp://127.0.0.1:" + std::to_string(port_) + "/" + app + "/x timeout=" + std::to_string(timeout);
    }

private:
    void serve(int c) {
        uint8_t in[1537];
        Bytes s(1 + 2 * 1536, 0);
        s[0] = 3;
        if (read_n(c, in, sizeof in)) {
            memcpy(s.data() + 1 + 1536, in + 1, 1536);  // S2 echoes C1
            send(c, s.data(), s.size(), MSG_NOSIGNAL);
        }
        std::string got;  // what the client sent, until its application names the time
        auto next = answer_ ? Clock::time_point::max() : Clock::now();
        bool sent = false;
        for (bool more = read_n(c, in, 1536); more;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
            if (left > 1) {  // take what the client sends meanwhile
                pollfd p{c, POLLIN, 0};
                if (poll(&p, 1, left > 50 ? 50 : (int)left - 1) <= 0) continue;
                const ssize_t r = recv(c, in, sizeof in, 0);
                more = r > 0;
                if (!answer_ || sent || !more) continue;
                got.append((const char *)in, (size_t)r);
                const size_t at = got.find("/r");
                const size_t end = at == std::string::npos ? at : got.find_first_not_of("0123456789", at + 2);
                if (end != std::string::npos)
                    next = Clock::time_point(std::chrono::microseconds(std::stoll(got.substr(at + 2, end - at - 2))));
                continue;
            }
            std::this_thread::sleep_until(next);
            Bytes m = answer_ ? replies() : message(2, 0x04, {0, 6, 0, 0, 0, 0});
            send(c, m.data(), m.size(), MSG_NOSIGNAL);
            sent = true;
            next = answer_ ? Clock::time_point::max() : next + std::chrono::milliseconds(500);
        }
        close(c);
    }
    const bool answer_;
    int port_ = 0;
    pid_t pid_ = -1;
};

int open_fds() {
    int n = 0;
    for (int fd = 0; fd < 1024; ++fd) n += fcntl(fd, F_GETFD) != -1;
    return n;
}

// Starts `attempt` in a child process; its exit code comes back from wait().
template <class F>
pid_t child(F attempt) {
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGPIPE, SIG_IGN);
        alarm(10);  // an attempt without a bound is ended here
        // As in the publisher's thread, an exception ends the process.
        _exit([&]() noexcept { return attempt(RtmpLibTransport()); }());
    }
    return pid;
}
std::string wait(pid_t pid) {
    int st = 0;
    waitpid(pid, &st, 0);
    if (WIFSIGNALED(st)) return std::string("killed by ") + strsignal(WTERMSIG(st));
    return WEXITSTATUS(st) ? "check " + std::to_string(WEXITSTATUS(st)) + " failed" : "";
}

TEST(RtmpLink, AnAttemptWhoseBoundCannotBeSetUpFailsAndLeavesNothingOpen) {
    Server pinging(false);
    const std::string url = pinging.url(2);
    enum { NoThread, NoDescriptor };
    for (int row : {NoThread, NoDescriptor}) {
        SCOPED_TRACE(row == NoThread ? "no thread can be made" : "no descriptor for the bound");
        EXPECT_EQ(wait(child([&](RtmpTransport *link) {
                      link->connect("rtmp://127.0.0.1:1/live/x");  // refused: sets the library up
                      const int before = open_fds();
                      if (row == NoThread) {
                          // Root is not held to a process limit: become nobody.
                          if (geteuid() == 0 && (setgroups(0, nullptr) || setgid(65534) || setuid(65534))) return 1;
                          rlimit one{1, 1};
                          setrlimit(RLIMIT_NPROC, &one);
                      } else {
                          const int lowest = dup(0);  // the socket takes it, its copy finds none
                          close(lowest);
                          rlimit l{(rlim_t)lowest + 1, (rlim_t)lowest + 1};
                          setrlimit(RLIMIT_NOFILE, &l);
                      }
                      if (link->connect(url.c_str()) != RtmpConnectFail || link->connected()) return 2;
                      link->close();
                      return open_fds() == before ? 0 : 3;
                  })),
                  "");
    }
}

// The last reply lands around the deadline, 10 us apart from one attempt to
// the next: whichever way an attempt ends, a success is a connection that
// sends, and a failure leaves nothing connected.
TEST(RtmpLink, AReplyAtTheDeadlineGivesAConnectionThatWorksOrAFailure) {
    Server server(true);
    RtmpLibTransport()->connect("rtmp://127.0.0.1:1/live/x");  // the library set up before its clocks start
    std::vector<pid_t> pids;
    for (int us = -400; us < 100; us += 10)
        pids.push_back(child([&](RtmpTransport *link) {
            using std::chrono::microseconds;
            const auto at = Clock::now() + microseconds(1000000 + us);
            const std::string url = server.url(1, "r" + std::to_string(
                                                          std::chrono::duration_cast<microseconds>(at.time_since_epoch()).count()));
            if (link->connect(url.c_str()) != 0) return link->connected() ? 4 : 0;
            const uint8_t tag[] = {0x17, 0x01, 0, 0, 0};
            return link->send(9, 0, 0, tag, sizeof tag) == 1 ? 0 : 5;
        }));
    for (pid_t p : pids) EXPECT_EQ(wait(p), "");
}

}  // namespace
