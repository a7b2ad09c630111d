// SPDX-License-Identifier: GPL-3.0-or-later
// Hard links through a save of every format, run by the command-line tool: a
// save written wholly in place (a fitting ID3v2 tag with the ID3v1 block
// among them) keeps the link (both names see the whole new
// file), a save through a new file splits it (the other name keeps the whole
// old file). Never a mix: the other name never sees part of a change.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/test_support.h"

namespace sondrel {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::ReadAll;
using test::ShellQuote;
using test::TempDir;
using test::WriteAll;

const fs::path kSeeds = fs::path(SONDREL_SOURCE_DIR) / "fuzz" / "corpus";

enum class Links { Kept, Split };

struct LinkCase {
    const char* name;
    const char* seed;  // under fuzz/corpus/
    const char* args;  // the command before the file name
    Links expected;
};

// A title longer than any padding: the ID3v2 tag no longer fits in place.
const std::string kGrowingTitle = "set --save 2 --title " + std::string(700, 'x');
// Longer than the padding the Ogg seeds carry (256 bytes).
const std::string kGrowingOggTitle = "set --title " + std::string(700, 'x');

const LinkCase kCases[] = {
    {"MP3, ID3v1 alone", "mpeg/cbr.mp3", "set --save 1 --title Linked", Links::Kept},
    {"MP3, ID3v1 removed", "id3v1/v11.mp3", "remove --id3v1", Links::Kept},
    {"MP3, both ID3 versions", "id3v1/v11.mp3", "set --title Linked", Links::Split},
    {"MP3, both ID3 tags removed", "mpeg/tagged.mp3", "remove --all", Links::Split},
    {"MP3, ID3v2 alone, fitting its padding", "id3v2/v23.mp3", "set --save 2 --title Linked",
     Links::Kept},
    {"MP3, ID3v2 alone, grown", "id3v2/v23.mp3", kGrowingTitle.c_str(), Links::Split},
    {"MP3, both ID3 tags, ID3v2 fitting", "mpeg/tagged.mp3", "set --title Linked", Links::Kept},
    {"Ogg Vorbis, no padding to take the change", "ogg/vorbis.ogg", "set --title Linked",
     Links::Split},
    {"Ogg Opus, within the encoder's padding", "ogg/opus.opus", "set --title Linked", Links::Kept},
    {"Ogg FLAC, within the padding block", "ogg/flac.oga", "set --title Linked", Links::Kept},
    {"Ogg FLAC, comments removed", "ogg/flac.oga", "remove --ogg", Links::Kept},
    {"Ogg Opus, grown past its padding", "ogg/opus.opus", kGrowingOggTitle.c_str(), Links::Split},
    {"Monkey's Audio", "ape/v3990.ape", "set --title Linked", Links::Kept},
    {"Musepack", "musepack/sv8.mpc", "set --title Linked", Links::Kept},
    {"Monkey's Audio, APE tag removed", "ape/v3990.ape", "remove --ape", Links::Split},
    {"WMA", "wma/wmav2.wma", "set --title Linked", Links::Split},
    {"MP4", "mp4/aac.m4a", "set --title Linked", Links::Split},
};

struct stat StatOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
}

TEST(HardLinks, ASaveKeepsOrSplitsTheLinkWhole) {
    const std::string tool = test::CliTool();
    if (tool.empty())
        GTEST_SKIP() << "sondrel-tag was not built";
    for (const LinkCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const Bytes original = ReadAll((kSeeds / c.seed).string());
        ASSERT_FALSE(original.empty());
        TempDir dir;
        const std::string ext = fs::path(c.seed).extension().string();
        const std::string path = dir.file("song" + ext);
        const std::string other = dir.file("other" + ext);
        WriteAll(path, original);
        ASSERT_EQ(::link(path.c_str(), other.c_str()), 0);

        const auto r =
            test::RunCommand(ShellQuote(tool) + " " + c.args + " " + ShellQuote(path) + " 2>&1");
        ASSERT_EQ(r.exitCode, 0) << r.output;
        const Bytes saved = ReadAll(path);
        ASSERT_NE(saved, original) << "the save changed nothing";

        const struct stat a = StatOf(path);
        const struct stat b = StatOf(other);
        const bool sameFile = a.st_dev == b.st_dev && a.st_ino == b.st_ino;
        if (sameFile) {
            EXPECT_EQ(a.st_nlink, 2u);
            EXPECT_TRUE(ReadAll(other) == saved) << "the other name sees part of the change";
        } else {
            EXPECT_EQ(a.st_nlink, 1u);
            EXPECT_EQ(b.st_nlink, 1u);
            EXPECT_TRUE(ReadAll(other) == original) << "the other name lost part of the old file";
        }
        EXPECT_EQ(sameFile ? Links::Kept : Links::Split, c.expected)
            << (sameFile ? "kept" : "split") << " against the documented rule";
    }
}

}  // namespace
}  // namespace sondrel
