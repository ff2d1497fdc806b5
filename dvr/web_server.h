// The HTTP and WebSocket server under the web control: the only file that
// talks to the HTTP library. Requests go to one handler function; WebSocket
// clients are kept in a list for pushes from any thread.
#pragma once
#include <stddef.h>

#include <string>

// Largest request body read; a larger one is refused with 413.
#define WEB_BODY_MAX 8192
// Server workers; open WebSockets may hold at most half of them (one more is
// refused with 503).
#define WEB_WORKERS 16
#define WEB_WS_MAX (WEB_WORKERS / 2)

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
