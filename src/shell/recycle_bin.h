// SPDX-License-Identifier: GPL-3.0-or-later
// Moving a file or folder to the desktop's trash (the freedesktop trash on
// Linux, the recycle bin on Windows), silently and without confirmation.
#pragma once

#include <QString>

#include <string>

namespace shell {

// True when the item went to the trash. The file operations do not report
// the outcome (they check what is left), but tests and callers may.
bool DeleteToRecycleBin(const QString& path);
// The same for a UTF-8 path from the core.
bool DeleteToRecycleBin(const std::string& path);

}  // namespace shell
