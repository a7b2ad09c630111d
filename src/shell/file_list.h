// SPDX-License-Identifier: GPL-3.0-or-later
// The folder box and the file list of the main window, over a list model of
// the core's rows (FileTable). Every command takes its paths from the rows.
#pragma once

#include <QAbstractItemView>
#include <QAbstractListModel>
#include <QIcon>
#include <QItemSelectionModel>
#include <QWidget>
#include <functional>
#include <vector>

#include "shell/file_table.h"

class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QToolButton;
class ProgressSink;

// The list model: a thin Qt adapter over the core's rows (sondrel::FileRows),
// which hold the order, the lookups by path and the navigation rules.
class FileTableModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Roles { PathRole = Qt::UserRole + 1, IsFileRole };
    using QAbstractListModel::QAbstractListModel;

    // Replaces every row (a model reset); `shownFolder` is the folder the
    // rows were scanned from, `subfolders` whether from its whole tree.
    void setRows(std::vector<sondrel::FileRow> rows, const QString& shownFolder = {},
                 bool subfolders = false);
    const sondrel::FileRows& rows() const { return rows_; }
    // A row in Qt text.
    FileEntry at(int row) const { return FileEntry::Of(rows_.At(row)); }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The icon of a row: one per format, a folder and a parent-folder icon.
    static QIcon IconFor(const FileEntry& entry);

private:
    sondrel::FileRows rows_;
};

// Texts of a drop onto the list: the confirmation and the error summary.
QString DropQuestion(bool copy, int count, const QString& target);
struct DropResult {
    int errors = 0;
    int done = 0;
};
// Copies or moves `files` into `targetFolder`; `confirmOverwrite` is asked
// for each name that already exists there (false skips the file).
DropResult DropFiles(const QStringList& files, const QString& targetFolder, bool copy,
                     const std::function<bool(const QString& target)>& confirmOverwrite);

class FileList : public QWidget {
    Q_OBJECT
public:
    explicit FileList(QWidget* parent = nullptr);

    QLineEdit* edDir() const { return edDir_; }
    QListView* lbFile() const { return lbFile_; }
    QToolButton* btnSubFolders() const { return btnSubFolders_; }
    QToolButton* btnSelectAll() const { return btnSelectAll_; }
    QLabel* labSelectedFiles() const { return labSelectedFiles_; }
    FileTableModel& FileTable() { return model_; }
    const FileTableModel& FileTable() const { return model_; }

    // Inputs the scan reads: the switches and options live elsewhere.
    std::function<ScanOptions()> scanOptions;
    std::function<bool()> selectFileOnPopup;
    std::function<bool()> windowVisible;
    // Asked before the user moves the focused row or the list to another
    // folder; false keeps both where they are.
    std::function<bool()> mayLeave;
    void setProgress(ProgressSink* progress) { wait_ = progress; }
    // The tag editor's "Delete Tags" submenu, shown in the list's popup menu
    // and enabled exactly when the focused row is a file.
    void setDeleteTagsMenu(QMenu* menu) { deleteTags_ = menu; }
    // The file commands of the popup menu (rename, delete, copy and move
    // submenus), added after "Play".
    void setFileCommands(QList<QAction*> actions, QList<QMenu*> menus) {
        fileActions_ = std::move(actions);
        fileMenus_ = std::move(menus);
    }
    // Builds the popup menu as it shows for the row under `pos` (public for tests).
    void PreparePopup(QMenu& menu, const QPoint& pos);

    // Rescans the folder; the selection and the current row are kept by
    // path, and the current row is scrolled into view.
    void edDirChange();
    void PrintSelectedFiles(bool notify);
    // The counter's prefix after a language change: with the count once
    // counted, alone before that.
    void RetellSelected();
    int SelectedCount() const { return selectedCount_; }
    std::vector<int> SelectedFileRows() const;
    // Every selected row (files, folders, the parent row), in list order.
    std::vector<int> SelectedRows() const;
    int FocusedRow() const;
    bool FolderValid() const { return folderValid_; }
    // In subfolder mode, the folder of the focused row as seen from the
    // shown folder ("Music/alpha/deep"); empty otherwise.
    QString CurrentFolderText() const;

    // Everything that moves the current row or changes the selection on
    // the user's behalf goes through these.
    void actDirUp();
    void actSelectAll();
    void OpenRow(int row);
    // Adds row `row` to the selection and makes it current.
    void SetItemIndex(int row);
    // Selects the first row whose caption equals `name` case-insensitively.
    bool SelectStartFile(const QString& name);

signals:
    // The focused row or the selection changed: the tag editor reads again.
    void selectionChanged();
    // The selection count changed (the editor refreshes its keep state).
    void selectionCounted();
    void playRequested(int row);
    // In subfolder mode, the focused row's folder (CurrentFolderText) for
    // the status line; empty when the list leaves subfolder mode.
    void folderOfCurrentChanged(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The one place the current row is set: `row` becomes current with
    // `flags` applied to the selection, scrolled into view by `hint`.
    void MakeCurrent(int row, QItemSelectionModel::SelectionFlags flags,
                     QAbstractItemView::ScrollHint hint);
    void RestoreRows(const std::vector<std::string>& selectedKeys, const std::string& currentKey);
    // Sends selectionChanged for the focused row as it is now.
    void Announce();
    // After a click or a key: tells a current row the input left untold.
    void InputHandled();
    void AnnounceFolderOfCurrent();
    void ShowPopup(const QPoint& pos);
    void HandleDrop(class QDropEvent* event);

    QLineEdit* edDir_ = nullptr;
    QListView* lbFile_ = nullptr;
    QToolButton* btnBrowse_ = nullptr;
    QToolButton* btnSubFolders_ = nullptr;
    QToolButton* btnSelectAll_ = nullptr;
    QLabel* labSelectedFiles_ = nullptr;
    bool counted_ = false;
    FileTableModel model_;
    ProgressSink* wait_ = nullptr;
    QMenu* deleteTags_ = nullptr;
    QList<QAction*> fileActions_;
    QList<QMenu*> fileMenus_;
    int selectedCount_ = 0;
    int hoverIndex_ = -1;
    bool rightButton_ = false;
    bool dropCopy_ = false;
    bool folderValid_ = false;
    bool restoring_ = false;   // rows being selected again after a rescan
    QString shownFolderText_;  // what folderOfCurrentChanged last sent

    bool inputRunning_ = false;    // a click or a key is being handled
    bool currentPending_ = false;  // the current row moved and is not told yet
    int announcedRow_ = -1;        // the focused row selectionChanged last told
};
