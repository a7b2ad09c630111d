// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/http_worker.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <thread>

#include "net/musicbrainz.h"

using namespace sondrel::net;

namespace {

// How often the caller's KeepGoing is asked while a transfer runs.
constexpr int kPollMilliseconds = 50;

}  // namespace

HttpWorker::HttpWorker(HttpClient& inner, QObject* parent) : QObject(parent), inner_(inner) {}

HttpWorker::~HttpWorker() = default;

void HttpWorker::StopAll() {
    ++generation_;
}

HttpResponse HttpWorker::Fetch(const HttpRequest& request, const KeepGoing& keepGoing) {
    HttpResponse response;
    // Already stopped (a loop of several transfers after Stop): nothing goes out.
    if (keepGoing && !keepGoing()) {
        response.failure = HttpFailure::Stopped;
        response.error = "stopped";
        return response;
    }
    const unsigned generation = generation_.load();
    std::atomic<bool> stop{false};
    HttpRequest own = request;
    own.onProgress = [this, &request](std::uint64_t received, std::uint64_t total) {
        if (request.onProgress)
            request.onProgress(received, total);
        // Emitted on the worker thread; receivers on the GUI thread get it queued.
        emit progress(static_cast<qint64>(received), static_cast<qint64>(total));
    };

    QEventLoop loop;
    ++running_;
    emit started(QString::fromStdString(request.url));
    std::thread worker([&] {
        response =
            inner_.Fetch(own, [&] { return !stop.load() && generation_.load() == generation; });
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    QTimer poll;
    poll.setInterval(kPollMilliseconds);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (keepGoing && !keepGoing())
            stop = true;
    });
    poll.start();
    // Returns once the worker posted its quit; an application quit ends the
    // loop early, and the transfer is then stopped and awaited below.
    loop.exec(QEventLoop::AllEvents);
    poll.stop();
    stop = true;
    worker.join();
    --running_;
    emit finished(response.ok, QString::fromStdString(response.error));
    return response;
}

EventLoopClock::TimePoint EventLoopClock::Now() {
    return std::chrono::steady_clock::now();
}

bool EventLoopClock::SleepUntil(TimePoint when, const KeepGoing& keepGoing) {
    for (;;) {
        if (keepGoing && !keepGoing())
            return false;
        const TimePoint now = Now();
        if (now >= when)
            return true;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - now);
        QEventLoop loop;
        QTimer::singleShot(std::min<int>(static_cast<int>(left.count()), kPollMilliseconds), &loop,
                           &QEventLoop::quit);
        loop.exec(QEventLoop::AllEvents);
    }
}

RateLimiter& MusicBrainzLimiter() {
    static EventLoopClock clock;
    static RateLimiter limiter(clock, musicbrainz::kRequestGap);
    return limiter;
}
