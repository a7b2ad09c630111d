// SPDX-License-Identifier: GPL-3.0-or-later
// The program's command line: nothing, a folder path, a file path (or "-f"
// and one: its folder, with the file selected), and "--choose-folder".
#pragma once

#include <QString>
#include <QStringList>

struct StartupArgs {
    QString folder;  // folder to open; empty when none was given
    QString file;    // file to select after opening its folder ("-f")
    // The desktop entry's "Open Folder" action: ask for the folder at start.
    bool chooseFolder = false;
};

StartupArgs ParseStartupArgs(const QStringList& arguments);
