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
        } else if (result.folder.isEmpty() && !arg.startsWith(QLatin1Char('-'))) {
            result.folder = QFileInfo(arg).absoluteFilePath();
        }
    }
    return result;
}
