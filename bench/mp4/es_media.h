// Real H.264 and AAC elementary streams for the recorder's benchmarks: made
// once with the ffmpeg command line, split as the recorder's threads deliver
// them (pictures as 4-byte length-prefixed NAL units, raw AAC frames).
#pragma once
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace esmedia {

struct Picture {
    std::vector<uint8_t> data;  // length-prefixed slices of one picture
    int key = 0;
};

struct Media {
    std::string h264, aac;  // Annex B and ADTS files
    std::vector<Picture> pictures;
    std::vector<std::vector<uint8_t>> aacFrames;
    std::vector<uint8_t> sps, pps;
    int fps = 30;
    double seconds = 0;
};

inline std::vector<uint8_t> slurp(const std::string &p) {
    std::ifstream f(p, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), {});
}

inline bool run(const std::string &cmd) { return system(cmd.c_str()) == 0; }

// `seconds` of a moving test picture at width x height, 30 fps, one key frame
// a second, at `kbps`; AAC-LC 48 kHz stereo at 128 kb/s.
inline bool make(Media &m, const std::string &dir, int width, int height, int kbps, int seconds) {
    mkdir(dir.c_str(), 0755);
    char tag[64];
    snprintf(tag, sizeof tag, "%dx%d_%dk_%ds_cfr", width, height, kbps, seconds);
    m.h264 = dir + "/v_" + tag + ".h264";
    m.aac = dir + "/a_" + std::to_string(seconds) + "s.aac";
    struct stat st;
    if (stat(m.h264.c_str(), &st) != 0 &&
        !run("ffmpeg -v error -y -f lavfi -i testsrc2=size=" + std::to_string(width) + "x" + std::to_string(height) +
             ":rate=30 -t " + std::to_string(seconds) +
             // A constant rate marked in the SPS, read as 30 fps as the board's stream is.
             " -c:v libx264 -preset veryfast -x264-params force-cfr=1 -bf 0 -g 30 -b:v " +
             std::to_string(kbps) + "k -maxrate " + std::to_string(kbps) + "k -bufsize " + std::to_string(kbps) +
             "k -pix_fmt yuv420p -f h264 " + m.h264))
        return false;
    if (stat(m.aac.c_str(), &st) != 0 &&
        !run("ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=48000 -ac 2 -t " +
             std::to_string(seconds) + " -c:a aac -b:a 128k -f adts " + m.aac))
        return false;

    auto v = slurp(m.h264);
    std::vector<std::pair<size_t, size_t>> nals;
    size_t start = SIZE_MAX;
    for (size_t i = 0; i + 3 <= v.size();) {
        if (v[i] == 0 && v[i + 1] == 0 && v[i + 2] == 1) {
            if (start != SIZE_MAX) {
                size_t end = i;
                while (end > start && v[end - 1] == 0) --end;
                nals.push_back({start, end});
            }
            start = i + 3;
            i += 3;
        } else {
            ++i;
        }
    }
    if (start != SIZE_MAX) nals.push_back({start, v.size()});
    Picture cur;
    for (auto [s, e] : nals) {
        int type = v[s] & 0x1f;
        if (type == 7) m.sps.assign(v.begin() + (long)s, v.begin() + (long)e);
        if (type == 8) m.pps.assign(v.begin() + (long)s, v.begin() + (long)e);
        if (type != 1 && type != 5) continue;
        // first_mb_in_slice == 0 starts a picture
        if ((v[s + 1] & 0x80) && !cur.data.empty()) {
            m.pictures.push_back(cur);
            cur = Picture{};
        }
        uint32_t n = (uint32_t)(e - s);
        uint8_t len[4] = {(uint8_t)(n >> 24), (uint8_t)(n >> 16), (uint8_t)(n >> 8), (uint8_t)n};
        cur.data.insert(cur.data.end(), len, len + 4);
        cur.data.insert(cur.data.end(), v.begin() + (long)s, v.begin() + (long)e);
        cur.key |= type == 5;
    }
    if (!cur.data.empty()) m.pictures.push_back(cur);

    auto a = slurp(m.aac);
    for (size_t p = 0; p + 7 <= a.size();) {
        size_t len = ((a[p + 3] & 3) << 11) | (a[p + 4] << 3) | (a[p + 5] >> 5);
        size_t hdr = (a[p + 1] & 1) ? 7 : 9;
        if (len < hdr || p + len > a.size()) break;
        m.aacFrames.emplace_back(a.begin() + (long)(p + hdr), a.begin() + (long)(p + len));
        p += len;
    }
    m.seconds = seconds;
    return !m.pictures.empty() && !m.aacFrames.empty() && !m.sps.empty() && !m.pps.empty();
}

}  // namespace esmedia
