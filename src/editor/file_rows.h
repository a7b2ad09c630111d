// SPDX-License-Identifier: GPL-3.0-or-later
// The rows of the file list and what the list does with them: their order,
// finding rows again by path after a rescan, and the navigation helpers. The
// window binds a list model to a `FileRows`; every command takes its paths
// from the rows, never from the text the list shows.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sondrel {

// The folder of a row, read as the text it holds. Copies share one text:
// the rows of a folder hold its path once, so a large folder's list costs
// no allocation per row for it.
class FolderPath {
public:
    FolderPath() = default;
    // Implicit, so a row is built from a plain text.
    FolderPath(std::string path)
        : text_(path.empty() ? nullptr : std::make_shared<const std::string>(std::move(path))) {}
    FolderPath(const char* path) : FolderPath(std::string(path)) {}

    const std::string& str() const { return text_ ? *text_ : Empty(); }
    operator const std::string&() const { return str(); }
    operator std::string_view() const { return str(); }
    bool empty() const { return str().empty(); }
    std::size_t size() const { return str().size(); }
    const char* c_str() const { return str().c_str(); }

    friend bool operator==(const FolderPath& a, const FolderPath& b) {
        return a.text_ == b.text_ || a.str() == b.str();
    }
    friend bool operator==(const FolderPath& a, const std::string& b) { return a.str() == b; }
    friend bool operator==(const FolderPath& a, std::string_view b) { return a.str() == b; }
    friend bool operator==(const FolderPath& a, const char* b) { return a.str() == b; }
    friend std::string operator+(const FolderPath& a, std::string_view b) {
        std::string out;
        out.reserve(a.size() + b.size());
        out.append(a.str()).append(b);
        return out;
    }
    friend std::ostream& operator<<(std::ostream& out, const FolderPath& f);

private:
    static const std::string& Empty();
    std::shared_ptr<const std::string> text_;
};

// One row of the file list: a file, a subfolder, or the ".." row.
struct FileRow {
    FolderPath folder;     // the folder holding the entry, with a trailing '/'
    std::string fileName;  // empty for folder rows and the parent row
    std::string ext;       // upper-cased extension with its dot; empty for folders
    std::string caption;   // what the row shows

    bool IsFile() const { return !fileName.empty(); }
    bool IsParent() const { return fileName.empty() && caption == ".."; }
    bool IsFolder() const { return fileName.empty() && !IsParent(); }
    std::string Path() const { return folder + fileName; }
    bool operator==(const FileRow&) const = default;
};

// `folder` with one '/' at its end.
std::string WithTrailingSeparator(std::string_view folder);

// Text folded for ordering: decomposed, accents dropped, case-folded.
// Malformed UTF-8 falls back to the bytes with ASCII letters lowered.
std::string OrderKey(std::string_view text);
// Natural order of two folded keys: runs of digits compare by their value
// ("track 2" before "track 10"), everything else byte by byte.
int NaturalCompare(std::string_view a, std::string_view b);
// Natural, case-insensitive order of two texts; equal keys fall back to the
// bytes so that the order is total.
bool NaturalLess(std::string_view a, std::string_view b);
// The folded key of `text` with each digit run spelt so that comparing two
// sort keys byte by byte gives NaturalCompare of their folded keys: a sort
// then compares plain bytes instead of scanning digit runs on every compare.
std::string SortKey(std::string_view text);
void AppendSortKey(std::string_view text, std::string& out);

// The indexes of `rows` in list order (see SortListRows).
std::vector<std::size_t> ListOrder(const std::vector<FileRow>& rows);
// Puts `rows` in list order: the parent row first, folder rows by caption,
// then files grouped by folder (a folder's own files before those of its
// subfolders, subfolders in tree order) and by name within a folder.
void SortListRows(std::vector<FileRow>& rows);

// What names a row across rescans: the path of a file or folder, ".." for
// the parent row.
std::string RowKey(const FileRow& row);

// Going one folder up from `shownFolder`: the folder to show and the name
// of the folder left (to select it there). An empty `folder` when the shown
// folder is the root and there is nowhere to go.
struct FolderUp {
    std::string folder;
    std::string left;
};
FolderUp GoingUp(std::string_view shownFolder);

// What activating a row does.
struct RowAction {
    enum Kind { None, GoUp, OpenFolder, Play } kind = None;
    std::string folder;  // the folder to show for OpenFolder
};

class FileRows {
public:
    // Replaces the rows; `shownFolder` is the folder the list shows, and
    // `subfolders` whether the rows come from its whole tree.
    void Reset(std::vector<FileRow> rows, std::string shownFolder = {}, bool subfolders = false);
    void Clear() { Reset({}); }

    int Count() const { return static_cast<int>(rows_.size()); }
    bool Valid(int row) const { return row >= 0 && row < Count(); }
    const FileRow& At(int row) const { return rows_.at(static_cast<std::size_t>(row)); }
    const std::vector<FileRow>& Rows() const { return rows_; }
    const std::string& ShownFolder() const { return shownFolder_; }
    bool Subfolders() const { return subfolders_; }

    // The row named by `key` (see RowKey), or -1.
    int RowOfKey(std::string_view key) const;
    // The rows of `keys` that are still listed, in list order.
    std::vector<int> RowsOfKeys(const std::vector<std::string>& keys) const;
    // The keys of `rows` (rows out of range are left out).
    std::vector<std::string> KeysOf(const std::vector<int>& rows) const;

    // Of `rows`, those that are files, in list order.
    std::vector<int> FileRowsAmong(std::vector<int> rows) const;
    // Every file row: what "select all" selects.
    std::vector<int> AllFileRows() const;
    // The first row whose caption equals `name` without regard to case, or -1.
    int RowOfCaption(std::string_view name) const;
    // The folder row named `caption` among the folder rows at the top of
    // the list (the folder just left after going up), or -1.
    int FolderRowNamed(std::string_view caption) const;

    // What activating `row` does.
    RowAction ActionOf(int row) const;
    // The folder of `row` as seen from the shown folder: the shown folder's
    // name, then the subfolders down to the row's ("Music/alpha/deep"). A
    // row outside the shown folder gives its whole folder; out of range, "".
    std::string FolderSeen(int row) const;

private:
    std::vector<FileRow> rows_;
    std::string shownFolder_;
    bool subfolders_ = false;
};

}  // namespace sondrel
