#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "shell/associations.h"
#include "shell/window_rules.h"

namespace {

using namespace shell;

TEST(WindowRules, MainWindowStartClamping) {
    const QSize screen(1024, 768);
    struct Row {
        QRect stored;
        QRect expected;
    };
    const Row rows[] = {
        {{171, 0, 430, 580}, {171, 0, 430, 580}},
        {{5000, 10, 430, 580}, {0, 10, 430, 580}},  // left beyond the screen
        {{-3, -1, 430, 580}, {0, 0, 430, 580}},
        {{10, 900, 430, 580}, {10, 0, 430, 580}},
        {{10, 10, 300, 300}, {10, 10, 430, 527}},   // too small
        {{10, 10, 2000, 900}, {10, 10, 430, 527}},  // larger than the screen
        {{10, 10, 400, 400}, {10, 10, 400, 400}},
    };
    for (const Row& r : rows)
        EXPECT_EQ(ClampMainWindowStart(r.stored, screen), r.expected);
}

TEST(WindowRules, ResizeSnapsTo400) {
    const QSize screen(1024, 768);
    EXPECT_EQ(ClampMainWindowResize({399, 500}, screen), QSize(400, 500));
    EXPECT_EQ(ClampMainWindowResize({500, 300}, screen), QSize(500, 400));
    EXPECT_EQ(ClampMainWindowResize({1100, 800}, screen), QSize(400, 400));
    EXPECT_EQ(ClampMainWindowResize({600, 700}, screen), QSize(600, 700));
}

TEST(WindowRules, InfoWindowStartClamping) {
    const QSize screen(1024, 768);
    EXPECT_EQ(ClampInfoWindowStart({601, 0, 158, 313}, screen), QRect(601, 0, 158, 313));
    EXPECT_EQ(ClampInfoWindowStart({-1, 2000, -5, 5000}, screen), QRect(0, 0, 158, 313));
    EXPECT_EQ(ClampInfoWindowStart({10, 10, 100, 50}, screen), QRect(10, 10, 100, 50));
}

TEST(WindowRules, TrackList) {
    const QStringList x = TrackListEntries(0);
    ASSERT_EQ(x.size(), 33);
    EXPECT_EQ(x[0], QString());
    EXPECT_EQ(x[1], QStringLiteral("1"));
    EXPECT_EQ(x[32], QStringLiteral("32"));
    const QStringList zx = TrackListEntries(1);
    EXPECT_EQ(zx[9], QStringLiteral("09"));
    EXPECT_EQ(zx[10], QStringLiteral("10"));
    const QStringList zzx = TrackListEntries(2);
    EXPECT_EQ(zzx[1], QStringLiteral("001"));
    EXPECT_EQ(zzx[10], QStringLiteral("010"));
    EXPECT_EQ(zzx[32], QStringLiteral("032"));
}

TEST(WindowRules, ProgressPercentAndTimeLeft) {
    EXPECT_EQ(ProgressPercent(0, 0, 4), 0);
    EXPECT_EQ(ProgressPercent(1, 0, 4), 25);
    EXPECT_EQ(ProgressPercent(1, 0, 3), 33);
    EXPECT_EQ(ProgressPercent(2, 0, 3), 67);
    EXPECT_EQ(ProgressPercent(5, 0, 0), 0);  // an empty range does not divide by zero
    EXPECT_EQ(TimeLeftText(30, 25, "Time left: "), QStringLiteral("Time left: 00:01:30"));
    EXPECT_EQ(TimeLeftText(30, 0, "Time left: "), QString());
    EXPECT_EQ(TimeLeftText(10, 100, "Time left: "), QStringLiteral("Time left: 00:00:00"));
}

TEST(WindowRules, UrlLabel) {
    EXPECT_EQ(UrlLabelTarget(""), QString());
    EXPECT_EQ(UrlLabelTarget("me@example.org"), QStringLiteral("mailto:me@example.org"));
    EXPECT_EQ(UrlLabelTarget("example.org"), QStringLiteral("http://example.org"));
    EXPECT_EQ(UrlLabelTarget("http://example.org"), QStringLiteral("http://example.org"));
    EXPECT_EQ(UrlLabelTarget(QString(300, 'a')).size(), 259);
}

TEST(WindowRules, HelpFileFallsBackToEnglish) {
    QTemporaryDir dir;
    EXPECT_EQ(HelpFileFor(dir.path(), "Deutsch"), QString());
    QFile(dir.filePath("English.html")).open(QIODevice::WriteOnly);
    EXPECT_EQ(HelpFileFor(dir.path(), "Deutsch"), dir.filePath("English.html"));
    QFile(dir.filePath("Deutsch.html")).open(QIODevice::WriteOnly);
    EXPECT_EQ(HelpFileFor(dir.path(), "Deutsch"), dir.filePath("Deutsch.html"));
}

TEST(WindowRules, InfoGridDoubleClickRouting) {
    EXPECT_EQ(InfoGridDoubleClick(8), InfoClick::Pictures);
    EXPECT_EQ(InfoGridDoubleClick(9), InfoClick::Lyrics);
    EXPECT_EQ(InfoGridDoubleClick(0), InfoClick::Both);
    EXPECT_EQ(InfoGridDoubleClick(16), InfoClick::Both);
}

TEST(Associations, InstallAndRemoveDesktopEntries) {
    QTemporaryDir dir;
    const AssociationFiles files = AssociationPaths(dir.path());
    ApplyAssociations("/opt/so \"n\"/sondrel", true, true, dir.path());
    QFile mp3(files.mp3);
    ASSERT_TRUE(mp3.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(mp3.readAll());
    EXPECT_TRUE(text.contains("Exec=\"/opt/so \\\"n\\\"/sondrel\" -f %f")) << text.toStdString();
    EXPECT_TRUE(text.contains("MimeType=audio/mpeg;"));
    EXPECT_TRUE(QFile::exists(files.folder));
    ApplyAssociations("/opt/sondrel", false, true, dir.path());
    EXPECT_FALSE(QFile::exists(files.mp3));
    EXPECT_TRUE(QFile::exists(files.folder));
    ApplyAssociations("/opt/sondrel", false, false, dir.path());
    EXPECT_FALSE(QFile::exists(files.folder));
}

}  // namespace
