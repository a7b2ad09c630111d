// The file list's entries and the folder scan that fills them: one entry per
// row, parallel to the list, from which every command takes its paths.
#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <optional>
#include <vector>

struct FileEntry {
    QString Folder;    // the folder holding the entry, with a trailing separator
    QString FileName;  // empty for folder entries and the parent entry
    QString Ext;       // upper-cased extension with its dot; empty for folders
    QString Caption;   // what the row shows

    bool IsFile() const { return !FileName.isEmpty(); }
    bool IsParent() const { return FileName.isEmpty() && Caption == QLatin1String(".."); }
    bool IsFolder() const { return FileName.isEmpty() && !IsParent(); }
    QString Path() const { return Folder + FileName; }
    bool operator==(const FileEntry&) const = default;
};

// The six format switches, in the order their masks are searched.
enum class FormatSwitch { MP3, OGG, WMA, APE, MP4, MPC };
inline constexpr int kFormatSwitchCount = 6;

// Extensions (lower case, no dot) that each switch lists.
const QStringList& SwitchExtensions(FormatSwitch format);

struct ScanOptions {
    bool showDirs = true;
    bool subfolders = false;              // btnSubFolders
    bool onlySelectedSubfolders = false;  // cbShowSelectedSubfolders
    std::array<bool, kFormatSwitchCount> formats{true, true, true, true, true, true};
};

// What the scan needs of the list it replaces (for "only selected subfolders").
struct PreviousSelection {
    QStringList selectedFolderCaptions;  // selected folder rows at the top of the list
    bool anyFileSelected = false;
};

struct ScanHooks {
    std::function<bool()> keepGoing;   // false once the user stopped the scan
    std::function<void()> pumpEvents;  // lets pending user-interface events run
};

// Scans `folder` into the rows of the list, sorted as the list shows them:
// the ".." row (when folders are shown, outside subfolder mode, not at the
// root), folder rows by caption, then files by folder and name, all in the
// locale's case-insensitive collation. nullopt when the folder cannot be read.
std::optional<std::vector<FileEntry>> ScanFolder(const QString& folder, const ScanOptions& options,
                                                 const PreviousSelection& previous = {},
                                                 const ScanHooks& hooks = {});

// The folder with the platform's separator at its end.
QString WithTrailingSeparator(const QString& folder);
