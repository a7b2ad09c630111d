// SPDX-License-Identifier: GPL-3.0-or-later
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

StreamFacts StreamFactsOf(TagBridge& bridge, TagFormat format, const std::string& path) {
    const FormatHandler* h = HandlerOf(format);
    return h ? h->Stream(bridge, nullptr, path) : StreamFacts{};
}

StreamFacts StreamFactsOf(TagBridge& bridge, TagFormat format, const FileSnapshot& file) {
    const FormatHandler* h = HandlerOf(format);
    return h ? h->Stream(bridge, &file, file.Path()) : StreamFacts{};
}

std::string NotRecognisedMessage(TagFormat format) {
    const FormatHandler* h = HandlerOf(format);
    if (!h)
        return "not a supported audio file (its extension names no format this tool reads)";
    return "not a valid " + std::string(h->Name()) + " file: its audio stream was not recognised";
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

std::vector<std::string> OtherItemsOf(TagBridge& bridge, TagFormat format) {
    const FormatHandler* h = HandlerOf(format);
    return h ? h->OtherItems(bridge) : std::vector<std::string>{};
}

}  // namespace sondrel
