// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/recycle_bin.h"

#include <QFile>

namespace shell {

bool DeleteToRecycleBin(const QString& path) {
    if (path.isEmpty())
        return false;
    return QFile::moveToTrash(path);
}

bool DeleteToRecycleBin(const std::string& path) {
    return DeleteToRecycleBin(QString::fromStdString(path));
}

}  // namespace shell
