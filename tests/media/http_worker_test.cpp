// SPDX-License-Identifier: GPL-3.0-or-later
// Transfers on the worker thread against a local server: the answer comes
// back to the caller, the GUI thread keeps handling events meanwhile, and
// Stop, the caller's own hook or the cap end a transfer early.
#include "media/http_worker.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <thread>

#include "net/curl_http_client.h"
#include "support/local_server.h"

namespace {

using sondrel::net::HttpFailure;
using sondrel::net::HttpRequest;

struct Seen {
    int started = 0;
    int finished = 0;
    qint64 received = 0;
    qint64 total = 0;
    QString error;
};

void Watch(HttpWorker& worker, Seen& seen) {
    QObject::connect(&worker, &HttpWorker::started, [&seen] { ++seen.started; });
    QObject::connect(&worker, &HttpWorker::progress, [&seen](qint64 received, qint64 total) {
        seen.received = std::max(seen.received, received);
        seen.total = total;
    });
    QObject::connect(&worker, &HttpWorker::finished, [&seen](bool, const QString& error) {
        ++seen.finished;
        seen.error = error;
    });
}

TEST(HttpWorker, FetchesOffTheCallingThreadAndReportsProgress) {
    sondrel::test::LocalServer server;
    ASSERT_TRUE(server.running());
    // The inner client notes which thread runs each transfer.
    struct ThreadNoting : sondrel::net::HttpClient {
        sondrel::net::CurlHttpClient curl;
        std::thread::id ranOn;
        sondrel::net::HttpResponse Fetch(const HttpRequest& r,
                                         const sondrel::net::KeepGoing& k) override {
            ranOn = std::this_thread::get_id();
            return curl.Fetch(r, k);
        }
    } inner;
    HttpWorker worker(inner);
    Seen seen;
    Watch(worker, seen);

    HttpRequest request;
    request.url = server.url("/hello");
    const auto response = worker.Fetch(request);
    QApplication::processEvents();  // the last queued progress signals
    EXPECT_TRUE(response.ok) << response.error;
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, "hello");
    EXPECT_NE(inner.ranOn, std::this_thread::get_id());
    EXPECT_NE(inner.ranOn, std::thread::id());
    EXPECT_EQ(worker.Running(), 0);

    EXPECT_EQ(seen.received, 5);
    EXPECT_EQ(seen.total, 5);

    // A capped answer of unknown length: progress is reported on the way and
    // the cap still holds.
    HttpRequest big;
    big.url = server.url("/big-chunked");
    big.maxBytes = 3u << 20;
    const auto capped = worker.Fetch(big);
    QApplication::processEvents();  // the last queued progress signals
    EXPECT_FALSE(capped.ok);
    EXPECT_EQ(capped.failure, HttpFailure::TooLarge);
    EXPECT_GT(seen.received, 0);
    // Ended at the cap (give or take the block that crossed it), not at 100 MB.
    EXPECT_LT(seen.received, static_cast<qint64>(big.maxBytes) + (1 << 20));
    EXPECT_GT(seen.received, 5);
    EXPECT_EQ(seen.total, 0);
    EXPECT_EQ(seen.started, 2);
    EXPECT_EQ(seen.finished, 2);
    EXPECT_FALSE(seen.error.isEmpty());
}

TEST(HttpWorker, EventsRunWhileWaitingAndEachWayOfStoppingEndsASlowTransfer) {
    sondrel::test::LocalServer server;
    ASSERT_TRUE(server.running());
    sondrel::net::CurlHttpClient curl;
    struct Case {
        const char* how;
        bool callerSaysStop;  // else StopAll from a timer
    };
    for (const Case c : {Case{"StopAll", false}, Case{"the caller's KeepGoing", true}}) {
        HttpWorker worker(curl);
        bool timerRan = false;
        bool stopWanted = false;
        // Fires only if the calling thread handles events during the transfer.
        QTimer::singleShot(300, &worker, [&] {
            timerRan = true;
            EXPECT_EQ(worker.Running(), 1) << c.how;
            if (c.callerSaysStop)
                stopWanted = true;
            else
                worker.StopAll();
        });
        HttpRequest request;
        request.url = server.url("/slow");  // silent for 30 s
        QElapsedTimer clock;
        clock.start();
        const auto response = worker.Fetch(request, [&] { return !stopWanted; });
        EXPECT_TRUE(timerRan) << c.how;
        EXPECT_FALSE(response.ok) << c.how;
        EXPECT_EQ(response.failure, HttpFailure::Stopped) << c.how << ": " << response.error;
        EXPECT_LT(clock.elapsed(), 10000) << c.how;

        // A stop is for the transfers running then; the next one goes through.
        request.url = server.url("/hello");
        EXPECT_EQ(worker.Fetch(request).body, "hello") << c.how;
    }
}

}  // namespace
