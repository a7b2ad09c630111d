// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/tail_locator.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "tags/file_snapshot.h"
#include "tags/id3v2_frames.h"
#include "tags/mpeg_info.h"

namespace sondrel::tail {
namespace {

constexpr std::string_view kApePreamble = "APETAGEX";
constexpr std::string_view kId3v1Mark = "TAG";
constexpr std::string_view kLyricsBegin = "LYRICSBEGIN";
constexpr std::string_view kLyricsEnd = "LYRICS200";

bool HasText(ByteView b, std::size_t at, std::string_view text) {
    return at <= b.size() && text.size() <= b.size() - at &&
           std::memcmp(b.data() + at, text.data(), text.size()) == 0;
}

std::uint32_t Le32(ByteView b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// A footer, not a header: a header-flagged block ends no tag.
std::optional<ApeFooter> FooterIn(ByteView bytes) {
    auto footer = ParseApeFooter(bytes);
    if (footer && (footer->flags & kApeFlagIsHeader) != 0)
        return std::nullopt;
    return footer;
}

// Where an ID3v2 tag at the start of the file ends (0 without one): no
// trailing block may reach in front of it, whatever its sizes claim, or a
// save would cut the audio away behind a mark planted in the padding.
std::int64_t HeadTagEnd(const ByteSource& file, std::int64_t fileSize) {
    if (fileSize < static_cast<std::int64_t>(id3v2::kHeaderSize))
        return 0;
    const auto bytes = file.ReadAt(0, id3v2::kHeaderSize);
    const auto header = bytes ? id3v2::ParseHeader(*bytes) : std::nullopt;
    if (!header)
        return 0;
    const std::int64_t end = static_cast<std::int64_t>(id3v2::kHeaderSize) + header->BodySize +
                             (header->HasFooter() ? std::int64_t{id3v2::kHeaderSize} : 0);
    return std::min(end, fileSize);
}

// Where the MPEG stream that follows the ID3v2 tag is known to run at least:
// the end of the last of its first frames whose successor's header was read
// and matches (same version, layer and sample rate), so a frame cut short by
// a tag behind it never counts. `from` when no such frames follow. Reads one
// frame's worth of bytes and a few headers behind them, as the MPEG analysis
// that asks here has a small, fixed budget.
std::int64_t StreamFloor(const ByteSource& file, std::int64_t from, std::int64_t fileSize) {
    if (from >= fileSize)
        return from;
    const auto buf =
        file.ReadUpTo(from, static_cast<std::size_t>(std::min<std::int64_t>(
                                fileSize - from, static_cast<std::int64_t>(kMpegMaxFrameLength))));
    if (!buf)
        return from;
    int probes = 0;
    auto headerAt = [&](std::size_t at) -> std::optional<MpegHeader> {
        Bytes storage;
        ByteView bytes;
        if (at <= buf->size() && buf->size() - at >= 4) {
            bytes = ByteView(*buf).subspan(at, 4);
        } else {
            if (++probes > kStreamFloorProbes ||
                static_cast<std::int64_t>(at) > fileSize - from - 4)
                return std::nullopt;
            auto read = file.ReadAt(from + static_cast<std::int64_t>(at), 4);
            if (!read)
                return std::nullopt;
            storage = std::move(*read);
            bytes = ByteView(storage);
        }
        if (bytes[0] != 0xFF)
            return std::nullopt;
        return DecodeMpegHeader(static_cast<std::uint32_t>(bytes[0]) << 24 |
                                static_cast<std::uint32_t>(bytes[1]) << 16 |
                                static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3]);
    };
    for (std::size_t start = 0; start < buf->size(); ++start) {
        if ((*buf)[start] != 0xFF)
            continue;
        const auto first = headerAt(start);
        if (!first)
            continue;
        std::size_t pos = start;
        std::size_t length = static_cast<std::size_t>(first->FrameLength);
        int frames = 0;
        while (frames < kStreamFloorFrames) {
            const auto next = headerAt(pos + length);
            if (!next || next->VersionBits != first->VersionBits ||
                next->LayerBits != first->LayerBits ||
                next->SampleRateIndex != first->SampleRateIndex)
                break;
            pos += length;
            length = static_cast<std::size_t>(next->FrameLength);
            ++frames;
        }
        if (frames > 0)
            return from + static_cast<std::int64_t>(pos);
    }
    return from;
}

// The Lyrics3 v2 block ending at `end` (where the ID3v1 block starts).
void FindLyrics3(Layout& layout, std::int64_t end, const ByteSource& file) {
    if (layout.fileSize < kMinLyrics3File)
        return;
    const auto footer = file.ReadAt(end - kLyricsFooterSize, kLyricsFooterSize);
    if (!footer) {
        layout.fault = ReadFault::Lyrics3;
        return;
    }
    if (!HasText(*footer, kLyricsSizeDigits, kLyricsEnd))
        return;
    std::int64_t body = 0;
    for (std::size_t i = 0; i < kLyricsSizeDigits; ++i) {
        const std::uint8_t c = (*footer)[i];
        if (c < '0' || c > '9') {
            layout.lyrics3Damaged = true;
            return;
        }
        body = body * 10 + (c - '0');
    }
    const std::int64_t total = body + kLyricsFooterSize;
    if (total > end - layout.audioFloor) {
        layout.lyrics3Damaged = true;
        return;
    }
    // A start mark elsewhere means these bytes only end like a block.
    const auto begin = file.ReadAt(end - total, kLyricsBeginSize);
    if (!begin) {
        layout.fault = ReadFault::Lyrics3;
        return;
    }
    if (HasText(*begin, 0, kLyricsBegin))
        layout.lyrics3Size = total;
}

// The layout, looked for from scratch.
Layout Find(const ByteSource& file, Scope scope);

}  // namespace

std::optional<ApeFooter> ParseApeFooter(ByteView bytes) {
    if (bytes.size() < static_cast<std::size_t>(kApeFooterSize) || !HasText(bytes, 0, kApePreamble))
        return std::nullopt;
    return ApeFooter{Le32(bytes, 8), Le32(bytes, 12), Le32(bytes, 16), Le32(bytes, 20)};
}

Layout Locate(const ByteSource& file, Scope scope) {
    if (const auto* snapshot = dynamic_cast<const FileSnapshot*>(&file);
        snapshot && scope == Scope::All) {
        if (!snapshot->tailLayout_)
            snapshot->tailLayout_ = std::make_unique<const Layout>(Find(file, scope));
        return *snapshot->tailLayout_;
    }
    return Find(file, scope);
}

Layout Locate(ByteView file, Scope scope) {
    return Locate(MemorySource(file), scope);
}

namespace {

Layout Find(const ByteSource& file, Scope scope) {
    const std::int64_t fileSize = file.Size();
    Layout layout;
    if (fileSize < 0) {
        layout.fault = ReadFault::End;
        return layout;
    }
    layout.fileSize = fileSize;
    layout.tagStart = fileSize;
    // The fixed-budget scope leaves the head to its caller's own read.
    if (scope == Scope::All) {
        layout.headTagEnd = HeadTagEnd(file, fileSize);
        layout.audioFloor = StreamFloor(file, layout.headTagEnd, fileSize);
    }
    std::int64_t end = fileSize;

    const bool ape = scope == Scope::All;
    std::optional<ApeFooter> footer;
    if (ape && fileSize >= kApeFooterSize) {
        const auto last = file.ReadAt(fileSize - kApeFooterSize, kApeFooterSize);
        if (!last) {
            layout.fault = ReadFault::End;
            return layout;
        }
        footer = FooterIn(*last);
    }
    // A footer right at the end rules out an ID3v1 block, even when a value
    // inside the APE tag happens to hold "TAG" 128 bytes from the end.
    if (!footer && fileSize >= kId3v1Size) {
        const auto mark = file.ReadAt(fileSize - kId3v1Size, kId3v1Mark.size());
        if (!mark) {
            layout.fault = ReadFault::End;
            return layout;
        }
        if (HasText(*mark, 0, kId3v1Mark)) {
            layout.id3v1Size = kId3v1Size;
            end -= kId3v1Size;
            FindLyrics3(layout, end, file);
            end -= layout.lyrics3Size;
            if (ape && end >= kApeFooterSize) {
                const auto bytes = file.ReadAt(end - kApeFooterSize, kApeFooterSize);
                if (!bytes) {
                    layout.fault = ReadFault::Ape;
                    layout.tagStart = end;
                    return layout;
                }
                footer = FooterIn(*bytes);
            }
        }
    }

    layout.tagStart = end;
    if (!footer)
        return layout;
    layout.hasApe = true;
    layout.footer = *footer;
    if (footer->tagSize < kApeFooterSize || footer->tagSize > kMaxApeTagBytes ||
        footer->itemCount > kMaxApeItems ||
        static_cast<std::int64_t>(footer->tagSize) > end - layout.audioFloor) {
        layout.apeDamaged = true;
        return layout;
    }
    layout.itemsStart = end - footer->tagSize;
    layout.tagStart = layout.itemsStart;
    // Count the header only when it is really there and says what the
    // footer says: trusting the flag alone would let a save cut 32 bytes of
    // audio, or of another tag's footer. An unreadable header counts as
    // missing for the same reason.
    if ((footer->flags & kApeFlagHasHeader) != 0 &&
        layout.itemsStart - kApeFooterSize >= layout.audioFloor) {
        const auto bytes = file.ReadAt(layout.itemsStart - kApeFooterSize, kApeFooterSize);
        const auto header = bytes ? ParseApeFooter(*bytes) : std::nullopt;
        if (header && (header->flags & kApeFlagIsHeader) != 0 &&
            header->tagSize == footer->tagSize && header->itemCount == footer->itemCount) {
            layout.hasApeHeader = true;
            layout.tagStart -= kApeFooterSize;
        }
    }
    return layout;
}

}  // namespace

}  // namespace sondrel::tail
