// SPDX-License-Identifier: GPL-3.0-or-later
// Two `sondrel-tag set` runs on the same file at the same moment, each
// changing a different field, many rounds per format: afterwards every run
// that said it saved has its edit in the file, every other run said why it
// did not, and the file still reads.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace sondrel {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::RunCommand;
using test::ShellQuote;
using test::TempDir;
using test::WriteAll;

constexpr int kRounds = 15;

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct RunOutcome {
    int exitCode = -1;
    std::string error;
};

// With `grouped`, each run also saves a file of its own, so both save
// through a group and their shared file waits, locked, for the commit.
void TwoRunsAtOnce(std::initializer_list<const char*> kSeeds, bool grouped = false) {
    const std::string tool = sondrel::test::CliTool();
    if (tool.empty())
        GTEST_SKIP() << "sondrel-tag is not built";
    const fs::path seeds = fs::path(SONDREL_SOURCE_DIR) / "fuzz" / "corpus";
    for (const char* seed : kSeeds) {
        SCOPED_TRACE(seed);
        const auto original = ReadAll((seeds / seed).string());
        ASSERT_FALSE(original.empty());
        TempDir dir;
        const std::string path = dir.file("song" + fs::path(seed).extension().string());
        int applied = 0, refused = 0;
        for (int round = 0; round < kRounds; ++round) {
            SCOPED_TRACE("round " + std::to_string(round));
            WriteAll(path, original);
            std::map<std::string, std::string> own;
            for (const char* name : {"a", "b"}) {
                if (!grouped)
                    continue;
                own[name] =
                    dir.file(std::string(name) + "-own" + fs::path(seed).extension().string());
                WriteAll(own[name], original);
            }
            const std::string title = "Title" + std::to_string(round) + "x";
            const std::string artist = "Artist" + std::to_string(round) + "y";
            auto one = [&](const char* name, const char* field, const std::string& value) {
                const std::string other = grouped ? " " + ShellQuote(own[name]) : "";
                return "( " + ShellQuote(tool) + " set " + field + " " + ShellQuote(value) + " " +
                       ShellQuote(path) + other + " >/dev/null 2>" +
                       ShellQuote(dir.file(name) + ".err") + "; echo $? >" +
                       ShellQuote(dir.file(name) + ".rc") + " ) &";
            };
            RunCommand(one("a", "--title", title) + " " + one("b", "--artist", artist) + " wait");
            const auto shown = RunCommand(ShellQuote(tool) + " show --json " + ShellQuote(path));
            ASSERT_EQ(shown.exitCode, 0) << "the file no longer reads";
            for (const auto& [name, value] : {std::pair{"a", title}, std::pair{"b", artist}}) {
                const RunOutcome r{std::stoi("0" + Slurp(dir.file(name) + ".rc")),
                                   Slurp(dir.file(name) + ".err")};
                const bool present = shown.output.find('"' + value + '"') != std::string::npos;
                if (r.exitCode == 0) {
                    EXPECT_TRUE(present) << value << " was reported saved but is not in the file";
                    ++applied;
                } else {
                    EXPECT_FALSE(r.error.empty()) << "a failed run said nothing";
                    ++refused;
                }
            }
            for (const auto& e : fs::directory_iterator(dir.path())) {
                const std::string n = e.path().filename().string();
                EXPECT_TRUE(n == fs::path(path).filename().string() || n.ends_with(".rc") ||
                            n.ends_with(".err") || n.find("-own.") != std::string::npos)
                    << "left behind: " << n;
            }
        }
        EXPECT_GT(applied, 0) << "no run ever saved";
        ::testing::Test::RecordProperty(std::string(seed) + ": applied/refused",
                                        std::to_string(applied) + "/" + std::to_string(refused));
        std::cout << seed << ": " << kRounds << " rounds, " << applied << " applied, " << refused
                  << " refused\n";
    }
}

TEST(ConcurrentSaves, EveryRunAppliedItsEditOrSaidItDidNot) {
    TwoRunsAtOnce({"id3v2/v23.mp3", "id3v1/lyrics3.mp3", "ape/v3990.ape", "musepack/sv8.mpc",
                   "wma/wmav2.wma"});
}

// Whole-file rewrites: a save that opened the file before another save
// renamed its new file into place must not write over that one.
TEST(ConcurrentSaves, RewritingRunsAppliedTheirEditOrSaidTheyDidNot) {
    TwoRunsAtOnce({"ogg/vorbis.ogg", "mp4/aac.m4a"});
}

// The same on the grouped path: in place (ID3v1, APE) and rewriting (ID3v2, Ogg).
TEST(ConcurrentSaves, GroupedRunsAppliedTheirEditOrSaidTheyDidNot) {
    TwoRunsAtOnce({"id3v2/v23.mp3", "id3v1/lyrics3.mp3", "ape/v3990.ape", "ogg/vorbis.ogg"}, true);
}

// Two grouped runs over the same files in opposite orders: each keeps its
// files locked until its commit, so a run must never wait for a lock while
// it holds others. Every round ends within the time limit (a run the limit
// kills fails the test instead of hanging it), and each run saved or said
// why not.
TEST(ConcurrentSaves, GroupedRunsInOppositeOrdersNeverWaitForEachOther) {
    const std::string tool = sondrel::test::CliTool();
    if (tool.empty())
        GTEST_SKIP() << "sondrel-tag is not built";
    if (!test::HaveProgram("timeout"))
        GTEST_SKIP() << "no timeout program";
    constexpr int kFiles = 6, kOppositeRounds = 10;
    const fs::path seeds = fs::path(SONDREL_SOURCE_DIR) / "fuzz" / "corpus";
    for (const char* seed : {"flac/blocks.flac", "ogg/vorbis.ogg"}) {
        SCOPED_TRACE(seed);
        const auto original = ReadAll((seeds / seed).string());
        ASSERT_FALSE(original.empty());
        TempDir dir;
        std::vector<std::string> paths;
        for (int i = 0; i < kFiles; ++i)
            paths.push_back(
                dir.file("song" + std::to_string(i) + fs::path(seed).extension().string()));
        int saved = 0;
        for (int round = 0; round < kOppositeRounds; ++round) {
            SCOPED_TRACE("round " + std::to_string(round));
            for (const auto& p : paths)
                WriteAll(p, original);
            auto run = [&](const char* name, const char* field, bool reversed) {
                std::string files;
                for (int i = 0; i < kFiles; ++i)
                    files += " " + ShellQuote(paths[reversed ? kFiles - 1 - i : i]);
                return "( timeout -s KILL 20 " + ShellQuote(tool) + " set " + field + " " + name +
                       std::to_string(round) + files + " >/dev/null 2>" +
                       ShellQuote(dir.file(name) + ".err") + "; echo $? >" +
                       ShellQuote(dir.file(name) + ".rc") + " ) &";
            };
            RunCommand(run("a", "--title", false) + " " + run("b", "--artist", true) + " wait");
            for (const char* name : {"a", "b"}) {
                const int rc = std::stoi("0" + Slurp(dir.file(name) + ".rc"));
                const std::string err = Slurp(dir.file(name) + ".err");
                ASSERT_NE(rc, 137) << name << " never finished: the runs waited for each other";
                // Refused files are said to be so, by name.
                EXPECT_TRUE(rc == 0 || (rc == 1 && !err.empty()))
                    << name << ": " << rc << " " << err;
                saved += rc == 0;
            }
            const auto shown = RunCommand(ShellQuote(tool) + " show --json" + [&] {
                std::string all;
                for (const auto& p : paths)
                    all += " " + ShellQuote(p);
                return all;
            }());
            EXPECT_EQ(shown.exitCode, 0) << "a file no longer reads";
        }
        std::cout << seed << ": " << kOppositeRounds << " rounds, " << saved
                  << " runs saved every file\n";
    }
}

}  // namespace
}  // namespace sondrel
