// Mp4Tag: the tag component of MP4, M4A and AAC files. Each property and
// operation is one call into the m4atag module, which holds the current
// file's metadata; the component keeps only its file name, GenreID and the
// outcome of the last call.
//
// The module has one current file for the whole program. When another
// component has made a different file current since this one read its own,
// the component reads its file again (and repeats its unsaved edits) before
// going on, so its values and writes never land in someone else's file.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tags/tag_model.h"

namespace sondrel {

class Mp4Tag : public TagComponent {
public:
    const std::string& FileName() const { return fileName_; }
    // Reads the file at once; Valid tells whether it holds MP4 metadata.
    void setFileName(const std::string& fileName);

    // Texts of the current file (empty when it is not Valid).
    std::string Track();
    std::string Title();
    std::string Artist();
    std::string Album();
    std::string Year();
    std::string Comment();
    std::string Lyrics();
    std::string Composer();
    std::string OrigArtist();
    std::string Copyright();
    std::string URL();
    std::string EncodedBy();
    std::string Genre();
    std::string Codec();
    std::string Encoder();
    std::string ChannelMode();

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
    std::string GetMIME(std::int32_t index);

private:
    // Makes this component's file the module's current one again when
    // another component has switched it; false when it cannot be read.
    bool Own();
    // Forgets the edits kept for Own once they are in the file.
    void Saved();
    using Getter = std::int32_t (*)(char*, std::int32_t);
    using Setter = bool (*)(const char*);
    std::string Text(Getter get);
    void SetText(Setter set, const std::string& value, const char* failure);
    std::int32_t Number(std::int32_t (*get)(), const char* failure);

    std::string fileName_;
    std::int32_t genreId_ = kGenreOther;
    std::vector<std::pair<Setter, std::string>> pending_;
    std::int32_t pendingBmp_ = -1;
};

}  // namespace sondrel
