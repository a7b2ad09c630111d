// SPDX-License-Identifier: GPL-3.0-or-later
// Shared test helpers: unique temporary folders, whole-file I/O, and running
// peer tools (mutagen, ffmpeg) as oracles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace sondrel::test {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system temporary folder, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

Bytes ReadAll(const std::string& path);
void WriteAll(const std::string& path, const Bytes& data);
void WriteAll(const std::string& path, const std::string& data);
Bytes ToBytes(const std::string& s);
// The parts one after another.
Bytes Concat(std::initializer_list<Bytes> parts);
// Stand-in audio: `n` bytes that never spell a tag mark.
Bytes StandInAudio(std::size_t n);

struct CommandResult {
    int exitCode = -1;
    std::string output;  // standard output only
};
// Runs a shell command and captures its standard output.
CommandResult RunCommand(const std::string& command);
// The sondrel-tag built beside the tests (<build>/tests/<exe>,
// <build>/src/cli/sondrel-tag); empty when it was not built.
std::string CliTool();
// Single-quotes a text for the shell.
std::string ShellQuote(const std::string& s);
// True when `program` is on the PATH (peers may be missing on a developer's machine).
bool HaveProgram(const std::string& program);
// True when python3 can import mutagen.
bool HaveMutagen();

// An ID3v1 block as written byte by byte: the texts zero-padded and cut to
// their widths, then the optional overrides of comment bytes 28 and 29 (an
// ID3v1.1 track is b125 = 0, b126 = track).
struct Id3v1Values {
    std::string title{}, artist{}, album{}, year{}, comment{};
    int b125 = -1, b126 = -1;
    std::uint8_t genre = 12;
};
Bytes Id3v1Block(const Id3v1Values& values);

// A short MPEG-1 Layer III file of silence made by ffmpeg (no tags), cached
// per process; empty when ffmpeg is missing.
Bytes SilentMp3();

}  // namespace sondrel::test
