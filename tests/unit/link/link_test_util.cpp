#include "link_test_util.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>

uint16_t Sum16(const uint8_t* p, size_t n) {
    uint32_t s = 0;
    for (size_t i = 0; i < n; i++) s += p[i];
    return (uint16_t)(s & 0xFFFF);
}

Bytes MakeFrame(const FrameSpec& s) {
    const size_t len = s.payload.size() + 20;
    Bytes f(len, 0);
    f[0] = 0xA5;
    f[1] = 0x6C;
    const uint16_t lv = (uint16_t)((len & 0x7FF) | (s.version << 11));
    f[2] = lv & 0xFF;
    f[3] = lv >> 8;
    f[4] = s.devType;
    f[5] = s.devId;
    f[6] = s.ifType;
    for (int i = 7; i < 16; i++) f[i] = (uint8_t)(s.reserveFill + i);
    f[16] = s.cmd;
    for (size_t i = 0; i < s.payload.size(); i++) f[17 + i] = s.payload[i];
    const uint16_t cs = Sum16(f.data(), len - 3);
    f[len - 3] = cs & 0xFF;
    f[len - 2] = cs >> 8;
    f[len - 1] = 0xAE;
    return f;
}

std::vector<Bytes> SplitFrames(const Bytes& st) {
    std::vector<Bytes> out;
    size_t i = 0;
    while (i + 20 <= st.size()) {
        if (st[i] != 0xA5 || st[i + 1] != 0x6C) {
            i++;
            continue;
        }
        const size_t len = (st[i + 2] | (st[i + 3] << 8)) & 0x7FF;
        if (len < 20 || i + len > st.size()) {
            i++;
            continue;
        }
        const uint16_t cs = (uint16_t)(st[i + len - 3] | (st[i + len - 2] << 8));
        if (st[i + len - 1] != 0xAE || cs != Sum16(&st[i], len - 3)) {
            i++;
            continue;
        }
        out.emplace_back(st.begin() + (long)i, st.begin() + (long)(i + len));
        i += len;
    }
    return out;
}

Bytes DrainFd(int fd) {
    Bytes out;
    uint8_t buf[4096];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof(buf));
        if (n <= 0) break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

std::vector<Bytes> ReadFrames(int fd, size_t n, int ms) {
    Bytes acc;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        auto frames = SplitFrames(acc);
        if (frames.size() >= n) return frames;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0) return frames;
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, (int)left) > 0) {
            uint8_t buf[4096];
            ssize_t r = read(fd, buf, sizeof(buf));
            if (r > 0) acc.insert(acc.end(), buf, buf + r);
        }
    }
}

ScratchDir::ScratchDir() {
    char tmpl[] = "/tmp/ut_link_XXXXXX";
    path = mkdtemp(tmpl);
}

ScratchDir::~ScratchDir() {
    std::string cmd = "rm -rf '" + path + "'";
    if (system(cmd.c_str()) != 0) {
    }
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
}

std::string ReadText(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}
