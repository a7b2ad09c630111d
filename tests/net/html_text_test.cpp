// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/html_text.h"

#include <gtest/gtest.h>

namespace sondrel::net {
namespace {

std::string Text(const std::string& page) {
    return PageToText(page, "http://example.org/x", {}, true);
}

TEST(PageToText, Steps) {
    struct Case {
        const char* what;
        std::string page;
        std::string text;
    };
    const Case cases[] = {
        {"br between lines", "<p>Line one<br>Line two</p>", "Line one\r\nLine two"},
        {"entities and spaces", "Rock &amp; Roll&nbsp;&nbsp;Part&#39;s", "Rock & Roll Part's"},
        {"all br spellings", "a<BR>b<br />c<br>d", "a\r\nb\r\nc\r\nd"},
        {"five blank lines become one", "one<br><br><br><br><br><br>two", "one\r\n\r\ntwo"},
        {"two line ends stay two", "one<br><br>two", "one\r\n\r\ntwo"},
        {"source line ends are not text", "one\r\ntwo\nthree\rfour", "onetwothreefour"},
        {"pre keeps its lines", "<PRE>one\r\ntwo\nthree</pre>", "one\r\ntwo\r\nthree"},
        {"before body dropped", "<html><head><title>T</title></head><Body>Text</body>", "Text"},
        {"scripts dropped", "<body>a<script>var x = '<br>';</SCRIPT>b</body>", "ab"},
        {"open script stays as text", "<body>a<script>x = 1", "ax = 1"},
        {"headings end lines", "<h1>Title</H1>Verse", "Title\r\nVerse"},
        {"nested tags", "<div><p><b><i>deep</i></b> text</p></div>", "deep text"},
        {"tag without end kept", "a < b", "a < b"},
        {"tabs and runs of spaces", "a\t\tb     c", "ab c"},
        {"space before a line end", "word   <br>   next", "word\r\nnext"},
        {"quotes and marks", "&quot;Hi&#8221; &#8220;x&#039; &copy; &raquo; wait&#133; &#0149;",
         "\"Hi\" \"x' (c) >> wait... -"},
        {"escaped tags stay text", "&lt;b&gt;", "<b>"},
        {"leading line ends and spaces", "<br><br> <br>  Start", "Start"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Text(c.page), c.text) << c.what;
}

TEST(PageToText, SiteMarkersCutThePage) {
    const std::vector<LyricsSite> sites{{"lyr.example", "<div id=\"l\">", "</div>"},
                                        {"empty.example", "", ""}};
    const std::string page =
        "<body>menu<br>ads<div id=\"l\">Verse one<br>Verse two</div>footer</body>";
    SiteMarkerCounts counts;
    EXPECT_EQ(PageToText(page, "http://www.LYR.example/song", sites, true, &counts),
              "Verse one\r\nVerse two");
    EXPECT_EQ(counts.templates, 1);
    EXPECT_EQ(counts.errors, 0);

    // Markers off: the page stays whole.
    EXPECT_EQ(PageToText(page, "http://lyr.example/song", sites, false, &counts),
              "menu\r\nadsVerse one\r\nVerse twofooter");
    EXPECT_EQ(counts.templates, 1);

    // The end marker must follow the start marker; missing markers count as
    // errors and the page stays whole; empty markers always miss.
    const std::string noEnd = "<div id=\"l\">x";
    EXPECT_EQ(PageToText(noEnd, "http://lyr.example/a", sites, true, &counts), "x");
    EXPECT_EQ(PageToText("<p>a</p>", "http://empty.example/a", sites, true, &counts), "a");
    EXPECT_EQ(counts.templates, 3);
    EXPECT_EQ(counts.errors, 2);

    // Another site's page is not touched by these markers.
    EXPECT_EQ(PageToText(page, "http://other.example/", sites, true, &counts),
              "menu\r\nadsVerse one\r\nVerse twofooter");
    EXPECT_EQ(counts.templates, 3);
}

TEST(PageToText, RealShapedPage) {
    const std::string page =
        "<!DOCTYPE html>\r\n<html><head><script src=\"x.js\"></script>\r\n"
        "<style>b{}</style></head>\r\n<body class=\"song\">\r\n"
        "<script type=\"text/javascript\">\r\n document.write('<b>ad</b>');\r\n</script>\r\n"
        "<h2>Artist - Song</h2>\r\n<div class=\"lyrics\">\r\n"
        "  Hello, it&#39;s me<br />\r\n  I was wondering<br />\r\n<br />\r\n"
        "  Hello from the other side<br>\r\n</div>\r\n</body></html>";
    EXPECT_EQ(Text(page),
              "Artist - Song\r\nHello, it's me\r\nI was wondering\r\n\r\n"
              "Hello from the other side\r\n");
}

}  // namespace
}  // namespace sondrel::net
