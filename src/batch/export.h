// Export of the batch table's rows: CSV and TSV lists of the visible
// columns, M3U and PLS playlists, and the tab-separated text handed to a
// spreadsheet. Texts are UTF-8 with CR LF line ends.
#pragma once

#include <array>
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
};

inline constexpr std::string_view kPlaylistVersion = "4.6";

// The save name: a name without any dot gets the kind's extension.
std::string ExportFileName(std::string_view path, ExportKind kind);

// The whole text: every row in the given (display) order, ticked or not,
// each line ended by CR LF. The spreadsheet text is the TSV text. Playlist
// titles are the current tag values, not the preview's transformed ones.
std::string BuildExportText(ExportKind kind, const std::vector<BatchRow>& rows,
                            const ExportLayout& layout);

// The bytes of an export file: CSV and TSV start with a UTF-8 byte-order
// mark so that spreadsheets read them as UTF-8.
std::string ExportFileContent(ExportKind kind, std::string_view text);

// Writes the export file (created or replaced whole) through `faults`; an
// existing device or pipe is written into as it is, a folder refused.
IoResult WriteExportFile(const std::string& path, ExportKind kind,
                         const std::vector<BatchRow>& rows, const ExportLayout& layout,
                         const IoFaults& faults = SystemIo());

// The export tab's preview: the new values are the current ones passed
// through transliteration and capitalization (the track unchanged).
void PreviewExport(std::vector<BatchRow>& rows, int transliteration, int capitalization);

}  // namespace sondrel
