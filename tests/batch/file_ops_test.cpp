// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/file_ops.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>

#include "support/test_support.h"

namespace sondrel {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::TempDir;
using test::WriteAll;

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string Text(const std::string& path) {
    const auto bytes = ReadAll(path);
    return std::string(bytes.begin(), bytes.end());
}

// Names the copy writes while working; none may be left behind.
std::vector<std::string> LeftoverTemporaries(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.path().filename().string().rfind(".sondrel-", 0) == 0)
            found.push_back(entry.path().string());
    return found;
}

TEST(ProposeEntryName, FollowsArtistTitleAndExtensionRules) {
    struct Case {
        const char* artist;
        const char* title;
        const char* ext;
        const char* rowText;
        bool isFile;
        const char* expected;
    };
    const Case cases[] = {
        {"A", "B", ".MP3", "old.mp3", true, "A - B.mp3"},
        {"", "", ".MP3", "old name.MP3", true, "old name.MP3"},
        {"", "C/D", ".MP3", "x.mp3", true, "CD.mp3"},
        {"AC/DC", "Live?", ".MP3", "x.mp3", true, "ACDC - Live.mp3"},
        {"", "Song.mp3", ".MP3", "x.mp3", true, "Song.mp3"},
        {"", "", ".FLAC", "long.flac", true, "long.flac"},
        {"", "abcd", "", "row", true, "abcd"},
        {"A", "B", "", "Folder", false, "Folder"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ProposeEntryName(c.artist, c.title, c.ext, c.rowText, c.isFile), c.expected)
            << c.artist << " / " << c.title << " / " << c.ext;
}

TEST(ProposeEntryName, StripsTrailingNulsOfTagValues) {
    EXPECT_EQ(
        ProposeEntryName(std::string("Art\0\0", 5), std::string("Ti\0", 3), ".MP3", "x", true),
        "Art - Ti.mp3");
}

TEST(RenameEntry, RenamesAndRefusesWhatWouldReplaceOrEscape) {
    TempDir dir;
    WriteAll(dir.file("a.mp3"), std::string("A"));
    WriteAll(dir.file("b.mp3"), std::string("B"));

    EXPECT_EQ(RenameEntry(dir.path(), "a.mp3", "b.mp3"), "File already exists");
    EXPECT_EQ(Text(dir.file("a.mp3")), "A");
    EXPECT_EQ(Text(dir.file("b.mp3")), "B");

    EXPECT_FALSE(RenameEntry(dir.path(), "..", "up").empty());
    EXPECT_FALSE(RenameEntry(dir.path(), "a.mp3", "../escaped.mp3").empty());
    EXPECT_FALSE(Exists(fs::path(dir.path()).parent_path().string() + "/escaped.mp3"));
    EXPECT_FALSE(RenameEntry(dir.path(), "a.mp3", "").empty());

    EXPECT_EQ(RenameEntry(dir.path(), "a.mp3", "c.mp3"), "");
    EXPECT_FALSE(Exists(dir.file("a.mp3")));
    EXPECT_EQ(Text(dir.file("c.mp3")), "A");
}

TEST(RenameNoReplace, TwoLinksOfOneFileAreNotOneEntry) {
    // rename() between two links of one file succeeds without doing anything;
    // the caller would believe the old name is gone.
    TempDir dir;
    WriteAll(dir.file("a"), std::string("x"));
    ASSERT_EQ(::link(dir.file("a").c_str(), dir.file("b").c_str()), 0);
    EXPECT_EQ(RenameNoReplace(dir.file("a"), dir.file("b")), EEXIST);
    EXPECT_TRUE(Exists(dir.file("a")));
    EXPECT_EQ(RenameEntry(dir.path(), "a", "b"), "File already exists");
}

TEST(DeleteEntries, ReportsEachEntryThatStays) {
    TempDir dir;
    WriteAll(dir.file("gone.mp3"), std::string("x"));
    fs::create_directories(dir.file("empty/inner"));
    fs::create_directories(dir.file("full"));
    WriteAll(dir.file("full/keep.mp3"), std::string("k"));

    const auto failures = DeleteEntries({dir.file("gone.mp3"), dir.file("empty"), dir.file("full"),
                                         dir.file(".."), dir.file("missing")},
                                        true, {});
    EXPECT_FALSE(Exists(dir.file("gone.mp3")));
    EXPECT_FALSE(Exists(dir.file("empty")));
    EXPECT_EQ(Text(dir.file("full/keep.mp3")), "k");
    ASSERT_EQ(failures.size(), 3u);
    EXPECT_EQ(failures[0].path, dir.file("full"));
    EXPECT_EQ(failures[1].path, dir.file(".."));
    EXPECT_EQ(failures[2].path, dir.file("missing"));
    for (const auto& f : failures)
        EXPECT_FALSE(f.reason.empty()) << f.path;
}

TEST(DeleteEntries, AFailedMoveToTheTrashIsAFailure) {
    TempDir dir;
    WriteAll(dir.file("a.mp3"), std::string("a"));
    WriteAll(dir.file("b.mp3"), std::string("b"));
    std::vector<std::string> trashed;
    const auto failures = DeleteEntries({dir.file("a.mp3"), dir.file("b.mp3")}, false,
                                        [&](const std::string& path, std::string& reason) {
                                            if (path.ends_with("b.mp3")) {
                                                reason = "the trash is on another device";
                                                return false;
                                            }
                                            trashed.push_back(path);
                                            return true;
                                        });
    EXPECT_EQ(trashed, std::vector<std::string>{dir.file("a.mp3")});
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].path, dir.file("b.mp3"));
    EXPECT_EQ(failures[0].reason, "the trash is on another device");
    EXPECT_TRUE(Exists(dir.file("b.mp3")));
}

struct ConflictCase {
    const char* name;
    std::vector<ConflictAnswer> answers;  // in the order asked
    const char* firstAfter;
    const char* secondAfter;
    std::size_t asked;
    bool stopped;
};

class TransferConflicts : public ::testing::TestWithParam<ConflictCase> {};

TEST_P(TransferConflicts, AnExistingFileIsReplacedOnlyWhenTheAnswerSaysSo) {
    const ConflictCase& c = GetParam();
    for (TransferMode mode : {TransferMode::Copy, TransferMode::Move}) {
        TempDir dir;
        fs::create_directories(dir.file("src"));
        fs::create_directories(dir.file("dst"));
        WriteAll(dir.file("src/1.mp3"), std::string("new1"));
        WriteAll(dir.file("src/2.mp3"), std::string("new2"));
        WriteAll(dir.file("dst/1.mp3"), std::string("old1"));
        WriteAll(dir.file("dst/2.mp3"), std::string("old2"));
        std::size_t asked = 0;
        TransferCallbacks callbacks;
        callbacks.askReplace = [&](const std::string&) {
            return asked < c.answers.size() ? c.answers[asked++] : ConflictAnswer::Cancel;
        };
        const auto report = TransferEntries({dir.file("src/1.mp3"), dir.file("src/2.mp3")},
                                            dir.file("dst"), mode, callbacks);
        EXPECT_EQ(Text(dir.file("dst/1.mp3")), c.firstAfter) << c.name;
        EXPECT_EQ(Text(dir.file("dst/2.mp3")), c.secondAfter) << c.name;
        EXPECT_EQ(asked, c.asked) << c.name;
        EXPECT_EQ(report.stopped, c.stopped) << c.name;
        EXPECT_TRUE(report.failures.empty()) << c.name;
        // A source that was not carried over is still where it was.
        if (mode == TransferMode::Move) {
            EXPECT_EQ(Exists(dir.file("src/1.mp3")), std::string(c.firstAfter) == "old1") << c.name;
        }
        EXPECT_TRUE(LeftoverTemporaries(dir.path()).empty()) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, TransferConflicts,
    ::testing::Values(
        ConflictCase{
            "skip both", {ConflictAnswer::Skip, ConflictAnswer::Skip}, "old1", "old2", 2, false},
        ConflictCase{"replace first",
                     {ConflictAnswer::Replace, ConflictAnswer::Skip},
                     "new1",
                     "old2",
                     2,
                     false},
        ConflictCase{
            "replace all asks once", {ConflictAnswer::ReplaceAll}, "new1", "new2", 1, false},
        ConflictCase{"cancel stops the run", {ConflictAnswer::Cancel}, "old1", "old2", 1, true}),
    [](const auto& info) {
        std::string name = info.param.name;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

TEST(TransferEntries, WithoutAQuestionAnExistingFileIsSkipped) {
    TempDir dir;
    fs::create_directories(dir.file("dst"));
    WriteAll(dir.file("a.mp3"), std::string("new"));
    WriteAll(dir.file("dst/a.mp3"), std::string("old"));
    const auto report =
        TransferEntries({dir.file("a.mp3")}, dir.file("dst"), TransferMode::Move, {});
    EXPECT_EQ(Text(dir.file("dst/a.mp3")), "old");
    EXPECT_EQ(Text(dir.file("a.mp3")), "new");
    EXPECT_EQ(report.filesSkipped, 1u);
}

TEST(TransferEntries, AFolderNeverGoesIntoItself) {
    TempDir dir;
    fs::create_directories(dir.file("album/disc1"));
    WriteAll(dir.file("album/a.mp3"), std::string("a"));
    for (TransferMode mode : {TransferMode::Copy, TransferMode::Move}) {
        for (const char* target : {"album", "album/disc1"}) {
            const auto report = TransferEntries({dir.file("album")}, dir.file(target), mode, {});
            ASSERT_EQ(report.failures.size(), 1u) << target;
            EXPECT_EQ(report.failures[0].path, dir.file("album"));
        }
    }
    EXPECT_EQ(Text(dir.file("album/a.mp3")), "a");
    EXPECT_FALSE(Exists(dir.file("album/album")));
    EXPECT_FALSE(Exists(dir.file("album/disc1/album")));
    const auto dots =
        TransferEntries({dir.file("album/..")}, dir.file("album"), TransferMode::Copy, {});
    EXPECT_EQ(dots.failures.size(), 1u);
}

TEST(TransferEntries, CopiesTreesWithModesAndTimesAndMovesByRename) {
    TempDir dir;
    fs::create_directories(dir.file("album/disc2"));
    fs::create_directories(dir.file("dst"));
    WriteAll(dir.file("album/a.mp3"), std::string("a"));
    WriteAll(dir.file("album/disc2/b.mp3"), std::string("bb"));
    ::chmod(dir.file("album/a.mp3").c_str(), 0440);
    const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ::utimensat(AT_FDCWD, dir.file("album/a.mp3").c_str(), times, 0);

    auto report = TransferEntries({dir.file("album")}, dir.file("dst"), TransferMode::Copy, {});
    EXPECT_TRUE(report.failures.empty());
    EXPECT_EQ(report.filesDone, 2u);
    EXPECT_EQ(Text(dir.file("dst/album/a.mp3")), "a");
    EXPECT_EQ(Text(dir.file("dst/album/disc2/b.mp3")), "bb");
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("dst/album/a.mp3").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0440u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
    EXPECT_TRUE(Exists(dir.file("album/a.mp3")));

    fs::create_directories(dir.file("moved"));
    report = TransferEntries({dir.file("album")}, dir.file("moved"), TransferMode::Move, {});
    EXPECT_TRUE(report.failures.empty());
    EXPECT_FALSE(Exists(dir.file("album")));
    EXPECT_EQ(Text(dir.file("moved/album/disc2/b.mp3")), "bb");
    EXPECT_TRUE(LeftoverTemporaries(dir.path()).empty());
}

TEST(TransferEntries, StopEndsTheRunAfterTheCurrentEntry) {
    TempDir dir;
    fs::create_directories(dir.file("dst"));
    std::vector<std::string> sources;
    for (int i = 0; i < 5; ++i) {
        sources.push_back(dir.file(std::to_string(i) + ".mp3"));
        WriteAll(sources.back(), std::string("x"));
    }
    std::size_t done = 0;
    TransferCallbacks callbacks;
    callbacks.keepGoing = [&] { return done < 2; };
    callbacks.onEntryDone = [&](const std::string&) { ++done; };
    const auto report = TransferEntries(sources, dir.file("dst"), TransferMode::Copy, callbacks);
    EXPECT_TRUE(report.stopped);
    EXPECT_EQ(report.filesDone, 2u);
    EXPECT_TRUE(Exists(dir.file("dst/1.mp3")));
    EXPECT_FALSE(Exists(dir.file("dst/2.mp3")));
}

TEST(TransferEntries, MovesAcrossFileSystemsByWholeFlushedCopies) {
    TempDir here;
    const std::string shm = "/dev/shm";
    struct stat a {};
    struct stat b {};
    if (::stat(here.path().c_str(), &a) != 0 || ::stat(shm.c_str(), &b) != 0 ||
        a.st_dev == b.st_dev)
        GTEST_SKIP() << "no second file system to move to";
    const std::string target = shm + "/sondrel-move-" + std::to_string(::getpid());
    fs::create_directories(target);
    fs::create_directories(here.file("album/disc1"));
    WriteAll(here.file("album/disc1/t.mp3"), std::string(300000, 'm'));
    WriteAll(here.file("single.mp3"), std::string("s"));
    ::symlink("disc1/t.mp3", here.file("album/link.mp3").c_str());

    const auto report = TransferEntries({here.file("album"), here.file("single.mp3")}, target,
                                        TransferMode::Move, {});
    EXPECT_TRUE(report.failures.empty())
        << (report.failures.empty() ? "" : report.failures[0].reason);
    EXPECT_FALSE(Exists(here.file("album")));
    EXPECT_FALSE(Exists(here.file("single.mp3")));
    EXPECT_EQ(Text(target + "/album/disc1/t.mp3"), std::string(300000, 'm'));
    EXPECT_EQ(Text(target + "/single.mp3"), "s");
    EXPECT_EQ(fs::read_symlink(target + "/album/link.mp3").string(), "disc1/t.mp3");
    EXPECT_TRUE(LeftoverTemporaries(target).empty());
    fs::remove_all(target);
}

TEST(TransferEntries, ACopyThatRunsOutOfSpaceLeavesNothingBehind) {
    TempDir dir;
    fs::create_directories(dir.file("dst"));
    WriteAll(dir.file("big.mp3"), std::string(1 << 20, 'b'));
    WriteAll(dir.file("dst/big.mp3"), std::string("old"));
    // A child process with a file-size limit stands in for a full disk; the
    // copy replaces the existing file, so a half copy would destroy it.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        TransferCallbacks callbacks;
        callbacks.askReplace = [](const std::string&) { return ConflictAnswer::Replace; };
        const auto report =
            TransferEntries({dir.file("big.mp3")}, dir.file("dst"), TransferMode::Copy, callbacks);
        ::_exit(report.failures.size() == 1 && report.filesDone == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(Text(dir.file("dst/big.mp3")) == "old");
    EXPECT_EQ(Text(dir.file("big.mp3")).size(), 1u << 20);
    EXPECT_TRUE(LeftoverTemporaries(dir.path()).empty());
}

TEST(ListReselection, AfterDeleteAndRename) {
    struct DeleteCase {
        int focused;
        std::vector<int> selected;
        int rowsAfter;
        int row;
    };
    const DeleteCase deletes[] = {
        {4, {4}, 9, 4},        // row 5 of 10: the row that followed it
        {4, {4, 5, 6}, 7, 6},  // counting on past the selected rows below
        {4, {6, 5, 4}, 7, 6},  // in any order
        {4, {2, 4}, 8, 4},     // rows above are not counted: index 4 of the shorter list
        {9, {9}, 9, -1},       // the last row: none follows
        {8, {8, 9}, 8, -1},    // the rest of the list went
        {-1, {0}, 5, 0},       // nothing focused: counted from the top
        {3, {3}, 0, -1},       // an emptied list
        {4, {4}, 10, 4},       // a failed delete: the focused row again
    };
    for (const DeleteCase& c : deletes)
        EXPECT_EQ(RowAfterDelete(c.focused, c.selected, c.rowsAfter), c.row) << c.focused;

    struct RenameCase {
        int focused;
        int rowsAfter;
        int row;
        bool select;
    };
    const RenameCase renames[] = {
        {3, 10, 4, true},                     // on to the next row
        {9, 10, 9, false},                    // the last row: it stays, focused only
        {0, 1, 0, false},  {5, 3, 2, false},  // a shorter list: its last row
        {0, 0, -1, false},
    };
    for (const RenameCase& c : renames) {
        const RowChoice choice = RowAfterRename(c.focused, c.rowsAfter);
        EXPECT_EQ(choice.row, c.row) << c.focused;
        EXPECT_EQ(choice.select, c.select) << c.focused;
    }
}

TEST(RememberFolder, KeepsTheTenNewestDistinctFoldersInOrder) {
    std::vector<std::string> list;
    EXPECT_FALSE(RememberFolder(list, ""));
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(RememberFolder(list, "/m/" + std::to_string(i)));
    EXPECT_FALSE(RememberFolder(list, "/m/3/"));
    list[4] = "/m/&4/";  // as a menu may have marked it
    EXPECT_FALSE(RememberFolder(list, "/m/4"));
    EXPECT_TRUE(RememberFolder(list, "/m/10"));
    ASSERT_EQ(list.size(), kRememberedFolders);
    EXPECT_EQ(list.front(), "/m/1/");
    EXPECT_EQ(list.back(), "/m/10/");
}

TEST(WithoutFirstAmpersand, RemovesOnlyTheFirst) {
    EXPECT_EQ(WithoutFirstAmpersand("&Rock && Roll"), "Rock && Roll");
    EXPECT_EQ(WithoutFirstAmpersand("/music/"), "/music/");
}

}  // namespace
}  // namespace sondrel
