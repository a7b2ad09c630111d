// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/id3v1.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "support/test_support.h"
#include "tags/ape_tag.h"

namespace sondrel {
namespace {

using test::ReadAll;
using test::TempDir;
using test::ToBytes;
using test::WriteAll;

const std::string kMissing = "Error. File does not exist!";
const std::string kTooSmall = "Error. File too small to be a MP3 file!";
const std::string kNoTag = "MP3 does not contain a MP3 tag or wrong file format!";
const std::string kLyricsError = "MP3 Lyrics3 Error";

Bytes Cat(std::initializer_list<Bytes> parts) {
    return test::Concat(parts);
}

Bytes Audio(std::size_t n) {
    return test::StandInAudio(n);
}

// An ID3v1 block built by hand, byte by byte.
using RawV1 = test::Id3v1Values;

Bytes V1(const RawV1& r) {
    return test::Id3v1Block(r);
}

std::string Field(const std::string& id, const std::string& value) {
    char len[8];
    std::snprintf(len, sizeof len, "%05zu", value.size());
    return id + len + value;
}

// A Lyrics3 v2 block from raw field texts; `size` overrides the size digits.
Bytes L3(const std::vector<std::string>& fields, std::string size = {}) {
    std::string body = "LYRICSBEGIN";
    for (const auto& f : fields)
        body += f;
    if (size.empty()) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%06zu", body.size());
        size = digits;
    }
    return ToBytes(body + size + "LYRICS200");
}

const std::string k30 = "Thirty characters of title ..";  // 29
const std::string kTitle30 = k30 + "!";
const std::string kTitle40 = kTitle30 + " and more!";

// A component with counting handlers.
struct Probe {
    Id3v1Tag tag;
    int errors = 0, changes = 0, renames = 0;
    std::string lastError;
    Probe() {
        tag.onError = [this](TagComponent& s, const std::string& e) {
            EXPECT_EQ(&s, &tag);
            ++errors;
            lastError = e;
        };
        tag.onChange = [this](TagComponent&) { ++changes; };
        tag.onFileNameChange = [this](TagComponent&) { ++renames; };
    }
};

void ExpectEmpty(const Id3v1Tag& t) {
    EXPECT_EQ(t.Title(), "");
    EXPECT_EQ(t.Artist(), "");
    EXPECT_EQ(t.Album(), "");
    EXPECT_EQ(t.Year(), "");
    EXPECT_EQ(t.Comment(), "");
    EXPECT_EQ(t.Lyrics(), "");
    EXPECT_EQ(t.track(), 0);
    EXPECT_EQ(t.GenreID(), 12);
    EXPECT_EQ(t.Fields().header, "");
}

TEST(Id3v1Block, ParsesVersionsTrimsAndClampsGenre) {
    const std::string c30 = "Comment that fills all thirty";  // 29
    const struct {
        const char* name;
        RawV1 raw;
        const char* title;
        const char* comment;
        unsigned track, version, genre;
    } cases[] = {
        {"v1.0 full comment",
         {"T", "", "", "", c30 + "!"},
         "T",
         "Comment that fills all thirty!",
         0,
         0,
         12},
        {"v1.1 track byte",
         {"T", "", "", "", c30 + "!", 0, 7},
         "T",
         "Comment that fills all thirt",
         7,
         1,
         12},
        {"zero track is v1.0", {"T", "", "", "", "short", 0, 0}, "T", "short", 0, 0, 12},
        {"non-zero before track is v1.0",
         {"T", "", "", "", c30 + "!", 'x', 5},
         "T",
         "Comment that fills all thirtx\x05",
         0,
         0,
         12},
        {"genre 255 is Other", {"T", "", "", "", "", -1, -1, 255}, "T", "", 0, 0, 12},
        {"genre 148 is Other", {"T", "", "", "", "", -1, -1, 148}, "T", "", 0, 0, 12},
        {"genre 147 kept", {"T", "", "", "", "", -1, -1, 147}, "T", "", 0, 0, 147},
        {"trailing spaces and zeros go",
         {std::string("Abc  \0 \0", 8), "", "", "", "c  "},
         "Abc",
         "c",
         0,
         0,
         12},
        {"leading spaces stay", {"  Abc", "", "", "", " c"}, "  Abc", " c", 0, 0, 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes b = V1(c.raw);
        const Id3v1Fields t = id3v1::ParseBlock(std::span<const std::uint8_t, 128>(b.data(), 128));
        EXPECT_EQ(t.header, "TAG");
        EXPECT_EQ(t.Title, c.title);
        EXPECT_EQ(t.Comment, c.comment);
        EXPECT_EQ(t.track, c.track);
        EXPECT_EQ(t.VersionLow, c.version);
        EXPECT_EQ(t.GenreID, c.genre);
    }
}

TEST(Id3v1Block, KeepsInnerZerosAndDecodesTheCodePage) {
    const Bytes b = V1({std::string("A\0B", 3), "Caf\xE9", "\xC0\xC1", "1999"});
    const std::span<const std::uint8_t, 128> s(b.data(), 128);
    const Id3v1Fields latin = id3v1::ParseBlock(s);
    EXPECT_EQ(latin.Title, std::string("A\0B", 3));
    EXPECT_EQ(latin.Artist, "Café");
    EXPECT_EQ(latin.Album, "ÀÁ");
    EXPECT_EQ(latin.Year, "1999");
    EXPECT_EQ(id3v1::ParseBlock(s, "windows-1251").Album, "АБ");
}

TEST(Id3v1EncodePrefix, CutsOnlyBetweenCharacters) {
    EXPECT_EQ(id3v1::EncodePrefix("abcdef", 4, "ISO-8859-1"), "abcd");
    EXPECT_EQ(id3v1::EncodePrefix("éééé", 3, "ISO-8859-1"), "\xE9\xE9\xE9");
    EXPECT_EQ(id3v1::EncodePrefix("日本", 5, "ISO-8859-1"), "??");
    // Two bytes per character in this code page: 5 bytes hold two of them.
    const std::string cut = id3v1::EncodePrefix("日本語", 5, "CP932");
    EXPECT_EQ(cut, "\x93\xFA\x96\x7B");
}

class Id3v1File : public ::testing::Test {
protected:
    std::string Make(const Bytes& content, const std::string& name = "song.mp3") {
        const auto path = dir_.file(name);
        WriteAll(path, content);
        return path;
    }
    TempDir dir_;
};

TEST_F(Id3v1File, ReadFailuresReportTheirMessages) {
    const auto fifo = dir_.file("pipe.mp3");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        const char* name;
        std::string path;
        std::string error;
    } cases[] = {
        {"missing", dir_.file("nothing.mp3"), kMissing},
        {"folder", dir_.path(), kMissing},
        {"fifo", fifo, kMissing},
        {"empty", Make({}, "empty.mp3"), kTooSmall},
        {"127 bytes", Make(Audio(127), "short.mp3"), kTooSmall},
        {"128 bytes without TAG", Make(Audio(128), "notag128.mp3"), kNoTag},
        {"TAG not at the end", Make(Cat({V1({"x"}), Audio(10)}), "shifted.mp3"), kNoTag},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Probe p;
        p.tag.setTitle("stale");
        p.tag.setFilename(c.path);
        EXPECT_EQ(p.tag.Filename(), c.path);
        EXPECT_FALSE(p.tag.Valid());
        EXPECT_EQ(p.tag.Error(), c.error);
        EXPECT_EQ(p.errors, 1);
        EXPECT_EQ(p.lastError, c.error);
        EXPECT_EQ(p.renames, 1);
        ExpectEmpty(p.tag);
    }
}

TEST_F(Id3v1File, UnreadableFileIsReportedAsTooSmall) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not stop root from reading";
    const auto path = Make(Cat({Audio(200), V1({"x"})}));
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    Probe p;
    p.tag.setFilename(path);
    EXPECT_FALSE(p.tag.Valid());
    EXPECT_EQ(p.tag.Error(), kTooSmall);
}

TEST_F(Id3v1File, ReadsAPlainTagAndReadingAgainSeesChanges) {
    const auto path = Make(V1({"Title", "Artist", "Album", "2001", "Comment", 0, 3, 17}));
    Probe p;
    p.tag.setFilename(path);
    ASSERT_TRUE(p.tag.Valid()) << p.tag.Error();
    EXPECT_EQ(p.tag.Error(), "");
    EXPECT_EQ(p.errors, 0);
    EXPECT_EQ(p.tag.Title(), "Title");
    EXPECT_EQ(p.tag.Artist(), "Artist");
    EXPECT_EQ(p.tag.Album(), "Album");
    EXPECT_EQ(p.tag.Year(), "2001");
    EXPECT_EQ(p.tag.Comment(), "Comment");
    EXPECT_EQ(p.tag.track(), 3);
    EXPECT_EQ(p.tag.VersionLow(), 1);
    EXPECT_EQ(p.tag.GenreID(), 17);
    EXPECT_EQ(p.tag.Genre(), "");
    EXPECT_EQ(p.tag.Fields().header, "TAG");

    WriteAll(path, V1({"Other"}));
    p.tag.setFilename(path);
    EXPECT_EQ(p.tag.Title(), "Other");
    EXPECT_EQ(p.tag.track(), 0);
    EXPECT_EQ(p.renames, 2);
}

TEST_F(Id3v1File, Lyrics3FieldsAndTheirMalformedCases) {
    const Bytes v1 = V1({kTitle30, "Artist", "Album"});
    const std::string ind = Field("IND", "10");
    const struct {
        const char* name;
        Bytes lyrics3;
        bool use;
        std::string title, artist, lyrics, error;
    } cases[] = {
        {"long title and lyrics", L3({ind, Field("LYR", "la la\r\nla"), Field("ETT", kTitle40)}),
         true, kTitle40, "Artist", "la la\r\nla", ""},
        {"switched off", L3({ind, Field("LYR", "la"), Field("ETT", kTitle40)}), false, kTitle30,
         "Artist", "", ""},
        {"space placeholder is no lyrics", L3({ind, Field("LYR", " ")}), true, kTitle30, "Artist",
         "", ""},
        {"later field wins", L3({Field("LYR", "one"), Field("LYR", "two")}), true, kTitle30,
         "Artist", "two", ""},
        {"unknown fields skipped", L3({Field("XYZ", "zz"), Field("EAR", "Long Artist")}), true,
         kTitle30, "Long Artist", "", ""},
        {"length past the block ends the walk", L3({Field("LYR", "kept"), "ETT99999" + kTitle40}),
         true, kTitle30, "Artist", "kept", ""},
        {"short tail ends the walk", L3({Field("LYR", "kept"), "AB"}), true, kTitle30, "Artist",
         "kept", ""},
        {"non-decimal length", L3({Field("LYR", "kept"), "ETT00x40" + kTitle40}), true, kTitle30,
         "Artist", "kept", kLyricsError},
        {"signed length", L3({"LYR-0004abcd"}), true, kTitle30, "Artist", "", kLyricsError},
        {"non-decimal size", L3({Field("LYR", "x")}, "00a020"), true, kTitle30, "Artist", "",
         kLyricsError},
        {"size reaches before the file", L3({Field("LYR", "x")}, "999999"), true, kTitle30,
         "Artist", "", kLyricsError},
        {"start mark not where the size says", L3({Field("LYR", "x")}, "000021"), true, kTitle30,
         "Artist", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = Make(Cat({Audio(300), c.lyrics3, v1}));
        Probe p;
        p.tag.setUseLyrics3(c.use);
        p.tag.setFilename(path);
        EXPECT_TRUE(p.tag.Valid());
        EXPECT_EQ(p.tag.Title(), c.title);
        EXPECT_EQ(p.tag.Artist(), c.artist);
        EXPECT_EQ(p.tag.Lyrics(), c.lyrics);
        EXPECT_EQ(p.tag.Error(), c.error);
        EXPECT_EQ(p.errors, 0) << "a Lyrics3 fault is not an error event";
    }
}

TEST_F(Id3v1File, SaveWritesTheBlocksAtTheEnd) {
    const Bytes audio = Audio(300);
    const Bytes newV1 = V1({"Song", "", "", "", "", 0, 5, 8});
    const Bytes oldL3 =
        L3({Field("IND", "10"), Field("LYR", std::string(500, 'x')), Field("ETT", kTitle40)});
    const struct {
        const char* name;
        Bytes before;
        bool use;
        Bytes after;
    } cases[] = {
        {"untagged, Lyrics3 on: no empty block", audio, true, Cat({audio, newV1})},
        {"untagged, Lyrics3 off", audio, false, Cat({audio, newV1})},
        {"ID3v1 replaced", Cat({audio, V1({"Old"})}), true, Cat({audio, newV1})},
        {"a Lyrics3 block left with nothing to hold goes", Cat({audio, oldL3, V1({"Old"})}), true,
         Cat({audio, newV1})},
        {"Lyrics3 off drops an old block", Cat({audio, oldL3, V1({"Old"})}), false,
         Cat({audio, newV1})},
        {"bad size digits: only the ID3v1 block is replaced",
         Cat({audio, L3({Field("LYR", "x")}, "0000x1"), V1({"Old"})}), false,
         Cat({audio, L3({Field("LYR", "x")}, "0000x1"), newV1})},
        {"a 128-byte tag-only file is overwritten", V1({"Old"}), false, newV1},
        {"tiny file", ToBytes("ab"), false, Cat({ToBytes("ab"), newV1})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = Make(c.before);
        Probe p;
        p.tag.setUseLyrics3(c.use);
        p.tag.setFilename(path);
        p.tag.ClearTag();
        p.tag.setTitle("Song");
        p.tag.settrack(5);
        p.tag.setGenreID(8);
        p.errors = 0;
        EXPECT_TRUE(p.tag.WriteTag()) << p.tag.Error();
        EXPECT_EQ(p.tag.Error(), "");
        EXPECT_EQ(p.errors, 0);
        EXPECT_EQ(ReadAll(path), c.after);
        EXPECT_EQ(p.tag.Lyrics(), "");
        p.tag.setFilename(path);
        EXPECT_TRUE(p.tag.Valid());
        EXPECT_EQ(p.tag.Lyrics(), "");
    }
}

TEST_F(Id3v1File, RoundTrips) {
    const struct {
        const char* name;
        Id3v1Fields in;
        std::string lyrics;
        bool use;
        Id3v1Fields out;  // header is always "TAG" on reading
        std::string lyricsOut;
    } cases[] = {
        {"all fields, v1.1",
         {9, "", "Title", "Artist", "Album", "1987", "Comment", 33, 0},
         "",
         true,
         {9, "TAG", "Title", "Artist", "Album", "1987", "Comment", 33, 1},
         ""},
        {"no track is v1.0 with a 30-character comment",
         {0, "", "T", "A", "B", "2000", kTitle30, 0, 0},
         "",
         false,
         {0, "TAG", "T", "A", "B", "2000", kTitle30, 0, 0},
         ""},
        {"a track takes the comment's last two characters",
         {4, "", "T", "", "", "", kTitle30, 1, 0},
         "",
         false,
         {4, "TAG", "T", "", "", "", kTitle30.substr(0, 28), 1, 1},
         ""},
        {"long texts travel in Lyrics3",
         {0, "", kTitle40, "Artist " + kTitle30, kTitle40 + "?", "", "", 12, 0},
         "Line one\r\nLine two",
         true,
         {0, "TAG", kTitle40, "Artist " + kTitle30, kTitle40 + "?", "", "", 12, 0},
         "Line one\r\nLine two"},
        {"a long title alone still gets its Lyrics3 block",
         {0, "", kTitle40, "", "", "", "", 12, 0},
         "",
         true,
         {0, "TAG", kTitle40, "", "", "", "", 12, 0},
         ""},
        {"long texts cut without Lyrics3",
         {0, "", kTitle40, "", "", "", "", 12, 0},
         "lost",
         false,
         {0, "TAG", kTitle30, "", "", "", "", 12, 0},
         ""},
        {"accented text; unmappable characters become ?",
         {0, "", "Café déjà vu", "日本", "", "", "ß", 12, 0},
         "Überall",
         true,
         {0, "TAG", "Café déjà vu", "??", "", "", "ß", 12, 0},
         "Überall"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = Make(Audio(500));
        Probe writer;
        writer.tag.setUseLyrics3(c.use);
        writer.tag.setFilename(path);
        writer.tag.setFields(c.in);
        writer.tag.setLyrics(c.lyrics);
        ASSERT_TRUE(writer.tag.WriteTag()) << writer.tag.Error();

        Probe reader;
        reader.tag.setUseLyrics3(c.use);
        reader.tag.setFilename(path);
        ASSERT_TRUE(reader.tag.Valid()) << reader.tag.Error();
        EXPECT_EQ(reader.tag.Error(), "");
        EXPECT_EQ(reader.tag.Fields(), c.out);
        EXPECT_EQ(reader.tag.Lyrics(), c.lyricsOut);
        const Bytes after = ReadAll(path);
        EXPECT_EQ(Bytes(after.begin(), after.begin() + 500), Audio(500));
    }
}

TEST_F(Id3v1File, OversizedValuesAreCutToTheDigitLimits) {
    const auto path = Make(Audio(200));
    Id3v1Tag w;
    w.setFilename(path);
    w.setLyrics(std::string(150000, 'a'));
    w.setTitle(std::string(99998, 't') + "éé");
    ASSERT_TRUE(w.WriteTag()) << w.Error();

    Id3v1Tag r;
    r.setFilename(path);
    ASSERT_TRUE(r.Valid());
    EXPECT_EQ(r.Error(), "");
    EXPECT_EQ(r.Lyrics(), std::string(99999, 'a'));
    EXPECT_EQ(r.Title(), std::string(99998, 't') + "é");
    // 200 audio bytes + the block as its size digits state + footer + ID3v1.
    const Bytes after = ReadAll(path);
    const std::string digits(after.end() - 143, after.end() - 137);
    EXPECT_EQ(after.size(), 200 + std::stoul(digits) + 15 + 128);
}

TEST_F(Id3v1File, CodePageIsAnOption) {
    const std::string cyr30 = "Тридцать кириллических символов";  // 31 characters
    const auto path = Make(Audio(200));
    Id3v1Tag w;
    w.setCodePage("windows-1251");
    EXPECT_EQ(Id3v1Tag().CodePage(), "ISO-8859-1");
    w.setFilename(path);
    w.setTitle(cyr30.substr(0, cyr30.size() - 2));  // 30 characters, 60 UTF-8 bytes
    w.setArtist(cyr30);
    ASSERT_TRUE(w.WriteTag());
    const Bytes after = ReadAll(path);
    EXPECT_EQ(after[after.size() - 125], 0xD2);  // "Т" in that code page, first title byte

    Id3v1Tag r;
    r.setCodePage("windows-1251");
    r.setFilename(path);
    EXPECT_EQ(r.Title(), cyr30.substr(0, cyr30.size() - 2));
    EXPECT_EQ(r.Artist(), cyr30) << "31 characters need an EAR field";
    Id3v1Tag latin;
    latin.setFilename(path);
    EXPECT_NE(latin.Title(), r.Title());
}

TEST_F(Id3v1File, OtherEndTagsInFrontSurvive) {
    // An APE tag footer-only lookalike sits between the audio and the Lyrics3 block.
    const Bytes ape = Cat({ToBytes("APETAGEX"), Bytes(24, 0x01)});
    const Bytes front = Cat({Audio(300), ape});
    const auto path = Make(Cat({front, L3({Field("LYR", "words")}), V1({"Old"})}));
    Id3v1Tag t;
    t.setFilename(path);
    ASSERT_EQ(t.Lyrics(), "words");
    t.setLyrics("new words, longer than before");
    ASSERT_TRUE(t.WriteTag());
    Bytes after = ReadAll(path);
    ASSERT_GT(after.size(), front.size());
    EXPECT_EQ(Bytes(after.begin(), after.begin() + static_cast<long>(front.size())), front);
    t.setFilename(path);
    EXPECT_EQ(t.Lyrics(), "new words, longer than before");

    EXPECT_TRUE(t.RemoveTag());
    EXPECT_EQ(ReadAll(path), front);
}

// An APE tag at the end whose value holds "TAG" where an ID3v1 block would
// start is no ID3v1 tag: a save adds the blocks behind the APE tag instead of
// overwriting its last 128 bytes, and removing them gives the file back.
TEST_F(Id3v1File, TagTextInsideAnApeTagIsNoId3v1) {
    std::string value(200, 'c');
    value.replace(104, 3, "TAG");  // 200 - 104 + 32 (footer) = 128 bytes from the end
    const Bytes original = Cat({Audio(300), apetag::BuildTag({{"Comment", 0, value}})});
    const auto path = Make(original);
    Probe p;
    p.tag.setFilename(path);
    EXPECT_FALSE(p.tag.Valid());
    EXPECT_EQ(p.tag.Error(), kNoTag);
    p.tag.setTitle("Song");
    ASSERT_TRUE(p.tag.WriteTag()) << p.tag.Error();
    const Bytes after = ReadAll(path);
    ASSERT_GT(after.size(), original.size());
    EXPECT_TRUE(std::equal(original.begin(), original.end(), after.begin()))
        << "the APE tag was overwritten";
    Id3v1Tag r;
    r.setFilename(path);
    EXPECT_EQ(r.Title(), "Song");
    EXPECT_TRUE(r.RemoveTag());
    EXPECT_EQ(ReadAll(path), original);
}

// A file too small for a Lyrics3 block and an ID3v1 block (154 bytes) holds
// none, whatever its bytes spell: reading reports no Lyrics3 fault there,
// just as saving and removing take those bytes for audio.
TEST_F(Id3v1File, Lyrics3EndMarkInAFileTooSmallForABlockIsAudio) {
    for (const std::string trailer : {"abcdefLYRICS200", "000011LYRICS200"}) {
        SCOPED_TRACE(trailer);
        const Bytes front = Cat({Audio(10), ToBytes(trailer)});
        const auto path = Make(Cat({front, V1({"Old"})}));
        Probe p;
        p.tag.setFilename(path);
        EXPECT_TRUE(p.tag.Valid());
        EXPECT_EQ(p.tag.Title(), "Old");
        EXPECT_EQ(p.tag.Error(), "");
        p.tag.setUseLyrics3(false);
        ASSERT_TRUE(p.tag.WriteTag());
        EXPECT_EQ(ReadAll(path), Cat({front, V1({"Old"})}));
        EXPECT_TRUE(p.tag.RemoveTag());
        EXPECT_EQ(ReadAll(path), front);
    }
}

TEST_F(Id3v1File, RemoveLeavesExactlyTheBytesBeforeTheBlocks) {
    const Bytes audio = Audio(400);
    const struct {
        const char* name;
        Bytes before, after;
    } cases[] = {
        {"ID3v1", Cat({audio, V1({"x"})}), audio},
        {"Lyrics3 and ID3v1", Cat({audio, L3({Field("LYR", "la")}), V1({"x"})}), audio},
        {"tag only", V1({"x"}), {}},
        {"no tag", audio, audio},
        {"short file", ToBytes("tiny"), ToBytes("tiny")},
        {"Lyrics3 without ID3v1 is not ours", Cat({audio, L3({Field("LYR", "la")})}),
         Cat({audio, L3({Field("LYR", "la")})})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = Make(c.before);
        Probe p;
        p.tag.setFilename(path);
        p.errors = 0;
        EXPECT_TRUE(p.tag.RemoveTag());
        EXPECT_EQ(ReadAll(path), c.after);
        EXPECT_FALSE(p.tag.Valid());
        EXPECT_EQ(p.tag.Error(), c.after.size() < 128 ? kTooSmall : kNoTag);
        EXPECT_EQ(p.errors, 1) << "the re-read reports the missing tag";
        ExpectEmpty(p.tag);
    }
}

TEST_F(Id3v1File, RemoveFromAReadOnlyFileKeepsItReadOnly) {
    const Bytes audio = Audio(200);
    const auto path = Make(Cat({audio, V1({"x"})}));
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    Id3v1Tag t;
    t.setFilename(path);
    EXPECT_TRUE(t.RemoveTag()) << t.Error();
    EXPECT_EQ(ReadAll(path), audio);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
}

TEST_F(Id3v1File, RemoveOfAMissingFileSaysNothing) {
    Probe p;
    p.tag.setFilename(dir_.file("gone.mp3"));
    p.errors = 0;
    EXPECT_FALSE(p.tag.RemoveTag());
    EXPECT_EQ(p.tag.Error(), "");
    EXPECT_EQ(p.errors, 0);
}

TEST_F(Id3v1File, SaveFailuresLeaveTheFileAsItWas) {
    const Bytes original =
        Cat({Audio(300), L3({Field("LYR", std::string(2000, 'x'))}), V1({"Old"})});
    const auto path = Make(original);

    Probe p;
    p.tag.setFilename(path);
    ASSERT_TRUE(p.tag.Valid());
    p.tag.setLyrics("");
    p.errors = 0;
    // Every write fails as on a full disk.
    p.tag.SetIoFaults({[](std::size_t) { return false; }, {}});
    EXPECT_FALSE(p.tag.WriteTag());
    p.tag.SetIoFaults({});
    EXPECT_EQ(p.tag.Error(), "File error!");
    EXPECT_EQ(p.errors, 1);
    EXPECT_TRUE(p.tag.Valid()) << "a failed save does not change Valid";
    EXPECT_EQ(ReadAll(path), original) << "the file was cut before the new blocks were written";

    for (const auto& missing : {dir_.file("gone.mp3"), dir_.path()}) {
        SCOPED_TRACE(missing);
        Probe m;
        m.tag.setFilename(missing);
        m.errors = 0;
        EXPECT_FALSE(m.tag.WriteTag());
        EXPECT_EQ(m.tag.Error(), "File does not exist!");
        EXPECT_EQ(m.errors, 1);
        EXPECT_FALSE(std::filesystem::is_regular_file(missing));
    }
}

TEST_F(Id3v1File, SaveToAReadOnlyFileFails) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not stop root from writing";
    const Bytes original = Cat({Audio(300), V1({"Old"})});
    const auto path = Make(original);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    Probe p;
    p.tag.setFilename(path);
    p.tag.setTitle("New");
    EXPECT_FALSE(p.tag.WriteTag());
    EXPECT_EQ(p.tag.Error(), "File error!");
    EXPECT_EQ(ReadAll(path), original);
}

TEST_F(Id3v1File, SettersChangeMemoryOnlyAndFireOnChange) {
    const Bytes original = Cat({Audio(200), V1({"Old", "", "", "1999", "c"})});
    const auto path = Make(original);
    Probe p;
    p.tag.setFilename(path);
    p.changes = 0;

    p.tag.setYear("2024-05-01");
    EXPECT_EQ(p.tag.Year(), "2024");
    p.tag.setYear("ÅÄÖÜß");
    EXPECT_EQ(p.tag.Year(), "ÅÄÖÜ");
    p.tag.setComment(std::string(29, 'c') + "éxyz");
    EXPECT_EQ(p.tag.Comment(), std::string(29, 'c') + "é");
    p.tag.setGenreID(200);
    EXPECT_EQ(p.tag.GenreID(), 12);
    EXPECT_EQ(GenreNameOf(p.tag.GenreID()), "Other");
    p.tag.setGenreID(147);
    EXPECT_EQ(p.tag.GenreID(), 147);
    p.tag.setTitle(kTitle40);
    EXPECT_EQ(p.tag.Title(), kTitle40) << "stored unchanged; cut only when written";
    p.tag.setArtist("a");
    p.tag.setAlbum("b");
    p.tag.settrack(3);
    p.tag.setLyrics("l");
    Id3v1Fields whole;
    whole.GenreID = 250;
    p.tag.setFields(whole);
    EXPECT_EQ(p.tag.GenreID(), 12);
    EXPECT_EQ(p.changes, 11);
    EXPECT_EQ(ReadAll(path), original);
}

TEST_F(Id3v1File, FilesOver2GiBWork) {
    // A sparse file: only the tail takes space on disk.
    const auto path = Make({});
    const std::uintmax_t audioSize = (3ull << 30) + 7;
    std::filesystem::resize_file(path, audioSize);
    {
        auto f = File::Open(path, File::Mode::ReadWrite);
        ASSERT_TRUE(f);
        ASSERT_TRUE(f->WriteAt(static_cast<std::int64_t>(audioSize), V1({"Far away"})));
    }
    Id3v1Tag t;
    t.setFilename(path);
    ASSERT_TRUE(t.Valid()) << t.Error();
    EXPECT_EQ(t.Title(), "Far away");

    t.setTitle(kTitle40);
    ASSERT_TRUE(t.WriteTag()) << t.Error();
    t.setFilename(path);
    EXPECT_EQ(t.Title(), kTitle40);
    EXPECT_TRUE(t.RemoveTag());
    EXPECT_EQ(std::filesystem::file_size(path), audioSize);
}

// Whatever the bytes at the end look like, reading never fails hard and
// saving or removing never touches the audio in front of the blocks.
TEST_F(Id3v1File, DamagedTailsNeverReachTheAudio) {
    const Bytes audio = Audio(600);
    const Bytes good =
        Cat({L3({Field("IND", "10"), Field("LYR", "some words"), Field("ETT", kTitle40)}),
             V1({kTitle30, "Artist", "", "", "", 0, 2})});
    const char kAlphabet[] = "0123456789LYRICSBEGINTAG \0\xFF";
    const std::string_view alphabet(kAlphabet, sizeof kAlphabet - 1);
    std::uint32_t seed = 12345;
    auto next = [&] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        Bytes tail = good;
        for (int n = 1 + static_cast<int>(next() % 4); n > 0; --n)
            tail[next() % tail.size()] =
                static_cast<std::uint8_t>(alphabet[next() % alphabet.size()]);
        const auto path = Make(Cat({audio, tail}));
        Id3v1Tag t;
        t.setFilename(path);
        t.setLyrics("new");
        t.setUseLyrics3(round % 2 == 0);
        t.WriteTag();
        Bytes after = ReadAll(path);
        ASSERT_GE(after.size(), audio.size());
        ASSERT_TRUE(std::equal(audio.begin(), audio.end(), after.begin())) << "save";
        t.setFilename(path);
        ASSERT_TRUE(t.Valid()) << t.Error();
        EXPECT_EQ(t.Lyrics(), round % 2 == 0 ? "new" : "");
        t.RemoveTag();
        after = ReadAll(path);
        ASSERT_GE(after.size(), audio.size());
        ASSERT_TRUE(std::equal(audio.begin(), audio.end(), after.begin())) << "remove";
    }
}

// The peer reads what we wrote, and we read what the peer wrote.
class Id3v1Mutagen : public Id3v1File {
protected:
    void SetUp() override {
        for (const char* py : {"python3", "/usr/bin/python3"}) {
            if (test::RunCommand(std::string(py) + " -c 'import mutagen' >/dev/null 2>&1")
                    .exitCode == 0) {
                python_ = py;
                break;
            }
        }
        if (python_.empty())
            GTEST_SKIP() << "mutagen is not installed";
        mp3_ = test::SilentMp3();
        if (mp3_.empty())
            GTEST_SKIP() << "ffmpeg is not installed";
    }
    std::string Script() const {
        return python_ + " " +
               test::ShellQuote(std::string(SONDREL_TEST_DATA) + "/id3v1/mutagen_v1.py");
    }
    std::string python_;
    Bytes mp3_;
};

TEST_F(Id3v1Mutagen, ReadsOurTag) {
    const auto path = Make(mp3_);
    Id3v1Tag t;
    t.setFilename(path);
    t.setTitle(kTitle40);  // the peer reads the ID3v1 block only: 30 characters
    t.setArtist("Artiste");
    t.setAlbum("Été");
    t.setYear("1995");
    t.setComment("A comment");
    t.settrack(11);
    t.setGenreID(17);
    t.setLyrics("some words");
    ASSERT_TRUE(t.WriteTag()) << t.Error();

    const auto r = test::RunCommand(Script() + " read " + test::ShellQuote(path));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const std::string expected = "{\"title\": \"" + kTitle30 +
                                 "\", \"artist\": \"Artiste\", \"album\": \"Été\", "
                                 "\"year\": \"1995\", \"comment\": \"A comment\", "
                                 "\"track\": \"11\", \"genre\": \"Rock\"}\n";
    EXPECT_EQ(r.output, expected);
}

TEST_F(Id3v1Mutagen, WeReadThePeersTag) {
    const auto path = Make(mp3_);
    const auto r = test::RunCommand(Script() + " write " + test::ShellQuote(path) +
                                    " 'Ünïcode title' 'Band' 'Record' 2010 7 Jazz");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    Id3v1Tag t;
    t.setFilename(path);
    ASSERT_TRUE(t.Valid()) << t.Error();
    EXPECT_EQ(t.Title(), "Ünïcode title");
    EXPECT_EQ(t.Artist(), "Band");
    EXPECT_EQ(t.Album(), "Record");
    EXPECT_EQ(t.Year(), "2010");
    EXPECT_EQ(t.Comment(), "");
    EXPECT_EQ(t.track(), 7);
    EXPECT_EQ(t.VersionLow(), 1);
    EXPECT_EQ(t.GenreID(), GenreIdOf("Jazz"));
}

}  // namespace
}  // namespace sondrel
