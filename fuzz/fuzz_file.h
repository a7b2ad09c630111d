// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers for the round-trip targets, whose saves need a real file:
// each input is written to one file inside a private temporary folder that
// is removed when the process ends.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace sondrel::fuzzing {

class ScratchFolder {
public:
    ScratchFolder() {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "sondrel-fuzz-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        path_ = tmpl;
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // Replaces the input file with `data`; its name carries `ext` because
    // some components pick their behaviour by extension.
    std::string Put(const std::uint8_t* data, std::size_t size, std::string_view ext) {
        const std::string file = path_ + "/input" + std::string(ext);
        std::FILE* f = std::fopen(file.c_str(), "wb");
        if (f == nullptr || (size > 0 && std::fwrite(data, 1, size, f) != size) ||
            std::fclose(f) != 0) {
            std::perror("writing fuzz input");
            std::abort();
        }
        return file;
    }

private:
    std::string path_;
};

inline ScratchFolder& Scratch() {
    static ScratchFolder folder;
    return folder;
}

}  // namespace sondrel::fuzzing
