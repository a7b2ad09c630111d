// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/file_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <iostream>
#include <optional>
#include <thread>
#include <tuple>

#include "support/test_support.h"

namespace sondrel {
namespace {

using test::ReadAll;
using test::TempDir;
using test::ToBytes;
using test::WriteAll;

// Every write fails as on a full disk.
const IoFaults kDiskFull{[](std::size_t) { return false; }, {}};

// Names in `dir` other than the ones a test made on purpose.
std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
}

TEST(File, ReadsReportShortReads) {
    TempDir dir;
    const auto path = dir.file("ten.bin");
    WriteAll(path, std::string("0123456789"));
    auto f = File::Open(path, File::Mode::Read);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->Size(), 10);

    const struct {
        std::int64_t offset;
        std::size_t count;
        bool ok;
    } cases[] = {{0, 10, true}, {6, 4, true},   {10, 0, true}, {0, 11, false},
                 {7, 4, false}, {10, 1, false}, {-1, 1, false}};
    for (const auto& c : cases) {
        auto got = f->ReadAt(c.offset, c.count);
        EXPECT_EQ(got.has_value(), c.ok) << c.offset << "+" << c.count;
        if (got && c.ok) {
            EXPECT_EQ(
                std::string(got->begin(), got->end()),
                std::string("0123456789").substr(static_cast<std::size_t>(c.offset), c.count));
        }
        if (!c.ok) {
            EXPECT_FALSE(f->LastError().empty());
        }
    }

    auto tail = f->ReadUpTo(7, 100);
    ASSERT_TRUE(tail);
    EXPECT_EQ(std::string(tail->begin(), tail->end()), "789");
    auto past = f->ReadUpTo(50, 4);
    ASSERT_TRUE(past);
    EXPECT_TRUE(past->empty());
}

TEST(File, OpenRefusesWhatIsNotARegularFile) {
    TempDir dir;
    std::string error;
    EXPECT_FALSE(File::Open(dir.file("missing"), File::Mode::Read, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(File::Open(dir.path(), File::Mode::Read, &error));
    EXPECT_EQ(KindOfPath(dir.path()), PathKind::NotRegular);
    EXPECT_EQ(KindOfPath(dir.file("missing")), PathKind::Missing);
    EXPECT_EQ(KindOfPath(""), PathKind::Missing);
    EXPECT_FALSE(FileExists(dir.path()));
}

TEST(File, OpeningAFifoDoesNotWaitForAWriter) {
    TempDir dir;
    const auto fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(KindOfPath(fifo), PathKind::NotRegular);

    // A blocking open would never return; run it aside and give up after a while.
    auto done = std::make_shared<std::promise<bool>>();
    auto result = done->get_future();
    std::thread([done, fifo] {
        done->set_value(File::Open(fifo, File::Mode::Read).has_value());
    }).detach();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready)
        << "opening a FIFO blocked";
    EXPECT_FALSE(result.get());
}

TEST(File, WriteAtReportsAFullDisk) {
    TempDir dir;
    const auto path = dir.file("f.bin");
    WriteAll(path, std::string("abcdef"));
    bool full = true;
    const IoFaults faults{[&full](std::size_t) { return !full; }, {}};
    auto f = File::Open(path, File::Mode::ReadWrite, nullptr, faults);
    ASSERT_TRUE(f);
    EXPECT_FALSE(f->WriteAt(0, ToBytes("XY")));
    EXPECT_NE(f->LastError().find("write failed"), std::string::npos) << f->LastError();
    full = false;
    EXPECT_TRUE(f->WriteAt(4, ToBytes("XYZ")));
    f->Close();
    EXPECT_EQ(ReadAll(path), ToBytes("abcdXYZ"));
}

TEST(SafeReplace, ReplacesContentAndKeepsPermissions) {
    TempDir dir;
    const auto path = dir.file("song.mp3");
    WriteAll(path, std::string("old content"));
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);

    auto r = SafeReplace(path, [](ReplaceWriter& w, std::string&) {
        return w.Write(ToBytes("new ")) && w.Write(ToBytes("content"));
    });
    ASSERT_TRUE(r) << r.error;
    EXPECT_TRUE(r.error.empty());
    EXPECT_EQ(ReadAll(path), ToBytes("new content"));
    EXPECT_EQ(ModeOf(path), 0640u);
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"song.mp3"});
}

TEST(SafeReplace, CopiesLargeRangesAcrossBlockBoundaries) {
    TempDir dir;
    const auto path = dir.file("big.bin");
    test::Bytes data(3 * (1 << 20) + 123);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>((i * 7919) >> 3);
    WriteAll(path, data);

    auto src = File::Open(path, File::Mode::Read);
    ASSERT_TRUE(src);
    const std::int64_t from = 5, count = static_cast<std::int64_t>(data.size()) - 10;
    auto r = SafeReplace(path, [&](ReplaceWriter& w, std::string&) {
        return w.Write(ToBytes("HEAD")) && w.CopyFrom(*src, from, count) &&
               w.Position() == 4 + count;
    });
    ASSERT_TRUE(r) << r.error;
    test::Bytes expected = ToBytes("HEAD");
    expected.insert(expected.end(), data.begin() + from, data.begin() + from + count);
    EXPECT_EQ(ReadAll(path), expected);
}

// Every way a rewrite can fail must leave the original file exactly as it
// was and no temporary file behind.
TEST(SafeReplace, FailedRewriteLeavesTheOriginalAndNoTemporaryFile) {
    using Producer = std::function<bool(ReplaceWriter&, std::string&)>;
    const struct {
        const char* name;
        bool diskFull;
        Producer produce;
        const char* errorPart;
    } cases[] = {
        {"producer gives up", false,
         [](ReplaceWriter& w, std::string& e) {
             w.Write(ToBytes("partial"));
             e = "bad frame";
             return false;
         },
         "bad frame"},
        {"producer throws", false,
         [](ReplaceWriter&, std::string&) -> bool { throw std::runtime_error("parser blew up"); },
         "parser blew up"},
        {"disk full", true,
         [](ReplaceWriter& w, std::string&) { return w.Write(ToBytes("new content")); },
         "write failed"},
        {"source vanishes mid-copy", false,
         [](ReplaceWriter& w, std::string&) {
             File empty;  // not open: every read fails
             return w.CopyFrom(empty, 0, 10);
         },
         "read failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const auto path = dir.file("song.mp3");
        WriteAll(path, std::string("original bytes"));
        ASSERT_EQ(::chmod(path.c_str(), 0604), 0);

        const IoResult r = SafeReplace(path, c.produce, c.diskFull ? kDiskFull : SystemIo());
        EXPECT_FALSE(r);
        EXPECT_NE(r.error.find(c.errorPart), std::string::npos) << r.error;
        EXPECT_EQ(ReadAll(path), ToBytes("original bytes"));
        EXPECT_EQ(ModeOf(path), 0604u);
        EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"song.mp3"});
    }
}

TEST(SafeReplace, RefusesMissingFilesAndFolders) {
    TempDir dir;
    auto produce = [](ReplaceWriter& w, std::string&) { return w.Write(ToBytes("x")); };
    EXPECT_FALSE(SafeReplace(dir.file("missing.mp3"), produce));
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing.mp3")));
    EXPECT_FALSE(SafeReplace(dir.path(), produce));
    EXPECT_TRUE(Entries(dir.path()).empty());
}

TEST(SafeReplace, RewritesTheFileBehindASymlink) {
    TempDir dir;
    const auto real = dir.file("real.mp3");
    const auto link = dir.file("link.mp3");
    WriteAll(real, std::string("old"));
    std::filesystem::create_symlink("real.mp3", link);

    auto r =
        SafeReplace(link, [](ReplaceWriter& w, std::string&) { return w.Write(ToBytes("new")); });
    ASSERT_TRUE(r) << r.error;
    EXPECT_TRUE(std::filesystem::is_symlink(link)) << "the link was replaced by a copy";
    EXPECT_EQ(ReadAll(real), ToBytes("new"));
}

TEST(WriteTail, WritesThenCutsThenKeepsTheFrontIntact) {
    TempDir dir;
    const auto path = dir.file("a.mp3");
    WriteAll(path, std::string("AUDIO-old-long-tag"));

    auto r = WriteTail(path, 6, ToBytes("NEW"), 9);
    ASSERT_TRUE(r) << r.error;
    EXPECT_EQ(ReadAll(path), ToBytes("AUDIO-NEW"));

    // Without a new size the file keeps its length (or grows).
    ASSERT_TRUE(WriteTail(path, 9, ToBytes("+TAIL")));
    EXPECT_EQ(ReadAll(path), ToBytes("AUDIO-NEW+TAIL"));
}

TEST(WriteTail, FailedWriteNeverCutsTheFile) {
    TempDir dir;
    const auto path = dir.file("a.mp3");
    WriteAll(path, std::string("AUDIO-old-long-tag"));
    const IoResult r = WriteTail(path, 6, ToBytes("NEW"), 9, kDiskFull);
    EXPECT_FALSE(r);
    EXPECT_FALSE(r.error.empty());
    EXPECT_EQ(ReadAll(path), ToBytes("AUDIO-old-long-tag"));

    EXPECT_FALSE(WriteTail(dir.file("missing"), 0, ToBytes("x"), 1));
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
}

}  // namespace
}  // namespace sondrel

namespace {

// Only `failing` fails.
sondrel::IoFaults StepFault(sondrel::IoStep failing) {
    return {{}, [failing](sondrel::IoStep s) { return s != failing; }};
}

TEST(SafeReplace, FailedFlushOrRenameLeavesTheOriginal) {
    for (const auto step : {sondrel::IoStep::Sync, sondrel::IoStep::Rename}) {
        sondrel::test::TempDir dir;
        const auto path = dir.file("song.mp3");
        sondrel::test::WriteAll(path, std::string("old content"));
        const sondrel::IoResult r = sondrel::SafeReplace(
            path,
            [](sondrel::ReplaceWriter& w, std::string&) {
                return w.Write(sondrel::test::ToBytes("new content!"));
            },
            StepFault(step));
        EXPECT_FALSE(r) << static_cast<int>(step);
        EXPECT_FALSE(r.error.empty());
        EXPECT_EQ(sondrel::test::ReadAll(path), sondrel::test::ToBytes("old content"));
        EXPECT_EQ(sondrel::Entries(dir.path()), std::vector<std::string>{"song.mp3"});
    }
}

TEST(WriteTail, FailedTruncationOrFlushIsReported) {
    for (const auto step : {sondrel::IoStep::Truncate, sondrel::IoStep::Sync}) {
        sondrel::test::TempDir dir;
        const auto path = dir.file("a.bin");
        sondrel::test::WriteAll(path, std::string("0123456789"));
        const auto r =
            sondrel::WriteTail(path, 4, sondrel::test::ToBytes("ab"), 6, StepFault(step));
        EXPECT_FALSE(r) << static_cast<int>(step);
        EXPECT_FALSE(r.error.empty());
    }
}

}  // namespace

namespace sondrel {
namespace {

// A tail that grows past the end, under the limits a real disk sets: the
// write fails with the system's reason and the file keeps every byte.
struct GrowCase {
    const char* name;
    // Runs the grow in whatever setting the case needs; nullopt to skip.
    std::function<std::optional<IoResult>(const std::string& folder)> run;
    const char* reason;  // part of the error text
};

const Bytes kOldFile = [] {
    Bytes b(3000, 0x55);
    const Bytes tag = test::ToBytes("OLD-TAG-BYTES");
    b.insert(b.end(), tag.begin(), tag.end());
    return b;
}();
const std::int64_t kTagAt = 3000;
const Bytes kNewTag(64 << 10, 0x77);  // far more than the old tag

IoResult GrowTail(const std::string& path, const IoFaults& io = SystemIo()) {
    return WriteTail(path, kTagAt, kNewTag, kTagAt + static_cast<std::int64_t>(kNewTag.size()), io);
}

// Runs the grow in a child under a file-size limit; the child reports the
// result through a pipe, as SIGXFSZ would otherwise end it.
std::optional<IoResult> GrowUnderSizeLimit(const std::string& path) {
    int fds[2];
    if (::pipe(fds) != 0)
        return std::nullopt;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        PrepareProcessForSaves(false);
        const rlimit limit{8192, 8192};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const IoResult r = GrowTail(path);
        const std::string msg = (r.ok ? "1" : "0") + r.error;
        (void)!::write(fds[1], msg.data(), msg.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string msg;
    char buf[256];
    ssize_t n = 0;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        msg.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status)) << "the child was killed by signal " << WTERMSIG(status);
    if (msg.empty())
        return IoResult{false, "the child reported nothing"};
    return IoResult{msg[0] == '1', msg.substr(1)};
}

const GrowCase kGrowCases[] = {
    {"full tmpfs",
     [](const std::string& folder) -> std::optional<IoResult> {
         // A file system with room for the old file and little more.
         const std::string mnt = folder + "/small";
         std::filesystem::create_directory(mnt);
         if (::geteuid() != 0 ||
             std::system(
                 ("mount -t tmpfs -o size=16k sondrel-test " + mnt + " 2>/dev/null").c_str()) != 0)
             return std::nullopt;
         const std::string path = mnt + "/song.ape";
         test::WriteAll(path, kOldFile);
         // Fill what is left, so the reservation meets a full disk.
         {
             std::FILE* f = std::fopen((mnt + "/filler").c_str(), "wb");
             const Bytes block(4096, 0);
             while (f && std::fwrite(block.data(), 1, block.size(), f) == block.size() &&
                    std::fflush(f) == 0) {
             }
             if (f)
                 std::fclose(f);
         }
         std::optional<IoResult> r = GrowTail(path);
         const bool same = test::ReadAll(path) == kOldFile;
         (void)!std::system(("umount " + mnt).c_str());
         if (!same)
             r->error += " [file changed]";
         return r;
     },
     "No space left on device"},
    {"file-size limit",
     [](const std::string& folder) -> std::optional<IoResult> {
         const std::string path = folder + "/song.ape";
         test::WriteAll(path, kOldFile);
         auto r = GrowUnderSizeLimit(path);
         if (r && test::ReadAll(path) != kOldFile)
             r->error += " [file changed]";
         return r;
     },
     "File too large"},
    {"reservation refused",
     [](const std::string& folder) -> std::optional<IoResult> {
         const std::string path = folder + "/song.ape";
         test::WriteAll(path, kOldFile);
         auto r = GrowTail(path, {{}, [](IoStep s) { return s != IoStep::Reserve; }});
         if (test::ReadAll(path) != kOldFile)
             r.error += " [file changed]";
         return r;
     },
     "No space left on device"},
    {"write lands half, then fails",
     [](const std::string& folder) -> std::optional<IoResult> {
         const std::string path = folder + "/song.ape";
         test::WriteAll(path, kOldFile);
         auto r = GrowTail(path, {[](std::size_t n) { return WriteVerdict::Partial(n / 2); }, {}});
         if (test::ReadAll(path) != kOldFile)
             r.error += " [file changed]";
         return r;
     },
     "No space left on device"},
};

TEST(WriteTail, AGrowingTailThatDoesNotFitLeavesTheFileByteForByte) {
    for (const GrowCase& c : kGrowCases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const auto r = c.run(dir.path());
        if (!r) {
            std::cout << "[ SKIPPED ] " << c.name << ": cannot mount a file system here\n";
            continue;
        }
        EXPECT_FALSE(r->ok) << "a save that did not fit was reported as done";
        EXPECT_NE(r->error.find(c.reason), std::string::npos) << r->error;
        EXPECT_EQ(r->error.find("[file changed]"), std::string::npos) << r->error;
        EXPECT_EQ(Entries(dir.path()).size(), 1u) << "something was left beside the file";
    }
}

// A write-protected file is replaced, never made writable: a second name of
// the same file is watched during every write of the save.
TEST(WriteTail, AWriteProtectedFileKeepsItsModeThroughout) {
    TempDir dir;
    const auto path = dir.file("song.mp3");
    const auto other = dir.file("other-name.mp3");
    WriteAll(path, std::string("AUDIO-old-tag"));
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    ASSERT_EQ(::link(path.c_str(), other.c_str()), 0);
    bool sawWritable = false;
    const IoFaults watch{[&](std::size_t) {
                             sawWritable = sawWritable || ModeOf(other) != 0444;
                             return true;
                         },
                         {}};
    for (const auto& [offset, data, newSize, after] :
         {std::tuple<std::int64_t, std::string, std::int64_t, std::string>{6, "new-longer-tag", -1,
                                                                           "AUDIO-new-longer-tag"},
          {5, "", 5, "AUDIO"}}) {
        SCOPED_TRACE(after);
        const IoResult r = WriteTail(path, offset, ToBytes(data), newSize, watch);
        ASSERT_TRUE(r) << r.error;
        EXPECT_EQ(ReadAll(path), ToBytes(after));
        EXPECT_EQ(ModeOf(path), 0444u);
    }
    EXPECT_FALSE(sawWritable) << "the file was made writable during the save";
    EXPECT_EQ(ModeOf(other), 0444u);
}

// What a killed save left (a temporary file of ours no process holds) goes
// with the next save in the folder; one a live save holds stays, and so do
// names that only look alike.
TEST(SafeReplace, RemovesStaleTemporaryFilesOnlyAndNeedsNoLongName) {
    TempDir dir;
    const std::string stale = dir.file(".sondrel-Ab12Cd.tmp");
    const std::string live = dir.file(".sondrel-Zz99Yy.tmp");
    const std::string lookalike = dir.file(".sondrel-Ab12Cd.tmp.keep");
    for (const auto& p : {stale, live, lookalike})
        WriteAll(p, std::string("partial"));
    const int held = ::open(live.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    // The longest name a folder takes leaves no room for a name built on it.
    const std::string path = dir.file(std::string(255 - 4, 'n') + ".mp3");
    WriteAll(path, std::string("old"));
    const IoResult r =
        SafeReplace(path, [](ReplaceWriter& w, std::string&) { return w.Write(ToBytes("new")); });
    ::close(held);
    ASSERT_TRUE(r) << r.error;
    EXPECT_EQ(ReadAll(path), ToBytes("new"));
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_TRUE(std::filesystem::exists(live)) << "a file a live save holds was removed";
    EXPECT_TRUE(std::filesystem::exists(lookalike));
    EXPECT_EQ(Entries(dir.path()).size(), 3u);
}

}  // namespace
}  // namespace sondrel
