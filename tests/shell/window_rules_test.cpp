// SPDX-License-Identifier: GPL-3.0-or-later
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

TEST(WindowRules, TitleBarsStayOnAScreen) {
    const QRect left(0, 0, 1920, 1080);
    const QRect right(1920, 0, 1280, 1024);
    struct Row {
        QRect frame;
        QList<QRect> screens;
        QPoint expected;
    };
    const Row rows[] = {
        {{171, 0, 430, 600}, {left}, {171, 0}},
        // A frame placed by its client area: the title bar above the screen.
        {{171, -20, 430, 600}, {left}, {171, 0}},
        // The second screen of the last run is gone.
        {{2500, 100, 430, 600}, {left}, {1920 - kTitleBarGrip, 100}},
        {{2500, 100, 430, 600}, {left, right}, {2500, 100}},
        // Below the bottom edge: the title bar comes back up.
        {{50, 1070, 430, 600}, {left}, {50, 1080 - kTitleBarHeight}},
        // Hanging off the left edge with enough of the title bar left to grab.
        {{-300, 10, 430, 600}, {left}, {-300, 10}},
        {{-420, 10, 430, 600}, {left}, {kTitleBarGrip - 430, 10}},
        // Straddling two screens, moved onto the one it overlaps most.
        {{1800, -40, 430, 600}, {left, right}, {1800, 0}},
        {{0, 0, 430, 600}, {}, {0, 0}},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(KeepTitleBarOnScreen(r.frame, r.screens), r.expected)
            << r.frame.x() << "," << r.frame.y();
    }
}

TEST(WindowRules, ContrastFollowsWcag) {
    EXPECT_NEAR(ContrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
    EXPECT_NEAR(ContrastRatio(Qt::white, Qt::black), 21.0, 1e-9);
    EXPECT_NEAR(ContrastRatio(QColor(0x77, 0x77, 0x77), Qt::white), 4.48, 0.01);
    EXPECT_NEAR(RelativeLuminance(QColor(255, 0, 0)), 0.2126, 1e-4);
    EXPECT_NEAR(RelativeLuminance(QColor(0, 255, 0)), 0.7152, 1e-4);
}

TEST(WindowRules, HintsStandOutFromTheField) {
    // The stored default colours (0x00BBGGRR): field #D8DCDF, hint #D0D4D8.
    const QColor defaultField(0xD8, 0xDC, 0xDF);
    const QColor defaultHint(0xD0, 0xD4, 0xD8);
    ASSERT_LT(ContrastRatio(defaultField, defaultHint), kMinHintContrast);
    struct Row {
        QColor field;
        QColor hint;
    };
    const Row rows[] = {
        {defaultField, defaultHint},
        {Qt::white, QColor(255, 236, 200)},
        {QColor(30, 30, 30), QColor(40, 40, 60)},  // a dark field
        {Qt::white, Qt::white},
    };
    for (const Row& r : rows) {
        const QColor hint = ReadableHintColor(r.field, r.hint);
        EXPECT_GE(ContrastRatio(r.field, hint), kMinHintContrast) << hint.name().toStdString();
        // The text in a hinted box reads at least as well as body text must.
        EXPECT_GE(ContrastRatio(hint, ReadableTextOn(hint)), 4.5) << hint.name().toStdString();
    }
    // A hint that already stands out is left as the user chose it.
    EXPECT_EQ(ReadableHintColor(Qt::white, QColor(0, 90, 200)), QColor(0, 90, 200));
}

TEST(WindowRules, ReadChoiceNoteOnlyForOneTagKind) {
    EXPECT_FALSE(ReadChoiceNote(0).isEmpty());
    EXPECT_FALSE(ReadChoiceNote(1).isEmpty());
    EXPECT_NE(ReadChoiceNote(0), ReadChoiceNote(1));
    EXPECT_TRUE(ReadChoiceNote(2).isEmpty());
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
    EXPECT_TRUE(text.contains("MimeType=audio/mpeg;audio/flac;")) << text.toStdString();
    // Ogg Vorbis, Opus and Ogg FLAC open in the editor too.
    for (const char* type : {"audio/ogg;", "audio/x-vorbis+ogg;", "audio/x-opus+ogg;",
                             "audio/opus;", "audio/x-flac+ogg;"})
        EXPECT_TRUE(text.contains(QLatin1String(type))) << type;
    EXPECT_TRUE(QFile::exists(files.folder));
    ApplyAssociations("/opt/sondrel", false, true, dir.path());
    EXPECT_FALSE(QFile::exists(files.mp3));
    EXPECT_TRUE(QFile::exists(files.folder));
    ApplyAssociations("/opt/sondrel", false, false, dir.path());
    EXPECT_FALSE(QFile::exists(files.folder));
}

}  // namespace
