// Frame builder and stream splitter for the control-link tests, written
// independently of the code under test.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct FrameSpec {
    uint8_t cmd = 0x01;
    Bytes payload;
    uint8_t devType = 1;  // 0: no reply wanted
    uint8_t devId = 0;
    uint8_t ifType = 0;   // 1: relay to the network
    uint8_t version = 0;
    uint8_t reserveFill = 0;
};

// A well-formed frame as described by the FrameSpec.
Bytes MakeFrame(const FrameSpec& s);
// Sum of bytes modulo 65536.
uint16_t Sum16(const uint8_t* p, size_t n);
// Splits a byte stream into well-formed frames (bad ones are skipped over).
std::vector<Bytes> SplitFrames(const Bytes& stream);
// Reads whatever a non-blocking descriptor holds.
Bytes DrainFd(int fd);
// Reads until `n` frames arrived or `ms` passed.
std::vector<Bytes> ReadFrames(int fd, size_t n, int ms);
// A scratch directory removed with its content when the object goes.
struct ScratchDir {
    std::string path;
    ScratchDir();
    ~ScratchDir();
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};
void WriteText(const std::string& path, const std::string& text);
std::string ReadText(const std::string& path);
