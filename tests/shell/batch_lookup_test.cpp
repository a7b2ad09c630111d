// SPDX-License-Identifier: GPL-3.0-or-later
// The batch window's FreeDB, store and MusicBrainz pages driven offscreen against the
// local test server: look-ups fill the table, writing changes the files as
// previewed, every failure is a message that leaves the files untouched,
// and Stop or closing the window aborts a transfer.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <filesystem>

#include "media/http_worker.h"
#include "net/curl_http_client.h"
#include "net/fake_clock.h"
#include "net/musicbrainz.h"
#include "shell/batch_lookup_tabs.h"
#include "shell/batch_table_model.h"
#include "shell/batch_window.h"
#include "shell/main_window.h"
#include "shell/options_window.h"
#include "shell/settings_store.h"
#include "support/local_server.h"
#include "support/test_support.h"

#undef slots
#include "batch/batch_row.h"
#include "editor/format_registry.h"

namespace {

namespace fs = std::filesystem;
using sondrel::BatchRow;

// What the picture route of the local server sends for every cover.
const std::string kServedCover = "\xff\xd8\xff\xe0" + [] {
    std::string s;
    for (int i = 0; i < 10; ++i)
        s += "picture";
    return s;
}() + "\xff\xd9";

struct Fixture {
    explicit Fixture(std::vector<std::string> samples)
        : server(std::string(SONDREL_SOURCE_DIR) + "/tests/net/data") {
        store = std::make_unique<SettingsStore>(dir.filePath("settings.ini"));
        folder = dir.filePath("album").toStdString() + "/";
        fs::create_directories(folder);
        const fs::path from = std::string(SONDREL_SOURCE_DIR) + "/samples";
        for (const std::string& name : samples) {
            fs::copy_file(from / name, folder + name);
            names.push_back(name);
        }
    }
    BatchHost Host() {
        BatchHost host;
        host.selectedFiles = [this] {
            std::vector<sondrel::BatchFile> files;
            for (const std::string& name : names)
                files.push_back({folder, name, static_cast<std::int32_t>(files.size())});
            return files;
        };
        host.shownFolder = [this] { return QString::fromStdString(folder); };
        host.subfolderMode = [] { return false; };
        host.trackStyle = [] { return 1; };  // "0x"
        host.refreshList = [this] { ++refreshed; };
        return host;
    }
    std::unique_ptr<BatchWindow> Window(int page) {
        auto w = std::make_unique<BatchWindow>(*store, Host());
        w->showError = [this](const QString& m) { errors << m; };
        w->confirm = [](const QString&) { return true; };
        w->lookups()->askEmail = [this] {
            ++emailAsked;
            return emailAnswer;
        };
        w->OpenOn(page);
        return w;
    }
    std::vector<sondrel::test::Bytes> Contents() const {
        std::vector<sondrel::test::Bytes> all;
        for (const std::string& name : names)
            all.push_back(sondrel::test::ReadAll(folder + name));
        return all;
    }
    sondrel::TagFields Read(const std::string& name) {
        sondrel::TagBridge bridge;
        EXPECT_NE(bridge.Read(folder + name), sondrel::TagFormat::None) << name;
        return bridge.Hub();
    }

    QTemporaryDir dir;
    sondrel::test::LocalServer server;
    std::unique_ptr<SettingsStore> store;
    std::string folder;
    std::vector<std::string> names;
    QStringList errors;
    int refreshed = 0;
    int emailAsked = 0;
    QString emailAnswer = QStringLiteral("tester@example.org");
};

// Developer aid: SONDREL_SCREENSHOTS=<folder> keeps a picture of a filled page.
void Shot(QWidget& window, const char* name) {
    const QString folder = qEnvironmentVariable("SONDREL_SCREENSHOTS");
    if (!folder.isEmpty())
        window.grab().save(folder + "/" + name);
}

const std::vector<std::string> kThree = {"01 - Morning Tune.mp3", "02 - Evening Tune.ogg",
                                         "03 - Night Tune.wma"};

TEST(FreeDbPage, FillsTheTickedRowsAndWritesThemAsPreviewed) {
    Fixture f(kThree);
    ASSERT_TRUE(f.server.running());
    auto w = f.Window(BatchWindow::kPageFreeDb);
    LookupPages* look = w->lookups();
    ASSERT_EQ(w->model()->rowCount(), 3);
    look->cbServer()->setCurrentText(QString::fromStdString(f.server.url("/exact")));
    const auto before = f.Contents();

    look->GetAlbumInfo();
    EXPECT_TRUE(f.errors.isEmpty()) << f.errors.join("\n").toStdString();
    EXPECT_EQ(f.emailAsked, 1);
    EXPECT_EQ(f.store->ReadString("FreeDBEmail"), "tester@example.org");
    ASSERT_EQ(look->cbDisk()->count(), 1);
    EXPECT_EQ(look->cbDisk()->itemText(0), "rock 1a026c03 Artist / Album");
    struct Want {
        const char* track;
        const char* title;
        const char* artist;
    };
    const Want want[] = {
        {"01", "Song", "Guest"}, {"02", "Song 2", "Artist"}, {"03", "Song 3", "Artist"}};
    for (std::size_t i = 0; i < 3; ++i) {
        const BatchRow& row = w->model()->rows()[i];
        EXPECT_EQ(row.NewTrack, want[i].track) << i;
        EXPECT_EQ(row.NewTitle, want[i].title) << i;
        EXPECT_EQ(row.NewArtist, want[i].artist) << i;
        EXPECT_EQ(row.NewAlbum, "Album") << i;
        EXPECT_EQ(row.NewYear, "1999") << i;
        EXPECT_EQ(row.NewGenre, "Rock") << i;
    }
    EXPECT_EQ(f.Contents(), before) << "a look-up alone writes nothing";
    Shot(*w, "batch-freedb-filled.png");

    // The address is asked for once only.
    look->GetAlbumInfo();
    EXPECT_EQ(f.emailAsked, 1);

    const std::vector<BatchRow> previewed = w->model()->rows();
    w->RunAction();
    EXPECT_TRUE(f.errors.isEmpty()) << f.errors.join("\n").toStdString();
    for (std::size_t i = 0; i < 3; ++i) {
        const sondrel::TagFields hub = f.Read(f.names[i]);
        EXPECT_EQ(hub.title, previewed[i].NewTitle) << f.names[i];
        EXPECT_EQ(hub.artist, previewed[i].NewArtist) << f.names[i];
        EXPECT_EQ(hub.album, "Album") << f.names[i];
        EXPECT_EQ(hub.year, "1999") << f.names[i];
        EXPECT_EQ(sondrel::NormaliseTrack(hub.track, 1), previewed[i].NewTrack) << f.names[i];
    }
    // Afterwards: the list rescanned, the table read again on the first tab,
    // the disc list emptied.
    EXPECT_GE(f.refreshed, 1);
    EXPECT_EQ(w->pages()->currentIndex(), BatchWindow::kPageRename);
    EXPECT_EQ(look->cbDisk()->count(), 0);
    EXPECT_EQ(w->model()->rows()[0].data.Title, "Song");
}

TEST(FreeDbPage, AnUntickedRowIsNeitherCountedNorFilledNorWritten) {
    Fixture f(kThree);
    auto w = f.Window(BatchWindow::kPageFreeDb);
    f.store->WriteString("FreeDBEmail", "tester@example.org");
    // The echo server names the disc by the query it received.
    w->lookups()->cbServer()->setCurrentText(QString::fromStdString(f.server.url("/echo")));
    w->model()->tickRows({1}, BatchTableModel::Tick::Uncheck);
    w->lookups()->GetAlbumInfo();
    ASSERT_EQ(w->lookups()->cbDisk()->count(), 1);
    EXPECT_TRUE(w->lookups()->cbDisk()->itemText(0).contains(" 2 150 "))
        << w->lookups()->cbDisk()->itemText(0).toStdString();
    EXPECT_EQ(f.emailAsked, 0) << "a stored address is not asked for";
    EXPECT_TRUE(w->model()->rows()[1].NewTrack.empty());
    EXPECT_EQ(w->model()->rows()[2].NewTrack, "02");

    const auto before = sondrel::test::ReadAll(f.folder + f.names[1]);
    w->RunAction();
    EXPECT_EQ(sondrel::test::ReadAll(f.folder + f.names[1]), before);
}

TEST(FreeDbPage, EveryFailureIsAMessageAndLeavesTheFilesUntouched) {
    struct Case {
        const char* what;
        const char* server;  // a path on the local server, or an address as it is
        const char* email;
        const char* message;  // a part of the first message
    };
    const Case cases[] = {
        {"no disc found", "/none", "tester@example.org", "no disc matches"},
        {"server error", "/broken", "tester@example.org", "127.0.0.1"},
        {"nothing listening", "http://127.0.0.1:1", "tester@example.org", "127.0.0.1:1"},
        {"refused scheme", "file:///etc/passwd", "tester@example.org", "FreeDB"},
        {"no address given", "/exact", "", "e-mail address"},
        {"not an address", "/exact", "nobody", "not an e-mail address"},
    };
    for (const Case& c : cases) {
        Fixture f(kThree);
        f.emailAnswer = QString::fromLatin1(c.email);
        auto w = f.Window(BatchWindow::kPageFreeDb);
        const std::string server =
            c.server[0] == '/' ? f.server.url(c.server) : std::string(c.server);
        w->lookups()->cbServer()->setCurrentText(QString::fromStdString(server));
        const auto before = f.Contents();
        w->lookups()->GetAlbumInfo();
        ASSERT_EQ(f.errors.size(), 1) << c.what;
        EXPECT_TRUE(f.errors[0].contains(QString::fromLatin1(c.message)))
            << c.what << ": " << f.errors[0].toStdString();
        EXPECT_EQ(w->lookups()->cbDisk()->count(), 0) << c.what;
        // Writing with nothing looked up would blank the tags: refused.
        w->RunAction();
        ASSERT_EQ(f.errors.size(), 2) << c.what;
        EXPECT_EQ(f.Contents(), before) << c.what;
        EXPECT_TRUE(w->lookups()->btnGetAlbum()->isEnabled()) << c.what;
    }
}

TEST(FreeDbPage, GoesThroughTheProxyOfTheOptionsOnly) {
    Fixture f(kThree);
    f.store->WriteString("FreeDBEmail", "tester@example.org");
    auto w = f.Window(BatchWindow::kPageFreeDb);
    // A host that never resolves: only the local proxy can answer for it.
    w->lookups()->cbServer()->setCurrentText("http://freedb.example.invalid");
    w->lookups()->GetAlbumInfo();
    ASSERT_EQ(f.errors.size(), 1);
    EXPECT_TRUE(f.errors[0].contains("freedb.example.invalid")) << f.errors[0].toStdString();
    EXPECT_FALSE(f.errors[0].contains("proxied"));

    f.errors.clear();
    f.store->WriteBool("flUseProxy", true);
    f.store->WriteString("Server", "127.0.0.1");
    f.store->WriteString("Port", QString::number(f.server.port()));
    w->lookups()->GetAlbumInfo();
    ASSERT_EQ(f.errors.size(), 1);
    // The local proxy answered, naming the address it was asked for.
    EXPECT_TRUE(f.errors[0].contains("proxied http://freedb.example.invalid/~cddb/cddb.cgi"))
        << f.errors[0].toStdString();
}

TEST(StorePage, FillsFromTheChosenAlbumAndWritesWithCovers) {
    Fixture f({"01 - Morning Tune.mp3", "02 - Evening Tune.ogg", "03 - Night Tune.wma",
               "04 - Dawn Tune.m4a"});
    f.store->WriteString("StoreHostUS", QString::fromStdString(f.server.url("/store-two-items")));
    auto w = f.Window(BatchWindow::kPageAmazon);
    LookupPages* look = w->lookups();
    // The boxes offer the table's own artists and albums.
    ASSERT_GT(look->cbAmazonArtist()->count(), 0);
    look->cbAmazonArtist()->setCurrentText("Simon & Garfunkel");
    look->cbAmazonAlbum()->setCurrentText("Bridge");
    const auto before = f.Contents();

    look->GetAlbums();
    EXPECT_TRUE(f.errors.isEmpty()) << f.errors.join("\n").toStdString();
    ASSERT_EQ(look->cbAmazonDisk()->count(), 3);
    EXPECT_EQ(look->cbAmazonDisk()->itemText(0), "Simon & Garfunkel - Bridge: Over & Water");
    EXPECT_EQ(look->cbAmazonDisk()->itemText(2), "Band - Live CD2");
    EXPECT_TRUE(look->cbDownloadAlbumCover()->isEnabled());
    const auto& rows = w->model()->rows();
    EXPECT_EQ(rows[0].NewTitle, "Bridge Over Troubled Water");
    EXPECT_EQ(rows[2].NewTitle, "Cecilia");
    // Past the album's three tracks: numbered, without a title.
    EXPECT_EQ(rows[3].NewTrack, "04");
    EXPECT_EQ(rows[3].NewTitle, "");
    EXPECT_EQ(rows[3].NewYear, "1970");
    Shot(*w, "batch-store-filled.png");

    // Another disc: its own tracks, no cover address.
    look->cbAmazonDisk()->setCurrentIndex(2);
    look->FillChosenAlbum();
    EXPECT_EQ(rows[0].NewTitle, "Encore");
    EXPECT_EQ(rows[0].NewAlbum, "Live CD2");
    EXPECT_FALSE(look->cbDownloadAlbumCover()->isEnabled());
    EXPECT_EQ(f.Contents(), before);

    look->cbAmazonDisk()->setCurrentIndex(0);
    look->FillChosenAlbum();
    std::map<std::string, int> picturesBefore;
    for (const std::string& name : f.names) {
        sondrel::TagBridge bridge;
        bridge.Read(f.folder + name);
        const sondrel::FormatHandler* h = sondrel::HandlerOfPath(f.folder + name);
        picturesBefore[name] = h->HoldsPictures() ? h->PictureCount(bridge) : 0;
    }
    w->RunAction();
    EXPECT_TRUE(f.errors.isEmpty()) << f.errors.join("\n").toStdString();
    for (const std::string& name : f.names) {
        const std::string path = f.folder + name;
        sondrel::TagBridge bridge;
        ASSERT_NE(bridge.Read(path), sondrel::TagFormat::None) << name;
        EXPECT_EQ(bridge.Hub().album, "Bridge: Over & Water") << name;
        EXPECT_EQ(bridge.Hub().artist, "Simon & Garfunkel") << name;
        const sondrel::FormatHandler* h = sondrel::HandlerOfPath(path);
        if (!h->HoldsPictures()) {
            EXPECT_EQ(name.substr(name.size() - 4), ".ogg");
            continue;
        }
        ASSERT_TRUE(h->LoadPictures(bridge, path).empty()) << name;
        ASSERT_EQ(h->PictureCount(bridge), picturesBefore[name] + 1) << name;
        // The cover is the first picture, byte for byte what the server sent.
        const std::string out = f.dir.filePath("cover-out").toStdString() + name;
        ASSERT_TRUE(h->ExtractPicture(bridge, 0, out).empty()) << name;
        EXPECT_EQ(sondrel::test::ReadAll(out),
                  sondrel::test::Bytes(kServedCover.begin(), kServedCover.end()))
            << name;
    }
}

TEST(StorePage, AFailedSearchIsAMessageAndLeavesTheFilesUntouched) {
    struct Case {
        const char* what;
        const char* host;
        const char* message;
    };
    const Case cases[] = {
        {"no usable item", "/store-empty", "no album"},
        {"no recording", "/store-missing", "127.0.0.1"},
        {"nothing listening", "http://127.0.0.1:1", "did not answer"},
    };
    for (const Case& c : cases) {
        Fixture f(kThree);
        const std::string host = c.host[0] == '/' ? f.server.url(c.host) : std::string(c.host);
        f.store->WriteString("StoreHostUS", QString::fromStdString(host));
        auto w = f.Window(BatchWindow::kPageAmazon);
        w->lookups()->cbAmazonArtist()->setCurrentText("Nobody");
        w->lookups()->cbAmazonAlbum()->setCurrentText("Nothing");
        const auto before = f.Contents();
        w->lookups()->GetAlbums();
        ASSERT_EQ(f.errors.size(), 1) << c.what;
        EXPECT_TRUE(f.errors[0].contains(QString::fromLatin1(c.message)))
            << c.what << ": " << f.errors[0].toStdString();
        EXPECT_EQ(w->lookups()->cbAmazonDisk()->count(), 0) << c.what;
        w->RunAction();
        EXPECT_EQ(f.errors.size(), 2) << c.what;
        EXPECT_EQ(f.Contents(), before) << c.what;
    }
}

TEST(LookupPages, StopOrClosingTheWindowAbortsATransferAndTheWindowStaysLive) {
    using Source = LookupPages::Source;
    struct Case {
        const char* what;
        Source source;
        bool byClosing;
    };
    const Case cases[] = {
        {"FreeDB, Stop", Source::FreeDb, false},
        {"FreeDB, closing", Source::FreeDb, true},
        {"store, Stop", Source::Store, false},
        {"store, closing", Source::Store, true},
        {"MusicBrainz, Stop", Source::MusicBrainz, false},
        {"MusicBrainz, closing", Source::MusicBrainz, true},
    };
    for (const Case& c : cases) {
        Fixture f(kThree);
        f.store->WriteString("FreeDBEmail", "tester@example.org");
        // The slow route keeps the connection open and silent for 30 s.
        f.store->WriteString("StoreHostUS", QString::fromStdString(f.server.url("/slow")));
        f.store->WriteString("MusicBrainzHost", QString::fromStdString(f.server.url("/slow")));
        auto w = f.Window(c.source == Source::Store         ? BatchWindow::kPageAmazon
                          : c.source == Source::MusicBrainz ? BatchWindow::kPageMusicBrainz
                                                            : BatchWindow::kPageFreeDb);
        LookupPages* look = w->lookups();
        look->cbServer()->setCurrentText(QString::fromStdString(f.server.url("/slow")));
        bool sawBusy = false;
        QTimer::singleShot(300, w.get(), [&] {
            sawBusy = look->Busy() && look->btnStop(c.source)->isEnabled() &&
                      !look->btnGetAlbum()->isEnabled() && !look->btnMbSearch()->isEnabled();
            if (c.byClosing)
                w->close();
            else
                look->btnStop(c.source)->click();
        });
        const auto before = f.Contents();
        QElapsedTimer clock;
        clock.start();
        if (c.source == Source::Store)
            look->GetAlbums();
        else if (c.source == Source::MusicBrainz)
            look->SearchMusicBrainz();
        else
            look->GetAlbumInfo();
        EXPECT_LT(clock.elapsed(), 10000) << c.what;
        EXPECT_TRUE(sawBusy) << c.what;
        EXPECT_FALSE(look->Busy()) << c.what;
        EXPECT_TRUE(look->btnGetAlbum()->isEnabled()) << c.what;
        EXPECT_TRUE(look->btnMbSearch()->isEnabled()) << c.what;
        EXPECT_FALSE(look->btnStop(c.source)->isEnabled()) << c.what;
        ASSERT_EQ(f.errors.size(), 1) << c.what;
        EXPECT_TRUE(f.errors[0].contains("stopped")) << c.what << ": " << f.errors[0].toStdString();
        EXPECT_EQ(f.Contents(), before) << c.what;
    }
}

TEST(LookupOptions, DefaultsAndRoundTrip) {
    QTemporaryDir dir;
    SettingsStore store(dir.filePath("s.ini"));
    {
        OptionsWindow options(store);
        options.LoadSettings();
        EXPECT_EQ(options.FreeDbServer(), "https://gnudb.gnudb.org");
        EXPECT_EQ(options.FreeDbEmail(), "");
        EXPECT_EQ(options.StoreHost(0), "webservices.amazon.com");
        EXPECT_EQ(options.StoreHost(1), "webservices.amazon.co.uk");
        EXPECT_EQ(options.StoreHost(2), "webservices.amazon.de");
        EXPECT_EQ(options.ServiceHost(0), "https://musicbrainz.org");
        EXPECT_EQ(options.ServiceHost(1), "https://coverartarchive.org");
        EXPECT_EQ(options.ServiceHost(2), "https://lrclib.net");
        options.findChild<QLineEdit*>("edMusicBrainzHost")->setText(" http://127.0.0.1:5000 ");
        options.findChild<QLineEdit*>("edLrclibHost")->setText("");
        // A server typed in, the address, a host of one's own; an emptied
        // host box means the default again.
        options.findChild<QComboBox*>("cbFreeDB")->setCurrentText(" http://127.0.0.1:8880 ");
        options.findChild<QLineEdit*>("edFreeDBEmail")->setText("me@example.org");
        options.findChild<QLineEdit*>("edStoreHost1")->setText("store.example.org");
        options.findChild<QLineEdit*>("edStoreHost2")->setText("");
        options.SaveSettings();
    }
    OptionsWindow back(store);
    back.LoadSettings();
    EXPECT_EQ(back.FreeDbServer(), "http://127.0.0.1:8880");
    EXPECT_EQ(back.FreeDbEmail(), "me@example.org");
    EXPECT_EQ(back.StoreHost(0), "webservices.amazon.com");
    EXPECT_EQ(back.StoreHost(1), "store.example.org");
    EXPECT_EQ(back.StoreHost(2), "webservices.amazon.de");
    EXPECT_EQ(store.ReadString("StoreHostUK"), "store.example.org");
    EXPECT_EQ(back.ServiceHost(0), "http://127.0.0.1:5000");
    EXPECT_EQ(store.ReadString("MusicBrainzHost"), "http://127.0.0.1:5000");
    EXPECT_EQ(back.ServiceHost(1), "https://coverartarchive.org");
    EXPECT_EQ(back.ServiceHost(2), "https://lrclib.net");

    // The batch window's server box starts from the stored server.
    BatchWindow batch(store, BatchHost{});
    EXPECT_EQ(batch.lookups()->cbServer()->currentText(), "http://127.0.0.1:8880");
}

TEST(LookupOptions, TheAddressAskedByALookUpAppearsInTheOptions) {
    Fixture f(kThree);
    OptionsWindow options(*f.store);
    options.LoadSettings();
    EXPECT_EQ(options.FreeDbEmail(), "");
    auto w = f.Window(BatchWindow::kPageFreeDb);
    w->lookups()->cbServer()->setCurrentText(QString::fromStdString(f.server.url("/exact")));
    w->lookups()->GetAlbumInfo();
    ASSERT_EQ(f.emailAsked, 1);
    options.show();
    EXPECT_EQ(options.FreeDbEmail(), "tester@example.org");
    // Saving the options keeps it.
    options.SaveSettings();
    EXPECT_EQ(f.store->ReadString("FreeDBEmail"), "tester@example.org");
    options.hide();
}

TEST(LookupPages, TheMainWindowsLookUpCommandsOpenTheirPages) {
    QTemporaryDir dir;
    SettingsStore store(dir.filePath("settings.ini"));
    MainWindow main(store);
    struct Case {
        const char* command;
        int page;
    };
    for (const Case c : {Case{"actFreeDB", BatchWindow::kPageFreeDb},
                         Case{"actAmazon", BatchWindow::kPageAmazon}}) {
        QAction* command = main.action(c.command);
        ASSERT_TRUE(command);
        ASSERT_TRUE(command->isEnabled()) << c.command;
        command->trigger();
        BatchWindow* w = main.batchWindow();
        EXPECT_TRUE(w->isVisible()) << c.command;
        EXPECT_EQ(w->pages()->currentIndex(), c.page) << c.command;
        EXPECT_EQ(w->btnRename()->text(), "&Get data") << c.command;
        w->close();
    }
}

// The requests the local server saw, one "User-Agent path" a line.
std::vector<std::string> RequestLog(const sondrel::test::LocalServer& server) {
    sondrel::net::CurlHttpClient client;
    sondrel::net::HttpRequest request;
    request.url = server.url("/requests");
    const sondrel::net::HttpResponse got = client.Fetch(request);
    EXPECT_TRUE(got.ok) << got.error;
    std::vector<std::string> lines;
    std::string line;
    for (const char c : got.body) {
        if (c != '\n') {
            line += c;
            continue;
        }
        lines.push_back(line);
        line.clear();
    }
    return lines;
}

// A MusicBrainz page on the local stand-ins, its requests paced by a
// clock that never sleeps.
struct MbFixture : Fixture {
    explicit MbFixture(const std::string& mbPrefix = "/mb") : Fixture(kThree) {
        store->WriteString("FreeDBEmail", "tester@example.org");
        store->WriteString("MusicBrainzHost", QString::fromStdString(server.url(mbPrefix)));
        store->WriteString("CoverArtHost", QString::fromStdString(server.url("/caa")));
    }
    std::unique_ptr<BatchWindow> MbWindow() {
        auto w = Window(BatchWindow::kPageMusicBrainz);
        w->lookups()->setMusicBrainzLimiter(&limiter);
        return w;
    }
    sondrel::test::FakeClock clock;
    sondrel::net::RateLimiter limiter{clock, sondrel::net::musicbrainz::kRequestGap};
};

TEST(MusicBrainzPage, ListsEachMediumFillsTheTickedRowsAndWritesTagsAndCover) {
    MbFixture f;
    ASSERT_TRUE(f.server.running());
    auto w = f.MbWindow();
    LookupPages* look = w->lookups();
    ASSERT_EQ(w->model()->rowCount(), 3);
    ASSERT_GT(look->cbMbArtist()->count(), 0) << "the boxes offer the table's own words";
    look->cbMbArtist()->setCurrentText("Artist");
    look->cbMbAlbum()->setCurrentText("Two Sides");
    const auto before = f.Contents();

    look->SearchMusicBrainz();
    EXPECT_TRUE(f.errors.isEmpty()) << f.errors.join("\n").toStdString();
    ASSERT_EQ(look->cbMbRelease()->count(), 3);
    EXPECT_EQ(look->cbMbRelease()->itemText(0),
              "Artist & Partner - Two Sides (CD 1) (1999, Label One, 3 tracks)");
    EXPECT_EQ(look->cbMbRelease()->itemText(1),
              "Artist & Partner - Two Sides (CD 2) (1999, Label One, 2 tracks)");
    EXPECT_EQ(look->cbMbRelease()->itemText(2), "Artist - Single Side (2003, 3 tracks)");
    // The first medium is read at once.
    struct Want {
        const char* track;
        const char* title;
        const char* artist;
    };
    const Want first[] = {{"01", "Opening", "Artist feat. Guest"},
                          {"02", "Middle Part\r\nTwo", "Artist & Partner"},
                          {"03", "", ""}};
    const auto& rows = w->model()->rows();
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(rows[i].NewTrack, first[i].track) << i;
        EXPECT_EQ(rows[i].NewAlbum, "Two Sides") << i;
        EXPECT_EQ(rows[i].NewYear, "1999") << i;
        EXPECT_EQ(rows[i].NewGenre, "Rock") << i;
    }
    EXPECT_EQ(rows[0].NewTitle, first[0].title);
    EXPECT_EQ(rows[0].NewArtist, first[0].artist);

    // The second medium: its own two tracks, the third row numbered only.
    look->cbMbRelease()->setCurrentIndex(1);
    look->ReadChosenRelease();
    EXPECT_TRUE(f.errors.isEmpty()) << f.errors.join("\n").toStdString();
    EXPECT_EQ(rows[0].NewTitle, "Side Two Opening");
    EXPECT_EQ(rows[1].NewTitle, "Side Two Closing");
    EXPECT_EQ(rows[2].NewTrack, "03");
    EXPECT_EQ(rows[2].NewTitle, "");
    EXPECT_EQ(f.Contents(), before) << "a look-up alone writes nothing";
    // Search, read, read: one turn a second, on the injected clock.
    EXPECT_EQ(f.clock.Offsets(), (std::vector<double>{0, 1, 2}));
    Shot(*w, "batch-musicbrainz-filled.png");

    // Untick the last row: it keeps its file as it was.
    look->cbMbRelease()->setCurrentIndex(0);
    look->ReadChosenRelease();
    w->model()->mutableRows()[2].Checked = false;
    look->ReadChosenRelease();
    EXPECT_TRUE(rows[2].NewTitle.empty());
    look->cbMbCover()->setChecked(true);
    const std::vector<BatchRow> previewed = w->model()->rows();
    w->RunAction();
    EXPECT_TRUE(f.errors.isEmpty()) << f.errors.join("\n").toStdString();
    EXPECT_EQ(f.Contents()[2], before[2]) << "an unticked row is not written";
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string& name = f.names[i];
        const std::string path = f.folder + name;
        sondrel::TagBridge bridge;
        ASSERT_NE(bridge.Read(path), sondrel::TagFormat::None) << name;
        const sondrel::TagFields& hub = bridge.Hub();
        EXPECT_EQ(hub.title, previewed[i].NewTitle) << name;
        EXPECT_EQ(hub.artist, previewed[i].NewArtist) << name;
        EXPECT_EQ(hub.album, "Two Sides") << name;
        EXPECT_EQ(hub.year, "1999") << name;
        EXPECT_EQ(sondrel::NormaliseTrack(hub.track, 1), previewed[i].NewTrack) << name;
        const sondrel::FormatHandler* h = sondrel::HandlerOfPath(path);
        if (!h->HoldsPictures())
            continue;
        ASSERT_TRUE(h->LoadPictures(bridge, path).empty()) << name;
        ASSERT_GE(h->PictureCount(bridge), 1) << name;
        const std::string out = f.dir.filePath("cover-out").toStdString() + name;
        ASSERT_TRUE(h->ExtractPicture(bridge, 0, out).empty()) << name;
        EXPECT_EQ(sondrel::test::ReadAll(out),
                  sondrel::test::Bytes(kServedCover.begin(), kServedCover.end()))
            << name;
    }
    EXPECT_EQ(look->cbMbRelease()->count(), 0) << "the list is emptied by the write";

    // Every request named the program and the user's address; the cover was
    // fetched once for the two files.
    int covers = 0;
    for (const std::string& line : RequestLog(f.server)) {
        if (!qEnvironmentVariable("SONDREL_REQUEST_LOG").isEmpty())
            std::printf("%s\n", line.c_str());
        EXPECT_EQ(line.rfind("Sondrel/", 0), 0u) << line;
        EXPECT_NE(line.find(" ( tester@example.org ) /"), std::string::npos) << line;
        covers += line.find("/caa/release/") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(covers, 1);
}

TEST(MusicBrainzPage, LooksUpTheTickedRowsTableOfContents) {
    MbFixture f;
    auto w = f.MbWindow();
    LookupPages* look = w->lookups();
    look->LookUpMusicBrainzToc();
    EXPECT_TRUE(f.errors.isEmpty()) << f.errors.join("\n").toStdString();
    // The stand-in knows discs of three tracks: the media of three tracks match.
    ASSERT_EQ(look->cbMbRelease()->count(), 2);
    EXPECT_TRUE(look->cbMbRelease()->itemText(0).contains("Two Sides (CD 1)"));
    EXPECT_TRUE(look->cbMbRelease()->itemText(1).contains("Single Side"));
    EXPECT_EQ(w->model()->rows()[0].NewTitle, "Opening");
    look->cbMbRelease()->setCurrentIndex(1);
    look->ReadChosenRelease();
    EXPECT_EQ(w->model()->rows()[2].NewTitle, "Three");
    EXPECT_EQ(w->model()->rows()[2].NewAlbum, "Single Side");
    bool sawToc = false;
    for (const std::string& line : RequestLog(f.server))
        sawToc = sawToc || line.find("/mb/ws/2/discid/-?toc=1%203%20") != std::string::npos ||
                 line.find("/mb/ws/2/discid/-?toc=1+3+") != std::string::npos;
    EXPECT_TRUE(sawToc);

    // Without ticked rows there is no table of contents to ask for.
    for (BatchRow& row : w->model()->mutableRows())
        row.Checked = false;
    look->LookUpMusicBrainzToc();
    ASSERT_EQ(f.errors.size(), 1);
    EXPECT_EQ(look->cbMbRelease()->count(), 0);
}

TEST(MusicBrainzPage, A503IsWaitedForOnTheQueueAndFailuresLeaveTheFilesUntouched) {
    {
        // The first request of each address is answered 503, Retry-After 2.
        MbFixture f("/mb-busy");
        auto w = f.MbWindow();
        w->lookups()->cbMbArtist()->setCurrentText("Artist");
        w->lookups()->SearchMusicBrainz();
        EXPECT_TRUE(f.errors.isEmpty()) << f.errors.join("\n").toStdString();
        EXPECT_EQ(w->lookups()->cbMbRelease()->count(), 3);
        // search 503, search again 2 s later, the release 503, again 2 s later.
        EXPECT_EQ(f.clock.Offsets(), (std::vector<double>{0, 2, 3, 5}));
    }
    struct Case {
        const char* what;
        const char* prefix;
        const char* message;
    };
    const Case cases[] = {
        {"asks for an hour", "/mb-busy-long", "3600"},
        {"HTML instead of JSON", "/mb-garbage", "127.0.0.1"},
        {"over the size cap", "/mb-huge", "127.0.0.1"},
        {"nothing listening", "http://127.0.0.1:1", "127.0.0.1"},
    };
    for (const Case& c : cases) {
        const std::string prefix = c.prefix;
        MbFixture f(prefix.rfind("http", 0) == 0 ? "" : prefix);
        if (prefix.rfind("http", 0) == 0)
            f.store->WriteString("MusicBrainzHost", QString::fromStdString(prefix));
        auto w = f.MbWindow();
        const auto before = f.Contents();
        w->lookups()->cbMbArtist()->setCurrentText("Artist");
        w->lookups()->SearchMusicBrainz();
        ASSERT_EQ(f.errors.size(), 1) << c.what;
        EXPECT_TRUE(f.errors[0].contains(QString::fromLatin1(c.message)))
            << c.what << ": " << f.errors[0].toStdString();
        EXPECT_EQ(w->lookups()->cbMbRelease()->count(), 0) << c.what;
        // Nothing was read: the action button writes nothing and says why.
        w->RunAction();
        EXPECT_EQ(f.errors.size(), 2) << c.what;
        EXPECT_EQ(f.Contents(), before) << c.what;
    }
}

}  // namespace
