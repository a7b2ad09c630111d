// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/picture_rules.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/test_support.h"

namespace sondrel {
namespace {

TEST(PictureNames, ProposedNamesAreSafe) {
    struct Case {
        std::string description, mime, name;
    };
    const Case cases[] = {
        {"AC/DC: Live?", "image/jpeg", "ACDC Live.jpg"},
        {"Front", "image/JPG", "Front.jpg"},
        {"Front", "image/gif", "Front.gif"},
        {"Front", "image/png", "Front.png"},
        {"Front", "application/octet-stream", "Front.bmp"},
        {"Front", "image/bmp", "Front.bmp"},
        {"Front", "image/x-unknown", "Front"},
        {"..hidden", "image/jpeg", "hidden.jpg"},
        {"-rf", "image/jpeg", "rf.jpg"},
        {" .-. x", "image/jpeg", "x.jpg"},
        {"a<b>c|d\\e\"f*g", "image/jpeg", "abcdefg.jpg"},
        {"tab\there\nnew", "image/jpeg", "tabherenew.jpg"},
        {"", "image/jpeg", "picture.jpg"},
        {"???", "image/gif", "picture.gif"},
        {"end.", "image/jpeg", "end.jpg"},
        {"Ünïcödé", "image/jpeg", "Ünïcödé.jpg"},
    };
    for (const auto& c : cases) {
        const std::string name = ProposedPictureName(c.description, c.mime);
        EXPECT_EQ(name, c.name) << c.description;
        for (char ch : name)
            EXPECT_FALSE(IsBadFileNameChar(ch)) << name;
    }
    EXPECT_EQ(SafeFileName("Album: Part 1/2"), "Album Part 12");
}

TEST(PictureNames, MimeChoices) {
    struct Case {
        std::string mime;
        int filter;
        std::string preview;
    };
    const Case cases[] = {
        {"image/jpeg", 1, ".jpg"}, {"image/jpg", 1, ".jpg"},
        {"image/gif", 2, ".gif"},  {"image/png", 3, ".png"},
        {"image/bmp", 4, ".bmp"},  {"application/octet-stream", 4, ".bmp"},
        {"text/plain", 5, ".jpg"}, {"", 5, ".jpg"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SaveChoiceForMime(c.mime).filter, c.filter) << c.mime;
        EXPECT_EQ(PreviewExtension(c.mime), c.preview) << c.mime;
    }
}

TEST(PictureNames, DescriptionsAndAddressExtensions) {
    EXPECT_EQ(DescriptionFromFileName("/music/covers/front.cover.jpg"), "front.cover");
    EXPECT_EQ(DescriptionFromFileName("/music/covers/front"), "");
    EXPECT_EQ(DescriptionFromFileName("front.jpg"), "front");

    EXPECT_EQ(AddressExtension("http://img.test/a/cover.JPG"), ".JPG");
    EXPECT_EQ(AddressExtension("http://img.test/cover"), "");
    EXPECT_EQ(AddressExtension("http://img.test/cover.php?id=1"), "");
    EXPECT_EQ(AddressExtension("http://img.test:8080/x"), "");

    const test::Bytes jfif{0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1};
    const test::Bytes gif{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(DownloadExtension(".gif", jfif), ".jpg");
    EXPECT_EQ(DownloadExtension(".GIF", jfif), ".jpg");
    EXPECT_EQ(DownloadExtension(".gif", gif), ".gif");
    EXPECT_EQ(DownloadExtension(".png", jfif), ".png");
}

TEST(PictureGuard, SignaturesSizesAndFiles) {
    struct Case {
        test::Bytes head;
        ImageKind kind;
    };
    const Case cases[] = {
        {{0xFF, 0xD8, 0xFF, 0xDB}, ImageKind::Jpeg},
        {{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, ImageKind::Png},
        {{'G', 'I', 'F', '8', '7', 'a'}, ImageKind::Gif},
        {{'B', 'M', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, ImageKind::Bmp},
        {{'B', 'M'}, ImageKind::None},
        {{'I', 'I', 42, 0}, ImageKind::Tiff},
        {{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'E', 'B', 'P'}, ImageKind::Webp},
        {{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}, ImageKind::None},
        {{0x89, 'P', 'N'}, ImageKind::None},
        {{'I', 'D', '3', 3}, ImageKind::None},
        {{}, ImageKind::None},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(SignatureOf(cases[i].head), cases[i].kind) << "case " << i;

    EXPECT_EQ(CheckPictureSize(10000, 10000), "");
    EXPECT_NE(CheckPictureSize(10000, 10001), "");
    EXPECT_NE(CheckPictureSize(1 << 30, 1 << 30), "");
    EXPECT_NE(CheckPictureSize(0, 10), "");

    test::TempDir dir;
    test::WriteAll(dir.file("ok.png"), test::Bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A});
    test::WriteAll(dir.file("song.mp3"), test::Bytes{'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0});
    test::WriteAll(dir.file("empty.jpg"), test::Bytes{});
    {
        // Sparse: a JPEG head and a size just over the limit.
        std::ofstream big(dir.file("big.jpg"), std::ios::binary);
        big.write("\xFF\xD8\xFF\xE0", 4);
        big.seekp(kMaxPictureFileBytes);
        big.put(0);
    }
    EXPECT_EQ(CheckPictureFile(dir.file("ok.png")), "");
    EXPECT_NE(CheckPictureFile(dir.file("song.mp3")).find("not a picture"), std::string::npos);
    EXPECT_NE(CheckPictureFile(dir.file("empty.jpg")), "");
    EXPECT_NE(CheckPictureFile(dir.file("big.jpg")).find("64 MiB"), std::string::npos);
    EXPECT_NE(CheckPictureFile(dir.file("missing.jpg")), "");
}

TEST(PicturePreview, FittingAndPaging) {
    struct Case {
        int tw, th, w, h;
        PixelSize size;
    };
    const Case cases[] = {
        {400, 300, 210, 245, {200, 150}},  // wider than the area: full width
        {300, 400, 210, 245, {150, 200}},  // taller: full height
        {100, 100, 210, 245, {200, 200}},  // small pictures grow to fit
        {3, 2, 11, 46, {1, 1}},            // 2/3 rounds to 1
        {2, 1, 15, 100, {5, 2}},           // 2.5 rounds to the even 2
        {2, 7, 11, 49, {1, 4}},            // 3.5 rounds to the even 4
        {4, 6, 16, 46, {1, 1}},            // width 4/6 rounds to 1
        {400, 300, 10, 245, {0, 0}},       // no area at all
        {0, 300, 210, 245, {0, 0}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FitPicture(c.tw, c.th, c.w, c.h), c.size)
            << c.tw << "x" << c.th << " in " << c.w << "x" << c.h;

    EXPECT_EQ(ClampPictureIndex(-1, 3, false), 0);
    EXPECT_EQ(ClampPictureIndex(5, 3, false), 2);
    EXPECT_EQ(ClampPictureIndex(1, 3, false), 1);
    EXPECT_EQ(ClampPictureIndex(1, 3, true), -1);
    EXPECT_EQ(ClampPictureIndex(0, 0, false), -1);
}

}  // namespace
}  // namespace sondrel
