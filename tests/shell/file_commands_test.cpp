// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's commands on files: they go through the core's file
// operations, ask before replacing, remember targets and bookmarks, and say
// in the status line what did not work.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>

#include "shell/file_list.h"
#include "shell/main_window.h"
#include "shell/progress_window.h"
#include "shell/settings_store.h"

namespace {

struct Shell {
    QTemporaryDir dir;
    SettingsStore store{dir.filePath("settings.ini")};
};

void Write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Selects the rows showing `captions` (and focuses the first).
void Select(MainWindow& window, const QStringList& captions) {
    FileList* list = window.fileList();
    list->lbFile()->clearSelection();
    bool first = true;
    for (int row = 0; row < list->FileTable().rowCount(); ++row) {
        if (!captions.contains(list->FileTable().at(row).Caption))
            continue;
        const QModelIndex index = list->lbFile()->model()->index(row, 0);
        list->lbFile()->selectionModel()->select(index, QItemSelectionModel::Select);
        if (first)
            list->lbFile()->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        first = false;
    }
}

TEST(FileCommands, CopyAndMoveAskBeforeReplacingAndRememberTheTarget) {
    Shell s;
    const QString music = s.dir.filePath("music");
    const QString target = s.dir.filePath("target");
    QDir().mkpath(music);
    QDir().mkpath(target);
    Write(music + "/a.mp3", "new a");
    Write(music + "/b.mp3", "new b");
    Write(target + "/a.mp3", "old a");
    MainWindow window(s.store);
    window.show();
    window.openFolder(music);
    QStringList asked;
    window.askReplace = [&](const QString& existing) {
        asked << existing;
        return sondrel::ConflictAnswer::Skip;
    };
    Select(window, {"a.mp3", "b.mp3"});
    window.TransferSelected(sondrel::TransferMode::Copy, target);
    EXPECT_EQ(asked.size(), 1);
    EXPECT_EQ(Read(target + "/a.mp3"), "old a");
    EXPECT_EQ(Read(target + "/b.mp3"), "new b");
    EXPECT_EQ(window.copyTargets(), QStringList{target + "/"});

    window.askReplace = [](const QString&) { return sondrel::ConflictAnswer::Replace; };
    Select(window, {"a.mp3"});
    window.TransferSelected(sondrel::TransferMode::Move, target);
    EXPECT_EQ(Read(target + "/a.mp3"), "new a");
    EXPECT_FALSE(QFile::exists(music + "/a.mp3"));
    EXPECT_EQ(window.moveTargets(), QStringList{target + "/"});
    // The list was scanned again: the moved file is gone from it.
    for (int row = 0; row < window.fileList()->FileTable().rowCount(); ++row)
        EXPECT_NE(window.fileList()->FileTable().at(row).Caption, QStringLiteral("a.mp3"));
}

TEST(FileCommands, RenameRefusesToReplaceAndSaysSo) {
    Shell s;
    const QString music = s.dir.filePath("music");
    QDir().mkpath(music);
    Write(music + "/a.mp3", "a");
    Write(music + "/b.mp3", "b");
    MainWindow window(s.store);
    window.show();
    window.openFolder(music);
    Select(window, {"a.mp3"});
    window.askName = [](const QString&, bool* ok) {
        *ok = true;
        return QStringLiteral("b.mp3");
    };
    window.RenameFocused();
    EXPECT_EQ(Read(music + "/a.mp3"), "a");
    EXPECT_EQ(Read(music + "/b.mp3"), "b");
    EXPECT_TRUE(window.statusLabel()->text().contains(QStringLiteral("File already exists")));

    window.askName = [](const QString&, bool* ok) {
        *ok = true;
        return QStringLiteral("c.mp3");
    };
    Select(window, {"a.mp3"});
    window.RenameFocused();
    EXPECT_EQ(Read(music + "/c.mp3"), "a");
    EXPECT_FALSE(QFile::exists(music + "/a.mp3"));
}

TEST(FileCommands, DeleteAsksFirstAndNeverTakesTheParentRow) {
    Shell s;
    const QString music = s.dir.filePath("music");
    QDir().mkpath(music);
    Write(music + "/a.mp3", "a");
    MainWindow window(s.store);
    window.show();
    window.openFolder(music);
    int questions = 0;
    window.askYesNo = [&](const QString&) {
        ++questions;
        return false;
    };
    Select(window, {"a.mp3"});
    window.DeleteSelected();
    EXPECT_EQ(questions, 1);
    EXPECT_TRUE(QFile::exists(music + "/a.mp3"));
    // Only ".." selected: nothing to delete, nothing asked.
    Select(window, {".."});
    window.DeleteSelected();
    EXPECT_EQ(questions, 1);
    EXPECT_TRUE(QDir(music).exists());
}

QString CurrentCaption(MainWindow& window) {
    FileList* list = window.fileList();
    const int row = list->FocusedRow();
    return row < 0 ? QString() : list->FileTable().at(row).Caption;
}

TEST(FileCommands, DeleteAndRenameMoveOnToTheFollowingRow) {
    Shell s;
    // The trash of this test, not the user's.
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    const QString data = s.dir.filePath("data");
    QDir().mkpath(data);  // a missing one would put the trash elsewhere
    qputenv("XDG_DATA_HOME", data.toUtf8());
    const QString music = s.dir.filePath("music");
    QDir().mkpath(music);
    for (int i = 0; i < 10; ++i)
        Write(music + QStringLiteral("/f%1.mp3").arg(i), "x");
    MainWindow window(s.store);
    window.show();
    window.openFolder(music);
    window.askYesNo = [](const QString&) { return true; };

    Select(window, {"f4.mp3"});
    window.DeleteSelected();
    EXPECT_FALSE(QFile::exists(music + "/f4.mp3"));
    EXPECT_TRUE(QFile::exists(data + "/Trash/files/f4.mp3"));
    EXPECT_EQ(CurrentCaption(window), "f5.mp3");
    EXPECT_EQ(window.fileList()->SelectedFileRows().size(), 1u);

    Select(window, {"f8.mp3", "f9.mp3"});
    window.DeleteSelected();
    EXPECT_FALSE(QFile::exists(music + "/f9.mp3"));

    window.askName = [](const QString&, bool* ok) {
        *ok = true;
        return QStringLiteral("f2 - new.mp3");
    };
    Select(window, {"f2.mp3"});
    window.RenameFocused();
    EXPECT_TRUE(QFile::exists(music + "/f2 - new.mp3"));
    EXPECT_EQ(CurrentCaption(window), "f3.mp3") << "on to the next entry";
    // Renaming the last row leaves it current.
    window.askName = [](const QString&, bool* ok) {
        *ok = true;
        return QStringLiteral("f7 - last.mp3");
    };
    Select(window, {"f7.mp3"});
    window.RenameFocused();
    EXPECT_EQ(CurrentCaption(window), "f7 - last.mp3");
    qputenv("XDG_DATA_HOME", oldData);
}

TEST(FileCommands, StopEndsALongCopyAfterTheCurrentFile) {
    Shell s;
    const QString music = s.dir.filePath("music");
    const QString target = s.dir.filePath("target");
    QDir().mkpath(music);
    QDir().mkpath(target);
    for (const char* name : {"a.mp3", "b.mp3", "c.mp3"})
        Write(music + "/" + name, name);
    MainWindow window(s.store);
    ProgressWindow progress;
    window.setCompanions(&progress, nullptr, nullptr, nullptr);
    window.show();
    window.openFolder(music);
    // The user presses Stop once the first file is done.
    QObject::connect(progress.progressBar(), &QProgressBar::valueChanged, [&](int value) {
        if (value == 1)
            progress.btnStop()->click();
    });
    Select(window, {"a.mp3", "b.mp3", "c.mp3"});
    window.TransferSelected(sondrel::TransferMode::Copy, target);
    EXPECT_EQ(progress.progressBar()->maximum(), 3);
    EXPECT_TRUE(QFile::exists(target + "/a.mp3"));
    EXPECT_FALSE(QFile::exists(target + "/b.mp3"));
    EXPECT_FALSE(QFile::exists(target + "/c.mp3"));
    EXPECT_FALSE(progress.Running());
    EXPECT_FALSE(progress.isVisible());
    EXPECT_TRUE(window.statusLabel()->text().contains(QStringLiteral("Stopped")))
        << window.statusLabel()->text().toStdString();
    // What was done stays done, and the target is remembered.
    EXPECT_EQ(window.copyTargets(), QStringList{target + "/"});
}

TEST(FileCommands, BookmarksTakeTheFolderAndSurviveARestart) {
    Shell s;
    const QString one = s.dir.filePath("one");
    const QString two = s.dir.filePath("two");
    QDir().mkpath(one);
    QDir().mkpath(two);
    {
        MainWindow window(s.store);
        window.openFolder(one);
        window.SetBookmark(3);
        EXPECT_EQ(window.action(QStringLiteral("actGoBookmark3"))->text(),
                  QDir(one).absolutePath());
        window.openFolder(two);
        window.GoToBookmark(3);
        EXPECT_EQ(window.currentFolder(), QDir(one).absolutePath());
        window.GoToBookmark(4);  // never set: nothing happens
        EXPECT_EQ(window.currentFolder(), QDir(one).absolutePath());
        window.SaveMainSettings();
    }
    MainWindow again(s.store);
    EXPECT_EQ(again.bookmarks()[3], QDir(one).absolutePath());
    EXPECT_EQ(again.action(QStringLiteral("actSetBookmark3"))->text(), QDir(one).absolutePath());
}

TEST(FileCommands, PlayOpensTheFocusedFileAndReportsAFailure) {
    Shell s;
    const QString music = s.dir.filePath("music");
    QDir().mkpath(music);
    Write(music + "/a.mp3", "a");
    Write(music + "/b.mp3", "b");
    MainWindow window(s.store);
    window.show();
    window.openFolder(music);
    QList<QUrl> opened;
    window.player().openUrl = [&](const QUrl& url) {
        opened << url;
        return opened.size() < 2;
    };
    Select(window, {"b.mp3", "a.mp3"});
    window.PlayFocused();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_TRUE(opened[0].toLocalFile().endsWith(QStringLiteral("/a.mp3")));
    window.PlayFocused();
    EXPECT_FALSE(window.statusLabel()->text().isEmpty());
}

}  // namespace
