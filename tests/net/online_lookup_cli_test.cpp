// SPDX-License-Identifier: GPL-3.0-or-later
// sondrel-tag lookup musicbrainz, covers and lyrics against local stand-ins
// of the services.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "editor/format_bridge.h"
#include "editor/format_registry.h"
#include "support/local_server.h"
#include "support/test_support.h"
#include "tags/id3v2.h"
#include "util/version.h"

namespace sondrel {
namespace {

namespace fs = std::filesystem;
using test::RunCommand;
using test::ShellQuote;

class OnlineLookupCli : public ::testing::Test {
protected:
    void SetUp() override {
        tool = test::CliTool();
        if (tool.empty())
            GTEST_SKIP() << "sondrel-tag is not built";
        ASSERT_TRUE(server.running());
        const fs::path samples = std::string(SONDREL_SOURCE_DIR) + "/samples";
        const char* names[] = {"01 - Morning Tune.mp3", "06 - Dusk Tune.ape",
                               "03 - Night Tune.wma"};
        const char* titles[] = {"Synced Song", "Plain Song", "Unknown Song"};
        TagBridge bridge;
        for (std::size_t k = 0; k < 3; ++k) {
            const std::string path = dir.file(names[k]);
            fs::copy_file(samples / names[k], path);
            ASSERT_NE(bridge.Read(path), TagFormat::None) << path;
            TagFields hub = bridge.Hub();
            hub.artist = "Test Artist";
            hub.album = "Two Sides";
            hub.title = titles[k];
            hub.comment = "kept comment";
            bridge.setHub(hub);
            ASSERT_TRUE(bridge.Save(path).ok) << path;
            files.push_back(path);
        }
    }
    test::CommandResult Run(const std::string& service, const std::string& options,
                            bool withErrors = false) {
        std::string command = ShellQuote(tool) + " lookup " + service + " " + options;
        for (const std::string& f : files)
            command += " " + ShellQuote(f);
        return RunCommand(command + (withErrors ? " 2>&1" : " 2>/dev/null"));
    }
    std::string Local(const std::string& prefix) {
        return "--allow-loopback-http --email tester@example.org --host " +
               ShellQuote(server.url(prefix));
    }
    // The MusicBrainz stand-in at `prefix` and the Cover Art Archive's.
    std::string Mb(const std::string& prefix) {
        return Local(prefix) + " --cover-host " + ShellQuote(server.url("/caa"));
    }
    std::vector<test::Bytes> Contents() const {
        std::vector<test::Bytes> all;
        for (const std::string& f : files)
            all.push_back(test::ReadAll(f));
        return all;
    }
    std::string Log() {
        return RunCommand("python3 -c " +
                          ShellQuote("import urllib.request,sys;sys.stdout.write(urllib.request."
                                     "urlopen('" +
                                     server.url("/requests") + "').read().decode())"))
            .output;
    }
    int Pictures(const std::string& path) {
        TagBridge bridge;
        const FormatHandler* handler = HandlerOfPath(path);
        if (handler == nullptr || !handler->HoldsPictures() ||
            !handler->LoadPictures(bridge, path).empty())
            return -1;
        return handler->PictureCount(bridge);
    }

    std::string tool;
    test::LocalServer server{std::string(SONDREL_SOURCE_DIR) + "/tests/net/data"};
    test::TempDir dir;
    std::vector<std::string> files;
};

TEST_F(OnlineLookupCli, ListsReleasesByTheFilesWordsAndByTheirDurations) {
    const auto text = Run("musicbrainz", Mb("/mb"));
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_EQ(text.output,
              "Release 1: Artist & Partner - Two Sides (CD 1) (1999, Label One, 3 tracks)\n"
              "Release 2: Artist & Partner - Two Sides (CD 2) (1999, Label One, 2 tracks)\n"
              "Release 3: Artist - Single Side (2003, 3 tracks)\n");
    EXPECT_NE(Log().find("Sondrel/" + std::string(sondrel::Version()) +
                         " ( tester@example.org ) /mb/ws/2/release?query=artist%3A%22Test%20Artist%"
                         "22%20AND%20release%3A%22Two%20Sides%22"),
              std::string::npos)
        << "the first file's artist and album were not asked for";

    const auto toc = Run("musicbrainz", Mb("/mb") + " --toc --json");
    ASSERT_EQ(toc.exitCode, 0);
    const auto parsed = nlohmann::json::parse(toc.output);
    ASSERT_EQ(parsed["releases"].size(), 2u);
    EXPECT_EQ(parsed["releases"][0]["medium"], 1);
    EXPECT_EQ(parsed["releases"][1]["release"], "1f2e3d4c-0000-4000-8000-00000000000b");
    EXPECT_FALSE(parsed.contains("files"));
}

TEST_F(OnlineLookupCli, PreviewsThenWritesTagsAndCover) {
    const auto before = Contents();
    const auto preview =
        Run("musicbrainz", Mb("/mb") + " --artist Artist --release 1 --dry-run --json");
    ASSERT_EQ(preview.exitCode, 0);
    const auto shown = nlohmann::json::parse(preview.output);
    ASSERT_EQ(shown["files"].size(), 3u);
    EXPECT_EQ(shown["files"][0]["status"], "would write");
    EXPECT_EQ(shown["files"][0]["tags"]["artist"], "Artist feat. Guest");
    EXPECT_EQ(shown["files"][1]["tags"]["title"], "Middle Part Two");
    EXPECT_EQ(shown["files"][2]["tags"]["genre"], "Rock");
    EXPECT_EQ(shown["cover"], "") << "no cover was asked for";
    EXPECT_EQ(Contents(), before) << "a preview wrote";

    const auto written =
        Run("musicbrainz", Mb("/mb") + " --artist Artist --release 1 --cover --write --json");
    ASSERT_EQ(written.exitCode, 0) << written.output;
    const auto result = nlohmann::json::parse(written.output);
    TagBridge bridge;
    for (std::size_t k = 0; k < files.size(); ++k) {
        EXPECT_EQ(result["files"][k]["status"], "written") << files[k];
        ASSERT_NE(bridge.Read(files[k]), TagFormat::None);
        // What was written is what the preview showed.
        EXPECT_EQ(bridge.Hub().title, shown["files"][k]["tags"]["title"]) << files[k];
        EXPECT_EQ(bridge.Hub().artist, shown["files"][k]["tags"]["artist"]) << files[k];
        EXPECT_EQ(bridge.Hub().album, "Two Sides") << files[k];
        EXPECT_EQ(bridge.Hub().comment, "kept comment") << files[k];
    }
    EXPECT_EQ(Pictures(files[0]), 1);
    EXPECT_EQ(Pictures(files[2]), 1);
}

TEST_F(OnlineLookupCli, CoversAloneLeaveTheTags) {
    const auto before = Contents();
    const auto preview = Run("covers", Mb("/mb") + " --release 3 --json");
    ASSERT_EQ(preview.exitCode, 0);
    const auto shown = nlohmann::json::parse(preview.output);
    EXPECT_GT(shown["coverBytes"].get<int>(), 0);
    EXPECT_EQ(shown["files"][1]["status"], "holds no pictures");
    EXPECT_EQ(Contents(), before);

    const auto written = Run("covers", Mb("/mb") + " --release 3 --write");
    ASSERT_EQ(written.exitCode, 0) << written.output;
    EXPECT_EQ(Pictures(files[0]), 1);
    EXPECT_EQ(Pictures(files[2]), 1);
    EXPECT_EQ(test::ReadAll(files[1]), before[1]) << "a file without pictures changed";
    TagBridge bridge;
    bridge.Read(files[0]);
    EXPECT_EQ(bridge.Hub().title, "Synced Song");
    EXPECT_EQ(bridge.Hub().album, "Two Sides");
}

TEST_F(OnlineLookupCli, LyricsPlainAndSynchronised) {
    const auto before = Contents();
    const auto preview = Run("lyrics", Local("/lrclib") + " --dry-run --json");
    ASSERT_EQ(preview.exitCode, 0);
    const auto shown = nlohmann::json::parse(preview.output);
    ASSERT_EQ(shown["files"].size(), 3u);
    EXPECT_EQ(shown["files"][0]["status"], "would write");
    EXPECT_EQ(shown["files"][0]["synced"].size(), 4u);
    EXPECT_EQ(shown["files"][0]["synced"][1]["time"], 4000);
    EXPECT_EQ(shown["files"][1]["lyrics"], "Only plain\nlyrics here");
    EXPECT_EQ(shown["files"][1]["synced"].size(), 0u);
    EXPECT_EQ(shown["files"][2]["status"], "not found");
    EXPECT_EQ(Contents(), before);

    const auto written = Run("lyrics", Local("/lrclib") + " --write");
    ASSERT_EQ(written.exitCode, 0) << written.output;
    TagBridge bridge;
    bridge.Read(files[0]);
    EXPECT_EQ(bridge.Hub().text, "First line\nSecond line\nThird line");
    EXPECT_EQ(bridge.Hub().title, "Synced Song");
    // The MP3 also holds the timed lines, in the same save, as a SYLT frame.
    Id3v2Tag tag;
    tag.setFileName(files[0]);
    const auto sylt = tag.SyncedLyricsRead();
    ASSERT_EQ(sylt.size(), 1u);
    EXPECT_EQ(sylt[0].language, "eng");
    ASSERT_EQ(sylt[0].lines.size(), 4u);
    EXPECT_EQ(sylt[0].lines[0], (id3v2::SyncedLine{1500, "First line"}));
    EXPECT_EQ(sylt[0].lines[3], (id3v2::SyncedLine{9250, "Second line"}));
    bridge.Read(files[1]);
    EXPECT_EQ(bridge.Hub().text, "Only plain\nlyrics here");
    EXPECT_EQ(test::ReadAll(files[2]), before[2]) << "a file without lyrics found changed";
}

// A service that trickles its answers holds the tool no longer than the
// look-up's limit: every file fails with words that say so, and nothing is
// written.
TEST_F(OnlineLookupCli, TricklingServiceMeetsTheTimeout) {
    const auto before = Contents();
    const auto start = std::chrono::steady_clock::now();
    const auto r = Run("lyrics", Local("/trickle") + " --timeout 2 --write", true);
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    for (const std::string& f : files)
        EXPECT_NE(r.output.find(f + ": LRCLIB: 127.0.0.1:" + std::to_string(server.port()) +
                                ": the look-up took longer than its limit of 2 s"),
                  std::string::npos)
            << r.output;
    EXPECT_EQ(Contents(), before);

    const auto mb = Run("musicbrainz", Mb("/trickle") + " --timeout 1 --release 1 --write", true);
    EXPECT_EQ(mb.exitCode, 1) << mb.output;
    EXPECT_NE(mb.output.find("the look-up took longer than its limit of 1 s"), std::string::npos)
        << mb.output;
    EXPECT_EQ(Contents(), before);
}

TEST_F(OnlineLookupCli, FailuresChangeNothing) {
    struct Case {
        const char* service;
        std::string options;
        int exitCode;
        const char* message;
    };
    const Case cases[] = {
        {"musicbrainz", Mb("/mb") + " --write", 2, "--write needs --release N"},
        {"musicbrainz", Mb("/mb") + " --release 1 --write --dry-run", 2, "exclude each other"},
        {"covers", Mb("/mb") + " --toc --artist A", 2, "leave out --artist"},
        {"lyrics", Local("/lrclib") + " --release 1", 2, "unknown option '--release'"},
        {"musicbrainz", Mb("/mb") + " --release 9 --write", 1, "there is no entry 9"},
        {"musicbrainz", "--host " + ShellQuote(server.url("/mb")) + " --release 1 --write", 1,
         "only https addresses are used"},
        {"musicbrainz", Mb("/mb-garbage") + " --release 1 --write", 1, "the answer is not JSON"},
        {"covers",
         Mb("/mb") + " --cover-host " + ShellQuote(server.url("/caa-text")) +
             " --release 1 --write",
         1, "the answer is not a picture"},
        {"lyrics", Local("/lrclib-huge") + " --write", 1, "larger than the limit of 4 MiB"},
        {"bogus", "", 2, "freedb, musicbrainz, covers or lyrics"},
    };
    const auto before = Contents();
    for (const Case& c : cases) {
        const auto r = Run(c.service, c.options, true);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.service << " " << c.options;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
        EXPECT_EQ(Contents(), before) << c.service << " " << c.options;
    }
}

}  // namespace
}  // namespace sondrel
