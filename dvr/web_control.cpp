#include "web_control.h"

#include <errno.h>
#include <limits.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "net_config.h"
#include "st_pipeline.h"
#include "uart_proto.h"
#include "user_setting.h"
#include "web_cpu.h"
#include "web_form.h"
#include "web_ssi.h"

device_settings s_settings;
User_settings s_user;
char s_cStrem[4];
ST_RTMP_URL s_rtmp;

namespace {

// One lock for every handler: the form records above and the shared
// settings they change are touched by whichever server thread runs a request.
std::mutex g_webMutex;
std::string g_docRoot = WEB_ROOT;

int run_dhcp_client(void) {
    int r = system(NET_DHCP_CMD);
    if (r == -1) perror("system");
    return r;
}

int venc_set_rc(unsigned chn) { return (int)VencSetRcParam(chn); }

WebHooks g_hooks = WebDefaultHooks();

std::mutex g_cpuMutex;
CpuLoadMeter *g_cpuMeter = nullptr;
std::atomic<int> g_cpuLoad{0};

// A worker thread for slow jobs a request starts but must not wait for.
// Requests made while the job runs are merged into one more run.
class Worker {
public:
    Worker(const char *name, void (*job)()) : name_(name), job_(job) {}
    void Request() {
        std::lock_guard<std::mutex> g(m_);
        pending_ = true;
        if (!started_) {
            started_ = true;
            std::thread(&Worker::Loop, this).detach();
        }
        cv_.notify_all();
    }
    void WaitIdle() {
        std::unique_lock<std::mutex> g(m_);
        cv_.wait(g, [this] { return !pending_ && !busy_; });
    }

private:
    void Loop() {
        pthread_setname_np(pthread_self(), name_);
        std::unique_lock<std::mutex> g(m_);
        for (;;) {
            cv_.wait(g, [this] { return pending_; });
            pending_ = false;
            busy_ = true;
            g.unlock();
            job_();
            g.lock();
            busy_ = false;
            cv_.notify_all();
        }
    }
    const char *name_;
    void (*job_)();
    std::mutex m_;
    std::condition_variable cv_;
    bool pending_ = false, busy_ = false, started_ = false;
};

void dhcp_job() { g_hooks.runDhcp(); }

// Static set-up waiting for the interface: address, mask, gateway texts.
std::mutex g_ifMutex;
std::array<std::string, 3> g_ifPending;
// Time for the redirect and the end of its connection to leave from the
// address that is about to go.
constexpr int kIfDelayMs = 300;
void if_job() {
    std::this_thread::sleep_for(std::chrono::milliseconds(kIfDelayMs));
    std::array<std::string, 3> s;
    {
        std::lock_guard<std::mutex> g(g_ifMutex);
        s = g_ifPending;
    }
    int r = g_hooks.setIfAddr("eth0", s[0].c_str(), s[1].c_str(), s[2].c_str());
    if (r != 0) printf("SetIfAddr failed: %d\n", r);
}
void venc_job() {
    int r = g_hooks.vencSetRcParam(1);
    if (r != 0) printf("VencSetRcParam(1) failed: %d\n", r);
}
Worker g_dhcpWorker("WebDhcpProc", dhcp_job);
Worker g_vencWorker("WebVencProc", venc_job);
Worker g_netWorker("WebNetProc", if_job);

void copy_text(char *dst, size_t size, const char *src) { snprintf(dst, size, "%s", src); }

void set_start_values() {
    memset(&s_settings, 0, sizeof s_settings);
    copy_text(s_settings.IpAddr, sizeof s_settings.IpAddr, "192.168.1.231");
    copy_text(s_settings.NetMask, sizeof s_settings.NetMask, "255.255.255.0");
    copy_text(s_settings.GateWay, sizeof s_settings.GateWay, "192.168.1.1");
    copy_text(s_settings.Dns1, sizeof s_settings.Dns1, "8.8.8.8");
    copy_text(s_settings.Dns2, sizeof s_settings.Dns2, "8.8.4.4");
    copy_text(s_settings.ucDhcpFlag, sizeof s_settings.ucDhcpFlag, "1");
    for (char *t : {s_user.cRotate, s_user.cRecBitRate, s_user.cStreamBitRate}) copy_text(t, 4, "1");
    copy_text(s_cStrem, sizeof s_cStrem, "0");
    memset(&s_rtmp, 0, sizeof s_rtmp);
}

struct StartValues {
    StartValues() { set_start_values(); }
} g_startValues;

// A form variable that must be present and whole for the request to act.
bool form_get(const WebRequest &req, const char *name, char *dst, size_t size) {
    WebVar r = WebFormGet(req.body.data(), req.body.size(), name, dst, size);
    if (r != WebVar::Ok) {
        printf("web: form variable %s %s\n", name,
               r == WebVar::Missing ? "missing" : r == WebVar::Cut ? "too long" : "malformed");
        return false;
    }
    return true;
}

void redirect_home(WebReply *rep) {
    rep->kind = WebReply::Redirect;
    rep->status = 302;
    rep->location = "/";
}

void json_result(WebReply *rep, int value) {
    char buf[48];
    snprintf(buf, sizeof buf, "{ \"result\": %d }", value);
    rep->kind = WebReply::Json;
    rep->status = 200;
    rep->body = buf;
}

void handle_save(const WebRequest &req, WebReply *rep) {
    redirect_home(rep);
    char ip[64], mask[64], gw[64], dns[64], flag[4];
    unsigned dhcp;
    if (!form_get(req, "IpAcquIndex", flag, sizeof flag)) return;
    if (!WebParseDecimal(flag, 1, &dhcp)) {
        printf("web: IpAcquIndex \"%s\" is neither 0 nor 1\n", flag);
        return;
    }
    if (dhcp) {
        copy_text(s_settings.ucDhcpFlag, sizeof s_settings.ucDhcpFlag, flag);
        g_NetInfoEx.ucDhcpFlag = 1;
        SaveDhcpFlag();
        ucCheckIpFlag = 0;
        g_dhcpWorker.Request();  // the client may take seconds: never on a request thread
        return;
    }
    // Static set-up: all four texts are read and checked before anything changes.
    bool got = form_get(req, "setting1", ip, sizeof ip);
    got = form_get(req, "setting2", mask, sizeof mask) && got;
    got = form_get(req, "setting3", gw, sizeof gw) && got;
    got = form_get(req, "setting4", dns, sizeof dns) && got;
    if (!got) return;
    printf("setting1 :%s\n", ip);
    printf("setting2 :%s\n", mask);
    printf("setting3 :%s\n", gw);
    printf("setting4 :%s\n", dns);
    bool ipOk = CheckIp(ip);
    bool allOk = CheckIp(mask) && CheckIp(gw) && CheckIp(dns) && ipOk;
    if (!ipOk) {
        printf("ip is invalid IPv4 ---------\n");
        return;
    }
    uint8_t addr[12], dnsBytes[8];
    if (allOk) {
        NetParseIpv4(ip, addr);
        NetParseIpv4(mask, addr + 4);
        NetParseIpv4(gw, addr + 8);
        NetParseIpv4(dns, dnsBytes);
        allOk = NetCheckStatic(addr, addr + 4, addr + 8) == 0;
    }
    if (!allOk) {
        printf("network settings are invalid, nothing applied\n");
        return;
    }
    copy_text(s_settings.ucDhcpFlag, sizeof s_settings.ucDhcpFlag, flag);
    copy_text(s_settings.IpAddr, sizeof s_settings.IpAddr, ip);
    copy_text(s_settings.NetMask, sizeof s_settings.NetMask, mask);
    copy_text(s_settings.GateWay, sizeof s_settings.GateWay, gw);
    copy_text(s_settings.Dns1, sizeof s_settings.Dns1, dns);
    g_NetInfoEx.ucDhcpFlag = 0;
    SaveDhcpFlag();
    if (!NetParseIpv4(s_settings.Dns2, dnsBytes + 4)) memcpy(dnsBytes + 4, g_NetInfoEx.ucDns2, 4);
    memcpy(g_NetInfoEx.ucIp, addr, 4);
    memcpy(g_NetInfoEx.ucMask, addr + 4, 4);
    memcpy(g_NetInfoEx.ucGateWay, addr + 8, 4);
    memcpy(g_NetInfoEx.ucDns1, dnsBytes, 4);
    memcpy(g_NetInfoEx.ucDns2, dnsBytes + 4, 4);
    printf("ip :%d.%d.%d.%d\n", addr[0], addr[1], addr[2], addr[3]);
    Proto_SetIP(addr, sizeof addr);
    Proto_SetDns(dnsBytes, sizeof dnsBytes);
    // The interface changes once the answer has left over the old address.
    // Applied as the numbers just stored, whatever zeros the texts carried.
    {
        std::lock_guard<std::mutex> g(g_ifMutex);
        for (int i = 0; i < 3; ++i) {
            char t[16];
            NetFormatIpv4(addr + 4 * i, t, sizeof t);
            g_ifPending[(size_t)i] = t;
        }
    }
    g_netWorker.Request();
}

// Reads and stores the destination of the form; false (nothing stored) when
// a variable is missing, too long or malformed.
bool save_destination(const WebRequest &req, bool printIndex) {
    char user[sizeof s_rtmp.user_name], url[sizeof s_rtmp.rtmp_url];
    bool got = form_get(req, "UserName", user, sizeof user);
    got = form_get(req, "StreamAddr", url, sizeof url) && got;
    if (!got) return false;
    memset(&s_rtmp, 0, sizeof s_rtmp);
    copy_text(s_rtmp.user_name, sizeof s_rtmp.user_name, user);
    copy_text(s_rtmp.rtmp_url, sizeof s_rtmp.rtmp_url, url);
    printf("UserName: %s\n", s_rtmp.user_name);
    printf("StreamAddr: %s\n", s_rtmp.rtmp_url);
    s_rtmp.index = UserSetGet(UsrBits::RtmpIndex);
    s_rtmp.rtmp_url_len = (uint16_t)strlen(s_rtmp.rtmp_url);
    s_rtmp.user_name_len = (uint8_t)strlen(s_rtmp.user_name);
    if (printIndex) printf("save index = %d\n", s_rtmp.index);
    SaveRtmpUrl(&s_rtmp);
    return true;
}

void toggle_stream() {
    if (UserSetGet(UsrBits::RtmpOnOff)) {
        UserSetPut(UsrBits::RtmpOnOff, 0);
        printf("stream off...\n");
        RtmpCloseState();
    } else {
        ST_RTMP_URL u;
        int r = LoadRtmpUrl(s_rtmp.index, &u);
        if (r != 0) {
            // As command 102: no destination, no publishing.
            printf("stream on refused: destination %d unreadable (%d)\n", s_rtmp.index, r);
        } else {
            UserSetPut(UsrBits::RtmpOnOff, 1);
            g_stUrl = u;
            printf("stream on...\n");
            RtmpOpenState();
        }
    }
    copy_text(s_cStrem, sizeof s_cStrem, UserSetGet(UsrBits::RtmpOnOff) ? "1" : "0");
}

void handle_rate(const WebRequest &req, WebReply *rep) {
    redirect_home(rep);
    char text[sizeof s_user.cStreamBitRate];
    unsigned v;
    if (!form_get(req, "StreamIndex", text, sizeof text)) return;
    if (!WebParseDecimal(text, 255, &v)) {
        printf("web: StreamIndex \"%s\" is not a bit-rate index\n", text);
        return;
    }
    copy_text(s_user.cStreamBitRate, sizeof s_user.cStreamBitRate, text);
    printf("cStreamBitRate: %s\n", s_user.cStreamBitRate);
    g_stUserSet.ucBitRate[1] = (uint8_t)v;
    g_vencWorker.Request();  // the rebuild takes a while: never on a request thread
}

void handle_url_index(const WebRequest &req, WebReply *rep) {
    redirect_home(rep);
    char text[4];
    unsigned v;
    if (!form_get(req, "UrlIndex", text, sizeof text)) return;
    if (!WebParseDecimal(text, 999, &v)) {
        printf("web: UrlIndex \"%s\" is not a number\n", text);
        return;
    }
    printf("UrlIndex: %s\n", text);
    UserSetPut(UsrBits::RtmpIndex, (uint8_t)(v & 7));
    UartSendUrlIndex((uint8_t)(v & 7));
}

bool read_file(const std::string &path, std::string *out) {
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return false;
    char buf[4096];
    size_t n;
    out->clear();
    while ((n = fread(buf, 1, sizeof buf, f)) > 0 && out->size() < (1u << 20)) out->append(buf, n);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

bool is_dir(const std::string &p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
bool is_file(const std::string &p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The real path of `path` when it lies inside the document root.
bool inside_root(const std::string &docRoot, const std::string &path, std::string *real) {
    char rootBuf[PATH_MAX], fileBuf[PATH_MAX];
    if (!realpath(docRoot.c_str(), rootBuf) || !realpath(path.c_str(), fileBuf)) return false;
    std::string root = rootBuf, file = fileBuf;
    if (file.compare(0, root.size(), root) != 0 || file.size() <= root.size() || file[root.size()] != '/') return false;
    *real = file;
    return true;
}

// Pages with include tags are rendered here; every other path is left to the server.
void serve_page(const WebRequest &req, WebReply *rep) {
    rep->kind = WebReply::Serve;
    const std::string &uri = req.uri;
    if (uri.empty() || uri[0] != '/' || uri.find("/../") != std::string::npos ||
        (uri.size() >= 3 && uri.compare(uri.size() - 3, 3, "/..") == 0))
        return;
    std::string docRoot;
    {
        std::lock_guard<std::mutex> g(g_webMutex);
        docRoot = g_docRoot;
    }
    std::string path = docRoot + uri;
    if (is_dir(path)) {
        if (uri.back() != '/') return;  // the server redirects to the slash form
        // The server's own index order; a page with tags only when no plain index exists.
        if (is_file(path + "index.html") || is_file(path + "index.htm")) return;
        path += "index.shtml";
    }
    if (!WebSsiIsPage(path)) return;
    std::string real, page;
    if (!is_file(path) || !inside_root(docRoot, path, &real) || !read_file(real, &page)) return;
    {
        std::lock_guard<std::mutex> g(g_webMutex);
        rep->body = WebSsiRender(page, WebSsiTag);
    }
    rep->kind = WebReply::Page;
    rep->status = 200;
    rep->contentType = "text/html; charset=utf-8";
}

void put_escaped(std::string &out, const char *text) { WebHtmlEscape(text, out); }
void put_number(std::string &out, int v) { out += std::to_string(v); }

}  // namespace

WebHooks WebDefaultHooks(void) {
    WebHooks h;
    h.setIfAddr = SetIfAddr;
    h.runDhcp = run_dhcp_client;
    h.vencSetRcParam = venc_set_rc;
    h.cpuStat = "/proc/stat";
    return h;
}

void WebSetHooks(const WebHooks &hooks) {
    WebWorkersIdle();
    std::lock_guard<std::mutex> g(g_webMutex);
    g_hooks = hooks;
    std::lock_guard<std::mutex> c(g_cpuMutex);
    delete g_cpuMeter;
    g_cpuMeter = nullptr;
}

void WebWorkersIdle(void) {
    g_dhcpWorker.WaitIdle();
    g_vencWorker.WaitIdle();
    g_netWorker.WaitIdle();
}

void WebResetForTest(void) {
    std::lock_guard<std::mutex> g(g_webMutex);
    set_start_values();
}

int CheckIp(const char *text) {
    uint8_t a[4];
    bool ok = NetParseIpv4(text, a);
    printf(ok ? "[%s] is valid IPv4\n" : "[%s] is invalid IPv4\n", text ? text : "");
    return ok ? 1 : 0;
}

void CheckNetWorkFormat(void) {
    auto put = [](char *dst, const uint8_t a[4]) { snprintf(dst, 64, "%d.%d.%d.%d", a[0], a[1], a[2], a[3]); };
    put(s_settings.IpAddr, g_NetInfoEx.ucIp);
    put(s_settings.NetMask, g_NetInfoEx.ucMask);
    put(s_settings.GateWay, g_NetInfoEx.ucGateWay);
    put(s_settings.Dns1, g_NetInfoEx.ucDns1);
}

void WebSsiTag(std::string_view tag, std::string &out) {
    if (tag == "setting1") {
        LoadNetWorkParam();
        CheckNetWorkFormat();
        put_escaped(out, s_settings.IpAddr);
    } else if (tag == "setting2") {
        put_escaped(out, s_settings.NetMask);
    } else if (tag == "setting3") {
        put_escaped(out, s_settings.GateWay);
    } else if (tag == "setting4") {
        put_escaped(out, s_settings.Dns1);
    } else if (tag == "setting5") {
        put_number(out, g_NetInfoEx.ucDhcpFlag);
    } else if (tag == "UserName") {
        memset(&s_rtmp, 0, sizeof s_rtmp);
        LoadRtmpUrl(UserSetGet(UsrBits::RtmpIndex), &s_rtmp);
        put_escaped(out, s_rtmp.user_name);
    } else if (tag == "StreamAddr") {
        put_escaped(out, s_rtmp.rtmp_url);
    } else if (tag == "StreamStatus") {
        copy_text(s_cStrem, sizeof s_cStrem, UserSetGet(UsrBits::RtmpOnOff) ? "1" : "0");
        out += s_cStrem;
    } else if (tag == "RecStatus") {
        copy_text(s_cStrem, sizeof s_cStrem, UserSetGet(UsrBits::SaveOnOff) ? "1" : "0");
        out += s_cStrem;
    } else if (tag == "iStreamBitRate") {
        put_number(out, g_stUserSet.ucBitRate[1]);
    } else if (tag == "iUrlIndex") {
        put_number(out, UserSetGet(UsrBits::RtmpIndex));
    }
}

void ev_handler(const WebRequest &req, WebReply *rep) {
    const std::string &u = req.uri;
    if (u == "/save") {
        std::lock_guard<std::mutex> g(g_webMutex);
        handle_save(req, rep);
    } else if (u == "/RtmpUrl_save") {
        std::lock_guard<std::mutex> g(g_webMutex);
        save_destination(req, true);
        redirect_home(rep);
    } else if (u == "/RtmpUrl_read") {
        std::lock_guard<std::mutex> g(g_webMutex);
        memset(&s_rtmp, 0, sizeof s_rtmp);
        LoadRtmpUrl(UserSetGet(UsrBits::RtmpIndex), &s_rtmp);
        redirect_home(rep);
    } else if (u == "/streamOnOff") {
        std::lock_guard<std::mutex> g(g_webMutex);
        if (save_destination(req, false)) toggle_stream();
        redirect_home(rep);
    } else if (u == "/saveRtmpRate") {
        std::lock_guard<std::mutex> g(g_webMutex);
        handle_rate(req, rep);
    } else if (u == "/setUrlIndex") {
        std::lock_guard<std::mutex> g(g_webMutex);
        handle_url_index(req, rep);
    } else if (u == "/get_cpu_usage") {
        json_result(rep, WebCpuLoad());
    } else if (u == "/get_Rec_Status") {
        json_result(rep, UserSetGet(UsrBits::SaveOnOff));
    } else {
        serve_page(req, rep);
    }
}

int WebCpuSample(void) {
    std::lock_guard<std::mutex> g(g_cpuMutex);
    if (!g_cpuMeter) g_cpuMeter = new CpuLoadMeter(g_hooks.cpuStat);
    int v = g_cpuMeter->Sample();
    g_cpuLoad = v;
    return v;
}

int WebCpuLoad(void) { return g_cpuLoad.load(); }

void push_data_to_all_websocket_connections(WebServer *srv) {
    char text[16];
    int n = snprintf(text, sizeof text, "%d", WebCpuLoad());
    WebServerPushText(srv, text, (size_t)n);
}

void WebSetDocRoot(const char *docRoot) {
    std::lock_guard<std::mutex> g(g_webMutex);
    g_docRoot = docRoot;
}

WebServer *WebControlStart(const char *port, const char *docRoot, WebStartResult *result) {
    WebStartResult r;
    WebSetDocRoot(docRoot);
    WebCpuSample();  // the first figure: the load since boot
    WebServer *srv = WebServerStart(port, docRoot, ev_handler, &r);
    if (r == WEB_START_BIND) fprintf(stderr, "Cannot bind to %s\n", port);
    if (r == WEB_START_ROOT) fprintf(stderr, "Cannot find web_root directory, exiting\n");
    if (result) *result = r;
    return srv;
}

void WebPushLoop(WebServer *srv, const std::atomic<bool> *stop) {
    timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (;;) {
        next.tv_sec += 1;
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
        }
        if (stop && stop->load()) return;
        WebCpuSample();
        push_data_to_all_websocket_connections(srv);
        // After a stall (a client slow to take its frame) start a fresh
        // period instead of catching up with a burst.
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec > next.tv_sec + 1) next = now;
    }
}

void *MongooseWeb(void *) {
    WebServer *srv = WebControlStart(WEB_PORT, WEB_ROOT, nullptr);
    if (!srv) exit(1);
    printf("Starting web server on port %s\n", WEB_PORT);
    WebPushLoop(srv, nullptr);
    return nullptr;
}
