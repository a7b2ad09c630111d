#include "tags/file_io.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace sondrel {
namespace {

std::string ErrnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// Writes everything or fails; a short write is an error, never silent.
bool WriteFully(int fd, std::int64_t offset, const std::uint8_t* data, std::size_t count,
                const IoFaults& faults, std::string& error) {
    while (count > 0) {
        if (faults.write) {
            const WriteVerdict verdict = faults.write(count);
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

}  // namespace

namespace {

// False (with errno set) when the faults ask for this step to fail.
bool StepAllowed(const IoFaults& faults, IoStep step) {
    if (!faults.step || faults.step(step))
        return true;
    errno = step == IoStep::Rename ? EXDEV : step == IoStep::Reserve ? ENOSPC : EIO;
    return false;
}

}  // namespace

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
    : fd_(other.fd_), faults_(other.faults_), lastError_(std::move(other.lastError_)) {
    other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        faults_ = other.faults_;
        lastError_ = std::move(other.lastError_);
        other.fd_ = -1;
    }
    return *this;
}

File::~File() {
    Close();
}

void File::Close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

std::optional<File> File::Open(const std::string& path, Mode mode, std::string* error,
                               const IoFaults& faults) {
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
    return File(fd, faults);
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

bool File::WriteAt(std::int64_t offset, const std::uint8_t* data, std::size_t count) {
    return WriteFully(fd_, offset, data, count, *faults_, lastError_);
}

bool File::Truncate(std::int64_t size) {
    if (!StepAllowed(*faults_, IoStep::Truncate) || ::ftruncate(fd_, size) != 0) {
        lastError_ = ErrnoText("truncate failed");
        return false;
    }
    return true;
}

bool File::Sync() {
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

IoResult SafeReplace(const std::string& linkPath,
                     const std::function<bool(ReplaceWriter&, std::string& error)>& produce,
                     const IoFaults& faults) {
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
    std::string tmpl =
        (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    int fd = ::mkstemp(tmpl.data());
    if (fd < 0)
        return {false, ErrnoText("cannot create temporary file")};
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);

    auto fail = [&](std::string message) {
        ::close(fd);
        ::unlink(tmpl.c_str());
        return IoResult{false, std::move(message)};
    };

    // The temporary file gets its final permissions before any data lands.
    if (::fchmod(fd, st.st_mode & 07777) != 0)
        return fail(ErrnoText("cannot set permissions"));
    if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
        // Keeping the owner is best effort: an ordinary user cannot give files away.
    }

    std::string error;
    bool produced = false;
    File out = File::Adopt(fd, faults);
    ReplaceWriter writer(out);
    try {
        produced = produce(writer, error);
    } catch (const std::exception& e) {
        error = e.what();
    } catch (...) {
        error = "rewrite failed";
    }
    if (produced && !out.Sync()) {
        produced = false;
        error = out.LastError();
    }
    if (!produced && error.empty())
        error = writer.LastError();
    out.Close();
    if (!produced) {
        ::unlink(tmpl.c_str());
        return {false, error.empty() ? "rewrite failed" : error};
    }
    if (!StepAllowed(faults, IoStep::Rename) || ::rename(tmpl.c_str(), path.c_str()) != 0) {
        IoResult r{false, ErrnoText("cannot replace file")};
        ::unlink(tmpl.c_str());
        return r;
    }
    // Make the rename itself durable.
    int dfd = ::open(target.parent_path().empty() ? "." : target.parent_path().c_str(),
                     O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return {true, {}};
}

namespace {

// Puts `old` back at `offset` and the size back to `size`. The space was
// reserved (or was the file's already), so no write here can meet a full
// disk; the fault hooks are not asked, as they stand for exactly that.
bool RestoreTail(int fd, std::int64_t offset, const Bytes& old, std::int64_t size) {
    std::string ignored;
    return WriteFully(fd, offset, old.data(), old.size(), SystemIo(), ignored) &&
           ::ftruncate(fd, size) == 0 && ::fdatasync(fd) == 0;
}

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
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {false, ErrnoText("cannot access file")};
    if (!S_ISREG(st.st_mode))
        return {false, "not a regular file"};
    const bool writeProtected = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    std::string error;
    auto file =
        File::Open(path, writeProtected ? File::Mode::Read : File::Mode::ReadWrite, &error, faults);
    if (!file)
        return {false, error};
    const std::int64_t oldSize = file->Size();
    if (oldSize < 0)
        return {false, file->LastError()};
    if (offset < 0 || offset > oldSize)
        return {false, "the tail does not start inside the file"};
    const std::int64_t end = offset + static_cast<std::int64_t>(data.size());
    const std::int64_t finalSize = newSize >= 0 ? newSize : std::max(oldSize, end);
    // A protected file keeps its mode: it is replaced, never made writable.
    if (writeProtected)
        return TailThroughReplace(path, *file, oldSize, offset, data, newSize, faults);

    const int fd = file->Descriptor();
    const std::int64_t needed = std::max(end, finalSize);
    if (needed > oldSize) {
        // Claim the space first: a full disk or a size limit then fails here,
        // before any old byte is overwritten. fallocate itself, not the
        // emulation behind posix_fallocate, which would write into the file.
        int rc = 0;
        if (!StepAllowed(faults, IoStep::Reserve))
            rc = errno;
        else if (::fallocate(fd, 0, oldSize, needed - oldSize) != 0)
            rc = errno;
        if (rc == EOPNOTSUPP || rc == ENOSYS)
            return TailThroughReplace(path, *file, oldSize, offset, data, newSize, faults);
        if (rc != 0) {
            // A failed reservation may leave blocks or a size behind.
            const int saved = rc;
            (void)!::ftruncate(fd, oldSize);
            errno = saved;
            return {false, ErrnoText("cannot reserve space")};
        }
    }
    // What the write replaces, to be put back if it fails.
    Bytes old(static_cast<std::size_t>(oldSize - offset));
    if (!old.empty() && !file->ReadInto(offset, old.data(), old.size())) {
        const std::string reason = file->LastError();
        (void)!::ftruncate(fd, oldSize);
        return {false, reason};
    }
    auto undo = [&](std::string reason) {
        if (!RestoreTail(fd, offset, old, oldSize))
            reason += " (" + ErrnoText("the old end could not be put back") + ")";
        return IoResult{false, std::move(reason)};
    };
    if (!file->WriteAt(offset, data))
        return undo(file->LastError());
    if (file->Size() != finalSize && !file->Truncate(finalSize))
        return undo(file->LastError());
    if (!file->Sync())
        return undo(file->LastError());
    return {true, {}};
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
    if (removeTemporaryOnSignal) {
        struct sigaction sa {};
        sa.sa_handler = &RemoveTemporariesAndDie;
        sigemptyset(&sa.sa_mask);
        ::sigaction(SIGINT, &sa, nullptr);
        ::sigaction(SIGTERM, &sa, nullptr);
    }
}

}  // namespace sondrel
