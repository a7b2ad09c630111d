// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tags/file_io.h"
#include "tags/id3v2.h"
#include "tags/id3v2_frames.h"
#include "tags/id3v2_test_tags.h"

namespace sondrel {
namespace {

using namespace sondrel::test;
using namespace sondrel::test::id3;

const id3v2::RawFrame* Find(const std::vector<id3v2::RawFrame>& frames, const std::string& id,
                            int nth = 0) {
    for (const auto& f : frames) {
        if (f.Id == id && nth-- == 0)
            return &f;
    }
    return nullptr;
}

std::uint32_t BodySize(const Bytes& file) {
    return id3v2::ParseHeader(file)->BodySize;
}

Bytes After(const Bytes& file, std::size_t offset) {
    return Bytes(file.begin() + static_cast<std::ptrdiff_t>(offset), file.end());
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

TEST(Id3v2Write, NewTagGoesInFrontOfTheUnchangedAudio) {
    Fixture f;
    f.Load({});
    EXPECT_FALSE(f.tag.Valid());
    f.tag.settitle("Title");
    f.tag.setartist("Artist");
    f.tag.settext("words");
    ASSERT_TRUE(f.tag.WriteTag()) << f.tag.Error();
    EXPECT_EQ(f.tag.Error(), "");
    const Bytes disk = f.Disk();
    EXPECT_EQ((Bytes{disk.begin(), disk.begin() + 6}), Cat({B("ID3"), {3, 0, 0}}));
    const std::uint32_t body = BodySize(disk);
    // text frames take 11 bytes + text, the lyrics frame 15 + text; empty
    // fields write no frame
    const std::uint32_t s = 11 + 5 + 11 + 6 + 15 + 5;
    EXPECT_EQ(body, s + 500);
    EXPECT_EQ(After(disk, 10 + body), f.audio);
    EXPECT_EQ(IdsOf(disk), (std::vector<std::string>{"USLT", "TIT2", "TPE1"}));
    Id3v2Tag again;
    again.setFileName(f.path);
    EXPECT_EQ(again.title(), "Title");
    EXPECT_EQ(again.artist(), "Artist");
    EXPECT_EQ(again.text(), "words");
}

TEST(Id3v2Write, EmptyFieldsWriteNoFrames) {
    Fixture f;
    f.Load({});
    ASSERT_TRUE(f.tag.WriteTag());
    EXPECT_EQ(BodySize(f.Disk()), 500u);
    EXPECT_TRUE(IdsOf(f.Disk()).empty());
}

TEST(Id3v2Write, InPlaceOrRewrite) {
    // Old body size against the new frames' size S = 11 + len(title).
    const std::uint32_t s = 11 + 5;
    const struct {
        const char* name;
        std::uint8_t major;
        std::uint32_t oldBody;
        bool inPlace;
    } cases[] = {
        {"exact fit", 3, s, true},
        {"500 bytes to spare", 3, s + 500, true},
        {"501 bytes to spare", 3, s + 501, false},
        {"too small", 3, s - 1, false},
        {"2.4 fits", 4, s + 10, true},
        {"2.2 always rewritten", 2, s + 10, false},
    };
    for (const auto& c : cases) {
        Fixture f;
        const Bytes frame = c.major == 2 ? F22("TT2", Text("old")) : F23("TIT2", Text("old"));
        f.Load(Tag(c.major, frame, c.oldBody - frame.size()));
        ASSERT_TRUE(f.tag.Valid()) << c.name;
        f.tag.settitle("Hello");
        ASSERT_TRUE(f.tag.WriteTag()) << c.name << ": " << f.tag.Error();
        const Bytes disk = f.Disk();
        const std::uint32_t body = BodySize(disk);
        EXPECT_EQ(body, c.inPlace ? c.oldBody : s + 500) << c.name;
        EXPECT_EQ(disk[3], 3) << c.name;
        EXPECT_EQ(After(disk, 10 + body), f.audio) << c.name;
        Id3v2Tag again;
        again.setFileName(f.path);
        EXPECT_EQ(again.title(), "Hello") << c.name;
    }
}

TEST(Id3v2Write, SecondSaveIsInPlaceAndGrowthRewritesWithNewPadding) {
    Fixture f;
    f.Load({});
    f.tag.settitle("x");
    ASSERT_TRUE(f.tag.WriteTag());
    const auto size1 = f.Disk().size();
    f.tag.setFileName(f.path);
    ASSERT_TRUE(f.tag.WriteTag());
    EXPECT_EQ(f.Disk().size(), size1);

    f.tag.setFileName(f.path);
    f.tag.setcomment(std::string(600, 'c'));
    ASSERT_TRUE(f.tag.WriteTag());
    const Bytes disk = f.Disk();
    EXPECT_EQ(BodySize(disk), 11u + 1 + 15 + 600 + 500);
    EXPECT_EQ(After(disk, 10 + BodySize(disk)), f.audio);
}

TEST(Id3v2Write, FieldEncodingsLanguageAndGenre) {
    Fixture f;
    f.Load({});
    f.tag.settitle("Caf\u00E9");
    f.tag.setartist("\u041F\u0440");
    f.tag.setcomment("\u00FC");
    f.tag.setLyricsLanguage("en");
    f.tag.setGenreID(0);
    ASSERT_TRUE(f.tag.WriteTag());
    EXPECT_EQ(f.tag.Genre(), "(0)Blues");
    const auto frames = FramesOf(f.Disk());
    EXPECT_EQ(Find(frames, "TIT2")->Data, Cat({{0}, B("Caf\xE9")}));
    EXPECT_EQ(Find(frames, "TPE1")->Data, (Bytes{1, 0xFF, 0xFE, 0x1F, 0x04, 0x40, 0x04}));
    EXPECT_EQ(Find(frames, "COMM")->Data, Cat({{0}, B("eng"), {0}, B("\xFC")}));
    EXPECT_EQ(Find(frames, "TCON")->Data, Cat({{0}, B("(0)Blues")}));

    f.tag.setFileName(f.path);
    EXPECT_EQ(f.tag.artist(), "\u041F\u0440");
    f.tag.setGenreID(12);
    f.tag.setGenre("Trip Rock");
    f.tag.setLyricsLanguage("deu");
    f.tag.setcomment("\u0100 note");
    ASSERT_TRUE(f.tag.WriteTag());
    const auto again = FramesOf(f.Disk());
    EXPECT_EQ(Find(again, "TCON")->Data, Cat({{0}, B("Trip Rock")}));
    EXPECT_EQ(Find(again, "COMM")->Data, Cat({{1},
                                              B("deu"),
                                              {0xFF, 0xFE, 0, 0},
                                              {0xFF, 0xFE, 0x00, 0x01},
                                              B(std::string(" \0n\0o\0t\0e\0", 10))}));
}

TEST(Id3v2Write, UnownedFramesAreCarriedInOrder) {
    const Bytes popm = Cat({B("a@b"), {0, 200, 0, 0, 0, 7}});
    const Bytes priv = Cat({B("owner"), {0}, {1, 2, 3, 0xFF}});
    const Bytes body = Cat(
        {F23("TPE2", Text("Band")), F23("TIT2", Text("old")),
         F23("COMM", Cat({{0}, B("eng"), B("iTunNORM"), {0}, B(" 0001")})),
         F23("COMM", Cat({{0}, B("eng"), {0}, B("main")})), F23("TPOS", Text("1/2")),
         F23("TXXX", Cat({{0}, B("key"), {0}, B("value")})), F23("POPM", popm), F23("PRIV", priv),
         F23("ZZZZ", {9, 9, 9}), F23("USLT", Cat({{0}, B("eng"), {0}, B("lyr")})),
         F23("USLT", Cat({{0}, B("fra"), B("fr"), {0}, B("paroles")}))});
    Fixture f;
    f.Load(Tag(3, body, 50));
    EXPECT_EQ(f.tag.comment(), "main");
    f.tag.setcomment("new");
    f.tag.settitle("T");
    ASSERT_TRUE(f.tag.WriteTag());
    const Bytes disk = f.Disk();
    // Changed fields are written where their old frames stood.
    EXPECT_EQ(IdsOf(disk), (std::vector<std::string>{"TPE2", "TIT2", "COMM", "COMM", "TPOS", "TXXX",
                                                     "POPM", "PRIV", "ZZZZ", "USLT", "USLT"}));
    const auto frames = FramesOf(disk);
    EXPECT_EQ(Find(frames, "POPM")->Data, popm);
    EXPECT_EQ(Find(frames, "PRIV")->Data, priv);
    EXPECT_EQ(Find(frames, "COMM", 0)->Data, Cat({{0}, B("eng"), B("iTunNORM"), {0}, B(" 0001")}));
    EXPECT_EQ(Find(frames, "COMM", 1)->Data, Cat({{0}, B("eng"), {0}, B("new")}));
    EXPECT_EQ(Find(frames, "USLT", 1)->Data, Cat({{0}, B("fra"), B("fr"), {0}, B("paroles")}));
    Id3v2Tag again;
    again.setFileName(f.path);
    EXPECT_EQ(again.comment(), "new");
    EXPECT_EQ(again.text(), "lyr");
    EXPECT_EQ(again.artist(), "Band") << "the artist shown still comes from TPE2";
    EXPECT_EQ(Find(frames, "TPE1"), nullptr) << "the artist was not edited";
    EXPECT_NE(Find(frames, "TPE2"), nullptr);
}

TEST(Id3v2Write, OldFramesAreConvertedTo23) {
    // 2.4: status flags move up a bit, the data length indicator becomes the
    // 2.3 decompressed size, grouping and encryption bytes follow it.
    const Bytes compressed = Cat({{0x0C}, Synchsafe(1000), B("zlibdata")});
    const Bytes encrypted = Cat({{0x55}, {0x80}, B("secret")});
    const Bytes body24 =
        Cat({F24("TIT2", Text("t")), F24("TXXX", Cat({{3}, B("k"), {0}, B("\xC3\xA9")})),
             F24("GEOB", compressed, 0x40, 0x48 | 0x01),  // grouped, compressed, with length
             F24("PRIV", encrypted, 0x20, 0x04),          // encrypted, file-alter flag
             F24("TDRC", Text("2001-02-03")), F24("TSOP", Text("Sort")),
             F24("TIT3", {2, 0x01, 0x00, 0, 'x'}), F24("WOAR", B("http://a/"))});
    Fixture f;
    f.Load(Tag(4, body24, 20));
    EXPECT_EQ(f.tag.year(), "2001-02-03");
    ASSERT_TRUE(f.tag.WriteTag()) << f.tag.Error();
    auto frames = FramesOf(f.Disk());
    const auto* geob = Find(frames, "GEOB");
    ASSERT_NE(geob, nullptr);
    EXPECT_EQ(geob->StatusFlags, 0x80);
    EXPECT_EQ(geob->FormatFlags, 0x80 | 0x20);
    EXPECT_EQ(geob->Data, Cat({Plain32(1000), {0x0C}, B("zlibdata")}));
    const auto* priv = Find(frames, "PRIV");
    ASSERT_NE(priv, nullptr);
    EXPECT_EQ(priv->StatusFlags, 0x40);
    EXPECT_EQ(priv->FormatFlags, 0x40);
    EXPECT_EQ(priv->Data, Cat({{0x55}, {0x80}, B("secret")}));
    EXPECT_EQ(Find(frames, "TXXX")->Data, Cat({{0}, B("k"), {0}, B("\xE9")})) << "2.3 has no UTF-8";
    // The recording time goes where 2.3 readers look for it.
    EXPECT_EQ(Find(frames, "TDRC"), nullptr);
    ASSERT_NE(Find(frames, "TYER"), nullptr);
    EXPECT_EQ(Find(frames, "TYER")->Data, Text("2001"));
    ASSERT_NE(Find(frames, "TDAT"), nullptr);
    EXPECT_EQ(Find(frames, "TDAT")->Data, Text("0302"));
    EXPECT_EQ(Find(frames, "TSOP")->Data, Text("Sort"));
    EXPECT_EQ(Find(frames, "TIT3")->Data, (Bytes{1, 0xFF, 0xFE, 0x00, 0x01, 'x', 0}));
    EXPECT_EQ(Find(frames, "WOAR")->Data, B("http://a/"));

    f.tag.setFileName(f.path);
    f.tag.setyear("1999");
    ASSERT_TRUE(f.tag.WriteTag());
    frames = FramesOf(f.Disk());
    EXPECT_EQ(Find(frames, "TDAT"), nullptr) << "a day contradicting the year";
    Id3v2Tag again;
    again.setFileName(f.path);
    EXPECT_EQ(again.year(), "1999");

    // 2.2: three-character names become their 2.3 names.
    Fixture g;
    g.Load(Tag(2, Cat({F22("TT2", Text("t")), F22("TP2", Text("band")), F22("TPA", Text("1")),
                       F22("CRM", B("xyz"))})));
    ASSERT_TRUE(g.tag.WriteTag());
    EXPECT_EQ(IdsOf(g.Disk()), (std::vector<std::string>{"TIT2", "TPE2", "TPOS", "XCRM"}));
}

TEST(Id3v2Write, Compressed23FrameKeepsItsFlagsAndData) {
    const Bytes packed = Cat({Plain32(400), {0x78, 0x9C, 1, 2, 3}});
    Fixture f;
    f.Load(Tag(3, Cat({F23("TIT2", Text("t")), F23("GEOB", packed, 0x40, 0x80 | 0x20)})));
    ASSERT_TRUE(f.tag.WriteTag());
    const auto frames = FramesOf(f.Disk());
    const auto* geob = Find(frames, "GEOB");
    ASSERT_NE(geob, nullptr);
    EXPECT_EQ(geob->StatusFlags, 0x40);
    EXPECT_EQ(geob->FormatFlags, 0x80 | 0x20);
    EXPECT_EQ(geob->Data, packed);
}

TEST(Id3v2Write, FooterOf24TagIsNotLeftInFrontOfTheAudio) {
    const Bytes frames = F24("TIT2", Text("t"));
    const Bytes footer = Cat({B("3DI"), {4, 0, id3v2::kFlagFooter}, Synchsafe(200)});
    Fixture f;
    f.Load(Cat({Tag(4, frames, 200 - frames.size(), id3v2::kFlagFooter), footer}));
    ASSERT_TRUE(f.tag.Valid());
    ASSERT_TRUE(f.tag.WriteTag());
    const Bytes disk = f.Disk();
    EXPECT_EQ(After(disk, 10 + BodySize(disk)), f.audio);
}

// A 2.4 header whose footer flag is set with no "3DI" footer behind the
// tag: the ten bytes after the tag are audio, and a save or a removal
// must keep them.
TEST(Id3v2Write, FooterFlagWithoutAFooterKeepsTheAudio) {
    const Bytes frames = F24("TIT2", Text("t"));
    const Bytes tag = Tag(4, frames, 200 - frames.size(), id3v2::kFlagFooter);
    for (const bool remove : {false, true}) {
        SCOPED_TRACE(remove ? "remove" : "save");
        Fixture f;
        f.Load(tag);
        ASSERT_TRUE(f.tag.Valid());
        ASSERT_TRUE(remove ? f.tag.RemoveTag() : f.tag.WriteTag()) << f.tag.Error();
        const Bytes disk = f.Disk();
        EXPECT_EQ(remove ? disk : After(disk, 10 + BodySize(disk)), f.audio);
    }
}

TEST(Id3v2Write, AudioInsideADeclaredTagIsKept) {
    // The declared size runs 300 bytes into the audio.
    const Bytes frames = F23("TIT2", Text("old"));
    const Bytes audio = FakeAudio(1000);
    Bytes file = Cat({B("ID3"),
                      {3, 0, 0},
                      Synchsafe(static_cast<std::uint32_t>(frames.size() + 300)),
                      frames,
                      audio});
    for (std::uint32_t s : {137u + 3u, 137u + 300u}) {
        TempDir dir;
        const std::string path = dir.file("a.mp3");
        WriteAll(path, file);
        Id3v2Tag t;
        t.setFileName(path);
        ASSERT_TRUE(t.Valid());
        t.settitle(std::string(s - 137, 'n'));
        ASSERT_TRUE(t.WriteTag()) << t.Error();
        const Bytes disk = ReadAll(path);
        EXPECT_EQ(After(disk, 10 + BodySize(disk)), audio) << "S = " << s;
    }
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    WriteAll(path, file);
    Id3v2Tag t;
    t.setFileName(path);
    ASSERT_TRUE(t.RemoveTag());
    EXPECT_EQ(ReadAll(path), audio);
}

// A frame whose size runs past the tag's declared end leaves no hint where
// the tag stops but the declared size: the removal cuts all of it, and a
// save refuses the tag it could not read whole.
TEST(Id3v2Write, BrokenFrameSizeIsRemovedByTheDeclaredSize) {
    const Bytes audio = FakeAudio(1000);
    for (const std::uint8_t major : {3, 4}) {
        SCOPED_TRACE(static_cast<int>(major));
        Bytes frame = major == 3 ? F23("TIT2", Text("Broken")) : F24("TIT2", Text("Broken"));
        const Bytes past = major == 3 ? Plain32(5000) : Synchsafe(5000);
        std::copy(past.begin(), past.end(), frame.begin() + 4);
        const Bytes file = Cat({Tag(major, frame, 1040 - frame.size()), audio});
        TempDir dir;
        const std::string path = dir.file("a.mp3");
        WriteAll(path, file);
        Id3v2Tag t;
        t.setFileName(path);
        ASSERT_TRUE(t.Valid());
        t.settitle("new");
        EXPECT_FALSE(t.WriteTag());
        EXPECT_EQ(t.Error(), Id3v2Tag::kMsgDamagedTag);
        EXPECT_EQ(ReadAll(path), file);
        ASSERT_TRUE(t.RemoveTag()) << t.Error();
        EXPECT_EQ(ReadAll(path), audio);
    }
}

TEST(Id3v2Write, RemoveTag) {
    Fixture f;
    const Bytes frame = F23("TIT2", Text("t"));
    f.Load(Tag(3, frame, 1000 - frame.size()));
    EXPECT_EQ(f.tag.TagSize(), 1000);
    const auto before = f.Disk().size();
    ASSERT_TRUE(f.tag.RemoveTag()) << f.tag.Error();
    EXPECT_EQ(f.Disk().size(), before - 1010);
    EXPECT_EQ(f.Disk(), f.audio);
    EXPECT_FALSE(f.tag.Valid());
    EXPECT_EQ(f.tag.Error(), Id3v2Tag::kMsgNoTag) << "the re-read finds no tag";
    EXPECT_EQ(f.tag.title(), "");

    // Nothing read: nothing removed.
    Fixture g;
    g.Load({});
    ASSERT_TRUE(g.tag.RemoveTag());
    EXPECT_EQ(g.Disk(), g.audio);

    Id3v2Tag missing;
    missing.setFileName(g.dir.file("gone.mp3"));
    EXPECT_FALSE(missing.RemoveTag());
    EXPECT_EQ(missing.Error(), "File does not exist!");
}

TEST(Id3v2Write, UnwritableFileIsRefusedAndUnchanged) {
    Fixture f;
    f.Load(Tag(3, F23("TIT2", Text("t")), 10));
    const Bytes before = f.Disk();
    ::chmod(f.path.c_str(), 0444);
    // Permissions do not bind root; the immutable attribute does, where the
    // file system has it.
    const bool immutable =
        ::geteuid() == 0 &&
        RunCommand("chattr +i " + ShellQuote(f.path) + " 2>/dev/null").exitCode == 0;
    struct Undo {
        std::string path;
        bool on;
        ~Undo() {
            if (on)
                RunCommand("chattr -i " + ShellQuote(path));
        }
    } undo{f.path, immutable};
    if (::geteuid() == 0 && !immutable)
        GTEST_SKIP() << "no way to make a file unwritable for root here";
    EXPECT_FALSE(f.tag.CanWrite(f.path));
    EXPECT_FALSE(f.tag.WriteTag());
    // The words users know, then the system's reason.
    EXPECT_EQ(f.tag.Error().rfind("File error!", 0), 0u) << f.tag.Error();
    EXPECT_FALSE(f.tag.RemoveTag());
    EXPECT_EQ(f.tag.Error(), "Error removing tag!");
    EXPECT_EQ(f.Disk(), before);
}

TEST(Id3v2Write, FullDiskLeavesTheFileUntouched) {
    const IoFaults kDiskFull{[](std::size_t) { return false; }, {}};
    for (const bool inPlace : {false, true}) {
        Fixture f;
        f.Load(Tag(3, F23("TIT2", Text("t")), inPlace ? 200 : 0));
        const Bytes before = f.Disk();
        f.tag.settitle("new");
        f.tag.SetIoFaults(kDiskFull);
        const bool ok = f.tag.WriteTag();
        EXPECT_FALSE(ok);
        EXPECT_EQ(f.tag.Error().rfind("File error!", 0), 0u) << f.tag.Error();
        EXPECT_NE(f.tag.Error().find("No space"), std::string::npos) << f.tag.Error();
        EXPECT_EQ(f.Disk(), before);
        if (!inPlace) {
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(f.dir.path()),
                                    std::filesystem::directory_iterator()),
                      1)
                << "no temporary file is left behind";
        }
    }
    Fixture g;
    g.Load(Tag(3, F23("TIT2", Text("t")), 10));
    const Bytes before = g.Disk();
    g.tag.SetIoFaults(kDiskFull);
    EXPECT_FALSE(g.tag.RemoveTag());
    EXPECT_EQ(g.tag.Error().rfind("File error (remove)!", 0), 0u) << g.tag.Error();
    EXPECT_EQ(g.Disk(), before);
}

TEST(Id3v2Write, MissingFile) {
    TempDir dir;
    Id3v2Tag t;
    t.setFileName(dir.file("no.mp3"));
    EXPECT_FALSE(t.WriteTag());
    EXPECT_EQ(t.Error(), "File does not exist!");
}

}  // namespace
}  // namespace sondrel
