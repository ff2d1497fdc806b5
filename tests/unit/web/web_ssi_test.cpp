// Include tags of pages: which tags are replaced, what is left alone, escaping.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "web_ssi.h"

namespace {

std::string render(const std::string &page, std::vector<std::string> *seen = nullptr) {
    return WebSsiRender(page, [seen](std::string_view tag, std::string &out) {
        if (seen) seen->emplace_back(tag);
        out += "[" + std::string(tag) + "]";
    });
}

TEST(WebSsi, CallTagsAreReplacedInOrder) {
    std::vector<std::string> seen;
    std::string out = render("<input value=\"<!--#call setting1 -->\"><!--#call  setting2-->x<!--#call\tA_b.c\n-->",
                             &seen);
    EXPECT_EQ(out, "<input value=\"[setting1]\">[setting2]x[A_b.c]");
    EXPECT_EQ(seen, (std::vector<std::string>{"setting1", "setting2", "A_b.c"}));
    EXPECT_EQ(render("<!--#call a --><!--#call b -->"), "[a][b]");
    EXPECT_EQ(render(""), "");
    EXPECT_EQ(render("no tags at all"), "no tags at all");
}

TEST(WebSsi, OtherDirectivesAndBrokenTagsStayAsWritten) {
    std::vector<std::string> seen;
    const std::string keep[] = {
        "<!--#include virtual=\"x.html\" -->",
        "<!--#exec cmd=\"ls\" -->",
        "<!--#call -->",
        "<!--#call a b -->",
        "<!--#callx -->",
        "<!--#call a\"b -->",
        "<!-- plain comment -->",
    };
    for (const std::string &k : keep) EXPECT_EQ(render("1" + k + "2", &seen), "1" + k + "2") << k;
    EXPECT_TRUE(seen.empty());
    // No terminator: the rest of the page is copied unchanged.
    EXPECT_EQ(render("a<!--#call x -->b<!--#call y", &seen), "a[x]b<!--#call y");
    EXPECT_EQ(seen, (std::vector<std::string>{"x"}));
}

TEST(WebSsi, NullHandlerWritesNothing) {
    EXPECT_EQ(WebSsiRender("a<!--#call x -->b", WebSsiCall()), "ab");
}

TEST(WebSsi, EscapesMarkupAndQuotes) {
    std::string out;
    WebHtmlEscape("rtmp://h/l?a=1&b=\"x\"<script>'", out);
    EXPECT_EQ(out, "rtmp://h/l?a=1&amp;b=&quot;x&quot;&lt;script&gt;&#39;");
}

TEST(WebSsi, PagesWithTagsByName) {
    EXPECT_TRUE(WebSsiIsPage("web_root/index.shtml"));
    EXPECT_TRUE(WebSsiIsPage("a.shtm"));
    EXPECT_FALSE(WebSsiIsPage("index.html"));
    EXPECT_FALSE(WebSsiIsPage("shtml"));
    EXPECT_FALSE(WebSsiIsPage("x.shtml.bak"));
}

}  // namespace
