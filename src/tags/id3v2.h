// SPDX-License-Identifier: GPL-3.0-or-later
// Id3v2Tag: the ID3v2 tag at the start of an MP3 file, and the hub whose
// record (TagFields) every other format is shown and saved through. Reads 2.2 to
// 2.4, writes 2.3, removes the tag, and keeps the attached pictures. Frames
// that no field owns are carried over unchanged on every save.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tags/field_items.h"
#include "tags/id3v2_frames.h"
#include "tags/picture.h"
#include "tags/tag_model.h"

namespace sondrel {

class File;
class FileSnapshot;
class ReplaceWriter;

class Id3v2Tag : public TagComponent {
public:
    // The failure texts users see.
    static constexpr const char* kMsgNoFile = "File does not exist!";
    static constexpr const char* kMsgNoTag = "MP3 does not contain a id3v2 or wrong file format!";
    static constexpr const char* kMsgFileError = "File error!";
    static constexpr const char* kMsgRemoveDenied = "Error removing tag!";
    static constexpr const char* kMsgRemoveFailed = "File error (remove)!";
    static constexpr const char* kMsgAddImage = "Error adding image";
    static constexpr const char* kMsgDeleteImage = "Delete image";
    static constexpr const char* kMsgPictureUnreadable = "Can't read picture file";
    static constexpr const char* kMsgDamagedTag =
        "The ID3v2 tag could not be read completely; saving would lose part of it";
    static constexpr const char* kMsgTailUnreadable =
        "the tags at the end of the file could not be read again";
    // Allowed slack between a new tag and the old one for keeping its size.
    static constexpr std::int64_t kInPlaceSlack = 500;
    // A picture file larger than this is refused by AddImage.
    static constexpr std::int64_t kMaxPictureBytes = 64 * 1024 * 1024;

    Id3v2Tag() = default;

    const std::string& FileName() const { return fileName_; }
    // Stores the path, reads the file, then fires onFileNameChange.
    void setFileName(const std::string& path);
    // The same for a file already opened by the caller (read from its bytes).
    void LoadFrom(const ByteSource& file);

    const TagFields& Fields() const { return tag_; }
    // Copies the whole record (ImagesCount stays the length of the picture list).
    void setFields(const TagFields& tag);

    const std::string& track() const { return tag_.track; }
    const std::string& title() const { return tag_.title; }
    const std::string& artist() const { return tag_.artist; }
    const std::string& album() const { return tag_.album; }
    const std::string& year() const { return tag_.year; }
    const std::string& Genre() const { return tag_.Genre; }
    const std::string& comment() const { return tag_.comment; }
    const std::string& text() const { return tag_.text; }
    const std::string& composer() const { return tag_.composer; }
    const std::string& OrigArtist() const { return tag_.OrigArtist; }
    const std::string& copyright() const { return tag_.copyright; }
    const std::string& URL() const { return tag_.URL; }
    const std::string& EncodedBy() const { return tag_.EncodedBy; }
    std::uint8_t GenreID() const { return tag_.GenreID; }

    void settrack(const std::string& v) { Set(tag_.track, v); }
    void settitle(const std::string& v) { Set(tag_.title, v); }
    void setartist(const std::string& v) { Set(tag_.artist, v); }
    void setalbum(const std::string& v) { Set(tag_.album, v); }
    void setyear(const std::string& v) { Set(tag_.year, v); }
    void setGenre(const std::string& v) { Set(tag_.Genre, v); }
    void setcomment(const std::string& v) { Set(tag_.comment, v); }
    void settext(const std::string& v) { Set(tag_.text, v); }
    void setcomposer(const std::string& v) { Set(tag_.composer, v); }
    void setOrigArtist(const std::string& v) { Set(tag_.OrigArtist, v); }
    void setcopyright(const std::string& v) { Set(tag_.copyright, v); }
    void setURL(const std::string& v) { Set(tag_.URL, v); }
    void setEncodedBy(const std::string& v) { Set(tag_.EncodedBy, v); }
    // Values above 147 are stored as 12.
    void setGenreID(long long id);

    std::uint8_t VersionHigh() const { return tag_.VersionHigh; }
    std::uint8_t VersionLow() const { return tag_.VersionLow; }
    std::uint8_t Flags() const { return tag_.Flags; }
    std::int32_t TagSize() const { return tag_.TagSize; }
    std::int32_t ImagesCount() const { return tag_.ImagesCount; }

    // Language code written into a new COMM or USLT frame ("eng" unless it
    // is exactly three characters). A rewritten frame keeps the language of
    // the one it replaces unless a language was set here.
    const std::string& LyricsLanguage() const { return lyricsLanguage_; }
    void setLyricsLanguage(const std::string& v) {
        lyricsLanguage_ = v;
        languageChosen_ = true;
    }
    // The code page of text stored with encoding 0 (ISO-8859-1 by the
    // standard; some files were written in a local code page).
    const std::string& LegacyCodePage() const { return legacyCodePage_; }
    void setLegacyCodePage(const std::string& v) { legacyCodePage_ = v; }

    // Reads the tag of FileName; false when none was loaded (Error says why).
    bool ReadTag();
    // Empties the fields and the picture list; the file is not touched.
    void ClearTag();
    // Saves the record and the pictures as a 2.3 tag (2.4 when the old tag
    // was 2.4 and holds frames 2.3 cannot carry unchanged). When the new
    // frames fit the old tag with at most kInPlaceSlack bytes to spare, the
    // tag keeps its size and is written in place (tags/region_write);
    // otherwise, or for a write-protected file, the file is rewritten
    // safely. Frames of fields whose value is still the one read are kept
    // as they were. Refuses to replace a tag that could not be read
    // completely. Calls no event. With `tail`, the end it plans (the other
    // tags of the file) is written in the same transaction.
    bool WriteTag(const TailPlan& tail = {});
    // Takes the tag out of the file, then reads the file again; with `tail`,
    // the new file also ends as planned. Without a tag, nothing is written.
    bool RemoveTag(const TailPlan& tail = {});
    // True when the file can be opened for writing.
    bool CanWrite(const std::string& fileName) const;

    // The frames of the last read that no field shows, in file order, named
    // by identifier and, for COMM, USLT, WXXX and TXXX, description:
    // "TXXX:REPLAYGAIN_TRACK_GAIN", "PRIV", "COMM:iTunNORM". Saves keep them.
    const std::vector<std::string>& OtherFrames() const { return otherFrames_; }

    // Synchronised lyrics for the next WriteTag (memory only): they replace
    // the SYLT frame of the same language, description and content type;
    // every other SYLT frame stays as it was. A read forgets them.
    void SetSyncedLyrics(id3v2::SyncedLyrics lyrics);
    // The SYLT frames of the last read that could be interpreted, in file order.
    std::vector<id3v2::SyncedLyrics> SyncedLyricsRead() const;

    // ---- Pictures (positions count from 0) ----
    const std::vector<Picture>& Pictures() const { return pictures_; }
    // Replaces the whole list (memory only).
    void setPictures(std::vector<Picture> pictures);
    // Inserts the picture file at `position` and saves the tag. False when the
    // position is out of range or the file cannot be read (nothing changes);
    // true otherwise, with the outcome of the save in Error.
    bool AddImage(int position, const std::string& fileName, const std::string& description,
                  int pictureType = 3);
    // 0 on success (the tag is saved), -1 for a position outside the list.
    std::int32_t DeleteImage(int position);
    std::string GetMIME(int position) const;
    std::string GetDescription(int position) const;
    // Memory only; the next WriteTag stores it.
    void SetDescription(int position, const std::string& description);
    // Writes the picture's bytes to `fileName` (an empty file for a position
    // outside the list). 0, or the system's error code with Error set.
    int SaveImageToFile(int position, const std::string& fileName);

private:
    void Set(std::string& field, const std::string& value) {
        field = value;
        Changed();
    }
    bool ReadFile(const ByteSource& file);
    bool FinishRead();
    void ApplyGenreRule();
    void PrepareGenre();
    std::string LanguageFor(Field field) const;
    std::string DescriptionFor(Field field) const;
    bool WriteFile(File& file, const TailPlan& tail);
    bool RemoveFromFile(const TailPlan& tail);
    static bool CopyRest(ReplaceWriter& w, const File& file, std::int64_t keepFrom,
                         std::int64_t fileSize, const TailPlan& tail);
    void SyncImagesCount() { tag_.ImagesCount = static_cast<std::int32_t>(pictures_.size()); }

    std::string fileName_;
    TagFields tag_;
    std::vector<Picture> pictures_;
    std::vector<std::string> otherFrames_;
    // The frames of the last read (pictures aside), by the field they show.
    FieldItems<id3v2::RawFrame> items_;
    std::uint8_t readGenreId_ = kGenreOther;
    std::string lyricsLanguage_ = "eng";
    bool languageChosen_ = false;
    std::optional<id3v2::SyncedLyrics> pendingSynced_;
    std::string legacyCodePage_ = "ISO-8859-1";
};

}  // namespace sondrel
