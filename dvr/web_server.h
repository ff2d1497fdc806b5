// The HTTP and WebSocket server under the web control: the only file that
// talks to the HTTP library. Requests go to one handler function; WebSocket
// clients are kept in a list for pushes from any thread.
#pragma once
#include <stddef.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

// Largest request body read; a larger one is refused with 413.
#define WEB_BODY_MAX 8192
// Server workers; open WebSockets may hold at most half of them (one more is
// refused with 503).
#define WEB_WORKERS 16
#define WEB_WS_MAX (WEB_WORKERS / 2)
// Seconds after which a WebSocket handshake that never got ready gives its
// place back.
#define WEB_WS_OPENING_S 10

struct WebRequest {
    std::string method;
    std::string uri;   // decoded path without the query, dot segments removed
    std::string body;  // URL-encoded form of a POST
};

struct WebReply {
    enum Kind {
        Serve,     // let the server answer from the document root (file, listing, 404)
        Redirect,  // status to location
        Json,      // "HTTP/1.1 200 OK", chunked, one chunk of body
        Page,      // 200 with content type and body
        Error,     // status with a short text body
    };
    Kind kind = Serve;
    int status = 200;
    std::string location;
    std::string contentType;
    std::string body;
};

using WebRequestFn = void (*)(const WebRequest &, WebReply *);

struct WebServer;

enum WebStartResult { WEB_START_OK = 0, WEB_START_BIND = 1, WEB_START_ROOT = 2 };

// Listens on `port` (a port text such as "80" or "127.0.0.1:0") and serves
// `docRoot`; *result tells why nullptr was returned.
WebServer *WebServerStart(const char *port, const char *docRoot, WebRequestFn fn, WebStartResult *result);
// The first port the server listens on (useful after "...:0").
int WebServerPort(const WebServer *srv);
// Sends a text frame to every open WebSocket; the number of clients reached.
int WebServerPushText(WebServer *srv, const char *text, size_t len);
int WebServerClientCount(WebServer *srv);
void WebServerStop(WebServer *srv);

// ---- internals, also used by tests ----------------------------------------
struct mg_connection;

// The places of the WebSocket clients: open ones and handshakes under way.
// A handshake that fails after it was accepted is never closed by the
// server, so its place comes back WEB_WS_OPENING_S seconds after it began.
// Not locked: its owner holds a lock around every call.
class WebWsPlaces {
public:
    using Clock = std::chrono::steady_clock;
    // A place for a handshake beginning at `now`; false when none is left.
    bool Open(const mg_connection *conn, Clock::time_point now);
    // The handshake is done: the connection gets pushes from now on.
    void Ready(mg_connection *conn);
    void Close(const mg_connection *conn);
    const std::vector<mg_connection *> &clients() const { return clients_; }

private:
    void Forget(const mg_connection *conn);
    std::vector<mg_connection *> clients_;
    std::vector<std::pair<const mg_connection *, Clock::time_point>> opening_;
};
