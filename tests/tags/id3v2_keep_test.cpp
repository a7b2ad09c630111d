// SPDX-License-Identifier: GPL-3.0-or-later
// A save changes exactly what the user changed: frames of unchanged fields,
// described comments, multi-value frames and the album artist come back as
// they were, and a tag that could not be read completely is not replaced.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tags/id3v2.h"
#include "tags/id3v2_frames.h"
#include "tags/id3v2_test_tags.h"

namespace sondrel {
namespace {

using namespace sondrel::test;
using namespace sondrel::test::id3;

bool Contains(const Bytes& haystack, const Bytes& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
           haystack.end();
}

Bytes After(const Bytes& file, std::size_t offset) {
    return Bytes(file.begin() + static_cast<std::ptrdiff_t>(offset), file.end());
}

std::size_t TagEnd(const Bytes& file) {
    return 10 + id3v2::ParseHeader(file)->BodySize;
}

struct Fixture {
    TempDir dir;
    std::string path = dir.file("song.mp3");
    Bytes audio = FakeAudio();
    Id3v2Tag tag;
    void Load(const Bytes& tagBytes) {
        WriteFile(path, tagBytes, audio);
        tag.setFileName(path);
    }
    Bytes Disk() const { return ReadAll(path); }
};

Bytes Comm(const std::string& id, const std::string& lang, const std::string& desc,
           const std::string& text) {
    return F23(id, Cat({{0}, B(lang), B(desc), {0}, B(text)}));
}

using Edit = std::function<void(Id3v2Tag&)>;
const Edit kTitleOnly = [](Id3v2Tag& t) { t.settitle("New"); };

// Each case: a tag, the value a field shows, an edit, then the frames
// (whole, header included) that must be in the saved tag byte for byte, the
// identifiers it must not hold, and the tag version written.
TEST(Id3v2Keep, FramesOfUnchangedFieldsComeBackAsTheyWere) {
    const Bytes norm = Comm("COMM", "eng", "iTunNORM", " 0000 0001");
    const Bytes smpb = Comm("COMM", "eng", "iTunSMPB", " 0000 0002");
    const Bytes described = Comm("USLT", "eng", "desc", "other words");
    const Bytes tdrc23 = F23("TDRC", Text("2001-05-06"));
    const Bytes multi24 = F24("TPE1", Cat({{3}, B("A"), {0}, B("B")}));
    const Bytes genres23 = F23("TCON", Text("(17)(52)"));
    const Bytes remix = F23("TCON", Text("(RX)"));
    const Bytes cover = F23("TCON", Text("(CR)"));
    const Bytes band = F23("TPE2", Text("Band"));
    const Bytes sylt =
        F24("SYLT", Cat({{3}, B("eng"), {2, 1}, B("d"), {0}, B("la"), {0}, Plain32(1000)}));
    const Bytes chap = F24("CHAP", Cat({B("ch1"),
                                        {0},
                                        Plain32(0),
                                        Plain32(5000),
                                        Plain32(0xFFFFFFFF),
                                        Plain32(0xFFFFFFFF),
                                        F24("TIT2", Text("Intro"))}));
    const struct {
        const char* name;
        std::uint8_t major;
        Bytes body;
        std::function<std::string(const Id3v2Tag&)> field;
        std::string shown;
        Edit edit;
        std::vector<Bytes> kept;
        std::vector<std::string> absent;
        std::uint8_t writtenMajor;
    } cases[] = {
        {"described comments are never the comment",
         3,
         Cat({norm, smpb}),
         [](const Id3v2Tag& t) { return t.comment(); },
         "",
         kTitleOnly,
         {norm, smpb},
         {},
         3},
        {"a new comment goes beside the described ones",
         3,
         Cat({norm, smpb}),
         [](const Id3v2Tag& t) { return t.comment(); },
         "",
         [](Id3v2Tag& t) { t.setcomment("mine"); },
         {norm, smpb, Comm("COMM", "eng", "", "mine")},
         {},
         3},
        {"a described comment without a plain one is changed in place",
         3,
         Cat({norm, Comm("COMM", "fra", "desc", "old")}),
         [](const Id3v2Tag& t) { return t.comment(); },
         "old",
         [](Id3v2Tag& t) { t.setcomment("new"); },
         {norm, Comm("COMM", "fra", "desc", "new")},
         {},
         3},
        {"every plain comment gives way to the new one",
         3,
         Cat({Comm("COMM", "eng", "", "one"), norm, Comm("COMM", "deu", "", "zwei")}),
         [](const Id3v2Tag& t) { return t.comment(); },
         "one / zwei",
         [](Id3v2Tag& t) { t.setcomment("new"); },
         {Comm("COMM", "eng", "", "new"), norm},
         {},
         3},
        {"a 2.4 recording time becomes the 2.3 year, day and time",
         4,
         Cat({F24("TDRC", Text("2001-05-06T10:20")), F24("TDOR", Text("1999"))}),
         [](const Id3v2Tag& t) { return t.year(); },
         "2001-05-06T10:20",
         kTitleOnly,
         {F23("TYER", Text("2001")), F23("TDAT", Text("0605")), F23("TIME", Text("1020")),
          F23("TORY", Text("1999"))},
         {"TDRC", "TDOR"},
         3},
        {"a recording time 2.3 cannot hold keeps the tag 2.4",
         4,
         F24("TDRC", Text("2001-05")),
         [](const Id3v2Tag& t) { return t.year(); },
         "2001-05",
         kTitleOnly,
         {F24("TDRC", Text("2001-05"))},
         {"TYER"},
         4},
        {"an original date 2.3 cannot hold keeps the tag 2.4",
         4,
         F24("TDOR", Text("1999-05-06")),
         [](const Id3v2Tag& t) { return t.title(); },
         "",
         kTitleOnly,
         {F24("TDOR", Text("1999-05-06"))},
         {"TORY"},
         4},
        {"a new date is written as 2.3 year and day",
         3,
         F23("TYER", Text("1990")),
         [](const Id3v2Tag& t) { return t.year(); },
         "1990",
         [](Id3v2Tag& t) { t.setyear("2001-05-06"); },
         {F23("TYER", Text("2001")), F23("TDAT", Text("0605"))},
         {"TDRC"},
         3},
        {"a rewritten comment keeps its language",
         3,
         Cat({norm, Comm("COMM", "fra", "", "note")}),
         [](const Id3v2Tag& t) { return t.comment(); },
         "note",
         [](Id3v2Tag& t) { t.setcomment("autre"); },
         {norm, Comm("COMM", "fra", "", "autre")},
         {},
         3},
        {"described lyrics are never the lyrics",
         3,
         described,
         [](const Id3v2Tag& t) { return t.text(); },
         "",
         kTitleOnly,
         {described},
         {},
         3},
        {"TDRC is the year of a 2.3 tag, and kept",
         3,
         tdrc23,
         [](const Id3v2Tag& t) { return t.year(); },
         "2001-05-06",
         kTitleOnly,
         {tdrc23},
         {"TYER"},
         3},
        {"2.4 values are shown joined and kept in 2.4",
         4,
         multi24,
         [](const Id3v2Tag& t) { return t.artist(); },
         "A / B",
         kTitleOnly,
         {multi24},
         {},
         4},
        {"a 2.3 genre list",
         3,
         genres23,
         [](const Id3v2Tag& t) { return t.Genre(); },
         "Rock / " + GenreNameOf(52),
         kTitleOnly,
         {genres23},
         {},
         3},
        {"a remix",
         3,
         remix,
         [](const Id3v2Tag& t) { return t.Genre(); },
         "Remix",
         kTitleOnly,
         {remix},
         {},
         3},
        {"a cover",
         3,
         cover,
         [](const Id3v2Tag& t) { return t.Genre(); },
         "Cover",
         kTitleOnly,
         {cover},
         {},
         3},
        {"a 2.4 genre list becomes its 2.3 spelling",
         4,
         F24("TCON", Cat({{0}, B("17"), {0}, B("52")})),
         [](const Id3v2Tag& t) { return t.Genre(); },
         "Rock / " + GenreNameOf(52),
         kTitleOnly,
         {F23("TCON", Text("(17)(52)"))},
         {},
         3},
        {"the album artist is shown but not written as the artist",
         3,
         band,
         [](const Id3v2Tag& t) { return t.artist(); },
         "Band",
         kTitleOnly,
         {band},
         {"TPE1"},
         3},
        {"an edited artist goes beside the album artist",
         3,
         band,
         [](const Id3v2Tag& t) { return t.artist(); },
         "Band",
         [](Id3v2Tag& t) { t.setartist("Solo"); },
         {band, F23("TPE1", Text("Solo"))},
         {},
         3},
        {"a UTF-8 object becomes UTF-16 in 2.3",
         4,
         F24("GEOB", Cat({{3}, B("a/b"), {0}, B("\xD1\x84"), {0}, {0}, {9, 9}})),
         [](const Id3v2Tag& t) { return t.title(); },
         "",
         kTitleOnly,
         {F23("GEOB", Cat({{1},
                           B("a/b"),
                           {0},
                           {0xFF, 0xFE, 0x44, 0x04, 0, 0},
                           {0xFF, 0xFE, 0, 0},
                           {9, 9}}))},
         {},
         3},
        {"UTF-8 synchronised lyrics keep the tag 2.4",
         4,
         sylt,
         [](const Id3v2Tag& t) { return t.title(); },
         "",
         kTitleOnly,
         {sylt},
         {},
         4},
        {"chapters keep the tag 2.4",
         4,
         chap,
         [](const Id3v2Tag& t) { return t.title(); },
         "",
         kTitleOnly,
         {chap},
         {},
         4},
        {"a 2.4 frame 2.3 cannot carry keeps the tag 2.4",
         4,
         F24("XBAD", B("abc"), 0, 0x08),  // compressed without its length
         [](const Id3v2Tag& t) { return t.title(); },
         "",
         kTitleOnly,
         {F24("XBAD", B("abc"), 0, 0x08)},
         {},
         4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.Load(Tag(c.major, c.body, 40));
        ASSERT_TRUE(f.tag.Valid());
        EXPECT_EQ(c.field(f.tag), c.shown);
        c.edit(f.tag);
        ASSERT_TRUE(f.tag.WriteTag()) << f.tag.Error();
        const Bytes disk = f.Disk();
        EXPECT_EQ(disk[3], c.writtenMajor);
        for (const Bytes& frame : c.kept)
            EXPECT_TRUE(Contains(disk, frame)) << std::string(frame.begin(), frame.begin() + 4);
        const auto ids = IdsOf(disk);
        for (const std::string& id : c.absent)
            EXPECT_EQ(std::count(ids.begin(), ids.end(), id), 0) << id;
        EXPECT_EQ(After(disk, TagEnd(disk)), f.audio);
        // What was saved reads back as the edited record.
        Id3v2Tag again;
        again.setFileName(f.path);
        EXPECT_EQ(c.field(again), c.field(f.tag));
    }
}

// What lies between the last frame and the declared end of the tag is
// padding, whatever its bytes: a save replaces it by zeros and the audio
// follows the new tag directly. Frames behind zero padding are not read.
TEST(Id3v2Keep, PaddingIsWhateverFollowsTheFrames) {
    const Bytes title = F23("TIT2", Text("real"));
    const struct {
        const char* name;
        Bytes tail;
    } cases[] = {
        {"zeros", Bytes(300, 0)},
        {"0xFF", Bytes(300, 0xFF)},
        {"spaces", Bytes(300, ' ')},
        {"frames behind zeros", Cat({Bytes(20, 0), F23("TIT2", Text("stale")),
                                     F23("TALB", Text("stale")), Bytes(100, 0)})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.Load(Tag(3, Cat({title, c.tail})));
        ASSERT_TRUE(f.tag.Valid());
        EXPECT_EQ(f.tag.title(), "real");
        EXPECT_EQ(f.tag.album(), "");
        f.tag.setcomposer(std::string(400, 'c'));  // too large for the old tag
        ASSERT_TRUE(f.tag.WriteTag()) << f.tag.Error();
        const Bytes disk = f.Disk();
        EXPECT_EQ(IdsOf(disk), (std::vector<std::string>{"TIT2", "TCOM"}));
        EXPECT_EQ(After(disk, TagEnd(disk)), f.audio);
    }
}

// Some writers set the extended-header flag without writing one: the
// frames are read from the start of the body.
TEST(Id3v2Keep, ExtendedHeaderFlagWithoutAHeader) {
    const struct {
        const char* name;
        std::uint8_t major;
        Bytes body;
    } cases[] = {
        {"2.3, frames at once", 3, F23("TIT2", Text("x"))},
        {"2.4, frames at once", 4, F24("TIT2", Text("x"))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.Load(Tag(c.major, c.body, 20, id3v2::kFlagExtended));
        ASSERT_TRUE(f.tag.Valid());
        EXPECT_EQ(f.tag.title(), "x");
        // and a save keeps them
        f.tag.setalbum("a");
        ASSERT_TRUE(f.tag.WriteTag()) << f.tag.Error();
        Id3v2Tag again;
        again.setFileName(f.path);
        EXPECT_EQ(again.title(), "x");
        EXPECT_EQ(again.album(), "a");
    }
}

// A tag that could not be walked to its end is not replaced: the save is
// refused with the reason and the file stays as it was.
TEST(Id3v2Keep, SaveRefusesATagItCouldNotReadCompletely) {
    const struct {
        const char* name;
        std::uint8_t major;
        Bytes body;
        std::uint8_t flags;
    } cases[] = {
        {"garbage between frames", 3,
         Cat({F23("TIT2", Text("t")), B("\x01\x02junk"), F23("TALB", Text("a"))}), 0},
        {"a frame cut off by the end of the tag", 3,
         Cat({F23("TIT2", Text("t")), B("TALB"), Plain32(500), {0, 0}, Text("cut")}), 0},
        {"a compressed 2.2 tag", 2, F22("TT2", Text("t")), id3v2::kFlagExtended},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.Load(Tag(c.major, c.body, 0, c.flags));
        const Bytes before = f.Disk();
        f.tag.settitle("New");
        EXPECT_FALSE(f.tag.WriteTag());
        EXPECT_EQ(f.tag.Error(), Id3v2Tag::kMsgDamagedTag);
        EXPECT_EQ(f.Disk(), before);
    }
}

}  // namespace
}  // namespace sondrel
