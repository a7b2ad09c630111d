// SPDX-License-Identifier: GPL-3.0-or-later
// The APE tag (versions 1.0 and 2.0) stored at the end of a file, the ID3v1
// tag that may follow it, and the component base shared by the Monkey's
// Audio and Musepack components, which keep their tags the same way.
//
// The layout at the end of a file, read from the back:
//   audio | [APE header] APE items | APE footer | [Lyrics3 v2] | [ID3v1]
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tags/field_items.h"
#include "tags/file_io.h"
#include "tags/file_snapshot.h"
#include "tags/tag_model.h"
#include "tags/tail_locator.h"
#include "util/codepage.h"

namespace sondrel {

namespace apetag {

inline constexpr std::size_t kFooterSize = tail::kApeFooterSize;
inline constexpr std::size_t kId3v1Size = tail::kId3v1Size;
inline constexpr std::uint32_t kVersion1 = 1000;
inline constexpr std::uint32_t kVersion2 = 2000;
inline constexpr std::uint32_t kFlagHasHeader = tail::kApeFlagHasHeader;
inline constexpr std::uint32_t kFlagIsHeader = tail::kApeFlagIsHeader;
// Item flag bits 1-2: 0 text (UTF-8 in 2.0), 1 binary, 2 external link.
inline constexpr std::uint32_t kItemTypeMask = 0x6u;
inline constexpr std::uint32_t kMaxTagBytes = tail::kMaxApeTagBytes;
inline constexpr std::size_t kMaxKeyLength = 255;

// The item key of each field, in the order a save writes them; a read
// matches keys without regard to case.
struct ApeKey {
    Field field;
    std::string_view key;
};
inline constexpr std::array<ApeKey, kFieldCount> kKeys{{
    {Field::Title, "Title"},
    {Field::Artist, "Artist"},
    {Field::Album, "Album"},
    {Field::Track, "Track"},
    {Field::Year, "Year"},
    {Field::Genre, "Genre"},
    {Field::Comment, "Comment"},
    {Field::Copyright, "Copyright"},
    {Field::Composer, "Composer"},
    {Field::OrigArtist, "OrigArtist"},
    {Field::URL, "URL"},
    {Field::EncodedBy, "EncodedBy"},
    {Field::Lyrics, "Lyrics"},
}};
// The field a key stands for; nullopt for a key outside the table.
std::optional<Field> FieldOfKey(std::string_view key);

using Footer = tail::ApeFooter;
// Parses a 32-byte header or footer; nullopt when it lacks "APETAGEX".
inline std::optional<Footer> ParseFooter(std::span<const std::uint8_t> bytes) {
    return tail::ParseApeFooter(bytes);
}

struct Item {
    std::string key;
    std::uint32_t flags = 0;
    std::string value;  // raw bytes as stored

    bool IsText() const { return (flags & kItemTypeMask) == 0; }
    bool operator==(const Item&) const = default;
};

struct ParsedItems {
    std::vector<Item> items;
    bool damaged = false;  // an item ran past the tag or had no valid key
};
// Walks `count` items in the tag body (items only, no header or footer).
ParsedItems ParseItems(std::span<const std::uint8_t> body, std::uint32_t count);

// A version 2.0 tag with header and footer around `items`, in their order.
Bytes BuildTag(const std::vector<Item>& items);

// Where the tags at the end of a file lie, as the APE components see it:
// nullopt when the file is shorter than an APE footer, shorter than an ID3v1
// block without ending in an APE footer, or when its end cannot be read.
using Tail = tail::Layout;
std::optional<Tail> LocateTail(const ByteSource& file);

// Size of an ID3v2 tag at the start (10 + its synchsafe size), 0 without one.
std::int64_t Id3v2SizeAt(const ByteSource& file);

// The 128-byte ID3v1 block; texts converted from `codepage` to UTF-8.
std::optional<Id3v1Fields> ParseId3v1(std::span<const std::uint8_t> block,
                                      std::string_view codepage);

// The number before the first "/", modulo 256; 0 when it is not a number.
std::uint8_t TrackNumberOf(std::string_view text);

// Removes leading and trailing blanks, control characters and zero bytes.
std::string_view TrimControl(std::string_view text);

// "hh:mm:ss" of the whole seconds.
std::string FormatDuration(double seconds);

}  // namespace apetag

// Tag fields, reading and saving common to MonkeysAudioTag and MusepackTag. The stream
// header is the derived class's business.
class ApeTaggedComponent : public TagComponent {
public:
    const std::string& Filename() const { return filename_; }
    // Stores the path, reads the file, then raises onFileNameChange.
    void setFilename(const std::string& path);
    void ReadTag();
    // Reads the stream and the tags from `file` (a file or bytes in memory);
    // the file name becomes the source's name.
    void LoadFrom(const ByteSource& file);
    // Saves the fields as an APE 2.0 tag at the end of the file: items of
    // unchanged fields and items outside the key table stay as they were, in
    // their order; an ID3v1 tag behind it stays, its changed fields updated.
    bool WriteTag();
    // Empties the fields in memory; the file is not touched.
    void ClearTag();

    bool ValidTag() const { return validTag_; }
    std::uint32_t Version() const { return version_; }
    std::uint32_t Size() const { return size_; }
    std::uint32_t Frequency() const { return frequency_; }
    double DurationInSeconds() const { return duration_; }
    std::string Duration() const { return apetag::FormatDuration(duration_); }
    std::int64_t FileLength() const { return fileLength_; }
    std::uint8_t id3v1() const { return id3v1_; }
    std::int64_t id3v2() const { return id3v2_; }
    const std::string& error() const { return error_; }
    const std::string& APEVersion() const { return apeVersion_; }
    const std::string& Compression() const { return compression_; }
    const std::string& ChannelMode() const { return channelMode_; }

    // A field's text (the track lives in Track(); its slot stays empty).
    const std::string& Value(Field f) const { return slots_[f]; }
    void setValue(Field f, std::string_view v) { SetText(f, v); }

    const std::string& Title() const { return Value(Field::Title); }
    const std::string& Artist() const { return Value(Field::Artist); }
    const std::string& Album() const { return Value(Field::Album); }
    std::uint8_t Track() const { return track_; }
    const std::string& Year() const { return Value(Field::Year); }
    const std::string& Genre() const { return Value(Field::Genre); }
    std::uint8_t GenreID() const { return genreId_; }
    const std::string& Comment() const { return Value(Field::Comment); }
    const std::string& Copyright() const { return Value(Field::Copyright); }
    const std::string& Composer() const { return Value(Field::Composer); }
    const std::string& OrigArtist() const { return Value(Field::OrigArtist); }
    const std::string& URL() const { return Value(Field::URL); }
    const std::string& EncodedBy() const { return Value(Field::EncodedBy); }
    const std::string& Lyrics() const { return Value(Field::Lyrics); }

    void setTitle(std::string_view v) { SetText(Field::Title, v); }
    void setArtist(std::string_view v) { SetText(Field::Artist, v); }
    void setAlbum(std::string_view v) { SetText(Field::Album, v); }
    void setTrack(std::uint8_t v);
    void setYear(std::string_view v) { SetText(Field::Year, v); }
    void setGenre(std::string_view v) { SetText(Field::Genre, v); }
    void setGenreID(long long id);
    void setComment(std::string_view v) { SetText(Field::Comment, v); }
    void setCopyright(std::string_view v) { SetText(Field::Copyright, v); }
    void setComposer(std::string_view v) { SetText(Field::Composer, v); }
    void setOrigArtist(std::string_view v) { SetText(Field::OrigArtist, v); }
    void setURL(std::string_view v) { SetText(Field::URL, v); }
    void setEncodedBy(std::string_view v) { SetText(Field::EncodedBy, v); }
    void setLyrics(std::string_view v) { SetText(Field::Lyrics, v); }

    // Synchronised lyrics as LRC text for the next WriteTag (memory only; a
    // read forgets them): the item "SYNCEDLYRICS" is replaced or added.
    void setSyncedLyrics(std::string lrc) {
        pendingSynced_ = std::move(lrc);
        Changed();
    }

    // Keys of the last read's APE items outside the key table, in file
    // order ("DISCNUMBER", "Album Artist"); saves keep these items.
    const std::vector<std::string>& OtherItems() const { return otherItems_; }

    // Code page of APE 1.0 values and ID3v1 texts, which carry no encoding.
    const std::string& LegacyCodePage() const { return codePage_; }
    void setLegacyCodePage(std::string codepage) { codePage_ = std::move(codepage); }

protected:
    // Clears the stream facts of the derived format.
    virtual void ResetStream() = 0;
    // Reads the stream header; `audioEnd` is where the tags at the end begin.
    // May throw; any exception leaves the file not valid.
    virtual void ReadStream(const ByteSource& file, std::int64_t fileSize,
                            std::int64_t audioEnd) = 0;
    // Whether every save failure raises onError, or only a file that cannot
    // be opened for writing.
    virtual bool NotifyAllSaveFailures() const = 0;

    void ResetAll();

    std::uint32_t frequency_ = 0;
    double duration_ = 0;
    std::int64_t fileLength_ = 0;
    std::int64_t id3v2_ = 0;
    std::string apeVersion_;
    std::string compression_;
    std::string channelMode_;

private:
    void SetText(Field field, std::string_view value);
    void ReadOpened(const ByteSource& file);
    void ReadTags(const ByteSource& file, const std::optional<apetag::Tail>& tail);
    bool Save();
    void SaveFailed(std::string message);

    std::string filename_;
    std::string codePage_{kDefaultCodePage};
    bool validTag_ = false;
    std::uint32_t version_ = 0;
    std::uint32_t size_ = 0;
    std::uint8_t id3v1_ = 0;
    PerField<std::string> slots_;  // the track slot stays empty
    std::uint8_t track_ = 0;
    std::uint8_t genreId_ = kGenreOther;
    std::vector<std::string> otherItems_;
    PerField<std::string> readValues_;  // what the last read gave each field
    std::optional<std::string> pendingSynced_;
};

}  // namespace sondrel
