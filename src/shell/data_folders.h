// SPDX-License-Identifier: GPL-3.0-or-later
// Where the program's data files (language files, skins, help pages, the
// lyrics site list) are looked for, first match wins: the user's own folder,
// then the installed share/sondrel found from the program's folder, then the
// build tree. Nothing is written beside the program.
#pragma once

#include <QString>
#include <QStringList>

namespace shell {

// $XDG_DATA_HOME/sondrel, else ~/.local/share/sondrel: where a user's own
// languages, skins and colour schemes go.
QString UserDataFolder();

// The folders in search order. `programFolder` is the executable's folder,
// `fromProgram` the installed data folder relative to it ("../share/sondrel"),
// `buildTree` the build tree's data folder (empty: none).
QStringList DataFolders(const QString& programFolder, const QString& fromProgram,
                        const QString& buildTree);

// The folders of this program as built: DataFolders() over the running
// executable's folder.
QStringList ProgramDataFolders();

// The first folder holding `name` (a file or folder); empty when none does.
QString FindDataFile(const QStringList& folders, const QString& name);

// "<name> was not found in: <folder>, <folder>, ..." for a message.
QString NotFoundText(const QString& name, const QStringList& folders);

}  // namespace shell
