#include "web_server.h"

#include <civetweb.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <utility>
#include <vector>

using Clock = std::chrono::steady_clock;

struct WebServer {
    mg_context *ctx = nullptr;
    WebRequestFn fn = nullptr;
    std::mutex wsMutex;  // held while a frame is written, so a closing client stays valid
    WebWsPlaces ws;
};

namespace {

int log_message(const mg_connection *, const char *) { return 1; }  // callers print their own

int on_request(mg_connection *conn, void *cbdata) {
    WebServer *srv = static_cast<WebServer *>(cbdata);
    const mg_request_info *ri = mg_get_request_info(conn);
    WebRequest req;
    req.method = ri->request_method ? ri->request_method : "";
    req.uri = ri->local_uri ? ri->local_uri : "";
    if (ri->content_length > WEB_BODY_MAX) {
        mg_send_http_error(conn, 413, "%s", "Request body too large");
        return 413;
    }
    char buf[1024];
    int n;
    while (req.body.size() <= WEB_BODY_MAX && (n = mg_read(conn, buf, sizeof buf)) > 0) req.body.append(buf, (size_t)n);
    if (req.body.size() > WEB_BODY_MAX) {
        mg_send_http_error(conn, 413, "%s", "Request body too large");
        return 413;
    }
    WebReply rep;
    srv->fn(req, &rep);
    int status = rep.status;
    switch (rep.kind) {
    case WebReply::Serve:
        return 0;  // the server looks up the file itself
    case WebReply::Redirect:
        mg_send_http_redirect(conn, rep.location.c_str(), rep.status);
        break;
    case WebReply::Json: {
        // One write: a small answer split over several segments waits on
        // the client's delayed acknowledgement.
        char size[16];
        snprintf(size, sizeof size, "%zx\r\n", rep.body.size());
        std::string out = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
        out += size + rep.body + "\r\n0\r\n\r\n";
        mg_write(conn, out.data(), out.size());
        status = 200;
        break;
    }
    case WebReply::Page:
        mg_send_http_ok(conn, rep.contentType.c_str(), (long long)rep.body.size());
        mg_write(conn, rep.body.data(), rep.body.size());
        break;
    case WebReply::Error:
        mg_send_http_error(conn, rep.status, "%s", rep.body.c_str());
        break;
    }
    return status;
}

// Each WebSocket holds a worker for as long as it is open: at most half of
// them, so pages and status requests are always answered.
int on_ws_connect(const mg_connection *conn, void *cbdata) {
    WebServer *srv = static_cast<WebServer *>(cbdata);
    std::lock_guard<std::mutex> g(srv->wsMutex);
    if (!srv->ws.Open(conn, Clock::now())) {
        mg_send_http_error(const_cast<mg_connection *>(conn), 503, "%s", "Too many WebSocket clients");
        return 1;
    }
    return 0;
}

void on_ws_ready(mg_connection *conn, void *cbdata) {
    WebServer *srv = static_cast<WebServer *>(cbdata);
    std::lock_guard<std::mutex> g(srv->wsMutex);
    srv->ws.Ready(conn);
}

int on_ws_data(mg_connection *, int, char *, size_t, void *) { return 1; }

void on_ws_close(const mg_connection *conn, void *cbdata) {
    WebServer *srv = static_cast<WebServer *>(cbdata);
    std::lock_guard<std::mutex> g(srv->wsMutex);
    srv->ws.Close(conn);
}

}  // namespace

void WebWsPlaces::Forget(const mg_connection *conn) {
    opening_.erase(std::remove_if(opening_.begin(), opening_.end(), [conn](const auto &e) { return e.first == conn; }),
                   opening_.end());
}

bool WebWsPlaces::Open(const mg_connection *conn, Clock::time_point now) {
    const auto limit = std::chrono::seconds(WEB_WS_OPENING_S);
    auto expired = [&](const auto &e) { return now - e.second > limit; };
    opening_.erase(std::remove_if(opening_.begin(), opening_.end(), expired), opening_.end());
    // A connection record is reused: a stale handshake of this one is over.
    Forget(conn);
    if (clients_.size() + opening_.size() >= WEB_WS_MAX) return false;
    opening_.push_back({conn, now});
    return true;
}

void WebWsPlaces::Ready(mg_connection *conn) {
    Forget(conn);
    clients_.push_back(conn);
}

void WebWsPlaces::Close(const mg_connection *conn) {
    Forget(conn);
    clients_.erase(std::remove(clients_.begin(), clients_.end(), conn), clients_.end());
}

WebServer *WebServerStart(const char *port, const char *docRoot, WebRequestFn fn, WebStartResult *result) {
    WebStartResult dummy;
    if (!result) result = &dummy;
    mg_init_library(0);
    char workers[8];
    snprintf(workers, sizeof workers, "%d", WEB_WORKERS);
    WebServer *srv = new WebServer;
    srv->fn = fn;
    // Pages with include tags are rendered by the request handler; the
    // server neither runs scripts nor interprets its own include syntax.
    const char *options[] = {
        "listening_ports", port,
        "document_root", docRoot,
        "index_files", "index.html,index.htm,index.shtml",
        "ssi_pattern", "",
        "cgi_pattern", "",
        "enable_keep_alive", "yes",
        "tcp_nodelay", "1",
        "enable_directory_listing", "yes",
        "num_threads", workers,
        "websocket_timeout_ms", "3600000",
        nullptr,
    };
    mg_callbacks cb;
    memset(&cb, 0, sizeof cb);
    cb.log_message = log_message;
    srv->ctx = mg_start(&cb, srv, options);
    if (!srv->ctx) {
        delete srv;
        *result = WEB_START_BIND;
        return nullptr;
    }
    struct stat st;
    if (stat(docRoot, &st) != 0 || !S_ISDIR(st.st_mode)) {
        mg_stop(srv->ctx);
        delete srv;
        *result = WEB_START_ROOT;
        return nullptr;
    }
    mg_set_request_handler(srv->ctx, "**", on_request, srv);
    mg_set_websocket_handler(srv->ctx, "**", on_ws_connect, on_ws_ready, on_ws_data, on_ws_close, srv);
    *result = WEB_START_OK;
    return srv;
}

int WebServerPort(const WebServer *srv) {
    mg_server_port ports[4];
    int n = srv ? mg_get_server_ports(srv->ctx, 4, ports) : 0;
    return n > 0 ? ports[0].port : -1;
}

int WebServerPushText(WebServer *srv, const char *text, size_t len) {
    if (!srv) return 0;
    std::lock_guard<std::mutex> g(srv->wsMutex);
    int sent = 0;
    for (mg_connection *c : srv->ws.clients())
        if (mg_websocket_write(c, MG_WEBSOCKET_OPCODE_TEXT, text, len) > 0) ++sent;
    return sent;
}

int WebServerClientCount(WebServer *srv) {
    if (!srv) return 0;
    std::lock_guard<std::mutex> g(srv->wsMutex);
    return (int)srv->ws.clients().size();
}

void WebServerStop(WebServer *srv) {
    if (!srv) return;
    mg_stop(srv->ctx);
    delete srv;
}
