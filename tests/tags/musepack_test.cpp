// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/musepack.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace sondrel {
namespace {

using test::Bytes;
using test::ReadAll;
using test::TempDir;
using test::WriteAll;

void Put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Append(Bytes& b, const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
}
using test::Concat;
Bytes PadTo(Bytes b, std::size_t size) {
    while (b.size() < size)
        b.push_back(static_cast<std::uint8_t>(b.size() * 13));
    return b;
}

// Stream versions 4 to 6 pack everything into bit fields of the first word.
Bytes OldHeader(int version, std::uint32_t bitrate, bool jointStereo, std::uint32_t w1) {
    const std::uint32_t versionBits = version == 4 ? 6 : version == 5 ? 14 : 22;
    const std::uint32_t w0 = bitrate << 23 | (jointStereo ? 1u : 0u) << 16 | versionBits << 8;
    Bytes b;
    Put32(b, w0);
    Put32(b, w1);
    Put32(b, 0);
    return b;
}

Bytes Sv7Header(std::uint32_t frames, unsigned rateIndex, bool midSide,
                std::uint8_t versionByte = 0x07) {
    Bytes b = {'M', 'P', '+', versionByte};
    Put32(b, frames);
    Put32(b, rateIndex << 16 | (midSide ? 1u << 30 : 0u));
    return b;
}

Bytes Varint(std::uint64_t v) {
    Bytes out;
    do {
        out.insert(out.begin(), static_cast<std::uint8_t>(v & 0x7F));
        v >>= 7;
    } while (v != 0);
    for (std::size_t i = 0; i + 1 < out.size(); ++i)
        out[i] |= 0x80;
    return out;
}

Bytes Packet(const std::string& key, const Bytes& payload) {
    Bytes b;
    Append(b, key);
    // Sizes used here stay below 128 with a one-byte size field, or use two.
    const std::size_t one = 3 + payload.size();
    const Bytes size = one < 128 ? Varint(one) : Varint(one + 1);
    b.insert(b.end(), size.begin(), size.end());
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

Bytes StreamHeaderPacket(std::uint64_t samples, std::uint64_t silence, unsigned rateIndex,
                         unsigned channels, bool midSide, std::uint8_t streamVersion = 8) {
    Bytes p = {0, 0, 0, 0, streamVersion};
    const Bytes s = Varint(samples);
    const Bytes q = Varint(silence);
    p.insert(p.end(), s.begin(), s.end());
    p.insert(p.end(), q.begin(), q.end());
    p.push_back(static_cast<std::uint8_t>(rateIndex << 5 | 16));
    p.push_back(static_cast<std::uint8_t>((channels - 1) << 4 | (midSide ? 8 : 0) | 3));
    return Packet("SH", p);
}

Bytes Sv8(std::initializer_list<Bytes> packets) {
    Bytes b = {'M', 'P', 'C', 'K'};
    for (const auto& p : packets)
        b.insert(b.end(), p.begin(), p.end());
    return b;
}

Bytes ApeTag(const std::string& key, const std::string& value) {
    Bytes body;
    Put32(body, static_cast<std::uint32_t>(value.size()));
    Put32(body, 0);
    Append(body, key);
    body.push_back(0);
    Append(body, value);
    Bytes f;
    Append(f, "APETAGEX");
    Put32(f, 2000);
    Put32(f, static_cast<std::uint32_t>(body.size() + 32));
    Put32(f, 1);
    Put32(f, 0);
    f.insert(f.end(), 8, 0);
    return Concat({body, f});
}

Bytes Id3v1(std::uint8_t track) {
    Bytes b(128, 0);
    b[0] = 'T';
    b[1] = 'A';
    b[2] = 'G';
    b[3] = 'v';
    b[125] = 0;
    b[126] = track;
    b[127] = 2;
    return b;
}

TEST(MusepackVersion, Detection) {
    struct Case {
        const char* name;
        Bytes header;
        int version;
    };
    const Case cases[] = {
        {"sv4", OldHeader(4, 128, false, 0), 4},
        {"sv5", OldHeader(5, 128, false, 0), 5},
        {"sv6", OldHeader(6, 0, false, 0), 6},
        {"sv7", Sv7Header(1, 0, false), 7},
        {"sv7_minor_1", Sv7Header(1, 0, false, 0x17), 7},
        {"sv7_minor_15", Sv7Header(1, 0, false, 0xF7), 7},
        {"mp_plus_major_8", Sv7Header(1, 0, false, 0x18), 0},
        {"mp_plus_major_6", Sv7Header(1, 0, false, 0x16), 0},
        {"mp_plus_major_0", Sv7Header(1, 0, false, 0x00), 0},
        {"sv8", Sv8({}), 8},
        {"riff", Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}, 0},
        {"short", Bytes{'M', 'P'}, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(musepack::StreamVersionOf(c.header), c.version) << c.name;
}

struct StreamCase {
    const char* name;
    Bytes file;
    bool valid;
    int version;
    std::uint32_t frequency;
    std::uint32_t frames;
    std::uint32_t bitrate;
    const char* channelMode;
    double seconds;
    const char* duration;
};

class MusepackStreamTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(MusepackStreamTest, ReadsStreamFacts) {
    const StreamCase& c = GetParam();
    TempDir dir;
    const std::string path = dir.file("a.mpc");
    WriteAll(path, c.file);
    MusepackTag mpc;
    mpc.setFilename(path);
    EXPECT_EQ(mpc.Valid(), c.valid);
    EXPECT_EQ(mpc.StreamVersion(), c.version);
    EXPECT_EQ(mpc.Frequency(), c.frequency);
    EXPECT_EQ(mpc.Frames(), c.frames);
    EXPECT_EQ(mpc.Bitrate(), c.bitrate);
    EXPECT_EQ(mpc.ChannelMode(), c.channelMode);
    EXPECT_NEAR(mpc.DurationInSeconds(), c.seconds, 0.005);
    EXPECT_EQ(mpc.Duration(), c.duration);
    EXPECT_EQ(mpc.FileLength(), c.valid ? static_cast<std::int64_t>(c.file.size()) : 0);
    EXPECT_EQ(mpc.APEVersion(), "");
    EXPECT_EQ(mpc.Compression(), "");
    EXPECT_EQ(mpc.error(), "");
}

const Bytes kSv8Audio = Packet("AP", Bytes(100, 0x55));

INSTANTIATE_TEST_SUITE_P(
    Versions, MusepackStreamTest,
    ::testing::Values(
        // 1,000,000 bytes × 8 × 44.1 / 10,000 / 1152 = 30.6 kbit/s.
        StreamCase{"sv7_44k", PadTo(Sv7Header(10000, 0, false), 1000000), true, 7, 44100, 10000, 31,
                   "Stereo", 261.224, "00:04:21"},
        StreamCase{"sv7_48k_joint", PadTo(Sv7Header(10000, 1, true), 1000000), true, 7, 48000,
                   10000, 33, "Joint Stereo", 240.0, "00:04:00"},
        StreamCase{"sv7_32k", PadTo(Sv7Header(1000, 3, false), 1000), true, 7, 32000, 1000, 0,
                   "Stereo", 36.0, "00:00:36"},
        // 400 × 8 × 44.1 / 49 / 1152 = 2.5 exactly: halves round to even.
        StreamCase{"sv7_half_to_even", PadTo(Sv7Header(49, 0, false), 400), true, 7, 44100, 49, 2,
                   "Stereo", 1.28, "00:00:01"},
        StreamCase{"sv7_no_frames", PadTo(Sv7Header(0, 0, false), 400), true, 7, 44100, 0, 0,
                   "Stereo", 0, "00:00:00"},
        StreamCase{"sv4", PadTo(OldHeader(4, 128, true, 500u << 16 | 0xFFFF), 1000), true, 4, 44100,
                   500, 128, "Joint Stereo", 13.061, "00:00:13"},
        StreamCase{"sv5", PadTo(OldHeader(5, 160, false, 500), 1000), true, 5, 44100, 500, 160,
                   "Stereo", 13.061, "00:00:13"},
        StreamCase{"sv6_estimated", PadTo(OldHeader(6, 0, false, 10000), 1000000), true, 6, 44100,
                   10000, 31, "Stereo", 261.224, "00:04:21"},
        // 3 s of stereo at 48 kHz in 30,000 bytes: 80 kbit/s, the tag behind
        // the stream not counted.
        StreamCase{
            "sv8",
            Concat({PadTo(Sv8({StreamHeaderPacket(144000, 0, 1, 2, true), kSv8Audio}), 30000),
                    ApeTag("Title", std::string(5000, 't'))}),
            true, 8, 48000, 125, 80, "Joint Stereo", 3.0, "00:00:03"},
        StreamCase{"sv8_mono_with_silence_and_other_packets",
                   PadTo(Sv8({Packet("EI", Bytes(5, 1)),
                              StreamHeaderPacket(45100, 1000, 0, 1, false), kSv8Audio}),
                         5513),
                   true, 8, 44100, 40, 44, "Mono", 1.0, "00:00:01"},
        StreamCase{"sv8_stereo",
                   PadTo(Sv8({StreamHeaderPacket(1152, 0, 2, 2, false), kSv8Audio}), 210), true, 8,
                   37800, 1, 55, "Stereo", 0.0305, "00:00:00"},
        StreamCase{"sv8_unknown_stream_version",
                   PadTo(Sv8({StreamHeaderPacket(1152, 0, 0, 2, false, 9), kSv8Audio}), 200), false,
                   0, 0, 0, 0, "", 0, "00:00:00"},
        StreamCase{"sv8_audio_before_header",
                   PadTo(Sv8({kSv8Audio, StreamHeaderPacket(1152, 0, 0, 2, false)}), 300), false, 0,
                   0, 0, 0, "", 0, "00:00:00"},
        StreamCase{"sv8_bad_rate", PadTo(Sv8({StreamHeaderPacket(1152, 0, 5, 2, false)}), 200),
                   false, 0, 0, 0, 0, "", 0, "00:00:00"},
        StreamCase{"sv8_truncated_header", Bytes{'M', 'P', 'C', 'K', 'S', 'H', 0x8F}, false, 0, 0,
                   0, 0, "", 0, "00:00:00"},
        StreamCase{"sv8_packet_larger_than_file",
                   Concat({Bytes{'M', 'P', 'C', 'K', 'S', 'H', 0xFF, 0xFF, 0x7F}, Bytes(40, 0)}),
                   false, 0, 0, 0, 0, "", 0, "00:00:00"},
        StreamCase{"sv7_minor_version", PadTo(Sv7Header(10000, 1, true, 0x17), 1000000), true, 7,
                   48000, 10000, 33, "Joint Stereo", 240.0, "00:04:00"},
        StreamCase{"mp_plus_unknown_major", PadTo(Sv7Header(10, 0, false, 0x18), 200), false, 0, 0,
                   0, 0, "", 0, "00:00:00"},
        StreamCase{"too_short", Bytes{'M', 'P', '+', 7, 1}, false, 0, 0, 0, 0, "", 0, "00:00:00"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MusepackTags, ReadEvenWhenStreamUnknown) {
    TempDir dir;
    const std::string path = dir.file("a.mpc");
    WriteAll(path, Concat({PadTo(Sv7Header(10, 0, false, 0x18), 200), ApeTag("TITLE", "Song")}));
    MusepackTag mpc;
    mpc.setFilename(path);
    EXPECT_FALSE(mpc.Valid());
    EXPECT_TRUE(mpc.ValidTag());
    EXPECT_EQ(mpc.Title(), "Song");
    EXPECT_EQ(mpc.id3v1(), 0);

    WriteAll(path, Concat({PadTo(Sv7Header(10, 0, false), 200), Id3v1(4)}));
    mpc.setFilename(path);
    EXPECT_TRUE(mpc.Valid());
    EXPECT_EQ(mpc.id3v1(), 128);
    EXPECT_EQ(mpc.Title(), "v");
    EXPECT_EQ(mpc.Track(), 4);
    EXPECT_EQ(mpc.GenreID(), 2);
}

TEST(MusepackTags, StreamBehindId3v2) {
    TempDir dir;
    const std::string path = dir.file("a.mpc");
    Bytes id3 = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 20};
    id3.resize(30, 0);
    WriteAll(
        path,
        Concat({id3, PadTo(Sv8({StreamHeaderPacket(44100, 0, 0, 2, true), kSv8Audio}), 1000)}));
    MusepackTag mpc;
    mpc.setFilename(path);
    EXPECT_TRUE(mpc.Valid());
    EXPECT_EQ(mpc.id3v2(), 30);
    EXPECT_EQ(mpc.StreamVersion(), 8);
    EXPECT_EQ(mpc.Bitrate(), 8u);  // 1000 bytes in 1 s
}

TEST(MusepackTags, SaveKeepsStreamAndReportsFailures) {
    TempDir dir;
    const std::string path = dir.file("a.mpc");
    const Bytes stream = PadTo(Sv7Header(10000, 1, true), 5000);
    WriteAll(path, Concat({stream, ApeTag("Subtitle", "kept"), Id3v1(4)}));
    MusepackTag mpc;
    std::vector<std::string> reported;
    mpc.onError = [&](TagComponent&, const std::string& e) { reported.push_back(e); };
    mpc.setFilename(path);
    mpc.setArtist("Artist");
    ASSERT_TRUE(mpc.WriteTag());
    const Bytes saved = ReadAll(path);
    EXPECT_TRUE(std::equal(stream.begin(), stream.end(), saved.begin()));

    MusepackTag again;
    again.setFilename(path);
    EXPECT_TRUE(again.Valid());
    EXPECT_EQ(again.Frequency(), 48000u);
    EXPECT_EQ(again.Artist(), "Artist");
    EXPECT_EQ(again.Version(), 2000u);
    EXPECT_EQ(again.id3v1(), 128);  // the ID3v1 tag stays, its artist updated
    EXPECT_EQ(std::string(saved.end() - 128 + 33, saved.end() - 128 + 39), "Artist");

    // Unlike the Monkey's Audio component, every failed save raises onError.
    again.setTitle("A much longer title");
    again.SetIoFaults({[](std::size_t) { return false; }, {}});
    const bool ok = again.WriteTag();
    EXPECT_FALSE(ok);
    EXPECT_EQ(again.error(), "Saving to file: No space left on device");
    EXPECT_TRUE(reported.empty());  // the first component saw no failure
    EXPECT_EQ(ReadAll(path), saved);

    again.onError = [&](TagComponent&, const std::string& e) { reported.push_back(e); };
    EXPECT_FALSE(again.WriteTag());
    again.SetIoFaults({});
    EXPECT_EQ(reported, std::vector<std::string>{"Saving to file: No space left on device"});
}

}  // namespace
}  // namespace sondrel
