#include "editor/file_facts.h"

#include "editor/format_registry.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "tags/ape_tag.h"
#include "tags/file_io.h"
#include "tags/id3v2_frames.h"
#include "util/text.h"

namespace sondrel {

namespace {

std::string Version2Text(std::uint8_t major) {
    return "2." + std::to_string(major);
}

// The kinds an end-of-file scan finds (APE, Lyrics3, ID3v1) and the ID3v2
// header at the start.
TagKinds ScanFile(const FileSnapshot& file) {
    TagKinds kinds;
    if (const auto head = file.ReadUpTo(0, id3v2::kHeaderSize)) {
        if (const auto header = id3v2::ParseHeader(*head))
            kinds.id3v2 = Version2Text(header->Major);
    }
    if (const auto tail = apetag::LocateTail(file)) {
        kinds.id3v1 = tail->id3v1Size != 0;
        kinds.lyrics3 = tail->lyrics3Size != 0;
        kinds.ape = tail->hasApe && !tail->apeDamaged;
    }
    return kinds;
}

}  // namespace

namespace {

std::optional<id3v2::FrameContent> FieldsOf(const id3v2::RawFrame& frame,
                                            std::string_view codePage) {
    const auto content = frame.Content();
    const auto layout = id3v2::LayoutOf(frame);
    if (!content || layout.empty())
        return std::nullopt;
    return id3v2::ReadFields(layout, *content, codePage);
}

}  // namespace

// Frames that no field shows, by the rules the ID3v2 component reads with:
// one instance of COMM, USLT and WXXX belongs to a field (the one without a
// description, else the first); TPE2 stands in for a missing TPE1 and, in
// 2.4, TDRC for a missing TYER.
std::vector<std::string> OtherId3v2Frames(const FileSnapshot& file, std::string_view codePage) {
    std::vector<std::string> out;
    const std::int64_t size = file.Size();
    const auto head = file.ReadUpTo(0, id3v2::kHeaderSize);
    if (!head)
        return out;
    const auto header = id3v2::ParseHeader(*head);
    if (!header || header->BodySize > size - std::int64_t{id3v2::kHeaderSize})
        return out;
    Bytes storage;
    const auto body = file.View(id3v2::kHeaderSize, header->BodySize, storage);
    if (!body)
        return out;
    // Only the frames whose description names them need their data; the
    // rest (pictures above all) are known by their identifiers, each worked
    // out once.
    struct Seen {
        std::string id;
        std::optional<id3v2::RawFrame> frame;  // COMM, USLT, WXXX and TXXX only
    };
    std::vector<Seen> frames;
    id3v2::WalkFrames(*header, *body, [&frames](id3v2::RawFrame& f, id3v2::ByteView data) {
        Seen seen{f.Id23(), std::nullopt};
        if (seen.id == "COMM" || seen.id == "USLT" || seen.id == "WXXX" || seen.id == "TXXX") {
            if (f.Data.empty())
                f.Data.assign(data.begin(), data.end());
            seen.frame = std::move(f);
        } else if (seen.id.empty()) {
            seen.id = f.Id;
        }
        frames.push_back(std::move(seen));
    });

    static constexpr std::string_view kFieldFrames[] = {
        "TRCK", "TIT2", "TPE1", "TALB", "TYER", "TCON", "TCOM", "TOPE", "TCOP", "TENC", "APIC"};
    bool haveArtist = false;
    bool haveYear = false;
    for (const auto& f : frames) {
        haveArtist |= f.id == "TPE1";
        haveYear |= f.id == "TYER";
    }
    struct Described {
        std::string_view id;
        std::optional<std::size_t> firstIndex{};
        std::optional<std::size_t> owner{};
    };
    Described described[] = {{"COMM", {}, {}}, {"USLT", {}, {}}, {"WXXX", {}, {}}};
    std::vector<std::string> descriptions(frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        for (auto& d : described) {
            if (frames[i].id != d.id)
                continue;
            const auto values = FieldsOf(*frames[i].frame, codePage);
            if (!values)
                continue;
            descriptions[i] = values->description;
            if (!d.firstIndex)
                d.firstIndex = i;
            if (descriptions[i].empty() && !d.owner)
                d.owner = i;
        }
    }
    for (auto& d : described) {
        if (!d.owner)
            d.owner = d.firstIndex;
    }

    for (std::size_t i = 0; i < frames.size(); ++i) {
        const std::string& id = frames[i].id;
        bool shown = false;
        for (auto k : kFieldFrames)
            shown |= id == k;
        if (id == "TPE2")
            shown = !haveArtist;
        if (id == "TDRC")
            shown = !haveYear && header->Major >= 4;
        std::string name = id;
        for (const auto& d : described) {
            if (id != d.id)
                continue;
            shown = d.owner && *d.owner == i;
            if (!descriptions[i].empty())
                name += ":" + descriptions[i];
        }
        if (id == "TXXX") {
            if (const auto values = FieldsOf(*frames[i].frame, codePage))
                name += ":" + values->description;
        }
        if (!shown)
            out.push_back(std::move(name));
    }
    return out;
}

std::vector<std::string> OtherApeItems(const FileSnapshot& file) {
    std::vector<std::string> out;
    const auto tail = apetag::LocateTail(file);
    if (!tail || !tail->hasApe || tail->apeDamaged || tail->footer.tagSize < apetag::kFooterSize)
        return out;
    const auto body = file.ReadAt(tail->itemsStart, tail->footer.tagSize - apetag::kFooterSize);
    if (!body)
        return out;
    const auto items = apetag::ParseItems(*body, tail->footer.itemCount);
    for (const auto& item : items.items) {
        if (apetag::SlotOfKey(item.key) < 0)
            out.push_back(item.key);
    }
    return out;
}

StreamFacts StreamFactsOf(TagBridge& bridge, TagFormat format, const std::string& path) {
    const FormatHandler* h = HandlerOf(format);
    return h ? h->Stream(bridge, nullptr, path) : StreamFacts{};
}

StreamFacts StreamFactsOf(TagBridge& bridge, TagFormat format, const FileSnapshot& file) {
    const FormatHandler* h = HandlerOf(format);
    return h ? h->Stream(bridge, &file, file.Path()) : StreamFacts{};
}

TagKinds TagKindsOf(TagBridge& bridge, TagFormat format, const std::string& path) {
    const auto file = FileSnapshot::Open(path);
    const TagKinds scanned = file ? ScanFile(*file) : TagKinds{};
    const FormatHandler* h = HandlerOf(format);
    return h ? h->Kinds(bridge, scanned) : scanned;
}

TagKinds TagKindsOf(TagBridge& bridge, TagFormat format, const FileSnapshot& file) {
    const TagKinds scanned = ScanFile(file);
    const FormatHandler* h = HandlerOf(format);
    return h ? h->Kinds(bridge, scanned) : scanned;
}

std::vector<PictureFacts> PicturesOf(TagBridge& bridge, TagFormat format) {
    const FormatHandler* h = HandlerOf(format);
    return h ? h->Pictures(bridge) : std::vector<PictureFacts>{};
}

std::vector<std::string> OtherItemsOf(TagBridge& bridge, TagFormat format,
                                      const std::string& path) {
    const FormatHandler* h = HandlerOf(format);
    if (!h)
        return {};
    if (!h->OtherItemsFromFile())
        return h->OtherItems(bridge, nullptr);
    const auto file = FileSnapshot::Open(path);
    if (!file)
        return {};
    return h->OtherItems(bridge, &*file);
}

std::vector<std::string> OtherItemsOf(TagBridge& bridge, TagFormat format,
                                      const FileSnapshot& file) {
    const FormatHandler* h = HandlerOf(format);
    return h ? h->OtherItems(bridge, &file) : std::vector<std::string>{};
}

}  // namespace sondrel
