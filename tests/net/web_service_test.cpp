#include "net/web_service.h"

#include <gtest/gtest.h>

#include "fake_http.h"
#include "util/version.h"

namespace sondrel::net::web {
namespace {

TEST(WebService, HttpsRuleAndLoopback) {
    struct Case {
        const char* url;
        bool loopback;
        bool allowedStrict;  // without the loopback allowance
        bool allowedLocal;   // with it
    };
    const Case cases[] = {
        {"https://musicbrainz.org/ws/2", false, true, true},
        {"HTTPS://lrclib.net", false, true, true},
        {"http://musicbrainz.org/ws/2", false, false, false},
        {"http://127.0.0.1:8080/mb", true, false, true},
        {"http://127.1.2.3/", true, false, true},
        {"http://localhost:5000", true, false, true},
        {"http://[::1]:80/x", true, false, true},
        {"http://127.0.0.1.example.org/", false, false, false},
        {"http://0.0.0.0:80/", false, false, false},
        {"http://user@127.0.0.1.evil/", false, false, false},
        {"ftp://127.0.0.1/", false, false, false},
        {"https://", false, false, false},
        {"", false, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsLoopbackUrl(c.url), c.loopback) << c.url;
        EXPECT_EQ(RefusedUrl(c.url, false).empty(), c.allowedStrict) << c.url;
        EXPECT_EQ(RefusedUrl(c.url, true).empty(), c.allowedLocal) << c.url;
    }
}

TEST(WebService, UserAgentNamesAContact) {
    const std::string base = "Sondrel/" + std::string(sondrel::Version());
    EXPECT_EQ(ServiceUserAgent("me@example.org"), base + " ( me@example.org )");
    // Anything but one plain address gives the project's address.
    for (const char* contact : {"", "not an address", "a@b\r\nX-Injected: 1", "a@b)(c", "@b"})
        EXPECT_EQ(ServiceUserAgent(contact), base + " ( " + std::string(kProjectAddress) + " )")
            << contact;
}

TEST(WebService, TextsAreCheckedBeforeTheyReachATag) {
    struct Case {
        nlohmann::json value;
        std::size_t max;
        bool multiline;
        std::string expected;
    };
    const Case cases[] = {
        {"Plain", 100, false, "Plain"},
        {"  spaced  ", 100, false, "spaced"},
        {"a\tb\r\nc\rd", 100, false, "a b c d"},
        {"a\tb\r\nc\rd", 100, true, "a\tb\nc\nd"},
        {std::string("bell\x07 nul") + '\0' + "end\x7f", 100, false, "bell nulend"},
        // Cut at a character, never inside one: "é" is two bytes.
        {"ab\xc3\xa9z", 3, false, "ab"},
        {"ab\xc3\xa9z", 4, false, "ab\xc3\xa9"},
        {17, 100, false, ""},
        {nullptr, 100, false, ""},
        {nlohmann::json::array({"x"}), 100, false, ""},
        {nlohmann::json::object({{"x", "y"}}), 100, false, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CleanText(c.value, c.max, c.multiline), c.expected) << c.value.dump();
}

TEST(WebService, NumbersMembersAndYears) {
    EXPECT_EQ(WholeNumber(12, 99), 12);
    EXPECT_EQ(WholeNumber(0, 99), 0);
    EXPECT_EQ(WholeNumber(100, 99), std::nullopt);
    EXPECT_EQ(WholeNumber(-1, 99), std::nullopt);
    EXPECT_EQ(WholeNumber(2.5, 99), std::nullopt);
    EXPECT_EQ(WholeNumber("12", 99), std::nullopt);
    EXPECT_EQ(WholeNumber(nlohmann::json(18446744073709551615ull), 99), std::nullopt);

    const nlohmann::json object = {{"a", 1}};
    EXPECT_EQ(Member(object, "a"), 1);
    EXPECT_TRUE(Member(object, "b").is_null());
    EXPECT_TRUE(Member(nlohmann::json::array({1}), "a").is_null());

    struct Case {
        const char* date;
        const char* year;
    };
    const Case cases[] = {
        {"1999-05-03", "1999"}, {"2003", "2003"}, {"1999-05", "1999"}, {"199", ""}, {"19x9", ""},
        {"19991", ""},          {"", ""}};
    for (const Case& c : cases)
        EXPECT_EQ(YearOf(c.date), c.year) << c.date;
}

TEST(WebService, FetchJsonRefusesBeforeAskingAndReadsAnswers) {
    test::FakeHttp http;
    http.pages["https://svc.test/ok"] = {200, R"({"a": 1})"};
    http.pages["https://svc.test/html"] = {200, "<html>"};
    http.pages["https://svc.test/gone"] = {404, "not json"};
    http.pages["https://svc.test/down"] = {500, "{}"};

    JsonRequest request;
    request.service = "Svc";
    request.url = "http://svc.test/ok";
    JsonOutcome got = FetchJson(http, request);
    EXPECT_FALSE(got.ok);
    EXPECT_EQ(got.error, "Svc: only https addresses are used: http://svc.test/ok");
    EXPECT_TRUE(http.asked.empty()) << "a refused address was asked";

    request.url = "https://svc.test/ok";
    got = FetchJson(http, request);
    ASSERT_TRUE(got.ok) << got.error;
    EXPECT_EQ(got.json["a"], 1);

    request.url = "https://svc.test/html";
    got = FetchJson(http, request);
    EXPECT_FALSE(got.ok);
    EXPECT_EQ(got.error, "Svc: svc.test: the answer is not JSON");

    // A second status taken as an answer comes back even without JSON.
    request.url = "https://svc.test/gone";
    EXPECT_FALSE(FetchJson(http, request).ok);
    request.acceptedStatus = 404;
    got = FetchJson(http, request);
    EXPECT_TRUE(got.ok);
    EXPECT_EQ(got.status, 404);
    EXPECT_TRUE(got.json.is_null());

    request.url = "https://svc.test/down";
    got = FetchJson(http, request);
    EXPECT_FALSE(got.ok);
    EXPECT_EQ(got.error, "Svc: svc.test: the server answered with HTTP status 500");
}

}  // namespace
}  // namespace sondrel::net::web
