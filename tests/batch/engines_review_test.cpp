// SPDX-License-Identifier: GPL-3.0-or-later
// Faults found in the batch engines: names that were corrupted or hidden,
// a comment cut to its first line by a tag run.
#include <gtest/gtest.h>

#include <filesystem>

#include "batch/name_parse.h"
#include "batch/name_template.h"
#include "support/test_support.h"
#include "util/paths.h"

namespace sondrel {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteAll;

BatchData Song() {
    BatchData d;
    d.FileName = "song.mp3";
    d.Folder = "/music/";
    d.Path = d.FileName;
    d.Title = "Title";
    d.Artist = "Artist";
    return d;
}

TEST(ComposeNameReview, NamesStayValidText) {
    NameOptions keep;
    keep.replace = kReplaceNone;
    NameOptions asSpaces = keep;
    asSpaces.deleteBadLetters = false;
    const std::string nul("ab\0cd", 5);
    struct Case {
        const char* what;
        std::string nameTemplate;
        std::string title;
        const NameOptions& options;
        std::string expected;
    };
    const std::vector<Case> cases = {
        // An unknown placeholder drops the whole character after "%", not
        // just its first byte.
        {"two-byte character", "%\xC3\xA9%T", "Title", keep, "Title.mp3"},
        {"three-byte character", "%T%\xE2\x82\xAC", "Title", keep, "Title.mp3"},
        {"four-byte character", "%\xF0\x9F\x8E\xB5%T", "Title", keep, "Title.mp3"},
        {"text after it intact", "%\xC3\xA9\xC3\xA9 %T", "Title", keep, "\xC3\xA9 Title.mp3"},
        // A NUL would cut the path the system sees.
        {"NUL deleted", "%T", nul, keep, "abcd.mp3"},
        {"NUL as a space", "%T", nul, asSpaces, "ab cd.mp3"},
    };
    for (const auto& c : cases) {
        BatchData d = Song();
        d.Title = c.title;
        EXPECT_EQ(ComposeName(c.nameTemplate, d, c.options), c.expected) << c.what;
    }
}

// A name whose file part is only the extension would become a hidden file
// inside the new folder; it is reported like any too short name.
TEST(RenameRunReview, EmptyFilePartInAFolderIsNotRenamed) {
    TempDir dir;
    WriteAll(dir.file("a.mp3"), "A");
    BatchData d = Song();
    d.FileName = "a.mp3";
    d.Path = "a.mp3";
    d.Title.clear();
    BatchRow row;
    row.data = d;
    NameOptions o;
    row.After = ComposeName("%A\\%T", d, o);
    const std::string s(1, kPathSeparator);
    ASSERT_EQ(row.After, "Artist" + s + ".mp3");

    const RenameResult r = RunRename({row}, {dir.path(), false});
    EXPECT_EQ(r.errors, 0);
    EXPECT_TRUE(r.renamed.empty());
    ASSERT_EQ(r.outcomes.size(), 1u);
    EXPECT_EQ(r.outcomes[0].Code, kOutcomeOk);
    EXPECT_EQ(r.outcomes[0].NewName, row.After);
    EXPECT_TRUE(fs::exists(dir.file("a.mp3")));
    EXPECT_FALSE(fs::exists(dir.file("Artist/.mp3")));
}

// The table shows a comment's first line only and the track normalised; a
// run that does not change them must not write those texts back over the
// whole comment and the track with its total.
TEST(GenerateTagsReview, UnchangedCommentAndTrackKeepTheirFullText) {
    const test::Bytes mp3 = test::SilentMp3();
    if (mp3.empty())
        GTEST_SKIP() << "ffmpeg is missing";
    TempDir dir;
    const std::string path = dir.file("Artist - Song.mp3");
    WriteAll(path, mp3);
    TagBridge bridge;
    bridge.Read(path);
    TagFields tag = bridge.Hub();
    tag.comment = "line1\r\nline2";
    tag.track = "3/12";
    bridge.setHub(tag);
    ASSERT_TRUE(bridge.Save(path).ok);

    const std::vector<BatchFile> files = {{dir.path(), "Artist - Song.mp3", 0}};
    for (const int mode : {kModeOverwrite, kModeOnlyEmpty}) {
        std::vector<BatchRow> rows = ReadBatchRows(bridge, files, {});
        ASSERT_EQ(rows.size(), 1u);
        ASSERT_EQ(rows[0].data.Comment, "line1");
        GenerateOptions o;
        o.mode = mode;
        o.fields[kFieldComment].enabled = false;
        o.fields[kFieldTrack].enabled = false;
        const GenerateResult r = GenerateTags(rows, o, &bridge);
        ASSERT_EQ(r.written.size(), 1u) << mode;

        bridge.Read(path);
        EXPECT_EQ(bridge.Hub().artist, "Artist") << mode;
        EXPECT_EQ(bridge.Hub().comment, "line1\r\nline2") << mode;
        EXPECT_EQ(bridge.Hub().track, "3/12") << mode;
    }

    // Values the run does change are written as computed.
    std::vector<BatchRow> rows = ReadBatchRows(bridge, files, {});
    GenerateOptions o;
    o.fields[kFieldComment].expression = "new %T";
    o.fields[kFieldTrack].expression = "5";
    o.trackStyle = kTrackStyle0X;
    ASSERT_EQ(GenerateTags(rows, o, &bridge).written.size(), 1u);
    bridge.Read(path);
    EXPECT_EQ(bridge.Hub().comment, "new Song");
    EXPECT_EQ(bridge.Hub().track, "05");
}

}  // namespace
}  // namespace sondrel
