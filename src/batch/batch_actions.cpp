// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/batch_actions.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace sondrel {

DeleteResult DeleteCheckedFiles(const std::vector<BatchRow>& rows, bool permanent,
                                const TrashMover& toTrash) {
    DeleteResult result;
    auto fail = [&result](const std::string& path, std::string reason) {
        result.outcomes.push_back({path, {}, kOutcomeFileError});
        result.reasons.push_back(std::move(reason));
        ++result.errors;
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const BatchRow& row = rows[i];
        if (!row.Checked)
            continue;
        const std::string path = row.data.FullPath();
        if (row.data.FileName.empty() || row.data.FileName == ".." || row.data.FileName == ".") {
            fail(row.Before(), "not a file: never deleted here");
            continue;
        }
        // lstat: a link is removed as the link, never followed into a folder.
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            fail(row.Before(), std::string("cannot delete: ") + std::strerror(errno));
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            fail(row.Before(), "a folder: never deleted here");
            continue;
        }
        if (permanent) {
            if (::unlink(path.c_str()) != 0) {
                fail(row.Before(), std::string("cannot delete: ") + std::strerror(errno));
                continue;
            }
        } else {
            std::string error;
            if (!toTrash || !toTrash(path, error)) {
                fail(row.Before(),
                     "cannot move to the trash" + (error.empty() ? std::string() : ": " + error));
                continue;
            }
        }
        result.deleted.push_back(i);
    }
    return result;
}

std::string DeleteFailureMessage(int errors) {
    return "Can't delete file(s): " + std::to_string(errors);
}

void PreviewRenameRows(std::vector<BatchRow>& rows, std::string_view nameTemplate,
                       const NameOptions& options, const RenameContext& context) {
    PreviewNames(rows, nameTemplate, options);
    RenameContext dry = context;
    dry.dryRun = true;
    // Refusals of a ticked row, whatever its tick: the user sees why before
    // ticking it.
    dry.asIfTicked = true;
    const RenameResult result = RunRename(rows, dry);
    for (BatchRow& row : rows)
        row.Problem.clear();
    // Outcomes come in row order; match them to the rows from a cursor so
    // that two rows with the same Before each get their own.
    std::size_t cursor = 0;
    for (std::size_t k = 0; k < result.outcomes.size(); ++k) {
        const RenameOutcome& o = result.outcomes[k];
        while (cursor < rows.size() && rows[cursor].Before() != o.Path)
            ++cursor;
        if (cursor == rows.size())
            break;
        rows[cursor].Problem = o.Code == kOutcomeOk ? std::string(kMsgNoName) : result.reasons[k];
        ++cursor;
    }
}

std::string AfterCellText(const BatchRow& row) {
    return row.Problem.empty() ? row.After : row.Problem;
}

std::string RunSummary(const std::string& message, const std::vector<RenameOutcome>& outcomes,
                       const std::vector<std::string>& reasons) {
    std::string lines;
    for (std::size_t k = 0; k < outcomes.size(); ++k) {
        if (outcomes[k].Code == kOutcomeOk)
            continue;
        const std::string& reason =
            k < reasons.size() && !reasons[k].empty() ? reasons[k] : OutcomeText(outcomes[k]);
        lines += "\n" + outcomes[k].Path + ": " + reason;
    }
    return lines.empty() ? std::string() : message + lines;
}

}  // namespace sondrel
