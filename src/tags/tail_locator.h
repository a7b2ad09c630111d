// SPDX-License-Identifier: GPL-3.0-or-later
// Finds the tags stacked at the end of a file, read from the back in one pass:
//
//   audio | [APE header] APE items | APE footer | [Lyrics3 v2 block] | [ID3v1]
//
// Only marks, sizes and footers are read, never a tag body, so every reader
// of the end of a file (ID3v1 + Lyrics3, the APE components, the MPEG
// analysis, the tag-kind scan) asks here and they all agree on where each
// tag lies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "tags/byte_source.h"

namespace sondrel::tail {

inline constexpr std::int64_t kId3v1Size = 128;
// Lyrics3 v2: "LYRICSBEGIN", the fields, 6 size digits and "LYRICS200".
inline constexpr std::int64_t kLyricsBeginSize = 11;
inline constexpr std::int64_t kLyricsFooterSize = 15;
inline constexpr std::int64_t kLyricsSizeDigits = 6;
// The smallest file that can end with a Lyrics3 v2 block: a block with no
// fields (start mark, size digits, end mark) and the ID3v1 block behind it.
// In a smaller file the bytes before the ID3v1 block are audio, whatever
// they spell, so neither a block nor its damage is looked for there.
inline constexpr std::int64_t kMinLyrics3File = kId3v1Size + kLyricsBeginSize + kLyricsFooterSize;

inline constexpr std::int64_t kApeFooterSize = 32;
inline constexpr std::uint32_t kApeFlagHasHeader = 0x80000000u;
inline constexpr std::uint32_t kApeFlagIsHeader = 0x20000000u;
// An APE tag is read into memory whole; a footer claiming more than this is
// treated as damage rather than trusted.
inline constexpr std::uint32_t kMaxApeTagBytes = 128u << 20;
// Items are held one by one; no real tag comes near this many, and a footer
// claiming more is treated as damage so a crafted tag cannot fill memory.
inline constexpr std::uint32_t kMaxApeItems = 65536;
// MPEG frames walked behind the ID3v2 tag to learn where the audio at least
// runs (each confirmed by the header of the next); a trailing block never
// starts in front of their end. A few frames are a small read and enough
// to keep a planted mark in the first audio from passing for a tag.
inline constexpr int kStreamFloorFrames = 4;
// Four-byte header reads behind the first frame's bytes, at most.
inline constexpr int kStreamFloorProbes = 2 * kStreamFloorFrames;

// The 32-byte APE header or footer.
struct ApeFooter {
    std::uint32_t version = 0;
    std::uint32_t tagSize = 0;  // items + footer, header not included
    std::uint32_t itemCount = 0;
    std::uint32_t flags = 0;
};
// nullopt when the bytes lack "APETAGEX".
std::optional<ApeFooter> ParseApeFooter(ByteView bytes);

// A read that failed while locating; the parts behind it (nearer the end)
// stand, the ones it would have decided were not looked for, except that a
// failed Lyrics3 read still lets the APE tag be looked for in front of the
// ID3v1 block.
enum class ReadFault {
    None,
    End,      // the last 32 bytes or the ID3v1 mark: nothing is known
    Lyrics3,  // the Lyrics3 footer or start mark
    Ape,      // the APE footer in front of the Lyrics3 or ID3v1 block
};

// Where the tags at the end of a file lie. An ID3v1 block is a fixed 128
// bytes behind a mark, so it is there or not; the others can be damaged.
struct Layout {
    std::int64_t fileSize = 0;
    std::int64_t id3v1Size = 0;    // 128 when the file ends with an ID3v1 block
    std::int64_t lyrics3Size = 0;  // the whole Lyrics3 block, start mark to end mark
    // Where an ID3v2 tag at the start ends (0 without one).
    std::int64_t headTagEnd = 0;
    // Where the first MPEG frames behind the ID3v2 tag end (headTagEnd when
    // the file does not go on with such frames): every trailing block lies
    // wholly behind this, whatever its sizes claim.
    std::int64_t audioFloor = 0;
    // The Lyrics3 end mark is there, but its size digits are not a number
    // or reach before the start of the file, into the ID3v2 tag or the
    // first frames of the audio.
    bool lyrics3Damaged = false;
    bool hasApe = false;  // an APE footer (not a header) ends the tags in front
    // Its tag size does not fit the file or the limit, or reaches in front
    // of audioFloor.
    bool apeDamaged = false;
    // A header in front of the items that repeats the footer's sizes; a
    // header saying otherwise is not counted, nor cut with the tag.
    bool hasApeHeader = false;
    ApeFooter footer;
    std::int64_t itemsStart = 0;  // first APE item; 0 when there is none or it is damaged
    // Where the tags begin (the APE header included): the end of the audio.
    // With a damaged APE tag, the end of its footer.
    std::int64_t tagStart = 0;
    ReadFault fault = ReadFault::None;

    std::int64_t Id3v1Offset() const { return fileSize - id3v1Size; }
    std::int64_t Lyrics3Offset() const { return Id3v1Offset() - lyrics3Size; }
    // Where the APE footer starts (meaningful when hasApe).
    std::int64_t ApeFooterOffset() const { return Lyrics3Offset() - kApeFooterSize; }
};

enum class Scope {
    All,
    // Only the ID3v1 mark and the Lyrics3 footer and start mark are read,
    // for a reader with a fixed budget of a few bytes (the MPEG analysis).
    // Without the APE footer at the end, "TAG" inside an APE value 128
    // bytes from the end is taken for an ID3v1 block.
    Id3v1AndLyrics3,
};

// The layout of the bytes of `file` (a file or memory).
Layout Locate(const ByteSource& file, Scope scope = Scope::All);
// The layout of a whole file held in memory.
Layout Locate(ByteView file, Scope scope = Scope::All);

}  // namespace sondrel::tail
