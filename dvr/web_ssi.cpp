#include "web_ssi.h"

namespace {

constexpr std::string_view kOpen = "<!--#";
constexpr std::string_view kClose = "-->";

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool is_name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.';
}

// The tag name of a directive body such as "call setting1 " or empty when the
// body is not a call with exactly one name.
std::string_view call_name(std::string_view body) {
    constexpr std::string_view kCall = "call";
    if (body.substr(0, kCall.size()) != kCall) return {};
    size_t i = kCall.size();
    if (i >= body.size() || !is_space(body[i])) return {};
    while (i < body.size() && is_space(body[i])) ++i;
    size_t b = i;
    while (i < body.size() && is_name_char(body[i])) ++i;
    std::string_view name = body.substr(b, i - b);
    while (i < body.size() && is_space(body[i])) ++i;
    return i == body.size() ? name : std::string_view{};
}

}  // namespace

std::string WebSsiRender(std::string_view page, const WebSsiCall &call) {
    std::string out;
    out.reserve(page.size() + 256);
    size_t pos = 0;
    for (;;) {
        size_t open = page.find(kOpen, pos);
        if (open == std::string_view::npos) break;
        size_t close = page.find(kClose, open + kOpen.size());
        if (close == std::string_view::npos) break;
        std::string_view name = call_name(page.substr(open + kOpen.size(), close - open - kOpen.size()));
        out.append(page.substr(pos, open - pos));
        if (name.empty()) {
            out.append(page.substr(open, close + kClose.size() - open));
        } else if (call) {
            call(name, out);
        }
        pos = close + kClose.size();
    }
    out.append(page.substr(pos));
    return out;
}

void WebHtmlEscape(std::string_view text, std::string &out) {
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
}

int WebSsiIsPage(std::string_view path) {
    auto ends = [&](std::string_view s) {
        return path.size() >= s.size() && path.substr(path.size() - s.size()) == s;
    };
    return ends(".shtml") || ends(".shtm");
}
