// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/rate_limiter.h"

#include <algorithm>
#include <thread>

namespace sondrel::net {

Clock::~Clock() = default;

Clock::TimePoint SystemClock::Now() {
    return std::chrono::steady_clock::now();
}

bool SystemClock::SleepUntil(TimePoint when, const KeepGoing& keepGoing) {
    constexpr auto kSlice = std::chrono::milliseconds(100);
    for (;;) {
        if (keepGoing && !keepGoing())
            return false;
        const TimePoint now = Now();
        if (now >= when)
            return true;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(when - now, kSlice));
    }
}

RateLimiter::RateLimiter(Clock& clock, std::chrono::milliseconds gap) : clock_(clock), gap_(gap) {}

bool RateLimiter::Wait(const KeepGoing& keepGoing) {
    Clock::TimePoint turn;
    {
        const std::lock_guard lock(mutex_);
        const Clock::TimePoint now = clock_.Now();
        turn = started_ ? std::max(now, next_) : now;
        started_ = true;
        next_ = turn + gap_;
    }
    return clock_.SleepUntil(turn, keepGoing);
}

void RateLimiter::Defer(std::chrono::milliseconds delay) {
    const std::lock_guard lock(mutex_);
    const Clock::TimePoint until = clock_.Now() + delay;
    if (!started_ || until > next_)
        next_ = until;
    started_ = true;
}

}  // namespace sondrel::net
