// Shared helpers of the audio tests: a private board directory, debug levels,
// the recorder's attributes and small file readers.
#pragma once
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "mi_aio_datatype.h"

namespace audio_test {

// Set before the board first reads $VB_ROOT (a static initialiser of the test).
inline const std::string &board_dir() {
    static const std::string dir = [] {
        char tmpl[] = "/tmp/vb-audio-test-XXXXXX";
        const char *d = mkdtemp(tmpl);
        std::string s = d ? d : "/tmp/vb-audio-test";
        setenv("VB_ROOT", s.c_str(), 1);
        return s;
    }();
    return dir;
}

inline void set_debug_level(const char *tag, int level) {
    std::string dir = board_dir() + "/proc";
    mkdir(dir.c_str(), 0755);
    dir += "/mi_modules";
    mkdir(dir.c_str(), 0755);
    dir += std::string("/mi_") + tag;
    mkdir(dir.c_str(), 0755);
    FILE *f = fopen((dir + "/debug_level").c_str(), "w");
    if (f) {
        fprintf(f, "%d\n", level);
        fclose(f);
    }
}

inline std::string make_dir(const char *name) {
    std::string d = board_dir() + "/" + name;
    mkdir(d.c_str(), 0755);
    return d;
}

inline MI_AUDIO_Attr_t attr(MI_AUDIO_SoundMode_e mode, MI_U32 chn_cnt, MI_U32 pt_num = 2048) {
    MI_AUDIO_Attr_t a;
    memset(&a, 0, sizeof a);
    a.eSamplerate = E_MI_AUDIO_SAMPLE_RATE_48000;
    a.eBitwidth = E_MI_AUDIO_BIT_WIDTH_16;
    a.eWorkmode = E_MI_AUDIO_MODE_I2S_MASTER;
    a.eSoundmode = mode;
    a.u32PtNumPerFrm = pt_num;
    a.u32ChnCnt = chn_cnt;
    a.WorkModeSetting.stI2sConfig.u32TdmSlots = 2;
    a.WorkModeSetting.stI2sConfig.eI2sBitWidth = E_MI_AUDIO_BIT_WIDTH_32;
    return a;
}

inline std::vector<uint8_t> read_file(const std::string &path) {
    std::vector<uint8_t> out;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return out;
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    fclose(f);
    return out;
}

inline bool file_exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

// Sample data of a 16-bit PCM WAV file (header fields not checked here).
inline std::vector<uint8_t> wav_data(const std::string &path) {
    std::vector<uint8_t> b = read_file(path);
    if (b.size() < 44) return {};
    return std::vector<uint8_t>(b.begin() + 44, b.end());
}

}  // namespace audio_test
