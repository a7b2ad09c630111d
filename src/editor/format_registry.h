// SPDX-License-Identifier: GPL-3.0-or-later
// One handler per audio format and the one registry that picks it. Code
// outside the handlers never switches on the format: it asks the registry for
// the handler of a path (or of a TagFormat) and calls it. Adding a format is
// one new handler module and one line in the registry.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "editor/editor_rules.h"
#include "editor/file_facts.h"
#include "editor/format_bridge.h"

namespace sondrel {

class FormatHandler {
public:
    virtual ~FormatHandler() = default;

    virtual TagFormat Id() const = 0;
    // "MP3", "Ogg", ... as listings show it.
    virtual std::string_view Name() const = 0;
    // Upper case, dot included: ".MP3".
    virtual std::span<const std::string_view> Extensions() const = 0;
    // Whether its stream facts carry a bit rate worth showing.
    virtual bool ShowsBitrate() const { return true; }
    // Whether its files carry an ID3v1 tag beside the main one, so the
    // editor hints at values too long for it and "version 1" reads show it.
    virtual bool HasId3v1() const { return false; }

    // Reads `path` into the format's components and copies them to the hub.
    virtual void Read(TagBridge& bridge, const std::string& path) const = 0;
    // The same from bytes the caller read; formats that open their files
    // themselves read the path.
    virtual void Read(TagBridge& bridge, const FileSnapshot& file) const;
    // Whether the components that save this format were given `path`.
    virtual bool Holds(const TagBridge& bridge, const std::string& path) const = 0;
    // Copies the hub into the components and writes them.
    virtual SaveOutcome Save(TagBridge& bridge) const = 0;

    // Validity of the last read, and the error text a report shows.
    virtual bool Valid(const TagBridge& bridge) const = 0;
    virtual std::string Error(const TagBridge& bridge) const = 0;
    // Why a file read as valid is damaged elsewhere: its tags are shown
    // read-only and its saves refused; empty for a whole file.
    virtual std::string Damage(const TagBridge&) const { return {}; }
    // Whether the file already held a tag of its own (with the save choice
    // for MP3): tag runs in "leave" mode pass such files by.
    virtual bool HasOwnTag(const TagBridge& bridge) const = 0;

    // Stream facts; MP3 runs its stream analysis on `file` or else `path`.
    virtual StreamFacts Stream(TagBridge& bridge, const FileSnapshot* file,
                               const std::string& path) const = 0;
    // The end-of-file scan corrected by what the components could read.
    virtual TagKinds Kinds(const TagBridge& bridge, TagKinds scanned) const;
    virtual std::vector<PictureFacts> Pictures(TagBridge& bridge) const;
    // Items no field shows, as the components listed them during the read.
    virtual std::vector<std::string> OtherItems(TagBridge& bridge) const;
    // The information window's rows beyond those every format fills.
    virtual void FillInfoRows(TagBridge& bridge, const StreamFacts& facts,
                              InfoRows& rows) const = 0;

    // Picture editing; each returns an error text, empty on success.
    virtual bool HoldsPictures() const { return false; }
    virtual std::string LoadPictures(TagBridge& bridge, const std::string& path) const;
    virtual int PictureCount(TagBridge& bridge) const;
    // `type` is the ID3v2 picture type (3: front cover).
    virtual std::string AddPicture(TagBridge& bridge, int position, const std::string& file,
                                   const std::string& description, int type,
                                   std::string& warning) const;
    virtual std::string DeletePicture(TagBridge& bridge, int position) const;
    virtual std::string ExtractPicture(TagBridge& bridge, int position,
                                       const std::string& to) const;
    // A picture's description, in memory until the next save; false where
    // the format keeps no descriptions.
    virtual bool SetPictureDescription(TagBridge&, int, const std::string&) const { return false; }

    // Synchronised lyrics for the next Save (memory only; a read forgets
    // them), kept beside the plain lyrics; false where the format keeps none.
    virtual bool SetSyncedLyrics(TagBridge&, const id3v2::SyncedLyrics&) const { return false; }

    // The track text the format stores for a typed `value`, given the
    // file's `current` one; nullopt (with the reason) for a value it cannot hold.
    virtual std::optional<std::string> TrackToStore(const std::string& value, const std::string&,
                                                    std::string&) const {
        return value;
    }

    // Tag removal: whether `kind` removes a tag this format can hold, and
    // the removal itself (asked only for such a kind).
    virtual bool Removes(RemoveKind) const { return false; }
    virtual SaveOutcome Remove(TagBridge& bridge, const std::string& path, RemoveKind kind) const;

protected:
    // The bridge's components, for the handlers alone.
    static BridgeComponents& Parts(TagBridge& bridge) { return bridge.parts_; }
    static const BridgeComponents& Parts(const TagBridge& bridge) { return bridge.parts_; }
    // Cuts the APE tag (header, items, footer) out of the end of `path` and
    // keeps what follows it (Lyrics3, ID3v1). A file without one is left alone.
    static SaveOutcome RemoveApeTag(const TagBridge& bridge, const std::string& path);
    // Empties every field through an ordinary save: the removal is as safe
    // as a save, and pictures and unshown items stay.
    static SaveOutcome ClearBySave(TagBridge& bridge, const std::string& path);
    // The stream rows every format shows: size, format, length, bit rate
    // (unless the format gives none), sample rate and channels.
    static void StreamRows(const StreamFacts& facts, std::int64_t fileSize, bool withBitrate,
                           InfoRows& rows);
    static std::string PlusMinus(bool on) { return on ? "+" : "-"; }
    // A save's outcome from the component's error text; some formats
    // report it behind "Error ".
    static SaveOutcome ComponentOutcome(bool written, const std::string& error, bool prefixError) {
        SaveOutcome out;
        out.ok = written;
        if (!error.empty())
            out.error = prefixError ? "Error " + error : error;
        else if (!written)
            out.error = "Error";
        return out;
    }
    // A picture operation's error text: the component's, else `fallback`
    // when it failed without one.
    static std::string PictureOutcome(bool ok, const std::string& error,
                                      std::string_view fallback) {
        if (ok && error.empty())
            return {};
        return error.empty() ? std::string(fallback) : error;
    }
};

// Every format, in the order the extensions are tried.
std::span<const FormatHandler* const> AllFormats();
// Nullptr for TagFormat::None or an extension no format claims.
const FormatHandler* HandlerOf(TagFormat format);
const FormatHandler* HandlerOfPath(std::string_view path);

// The handlers, one per module.
const FormatHandler& Mp3Format();
const FormatHandler& OggFormat();
const FormatHandler& WmaFormat();
const FormatHandler& MonkeysAudioFormat();
const FormatHandler& MusepackFormat();
const FormatHandler& Mp4Format();
const FormatHandler& FlacFormat();

}  // namespace sondrel
