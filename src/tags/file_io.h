// SPDX-License-Identifier: GPL-3.0-or-later
// File access shared by every format: 64-bit positions, reads that report
// short reads, in-place writes that report short writes, and SafeReplace for
// rewrites (temporary file in the same folder, flushed, renamed over the
// target; the target is untouched on any failure).
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "tags/byte_source.h"

namespace sondrel {

class SaveGroup;

// The steps besides writing that a save depends on. Reserve claims the
// disk space a growing tail needs before any old byte is touched.
enum class IoStep { Truncate, Sync, Rename, Reserve };

// What the write hook decides for one low-level write: all of it, none of
// it, or some bytes landing before the error (as a disk filling up midway).
// A hook returning bool means all or none.
struct WriteVerdict {
    WriteVerdict(bool ok) : landed(ok ? kAll : 0) {}  // NOLINT: hooks return bool
    static WriteVerdict Partial(std::size_t bytes) {
        WriteVerdict v(false);
        v.landed = bytes;
        return v;
    }
    static constexpr std::size_t kAll = static_cast<std::size_t>(-1);
    std::size_t landed;
};

// The write side a save goes through. Empty hooks are the real system; tests
// give a component (or SafeReplace, WriteTail, a File) hooks that fail chosen
// writes and steps, without any process-wide state. Everything a write does
// to the disk stays in this module, so the hooks see all of it.
struct IoFaults {
    // Asked before each low-level write; false fails that write as a full
    // disk would (ENOSPC), a partial verdict lets some bytes land first.
    std::function<WriteVerdict(std::size_t bytes)> write;
    // Asked before a flush, truncation, space reservation or final rename;
    // false fails it as the system would (EIO, ENOSPC for the reservation,
    // EXDEV for the rename).
    std::function<bool(IoStep step)> step;
    // Asked before each write and the flush of an in-place write's undo
    // journal (tags/region_write), which lives in a folder of its own,
    // often on another disk: false fails it as a full disk would. The save
    // then rewrites the file instead.
    std::function<bool()> journal = {};
    // When set, a save leaves its flush (and the rename of a rewrite) to
    // this group's commit instead of doing them itself (tags/save_group).
    SaveGroup* group = nullptr;
};
// No faults: every write and step goes to the system.
const IoFaults& SystemIo();

// Writes all `count` bytes at `offset` of `fd`, asking `hook` (when set)
// before each write; a short write is an error, never silent.
bool WriteAllAt(int fd, std::int64_t offset, const std::uint8_t* data, std::size_t count,
                const std::function<WriteVerdict(std::size_t)>& hook, std::string& error);

enum class PathKind { Missing, Regular, NotRegular };
PathKind KindOfPath(const std::string& path);
inline bool FileExists(const std::string& path) {
    return KindOfPath(path) == PathKind::Regular;
}

// The advisory lock (flock) a save holds on a file; one per process and
// file, however many of our descriptors are open on it. The lock lives on
// a duplicate shared by every SaveLock of the file, so it holds until the
// last of them goes, whichever descriptor took it and closed first.
//
// A lock another process holds is waited for only after `group` (when
// given) has committed what it holds, so two runs over the same files in
// opposite orders never wait for each other; and at most kSaveLockWaitSeconds,
// after which the lock is not held (Locked() false) and the save refuses with
// kAnotherSave.
class SaveLock {
public:
    explicit SaveLock(int fd, SaveGroup* group = nullptr);
    ~SaveLock();
    SaveLock(const SaveLock&) = delete;
    SaveLock& operator=(const SaveLock&) = delete;
    bool Locked() const { return owner_ != nullptr; }

    struct Owner;

private:
    std::shared_ptr<Owner> owner_;
};

inline constexpr int kSaveLockWaitSeconds = 30;
inline constexpr const char* kAnotherSave = "another program is saving this file";

// A duplicate of an open file holding its save lock, for a save group to
// keep until its commit. Null (errno set) when no descriptor is left.
struct HeldFile {
    explicit HeldFile(int d) : fd(d), lock(d) {}
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;
    int fd;
    SaveLock lock;
};
std::shared_ptr<HeldFile> HoldDuplicate(int fd);

// An open file. Move-only; closes on destruction. Every method reports
// failure by its return value and leaves a description in LastError().
// Parsers read it as a ByteSource (uncached: FileSnapshot caches).
class File : public ByteSource {
public:
    enum class Mode { Read, ReadWrite };

    File() = default;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() override;

    // Opens an existing regular file (folders and devices are refused).
    // Writes, truncations and flushes go through `faults`, which must
    // outlive the File.
    static std::optional<File> Open(const std::string& path, Mode mode,
                                    std::string* error = nullptr,
                                    const IoFaults& faults = SystemIo());
    // How a save opens the file it reads the old tag from: for reading only
    // when the file is write-protected, whose new content then goes through
    // SafeReplace (or WriteTail, which replaces it) with its mode kept. A
    // protected file is never made writable, not even for a moment.
    static Mode ModeForSave(const std::string& path);

    bool IsOpen() const { return fd_ >= 0; }
    std::int64_t Size() const override;  // -1 on failure
    bool ReadInto(std::int64_t offset, std::uint8_t* dst, std::size_t count) const override;

    bool WriteAt(std::int64_t offset, const std::uint8_t* data, std::size_t count);
    bool WriteAt(std::int64_t offset, const Bytes& data) {
        return WriteAt(offset, data.data(), data.size());
    }
    bool Truncate(std::int64_t size);
    // Flushes data to the disk; in a save group, the group's commit does,
    // holding a duplicate descriptor and the save lock until then.
    bool Sync();
    void Close();

    const std::string& LastError() const override { return lastError_; }
    int Descriptor() const { return fd_; }
    // Takes the save lock until the file is closed (files opened for
    // writing hold it from the start); false (kAnotherSave in LastError)
    // when another program kept it too long.
    bool HoldSaveLock();

    // Takes ownership of an open descriptor.
    static File Adopt(int fd, const IoFaults& faults = SystemIo()) { return File(fd, faults); }

private:
    File(int fd, const IoFaults& faults) : fd_(fd), faults_(&faults) {}
    int fd_ = -1;
    const IoFaults* faults_ = &SystemIo();
    bool wrote_ = false;  // noted as read again on closing, as our own change
    std::string path_;
    std::unique_ptr<SaveLock> lock_;
    mutable std::string lastError_;
};

// A sequential writer to the temporary file of a SafeReplace.
class ReplaceWriter {
public:
    explicit ReplaceWriter(File& out) : out_(out) {}
    bool Write(const std::uint8_t* data, std::size_t count);
    bool Write(const Bytes& data) { return Write(data.data(), data.size()); }
    // Copies `count` bytes of `src` from `offset` in large blocks.
    bool CopyFrom(const File& src, std::int64_t offset, std::int64_t count);
    std::int64_t Position() const { return pos_; }
    const std::string& LastError() const { return error_; }

private:
    File& out_;
    std::int64_t pos_ = 0;
    std::string error_;
};

struct IoResult {
    bool ok = false;
    std::string error;  // empty when ok
    explicit operator bool() const { return ok; }
};

// Rewrites `path`: `produce` writes the whole new content through the writer
// and returns false (with a message) to abandon. The temporary file is created
// beside the target, flushed, given the target's permissions (and owner where
// allowed) and renamed over it in one step. On any failure the target is left
// as it was and the temporary file is removed. In a save group the flush and
// the rename wait for the group's commit, the lock held until then; success
// here means only that the new content is written.
IoResult SafeReplace(const std::string& path,
                     const std::function<bool(ReplaceWriter&, std::string& error)>& produce,
                     const IoFaults& faults = SystemIo());

// The end of a file as a rewrite leaves it: the bytes from `from` to the end
// give way to `bytes`. Planned on the very bytes the rewrite copies, so a
// save with a tag at each end changes both in one new file.
struct TailChange {
    std::int64_t from = 0;
    Bytes bytes;
};
// Plans the change for the file about to be rewritten; nullopt when its end
// cannot be read, which abandons the whole rewrite.
using TailPlan = std::function<std::optional<TailChange>(const ByteSource& file)>;

// Writes `data` at `offset` and truncates the file to `newSize` (when >= 0)
// only after the data is written; then flushes. For tags stored at the end
// of a file, where the audio in front is never touched. One transaction
// (tags/region_write, in a save group the group's): the space a growing
// tail needs is reserved before any old byte changes, the old end is
// journalled, and a failed write, cut or flush (the group's too) puts it
// back, as does the next recovery after a kill. Where the file system
// cannot reserve space, no journal can be had, or the file is
// write-protected (its mode is never changed), the new content goes
// through SafeReplace instead.
IoResult WriteTail(const std::string& path, std::int64_t offset, const Bytes& data,
                   std::int64_t newSize = -1, const IoFaults& faults = SystemIo());

// What a save checks first: that the file is still the one read for its
// tags (the same inode, size, modification time and first and last bytes). A read of a
// file's tags notes it, and so does each save of ours; a save of a file that
// another program (or another Sondrel) changed since then is refused with
// kChangedSinceRead. Saves hold an advisory lock (flock) on the file from
// this check to their rename or flush.
inline constexpr const char* kChangedSinceRead = "the file changed since it was read";
void NoteFileRead(int fd, const std::string& path);
// How many bytes at each end of a file the note covers.
inline constexpr std::size_t kReadStampBytes = 64 << 10;
// The same note from a read that has the bytes in hand: `st` the file's
// status, `head` its first and `tail` its last min(size, kReadStampBytes)
// bytes (overlapping in a small file).
void NoteFileRead(const struct stat& st, const std::string& path,
                  std::span<const std::uint8_t> head, std::span<const std::uint8_t> tail);
// Empty when nothing changed since the last note for `path` (or there was
// none), else kChangedSinceRead.
std::string ChangedSinceRead(int fd, const std::string& path);

// Names a temporary file for the signal handler of PrepareProcessForSaves
// while it exists under that name.
class TemporaryName {
public:
    explicit TemporaryName(const std::string& path);
    ~TemporaryName();
    TemporaryName(const TemporaryName&) = delete;
    TemporaryName& operator=(const TemporaryName&) = delete;

private:
    int slot_ = -1;
};

// Process set-up for saving: a write past the file-size limit fails with
// EFBIG instead of killing the process (SIGXFSZ ignored). With
// `removeTemporaryOnSignal`, SIGINT and SIGTERM first remove the temporary
// file of a save in progress, then end the process as the signal would.
// The undo journals of killed saves are settled here too.
void PrepareProcessForSaves(bool removeTemporaryOnSignal);

}  // namespace sondrel
