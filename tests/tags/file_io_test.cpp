#include "tags/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

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
