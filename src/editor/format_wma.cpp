// SPDX-License-Identifier: GPL-3.0-or-later
// WMA: the ASF header's descriptions and pictures.
#include "editor/format_registry.h"

namespace sondrel {

namespace {

constexpr std::string_view kExtensions[] = {".WMA"};

class WmaHandler final : public FormatHandler {
public:
    TagFormat Id() const override { return TagFormat::WMA; }
    std::string_view Name() const override { return "WMA"; }
    std::span<const std::string_view> Extensions() const override { return kExtensions; }

    void Read(TagBridge& b, const std::string& path) const override {
        Parts(b).WMATag.setFileName(path);
        b.TakeRead(HubValuesOf(Parts(b).WMATag));
    }
    bool Holds(const TagBridge& b, const std::string& path) const override {
        return Parts(b).WMATag.FileName() == path;
    }
    SaveOutcome Save(TagBridge& b) const override {
        CopyHubTo(b.Hub(), Parts(b).WMATag);
        const bool ok = Parts(b).WMATag.WriteTag();
        return ComponentOutcome(ok, Parts(b).WMATag.Error(), true);
    }
    bool SetSyncedLyrics(TagBridge& b, const id3v2::SyncedLyrics& lyrics) const override {
        Parts(b).WMATag.setSyncedLyrics(id3v2::LrcText(lyrics));
        return true;
    }
    bool Removes(RemoveKind kind) const override { return kind == RemoveKind::Wma; }
    SaveOutcome Remove(TagBridge& b, const std::string& path, RemoveKind) const override {
        return ClearBySave(b, path);
    }
    bool Valid(const TagBridge& b) const override { return Parts(b).WMATag.Valid(); }
    std::string Error(const TagBridge& b) const override { return Parts(b).WMATag.Error(); }
    std::string Damage(const TagBridge& b) const override { return Parts(b).WMATag.Damage(); }
    bool HasOwnTag(const TagBridge& b) const override { return Parts(b).WMATag.Valid(); }

    StreamFacts Stream(TagBridge& b, const FileSnapshot*, const std::string&) const override {
        StreamFacts s;
        const WmaTag& w = Parts(b).WMATag;
        s.valid = w.Valid();
        if (!s.valid)
            return s;
        s.format = "WMA";
        s.length = w.Duration();
        s.seconds = w.DurationInSeconds();
        s.bitrate = w.Bitrate();
        s.sampleRate = w.Frequency();
        s.channels = w.ChannelMode();
        return s;
    }
    std::vector<PictureFacts> Pictures(TagBridge& b) const override {
        std::vector<PictureFacts> out;
        for (const auto& p : Parts(b).WMATag.Pictures())
            out.push_back({p.MimeType, p.PictureType, p.Description, p.DataSize()});
        return out;
    }
    std::vector<std::string> OtherItems(TagBridge& b) const override {
        return Parts(b).WMATag.OtherItems();
    }
    void FillInfoRows(TagBridge& b, const StreamFacts& facts, InfoRows& rows) const override {
        if (!facts.valid)
            return;
        StreamRows(facts, Parts(b).WMATag.FileLength(), true, rows);
        rows[8] = std::to_string(Parts(b).WMATag.ImagesCount());
        rows[9] = PlusMinus(!Parts(b).WMATag.Lyrics.empty());
    }

    bool HoldsPictures() const override { return true; }
    std::string LoadPictures(TagBridge& b, const std::string& path) const override {
        Parts(b).WMATag.setFileName(path);
        return Parts(b).WMATag.Valid() ? std::string() : "Error " + Parts(b).WMATag.Error();
    }
    int PictureCount(TagBridge& b) const override { return Parts(b).WMATag.ImagesCount(); }
    std::string AddPicture(TagBridge& b, int position, const std::string& file,
                           const std::string& description, int type, std::string&) const override {
        const bool ok = Parts(b).WMATag.AddImage(position, file, description, type);
        return PictureOutcome(ok, Parts(b).WMATag.Error(), "Error adding picture");
    }
    std::string DeletePicture(TagBridge& b, int position) const override {
        const bool ok = Parts(b).WMATag.DeleteImage(position) == 0;
        return PictureOutcome(ok, Parts(b).WMATag.Error(), "Error deleting picture");
    }
    std::string ExtractPicture(TagBridge& b, int position, const std::string& to) const override {
        const bool ok = Parts(b).WMATag.SaveImageToFile(position, to) == 0;
        return ok ? std::string()
                  : PictureOutcome(ok, Parts(b).WMATag.Error(), "Error saving picture");
    }
};

}  // namespace

const FormatHandler& WmaFormat() {
    static const WmaHandler handler;
    return handler;
}

}  // namespace sondrel
