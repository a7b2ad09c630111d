// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/batch_actions.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include "support/test_support.h"

#include "tags/file_io.h"
#include "util/paths.h"

namespace sondrel {
namespace {

using test::TempDir;

BatchRow FileRow(const TempDir& dir, const std::string& name, bool checked = true) {
    BatchRow row;
    row.data.Folder = dir.path() + "/";
    row.data.FileName = name;
    row.data.Path = name;
    row.Checked = checked;
    return row;
}

TEST(DeleteCheckedFiles, PermanentDeleteTakesTickedFilesOnly) {
    TempDir dir;
    test::WriteAll(dir.file("a.mp3"), "a");
    test::WriteAll(dir.file("b.mp3"), "b");
    ::mkdir(dir.file("folder.mp3").c_str(), 0755);
    const std::vector<BatchRow> rows = {
        FileRow(dir, "a.mp3"), FileRow(dir, "b.mp3", false), FileRow(dir, "folder.mp3"),
        FileRow(dir, ".."),    FileRow(dir, "missing.mp3"),
    };
    const DeleteResult r = DeleteCheckedFiles(rows, true, {});
    EXPECT_FALSE(FileExists(dir.file("a.mp3")));
    EXPECT_TRUE(FileExists(dir.file("b.mp3"))) << "unticked";
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("folder.mp3")))
        << "folders are never deleted";
    EXPECT_TRUE(std::filesystem::is_directory(dir.path())) << "nor the parent";
    EXPECT_EQ(r.deleted, (std::vector<std::size_t>{0}));
    EXPECT_EQ(r.errors, 3);
    ASSERT_EQ(r.outcomes.size(), 3u);
    EXPECT_EQ(r.outcomes[0].Path, "folder.mp3");
    EXPECT_EQ(r.outcomes[1].Path, "..");
    EXPECT_EQ(r.outcomes[2].Path, "missing.mp3");
    for (std::size_t k = 0; k < r.outcomes.size(); ++k) {
        EXPECT_EQ(r.outcomes[k].Code, kOutcomeFileError);
        EXPECT_FALSE(r.reasons[k].empty()) << k;
    }
}

TEST(DeleteCheckedFiles, AFailedTrashMoveIsAnError) {
    TempDir dir;
    test::WriteAll(dir.file("a.mp3"), "a");
    test::WriteAll(dir.file("b.mp3"), "b");
    std::vector<std::string> asked;
    const TrashMover refuse = [&asked](const std::string& path, std::string& error) {
        asked.push_back(path);
        error = "no trash on this volume";
        return false;
    };
    const std::vector<BatchRow> rows = {FileRow(dir, "a.mp3"), FileRow(dir, "b.mp3")};
    DeleteResult r = DeleteCheckedFiles(rows, false, refuse);
    EXPECT_EQ(asked, (std::vector<std::string>{dir.file("a.mp3"), dir.file("b.mp3")}));
    EXPECT_EQ(r.errors, 2);
    EXPECT_TRUE(r.deleted.empty());
    EXPECT_NE(r.reasons[0].find("no trash on this volume"), std::string::npos);
    EXPECT_TRUE(FileExists(dir.file("a.mp3")));
    EXPECT_EQ(DeleteFailureMessage(r.errors), "Can't delete file(s): 2");

    // Without a trash at all the move fails too, never a silent success.
    r = DeleteCheckedFiles(rows, false, {});
    EXPECT_EQ(r.errors, 2);

    const TrashMover accept = [](const std::string& path, std::string&) {
        return std::remove(path.c_str()) == 0;
    };
    r = DeleteCheckedFiles(rows, false, accept);
    EXPECT_EQ(r.errors, 0);
    EXPECT_EQ(r.deleted.size(), 2u);
    EXPECT_FALSE(FileExists(dir.file("b.mp3")));
}

TEST(PreviewRenameRows, RefusedRowsShowTheRunsReasonInTheirAfterCell) {
    TempDir dir;
    for (const char* name : {"one.mp3", "two.mp3", "bad.mp3", "empty.mp3", "Taken - Song.mp3"})
        test::WriteAll(dir.file(name), "x");
    std::vector<BatchRow> rows = {FileRow(dir, "one.mp3"), FileRow(dir, "two.mp3"),
                                  FileRow(dir, "bad.mp3"), FileRow(dir, "empty.mp3", false),
                                  FileRow(dir, "Taken - Song.mp3")};
    rows[0].data.Artist = "Art";
    rows[0].data.Title = "One";
    rows[1].data.Artist = "Art";
    rows[1].data.Title = "One";  // the same name as the first row
    rows[2].data.Valid = false;
    rows[2].data.Problem = "not an MPEG file";
    rows[4].data.Artist = "Taken";
    rows[4].data.Title = "Song";  // its own name: no change, no refusal
    RenameContext context;
    context.shownFolder = dir.path();
    NameOptions options;
    PreviewRenameRows(rows, "%A - %T", options, context);

    EXPECT_EQ(rows[0].After, "Art - One.mp3");
    EXPECT_EQ(AfterCellText(rows[0]), "Art - One.mp3");
    EXPECT_EQ(AfterCellText(rows[1]), "File already exists");
    EXPECT_EQ(AfterCellText(rows[2]), "not an MPEG file");
    EXPECT_EQ(AfterCellText(rows[3]), kMsgNoName) << "shown even while unticked";
    EXPECT_EQ(AfterCellText(rows[4]), "Taken - Song.mp3");
    EXPECT_FALSE(rows[3].Checked) << "the preview does not tick rows";
    EXPECT_TRUE(FileExists(dir.file("one.mp3"))) << "a preview renames nothing";

    // A new preview clears what no longer holds.
    rows[1].data.Title = "Two";
    PreviewRenameRows(rows, "%A - %T", options, context);
    EXPECT_EQ(AfterCellText(rows[1]), "Art - Two.mp3");
}

TEST(PreviewRenameRows, AgreesWithTheRunOnChainsAndBlockedFolders) {
    // An earlier row frees the name a later one takes; a file where a folder
    // should be refuses every row under it, however many ask.
    TempDir dir;
    for (const char* name : {"a.mp3", "b.mp3", "d.mp3", "e.mp3", "f.mp3", "g.mp3", "blocked"})
        test::WriteAll(dir.file(name), "x");
    std::filesystem::create_directory(dir.file("sub"));
    test::WriteAll(dir.file("sub/taken.mp3"), "in the way");
    std::vector<BatchRow> rows = {FileRow(dir, "b.mp3"), FileRow(dir, "a.mp3"),
                                  FileRow(dir, "d.mp3"), FileRow(dir, "e.mp3"),
                                  FileRow(dir, "f.mp3"), FileRow(dir, "g.mp3")};
    // And in an existing folder: a name taken there, and a free one.
    const char* artists[] = {"", "", "blocked", "blocked", "sub", "sub"};
    const char* titles[] = {"c", "b", "d2", "e2", "taken", "free"};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i].data.Artist = artists[i];
        rows[i].data.Title = titles[i];
    }
    RenameContext context;
    context.shownFolder = dir.path();
    NameOptions options;
    options.removeExtraSpaces = true;
    const std::string nameTemplate = "%A\\%T";
    PreviewRenameRows(rows, nameTemplate, options, context);
    EXPECT_EQ(rows[0].Problem, "");
    EXPECT_EQ(rows[1].Problem, "") << "b.mp3 is freed by the row before";
    EXPECT_NE(rows[2].Problem.find("a file has that name"), std::string::npos);
    EXPECT_NE(rows[3].Problem.find("a file has that name"), std::string::npos);
    EXPECT_EQ(rows[4].Problem, "File already exists");
    EXPECT_EQ(rows[5].Problem, "");

    const RenameResult run = RunRename(rows, context);
    EXPECT_EQ(run.renamed, (std::vector<std::size_t>{0, 1, 5}));
    EXPECT_EQ(run.errors, 3);
    EXPECT_EQ(test::ReadAll(dir.file("sub/taken.mp3")), test::ToBytes("in the way"));

    // The preview's "as if ticked" never reaches a real run.
    test::WriteAll(dir.file("h.mp3"), "x");
    std::vector<BatchRow> unticked = {FileRow(dir, "h.mp3", false)};
    unticked[0].After = "h2.mp3";
    context.asIfTicked = true;
    EXPECT_TRUE(RunRename(unticked, context).renamed.empty());
    EXPECT_TRUE(FileExists(dir.file("h.mp3")));
    EXPECT_TRUE(FileExists(dir.file("c.mp3")));
    EXPECT_TRUE(FileExists(dir.file("b.mp3")));
    EXPECT_FALSE(FileExists(dir.file("a.mp3")));
}

TEST(RunSummary, ListsEveryFailureWithItsReason) {
    EXPECT_EQ(RunSummary("Can't rename file(s): 0", {{"a.mp3", "x.mp3", kOutcomeOk}}, {""}), "");
    EXPECT_EQ(RunSummary(RenameFailureMessage(2),
                         {{"a.mp3", "", kOutcomeAlreadyExists},
                          {"b.mp3", "b2.mp3", kOutcomeOk},
                          {"c.mp3", "", kOutcomeAccessDenied}},
                         {"File already exists", "", ""}),
              "Can't rename file(s): 2\na.mp3: File already exists\nc.mp3: Access denied");
}

}  // namespace
}  // namespace sondrel
