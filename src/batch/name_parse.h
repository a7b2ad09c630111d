// SPDX-License-Identifier: GPL-3.0-or-later
// File names to tags: reading values out of file and folder names by the
// name template ("%A\%L\%# %T"), combining them into new field values by
// one expression per field, automatic track numbering, and writing the new
// values through the editor's TagBridge.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_row.h"
#include "batch/name_template.h"
#include "editor/format_bridge.h"

namespace sondrel {

// The texts a name can fill: one per capturable placeholder character
// (#/0 track, T/1 title, A/2 artist, L/3 album, Y/4 year, 5 folder,
// C/6 comment, B/7 bitrate, F/8 frequency, D/9 duration, S size).
class Captures {
public:
    static constexpr std::size_t kCount = 11;
    // The capture slot of a placeholder character (either case), or -1.
    static int SlotOf(char c);
    static bool IsCapturable(char c) { return SlotOf(c) >= 0; }

    // Empty for characters that capture nothing.
    const std::string& Get(char c) const;
    void Set(char c, std::string value);

    // False once a literal text of the template was missing from the name.
    bool Matched() const { return matched_; }
    void SetMismatch() { matched_ = false; }

private:
    std::array<std::string, kCount> values_{};
    bool matched_ = true;
};

// Reads `text` (one file or folder name) by `pattern` (one template
// segment) into the captures; the replacing option is applied to the text
// first. Literal text that does not occur stops the reading and marks the
// captures as not matched.
void ParseSegment(std::string_view text, std::string_view pattern, int replaceMode,
                  Captures& captures);

// Steps 1-3 of reading one file: the template's folder segments against the
// folders that hold the file, innermost first, then the last segment
// against the name without its extension (empty for a vanished file).
// Later captures overwrite earlier ones, so the file name wins.
Captures ParseFileName(std::string_view nameTemplate, const std::string& folder,
                       std::string_view nameWithoutExt, int replaceMode);

// The value of one field expression: "%x" of a capturable character gives
// the capture ("%5" falls back to the shown folder's name), any other "%x"
// and "%%" stay as written; then bad letters, transliteration and
// capitalization.
std::string ExpandField(std::string_view expression, const Captures& captures,
                        std::string_view shownFolderName, const NameOptions& options);

// How new values replace the current ones, by list index.
enum FieldMode : int {
    kModeLeave = 0,
    kModeOverwrite = 1,
    kModeOnlyEmpty = 2,
};

// The six writable fields, in the order of the expression boxes.
enum ParseField : int {
    kFieldTrack,
    kFieldTitle,
    kFieldArtist,
    kFieldAlbum,
    kFieldYear,
    kFieldComment
};
inline constexpr std::size_t kParseFieldCount = 6;

struct FieldExpression {
    std::string expression;
    bool enabled = true;
};

struct GenerateOptions {
    std::string nameTemplate = "%A - %T";
    std::array<FieldExpression, kParseFieldCount> fields = {{
        {"%#", true},
        {"%T", true},
        {"%A", true},
        {"%L", true},
        {"%Y", true},
        {"%C", true},
    }};
    int mode = kModeOverwrite;
    // Automatic numbering: the track expression is then "START-".
    bool autoNumbering = false;
    NameOptions name;
    int trackStyle = kTrackStyleX;
    std::string shownFolderName;  // %5 when no folder filled it
};

// The track expression of automatic numbering from `start` ("5" -> "5-"),
// and back: the start number, 1 when the expression holds none.
std::string AutoNumberExpression(std::string_view start);
long long AutoNumberStart(std::string_view trackExpression);

// Whether a job with these options sets `field` of the row (the rest keep
// their current values).
bool FieldTakesPart(const BatchRow& row, const GenerateOptions& options, ParseField field);

// New values of one row from its captures (steps 5-7 of the job). `counter`
// is the next automatic number; it advances for ticked rows only.
void ComputeNewValues(BatchRow& row, const Captures& captures, const GenerateOptions& options,
                      long long& counter);

// The message of a row whose name does not match the template.
inline constexpr const char* kMsgNameMismatch = "name does not match the template";

// A file is left alone when it has a tag of its own format, the mode is
// "Leave" and nothing is numbered.
bool ShouldWrite(bool hasOwnTag, const GenerateOptions& options);

// Whether the file the bridge last read holds a tag of its format (for
// MP3, a tag of an ID3 version the save choice writes).
bool HasOwnTag(const TagBridge& bridge, TagFormat format);

struct GenerateResult {
    std::vector<std::size_t> written;     // rows whose files were saved (deselect them)
    std::vector<RenameOutcome> outcomes;  // unticked rows (code 0, no name)
    struct Failure {
        std::string path;
        std::string error;
    };
    std::vector<Failure> failures;  // saves that failed
    // Rows left unchanged, with the reason also put in their Problem: files
    // not recognised on reading, names the template does not match.
    std::vector<Failure> skipped;
};

// The whole job over the rows in the main list's order (by FileIndex).
// Without a bridge it is the preview: new values only. With one, the
// ticked rows' files are read, given the six new values and saved. Rows
// that are not valid or whose name does not match the template keep their
// values, show why in Problem and are never written.
// `step` is called after each file of a write run; false stops the run.
GenerateResult GenerateTags(std::vector<BatchRow>& rows, const GenerateOptions& options,
                            TagBridge* bridge = nullptr, const std::function<bool()>& step = {});

}  // namespace sondrel
