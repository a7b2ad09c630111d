// Ogg Vorbis and Ogg Opus: the comment header of the first logical stream.
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
    bool Holds(const TagBridge& b, const std::string& path) const override {
        return Parts(b).Ogg.FileName() == path;
    }
    SaveOutcome Save(TagBridge& b) const override {
        CopyHubTo(b.Hub(), Parts(b).Ogg);
        const bool ok = Parts(b).Ogg.WriteTag();
        return ComponentOutcome(ok, Parts(b).Ogg.Error(), false);
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
        s.format = o.Codec() == OggCodec::Opus ? "Ogg Opus" : "Ogg Vorbis";
        s.length = o.Duration();
        s.seconds = static_cast<double>(o.DurationInSeconds());
        s.bitrate = o.BitrateNominal();
        s.sampleRate = o.frequency();
        s.channels = o.ChannelMode();
        return s;
    }
    // The comments come from the read, not from the file again.
    std::vector<std::string> OtherItems(TagBridge& b) const override {
        std::vector<std::string> out;
        for (const auto& c : Parts(b).Ogg.OtherComments())
            out.push_back(c.substr(0, c.find('=')));
        return out;
    }
    void FillInfoRows(TagBridge& b, const StreamFacts& facts, InfoRows& rows) const override {
        if (!facts.valid)
            return;
        StreamRows(facts, Parts(b).Ogg.FileLength(), true, rows);
        rows[8] = "0";
        rows[9] = PlusMinus(!Parts(b).Ogg.lyrics().empty());
    }
};

}  // namespace

const FormatHandler& OggFormat() {
    static const OggHandler handler;
    return handler;
}

}  // namespace sondrel
