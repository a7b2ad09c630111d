// SPDX-License-Identifier: GPL-3.0-or-later
// sondrel-tag rename / parse / export on real files, with mutagen as the
// reader of what parse wrote.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using sondrel::test::ReadAll;
using sondrel::test::RunCommand;
using sondrel::test::ShellQuote;
using sondrel::test::TempDir;

class BatchCli : public ::testing::Test {
protected:
    void SetUp() override {
        tool = sondrel::test::CliTool();
        if (tool.empty())
            GTEST_SKIP() << "sondrel-tag is not built";
        if (!sondrel::test::HaveProgram("ffmpeg"))
            GTEST_SKIP() << "ffmpeg is missing";
    }
    // A second of silence in the format of the extension.
    void MakeAudio(const std::string& path) {
        fs::create_directories(fs::path(path).parent_path());
        const auto r =
            RunCommand("ffmpeg -loglevel error -f lavfi -i anullsrc=r=44100:cl=mono -t 1 " +
                       ShellQuote(path) + " 2>&1");
        ASSERT_EQ(r.exitCode, 0) << r.output;
    }
    sondrel::test::CommandResult Run(const std::string& args) {
        return RunCommand("cd " + ShellQuote(dir.path()) + " && " + ShellQuote(tool) + " " + args +
                          " 2>&1");
    }
    std::string tool;
    TempDir dir;
};

TEST_F(BatchCli, ParseRenameExport) {
    const std::vector<std::string> names = {"Queen/Innuendo/01 Innuendo.mp3",
                                            "Queen/Innuendo/02 Headlong.ogg",
                                            "Queen/Innuendo/03 Ride.m4a"};
    for (const auto& n : names)
        MakeAudio(dir.file(n));

    auto r = Run("parse --template '%A/%L/%# %T' --track-style 1 Queen/Innuendo/*");
    ASSERT_EQ(r.exitCode, 0) << r.output;

    if (sondrel::test::HaveMutagen()) {
        const auto m = RunCommand(
            "python3 -c 'import sys, mutagen\n"
            "for p in sys.argv[1:]:\n"
            "    f = mutagen.File(p, easy=True)\n"
            "    print(f[\"artist\"][0], f[\"album\"][0], f[\"title\"][0])' " +
            ShellQuote(dir.file(names[0])) + " " + ShellQuote(dir.file(names[1])) + " " +
            ShellQuote(dir.file(names[2])));
        EXPECT_EQ(m.output,
                  "Queen Innuendo Innuendo\nQueen Innuendo Headlong\nQueen Innuendo Ride\n");
    }

    // A file already at one of the new names is kept, and its source stays.
    // Folders of the template are made in each file's own folder.
    fs::create_directories(dir.file("Queen/Innuendo/Queen - Innuendo"));
    sondrel::test::WriteAll(dir.file("Queen/Innuendo/Queen - Innuendo/3 - Ride.m4a"), "KEEP");
    r = Run("rename --template '%A - %L\\%# - %T' Queen/Innuendo/*");
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("File already exists"), std::string::npos) << r.output;
    EXPECT_TRUE(fs::exists(dir.file("Queen/Innuendo/Queen - Innuendo/1 - Innuendo.mp3")));
    EXPECT_TRUE(fs::exists(dir.file("Queen/Innuendo/Queen - Innuendo/2 - Headlong.ogg")));
    EXPECT_TRUE(fs::exists(dir.file(names[2])));
    EXPECT_EQ(ReadAll(dir.file("Queen/Innuendo/Queen - Innuendo/3 - Ride.m4a")),
              sondrel::test::ToBytes("KEEP"));

    r =
        Run("export --format m3u --output list --columns title 'Queen/Innuendo/Queen - Innuendo/1 "
            "- Innuendo.mp3'");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(ReadAll(dir.file("list.m3u")),
              sondrel::test::ToBytes("#EXTM3U\r\n#EXTINF:1,Queen - Innuendo\r\n" +
                                     dir.file("Queen/Innuendo/Queen - Innuendo/1 - Innuendo.mp3") +
                                     "\r\n"));
}

// Spreadsheet formulas are neutralised only when asked (the CSV's bytes
// stay as scripts know them), and a file whose folder name holds a line
// break is left out of a playlist by name, the others listed.
TEST_F(BatchCli, ExportNeutralisesFormulasAndKeepsPlaylistLinesWhole) {
    MakeAudio(dir.file("good.mp3"));
    const std::string bad = "Live\n#EXTINF:0,Injected\nhttp:/bad.mp3";
    MakeAudio(dir.file(bad));
    auto r = Run("set --title '=HYPERLINK(\"http://x\")' good.mp3");
    ASSERT_EQ(r.exitCode, 0) << r.output;

    r = Run("export --format csv --output - --columns title good.mp3");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find(";\"=HYPERLINK(\"\"http://x\"\")\"\r\n"), std::string::npos)
        << r.output;
    r = Run("export --format csv --escape-formulas --output out --columns title good.mp3");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    const std::string csv(reinterpret_cast<const char*>(ReadAll(dir.file("out.csv")).data()),
                          ReadAll(dir.file("out.csv")).size());
    EXPECT_NE(csv.find(";\"'=HYPERLINK("), std::string::npos) << csv;

    r = Run("export --format m3u --output list good.mp3 " + ShellQuote(bad));
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("line break"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("(not listed)"), std::string::npos) << r.output;
    const auto list = ReadAll(dir.file("list.m3u"));
    const std::string m3u(reinterpret_cast<const char*>(list.data()), list.size());
    EXPECT_NE(m3u.find(dir.file("good.mp3") + "\r\n"), std::string::npos) << m3u;
    EXPECT_EQ(m3u.find("Injected"), std::string::npos) << m3u;
    EXPECT_EQ(m3u.find("\nhttp:"), std::string::npos) << m3u;
}

TEST_F(BatchCli, UsageAndMissingFiles) {
    const std::vector<std::string> usage = {
        "rename x.mp3",                        // no template
        "rename --template T --case 9 x.mp3",  // out of range
        "parse --template T --mode sometimes x.mp3",
        "parse --template T --number x x.mp3",
        "export --format xls --output o x.mp3",
        "export --format csv x.mp3",  // no output
        "export --format csv --output o --columns title,bogus x.mp3",
        "rename --template T",  // no files
    };
    for (const auto& args : usage)
        EXPECT_EQ(Run(args).exitCode, 2) << args;
    const auto r = Run("rename --template '%T' missing.mp3");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("missing.mp3"), std::string::npos);
}

}  // namespace
