// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/m4atag.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <taglib/mp4atom.h>
#include <taglib/mp4coverart.h>
#include <taglib/mp4file.h>
#include <taglib/mp4item.h>
#include <taglib/mp4properties.h>
#include <taglib/mp4tag.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/tfilestream.h>

#include "tags/file_io.h"
#include "tags/mp4_atoms.h"
#include "tags/picture.h"
#include "tags/tag_model.h"
#include "util/codepage.h"
#include "util/unicode.h"

namespace sondrel::m4atag {
namespace {

// The item key of each field, used by both the read and the save (the track
// is the integer pair "trkn", handled on its own).
struct ItemKey {
    Field field;
    const char* key;
};
constexpr std::array<ItemKey, kFieldCount> kItemKeys{{
    {Field::Track, "trkn"},
    {Field::Title, "\251nam"},
    {Field::Artist, "\251ART"},
    {Field::Album, "\251alb"},
    {Field::Year, "\251day"},
    {Field::Genre, "\251gen"},
    {Field::Comment, "\251cmt"},
    {Field::Lyrics, "\251lyr"},
    {Field::Composer, "\251wrt"},
    {Field::OrigArtist, "----:com.apple.iTunes:ORIGINAL ARTIST"},
    {Field::Copyright, "cprt"},
    {Field::URL, "----:com.apple.iTunes:URL"},
    {Field::EncodedBy, "\251too"},
}};

// Synchronised lyrics as LRC text, under the name the other formats give
// their item; no field shows it.
constexpr const char* kSyncedLyricsKey = "----:com.apple.iTunes:SYNCEDLYRICS";

// Items shown outside the field table: the tempo, the pictures and a
// numeric genre.
constexpr const char* kOwnKeys[] = {"tmpo", "covr", "gnre"};

// The "gnre" atom is a few dozen bytes; anything larger is not one we read.
constexpr long kMaxGnreAtomBytes = 64;

// Several values of one item are shown as one text.
constexpr std::string_view kValueSeparator = "; ";

TagLib::String FromUtf8(const std::string& s) {
    return TagLib::String(s, TagLib::String::UTF8);
}

std::string ToUtf8(const TagLib::String& s) {
    return s.to8Bit(true);
}

struct Cover {
    TagLib::MP4::CoverArt::Format format;
    TagLib::ByteVector data;
    bool operator==(const Cover& o) const { return format == o.format && data == o.data; }
};

// What the module reads from a file and writes back into it.
struct Metadata {
    PerField<std::string> fields;
    std::int32_t tempo = 0;
    std::vector<Cover> covers;
    // The genre came from a numeric "gnre": TagLib would write its own name
    // for the number, so the genre is always written as our text.
    bool genreFromNumber = false;
    std::string synced;  // LRC text; empty removes the item
    // Keys of the synchronised lyrics' items as stored, whatever their case,
    // in file order: the first is the one read, and keeps its spelling when
    // its value changes (not compared).
    std::vector<TagLib::String> syncedKeys;
    // Keys of the items no field shows, in file order (not written).
    std::vector<std::string> otherKeys;
};

struct StreamFacts {
    std::int64_t fileLength = -1;
    std::int32_t lengthMs = 0;
    std::int32_t bitrate = 0;
    std::int32_t sampleRate = 0;
    std::int32_t channels = 0;
    std::string codec;
    std::string encoder;
};

}  // namespace

struct State {
    std::string fileName;
    bool loaded = false;
    Metadata read;     // as in the file
    Metadata current;  // as edited
    StreamFacts facts;
    const IoFaults* faults = &SystemIo();
    // Why the last read, save or picture operation failed, in words; a
    // picture export (on a const state) leaves its reason here too.
    mutable std::string problem;
    // What is damaged in a file whose tags were read from the atoms that
    // hold together; such a file is never saved.
    std::string damage;
};

void StateDeleter::operator()(State* state) const noexcept {
    delete state;
}

namespace {

std::optional<std::uint32_t> ParseNumber(std::string_view s) {
    // Five digits are enough for 16-bit values and keep the sum from overflowing.
    if (s.empty() || s.size() > 5)
        return std::nullopt;
    std::uint32_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return v;
}

std::string FormatTrack(int number, int total) {
    if (number <= 0 && total <= 0)
        return {};
    if (total > 0)
        return std::to_string(number < 0 ? 0 : number) + "/" + std::to_string(total);
    return std::to_string(number);
}

// "n" or "n/total" (digits only) to the pair "trkn" stores; "" is (0, 0).
std::optional<std::pair<int, int>> ParseTrack(std::string_view text) {
    if (text.empty())
        return std::pair{0, 0};
    const auto slash = text.find('/');
    const auto number = ParseNumber(text.substr(0, slash));
    if (!number || *number > static_cast<std::uint32_t>(kMaxTrackNumber))
        return std::nullopt;
    if (slash == std::string_view::npos)
        return std::pair{static_cast<int>(*number), 0};
    const auto total = ParseNumber(text.substr(slash + 1));
    if (!total || *total > static_cast<std::uint32_t>(kMaxTrackNumber))
        return std::nullopt;
    return std::pair{static_cast<int>(*number), static_cast<int>(*total)};
}

std::string JoinValues(const TagLib::StringList& values) {
    std::string out;
    for (const auto& v : values) {
        if (!out.empty())
            out += kValueSeparator;
        out += ToUtf8(v);
    }
    return out;
}

// The value of a "gnre" atom (1-based genre number), or 0 when absent or malformed.
unsigned ReadGnre(TagLib::MP4::File& file, TagLib::MP4::Atom& gnre) {
    if (gnre.length <= 0 || gnre.length > kMaxGnreAtomBytes)
        return 0;
    file.seek(gnre.offset);
    const TagLib::ByteVector b = file.readBlock(static_cast<unsigned long>(gnre.length));
    // atom header (8) | "data" atom: size (4), "data" (4), type (4), locale (4), value (2)
    constexpr unsigned kValueAt = 24;
    if (b.size() < kValueAt + 2 || b.mid(12, 4) != TagLib::ByteVector("data", 4))
        return 0;
    return b.toUShort(kValueAt, true);
}

TagLib::String FreeFormKey(const TagLib::ByteVector& atom);

// Whether no field or item of our own owns `key`.
bool IsOtherKey(const TagLib::String& key) {
    for (const auto& k : kItemKeys)
        if (key == TagLib::String(k.key, TagLib::String::Latin1))
            return false;
    for (const char* own : kOwnKeys)
        if (key == TagLib::String(own, TagLib::String::Latin1))
            return false;
    return true;
}

// The keys of the items in `ilst`, in file order, as TagLib names them.
std::vector<TagLib::String> ItemKeys(TagLib::MP4::File& file, TagLib::MP4::Atom& ilst) {
    std::vector<TagLib::String> out;
    for (TagLib::MP4::Atom* item : ilst.children) {
        TagLib::String key(item->name, TagLib::String::Latin1);
        if (item->name == "----" && item->length > 0 && item->length <= kMaxFileBytes) {
            file.seek(item->offset);
            key = FreeFormKey(file.readBlock(static_cast<unsigned long>(item->length)));
        }
        if (!key.isEmpty())
            out.push_back(key);
    }
    return out;
}

// Whether `key` names the synchronised lyrics' item: other tools spell the
// free-form name (and mean) in any case.
bool IsSyncedLyricsKey(const TagLib::String& key) {
    const std::string k = ToUtf8(key);
    const std::string_view want = kSyncedLyricsKey;
    return k.size() == want.size() &&
           std::equal(k.begin(), k.end(), want.begin(), [](char a, char b) {
               const auto upper = [](char c) {
                   return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
               };
               return upper(a) == upper(b);
           });
}

Metadata Extract(TagLib::MP4::File& file) {
    Metadata m;
    const TagLib::MP4::Tag* tag = file.tag();
    if (!tag)
        return m;
    const TagLib::MP4::ItemMap& items = tag->itemMap();
    for (const auto& k : kItemKeys) {
        if (k.field == Field::Track)
            continue;
        const auto it = items.find(TagLib::String(k.key, TagLib::String::Latin1));
        if (it != items.end())
            m.fields[k.field] = JoinValues(it->second.toStringList());
    }
    if (const auto it = items.find("trkn"); it != items.end()) {
        const auto pair = it->second.toIntPair();
        m.fields[Field::Track] = FormatTrack(pair.first, pair.second);
    }
    if (const auto it = items.find("tmpo"); it != items.end()) {
        const int t = it->second.toInt();
        m.tempo = (t < 0 || t > kMaxTempo) ? 0 : t;
    }
    if (const auto it = items.find("covr"); it != items.end()) {
        for (const auto& art : it->second.toCoverArtList())
            m.covers.push_back({art.format(), art.data()});
    }

    // TagLib turns a numeric genre into its own spelling of the name; ours
    // follows the genre table the rest of the program uses.
    TagLib::MP4::Atoms atoms(&file);
    if (TagLib::MP4::Atom* ilst = atoms.find("moov", "udta", "meta", "ilst")) {
        for (const TagLib::String& key : ItemKeys(file, *ilst)) {
            if (IsOtherKey(key))
                m.otherKeys.push_back(ToUtf8(key));
            if (IsSyncedLyricsKey(key) && items.contains(key) &&
                std::find(m.syncedKeys.begin(), m.syncedKeys.end(), key) == m.syncedKeys.end())
                m.syncedKeys.push_back(key);
        }
        TagLib::MP4::Atom* gnre = ilst->find("gnre");
        if (gnre && !ilst->find("\251gen")) {
            const unsigned n = ReadGnre(file, *gnre);
            m.fields[Field::Genre] =
                (n >= 1 && n <= kGenreCount) ? GenreNameOf(n - 1) : std::string();
            m.genreFromNumber = true;
        }
    }
    // Such items TagLib holds that the walk of the ilst did not name.
    for (const auto& [key, item] : items) {
        if (IsSyncedLyricsKey(key) &&
            std::find(m.syncedKeys.begin(), m.syncedKeys.end(), key) == m.syncedKeys.end())
            m.syncedKeys.push_back(key);
    }
    if (!m.syncedKeys.empty())
        m.synced = JoinValues(items.find(m.syncedKeys.front())->second.toStringList());
    return m;
}

StreamFacts Facts(TagLib::MP4::File& file, const Metadata& m) {
    StreamFacts f;
    f.encoder = m.fields[Field::EncodedBy];
    if (const TagLib::MP4::Properties* p = file.audioProperties()) {
        f.lengthMs = p->lengthInMilliseconds();
        f.bitrate = p->bitrate();
        f.sampleRate = p->sampleRate();
        f.channels = p->channels();
        switch (p->codec()) {
            case TagLib::MP4::Properties::AAC:
                f.codec = "AAC";
                break;
            case TagLib::MP4::Properties::ALAC:
                f.codec = "ALAC";
                break;
            default:
                f.codec = "Unknown";
                break;
        }
    }
    return f;
}

void SetText(TagLib::MP4::Tag& tag, const TagLib::String& key, const std::string& value) {
    if (value.empty())
        tag.removeItem(key);
    else
        tag.setItem(key, TagLib::MP4::Item(TagLib::StringList(FromUtf8(value))));
}

// Puts into `tag` every value of `want` that differs from `had`; returns the
// keys of the items that changed so.
std::set<TagLib::String> Apply(TagLib::MP4::Tag& tag, const Metadata& want, const Metadata& had) {
    std::set<TagLib::String> touched;
    for (const auto& k : kItemKeys) {
        if (k.field == Field::Track)
            continue;
        const Field f = k.field;
        const TagLib::String key(k.key, TagLib::String::Latin1);
        const bool changed = want.fields[f] != had.fields[f];
        if (changed) {
            touched.insert(key);
            // A new genre replaces a numeric one too.
            if (f == Field::Genre)
                touched.insert("gnre");
        }
        // Where the old items cannot be kept, TagLib's text for a numeric
        // genre would stand: ours is written instead.
        if (changed || (f == Field::Genre && had.genreFromNumber))
            SetText(tag, key, want.fields[f]);
    }
    if (want.fields[Field::Track] != had.fields[Field::Track]) {
        touched.insert("trkn");
        // Setters only store texts that parse, so this cannot fail here.
        const auto track = ParseTrack(want.fields[Field::Track]).value_or(std::pair{0, 0});
        if (track.first == 0 && track.second == 0)
            tag.removeItem("trkn");
        else
            tag.setItem("trkn", TagLib::MP4::Item(track.first, track.second));
    }
    if (want.tempo != had.tempo) {
        touched.insert("tmpo");
        if (want.tempo == 0)
            tag.removeItem("tmpo");
        else
            tag.setItem("tmpo", TagLib::MP4::Item(want.tempo));
    }
    if (want.synced != had.synced) {
        // One item, under the spelling of the first one the file holds; the
        // others go.
        for (const TagLib::String& key : had.syncedKeys) {
            touched.insert(key);
            tag.removeItem(key);
        }
        const TagLib::String key =
            had.syncedKeys.empty() ? TagLib::String(kSyncedLyricsKey) : had.syncedKeys.front();
        touched.insert(key);
        SetText(tag, key, want.synced);
    }
    if (want.covers != had.covers) {
        touched.insert("covr");
        if (want.covers.empty()) {
            tag.removeItem("covr");
        } else {
            TagLib::MP4::CoverArtList list;
            for (const auto& c : want.covers)
                list.append(TagLib::MP4::CoverArt(c.format, c.data));
            tag.setItem("covr", TagLib::MP4::Item(list));
        }
    }
    return touched;
}

bool SameMetadata(const Metadata& a, const Metadata& b) {
    return a.fields == b.fields && a.tempo == b.tempo && a.covers == b.covers &&
           a.synced == b.synced;
}

bool Load(State& s, const std::string& fileName) {
    s.fileName = fileName;
    s.loaded = false;
    s.read = s.current = Metadata{};
    s.facts = StreamFacts{};
    s.problem.clear();
    s.damage.clear();

    auto probe = File::Open(fileName, File::Mode::Read, &s.problem);
    if (!probe)
        return false;
    const std::int64_t size = probe->Size();
    NoteFileRead(probe->Descriptor(), fileName);  // what a save checks against
    if (size < 0) {
        s.problem = probe->LastError();
        return false;
    }
    // TagLib sees only a tree that holds together: the file's own, or the
    // part of a damaged one that does, read from memory.
    std::unique_ptr<TagLib::IOStream> stream;
    if (const auto tree = mp4atoms::CheckTree(*probe); !tree.ok) {
        s.problem = tree.reason;
        const auto salvage = mp4atoms::SalvageTree(*probe);
        if (!salvage)
            return false;
        s.damage = tree.reason;
        stream = std::make_unique<TagLib::ByteVectorStream>(
            TagLib::ByteVector(reinterpret_cast<const char*>(salvage->data()),
                               static_cast<unsigned>(salvage->size())));
    } else {
        auto onDisk = std::make_unique<TagLib::FileStream>(fileName.c_str(), true);
        if (!onDisk->isOpen()) {
            s.problem = "the file cannot be opened";
            return false;
        }
        stream = std::move(onDisk);
    }
    probe->Close();
    s.problem.clear();

    TagLib::MP4::File file(stream.get(), true);
    if (!file.isValid()) {
        s.problem = s.damage.empty() ? "the MP4 metadata cannot be read" : s.damage;
        s.damage.clear();
        return false;
    }
    s.read = Extract(file);
    s.current = s.read;
    s.facts = Facts(file, s.read);
    s.facts.fileLength = size;
    s.loaded = true;
    return true;
}

// A save that moves the media data makes TagLib rewrite every chunk-offset
// table, trusting each table's entry count: a count larger than its atom has
// it write billions of entries. Files with such a table are not saved.
bool ChunkOffsetTablesFit(TagLib::MP4::File& file) {
    TagLib::MP4::Atoms atoms(&file);
    TagLib::MP4::Atom* moov = atoms.find("moov");
    if (!moov)
        return true;
    const std::pair<const char*, long> tables[] = {{"stco", 4}, {"co64", 8}};
    for (const auto& [name, entrySize] : tables) {
        for (TagLib::MP4::Atom* atom : moov->findall(name, true)) {
            // Header (8), version and flags (4), entry count (4).
            if (atom->length < 16)
                return false;
            file.seek(atom->offset + 12);
            const unsigned count = file.readBlock(4).toUInt();
            if (count > static_cast<unsigned long>((atom->length - 16) / entrySize))
                return false;
        }
    }
    return true;
}

// An atom found in a byte buffer: where it starts and ends, header included.
struct Span {
    unsigned begin = 0;
    unsigned end = 0;
};

// The child atom `name` of the container body [from, to), plain 32-bit sizes
// only; every atom passed over must lie inside the body.
std::optional<Span> FindChild(const TagLib::ByteVector& d, unsigned from, unsigned to,
                              const TagLib::ByteVector& name) {
    for (unsigned pos = from; pos <= to && to - pos >= 8;) {
        const unsigned size = d.toUInt(pos, true);
        if (size < 8 || size > to - pos)
            return std::nullopt;
        if (d.mid(pos + 4, 4) == name)
            return Span{pos, pos + size};
        pos += size;
    }
    return std::nullopt;
}

// One item of an ilst as stored: its key as TagLib names it, and its bytes.
struct RawItem {
    TagLib::String key;
    TagLib::ByteVector bytes;
};

// The ilst of a whole file, its items, and the free atom right behind it
// (empty, begin == end, when there is none).
struct IlstPlace {
    Span ilst;
    Span free;
    std::vector<RawItem> items;
};

// "----:mean:name", as TagLib keys a free-form item; empty when malformed.
TagLib::String FreeFormKey(const TagLib::ByteVector& atom) {
    TagLib::String key = "----";
    for (const char* part : {"mean", "name"}) {
        // Each holds a version and flags before its text.
        const auto child = FindChild(atom, 8, atom.size(), part);
        if (!child || child->end - child->begin < 12)
            return {};
        key += ":";
        key += TagLib::String(atom.mid(child->begin + 12, child->end - child->begin - 12),
                              TagLib::String::UTF8);
    }
    return key;
}

std::optional<IlstPlace> FindIlst(const TagLib::ByteVector& d) {
    const auto moov = FindChild(d, 0, d.size(), "moov");
    const auto udta = moov ? FindChild(d, moov->begin + 8, moov->end, "udta") : std::nullopt;
    const auto meta = udta ? FindChild(d, udta->begin + 8, udta->end, "meta") : std::nullopt;
    // "meta" has a version and flags before its children.
    const auto ilst = meta && meta->end - meta->begin >= 12
                          ? FindChild(d, meta->begin + 12, meta->end, "ilst")
                          : std::nullopt;
    if (!ilst)
        return std::nullopt;
    IlstPlace p{*ilst, {ilst->end, ilst->end}, {}};
    if (const auto next = FindChild(d, ilst->end, meta->end, "free");
        next && next->begin == ilst->end)
        p.free = *next;
    for (unsigned pos = ilst->begin + 8; pos < ilst->end;) {
        const auto item = FindChild(d, pos, ilst->end, d.mid(pos + 4, 4));
        if (!item || item->begin != pos)
            return std::nullopt;
        RawItem raw{{}, d.mid(item->begin, item->end - item->begin)};
        raw.key = raw.bytes.mid(4, 4) == "----"
                      ? FreeFormKey(raw.bytes)
                      : TagLib::String(raw.bytes.mid(4, 4), TagLib::String::Latin1);
        if (raw.key.isEmpty())
            return std::nullopt;
        p.items.push_back(std::move(raw));
        pos = item->end;
    }
    return p;
}

// The ilst content to write: each item the save did not change as the file
// held it, in its place; a changed one as TagLib rendered it, where the old
// one stood or, when new, at the end. TagLib 1.x renders every item again
// from what it understood: a numeric genre becomes text, items of a type it
// does not expect are dropped.
TagLib::ByteVector MergedItems(const std::vector<RawItem>& old, const std::vector<RawItem>& now,
                               const std::set<TagLib::String>& touched) {
    TagLib::ByteVector out;
    std::set<TagLib::String> placed;
    const auto put = [&](const TagLib::String& key) {
        if (!placed.insert(key).second)
            return;
        for (const RawItem& item : now)
            if (item.key == key)
                out.append(item.bytes);
    };
    for (const RawItem& item : old) {
        if (touched.count(item.key) == 0)
            out.append(item.bytes);
        else
            put(item.key);
    }
    for (const RawItem& item : now)
        if (touched.count(item.key) != 0)
            put(item.key);
    return out;
}

// Puts `items` in as the content of the ilst at `p`; the free atom behind it
// takes up the difference, so nothing else in the file moves. False, with `d`
// unchanged, when there is not that much room.
bool PutIlst(TagLib::ByteVector& d, const IlstPlace& p, const TagLib::ByteVector& items) {
    const unsigned room = p.free.end - p.ilst.begin;
    const unsigned size = 8 + items.size();
    if (size > room || (room > size && room - size < 8))
        return false;
    TagLib::ByteVector out = d.mid(0, p.ilst.begin);
    out.append(TagLib::ByteVector::fromUInt(size, true));
    out.append(TagLib::ByteVector("ilst", 4));
    out.append(items);
    if (room > size) {
        out.append(TagLib::ByteVector::fromUInt(room - size, true));
        out.append(TagLib::ByteVector("free", 4));
        out.append(TagLib::ByteVector(room - size - 8, '\0'));
    }
    out.append(d.mid(p.free.end));
    d = out;
    return true;
}

// After TagLib's save into `stream`, puts back every item that `touched`
// does not name as `old` held it. When TagLib left too little room, it saves
// once more with a placeholder item of the missing size, which is not kept.
// Where the ilst cannot be walked, TagLib's rendering stays.
void KeepUntouchedItems(TagLib::ByteVectorStream& stream, const IlstPlace& old,
                        const std::set<TagLib::String>& touched) {
    for (int pass = 0; pass < 2; ++pass) {
        const auto now = FindIlst(*stream.data());
        if (!now)
            return;
        const TagLib::ByteVector items = MergedItems(old.items, now->items, touched);
        if (PutIlst(*stream.data(), *now, items) || pass == 1)
            return;
        const unsigned room = now->free.end - now->ilst.begin;
        const unsigned size = 8 + items.size();
        const unsigned missing = (size > room ? size - room : 0) + 8;
        stream.seek(0);
        TagLib::MP4::File file(&stream, true);
        if (!file.isValid() || !file.tag())
            return;
        file.tag()->setItem("----:org.sondrel:room",
                            TagLib::MP4::Item(TagLib::StringList(TagLib::String(
                                std::string(missing, ' '), TagLib::String::Latin1))));
        if (!file.save())
            return;
    }
}

// What the file is to hold after a save: `had` (the file as it is now) with
// every value that `want` changes from what was read. Only the caller's own
// edits go in; what another program changed since the read stays.
Metadata Merge(const Metadata& had, const Metadata& read, const Metadata& want) {
    Metadata out = had;
    for (const auto& k : kItemKeys) {
        if (want.fields[k.field] != read.fields[k.field])
            out.fields[k.field] = want.fields[k.field];
    }
    if (want.tempo != read.tempo)
        out.tempo = want.tempo;
    if (want.covers != read.covers)
        out.covers = want.covers;
    if (want.synced != read.synced)
        out.synced = want.synced;
    return out;
}

// Rewrites the file of `s` with the edits of `want`. The whole file is
// edited in memory, read back and compared before it replaces the original.
bool Commit(State& s, const Metadata& want) {
    if (!s.loaded) {
        s.problem = "no MP4 metadata was read from the file";
        return false;
    }
    if (!s.damage.empty()) {
        s.problem = "the file is damaged (" + s.damage + ")";
        return false;
    }
    const std::string path = s.fileName;

    auto in = File::Open(path, File::Mode::Read, &s.problem);
    if (!in)
        return false;
    const std::int64_t size = in->Size();
    if (size < 0) {
        s.problem = in->LastError();
        return false;
    }
    if (size > kMaxFileBytes) {
        s.problem = "the file is larger than " + std::to_string(kMaxFileBytes) + " bytes";
        return false;
    }
    TagLib::ByteVector content(static_cast<unsigned>(size), '\0');
    if (!in->ReadInto(0, reinterpret_cast<std::uint8_t*>(content.data()),
                      static_cast<std::size_t>(size))) {
        s.problem = in->LastError();
        return false;
    }
    // The edit is merged into these bytes, so they are what the save replaces.
    NoteFileRead(in->Descriptor(), path);
    in->Close();

    // The file may have been cut or changed since the read: TagLib's save
    // moves bytes by the sizes it finds.
    if (const auto tree = mp4atoms::CheckTree(MemorySource(
            ByteView(reinterpret_cast<const std::uint8_t*>(content.data()), content.size())));
        !tree.ok) {
        s.problem = tree.reason;
        return false;
    }
    TagLib::ByteVectorStream stream(content);
    // The stream shares the bytes until it writes; drop our reference so
    // the edit does not need a second copy of the file.
    content = TagLib::ByteVector();

    Metadata expected;
    StreamFacts before;
    const std::optional<IlstPlace> old = FindIlst(*stream.data());
    std::set<TagLib::String> touched;
    {
        TagLib::MP4::File file(&stream, true);
        if (!file.isValid() || !file.tag()) {
            s.problem = "the MP4 metadata cannot be read";
            return false;
        }
        if (!ChunkOffsetTablesFit(file)) {
            s.problem = "a chunk offset table counts more entries than it holds";
            return false;
        }
        // The file may have been changed by someone else since it was read:
        // compare with what it holds now, not with our old copy.
        const Metadata had = Extract(file);
        before = Facts(file, had);
        expected = Merge(had, s.read, want);
        touched = Apply(*file.tag(), expected, had);
        if (!file.save()) {
            s.problem = "the new metadata cannot be put into the file";
            return false;
        }
    }
    if (old)
        KeepUntouchedItems(stream, *old, touched);
    {
        stream.seek(0);
        TagLib::MP4::File check(&stream, true);
        const Metadata got = check.isValid() ? Extract(check) : Metadata{};
        const StreamFacts after = Facts(check, got);
        if (!check.isValid() || !SameMetadata(got, expected) || after.lengthMs != before.lengthMs ||
            after.sampleRate != before.sampleRate || after.channels != before.channels) {
            s.problem = "the rewritten file did not read back as written; the file was not changed";
            return false;
        }
    }

    const TagLib::ByteVector* out = stream.data();
    const IoResult r = SafeReplace(
        path,
        [out](ReplaceWriter& w, std::string& error) {
            if (!w.Write(reinterpret_cast<const std::uint8_t*>(out->data()), out->size())) {
                error = w.LastError();
                return false;
            }
            return true;
        },
        *s.faults);
    if (!r) {
        s.problem = r.error;
        return false;
    }
    // Reading again gives the facts (file length, counts) of the new file.
    Load(s, path);
    return true;
}

std::int32_t CopyOut(std::string_view text, char* buffer, std::int32_t size) {
    if (buffer && size > 0) {
        const std::string_view part = Utf8TruncateBytes(text, static_cast<std::size_t>(size) - 1);
        std::memcpy(buffer, part.data(), part.size());
        buffer[part.size()] = '\0';
    }
    // Texts are bounded by kMaxTextBytes or by an atom inside a file below 2 GiB.
    constexpr auto kMax = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
    return static_cast<std::int32_t>(text.size() > kMax ? kMax : text.size());
}

std::int32_t GetField(const State& s, Field f, char* buffer, std::int32_t size) noexcept {
    try {
        return CopyOut(s.loaded ? std::string_view(s.current.fields[f]) : std::string_view(),
                       buffer, size);
    } catch (...) {
        return 0;
    }
}

bool SetField(State& s, Field f, const char* text) noexcept {
    try {
        if (!s.loaded || !text)
            return false;
        std::string value(text);
        if (value.size() > kMaxTextBytes || !IsValidUtf8(value))
            return false;
        if (f == Field::Track) {
            const auto track = ParseTrack(value);
            if (!track)
                return false;
            // Stored the way it reads back from the file.
            value = FormatTrack(track->first, track->second);
        }
        s.current.fields[f] = std::move(value);
        return true;
    } catch (...) {
        return false;
    }
}

std::int32_t Fact(const State& s, std::int32_t StreamFacts::*member) noexcept {
    return s.loaded ? s.facts.*member : -1;
}

std::int32_t GetFactText(const State& s, const std::string StreamFacts::*member, char* buffer,
                         std::int32_t size) noexcept {
    try {
        return CopyOut(s.loaded ? std::string_view(s.facts.*member) : std::string_view(), buffer,
                       size);
    } catch (...) {
        return 0;
    }
}

// The bytes of a picture file; nullopt with the reason in `problem`.
std::optional<std::vector<std::uint8_t>> ReadPictureFile(const std::string& path,
                                                         std::string& problem) {
    auto f = File::Open(path, File::Mode::Read, &problem);
    if (!f)
        return std::nullopt;
    const std::int64_t size = f->Size();
    if (size == 0)
        problem = "the picture file is empty";
    else if (size > kMaxPictureBytes)
        problem =
            "the picture file is larger than " + std::to_string(kMaxPictureBytes >> 20) + " MiB";
    if (size <= 0 || size > kMaxPictureBytes) {
        if (size < 0)
            problem = f->LastError();
        return std::nullopt;
    }
    auto bytes = f->ReadAt(0, static_cast<std::size_t>(size));
    if (!bytes)
        problem = f->LastError();
    return bytes;
}

TagLib::MP4::CoverArt::Format FormatOfMime(const std::string& mime) {
    if (mime == "image/jpg")
        return TagLib::MP4::CoverArt::JPEG;
    if (mime == "image/png")
        return TagLib::MP4::CoverArt::PNG;
    if (mime == "image/bmp")
        return TagLib::MP4::CoverArt::BMP;
    if (mime == "image/gif")
        return TagLib::MP4::CoverArt::GIF;
    return TagLib::MP4::CoverArt::Unknown;
}

// Writes a new file, or replaces an existing one without a window in which
// it is cut short.
bool WriteWholeFile(const std::string& path, const std::uint8_t* data, std::size_t count,
                    const IoFaults& faults, std::string& problem) {
    if (KindOfPath(path) == PathKind::Regular) {
        const IoResult r = SafeReplace(
            path,
            [&](ReplaceWriter& w, std::string& error) {
                if (!w.Write(data, count)) {
                    error = w.LastError();
                    return false;
                }
                return true;
            },
            faults);
        problem = r.error;
        return r.ok;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        problem = std::strerror(errno);
        return false;
    }
    File out = File::Adopt(fd, faults);
    if (!out.WriteAt(0, data, count) || !out.Sync()) {
        problem = out.LastError();
        out.Close();
        ::unlink(path.c_str());
        return false;
    }
    out.Close();
    return true;
}

}  // namespace

StatePtr NewState() {
    return StatePtr(new State);
}

void SetIoFaults(State& s, const IoFaults& faults) {
    s.faults = &faults;
}

bool ReadMetaData(State& s, const char* fileName) {
    try {
        if (!fileName) {
            const IoFaults* faults = s.faults;
            s = State{};
            s.faults = faults;
            return false;
        }
        return Load(s, fileName);
    } catch (...) {
        s.loaded = false;
        return false;
    }
}

std::int32_t GetFileName(const State& s, char* buffer, std::int32_t size) {
    try {
        return CopyOut(s.fileName, buffer, size);
    } catch (...) {
        return 0;
    }
}

std::int32_t GetTrack(const State& s, char* b, std::int32_t n) {
    return GetField(s, Field::Track, b, n);
}
std::int32_t GetTitle(const State& s, char* b, std::int32_t n) {
    return GetField(s, Field::Title, b, n);
}
std::int32_t GetArtist(const State& s, char* b, std::int32_t n) {
    return GetField(s, Field::Artist, b, n);
}
std::int32_t GetAlbum(const State& s, char* b, std::int32_t n) {
    return GetField(s, Field::Album, b, n);
}
std::int32_t GetYear(const State& s, char* b, std::int32_t n) {
    return GetField(s, Field::Year, b, n);
}
std::int32_t GetComment(const State& s, char* b, std::int32_t n) {
    return GetField(s, Field::Comment, b, n);
}
std::int32_t GetLyrics(const State& s, char* b, std::int32_t n) {
    return GetField(s, Field::Lyrics, b, n);
}
std::int32_t GetComposer(const State& s, char* b, std::int32_t n) {
    return GetField(s, Field::Composer, b, n);
}
std::int32_t GetOrigArtist(const State& s, char* b, std::int32_t n) {
    return GetField(s, Field::OrigArtist, b, n);
}
std::int32_t GetCopyright(const State& s, char* b, std::int32_t n) {
    return GetField(s, Field::Copyright, b, n);
}
std::int32_t GetURL(const State& s, char* b, std::int32_t n) {
    return GetField(s, Field::URL, b, n);
}
std::int32_t GetEncodedBy(const State& s, char* b, std::int32_t n) {
    return GetField(s, Field::EncodedBy, b, n);
}
std::int32_t GetGenre(const State& s, char* b, std::int32_t n) {
    return GetField(s, Field::Genre, b, n);
}
std::int32_t GetCodec(const State& s, char* b, std::int32_t n) {
    return GetFactText(s, &StreamFacts::codec, b, n);
}
std::int32_t GetEncoder(const State& s, char* b, std::int32_t n) {
    return GetFactText(s, &StreamFacts::encoder, b, n);
}
std::int32_t GetChannelMode(const State& s, char* b, std::int32_t n) {
    try {
        std::string mode;
        if (s.loaded) {
            const int c = s.facts.channels;
            mode = c == 1 ? "Mono" : c == 2 ? "Stereo" : c > 2 ? std::to_string(c) : "";
        }
        return CopyOut(mode, b, n);
    } catch (...) {
        return 0;
    }
}

bool SetTrack(State& s, const char* t) {
    return SetField(s, Field::Track, t);
}
bool SetTitle(State& s, const char* t) {
    return SetField(s, Field::Title, t);
}
bool SetArtist(State& s, const char* t) {
    return SetField(s, Field::Artist, t);
}
bool SetAlbum(State& s, const char* t) {
    return SetField(s, Field::Album, t);
}
bool SetYear(State& s, const char* t) {
    return SetField(s, Field::Year, t);
}
bool SetComment(State& s, const char* t) {
    return SetField(s, Field::Comment, t);
}
bool SetLyrics(State& s, const char* t) {
    return SetField(s, Field::Lyrics, t);
}
bool SetComposer(State& s, const char* t) {
    return SetField(s, Field::Composer, t);
}
bool SetOrigArtist(State& s, const char* t) {
    return SetField(s, Field::OrigArtist, t);
}
bool SetCopyright(State& s, const char* t) {
    return SetField(s, Field::Copyright, t);
}
bool SetURL(State& s, const char* t) {
    return SetField(s, Field::URL, t);
}
bool SetEncodedBy(State& s, const char* t) {
    return SetField(s, Field::EncodedBy, t);
}
bool SetGenre(State& s, const char* t) {
    return SetField(s, Field::Genre, t);
}

std::int32_t GetSyncedLyrics(const State& s, char* b, std::int32_t n) {
    try {
        return CopyOut(s.loaded ? std::string_view(s.current.synced) : std::string_view(), b, n);
    } catch (...) {
        return 0;
    }
}
bool SetSyncedLyrics(State& s, const char* t) {
    try {
        if (!s.loaded || !t)
            return false;
        std::string value(t);
        if (value.size() > kMaxTextBytes || !IsValidUtf8(value))
            return false;
        s.current.synced = std::move(value);
        return true;
    } catch (...) {
        return false;
    }
}
const std::vector<std::string>& GetOtherItems(const State& s) {
    return s.read.otherKeys;
}

std::int32_t GetFileLength(const State& s) {
    if (!s.loaded || s.facts.fileLength < 0 || s.facts.fileLength > kMaxFileBytes)
        return -1;
    return static_cast<std::int32_t>(s.facts.fileLength);
}
std::int32_t GetFrequency(const State& s) {
    return Fact(s, &StreamFacts::sampleRate);
}
std::int32_t GetBitrate(const State& s) {
    return Fact(s, &StreamFacts::bitrate);
}
std::int32_t GetBMP(const State& s) {
    return s.loaded ? s.current.tempo : -1;
}
std::int32_t GetImagesCount(const State& s) {
    return s.loaded ? static_cast<std::int32_t>(s.current.covers.size()) : -1;
}
double GetDuration(const State& s) {
    return s.loaded ? s.facts.lengthMs / 1000.0 : -1.0;
}

bool SetBMP(State& s, std::int32_t value) {
    if (value < 0)
        return true;
    if (!s.loaded || value > kMaxTempo)
        return false;
    s.current.tempo = value;
    return true;
}

const std::string& GetProblem(const State& s) {
    return s.problem;
}

const std::string& GetDamage(const State& s) {
    return s.damage;
}

bool SaveMetaData(State& s) {
    try {
        s.problem.clear();
        return Commit(s, s.current);
    } catch (...) {
        s.problem = "out of memory";
        return false;
    }
}

bool SaveImageToFile(const State& s, std::int32_t index, const char* fileName) {
    try {
        if (!s.loaded || !fileName || index < 0 ||
            static_cast<std::size_t>(index) >= s.current.covers.size())
            return false;
        s.problem.clear();
        const TagLib::ByteVector& data = s.current.covers[static_cast<std::size_t>(index)].data;
        return WriteWholeFile(fileName, reinterpret_cast<const std::uint8_t*>(data.data()),
                              data.size(), *s.faults, s.problem);
    } catch (...) {
        s.problem = "out of memory";
        return false;
    }
}

bool DeleteImage(State& s, std::int32_t index) {
    try {
        s.problem.clear();
        if (!s.loaded) {
            s.problem = "no MP4 metadata was read from the file";
            return false;
        }
        if (index < 0 || static_cast<std::size_t>(index) >= s.current.covers.size()) {
            s.problem = "there is no picture " + std::to_string(index) + " among " +
                        std::to_string(s.current.covers.size());
            return false;
        }
        Metadata want = s.current;
        want.covers.erase(want.covers.begin() + index);
        return Commit(s, want);
    } catch (...) {
        s.problem = "out of memory";
        return false;
    }
}

bool AddImage(State& s, std::int32_t position, const char* fileName) {
    try {
        s.problem.clear();
        if (!s.loaded || !fileName) {
            s.problem = "no MP4 metadata was read from the file";
            return false;
        }
        if (position < 0 || static_cast<std::size_t>(position) > s.current.covers.size()) {
            s.problem = "there is no position " + std::to_string(position) + " among " +
                        std::to_string(s.current.covers.size()) + " pictures";
            return false;
        }
        const auto bytes = ReadPictureFile(fileName, s.problem);
        if (!bytes)
            return false;
        Metadata want = s.current;
        Cover cover{FormatOfMime(MimeByExtension(fileName, *bytes)),
                    TagLib::ByteVector(reinterpret_cast<const char*>(bytes->data()),
                                       static_cast<unsigned>(bytes->size()))};
        want.covers.insert(want.covers.begin() + position, std::move(cover));
        return Commit(s, want);
    } catch (...) {
        s.problem = "out of memory";
        return false;
    }
}

std::int64_t GetImageSize(const State& s, std::int32_t index) {
    if (!s.loaded || index < 0 || static_cast<std::size_t>(index) >= s.current.covers.size())
        return -1;
    return static_cast<std::int64_t>(s.current.covers[static_cast<std::size_t>(index)].data.size());
}

const char* GetMIME(const State& s, std::int32_t index) {
    if (!s.loaded || index < 0 || static_cast<std::size_t>(index) >= s.current.covers.size())
        return "";
    switch (s.current.covers[static_cast<std::size_t>(index)].format) {
        case TagLib::MP4::CoverArt::JPEG:
            return "image/jpg";
        case TagLib::MP4::CoverArt::PNG:
            return "image/png";
        case TagLib::MP4::CoverArt::BMP:
            return "image/bmp";
        case TagLib::MP4::CoverArt::GIF:
            return "image/gif";
        default:
            return "application/octet-stream";
    }
}

}  // namespace sondrel::m4atag
