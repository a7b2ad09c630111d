// SPDX-License-Identifier: GPL-3.0-or-later
// MP3: ID3v1 (+ Lyrics3), ID3v2 and the MPEG stream, merged into the hub by
// the read choice and written by the save choice.
#include "editor/format_registry.h"

namespace sondrel {

namespace {

constexpr std::string_view kExtensions[] = {".MP3"};

std::string Version2Text(std::uint8_t major) {
    return "2." + std::to_string(major);
}

class Mp3Handler final : public FormatHandler {
public:
    TagFormat Id() const override { return TagFormat::MP3; }
    std::string_view Name() const override { return "MP3"; }
    std::span<const std::string_view> Extensions() const override { return kExtensions; }
    bool HasId3v1() const override { return true; }

    void Read(TagBridge& b, const std::string& path) const override {
        Parts(b).id3v2.ClearTag();
        Parts(b).id3v1.setFilename(path);
        Parts(b).id3v2.setFileName(path);
        b.TakeMp3Read(Parts(b).id3v2.Fields(), Parts(b).id3v1);
    }
    void Read(TagBridge& b, const FileSnapshot& file) const override {
        Parts(b).id3v2.ClearTag();
        Parts(b).id3v1.LoadFrom(file);
        Parts(b).id3v2.LoadFrom(file);
        b.TakeMp3Read(Parts(b).id3v2.Fields(), Parts(b).id3v1);
    }
    bool Holds(const TagBridge& b, const std::string& path) const override {
        return Parts(b).id3v1.Filename() == path && Parts(b).id3v2.FileName() == path;
    }
    SaveOutcome Save(TagBridge& b) const override {
        Id3v2Tag& v2 = Parts(b).id3v2;
        Id3v1Tag& v1 = Parts(b).id3v1;
        // The hub shows one value per field, merged from both tags. A field
        // the user left as read keeps, in each tag that existed, that tag's
        // own value: an ID3v1 comment never becomes an ID3v2 frame, nor an
        // ID3v2 artist the ID3v1 one, just because both were saved.
        const auto& read = Parts(b).mp3Read;
        TagFields forV2 = b.Hub();
        TagFields forV1 = b.Hub();
        for (const FieldInfo& entry : kFieldTable) {
            const Field f = entry.field;
            if (b.Hub()[f] != read.merged[f])
                continue;
            if (f == Field::Genre && b.Hub().GenreID != read.merged.GenreID)
                continue;
            if (read.hadId3v2) {
                forV2[f] = read.id3v2[f];
                if (f == Field::Genre)
                    forV2.GenreID = read.id3v2.GenreID;
            }
            if (read.hadId3v1) {
                forV1[f] = read.id3v1[f];
                if (f == Field::Genre)
                    forV1.GenreID = read.id3v1.GenreID;
            }
        }
        v2.setFields(forV2);
        CopyHubTo(forV1, v1);
        const int s = b.Options().saveChoice;
        const bool writeV1 = s == kVersion1 || s == kVersion12;
        const bool writeV2 = s == kVersion2 || s == kVersion12;
        SaveOutcome out;
        out.ok = true;
        if (writeV2) {
            // The ID3v1 and Lyrics3 blocks go with the ID3v2 tag in one
            // transaction (in place under one journal, or one new file), so
            // a failure anywhere leaves the old file whole.
            TailPlan tail;
            if (writeV1)
                tail = [&v1](const ByteSource& file) { return v1.PlanWrite(file); };
            out.ok = v2.WriteTag(tail);
            out.error = v2.Error();
        } else if (writeV1) {
            // Alone, the blocks at the end are written in place.
            out.ok = v1.WriteTag();
            out.error = v1.Error();
        }
        if (!out.ok && out.error.empty())
            out.error = Id3v2Tag::kMsgFileError;
        return out;
    }

    bool SetSyncedLyrics(TagBridge& b, const id3v2::SyncedLyrics& lyrics) const override {
        // Only ID3v2 has a frame for them; a save of ID3v1 alone keeps none.
        const int s = b.Options().saveChoice;
        if (s != kVersion2 && s != kVersion12)
            return false;
        Parts(b).id3v2.SetSyncedLyrics(lyrics);
        return true;
    }

    bool Removes(RemoveKind kind) const override {
        return kind == RemoveKind::Id3v1 || kind == RemoveKind::Id3v2 ||
               kind == RemoveKind::AllId3 || kind == RemoveKind::Ape;
    }
    SaveOutcome Remove(TagBridge& b, const std::string& path, RemoveKind kind) const override {
        if (kind == RemoveKind::Ape)
            return RemoveApeTag(b, path);
        Id3v2Tag& v2 = Parts(b).id3v2;
        Id3v1Tag& v1 = Parts(b).id3v1;
        bool hasV1 = false;
        bool hasV2 = false;
        if (kind == RemoveKind::Id3v1 || kind == RemoveKind::AllId3) {
            v1.setFilename(path);
            hasV1 = v1.Valid();
        }
        if (kind == RemoveKind::Id3v2 || kind == RemoveKind::AllId3) {
            v2.setFileName(path);
            hasV2 = v2.Valid() && v2.TagSize() > 0;
        }
        SaveOutcome out;
        out.ok = true;
        if (hasV2) {
            // Both tags leave in one new file, as a save writes them.
            TailPlan tail;
            if (hasV1)
                tail = [&v1](const ByteSource& file) { return v1.PlanRemoval(file); };
            out.ok = v2.RemoveTag(tail);
            if (!out.ok)
                out.error = v2.Error();
            if (hasV1)
                v1.ReadTag();
        } else if (hasV1) {
            out.ok = v1.RemoveTag();
            if (!out.ok)
                out.error = v1.Error();
        }
        if (!out.ok && out.error.empty())
            out.error = Id3v2Tag::kMsgFileError;
        return out;
    }

    // Either ID3 tag makes the file valid.
    bool Valid(const TagBridge& b) const override {
        return Parts(b).id3v2.Valid() || Parts(b).id3v1.Valid();
    }
    // Asked when the stream was not recognised: a missing tag is no reason
    // (an MP3 needs none), so the reason is the stream's own, or a read
    // that failed.
    std::string Error(const TagBridge& b) const override {
        if (const std::string& problem = Parts(b).mpegInfo.StreamProblem(); !problem.empty())
            return problem;
        return Parts(b).mpegInfo.Error();
    }
    bool HasOwnTag(const TagBridge& b) const override {
        const int save = b.Options().saveChoice;
        const bool v1 = save == kVersion1 || save == kVersion12;
        const bool v2 = save == kVersion2 || save == kVersion12;
        return (v1 && Parts(b).id3v1.Valid()) || (v2 && Parts(b).id3v2.Valid());
    }

    StreamFacts Stream(TagBridge& b, const FileSnapshot* file,
                       const std::string& path) const override {
        StreamFacts s;
        MpegInfo& m = Parts(b).mpegInfo;
        if (file)
            m.LoadFrom(*file);
        else
            m.setFileName(path);
        s.valid = m.Valid();
        if (!s.valid)
            return s;
        s.format = m.GetVer();
        s.length = m.GetLength();
        s.seconds = m.Duration();
        s.bitrate = m.Bitrate();
        s.vbr = m.IsVBR();
        s.sampleRate = m.SampleRate();
        s.channels = m.GetChannelMode();
        s.frames = m.GetNumberOfFrames();
        s.encoder = m.GetEncoder();
        return s;
    }
    // As the editor sees them: a tag its components could not read is absent.
    TagKinds Kinds(const TagBridge& b, TagKinds kinds) const override {
        kinds.id3v1 = Parts(b).id3v1.Valid();
        kinds.id3v2.reset();
        if (Parts(b).id3v2.Valid())
            kinds.id3v2 = Version2Text(Parts(b).id3v2.VersionHigh());
        return kinds;
    }
    std::vector<PictureFacts> Pictures(TagBridge& b) const override {
        std::vector<PictureFacts> out;
        // The stored type, not GetMIME's JFIF guess: callers compare with the file.
        for (const auto& p : Parts(b).id3v2.Pictures())
            out.push_back({p.MimeType, p.PictureType, p.Description, p.DataSize()});
        return out;
    }
    std::vector<std::string> OtherItems(TagBridge& b) const override {
        return Parts(b).id3v2.OtherFrames();
    }
    void FillInfoRows(TagBridge& b, const StreamFacts& facts, InfoRows& rows) const override {
        const MpegInfo& m = Parts(b).mpegInfo;
        if (facts.valid) {
            StreamRows(facts, m.FileSize(), true, rows);
            if (facts.vbr)
                rows[3] += " (VBR)";
            rows[10] = std::to_string(m.FirstFramePos());
            rows[11] = std::to_string(m.GetNumberOfFrames());
            rows[12] = PlusMinus(m.Protected());
            rows[13] = PlusMinus(m.Copyright());
            rows[14] = PlusMinus(m.Original());
            rows[15] = m.Emphasis();
            rows[16] = m.GetEncoder();
        }
        // The tag rows speak for the tags even when the stream is unreadable.
        rows[6] =
            Parts(b).id3v1.Valid() ? "id3v1." + std::to_string(Parts(b).id3v1.VersionLow()) : "-";
        rows[7] =
            Parts(b).id3v2.Valid() ? "id3v2." + std::to_string(Parts(b).id3v2.VersionHigh()) : "-";
        rows[8] = std::to_string(b.Hub().ImagesCount);
        rows[9] = PlusMinus(!b.Hub().text.empty());
    }

    bool HoldsPictures() const override { return true; }
    std::string LoadPictures(TagBridge& b, const std::string& path) const override {
        // The ID3v2 tag alone: a picture change must not bring ID3v1 values into it.
        Parts(b).id3v2.setFileName(path);
        if (!Parts(b).id3v2.Valid() && Parts(b).id3v2.Error() != Id3v2Tag::kMsgNoTag)
            return Parts(b).id3v2.Error();
        return {};
    }
    int PictureCount(TagBridge& b) const override { return Parts(b).id3v2.ImagesCount(); }
    std::string AddPicture(TagBridge& b, int position, const std::string& file,
                           const std::string& description, int type, std::string&) const override {
        const bool ok = Parts(b).id3v2.AddImage(position, file, description, type);
        return PictureOutcome(ok, Parts(b).id3v2.Error(), "Error adding picture");
    }
    std::string DeletePicture(TagBridge& b, int position) const override {
        const bool ok = Parts(b).id3v2.DeleteImage(position) == 0;
        return PictureOutcome(ok, Parts(b).id3v2.Error(), "Error deleting picture");
    }
    bool SetPictureDescription(TagBridge& b, int position, const std::string& text) const override {
        Parts(b).id3v2.SetDescription(position, text);
        return true;
    }
    std::string ExtractPicture(TagBridge& b, int position, const std::string& to) const override {
        const bool ok = Parts(b).id3v2.SaveImageToFile(position, to) == 0;
        return ok ? std::string()
                  : PictureOutcome(ok, Parts(b).id3v2.Error(), "Error saving picture");
    }
};

}  // namespace

const FormatHandler& Mp3Format() {
    static const Mp3Handler handler;
    return handler;
}

}  // namespace sondrel
