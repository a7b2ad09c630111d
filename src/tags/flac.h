// SPDX-License-Identifier: GPL-3.0-or-later
// FLAC: the metadata blocks in front of the audio frames. STREAMINFO gives
// the stream facts, VORBIS_COMMENT the fields (through the shared Vorbis
// comment code), PICTURE blocks the pictures; every other block is kept
// byte for byte in its place. A save writes in place when the new blocks
// fit the old ones and their padding, otherwise it rewrites the file with
// fresh padding. An ID3v2 tag in front of the stream is kept and skipped.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tags/field_items.h"
#include "tags/file_io.h"
#include "tags/picture.h"
#include "tags/tag_model.h"

namespace sondrel {

class FlacTag : public TagComponent {
public:
    // A block's length field holds 24 bits.
    static constexpr std::uint32_t kMaxBlockBytes = 0xFFFFFF;
    // Bounds on what the metadata may make us hold: a file claiming more is
    // refused as damaged.
    static constexpr std::size_t kMaxBlocks = 1024;
    static constexpr std::int64_t kMaxMetadataBytes = std::int64_t{64} << 20;
    // One comment's text, and one picture's bytes, must fit a block of their own.
    static constexpr std::uint32_t kMaxCommentBytes = kMaxBlockBytes - 8;
    static constexpr std::uint32_t kMaxPictureBytes = kMaxBlockBytes - 32;
    // Padding left behind a rewrite, so the next edits fit in place.
    static constexpr std::uint32_t kPadding = 4096;
    // Vendor string of a comment block we create.
    static constexpr const char* kVendor = "Sondrel";

    struct StreamInfo {
        std::uint16_t minBlockSize = 0;
        std::uint16_t maxBlockSize = 0;
        std::uint32_t sampleRate = 0;
        std::uint8_t channels = 0;
        std::uint8_t bitsPerSample = 0;
        std::uint64_t totalSamples = 0;  // 0: unknown
        std::array<std::uint8_t, 16> md5{};
    };

    FlacTag() = default;

    const std::string& FileName() const { return fileName_; }
    // Stores the name, reads the file, then raises onFileNameChange.
    void setFileName(const std::string& path);
    // Reads FileName again.
    void ReadTag();
    // Reads `file` (a file or bytes in memory); FileName becomes its name.
    void LoadFrom(const ByteSource& file);
    // Writes the fields and the pictures; Error is empty on success.
    bool WriteTag();
    // Leaves only the vendor string in the comment block (pictures and
    // other blocks stay), then reads the file again.
    bool RemoveTag();

    const std::string& Value(Field f) const { return values_[f]; }
    void setValue(Field f, const std::string& v);
    const std::string& Genre() const { return values_[Field::Genre]; }
    void setGenre(const std::string& v) { setValue(Field::Genre, v); }
    std::uint8_t GenreID() const { return genreId_; }
    void setGenreID(long long id);

    // The vendor string and the comments no field owns ("KEY=value"), as read.
    const std::string& Vendor() const { return vendor_; }
    const std::vector<std::string>& OtherComments() const { return others_; }
    // Names of the blocks kept as they are ("SEEKTABLE", "APPLICATION", ...).
    std::vector<std::string> OtherBlocks() const;

    // Stream facts of the last read.
    const StreamInfo& Stream() const { return info_; }
    std::int64_t FileLength() const { return fileLength_; }
    std::int64_t AudioOffset() const { return audioOffset_; }
    std::int64_t AudioSize() const;
    double DurationSeconds() const;
    std::string Duration() const;   // hh:mm:ss
    std::uint32_t Bitrate() const;  // kbit/s from the audio size
    std::string ChannelMode() const;
    // The STREAMINFO MD5 of the decoded audio in lower-case hex; empty when unset.
    std::string Md5Hex() const;
    // Bytes of padding the file holds.
    std::int64_t PaddingSize() const { return paddingSize_; }

    // Pictures in file order. The picture operations change the file at
    // once (except a description, kept until the next save) and keep the
    // fields as they were read.
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
    void setSyncedLyrics(std::string lrc) { pendingSynced_ = std::move(lrc); }

    // What a read keeps of each block: the bytes of a block kept as it is,
    // and where the comments and the pictures stood.
    struct Block {
        std::uint8_t type = 0;
        Bytes body;  // empty for padding, comments and pictures
    };
    // A picture's block fields besides the Picture, and its block as read
    // (empty when new or changed, so a save renders it again).
    struct PictureBlock {
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        std::uint32_t depth = 0;
        std::uint32_t colors = 0;
        Bytes raw;
    };

private:
    void ResetForRead();
    void ReadOpened(const ByteSource& f);
    void FinishRead();
    bool Save(const PerField<std::string>& values, const std::string& failure);
    Bytes RenderBlocks(const std::vector<std::string>& comments) const;

    std::string fileName_;
    PerField<std::string> values_;
    std::uint8_t genreId_ = kGenreOther;
    std::string vendor_;
    bool hadComments_ = false;
    std::vector<std::string> others_;
    std::optional<std::string> pendingSynced_;
    FieldItems<std::string> items_;
    std::vector<Block> blocks_;
    std::vector<Picture> pictures_;
    std::vector<PictureBlock> pictureBlocks_;

    StreamInfo info_;
    std::int64_t fileLength_ = 0;
    std::int64_t metaStart_ = 0;  // first block header, after "fLaC"
    std::int64_t audioOffset_ = 0;
    std::int64_t paddingSize_ = 0;
};

namespace flac {

// The body of a PICTURE block (FLAC format, METADATA_BLOCK_PICTURE), which
// Ogg streams also carry, base64-coded, as a comment. A parse fails on a
// length that points past the end or a type beyond 255; `pb.raw` is left alone.
bool ParsePictureBlock(std::span<const std::uint8_t> body, Picture& picture,
                       FlacTag::PictureBlock& pb);
Bytes RenderPictureBlock(const Picture& picture, const FlacTag::PictureBlock& pb);

// A picture file read for a PICTURE block: MIME type by its name, an
// unknown type as 3 (front cover); nullopt with the reason in `reason`.
std::optional<Picture> ReadPictureFile(const std::string& fileName, const std::string& description,
                                       int pictureType, std::string& reason);
// Writes a picture's bytes to `fileName`; false with the reason in `reason`.
bool WritePictureFile(const Picture& picture, const std::string& fileName, const IoFaults& io,
                      std::string& reason);

}  // namespace flac

}  // namespace sondrel
