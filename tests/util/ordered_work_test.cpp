// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/ordered_work.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace sondrel {
namespace {

// Results come in the list's order whatever order the threads finish in,
// each thread keeps its own state, and no more than the window wait.
TEST(ForEachInOrder, TakesResultsInOrderWithinTheWindow) {
    struct Row {
        std::size_t count, threads, window;
    };
    const Row rows[] = {{0, 4, 8},    {1, 4, 8},    {1000, 1, 8},
                        {1000, 2, 8}, {1000, 4, 3}, {5, 8, 256}};
    for (const auto& row : rows) {
        SCOPED_TRACE("count " + std::to_string(row.count) + ", threads " +
                     std::to_string(row.threads) + ", window " + std::to_string(row.window));
        std::atomic<int> states{0};
        std::atomic<std::size_t> produced{0};
        std::atomic<std::size_t> taken{0};
        std::size_t mostAhead = 0;
        std::vector<std::string> got;
        ForEachInOrder(
            row.count, row.threads,
            [&] {
                ++states;
                return std::vector<std::size_t>{};
            },
            [&](std::vector<std::size_t>& mine, std::size_t i) {
                mine.push_back(i);  // a state shared between threads would race here
                // Early items slow, so later ones finish first.
                if (i % 7 == 0)
                    std::this_thread::sleep_for(std::chrono::microseconds(50));
                ++produced;
                return "item " + std::to_string(i);
            },
            [&](std::size_t i, std::string s) {
                EXPECT_EQ(i, got.size());
                got.push_back(std::move(s));
                ++taken;
                mostAhead = std::max(mostAhead, produced.load() - taken.load());
            },
            row.window);
        ASSERT_EQ(got.size(), row.count);
        for (std::size_t i = 0; i < row.count; ++i)
            ASSERT_EQ(got[i], "item " + std::to_string(i));
        EXPECT_LE(mostAhead, std::max(row.window, row.threads));
        EXPECT_LE(states.load(), static_cast<int>(std::max<std::size_t>(row.threads, 1)));
        EXPECT_GE(states.load(), 1);
    }
}

// A consumer that says stop, or fails, stops the workers: nothing more is
// taken, the exception reaches the caller, and nothing is produced past the
// window after it.
TEST(ForEachInOrder, StopOrFailureInTakeStopsTheWorkers) {
    for (const bool throws : {false, true}) {
        for (const std::size_t threads : {1u, 2u, 4u}) {
            SCOPED_TRACE(std::string(throws ? "throws" : "says stop") + ", threads " +
                         std::to_string(threads));
            std::atomic<std::size_t> produced{0};
            std::size_t takes = 0;
            const auto run = [&] {
                ForEachInOrder(
                    100000, threads, [] { return 0; },
                    [&](int&, std::size_t i) {
                        ++produced;
                        return i;
                    },
                    [&](std::size_t i, std::size_t) {
                        ++takes;
                        if (i == 10 && throws)
                            throw std::runtime_error("disk full");
                        return i != 10;
                    },
                    16);
            };
            if (throws)
                EXPECT_THROW(run(), std::runtime_error);
            else
                EXPECT_NO_THROW(run());
            EXPECT_EQ(takes, 11u);
            EXPECT_LE(produced.load(), 11u + 16u + threads);
        }
    }
}

TEST(ThreadsFor, ShortListsStayOnOneThread) {
    EXPECT_EQ(ThreadsFor(0), 1u);
    EXPECT_EQ(ThreadsFor(15), 1u);
    EXPECT_LE(ThreadsFor(100000, 3), 3u);
    EXPECT_GE(ThreadsFor(100000), 1u);
}

}  // namespace
}  // namespace sondrel
