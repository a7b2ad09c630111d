// SPDX-License-Identifier: GPL-3.0-or-later
// "Open with Sondrel" for MP3 files and folders. On Linux these are desktop
// entries in the user's applications folder; failures are ignored.
#pragma once

#include <QString>

namespace shell {

struct AssociationFiles {
    QString mp3;     // desktop entry for MP3 files
    QString folder;  // desktop entry for folders
};

// The entries' paths under `applicationsDir` (default: the user's
// ~/.local/share/applications).
AssociationFiles AssociationPaths(const QString& applicationsDir);
QString DefaultApplicationsDir();

// Installs or removes each entry. `execPath` is the program's full path.
void ApplyAssociations(const QString& execPath, bool mp3Files, bool folders,
                       const QString& applicationsDir = DefaultApplicationsDir());

}  // namespace shell
