// Ogg Vorbis: the comment header of the first logical stream.
#include "editor/format_registry.h"

namespace sondrel {

namespace {

constexpr std::string_view kExtensions[] = {".OGG"};

class OggHandler final : public FormatHandler {
public:
    TagFormat Id() const override { return TagFormat::Ogg; }
    std::string_view Name() const override { return "Ogg"; }
    std::span<const std::string_view> Extensions() const override { return kExtensions; }

    void Read(TagBridge& b, const std::string& path) const override {
        b.Ogg.setFileName(path);
        b.OggToTag2();
    }
    bool Holds(const TagBridge& b, const std::string& path) const override {
        return b.Ogg.FileName() == path;
    }
    SaveOutcome Save(TagBridge& b) const override {
        b.Tag2ToOgg();
        const bool ok = b.Ogg.WriteTag();
        return ComponentOutcome(ok, b.Ogg.Error(), false);
    }
    bool Removes(RemoveKind kind) const override { return kind == RemoveKind::Ogg; }
    SaveOutcome Remove(TagBridge& b, const std::string& path, RemoveKind) const override {
        b.Ogg.setFileName(path);
        // Every Vorbis stream has a comment header: an unreadable one means
        // the file is damaged or no Ogg Vorbis, which is no success.
        if (b.Ogg.Valid() && b.Ogg.RemoveTag())
            return {};
        return {false, b.Ogg.Error().empty() ? "Error" : b.Ogg.Error()};
    }
    bool Valid(const TagBridge& b) const override { return b.Ogg.Valid(); }
    std::string Error(const TagBridge& b) const override { return b.Ogg.Error(); }
    bool HasOwnTag(const TagBridge& b) const override { return b.Ogg.Valid(); }

    StreamFacts Stream(TagBridge& b, const FileSnapshot*, const std::string&) const override {
        StreamFacts s;
        const OggVorbisTag& o = b.Ogg;
        s.valid = o.Valid();
        if (!s.valid)
            return s;
        s.format = "Ogg Vorbis";
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
        for (const auto& c : b.Ogg.OtherComments())
            out.push_back(c.substr(0, c.find('=')));
        return out;
    }
    void FillInfoRows(TagBridge& b, const StreamFacts& facts, InfoRows& rows) const override {
        if (!facts.valid)
            return;
        StreamRows(facts, b.Ogg.FileLength(), true, rows);
        rows[8] = "0";
        rows[9] = PlusMinus(!b.Ogg.lyrics().empty());
    }
};

}  // namespace

const FormatHandler& OggFormat() {
    static const OggHandler handler;
    return handler;
}

}  // namespace sondrel
