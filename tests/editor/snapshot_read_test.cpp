// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a file through one shared FileSnapshot must tell exactly what the
// components tell when each opens the file itself: same hub, validity and
// error texts, stream facts, tag kinds, other items, and for each MP3
// component its validity, error text and events.
#include <gtest/gtest.h>

#include <iterator>
#include <string_view>

#include "editor/file_facts.h"
#include "editor/format_bridge.h"
#include "editor/format_registry.h"
#include "support/test_support.h"
#include "tags/ape_tag.h"

namespace sondrel {
namespace {

using test::TempDir;
using test::WriteAll;

struct Seen {
    TagFormat format = TagFormat::None;
    TagFields hub;
    bool valid = false;
    std::string error;
    StreamFacts stream;
    TagKinds kinds;
    std::vector<std::string> other;
    std::vector<std::size_t> pictureSizes;
};

void Collect(TagBridge& b, Seen& s) {
    s.hub = b.Hub();
    const FormatHandler* handler = HandlerOf(s.format);
    EXPECT_NE(handler, nullptr);
    if (handler) {
        s.valid = handler->Valid(b);
        s.error = handler->Error(b);
    }
    for (const auto& p : PicturesOf(b, s.format))
        s.pictureSizes.push_back(static_cast<std::size_t>(p.size));
}

Seen ByPath(const std::string& path) {
    TagBridge b;
    Seen s;
    s.format = b.Read(path);
    s.stream = StreamFactsOf(b, s.format, path);
    s.kinds = TagKindsOf(b, s.format, path);
    s.other = OtherItemsOf(b, s.format);
    Collect(b, s);
    return s;
}

Seen BySnapshot(const std::string& path) {
    TagBridge b;
    Seen s;
    const auto file = FileSnapshot::Open(path);
    EXPECT_TRUE(file);
    if (!file)
        return s;
    s.format = b.Read(*file);
    s.stream = StreamFactsOf(b, s.format, *file);
    s.kinds = TagKindsOf(b, s.format, *file);
    s.other = OtherItemsOf(b, s.format);
    Collect(b, s);
    return s;
}

void ExpectSame(const Seen& a, const Seen& b) {
    EXPECT_EQ(a.format, b.format);
    EXPECT_EQ(a.hub, b.hub);
    EXPECT_EQ(a.valid, b.valid);
    EXPECT_EQ(a.error, b.error);
    const StreamFacts &x = a.stream, &y = b.stream;
    EXPECT_EQ(x.valid, y.valid);
    EXPECT_EQ(x.format, y.format);
    EXPECT_EQ(x.length, y.length);
    EXPECT_EQ(x.seconds, y.seconds);
    EXPECT_EQ(x.bitrate, y.bitrate);
    EXPECT_EQ(x.vbr, y.vbr);
    EXPECT_EQ(x.sampleRate, y.sampleRate);
    EXPECT_EQ(x.channels, y.channels);
    EXPECT_EQ(x.frames, y.frames);
    EXPECT_EQ(x.encoder, y.encoder);
    EXPECT_EQ(a.kinds.id3v1, b.kinds.id3v1);
    EXPECT_EQ(a.kinds.id3v2, b.kinds.id3v2);
    EXPECT_EQ(a.kinds.ape, b.kinds.ape);
    EXPECT_EQ(a.kinds.lyrics3, b.kinds.lyrics3);
    EXPECT_EQ(a.other, b.other);
    EXPECT_EQ(a.pictureSizes, b.pictureSizes);
}

// One component read by its path and from a snapshot: validity, error text
// and file-name events must agree.
struct ComponentSeen {
    bool valid = false;
    std::string error;
    int fileNameEvents = 0;
};

template <typename Component, typename ReadIt>
ComponentSeen ReadComponent(ReadIt read) {
    Component c;
    ComponentSeen s;
    c.onFileNameChange = [&s](TagComponent&) { ++s.fileNameEvents; };
    read(c);
    s.valid = c.Valid();
    s.error = c.Error();
    return s;
}

void ExpectSameComponents(const std::string& path) {
    const auto file = FileSnapshot::Open(path);
    ASSERT_TRUE(file);
    const ComponentSeen seen[][2] = {
        {ReadComponent<Id3v1Tag>([&](Id3v1Tag& c) { c.setFilename(path); }),
         ReadComponent<Id3v1Tag>([&](Id3v1Tag& c) { c.LoadFrom(*file); })},
        {ReadComponent<Id3v2Tag>([&](Id3v2Tag& c) { c.setFileName(path); }),
         ReadComponent<Id3v2Tag>([&](Id3v2Tag& c) { c.LoadFrom(*file); })},
        {ReadComponent<MpegInfo>([&](MpegInfo& c) { c.setFileName(path); }),
         ReadComponent<MpegInfo>([&](MpegInfo& c) { c.LoadFrom(*file); })},
    };
    const char* names[] = {"ID3v1", "ID3v2", "MPEG"};
    for (std::size_t i = 0; i < std::size(seen); ++i) {
        SCOPED_TRACE(names[i]);
        const ComponentSeen &a = seen[i][0], &b = seen[i][1];
        EXPECT_EQ(a.valid, b.valid);
        EXPECT_EQ(a.error, b.error);
        EXPECT_EQ(a.fileNameEvents, b.fileNameEvents);
    }
}

using test::Concat;

// Tags written by the editor's own save: ID3v2 with the given picture size
// and comment length, ID3v1 with a Lyrics3 block.
Bytes Tagged(const Bytes& audio, const TempDir& dir, std::size_t pictureBytes,
             std::size_t commentChars) {
    const std::string path = dir.file("make.mp3");
    WriteAll(path, audio);
    TagBridge b;
    b.Read(path);
    TagFields h = b.Hub();
    h.title = "A title longer than thirty characters, for Lyrics3";
    h.artist = "Artist";
    h.comment = std::string(commentChars, 'c');
    h.text = "Some lyrics";
    b.setHub(h);
    EXPECT_TRUE(b.Save(path).ok);
    if (pictureBytes > 0) {
        Id3v2Tag v2;
        v2.setFileName(path);
        v2.setPictures({Picture{"image/jpeg", "cover", 3, Bytes(pictureBytes, 0xAB)}});
        EXPECT_TRUE(v2.WriteTag()) << v2.Error();
    }
    return test::ReadAll(path);
}

TEST(SnapshotRead, TellsWhatSeparateOpensTell) {
    const Bytes audio = test::SilentMp3();
    if (audio.empty())
        GTEST_SKIP() << "ffmpeg is not available";
    TempDir dir;
    const Bytes small = Tagged(audio, dir, 0, 10);
    const Bytes large = Tagged(audio, dir, 20000, 9000);  // tag past the cached head
    Bytes v1Only(128, 0);
    v1Only[0] = 'T', v1Only[1] = 'A', v1Only[2] = 'G', v1Only[3] = 'x';
    const Bytes ape = apetag::BuildTag({{"Title", 0, "t"}, {"DISCNUMBER", 0, "1"}});
    Bytes lyingHeader = small;
    lyingHeader[6] = 0x7F;  // a body far past the end of the file

    const std::pair<const char*, Bytes> files[] = {
        {"audio only", audio},
        {"small tags", small},
        {"large tags", large},
        {"APE and ID3v1", Concat({audio, ape, Bytes(v1Only)})},
        {"first 100 bytes", Bytes(large.begin(), large.begin() + 100)},
        {"last 300 bytes", Bytes(large.end() - 300, large.end())},
        {"ID3v1 block alone", v1Only},
        {"lying ID3v2 size", lyingHeader},
        {"empty", Bytes{}},
    };
    for (const auto& [name, bytes] : files) {
        for (const char* ext : {".mp3", ".mpc", ".ogg"}) {
            SCOPED_TRACE(std::string(name) + ext);
            const std::string path = dir.file(std::string("f") + ext);
            WriteAll(path, bytes);
            ExpectSame(ByPath(path), BySnapshot(path));
            if (std::string_view(ext) == ".mp3")
                ExpectSameComponents(path);
        }
    }
}

}  // namespace
}  // namespace sondrel
