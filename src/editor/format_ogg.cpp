// SPDX-License-Identifier: GPL-3.0-or-later
// Ogg Vorbis, Ogg Opus and Ogg FLAC: the comment header of the first logical stream.
#include "editor/format_registry.h"

namespace sondrel {

namespace {

constexpr std::string_view kExtensions[] = {".OGG", ".OGA", ".OPUS"};

class OggHandler final : public FormatHandler {
public:
    TagFormat Id() const override { return TagFormat::Ogg; }
    std::string_view Name() const override { return "Ogg"; }
    std::span<const std::string_view> Extensions() const override { return kExtensions; }

    void Read(TagBridge& b, const std::string& path) const override {
        Parts(b).Ogg.setFileName(path);
        b.TakeRead(HubValuesOf(Parts(b).Ogg));
    }
    // The snapshot already read serves the tag: no second open of the file.
    void Read(TagBridge& b, const FileSnapshot& file) const override {
        Parts(b).Ogg.LoadFrom(file);
        b.TakeRead(HubValuesOf(Parts(b).Ogg));
    }
    bool Holds(const TagBridge& b, const std::string& path) const override {
        return Parts(b).Ogg.FileName() == path;
    }
    SaveOutcome Save(TagBridge& b) const override {
        CopyHubTo(b.Hub(), Parts(b).Ogg);
        const bool ok = Parts(b).Ogg.WriteTag();
        return ComponentOutcome(ok, Parts(b).Ogg.Error(), false);
    }
    bool SetSyncedLyrics(TagBridge& b, const id3v2::SyncedLyrics& lyrics) const override {
        Parts(b).Ogg.setSyncedLyrics(id3v2::LrcText(lyrics));
        return true;
    }
    bool Removes(RemoveKind kind) const override { return kind == RemoveKind::Ogg; }
    SaveOutcome Remove(TagBridge& b, const std::string& path, RemoveKind) const override {
        Parts(b).Ogg.setFileName(path);
        // Every Vorbis stream has a comment header: an unreadable one means
        // the file is damaged or no Ogg Vorbis, which is no success.
        if (Parts(b).Ogg.Valid() && Parts(b).Ogg.RemoveTag())
            return {};
        return {false, Parts(b).Ogg.Error().empty() ? "Error" : Parts(b).Ogg.Error()};
    }
    bool Valid(const TagBridge& b) const override { return Parts(b).Ogg.Valid(); }
    std::string Error(const TagBridge& b) const override { return Parts(b).Ogg.Error(); }
    bool HasOwnTag(const TagBridge& b) const override { return Parts(b).Ogg.Valid(); }

    StreamFacts Stream(TagBridge& b, const FileSnapshot*, const std::string&) const override {
        StreamFacts s;
        const OggVorbisTag& o = Parts(b).Ogg;
        s.valid = o.Valid();
        if (!s.valid)
            return s;
        switch (o.Codec()) {
            case OggCodec::Opus:
                s.format = "Ogg Opus";
                break;
            case OggCodec::Flac:
                s.format = "Ogg FLAC " + std::to_string(o.BitsPerSample()) + " bit";
                s.vbr = true;
                break;
            case OggCodec::Vorbis:
                s.format = "Ogg Vorbis";
                break;
        }
        s.length = o.Duration();
        s.seconds = o.Seconds();
        s.bitrate = o.BitrateNominal();
        s.sampleRate = o.frequency();
        s.channels = o.ChannelMode();
        return s;
    }
    std::vector<PictureFacts> Pictures(TagBridge& b) const override {
        std::vector<PictureFacts> out;
        for (const auto& p : Parts(b).Ogg.Pictures())
            out.push_back({p.MimeType, p.PictureType, p.Description, p.DataSize()});
        return out;
    }
    // The comments come from the read, not from the file again; pictures
    // are listed as pictures.
    std::vector<std::string> OtherItems(TagBridge& b) const override {
        std::vector<std::string> out;
        for (const auto& c : Parts(b).Ogg.UnshownComments())
            out.push_back(c.substr(0, c.find('=')));
        return out;
    }
    void FillInfoRows(TagBridge& b, const StreamFacts& facts, InfoRows& rows) const override {
        if (!facts.valid)
            return;
        StreamRows(facts, Parts(b).Ogg.FileLength(), true, rows);
        rows[8] = std::to_string(Parts(b).Ogg.ImagesCount());
        rows[9] = PlusMinus(!Parts(b).Ogg.lyrics().empty());
    }

    bool HoldsPictures() const override { return true; }
    std::string LoadPictures(TagBridge& b, const std::string& path) const override {
        Parts(b).Ogg.setFileName(path);
        return Parts(b).Ogg.Valid() ? std::string() : "Error " + Parts(b).Ogg.Error();
    }
    int PictureCount(TagBridge& b) const override { return Parts(b).Ogg.ImagesCount(); }
    std::string AddPicture(TagBridge& b, int position, const std::string& file,
                           const std::string& description, int type, std::string&) const override {
        const bool ok = Parts(b).Ogg.AddImage(position, file, description, type);
        return PictureOutcome(ok, Parts(b).Ogg.Error(), "Error adding picture");
    }
    std::string DeletePicture(TagBridge& b, int position) const override {
        const bool ok = Parts(b).Ogg.DeleteImage(position);
        return PictureOutcome(ok, Parts(b).Ogg.Error(), "Error deleting picture");
    }
    bool SetPictureDescription(TagBridge& b, int position, const std::string& text) const override {
        return Parts(b).Ogg.SetDescription(position, text);
    }
    std::string ExtractPicture(TagBridge& b, int position, const std::string& to) const override {
        const bool ok = Parts(b).Ogg.SaveImageToFile(position, to);
        return PictureOutcome(ok, Parts(b).Ogg.Error(), "Error saving picture");
    }
};

}  // namespace

const FormatHandler& OggFormat() {
    static const OggHandler handler;
    return handler;
}

}  // namespace sondrel
