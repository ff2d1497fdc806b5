// Helpers of the web control tests: scratch directories, files, the serial
// port as a pipe, and a small HTTP/WebSocket client on loopback.
#pragma once
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace webtest {

inline std::string make_temp_dir() {
    char tmpl[] = "/tmp/ut_web_XXXXXX";
    const char *d = mkdtemp(tmpl);
    return d ? d : "";
}

inline void remove_tree(const std::string &dir) {
    if (dir.size() > 12 && dir.compare(0, 12, "/tmp/ut_web_") == 0)
        if (system(("rm -rf '" + dir + "'").c_str()) != 0) perror("rm");
}

inline bool write_file(const std::string &path, const std::string &data) {
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return false;
    size_t n = fwrite(data.data(), 1, data.size(), f);
    return fclose(f) == 0 && n == data.size();
}

inline std::string read_file(const std::string &path, bool *exists = nullptr) {
    FILE *f = fopen(path.c_str(), "rb");
    if (exists) *exists = f != nullptr;
    if (!f) return "";
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    fclose(f);
    return s;
}

// Device frames written to the serial port, kept in a pipe large enough for
// every frame a test makes; the writer has finished when a handler returns.
class SerialTap {
public:
    struct Frame {
        uint8_t cmd;
        std::vector<uint8_t> payload;
    };
    SerialTap() {
        if (pipe(fds_) != 0) abort();
        fcntl(fds_[0], F_SETFL, O_NONBLOCK);
        fcntl(fds_[1], F_SETPIPE_SZ, 1 << 20);
    }
    ~SerialTap() {
        close(fds_[0]);
        close(fds_[1]);
    }
    int fd() const { return fds_[1]; }
    std::vector<Frame> frames() {
        std::lock_guard<std::mutex> g(m_);
        uint8_t buf[4096];
        ssize_t n;
        while ((n = read(fds_[0], buf, sizeof buf)) > 0) raw_.insert(raw_.end(), buf, buf + n);
        std::vector<Frame> out;
        size_t i = 0;
        while (i + 20 <= raw_.size()) {
            if (raw_[i] != 0xA5 || raw_[i + 1] != 0x6C) {
                ++i;
                continue;
            }
            size_t len = raw_[i + 2] | ((raw_[i + 3] & 0x07) << 8);
            if (len < 20 || i + len > raw_.size()) break;
            out.push_back({raw_[i + 16], std::vector<uint8_t>(raw_.begin() + i + 17, raw_.begin() + i + len - 3)});
            i += len;
        }
        return out;
    }

private:
    int fds_[2];
    std::mutex m_;
    std::vector<uint8_t> raw_;
};

inline int connect_loopback(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, (sockaddr *)&a, sizeof a) != 0) {
        close(fd);
        return -1;
    }
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    return fd;
}

inline bool send_all(int fd, const std::string &s) {
    size_t off = 0;
    while (off < s.size()) {
        ssize_t n = send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return false;
        off += (size_t)n;
    }
    return true;
}

// Sends one raw request and reads the answer until the server closes.
inline std::string http_raw(int port, const std::string &request) {
    int fd = connect_loopback(port);
    if (fd < 0) return "";
    std::string out;
    if (send_all(fd, request)) {
        char buf[4096];
        ssize_t n;
        while ((n = recv(fd, buf, sizeof buf, 0)) > 0) out.append(buf, (size_t)n);
    }
    close(fd);
    return out;
}

inline std::string http_get(int port, const std::string &path) {
    return http_raw(port, "GET " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
}

inline std::string http_post(int port, const std::string &path, const std::string &body) {
    return http_raw(port, "POST " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                          "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\n\r\n" + body);
}

inline int status_of(const std::string &answer) {
    int st = 0;
    return sscanf(answer.c_str(), "HTTP/1.%*d %d", &st) == 1 ? st : 0;
}

inline std::string header_of(const std::string &answer, const std::string &name) {
    size_t end = answer.find("\r\n\r\n");
    std::string head = answer.substr(0, end);
    size_t p = head.find("\r\n" + name + ": ");
    if (p == std::string::npos) return "";
    p += name.size() + 4;
    return head.substr(p, head.find("\r\n", p) - p);
}

inline std::string body_of(const std::string &answer) {
    size_t end = answer.find("\r\n\r\n");
    return end == std::string::npos ? "" : answer.substr(end + 4);
}

}  // namespace webtest
