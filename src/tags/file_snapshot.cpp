#include "tags/file_snapshot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sondrel {

namespace {

// Whether [offset, offset + count) lies inside [start, start + size).
bool Inside(std::int64_t offset, std::size_t count, std::int64_t start, std::size_t size) {
    if (offset < start)
        return false;
    const auto rel = static_cast<std::uint64_t>(offset - start);
    return rel <= size && count <= size - rel;
}

// Where an ID3v2 tag at the start ends (header, body and a possible
// footer); 0 when the bytes start no tag.
std::int64_t Id3v2End(const Bytes& head) {
    if (head.size() < 10 || head[0] != 'I' || head[1] != 'D' || head[2] != '3' || head[3] == 0xFF ||
        head[4] == 0xFF)
        return 0;
    std::int64_t body = 0;
    for (std::size_t i = 6; i < 10; ++i) {
        if (head[i] >= 0x80)
            return 0;
        body = body * 128 + head[i];
    }
    const bool footer = head[3] >= 4 && (head[5] & 0x10) != 0;
    return 10 + body + (footer ? 10 : 0);
}

}  // namespace

std::optional<FileSnapshot> FileSnapshot::Open(const std::string& path, std::string* error) {
    // O_NONBLOCK keeps a FIFO from blocking the open; it has no effect on
    // reads of a regular file, so unlike File::Open it is simply left set.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (error)
            *error = std::string("cannot open: ") + std::strerror(errno);
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error)
            *error = "not a regular file";
        ::close(fd);
        return std::nullopt;
    }
    FileSnapshot s;
    s.file_ = File::Adopt(fd);
    s.path_ = path;
    s.size_ = static_cast<std::int64_t>(st.st_size);

    // A failed read (the file shrank meanwhile) leaves that part uncached:
    // its bytes are then read, and found missing, on demand.
    const auto whole = static_cast<std::uint64_t>(s.size_);
    if (whole <= kHeadBytes + kTailBytes) {
        s.head_ = s.file_.ReadAt(0, static_cast<std::size_t>(whole)).value_or(Bytes{});
    } else {
        s.head_ = s.file_.ReadAt(0, kHeadBytes).value_or(Bytes{});
        s.tailStart_ = s.size_ - static_cast<std::int64_t>(kTailBytes);
        if (auto tail = s.file_.ReadAt(s.tailStart_, kTailBytes))
            s.tail_ = std::move(*tail);
        // Every reader of an MP3 wants the whole tag and the audio behind it.
        const std::int64_t tagEnd = Id3v2End(s.head_);
        const auto have = static_cast<std::int64_t>(s.head_.size());
        if (tagEnd > have - static_cast<std::int64_t>(kAudioStartBytes) && tagEnd <= s.size_ &&
            tagEnd <= kMaxHeadBytes) {
            const std::int64_t end =
                std::min(s.size_, tagEnd + static_cast<std::int64_t>(kAudioStartBytes));
            if (auto more = s.file_.ReadAt(have, static_cast<std::size_t>(end - have)))
                s.head_.insert(s.head_.end(), more->begin(), more->end());
        }
    }
    return s;
}

std::optional<FileSnapshot::ByteView> FileSnapshot::Cached(std::int64_t offset,
                                                           std::size_t count) const {
    if (Inside(offset, count, 0, head_.size()))
        return ByteView(head_).subspan(static_cast<std::size_t>(offset), count);
    if (!tail_.empty() && Inside(offset, count, tailStart_, tail_.size()))
        return ByteView(tail_).subspan(static_cast<std::size_t>(offset - tailStart_), count);
    return std::nullopt;
}

std::optional<FileSnapshot::ByteView> FileSnapshot::View(std::int64_t offset, std::size_t count,
                                                         Bytes& storage) const {
    if (auto cached = Cached(offset, count))
        return cached;
    auto bytes = file_.ReadAt(offset, count);
    if (!bytes)
        return std::nullopt;
    storage = std::move(*bytes);
    return ByteView(storage);
}

std::optional<Bytes> FileSnapshot::ReadAt(std::int64_t offset, std::size_t count) const {
    if (auto cached = Cached(offset, count))
        return Bytes(cached->begin(), cached->end());
    return file_.ReadAt(offset, count);
}

std::optional<Bytes> FileSnapshot::ReadUpTo(std::int64_t offset, std::size_t count) const {
    if (offset < 0)
        return std::nullopt;
    if (offset >= size_)
        return Bytes{};
    const auto avail = static_cast<std::uint64_t>(size_ - offset);
    return ReadAt(offset, static_cast<std::size_t>(std::min<std::uint64_t>(avail, count)));
}

}  // namespace sondrel
