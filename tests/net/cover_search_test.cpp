// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/cover_search.h"

#include <gtest/gtest.h>

#include "net/fake_http.h"

namespace sondrel::net {
namespace {

CoverSettings Settings(bool approximate = false) {
    CoverSettings s;
    s.storeBaseTemplate = "http://store.%s.test";
    s.searchBase = "http://search.test";
    s.retailerDomain = "shop.test";
    s.approximateSearch = approximate;
    return s;
}

std::string StoreAnswer(const std::string& url) {
    return "<ItemSearchResponse><Items><Item><SmallImage><URL>http://img.test/small.jpg</URL>"
           "</SmallImage><LargeImage><URL>" +
           url + "</URL><Height>500</Height></LargeImage></Item></Items></ItemSearchResponse>";
}

TEST(CoverParsers, KeywordsAndAddresses) {
    EXPECT_EQ(CoverKeywords("Simon & Garfunkel, Live"), "Simon++Garfunkel+Live");
    EXPECT_EQ(StoreQueryUrl(Settings(), "co.uk", "A+B"),
              "http://store.co.uk.test/onca/xml?Service=AWSECommerceService&SubscriptionId="
              "7QX2M4KD9ZP1RTB8WN3C&Operation=ItemSearch&Keywords=A+B&SearchIndex=Music"
              "&ResponseGroup=Request,Images");
    EXPECT_EQ(CoverSearchQuery("A", "T", "Al"), "\"A\" \"T\" \"Al\"");
    EXPECT_EQ(CoverSearchQuery("A", "T", ""), "\"A\" \"T\"");
    EXPECT_EQ(CoverSearchUrl(Settings(), "\"A\"+\"T\"", 3),
              "http://search.test/palm?q=site:shop.test+\"A\"+\"T\"+%22see+larger+picture%22"
              "&hl=en&lr=&ie=ISO-8859-1&safe=off&start=2&num=5&sa=N");
}

TEST(CoverParsers, StoreAnswer) {
    EXPECT_EQ(ParseStoreAnswer(StoreAnswer("http://img.test/L.jpg")), "http://img.test/L.jpg");
    EXPECT_EQ(ParseStoreAnswer(StoreAnswer("https://img.test/L.jpg")), "https://img.test/L.jpg");
    EXPECT_EQ(ParseStoreAnswer("<SmallImage><URL>http://x/s.jpg</URL></SmallImage>"), "");
    EXPECT_EQ(ParseStoreAnswer("<LargeImage><URL>http://x/cut"), "");
}

TEST(CoverParsers, ResultAndProductPages) {
    const std::string results =
        "Results 1-2 of about 2 for x<p><a href=http://shop.test/p1>One</a>"
        "<p><a href=http://shop.test/p2>Two</a>";
    CoverStatus status = CoverStatus::Ok;
    EXPECT_EQ(ParseResultPage(results, 2, status), "http://shop.test/p2");
    EXPECT_EQ(status, CoverStatus::Ok);
    EXPECT_EQ(ParseResultPage(results, 3, status), "");
    EXPECT_EQ(status, CoverStatus::Failed);
    status = CoverStatus::Ok;
    EXPECT_EQ(ParseResultPage("did not match any documents", 1, status), "");
    EXPECT_EQ(status, CoverStatus::NoMatch);
    status = CoverStatus::Ok;
    EXPECT_EQ(ParseResultPage("Results 1-1 of about 1 for<p><a href=ftp://x/y>", 1, status), "");
    EXPECT_EQ(status, CoverStatus::Failed);

    struct Case {
        const char* what;
        std::string page;
        std::string url;
    };
    const Case cases[] = {
        {"link before the phrase",
         "<a href=\"http://img.test/big.jpg\"><img src=s.jpg> see larger picture</a>",
         "http://img.test/big.jpg"},
        {"no phrase", "<a href=\"http://img.test/big.jpg\">bigger</a>", ""},
        {"link only after the phrase", "see larger picture <a href=\"http://img.test/b.jpg\">", ""},
        {"link too far before the phrase",
         "<a href=\"http://img.test/far.jpg\">" + std::string(120, ' ') + "see larger picture", ""},
        {"not a web link", "<a href=\"javascript:open()\">see larger picture</a>", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FollowProductPage(c.page), c.url) << c.what;
}

TEST(CoverSearchFlow, StoreSitesInTurnThenTitle) {
    test::FakeHttp http;
    const auto s = Settings();
    http.pages[StoreQueryUrl(s, "com", "Artist+Album")] = {200, "<Items/>"};
    http.pages[StoreQueryUrl(s, "co.uk", "Artist+Album")] = {503, ""};
    http.pages[StoreQueryUrl(s, "de", "Artist+Album")] = {200, "<Items/>"};
    http.pages[StoreQueryUrl(s, "com", "Artist+Title")] = {200,
                                                           StoreAnswer("http://img.test/c.jpg")};
    http.pages["http://img.test/c.jpg"] = {200, "\xFF\xD8\xFF\xE0jpegbytes"};
    CoverSearch search(http, s);
    CoverResult r = search.FindCover("Artist", "Title", "Album");
    EXPECT_EQ(r.url, "http://img.test/c.jpg");
    EXPECT_EQ(std::string(r.bytes.begin(), r.bytes.end()), "\xFF\xD8\xFF\xE0jpegbytes");
    EXPECT_EQ(http.asked.size(), 5u);
}

TEST(CoverSearchFlow, ShortKeywordsStopTheSitesAndNothingIsSent) {
    test::FakeHttp http;
    CoverSearch search(http, Settings(false));
    // "AB+CDE" is six characters: refused, for the album and then the title.
    CoverResult r = search.FindCover("AB", "CDE", "CDE");
    EXPECT_TRUE(r.url.empty());
    EXPECT_TRUE(http.asked.empty());
    EXPECT_EQ(r.status, CoverStatus::KeywordsTooShort);
}

TEST(CoverSearchFlow, ApproximateSearchFollowsTheProductPage) {
    test::FakeHttp http;
    const auto s = Settings(true);
    const std::string withAlbum = CoverKeywords(CoverSearchQuery("Artist", "Title", "Album"));
    const std::string without = CoverKeywords(CoverSearchQuery("Artist", "Title", ""));
    http.pages[CoverSearchUrl(s, withAlbum, 1)] = {200, "Sorry, did not match any documents"};
    http.pages[CoverSearchUrl(s, without, 1)] = {
        200, "Results 1-1 of about 1 for x<p><a href=http://shop.test/product>Item</a>"};
    http.pages["http://shop.test/product"] = {
        200, "<a href=\"http://img.test/large.gif\">see larger picture</a>"};
    http.pages["http://img.test/large.gif"] = {200, "GIF89a..."};
    CoverSearch search(http, s);
    CoverResult r = search.FindCover("Artist", "Title", "Album");
    EXPECT_EQ(r.status, CoverStatus::Ok);
    EXPECT_EQ(r.url, "http://img.test/large.gif");
    EXPECT_EQ(std::string(r.bytes.begin(), r.bytes.end()), "GIF89a...");

    // Without the option the search engine is never asked.
    test::FakeHttp quiet;
    CoverSearch strict(quiet, Settings(false));
    CoverResult none = strict.FindCover("Artist", "Title", "Album");
    EXPECT_TRUE(none.url.empty());
    EXPECT_EQ(none.status, CoverStatus::Failed);  // the store answered 404
    EXPECT_EQ(quiet.asked.size(), 6u);
    for (const auto& url : quiet.asked)
        EXPECT_EQ(url.find("search.test"), std::string::npos) << url;
}

TEST(CoverSearchFlow, StoppedRunSendsNothing) {
    test::FakeHttp http;
    CoverSearch search(http, Settings(true));
    CoverResult r = search.FindCover("Artist", "Title", "Album", [] { return false; });
    EXPECT_TRUE(r.bytes.empty());
    EXPECT_TRUE(http.asked.empty());
}

}  // namespace
}  // namespace sondrel::net
