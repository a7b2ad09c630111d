// Times the file list's folder scan against a bare sorted directory walk
// (readdir + sort of the names) on one large folder. Not a test.
// Usage: scan_bench FOLDER [ROUNDS]
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER [ROUNDS]\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    double bare = 1e9;
    double scan = 1e9;
    std::size_t bareCount = 0;
    std::size_t rows = 0;
    for (int r = 0; r < rounds; ++r) {
        auto t0 = std::chrono::steady_clock::now();
        bareCount = BareWalk(folder);
        auto t1 = std::chrono::steady_clock::now();
        rows = sondrel::ScanFolder(folder, sondrel::FolderScanOptions{})->size();
        auto t2 = std::chrono::steady_clock::now();
        bare = std::min(bare, Seconds(t1 - t0));
        scan = std::min(scan, Seconds(t2 - t1));
    }
    std::printf(
        "entries %zu, rows %zu\nbare sorted walk %.1f ms\nfolder scan      %.1f ms\nratio %.2f\n",
        bareCount, rows, bare * 1000, scan * 1000, scan / bare);
    return 0;
}
