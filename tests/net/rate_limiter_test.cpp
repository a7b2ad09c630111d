// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/rate_limiter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

#include "fake_clock.h"

namespace sondrel::net {
namespace {

using namespace std::chrono_literals;

// A clock standing still that records the turn each caller was given.
class TurnClock : public Clock {
public:
    TimePoint Now() override { return TimePoint(std::chrono::hours(1)); }
    bool SleepUntil(TimePoint when, const KeepGoing&) override {
        const std::lock_guard lock(mutex);
        turns.push_back(when);
        return true;
    }
    std::mutex mutex;
    std::vector<TimePoint> turns;
};

TEST(RateLimiter, TurnsKeepTheirGap) {
    test::FakeClock clock;
    RateLimiter limiter(clock, 1000ms);
    ASSERT_TRUE(limiter.Wait());
    ASSERT_TRUE(limiter.Wait());
    // Time spent between requests counts towards the gap.
    clock.now += 300ms;
    ASSERT_TRUE(limiter.Wait());
    clock.now += 1300ms;
    ASSERT_TRUE(limiter.Wait());
    ASSERT_TRUE(limiter.Wait());
    clock.now += 5s;  // a long pause owes nothing
    ASSERT_TRUE(limiter.Wait());
    EXPECT_EQ(clock.Offsets(), (std::vector<double>{0, 1, 2, 3.3, 4.3, 9.3}));
}

TEST(RateLimiter, RetryAfterPushesTheNextTurn) {
    test::FakeClock clock;
    RateLimiter limiter(clock, 1000ms);
    ASSERT_TRUE(limiter.Wait());
    limiter.Defer(3s);
    ASSERT_TRUE(limiter.Wait());
    // A shorter deferral never brings a turn forward.
    limiter.Defer(100ms);
    ASSERT_TRUE(limiter.Wait());
    EXPECT_EQ(clock.Offsets(), (std::vector<double>{0, 3, 4}));
}

TEST(RateLimiter, StoppedWaitReturnsFalseAndKeepsTheGap) {
    test::FakeClock clock;
    RateLimiter limiter(clock, 1000ms);
    ASSERT_TRUE(limiter.Wait());
    EXPECT_FALSE(limiter.Wait([] { return false; }));
    ASSERT_TRUE(limiter.Wait());
    EXPECT_EQ(clock.Offsets(), (std::vector<double>{0, 2}));
}

TEST(RateLimiter, SystemClockStopsAWaitEarly) {
    SystemClock clock;
    RateLimiter limiter(clock, 10s);
    ASSERT_TRUE(limiter.Wait());
    const auto start = std::chrono::steady_clock::now();
    int polls = 0;
    EXPECT_FALSE(limiter.Wait([&polls] { return ++polls < 2; }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

// Callers on several threads at one moment each get a turn of their own.
TEST(RateLimiter, ThreadsShareTheQueue) {
    TurnClock clock;
    RateLimiter limiter(clock, 1000ms);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&limiter] { limiter.Wait(); });
    for (auto& t : threads)
        t.join();
    std::sort(clock.turns.begin(), clock.turns.end());
    ASSERT_EQ(clock.turns.size(), 4u);
    for (std::size_t i = 1; i < clock.turns.size(); ++i)
        EXPECT_EQ(clock.turns[i] - clock.turns[i - 1], 1000ms) << i;
}

}  // namespace
}  // namespace sondrel::net
