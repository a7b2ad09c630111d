// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/file_snapshot.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "support/test_support.h"

namespace sondrel {
namespace {

using test::TempDir;
using test::WriteAll;

Bytes Pattern(std::size_t size) {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = static_cast<std::uint8_t>((i * 131 + i / 251) & 0xFF);
    return b;
}

// `size` bytes that start with an ID3v2 header declaring `body` bytes.
Bytes WithId3(std::size_t size, std::uint32_t body) {
    Bytes b = Pattern(size);
    const std::uint8_t header[10] = {'I',
                                     'D',
                                     '3',
                                     3,
                                     0,
                                     0,
                                     static_cast<std::uint8_t>((body >> 21) & 0x7F),
                                     static_cast<std::uint8_t>((body >> 14) & 0x7F),
                                     static_cast<std::uint8_t>((body >> 7) & 0x7F),
                                     static_cast<std::uint8_t>(body & 0x7F)};
    std::copy(std::begin(header), std::end(header), b.begin());
    return b;
}

// Every read through the snapshot gives what the same read of the file
// gives, whether it falls in the cached head (with or without a large tag
// read along), the cached tail, between them, across a boundary, or past
// the end; for a read that may be saved and for one that only reads (with
// shorter ends).
TEST(FileSnapshot, ReadsMatchTheFileAtEveryBoundary) {
    constexpr std::int64_t kHead = FileSnapshot::kHeadBytes;
    constexpr std::int64_t kTail = FileSnapshot::kTailBytes;
    constexpr std::int64_t kQuick = FileSnapshot::kQuickEndBytes;
    const std::pair<const char*, Bytes> files[] = {
        {"both short ends", Pattern(2 * kQuick)},
        {"one past both short ends", Pattern(2 * kQuick + 1)},
        {"tag past the short head", WithId3(3 * kHead, kQuick)},
        {"empty", Bytes{}},
        {"1 byte", Pattern(1)},
        {"10 bytes", Pattern(10)},
        {"head only", Pattern(kHead)},
        {"head and tail", Pattern(kHead + kTail)},
        {"one past both", Pattern(kHead + kTail + 1)},
        {"three heads", Pattern(3 * kHead)},
        {"tag in the head", WithId3(3 * kHead, 1000)},
        {"tag past the head", WithId3(6 * kHead, 3 * kHead)},
        {"tag up to the end", WithId3(6 * kHead, 6 * kHead - 10)},
        {"tag past the end", WithId3(6 * kHead, 7 * kHead)},
    };
    TempDir dir;
    for (const auto purpose : {FileSnapshot::Purpose::MaySave, FileSnapshot::Purpose::ReadOnly})
        for (const auto& [name, bytes] : files) {
            SCOPED_TRACE(name);
            SCOPED_TRACE(purpose == FileSnapshot::Purpose::MaySave ? "may save" : "read only");
            const auto size = static_cast<std::int64_t>(bytes.size());
            const std::string path = dir.file("f.mp3");
            WriteAll(path, bytes);
            const auto snap = FileSnapshot::Open(path, nullptr, purpose);
            const auto file = File::Open(path, File::Mode::Read);
            ASSERT_TRUE(snap && file);
            EXPECT_EQ(snap->Size(), size);
            EXPECT_EQ(snap->Path(), path);

            const std::int64_t tailStart = size - kTail;
            const std::int64_t offsets[] = {0,          1,          kHead - 10,       kHead - 1,
                                            kHead,      tailStart,  size - 128,       size - 10,
                                            size - 1,   size,       size + 1,         kQuick - 10,
                                            kQuick - 1, kQuick + 1, size - kQuick - 1};
            const std::size_t counts[] = {0, 1, 10, 11, 128, 4096, 9000};
            for (const std::int64_t offset : offsets) {
                if (offset < 0)
                    continue;
                for (const std::size_t count : counts) {
                    SCOPED_TRACE(std::to_string(offset) + "+" + std::to_string(count));
                    EXPECT_EQ(snap->ReadAt(offset, count), file->ReadAt(offset, count));
                    EXPECT_EQ(snap->ReadUpTo(offset, count), file->ReadUpTo(offset, count));
                    Bytes storage;
                    const auto view = snap->View(offset, count, storage);
                    const auto exact = file->ReadAt(offset, count);
                    ASSERT_EQ(view.has_value(), exact.has_value());
                    if (view) {
                        EXPECT_EQ(Bytes(view->begin(), view->end()), *exact);
                    }
                }
            }
            EXPECT_FALSE(snap->ReadAt(-1, 1));
            EXPECT_FALSE(snap->ReadUpTo(-1, 1));
        }
}

TEST(FileSnapshot, RefusesWhatIsNoRegularFile) {
    TempDir dir;
    std::string error;
    EXPECT_FALSE(FileSnapshot::Open(dir.file("missing.mp3"), &error));
    EXPECT_EQ(error.rfind("cannot open: ", 0), 0u) << error;

    error.clear();
    EXPECT_FALSE(FileSnapshot::Open(dir.path(), &error));
    EXPECT_EQ(error, "not a regular file");

    // A FIFO without a writer must be refused, not wait for one.
    const std::string fifo = dir.file("fifo.mp3");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    error.clear();
    EXPECT_FALSE(FileSnapshot::Open(fifo, &error));
    EXPECT_EQ(error, "not a regular file");
}

// A file cut short after it was opened: the cached bytes are what was read
// at opening, and any read of the lost part fails instead of inventing data.
TEST(FileSnapshot, FileCutAfterOpeningFailsReadsOfTheLostPart) {
    TempDir dir;
    const std::string path = dir.file("cut.mp3");
    const std::size_t size = 3 * FileSnapshot::kHeadBytes;
    WriteAll(path, Pattern(size));
    const auto snap = FileSnapshot::Open(path);
    ASSERT_TRUE(snap);
    ASSERT_EQ(::truncate(path.c_str(), 100), 0);
    const std::int64_t middle = FileSnapshot::kHeadBytes + 100;
    EXPECT_FALSE(snap->ReadAt(middle, 10));
    Bytes storage;
    EXPECT_FALSE(snap->View(middle, 10, storage));
    const auto head = snap->ReadAt(0, 10);
    ASSERT_TRUE(head);
    EXPECT_EQ(*head, Bytes(Pattern(10)));
}

// A read through the snapshot notes the file from the bytes it read; a
// save's check reads the file again for itself. The two must agree on an
// untouched file of any shape, and a changed byte at either end must show
// even when the size and the modification time were kept.
TEST(FileSnapshot, ReadNoteMatchesTheSaveCheckAndSeesChangedEnds) {
    constexpr std::size_t kEnds = kReadStampBytes;
    const std::pair<const char*, Bytes> files[] = {
        {"1 byte", Pattern(1)},
        {"smaller than one end", Pattern(1000)},
        {"one end", Pattern(kEnds)},
        {"both ends exactly", Pattern(2 * kEnds)},
        {"one past both ends", Pattern(2 * kEnds + 1)},
        {"a gap between the ends", Pattern(5 * kEnds)},
        {"a tag past the head", WithId3(5 * kEnds, 2 * kEnds)},
    };
    TempDir dir;
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        const std::string path = dir.file("noted.mp3");
        const std::size_t size = bytes.size();
        const std::size_t changes[] = {0, size / 2 < kEnds ? size / 2 : kEnds - 1,
                                       size > kEnds ? size - kEnds : 0, size - 1};
        for (const std::size_t at : changes) {
            SCOPED_TRACE("byte " + std::to_string(at));
            WriteAll(path, bytes);
            ASSERT_TRUE(FileSnapshot::Open(path));
            {
                const auto file = File::Open(path, File::Mode::Read);
                ASSERT_TRUE(file);
                EXPECT_EQ(ChangedSinceRead(file->Descriptor(), path), "");
            }
            // A new mode is no new content.
            ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
            struct stat before {};
            ASSERT_EQ(::stat(path.c_str(), &before), 0);
            {
                const auto file = File::Open(path, File::Mode::Read);
                ASSERT_TRUE(file);
                EXPECT_EQ(ChangedSinceRead(file->Descriptor(), path), "");
            }
            Bytes changed = bytes;
            changed[at] ^= 0x5A;
            WriteAll(path, changed);
            const timespec times[2] = {before.st_atim, before.st_mtim};
            ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
            const auto file = File::Open(path, File::Mode::Read);
            ASSERT_TRUE(file);
            EXPECT_EQ(ChangedSinceRead(file->Descriptor(), path), kChangedSinceRead);
        }
    }
}

// A read that only reads takes no note of its own and leaves the note of an
// earlier read as it was: a change made after that read is still refused,
// and a file only read that way has no note to refresh.
TEST(FileSnapshot, ReadOnlyReadLeavesTheNotesAlone) {
    TempDir dir;
    const std::string path = dir.file("noted.mp3");
    const Bytes bytes = Pattern(5 * kReadStampBytes);
    WriteAll(path, bytes);
    ASSERT_TRUE(FileSnapshot::Open(path));
    Bytes changed = bytes;
    changed[10] ^= 0x5A;
    WriteAll(path, changed);
    ASSERT_TRUE(FileSnapshot::Open(path, nullptr, FileSnapshot::Purpose::ReadOnly));
    {
        const auto file = File::Open(path, File::Mode::Read);
        ASSERT_TRUE(file);
        EXPECT_EQ(ChangedSinceRead(file->Descriptor(), path), kChangedSinceRead);
    }
    // Read for a save again: noted as it is now.
    ASSERT_TRUE(FileSnapshot::Open(path));
    const auto file = File::Open(path, File::Mode::Read);
    ASSERT_TRUE(file);
    EXPECT_EQ(ChangedSinceRead(file->Descriptor(), path), "");
}

// Another name of the same untouched file passes the check; a change
// seen through another spelling of the name read is refused, and so is a
// new file put in place of the one read (as another program's save does,
// by rename).
TEST(FileSnapshot, ReadNoteFollowsTheFileAcrossItsNames) {
    namespace fs = std::filesystem;
    struct Case {
        const char* what;
        // Done after the read of "read.mp3"; returns the name the save uses.
        std::string (*after)(const std::string& folder);
        const char* expected;
    };
    const Case cases[] = {
        {"the same name", [](const std::string& d) { return d + "/read.mp3"; }, ""},
        {"a symlink",
         [](const std::string& d) {
             fs::create_symlink("read.mp3", d + "/link.mp3");
             return d + "/link.mp3";
         },
         ""},
        {"a symlink, the file changed behind it",
         [](const std::string& d) {
             fs::create_symlink("read.mp3", d + "/link.mp3");
             WriteAll(d + "/read.mp3", Pattern(3001));
             return d + "/link.mp3";
         },
         kChangedSinceRead},
        {"a hard link",
         [](const std::string& d) {
             fs::create_hard_link(d + "/read.mp3", d + "/hard.mp3");
             return d + "/hard.mp3";
         },
         ""},
        {"the file renamed",
         [](const std::string& d) {
             fs::rename(d + "/read.mp3", d + "/moved.mp3");
             return d + "/moved.mp3";
         },
         ""},
        {"a relative spelling",
         [](const std::string& d) {
             return fs::relative(d + "/read.mp3", fs::current_path()).string();
         },
         ""},
        {"replaced by another file",
         [](const std::string& d) {
             WriteAll(d + "/theirs.mp3", Pattern(5000));
             fs::rename(d + "/theirs.mp3", d + "/read.mp3");
             return d + "/read.mp3";
         },
         kChangedSinceRead},
        {"replaced by an identical copy",
         [](const std::string& d) {
             fs::copy_file(d + "/read.mp3", d + "/copy.mp3");
             fs::rename(d + "/copy.mp3", d + "/read.mp3");
             return d + "/read.mp3";
         },
         kChangedSinceRead},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string read = dir.file("read.mp3");
        WriteAll(read, Pattern(3000));
        ASSERT_TRUE(FileSnapshot::Open(read));
        const std::string saved = c.after(dir.path());
        const auto file = File::Open(saved, File::Mode::Read);
        ASSERT_TRUE(file);
        EXPECT_EQ(ChangedSinceRead(file->Descriptor(), saved), c.expected);
    }
}

}  // namespace
}  // namespace sondrel
