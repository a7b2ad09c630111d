// SPDX-License-Identifier: GPL-3.0-or-later
// What the tag editor's side windows show about a file besides the fields:
// stream facts (the information window), the tag kinds present, the
// pictures, and the frames, comments or items that no field shows. Read
// after TagBridge::Read, from the component that read the file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "editor/format_bridge.h"
#include "tags/file_snapshot.h"

namespace sondrel {

struct StreamFacts {
    bool valid = false;  // the format's component read the stream
    std::string format;  // "1 Layer III", "Ogg Vorbis", "APE 3.99", ...
    std::string length;  // hh:mm:ss
    double seconds = 0;
    std::int64_t bitrate = 0;  // kbit/s, 0 when the format gives none
    bool vbr = false;
    std::int64_t sampleRate = 0;
    std::string channels;
    std::int64_t frames = 0;  // MP3 and Musepack only
    std::string encoder;      // MP3; FLAC gives its vendor string
    std::string md5;          // FLAC: the MD5 of the decoded audio, hex
};

struct TagKinds {
    bool id3v1 = false;
    std::optional<std::string> id3v2;  // "2.3" etc.
    bool ape = false;
    bool lyrics3 = false;
};

struct PictureFacts {
    std::string mime;
    int type = 3;
    std::string description;
    std::int64_t size = 0;
};

// For MP3 this runs the MPEG analysis (mpegInfo) on `path`.
StreamFacts StreamFactsOf(TagBridge& bridge, TagFormat format, const std::string& path);
TagKinds TagKindsOf(TagBridge& bridge, TagFormat format, const std::string& path);
std::vector<PictureFacts> PicturesOf(TagBridge& bridge, TagFormat format);
// Names such as "TXXX:REPLAYGAIN_TRACK_GAIN", "PRIV", "COMM:iTunNORM",
// "DISCNUMBER" or "Album Artist", in file order, as the read listed them.
std::vector<std::string> OtherItemsOf(TagBridge& bridge, TagFormat format);

// Why a file whose stream facts are not valid was not recognised, in words
// (the caller names the file).
std::string NotRecognisedMessage(TagFormat format);

// The same from the snapshot that TagBridge::Read(file) read, without
// opening the file again.
StreamFacts StreamFactsOf(TagBridge& bridge, TagFormat format, const FileSnapshot& file);
TagKinds TagKindsOf(TagBridge& bridge, TagFormat format, const FileSnapshot& file);

}  // namespace sondrel
