// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/file_table.h"

#include <QFile>

#include <algorithm>

#include "editor/format_registry.h"

QString FromNative(const std::string& name) {
    return QFile::decodeName(QByteArray::fromStdString(name));
}

std::string ToNative(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

FileEntry FileEntry::Of(const sondrel::FileRow& row) {
    return {FromNative(row.folder), FromNative(row.fileName), FromNative(row.ext),
            FromNative(row.caption)};
}

sondrel::FolderScanOptions CoreScanOptions(const ScanOptions& options) {
    sondrel::FolderScanOptions out;
    out.showFolders = options.showDirs;
    out.subfolders = options.subfolders;
    out.onlySelectedSubfolders = options.onlySelectedSubfolders;
    // The switches follow the registry's order of formats.
    const auto formats = sondrel::AllFormats();
    for (std::size_t i = 0; i < std::min(formats.size(), options.formats.size()); ++i) {
        if (!options.formats[i])
            out.hiddenFormats.push_back(formats[i]->Id());
    }
    return out;
}
