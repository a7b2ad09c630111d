// SPDX-License-Identifier: GPL-3.0-or-later
// The batch window ("Rename files/Generate tags"): the table of the files
// selected in the main list, and five tabs over it: tags to file names,
// file names to tags, two pages the online look-ups fill, and export. Every
// run goes through the batch engines in src/batch, as sondrel-tag does.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "batch/batch_layout.h"
#include "batch/batch_row.h"
#include "batch/name_parse.h"
#include "editor/format_bridge.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;
class QTableView;
class QToolButton;
class BatchTableModel;
class LookupPages;
class ProgressSink;
class SettingsStore;

// What the window needs from the main window, without knowing it.
struct BatchHost {
    // The selected files of the main list, in list order.
    std::function<std::vector<sondrel::BatchFile>()> selectedFiles;
    // The folder the main list shows, and whether it lists its whole tree.
    std::function<QString()> shownFolder;
    std::function<bool()> subfolderMode;
    std::function<int()> trackStyle;
    std::function<bool()> permanentDelete;
    std::function<sondrel::EditorOptions()> editorOptions;
    // After a run changed files: the main list scans its folder again.
    std::function<void()> refreshList;
    // After a run: the main list selects exactly these files (the rows the
    // run left), so that a rescan finds them again.
    std::function<void(const std::vector<std::string>& paths)> selectInList;
    // A double click on a row: the main list shows that file.
    std::function<void(const QString& path)> showInList;
};

class BatchWindow : public QWidget {
    Q_OBJECT
public:
    enum Page {
        kPageRename = 0,
        kPageGenerate,
        kPageFreeDb,
        kPageAmazon,
        kPageExport,
        kPageMusicBrainz,
        kPageCount
    };

    // Reads its settings from `store` as it is created and writes them back
    // when it is destroyed.
    BatchWindow(SettingsStore& store, BatchHost host, QWidget* parent = nullptr);
    ~BatchWindow() override;

    void setProgress(ProgressSink* progress) { progress_ = progress; }
    // Replaceable for tests: moving a file to the trash, handing a file to the
    // desktop, asking a question, showing an error, choosing an export name.
    std::function<bool(const std::string& path, std::string& error)> toTrash;
    std::function<bool(const QString& path)> openExternal;
    std::function<bool(const QString& question)> confirm;
    std::function<void(const QString& message)> showError;
    std::function<QString(const QString& filters, int filterIndex)> askSaveName;
    std::function<QString()> askStartNumber;  // empty: cancelled

    // Opens on `page` with the action button's caption and hint, and rescans.
    void OpenOn(int page, const QString& caption = {}, const QString& hint = {});
    // Rebuilds the table from the main list's selection, with progress.
    void Rescan();
    // The current tab's preview.
    void Preview();
    // The action button: rename, write tags or export, by tab.
    void RunAction();
    // The delete of ticked files (after the question).
    void DeleteChecked();

    BatchTableModel* model() const { return model_; }
    LookupPages* lookups() const { return lookups_; }
    QTableView* table() const { return table_; }
    QTabWidget* pages() const { return pages_; }
    QComboBox* cbFormat() const { return cbFormat_; }
    QComboBox* cbCapitalization() const { return cbCapitalization_; }
    QComboBox* cbReplace() const { return cbReplace_; }
    QCheckBox* cbBad() const { return cbBad_; }
    QCheckBox* cbRemoveExtraSpaces() const { return cbRemoveExtraSpaces_; }
    QComboBox* cbMode() const { return cbMode_; }
    QComboBox* cbExport() const { return cbExport_; }
    QListWidget* lbFormats() const { return lbFormats_; }
    QPushButton* btnRename() const { return btnRename_; }
    QLineEdit* expression(int field) const { return expressions_[static_cast<std::size_t>(field)]; }
    QCheckBox* fieldBox(int field) const { return fieldBoxes_[static_cast<std::size_t>(field)]; }
    QToolButton* btnAutoNumbering() const { return btnAutoNumbering_; }
    const sondrel::FormatSlots& formatSlots() const { return slots_; }
    const sondrel::TemplateList& templates() const { return templates_; }

    // The fields list's buttons and ticks (public for tests).
    void MoveField(int delta);
    void SetFieldVisible(int listPos, bool visible);
    void btnPlusClick();
    void btnMinusClick();
    // The row buttons act on the highlighted rows.
    void SelectAllRows();
    void CheckHighlighted();
    void UncheckHighlighted();
    void ReverseHighlighted();
    // Where the last spreadsheet export wrote its workbook.
    const QString& lastWorkbook() const { return lastWorkbook_; }

    // The save dialog's filter list; the kind's entry is shown first.
    static QString ExportFilters();

protected:
    void keyPressEvent(class QKeyEvent* event) override;
    // Fields dragged from the fields list onto the template or an expression box.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildUi();
    void ReadSettings();
    void WriteSettings();
    void FillFieldsList();
    void ApplyColumnLayout();
    void PageChanged(int page);
    void AutoPreview();
    sondrel::NameOptions NameOptionsNow() const;
    sondrel::GenerateOptions GenerateOptionsNow() const;
    sondrel::RenameContext RenameContextNow() const;
    std::vector<int> HighlightedRows() const;
    void RunRename();
    void RunGenerate();
    void RunExport();
    void ExportSpreadsheet();
    // Keeps the rows a run left alone and closes the window when none is left.
    void KeepRows(std::vector<sondrel::BatchRow> rows);
    bool StepProgress();

    SettingsStore& store_;
    BatchHost host_;
    ProgressSink* progress_ = nullptr;
    BatchTableModel* model_ = nullptr;
    LookupPages* lookups_ = nullptr;
    QTableView* table_ = nullptr;
    QTabWidget* pages_ = nullptr;
    QComboBox* cbFormat_ = nullptr;
    QComboBox* cbCapitalization_ = nullptr;
    QComboBox* cbTranslit_ = nullptr;
    QComboBox* cbReplace_ = nullptr;
    QCheckBox* cbBad_ = nullptr;
    QCheckBox* cbRemoveExtraSpaces_ = nullptr;
    QCheckBox* cbAutoPreview_ = nullptr;
    QComboBox* cbMode_ = nullptr;
    QComboBox* cbExport_ = nullptr;
    QListWidget* lbFormats_ = nullptr;
    QPushButton* btnRename_ = nullptr;
    QPushButton* btnRescan_ = nullptr;
    QPushButton* btnDelete_ = nullptr;
    QToolButton* btnAutoNumbering_ = nullptr;
    std::array<QLineEdit*, sondrel::kParseFieldCount> expressions_{};
    std::array<QCheckBox*, sondrel::kParseFieldCount> fieldBoxes_{};
    std::array<QString, kPageCount> captions_;
    std::array<QString, kPageCount> hints_;
    std::array<int, sondrel::kColumnCount> columnWidths_{};
    sondrel::FormatSlots slots_ = sondrel::DefaultFormatSlots();
    sondrel::TemplateList templates_;
    QString lastWorkbook_;
    bool filling_ = false;  // list texts being set: no preview, no layout
    bool running_ = false;
};
