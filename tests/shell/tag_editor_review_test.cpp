// SPDX-License-Identifier: GPL-3.0-or-later
// Editor rules found wrong in review: each case failed before its fix.
#include <gtest/gtest.h>

#include <QApplication>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <string>
#include <vector>

#include "editor/format_bridge.h"
#include "shell/file_list.h"
#include "shell/progress_window.h"
#include "shell/tag_editor.h"
#include "support/test_support.h"
#include "util/text.h"

namespace {

using sondrel::TagBridge;
using sondrel::TagFields;
using sondrel::test::Bytes;
using sondrel::test::TempDir;
using sondrel::test::WriteAll;

void Append(Bytes& b, const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
}

// An MP3 of silence behind an ID3v2.3 tag of Latin-1 text frames.
Bytes Mp3(const std::vector<std::pair<std::string, std::string>>& frames) {
    Bytes body;
    for (const auto& [id, text] : frames) {
        Append(body, id);
        const auto n = static_cast<std::uint32_t>(text.size() + 1);
        for (int shift = 24; shift >= 0; shift -= 8)
            body.push_back(static_cast<std::uint8_t>(n >> shift));
        body.insert(body.end(), {0, 0, 0});
        Append(body, text);
    }
    Bytes file;
    Append(file, "ID3");
    file.insert(file.end(), {3, 0, 0});
    const auto n = static_cast<std::uint32_t>(body.size());
    for (int shift = 21; shift >= 0; shift -= 7)
        file.push_back(static_cast<std::uint8_t>((n >> shift) & 0x7f));
    file.insert(file.end(), body.begin(), body.end());
    const Bytes audio = sondrel::test::SilentMp3();
    file.insert(file.end(), audio.begin(), audio.end());
    return file;
}

TagFields ReadBack(const std::string& path) {
    TagBridge bridge;
    bridge.Read(path);
    return bridge.Hub();
}

class EditorReviewTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!sondrel::test::HaveProgram("ffmpeg"))
            GTEST_SKIP() << "ffmpeg makes the MP3 fixtures";
        list = new FileList(&host);
        editor = new TagEditor(&host);
        editor->setFileList(list);
        editor->liveOptions = [this] { return options; };
        editor->showErrorBox = [this](const QString& m) { errorBoxes << m; };
        editor->setStarted(true);
        list->scanOptions = [] {
            ScanOptions o;
            o.showDirs = false;
            return o;
        };
    }

    std::string Path(const std::string& name) const { return dir.file(name); }
    void Put(const std::string& name, const std::string& title) {
        WriteAll(Path(name), Mp3({{"TIT2", title}}));
    }
    void Open() { list->edDir()->setText(QString::fromStdString(dir.path())); }
    int Row(const std::string& name) const {
        const auto& table = list->FileTable();
        for (int r = 0; r < table.rowCount(); ++r) {
            if (table.at(r).Caption.toStdString() == name)
                return r;
        }
        ADD_FAILURE() << "no row " << name;
        return -1;
    }
    void Click(const std::string& name) {
        list->lbFile()->selectionModel()->setCurrentIndex(list->FileTable().index(Row(name)),
                                                          QItemSelectionModel::ClearAndSelect);
    }
    void Type(QComboBox* box, const QString& text) {
        box->setCurrentIndex(-1);
        box->setEditText(text);
    }
    // Focus needs a shown, active window.
    void ShowHost() {
        host.resize(500, 800);
        host.show();
        host.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
    }

    TempDir dir;
    QWidget host;
    FileList* list = nullptr;
    TagEditor* editor = nullptr;
    TagEditorOptions options;
    QStringList errorBoxes;
};

// The row shown after a one-file save is read with the capitalization the
// save has just reset, so its boxes hold what its file holds.
TEST_F(EditorReviewTest, TheRowShownAfterASaveIsNotCapitalized) {
    Put("a.mp3", "hey jude");
    Put("b.mp3", "let it be");
    Put("c.mp3", "yesterday");
    Open();
    Click("a.mp3");
    editor->cbCapitalization()->setCurrentIndex(sondrel::kCaseUpper);
    ASSERT_EQ(editor->edTitle()->currentText(), QStringLiteral("HEY JUDE"));
    editor->btnSaveClick();
    EXPECT_EQ(ReadBack(Path("a.mp3")).title, "HEY JUDE");
    EXPECT_EQ(editor->cbCapitalization()->currentIndex(), 0);
    ASSERT_EQ(list->FocusedRow(), Row("b.mp3"));
    EXPECT_EQ(editor->edTitle()->currentText(), QStringLiteral("let it be"));
    // Walking on with Enter leaves b as it was.
    editor->btnSaveClick();
    EXPECT_EQ(ReadBack(Path("b.mp3")).title, "let it be");
}

// A save of a row goes into that row's file, whichever file the components
// last read: writing the hub into another file would overwrite its tags.
TEST_F(EditorReviewTest, BatchSaveWritesTheBatchRowEvenWhenAnotherFileWasRead) {
    Put("a.mp3", "Shown");
    Put("b.mp3", "Batch target");
    Open();
    Click("a.mp3");  // the components now hold a.mp3
    TagBridge& bridge = editor->Bridge();
    TagFields hub = bridge.Hub();
    hub.title = "Batch target";
    hub.album = "From the batch";
    bridge.setHub(hub);
    editor->setBatchRow(Row("b.mp3"));
    editor->SaveTag(TagEditor::kSaveBatch);
    const TagFields a = ReadBack(Path("a.mp3"));
    const TagFields b = ReadBack(Path("b.mp3"));
    EXPECT_EQ(a.title, "Shown");
    EXPECT_EQ(a.album, "");
    EXPECT_EQ(b.title, "Batch target");
    EXPECT_EQ(b.album, "From the batch");
}

// Disabling the list and the Save button during a save must not change the
// control that focus returns to.
TEST_F(EditorReviewTest, FocusReturnsToTheControlUsedBeforeTheSave) {
    Put("a.mp3", "One");
    Put("b.mp3", "Two");
    Put("c.mp3", "Three");
    Open();
    ShowHost();
    Click("a.mp3");

    // F2 with the file list focused: the list gets the focus back.
    list->lbFile()->setFocus();
    ASSERT_TRUE(list->lbFile()->hasFocus());
    editor->btnSaveClick();
    EXPECT_EQ(list->FocusedRow(), Row("b.mp3"));
    EXPECT_EQ(QApplication::focusWidget(), list->lbFile());

    // The Save button clicked after typing in the artist box: back to that box.
    editor->edArtist()->setFocus();
    editor->btnSave()->setFocus();
    ASSERT_TRUE(editor->btnSave()->hasFocus());
    editor->btnSaveClick();
    EXPECT_EQ(list->FocusedRow(), Row("c.mp3"));
    EXPECT_EQ(editor->LastEditControl(), editor->edArtist());
    const QWidget* now = QApplication::focusWidget();
    EXPECT_TRUE(now == editor->edArtist() || now == editor->edArtist()->lineEdit());
}

// Up with auto-save on the first row saves it and stays there; the save's
// own move to the next row must not turn Up into a move down.
TEST_F(EditorReviewTest, UpWithAutoSaveOnTheFirstRowStaysOnIt) {
    Put("a.mp3", "One");
    Put("b.mp3", "Two");
    Open();
    options.autoSave = true;
    Click("a.mp3");
    Type(editor->edTitle(), "One, saved");
    QTest::keyClick(editor->edTitle(), Qt::Key_Up);
    EXPECT_EQ(ReadBack(Path("a.mp3")).title, "One, saved");
    EXPECT_EQ(list->FocusedRow(), Row("a.mp3"));
    EXPECT_EQ(list->SelectedCount(), 1);
    EXPECT_TRUE(list->lbFile()->selectionModel()->isRowSelected(Row("a.mp3"), {}));
    EXPECT_EQ(editor->edTitle()->currentText(), QStringLiteral("One, saved"));
}

// Choosing "Other" for a file whose genre is outside the table changes it.
TEST_F(EditorReviewTest, OtherChosenInTheListReplacesAForeignGenre) {
    WriteAll(Path("a.mp3"), Mp3({{"TIT2", "t"}, {"TCON", "Trip Rock"}}));
    Put("b.mp3", "next");
    Open();
    Click("a.mp3");
    ASSERT_EQ(editor->edGenre()->currentText(), QStringLiteral("Trip Rock"));
    editor->edGenre()->setCurrentIndex(editor->GenrePosition(sondrel::kGenreOther));
    editor->btnSaveClick();
    const TagFields a = ReadBack(Path("a.mp3"));
    EXPECT_EQ(a.GenreID, sondrel::kGenreOther);
    EXPECT_EQ(a.Genre, "Other");
    Click("a.mp3");
    EXPECT_EQ(editor->edGenre()->currentIndex(), editor->GenrePosition(sondrel::kGenreOther));
}

// Stop during a several-file save: the rows after it are not written but
// are still unselected and counted.
TEST_F(EditorReviewTest, StopEndsASeveralFileSaveAfterTheCurrentFile) {
    const std::vector<std::string> names = {"a.mp3", "b.mp3", "c.mp3", "d.mp3"};
    for (const auto& n : names)
        Put(n, n);
    Open();
    ProgressWindow wait;
    editor->setProgress(&wait);
    Click(names.front());
    for (const auto& n : names)
        list->lbFile()->selectionModel()->select(list->FileTable().index(Row(n)),
                                                 QItemSelectionModel::Select);
    ASSERT_EQ(list->SelectedCount(), 4);
    Type(editor->edAlbum(), "Stopped");
    // Runs at the first chance the save loop gives pending events, after a.mp3.
    QTimer::singleShot(0, wait.btnStop(), &QPushButton::click);
    editor->btnSaveClick();
    EXPECT_EQ(ReadBack(Path("a.mp3")).album, "Stopped");
    for (const char* n : {"b.mp3", "c.mp3", "d.mp3"})
        EXPECT_EQ(ReadBack(Path(n)).album, "") << n;
    // Only the row after the first one, selected by the move after the save.
    EXPECT_EQ(list->SelectedCount(), 1);
    EXPECT_EQ(list->FocusedRow(), Row("b.mp3"));
    EXPECT_FALSE(wait.Running());
}

// Enter, F2 or Up/Down while a save lets pending events run: no second save
// may start inside the first and unblock the list under its loop.
TEST_F(EditorReviewTest, NoSecondSaveStartsWhileOneRuns) {
    for (const char* n : {"a.mp3", "b.mp3", "c.mp3"})
        Put(n, n);
    Open();
    options.autoSave = true;
    Click("a.mp3");
    for (const char* n : {"b.mp3", "c.mp3"})
        list->lbFile()->selectionModel()->select(list->FileTable().index(Row(n)),
                                                 QItemSelectionModel::Select);
    Type(editor->edAlbum(), "Once");
    struct Seen {
        bool saveEnabled = true;
        bool listEnabled = true;
        int currentRow = -1;
    };
    std::vector<Seen> seen;
    const std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>> keys = {
        {Qt::Key_Return, Qt::NoModifier}, {Qt::Key_Down, Qt::NoModifier}};
    for (const auto& [key, mods] : keys) {
        QTimer::singleShot(0, editor, [&, key = key, mods = mods] {
            const int before = list->FocusedRow();
            QTest::keyClick(editor->edTitle(), key, mods);
            seen.push_back({editor->btnSave()->isEnabled(), list->lbFile()->isEnabled(),
                            list->FocusedRow() - before});
        });
    }
    editor->btnSaveClick();
    ASSERT_EQ(seen.size(), keys.size());
    for (const auto& s : seen) {
        EXPECT_FALSE(s.saveEnabled);
        EXPECT_FALSE(s.listEnabled);
        EXPECT_EQ(s.currentRow, 0);
    }
    for (const char* n : {"a.mp3", "b.mp3", "c.mp3"})
        EXPECT_EQ(ReadBack(Path(n)).album, "Once") << n;
    EXPECT_EQ(list->FocusedRow(), Row("b.mp3"));
    EXPECT_TRUE(editor->btnSave()->isEnabled());
}

}  // namespace
