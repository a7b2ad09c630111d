// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/ape.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace sondrel {
namespace {

using test::Bytes;
using test::ReadAll;
using test::TempDir;
using test::ToBytes;
using test::WriteAll;

void Put16(Bytes& b, unsigned v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Append(Bytes& b, const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
}
std::uint32_t Get32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

struct MacHeader {
    unsigned version = 3990;
    unsigned level = 2000;
    unsigned flags = 0;
    unsigned channels = 2;
    std::uint32_t rate = 44100;
    std::uint32_t totalFrames = 10;
    std::uint32_t finalBlocks = 1000;
    std::uint32_t blocksPerFrame = 294912;  // only the descriptor layout stores it
};

// A Monkey's Audio stream header in the layout its version uses, followed by
// some stand-in audio bytes.
Bytes MacFile(const MacHeader& h, std::size_t audio = 300) {
    Bytes b;
    Append(b, "MAC ");
    Put16(b, h.version);
    if (h.version < 3980) {
        Put16(b, h.level);
        Put16(b, h.flags);
        Put16(b, h.channels);
        Put32(b, h.rate);
        Put32(b, 0);  // header bytes
        Put32(b, 0);  // terminating bytes
        Put32(b, h.totalFrames);
        Put32(b, h.finalBlocks);
        Put32(b, 0);  // peak level
        Put32(b, 0);  // seek elements
    } else {
        Put16(b, 0);  // padding
        Put32(b, 52);
        Put32(b, 24);
        for (int i = 0; i < 5; ++i)
            Put32(b, 0);
        b.insert(b.end(), 16, 0xAB);  // MD5
        Put16(b, h.level);
        Put16(b, h.flags);
        Put32(b, h.blocksPerFrame);
        Put32(b, h.finalBlocks);
        Put32(b, h.totalFrames);
        Put16(b, 16);
        Put16(b, h.channels);
        Put32(b, h.rate);
    }
    for (std::size_t i = 0; i < audio; ++i)
        b.push_back(static_cast<std::uint8_t>(i * 7 + 3));
    return b;
}

struct RawItem {
    std::string key;
    std::string value;
    std::uint32_t flags = 0;
};

// An APE tag as other writers lay it out; built here rather than by the
// code under test so the reader is checked against the format itself.
Bytes ApeTag(std::uint32_t version, const std::vector<RawItem>& items, bool header) {
    Bytes body;
    for (const auto& it : items) {
        Put32(body, static_cast<std::uint32_t>(it.value.size()));
        Put32(body, it.flags);
        Append(body, it.key);
        body.push_back(0);
        Append(body, it.value);
    }
    auto frame = [&](bool isHeader) {
        Bytes f;
        Append(f, "APETAGEX");
        Put32(f, version);
        Put32(f, static_cast<std::uint32_t>(body.size() + 32));
        Put32(f, static_cast<std::uint32_t>(items.size()));
        Put32(f, (header ? 0x80000000u : 0) | (isHeader ? 0x20000000u : 0));
        f.insert(f.end(), 8, 0);
        return f;
    };
    Bytes out;
    if (header) {
        auto h = frame(true);
        out.insert(out.end(), h.begin(), h.end());
    }
    out.insert(out.end(), body.begin(), body.end());
    auto f = frame(false);
    out.insert(out.end(), f.begin(), f.end());
    return out;
}

Bytes Id3v1(const std::string& title, const std::string& artist, const std::string& comment,
            std::uint8_t track, std::uint8_t genre, const std::string& year = "1999") {
    test::Id3v1Values values{title, artist, "Album v1", year, comment};
    if (track != 0) {
        values.b125 = 0;
        values.b126 = track;
    }
    values.genre = genre;
    return test::Id3v1Block(values);
}

using test::Concat;

// ---------------------------------------------------------------- stream header

struct StreamCase {
    const char* name;
    MacHeader header;
    bool valid;
    const char* apeVersion;
    const char* compression;
    const char* channelMode;
    int bits;
    std::int64_t blocksPerFrame;
    std::int64_t totalSamples;
    double seconds;
    const char* duration;
};

class ApeStreamTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(ApeStreamTest, ReadsHeader) {
    const StreamCase& c = GetParam();
    TempDir dir;
    const std::string path = dir.file("a.ape");
    WriteAll(path, MacFile(c.header));
    MonkeysAudioTag ape;
    ape.setFilename(path);
    EXPECT_EQ(ape.Valid(), c.valid);
    EXPECT_EQ(ape.APEVersion(), c.apeVersion);
    EXPECT_EQ(ape.Compression(), c.compression);
    EXPECT_EQ(ape.ChannelMode(), c.channelMode);
    EXPECT_EQ(ape.Bits(), c.bits);
    EXPECT_EQ(ape.BlocksPerFrame(), c.blocksPerFrame);
    EXPECT_EQ(ape.TotalSamples(), c.totalSamples);
    EXPECT_NEAR(ape.DurationInSeconds(), c.seconds, 0.001);
    EXPECT_EQ(ape.Duration(), c.duration);
    EXPECT_EQ(ape.FileLength(), static_cast<std::int64_t>(ReadAll(path).size()));
    EXPECT_TRUE(ape.error().empty());
}

MacHeader H(unsigned version, unsigned level, unsigned flags = 0, unsigned channels = 2,
            std::uint32_t rate = 44100, std::uint32_t frames = 10) {
    MacHeader h;
    h.version = version;
    h.level = level;
    h.flags = flags;
    h.channels = channels;
    h.rate = rate;
    h.totalFrames = frames;
    return h;
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ApeStreamTest,
    ::testing::Values(StreamCase{"descriptor_3990", H(3990, 2000), true, "3.99", "Normal", "Stereo",
                                 16, 294912, 2655208, 60.209, "00:01:00"},
                      StreamCase{"old_3970", H(3970, 1000), true, "3.97", "Fast", "Stereo", 16,
                                 294912, 2655208, 60.209, "00:01:00"},
                      StreamCase{"old_3900", H(3900, 3000, 0, 1), true, "3.90", "High", "Mono", 16,
                                 73728, 664552, 15.069, "00:00:15"},
                      StreamCase{"old_3800_extra_high", H(3800, 4000), true, "3.80", "Extra High",
                                 "Stereo", 16, 73728, 664552, 15.069, "00:00:15"},
                      StreamCase{"old_3800_high", H(3800, 3000), true, "3.80", "High", "Stereo", 16,
                                 9216, 83944, 1.903, "00:00:01"},
                      StreamCase{"old_8bit", H(3970, 2000, 1), true, "3.97", "Normal", "Stereo", 8,
                                 294912, 2655208, 60.209, "00:01:00"},
                      StreamCase{"new_24bit_level_5000", H(3990, 5000, 8, 6), true, "3.99",
                                 "Unknown", "Unknown", 24, 294912, 2655208, 60.209, "00:01:00"},
                      StreamCase{"new_rate_zero", H(3990, 2000, 0, 2, 0), true, "3.99", "Normal",
                                 "Stereo", 16, 294912, 2655208, 0, "00:00:00"},
                      StreamCase{"new_no_frames", H(3990, 2000, 0, 2, 44100, 0), true, "3.99",
                                 "Normal", "Stereo", 16, 294912, 0, 0, "00:00:00"},
                      StreamCase{"old_rate_zero_invalid", H(3970, 2000, 0, 2, 0), false, "", "", "",
                                 0, 0, 0, 0, "00:00:00"},
                      StreamCase{"old_no_channels_invalid", H(3970, 2000, 0, 0), false, "", "", "",
                                 0, 0, 0, 0, "00:00:00"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ApeStream, HeaderBehindId3v2AndBadInputs) {
    TempDir dir;
    // An ID3v2 tag of 10 + 300 bytes in front of the stream header.
    Bytes id3 = {'I', 'D', '3', 3, 0, 0, 0, 0, 2, 44};
    id3.resize(310, 0);
    const std::string tagged = dir.file("tagged.ape");
    WriteAll(tagged, Concat({id3, MacFile(H(3990, 2000))}));
    MonkeysAudioTag ape;
    ape.setFilename(tagged);
    EXPECT_TRUE(ape.Valid());
    EXPECT_EQ(ape.id3v2(), 310);
    EXPECT_EQ(ape.TotalSamples(), 2655208);

    Bytes noMagic = MacFile(H(3990, 2000));
    noMagic[0] = 'X';
    const std::string bad = dir.file("bad.ape");
    WriteAll(bad, noMagic);
    ape.setFilename(bad);
    EXPECT_FALSE(ape.Valid());
    EXPECT_EQ(ape.Frequency(), 0u);
    EXPECT_TRUE(ape.ValidTag());  // the tag is still looked for

    // Descriptor layout cut off inside the header.
    Bytes shortFile = MacFile(H(3990, 2000), 0);
    shortFile.resize(60);
    WriteAll(bad, shortFile);
    ape.setFilename(bad);
    EXPECT_FALSE(ape.Valid());
}

// Frame fields near their 32-bit limits: the sample count is exact while it
// fits the signed property, and a damaged header whose product does not fit
// reads as length zero rather than overflowing or going negative.
TEST(ApeStream, ExtremeFrameCounts) {
    struct Case {
        std::uint32_t frames, blocksPerFrame, finalBlocks;
        std::int64_t samples;
    };
    const Case cases[] = {
        {0x80000000u, 0xFFFFFFFFu, 1000, 9223372030412325865},
        {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0},
        {3789214667u, 2846006164u, 7, 0},  // the fuzzer's header
        {1, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFF},
    };
    TempDir dir;
    const std::string path = dir.file("a.ape");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.frames) + " x " + std::to_string(c.blocksPerFrame));
        MacHeader h;
        h.totalFrames = c.frames;
        h.blocksPerFrame = c.blocksPerFrame;
        h.finalBlocks = c.finalBlocks;
        WriteAll(path, MacFile(h));
        MonkeysAudioTag ape;
        ape.setFilename(path);
        EXPECT_TRUE(ape.Valid());
        EXPECT_EQ(ape.TotalSamples(), c.samples);
        EXPECT_EQ(ape.DurationInSeconds() > 0, c.samples > 0);
    }
}

// ---------------------------------------------------------------- tag reading

TEST(ApeRead, Version2ItemsOverId3v1) {
    TempDir dir;
    const std::string path = dir.file("a.ape");
    const Bytes tag = ApeTag(2000,
                             {{"Title", "Caf\xC3\xA9 \xE2\x99\xAB"},
                              {"ARTIST", "  Someone\n"},
                              {"album", "Album"},
                              {"Track", "7/12"},
                              {"Year", "2004"},
                              {"Genre", "rock"},
                              {"Comment", "line 1\r\nline 2"},
                              {"Copyright", "(c)"},
                              {"Composer", "Comp"},
                              {"OrigArtist", "Orig"},
                              {"URL", "http://x"},
                              {"EncodedBy", "Enc"},
                              {"Lyrics", "la la"},
                              {"Subtitle", "skipped"},
                              {"Title", "Caf\xC3\xA9 \xE2\x99\xAB"}},
                             true);
    WriteAll(path, Concat({MacFile(H(3990, 2000)), tag, Id3v1("v1 title", "v1", "c", 3, 5)}));
    MonkeysAudioTag ape;
    ape.setFilename(path);
    EXPECT_TRUE(ape.Valid());
    EXPECT_TRUE(ape.ValidTag());
    EXPECT_EQ(ape.Version(), 2000u);
    EXPECT_EQ(ape.Size(), Get32(tag, 12));
    EXPECT_EQ(ape.id3v1(), 128);
    EXPECT_EQ(ape.Title(), "Caf\xC3\xA9 \xE2\x99\xAB");
    EXPECT_EQ(ape.Artist(), "Someone");
    EXPECT_EQ(ape.Album(), "Album");
    EXPECT_EQ(ape.Track(), 7);
    EXPECT_EQ(ape.Year(), "2004");
    EXPECT_EQ(ape.Genre(), "rock");
    EXPECT_EQ(ape.GenreID(), 17);  // genre names match without regard to case
    EXPECT_EQ(ape.Comment(), "line 1\r\nline 2");
    EXPECT_EQ(ape.Copyright(), "(c)");
    EXPECT_EQ(ape.Composer(), "Comp");
    EXPECT_EQ(ape.OrigArtist(), "Orig");
    EXPECT_EQ(ape.URL(), "http://x");
    EXPECT_EQ(ape.EncodedBy(), "Enc");
    EXPECT_EQ(ape.Lyrics(), "la la");
}

TEST(ApeRead, OtherItemsAreTheKeysOutsideTheTableInFileOrder) {
    TempDir dir;
    const std::string path = dir.file("a.ape");
    WriteAll(path, Concat({MacFile(H(3990, 2000)), ApeTag(2000,
                                                          {{"DISCNUMBER", "1/2"},
                                                           {"title", "T"},
                                                           {"Cover Art (Front)", "x", 2},
                                                           {"Album Artist", "AA"},
                                                           {"Lyrics", "la"},
                                                           {"REPLAYGAIN_TRACK_GAIN", "-6 dB"}},
                                                          true)}));
    MonkeysAudioTag ape;
    ape.setFilename(path);
    EXPECT_EQ(ape.OtherItems(),
              (std::vector<std::string>{"DISCNUMBER", "Cover Art (Front)", "Album Artist",
                                        "REPLAYGAIN_TRACK_GAIN"}));
    // Without an APE tag there is nothing to list, even after a tag had some.
    WriteAll(path, Concat({MacFile(H(3990, 2000)), Id3v1("t", "a", "c", 1, 2)}));
    ape.setFilename(path);
    EXPECT_TRUE(ape.ValidTag());
    EXPECT_TRUE(ape.OtherItems().empty());
}

TEST(ApeRead, Version1ValuesUseLegacyCodePage) {
    TempDir dir;
    const std::string path = dir.file("a.ape");
    // Version 1.0 writers stored the text with a zero byte at its end.
    WriteAll(path, Concat({MacFile(H(3970, 2000)),
                           ApeTag(1000, {{"Title", std::string("Caf\xE9\0", 5)}}, false)}));
    MonkeysAudioTag ape;
    ape.setFilename(path);
    EXPECT_EQ(ape.Version(), 1000u);
    EXPECT_EQ(ape.Title(), "Caf\xC3\xA9");
    EXPECT_EQ(ape.id3v1(), 0);
    EXPECT_EQ(ape.GenreID(), 12);
}

TEST(ApeRead, Id3v1Fallback) {
    TempDir dir;
    const std::string path = dir.file("a.ape");
    WriteAll(path, Concat({MacFile(H(3990, 2000)), Id3v1("Title 1", "Artist\xE9", "Note", 9, 17)}));
    MonkeysAudioTag ape;
    ape.setFilename(path);
    EXPECT_EQ(ape.Version(), 0u);
    EXPECT_EQ(ape.id3v1(), 128);
    EXPECT_EQ(ape.Title(), "Title 1");
    EXPECT_EQ(ape.Artist(), "Artist\xC3\xA9");
    EXPECT_EQ(ape.Album(), "Album v1");
    EXPECT_EQ(ape.Year(), "1999");
    EXPECT_EQ(ape.Comment(), "Note");
    EXPECT_EQ(ape.Track(), 9);
    EXPECT_EQ(ape.GenreID(), 17);
    EXPECT_EQ(ape.Genre(), "");

    // Genre byte out of the table, and a comment that fills all 30 bytes
    // (no track byte then).
    WriteAll(path, Concat({MacFile(H(3990, 2000)),
                           Id3v1("T", "A", "123456789012345678901234567890", 0, 200)}));
    ape.setFilename(path);
    EXPECT_EQ(ape.Track(), 0);
    EXPECT_EQ(ape.Comment(), "123456789012345678901234567890");
    EXPECT_EQ(ape.GenreID(), 12);
}

TEST(ApeRead, ApeTagReplacesId3v1FieldsEvenWhenEmpty) {
    TempDir dir;
    const std::string path = dir.file("a.ape");
    WriteAll(path, Concat({MacFile(H(3990, 2000)), ApeTag(2000, {{"Artist", "APE"}}, false),
                           Id3v1("v1 title", "v1", "c", 3, 5)}));
    MonkeysAudioTag ape;
    ape.setFilename(path);
    EXPECT_EQ(ape.Artist(), "APE");
    EXPECT_EQ(ape.Title(), "");
    EXPECT_EQ(ape.Track(), 0);
    EXPECT_EQ(ape.GenreID(), 12);
}

TEST(ApeRead, TrackAndValueRules) {
    struct Case {
        std::string item;
        std::uint8_t track;
    };
    const Case cases[] = {{"7/12", 7}, {"abc", 0}, {"300", 44},  {"", 0},
                          {"12", 12},  {"/5", 0},  {"3 / 9", 3}, {"99999999999", 0}};
    TempDir dir;
    const std::string path = dir.file("a.ape");
    MonkeysAudioTag ape;
    for (const auto& c : cases) {
        WriteAll(path, Concat({MacFile(H(3990, 2000)), ApeTag(2000, {{"track", c.item}}, false)}));
        ape.setFilename(path);
        EXPECT_EQ(ape.Track(), c.track) << c.item;
    }
}

TEST(ApeRead, OddValues) {
    struct Case {
        const char* name;
        RawItem item;
        std::string title;
    };
    const Case cases[] = {
        {"trimmed", {"Title", std::string("\t Hello \0\0", 10)}, "Hello"},
        {"malformed_utf8_keeps_prefix",
         {"Title",
          "Ab\xFF"
          "cd"},
         "Ab"},
        {"binary_item_is_not_text", {"Title", "bytes", 2}, ""},
        {"key_with_blanks", {" title ", "spaced"}, "spaced"},
        {"long_value", {"Title", std::string(150000, 'x')}, std::string(150000, 'x')},
    };
    TempDir dir;
    const std::string path = dir.file("a.ape");
    MonkeysAudioTag ape;
    for (const auto& c : cases) {
        WriteAll(path, Concat({MacFile(H(3990, 2000)), ApeTag(2000, {c.item}, false)}));
        ape.setFilename(path);
        EXPECT_EQ(ape.Title(), c.title) << c.name;
    }
}

TEST(ApeRead, DamagedTagsNeitherCrashNorMislead) {
    TempDir dir;
    const std::string path = dir.file("a.ape");
    MonkeysAudioTag ape;

    // Item count larger than the items present: the items there are read.
    Bytes tag = ApeTag(2000, {{"Title", "One"}, {"Artist", "Two"}}, false);
    tag[tag.size() - 16] = 0xFF;  // item count low byte
    tag[tag.size() - 15] = 0xFF;
    WriteAll(path, Concat({MacFile(H(3990, 2000)), tag}));
    ape.setFilename(path);
    EXPECT_EQ(ape.Title(), "One");
    EXPECT_EQ(ape.Artist(), "Two");

    // An item whose value size runs past the tag.
    tag = ApeTag(2000, {{"Title", "One"}, {"Artist", "Two"}}, false);
    tag[0] = 0xFF;
    tag[3] = 0x7F;
    WriteAll(path, Concat({MacFile(H(3990, 2000)), tag}));
    ape.setFilename(path);
    EXPECT_TRUE(ape.ValidTag());
    EXPECT_EQ(ape.Title(), "");

    // A footer whose size is larger than the file.
    tag = ApeTag(2000, {{"Title", "One"}}, false);
    tag[tag.size() - 20] = 0xFF;
    tag[tag.size() - 17] = 0x7F;
    WriteAll(path, Concat({MacFile(H(3990, 2000)), tag}));
    ape.setFilename(path);
    EXPECT_TRUE(ape.ValidTag());
    EXPECT_EQ(ape.Version(), 0u);
    EXPECT_EQ(ape.Title(), "");

    // Too short for a footer.
    WriteAll(path, std::string("MAC "));
    ape.setFilename(path);
    EXPECT_FALSE(ape.Valid());
    EXPECT_FALSE(ape.ValidTag());
}

TEST(ApeRead, TagTextWhereId3v1WouldStartIsNoId3v1) {
    TempDir dir;
    const std::string path = dir.file("a.ape");
    // Item header 8 + "Comment\0" 8 + value 200 + footer 32: the file's
    // last 128 bytes start at value byte 104.
    std::string value(200, 'c');
    value.replace(104, 3, "TAG");
    const Bytes audio = MacFile(H(3990, 2000));
    WriteAll(path, Concat({audio, ApeTag(2000, {{"Comment", value}}, false)}));
    MonkeysAudioTag ape;
    ape.setFilename(path);
    EXPECT_EQ(ape.id3v1(), 0);
    EXPECT_EQ(ape.Comment(), value);
    ape.setTitle("t");
    ASSERT_TRUE(ape.WriteTag());
    ape.setFilename(path);
    EXPECT_EQ(ape.Comment(), value);
    EXPECT_EQ(ape.Title(), "t");
    EXPECT_EQ(ReadAll(path).size(), audio.size() + 64 + 2 * 8 + 6 + 8 + 1 + 200);
}

// A header-flagged block is no footer in front of an ID3v1 block either (it
// already was none at the very end): its size would point the items into
// the audio, and its empty "tag" would blank the ID3v1 fields.
TEST(ApeRead, ApeHeaderInFrontOfId3v1IsNoTag) {
    TempDir dir;
    const std::string path = dir.file("a.ape");
    Bytes header = ApeTag(2000, {{"Title", "APE"}}, true);
    header.resize(32);
    const Bytes front = Concat({MacFile(H(3990, 2000)), header});
    WriteAll(path, Concat({front, Id3v1("v1 title", "v1", "c", 3, 5)}));
    MonkeysAudioTag ape;
    ape.setFilename(path);
    EXPECT_TRUE(ape.ValidTag());
    EXPECT_EQ(ape.Version(), 0u);
    EXPECT_EQ(ape.Title(), "v1 title");
    EXPECT_EQ(ape.Track(), 3);
    // The stray header is kept as audio; the new tag goes in front of the
    // ID3v1 block, which stays with its title updated.
    ape.setTitle("new");
    ASSERT_TRUE(ape.WriteTag()) << ape.error();
    const Bytes after = ReadAll(path);
    ASSERT_GT(after.size(), front.size());
    EXPECT_TRUE(std::equal(front.begin(), front.end(), after.begin()));
    const Bytes v1 = Id3v1("new", "v1", "c", 3, 5);
    EXPECT_TRUE(std::equal(v1.rbegin(), v1.rend(), after.rbegin()));
    ape.setFilename(path);
    EXPECT_EQ(ape.Title(), "new");
    EXPECT_EQ(ape.id3v1(), 128);
}

TEST(ApeRead, MissingFileResetsAndStaysQuiet) {
    TempDir dir;
    const std::string good = dir.file("a.ape");
    WriteAll(good, Concat({MacFile(H(3990, 2000)), ApeTag(2000, {{"Title", "x"}}, false)}));
    MonkeysAudioTag ape;
    int errors = 0;
    int renames = 0;
    ape.onError = [&](TagComponent&, const std::string&) { ++errors; };
    ape.onFileNameChange = [&](TagComponent&) { ++renames; };
    ape.setFilename(good);
    ape.setFilename(dir.file("missing.ape"));
    EXPECT_FALSE(ape.Valid());
    EXPECT_FALSE(ape.ValidTag());
    EXPECT_EQ(ape.Title(), "");
    EXPECT_EQ(ape.GenreID(), 12);
    EXPECT_EQ(ape.Frequency(), 0u);
    EXPECT_EQ(ape.FileLength(), 0);
    EXPECT_TRUE(ape.error().empty());
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(renames, 2);
}

// ---------------------------------------------------------------- setters

TEST(ApeFields, SettersTrimNotifyAndLeaveFileAlone) {
    TempDir dir;
    const std::string path = dir.file("a.ape");
    const Bytes original = MacFile(H(3990, 2000));
    WriteAll(path, original);
    MonkeysAudioTag ape;
    ape.setFilename(path);
    int changes = 0;
    ape.onChange = [&](TagComponent&) { ++changes; };
    ape.setTitle("  \tTitle\r\n");
    ape.setLyrics("\nline 1\nline 2\n");
    ape.setTrack(5);
    ape.setGenreID(200);
    EXPECT_EQ(ape.Title(), "Title");
    EXPECT_EQ(ape.Lyrics(), "line 1\nline 2");
    EXPECT_EQ(ape.Track(), 5);
    EXPECT_EQ(ape.GenreID(), 12);
    EXPECT_EQ(changes, 4);
    EXPECT_EQ(ReadAll(path), original);

    ape.ClearTag();
    EXPECT_EQ(ape.Title(), "");
    EXPECT_EQ(ape.Track(), 0);
    EXPECT_FALSE(ape.ValidTag());
    EXPECT_TRUE(ape.Valid());  // the stream facts are not tag fields
}

TEST(ApeFields, DurationText) {
    EXPECT_EQ(apetag::FormatDuration(60.209), "00:01:00");
    EXPECT_EQ(apetag::FormatDuration(3725.99), "01:02:05");
    EXPECT_EQ(apetag::FormatDuration(-3), "00:00:00");
    EXPECT_EQ(apetag::FormatDuration(360000), "100:00:00");
}

// ---------------------------------------------------------------- saving

struct Saved {
    Bytes file;
    Bytes tag;  // header .. footer of the APE tag at the end
    std::vector<RawItem> items;
};

// Reads back what a save left, independently of the component's reader;
// a layout that does not add up is a failure, never a read out of bounds.
Saved Inspect(const std::string& path, std::size_t trailing = 0) {
    Saved s;
    s.file = ReadAll(path);
    auto text = [&](std::size_t at) {
        return std::string(s.file.begin() + static_cast<std::ptrdiff_t>(at),
                           s.file.begin() + static_cast<std::ptrdiff_t>(at + 8));
    };
    if (s.file.size() < trailing + 64) {
        ADD_FAILURE() << "file too short for a tag";
        return s;
    }
    const std::size_t end = s.file.size() - trailing;
    const std::size_t footer = end - 32;
    const std::uint32_t size = Get32(s.file, footer + 12);
    const std::uint32_t count = Get32(s.file, footer + 16);
    if (text(footer) != "APETAGEX" || size < 32 || size > footer) {
        ADD_FAILURE() << "no APE footer where expected";
        return s;
    }
    EXPECT_EQ(Get32(s.file, footer + 8), 2000u);
    EXPECT_EQ(Get32(s.file, footer + 20), 0x80000000u);
    const std::size_t header = end - size - 32;
    EXPECT_EQ(text(header), "APETAGEX");
    EXPECT_EQ(Get32(s.file, header + 20), 0xA0000000u);
    EXPECT_EQ(Get32(s.file, header + 12), size);
    s.tag.assign(s.file.begin() + static_cast<std::ptrdiff_t>(header),
                 s.file.begin() + static_cast<std::ptrdiff_t>(end));
    std::size_t pos = header + 32;
    for (std::uint32_t i = 0; i < count; ++i) {
        RawItem it;
        if (footer - pos < 9) {
            ADD_FAILURE() << "item " << i << " runs into the footer";
            return s;
        }
        const std::uint32_t len = Get32(s.file, pos);
        it.flags = Get32(s.file, pos + 4);
        pos += 8;
        while (pos < footer && s.file[pos] != 0)
            it.key.push_back(static_cast<char>(s.file[pos++]));
        ++pos;
        if (pos > footer || len > footer - pos) {
            ADD_FAILURE() << "item " << i << " runs into the footer";
            return s;
        }
        it.value.assign(s.file.begin() + static_cast<std::ptrdiff_t>(pos),
                        s.file.begin() + static_cast<std::ptrdiff_t>(pos + len));
        pos += len;
        s.items.push_back(it);
    }
    EXPECT_EQ(pos, footer);
    return s;
}

// Emptied fields write no APE item and empty the ID3v1 fields behind the tag
// (no track, genre 255); the ID3v1 block itself stays.
TEST(ApeSave, EmptyFieldsWriteAnEmptyTagAndEmptyTheId3v1Fields) {
    TempDir dir;
    const std::string path = dir.file("a.ape");
    const Bytes audio = MacFile(H(3990, 2000));
    WriteAll(path, Concat({audio, Id3v1("t", "a", "c", 1, 2)}));
    MonkeysAudioTag ape;
    ape.setFilename(path);
    ape.ClearTag();
    ASSERT_TRUE(ape.WriteTag());
    const Saved s = Inspect(path, 128);
    EXPECT_TRUE(s.items.empty());
    EXPECT_EQ(s.file.size(), audio.size() + 64 + 128);
    EXPECT_TRUE(std::equal(audio.begin(), audio.end(), s.file.begin()));
    test::Id3v1Values empty{"", "", "", "", ""};
    empty.genre = 255;
    const Bytes v1 = test::Id3v1Block(empty);
    EXPECT_TRUE(std::equal(v1.rbegin(), v1.rend(), s.file.rbegin()));
}

// A title save leaves the ID3v1 block behind an APE tag as it was, but for
// its title.
TEST(ApeSave, TitleSaveKeepsTheId3v1BehindTheTag) {
    TempDir dir;
    const std::string path = dir.file("a.ape");
    const Bytes audio = MacFile(H(3990, 2000));
    WriteAll(path, Concat({audio, ApeTag(2000, {{"Title", "Old"}, {"Artist", "a"}}, true),
                           Id3v1("Old", "a", "c", 4, 17)}));
    MonkeysAudioTag ape;
    ape.setFilename(path);
    ape.setTitle("New");
    ASSERT_TRUE(ape.WriteTag()) << ape.error();
    const Saved s = Inspect(path, 128);
    const Bytes v1 = Id3v1("New", "a", "c", 4, 17);
    EXPECT_TRUE(std::equal(v1.rbegin(), v1.rend(), s.file.rbegin()));
    MonkeysAudioTag again;
    again.setFilename(path);
    EXPECT_EQ(again.id3v1(), 128);
    EXPECT_EQ(again.Title(), "New");
    EXPECT_EQ(again.Artist(), "a");
}

TEST(ApeSave, WritesFieldsInKeyOrderAsUtf8WithoutTerminator) {
    TempDir dir;
    const std::string path = dir.file("a.ape");
    const Bytes audio = MacFile(H(3990, 2000));
    WriteAll(path, audio);
    MonkeysAudioTag ape;
    ape.setFilename(path);
    ape.setLyrics("words");
    ape.setTitle("Caf\xC3\xA9");
    ape.setTrack(0);
    ape.setGenreID(17);
    ape.setGenre("Rock");
    ape.setYear("1999");
    ASSERT_TRUE(ape.WriteTag());
    EXPECT_TRUE(ape.error().empty());
    const Saved s = Inspect(path);
    ASSERT_EQ(s.items.size(), 4u);  // no Track item for track 0, none for empty fields
    EXPECT_EQ(s.items[0].key, "Title");
    EXPECT_EQ(s.items[0].value, "Caf\xC3\xA9");
    EXPECT_EQ(s.items[1].key, "Year");
    EXPECT_EQ(s.items[2].key, "Genre");
    EXPECT_EQ(s.items[3].key, "Lyrics");
    EXPECT_EQ(s.items[3].value, "words");
    EXPECT_TRUE(std::equal(audio.begin(), audio.end(), s.file.begin()));

    MonkeysAudioTag again;
    again.setFilename(path);
    EXPECT_TRUE(again.Valid());
    EXPECT_EQ(again.Title(), "Caf\xC3\xA9");
    EXPECT_EQ(again.GenreID(), 17);
    EXPECT_EQ(again.Lyrics(), "words");
}

TEST(ApeSave, KeepsUnknownAndBinaryItemsInOrder) {
    TempDir dir;
    const std::string path = dir.file("a.ape");
    const Bytes audio = MacFile(H(3990, 2000));
    std::string cover = "Cover Art (Front).jpg";
    cover.push_back('\0');
    for (int i = 0; i < 256; ++i)
        cover.push_back(static_cast<char>(i));
    const std::string bigValue(300000, 'z');
    const std::vector<RawItem> unknown = {{"Subtitle", "Part two"},
                                          {"Cover Art (Front)", cover, 2},
                                          {"REPLAYGAIN_TRACK_GAIN", "-6.5 dB"},
                                          {"Notes", bigValue}};
    std::vector<RawItem> items = {{"Title", "Old"}, unknown[0], {"Artist", "Old artist"},
                                  unknown[1],       unknown[2], {"Track", "7/12"},
                                  unknown[3]};
    WriteAll(path, Concat({audio, ApeTag(2000, items, true), Id3v1("t", "a", "c", 1, 2)}));
    MonkeysAudioTag ape;
    ape.setFilename(path);
    ape.setTitle("New");
    ASSERT_TRUE(ape.WriteTag());
    // Every item stays where it was; only the changed title has a new value.
    const Saved s = Inspect(path, 128);
    ASSERT_EQ(s.items.size(), items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(s.items[i].key, items[i].key);
        EXPECT_EQ(s.items[i].flags, items[i].flags);
        EXPECT_EQ(s.items[i].value, i == 0 ? std::string("New") : items[i].value) << i;
    }
    // One tag: the old header was replaced with the rest; the ID3v1 block stays.
    EXPECT_EQ(s.file.size(), audio.size() + s.tag.size() + 128);
    EXPECT_TRUE(std::equal(audio.begin(), audio.end(), s.file.begin()));

    // A changed track number is written as a number.
    ape.setFilename(path);
    ape.setTrack(8);
    ASSERT_TRUE(ape.WriteTag());
    const Saved renumbered = Inspect(path, 128);
    ASSERT_EQ(renumbered.items.size(), 7u);
    EXPECT_EQ(renumbered.items[5].key, "Track");
    EXPECT_EQ(renumbered.items[5].value, "8");
}

TEST(ApeSave, Version1UnknownItemsAreConvertedToUtf8) {
    TempDir dir;
    const std::string path = dir.file("a.ape");
    WriteAll(path, Concat({MacFile(H(3970, 2000)), ApeTag(1000,
                                                          {{"Mood",
                                                            "gl\xFC"
                                                            "cklich"}},
                                                          false)}));
    MonkeysAudioTag ape;
    ape.setFilename(path);
    ASSERT_TRUE(ape.WriteTag());
    const Saved s = Inspect(path);
    ASSERT_EQ(s.items.size(), 1u);
    EXPECT_EQ(s.items[0].value,
              "gl\xC3\xBC"
              "cklich");
}

TEST(ApeSave, KeepsLyrics3AndItsId3v1) {
    TempDir dir;
    const std::string path = dir.file("a.ape");
    const Bytes audio = MacFile(H(3990, 2000));
    Bytes lyrics = ToBytes("LYRICSBEGININD00002");
    Append(lyrics, "10");
    Append(lyrics, "LYR00005hello");
    const std::string sizeText = std::to_string(lyrics.size());
    Append(lyrics, std::string(6 - sizeText.size(), '0') + sizeText + "LYRICS200");
    const Bytes v1 = Id3v1("t", "a", "c", 1, 2);
    const Bytes trailer = Concat({lyrics, v1});
    WriteAll(path, Concat({audio, ApeTag(2000, {{"Title", "Old"}}, false), trailer}));
    MonkeysAudioTag ape;
    ape.setFilename(path);
    EXPECT_EQ(ape.Title(), "Old");  // found in front of the Lyrics3 block
    EXPECT_EQ(ape.id3v1(), 128);
    ape.setTitle("New");
    ASSERT_TRUE(ape.WriteTag());
    const Saved s = Inspect(path, trailer.size());
    ASSERT_EQ(s.items.size(), 1u);
    EXPECT_EQ(s.items[0].value, "New");
    // The Lyrics3 block as it was; the ID3v1 block with the new title.
    const Bytes expected = Concat({lyrics, Id3v1("New", "a", "c", 1, 2)});
    EXPECT_TRUE(std::equal(expected.rbegin(), expected.rend(), s.file.rbegin()));
    EXPECT_EQ(s.file.size(), audio.size() + s.tag.size() + trailer.size());
}

TEST(ApeSave, HeaderFlagWithoutHeaderDoesNotCutAudio) {
    TempDir dir;
    const std::string path = dir.file("a.ape");
    const Bytes audio = MacFile(H(3990, 2000));
    Bytes tag = ApeTag(2000, {{"Title", "x"}}, false);
    tag[tag.size() - 9] = 0x80;  // footer claims a header that is not there
    WriteAll(path, Concat({audio, tag}));
    MonkeysAudioTag ape;
    ape.setFilename(path);
    ASSERT_TRUE(ape.WriteTag());
    const Saved s = Inspect(path);
    EXPECT_EQ(s.file.size(), audio.size() + s.tag.size());
    EXPECT_TRUE(std::equal(audio.begin(), audio.end(), s.file.begin()));
}

// Without its header, only the items confirm where a tag starts. A footer
// size that fits the file but reaches back into the audio is refused rather
// than trusted, or the save would cut the audio there; a tag whose items
// fill its size exactly is saved, even when its item count claims more.
TEST(ApeSave, TagWithoutHeaderIsSavedOnlyWhenItsItemsFillItsSize) {
    struct Case {
        const char* name;
        bool headerFlag;     // the footer claims a header that is not there
        std::uint8_t grow;   // added to the footer's size
        std::uint8_t count;  // the footer's item count
        Bytes trailer;       // behind the APE footer
        bool saves;
    };
    const Case cases[] = {
        {"flag, size into the audio", true, 40, 1, {}, false},
        {"flag, size into the audio, ID3v1 behind", true, 40, 1, Id3v1("t", "a", "c", 1, 2), false},
        {"no flag, size into the audio", false, 40, 1, {}, false},
        {"no flag, items fill the size, count too large", false, 0, 200, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.file("a.ape");
        const Bytes audio = MacFile(H(3990, 2000));
        Bytes tag = ApeTag(2000, {{"Title", "x"}}, false);
        tag[tag.size() - 20] += c.grow;
        tag[tag.size() - 16] = c.count;
        if (c.headerFlag)
            tag[tag.size() - 9] = 0x80;
        const Bytes damaged = Concat({audio, tag, c.trailer});
        WriteAll(path, damaged);
        MonkeysAudioTag ape;
        ape.setFilename(path);
        ape.setTitle("new");
        EXPECT_EQ(ape.WriteTag(), c.saves);
        const Bytes after = ReadAll(path);
        if (c.saves) {
            EXPECT_TRUE(std::equal(audio.begin(), audio.end(), after.begin()));
            EXPECT_EQ(Inspect(path).file.size(), audio.size() + Inspect(path).tag.size());
        } else {
            EXPECT_EQ(ape.error(), "The APE tag at the end of the file is damaged");
            EXPECT_EQ(after, damaged);
        }
    }
}

TEST(ApeSave, Failures) {
    TempDir dir;
    MonkeysAudioTag ape;
    std::vector<std::string> reported;
    ape.onError = [&](TagComponent&, const std::string& e) { reported.push_back(e); };

    // Not openable for writing: the system's message, reported.
    ape.setFilename(dir.file("missing.ape"));
    EXPECT_FALSE(ape.WriteTag());
    EXPECT_EQ(ape.error(), "No such file or directory");
    EXPECT_EQ(reported, std::vector<std::string>{"No such file or directory"});

    // A footer whose size does not fit: refused, file untouched.
    const std::string path = dir.file("a.ape");
    Bytes tag = ApeTag(2000, {{"Title", "x"}}, false);
    tag[tag.size() - 17] = 0x7F;
    const Bytes damaged = Concat({MacFile(H(3990, 2000)), tag});
    WriteAll(path, damaged);
    ape.setFilename(path);
    EXPECT_FALSE(ape.WriteTag());
    EXPECT_FALSE(ape.error().empty());
    EXPECT_EQ(ReadAll(path), damaged);

    // A full disk: the append fails with its message and the file keeps
    // its old tag.
    const Bytes good = Concat({MacFile(H(3990, 2000)), ApeTag(2000, {{"Title", "x"}}, false)});
    WriteAll(path, good);
    ape.setFilename(path);
    ape.setTitle("longer title than before");
    ape.SetIoFaults({[](std::size_t) { return false; }, {}});
    const bool ok = ape.WriteTag();
    ape.SetIoFaults({});
    EXPECT_FALSE(ok);
    EXPECT_EQ(ape.error(), "Saving to file: No space left on device");
    EXPECT_EQ(ReadAll(path), good);
    EXPECT_EQ(reported.size(), 1u);  // only the open failure raises onError
}

}  // namespace
}  // namespace sondrel
