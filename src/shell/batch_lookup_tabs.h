// SPDX-License-Identifier: GPL-3.0-or-later
// The batch window's look-up pages: FreeDB (the disc of the ticked rows,
// found from their durations), the store search (albums by artist and
// album words) and MusicBrainz (releases by words or by the rows' table of
// contents, one entry per medium, the front cover from the Cover Art
// Archive). All fill the new values of the ticked rows and write them
// through the same loop (net/lookup_rows). Transfers run on a worker
// thread, so the window stays responsive; Stop, or hiding the window, aborts
// them. Servers, the e-mail address and the proxy come from the settings.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "editor/format_bridge.h"
#include "net/cddb.h"
#include "net/curl_http_client.h"
#include "net/musicbrainz.h"
#include "net/rate_limiter.h"
#include "net/store_lookup.h"

class BatchTableModel;
class HttpWorker;
class ProgressSink;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QWidget;
class SettingsStore;

// What the pages need from the batch window.
struct LookupHooks {
    std::function<int()> trackStyle;
    std::function<sondrel::EditorOptions()> editorOptions;
    std::function<ProgressSink*()> progress;
    std::function<void(const QString& message)> showError;
    // After a write: the main list and the table are read again.
    std::function<void()> afterWrite;
};

class LookupPages : public QObject {
    Q_OBJECT
public:
    enum class Source { FreeDb, Store, MusicBrainz };

    // Builds the controls into the three (empty) pages; `window` is watched
    // so that hiding it stops a running transfer.
    LookupPages(SettingsStore& store, BatchTableModel* model, QWidget* freeDbPage,
                QWidget* storePage, QWidget* musicBrainzPage, LookupHooks hooks, QWidget* window);
    ~LookupPages() override;

    // Asks for the user's e-mail address the first time FreeDB needs it
    // (empty: cancelled); tests replace it.
    std::function<QString()> askEmail;

    // "Get album info": the disc list from the server, then the first disc read.
    void GetAlbumInfo();
    // The disc chosen in the list: its values into the ticked rows.
    void ReadChosenDisc();
    // "Get albums": the store's album list, then the first album filled in.
    void GetAlbums();
    // The album chosen in the list: its values into the ticked rows.
    void FillChosenAlbum();
    // "Search": MusicBrainz releases by the artist and album boxes, then the
    // first entry read.
    void SearchMusicBrainz();
    // "Look up by TOC": the releases whose medium has the ticked rows' table
    // of contents (as FreeDB computes it), then the first entry read.
    void LookUpMusicBrainzToc();
    // The entry chosen in the list: its medium read and filled into the rows.
    void ReadChosenRelease();
    // The action button of a look-up page.
    void Write(Source source);
    // Aborts the running transfer.
    void Stop();
    bool Busy() const { return busy_; }

    HttpWorker* worker() const { return worker_; }
    QComboBox* cbServer() const { return cbServer_; }
    QPushButton* btnGetAlbum() const { return btnGetAlbum_; }
    QComboBox* cbDisk() const { return cbDisk_; }
    QComboBox* cbAmazonArtist() const { return cbAmazonArtist_; }
    QComboBox* cbAmazonAlbum() const { return cbAmazonAlbum_; }
    QComboBox* cbAmazon() const { return cbAmazon_; }
    QPushButton* btnGetAmazon() const { return btnGetAmazon_; }
    QComboBox* cbAmazonDisk() const { return cbAmazonDisk_; }
    QCheckBox* cbDownloadAlbumCover() const { return cbDownloadAlbumCover_; }
    QComboBox* cbMbArtist() const { return cbMbArtist_; }
    QComboBox* cbMbAlbum() const { return cbMbAlbum_; }
    QPushButton* btnMbSearch() const { return btnMbSearch_; }
    QPushButton* btnMbToc() const { return btnMbToc_; }
    QComboBox* cbMbRelease() const { return cbMbRelease_; }
    QCheckBox* cbMbCover() const { return cbMbCover_; }
    QPushButton* btnStop(Source source) const;
    QLabel* status(Source source) const;

    // MusicBrainz requests queue here: the program's one limiter unless a
    // test gives its own (with an injected clock).
    void setMusicBrainzLimiter(sondrel::net::RateLimiter* limiter) { mbLimiter_ = limiter; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildFreeDb(QWidget* page);
    void BuildStore(QWidget* page);
    void BuildMusicBrainz(QWidget* page);
    sondrel::net::musicbrainz::Settings MusicBrainzSettings() const;
    sondrel::net::web::Endpoint CoverArtEndpoint() const;
    // The entries of a search or TOC look-up into the list, the first read.
    void ShowReleases(const sondrel::net::musicbrainz::ListOutcome& found);
    // The artist and album boxes from the rows just read.
    void FillWords();
    void ApplyProxy();
    // The FreeDB settings, asking for the e-mail address when it is missing;
    // false when the look-up cannot go out.
    bool FreeDbSettings(sondrel::net::cddb::Settings& settings);
    void ClearNewValues();
    void SetBusy(bool busy);
    void Tell(const QString& message);

    SettingsStore& store_;
    BatchTableModel* model_;
    LookupHooks hooks_;
    sondrel::net::CurlHttpClient client_;
    HttpWorker* worker_ = nullptr;
    std::vector<sondrel::net::cddb::DiscChoice> discs_;
    std::vector<sondrel::net::store::Album> albums_;
    std::vector<sondrel::net::musicbrainz::Entry> releases_;
    sondrel::net::RateLimiter* mbLimiter_ = nullptr;
    bool discRead_ = false;
    bool releaseRead_ = false;
    bool busy_ = false;
    bool stopped_ = false;

    QComboBox* cbServer_ = nullptr;
    QPushButton* btnGetAlbum_ = nullptr;
    QComboBox* cbDisk_ = nullptr;
    QPushButton* btnStopFreeDb_ = nullptr;
    QLabel* lbStatusFreeDb_ = nullptr;
    QComboBox* cbAmazonArtist_ = nullptr;
    QComboBox* cbAmazonAlbum_ = nullptr;
    QComboBox* cbAmazon_ = nullptr;
    QPushButton* btnGetAmazon_ = nullptr;
    QComboBox* cbAmazonDisk_ = nullptr;
    QCheckBox* cbDownloadAlbumCover_ = nullptr;
    QPushButton* btnStopStore_ = nullptr;
    QLabel* lbStatusStore_ = nullptr;
    QComboBox* cbMbArtist_ = nullptr;
    QComboBox* cbMbAlbum_ = nullptr;
    QPushButton* btnMbSearch_ = nullptr;
    QPushButton* btnMbToc_ = nullptr;
    QComboBox* cbMbRelease_ = nullptr;
    QCheckBox* cbMbCover_ = nullptr;
    QPushButton* btnStopMb_ = nullptr;
    QLabel* lbStatusMb_ = nullptr;
};
