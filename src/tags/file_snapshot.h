// SPDX-License-Identifier: GPL-3.0-or-later
// One file opened for reading its tags: opened and sized once, with its
// first and last 64 KiB read in one call each (and noted for a later
// save's check from the same bytes). The components that read
// the same file (ID3v1, ID3v2, the MPEG analysis, the tag-kind scan) take
// their bytes from here instead of each opening and probing the file again.
// Regions outside the cached head and tail are read on demand. It is the
// ByteSource every component's path-taking read opens.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "tags/byte_source.h"
#include "tags/file_io.h"
#include "tags/tail_locator.h"

namespace sondrel {

class FileSnapshot : public ByteSource {
public:
    // The ID3v2 header, a typical tag body, and the first audio frame behind
    // it; at least the bytes the read note of a save's check covers.
    static constexpr std::size_t kHeadBytes = kReadStampBytes;
    // A larger ID3v2 tag (one with a picture) is read whole at opening too,
    // with this much of the audio behind it (more than the longest MPEG
    // frame), unless the tag is larger than kMaxHeadBytes.
    static constexpr std::size_t kAudioStartBytes = 2048;
    static constexpr std::int64_t kMaxHeadBytes = 64 << 20;
    // ID3v1, the Lyrics3 and APE footers, the window searched for an
    // encoder mark in front of them, and the end the read note covers.
    static constexpr std::size_t kTailBytes = kReadStampBytes;

    // What a read is for. Only a file this process may save needs the note a
    // save checks the file against, and that note's reading of 64 KiB at
    // each end was most of a plain read's cost. A read that no save of this
    // process follows (the tool's show) takes no note, leaves any earlier
    // note as it was, and reads ends of kQuickEndBytes.
    enum class Purpose { MaySave, ReadOnly };
    // The ID3v2 header with a short tag and the first frames behind it; at
    // the end ID3v1, the Lyrics3 and APE footers and the encoder mark's window.
    static constexpr std::size_t kQuickEndBytes = 4 << 10;

    FileSnapshot(FileSnapshot&&) noexcept = default;
    FileSnapshot& operator=(FileSnapshot&&) noexcept = default;

    // Opens an existing regular file for reading (folders, devices and FIFOs
    // are refused without blocking) and reads its head and tail. The error
    // text matches File::Open's.
    static std::optional<FileSnapshot> Open(const std::string& path, std::string* error = nullptr,
                                            Purpose purpose = Purpose::MaySave);

    const std::string& Path() const { return path_; }
    const std::string& Name() const override { return path_; }
    // The size when the file was opened; every read below is bounded by it.
    std::int64_t Size() const override { return size_; }

    // The bytes when they lie wholly inside the cached head or tail.
    std::optional<ByteView> Cached(std::int64_t offset, std::size_t count) const;
    // Exactly `count` bytes at `offset`: a view of the cache, or of `storage`
    // after reading them; nullopt on a short read or error.
    std::optional<ByteView> View(std::int64_t offset, std::size_t count,
                                 Bytes& storage) const override;
    bool ReadInto(std::int64_t offset, std::uint8_t* dst, std::size_t count) const override;
    std::optional<Bytes> ReadAt(std::int64_t offset, std::size_t count) const override;
    std::optional<Bytes> ReadUpTo(std::int64_t offset, std::size_t count) const override;

    const std::string& LastError() const override { return file_.LastError(); }

private:
    FileSnapshot() = default;

    // Cached bytes [start, start + size) of the file.
    struct Region {
        std::unique_ptr<std::uint8_t[]> data;
        std::size_t size = 0;
        std::int64_t start = 0;
        // Reads `count` bytes at `from`, taking the first ones from `known`
        // (already read there); false leaves the region empty.
        bool Fill(const File& file, std::int64_t from, std::size_t count,
                  std::span<const std::uint8_t> known);
        std::optional<ByteView> Slice(std::int64_t offset, std::size_t count) const;
    };

    // Where the tags at the end lie, found by the first reader that asked:
    // every component reading this file asks again, and the answer cannot
    // change while the snapshot lives.
    friend tail::Layout tail::Locate(const ByteSource& file, tail::Scope scope);
    mutable std::unique_ptr<const tail::Layout> tailLayout_;

    File file_;
    std::string path_;
    std::int64_t size_ = 0;
    Region head_;  // from offset 0
    Region tail_;  // up to the end; empty when head_ holds the whole file
};

}  // namespace sondrel
