// SPDX-License-Identifier: GPL-3.0-or-later
// The folder scan that fills the file list: one folder, or in subfolder mode
// its whole tree, listed as `FileRow`s in list order. Which files are listed
// comes from the format registry's extensions.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "editor/file_rows.h"
#include "editor/format_bridge.h"

namespace sondrel {

// How deep subfolder mode descends below the shown folder. Deeper folders
// are not entered: real libraries are a few levels deep, and a tree deeper
// than this is far more likely a maze of links than music.
inline constexpr int kMaxFolderDepth = 32;

struct FolderScanOptions {
    bool showFolders = true;               // folder rows and the ".." row
    bool subfolders = false;               // the files of the whole tree
    bool onlySelectedSubfolders = false;   // subfolder mode enters only the chosen ones
    std::vector<TagFormat> hiddenFormats;  // formats whose files are not listed
};

// What the scan needs of the list it replaces (for "only selected subfolders").
struct PreviousSelection {
    std::vector<std::string> selectedFolderCaptions;  // selected folder rows at the top
    bool anyFileSelected = false;
};

struct FolderScanHooks {
    std::function<bool()> keepGoing;                   // false once the user stopped
    std::function<void(const std::string&)> onFolder;  // each folder entered, for progress
};

// Scans `folder` into the rows of the list, in list order (SortListRows):
// the ".." row (when folders are shown, outside subfolder mode, not at the
// root), folder rows, then files. Hidden entries are left out. Links are
// followed, but no folder is entered twice and no file is listed twice (by
// device and inode), so links back up the tree cannot make the scan loop.
// nullopt when the folder cannot be read.
std::optional<std::vector<FileRow>> ScanFolder(std::string_view folder,
                                               const FolderScanOptions& options,
                                               const PreviousSelection& previous = {},
                                               const FolderScanHooks& hooks = {});

}  // namespace sondrel
