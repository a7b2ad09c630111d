// SPDX-License-Identifier: GPL-3.0-or-later
// MP4/M4A/AAC: the iTunes-style item list, through the MP4 component.
#include "editor/format_registry.h"

#include <cmath>

#include "util/text.h"

namespace sondrel {

namespace {

constexpr std::string_view kExtensions[] = {".MP4", ".M4A", ".M4B", ".M4R", ".AAC"};

class Mp4Handler final : public FormatHandler {
public:
    TagFormat Id() const override { return TagFormat::MP4; }
    std::string_view Name() const override { return "MP4"; }
    std::span<const std::string_view> Extensions() const override { return kExtensions; }

    void Read(TagBridge& b, const std::string& path) const override {
        Parts(b).mp4Tag.setFileName(path);
        b.TakeRead(HubValuesOf(Parts(b).mp4Tag));
    }
    bool Holds(const TagBridge& b, const std::string& path) const override {
        return Parts(b).mp4Tag.FileName() == path;
    }
    SaveOutcome Save(TagBridge& b) const override {
        // A value the file cannot hold fails the save: writing the others
        // and reporting success would lose the user's edit without a word.
        if (const std::string refused = CopyHubTo(b.Hub(), Parts(b).mp4Tag); !refused.empty())
            return ComponentOutcome(false, refused, true);
        const bool ok = Parts(b).mp4Tag.WriteTag();
        return ComponentOutcome(ok, Parts(b).mp4Tag.Error(), true);
    }
    // MP4 keeps a track as two 16-bit numbers (number and total). A value it
    // cannot hold is refused with the reason; a number given alone keeps the
    // total the file had.
    std::optional<std::string> TrackToStore(const std::string& value, const std::string& current,
                                            std::string& error) const override {
        constexpr unsigned long kMax = 65535;
        auto number = [](std::string_view t) -> std::optional<unsigned long> {
            if (t.empty() || t.size() > 5 || t.find_first_not_of("0123456789") != std::string::npos)
                return std::nullopt;
            const unsigned long n = std::stoul(std::string(t));
            return n <= kMax ? std::optional<unsigned long>(n) : std::nullopt;
        };
        if (value.empty())
            return value;
        const auto slash = value.find('/');
        const std::string_view text = value;
        if (!number(text.substr(0, slash)) ||
            (slash != std::string::npos && !number(text.substr(slash + 1)))) {
            error = "the track \"" + value +
                    "\" cannot be stored in an MP4 file: it takes a number from 0 to 65535, "
                    "optionally with a total (\"3/12\"); the file was not changed";
            return std::nullopt;
        }
        const auto oldSlash = current.find('/');
        if (slash == std::string::npos && oldSlash != std::string::npos)
            return value + current.substr(oldSlash);
        return value;
    }
    bool SetSyncedLyrics(TagBridge& b, const id3v2::SyncedLyrics& lyrics) const override {
        Mp4Tag& m = Parts(b).mp4Tag;
        if (!m.Valid())
            return false;
        m.setSyncedLyrics(id3v2::LrcText(lyrics));
        return true;
    }
    bool Removes(RemoveKind kind) const override { return kind == RemoveKind::Mp4; }
    SaveOutcome Remove(TagBridge& b, const std::string& path, RemoveKind) const override {
        return ClearBySave(b, path);
    }
    bool Valid(const TagBridge& b) const override { return Parts(b).mp4Tag.Valid(); }
    std::string Error(const TagBridge& b) const override { return Parts(b).mp4Tag.Error(); }
    std::string Damage(const TagBridge& b) const override { return Parts(b).mp4Tag.Damage(); }
    bool HasOwnTag(const TagBridge& b) const override { return Parts(b).mp4Tag.Valid(); }

    StreamFacts Stream(TagBridge& b, const FileSnapshot*, const std::string&) const override {
        StreamFacts s;
        Mp4Tag& m = Parts(b).mp4Tag;
        s.valid = m.Valid();
        if (!s.valid)
            return s;
        // The container and codec; the encoder text ("Lavf...") is its own fact.
        s.format = "MP4 " + m.Codec();
        s.encoder = m.Encoder();
        s.seconds = m.DurationInSeconds();
        s.length = SecondsToTime(static_cast<std::int64_t>(std::trunc(s.seconds)));
        s.bitrate = m.Bitrate();
        s.sampleRate = m.Frequency();
        s.channels = m.ChannelMode();
        return s;
    }
    std::vector<PictureFacts> Pictures(TagBridge& b) const override {
        std::vector<PictureFacts> out;
        Mp4Tag& m = Parts(b).mp4Tag;
        if (!m.Valid())
            return out;
        const std::int32_t count = m.ImagesCount();
        for (std::int32_t i = 0; i < count; ++i)
            out.push_back({m.GetMIME(i), 3, "", m.PictureSize(i)});
        return out;
    }
    std::vector<std::string> OtherItems(TagBridge& b) const override {
        return Parts(b).mp4Tag.OtherItems();
    }
    void FillInfoRows(TagBridge& b, const StreamFacts& facts, InfoRows& rows) const override {
        if (!facts.valid)
            return;
        Mp4Tag& m = Parts(b).mp4Tag;
        StreamRows(facts, m.FileLength(), true, rows);
        rows[8] = std::to_string(m.ImagesCount());
        rows[9] = PlusMinus(!m.Lyrics().empty());
    }

    bool HoldsPictures() const override { return true; }
    std::string LoadPictures(TagBridge& b, const std::string& path) const override {
        Parts(b).mp4Tag.setFileName(path);
        return Parts(b).mp4Tag.Valid() ? std::string() : "Error " + Parts(b).mp4Tag.Error();
    }
    int PictureCount(TagBridge& b) const override { return Parts(b).mp4Tag.ImagesCount(); }
    std::string AddPicture(TagBridge& b, int position, const std::string& file,
                           const std::string& description, int type,
                           std::string& warning) const override {
        if (!description.empty())
            warning = "MP4 pictures carry no description; ignored";
        if (type != 3)
            warning += std::string(warning.empty() ? "" : "; ") +
                       "MP4 pictures carry no picture type; ignored";
        const bool ok = Parts(b).mp4Tag.AddImage(position, file);
        return PictureOutcome(ok, Parts(b).mp4Tag.Error(), "Error adding picture");
    }
    std::string DeletePicture(TagBridge& b, int position) const override {
        const bool ok = Parts(b).mp4Tag.DeleteImage(position);
        return PictureOutcome(ok, Parts(b).mp4Tag.Error(), "Error deleting picture");
    }
    std::string ExtractPicture(TagBridge& b, int position, const std::string& to) const override {
        const bool ok = Parts(b).mp4Tag.SaveImageToFile(position, to);
        return ok ? std::string()
                  : PictureOutcome(ok, Parts(b).mp4Tag.Error(), "Error saving picture");
    }
};

}  // namespace

const FormatHandler& Mp4Format() {
    static const Mp4Handler handler;
    return handler;
}

}  // namespace sondrel
