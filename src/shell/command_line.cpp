// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/command_line.h"

#include <QFileInfo>

StartupArgs ParseStartupArgs(const QStringList& arguments) {
    StartupArgs result;
    // arguments[0] is the program itself.
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments.at(i);
        if (arg == QLatin1String("-f") && i + 1 < arguments.size()) {
            result.file = QFileInfo(arguments.at(++i)).absoluteFilePath();
            result.folder = QFileInfo(result.file).absolutePath();
        } else if (arg == QLatin1String("--choose-folder")) {
            result.chooseFolder = true;
        } else if (result.folder.isEmpty() && !arg.startsWith(QLatin1Char('-'))) {
            // A file opened from the desktop (the entry's %f) is selected in
            // its folder, as "-f" does.
            const QFileInfo info(arg);
            if (info.isFile()) {
                result.file = info.absoluteFilePath();
                result.folder = info.absolutePath();
            } else {
                result.folder = info.absoluteFilePath();
            }
        }
    }
    return result;
}
