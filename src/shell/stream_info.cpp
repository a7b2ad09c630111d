// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/stream_info.h"

#include "editor/editor_rules.h"
#include "shell/info_window.h"

namespace shell {

namespace {

void Fill(InfoWindow* info, sondrel::TagBridge& bridge, sondrel::TagFormat format,
          const QString& fileName, const std::string& path) {
    if (!info)
        return;
    info->SetFileName(fileName, QString::fromStdString(path));
    const sondrel::InfoRows rows = sondrel::InfoRowsOf(bridge, format, path);
    QStringList values;
    for (const std::string& value : rows)
        values << QString::fromStdString(value);
    info->SetValues(values);
}

}  // namespace

void ShowStreamInfo(InfoWindow* info, sondrel::TagBridge& bridge, sondrel::TagFormat format,
                    const QString& fileName, const std::string& path) {
    if (format != sondrel::TagFormat::None) {
        Fill(info, bridge, format, fileName, path);
    } else if (info) {
        info->SetFileName(fileName, QString::fromStdString(path));
        info->ClearValues();
    }
}

QString GroupedSize(qint64 size) {
    return QString::fromStdString(sondrel::GroupedNumber(size));
}

}  // namespace shell
