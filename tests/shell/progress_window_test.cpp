// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <QApplication>
#include <QTemporaryDir>

#include "editor/editor_rules.h"
#include "shell/about_window.h"
#include "shell/info_window.h"
#include "shell/options_window.h"
#include "shell/progress_window.h"
#include "shell/settings_store.h"

namespace {

struct FakeTray : TrayHost {
    QString hint;
    int applied = 0;
    int minimized = 0;
    int restored = 0;
    // What a window manager does with a minimised owner: its dialogs go too.
    QWidget* alsoMinimizes = nullptr;
    bool batchEnabled = true;
    QString MainCaption() const override { return "Sondrel"; }
    void SetTrayHint(const QString& h) override { hint = h; }
    void SetTrayAnimation(bool) override {}
    void ApplyTrayOption() override { ++applied; }
    void MinimizeToTray() override {
        ++minimized;
        if (alsoMinimizes)
            alsoMinimizes->showMinimized();
    }
    void RestoreFromTray(bool) override { ++restored; }
    void SetBatchButtonsEnabled(bool on) override { batchEnabled = on; }
};

TEST(ProgressWindow, StartStepFinish) {
    ProgressWindow wait;
    FakeTray tray;
    wait.setTrayHost(&tray);
    wait.Start(4);
    EXPECT_TRUE(wait.Running());
    EXPECT_TRUE(wait.isVisible());
    EXPECT_FALSE(tray.batchEnabled);
    EXPECT_EQ(tray.hint, QStringLiteral("Sondrel. Please wait... 0%"));
    wait.Step();
    EXPECT_EQ(wait.Percent(), 25);
    EXPECT_EQ(tray.hint, QStringLiteral("Sondrel. Please wait... 25%"));
    wait.Finish();
    EXPECT_FALSE(wait.Running());
    EXPECT_FALSE(wait.isVisible());
    EXPECT_EQ(wait.progressBar()->value(), 4);  // the bar is left full
    EXPECT_TRUE(tray.batchEnabled);
    EXPECT_EQ(tray.applied, 1);
}

TEST(ProgressWindow, TimeLeftAfterThirtySecondsAtAQuarter) {
    ProgressWindow wait;
    wait.setClock([] { return 30.0; });
    wait.Start(4);
    wait.UpdateTimeLeft();
    EXPECT_TRUE(wait.TimeLeft().isEmpty());  // at 0 % the label stays as it is
    wait.Step();
    wait.UpdateTimeLeft();
    EXPECT_EQ(wait.TimeLeft(), QStringLiteral("Time left: 00:01:30"));
    wait.Finish();
    EXPECT_TRUE(wait.TimeLeft().isEmpty());
}

TEST(ProgressWindow, StopEscAndCloseClearTheRunningFlag) {
    ProgressWindow wait;
    wait.Start(10);
    wait.btnStop()->click();
    EXPECT_FALSE(wait.Running());

    wait.Start(10);
    QTest::keyClick(&wait, Qt::Key_Escape);
    EXPECT_FALSE(wait.Running());

    wait.Start(10);
    wait.close();
    EXPECT_FALSE(wait.Running());
}

TEST(ProgressWindow, BackgroundMinimisesAndKeepsRunning) {
    ProgressWindow wait;
    FakeTray tray;
    wait.setTrayHost(&tray);
    wait.Start(3);
    wait.btnBackground()->click();
    EXPECT_EQ(tray.minimized, 1);
    EXPECT_TRUE(wait.Running());
    wait.Finish();
}

TEST(ProgressWindow, BackgroundLastsForItsRunOnly) {
    ProgressWindow wait;
    FakeTray tray;
    tray.alsoMinimizes = &wait;
    wait.setTrayHost(&tray);
    wait.Start(3);
    wait.btnBackground()->click();
    EXPECT_TRUE(wait.isMinimized());
    wait.Finish();
    EXPECT_EQ(tray.restored, 1);  // the run is over: the main window comes back

    // The next run shows its window in front and leaves the main window alone.
    wait.Start(3);
    EXPECT_TRUE(wait.isVisible());
    EXPECT_FALSE(wait.isMinimized());
    wait.Finish();
    EXPECT_EQ(tray.minimized, 1);
    EXPECT_EQ(tray.restored, 1);
}

TEST(FixedWindows, OfferNoMaximiseButton) {
    ProgressWindow wait;
    AboutWindow about;
    QTemporaryDir dir;
    SettingsStore store(dir.filePath("s.ini"));
    OptionsWindow options(store);
    for (QWidget* w : std::initializer_list<QWidget*>{&wait, &about, &options}) {
        w->show();
        QApplication::processEvents();
        EXPECT_FALSE(w->windowFlags().testFlag(Qt::WindowMaximizeButtonHint))
            << w->objectName().toStdString();
        // A window manager offers no maximise for a window that cannot grow.
        EXPECT_EQ(w->minimumSize(), w->maximumSize()) << w->objectName().toStdString();
        w->hide();
    }
}

TEST(InfoWindow, GridLabelsValuesAndDoubleClicks) {
    InfoWindow info;
    EXPECT_EQ(info.grid()->rowCount(), sondrel::kInfoRowCount);
    EXPECT_EQ(info.grid()->columnCount(), 2);
    info.SetValue(3, "128 kbps");
    EXPECT_EQ(info.Value(3), QStringLiteral("128 kbps"));
    info.ClearValues();
    EXPECT_TRUE(info.Value(3).isEmpty());
    info.SetFileName("a.mp3", "/music/a.mp3");
    EXPECT_EQ(info.labFileName()->toolTip(), QStringLiteral("/music/a.mp3"));

    int pictures = 0;
    int lyrics = 0;
    QObject::connect(&info, &InfoWindow::togglePictures, [&] { ++pictures; });
    QObject::connect(&info, &InfoWindow::toggleLyrics, [&] { ++lyrics; });
    emit info.grid()->cellDoubleClicked(8, 1);
    emit info.grid()->cellDoubleClicked(9, 0);
    emit info.grid()->cellDoubleClicked(2, 1);
    EXPECT_EQ(pictures, 2);
    EXPECT_EQ(lyrics, 2);
}

TEST(InfoWindow, ValueColumnFollowsTheWidth) {
    InfoWindow info;
    info.resize(300, 300);
    info.show();
    const int expected = info.grid()->width() - info.grid()->columnWidth(0) - 6;
    EXPECT_EQ(info.grid()->columnWidth(1), expected);
}

}  // namespace
