// Fuzz target: IQ-API requests on the 3A control path. Each input is one
// request: direction, control id, data length, device and channel, then the
// record (exactly that long). It goes through a default plug-in's ctrl to
// the control-id dispatch and the algorithms' conversions (AE, AWB and AF
// made once, from the reference IQ file), and through the agents' routing.
// The driver below the agents answers 0 and leaves records alone.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cus3a_entry.h"
#include "cus3a_plugin.h"
#include "iq_text.h"
#include "mi_internal.h"
#include "mi_seam.h"

namespace {

std::string g_dir;
ISP_AE_INTERFACE g_ae;
ISP_AWB_INTERFACE g_awb;
ISP_AF_INTERFACE g_af;
ISP_AF_INFO_STATS g_afStats;

void setup() {
    char tmpl[] = "/tmp/api_fuzzXXXXXX";
    if (!mkdtemp(tmpl)) abort();
    g_dir = tmpl;
    std::ifstream in(IQ_REFERENCE_TEXT);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string err;
    std::vector<uint8_t> img = iqtext::compile(ss.str(), {}, &err);
    if (!err.empty()) abort();
    std::ofstream(g_dir + "/iqfile0.bin", std::ios::binary).write((const char *)img.data(), (long)img.size());

    Velto3AGetAeInterface(0, 0, &g_ae);
    Velto3AGetAwbInterface(0, 0, &g_awb);
    Velto3AGetAfInterface(0, 0, &g_af);
    ISP_AE_INIT_PARAM ip;
    memset(&ip, 0, sizeof ip);
    ip.Size = sizeof ip;
    ip.shutter = 10000;
    ip.shutter_step = 29630;
    ip.shutter_min = 30;
    ip.shutter_max = 33333;
    ip.sensor_gain = ip.sensor_gain_min = ip.isp_gain = 1024;
    ip.sensor_gain_max = 16384;
    ip.isp_gain_max = 8192;
    ip.FNx10 = 18;
    ip.fps = 30;
    ip.AvgBlkX = ip.AvgBlkY = 32;
    g_ae.init(g_ae.pdata, &ip);
    g_awb.init(g_awb.pdata);
    ISP_AF_INIT_PARAM ap;
    memset(&ap, 0, sizeof ap);
    g_af.init(g_af.pdata, &ap);
    ISP_AF_INFO info = {sizeof info, &g_afStats, 500, 0, 1023};
    ISP_AF_RESULT res;
    g_af.run(g_af.pdata, &info, &res);  // the AF algorithm is made on its first run
    for (unsigned d = 0; d < 2; ++d)
        for (unsigned c = 0; c < 16; ++c) MI_ISP_RegisterIspApiAgent(d, c, Cus3A_SetIspApiData, Cus3A_GetIspApiData);
}

}  // namespace

// The board below the library: the ISP root names the target's directory,
// everything else succeeds without touching the record.
int mi_call(mi_dev_e, unsigned long, void *payload, size_t len) {
    auto *a = (MI_ISP_IoctlIQApiData_t *)payload;
    if (len == sizeof *a && a->stIQApiDataHeader.u32CtrlID == MI_ISP_CID_ISP_ROOT && a->pVirData) {
        auto *r = (MI_ISP_ROOT_PATH_T *)a->pVirData;
        memset(r, 0, sizeof *r);
        snprintf(r->strIspRoot, sizeof r->strIspRoot, "%s", g_dir.c_str());
    }
    return 0;
}
extern "C" int mi_node_open(const char *, int) { return -1; }
extern "C" int mi_node_ioctl(int, unsigned long, void *) { return -1; }
extern "C" int mi_node_close(int) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool once = (setup(), true);
    (void)once;
    if (size < 6) return 0;
    const MI_U32 dir = data[0] & 1;
    const bool via_agent = data[0] & 2;
    const MI_U32 id = 0x1400 + (((MI_U32)data[1] | (MI_U32)data[2] << 8) % 0x1D00);  // 0x1400 .. 0x30FF
    const MI_U32 len = ((MI_U32)data[3] | (MI_U32)data[4] << 8) & 0x7FFF;
    const MI_U32 dev = data[5] >> 4, ch = data[5] & 15;
    data += 6, size -= 6;
    // Exactly `len` bytes, so any read past the record is caught.
    std::vector<uint8_t> rec(len ? len : 1);
    memcpy(rec.data(), data, size < len ? size : len);
    void *p = len ? rec.data() : nullptr;
    MI_ISP_IQApiHeader_t h = {MI_ISP_IQAPI_HEAD_SIZE, len, id, ch, dev, 0};
    if (via_agent) {
        dir ? _MI_ISP_GetIspApiData(&h, p) : _MI_ISP_SetIspApiData(&h, p);
        return 0;
    }
    MI_CUS3A_CtrlCmd_t cmd = {dir, h, p};
    if (id >= 0x1400 && id < 0x1800) g_ae.ctrl(g_ae.pdata, id, &cmd);
    else if (id < 0x1C00 || id == 0x240F || (id >= 0x2C03 && id <= 0x2C06) || id == 0x3001)
        g_awb.ctrl(g_awb.pdata, id, &cmd);
    else g_af.ctrl(g_af.pdata, id, &cmd);
    return 0;
}
