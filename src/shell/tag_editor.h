// SPDX-License-Identifier: GPL-3.0-or-later
// The tag area of the main window: reads the file list's current row through
// TagBridge, shows and edits its fields (or keep markers for several files),
// saves one file, several files or a batch row, deletes tags, keeps the
// history lists and drives keyboard moves from file to file.
#pragma once

#include <QColor>
#include <QComboBox>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "editor/editor_rules.h"
#include "editor/format_bridge.h"
#include "editor/tag_jobs.h"
#include "util/codepage.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QHBoxLayout;
class FileList;
class ProgressSink;
class InfoWindow;

// The options the editor reads live from the options window.
struct TagEditorOptions {
    bool showErrors = true;
    bool autoSave = false;
    bool saveHistory = false;
    int focusAfterSave = 0;  // 0 "Don't change focus", 1 Track # ... 7 Comment
    bool askBeforeDiscard = true;
    // Code page of the 8-bit texts every read and save converts.
    std::string codePage{sondrel::kDefaultCodePage};
};

// The answers to "the editor holds unsaved changes" before they would be dropped.
enum class UnsavedAnswer { Save, Discard, Cancel };

class TagEditor : public QWidget {
    Q_OBJECT
public:
    // SaveTag modes: from the edit boxes (Save button), and the batch
    // window's save of the hub into BatchRow.
    static constexpr int kSaveFromBoxes = 0;
    static constexpr int kSaveBatch = 4;
    static constexpr int kGenreOtherPosition = 95;

    explicit TagEditor(QWidget* parent = nullptr);
    ~TagEditor() override;

    // Connects the list's selection signals to ShowCurrentFile and ChangeKeep.
    void setFileList(FileList* list);
    void setInfoWindow(InfoWindow* info) { info_ = info; }
    void setProgress(ProgressSink* progress) { wait_ = progress; }
    // Nothing is shown until the main window has finished its start-up.
    void setStarted(bool started) { started_ = started; }

    std::function<TagEditorOptions()> liveOptions;
    // Replaceable so tests see what a user would.
    // The default shows a box over the window the editor sits in.
    std::function<void(const QString& message)> showErrorBox;
    // Asked before unsaved edits would be dropped; the default asks in a box.
    std::function<UnsavedAnswer()> askUnsaved;
    std::function<void(const QString& target)> openUrl;

    sondrel::TagBridge& Bridge() { return *bridge_; }

    // Settings the editor owns.
    int ReadTagChoice() const;
    void setReadTagChoice(int choice);
    int SaveTagChoice() const;
    void setSaveTagChoice(int choice);
    bool UseLyrics3() const;
    void setUseLyrics3(bool on);
    void setTrackList(const QStringList& entries);
    void setColors(const QColor& field, const QColor& highlight);
    QColor FieldColor() const { return fieldColor_; }
    QColor HighlightColor() const { return highlightColor_; }

    const QString& KeepMarker() const { return keepMarker_; }
    void setKeepMarker(const QString& marker) { keepMarker_ = marker; }
    const QString& LyricsText() const { return lyricsText_; }
    void setLyricsText(const QString& text) { lyricsText_ = text; }
    int GenrePosition(int genreId) const;
    void setBatchRow(int row) { batchRow_ = row; }

    void ShowCurrentFile();
    // How many times a file was read to show it (one per click on a row).
    int ShownReads() const { return shownReads_; }
    void ClearEditor();
    void ChangeKeep();
    void btnSaveClick();
    void SaveTag(int mode);
    sondrel::SaveOutcome SaveTags(int row);
    // Shows a failed save of `path` (with "Show errors" on).
    void ShowSaveError(const std::string& path, const sondrel::SaveOutcome& outcome);

    // The boxes differ from what was last read (or cleared).
    bool HasUnsavedChanges() const { return modified_; }
    // Before the row, the folder or the program is left: true to go on. Unsaved
    // edits are saved, dropped or kept as the user answers (and the option says).
    bool ConfirmLeave();
    void actDeleteTag1Execute() { DeleteTags(sondrel::RemoveKind::Id3v1); }
    void actDeleteTag2Execute() { DeleteTags(sondrel::RemoveKind::Id3v2); }
    void actDeleteAllTagsExecute() { DeleteTags(sondrel::RemoveKind::AllId3); }
    void actDeteteOggExecute() { DeleteTags(sondrel::RemoveKind::Ogg); }
    void BlockSave();
    void UnBlockSave();
    void UnBlockSong();
    void actChangeTags();
    void actClearHistory();
    void labLinkClick();
    void cbSaveTagChange();

    // Places the batch window's buttons beside "&Save".
    void addCommandButton(QWidget* button);

    // The box that edits `field`; none for the lyrics.
    QComboBox* BoxOf(sondrel::Field field) const;
    QComboBox* edTrack() const { return edTrack_; }
    QComboBox* edTitle() const { return edTitle_; }
    QComboBox* edArtist() const { return edArtist_; }
    QComboBox* edAlbum() const { return edAlbum_; }
    QComboBox* edYear() const { return edYear_; }
    QComboBox* edGenre() const { return edGenre_; }
    QComboBox* edComment() const { return edComment_; }
    QPlainTextEdit* memoComment() const { return memoComment_; }
    QComboBox* edComposer() const { return edComposer_; }
    QComboBox* edOrigArtist() const { return edOrigArtist_; }
    QComboBox* edCopyright() const { return edCopyright_; }
    QComboBox* edURL() const { return edURL_; }
    QComboBox* edEncodedBy() const { return edEncodedBy_; }
    QComboBox* cbReadTag() const { return cbReadTag_; }
    QComboBox* cbSaveTag() const { return cbSaveTag_; }
    QCheckBox* cbUseLyrics3() const { return cbUseLyrics3_; }
    QComboBox* cbCapitalization() const { return cbCapitalization_; }
    QPushButton* btnSave() const { return btnSave_; }
    QLabel* labURL() const { return labURL_; }
    QWidget* LastEditControl() const { return lastEdit_; }

    // The colour a box shows (its base colour).
    static QColor BoxColor(const QWidget* box);

signals:
    // The boxes came to hold unsaved edits, or no longer do.
    void modifiedChanged(bool modified);
    // A file was read into the editor (the lyrics and pictures windows follow it).
    void fileShown();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    class CommentBox;

    QComboBox* AddBox(const char* name);
    void BuildLayout();
    void ApplyBridgeOptions();
    TagEditorOptions Options() const;
    void OnFocusChanged(QWidget* now);

    // The list's rows and selection.
    int RowCount() const;
    int CurrentRow() const;
    bool RowIsFile(int row) const;
    std::string RowPath(int row) const;
    std::vector<int> SelectedRows() const;
    std::vector<sondrel::JobItem> JobItems(const std::vector<int>& rows) const;
    void Deselect(int row);
    void MakeCurrent(int row);
    bool ProgressRunning() const;
    // Whether the format's components were last given `path` (saves write there).
    bool ComponentsHold(const std::string& path) const;

    void FillFromCurrentFile();
    void ShowHub(bool withId3v1);
    void SelectGenre(int genreId);
    int SelectedGenrePosition() const;
    void AddHistory();
    sondrel::FieldEdits EditsFromBoxes(bool severalFiles) const;
    void ResetCapitalization();
    void DeleteTags(sondrel::RemoveKind kind);
    void MoveDown();
    void MoveUp();
    void FocusAfterSave();
    // The answer for leaving the shown file; no question when nothing is unsaved.
    UnsavedAnswer AnswerForLeaving();
    // Writes one row's hub, without a box; the outcome says how it went.
    sondrel::SaveOutcome SaveRow(int row);
    void ShowSaveFailures(const std::vector<sondrel::SaveFailure>& failures, int attempted);
    // What the recovery of an interrupted save left alone (another program
    // wrote there since, or a journal failed its checks), once per problem.
    void ShowJournalProblems();
    // After a failed save the boxes show again what the user had typed.
    void PutEditsBack(const sondrel::FieldEdits& edits);
    QStringList BoxTexts() const;
    // What the boxes hold now is what the file holds.
    void MarkShown();
    void RefreshModified();

    void OpenCommentMemo();
    void LeaveCommentMemo();
    void CommentToBox();

    void SetColor(QWidget* box, bool highlight);
    void ColourFitHints(bool withId3v1);
    void ColourWhileTyping();

    std::unique_ptr<sondrel::TagBridge> bridge_;
    QPointer<FileList> list_;
    InfoWindow* info_ = nullptr;
    ProgressSink* wait_ = nullptr;

    QComboBox* edTrack_ = nullptr;
    QComboBox* edTitle_ = nullptr;
    QComboBox* edArtist_ = nullptr;
    QComboBox* edAlbum_ = nullptr;
    QComboBox* edYear_ = nullptr;
    QComboBox* edGenre_ = nullptr;
    QComboBox* edComment_ = nullptr;
    QPlainTextEdit* memoComment_ = nullptr;
    QComboBox* edComposer_ = nullptr;
    QComboBox* edOrigArtist_ = nullptr;
    QComboBox* edCopyright_ = nullptr;
    QComboBox* edURL_ = nullptr;
    QComboBox* edEncodedBy_ = nullptr;
    QComboBox* cbReadTag_ = nullptr;
    QComboBox* cbSaveTag_ = nullptr;
    QCheckBox* cbUseLyrics3_ = nullptr;
    QComboBox* cbCapitalization_ = nullptr;
    QPushButton* btnSave_ = nullptr;
    QLabel* labURL_ = nullptr;
    QHBoxLayout* buttonRow_ = nullptr;

    std::array<QComboBox*, 9> historyBoxes_{};
    std::array<QComboBox*, 12> keepBoxes_{};
    QPointer<QWidget> lastEdit_;

    QString keepMarker_ = QStringLiteral("<keep>");
    QString lyricsText_;
    QColor fieldColor_;
    QColor highlightColor_;
    std::string shownPath_;  // the file whose fields the hub holds
    sondrel::TagFormat shownFormat_ = sondrel::TagFormat::None;
    int batchRow_ = -1;
    bool started_ = false;
    // Set while a save or delete runs: the list's own selection signals must
    // not re-read files under the loop.
    bool busy_ = false;
    bool blocked_ = false;  // between BlockSave and UnBlockSave
    bool filling_ = false;  // while the boxes are filled from a file
    bool modified_ = false;
    int shownReads_ = 0;
    QStringList shownTexts_;  // the boxes as last filled
    std::set<std::string> toldJournalProblems_;
};
