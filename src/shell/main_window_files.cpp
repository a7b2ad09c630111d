// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's commands on files and folders rather than tags: rename,
// delete, copy and move to remembered folders, bookmarks, and the player.
// The work itself is the core's (batch/file_ops); this wires it to menus,
// keys and questions, and says in the status line what did not work.
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>

#include <unordered_set>

#include "shell/file_list.h"
#include "shell/language_apply.h"
#include "shell/main_window.h"
#include "shell/options_window.h"
#include "shell/progress_window.h"
#include "shell/recycle_bin.h"
#include "shell/tag_editor.h"

namespace {

QString CleanCaption(const QString& caption) {
    return QString::fromStdString(sondrel::WithoutFirstAmpersand(caption.toStdString()));
}

}  // namespace

void MainWindow::BuildFileCommands() {
    askYesNo = [this](const QString& question) {
        return QMessageBox::question(this, QStringLiteral("Sondrel"), question) == QMessageBox::Yes;
    };
    askName = [this](const QString& proposal, bool* ok) {
        return QInputDialog::getText(this, shell::NamedText("varRenameTitle"),
                                     shell::NamedText("varRename"), QLineEdit::Normal, proposal,
                                     ok);
    };
    askReplace = [this](const QString& existing) {
        const auto answer = QMessageBox::question(
            this, QStringLiteral("Sondrel"), existing + shell::Message(7),
            QMessageBox::Yes | QMessageBox::No | QMessageBox::YesToAll | QMessageBox::Cancel);
        switch (answer) {
            case QMessageBox::Yes:
                return sondrel::ConflictAnswer::Replace;
            case QMessageBox::YesToAll:
                return sondrel::ConflictAnswer::ReplaceAll;
            case QMessageBox::Cancel:
                return sondrel::ConflictAnswer::Cancel;
            default:
                return sondrel::ConflictAnswer::Skip;
        }
    };
    askFolder = [this] {
        return QFileDialog::getExistingDirectory(this, tr("Select folder with mp3-files"),
                                                 currentFolder());
    };

    auto* rename = new QAction(tr("&Rename"), this);
    rename->setObjectName(QStringLiteral("pmnRename"));
    connect(rename, &QAction::triggered, this, &MainWindow::RenameFocused);
    auto* remove = new QAction(tr("&Delete"), this);
    remove->setObjectName(QStringLiteral("pmnDelete"));
    remove->setStatusTip(tr("Delete selected file(s)"));
    remove->setShortcut(QKeySequence(Qt::Key_Delete));
    remove->setShortcutContext(Qt::WidgetShortcut);
    fileList_->lbFile()->addAction(remove);
    connect(remove, &QAction::triggered, this, &MainWindow::DeleteSelected);
    auto* copyMenu = new QMenu(tr("&Copy to folder"), this);
    copyMenu->setObjectName(QStringLiteral("mnCopyTo"));
    copyMenu->menuAction()->setStatusTip(tr("Copies the selected files to another folder"));
    connect(copyMenu, &QMenu::aboutToShow, this,
            [this, copyMenu] { FillTargetMenu(copyMenu, sondrel::TransferMode::Copy); });
    auto* moveMenu = new QMenu(tr("&Move to folder"), this);
    moveMenu->setObjectName(QStringLiteral("mnMoveTo"));
    connect(moveMenu, &QMenu::aboutToShow, this,
            [this, moveMenu] { FillTargetMenu(moveMenu, sondrel::TransferMode::Move); });
    fileList_->setFileCommands({rename, remove}, {copyMenu, moveMenu});

    for (int d = 0; d <= 9; ++d) {
        QAction* go = action(QStringLiteral("actGoBookmark%1").arg(d));
        QAction* set = action(QStringLiteral("actSetBookmark%1").arg(d));
        go->setEnabled(true);
        set->setEnabled(true);
        connect(go, &QAction::triggered, this, [this, d] { GoToBookmark(d); });
        connect(set, &QAction::triggered, this, [this, d] { SetBookmark(d); });
    }
    QAction* enqueue = action(QStringLiteral("actAddToPlaylist"));
    enqueue->setEnabled(true);
    connect(enqueue, &QAction::triggered, this, &MainWindow::AddToPlaylist);
    connect(fileList_, &FileList::playRequested, this, [this](int) { PlayFocused(); });
    auto* stop = new QAction(tr("Stop"), this);
    stop->setObjectName(QStringLiteral("actPlayerStop"));
    stop->setStatusTip(tr("Stops the player"));
    connect(stop, &QAction::triggered, this, &MainWindow::StopPlayer);
    addAction(stop);
    mainMenu_->addAction(stop);
}

void MainWindow::FillTargetMenu(QMenu* menu, sondrel::TransferMode mode) {
    menu->clear();
    QStringList& targets = mode == sondrel::TransferMode::Copy ? copyTargets_ : moveTargets_;
    menu->addAction(tr("Clear list"), this, [this, &targets] {
        if (askYesNo(shell::Message(18)))
            targets.clear();
    });
    menu->addAction(tr("<New>"), this, [this, mode] {
        const QString folder = askFolder();
        if (!folder.isEmpty())
            TransferSelected(mode, folder);
    });
    for (const QString& target : targets) {
        menu->addAction(target, this,
                        [this, mode, target] { TransferSelected(mode, CleanCaption(target)); });
    }
}

void MainWindow::ReportFailures(const QString& what,
                                const std::vector<sondrel::EntryFailure>& failures) {
    if (failures.empty())
        return;
    QStringList lines;
    for (const auto& f : failures)
        lines << QStringLiteral("%1: %2").arg(FromNative(f.path), QString::fromStdString(f.reason));
    labStatus_->setText(what + QStringLiteral(" ") + lines.join(QStringLiteral("; ")));
    labStatus_->setToolTip(lines.join(QLatin1Char('\n')));
}

void MainWindow::RenameFocused() {
    const int row = fileList_->FocusedRow();
    if (row < 0 || row >= fileList_->FileTable().rowCount())
        return;
    const FileEntry entry = fileList_->FileTable().at(row);
    if (entry.IsParent())
        return;
    const sondrel::TagFields& hub = tagEditor_->Bridge().Hub();
    const QString proposal = QString::fromStdString(sondrel::ProposeEntryName(
        hub.artist, hub.title, entry.Ext.toStdString(), ToNative(entry.Caption), entry.IsFile()));
    bool ok = false;
    const QString name = askName(proposal, &ok);
    if (!ok || name.isEmpty())
        return;
    const std::string folder = ToNative(entry.IsFile() ? entry.Folder : currentFolder());
    const std::string from = ToNative(entry.IsFile() ? entry.FileName : entry.Caption);
    const std::string error = sondrel::RenameEntry(folder, from, ToNative(name));
    if (!error.empty())
        ReportFailures(tr("Not renamed:"), {{folder + "/" + from, error}});
    fileList_->edDirChange();
    // On to the next entry, so that a folder can be renamed one file after
    // another.
    const sondrel::RowChoice next = sondrel::RowAfterRename(row, fileList_->FileTable().rowCount());
    FocusListRow(next.row, next.select);
}

void MainWindow::DeleteSelected() {
    std::vector<std::string> paths;
    for (const int row : fileList_->SelectedRows()) {
        const FileEntry entry = fileList_->FileTable().at(row);
        // ".." stands for the folder the user is in: never deleted.
        if (entry.IsParent())
            continue;
        paths.push_back(ToNative(entry.IsFile() ? entry.Path() : entry.Folder + entry.Caption));
    }
    if (paths.empty() || !askYesNo(shell::Message(18)))
        return;
    const int focused = fileList_->FocusedRow();
    const std::vector<int> selected = fileList_->SelectedRows();
    const bool permanent = options_ && options_->PermanentDelete();
    labStatus_->clear();
    const auto failures =
        sondrel::DeleteEntries(paths, permanent, [](const std::string& path, std::string& reason) {
            if (shell::DeleteToRecycleBin(path))
                return true;
            reason = "it could not be moved to the trash";
            return false;
        });
    ReportFailures(tr("Not deleted:"), failures);
    fileList_->edDirChange();
    const int next = sondrel::RowAfterDelete(focused, selected, fileList_->FileTable().rowCount());
    FocusListRow(next, true);
}

void MainWindow::FocusListRow(int row, bool select) {
    if (row < 0 || row >= fileList_->FileTable().rowCount())
        return;
    QListView* view = fileList_->lbFile();
    const QModelIndex index = view->model()->index(row, 0);
    view->selectionModel()->setCurrentIndex(
        index, select ? QItemSelectionModel::ClearAndSelect : QItemSelectionModel::NoUpdate);
    view->scrollTo(index, QAbstractItemView::PositionAtTop);
    fileList_->PrintSelectedFiles(true);
}

void MainWindow::SelectInList(const std::vector<std::string>& paths) {
    const std::unordered_set<std::string> wanted(paths.begin(), paths.end());
    const sondrel::FileRows& rows = fileList_->FileTable().rows();
    QListView* view = fileList_->lbFile();
    QItemSelection selection;
    int first = -1;
    for (int r = 0; r < rows.Count(); ++r) {
        if (!rows.At(r).IsFile() || !wanted.contains(rows.At(r).Path()))
            continue;
        const QModelIndex index = view->model()->index(r, 0);
        selection.select(index, index);
        if (first < 0)
            first = r;
    }
    view->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (first >= 0)
        view->selectionModel()->setCurrentIndex(view->model()->index(first, 0),
                                                QItemSelectionModel::NoUpdate);
    fileList_->PrintSelectedFiles(true);
}

void MainWindow::TransferSelected(sondrel::TransferMode mode, const QString& target) {
    if (target.isEmpty())
        return;
    std::vector<std::string> sources;
    for (const int row : fileList_->SelectedRows()) {
        const FileEntry entry = fileList_->FileTable().at(row);
        if (entry.IsParent())
            continue;
        sources.push_back(ToNative(entry.IsFile() ? entry.Path() : entry.Folder + entry.Caption));
    }
    if (sources.empty())
        return;
    labStatus_->clear();
    sondrel::TransferCallbacks callbacks;
    callbacks.askReplace = [this](const std::string& existing) {
        return askReplace(FromNative(existing));
    };
    // A long copy shows its progress, and Stop ends it after the current
    // file; what was done stays done.
    if (wait_) {
        wait_->Start(static_cast<int>(sources.size()));
        callbacks.keepGoing = [this] {
            QApplication::processEvents();
            return wait_->Running();
        };
        callbacks.onEntryDone = [this](const std::string&) { wait_->Step(); };
    }
    const auto report = sondrel::TransferEntries(sources, ToNative(target), mode, callbacks);
    if (wait_) {
        if (wait_->Running())
            wait_->Finish();
        wait_->RestoreMain(minimizedByButton_);
    }
    if (report.stopped)
        labStatus_->setText(tr("Stopped: %1 file(s) done").arg(report.filesDone));
    ReportFailures(mode == sondrel::TransferMode::Copy ? tr("Not copied:") : tr("Not moved:"),
                   report.failures);
    // Remembered as the menu lists it: newest last, ten at most.
    QStringList& targets = mode == sondrel::TransferMode::Copy ? copyTargets_ : moveTargets_;
    std::vector<std::string> list;
    for (const QString& t : targets)
        list.push_back(ToNative(t));
    sondrel::RememberFolder(list, ToNative(target));
    targets.clear();
    for (const std::string& t : list)
        targets << FromNative(t);
    if (mode == sondrel::TransferMode::Move)
        fileList_->edDirChange();
}

void MainWindow::GoToBookmark(int digit) {
    const QString folder = CleanCaption(bookmarks_[static_cast<std::size_t>(digit)]);
    if (folder.isEmpty() || !QDir(folder).exists())
        return;
    openFolder(folder);
}

void MainWindow::SetBookmark(int digit) {
    const QString folder = CleanCaption(fileList_->edDir()->text());
    bookmarks_[static_cast<std::size_t>(digit)] = folder;
    action(QStringLiteral("actGoBookmark%1").arg(digit))->setText(folder);
    action(QStringLiteral("actSetBookmark%1").arg(digit))->setText(folder);
}

namespace {

struct PlayList {
    QStringList files;
    QString focused;
};

PlayList SelectedForPlayer(FileList* list) {
    PlayList out;
    for (const int row : list->SelectedFileRows())
        out.files << list->FileTable().at(row).Path();
    const int focused = list->FocusedRow();
    if (focused >= 0 && focused < list->FileTable().rowCount() &&
        list->FileTable().at(focused).IsFile())
        out.focused = list->FileTable().at(focused).Path();
    return out;
}

}  // namespace

void MainWindow::PlayFocused() {
    const PlayList list = SelectedForPlayer(fileList_);
    if (const QString problem = player_.Play(list.files, list.focused); !problem.isEmpty())
        labStatus_->setText(problem);
}

void MainWindow::StopPlayer() {
    if (const QString problem = player_.Stop(); !problem.isEmpty())
        labStatus_->setText(problem);
}

void MainWindow::AddToPlaylist() {
    const PlayList list = SelectedForPlayer(fileList_);
    if (const QString problem = player_.Enqueue(list.files, list.focused); !problem.isEmpty())
        labStatus_->setText(problem);
}
