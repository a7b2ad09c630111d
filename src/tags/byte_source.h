// SPDX-License-Identifier: GPL-3.0-or-later
// The one way every parser reads: a size and reads at offsets. A file
// (File, FileSnapshot) or bytes in memory (MemorySource) stand behind it, so
// the components read files for the editor and bytes for tests and fuzzers
// through the same code.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sondrel {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

class ByteSource {
public:
    virtual ~ByteSource() = default;

    // The file's name; empty for bytes in memory.
    virtual const std::string& Name() const;
    // Total size in bytes, or -1 when it cannot be found.
    virtual std::int64_t Size() const = 0;
    // Exactly `count` bytes at `offset` into `dst`; false on a short read or
    // an error (with the reason in LastError).
    virtual bool ReadInto(std::int64_t offset, std::uint8_t* dst, std::size_t count) const = 0;
    // Why the last read failed.
    virtual const std::string& LastError() const = 0;

    // Exactly `count` bytes at `offset`, or nullopt on a short read or error.
    virtual std::optional<Bytes> ReadAt(std::int64_t offset, std::size_t count) const;
    // Up to `count` bytes at `offset` (fewer at the end).
    virtual std::optional<Bytes> ReadUpTo(std::int64_t offset, std::size_t count) const;
    // Exactly `count` bytes at `offset`: a view of bytes the source already
    // holds, or of `storage` after reading them into it.
    virtual std::optional<ByteView> View(std::int64_t offset, std::size_t count,
                                         Bytes& storage) const;
};

// Bytes in memory, not owned: they must outlive the source.
class MemorySource : public ByteSource {
public:
    explicit MemorySource(ByteView bytes, std::string name = {})
        : bytes_(bytes), name_(std::move(name)) {}

    const std::string& Name() const override { return name_; }
    std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }
    bool ReadInto(std::int64_t offset, std::uint8_t* dst, std::size_t count) const override;
    const std::string& LastError() const override { return lastError_; }
    std::optional<ByteView> View(std::int64_t offset, std::size_t count,
                                 Bytes& storage) const override;

private:
    // The view of [offset, offset + count), or nullopt (with the reason set).
    std::optional<ByteView> Slice(std::int64_t offset, std::size_t count) const;

    ByteView bytes_;
    std::string name_;
    mutable std::string lastError_;
};

}  // namespace sondrel
