#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
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

QStringList Captions(const std::vector<FileEntry>& rows) {
    QStringList out;
    for (const FileEntry& r : rows)
        out << r.Caption;
    return out;
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

TEST(FolderScan, OrderParentRowAndFormats) {
    Library lib;
    const auto rows = ScanFolder(lib.root(), ScanOptions{});
    ASSERT_TRUE(rows);
    EXPECT_EQ(Captions(*rows),
              (QStringList{"..", "alpha", "Beta", "Zeta", "A.ogg", "b.mp3", "c.wma", "d.ape",
                           "e.m4a", "f.mp4", "g.aac", "h.mpc", "TRACK.MP3"}));
    const FileEntry& parent = rows->front();
    EXPECT_EQ(parent.Folder, lib.root() + "/");  // separator added
    EXPECT_FALSE(parent.IsFile());
    const auto upper = std::find_if(rows->begin(), rows->end(),
                                    [](const FileEntry& r) { return r.Caption == "TRACK.MP3"; });
    EXPECT_EQ(upper->Ext, QStringLiteral(".MP3"));
    EXPECT_EQ(upper->Path(), lib.root() + "/TRACK.MP3");
}

TEST(FolderScan, SwitchesAndShowFolders) {
    Library lib;
    ScanOptions o;
    o.showDirs = false;
    o.formats = {true, false, false, false, false, false};
    const auto mp3Only = ScanFolder(lib.root(), o);
    ASSERT_TRUE(mp3Only);
    EXPECT_EQ(Captions(*mp3Only), (QStringList{"b.mp3", "TRACK.MP3"}));

    o.formats = {true, true, true, true, false, true};  // MP4/M4A/AAC off at once
    const auto noMp4 = ScanFolder(lib.root(), o);
    EXPECT_FALSE(Captions(*noMp4).contains("e.m4a"));
    EXPECT_FALSE(Captions(*noMp4).contains("f.mp4"));
    EXPECT_FALSE(Captions(*noMp4).contains("g.aac"));
}

TEST(FolderScan, RootHasNoParentRow) {
    const auto rows = ScanFolder("/", ScanOptions{});
    ASSERT_TRUE(rows);
    ASSERT_FALSE(rows->empty());
    EXPECT_NE(rows->front().Caption, QStringLiteral(".."));
}

TEST(FolderScan, SubfolderModeGroupsFilesByFolder) {
    Library lib;
    ScanOptions o;
    o.subfolders = true;
    const auto rows = ScanFolder(lib.root(), o);
    ASSERT_TRUE(rows);
    for (const FileEntry& r : *rows)
        EXPECT_TRUE(r.IsFile()) << r.Caption.toStdString();
    const QStringList caps = Captions(*rows);
    // A folder's own files come before those of its subfolders.
    EXPECT_LT(caps.indexOf("TRACK.MP3"), caps.indexOf("a1.mp3"));
    EXPECT_LT(caps.indexOf("a1.mp3"), caps.indexOf("a2.ogg"));
    EXPECT_LT(caps.indexOf("a2.ogg"), caps.indexOf("b1.wma"));
    EXPECT_EQ(rows->size(), 13u);
}

TEST(FolderScan, OnlySelectedSubfolders) {
    Library lib;
    ScanOptions o;
    o.subfolders = true;
    o.onlySelectedSubfolders = true;
    PreviousSelection two{{"alpha", "Beta"}, false};
    const auto only = ScanFolder(lib.root(), o, two);
    ASSERT_TRUE(only);
    EXPECT_EQ(Captions(*only), (QStringList{"a1.mp3", "a2.ogg", "b1.wma"}));

    PreviousSelection withFile{{"alpha"}, true};
    const auto withTop = ScanFolder(lib.root(), o, withFile);
    EXPECT_TRUE(Captions(*withTop).contains("b.mp3"));  // the top folder's own files too
    EXPECT_FALSE(Captions(*withTop).contains("b1.wma"));
}

TEST(FolderScan, StopKeepsWhatWasFound) {
    Library lib;
    ScanOptions o;
    o.subfolders = true;
    int calls = 0;
    ScanHooks hooks{[&] { return ++calls < 3; }, nullptr};
    const auto rows = ScanFolder(lib.root(), o, {}, hooks);
    ASSERT_TRUE(rows);
    EXPECT_LT(rows->size(), 13u);
}

TEST(FolderScan, MissingFolder) {
    EXPECT_FALSE(ScanFolder("/no/such/folder", ScanOptions{}));
    EXPECT_FALSE(ScanFolder("", ScanOptions{}));
}

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

// The list model keeps Qt's model contract through every rescan and reset,
// as the views and selection models that bind to it rely on.
TEST(FileTableModel, KeepsTheModelContractThroughRescans) {
    Library lib;
    FileTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    ScanOptions options;
    const auto rows = ScanFolder(lib.root(), options);
    ASSERT_TRUE(rows);
    model.setRows(*rows);
    ASSERT_EQ(model.rowCount(), static_cast<int>(rows->size()));
    options.subfolders = true;
    model.setRows(*ScanFolder(lib.root(), options));
    model.setRows({});
    EXPECT_EQ(model.rowCount(), 0);
    model.setRows(*rows);
    // Rows carry their path and kind for the commands; the parent row is never selectable.
    for (int r = 0; r < model.rowCount(); ++r) {
        const QModelIndex i = model.index(r);
        const FileEntry& e = model.at(r);
        EXPECT_EQ(i.data(FileTableModel::PathRole).toString(), e.Path());
        EXPECT_EQ(i.data(FileTableModel::IsFileRole).toBool(), e.IsFile());
        EXPECT_EQ(model.flags(i).testFlag(Qt::ItemIsSelectable), !e.IsParent());
    }
}

}  // namespace
