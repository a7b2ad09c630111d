// SPDX-License-Identifier: GPL-3.0-or-later
// Saves of large files killed with SIGKILL at random moments: afterwards the
// file is either the old version or the new one, byte for byte, and the only
// other thing that may remain in its folder is the save's own temporary file
// (".sondrel-XXXXXX.tmp"), which the next save in the folder removes. The
// command-line tool, ended with SIGTERM or SIGINT, leaves nothing behind.
// Saves in place (a fitting ID3v2 tag and the ID3v1 block, or the tags at
// the end alone) may leave a journal instead, and after its recovery each
// file is old or new.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"
#include "tags/id3v2.h"
#include "tags/ogg.h"
#include "tags/region_write.h"

namespace sondrel {
namespace {

namespace fs = std::filesystem;

// "set --save 2 --title ... --lyrics-file ..." over `paths`.
std::vector<std::string> SetTitleArgs(const std::string& tool, const std::string& lyrics,
                                      const std::vector<std::string>& paths) {
    std::vector<std::string> args = {tool,      "set",       "--save",        "2",
                                     "--title", "New title", "--lyrics-file", lyrics};
    args.insert(args.end(), paths.begin(), paths.end());
    return args;
}

// Sends the child `pid` the signal `sig` after `delay` (none when negative)
// and waits for it. True when the signal ended it.
bool SignalAndReap(pid_t pid, int sig, std::chrono::microseconds delay) {
    if (delay.count() >= 0) {
        std::this_thread::sleep_for(delay);
        ::kill(pid, sig);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFSIGNALED(status) && WTERMSIG(status) == sig;
}

// Runs the tool with `args` (args[0] is its path) and sends it `sig` after
// `delay` (none when negative). True when the signal ended it.
bool RunToolAndSignal(const std::vector<std::string>& args, int sig,
                      std::chrono::microseconds delay) {
    std::vector<const char*> argv;
    for (const auto& a : args)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        ::execv(argv[0], const_cast<char* const*>(argv.data()));
        ::_exit(127);
    }
    return SignalAndReap(pid, sig, delay);
}
using test::Bytes;
using test::ReadAll;
using test::RunCommand;
using test::ShellQuote;
using test::TempDir;
using test::WriteAll;

constexpr std::size_t kLargeFileBytes = 24u << 20;
constexpr int kKillsPerFormat = 20;
// The command-line runs: a smaller file, fewer rounds per signal.
constexpr std::size_t kToolFileBytes = 6u << 20;
constexpr int kSignalsEach = 8;

// The edit each save makes: a tag that grows far past its old space, so the
// whole file has to be rewritten behind it.
const std::string kLongLyrics(40000, 'l');

struct KillCase {
    const char* name;
    const char* fileName;
    std::function<Bytes(const TempDir&)> makeOld;  // empty when a peer is missing
    std::function<bool(const std::string& path)> save;
};

Bytes LargeMp3(const TempDir&) {
    const Bytes frames = test::SilentMp3();
    if (frames.empty())
        return {};
    Bytes out;
    out.reserve(kLargeFileBytes + frames.size());
    while (out.size() < kLargeFileBytes)
        out.insert(out.end(), frames.begin(), frames.end());
    return out;
}

Bytes LargeOgg(const TempDir& dir) {
    if (!test::HaveProgram("ffmpeg"))
        return {};
    const std::string out = dir.file("source.ogg");
    const auto r = RunCommand(
        "ffmpeg -hide_banner -loglevel error -y -f lavfi -i "
        "anoisesrc=d=20:c=white -ac 2 -c:a libvorbis -q:a 10 " +
        ShellQuote(out) + " 2>&1");
    return r.exitCode == 0 ? ReadAll(out) : Bytes{};
}

const KillCase kCases[] = {
    {"id3v2 on a large MP3", "song.mp3", &LargeMp3,
     [](const std::string& path) {
         Id3v2Tag c;
         c.setFileName(path);
         c.settitle("New title");
         c.settext(kLongLyrics);
         return c.WriteTag();
     }},
    {"Vorbis comments on a large Ogg file", "song.ogg", &LargeOgg,
     [](const std::string& path) {
         OggVorbisTag c;
         c.setFileName(path);
         c.settitle("New title");
         c.setlyrics(kLongLyrics);
         return c.WriteTag();
     }},
};

// Runs the save in a child process and kills it after `delay` (never, when
// negative). Returns true when the kill landed before the child finished.
bool SaveAndKill(const KillCase& c, const std::string& path, std::chrono::microseconds delay) {
    const pid_t pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0)
        ::_exit(c.save(path) ? 0 : 1);
    return SignalAndReap(pid, SIGKILL, delay);
}

bool Decodes(const std::string& path) {
    return RunCommand("ffmpeg -hide_banner -v error -i " + ShellQuote(path) +
                      " -f null - 2>&1 && echo decoded")
               .output.find("decoded") != std::string::npos;
}

TEST(KillDuringSave, FileIsOldOrNewAndOnlyOurTemporaryRemains) {
    std::mt19937 rng(7);
    for (const KillCase& c : kCases) {
        SCOPED_TRACE(c.name);
        TempDir work;
        const Bytes old = c.makeOld(work);
        if (old.empty()) {
            GTEST_SKIP() << "ffmpeg is needed to make the large files";
        }

        // The new version, and how long an uninterrupted save takes.
        TempDir dir;
        const std::string path = dir.file(c.fileName);
        WriteAll(path, old);
        const auto start = std::chrono::steady_clock::now();
        ASSERT_FALSE(SaveAndKill(c, path, std::chrono::microseconds(-1)));
        const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - start);
        const Bytes fresh = ReadAll(path);
        ASSERT_NE(fresh, old) << "the save changed nothing";
        if (test::HaveProgram("ffmpeg")) {
            EXPECT_TRUE(Decodes(path)) << "the saved file does not decode";
        }

        const std::regex ours("\\.sondrel-[A-Za-z0-9]{6}\\.tmp");
        int killedMidway = 0, leftovers = 0, wasOld = 0, wasNew = 0;
        std::uniform_int_distribution<long long> when(0, took.count() * 6 / 5);
        for (int i = 0; i < kKillsPerFormat; ++i) {
            SCOPED_TRACE("kill " + std::to_string(i));
            WriteAll(path, old);
            killedMidway += SaveAndKill(c, path, std::chrono::microseconds(when(rng))) ? 1 : 0;
            const Bytes now = ReadAll(path);
            const bool isOld = now == old, isNew = now == fresh;
            EXPECT_TRUE(isOld || isNew)
                << "the file is neither version (" << now.size() << " bytes)";
            wasOld += isOld ? 1 : 0;
            wasNew += isNew ? 1 : 0;
            for (const auto& e : fs::directory_iterator(dir.path())) {
                const std::string name = e.path().filename().string();
                if (name == c.fileName)
                    continue;
                EXPECT_TRUE(std::regex_match(name, ours)) << "unknown file left: " << name;
                ++leftovers;
            }
            // The next save in the folder clears what a killed one left.
            if (leftovers > 0) {
                const std::string other =
                    dir.file("other" + fs::path(c.fileName).extension().string());
                WriteAll(other, old);
                EXPECT_TRUE(c.save(other));
                for (const auto& e : fs::directory_iterator(dir.path())) {
                    const std::string name = e.path().filename().string();
                    EXPECT_FALSE(std::regex_match(name, ours)) << "a stale file stayed: " << name;
                }
                fs::remove(other);
            }
        }
        // Without kills that land inside a save this test proves nothing.
        EXPECT_GT(killedMidway, 0);
        RecordProperty(std::string(c.name) + ": kills", killedMidway);
        RecordProperty(std::string(c.name) + ": old/new/leftovers",
                       std::to_string(wasOld) + "/" + std::to_string(wasNew) + "/" +
                           std::to_string(leftovers));
    }
}

// `sondrel-tag set` on a large MP3, ended by SIGTERM or SIGINT at random
// moments: the file is old or new and nothing else is left in its folder.
TEST(KillDuringSave, TheToolEndedBySignalLeavesNothingBehind) {
    const std::string tool = sondrel::test::CliTool();
    if (tool.empty())
        GTEST_SKIP() << "sondrel-tag is not built";
    TempDir work;
    Bytes old = LargeMp3(work);
    // A smaller file keeps each run short; whole frames only.
    const std::size_t frame = test::SilentMp3().size();
    if (frame > 0 && old.size() > kToolFileBytes)
        old.resize(kToolFileBytes / frame * frame);
    if (old.empty())
        GTEST_SKIP() << "ffmpeg is needed to make the large file";
    const std::string lyrics = work.file("lyrics.txt");
    WriteAll(lyrics, kLongLyrics);

    TempDir dir;
    const std::string path = dir.file("song.mp3");
    // ID3v2 only: one write per save, whatever the tool does with several
    // tag kinds.
    auto run = [&](int sig, std::chrono::microseconds delay) {
        return RunToolAndSignal(SetTitleArgs(tool, lyrics, {path}), sig, delay);
    };
    WriteAll(path, old);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_FALSE(run(SIGTERM, std::chrono::microseconds(-1)));
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    const Bytes fresh = ReadAll(path);
    ASSERT_NE(fresh, old) << "the save changed nothing";

    std::mt19937 rng(11);
    std::uniform_int_distribution<long long> when(0, took.count() * 6 / 5);
    int ended = 0;
    for (const int sig : {SIGTERM, SIGINT}) {
        for (int i = 0; i < kSignalsEach; ++i) {
            SCOPED_TRACE("signal " + std::to_string(sig) + ", round " + std::to_string(i));
            WriteAll(path, old);
            ended += run(sig, std::chrono::microseconds(when(rng))) ? 1 : 0;
            const Bytes now = ReadAll(path);
            EXPECT_TRUE(now == old || now == fresh)
                << "the file is neither version (" << now.size() << " bytes)";
            for (const auto& e : fs::directory_iterator(dir.path()))
                EXPECT_EQ(e.path().filename().string(), "song.mp3") << "left behind";
        }
    }
    EXPECT_GT(ended, 0) << "no signal landed while the tool ran";
    RecordProperty("signals that ended the tool", ended);
}

// `sondrel-tag set` over several files, which it saves as one group, killed
// (SIGKILL) or ended (SIGTERM) at random moments, in any of the group's
// phases: writing, flushing, renaming. Every file is old or new, byte for
// byte; after SIGTERM nothing else is left, after SIGKILL at most our own
// temporaries, which the next save in the folder removes.
TEST(KillDuringSave, AGroupOfFilesIsEachOldOrNew) {
    const std::string tool = sondrel::test::CliTool();
    if (tool.empty())
        GTEST_SKIP() << "sondrel-tag is not built";
    TempDir work;
    Bytes old = LargeMp3(work);
    const std::size_t frame = test::SilentMp3().size();
    if (old.empty() || frame == 0)
        GTEST_SKIP() << "ffmpeg is needed to make the large files";
    old.resize(std::min(old.size(), (kToolFileBytes / 12) / frame * frame));
    const std::string lyrics = work.file("lyrics.txt");
    WriteAll(lyrics, kLongLyrics);

    constexpr int kFiles = 6;
    TempDir dir;
    std::vector<std::string> paths;
    for (int i = 0; i < kFiles; ++i)
        paths.push_back(dir.file("song" + std::to_string(i) + ".mp3"));
    auto reset = [&] {
        for (const auto& p : paths)
            WriteAll(p, old);
    };
    auto run = [&](int sig, std::chrono::microseconds delay) {
        return RunToolAndSignal(SetTitleArgs(tool, lyrics, paths), sig, delay);
    };
    reset();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_FALSE(run(SIGTERM, std::chrono::microseconds(-1)));
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    const Bytes fresh = ReadAll(paths.front());
    ASSERT_NE(fresh, old) << "the save changed nothing";
    for (const auto& p : paths)
        ASSERT_EQ(ReadAll(p), fresh) << p;

    const std::regex ours("\\.sondrel-[A-Za-z0-9]{6}\\.tmp");
    std::mt19937 rng(13);
    std::uniform_int_distribution<long long> when(0, took.count() * 6 / 5);
    int ended = 0, mixed = 0;
    for (const int sig : {SIGKILL, SIGTERM}) {
        for (int i = 0; i < kSignalsEach; ++i) {
            SCOPED_TRACE("signal " + std::to_string(sig) + ", round " + std::to_string(i));
            reset();
            ended += run(sig, std::chrono::microseconds(when(rng))) ? 1 : 0;
            int newOnes = 0;
            for (const auto& p : paths) {
                const Bytes now = ReadAll(p);
                EXPECT_TRUE(now == old || now == fresh)
                    << p << " is neither version (" << now.size() << " bytes)";
                newOnes += now == fresh ? 1 : 0;
            }
            mixed += newOnes > 0 && newOnes < kFiles ? 1 : 0;
            bool stale = false;
            for (const auto& e : fs::directory_iterator(dir.path())) {
                const std::string name = e.path().filename().string();
                if (name.starts_with("song") && name.ends_with(".mp3"))
                    continue;
                EXPECT_TRUE(sig == SIGKILL && std::regex_match(name, ours)) << "left: " << name;
                stale = true;
            }
            // The next save in the folder clears what a killed one left.
            if (stale) {
                ASSERT_FALSE(run(SIGTERM, std::chrono::microseconds(-1)));
                for (const auto& e : fs::directory_iterator(dir.path()))
                    EXPECT_FALSE(std::regex_match(e.path().filename().string(), ours));
            }
        }
    }
    EXPECT_GT(ended, 0) << "no signal landed while the tool ran";
    RecordProperty("signals that ended the tool", ended);
    RecordProperty("rounds ended between two files' renames", mixed);
}

// An ID3v2.3 tag with a title and room to spare, the audio, an ID3v1 block:
// a title change fits, so the tool writes both ends in place.
Bytes BothTagsMp3(const Bytes& audio) {
    const std::string title = "Old title";
    Bytes frame = {'T', 'I', 'T', '2', 0, 0, 0, static_cast<std::uint8_t>(title.size() + 1),
                   0,   0,   0};
    frame.insert(frame.end(), title.begin(), title.end());
    constexpr std::size_t kBody = 420;  // padding within the in-place slack
    Bytes out = {'I', 'D', '3', 3, 0, 0, 0, 0, kBody >> 7, kBody & 0x7f};
    out.insert(out.end(), frame.begin(), frame.end());
    out.resize(10 + kBody, 0);
    out.insert(out.end(), audio.begin(), audio.end());
    const Bytes v1 = test::Id3v1Block({.title = title, .artist = "Artist"});
    out.insert(out.end(), v1.begin(), v1.end());
    return out;
}

// `args` (the tool, its command and options; the files are added) run over
// files each given its `old` content, saved in place as one group, killed
// or ended at random moments. After the recovery of what the run left (as
// the next save would do), every file is old or new byte for byte, no
// temporary file is left in the folder, and no journal stays behind.
void KillInPlaceGroupAndRecover(std::vector<std::string> args,
                                const std::vector<std::pair<std::string, Bytes>>& files,
                                unsigned seed, bool sameSize) {
    TempDir journals;
    ::setenv("SONDREL_JOURNAL_DIR", journals.path().c_str(), 1);
    TempDir dir;
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < files.size(); ++i) {
        paths.push_back(dir.file("song" + std::to_string(i) + files[i].first));
        args.push_back(paths.back());
    }
    auto reset = [&] {
        for (std::size_t i = 0; i < files.size(); ++i)
            WriteAll(paths[i], files[i].second);
    };
    auto journalsLeft = [&] {
        std::size_t n = 0;
        for (const auto& e : fs::directory_iterator(journals.path()))
            n += e.file_size() > 0;
        return n;
    };

    reset();
    auto inodeOf = [](const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_ino : ino_t{0};
    };
    std::vector<ino_t> inodes;
    for (const auto& p : paths)
        inodes.push_back(inodeOf(p));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_FALSE(RunToolAndSignal(args, SIGTERM, std::chrono::microseconds(-1)));
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    std::vector<Bytes> fresh;
    for (std::size_t i = 0; i < files.size(); ++i) {
        fresh.push_back(ReadAll(paths[i]));
        ASSERT_NE(fresh.back(), files[i].second) << paths[i] << ": the save changed nothing";
        ASSERT_EQ(inodeOf(paths[i]), inodes[i]) << paths[i] << " was not saved in place";
        if (sameSize) {
            ASSERT_EQ(fresh.back().size(), files[i].second.size())
                << "the tags were not written in place";
        }
        // Alike before, alike after.
        for (std::size_t j = 0; j < i; ++j) {
            if (files[j].second == files[i].second) {
                ASSERT_EQ(fresh[j], fresh[i]) << paths[i];
            }
        }
    }

    std::mt19937 rng(seed);
    std::uniform_int_distribution<long long> when(0, took.count() * 6 / 5);
    int ended = 0, recovered = 0;
    for (const int sig : {SIGKILL, SIGTERM}) {
        for (int i = 0; i < kSignalsEach * 2; ++i) {
            SCOPED_TRACE("signal " + std::to_string(sig) + ", round " + std::to_string(i));
            reset();
            ended += RunToolAndSignal(args, sig, std::chrono::microseconds(when(rng))) ? 1 : 0;
            recovered += static_cast<int>(RecoverJournals(journals.path()));
            EXPECT_EQ(journalsLeft(), 0u) << "a journal stayed after the recovery";
            for (std::size_t f = 0; f < files.size(); ++f) {
                const Bytes now = ReadAll(paths[f]);
                EXPECT_TRUE(now == files[f].second || now == fresh[f])
                    << paths[f] << " is neither version (" << now.size() << " bytes)";
            }
            for (const auto& e : fs::directory_iterator(dir.path())) {
                const std::string name = e.path().filename().string();
                EXPECT_TRUE(name.starts_with("song")) << "left: " << name;
            }
        }
    }
    ::unsetenv("SONDREL_JOURNAL_DIR");
    EXPECT_GT(ended, 0) << "no signal landed while the tool ran";
    ::testing::Test::RecordProperty("signals that ended the tool", ended);
    ::testing::Test::RecordProperty("journals recovered", recovered);
}

// About 64 KiB of silent MPEG frames: enough audio that a rewrite would
// show as a slower save than one in place. Empty without ffmpeg.
Bytes SilentAudio64K() {
    const Bytes frames = test::SilentMp3();
    Bytes audio;
    while (!frames.empty() && audio.size() < (64u << 10))
        audio.insert(audio.end(), frames.begin(), frames.end());
    return audio;
}

// `sondrel-tag set --title` over MP3s with both ID3 versions: a fitting
// ID3v2 tag and the ID3v1 block, both ends of each file in place.
TEST(KillDuringSave, InPlaceSavesOfBothTagsAreEachOldOrNewAfterRecovery) {
    const std::string tool = sondrel::test::CliTool();
    if (tool.empty())
        GTEST_SKIP() << "sondrel-tag is not built";
    const Bytes audio = SilentAudio64K();
    if (audio.empty())
        GTEST_SKIP() << "ffmpeg is needed to make the MP3 files";
    const Bytes old = BothTagsMp3(audio);
    ASSERT_NO_FATAL_FAILURE(KillInPlaceGroupAndRecover(
        {tool, "set", "--title", "New title"},
        std::vector<std::pair<std::string, Bytes>>(48, {".mp3", old}), 29, true));
}

// Tags only at the end, grown in place: the ID3v1 and Lyrics3 blocks of
// MP3s saved alone (--save 1) and the APE tags of Monkey's Audio files, in
// one group.
TEST(KillDuringSave, InPlaceTailsAreEachOldOrNewAfterRecovery) {
    const std::string tool = sondrel::test::CliTool();
    if (tool.empty())
        GTEST_SKIP() << "sondrel-tag is not built";
    const Bytes audio = SilentAudio64K();
    if (audio.empty())
        GTEST_SKIP() << "ffmpeg is needed to make the MP3 files";
    const Bytes mp3 = BothTagsMp3(audio);
    const Bytes ape =
        ReadAll((fs::path(SONDREL_SOURCE_DIR) / "fuzz/corpus/ape/v3990.ape").string());
    ASSERT_FALSE(ape.empty());
    std::vector<std::pair<std::string, Bytes>> files;
    for (int i = 0; i < 24; ++i) {
        files.push_back({".mp3", mp3});
        files.push_back({".ape", ape});
    }
    ASSERT_NO_FATAL_FAILURE(KillInPlaceGroupAndRecover(
        {tool, "set", "--save", "1", "--title", "New title", "--lyrics", "New lyrics"}, files, 31,
        false));
}

}  // namespace
}  // namespace sondrel
