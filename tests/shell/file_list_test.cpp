// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QTemporaryDir>
#include <QToolButton>

#include "shell/file_list.h"
#include "shell/file_table.h"

namespace {

void Touch(const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
}

// Saves `widget` as <name>.png when SONDREL_SCREENSHOTS names a folder, to
// look at what the list and the information window show.
void Screenshot(QWidget& widget, const QString& name) {
    const QString folder = qEnvironmentVariable("SONDREL_SCREENSHOTS");
    if (!folder.isEmpty())
        widget.grab().save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}

// A folder with files of every format, folders, a hidden file and a non-audio file.
struct Library {
    QTemporaryDir dir;
    QString root() const { return dir.path(); }
    Library() {
        for (const char* name : {"b.mp3", "A.ogg", "TRACK.MP3", "c.wma", "d.ape", "e.m4a", "f.mp4",
                                 "g.aac", "h.mpc", "notes.txt", ".hidden.mp3", "Zeta/z1.mp3",
                                 "alpha/a1.mp3", "alpha/deep/a2.ogg", "Beta/b1.wma"}) {
            Touch(dir.filePath(QString::fromLatin1(name)));
        }
    }
};

struct ListFixture : ::testing::Test {
    Library lib;
    FileList list;
    void SetUp() override { list.edDir()->setText(lib.root()); }
    int RowOf(const QString& caption) {
        for (int r = 0; r < list.FileTable().rowCount(); ++r) {
            if (list.FileTable().at(r).Caption == caption)
                return r;
        }
        return -1;
    }
};

TEST_F(ListFixture, SelectAllCountsFilesOnly) {
    list.SetItemIndex(RowOf("alpha"));
    list.actSelectAll();
    EXPECT_EQ(list.SelectedCount(), 9);
    EXPECT_EQ(list.labSelectedFiles()->text(), QStringLiteral("Selected: 9"));
    for (int r : list.SelectedFileRows())
        EXPECT_TRUE(list.FileTable().at(r).IsFile());
    EXPECT_FALSE(list.lbFile()->selectionModel()->isRowSelected(RowOf("alpha")));
}

TEST_F(ListFixture, ParentRowIsNeverSelected) {
    list.SetItemIndex(0);
    list.actSelectAll();
    EXPECT_FALSE(list.lbFile()->selectionModel()->isRowSelected(0));
}

TEST_F(ListFixture, OpenFolderThenUpSelectsTheFolderLeft) {
    list.OpenRow(RowOf("alpha"));
    EXPECT_EQ(list.edDir()->text(), lib.root() + "/alpha");
    EXPECT_EQ(list.FileTable().at(0).Caption, QStringLiteral(".."));
    list.OpenRow(0);  // ".." goes up
    EXPECT_EQ(list.edDir()->text(), lib.root());
    EXPECT_EQ(list.FocusedRow(), RowOf("alpha"));
}

TEST_F(ListFixture, BadFolderEmptiesTheList) {
    list.edDir()->setText(lib.root() + "/nope");
    EXPECT_FALSE(list.FolderValid());
    EXPECT_EQ(list.FileTable().rowCount(), 0);
    list.edDir()->setText(lib.root());
    EXPECT_TRUE(list.FolderValid());
}

TEST_F(ListFixture, StartFileIsFoundWhateverTheCase) {
    EXPECT_TRUE(list.SelectStartFile("track.mp3"));
    EXPECT_EQ(list.FileTable().at(list.FocusedRow()).Caption, QStringLiteral("TRACK.MP3"));
    EXPECT_FALSE(list.SelectStartFile("missing.mp3"));
}

TEST(Drop, QuestionText) {
    EXPECT_EQ(DropQuestion(false, 3, "/music/Live/"),
              QStringLiteral("Move3file(s) to /music/Live/?"));
    EXPECT_EQ(DropQuestion(true, 1, "/m/"), QStringLiteral("Copy1file(s) to /m/?"));
}

TEST(Drop, CopyMoveAndOverwriteQuestion) {
    QTemporaryDir src;
    QTemporaryDir dst;
    const QString a = src.filePath("a.mp3");
    const QString b = src.filePath("b.mp3");
    Touch(a);
    {
        QFile f(b);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("new");
    }
    {
        QFile f(dst.filePath("b.mp3"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old");
    }
    int asked = 0;
    const DropResult declined = DropFiles({a, b}, dst.path() + "/", false, [&](const QString&) {
        ++asked;
        return false;
    });
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(declined.errors, 0);
    EXPECT_TRUE(QFile::exists(dst.filePath("a.mp3")));
    EXPECT_FALSE(QFile::exists(a));  // moved
    EXPECT_TRUE(QFile::exists(b));   // declined: the source stays
    QFile old(dst.filePath("b.mp3"));
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("old"));
    old.close();

    const DropResult copied =
        DropFiles({b}, dst.path() + "/", true, [](const QString&) { return true; });
    EXPECT_EQ(copied.done, 1);
    EXPECT_TRUE(QFile::exists(b));  // copied, not moved
    QFile now(dst.filePath("b.mp3"));
    ASSERT_TRUE(now.open(QIODevice::ReadOnly));
    EXPECT_EQ(now.readAll(), QByteArray("new"));

    const DropResult missing = DropFiles({src.filePath("gone.mp3")}, dst.path() + "/", true,
                                         [](const QString&) { return true; });
    EXPECT_EQ(missing.errors, 1);
}

}  // namespace

namespace {

TEST_F(ListFixture, PopupOffersPlayAndDeleteTagsOnFilesOnly) {
    QMenu deleteTags("Delete Tags");
    list.setDeleteTagsMenu(&deleteTags);
    auto popupFor = [&](int row) {
        QMenu menu;
        list.PreparePopup(menu, list.lbFile()->visualRect(list.FileTable().index(row)).center());
        const QAction* play = menu.findChild<QAction*>("pmnPlay");
        return std::pair{play && play->isVisible(), deleteTags.menuAction()->isEnabled()};
    };
    list.lbFile()->resize(300, 600);
    EXPECT_EQ(popupFor(RowOf("b.mp3")), std::pair(true, true));
    EXPECT_EQ(popupFor(RowOf("alpha")), std::pair(false, false));
}

sondrel::FolderScanOptions CoreOptions(bool subfolders) {
    sondrel::FolderScanOptions o;
    o.subfolders = subfolders;
    return o;
}

// The list model keeps Qt's model contract through every rescan and reset,
// as the views and selection models that bind to it rely on.
TEST(FileTableModel, KeepsTheModelContractThroughRescans) {
    Library lib;
    FileTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    const auto rows = sondrel::ScanFolder(lib.root().toStdString(), CoreOptions(false));
    ASSERT_TRUE(rows);
    model.setRows(*rows, lib.root());
    ASSERT_EQ(model.rowCount(), static_cast<int>(rows->size()));
    model.setRows(*sondrel::ScanFolder(lib.root().toStdString(), CoreOptions(true)), lib.root(),
                  true);
    // Resorted: the same rows in another order.
    std::vector<sondrel::FileRow> reversed(rows->rbegin(), rows->rend());
    model.setRows(reversed, lib.root());
    EXPECT_EQ(model.at(0).Caption, QString::fromStdString(rows->back().caption));
    model.setRows({});
    EXPECT_EQ(model.rowCount(), 0);
    model.setRows(*rows, lib.root());
    // Rows carry their path and kind for the commands; the parent row is never selectable.
    for (int r = 0; r < model.rowCount(); ++r) {
        const QModelIndex i = model.index(r);
        const FileEntry e = model.at(r);
        EXPECT_EQ(i.data(FileTableModel::PathRole).toString(), e.Path());
        EXPECT_EQ(i.data(FileTableModel::IsFileRole).toBool(), e.IsFile());
        EXPECT_EQ(i.data(Qt::DisplayRole).toString(), e.Caption);
        EXPECT_EQ(model.flags(i).testFlag(Qt::ItemIsSelectable), !e.IsParent());
    }
    EXPECT_FALSE(model.index(model.rowCount()).isValid());
}

// The same contract while the list itself rescans, keeps its selection,
// switches to subfolder mode and loses its folder.
TEST_F(ListFixture, ModelContractWhileTheListRescans) {
    QAbstractItemModelTester tester(&list.FileTable(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    list.actSelectAll();
    Touch(lib.root() + "/0 new.mp3");
    list.edDirChange();
    list.btnSubFolders()->setChecked(true);
    list.edDir()->setText(lib.root() + "/nope");
    EXPECT_EQ(list.FileTable().rowCount(), 0);
    list.edDir()->setText(lib.root());
    EXPECT_GT(list.FileTable().rowCount(), 0);
}

QStringList SelectedCaptions(FileList& list) {
    QStringList out;
    for (int r = 0; r < list.FileTable().rowCount(); ++r) {
        if (list.lbFile()->selectionModel()->isRowSelected(r))
            out << list.FileTable().at(r).Caption;
    }
    return out;
}

// A rescan finds the selected rows and the current row again by path,
// wherever new or removed files moved them, and shows the current row.
TEST_F(ListFixture, RescanKeepsSelectionAndCurrentRowByPath) {
    list.resize(300, 120);  // a few rows tall, so the current row must be scrolled to
    list.show();
    auto* selection = list.lbFile()->selectionModel();
    selection->setCurrentIndex(list.FileTable().index(RowOf("alpha")),
                               QItemSelectionModel::ClearAndSelect);
    selection->select(list.FileTable().index(RowOf("c.wma")), QItemSelectionModel::Select);
    selection->setCurrentIndex(list.FileTable().index(RowOf("TRACK.MP3")),
                               QItemSelectionModel::Select);
    // Files appear before the selection and one selected file goes away.
    for (const char* name : {"0a.mp3", "0b.mp3", "0c.mp3", "0d.mp3"})
        Touch(lib.root() + "/" + name);
    QFile::remove(lib.root() + "/c.wma");
    list.lbFile()->scrollToTop();
    int notified = 0;
    QObject::connect(&list, &FileList::selectionChanged, [&] { ++notified; });
    list.edDirChange();
    EXPECT_EQ(SelectedCaptions(list), (QStringList{"alpha", "TRACK.MP3"}));
    ASSERT_EQ(list.FocusedRow(), RowOf("TRACK.MP3"));
    EXPECT_EQ(list.SelectedCount(), 1);
    EXPECT_EQ(notified, 1);  // once for the rescan, not once per row selected again
    const QRect shown = list.lbFile()->visualRect(list.FileTable().index(list.FocusedRow()));
    EXPECT_TRUE(list.lbFile()->viewport()->rect().contains(shown)) << shown.y();
    Screenshot(list, QStringLiteral("file_list_rescan"));

    // Another folder shares no path with the old one: nothing is selected.
    list.OpenRow(RowOf("alpha"));
    EXPECT_EQ(SelectedCaptions(list), QStringList{});
}

// In subfolder mode the rows say which folder each file is in: the row's
// tooltip, and the focused file's folder for the status line.
TEST_F(ListFixture, SubfolderModeShowsTheFolderOfAFile) {
    QStringList announced;
    QObject::connect(&list, &FileList::folderOfCurrentChanged,
                     [&](const QString& text) { announced << text; });
    const QString top = QFileInfo(lib.root()).fileName();
    EXPECT_EQ(list.FileTable().index(RowOf("b.mp3")).data(Qt::ToolTipRole).toString(),
              lib.root() + "/b.mp3");
    list.btnSubFolders()->setChecked(true);
    struct Case {
        const char* caption;
        QString folder;
    };
    const Case cases[] = {
        {"b.mp3", top}, {"a2.ogg", top + "/alpha/deep"}, {"b1.wma", top + "/Beta"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption);
        const int row = RowOf(c.caption);
        list.lbFile()->selectionModel()->setCurrentIndex(list.FileTable().index(row),
                                                         QItemSelectionModel::ClearAndSelect);
        EXPECT_EQ(list.CurrentFolderText(), c.folder);
        EXPECT_EQ(announced.back(), c.folder);
        const QString tip = list.FileTable().index(row).data(Qt::ToolTipRole).toString();
        EXPECT_TRUE(tip.startsWith("Folder: " + c.folder + "\n")) << tip.toStdString();
        EXPECT_TRUE(tip.endsWith(list.FileTable().at(row).Path())) << tip.toStdString();
    }
    list.btnSubFolders()->setChecked(false);
    EXPECT_EQ(list.CurrentFolderText(), QString());
    EXPECT_EQ(announced.back(), QString());
}

// A link back up the tree in subfolder mode: each file once, and the scan ends.
TEST(FileListLoops, LinkBackToTheParentListsEachFileOnce) {
    QTemporaryDir dir;
    Touch(dir.filePath("one.mp3"));
    Touch(dir.filePath("Album/two.mp3"));
    ASSERT_TRUE(QFile::link("..", dir.filePath("Album/back")));
    ASSERT_TRUE(QFile::link("two.mp3", dir.filePath("Album/again.mp3")));
    FileList list;
    list.edDir()->setText(dir.path());
    list.btnSubFolders()->setChecked(true);
    QStringList paths;
    for (int r = 0; r < list.FileTable().rowCount(); ++r)
        paths << list.FileTable().at(r).Path();
    EXPECT_EQ(paths, (QStringList{dir.filePath("one.mp3"), dir.filePath("Album/two.mp3")}));
    list.actSelectAll();
    EXPECT_EQ(list.SelectedCount(), 2);
}

}  // namespace
