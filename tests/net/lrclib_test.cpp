// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/lrclib.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/curl_http_client.h"
#include "support/local_server.h"

namespace sondrel::net::lrclib {
namespace {

TEST(Lrclib, Address) {
    EXPECT_EQ(GetUrl("", {"A & B", "Song?", "", 0}),
              "https://lrclib.net/api/get?artist_name=A%20%26%20B&track_name=Song%3F");
    EXPECT_EQ(GetUrl("https://mirror.test/", {"A", "T", "Al", 215}),
              "https://mirror.test/api/get?artist_name=A&track_name=T&album_name=Al&duration=215");
}

TEST(Lrclib, TimedLines) {
    struct Case {
        const char* lrc;
        std::vector<SyncedLine> lines;
    };
    const Case cases[] = {
        {"[00:01.50]One\n[00:03.00]Two", {{1500, "One"}, {3000, "Two"}}},
        // Fractions of one, two and three digits; no fraction at all.
        {"[01:02.5]a\n[01:02.05]b\n[01:02.005]c\n[01:02]d",
         {{62000, "d"}, {62005, "c"}, {62050, "b"}, {62500, "a"}}},
        // Several tags on one line; lines sorted by time, equal times kept in order.
        {"[00:05.00][00:01.00]Chorus\n[00:03.00]Verse\n[00:01.00]Echo",
         {{1000, "Chorus"}, {1000, "Echo"}, {3000, "Verse"}, {5000, "Chorus"}}},
        // Tags that are no times, untimed lines, bad seconds and CR LF.
        {"[ar:Artist]\n[length:03:00]\nplain line\n[00:75.00]bad\n[00:02.00]ok\r\n[00:04.00]\x07",
         {{2000, "ok"}, {4000, ""}}},
        {"", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseLrc(c.lrc), c.lines) << c.lrc;
    }
    std::string many;
    for (int i = 0; i < 6000; ++i)
        many += "[00:00.00]x\n";
    EXPECT_EQ(ParseLrc(many).size(), kMaxSyncedLines);
}

TEST(Lrclib, Answers) {
    const Lyrics both = ParseAnswer(nlohmann::json::parse(
        R"({"plainLyrics": "A\r\nB", "syncedLyrics": "[00:01.00]A\n[00:02.00]B"})"));
    EXPECT_TRUE(both.found);
    EXPECT_EQ(both.plain, "A\nB");
    EXPECT_EQ(both.synced.size(), 2u);

    const Lyrics syncedOnly = ParseAnswer(nlohmann::json::parse(
        R"({"plainLyrics": null, "syncedLyrics": "[00:02.00]Second\n[00:01.00]First"})"));
    EXPECT_EQ(syncedOnly.plain, "First\nSecond");

    const Lyrics quiet = ParseAnswer(nlohmann::json::parse(R"({"instrumental": true})"));
    EXPECT_TRUE(quiet.found);
    EXPECT_TRUE(quiet.instrumental);
    EXPECT_EQ(quiet.plain, "");

    for (const char* text : {R"({"plainLyrics": 5, "syncedLyrics": ["x"], "instrumental": "yes"})",
                             "[]", R"("text")", R"({"plainLyrics": "   "})"}) {
        const Lyrics none = ParseAnswer(nlohmann::json::parse(text));
        EXPECT_FALSE(none.found) << text;
        EXPECT_FALSE(none.instrumental) << text;
    }
    // Lyrics keep their lines; NEL and the line and paragraph separators
    // become line breaks, C1 controls and direction overrides go.
    const Lyrics controls = ParseAnswer(nlohmann::json::parse(
        R"({"plainLyrics": "One\u0085Two\u2028Three\u2029Fo\u202eur\u009b2J\nFive",)"
        R"( "syncedLyrics": "[00:01.00]Li\u202ene\u0085x\u2066\n[00:02.00]\u001b[2JB"})"));
    EXPECT_EQ(controls.plain, "One\nTwo\nThree\nFour2J\nFive");
    ASSERT_EQ(controls.synced.size(), 2u);
    EXPECT_EQ(controls.synced[0].text, "Line x");
    EXPECT_EQ(controls.synced[1].text, "[2JB");

    const Lyrics longOne = ParseAnswer({{"plainLyrics", std::string(kMaxLyricsBytes + 10, 'x')}});
    EXPECT_EQ(longOne.plain.size(), kMaxLyricsBytes);
}

class LrclibServer : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.running()); }
    LyricsOutcome Ask(const std::string& prefix, const std::string& title, bool local = true) {
        Settings settings;
        settings.endpoint = {server.url(prefix), local};
        return FetchLyrics(client, settings, {"Test Artist", title, "Test Album", 12});
    }

    test::LocalServer server{std::string(SONDREL_SOURCE_DIR) + "/tests/net/data"};
    CurlHttpClient client;
};

TEST_F(LrclibServer, PlainAndSynchronisedLyrics) {
    const LyricsOutcome synced = Ask("/lrclib", "Synced Song");
    ASSERT_TRUE(synced.ok) << synced.error;
    ASSERT_TRUE(synced.lyrics.found);
    EXPECT_EQ(synced.lyrics.plain, "First line\nSecond line\nThird line");
    const std::vector<SyncedLine> expected = {
        {1500, "First line"}, {4000, "Second line"}, {6125, "Third line"}, {9250, "Second line"}};
    EXPECT_EQ(synced.lyrics.synced, expected);

    const LyricsOutcome plain = Ask("/lrclib", "Plain Song");
    ASSERT_TRUE(plain.ok) << plain.error;
    EXPECT_EQ(plain.lyrics.plain, "Only plain\nlyrics here");
    EXPECT_TRUE(plain.lyrics.synced.empty());

    const LyricsOutcome quiet = Ask("/lrclib", "Quiet Song");
    ASSERT_TRUE(quiet.ok) << quiet.error;
    EXPECT_TRUE(quiet.lyrics.instrumental);

    const LyricsOutcome missing = Ask("/lrclib", "Unknown Song");
    EXPECT_TRUE(missing.ok) << "the service's 404 is an answer: " << missing.error;
    EXPECT_FALSE(missing.lyrics.found);
}

TEST_F(LrclibServer, FailuresSayWhy) {
    const std::string host = "127.0.0.1:" + std::to_string(server.port());
    struct Case {
        const char* prefix;
        bool local;
        std::string error;
    };
    const Case cases[] = {
        {"/lrclib-garbage", true, "LRCLIB: " + host + ": the answer is not JSON"},
        {"/lrclib-huge", true,
         "LRCLIB: " + host + ": the answer is larger than the limit of 4 MiB"},
        {"/elsewhere", true, "LRCLIB: " + host + ": the server answered with HTTP status 404"},
        {"/lrclib", false,
         "LRCLIB: only https addresses are used: " + server.url("/lrclib") +
             "/api/get?artist_name=Test%20Artist&track_name=Synced%20Song&"
             "album_name=Test%20Album&duration=12"},
    };
    for (const Case& c : cases) {
        const LyricsOutcome got = Ask(c.prefix, "Synced Song", c.local);
        EXPECT_FALSE(got.ok) << c.prefix;
        EXPECT_EQ(got.error, c.error) << c.prefix;
    }
    Settings settings;
    settings.endpoint = {server.url("/lrclib"), true};
    const LyricsOutcome noTitle = FetchLyrics(client, settings, {"Artist", "", "", 0});
    EXPECT_FALSE(noTitle.ok);
    EXPECT_EQ(noTitle.error, "LRCLIB: the artist and the title are needed for the look-up");
}

}  // namespace
}  // namespace sondrel::net::lrclib
