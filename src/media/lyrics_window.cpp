// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/lyrics_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QScreen>
#include <QShowEvent>
#include <QStringConverter>
#include <QToolBar>
#include <QVBoxLayout>
#include <limits>

#include "appearance/language_file.h"
#include "editor/file_facts.h"
#include "editor/format_registry.h"
#include "editor/tag_jobs.h"
#include "media/media_host.h"
#include "media/rtf_text.h"
#include "media/window_place.h"
#include "util/codepage.h"

using namespace sondrel;
using namespace sondrel::net;

namespace {

constexpr qint64 kMaxTextFileBytes = 8 << 20;
const PlaceRule kPlace{"fmText", QRect(0, 11, 170, 545), QSize(170, 481)};

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// The text of a message id in the language in force.
QString Msg(int id) {
    return Q(sondrel::ProgramMessages().Shown(id));
}

bool IsUtf8(const QByteArray& bytes) {
    auto decoder = QStringDecoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes);  // the conversion runs here
    return !decoder.hasError();
}

}  // namespace

LyricsWindow::LyricsWindow(MediaHost* host, HttpClient* http, QWidget* parent)
    : QWidget(parent, Qt::Tool), host_(host), http_(http) {
    setObjectName(QStringLiteral("fmText"));
    setWindowTitle(tr("Lyrics"));
    setAcceptDrops(true);
    resize(320, 545);

    toolBar_ = new QToolBar(this);
    auto add = [&](const char* name, const QString& text, const QKeySequence& keys = {}) {
        auto* a = new QAction(text, this);
        a->setObjectName(QString::fromLatin1(name));
        if (!keys.isEmpty())
            a->setShortcut(keys);
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        addAction(a);
        return a;
    };
    memo_ = new QPlainTextEdit(this);
    memo_->setObjectName(QStringLiteral("memo"));
    memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Drops go to the window: a dropped file is loaded, not pasted as a name.
    memo_->setAcceptDrops(false);

    QAction* open = add("btnOpen", tr("&Open"));
    QAction* save = add("btnSave", tr("&Save"));
    QAction* download = add("btnDownload", tr("Download"));
    QAction* stop = add("btnStop", tr("Next"));
    QAction* cut = add("actCut", tr("Cu&t"), QKeySequence::Cut);
    QAction* copy = add("actCopy", tr("&Copy"), QKeySequence::Copy);
    QAction* paste = add("actPaste", tr("&Paste"), QKeySequence::Paste);
    QAction* undo = add("actUndo", tr("&Undo"), QKeySequence::Undo);
    QAction* selectAll = add("actSelectAll", tr("Select A&ll"), QKeySequence::SelectAll);
    download->setToolTip(http_ ? tr("Download lyrics")
                               : tr("Downloads are not available: no network client"));
    stop->setEnabled(false);
    stop->setToolTip(tr("Stop the transfer, or fetch the next result"));
    for (QAction* a : {open, save, download, stop, cut, copy, paste})
        toolBar_->addAction(a);
    cbLyricsSource_ = new QComboBox(this);
    cbLyricsSource_->setObjectName(QStringLiteral("cbLyricsSource"));
    cbLyricsSource_->addItems({tr("Web search"), tr("LRCLIB")});
    cbLyricsSource_->setToolTip(tr("Lyrics source"));
    {
        bool ok = false;
        const int source = host_ ? host_
                                       ->ReadSetting(QStringLiteral("LyricsSource"),
                                                     QString::number(kLyricsFromLrclib))
                                       .toInt(&ok)
                                 : kLyricsFromLrclib;
        cbLyricsSource_->setCurrentIndex(ok && source == kLyricsFromWeb ? kLyricsFromWeb
                                                                        : kLyricsFromLrclib);
    }
    connect(cbLyricsSource_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (host_)
            host_->WriteSetting(QStringLiteral("LyricsSource"), QString::number(index));
    });
    toolBar_->addWidget(cbLyricsSource_);
    connect(open, &QAction::triggered, this, &LyricsWindow::btnOpenClick);
    connect(save, &QAction::triggered, this, &LyricsWindow::btnSaveClick);
    connect(download, &QAction::triggered, this, &LyricsWindow::btnDownloadClick);
    connect(stop, &QAction::triggered, this, &LyricsWindow::btnStopClick);
    connect(cut, &QAction::triggered, memo_, &QPlainTextEdit::cut);
    connect(copy, &QAction::triggered, memo_, &QPlainTextEdit::copy);
    connect(paste, &QAction::triggered, memo_, &QPlainTextEdit::paste);
    connect(undo, &QAction::triggered, memo_, &QPlainTextEdit::undo);
    connect(selectAll, &QAction::triggered, memo_, &QPlainTextEdit::selectAll);
    connect(memo_, &QPlainTextEdit::copyAvailable, this, [this] { UpdateEditActions(); });
    connect(memo_, &QPlainTextEdit::undoAvailable, this, [this] { UpdateEditActions(); });

    popup_ = new QMenu(this);
    popup_->addActions({cut, copy, paste});
    popup_->addSeparator();
    popup_->addAction(selectAll);
    memo_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(memo_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        UpdateEditActions();
        popup_->popup(memo_->mapToGlobal(pos));
    });

    // Every change reaches the tag editor's buffer at once.
    connect(memo_, &QPlainTextEdit::textChanged, this, [this] {
        if (!fromHost_ && host_)
            host_->SetLyrics(memo_->toPlainText());
    });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolBar_);
    layout->addWidget(memo_);
    // The timed lines are not in the text shown: without this the user
    // could not tell they were fetched and will be saved.
    syncedNote_ = new QLabel(this);
    syncedNote_->setObjectName(QStringLiteral("lbSynced"));
    syncedNote_->setWordWrap(true);
    syncedNote_->setContentsMargins(4, 2, 4, 2);
    syncedNote_->hide();
    layout->addWidget(syncedNote_);
    UpdateEditActions();
}

LyricsWindow::~LyricsWindow() {
    StoreSettings();
}

void LyricsWindow::StoreSettings() {
    // A window never shown has no place of its own to keep.
    if (!host_ || !placed_)
        return;
    StorePlace(*host_, kPlace, *this);
    host_->WriteSetting(QStringLiteral("fmTextOpen"), openFolder_);
    host_->WriteSetting(QStringLiteral("fmTextSave"), saveFolder_);
}

void LyricsWindow::showEvent(QShowEvent* event) {
    if (host_ && !event->spontaneous()) {
        const QRect place = StoredPlace(*host_, kPlace, screen()->availableGeometry().size());
        move(place.topLeft());
        resize(place.size());
        placed_ = true;
        openFolder_ = host_->ReadSetting(QStringLiteral("fmTextOpen"), openFolder_);
        saveFolder_ = host_->ReadSetting(QStringLiteral("fmTextSave"), saveFolder_);
    }
    QWidget::showEvent(event);
    memo_->setFocus();
}

QAction* LyricsWindow::action(const QString& name) const {
    return findChild<QAction*>(name);
}

void LyricsWindow::UpdateEditActions() {
    const bool selected = memo_->textCursor().hasSelection();
    action(QStringLiteral("actCut"))->setEnabled(selected);
    action(QStringLiteral("actCopy"))->setEnabled(selected);
    action(QStringLiteral("actPaste"))->setEnabled(memo_->canPaste());
    action(QStringLiteral("actUndo"))->setEnabled(memo_->document()->isUndoAvailable());
}

void LyricsWindow::SetMemoText(const QString& text) {
    memo_->setPlainText(text);
}

void LyricsWindow::Tell(const QString& message) {
    lastMessage_ = message;
    if (showMessage)
        showMessage(message);
    else
        QMessageBox::warning(this, windowTitle(), message);
}

void LyricsWindow::ShowLyrics() {
    if (!host_)
        return;
    fromHost_ = true;
    memo_->setPlainText(host_->Lyrics());
    fromHost_ = false;
    // Another file's text: synchronised lines fetched earlier are not its own.
    synced_.clear();
    ShowSyncedNote();
}

void LyricsWindow::ShowSyncedNote() {
    syncedNote_->setText(Msg(sondrel::msg::kSyncedLinesFetched).arg(synced_.size()));
    syncedNote_->setVisible(!synced_.empty());
}

bool LyricsWindow::LoadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Tell(
            Msg(sondrel::msg::kCannotOpen).arg(QDir::toNativeSeparators(path), file.errorString()));
        return false;
    }
    if (file.size() > kMaxTextFileBytes) {
        Tell(Msg(sondrel::msg::kLyricsFileTooLarge).arg(QDir::toNativeSeparators(path)));
        return false;
    }
    const QByteArray bytes = file.readAll();
    QString text;
    if (path.right(4).toUpper() == QLatin1String(".RTF")) {
        text = Q(media::RtfToText(bytes.toStdString(), codepage_));
    } else if (IsUtf8(bytes)) {
        text = QString::fromUtf8(bytes);
        if (text.startsWith(QChar(0xFEFF)))
            text.remove(0, 1);
    } else {
        text = Q(CodePageToUtf8(bytes.toStdString(), codepage_));
    }
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    SetMemoText(text);
    return true;
}

bool LyricsWindow::SaveFile(const QString& path) {
    QSaveFile file(path);
    QByteArray bytes = memo_->toPlainText().toUtf8();
    bytes.replace("\n", "\r\n");
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        Tell(Msg(sondrel::msg::kCannotWrite)
                 .arg(QDir::toNativeSeparators(path), file.errorString()));
        return false;
    }
    return true;
}

void LyricsWindow::btnOpenClick() {
    const QString path = QFileDialog::getOpenFileName(
        this, tr("Load text of song from file"), openFolder_,
        tr("Text Files (*.txt);;Rich Text Format (*.rtf);;All Files (*)"));
    if (path.isEmpty())
        return;
    openFolder_ = QFileInfo(path).absolutePath();
    LoadFile(path);
}

void LyricsWindow::btnSaveClick() {
    QString proposed;
    if (host_ && !host_->CurrentFile().empty()) {
        QFileInfo audio(Q(host_->CurrentFile()));
        proposed = audio.absolutePath() + QLatin1Char('/') + audio.completeBaseName() +
                   QStringLiteral(".txt");
    }
    if (!saveFolder_.isEmpty() && !proposed.isEmpty())
        proposed = saveFolder_ + QLatin1Char('/') + QFileInfo(proposed).fileName();
    // The dialog asks before it replaces a file.
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Save text of song to file"), proposed, tr("Text Files (*.txt);;All Files (*)"));
    if (path.isEmpty())
        return;
    saveFolder_ = QFileInfo(path).absolutePath();
    SaveFile(path);
}

QString LyricsWindow::OutcomeText(int outcome) {
    switch (outcome) {
        // The outcome codes' message ids.
        case kLyricsNoMatch:
            return Msg(42);
        case kLyricsNoResults:
            return Msg(43);
        case kLyricsNoOfAbout:
            return Msg(44);
        case kLyricsNoDash:
            return Msg(45);
        case kLyricsNoFor:
            return Msg(46);
        case kLyricsOtherPage:
            return Msg(47);
        case kLyricsNoLinkEnd:
            return Msg(48);
        case kLyricsNoLink:
            return Msg(49);
        case kLyricsPageError:
            return Msg(51);
        case kLyricsPageFailed:
        case kLyricsSearchFailed:
            return Msg(50);
        case kLyricsSearchError:
            return Msg(52);
        case kLyricsQueryTooShort:
            return Msg(53);
        default:
            return QString::number(outcome);
    }
}

bool LyricsWindow::KeepGoing() {
    QApplication::processEvents();
    if (stopRequested_)
        return false;
    return !batchRunning_ || !host_ || host_->ProgressRunning();
}

void LyricsWindow::CollectCounters() {
    if (!search_)
        return;
    lyricsCount += search_->searches;
    templatesCount += search_->markers.templates;
    errorCount += search_->markers.errors;
    search_->searches = 0;
    search_->markers = {};
}

void LyricsWindow::ShowStep(const LyricsSearch::Step& step) {
    QAction* stop = action(QStringLiteral("btnStop"));
    stop->setText(tr("Next"));
    stop->setEnabled(step.outcome != kLyricsQueryTooShort);
    if (step.outcome == kLyricsOk) {
        QString text = Q(step.text);
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        SetMemoText(text);
    } else {
        SetMemoText(Msg(6) + OutcomeText(step.outcome));
    }
}

lrclib::LyricsOutcome LyricsWindow::FetchFromLrclib(const std::string& path) {
    TagBridge& bridge = host_->Bridge();
    const TagFields& hub = bridge.Hub();
    lrclib::Settings settings;
    // The host from the options' Look-ups page; one on this machine may be
    // plain http (a local mirror of the service).
    settings.endpoint.host =
        host_->ReadSetting(QStringLiteral("LrclibHost"), QString()).trimmed().toStdString();
    if (settings.endpoint.host.empty())
        settings.endpoint.host = std::string(lrclib::kDefaultHost);
    settings.endpoint.allowLoopbackHttp = web::IsLoopbackUrl(settings.endpoint.host);
    settings.contact =
        host_->ReadSetting(QStringLiteral("FreeDBEmail"), QString()).trimmed().toStdString();
    lrclib::Query query;
    query.artist = hub.artist;
    query.title = hub.title;
    query.album = hub.album;
    // The service tells recordings of one title apart by their length, in
    // whole seconds as the command line's look-up sends it.
    const double seconds = StreamFactsOf(bridge, FormatOfPath(path), path).seconds;
    if (seconds >= 1 && seconds < std::numeric_limits<std::int32_t>::max())
        query.durationSeconds = static_cast<std::int32_t>(seconds);
    return lrclib::FetchLyrics(*http_, settings, query, [this] { return KeepGoing(); });
}

void LyricsWindow::SaveLyricsOf(const std::string& path, const std::string& text,
                                const std::vector<lrclib::SyncedLine>& synced) {
    // Only the lyrics change; everything else in the file stays as it is.
    // Synchronised lines go into the same save, so the file takes both or
    // neither.
    if (FormatOfPath(path) == TagFormat::None)
        return;
    TagBridge& bridge = host_->Bridge();
    bridge.Read(path);
    TagFields hub = bridge.Hub();
    FieldEdits edits;
    edits[Field::Lyrics] = text;
    ApplyEdits(hub, edits);
    bridge.setHub(hub);
    if (!synced.empty())
        bridge.SetSyncedLyrics(path, lrclib::SyltOf(synced));
    const SaveOutcome outcome = bridge.Save(path);
    if (!outcome.ok)
        failures_.emplace_back(path, SaveFailureReason(outcome));
}

void LyricsWindow::SearchOne(const std::string& path, bool batch) {
    host_->ShowFile(path);
    synced_.clear();
    ShowSyncedNote();
    QAction* stop = action(QStringLiteral("btnStop"));
    if (cbLyricsSource_->currentIndex() == kLyricsFromLrclib) {
        search_.reset();
        transferring_ = true;
        stopRequested_ = false;
        stop->setText(tr("Stop"));
        stop->setEnabled(true);
        const lrclib::LyricsOutcome got = FetchFromLrclib(path);
        transferring_ = false;
        // LRCLIB answers once: there is no next result.
        stop->setText(tr("Next"));
        stop->setEnabled(false);
        const bool found = got.ok && got.lyrics.found && !got.lyrics.plain.empty();
        const QString why = !got.ok                   ? Q(got.error)
                            : got.lyrics.instrumental ? Msg(sondrel::msg::kTrackInstrumental)
                                                      : Msg(sondrel::msg::kNoServiceLyrics);
        if (!batch) {
            if (found) {
                QString text = Q(got.lyrics.plain);
                text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
                SetMemoText(text);
                synced_ = got.lyrics.synced;
                // The tag editor's next save of this file writes them too,
                // where its format keeps synchronised lyrics.
                if (!synced_.empty())
                    host_->Bridge().SetSyncedLyrics(path, lrclib::SyltOf(synced_));
                ShowSyncedNote();
            } else {
                Tell(why);
            }
            return;
        }
        if (!found) {
            failures_.emplace_back(path, why.toStdString());
            return;
        }
        SaveLyricsOf(path, got.lyrics.plain, got.lyrics.synced);
        return;
    }
    const TagFields& hub = host_->Bridge().Hub();
    search_ = std::make_unique<LyricsSearch>(*http_, settings_, sites_);
    transferring_ = true;
    stopRequested_ = false;
    stop->setText(tr("Stop"));
    stop->setEnabled(true);
    const auto step = search_->Search(hub.artist, hub.title, [this] { return KeepGoing(); });
    transferring_ = false;
    CollectCounters();
    if (!batch) {
        if (step.outcome == kLyricsQueryTooShort)
            Tell(OutcomeText(step.outcome));
        ShowStep(step);
        return;
    }
    if (step.outcome != kLyricsOk) {
        failures_.emplace_back(path, OutcomeText(step.outcome).toStdString());
        return;
    }
    SaveLyricsOf(path, step.text, {});
}

void LyricsWindow::btnDownloadClick() {
    if (!http_) {
        Tell(Msg(sondrel::msg::kNoNetworkClient));
        return;
    }
    if (!host_)
        return;
    const std::vector<std::string> selected = host_->SelectedFiles();
    failures_.clear();
    if (selected.size() < 2) {
        std::string path = selected.empty() ? host_->CurrentFile() : selected.front();
        if (path.empty()) {
            Tell(Msg(sondrel::msg::kNoFileSelected));
            return;
        }
        memo_->clear();
        SearchOne(path, false);
        return;
    }
    const QString question = Msg(4021).arg(selected.size());
    const bool yes = confirm
                         ? confirm(question)
                         : QMessageBox::question(this, windowTitle(), question) == QMessageBox::Yes;
    if (!yes)
        return;
    batchRunning_ = true;
    host_->StartProgress(static_cast<int>(selected.size()));
    std::size_t done = 0;
    for (const std::string& path : selected) {
        if (!host_->ProgressRunning() || stopRequested_)
            break;
        SearchOne(path, true);
        host_->Deselect(path);
        host_->StepProgress();
        ++done;
    }
    host_->FinishProgress();
    batchRunning_ = false;
    if (!selected.empty())
        host_->ShowFile(host_->CurrentFile().empty() ? selected.back() : host_->CurrentFile());
    ShowLyrics();
    if (!failures_.empty()) {
        QString list;
        for (const auto& [file, reason] : failures_)
            list += QStringLiteral("\n%1: %2").arg(QDir::toNativeSeparators(Q(file)), Q(reason));
        Tell(Msg(sondrel::msg::kLyricsNotSaved).arg(failures_.size()).arg(done) + list);
    }
}

void LyricsWindow::btnStopClick() {
    if (transferring_) {
        stopRequested_ = true;
        return;
    }
    if (!search_ || !http_)
        return;
    memo_->clear();
    transferring_ = true;
    stopRequested_ = false;
    const auto step = search_->Next([this] { return KeepGoing(); });
    transferring_ = false;
    CollectCounters();
    ShowStep(step);
}

void LyricsWindow::closeEvent(QCloseEvent* event) {
    // A transfer still running is stopped: nothing waits for a closed window.
    if (transferring_)
        stopRequested_ = true;
    StoreSettings();
    emit closed();
    QWidget::closeEvent(event);
}

void LyricsWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void LyricsWindow::dropEvent(QDropEvent* event) {
    if (DropUrls(event->mimeData()->urls()))
        event->acceptProposedAction();
}

bool LyricsWindow::DropUrls(const QList<QUrl>& urls) {
    // Only the first dropped file is loaded.
    if (urls.isEmpty() || !urls.front().isLocalFile())
        return false;
    return LoadFile(urls.front().toLocalFile());
}
