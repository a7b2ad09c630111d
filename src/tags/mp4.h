// SPDX-License-Identifier: GPL-3.0-or-later
// Mp4Tag: the tag component of MP4, M4A and AAC files. Each property and
// operation is one call into the m4atag module on the component's own
// m4atag::State, which holds what was read from its file and the edits made
// since; the component adds its file name, GenreID and the outcome of the
// last call. Components share nothing: several can hold and edit files at
// the same time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tags/m4atag.h"
#include "tags/tag_model.h"

namespace sondrel {

class Mp4Tag : public TagComponent {
public:
    Mp4Tag();

    const std::string& FileName() const { return fileName_; }
    // Reads the file at once; Valid tells whether it holds MP4 metadata.
    void setFileName(const std::string& fileName);

    using Getter = std::int32_t (*)(const m4atag::State&, char*, std::int32_t);
    using Setter = bool (*)(m4atag::State&, const char*);

    // A field's text as read and edited (the genre text for Field::Genre),
    // and its change in memory.
    std::string Value(Field f) const;
    void setValue(Field f, const std::string& v);

    // Texts as read and edited (empty when the file is not Valid).
    std::string Track() const;
    std::string Title() const;
    std::string Artist() const;
    std::string Album() const;
    std::string Year() const;
    std::string Comment() const;
    std::string Lyrics() const;
    std::string Composer() const;
    std::string OrigArtist() const;
    std::string Copyright() const;
    std::string URL() const;
    std::string EncodedBy() const;
    std::string Genre() const;
    std::string Codec() const;
    std::string Encoder() const;
    std::string ChannelMode() const;

    // Change the values in memory; WriteTag puts them into the file.
    void setTrack(const std::string& v);
    void setTitle(const std::string& v);
    void setArtist(const std::string& v);
    void setAlbum(const std::string& v);
    void setYear(const std::string& v);
    void setComment(const std::string& v);
    void setLyrics(const std::string& v);
    void setComposer(const std::string& v);
    void setOrigArtist(const std::string& v);
    void setCopyright(const std::string& v);
    void setURL(const std::string& v);
    void setEncodedBy(const std::string& v);
    void setGenre(const std::string& v);

    // Synchronised lyrics as LRC text beside the plain lyrics, as read and
    // edited; an empty text removes them at the next WriteTag.
    std::string SyncedLyrics() const;
    void setSyncedLyrics(const std::string& lrc);
    // Keys of the items that no field shows, in file order, as read.
    const std::vector<std::string>& OtherItems() const;

    // Set from the genre text on every read; values outside 0..147 are stored as 12.
    std::int32_t GenreID() const { return genreId_; }
    void setGenreID(std::int32_t id) { genreId_ = ClampGenreId(id); }

    // -1 (with a reading error in Error) when the file is not Valid.
    std::int32_t FileLength();
    std::int32_t Frequency();
    std::int32_t Bitrate();
    std::int32_t BMP();
    std::int32_t ImagesCount();
    double DurationInSeconds();
    void setBMP(std::int32_t v);

    bool WriteTag();

    // Pictures; adding and deleting change the file at once.
    bool SaveImageToFile(std::int32_t index, const std::string& fileName);
    bool DeleteImage(std::int32_t index);
    bool AddImage(std::int32_t position, const std::string& fileName);
    std::string GetMIME(std::int32_t index) const;
    // Bytes of picture `index` as read; -1 for an index outside the list
    // or when the file is not Valid.
    std::int64_t PictureSize(int index) const;

private:
    std::string Text(Getter get) const;
    void SetText(Setter set, const std::string& value, const char* failure);
    std::int32_t Number(std::int32_t (*get)(const m4atag::State&), const char* failure);

    std::string fileName_;
    std::int32_t genreId_ = kGenreOther;
    m4atag::StatePtr state_;  // never null
};

}  // namespace sondrel
