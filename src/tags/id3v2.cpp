#include "tags/id3v2.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <optional>
#include <string_view>

#include "tags/file_io.h"
#include "tags/file_snapshot.h"
#include "tags/id3v2_frames.h"

namespace sondrel {
namespace {

using id3v2::Bytes;
using id3v2::ByteView;
using id3v2::FrameContent;
using id3v2::RawFrame;

// Single-value text frames and the field each one fills. A later frame of the
// same kind replaces an earlier one; on saving, every copy is replaced.
struct TextRoute {
    std::string_view id;
    std::string TagFields::*field;
};
constexpr TextRoute kTextRoutes[] = {
    {"TRCK", &TagFields::track},     {"TIT2", &TagFields::title},
    {"TPE1", &TagFields::artist},    {"TALB", &TagFields::album},
    {"TYER", &TagFields::year},      {"TCON", &TagFields::Genre},
    {"TCOM", &TagFields::composer},  {"TOPE", &TagFields::OrigArtist},
    {"TCOP", &TagFields::copyright}, {"TENC", &TagFields::EncodedBy},
};

const TextRoute* TextRouteOf(std::string_view id23) {
    for (const auto& r : kTextRoutes) {
        if (r.id == id23)
            return &r;
    }
    return nullptr;
}

// Frames of which a tag may hold several, told apart by a description; the
// field owns the one without a description, else the first.
struct DescribedKind {
    std::string_view id;
    std::string (*value)(const FrameContent&);
};
constexpr DescribedKind kComment{"COMM", [](const FrameContent& c) { return c.Text(); }};
constexpr DescribedKind kLyrics{"USLT", [](const FrameContent& c) { return c.Text(); }};
constexpr DescribedKind kUserUrl{"WXXX", [](const FrameContent& c) { return c.url; }};
constexpr const DescribedKind* kDescribedKinds[] = {&kComment, &kLyrics, &kUserUrl};

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
    return TextRouteOf(id23) || id23 == "TPE2" || id23 == "TDRC" || id23 == "COMM" ||
           id23 == "USLT" || id23 == "WXXX" || id23 == "TXXX";
}

// The bodies of `frames` that a read looks into, each read once; nullopt
// for the other frames and for one that cannot be read.
using Contents = std::vector<std::optional<FrameContent>>;
Contents ContentsOf(const std::vector<RawFrame>& frames, std::string_view codePage) {
    Contents out(frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (ReadsContent(frames[i].Id23()))
            out[i] = FrameFields(frames[i], codePage);
    }
    return out;
}

struct Owned {
    std::size_t index;
    std::string value;
};

std::optional<Owned> OwnedInstance(const std::vector<RawFrame>& frames, const Contents& contents,
                                   const DescribedKind& kind) {
    std::optional<Owned> first;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (!contents[i] || frames[i].Id23() != kind.id)
            continue;
        Owned owned{i, kind.value(*contents[i])};
        if (contents[i]->description.empty())
            return owned;
        if (!first)
            first = std::move(owned);
    }
    return first;
}

// The frames of a tag that no field shows, named as the list of other
// items names them: the identifier, with the description of a COMM, USLT
// or WXXX frame that has one and of every TXXX frame. Every copy of a field's
// frame and every picture counts as shown; TPE2 is shown when no TPE1 is
// present, and in 2.4 TDRC when no TYER is.
std::vector<std::string> UnshownFrames(const std::vector<RawFrame>& frames,
                                       const Contents& contents, std::uint8_t major) {
    bool haveArtist = false;
    bool haveYear = false;
    for (const auto& f : frames) {
        const std::string id = f.Id23();
        haveArtist |= id == "TPE1";
        haveYear |= id == "TYER";
    }
    std::optional<std::size_t> owners[std::size(kDescribedKinds)];
    for (std::size_t k = 0; k < std::size(kDescribedKinds); ++k) {
        if (const auto o = OwnedInstance(frames, contents, *kDescribedKinds[k]))
            owners[k] = o->index;
    }
    std::vector<std::string> out;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        std::string name = frames[i].Id23();
        bool shown = TextRouteOf(name) || name == "APIC";
        if (name == "TPE2")
            shown = !haveArtist;
        if (name == "TDRC")
            shown = !haveYear && major >= 4;
        for (std::size_t k = 0; k < std::size(kDescribedKinds); ++k) {
            if (name != kDescribedKinds[k]->id)
                continue;
            shown = owners[k] == i;
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

// The first `count` characters of UTF-8 text.
std::string FirstChars(const std::string& s, std::size_t count) {
    std::size_t pos = 0;
    for (std::size_t n = 0; n < count && pos < s.size(); ++n) {
        ++pos;
        while (pos < s.size() && (static_cast<unsigned char>(s[pos]) & 0xC0) == 0x80)
            ++pos;
    }
    return s.substr(0, pos);
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
    old.keepFrom = old.body.TailIsPadding
                       ? regionEnd
                       : 10 + static_cast<std::int64_t>(old.body.StoredFramesEnd);
    return old;
}

std::string WithDetail(const char* message, const std::string& detail) {
    return detail.empty() ? std::string(message) : std::string(message) + " (" + detail + ")";
}

Bytes TextFrame(std::string_view id, const std::string& value) {
    FrameContent c;
    c.encoding = id3v2::ChooseEncoding({value});
    c.text = {value};
    return id3v2::RenderFrame23(id, id3v2::WriteFields(id3v2::LayoutFor("TIT2"), c));
}

Bytes CommentFrame(std::string_view id, const std::string& language, const std::string& value) {
    FrameContent c;
    c.encoding = id3v2::ChooseEncoding({value});
    c.language = language;
    c.text = {value};
    return id3v2::RenderFrame23(id, id3v2::WriteFields(id3v2::LayoutFor("COMM"), c));
}

Bytes UrlFrame(const std::string& url) {
    FrameContent c;
    c.encoding = id3v2::kEncLatin1;
    c.url = url;
    return id3v2::RenderFrame23("WXXX", id3v2::WriteFields(id3v2::LayoutFor("WXXX"), c));
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
    for (const auto& r : kTextRoutes)
        (tag_.*r.field).clear();
    tag_.comment.clear();
    tag_.text.clear();
    tag_.URL.clear();
    tag_.GenreID = kGenreOther;
    tag_.TagSize = 0;
    pictures_.clear();
    SyncImagesCount();
}

bool Id3v2Tag::CanWrite(const std::string& fileName) const {
    return File::Open(fileName, File::Mode::ReadWrite).has_value();
}

// ---- Reading ----

bool Id3v2Tag::ReadTag() {
    error_.clear();
    valid_ = false;
    ClearTag();
    otherFrames_.clear();
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

void Id3v2Tag::LoadFrom(const FileSnapshot& file) {
    fileName_ = file.Path();
    error_.clear();
    valid_ = false;
    ClearTag();
    otherFrames_.clear();
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
    if (!valid_ && onError)
        onError(*this, error_);
    return valid_;
}

bool Id3v2Tag::ReadFile(const FileSnapshot& file) {
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
    std::vector<RawFrame> frames;
    id3v2::WalkFrames(*header, *body, [this, &frames](RawFrame& frame, ByteView data) {
        if (frame.Id23() == "APIC") {
            if (auto p = id3v2::ReadPicture(frame, data, legacyCodePage_))
                pictures_.push_back(std::move(*p));
            frame.Data.clear();
        } else if (frame.Data.empty()) {
            frame.Data.assign(data.begin(), data.end());
        }
        frames.push_back(std::move(frame));
    });

    const Contents contents = ContentsOf(frames, legacyCodePage_);
    bool haveArtist = false, haveYear = false;
    std::optional<std::string> albumArtist, recordingTime;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (!contents[i])
            continue;
        const std::string id = frames[i].Id23();
        const TextRoute* route = TextRouteOf(id);
        std::string value = contents[i]->Text();
        if (id == "TPE2") {
            albumArtist = std::move(value);
        } else if (id == "TDRC") {
            recordingTime = std::move(value);
        } else if (route) {
            haveArtist |= id == "TPE1";
            haveYear |= id == "TYER";
            tag_.*route->field = std::move(value);
        }
    }
    if (!haveArtist && albumArtist)
        tag_.artist = *albumArtist;
    if (!haveYear && header->Major >= 4 && recordingTime)
        tag_.year = FirstChars(*recordingTime, 4);
    if (auto c = OwnedInstance(frames, contents, kComment))
        tag_.comment = std::move(c->value);
    if (auto l = OwnedInstance(frames, contents, kLyrics))
        tag_.text = std::move(l->value);
    if (auto u = OwnedInstance(frames, contents, kUserUrl))
        tag_.URL = std::move(u->value);
    otherFrames_ = UnshownFrames(frames, contents, header->Major);
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

bool Id3v2Tag::WriteTag() {
    error_.clear();
    if (!FileExists(fileName_)) {
        error_ = kMsgNoFile;
        return false;
    }
    // One descriptor serves the check that the file can be written, the look
    // at the old tag and an in-place write.
    auto file = File::Open(fileName_, File::Mode::ReadWrite);
    if (!file) {
        error_ = kMsgFileError;
        return false;
    }
    if (tag_.GenreID != kGenreOther)
        tag_.Genre = "(" + std::to_string(tag_.GenreID) + ")" + GenreNameOf(tag_.GenreID);
    try {
        return WriteFile(*file);
    } catch (const std::exception& e) {
        error_ = WithDetail(kMsgFileError, e.what());
        return false;
    }
}

bool Id3v2Tag::WriteFile(File& file) {
    const std::int64_t fileSize = file.Size();
    if (fileSize < 0) {
        error_ = WithDetail(kMsgFileError, file.LastError());
        return false;
    }
    const auto old = InspectFile(file, fileSize);
    if (!old) {
        error_ = WithDetail(kMsgFileError, file.LastError());
        return false;
    }

    const std::string language = lyricsLanguage_.size() == 3 ? lyricsLanguage_ : "eng";
    Bytes frames;
    auto add = [&frames](const Bytes& frame) {
        frames.insert(frames.end(), frame.begin(), frame.end());
    };
    if (!tag_.text.empty())
        add(CommentFrame("USLT", language, tag_.text));
    for (const auto& p : pictures_)
        add(id3v2::RenderFrame23("APIC", id3v2::PictureBody(p)));
    add(TextFrame("TRCK", tag_.track));
    add(TextFrame("TIT2", tag_.title));
    add(TextFrame("TPE1", tag_.artist));
    add(TextFrame("TALB", tag_.album));
    add(TextFrame("TYER", tag_.year));
    add(TextFrame("TCON", tag_.Genre));
    add(CommentFrame("COMM", language, tag_.comment));
    add(TextFrame("TCOM", tag_.composer));
    add(TextFrame("TOPE", tag_.OrigArtist));
    add(TextFrame("TCOP", tag_.copyright));
    add(UrlFrame(tag_.URL));
    add(TextFrame("TENC", tag_.EncodedBy));

    // Everything of the old tag that no field owns goes back in its order.
    if (old->present) {
        const auto& oldFrames = old->body.Frames;
        const Contents contents = ContentsOf(oldFrames, legacyCodePage_);
        std::vector<bool> owned(oldFrames.size(), false);
        for (const auto* kind : kDescribedKinds) {
            if (auto o = OwnedInstance(oldFrames, contents, *kind))
                owned[o->index] = true;
        }
        for (std::size_t i = 0; i < oldFrames.size(); ++i) {
            const RawFrame& f = oldFrames[i];
            // Frames we cannot look into are kept: dropping them would lose data.
            if (!f.Content())
                continue;
            const std::string id = f.Id23();
            if (TextRouteOf(id) || id == "APIC") {
                owned[i] = true;
            } else if (id == "TDRC") {
                // A recording time that contradicts the year would bring the
                // old year back in readers that prefer it.
                owned[i] = !contents[i] || FirstChars(contents[i]->Text(), 4) != tag_.year;
            }
        }
        for (std::size_t i = 0; i < oldFrames.size(); ++i) {
            if (owned[i])
                continue;
            if (auto carried = id3v2::RenderCarried23(oldFrames[i]))
                add(*carried);
        }
    }

    const std::size_t s = frames.size();
    if (s > id3v2::kMaxBodySize - id3v2::kPadding) {
        error_ = WithDetail(kMsgFileError, "the tag is too large");
        return false;
    }
    const std::int64_t oldBody = old->present ? std::int64_t{old->header.BodySize} : -1;
    const bool inPlace = old->present && old->header.Major >= 3 && !old->header.HasFooter() &&
                         old->body.TailIsPadding && static_cast<std::int64_t>(s) <= oldBody &&
                         oldBody <= static_cast<std::int64_t>(s) + kInPlaceSlack;

    if (inPlace) {
        Bytes block = id3v2::RenderHeader23(old->header.BodySize);
        block.insert(block.end(), frames.begin(), frames.end());
        block.resize(id3v2::kHeaderSize + old->header.BodySize, 0);
        if (!file.WriteAt(0, block) || !file.Sync()) {
            error_ = WithDetail(kMsgFileError, file.LastError());
            return false;
        }
        return true;
    }

    const auto bodySize = static_cast<std::uint32_t>(s + id3v2::kPadding);
    const std::int64_t keepFrom = old->keepFrom;
    const IoResult result = SafeReplace(fileName_, [&](ReplaceWriter& w, std::string&) {
        Bytes head = id3v2::RenderHeader23(bodySize);
        head.insert(head.end(), frames.begin(), frames.end());
        head.resize(id3v2::kHeaderSize + bodySize, 0);
        return w.Write(head) && w.CopyFrom(file, keepFrom, fileSize - keepFrom);
    });
    if (!result) {
        error_ = WithDetail(kMsgFileError, result.error);
        return false;
    }
    return true;
}

// ---- Removal ----

bool Id3v2Tag::RemoveTag() {
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
            if (!RemoveFromFile())
                return false;
        } catch (const std::exception& e) {
            error_ = WithDetail(kMsgRemoveFailed, e.what());
            return false;
        }
    }
    ClearTag();
    ReadTag();
    return true;
}

bool Id3v2Tag::RemoveFromFile() {
    std::string openError;
    auto file = File::Open(fileName_, File::Mode::Read, &openError);
    const std::int64_t fileSize = file ? file->Size() : -1;
    if (!file || fileSize < 0) {
        error_ = WithDetail(kMsgRemoveFailed, file ? file->LastError() : openError);
        return false;
    }
    const auto old = InspectFile(*file, fileSize);
    if (!old) {
        error_ = WithDetail(kMsgRemoveFailed, file->LastError());
        return false;
    }
    if (!old->present)
        return true;
    const std::int64_t keepFrom = old->keepFrom;
    const IoResult result = SafeReplace(fileName_, [&](ReplaceWriter& w, std::string&) {
        return w.CopyFrom(*file, keepFrom, fileSize - keepFrom);
    });
    if (!result) {
        error_ = WithDetail(kMsgRemoveFailed, result.error);
        return false;
    }
    return true;
}

}  // namespace sondrel
