// SPDX-License-Identifier: GPL-3.0-or-later
// The window's several-file save as the window drives it, without a display:
// the edits saved into every MP3 of a folder through SaveEditsToFiles. The
// window answers its events in keepGoing (before each file) and in each step,
// and while a group commits on a worker its event loop turns (here: a turn
// every millisecond while the commit runs), so the longest time between two
// such turns is the longest the window goes unanswered; the steps are the
// progress it shows. --inline commits on the calling thread (no runCommit),
// to compare. Each run writes a comment of its own, so every file is
// written every time. Not a test.
// Usage: job_gaps [--inline] FOLDER
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "editor/tag_jobs.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    const bool inlineCommit = argc > 2 && std::string(argv[1]) == "--inline";
    if (argc < 2 || (argc > 2 && !inlineCommit)) {
        std::fprintf(stderr, "usage: job_gaps [--inline] FOLDER\n");
        return 2;
    }
    const std::string folder = std::string(argv[argc - 1]) + "/";
    std::vector<sondrel::JobItem> items;
    DIR* d = ::opendir(folder.c_str());
    if (d == nullptr)
        return 2;
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() > 4 && name.ends_with(".mp3"))
            items.push_back({static_cast<int>(items.size()), folder + name, true});
    }
    ::closedir(d);

    sondrel::FieldEdits edits;
    edits[sondrel::Field::Comment] =
        "saved by job_gaps " +
        std::to_string(std::chrono::system_clock::now().time_since_epoch().count());
    std::vector<double> gaps;
    // The longest gap that ended in a turn while a group committed: the rest
    // is the run's own work between files (reading and writing one file).
    double worstInCommit = 0;
    auto last = Clock::now();
    auto serviced = [&](bool inCommit = false) {
        const auto now = Clock::now();
        gaps.push_back(Ms(now - last));
        if (inCommit)
            worstInCommit = std::max(worstInCommit, gaps.back());
        last = now;
    };
    int steps = 0, failed = 0;
    double firstStep = -1;
    sondrel::JobCallbacks callbacks;
    callbacks.keepGoing = [&] {
        serviced();
        return true;
    };
    callbacks.onFileDone = [&](const sondrel::JobItem&, const sondrel::SaveOutcome& o) {
        failed += o.ok ? 0 : 1;
    };
    const auto start = Clock::now();
    callbacks.onStep = [&](const sondrel::JobItem&) {
        if (steps++ == 0)
            firstStep = Ms(Clock::now() - start);
        serviced();
    };
    if (!inlineCommit) {
        callbacks.runCommit = [&](const std::function<void()>& commit) {
            std::mutex m;
            std::condition_variable cv;
            bool done = false;
            std::thread worker([&] {
                commit();
                const std::lock_guard lock(m);
                done = true;
                cv.notify_one();
            });
            std::unique_lock lock(m);
            while (!cv.wait_for(lock, std::chrono::milliseconds(1), [&] { return done; }))
                serviced(true);
            lock.unlock();
            worker.join();
        };
    }
    sondrel::TagBridge bridge;
    last = Clock::now();
    const int written = sondrel::SaveEditsToFiles(bridge, items, edits, callbacks);
    serviced();
    const double total = Ms(Clock::now() - start);
    const double first = gaps.empty() ? 0 : gaps.front();
    const double second = gaps.size() > 1 ? gaps[1] : 0;
    std::sort(gaps.begin(), gaps.end());
    const double worst = gaps.empty() ? 0 : gaps.back();
    const double p99 = gaps.empty() ? 0 : gaps[gaps.size() * 99 / 100];
    std::printf(
        "several-file save (%s): %zu files, %d written, %d failed, %.0f ms; first progress step "
        "after %.1f ms; longest time without events %.1f ms (99th percentile %.1f ms, goal "
        "under 100)\n",
        inlineCommit ? "commits inline" : "commits on a worker", items.size(), written, failed,
        total, firstStep, worst, p99);
    std::printf("  before the first file %.1f ms, the first file %.1f ms\n", first, second);
    if (!inlineCommit)
        std::printf("  longest gap ending while a group committed: %.1f ms\n", worstInCommit);
    return written == static_cast<int>(items.size()) ? 0 : 1;
}
