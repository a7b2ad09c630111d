// SPDX-License-Identifier: GPL-3.0-or-later
// Batch commands that must not destroy what the user did not ask them to
// touch: export over a listed file, parse over fields its template lacks.
#include <gtest/gtest.h>

#include <filesystem>

#include "editor/format_bridge.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using sondrel::test::ReadAll;
using sondrel::test::RunCommand;
using sondrel::test::ShellQuote;
using sondrel::test::TempDir;
using sondrel::test::ToBytes;
using sondrel::test::WriteAll;

// A shell glob after --output hands export the first audio file.
TEST(ExportCliReview, OutputThatIsAnInputIsRefused) {
    const std::string tool = sondrel::test::CliTool();
    if (tool.empty())
        GTEST_SKIP() << "sondrel-tag is not built";
    TempDir dir;
    fs::create_directories(dir.file("sub"));
    WriteAll(dir.file("a.mp3"), "audio A");
    WriteAll(dir.file("b.mp3"), "audio B");
    fs::create_hard_link(dir.file("b.mp3"), dir.file("sub/link.mp3"));
    const std::vector<std::string> outputs = {"a.mp3", "./a.mp3", "sub/../a.mp3", "sub/link.mp3"};
    for (const auto& output : outputs) {
        const auto r =
            RunCommand("cd " + ShellQuote(dir.path()) + " && " + ShellQuote(tool) +
                       " export --format csv --output " + ShellQuote(output) + " a.mp3 b.mp3 2>&1");
        EXPECT_EQ(r.exitCode, 1) << output << ": " << r.output;
        EXPECT_NE(r.output.find("is one of the listed files"), std::string::npos) << r.output;
        EXPECT_EQ(ReadAll(dir.file("a.mp3")), ToBytes("audio A")) << output;
        EXPECT_EQ(ReadAll(dir.file("b.mp3")), ToBytes("audio B")) << output;
    }
    // Another existing file is still replaced, as asked (the list holds
    // audio files only).
    const auto mp3 = sondrel::test::SilentMp3();
    if (mp3.empty())
        GTEST_SKIP() << "ffmpeg is missing";
    WriteAll(dir.file("a.mp3"), mp3);
    WriteAll(dir.file("old.m3u"), "old");
    const auto r = RunCommand("cd " + ShellQuote(dir.path()) + " && " + ShellQuote(tool) +
                              " export --format m3u --output old.m3u a.mp3 2>&1");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    const auto text = ReadAll(dir.file("old.m3u"));
    EXPECT_EQ(std::string(text.begin(), text.begin() + 9), "#EXTM3U\r\n");
}

// Without field options, parse changes only the fields its template holds;
// named fields are taken even when the template lacks them.
TEST(ParseCliReview, FieldsTheTemplateLacksAreKept) {
    const std::string tool = sondrel::test::CliTool();
    if (tool.empty())
        GTEST_SKIP() << "sondrel-tag is not built";
    const auto mp3 = sondrel::test::SilentMp3();
    if (mp3.empty())
        GTEST_SKIP() << "ffmpeg is missing";
    TempDir dir;
    const std::string path = dir.file("07 - Song.mp3");
    WriteAll(path, mp3);
    sondrel::TagBridge bridge;
    bridge.Read(path);
    sondrel::TagFields tag = bridge.Hub();
    tag.artist = "Artist";
    tag.album = "Album";
    tag.year = "1999";
    tag.comment = "Note";
    bridge.setHub(tag);
    ASSERT_TRUE(bridge.Save(path).ok);

    auto run = [&](const std::string& args) {
        const auto r = RunCommand("cd " + ShellQuote(dir.path()) + " && " + ShellQuote(tool) +
                                  " parse " + args + " '07 - Song.mp3' 2>&1");
        EXPECT_EQ(r.exitCode, 0) << args << ": " << r.output;
        bridge.Read(path);
        return bridge.Hub();
    };
    sondrel::TagFields got = run("--template '%# - %T'");
    EXPECT_EQ(got.track, "7");
    EXPECT_EQ(got.title, "Song");
    EXPECT_EQ(got.artist, "Artist");
    EXPECT_EQ(got.album, "Album");
    EXPECT_EQ(got.year, "1999");
    EXPECT_EQ(got.comment, "Note");

    got = run("--template '%# - %T' --album '%T!' --year ''");
    EXPECT_EQ(got.album, "Song!");
    EXPECT_EQ(got.year, "1999");  // an empty expression changes nothing
    EXPECT_EQ(got.artist, "Artist");
    EXPECT_EQ(got.title, "Song");
}

}  // namespace

// show tells why a file is not valid (the format's own reason, not only that
// the stream was not recognised), and its genre row holds the genre's own
// number, or nothing when there is no genre.
TEST(ShowCliReview, SaysWhyAFileIsNotValidAndNumbersTheShownGenre) {
    const std::string tool = sondrel::test::CliTool();
    if (tool.empty())
        GTEST_SKIP() << "sondrel-tag is not built";
    TempDir dir;
    const std::string samples = std::string(SONDREL_SOURCE_DIR) + "/samples/";
    auto m4a = ReadAll(samples + "04 - Dawn Tune.m4a");
    m4a.pop_back();
    WriteAll(dir.file("cut.m4a"), m4a);
    fs::copy_file(samples + "01 - Morning Tune.mp3", dir.file("song.mp3"));
    auto show = [&](const std::string& file) {
        return RunCommand(ShellQuote(tool) + " show " + ShellQuote(dir.file(file)) + " 2>&1");
    };

    const auto cut = show("cut.m4a");
    EXPECT_EQ(cut.exitCode, 1) << cut.output;
    EXPECT_NE(cut.output.find("is it cut short?"), std::string::npos) << cut.output;
    EXPECT_NE(cut.output.find("  Genre:        \n"), std::string::npos) << cut.output;

    const auto set = RunCommand(ShellQuote(tool) + " set --genre Ambient " +
                                ShellQuote(dir.file("song.mp3")) + " 2>&1");
    ASSERT_EQ(set.exitCode, 0) << set.output;
    const auto song = show("song.mp3");
    EXPECT_NE(song.output.find("  Genre:        Ambient (26)\n"), std::string::npos) << song.output;
}
