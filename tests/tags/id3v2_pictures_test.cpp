// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "tags/id3v2.h"
#include "tags/id3v2_frames.h"
#include "tags/id3v2_test_tags.h"

namespace sondrel {
namespace {

using namespace sondrel::test;
using namespace sondrel::test::id3;

Bytes Apic(const std::string& mime, std::uint8_t type, const std::string& desc, const Bytes& data) {
    return F23("APIC", Cat({{0}, B(mime), {0, type}, B(desc), {0}, data}));
}

// Bytes 6..9 "JFIF" mark a JPEG file whatever its name says.
Bytes Jpeg(std::size_t n = 300) {
    Bytes b = Cat({{0xFF, 0xD8, 0xFF, 0xE0, 0, 16}, B("JFIF"), {0}});
    for (std::size_t i = b.size(); i < n; ++i)
        b.push_back(static_cast<std::uint8_t>(i * 7));
    return b;
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
    std::unique_ptr<Id3v2Tag> Reread() const {
        auto t = std::make_unique<Id3v2Tag>();
        t->setFileName(path);
        return t;
    }
};

TEST(Id3v2Pictures, ReadFromApicAndPicFrames) {
    const Bytes data = Jpeg();
    Fixture f;
    f.Load(Tag(
        3,
        Cat({Apic("image/png", 4, "back", {1, 2, 3}),
             F23("APIC", Cat({{1}, B("image/jpeg"), {0, 3}, {0xFF, 0xFE, 'f', 0, 0, 0}, data}))})));
    ASSERT_EQ(f.tag.ImagesCount(), 2);
    const auto& p = f.tag.Pictures();
    EXPECT_EQ(p[0], (Picture{"image/png", "back", 4, {1, 2, 3}}));
    EXPECT_EQ(p[1], (Picture{"image/jpeg", "f", 3, data}));

    const struct {
        const char* format;
        const char* mime;
    } formats[] = {{"JPG", "image/jpg"}, {"PNG", "image/png"}, {"BMP", "image/jpg"}};
    for (const auto& c : formats) {
        const Bytes pic = Cat({{0}, B(c.format), {3}, B("front"), {0}, data});
        Fixture g;
        g.Load(Tag(2, F22("PIC", pic)));
        ASSERT_EQ(g.tag.ImagesCount(), 1) << c.format;
        const Picture& q = g.tag.Pictures()[0];
        EXPECT_EQ(q.MimeType, c.mime);
        EXPECT_EQ(q.Description, "front");
        EXPECT_EQ(q.PictureType, 3);
        EXPECT_EQ(static_cast<std::size_t>(q.DataSize()), pic.size() - 6 - 5);
    }
}

TEST(Id3v2Pictures, PicFramesAreSavedAsApic) {
    const Bytes data = Jpeg();
    Fixture f;
    f.Load(Tag(2, Cat({F22("TT2", Text("t")),
                       F22("PIC", Cat({{0}, B("PNG"), {8}, B("art"), {0}, data}))})));
    ASSERT_TRUE(f.tag.WriteTag()) << f.tag.Error();
    const auto again = f.Reread();
    EXPECT_EQ(again->VersionHigh(), 3);
    ASSERT_EQ(again->ImagesCount(), 1);
    EXPECT_EQ(again->Pictures()[0], (Picture{"image/png", "art", 8, data}));
    EXPECT_EQ(again->title(), "t");
}

TEST(Id3v2Pictures, AddImageInsertsAndSaves) {
    Fixture f;
    f.Load(Tag(3, Cat({Apic("image/png", 3, "one", {1}), Apic("image/png", 4, "two", {2})})));
    const Bytes jpeg = Jpeg();
    const std::string cover = f.dir.file("cover.JPEG");
    WriteAll(cover, jpeg);
    ASSERT_TRUE(f.tag.AddImage(0, cover, "front side"));
    EXPECT_EQ(f.tag.Error(), "");
    EXPECT_EQ(f.tag.ImagesCount(), 3);
    const auto again = f.Reread();
    ASSERT_EQ(again->ImagesCount(), 3);
    EXPECT_EQ(again->Pictures()[0], (Picture{"image/jpg", "front side", 3, jpeg}));
    EXPECT_EQ(again->Pictures()[1].Description, "one");
    EXPECT_EQ(again->Pictures()[2].Description, "two");

    ASSERT_TRUE(f.tag.AddImage(3, cover, "last"));
    EXPECT_EQ(f.tag.Pictures().back().Description, "last");
    EXPECT_EQ(f.Reread()->ImagesCount(), 4);
}

TEST(Id3v2Pictures, AddImageMimeByNameAndContent) {
    const struct {
        const char* name;
        Bytes data;
        const char* mime;
    } cases[] = {
        {"x.gif", Jpeg(), "image/jpg"},
        {"x.GIF", B("GIF89a...."), "image/gif"},
        {"x.bin", Jpeg(), "application/octet-stream"},
        {"x.png", B("\x89PNG...."), "image/png"},
    };
    for (const auto& c : cases) {
        Fixture f;
        f.Load({});
        const std::string pic = f.dir.file(c.name);
        WriteAll(pic, c.data);
        ASSERT_TRUE(f.tag.AddImage(0, pic, ""));
        EXPECT_EQ(f.tag.Pictures()[0].MimeType, c.mime) << c.name;
        EXPECT_EQ(f.Reread()->Pictures()[0].MimeType, c.mime) << c.name;
    }
}

TEST(Id3v2Pictures, AddImageFailuresChangeNothing) {
    Fixture f;
    f.Load(Tag(3, Apic("image/png", 3, "one", {1}), 20));
    const Bytes before = ReadAll(f.path);
    const std::string good = f.dir.file("a.png");
    WriteAll(good, B("png"));
    const struct {
        const char* name;
        int position;
        std::string file;
        const char* error;
    } cases[] = {
        {"past the end", 2, good, "Error adding image"},
        {"negative", -1, good, "Error adding image"},
        {"missing picture file", 0, f.dir.file("none.png"), "Can't read picture file"},
        {"folder as picture file", 0, f.dir.path(), "Can't read picture file"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(f.tag.AddImage(c.position, c.file, "d")) << c.name;
        EXPECT_EQ(f.tag.Error(), c.error) << c.name;
        EXPECT_EQ(f.tag.ImagesCount(), 1) << c.name;
        EXPECT_EQ(ReadAll(f.path), before) << c.name;
    }
}

TEST(Id3v2Pictures, DeleteImage) {
    Fixture f;
    f.Load(Tag(3, Cat({Apic("image/png", 3, "one", {1}), Apic("image/png", 4, "two", {2})})));
    const Bytes before = ReadAll(f.path);
    for (int bad : {-1, 2}) {
        EXPECT_EQ(f.tag.DeleteImage(bad), -1);
        EXPECT_EQ(f.tag.Error(), "Delete image");
    }
    EXPECT_EQ(ReadAll(f.path), before);
    EXPECT_EQ(f.tag.DeleteImage(0), 0);
    EXPECT_EQ(f.Reread()->Pictures()[0].Description, "two");
    EXPECT_EQ(f.tag.DeleteImage(0), 0);
    EXPECT_EQ(f.tag.ImagesCount(), 0);
    const auto again = f.Reread();
    EXPECT_TRUE(again->Valid());
    EXPECT_EQ(again->ImagesCount(), 0);
}

TEST(Id3v2Pictures, MimeAndDescriptionAccessors) {
    Fixture f;
    f.Load(Tag(3, Cat({Apic("image/png", 3, "jpeg inside", Jpeg(20)),
                       Apic("image/png", 3, "png", B("0123456789"))})));
    EXPECT_EQ(f.tag.GetMIME(0), "image/jpg");
    EXPECT_EQ(f.tag.GetMIME(1), "image/png");
    EXPECT_EQ(f.tag.GetMIME(2), "");
    EXPECT_EQ(f.tag.GetDescription(-1), "");
    EXPECT_EQ(f.tag.GetDescription(1), "png");

    const Bytes before = ReadAll(f.path);
    f.tag.SetDescription(1, "new \u00E9t\u00E9 \u0100");
    f.tag.SetDescription(5, "ignored");
    EXPECT_EQ(f.tag.GetDescription(1), "new \u00E9t\u00E9 \u0100");
    EXPECT_EQ(ReadAll(f.path), before) << "memory only until the next save";
    ASSERT_TRUE(f.tag.WriteTag());
    EXPECT_EQ(f.Reread()->GetDescription(1), "new \u00E9t\u00E9 \u0100");
}

TEST(Id3v2Pictures, SaveImageToFile) {
    Fixture f;
    const Bytes data = Jpeg();
    f.Load(Tag(3, Apic("image/jpeg", 3, "", data)));
    const std::string out = f.dir.file("out.jpg");
    WriteAll(out, B("old content that must go"));
    EXPECT_EQ(f.tag.SaveImageToFile(0, out), 0);
    EXPECT_EQ(ReadAll(out), data);
    EXPECT_EQ(f.tag.SaveImageToFile(3, out), 0);
    EXPECT_EQ(ReadAll(out), Bytes{}) << "outside the list: an empty file";
    EXPECT_EQ(f.tag.SaveImageToFile(0, f.dir.file("no/such/folder.jpg")), ENOENT);
    EXPECT_FALSE(f.tag.Error().empty());
}

}  // namespace
}  // namespace sondrel
