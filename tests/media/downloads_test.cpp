// SPDX-License-Identifier: GPL-3.0-or-later
// The lyrics and pictures windows on the real client through the worker:
// a slow server does not freeze them, closing the window ends the download
// with the file left as it was, and the open services' stand-ins (MusicBrainz,
// the Cover Art Archive, LRCLIB) give covers and lyrics.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>
#include <algorithm>
#include <filesystem>

#include "editor/format_registry.h"
#include "editor/tag_jobs.h"
#include "media/http_worker.h"
#include "media/lyrics_window.h"
#include "media/pictures_window.h"
#include "media/test_host.h"
#include "net/curl_http_client.h"
#include "net/fake_clock.h"
#include "net/musicbrainz.h"
#include "support/local_server.h"
#include "support/test_support.h"
#include "tags/id3v2.h"

namespace sondrel {
namespace {

TEST(Downloads, ClosingTheWindowStopsASlowDownloadAndLeavesTheFile) {
    test::LocalServer server;
    ASSERT_TRUE(server.running());
    net::CurlHttpClient curl;
    HttpWorker worker(curl);
    for (const bool lyrics : {true, false}) {
        const char* what = lyrics ? "lyrics" : "pictures";
        test::TempDir dir;
        const std::string mp3 = dir.file("a.mp3");
        std::filesystem::copy_file(
            std::string(SONDREL_SOURCE_DIR) + "/samples/01 - Morning Tune.mp3", mp3);
        const test::Bytes before = test::ReadAll(mp3);
        test::TestHost host;
        host.ShowFile(mp3);
        std::unique_ptr<QWidget> window;
        std::function<void()> download;
        std::vector<QString> messages;
        // Every address the windows ask lies under the slow route.
        const std::string slow = server.url("/slow");
        if (lyrics) {
            auto w = std::make_unique<LyricsWindow>(&host, &worker);
            w->cbLyricsSource()->setCurrentIndex(LyricsWindow::kLyricsFromWeb);
            net::LyricsSettings settings;
            settings.searchBase = slow;
            w->setSearchSettings(settings);
            w->showMessage = [&](const QString& m) { messages.push_back(m); };
            download = [p = w.get()] { p->btnDownloadClick(); };
            window = std::move(w);
        } else {
            auto w = std::make_unique<PicturesWindow>(&host, &worker);
            w->cbCoverSource()->setCurrentIndex(PicturesWindow::kCoverFromStore);
            net::CoverSettings settings;
            settings.storeBaseTemplate = slow + "/%s";
            w->setCoverSettings(settings);
            w->showMessage = [&](const QString& m) { messages.push_back(m); };
            download = [p = w.get()] { p->btnDownloadClick(); };
            window = std::move(w);
        }
        window->show();
        bool closedDuringTransfer = false;
        QTimer::singleShot(300, window.get(), [&] {
            closedDuringTransfer = worker.Running() == 1;
            window->close();
        });
        QElapsedTimer clock;
        clock.start();
        download();
        EXPECT_TRUE(closedDuringTransfer) << what;
        EXPECT_LT(clock.elapsed(), 10000) << what;
        EXPECT_EQ(worker.Running(), 0) << what;
        EXPECT_EQ(test::ReadAll(mp3), before) << what;
        if (!lyrics) {
            const auto* pictures = static_cast<PicturesWindow*>(window.get());
            ASSERT_EQ(pictures->Failures().size(), 1u) << what;
            EXPECT_EQ(pictures->Failures()[0].first, mp3);
        }
    }
}

std::string DataDir() {
    return std::string(SONDREL_SOURCE_DIR) + "/tests/net/data";
}

// A copy of the MP3 sample in `dir` under `name`, given `title` and `album`.
std::string Mp3Titled(const test::TempDir& dir, const std::string& name, const std::string& title,
                      const std::string& album = "Test Album") {
    const std::string path = dir.file(name);
    std::filesystem::copy_file(std::string(SONDREL_SOURCE_DIR) + "/samples/01 - Morning Tune.mp3",
                               path);
    TagBridge bridge;
    FieldEdits edits;
    edits[Field::Title] = title;
    edits[Field::Artist] = "Test Artist";
    edits[Field::Album] = album;
    const JobItem item{0, path, true};
    EXPECT_EQ(SaveEditsToFiles(bridge, std::span(&item, 1), edits, {}), 1) << path;
    return path;
}

// The requests the local server saw, one "User-Agent path" a line.
std::vector<std::string> RequestLog(const test::LocalServer& server) {
    net::CurlHttpClient client;
    net::HttpRequest request;
    request.url = server.url("/requests");
    const net::HttpResponse got = client.Fetch(request);
    EXPECT_TRUE(got.ok) << got.error;
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t end; (end = got.body.find('\n', from)) != std::string::npos; from = end + 1)
        lines.push_back(got.body.substr(from, end - from));
    return lines;
}

std::vector<id3v2::SyncedLyrics> ReadSylt(const std::string& path) {
    Id3v2Tag tag;
    tag.setFileName(path);
    return tag.SyncedLyricsRead();
}

struct ArchiveFixture {
    explicit ArchiveFixture(const std::string& mb = "/mb",
                            const std::string& caa = "/caa-decodable")
        : server(DataDir()) {
        host.settings[QStringLiteral("MusicBrainzHost")] = QString::fromStdString(server.url(mb));
        host.settings[QStringLiteral("CoverArtHost")] = QString::fromStdString(server.url(caa));
        host.settings[QStringLiteral("FreeDBEmail")] = QStringLiteral("tester@example.org");
        window = std::make_unique<PicturesWindow>(&host, &worker);
        window->setMusicBrainzLimiter(&limiter);
        window->showMessage = [this](const QString& m) { messages.push_back(m); };
        window->confirm = [](const QString&) { return true; };
    }
    int CountIn(const std::string& path) {
        TagBridge bridge;
        const FormatHandler* handler = HandlerOfPath(path);
        handler->LoadPictures(bridge, path);
        return handler->PictureCount(bridge);
    }
    test::LocalServer server;
    net::CurlHttpClient curl;
    HttpWorker worker{curl};
    test::FakeClock clock;
    net::RateLimiter limiter{clock, net::musicbrainz::kRequestGap};
    test::TempDir dir;
    test::TestHost host;
    std::vector<QString> messages;
    std::unique_ptr<PicturesWindow> window;
};

TEST(Downloads, ThePicturesWindowTakesTheFrontCoverFromTheCoverArchiveByDefault) {
    ArchiveFixture f;
    ASSERT_TRUE(f.server.running());
    EXPECT_EQ(f.window->cbCoverSource()->currentIndex(), PicturesWindow::kCoverFromArchive);
    // Two files of one album: one search, one cover, added to both.
    const std::string a = Mp3Titled(f.dir, "a.mp3", "Opening", "Two Sides");
    const std::string b = Mp3Titled(f.dir, "b.mp3", "Middle", "Two Sides");
    const int count = f.CountIn(a);
    f.host.ShowFile(a);
    f.host.selected = {a, b};
    f.window->btnDownloadClick();
    EXPECT_TRUE(f.window->Failures().empty())
        << f.window->Failures().front().first << ": " << f.window->Failures().front().second;
    const test::Bytes served = test::ReadAll(DataDir() + "/caa-front.jpg");
    for (const std::string& path : {a, b}) {
        ASSERT_EQ(f.CountIn(path), count + 1) << path;
        TagBridge bridge;
        const FormatHandler* h = HandlerOfPath(path);
        bridge.Read(path);
        ASSERT_TRUE(h->LoadPictures(bridge, path).empty());
        const std::string out = f.dir.file("out.jpg");
        ASSERT_TRUE(h->ExtractPicture(bridge, 0, out).empty()) << path;
        EXPECT_EQ(test::ReadAll(out), served) << "the cover is the first picture, as served";
    }
    EXPECT_EQ(f.window->PictureIndex(), 0);
    EXPECT_FALSE(f.window->Picture().isNull()) << "the new cover is shown";
    std::vector<std::string> asked;
    for (const std::string& line : RequestLog(f.server)) {
        EXPECT_EQ(line.rfind("Sondrel/", 0), 0u) << line;
        EXPECT_NE(line.find("( tester@example.org )"), std::string::npos) << line;
        asked.push_back(line.substr(line.find(" /") + 1));
    }
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0].rfind("/mb/ws/2/release?query=", 0), 0u) << asked[0];
    EXPECT_NE(asked[0].find("Two%20Sides"), std::string::npos) << asked[0];
    EXPECT_EQ(asked[1], "/caa-decodable/release/1f2e3d4c-0000-4000-8000-00000000000a/front");
    EXPECT_EQ(asked[2], "/caa-store/decodable.jpg");

    // The choice is kept in the settings, and the store search is still there.
    f.window->cbCoverSource()->setCurrentIndex(PicturesWindow::kCoverFromStore);
    EXPECT_EQ(f.host.settings[QStringLiteral("CoverSource")], "0");
    PicturesWindow again(&f.host, &f.worker);
    EXPECT_EQ(again.cbCoverSource()->currentIndex(), PicturesWindow::kCoverFromStore);
}

TEST(Downloads, AnArchiveCoverThatCannotBeHadIsAReasonAndLeavesTheFile) {
    struct Case {
        const char* what;
        const char* mb;
        const char* caa;
        const char* reason;
    };
    const Case cases[] = {
        {"not a picture", "/mb", "/caa-text", "picture"},
        {"a picture that does not decode", "/mb", "/caa", "decode"},
        {"no release has a cover", "/mb", "/nothing", "front cover"},
        {"the service asks for an hour", "/mb-busy-long", "/caa-decodable", "3600"},
    };
    for (const Case& c : cases) {
        ArchiveFixture f(c.mb, c.caa);
        const std::string a = Mp3Titled(f.dir, "a.mp3", "Opening", "Two Sides");
        const test::Bytes before = test::ReadAll(a);
        f.host.ShowFile(a);
        f.window->btnDownloadClick();
        ASSERT_EQ(f.window->Failures().size(), 1u) << c.what;
        EXPECT_NE(f.window->Failures()[0].second.find(c.reason), std::string::npos)
            << c.what << ": " << f.window->Failures()[0].second;
        EXPECT_EQ(test::ReadAll(a), before) << c.what;
    }
}

TEST(Downloads, AMusicBrainz503IsWaitedForOnTheQueue) {
    ArchiveFixture f("/mb-busy");
    const std::string a = Mp3Titled(f.dir, "a.mp3", "Opening", "Two Sides");
    const int count = f.CountIn(a);
    f.host.ShowFile(a);
    f.window->btnDownloadClick();
    EXPECT_TRUE(f.window->Failures().empty());
    EXPECT_EQ(f.CountIn(a), count + 1);
    // Asked, answered 503 with Retry-After 2, asked again 2 s later.
    EXPECT_EQ(f.clock.Offsets(), (std::vector<double>{0, 2}));
}

TEST(Downloads, TheLyricsWindowTakesPlainAndSynchronisedLyricsFromLrclibByDefault) {
    test::LocalServer server(DataDir());
    ASSERT_TRUE(server.running());
    net::CurlHttpClient curl;
    HttpWorker worker(curl);
    test::TempDir dir;
    test::TestHost host;
    host.settings[QStringLiteral("LrclibHost")] = QString::fromStdString(server.url("/lrclib"));
    LyricsWindow window(&host, &worker);
    std::vector<QString> messages;
    window.showMessage = [&](const QString& m) { messages.push_back(m); };
    window.confirm = [](const QString&) { return true; };
    EXPECT_EQ(window.cbLyricsSource()->currentIndex(), LyricsWindow::kLyricsFromLrclib);

    struct Case {
        const char* title;
        const char* shown;   // the memo after the download
        std::size_t synced;  // timed lines kept
        const char* message;
    };
    const Case cases[] = {
        {"Synced Song", "First line\nSecond line\nThird line", 4, ""},
        {"Plain Song", "Only plain\nlyrics here", 0, ""},
        {"Quiet Song", "", 0, "instrumental"},
        {"Unknown Song", "", 0, "no lyrics"},
    };
    for (const Case& c : cases) {
        const std::string path = Mp3Titled(dir, std::string(c.title) + ".mp3", c.title);
        const test::Bytes before = test::ReadAll(path);
        host.ShowFile(path);
        window.ShowLyrics();
        messages.clear();
        window.btnDownloadClick();
        EXPECT_EQ(window.memo()->toPlainText().toStdString(),
                  *c.shown ? c.shown : host.lyrics.toStdString())
            << c.title;
        EXPECT_EQ(window.SyncedLyrics().size(), c.synced) << c.title;
        // Timed lines are not in the text: the window says they came.
        EXPECT_EQ(window.syncedNote()->isVisibleTo(&window), c.synced > 0) << c.title;
        if (c.synced > 0) {
            EXPECT_TRUE(window.syncedNote()->text().startsWith(QString::number(c.synced)))
                << window.syncedNote()->text().toStdString();
        }
        if (*c.message) {
            ASSERT_EQ(messages.size(), 1u) << c.title;
            EXPECT_TRUE(messages[0].contains(QLatin1String(c.message))) << c.title;
        } else {
            EXPECT_TRUE(messages.empty()) << c.title;
        }
        EXPECT_FALSE(window.action(QStringLiteral("btnStop"))->isEnabled()) << c.title;
        EXPECT_EQ(test::ReadAll(path), before) << c.title << ": a download alone writes nothing";
    }
    // The second line is sung twice: in time order, at 4 s and at 9.25 s.
    host.ShowFile(dir.file("Synced Song.mp3"));
    window.btnDownloadClick();
    const auto& lines = window.SyncedLyrics();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].timeMs, 1500);
    EXPECT_EQ(lines[1].text, "Second line");
    EXPECT_EQ(lines[3].timeMs, 9250);
    // The tag editor's save of that file writes them as a SYLT frame in
    // milliseconds beside the plain lyrics; nothing before it.
    const std::string synced = dir.file("Synced Song.mp3");
    EXPECT_TRUE(ReadSylt(synced).empty()) << "a download alone writes nothing";
    {
        TagFields hub = host.bridge.Hub();
        hub.text = host.lyrics.toStdString();
        host.bridge.setHub(hub);
        const SaveOutcome saved = host.bridge.Save(synced);
        ASSERT_TRUE(saved.ok) << saved.error;
        const auto frames = ReadSylt(synced);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].language, "eng");
        EXPECT_EQ(frames[0].timeFormat, id3v2::kSyltMilliseconds);
        EXPECT_EQ(frames[0].lines, (std::vector<id3v2::SyncedLine>{{1500, "First line"},
                                                                   {4000, "Second line"},
                                                                   {6125, "Third line"},
                                                                   {9250, "Second line"}}));
        TagBridge read;
        read.Read(synced);
        EXPECT_EQ(read.Hub().text, "First line\nSecond line\nThird line");
    }
    // Another file shown: the lines were not its own.
    host.ShowFile(dir.file("Plain Song.mp3"));
    window.ShowLyrics();
    EXPECT_TRUE(window.SyncedLyrics().empty());
    EXPECT_FALSE(window.syncedNote()->isVisibleTo(&window));

    // Several files: LRCLIB's lyrics saved into each, plain and synchronised
    // in one save, the failures listed.
    const std::string fresh = Mp3Titled(dir, "fresh.mp3", "Synced Song");
    host.selected = {fresh, dir.file("Quiet Song.mp3")};
    window.btnDownloadClick();
    TagBridge bridge;
    bridge.Read(fresh);
    EXPECT_EQ(bridge.Hub().text, "First line\nSecond line\nThird line");
    EXPECT_EQ(bridge.Hub().title, "Synced Song");
    ASSERT_EQ(ReadSylt(fresh).size(), 1u);
    EXPECT_EQ(ReadSylt(fresh)[0].lines.size(), 4u);
    ASSERT_EQ(window.Failures().size(), 1u);
    EXPECT_EQ(window.Failures()[0].first, dir.file("Quiet Song.mp3"));
}

TEST(Downloads, TheLyricsWindowAsksLrclibWithTheFilesLength) {
    if (!test::HaveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg is not installed";
    test::LocalServer server(DataDir());
    ASSERT_TRUE(server.running());
    net::CurlHttpClient curl;
    HttpWorker worker(curl);
    test::TempDir dir;
    test::TestHost host;
    host.settings[QStringLiteral("LrclibHost")] = QString::fromStdString(server.url("/lrclib"));
    LyricsWindow window(&host, &worker);
    window.showMessage = [](const QString&) {};
    window.confirm = [](const QString&) { return true; };
    // 7.5 s of audio in each format the window's files come in: the whole
    // seconds go with the tags, as the command line's look-up sends them.
    const std::pair<const char*, const char*> files[] = {{"long.mp3", "libmp3lame"},
                                                         {"long.ogg", "libvorbis"},
                                                         {"long.m4a", "aac"},
                                                         {"long.wma", "wmav2"}};
    std::vector<std::string> asked;
    for (const auto& [name, codec] : files) {
        const std::string path = dir.file(name);
        ASSERT_EQ(test::RunCommand("ffmpeg -v error -nostdin -y -f lavfi -i "
                                   "sine=frequency=440:duration=7.5 -c:a " +
                                   std::string(codec) + " " + test::ShellQuote(path))
                      .exitCode,
                  0)
            << name;
        TagBridge bridge;
        FieldEdits edits;
        edits[Field::Title] = "Synced Song";
        edits[Field::Artist] = "Test Artist";
        const JobItem item{0, path, true};
        ASSERT_EQ(SaveEditsToFiles(bridge, std::span(&item, 1), edits, {}), 1) << name;
        host.ShowFile(path);
        window.btnDownloadClick();
        EXPECT_EQ(window.SyncedLyrics().size(), 4u) << name;
    }
    for (const std::string& line : RequestLog(server))
        asked.push_back(line.substr(line.find(" /") + 1));
    ASSERT_EQ(asked.size(), std::size(files));
    for (const std::string& request : asked) {
        EXPECT_EQ(request.rfind("/lrclib/api/get?", 0), 0u) << request;
        EXPECT_NE(request.find("track_name=Synced%20Song"), std::string::npos) << request;
        EXPECT_TRUE(request.ends_with("&duration=7")) << request;
    }
}

}  // namespace
}  // namespace sondrel
