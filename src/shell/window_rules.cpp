// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/window_rules.h"

#include <QFileInfo>
#include <QObject>
#include <algorithm>
#include <cmath>

#include "util/text.h"

namespace shell {

QRect ClampMainWindowStart(const QRect& stored, const QSize& screen) {
    int left = stored.left();
    int top = stored.top();
    int width = stored.width();
    int height = stored.height();
    if (top < 0 || top > screen.height())
        top = 0;
    if (left < 0 || left > screen.width())
        left = 0;
    if (width > screen.width() || width < 400)
        width = 430;
    if (height > screen.height() || height < 400)
        height = 527;
    return QRect(left, top, width, height);
}

QSize ClampMainWindowResize(const QSize& size, const QSize& screen) {
    QSize result = size;
    if (result.width() < 400 || result.width() > screen.width())
        result.setWidth(400);
    if (result.height() < 400 || result.height() > screen.height())
        result.setHeight(400);
    return result;
}

QRect ClampInfoWindowStart(const QRect& stored, const QSize& screen) {
    int left = stored.left();
    int top = stored.top();
    int width = stored.width();
    int height = stored.height();
    if (top < 0 || top > screen.height())
        top = 0;
    if (left < 0 || left > screen.width())
        left = 0;
    if (width < 0 || width > screen.width())
        width = 158;
    if (height < 0 || height > screen.height())
        height = 313;
    return QRect(left, top, width, height);
}

QPoint KeepTitleBarOnScreen(const QRect& frame, const QList<QRect>& screens) {
    if (screens.isEmpty())
        return frame.topLeft();
    const int grip = std::min(kTitleBarGrip, std::max(frame.width(), 1));
    const QRect title(frame.left(), frame.top(), frame.width(), kTitleBarHeight);
    for (const QRect& screen : screens) {
        const QRect on = title.intersected(screen);
        if (on.height() == kTitleBarHeight && on.width() >= grip)
            return frame.topLeft();
    }
    QRect target = screens.front();
    int best = 0;
    for (const QRect& screen : screens) {
        const QRect overlap = frame.intersected(screen);
        const int area = overlap.isEmpty() ? 0 : overlap.width() * overlap.height();
        if (area > best) {
            best = area;
            target = screen;
        }
    }
    const int top =
        std::clamp(frame.top(), target.top(), target.top() + target.height() - kTitleBarHeight);
    const int left = std::clamp(frame.left(), target.left() - frame.width() + grip,
                                target.left() + target.width() - grip);
    return QPoint(left, top);
}

QStringList TrackListEntries(int trackIndex) {
    const int digits = (trackIndex >= 0 && trackIndex <= 2) ? trackIndex + 1 : 1;
    QStringList list{QString()};
    for (int n = 1; n <= 32; ++n)
        list << QStringLiteral("%1").arg(n, digits, 10, QLatin1Char('0'));
    return list;
}

int ProgressPercent(int position, int minimum, int maximum) {
    if (maximum <= minimum)
        return 0;
    return static_cast<int>(std::lround(static_cast<double>(position - minimum) /
                                        static_cast<double>(maximum - minimum) * 100.0));
}

QString TimeLeftText(double elapsedSeconds, int percent, const QString& prefix) {
    if (percent <= 0)
        return QString();
    const double left = elapsedSeconds * (100 - percent) / percent;
    const auto seconds = static_cast<int>(std::lround(left));
    return prefix + QString::fromStdString(sondrel::SecondsToTime(seconds));
}

QString UrlLabelTarget(const QString& urlBox) {
    if (urlBox.isEmpty())
        return QString();
    QString target;
    if (urlBox.contains(QLatin1Char('@'))) {
        target = QStringLiteral("mailto:") + urlBox;
    } else if (urlBox.startsWith(QLatin1String("http://"))) {
        target = urlBox;
    } else {
        target = QStringLiteral("http://") + urlBox;
    }
    return target.left(259);
}

QString HelpFileFor(const QString& programFolder, const QString& language) {
    const QString own = programFolder + QLatin1Char('/') + language + QStringLiteral(".html");
    if (QFileInfo::exists(own))
        return own;
    const QString english = programFolder + QStringLiteral("/English.html");
    if (QFileInfo::exists(english))
        return english;
    return QString();
}

double RelativeLuminance(const QColor& color) {
    auto linear = [](int channel) {
        const double v = channel / 255.0;
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = color.toRgb();
    return 0.2126 * linear(rgb.red()) + 0.7152 * linear(rgb.green()) + 0.0722 * linear(rgb.blue());
}

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = RelativeLuminance(a);
    const double lb = RelativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

namespace {

QColor Blend(const QColor& from, const QColor& to, double t) {
    auto mix = [t](int a, int b) { return static_cast<int>(std::lround(a + (b - a) * t)); };
    const QColor f = from.toRgb();
    const QColor g = to.toRgb();
    return QColor(mix(f.red(), g.red()), mix(f.green(), g.green()), mix(f.blue(), g.blue()));
}

}  // namespace

QColor ReadableHintColor(const QColor& field, const QColor& hint) {
    if (ContrastRatio(field, hint) >= kMinHintContrast)
        return hint.toRgb();
    // The smallest step away from the chosen hint, in whichever direction works first.
    for (int step = 1; step <= 100; ++step) {
        const double t = step / 100.0;
        for (const QColor& end : {QColor(Qt::black), QColor(Qt::white)}) {
            const QColor candidate = Blend(hint, end, t);
            if (ContrastRatio(field, candidate) >= kMinHintContrast)
                return candidate;
        }
    }
    return ReadableTextOn(field);
}

QColor ReadableTextOn(const QColor& background) {
    return ContrastRatio(background, Qt::black) >= ContrastRatio(background, Qt::white)
               ? QColor(Qt::black)
               : QColor(Qt::white);
}

QString ReadChoiceNote(int readChoice) {
    switch (readChoice) {
        case 0:
            return QObject::tr("Read Tag: version 1 only");
        case 1:
            return QObject::tr("Read Tag: version 2 only");
        default:
            return QString();
    }
}

InfoClick InfoGridDoubleClick(int row) {
    if (row == 8)
        return InfoClick::Pictures;
    if (row == 9)
        return InfoClick::Lyrics;
    return InfoClick::Both;
}

}  // namespace shell
