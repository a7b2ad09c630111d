// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/format_registry.h"

#include <array>

#include "tags/file_io.h"
#include "tags/tail_locator.h"

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

std::string FormatHandler::AddPicture(TagBridge&, int, const std::string&, const std::string&, int,
                                      std::string&) const {
    return "This file type holds no pictures";
}

std::string FormatHandler::DeletePicture(TagBridge&, int) const {
    return "This file type holds no pictures";
}

std::string FormatHandler::ExtractPicture(TagBridge&, int, const std::string&) const {
    return "This file type holds no pictures";
}

SaveOutcome FormatHandler::Remove(TagBridge&, const std::string& path, RemoveKind) const {
    return {false, "Error. This command does not apply to " + ExtOf(path) + " files!"};
}

SaveOutcome FormatHandler::RemoveApeTag(const TagBridge& bridge, const std::string& path) {
    auto file = File::Open(path, File::Mode::Read);
    if (!file)
        return {false, "the file cannot be opened for reading"};
    const tail::Layout layout = tail::Locate(*file);
    if (layout.fault != tail::ReadFault::None)
        return {false, "the end of the file cannot be read; nothing was removed"};
    if (!layout.hasApe)
        return {};
    if (layout.apeDamaged)
        return {false, "the APE tag is damaged (its size does not fit the file); not removed"};
    const std::int64_t apeStart = layout.tagStart;
    const std::int64_t apeEnd = layout.Lyrics3Offset();
    const IoResult result = SafeReplace(
        path,
        [&](ReplaceWriter& w, std::string& error) {
            if (w.CopyFrom(*file, 0, apeStart) &&
                w.CopyFrom(*file, apeEnd, layout.fileSize - apeEnd))
                return true;
            error = w.LastError();
            return false;
        },
        bridge.IoFaultsInUse());
    if (!result)
        return {false, "the file could not be rewritten (" + result.error + "); it is unchanged"};
    return {};
}

SaveOutcome FormatHandler::ClearBySave(TagBridge& bridge, const std::string& path) {
    bridge.Read(path);
    bridge.setHub(TagFields{});
    return bridge.Save(path);
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
    static const std::array<const FormatHandler*, 7> kFormats{
        &Mp3Format(), &OggFormat(),      &WmaFormat(),  &MonkeysAudioFormat(),
        &Mp4Format(), &MusepackFormat(), &FlacFormat(),
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
