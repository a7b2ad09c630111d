// SPDX-License-Identifier: GPL-3.0-or-later
// Times the batch table on a folder of MP3 files: the rescan against the
// bare tag reads `sondrel-tag show` does, sorting every column, and the
// previews of a template change (names only, and with the rename run's
// refusal check). Scrolling reads no file: the table shows the rows read
// by the rescan. Not a test.
// Usage: batch_bench FOLDER
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "batch/batch_actions.h"
#include "batch/batch_row.h"
#include "batch/name_template.h"
#include "editor/file_facts.h"
#include "editor/format_bridge.h"
#include "tags/file_snapshot.h"

namespace {

double Ms(const std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: batch_bench FOLDER\n");
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "/";
    std::vector<sondrel::BatchFile> files;
    DIR* d = ::opendir(folder.c_str());
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] != '.')
            files.push_back({folder, e->d_name, static_cast<std::int32_t>(files.size())});
    }
    ::closedir(d);
    std::sort(files.begin(), files.end(),
              [](const auto& a, const auto& b) { return a.FileName < b.FileName; });

    sondrel::TagBridge bare;
    // One untimed pass, so that every timed pass finds the files cached.
    for (const auto& f : files)
        bare.Read(f.Folder + f.FileName);
    auto t = std::chrono::steady_clock::now();
    for (const auto& f : files)
        bare.Read(f.Folder + f.FileName);
    const double byPath = Ms(t);
    // What `sondrel-tag show` reads of each file that the table needs: one
    // snapshot, the tags and the stream facts.
    t = std::chrono::steady_clock::now();
    for (const auto& f : files) {
        if (const auto file = sondrel::FileSnapshot::Open(f.Folder + f.FileName)) {
            const sondrel::TagFormat format = bare.Read(*file);
            sondrel::StreamFactsOf(bare, format, *file);
        }
    }
    const double show = Ms(t);

    t = std::chrono::steady_clock::now();
    sondrel::TagBridge bridge;
    std::vector<sondrel::BatchRow> rows = sondrel::ReadBatchRows(bridge, files, {});
    const double rescan = Ms(t);
    std::printf(
        "%zu files: tag reads by path %.0f ms, as show reads %.0f ms, rescan %.0f ms "
        "(%+.1f %% over show, goal under 10)\n",
        files.size(), byPath, show, rescan, show > 0 ? (rescan - show) * 100.0 / show : 0.0);

    double worstSort = 0;
    for (int column = 0; column < sondrel::kColumnCount; ++column) {
        t = std::chrono::steady_clock::now();
        sondrel::SortRows(rows, column, column % 2 == 0, false);
        worstSort = std::max(worstSort, Ms(t));
    }
    std::printf("slowest column sort: %.1f ms (goal under 50)\n", worstSort);

    sondrel::NameOptions options;
    t = std::chrono::steady_clock::now();
    sondrel::PreviewNames(rows, "%A - %L\\%# - %T", options);
    std::printf("template preview, names: %.1f ms (goal under 100)\n", Ms(t));
    sondrel::RenameContext context;
    context.shownFolder = folder;
    t = std::chrono::steady_clock::now();
    sondrel::PreviewRenameRows(rows, "%A - %L\\%# - %T", options, context);
    std::printf("template preview with refusal check: %.1f ms\n", Ms(t));
    return 0;
}
