// SPDX-License-Identifier: GPL-3.0-or-later
// FLAC: the Vorbis comments and pictures of the metadata blocks.
#include "editor/format_registry.h"

namespace sondrel {

namespace {

constexpr std::string_view kExtensions[] = {".FLAC"};

class FlacHandler final : public FormatHandler {
public:
    TagFormat Id() const override { return TagFormat::FLAC; }
    std::string_view Name() const override { return "FLAC"; }
    std::span<const std::string_view> Extensions() const override { return kExtensions; }

    void Read(TagBridge& b, const std::string& path) const override {
        Parts(b).flac.setFileName(path);
        b.TakeRead(HubValuesOf(Parts(b).flac));
    }
    // The snapshot already read serves the tag: no second open of the file.
    void Read(TagBridge& b, const FileSnapshot& file) const override {
        Parts(b).flac.LoadFrom(file);
        b.TakeRead(HubValuesOf(Parts(b).flac));
    }
    bool Holds(const TagBridge& b, const std::string& path) const override {
        return Parts(b).flac.FileName() == path;
    }
    SaveOutcome Save(TagBridge& b) const override {
        CopyHubTo(b.Hub(), Parts(b).flac);
        const bool ok = Parts(b).flac.WriteTag();
        return ComponentOutcome(ok, Parts(b).flac.Error(), false);
    }
    bool SetSyncedLyrics(TagBridge& b, const id3v2::SyncedLyrics& lyrics) const override {
        Parts(b).flac.setSyncedLyrics(id3v2::LrcText(lyrics));
        return true;
    }
    // The Vorbis comments, as for Ogg files.
    bool Removes(RemoveKind kind) const override { return kind == RemoveKind::Ogg; }
    SaveOutcome Remove(TagBridge& b, const std::string& path, RemoveKind) const override {
        Parts(b).flac.setFileName(path);
        if (Parts(b).flac.Valid() && Parts(b).flac.RemoveTag())
            return {};
        return {false, Parts(b).flac.Error().empty() ? "Error" : Parts(b).flac.Error()};
    }
    bool Valid(const TagBridge& b) const override { return Parts(b).flac.Valid(); }
    std::string Error(const TagBridge& b) const override { return Parts(b).flac.Error(); }
    std::string Damage(const TagBridge& b) const override { return Parts(b).flac.Damage(); }
    bool HasOwnTag(const TagBridge& b) const override { return Parts(b).flac.Valid(); }

    StreamFacts Stream(TagBridge& b, const FileSnapshot*, const std::string&) const override {
        StreamFacts s;
        const FlacTag& f = Parts(b).flac;
        s.valid = f.Valid();
        if (!s.valid)
            return s;
        s.format = "FLAC " + std::to_string(f.Stream().bitsPerSample) + " bit";
        s.length = f.Duration();
        s.seconds = f.DurationSeconds();
        s.bitrate = f.Bitrate();
        s.vbr = true;
        s.sampleRate = f.Stream().sampleRate;
        s.channels = f.ChannelMode();
        s.encoder = f.Vendor();
        s.md5 = f.Md5Hex();
        return s;
    }
    std::vector<PictureFacts> Pictures(TagBridge& b) const override {
        std::vector<PictureFacts> out;
        for (const auto& p : Parts(b).flac.Pictures())
            out.push_back({p.MimeType, p.PictureType, p.Description, p.DataSize()});
        return out;
    }
    // The comments and blocks come from the read, not from the file again.
    std::vector<std::string> OtherItems(TagBridge& b) const override {
        std::vector<std::string> out;
        for (const auto& c : Parts(b).flac.OtherComments())
            out.push_back(c.substr(0, c.find('=')));
        for (auto& block : Parts(b).flac.OtherBlocks())
            out.push_back(std::move(block));
        return out;
    }
    void FillInfoRows(TagBridge& b, const StreamFacts& facts, InfoRows& rows) const override {
        if (!facts.valid)
            return;
        const FlacTag& f = Parts(b).flac;
        StreamRows(facts, f.FileLength(), true, rows);
        rows[8] = std::to_string(f.ImagesCount());
        rows[9] = PlusMinus(!f.Value(Field::Lyrics).empty());
        rows[10] = std::to_string(f.AudioOffset());
        rows[16] = f.Vendor();
        rows[17] = facts.md5;
    }

    bool HoldsPictures() const override { return true; }
    std::string LoadPictures(TagBridge& b, const std::string& path) const override {
        Parts(b).flac.setFileName(path);
        return Parts(b).flac.Valid() ? std::string() : "Error " + Parts(b).flac.Error();
    }
    int PictureCount(TagBridge& b) const override { return Parts(b).flac.ImagesCount(); }
    std::string AddPicture(TagBridge& b, int position, const std::string& file,
                           const std::string& description, int type, std::string&) const override {
        const bool ok = Parts(b).flac.AddImage(position, file, description, type);
        return PictureOutcome(ok, Parts(b).flac.Error(), "Error adding picture");
    }
    std::string DeletePicture(TagBridge& b, int position) const override {
        const bool ok = Parts(b).flac.DeleteImage(position);
        return PictureOutcome(ok, Parts(b).flac.Error(), "Error deleting picture");
    }
    bool SetPictureDescription(TagBridge& b, int position, const std::string& text) const override {
        return Parts(b).flac.SetDescription(position, text);
    }
    std::string ExtractPicture(TagBridge& b, int position, const std::string& to) const override {
        const bool ok = Parts(b).flac.SaveImageToFile(position, to);
        return PictureOutcome(ok, Parts(b).flac.Error(), "Error saving picture");
    }
};

}  // namespace

const FormatHandler& FlacFormat() {
    static const FlacHandler handler;
    return handler;
}

}  // namespace sondrel
