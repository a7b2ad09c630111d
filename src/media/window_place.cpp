// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/window_place.h"

#include <QWidget>

#include "media/media_host.h"

namespace {

QString Key(const PlaceRule& rule, const char* part) {
    return QString::fromLatin1(rule.prefix) + QString::fromLatin1(part);
}

int ReadInt(const MediaHost& host, const QString& key, int def) {
    bool ok = false;
    const int value = host.ReadSetting(key, QString::number(def)).trimmed().toInt(&ok);
    return ok ? value : def;
}

}  // namespace

QRect CheckedPlace(const QRect& stored, const QSize& screen, const QSize& fallback) {
    const int left = stored.x() < 0 || stored.x() > screen.width() ? 0 : stored.x();
    const int top = stored.y() < 0 || stored.y() > screen.height() ? 0 : stored.y();
    const int width =
        stored.width() < 0 || stored.width() > screen.width() ? fallback.width() : stored.width();
    const int height = stored.height() < 0 || stored.height() > screen.height() ? fallback.height()
                                                                                : stored.height();
    return {left, top, width, height};
}

QRect StoredPlace(const MediaHost& host, const PlaceRule& rule, const QSize& screen) {
    const QRect stored(ReadInt(host, Key(rule, "Left"), rule.defaults.x()),
                       ReadInt(host, Key(rule, "Top"), rule.defaults.y()),
                       ReadInt(host, Key(rule, "Width"), rule.defaults.width()),
                       ReadInt(host, Key(rule, "Height"), rule.defaults.height()));
    return CheckedPlace(stored, screen, rule.fallback);
}

void StorePlace(MediaHost& host, const PlaceRule& rule, const QWidget& window) {
    // The frame's corner, as it is placed again with move().
    host.WriteSetting(Key(rule, "Left"), QString::number(window.x()));
    host.WriteSetting(Key(rule, "Top"), QString::number(window.y()));
    host.WriteSetting(Key(rule, "Width"), QString::number(window.width()));
    host.WriteSetting(Key(rule, "Height"), QString::number(window.height()));
}
