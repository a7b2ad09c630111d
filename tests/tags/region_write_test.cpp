// SPDX-License-Identifier: GPL-3.0-or-later
// In-place region writes as one transaction: every injected failure leaves
// the file wholly old with the reason told; a save killed midway is settled
// by the next recovery (old bytes back unless every region is new); a
// journal never touches a file that is not the one it was written for; a
// save group journals all its files once and undoes only the file whose
// flush failed.
#include "tags/region_write.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "tags/save_group.h"

namespace sondrel {
namespace {

using test::ReadAll;
using test::TempDir;
using test::WriteAll;

namespace fs = std::filesystem;

ino_t InodeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// The journals of each test go to a folder of its own.
class RegionWrite : public ::testing::Test {
protected:
    void SetUp() override {
        journals_ = dir_.file("journal");
        ::setenv("SONDREL_JOURNAL_DIR", journals_.c_str(), 1);
        WriteAll(path_, Pattern(kOldSize, 'o'));
    }
    void TearDown() override { ::unsetenv("SONDREL_JOURNAL_DIR"); }

    static test::Bytes Pattern(std::size_t n, char c) {
        test::Bytes b(n);
        for (std::size_t i = 0; i < n; ++i)
            b[i] = static_cast<std::uint8_t>(c + static_cast<char>(i % 7));
        return b;
    }

    // A tag at the head and a changed end: the end grows, or a cut shortens it.
    struct Shape {
        const char* name;
        std::int64_t tailFrom;
        std::size_t tailBytes;
    };
    static std::vector<Region> RegionsOf(const Shape& s) {
        return {{0, Pattern(100, 'N')}, {s.tailFrom, Pattern(s.tailBytes, 'T')}};
    }
    static std::int64_t NewSize(const Shape& s) {
        return s.tailFrom + static_cast<std::int64_t>(s.tailBytes);
    }
    static test::Bytes Expected(const Shape& s) {
        test::Bytes b = Pattern(kOldSize, 'o');
        b.resize(static_cast<std::size_t>(NewSize(s)));
        for (const Region& r : RegionsOf(s))
            std::copy(r.bytes.begin(), r.bytes.end(), b.begin() + r.offset);
        return b;
    }

    // The file given `content` and read again, as the editor would before a
    // save (a save refuses a file changed since its read).
    static void Reset(const std::string& path, const test::Bytes& content) {
        WriteAll(path, content);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        NoteFileRead(fd, path);
        ::close(fd);
    }

    RegionResult Save(const Shape& s, const IoFaults& faults) {
        auto f = File::Open(named_, File::Mode::ReadWrite, nullptr, faults);
        EXPECT_TRUE(f.has_value());
        if (!f)
            return {};
        return WriteRegions(*f, named_, RegionsOf(s), NewSize(s), faults);
    }

    // Journals holding anything (an idle, emptied one is ours to reuse).
    std::size_t LiveJournals() const {
        std::size_t n = 0;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(journals_, ec))
            n += e.file_size() > 0;
        return n;
    }

    // Runs the save in a child that dies (exit 42) where `die` says, as a
    // kill would stop it; the journal stays behind.
    void SaveAndDie(const Shape& s, const std::function<bool(int write, std::size_t bytes)>& die,
                    const std::function<bool(IoStep)>& dieAtStep = {}) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int writes = 0;
            IoFaults faults;
            faults.write = [&](std::size_t bytes) -> WriteVerdict {
                if (die(++writes, bytes))
                    ::_exit(42);
                return true;
            };
            faults.step = [&](IoStep step) {
                if (dieAtStep && dieAtStep(step))
                    ::_exit(42);
                return true;
            };
            const RegionResult r = Save(s, faults);
            ::_exit(r.ok ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_EQ(WEXITSTATUS(status), 42) << "the save did not die where it should";
    }

    static constexpr std::size_t kOldSize = 4096;
    static constexpr Shape kShapes[] = {
        {"end grows", 3968, 300},
        {"end is cut", 3900, 50},
        {"end in the middle, same size", 2000, 64},
    };
    TempDir dir_;
    std::string journals_;
    std::string path_ = dir_.file("song.mp3");
    std::string named_ = path_;  // the name the save is given
};

bool Mentions(const std::vector<std::string>& problems, const std::string& what) {
    return std::any_of(problems.begin(), problems.end(),
                       [&](const std::string& p) { return p.find(what) != std::string::npos; });
}

std::string Joined(const std::vector<std::string>& problems) {
    std::string all;
    for (const auto& p : problems)
        all += p + "\n";
    return all;
}

TEST_F(RegionWrite, ASaveWritesEveryRegionAndEmptiesItsJournal) {
    for (const Shape& s : kShapes) {
        SCOPED_TRACE(s.name);
        Reset(path_, Pattern(kOldSize, 'o'));
        const RegionResult r = Save(s, SystemIo());
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_TRUE(ReadAll(path_) == Expected(s));
        EXPECT_EQ(LiveJournals(), 0u);
        // Saved again with the same bytes: nothing to write, and no refusal
        // of our own change.
        EXPECT_TRUE(Save(s, SystemIo()).ok);
    }
}

// Every write (each region's, whole or half landing) and every step fails
// in turn: the file stays wholly old, the reason is told, and no journal is
// left to replay.
TEST_F(RegionWrite, EveryFailureLeavesTheFileWhollyOld) {
    const test::Bytes original = Pattern(kOldSize, 'o');
    for (const Shape& s : kShapes) {
        SCOPED_TRACE(s.name);
        int writes = 0;
        std::vector<IoStep> steps;
        Reset(path_, original);
        ASSERT_TRUE(Save(s, {[&](std::size_t) {
                                 ++writes;
                                 return true;
                             },
                             [&](IoStep step) {
                                 steps.push_back(step);
                                 return true;
                             }})
                        .ok);
        ASSERT_EQ(writes, 2) << "two regions (the journal has a hook of its own)";
        auto expectOld = [&](const IoFaults& faults, const std::string& what) {
            SCOPED_TRACE(what);
            Reset(path_, original);
            const RegionResult r = Save(s, faults);
            EXPECT_FALSE(r.ok) << "a failure was reported as success";
            EXPECT_FALSE(r.fallBack);
            EXPECT_NE(r.error.find("failed"), std::string::npos) << r.error;
            EXPECT_TRUE(ReadAll(path_) == original) << "the file is not wholly old";
            EXPECT_EQ(LiveJournals(), 0u);
        };
        for (int k = 1; k <= writes; ++k) {
            int seen = 0;
            expectOld({[&](std::size_t) { return ++seen != k; }, {}},
                      "write " + std::to_string(k) + " fails");
            seen = 0;
            expectOld({[&](std::size_t bytes) -> WriteVerdict {
                           return ++seen != k ? WriteVerdict(true)
                                              : WriteVerdict::Partial(bytes / 2);
                       },
                       {}},
                      "half of write " + std::to_string(k) + " lands");
        }
        for (const IoStep failing : steps) {
            expectOld({{}, [&](IoStep step) { return step != failing; }},
                      "step " + std::to_string(static_cast<int>(failing)) + " fails");
        }
        // A journal that cannot be written changes nothing either, and asks
        // the caller to rewrite the file instead.
        Reset(path_, original);
        IoFaults noJournal;
        noJournal.journal = [] { return false; };
        const RegionResult r = Save(s, noJournal);
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.fallBack);
        EXPECT_NE(r.error.find("undo journal"), std::string::npos) << r.error;
        EXPECT_TRUE(ReadAll(path_) == original);
        EXPECT_EQ(LiveJournals(), 0u);
    }
}

TEST_F(RegionWrite, AKilledSaveIsSettledByTheNextRecovery) {
    struct Death {
        const char* name;
        std::function<bool(int, std::size_t)> atWrite;
        std::function<bool(IoStep)> atStep;
        bool endsNew;
    };
    const Death deaths[] = {
        {"journal durable, nothing written", [](int w, std::size_t) { return w == 1; }, {}, false},
        {"head written, end not", [](int w, std::size_t) { return w == 2; }, {}, false},
        {"every region written, not flushed", [](int, std::size_t) { return false; },
         [](IoStep s) { return s == IoStep::Sync; }, true},
    };
    for (const Shape& s : kShapes) {
        for (const Death& d : deaths) {
            SCOPED_TRACE(std::string(s.name) + ", " + d.name);
            Reset(path_, Pattern(kOldSize, 'o'));
            SaveAndDie(s, d.atWrite, d.atStep);
            ASSERT_EQ(LiveJournals(), 1u) << "the dead save left no journal";
            EXPECT_EQ(RecoverJournals(journals_), 1u);
            EXPECT_TRUE(ReadAll(path_) == (d.endsNew ? Expected(s) : Pattern(kOldSize, 'o')));
            EXPECT_FALSE(fs::exists(journals_) && LiveJournals() > 0) << "the journal stayed";
        }
    }
}

// A tail written in a save group (an ID3v1 block, an APE tag) killed in
// each phase of the group's commit: the journal durable and the tail not
// yet written, the tail half written, the tail written and not flushed.
// The next recovery leaves the file wholly old or wholly new.
TEST_F(RegionWrite, AKilledGroupedTailIsSettledByTheNextRecovery) {
    const test::Bytes original = Pattern(kOldSize, 'o');
    const test::Bytes tail = Pattern(300, 'T');
    constexpr std::int64_t kFrom = 3968;
    test::Bytes fresh = original;
    fresh.resize(static_cast<std::size_t>(kFrom));
    fresh.insert(fresh.end(), tail.begin(), tail.end());
    struct Death {
        const char* name;
        int atWrite;  // 1 the tail (the journal is written without the file's hook)
        bool halfLands;
        bool atFlush;
        bool endsNew;
    };
    const Death deaths[] = {
        {"journal durable, tail not written", 1, false, false, false},
        {"tail half written", 1, true, false, false},
        {"tail written, not flushed", 0, false, true, true},
    };
    for (const Death& d : deaths) {
        SCOPED_TRACE(d.name);
        Reset(path_, original);
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            SaveGroup group;
            int writes = 0;
            IoFaults faults;
            faults.group = &group;
            faults.write = [&](std::size_t bytes) -> WriteVerdict {
                if (++writes == d.atWrite) {
                    if (d.halfLands)
                        (void)!::pwrite(fd, tail.data(), bytes / 2, kFrom);
                    ::_exit(42);
                }
                return true;
            };
            faults.step = [&](IoStep step) {
                if (d.atFlush && step == IoStep::Sync)
                    ::_exit(42);
                return true;
            };
            if (!WriteTail(path_, kFrom, tail, kFrom + 300, faults))
                ::_exit(1);
            group.Commit();
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ::close(fd);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 42)
            << "the save did not die where it should";
        ASSERT_EQ(LiveJournals(), 1u) << "the dead save left no journal";
        EXPECT_EQ(RecoverJournals(journals_), 1u);
        EXPECT_TRUE(ReadAll(path_) == (d.endsNew ? fresh : original));
        EXPECT_EQ(LiveJournals(), 0u);
    }
}

// Half of the end region lands before the kill: the bytes are neither old
// nor new, and only the journal knows the old ones.
TEST_F(RegionWrite, ARegionTornMidwayIsPutBack) {
    const Shape s = kShapes[0];
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const test::Bytes tail = RegionsOf(s)[1].bytes;
    SaveAndDie(s, [&](int w, std::size_t) {
        if (w == 2) {
            EXPECT_EQ(::pwrite(fd, tail.data(), tail.size() / 2, s.tailFrom),
                      static_cast<ssize_t>(tail.size() / 2));
        }
        return w == 2;
    });
    ::close(fd);
    ASSERT_FALSE(ReadAll(path_) == Pattern(kOldSize, 'o'));
    EXPECT_EQ(RecoverJournals(journals_), 1u);
    EXPECT_TRUE(ReadAll(path_) == Pattern(kOldSize, 'o'));
}

// The name now stands for another file (another inode): the journal is
// dropped and that file keeps every byte.
TEST_F(RegionWrite, AJournalIsNeverAppliedToAnotherFile) {
    const Shape s = kShapes[0];
    SaveAndDie(s, [](int w, std::size_t) { return w == 2; });
    const test::Bytes torn = ReadAll(path_);
    const std::string other = dir_.file("other.mp3");
    WriteAll(other, torn);
    fs::rename(other, path_);
    EXPECT_EQ(RecoverJournals(journals_), 1u);
    EXPECT_TRUE(ReadAll(path_) == torn);
    EXPECT_EQ(LiveJournals(), 0u);
}

// A journal whose save is still running is not a dead one: recovery leaves
// it and the file alone, and the save then finishes.
TEST_F(RegionWrite, RecoveryLeavesTheJournalOfALiveSave) {
    const Shape s = kShapes[1];
    int toChild[2], fromChild[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(fromChild), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int writes = 0;
        IoFaults faults;
        faults.write = [&](std::size_t) {
            if (++writes == 2) {
                char c = 0;
                (void)!::write(fromChild[1], "w", 1);
                (void)!::read(toChild[0], &c, 1);
            }
            return true;
        };
        ::_exit(Save(s, faults).ok ? 0 : 1);
    }
    char c = 0;
    ASSERT_EQ(::read(fromChild[0], &c, 1), 1);
    EXPECT_EQ(RecoverJournals(journals_), 0u);
    EXPECT_FALSE(ReadAll(path_) == Pattern(kOldSize, 'o')) << "recovery undid a live save";
    ASSERT_EQ(::write(toChild[1], "g", 1), 1);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(ReadAll(path_) == Expected(s));
    for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]})
        ::close(fd);
}

// Without any journal folder the caller is told to rewrite the whole file,
// and nothing was changed.
TEST_F(RegionWrite, NoJournalFolderMeansFallingBack) {
    const std::string blocked = dir_.file("not-a-folder");
    WriteAll(blocked, "x");
    ::setenv("SONDREL_JOURNAL_DIR", (blocked + "/journal").c_str(), 1);
    const RegionResult r = Save(kShapes[0], SystemIo());
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.fallBack) << r.error;
    EXPECT_TRUE(ReadAll(path_) == Pattern(kOldSize, 'o'));
    // In a group it is known before anything waits for the commit.
    SaveGroup group;
    IoFaults grouped;
    grouped.group = &group;
    const RegionResult g = Save(kShapes[0], grouped);
    EXPECT_FALSE(g.ok);
    EXPECT_TRUE(g.fallBack) << g.error;
    EXPECT_EQ(group.PendingCount(), 0u);
    EXPECT_TRUE(group.Commit().empty());
    EXPECT_TRUE(ReadAll(path_) == Pattern(kOldSize, 'o'));
}

// Saved through a symbolic link and killed with the head written: the
// journal names the file itself, so recovery puts the old bytes back.
TEST_F(RegionWrite, ASaveThroughASymbolicLinkIsRecovered) {
    const std::string link = dir_.file("link.mp3");
    fs::create_symlink(path_, link);
    named_ = link;
    SaveAndDie(kShapes[0], [](int w, std::size_t) { return w == 2; });
    ASSERT_FALSE(ReadAll(path_) == Pattern(kOldSize, 'o')) << "nothing was written before the kill";
    EXPECT_EQ(RecoverJournals(journals_), 1u);
    EXPECT_TRUE(ReadAll(path_) == Pattern(kOldSize, 'o')) << "the file stayed torn";
    EXPECT_EQ(LiveJournals(), 0u);
    EXPECT_TRUE(fs::is_symlink(link));
}

// After the save died, another tagger edited the file in place (same inode
// and size), within the regions: bytes that are neither our old nor our
// new ones. Recovery leaves the file alone, keeps the journal aside under a
// name that says so and never replays it, and tells about it every time.
TEST_F(RegionWrite, AFileAnotherProgramChangedSinceIsLeftAlone) {
    const Shape s = kShapes[0];
    struct Case {
        const char* name;
        std::function<bool(int, std::size_t)> atWrite;
        std::function<bool(IoStep)> atStep;
        std::int64_t editAt;
    };
    const Case cases[] = {
        {"every region written, edited in the head", [](int, std::size_t) { return false; },
         [](IoStep step) { return step == IoStep::Sync; }, 10},
        {"head written, end not, edited in the end",
         [](int w, std::size_t) { return w == 2; },
         {},
         s.tailFrom + 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset(path_, Pattern(kOldSize, 'o'));
        SaveAndDie(s, c.atWrite, c.atStep);
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const std::uint8_t theirs[3] = {0xEE, 0xEE, 0xEE};
        ASSERT_EQ(::pwrite(fd, theirs, sizeof theirs, c.editAt), 3);
        ::close(fd);
        const test::Bytes edited = ReadAll(path_);

        for (int pass = 0; pass < 2; ++pass) {
            SCOPED_TRACE("recovery " + std::to_string(pass + 1));
            EXPECT_EQ(RecoverJournals(journals_), 0u);
            EXPECT_TRUE(ReadAll(path_) == edited) << "recovery wrote over another program's edit";
            std::vector<std::string> aside;
            for (const auto& e : fs::directory_iterator(journals_)) {
                if (e.path().string().ends_with(kSetAsideSuffix))
                    aside.push_back(e.path().string());
            }
            ASSERT_EQ(aside.size(), 1u) << "the journal was not kept aside";
            EXPECT_EQ(LiveJournals(), 1u) << "the journal was kept twice";
            const auto problems = JournalProblems();
            EXPECT_TRUE(Mentions(problems, aside[0]) && Mentions(problems, path_) &&
                        Mentions(problems, "another program"))
                << Joined(problems);
        }
        // Every command of the tool tells it, `show` of another file too.
        if (const std::string tool = test::CliTool(); !tool.empty()) {
            const std::string other = dir_.file("other.mp3");
            WriteAll(other, Pattern(kOldSize, 'o'));
            const auto shown = test::RunCommand(
                "SONDREL_JOURNAL_DIR=" + test::ShellQuote(journals_) + " " +
                test::ShellQuote(tool) + " show " + test::ShellQuote(other) + " 2>&1 >/dev/null");
            EXPECT_NE(shown.output.find(kSetAsideSuffix), std::string::npos) << shown.output;
            EXPECT_TRUE(ReadAll(path_) == edited);
        }
        for (const auto& e : fs::directory_iterator(journals_))
            fs::remove(e.path());
    }
}

// Only a journal of the user's own, a regular file of one name, mode 0600,
// in a folder of the user's own, 0700 and not a symbolic link, is replayed;
// anything else is left as it is, the file it names untouched, and told.
// (Another user's: chown to nobody, which root may do.)
TEST_F(RegionWrite, RecoveryReplaysOnlyTheUsersOwnPrivateJournals) {
    const Shape s = kShapes[0];
    constexpr uid_t kOther = 65534;
    struct Case {
        const char* name;
        std::function<void(const std::string& folder, const std::string& journal)> spoil;
        const char* told;  // empty: replayed
    };
    const std::string elsewhere = dir_.file("elsewhere");
    const Case cases[] = {
        {"another user's journal",
         [](const std::string&, const std::string& j) {
             ASSERT_EQ(::chown(j.c_str(), kOther, kOther), 0);
         },
         "belongs to another user"},
        {"a journal others may read",
         [](const std::string&, const std::string& j) { fs::permissions(j, fs::perms(0644)); },
         "0644"},
        {"a journal with a second name",
         [&](const std::string&, const std::string& j) { fs::create_hard_link(j, elsewhere); },
         "more than one name"},
        {"a symbolic link to a journal",
         [&](const std::string&, const std::string& j) {
             fs::rename(j, elsewhere);
             fs::create_symlink(elsewhere, j);
         },
         "not a regular file"},
        {"a folder others may write to",
         [](const std::string& f, const std::string&) { fs::permissions(f, fs::perms(0777)); },
         "may be written by other users"},
        {"another user's folder",
         [](const std::string& f, const std::string&) {
             ASSERT_EQ(::chown(f.c_str(), kOther, kOther), 0);
         },
         "belongs to another user"},
        {"a folder that is a symbolic link",
         [&](const std::string& f, const std::string&) {
             fs::rename(f, elsewhere);
             fs::create_symlink(elsewhere, f);
         },
         "is a symbolic link"},
        {"a folder only its owner and group may write to, made before 0700 was required",
         [](const std::string& f, const std::string&) { fs::permissions(f, fs::perms(0775)); }, ""},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        journals_ = dir_.file("journal" + std::to_string(++n));
        ::setenv("SONDREL_JOURNAL_DIR", journals_.c_str(), 1);
        fs::remove_all(elsewhere);
        Reset(path_, Pattern(kOldSize, 'o'));
        SaveAndDie(s, [](int w, std::size_t) { return w == 2; });
        const test::Bytes torn = ReadAll(path_);
        ASSERT_FALSE(torn == Pattern(kOldSize, 'o'));
        std::string journal;
        for (const auto& e : fs::directory_iterator(journals_))
            journal = e.path().string();
        ASSERT_FALSE(journal.empty());
        c.spoil(journals_, journal);
        const std::size_t settled = RecoverJournals(journals_);
        const auto problems = JournalProblems();
        if (*c.told == '\0') {
            EXPECT_EQ(settled, 1u);
            EXPECT_TRUE(ReadAll(path_) == Pattern(kOldSize, 'o'));
            EXPECT_EQ(fs::status(journals_).permissions(), fs::perms(0700));
            EXPECT_TRUE(problems.empty()) << Joined(problems);
            continue;
        }
        EXPECT_EQ(settled, 0u);
        EXPECT_TRUE(ReadAll(path_) == torn) << "a journal that is not the user's own was replayed";
        EXPECT_TRUE(Mentions(problems, c.told)) << Joined(problems);
        EXPECT_TRUE(fs::exists(fs::symlink_status(journal))) << "the journal was removed";
    }
}

// A journal of a gigabyte is not read whole on every command: it is left
// and told at once.
TEST_F(RegionWrite, AnOversizedJournalIsNotRead) {
    fs::create_directory(journals_);
    fs::permissions(journals_, fs::perms(0700));
    const std::string huge = journals_ + "/1-0-0.journal";
    const int fd = ::open(huge.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t{1} << 30), 0);
    ::close(fd);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RecoverJournals(journals_), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_TRUE(Mentions(JournalProblems(), huge)) << Joined(JournalProblems());
    EXPECT_TRUE(fs::exists(huge));
}

// The journal folder on a full disk: an in-place save is rewritten whole
// instead, alone or in a group, and nothing is left beside the file.
TEST_F(RegionWrite, AFullJournalFolderMakesTheSaveRewriteTheFile) {
    fs::create_directory(journals_);
    if (::geteuid() != 0 || std::system(("mount -t tmpfs -o size=16k,mode=0700 sondrel-test " +
                                         journals_ + " 2>/dev/null")
                                            .c_str()) != 0)
        GTEST_SKIP() << "cannot mount a file system here";
    struct Unmount {
        std::string at;
        ~Unmount() { (void)!std::system(("umount -l " + at).c_str()); }
    } unmount{journals_};
    {
        std::FILE* f = std::fopen((journals_ + "/filler").c_str(), "wb");
        const test::Bytes block(4096, 0);
        while (f && std::fwrite(block.data(), 1, block.size(), f) == block.size() &&
               std::fflush(f) == 0) {
        }
        if (f)
            std::fclose(f);
    }
    const Shape s = kShapes[0];
    const test::Bytes tail = RegionsOf(s)[1].bytes;
    test::Bytes expected = Pattern(kOldSize, 'o');
    expected.resize(static_cast<std::size_t>(s.tailFrom));
    expected.insert(expected.end(), tail.begin(), tail.end());
    for (const bool grouped : {false, true}) {
        SCOPED_TRACE(grouped ? "in a group" : "alone");
        Reset(path_, Pattern(kOldSize, 'o'));
        const ino_t before = InodeOf(path_);
        SaveGroup group;
        IoFaults faults;
        if (grouped)
            faults.group = &group;
        const IoResult r = WriteTail(path_, s.tailFrom, tail, NewSize(s), faults);
        EXPECT_TRUE(r.ok) << r.error;
        std::optional<IoResult> told;
        if (grouped)
            group.WhenCommitted(path_, [&told](const IoResult& t) { told = t; });
        EXPECT_TRUE(group.Commit().empty());
        if (grouped) {
            ASSERT_TRUE(told.has_value());
            EXPECT_TRUE(told->ok) << told->error;
        }
        EXPECT_TRUE(ReadAll(path_) == expected);
        EXPECT_NE(InodeOf(path_), before) << "not rewritten";
        std::size_t beside = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_.path()))
            ++beside;
        EXPECT_EQ(beside, 2u)
            << "something was left beside the file";  // the file, the journal folder
    }
}

// Three files in one group: one journal flushed once for all of them; a
// failed flush undoes that file only; a journal that cannot be written has
// every file rewritten whole instead, none of them failing for it.
TEST_F(RegionWrite, AGroupJournalsOnceAndUndoesOnlyTheFailedFile) {
    const Shape s = kShapes[0];
    const std::vector<std::string> paths = {dir_.file("a.mp3"), dir_.file("b.mp3"),
                                            dir_.file("c.mp3")};
    struct Case {
        const char* name;
        std::size_t failingFile;
        bool journalFails;  // else its flush
    };
    const Case cases[] = {
        {"the second file's flush fails", 1, false},
        {"the journal cannot be written", 2, true},
    };
    for (const SaveGroup::Flush flush :
         {SaveGroup::Flush::Parallel, SaveGroup::Flush::FileSystem}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            std::vector<IoFaults> faults(paths.size());
            std::vector<ino_t> inodes;
            int journalAsked = 0;
            SaveGroup group(SaveGroup::Limits{}, flush);
            for (std::size_t i = 0; i < paths.size(); ++i) {
                Reset(paths[i], Pattern(kOldSize, 'o'));
                inodes.push_back(InodeOf(paths[i]));
                faults[i].group = &group;
                faults[i].step = [&, i](IoStep step) {
                    return c.journalFails || !(i == c.failingFile && step == IoStep::Sync);
                };
                faults[i].journal = [&, i] {
                    journalAsked += i == 0;
                    return !(c.journalFails && i == c.failingFile);
                };
                auto f = File::Open(paths[i], File::Mode::ReadWrite, nullptr, faults[i]);
                ASSERT_TRUE(f.has_value());
                ASSERT_TRUE(WriteRegions(*f, paths[i], RegionsOf(s), NewSize(s), faults[i]).ok);
            }
            // Nothing is written before the commit.
            for (const auto& p : paths)
                EXPECT_TRUE(ReadAll(p) == Pattern(kOldSize, 'o'));
            std::map<std::string, IoResult> told;
            for (const auto& p : paths)
                group.WhenCommitted(p, [&, p](const IoResult& r) { told[p] = r; });
            const auto failures = group.Commit();
            // Asked for the first file's part, then once before the one flush.
            EXPECT_EQ(journalAsked, c.journalFails ? 1 : 2);
            for (std::size_t i = 0; i < paths.size(); ++i) {
                SCOPED_TRACE(paths[i]);
                // One syncfs covers every file, so its failure is each one's.
                const bool fails = !c.journalFails &&
                                   (flush == SaveGroup::Flush::FileSystem || i == c.failingFile);
                EXPECT_EQ(told[paths[i]].ok, !fails) << told[paths[i]].error;
                EXPECT_EQ(failures.count(paths[i]), fails ? 1u : 0u);
                if (fails) {
                    EXPECT_NE(told[paths[i]].error.find("flush failed"), std::string::npos);
                }
                EXPECT_TRUE(ReadAll(paths[i]) == (fails ? Pattern(kOldSize, 'o') : Expected(s)));
                EXPECT_EQ(InodeOf(paths[i]) != inodes[i], c.journalFails)
                    << "rewritten exactly when no journal could be written";
            }
            EXPECT_EQ(LiveJournals(), 0u);
            std::size_t journalFiles = 0;
            for ([[maybe_unused]] const auto& e : fs::directory_iterator(journals_))
                ++journalFiles;
            EXPECT_EQ(journalFiles, 1u) << "one journal serves the whole group";
        }
    }
}

}  // namespace
}  // namespace sondrel
