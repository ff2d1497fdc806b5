// Fuzz target: the web control's request handler as the server calls it,
// with arbitrary form bodies on every form path, arbitrary counter text
// behind the JSON load answer, and arbitrary pages with include tags. Every
// file it writes stays in a private temporary directory; the interface,
// DHCP client and encoder are stand-ins. Aborts on a broken invariant.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "fuzz_files.h"
#include "net_config.h"
#include "rtmp_publish.h"
#include "uart_proto.h"
#include "user_setting.h"
#include "web_control.h"
#include "web_ssi.h"

namespace {

std::string s_dir, s_url, s_netip, s_resolv, s_flag, s_stat;

void Check(bool ok, const char *what, const char *uri) {
    if (!ok) {
        fprintf(stderr, "invariant broken: %s (%s)\n", what, uri);
        abort();
    }
}

int NoIfAddr(const char *, const char *, const char *, const char *) { return 0; }
int NoDhcp(void) { return 0; }
int NoVenc(unsigned) { return 0; }

// The web control's worker threads wait on their own condition variables
// for the life of the process, and destroying one with a waiter blocks: the
// run ends here, before the static destructors.
void Leave() {
    fuzzfiles::RemoveDir();
    fflush(stderr);
    _exit(0);
}

void Setup() {
    s_dir = fuzzfiles::MakeDir("web_fuzz");
    atexit(Leave);  // the latest registered runs first; it removes the directory too
    s_url = s_dir + "/url";
    s_netip = s_dir + "/netIp";
    s_resolv = s_dir + "/resolv.conf";
    s_flag = s_dir + "/DHCP_flag";
    s_stat = s_dir + "/stat";
    mkdir(s_url.c_str(), 0755);
    RtmpUrlSetDirs(s_url.c_str(), s_url.c_str());
    g_netPaths.netip = s_netip.c_str();
    g_netPaths.resolv = s_resolv.c_str();
    g_netPaths.dhcp_flag = s_flag.c_str();
    g_netPaths.route = "/nonexistent";
    g_UartFd = open("/dev/null", O_WRONLY);
    WebHooks h = WebDefaultHooks();
    h.setIfAddr = NoIfAddr;
    h.runDhcp = NoDhcp;
    h.vencSetRcParam = NoVenc;
    h.cpuStat = s_stat.c_str();
    WebSetHooks(h);
    WebSetDocRoot(s_dir.c_str());
    if (!freopen("/dev/null", "w", stdout)) abort();
}

const char *const kForms[] = {"/save", "/RtmpUrl_save", "/RtmpUrl_read", "/streamOnOff", "/saveRtmpRate",
                              "/setUrlIndex"};
const int kFormCount = sizeof kForms / sizeof kForms[0];

bool Terminated(const char *s, size_t size) { return strnlen(s, size) < size; }

// What the form paths may leave behind: only records the board can use.
void CheckFiles(const char *uri) {
    bool there;
    std::string ip = fuzzfiles::Read(s_netip, &there);
    if (there) {
        Check(ip.size() == 13 && (uint8_t)ip[0] == 0xAA, "network record form", uri);
        const uint8_t *r = (const uint8_t *)ip.data() + 1;
        Check(NetCheckStatic(r, r + 4, r + 8) == 0, "unusable static set-up stored", uri);
    }
    std::string flag = fuzzfiles::Read(s_flag, &there);
    if (there) Check(flag == "0" || flag == "1", "DHCP flag file", uri);
    std::string dns = fuzzfiles::Read(s_resolv, &there);
    if (there) {
        uint8_t a[4];
        size_t nl = dns.find('\n');
        Check(dns.compare(0, 11, "nameserver ") == 0 && nl != std::string::npos &&
                  NetParseIpv4(dns.substr(11, nl - 11).c_str(), a) &&
                  dns.substr(nl + 1) == "nameserver " NET_FIXED_DNS "\n",
              "name-server file", uri);
    }
    for (int i = 0; i < RTMP_URL_COUNT + 4; ++i) {
        std::string rec = fuzzfiles::Read(s_url + "/" + std::to_string(i), &there);
        if (!there) continue;
        Check(i < RTMP_URL_COUNT && rec.size() == sizeof(ST_RTMP_URL), "destination file", uri);
        ST_RTMP_URL u;
        memcpy(&u, rec.data(), sizeof u);
        Check(u.index == i && Terminated(u.user_name, sizeof u.user_name) &&
                  Terminated(u.rtmp_url, sizeof u.rtmp_url) && u.user_name_len == strlen(u.user_name) &&
                  u.rtmp_url_len == strlen(u.rtmp_url),
              "destination record", uri);
    }
    Check(Terminated(s_settings.IpAddr, sizeof s_settings.IpAddr) &&
              Terminated(s_settings.NetMask, sizeof s_settings.NetMask) &&
              Terminated(s_settings.GateWay, sizeof s_settings.GateWay) &&
              Terminated(s_settings.Dns1, sizeof s_settings.Dns1) &&
              Terminated(s_settings.ucDhcpFlag, sizeof s_settings.ucDhcpFlag) &&
              Terminated(s_user.cStreamBitRate, sizeof s_user.cStreamBitRate),
          "form texts", uri);
}

int JsonValue(const WebReply &rep, const char *uri) {
    Check(rep.kind == WebReply::Json && rep.status == 200, "JSON answer", uri);
    int v = -1, used = 0;
    Check(sscanf(rep.body.c_str(), "{ \"result\": %d }%n", &v, &used) == 1 && (size_t)used == rep.body.size(),
          "JSON body", uri);
    return v;
}

// Every tag of the settings page: values the forms stored come out escaped.
const char kAllTags[] =
    "<!--#call setting1 --><!--#call setting2 --><!--#call setting3 --><!--#call setting4 -->"
    "<!--#call setting5 --><!--#call UserName --><!--#call StreamAddr --><!--#call StreamStatus -->"
    "<!--#call RecStatus --><!--#call iStreamBitRate --><!--#call iUrlIndex -->";

}  // namespace

// Input: selector byte, then the body. Selector % 9: 0-5 the form paths with
// the body as their form, 6 the CPU load answer over the body as counter
// text, 7 the recording status answer, 8 the body rendered as a page.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (s_dir.empty()) Setup();
    if (size < 1) return 0;
    const int sel = data[0] % (kFormCount + 3);
    WebRequest req;
    req.method = "POST";
    req.body.assign((const char *)data + 1, size - 1);
    WebReply rep;
    if (sel < kFormCount) {
        req.uri = kForms[sel];
        UserSetPut(UsrBits::RtmpIndex, data[0] >> 5);
        ev_handler(req, &rep);
        Check(rep.kind == WebReply::Redirect && rep.status == 302 && rep.location == "/", "redirect home",
              req.uri.c_str());
        CheckFiles(req.uri.c_str());
        std::string page = WebSsiRender(kAllTags, WebSsiTag);
        Check(page.find_first_of("<>\"'") == std::string::npos, "unescaped tag value", req.uri.c_str());
    } else if (sel == kFormCount) {
        fuzzfiles::Write(s_stat, data + 1, size - 1);
        int sample = WebCpuSample();
        Check(sample >= 0 && sample <= 100, "load sample", "/proc/stat");
        req.uri = "/get_cpu_usage";
        req.method = "GET";
        ev_handler(req, &rep);
        int v = JsonValue(rep, "/get_cpu_usage");
        Check(v == sample, "load answer", "/get_cpu_usage");
    } else if (sel == kFormCount + 1) {
        UserSetPut(UsrBits::SaveOnOff, data[0] >> 7);
        req.uri = "/get_Rec_Status";
        req.method = "GET";
        ev_handler(req, &rep);
        Check(JsonValue(rep, "/get_Rec_Status") == (data[0] >> 7), "recording status", "/get_Rec_Status");
    } else {
        std::string out = WebSsiRender(req.body, WebSsiTag);
        if (req.body.find("<!--#") == std::string::npos) Check(out == req.body, "page without tags changed", "page");
    }
    return 0;
}
