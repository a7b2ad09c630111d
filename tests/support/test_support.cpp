// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/test_support.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace sondrel::test {
namespace {

// Peers (mutagen) come from Debian's packages; a Python of another install
// earlier on the PATH would lack them. Put the system's first when it has them.
const bool kSystemPythonFirst = [] {
    if (std::system("/usr/bin/python3 -c 'import mutagen' >/dev/null 2>&1") != 0)
        return false;
    const char* path = std::getenv("PATH");
    const std::string fixed = std::string("/usr/bin:") + (path ? path : "");
    return ::setenv("PATH", fixed.c_str(), 1) == 0;
}();

}  // namespace

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "sondrel-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Read-only files inside must not stop the cleanup.
    for (auto& e : std::filesystem::recursive_directory_iterator(path_, ec)) {
        std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(path_, ec);
}

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

void WriteAll(const std::string& path, const std::string& data) {
    WriteAll(path, ToBytes(data));
}

Bytes ToBytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

std::string CliTool() {
    namespace fs = std::filesystem;
    const fs::path exe = fs::read_symlink("/proc/self/exe");
    const fs::path tool = exe.parent_path().parent_path() / "src" / "cli" / "sondrel-tag";
    return fs::exists(tool) ? tool.string() : std::string();
}

CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        result.output.append(buf, n);
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string ShellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

bool HaveProgram(const std::string& program) {
    return RunCommand("command -v " + ShellQuote(program) + " >/dev/null 2>&1").exitCode == 0;
}

bool HaveMutagen() {
    static const bool have =
        RunCommand("python3 -c 'import mutagen' >/dev/null 2>&1").exitCode == 0;
    return have;
}

Bytes SilentMp3() {
    static const Bytes cached = [] {
        if (!HaveProgram("ffmpeg"))
            return Bytes{};
        TempDir dir;
        const std::string out = dir.file("silence.mp3");
        const std::string cmd =
            "ffmpeg -v error -nostdin -f lavfi -i anullsrc=r=44100:cl=mono -t 0.5 "
            "-c:a libmp3lame -b:a 32k -write_xing 0 -id3v2_version 0 -write_id3v1 0 " +
            ShellQuote(out) + " >/dev/null 2>&1";
        if (RunCommand(cmd).exitCode != 0)
            return Bytes{};
        return ReadAll(out);
    }();
    return cached;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes StandInAudio(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(0x80 + i % 61);
    return b;
}

Bytes Id3v1Block(const Id3v1Values& r) {
    Bytes b(128, 0);
    auto put = [&b](std::size_t off, const std::string& text, std::size_t width) {
        std::copy_n(text.begin(), std::min(text.size(), width), b.begin() + static_cast<long>(off));
    };
    put(0, "TAG", 3);
    put(3, r.title, 30);
    put(33, r.artist, 30);
    put(63, r.album, 30);
    put(93, r.year, 4);
    put(97, r.comment, 30);
    if (r.b125 >= 0)
        b[125] = static_cast<std::uint8_t>(r.b125);
    if (r.b126 >= 0)
        b[126] = static_cast<std::uint8_t>(r.b126);
    b[127] = r.genre;
    return b;
}

}  // namespace sondrel::test
