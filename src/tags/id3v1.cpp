// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/id3v1.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace sondrel {

namespace {

constexpr std::string_view kTagMark = "TAG";
constexpr std::string_view kLyricsBegin = "LYRICSBEGIN";
constexpr std::string_view kLyricsEnd = "LYRICS200";
constexpr std::string_view kIndicator = "IND0000210";  // lyrics present, no time stamps

// Every field at its largest still fits the 6-digit block size, so cutting
// the values is all it takes to keep a block valid.
static_assert(kLyricsBegin.size() + kIndicator.size() +
                  4 * (id3v1::kFieldHeaderSize + id3v1::kMaxFieldValue) <=
              id3v1::kMaxLyricsBlock);

constexpr const char* kMsgReadMissing = "Error. File does not exist!";
constexpr const char* kMsgReadFailed = "Error. File too small to be a MP3 file!";
constexpr const char* kMsgNoTag = "MP3 does not contain a MP3 tag or wrong file format!";
constexpr const char* kMsgLyrics3 = "MP3 Lyrics3 Error";
constexpr const char* kMsgSaveMissing = "File does not exist!";
constexpr const char* kMsgSaveFailed = "File error!";
constexpr const char* kMsgCannotCut = "Cannot remove tag";

std::string_view AsText(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Strict: every byte a digit. Anything else marks a malformed block.
std::optional<std::size_t> ParseDigits(std::span<const std::uint8_t> bytes) {
    if (bytes.empty())
        return std::nullopt;
    std::size_t value = 0;
    for (std::uint8_t b : bytes) {
        if (b < '0' || b > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::size_t>(b - '0');
    }
    return value;
}

// Zero-padded decimal; callers keep `value` within `width` digits.
std::string Digits(std::size_t value, std::size_t width) {
    std::string s = std::to_string(value);
    if (s.size() < width)
        s.insert(0, width - s.size(), '0');
    return s;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.remove_suffix(1);
    return s;
}

// The first `count` characters of a UTF-8 text; a malformed byte counts as one.
std::string Utf8Prefix(const std::string& s, std::size_t count) {
    std::size_t pos = 0;
    for (std::size_t n = 0; n < count && pos < s.size(); ++n) {
        const auto lead = static_cast<unsigned char>(s[pos]);
        std::size_t len = lead < 0x80         ? 1
                          : (lead >> 5) == 6  ? 2
                          : (lead >> 4) == 14 ? 3
                          : (lead >> 3) == 30 ? 4
                                              : 1;
        if (len > s.size() - pos)
            len = 1;
        for (std::size_t i = 1; i < len; ++i) {
            if ((static_cast<unsigned char>(s[pos + i]) & 0xC0) != 0x80) {
                len = 1;
                break;
            }
        }
        pos += len;
    }
    return s.substr(0, pos);
}

}  // namespace

namespace id3v1 {

std::string EncodePrefix(std::string_view utf8, std::size_t maxBytes, std::string_view codepage) {
    std::string full = Utf8ToCodePage(utf8, codepage);
    if (full.size() <= maxBytes)
        return full;
    // Single-byte code pages: bytes and characters are the same thing.
    if (full.size() == Utf8Length(utf8))
        return full.substr(0, maxBytes);
    // Characters of several bytes: find the longest prefix that fits. The
    // conversion works character by character, so longer prefixes never
    // encode shorter.
    std::size_t lo = 0, hi = utf8.size();
    std::string best;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo + 1) / 2;
        std::string enc = Utf8ToCodePage(Utf8TruncateBytes(utf8, mid), codepage);
        if (enc.size() <= maxBytes) {
            best = std::move(enc);
            lo = mid;
        } else {
            hi = mid - 1;
        }
    }
    return best;
}

Id3v1Fields ParseBlock(std::span<const std::uint8_t, kBlockSize> block, std::string_view codepage) {
    const std::span<const std::uint8_t> b(block);
    auto text = [&](std::size_t offset, std::size_t len) {
        return CodePageToUtf8(TrimRight(AsText(b.subspan(offset, len))), codepage);
    };
    Id3v1Fields tag;
    tag.header = std::string(AsText(b.first(3)));
    tag.Title = text(3, kTextWidth);
    tag.Artist = text(33, kTextWidth);
    tag.Album = text(63, kTextWidth);
    tag.Year = text(93, kYearWidth);
    tag.GenreID = ClampGenreId(b[127]);
    // ID3v1.1: a zero before a non-zero last comment byte marks a track number.
    if (b[125] == 0 && b[126] != 0) {
        tag.track = b[126];
        tag.VersionLow = 1;
        tag.Comment = text(97, 28);
    } else {
        tag.Comment = text(97, kCommentWidth);
    }
    return tag;
}

Bytes BuildBlock(const Id3v1Fields& tag, std::string_view codepage) {
    Bytes block(kBlockSize, 0);
    auto put = [&](std::size_t offset, const std::string& utf8, std::size_t width) {
        const std::string enc = EncodePrefix(utf8, width, codepage);
        std::memcpy(block.data() + offset, enc.data(), enc.size());
    };
    std::memcpy(block.data(), kTagMark.data(), kTagMark.size());
    put(3, tag.Title, kTextWidth);
    put(33, tag.Artist, kTextWidth);
    put(63, tag.Album, kTextWidth);
    put(93, tag.Year, kYearWidth);
    put(97, tag.Comment, kCommentWidth);
    if (tag.track != 0) {
        block[125] = 0;
        block[126] = tag.track;
    }
    block[127] = tag.GenreID == Id3v1Tag::kNoGenreByte ? tag.GenreID : ClampGenreId(tag.GenreID);
    return block;
}

Lyrics3Fields ParseLyrics3(std::span<const std::uint8_t> block, std::string_view codepage) {
    Lyrics3Fields out;
    const std::size_t framing = kLyricsBeginSize + kLyricsFooterSize;
    if (block.size() < framing) {
        out.ok = false;
        return out;
    }
    // The field list runs from the start mark to the size digits; a field
    // header that straddles its end reads into the digits, as the block size
    // counts only what precedes them.
    std::int64_t remaining = static_cast<std::int64_t>(block.size() - framing);
    std::size_t pos = kLyricsBeginSize;
    while (remaining > 0) {
        if (kFieldHeaderSize > block.size() - pos) {
            out.ok = false;
            break;
        }
        const std::string_view id = AsText(block.subspan(pos, 3));
        const auto len = ParseDigits(block.subspan(pos + 3, 5));
        if (!len) {
            out.ok = false;
            break;
        }
        pos += kFieldHeaderSize;
        remaining -= static_cast<std::int64_t>(kFieldHeaderSize);
        if (static_cast<std::int64_t>(*len) > remaining)
            break;
        const std::string_view raw = AsText(block.subspan(pos, *len));
        pos += *len;
        remaining -= static_cast<std::int64_t>(*len);
        if (id == "LYR")
            // A lone space is what a save writes for "no lyrics".
            out.lyrics = raw == " " ? std::string() : CodePageToUtf8(raw, codepage);
        else if (id == "ETT")
            out.title = CodePageToUtf8(raw, codepage);
        else if (id == "EAR")
            out.artist = CodePageToUtf8(raw, codepage);
        else if (id == "EAL")
            out.album = CodePageToUtf8(raw, codepage);
    }
    return out;
}

Bytes BuildLyrics3(const std::string& lyrics, const Id3v1Fields& tag, std::string_view codepage) {
    std::string body(kLyricsBegin);
    body += kIndicator;
    auto field = [&](std::string_view id, const std::string& value) {
        body += id;
        body += Digits(value.size(), 5);
        body += value;
    };
    if (!lyrics.empty())
        field("LYR", EncodePrefix(lyrics, kMaxFieldValue, codepage));
    const std::pair<std::string_view, const std::string*> longTexts[] = {
        {"ETT", &tag.Title}, {"EAR", &tag.Artist}, {"EAL", &tag.Album}};
    bool longText = false;
    for (const auto& [id, text] : longTexts) {
        std::string enc = EncodePrefix(*text, kMaxFieldValue, codepage);
        if (enc.size() > kTextWidth) {
            field(id, enc);
            longText = true;
        }
    }
    // A block holding nothing is not written: players take it for a damaged
    // last audio frame.
    if (lyrics.empty() && !longText)
        return {};
    body += Digits(body.size(), 6);
    body += kLyricsEnd;
    return Bytes(body.begin(), body.end());
}

}  // namespace id3v1

void Id3v1Tag::setFilename(const std::string& path) {
    filename_ = path;
    ReadTag();
    FileNameChanged();
}

void Id3v1Tag::setFields(const Id3v1Fields& tag) {
    tag_ = tag;
    noGenre_ = false;
    tag_.GenreID = ClampGenreId(tag.GenreID);
    Changed();
}

void Id3v1Tag::settrack(std::uint8_t v) {
    tag_.track = v;
    Changed();
}

void Id3v1Tag::setTitle(const std::string& v) {
    tag_.Title = v;
    Changed();
}

void Id3v1Tag::setArtist(const std::string& v) {
    tag_.Artist = v;
    Changed();
}

void Id3v1Tag::setAlbum(const std::string& v) {
    tag_.Album = v;
    Changed();
}

void Id3v1Tag::setYear(const std::string& v) {
    tag_.Year = Utf8Prefix(v, id3v1::kYearWidth);
    Changed();
}

void Id3v1Tag::setComment(const std::string& v) {
    tag_.Comment = Utf8Prefix(v, id3v1::kCommentWidth);
    Changed();
}

void Id3v1Tag::setGenreID(unsigned v) {
    tag_.GenreID = v == kNoGenreByte ? kNoGenreByte : ClampGenreId(v);
    noGenre_ = false;
    Changed();
}

void Id3v1Tag::setLyrics(const std::string& v) {
    lyrics_ = v;
    Changed();
}

void Id3v1Tag::ClearTag() {
    tag_ = Id3v1Fields{};
    // No tag read means no genre, not genre 12.
    noGenre_ = true;
    lyrics_.clear();
}

bool Id3v1Tag::ReadTag() {
    valid_ = false;
    ClearTag();
    error_.clear();
    // Folders and devices are not files: the same answer as a missing file,
    // and they are never opened.
    if (!FileExists(filename_)) {
        Fail(kMsgReadMissing);
        return false;
    }
    Guard(kMsgReadFailed, [&] {
        const auto file = FileSnapshot::Open(filename_);
        if (!file) {
            Fail(kMsgReadFailed);
            return false;
        }
        return ReadOpened(*file);
    });
    return valid_;
}

void Id3v1Tag::LoadFrom(const ByteSource& file) {
    filename_ = file.Name();
    valid_ = false;
    ClearTag();
    error_.clear();
    Guard(kMsgReadFailed, [&] { return ReadOpened(file); });
    FileNameChanged();
}

bool Id3v1Tag::ReadOpened(const ByteSource& file) {
    const std::int64_t size = file.Size();
    if (size < static_cast<std::int64_t>(id3v1::kBlockSize)) {
        Fail(kMsgReadFailed);
        return false;
    }
    const tail::Layout layout = tail::Locate(file);
    if (layout.fault == tail::ReadFault::End) {
        Fail(kMsgReadFailed);
        return false;
    }
    if (layout.id3v1Size == 0) {
        Fail(kMsgNoTag);
        return false;
    }
    Bytes storage;
    const auto block = file.View(layout.Id3v1Offset(), id3v1::kBlockSize, storage);
    if (!block) {
        Fail(kMsgReadFailed);
        return false;
    }
    tag_ = id3v1::ParseBlock(block->first<id3v1::kBlockSize>(), codePage_);
    noGenre_ = (*block)[id3v1::kBlockSize - 1] == kNoGenreByte;
    valid_ = true;
    ReadLyrics3(file, layout);
    return true;
}

// Malformed Lyrics3 data leaves the ID3v1 fields (and whatever fields came
// before the fault) in place; it is reported but the tag stays valid.
void Id3v1Tag::ReadLyrics3(const ByteSource& file, const tail::Layout& layout) {
    auto fail = [&] { error_ = kMsgLyrics3; };
    try {
        if (layout.lyrics3Damaged || layout.fault == tail::ReadFault::Lyrics3)
            return fail();
        if (layout.lyrics3Size == 0 || !useLyrics3_)
            return;
        // Bounded by the 6-digit size: at most about a megabyte.
        auto block =
            file.ReadAt(layout.Lyrics3Offset(), static_cast<std::size_t>(layout.lyrics3Size));
        if (!block)
            return fail();
        const auto fields = id3v1::ParseLyrics3(*block, codePage_);
        if (fields.lyrics)
            lyrics_ = *fields.lyrics;
        if (fields.title)
            tag_.Title = *fields.title;
        if (fields.artist)
            tag_.Artist = *fields.artist;
        if (fields.album)
            tag_.Album = *fields.album;
        if (!fields.ok)
            fail();
    } catch (...) {
        fail();
    }
}

bool Id3v1Tag::WriteTag() {
    error_.clear();
    if (!FileExists(filename_)) {
        Fail(kMsgSaveMissing);
        return false;
    }
    return Guard(kMsgSaveFailed, [&] { return DoWrite(); });
}

namespace {

// Where our blocks start: the Lyrics3 block and ID3v1 tag there give way,
// wanted or not; an APE tag in front of them stays as it is. Nullopt when
// the end of the file cannot be read.
std::optional<std::int64_t> OwnTailStart(const ByteSource& file) {
    const std::int64_t size = file.Size();
    if (size < 0)
        return std::nullopt;
    const tail::Layout layout = tail::Locate(file);
    if (layout.fault == tail::ReadFault::End)
        return std::nullopt;
    return layout.id3v1Size > 0 ? layout.Lyrics3Offset() : size;
}

}  // namespace

std::optional<TailChange> Id3v1Tag::PlanWrite(const ByteSource& file) const {
    const auto from = OwnTailStart(file);
    if (!from)
        return std::nullopt;
    TailChange change;
    change.from = *from;
    if (useLyrics3_)
        change.bytes = id3v1::BuildLyrics3(lyrics_, tag_, codePage_);
    const Bytes block = id3v1::BuildBlock(tag_, codePage_);
    change.bytes.insert(change.bytes.end(), block.begin(), block.end());
    return change;
}

std::optional<TailChange> Id3v1Tag::PlanRemoval(const ByteSource& file) const {
    const auto from = OwnTailStart(file);
    if (!from)
        return std::nullopt;
    return TailChange{*from, {}};
}

bool Id3v1Tag::DoWrite() {
    auto file = File::Open(filename_, File::ModeForSave(filename_), nullptr, io_);
    const auto change = file ? PlanWrite(*file) : std::nullopt;
    if (!change) {
        Fail(kMsgSaveFailed);
        return false;
    }
    // Space first, then the new blocks, then the cut; any failure puts the
    // old end back.
    const std::int64_t end = change->from + static_cast<std::int64_t>(change->bytes.size());
    file.reset();
    const IoResult r = WriteTail(filename_, change->from, change->bytes, end, io_);
    if (!r) {
        Fail(kMsgSaveFailed);
        return false;
    }
    return true;
}

bool Id3v1Tag::RemoveTag() {
    error_.clear();
    if (!FileExists(filename_))
        return false;
    bool cutFailed = false;
    try {
        std::optional<TailChange> cut;
        std::int64_t size = -1;
        if (auto file = File::Open(filename_, File::Mode::Read)) {
            cut = PlanRemoval(*file);
            size = file->Size();
        }
        // A write-protected file is replaced with its mode kept, never made
        // writable for the moment of the cut.
        if (!cut)
            cutFailed = true;
        else if (cut->from < size)
            cutFailed = !WriteTail(filename_, cut->from, {}, cut->from, io_);
    } catch (...) {
        cutFailed = true;
    }
    ClearTag();
    ReadTag();
    // The re-read must not hide why the tag is still there.
    if (cutFailed)
        error_ = kMsgCannotCut;
    return !cutFailed;
}

}  // namespace sondrel
