// Fuzz target: arbitrary requests through the command handler, with every
// file it writes kept in a private temporary directory. Checks the reply
// frame and the handler's limits; aborts on a broken invariant.
//
// Commands 34 (MAC), 11 with a static address (interface set-up) and 84
// (clock) act on this machine unless the run is in a private network
// namespace without CAP_SYS_TIME (scripts/fuzz.sh runs it so); outside such
// a run they are left out.
#include <fcntl.h>
#include <linux/capability.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "fuzz_files.h"
#include "fuzz_stubs.h"
#include "mp4_record.h"
#include "net_config.h"
#include "proto_cmd.h"
#include "rtmp_publish.h"
#include "uart_proto.h"
#include "user_setting.h"

namespace {

bool s_netSafe = false;    // private network namespace
bool s_clockSafe = false;  // no CAP_SYS_TIME
std::string s_dir, s_url, s_para, s_netip, s_resolv, s_flag;

void Check(bool ok, const char *what, unsigned cmd) {
    if (!ok) {
        fprintf(stderr, "invariant broken: %s (command %u)\n", what, cmd);
        abort();
    }
}

bool PrivateNet() {
    char mine[64] = {0}, init[64] = {0};
    if (readlink("/proc/self/ns/net", mine, sizeof mine - 1) < 0) return false;
    if (readlink("/proc/1/ns/net", init, sizeof init - 1) < 0) return false;
    return strcmp(mine, init) != 0;
}

void Setup() {
    // CMD_FUZZ_DIR: a directory the caller removes; else one of our own.
    const char *given = getenv("CMD_FUZZ_DIR");
    if (given && *given) {
        mkdir(given, 0755);
        s_dir = given;
    } else {
        s_dir = fuzzfiles::MakeDir("cmd_fuzz");
    }
    s_url = s_dir + "/url";
    s_para = s_dir + "/userpara";
    s_netip = s_dir + "/netIp";
    s_resolv = s_dir + "/resolv.conf";
    s_flag = s_dir + "/DHCP_flag";
    mkdir(s_url.c_str(), 0755);
    RtmpUrlSetDirs(s_url.c_str(), s_url.c_str());
    ProtoSetUserParaPath(s_para.c_str());
    g_netPaths.netip = s_netip.c_str();
    g_netPaths.resolv = s_resolv.c_str();
    g_netPaths.dhcp_flag = s_flag.c_str();
    g_UartFd = open("/dev/null", O_WRONLY);
    s_netSafe = PrivateNet();
    s_clockSafe = prctl(PR_CAPBSET_READ, CAP_SYS_TIME, 0, 0, 0) == 0;
    if (!freopen("/dev/null", "w", stdout)) abort();
}

bool Allowed(u8 cmd, bool dhcp) {
    if (cmd == 34 || (cmd == 11 && !dhcp)) return s_netSafe;
    if (cmd == 84) return s_clockSafe;
    return true;
}

}  // namespace

// Input: flags, command, payload. Flags: bit 0 byte 4 zero (no reply
// wanted), bit 1 DHCP on, bit 2 recording on, bits 3-7 version bits in the
// length word (the router clears them; the handler must cope either way).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (s_dir.empty()) Setup();
    if (size < 2) return 0;
    const u8 flags = data[0], cmd = data[1];
    const bool dhcp = flags & 2;
    if (!Allowed(cmd, dhcp)) return 0;
    size_t plen = size - 2;
    if (plen > UART_PAYLOAD_MAX) plen = UART_PAYLOAD_MAX;

    static u8 buf[UART_BAG_SIZE];
    memset(buf, 0xCC, sizeof buf);
    const u16 len = (u16)(UART_BAG_MIN + plen);
    buf[0] = UART_HEAD_1;
    buf[1] = UART_HEAD_2;
    buf[2] = (u8)len;
    buf[3] = (u8)((len >> 8) & 0x07);
    buf[4] = (flags & 1) ? 0 : 1;
    for (int i = 5; i < 16; i++) buf[i] = (u8)(0x10 + i);
    buf[16] = cmd;
    memcpy(buf + 17, data + 2, plen);
    buf[len - 1] = UART_TAIL;
    static u8 before[UART_BAG_SIZE];
    memcpy(before, buf, sizeof buf);

    g_NetInfoEx.ucDhcpFlag = dhcp ? 1 : 0;
    UserSetPut(UsrBits::SaveOnOff, (flags & 4) ? 1 : 0);
    g_fuzzCalls = FuzzCalls{};
    g_Mp4State = State_Mp4_Init;

    const u16 n = ProtoRecvBagHandle(buf);

    if (before[4] == 0) {
        Check(n == 0, "reply to a request that wants none", cmd);
        Check(memcmp(buf, before, sizeof buf) == 0, "buffer changed without a reply", cmd);
        return 0;
    }
    Check(n >= UART_BAG_MIN && n <= UART_BAG_SIZE, "reply length", cmd);
    Check(((buf[2] | (buf[3] << 8)) & UART_LEN_MASK) == n, "length field", cmd);
    Check(buf[0] == UART_HEAD_1 && buf[1] == UART_HEAD_2, "header", cmd);
    Check(buf[4] == UART_DEV_TYPE_OWN, "device type", cmd);
    Check(memcmp(buf + 5, before + 5, 12) == 0, "id, interface, reserve, command echoed", cmd);
    const u16 sum = CalcCheckSum(buf, (u16)(n - 3));
    Check(buf[n - 3] == (u8)sum && buf[n - 2] == (u8)(sum >> 8), "checksum", cmd);
    Check(buf[n - 1] == UART_TAIL, "tail", cmd);
    // Only three commands answer with more than a handful of bytes.
    if (cmd != 36 && cmd != 106 && cmd != 255) Check(n <= UART_BAG_MIN + 7, "reply size", cmd);
    if (cmd < 5) Check(n == UART_BAG_MIN + 1 && buf[17] == CMDErr, "low command error", cmd);
    // A mode outside the table never reaches the pipeline.
    if (g_fuzzCalls.reso) Check(IsKnownInputMode((u8)g_fuzzCalls.lastReso), "unknown input mode applied", cmd);
    struct stat st;
    if (stat(s_para.c_str(), &st) == 0) Check(st.st_size == 8, "settings file size", cmd);
    for (int i = 0; i < RTMP_URL_COUNT + 8; i++) {
        std::string p = s_url + "/" + std::to_string(i);
        if (stat(p.c_str(), &st) == 0) {
            Check(i < RTMP_URL_COUNT, "destination file beyond the eight", cmd);
            Check(st.st_size == (off_t)sizeof(ST_RTMP_URL), "destination file size", cmd);
        }
    }
    return 0;
}
