// SPDX-License-Identifier: GPL-3.0-or-later
// Ogg Vorbis, Ogg Opus and Ogg FLAC: stream information from the identification
// header, the Vorbis comments mapped onto the shared field set, and saving by
// rebuilding the comment packet (header pages re-paginated, later pages
// renumbered; granule positions and the audio packets untouched). Ogg FLAC
// keeps its pictures as PICTURE blocks, one header packet each.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tags/field_items.h"
#include "tags/flac.h"
#include "tags/picture.h"
#include "tags/tag_model.h"

namespace sondrel {

// The codec of an Ogg stream whose comments we read.
enum class OggCodec { Vorbis, Opus, Flac };

// The whole tag record of an Ogg Vorbis file. Texts are UTF-8.
struct VorbisStreamInfo {
    std::string track;
    std::string title;
    std::string artist;
    std::string album;
    std::string year;
    std::string Genre;
    std::string comment;
    std::string lyrics;
    std::string composer;
    std::string OrigArtist;
    std::string copyright;
    std::string URL;
    std::string EncodedBy;
    std::uint8_t GenreID = kGenreOther;
    // Bytes of the comment packet after its 7-byte signature, framing byte
    // included, as found by the last read (0 when nothing was read).
    std::int32_t CommentSize = 0;

    // The text of a field (the genre text for Field::Genre).
    std::string& operator[](Field f);
    const std::string& operator[](Field f) const;

    bool operator==(const VorbisStreamInfo&) const = default;
};

class OggVorbisTag : public TagComponent {
public:
    // Vendor string of a save when the stream had none.
    static constexpr const char* kVendor = "Xiph.Org libVorbis I 20040628 Sondrel";
    // A picture comment holds a FLAC PICTURE block, so the same bound holds.
    static constexpr std::uint32_t kMaxPictureBytes = FlacTag::kMaxPictureBytes;

    OggVorbisTag() = default;

    const std::string& FileName() const { return fileName_; }
    // Stores the name, reads the file, then raises onFileNameChange.
    void setFileName(const std::string& path);

    const VorbisStreamInfo& ogg() const { return tag_; }
    void setogg(const VorbisStreamInfo& tag);

    // Stream information of the last read.
    OggCodec Codec() const { return codec_; }
    std::int64_t FileLength() const { return fileLength_; }
    std::string ChannelMode() const;
    std::uint32_t frequency() const;
    // Ogg FLAC: bits per sample from STREAMINFO (0 for the other codecs).
    std::uint8_t BitsPerSample() const { return bitsPerSample_; }
    // kbit/s: the header's nominal rate (Vorbis), the average over the file (Opus).
    std::uint32_t BitrateNominal() const;
    std::int64_t DurationInSeconds() const;
    // The exact playing time (Opus: less the pre-skip).
    double Seconds() const;
    std::string Duration() const;  // hh:mm:ss, hours not limited to two digits

    // The vendor string and the comments no field owns, as last read (raw
    // "KEY=value" texts in file order); a save writes both back.
    const std::string& Vendor() const { return vendor_; }
    const std::vector<std::string>& OtherComments() const { return others_; }
    // OtherComments without those read as pictures.
    std::vector<std::string> UnshownComments() const;

    // Pictures in comment order: METADATA_BLOCK_PICTURE comments, then the
    // old COVERART ones, which are only read; in Ogg FLAC then the PICTURE
    // header packets, where new pictures go too. The picture operations change
    // the file at once (except a description, kept until the next save) and
    // keep the fields as they were read.
    const std::vector<Picture>& Pictures() const { return pictures_; }
    std::int32_t ImagesCount() const { return static_cast<std::int32_t>(pictures_.size()); }
    bool AddImage(int index, const std::string& fileName, const std::string& description,
                  int pictureType = 3);
    bool AddPicture(int index, const Picture& picture);
    bool DeleteImage(int index);
    bool SetDescription(int index, const std::string& description);
    bool SaveImageToFile(int index, const std::string& fileName);

    // Synchronised lyrics as LRC text for the next WriteTag (memory only; a
    // read forgets them), kept under vorbis::kSyncedLyricsKey.
    void setSyncedLyrics(std::string lrc) {
        pendingSynced_ = std::move(lrc);
        Changed();
    }

    const std::string& track() const { return tag_.track; }
    const std::string& title() const { return tag_.title; }
    const std::string& artist() const { return tag_.artist; }
    const std::string& album() const { return tag_.album; }
    const std::string& year() const { return tag_.year; }
    const std::string& Genre() const { return tag_.Genre; }
    const std::string& comment() const { return tag_.comment; }
    const std::string& lyrics() const { return tag_.lyrics; }
    const std::string& composer() const { return tag_.composer; }
    const std::string& OrigArtist() const { return tag_.OrigArtist; }
    const std::string& copyright() const { return tag_.copyright; }
    const std::string& URL() const { return tag_.URL; }
    const std::string& EncodedBy() const { return tag_.EncodedBy; }
    std::uint8_t GenreID() const { return tag_.GenreID; }
    const std::string& Value(Field f) const { return tag_[f]; }

    void setValue(Field f, const std::string& v) { SetText(tag_[f], v); }
    void settrack(const std::string& v) { SetText(tag_.track, v); }
    void settitle(const std::string& v) { SetText(tag_.title, v); }
    void setartist(const std::string& v) { SetText(tag_.artist, v); }
    void setalbum(const std::string& v) { SetText(tag_.album, v); }
    void setyear(const std::string& v) { SetText(tag_.year, v); }
    void setGenre(const std::string& v) { SetText(tag_.Genre, v); }
    void setcomment(const std::string& v) { SetText(tag_.comment, v); }
    void setlyrics(const std::string& v) { SetText(tag_.lyrics, v); }
    void setcomposer(const std::string& v) { SetText(tag_.composer, v); }
    void setOrigArtist(const std::string& v) { SetText(tag_.OrigArtist, v); }
    void setcopyright(const std::string& v) { SetText(tag_.copyright, v); }
    void setURL(const std::string& v) { SetText(tag_.URL, v); }
    void setEncodedBy(const std::string& v) { SetText(tag_.EncodedBy, v); }
    void setGenreID(long long id);

    // Reads FileName again (what setFileName runs).
    void ReadTag();
    // Reads `file` (a file or bytes in memory); FileName becomes its name.
    void LoadFrom(const ByteSource& file);
    // Writes the fields; Error is empty on success. Raises no event.
    bool WriteTag();
    // Leaves only the vendor string in the comment packet, then re-reads.
    bool RemoveTag();
    // Empties the texts and sets GenreID to 12; the file is not touched.
    void ClearTag();

    // Where a picture came from: the comment read (an index into the items
    // read) or, in Ogg FLAC, the header packet it is in now, whether it must
    // be written anew, and whether it is an old COVERART picture.
    struct PictureOrigin {
        std::optional<std::size_t> entry;
        std::optional<std::size_t> packet;
        bool changed = false;
        bool legacy = false;
        FlacTag::PictureBlock block;
    };

private:
    void ReadPictures();
    std::vector<std::string> PlanSave(const PerField<std::string>& values) const;
    bool SavePictures();
    void ReadPicturePackets(const std::vector<Bytes>& packets, std::size_t headerPackets);
    bool PlanHeaderPackets(const std::vector<Bytes>& old, std::size_t headerPackets,
                           std::vector<Bytes>& out, std::vector<std::size_t>& placed,
                           std::string& reason) const;
    void ReadOpened(const ByteSource& file);
    void FinishRead();
    void SetText(std::string& field, const std::string& value);
    void ResetForRead();
    bool Rewrite(const std::vector<std::string>& comments, const std::string& failure);
    void NotePicturesPlaced(const std::vector<std::size_t>& placed);

    std::string fileName_;
    VorbisStreamInfo tag_;
    std::string vendor_;
    std::vector<std::string> others_;
    FieldItems<std::string> items_;  // every comment read, raw
    std::vector<Picture> pictures_;
    std::vector<PictureOrigin> pictureOrigins_;
    std::optional<std::string> pendingSynced_;
    std::vector<std::size_t> pictureEntries_;  // comments read as pictures (not COVERART)
    std::vector<std::size_t> picturePackets_;  // Ogg FLAC: header packets holding pictures now

    OggCodec codec_ = OggCodec::Vorbis;
    std::uint16_t preSkip_ = 0;  // Opus: samples to drop at the start, at 48 kHz
    std::int64_t granule_ = 0;
    std::int64_t fileLength_ = 0;
    std::int64_t id3Size_ = 0;
    std::uint8_t channels_ = 0;
    std::uint32_t sampleRate_ = 0;
    std::int32_t nominalBitrate_ = 0;
    std::uint8_t bitsPerSample_ = 0;
};

}  // namespace sondrel
