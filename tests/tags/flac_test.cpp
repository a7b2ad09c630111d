// SPDX-License-Identifier: GPL-3.0-or-later
// FlacTag on FLAC files built block by block here, so each layout (padding,
// kept blocks, pictures, damage) is exactly the one under test. The blocks
// are walked again by this file's own reader, not the component's.
#include "tags/flac.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/test_support.h"
#include "tags/file_io.h"
#include "tags/vorbis_comment.h"

namespace {

using sondrel::Field;
using sondrel::FlacTag;
using sondrel::test::Bytes;
using sondrel::test::ReadAll;
using sondrel::test::TempDir;
using sondrel::test::WriteAll;

void PutBe(Bytes& b, std::uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutLe32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
std::uint32_t GetLe32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

struct Block {
    std::uint8_t type;
    Bytes body;
    bool operator==(const Block&) const = default;
};

Bytes StreamInfo(std::uint32_t rate, int channels, int bits, std::uint64_t samples,
                 std::uint8_t md5Seed = 0x11) {
    Bytes b;
    PutBe(b, 4096, 2);
    PutBe(b, 4096, 2);
    PutBe(b, 14, 3);
    PutBe(b, 9000, 3);
    // 20 bits rate, 3 bits channels-1, 5 bits bits-1, 36 bits samples.
    const std::uint64_t packed = (std::uint64_t{rate} << 44) | (std::uint64_t(channels - 1) << 41) |
                                 (std::uint64_t(bits - 1) << 36) | samples;
    PutBe(b, packed, 8);
    for (int i = 0; i < 16; ++i)
        b.push_back(static_cast<std::uint8_t>(md5Seed + i));
    return b;
}

Bytes CommentBody(const std::string& vendor, const std::vector<std::string>& comments) {
    Bytes b;
    PutLe32(b, static_cast<std::uint32_t>(vendor.size()));
    b.insert(b.end(), vendor.begin(), vendor.end());
    PutLe32(b, static_cast<std::uint32_t>(comments.size()));
    for (const auto& c : comments) {
        PutLe32(b, static_cast<std::uint32_t>(c.size()));
        b.insert(b.end(), c.begin(), c.end());
    }
    return b;
}

Bytes PictureBody(std::uint32_t type, const std::string& mime, const std::string& desc,
                  const Bytes& data, bool withSize = true) {
    Bytes b;
    PutBe(b, type, 4);
    PutBe(b, mime.size(), 4);
    b.insert(b.end(), mime.begin(), mime.end());
    PutBe(b, desc.size(), 4);
    b.insert(b.end(), desc.begin(), desc.end());
    for (std::uint32_t v : {16u, 16u, 24u, 0u})
        PutBe(b, withSize ? v : 0, 4);
    PutBe(b, data.size(), 4);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

// Stand-in audio: a frame sync code, then bytes that never spell "fLaC".
Bytes Audio() {
    Bytes a = {0xFF, 0xF8, 0x69, 0x08};
    for (int i = 0; i < 3000; ++i)
        a.push_back(static_cast<std::uint8_t>((i * 7 + 3) % 251));
    return a;
}

Bytes Flac(const std::vector<Block>& blocks, const Bytes& audio = Audio(),
           const Bytes& front = {}) {
    Bytes f = front;
    for (char c : std::string("fLaC"))
        f.push_back(static_cast<std::uint8_t>(c));
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        f.push_back(
            static_cast<std::uint8_t>(blocks[i].type | (i + 1 == blocks.size() ? 0x80 : 0)));
        PutBe(f, blocks[i].body.size(), 3);
        f.insert(f.end(), blocks[i].body.begin(), blocks[i].body.end());
    }
    f.insert(f.end(), audio.begin(), audio.end());
    return f;
}

// The file walked again: its blocks in order, and the bytes behind them.
struct Walked {
    std::vector<Block> blocks;
    Bytes audio;
    bool lastFlagOnLastOnly = true;
};
std::optional<Walked> Walk(const Bytes& f, std::size_t start = 0) {
    if (f.size() < start + 4 || std::memcmp(f.data() + start, "fLaC", 4) != 0)
        return std::nullopt;
    Walked w;
    std::size_t pos = start + 4;
    for (;;) {
        if (pos + 4 > f.size())
            return std::nullopt;
        const bool last = f[pos] & 0x80;
        const std::size_t len = (f[pos + 1] << 16) | (f[pos + 2] << 8) | f[pos + 3];
        if (pos + 4 + len > f.size())
            return std::nullopt;
        w.blocks.push_back({static_cast<std::uint8_t>(f[pos] & 0x7F),
                            Bytes(f.begin() + static_cast<std::ptrdiff_t>(pos + 4),
                                  f.begin() + static_cast<std::ptrdiff_t>(pos + 4 + len))});
        pos += 4 + len;
        if (last)
            break;
    }
    w.audio.assign(f.begin() + static_cast<std::ptrdiff_t>(pos), f.end());
    return w;
}

struct Comments {
    std::string vendor;
    std::vector<std::string> items;
};
Comments ParseComments(const Bytes& b) {
    Comments c;
    std::size_t pos = 0;
    const std::uint32_t vl = GetLe32(b.data());
    c.vendor.assign(reinterpret_cast<const char*>(b.data() + 4), vl);
    pos = 4 + vl;
    const std::uint32_t n = GetLe32(b.data() + pos);
    pos += 4;
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t l = GetLe32(b.data() + pos);
        c.items.emplace_back(reinterpret_cast<const char*>(b.data() + pos + 4), l);
        pos += 4 + l;
    }
    return c;
}

std::vector<Block> Without(const std::vector<Block>& blocks, std::initializer_list<int> types) {
    std::vector<Block> out;
    for (const Block& b : blocks) {
        bool drop = false;
        for (int t : types)
            drop = drop || b.type == t;
        if (!drop)
            out.push_back(b);
    }
    return out;
}

const Block* Find(const std::vector<Block>& blocks, int type) {
    for (const Block& b : blocks)
        if (b.type == type)
            return &b;
    return nullptr;
}

std::int64_t PaddingOf(const std::vector<Block>& blocks) {
    std::int64_t n = 0;
    for (const Block& b : blocks)
        if (b.type == 1)
            n += static_cast<std::int64_t>(b.body.size());
    return n;
}

ino_t InodeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// A file as taggers leave it: stream facts, a seek table, comments with a
// repeated and an unknown key, an application block, an unknown block type,
// a picture and padding.
std::vector<Block> TypicalBlocks(std::size_t padding) {
    std::vector<Block> blocks = {
        {0, StreamInfo(44100, 2, 16, 441000)},
        {3, Bytes(18, 0x5A)},
        {4, CommentBody("reference libFLAC 1.4.2 20221022",
                        {"TITLE=Old", "ARTIST=One", "artist=Two", "REPLAYGAIN_TRACK_GAIN=-6.2 dB",
                         "Genre=rock"})},
        {2, Bytes{'A', 'B', 'C', 'D', 1, 2, 3}},
        {9, Bytes{9, 9, 9}},
        {6, PictureBody(3, "image/png", "front", Bytes(40, 0x77))},
    };
    if (padding > 0)
        blocks.push_back({1, Bytes(padding, 0)});
    return blocks;
}

TEST(FlacTag, StreamFactsComeFromStreamInfoAndTheAudioSize) {
    struct Case {
        std::uint32_t rate;
        int channels;
        int bits;
        std::uint64_t samples;
        double seconds;
        std::string mode;
        std::string duration;
    };
    const Case cases[] = {
        {44100, 2, 16, 441000, 10.0, "Stereo", "00:00:10"},
        {96000, 6, 24, 96000ull * 3725, 3725.0, "6 channels", "01:02:05"},
        {8000, 1, 8, 4000, 0.5, "Mono", "00:00:00"},
        {48000, 2, 32, 0, 0.0, "Stereo", "00:00:00"},  // total samples unknown
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        const std::string path = dir.file("facts.flac");
        WriteAll(path, Flac({{0, StreamInfo(c.rate, c.channels, c.bits, c.samples)}}));
        FlacTag t;
        t.setFileName(path);
        ASSERT_TRUE(t.Valid()) << t.Error();
        EXPECT_EQ(t.Stream().sampleRate, c.rate);
        EXPECT_EQ(t.Stream().channels, c.channels);
        EXPECT_EQ(t.Stream().bitsPerSample, c.bits);
        EXPECT_EQ(t.Stream().totalSamples, c.samples);
        EXPECT_DOUBLE_EQ(t.DurationSeconds(), c.seconds);
        EXPECT_EQ(t.Duration(), c.duration);
        EXPECT_EQ(t.ChannelMode(), c.mode);
        EXPECT_EQ(t.AudioOffset(), 4 + 4 + 34);
        EXPECT_EQ(t.AudioSize(), static_cast<std::int64_t>(Audio().size()));
        const auto expectKbps =
            c.seconds > 0 ? static_cast<std::uint32_t>(Audio().size() * 8 / c.seconds / 1000 + 0.5)
                          : 0u;
        EXPECT_EQ(t.Bitrate(), expectKbps);
        EXPECT_EQ(t.Md5Hex(), "1112131415161718191a1b1c1d1e1f20");
    }
    // An MD5 of zeros means "not computed": nothing to show.
    const std::string path = dir.file("nomd5.flac");
    WriteAll(path, Flac({{0, StreamInfo(44100, 2, 16, 10, 0)}}));
    Bytes f = ReadAll(path);
    std::memset(f.data() + 8 + 18, 0, 16);
    WriteAll(path, f);
    FlacTag t;
    t.setFileName(path);
    ASSERT_TRUE(t.Valid());
    EXPECT_EQ(t.Md5Hex(), "");
}

TEST(FlacTag, ReadsFieldsRepeatedAndUnknownKeysAndPictures) {
    TempDir dir;
    const std::string path = dir.file("read.flac");
    WriteAll(path, Flac(TypicalBlocks(100)));
    FlacTag t;
    t.setFileName(path);
    ASSERT_TRUE(t.Valid()) << t.Error();
    EXPECT_EQ(t.Value(Field::Title), "Old");
    EXPECT_EQ(t.Value(Field::Artist), "One / Two");
    EXPECT_EQ(t.Value(Field::Genre), "rock");
    EXPECT_EQ(t.GenreID(), 17);  // table names match whatever their case
    EXPECT_EQ(t.Vendor(), "reference libFLAC 1.4.2 20221022");
    EXPECT_EQ(t.OtherComments(), std::vector<std::string>{"REPLAYGAIN_TRACK_GAIN=-6.2 dB"});
    EXPECT_EQ(t.OtherBlocks(), (std::vector<std::string>{"SEEKTABLE", "APPLICATION", "BLOCK9"}));
    EXPECT_EQ(t.PaddingSize(), 100);
    ASSERT_EQ(t.ImagesCount(), 1);
    EXPECT_EQ(t.Pictures()[0].MimeType, "image/png");
    EXPECT_EQ(t.Pictures()[0].Description, "front");
    EXPECT_EQ(t.Pictures()[0].PictureType, 3);
    EXPECT_EQ(t.Pictures()[0].Data, Bytes(40, 0x77));
}

// Every kind of save keeps the audio, the stream facts, the other blocks in
// their order, the vendor, the repeated and unknown keys; it writes in place
// exactly when the new blocks fit the old ones with their padding.
TEST(FlacTag, SavesKeepWhatTheUserDidNotChange) {
    struct Case {
        const char* name;
        std::size_t padding;
        Field field;
        std::string value;
        bool inPlace;
        std::vector<std::string> comments;  // expected, in order
    };
    const std::string big(6000, 'x');
    const std::vector<Case> cases = {
        {"title in the padding",
         200,
         Field::Title,
         "New title",
         true,
         {"TITLE=New title", "ARTIST=One", "artist=Two", "REPLAYGAIN_TRACK_GAIN=-6.2 dB",
          "Genre=rock"}},
        {"shrinking grows the padding",
         0,
         Field::Title,
         "",
         true,
         {"ARTIST=One", "artist=Two", "REPLAYGAIN_TRACK_GAIN=-6.2 dB", "Genre=rock"}},
        {"growing past the padding",
         200,
         Field::Lyrics,
         big,
         false,
         {"TITLE=Old", "ARTIST=One", "artist=Two", "REPLAYGAIN_TRACK_GAIN=-6.2 dB", "Genre=rock",
          "LYRICS=" + big}},
        {"a new field fitting exactly",
         13,
         Field::Year,
         "2024",
         true,
         {"TITLE=Old", "ARTIST=One", "artist=Two", "REPLAYGAIN_TRACK_GAIN=-6.2 dB", "Genre=rock",
          "DATE=2024"}},
        {"a changed repeated field becomes one",
         200,
         Field::Artist,
         "Both",
         true,
         {"TITLE=Old", "ARTIST=Both", "REPLAYGAIN_TRACK_GAIN=-6.2 dB", "Genre=rock"}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("save.flac");
        const Bytes before = Flac(TypicalBlocks(c.padding));
        WriteAll(path, before);
        const auto old = Walk(before);
        const ino_t inode = InodeOf(path);
        FlacTag t;
        t.setFileName(path);
        ASSERT_TRUE(t.Valid()) << t.Error();
        t.setValue(c.field, c.value);
        ASSERT_TRUE(t.WriteTag()) << t.Error();
        EXPECT_TRUE(t.Error().empty());

        const Bytes after = ReadAll(path);
        const auto now = Walk(after);
        ASSERT_TRUE(now);
        EXPECT_EQ(now->audio, Audio());
        EXPECT_EQ(Without(now->blocks, {1, 4}), Without(old->blocks, {1, 4}));
        ASSERT_NE(Find(now->blocks, 4), nullptr);
        const Comments cm = ParseComments(Find(now->blocks, 4)->body);
        EXPECT_EQ(cm.vendor, "reference libFLAC 1.4.2 20221022");
        EXPECT_EQ(cm.items, c.comments);
        EXPECT_EQ(now->blocks.back().type, 1) << "padding comes last";
        if (c.inPlace) {
            EXPECT_EQ(after.size(), before.size());
            EXPECT_EQ(InodeOf(path), inode);
        } else {
            EXPECT_EQ(PaddingOf(now->blocks), FlacTag::kPadding);
        }
        t.setFileName(path);
        EXPECT_EQ(t.Value(c.field), c.value);
    }
}

TEST(FlacTag, ASaveWithoutChangesLeavesTheFileAlone) {
    TempDir dir;
    const std::string path = dir.file("same.flac");
    const Bytes before = Flac(TypicalBlocks(64));
    WriteAll(path, before);
    FlacTag t;
    t.setFileName(path);
    ASSERT_TRUE(t.WriteTag()) << t.Error();
    EXPECT_EQ(ReadAll(path), before);
}

TEST(FlacTag, AFileWithoutCommentsGetsABlockOnlyForAValue) {
    TempDir dir;
    const std::string path = dir.file("bare.flac");
    WriteAll(path, Flac({{0, StreamInfo(44100, 2, 16, 44100)}, {3, Bytes(18, 1)}}));
    FlacTag t;
    t.setFileName(path);
    ASSERT_TRUE(t.Valid());
    ASSERT_TRUE(t.WriteTag()) << t.Error();
    auto w = Walk(ReadAll(path));
    ASSERT_TRUE(w);
    EXPECT_EQ(Find(w->blocks, 4), nullptr) << "no empty comment block";
    t.setValue(Field::Album, "Album");
    ASSERT_TRUE(t.WriteTag()) << t.Error();
    w = Walk(ReadAll(path));
    ASSERT_TRUE(w);
    ASSERT_GE(w->blocks.size(), 3u);
    EXPECT_EQ(w->blocks[1].type, 4) << "new comments follow the stream facts";
    const Comments c = ParseComments(w->blocks[1].body);
    EXPECT_EQ(c.vendor, FlacTag::kVendor);
    EXPECT_EQ(c.items, std::vector<std::string>{"ALBUM=Album"});
    EXPECT_EQ(w->blocks[2].type, 3);
    EXPECT_EQ(w->audio, Audio());
}

TEST(FlacTag, RemoveKeepsVendorPicturesAndOtherBlocks) {
    TempDir dir;
    const std::string path = dir.file("remove.flac");
    const Bytes before = Flac(TypicalBlocks(10));
    WriteAll(path, before);
    FlacTag t;
    t.setFileName(path);
    ASSERT_TRUE(t.RemoveTag()) << t.Error();
    const auto w = Walk(ReadAll(path));
    ASSERT_TRUE(w);
    const Comments c = ParseComments(Find(w->blocks, 4)->body);
    EXPECT_EQ(c.vendor, "reference libFLAC 1.4.2 20221022");
    EXPECT_TRUE(c.items.empty());
    EXPECT_EQ(Without(w->blocks, {1, 4}), Without(Walk(before)->blocks, {1, 4}));
    EXPECT_EQ(ReadAll(path).size(), before.size());
    EXPECT_EQ(t.Value(Field::Title), "");
}

TEST(FlacTag, PicturesAreAddedDeletedAndDescribed) {
    TempDir dir;
    const std::string path = dir.file("pics.flac");
    WriteAll(path, Flac(TypicalBlocks(300)));
    const std::string image = dir.file("back.jpg");
    const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 2, 3};
    WriteAll(image, jpeg);

    FlacTag t;
    t.setFileName(path);
    t.setValue(Field::Title, "unsaved edit");
    ASSERT_TRUE(t.AddImage(0, image, "Back ☃", 4)) << t.Error();
    auto w = Walk(ReadAll(path));
    ASSERT_TRUE(w);
    std::vector<const Block*> pics;
    for (const Block& b : w->blocks)
        if (b.type == 6)
            pics.push_back(&b);
    ASSERT_EQ(pics.size(), 2u);
    // Sizes unknown to us are stored as 0, as the format allows.
    EXPECT_EQ(pics[0]->body, PictureBody(4, "image/jpg", "Back ☃", jpeg, false));
    EXPECT_EQ(pics[1]->body, PictureBody(3, "image/png", "front", Bytes(40, 0x77)))
        << "the old picture block stays byte for byte";
    // A picture operation writes the fields as they were read.
    EXPECT_EQ(ParseComments(Find(w->blocks, 4)->body).items[0], "TITLE=Old");
    EXPECT_EQ(t.ImagesCount(), 2);
    EXPECT_EQ(t.Pictures()[0].Data, jpeg);
    EXPECT_EQ(t.Pictures()[0].Description, "Back ☃");

    ASSERT_TRUE(t.SetDescription(1, "Front cover"));
    ASSERT_TRUE(t.WriteTag()) << t.Error();
    t.setFileName(path);
    EXPECT_EQ(t.Pictures()[1].Description, "Front cover");
    EXPECT_EQ(t.Pictures()[1].Data, Bytes(40, 0x77));

    ASSERT_TRUE(t.DeleteImage(0)) << t.Error();
    t.setFileName(path);
    ASSERT_EQ(t.ImagesCount(), 1);
    EXPECT_EQ(t.Pictures()[0].Description, "Front cover");

    const std::string out = dir.file("out.png");
    ASSERT_TRUE(t.SaveImageToFile(0, out)) << t.Error();
    EXPECT_EQ(ReadAll(out), Bytes(40, 0x77));
    EXPECT_FALSE(t.DeleteImage(5));
    EXPECT_FALSE(t.AddImage(3, image, "", 3));
    EXPECT_EQ(Walk(ReadAll(path))->audio, Audio());
}

TEST(FlacTag, AnId3v2TagInFrontIsKeptAndSkipped) {
    // An ID3v2.3 tag with a title frame that must not be taken as ours.
    Bytes id3 = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 30};
    Bytes frame = {'T', 'I', 'T', '2', 0,   0,   0,   10,  0,   0,
                   0,   'I', 'D', '3', ' ', 't', 'i', 't', 'l', 'e'};
    id3.insert(id3.end(), frame.begin(), frame.end());
    id3.resize(40, 0);
    TempDir dir;
    const std::string path = dir.file("id3.flac");
    WriteAll(path, Flac(TypicalBlocks(0), Audio(), id3));
    FlacTag t;
    t.setFileName(path);
    ASSERT_TRUE(t.Valid()) << t.Error();
    EXPECT_EQ(t.Value(Field::Title), "Old");
    t.setValue(Field::Title, "A much longer title than there is room for in place");
    ASSERT_TRUE(t.WriteTag()) << t.Error();
    const Bytes after = ReadAll(path);
    EXPECT_TRUE(std::equal(id3.begin(), id3.end(), after.begin()));
    const auto w = Walk(after, id3.size());
    ASSERT_TRUE(w);
    EXPECT_EQ(w->audio, Audio());
    t.setFileName(path);
    EXPECT_EQ(t.Value(Field::Title), "A much longer title than there is room for in place");
}

TEST(FlacTag, DamagedFilesAreRefusedAndLeftUntouched) {
    auto withComments = [](const Bytes& body) {
        return Flac({{0, StreamInfo(44100, 2, 16, 100)}, {4, body}, {1, Bytes(20, 0)}});
    };
    Bytes countTooLarge;
    PutLe32(countTooLarge, 0);
    PutLe32(countTooLarge, sondrel::vorbis::kMaxComments + 1);
    Bytes lengthPastBlock;
    PutLe32(lengthPastBlock, 0);
    PutLe32(lengthPastBlock, 1);
    PutLe32(lengthPastBlock, 500);
    lengthPastBlock.push_back('A');
    Bytes pictureCut = PictureBody(3, "image/png", "", Bytes(40, 1));
    pictureCut.resize(pictureCut.size() - 5);
    std::vector<Block> manyBlocks = {{0, StreamInfo(44100, 2, 16, 100)}};
    manyBlocks.resize(FlacTag::kMaxBlocks + 1, Block{1, {}});
    Bytes cutBlock = Flac({{0, StreamInfo(44100, 2, 16, 100)}, {1, Bytes(50, 0)}}, {});
    cutBlock.resize(cutBlock.size() - 10);

    struct Case {
        const char* name;
        Bytes file;
    };
    const Case cases[] = {
        {"no stream marker", Bytes(100, 'x')},
        {"first block is not STREAMINFO", Flac({{1, Bytes(34, 0)}})},
        {"STREAMINFO of the wrong size", Flac({{0, Bytes(30, 0)}})},
        {"block runs past the end", cutBlock},
        {"comment count beyond the limit", withComments(countTooLarge)},
        {"comment longer than its block", withComments(lengthPastBlock)},
        {"comment list cut short", withComments(Bytes{0, 0, 0, 0, 3, 0, 0, 0})},
        {"picture cut short", Flac({{0, StreamInfo(44100, 2, 16, 100)}, {6, pictureCut}})},
        {"invalid block type", Flac({{0, StreamInfo(44100, 2, 16, 100)}, {127, Bytes(4, 0)}})},
        {"more blocks than the limit", Flac(manyBlocks)},
        {"no frame behind the metadata",
         Flac({{0, StreamInfo(44100, 2, 16, 100)}}, Bytes(200, 0x41))},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("damaged.flac");
        WriteAll(path, c.file);
        FlacTag t;
        std::string reported;
        t.onError = [&](sondrel::TagComponent&, const std::string& e) { reported = e; };
        t.setFileName(path);
        EXPECT_FALSE(t.Valid());
        EXPECT_FALSE(t.Error().empty());
        EXPECT_EQ(reported, t.Error());
        t.setValue(Field::Title, "x");
        EXPECT_FALSE(t.WriteTag());
        EXPECT_FALSE(t.Error().empty());
        EXPECT_FALSE(t.RemoveTag());
        EXPECT_EQ(ReadAll(path), c.file);
    }
}

// Damage behind the comment block, as other readers take it: a block whose
// length runs past the end of the file (an oversized padding block) or a file
// cut short inside its metadata. The comments read, the damage is named, and
// every save, removal and picture change is refused, the file untouched.
TEST(FlacTag, DamageBehindTheCommentsShowsTheTagsReadOnly) {
    if (!sondrel::test::HaveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg is missing";
    TempDir dir;
    const std::string made = dir.file("made.flac");
    sondrel::test::RunCommand(
        "ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=0.2 -c:a flac "
        "-metadata title=Kept -metadata artist=Whole " +
        sondrel::test::ShellQuote(made) + " </dev/null >/dev/null 2>&1");
    const Bytes good = ReadAll(made);
    const auto walked = Walk(good);
    ASSERT_TRUE(walked.has_value());
    // Where the first block behind the comments starts.
    std::size_t behind = 4;
    bool comments = false;
    for (const Block& b : walked->blocks) {
        behind += 4 + b.body.size();
        if (b.type == 4) {
            comments = true;
            break;
        }
    }
    ASSERT_TRUE(comments);
    ASSERT_LT(behind + 4, good.size() - walked->audio.size()) << "no block behind the comments";
    Bytes oversized = good;
    oversized[behind + 1] = 0xFF;
    oversized[behind + 2] = 0xFF;
    oversized[behind + 3] = 0xFF;
    const Bytes cut(good.begin(), good.begin() + static_cast<long>(behind + 2));

    struct Case {
        const char* name;
        Bytes file;
        std::string damage;
    };
    const Case cases[] = {
        {"oversized block", oversized, "a metadata block runs past the end of the file"},
        {"cut in the metadata", cut, "the metadata ends before its last block"},
    };
    WriteAll(dir.file("front.png"), Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("damaged.flac");
        WriteAll(path, c.file);
        FlacTag t;
        t.setFileName(path);
        ASSERT_TRUE(t.Valid()) << t.Error();
        EXPECT_EQ(t.Value(Field::Title), "Kept");
        EXPECT_EQ(t.Value(Field::Artist), "Whole");
        EXPECT_EQ(t.Damage(), c.damage);
        const std::string refusal =
            "The file is damaged (" + c.damage + "); its tags are shown read-only and not saved";
        t.setValue(Field::Title, "New");
        EXPECT_FALSE(t.WriteTag());
        EXPECT_EQ(t.Error(), refusal);
        EXPECT_FALSE(t.RemoveTag());
        EXPECT_EQ(t.Error(), refusal);
        EXPECT_FALSE(t.AddImage(0, dir.file("front.png"), ""));
        EXPECT_EQ(t.Error(), refusal);
        EXPECT_EQ(ReadAll(path), c.file);

        const std::string tool = sondrel::test::CliTool();
        if (tool.empty())
            continue;
        const std::string quoted = sondrel::test::ShellQuote(path);
        const auto shown =
            sondrel::test::RunCommand(sondrel::test::ShellQuote(tool) + " show --json " + quoted);
        const auto report = nlohmann::json::parse(shown.output, nullptr, false);
        ASSERT_TRUE(report.is_array() && report.size() == 1) << shown.output;
        EXPECT_EQ(report[0]["tags"]["title"], "Kept");
        EXPECT_EQ(report[0]["error"],
                  "the file is damaged (" + c.damage + "); its tags are shown read-only");
        const auto set = sondrel::test::RunCommand(sondrel::test::ShellQuote(tool) +
                                                   " set --title New " + quoted + " 2>&1");
        EXPECT_NE(set.exitCode, 0);
        EXPECT_NE(set.output.find(path), std::string::npos) << set.output;
        EXPECT_NE(set.output.find(refusal), std::string::npos) << set.output;
        EXPECT_EQ(ReadAll(path), c.file);
    }
}

// A write that fails (whole or after some bytes) leaves the old file, for
// the in-place path as for the rewrite.
TEST(FlacTag, FailedWritesLeaveTheOldFile) {
    struct Case {
        const char* name;
        std::size_t padding;
        std::string title;
        bool partial;
    };
    const Case cases[] = {
        {"in place, nothing lands", 500, "t", false},
        {"in place, half lands", 500, "t", true},
        {"rewrite, nothing lands", 0, std::string(3000, 'g'), false},
        {"rewrite, half lands", 0, std::string(3000, 'g'), true},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("fault.flac");
        const Bytes before = Flac(TypicalBlocks(c.padding));
        WriteAll(path, before);
        FlacTag t;
        t.setFileName(path);
        sondrel::IoFaults faults;
        faults.write = [&](std::size_t bytes) -> sondrel::WriteVerdict {
            if (c.partial)
                return sondrel::WriteVerdict::Partial(bytes / 2);
            return false;
        };
        t.SetIoFaults(faults);
        t.setValue(Field::Title, c.title);
        EXPECT_FALSE(t.WriteTag());
        EXPECT_FALSE(t.Error().empty());
        EXPECT_EQ(ReadAll(path), before);
        t.SetIoFaults({});
        t.setFileName(path);
        t.setValue(Field::Title, c.title);
        EXPECT_TRUE(t.WriteTag()) << t.Error();
    }
}

TEST(FlacTag, AWriteProtectedFileIsReplacedAndKeepsItsMode) {
    TempDir dir;
    const std::string path = dir.file("ro.flac");
    WriteAll(path, Flac(TypicalBlocks(100)));
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    FlacTag t;
    t.setFileName(path);
    t.setValue(Field::Title, "Protected");
    ASSERT_TRUE(t.WriteTag()) << t.Error();
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    t.setFileName(path);
    EXPECT_EQ(t.Value(Field::Title), "Protected");
}

TEST(FlacTag, AFileChangedSinceItWasReadIsNotWritten) {
    TempDir dir;
    const std::string path = dir.file("changed.flac");
    WriteAll(path, Flac(TypicalBlocks(100)));
    FlacTag t;
    t.setFileName(path);
    // Another program rewrites it with other blocks.
    const Bytes other = Flac(TypicalBlocks(7));
    WriteAll(path, other);
    t.setValue(Field::Title, "mine");
    EXPECT_FALSE(t.WriteTag());
    EXPECT_NE(t.Error().find("changed"), std::string::npos) << t.Error();
    EXPECT_EQ(ReadAll(path), other);
}

}  // namespace
