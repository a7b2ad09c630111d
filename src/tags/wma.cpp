// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/wma.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "tags/field_items.h"
#include "tags/file_io.h"
#include "tags/file_snapshot.h"
#include "tags/id3v2_frames.h"
#include "util/codepage.h"
#include "util/unicode.h"

namespace sondrel {
namespace {

using Guid = std::array<std::uint8_t, 16>;

// ASF stores the first three groups of a GUID little-endian.
constexpr Guid MakeGuid(std::uint32_t d1, std::uint16_t d2, std::uint16_t d3,
                        std::array<std::uint8_t, 8> d4) {
    Guid g{};
    for (int i = 0; i < 4; ++i)
        g[i] = static_cast<std::uint8_t>(d1 >> (8 * i));
    for (int i = 0; i < 2; ++i) {
        g[4 + i] = static_cast<std::uint8_t>(d2 >> (8 * i));
        g[6 + i] = static_cast<std::uint8_t>(d3 >> (8 * i));
    }
    for (int i = 0; i < 8; ++i)
        g[8 + i] = d4[i];
    return g;
}

constexpr Guid kHeaderGuid =
    MakeGuid(0x75B22630, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
constexpr Guid kFilePropertiesGuid =
    MakeGuid(0x8CABDCA1, 0xA947, 0x11CF, {0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
constexpr Guid kStreamPropertiesGuid =
    MakeGuid(0xB7DC0791, 0xA9B7, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
constexpr Guid kContentDescriptionGuid =
    MakeGuid(0x75B22633, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
constexpr Guid kExtendedContentGuid =
    MakeGuid(0xD2D0A440, 0xE307, 0x11D2, {0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50});
constexpr Guid kHeaderExtensionGuid =
    MakeGuid(0x5FBF03B5, 0xA92E, 0x11CF, {0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
constexpr Guid kMetadataLibraryGuid =
    MakeGuid(0x44231C94, 0x9498, 0x49D1, {0xA1, 0x41, 0x1D, 0x13, 0x4E, 0x45, 0x70, 0x54});
constexpr Guid kMetadataGuid =
    MakeGuid(0xC5F8CBEA, 0x5BAF, 0x4877, {0x84, 0x67, 0xAA, 0x8C, 0x44, 0xFA, 0x4C, 0xCA});
constexpr Guid kAudioMediaGuid =
    MakeGuid(0xF8699E40, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B});

constexpr std::size_t kObjectHeaderSize = 24;     // GUID + 64-bit size
constexpr std::size_t kHeaderObjectFixed = 30;    // + object count + 2 reserved bytes
constexpr std::size_t kFilePropertiesSize = 104;  // through the maximum bit rate
constexpr std::size_t kFileSizeOffset = 40;       // file size inside file properties
constexpr std::size_t kPlayDurationOffset = 64;   // then send duration, preroll, flags
constexpr std::size_t kPrerollOffset = 80;
constexpr std::size_t kFilePropsFlagsOffset = 88;
constexpr std::size_t kMaxBitrateOffset = 100;
constexpr std::size_t kStreamTypeOffset = 24;
constexpr std::size_t kChannelsOffset = 80;  // inside the audio format data
constexpr std::size_t kStreamAudioMinSize = 90;
constexpr std::size_t kExtensionDataSizeOffset = 42;  // inside the header extension
constexpr std::size_t kExtensionFixed = 46;
constexpr std::size_t kRecordFixed = 12;   // metadata record before its name
constexpr std::size_t kContentFixed = 34;  // object header + five 16-bit lengths
constexpr std::size_t kMax16 = 0xFFFF;     // every length below is a 16-bit field
constexpr std::uint16_t kTypeText = 0;
constexpr std::uint16_t kTypeBytes = 1;

const char* const kDamaged = "Damaged ASF header: ";

std::uint16_t U16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint64_t U64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(U32(p)) | (static_cast<std::uint64_t>(U32(p + 4)) << 32);
}
void Put16(Bytes& b, std::size_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Put64(Bytes& b, std::uint64_t v) {
    for (int i = 0; i < 8; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Set64(Bytes& b, std::size_t at, std::uint64_t v) {
    for (int i = 0; i < 8; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Set32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Append(Bytes& b, const std::uint8_t* p, std::size_t n) {
    b.insert(b.end(), p, p + n);
}
void BeginObject(Bytes& out, const Guid& g) {
    Append(out, g.data(), g.size());
    Put64(out, 0);  // filled in by EndObject
}
void EndObject(Bytes& out, std::size_t start) {
    Set64(out, start + 16, out.size() - start);
}
bool IsGuid(const std::uint8_t* p, const Guid& g) {
    return std::memcmp(p, g.data(), g.size()) == 0;
}

// The text ends at the first zero unit, as the object's fields are zero-terminated.
std::string Utf16TextToUtf8(const std::uint8_t* p, std::size_t bytes, bool bigEndian = false) {
    std::size_t end = 0;
    while (end + 1 < bytes && (p[end] | p[end + 1]) != 0)
        end += 2;
    return Utf16ToUtf8(p, end, bigEndian);
}

// Text fields are UTF-16LE.
Bytes Utf16Le(std::string_view s, bool terminate) {
    return Utf8ToUtf16(s, false, terminate);
}

std::string Upper(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

bool IsJfif(const Bytes& data) {
    return data.size() >= 10 && data[6] == 'J' && data[7] == 'F' && data[8] == 'I' &&
           data[9] == 'F';
}

}  // namespace

struct WmaDescriptor {
    std::string name;  // as stored, UTF-8
    std::uint16_t type = 0;
    Bytes value;
    Bytes raw;            // the whole descriptor, written back as it was
    bool listed = false;  // one of the pictures came from it
};

// A "WM/Picture" record inside a metadata (library) object of the header
// extension; offsets count from the start of that header-extension object.
struct WmaRecord {
    std::size_t object = 0;    // index in Header::others
    std::size_t subStart = 0;  // the metadata object
    std::size_t start = 0;     // the record
    std::size_t size = 0;
};

// A record of a metadata (library) object that holds a field's value.
struct WmaValueRecord {
    WmaRecord place;
    Field field;
    std::string upperName;
    std::uint16_t type = 0;
};

// A "SYNCEDLYRICS" record of a metadata (library) object, whatever its case
// and type; other taggers put long texts there.
struct WmaSyncedRecord {
    WmaRecord place;
    std::uint16_t type = 0;
    std::string text;  // LRC text when the record holds text
};

struct WmaTag::Header {
    Bytes raw;  // the whole header object as read
    std::array<std::uint8_t, 2> reserved{};
    std::vector<Bytes> others;  // whole objects, in file order
    Bytes fileProperties;
    std::vector<Bytes> streams;
    bool hasContent = false;
    std::array<Bytes, 4> contentTexts;  // as stored, written back while unchanged
    Bytes rating;
    std::vector<WmaDescriptor> descriptors;
    std::vector<WmaRecord> records;            // picture records
    std::vector<WmaValueRecord> valueRecords;  // records of the fields
    std::vector<WmaSyncedRecord> syncedRecords;
    int extension = -1;  // the first well-formed header extension in `others`
    // Non-picture frames of the "ID3" descriptor, written back after the pictures.
    std::vector<id3v2::RawFrame> id3OtherFrames;
    std::uint8_t id3Major = 0;  // the version it is written back in; 0 when none was read
    Bytes trailing;             // bytes after the counted objects, before the data

    std::uint32_t objectCount = 0;
    std::uint64_t fileSize = 0;      // the file-size field
    std::uint64_t playDuration = 0;  // 100-ns units
    std::uint64_t preroll = 0;       // milliseconds
    bool broadcast = false;          // the durations are not set
    std::uint32_t maxBitrate = 0;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t avgBytesPerSec = 0;
};

namespace {

// The fields a header yields, and where its pictures came from.
struct ParsedTag : PerField<std::string> {
    PerField<std::vector<std::string>> found;  // extended values of each field, in file order
    std::string zeroBasedTrack;                // WM/Track
    // Values of the metadata objects (upper-case name, value): they follow
    // those of the extended content description wherever they are stored.
    std::vector<std::pair<std::string, std::string>> recordValues;

    std::vector<Picture> id3Pictures;
    std::vector<Picture> wmPictures;
    std::vector<WmaTag::PictureOrigin> wmSources;
    std::vector<Picture> libraryPictures;
    std::vector<WmaTag::PictureOrigin> librarySources;
};

// The four texts of the content description object, in their stored order.
constexpr Field kContentFields[4] = {Field::Title, Field::Artist, Field::Copyright, Field::Comment};

// The extended-content descriptors of the other fields in their standard
// spelling; a read takes any of them, whatever their case. A changed field is
// written under its `written` name, in the order of this table.
struct WmaKey {
    Field field;
    std::string_view name;
    bool written;
};
constexpr WmaKey kExtendedKeys[] = {
    {Field::Album, "WM/AlbumTitle", true},   {Field::Genre, "WM/Genre", true},
    {Field::Track, "WM/Track", false},  // zero-based
    {Field::Track, "WM/TrackNumber", true},  {Field::Composer, "WM/Composer", true},
    {Field::Year, "WM/Year", true},          {Field::OrigArtist, "WM/OriginalArtist", true},
    {Field::URL, "WM/UserWebURL", true},     {Field::URL, "WM/URL", false},
    {Field::URL, "WM/PromotionURL", false},  {Field::EncodedBy, "WM/EncodedBy", true},
    {Field::EncodedBy, "WM/CodedBy", false}, {Field::Lyrics, "WM/Lyrics", true},
};

std::optional<Field> FieldOfName(const std::string& upperName) {
    // Compared letter by letter: no upper-cased copy of each key per descriptor.
    auto same = [&upperName](std::string_view key) {
        return key.size() == upperName.size() &&
               std::equal(key.begin(), key.end(), upperName.begin(), [](char k, char u) {
                   return (k >= 'a' && k <= 'z' ? static_cast<char>(k - 'a' + 'A') : k) == u;
               });
    };
    for (const auto& k : kExtendedKeys) {
        if (same(k.name))
            return k.field;
    }
    return std::nullopt;
}

// The field an attribute of any of the three objects stands for: the
// extended keys, WM/Track (zero-based), and the names of the content
// description's texts, under which further values of those are stored.
std::optional<Field> FieldOfItem(const std::string& upperName) {
    if (upperName == "WM/TRACK")
        return Field::Track;
    constexpr std::string_view kContentNames[4] = {"TITLE", "AUTHOR", "COPYRIGHT", "DESCRIPTION"};
    for (int i = 0; i < 4; ++i) {
        if (upperName == kContentNames[i])
            return kContentFields[i];
    }
    return FieldOfName(upperName);
}

// An attribute's value as text: UTF-16 text, or a track number stored as a
// number (its low 32 bits, little-endian); empty for anything else.
std::string ValueText(const std::string& upperName, std::uint16_t type, const std::uint8_t* p,
                      std::size_t size) {
    if (type == kTypeText)
        return Utf16TextToUtf8(p, size);
    if (upperName == "WM/TRACK" || upperName == "WM/TRACKNUMBER") {
        std::uint32_t n = 0;
        for (std::size_t k = 0; k < std::min<std::size_t>(4, size); ++k)
            n |= static_cast<std::uint32_t>(p[k]) << (8 * k);
        return std::to_string(n);
    }
    return {};
}

// A field's value found in any object, in file order.
void TakeValue(const std::string& upperName, std::string value, ParsedTag& tag) {
    if (upperName == "WM/TRACK") {
        if (tag.zeroBasedTrack.empty())
            tag.zeroBasedTrack = std::move(value);
    } else if (const auto field = FieldOfItem(upperName)) {
        tag.found[*field].push_back(std::move(value));
    }
}

// Synchronised lyrics as LRC text, under the name the other formats give
// their item; no field shows it.
constexpr std::string_view kSyncedLyricsName = "SYNCEDLYRICS";

bool IsId3Pictures(const WmaDescriptor& d) {
    return d.name == "ID3" && d.type != kTypeText;
}

// The picture of an "APIC" frame (a "PIC" in 2.2); nullopt for any other
// frame, and for one whose fields cannot be read (compressed, encrypted or
// cut short): that one is kept as it is.
std::optional<Picture> Id3Picture(const id3v2::RawFrame& frame, id3v2::ByteView data) {
    if (frame.Id23() != "APIC")
        return std::nullopt;
    return id3v2::ReadPicture(frame, data, kDefaultCodePage);
}

// An ID3v2 tag inside the "ID3" descriptor (2.2 to 2.4, unsynchronised or
// not): its pictures are read, and every other frame is kept to be written
// back after them.
void ReadId3Descriptor(const Bytes& value, ParsedTag& tag, WmaTag::Header& h) {
    const auto header = id3v2::ParseHeader(value);
    if (!header || header->Major < 2 || header->Major > 4)
        return;
    // The tag cannot reach beyond the descriptor that holds it.
    const std::size_t size =
        std::min<std::size_t>(header->BodySize, value.size() - id3v2::kHeaderSize);
    const auto body = id3v2::ByteView(value).subspan(id3v2::kHeaderSize, size);
    // A 2.4 tag is written back as 2.4 so that its frames stay as they are;
    // anything else (or a mix) as 2.3.
    const std::uint8_t major = header->Major == 4 ? 4 : 3;
    h.id3Major = h.id3Major == 0 || h.id3Major == major ? major : 3;
    id3v2::WalkFrames(*header, body, [&](id3v2::RawFrame& frame, id3v2::ByteView data) {
        if (auto pic = Id3Picture(frame, data)) {
            tag.id3Pictures.push_back(std::move(*pic));
            return;
        }
        if (frame.Data.empty())
            frame.Data.assign(data.begin(), data.end());
        h.id3OtherFrames.push_back(std::move(frame));
    });
}

// The kept frames of the "ID3" descriptor in the layout of `major`: in their
// own when it matches, otherwise carried into 2.3 (a frame that cannot be
// carried without corrupting it is dropped).
Bytes Id3OtherFrames(const WmaTag::Header& h, std::uint8_t major) {
    Bytes out;
    for (const id3v2::RawFrame& frame : h.id3OtherFrames) {
        const auto bytes =
            frame.Major == major ? id3v2::RenderKept(frame) : id3v2::RenderCarried23(frame);
        if (bytes)
            Append(out, bytes->data(), bytes->size());
    }
    return out;
}

// The standard picture descriptor: type byte, 32-bit data size, MIME and
// description as terminated UTF-16, then the data.
bool ReadWmPicture(const Bytes& v, Picture& pic) {
    if (v.size() < 5)
        return false;
    const std::size_t dataSize = U32(v.data() + 1);
    std::size_t pos = 5;
    auto text = [&](std::string& out) {
        std::size_t end = pos;
        while (end + 1 < v.size() && !(v[end] == 0 && v[end + 1] == 0))
            end += 2;
        if (end + 1 >= v.size())
            return false;
        out = Utf16TextToUtf8(v.data() + pos, end - pos);
        pos = end + 2;
        return true;
    };
    pic.PictureType = v[0];
    if (!text(pic.MimeType) || !text(pic.Description) || dataSize > v.size() - pos)
        return false;
    pic.Data.assign(v.begin() + static_cast<std::ptrdiff_t>(pos),
                    v.begin() + static_cast<std::ptrdiff_t>(pos + dataSize));
    return true;
}

bool ReadContent(const Bytes& o, ParsedTag& tag, WmaTag::Header& h, std::string& error) {
    if (o.size() < kContentFixed) {
        error = std::string(kDamaged) + "content description too short";
        return false;
    }
    std::size_t lens[5];
    std::size_t total = 0;
    for (int i = 0; i < 5; ++i) {
        lens[i] = U16(o.data() + kObjectHeaderSize + 2 * i);
        total += lens[i];
    }
    if (total > o.size() - kContentFixed) {
        error = std::string(kDamaged) + "content description texts run past the object";
        return false;
    }
    std::size_t pos = kContentFixed;
    for (int i = 0; i < 4; ++i) {
        if (lens[i] != 0)
            tag[kContentFields[i]] = Utf16TextToUtf8(o.data() + pos, lens[i]);
        h.contentTexts[i].assign(o.begin() + static_cast<std::ptrdiff_t>(pos),
                                 o.begin() + static_cast<std::ptrdiff_t>(pos + lens[i]));
        pos += lens[i];
    }
    h.hasContent = true;
    h.rating.assign(o.begin() + static_cast<std::ptrdiff_t>(pos),
                    o.begin() + static_cast<std::ptrdiff_t>(pos + lens[4]));
    return true;
}

bool ReadExtended(const Bytes& o, ParsedTag& tag, WmaTag::Header& h, std::string& error) {
    auto damaged = [&] {
        error = std::string(kDamaged) + "extended content description runs past the object";
        return false;
    };
    if (o.size() < kObjectHeaderSize + 2)
        return damaged();
    const std::size_t count = U16(o.data() + kObjectHeaderSize);
    std::size_t pos = kObjectHeaderSize + 2;
    const std::size_t end = o.size();
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t start = pos;
        if (pos > end - 2)
            return damaged();
        const std::size_t nameLen = U16(o.data() + pos);
        pos += 2;
        if (nameLen > end - pos || 4 > end - pos - nameLen)
            return damaged();
        WmaDescriptor d;
        d.name = Utf16TextToUtf8(o.data() + pos, nameLen);
        pos += nameLen;
        d.type = U16(o.data() + pos);
        const std::size_t valueLen = U16(o.data() + pos + 2);
        pos += 4;
        if (valueLen > end - pos)
            return damaged();
        d.value.assign(o.begin() + static_cast<std::ptrdiff_t>(pos),
                       o.begin() + static_cast<std::ptrdiff_t>(pos + valueLen));
        pos += valueLen;
        d.raw.assign(o.begin() + static_cast<std::ptrdiff_t>(start),
                     o.begin() + static_cast<std::ptrdiff_t>(pos));

        const std::string upper = Upper(d.name);
        if (IsId3Pictures(d)) {
            ReadId3Descriptor(d.value, tag, h);
        } else if (upper == "WM/PICTURE" && d.type == kTypeBytes) {
            Picture pic;
            if (ReadWmPicture(d.value, pic)) {
                d.listed = true;
                tag.wmPictures.push_back(std::move(pic));
                tag.wmSources.push_back({static_cast<int>(h.descriptors.size()), -1});
            }
        } else {
            TakeValue(upper, ValueText(upper, d.type, d.value.data(), d.value.size()), tag);
        }
        h.descriptors.push_back(std::move(d));
    }
    return true;
}

// Pictures, field values and synchronised lyrics in the metadata objects of
// a header extension.
// Anything that does not parse is left alone: the object is kept whole
// either way. The values are taken only when every object in it parses, as
// a changed field's records are cut out of it.
bool ReadHeaderExtension(const Bytes& o, std::size_t objectIndex, ParsedTag& tag,
                         WmaTag::Header& h) {
    if (o.size() < kExtensionFixed)
        return false;
    const std::size_t dataSize = U32(o.data() + kExtensionDataSizeOffset);
    if (dataSize > o.size() - kExtensionFixed)
        return false;
    const std::size_t end = kExtensionFixed + dataSize;
    std::size_t pos = kExtensionFixed;
    std::vector<std::pair<std::string, std::string>> values;  // upper-case name, value
    std::vector<WmaValueRecord> valueRecords;
    std::vector<WmaSyncedRecord> syncedRecords;
    while (pos <= end - kObjectHeaderSize) {  // end >= kExtensionFixed
        const std::uint64_t size = U64(o.data() + pos + 16);
        if (size < kObjectHeaderSize || size > end - pos)
            return false;
        const std::size_t subEnd = pos + static_cast<std::size_t>(size);
        if ((IsGuid(o.data() + pos, kMetadataLibraryGuid) ||
             IsGuid(o.data() + pos, kMetadataGuid)) &&
            size >= kObjectHeaderSize + 2) {
            const std::size_t count = U16(o.data() + pos + kObjectHeaderSize);
            std::size_t r = pos + kObjectHeaderSize + 2;
            for (std::size_t i = 0; i < count; ++i) {
                if (r > subEnd || kRecordFixed > subEnd - r)
                    break;
                const std::size_t nameLen = U16(o.data() + r + 4);
                const std::uint16_t type = U16(o.data() + r + 6);
                const std::size_t dataLen = U32(o.data() + r + 8);
                if (nameLen > subEnd - r - kRecordFixed ||
                    dataLen > subEnd - r - kRecordFixed - nameLen)
                    break;
                const std::uint8_t* name = o.data() + r + kRecordFixed;
                const std::uint8_t* data = name + nameLen;
                const std::size_t recordSize = kRecordFixed + nameLen + dataLen;
                const std::string upper = Upper(Utf16TextToUtf8(name, nameLen));
                const WmaRecord place{objectIndex, pos, r, recordSize};
                Picture pic;
                if (upper == "WM/PICTURE") {
                    if (type == kTypeBytes && ReadWmPicture(Bytes(data, data + dataLen), pic)) {
                        tag.libraryPictures.push_back(std::move(pic));
                        tag.librarySources.push_back({-1, static_cast<int>(h.records.size())});
                        h.records.push_back(place);
                    }
                } else if (const auto field = FieldOfItem(upper)) {
                    values.emplace_back(upper, ValueText(upper, type, data, dataLen));
                    valueRecords.push_back({place, *field, upper, type});
                } else if (upper == kSyncedLyricsName) {
                    syncedRecords.push_back(
                        {place, type, type == kTypeText ? Utf16TextToUtf8(data, dataLen) : ""});
                }
                r += recordSize;
            }
        }
        pos = subEnd;
    }
    if (pos != end)
        return false;
    tag.recordValues.insert(tag.recordValues.end(), values.begin(), values.end());
    h.valueRecords.insert(h.valueRecords.end(), valueRecords.begin(), valueRecords.end());
    h.syncedRecords.insert(h.syncedRecords.end(), syncedRecords.begin(), syncedRecords.end());
    return true;
}

// A "WM/Picture" value: type byte, 32-bit data size, MIME and description
// as terminated UTF-16, then the data.
Bytes WmPictureValue(const Picture& pic) {
    Bytes v{pic.PictureType};
    Put32(v, static_cast<std::uint32_t>(pic.Data.size()));
    const Bytes mime = Utf16Le(pic.MimeType, true);
    const Bytes desc = Utf16Le(pic.Description, true);
    Append(v, mime.data(), mime.size());
    Append(v, desc.data(), desc.size());
    Append(v, pic.Data.data(), pic.Data.size());
    return v;
}

// A metadata-library record named "WM/Picture" (language 0, stream 0).
Bytes PictureRecord(const Picture& pic) {
    const Bytes name = Utf16Le("WM/Picture", true);
    const Bytes value = WmPictureValue(pic);
    Bytes r;
    Put16(r, 0);
    Put16(r, 0);
    Put16(r, name.size());
    Put16(r, kTypeBytes);
    Put32(r, static_cast<std::uint32_t>(value.size()));
    Append(r, name.data(), name.size());
    Append(r, value.data(), value.size());
    return r;
}

// The header extension `o` (well formed) with `records` added to its
// metadata library, which is created when there is none.
bool WithRecords(Bytes& o, const Bytes& records, std::size_t count, std::string& error) {
    const std::size_t end = kExtensionFixed + U32(o.data() + kExtensionDataSizeOffset);
    std::size_t pos = kExtensionFixed;
    while (pos < end && !IsGuid(o.data() + pos, kMetadataLibraryGuid))
        pos += static_cast<std::size_t>(U64(o.data() + pos + 16));
    if (pos < end) {
        const std::size_t size = static_cast<std::size_t>(U64(o.data() + pos + 16));
        const std::size_t countAt = pos + kObjectHeaderSize;
        if (size < kObjectHeaderSize + 2 || count > kMax16 - U16(o.data() + countAt)) {
            error = "Cannot save the pictures: the metadata library is full";
            return false;
        }
        o.insert(o.begin() + static_cast<std::ptrdiff_t>(pos + size), records.begin(),
                 records.end());
        Set64(o, pos + 16, size + records.size());
        const std::size_t n = U16(o.data() + countAt) + count;
        o[countAt] = static_cast<std::uint8_t>(n);
        o[countAt + 1] = static_cast<std::uint8_t>(n >> 8);
    } else {
        Bytes lib;
        BeginObject(lib, kMetadataLibraryGuid);
        Put16(lib, count);
        Append(lib, records.data(), records.size());
        Set64(lib, 16, lib.size());
        o.insert(o.begin() + static_cast<std::ptrdiff_t>(end), lib.begin(), lib.end());
    }
    const std::uint64_t dataSize = o.size() - kExtensionFixed;
    if (dataSize > 0xFFFFFFFFull) {
        error = "Cannot save the pictures: the header extension holds at most 4 GiB";
        return false;
    }
    Set32(o, kExtensionDataSizeOffset, static_cast<std::uint32_t>(dataSize));
    Set64(o, 16, o.size());
    return true;
}

// The header extension without the given records; the sizes and counts
// that enclose them shrink to match.
Bytes WithoutRecords(const Bytes& o, const std::vector<WmaRecord>& gone) {
    Bytes out = o;
    std::vector<WmaRecord> sorted = gone;
    std::sort(sorted.begin(), sorted.end(),
              [](const WmaRecord& a, const WmaRecord& b) { return a.start > b.start; });
    for (const WmaRecord& r : sorted) {
        out.erase(out.begin() + static_cast<std::ptrdiff_t>(r.start),
                  out.begin() + static_cast<std::ptrdiff_t>(r.start + r.size));
        Set64(out, r.subStart + 16, U64(out.data() + r.subStart + 16) - r.size);
        const std::size_t countAt = r.subStart + kObjectHeaderSize;
        const auto count = static_cast<std::uint16_t>(U16(out.data() + countAt) - 1);
        out[countAt] = static_cast<std::uint8_t>(count);
        out[countAt + 1] = static_cast<std::uint8_t>(count >> 8);
        Set32(out, kExtensionDataSizeOffset,
              U32(out.data() + kExtensionDataSizeOffset) - static_cast<std::uint32_t>(r.size));
        Set64(out, 16, out.size());
    }
    return out;
}

bool ParseHeader(WmaTag::Header& h, ParsedTag& tag, std::string& error) {
    const Bytes& raw = h.raw;
    const std::size_t size = raw.size();
    h.objectCount = U32(raw.data() + 24);
    h.reserved = {raw[28], raw[29]};
    std::size_t pos = kHeaderObjectFixed;
    for (std::uint32_t i = 0; i < h.objectCount; ++i) {
        if (pos > size - kObjectHeaderSize) {
            error = std::string(kDamaged) + "it holds fewer objects than its count says";
            return false;
        }
        const std::uint64_t objSize = U64(raw.data() + pos + 16);
        if (objSize < kObjectHeaderSize || objSize > size - pos) {
            error = std::string(kDamaged) + "an object's size does not fit the header";
            return false;
        }
        const std::uint8_t* g = raw.data() + pos;
        Bytes obj(raw.begin() + static_cast<std::ptrdiff_t>(pos),
                  raw.begin() + static_cast<std::ptrdiff_t>(pos + objSize));
        pos += static_cast<std::size_t>(objSize);
        if (IsGuid(g, kFilePropertiesGuid) && h.fileProperties.empty()) {
            if (obj.size() < kFilePropertiesSize) {
                error = std::string(kDamaged) + "file properties too short";
                return false;
            }
            h.fileSize = U64(obj.data() + kFileSizeOffset);
            h.playDuration = U64(obj.data() + kPlayDurationOffset);
            h.preroll = U64(obj.data() + kPrerollOffset);
            h.broadcast = (U32(obj.data() + kFilePropsFlagsOffset) & 1) != 0;
            h.maxBitrate = U32(obj.data() + kMaxBitrateOffset);
            h.fileProperties = std::move(obj);
        } else if (IsGuid(g, kStreamPropertiesGuid)) {
            // Only an audio stream describes the sound; a later one wins.
            if (obj.size() >= kStreamAudioMinSize &&
                IsGuid(obj.data() + kStreamTypeOffset, kAudioMediaGuid)) {
                h.channels = U16(obj.data() + kChannelsOffset);
                h.sampleRate = U32(obj.data() + kChannelsOffset + 2);
                h.avgBytesPerSec = U32(obj.data() + kChannelsOffset + 6);
            }
            h.streams.push_back(std::move(obj));
        } else if (IsGuid(g, kContentDescriptionGuid)) {
            if (!ReadContent(obj, tag, h, error))
                return false;
        } else if (IsGuid(g, kExtendedContentGuid)) {
            if (!ReadExtended(obj, tag, h, error))
                return false;
        } else {
            if (IsGuid(g, kHeaderExtensionGuid) &&
                ReadHeaderExtension(obj, h.others.size(), tag, h) && h.extension < 0)
                h.extension = static_cast<int>(h.others.size());
            h.others.push_back(std::move(obj));
        }
    }
    h.trailing.assign(raw.begin() + static_cast<std::ptrdiff_t>(pos), raw.end());
    for (auto& [upper, value] : tag.recordValues)
        TakeValue(upper, std::move(value), tag);
    for (const auto& k : kExtendedKeys)
        tag[k.field] = JoinFieldValues(tag.found[k.field]);
    // Further values of the content description's texts follow its own.
    for (const Field f : kContentFields) {
        if (tag.found[f].empty())
            continue;
        std::vector<std::string> all{tag[f]};
        all.insert(all.end(), tag.found[f].begin(), tag.found[f].end());
        tag[f] = JoinFieldValues(all);
    }
    // WM/Track counts from zero; WM/TrackNumber, when it holds a number, wins.
    if (tag[Field::Track].empty() && !tag.zeroBasedTrack.empty()) {
        const std::string& t = tag.zeroBasedTrack;
        const bool digits = t.size() < 10 && std::all_of(t.begin(), t.end(), [](char c) {
                                return c >= '0' && c <= '9';
                            });
        tag[Field::Track] = digits ? std::to_string(std::stoul(t) + 1) : t;
    }
    return true;
}

// The picture list in its order: "ID3" pictures, descriptors, records.
void TakePictures(ParsedTag& tag, std::vector<Picture>& pictures,
                  std::vector<WmaTag::PictureOrigin>& origins) {
    pictures = std::move(tag.id3Pictures);
    origins.assign(pictures.size(), WmaTag::PictureOrigin{});
    for (std::size_t i = 0; i < tag.wmPictures.size(); ++i) {
        pictures.push_back(std::move(tag.wmPictures[i]));
        origins.push_back(tag.wmSources[i]);
    }
    for (std::size_t i = 0; i < tag.libraryPictures.size(); ++i) {
        pictures.push_back(std::move(tag.libraryPictures[i]));
        origins.push_back(tag.librarySources[i]);
    }
}

bool InRange(std::uint64_t v, std::uint64_t lo, std::uint64_t hi) {
    return v >= lo && v <= hi;
}

// One picture frame in the descriptor's layout; the description goes as
// UTF-16 only when Latin-1 cannot hold it.
Bytes ApicFrame(const Picture& pic, std::uint8_t major) {
    const Bytes body = id3v2::PictureBody(pic);
    return major == 4 ? id3v2::RenderFrame24("APIC", body) : id3v2::RenderFrame23("APIC", body);
}

bool PutDescriptor(Bytes& out, const std::string& name, std::uint16_t type, const Bytes& value,
                   std::string& error) {
    const Bytes n = Utf16Le(name, true);
    if (n.size() > kMax16 || value.size() > kMax16) {
        error = "Cannot save \"" + name + "\": an attribute holds at most 65,535 bytes";
        return false;
    }
    Put16(out, n.size());
    Append(out, n.data(), n.size());
    Put16(out, type);
    Put16(out, value.size());
    Append(out, value.data(), value.size());
    return true;
}

// ---- Save steps ----------------------------------------------------------

// The rebuilt header replaces the one read; if the file changed since, the
// audio would be cut at the wrong place.
bool Unchanged(File& file, std::int64_t fileSize, const Bytes& oldHeader) {
    const auto current = fileSize >= static_cast<std::int64_t>(oldHeader.size())
                             ? file.ReadAt(0, oldHeader.size())
                             : std::nullopt;
    return current && *current == oldHeader;
}

// A picture read from `o` that is no longer listed was deleted: its place goes.
bool Holds(const std::vector<WmaTag::PictureOrigin>& origins, const WmaTag::PictureOrigin& o) {
    return std::find(origins.begin(), origins.end(), o) != origins.end();
}

// The value a save writes for a field: a genre differing only in case from
// the one read is the one read.
const std::string& SavedValue(const WmaTag& tag, Field f) {
    const std::string& was = tag.ReadValue(f);
    return f == Field::Genre && Upper(was) == Upper(tag.Value(f)) ? was : tag.Value(f);
}

// The fields whose items a save replaces.
PerField<bool> ChangedFields(const WmaTag& tag) {
    PerField<bool> changed;
    for (const auto& entry : kFieldTable)
        changed[entry.field] = SavedValue(tag, entry.field) != tag.ReadValue(entry.field);
    return changed;
}

// Where the pictures of a save go: the frames of the "ID3" descriptor and
// the records added to the metadata library.
struct PicturePlan {
    std::uint8_t id3Major = 3;
    Bytes id3Frames;  // the picture frames in their order, then the other frames
    Bytes records;
    std::size_t recordCount = 0;
};

// New pictures go into the "ID3" descriptor; those that no longer fit its
// 16-bit length go to the metadata library, whose lengths are 32-bit.
bool PlacePictures(const WmaTag::Header& old, const std::vector<Picture>& pictures,
                   const std::vector<WmaTag::PictureOrigin>& origins, PicturePlan& plan,
                   std::string& error) {
    plan.id3Major = old.id3Major == 4 ? 4 : 3;
    const Bytes others = Id3OtherFrames(old, plan.id3Major);
    plan.id3Frames = others;
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        if (!(origins[i] == WmaTag::PictureOrigin{}))
            continue;
        const Bytes f = ApicFrame(pictures[i], plan.id3Major);
        if (f.size() <= kMax16 - id3v2::kHeaderSize - plan.id3Frames.size()) {
            plan.id3Frames.insert(plan.id3Frames.end() - static_cast<std::ptrdiff_t>(others.size()),
                                  f.begin(), f.end());
        } else if (pictures[i].Data.size() < 0xFFFFFF00u) {
            const Bytes r = PictureRecord(pictures[i]);
            Append(plan.records, r.data(), r.size());
            ++plan.recordCount;
        } else {
            error = "Cannot save a picture larger than 4 GiB";
            return false;
        }
    }
    return true;
}

// The objects kept whole from the old header, in file order: records of
// deleted pictures, of changed fields and, when new ones are set, of the
// synchronised lyrics leave their metadata objects, new records join the
// header extension, which is created when the file has none.
bool BuildKeptObjects(const WmaTag::Header& old, const PicturePlan& plan,
                      const std::vector<WmaTag::PictureOrigin>& origins,
                      const PerField<bool>& changed, bool syncedSet, std::vector<Bytes>& objects,
                      std::string& error) {
    objects = old.others;
    int extension = old.extension;
    if (plan.recordCount > 0 && extension < 0) {
        // A header extension with its fixed reserved values and no objects yet.
        Bytes ext;
        BeginObject(ext, kHeaderExtensionGuid);
        const Guid reserved =
            MakeGuid(0xABD3D211, 0xA9BA, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
        Append(ext, reserved.data(), reserved.size());
        Put16(ext, 6);
        Put32(ext, 0);
        Set64(ext, 16, ext.size());
        extension = static_cast<int>(objects.size());
        objects.push_back(std::move(ext));
    }
    for (std::size_t i = 0; i < objects.size(); ++i) {
        std::vector<WmaRecord> gone;
        for (std::size_t r = 0; r < old.records.size(); ++r) {
            if (old.records[r].object == i &&
                !Holds(origins, WmaTag::PictureOrigin{-1, static_cast<int>(r)}))
                gone.push_back(old.records[r]);
        }
        for (const WmaValueRecord& v : old.valueRecords) {
            if (v.place.object == i && changed[v.field])
                gone.push_back(v.place);
        }
        for (const WmaSyncedRecord& v : old.syncedRecords) {
            if (v.place.object == i && syncedSet)
                gone.push_back(v.place);
        }
        if (!gone.empty())
            objects[i] = WithoutRecords(objects[i], gone);
        if (static_cast<int>(i) == extension && plan.recordCount > 0 &&
            !WithRecords(objects[i], plan.records, plan.recordCount, error))
            return false;
    }
    return true;
}

// Content description: the four texts edited here (an unchanged one as it
// was stored) and the rating as read.
bool BuildContentDescription(const WmaTag& tag, const WmaTag::Header& old,
                             const PerField<bool>& changed, Bytes& out, std::string& error) {
    BeginObject(out, kContentDescriptionGuid);
    const char* names[4] = {"Title", "Artist", "Copyright", "Comment"};
    Bytes encoded[4];
    for (int i = 0; i < 4; ++i) {
        // An empty text takes no bytes, so readers find no value there.
        const std::string& text = tag.Value(kContentFields[i]);
        // Unchanged, a text stays as stored; without a content description
        // its values live elsewhere, where they are kept.
        if (!changed[kContentFields[i]])
            encoded[i] = old.hasContent ? old.contentTexts[i] : Bytes{};
        else
            encoded[i] = text.empty() ? Bytes{} : Utf16Le(text, true);
        if (encoded[i].size() > kMax16) {
            error = std::string("Cannot save ") + names[i] +
                    ": it holds at most 32,766 UTF-16 characters";
            return false;
        }
        Put16(out, encoded[i].size());
    }
    const Bytes rating = old.hasContent ? old.rating : Bytes{0, 0};
    Put16(out, rating.size());
    for (const Bytes& e : encoded)
        Append(out, e.data(), e.size());
    Append(out, rating.data(), rating.size());
    EndObject(out, 0);
    return true;
}

// The value of the "ID3" descriptor: an ID3v2 tag of the planned version
// without flags, so any reader takes its frames as they are.
bool Id3DescriptorValue(const PicturePlan& plan, Bytes& value, std::string& error) {
    const Bytes& frames = plan.id3Frames;
    if (frames.size() > kMax16 - id3v2::kHeaderSize) {
        error = "Cannot save the pictures: the \"ID3\" attribute holds at most 65,535 bytes";
        return false;
    }
    const auto size = static_cast<std::uint32_t>(frames.size());
    value = plan.id3Major == 4 ? id3v2::RenderHeader24(size) : id3v2::RenderHeader23(size);
    Append(value, frames.data(), frames.size());
    return true;
}

// A changed track: WM/TrackNumber holds it (a DWORD when the old one was and
// the track is a plain number); WM/Track, zero-based, goes in front of it
// when the file had one (in its type, text or DWORD), so readers that take
// either find the same track.
bool PutTrack(Bytes& out, const WmaTag::Header& old, const std::string& value, std::size_t& count,
              std::string& error) {
    constexpr std::uint16_t kTypeDword = 3;
    std::optional<std::uint16_t> zeroBased;
    bool dword = false;
    auto note = [&](const std::string& upper, std::uint16_t type) {
        if (upper == "WM/TRACK" && !zeroBased)
            zeroBased = type;
        dword = dword || (upper == "WM/TRACKNUMBER" && type == kTypeDword);
    };
    for (const WmaDescriptor& d : old.descriptors)
        note(Upper(d.name), d.type);
    for (const WmaValueRecord& r : old.valueRecords)
        note(r.upperName, r.type);
    const bool number =
        !value.empty() && value.size() < 10 &&
        std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
    const unsigned long n = number ? std::stoul(value) : 0;
    auto put = [&](const char* name, bool asDword, unsigned long v) {
        Bytes b;
        if (asDword)
            Put32(b, static_cast<std::uint32_t>(v));
        else
            b = Utf16Le(number ? std::to_string(v) : value, true);
        if (!PutDescriptor(out, name, asDword ? kTypeDword : kTypeText, b, error))
            return false;
        ++count;
        return true;
    };
    if (zeroBased && number && n > 0 && !put("WM/Track", *zeroBased == kTypeDword, n - 1))
        return false;
    return put("WM/TrackNumber", dword && number, n);
}

// Extended content description: "ID3" first when it holds pictures, then
// every descriptor read in its place, but those of changed fields, which
// give way to one value under the standard name. The content description's
// texts are written there, never here. New synchronised lyrics (`synced`)
// take the place of the first SYNCEDLYRICS descriptor, or go last.
bool BuildExtendedContent(const WmaTag& tag, const WmaTag::Header& old, const PicturePlan& plan,
                          const std::vector<WmaTag::PictureOrigin>& origins,
                          const std::optional<std::string>& synced, Bytes& out,
                          std::string& error) {
    BeginObject(out, kExtendedContentGuid);
    const std::size_t countAt = out.size();
    Put16(out, 0);
    std::size_t count = 0;

    // The "ID3" descriptor only when it holds something (pictures, frames).
    if (!plan.id3Frames.empty()) {
        Bytes id3;
        if (!Id3DescriptorValue(plan, id3, error) ||
            !PutDescriptor(out, "ID3", kTypeBytes, id3, error))
            return false;
        ++count;
    }

    // Descriptors first, then the records of the metadata objects: a changed
    // field whose first value was a record is written after the descriptors.
    struct Item {
        bool record = false;
        std::size_t index = 0;
    };
    FieldItems<Item> read;
    for (std::size_t i = 0; i < old.descriptors.size(); ++i) {
        const WmaDescriptor& d = old.descriptors[i];
        const std::string upper = Upper(d.name);
        read.Add(upper == "WM/PICTURE" || IsId3Pictures(d) ? std::nullopt : FieldOfItem(upper),
                 Item{false, i});
    }
    for (std::size_t i = 0; i < old.valueRecords.size(); ++i)
        read.Add(old.valueRecords[i].field, Item{true, i});
    for (const auto& entry : kFieldTable)
        read.SetRead(entry.field, tag.ReadValue(entry.field));
    auto now = [&tag](Field f) -> const std::string& { return SavedValue(tag, f); };
    std::vector<Field> order;
    for (const auto& k : kExtendedKeys)
        if (k.written)
            order.push_back(k.field);
    bool ok = true;
    bool syncedPlaced = false;
    auto putSynced = [&] {
        syncedPlaced = true;
        if (synced->empty())
            return;  // emptied: the descriptor goes
        ok = PutDescriptor(out, std::string(kSyncedLyricsName), kTypeText, Utf16Le(*synced, true),
                           error);
        ++count;
    };
    read.Plan(
        order, now,
        [&](const auto& entry) {
            if (entry.item.record || !ok)
                return;  // it stays in its object
            const WmaDescriptor& d = old.descriptors[entry.item.index];
            if (IsId3Pictures(d))
                return;
            if (synced && Upper(d.name) == kSyncedLyricsName) {
                if (!syncedPlaced)
                    putSynced();
                return;
            }
            if (d.listed &&
                !Holds(origins, WmaTag::PictureOrigin{static_cast<int>(entry.item.index), -1}))
                return;  // its picture was deleted
            Append(out, d.raw.data(), d.raw.size());
            ++count;
        },
        [&](Field f, const std::string& value) {
            if (!ok)
                return;
            if (f == Field::Track) {
                ok = PutTrack(out, old, value, count, error);
                return;
            }
            for (const auto& k : kExtendedKeys) {
                if (k.field == f && k.written) {
                    ok = PutDescriptor(out, std::string(k.name), kTypeText, Utf16Le(value, true),
                                       error);
                    ++count;
                }
            }
        });
    if (ok && synced && !syncedPlaced)
        putSynced();
    if (!ok)
        return false;
    if (count > kMax16) {
        error = "Cannot save: more than 65,535 attributes";
        return false;
    }
    out[countAt] = static_cast<std::uint8_t>(count);
    out[countAt + 1] = static_cast<std::uint8_t>(count >> 8);
    EndObject(out, 0);
    return true;
}

// The new header object: the kept objects and the file properties in their
// place, the two descriptions, the streams, and the bytes that followed the
// objects; its counts, size and the file-size field filled in.
Bytes AssembleHeader(const WmaTag::Header& old, const std::vector<Bytes>& objects,
                     const Bytes& content, const Bytes& extended, std::uint64_t dataSize) {
    Bytes out;
    BeginObject(out, kHeaderGuid);
    Put32(out, 0);  // object count, filled in below
    out.push_back(old.reserved[0]);
    out.push_back(old.reserved[1]);
    // A damaged file may carry a second file-properties object, kept among the
    // others. Readers take the first one, so the one read (and given the new
    // file size) must stay ahead of it; otherwise it goes after the others.
    const bool duplicateFileProps = std::any_of(objects.begin(), objects.end(), [](const Bytes& o) {
        return IsGuid(o.data(), kFilePropertiesGuid);
    });
    std::size_t filePropsAt = out.size();
    if (duplicateFileProps)
        Append(out, old.fileProperties.data(), old.fileProperties.size());
    for (const Bytes& o : objects)
        Append(out, o.data(), o.size());
    if (!duplicateFileProps) {
        filePropsAt = out.size();
        Append(out, old.fileProperties.data(), old.fileProperties.size());
    }
    Append(out, content.data(), content.size());
    for (const Bytes& s : old.streams)
        Append(out, s.data(), s.size());
    Append(out, extended.data(), extended.size());
    Append(out, old.trailing.data(), old.trailing.size());

    const auto objectCount = static_cast<std::uint32_t>(objects.size() + old.streams.size() + 3);
    Set32(out, 24, objectCount);
    Set64(out, 16, out.size());
    Set64(out, filePropsAt + kFileSizeOffset, out.size() + dataSize);
    return out;
}

// The new header must read back before it replaces the old one: a save
// that reports success must never leave a file this component refuses.
std::unique_ptr<WmaTag::Header> ReadBack(const Bytes& header, ParsedTag& tag, std::string& error) {
    auto h = std::make_unique<WmaTag::Header>();
    h->raw = header;
    if (!ParseHeader(*h, tag, error))
        return nullptr;
    return h;
}

// The new header, then the data as it was: in one step, the old file or the
// new one and never a mix.
IoResult ReplaceHeader(const std::string& fileName, const Bytes& header, File& file,
                       std::uint64_t oldHeaderSize, std::uint64_t dataSize,
                       const IoFaults& faults) {
    return SafeReplace(
        fileName,
        [&](ReplaceWriter& w, std::string& error) {
            if (!w.Write(header) || !w.CopyFrom(file, static_cast<std::int64_t>(oldHeaderSize),
                                                static_cast<std::int64_t>(dataSize))) {
                error = w.LastError();
                return false;
            }
            return true;
        },
        faults);
}

}  // namespace

namespace {

// Where the component keeps each field, in the field table's order.
constexpr std::array<std::string WmaTag::*, kFieldCount> kMembers{
    &WmaTag::Track,     &WmaTag::Title,      &WmaTag::Artist,    &WmaTag::Album,
    &WmaTag::Year,      &WmaTag::Genre,      &WmaTag::Comment,   &WmaTag::Lyrics,
    &WmaTag::Composer,  &WmaTag::OrigArtist, &WmaTag::Copyright, &WmaTag::URL,
    &WmaTag::EncodedBy,
};

}  // namespace

std::string& WmaTag::Value(Field f) {
    return this->*kMembers[IndexOf(f)];
}

const std::string& WmaTag::Value(Field f) const {
    return this->*kMembers[IndexOf(f)];
}

WmaTag::WmaTag() = default;
WmaTag::~WmaTag() = default;

void WmaTag::setFileName(const std::string& name) {
    fileName_ = name;
    ReadTag();
    FileNameChanged();
}

void WmaTag::ClearTag() {
    for (const auto& entry : kFieldTable)
        Value(entry.field).clear();
    GenreID = kGenreOther;
    pictures_.clear();
    pictureSource_.clear();
}

void WmaTag::Reset() {
    valid_ = false;
    damage_.clear();
    fileLength_ = 0;
    channelMode_.clear();
    frequency_ = 0;
    durationInSeconds_ = 0;
    duration_.clear();
    bitrate_ = 0;
    headerSize_ = 0;
    headerObjectCount_ = 0;
    headerFileSize_ = 0;
    maxBitrate_ = 0;
    channels_ = 0;
    sampleRate_ = 0;
    avgBytesPerSec_ = 0;
    header_.reset();
    pendingSynced_.reset();
    read_ = {};
    ClearTag();
}

bool WmaTag::ReadTag() {
    Reset();
    if (!FileExists(fileName_))
        return false;
    error_.clear();
    return Guard("File error!", [&] {
        std::string err;
        auto file = FileSnapshot::Open(fileName_, &err);
        if (!file) {
            Fail(err);
            return false;
        }
        return ReadOpened(*file);
    });
}

bool WmaTag::LoadFrom(const ByteSource& file) {
    fileName_ = file.Name();
    Reset();
    error_.clear();
    const bool ok = Guard("File error!", [&] { return ReadOpened(file); });
    FileNameChanged();
    return ok;
}

bool WmaTag::ReadOpened(const ByteSource& file) {
    std::string err;
    const std::int64_t fileSize = file.Size();
    if (fileSize < 0) {
        Fail(file.LastError());
        return false;
    }
    if (fileSize < static_cast<std::int64_t>(kHeaderObjectFixed))
        return false;  // too short to be ASF: not ours, no message
    auto start = file.ReadAt(0, kHeaderObjectFixed);
    if (!start) {
        Fail(file.LastError());
        return false;
    }
    if (!IsGuid(start->data(), kHeaderGuid))
        return false;
    const std::uint64_t headerSize = U64(start->data() + 16);
    if (headerSize < kHeaderObjectFixed || headerSize > static_cast<std::uint64_t>(fileSize)) {
        Fail(std::string(kDamaged) + "its size does not fit the file");
        return false;
    }
    if (headerSize > kWmaMaxHeaderSize) {
        Fail("ASF header too large: " + std::to_string(headerSize) + " bytes");
        return false;
    }
    auto h = std::make_unique<Header>();
    auto raw = file.ReadAt(0, static_cast<std::size_t>(headerSize));
    if (!raw) {
        Fail(file.LastError());
        return false;
    }
    h->raw = std::move(*raw);
    ParsedTag tag;
    if (!ParseHeader(*h, tag, err)) {
        Fail(err);
        return false;
    }
    headerSize_ = headerSize;
    headerObjectCount_ = h->objectCount;
    headerFileSize_ = h->fileSize;
    maxBitrate_ = h->maxBitrate;
    channels_ = h->channels;
    sampleRate_ = h->sampleRate;
    avgBytesPerSec_ = h->avgBytesPerSec;
    // A header whose tags read but that describes no audio stream at all
    // (other readers show its tags): read-only, its stream facts left at
    // zero. An audio stream with values out of range is no WMA file of ours.
    const bool audio = std::any_of(h->streams.begin(), h->streams.end(), [](const Bytes& o) {
        return o.size() >= kStreamAudioMinSize &&
               IsGuid(o.data() + kStreamTypeOffset, kAudioMediaGuid);
    });
    if (!audio) {
        damage_ = std::string(kDamaged) + "no stream properties object describes the audio";
        channels_ = 0;
        sampleRate_ = 0;
        avgBytesPerSec_ = 0;
    } else if (maxBitrate_ == 0 || !InRange(channels_, 1, kWmaMaxChannels) ||
               !InRange(sampleRate_, kWmaMinSampleRate, kWmaMaxSampleRate) ||
               !InRange(avgBytesPerSec_, 1, kWmaMaxAvgBytesPerSec)) {
        return false;
    }

    for (const auto& entry : kFieldTable)
        Value(entry.field) = tag[entry.field];
    read_ = tag;
    TakePictures(tag, pictures_, pictureSource_);
    header_ = std::move(h);

    valid_ = true;
    fileLength_ = fileSize;
    channelMode_ = channels_ == 1   ? "Mono"
                   : channels_ == 2 ? "Stereo"
                   : channels_ == 0 ? std::string()
                                    : std::to_string(channels_);
    frequency_ = static_cast<std::int32_t>(sampleRate_);
    // The play duration (100-ns units) includes the preroll (milliseconds)
    // at its start. A broadcast file has neither; nor has a file whose play
    // duration does not exceed the preroll: its length is estimated from the
    // data's size (64-bit: a 32-bit product wraps above 256 MiB).
    const Header& read = *header_;
    const std::uint64_t prerollTicks =
        read.preroll < (~0ull / 10'000) ? read.preroll * 10'000 : ~0ull;
    if (!read.broadcast && read.playDuration > prerollTicks) {
        durationInSeconds_ = static_cast<double>(read.playDuration - prerollTicks) / 1e7;
    } else if (maxBitrate_ != 0) {
        const std::uint64_t dataBytes = static_cast<std::uint64_t>(fileSize) - headerSize;
        durationInSeconds_ = static_cast<double>(dataBytes * 8) / maxBitrate_;
    }
    const auto whole = static_cast<long long>(durationInSeconds_);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                  whole % 60);
    duration_ = buf;
    bitrate_ = static_cast<std::int32_t>(avgBytesPerSec_ * 8ull / 1000);
    return true;
}

bool WmaTag::WriteTag() {
    error_.clear();
    return Guard("File error!", [&] { return Save(); });
}

bool WmaTag::Save() {
    if (!damage_.empty())
        return RefuseDamaged();
    std::string err;
    auto file = File::Open(fileName_, File::ModeForSave(fileName_), &err, io_);
    if (!file) {
        Fail(err.empty() ? "File error!" : err);
        return false;
    }
    if (!header_) {
        Fail("No valid ASF header was read from this file");
        return false;
    }
    const Header& old = *header_;
    const std::int64_t fileSize = file->Size();
    if (!Unchanged(*file, fileSize, old.raw)) {
        Fail("The file has changed since it was read; read it again before saving");
        return false;
    }

    PicturePlan plan;
    std::vector<Bytes> objects;
    Bytes content;
    Bytes extended;
    const PerField<bool> changed = ChangedFields(*this);
    if (!PlacePictures(old, pictures_, pictureSource_, plan, err) ||
        !BuildKeptObjects(old, plan, pictureSource_, changed, pendingSynced_.has_value(), objects,
                          err) ||
        !BuildContentDescription(*this, old, changed, content, err) ||
        !BuildExtendedContent(*this, old, plan, pictureSource_, pendingSynced_, extended, err)) {
        Fail(err);
        return false;
    }
    const std::uint64_t oldHeaderSize = old.raw.size();
    const std::uint64_t dataSize = static_cast<std::uint64_t>(fileSize) - oldHeaderSize;
    const Bytes out = AssembleHeader(old, objects, content, extended, dataSize);

    ParsedTag tag;
    auto h = ReadBack(out, tag, err);
    if (!h) {
        Fail("Cannot save: the new header would not read back", err);
        return false;
    }
    const IoResult result = ReplaceHeader(fileName_, out, *file, oldHeaderSize, dataSize, io_);
    if (!result) {
        Fail(result.error);
        return false;
    }

    // The file now holds the new header: the next save starts from it.
    read_ = tag;
    TakePictures(tag, pictures_, pictureSource_);
    headerSize_ = h->raw.size();
    headerObjectCount_ = h->objectCount;
    headerFileSize_ = h->fileSize;
    fileLength_ = static_cast<std::int64_t>(out.size() + dataSize);
    header_ = std::move(h);
    pendingSynced_.reset();
    return true;
}

std::string WmaTag::SyncedLyricsRead() const {
    if (!header_)
        return {};
    // Records follow the descriptors, as the fields' values do.
    for (const WmaDescriptor& d : header_->descriptors) {
        if (d.type == kTypeText && Upper(d.name) == kSyncedLyricsName)
            return Utf16TextToUtf8(d.value.data(), d.value.size());
    }
    for (const WmaSyncedRecord& r : header_->syncedRecords) {
        if (r.type == kTypeText)
            return r.text;
    }
    return {};
}

std::vector<std::string> WmaTag::OtherItems() const {
    std::vector<std::string> out;
    if (!header_)
        return out;
    for (const WmaDescriptor& d : header_->descriptors) {
        const std::string upper = Upper(d.name);
        if (!IsId3Pictures(d) && !(upper == "WM/PICTURE" && d.type == kTypeBytes) &&
            !FieldOfItem(upper))
            out.push_back(d.name);
    }
    return out;
}

std::string WmaTag::GetMIME(int index) const {
    if (index < 0 || index >= ImagesCount())
        return {};
    const Picture& p = pictures_[static_cast<std::size_t>(index)];
    return IsJfif(p.Data) ? "image/jpg" : p.MimeType;
}

std::string WmaTag::GetDescription(int index) const {
    if (index < 0 || index >= ImagesCount())
        return {};
    return pictures_[static_cast<std::size_t>(index)].Description;
}

std::int32_t WmaTag::SaveImageToFile(int index, const std::string& fileName) {
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int code = errno;
        Fail({}, std::string(std::strerror(code)), false);
        return code;
    }
    File out = File::Adopt(fd, io_);
    if (index >= 0 && index < ImagesCount()) {
        const Bytes& data = pictures_[static_cast<std::size_t>(index)].Data;
        if (!out.WriteAt(0, data)) {
            const int code = errno != 0 ? errno : EIO;
            Fail(out.LastError(), false);
            return code;
        }
    }
    return 0;
}

bool WmaTag::AddImage(int index, const std::string& fileName, const std::string& description,
                      int pictureType) {
    if (!damage_.empty())
        return RefuseDamaged(false);
    if (index < 0 || index > ImagesCount()) {
        Fail("Error adding image", false);
        return false;
    }
    return Guard("Error adding image", [&] {
        std::string err;
        auto file = File::Open(fileName, File::Mode::Read, &err);
        const std::int64_t size = file ? file->Size() : -1;
        if (file && size > static_cast<std::int64_t>(kWmaMaxHeaderSize)) {
            Fail("Cannot read the picture file: it is too large", false);
            return false;
        }
        std::optional<Bytes> data;
        if (file && size >= 0)
            data = file->ReadAt(0, static_cast<std::size_t>(size));
        if (!data) {
            Fail("Cannot read the picture file", file ? file->LastError() : err, false);
            return false;
        }
        Picture pic;
        pic.MimeType = MimeByExtension(fileName, *data);
        pic.Description = description;
        pic.PictureType = pictureType;
        pic.Data = std::move(*data);
        // New pictures live in the "ID3" descriptor.
        pictures_.insert(pictures_.begin() + index, std::move(pic));
        pictureSource_.insert(pictureSource_.begin() + index, PictureOrigin{});
        WriteTag();
        return true;
    });
}

std::int32_t WmaTag::DeleteImage(int index) {
    if (!damage_.empty()) {
        RefuseDamaged(false);
        return -1;
    }
    if (index < 0 || index >= ImagesCount()) {
        Fail("Delete image", false);
        return -1;
    }
    pictures_.erase(pictures_.begin() + index);
    pictureSource_.erase(pictureSource_.begin() + index);
    WriteTag();
    return 0;
}

}  // namespace sondrel
