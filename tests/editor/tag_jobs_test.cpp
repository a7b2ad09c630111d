// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/tag_jobs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace sondrel {
namespace {

using test::ReadAll;
using test::TempDir;
using test::WriteAll;

// Three tagged MP3s, a folder row between them and a text file, as a list
// selection hands them to a run.
class ManyFiles : public ::testing::Test {
protected:
    void SetUp() override {
        audio_ = test::SilentMp3();
        if (audio_.empty())
            GTEST_SKIP() << "ffmpeg is not installed";
        Reset();
    }
    // The files as they were before any run.
    void Reset() {
        for (const char* name : {"a.mp3", "b.mp3", "c.mp3"}) {
            const std::string path = dir_.file(name);
            WriteAll(path, audio_);
            TagBridge b;
            b.Read(path);
            TagFields h = b.Hub();
            h.title = std::string("Title of ") + name;
            h.artist = "Old artist";
            b.setHub(h);
            ASSERT_TRUE(b.Save(path).ok);
        }
        WriteAll(dir_.file("notes.txt"), std::string("not audio"));
        items_ = {{0, dir_.file("a.mp3"), true},
                  {1, dir_.path() + "/sub", false},
                  {2, dir_.file("b.mp3"), true},
                  {3, dir_.file("notes.txt"), true},
                  {4, dir_.file("c.mp3"), true}};
    }
    TagFields Read(const std::string& name) {
        TagBridge b;
        b.Read(dir_.file(name));
        return b.Hub();
    }

    TempDir dir_;
    test::Bytes audio_;
    std::vector<JobItem> items_;
};

TEST_F(ManyFiles, SaveWritesTheEditsAndKeepsEachFilesOtherValues) {
    FieldEdits edits;
    edits[Field::Artist] = "New artist";
    std::vector<int> steps;
    std::vector<std::string> done;
    JobCallbacks c;
    c.onStep = [&](const JobItem& i) { steps.push_back(i.row); };
    c.onFileDone = [&](const JobItem& i, const SaveOutcome& o) {
        done.push_back(i.path);
        EXPECT_TRUE(o.ok) << i.path << ": " << o.error;
    };
    TagBridge bridge;
    EXPECT_EQ(SaveEditsToFiles(bridge, items_, edits, c), 3);
    EXPECT_EQ(steps, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(done.size(), 3u) << "the text file is no audio file to save";
    for (const char* name : {"a.mp3", "b.mp3", "c.mp3"}) {
        const TagFields h = Read(name);
        EXPECT_EQ(h.artist, "New artist") << name;
        EXPECT_EQ(h.title, std::string("Title of ") + name) << "a kept field took another's value";
    }
    EXPECT_EQ(ReadAll(dir_.file("notes.txt")), test::ToBytes("not audio"));
}

TEST_F(ManyFiles, StoppedSaveStepsTheRestWithoutWritingThem) {
    const test::Bytes bBefore = ReadAll(dir_.file("b.mp3"));
    const test::Bytes cBefore = ReadAll(dir_.file("c.mp3"));
    FieldEdits edits;
    edits[Field::Title] = "Same";
    int asked = 0;
    std::vector<int> steps;
    JobCallbacks c;
    c.keepGoing = [&] { return ++asked <= 1; };  // Stop pressed during the first file
    c.onStep = [&](const JobItem& i) { steps.push_back(i.row); };
    TagBridge bridge;
    EXPECT_EQ(SaveEditsToFiles(bridge, items_, edits, c), 1);
    EXPECT_EQ(steps, (std::vector<int>{0, 1, 2, 3, 4})) << "skipped rows must still be unselected";
    EXPECT_EQ(Read("a.mp3").title, "Same");
    EXPECT_EQ(ReadAll(dir_.file("b.mp3")), bBefore);
    EXPECT_EQ(ReadAll(dir_.file("c.mp3")), cBefore);
}

TEST_F(ManyFiles, AFailedFileIsReportedAndTheRunGoesOn) {
    std::vector<JobItem> items = {{0, dir_.file("missing.mp3"), true},
                                  {1, dir_.file("b.mp3"), true}};
    FieldEdits edits;
    edits[Field::Album] = "Album";
    std::vector<SaveOutcome> outcomes;
    JobCallbacks c;
    c.onFileDone = [&](const JobItem&, const SaveOutcome& o) { outcomes.push_back(o); };
    TagBridge bridge;
    EXPECT_EQ(SaveEditsToFiles(bridge, items, edits, c), 1);
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_FALSE(outcomes[0].ok);
    EXPECT_FALSE(outcomes[0].error.empty());
    EXPECT_TRUE(outcomes[1].ok);
    EXPECT_EQ(Read("b.mp3").album, "Album");
}

// The files are committed two at a time; the rename of the second file
// fails. Each outcome comes once its file is in place (or known to have
// failed), followed at once by its step, and the run goes on. The same
// whether the commits run here or on a worker, as the window runs them:
// only the commits go there, outcomes and steps come on the run's thread.
TEST_F(ManyFiles, OutcomesComeAfterTheCommitAndAFailedRenameFailsOnlyItsFile) {
    struct Runner {
        const char* name;
        bool onWorker;
    };
    for (const Runner runner :
         {Runner{"commits here", false}, Runner{"commits on a worker", true}}) {
        SCOPED_TRACE(runner.name);
        Reset();
        const test::Bytes bBefore = ReadAll(dir_.file("b.mp3"));
        FieldEdits edits;
        edits[Field::Artist] = "New artist";
        // Longer than any padding: every file is rewritten and renamed.
        edits[Field::Comment] = std::string(700, 'c');
        int renames = 0;
        std::vector<std::string> events;
        IoFaults faults;
        faults.step = [&](IoStep s) {
            if (s == IoStep::Sync)
                events.push_back("flush");
            if (s != IoStep::Rename)
                return true;
            events.push_back("rename");
            return ++renames != 2;
        };
        TagBridge bridge;
        bridge.SetIoFaults(faults);
        JobCallbacks c;
        c.group.files = 2;
        const std::thread::id runThread = std::this_thread::get_id();
        int commits = 0;
        bool inCommit = false;
        if (runner.onWorker) {
            c.runCommit = [&](const std::function<void()>& commit) {
                ++commits;
                inCommit = true;
                std::thread worker([&] {
                    EXPECT_NE(std::this_thread::get_id(), runThread);
                    commit();
                });
                worker.join();
                inCommit = false;
            };
        }
        // Nothing of the run's own reaches the window from inside a commit.
        auto onRunThread = [&] {
            EXPECT_FALSE(inCommit);
            EXPECT_EQ(std::this_thread::get_id(), runThread);
        };
        c.keepGoing = [&] {
            onRunThread();
            return true;
        };
        c.onFileDone = [&](const JobItem& i, const SaveOutcome& o) {
            onRunThread();
            const std::string name = std::filesystem::path(i.path).filename().string();
            events.push_back("done " + name + (o.ok ? "" : " failed"));
            if (o.ok) {
                EXPECT_EQ(Read(name).artist, "New artist") << name << " was told saved too early";
            } else {
                EXPECT_NE(o.error.find("cannot replace file"), std::string::npos) << o.error;
            }
        };
        c.onStep = [&](const JobItem& i) {
            onRunThread();
            events.push_back("step " + std::to_string(i.row));
        };
        EXPECT_EQ(SaveEditsToFiles(bridge, items_, edits, c), 2);
        EXPECT_EQ(events,
                  (std::vector<std::string>{"flush", "flush", "rename", "rename", "done a.mp3",
                                            "step 0", "step 1", "done b.mp3 failed", "step 2",
                                            "step 3", "flush", "rename", "done c.mp3", "step 4"}));
        // One commit for each group with files to flush, none for the rows
        // only stepped.
        EXPECT_EQ(commits, runner.onWorker ? 2 : 0);
        EXPECT_EQ(ReadAll(dir_.file("b.mp3")), bBefore);
        EXPECT_EQ(Read("c.mp3").artist, "New artist");
        // The bridge is left with the faults it had, without the run's group.
        EXPECT_EQ(bridge.IoFaultsInUse().group, nullptr);
    }
}

TEST_F(ManyFiles, RemoveTakesTheTagFromFilesItAppliesToAndStopsAtOnce) {
    JobCallbacks c;
    std::vector<int> steps;
    c.onStep = [&](const JobItem& i) { steps.push_back(i.row); };
    TagBridge bridge;
    // Only rows 0 and 2 before the stop: row 4 keeps its tag.
    int asked = 0;
    c.keepGoing = [&] { return ++asked <= 4; };
    EXPECT_EQ(RemoveTagsFromFiles(bridge, items_, RemoveKind::AllId3, c), 2);
    EXPECT_EQ(steps, (std::vector<int>{0, 2, 3})) << "folders pass by without a step";
    EXPECT_EQ(Read("a.mp3").title, "");
    EXPECT_EQ(Read("b.mp3").title, "");
    EXPECT_EQ(Read("c.mp3").title, "Title of c.mp3");
    EXPECT_EQ(ReadAll(dir_.file("notes.txt")), test::ToBytes("not audio"));
}

TEST(RemoveApplies, OggCommandOnlyToOggAndId3CommandsOnlyToMp3) {
    struct Case {
        RemoveKind kind;
        const char* path;
        bool applies;
    };
    const Case cases[] = {
        {RemoveKind::Ogg, "x.ogg", true},    {RemoveKind::Ogg, "x.mp3", false},
        {RemoveKind::Id3v1, "x.MP3", true},  {RemoveKind::AllId3, "x.ogg", false},
        {RemoveKind::Id3v2, "x.wma", false}, {RemoveKind::Id3v2, "noext", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RemoveApplies(c.kind, c.path), c.applies) << c.path;
}

}  // namespace
}  // namespace sondrel
