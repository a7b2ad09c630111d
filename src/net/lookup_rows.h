// SPDX-License-Identifier: GPL-3.0-or-later
// The batch rows of an online look-up: filling the ticked rows from a disc
// found and writing their new values into the files through the batch
// save (the FreeDB and the store look-up share the writing).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "batch/batch_row.h"
#include "editor/format_bridge.h"
#include "net/cddb.h"

namespace sondrel::net {

// The ticked rows in display order get track numbers 1, 2, … (by the track
// style), the disc's values and their own track's artist and title (empty
// when the disc has no such track). Rows not ticked are left alone. The
// look-up brings no comment, so each row keeps its own.
void FillRowsFromDisc(std::vector<BatchRow>& rows, const cddb::DiscInfo& disc, int trackStyle);

struct LookupWriteResult {
    std::vector<std::size_t> written;  // rows whose files were saved
    struct Failure {
        std::string path;
        std::string error;
    };
    std::vector<Failure> failures;
};

// Called after a row's file was saved (the store look-up adds its cover
// there); returns an error text, empty on success.
using AfterSave = std::function<std::string(const BatchRow& row, TagBridge& bridge)>;

// Writes the ticked, valid rows in display order: each file is read, given
// the row's track, title, artist, album, year and genre (the genre number
// from the genre table) and its comment when it changed, and saved.
// `step` is called after each file. Without `afterSave` the files are
// written as save groups, and a file whose flush or rename fails at its
// group's commit moves from `written` to `failures`.
LookupWriteResult WriteLookupRows(std::vector<BatchRow>& rows, TagBridge& bridge,
                                  const AfterSave& afterSave = {},
                                  const std::function<void()>& step = {});

}  // namespace sondrel::net
