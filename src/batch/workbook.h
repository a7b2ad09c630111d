// SPDX-License-Identifier: GPL-3.0-or-later
// The spreadsheet export as a real workbook (.xlsx): the same rows and
// columns as the tab-separated text, with the header bold, columns as wide
// as their text, numbers (track, year, bit rate, frequency, size in bytes)
// stored as numbers and durations as times. A value a spreadsheet would
// take for a formula is a text cell unless the layout says otherwise.
#pragma once

#include <string>
#include <vector>

#include "batch/batch_row.h"
#include "batch/export.h"

namespace sondrel {

struct WorkbookResult {
    bool ok = false;
    std::string error;  // why the workbook could not be written
    explicit operator bool() const { return ok; }
};

// Writes a new workbook at `path` (replacing a file there). Rows in the
// given (display) order, ticked or not; columns as `layout` lists them.
WorkbookResult WriteWorkbook(const std::string& path, const std::vector<BatchRow>& rows,
                             const ExportLayout& layout);

// A fresh name for the workbook in the temporary folder.
std::string TemporaryWorkbookPath();

}  // namespace sondrel
