#include "shell/file_table.h"

#include <QFile>

namespace {

// The format each switch lists, by the switch's position.
constexpr std::array<sondrel::TagFormat, kFormatSwitchCount> kSwitchFormats{
    sondrel::TagFormat::MP3, sondrel::TagFormat::Ogg, sondrel::TagFormat::WMA,
    sondrel::TagFormat::APE, sondrel::TagFormat::MP4, sondrel::TagFormat::MPC};

}  // namespace

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
    for (std::size_t i = 0; i < kSwitchFormats.size(); ++i) {
        if (!options.formats[i])
            out.hiddenFormats.push_back(kSwitchFormats[i]);
    }
    return out;
}
