// SPDX-License-Identifier: GPL-3.0-or-later
// The shell's side of the file list's rows: a row as Qt text for the
// windows, and the window's scan switches turned into the core's options.
// The rows, their order and the folder scan live in the core
// (editor/file_rows, editor/folder_scan).
#pragma once

#include <QString>
#include <array>

#include "editor/file_rows.h"
#include "editor/folder_scan.h"

// One row of the file list in Qt text, made from the core's row.
struct FileEntry {
    QString Folder;    // the folder holding the entry, with a trailing separator
    QString FileName;  // empty for folder entries and the parent entry
    QString Ext;       // upper-cased extension with its dot; empty for folders
    QString Caption;   // what the row shows

    static FileEntry Of(const sondrel::FileRow& row);
    bool IsFile() const { return !FileName.isEmpty(); }
    bool IsParent() const { return FileName.isEmpty() && Caption == QLatin1String(".."); }
    bool IsFolder() const { return FileName.isEmpty() && !IsParent(); }
    QString Path() const { return Folder + FileName; }
    bool operator==(const FileEntry&) const = default;
};

// File names are bytes on disk: the shell converts them the way Qt does for
// its own file access, so every name survives the round trip.
QString FromNative(const std::string& name);
std::string ToNative(const QString& name);

// The format switches of the window, in the order of their menu items.
enum class FormatSwitch { MP3, OGG, WMA, APE, MP4, MPC, FLAC };
inline constexpr int kFormatSwitchCount = 7;

struct ScanOptions {
    bool showDirs = true;
    bool subfolders = false;              // btnSubFolders
    bool onlySelectedSubfolders = false;  // cbShowSelectedSubfolders
    std::array<bool, kFormatSwitchCount> formats{true, true, true, true, true, true, true};
};

sondrel::FolderScanOptions CoreScanOptions(const ScanOptions& options);
