// Runs a shell command and returns what it wrote to standard output (tests
// judge files with ffprobe and ffmpeg this way).
#pragma once
#include <stdio.h>

#include <string>

namespace unit {

inline std::string shell_output(const std::string &cmd) {
    std::string out;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

}  // namespace unit
