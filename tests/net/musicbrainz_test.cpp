// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/musicbrainz.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "editor/format_bridge.h"
#include "editor/format_registry.h"
#include "fake_clock.h"
#include "net/cover_art.h"
#include "net/curl_http_client.h"
#include "support/local_server.h"
#include "support/test_support.h"
#include "util/version.h"

namespace sondrel::net::musicbrainz {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* kTwoMedia = "1f2e3d4c-0000-4000-8000-00000000000a";
constexpr const char* kOneMedium = "1f2e3d4c-0000-4000-8000-00000000000b";

json Recorded(const std::string& name) {
    const auto bytes = test::ReadAll(std::string(SONDREL_SOURCE_DIR) + "/tests/net/data/" + name);
    return json::parse(std::string(bytes.begin(), bytes.end()));
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

TEST(MusicBrainzRequest, QueryAndAddresses) {
    EXPECT_EQ(SearchQuery("Artist", "Two Sides"), R"(artist:"Artist" AND release:"Two Sides")");
    EXPECT_EQ(SearchQuery("", "Only"), R"(release:"Only")");
    EXPECT_EQ(SearchQuery("A \"B\" \\", ""), R"(artist:"A \"B\" \\")");
    EXPECT_EQ(SearchUrl("", "A", "B"),
              "https://musicbrainz.org/ws/2/release?query=artist%3A%22A%22%20AND%20release%3A%"
              "22B%22&limit=25&fmt=json");
    EXPECT_EQ(ReleaseUrl("https://mirror.test/", kTwoMedia),
              std::string("https://mirror.test/ws/2/release/") + kTwoMedia +
                  "?inc=artist-credits+labels+recordings+genres&fmt=json");
    EXPECT_TRUE(IsMbid(kTwoMedia));
    for (const char* id :
         {"", "not-an-id", "1F2E3D4C-0000-4000-8000-00000000000A",
          "1f2e3d4c-0000-4000-8000-00000000000", "1f2e3d4c00000-4000-8000-00000000000a",
          "../../../../../../../../../etc/passw"})
        EXPECT_FALSE(IsMbid(id)) << id;
}

TEST(MusicBrainzRequest, TableOfContentsInSectors) {
    // 3 tracks of 180, 200 and 200 s: starts 2, 182, 382 s, end 582 s.
    const auto toc = cddb::MakeToc({180, 200, 200});
    ASSERT_TRUE(toc);
    EXPECT_EQ(TocText(*toc), "1 3 43650 150 13650 28650");
    EXPECT_EQ(TocUrl("", *toc),
              "https://musicbrainz.org/ws/2/discid/-?toc=1+3+43650+150+13650+28650"
              "&inc=artist-credits+labels&cdstubs=no&fmt=json");
}

TEST(MusicBrainzAnswer, SearchListsOneEntryPerMedium) {
    const std::vector<Entry> entries = ParseSearchAnswer(Recorded("mb-search.json"));
    ASSERT_EQ(entries.size(), 3u) << "the entry without a valid id is left out";
    EXPECT_EQ(entries[0].title, "Two Sides (CD 1)");
    EXPECT_EQ(entries[1].title, "Two Sides (CD 2)");
    EXPECT_EQ(entries[2].title, "Single Side");
    EXPECT_EQ(entries[0].releaseId, kTwoMedia);
    EXPECT_EQ(entries[1].medium, 2u);
    EXPECT_EQ(entries[1].mediumCount, 2u);
    EXPECT_EQ(entries[1].trackCount, 2u);
    EXPECT_EQ(entries[0].artist, "Artist & Partner");
    EXPECT_EQ(entries[0].year, "1999");
    EXPECT_EQ(entries[0].label, "Label One");
    EXPECT_EQ(entries[1].ListText(),
              "Artist & Partner - Two Sides (CD 2) (1999, Label One, 2 tracks)");
    EXPECT_EQ(entries[2].ListText(), "Artist - Single Side (2003, 3 tracks)");
    EXPECT_TRUE(entries[0].tracks.empty()) << "a search answer carries no tracks";
}

TEST(MusicBrainzAnswer, WrongTypesGiveEmptyValues) {
    const std::vector<Entry> entries = ParseSearchAnswer(Recorded("mb-wrong.json"));
    ASSERT_EQ(entries.size(), 1u);
    const Entry& e = entries[0];
    EXPECT_EQ(e.releaseId, kOneMedium);
    EXPECT_EQ(e.album, "");
    EXPECT_EQ(e.artist, "");
    EXPECT_EQ(e.year, "");
    EXPECT_EQ(e.label, "");
    EXPECT_EQ(e.genre, "");
    EXPECT_EQ(e.title, "");
    EXPECT_EQ(e.trackCount, 0u);
    for (const char* text :
         {"[]", "{}", "null", R"({"releases": {}})", R"({"releases": [1, "x"]})"})
        EXPECT_TRUE(ParseSearchAnswer(json::parse(text)).empty()) << text;
}

TEST(MusicBrainzAnswer, ReleaseTracksAreCleanedAndCapped) {
    const std::vector<Entry> media =
        EntriesOfRelease(Recorded(std::string("mb-release-") + kTwoMedia + ".json"));
    ASSERT_EQ(media.size(), 2u);
    const Entry& one = media[0];
    EXPECT_EQ(one.genre, "Rock") << "the most voted genre, the first of equals";
    EXPECT_EQ(one.label, "Label One") << "a label-info without a label is skipped";
    ASSERT_EQ(one.tracks.size(), 3u);
    EXPECT_EQ(one.tracks[0].artist, "Artist feat. Guest");
    EXPECT_EQ(one.tracks[0].lengthMs, 201000);
    EXPECT_EQ(one.tracks[1].title, "Middle Part Two") << "control characters and line ends";
    EXPECT_EQ(one.tracks[1].lengthMs, -1) << "a length that is no number";
    EXPECT_EQ(one.tracks[1].artist, "Artist & Partner") << "the release's artist by default";
    EXPECT_EQ(one.tracks[2].title, "Closing (recording)") << "the recording's title";
    EXPECT_EQ(media[1].tracks[1].title, "Side Two Closing");

    // More tracks than a medium holds, and an overlong title.
    json release = {{"id", kOneMedium}, {"title", std::string(5000, 'x')}};
    json tracks = json::array();
    for (int i = 0; i < 150; ++i)
        tracks.push_back({{"title", "t" + std::to_string(i)}});
    release["media"] = json::array({{{"tracks", tracks}}});
    const auto big = EntriesOfRelease(release);
    ASSERT_EQ(big.size(), 1u);
    EXPECT_EQ(big[0].tracks.size(), kMaxTracks);
    EXPECT_EQ(big[0].album.size(), kMaxTextBytes);
}

TEST(MusicBrainzAnswer, TocAnswerKeepsMediaOfTheSameLength) {
    const auto entries = ParseTocAnswer(Recorded("mb-discid.json"), 3);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].title, "Two Sides (CD 1)");
    EXPECT_EQ(entries[1].title, "Single Side");
    EXPECT_EQ(ParseTocAnswer(Recorded("mb-discid.json"), 2).size(), 1u);
}

TEST(MusicBrainzRows, TickedRowsGetTheMedium) {
    std::vector<Entry> media =
        EntriesOfRelease(Recorded(std::string("mb-release-") + kTwoMedia + ".json"));
    std::vector<BatchRow> rows(4);
    for (BatchRow& row : rows)
        row.data.Comment = "own comment";
    rows[1].Checked = false;
    FillRowsFromEntry(rows, media[1], 1, "https://covers.test/front");
    EXPECT_EQ(rows[0].NewTrack, "01");
    EXPECT_EQ(rows[0].NewTitle, "Side Two Opening");
    EXPECT_EQ(rows[0].NewAlbum, "Two Sides");
    EXPECT_EQ(rows[0].NewGenre, "Rock");
    EXPECT_EQ(rows[0].NewComment, "own comment");
    EXPECT_EQ(rows[0].CoverUrl, "https://covers.test/front");
    EXPECT_EQ(rows[1].NewTitle, "") << "an unticked row was filled";
    EXPECT_EQ(rows[1].CoverUrl, "");
    EXPECT_EQ(rows[2].NewTrack, "02");
    EXPECT_EQ(rows[2].NewTitle, "Side Two Closing");
    EXPECT_EQ(rows[3].NewTrack, "03");
    EXPECT_EQ(rows[3].NewTitle, "") << "past the medium's tracks";
    EXPECT_EQ(rows[3].NewYear, "1999");
}

// Against the local stand-in: every request paced by the limiter, with a
// user agent naming the contact.
class MusicBrainzServer : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.running()); }
    Settings At(const std::string& prefix) {
        Settings s;
        s.endpoint = {server.url(prefix), true};
        s.contact = "tester@example.org";
        return s;
    }
    std::string Log() {
        CurlHttpClient plain;
        HttpRequest r;
        r.url = server.url("/requests");
        return plain.Fetch(r).body;
    }

    test::LocalServer server{std::string(SONDREL_SOURCE_DIR) + "/tests/net/data"};
    CurlHttpClient client;
    test::FakeClock clock;
    RateLimiter limiter{clock, kRequestGap};
};

TEST_F(MusicBrainzServer, SearchThenReadAMedium) {
    const ListOutcome list = SearchReleases(client, limiter, At("/mb"), "Artist", "Two Sides");
    ASSERT_TRUE(list.ok) << list.error;
    ASSERT_EQ(list.entries.size(), 3u);
    const ReleaseOutcome read = ReadRelease(client, limiter, At("/mb"), list.entries[1]);
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(read.entry.title, "Two Sides (CD 2)");
    ASSERT_EQ(read.entry.tracks.size(), 2u);
    EXPECT_EQ(read.entry.genre, "Rock");
    EXPECT_EQ(clock.Offsets(), (std::vector<double>{0, 1})) << "one request a second";
    const std::string log = Log();
    const std::string agent =
        "Sondrel/" + std::string(sondrel::Version()) + " ( tester@example.org )";
    EXPECT_NE(log.find(agent + " /mb/ws/2/release?query=artist%3A%22Artist%22"), std::string::npos)
        << log;
    EXPECT_NE(log.find(agent + " /mb/ws/2/release/" + kTwoMedia + "?inc="), std::string::npos)
        << log;
}

TEST_F(MusicBrainzServer, TocLookUp) {
    const auto three = cddb::MakeToc({180, 200, 200});
    const ListOutcome found = LookUpToc(client, limiter, At("/mb"), *three);
    ASSERT_TRUE(found.ok) << found.error;
    ASSERT_EQ(found.entries.size(), 2u);
    EXPECT_EQ(found.entries[0].title, "Two Sides (CD 1)");

    const auto four = cddb::MakeToc({180, 200, 200, 10});
    const ListOutcome none = LookUpToc(client, limiter, At("/mb"), *four);
    EXPECT_FALSE(none.ok);
    EXPECT_EQ(none.error,
              "MusicBrainz: 127.0.0.1:" + std::to_string(server.port()) + ": " + kMsgNothingFound);
}

TEST_F(MusicBrainzServer, BusyServiceIsAskedAgainAfterItsWait) {
    const ListOutcome list = SearchReleases(client, limiter, At("/mb-busy"), "Artist", "");
    ASSERT_TRUE(list.ok) << list.error;
    EXPECT_EQ(list.entries.size(), 3u);
    // The 503 asked for 2 s: the second request waited that long, not the
    // gap of 1 s.
    EXPECT_EQ(clock.Offsets(), (std::vector<double>{0, 2}));
}

TEST_F(MusicBrainzServer, FailuresSayWhy) {
    const std::string host = "127.0.0.1:" + std::to_string(server.port());
    struct Case {
        const char* prefix;
        std::string error;
    };
    const Case cases[] = {
        {"/mb-busy-long", "MusicBrainz: " + host +
                              ": the service is busy (HTTP status 503) and asks to wait 3600 s; "
                              "try again later"},
        {"/mb-busy-always", "MusicBrainz: " + host +
                                ": the service is busy (HTTP status 503) and asks to wait 1 s; "
                                "try again later"},
        {"/mb-garbage", "MusicBrainz: " + host + ": the answer is not JSON"},
        {"/mb-huge", "MusicBrainz: " + host + ": the answer is larger than the limit of 4 MiB"},
        {"/nothing-here", "MusicBrainz: " + host + ": the server answered with HTTP status 404"},
    };
    for (const Case& c : cases) {
        const ListOutcome list = SearchReleases(client, limiter, At(c.prefix), "Artist", "");
        EXPECT_FALSE(list.ok) << c.prefix;
        EXPECT_EQ(list.error, c.error) << c.prefix;
    }
    // An hour is not waited for: one request, no retry.
    EXPECT_EQ(Count(Log(), "/mb-busy-long/"), 1u);

    Settings strict = At("/mb");
    strict.endpoint.allowLoopbackHttp = false;
    const ListOutcome refused = SearchReleases(client, limiter, strict, "Artist", "");
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(refused.error.starts_with("MusicBrainz: only https addresses are used"))
        << refused.error;

    Entry unknown;
    unknown.releaseId = "1f2e3d4c-0000-4000-8000-0000000000ff";
    const ReleaseOutcome missing = ReadRelease(client, limiter, At("/mb"), unknown);
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.error, "MusicBrainz: " + host + ": the server answered with HTTP status 404");
    Entry beyond;
    beyond.releaseId = kOneMedium;
    beyond.medium = 2;
    const ReleaseOutcome noMedium = ReadRelease(client, limiter, At("/mb"), beyond);
    EXPECT_FALSE(noMedium.ok);
    EXPECT_NE(noMedium.error.find("does not hold medium 2"), std::string::npos) << noMedium.error;
}

TEST_F(MusicBrainzServer, BusyRequestsAreCounted) {
    SearchReleases(client, limiter, At("/mb-busy-always"), "Artist", "");
    EXPECT_EQ(Count(Log(), "/mb-busy-always/"), 3u) << "the first request and two retries";
    EXPECT_EQ(clock.Offsets(), (std::vector<double>{0, 1, 2}));
}

// The whole round: a folder of one album filled from the chosen medium and
// written with the cover from the Cover Art Archive stand-in.
TEST_F(MusicBrainzServer, WritesTheTagsAndTheCover) {
    test::TempDir dir;
    const fs::path samples = std::string(SONDREL_SOURCE_DIR) + "/samples";
    std::vector<BatchRow> rows;
    for (const char* name :
         {"01 - Morning Tune.mp3", "03 - Night Tune.wma", "02 - Evening Tune.ogg"}) {
        fs::copy_file(samples / name, dir.file(name));
        BatchRow row;
        row.data.Folder = dir.path() + "/";
        row.data.FileName = name;
        rows.push_back(row);
    }
    rows[2].Checked = false;
    const auto before = test::ReadAll(dir.file("02 - Evening Tune.ogg"));

    Entry chosen;
    chosen.releaseId = kTwoMedia;
    chosen.medium = 1;
    const ReleaseOutcome read = ReadRelease(client, limiter, At("/mb"), chosen);
    ASSERT_TRUE(read.ok) << read.error;
    const web::Endpoint caa{server.url("/caa"), true};
    FillRowsFromEntry(rows, read.entry, 0, coverart::FrontCoverUrl(caa.host, kTwoMedia));
    TagBridge bridge;
    store::PictureFolder folder;
    const LookupWriteResult result =
        WriteLookupRows(rows, bridge, coverart::CoverArtAdder(client, caa, "agent", folder));
    EXPECT_TRUE(result.failures.empty()) << result.failures.front().error;
    EXPECT_EQ(result.written, (std::vector<std::size_t>{0, 1}));
    for (std::size_t k = 0; k < 2; ++k) {
        const std::string path = rows[k].data.FullPath();
        ASSERT_NE(bridge.Read(path), TagFormat::None) << path;
        EXPECT_EQ(bridge.Hub().title, read.entry.tracks[k].title) << path;
        EXPECT_EQ(bridge.Hub().album, "Two Sides") << path;
        EXPECT_EQ(bridge.Hub().year, "1999") << path;
        const FormatHandler* handler = HandlerOfPath(path);
        ASSERT_NE(handler, nullptr);
        ASSERT_TRUE(handler->LoadPictures(bridge, path).empty());
        EXPECT_EQ(handler->PictureCount(bridge), 1) << path;
    }
    EXPECT_EQ(test::ReadAll(dir.file("02 - Evening Tune.ogg")), before)
        << "an unticked file changed";
    EXPECT_EQ(Count(Log(), "/caa/release/"), 1u) << "one cover download serves every file";
}

}  // namespace
}  // namespace sondrel::net::musicbrainz
