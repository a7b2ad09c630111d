// SPDX-License-Identifier: GPL-3.0-or-later
// A clock that never sleeps: a wait moves its time forward and is
// recorded, so pacing can be checked without waiting.
#pragma once

#include <chrono>
#include <vector>

#include "net/rate_limiter.h"

namespace sondrel::test {

class FakeClock : public net::Clock {
public:
    TimePoint now{std::chrono::hours(1)};
    std::vector<TimePoint> wokeAt;  // the time each SleepUntil returned at

    TimePoint Now() override { return now; }
    bool SleepUntil(TimePoint when, const net::KeepGoing& keepGoing) override {
        if (keepGoing && !keepGoing())
            return false;
        if (when > now)
            now = when;
        wokeAt.push_back(now);
        return true;
    }
    // Seconds since the first wake-up, for each wake-up.
    std::vector<double> Offsets() const {
        std::vector<double> out;
        for (const TimePoint t : wokeAt)
            out.push_back(std::chrono::duration<double>(t - wokeAt.front()).count());
        return out;
    }
};

}  // namespace sondrel::test
