// SPDX-License-Identifier: GPL-3.0-or-later
// Fills the information window with the stream facts of the file the tag
// editor has just read, through its format's handler.
#pragma once

#include <QString>
#include <QStringList>
#include <string>

#include "editor/format_bridge.h"

class InfoWindow;

namespace shell {

// `fileName` is the row's name shown above the grid; `path` the file that
// the format's component read (for MP3 the MPEG analysis runs on it); `format`
// what TagBridge::Read gave for it, whose handler fills the rows. Another
// extension only names the file and empties the rows.
void ShowStreamInfo(InfoWindow* info, sondrel::TagBridge& bridge, sondrel::TagFormat format,
                    const QString& fileName, const std::string& path);

// A byte count with a space between groups of three digits ("1 234 567").
QString GroupedSize(qint64 size);

}  // namespace shell
