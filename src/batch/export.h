// SPDX-License-Identifier: GPL-3.0-or-later
// Export of the batch table's rows: CSV and TSV lists of the visible
// columns, M3U and PLS playlists, and the tab-separated text handed to a
// spreadsheet. Texts are UTF-8 with CR LF line ends.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_row.h"
#include "tags/file_io.h"

namespace sondrel {

// By the list index of the export choice.
enum class ExportKind : int {
    Spreadsheet = 0,
    Csv = 1,
    Tsv = 2,
    M3u = 3,
    Pls = 4,
};

// The columns a CSV/TSV export lists after the path: the visible optional
// columns as slots 0..10 (column - 3), in the table's display order.
struct ExportLayout {
    std::vector<int> slots;
    std::array<std::string, kOptionalColumnCount> captions = {
        "Track",   "Title",   "Artist", "Album",    "Year", "Genre",
        "Comment", "Bitrate", "Freq",   "Duration", "Size"};
    std::string fileNameCaption = "Filename";
    char csvSeparator = ';';  // a comma for tools that expect one
    // A value a spreadsheet would take for a formula (IsFormulaLike) is
    // kept as text: in CSV and TSV with a leading "'", in the workbook as a
    // text cell. Unset: the kind's default, off for CSV and TSV (their
    // bytes stay what scripts reading them expect), on for the workbook
    // and the spreadsheet text.
    std::optional<bool> escapeFormulas;
};

inline constexpr std::string_view kPlaylistVersion = "4.6";

// True when a spreadsheet would read `value` as a formula: it starts with
// "=", "+", "-", "@", a tab or a carriage return.
bool IsFormulaLike(std::string_view value);
// Whether `layout` asks for formula-like values to be kept as text in an
// export of `kind`.
bool EscapesFormulas(const ExportLayout& layout, ExportKind kind);

// Why the file at `path` cannot be a playlist entry (its name holds a line
// break, which would end the entry's line and start another), or empty.
std::string PlaylistRefusal(std::string_view path);

// The save name: a name without any dot gets the kind's extension.
std::string ExportFileName(std::string_view path, ExportKind kind);

// The whole text: every row in the given (display) order, ticked or not,
// each line ended by CR LF. The spreadsheet text is the TSV text. Playlist
// titles are the current tag values, not the preview's transformed ones,
// with line breaks and control characters as spaces; a playlist leaves out
// the rows PlaylistRefusal refuses.
std::string BuildExportText(ExportKind kind, const std::vector<BatchRow>& rows,
                            const ExportLayout& layout);

// The bytes of an export file: CSV and TSV start with a UTF-8 byte-order
// mark so that spreadsheets read them as UTF-8.
std::string ExportFileContent(ExportKind kind, std::string_view text);

// Writes the export file (created or replaced whole) through `faults`; an
// existing device or pipe is written into as it is, a folder refused. A
// playlist with a row PlaylistRefusal refuses is not written; the error
// names the files.
IoResult WriteExportFile(const std::string& path, ExportKind kind,
                         const std::vector<BatchRow>& rows, const ExportLayout& layout,
                         const IoFaults& faults = SystemIo());

// The export tab's preview: the new values are the current ones passed
// through transliteration and capitalization (the track unchanged).
void PreviewExport(std::vector<BatchRow>& rows, int transliteration, int capitalization);

}  // namespace sondrel
