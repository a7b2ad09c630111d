// SPDX-License-Identifier: GPL-3.0-or-later
// Request pacing for services that ask each client for a gap between its
// requests. Callers queue for turns; the clock is injected so the pacing
// can be tested without waiting.
#pragma once

#include <chrono>
#include <mutex>

#include "net/http_client.h"

namespace sondrel::net {

class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~Clock();
    virtual TimePoint Now() = 0;
    // Returns at `when` or once `keepGoing` says stop (false then).
    virtual bool SleepUntil(TimePoint when, const KeepGoing& keepGoing) = 0;
};

// The steady clock; a wait polls `keepGoing` ten times a second.
class SystemClock : public Clock {
public:
    TimePoint Now() override;
    bool SleepUntil(TimePoint when, const KeepGoing& keepGoing) override;
};

// Hands out turns in the order they are asked for, at least `gap` apart.
// Safe to share between threads: each caller waits only for its own turn.
class RateLimiter {
public:
    RateLimiter(Clock& clock, std::chrono::milliseconds gap);

    // Waits for the caller's turn; false when `keepGoing` stopped the wait
    // (the turn is used up all the same, so the gap still holds).
    bool Wait(const KeepGoing& keepGoing = {});
    // No turn before `delay` from now: a server's "retry after".
    void Defer(std::chrono::milliseconds delay);

    Clock& clock() { return clock_; }

private:
    Clock& clock_;
    const std::chrono::milliseconds gap_;
    std::mutex mutex_;
    Clock::TimePoint next_{};
    bool started_ = false;
};

}  // namespace sondrel::net
