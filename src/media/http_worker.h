// SPDX-License-Identifier: GPL-3.0-or-later
// Runs another HttpClient's transfers on a worker thread. Fetch still returns
// the answer to its caller, but the calling (GUI) thread keeps handling
// events meanwhile, so windows repaint and their Stop buttons work. The
// caller's KeepGoing is asked on the calling thread; a false answer, Stop()
// or StopAll() aborts the transfer through the inner client's own hook.
#pragma once

#include <QObject>
#include <atomic>

#include "net/http_client.h"
#include "net/rate_limiter.h"

class HttpWorker : public QObject, public sondrel::net::HttpClient {
    Q_OBJECT

public:
    explicit HttpWorker(sondrel::net::HttpClient& inner, QObject* parent = nullptr);
    ~HttpWorker() override;

    sondrel::net::HttpResponse Fetch(const sondrel::net::HttpRequest& request,
                                     const sondrel::net::KeepGoing& keepGoing = {}) override;

    // Transfers running now (a window may start one while another waits).
    int Running() const { return running_; }

public slots:
    // Aborts every transfer running now; later ones start normally.
    void StopAll();

signals:
    // A transfer started, made progress (total 0 when unknown) or ended.
    void started(const QString& url);
    void progress(qint64 received, qint64 total);
    void finished(bool ok, const QString& error);

private:
    sondrel::net::HttpClient& inner_;
    std::atomic<unsigned> generation_{0};  // StopAll moves it on
    int running_ = 0;
};

// The steady clock for waits on the GUI thread: a wait for a turn keeps
// handling events (windows repaint, Stop works), it never sleeps the thread.
class EventLoopClock : public sondrel::net::Clock {
public:
    TimePoint Now() override;
    bool SleepUntil(TimePoint when, const sondrel::net::KeepGoing& keepGoing) override;
};

// The program's one MusicBrainz queue (one request a second per client),
// shared by every window that asks the service.
sondrel::net::RateLimiter& MusicBrainzLimiter();
