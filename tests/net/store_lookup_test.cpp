// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/store_lookup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "editor/format_registry.h"
#include "net/curl_http_client.h"
#include "support/local_server.h"
#include "support/test_support.h"

namespace sondrel::net::store {
namespace {

namespace fs = std::filesystem;

TEST(StoreRequest, KeywordsAndAddress) {
    EXPECT_EQ(Keywords("Simon & Garfunkel", "Bridge, Over"), "Simon++Garfunkel+Bridge+Over");
    EXPECT_EQ(Keywords("AC/DC", "#1?"), "AC%2FDC+%231%3F");
    EXPECT_EQ(Keywords("Bj\xc3\xb6rk", ""), "Bj%C3%B6rk+");
    EXPECT_EQ(SiteSuffix(Site::Us), "com");
    EXPECT_EQ(SiteSuffix(Site::Uk), "co.uk");
    EXPECT_EQ(SiteSuffix(Site::De), "de");
    for (std::size_t i = 0; i < kDefaultHosts.size(); ++i) {
        const std::string_view suffix = SiteSuffix(static_cast<Site>(i));
        EXPECT_TRUE(kDefaultHosts[i].ends_with("." + std::string(suffix))) << kDefaultHosts[i];
    }
    EXPECT_EQ(RequestUrl("host.example.de", "A+B"),
              "http://host.example.de/onca/xml?Service=AWSECommerceService&SubscriptionId="
              "7QX2M4KD9ZP1RTB8WN3C&Operation=ItemSearch&Keywords=A+B&SearchIndex=Music&"
              "ResponseGroup=Request,Images,Tracks,ItemAttributes");
    EXPECT_TRUE(
        RequestUrl("https://127.0.0.1:9/x/", "k").starts_with("https://127.0.0.1:9/x/onca"));
}

TEST(StoreAnswer, ElementValues) {
    struct Case {
        const char* text;
        const char* path;
        const char* value;
    };
    const Case cases[] = {
        {"<A><B>x</B></A>", "<A>/<B>", "x"},
        // The outer tag is looked for first: the B before it is not taken.
        {"<B>early</B><A><B>late</B></A>", "<A>/<B>", "late"},
        // A missing outer tag starts the search over at the beginning.
        {"<B>early</B><C><B>late</B></C>", "<A>/<B>", "early"},
        {"<A>nothing here</A>", "<A>/<B>", ""},
        {"<A><B>no end", "<A>/<B>", "Error 4"},
        {"<T>a<i>b</i></T>", "<T>", "a<i>b"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ElementValue(c.text, c.path), c.value) << c.text << " " << c.path;
}

std::string Item(const std::string& inner) {
    return "<Item>" + inner + "</Item>";
}

TEST(StoreAnswer, ItemsDiscsAndTracks) {
    const std::string answer =
        "<TotalResults>4</TotalResults>" +
        Item(
            "<ItemAttributes><Artist>A &amp;amp; B</Artist><Title>T</Title>"
            "<ReleaseDate>1999-05</ReleaseDate></ItemAttributes><NumberOfDiscs>2</NumberOfDiscs>"
            "<Disc Number=\"1\"><Track Number=\"1\">one</Track><Track Number=\"2\">two"
            "</Track></Disc><Disc Number=\"2\"><Track Number=\"1\">three</Track>"
            "<Track Number=\"3\">skipped</Track></Disc>") +
        // No NumberOfTracks: a first track makes it count; disc 2 has none.
        Item(
            "<ItemAttributes><Title>U</Title></ItemAttributes><NumberOfDiscs>2</NumberOfDiscs>"
            "<Disc Number=\"1\"><Track Number=\"1\">only</Track></Disc>") +
        Item("<ItemAttributes><Title>No tracks</Title></ItemAttributes>") +
        Item(
            "<NumberOfTracks>x</NumberOfTracks><Disc Number=\"1\"><Track Number=\"1\">t"
            "</Track></Disc>");
    const std::vector<Album> albums = ParseAnswer(answer);
    ASSERT_EQ(albums.size(), 3u);
    EXPECT_EQ(albums[0].title, "T CD1");
    EXPECT_EQ(albums[0].artist, "A &amp; B");  // decoded once only
    EXPECT_EQ(albums[0].year, "1999");
    EXPECT_EQ(albums[0].tracks, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(albums[1].title, "T CD2");
    EXPECT_EQ(albums[1].tracks, (std::vector<std::string>{"three"}));
    EXPECT_EQ(albums[2].title, "U CD1");
    EXPECT_EQ(albums[2].ListText(), " - U CD1");

    // TotalResults limits the items read.
    EXPECT_EQ(ParseAnswer("<TotalResults>1</TotalResults>" + answer.substr(30)).size(), 2u);
    EXPECT_TRUE(ParseAnswer("<TotalResults>many</TotalResults>" + answer.substr(30)).empty());
}

TEST(StoreAnswer, AtMostThreeHundredEntries) {
    std::string answer = "<TotalResults>500</TotalResults>";
    for (int i = 0; i < 400; ++i)
        answer += Item("<ItemAttributes><Title>A" + std::to_string(i) +
                       "</Title></ItemAttributes><Disc Number=\"1\"><Track Number=\"1\">t"
                       "</Track></Disc>");
    const std::vector<Album> albums = ParseAnswer(answer);
    ASSERT_EQ(albums.size(), kMaxEntries);
    EXPECT_EQ(albums.back().title, "A299");
}

TEST(StoreRows, FillTickedRows) {
    Album album;
    album.artist = "Artist";
    album.title = "Album";
    album.year = "2001";
    album.coverUrl = "http://x/c.jpg";
    for (int i = 1; i <= 12; ++i)
        album.tracks.push_back("Song " + std::to_string(i));
    std::vector<BatchRow> rows(15);
    for (BatchRow& row : rows) {
        row.data.Comment = "mine";
        row.data.Genre = "Jazz";
        row.ResetNewValues();
    }
    rows[3].Checked = false;
    FillRowsFromAlbum(rows, album, kTrackStyleX);
    EXPECT_EQ(rows[0].NewTitle, "Song 1");
    EXPECT_EQ(rows[4].NewTrack, "4");
    EXPECT_EQ(rows[4].NewTitle, "Song 4");
    EXPECT_EQ(rows[3].NewTitle, "");
    EXPECT_EQ(rows[3].NewGenre, "Jazz");  // not ticked: untouched
    EXPECT_TRUE(rows[3].CoverUrl.empty());
    EXPECT_EQ(rows[13].NewTrack, "13");
    EXPECT_EQ(rows[13].NewTitle, "");
    EXPECT_EQ(rows[14].NewTrack, "14");
    EXPECT_EQ(rows[14].NewAlbum, "Album");
    EXPECT_EQ(rows[14].CoverUrl, "http://x/c.jpg");
    EXPECT_EQ(rows[14].NewComment, "mine");
    EXPECT_EQ(rows[14].NewGenre, "");
}

TEST(StorePictures, SafeNames) {
    struct Case {
        const char* name;
        const char* url;
        const char* file;
    };
    const Case cases[] = {
        {"Bridge: Over", "http://h/i/a.jpg", "Bridge Over.jpg"},
        {"../../etc/passwd", "http://h/x.png?size=2", "etcpasswd.png"},
        {"..", "http://h/x", "cover.jpg"},
        {"a\"*/:<>?\\|b", "http://h/dir.d/x", "ab.jpg"},
        {"Name", "http://h/x.j/p g", "Name.jpg"},
        {"Name", "http://h/x.tooLong", "Name.jpg"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SafePictureName(c.name, c.url), c.file) << c.name;
}

class StoreServerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.running()); }
    std::string Host(const std::string& recording) { return server.url("/store-" + recording); }
    test::LocalServer server{std::string(SONDREL_SOURCE_DIR) + "/tests/net/data"};
    CurlHttpClient client;
};

TEST_F(StoreServerTest, SearchesAndFailures) {
    const SearchOutcome found = Search(client, Host("two-items"), "Simon & Garfunkel", "Bridge");
    ASSERT_TRUE(found.ok) << found.error;
    std::vector<std::string> list;
    for (const Album& a : found.albums)
        list.push_back(a.ListText());
    EXPECT_EQ(list, (std::vector<std::string>{"Simon & Garfunkel - Bridge: Over & Water",
                                              "Band - Live CD1", "Band - Live CD2"}));
    EXPECT_EQ(found.albums[0].label, "Tom &amp; Co");
    EXPECT_EQ(found.albums[0].year, "1970");
    EXPECT_EQ(found.albums[0].coverUrl, server.url("/images/bridge.jpg"));
    EXPECT_EQ(found.albums[2].tracks, (std::vector<std::string>{"Encore", "Finale", "Outro"}));

    const SearchOutcome none = Search(client, Host("empty"), "a", "b");
    EXPECT_FALSE(none.ok);
    EXPECT_NE(none.error.find(kMsgNoAlbum), std::string::npos) << none.error;

    const std::string port = std::to_string(server.port());
    struct Case {
        std::string host;
        std::string message;
    };
    const Case failures[] = {
        {Host("missing"), "The store service did not answer: 127.0.0.1:" + port +
                              ": the server answered with HTTP status 404"},
        {"http://127.0.0.1:1", "The store service did not answer: 127.0.0.1:1: "},
    };
    for (const Case& c : failures) {
        const SearchOutcome r = Search(client, c.host, "a", "b");
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.error.starts_with(c.message)) << r.error;
        EXPECT_EQ(r.error.find("error "), std::string::npos) << r.error;
    }
}

TEST_F(StoreServerTest, DownloadIntoOurFolder) {
    std::string folderPath;
    {
        PictureFolder folder;
        folderPath = folder.path();
        ASSERT_FALSE(folderPath.empty());
        EXPECT_TRUE(fs::path(folderPath).filename().string().starts_with("sondrel-pictures-"));
        const DownloadOutcome got =
            DownloadPicture(client, server.url("/picture.jpg"), folder.path(), "c.jpg");
        ASSERT_TRUE(got.ok) << got.error;
        EXPECT_EQ(got.path, folderPath + "/c.jpg");
        const test::Bytes bytes = test::ReadAll(got.path);
        ASSERT_GE(bytes.size(), 4u);
        EXPECT_EQ(bytes[0], 0xFF);
        EXPECT_EQ(bytes[1], 0xD8);

        struct Case {
            const char* what;
            std::string url;
            std::string name;
        };
        const Case refused[] = {
            {"a name with a folder", server.url("/picture.jpg"), "../c.jpg"},
            {"not found", server.url("/nothing.jpg"), "d.jpg"},
            {"not http", "file:///etc/hostname", "e.jpg"},
        };
        for (const Case& c : refused) {
            const DownloadOutcome r = DownloadPicture(client, c.url, folder.path(), c.name);
            EXPECT_FALSE(r.ok) << c.what;
            EXPECT_FALSE(r.error.empty()) << c.what;
        }
        // Nothing but the one picture landed in the folder.
        std::size_t count = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(folderPath))
            ++count;
        EXPECT_EQ(count, 1u);
    }
    EXPECT_FALSE(fs::exists(folderPath)) << "the picture folder stayed behind";
}

// Search, fill and write with covers on a file of every format: MP3, WMA
// and MP4 get the cover as their first picture, the others only the tags.
TEST_F(StoreServerTest, WritesEveryFormatWithCovers) {
    test::TempDir dir;
    const fs::path samples = std::string(SONDREL_SOURCE_DIR) + "/samples";
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(samples)) {
        if (entry.path().extension() != ".md")
            names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    std::vector<BatchFile> files;
    for (const std::string& name : names) {
        fs::copy_file(samples / name, dir.file(name));
        files.push_back({dir.path(), name, static_cast<std::int32_t>(files.size())});
    }
    TagBridge bridge;
    std::vector<BatchRow> rows = ReadBatchRows(bridge, files, {});
    const SearchOutcome found = Search(client, Host("two-items"), "Simon", "Bridge");
    ASSERT_TRUE(found.ok) << found.error;
    FillRowsFromAlbum(rows, found.albums[0], kTrackStyle0X);

    std::string folderPath;
    {
        PictureFolder folder;
        folderPath = folder.path();
        const LookupWriteResult result =
            WriteLookupRows(rows, bridge, CoverAdder(client, folder, found.albums[0]));
        for (const auto& f : result.failures)
            ADD_FAILURE() << f.path << ": " << f.error;
        EXPECT_EQ(result.written.size(), names.size());
        EXPECT_TRUE(fs::exists(folderPath + "/Bridge Over  Water.jpg"));
    }
    EXPECT_FALSE(fs::exists(folderPath));

    HttpRequest coverRequest;
    coverRequest.url = server.url("/images/bridge.jpg");
    const std::string coverBody = client.Fetch(coverRequest).body;
    const test::Bytes cover(coverBody.begin(), coverBody.end());
    ASSERT_FALSE(cover.empty());
    std::vector<std::string> withCover;
    for (std::size_t k = 0; k < names.size(); ++k) {
        const std::string path = dir.file(names[k]);
        bridge.Read(path);
        EXPECT_EQ(bridge.Hub().album, "Bridge: Over & Water") << names[k];
        EXPECT_EQ(bridge.Hub().title, k < 3 ? found.albums[0].tracks[k] : "") << names[k];
        // Some formats store the number without its leading zero.
        EXPECT_EQ(std::stoi("0" + bridge.Hub().track), static_cast<int>(k + 1)) << names[k];
        const FormatHandler* handler = HandlerOfPath(path);
        ASSERT_NE(handler, nullptr);
        if (!handler->HoldsPictures())
            continue;
        ASSERT_EQ(handler->LoadPictures(bridge, path), "") << names[k];
        ASSERT_GE(handler->PictureCount(bridge), 1) << names[k];
        test::TempDir out;
        ASSERT_EQ(handler->ExtractPicture(bridge, 0, out.file("p.jpg")), "") << names[k];
        EXPECT_EQ(test::ReadAll(out.file("p.jpg")), cover) << names[k];
        withCover.push_back(fs::path(names[k]).extension().string());
    }
    EXPECT_EQ(withCover, (std::vector<std::string>{".mp3", ".ogg", ".wma", ".m4a"}));
}

}  // namespace
}  // namespace sondrel::net::store
