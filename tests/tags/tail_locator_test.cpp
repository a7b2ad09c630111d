// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/tail_locator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "tags/ape_tag.h"
#include "tags/file_io.h"
#include "tags/id3v1.h"
#include "tags/mpeg_info.h"

namespace sondrel {
namespace {

using test::TempDir;
using test::ToBytes;
using test::WriteAll;

constexpr std::int64_t kAudio = 300;

Bytes Cat(std::initializer_list<Bytes> parts) {
    return test::Concat(parts);
}

Bytes Audio(std::size_t n) {
    return test::StandInAudio(n);
}

Bytes Id3v1() {
    Bytes b(128, 0);
    b[0] = 'T';
    b[1] = 'A';
    b[2] = 'G';
    b[127] = 12;
    return b;
}

// A Lyrics3 v2 block around `fields`; `digits` overrides the size digits.
Bytes Lyrics3(const std::string& fields, std::string digits = {}) {
    const std::string body = "LYRICSBEGIN" + fields;
    if (digits.empty()) {
        char text[8];
        std::snprintf(text, sizeof text, "%06zu", body.size());
        digits = text;
    }
    return ToBytes(body + digits + "LYRICS200");
}

const Bytes kLyrics = Lyrics3("LYR00005words");
// Header, one item, footer.
const Bytes kApe = apetag::BuildTag({{"Title", 0, "A title"}});
constexpr std::int64_t kApeItems = 8 + 6 + 7;  // item header, "Title\0", value

// A 32-byte APE header or footer.
Bytes ApeBlock(std::uint32_t tagSize, std::uint32_t flags) {
    Bytes b = ToBytes("APETAGEX");
    for (std::uint32_t v : {2000u, tagSize, 0u, flags})
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    b.resize(32, 0);
    return b;
}

struct Expected {
    std::int64_t id3v1Size = 0;
    std::int64_t lyrics3Size = 0;
    bool lyrics3Damaged = false;
    bool hasApe = false;
    bool apeDamaged = false;
    bool hasApeHeader = false;
    std::int64_t itemsStart = 0;
    std::int64_t tagStart = 0;
};

struct StackCase {
    const char* name;
    Bytes file;
    Expected want;
};

// Every stack the end of a file can hold, and the damaged ones. Offsets are
// written out from the sizes of the parts in front of them.
std::vector<StackCase> Stacks() {
    const Bytes audio = Audio(kAudio);
    const auto l3 = static_cast<std::int64_t>(kLyrics.size());
    const std::int64_t items = kAudio + 32;  // behind the APE header
    std::vector<StackCase> cases = {
        {"nothing", audio, {0, 0, false, false, false, false, 0, kAudio}},
        {"ID3v1", Cat({audio, Id3v1()}), {128, 0, false, false, false, false, 0, kAudio}},
        // A Lyrics3 block is only found through the ID3v1 block behind it.
        {"Lyrics3 alone",
         Cat({audio, kLyrics}),
         {0, 0, false, false, false, false, 0, kAudio + l3}},
        {"Lyrics3, ID3v1",
         Cat({audio, kLyrics, Id3v1()}),
         {128, l3, false, false, false, false, 0, kAudio}},
        {"APE", Cat({audio, kApe}), {0, 0, false, true, false, true, items, kAudio}},
        {"APE, ID3v1",
         Cat({audio, kApe, Id3v1()}),
         {128, 0, false, true, false, true, items, kAudio}},
        // The block hides the APE footer: neither is found.
        {"APE, Lyrics3",
         Cat({audio, kApe, kLyrics}),
         {0, 0, false, false, false, false, 0, kAudio + 64 + kApeItems + l3}},
        {"APE, Lyrics3, ID3v1",
         Cat({audio, kApe, kLyrics, Id3v1()}),
         {128, l3, false, true, false, true, items, kAudio}},

        {"Lyrics3 size digits are garbage",
         Cat({audio, Lyrics3("LYR00001x", "00a020"), Id3v1()}),
         {128, 0, true, false, false, false, 0, kAudio + 35}},
        {"Lyrics3 size reaches before the file",
         Cat({audio, Lyrics3("LYR00001x", "999999"), Id3v1()}),
         {128, 0, true, false, false, false, 0, kAudio + 35}},
        {"Lyrics3 start mark not where the size says",
         Cat({audio, Lyrics3("LYR00001x", "000021"), Id3v1()}),
         {128, 0, false, false, false, false, 0, kAudio + 35}},
        {"APE tag size past the file start",
         Cat({Audio(10), ApeBlock(5000, 0)}),
         {0, 0, false, true, true, false, 0, 42}},
        {"APE tag size below its footer",
         Cat({audio, ApeBlock(31, 0), Id3v1()}),
         {128, 0, false, true, true, false, 0, kAudio + 32}},
        // Trusting the flag alone would count 32 bytes of audio as the header.
        {"APE header flagged but missing",
         Cat({audio, ApeBlock(32, apetag::kFlagHasHeader)}),
         {0, 0, false, true, false, false, kAudio, kAudio}},
        {"APE header at the end is no footer",
         Cat({audio, ApeBlock(32, apetag::kFlagIsHeader)}),
         {0, 0, false, false, false, false, 0, kAudio + 32}},
        {"APE header in front of ID3v1 is no footer",
         Cat({audio, ApeBlock(32, apetag::kFlagIsHeader), Id3v1()}),
         {128, 0, false, false, false, false, 0, kAudio + 32}},

        {"empty file", {}, {0, 0, false, false, false, false, 0, 0}},
        {"shorter than 128 bytes, starting with TAG",
         Cat({ToBytes("TAG"), Audio(97)}),
         {0, 0, false, false, false, false, 0, 100}},
        {"shorter than 128 bytes, APE",
         Cat({Audio(20), apetag::BuildTag({})}),
         {0, 0, false, true, false, true, 52, 20}},
        {"ID3v1 alone", Id3v1(), {128, 0, false, false, false, false, 0, 0}},
        // The smallest block (no fields) and the ID3v1 block: 154 bytes.
        {"Lyrics3 at the threshold size",
         Cat({Lyrics3(""), Id3v1()}),
         {128, 26, false, false, false, false, 0, 0}},
        // One byte less cannot hold a block: what ends like one is audio.
        {"Lyrics3 end mark below the threshold size",
         Cat({Audio(10), ToBytes("000011LYRICS200"), Id3v1()}),
         {128, 0, false, false, false, false, 0, 25}},
        {"Lyrics3 garbage digits below the threshold size",
         Cat({Audio(10), ToBytes("abcdefLYRICS200"), Id3v1()}),
         {128, 0, false, false, false, false, 0, 25}},
    };
    // An APE value holding "TAG" where an ID3v1 block would start: the
    // footer at the end rules the ID3v1 block out.
    std::string value(200, 'c');
    value.replace(value.size() - 96, 3, "TAG");
    cases.push_back({"TAG inside an APE value",
                     Cat({audio, apetag::BuildTag({{"Comment", 0, value}})}),
                     {0, 0, false, true, false, true, items, kAudio}});
    return cases;
}

void ExpectLayout(const tail::Layout& got, const Expected& want, std::int64_t fileSize) {
    EXPECT_EQ(got.fileSize, fileSize);
    EXPECT_EQ(got.id3v1Size, want.id3v1Size);
    EXPECT_EQ(got.lyrics3Size, want.lyrics3Size);
    EXPECT_EQ(got.lyrics3Damaged, want.lyrics3Damaged);
    EXPECT_EQ(got.hasApe, want.hasApe);
    EXPECT_EQ(got.apeDamaged, want.apeDamaged);
    EXPECT_EQ(got.hasApeHeader, want.hasApeHeader);
    EXPECT_EQ(got.itemsStart, want.itemsStart);
    EXPECT_EQ(got.tagStart, want.tagStart);
    EXPECT_EQ(got.fault, tail::ReadFault::None);
    EXPECT_EQ(got.Id3v1Offset(), fileSize - want.id3v1Size);
    EXPECT_EQ(got.Lyrics3Offset(), fileSize - want.id3v1Size - want.lyrics3Size);
}

TEST(TailLocator, FindsEveryStackFromTheEnd) {
    for (const auto& c : Stacks()) {
        SCOPED_TRACE(c.name);
        const auto size = static_cast<std::int64_t>(c.file.size());
        const tail::Layout got = tail::Locate(c.file);
        ExpectLayout(got, c.want, size);
        if (got.hasApe && !got.apeDamaged) {
            // The footer sits right in front of the Lyrics3 and ID3v1 blocks.
            const auto at = static_cast<std::size_t>(got.ApeFooterOffset());
            ASSERT_LE(at + 32, c.file.size());
            const auto footer = tail::ParseApeFooter(std::span(c.file).subspan(at, 32));
            ASSERT_TRUE(footer);
            EXPECT_EQ(got.itemsStart + footer->tagSize, got.ApeFooterOffset() + 32);
        }
    }
}

// The bytes of a file in memory; a read at `failAt` fails, and every byte
// read is counted.
class ProbeSource : public MemorySource {
public:
    explicit ProbeSource(const Bytes& file, std::int64_t failAt = -1)
        : MemorySource(file), failAt_(failAt) {}
    bool ReadInto(std::int64_t offset, std::uint8_t* dst, std::size_t count) const override {
        total += count;
        return offset != failAt_ && MemorySource::ReadInto(offset, dst, count);
    }
    mutable std::size_t total = 0;

private:
    std::int64_t failAt_;
};

TEST(TailLocator, ReadFailuresSayWhatWasNotLookedFor) {
    const Bytes file = Cat({Audio(kAudio), kApe, kLyrics, Id3v1()});
    const auto size = static_cast<std::int64_t>(file.size());
    const std::int64_t v1 = size - 128;
    const std::int64_t l3 = v1 - static_cast<std::int64_t>(kLyrics.size());
    const struct {
        const char* name;
        std::int64_t failAt;
        tail::ReadFault fault;
        std::int64_t id3v1Size, lyrics3Size;
        bool hasApe;
    } cases[] = {
        {"last bytes", size - 32, tail::ReadFault::End, 0, 0, false},
        {"ID3v1 mark", v1, tail::ReadFault::End, 0, 0, false},
        {"Lyrics3 footer", v1 - 15, tail::ReadFault::Lyrics3, 128, 0, false},
        {"Lyrics3 start mark", l3, tail::ReadFault::Lyrics3, 128, 0, false},
        {"APE footer", l3 - 32, tail::ReadFault::Ape, 128,
         static_cast<std::int64_t>(kLyrics.size()), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto layout = tail::Locate(ProbeSource(file, c.failAt));
        EXPECT_EQ(layout.fault, c.fault);
        EXPECT_EQ(layout.id3v1Size, c.id3v1Size);
        EXPECT_EQ(layout.lyrics3Size, c.lyrics3Size);
        EXPECT_EQ(layout.hasApe, c.hasApe);
    }
    // An unreadable APE header counts as missing, never as 32 bytes of tag.
    const std::int64_t header = size - 128 - static_cast<std::int64_t>(kLyrics.size()) -
                                static_cast<std::int64_t>(kApe.size());
    const auto layout = tail::Locate(ProbeSource(file, header));
    EXPECT_EQ(layout.fault, tail::ReadFault::None);
    EXPECT_TRUE(layout.hasApe);
    EXPECT_FALSE(layout.hasApeHeader);
    EXPECT_EQ(layout.tagStart, header + 32);
}

TEST(TailLocator, Id3v1AndLyrics3ScopeReadsOnlyTheirMarks) {
    const Bytes file = Cat({Audio(kAudio), kApe, kLyrics, Id3v1()});
    const ProbeSource source(file);
    const auto layout = tail::Locate(source, tail::Scope::Id3v1AndLyrics3);
    EXPECT_EQ(layout.id3v1Size, 128);
    EXPECT_EQ(layout.lyrics3Size, static_cast<std::int64_t>(kLyrics.size()));
    EXPECT_FALSE(layout.hasApe);
    EXPECT_EQ(source.total, 3u + 15u + 11u);
}

// The readers of the end of a file see the same tags in every stack.
TEST(TailLocator, ComponentsAgreeOnEveryStack) {
    TempDir dir;
    for (const auto& c : Stacks()) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("stack.mp3");
        WriteAll(path, c.file);
        const auto size = static_cast<std::int64_t>(c.file.size());

        Id3v1Tag v1;
        v1.setFilename(path);
        EXPECT_EQ(v1.Valid(), c.want.id3v1Size != 0) << v1.Error();
        EXPECT_EQ(v1.Lyrics(),
                  c.want.lyrics3Size == static_cast<std::int64_t>(kLyrics.size()) ? "words" : "");
        EXPECT_EQ(v1.Error() == "MP3 Lyrics3 Error", c.want.lyrics3Damaged);

        MpegInfo mpeg;
        mpeg.setFileName(path);
        // Every trailing block is excluded from the audio.
        EXPECT_EQ(mpeg.TrailingTagSize(), size - c.want.tagStart);

        auto file = File::Open(path, File::Mode::Read);
        ASSERT_TRUE(file);
        const auto ape = apetag::LocateTail(*file);
        if (size < 32 || (!c.want.hasApe && size < 128)) {
            EXPECT_FALSE(ape);
        } else {
            ASSERT_TRUE(ape);
            ExpectLayout(*ape, c.want, size);
        }
    }
}

// An ID3v2 tag whose padding holds `planted` (a start mark, an APE header):
// the trailing blocks below reach back into it by their sizes alone.
Bytes Id3v2With(const Bytes& planted) {
    Bytes b = ToBytes("ID3");
    b.insert(b.end(), {3, 0, 0, 0, 0, 0, 0});
    Bytes body(200, 0);
    std::copy(planted.begin(), planted.end(), body.begin() + 50);
    b[9] = static_cast<std::uint8_t>(body.size() & 0x7F);
    b[8] = static_cast<std::uint8_t>(body.size() >> 7);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

// Blocks whose sizes point into the ID3v2 tag in front of the audio: taken
// for tags, a save or removal would cut the audio away. They count as
// damaged and the tail in front of them as audio.
TEST(TailLocator, BlocksReachingIntoTheId3v2TagAreDamaged) {
    const Bytes head = Id3v2With(ToBytes("LYRICSBEGIN"));
    const Bytes audio = Audio(kAudio);
    const std::int64_t begin = 10 + 50;  // the planted start mark
    const std::int64_t toEnd = static_cast<std::int64_t>(head.size() + audio.size()) - begin;
    char digits[24];
    std::snprintf(digits, sizeof digits, "%06lld", static_cast<long long>(toEnd));
    const Bytes lyricsFooter = ToBytes(std::string(digits) + "LYRICS200");
    const Bytes apeFooter = ApeBlock(static_cast<std::uint32_t>(toEnd + 32), 0);

    struct Case {
        const char* name;
        Bytes file;
        bool lyrics3Damaged;
        bool apeDamaged;
    };
    const Case cases[] = {
        {"Lyrics3 footer", Cat({head, audio, lyricsFooter, Id3v1()}), true, false},
        {"APE footer", Cat({head, audio, apeFooter}), false, true},
        {"APE footer before ID3v1", Cat({head, audio, apeFooter, Id3v1()}), false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const tail::Layout layout = tail::Locate(ByteView(c.file));
        EXPECT_EQ(layout.lyrics3Damaged, c.lyrics3Damaged);
        EXPECT_EQ(layout.lyrics3Size, 0);
        EXPECT_EQ(layout.apeDamaged, c.apeDamaged);
        EXPECT_GE(layout.tagStart, static_cast<std::int64_t>(head.size() + audio.size()));
    }

    // Through the ID3v1 component: a save and a removal change only the
    // 128-byte block at the end.
    const Bytes& crafted = cases[0].file;
    const Bytes kept(crafted.begin(), crafted.end() - 128);
    for (const bool remove : {false, true}) {
        SCOPED_TRACE(remove ? "remove" : "save");
        TempDir dir;
        const auto path = dir.file("crafted.mp3");
        WriteAll(path, crafted);
        Id3v1Tag tag;
        tag.setFilename(path);
        if (remove) {
            EXPECT_TRUE(tag.RemoveTag()) << tag.Error();
        } else {
            tag.setTitle("New");
            EXPECT_TRUE(tag.WriteTag()) << tag.Error();
        }
        const Bytes after = test::ReadAll(path);
        ASSERT_GE(after.size(), kept.size()) << "the file was cut into its audio";
        EXPECT_TRUE(std::equal(kept.begin(), kept.end(), after.begin()));
    }
}

}  // namespace
}  // namespace sondrel
