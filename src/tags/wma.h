// SPDX-License-Identifier: GPL-3.0-or-later
// Tag component for Windows Media Audio (ASF) files: reads the header
// objects (file and stream properties, content description, extended content
// description) and the pictures, and saves by rebuilding the header object in
// front of the unchanged data. Everything it does not edit is kept.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tags/picture.h"
#include "tags/tag_model.h"

namespace sondrel {

// The whole header is held in memory while it is read and rebuilt; a header
// bigger than this is refused rather than allocated.
inline constexpr std::uint64_t kWmaMaxHeaderSize = 64ull << 20;

// What an audio stream may declare and still be taken as audio: the codecs
// carry up to 7.1 channels, 8 to 192 kHz, and at most 32-bit samples of
// every channel at the highest rate.
inline constexpr std::uint32_t kWmaMaxChannels = 8;
inline constexpr std::uint32_t kWmaMinSampleRate = 8'000;
inline constexpr std::uint32_t kWmaMaxSampleRate = 192'000;
inline constexpr std::uint32_t kWmaMaxAvgBytesPerSec = kWmaMaxSampleRate * kWmaMaxChannels * 4;

class WmaTag : public TagComponent {
public:
    // The tag fields are plain members: the editors read and write them
    // directly, and writing one changes only memory (no onChange).
    std::string Track;
    std::string Title;
    std::string Artist;
    std::string Album;
    std::string Year;
    std::string Genre;
    std::string Comment;
    std::string Lyrics;
    std::string Composer;
    std::string OrigArtist;
    std::string Copyright;
    std::string URL;
    std::string EncodedBy;
    std::uint8_t GenreID = kGenreOther;  // never stored in the file

    // The same texts by field (the genre text for Field::Genre).
    std::string& Value(Field f);
    const std::string& Value(Field f) const;
    // What the last read (or save) found for a field; a save keeps the
    // descriptors of every field whose value is still this one.
    const std::string& ReadValue(Field f) const { return read_[f]; }

    WmaTag();
    ~WmaTag() override;

    const std::string& FileName() const { return fileName_; }
    // Stores the name, reads the file, then fires onFileNameChange.
    void setFileName(const std::string& name);

    bool ReadTag();
    // Reads `file` (a file or bytes in memory); FileName becomes its name.
    bool LoadFrom(const ByteSource& file);
    // Rebuilds the header with the fields and pictures in memory.
    bool WriteTag();
    // Empties the fields (GenreID 12) and drops the pictures; the file is untouched.
    void ClearTag();

    // Synchronised lyrics as LRC text for the next save (memory only; a read
    // forgets them): they take the place of the first "SYNCEDLYRICS"
    // descriptor, whatever its case, further ones and the "SYNCEDLYRICS"
    // records of the metadata objects go; empty removes them all.
    void setSyncedLyrics(std::string lrc) { pendingSynced_ = std::move(lrc); }
    // The LRC text of the first "SYNCEDLYRICS" text descriptor as read, else
    // of the first such record of the metadata objects; empty when none.
    std::string SyncedLyricsRead() const;
    // Names of the extended content descriptors that no field shows, in
    // file order, as stored; pictures are listed as pictures.
    std::vector<std::string> OtherItems() const;

    // Stream values of the last valid read.
    std::int64_t FileLength() const { return fileLength_; }
    const std::string& ChannelMode() const { return channelMode_; }
    std::int32_t Frequency() const { return frequency_; }
    double DurationInSeconds() const { return durationInSeconds_; }
    const std::string& Duration() const { return duration_; }  // "hh:mm:ss"
    std::int32_t Bitrate() const { return bitrate_; }          // kbit/s
    std::uint64_t HeaderSize() const { return headerSize_; }
    std::uint32_t HeaderObjectCount() const { return headerObjectCount_; }

    // As read from the header.
    std::uint64_t HeaderFileSize() const { return headerFileSize_; }
    std::uint32_t MaxBitrate() const { return maxBitrate_; }
    std::uint16_t Channels() const { return channels_; }
    std::uint32_t SampleRate() const { return sampleRate_; }
    std::uint32_t AvgBytesPerSec() const { return avgBytesPerSec_; }

    // Pictures of the "ID3" descriptor first, then those of the "WM/Picture"
    // descriptors, then "WM/Picture" records of the header extension.
    std::int32_t ImagesCount() const { return static_cast<std::int32_t>(pictures_.size()); }
    const std::vector<Picture>& Pictures() const { return pictures_; }

    std::string GetMIME(int index) const;
    std::string GetDescription(int index) const;
    // 0, or the system's error code when the file cannot be written.
    std::int32_t SaveImageToFile(int index, const std::string& fileName);
    // Inserts a front-cover picture read from `fileName` at `index` (0 to
    // ImagesCount) and saves at once; false for a bad index or unreadable file.
    bool AddImage(int index, const std::string& fileName, const std::string& description,
                  int pictureType = 3);
    // Drops the picture and saves at once; -1 for a bad index.
    std::int32_t DeleteImage(int index);

    struct Header;  // the parsed header kept for the next save
    // Where a picture is stored: a "WM/Picture" descriptor of the extended
    // content description, a record of a metadata library inside the header
    // extension, or (both -1) the "ID3" descriptor.
    struct PictureOrigin {
        int descriptor = -1;
        int record = -1;
        bool operator==(const PictureOrigin&) const = default;
    };

private:
    bool ReadOpened(const ByteSource& file);
    void Reset();
    bool Save();

    std::string fileName_;
    std::int64_t fileLength_ = 0;
    std::string channelMode_;
    std::int32_t frequency_ = 0;
    double durationInSeconds_ = 0;
    std::string duration_;
    std::int32_t bitrate_ = 0;
    std::uint64_t headerSize_ = 0;
    std::uint32_t headerObjectCount_ = 0;
    std::uint64_t headerFileSize_ = 0;
    std::uint32_t maxBitrate_ = 0;
    std::uint16_t channels_ = 0;
    std::uint32_t sampleRate_ = 0;
    std::uint32_t avgBytesPerSec_ = 0;

    PerField<std::string> read_;
    std::vector<Picture> pictures_;
    std::vector<PictureOrigin> pictureSource_;
    std::unique_ptr<Header> header_;  // the header of the last valid read or save
    std::optional<std::string> pendingSynced_;
};

}  // namespace sondrel
