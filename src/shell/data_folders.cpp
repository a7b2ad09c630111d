// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/data_folders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace shell {

QString UserDataFolder() {
    // The XDG rule: a relative $XDG_DATA_HOME is invalid and ignored.
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    const QString base = !xdg.isEmpty() && QDir::isAbsolutePath(xdg)
                             ? xdg
                             : QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(base + QStringLiteral("/sondrel"));
}

QStringList DataFolders(const QString& programFolder, const QString& fromProgram,
                        const QString& buildTree) {
    QStringList folders{UserDataFolder()};
    const QString installed = QDir::cleanPath(programFolder + QLatin1Char('/') + fromProgram);
    if (!folders.contains(installed))
        folders << installed;
    if (!buildTree.isEmpty() && !folders.contains(QDir::cleanPath(buildTree)))
        folders << QDir::cleanPath(buildTree);
    return folders;
}

QStringList ProgramDataFolders() {
#ifdef SONDREL_BUILD_DATA_DIR
    const QString buildTree = QStringLiteral(SONDREL_BUILD_DATA_DIR);
#else
    const QString buildTree;
#endif
    return DataFolders(QCoreApplication::applicationDirPath(),
                       QStringLiteral(SONDREL_DATA_FROM_BIN), buildTree);
}

QString FindDataFile(const QStringList& folders, const QString& name) {
    for (const QString& folder : folders) {
        const QString path = folder + QLatin1Char('/') + name;
        if (QFileInfo::exists(path))
            return path;
    }
    return {};
}

QString NotFoundText(const QString& name, const QStringList& folders) {
    QStringList shown;
    for (const QString& folder : folders)
        shown << QDir::toNativeSeparators(folder);
    return QCoreApplication::translate("shell", "%1 was not found in: %2")
        .arg(name, shown.join(QStringLiteral(", ")));
}

}  // namespace shell
