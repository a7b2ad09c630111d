// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tags/id3v2.h"
#include "tags/id3v2_frames.h"
#include "tags/id3v2_test_tags.h"

namespace sondrel {
namespace {

using namespace sondrel::test;
using namespace sondrel::test::id3;

struct Loaded {
    TempDir dir;
    Id3v2Tag tag;
    int errors = 0;
    std::string lastError;
    explicit Loaded(const Bytes& fileBytes, const std::string& codePage = "") {
        const std::string path = dir.file("a.mp3");
        WriteAll(path, fileBytes);
        if (!codePage.empty())
            tag.setLegacyCodePage(codePage);
        tag.onError = [this](TagComponent&, const std::string& e) {
            ++errors;
            lastError = e;
        };
        tag.setFileName(path);
    }
};

TEST(Id3v2Read, TextFramesDecodeEveryEncoding) {
    const struct {
        const char* name;
        std::uint8_t major;
        Bytes data;
        const char* title;
    } cases[] = {
        {"latin1", 3, Cat({{0}, B("Caf\xE9")}), "Caf\u00E9"},
        {"latin1 terminated", 3, Cat({{0}, B("AB"), {0}}), "AB"},
        {"utf16 LE bom", 3, {1, 0xFF, 0xFE, 'A', 0, 0xDC, 0}, "A\u00DC"},
        {"utf16 BE bom", 3, {1, 0xFE, 0xFF, 0, 'A', 0, 0xDC}, "A\u00DC"},
        // U+0100 has a zero low byte: a terminator search off the 2-byte grid would cut it.
        {"utf16 zero byte inside unit", 3, {1, 0xFF, 0xFE, 0x00, 0x01, 'x', 0, 0, 0}, "\u0100x"},
        {"utf16 surrogate pair", 3, {1, 0xFF, 0xFE, 0x3D, 0xD8, 0x00, 0xDE}, "\U0001F600"},
        {"utf16BE", 4, {2, 0x04, 0x1F, 0x04, 0x40}, "\u041F\u0440"},
        {"utf8", 4, Cat({{3}, B("\xD0\x9F\xD1\x80"), {0}}), "\u041F\u0440"},
        {"2.4 several values", 4, Cat({{3}, B("A"), {0}, B("B"), {0}}), "A / B"},
        {"2.4 utf16 several values", 4, {1, 0xFF, 0xFE, 'A', 0, 0, 0, 0xFF, 0xFE, 'B', 0}, "A / B"},
        {"2.4 repeated value shown once", 4, Cat({{3}, B("A"), {0}, B("A")}), "A"},
        {"empty", 3, {0}, ""},
        {"no encoding byte", 3, {}, ""},
    };
    for (const auto& c : cases) {
        const auto frame = c.major == 4 ? F24("TIT2", c.data) : F23("TIT2", c.data);
        Loaded l(Tag(c.major, frame, 20));
        EXPECT_TRUE(l.tag.Valid()) << c.name;
        EXPECT_EQ(l.tag.title(), c.title) << c.name;
    }
}

// Each layout puts its fields into the members named for them, and writing
// the members back gives the frame's bytes unchanged.
TEST(Id3v2Read, FrameLayoutsFillNamedMembersAndWriteTheSameBytes) {
    using id3v2::FrameContent;
    const Bytes png{0x89, 'P', 'N', 'G'};
    const struct {
        const char* id;
        std::uint8_t major;
        Bytes data;
        FrameContent want;
    } cases[] = {
        {"TIT2", 3, Cat({{0}, B("Title")}), {.text = {"Title"}}},
        {"TPE1", 4, Cat({{3}, B("A"), {0}, B("B")}), {.encoding = 3, .text = {"A", "B"}}},
        {"IPLS", 3, Cat({{0}, B("role"), {0}, B("name")}), {.text = {"role", "name"}}},
        {"TXXX",
         3,
         Cat({{0}, B("REPLAYGAIN"), {0}, B("-6 dB")}),
         {.description = "REPLAYGAIN", .text = {"-6 dB"}}},
        {"COMM",
         3,
         Cat({{1}, B("fra"), {0xFF, 0xFE, 'd', 0, 0, 0, 0xFF, 0xFE, 'x', 0}}),
         {.encoding = 1, .language = "fra", .description = "d", .text = {"x"}}},
        {"USLT", 3, Cat({{0}, B("deu"), {0}, B("la la")}), {.language = "deu", .text = {"la la"}}},
        {"WXXX",
         3,
         Cat({{0}, B("home"), {0}, B("http://a.b/")}),
         {.description = "home", .url = "http://a.b/"}},
        {"APIC",
         3,
         Cat({{0}, B("image/png"), {0, 3}, B("cover"), {0}, png}),
         {.description = "cover", .mime = "image/png", .pictureType = 3, .data = png}},
        {"PIC",
         2,
         Cat({{0}, B("PNG"), {4}, B("back"), {0}, png}),
         {.description = "back", .imageFormat = "PNG", .pictureType = 4, .data = png}},
        {"USER", 3, Cat({{0}, B("eng"), B("terms")}), {.language = "eng", .text = {"terms"}}},
    };
    for (const auto& c : cases) {
        const Bytes& data = c.data;
        const FrameContent& want = c.want;
        id3v2::RawFrame frame;
        frame.Id = c.id;
        frame.Major = c.major;
        const auto layout = id3v2::LayoutOf(frame);
        ASSERT_FALSE(layout.empty()) << c.id;
        const auto got = id3v2::ReadFields(layout, data, "ISO-8859-1");
        ASSERT_TRUE(got) << c.id;
        EXPECT_EQ(got->encoding, want.encoding) << c.id;
        EXPECT_EQ(got->language, want.language) << c.id;
        EXPECT_EQ(got->description, want.description) << c.id;
        EXPECT_EQ(got->text, want.text) << c.id;
        EXPECT_EQ(got->mime, want.mime) << c.id;
        EXPECT_EQ(got->imageFormat, want.imageFormat) << c.id;
        EXPECT_EQ(got->pictureType, want.pictureType) << c.id;
        EXPECT_EQ(got->url, want.url) << c.id;
        EXPECT_EQ(got->data, want.data) << c.id;
        EXPECT_EQ(id3v2::WriteFields(layout, *got), data) << c.id;
    }
    // Frames that are carried as bytes have no layout.
    for (const char* id : {"PRIV", "UFID", "WOAR"})
        EXPECT_TRUE(id3v2::LayoutFor(id).empty()) << id;
}

TEST(Id3v2Read, LegacyCodePageAppliesToEncodingZeroOnly) {
    const Bytes body =
        Cat({F23("TIT2", Cat({{0}, B("\xCF\xF0")})), F23("TALB", {1, 0xFF, 0xFE, 0x1F, 0x04})});
    Loaded latin(Tag(3, body));
    EXPECT_EQ(latin.tag.title(), "\u00CF\u00F0");
    Loaded cyr(Tag(3, body), "windows-1251");
    EXPECT_EQ(cyr.tag.title(), "\u041F\u0440");
    EXPECT_EQ(cyr.tag.album(), "\u041F");
}

// Every comment without a description is the comment; without one, the
// first described comment a user wrote stands in (not iTunes' machine data).
TEST(Id3v2Read, CommentAndLyricsTakeTheFrameWithoutDescription) {
    auto comm = [](const std::string& id, const std::string& desc, const std::string& text) {
        return F23(id, Cat({{0}, B("eng"), B(desc), {0}, B(text)}));
    };
    const struct {
        const char* name;
        Bytes body;
        const char* comment;
    } cases[] = {
        {"a described comment stands in for a missing plain one", comm("COMM", "d", "hello"),
         "hello"},
        {"machine data is no comment", comm("COMM", "iTunNORM", " 0000 0001"), ""},
        {"every plain comment is shown",
         Cat({comm("COMM", "", "a"), F23("COMM", Cat({{0}, B("deu"), {0}, B("b")})),
              comm("COMM", "", "a")}),
         "a / b"},
        {"no description", comm("COMM", "", "hello"), "hello"},
        {"trailing terminator", comm("COMM", "", std::string("hi\0", 3)), "hi"},
        {"empty-description frame wins over an earlier one",
         Cat({comm("COMM", "iTunNORM", " 0000 0001"), comm("COMM", "", "mine")}), "mine"},
        {"the first described one",
         Cat({comm("COMM", "iTunSMPB", " 0002"), comm("COMM", "a", "first"),
              comm("COMM", "b", "second")}),
         "first"},
        {"any language", F23("COMM", Cat({{0}, B("fra"), {0}, B("hello")})), "hello"},
        {"utf16 description and text",
         F23("COMM", {1, 'e', 'n', 'g', 0xFF, 0xFE, 0, 0, 0xFF, 0xFE, 0x00, 0x01, 0, 0}), "\u0100"},
        {"frame too short for the language", F23("COMM", {0, 'e'}), ""},
    };
    for (const auto& c : cases) {
        Loaded l(Tag(3, c.body));
        EXPECT_EQ(l.tag.comment(), c.comment) << c.name;
    }
    Loaded lyrics(Tag(3, Cat({comm("USLT", "x", "other"), comm("USLT", "", "la la")})));
    EXPECT_EQ(lyrics.tag.text(), "la la");
    Loaded described(Tag(3, comm("USLT", "x", "other")));
    EXPECT_EQ(described.tag.text(), "");
}

TEST(Id3v2Read, ArtistYearAndUrlSources) {
    const struct {
        const char* name;
        std::uint8_t major;
        Bytes body;
        const char* artist;
        const char* year;
    } cases[] = {
        {"TPE1 wins over a later TPE2", 3, Cat({F23("TPE1", Text("A")), F23("TPE2", Text("B"))}),
         "A", ""},
        {"TPE2 fills a missing TPE1", 3, F23("TPE2", Text("B")), "B", ""},
        {"TDRC in 2.4 without TYER", 4, F24("TDRC", Text("2001-05-06")), "", "2001-05-06"},
        {"TDRC as free text", 4, F24("TDRC", Text("Oct 3, 1995")), "", "Oct 3, 1995"},
        {"TYER wins over TDRC", 4, Cat({F24("TDRC", Text("2001")), F24("TYER", Text("1999"))}), "",
         "1999"},
        {"TDRC in 2.3 without TYER", 3, F23("TDRC", Text("2001-05-06")), "", "2001-05-06"},
        {"TYER with TDAT and TIME", 3,
         Cat({F23("TIME", Text("1020")), F23("TYER", Text("2001")), F23("TDAT", Text("0605"))}), "",
         "2001-05-06T10:20"},
        {"TYER with TDAT", 3, Cat({F23("TYER", Text("2001")), F23("TDAT", Text("0605"))}), "",
         "2001-05-06"},
        {"no day of 32", 3, Cat({F23("TYER", Text("2001")), F23("TDAT", Text("3205"))}), "",
         "2001"},
        {"TIME without TDAT", 3, Cat({F23("TYER", Text("2001")), F23("TIME", Text("1020"))}), "",
         "2001"},
    };
    for (const auto& c : cases) {
        const Bytes file = Tag(c.major, c.body, 10);
        Loaded l(file);
        EXPECT_EQ(l.tag.artist(), c.artist) << c.name;
        EXPECT_EQ(l.tag.year(), c.year) << c.name;
    }
    Loaded url(Tag(3, F23("WXXX", Cat({{0}, B("home"), {0}, B("http://x.example/")}))));
    EXPECT_EQ(url.tag.URL(), "http://x.example/");
}

// Which frames a field shows decides what is listed as other frames: every
// COMM without a description (else the first described one), one USLT (the
// one without a description), one WXXX (the one without a description, else
// the first), every copy of a field's frame, pictures, TPE2 for a missing
// TPE1, TDRC for a missing TYER, and TDAT and TIME the year shows.
TEST(Id3v2Read, OtherFramesAreThoseNoFieldShows) {
    auto described = [](std::uint8_t major, const std::string& id, const std::string& desc) {
        const Bytes data = id == "WXXX"   ? Cat({{0}, B(desc), {0}, B("http://u/")})
                           : id == "TXXX" ? Cat({{0}, B(desc), {0}, B("v")})
                                          : Cat({{0}, B("eng"), B(desc), {0}, B("t")});
        return major == 4 ? F24(id, data) : F23(id, data);
    };
    const Bytes apic = F23("APIC", Cat({{0}, B("image/png"), {0, 3, 0}, B("PNG")}));
    const struct {
        const char* name;
        std::uint8_t major;
        Bytes body;
        std::vector<std::string> other;
    } cases[] = {
        {"field frames, copies and pictures are shown",
         3,
         Cat({F23("TIT2", Text("a")), F23("TIT2", Text("b")), apic, F23("TENC", Text("e"))}),
         {}},
        {"comment without description is shown, the others listed",
         3,
         Cat({described(3, "COMM", "iTunNORM"), described(3, "COMM", ""),
              described(3, "COMM", "iTunSMPB")}),
         {"COMM:iTunNORM", "COMM:iTunSMPB"}},
        {"the first described comment stands in for a missing plain one",
         3,
         Cat({described(3, "COMM", "a"), described(3, "COMM", "b")}),
         {"COMM:b"}},
        {"every comment without description is shown",
         3,
         Cat({described(3, "COMM", ""), described(3, "COMM", "")}),
         {}},
        {"TDAT and TIME are shown with the year",
         3,
         Cat({F23("TYER", Text("2001")), F23("TDAT", Text("0605")), F23("TIME", Text("1020"))}),
         {}},
        {"a TDAT the year cannot show is listed",
         3,
         Cat({F23("TYER", Text("2001")), F23("TDAT", Text("0613"))}),
         {"TDAT"}},
        {"lyrics and URL follow the same rule",
         3,
         Cat({described(3, "USLT", "x"), described(3, "USLT", ""), described(3, "WXXX", "home"),
              described(3, "WXXX", "shop")}),
         {"USLT:x", "WXXX:shop"}},
        {"user texts are always listed with their description",
         3,
         Cat({described(3, "TXXX", "REPLAYGAIN_TRACK_GAIN"), described(3, "TXXX", "")}),
         {"TXXX:REPLAYGAIN_TRACK_GAIN", "TXXX:"}},
        {"frames without layout keep their place",
         3,
         Cat({F23("PRIV", B("owner")), F23("TIT2", Text("t")), F23("TBPM", Text("120"))}),
         {"PRIV", "TBPM"}},
        {"TPE2 stands in for a missing TPE1", 3, F23("TPE2", Text("band")), {}},
        {"TPE2 is listed beside TPE1",
         3,
         Cat({F23("TPE2", Text("band")), F23("TPE1", Text("a"))}),
         {"TPE2"}},
        {"TDRC stands in for TYER in 2.4", 4, F24("TDRC", Text("2001")), {}},
        {"TDRC is listed beside TYER in 2.4",
         4,
         Cat({F24("TDRC", Text("2001")), F24("TYER", Text("1999"))}),
         {"TDRC"}},
        {"TDRC stands in for TYER in 2.3", 3, F23("TDRC", Text("2001")), {}},
        {"2.2 frames go by their 2.3 names",
         2,
         Cat({F22("TXX", Cat({{0}, B("k"), {0}, B("v")})), F22("COM", Cat({{0}, B("eng"), {0}})),
              F22("TP2", Text("b")), F22("CRM", B("x"))}),
         {"TXXX:k", "CRM"}},
        {"an unreadable comment is listed without its description",
         3,
         Cat({F23("COMM", Cat({{0}, B("eng"), B("d"), {0}, B("t")}), 0, 0x40),
              described(3, "COMM", "")}),
         {"COMM"}},
    };
    for (const auto& c : cases) {
        Loaded l(Tag(c.major, c.body, 10));
        ASSERT_TRUE(l.tag.Valid()) << c.name;
        EXPECT_EQ(l.tag.OtherFrames(), c.other) << c.name;
    }
    // A read of a file without a tag forgets the last file's list.
    Loaded l(Tag(3, F23("PRIV", B("x"))));
    EXPECT_EQ(l.tag.OtherFrames(), std::vector<std::string>{"PRIV"});
    WriteAll(l.tag.FileName(), B("no tag here"));
    l.tag.ReadTag();
    EXPECT_TRUE(l.tag.OtherFrames().empty());
}

TEST(Id3v2Read, Version22FramesFillTheSameFields) {
    const Bytes body =
        Cat({F22("TT2", Text("Title")), F22("TP1", Text("Artist")), F22("TAL", Text("Album")),
             F22("TYE", Text("1990")), F22("TRK", Text("3/12")),
             F22("COM", Cat({{0}, B("eng"), {0}, B("note")})),
             F22("TXX", Cat({{0}, B("k"), {0}, B("v")}))});
    Loaded l(Tag(2, body, 16));
    ASSERT_TRUE(l.tag.Valid());
    EXPECT_EQ(l.tag.VersionHigh(), 2);
    EXPECT_EQ(l.tag.title(), "Title");
    EXPECT_EQ(l.tag.artist(), "Artist");
    EXPECT_EQ(l.tag.album(), "Album");
    EXPECT_EQ(l.tag.year(), "1990");
    EXPECT_EQ(l.tag.track(), "3/12");
    EXPECT_EQ(l.tag.comment(), "note") << "the last byte of a 2.2 comment belongs to it";
}

TEST(Id3v2Read, GenreRule) {
    const struct {
        const char* stored;
        unsigned id;
        const char* genre;
    } cases[] = {
        {"(17)Rock", 17, "(17)Rock"}, {"Rock", 12, "Rock"},      {"", 12, ""},
        {"(255)", 12, "Other"},       {"(7)", 7, "(7)"},         {"Rock (live)", 12, "Rock (live)"},
        {"(12)Other", 12, "Other"},   {"(abc)Rock", 12, "Rock"}, {"()Rock", 12, "Rock"},
        {"(200)", 12, "Other"},       {"(268)", 12, ""},         {"(17", 12, "(17"},
        {"(147)", 147, "(147)"},
    };
    for (const auto& c : cases) {
        Loaded l(Tag(3, F23("TCON", Text(c.stored))));
        EXPECT_EQ(l.tag.GenreID(), c.id) << c.stored;
        EXPECT_EQ(l.tag.Genre(), c.genre) << c.stored;
    }
}

// Garbage between frames is passed over; the first zero byte where a frame
// should start is padding, and what lies behind it is not read.
TEST(Id3v2Read, FrameWalkPassesOverGarbageAndStopsAtPadding) {
    const Bytes body = Cat({B("\x01junk"),
                            F23("TIT2", Text("T")),
                            // size past the end of the body: not taken
                            B("TALB"),
                            Plain32(100000),
                            {0, 0},
                            F23("TPE1", Text("P")),
                            Bytes(7, 0),
                            F23("TRCK", Text("5")),
                            F23("TCOP", {})});
    Loaded l(Tag(3, body, 30));
    ASSERT_TRUE(l.tag.Valid());
    EXPECT_EQ(l.tag.title(), "T");
    EXPECT_EQ(l.tag.album(), "");
    EXPECT_EQ(l.tag.artist(), "P");
    EXPECT_EQ(l.tag.track(), "") << "a frame behind the padding";
    EXPECT_EQ(l.tag.copyright(), "");
    EXPECT_EQ(l.tag.OtherFrames(), std::vector<std::string>{});
}

TEST(Id3v2Read, UnsynchronisationIsUndone) {
    // "\xFF\x00" in the stored bytes stands for "\xFF".
    const Bytes frame23 = Cat({B("TIT2"), Plain32(3), {0, 0}, {0, 'y', 0xFF, 0x00}});
    Loaded whole(Tag(3, frame23, 4, id3v2::kFlagUnsync));
    EXPECT_EQ(whole.tag.title(), "y\u00FF");

    const Bytes frame24 = Cat({B("TIT2"), Synchsafe(4), {0, 0x02}, {0, 'y', 0xFF, 0x00}});
    Loaded perFrame(Tag(4, Cat({frame24, F24("TALB", Text("al"))}), 4));
    EXPECT_EQ(perFrame.tag.title(), "y\u00FF");
    EXPECT_EQ(perFrame.tag.album(), "al");
}

TEST(Id3v2Read, ExtendedHeaderIsSkipped) {
    const Bytes ext23 = Cat({Plain32(6), {0, 0}, Plain32(0)});
    Loaded v23(Tag(3, Cat({ext23, F23("TIT2", Text("x"))}), 8, id3v2::kFlagExtended));
    EXPECT_EQ(v23.tag.title(), "x");
    const Bytes ext24 = Cat({Synchsafe(6), {1, 0}});
    Loaded v24(Tag(4, Cat({ext24, F24("TIT2", Text("y"))}), 8, id3v2::kFlagExtended));
    EXPECT_EQ(v24.tag.title(), "y");
}

TEST(Id3v2Read, Version24PlainSizesFallBack) {
    // 256 bytes of text: plain 00 00 01 00 reads 128 as synchsafe, which
    // lands inside the text; the plain reading lands on the next frame.
    const Bytes text = Cat({{0}, Bytes(255, 'a')});
    const Bytes body = Cat({F23("TIT2", text), F23("TALB", Text("Album"))});
    Loaded l(Tag(4, body, 10));
    EXPECT_EQ(l.tag.title(), std::string(255, 'a'));
    EXPECT_EQ(l.tag.album(), "Album");
    // A proper synchsafe size of the same frame still reads.
    Loaded s(Tag(4, Cat({F24("TIT2", text), F24("TALB", Text("Album"))}), 10));
    EXPECT_EQ(s.tag.title(), std::string(255, 'a'));
    EXPECT_EQ(s.tag.album(), "Album");
}

TEST(Id3v2Read, CompressedOrEncryptedFramesDoNotFillFields) {
    Loaded l(Tag(3, Cat({F23("TIT2", Cat({Plain32(10), B("xxxx")}), 0, 0x80),
                         F23("TALB", Cat({{1}, Text("zz")}), 0, 0x40)})));
    EXPECT_TRUE(l.tag.Valid());
    EXPECT_EQ(l.tag.title(), "");
    EXPECT_EQ(l.tag.album(), "");
}

TEST(Id3v2Read, HeaderAndFileFailures) {
    const struct {
        const char* name;
        Bytes file;
        const char* error;
    } cases[] = {
        {"no ID3", Cat({B("TAG"), Bytes(200, 0)}), Id3v2Tag::kMsgNoTag},
        {"too short", B("ID3\x03"), Id3v2Tag::kMsgNoTag},
        {"version 255", Cat({B("ID3"), {255, 0, 0, 0, 0, 0, 10}, Bytes(10, 0)}),
         Id3v2Tag::kMsgNoTag},
        {"size byte over 127", Cat({B("ID3"), {3, 0, 0, 0, 0, 0x80, 0}, Bytes(200, 0)}),
         Id3v2Tag::kMsgNoTag},
        {"declared size past the end", Cat({B("ID3"), {3, 0, 0}, Synchsafe(5000), Bytes(100, 0)}),
         Id3v2Tag::kMsgNoTag},
        {"empty file", {}, Id3v2Tag::kMsgNoTag},
    };
    for (const auto& c : cases) {
        Loaded l(c.file);
        EXPECT_FALSE(l.tag.Valid()) << c.name;
        EXPECT_EQ(l.tag.Error(), c.error) << c.name;
        EXPECT_EQ(l.errors, 1) << c.name;
        EXPECT_EQ(l.tag.GenreID(), 12) << c.name;
        EXPECT_EQ(l.tag.title(), "") << c.name;
    }

    TempDir dir;
    Id3v2Tag missing;
    int errors = 0, renames = 0;
    missing.onError = [&](TagComponent&, const std::string&) { ++errors; };
    missing.onFileNameChange = [&](TagComponent&) { ++renames; };
    missing.setFileName(dir.file("none.mp3"));
    EXPECT_FALSE(missing.Valid());
    EXPECT_EQ(missing.Error(), "File does not exist!");
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(renames, 1);

    Id3v2Tag folder;
    folder.setFileName(dir.path());
    EXPECT_FALSE(folder.Valid());
    EXPECT_EQ(folder.Error(), "File does not exist!") << "a folder is not an audio file";
}

TEST(Id3v2Read, RandomBodiesNeverBreakTheReader) {
    // Frame identifiers and sizes sprinkled into noise reach the deeper
    // paths (flags, unsynchronisation, field layouts) with broken data.
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<std::uint8_t>(seed >> 16);
    };
    const char* ids[] = {"TIT2", "COMM", "APIC", "TXXX", "WXXX", "USLT", "TT2", "PIC", "COM"};
    for (int round = 0; round < 300; ++round) {
        Bytes body;
        while (body.size() < 300) {
            if (next() % 3 == 0) {
                const std::string id = ids[next() % std::size(ids)];
                body.insert(body.end(), id.begin(), id.end());
                for (int i = 0; i < 3; ++i)
                    body.push_back(i == 2 ? next() % 40 : 0);
            }
            body.push_back(next());
        }
        const auto major = static_cast<std::uint8_t>(2 + round % 3);
        const auto flags = static_cast<std::uint8_t>(next() & 0xC0);
        Loaded l(Tag(major, body, 0, flags));
        EXPECT_TRUE(l.tag.Valid()) << "round " << round;
        EXPECT_EQ(l.tag.ImagesCount(), static_cast<std::int32_t>(l.tag.Pictures().size()));
    }
}

TEST(Id3v2Read, ReadingAgainClearsTheLastTag) {
    TempDir dir;
    const std::string a = dir.file("a.mp3"), b = dir.file("b.mp3");
    WriteFile(a, Tag(3, Cat({F23("TIT2", Text("A")), F23("TCON", Text("(17)Rock"))})));
    WriteFile(b, Tag(3, F23("TALB", Text("B"))));
    Id3v2Tag t;
    t.setFileName(a);
    EXPECT_EQ(t.GenreID(), 17);
    t.setFileName(b);
    EXPECT_EQ(t.title(), "");
    EXPECT_EQ(t.album(), "B");
    EXPECT_EQ(t.GenreID(), 12);
    EXPECT_EQ(t.TagSize(), static_cast<std::int32_t>(F23("TALB", Text("B")).size()));
}

TEST(Id3v2Read, SettersFireOnChangeAndClampGenre) {
    Id3v2Tag t;
    int changes = 0;
    t.onChange = [&](TagComponent&) { ++changes; };
    t.settitle("x");
    t.setGenreID(200);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(t.GenreID(), 12);
    TagFields rec;
    rec.title = "r";
    rec.ImagesCount = 5;
    t.setFields(rec);
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(t.title(), "r");
    EXPECT_EQ(t.ImagesCount(), 0) << "the count follows the picture list";
}

}  // namespace
}  // namespace sondrel
