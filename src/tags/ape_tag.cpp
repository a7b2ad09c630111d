// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/ape_tag.h"
#include "tags/id3v2_frames.h"
#include "util/text.h"
#include "util/unicode.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <stdexcept>

namespace sondrel {

namespace apetag {
namespace {

constexpr std::string_view kPreamble = "APETAGEX";

std::uint32_t Le32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}

void PutLe32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

bool StartsWith(std::span<const std::uint8_t> b, std::string_view text) {
    return b.size() >= text.size() && std::memcmp(b.data(), text.data(), text.size()) == 0;
}

char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiUpper(a[i]) != AsciiUpper(b[i]))
            return false;
    }
    return true;
}

void AppendHeaderOrFooter(Bytes& out, std::uint32_t tagSize, std::uint32_t count,
                          std::uint32_t flags) {
    out.insert(out.end(), kPreamble.begin(), kPreamble.end());
    PutLe32(out, kVersion2);
    PutLe32(out, tagSize);
    PutLe32(out, count);
    PutLe32(out, flags);
    out.insert(out.end(), 8, 0);
}

// ID3v1 text: up to the first zero byte, trailing blanks cut.
std::string Id3v1Text(std::span<const std::uint8_t> field, std::string_view codepage) {
    std::string_view text(reinterpret_cast<const char*>(field.data()), field.size());
    text = text.substr(0, text.find('\0'));
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return CodePageToUtf8(text, codepage);
}

}  // namespace

std::optional<Field> FieldOfKey(std::string_view key) {
    for (const auto& k : kKeys) {
        if (EqualsNoCase(key, k.key))
            return k.field;
    }
    return std::nullopt;
}

ParsedItems ParseItems(std::span<const std::uint8_t> body, std::uint32_t count) {
    ParsedItems out;
    std::size_t pos = 0;
    // Every item takes at least ten bytes, so the body bounds the loop
    // whatever the count claims.
    for (std::uint32_t i = 0; i < count; ++i) {
        if (body.size() - pos < 8) {
            out.damaged = true;
            break;
        }
        const std::uint32_t valueSize = Le32(body, pos);
        const std::uint32_t flags = Le32(body, pos + 4);
        pos += 8;
        const std::size_t keyLimit = std::min(body.size() - pos, kMaxKeyLength + 1);
        std::size_t keyEnd = pos;
        while (keyEnd < pos + keyLimit && body[keyEnd] != 0)
            ++keyEnd;
        if (keyEnd == pos + keyLimit || keyEnd == pos) {
            out.damaged = true;
            break;
        }
        Item item;
        item.key.assign(reinterpret_cast<const char*>(body.data() + pos), keyEnd - pos);
        item.flags = flags;
        pos = keyEnd + 1;
        if (valueSize > body.size() - pos) {
            out.damaged = true;
            break;
        }
        item.value.assign(reinterpret_cast<const char*>(body.data() + pos), valueSize);
        pos += valueSize;
        out.items.push_back(std::move(item));
    }
    return out;
}

Bytes BuildTag(const std::vector<Item>& items) {
    Bytes body;
    for (const Item& item : items) {
        if (item.value.size() > std::numeric_limits<std::uint32_t>::max())
            throw std::length_error("A tag value is too large");
        PutLe32(body, static_cast<std::uint32_t>(item.value.size()));
        PutLe32(body, item.flags);
        body.insert(body.end(), item.key.begin(), item.key.end());
        body.push_back(0);
        body.insert(body.end(), item.value.begin(), item.value.end());
    }
    if (body.size() > kMaxTagBytes - kFooterSize)
        throw std::length_error("The tag is too large");
    const auto tagSize = static_cast<std::uint32_t>(body.size() + kFooterSize);
    const auto count = static_cast<std::uint32_t>(items.size());
    Bytes out;
    out.reserve(body.size() + 2 * kFooterSize);
    AppendHeaderOrFooter(out, tagSize, count, kFlagHasHeader | kFlagIsHeader);
    out.insert(out.end(), body.begin(), body.end());
    AppendHeaderOrFooter(out, tagSize, count, kFlagHasHeader);
    return out;
}

std::optional<Tail> LocateTail(const ByteSource& file) {
    const Tail layout = tail::Locate(file);
    if (layout.fault == tail::ReadFault::End || layout.fault == tail::ReadFault::Ape ||
        layout.fileSize < tail::kApeFooterSize ||
        (!layout.hasApe && layout.fileSize < tail::kId3v1Size))
        return std::nullopt;
    return layout;
}

std::int64_t Id3v2SizeAt(const ByteSource& file) {
    const auto head = file.ReadAt(0, id3v2::kHeaderSize);
    if (!head)
        return 0;
    const auto header = id3v2::ParseHeader(*head);
    return header ? std::int64_t{header->BodySize} + std::int64_t{id3v2::kHeaderSize} : 0;
}

std::optional<Id3v1Fields> ParseId3v1(std::span<const std::uint8_t> block,
                                      std::string_view codepage) {
    if (block.size() < kId3v1Size || !StartsWith(block, "TAG"))
        return std::nullopt;
    Id3v1Fields tag;
    tag.header = "TAG";
    tag.Title = Id3v1Text(block.subspan(3, 30), codepage);
    tag.Artist = Id3v1Text(block.subspan(33, 30), codepage);
    tag.Album = Id3v1Text(block.subspan(63, 30), codepage);
    tag.Year = Id3v1Text(block.subspan(93, 4), codepage);
    auto comment = block.subspan(97, 30);
    // ID3v1.1: a zero at comment byte 28 and a track number at byte 29.
    if (comment[28] == 0 && comment[29] != 0) {
        tag.track = comment[29];
        tag.VersionLow = 1;
        comment = comment.first(28);
    }
    tag.Comment = Id3v1Text(comment, codepage);
    tag.GenreID = ClampGenreId(block[127]);
    return tag;
}

std::uint8_t TrackNumberOf(std::string_view text) {
    text = TrimControl(text.substr(0, text.find('/')));
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return 0;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + (c - '0');
        if (value > std::numeric_limits<std::int32_t>::max())
            return 0;
    }
    // Low 8 bits, as a byte cast of the number would give.
    return static_cast<std::uint8_t>(negative ? -value : value);
}

std::string_view TrimControl(std::string_view text) {
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string FormatDuration(double seconds) {
    long long whole = 0;
    if (std::isfinite(seconds) && seconds > 0)
        whole = seconds >= 9.0e15 ? 9000000000000000LL : static_cast<long long>(seconds);
    return SecondsToTime(whole);
}

}  // namespace apetag

namespace {

// Whether the footer's items fill the space its size gives, to the last
// byte. A larger item count is forgiven when the items present fill it.
bool ItemsFillBody(const File& file, const apetag::Tail& tail) {
    auto body = file.ReadAt(tail.itemsStart, tail.footer.tagSize - apetag::kFooterSize);
    if (!body)
        return false;
    std::size_t used = 0;
    for (const apetag::Item& item : apetag::ParseItems(*body, tail.footer.itemCount).items)
        used += 8 + item.key.size() + 1 + item.value.size();
    return used == body->size();
}

// The field a stored item stands for: text items under a key of the table.
std::optional<Field> FieldOfItem(const apetag::Item& item) {
    return item.IsText() ? apetag::FieldOfKey(apetag::TrimControl(item.key)) : std::nullopt;
}

// Version 1.0 text has no stated encoding. Other readers take it as UTF-8,
// so valid UTF-8 is that (and is written back byte for byte); anything else
// is in the user's code page.
std::string LegacyText(std::string_view raw, std::string_view codepage) {
    return IsValidUtf8(raw) ? std::string(raw) : CodePageToUtf8(raw, codepage);
}

// The values of a text item (several are separated by zero bytes), trimmed.
void AppendValues(std::string_view raw, bool utf8, std::string_view codepage,
                  std::vector<std::string>& out) {
    while (true) {
        const auto nul = raw.find('\0');
        const std::string_view part = apetag::TrimControl(raw.substr(0, nul));
        out.push_back(utf8 ? std::string(ValidUtf8Prefix(part)) : LegacyText(part, codepage));
        if (nul == std::string_view::npos)
            return;
        raw.remove_prefix(nul + 1);
    }
}

bool SameNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// ID3v1 text in `codepage`, cut to `width` bytes and padded with zeros.
void PutId3v1Text(Bytes& block, std::size_t at, std::size_t width, std::string_view utf8,
                  std::string_view codepage) {
    const std::string text = Utf8ToCodePage(utf8, codepage);
    for (std::size_t i = 0; i < width; ++i)
        block[at + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0;
}

std::uint8_t GenreIdNoCase(std::string_view name) {
    for (std::size_t i = 0; i < GenreTable.size(); ++i) {
        const std::string_view entry = GenreTable[i];
        if (entry.size() != name.size())
            continue;
        bool same = true;
        for (std::size_t k = 0; k < entry.size() && same; ++k) {
            const auto a = static_cast<unsigned char>(entry[k]);
            const auto b = static_cast<unsigned char>(name[k]);
            same = std::tolower(a) == std::tolower(b);
        }
        if (same)
            return static_cast<std::uint8_t>(i);
    }
    return kGenreOther;
}

}  // namespace

void ApeTaggedComponent::setFilename(const std::string& path) {
    filename_ = path;
    ReadTag();
    FileNameChanged();
}

void ApeTaggedComponent::ResetAll() {
    valid_ = false;
    error_.clear();
    frequency_ = 0;
    duration_ = 0;
    fileLength_ = 0;
    id3v1_ = 0;
    id3v2_ = 0;
    apeVersion_.clear();
    compression_.clear();
    channelMode_.clear();
    ResetStream();
    ClearTag();
    otherItems_.clear();
    readValues_ = {};
    pendingSynced_.reset();
}

void ApeTaggedComponent::ClearTag() {
    validTag_ = false;
    version_ = 0;
    size_ = 0;
    for (auto& slot : slots_.values)
        slot.clear();
    track_ = 0;
    genreId_ = kGenreOther;
}

void ApeTaggedComponent::ReadTag() {
    ResetAll();
    // Reading reports nothing: a missing or unreadable file simply has no
    // stream and no tag.
    try {
        if (!FileExists(filename_))
            return;
        auto file = FileSnapshot::Open(filename_);
        if (!file)
            return;
        ReadOpened(*file);
    } catch (...) {
        valid_ = false;
    }
}

void ApeTaggedComponent::LoadFrom(const ByteSource& file) {
    filename_ = file.Name();
    ResetAll();
    try {
        ReadOpened(file);
    } catch (...) {
        valid_ = false;
    }
    FileNameChanged();
}

void ApeTaggedComponent::ReadOpened(const ByteSource& file) {
    id3v2_ = apetag::Id3v2SizeAt(file);
    const std::int64_t size = file.Size();
    const auto tail = apetag::LocateTail(file);
    try {
        ReadStream(file, size, tail ? tail->tagStart : size);
    } catch (...) {
        valid_ = false;
    }
    ReadTags(file, tail);
}

void ApeTaggedComponent::ReadTags(const ByteSource& file, const std::optional<apetag::Tail>& tail) {
    using namespace apetag;
    if (!tail)
        return;
    validTag_ = true;
    if (tail->id3v1Size != 0) {
        id3v1_ = kId3v1Size;
        auto block = file.ReadAt(tail->fileSize - tail->id3v1Size, kId3v1Size);
        if (block) {
            if (auto v1 = ParseId3v1(*block, codePage_)) {
                slots_[Field::Title] = v1->Title;
                slots_[Field::Artist] = v1->Artist;
                slots_[Field::Album] = v1->Album;
                slots_[Field::Year] = v1->Year;
                slots_[Field::Comment] = v1->Comment;
                track_ = v1->track;
                genreId_ = v1->GenreID;
                readValues_ = slots_;
                readValues_[Field::Track] = track_ == 0 ? "" : std::to_string(track_);
                // The number stands for a genre text the hub will be given.
                if (genreId_ != kGenreOther)
                    readValues_[Field::Genre] = GenreNameOf(genreId_);
            }
        }
    }
    if (!tail->hasApe || tail->apeDamaged)
        return;
    version_ = tail->footer.version;
    size_ = tail->footer.tagSize;
    auto body = file.ReadAt(tail->itemsStart, tail->footer.tagSize - kFooterSize);
    if (!body)
        return;
    const bool utf8 = version_ > kVersion1;
    PerField<std::vector<std::string>> found;
    for (const Item& item : ParseItems(*body, tail->footer.itemCount).items) {
        // Listed under the key as stored, binary items too.
        if (!FieldOfKey(item.key))
            otherItems_.push_back(item.key);
        // Binary items (pictures and the like) are not text to show.
        if (const auto field = FieldOfItem(item))
            AppendValues(item.value, utf8, codePage_, found[*field]);
    }
    // An APE tag replaces whatever an ID3v1 tag filled in, empty values too.
    PerField<std::string> values;
    for (const auto& k : kKeys)
        values[k.field] = JoinFieldValues(found[k.field]);
    readValues_ = values;
    track_ = TrackNumberOf(values[Field::Track]);
    values[Field::Track].clear();
    slots_ = std::move(values);
    genreId_ = GenreIdNoCase(slots_[Field::Genre]);
}

void ApeTaggedComponent::SetText(Field field, std::string_view value) {
    slots_[field] = std::string(apetag::TrimControl(value));
    Changed();
}

void ApeTaggedComponent::setTrack(std::uint8_t v) {
    track_ = v;
    Changed();
}

void ApeTaggedComponent::setGenreID(long long id) {
    genreId_ = ClampGenreId(id);
    Changed();
}

void ApeTaggedComponent::SaveFailed(std::string message) {
    Fail(std::move(message), NotifyAllSaveFailures());
}

bool ApeTaggedComponent::WriteTag() {
    error_.clear();
    try {
        return Save();
    } catch (const std::exception& e) {
        SaveFailed(e.what());
    } catch (...) {
        SaveFailed("Saving failed");
    }
    return false;
}

bool ApeTaggedComponent::Save() {
    using namespace apetag;
    std::string openError;
    auto file = File::Open(filename_, File::ModeForSave(filename_), &openError, io_);
    if (!file) {
        // The system's own words alone, as users of this format know them.
        Fail({}, openError, true);
        return false;
    }
    const auto tail = LocateTail(*file);
    if (!tail) {
        SaveFailed("Cannot read the end of the file");
        return false;
    }
    // Without a trustworthy tag size we cannot tell tag from audio. Without
    // its header only the items confirm the size: a damaged one that still
    // fits the file would have the save cut the audio wherever it points.
    if (tail->apeDamaged ||
        (tail->hasApe && tail->tagStart == tail->itemsStart && !ItemsFillBody(*file, *tail))) {
        SaveFailed("The APE tag at the end of the file is damaged");
        return false;
    }

    FieldItems<Item> read;
    if (tail->hasApe) {
        auto body = file->ReadAt(tail->itemsStart, tail->footer.tagSize - kFooterSize);
        if (!body) {
            SaveFailed(FailureText("Cannot read the APE tag", file->LastError()));
            return false;
        }
        const bool legacy = tail->footer.version <= kVersion1;
        for (Item& item : ParseItems(*body, tail->footer.itemCount).items) {
            // The written 2.0 tag needs UTF-8.
            if (legacy && item.IsText())
                item.value = LegacyText(item.value, codePage_);
            const auto field = FieldOfItem(item);
            read.Add(field, std::move(item));
        }
    }
    for (const auto& k : kKeys)
        read.SetRead(k.field, readValues_[k.field]);

    // The values to save as the read saw them: the track is a number here, so
    // "03" or "7/12" stay while they still name it; a genre differing only in
    // case from the one read is the one read.
    PerField<std::string> now = slots_;
    const std::string& oldTrack = readValues_[Field::Track];
    now[Field::Track] = track_ == 0                         ? std::string()
                        : TrackNumberOf(oldTrack) == track_ ? oldTrack
                                                            : std::to_string(track_);
    if (SameNoCase(now[Field::Genre], readValues_[Field::Genre]))
        now[Field::Genre] = readValues_[Field::Genre];

    std::array<Field, kKeys.size()> order{};
    for (std::size_t i = 0; i < kKeys.size(); ++i)
        order[i] = kKeys[i].field;
    std::vector<Item> items;
    read.Plan(
        order, [&now](Field f) -> const std::string& { return now[f]; },
        [&items](const auto& entry) { items.push_back(entry.item); },
        [&items](Field f, const std::string& value) {
            for (const auto& k : kKeys)
                if (k.field == f)
                    items.push_back(Item{std::string(k.key), 0, value});
        });
    if (pendingSynced_) {
        constexpr std::string_view kSyncedKey = "SYNCEDLYRICS";
        std::erase_if(items, [&](const Item& item) { return SameNoCase(item.key, kSyncedKey); });
        items.push_back(Item{std::string(kSyncedKey), 0, *pendingSynced_});
    }
    Bytes out = BuildTag(items);

    // A Lyrics3 block is only found through the ID3v1 tag behind it; both
    // stay behind the new tag, the ID3v1 fields the user changed updated.
    if (tail->lyrics3Size != 0 || tail->id3v1Size != 0) {
        const std::int64_t keep = tail->lyrics3Size + tail->id3v1Size;
        auto rest = file->ReadAt(tail->fileSize - keep, static_cast<std::size_t>(keep));
        if (!rest) {
            SaveFailed(FailureText("Cannot read the tags behind the APE tag", file->LastError()));
            return false;
        }
        if (tail->id3v1Size != 0) {
            Bytes v1(rest->end() - static_cast<std::ptrdiff_t>(kId3v1Size), rest->end());
            auto changed = [&](Field f) { return read.Changed(f, now[f]); };
            const std::pair<Field, std::size_t> texts[] = {
                {Field::Title, 3}, {Field::Artist, 33}, {Field::Album, 63}};
            for (const auto& [field, at] : texts)
                if (changed(field))
                    PutId3v1Text(v1, at, 30, now[field], codePage_);
            if (changed(Field::Year))
                PutId3v1Text(v1, 93, 4, now[Field::Year], codePage_);
            // ID3v1.1 keeps the track in the comment's last byte, behind a zero.
            const bool v11 = v1[97 + 28] == 0 && v1[97 + 29] != 0;
            const bool hasTrack = changed(Field::Track) ? track_ != 0 : v11;
            if (changed(Field::Track)) {
                v1[97 + 28] = hasTrack ? 0 : v1[97 + 28];
                v1[97 + 29] = hasTrack ? track_ : (v11 ? 0 : v1[97 + 29]);
            }
            if (changed(Field::Comment))
                PutId3v1Text(v1, 97, hasTrack ? 28 : 30, now[Field::Comment], codePage_);
            if (changed(Field::Genre))
                v1[127] = genreId_ == kGenreOther && now[Field::Genre].empty() ? 255 : genreId_;
            std::copy(v1.begin(), v1.end(), rest->end() - static_cast<std::ptrdiff_t>(kId3v1Size));
        }
        out.insert(out.end(), rest->begin(), rest->end());
    }

    // Space reserved, then written, then cut; a failure puts the old tag
    // back. The audio in front of tagStart is never touched.
    file.reset();
    const IoResult r = WriteTail(filename_, tail->tagStart, out,
                                 tail->tagStart + static_cast<std::int64_t>(out.size()), io_);
    if (!r) {
        SaveFailed(FailureText("Saving to file", r.error));
        return false;
    }
    return true;
}

}  // namespace sondrel
