// SPDX-License-Identifier: GPL-3.0-or-later
// Crafted ends of MP3 files: a Lyrics3 v2 or APE footer whose declared size
// reaches back into the first MPEG frames, and an APE footer announcing a
// header that is not one. None counts as a tag, so a save or removal never
// shortens the file by more than the blocks that really are tags.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "support/test_support.h"
#include "tags/ape_tag.h"
#include "tags/tail_locator.h"

namespace sondrel {
namespace {

using test::ReadAll;
using test::ShellQuote;
using test::TempDir;
using test::ToBytes;
using test::WriteAll;

constexpr std::size_t kFrameBytes = 417;  // MPEG-1 Layer III, 128 kbit/s, 44.1 kHz
constexpr std::size_t kFrames = 12;
// Where the planted start mark sits: inside the second frame.
constexpr std::size_t kPlantAt = kFrameBytes + 100;

Bytes Frames() {
    Bytes frame(kFrameBytes, 0);
    frame[0] = 0xFF;
    frame[1] = 0xFB;
    frame[2] = 0x90;
    Bytes out;
    for (std::size_t i = 0; i < kFrames; ++i)
        out.insert(out.end(), frame.begin(), frame.end());
    return out;
}

// The frames with "LYRICSBEGIN" planted in the second one.
Bytes PlantedFrames() {
    Bytes audio = Frames();
    const Bytes mark = ToBytes("LYRICSBEGIN");
    std::copy(mark.begin(), mark.end(), audio.begin() + kPlantAt);
    return audio;
}

// A small ID3v2.3 tag: header and 50 bytes of padding.
Bytes Id3v2() {
    Bytes b = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 50};
    b.resize(60, 0);
    return b;
}

Bytes Id3v1() {
    return test::Id3v1Block({.title = "Old"});
}

std::string Digits6(std::size_t n) {
    char text[16];
    std::snprintf(text, sizeof text, "%06zu", n);
    return text;
}

Bytes ApeBlock(std::uint32_t tagSize, std::uint32_t items, std::uint32_t flags) {
    Bytes b = ToBytes("APETAGEX");
    for (std::uint32_t v : {2000u, tagSize, items, flags})
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    b.resize(32, 0);
    return b;
}

struct Crafted {
    const char* name;
    Bytes file;
    // Every byte in front of this is audio or another tag, never to be cut.
    std::size_t keep;
    bool lyrics3Damaged;
    bool apeDamaged;
    bool apeHeader;
    const char* removal;  // the tool's removal that reaches the crafted block
};

std::vector<Crafted> CraftedFiles() {
    std::vector<Crafted> out;
    {
        // The size digits point back to the planted start mark.
        const Bytes audio = PlantedFrames();
        const Bytes footer = ToBytes(Digits6(audio.size() - kPlantAt) + "LYRICS200");
        out.push_back({"Lyrics3 footer reaching into the first frames",
                       test::Concat({audio, footer, Id3v1()}), audio.size() + footer.size(), true,
                       false, false, "--id3v1"});
    }
    {
        const Bytes head = Id3v2();
        const Bytes audio = PlantedFrames();
        const Bytes footer = ToBytes(Digits6(audio.size() - kPlantAt) + "LYRICS200");
        out.push_back({"the same behind an ID3v2 tag", test::Concat({head, audio, footer, Id3v1()}),
                       head.size() + audio.size() + footer.size(), true, false, false, "--id3v1"});
    }
    {
        const Bytes audio = Frames();
        const Bytes footer =
            ApeBlock(static_cast<std::uint32_t>(audio.size() - kPlantAt + 32), 1, 0);
        out.push_back({"APE footer reaching into the first frames",
                       test::Concat({audio, footer, Id3v1()}), audio.size() + 32, false, true,
                       false, "--ape"});
    }
    {
        // An earlier tag's footer stands where the header would be.
        const Bytes audio = Frames();
        const Bytes earlier = apetag::BuildTag({{"Title", 0, "earlier"}});
        const Bytes later = apetag::BuildTag({{"Title", 0, "later"}});
        const Bytes laterItems(later.begin() + 32, later.end());  // header left out
        out.push_back({"APE header flag over another tag's footer",
                       test::Concat({audio, earlier, laterItems}), audio.size() + earlier.size(),
                       false, false, false, "--ape"});
    }
    {
        // A header whose sizes disagree with the footer's.
        const Bytes audio = Frames();
        const Bytes tag = apetag::BuildTag({{"Title", 0, "sizes"}});
        Bytes header = ApeBlock(999, 7, tail::kApeFlagHasHeader | tail::kApeFlagIsHeader);
        const Bytes items(tag.begin() + 32, tag.end());
        out.push_back({"APE header disagreeing with its footer",
                       test::Concat({audio, header, items}), audio.size() + header.size(), false,
                       false, false, "--ape"});
    }
    return out;
}

TEST(TrailingBounds, CraftedBlocksAreNotTakenForTags) {
    for (const Crafted& c : CraftedFiles()) {
        SCOPED_TRACE(c.name);
        const tail::Layout layout = tail::Locate(ByteView(c.file));
        EXPECT_EQ(layout.lyrics3Damaged, c.lyrics3Damaged);
        EXPECT_EQ(layout.apeDamaged, c.apeDamaged);
        EXPECT_EQ(layout.hasApeHeader, c.apeHeader);
        EXPECT_GE(layout.tagStart, static_cast<std::int64_t>(c.keep));
        EXPECT_GE(layout.Lyrics3Offset(), static_cast<std::int64_t>(c.keep));
    }
}

// A real tag behind real frames is still found whole: the bound stops at the
// frames, not at the tags.
TEST(TrailingBounds, GenuineBlocksBehindTheFramesStayTags) {
    const Bytes audio = Frames();
    const Bytes lyrics = ToBytes("LYRICSBEGININD0000210LYR00005words" + Digits6(34) + "LYRICS200");
    const Bytes ape = apetag::BuildTag({{"Title", 0, "A title"}});
    const Bytes file = test::Concat({Id3v2(), audio, ape, lyrics, Id3v1()});
    const tail::Layout layout = tail::Locate(ByteView(file));
    EXPECT_FALSE(layout.lyrics3Damaged);
    EXPECT_EQ(layout.lyrics3Size, static_cast<std::int64_t>(lyrics.size()));
    EXPECT_FALSE(layout.apeDamaged);
    EXPECT_TRUE(layout.hasApeHeader);
    EXPECT_EQ(layout.tagStart, static_cast<std::int64_t>(60 + audio.size()));
}

// Through the tool, as a user would meet such a file: a save of the ID3v1
// tag and the removal that reaches the crafted block keep every byte in
// front of the real tags.
TEST(TrailingBounds, SavesAndRemovalsKeepEveryByteInFront) {
    const std::string tool = test::CliTool();
    if (tool.empty())
        GTEST_SKIP() << "sondrel-tag was not built";
    for (const Crafted& c : CraftedFiles()) {
        SCOPED_TRACE(c.name);
        const Bytes kept(c.file.begin(), c.file.begin() + static_cast<std::ptrdiff_t>(c.keep));
        for (const std::string& args :
             {std::string("set --save 1 --title New"), std::string("remove ") + c.removal}) {
            SCOPED_TRACE(args);
            TempDir dir;
            const std::string path = dir.file("crafted.mp3");
            WriteAll(path, c.file);
            const auto r =
                test::RunCommand(ShellQuote(tool) + " " + args + " " + ShellQuote(path) + " 2>&1");
            const Bytes after = ReadAll(path);
            ASSERT_GE(after.size(), kept.size()) << "the file was cut into its audio: " << r.output;
            EXPECT_TRUE(std::equal(kept.begin(), kept.end(), after.begin())) << r.output;
        }
    }
}

}  // namespace
}  // namespace sondrel
