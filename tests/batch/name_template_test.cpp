// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/name_template.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "support/test_support.h"
#include "util/paths.h"

namespace sondrel {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::TempDir;
using test::WriteAll;

BatchData Song() {
    BatchData d;
    d.FileName = "song.mp3";
    d.Folder = "/music/Rock/";
    d.Path = d.FileName;
    d.Track = "7";
    d.Title = "Title";
    d.Artist = "Artist";
    d.Album = "Album";
    d.Year = "1999";
    d.Genre = "Rock";
    d.Comment = "first\r\nsecond";
    d.FolderName = "Rock";
    d.Bitrate = "128";
    d.Freq = "44100";
    d.Duration = 205;
    d.SizeText = "3.3 Mb";
    return d;
}

NameOptions Plain() {
    NameOptions o;
    o.replace = kReplaceNone;
    return o;
}

struct ComposeCase {
    const char* what;
    const char* nameTemplate;
    std::function<void(BatchData&, NameOptions&)> setup;
    const char* expected;
};

TEST(ComposeName, Table) {
    const std::vector<ComposeCase> cases = {
        {"bad letters deleted, values trimmed", "%A - %T",
         [](BatchData& d, NameOptions&) {
             d.Artist = "AC/DC";
             d.Title = " Back in Black ";
         },
         "ACDC - Back in Black.mp3"},
        {"bad letters as spaces", "%A - %T",
         [](BatchData& d, NameOptions& o) {
             d.Artist = "AC/DC";
             d.Title = " Back in Black ";
             o.deleteBadLetters = false;
         },
         "AC DC - Back in Black.mp3"},
        {"every bad letter", "%T", [](BatchData& d, NameOptions&) { d.Title = "a\"*/:<>?\\|b"; },
         "ab.mp3"},
        {"missing track, name trimmed", "%# - %T", [](BatchData& d, NameOptions&) { d.Track = ""; },
         "- Title.mp3"},
        {"zeros are no track", "%#-%T", [](BatchData& d, NameOptions&) { d.Track = "000"; },
         "-Title.mp3"},
        {"unknown placeholder before", "%X%T", nullptr, "Title.mp3"},
        {"unknown placeholder after", "%T%X", nullptr, "Title.mp3"},
        {"doubled percent stays", "100%% %T", nullptr, "100%% Title.mp3"},
        {"final percent stays", "%T%", nullptr, "Title%.mp3"},
        {"digit forms", "%0 %1 %2 %3 %4 %5", nullptr, "7 Title Artist Album 1999 Rock.mp3"},
        {"lower-case letters", "%a-%t-%l-%y", nullptr, "Artist-Title-Album-1999.mp3"},
        // The colons of the duration are bad letters too.
        {"stream values", "%B %F %D %S", nullptr, "128 44100 000325 3.3 Mb.mp3"},
        {"genre and first comment line", "%G %C", nullptr, "Rock first.mp3"},
        {"current name", "%O", nullptr, "song.mp3"},
        {"extension in the template is not doubled", "%A - %T.MP3", nullptr, "Artist - Title.MP3"},
        {"underscores to spaces", "%T_x",
         [](BatchData&, NameOptions& o) { o.replace = kReplaceUnderscores; }, "Title x.mp3"},
        {"spaces deleted", "%A - %T", [](BatchData&, NameOptions& o) { o.replace = kDeleteSpaces; },
         "Artist-Title.mp3"},
        {"underscore starts a word", "%T",
         [](BatchData& d, NameOptions& o) {
             d.Title = "the beatles";
             o.replace = kReplaceSpaces;
             o.capitalization = 3;
         },
         "The_Beatles.mp3"},
        {"capitalization reaches literal text", "by %A",
         [](BatchData&, NameOptions& o) { o.capitalization = 2; }, "BY ARTIST.mp3"},
        {"extra spaces kept when asked", "%A - %T ",
         [](BatchData& d, NameOptions& o) {
             d.Artist = " X";
             o.removeExtraSpaces = false;
         },
         " X - Title .mp3"},
    };
    for (const auto& c : cases) {
        BatchData d = Song();
        NameOptions o = Plain();
        if (c.setup)
            c.setup(d, o);
        EXPECT_EQ(ComposeName(c.nameTemplate, d, o), c.expected) << c.what;
    }
}

TEST(ComposeName, FoldersUseThePlatformSeparatorAndNeverComeFromValues) {
    const std::string s(1, kPathSeparator);
    const NameOptions o = Plain();
    BatchData d = Song();
    EXPECT_EQ(ComposeName("%A\\%L\\%T", d, o), "Artist" + s + "Album" + s + "Title.mp3");
    EXPECT_EQ(ComposeName("%A/%L/%T", d, o), "Artist" + s + "Album" + s + "Title.mp3");
    EXPECT_EQ(ComposeName("\\%A - %T", d, o), s + "Artist - Title.mp3");
    // An empty album leaves no empty folder level.
    d.Album.clear();
    EXPECT_EQ(ComposeName("%A\\%L\\%T", d, o), "Artist" + s + "Title.mp3");
    d.Artist = "a/b\\c";
    EXPECT_EQ(ComposeName("%A\\%T", d, o), "abc" + s + "Title.mp3");
}

TEST(ComposeName, ValuesSpellingThePathAreKept) {
    BatchData d = Song();
    d.Path = "A_B";
    d.Title = "A_B";
    NameOptions o;  // underscores would become spaces
    EXPECT_EQ(ComposeSegment("x%T", d, o), "A_B");
}

// ---------------------------------------------------------------------------
// Rename runs over a temporary folder.

BatchRow MakeRow(const std::string& name, const std::string& after, bool checked = true) {
    BatchRow row;
    row.data.FileName = name;
    row.data.Path = name;
    row.After = after;
    row.Checked = checked;
    return row;
}

class RenameRun : public ::testing::Test {
protected:
    std::string S(const std::string& path) {
        std::string out = path;
        for (char& c : out)
            if (c == '\\')
                c = kPathSeparator;
        return out;
    }
    std::string At(const std::string& rel) { return dir.path() + "/" + rel; }
    TempDir dir;
};

TEST_F(RenameRun, CreatesFoldersAndMoves) {
    WriteAll(At("a.mp3"), "A");
    std::vector<BatchRow> rows = {MakeRow("a.mp3", S("Artist\\Album\\Title.mp3"))};
    const RenameResult r = RunRename(rows, {dir.path(), false});
    EXPECT_TRUE(r.outcomes.empty());
    EXPECT_EQ(r.errors, 0);
    EXPECT_EQ(r.renamed, std::vector<std::size_t>{0});
    EXPECT_FALSE(fs::exists(At("a.mp3")));
    EXPECT_EQ(ReadAll(At("Artist/Album/Title.mp3")), test::ToBytes("A"));
}

TEST_F(RenameRun, SubfolderMode) {
    fs::create_directories(At("sub"));
    WriteAll(At("sub/a.mp3"), "A");
    WriteAll(At("sub/b.mp3"), "B");
    WriteAll(At("sub/c.mp3"), "C");
    auto row = [&](const std::string& name, const std::string& after) {
        BatchRow r = MakeRow(name, S(after));
        r.data.Folder = At("sub/");
        r.data.Path = r.data.Folder + name;
        return r;
    };
    std::vector<BatchRow> rows = {
        row("a.mp3", "Artist\\Album\\A.mp3"),  // folders go under the shown folder
        row("b.mp3", "\\B.mp3"),               // leading separator: the shown folder
        row("c.mp3", "C.mp3"),                 // no folder: stays in its own folder
    };
    const RenameResult r = RunRename(rows, {dir.path(), true});
    EXPECT_EQ(r.errors, 0);
    EXPECT_TRUE(fs::exists(At("Artist/Album/A.mp3")));
    EXPECT_TRUE(fs::exists(At("B.mp3")));
    EXPECT_TRUE(fs::exists(At("sub/C.mp3")));
}

TEST_F(RenameRun, NeverOverwritesAndReportsEveryOutcome) {
    WriteAll(At("a.mp3"), "A");
    WriteAll(At("b.mp3"), "B");
    WriteAll(At("c.mp3"), "C");
    WriteAll(At("d.mp3"), "D");
    WriteAll(At("taken.mp3"), "KEEP");
    std::vector<BatchRow> rows = {
        MakeRow("a.mp3", "taken.mp3"),       // existing target
        MakeRow("b.mp3", "same.mp3"),        // first of two equal names: renamed
        MakeRow("c.mp3", "same.mp3"),        // second: refused
        MakeRow("d.mp3", "new.mp3", false),  // unticked: reported, untouched
        MakeRow("e.mp3", "e.ogg"),           // wrong extension: skipped silently
        MakeRow("", "x.mp3"),                // no path: skipped silently
        MakeRow("a.mp3", ".mp3"),            // name too short: reported
    };
    const RenameResult r = RunRename(rows, {dir.path(), false});
    ASSERT_EQ(r.outcomes.size(), 4u);
    EXPECT_EQ(r.outcomes[0].Path, "a.mp3");
    EXPECT_EQ(r.outcomes[0].Code, kOutcomeAlreadyExists);
    EXPECT_EQ(r.outcomes[1].Path, "c.mp3");
    EXPECT_EQ(r.outcomes[1].Code, kOutcomeAlreadyExists);
    EXPECT_EQ(r.outcomes[2].Path, "d.mp3");
    EXPECT_EQ(r.outcomes[2].Code, kOutcomeOk);
    EXPECT_EQ(r.outcomes[2].NewName, "new.mp3");
    EXPECT_EQ(r.outcomes[3].Code, kOutcomeOk);
    EXPECT_EQ(r.errors, 2);
    EXPECT_EQ(r.renamed, std::vector<std::size_t>{1});
    EXPECT_EQ(ReadAll(At("taken.mp3")), test::ToBytes("KEEP"));
    EXPECT_EQ(ReadAll(At("same.mp3")), test::ToBytes("B"));
    EXPECT_EQ(ReadAll(At("a.mp3")), test::ToBytes("A"));
    EXPECT_EQ(ReadAll(At("c.mp3")), test::ToBytes("C"));
    EXPECT_EQ(ReadAll(At("d.mp3")), test::ToBytes("D"));
    EXPECT_FALSE(fs::exists(At("new.mp3")));
}

TEST_F(RenameRun, NameUnchangedIsNoFailure) {
    WriteAll(At("a.mp3"), "A");
    const RenameResult r = RunRename({MakeRow("a.mp3", "a.mp3")}, {dir.path(), false});
    EXPECT_EQ(r.errors, 0);
    EXPECT_TRUE(fs::exists(At("a.mp3")));
}

TEST_F(RenameRun, FolderFailures) {
    WriteAll(At("a.mp3"), "A");
    WriteAll(At("b.mp3"), "B");
    WriteAll(At("blocker"), "a file where a folder should go");
    std::vector<BatchRow> rows = {
        MakeRow("a.mp3", S("blocker\\x.mp3")),
        MakeRow("b.mp3", S("..\\escaped.mp3")),
    };
    const RenameResult r = RunRename(rows, {dir.path(), false});
    ASSERT_EQ(r.outcomes.size(), 2u);
    EXPECT_EQ(r.outcomes[0].Code, kOutcomeCantCreateFolder);
    EXPECT_EQ(r.outcomes[1].Code, kOutcomeCantCreateFolder);
    EXPECT_EQ(r.errors, 2);
    EXPECT_TRUE(fs::exists(At("a.mp3")));
    EXPECT_TRUE(fs::exists(At("b.mp3")));
    EXPECT_FALSE(fs::exists(fs::path(dir.path()).parent_path() / "escaped.mp3"));
}

TEST_F(RenameRun, PermissionDenied) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root ignores folder permissions";
    fs::create_directories(At("ro"));
    WriteAll(At("ro/a.mp3"), "A");
    ::chmod(At("ro").c_str(), 0555);
    BatchRow row = MakeRow("a.mp3", "b.mp3");
    row.data.Folder = At("ro/");
    row.data.Path = row.data.Folder + "a.mp3";
    const RenameResult r = RunRename({row}, {dir.path(), true});
    ::chmod(At("ro").c_str(), 0755);
    ASSERT_EQ(r.outcomes.size(), 1u);
    EXPECT_EQ(r.outcomes[0].Code, kOutcomeAccessDenied);
    EXPECT_EQ(OutcomeText(r.outcomes[0]), "Access denied");
}

TEST(RenameOutcomes, TextsAndCodes) {
    const std::vector<std::pair<RenameOutcome, std::string>> texts = {
        {{"p", "new.mp3", 0}, "new.mp3"},
        {{"p", "", 1}, "File Error"},
        {{"p", "", 5}, "Access denied"},
        {{"p", "", 26}, "Can't create folder"},
        {{"p", "", 32}, "File used by another process"},
        {{"p", "", 183}, "File already exists"},
        {{"p", "", 2}, "File Error 2"},
    };
    for (const auto& [outcome, text] : texts)
        EXPECT_EQ(OutcomeText(outcome), text) << outcome.Code;

    const std::vector<std::pair<int, int>> codes = {
        {EEXIST, 183},
        {EACCES, 5},
        {EPERM, 5},
        {EROFS, 5},
        {EBUSY, 32},
        // The system's numbers must not be read as outcome codes.
        {EIO, 1},
        {ETXTBSY, 32},
        {EPIPE, 1},
        {ENOENT, 2},
    };
    for (const auto& [error, code] : codes)
        EXPECT_EQ(OutcomeCodeOfErrno(error), code) << error;
    EXPECT_EQ(RenameFailureMessage(3), "Can't rename file(s): 3");
}

TEST(RenameOutcomes, ShownOnRowsThatStillMatch) {
    std::vector<BatchRow> rows = {MakeRow("a.mp3", ""), MakeRow("b.mp3", ""), MakeRow("c.mp3", "")};
    ShowOutcomes(rows, {{"a.mp3", "x.mp3", 0}, {"other.mp3", "", 183}, {"c.mp3", "", 183}});
    EXPECT_EQ(rows[0].After, "x.mp3");
    EXPECT_EQ(rows[1].After, "");
    EXPECT_EQ(rows[2].After, "File already exists");
}

}  // namespace
}  // namespace sondrel
