// The program's command line: nothing, a folder path, or "-f" and a file path.
#pragma once

#include <QString>
#include <QStringList>

struct StartupArgs {
    QString folder;  // folder to open; empty when none was given
    QString file;    // file to select after opening its folder ("-f")
};

StartupArgs ParseStartupArgs(const QStringList& arguments);
