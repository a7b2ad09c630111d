// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/batch_lookup_tabs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

#include <set>

#include "media/http_worker.h"
#include "net/cover_art.h"
#include "net/lookup_rows.h"
#include "shell/batch_table_model.h"
#include "shell/language_apply.h"
#include "shell/options_window.h"
#include "shell/progress.h"
#include "shell/settings_store.h"

using namespace sondrel;
using namespace sondrel::net;

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

std::string S(const QString& s) {
    return s.toStdString();
}

const char* const kStoreHostKeys[] = {"StoreHostUS", "StoreHostUK", "StoreHostDE"};

// What a run's failures look like in one message: the count, then each file
// with its reason.
QString FailureList(const QString& caption, const std::vector<LookupWriteResult::Failure>& list) {
    QString text = caption.arg(list.size());
    for (const auto& f : list)
        text += QStringLiteral("\n%1: %2").arg(Q(f.path), Q(f.error));
    return text;
}

// A service's host from the settings (the service's own when empty). A host
// on this machine may be plain http: a local mirror of the service.
web::Endpoint EndpointOf(const SettingsStore& store, const QString& key,
                         std::string_view fallback) {
    web::Endpoint endpoint;
    endpoint.host = S(store.ReadString(key).trimmed());
    if (endpoint.host.empty())
        endpoint.host = std::string(fallback);
    endpoint.allowLoopbackHttp = web::IsLoopbackUrl(endpoint.host);
    return endpoint;
}

}  // namespace

LookupPages::LookupPages(SettingsStore& store, BatchTableModel* model, QWidget* freeDbPage,
                         QWidget* storePage, QWidget* musicBrainzPage, LookupHooks hooks,
                         QWidget* window)
    : QObject(window), store_(store), model_(model), hooks_(std::move(hooks)) {
    worker_ = new HttpWorker(client_, this);
    askEmail = [window] {
        bool ok = false;
        const QString email =
            QInputDialog::getText(window, tr("E-mail for FreeDB"),
                                  tr("FreeDB servers ask every user for a real e-mail address.\n"
                                     "It is sent with each look-up and kept in the options."),
                                  QLineEdit::Normal, QString(), &ok);
        return ok ? email.trimmed() : QString();
    };
    BuildFreeDb(freeDbPage);
    BuildStore(storePage);
    BuildMusicBrainz(musicBrainzPage);
    connect(worker_, &HttpWorker::progress, this, [this](qint64 received, qint64 total) {
        const QString text = total > 0 ? shell::Message(sondrel::msg::kReceivingOf)
                                             .arg(QLocale().formattedDataSize(received),
                                                  QLocale().formattedDataSize(total))
                                       : shell::Message(sondrel::msg::kReceiving)
                                             .arg(QLocale().formattedDataSize(received));
        lbStatusFreeDb_->setText(text);
        lbStatusStore_->setText(text);
        lbStatusMb_->setText(text);
    });
    connect(model_, &QAbstractItemModel::modelReset, this, &LookupPages::FillWords);
    if (window)
        window->installEventFilter(this);
}

LookupPages::~LookupPages() {
    worker_->StopAll();
}

void LookupPages::BuildFreeDb(QWidget* page) {
    auto* g = new QGridLayout(page);
    cbServer_ = new QComboBox(page);
    cbServer_->setObjectName(QStringLiteral("cbServer"));
    cbServer_->setEditable(true);
    cbServer_->setInsertPolicy(QComboBox::NoInsert);
    cbServer_->addItems(OptionsWindow::FreeDbServers());
    cbServer_->setMinimumContentsLength(24);
    cbServer_->setToolTip(
        tr("A server with http:// or https:// is asked as it is; a bare host "
           "name over http on port 80"));
    btnGetAlbum_ = new QPushButton(tr("Get album info"), page);
    btnGetAlbum_->setObjectName(QStringLiteral("btnGetAlbum"));
    cbDisk_ = new QComboBox(page);
    cbDisk_->setObjectName(QStringLiteral("cbDisk"));
    cbDisk_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cbDisk_->setMinimumContentsLength(30);
    btnStopFreeDb_ = new QPushButton(tr("Stop"), page);
    btnStopFreeDb_->setObjectName(QStringLiteral("btnStopFreeDB"));
    btnStopFreeDb_->setEnabled(false);
    lbStatusFreeDb_ = new QLabel(page);
    lbStatusFreeDb_->setObjectName(QStringLiteral("lbStatusFreeDB"));
    auto* note =
        new QLabel(tr("Please select all tracks from one album only in correct order"), page);
    g->addWidget(new QLabel(tr("Server"), page), 0, 0);
    g->addWidget(cbServer_, 0, 1);
    g->addWidget(btnGetAlbum_, 0, 2);
    g->addWidget(btnStopFreeDb_, 0, 3);
    g->addWidget(new QLabel(tr("Disk"), page), 1, 0);
    g->addWidget(cbDisk_, 1, 1, 1, 3);
    g->addWidget(note, 2, 0, 1, 3);
    g->addWidget(lbStatusFreeDb_, 2, 3);
    g->setColumnStretch(1, 1);
    connect(btnGetAlbum_, &QPushButton::clicked, this, &LookupPages::GetAlbumInfo);
    connect(btnStopFreeDb_, &QPushButton::clicked, this, &LookupPages::Stop);
    connect(cbDisk_, &QComboBox::activated, this, &LookupPages::ReadChosenDisc);
    cbServer_->setCurrentText(
        store_.ReadString(QStringLiteral("FreeDBServer"), Q(std::string(cddb::kDefaultServer))));
}

void LookupPages::BuildStore(QWidget* page) {
    auto* g = new QGridLayout(page);
    cbAmazonArtist_ = new QComboBox(page);
    cbAmazonArtist_->setObjectName(QStringLiteral("cbAmazonArtist"));
    cbAmazonArtist_->setEditable(true);
    cbAmazonArtist_->setInsertPolicy(QComboBox::NoInsert);
    cbAmazonAlbum_ = new QComboBox(page);
    cbAmazonAlbum_->setObjectName(QStringLiteral("cbAmazonAlbum"));
    cbAmazonAlbum_->setEditable(true);
    cbAmazonAlbum_->setInsertPolicy(QComboBox::NoInsert);
    cbAmazon_ = new QComboBox(page);
    cbAmazon_->setObjectName(QStringLiteral("cbAmazon"));
    cbAmazon_->addItems({tr("amazon.com"), tr("amazon.co.uk"), tr("amazon.de")});
    btnGetAmazon_ = new QPushButton(tr("Get albums"), page);
    btnGetAmazon_->setObjectName(QStringLiteral("btnGetAmazon"));
    cbAmazonDisk_ = new QComboBox(page);
    cbAmazonDisk_->setObjectName(QStringLiteral("cbAmazonDisk"));
    cbAmazonDisk_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cbAmazonDisk_->setMinimumContentsLength(30);
    cbDownloadAlbumCover_ = new QCheckBox(tr("Download album cover"), page);
    cbDownloadAlbumCover_->setObjectName(QStringLiteral("cbDownloadAlbumCover"));
    cbDownloadAlbumCover_->setChecked(true);
    btnStopStore_ = new QPushButton(tr("Stop"), page);
    btnStopStore_->setObjectName(QStringLiteral("btnStopAmazon"));
    btnStopStore_->setEnabled(false);
    lbStatusStore_ = new QLabel(page);
    lbStatusStore_->setObjectName(QStringLiteral("lbStatusAmazon"));
    g->addWidget(new QLabel(tr("Artist"), page), 0, 0);
    g->addWidget(cbAmazonArtist_, 0, 1);
    g->addWidget(cbAmazon_, 0, 2);
    g->addWidget(btnGetAmazon_, 0, 3);
    g->addWidget(new QLabel(tr("Album"), page), 1, 0);
    g->addWidget(cbAmazonAlbum_, 1, 1);
    g->addWidget(cbDownloadAlbumCover_, 1, 2);
    g->addWidget(btnStopStore_, 1, 3);
    g->addWidget(new QLabel(tr("Disk"), page), 2, 0);
    g->addWidget(cbAmazonDisk_, 2, 1, 1, 2);
    g->addWidget(lbStatusStore_, 2, 3);
    g->setColumnStretch(1, 1);
    connect(btnGetAmazon_, &QPushButton::clicked, this, &LookupPages::GetAlbums);
    connect(btnStopStore_, &QPushButton::clicked, this, &LookupPages::Stop);
    connect(cbAmazonDisk_, &QComboBox::activated, this, &LookupPages::FillChosenAlbum);
}

void LookupPages::BuildMusicBrainz(QWidget* page) {
    auto* g = new QGridLayout(page);
    auto words = [page](const char* name) {
        auto* box = new QComboBox(page);
        box->setObjectName(QString::fromLatin1(name));
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        return box;
    };
    cbMbArtist_ = words("cbMbArtist");
    cbMbAlbum_ = words("cbMbAlbum");
    btnMbSearch_ = new QPushButton(tr("Search"), page);
    btnMbSearch_->setObjectName(QStringLiteral("btnMbSearch"));
    btnMbSearch_->setToolTip(tr("Find releases by the artist and album words"));
    btnMbToc_ = new QPushButton(tr("Look up by TOC"), page);
    btnMbToc_->setObjectName(QStringLiteral("btnMbToc"));
    btnMbToc_->setToolTip(
        tr("Find the releases whose disc has the checked files' durations, in this order"));
    cbMbRelease_ = new QComboBox(page);
    cbMbRelease_->setObjectName(QStringLiteral("cbMbRelease"));
    cbMbRelease_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cbMbRelease_->setMinimumContentsLength(30);
    cbMbCover_ = new QCheckBox(tr("Write the front cover"), page);
    cbMbCover_->setObjectName(QStringLiteral("cbMbCover"));
    cbMbCover_->setToolTip(tr("The release's front cover from the Cover Art Archive"));
    // Unticked by default: a cover is a large write the user asks for.
    cbMbCover_->setChecked(false);
    btnStopMb_ = new QPushButton(tr("Stop"), page);
    btnStopMb_->setObjectName(QStringLiteral("btnStopMb"));
    btnStopMb_->setEnabled(false);
    lbStatusMb_ = new QLabel(page);
    lbStatusMb_->setObjectName(QStringLiteral("lbStatusMb"));
    g->addWidget(new QLabel(tr("Artist"), page), 0, 0);
    g->addWidget(cbMbArtist_, 0, 1);
    g->addWidget(btnMbSearch_, 0, 2);
    g->addWidget(btnMbToc_, 0, 3);
    g->addWidget(new QLabel(tr("Album"), page), 1, 0);
    g->addWidget(cbMbAlbum_, 1, 1);
    g->addWidget(cbMbCover_, 1, 2);
    g->addWidget(btnStopMb_, 1, 3);
    g->addWidget(new QLabel(tr("Release"), page), 2, 0);
    g->addWidget(cbMbRelease_, 2, 1, 1, 2);
    g->addWidget(lbStatusMb_, 2, 3);
    g->setColumnStretch(1, 1);
    connect(btnMbSearch_, &QPushButton::clicked, this, &LookupPages::SearchMusicBrainz);
    connect(btnMbToc_, &QPushButton::clicked, this, &LookupPages::LookUpMusicBrainzToc);
    connect(btnStopMb_, &QPushButton::clicked, this, &LookupPages::Stop);
    connect(cbMbRelease_, &QComboBox::activated, this, &LookupPages::ReadChosenRelease);
}

QPushButton* LookupPages::btnStop(Source source) const {
    switch (source) {
        case Source::FreeDb:
            return btnStopFreeDb_;
        case Source::Store:
            return btnStopStore_;
        case Source::MusicBrainz:
            break;
    }
    return btnStopMb_;
}

QLabel* LookupPages::status(Source source) const {
    switch (source) {
        case Source::FreeDb:
            return lbStatusFreeDb_;
        case Source::Store:
            return lbStatusStore_;
        case Source::MusicBrainz:
            break;
    }
    return lbStatusMb_;
}

bool LookupPages::eventFilter(QObject* watched, QEvent* event) {
    // A closed window must not go on waiting for a server.
    if (event->type() == QEvent::Hide && busy_)
        Stop();
    return QObject::eventFilter(watched, event);
}

void LookupPages::FillWords() {
    std::set<std::string> artists, albums;
    for (const BatchRow& row : model_->rows()) {
        artists.insert(row.data.Artist);
        albums.insert(row.data.Album);
    }
    auto fill = [](QComboBox* box, const std::set<std::string>& words) {
        box->clear();
        for (const std::string& w : words)
            box->addItem(Q(w));
        box->setCurrentIndex(words.empty() ? -1 : 0);
    };
    fill(cbAmazonArtist_, artists);
    fill(cbAmazonAlbum_, albums);
    fill(cbMbArtist_, artists);
    fill(cbMbAlbum_, albums);
    // Rows read again have no look-up values: a disc chosen earlier is gone.
    discs_.clear();
    albums_.clear();
    releases_.clear();
    discRead_ = false;
    releaseRead_ = false;
    cbDisk_->clear();
    cbAmazonDisk_->clear();
    cbMbRelease_->clear();
}

void LookupPages::ApplyProxy() {
    ProxySettings proxy;
    if (store_.ReadBool(QStringLiteral("flUseProxy"), false)) {
        proxy.host = S(store_.ReadString(QStringLiteral("Server")).trimmed());
        bool ok = false;
        const long port = store_.ReadString(QStringLiteral("Port")).trimmed().toLong(&ok);
        // A port that is not a number leaves the one used before.
        proxy.port = ok ? port : client_.Proxy().port;
        proxy.user = S(store_.ReadString(QStringLiteral("User")));
        proxy.password = S(store_.ReadString(QStringLiteral("Password")));
    }
    client_.SetProxy(std::move(proxy));
}

bool LookupPages::FreeDbSettings(cddb::Settings& settings) {
    settings.server = S(cbServer_->currentText().trimmed());
    if (settings.server.empty())
        settings.server = std::string(cddb::kDefaultServer);
    store_.WriteString(QStringLiteral("FreeDBServer"), Q(settings.server));
    settings.codepage =
        S(store_.ReadString(QStringLiteral("CodePage"), QStringLiteral("ISO-8859-1")));
    QString email = store_.ReadString(QStringLiteral("FreeDBEmail")).trimmed();
    if (!cddb::HelloFromEmail(S(email))) {
        // Asked once: a given address is kept in the options.
        email = askEmail ? askEmail().trimmed() : QString();
        if (!cddb::HelloFromEmail(S(email))) {
            Tell(email.isEmpty() ? shell::Message(sondrel::msg::kFreeDbNeedsEmail)
                                 : shell::Message(sondrel::msg::kNotAnEmail).arg(email));
            return false;
        }
        store_.WriteString(QStringLiteral("FreeDBEmail"), email);
        store_.Sync();
    }
    settings.email = S(email);
    return true;
}

void LookupPages::ClearNewValues() {
    for (BatchRow& row : model_->mutableRows()) {
        row.NewTrack.clear();
        row.NewTitle.clear();
        row.NewArtist.clear();
        row.NewAlbum.clear();
        row.NewYear.clear();
        row.NewComment.clear();
        row.NewGenre.clear();
        row.CoverUrl.clear();
    }
}

void LookupPages::SetBusy(bool busy) {
    busy_ = busy;
    stopped_ = stopped_ && busy;
    btnGetAlbum_->setEnabled(!busy);
    btnGetAmazon_->setEnabled(!busy);
    cbDisk_->setEnabled(!busy);
    cbAmazonDisk_->setEnabled(!busy);
    btnMbSearch_->setEnabled(!busy);
    btnMbToc_->setEnabled(!busy);
    cbMbRelease_->setEnabled(!busy);
    btnStopFreeDb_->setEnabled(busy);
    btnStopStore_->setEnabled(busy);
    btnStopMb_->setEnabled(busy);
    if (!busy) {
        lbStatusFreeDb_->clear();
        lbStatusStore_->clear();
        lbStatusMb_->clear();
    }
}

void LookupPages::Tell(const QString& message) {
    if (hooks_.showError)
        hooks_.showError(message);
    else
        QMessageBox::warning(qobject_cast<QWidget*>(parent()), tr("Look-up"), message);
}

void LookupPages::Stop() {
    stopped_ = true;
    worker_->StopAll();
}

void LookupPages::GetAlbumInfo() {
    if (busy_)
        return;
    discs_.clear();
    discRead_ = false;
    cbDisk_->clear();
    std::vector<std::int32_t> durations;
    for (const BatchRow& row : model_->rows()) {
        if (row.Checked)
            durations.push_back(row.data.Duration);
    }
    if (durations.empty() || durations.size() > cddb::kMaxTracks) {
        Tell(shell::Message(sondrel::msg::kSelectOneAlbum).arg(cddb::kMaxTracks));
        return;
    }
    const auto toc = cddb::MakeToc(durations);
    cddb::Settings settings;
    if (!toc || !FreeDbSettings(settings))
        return;
    ApplyProxy();
    SetBusy(true);
    const KeepGoing keepGoing = [this] { return !stopped_; };
    const cddb::QueryOutcome found = cddb::QueryDiscs(*worker_, settings, *toc, keepGoing);
    SetBusy(false);
    if (!found.ok) {
        Tell(Q(found.error));
        return;
    }
    discs_ = found.discs;
    for (const cddb::DiscChoice& d : discs_)
        cbDisk_->addItem(Q(d.text));
    cbDisk_->setCurrentIndex(0);
    ReadChosenDisc();
}

void LookupPages::ReadChosenDisc() {
    const int index = cbDisk_->currentIndex();
    if (busy_ || index < 0 || index >= static_cast<int>(discs_.size()))
        return;
    cddb::Settings settings;
    if (!FreeDbSettings(settings))
        return;
    ClearNewValues();
    ApplyProxy();
    SetBusy(true);
    const KeepGoing keepGoing = [this] { return !stopped_; };
    const cddb::ReadOutcome read =
        cddb::ReadDisc(*worker_, settings, discs_[static_cast<std::size_t>(index)], keepGoing);
    SetBusy(false);
    // A failed read still numbers the rows, with empty titles and artists.
    FillRowsFromDisc(model_->mutableRows(), read.ok ? read.disc : cddb::DiscInfo{},
                     hooks_.trackStyle ? hooks_.trackStyle() : kTrackStyleX);
    model_->valuesChanged();
    discRead_ = read.ok;
    if (!read.ok)
        Tell(Q(read.error));
}

void LookupPages::GetAlbums() {
    if (busy_)
        return;
    albums_.clear();
    cbAmazonDisk_->clear();
    const int site = std::clamp(cbAmazon_->currentIndex(), 0, 2);
    const QString host =
        store_
            .ReadString(QString::fromLatin1(kStoreHostKeys[site]),
                        Q(std::string(store::kDefaultHosts[static_cast<std::size_t>(site)])))
            .trimmed();
    ApplyProxy();
    SetBusy(true);
    const KeepGoing keepGoing = [this] { return !stopped_; };
    const store::SearchOutcome found =
        store::Search(*worker_, S(host), S(cbAmazonArtist_->currentText()),
                      S(cbAmazonAlbum_->currentText()), keepGoing);
    SetBusy(false);
    if (!found.ok) {
        cbDownloadAlbumCover_->setEnabled(false);
        Tell(Q(found.error));
        return;
    }
    albums_ = found.albums;
    for (const store::Album& a : albums_)
        cbAmazonDisk_->addItem(Q(a.ListText()));
    cbAmazonDisk_->setCurrentIndex(0);
    FillChosenAlbum();
}

void LookupPages::FillChosenAlbum() {
    const int index = cbAmazonDisk_->currentIndex();
    if (busy_ || index < 0 || index >= static_cast<int>(albums_.size()))
        return;
    const store::Album& album = albums_[static_cast<std::size_t>(index)];
    ClearNewValues();
    cbDownloadAlbumCover_->setEnabled(!album.coverUrl.empty());
    store::FillRowsFromAlbum(model_->mutableRows(), album,
                             hooks_.trackStyle ? hooks_.trackStyle() : kTrackStyleX);
    model_->valuesChanged();
}

musicbrainz::Settings LookupPages::MusicBrainzSettings() const {
    musicbrainz::Settings settings;
    settings.endpoint =
        EndpointOf(store_, QStringLiteral("MusicBrainzHost"), musicbrainz::kDefaultHost);
    settings.contact = S(store_.ReadString(QStringLiteral("FreeDBEmail")).trimmed());
    return settings;
}

web::Endpoint LookupPages::CoverArtEndpoint() const {
    return EndpointOf(store_, QStringLiteral("CoverArtHost"), coverart::kDefaultHost);
}

void LookupPages::SearchMusicBrainz() {
    if (busy_)
        return;
    releases_.clear();
    releaseRead_ = false;
    cbMbRelease_->clear();
    ApplyProxy();
    SetBusy(true);
    const KeepGoing keepGoing = [this] { return !stopped_; };
    const musicbrainz::ListOutcome found = musicbrainz::SearchReleases(
        *worker_, mbLimiter_ ? *mbLimiter_ : MusicBrainzLimiter(), MusicBrainzSettings(),
        S(cbMbArtist_->currentText().trimmed()), S(cbMbAlbum_->currentText().trimmed()), keepGoing);
    SetBusy(false);
    ShowReleases(found);
}

void LookupPages::LookUpMusicBrainzToc() {
    if (busy_)
        return;
    releases_.clear();
    releaseRead_ = false;
    cbMbRelease_->clear();
    std::vector<std::int32_t> durations;
    for (const BatchRow& row : model_->rows()) {
        if (row.Checked)
            durations.push_back(row.data.Duration);
    }
    const auto toc = durations.empty() || durations.size() > cddb::kMaxTracks
                         ? std::nullopt
                         : cddb::MakeToc(durations);
    if (!toc) {
        Tell(shell::Message(sondrel::msg::kSelectOneAlbum).arg(cddb::kMaxTracks));
        return;
    }
    ApplyProxy();
    SetBusy(true);
    const KeepGoing keepGoing = [this] { return !stopped_; };
    const musicbrainz::ListOutcome found =
        musicbrainz::LookUpToc(*worker_, mbLimiter_ ? *mbLimiter_ : MusicBrainzLimiter(),
                               MusicBrainzSettings(), *toc, keepGoing);
    SetBusy(false);
    ShowReleases(found);
}

void LookupPages::ShowReleases(const musicbrainz::ListOutcome& found) {
    if (!found.ok) {
        Tell(Q(found.error));
        return;
    }
    releases_ = found.entries;
    for (const musicbrainz::Entry& e : releases_)
        cbMbRelease_->addItem(Q(e.ListText()));
    cbMbRelease_->setCurrentIndex(0);
    ReadChosenRelease();
}

void LookupPages::ReadChosenRelease() {
    const int index = cbMbRelease_->currentIndex();
    if (busy_ || index < 0 || index >= static_cast<int>(releases_.size()))
        return;
    releaseRead_ = false;
    ClearNewValues();
    model_->valuesChanged();
    ApplyProxy();
    SetBusy(true);
    const KeepGoing keepGoing = [this] { return !stopped_; };
    const musicbrainz::ReleaseOutcome read = musicbrainz::ReadRelease(
        *worker_, mbLimiter_ ? *mbLimiter_ : MusicBrainzLimiter(), MusicBrainzSettings(),
        releases_[static_cast<std::size_t>(index)], keepGoing);
    SetBusy(false);
    if (!read.ok) {
        // Nothing is filled: a write needs the values of a medium read.
        Tell(Q(read.error));
        return;
    }
    musicbrainz::FillRowsFromEntry(
        model_->mutableRows(), read.entry, hooks_.trackStyle ? hooks_.trackStyle() : kTrackStyleX,
        coverart::FrontCoverUrl(CoverArtEndpoint().host, read.entry.releaseId));
    model_->valuesChanged();
    releaseRead_ = true;
}

void LookupPages::Write(Source source) {
    if (busy_ || model_->rowCount() == 0)
        return;
    const int albumIndex = cbAmazonDisk_->currentIndex();
    const bool store = source == Source::Store;
    const bool ready = source == Source::Store
                           ? albumIndex >= 0 && albumIndex < static_cast<int>(albums_.size())
                       : source == Source::FreeDb ? discRead_
                                                  : releaseRead_;
    if (!ready) {
        // Without a look-up the new values are empty: writing them would
        // blank the files' tags.
        Tell(shell::Message(sondrel::msg::kChooseBeforeWriting));
        return;
    }
    std::vector<BatchRow> rows = model_->rows();
    int ticked = 0;
    for (const BatchRow& row : rows)
        ticked += row.Checked ? 1 : 0;
    TagBridge bridge(hooks_.editorOptions ? hooks_.editorOptions() : EditorOptions{});
    ProgressSink* progress = hooks_.progress ? hooks_.progress() : nullptr;
    if (progress)
        progress->Start(ticked);
    // Downloaded covers live in a folder of this run only.
    std::unique_ptr<store::PictureFolder> folder;
    AfterSave afterSave;
    if (store && cbDownloadAlbumCover_->isChecked() && cbDownloadAlbumCover_->isEnabled()) {
        folder = std::make_unique<store::PictureFolder>();
        ApplyProxy();
        afterSave =
            store::CoverAdder(*worker_, *folder, albums_[static_cast<std::size_t>(albumIndex)]);
    } else if (source == Source::MusicBrainz && cbMbCover_->isChecked()) {
        folder = std::make_unique<store::PictureFolder>();
        ApplyProxy();
        afterSave =
            coverart::CoverArtAdder(*worker_, CoverArtEndpoint(),
                                    web::ServiceUserAgent(MusicBrainzSettings().contact), *folder);
    }
    SetBusy(true);
    // Stop does not interrupt the writing: every ticked file is written or
    // reported, and only a cover download is aborted.
    const LookupWriteResult result = WriteLookupRows(rows, bridge, afterSave, [progress] {
        if (progress)
            progress->Step();
    });
    SetBusy(false);
    folder.reset();
    if (progress) {
        progress->Finish();
        progress->RestoreMain(false);
    }
    discs_.clear();
    albums_.clear();
    releases_.clear();
    discRead_ = false;
    releaseRead_ = false;
    cbDisk_->clear();
    cbAmazonDisk_->clear();
    cbMbRelease_->clear();
    if (hooks_.afterWrite)
        hooks_.afterWrite();
    if (!result.failures.empty())
        Tell(FailureList(shell::Message(sondrel::msg::kCannotWriteTags), result.failures));
}
