// SPDX-License-Identifier: GPL-3.0-or-later
// One driver per tag component: read a file, edit, save, read again, remove
// (where the format can), read again, and collect every broken promise of
// the component contract. Shared by the libFuzzer round-trip targets and by
// the regression, damaged-file and fault-injection tests, so a crash input
// found by the fuzzer is replayed through exactly the same calls.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tags/ape.h"
#include "tags/flac.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"
#include "tags/mp4.h"
#include "tags/mpeg_info.h"
#include "tags/musepack.h"
#include "tags/ogg.h"
#include "tags/wma.h"

namespace sondrel::fuzzing {

// The title every round trip writes: short ASCII, so every format keeps it
// whole (ID3v1 holds 30 characters).
inline constexpr std::string_view kFuzzTitle = "Fuzzed title";

// What one round trip saw. `problems` lists contract violations; an empty
// list means the component either worked or failed the way it promises.
struct RoundTrip {
    bool readValid = false;
    bool writeOk = false;
    bool removeOk = false;
    std::vector<std::string> problems;

    void Expect(bool ok, std::string what) {
        if (!ok)
            problems.push_back(std::move(what));
    }
};

namespace detail {

// A failed save or removal must leave a message behind. (Some formats refuse
// a file without a word when reading, so reads are not held to this.)
inline void ExpectMessage(RoundTrip& r, bool ok, const TagComponent& c, const char* op) {
    r.Expect(ok || !c.Error().empty(), std::string(op) + " failed without an error text");
}

// After a save reported success on a file that was read as valid, reading
// it again must give back what was written.
inline void ExpectSaved(RoundTrip& r, bool validAgain, const std::string& title) {
    if (!r.readValid || !r.writeOk)
        return;
    r.Expect(validAgain, "the saved file no longer reads");
    r.Expect(!validAgain || title == kFuzzTitle, "the saved title came back as \"" + title + "\"");
}

}  // namespace detail

inline RoundTrip RoundTripId3v1(const std::string& path) {
    RoundTrip r;
    Id3v1Tag c;
    c.setFilename(path);
    r.readValid = c.Valid();
    c.setTitle(std::string(kFuzzTitle));
    c.setLyrics("fuzzed lyrics");
    r.writeOk = c.WriteTag();
    detail::ExpectMessage(r, r.writeOk, c, "save");
    c.setFilename(path);
    // A save always leaves a tag behind, even in a file that had none.
    if (r.writeOk) {
        r.Expect(c.Valid(), "the saved file no longer reads");
        r.Expect(c.Title() == kFuzzTitle, "the saved title came back as \"" + c.Title() + "\"");
    }
    r.removeOk = c.RemoveTag();
    detail::ExpectMessage(r, r.removeOk, c, "remove");
    c.setFilename(path);
    return r;
}

inline RoundTrip RoundTripId3v2(const std::string& path) {
    RoundTrip r;
    Id3v2Tag c;
    c.setFileName(path);
    r.readValid = c.Valid();
    c.settitle(std::string(kFuzzTitle));
    c.settext("fuzzed lyrics");
    r.writeOk = c.WriteTag();
    detail::ExpectMessage(r, r.writeOk, c, "save");
    c.setFileName(path);
    if (r.writeOk) {
        r.Expect(c.Valid(), "the saved file no longer reads");
        r.Expect(c.title() == kFuzzTitle, "the saved title came back as \"" + c.title() + "\"");
    }
    r.removeOk = c.RemoveTag();
    detail::ExpectMessage(r, r.removeOk, c, "remove");
    c.setFileName(path);
    return r;
}

inline RoundTrip RoundTripOgg(const std::string& path) {
    RoundTrip r;
    OggVorbisTag c;
    c.setFileName(path);
    r.readValid = c.Valid();
    c.settitle(std::string(kFuzzTitle));
    r.writeOk = c.WriteTag();
    detail::ExpectMessage(r, r.writeOk, c, "save");
    c.setFileName(path);
    detail::ExpectSaved(r, c.Valid(), c.title());
    r.removeOk = c.RemoveTag();
    detail::ExpectMessage(r, r.removeOk, c, "remove");
    c.setFileName(path);
    // Pictures: comments in Vorbis and Opus, header packets of their own
    // in Ogg FLAC, laid out again with every other metadata block.
    if (c.Valid() && c.ImagesCount() > 0) {
        const int before = c.ImagesCount();
        const bool deleted = c.DeleteImage(0);
        detail::ExpectMessage(r, deleted, c, "picture delete");
        c.setFileName(path);
        r.Expect(!deleted || c.ImagesCount() == before - 1, "the deleted picture is still there");
    }
    return r;
}

template <typename Component>
RoundTrip RoundTripApeTagged(const std::string& path) {
    RoundTrip r;
    Component c;
    c.setFilename(path);
    r.readValid = c.Valid();
    c.setTitle(kFuzzTitle);
    r.writeOk = c.WriteTag();
    detail::ExpectMessage(r, r.writeOk, c, "save");
    c.setFilename(path);
    detail::ExpectSaved(r, c.Valid(), c.Title());
    return r;
}

inline RoundTrip RoundTripWma(const std::string& path) {
    RoundTrip r;
    WmaTag c;
    c.setFileName(path);
    r.readValid = c.Valid();
    c.Title = std::string(kFuzzTitle);
    r.writeOk = c.WriteTag();
    detail::ExpectMessage(r, r.writeOk, c, "save");
    c.setFileName(path);
    detail::ExpectSaved(r, c.Valid(), c.Title);
    if (c.Valid() && c.ImagesCount() > 0) {
        r.removeOk = c.DeleteImage(0) == 0;
        detail::ExpectMessage(r, r.removeOk, c, "picture delete");
        c.setFileName(path);
    }
    return r;
}

inline RoundTrip RoundTripMp4(const std::string& path) {
    RoundTrip r;
    Mp4Tag c;
    c.setFileName(path);
    r.readValid = c.Valid();
    c.setTitle(std::string(kFuzzTitle));
    r.writeOk = c.WriteTag();
    detail::ExpectMessage(r, r.writeOk, c, "save");
    c.setFileName(path);
    detail::ExpectSaved(r, c.Valid(), c.Valid() ? c.Title() : std::string());
    return r;
}

inline RoundTrip RoundTripFlac(const std::string& path) {
    RoundTrip r;
    FlacTag c;
    c.setFileName(path);
    r.readValid = c.Valid();
    c.setValue(Field::Title, std::string(kFuzzTitle));
    r.writeOk = c.WriteTag();
    detail::ExpectMessage(r, r.writeOk, c, "save");
    c.setFileName(path);
    detail::ExpectSaved(r, c.Valid(), c.Value(Field::Title));
    if (c.Valid() && c.ImagesCount() > 0) {
        const bool deleted = c.DeleteImage(0);
        detail::ExpectMessage(r, deleted, c, "picture delete");
        c.setFileName(path);
    }
    r.removeOk = c.RemoveTag();
    detail::ExpectMessage(r, r.removeOk, c, "remove");
    c.setFileName(path);
    return r;
}

// Only reads: the stream analysis never writes.
inline RoundTrip ReadMpeg(const std::string& path) {
    RoundTrip r;
    MpegInfo c;
    c.setFileName(path);
    r.readValid = c.Valid();
    // Reading twice must give the same facts: nothing may depend on stale state.
    const auto frames = c.FrameCount();
    const auto bitrate = c.Bitrate();
    c.setFileName(path);
    r.Expect(frames == c.FrameCount() && bitrate == c.Bitrate(), "a second analysis differs");
    return r;
}

struct Format {
    std::string_view name;  // folder under tests/data/fuzz/ and fuzz/corpus/
    std::string_view ext;   // the extension the component's files carry
    RoundTrip (*run)(const std::string& path);
};

inline constexpr std::array<Format, 9> kFormats{{
    {"id3v1", ".mp3", &RoundTripId3v1},
    {"id3v2", ".mp3", &RoundTripId3v2},
    {"mpeg", ".mp3", &ReadMpeg},
    {"ogg", ".ogg", &RoundTripOgg},
    {"ape", ".ape", &RoundTripApeTagged<MonkeysAudioTag>},
    {"musepack", ".mpc", &RoundTripApeTagged<MusepackTag>},
    {"wma", ".wma", &RoundTripWma},
    {"mp4", ".m4a", &RoundTripMp4},
    {"flac", ".flac", &RoundTripFlac},
}};

inline const Format* FindFormat(std::string_view name) {
    for (const auto& f : kFormats)
        if (f.name == name)
            return &f;
    return nullptr;
}

}  // namespace sondrel::fuzzing
