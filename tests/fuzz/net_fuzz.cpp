// Fuzz target: the readers of addresses and name servers: dotted address
// texts, "/etc/resolv.conf", the stored static record and the kernel's route
// table, each read from a file in a private temporary directory. No
// interface is touched. Aborts on a broken invariant.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "fuzz_files.h"
#include "net_config.h"

namespace {

std::string s_dir, s_netip, s_resolv, s_route;

void Check(bool ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "invariant broken: %s\n", what);
        abort();
    }
}

void Setup() {
    s_dir = fuzzfiles::MakeDir("net_fuzz");
    s_netip = s_dir + "/netIp";
    s_resolv = s_dir + "/resolv.conf";
    s_route = s_dir + "/route";
    g_netPaths.netip = s_netip.c_str();
    g_netPaths.resolv = s_resolv.c_str();
    g_netPaths.route = s_route.c_str();
    g_netPaths.dhcp_flag = "/nonexistent";
    if (!freopen("/dev/null", "w", stdout)) abort();
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A dotted address as written: four runs of 1-3 digits, each at most 255.
bool Dotted(const std::string &t) {
    int parts = 0;
    size_t i = 0;
    for (;;) {
        size_t b = i;
        while (i < t.size() && IsDigit(t[i])) ++i;
        if (i == b || i - b > 3 || std::stoi(t.substr(b, i - b)) > 255) return false;
        ++parts;
        if (i == t.size()) return parts == 4;
        if (t[i] != '.' || parts == 4) return false;
        ++i;
    }
}

void CheckAddressText(const std::string &text) {
    uint8_t a[4] = {1, 2, 3, 4}, again[4];
    bool ok = NetParseIpv4(text.c_str(), a);
    Check(ok == Dotted(text), "address text accepted or refused wrongly");
    if (!ok) {
        Check(a[0] == 1 && a[1] == 2 && a[2] == 3 && a[3] == 4, "refused text wrote the address");
        return;
    }
    char out[16];
    NetFormatIpv4(a, out, sizeof out);
    Check(NetParseIpv4(out, again) && memcmp(a, again, 4) == 0, "address does not survive formatting");
}

// The name servers a whole-line reading of the file offers: the second
// token of lines whose first token is "nameserver", read as an address.
std::vector<std::vector<uint8_t>> Offered(const std::string &file) {
    std::vector<std::vector<uint8_t>> out;
    size_t pos = 0;
    while (pos < file.size()) {
        size_t nl = file.find('\n', pos);
        std::string line = file.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = nl == std::string::npos ? file.size() : nl + 1;
        line = line.substr(0, line.find('\0'));
        const char *ws = " \t\r";
        size_t w = line.find_first_not_of(ws);
        if (w == std::string::npos) continue;
        size_t we = line.find_first_of(ws, w);
        if (line.compare(w, we == std::string::npos ? std::string::npos : we - w, "nameserver") != 0) continue;
        if (we == std::string::npos) continue;
        size_t a = line.find_first_not_of(ws, we);
        if (a == std::string::npos) continue;
        size_t ae = line.find_first_of(ws, a);
        std::string tok = line.substr(a, ae == std::string::npos ? std::string::npos : ae - a);
        std::vector<uint8_t> v(4);
        if (Dotted(tok)) {
            NetParseIpv4(tok.c_str(), v.data());
            out.push_back(v);
        }
    }
    return out;
}

void CheckNameServers(const uint8_t *p, size_t n) {
    fuzzfiles::Write(s_resolv, p, n);
    const uint8_t sentinel[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    uint8_t dns[8];
    memcpy(dns, sentinel, 8);
    ReadDns(dns);
    auto offered = Offered(std::string((const char *)p, n));
    // Whatever is read is a whole address the file offers, first slot first.
    for (int i = 0; i < 2; ++i) {
        if (memcmp(dns + 4 * i, sentinel, 4) == 0) {
            for (int j = i + 1; j < 2; ++j) Check(memcmp(dns + 4 * j, sentinel, 4) == 0, "second slot before first");
            break;
        }
        bool found = false;
        for (const auto &v : offered) found = found || memcmp(v.data(), dns + 4 * i, 4) == 0;
        Check(found, "name server not offered whole by the file");
    }
}

void CheckStoredRecord(const uint8_t *p, size_t n) {
    fuzzfiles::Write(s_netip, p, n);
    g_NetInfoEx.ucDhcpFlag = 0;
    LoadNetWorkParam();
    const uint8_t *r = (const uint8_t *)&g_NetInfoEx;
    bool usable = n >= 13 && p[0] == 0xAA && NetCheckStatic(p + 1, p + 5, p + 9) == 0;
    if (usable)
        Check(memcmp(r, p, 13) == 0, "usable record not loaded");
    else
        Check(memcmp(r, &tIpDefault, 13) == 0, "unusable record loaded");
    // Storing: only usable set-ups, read back as stored.
    if (n < 12) return;
    remove(s_netip.c_str());
    int ret = Proto_SetIP(p, 12);
    FILE *f = fopen(s_netip.c_str(), "rb");
    if (p[0] == 0 || NetCheckStatic(p, p + 4, p + 8) != 0) {
        Check(f == nullptr, "unusable set-up stored");
        Check(p[0] == 0 ? ret == 0 : ret != 0, "store result");
        return;
    }
    Check(f != nullptr && ret == 0, "usable set-up not stored");
    uint8_t back[14];
    size_t got = fread(back, 1, sizeof back, f);
    fclose(f);
    Check(got == 13 && back[0] == 0xAA && memcmp(back + 1, p, 12) == 0, "stored record");
}

void CheckRoutes(const uint8_t *p, size_t n) {
    fuzzfiles::Write(s_route, p, n);
    char gw[16];
    uint8_t a[4];
    if (GetDefaultGateway("eth0", gw, sizeof gw) == 0) Check(NetParseIpv4(gw, a), "gateway text");
}

}  // namespace

// Input: selector byte % 4, then the text or file: 0 an address text (to
// its first NUL), 1 "/etc/resolv.conf", 2 the stored static record, 3 the
// route table.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (s_dir.empty()) Setup();
    if (size < 1) return 0;
    const uint8_t *p = data + 1;
    size_t n = size - 1;
    switch (data[0] % 4) {
    case 0:
        CheckAddressText(std::string((const char *)p, strnlen((const char *)p, n)));
        break;
    case 1:
        CheckNameServers(p, n);
        break;
    case 2:
        CheckStoredRecord(p, n);
        break;
    default:
        CheckRoutes(p, n);
        break;
    }
    return 0;
}
