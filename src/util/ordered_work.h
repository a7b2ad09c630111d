// SPDX-License-Identifier: GPL-3.0-or-later
// Work on a list of items spread over a few threads, with the results handed
// over one by one in the list's order. Reading a folder's files is mostly
// parsing, which a second core halves; the output must still come in the
// order the user gave.
#pragma once

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <memory>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace sondrel {

// How many threads to give `items` pieces of work: one per core, at most
// `cap`, and none beyond one while a list is too short to pay for them.
inline std::size_t ThreadsFor(std::size_t items, std::size_t cap = 8) {
    constexpr std::size_t kItemsPerThread = 16;
    // The cores this process may run on, which a pinned or confined process
    // has fewer of than the machine.
    std::size_t cores = std::thread::hardware_concurrency();
    cpu_set_t allowed;
    if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0)
        cores = static_cast<std::size_t>(CPU_COUNT(&allowed));
    cores = std::max<std::size_t>(cores, 1);
    return std::max<std::size_t>(1, std::min({cores, cap, items / kItemsPerThread}));
}

// Calls produce(state, i) for every i in [0, count) on `threads` threads,
// each thread with a state of its own from makeState(), and take(i, result)
// on the calling thread for i = 0, 1, 2, ... in order. At most `window`
// results wait to be taken, so memory stays bounded on a long list. With
// one thread everything runs on the caller, one item at a time. makeState
// runs on the thread that uses the state.
//
// produce must not throw: a worker has nobody to hand an exception to.
// take may return false to stop (a user's Stop): no further item is taken,
// and items being produced are finished and dropped. take may also throw;
// either way the workers are stopped and joined before this returns.
template <typename MakeState, typename Produce, typename Take>
void ForEachInOrder(std::size_t count, std::size_t threads, MakeState makeState, Produce produce,
                    Take take, std::size_t window = 256) {
    using State = decltype(makeState());
    using Result = decltype(produce(std::declval<State&>(), std::size_t{}));
    const auto takeOne = [&take](std::size_t i, Result&& result) {
        if constexpr (std::is_same_v<decltype(take(i, std::move(result))), bool>) {
            return take(i, std::move(result));
        } else {
            take(i, std::move(result));
            return true;
        }
    };
    if (threads <= 1 || count <= 1) {
        State state = makeState();
        for (std::size_t i = 0; i < count; ++i) {
            if (!takeOne(i, produce(state, i)))
                return;
        }
        return;
    }
    window = std::max<std::size_t>(window, threads);
    struct Slot {
        std::atomic<bool> ready{false};
        Result result{};
    };
    const auto slots = std::make_unique<Slot[]>(window);
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> taken{0};  // results handed over so far
    std::atomic<bool> stop{false};
    auto work = [&] {
        State state = makeState();
        for (;;) {
            const std::size_t i = next.fetch_add(1, std::memory_order_relaxed);
            if (i >= count)
                return;
            // The slot of i is free once the result window places before it was taken.
            for (std::size_t t = taken.load(std::memory_order_acquire); i >= t + window;
                 t = taken.load(std::memory_order_acquire)) {
                if (stop.load(std::memory_order_relaxed))
                    return;
                taken.wait(t, std::memory_order_acquire);
            }
            if (stop.load(std::memory_order_relaxed))
                return;
            Slot& slot = slots[i % window];
            slot.result = produce(state, i);
            slot.ready.store(true, std::memory_order_release);
            slot.ready.notify_one();
        }
    };
    std::vector<std::thread> workers;
    workers.reserve(threads);
    const auto finish = [&] {
        stop.store(true, std::memory_order_relaxed);
        // Wakes a worker waiting for room; one that is producing ends after it.
        taken.fetch_add(window, std::memory_order_release);
        taken.notify_all();
        for (auto& w : workers)
            w.join();
    };
    // A thread the system refuses leaves the work to those that started.
    try {
        for (std::size_t t = 0; t < threads; ++t)
            workers.emplace_back(work);
    } catch (const std::system_error&) {
        if (workers.empty()) {
            ForEachInOrder(count, 1, makeState, produce, take, window);
            return;
        }
    }
    try {
        for (std::size_t i = 0; i < count; ++i) {
            Slot& slot = slots[i % window];
            slot.ready.wait(false, std::memory_order_acquire);
            Result result = std::move(slot.result);
            slot.result = Result{};
            slot.ready.store(false, std::memory_order_relaxed);
            taken.store(i + 1, std::memory_order_release);
            taken.notify_all();
            if (!takeOne(i, std::move(result)))
                break;
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

}  // namespace sondrel
