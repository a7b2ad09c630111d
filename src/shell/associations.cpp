// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/associations.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace shell {
namespace {

// Exec keys quote arguments with double quotes; these characters need a backslash.
QString QuoteExec(const QString& path) {
    QString escaped;
    for (QChar c : path) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\')) {
            escaped += QLatin1Char('\\');
        }
        escaped += c;
    }
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

void WriteEntry(const QString& file, const QString& execLine, const QString& mimeType) {
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return;
    const QString text = QStringLiteral(
                             "[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name=Open with Sondrel\n"
                             "Exec=%1\n"
                             "MimeType=%2;\n"
                             "NoDisplay=true\n"
                             "Terminal=false\n")
                             .arg(execLine, mimeType);
    out.write(text.toUtf8());
}

}  // namespace

QString DefaultApplicationsDir() {
    return QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
}

AssociationFiles AssociationPaths(const QString& applicationsDir) {
    return {applicationsDir + QStringLiteral("/sondrel-open-mp3.desktop"),
            applicationsDir + QStringLiteral("/sondrel-open-folder.desktop")};
}

void ApplyAssociations(const QString& execPath, bool mp3Files, bool folders,
                       const QString& applicationsDir) {
    if (applicationsDir.isEmpty())
        return;
    const AssociationFiles files = AssociationPaths(applicationsDir);
    if (mp3Files) {
        WriteEntry(files.mp3, QuoteExec(execPath) + QStringLiteral(" -f %f"),
                   QStringLiteral("audio/mpeg;audio/flac;audio/ogg;audio/x-vorbis+ogg;"
                                  "audio/x-opus+ogg;audio/opus;audio/x-flac+ogg"));
    } else {
        QFile::remove(files.mp3);
    }
    if (folders) {
        WriteEntry(files.folder, QuoteExec(execPath) + QStringLiteral(" %f"),
                   QStringLiteral("inode/directory"));
    } else {
        QFile::remove(files.folder);
    }
}

}  // namespace shell
