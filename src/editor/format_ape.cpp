// SPDX-License-Identifier: GPL-3.0-or-later
// The two APE-tagged formats: Monkey's Audio and Musepack share the tag code
// and differ in their stream facts.
#include "editor/format_registry.h"

namespace sondrel {

namespace {

// `Component` is MonkeysAudioTag or MusepackTag; `Member` picks it from the bridge.
template <typename Component, Component BridgeComponents::*Member>
class ApeTaggedHandler : public FormatHandler {
public:
    void Read(TagBridge& b, const std::string& path) const override {
        (Parts(b).*Member).setFilename(path);
        b.TakeRead(HubValuesOf(Parts(b).*Member));
    }
    bool Holds(const TagBridge& b, const std::string& path) const override {
        return (Parts(b).*Member).Filename() == path;
    }
    SaveOutcome Save(TagBridge& b) const override {
        CopyHubTo(b.Hub(), Parts(b).*Member);
        const bool ok = (Parts(b).*Member).WriteTag();
        return ComponentOutcome(ok, (Parts(b).*Member).Error(), true);
    }
    bool SetSyncedLyrics(TagBridge& b, const id3v2::SyncedLyrics& lyrics) const override {
        (Parts(b).*Member).setSyncedLyrics(id3v2::LrcText(lyrics));
        return true;
    }
    bool Removes(RemoveKind kind) const override { return kind == RemoveKind::Ape; }
    SaveOutcome Remove(TagBridge& b, const std::string& path, RemoveKind) const override {
        return RemoveApeTag(b, path);
    }
    bool Valid(const TagBridge& b) const override { return (Parts(b).*Member).Valid(); }
    std::string Error(const TagBridge& b) const override { return (Parts(b).*Member).error(); }
    bool HasOwnTag(const TagBridge& b) const override { return (Parts(b).*Member).ValidTag(); }
    TagKinds Kinds(const TagBridge& b, TagKinds kinds) const override {
        kinds.ape = kinds.ape && (Parts(b).*Member).ValidTag();
        return kinds;
    }
    std::vector<std::string> OtherItems(TagBridge& b) const override {
        return (Parts(b).*Member).OtherItems();
    }
    void FillInfoRows(TagBridge& b, const StreamFacts& facts, InfoRows& rows) const override {
        if (!facts.valid)
            return;
        const Component& c = Parts(b).*Member;
        StreamRows(facts, c.FileLength(), ShowsBitrate(), rows);
        rows[6] = PlusMinus(c.id3v1() > 0);
        rows[7] = PlusMinus(c.id3v2() > 0);
        rows[8] = "0";
        rows[9] = PlusMinus(!c.Lyrics().empty());
        if (Id() == TagFormat::MPC)
            rows[11] = std::to_string(facts.frames);
    }
};

constexpr std::string_view kApeExtensions[] = {".APE"};

class MonkeysAudioHandler final : public ApeTaggedHandler<MonkeysAudioTag, &BridgeComponents::APE> {
public:
    TagFormat Id() const override { return TagFormat::APE; }
    std::string_view Name() const override { return "APE"; }
    std::span<const std::string_view> Extensions() const override { return kApeExtensions; }
    // Monkey's Audio headers give no bit rate.
    bool ShowsBitrate() const override { return false; }

    StreamFacts Stream(TagBridge& b, const FileSnapshot*, const std::string&) const override {
        StreamFacts s;
        const MonkeysAudioTag& a = Parts(b).APE;
        s.valid = a.Valid();
        if (!s.valid)
            return s;
        s.format = "APE " + a.APEVersion();
        s.length = a.Duration();
        s.seconds = a.DurationInSeconds();
        s.sampleRate = a.Frequency();
        s.channels = a.ChannelMode();
        return s;
    }
};

constexpr std::string_view kMpcExtensions[] = {".MPC", ".MP+", ".MPP"};

class MusepackHandler final : public ApeTaggedHandler<MusepackTag, &BridgeComponents::MPCTag> {
public:
    TagFormat Id() const override { return TagFormat::MPC; }
    std::string_view Name() const override { return "MPC"; }
    std::span<const std::string_view> Extensions() const override { return kMpcExtensions; }

    StreamFacts Stream(TagBridge& b, const FileSnapshot*, const std::string&) const override {
        StreamFacts s;
        const MusepackTag& m = Parts(b).MPCTag;
        s.valid = m.Valid();
        if (!s.valid)
            return s;
        s.format = "Musepack";
        s.length = m.Duration();
        s.seconds = m.DurationInSeconds();
        s.bitrate = m.Bitrate();
        s.sampleRate = m.Frequency();
        s.channels = m.ChannelMode();
        s.frames = m.Frames();
        return s;
    }
};

}  // namespace

const FormatHandler& MonkeysAudioFormat() {
    static const MonkeysAudioHandler handler;
    return handler;
}

const FormatHandler& MusepackFormat() {
    static const MusepackHandler handler;
    return handler;
}

}  // namespace sondrel
