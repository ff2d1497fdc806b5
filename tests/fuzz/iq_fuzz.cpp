// Fuzz target: the IQ file loader with the ISP root the driver returns and
// the file it names. Input: byte 0 flags (bit 0: the root is the target's own
// directory, else the next 64 bytes are the root record as sent, NUL or not;
// bit 1: the check sum is made right, so the items are read), then the file.
// Every item of a loaded file is read into a buffer of exactly its size.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cus3a_plugin.h"
#include "iq_cfg.h"

namespace {

MI_ISP_ROOT_PATH_T g_root;
std::string g_dir;

}  // namespace

// The driver's answer to 0x66.
extern "C" MI_S32 MI_ISP_GetIspRoot(MI_U32, MI_U32, MI_ISP_ROOT_PATH_T *data) {
    *data = g_root;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (g_dir.empty()) {
        char tmpl[] = "/tmp/iq_fuzzXXXXXX";
        if (!mkdtemp(tmpl)) abort();
        g_dir = tmpl;
    }
    if (size < 1) return 0;
    const uint8_t flags = data[0];
    ++data, --size;
    memset(&g_root, 0, sizeof g_root);
    if (flags & 1) {
        snprintf(g_root.strIspRoot, sizeof g_root.strIspRoot, "%s", g_dir.c_str());
    } else {
        size_t n = size < sizeof g_root ? size : sizeof g_root;
        memcpy(g_root.strIspRoot, data, n);
        data += n, size -= n;
    }
    std::vector<uint8_t> file(data, data + size);
    if ((flags & 2) && file.size() >= IQ_FILE_HEAD_SIZE + IQ_CFG_BUF_SIZE) {
        uint32_t sum = 0;
        for (uint32_t i = 0; i + 4 <= IQ_CFG_BUF_SIZE; i += 4) {
            uint32_t w;
            memcpy(&w, &file[IQ_FILE_HEAD_SIZE + i], 4);
            sum += w;
        }
        memcpy(file.data(), &sum, 4);
    }
    const std::string path = g_dir + "/iqfile0.bin";
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) abort();
    if (!file.empty()) fwrite(file.data(), 1, file.size(), f);
    fclose(f);

    ISP_DBGBUF_HANDLE h = (ISP_DBGBUF_HANDLE)&g_root;  // not null before the call
    int r = LoadIqFile(&h, 0);
    if ((r == 0) != (h != nullptr)) abort();
    for (LX_U32 tag = 0; h && tag <= DBG_TAG_MAX; ++tag) {
        std::vector<uint8_t> item(cfg_getcfgsize(tag) + 1);
        if (cfg_getcfgbyenum(h, tag, item.data()) != (tag < DBG_TAG_MAX ? 0 : -1)) abort();
    }
    FreeIqFile(&h);
    if (h) abort();
    unlink(path.c_str());
    return 0;
}
