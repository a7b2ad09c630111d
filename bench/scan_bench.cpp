// SPDX-License-Identifier: GPL-3.0-or-later
// Times the file list's folder scan against a bare sorted directory walk
// (readdir + sort of the names) on one large folder. Not a test.
// Usage: scan_bench FOLDER [ROUNDS]
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "editor/folder_scan.h"

namespace {

double Seconds(const std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

std::size_t BareWalk(const std::string& folder) {
    std::vector<std::string> names;
    DIR* d = ::opendir(folder.c_str());
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] != '.')
            names.emplace_back(e->d_name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names.size();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER [ROUNDS]\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 9;
    // Paired rounds: each round times both, so a load that comes and goes on
    // a shared machine weighs on both sides alike; the ratio is the median.
    std::vector<double> bare;
    std::vector<double> scan;
    std::vector<double> ratios;
    std::size_t bareCount = 0;
    std::size_t rows = 0;
    for (int r = 0; r < rounds; ++r) {
        auto t0 = std::chrono::steady_clock::now();
        bareCount = BareWalk(folder);
        auto t1 = std::chrono::steady_clock::now();
        rows = sondrel::ScanFolder(folder, sondrel::FolderScanOptions{})->size();
        auto t2 = std::chrono::steady_clock::now();
        bare.push_back(Seconds(t1 - t0));
        scan.push_back(Seconds(t2 - t1));
        ratios.push_back(scan.back() / bare.back());
    }
    std::printf(
        "entries %zu, rows %zu, %d paired rounds\nbare sorted walk %.1f ms (median)\n"
        "folder scan      %.1f ms (median)\nratio %.2f (median of the rounds' ratios)\n",
        bareCount, rows, rounds, Median(bare) * 1000, Median(scan) * 1000, Median(ratios));
    return 0;
}
