// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>

#include "shell/about_window.h"
#include "shell/command_line.h"
#include "shell/file_list.h"
#include "shell/info_window.h"
#include "shell/main_window.h"
#include "shell/options_window.h"
#include "shell/progress_window.h"
#include "shell/settings_store.h"
#include "shell/tag_editor.h"
#include "shell/window_rules.h"

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

// A folder with two (silent, untagged) files for the list to show.
QString FolderWithTwoFiles(const QTemporaryDir& dir) {
    const QString folder = dir.filePath("music");
    QDir().mkpath(folder);
    for (const char* name : {"a.mp3", "b.mp3"}) {
        QFile f(folder + "/" + name);
        f.open(QIODevice::WriteOnly);
        f.write(QByteArray(256, '\0'));
    }
    return folder;
}

TEST(MainWindow, AnOpenInfoWindowAndTheLastFileAreKeptAtExit) {
    Shell s;
    const QString folder = FolderWithTwoFiles(s.dir);
    {
        MainWindow window(s.store);
        InfoWindow info(&window);
        OptionsWindow options(s.store, &window);
        window.setCompanions(nullptr, &info, &options, nullptr);
        window.openFolder(folder);
        window.action(QStringLiteral("actShowInfo"))->setChecked(true);
        window.show();
        ASSERT_TRUE(info.isVisible());
        FileList* list = window.fileList();
        list->lbFile()->selectionModel()->setCurrentIndex(list->FileTable().index(2),
                                                          QItemSelectionModel::ClearAndSelect);
        ASSERT_EQ(list->FileTable().at(2).Caption, QStringLiteral("b.mp3"));
        QTimer::singleShot(0, &window, &QWidget::close);
        QApplication::exec();
        // The quit closes the companions after the main window; that is no
        // choice of the user's.
        info.close();
    }
    EXPECT_EQ(s.store.ReadString("flShowInfo"), QStringLiteral("1"));
    EXPECT_EQ(s.store.ReadString("StartFile"), QStringLiteral("b.mp3"));

    MainWindow again(s.store);
    again.show();
    const int row = again.fileList()->FocusedRow();
    ASSERT_GE(row, 0);
    EXPECT_EQ(again.fileList()->FileTable().at(row).Caption, QStringLiteral("b.mp3"));
}

TEST(MainWindow, ClosingWithUnsavedEditsAsksFirst) {
    Shell s;
    const QString folder = FolderWithTwoFiles(s.dir);
    OptionsWindow options(s.store);
    options.LoadSettings();
    MainWindow window(s.store);
    window.setCompanions(nullptr, nullptr, &options, nullptr);
    window.openFolder(folder);
    window.setStartFile(QStringLiteral("a.mp3"));
    window.show();
    int questions = 0;
    UnsavedAnswer answer = UnsavedAnswer::Cancel;
    window.tagEditor()->askUnsaved = [&] {
        ++questions;
        return answer;
    };
    window.close();  // nothing typed: no question
    EXPECT_EQ(questions, 0);
    window.show();
    window.tagEditor()->edTitle()->setEditText(QStringLiteral("typed"));
    EXPECT_EQ(window.modifiedLabel()->text(), QStringLiteral("Modified"));
    window.close();
    EXPECT_EQ(questions, 1);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.tagEditor()->edTitle()->currentText(), QStringLiteral("typed"));

    // The option turns the question off.
    options.findChild<QCheckBox*>("cbAskUnsaved")->setChecked(false);
    window.close();
    EXPECT_EQ(questions, 1);
    EXPECT_FALSE(window.isVisible());
}

TEST(MainWindow, TheStatusLineNamesAReadOfOneTagKind) {
    Shell s;
    {
        MainWindow window(s.store);
        window.tagEditor()->setReadTagChoice(2);
        EXPECT_TRUE(window.readChoiceLabel()->text().isEmpty());
        for (const int choice : {0, 1}) {
            window.tagEditor()->setReadTagChoice(choice);
            EXPECT_EQ(window.readChoiceLabel()->text(), shell::ReadChoiceNote(choice));
            EXPECT_FALSE(window.readChoiceLabel()->text().isEmpty());
        }
    }
    // Also as the stored choice comes back at the next start.
    MainWindow again(s.store);
    EXPECT_EQ(again.ReadTagChoice(), 1);
    EXPECT_EQ(again.readChoiceLabel()->text(), shell::ReadChoiceNote(1));
}

TEST(MainWindow, HelpFallsBackToAWindowOfItsOwn) {
    Shell s;
    MainWindow window(s.store);
    const QString helpFolder = s.dir.filePath("help");
    QDir().mkpath(helpFolder);
    window.setHelpFolder(helpFolder);

    // No help file: the user is told where it was looked for.
    QString told;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            told = box->text();
            box->close();
        }
    });
    window.action(QStringLiteral("actHelp"))->trigger();
    EXPECT_TRUE(told.contains(QDir::toNativeSeparators(helpFolder))) << told.toStdString();

    QFile page(helpFolder + "/English.html");
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    page.write("<html><body><h1>Sondrel help</h1></body></html>");
    page.close();
    QList<QUrl> handedOver;
    bool desktopTakesIt = true;
    window.openExternal = [&](const QUrl& url) {
        handedOver << url;
        return desktopTakesIt;
    };
    window.action(QStringLiteral("actHelp"))->trigger();
    ASSERT_EQ(handedOver.size(), 1);
    EXPECT_EQ(handedOver.front(), QUrl::fromLocalFile(helpFolder + "/English.html"));
    EXPECT_EQ(window.helpWindow(), nullptr);

    desktopTakesIt = false;
    window.action(QStringLiteral("actHelp"))->trigger();
    ASSERT_NE(window.helpWindow(), nullptr);
    EXPECT_TRUE(window.helpWindow()->isVisible());
    auto* browser = window.helpWindow()->findChild<QTextBrowser*>();
    ASSERT_NE(browser, nullptr);
    EXPECT_TRUE(browser->toPlainText().contains(QStringLiteral("Sondrel help")));
}

TEST(MainWindow, BackgroundEndsWithTheRunItWasPressedIn) {
    Shell s;
    MainWindow window(s.store);
    ProgressWindow wait(&window);
    window.setCompanions(&wait, nullptr, nullptr, nullptr);
    window.show();
    wait.Start(3);
    wait.btnBackground()->click();
    EXPECT_TRUE(window.isMinimized() || !window.isVisible());
    wait.Finish();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());

    wait.Start(3);
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
    EXPECT_FALSE(wait.isMinimized());
    wait.Finish();
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
    // A file given alone, as the desktop hands over an opened file, is
    // selected in its folder; the "Open Folder" action asks for the folder.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString song = dir.filePath(QStringLiteral("01.mp3"));
    QFile(song).open(QIODevice::WriteOnly);
    const StartupArgs opened = ParseStartupArgs({"sondrel", song});
    EXPECT_EQ(opened.folder, dir.path());
    EXPECT_EQ(opened.file, song);
    EXPECT_FALSE(opened.chooseFolder);
    EXPECT_TRUE(ParseStartupArgs({"sondrel", "--choose-folder"}).chooseFolder);
    EXPECT_TRUE(ParseStartupArgs({"sondrel", "--choose-folder"}).folder.isEmpty());
}

}  // namespace
