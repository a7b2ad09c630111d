// SPDX-License-Identifier: GPL-3.0-or-later
// Operations on files and folders rather than on tags: renaming an entry of
// the file list, deleting, copying and moving entries to another folder, and
// the remembered target folders. Nothing here ever replaces an existing file
// or folder unless the caller's question was answered "replace".
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace sondrel {

// Renames without ever replacing an existing target; returns 0 or an errno.
int RenameNoReplace(const std::string& from, const std::string& to);
// True when both paths name one file (same device and inode).
bool SameFile(const std::string& a, const std::string& b);

// A menu caption used as a path: its first "&" (the keyboard marker) removed.
std::string WithoutFirstAmpersand(std::string_view caption);

// The name "Rename" proposes for the focused row: "Artist - Title" plus the
// row's extension in lower case (unless the proposal already holds it), the
// row's own text when that leaves only an extension, and no letter a file
// name cannot hold. Folder rows propose their own text.
std::string ProposeEntryName(std::string_view artist, std::string_view title, std::string_view ext,
                             std::string_view rowText, bool isFile);

// One entry an operation could not carry out, and why, in words.
struct EntryFailure {
    std::string path;
    std::string reason;
};

// "." and ".." rows stand for folders the user is in, not for entries: no
// operation copies, moves, renames or deletes them.
bool IsDotEntry(std::string_view path);

// Renames `from` to `to` (both names inside `folder`, or absolute). Refused
// with "File already exists" when `to` names another entry; "" on success,
// otherwise the reason.
std::string RenameEntry(const std::string& folder, const std::string& from, const std::string& to);

// Moves a path to the trash; false with the reason filled when it did not go.
using TrashFunction = std::function<bool(const std::string& path, std::string& reason)>;

// Deletes each path: to the trash, or permanently when `permanent` (a file is
// unlinked; a folder loses only its empty subfolders and itself, so no file in
// it is ever removed that way). Returns every entry that was not deleted.
std::vector<EntryFailure> DeleteEntries(const std::vector<std::string>& paths, bool permanent,
                                        const TrashFunction& trash);

enum class TransferMode { Copy, Move };
// The answer to "the target already holds this name".
enum class ConflictAnswer { Replace, Skip, ReplaceAll, Cancel };

struct TransferCallbacks {
    // Asked for each existing file in the way (not after ReplaceAll); when
    // empty, every such file is skipped.
    std::function<ConflictAnswer(const std::string& existing)> askReplace;
    // Polled between files; false stops after the current one.
    std::function<bool()> keepGoing;
    // After each of the given entries (a whole folder counts as one).
    std::function<void(const std::string& entry)> onEntryDone;
};

struct TransferReport {
    std::size_t filesDone = 0;
    std::size_t filesSkipped = 0;
    bool stopped = false;  // Stop or Cancel ended the run early
    std::vector<EntryFailure> failures;
};

// Copies or moves files and folders (whole trees) into `targetFolder`. A
// move within one file system is a rename that never replaces; across file
// systems each file is copied, flushed and its size checked before the
// source is removed. A copy is written under a temporary name and appears
// under its own name only when complete. A folder is never copied or moved
// into itself or one of its subfolders.
TransferReport TransferEntries(const std::vector<std::string>& sources,
                               const std::string& targetFolder, TransferMode mode,
                               const TransferCallbacks& callbacks);

// The row the file list focuses after a delete: counting on from the row
// after the focused one, the first row that was not selected, less one (the
// place of the deleted focused row); -1 when that is no row of the rescanned
// list. `selected` holds the selected rows before the delete.
int RowAfterDelete(int focused, const std::vector<int>& selected, int rowCountAfter);
// The row after a rename of the focused row: the next one, selected, when
// it exists; else the last row, only focused. -1 for an empty list.
struct RowChoice {
    int row = -1;
    bool select = false;
};
RowChoice RowAfterRename(int focused, int rowCountAfter);

// The remembered copy and move targets and the bookmarks' list size.
inline constexpr std::size_t kRememberedFolders = 10;

// Adds `folder` (with a trailing separator) at the end of `list` unless it is
// empty or already there (compared without the first "&"); the oldest entry
// goes when the list is full. Returns true when the list changed.
bool RememberFolder(std::vector<std::string>& list, std::string_view folder);

}  // namespace sondrel
