// SPDX-License-Identifier: GPL-3.0-or-later
// The batch table's rows: what one selected file contributes (BatchData, read
// from its tags and stream), the values the batch jobs compute for it, the
// shared text rules (track normalisation, size text) and the column sorting.
// Reading files into rows goes through the editor's TagBridge.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "editor/file_facts.h"
#include "editor/format_bridge.h"
#include "tags/tag_model.h"

namespace sondrel {

// Track-number styles of the options ("x", "0x", "00x"): minimum digits - 1.
enum TrackStyle : int {
    kTrackStyleX = 0,
    kTrackStyle0X = 1,
    kTrackStyle00X = 2,
};

// One file of the table, as read at the last rescan.
struct BatchData {
    std::string Path;  // the "Before" text: full path in subfolder mode, else the name
    std::string Track;
    std::string Title;
    std::string Artist;
    std::string Album;
    std::string Year;
    std::string Comment;  // first line only
    std::string Genre;
    std::string FolderName;  // name of the folder holding the file
    std::string Bitrate;     // kbit/s in decimal, empty when unknown
    std::string Freq;        // Hz in decimal, empty when unknown
    std::string SizeText;
    std::int32_t Duration = 0;  // whole seconds
    std::int32_t FileIndex = -1;
    // The main list's entry the row came from.
    std::string Folder;  // with a trailing separator
    std::string FileName;
    std::int64_t FileSize = 0;
    // Whether the file was recognised as its format and read; Problem says
    // why not. Jobs skip rows that are not valid.
    bool Valid = true;
    std::string Problem;

    std::string FullPath() const { return Folder + FileName; }
    // Upper-case extension with its dot (".MP3"), empty without one.
    std::string Ext() const;
};

// One row of the table: the file's record plus what the batch jobs put
// beside it. Rows move as a whole when the table is sorted or reordered.
struct BatchRow {
    BatchData data;
    std::string After;  // composed name, or the outcome of a failed rename
    std::string NewTrack;
    std::string NewTitle;
    std::string NewArtist;
    std::string NewAlbum;
    std::string NewYear;
    std::string NewComment;
    std::string NewGenre;
    std::string CoverUrl;
    // Why a job leaves this row alone ("name does not match the template"),
    // empty when it takes part.
    std::string Problem;
    int RowIndex = 0;  // position at the time of reading
    bool Checked = true;
    // Shown under its parent, the nearest row above that is not a sub-row;
    // sorts and moves keep it directly after the parent (one level deep).
    bool SubRow = false;

    const std::string& Before() const { return data.Path; }
    // The new values set to the current ones.
    void ResetNewValues();
};

// Cut before the first "/", leading zeros removed, then (when not empty)
// zeros put in front up to 1, 2 or 3 characters by the style. "0", "00" and
// "000" therefore become empty.
std::string NormaliseTrack(std::string_view track, int trackStyle);

// Bytes; whole kilobytes with " Kb" from 1024; from 1 MiB, megabytes to one
// decimal (half to even, trailing ".0" dropped) with " Mb". The decimal
// separator is the locale's, passed in by the caller.
std::string SizeText(std::int64_t bytes, std::string_view decimalSeparator = ".");

// Columns of the table, by index.
enum BatchColumn : int {
    kColFlag = 0,
    kColBefore,
    kColAfter,
    kColTrack,
    kColTitle,
    kColArtist,
    kColAlbum,
    kColYear,
    kColGenre,
    kColComment,
    kColBitrate,
    kColFreq,
    kColDuration,
    kColSize,
    kColumnCount,
};
// The eleven optional columns 3 to 13 as slots 0 to 10.
inline constexpr int kFirstOptionalColumn = kColTrack;
inline constexpr int kOptionalColumnCount = kColumnCount - kFirstOptionalColumn;

// The text a column shows. `newValues`: the tabs other than the first show
// the new tag values instead of the current ones.
std::string ColumnText(const BatchRow& row, int column, bool newValues);

// Case-insensitive for ASCII letters, ordinal otherwise; <0, 0 or >0.
int CompareText(std::string_view a, std::string_view b);
// The sort order of a column: unticked before ticked; Track, Year, Bitrate
// and Freq numerically when both are whole numbers, else by text; Duration
// and Size by their numbers; the rest by text.
int CompareRows(const BatchRow& a, const BatchRow& b, int column, bool newValues);

// Header clicks: the first click sorts ascending, another click on the same
// column reverses, a click on another column sorts it ascending.
struct SortState {
    int column = -1;
    bool ascending = true;
    void Click(int clicked);
};
// Stable, and safe with the mixed numeric/text order (which is not always
// transitive). Parents are sorted, and the sub-rows of each parent among
// themselves, directly after it.
void SortRows(std::vector<BatchRow>& rows, int column, bool ascending, bool newValues);
// The order SortRows gives, without moving rows: the old index of the row
// at each new position.
std::vector<std::size_t> SortOrder(const std::vector<BatchRow>& rows, int column, bool ascending,
                                   bool newValues);
// Puts the row at old index order[k] at position k; `order` must be a
// permutation of the rows' indices (as SortOrder gives).
void ApplyOrder(std::vector<BatchRow>& rows, const std::vector<std::size_t>& order);
// The parent of each row: its own index for a row that is not a sub-row
// (and for a sub-row with no row above it), else the nearest such row above.
std::vector<std::size_t> ParentsOf(const std::vector<BatchRow>& rows);

// A file of the main list's selection, in list order.
struct BatchFile {
    std::string Folder;  // with or without a trailing separator
    std::string FileName;
    std::int32_t FileIndex = -1;
};

struct ScanOptions {
    bool subfolderMode = false;
    int trackStyle = kTrackStyleX;
    std::string decimalSeparator = ".";
};

// The record of one file from the hub after a read and the stream facts of
// its format's component.
BatchData MakeData(const BatchFile& file, const TagFields& hub, TagFormat format,
                   const StreamFacts& facts, std::int64_t fileSize, const ScanOptions& options);

// The rescan: reads every file through the bridge into a ticked row.
// `step` is called after each file; returning false stops the scan there
// (the progress window's stop button).
std::vector<BatchRow> ReadBatchRows(TagBridge& bridge, const std::vector<BatchFile>& files,
                                    const ScanOptions& options,
                                    const std::function<bool()>& step = {});

}  // namespace sondrel
