// The lyrics and pictures windows on the real client through the worker:
// a slow server does not freeze them, and closing the window ends the
// download with the file left as it was.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>
#include <filesystem>

#include "media/http_worker.h"
#include "media/lyrics_window.h"
#include "media/pictures_window.h"
#include "media/test_host.h"
#include "net/curl_http_client.h"
#include "support/local_server.h"
#include "support/test_support.h"

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
            net::LyricsSettings settings;
            settings.searchBase = slow;
            w->setSearchSettings(settings);
            w->showMessage = [&](const QString& m) { messages.push_back(m); };
            download = [p = w.get()] { p->btnDownloadClick(); };
            window = std::move(w);
        } else {
            auto w = std::make_unique<PicturesWindow>(&host, &worker);
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

}  // namespace
}  // namespace sondrel
