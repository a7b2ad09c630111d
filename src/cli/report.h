// SPDX-License-Identifier: GPL-3.0-or-later
// Everything `show` prints about one file, gathered from the editor's
// components after a read, and its two renderings (JSON and aligned text).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/json_writer.h"
#include "editor/file_facts.h"
#include "editor/format_bridge.h"

namespace sondrel::cli {

struct FileReport {
    std::string file;
    TagFormat format = TagFormat::None;
    bool valid = false;
    std::string error;
    TagFields hub;
    std::string genre;  // as the editor shows it
    std::vector<PictureFacts> pictures;
    StreamFacts stream;
    TagKinds kinds;
    std::vector<std::string> other;
};

// The genre table's number of a genre text, the same for every format:
// its index where the text is in the table, 255 for no genre, 12 (Other)
// for any other text.
int GenreNumberOf(const std::string& genre);

// Why a file read through `bridge` whose stream was not recognised is no
// valid file of `format`: the plain words, then the format's own reason
// ("no MPEG audio frames found") when it gives one.
std::string NotValidMessage(const TagBridge& bridge, TagFormat format);

// Reads `path` through the bridge and collects the report.
FileReport Gather(TagBridge& bridge, const std::string& path);
// The same from an opened file: the file is not opened again.
FileReport Gather(TagBridge& bridge, const FileSnapshot& file);

// One report as a JSON object. Invalid UTF-8 in a value is replaced rather
// than failing the whole run.
void WriteJson(JsonWriter& w, const FileReport& r);
void PrintText(std::ostream& out, const FileReport& r);

}  // namespace sondrel::cli
