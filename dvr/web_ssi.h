// Server-side include tags of the settings page: "<!--#call NAME -->" is
// replaced by what the tag handler writes for NAME.
#pragma once
#include <functional>
#include <string>
#include <string_view>

using WebSsiCall = std::function<void(std::string_view tag, std::string &out)>;

// The page with each well-formed call tag replaced; other text, other
// directives and unterminated tags are copied unchanged.
std::string WebSsiRender(std::string_view page, const WebSsiCall &call);

// Text made safe inside HTML text and quoted attribute values.
void WebHtmlEscape(std::string_view text, std::string &out);

// 1 when a file of this name is a page with include tags (".shtml", ".shtm").
int WebSsiIsPage(std::string_view path);
