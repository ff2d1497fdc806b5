// Web control: the settings page on port 80 with its forms, include tags,
// two JSON status answers and a WebSocket push of the CPU load each second.
#pragma once
#include <stdint.h>

#include <atomic>
#include <string>
#include <string_view>

#include "rtmp_publish.h"
#include "web_server.h"

#define WEB_PORT "80"
#define WEB_ROOT "web_root"

// Texts of the network form (each zero-terminated).
typedef struct {
    char IpAddr[64];
    char NetMask[64];
    char GateWay[64];
    char Dns1[64];
    char Dns2[64];
    char ucDhcpFlag[4];
} device_settings;

typedef struct {
    char cRotate[4];
    char cRecBitRate[4];
    char cStreamBitRate[4];
} User_settings;

extern device_settings s_settings;
extern User_settings s_user;
extern char s_cStrem[4];
extern ST_RTMP_URL s_rtmp;

// Thread entry started once at start-up: serves WEB_ROOT on WEB_PORT and
// pushes to the WebSocket clients; never returns. Ends the process with
// status 1 when the port cannot be bound or the document root is missing.
void *MongooseWeb(void *);

// Answers one request: the form and status paths, pages with include tags,
// everything else from the document root. Handlers are serialised by one
// mutex: they share the process-wide records.
void ev_handler(const WebRequest &req, WebReply *rep);
// Writes the value of one include tag of the settings page.
void WebSsiTag(std::string_view tag, std::string &out);
// Sends the current CPU load to every WebSocket client.
void push_data_to_all_websocket_connections(WebServer *srv);

// 1 when text is four decimal numbers 0-255 "%d.%d.%d.%d" and nothing else.
int CheckIp(const char *text);
// IpAddr, NetMask, GateWay and Dns1 from g_NetInfoEx.
void CheckNetWorkFormat(void);

// ---- internals, also used by tests ----------------------------------------
// Starts the server on `port` for `docRoot`, printing the failure the way
// MongooseWeb reports it; nullptr on failure with *result set.
WebServer *WebControlStart(const char *port, const char *docRoot, WebStartResult *result);
// Where pages with include tags are read (WebControlStart sets it too).
void WebSetDocRoot(const char *docRoot);
// Pushes once a second (monotonic clock) until *stop is set (never, for nullptr).
void WebPushLoop(WebServer *srv, const std::atomic<bool> *stop);
// Latest CPU load figure (0-100) that the push and "/get_cpu_usage" report.
int WebCpuLoad(void);
// Takes a new CPU reading (the push loop does so each second).
int WebCpuSample(void);

// What the handlers call outside the web control; tests replace them.
struct WebHooks {
    int (*setIfAddr)(const char *ifname, const char *ip, const char *mask, const char *gw);
    int (*runDhcp)(void);              // runs the DHCP client once, on the DHCP worker
    int (*vencSetRcParam)(unsigned);   // rebuild after a bit-rate change, on the encoder worker
    const char *cpuStat;               // counters in /proc/stat form
    const char *docRoot;               // where pages with include tags are read
};
WebHooks WebDefaultHooks(void);
void WebSetHooks(const WebHooks &hooks);
// Waits until the DHCP and encoder workers have nothing left to do.
void WebWorkersIdle(void);
// Back to the start values of the form records.
void WebResetForTest(void);
