// SPDX-License-Identifier: GPL-3.0-or-later
// The tag editor's format layer: one instance of every tag component, the
// copies between each component and the hub record (a TagFields), the
// MP3 merge of ID3v1 into the hub, and reading, saving and tag removal
// dispatched by a file's extension. The GUI editor, the batch engines and
// the command-line tool all drive files through this object.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tags/ape.h"
#include "tags/file_snapshot.h"
#include "tags/flac.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"
#include "tags/mp4.h"
#include "tags/mpeg_info.h"
#include "tags/musepack.h"
#include "tags/ogg.h"
#include "tags/wma.h"

namespace sondrel {

// Which ID3 versions a read takes / a save writes (list positions of the
// "Read Tag" and "Save Tag" choices).
enum TagVersionChoice : int {
    kVersion1 = 0,
    kVersion2 = 1,
    kVersion12 = 2,
};

// Defaults are the main window's first-run settings.
struct EditorOptions {
    int readChoice = kVersion12;
    int saveChoice = kVersion12;
    bool useLyrics3 = true;
    int capitalization = 0;   // CaseMode of util/text.h
    int transliteration = 0;  // TranslitMode; the main window always uses 0
    // Code page of 8-bit texts that carry no encoding (ID3v1, Lyrics3,
    // ID3v2 encoding 0, APE 1.0).
    std::string legacyCodePage = "ISO-8859-1";
};

enum class TagFormat { None, MP3, Ogg, WMA, APE, MP4, MPC, FLAC };

// By the extension alone, compared without regard to case (".mp3", "MP3").
TagFormat FormatOfExt(std::string_view ext);
// The extension of the last path component, dot included; empty without one.
std::string ExtOf(std::string_view path);
TagFormat FormatOfPath(std::string_view path);
// "MP3", "Ogg", ... ; "" for None.
std::string_view FormatName(TagFormat format);

// The track number a one-byte track field stores for a free-form track
// text: the text before the first "/" as a decimal number, its low 8 bits;
// 0 when it is empty or not a number.
std::uint8_t TrackByteOf(std::string_view track);
// The first `count` characters (not bytes) of UTF-8 text.
std::string FirstChars(std::string_view s, std::size_t count);

// What a save or removal came to: the error text the editor reports for
// the file (empty on success) and whether every write succeeded.
struct SaveOutcome {
    bool ok = true;
    std::string error;
};

// Ape: the APE tag of MP3, Monkey's Audio and Musepack files (cut out by a
// safe replace). Wma, Mp4: the text fields of those files cleared by a save
// (pictures and items no field shows stay).
enum class RemoveKind { Id3v1, Id3v2, AllId3, Ogg, Ape, Wma, Mp4 };

// The field copies between a component and a hub record. From a component:
// its values as the hub holds them (a track number 0 is no track; a genre
// number the table lacks is 12).
TagFields HubValuesOf(const OggVorbisTag& c);
TagFields HubValuesOf(const WmaTag& c);
TagFields HubValuesOf(const ApeTaggedComponent& c);
TagFields HubValuesOf(const Mp4Tag& c);
TagFields HubValuesOf(const FlacTag& c);
// The MP3 merge: the ID3v2 tag's record with ID3v1/Lyrics3 values taken in
// by the read choice (all of them for version 1, the empty fields for 1&2,
// none for version 2).
TagFields MergeId3v1(TagFields id3v2Fields, const Id3v1Tag& id3v1, int readChoice);
// Into a component: every field from the hub. A genre number other than 12
// stores the table's name, 12 the hub's own text.
void CopyHubTo(const TagFields& hub, Id3v1Tag& c);
void CopyHubTo(const TagFields& hub, OggVorbisTag& c);
void CopyHubTo(const TagFields& hub, FlacTag& c);
void CopyHubTo(const TagFields& hub, WmaTag& c);
void CopyHubTo(const TagFields& hub, ApeTaggedComponent& c);
// The first value the MP4 module refused (a track that is no number pair, a
// text with a zero byte), empty when it took them all.
std::string CopyHubTo(const TagFields& hub, Mp4Tag& c);

// The main window's set of components. Only the bridge and its format
// handlers (FormatHandler) reach them; everyone else asks the handler.
struct BridgeComponents {
    Id3v1Tag id3v1;
    Id3v2Tag id3v2;
    MpegInfo mpegInfo;
    OggVorbisTag Ogg;
    MonkeysAudioTag APE;
    MusepackTag MPCTag;
    WmaTag WMATag;
    Mp4Tag mp4Tag;
    FlacTag flac;
    // An MP3's two tags as read, and the hub they gave before any reading
    // transformation: a save keeps each tag's own value of every field the
    // user left as it was.
    struct Mp3Read {
        TagFields merged;
        TagFields id3v2;
        TagFields id3v1;
        bool hadId3v2 = false;
        bool hadId3v1 = false;
    } mp3Read;
};

class FormatHandler;

class TagBridge {
public:
    explicit TagBridge(EditorOptions options = {});

    const EditorOptions& Options() const { return options_; }
    // Also passes the Lyrics3 switch and the code page to the components.
    void setOptions(const EditorOptions& options);
    // The write side of every component's saves (the real system by default).
    void SetIoFaults(const IoFaults& faults);
    const IoFaults& IoFaultsInUse() const { return io_; }

    // The record the editor shows, edits and saves; a read fills it.
    const TagFields& Hub() const { return hub_; }
    // The editor's edits (GenreID above 147 becomes 12).
    void setHub(const TagFields& hub);

    // What a read found, into the hub: the fields and genre number of
    // `values` replace the hub's, then TransformTags, and the ID3v1
    // component mirrors the result.
    void TakeRead(const TagFields& values);
    // The same for an MP3: the whole ID3v2 record (picture count and all)
    // merged with `id3v1` by the read choice (MergeId3v1).
    void TakeMp3Read(const TagFields& id3v2Fields, const Id3v1Tag& id3v1);

    // Transliteration and capitalization of title, artist and album;
    // transliteration only of the comment.
    void TransformTags();

    // Empties the hub, reads the file through its format's component and
    // runs the read bridge. Another extension leaves the hub empty.
    TagFormat Read(const std::string& path);
    // The same for a file the caller has opened; for MP3 the components
    // share its bytes instead of each opening the file.
    TagFormat Read(const FileSnapshot& file);
    // Copies the hub into the format's component and writes it (for MP3 by
    // the save choice). Nothing happens for another extension. The file must
    // be the one the components last read (Holds); otherwise nothing is
    // written and the outcome says so.
    SaveOutcome Save(const std::string& path);
    // Synchronised lyrics the next Save of `path` writes beside the plain
    // lyrics, where its format keeps them (the file must be the one read);
    // false when it keeps none. A read forgets them.
    bool SetSyncedLyrics(const std::string& path, const id3v2::SyncedLyrics& lyrics);
    // True when the components that save `path`'s format hold that file.
    bool Holds(const std::string& path) const;
    // The delete commands: nothing is done when the file holds no such tag.
    SaveOutcome Remove(const std::string& path, RemoveKind kind);

    // The genre the editor shows after a read: the table name of the GenreID,
    // or the hub's own text for a genre outside the table.
    std::string DisplayedGenre(TagFormat format) const;

private:
    // The handlers are the bridge's per-format implementation.
    friend class FormatHandler;

    // The hub into the ID3v1 component, as an ID3v1 save would write it.
    void MirrorIntoId3v1();

    EditorOptions options_;
    BridgeComponents parts_;
    TagFields hub_;
    IoFaults io_;
};

}  // namespace sondrel
