// SPDX-License-Identifier: GPL-3.0-or-later
// The batch commands of sondrel-tag: rename (file names from tags), parse
// (tags from file names) and export (CSV, TSV, M3U, PLS), over the same
// engines as the batch window.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "batch/batch_row.h"

namespace sondrel::cli {

// Every file by its absolute path, so that rows show full paths and names
// with folders are placed relative to the current folder.
std::vector<BatchFile> BatchFilesOf(const std::vector<std::string>& paths);

// Runs `argv` (without the program name, starting at the command) when its
// command is rename, parse or export and returns the exit status (0 all
// succeeded, 1 some file failed, 2 usage error); nullopt for any other
// command.
std::optional<int> RunBatchCommand(const std::vector<std::string>& argv, std::ostream& out,
                                   std::ostream& err);

}  // namespace sondrel::cli
