// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/cddb.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "batch/batch_row.h"
#include "net/curl_http_client.h"
#include "net/lookup_rows.h"
#include "support/local_server.h"
#include "support/test_support.h"
#include "util/version.h"

namespace sondrel::net {
namespace {

using namespace cddb;

TEST(CddbToc, DiscIdOffsetsAndLength) {
    const auto toc = MakeToc({180, 200, 240});
    ASSERT_TRUE(toc);
    EXPECT_EQ(toc->entries, (std::vector<std::int64_t>{2, 182, 382, 622}));
    EXPECT_EQ(toc->TrackCount(), 3u);
    EXPECT_EQ(toc->lengthSeconds, 620);
    EXPECT_EQ(toc->discId, 0x1A026C03u);
    EXPECT_EQ(DiscIdText(toc->discId), "1a026c03");
    EXPECT_EQ(DiscIdText(0x00000a01u), "00000a01");
    const Hello hello{"me", "example.org"};
    EXPECT_EQ(QueryUrl("", *toc, hello),
              "https://gnudb.gnudb.org/~cddb/cddb.cgi?cmd=cddb+query+1a026c03+3+150+13650+28650+"
              "620&hello=me+example.org+Sondrel+" +
                  UrlEscape(sondrel::Version()) + "&proto=6");
}

TEST(CddbToc, TrackCountLimits) {
    EXPECT_FALSE(MakeToc({}));
    EXPECT_TRUE(MakeToc(std::vector<std::int32_t>(99, 60)));
    EXPECT_FALSE(MakeToc(std::vector<std::int32_t>(100, 60)));
    // The digit sum wraps at 255 and the track count is the low byte.
    const auto many = MakeToc(std::vector<std::int32_t>(99, 61));
    ASSERT_TRUE(many);
    EXPECT_EQ(many->discId & 0xFF, 99u);
    EXPECT_EQ((many->discId >> 8) & 0xFFFF, 99u * 61u);
}

TEST(CddbUrls, ServerBoxAndHello) {
    struct Case {
        const char* server;
        const char* cgi;
    };
    const Case cases[] = {
        {"", "https://gnudb.gnudb.org/~cddb/cddb.cgi"},
        {"freedb.example.org", "http://freedb.example.org/~cddb/cddb.cgi"},
        {"https://db.example.org", "https://db.example.org/~cddb/cddb.cgi"},
        {"http://127.0.0.1:8080/x/", "http://127.0.0.1:8080/x/~cddb/cddb.cgi"},
        {"http://db.example.org/cgi/cddb.cgi", "http://db.example.org/cgi/cddb.cgi"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CgiUrl(c.server), c.cgi) << c.server;

    EXPECT_EQ(ReadUrl("h", "rock", "1a026c03", {"a+b", "x.org"}),
              "http://h/~cddb/cddb.cgi?cmd=cddb+read+rock+1a026c03&hello=a%2Bb+x.org+Sondrel+" +
                  UrlEscape(sondrel::Version()) + "&proto=6");
    const auto hello = HelloFromEmail("jane@mail.example");
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->user, "jane");
    EXPECT_EQ(hello->host, "mail.example");
    for (const char* bad : {"", "jane", "@x", "jane@", "a@b@c", "ja ne@x"})
        EXPECT_FALSE(HelloFromEmail(bad)) << bad;
}

TEST(CddbAnswers, QueryStatuses) {
    struct Case {
        const char* answer;
        std::vector<std::string> texts;
    };
    const Case cases[] = {
        {"200 rock 1a026c03 Artist / Album\r\n", {"rock 1a026c03 Artist / Album"}},
        {"200 rock 1a026c03 No line end", {"rock 1a026c03 No line end"}},
        {"211 close\r\nrock 1a026c03 A / B\r\nab\r\nmisc 0000 T\r\n.\r\n",
         {"rock 1a026c03 A / B", "misc 0000 T"}},
        {"210 exact\nrock 1a026c03 A / B\n.\n", {"rock 1a026c03 A / B"}},
        {"202 No match found\r\n", {}},
        {"403 Database entry is corrupt\r\n", {}},
        {"abc", {}},
        {"", {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> texts;
        for (const DiscChoice& d : ParseQueryAnswer(c.answer))
            texts.push_back(d.text);
        EXPECT_EQ(texts, c.texts) << c.answer;
    }
    const DiscChoice choice = ChoiceOf("rock 1a026c03 Artist / Album");
    EXPECT_EQ(choice.category, "rock");
    EXPECT_EQ(choice.discId, "1a026c03");
    EXPECT_EQ(StatusOf("21x"), -1);
}

TEST(CddbAnswers, ReadRules) {
    const DiscInfo disc = ParseReadAnswer(
        "210 rock 1a026c03\r\nDTITLE=Artist / Album\r\nDYEAR=1999\r\nDGENRE=Rock\r\n"
        "TTITLE0=Guest / Song\r\nTTITLE1=Song 2\r\nTTITLE12=Twelve\r\nEXTD=a / b\r\n.\r\n");
    EXPECT_EQ(disc.albumArtist, "Artist");
    EXPECT_EQ(disc.album, "Album");
    EXPECT_EQ(disc.year, "1999");
    EXPECT_EQ(disc.genre, "Rock");
    EXPECT_EQ(disc.Track(0).artist, "Guest");
    EXPECT_EQ(disc.Track(0).title, "Song");
    EXPECT_EQ(disc.Track(1).artist, "Artist");
    EXPECT_EQ(disc.Track(1).title, "Song 2");
    EXPECT_EQ(disc.Track(12).title, "Twelve");
    EXPECT_FALSE(disc.Track(2).found);
    EXPECT_TRUE(disc.Track(2).artist.empty());

    // No " / " in the title line: both are the whole title, whatever a
    // later line holds; long values continue on lines with the same key.
    const DiscInfo plain = ParseReadAnswer(
        "210 x\nDTITLE=Greatest Hits\nDTITLE= Vol. 2\nTTITLE0=Lo\nTTITLE0=ng\nEXTD=a / b\n");
    EXPECT_EQ(plain.albumArtist, "Greatest Hits Vol. 2");
    EXPECT_EQ(plain.album, "Greatest Hits Vol. 2");
    EXPECT_EQ(plain.Track(0).title, "Long");
    // A key inside a value is not a key.
    EXPECT_TRUE(ParseReadAnswer("210 x\nEXTT0=DYEAR=1\n").year.empty());
}

TEST(CddbAnswers, Utf8OrLegacyCodePage) {
    EXPECT_EQ(AnswerText("Caf\xc3\xa9", "ISO-8859-1"), "Caf\xc3\xa9");
    EXPECT_EQ(AnswerText("Caf\xe9", "ISO-8859-1"), "Caf\xc3\xa9");
    EXPECT_EQ(AnswerText("\xc0\xe1", "windows-1251"), "\xd0\x90\xd0\xb1");
}

// Rows as the batch table holds them after a rescan.
std::vector<BatchRow> Rows(std::initializer_list<std::int32_t> durations) {
    std::vector<BatchRow> rows;
    for (const std::int32_t d : durations) {
        BatchRow row;
        row.data.Duration = d;
        row.data.Track = "7";
        row.data.Comment = "kept";
        row.ResetNewValues();
        rows.push_back(row);
    }
    return rows;
}

TEST(CddbRows, FillTickedRowsInDisplayOrder) {
    std::vector<BatchRow> rows = Rows({180, 999, 200, 240});
    rows[1].Checked = false;
    const DiscInfo disc = ParseReadAnswer(
        "210\nDTITLE=Artist / Album\nDYEAR=1999\nDGENRE=Rock\nTTITLE0=Guest / Song\n"
        "TTITLE1=Song 2\n");
    FillRowsFromDisc(rows, disc, kTrackStyle0X);
    EXPECT_EQ(rows[0].NewTrack, "01");
    EXPECT_EQ(rows[0].NewArtist, "Guest");
    EXPECT_EQ(rows[0].NewTitle, "Song");
    EXPECT_EQ(rows[2].NewTrack, "02");
    EXPECT_EQ(rows[2].NewArtist, "Artist");
    EXPECT_EQ(rows[2].NewTitle, "Song 2");
    // No TTITLE2: artist and title empty, the rest still set.
    EXPECT_EQ(rows[3].NewTrack, "03");
    EXPECT_EQ(rows[3].NewTitle, "");
    EXPECT_EQ(rows[3].NewArtist, "");
    EXPECT_EQ(rows[3].NewAlbum, "Album");
    EXPECT_EQ(rows[3].NewYear, "1999");
    EXPECT_EQ(rows[3].NewGenre, "Rock");
    EXPECT_EQ(rows[3].NewComment, "kept");
    // The unticked row is untouched.
    EXPECT_EQ(rows[1].NewTrack, "7");
    EXPECT_EQ(rows[1].NewAlbum, "");
}

class CddbServerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.running()); }
    Settings At(const std::string& prefix) {
        Settings s;
        s.server = server.url(prefix);
        s.email = "tester@example.org";
        return s;
    }
    test::LocalServer server;
    CurlHttpClient client;
    Toc toc = *MakeToc({180, 200, 240});
};

TEST_F(CddbServerTest, QueryAnswers) {
    struct Case {
        const char* prefix;
        std::size_t discs;
        const char* error;  // part of the message, empty for success
    };
    const Case cases[] = {
        {"/exact", 1, ""},
        {"/inexact", 2, ""},
        {"/many", kMaxDiscs, ""},
        {"/none", 0, kMsgNoDisc},
        {"/refuse", 0, "refused the query: 403 Database entry is corrupt"},
        {"/broken", 0, "HTTP status 500"},
    };
    for (const Case& c : cases) {
        const QueryOutcome q = QueryDiscs(client, At(c.prefix), toc);
        EXPECT_EQ(q.ok, c.error[0] == '\0') << c.prefix << ": " << q.error;
        EXPECT_EQ(q.discs.size(), c.discs) << c.prefix;
        if (c.error[0] != '\0') {
            EXPECT_NE(q.error.find(c.error), std::string::npos) << q.error;
            if (c.error != std::string(kMsgNoDisc)) {
                EXPECT_NE(q.error.find("127.0.0.1:"), std::string::npos) << q.error;
            }
        }
    }
    const QueryOutcome exact = QueryDiscs(client, At("/exact"), toc);
    ASSERT_EQ(exact.discs.size(), 1u);
    EXPECT_EQ(exact.discs[0].text, "rock 1a026c03 Artist / Album");
}

TEST_F(CddbServerTest, QuerySendsTheTableOfContents) {
    const QueryOutcome q = QueryDiscs(client, At("/echo"), toc);
    ASSERT_TRUE(q.ok) << q.error;
    EXPECT_EQ(q.discs[0].text, "misc 00000000 cddb query 1a026c03 3 150 13650 28650 620");
}

TEST_F(CddbServerTest, NoEmailNoRequest) {
    Settings s = At("/exact");
    s.email.clear();
    const QueryOutcome q = QueryDiscs(client, s, toc);
    EXPECT_FALSE(q.ok);
    EXPECT_NE(q.error.find("e-mail"), std::string::npos);
}

TEST_F(CddbServerTest, ReadDiscs) {
    const ReadOutcome rock = ReadDisc(client, At(""), ChoiceOf("rock 1a026c03 Artist / Album"));
    ASSERT_TRUE(rock.ok) << rock.error;
    EXPECT_EQ(rock.disc.album, "Album");
    EXPECT_EQ(rock.disc.Track(0).artist, "Guest");
    EXPECT_EQ(rock.disc.Track(2).title, "Song 3");

    // The same texts in UTF-8 and in Latin-1.
    for (const char* category : {"blues", "jazz"}) {
        const ReadOutcome r =
            ReadDisc(client, At(""), ChoiceOf(std::string(category) + " 1a026c03 x"));
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.disc.albumArtist, "Bj\xc3\xb6rk") << category;
        EXPECT_EQ(r.disc.album, "Caf\xc3\xa9") << category;
        EXPECT_EQ(r.disc.Track(0).title, "\xc3\x89t\xc3\xa9") << category;
    }

    const ReadOutcome missing = ReadDisc(client, At(""), ChoiceOf("soul 1a026c03 x"));
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.error.find("401"), std::string::npos) << missing.error;

    Settings dead = At("");
    dead.server = "http://127.0.0.1:1";
    const ReadOutcome refused = ReadDisc(client, dead, ChoiceOf("rock 1a026c03 x"));
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.error.find("FreeDB: 127.0.0.1:1: "), std::string::npos) << refused.error;
}

// The whole look-up on real files of every format: query, read, fill,
// write, and the files read back as written.
TEST_F(CddbServerTest, WritesEveryFormat) {
    test::TempDir dir;
    std::vector<BatchFile> files;
    const std::filesystem::path samples = std::string(SONDREL_SOURCE_DIR) + "/samples";
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(samples)) {
        if (entry.path().extension() != ".md")
            names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    ASSERT_GE(names.size(), 6u);
    for (const std::string& name : names) {
        std::filesystem::copy_file(samples / name, dir.file(name));
        files.push_back({dir.path(), name, static_cast<std::int32_t>(files.size())});
    }
    TagBridge bridge;
    std::vector<BatchRow> rows = ReadBatchRows(bridge, files, {});
    ASSERT_EQ(rows.size(), names.size());
    // The last file is not ticked: it must come out byte for byte the same.
    rows.back().Checked = false;
    const test::Bytes untouched = test::ReadAll(dir.file(names.back()));

    const QueryOutcome q = QueryDiscs(client, At("/inexact"), toc);
    ASSERT_TRUE(q.ok) << q.error;
    const ReadOutcome r = ReadDisc(client, At("/inexact"), q.discs[0]);
    ASSERT_TRUE(r.ok) << r.error;
    FillRowsFromDisc(rows, r.disc, kTrackStyleX);
    int steps = 0;
    const LookupWriteResult result = WriteLookupRows(rows, bridge, {}, [&] { ++steps; });
    EXPECT_TRUE(result.failures.empty())
        << result.failures.front().path << ": " << result.failures.front().error;
    EXPECT_EQ(result.written.size(), names.size() - 1);
    EXPECT_EQ(steps, static_cast<int>(names.size() - 1));

    const char* titles[] = {"Song", "Song 2", "Song 3", "", ""};
    for (std::size_t k = 0; k + 1 < names.size(); ++k) {
        bridge.Read(dir.file(names[k]));
        const TagFields& hub = bridge.Hub();
        EXPECT_EQ(hub.track, std::to_string(k + 1)) << names[k];
        EXPECT_EQ(hub.title, k < 5 ? titles[k] : "") << names[k];
        EXPECT_EQ(hub.artist, k == 0 ? "Guest" : k < 3 ? "Artist" : "") << names[k];
        EXPECT_EQ(hub.album, "Album") << names[k];
        EXPECT_EQ(hub.year, "1999") << names[k];
        // ID3v2 spells a genre of the table with its number in front.
        EXPECT_TRUE(hub.Genre == "Rock" || hub.Genre == "(17)Rock") << names[k] << hub.Genre;
    }
    EXPECT_EQ(test::ReadAll(dir.file(names.back())), untouched);
}

}  // namespace
}  // namespace sondrel::net
