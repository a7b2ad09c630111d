// SPDX-License-Identifier: GPL-3.0-or-later
// The batch window's runs that are not an engine of their own: the delete
// of ticked files, the reasons a rename or tag-writing run will refuse a
// row (shown in the row before the run), and the messages after a run.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "batch/batch_row.h"
#include "batch/name_template.h"

namespace sondrel {

// Moves one file to the desktop's trash; false with `error` set when it did
// not go there. The window gives the desktop's trash, tests their own.
using TrashMover = std::function<bool(const std::string& path, std::string& error)>;

struct DeleteResult {
    std::vector<RenameOutcome> outcomes;  // the rows that failed, code kOutcomeFileError
    std::vector<std::string> reasons;     // beside each outcome
    std::vector<std::size_t> deleted;     // indices into the rows, to deselect
    int errors = 0;
};

// Deletes the file of every ticked row, in display order: permanently, or
// through `toTrash`. A failed trash move counts like a failed delete. The
// parent entry ".." and folders are never deleted here.
DeleteResult DeleteCheckedFiles(const std::vector<BatchRow>& rows, bool permanent,
                                const TrashMover& toTrash);

inline constexpr const char* kMsgDeleteQuestion = "Are you sure to delete all checked files?";
std::string DeleteFailureMessage(int errors);

// The tags give a name that is only the extension.
inline constexpr const char* kMsgNoName = "the tags give no name";

// The first tab's preview: every row's After composed anew, then the rows
// a run would refuse (file not recognised, no name, a folder that cannot
// be made, an existing or duplicate target) get the run's own reason in
// Problem, found by a dry run of the same rename. Others have it emptied.
void PreviewRenameRows(std::vector<BatchRow>& rows, std::string_view nameTemplate,
                       const NameOptions& options, const RenameContext& context);

// What a row's After cell shows on the first tab: the refusal when there is
// one, else the composed name.
std::string AfterCellText(const BatchRow& row);

// The summary after a run: empty when nothing failed, else the message
// with the count and one line per failure ("path: reason").
std::string RunSummary(const std::string& message, const std::vector<RenameOutcome>& outcomes,
                       const std::vector<std::string>& reasons);

}  // namespace sondrel
