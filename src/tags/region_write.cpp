// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/region_write.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "tags/save_group.h"

namespace sondrel {
namespace {

std::string ErrnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

bool StepAllowed(const std::function<bool(IoStep)>& hook, IoStep step) {
    if (!hook || hook(step))
        return true;
    errno = EIO;
    return false;
}

// Checks the journal's own bytes and the regions' new bytes: a word at a
// step, as the journal holds the old tag whole, pictures and all.
std::uint64_t Checksum(const std::uint8_t* data, std::size_t count) {
    constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;
    std::uint64_t h = 0xcbf29ce484222325ull ^ count;
    std::size_t i = 0;
    for (; count - i >= 8; i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, data + i, 8);
        h = (std::rotl(h, 29) ^ word) * kMul;
    }
    for (; i < count; ++i)
        h = (std::rotl(h, 29) ^ data[i]) * kMul;
    return h ^ (h >> 31);
}

bool ReadAllAt(int fd, std::int64_t offset, std::uint8_t* to, std::size_t count) {
    while (count > 0) {
        const ssize_t n = ::pread(fd, to, count, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        to += n;
        offset += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

void FlushFolder(const std::string& folder) {
    const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

// ---- The journal's bytes ----
//
// "SDLJRNL2", entry count (u32), the entries, then a checksum of all that
// (u64) and "SDLJEND1". An entry: device, inode, old size, new size (u64
// each), the path (u32 length, bytes), region count (u32), and per region:
// offset and new length (u64 each), the new bytes, old length (u64) and
// the old bytes. Host byte order: a journal never leaves its machine. The
// new bytes tell recovery which bytes of a torn file are ours: anything
// else was written by another program since.

constexpr char kMagic[8] = {'S', 'D', 'L', 'J', 'R', 'N', 'L', '2'};
// Journals of the first layout kept only a checksum of the new bytes.
constexpr char kOldMagic[8] = {'S', 'D', 'L', 'J', 'R', 'N', 'L', '1'};
constexpr char kEnd[8] = {'S', 'D', 'L', 'J', 'E', 'N', 'D', '1'};
constexpr std::string_view kJournalSuffix = ".journal";
constexpr std::string_view kCreatingSuffix = ".creating";

template <typename T>
void Put(Bytes& out, T value) {
    const auto at = out.size();
    out.resize(at + sizeof(T));
    std::memcpy(out.data() + at, &value, sizeof(T));
}

void PutMark(Bytes& out, const char (&mark)[8]) {
    const auto at = out.size();
    out.resize(at + sizeof(mark));
    std::memcpy(out.data() + at, mark, sizeof(mark));
}

void PutEntry(Bytes& out, const RegionEdit& e) {
    Put<std::uint64_t>(out, e.dev);
    Put<std::uint64_t>(out, e.ino);
    Put<std::int64_t>(out, e.oldSize);
    Put<std::int64_t>(out, e.newSize);
    Put<std::uint32_t>(out, static_cast<std::uint32_t>(e.path.size()));
    out.insert(out.end(), e.path.begin(), e.path.end());
    Put<std::uint32_t>(out, static_cast<std::uint32_t>(e.regions.size()));
    for (std::size_t i = 0; i < e.regions.size(); ++i) {
        const Region& r = e.regions[i];
        Put<std::int64_t>(out, r.offset);
        Put<std::uint64_t>(out, r.bytes.size());
        out.insert(out.end(), r.bytes.begin(), r.bytes.end());
        Put<std::uint64_t>(out, e.old[i].size());
        out.insert(out.end(), e.old[i].begin(), e.old[i].end());
    }
}

constexpr std::int64_t kHeadBytes = sizeof(kMagic) + sizeof(std::uint32_t);
constexpr std::int64_t kTrailerBytes = sizeof(std::uint64_t) + sizeof(kEnd);

// A journal entry as read back for recovery.
struct JournalRegion {
    std::int64_t offset = 0;
    Bytes fresh;
    Bytes old;
};
struct JournalEntry {
    dev_t dev = 0;
    ino_t ino = 0;
    std::int64_t oldSize = 0;
    std::int64_t newSize = 0;
    std::string path;
    std::vector<JournalRegion> regions;
};

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    template <typename T>
    bool Get(T& value) {
        if (bytes_.size() - at_ < sizeof(T))
            return false;
        std::memcpy(&value, bytes_.data() + at_, sizeof(T));
        at_ += sizeof(T);
        return true;
    }
    bool Take(std::uint64_t count, const std::uint8_t*& from) {
        if (bytes_.size() - at_ < count)
            return false;
        from = bytes_.data() + at_;
        at_ += static_cast<std::size_t>(count);
        return true;
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

// Nullopt when the journal is torn or not ours: such a journal was never
// flushed whole, so no region was written under it.
std::optional<std::vector<JournalEntry>> ParseJournal(const Bytes& bytes) {
    constexpr std::size_t kTrailer = sizeof(std::uint64_t) + sizeof(kEnd);
    if (bytes.size() < sizeof(kMagic) + 4 + kTrailer ||
        std::memcmp(bytes.data(), kMagic, sizeof(kMagic)) != 0 ||
        std::memcmp(bytes.data() + bytes.size() - sizeof(kEnd), kEnd, sizeof(kEnd)) != 0)
        return std::nullopt;
    const std::size_t bodyEnd = bytes.size() - kTrailer;
    std::uint64_t sum = 0;
    std::memcpy(&sum, bytes.data() + bodyEnd, sizeof(sum));
    if (sum != Checksum(bytes.data(), bodyEnd))
        return std::nullopt;
    Reader r({bytes.data() + sizeof(kMagic), bodyEnd - sizeof(kMagic)});
    std::uint32_t count = 0;
    if (!r.Get(count))
        return std::nullopt;
    std::vector<JournalEntry> entries;
    for (std::uint32_t n = 0; n < count; ++n) {
        JournalEntry e;
        std::uint64_t dev = 0, ino = 0;
        std::uint32_t pathLength = 0, regions = 0;
        const std::uint8_t* p = nullptr;
        if (!r.Get(dev) || !r.Get(ino) || !r.Get(e.oldSize) || !r.Get(e.newSize) ||
            !r.Get(pathLength) || !r.Take(pathLength, p))
            return std::nullopt;
        e.dev = static_cast<dev_t>(dev);
        e.ino = static_cast<ino_t>(ino);
        e.path.assign(reinterpret_cast<const char*>(p), pathLength);
        if (!r.Get(regions))
            return std::nullopt;
        for (std::uint32_t k = 0; k < regions; ++k) {
            JournalRegion jr;
            std::uint64_t newLength = 0, oldLength = 0;
            if (!r.Get(jr.offset) || !r.Get(newLength) || !r.Take(newLength, p))
                return std::nullopt;
            jr.fresh.assign(p, p + newLength);
            if (!r.Get(oldLength) || !r.Take(oldLength, p))
                return std::nullopt;
            jr.old.assign(p, p + oldLength);
            e.regions.push_back(std::move(jr));
        }
        entries.push_back(std::move(e));
    }
    return entries;
}

bool EndsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

std::string Octal(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Whether `folder` may hold journals: a folder of this user's own, not a
// symbolic link, that no one else may write to. One that only its owner
// and group could write to (as an older version made it, under the umask)
// is tightened to 0700: a file planted there meanwhile fails RefusalOf.
// With `create`, a missing folder is made, 0700. Empty when usable, else why
// not.
std::string CheckFolder(const std::string& folder, bool create) {
    const std::string named = "the journal folder " + folder;
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) {
        if (errno != ENOENT || !create)
            return ErrnoText(("cannot use " + named).c_str());
        std::error_code ec;
        const std::filesystem::path parent = std::filesystem::path(folder).parent_path();
        if (!parent.empty())
            std::filesystem::create_directories(parent, ec);
        if (ec)
            return "cannot create " + named + ": " + ec.message();
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            return ErrnoText(("cannot create " + named).c_str());
        if (::lstat(folder.c_str(), &st) != 0)
            return ErrnoText(("cannot use " + named).c_str());
    }
    if (S_ISLNK(st.st_mode))
        return named + " is a symbolic link";
    if (!S_ISDIR(st.st_mode))
        return named + " is not a folder";
    if (st.st_uid != ::geteuid())
        return named + " belongs to another user";
    if ((st.st_mode & 07777) != 0700) {
        if ((st.st_mode & (S_IWOTH | S_ISVTX)) != 0)
            return named + " may be written by other users (mode " + Octal(st.st_mode) +
                   ", not 0700)";
        const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const bool tightened = dfd >= 0 && ::fchmod(dfd, 0700) == 0;
        if (dfd >= 0)
            ::close(dfd);
        if (!tightened)
            return ErrnoText(("cannot make " + named + " private").c_str());
    }
    return {};
}

// Why the journal file `st` describes is not one to replay; empty when it
// is: this user's own, a regular file with one name, mode 0600, and no
// larger than any journal written.
std::string RefusalOf(const struct stat& st) {
    if (!S_ISREG(st.st_mode))
        return "not a regular file";
    if (st.st_uid != ::geteuid())
        return "it belongs to another user";
    if ((st.st_mode & 07777) != 0600)
        return "its mode is " + Octal(st.st_mode) + ", not 0600";
    if (st.st_nlink != 1)
        return "it has more than one name";
    if (st.st_size > kMaxJournalBytes)
        return "it is " + std::to_string(st.st_size) + " bytes, larger than any journal";
    return {};
}

std::mutex problemsMutex;
std::vector<std::string>& Problems() {
    static std::vector<std::string> problems;
    return problems;
}

}  // namespace

std::vector<std::string> JournalProblems() {
    std::lock_guard lock(problemsMutex);
    return Problems();
}

std::string JournalFolder() {
    if (const char* dir = std::getenv("SONDREL_JOURNAL_DIR"); dir && *dir)
        return dir;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
        return std::string(state) + "/sondrel/journal";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.local/state/sondrel/journal";
    return {};
}

// ---- Journal files ----

// One journal file, locked by this process while it exists: a locked
// journal belongs to a live save and recovery leaves it alone. Emptied
// after each transaction and used again, so its name is flushed into the
// folder only once.
struct Journal::Slot {
    std::string folder;
    std::string name;
    int fd = -1;
    ~Slot() {
        if (fd >= 0)
            ::close(fd);
    }
};

namespace {

std::mutex poolMutex;
// Idle journals of this process, emptied; removed when the process ends.
struct Pool {
    std::vector<std::unique_ptr<Journal::Slot>> idle;
    ~Pool() {
        for (const auto& s : idle)
            ::unlink(s->name.c_str());
    }
};
Pool& IdleJournals() {
    static Pool pool;
    return pool;
}

std::unique_ptr<Journal::Slot> NewSlot(const std::string& folder, std::string& error) {
    if (std::string refused = CheckFolder(folder, true); !refused.empty()) {
        error = std::move(refused);
        return nullptr;
    }
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 10; ++attempt) {
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        const std::string stem = folder + "/" + std::to_string(::getpid()) + "-" +
                                 std::to_string(counter++) + "-" + std::to_string(now);
        const std::string creating = stem + std::string(kCreatingSuffix);
        auto slot = std::make_unique<Journal::Slot>();
        slot->folder = folder;
        slot->name = stem + std::string(kJournalSuffix);
        slot->fd = ::open(creating.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (slot->fd < 0) {
            if (errno == EEXIST)
                continue;
            error = ErrnoText("cannot create a journal");
            return nullptr;
        }
        // Locked before it carries the journal's name, so recovery never
        // takes a live journal for a dead one. link, not rename: it never
        // replaces a journal left under the same name. 0600 whatever the
        // umask: recovery replays nothing else.
        const bool locked = ::fchmod(slot->fd, 0600) == 0 && ::flock(slot->fd, LOCK_EX) == 0;
        const bool named = locked && ::link(creating.c_str(), slot->name.c_str()) == 0;
        const int saved = errno;
        ::unlink(creating.c_str());
        if (named) {
            FlushFolder(folder);
            return slot;
        }
        errno = saved;
        if (errno != EEXIST && errno != ENOENT) {
            error = ErrnoText("cannot create a journal");
            return nullptr;
        }
    }
    error = "cannot create a journal: no free name";
    return nullptr;
}

std::unique_ptr<Journal::Slot> TakeSlot(std::string& error) {
    const std::string folder = JournalFolder();
    if (folder.empty()) {
        error = "no journal folder (HOME is not set)";
        return nullptr;
    }
    {
        std::lock_guard lock(poolMutex);
        auto& idle = IdleJournals().idle;
        for (auto it = idle.begin(); it != idle.end(); ++it) {
            if ((*it)->folder == folder) {
                auto slot = std::move(*it);
                idle.erase(it);
                return slot;
            }
        }
    }
    return NewSlot(folder, error);
}

}  // namespace

Journal::Journal(std::unique_ptr<Slot> slot) : slot_(std::move(slot)) {}

Journal::~Journal() {
    if (!finished_)
        Finish(true);
}

std::unique_ptr<Journal> Journal::Write(std::span<RegionEdit* const> edits, std::string& error) {
    const std::string folder = JournalFolder();
    const std::string named = "the undo journal in " + (folder.empty() ? "no folder" : folder);
    std::int64_t size = kHeadBytes + kTrailerBytes;
    for (const RegionEdit* e : edits)
        size += e->JournalBytes();
    if (size > kMaxJournalBytes) {
        error = named + " would be larger than " + std::to_string(kMaxJournalBytes >> 20) + " MiB";
        return nullptr;
    }
    auto slot = TakeSlot(error);
    if (!slot) {
        error = "no undo journal: " + error;
        return nullptr;
    }
    // Built whole and checked whole; each edit's journal hook is asked
    // before its part.
    Bytes all;
    all.reserve(static_cast<std::size_t>(size));
    PutMark(all, kMagic);
    Put<std::uint32_t>(all, static_cast<std::uint32_t>(edits.size()));
    std::vector<std::size_t> ends;
    for (RegionEdit* e : edits) {
        PutEntry(all, *e);
        ends.push_back(all.size());
    }
    Put<std::uint64_t>(all, Checksum(all.data(), all.size()));
    PutMark(all, kEnd);
    auto fail = [&](std::string reason) {
        // Nothing was written under it: empty it for the next one.
        if (::ftruncate(slot->fd, 0) == 0) {
            std::lock_guard lock(poolMutex);
            IdleJournals().idle.push_back(std::move(slot));
        }
        // Says it is the journal that failed, not the file being saved.
        error = named + " could not be written: " + reason;
        return nullptr;
    };
    auto allowed = [](const RegionEdit* e) {
        if (!e->journal || e->journal())
            return true;
        errno = ENOSPC;
        return false;
    };
    std::string reason;
    std::size_t at = 0;
    for (std::size_t i = 0; i <= edits.size(); ++i) {
        const std::size_t to = i < edits.size() ? ends[i] : all.size();
        // The header goes with the first edit's part, the trailer alone.
        if (i < edits.size() && !allowed(edits[i]))
            return fail(ErrnoText("write failed"));
        if (!WriteAllAt(slot->fd, static_cast<std::int64_t>(at), all.data() + at, to - at, {},
                        reason))
            return fail(reason);
        at = to;
    }
    // A longer journal of an earlier transaction may lie behind.
    if (::ftruncate(slot->fd, static_cast<off_t>(all.size())) != 0)
        return fail(ErrnoText("truncate failed"));
    for (RegionEdit* e : edits) {
        if (!allowed(e))
            return fail(ErrnoText("flush failed"));
    }
    if (::fdatasync(slot->fd) != 0)
        return fail(ErrnoText("flush failed"));
    return std::unique_ptr<Journal>(new Journal(std::move(slot)));
}

void Journal::Finish(bool keep) {
    if (finished_ || !slot_)
        return;
    finished_ = true;
    if (keep) {
        // Closing unlocks it: the next recovery finds it and puts the old
        // bytes back.
        slot_.reset();
        return;
    }
    // Emptying need not be durable: a journal found again after a crash
    // describes files that already hold their new bytes, and is dropped.
    if (::ftruncate(slot_->fd, 0) != 0) {
        slot_.reset();
        return;
    }
    std::lock_guard lock(poolMutex);
    IdleJournals().idle.push_back(std::move(slot_));
}

// ---- One file's change ----

std::string RegionEdit::Apply() {
    std::string error;
    for (const Region& r : regions) {
        if (!WriteAllAt(fd, r.offset, r.bytes.data(), r.bytes.size(), write, error)) {
            undoFailed = !Undo();
            if (undoFailed)
                error += " (" + ErrnoText("the old bytes could not be put back") + ")";
            return error;
        }
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size != newSize) {
        if (!StepAllowed(step, IoStep::Truncate) || ::ftruncate(fd, newSize) != 0) {
            error = ErrnoText("truncate failed");
            undoFailed = !Undo();
            if (undoFailed)
                error += " (" + ErrnoText("the old bytes could not be put back") + ")";
            return error;
        }
    }
    return {};
}

bool RegionEdit::Undo() {
    // The old bytes fit where they were, so no write here needs new space;
    // the fault hooks are not asked, as they stand for exactly that.
    std::string ignored;
    for (std::size_t i = 0; i < regions.size(); ++i) {
        if (!WriteAllAt(fd, regions[i].offset, old[i].data(), old[i].size(), {}, ignored))
            return false;
    }
    return ::ftruncate(fd, oldSize) == 0 && ::fdatasync(fd) == 0;
}

std::int64_t RegionEdit::JournalBytes() const {
    std::int64_t bytes = 4 * 8 + 4 + static_cast<std::int64_t>(path.size()) + 4;
    for (std::size_t i = 0; i < regions.size(); ++i)
        bytes += 3 * 8 + static_cast<std::int64_t>(regions[i].bytes.size() + old[i].size());
    return bytes;
}

std::string RegionEdit::Rewrite() {
    IoFaults io;
    io.write = write;
    io.step = step;
    // Locked since the save checked it against its read, the file holds
    // nothing new but the space a growing tail reserved past its end: that
    // goes, and the file is taken as read again for the rewrite's check.
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size == oldSize && ::ftruncate(fd, oldSize) == 0)
        NoteFileRead(fd, name);
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return ErrnoText("cannot read file");
    const File source = File::Adopt(copy);
    std::vector<const Region*> order;
    for (const Region& r : regions) {
        if (!r.bytes.empty())
            order.push_back(&r);
    }
    std::sort(order.begin(), order.end(),
              [](const Region* a, const Region* b) { return a->offset < b->offset; });
    const IoResult r = SafeReplace(
        name,
        [&](ReplaceWriter& w, std::string& error) {
            // The old bytes up to `to`, zeros past the old end (as a cut
            // that lengthens a file leaves them).
            auto keepTo = [&](std::int64_t to) {
                const std::int64_t from = w.Position();
                const std::int64_t kept = std::min(to, oldSize) - from;
                if (kept > 0 && !w.CopyFrom(source, from, kept))
                    return false;
                return w.Position() >= to ||
                       w.Write(Bytes(static_cast<std::size_t>(to - w.Position()), 0));
            };
            bool ok = true;
            for (const Region* region : order) {
                if (!ok || region->offset >= newSize)
                    break;
                const auto take = static_cast<std::size_t>(std::min<std::int64_t>(
                    static_cast<std::int64_t>(region->bytes.size()), newSize - region->offset));
                ok = keepTo(region->offset) && w.Write(region->bytes.data(), take);
            }
            ok = ok && keepTo(newSize);
            if (!ok)
                error = w.LastError();
            return ok;
        },
        io);
    return r.error;
}

RegionResult WriteRegions(File& file, const std::string& path, std::vector<Region> regions,
                          std::int64_t newSize, const IoFaults& faults) {
    RecoverJournalsOnce();
    auto edit = std::make_shared<RegionEdit>();
    RegionEdit& e = *edit;
    struct stat st {};
    if (::fstat(file.Descriptor(), &st) != 0)
        return {false, false, ErrnoText("cannot access file")};
    // Recovery opens it by this name, never following a link there: the
    // file itself, whatever way the save named it. The device and inode
    // tell whether it is still the same file.
    std::error_code ec;
    e.path = std::filesystem::canonical(path, ec).string();
    if (ec)
        return {false, false, "cannot access file: " + ec.message()};
    e.name = path;
    e.fd = file.Descriptor();
    e.dev = st.st_dev;
    e.ino = st.st_ino;
    e.oldSize = st.st_size;
    e.newSize = newSize;
    e.write = faults.write;
    e.step = faults.step;
    e.journal = faults.journal;
    // Bytes a cut drops must come back with an undo.
    if (newSize < e.oldSize)
        regions.push_back({newSize, {}});
    bool same = newSize == e.oldSize;
    for (const Region& r : regions) {
        if (r.offset < 0 || r.offset > e.oldSize)
            return {false, false, "a region does not start inside the file"};
        const std::int64_t end = r.bytes.empty() && r.offset == newSize && newSize < e.oldSize
                                     ? e.oldSize
                                     : r.offset + static_cast<std::int64_t>(r.bytes.size());
        Bytes old(static_cast<std::size_t>(std::min(end, e.oldSize) - r.offset));
        if (!old.empty() && !ReadAllAt(e.fd, r.offset, old.data(), old.size()))
            return {false, false, ErrnoText("read failed")};
        same = same && old == r.bytes;
        e.old.push_back(std::move(old));
    }
    // Only the bytes that change are journalled and written: a title
    // change rewrites a few bytes of a tag that may hold a picture.
    std::vector<Region> trimmed;
    std::vector<Bytes> trimmedOld;
    for (std::size_t i = 0; i < regions.size(); ++i) {
        Region& r = regions[i];
        Bytes& old = e.old[i];
        if (r.bytes.empty()) {  // the cut
            trimmed.push_back(std::move(r));
            trimmedOld.push_back(std::move(old));
            continue;
        }
        const auto front = static_cast<std::size_t>(
            std::mismatch(old.begin(), old.end(), r.bytes.begin()).first - old.begin());
        std::size_t back = 0;
        if (old.size() == r.bytes.size()) {
            back = static_cast<std::size_t>(
                std::mismatch(old.rbegin(), old.rend() - static_cast<std::ptrdiff_t>(front),
                              r.bytes.rbegin())
                    .first -
                old.rbegin());
        }
        if (front + back == r.bytes.size())
            continue;
        const auto from = static_cast<std::ptrdiff_t>(front);
        trimmed.push_back(
            {r.offset + from,
             Bytes(r.bytes.begin() + from, r.bytes.end() - static_cast<std::ptrdiff_t>(back))});
        trimmedOld.push_back(
            Bytes(old.begin() + from,
                  old.end() - static_cast<std::ptrdiff_t>(std::min(back, old.size() - front))));
    }
    e.regions = std::move(trimmed);
    e.old = std::move(trimmedOld);
    if (same)
        return {true, false, {}};

    if (faults.group) {
        // The group's journal is written at its commit, too late to fall
        // back then: the folder is tried now (and its journal kept open).
        std::string error;
        if (e.JournalBytes() > kMaxJournalBytes)
            return {false, true, "the change is too large for an undo journal"};
        auto slot = TakeSlot(error);
        if (!slot)
            return {false, true, error};
        {
            std::lock_guard lock(poolMutex);
            IdleJournals().idle.push_back(std::move(slot));
        }
        // Journal, writes and flush wait for the commit; the duplicate
        // keeps the open file, and so the save lock, until then.
        auto held = HoldDuplicate(e.fd);
        if (!held)
            return {false, false, ErrnoText("cannot hold the file")};
        e.fd = held->fd;
        SaveGroup::Pending p;
        p.path = path;
        p.fd = held->fd;
        p.hold = held;
        p.step = faults.step;
        p.edit = edit;
        // The journal's bytes wait in memory until the commit.
        p.bytes = e.JournalBytes();
        faults.group->Defer(std::move(p));
        return {true, false, {}};
    }

    RegionEdit* const one[] = {edit.get()};
    std::string error;
    auto journal = Journal::Write(one, error);
    if (!journal) {
        // Nothing has changed yet, and a whole-file rewrite is as safe: a
        // full or unusable journal folder is no reason to fail the save.
        return {false, true, error};
    }
    if (std::string failed = e.Apply(); !failed.empty()) {
        // Old again, as read: a second try must not be refused. A file
        // still torn keeps its journal for the recovery.
        if (!e.undoFailed)
            NoteFileRead(e.fd, path);
        journal->Finish(e.undoFailed);
        return {false, false, failed};
    }
    if (!StepAllowed(e.step, IoStep::Sync) || ::fdatasync(e.fd) != 0) {
        std::string failed = ErrnoText("flush failed");
        const bool undone = e.Undo();
        if (!undone)
            failed += " (" + ErrnoText("the old bytes could not be put back") + ")";
        else
            NoteFileRead(e.fd, path);
        journal->Finish(!undone);
        return {false, false, failed};
    }
    journal->Finish(false);
    // Our own change: a later save of this process must not refuse it.
    NoteFileRead(e.fd, path);
    return {true, false, {}};
}

// ---- Recovery ----

namespace {

// Torn: every byte of every region our old or our new one, the file
// neither wholly; Foreign: some byte is neither, so another program wrote
// there after the save died; Other: not the file the journal was written
// for.
enum class Holds { Old, New, Torn, Foreign, Other, Unreadable };

Holds Examine(int fd, const JournalEntry& e) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_dev != e.dev || st.st_ino != e.ino)
        return Holds::Other;
    // A size no step of the change could have left: another file under a
    // reused inode, or a file changed since.
    std::int64_t reach = std::max(e.oldSize, e.newSize);
    for (const auto& r : e.regions)
        reach = std::max(reach, r.offset + static_cast<std::int64_t>(r.fresh.size()));
    if (st.st_size < std::min(e.oldSize, e.newSize) || st.st_size > reach)
        return Holds::Other;
    bool isNew = st.st_size == e.newSize;
    bool isOld = st.st_size == e.oldSize;
    Bytes buf;
    for (const auto& r : e.regions) {
        // A kill leaves a region a run of new bytes and the old rest, or
        // cut short; the bytes the file still has are checked one by one.
        const std::size_t span = std::max(r.old.size(), r.fresh.size());
        const auto present = static_cast<std::size_t>(
            std::clamp<std::int64_t>(st.st_size - r.offset, 0, static_cast<std::int64_t>(span)));
        buf.resize(present);
        if (present > 0 && !ReadAllAt(fd, r.offset, buf.data(), present))
            return Holds::Unreadable;
        for (std::size_t i = 0; i < present; ++i) {
            const bool old = i < r.old.size() && buf[i] == r.old[i];
            const bool fresh = i < r.fresh.size() && buf[i] == r.fresh[i];
            if (!old && !fresh)
                return Holds::Foreign;
            isOld = isOld && old;
            isNew = isNew && fresh;
        }
        isOld = isOld && present >= r.old.size();
        isNew = isNew && present >= r.fresh.size();
    }
    return isNew ? Holds::New : isOld ? Holds::Old : Holds::Torn;
}

enum class Settled { Done, Retry, LeftAlone };

Settled Settle(const JournalEntry& e) {
    const int fd = ::open(e.path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    // Gone, or a symbolic link stands where the file itself was: the name
    // no longer leads to it, and no retry would find it.
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR || errno == ELOOP ? Settled::Done
                                                                     : Settled::Retry;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    // A file some live save holds is left for later rather than waited for.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return Settled::Retry;
    switch (Examine(fd, e)) {
        case Holds::Other:
        case Holds::Old:
        case Holds::New:
            return Settled::Done;
        case Holds::Foreign:
            return Settled::LeftAlone;
        case Holds::Unreadable:
            return Settled::Retry;
        case Holds::Torn:
            break;
    }
    std::string ignored;
    for (const auto& r : e.regions) {
        if (!WriteAllAt(fd, r.offset, r.old.data(), r.old.size(), {}, ignored))
            return Settled::Retry;
    }
    return ::ftruncate(fd, e.oldSize) == 0 && ::fdatasync(fd) == 0 ? Settled::Done : Settled::Retry;
}

Bytes ReadWhole(int fd) {
    Bytes out;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size <= 0)
        return out;
    out.resize(static_cast<std::size_t>(st.st_size));
    if (!ReadAllAt(fd, 0, out.data(), out.size()))
        out.clear();
    return out;
}

std::string LeftAloneText(const std::vector<JournalEntry>& entries, const std::string& journal) {
    std::string files;
    for (const JournalEntry& e : entries)
        files += (files.empty() ? "" : ", ") + e.path;
    return (files.empty() ? std::string("a file") : files) +
           ": a save of it was interrupted and another program changed it since, so its old "
           "bytes were not put back; check it, then remove " +
           journal;
}

}  // namespace

std::size_t RecoverJournals(const std::string& folder) {
    std::size_t settled = 0;
    std::vector<std::string> problems;
    struct Told {
        std::vector<std::string>& problems;
        ~Told() {
            std::lock_guard lock(problemsMutex);
            Problems() = std::move(problems);
        }
    } told{problems};
    struct stat folderStat {};
    if (folder.empty() || ::lstat(folder.c_str(), &folderStat) != 0)
        return 0;
    // Journals in a folder others may write to could be anyone's: none is
    // replayed.
    if (std::string refused = CheckFolder(folder, false); !refused.empty()) {
        problems.push_back(refused + "; its journals were not replayed");
        return 0;
    }
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    std::vector<std::string> names;
    while (const dirent* d = ::readdir(dir)) {
        const std::string_view name = d->d_name;
        if (EndsWith(name, kJournalSuffix) || EndsWith(name, kCreatingSuffix) ||
            EndsWith(name, kSetAsideSuffix))
            names.emplace_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string full = folder + "/" + name;
        struct stat named {};
        if (::lstat(full.c_str(), &named) != 0)
            continue;  // another recovery settled it meanwhile
        if (std::string refused = RefusalOf(named); !refused.empty()) {
            problems.push_back(full + " was not replayed: " + refused);
            continue;
        }
        const int fd = ::open(full.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct Closer {
            int fd;
            ~Closer() { ::close(fd); }
        } closer{fd};
        // The file checked is the file opened.
        struct stat mine {};
        if (::fstat(fd, &mine) != 0 || mine.st_ino != named.st_ino || mine.st_dev != named.st_dev ||
            !RefusalOf(mine).empty())
            continue;
        if (EndsWith(name, kSetAsideSuffix)) {
            const auto entries = ParseJournal(ReadWhole(fd));
            problems.push_back(LeftAloneText(entries.value_or(std::vector<JournalEntry>{}), full));
            continue;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
            continue;  // a live save's
        // Another recovery may have settled and removed it meanwhile.
        if (::stat(full.c_str(), &named) != 0 || mine.st_ino != named.st_ino ||
            mine.st_dev != named.st_dev)
            continue;
        if (EndsWith(name, kCreatingSuffix)) {
            ::unlink(full.c_str());
            continue;
        }
        const Bytes bytes = ReadWhole(fd);
        if (bytes.size() >= sizeof(kOldMagic) &&
            std::memcmp(bytes.data(), kOldMagic, sizeof(kOldMagic)) == 0) {
            problems.push_back(full +
                               " was not replayed: it was written by an earlier version, which "
                               "did not keep the bytes recovery now checks");
            continue;
        }
        const auto entries = ParseJournal(bytes);
        bool retry = false;
        std::vector<JournalEntry> leftAlone;
        for (const JournalEntry& e : entries.value_or(std::vector<JournalEntry>{})) {
            switch (Settle(e)) {
                case Settled::Done:
                    break;
                case Settled::Retry:
                    retry = true;
                    break;
                case Settled::LeftAlone:
                    leftAlone.push_back(e);
                    break;
            }
        }
        if (retry)
            continue;
        if (!leftAlone.empty()) {
            // Never replayed again, and kept for the user to see: the
            // files it names hold another program's bytes now.
            const std::string aside =
                full.substr(0, full.size() - kJournalSuffix.size()) + std::string(kSetAsideSuffix);
            if (::rename(full.c_str(), aside.c_str()) == 0) {
                FlushFolder(folder);
                problems.push_back(LeftAloneText(leftAlone, aside));
            }
            continue;
        }
        ::unlink(full.c_str());
        ++settled;
    }
    return settled;
}

void RecoverJournalsOnce() {
    static std::once_flag once;
    std::call_once(once, [] { RecoverJournals(JournalFolder()); });
}

}  // namespace sondrel
