// SPDX-License-Identifier: GPL-3.0-or-later
// APE tags and Musepack streams against peers: mutagen writes and reads the
// tags, mpcenc makes real version 8 streams, ffmpeg decodes them after a save.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "tags/ape.h"
#include "tags/musepack.h"

namespace sondrel {
namespace {

using test::Bytes;
using test::ReadAll;
using test::RunCommand;
using test::ShellQuote;
using test::TempDir;
using test::WriteAll;

const std::string kTool = std::string(SONDREL_TEST_DATA) + "/ape/mutagen_apev2.py";

// The first interpreter that has mutagen: a user's own python3 may come
// first on the PATH without the distribution's packages.
const std::string& MutagenPython() {
    static const std::string python = [] {
        for (const char* candidate : {"python3", "/usr/bin/python3"}) {
            const std::string cmd = ShellQuote(candidate) + " -c 'import mutagen' >/dev/null 2>&1";
            if (RunCommand(cmd).exitCode == 0)
                return std::string(candidate);
        }
        return std::string();
    }();
    return python;
}

nlohmann::json Peer(const std::string& args) {
    const auto r = RunCommand(ShellQuote(MutagenPython()) + " " + ShellQuote(kTool) + " " + args);
    EXPECT_EQ(r.exitCode, 0) << args;
    return r.exitCode == 0 ? nlohmann::json::parse(r.output) : nlohmann::json();
}

struct PeerItem {
    std::string key;
    std::string kind;
    std::string value;  // hex for binary items
};

void MutagenWrite(const TempDir& dir, const std::string& path, const std::vector<PeerItem>& items) {
    nlohmann::json request;
    request["items"] = nlohmann::json::array();
    for (const auto& it : items)
        request["items"].push_back({it.key, it.kind, it.value});
    const std::string requestPath = dir.file("items.json");
    WriteAll(requestPath, request.dump());
    const auto r = RunCommand(ShellQuote(MutagenPython()) + " " + ShellQuote(kTool) + " write " +
                              ShellQuote(path) + " " + ShellQuote(requestPath));
    ASSERT_EQ(r.exitCode, 0);
}

std::vector<PeerItem> MutagenDump(const std::string& path) {
    std::vector<PeerItem> out;
    for (const auto& row : Peer("dump " + ShellQuote(path)))
        out.push_back(
            {row[0].get<std::string>(), row[1].get<std::string>(), row[2].get<std::string>()});
    return out;
}

const PeerItem* Find(const std::vector<PeerItem>& items, const std::string& key) {
    for (const auto& it : items) {
        if (it.key == key)
            return &it;
    }
    return nullptr;
}

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

// A Monkey's Audio descriptor and header (3.99, 44.1 kHz stereo) and some
// stand-in audio; the tag tests need no real audio behind the header.
Bytes MonkeysAudioFile() {
    Bytes b = {'M', 'A', 'C', ' ', 0x96, 0x0F, 0, 0, 52, 0, 0, 0, 24, 0, 0, 0};
    b.resize(52, 0);
    const std::uint8_t header[24] = {0xD0, 0x07, 0, 0, 0,  0x80, 4, 0, 0xE8, 3,    0, 0,
                                     10,   0,    0, 0, 16, 0,    2, 0, 0x44, 0xAC, 0, 0};
    b.insert(b.end(), header, header + 24);
    for (int i = 0; i < 4000; ++i)
        b.push_back(static_cast<std::uint8_t>(i * 31 + 7));
    return b;
}

class ApeInterop : public ::testing::Test {
protected:
    void SetUp() override {
        if (MutagenPython().empty())
            GTEST_SKIP() << "python3 with mutagen is not installed";
    }
};

TEST_F(ApeInterop, MutagenTagReadAndKeptWholeThroughSave) {
    TempDir dir;
    const std::string path = dir.file("song.ape");
    const Bytes audio = MonkeysAudioFile();
    WriteAll(path, audio);
    std::string cover = "cover.jpg";
    cover.push_back('\0');
    for (int i = 0; i < 3000; ++i)
        cover.push_back(static_cast<char>(i % 251));
    const std::vector<PeerItem> unknown = {
        {"Subtitle", "text", "Second part"},
        {"Cover Art (Front)", "binary", Hex(cover)},
        {"MUSICBRAINZ_TRACKID", "text", "0f0e0d0c-1111-2222-3333-444455556666"},
        {"REPLAYGAIN_TRACK_GAIN", "text", "-7.25 dB"},
    };
    std::vector<PeerItem> items = {{"Title", "text", "Caf\xC3\xA9 \xD0\x96"},
                                   {"Artist", "text", "Somebody"},
                                   {"Track", "text", "3/12"},
                                   {"Genre", "text", "Jazz"},
                                   {"Comment", "text", "first\nsecond"}};
    items.insert(items.end(), unknown.begin(), unknown.end());
    MutagenWrite(dir, path, items);

    // Mutagen orders items by size; the unknown ones must keep that order.
    std::vector<std::string> unknownOrder;
    for (const auto& it : MutagenDump(path)) {
        if (!apetag::FieldOfKey(it.key))
            unknownOrder.push_back(it.key);
    }
    ASSERT_EQ(unknownOrder.size(), unknown.size());

    MonkeysAudioTag ape;
    ape.setFilename(path);
    EXPECT_TRUE(ape.Valid());
    EXPECT_EQ(ape.Version(), 2000u);
    EXPECT_EQ(ape.Title(), "Caf\xC3\xA9 \xD0\x96");
    EXPECT_EQ(ape.Artist(), "Somebody");
    EXPECT_EQ(ape.Track(), 3);
    EXPECT_EQ(ape.GenreID(), 8);
    EXPECT_EQ(ape.Comment(), "first\nsecond");

    ape.setTitle("New \xE2\x99\xAB title");
    ape.setAlbum("An album");
    ape.setLyrics(std::string(120000, 'l'));
    ASSERT_TRUE(ape.WriteTag()) << ape.error();

    const auto after = MutagenDump(path);
    auto text = [&](const std::string& key) {
        const PeerItem* it = Find(after, key);
        return it ? it->value : std::string("<missing>");
    };
    EXPECT_EQ(text("Title"), "New \xE2\x99\xAB title");
    EXPECT_EQ(text("Artist"), "Somebody");
    EXPECT_EQ(text("Album"), "An album");
    EXPECT_EQ(text("Track"), "3/12");
    EXPECT_EQ(text("Genre"), "Jazz");
    EXPECT_EQ(text("Comment"), "first\nsecond");
    EXPECT_EQ(text("Lyrics"), std::string(120000, 'l'));
    for (const auto& u : unknown) {
        const PeerItem* it = Find(after, u.key);
        ASSERT_NE(it, nullptr) << u.key;
        EXPECT_EQ(it->kind, u.kind) << u.key;
        EXPECT_EQ(it->value, u.value) << u.key;
    }
    // Kept items stay in their old order; fields the tag did not hold follow.
    std::vector<std::string> order;
    std::vector<std::string> keptOrder;
    for (const auto& it : after) {
        order.push_back(it.key);
        if (std::find(unknownOrder.begin(), unknownOrder.end(), it.key) != unknownOrder.end())
            keptOrder.push_back(it.key);
    }
    ASSERT_EQ(order.size(), 11u);
    EXPECT_EQ(keptOrder, unknownOrder);
    EXPECT_EQ(std::vector<std::string>(order.end() - 2, order.end()),
              (std::vector<std::string>{"Album", "Lyrics"}));

    const Bytes saved = ReadAll(path);
    ASSERT_GT(saved.size(), audio.size());
    EXPECT_TRUE(std::equal(audio.begin(), audio.end(), saved.begin()));
}

class MusepackInterop : public ApeInterop {
protected:
    void SetUp() override {
        ApeInterop::SetUp();
        if (IsSkipped())
            return;
        if (!test::HaveProgram("mpcenc") || !test::HaveProgram("ffmpeg"))
            GTEST_SKIP() << "mpcenc (musepack-tools) or ffmpeg is not installed";
    }

    // A real version 8 stream: `seconds` of a tone at `rate` Hz.
    std::string Encode(const TempDir& dir, int rate, int channels, double seconds) {
        const std::string wav = dir.file("in.wav");
        const std::string mpc = dir.file("out.mpc");
        const std::string gen =
            "ffmpeg -v error -nostdin -y -f lavfi -i sine=frequency=440:"
            "sample_rate=" +
            std::to_string(rate) + ":duration=" + std::to_string(seconds) + " -ac " +
            std::to_string(channels) + " " + ShellQuote(wav) + " >/dev/null 2>&1";
        EXPECT_EQ(RunCommand(gen).exitCode, 0);
        const std::string enc =
            "mpcenc --silent " + ShellQuote(wav) + " " + ShellQuote(mpc) + " >/dev/null 2>&1";
        EXPECT_EQ(RunCommand(enc).exitCode, 0);
        return mpc;
    }
};

TEST_F(MusepackInterop, EncoderStreamsReadAndStillDecodeAfterSave) {
    struct Case {
        int rate;
        int channels;
        double seconds;
    };
    for (const Case c : {Case{48000, 2, 2.0}, Case{44100, 1, 3.5}, Case{32000, 2, 1.0}}) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " ch");
        TempDir dir;
        const std::string path = Encode(dir, c.rate, c.channels, c.seconds);
        const auto facts = Peer("mpc " + ShellQuote(path));
        ASSERT_EQ(facts["version"].get<int>(), 8);

        MusepackTag mpc;
        mpc.setFilename(path);
        ASSERT_TRUE(mpc.Valid());
        EXPECT_EQ(mpc.StreamVersion(), 8);
        EXPECT_EQ(mpc.Frequency(), static_cast<std::uint32_t>(facts["sample_rate"].get<int>()));
        EXPECT_NEAR(mpc.DurationInSeconds(), facts["length"].get<double>(), 0.01);
        EXPECT_NEAR(mpc.DurationInSeconds(), c.seconds, 0.05);
        EXPECT_NEAR(mpc.Bitrate(), facts["bitrate"].get<int>() / 1000.0, 3.0);
        EXPECT_GE(mpc.Frames(), static_cast<std::uint32_t>(c.seconds * c.rate / 1152));
        if (c.channels == 1)
            EXPECT_EQ(mpc.ChannelMode(), "Mono");
        else
            EXPECT_TRUE(mpc.ChannelMode() == "Stereo" || mpc.ChannelMode() == "Joint Stereo");

        const Bytes stream = ReadAll(path);
        mpc.setTitle("Tone");
        mpc.setTrack(4);
        ASSERT_TRUE(mpc.WriteTag()) << mpc.error();
        const Bytes saved = ReadAll(path);
        EXPECT_TRUE(std::equal(stream.begin(), stream.end(), saved.begin()));

        const auto items = MutagenDump(path);
        ASSERT_NE(Find(items, "Title"), nullptr);
        EXPECT_EQ(Find(items, "Title")->value, "Tone");
        ASSERT_NE(Find(items, "Track"), nullptr);
        EXPECT_EQ(Find(items, "Track")->value, "4");
        EXPECT_NEAR(Peer("mpc " + ShellQuote(path))["length"].get<double>(),
                    facts["length"].get<double>(), 1e-9);
        const auto decode =
            RunCommand("ffmpeg -v error -nostdin -i " + ShellQuote(path) + " -f null - 2>&1");
        EXPECT_EQ(decode.exitCode, 0);
        EXPECT_EQ(decode.output, "");
    }
}

}  // namespace
}  // namespace sondrel
