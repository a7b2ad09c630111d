// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/file_io.h"

#include "tags/region_write.h"
#include "tags/save_group.h"

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string_view>
#include <thread>
#include <unordered_map>

namespace sondrel {
namespace {

std::string ErrnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// Writes everything or fails; a short write is an error, never silent.
bool WriteFully(int fd, std::int64_t offset, const std::uint8_t* data, std::size_t count,
                const IoFaults& faults, std::string& error) {
    return WriteAllAt(fd, offset, data, count, faults.write, error);
}

}  // namespace

bool WriteAllAt(int fd, std::int64_t offset, const std::uint8_t* data, std::size_t count,
                const std::function<WriteVerdict(std::size_t)>& hook, std::string& error) {
    while (count > 0) {
        if (hook) {
            const WriteVerdict verdict = hook(count);
            if (verdict.landed < count) {
                // The bytes a filling disk still took really land.
                if (verdict.landed > 0)
                    (void)!::pwrite(fd, data, verdict.landed, offset);
                errno = ENOSPC;
                error = ErrnoText("write failed");
                return false;
            }
        }
        ssize_t n = ::pwrite(fd, data, count, offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = ErrnoText("write failed");
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            error = ErrnoText("write failed");
            return false;
        }
        data += n;
        offset += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

namespace {

// False (with errno set) when the hook asks for this step to fail.
bool StepAllowed(const std::function<bool(IoStep)>& hook, IoStep step) {
    if (!hook || hook(step))
        return true;
    errno = step == IoStep::Rename ? EXDEV : step == IoStep::Reserve ? ENOSPC : EIO;
    return false;
}
bool StepAllowed(const IoFaults& faults, IoStep step) {
    return StepAllowed(faults.step, step);
}

// A file already waiting in the group is committed before it is written
// again, so the second write starts from what the first one left.
void CommitIfPending(const IoFaults& faults, const std::string& path) {
    if (faults.group)
        faults.group->CommitIfHolds(path);
}

}  // namespace

namespace {

// The file as a read saw it.
struct ReadStamp {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};        // not ctime: a change of mode is no change of content
    std::uint64_t ends = 0;  // fingerprint of the first and last bytes
    bool operator==(const ReadStamp& o) const {
        return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
               mtime.tv_nsec == o.mtime.tv_nsec && ends == o.ends;
    }
};

// The tags live at the ends; times alone can miss a write of the same size
// within one clock tick.
constexpr std::uint64_t kMix = 0x9E3779B97F4A7C15ull;

void Mix(std::uint64_t& h, std::uint64_t word) {
    h = (std::rotl(h, 23) ^ word) * kMix;
}

// Eight words a step in eight lanes: the fingerprint is taken on every
// read, and a byte-wise hash of both ends cost more than the rest of the
// read; eight chains keep the multiplier busy where four waited on it.
std::uint64_t Fingerprint(std::span<const std::uint8_t> bytes, std::uint64_t seed) {
    constexpr int kLanes = 8;
    std::uint64_t lane[kLanes];
    for (int k = 0; k < kLanes; ++k)
        lane[k] = seed ^ static_cast<std::uint64_t>(k);
    std::size_t i = 0;
    for (; bytes.size() - i >= 8 * kLanes; i += 8 * kLanes) {
        for (int k = 0; k < kLanes; ++k) {
            std::uint64_t word = 0;
            std::memcpy(&word, bytes.data() + i + 8 * k, 8);
            Mix(lane[k], word);
        }
    }
    for (int k = 0; bytes.size() - i >= 8; i += 8, ++k) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes.data() + i, 8);
        Mix(lane[k], word);
    }
    for (; i < bytes.size(); ++i)
        Mix(lane[0], bytes[i]);
    std::uint64_t h = bytes.size();
    for (const std::uint64_t l : lane)
        Mix(h, l);
    return h ^ (h >> 29);
}

// `head` and `tail` are the first and last bytes of a file of `size` bytes;
// where they overlap (a small file) the shared bytes are taken once.
ReadStamp StampFrom(const struct stat& st, std::span<const std::uint8_t> head,
                    std::span<const std::uint8_t> tail) {
    const auto size = static_cast<std::uint64_t>(std::max<off_t>(0, st.st_size));
    const std::uint64_t both = head.size() + tail.size();
    const std::size_t shared =
        both > size ? static_cast<std::size_t>(std::min<std::uint64_t>(both - size, tail.size()))
                    : 0;
    const std::uint64_t ends = Fingerprint(tail.subspan(shared), Fingerprint(head, 0));
    return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, ends};
}

std::optional<ReadStamp> StampOf(int fd) {
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0)
        return std::nullopt;
    const auto size = static_cast<std::size_t>(std::max<off_t>(0, st.st_size));
    const std::size_t ends = std::min(size, kReadStampBytes);
    // A file no longer than both ends together is read once.
    const bool once = size <= 2 * kReadStampBytes;
    const std::size_t bufSize = once ? size : 2 * ends;
    auto buf = std::make_unique_for_overwrite<std::uint8_t[]>(std::max<std::size_t>(bufSize, 1));
    auto readAt = [&](std::uint8_t* to, std::size_t count, off_t from) {
        const ssize_t n = ::pread(fd, to, count, from);
        return n < 0 ? std::size_t{0} : static_cast<std::size_t>(n);
    };
    if (once) {
        // A short read (the file shrank) fingerprints what was there.
        const std::size_t got = readAt(buf.get(), size, 0);
        const std::size_t n = std::min(got, ends);
        return StampFrom(st, {buf.get(), n}, {buf.get() + (got - n), n});
    }
    const std::size_t head = readAt(buf.get(), ends, 0);
    const std::size_t tail = readAt(buf.get() + ends, ends, static_cast<off_t>(size - ends));
    return StampFrom(st, {buf.get(), head}, {buf.get() + ends, tail});
}

// Notes are kept under the name the read was given: resolving every read's
// path (a status call per folder on the way) cost more than the rest of a
// read. A save through another spelling of a name read before (a symlink,
// a relative path) finds its note through the resolved names, worked out
// only then, and only for the names read since the last such save.
struct ReadNotes {
    // Without a stamp: read, but nothing to check a save against.
    std::unordered_map<std::string, std::optional<ReadStamp>> byName;
    // The names in the order they were first noted (the map's keys).
    std::vector<const std::string*> order;
    std::size_t resolvedUpTo = 0;
    std::unordered_map<std::string, const std::string*> byResolved;
    // A name a save used, for the name read that it resolved to: a note
    // taken under either is kept for both.
    std::unordered_map<std::string, const std::string*> aliases;

    void Put(const std::string& path, const std::optional<ReadStamp>& stamp) {
        auto [it, added] = byName.try_emplace(path, stamp);
        if (added)
            order.push_back(&it->first);
        else
            it->second = stamp;
        if (const auto alias = aliases.find(path); alias != aliases.end())
            byName[*alias->second] = stamp;
    }

    const std::optional<ReadStamp>* Find(const std::string& path) {
        if (const auto it = byName.find(path); it != byName.end())
            return &it->second;
        if (const auto alias = aliases.find(path); alias != aliases.end())
            return &byName[*alias->second];
        for (; resolvedUpTo < order.size(); ++resolvedUpTo)
            byResolved.try_emplace(Resolved(*order[resolvedUpTo]), order[resolvedUpTo]);
        const auto it = byResolved.find(Resolved(path));
        if (it == byResolved.end())
            return nullptr;
        aliases.emplace(path, it->second);
        return &byName[*it->second];
    }

    static std::string Resolved(const std::string& path) {
        std::error_code ec;
        const auto resolved = std::filesystem::canonical(path, ec);
        return ec ? path : resolved.string();
    }
};

std::mutex stampsMutex;
ReadNotes& Stamps() {
    static ReadNotes notes;
    return notes;
}

}  // namespace

void NoteFileRead(int fd, const std::string& path) {
    const auto stamp = StampOf(fd);
    std::lock_guard lock(stampsMutex);
    Stamps().Put(path, stamp);
}

void NoteFileRead(const struct stat& st, const std::string& path,
                  std::span<const std::uint8_t> head, std::span<const std::uint8_t> tail) {
    const ReadStamp stamp = StampFrom(st, head, tail);
    std::lock_guard lock(stampsMutex);
    Stamps().Put(path, stamp);
}

std::string ChangedSinceRead(int fd, const std::string& path) {
    ReadStamp noted;
    {
        std::lock_guard lock(stampsMutex);
        const std::optional<ReadStamp>* note = Stamps().Find(path);
        if (note == nullptr || !*note)
            return {};
        noted = **note;
    }
    const auto now = StampOf(fd);
    if (!now || !(*now == noted))
        return kChangedSinceRead;
    // A descriptor opened before another save renamed its new file into
    // place still shows the old, unchanged file; its lock guards nothing.
    struct stat named {};
    if (::stat(path.c_str(), &named) != 0 || named.st_dev != now->dev || named.st_ino != now->ino)
        return kChangedSinceRead;
    return {};
}

struct SaveLock::Owner {
    Owner(int d, std::pair<dev_t, ino_t> k) : fd(d), key(k) {}
    ~Owner() {
        if (fd >= 0)
            ::close(fd);
    }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;
    int fd;  // shares the locked open file; -1 when no descriptor was left
    std::pair<dev_t, ino_t> key;
};

namespace {

// The files this process holds the save lock on, by inode: a second
// descriptor of ours on the same file must not wait for our own lock.
std::mutex heldMutex;
std::map<std::pair<dev_t, ino_t>, std::weak_ptr<SaveLock::Owner>>& Held() {
    static std::map<std::pair<dev_t, ino_t>, std::weak_ptr<SaveLock::Owner>> held;
    return held;
}

}  // namespace

namespace {

// Takes the lock, or gives up after kSaveLockWaitSeconds. A group's held
// locks go first: a save waiting while it holds others is how two runs
// over the same files in opposite orders would wait for each other for
// ever.
bool TakeLock(int fd, SaveGroup* group) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return true;
    if (errno != EWOULDBLOCK && errno != EINTR)
        return false;
    if (group && group->PendingCount() > 0)
        group->Commit();
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(kSaveLockWaitSeconds);
    auto pause = std::chrono::milliseconds(1);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) ||
            std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
    return true;
}

}  // namespace

SaveLock::SaveLock(int fd, SaveGroup* group) {
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0)
        return;
    const std::pair<dev_t, ino_t> key{st.st_dev, st.st_ino};
    {
        std::lock_guard lock(heldMutex);
        if (const auto it = Held().find(key); it != Held().end()) {
            if ((owner_ = it->second.lock()))
                return;
        }
    }
    if (!TakeLock(fd, group))
        return;
    // The descriptor that took the lock may close long before a later
    // step of the same save is done with the file (an in-place attempt
    // that fell back to a rewrite waiting for its group's commit): the
    // duplicate keeps the lock for as long as any SaveLock needs it.
    owner_ = std::make_shared<Owner>(::fcntl(fd, F_DUPFD_CLOEXEC, 0), key);
    std::lock_guard lock(heldMutex);
    Held()[key] = owner_;
}

SaveLock::~SaveLock() {
    if (!owner_)
        return;
    const auto key = owner_->key;
    std::lock_guard lock(heldMutex);
    owner_.reset();
    if (const auto it = Held().find(key); it != Held().end() && it->second.expired())
        Held().erase(it);
}

HeldFile::~HeldFile() {
    ::close(fd);
}

std::shared_ptr<HeldFile> HoldDuplicate(int fd) {
    const int dup = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    return dup < 0 ? nullptr : std::make_shared<HeldFile>(dup);
}

const IoFaults& SystemIo() {
    static const IoFaults none;
    return none;
}

PathKind KindOfPath(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return PathKind::Missing;
    return S_ISREG(st.st_mode) ? PathKind::Regular : PathKind::NotRegular;
}

File::File(File&& other) noexcept
    : fd_(other.fd_),
      faults_(other.faults_),
      wrote_(other.wrote_),
      path_(std::move(other.path_)),
      lock_(std::move(other.lock_)),
      lastError_(std::move(other.lastError_)) {
    other.fd_ = -1;
    other.wrote_ = false;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        faults_ = other.faults_;
        wrote_ = other.wrote_;
        path_ = std::move(other.path_);
        lock_ = std::move(other.lock_);
        lastError_ = std::move(other.lastError_);
        other.fd_ = -1;
        other.wrote_ = false;
    }
    return *this;
}

File::~File() {
    Close();
}

void File::Close() {
    if (fd_ >= 0) {
        if (wrote_ && !path_.empty())
            NoteFileRead(fd_, path_);
        lock_.reset();
        ::close(fd_);
    }
    fd_ = -1;
    wrote_ = false;
}

std::optional<File> File::Open(const std::string& path, Mode mode, std::string* error,
                               const IoFaults& faults) {
    if (mode == Mode::ReadWrite) {
        RecoverJournalsOnce();
        CommitIfPending(faults, path);
    }
    // O_NONBLOCK keeps a FIFO from blocking the open until a writer appears;
    // it is cleared again once the descriptor is known to be a regular file.
    const int flags = (mode == Mode::Read ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NONBLOCK;
    int fd = ::open(path.c_str(), flags);
    if (fd < 0) {
        if (error)
            *error = ErrnoText("cannot open");
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error)
            *error = "not a regular file";
        ::close(fd);
        return std::nullopt;
    }
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl < 0 || ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) {
        if (error)
            *error = ErrnoText("cannot open");
        ::close(fd);
        return std::nullopt;
    }
    File f(fd, faults);
    if (mode == Mode::ReadWrite) {
        // Held while the file is open for writing. Writing into a file
        // someone changed since its tags were read would put back what they
        // wrote over.
        if (!f.HoldSaveLock()) {
            if (error)
                *error = kAnotherSave;
            return std::nullopt;
        }
        std::string changed = ChangedSinceRead(fd, path);
        if (!changed.empty()) {
            if (error)
                *error = std::move(changed);
            return std::nullopt;
        }
        f.path_ = path;
    }
    return f;
}

std::int64_t File::Size() const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
        lastError_ = ErrnoText("cannot get size");
        return -1;
    }
    return static_cast<std::int64_t>(st.st_size);
}

bool File::ReadInto(std::int64_t offset, std::uint8_t* dst, std::size_t count) const {
    if (offset < 0) {
        lastError_ = "negative offset";
        return false;
    }
    while (count > 0) {
        ssize_t n = ::pread(fd_, dst, count, offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            lastError_ = ErrnoText("read failed");
            return false;
        }
        if (n == 0) {
            lastError_ = "unexpected end of file";
            return false;
        }
        dst += n;
        offset += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

File::Mode File::ModeForSave(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return Mode::Read;
    return Mode::ReadWrite;
}

bool File::HoldSaveLock() {
    if (!lock_) {
        auto lock = std::make_unique<SaveLock>(fd_, faults_->group);
        if (!lock->Locked()) {
            lastError_ = kAnotherSave;
            return false;
        }
        lock_ = std::move(lock);
    }
    return true;
}

bool File::WriteAt(std::int64_t offset, const std::uint8_t* data, std::size_t count) {
    wrote_ = true;
    return WriteFully(fd_, offset, data, count, *faults_, lastError_);
}

bool File::Truncate(std::int64_t size) {
    wrote_ = true;
    if (!StepAllowed(*faults_, IoStep::Truncate) || ::ftruncate(fd_, size) != 0) {
        lastError_ = ErrnoText("truncate failed");
        return false;
    }
    return true;
}

bool File::Sync() {
    if (faults_->group && !path_.empty()) {
        // The group flushes it with the others. The duplicate keeps the
        // open file, and so the flock, until then.
        auto held = HoldDuplicate(fd_);
        if (!held) {
            lastError_ = ErrnoText("flush failed");
            return false;
        }
        const int dup = held->fd;
        faults_->group->Defer({path_, {}, dup, 0, {}, held, faults_->step, {}, {}});
        return true;
    }
    // The data and the size are what a reader needs; the times are not worth
    // a second journal write.
    if (!StepAllowed(*faults_, IoStep::Sync) || ::fdatasync(fd_) != 0) {
        lastError_ = ErrnoText("flush failed");
        return false;
    }
    return true;
}

bool ReplaceWriter::Write(const std::uint8_t* data, std::size_t count) {
    if (!out_.WriteAt(pos_, data, count)) {
        error_ = out_.LastError();
        return false;
    }
    pos_ += static_cast<std::int64_t>(count);
    return true;
}

bool ReplaceWriter::CopyFrom(const File& src, std::int64_t offset, std::int64_t count) {
    constexpr std::size_t kBlock = 1 << 20;
    Bytes buf(static_cast<std::size_t>(std::min<std::int64_t>(count, kBlock)));
    while (count > 0) {
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(count, kBlock));
        if (!src.ReadInto(offset, buf.data(), n)) {
            error_ = src.LastError();
            return false;
        }
        if (!Write(buf.data(), n))
            return false;
        offset += static_cast<std::int64_t>(n);
        count -= static_cast<std::int64_t>(n);
    }
    return true;
}

namespace {

// Temporary files of ours are ".sondrel-" plus six characters and ".tmp":
// short, whatever the length of the name being saved, and recognisable.
constexpr std::string_view kTempPrefix = ".sondrel-";
constexpr std::string_view kTempSuffix = ".tmp";

bool IsTemporaryName(std::string_view name) {
    return name.size() == kTempPrefix.size() + 6 + kTempSuffix.size() &&
           name.substr(0, kTempPrefix.size()) == kTempPrefix &&
           name.substr(name.size() - kTempSuffix.size()) == kTempSuffix;
}

// A save's temporary file: unnamed (O_TMPFILE) where the file system allows,
// named only for the rename; otherwise named at once. Either way it is
// locked while in use, so a later save can tell a stale one from a live one,
// and registered for the signal handler while it has a name.
struct TemporaryFile {
    explicit TemporaryFile(std::string folder) : folder_(std::move(folder)) {}
    ~TemporaryFile() {
        registered_.reset();
        if (!name.empty())
            ::unlink(name.c_str());
        if (fd >= 0)
            ::close(fd);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool Create() {
#ifdef O_TMPFILE
        fd = ::open(folder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0)
            return ::flock(fd, LOCK_EX) == 0;
#endif
        std::string tmpl = Template();
        fd = ::mkstemps(tmpl.data(), static_cast<int>(kTempSuffix.size()));
        if (fd < 0)
            return false;
        name = std::move(tmpl);
        registered_.emplace(name);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        return ::flock(fd, LOCK_EX) == 0;
    }

    // Links an unnamed file into the folder under a fresh short name.
    bool GiveName(int openFd) {
        if (!name.empty())
            return true;
        const std::string proc = "/proc/self/fd/" + std::to_string(openFd);
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string candidate = Template();
            static std::atomic<unsigned> counter{0};
            const unsigned n = counter.fetch_add(1) * 2654435761u ^
                               static_cast<unsigned>(::getpid()) ^
                               static_cast<unsigned>(attempt * 40503);
            static constexpr char kChars[] =
                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
            const std::size_t at = candidate.size() - kTempSuffix.size() - 6;
            unsigned v = n;
            for (std::size_t i = 0; i < 6; ++i, v /= 62)
                candidate[at + i] = kChars[v % 62];
            registered_.emplace(candidate);
            if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) ==
                0) {
                name = std::move(candidate);
                return true;
            }
            registered_.reset();
            if (errno != EEXIST)
                return false;
        }
        return false;
    }

    // The name now belongs to the saved file.
    void Renamed() {
        registered_.reset();
        name.clear();
    }

    int fd = -1;
    std::string name;

private:
    std::string Template() const {
        return (std::filesystem::path(folder_) /
                (std::string(kTempPrefix) + "XXXXXX" + std::string(kTempSuffix)))
            .string();
    }
    std::string folder_;
    std::optional<TemporaryName> registered_;
};

// Removes temporary files of ours in `folder` that no process holds: what a
// killed save left behind. A live one is locked by its save and skipped.
void RemoveStaleTemporaries(const std::string& folder) {
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(folder, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!IsTemporaryName(name))
            continue;
        const std::string full = it->path().string();
        const int fd = ::open(full.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(full.c_str());
        ::close(fd);
    }
}

}  // namespace

namespace {

// A rewrite from its lock to its rename: what a save group keeps until its
// commit. Members go in reverse order: the temporary file first, the lock
// on the target last.
struct ReplaceState {
    explicit ReplaceState(std::string folder) : tmp(std::move(folder)) {}
    struct Descriptor {
        int fd = -1;
        ~Descriptor() {
            if (fd >= 0)
                ::close(fd);
        }
    } lockFd;
    std::optional<SaveLock> lock;
    TemporaryFile tmp;
    File out;
};

// The new content, durable by now, takes the target's name. Returns the
// error, empty when the file is replaced.
std::string LandReplacement(ReplaceState& s, const std::string& path,
                            const std::function<bool(IoStep)>& step) {
    // Only now does the new content get a name, and only for the rename.
    if (!s.tmp.GiveName(s.out.Descriptor()))
        return ErrnoText("cannot create temporary file");
    // Data another program wrote meanwhile (without our lock) is not dropped.
    if (std::string changed = ChangedSinceRead(s.lockFd.fd, path); !changed.empty())
        return changed;
    if (!StepAllowed(step, IoStep::Rename) || ::rename(s.tmp.name.c_str(), path.c_str()) != 0)
        return ErrnoText("cannot replace file");
    s.tmp.Renamed();
    NoteFileRead(s.out.Descriptor(), path);
    s.out.Close();
    return {};
}

}  // namespace

IoResult SafeReplace(const std::string& linkPath,
                     const std::function<bool(ReplaceWriter&, std::string& error)>& produce,
                     const IoFaults& faults) {
    RecoverJournalsOnce();
    CommitIfPending(faults, linkPath);
    // Renaming over a symbolic link would replace the link and leave the file
    // it points to unchanged: work on the file itself.
    std::error_code ec;
    const std::filesystem::path resolved = std::filesystem::canonical(linkPath, ec);
    if (ec)
        return {false, "cannot access file: " + ec.message()};
    const std::string path = resolved.string();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {false, ErrnoText("cannot access file")};
    if (!S_ISREG(st.st_mode))
        return {false, "not a regular file"};

    const std::filesystem::path target(path);
    const std::string folder = target.parent_path().empty() ? "." : target.parent_path().string();
    auto state = std::make_shared<ReplaceState>(folder);
    ReplaceState& s = *state;
    // Held from the check that the file is as it was read to the rename: a
    // second save waits here, then finds the file changed and refuses.
    s.lockFd.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (s.lockFd.fd < 0)
        return {false, ErrnoText("cannot open")};
    s.lock.emplace(s.lockFd.fd, faults.group);
    if (!s.lock->Locked())
        return {false, kAnotherSave};
    if (std::string changed = ChangedSinceRead(s.lockFd.fd, path); !changed.empty())
        return {false, changed};

    // A group walks each folder once for what killed saves left.
    if (!faults.group || faults.group->FirstVisit(folder))
        RemoveStaleTemporaries(folder);
    if (!s.tmp.Create())
        return {false, ErrnoText("cannot create temporary file")};
    const int fd = s.tmp.fd;

    auto fail = [&](std::string message) { return IoResult{false, std::move(message)}; };

    // The temporary file gets its final permissions before any data lands.
    if (::fchmod(fd, st.st_mode & 07777) != 0)
        return fail(ErrnoText("cannot set permissions"));
    if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
        // Keeping the owner is best effort: an ordinary user cannot give files away.
    }

    std::string error;
    bool produced = false;
    s.out = File::Adopt(fd, faults);
    s.tmp.fd = -1;  // closed by `out` from here on
    ReplaceWriter writer(s.out);
    try {
        produced = produce(writer, error);
    } catch (const std::exception& e) {
        error = e.what();
    } catch (...) {
        error = "rewrite failed";
    }
    if (produced && faults.group) {
        // Flushed with the group, then renamed; the lock and the unnamed
        // temporary stay with the group until then.
        faults.group->Defer(
            {linkPath,
             folder,
             s.out.Descriptor(),
             writer.Position(),
             [&s, path, step = faults.step] { return LandReplacement(s, path, step); },
             state,
             faults.step,
             {},
             {}});
        return {true, {}};
    }
    if (produced && !s.out.Sync()) {
        produced = false;
        error = s.out.LastError();
    }
    if (!produced && error.empty())
        error = writer.LastError();
    if (!produced)
        return {false, error.empty() ? "rewrite failed" : error};
    if (std::string landed = LandReplacement(s, path, faults.step); !landed.empty())
        return {false, landed};
    // Make the rename itself durable.
    int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return {true, {}};
}

namespace {

// The tail written through a whole-file rewrite: the bytes in front of
// `offset`, `data`, the old bytes behind it, then cut or padded to newSize.
IoResult TailThroughReplace(const std::string& path, const File& file, std::int64_t oldSize,
                            std::int64_t offset, const Bytes& data, std::int64_t newSize,
                            const IoFaults& faults) {
    return SafeReplace(
        path,
        [&](ReplaceWriter& w, std::string&) {
            const std::int64_t end = offset + static_cast<std::int64_t>(data.size());
            if (!w.CopyFrom(file, 0, std::min(offset, oldSize)) || !w.Write(data))
                return false;
            const std::int64_t keepTo = newSize >= 0 ? std::min(newSize, oldSize) : oldSize;
            if (end < keepTo && !w.CopyFrom(file, end, keepTo - end))
                return false;
            if (newSize >= 0 && w.Position() < newSize) {
                const Bytes zeros(static_cast<std::size_t>(newSize - w.Position()), 0);
                return w.Write(zeros);
            }
            return true;
        },
        faults);
}

}  // namespace

IoResult WriteTail(const std::string& path, std::int64_t offset, const Bytes& data,
                   std::int64_t newSize, const IoFaults& faults) {
    RecoverJournalsOnce();
    CommitIfPending(faults, path);
    // A protected file keeps its mode: it is replaced, never made writable.
    const File::Mode mode = File::ModeForSave(path);
    std::string error;
    // Opening for writing takes the save lock and refuses a file changed
    // since it was read; the lock holds until the flush, or the group's.
    auto file = File::Open(path, mode, &error, faults);
    if (!file)
        return {false, error};
    const std::int64_t oldSize = file->Size();
    if (oldSize < 0)
        return {false, file->LastError()};
    if (offset < 0 || offset > oldSize)
        return {false, "the tail does not start inside the file"};
    const std::int64_t end = offset + static_cast<std::int64_t>(data.size());
    const std::int64_t finalSize = newSize >= 0 ? newSize : std::max(oldSize, end);
    if (mode == File::Mode::Read)
        return TailThroughReplace(path, *file, oldSize, offset, data, newSize, faults);

    const int fd = file->Descriptor();
    const std::int64_t needed = std::max(end, finalSize);
    if (needed > oldSize) {
        // Claim the space first: a full disk or a size limit then fails here,
        // before any old byte is overwritten. Kept past the end, so the file
        // reads as before until the journalled write (a kill in between
        // leaves it whole). fallocate itself, not the emulation behind
        // posix_fallocate, which would write into the file.
        int rc = 0;
        if (!StepAllowed(faults, IoStep::Reserve))
            rc = errno;
        else if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, oldSize, needed - oldSize) != 0)
            rc = errno;
        if (rc == EOPNOTSUPP || rc == ENOSYS)
            return TailThroughReplace(path, *file, oldSize, offset, data, newSize, faults);
        if (rc != 0) {
            // A failed reservation may leave blocks behind.
            (void)!::ftruncate(fd, oldSize);
            errno = rc;
            return {false, ErrnoText("cannot reserve space")};
        }
    }
    // The same transaction as every in-place write: the old end journalled
    // first, put back if the write, the cut or the flush (the group's, too)
    // fails, and after a kill by the next recovery.
    std::vector<Region> regions;
    if (!data.empty())
        regions.push_back({offset, data});
    const RegionResult r = WriteRegions(*file, path, std::move(regions), finalSize, faults);
    if (r.ok)
        return {true, {}};
    // Nothing changed: the blocks reserved past the end go again. The cut
    // touches the file's time, so the file is noted again as read: a
    // second try must not take it for another program's change.
    if (needed > oldSize && file->Size() == oldSize && ::ftruncate(fd, oldSize) == 0)
        NoteFileRead(fd, path);
    if (r.fallBack)
        return TailThroughReplace(path, *file, oldSize, offset, data, newSize, faults);
    return {false, r.error};
}

namespace {

// The names of temporary files in use, for a signal handler to remove: fixed
// slots, no allocation, each claimed and released atomically.
constexpr std::size_t kTempSlots = 8;
constexpr std::size_t kTempNameMax = 4096;
struct TempSlot {
    std::atomic<int> state{0};  // 0 free, 1 being filled, 2 names a file
    char name[kTempNameMax];
};
TempSlot tempSlots[kTempSlots];

void RemoveTemporariesAndDie(int sig) {
    for (TempSlot& slot : tempSlots) {
        if (slot.state.load() == 2)
            ::unlink(slot.name);
    }
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

}  // namespace

TemporaryName::TemporaryName(const std::string& path) {
    if (path.size() >= kTempNameMax)
        return;
    for (std::size_t i = 0; i < kTempSlots; ++i) {
        int expected = 0;
        if (tempSlots[i].state.compare_exchange_strong(expected, 1)) {
            std::memcpy(tempSlots[i].name, path.c_str(), path.size() + 1);
            tempSlots[i].state.store(2);
            slot_ = static_cast<int>(i);
            return;
        }
    }
}

TemporaryName::~TemporaryName() {
    if (slot_ >= 0)
        tempSlots[slot_].state.store(0);
}

void PrepareProcessForSaves(bool removeTemporaryOnSignal) {
    ::signal(SIGXFSZ, SIG_IGN);
    // A run of saves frees each file's buffers at the top of the heap; by
    // default the allocator hands that back to the system every time, and
    // the brk with its TLB flush cost more than the rest of a small file's
    // save. Fixed limits instead (fixing one ends the adaptive ones).
    ::mallopt(M_MMAP_THRESHOLD, 4 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 32 << 20);
    if (removeTemporaryOnSignal) {
        struct sigaction sa {};
        sa.sa_handler = &RemoveTemporariesAndDie;
        sigemptyset(&sa.sa_mask);
        ::sigaction(SIGINT, &sa, nullptr);
        ::sigaction(SIGTERM, &sa, nullptr);
    }
    // A file a killed save left half-written reads wholly old from the start,
    // not only once this process saves something.
    RecoverJournalsOnce();
}

}  // namespace sondrel
