// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/byte_source.h"

#include <algorithm>

namespace sondrel {

const std::string& ByteSource::Name() const {
    static const std::string none;
    return none;
}

std::optional<Bytes> ByteSource::ReadAt(std::int64_t offset, std::size_t count) const {
    Bytes buf(count);
    if (!ReadInto(offset, buf.data(), count))
        return std::nullopt;
    return buf;
}

std::optional<Bytes> ByteSource::ReadUpTo(std::int64_t offset, std::size_t count) const {
    const std::int64_t size = Size();
    if (size < 0 || offset < 0)
        return std::nullopt;
    if (offset >= size)
        return Bytes{};
    const auto avail = static_cast<std::uint64_t>(size - offset);
    return ReadAt(offset, static_cast<std::size_t>(std::min<std::uint64_t>(avail, count)));
}

std::optional<ByteView> ByteSource::View(std::int64_t offset, std::size_t count,
                                         Bytes& storage) const {
    auto bytes = ReadAt(offset, count);
    if (!bytes)
        return std::nullopt;
    storage = std::move(*bytes);
    return ByteView(storage);
}

std::optional<ByteView> MemorySource::Slice(std::int64_t offset, std::size_t count) const {
    if (offset < 0) {
        lastError_ = "negative offset";
        return std::nullopt;
    }
    // No `offset + count`: it could overflow.
    const auto at = static_cast<std::uint64_t>(offset);
    if (at > bytes_.size() || count > bytes_.size() - at) {
        lastError_ = "unexpected end of file";
        return std::nullopt;
    }
    return bytes_.subspan(static_cast<std::size_t>(at), count);
}

bool MemorySource::ReadInto(std::int64_t offset, std::uint8_t* dst, std::size_t count) const {
    const auto view = Slice(offset, count);
    if (!view)
        return false;
    std::copy(view->begin(), view->end(), dst);
    return true;
}

std::optional<ByteView> MemorySource::View(std::int64_t offset, std::size_t count, Bytes&) const {
    return Slice(offset, count);
}

}  // namespace sondrel
