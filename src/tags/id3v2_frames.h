// SPDX-License-Identifier: GPL-3.0-or-later
// ID3v2 byte layouts: the tag header, unsynchronisation, the frame walk of
// versions 2.2 to 2.4, text encodings, and frame bodies described as field
// lists that one generic reader and writer walk. Everything here works on
// bytes in memory; the component in id3v2.h does the file work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tags/picture.h"

namespace sondrel::id3v2 {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

inline constexpr std::size_t kHeaderSize = 10;
// The 28-bit size field: the largest tag body the format can declare.
inline constexpr std::uint32_t kMaxBodySize = 0x0FFFFFFF;
// A walk stops after this many frames; real tags hold a few dozen.
inline constexpr std::size_t kMaxFrames = 65536;
// Padding given to a tag that is written anew.
inline constexpr std::uint32_t kPadding = 500;

inline constexpr std::uint8_t kFlagUnsync = 0x80;
inline constexpr std::uint8_t kFlagExtended = 0x40;  // 2.2: whole-tag compression
inline constexpr std::uint8_t kFlagFooter = 0x10;    // 2.4 only

struct Header {
    std::uint8_t Major = 0;
    std::uint8_t Revision = 0;
    std::uint8_t Flags = 0;
    std::uint32_t BodySize = 0;
    bool HasFooter() const { return Major >= 4 && (Flags & kFlagFooter) != 0; }
};

// The 10-byte header at the start of a file; nullopt when it is not one.
std::optional<Header> ParseHeader(ByteView bytes);
Bytes RenderHeader23(std::uint32_t bodySize);

std::uint32_t ReadSynchsafe(const std::uint8_t* p);
std::uint32_t ReadBigEndian32(const std::uint8_t* p);

// Undoes unsynchronisation (every 0xFF 0x00 becomes 0xFF). When `rawOfMark`
// is given it receives the input position that produced output position
// `mark` (the input size when the output is shorter).
Bytes RemoveUnsync(ByteView in, std::size_t mark = 0, std::size_t* rawOfMark = nullptr);

// One frame as stored in a tag: the identifier and flags as found, and the
// data with per-frame unsynchronisation undone but any grouping, encryption
// or data-length bytes still in front.
struct RawFrame {
    std::string Id;  // 3 characters in 2.2, else 4
    std::uint8_t Major = 3;
    std::uint8_t StatusFlags = 0;
    std::uint8_t FormatFlags = 0;
    Bytes Data;

    // The identifier under which a 2.3 tag knows this frame ("TT2" -> "TIT2").
    std::string Id23() const;
    bool Compressed() const;
    bool Encrypted() const;
    // The frame's content when it can be interpreted (not compressed or
    // encrypted, and its extra header bytes present); nullopt otherwise.
    std::optional<ByteView> Content() const;
};

// Content() for a frame whose data is `data` rather than its own Data.
std::optional<ByteView> ContentOf(const RawFrame& frame, ByteView data);

struct ParsedBody {
    std::vector<RawFrame> Frames;
    // Offset in the body as stored in the file (unsynchronisation still in
    // place) just after the last frame taken, or after the extended header.
    std::size_t StoredFramesEnd = 0;
    // False when something other than padding follows the last frame:
    // some writers declare a tag larger than it is, with audio inside.
    bool TailIsPadding = true;
    // False when part of the tag could not be walked: bytes skipped between
    // frames, a frame cut off by the tag's end, too many frames, a
    // compressed 2.2 tag. A save must not replace such a tag.
    bool Complete = true;
};

// Whether the bytes between the last frame and the tag's declared end are
// padding: zeros, zeros followed by frames (the walk stops at the zeros), or
// one byte value repeated.
bool IsPadding(ByteView tail);

// Walks the frames of a tag body (the bytes after the 10-byte header).
ParsedBody ParseBody(const Header& header, ByteView body);

// The same walk without copying every frame's data: `visit` gets each frame
// with its identifier and flags, and its data as a view valid only during
// the call (frame.Data is empty unless the walk had to decode the data, in
// which case the view shows frame.Data). The result's Frames stays empty.
using FrameVisitor = std::function<void(RawFrame& frame, ByteView data)>;
ParsedBody WalkFrames(const Header& header, ByteView body, const FrameVisitor& visit);

// Frame identifiers are three or four bytes, compared in a loop that the
// compiler keeps inline: a library call per comparison cost more than the
// comparison on every frame of every file read.
constexpr bool SameId(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i])
            return false;
    }
    return true;
}

// 2.2 three-character identifiers to their 2.3 names; empty when none exists.
std::string_view Id22To23(std::string_view id22);

// The frame rendered in the 2.3 layout (plain size, 2.3 flag positions, no
// unsynchronisation); nullopt when that cannot be done without corrupting it.
std::optional<Bytes> RenderCarried23(const RawFrame& frame);

// ---- Text ------------------------------------------------------------------

enum Encoding : std::uint8_t { kEncLatin1 = 0, kEncUtf16Bom = 1, kEncUtf16Be = 2, kEncUtf8 = 3 };

std::string DecodeText(ByteView bytes, std::uint8_t encoding, std::string_view legacyCodePage);
Bytes EncodeText(std::string_view utf8, std::uint8_t encoding);
// Encoding 0 when every text fits ISO-8859-1, otherwise UTF-16 with a BOM.
std::uint8_t ChooseEncoding(const std::vector<std::string>& texts);

// ---- Synchronised lyrics (SYLT, ID3v2.4 native frames 4.9) ---------------------

inline constexpr std::uint8_t kSyltMpegFrames = 1;
inline constexpr std::uint8_t kSyltMilliseconds = 2;
inline constexpr std::uint8_t kSyltLyrics = 1;  // content type
// Lines kept from one frame at most.
inline constexpr std::size_t kMaxSyltLines = 10000;

struct SyncedLine {
    std::uint32_t time = 0;  // in the frame's unit (milliseconds when written by us)
    std::string text;
    bool operator==(const SyncedLine&) const = default;
};

struct SyncedLyrics {
    std::string language = "eng";
    std::string description;
    std::uint8_t timeFormat = kSyltMilliseconds;
    std::uint8_t contentType = kSyltLyrics;
    std::vector<SyncedLine> lines;
    bool operator==(const SyncedLyrics&) const = default;
};

// A SYLT body; nullopt when its head is cut short. Lines stop at the
// first that is cut short, or after kMaxSyltLines.
std::optional<SyncedLyrics> ParseSylt(ByteView body, std::string_view legacyCodePage);
// The body of `lyrics`: ISO-8859-1 when every text fits it, else UTF-16
// with a BOM on each text, both of which 2.3 and 2.4 carry.
Bytes SyltBody(const SyncedLyrics& lyrics);
// Lines timed in milliseconds as LRC text, "[mm:ss.xx]text" a line, for the
// formats that keep synchronised lyrics as a text item ("SYNCEDLYRICS").
std::string LrcText(const SyncedLyrics& lyrics);

// ---- Frame bodies as field lists ---------------------------------------------

// How one field of a frame body is stored.
enum class FrameField : std::uint8_t {
    Encoding,     // the text-encoding byte that governs the encoded fields
    Lang,         // three bytes, language code
    Byte,         // one byte (picture type)
    Format3,      // three bytes, 2.2 image format
    Latin1Z,      // ISO-8859-1 text up to a zero byte
    EncodedZ,     // text in the frame's encoding up to its terminator
    EncodedRest,  // text in the frame's encoding to the end; zero-separated values
    Latin1Rest,   // ISO-8859-1 text to the end
    BinaryRest,   // bytes to the end
};

// The member of FrameContent a field is read into and written from.
enum class FrameSlot : std::uint8_t {
    Encoding,     // encoding
    Language,     // language
    Description,  // description
    Text,         // text
    Mime,         // mime
    ImageFormat,  // imageFormat
    PictureType,  // pictureType
    Url,          // url
    Data,         // data
    FileName,     // fileName
};

struct FrameFieldLayout {
    FrameField kind;
    FrameSlot slot;
};

// The interpreted body of a frame, by name; a layout says which members a
// frame uses. Texts are UTF-8; three-byte codes keep their bytes as stored.
struct FrameContent {
    std::uint8_t encoding = kEncLatin1;
    std::string language{};           // COMM, USLT, USER: three bytes
    std::string description{};        // COMM, USLT, TXXX, WXXX, APIC
    std::vector<std::string> text{};  // text frames, COMM, USLT, TXXX, USER: every value
    std::string mime{};               // APIC
    std::string imageFormat{};        // 2.2 PIC: "PNG", "JPG"
    std::uint8_t pictureType = 0;     // APIC
    std::string url{};                // WXXX
    std::string fileName{};           // GEOB
    Bytes data{};                     // APIC: the picture
    std::string Text() const;         // the text values joined by "/"
};

// The layout of a frame by its 2.3 identifier; empty for frames we do not
// interpret (they are carried as bytes).
std::span<const FrameFieldLayout> LayoutFor(std::string_view id23);
// The same for a stored frame (a 2.2 "PIC" has its own layout).
std::span<const FrameFieldLayout> LayoutOf(const RawFrame& frame);

// Reads the fields of a layout; nullopt when the data is too short.
std::optional<FrameContent> ReadFields(std::span<const FrameFieldLayout> layout, ByteView data,
                                       std::string_view legacyCodePage);
// Renders the fields of a layout; `encoding` picks the encoding of the texts.
Bytes WriteFields(std::span<const FrameFieldLayout> layout, const FrameContent& content);

// A complete 2.3 frame: identifier, plain size, zero flags, data.
Bytes RenderFrame23(std::string_view id, const Bytes& data);

// The picture of an APIC frame (a 2.2 "PIC"), whose data is `data`;
// nullopt when its fields cannot be read (compressed, encrypted, cut short).
std::optional<Picture> ReadPicture(const RawFrame& frame, ByteView data,
                                   std::string_view legacyCodePage);
// The data of an APIC frame holding `picture` (Latin-1 description unless it
// needs UTF-16).
Bytes PictureBody(const Picture& picture);

// ---- Tags kept in their own version ------------------------------------------
// For a tag that is rewritten in the version it was read in (2.3 or 2.4)
// rather than converted to 2.3.

// A 2.4 tag header with no flags.
Bytes RenderHeader24(std::uint32_t bodySize);
// A complete 2.4 frame: identifier, synchsafe size, zero flags, data.
Bytes RenderFrame24(std::string_view id, const Bytes& data);
// A 2.3 or 2.4 frame in the layout of its own version with its flags as
// read. Unsynchronisation is already undone in its data and not redone (a
// 2.4 frame loses that flag). nullopt for 2.2, whose layout no tag written
// today uses, and for data too large for a 2.4 size.
std::optional<Bytes> RenderKept(const RawFrame& frame);

}  // namespace sondrel::id3v2
