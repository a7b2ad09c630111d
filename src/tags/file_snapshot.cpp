// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/file_snapshot.h"
#include "tags/id3v2_frames.h"

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
std::int64_t Id3v2End(std::span<const std::uint8_t> head) {
    const auto header = id3v2::ParseHeader(head);
    if (!header)
        return 0;
    return std::int64_t{id3v2::kHeaderSize} + header->BodySize +
           (header->HasFooter() ? std::int64_t{id3v2::kHeaderSize} : 0);
}

}  // namespace

std::optional<FileSnapshot> FileSnapshot::Open(const std::string& path, std::string* error,
                                               Purpose purpose) {
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

    const bool note = purpose == Purpose::MaySave;
    const std::size_t headBytes = note ? kHeadBytes : kQuickEndBytes;
    const std::size_t tailBytes = note ? kTailBytes : kQuickEndBytes;
    // The head and the tail are read once each, and the note a later save
    // checks the file against is taken from the same bytes. A failed read
    // (the file shrank meanwhile) leaves that part uncached: its bytes are
    // then read, and found missing, on demand; the note then reads for itself.
    const auto whole = static_cast<std::uint64_t>(s.size_);
    if (whole <= headBytes + tailBytes) {
        const auto n = static_cast<std::size_t>(whole);
        if (s.head_.Fill(s.file_, 0, n, {})) {
            const std::size_t ends = std::min(n, kReadStampBytes);
            const std::uint8_t* data = s.head_.data.get();
            if (note)
                NoteFileRead(st, path, {data, ends}, {data + (n - ends), ends});
        } else if (note) {
            NoteFileRead(fd, path);
        }
        return s;
    }
    Region first;
    const bool haveFirst = first.Fill(s.file_, 0, headBytes, {});
    const bool haveTail =
        s.tail_.Fill(s.file_, s.size_ - static_cast<std::int64_t>(tailBytes), tailBytes, {});
    if (!note) {
        // Nothing to note.
    } else if (haveFirst && haveTail) {
        NoteFileRead(st, path, {first.data.get(), kReadStampBytes},
                     {s.tail_.data.get() + (kTailBytes - kReadStampBytes), kReadStampBytes});
    } else {
        NoteFileRead(fd, path);
    }
    if (!haveFirst)
        return s;
    // Every reader of an MP3 wants the whole tag and the audio behind it.
    const std::int64_t tagEnd = Id3v2End({first.data.get(), first.size});
    if (tagEnd > static_cast<std::int64_t>(headBytes - kAudioStartBytes) && tagEnd <= s.size_ &&
        tagEnd <= kMaxHeadBytes) {
        const std::int64_t headEnd =
            std::min(s.size_, tagEnd + static_cast<std::int64_t>(kAudioStartBytes));
        if (s.head_.Fill(s.file_, 0, static_cast<std::size_t>(headEnd),
                         {first.data.get(), first.size}))
            return s;
    }
    s.head_ = std::move(first);
    return s;
}

bool FileSnapshot::Region::Fill(const File& file, std::int64_t from, std::size_t count,
                                std::span<const std::uint8_t> known) {
    // Not zeroed first: every byte is either copied or read.
    data = std::make_unique_for_overwrite<std::uint8_t[]>(count);
    const std::size_t have = std::min(known.size(), count);
    std::copy_n(known.data(), have, data.get());
    if (!file.ReadInto(from + static_cast<std::int64_t>(have), data.get() + have, count - have)) {
        data.reset();
        size = 0;
        return false;
    }
    start = from;
    size = count;
    return true;
}

std::optional<ByteView> FileSnapshot::Region::Slice(std::int64_t offset, std::size_t count) const {
    if (!Inside(offset, count, start, size))
        return std::nullopt;
    return ByteView(data.get() + (offset - start), count);
}

std::optional<ByteView> FileSnapshot::Cached(std::int64_t offset, std::size_t count) const {
    if (auto v = head_.Slice(offset, count))
        return v;
    return tail_.Slice(offset, count);
}

std::optional<ByteView> FileSnapshot::View(std::int64_t offset, std::size_t count,
                                           Bytes& storage) const {
    if (auto cached = Cached(offset, count))
        return cached;
    auto bytes = file_.ReadAt(offset, count);
    if (!bytes)
        return std::nullopt;
    storage = std::move(*bytes);
    return ByteView(storage);
}

bool FileSnapshot::ReadInto(std::int64_t offset, std::uint8_t* dst, std::size_t count) const {
    if (auto cached = Cached(offset, count)) {
        std::copy(cached->begin(), cached->end(), dst);
        return true;
    }
    return file_.ReadInto(offset, dst, count);
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
