#include "editor/format_registry.h"

#include <array>

namespace sondrel {

void FormatHandler::Read(TagBridge& bridge, const FileSnapshot& file) const {
    Read(bridge, file.Path());
}

TagKinds FormatHandler::Kinds(const TagBridge&, TagKinds scanned) const {
    return scanned;
}

std::vector<PictureFacts> FormatHandler::Pictures(TagBridge&) const {
    return {};
}

std::vector<std::string> FormatHandler::OtherItems(TagBridge&) const {
    return {};
}

std::string FormatHandler::LoadPictures(TagBridge&, const std::string&) const {
    return "This file type holds no pictures";
}

int FormatHandler::PictureCount(TagBridge&) const {
    return 0;
}

std::string FormatHandler::AddPicture(TagBridge&, int, const std::string&, const std::string&,
                                      std::string&) const {
    return "This file type holds no pictures";
}

std::string FormatHandler::DeletePicture(TagBridge&, int) const {
    return "This file type holds no pictures";
}

std::string FormatHandler::ExtractPicture(TagBridge&, int, const std::string&) const {
    return "This file type holds no pictures";
}

void FormatHandler::StreamRows(const StreamFacts& facts, std::int64_t fileSize, bool withBitrate,
                               InfoRows& rows) {
    rows[0] = GroupedNumber(fileSize);
    rows[1] = facts.format;
    rows[2] = facts.length;
    rows[3] = withBitrate ? std::to_string(facts.bitrate) + " kbps" : "";
    rows[4] = std::to_string(facts.sampleRate) + " Hz";
    rows[5] = facts.channels;
}

std::span<const FormatHandler* const> AllFormats() {
    static const std::array<const FormatHandler*, 6> kFormats{
        &Mp3Format(),          &OggFormat(), &WmaFormat(),
        &MonkeysAudioFormat(), &Mp4Format(), &MusepackFormat(),
    };
    return kFormats;
}

const FormatHandler* HandlerOf(TagFormat format) {
    for (const FormatHandler* h : AllFormats()) {
        if (h->Id() == format)
            return h;
    }
    return nullptr;
}

const FormatHandler* HandlerOfPath(std::string_view path) {
    return HandlerOf(FormatOfPath(path));
}

}  // namespace sondrel
