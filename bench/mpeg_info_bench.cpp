// SPDX-License-Identifier: GPL-3.0-or-later
// Analysis cost per file over a folder of MP3 files: every file is analysed
// once per round and the mean time per file is printed for each round.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tags/mpeg_info.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER [ROUNDS]\n", argv[0]);
        return 2;
    }
    const int rounds = argc > 2 ? std::stoi(argv[2]) : 3;
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
        if (entry.is_regular_file() && entry.path().extension() == ".mp3")
            files.push_back(entry.path().string());
    }
    if (files.empty()) {
        std::fprintf(stderr, "no .mp3 files in %s\n", argv[1]);
        return 1;
    }
    sondrel::MpegInfo info;
    for (int round = 1; round <= rounds; ++round) {
        std::size_t valid = 0;
        const auto start = std::chrono::steady_clock::now();
        for (const auto& f : files) {
            info.setFileName(f);
            valid += info.Valid() ? 1 : 0;
        }
        const std::chrono::duration<double, std::micro> took =
            std::chrono::steady_clock::now() - start;
        std::printf("round %d: %zu files (%zu valid), %.1f ms, %.1f us per file\n", round,
                    files.size(), valid, took.count() / 1000.0, took.count() / files.size());
    }
    return 0;
}
