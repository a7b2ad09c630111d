// SPDX-License-Identifier: GPL-3.0-or-later
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
        // C1 controls go as C0 controls do; NEL (U+0085) and the line and
        // paragraph separators are line ends.
        {"a\u0085b\u2028c\u2029d", 100, true, "a\nb\nc\nd"},
        {"a\u0085b\u2028c\u2029d", 100, false, "a b c d"},
        {"csi\u009b2J esc\u001b[2J\u0080\u009f", 100, false, "csi2J esc[2J"},
        // Direction embeddings, overrides and isolates are dropped; the
        // plain marks (U+200E, U+200F) are ordinary text.
        {"evil\u202egnp.exe \u202a\u202b\u202c\u202d\u2066\u2067\u2068\u2069x", 100, false,
         "evilgnp.exe x"},
        {"\u200fhebrew\u200e", 100, false, "\u200fhebrew\u200e"},
        {"\u2028 \u202e", 100, true, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CleanText(c.value, c.max, c.multiline), c.expected) << c.value.dump();
    // Texts that are not JSON get the same, and bytes that are not UTF-8
    // become U+FFFD.
    EXPECT_EQ(CleanString("T\xc2\x85t\x1b\xff", 100), "T t\xef\xbf\xbd");
    EXPECT_EQ(StripControls("a\r\nb\rc\xc2\x85"
                            "d\xe2\x80\xa8"
                            "e\te\x1b\xe2\x80\xae",
                            "\r\n"),
              "a\r\nb\r\nc\r\nd\r\ne\te");
}

// The terminal gets no character that can move its cursor, change its
// colours or its title, or turn the text's direction.
TEST(WebService, TerminalTextShowsControlsAsReplacements) {
    const std::string r = "\xef\xbf\xbd";
    struct Case {
        const char* text;
        std::string expected;
    };
    const Case cases[] = {
        {"Plain \xc3\xa9t\xc3\xa9", "Plain \xc3\xa9t\xc3\xa9"},
        {"a\x1b[31mb\x07", "a" + r + "[31mb" + r},
        {"line\nnext\rtab\t", "line" + r + "next" + r + "tab" + r},
        {"c1\xc2\x9b"
         "2J\xc2\x85",
         "c1" + r + "2J" + r},
        {"rlo\xe2\x80\xae ls\xe2\x80\xa8 lri\xe2\x81\xa6", "rlo" + r + " ls" + r + " lri" + r},
        {"bad\xff", "bad" + r},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TerminalText(c.text), c.expected) << c.text;
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
