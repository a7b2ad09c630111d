// SPDX-License-Identifier: GPL-3.0-or-later
// The ID3v1 tag (the last 128 bytes of an MP3 file, versions 1.0 and 1.1)
// together with the Lyrics3 v2 block that may stand right before it. Texts
// are UTF-8 in memory and 8-bit in the file, in a chosen legacy code page.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "tags/file_io.h"
#include "tags/file_snapshot.h"
#include "tags/tag_model.h"
#include "tags/tail_locator.h"
#include "util/codepage.h"

namespace sondrel {

namespace id3v1 {

inline constexpr std::size_t kBlockSize = tail::kId3v1Size;
// Lyrics3 v2 framing: "LYRICSBEGIN" + fields + 6-digit size + "LYRICS200".
inline constexpr std::size_t kLyricsBeginSize = tail::kLyricsBeginSize;
inline constexpr std::size_t kLyricsFooterSize =
    tail::kLyricsFooterSize;                        // size digits and end mark
inline constexpr std::size_t kFieldHeaderSize = 8;  // identifier and 5-digit length
inline constexpr std::size_t kMaxFieldValue = 99999;
inline constexpr std::size_t kMaxLyricsBlock = 999999;
// Widths of the fixed fields, in code-page characters (one byte each).
inline constexpr std::size_t kTextWidth = 30;
inline constexpr std::size_t kYearWidth = 4;
inline constexpr std::size_t kCommentWidth = 30;

// The 128-byte block parsed into a record (texts converted to UTF-8).
Id3v1Fields ParseBlock(std::span<const std::uint8_t, kBlockSize> block,
                       std::string_view codepage = kDefaultCodePage);
// The 128-byte block for `tag`; texts are cut to their field widths.
Bytes BuildBlock(const Id3v1Fields& tag, std::string_view codepage = kDefaultCodePage);

// Values found in a Lyrics3 v2 field list. Unset members were not present.
struct Lyrics3Fields {
    std::optional<std::string> lyrics, title, artist, album;
    bool ok = true;  // false when a length was not a decimal number
};
// Walks the fields of a block (`block` = start mark through the size digits
// and end mark). A length that overruns the field list ends the walk without
// an error; a malformed length ends it with `ok` false, keeping the fields
// read before it.
Lyrics3Fields ParseLyrics3(std::span<const std::uint8_t> block,
                           std::string_view codepage = kDefaultCodePage);
// The whole Lyrics3 v2 block: IND, LYR when there are lyrics, and ETT/EAR/EAL
// for texts longer than the ID3v1 fields hold. Values over the 5-digit limit
// are cut. Empty when the block would hold nothing.
Bytes BuildLyrics3(const std::string& lyrics, const Id3v1Fields& tag,
                   std::string_view codepage = kDefaultCodePage);

// The encoded form of the longest prefix of `utf8` (whole characters) that
// takes at most `maxBytes` bytes in `codepage`.
std::string EncodePrefix(std::string_view utf8, std::size_t maxBytes, std::string_view codepage);

}  // namespace id3v1

// The ID3v1 + Lyrics3 v2 tag component.
class Id3v1Tag : public TagComponent {
public:
    Id3v1Tag() = default;

    const std::string& Filename() const { return filename_; }
    // Stores the path, reads the file, then fires onFileNameChange.
    void setFilename(const std::string& path);
    // The same for a file already opened by the caller (read from its bytes).
    void LoadFrom(const ByteSource& file);

    const Id3v1Fields& Fields() const { return tag_; }
    void setFields(const Id3v1Fields& tag);

    std::uint8_t track() const { return tag_.track; }
    void settrack(std::uint8_t v);
    const std::string& Title() const { return tag_.Title; }
    void setTitle(const std::string& v);
    const std::string& Artist() const { return tag_.Artist; }
    void setArtist(const std::string& v);
    const std::string& Album() const { return tag_.Album; }
    void setAlbum(const std::string& v);
    const std::string& Year() const { return tag_.Year; }
    void setYear(const std::string& v);  // keeps the first 4 characters
    const std::string& Comment() const { return tag_.Comment; }
    void setComment(const std::string& v);  // keeps the first 30 characters
    std::uint8_t GenreID() const { return tag_.GenreID; }
    void setGenreID(unsigned v);  // above 147 is stored as 12, but 255 (no genre) as 255
    // The tag says "no genre" (its genre byte is 255), read or to be written.
    bool NoGenre() const { return noGenre_ || tag_.GenreID == kNoGenreByte; }
    static constexpr std::uint8_t kNoGenreByte = 255;
    // Always empty: the name comes from GenreID through the genre table.
    std::string Genre() const { return {}; }
    const std::string& Lyrics() const { return lyrics_; }
    void setLyrics(const std::string& v);
    std::uint8_t VersionLow() const { return tag_.VersionLow; }

    bool UseLyrics3() const { return useLyrics3_; }
    void setUseLyrics3(bool on) { useLyrics3_ = on; }
    // The code page of the 8-bit texts in the file (default ISO-8859-1).
    const std::string& CodePage() const { return codePage_; }
    void setCodePage(std::string codepage) { codePage_ = std::move(codepage); }

    bool ReadTag();
    bool WriteTag();
    bool RemoveTag();
    void ClearTag();

    // The end of `file` after a save of this tag: from where the old Lyrics3
    // and ID3v1 blocks begin (or the end of the file), the new blocks. An
    // APE tag in front stays as it is. nullopt when the end cannot be read.
    std::optional<TailChange> PlanWrite(const ByteSource& file) const;
    // The same for a removal: the old blocks cut, nothing written.
    std::optional<TailChange> PlanRemoval(const ByteSource& file) const;

private:
    bool noGenre_ = false;  // the read block's genre byte was 255
    bool ReadOpened(const ByteSource& file);
    void ReadLyrics3(const ByteSource& file, const tail::Layout& layout);
    bool DoWrite();

    std::string filename_;
    Id3v1Fields tag_;
    std::string lyrics_;
    bool useLyrics3_ = true;
    std::string codePage_{kDefaultCodePage};
};

}  // namespace sondrel
