// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/format_bridge.h"

#include <charconv>
#include <filesystem>
#include <system_error>

#include "editor/format_registry.h"
#include "tags/file_io.h"
#include "tags/tail_locator.h"
#include "util/text.h"

namespace sondrel {

namespace {

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string UpperAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = Upper(c);
    return out;
}

// ID3v1 texts may carry bytes after a zero (old writers pad with garbage).
std::string UpToZero(const std::string& s) {
    return s.substr(0, s.find('\0'));
}

std::string TrackText(std::uint8_t track) {
    return track == 0 ? std::string() : std::to_string(track);
}

}  // namespace

TagFormat FormatOfExt(std::string_view ext) {
    const std::string e = UpperAscii(ext);
    for (const FormatHandler* h : AllFormats()) {
        for (std::string_view known : h->Extensions()) {
            if (e == known)
                return h->Id();
        }
    }
    return TagFormat::None;
}

std::string ExtOf(std::string_view path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot));
}

TagFormat FormatOfPath(std::string_view path) {
    return FormatOfExt(ExtOf(path));
}

std::string_view FormatName(TagFormat format) {
    const FormatHandler* h = HandlerOf(format);
    return h ? h->Name() : std::string_view();
}

std::uint8_t TrackByteOf(std::string_view track) {
    const std::string_view number = track.substr(0, track.find('/'));
    if (number.empty())
        return 0;
    const char* first = number.data();
    const char* last = number.data() + number.size();
    bool negative = false;
    if (*first == '+' || *first == '-') {
        negative = *first == '-';
        ++first;
    }
    long long value = 0;
    const auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || ptr != last || first == last)
        return 0;
    // A 32-bit number in the original field; larger texts are not numbers.
    if (value > 0x7fffffffLL)
        return 0;
    if (negative)
        value = -value;
    return static_cast<std::uint8_t>(static_cast<unsigned long long>(value) & 0xffu);
}

std::string FirstChars(std::string_view s, std::size_t count) {
    std::size_t pos = 0;
    for (std::size_t n = 0; n < count && pos < s.size(); ++n) {
        ++pos;
        while (pos < s.size() && (static_cast<unsigned char>(s[pos]) & 0xC0) == 0x80)
            ++pos;
    }
    return std::string(s.substr(0, pos));
}

// ---- Copies between a component and the hub ----

TagFields HubValuesOf(const OggVorbisTag& c) {
    TagFields v;
    for (const auto& entry : kFieldTable)
        v[entry.field] = c.Value(entry.field);
    v.GenreID = c.GenreID();
    return v;
}

TagFields HubValuesOf(const FlacTag& c) {
    TagFields v;
    for (const auto& entry : kFieldTable)
        v[entry.field] = c.Value(entry.field);
    v.GenreID = c.GenreID();
    return v;
}

TagFields HubValuesOf(const WmaTag& c) {
    TagFields v;
    for (const auto& entry : kFieldTable)
        v[entry.field] = c.Value(entry.field);
    v.GenreID = ClampGenreId(c.GenreID);
    return v;
}

// Its track is a number, 0 for none.
TagFields HubValuesOf(const ApeTaggedComponent& c) {
    TagFields v;
    for (const auto& entry : kFieldTable)
        v[entry.field] = c.Value(entry.field);
    v.track = TrackText(c.Track());
    v.GenreID = ClampGenreId(c.GenreID());
    return v;
}

TagFields HubValuesOf(const Mp4Tag& c) {
    TagFields v;
    for (const auto& entry : kFieldTable)
        v[entry.field] = c.Value(entry.field);
    // Only the low byte of the 32-bit id reaches the one-byte hub field.
    v.GenreID = static_cast<std::uint8_t>(static_cast<std::uint32_t>(c.GenreID()) & 0xffu);
    return v;
}

TagFields MergeId3v1(TagFields hub, const Id3v1Tag& v1, int r) {
    auto take = [r](const std::string& hubValue) {
        return r != kVersion2 && (r == kVersion1 || hubValue.empty());
    };
    if (take(hub.track))
        hub.track = TrackText(v1.track());
    if (take(hub.title))
        hub.title = UpToZero(v1.Title());
    if (take(hub.artist))
        hub.artist = UpToZero(v1.Artist());
    if (take(hub.album))
        hub.album = UpToZero(v1.Album());
    if (take(hub.year))
        hub.year = UpToZero(v1.Year());
    if (take(hub.comment))
        hub.comment = v1.Comment();
    // The genre text decides, but only the number is taken: ID3v1 has no text.
    // Its "no genre" (255) stays no genre; its 12 is the table's "Other".
    if (take(hub.Genre)) {
        hub.GenreID = ClampGenreId(v1.GenreID());
        if (hub.GenreID == kGenreOther && !v1.NoGenre())
            hub.Genre = GenreNameOf(kGenreOther);
    }
    if (take(hub.text))
        hub.text = v1.Lyrics();
    return hub;
}

namespace {

// The genre text a from-hub copy gives a component holding `componentGenreId`.
std::string GenreTextFor(const TagFields& h, long long componentGenreId) {
    return componentGenreId == kGenreOther ? h.Genre
                                           : GenreNameOf(static_cast<unsigned>(componentGenreId));
}

}  // namespace

void CopyHubTo(const TagFields& h, Id3v1Tag& c) {
    c.settrack(TrackByteOf(h.track));
    c.setTitle(h.title);
    c.setArtist(h.artist);
    c.setAlbum(h.album);
    c.setYear(FirstChars(h.year, id3v1::kYearWidth));
    c.setComment(FirstChars(h.comment, id3v1::kCommentWidth));
    // A hub without any genre text stores ID3v1's "no genre".
    c.setGenreID(h.GenreID == kGenreOther && h.Genre.empty() ? Id3v1Tag::kNoGenreByte : h.GenreID);
    c.setLyrics(h.text);
}

void CopyHubTo(const TagFields& h, OggVorbisTag& c) {
    for (const auto& entry : kFieldTable) {
        if (entry.field != Field::Genre)
            c.setValue(entry.field, h[entry.field]);
    }
    c.setGenreID(h.GenreID);
    c.setGenre(GenreTextFor(h, c.GenreID()));
}

void CopyHubTo(const TagFields& h, FlacTag& c) {
    for (const auto& entry : kFieldTable) {
        if (entry.field != Field::Genre)
            c.setValue(entry.field, h[entry.field]);
    }
    c.setGenreID(h.GenreID);
    c.setGenre(GenreTextFor(h, c.GenreID()));
}

void CopyHubTo(const TagFields& h, WmaTag& c) {
    for (const auto& entry : kFieldTable)
        c.Value(entry.field) = h[entry.field];
    c.GenreID = ClampGenreId(h.GenreID);
    c.Genre = GenreTextFor(h, c.GenreID);
}

std::string CopyHubTo(const TagFields& h, Mp4Tag& c) {
    std::string refused;
    for (const auto& entry : kFieldTable) {
        if (entry.field == Field::Genre)
            continue;
        c.setValue(entry.field, h[entry.field]);
        if (refused.empty())
            refused = c.Error();
    }
    c.setGenreID(h.GenreID);
    c.setGenre(GenreTextFor(h, c.GenreID()));
    if (refused.empty())
        refused = c.Error();
    return refused;
}

void CopyHubTo(const TagFields& h, ApeTaggedComponent& c) {
    for (const auto& entry : kFieldTable) {
        if (entry.field != Field::Track && entry.field != Field::Genre)
            c.setValue(entry.field, h[entry.field]);
    }
    c.setTrack(TrackByteOf(h.track));
    c.setGenreID(h.GenreID);
    c.setGenre(c.GenreID() == kGenreOther ? h.Genre : GenreNameOf(c.GenreID()));
}

// ---- The bridge ----

TagBridge::TagBridge(EditorOptions options) {
    parts_.id3v1.setEditAutoSave(true);
    parts_.id3v2.setEditAutoSave(true);
    parts_.mpegInfo.setEditAutoSave(false);
    setOptions(options);
}

void TagBridge::setOptions(const EditorOptions& options) {
    options_ = options;
    parts_.id3v1.setUseLyrics3(options.useLyrics3);
    parts_.id3v1.setCodePage(options.legacyCodePage);
    parts_.id3v2.setLegacyCodePage(options.legacyCodePage);
    parts_.APE.setLegacyCodePage(options.legacyCodePage);
    parts_.MPCTag.setLegacyCodePage(options.legacyCodePage);
}

void TagBridge::SetIoFaults(const IoFaults& faults) {
    io_ = faults;
    BridgeComponents& p = parts_;
    for (TagComponent* c :
         std::initializer_list<TagComponent*>{&p.id3v1, &p.id3v2, &p.mpegInfo, &p.Ogg, &p.APE,
                                              &p.MPCTag, &p.WMATag, &p.mp4Tag, &p.flac})
        c->SetIoFaults(faults);
}

void TagBridge::setHub(const TagFields& hub) {
    hub_ = hub;
    hub_.GenreID = ClampGenreId(hub.GenreID);
}

void TagBridge::TakeRead(const TagFields& values) {
    CopyFieldValues(values, hub_);
    TransformTags();
    MirrorIntoId3v1();
}

void TagBridge::TakeMp3Read(const TagFields& id3v2Fields, const Id3v1Tag& id3v1) {
    auto& read = parts_.mp3Read;
    read.id3v2 = id3v2Fields;
    read.id3v1 = MergeId3v1(TagFields{}, id3v1, kVersion1);
    read.hadId3v2 = parts_.id3v2.Valid() && parts_.id3v2.TagSize() > 0;
    read.hadId3v1 = id3v1.Valid();
    setHub(MergeId3v1(id3v2Fields, id3v1, options_.readChoice));
    read.merged = Hub();
    TransformTags();
    MirrorIntoId3v1();
}

void TagBridge::MirrorIntoId3v1() {
    CopyHubTo(hub_, parts_.id3v1);
}

void TagBridge::TransformTags() {
    const int t = options_.transliteration;
    const int c = options_.capitalization;
    TagFields& h = hub_;
    h.title = ChangeCase(TranslitByMode(h.title, t), c);
    h.artist = ChangeCase(TranslitByMode(h.artist, t), c);
    h.album = ChangeCase(TranslitByMode(h.album, t), c);
    h.comment = TranslitByMode(h.comment, t);
}

// ---- Reading, saving, removing by extension ----

TagFormat TagBridge::Read(const std::string& path) {
    const FormatHandler* h = HandlerOfPath(path);
    hub_ = TagFields{};
    if (!h)
        return TagFormat::None;
    h->Read(*this, path);
    return h->Id();
}

TagFormat TagBridge::Read(const FileSnapshot& file) {
    const FormatHandler* h = HandlerOfPath(file.Path());
    hub_ = TagFields{};
    if (!h)
        return TagFormat::None;
    h->Read(*this, file);
    return h->Id();
}

bool TagBridge::Holds(const std::string& path) const {
    const FormatHandler* h = HandlerOfPath(path);
    return !h || h->Holds(*this, path);
}

SaveOutcome TagBridge::Save(const std::string& path) {
    const FormatHandler* h = HandlerOfPath(path);
    // Nothing written is no success: the caller would report a saved file.
    if (!h)
        return {false, "Error. This command does not apply to " + ExtOf(path) + " files!"};
    // The components write into the file they last read: a hub meant for
    // `path` must never land in another file.
    if (!h->Holds(*this, path))
        return {false, "File was not read before saving: " + path};
    return h->Save(*this);
}

bool TagBridge::SetSyncedLyrics(const std::string& path, const id3v2::SyncedLyrics& lyrics) {
    const FormatHandler* h = HandlerOfPath(path);
    return h && h->Holds(*this, path) && h->SetSyncedLyrics(*this, lyrics);
}

SaveOutcome TagBridge::Remove(const std::string& path, RemoveKind kind) {
    const FormatHandler* h = HandlerOfPath(path);
    if (!h || !h->Removes(kind))
        return {false, "Error. This command does not apply to " + ExtOf(path) + " files!"};
    return h->Remove(*this, path, kind);
}

std::string TagBridge::DisplayedGenre(TagFormat format) const {
    const TagFields& h = Hub();
    // A version 1 read shows ID3v1's view: a number, never a text.
    const FormatHandler* handler = HandlerOf(format);
    if (handler && handler->HasId3v1() && options_.readChoice == kVersion1)
        return GenreNameOf(h.GenreID);
    if (h.GenreID != kGenreOther || h.Genre == "Other")
        return GenreNameOf(h.GenreID);
    return h.Genre;
}

}  // namespace sondrel
