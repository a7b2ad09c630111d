// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/lyrics_search.h"

#include <gtest/gtest.h>

#include "net/fake_http.h"

namespace sondrel::net {
namespace {

const char kBase[] = "http://search.test";

// A results page in the engine's simple layout, results first..last.
std::string ResultsPage(int first, int last, const std::vector<std::string>& links,
                        const std::string& total = "1,234") {
    std::string page = "<html><body>Results " + std::to_string(first) + "-" + std::to_string(last) +
                       " of about " + total + " for <b>x</b><br>";
    for (const auto& link : links)
        page += "<p><a href=" + link + ">a title</a><br>snippet</p>";
    return page + "</body></html>";
}

std::string SearchUrl(const std::string& query, int start) {
    return LyricsSearchUrl(kBase, query, start);
}

LyricsSettings Settings() {
    LyricsSettings s;
    s.searchBase = kBase;
    return s;
}

TEST(LyricsQuery, SpacesAndAmpersands) {
    EXPECT_EQ(LyricsQuery("AC/DC", "T.N.T."), "AC/DC+T.N.T.");
    EXPECT_EQ(LyricsQuery("Simon & Garfunkel", "Mrs. Robinson"), "Simon++Garfunkel+Mrs.+Robinson");
    EXPECT_EQ(LyricsQuery("A, B", "C"), "A+B+C");
    EXPECT_EQ(LyricsQuery("Simon & Garfunkel", "x", true), "Simon+&+Garfunkel+x");
    EXPECT_EQ(SearchUrl("a+b", 5),
              "http://search.test/palm?q=allintitle%3Aa+b+lyrics&hl=en&lr=&ie=ISO-8859-1"
              "&safe=off&start=5&num=5&sa=N");
}

TEST(ResultsPageParsing, HeaderOutcomes) {
    struct Case {
        const char* what;
        std::string page;
        int outcome, first, last;
        long total;
    };
    const Case cases[] = {
        {"whole header", "Results 6-10 of about 1,234 for x", kLyricsOk, 6, 10, 1234},
        {"leading spaces", "Results  1- 5 of about 12 for", kLyricsOk, 1, 5, 12},
        {"not numbers", "Results a-b of about x for", kLyricsOk, 0, 0, 0},
        {"no match", "Your search did not match any documents. Results 1-5", kLyricsNoMatch, 0, 0,
         0},
        {"no Results", "1-5 of about 3 for", kLyricsNoResults, 0, 0, 0},
        {"no of about", "Results 1-5 for", kLyricsNoOfAbout, 0, 0, 0},
        {"no dash", "Results 1 of about 3 for", kLyricsNoDash, 0, 0, 0},
        {"no for", "Results 1-5 of about 3", kLyricsNoFor, 0, 0, 0},
    };
    for (const auto& c : cases) {
        ResultsHeader h = ParseResultsHeader(c.page);
        EXPECT_EQ(h.outcome, c.outcome) << c.what;
        if (c.outcome == kLyricsOk) {
            EXPECT_EQ(h.first, c.first) << c.what;
            EXPECT_EQ(h.last, c.last) << c.what;
            EXPECT_EQ(h.total, c.total) << c.what;
        }
    }
}

TEST(ResultsPageParsing, NthLink) {
    int outcome = 0;
    const std::string page = ResultsPage(1, 3, {"http://a.test/1", "http://a.test/2"});
    EXPECT_EQ(NthResultLink(page, 2, outcome), "http://a.test/2");
    EXPECT_EQ(outcome, kLyricsOk);
    EXPECT_EQ(NthResultLink(page, 3, outcome), "");
    EXPECT_EQ(outcome, kLyricsNoLink);
    EXPECT_EQ(NthResultLink("<p><a href=http://x", 1, outcome), "");
    EXPECT_EQ(outcome, kLyricsNoLinkEnd);
}

TEST(LyricsSearchFlow, FirstResultIsFetchedAndConverted) {
    test::FakeHttp http;
    const std::string query = "Adele+Hello";
    http.pages[SearchUrl(query, 0)] = {
        200, ResultsPage(1, 5, {"/url?q=http://lyr.test/hello&sa=U", "http://lyr.test/two"})};
    http.pages["http://lyr.test/hello"] = {200,
                                           "<body>junk<div id=l>Hello<br>it's me</div></body>"};
    LyricsSearch search(http, Settings(), {{"lyr.test", "<div id=l>", "</div>"}});
    auto step = search.Search("Adele", "Hello");
    EXPECT_EQ(step.outcome, kLyricsOk);
    EXPECT_EQ(step.text, "Hello\r\nit's me");
    EXPECT_EQ(step.url, "http://lyr.test/hello");
    EXPECT_EQ(search.Result(), 2);
    EXPECT_EQ(search.searches, 1);
    EXPECT_EQ(search.markers.templates, 1);
}

TEST(LyricsSearchFlow, FailingPagesAreSkippedAndOtherPagesAsked) {
    test::FakeHttp http;
    // Result 1 answers 404, result 2 works; Next from 3 fails over to 4 and
    // then past the page's last result asks for the next results page.
    std::vector<std::string> links;
    for (int i = 1; i <= 5; ++i)
        links.push_back("http://lyr.test/" + std::to_string(i));
    http.pages[SearchUrl("A+Song", 0)] = {200, ResultsPage(1, 5, links)};
    http.pages["http://lyr.test/1"] = {404, "gone"};
    http.pages["http://lyr.test/2"] = {200, "two"};
    http.pages["http://lyr.test/3"] = {200, "", true};
    http.pages["http://lyr.test/4"] = {200, "four"};
    http.pages["http://lyr.test/5"] = {200, "five"};
    http.pages[SearchUrl("A+Song", 5)] = {200, ResultsPage(6, 10, {"http://lyr.test/6"})};
    http.pages["http://lyr.test/6"] = {200, "six"};

    LyricsSearch search(http, Settings(), {});
    auto step = search.Search("A", "Song");
    EXPECT_EQ(step.outcome, kLyricsOk);
    EXPECT_EQ(step.text, "two");
    step = search.Next();
    EXPECT_EQ(step.text, "four");
    step = search.Next();
    EXPECT_EQ(step.text, "five");
    EXPECT_EQ(search.Result(), 6);
    step = search.Next();
    EXPECT_EQ(step.outcome, kLyricsOk);
    EXPECT_EQ(step.text, "six");
    EXPECT_EQ(search.searches, 4);
    EXPECT_EQ(http.asked[http.asked.size() - 2], SearchUrl("A+Song", 5));
    step = search.Next();  // the page says 6-10 but lists one result
    EXPECT_EQ(step.outcome, kLyricsNoLink);
}

TEST(LyricsSearchFlow, Outcomes) {
    struct Case {
        const char* what;
        std::string artist, title;
        std::map<std::string, test::FakeHttp::Page> pages;
        int outcome;
        std::size_t requests;
    };
    const std::string s0 = SearchUrl("Some+Song", 0);
    const Case cases[] = {
        {"query too short", "A", "", {}, kLyricsQueryTooShort, 0},
        {"search fails", "Some", "Song", {{s0, {200, "", true}}}, kLyricsSearchFailed, 1},
        {"search answers 500", "Some", "Song", {{s0, {500, "oops"}}}, kLyricsSearchError, 1},
        {"no match",
         "Some",
         "Song",
         {{s0, {200, "did not match any documents"}}},
         kLyricsNoMatch,
         1},
        {"not a results page",
         "Some",
         "Song",
         {{s0, {200, "<html>hi</html>"}}},
         kLyricsNoResults,
         1},
        {"local file link not followed",
         "Some",
         "Song",
         {{s0, {200, ResultsPage(1, 1, {"file:///etc/passwd"})}}},
         kLyricsNoLinkEnd,
         1},
        {"script link not followed",
         "Some",
         "Song",
         {{s0, {200, ResultsPage(1, 1, {"javascript:alert(1)"})}}},
         kLyricsNoLinkEnd,
         1},
        {"lyrics page fails",
         "Some",
         "Song",
         {{s0, {200, ResultsPage(1, 1, {"http://l.test/1"})}}, {"http://l.test/1", {0, "", true}}},
         kLyricsPageFailed,
         2},
        {"only failing pages",
         "Some",
         "Song",
         {{s0, {200, ResultsPage(1, 2, {"http://l.test/1", "http://l.test/2"})}},
          {"http://l.test/1", {404, ""}},
          {"http://l.test/2", {410, ""}}},
         kLyricsOtherPage,
         3},
    };
    for (const auto& c : cases) {
        test::FakeHttp http;
        http.pages = c.pages;
        LyricsSearch search(http, Settings(), {});
        auto step = search.Search(c.artist, c.title);
        EXPECT_EQ(step.outcome, c.outcome) << c.what;
        EXPECT_TRUE(step.text.empty()) << c.what;
        EXPECT_EQ(http.asked.size(), c.requests) << c.what;
    }
}

TEST(LyricsSearchFlow, StopEndsTheSkippingOfFailedPages) {
    test::FakeHttp http;
    http.pages[SearchUrl("Some+Song", 0)] = {
        200, ResultsPage(1, 3, {"http://l.test/1", "http://l.test/2", "http://l.test/3"})};
    LyricsSearch search(http, Settings(), {});
    auto step = search.Search("Some", "Song", [] { return false; });
    EXPECT_EQ(step.outcome, kLyricsPageError);
    EXPECT_EQ(http.asked.size(), 2u);
}

}  // namespace
}  // namespace sondrel::net
