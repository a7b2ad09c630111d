// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/tag_editor.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "editor/format_bridge.h"
#include "shell/file_list.h"
#include "shell/info_window.h"
#include "shell/main_window.h"
#include "shell/progress_window.h"
#include "shell/settings_store.h"
#include "support/test_support.h"
#include "tags/file_io.h"
#include "tags/region_write.h"
#include "util/text.h"

namespace {

using sondrel::TagBridge;
using sondrel::TagFields;
using sondrel::test::Bytes;
using sondrel::test::ReadAll;
using sondrel::test::TempDir;
using sondrel::test::WriteAll;

// ---- Fixture files built byte by byte, so each shows exactly one thing ----

void Append(Bytes& b, const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
}

Bytes Id3v2Frame(const std::string& id, const Bytes& body) {
    Bytes f;
    Append(f, id);
    const auto n = static_cast<std::uint32_t>(body.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        f.push_back(static_cast<std::uint8_t>(n >> shift));
    f.push_back(0);
    f.push_back(0);
    f.insert(f.end(), body.begin(), body.end());
    return f;
}

Bytes TextFrame(const std::string& id, const std::string& text) {
    Bytes body{0};  // ISO-8859-1
    Append(body, text);
    return Id3v2Frame(id, body);
}

Bytes PictureFrame() {
    Bytes body{0};
    Append(body, "image/png");
    body.push_back(0);
    body.push_back(3);  // front cover
    Append(body, "cover");
    body.push_back(0);
    Append(body, "\x89PNG-not-really-a-picture");
    return Id3v2Frame("APIC", body);
}

// An ID3v2.3 tag holding `frames`.
Bytes Id3v2(const std::vector<Bytes>& frames) {
    Bytes body;
    for (const auto& f : frames)
        body.insert(body.end(), f.begin(), f.end());
    Bytes tag;
    Append(tag, "ID3");
    tag.push_back(3);
    tag.push_back(0);
    tag.push_back(0);
    const auto n = static_cast<std::uint32_t>(body.size());
    for (int shift = 21; shift >= 0; shift -= 7)
        tag.push_back(static_cast<std::uint8_t>((n >> shift) & 0x7f));
    tag.insert(tag.end(), body.begin(), body.end());
    return tag;
}

struct V1 {
    std::string title, artist, album, year, comment;
    std::uint8_t track = 0;
    std::uint8_t genre = 12;
};

Bytes Id3v1(const V1& v) {
    return sondrel::test::Id3v1Block(
        {v.title, v.artist, v.album, v.year, v.comment, 0, v.track, v.genre});
}

// An MP3 of silence with the given ID3v2 frames (none: no ID3v2 tag) and
// an optional ID3v1 tag.
Bytes Mp3(const std::vector<Bytes>& frames, const V1* v1 = nullptr) {
    Bytes file = frames.empty() ? Bytes{} : Id3v2(frames);
    const Bytes audio = sondrel::test::SilentMp3();
    file.insert(file.end(), audio.begin(), audio.end());
    if (v1) {
        const Bytes tag = Id3v1(*v1);
        file.insert(file.end(), tag.begin(), tag.end());
    }
    return file;
}

// What a fresh set of components reads from a file.
TagFields ReadBack(const std::string& path, int readChoice = sondrel::kVersion12) {
    sondrel::EditorOptions o;
    o.readChoice = readChoice;
    TagBridge bridge(o);
    bridge.Read(path);
    return bridge.Hub();
}

std::vector<std::string> TextFields(const TagFields& t) {
    return {t.track, t.title,    t.artist,     t.album,     t.year, t.Genre,    t.comment,
            t.text,  t.composer, t.OrigArtist, t.copyright, t.URL,  t.EncodedBy};
}

std::string Text(const QComboBox* box) {
    return box->currentText().toStdString();
}

// A file list and a tag editor over a temporary folder.
class EditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!sondrel::test::HaveProgram("ffmpeg"))
            GTEST_SKIP() << "ffmpeg makes the MP3 fixtures";
        list = new FileList(&host);
        editor = new TagEditor(&host);
        editor->setFileList(list);
        editor->liveOptions = [this] { return options; };
        editor->showErrorBox = [this](const QString& m) { errorBoxes << m; };
        editor->openUrl = [this](const QString& t) { openedUrls << t; };
        editor->askUnsaved = [this] {
            ++questions;
            return answer;
        };
        editor->setStarted(true);
        // No ".." row: the first and last rows are files.
        list->scanOptions = [] {
            ScanOptions o;
            o.showDirs = false;
            return o;
        };
        host.resize(500, 700);
    }

    std::string Path(const std::string& name) const { return dir.file(name); }
    void Put(const std::string& name, const Bytes& data) { WriteAll(Path(name), data); }
    void PutSample(const std::string& sample, const std::string& name) {
        std::filesystem::copy_file(std::string(SONDREL_SOURCE_DIR) + "/samples/" + sample,
                                   Path(name));
    }
    // Lists the folder (rows sorted by name, no folders in it).
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
    QItemSelectionModel* Selection() const { return list->lbFile()->selectionModel(); }
    // A click on a row: it alone is selected and current.
    void Click(const std::string& name) {
        Selection()->setCurrentIndex(list->FileTable().index(Row(name)),
                                     QItemSelectionModel::ClearAndSelect);
    }
    // Ctrl+clicks: every named row selected, the first current.
    void SelectRows(const std::vector<std::string>& names) {
        Click(names.front());
        for (std::size_t i = 1; i < names.size(); ++i)
            Selection()->select(list->FileTable().index(Row(names[i])),
                                QItemSelectionModel::Select);
    }
    bool IsSelected(const std::string& name) const {
        return Selection()->isRowSelected(Row(name), {});
    }
    void Type(QComboBox* box, const QString& text) {
        box->setCurrentIndex(-1);
        box->setEditText(text);
    }

    TempDir dir;
    QWidget host;
    FileList* list = nullptr;
    TagEditor* editor = nullptr;
    TagEditorOptions options;
    QStringList errorBoxes;
    QStringList openedUrls;
    // What the user answers when unsaved edits would be dropped.
    UnsavedAnswer answer = UnsavedAnswer::Discard;
    int questions = 0;
};

// ---- Reading ----

TEST_F(EditorTest, ReadChoicesMergeId3v1IntoId3v2) {
    const V1 v1{"B", "C", "V1 Album", "1999", "v1 comment", 7, 0};
    Put("a.mp3",
        Mp3({TextFrame("TIT2", "A"), TextFrame("TCOM", "Composer"), TextFrame("TCON", "Rock")},
            &v1));
    Open();
    struct Case {
        int choice;
        const char* title;
        const char* artist;
        const char* track;
        const char* composer;
        const char* genre;
    };
    const Case cases[] = {
        {sondrel::kVersion12, "A", "C", "7", "Composer", "Rock"},
        {sondrel::kVersion2, "A", "", "", "Composer", "Rock"},
        // ID3v1 alone: the extended boxes are empty, the genre is the v1 byte.
        {sondrel::kVersion1, "B", "C", "7", "", "Blues"},
    };
    for (const auto& c : cases) {
        editor->setReadTagChoice(c.choice);
        Click("a.mp3");
        EXPECT_EQ(Text(editor->edTitle()), c.title) << c.choice;
        EXPECT_EQ(Text(editor->edArtist()), c.artist) << c.choice;
        EXPECT_EQ(Text(editor->edTrack()), c.track) << c.choice;
        EXPECT_EQ(Text(editor->edComposer()), c.composer) << c.choice;
        EXPECT_EQ(Text(editor->edGenre()), c.genre) << c.choice;
    }
}

TEST_F(EditorTest, ChangingTheReadChoiceReadsTheFileAgainAtOnce) {
    const V1 v1{"B", "C", "", "", "", 0, 12};
    Put("a.mp3", Mp3({TextFrame("TIT2", "A")}, &v1));
    Open();
    Click("a.mp3");
    EXPECT_EQ(Text(editor->edTitle()), "A");
    editor->actChangeTags();  // version 1&2 -> version 1
    EXPECT_EQ(editor->ReadTagChoice(), sondrel::kVersion1);
    EXPECT_EQ(Text(editor->edTitle()), "B");
}

TEST_F(EditorTest, GenreSelectionRules) {
    struct Case {
        const char* tcon;
        int selected;  // list position, -1 for none
        const char* shown;
    };
    const int other = editor->GenrePosition(12);
    ASSERT_EQ(other, TagEditor::kGenreOtherPosition);
    const Case cases[] = {
        {"(12)Other", other, "Other"},
        {"Other", other, "Other"},
        {"Trip Rock", -1, "Trip Rock"},
        {"(17)", editor->GenrePosition(17), "Rock"},
    };
    int n = 0;
    for (const auto& c : cases) {
        Put("g" + std::to_string(n++) + ".mp3", Mp3({TextFrame("TCON", c.tcon)}));
    }
    Open();
    n = 0;
    for (const auto& c : cases) {
        Click("g" + std::to_string(n++) + ".mp3");
        EXPECT_EQ(editor->edGenre()->findText(editor->edGenre()->currentText()), c.selected)
            << c.tcon;
        EXPECT_EQ(Text(editor->edGenre()), c.shown) << c.tcon;
        // A genre that is not in the table is hinted: ID3v1 cannot hold it.
        EXPECT_EQ(TagEditor::BoxColor(editor->edGenre()) == editor->HighlightColor(),
                  c.selected < 0)
            << c.tcon;
    }
}

TEST_F(EditorTest, EveryFormatIsReadIntoTheBoxes) {
    PutSample("02 - Evening Tune.ogg", "b.ogg");
    PutSample("03 - Night Tune.wma", "c.wma");
    PutSample("04 - Dawn Tune.m4a", "d.m4a");
    Open();
    const std::pair<const char*, const char*> cases[] = {
        {"b.ogg", "Evening Tune"}, {"c.wma", "Night Tune"}, {"d.m4a", "Dawn Tune"}};
    for (const auto& [name, title] : cases) {
        Click(name);
        EXPECT_EQ(Text(editor->edTitle()), title) << name;
        EXPECT_EQ(Text(editor->edArtist()), "Sondrel Samples") << name;
        EXPECT_EQ(Text(editor->edGenre()), "Ambient") << name;
        EXPECT_TRUE(editor->btnSave()->isEnabled());
    }
}

TEST_F(EditorTest, AMissingFileShowsAnEmptyEditor) {
    Put("a.mp3", Mp3({TextFrame("TIT2", "Gone soon")}));
    Put("b.mp3", Mp3({TextFrame("TIT2", "Here")}));
    Open();
    Click("b.mp3");
    std::filesystem::remove(Path("a.mp3"));
    Click("a.mp3");
    EXPECT_EQ(Text(editor->edTitle()), "");
    EXPECT_TRUE(editor->LyricsText().isEmpty());
    // Saving it creates nothing, and the failure is shown with the file and the reason.
    Type(editor->edTitle(), "x");
    editor->btnSaveClick();
    EXPECT_FALSE(std::filesystem::exists(Path("a.mp3")));
    ASSERT_EQ(errorBoxes.size(), 1);
    EXPECT_TRUE(errorBoxes.front().contains(QStringLiteral("a.mp3")))
        << errorBoxes.front().toStdString();
    // The file stays current, and so does what was typed for it.
    EXPECT_EQ(list->FocusedRow(), Row("a.mp3"));
    EXPECT_EQ(Text(editor->edTitle()), "x");
}

// ---- Saving ----

TEST_F(EditorTest, OneFileSaveWritesTheBoxesAndMovesToTheNextRow) {
    Put("a.mp3", Mp3({TextFrame("TIT2", "Old"), TextFrame("TPE1", "Artist"), PictureFrame()}));
    Put("b.mp3", Mp3({TextFrame("TIT2", "Next")}));
    Open();
    Click("a.mp3");
    Type(editor->edTitle(), "New");
    editor->memoComment()->setPlainText("line one\nline two");
    editor->btnSaveClick();

    const TagFields a = ReadBack(Path("a.mp3"));
    EXPECT_EQ(a.title, "New");
    EXPECT_EQ(a.artist, "Artist");
    EXPECT_EQ(a.comment, "line one\nline two");  // the memo's whole text
    EXPECT_EQ(a.ImagesCount, 1);
    EXPECT_FALSE(IsSelected("a.mp3"));
    EXPECT_TRUE(IsSelected("b.mp3"));
    EXPECT_EQ(list->FocusedRow(), Row("b.mp3"));
    EXPECT_EQ(Text(editor->edTitle()), "Next");
    EXPECT_TRUE(errorBoxes.isEmpty());
}

// What the recovery of an interrupted save left alone (here a journal
// another account could have planted, so never replayed) is told in the
// window at the next save, once, even with error boxes turned off.
TEST_F(EditorTest, ASaveTellsWhatRecoveryLeftAloneOnce) {
    TempDir journals;
    ASSERT_EQ(::chmod(journals.path().c_str(), 0700), 0);
    const std::string planted = journals.file("planted.journal");
    WriteAll(planted, Bytes(16, 0));
    ASSERT_EQ(::chmod(planted.c_str(), 0644), 0);
    // The process's own first recovery is spent first, on this folder, so
    // the saves below do not run it again over the user's real one.
    const char* real = std::getenv("SONDREL_JOURNAL_DIR");
    const std::string restore = real ? real : "";
    ::setenv("SONDREL_JOURNAL_DIR", journals.path().c_str(), 1);
    sondrel::RecoverJournalsOnce();
    sondrel::RecoverJournals(journals.path());
    ASSERT_FALSE(sondrel::JournalProblems().empty());

    options.showErrors = false;
    Put("a.mp3", Mp3({TextFrame("TIT2", "Old")}));
    Put("b.mp3", Mp3({TextFrame("TIT2", "Next")}));
    Open();
    Click("a.mp3");
    Type(editor->edTitle(), "New");
    editor->btnSaveClick();
    EXPECT_EQ(ReadBack(Path("a.mp3")).title, "New");
    ASSERT_EQ(errorBoxes.size(), 1);
    EXPECT_TRUE(errorBoxes.front().contains(QString::fromStdString(planted)))
        << errorBoxes.front().toStdString();

    Click("b.mp3");
    Type(editor->edTitle(), "Newer");
    editor->btnSaveClick();
    EXPECT_EQ(ReadBack(Path("b.mp3")).title, "Newer");
    EXPECT_EQ(errorBoxes.size(), 1) << "told again";
    if (real)
        ::setenv("SONDREL_JOURNAL_DIR", restore.c_str(), 1);
    else
        ::unsetenv("SONDREL_JOURNAL_DIR");
}

TEST_F(EditorTest, SavingTheLastRowKeepsItSelectedAndShowsItAgain) {
    Put("a.mp3", Mp3({TextFrame("TIT2", "First")}));
    Put("z.mp3", Mp3({TextFrame("TIT2", "Last")}));
    Open();
    Click("z.mp3");
    Type(editor->edTitle(), "Last, saved");
    editor->btnSaveClick();
    EXPECT_TRUE(IsSelected("z.mp3"));
    EXPECT_EQ(list->FocusedRow(), Row("z.mp3"));
    EXPECT_EQ(Text(editor->edTitle()), "Last, saved");
    EXPECT_EQ(ReadBack(Path("z.mp3")).title, "Last, saved");
}

TEST_F(EditorTest, SeveralFilesGetOnlyTheChangedBoxAndKeepTheirOwnFields) {
    Put("a.mp3", Mp3({TextFrame("TIT2", "Title A"), TextFrame("TPE1", "Artist A"),
                      TextFrame("TCON", "Rock"), PictureFrame()}));
    Put("b.mp3", Mp3({TextFrame("TIT2", "Title B"), TextFrame("TYER", "1980")}));
    PutSample("02 - Evening Tune.ogg", "c.ogg");
    Put("d.mp3", Mp3({TextFrame("TIT2", "Not selected")}));
    Open();
    std::map<std::string, TagFields> before;
    for (const char* name : {"a.mp3", "b.mp3", "c.ogg"})
        before[name] = ReadBack(Path(name));
    SelectRows({"a.mp3", "b.mp3", "c.ogg"});
    ASSERT_EQ(list->SelectedCount(), 3);
    // Every box shows the marker, first in its list.
    for (QComboBox* box : {editor->edTitle(), editor->edArtist(), editor->edGenre(),
                           editor->edComment(), editor->edURL(), editor->edTrack()}) {
        EXPECT_EQ(box->currentText(), editor->KeepMarker()) << box->objectName().toStdString();
        EXPECT_EQ(box->itemText(0), editor->KeepMarker()) << box->objectName().toStdString();
    }
    EXPECT_EQ(editor->LyricsText(), editor->KeepMarker());

    Type(editor->edAlbum(), "Shared Album");
    editor->btnSaveClick();

    for (auto& [name, expected] : before) {
        expected.album = "Shared Album";
        const TagFields after = ReadBack(Path(name));
        EXPECT_EQ(TextFields(after), TextFields(expected)) << name;
        EXPECT_EQ(after.GenreID, expected.GenreID) << name;
        EXPECT_EQ(after.ImagesCount, expected.ImagesCount) << name;
    }
    EXPECT_EQ(before["a.mp3"].ImagesCount, 1);
    EXPECT_EQ(before["c.ogg"].title, "Evening Tune");
    EXPECT_EQ(ReadBack(Path("d.mp3")).album, "");
    // The rows were unselected as they were saved; the row after the first is shown.
    EXPECT_EQ(list->FocusedRow(), Row("b.mp3"));
    EXPECT_EQ(list->SelectedCount(), 1);
    EXPECT_EQ(Text(editor->edTitle()), "Title B");
    EXPECT_NE(editor->edTitle()->itemText(0), editor->KeepMarker());
}

TEST_F(EditorTest, AGenreChosenInTheListIsShiftedByTheMarker) {
    for (const char* name : {"a.mp3", "b.mp3", "c.mp3"})
        Put(name, Mp3({TextFrame("TCON", "Trip Rock")}));
    Open();
    SelectRows({"a.mp3", "b.mp3", "c.mp3"});
    const int blues = editor->GenrePosition(0);
    editor->edGenre()->setCurrentIndex(blues + 1);
    EXPECT_EQ(editor->edGenre()->currentText(), QStringLiteral("Blues"));
    editor->btnSaveClick();
    for (const char* name : {"a.mp3", "b.mp3", "c.mp3"})
        EXPECT_EQ(ReadBack(Path(name)).GenreID, 0) << name;
}

TEST_F(EditorTest, SaveErrorsReachTheBoxOnlyWithTheOption) {
    Put("a.mp3", Mp3({TextFrame("TIT2", "Short")}));
    Open();
    for (const bool show : {true, false}) {
        options.showErrors = show;
        errorBoxes.clear();
        Click("a.mp3");
        const Bytes before = ReadAll(Path("a.mp3"));
        // A title far too long for the old tag's space forces a rewrite, which the full disk stops.
        Type(editor->edTitle(), QString(2000, QLatin1Char('x')));
        editor->Bridge().SetIoFaults({[](std::size_t) { return false; }, {}});
        editor->btnSaveClick();
        editor->Bridge().SetIoFaults({});
        EXPECT_EQ(ReadAll(Path("a.mp3")), before);
        EXPECT_EQ(errorBoxes.size(), show ? 1 : 0);
        if (show) {
            EXPECT_TRUE(errorBoxes.front().contains(QStringLiteral("a.mp3")));
            EXPECT_TRUE(errorBoxes.front().contains(QStringLiteral("No space left on device")))
                << errorBoxes.front().toStdString();
        }
    }
}

// An Ogg file whose first page is there but whose stream is not: the core
// refuses to write it, with a reason that does not say "error".
Bytes DamagedOgg() {
    Bytes b;
    Append(b, "OggS");
    for (int i = 0; i < 400; ++i)
        b.push_back(static_cast<std::uint8_t>(i * 37));
    return b;
}

TEST_F(EditorTest, AFailedSaveIsShownKeepsTheRowAndWhatWasTyped) {
    struct Case {
        const char* name;
        std::function<void(sondrel::TagBridge&)> breakIt;  // makes the save fail
        const char* reason;                                // part of the reason the box must give
    };
    const Case cases[] = {
        {"bad.ogg", [](sondrel::TagBridge&) {}, ""},
        // Tests may run as root, where permissions stop nothing: the disk fills instead.
        {"full.mp3",
         [](sondrel::TagBridge& bridge) {
             bridge.SetIoFaults({[](std::size_t) { return false; }, {}});
         },
         "No space left on device"},
    };
    for (const auto& c : cases) {
        errorBoxes.clear();
        Put("bad.ogg", DamagedOgg());
        Put("full.mp3", Mp3({TextFrame("TIT2", "Short")}));
        Put("z.mp3", Mp3({TextFrame("TIT2", "Next")}));
        Open();
        Click(c.name);
        const Bytes before = ReadAll(Path(c.name));
        // Long enough that the old tag's space cannot hold it: the file is rewritten.
        const QString typed = QString(300, QLatin1Char('t'));
        Type(editor->edTitle(), typed);
        c.breakIt(editor->Bridge());
        editor->btnSaveClick();
        editor->Bridge().SetIoFaults({});
        EXPECT_EQ(ReadAll(Path(c.name)), before) << c.name;
        ASSERT_EQ(errorBoxes.size(), 1) << c.name;
        EXPECT_TRUE(errorBoxes.front().contains(QString::fromLatin1(c.name)))
            << errorBoxes.front().toStdString();
        EXPECT_TRUE(errorBoxes.front().contains(QString::fromLatin1(c.reason)))
            << errorBoxes.front().toStdString();
        // Not moved on: the file stays selected with the user's text.
        EXPECT_EQ(list->FocusedRow(), Row(c.name)) << c.name;
        EXPECT_TRUE(IsSelected(c.name)) << c.name;
        EXPECT_EQ(editor->edTitle()->currentText(), typed) << c.name;
        EXPECT_TRUE(editor->HasUnsavedChanges()) << c.name;
    }
}

TEST_F(EditorTest, ASeveralFileSaveListsEachFailureAndKeepsThoseFilesSelected) {
    Put("a.mp3", Mp3({TextFrame("TIT2", "A")}));
    Put("b.ogg", DamagedOgg());
    Put("c.ogg", DamagedOgg());
    Put("d.mp3", Mp3({TextFrame("TIT2", "D")}));
    Open();
    SelectRows({"a.mp3", "b.ogg", "c.ogg", "d.mp3"});
    Type(editor->edArtist(), QStringLiteral("Everyone"));
    editor->btnSaveClick();
    ASSERT_EQ(errorBoxes.size(), 1);
    const QString summary = errorBoxes.front();
    EXPECT_TRUE(summary.contains(QStringLiteral("2 of 4"))) << summary.toStdString();
    for (const char* name : {"b.ogg", "c.ogg"})
        EXPECT_TRUE(summary.contains(QString::fromStdString(Path(name)))) << summary.toStdString();
    EXPECT_FALSE(summary.contains(QStringLiteral("a.mp3"))) << summary.toStdString();
    for (const char* name : {"a.mp3", "d.mp3"}) {
        EXPECT_EQ(ReadBack(Path(name)).artist, "Everyone") << name;
        EXPECT_FALSE(IsSelected(name)) << name;
    }
    EXPECT_TRUE(IsSelected("b.ogg"));
    EXPECT_TRUE(IsSelected("c.ogg"));
    EXPECT_EQ(list->FocusedRow(), Row("b.ogg"));
    // The artist typed for the files not written is still there for another try.
    EXPECT_EQ(Text(editor->edArtist()), "Everyone");
}

// A progress window that only counts.
class CountingProgress : public ProgressSink {
public:
    void Start(int max) override { this->max = max; }
    void Step() override { ++steps; }
    void Finish() override { finished = true; }
    void RestoreMain(bool) override {}
    bool Running() const override { return true; }
    int max = 0;
    std::atomic<int> steps{0};
    bool finished = false;
};

// A group's flush is held until the window has handled a few timer events,
// at most two seconds: a window blocked in the commit handles none. Each
// file's outcome still comes only after the commit: no step while the flush
// is held, and the file whose rename failed in the commit is the one shown
// as failed, with the reason, and left selected.
TEST_F(EditorTest, TheWindowAnswersEventsWhileASeveralFileSaveCommits) {
    CountingProgress progress;
    editor->setProgress(&progress);
    // No padding: the new artist does not fit, so each file is rewritten
    // and renamed in the commit.
    for (const char* name : {"a.mp3", "b.mp3", "c.mp3"})
        Put(name, Mp3({TextFrame("TIT2", std::string("Title of ") + name)}));
    const Bytes bBefore = ReadAll(Path("b.mp3"));
    Open();
    SelectRows({"a.mp3", "b.mp3", "c.mp3"});
    Type(editor->edArtist(), QStringLiteral("Everyone"));

    std::atomic<bool> flushing{false};
    std::atomic<int> turnsWhileFlushing{0};
    std::atomic<int> stepsWhileFlushing{0};
    std::atomic<int> renames{0};
    QTimer ticker;
    ticker.setInterval(2);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (flushing) {
            ++turnsWhileFlushing;
            stepsWhileFlushing += progress.steps;
        }
    });
    sondrel::IoFaults faults;
    faults.step = [&](sondrel::IoStep s) {
        if (s == sondrel::IoStep::Sync) {
            flushing = true;
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            while (turnsWhileFlushing < 3 && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } else if (s == sondrel::IoStep::Rename) {
            flushing = false;
            return ++renames != 2;
        }
        return true;
    };
    editor->Bridge().SetIoFaults(faults);
    ticker.start();
    editor->btnSaveClick();
    ticker.stop();
    editor->Bridge().SetIoFaults({});
    editor->setProgress(nullptr);

    EXPECT_GE(turnsWhileFlushing, 3) << "the window handled no events while the group committed";
    EXPECT_EQ(stepsWhileFlushing, 0) << "a file was shown saved before its flush";
    EXPECT_EQ(progress.max, 3);
    EXPECT_EQ(progress.steps, 3);
    EXPECT_TRUE(progress.finished);
    ASSERT_EQ(errorBoxes.size(), 1);
    const std::string box = errorBoxes.front().toStdString();
    EXPECT_NE(box.find(Path("b.mp3")), std::string::npos) << box;
    EXPECT_NE(box.find("1 of 3"), std::string::npos) << box;
    EXPECT_NE(box.find("cannot replace file"), std::string::npos) << box;
    EXPECT_EQ(box.find("a.mp3"), std::string::npos) << box;
    EXPECT_EQ(box.find("c.mp3"), std::string::npos) << box;
    EXPECT_EQ(ReadAll(Path("b.mp3")), bBefore);
    EXPECT_TRUE(IsSelected("b.mp3"));
    for (const char* name : {"a.mp3", "c.mp3"}) {
        EXPECT_EQ(ReadBack(Path(name)).artist, "Everyone") << name;
        EXPECT_EQ(ReadBack(Path(name)).title, std::string("Title of ") + name) << name;
        EXPECT_FALSE(IsSelected(name)) << name;
    }
}

TEST_F(EditorTest, FailuresAreShownOnlyAfterTheProgressWindowHasGone) {
    ProgressWindow wait(&host);
    editor->setProgress(&wait);
    bool progressShownWithTheBox = true;
    editor->showErrorBox = [&](const QString& m) {
        errorBoxes << m;
        progressShownWithTheBox = wait.isVisible();
    };
    Put("a.ogg", DamagedOgg());
    Put("b.ogg", DamagedOgg());
    Open();
    for (const std::vector<std::string>& rows :
         {std::vector<std::string>{"a.ogg"}, std::vector<std::string>{"a.ogg", "b.ogg"}}) {
        errorBoxes.clear();
        progressShownWithTheBox = true;
        SelectRows(rows);
        Type(editor->edTitle(), QStringLiteral("T"));
        editor->btnSaveClick();
        EXPECT_EQ(errorBoxes.size(), 1) << rows.size();
        EXPECT_FALSE(progressShownWithTheBox) << rows.size();
    }
    editor->setProgress(nullptr);
}

TEST_F(EditorTest, TheErrorBoxBelongsToTheWindowTheEditorIsIn) {
    // An editor with the box it has of its own.
    auto* own = new TagEditor(&host);
    own->setFileList(list);
    own->liveOptions = [this] { return options; };
    own->setStarted(true);
    Put("a.ogg", DamagedOgg());
    Open();
    Click("a.ogg");
    host.show();
    QWidget* boxParent = nullptr;
    QString boxText;
    QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box)
            return;
        boxParent = box->parentWidget();
        if (auto* message = qobject_cast<QMessageBox*>(box))
            boxText = message->text();
        box->close();
    });
    own->btnSaveClick();
    EXPECT_EQ(boxParent, &host);
    EXPECT_TRUE(boxText.contains(QStringLiteral("a.ogg"))) << boxText.toStdString();
    delete own;
}

TEST_F(EditorTest, PeersReadWhatASeveralFileSaveWrote) {
    if (sondrel::test::RunCommand("/usr/bin/python3 -c 'import mutagen'").exitCode != 0)
        GTEST_SKIP() << "mutagen is missing";
    Put("a.mp3", Mp3({TextFrame("TIT2", "Title A")}));
    PutSample("02 - Evening Tune.ogg", "b.ogg");
    Open();
    SelectRows({"a.mp3", "b.ogg"});
    Type(editor->edArtist(), QStringLiteral("Grüße"));
    editor->btnSaveClick();
    const std::string script =
        "import sys, mutagen\n"
        "for p in sys.argv[1:]:\n"
        "    f = mutagen.File(p)\n"
        "    t = f.tags\n"
        "    print(t['TPE1'].text[0] if 'TPE1' in t else t['artist'][0])\n"
        "    print(t['TIT2'].text[0] if 'TIT2' in t else t['title'][0])\n";
    const auto r = sondrel::test::RunCommand(
        "/usr/bin/python3 -c " + sondrel::test::ShellQuote(script) + " " +
        sondrel::test::ShellQuote(Path("a.mp3")) + " " + sondrel::test::ShellQuote(Path("b.ogg")));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "Grüße\nTitle A\nGrüße\nEvening Tune\n");
}

TEST_F(EditorTest, CapitalizationAppliesToReadsUntilTheNextSave) {
    Put("a.mp3", Mp3({TextFrame("TIT2", "hey jude"),
                      TextFrame("COMM", std::string("eng\0", 4) + "keep me")}));
    Put("b.mp3", Mp3({TextFrame("TIT2", "let it be")}));
    Open();
    Click("a.mp3");
    editor->cbCapitalization()->setCurrentIndex(sondrel::kCaseUpper);
    EXPECT_EQ(Text(editor->edTitle()), "HEY JUDE");
    EXPECT_EQ(editor->memoComment()->toPlainText(), QStringLiteral("keep me"));
    editor->btnSaveClick();
    EXPECT_EQ(ReadBack(Path("a.mp3")).title, "HEY JUDE");
    EXPECT_EQ(editor->cbCapitalization()->currentIndex(), 0);
    Click("a.mp3");
    Click("b.mp3");
    EXPECT_EQ(Text(editor->edTitle()), "let it be");
}

TEST_F(EditorTest, BatchModeSavesTheHubIntoItsRowAlone) {
    Put("a.mp3", Mp3({TextFrame("TIT2", "Shown")}));
    Put("b.mp3", Mp3({TextFrame("TIT2", "Batch target")}));
    Open();
    Click("a.mp3");
    Type(editor->edTitle(), "typed, never saved");
    TagBridge& bridge = editor->Bridge();
    bridge.Read(Path("b.mp3"));
    TagFields hub = bridge.Hub();
    hub.album = "From the batch";
    bridge.setHub(hub);
    editor->setBatchRow(Row("b.mp3"));
    editor->SaveTag(TagEditor::kSaveBatch);
    const TagFields b = ReadBack(Path("b.mp3"));
    EXPECT_EQ(b.album, "From the batch");
    EXPECT_EQ(b.title, "Batch target");
    EXPECT_EQ(ReadBack(Path("a.mp3")).title, "Shown");
    EXPECT_EQ(list->FocusedRow(), Row("a.mp3"));
    EXPECT_TRUE(editor->btnSave()->isEnabled());
    // The boxes still belong to a.mp3: saving them now must not write b's hub into it.
    editor->btnSaveClick();
    const TagFields a = ReadBack(Path("a.mp3"));
    EXPECT_EQ(a.title, "typed, never saved");
    EXPECT_EQ(a.album, "");
}

// ---- Deleting ----

TEST_F(EditorTest, DeleteCommandsRemoveTheirTagsFromSelectedFilesOnly) {
    const V1 v1{"V1 title", "", "", "", "", 0, 12};
    struct Case {
        std::function<void(TagEditor&)> command;
        bool v1Left, v2Left;
    };
    const Case cases[] = {
        {[](TagEditor& e) { e.actDeleteTag1Execute(); }, false, true},
        {[](TagEditor& e) { e.actDeleteTag2Execute(); }, true, false},
        {[](TagEditor& e) { e.actDeleteAllTagsExecute(); }, false, false},
    };
    for (const auto& c : cases) {
        Put("a.mp3", Mp3({TextFrame("TIT2", "V2 title")}, &v1));
        Put("b.mp3", Mp3({TextFrame("TIT2", "Untouched")}, &v1));
        Open();
        Click("a.mp3");
        c.command(*editor);
        sondrel::Id3v1Tag checkV1;
        sondrel::Id3v2Tag checkV2;
        checkV1.setFilename(Path("a.mp3"));
        checkV2.setFileName(Path("a.mp3"));
        EXPECT_EQ(checkV1.Valid(), c.v1Left);
        EXPECT_EQ(checkV2.Valid(), c.v2Left);
        checkV1.setFilename(Path("b.mp3"));
        checkV2.setFileName(Path("b.mp3"));
        EXPECT_TRUE(checkV1.Valid() && checkV2.Valid());
        // The editor shows the file as it now is.
        EXPECT_EQ(Text(editor->edTitle()), c.v2Left ? "V2 title" : (c.v1Left ? "V1 title" : ""));
        EXPECT_TRUE(editor->btnSave()->isEnabled());
        EXPECT_TRUE(list->lbFile()->isEnabled());
        std::filesystem::remove(Path("a.mp3"));
        std::filesystem::remove(Path("b.mp3"));
    }
}

TEST_F(EditorTest, DeleteOggClearsTheCommentsAndLeavesMp3sAlone) {
    PutSample("02 - Evening Tune.ogg", "a.ogg");
    Put("b.mp3", Mp3({TextFrame("TIT2", "Kept")}));
    Open();
    SelectRows({"a.ogg", "b.mp3"});
    editor->actDeteteOggExecute();
    EXPECT_EQ(ReadBack(Path("a.ogg")).title, "");
    EXPECT_EQ(ReadBack(Path("b.mp3")).title, "Kept");
    EXPECT_TRUE(errorBoxes.isEmpty());
}

TEST_F(EditorTest, AFailedOggRemovalIsShownWithTheFile) {
    PutSample("02 - Evening Tune.ogg", "a.ogg");
    Put("bad.ogg", DamagedOgg());
    Open();
    const Bytes before = ReadAll(Path("bad.ogg"));
    SelectRows({"a.ogg", "bad.ogg"});
    editor->actDeteteOggExecute();
    EXPECT_EQ(ReadBack(Path("a.ogg")).title, "");
    EXPECT_EQ(ReadAll(Path("bad.ogg")), before);
    ASSERT_EQ(errorBoxes.size(), 1);
    EXPECT_TRUE(errorBoxes.front().contains(QStringLiteral("bad.ogg")))
        << errorBoxes.front().toStdString();
}

// ---- History ----

TEST_F(EditorTest, HistoryListsFollowTheOptionAndTheirLimit) {
    Put("a.mp3", Mp3({TextFrame("TIT2", "Song"), TextFrame("TPE1", "Band")}));
    Open();
    Click("a.mp3");
    EXPECT_EQ(editor->edTitle()->count(), 0);  // option off

    options.saveHistory = true;
    editor->ShowCurrentFile();
    editor->ShowCurrentFile();
    EXPECT_EQ(editor->edTitle()->findText("Song"), editor->edTitle()->count() - 1);
    EXPECT_EQ(editor->edTitle()->count(), 1) << "a value is added once";
    EXPECT_EQ(editor->edArtist()->findText("Band"), 0);

    editor->edArtist()->clear();
    for (int i = 0; i < 101; ++i)
        editor->edArtist()->addItem(QStringLiteral("a%1").arg(1000 + i));
    editor->ShowCurrentFile();
    EXPECT_EQ(editor->edArtist()->count(), 101);
    EXPECT_EQ(editor->edArtist()->findText("Band"), -1);
    EXPECT_EQ(Text(editor->edArtist()), "Band");

    editor->actClearHistory();
    EXPECT_EQ(editor->edArtist()->count(), 1) << "cleared, then the file's value again";
}

// ---- Keyboard ----

TEST_F(EditorTest, EnterSavesAndMovesOn) {
    Put("a.mp3", Mp3({TextFrame("TIT2", "One")}));
    Put("b.mp3", Mp3({TextFrame("TIT2", "Two")}));
    Open();
    Click("a.mp3");
    Type(editor->edArtist(), "Typed");
    QTest::keyClick(editor->edArtist(), Qt::Key_Return);
    EXPECT_EQ(ReadBack(Path("a.mp3")).artist, "Typed");
    EXPECT_EQ(list->FocusedRow(), Row("b.mp3"));
    // The track box saves on Enter too.
    Type(editor->edTrack(), "5");
    QTest::keyClick(editor->edTrack(), Qt::Key_Return);
    EXPECT_EQ(ReadBack(Path("b.mp3")).track, "5");
}

TEST_F(EditorTest, ArrowsMoveWithAndWithoutAutoSave) {
    struct Case {
        bool autoSave;
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        const char* from;
        const char* to;
        bool saved;
    };
    const Case cases[] = {
        {false, Qt::Key_Down, Qt::NoModifier, "b.mp3", "c.mp3", false},
        {false, Qt::Key_Up, Qt::NoModifier, "b.mp3", "a.mp3", false},
        {false, Qt::Key_Return, Qt::ControlModifier, "b.mp3", "c.mp3", false},
        {false, Qt::Key_Return, Qt::ShiftModifier, "b.mp3", "a.mp3", false},
        {false, Qt::Key_Up, Qt::NoModifier, "a.mp3", "a.mp3", false},
        {false, Qt::Key_Down, Qt::NoModifier, "c.mp3", "c.mp3", false},
        {true, Qt::Key_Down, Qt::NoModifier, "b.mp3", "c.mp3", true},
        {true, Qt::Key_Up, Qt::NoModifier, "b.mp3", "a.mp3", true},
        {true, Qt::Key_Up, Qt::NoModifier, "c.mp3", "b.mp3", true},
        {true, Qt::Key_Down, Qt::NoModifier, "c.mp3", "c.mp3", true},
    };
    for (const auto& c : cases) {
        for (const char* name : {"a.mp3", "b.mp3", "c.mp3"})
            Put(name, Mp3({TextFrame("TIT2", name)}));
        options.autoSave = c.autoSave;
        Open();
        Click(c.from);
        Type(editor->edTitle(), "edited");
        QTest::keyClick(editor->edTitle(), c.key, c.mods);
        const std::string where =
            std::string(c.from) + " key " + std::to_string(c.key) + (c.autoSave ? " auto" : "");
        EXPECT_EQ(list->FocusedRow(), Row(c.to)) << where;
        EXPECT_TRUE(IsSelected(c.to)) << where;
        EXPECT_EQ(list->SelectedCount(), 1) << where;
        EXPECT_EQ(ReadBack(Path(c.from)).title, c.saved ? "edited" : c.from) << where;
        if (std::string(c.from) != c.to) {
            EXPECT_EQ(Text(editor->edTitle()), c.to) << where;
        }
        for (const char* name : {"a.mp3", "b.mp3", "c.mp3"})
            std::filesystem::remove(Path(name));
    }
}

// Clicks and keys on the list as a user gives them: each reads the file it
// shows once (the list once told the editor of the new current row and of
// the new selection apart, so a click read its file twice), and the boxes
// show that file, or the keep marker over several files.
TEST_F(EditorTest, EachClickOrKeyOnTheListReadsTheShownFileOnce) {
    for (const char* name : {"a.mp3", "b.mp3", "c.mp3", "d.mp3", "e.mp3"})
        Put(name, Mp3({TextFrame("TIT2", std::string("title ") + name)}));
    host.resize(800, 600);
    list->setGeometry(0, 0, 250, 600);
    editor->setGeometry(260, 0, 520, 600);
    host.show();
    Open();
    QListView* view = list->lbFile();
    auto click = [this, view](const char* name, Qt::KeyboardModifiers mods) {
        return [=, this] {
            const QRect at = view->visualRect(list->FileTable().index(Row(name)));
            QTest::mouseClick(view->viewport(), Qt::LeftButton, mods, at.center());
        };
    };
    auto key = [view](Qt::Key k, Qt::KeyboardModifiers mods) {
        return [=] { QTest::keyClick(view, k, mods); };
    };
    const std::string keep = editor->KeepMarker().toStdString();
    struct Case {
        const char* what;
        std::function<void()> act;
        const char* current;
        int selected;
        std::string title;
    };
    const Case cases[] = {
        {"click", click("b.mp3", {}), "b.mp3", 1, "title b.mp3"},
        {"click another row", click("d.mp3", {}), "d.mp3", 1, "title d.mp3"},
        {"Down", key(Qt::Key_Down, {}), "e.mp3", 1, "title e.mp3"},
        {"Up", key(Qt::Key_Up, {}), "d.mp3", 1, "title d.mp3"},
        {"Ctrl+click", click("b.mp3", Qt::ControlModifier), "b.mp3", 2, keep},
        {"Shift+click", click("e.mp3", Qt::ShiftModifier), "e.mp3", 4, keep},
        {"Shift+Up", key(Qt::Key_Up, Qt::ShiftModifier), "d.mp3", 3, keep},
        {"click inside the selection", click("c.mp3", {}), "c.mp3", 1, "title c.mp3"},
        {"select all", [this] { QTest::mouseClick(list->btnSelectAll(), Qt::LeftButton); }, "c.mp3",
         5, keep},
        {"Ctrl+Down moves the current row alone", key(Qt::Key_Down, Qt::ControlModifier), "d.mp3",
         5, keep},
        {"click after all", click("a.mp3", {}), "a.mp3", 1, "title a.mp3"},
    };
    for (const Case& c : cases) {
        const int before = editor->ShownReads();
        c.act();
        // What an input leaves for later is handled with the events after it.
        QApplication::processEvents();
        EXPECT_EQ(editor->ShownReads() - before, 1) << c.what;
        EXPECT_EQ(list->FocusedRow(), Row(c.current)) << c.what;
        EXPECT_EQ(list->SelectedCount(), c.selected) << c.what;
        EXPECT_EQ(Text(editor->edTitle()), c.title) << c.what;
    }
}

// ---- Colours ----

TEST_F(EditorTest, ColourHintsFollowTheSaveChoice) {
    editor->setColors(QColor(250, 250, 250), QColor(255, 200, 120));
    Put("a.mp3", Mp3({TextFrame("TIT2", std::string(31, 't')), TextFrame("TPE1", "Short")}));
    Open();
    auto highlighted = [this](QWidget* box) {
        return TagEditor::BoxColor(box) == editor->HighlightColor();
    };
    editor->setSaveTagChoice(sondrel::kVersion1);
    Click("a.mp3");
    EXPECT_TRUE(highlighted(editor->edTitle()));
    EXPECT_FALSE(highlighted(editor->edArtist()));
    // Fields that ID3v1 cannot hold are marked while it is the only tag saved.
    EXPECT_TRUE(highlighted(editor->edComposer()));
    EXPECT_FALSE(highlighted(editor->edTrack()));

    editor->setSaveTagChoice(sondrel::kVersion2);
    EXPECT_FALSE(highlighted(editor->edTitle()));
    EXPECT_FALSE(highlighted(editor->edComposer()));

    // Typing: no hints while version 2 is saved; a long artist is hinted otherwise.
    editor->edArtist()->setEditText(QString(31, QLatin1Char('a')));
    QTest::keyClick(editor->edArtist(), Qt::Key_End);
    EXPECT_FALSE(highlighted(editor->edArtist()));
    editor->setSaveTagChoice(sondrel::kVersion12);
    QTest::keyClick(editor->edArtist(), Qt::Key_End);
    EXPECT_TRUE(highlighted(editor->edArtist()));
    EXPECT_FALSE(highlighted(editor->edComposer()));
}

// ---- Unsaved edits ----

TEST_F(EditorTest, LeavingARowWithUnsavedEditsAsksFirst) {
    struct Case {
        bool ask;  // the option
        bool typed;
        UnsavedAnswer answer;
        bool asked;
        const char* endsOn;
        bool saved;
    };
    const Case cases[] = {
        {true, true, UnsavedAnswer::Save, true, "c.mp3", true},
        {true, true, UnsavedAnswer::Discard, true, "c.mp3", false},
        {true, true, UnsavedAnswer::Cancel, true, "b.mp3", false},
        {false, true, UnsavedAnswer::Cancel, false, "c.mp3", false},
        {true, false, UnsavedAnswer::Cancel, false, "c.mp3", false},
    };
    for (const auto& c : cases) {
        for (const char* name : {"a.mp3", "b.mp3", "c.mp3"})
            Put(name, Mp3({TextFrame("TIT2", name)}));
        options.askBeforeDiscard = c.ask;
        answer = c.answer;
        questions = 0;
        Open();
        Click("a.mp3");  // the files were rewritten: read b.mp3 afresh
        Click("b.mp3");
        EXPECT_FALSE(editor->HasUnsavedChanges());
        if (c.typed)
            Type(editor->edTitle(), "edited");
        EXPECT_EQ(editor->HasUnsavedChanges(), c.typed);
        QTest::keyClick(editor->edTitle(), Qt::Key_Down);
        const std::string where = std::to_string(&c - cases);
        EXPECT_EQ(questions, c.asked ? 1 : 0) << where;
        EXPECT_EQ(list->FocusedRow(), Row(c.endsOn)) << where;
        EXPECT_EQ(ReadBack(Path("b.mp3")).title, c.saved ? "edited" : "b.mp3") << where;
        if (c.answer == UnsavedAnswer::Cancel && c.asked) {
            EXPECT_EQ(Text(editor->edTitle()), "edited") << where;
        }
    }
}

TEST_F(EditorTest, TheListAsksBeforeItsRowOrFolderChanges) {
    for (const char* name : {"a.mp3", "b.mp3"})
        Put(name, Mp3({TextFrame("TIT2", name)}));
    list->mayLeave = [this] { return editor->ConfirmLeave(); };
    host.show();
    Open();
    Click("a.mp3");
    Type(editor->edTitle(), "edited");
    answer = UnsavedAnswer::Cancel;
    // A key in the list, a click on another row and a rescan all stay put.
    QTest::keyClick(list->lbFile(), Qt::Key_Down);
    const QRect other = list->lbFile()->visualRect(list->FileTable().index(Row("b.mp3")));
    QTest::mouseClick(list->lbFile()->viewport(), Qt::LeftButton, {}, other.center());
    list->edDirChange();
    EXPECT_EQ(questions, 3);
    EXPECT_EQ(list->FocusedRow(), Row("a.mp3"));
    EXPECT_EQ(Text(editor->edTitle()), "edited");

    answer = UnsavedAnswer::Discard;
    QTest::mouseClick(list->lbFile()->viewport(), Qt::LeftButton, {}, other.center());
    EXPECT_EQ(questions, 4);
    EXPECT_EQ(list->FocusedRow(), Row("b.mp3"));
    EXPECT_EQ(ReadBack(Path("a.mp3")).title, "a.mp3");
    EXPECT_FALSE(editor->HasUnsavedChanges());
}

TEST_F(EditorTest, TheSaveButtonShowsUnsavedEdits) {
    Put("a.mp3", Mp3({TextFrame("TIT2", "A")}));
    Put("b.mp3", Mp3({TextFrame("TIT2", "B")}));
    Open();
    QSignalSpy changes(editor, &TagEditor::modifiedChanged);
    Click("a.mp3");
    EXPECT_FALSE(editor->btnSave()->font().bold());
    Type(editor->edTitle(), "A2");
    EXPECT_TRUE(editor->HasUnsavedChanges());
    EXPECT_TRUE(editor->btnSave()->font().bold());
    // Typing the old text back is no change.
    Type(editor->edTitle(), "A");
    EXPECT_FALSE(editor->HasUnsavedChanges());
    Type(editor->edTitle(), "A3");
    editor->btnSaveClick();
    EXPECT_FALSE(editor->HasUnsavedChanges());
    EXPECT_FALSE(editor->btnSave()->font().bold());
    ASSERT_EQ(changes.size(), 4);
    EXPECT_EQ(changes.back().front().toBool(), false);
}

// ---- Code page ----

TEST_F(EditorTest, TheChosenCodePageGoesToEveryReadAndSave) {
    options.codePage = "windows-1251";
    editor->setSaveTagChoice(sondrel::kVersion1);
    Put("a.mp3", Mp3({}));
    Open();
    Click("a.mp3");
    Type(editor->edTitle(), QStringLiteral("Привет"));
    editor->btnSaveClick();
    const Bytes file = ReadAll(Path("a.mp3"));
    ASSERT_GE(file.size(), 128u);
    const std::string title(file.end() - 125, file.end() - 125 + 6);
    EXPECT_EQ(title, "\xCF\xF0\xE8\xE2\xE5\xF2");
    // Read back in the same code page; another one shows other letters.
    editor->setReadTagChoice(sondrel::kVersion1);
    Click("a.mp3");
    EXPECT_EQ(Text(editor->edTitle()), "Привет");
    options.codePage = "ISO-8859-1";
    editor->ShowCurrentFile();
    EXPECT_NE(Text(editor->edTitle()), "Привет");
}

// ---- Layout ----

TEST_F(EditorTest, OpeningTheCommentMemoMovesNoOtherBox) {
    Put("a.mp3", Mp3({TextFrame("TIT2", "x")}));
    Open();
    host.show();
    Click("a.mp3");
    auto places = [this] {
        std::vector<QRect> rects;
        for (const auto& entry : sondrel::kFieldTable) {
            if (QComboBox* box = editor->BoxOf(entry.field); box && box != editor->edComment())
                rects.push_back(box->geometry());
        }
        rects.push_back(editor->btnSave()->geometry());
        return rects;
    };
    const std::vector<QRect> before = places();
    editor->edComment()->showPopup();
    QApplication::processEvents();
    ASSERT_TRUE(editor->memoComment()->isVisible());
    EXPECT_EQ(places(), before);
}

// ---- Comment boxes and the URL label ----

TEST_F(EditorTest, CommentBoxShowsTheFirstLineAndEditsIt) {
    Put("a.mp3", Mp3({TextFrame("TIT2", "x")}));
    Open();
    Click("a.mp3");
    editor->memoComment()->setPlainText("first\nsecond");
    editor->edComment()->showPopup();  // opens the memo in its place
    EXPECT_TRUE(editor->memoComment()->isVisibleTo(&host));
    EXPECT_FALSE(editor->edComment()->isVisibleTo(&host));
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(editor, &press);  // a click on the background leaves it
    EXPECT_FALSE(editor->memoComment()->isVisibleTo(&host));
    EXPECT_EQ(editor->edComment()->currentText(), QStringLiteral("first"));

    editor->edComment()->lineEdit()->selectAll();
    QTest::keyClicks(editor->edComment()->lineEdit(), "FIRST");
    EXPECT_EQ(editor->memoComment()->toPlainText(), QStringLiteral("FIRST\nsecond"));
}

TEST_F(EditorTest, UrlLabelOpensTheAddress) {
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("example.org"), QStringLiteral("http://example.org")},
        {QStringLiteral("http://example.org/a"), QStringLiteral("http://example.org/a")},
        {QStringLiteral("me@example.org"), QStringLiteral("mailto:me@example.org")},
    };
    for (const auto& [box, target] : cases) {
        openedUrls.clear();
        Type(editor->edURL(), box);
        editor->labLinkClick();
        EXPECT_EQ(openedUrls, QStringList{target});
    }
    openedUrls.clear();
    Type(editor->edURL(), QString());
    editor->labLinkClick();
    EXPECT_TRUE(openedUrls.isEmpty());
}

// ---- Wiring in the main window ----

TEST(TagEditorInMainWindow, SelectionShortcutsAndSettings) {
    if (!sondrel::test::HaveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg makes the MP3 fixtures";
    QTemporaryDir home;
    TempDir music;
    const V1 v1{"V1 title", "", "", "", "", 0, 12};
    WriteAll(music.file("a.mp3"), Mp3({TextFrame("TIT2", "Main")}, &v1));
    SettingsStore store(home.filePath("settings.ini"));
    store.WriteString("StartDir", QString::fromStdString(music.path()));
    store.WriteString("StartFile", "A.MP3");
    store.WriteInteger("cbSaveTag", 1);
    store.WriteBool("flUseLyrics3", false);
    {
        MainWindow window(store);
        InfoWindow info;
        window.setCompanions(nullptr, &info, nullptr, nullptr);
        window.show();
        TagEditor* editor = window.tagEditor();
        ASSERT_NE(editor, nullptr);
        EXPECT_EQ(editor->SaveTagChoice(), 1);
        EXPECT_FALSE(editor->UseLyrics3());
        // The start file is selected and shown, with its stream facts.
        EXPECT_EQ(editor->edTitle()->currentText(), QStringLiteral("Main"));
        EXPECT_EQ(info.labFileName()->text(), QStringLiteral("a.mp3"));
        EXPECT_EQ(info.Value(7), QStringLiteral("id3v2.3"));

        window.action(QStringLiteral("actReadTag"))->trigger();  // version 1&2 -> version 1
        EXPECT_EQ(editor->cbReadTag()->currentIndex(), 0);
        EXPECT_EQ(editor->edTitle()->currentText(), QStringLiteral("V1 title"));
        window.action(QStringLiteral("actReadTag"))->trigger();  // -> version 2
        editor->edTitle()->setEditText(QStringLiteral("Saved by F2"));
        window.action(QStringLiteral("actSave"))->trigger();
        EXPECT_EQ(ReadBack(music.file("a.mp3")).title, "Saved by F2");
        editor->setUseLyrics3(true);
    }
    EXPECT_EQ(store.ReadInteger("cbReadTag", -1), 1);
    EXPECT_EQ(store.ReadInteger("cbSaveTag", -1), 1);
    EXPECT_TRUE(store.ReadBool("flUseLyrics3", false));
}

}  // namespace
