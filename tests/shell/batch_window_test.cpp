// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDropEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>

#include <filesystem>

#include "shell/batch_table_model.h"
#include "shell/batch_window.h"
#include "shell/main_window.h"
#include "shell/progress.h"
#include "shell/settings_store.h"
#include "support/test_support.h"
#include "tags/file_io.h"

#undef slots
#include "batch/batch_row.h"
#include "editor/format_bridge.h"

namespace {

using sondrel::BatchRow;
namespace fs = std::filesystem;

BatchRow Row(const std::string& path, const std::string& track, bool checked = true) {
    BatchRow row;
    row.data.Path = path;
    row.data.FileName = path;
    row.data.Track = track;
    row.NewTrack = track;
    row.Checked = checked;
    return row;
}

std::vector<std::string> Paths(const BatchTableModel& model) {
    std::vector<std::string> out;
    for (const BatchRow& r : model.rows())
        out.push_back(r.data.Path);
    return out;
}

TEST(BatchTableModel, PassesTheModelTesterThroughResetsSortsTicksAndMoves) {
    BatchTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setRows({Row("a.mp3", "2"), Row("b.mp3", "10"), Row("c.mp3", "B-side", false)});
    ASSERT_EQ(model.rowCount(), 3);
    ASSERT_EQ(model.columnCount(), sondrel::kColumnCount);
    EXPECT_EQ(model.headerData(sondrel::kColAfter, Qt::Horizontal, Qt::DisplayRole).toString(),
              "After");

    // Track sorts by number where both are numbers, by text otherwise.
    model.headerClicked(sondrel::kColTrack);
    EXPECT_EQ(Paths(model), (std::vector<std::string>{"a.mp3", "b.mp3", "c.mp3"}));
    EXPECT_EQ(model.data(model.index(0, sondrel::kColTrack), Qt::BackgroundRole).value<QColor>(),
              QColor::fromRgb(BatchTableModel::kSortedColumnColor));
    EXPECT_FALSE(model.data(model.index(0, sondrel::kColTitle), Qt::BackgroundRole).isValid());
    model.headerClicked(sondrel::kColTrack);  // the same column again: descending
    EXPECT_EQ(Paths(model), (std::vector<std::string>{"c.mp3", "b.mp3", "a.mp3"}));
    model.headerClicked(sondrel::kColFlag);  // unticked first
    EXPECT_EQ(model.rows().front().data.Path, "c.mp3");
    EXPECT_FALSE(model.data(model.index(0, sondrel::kColTrack), Qt::BackgroundRole).isValid())
        << "the column sorted before gets its normal colour back";

    // Ticks through the check box and the row buttons' calls.
    ASSERT_TRUE(model.setData(model.index(0, sondrel::kColFlag), Qt::Checked, Qt::CheckStateRole));
    EXPECT_TRUE(model.rows()[0].Checked);
    model.tickRows({1}, BatchTableModel::Tick::Reverse);
    EXPECT_FALSE(model.rows()[1].Checked);
    model.tickRows({}, BatchTableModel::Tick::Uncheck);
    EXPECT_TRUE(model.rows()[0].Checked) << "no highlighted row: nothing changes";

    // A drag inside the table moves rows; copies and foreign drops do nothing.
    const std::vector<std::string> before = Paths(model);
    std::unique_ptr<QMimeData> mime(model.mimeData({model.index(2, 1)}));
    EXPECT_FALSE(model.canDropMimeData(mime.get(), Qt::CopyAction, 0, 0, {}));
    EXPECT_FALSE(model.dropMimeData(mime.get(), Qt::CopyAction, 0, 0, {}));
    EXPECT_EQ(Paths(model), before);
    QMimeData text;
    text.setText("/some/file.mp3\n/other.mp3");
    EXPECT_FALSE(model.canDropMimeData(&text, Qt::MoveAction, 0, 0, {}));
    EXPECT_FALSE(model.dropMimeData(&text, Qt::MoveAction, 0, 0, {}));
    EXPECT_EQ(model.rowCount(), 3);
    model.dropMimeData(mime.get(), Qt::MoveAction, 0, 0, {});
    EXPECT_EQ(Paths(model), (std::vector<std::string>{before[2], before[0], before[1]}));
}

TEST(BatchTableModel, RefusedRowsShowWhyAndTheTableHasNoRowCap) {
    BatchTableModel model;
    std::vector<BatchRow> rows;
    constexpr int kRows = 20001;
    for (int i = 0; i < kRows; ++i)
        rows.push_back(Row("f" + std::to_string(i) + ".mp3", std::to_string(i)));
    rows[7].After = "New.mp3";
    rows[8].After = "New.mp3";
    rows[8].Problem = "File already exists";
    model.setRows(std::move(rows));
    EXPECT_EQ(model.rowCount(), kRows);
    EXPECT_EQ(model.data(model.index(kRows - 1, sondrel::kColBefore), Qt::DisplayRole).toString(),
              "f20000.mp3");
    EXPECT_EQ(model.data(model.index(7, sondrel::kColAfter), Qt::DisplayRole).toString(),
              "New.mp3");
    EXPECT_EQ(model.data(model.index(8, sondrel::kColAfter), Qt::DisplayRole).toString(),
              "File already exists");
    EXPECT_EQ(model.data(model.index(8, sondrel::kColTitle), Qt::ToolTipRole).toString(),
              "File already exists");
    EXPECT_FALSE(model.data(model.index(7, sondrel::kColTitle), Qt::ToolTipRole).isValid());
}

// Counts the steps and stops after `stopAfter` of them (the Stop button).
struct FakeProgress : ProgressSink {
    int started = -1;
    int steps = 0;
    int stopAfter = -1;
    bool running = false;
    void Start(int max) override {
        started = max;
        running = true;
    }
    void Step() override {
        if (++steps == stopAfter)
            running = false;
    }
    void Finish() override { running = false; }
    void RestoreMain(bool) override {}
    bool Running() const override { return running; }
};

// A folder of tagged MP3 files and a window over them.
struct Fixture {
    QTemporaryDir dir;
    std::string folder;
    std::unique_ptr<SettingsStore> store;
    std::vector<std::string> selected;
    bool permanent = true;
    int refreshed = 0;
    QStringList errors;

    Fixture() {
        folder = dir.path().toStdString() + "/";
        store = std::make_unique<SettingsStore>(dir.filePath("settings.ini"));
    }
    bool AddMp3(const std::string& name, const std::string& artist, const std::string& title) {
        const sondrel::test::Bytes audio = sondrel::test::SilentMp3();
        if (audio.empty())
            return false;
        sondrel::test::Id3v1Values v;
        v.artist = artist;
        v.title = title;
        sondrel::test::WriteAll(folder + name,
                                sondrel::test::Concat({audio, sondrel::test::Id3v1Block(v)}));
        selected.push_back(name);
        return true;
    }
    BatchHost Host() {
        BatchHost host;
        host.selectedFiles = [this] {
            std::vector<sondrel::BatchFile> files;
            for (const std::string& name : selected)
                files.push_back({folder, name, static_cast<std::int32_t>(files.size())});
            return files;
        };
        host.shownFolder = [this] { return QString::fromStdString(folder); };
        host.subfolderMode = [] { return false; };
        host.trackStyle = [] { return 1; };
        host.permanentDelete = [this] { return permanent; };
        host.refreshList = [this] { ++refreshed; };
        return host;
    }
    std::unique_ptr<BatchWindow> Window() {
        auto w = std::make_unique<BatchWindow>(*store, Host());
        w->showError = [this](const QString& m) { errors << m; };
        w->confirm = [](const QString&) { return true; };
        return w;
    }
};

#define REQUIRE_MP3(f, name, artist, title) \
    if (!(f).AddMp3(name, artist, title))   \
    GTEST_SKIP() << "ffmpeg is needed for the MPEG sample files"

TEST(BatchWindow, OpensOnItsTabAndRenamesWithFoldersNeverReplacing) {
    Fixture f;
    REQUIRE_MP3(f, "x1.mp3", "AC/DC", " Back in Black ");
    REQUIRE_MP3(f, "x2.mp3", "Queen", "Innuendo");
    REQUIRE_MP3(f, "x3.mp3", "Queen", "Innuendo");  // the same name as x2
    sondrel::test::WriteAll(f.folder + "Taken.mp3", std::string("keep me"));
    REQUIRE_MP3(f, "x4.mp3", "", "Taken");
    auto w = f.Window();
    FakeProgress progress;
    w->setProgress(&progress);
    w->OpenOn(BatchWindow::kPageRename, "&Rename files", "Rename them");
    EXPECT_EQ(w->objectName(), "fmRename");
    EXPECT_EQ(w->windowTitle(), "Rename files/Generate tags");
    EXPECT_EQ(w->pages()->count(), 6);
    EXPECT_EQ(w->btnRename()->text(), "&Rename files");
    EXPECT_EQ(w->btnRename()->toolTip(), "Rename them");
    EXPECT_EQ(progress.started, 4);
    EXPECT_EQ(progress.steps, 4);
    ASSERT_EQ(w->model()->rowCount(), 4);
    EXPECT_FALSE(w->table()->isColumnHidden(sondrel::kColAfter));

    w->cbFormat()->setEditText("%A - %T");
    auto after = [&w](int row) {
        return w->model()
            ->data(w->model()->index(row, sondrel::kColAfter), Qt::DisplayRole)
            .toString();
    };
    EXPECT_EQ(after(0), "ACDC - Back in Black.mp3");
    EXPECT_EQ(after(2), "File already exists") << "the second row composing the same name";
    w->cbFormat()->setEditText("%T");
    EXPECT_EQ(after(3), "File already exists");

    w->cbFormat()->setEditText("%A\\%T");
    w->model()->tickRows({3}, BatchTableModel::Tick::Uncheck);
    w->RunAction();
    EXPECT_TRUE(sondrel::FileExists(f.folder + "ACDC/Back in Black.mp3"));
    EXPECT_TRUE(sondrel::FileExists(f.folder + "Queen/Innuendo.mp3"));
    EXPECT_TRUE(sondrel::FileExists(f.folder + "x3.mp3")) << "never replaces a file";
    EXPECT_EQ(sondrel::test::ReadAll(f.folder + "Taken.mp3"), sondrel::test::ToBytes("keep me"));
    ASSERT_EQ(f.errors.size(), 1);
    EXPECT_TRUE(f.errors[0].startsWith("Can't rename file(s): 1")) << f.errors[0].toStdString();
    EXPECT_TRUE(f.errors[0].contains("x3.mp3"));
    // The rows left: the refused one with its reason and the unticked one.
    ASSERT_EQ(w->model()->rowCount(), 2);
    EXPECT_EQ(w->model()->rows()[0].Before(), "x3.mp3");
    EXPECT_EQ(after(0), "File already exists");
    EXPECT_EQ(w->model()->rows()[1].Before(), "x4.mp3");
    EXPECT_GE(f.refreshed, 1);
}

// A long list is read on several threads: the table still shows the files
// in the list's order, each with its own tags, and Stop ends it where the
// user pressed it.
TEST(BatchWindow, RescanKeepsTheListOrderAndStopsWhenTheProgressWindowIsStopped) {
    for (const int count : {5, 60}) {
        SCOPED_TRACE(std::to_string(count) + " files");
        Fixture f;
        for (int i = 0; i < count; ++i)
            REQUIRE_MP3(f, "f" + std::to_string(i) + ".mp3", "A", "T" + std::to_string(i));
        auto w = f.Window();
        for (const int stopAfter : {-1, 2}) {
            FakeProgress progress;
            progress.stopAfter = stopAfter;
            w->setProgress(&progress);
            w->Rescan();
            const int shown = stopAfter < 0 ? count : stopAfter;
            ASSERT_EQ(w->model()->rowCount(), shown);
            EXPECT_EQ(progress.steps, shown);
            for (int i = 0; i < shown; ++i) {
                const auto& row = w->model()->rows()[static_cast<std::size_t>(i)];
                EXPECT_EQ(row.Before(), "f" + std::to_string(i) + ".mp3");
                EXPECT_EQ(row.data.Title, "T" + std::to_string(i));
            }
        }
        const QString folder = qEnvironmentVariable("SONDREL_SCREENSHOTS");
        if (!folder.isEmpty() && count > 5) {
            FakeProgress progress;
            w->setProgress(&progress);
            w->Rescan();
            w->show();
            QApplication::processEvents();
            w->grab().save(folder + QStringLiteral("/batch-rescan.png"));
        }
    }
}

TEST(BatchWindow, FileNamesToTagsWritesThePreviewedValues) {
    Fixture f;
    REQUIRE_MP3(f, "07 - Artist - Song.mp3", "old", "old");
    REQUIRE_MP3(f, "no match.mp3", "keep", "keep");
    auto w = f.Window();
    w->OpenOn(BatchWindow::kPageGenerate, "&Generate tags");
    EXPECT_TRUE(w->table()->isColumnHidden(sondrel::kColAfter));
    EXPECT_TRUE(w->model()->newValues());
    w->cbFormat()->setEditText("%# - %A - %T");
    const auto& rows = w->model()->rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].NewTrack, "07");
    EXPECT_EQ(rows[0].NewArtist, "Artist");
    EXPECT_EQ(rows[0].NewTitle, "Song");
    EXPECT_FALSE(rows[1].Problem.empty()) << "the name does not match: shown, not written";
    EXPECT_EQ(
        w->model()->data(w->model()->index(1, sondrel::kColTitle), Qt::ToolTipRole).toString(),
        QString::fromStdString(rows[1].Problem));

    w->RunAction();
    sondrel::TagBridge bridge;
    ASSERT_NE(bridge.Read(f.folder + "07 - Artist - Song.mp3"), sondrel::TagFormat::None);
    EXPECT_EQ(bridge.Hub()[sondrel::Field::Artist], "Artist");
    EXPECT_EQ(bridge.Hub()[sondrel::Field::Title], "Song");
    ASSERT_NE(bridge.Read(f.folder + "no match.mp3"), sondrel::TagFormat::None);
    EXPECT_EQ(bridge.Hub()[sondrel::Field::Title], "keep");
    ASSERT_EQ(w->model()->rowCount(), 1) << "the written file leaves the table";
    EXPECT_EQ(w->model()->rows()[0].Before(), "no match.mp3");

    // Auto numbering: the answer becomes the track expression; cancel releases.
    w->askStartNumber = [] { return QString("5"); };
    w->btnAutoNumbering()->setChecked(true);
    EXPECT_EQ(w->expression(sondrel::kFieldTrack)->text(), "5-");
    w->askStartNumber = [] { return QString(); };
    w->btnAutoNumbering()->setChecked(false);
    w->btnAutoNumbering()->setChecked(true);
    EXPECT_FALSE(w->btnAutoNumbering()->isChecked());
    EXPECT_EQ(w->expression(sondrel::kFieldTrack)->text(), "%#");
}

TEST(BatchWindow, ExportKindsAndTheSpreadsheetHandOver) {
    Fixture f;
    REQUIRE_MP3(f, "a.mp3", "Artist", "Title");
    auto w = f.Window();
    w->OpenOn(BatchWindow::kPageExport, "&Create playlists");
    EXPECT_EQ(w->cbExport()->count(), 5);
    EXPECT_EQ(w->cbExport()->itemText(3), "M3U playlist");

    struct Case {
        int kind;
        const char* name;
        const char* written;
        const char* firstLine;
    };
    const Case cases[] = {
        {1, "list", "list.csv",
         "\xEF\xBB\xBF"
         "Filename;Track"},
        {2, "list", "list.tsv",
         "\xEF\xBB\xBF"
         "Filename\tTrack"},
        {3, "list", "list.m3u", "#EXTM3U"},
        {4, "my.list", "my.list", "[playlist]"},
    };
    for (const Case& c : cases) {
        int askedFilter = -1;
        w->askSaveName = [&](const QString& filters, int index) {
            askedFilter = index;
            EXPECT_EQ(filters.split(";;").size(), 5);
            return QString::fromStdString(f.folder + c.name);
        };
        w->cbExport()->setCurrentIndex(c.kind);
        w->RunAction();
        EXPECT_EQ(askedFilter, c.kind);
        const auto bytes = sondrel::test::ReadAll(f.folder + c.written);
        const std::string text(bytes.begin(), bytes.end());
        EXPECT_EQ(text.substr(0, std::string(c.firstLine).size()), c.firstLine) << c.written;
    }
    // A cancelled save dialog writes nothing.
    w->askSaveName = [](const QString&, int) { return QString(); };
    w->cbExport()->setCurrentIndex(3);
    fs::remove(f.folder + "list.m3u");
    w->RunAction();
    EXPECT_FALSE(sondrel::FileExists(f.folder + "list.m3u"));

    // Spreadsheet: TSV on the clipboard, the workbook in the temporary folder.
    QString opened;
    w->openExternal = [&opened](const QString& path) {
        opened = path;
        return false;  // nothing opens it
    };
    w->cbExport()->setCurrentIndex(0);
    w->RunAction();
    EXPECT_TRUE(QApplication::clipboard()->text().startsWith("Filename\tTrack"));
    ASSERT_FALSE(w->lastWorkbook().isEmpty());
    EXPECT_EQ(opened, w->lastWorkbook());
    EXPECT_TRUE(sondrel::FileExists(w->lastWorkbook().toStdString()));
    ASSERT_FALSE(f.errors.isEmpty());
    EXPECT_TRUE(f.errors.last().contains(w->lastWorkbook())) << "says where the workbook is";
    fs::remove(w->lastWorkbook().toStdString());
}

TEST(BatchWindow, DeleteOfTickedFilesCountsAFailedTrashMove) {
    Fixture f;
    REQUIRE_MP3(f, "a.mp3", "A", "1");
    REQUIRE_MP3(f, "b.mp3", "B", "2");
    auto w = f.Window();
    w->OpenOn(BatchWindow::kPageRename);
    f.permanent = false;
    w->toTrash = [](const std::string&, std::string& error) {
        error = "trash refused";
        return false;
    };
    w->model()->tickRows({1}, BatchTableModel::Tick::Uncheck);
    w->DeleteChecked();
    EXPECT_TRUE(sondrel::FileExists(f.folder + "a.mp3"));
    ASSERT_EQ(f.errors.size(), 1);
    EXPECT_TRUE(f.errors[0].startsWith("Can't delete file(s): 1"));
    EXPECT_TRUE(f.errors[0].contains("trash refused"));
    EXPECT_TRUE(w->isVisible()) << "errors keep the window open";

    // Answering No deletes nothing.
    f.permanent = true;
    w->confirm = [](const QString&) { return false; };
    w->DeleteChecked();
    EXPECT_TRUE(sondrel::FileExists(f.folder + "a.mp3"));
    w->confirm = [](const QString&) { return true; };
    w->DeleteChecked();
    EXPECT_FALSE(sondrel::FileExists(f.folder + "a.mp3"));
    EXPECT_TRUE(sondrel::FileExists(f.folder + "b.mp3")) << "unticked";
    EXPECT_FALSE(w->isVisible()) << "no error: the window closes";
}

TEST(BatchWindow, RowButtonsFieldsListAndLookUpTabs) {
    Fixture f;
    REQUIRE_MP3(f, "a.mp3", "A", "1");
    REQUIRE_MP3(f, "b.mp3", "B", "2");
    auto w = f.Window();
    w->OpenOn(BatchWindow::kPageRename);
    ASSERT_EQ(w->model()->rowCount(), 2);
    w->CheckHighlighted();
    w->UncheckHighlighted();
    EXPECT_TRUE(w->model()->rows()[0].Checked) << "nothing highlighted: nothing changes";
    w->table()->selectRow(1);
    w->ReverseHighlighted();
    EXPECT_TRUE(w->model()->rows()[0].Checked);
    EXPECT_FALSE(w->model()->rows()[1].Checked);
    w->SelectAllRows();
    w->UncheckHighlighted();
    EXPECT_FALSE(w->model()->rows()[0].Checked);

    // Fields list: moving Title above Track moves its column; unticking hides it.
    QHeaderView* header = w->table()->horizontalHeader();
    w->lbFormats()->setCurrentRow(1);
    w->MoveField(-1);
    EXPECT_EQ(w->lbFormats()->currentRow(), 0);
    EXPECT_EQ(w->lbFormats()->item(0)->text(), "Title (%T, %1)");
    EXPECT_EQ(header->visualIndex(sondrel::kColTitle), 3);
    EXPECT_EQ(header->visualIndex(sondrel::kColTrack), 4);
    w->lbFormats()->item(0)->setCheckState(Qt::Unchecked);
    EXPECT_TRUE(w->table()->isColumnHidden(sondrel::kColTitle));
    EXPECT_FALSE(w->formatSlots()[1].Visible);
    w->lbFormats()->setCurrentRow(0);
    w->MoveField(-1);
    EXPECT_EQ(w->lbFormats()->currentRow(), 0) << "the first item cannot go up";

    // The look-up tabs keep the rows' records as they are.
    const std::string title = w->model()->rows()[0].data.Title;
    w->pages()->setCurrentIndex(BatchWindow::kPageFreeDb);
    w->pages()->setCurrentIndex(BatchWindow::kPageAmazon);
    w->pages()->setCurrentIndex(BatchWindow::kPageRename);
    EXPECT_EQ(w->model()->rows()[0].data.Title, title);
    EXPECT_EQ(w->model()->rowCount(), 2);
}

TEST(BatchWindow, FieldsDraggedOntoTheBoxesAreAppended) {
    Fixture f;
    REQUIRE_MP3(f, "a.mp3", "Artist", "Song");
    auto w = f.Window();
    w->OpenOn(BatchWindow::kPageRename);
    // Title moved to the top of the list: the drag takes the field the item
    // shows, not the one that sat there first.
    w->lbFormats()->setCurrentRow(1);
    w->MoveField(-1);
    QAbstractItemModel* list = w->lbFormats()->model();
    auto dragOf = [list](int pos) {
        return std::unique_ptr<QMimeData>(list->mimeData({list->index(pos, 0)}));
    };
    auto dropOn = [](QWidget* target, const QMimeData* mime) {
        QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QDropEvent drop(QPointF(2, 2), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        return enter.isAccepted() && drop.isAccepted();
    };
    QLineEdit* templateBox = w->cbFormat()->lineEdit();
    templateBox->setText("%A - ");
    templateBox->setCursorPosition(0);  // appended all the same
    const auto title = dragOf(0);
    ASSERT_TRUE(title);
    EXPECT_TRUE(dropOn(templateBox, title.get()));
    EXPECT_EQ(w->cbFormat()->currentText(), "%A - %T");
    EXPECT_EQ(w->model()->rows()[0].After, "Artist - Song.mp3") << "the preview followed the drop";

    QLineEdit* expression = w->expression(sondrel::kFieldTitle);
    expression->setText("x");
    const auto genre = dragOf(5);
    EXPECT_TRUE(dropOn(expression, genre.get()));
    EXPECT_EQ(expression->text(), "x%G");
    // Text from elsewhere is no field: the filter leaves it to the box.
    QMimeData text;
    text.setData("application/x-other", "%T");
    dropOn(expression, &text);
    EXPECT_EQ(expression->text(), "x%G");
}

TEST(BatchWindow, SubRowsShowUnderTheirParentInTheTable) {
    Fixture f;
    REQUIRE_MP3(f, "01 - parent.mp3", "Band", "Parent");
    REQUIRE_MP3(f, "02 - child.mp3", "Band", "Child");
    REQUIRE_MP3(f, "03 - other.mp3", "Other", "Solo");
    REQUIRE_MP3(f, "04 - child.mp3", "Band", "Second child");
    auto w = f.Window();
    w->resize(760, 460);
    w->OpenOn(BatchWindow::kPageRename);
    BatchTableModel* model = w->model();
    std::unique_ptr<QMimeData> mime(model->mimeData({model->index(1, 1), model->index(3, 1)}));
    model->dropMimeData(mime.get(), Qt::MoveAction, -1, -1, model->index(0, 1));
    EXPECT_EQ(Paths(*model), (std::vector<std::string>{"01 - parent.mp3", "02 - child.mp3",
                                                       "04 - child.mp3", "03 - other.mp3"}));
    // The moved rows are highlighted where they landed.
    const QModelIndexList highlighted = w->table()->selectionModel()->selectedRows();
    ASSERT_EQ(highlighted.size(), 2);
    EXPECT_EQ(std::min(highlighted[0].row(), highlighted[1].row()), 1);
    // A run walks them in display order: the parent, then its sub-rows.
    w->Preview();
    EXPECT_EQ(model->rows()[1].After, "Band - Child.mp3");
    const QString folder = qEnvironmentVariable("SONDREL_SCREENSHOTS");
    if (!folder.isEmpty()) {
        w->show();
        QApplication::processEvents();
        w->grab().save(folder + QStringLiteral("/batch-subrows.png"));
    }
}

TEST(BatchWindow, RowsDroppedOntoARowBecomeItsSubRows) {
    BatchTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setRows({Row("a.mp3", "3"), Row("b.mp3", "1"), Row("c.mp3", "2"), Row("d.mp3", "4")});
    int movedFirst = -1;
    int movedCount = -1;
    QObject::connect(&model, &BatchTableModel::rowsMovedTo, [&](int first, int count) {
        movedFirst = first;
        movedCount = count;
    });
    std::unique_ptr<QMimeData> mime(model.mimeData({model.index(2, 1), model.index(3, 4)}));
    // Onto row 0 (no row number, the row as the parent): c and d go under a.
    model.dropMimeData(mime.get(), Qt::MoveAction, -1, -1, model.index(0, 1));
    EXPECT_EQ(Paths(model), (std::vector<std::string>{"a.mp3", "c.mp3", "d.mp3", "b.mp3"}));
    EXPECT_EQ(movedFirst, 1);
    EXPECT_EQ(movedCount, 2);
    EXPECT_TRUE(model.rows()[1].SubRow);
    EXPECT_TRUE(model.data(model.index(1, sondrel::kColBefore), Qt::DisplayRole)
                    .toString()
                    .endsWith(" c.mp3"));
    EXPECT_NE(model.data(model.index(1, sondrel::kColBefore), Qt::DisplayRole).toString(), "c.mp3")
        << "a sub-row is shown indented under its parent";
    // Sorting keeps them under their parent: a (3) after b (1).
    model.headerClicked(sondrel::kColTrack);
    EXPECT_EQ(Paths(model), (std::vector<std::string>{"b.mp3", "a.mp3", "c.mp3", "d.mp3"}));
    // The parent dragged between rows takes its sub-rows along.
    std::unique_ptr<QMimeData> parent(model.mimeData({model.index(1, 0)}));
    model.dropMimeData(parent.get(), Qt::MoveAction, 0, 0, {});
    EXPECT_EQ(Paths(model), (std::vector<std::string>{"a.mp3", "c.mp3", "d.mp3", "b.mp3"}));
    EXPECT_EQ(movedCount, 3);
    // A parent onto its own sub-row: refused, nothing moves.
    std::unique_ptr<QMimeData> again(model.mimeData({model.index(0, 0)}));
    movedCount = -1;
    model.dropMimeData(again.get(), Qt::MoveAction, -1, -1, model.index(2, 0));
    EXPECT_EQ(Paths(model), (std::vector<std::string>{"a.mp3", "c.mp3", "d.mp3", "b.mp3"}));
    EXPECT_EQ(movedCount, -1);
}

TEST(BatchWindow, ARunSelectsTheFilesItLeftInTheMainList) {
    Fixture f;
    REQUIRE_MP3(f, "keep.mp3", "Art", "Kept");
    REQUIRE_MP3(f, "go.mp3", "Art", "Gone");
    REQUIRE_MP3(f, "clash.mp3", "Art", "Taken");
    sondrel::test::WriteAll(f.folder + "Art - Taken.mp3", std::string("in the way"));
    std::vector<std::vector<std::string>> selections;
    BatchHost host = f.Host();
    host.selectInList = [&](const std::vector<std::string>& paths) { selections.push_back(paths); };
    BatchWindow w(*f.store, host);
    w.showError = [](const QString&) {};
    w.OpenOn(BatchWindow::kPageRename);
    w.cbFormat()->setEditText("%A - %T");
    w.model()->tickRows({0}, BatchTableModel::Tick::Uncheck);
    w.RunAction();
    // keep.mp3 was unticked (an outcome of its own), clash.mp3 refused;
    // go.mp3 was renamed and leaves the selection.
    ASSERT_EQ(selections.size(), 1u);
    EXPECT_EQ(selections[0],
              (std::vector<std::string>{f.folder + "keep.mp3", f.folder + "clash.mp3"}));
}

TEST(BatchWindow, SettingsSurviveARestart) {
    Fixture f;
    {
        auto w = f.Window();
        EXPECT_EQ(w->cbFormat()->count(), 7) << "the built-in list";
        EXPECT_EQ(w->cbReplace()->currentIndex(), 2);
        EXPECT_EQ(w->cbMode()->currentIndex(), 1);
        EXPECT_TRUE(w->cbBad()->isChecked());
        w->cbFormat()->setEditText("%Y - %L");
        w->btnPlusClick();
        w->cbFormat()->setEditText("%T");
        w->btnMinusClick();
        w->cbCapitalization()->setCurrentIndex(3);
        w->cbReplace()->setCurrentIndex(1);
        w->cbBad()->setChecked(false);
        w->cbRemoveExtraSpaces()->setChecked(false);
        w->cbMode()->setCurrentIndex(2);
        w->cbExport()->setCurrentIndex(4);
        w->lbFormats()->setCurrentRow(2);
        w->MoveField(+1);
        w->SetFieldVisible(5, false);
        w->table()->setColumnWidth(sondrel::kColBefore, 222);
        w->resize(700, 500);
    }
    EXPECT_EQ(f.store->ReadString("Format7"), "%Y - %L");
    EXPECT_EQ(f.store->ReadInteger("KolFormat", 0), 7);
    {
        auto w = f.Window();
        QStringList items;
        for (int i = 0; i < w->cbFormat()->count(); ++i)
            items << w->cbFormat()->itemText(i);
        EXPECT_FALSE(items.contains("%T"));
        EXPECT_EQ(items.last(), "%Y - %L");
        EXPECT_EQ(w->cbCapitalization()->currentIndex(), 3);
        EXPECT_EQ(w->cbReplace()->currentIndex(), 1);
        EXPECT_FALSE(w->cbBad()->isChecked());
        EXPECT_FALSE(w->cbRemoveExtraSpaces()->isChecked());
        EXPECT_EQ(w->cbMode()->currentIndex(), 2);
        EXPECT_EQ(w->cbExport()->currentIndex(), 4);
        EXPECT_EQ(sondrel::SlotAtListPos(w->formatSlots(), 3), 2) << "Artist moved down";
        EXPECT_FALSE(w->formatSlots()[5].Visible);
        EXPECT_EQ(w->table()->columnWidth(sondrel::kColBefore), 222);
        EXPECT_EQ(w->width(), 700);
        EXPECT_EQ(w->height(), 500);
    }
    // Stored positions with a duplicate go back to the natural order.
    f.store->WriteInteger("format4ind", 3);
    f.store->WriteInteger("rnWidth", 100);
    {
        auto w = f.Window();
        for (int i = 0; i < sondrel::kOptionalColumnCount; ++i)
            EXPECT_EQ(w->formatSlots()[static_cast<std::size_t>(i)].ListPos, i);
        EXPECT_EQ(w->width(), 650) << "narrower than 650";
    }
}

TEST(BatchWindow, MainWindowCommandsOpenTheRightTab) {
    QTemporaryDir dir;
    SettingsStore store(dir.filePath("settings.ini"));
    MainWindow main(store);
    struct Case {
        const char* command;
        int page;
        const char* caption;
    };
    const Case cases[] = {
        {"actRename", BatchWindow::kPageRename, "&Rename files"},
        {"actGenerate", BatchWindow::kPageGenerate, "&Generate tags"},
        {"actPlaylists", BatchWindow::kPageExport, "&Create playlists"},
    };
    for (const Case& c : cases) {
        QAction* command = main.action(c.command);
        ASSERT_TRUE(command);
        EXPECT_TRUE(command->isEnabled()) << c.command;
        command->trigger();
        BatchWindow* w = main.batchWindow();
        EXPECT_TRUE(w->isVisible()) << c.command;
        EXPECT_EQ(w->pages()->currentIndex(), c.page) << c.command;
        EXPECT_EQ(w->btnRename()->text(), c.caption) << c.command;
        w->close();
    }
}

}  // namespace
