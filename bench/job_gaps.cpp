// The window's several-file save as the window drives it, without a display:
// the edits saved into every MP3 of a folder through SaveEditsToFiles. The
// window answers its events in keepGoing (before each file) and in each step,
// so the longest time between two such calls is the longest the window goes
// unanswered; the steps are the progress it shows. Not a test.
// Usage: job_gaps FOLDER
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "editor/tag_jobs.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: job_gaps FOLDER\n");
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "/";
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
    edits[sondrel::Field::Comment] = "saved by job_gaps";
    std::vector<double> gaps;
    auto last = Clock::now();
    auto serviced = [&] {
        const auto now = Clock::now();
        gaps.push_back(Ms(now - last));
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
    sondrel::TagBridge bridge;
    last = Clock::now();
    const int written = sondrel::SaveEditsToFiles(bridge, items, edits, callbacks);
    serviced();
    const double total = Ms(Clock::now() - start);
    std::sort(gaps.begin(), gaps.end());
    const double worst = gaps.empty() ? 0 : gaps.back();
    const double p99 = gaps.empty() ? 0 : gaps[gaps.size() * 99 / 100];
    std::printf(
        "several-file save: %zu files, %d written, %d failed, %.0f ms; first progress step "
        "after %.1f ms; longest time without events %.1f ms (99th percentile %.1f ms, goal "
        "under 100)\n",
        items.size(), written, failed, total, firstStep, worst, p99);
    return written == static_cast<int>(items.size()) ? 0 : 1;
}
