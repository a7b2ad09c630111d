// SPDX-License-Identifier: GPL-3.0-or-later
// Saves of several files through one group: nothing is renamed before the
// flush that covers it, a failed flush or rename fails exactly the files it
// concerns (which keep their old content), and locks and the changed-since-
// read check hold until each file's rename.
#include "tags/save_group.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace sondrel {
namespace {

using test::Bytes;
using test::ReadAll;
using test::TempDir;
using test::ToBytes;
using test::WriteAll;

std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A whole-file rewrite giving the file `content`.
IoResult Rewrite(const std::string& path, const std::string& content, const IoFaults& faults) {
    return SafeReplace(
        path, [&](ReplaceWriter& w, std::string&) { return w.Write(ToBytes(content)); }, faults);
}

// An in-place change of the file's first bytes, as a tag that fits is written.
IoResult Overwrite(const std::string& path, const std::string& head, const IoFaults& faults) {
    return WriteTail(path, 0, ToBytes(head), -1, faults);
}

// Four files, two rewritten and two changed in place, in one group.
class GroupOfFour : public ::testing::TestWithParam<SaveGroup::Flush> {
protected:
    void SetUp() override {
        for (const char* name : kNames)
            WriteAll(dir_.file(name), std::string("old ") + name);
    }
    // Writes every file through `faults[i]` (the group added); the results
    // of the writes themselves.
    std::vector<IoResult> WriteAllFour(SaveGroup& group, std::vector<IoFaults> faults) {
        faults.resize(4);
        std::vector<IoResult> out;
        for (std::size_t i = 0; i < 4; ++i) {
            faults[i].group = &group;
            faults_.push_back(faults[i]);
        }
        for (std::size_t i = 0; i < 4; ++i) {
            const std::string path = dir_.file(kNames[i]);
            out.push_back(i % 2 == 0 ? Rewrite(path, std::string("new ") + kNames[i], faults_[i])
                                     : Overwrite(path, "NEW", faults_[i]));
        }
        return out;
    }
    std::string Content(std::size_t i) {
        const Bytes b = ReadAll(dir_.file(kNames[i]));
        return std::string(b.begin(), b.end());
    }
    std::string Old(std::size_t i) { return std::string("old ") + kNames[i]; }
    std::string New(std::size_t i) {
        return i % 2 == 0 ? std::string("new ") + kNames[i] : "NEW" + Old(i).substr(3);
    }

    static constexpr const char* kNames[] = {"a.mp3", "b.mp3", "c.mp3", "d.mp3"};
    TempDir dir_;
    std::vector<IoFaults> faults_;  // kept: the Files of the saves point at them
};

TEST_P(GroupOfFour, NothingIsRenamedBeforeTheCommitAndAllLandAfterIt) {
    SaveGroup group(SaveGroup::Limits{}, GetParam());
    faults_.reserve(4);
    for (const IoResult& r : WriteAllFour(group, {}))
        ASSERT_TRUE(r) << r.error;
    EXPECT_EQ(group.PendingCount(), 4u);
    // The rewrites wait unnamed; only what was written in place shows.
    EXPECT_EQ(Content(0), Old(0));
    EXPECT_EQ(Content(2), Old(2));
    EXPECT_EQ(Entries(dir_.path()), (std::vector<std::string>{"a.mp3", "b.mp3", "c.mp3", "d.mp3"}));

    std::vector<std::string> told;
    for (std::size_t i = 0; i < 4; ++i) {
        group.WhenCommitted(dir_.file(kNames[i]), [&, i](const IoResult& r) {
            EXPECT_TRUE(r) << r.error;
            // Told only once the file is in place.
            EXPECT_EQ(Content(i), New(i));
            told.push_back(kNames[i]);
        });
    }
    EXPECT_TRUE(group.Commit().empty());
    EXPECT_EQ(told, (std::vector<std::string>{"a.mp3", "b.mp3", "c.mp3", "d.mp3"}));
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(Content(i), New(i)) << kNames[i];
    EXPECT_EQ(Entries(dir_.path()), (std::vector<std::string>{"a.mp3", "b.mp3", "c.mp3", "d.mp3"}));
    EXPECT_EQ(group.PendingCount(), 0u);
}

// The flush of the third file fails. One syncfs covers every file of the
// file system, so all four fail; flushed one by one, only that file does.
// Each failed file is wholly old, whichever way it was written.
TEST_P(GroupOfFour, AFailedFlushFailsEveryFileItCovered) {
    SaveGroup group(SaveGroup::Limits{}, GetParam());
    faults_.reserve(4);
    std::vector<IoFaults> faults(4);
    faults[2].step = [](IoStep s) { return s != IoStep::Sync; };
    for (const IoResult& r : WriteAllFour(group, faults))
        ASSERT_TRUE(r) << r.error;
    std::map<std::string, IoResult> told;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::string path = dir_.file(kNames[i]);
        group.WhenCommitted(path, [&, path](const IoResult& r) { told[path] = r; });
    }
    const auto failures = group.Commit();
    const bool all = GetParam() == SaveGroup::Flush::FileSystem;
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(kNames[i]);
        const std::string path = dir_.file(kNames[i]);
        const bool covered = all || i == 2;
        EXPECT_EQ(failures.count(path), covered ? 1u : 0u);
        EXPECT_EQ(told[path].ok, !covered);
        if (covered) {
            EXPECT_NE(told[path].error.find("flush failed"), std::string::npos) << told[path].error;
        }
        // A rewrite whose bytes were never durable is never renamed; an
        // in-place change gets its old bytes back.
        EXPECT_EQ(Content(i), covered ? Old(i) : New(i));
    }
    EXPECT_EQ(Entries(dir_.path()), (std::vector<std::string>{"a.mp3", "b.mp3", "c.mp3", "d.mp3"}));
}

TEST_P(GroupOfFour, AFailedRenameLeavesThatFileOldAndTheOthersNew) {
    SaveGroup group(SaveGroup::Limits{}, GetParam());
    faults_.reserve(4);
    std::vector<IoFaults> faults(4);
    faults[2].step = [](IoStep s) { return s != IoStep::Rename; };
    for (const IoResult& r : WriteAllFour(group, faults))
        ASSERT_TRUE(r) << r.error;
    const auto failures = group.Commit();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures.begin()->first, dir_.file("c.mp3"));
    EXPECT_NE(failures.begin()->second.find("cannot replace file"), std::string::npos);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(Content(i), i == 2 ? Old(i) : New(i)) << kNames[i];
    EXPECT_EQ(Entries(dir_.path()), (std::vector<std::string>{"a.mp3", "b.mp3", "c.mp3", "d.mp3"}));
}

// A disk filling up half-way through one file's rewrite: that save fails at
// once, leaves its file old, and the rest of the group lands.
TEST_P(GroupOfFour, AHalfLandedWriteLeavesThatFileOld) {
    SaveGroup group(SaveGroup::Limits{}, GetParam());
    faults_.reserve(4);
    std::vector<IoFaults> faults(4);
    faults[2].write = [](std::size_t n) { return WriteVerdict::Partial(n / 2); };
    const std::vector<IoResult> written = WriteAllFour(group, faults);
    EXPECT_FALSE(written[2]);
    EXPECT_EQ(group.PendingCount(), 3u);
    EXPECT_TRUE(group.Commit().empty());
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(Content(i), i == 2 ? Old(i) : New(i)) << kNames[i];
    EXPECT_EQ(Entries(dir_.path()), (std::vector<std::string>{"a.mp3", "b.mp3", "c.mp3", "d.mp3"}));
}

INSTANTIATE_TEST_SUITE_P(Flushes, GroupOfFour,
                         ::testing::Values(SaveGroup::Flush::FileSystem,
                                           SaveGroup::Flush::Parallel),
                         [](const auto& info) {
                             return info.param == SaveGroup::Flush::FileSystem ? "syncfs"
                                                                               : "parallel";
                         });

// Whether another process could take the save lock on `path` right now.
bool OtherProcessCanLock(const std::string& path) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        ::_exit(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(SaveGroup, LocksHoldUntilTheCommit) {
    TempDir dir;
    const std::string rewritten = dir.file("a.mp3"), inPlace = dir.file("b.mp3");
    WriteAll(rewritten, std::string("old a"));
    WriteAll(inPlace, std::string("old b"));
    SaveGroup group;
    IoFaults io;
    io.group = &group;
    ASSERT_TRUE(Rewrite(rewritten, "new a", io));
    ASSERT_TRUE(Overwrite(inPlace, "NEW", io));
    // A rewrite begun while another descriptor of ours held the lock (a save
    // that tried to write in place first) keeps it once that one is closed.
    const std::string fellBack = dir.file("c.mp3");
    WriteAll(fellBack, std::string("old c"));
    {
        auto first = File::Open(fellBack, File::Mode::ReadWrite);
        ASSERT_TRUE(first);
        ASSERT_TRUE(Rewrite(fellBack, "new c", io));
    }
    for (const auto& path : {rewritten, inPlace, fellBack})
        EXPECT_FALSE(OtherProcessCanLock(path)) << path;
    EXPECT_TRUE(group.Commit().empty());
    for (const auto& path : {rewritten, inPlace, fellBack})
        EXPECT_TRUE(OtherProcessCanLock(path)) << path;
    EXPECT_EQ(ReadAll(fellBack), ToBytes("new c"));
}

// Another program writes the file while its rewrite waits for the commit:
// the rename is refused and that program's bytes stay.
TEST(SaveGroup, AFileChangedWhileWaitingIsNotReplaced) {
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    WriteAll(path, std::string("old a"));
    {
        const int fd = ::open(path.c_str(), O_RDONLY);
        NoteFileRead(fd, path);
        ::close(fd);
    }
    SaveGroup group;
    IoFaults io;
    io.group = &group;
    ASSERT_TRUE(Rewrite(path, "new a", io));
    WriteAll(path, std::string("theirs!"));
    const auto failures = group.Commit();
    ASSERT_EQ(failures.count(path), 1u);
    EXPECT_EQ(failures.at(path), kChangedSinceRead);
    EXPECT_EQ(ReadAll(path), ToBytes("theirs!"));
    EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"a.mp3"}));
}

// A second save of a file waiting in the group starts from the first one's
// result, whichever way either of them writes.
TEST(SaveGroup, ASecondSaveOfAWaitingFileBuildsOnTheFirst) {
    const struct {
        const char* name;
        bool firstRewrites;
        bool secondRewrites;
    } kCases[] = {
        {"rewrite, then rewrite", true, true},
        {"rewrite, then in place", true, false},
        {"in place, then rewrite", false, true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.file("a.mp3");
        WriteAll(path, std::string("0123456789"));
        SaveGroup group;
        IoFaults io;
        io.group = &group;
        auto save = [&](bool rewrite, char mark, std::size_t at) {
            if (!rewrite) {
                return WriteTail(path, static_cast<std::int64_t>(at), Bytes{std::uint8_t(mark)}, -1,
                                 io);
            }
            return SafeReplace(
                path,
                [&](ReplaceWriter& w, std::string&) {
                    auto f = File::Open(path, File::Mode::Read);
                    Bytes now(static_cast<std::size_t>(f->Size()));
                    if (!f->ReadInto(0, now.data(), now.size()))
                        return false;
                    now[at] = static_cast<std::uint8_t>(mark);
                    return w.Write(now);
                },
                io);
        };
        ASSERT_TRUE(save(c.firstRewrites, 'A', 1));
        ASSERT_TRUE(save(c.secondRewrites, 'B', 5));
        EXPECT_TRUE(group.Commit().empty());
        EXPECT_TRUE(group.Failures().empty());
        EXPECT_EQ(ReadAll(path), ToBytes("0A234B6789"));
    }
}

// A save whose next step commits what its first step left (as above) asks
// for its outcome only afterwards: a failure of that commit must reach it.
TEST(SaveGroup, AFailureOfACommitASaveSetOffReachesItsOutcome) {
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    WriteAll(path, std::string("old a"));
    SaveGroup group;
    IoFaults io;
    io.group = &group;
    io.step = [](IoStep s) { return s != IoStep::Rename; };
    ASSERT_TRUE(Rewrite(path, "new a", io));
    group.CommitIfHolds(path);  // the save's next step on the same file
    std::vector<IoResult> told;
    group.WhenCommitted(path, [&told](const IoResult& r) { told.push_back(r); });
    group.Commit();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_FALSE(told[0].ok);
    EXPECT_NE(told[0].error.find("cannot replace file"), std::string::npos) << told[0].error;
    EXPECT_EQ(ReadAll(path), ToBytes("old a"));

    // Told once: a later save of the file that lands is told so.
    IoFaults clean;
    clean.group = &group;
    ASSERT_TRUE(Rewrite(path, "newer a", clean));
    group.WhenCommitted(path, [&told](const IoResult& r) { told.push_back(r); });
    group.Commit();
    ASSERT_EQ(told.size(), 2u);
    EXPECT_TRUE(told[1].ok) << told[1].error;
}

TEST(SaveGroup, IsFullAtEitherLimit) {
    SaveGroup byCount(SaveGroup::Limits{2, std::int64_t{1} << 30});
    SaveGroup byBytes(SaveGroup::Limits{100, 10});
    for (SaveGroup* group : {&byCount, &byBytes}) {
        TempDir dir;
        IoFaults io;
        io.group = group;
        for (const char* name : {"a.mp3", "b.mp3"}) {
            EXPECT_FALSE(group->Full());
            WriteAll(dir.file(name), std::string("old"));
            ASSERT_TRUE(Rewrite(dir.file(name), "six b.", io));
        }
        EXPECT_TRUE(group->Full());
        group->Commit();
        EXPECT_FALSE(group->Full());
    }
}

}  // namespace
}  // namespace sondrel
