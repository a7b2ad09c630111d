#include "shell/window_rules.h"

#include <QFileInfo>
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

InfoClick InfoGridDoubleClick(int row) {
    if (row == 8)
        return InfoClick::Pictures;
    if (row == 9)
        return InfoClick::Lyrics;
    return InfoClick::Both;
}

}  // namespace shell
