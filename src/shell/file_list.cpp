// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/file_list.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <filesystem>
#include <utility>

#include "shell/language_apply.h"
#include "shell/progress.h"

namespace {

constexpr int kRowHeight = 17;

QIcon Badge(const QColor& color, const QString& letters) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(color);
    p.setPen(color.darker(130));
    p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3, 3);
    p.setPen(Qt::white);
    QFont f = p.font();
    f.setPixelSize(letters.size() > 1 ? 7 : 10);
    f.setBold(true);
    p.setFont(f);
    p.drawText(pm.rect(), Qt::AlignCenter, letters);
    return QIcon(pm);
}

QString NativeFolderText(const QString& path) {
    return QDir::toNativeSeparators(path);
}

}  // namespace

void FileTableModel::setRows(std::vector<sondrel::FileRow> rows, const QString& shownFolder,
                             bool subfolders) {
    beginResetModel();
    rows_.Reset(std::move(rows), ToNative(shownFolder), subfolders);
    endResetModel();
}

int FileTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_.Count();
}

QVariant FileTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.parent().isValid() || !rows_.Valid(index.row()))
        return {};
    const sondrel::FileRow& row = rows_.At(index.row());
    switch (role) {
        case Qt::DisplayRole:
            return FromNative(row.caption);
        case Qt::DecorationRole:
            return IconFor(FileEntry::Of(row));
        case Qt::ToolTipRole: {
            // The full path; in subfolder mode a file's folder first, as the
            // captions alone do not say which folder a file is in.
            const QString path = NativeFolderText(FromNative(row.folder + row.caption));
            if (!rows_.Subfolders())
                return path;
            return tr("Folder: ") + NativeFolderText(FromNative(rows_.FolderSeen(index.row()))) +
                   QLatin1Char('\n') + path;
        }
        case PathRole:
            return FromNative(row.Path());
        case IsFileRole:
            return row.IsFile();
        case Qt::SizeHintRole:
            return QSize(0, kRowHeight);
        default:
            return {};
    }
}

Qt::ItemFlags FileTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    // The parent row opens, but is never a target of a command that changes files.
    if (rows_.At(index.row()).IsParent())
        return Qt::ItemIsEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

QIcon FileTableModel::IconFor(const FileEntry& e) {
    static const QIcon mp3 = Badge(QColor(0x2f, 0x6f, 0xb5), QStringLiteral("M"));
    static const QIcon ogg = Badge(QColor(0x3c, 0x9a, 0x4b), QStringLiteral("O"));
    static const QIcon wma = Badge(QColor(0xd0, 0x7a, 0x1d), QStringLiteral("W"));
    static const QIcon ape = Badge(QColor(0x8a, 0x4f, 0xb0), QStringLiteral("A"));
    static const QIcon mp4 = Badge(QColor(0xc0, 0x39, 0x3b), QStringLiteral("4"));
    static const QIcon mpc = Badge(QColor(0x2a, 0x9d, 0x9d), QStringLiteral("C"));
    static const QIcon flac = Badge(QColor(0x4b, 0x5d, 0xa8), QStringLiteral("FL"));
    static const QIcon folder = Badge(QColor(0xd9, 0xb1, 0x3c), QStringLiteral("F"));
    static const QIcon parent = Badge(QColor(0x80, 0x80, 0x80), QStringLiteral(".."));
    if (e.IsParent())
        return parent;
    if (!e.IsFile())
        return folder;
    if (e.Ext == QLatin1String(".WMA"))
        return wma;
    if (e.Ext == QLatin1String(".OGG") || e.Ext == QLatin1String(".OGA") ||
        e.Ext == QLatin1String(".OPUS")) {
        return ogg;
    }
    if (e.Ext == QLatin1String(".FLAC"))
        return flac;
    if (e.Ext == QLatin1String(".APE"))
        return ape;
    if (e.Ext == QLatin1String(".MP4") || e.Ext == QLatin1String(".M4A") ||
        e.Ext == QLatin1String(".AAC")) {
        return mp4;
    }
    if (e.Ext == QLatin1String(".MPC") || e.Ext == QLatin1String(".MP+") ||
        e.Ext == QLatin1String(".MPP")) {
        return mpc;
    }
    return mp3;
}

QString DropQuestion(bool copy, int count, const QString& target) {
    return (copy ? shell::Message(3) : shell::Message(4)) + QString::number(count) +
           shell::Message(5) + NativeFolderText(target) + QLatin1Char('?');
}

DropResult DropFiles(const QStringList& files, const QString& targetFolder, bool copy,
                     const std::function<bool(const QString& target)>& confirmOverwrite) {
    DropResult result;
    for (const QString& source : files) {
        const QString target = targetFolder + QFileInfo(source).fileName();
        if (QFileInfo(source).absoluteFilePath() == QFileInfo(target).absoluteFilePath())
            continue;
        if (QFileInfo::exists(target)) {
            if (!confirmOverwrite(target))
                continue;
        }
        // Copy beside the target first, so a failed copy never removes the old file.
        const QString part = target + QStringLiteral(".sondrel-part");
        QFile::remove(part);
        if (!QFile::copy(source, part)) {
            QFile::remove(part);
            ++result.errors;
            continue;
        }
        // One rename replaces an existing target; it never leaves the target missing.
        std::error_code ec;
        std::filesystem::rename(QFile::encodeName(part).toStdString(),
                                QFile::encodeName(target).toStdString(), ec);
        if (ec) {
            QFile::remove(part);
            ++result.errors;
            continue;
        }
        ++result.done;
        if (!copy && !QFile::remove(source))
            ++result.errors;
    }
    return result;
}

FileList::FileList(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    auto* top = new QHBoxLayout;
    auto* label = new QLabel(tr("Folder"), this);
    edDir_ = new QLineEdit(this);
    edDir_->setObjectName(QStringLiteral("edDir"));
    btnBrowse_ = new QToolButton(this);
    btnBrowse_->setObjectName(QStringLiteral("btnBrowse"));
    btnBrowse_->setText(QStringLiteral("..."));
    btnSubFolders_ = new QToolButton(this);
    btnSubFolders_->setObjectName(QStringLiteral("btnSubFolders"));
    btnSubFolders_->setText(QStringLiteral("Sub"));
    btnSubFolders_->setCheckable(true);
    btnSubFolders_->setToolTip(tr("Show files of subfolders"));
    labSelectedFiles_ = new QLabel(tr("Selected: "), this);
    labSelectedFiles_->setObjectName(QStringLiteral("labSelectedFiles"));
    labSelectedFiles_->setToolTip(tr("Count of selection files"));
    btnSelectAll_ = new QToolButton(this);
    btnSelectAll_->setObjectName(QStringLiteral("btnSelectAll"));
    btnSelectAll_->setText(QStringLiteral("All"));
    btnSelectAll_->setToolTip(tr("Select all files"));
    top->addWidget(label);
    top->addWidget(edDir_, 1);
    top->addWidget(btnBrowse_);
    top->addWidget(btnSubFolders_);
    top->addWidget(labSelectedFiles_);
    top->addWidget(btnSelectAll_);
    layout->addLayout(top);

    lbFile_ = new QListView(this);
    lbFile_->setObjectName(QStringLiteral("lbFile"));
    lbFile_->setModel(&model_);
    lbFile_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lbFile_->setUniformItemSizes(true);
    lbFile_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lbFile_->setToolTip(tr("Select mp3-files"));
    lbFile_->setAcceptDrops(true);
    lbFile_->viewport()->setAcceptDrops(true);
    lbFile_->setDropIndicatorShown(false);
    lbFile_->setContextMenuPolicy(Qt::DefaultContextMenu);
    lbFile_->installEventFilter(this);
    lbFile_->viewport()->installEventFilter(this);
    layout->addWidget(lbFile_, 1);

    connect(edDir_, &QLineEdit::textChanged, this, [this] { edDirChange(); });
    connect(btnBrowse_, &QToolButton::clicked, this, [this] {
        const QString dir = QFileDialog::getExistingDirectory(
            this, tr("Select folder with mp3-files"), edDir_->text());
        if (!dir.isEmpty())
            edDir_->setText(dir);
    });
    connect(btnSubFolders_, &QToolButton::toggled, this, [this] { edDirChange(); });
    connect(btnSelectAll_, &QToolButton::clicked, this, &FileList::actSelectAll);
    connect(lbFile_, &QListView::activated, this,
            [this](const QModelIndex& i) { OpenRow(i.row()); });
    connect(lbFile_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (restoring_)
            return;
        PrintSelectedFiles(true);
        Announce();
    });
    // A click or a key moves the current row and then selects it (setting
    // both at once selects first): the current row alone is told only when
    // no selection change told it already, after the user's input when one
    // runs, so that a click reads its file once.
    connect(lbFile_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        if (restoring_)
            return;
        AnnounceFolderOfCurrent();
        if (FocusedRow() == announcedRow_ && !currentPending_)
            return;
        if (inputRunning_)
            currentPending_ = true;
        else
            Announce();
    });
}

void FileList::Announce() {
    announcedRow_ = FocusedRow();
    currentPending_ = false;
    emit selectionChanged();
}

void FileList::InputHandled() {
    // A press on a row of a several-row selection selects that row alone
    // only on release: until then the current row waits.
    if (QGuiApplication::mouseButtons().testFlag(Qt::LeftButton))
        return;
    inputRunning_ = false;
    if (currentPending_)
        Announce();
}

void FileList::edDirChange() {
    if (windowVisible && !windowVisible())
        return;
    if (mayLeave && !mayLeave())
        return;
    const QString folder = edDir_->text();
    ScanOptions options = scanOptions ? scanOptions() : ScanOptions{};
    options.subfolders = btnSubFolders_->isChecked();

    const sondrel::FileRows& rows = model_.rows();
    sondrel::PreviousSelection previous;
    std::vector<int> selected;
    for (const QModelIndex& i : lbFile_->selectionModel()->selectedRows()) {
        const sondrel::FileRow& r = rows.At(i.row());
        selected.push_back(i.row());
        if (r.IsFile()) {
            previous.anyFileSelected = true;
        } else if (r.IsFolder()) {
            previous.selectedFolderCaptions.push_back(r.caption);
        }
    }
    const std::vector<std::string> selectedKeys = rows.KeysOf(selected);
    const int focused = FocusedRow();
    const std::string currentKey = rows.Valid(focused) ? sondrel::RowKey(rows.At(focused)) : "";

    sondrel::FolderScanHooks hooks;
    const bool progress = options.subfolders && wait_ != nullptr;
    if (progress) {
        wait_->Start(1);
        hooks.keepGoing = [this] { return wait_->Running(); };
        hooks.onFolder = [](const std::string&) { QApplication::processEvents(); };
    }
    auto scanned = sondrel::ScanFolder(ToNative(folder), CoreScanOptions(options), previous, hooks);
    if (progress && wait_->Running())
        wait_->Finish();

    folderValid_ = scanned.has_value();
    QPalette pal = edDir_->palette();
    pal.setColor(QPalette::Text,
                 folderValid_ ? palette().color(QPalette::Text) : QColor(255, 0, 0));
    edDir_->setPalette(pal);
    if (!scanned) {
        model_.setRows({});
        PrintSelectedFiles(false);
        AnnounceFolderOfCurrent();
        return;
    }
    model_.setRows(std::move(*scanned), folder, options.subfolders);
    RestoreRows(selectedKeys, currentKey);
    PrintSelectedFiles(true);
    AnnounceFolderOfCurrent();
    Announce();
}

void FileList::PrintSelectedFiles(bool notify) {
    // Over the selection's ranges: a save counts again after every file, and
    // listing each selected row of a large selection would cost each time.
    std::vector<std::pair<int, int>> spans;
    for (const QItemSelectionRange& range : lbFile_->selectionModel()->selection())
        spans.emplace_back(range.top(), range.bottom());
    std::sort(spans.begin(), spans.end());
    int count = 0;
    int next = 0;  // rows before it are counted; ranges may overlap
    const sondrel::FileRows& rows = model_.rows();
    for (const auto& [top, bottom] : spans) {
        for (int r = std::max(top, next); r <= bottom; ++r) {
            if (rows.Valid(r) && rows.At(r).IsFile())
                ++count;
        }
        next = std::max(next, bottom + 1);
    }
    selectedCount_ = count;
    counted_ = true;
    labSelectedFiles_->setText(shell::NamedText("varSelected") + QString::number(count));
    if (notify)
        emit selectionCounted();
}

void FileList::RetellSelected() {
    if (counted_)
        PrintSelectedFiles(false);
    else
        labSelectedFiles_->setText(shell::NamedText("varSelected"));
}

std::vector<int> FileList::SelectedFileRows() const {
    std::vector<int> rows;
    for (const QModelIndex& i : lbFile_->selectionModel()->selectedRows())
        rows.push_back(i.row());
    return model_.rows().FileRowsAmong(std::move(rows));
}

std::vector<int> FileList::SelectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& i : lbFile_->selectionModel()->selectedRows())
        rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

int FileList::FocusedRow() const {
    const QModelIndex i = lbFile_->currentIndex();
    return i.isValid() ? i.row() : -1;
}

QString FileList::CurrentFolderText() const {
    const sondrel::FileRows& rows = model_.rows();
    const int row = FocusedRow();
    if (!rows.Subfolders() || !rows.Valid(row))
        return {};
    return NativeFolderText(FromNative(rows.FolderSeen(row)));
}

void FileList::AnnounceFolderOfCurrent() {
    const QString text = CurrentFolderText();
    if (text == shownFolderText_)
        return;
    shownFolderText_ = text;
    emit folderOfCurrentChanged(text);
}

// ---- Changing the current row and the selection ----

void FileList::MakeCurrent(int row, QItemSelectionModel::SelectionFlags flags,
                           QAbstractItemView::ScrollHint hint) {
    if (!model_.rows().Valid(row))
        return;
    const QModelIndex i = model_.index(row);
    lbFile_->selectionModel()->setCurrentIndex(i, flags);
    lbFile_->scrollTo(i, hint);
}

void FileList::RestoreRows(const std::vector<std::string>& selectedKeys,
                           const std::string& currentKey) {
    const sondrel::FileRows& rows = model_.rows();
    // One notification follows the rescan; none for each row selected again.
    restoring_ = true;
    QItemSelection again;
    for (int r : rows.RowsOfKeys(selectedKeys))
        again.select(model_.index(r), model_.index(r));
    lbFile_->selectionModel()->select(again, QItemSelectionModel::ClearAndSelect);
    const int current = currentKey.empty() ? -1 : rows.RowOfKey(currentKey);
    if (current >= 0)
        MakeCurrent(current, QItemSelectionModel::NoUpdate, QAbstractItemView::EnsureVisible);
    restoring_ = false;
}

void FileList::actDirUp() {
    const sondrel::FolderUp up = sondrel::GoingUp(ToNative(QDir::cleanPath(edDir_->text())));
    if (up.folder.empty())
        return;
    edDir_->setText(FromNative(up.folder));
    const int row = model_.rows().FolderRowNamed(up.left);
    if (row >= 0)
        MakeCurrent(row, QItemSelectionModel::ClearAndSelect, QAbstractItemView::PositionAtTop);
}

void FileList::actSelectAll() {
    QItemSelection all;
    for (int r : model_.rows().AllFileRows())
        all.select(model_.index(r), model_.index(r));
    lbFile_->selectionModel()->select(all, QItemSelectionModel::ClearAndSelect);
    PrintSelectedFiles(true);
}

void FileList::OpenRow(int row) {
    const sondrel::RowAction action = model_.rows().ActionOf(row);
    switch (action.kind) {
        case sondrel::RowAction::None:
            break;
        case sondrel::RowAction::GoUp:
            actDirUp();
            break;
        case sondrel::RowAction::OpenFolder:
            edDir_->setText(FromNative(action.folder));
            SetItemIndex(0);
            break;
        case sondrel::RowAction::Play:
            emit playRequested(row);
            break;
    }
}

void FileList::SetItemIndex(int row) {
    MakeCurrent(row, QItemSelectionModel::Select, QAbstractItemView::EnsureVisible);
}

bool FileList::SelectStartFile(const QString& name) {
    const int row = model_.rows().RowOfCaption(ToNative(name));
    if (row < 0)
        return false;
    MakeCurrent(row, QItemSelectionModel::ClearAndSelect, QAbstractItemView::EnsureVisible);
    return true;
}

void FileList::ShowPopup(const QPoint& pos) {
    QMenu menu(this);
    PreparePopup(menu, pos);
    menu.exec(lbFile_->viewport()->mapToGlobal(pos));
}

void FileList::PreparePopup(QMenu& menu, const QPoint& pos) {
    const QModelIndex hover = lbFile_->indexAt(pos);
    hoverIndex_ = hover.isValid() ? hover.row() : -1;
    if (rightButton_ && selectFileOnPopup && !selectFileOnPopup()) {
        // Without "Select file when calling popup menu" the menu leaves the selection alone.
    } else if (hoverIndex_ >= 0) {
        SetItemIndex(hoverIndex_);
        // Told already when the press or SetItemIndex selected it.
        if (FocusedRow() != announcedRow_ || currentPending_)
            Announce();
    }
    const int focused = FocusedRow();
    const bool onFile = model_.rows().Valid(focused) && model_.rows().At(focused).IsFile();
    QAction* play = menu.addAction(tr("&Play"));
    play->setObjectName(QStringLiteral("pmnPlay"));
    play->setVisible(onFile);
    connect(play, &QAction::triggered, this, [this, focused] { emit playRequested(focused); });
    for (QAction* a : fileActions_)
        menu.addAction(a);
    for (QMenu* m : fileMenus_)
        menu.addMenu(m);
    if (deleteTags_) {
        menu.addMenu(deleteTags_);
        deleteTags_->menuAction()->setEnabled(onFile);
    }
    menu.addAction(tr("&Refresh"), this, &FileList::edDirChange);
    menu.addAction(tr("Select A&ll"), this, &FileList::actSelectAll);
}

void FileList::HandleDrop(QDropEvent* event) {
    QStringList files;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            files << url.toLocalFile();
    }
    if (files.isEmpty())
        return;
    event->acceptProposedAction();
    QString target = FromNative(sondrel::WithTrailingSeparator(ToNative(edDir_->text())));
    const QModelIndex at = lbFile_->indexAt(event->position().toPoint());
    if (at.isValid() && model_.rows().At(at.row()).IsFolder()) {
        target += model_.at(at.row()).Caption + QLatin1Char('/');
    }
    const bool copy = dropCopy_;
    if (QMessageBox::question(this, QStringLiteral("Sondrel"),
                              DropQuestion(copy, static_cast<int>(files.size()), target)) !=
        QMessageBox::Yes) {
        lbFile_->setToolTip(shell::Message(8));
        return;
    }
    const DropResult result = DropFiles(files, target, copy, [this](const QString& existing) {
        return QMessageBox::question(this, QStringLiteral("Sondrel"),
                                     NativeFolderText(existing) + shell::Message(7)) ==
               QMessageBox::Yes;
    });
    const int first = lbFile_->verticalScrollBar()->value();
    edDirChange();
    lbFile_->verticalScrollBar()->setValue(first);
    if (result.errors > 0) {
        QMessageBox::critical(this, QStringLiteral("Sondrel"),
                              shell::Message(6) + QString::number(result.errors));
    }
    lbFile_->setToolTip(shell::Message(8));
}

bool FileList::eventFilter(QObject* watched, QEvent* event) {
    // A press on another row or a moving key would leave the focused row.
    bool leaves = false;
    if (watched == lbFile_->viewport() && (event->type() == QEvent::MouseButtonPress ||
                                           event->type() == QEvent::MouseButtonDblClick)) {
        const QModelIndex at =
            lbFile_->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint());
        leaves = at.isValid() && at != lbFile_->currentIndex();
    } else if (watched == lbFile_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const int k = key->key();
        leaves = k == Qt::Key_Up || k == Qt::Key_Down || k == Qt::Key_PageUp ||
                 k == Qt::Key_PageDown || k == Qt::Key_Home || k == Qt::Key_End ||
                 k == Qt::Key_Backspace || (!key->text().isEmpty() && key->text().at(0).isPrint());
    }
    if (leaves && mayLeave && !mayLeave())
        return true;
    const bool leftPress = watched == lbFile_->viewport() &&
                           (event->type() == QEvent::MouseButtonPress ||
                            event->type() == QEvent::MouseButtonDblClick) &&
                           static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
    const bool leftRelease = watched == lbFile_->viewport() &&
                             event->type() == QEvent::MouseButtonRelease &&
                             static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
    if (leftPress || (watched == lbFile_ && event->type() == QEvent::KeyPress))
        inputRunning_ = true;
    if (leftPress || leftRelease || (watched == lbFile_ && event->type() == QEvent::KeyPress))
        QTimer::singleShot(0, this, &FileList::InputHandled);
    if (watched == lbFile_->viewport()) {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
                rightButton_ = static_cast<QMouseEvent*>(event)->button() == Qt::RightButton;
                break;
            case QEvent::ContextMenu:
                ShowPopup(static_cast<QContextMenuEvent*>(event)->pos());
                return true;
            case QEvent::DragEnter:
            case QEvent::DragMove: {
                auto* drag = static_cast<QDragMoveEvent*>(event);
                if (!drag->mimeData()->hasUrls())
                    return false;
                dropCopy_ = drag->modifiers().testFlag(Qt::ControlModifier);
                lbFile_->setToolTip(dropCopy_ ? tr("Copy") : tr("Move"));
                drag->setDropAction(dropCopy_ ? Qt::CopyAction : Qt::MoveAction);
                drag->accept();
                return true;
            }
            case QEvent::DragLeave:
                lbFile_->setToolTip(tr("Select mp3-files"));
                return false;
            case QEvent::Drop:
                HandleDrop(static_cast<QDropEvent*>(event));
                return true;
            default:
                break;
        }
    } else if (watched == lbFile_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Backspace) {
            actDirUp();
            return true;
        }
        QTimer::singleShot(0, this, [this] { PrintSelectedFiles(true); });
    }
    return QWidget::eventFilter(watched, event);
}
