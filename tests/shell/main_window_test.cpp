#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include "shell/about_window.h"
#include "shell/command_line.h"
#include "shell/info_window.h"
#include "shell/main_window.h"
#include "shell/options_window.h"
#include "shell/progress_window.h"
#include "shell/settings_store.h"

namespace {

struct Shell {
    QTemporaryDir dir;
    SettingsStore store{dir.filePath("settings.ini")};
};

TEST(MainWindow, StartsShowsTitleAndQuits) {
    Shell s;
    MainWindow window(s.store);
    window.show();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Sondrel"));
    EXPECT_TRUE(window.isVisible());
    QTimer::singleShot(0, &window, &QWidget::close);
    QApplication::exec();
    EXPECT_FALSE(window.isVisible());
}

TEST(MainWindow, WritesItsSettingsAtExitAndReadsThemBack) {
    Shell s;
    {
        MainWindow window(s.store);
        window.openFolder(s.dir.path());
        window.setStartFile(QStringLiteral("01.mp3"));
        window.action(QStringLiteral("flOGG"))->setChecked(false);
        window.action(QStringLiteral("actShowDirs"))->setChecked(false);
        window.action(QStringLiteral("actReadTag"))->trigger();  // 2 -> 0
    }
    EXPECT_EQ(s.store.ReadString("StartDir"), s.dir.path());
    EXPECT_EQ(s.store.ReadString("StartFile"), QStringLiteral("01.mp3"));
    EXPECT_EQ(s.store.ReadString("Build"), QStringLiteral("4605"));
    EXPECT_EQ(s.store.ReadString("flOGG"), QStringLiteral("0"));
    EXPECT_EQ(s.store.ReadString("flMP3"), QStringLiteral("1"));
    EXPECT_EQ(s.store.ReadInteger("cbReadTag", -1), 0);

    MainWindow again(s.store);
    EXPECT_EQ(again.currentFolder(), s.dir.path());
    EXPECT_FALSE(again.action(QStringLiteral("flOGG"))->isChecked());
    EXPECT_FALSE(again.action(QStringLiteral("actShowDirs"))->isChecked());
    EXPECT_EQ(again.ReadTagChoice(), 0);
}

TEST(MainWindow, RemembersAtMostTenCopyTargets) {
    Shell s;
    s.store.WriteInteger("KolCopy", 15);
    for (int i = 1; i <= 15; ++i)
        s.store.WriteString(QStringLiteral("CopyTo%1").arg(i), "/d");
    { MainWindow window(s.store); }
    EXPECT_EQ(s.store.ReadInteger("KolCopy", -1), 10);
}

TEST(MainWindow, KeysOfTheCommandsTable) {
    Shell s;
    MainWindow window(s.store);
    struct Row {
        const char* action;
        QKeySequence key;
    };
    const Row rows[] = {
        {"actHelp", QKeySequence(Qt::Key_F1)},
        {"actSave", QKeySequence(Qt::Key_F2)},
        {"actSave", QKeySequence(Qt::CTRL | Qt::Key_S)},
        {"actRefresh", QKeySequence(Qt::Key_F5)},
        {"actRename", QKeySequence(Qt::CTRL | Qt::Key_R)},
        {"actGenerate", QKeySequence(Qt::Key_F7)},
        {"actPlaylists", QKeySequence(Qt::Key_F10)},
        {"actShowLyrics", QKeySequence(Qt::CTRL | Qt::Key_L)},
        {"actShowInfo", QKeySequence(Qt::CTRL | Qt::Key_I)},
        {"actReadTag", QKeySequence(Qt::CTRL | Qt::Key_T)},
        {"actGoBookmark3", QKeySequence(Qt::CTRL | Qt::Key_3)},
        {"actSetBookmark3", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_3)},
    };
    for (const Row& r : rows) {
        QAction* a = window.action(QString::fromLatin1(r.action));
        ASSERT_NE(a, nullptr) << r.action;
        EXPECT_TRUE(a->shortcuts().contains(r.key)) << r.action;
    }
}

TEST(MainWindow, ReadTagChoiceCyclesWithCtrlT) {
    Shell s;
    MainWindow window(s.store);
    QAction* step = window.action(QStringLiteral("actReadTag"));
    std::vector<int> seen;
    for (int i = 0; i < 4; ++i) {
        step->trigger();
        seen.push_back(window.ReadTagChoice());
    }
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 0}));
}

TEST(MainWindow, InfoWindowToggleAndItsCloseBox) {
    Shell s;
    MainWindow window(s.store);
    InfoWindow info;
    OptionsWindow options(s.store);
    window.setCompanions(nullptr, &info, &options, nullptr);
    QAction* showInfo = window.action(QStringLiteral("actShowInfo"));
    showInfo->setChecked(false);
    window.ToggleInfo();
    EXPECT_TRUE(info.isVisible());
    EXPECT_TRUE(showInfo->isChecked());
    info.close();
    EXPECT_FALSE(showInfo->isChecked());
}

TEST(MainWindow, ProcessSettingsFillsTheTrackList) {
    Shell s;
    MainWindow window(s.store);
    OptionsWindow options(s.store);
    window.setCompanions(nullptr, nullptr, &options, nullptr);
    s.store.WriteInteger("TrackIndex", 2);
    options.LoadSettings();
    window.statusLabel()->setText("old");
    window.ProcessSettings();
    EXPECT_TRUE(window.statusLabel()->text().isEmpty());
    const QStringList list = window.TrackListEntries();
    ASSERT_EQ(list.size(), 33);
    EXPECT_EQ(list[1], QStringLiteral("001"));
    EXPECT_EQ(list[32], QStringLiteral("032"));
}

TEST(CommandLine, FolderFileOrNothing) {
    const QString cwd = QDir::currentPath();
    struct Case {
        QStringList args;
        QString folder;
        QString file;
    };
    const Case cases[] = {
        {{"sondrel"}, "", ""},
        {{"sondrel", "/music/album"}, "/music/album", ""},
        {{"sondrel", "-f", "/music/album/01.mp3"}, "/music/album", "/music/album/01.mp3"},
        {{"sondrel", "rel"}, cwd + "/rel", ""},
        {{"sondrel", "-f"}, "", ""},  // "-f" without a file is ignored
    };
    for (const Case& c : cases) {
        const StartupArgs a = ParseStartupArgs(c.args);
        EXPECT_EQ(a.folder, c.folder) << c.args.join(' ').toStdString();
        EXPECT_EQ(a.file, c.file) << c.args.join(' ').toStdString();
    }
}

}  // namespace
