// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/tag_editor.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QEventLoop>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>
#include <algorithm>
#include <filesystem>
#include <system_error>
#include <thread>
#include <utility>

#include "editor/format_registry.h"
#include "shell/file_list.h"
#include "shell/info_window.h"
#include "shell/language_apply.h"
#include "shell/progress.h"
#include "shell/stream_info.h"
#include "shell/window_rules.h"
#include "tags/region_write.h"

using sondrel::Field;
using sondrel::FieldEdits;
using sondrel::TagFields;
using sondrel::TagFormat;

// The comment box opens the multi-line memo instead of a drop-down list.
class TagEditor::CommentBox : public QComboBox {
public:
    using QComboBox::QComboBox;
    std::function<void()> onPopup;
    void showPopup() override {
        if (onPopup)
            onPopup();
    }
};

namespace {

// Whether files of `format` carry an ID3v1 tag the editor must hint for.
bool HasId3v1(TagFormat format) {
    const sondrel::FormatHandler* h = sondrel::HandlerOf(format);
    return h && h->HasId3v1();
}

std::string Std(const QString& s) {
    return s.toStdString();
}

// A save group's commit waits for the disk (a flush of every file in it),
// so it runs on a worker while the window paints and its timers run. The
// user's input is left for the run's own turns between files, where Stop
// is looked at, rather than handled while files are being committed.
void CommitAnswering(const std::function<void()>& commit) {
    QEventLoop loop;
    std::thread worker([&] {
        commit();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

std::vector<std::string> ItemsOf(const QComboBox* box) {
    std::vector<std::string> items;
    items.reserve(static_cast<std::size_t>(box->count()));
    for (int i = 0; i < box->count(); ++i)
        items.push_back(Std(box->itemText(i)));
    return items;
}

// Replaces a box's list without touching what its edit line shows: changing
// the list of an editable combo box would otherwise change its text.
void SetItemsKeepingText(QComboBox* box, const std::vector<std::string>& items) {
    const QString text = box->currentText();
    const bool blocked = box->blockSignals(true);
    box->clear();
    for (const auto& item : items)
        box->addItem(Q(item));
    const int at = box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    box->setCurrentIndex(at);
    if (at < 0)
        box->setEditText(text);
    box->blockSignals(blocked);
}

void SetBoxText(QComboBox* box, const QString& text) {
    const int at = box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    box->setCurrentIndex(at);
    if (at < 0)
        box->setEditText(text);
}

bool IsEnter(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

}  // namespace

TagEditor::TagEditor(QWidget* parent)
    : QWidget(parent), bridge_(std::make_unique<sondrel::TagBridge>()) {
    setObjectName(QStringLiteral("pnTags"));
    fieldColor_ = palette().color(QPalette::Base);
    highlightColor_ = shell::ReadableHintColor(fieldColor_, QColor(255, 236, 200));
    showErrorBox = [this](const QString& message) {
        // Owned by the window the user sees; failures are shown only after the
        // always-on-top progress window has gone, so nothing hides the box.
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Sondrel"), message, QMessageBox::Ok,
                        window());
        box.exec();
    };
    askUnsaved = [this] {
        const QString name =
            QString::fromStdString(std::filesystem::path(shownPath_).filename().string());
        QMessageBox box(QMessageBox::Question, QStringLiteral("Sondrel"),
                        name.isEmpty() ? shell::Message(sondrel::msg::kUnsavedTags)
                                       : shell::Message(sondrel::msg::kUnsavedTagsOf).arg(name),
                        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, window());
        box.setDefaultButton(QMessageBox::Save);
        switch (box.exec()) {
            case QMessageBox::Save:
                return UnsavedAnswer::Save;
            case QMessageBox::Discard:
                return UnsavedAnswer::Discard;
            default:
                return UnsavedAnswer::Cancel;
        }
    };
    openUrl = [](const QString& target) { QDesktopServices::openUrl(QUrl(target)); };
    BuildLayout();
    ApplyBridgeOptions();
    for (QComboBox* box : keepBoxes_) {
        connect(box, &QComboBox::editTextChanged, this, [this] { RefreshModified(); });
        connect(box, &QComboBox::currentIndexChanged, this, [this] { RefreshModified(); });
    }
    connect(memoComment_, &QPlainTextEdit::textChanged, this, [this] { RefreshModified(); });
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget*, QWidget* now) { OnFocusChanged(now); });
}

TagEditor::~TagEditor() {
    // Focus moves while the children are destroyed; those signals must not
    // reach the half-destroyed editor.
    disconnect(qApp, nullptr, this, nullptr);
    for (QComboBox* box : keepBoxes_)
        disconnect(box, nullptr, this, nullptr);
    disconnect(memoComment_, nullptr, this, nullptr);
    if (list_)
        disconnect(list_, nullptr, this, nullptr);
}

QComboBox* TagEditor::AddBox(const char* name) {
    QComboBox* box = nullptr;
    if (std::string_view(name) == "edComment") {
        auto* comment = new CommentBox(this);
        comment->onPopup = [this] { OpenCommentMemo(); };
        box = comment;
    } else {
        box = new QComboBox(this);
    }
    box->setObjectName(QString::fromLatin1(name));
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setMaxVisibleItems(20);
    // The keep marker and history entries are matched exactly, never completed.
    box->setCompleter(nullptr);
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    box->setMinimumContentsLength(4);
    box->lineEdit()->installEventFilter(this);
    box->installEventFilter(this);
    return box;
}

void TagEditor::BuildLayout() {
    edTrack_ = AddBox("edTrack");
    edTitle_ = AddBox("edTitle");
    edArtist_ = AddBox("edArtist");
    edAlbum_ = AddBox("edAlbum");
    edYear_ = AddBox("edYear");
    edGenre_ = AddBox("edGenre");
    edComment_ = AddBox("edComment");
    edComposer_ = AddBox("edComposer");
    edOrigArtist_ = AddBox("edOrigArtist");
    edCopyright_ = AddBox("edCopyright");
    edURL_ = AddBox("edURL");
    edEncodedBy_ = AddBox("edEncodedBy");
    historyBoxes_ = {edTitle_,      edArtist_,    edAlbum_, edYear_,     edComposer_,
                     edOrigArtist_, edCopyright_, edURL_,   edEncodedBy_};
    keepBoxes_ = {edTrack_,   edTitle_,    edArtist_,     edAlbum_,     edYear_, edGenre_,
                  edComment_, edComposer_, edOrigArtist_, edCopyright_, edURL_,  edEncodedBy_};

    for (const auto& name : sondrel::SortedGenres().names)
        edGenre_->addItem(Q(name));
    edGenre_->setCurrentIndex(kGenreOtherPosition);

    // The memo opens over the comment box; the box keeps its place meanwhile,
    // or every row below it would move up while the memo is open.
    QSizePolicy commentPolicy = edComment_->sizePolicy();
    commentPolicy.setRetainSizeWhenHidden(true);
    edComment_->setSizePolicy(commentPolicy);

    memoComment_ = new QPlainTextEdit(this);
    memoComment_->setObjectName(QStringLiteral("memoComment"));
    memoComment_->setTabChangesFocus(true);
    memoComment_->hide();
    memoComment_->installEventFilter(this);

    cbReadTag_ = new QComboBox(this);
    cbReadTag_->setObjectName(QStringLiteral("cbReadTag"));
    cbSaveTag_ = new QComboBox(this);
    cbSaveTag_->setObjectName(QStringLiteral("cbSaveTag"));
    for (QComboBox* box : {cbReadTag_, cbSaveTag_}) {
        box->addItems({tr("version 1"), tr("version 2"), tr("version 1&2")});
        box->setCurrentIndex(sondrel::kVersion12);
    }
    cbUseLyrics3_ = new QCheckBox(tr("Use &Lyrics3"), this);
    cbUseLyrics3_->setObjectName(QStringLiteral("cbUseLyrics3"));
    cbUseLyrics3_->setChecked(true);
    cbCapitalization_ = new QComboBox(this);
    cbCapitalization_->setObjectName(QStringLiteral("cbCapitalization"));
    cbCapitalization_->addItems({tr("Unchanged"), tr("lower case"), tr("UPPER CASE"),
                                 tr("Only First Up"), tr("First word")});
    cbCapitalization_->setCurrentIndex(-1);

    btnSave_ = new QPushButton(tr("&Save"), this);
    btnSave_->setObjectName(QStringLiteral("btnSave"));
    btnSave_->setEnabled(false);

    labURL_ = new QLabel(this);
    labURL_->setObjectName(QStringLiteral("labURL"));
    labURL_->setText(QStringLiteral("<a href=\"#\">%1</a>").arg(tr("URL")));
    labURL_->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    labURL_->setCursor(Qt::PointingHandCursor);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 2, 0, 0);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);
    auto label = [this](const QString& text) { return new QLabel(text, this); };
    grid->addWidget(label(tr("Track #")), 0, 0);
    grid->addWidget(edTrack_, 0, 1);
    grid->addWidget(label(tr("Year")), 0, 2);
    grid->addWidget(edYear_, 0, 3);
    grid->addWidget(label(tr("Title")), 1, 0);
    grid->addWidget(edTitle_, 1, 1, 1, 3);
    grid->addWidget(label(tr("Artist")), 2, 0);
    grid->addWidget(edArtist_, 2, 1, 1, 3);
    grid->addWidget(label(tr("Album")), 3, 0);
    grid->addWidget(edAlbum_, 3, 1, 1, 3);
    grid->addWidget(label(tr("Genre")), 4, 0);
    grid->addWidget(edGenre_, 4, 1, 1, 3);
    grid->addWidget(label(tr("Comment")), 5, 0);
    grid->addWidget(edComment_, 5, 1, 1, 3);
    grid->addWidget(label(tr("Composer")), 6, 0);
    grid->addWidget(edComposer_, 6, 1);
    grid->addWidget(label(tr("Orig. Artist")), 6, 2);
    grid->addWidget(edOrigArtist_, 6, 3);
    grid->addWidget(label(tr("Copyright")), 7, 0);
    grid->addWidget(edCopyright_, 7, 1);
    grid->addWidget(labURL_, 7, 2);
    grid->addWidget(edURL_, 7, 3);
    grid->addWidget(label(tr("Encoded By")), 8, 0);
    grid->addWidget(edEncodedBy_, 8, 1, 1, 3);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    auto* choices = new QHBoxLayout;
    choices->addWidget(label(tr("Read Tag")));
    choices->addWidget(cbReadTag_);
    choices->addWidget(label(tr("Save Tag")));
    choices->addWidget(cbSaveTag_);
    choices->addWidget(cbUseLyrics3_);
    choices->addStretch();
    grid->addLayout(choices, 9, 0, 1, 4);
    auto* capitalization = new QHBoxLayout;
    capitalization->addWidget(label(tr("Capitalization")));
    capitalization->addWidget(cbCapitalization_);
    capitalization->addStretch();
    grid->addLayout(capitalization, 10, 0, 1, 4);
    buttonRow_ = new QHBoxLayout;
    buttonRow_->addWidget(btnSave_);
    grid->addLayout(buttonRow_, 11, 0, 1, 4);

    connect(btnSave_, &QPushButton::clicked, this, &TagEditor::btnSaveClick);
    connect(labURL_, &QLabel::linkActivated, this, [this] { labLinkClick(); });
    connect(cbReadTag_, &QComboBox::currentIndexChanged, this, [this] {
        ApplyBridgeOptions();
        ShowCurrentFile();
    });
    connect(cbSaveTag_, &QComboBox::currentIndexChanged, this, [this] {
        ApplyBridgeOptions();
        cbSaveTagChange();
    });
    connect(cbUseLyrics3_, &QCheckBox::toggled, this, [this] {
        ApplyBridgeOptions();
        ShowCurrentFile();
    });
    connect(cbCapitalization_, &QComboBox::currentIndexChanged, this, [this] {
        ApplyBridgeOptions();
        ShowCurrentFile();
    });
    connect(edComment_->lineEdit(), &QLineEdit::textEdited, this, [this](const QString& text) {
        memoComment_->setPlainText(
            Q(sondrel::ReplaceFirstLine(Std(memoComment_->toPlainText()), Std(text))));
    });
}

void TagEditor::addCommandButton(QWidget* button) {
    buttonRow_->addWidget(button);
}

void TagEditor::ApplyBridgeOptions() {
    sondrel::EditorOptions o = bridge_->Options();
    o.readChoice = std::max(0, cbReadTag_->currentIndex());
    o.saveChoice = std::max(0, cbSaveTag_->currentIndex());
    o.useLyrics3 = cbUseLyrics3_->isChecked();
    o.capitalization = std::max(0, cbCapitalization_->currentIndex());
    o.transliteration = 0;
    o.legacyCodePage = Options().codePage;
    bridge_->setOptions(o);
}

TagEditorOptions TagEditor::Options() const {
    return liveOptions ? liveOptions() : TagEditorOptions{};
}

void TagEditor::setFileList(FileList* list) {
    list_ = list;
    connect(list, &FileList::selectionChanged, this, [this] {
        if (!busy_)
            ShowCurrentFile();
    });
    connect(list, &FileList::selectionCounted, this, [this] {
        if (!busy_)
            ChangeKeep();
    });
}

int TagEditor::ReadTagChoice() const {
    return cbReadTag_->currentIndex();
}

void TagEditor::setReadTagChoice(int choice) {
    cbReadTag_->setCurrentIndex(std::clamp(choice, 0, 2));
}

int TagEditor::SaveTagChoice() const {
    return cbSaveTag_->currentIndex();
}

void TagEditor::setSaveTagChoice(int choice) {
    cbSaveTag_->setCurrentIndex(std::clamp(choice, 0, 2));
}

bool TagEditor::UseLyrics3() const {
    return cbUseLyrics3_->isChecked();
}

void TagEditor::setUseLyrics3(bool on) {
    cbUseLyrics3_->setChecked(on);
}

void TagEditor::setTrackList(const QStringList& entries) {
    std::vector<std::string> items;
    if (edTrack_->count() > 0 && edTrack_->itemText(0) == keepMarker_)
        items.push_back(Std(keepMarker_));
    for (const QString& e : entries)
        items.push_back(Std(e));
    SetItemsKeepingText(edTrack_, items);
}

void TagEditor::setColors(const QColor& field, const QColor& highlight) {
    fieldColor_ = field;
    // A hint too close to the field colour is no hint at all.
    highlightColor_ = shell::ReadableHintColor(field, highlight);
    cbSaveTagChange();
}

int TagEditor::GenrePosition(int genreId) const {
    return sondrel::SortedGenres().position[sondrel::ClampGenreId(genreId)];
}

// ---- The list ----

int TagEditor::RowCount() const {
    return list_ ? list_->FileTable().rowCount() : 0;
}

int TagEditor::CurrentRow() const {
    return list_ ? list_->FocusedRow() : -1;
}

bool TagEditor::RowIsFile(int row) const {
    return row >= 0 && row < RowCount() && list_->FileTable().at(row).IsFile();
}

std::string TagEditor::RowPath(int row) const {
    if (row < 0 || row >= RowCount())
        return {};
    return Std(list_->FileTable().at(row).Path());
}

std::vector<int> TagEditor::SelectedRows() const {
    std::vector<int> rows;
    if (!list_)
        return rows;
    for (const QModelIndex& i : list_->lbFile()->selectionModel()->selectedRows())
        rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void TagEditor::Deselect(int row) {
    if (row < 0 || row >= RowCount())
        return;
    list_->lbFile()->selectionModel()->select(list_->FileTable().index(row),
                                              QItemSelectionModel::Deselect);
}

void TagEditor::MakeCurrent(int row) {
    if (row < 0 || row >= RowCount())
        return;
    list_->lbFile()->selectionModel()->setCurrentIndex(list_->FileTable().index(row),
                                                       QItemSelectionModel::Select);
}

bool TagEditor::ProgressRunning() const {
    return !wait_ || wait_->Running();
}

bool TagEditor::ComponentsHold(const std::string& path) const {
    return bridge_->Holds(path);
}

// ---- Showing ----

void TagEditor::ShowCurrentFile() {
    if (!started_ || busy_)
        return;
    filling_ = true;
    FillFromCurrentFile();
    filling_ = false;
    MarkShown();
    emit fileShown();
}

void TagEditor::FillFromCurrentFile() {
    // The code page may have changed in the options since the last read.
    ApplyBridgeOptions();
    for (QWidget* w : std::initializer_list<QWidget*>{edTitle_, edArtist_, edAlbum_, edComment_,
                                                      edGenre_, memoComment_})
        SetColor(w, false);
    if (list_)
        list_->PrintSelectedFiles(true);

    const int row = CurrentRow();
    if (row < 0 || RowCount() == 0) {
        ClearEditor();
        return;
    }
    const std::string path = RowPath(row);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        ClearEditor();
    btnSave_->setEnabled(true);
    const TagFormat format = bridge_->Read(path);
    ++shownReads_;
    shownPath_ = path;
    shownFormat_ = format;
    AddHistory();
    ShowHub(HasId3v1(format));
    CommentToBox();
    if (SaveTagChoice() != sondrel::kVersion2)
        ColourFitHints(HasId3v1(format));
    shell::ShowStreamInfo(info_, *bridge_, format, list_->FileTable().at(row).FileName, path);
}

void TagEditor::ShowHub(bool withId3v1) {
    const TagFields& hub = bridge_->Hub();
    const bool several = list_ && list_->SelectedCount() > 1;
    if (several) {
        for (QComboBox* box : keepBoxes_)
            SetBoxText(box, keepMarker_);
        memoComment_->setPlainText(keepMarker_);
        lyricsText_ = keepMarker_;
        return;
    }
    SetBoxText(edTrack_, Q(hub.track));
    SetBoxText(edTitle_, Q(hub.title));
    SetBoxText(edArtist_, Q(hub.artist));
    SetBoxText(edAlbum_, Q(hub.album));
    SetBoxText(edYear_, Q(hub.year));
    memoComment_->setPlainText(Q(hub.comment));
    lyricsText_ = Q(hub.text);
    const bool version1 = ReadTagChoice() == sondrel::kVersion1;
    if (version1 && withId3v1) {
        for (QComboBox* box : {edComposer_, edOrigArtist_, edCopyright_, edURL_, edEncodedBy_})
            SetBoxText(box, QString());
        SelectGenre(hub.GenreID);
        return;
    }
    // "version 1" on a file without ID3 tags still shows that file's fields:
    // leaving the previous file's values in the boxes would save them here.
    SetBoxText(edComposer_, Q(hub.composer));
    SetBoxText(edOrigArtist_, Q(hub.OrigArtist));
    SetBoxText(edCopyright_, Q(hub.copyright));
    SetBoxText(edURL_, Q(hub.URL));
    SetBoxText(edEncodedBy_, Q(hub.EncodedBy));
    if (hub.GenreID != sondrel::kGenreOther ||
        hub.Genre == sondrel::GenreTable[sondrel::kGenreOther]) {
        SelectGenre(hub.GenreID);
    } else {
        edGenre_->setCurrentIndex(-1);
        edGenre_->setEditText(Q(hub.Genre));
    }
}

void TagEditor::SelectGenre(int genreId) {
    const bool markerFirst = edGenre_->count() > 0 && edGenre_->itemText(0) == keepMarker_;
    edGenre_->setCurrentIndex(GenrePosition(genreId) + (markerFirst ? 1 : 0));
}

int TagEditor::SelectedGenrePosition() const {
    return edGenre_->findText(edGenre_->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

void TagEditor::ClearEditor() {
    const bool nested = std::exchange(filling_, true);
    for (QComboBox* box : keepBoxes_) {
        box->setCurrentIndex(-1);
        box->setEditText(QString());
    }
    memoComment_->clear();
    const bool markerFirst = edGenre_->count() > 0 && edGenre_->itemText(0) == keepMarker_;
    edGenre_->setCurrentIndex(kGenreOtherPosition + (markerFirst ? 1 : 0));
    lyricsText_.clear();
    CommentToBox();
    shownPath_.clear();
    shownFormat_ = TagFormat::None;
    if (info_) {
        info_->ClearValues();
        info_->SetFileName(QString(), QString());
    }
    filling_ = nested;
    if (!nested)
        MarkShown();
}

// ---- Unsaved edits ----

QStringList TagEditor::BoxTexts() const {
    QStringList texts;
    for (const QComboBox* box : keepBoxes_)
        texts << box->currentText();
    texts << memoComment_->toPlainText() << lyricsText_;
    return texts;
}

void TagEditor::MarkShown() {
    shownTexts_ = BoxTexts();
    RefreshModified();
}

void TagEditor::RefreshModified() {
    if (filling_)
        return;
    const bool now = BoxTexts() != shownTexts_;
    if (now == modified_)
        return;
    modified_ = now;
    QFont font = btnSave_->font();
    font.setBold(now);
    btnSave_->setFont(font);
    btnSave_->setToolTip(now ? tr("The tags have unsaved changes") : QString());
    emit modifiedChanged(now);
}

UnsavedAnswer TagEditor::AnswerForLeaving() {
    if (!modified_ || !Options().askBeforeDiscard || !askUnsaved)
        return UnsavedAnswer::Discard;
    return askUnsaved();
}

bool TagEditor::ConfirmLeave() {
    // A running save moves rows itself; it is not the user leaving.
    if (blocked_ || busy_)
        return true;
    switch (AnswerForLeaving()) {
        case UnsavedAnswer::Cancel:
            return false;
        case UnsavedAnswer::Discard:
            return true;
        case UnsavedAnswer::Save:
            btnSaveClick();
            // A failed save keeps the edits in the boxes, and the user here.
            return !modified_;
    }
    return false;
}

void TagEditor::PutEditsBack(const FieldEdits& edits) {
    filling_ = true;
    for (const auto& entry : sondrel::kFieldTable) {
        QComboBox* box = BoxOf(entry.field);
        if (box && entry.field != Field::Genre && entry.field != Field::Comment &&
            edits[entry.field])
            SetBoxText(box, Q(*edits[entry.field]));
    }
    if (edits[Field::Comment]) {
        memoComment_->setPlainText(Q(*edits[Field::Comment]));
        CommentToBox();
    }
    if (edits[Field::Lyrics])
        lyricsText_ = Q(*edits[Field::Lyrics]);
    switch (edits.genre.kind) {
        case sondrel::GenreEdit::Kind::Keep:
            break;
        case sondrel::GenreEdit::Kind::FromList:
            SelectGenre(edits.genre.id);
            break;
        case sondrel::GenreEdit::Kind::Text:
            edGenre_->setCurrentIndex(-1);
            edGenre_->setEditText(Q(edits.genre.text));
            break;
    }
    filling_ = false;
    RefreshModified();
}

void TagEditor::AddHistory() {
    const TagEditorOptions options = liveOptions ? liveOptions() : TagEditorOptions{};
    if (!options.saveHistory)
        return;
    const TagFields& hub = bridge_->Hub();
    const std::array<const std::string*, 9> values = {
        &hub.title,      &hub.artist,    &hub.album, &hub.year,     &hub.composer,
        &hub.OrigArtist, &hub.copyright, &hub.URL,   &hub.EncodedBy};
    for (std::size_t i = 0; i < historyBoxes_.size(); ++i) {
        std::vector<std::string> items = ItemsOf(historyBoxes_[i]);
        if (sondrel::AddToHistory(items, *values[i], Std(keepMarker_)))
            SetItemsKeepingText(historyBoxes_[i], items);
    }
}

void TagEditor::ChangeKeep() {
    const int count = list_ ? list_->SelectedCount() : 0;
    for (QComboBox* box : keepBoxes_) {
        std::vector<std::string> items = ItemsOf(box);
        if (sondrel::UpdateKeepMarker(items, count, Std(keepMarker_)))
            SetItemsKeepingText(box, items);
    }
}

// ---- The comment boxes ----

void TagEditor::OpenCommentMemo() {
    const QRect box = edComment_->geometry();
    memoComment_->setGeometry(box.x(), box.y(), box.width(), box.height() * 4);
    edComment_->hide();
    memoComment_->show();
    memoComment_->raise();
    memoComment_->setFocus();
}

void TagEditor::LeaveCommentMemo() {
    CommentToBox();
    memoComment_->hide();
    edComment_->show();
}

void TagEditor::CommentToBox() {
    const bool blocked = edComment_->blockSignals(true);
    edComment_->clear();
    const QString memo = memoComment_->toPlainText();
    if (!memo.isEmpty()) {
        edComment_->addItem(Q(sondrel::FirstLine(Std(memo))));
        edComment_->setCurrentIndex(0);
    }
    edComment_->blockSignals(blocked);
}

void TagEditor::mousePressEvent(QMouseEvent* event) {
    if (!memoComment_->isHidden())
        LeaveCommentMemo();
    QWidget::mousePressEvent(event);
}

// ---- Colours ----

QColor TagEditor::BoxColor(const QWidget* box) {
    if (const auto* combo = qobject_cast<const QComboBox*>(box); combo && combo->lineEdit())
        return combo->lineEdit()->palette().color(QPalette::Base);
    return box->palette().color(QPalette::Base);
}

void TagEditor::SetColor(QWidget* box, bool highlight) {
    const QColor color = highlight ? highlightColor_ : fieldColor_;
    QWidget* target = box;
    if (auto* combo = qobject_cast<QComboBox*>(box); combo && combo->lineEdit())
        target = combo->lineEdit();
    QPalette pal = target->palette();
    pal.setColor(QPalette::Base, color);
    pal.setColor(QPalette::Text, highlight ? shell::ReadableTextOn(color)
                                           : QApplication::palette().color(QPalette::Text));
    target->setPalette(pal);
}

void TagEditor::ColourFitHints(bool withId3v1) {
    for (QComboBox* box : {edTitle_, edArtist_, edAlbum_})
        SetColor(box, sondrel::ExceedsId3v1(Std(box->currentText())));
    SetColor(edGenre_, SelectedGenrePosition() < 0);
    if (withId3v1) {
        const bool longComment = sondrel::ExceedsId3v1(Std(memoComment_->toPlainText()));
        SetColor(memoComment_, longComment);
        SetColor(edComment_, longComment);
    }
}

void TagEditor::ColourWhileTyping() {
    if (SaveTagChoice() == sondrel::kVersion2)
        return;
    for (QComboBox* box : {edTitle_, edArtist_, edAlbum_})
        SetColor(box, sondrel::ExceedsId3v1(Std(box->currentText())));
    const bool longComment = sondrel::ExceedsId3v1(Std(memoComment_->toPlainText()));
    SetColor(memoComment_, longComment);
    SetColor(edComment_, longComment);
    SetColor(edGenre_, SelectedGenrePosition() < 0);
}

void TagEditor::cbSaveTagChange() {
    const bool version1 = SaveTagChoice() == sondrel::kVersion1;
    for (QComboBox* box : {edComposer_, edOrigArtist_, edCopyright_, edURL_, edEncodedBy_})
        SetColor(box, version1);
    SetColor(edTrack_, false);
    SetColor(edYear_, false);
    if (SaveTagChoice() == sondrel::kVersion2) {
        for (QWidget* w : std::initializer_list<QWidget*>{edTitle_, edArtist_, edAlbum_, edGenre_,
                                                          edComment_, memoComment_})
            SetColor(w, false);
    } else {
        ColourFitHints(HasId3v1(shownFormat_));
    }
}

// ---- Saving ----

void TagEditor::btnSaveClick() {
    // A save or delete is running and letting events through (F2, Enter).
    if (blocked_)
        return;
    const bool saveHadFocus = btnSave_->hasFocus();
    const int row = CurrentRow();
    if (row >= 0) {
        if (RowIsFile(row) || (list_ && list_->SelectedCount() != 0))
            SaveTag(kSaveFromBoxes);
        else
            list_->OpenRow(row);  // a folder row: the Play command opens it
        ResetCapitalization();
    }
    if (saveHadFocus && lastEdit_)
        lastEdit_->setFocus();
    FocusAfterSave();
}

void TagEditor::FocusAfterSave() {
    const int choice = liveOptions ? liveOptions().focusAfterSave : 0;
    const std::array<QWidget*, 7> boxes = {edTrack_, edTitle_, edArtist_, edAlbum_,
                                           edYear_,  edGenre_, edComment_};
    if (choice >= 1 && choice <= static_cast<int>(boxes.size()))
        boxes[static_cast<std::size_t>(choice - 1)]->setFocus();
}

void TagEditor::ResetCapitalization() {
    const bool blocked = cbCapitalization_->blockSignals(true);
    cbCapitalization_->setCurrentIndex(0);
    cbCapitalization_->blockSignals(blocked);
    ApplyBridgeOptions();
}

QComboBox* TagEditor::BoxOf(Field field) const {
    switch (field) {
        case Field::Track:
            return edTrack_;
        case Field::Title:
            return edTitle_;
        case Field::Artist:
            return edArtist_;
        case Field::Album:
            return edAlbum_;
        case Field::Year:
            return edYear_;
        case Field::Genre:
            return edGenre_;
        case Field::Comment:
            return edComment_;
        case Field::Lyrics:
            break;  // edited in the lyrics window
        case Field::Composer:
            return edComposer_;
        case Field::OrigArtist:
            return edOrigArtist_;
        case Field::Copyright:
            return edCopyright_;
        case Field::URL:
            return edURL_;
        case Field::EncodedBy:
            return edEncodedBy_;
    }
    return nullptr;
}

FieldEdits TagEditor::EditsFromBoxes(bool several) const {
    const std::string marker = Std(keepMarker_);
    auto edit = [&](const QComboBox* box) {
        return sondrel::EditOfText(Std(box->currentText()), several, marker);
    };
    FieldEdits e;
    for (const auto& entry : sondrel::kFieldTable) {
        QComboBox* box = BoxOf(entry.field);
        if (box && entry.field != Field::Genre)  // the genre box has rules of its own
            e[entry.field] = edit(box);
    }
    // The saved comment is always the memo's whole text.
    e[Field::Comment].reset();
    if (!several || edComment_->currentText() != keepMarker_)
        e[Field::Comment] = Std(memoComment_->toPlainText());
    e[Field::Lyrics] = sondrel::EditOfText(Std(lyricsText_), several, marker);
    e.genre = sondrel::GenreEditOf(SelectedGenrePosition(), Std(edGenre_->currentText()), several,
                                   marker);
    return e;
}

void TagEditor::SaveTag(int mode) {
    if (!list_)
        return;
    if (mode == kSaveBatch) {
        BlockSave();
        busy_ = true;
        SaveTags(batchRow_);
        busy_ = false;
        UnBlockSave();
        list_->PrintSelectedFiles(false);
        ShowJournalProblems();
        return;
    }
    if (mode != kSaveFromBoxes || blocked_)
        return;

    const int start = CurrentRow();
    const int selected = list_->SelectedCount();
    const bool several = selected >= 2;
    const FieldEdits edits = EditsFromBoxes(several);
    ApplyBridgeOptions();
    BlockSave();
    if (wait_)
        wait_->Start(selected);
    busy_ = true;
    std::vector<sondrel::SaveFailure> failures;
    std::vector<int> failedRows;
    int attempted = 0;
    if (!several) {
        if (RowIsFile(start)) {
            const std::string path = RowPath(start);
            // The hub must hold this file's fields (and pictures) before the boxes
            // go in, and the components must name this file: they write to it.
            if (path != shownPath_ || !ComponentsHold(path))
                bridge_->Read(path);
            TagFields hub = bridge_->Hub();
            sondrel::ApplyEdits(hub, edits);
            bridge_->setHub(hub);
            ++attempted;
            const sondrel::SaveOutcome outcome = SaveRow(start);
            if (!outcome.ok) {
                failures.push_back({path, sondrel::SaveFailureReason(outcome)});
                failedRows.push_back(start);
            }
        }
    } else {
        const std::vector<sondrel::JobItem> items = JobItems(SelectedRows());
        sondrel::JobCallbacks callbacks;
        // Outcomes and steps come a save group at a time; the window is
        // kept answering (and Stop seen) between files and while a group
        // commits. The first file is always written: Stop ends the run
        // after the current file.
        callbacks.keepGoing = [this, first = true]() mutable {
            if (!std::exchange(first, false))
                QApplication::processEvents();
            return ProgressRunning();
        };
        callbacks.onFileDone = [&](const sondrel::JobItem& item, const sondrel::SaveOutcome& o) {
            ++attempted;
            if (!o.ok) {
                failures.push_back({item.path, sondrel::SaveFailureReason(o)});
                failedRows.push_back(item.row);
            }
            QApplication::processEvents();
        };
        callbacks.runCommit = CommitAnswering;
        callbacks.onStep = [&](const sondrel::JobItem& item) {
            if (wait_)
                wait_->Step();
            // A file that was not written stays selected for another try.
            if (failedRows.empty() || failedRows.back() != item.row)
                Deselect(item.row);
            list_->PrintSelectedFiles(false);
        };
        sondrel::SaveEditsToFiles(*bridge_, items, edits, callbacks);
    }
    // Before the next row is shown: it must be read as its file holds it,
    // or the next save would write a capitalization nobody chose for it.
    ResetCapitalization();
    // The file was rewritten: the next read must come from disk.
    shownPath_.clear();
    const int last = RowCount() - 1;
    if (!failedRows.empty()) {
        // The editor stays on a file that was not written.
        MakeCurrent(failedRows.front());
    } else if (start >= 0 && start < last) {
        Deselect(start);
        MakeCurrent(start + 1);
    }
    busy_ = false;
    ShowCurrentFile();
    if (!failures.empty())
        PutEditsBack(edits);
    UnBlockSave();
    UnBlockSong();
    if (wait_) {
        wait_->Finish();
        wait_->RestoreMain(false);
    }
    list_->PrintSelectedFiles(false);
    ShowSaveFailures(failures, attempted);
    ShowJournalProblems();
}

sondrel::SaveOutcome TagEditor::SaveTags(int row) {
    const sondrel::SaveOutcome outcome = SaveRow(row);
    if (row >= 0 && row < RowCount())
        ShowSaveError(RowPath(row), outcome);
    return outcome;
}

sondrel::SaveOutcome TagEditor::SaveRow(int row) {
    if (row < 0 || row >= RowCount())
        return {};
    const std::string path = RowPath(row);
    if (!ComponentsHold(path)) {
        // The components write into the file they last read; a hub prepared
        // for this row (the batch window's) must not land in another file.
        const TagFields fields = bridge_->Hub();
        bridge_->Read(path);
        TagFields hub = bridge_->Hub();
        sondrel::CopyFieldValues(fields, hub);
        bridge_->setHub(hub);
    }
    return bridge_->Save(path);
}

void TagEditor::ShowSaveError(const std::string& path, const sondrel::SaveOutcome& outcome) {
    if (sondrel::ShowsSaveErrorBox(Options().showErrors, outcome) && showErrorBox)
        showErrorBox(Q(sondrel::SaveFailureMessage({path, sondrel::SaveFailureReason(outcome)})));
}

void TagEditor::ShowSaveFailures(const std::vector<sondrel::SaveFailure>& failures, int attempted) {
    if (failures.empty() || !Options().showErrors || !showErrorBox)
        return;
    if (failures.size() == 1 && attempted <= 1)
        showErrorBox(Q(sondrel::SaveFailureMessage(failures.front())));
    else
        showErrorBox(Q(sondrel::SaveFailureSummary(failures, attempted)));
}

void TagEditor::ShowJournalProblems() {
    // Told whatever the error option says: the file in question may hold
    // another program's edit or a torn save that nothing will mend.
    QStringList fresh;
    for (const std::string& problem : sondrel::JournalProblems()) {
        if (toldJournalProblems_.insert(problem).second)
            fresh << Q(problem);
    }
    if (!fresh.isEmpty() && showErrorBox)
        showErrorBox(fresh.join(QLatin1Char('\n')));
}

void TagEditor::DeleteTags(sondrel::RemoveKind kind) {
    if (!list_ || blocked_)
        return;
    ApplyBridgeOptions();
    BlockSave();
    if (wait_)
        wait_->Start(list_->SelectedCount());
    busy_ = true;
    const std::vector<sondrel::JobItem> items = JobItems(SelectedRows());
    std::vector<sondrel::SaveFailure> failures;
    int attempted = 0;
    sondrel::JobCallbacks callbacks;
    callbacks.keepGoing = [this, first = true]() mutable {
        if (!std::exchange(first, false))
            QApplication::processEvents();
        return ProgressRunning();
    };
    callbacks.onFileDone = [&](const sondrel::JobItem& item, const sondrel::SaveOutcome& o) {
        ++attempted;
        // Every kind, Ogg included: a removal that failed is never passed over.
        if (!o.ok)
            failures.push_back({item.path, sondrel::SaveFailureReason(o)});
    };
    callbacks.onStep = [this](const sondrel::JobItem&) {
        if (wait_)
            wait_->Step();
    };
    callbacks.runCommit = CommitAnswering;
    sondrel::RemoveTagsFromFiles(*bridge_, items, kind, callbacks);
    shownPath_.clear();
    busy_ = false;
    if (wait_)
        wait_->Finish();
    UnBlockSave();
    UnBlockSong();
    ShowCurrentFile();
    ShowSaveFailures(failures, attempted);
    ShowJournalProblems();
}

std::vector<sondrel::JobItem> TagEditor::JobItems(const std::vector<int>& rows) const {
    std::vector<sondrel::JobItem> items;
    items.reserve(rows.size());
    for (int row : rows) {
        const bool isFile = RowIsFile(row);
        items.push_back({row, isFile ? RowPath(row) : std::string(), isFile});
    }
    return items;
}

void TagEditor::BlockSave() {
    // Disabling the focused list or button hands the focus on; that move is
    // not the user's and must not become LastEditControl.
    blocked_ = true;
    btnSave_->setEnabled(false);
    if (list_)
        list_->lbFile()->setEnabled(false);
}

void TagEditor::UnBlockSave() {
    btnSave_->setEnabled(true);
    if (list_)
        list_->lbFile()->setEnabled(true);
    blocked_ = false;
}

void TagEditor::UnBlockSong() {
    if (btnSave_->isEnabled() && lastEdit_)
        lastEdit_->setFocus();
}

void TagEditor::actChangeTags() {
    setReadTagChoice(shell::NextReadTagChoice(ReadTagChoice()));
}

void TagEditor::actClearHistory() {
    for (QComboBox* box : historyBoxes_)
        SetItemsKeepingText(box, {});
    ShowCurrentFile();
}

void TagEditor::labLinkClick() {
    const QString target = shell::UrlLabelTarget(edURL_->currentText());
    if (!target.isEmpty() && openUrl)
        openUrl(target);
}

// ---- Keyboard and focus ----

void TagEditor::OnFocusChanged(QWidget* now) {
    if (!now || blocked_)
        return;
    if (list_ && now == list_->lbFile()) {
        lastEdit_ = now;
        return;
    }
    if (now == memoComment_) {
        lastEdit_ = now;
        return;
    }
    for (QComboBox* box : keepBoxes_) {
        if (now == box || now == box->lineEdit()) {
            lastEdit_ = box;
            return;
        }
    }
}

void TagEditor::MoveDown() {
    if (blocked_)
        return;
    const int was = CurrentRow();
    const bool autoSave = Options().autoSave;
    const bool canMove = was >= 0 && was < RowCount() - 1;
    UnsavedAnswer answer = UnsavedAnswer::Save;
    if (!autoSave) {
        if (!canMove)
            return;
        answer = AnswerForLeaving();
        if (answer == UnsavedAnswer::Cancel)
            return;
    }
    if (answer == UnsavedAnswer::Save) {
        btnSaveClick();
        // A failed save keeps the row and the edits.
        if (modified_)
            return;
        // The save has already moved on to the next row and shown it.
        if (CurrentRow() == was + 1)
            return;
    }
    if (!canMove)
        return;
    busy_ = true;
    Deselect(was);
    MakeCurrent(was + 1);
    busy_ = false;
    ShowCurrentFile();
}

void TagEditor::MoveUp() {
    if (blocked_)
        return;
    const int was = CurrentRow();
    const bool autoSave = Options().autoSave;
    UnsavedAnswer answer = UnsavedAnswer::Save;
    if (!autoSave) {
        // On the first row nothing happens, so unsaved edits stay in the boxes.
        if (was <= 0)
            return;
        answer = AnswerForLeaving();
        if (answer == UnsavedAnswer::Cancel)
            return;
    }
    if (answer == UnsavedAnswer::Save) {
        btnSaveClick();
        if (modified_)
            return;
        // The save moved one row down; Up goes back above the saved row, or
        // onto it again when it is the first (Up never moves down).
        const int target = std::max(was - 1, 0);
        if (was >= 0 && was < RowCount() && CurrentRow() != target) {
            busy_ = true;
            Deselect(CurrentRow());
            MakeCurrent(target);
            busy_ = false;
        }
    } else {
        busy_ = true;
        Deselect(was);
        MakeCurrent(was - 1);
        busy_ = false;
    }
    ShowCurrentFile();
}

bool TagEditor::eventFilter(QObject* watched, QEvent* event) {
    if (watched == memoComment_) {
        if (event->type() == QEvent::FocusOut && !memoComment_->isHidden())
            LeaveCommentMemo();
        else if (event->type() == QEvent::KeyRelease)
            ColourWhileTyping();
        return QWidget::eventFilter(watched, event);
    }
    QComboBox* box = nullptr;
    for (QComboBox* b : keepBoxes_) {
        if (watched == b || watched == b->lineEdit())
            box = b;
    }
    if (!box)
        return QWidget::eventFilter(watched, event);

    if (event->type() == QEvent::KeyRelease) {
        if (box == edTitle_ || box == edArtist_ || box == edAlbum_ || box == edGenre_ ||
            box == edComment_)
            ColourWhileTyping();
        return QWidget::eventFilter(watched, event);
    }
    if (event->type() != QEvent::KeyPress || box == edGenre_)
        return QWidget::eventFilter(watched, event);

    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if (box == edTrack_) {
        if (IsEnter(key->key()) && mods == Qt::NoModifier) {
            btnSaveClick();
            return true;
        }
        return QWidget::eventFilter(watched, event);
    }
    if (IsEnter(key->key()) && mods == Qt::NoModifier) {
        btnSaveClick();
        return true;
    }
    if (key->key() == Qt::Key_Down || (IsEnter(key->key()) && mods == Qt::ControlModifier)) {
        MoveDown();
        return true;
    }
    if (key->key() == Qt::Key_Up || (IsEnter(key->key()) && mods == Qt::ShiftModifier)) {
        MoveUp();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
