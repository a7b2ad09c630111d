// SPDX-License-Identifier: GPL-3.0-or-later
// Replays hostile inputs through every tag component: the inputs the fuzzers
// once crashed on (tests/data/fuzz/<format>/), the seed files, and a few
// hundred damaged copies of each seed. Every file goes through the same
// read / save / read / remove / read pass the round-trip fuzz targets run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "../../fuzz/format_drivers.h"
#include "support/test_support.h"

namespace sondrel {
namespace {

namespace fs = std::filesystem;
using fuzzing::Format;
using fuzzing::kFormats;
using fuzzing::RoundTrip;
using test::Bytes;
using test::ReadAll;
using test::TempDir;
using test::WriteAll;

const fs::path kCrashes = fs::path(SONDREL_TEST_DATA) / "fuzz";
const fs::path kSeeds = fs::path(SONDREL_SOURCE_DIR) / "fuzz" / "corpus";

std::vector<fs::path> FilesIn(const fs::path& folder) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        if (e.is_regular_file())
            out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

RoundTrip RunOn(const Format& format, const TempDir& dir, const Bytes& content) {
    const std::string path = dir.file("input" + std::string(format.ext));
    WriteAll(path, content);
    return format.run(path);
}

std::string Problems(const RoundTrip& r) {
    std::string out;
    for (const auto& p : r.problems)
        out += p + "; ";
    return out;
}

TEST(FuzzRegression, EveryRecordedInputRunsCleanly) {
    std::size_t replayed = 0;
    for (const Format& format : kFormats) {
        for (const fs::path& input : FilesIn(kCrashes / std::string(format.name))) {
            SCOPED_TRACE(input.string());
            TempDir dir;
            const RoundTrip r = RunOn(format, dir, ReadAll(input.string()));
            EXPECT_TRUE(r.problems.empty()) << Problems(r);
            ++replayed;
        }
    }
    // Each folder is optional, but an empty set here would mean the table or
    // the data path is wrong, not that everything is fine.
    EXPECT_GT(replayed, 0u) << "no recorded inputs under " << kCrashes;
}

// The seeds are well-formed files: every format must read, save and re-read
// them, or the damaged-file runs below would only ever test refusals.
TEST(FuzzRegression, SeedsRoundTrip) {
    for (const Format& format : kFormats) {
        const auto seeds = FilesIn(kSeeds / std::string(format.name));
        ASSERT_FALSE(seeds.empty()) << format.name;
        for (const fs::path& seed : seeds) {
            SCOPED_TRACE(seed.string());
            TempDir dir;
            const RoundTrip r = RunOn(format, dir, ReadAll(seed.string()));
            EXPECT_TRUE(r.readValid);
            if (format.name != "mpeg") {
                EXPECT_TRUE(r.writeOk);
            }
            EXPECT_TRUE(r.problems.empty()) << Problems(r);
        }
    }
}

// ---------------------------------------------------------------- damaged files

// Where the damage goes and which bytes no save may touch: `head` bytes at
// the start and `tail` bytes at the end hold headers and tags; the bytes in
// between are audio that must survive every operation unchanged.
struct Regions {
    std::size_t head = 0;
    std::size_t tail = 0;
    bool audioKept = true;  // false where a save legitimately rewrites audio pages
};

std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::size_t Id3v2Size(const Bytes& b) {
    if (b.size() < 10 || b[0] != 'I' || b[1] != 'D' || b[2] != '3')
        return 0;
    return 10 + (b[6] << 21 | b[7] << 14 | b[8] << 7 | b[9]);
}

std::size_t TrailingTags(const Bytes& b) {
    // APE tag (with its header) and everything behind it, or a bare ID3v1
    // block with an optional Lyrics3 v2 block in front of it.
    const std::string s(b.begin(), b.end());
    const auto footer = s.rfind("APETAGEX");
    if (footer != std::string::npos && footer + 32 <= b.size()) {
        const bool hasHeader = (Le32(b, footer + 20) & 0x80000000u) != 0;
        return b.size() - (footer + 32 - Le32(b, footer + 12)) + (hasHeader ? 32 : 0);
    }
    std::size_t tail = 0;
    if (s.size() >= 128 && s.compare(s.size() - 128, 3, "TAG") == 0) {
        tail = 128;
        const auto begin = s.rfind("LYRICSBEGIN");
        if (begin != std::string::npos)
            tail = b.size() - begin;
    }
    return tail;
}

// The metadata blocks of a FLAC stream (after an ID3v2 tag) and the first
// frame's sync code.
std::size_t FlacHead(const Bytes& b) {
    std::size_t pos = Id3v2Size(b) + 4;
    while (pos + 4 <= b.size()) {
        const bool last = (b[pos] & 0x80) != 0;
        pos += 4 + (b[pos + 1] << 16 | b[pos + 2] << 8 | b[pos + 3]);
        if (last)
            break;
    }
    return std::min(pos + 2, b.size());
}

Regions RegionsOf(std::string_view format, const Bytes& b) {
    if (format == "flac")
        return {FlacHead(b), 0, true};
    if (format == "ogg" || format == "mp4")
        return {b.size(), 0, false};
    if (format == "wma")
        return {static_cast<std::size_t>(Le32(b, 16)) + 50, 0,
                true};  // header + data object header
    if (format == "ape" || format == "musepack")
        return {32, TrailingTags(b), true};  // the stream header, then the tags at the end
    // MP3: an ID3v2 tag and the first frame header in front, the trailing tags behind.
    return {Id3v2Size(b) + 4, TrailingTags(b), true};
}

bool Contains(const Bytes& haystack, const Bytes& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
           haystack.end();
}

constexpr std::size_t kDamagedCopiesPerFormat = 300;
constexpr int kMaxFlipsPerCopy = 8;

TEST(DamagedFiles, EveryFormatRefusesOrSurvivesAndKeepsTheAudio) {
    std::mt19937 rng(20240601);
    for (const Format& format : kFormats) {
        std::size_t handled = 0, readable = 0;
        const auto seeds = FilesIn(kSeeds / std::string(format.name));
        ASSERT_FALSE(seeds.empty()) << format.name;
        const std::size_t perSeed = (kDamagedCopiesPerFormat + seeds.size() - 1) / seeds.size();
        for (const fs::path& seed : seeds) {
            const Bytes original = ReadAll(seed.string());
            const Regions regions = RegionsOf(format.name, original);
            ASSERT_LE(regions.head + regions.tail, original.size()) << seed;
            const Bytes audio(original.begin() + static_cast<std::ptrdiff_t>(regions.head),
                              original.end() - static_cast<std::ptrdiff_t>(regions.tail));
            const std::size_t damageable = regions.head + regions.tail;
            for (std::size_t copy = 0; copy < perSeed; ++copy) {
                Bytes damaged = original;
                std::string where;
                const int flips = 1 + static_cast<int>(rng() % kMaxFlipsPerCopy);
                for (int i = 0; i < flips; ++i) {
                    std::size_t at = rng() % damageable;
                    if (at >= regions.head)
                        at = original.size() - regions.tail + (at - regions.head);
                    damaged[at] ^= static_cast<std::uint8_t>(1 + rng() % 255);
                    where += " " + std::to_string(at);
                }
                TempDir dir;
                const std::string path = dir.file("input" + std::string(format.ext));
                WriteAll(path, damaged);
                const RoundTrip r = format.run(path);
                SCOPED_TRACE(seed.filename().string() + " copy " + std::to_string(copy) +
                             ", bytes changed at" + where);
                EXPECT_TRUE(r.problems.empty()) << Problems(r);
                if (regions.audioKept && !audio.empty()) {
                    EXPECT_TRUE(Contains(ReadAll(path), audio)) << "audio bytes changed";
                }
                readable += r.readValid ? 1 : 0;
                ++handled;
            }
        }
        // Most damage hits bytes that do not matter; a format that refuses
        // nearly everything is refusing its valid files too.
        EXPECT_GT(readable, 0u) << format.name;
        RecordProperty(std::string(format.name) + "_damaged", static_cast<int>(handled));
    }
}

// Damage that once made a save cut audio: the recorded file, and the audio
// bytes (offset and length in the recorded file) every operation must keep.
struct KnownDamage {
    const char* format;
    const char* file;
    std::size_t audioAt;
    std::size_t audioLength;
};

// A footer size that still fits the file, with the header it promises
// missing, marks where the tag would start inside the audio.
// A 2.4 footer flag without a footer behind the tag would make the ten
// audio bytes after the tag count as its footer.
constexpr KnownDamage kKnownDamage[] = {
    {"ape", "footer_size_reaches_into_audio.ape", 52 + 24, 200},
    {"id3v2", "footer_flag_without_footer.mp3", 95, 912},
};

TEST(DamagedFiles, KnownCasesKeepTheAudio) {
    for (const auto& c : kKnownDamage) {
        SCOPED_TRACE(c.file);
        const Format* format = fuzzing::FindFormat(c.format);
        ASSERT_NE(format, nullptr);
        const Bytes input = ReadAll((kCrashes / c.format / c.file).string());
        ASSERT_LE(c.audioAt + c.audioLength, input.size());
        const Bytes audio(input.begin() + static_cast<std::ptrdiff_t>(c.audioAt),
                          input.begin() + static_cast<std::ptrdiff_t>(c.audioAt + c.audioLength));
        TempDir dir;
        const std::string path = dir.file(std::string("input") + std::string(format->ext));
        WriteAll(path, input);
        const RoundTrip r = format->run(path);
        EXPECT_TRUE(r.problems.empty()) << Problems(r);
        EXPECT_TRUE(Contains(ReadAll(path), audio)) << "audio bytes changed";
    }
}

}  // namespace
}  // namespace sondrel
