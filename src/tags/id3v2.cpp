// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/id3v2.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <exception>
#include <filesystem>
#include <optional>
#include <string_view>

#include "tags/file_io.h"
#include "tags/file_snapshot.h"
#include "tags/id3v2_frames.h"
#include "tags/region_write.h"

namespace sondrel {
namespace {

using id3v2::Bytes;
using id3v2::ByteView;
using id3v2::FrameContent;
using id3v2::RawFrame;

// Text frames and the field each one fills. Several frames or values of one
// field are shown joined; a save replaces all of them when the field changed.
struct TextRoute {
    std::string_view id;
    Field field;
};
constexpr TextRoute kTextRoutes[] = {
    {"TRCK", Field::Track},     {"TIT2", Field::Title},      {"TPE1", Field::Artist},
    {"TALB", Field::Album},     {"TYER", Field::Year},       {"TCON", Field::Genre},
    {"TCOM", Field::Composer},  {"TOPE", Field::OrigArtist}, {"TCOP", Field::Copyright},
    {"TENC", Field::EncodedBy},
};

// The order in which a save writes fields that the old tag did not hold.
constexpr Field kWriteOrder[] = {
    Field::Lyrics,    Field::Track, Field::Title,     Field::Artist,   Field::Album,
    Field::Year,      Field::Genre, Field::Comment,   Field::Composer, Field::OrigArtist,
    Field::Copyright, Field::URL,   Field::EncodedBy,
};

const TextRoute* TextRouteOf(std::string_view id23) {
    for (const auto& r : kTextRoutes) {
        if (id3v2::SameId(r.id, id23))
            return &r;
    }
    return nullptr;
}

// Frames of which a tag may hold several, told apart by a description.
// Every comment without a description is the field's (a tag may repeat it
// in other languages, and players pick any of them); of lyrics and links
// only the first is. Where there is none, a comment falls back on the first
// described one that a user wrote, as other readers show it: iTunes keeps
// machine data (iTunNORM, iTunSMPB) in described comments, which belong to
// it alone. A URL field falls back on the first described link.
enum class Fallback : std::uint8_t { None, FirstDescribed, FirstUserText };
struct DescribedKind {
    std::string_view id;
    std::string (*value)(const FrameContent&);
    bool everyPlain;
    Fallback fallback;
};
constexpr DescribedKind kComment{"COMM", [](const FrameContent& c) { return c.Text(); }, true,
                                 Fallback::FirstUserText};
constexpr DescribedKind kLyrics{"USLT", [](const FrameContent& c) { return c.Text(); }, false,
                                Fallback::None};
constexpr DescribedKind kUserUrl{"WXXX", [](const FrameContent& c) { return c.url; }, false,
                                 Fallback::FirstDescribed};
constexpr const DescribedKind* kDescribedKinds[] = {&kComment, &kLyrics, &kUserUrl};

bool IsMachineData(std::string_view description) {
    return description.starts_with("iTun");
}

std::optional<FrameContent> FrameFields(const RawFrame& frame, ByteView data,
                                        std::string_view codePage) {
    const auto content = id3v2::ContentOf(frame, data);
    const auto layout = id3v2::LayoutOf(frame);
    if (!content || layout.empty())
        return std::nullopt;
    return id3v2::ReadFields(layout, *content, codePage);
}

std::optional<FrameContent> FrameFields(const RawFrame& frame, std::string_view codePage) {
    return FrameFields(frame, frame.Data, codePage);
}

// The kinds of frame whose bodies a read looks into: the field frames with
// their stand-ins, and the frames the unshown list names by description.
bool ReadsContent(std::string_view id23) {
    return TextRouteOf(id23) || id23 == "TPE2" || id23 == "TDRC" || id23 == "TDAT" ||
           id23 == "TIME" || id23 == "COMM" || id23 == "USLT" || id23 == "WXXX" || id23 == "TXXX";
}

// The bodies of `frames` that a read looks into, each read once; nullopt
// for the other frames and for one that cannot be read.
using Contents = std::vector<std::optional<FrameContent>>;
Contents ContentsOf(const std::vector<RawFrame>& frames, const std::vector<std::string>& ids,
                    std::string_view codePage) {
    Contents out(frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (ReadsContent(ids[i]))
            out[i] = FrameFields(frames[i], codePage);
    }
    return out;
}

// The frames a field owns, in file order, with the value each one shows.
struct Owned {
    std::vector<std::pair<std::size_t, std::string>> frames;
    const std::string* ValueAt(std::size_t index) const {
        for (const auto& [i, value] : frames) {
            if (i == index)
                return &value;
        }
        return nullptr;
    }
};

Owned OwnedInstances(const std::vector<std::string>& ids, const Contents& contents,
                     const DescribedKind& kind) {
    Owned plain;
    std::optional<std::pair<std::size_t, std::string>> described;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (!contents[i] || !id3v2::SameId(ids[i], kind.id))
            continue;
        const std::string& description = contents[i]->description;
        if (description.empty()) {
            plain.frames.emplace_back(i, kind.value(*contents[i]));
            if (!kind.everyPlain)
                return plain;
            continue;
        }
        const bool standsIn =
            kind.fallback == Fallback::FirstDescribed ||
            (kind.fallback == Fallback::FirstUserText && !IsMachineData(description));
        if (!described && standsIn)
            described.emplace(i, kind.value(*contents[i]));
    }
    if (plain.frames.empty() && described)
        plain.frames.push_back(std::move(*described));
    return plain;
}

bool AllDigits(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A 2.3 tag keeps the day and the time of the recording beside its year
// (TDAT "DDMM", TIME "HHMM"): with one year of four digits they show as one
// recording time, as 2.4 holds it ("2004-03-05T10:20"), and a changed year
// replaces them. Anything else about them leaves them unshown.
struct Date23 {
    std::string suffix;  // "-03-05T10:20"
    std::vector<std::size_t> frames;
};

std::optional<Date23> DateOf23(const std::vector<std::string>& ids, const Contents& contents) {
    std::optional<std::size_t> year, date, time;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        std::optional<std::size_t>* slot = ids[i] == "TYER"   ? &year
                                           : ids[i] == "TDAT" ? &date
                                           : ids[i] == "TIME" ? &time
                                                              : nullptr;
        if (!slot)
            continue;
        if (*slot || !contents[i] || contents[i]->text.size() != 1)
            return std::nullopt;
        *slot = i;
    }
    const auto value = [&contents](std::optional<std::size_t> i) -> std::string_view {
        return contents[*i]->text[0];
    };
    const auto pair = [](std::string_view v, std::size_t at, int low, int high) {
        const int n = (v[at] - '0') * 10 + (v[at + 1] - '0');
        return n >= low && n <= high;
    };
    if (!year || !date || value(year).size() != 4 || !AllDigits(value(year)))
        return std::nullopt;
    const std::string_view d = value(date);
    if (d.size() != 4 || !AllDigits(d) || !pair(d, 0, 1, 31) || !pair(d, 2, 1, 12))
        return std::nullopt;
    Date23 out{"-" + std::string(d.substr(2, 2)) + "-" + std::string(d.substr(0, 2)), {*date}};
    if (time) {
        const std::string_view t = value(time);
        if (t.size() != 4 || !AllDigits(t) || !pair(t, 0, 0, 23) || !pair(t, 2, 0, 59))
            return std::nullopt;
        out.suffix += "T" + std::string(t.substr(0, 2)) + ":" + std::string(t.substr(2, 2));
        out.frames.push_back(*time);
    }
    return out;
}

// The frames of a tag that no field shows, named as the list of other
// items names them: the identifier, with the description of a COMM, USLT
// or WXXX frame that has one and of every TXXX frame. Every copy of a field's
// frame and every picture counts as shown; TPE2 is shown when no TPE1 is
// present, and TDRC when no TYER is; TDAT and TIME when the year shows them.
// `owners` holds the frames each of kDescribedKinds owns.
using Owners = std::array<const Owned*, std::size(kDescribedKinds)>;
std::vector<std::string> UnshownFrames(const std::vector<std::string>& ids,
                                       const Contents& contents, const Owners& owners,
                                       const std::optional<Date23>& date) {
    bool haveArtist = false;
    bool haveYear = false;
    for (const auto& id : ids) {
        haveArtist |= id == "TPE1";
        haveYear |= id == "TYER";
    }
    std::vector<std::string> out;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        std::string name = ids[i];
        bool shown = TextRouteOf(name) || name == "APIC";
        if (name == "TPE2")
            shown = !haveArtist;
        if (name == "TDRC")
            shown = !haveYear;
        if (date && std::find(date->frames.begin(), date->frames.end(), i) != date->frames.end())
            shown = true;
        for (std::size_t k = 0; k < std::size(kDescribedKinds); ++k) {
            if (!id3v2::SameId(name, kDescribedKinds[k]->id))
                continue;
            shown = owners[k]->ValueAt(i) != nullptr;
            if (contents[i] && !contents[i]->description.empty())
                name += ":" + contents[i]->description;
            break;
        }
        if (name == "TXXX" && contents[i])
            name += ":" + contents[i]->description;
        if (!shown)
            out.push_back(std::move(name));
    }
    return out;
}

// The genre references of one TCON value: "(17)(52)Text" in 2.3, a bare
// "17", "RX" or "CR" as a 2.4 value; `rest` is the text behind them.
struct GenreRefs {
    std::vector<std::string> refs;
    std::string rest;
};

bool IsGenreRef(std::string_view r) {
    return r == "RX" || r == "CR" ||
           (!r.empty() && r.size() <= 3 &&
            std::all_of(r.begin(), r.end(), [](char c) { return c >= '0' && c <= '9'; }));
}

GenreRefs ParseGenre(std::string_view v) {
    GenreRefs out;
    if (IsGenreRef(v)) {
        out.refs.emplace_back(v);
        return out;
    }
    std::size_t pos = 0;
    while (pos < v.size() && v[pos] == '(') {
        const std::size_t close = v.find(')', pos);
        if (close == std::string_view::npos || !IsGenreRef(v.substr(pos + 1, close - pos - 1)))
            break;
        out.refs.emplace_back(v.substr(pos + 1, close - pos - 1));
        pos = close + 1;
    }
    out.rest = std::string(v.substr(pos));
    return out;
}

std::string GenreRefName(const std::string& ref) {
    if (ref == "RX")
        return "Remix";
    if (ref == "CR")
        return "Cover";
    const int n = std::stoi(ref);
    return n < static_cast<int>(kGenreCount) ? GenreNameOf(static_cast<unsigned>(n)) : ref;
}

// The values a TCON frame shows. One plain genre, with or without its number,
// stays as stored for the genre rule ("(17)Rock", a 2.4 "17" as "(17)");
// lists and the remix and cover references become names.
std::vector<std::string> GenreValues(const std::vector<std::string>& stored) {
    std::vector<GenreRefs> parsed;
    std::size_t count = 0;
    bool special = false;
    for (const auto& v : stored) {
        parsed.push_back(ParseGenre(v));
        const auto& p = parsed.back();
        count += std::max<std::size_t>(p.refs.size(), p.rest.empty() ? 0 : 1);
        for (const auto& r : p.refs)
            special |= r == "RX" || r == "CR";
    }
    if (count <= 1 && !special) {
        if (stored.size() == 1 && parsed[0].refs.size() == 1 && stored[0] == parsed[0].refs[0])
            return {"(" + stored[0] + ")"};
        return stored;
    }
    std::vector<std::string> out;
    for (const auto& p : parsed) {
        for (const auto& r : p.refs)
            out.push_back(GenreRefName(r));
        // "(17)Rock" names its genre twice; a different text refines it.
        if (!p.rest.empty() && (out.empty() || out.back() != p.rest))
            out.push_back(p.rest);
    }
    return out;
}

// A 2.4 recording time (TDRC) or original release time (TDOR) as the 2.3
// frames that hold the same: TYER "yyyy", TDAT "DDMM" and TIME "HHMM", or
// TORY "yyyy" (ID3v2.3 4.2.1). Only what they hold fits: a month without a
// day, an hour without minutes, seconds other than ":00" or any other text
// do not, and give nullopt.
std::optional<Bytes> DateFrames23(std::string_view id, std::string_view stamp) {
    const bool recording = id == "TDRC";
    // Seconds of a whole minute are what a TIME frame means.
    if (recording && stamp.size() == 19 && stamp.substr(16) == ":00")
        stamp = stamp.substr(0, 16);
    const std::size_t n = stamp.size();
    const bool shape = n == 4 || (recording && (n == 10 || n == 16));
    if (!shape || !AllDigits(stamp.substr(0, 4)))
        return std::nullopt;
    std::string date, time;
    if (n >= 10) {
        if (stamp[4] != '-' || stamp[7] != '-' || !AllDigits(stamp.substr(5, 2)) ||
            !AllDigits(stamp.substr(8, 2)))
            return std::nullopt;
        date = std::string(stamp.substr(8, 2)) + std::string(stamp.substr(5, 2));
    }
    if (n == 16) {
        if (stamp[10] != 'T' || stamp[13] != ':' || !AllDigits(stamp.substr(11, 2)) ||
            !AllDigits(stamp.substr(14, 2)))
            return std::nullopt;
        time = std::string(stamp.substr(11, 2)) + std::string(stamp.substr(14, 2));
    }
    Bytes out;
    const auto add = [&out](std::string_view frameId, const std::string& value) {
        FrameContent c;
        c.text = {value};
        const Bytes frame =
            id3v2::RenderFrame23(frameId, id3v2::WriteFields(id3v2::LayoutFor("TIT2"), c));
        out.insert(out.end(), frame.begin(), frame.end());
    };
    add(recording ? "TYER" : "TORY", std::string(stamp.substr(0, 4)));
    if (!date.empty())
        add("TDAT", date);
    if (!time.empty())
        add("TIME", time);
    return out;
}

// The 2.3 frames of a kept 2.4 TDRC or TDOR frame; nullopt for any other
// frame and for a time 2.3 cannot hold.
std::optional<Bytes> KeptDateFrames23(const RawFrame& frame,
                                      const std::optional<FrameContent>& content) {
    if (frame.Major != 4 || (frame.Id != "TDRC" && frame.Id != "TDOR") || !content ||
        content->text.size() != 1)
        return std::nullopt;
    return DateFrames23(frame.Id, content->text[0]);
}

// Whether a frame kept unchanged can be written into a 2.3 tag without
// losing anything: 2.3 has no value separator, no UTF-8 in synchronised
// lyrics read by us, and keeps CHAP/CTOC sub-frames in its own layout.
bool Carries23Losslessly(const RawFrame& frame, const std::optional<FrameContent>& content) {
    if (frame.Major < 4)
        return true;
    const std::string id = frame.Id23();
    if (id == "CHAP" || id == "CTOC")
        return false;
    // 2.3 readers look for the year in TYER, not in the 2.4 time frames.
    if (id == "TDRC" || id == "TDOR")
        return KeptDateFrames23(frame, content).has_value();
    if (id == "SYLT") {
        const auto data = frame.Content();
        return data && !data->empty() &&
               ((*data)[0] == id3v2::kEncLatin1 || (*data)[0] == id3v2::kEncUtf16Bom);
    }
    if (content && id.size() == 4 && id[0] == 'T' && content->text.size() > 1) {
        if (id != "TCON")
            return false;
        // A list of genre numbers has a 2.3 spelling: "(17)(52)".
        for (const auto& v : content->text) {
            if (!IsGenreRef(v))
                return false;
        }
    }
    return id3v2::RenderCarried23(frame).has_value();
}

// A frame kept unchanged, in the layout of the tag written.
std::optional<Bytes> RenderKeptFrame(const RawFrame& frame, std::uint8_t major,
                                     std::string_view codePage) {
    if (major == 4)
        return frame.Major == 4 ? id3v2::RenderKept(frame) : std::nullopt;
    if (auto dates = KeptDateFrames23(frame, FrameFields(frame, codePage)))
        return dates;
    if (frame.Major == 4 && frame.Id == "TCON") {
        if (const auto c = FrameFields(frame, codePage); c && c->text.size() > 1) {
            std::string refs;
            for (const auto& v : c->text)
                refs += "(" + v + ")";
            FrameContent one;
            one.text = {refs};
            return id3v2::RenderFrame23("TCON", id3v2::WriteFields(id3v2::LayoutFor("TCON"), one));
        }
    }
    return id3v2::RenderCarried23(frame);
}

// What the file holds at the moment of a save or removal. The tag is looked
// at again rather than trusted from the last read, so a file changed in
// between is never overwritten blindly.
struct OldTag {
    bool present = false;
    id3v2::Header header;
    id3v2::ParsedBody body;
    std::int64_t keepFrom = 0;  // first byte that a rewrite keeps after the new tag
};

std::optional<OldTag> InspectFile(const File& file, std::int64_t fileSize) {
    OldTag old;
    const auto head = file.ReadUpTo(0, id3v2::kHeaderSize);
    if (!head)
        return std::nullopt;
    const auto header = id3v2::ParseHeader(*head);
    if (!header)
        return old;
    std::int64_t regionEnd = 10 + std::int64_t{header->BodySize};
    // A declared size past the end of the file is not a tag we can stand on:
    // keep every byte behind the new tag.
    if (regionEnd > fileSize)
        return old;
    // The footer flag alone is not enough: without "3DI" behind the tag the
    // next ten bytes are audio.
    if (header->HasFooter() && fileSize - regionEnd >= 10) {
        const auto mark = file.ReadAt(regionEnd, 3);
        if (!mark)
            return std::nullopt;
        if ((*mark)[0] == '3' && (*mark)[1] == 'D' && (*mark)[2] == 'I')
            regionEnd += 10;
    }
    const auto body = file.ReadAt(10, header->BodySize);
    if (!body)
        return std::nullopt;
    old.present = true;
    old.header = *header;
    old.body = id3v2::ParseBody(*header, *body);
    // Audio inside a tag declared too large stays behind the new tag. A tag
    // whose walk broke off (a frame size past the tag's end) gives no such
    // hint: the declared size is then the only end there is.
    old.keepFrom = old.body.TailIsPadding || !old.body.Complete
                       ? regionEnd
                       : 10 + static_cast<std::int64_t>(old.body.StoredFramesEnd);
    return old;
}

Bytes RenderFrame(std::uint8_t major, std::string_view id, const Bytes& data) {
    return major == 4 ? id3v2::RenderFrame24(id, data) : id3v2::RenderFrame23(id, data);
}

Bytes TextFrame(std::uint8_t major, std::string_view id, const std::string& value) {
    FrameContent c;
    c.encoding = id3v2::ChooseEncoding({value});
    c.text = {value};
    return RenderFrame(major, id, id3v2::WriteFields(id3v2::LayoutFor("TIT2"), c));
}

Bytes CommentFrame(std::uint8_t major, std::string_view id, const std::string& language,
                   const std::string& description, const std::string& value) {
    FrameContent c;
    c.encoding = id3v2::ChooseEncoding({value, description});
    c.language = language;
    c.description = description;
    c.text = {value};
    return RenderFrame(major, id, id3v2::WriteFields(id3v2::LayoutFor("COMM"), c));
}

Bytes UrlFrame(std::uint8_t major, const std::string& url) {
    FrameContent c;
    c.encoding = id3v2::kEncLatin1;
    c.url = url;
    return RenderFrame(major, "WXXX", id3v2::WriteFields(id3v2::LayoutFor("WXXX"), c));
}

}  // namespace

void Id3v2Tag::setFileName(const std::string& path) {
    fileName_ = path;
    ReadTag();
    FileNameChanged();
}

void Id3v2Tag::setFields(const TagFields& tag) {
    tag_ = tag;
    tag_.GenreID = ClampGenreId(tag.GenreID);
    SyncImagesCount();
    Changed();
}

void Id3v2Tag::setGenreID(long long id) {
    tag_.GenreID = ClampGenreId(id);
    Changed();
}

void Id3v2Tag::setPictures(std::vector<Picture> pictures) {
    pictures_ = std::move(pictures);
    SyncImagesCount();
}

void Id3v2Tag::ClearTag() {
    pendingSynced_.reset();
    for (const auto& r : kTextRoutes)
        tag_[r.field].clear();
    tag_.comment.clear();
    tag_.text.clear();
    tag_.URL.clear();
    tag_.GenreID = kGenreOther;
    tag_.TagSize = 0;
    pictures_.clear();
    SyncImagesCount();
}

bool Id3v2Tag::CanWrite(const std::string& fileName) const {
    // Only a test: the descriptor is closed at once and no mode changes.
    const int fd = ::open(fileName.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    // A write-protected file is replaced, not written: its folder decides.
    const std::string folder = std::filesystem::path(fileName).parent_path().string();
    return errno == EACCES && File::ModeForSave(fileName) == File::Mode::Read &&
           ::access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) == 0;
}

// ---- Reading ----

bool Id3v2Tag::ReadTag() {
    error_.clear();
    valid_ = false;
    ClearTag();
    otherFrames_.clear();
    items_.Clear();
    if (!FileExists(fileName_)) {
        error_ = kMsgNoFile;
    } else {
        try {
            const auto file = FileSnapshot::Open(fileName_);
            if (file) {
                valid_ = ReadFile(*file);
            } else {
                error_ = kMsgFileError;
            }
        } catch (const std::exception&) {
            // Out of memory or the like: the file is left as it was.
            ClearTag();
            valid_ = false;
            error_ = kMsgFileError;
        }
    }
    return FinishRead();
}

void Id3v2Tag::LoadFrom(const ByteSource& file) {
    fileName_ = file.Name();
    error_.clear();
    valid_ = false;
    ClearTag();
    otherFrames_.clear();
    items_.Clear();
    try {
        valid_ = ReadFile(file);
    } catch (const std::exception&) {
        ClearTag();
        valid_ = false;
        error_ = kMsgFileError;
    }
    FinishRead();
    FileNameChanged();
}

bool Id3v2Tag::FinishRead() {
    ApplyGenreRule();
    // The genre offered is the one after the rule.
    items_.SetRead(Field::Genre, tag_.Genre);
    readGenreId_ = tag_.GenreID;
    if (!valid_ && onError)
        onError(*this, error_);
    return valid_;
}

bool Id3v2Tag::ReadFile(const ByteSource& file) {
    const std::int64_t fileSize = file.Size();
    Bytes headStorage;
    const auto head = file.View(0,
                                static_cast<std::size_t>(std::min<std::int64_t>(
                                    fileSize, std::int64_t{id3v2::kHeaderSize})),
                                headStorage);
    if (!head) {
        error_ = kMsgFileError;
        return false;
    }
    const auto header = id3v2::ParseHeader(*head);
    if (!header) {
        error_ = kMsgNoTag;
        ClearTag();
        return false;
    }
    tag_.VersionHigh = header->Major;
    tag_.VersionLow = header->Revision;
    tag_.Flags = header->Flags;
    tag_.TagSize = static_cast<std::int32_t>(header->BodySize);
    // Checked before reading so that a lying size allocates nothing.
    if (header->BodySize > fileSize - std::int64_t{id3v2::kHeaderSize}) {
        error_ = kMsgNoTag;
        return false;
    }
    Bytes bodyStorage;
    const auto body = file.View(id3v2::kHeaderSize, header->BodySize, bodyStorage);
    if (!body) {
        error_ = kMsgFileError;
        return false;
    }
    // Pictures are taken straight from the tag's bytes, so a cover is copied
    // once, into its picture; its frame stays in the list without its data.
    // A picture frame that cannot be read is kept as it is.
    std::vector<RawFrame> frames;
    std::vector<bool> isPicture;
    id3v2::WalkFrames(*header, *body, [&](RawFrame& frame, ByteView data) {
        bool picture = false;
        if (frame.Id23() == "APIC") {
            if (auto p = id3v2::ReadPicture(frame, data, legacyCodePage_)) {
                pictures_.push_back(std::move(*p));
                picture = true;
            }
        }
        if (picture)
            frame.Data.clear();
        else if (frame.Data.empty())
            frame.Data.assign(data.begin(), data.end());
        frames.push_back(std::move(frame));
        isPicture.push_back(picture);
    });

    std::vector<std::string> ids;
    ids.reserve(frames.size());
    for (const auto& f : frames)
        ids.push_back(f.Id23());
    const Contents contents = ContentsOf(frames, ids, legacyCodePage_);
    const Owned comment = OwnedInstances(ids, contents, kComment);
    const Owned lyrics = OwnedInstances(ids, contents, kLyrics);
    const Owned url = OwnedInstances(ids, contents, kUserUrl);
    const auto date = DateOf23(ids, contents);
    otherFrames_ = UnshownFrames(ids, contents, {&comment, &lyrics, &url}, date);
    PerField<std::vector<std::string>> values;
    std::vector<std::string> albumArtists, recordingTimes;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (isPicture[i])
            continue;
        const std::string& id = ids[i];
        std::optional<Field> field;
        if (contents[i]) {
            const auto& text = contents[i]->text;
            if (const TextRoute* route = TextRouteOf(id)) {
                field = route->field;
                auto& to = values[*field];
                if (id == "TCON") {
                    const auto shown = GenreValues(text);
                    to.insert(to.end(), shown.begin(), shown.end());
                } else {
                    to.insert(to.end(), text.begin(), text.end());
                }
            } else if (id == "TDRC") {
                // The recording time stands for the year in 2.3 tags too,
                // shown as stored: a date or a free text is the year too.
                field = Field::Year;
                recordingTimes.insert(recordingTimes.end(), text.begin(), text.end());
            } else if (date && std::find(date->frames.begin(), date->frames.end(), i) !=
                                   date->frames.end()) {
                field = Field::Year;
            } else if (id == "TPE2") {
                // Shown as the artist when there is none, but owned by no
                // field: it is written as TPE1 only when the artist is edited.
                albumArtists.insert(albumArtists.end(), text.begin(), text.end());
            } else {
                const std::pair<const Owned*, Field> owners[] = {
                    {&comment, Field::Comment}, {&lyrics, Field::Lyrics}, {&url, Field::URL}};
                for (const auto& [owner, owned] : owners) {
                    if (const std::string* value = owner->ValueAt(i)) {
                        field = owned;
                        values[owned].push_back(*value);
                    }
                }
            }
        }
        items_.Add(field, std::move(frames[i]));
    }
    if (date)
        values[Field::Year].front() += date->suffix;
    if (values[Field::Year].empty())
        values[Field::Year] = std::move(recordingTimes);
    if (values[Field::Artist].empty())
        values[Field::Artist] = std::move(albumArtists);
    for (const auto& info : kFieldTable) {
        tag_[info.field] = JoinFieldValues(values[info.field]);
        items_.SetRead(info.field, tag_[info.field]);
    }
    SyncImagesCount();
    return true;
}

void Id3v2Tag::ApplyGenreRule() {
    std::string& g = tag_.Genre;
    const std::size_t close = g.find(')');
    const bool bracketed = !g.empty() && g[0] == '(' && close != std::string::npos;
    unsigned id = kGenreOther;
    if (bracketed && close > 1) {
        int number = 0;
        const char* first = g.data() + 1;
        const char* last = g.data() + close;
        if (*first == '+')
            ++first;
        const auto [ptr, ec] = std::from_chars(first, last, number);
        if (ec == std::errc() && ptr == last && first != last)
            id = static_cast<std::uint8_t>(number);  // the low 8 bits, as stored
    }
    if (id == kGenreOther && bracketed)
        g.erase(0, close + 1);
    if (id >= kGenreCount) {
        id = kGenreOther;
        g = "Other";
    }
    tag_.GenreID = static_cast<std::uint8_t>(id);
}

// ---- Writing ----

bool Id3v2Tag::WriteTag(const TailPlan& tail) {
    error_.clear();
    if (!FileExists(fileName_)) {
        error_ = kMsgNoFile;
        return false;
    }
    // The old tag is read through this descriptor; the new file replaces
    // the old one, so a write-protected file is only read here.
    auto file = File::Open(fileName_, File::ModeForSave(fileName_), nullptr, io_);
    if (!file) {
        error_ = kMsgFileError;
        return false;
    }
    PrepareGenre();
    try {
        return WriteFile(*file, tail);
    } catch (const std::exception& e) {
        Fail(kMsgFileError, std::string(e.what()), false);
        return false;
    }
}

void Id3v2Tag::PrepareGenre() {
    // A genre as read stays as it was spelt; a changed one is written with
    // its number when the table has it.
    if (tag_.GenreID == readGenreId_ && tag_.Genre == items_.Read(Field::Genre))
        return;
    if (tag_.GenreID != kGenreOther)
        tag_.Genre = "(" + std::to_string(tag_.GenreID) + ")" + GenreNameOf(tag_.GenreID);
}

std::string Id3v2Tag::LanguageFor(Field field) const {
    if (languageChosen_)
        return lyricsLanguage_.size() == 3 ? lyricsLanguage_ : "eng";
    // A rewritten comment or lyrics frame keeps the language of the one it
    // replaces.
    for (const auto& e : items_.Entries()) {
        if (e.field != field)
            continue;
        if (const auto c = FrameFields(e.item, legacyCodePage_); c && c->language.size() == 3)
            return c->language;
        break;
    }
    return "eng";
}

std::string Id3v2Tag::DescriptionFor(Field field) const {
    // A field shown from a described frame (a comment with no plain one
    // beside it) changes that frame, so it keeps its description.
    for (const auto& e : items_.Entries()) {
        if (e.field != field)
            continue;
        if (const auto c = FrameFields(e.item, legacyCodePage_))
            return c->description;
        break;
    }
    return {};
}

// The bytes behind the old tag, to the end of the file or, with a tail
// plan, to where the planned end begins, then the planned end.
bool Id3v2Tag::CopyRest(ReplaceWriter& w, const File& file, std::int64_t keepFrom,
                        std::int64_t fileSize, const TailPlan& tail) {
    if (!tail)
        return w.CopyFrom(file, keepFrom, fileSize - keepFrom);
    const auto change = tail(file);
    // Never an end reaching into the tag or past the file: that would be
    // a plan for other bytes than these.
    if (!change || change->from < keepFrom || change->from > fileSize)
        return false;
    return w.CopyFrom(file, keepFrom, change->from - keepFrom) && w.Write(change->bytes);
}

bool Id3v2Tag::WriteFile(File& file, const TailPlan& tail) {
    const std::int64_t fileSize = file.Size();
    if (fileSize < 0) {
        Fail(kMsgFileError, file.LastError(), false);
        return false;
    }
    const auto old = InspectFile(file, fileSize);
    if (!old) {
        Fail(kMsgFileError, file.LastError(), false);
        return false;
    }
    // Replacing a tag we could not walk to its end would drop what we missed.
    if (old->present && !old->body.Complete) {
        Fail(kMsgDamagedTag, false);
        return false;
    }

    // What the save writes, in order: frames kept as read and new values.
    struct Planned {
        const RawFrame* kept = nullptr;
        Field field{};
        std::string value;
    };
    std::vector<Planned> planned;
    items_.Plan(
        kWriteOrder, [this](Field f) -> const std::string& { return tag_[f]; },
        [&](const auto& entry) {
            planned.push_back({&entry.item, {}, {}});
        },
        [&](Field f, const std::string& value) {
            planned.push_back({nullptr, f, value});
        });

    // 2.3 unless a kept 2.4 frame has no lossless 2.3 form.
    std::uint8_t major = 3;
    for (const auto& p : planned) {
        if (p.kept && p.kept->Major == 4 &&
            !Carries23Losslessly(*p.kept, FrameFields(*p.kept, legacyCodePage_)))
            major = 4;
    }

    Bytes frames;
    auto add = [&frames](const Bytes& frame) {
        frames.insert(frames.end(), frame.begin(), frame.end());
    };
    for (const auto& p : pictures_)
        add(RenderFrame(major, "APIC", id3v2::PictureBody(p)));
    // The SYLT frame new synchronised lyrics replace: same language,
    // description and content type.
    auto replaced = [this](const RawFrame& frame) {
        if (!pendingSynced_ || frame.Id23() != "SYLT")
            return false;
        const auto body = frame.Content();
        const auto old = body ? id3v2::ParseSylt(*body, legacyCodePage_) : std::nullopt;
        return old && old->language == pendingSynced_->language &&
               old->description == pendingSynced_->description &&
               old->contentType == pendingSynced_->contentType;
    };
    for (const auto& p : planned) {
        if (p.kept && replaced(*p.kept))
            continue;
        if (p.kept) {
            const auto kept = RenderKeptFrame(*p.kept, major, legacyCodePage_);
            if (!kept) {
                Fail(kMsgDamagedTag, false);
                return false;
            }
            add(*kept);
        } else if (p.field == Field::Comment || p.field == Field::Lyrics) {
            add(CommentFrame(major, p.field == Field::Comment ? "COMM" : "USLT",
                             LanguageFor(p.field), DescriptionFor(p.field), p.value));
        } else if (p.field == Field::URL) {
            add(UrlFrame(major, p.value));
        } else if (p.field == Field::Year && major == 4) {
            add(TextFrame(major, "TDRC", p.value));
        } else if (const auto dates =
                       p.field == Field::Year ? DateFrames23("TDRC", p.value) : std::nullopt) {
            // A date or time goes where 2.3 readers look for each part.
            add(*dates);
        } else {
            for (const auto& r : kTextRoutes) {
                if (r.field == p.field)
                    add(TextFrame(major, r.id, p.value));
            }
        }
    }

    if (pendingSynced_ && !pendingSynced_->lines.empty())
        add(RenderFrame(major, "SYLT", id3v2::SyltBody(*pendingSynced_)));

    const std::size_t s = frames.size();
    if (s > id3v2::kMaxBodySize - id3v2::kPadding) {
        Fail(kMsgFileError, std::string("the tag is too large"), false);
        return false;
    }
    auto header = [major](std::uint32_t size) {
        return major == 4 ? id3v2::RenderHeader24(size) : id3v2::RenderHeader23(size);
    };
    const std::int64_t oldBody = old->present ? std::int64_t{old->header.BodySize} : -1;
    const bool inPlace = old->present && old->header.Major >= 3 && !old->header.HasFooter() &&
                         old->body.TailIsPadding && static_cast<std::int64_t>(s) <= oldBody &&
                         oldBody <= static_cast<std::int64_t>(s) + kInPlaceSlack;

    // A tag that fits the old one keeps its size, so readers that cached the
    // audio's offset stay right. It is written in place, with the planned
    // end in the same transaction (an undo journal makes the pair all or
    // nothing); a write-protected file, or one without a usable journal
    // folder, is rewritten whole.
    const auto bodySize =
        inPlace ? old->header.BodySize : static_cast<std::uint32_t>(s + id3v2::kPadding);
    const std::int64_t keepFrom = old->keepFrom;
    if (inPlace && File::ModeForSave(fileName_) == File::Mode::ReadWrite) {
        std::vector<Region> regions(1);
        regions[0].bytes = header(bodySize);
        regions[0].bytes.insert(regions[0].bytes.end(), frames.begin(), frames.end());
        regions[0].bytes.resize(id3v2::kHeaderSize + bodySize, 0);
        std::int64_t newSize = fileSize;
        if (tail) {
            auto change = tail(file);
            // Never an end reaching into the tag or past the file.
            if (!change || change->from < keepFrom || change->from > fileSize) {
                Fail(kMsgFileError, std::string(kMsgTailUnreadable), false);
                return false;
            }
            newSize = change->from + static_cast<std::int64_t>(change->bytes.size());
            regions.push_back({change->from, std::move(change->bytes)});
        }
        const RegionResult r = WriteRegions(file, fileName_, std::move(regions), newSize, io_);
        if (r.ok)
            return true;
        if (!r.fallBack) {
            Fail(kMsgFileError, r.error, false);
            return false;
        }
    }
    const IoResult result = SafeReplace(
        fileName_,
        [&](ReplaceWriter& w, std::string& error) {
            Bytes head = header(bodySize);
            head.insert(head.end(), frames.begin(), frames.end());
            head.resize(id3v2::kHeaderSize + bodySize, 0);
            if (w.Write(head) && CopyRest(w, file, keepFrom, fileSize, tail))
                return true;
            error = w.LastError().empty() ? kMsgTailUnreadable : w.LastError();
            return false;
        },
        io_);
    if (!result) {
        Fail(kMsgFileError, result.error, false);
        return false;
    }
    return true;
}

void Id3v2Tag::SetSyncedLyrics(id3v2::SyncedLyrics lyrics) {
    pendingSynced_ = std::move(lyrics);
    Changed();
}

std::vector<id3v2::SyncedLyrics> Id3v2Tag::SyncedLyricsRead() const {
    std::vector<id3v2::SyncedLyrics> out;
    for (const auto& entry : items_.Entries()) {
        if (entry.item.Id23() != "SYLT")
            continue;
        const auto body = entry.item.Content();
        if (auto parsed = body ? id3v2::ParseSylt(*body, legacyCodePage_) : std::nullopt)
            out.push_back(std::move(*parsed));
    }
    return out;
}

// ---- Removal ----

bool Id3v2Tag::RemoveTag(const TailPlan& tail) {
    error_.clear();
    if (!FileExists(fileName_)) {
        error_ = kMsgNoFile;
        return false;
    }
    if (tag_.TagSize > 0) {
        if (!CanWrite(fileName_)) {
            error_ = kMsgRemoveDenied;
            return false;
        }
        try {
            if (!RemoveFromFile(tail))
                return false;
        } catch (const std::exception& e) {
            Fail(kMsgRemoveFailed, std::string(e.what()), false);
            return false;
        }
    }
    ClearTag();
    ReadTag();
    return true;
}

bool Id3v2Tag::RemoveFromFile(const TailPlan& tail) {
    std::string openError;
    auto file = File::Open(fileName_, File::Mode::Read, &openError);
    const std::int64_t fileSize = file ? file->Size() : -1;
    if (!file || fileSize < 0) {
        Fail(kMsgRemoveFailed, file ? file->LastError() : openError, false);
        return false;
    }
    const auto old = InspectFile(*file, fileSize);
    if (!old) {
        Fail(kMsgRemoveFailed, file->LastError(), false);
        return false;
    }
    if (!old->present)
        return true;
    const std::int64_t keepFrom = old->keepFrom;
    const IoResult result = SafeReplace(
        fileName_,
        [&](ReplaceWriter& w, std::string& error) {
            if (CopyRest(w, *file, keepFrom, fileSize, tail))
                return true;
            error = w.LastError().empty() ? kMsgTailUnreadable : w.LastError();
            return false;
        },
        io_);
    if (!result) {
        Fail(kMsgRemoveFailed, result.error, false);
        return false;
    }
    return true;
}

}  // namespace sondrel
