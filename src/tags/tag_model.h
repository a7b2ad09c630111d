// SPDX-License-Identifier: GPL-3.0-or-later
// The shared field set, the genre table, and the contract that every tag
// component follows (file-name setter reads, setters fire onChange, failures
// land in Error/onError and never escape as exceptions).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "tags/file_io.h"

namespace sondrel {

inline constexpr std::uint8_t kGenreCount = 148;
inline constexpr std::uint8_t kGenreOther = 12;

// Index = GenreID. ID3v1 genres 0..79 plus the common extensions 80..147.
extern const std::array<std::string_view, kGenreCount> GenreTable;

// Exact, case-sensitive match in index order; 12 ("Other") when none matches.
std::uint8_t GenreIdOf(std::string_view name);
// Any value above 147 is treated as 12.
std::string GenreNameOf(unsigned genreId);
// GenreID setters store 12 for anything out of range.
inline std::uint8_t ClampGenreId(long long id) {
    return (id < 0 || id >= kGenreCount) ? kGenreOther : static_cast<std::uint8_t>(id);
}

// The logical text fields every format maps its keys to. A new field is an
// entry here and in kFieldTable, then a key in each format's table.
enum class Field : std::uint8_t {
    Track,
    Title,
    Artist,
    Album,
    Year,
    Genre,
    Comment,
    Lyrics,
    Composer,
    OrigArtist,
    Copyright,
    URL,
    EncodedBy,
};
inline constexpr std::size_t kFieldCount = 13;

constexpr std::size_t IndexOf(Field f) {
    return static_cast<std::size_t>(f);
}

// One value per field, indexed by Field.
template <typename T>
struct PerField {
    std::array<T, kFieldCount> values{};

    T& operator[](Field f) { return values[IndexOf(f)]; }
    const T& operator[](Field f) const { return values[IndexOf(f)]; }
    bool operator==(const PerField&) const = default;
};

struct TagFields;

// How a field is named where it is stored or shown, and where the hub keeps it.
struct FieldInfo {
    Field field;
    std::string_view key;     // JSON name
    std::string_view option;  // command-line option
    std::string_view label;   // text listing
    std::string TagFields::*member;
};
// In the order the editor and the listings show the fields.
extern const std::array<FieldInfo, kFieldCount> kFieldTable;
const FieldInfo& InfoOf(Field field);

// The hub record: every format is shown, edited and saved through it.
struct TagFields {
    std::string track;
    std::string title;
    std::string artist;
    std::string album;
    std::string year;
    std::string Genre;
    std::string comment;
    std::string text;  // lyrics
    std::string composer;
    std::string OrigArtist;
    std::string copyright;
    std::string URL;
    std::string EncodedBy;
    std::uint8_t GenreID = kGenreOther;
    std::uint8_t VersionLow = 0;
    std::uint8_t VersionHigh = 0;
    std::uint8_t Flags = 0;
    std::int32_t TagSize = 0;
    std::int32_t ImagesCount = 0;

    std::string& operator[](Field f) { return this->*InfoOf(f).member; }
    const std::string& operator[](Field f) const { return this->*InfoOf(f).member; }

    bool operator==(const TagFields&) const = default;
};

// The user-visible values (every field's text and the genre number) from
// `from` into `to`; the pictures and the tag's version stay `to`'s.
void CopyFieldValues(const TagFields& from, TagFields& to);

// The ID3v1 record (with the longer Lyrics3 values where a block supplied them).
struct Id3v1Fields {
    std::uint8_t track = 0;  // 0 = no track number
    std::string header;      // "TAG" when a tag was read
    std::string Title;
    std::string Artist;
    std::string Album;
    std::string Year;     // at most 4 characters
    std::string Comment;  // at most 30 characters
    std::uint8_t GenreID = kGenreOther;
    std::uint8_t VersionLow = 0;  // 1 for ID3v1.1 (track byte present)

    bool operator==(const Id3v1Fields&) const = default;
};

// The text of a component's failure: what failed, then the system's reason
// ("Saving to file: No space left on device"); `what` alone without a reason,
// the reason alone without a `what`. The reason is the system's own words: a
// file-layer prefix such as "write failed: " is dropped, since `what` says it;
// a component's message given as the reason is kept whole.
std::string FailureText(std::string_view what, std::string_view reason);

// Common state and events of every tag component. Each component adds its
// own properties under the names its format uses (FileName or Filename, ...).
class TagComponent {
public:
    using NotifyEvent = std::function<void(TagComponent& sender)>;
    using ErrorEvent = std::function<void(TagComponent& sender, const std::string& error)>;

    NotifyEvent onFileNameChange;
    NotifyEvent onChange;
    ErrorEvent onError;

    TagComponent() = default;
    TagComponent(const TagComponent&) = delete;
    TagComponent& operator=(const TagComponent&) = delete;
    virtual ~TagComponent() = default;

    bool Valid() const { return valid_; }
    const std::string& Error() const { return error_; }
    // Why a file whose tags were read is damaged elsewhere (cut short, a
    // block or atom that does not fit): its tags are shown, read-only, and
    // every save refuses with DamageRefusal. Empty for a whole file.
    const std::string& Damage() const { return damage_; }
    bool EditAutoSave() const { return editAutoSave_; }
    void setEditAutoSave(bool on) { editAutoSave_ = on; }
    // The write side of this component's saves (the real system by default).
    void SetIoFaults(IoFaults faults) { io_ = std::move(faults); }
    const IoFaults& IoFaultsInUse() const { return io_; }

protected:
    // Records a failure; `notify` calls onError (formats say when it is called).
    void Fail(std::string message, bool notify = true);
    // Records FailureText(what, reason): `reason` is File::LastError, an
    // IoResult's error or the text of errno.
    void Fail(std::string_view what, const std::string& reason, bool notify = true);
    // A literal reason would otherwise pick the overload above as a bool.
    void Fail(std::string_view what, const char* reason, bool notify = true) = delete;
    void Changed();
    void FileNameChanged();

    // Runs `body`, turning any exception into a failure with `message`; a
    // component's public operations never throw.
    template <typename Body>
    bool Guard(const std::string& message, Body&& body) noexcept {
        try {
            return body();
        } catch (...) {
            try {
                Fail(message);
            } catch (...) {
            }
            return false;
        }
    }

    // Records the refusal of a save of a damaged file; false for the caller to return.
    bool RefuseDamaged(bool notify = true);

    bool valid_ = false;
    std::string error_;
    std::string damage_;
    bool editAutoSave_ = false;
    IoFaults io_;
};

}  // namespace sondrel
