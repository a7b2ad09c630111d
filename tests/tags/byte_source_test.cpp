// SPDX-License-Identifier: GPL-3.0-or-later
// Bytes in memory read exactly as the same bytes in a file, down to the
// bounds of every read, and every component reads memory as it reads files.
#include "tags/byte_source.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <limits>
#include <string>

#include "support/test_support.h"
#include "tags/ape.h"
#include "tags/file_snapshot.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"
#include "tags/mpeg_info.h"
#include "tags/musepack.h"
#include "tags/ogg.h"
#include "tags/wma.h"

namespace sondrel {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::TempDir;
using test::WriteAll;

// What a read gave: "-" for a failure, else the bytes' size and sum.
template <typename Result>
std::string Outcome(const Result& r) {
    if (!r)
        return "-";
    std::uint64_t sum = 0;
    for (const std::uint8_t b : *r)
        sum = sum * 31 + b;
    return std::to_string(r->size()) + ":" + std::to_string(sum);
}

TEST(ByteSource, MemoryFileAndSnapshotAnswerEveryReadAlike) {
    // Larger than the snapshot's head and tail together, so its middle is
    // read on demand.
    constexpr std::size_t kSize = FileSnapshot::kHeadBytes + FileSnapshot::kTailBytes + 1000;
    Bytes content(kSize);
    for (std::size_t i = 0; i < kSize; ++i)
        content[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    TempDir dir;
    const std::string path = dir.file("bytes.bin");
    WriteAll(path, content);
    const auto file = File::Open(path, File::Mode::Read);
    const auto snapshot = FileSnapshot::Open(path);
    ASSERT_TRUE(file && snapshot);
    const MemorySource memory(content);

    const auto size = static_cast<std::int64_t>(kSize);
    const struct {
        const char* name;
        std::int64_t offset;
        std::size_t count;
    } reads[] = {
        {"start", 0, 10},
        {"nothing at the start", 0, 0},
        {"uncached middle", static_cast<std::int64_t>(FileSnapshot::kHeadBytes) + 500, 300},
        {"across the head's end", FileSnapshot::kHeadBytes - 5, 10},
        {"the last byte", size - 1, 1},
        {"across the end", size - 4, 8},
        {"nothing at the end", size, 0},
        {"past the end", size + 1, 1},
        {"negative offset", -1, 4},
        {"a count that overflows the offset", 10, std::numeric_limits<std::size_t>::max()},
        {"an offset near the top", std::numeric_limits<std::int64_t>::max() - 2, 8},
    };
    const ByteSource* sources[] = {&*file, &*snapshot};
    for (const auto& r : reads) {
        SCOPED_TRACE(r.name);
        // Counts that cannot be allocated are only asked as views and exact reads.
        const bool allocatable = r.count < (std::size_t{1} << 32);
        for (const ByteSource* other : sources) {
            EXPECT_EQ(memory.Size(), other->Size());
            Bytes a, b;
            EXPECT_EQ(Outcome(memory.View(r.offset, r.count, a)),
                      Outcome(other->View(r.offset, allocatable ? r.count : kSize + 1, b)));
            if (!allocatable)
                continue;
            EXPECT_EQ(Outcome(memory.ReadAt(r.offset, r.count)),
                      Outcome(other->ReadAt(r.offset, r.count)));
            EXPECT_EQ(Outcome(memory.ReadUpTo(r.offset, r.count)),
                      Outcome(other->ReadUpTo(r.offset, r.count)));
        }
    }
    // A failed read says why.
    EXPECT_FALSE(memory.ReadAt(size - 1, 2));
    EXPECT_FALSE(memory.LastError().empty());
    // A view of memory is the memory itself, never a copy.
    Bytes storage;
    const auto view = memory.View(100, 10, storage);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->data(), content.data() + 100);
    EXPECT_TRUE(storage.empty());
}

// One line of what a component read: validity, error, a title and the
// stream's length.
struct ReadCase {
    const char* format;  // folder under fuzz/corpus
    std::function<std::string(const std::string& path)> fromFile;
    std::function<std::string(const ByteSource& bytes)> fromMemory;
};

template <typename C>
std::string Line(const C& c, const std::string& title, const std::string& length) {
    return std::to_string(c.Valid()) + "|" + c.Error() + "|" + title + "|" + length;
}

template <typename C, typename Set, typename Load, typename Describe>
ReadCase Case(const char* format, Set set, Load load, Describe describe) {
    return {format,
            [set, describe](const std::string& path) {
                C c;
                int errors = 0;
                c.onError = [&errors](TagComponent&, const std::string&) { ++errors; };
                (c.*set)(path);
                return describe(c) + "|" + std::to_string(errors);
            },
            [load, describe](const ByteSource& bytes) {
                C c;
                int errors = 0;
                c.onError = [&errors](TagComponent&, const std::string&) { ++errors; };
                (c.*load)(bytes);
                return describe(c) + "|" + std::to_string(errors);
            }};
}

TEST(ByteSource, ComponentsReadMemoryAsTheyReadFiles) {
    const ReadCase cases[] = {
        Case<Id3v1Tag>("id3v1", &Id3v1Tag::setFilename, &Id3v1Tag::LoadFrom,
                       [](const Id3v1Tag& c) { return Line(c, c.Title(), c.Lyrics()); }),
        Case<Id3v2Tag>("id3v2", &Id3v2Tag::setFileName, &Id3v2Tag::LoadFrom,
                       [](const Id3v2Tag& c) { return Line(c, c.title(), ""); }),
        Case<MpegInfo>("mpeg", &MpegInfo::setFileName, &MpegInfo::LoadFrom,
                       [](const MpegInfo& c) {
                           return Line(c, c.EncoderText(), c.GetLength()) + "|" +
                                  std::to_string(c.FrameCount());
                       }),
        Case<OggVorbisTag>("ogg", &OggVorbisTag::setFileName, &OggVorbisTag::LoadFrom,
                           [](const OggVorbisTag& c) { return Line(c, c.title(), c.Duration()); }),
        Case<MonkeysAudioTag>(
            "ape", &MonkeysAudioTag::setFilename, &MonkeysAudioTag::LoadFrom,
            [](const MonkeysAudioTag& c) { return Line(c, c.Title(), c.Duration()); }),
        Case<MusepackTag>("musepack", &MusepackTag::setFilename, &MusepackTag::LoadFrom,
                          [](const MusepackTag& c) { return Line(c, c.Title(), c.Duration()); }),
        Case<WmaTag>("wma", &WmaTag::setFileName, &WmaTag::LoadFrom,
                     [](const WmaTag& c) { return Line(c, c.Title, c.Duration()); }),
    };
    const fs::path seeds = fs::path(SONDREL_SOURCE_DIR) / "fuzz" / "corpus";
    TempDir dir;
    for (const ReadCase& c : cases) {
        std::size_t seen = 0;
        for (const auto& entry : fs::directory_iterator(seeds / c.format)) {
            const Bytes whole = ReadAll(entry.path().string());
            // The seed, and cut copies whose reads fail half-way.
            for (const std::size_t keep : {whole.size(), whole.size() / 2, std::size_t{200}}) {
                SCOPED_TRACE(entry.path().filename().string() + " cut to " + std::to_string(keep));
                const Bytes bytes(whole.begin(),
                                  whole.begin() + static_cast<long>(std::min(keep, whole.size())));
                const std::string path = dir.file("input" + entry.path().extension().string());
                WriteAll(path, bytes);
                EXPECT_EQ(c.fromMemory(MemorySource(bytes)), c.fromFile(path));
            }
            ++seen;
        }
        EXPECT_GT(seen, 0u) << c.format;
    }
}

}  // namespace
}  // namespace sondrel
