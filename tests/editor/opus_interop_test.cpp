// SPDX-License-Identifier: GPL-3.0-or-later
// Ogg Opus through OggVorbisTag against peers: opusenc makes and tags real
// files, mutagen reads them and what we write, ffmpeg decodes before and after
// every kind of save, and opusinfo checks the pages of the result.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "editor/format_bridge.h"
#include "editor/format_registry.h"
#include "support/test_support.h"
#include "tags/ogg.h"

namespace {

using nlohmann::json;
using sondrel::Field;
using sondrel::OggCodec;
using sondrel::OggVorbisTag;
using sondrel::test::ReadAll;
using sondrel::test::RunCommand;
using sondrel::test::ShellQuote;
using sondrel::test::TempDir;

const std::string& Python() {
    static const std::string python = [] {
        for (const std::string candidate : {"python3", "/usr/bin/python3"})
            if (RunCommand(candidate + " -c 'import mutagen' >/dev/null 2>&1").exitCode == 0)
                return candidate;
        return std::string();
    }();
    return python;
}

std::string DecodedMd5(const std::string& path) {
    const auto r =
        RunCommand("ffmpeg -v error -nostdin -i " + ShellQuote(path) + " -map 0:a -f md5 - 2>&1");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output.rfind("MD5=", 0), 0u) << "decoder said: " << r.output;
    return r.output;
}

json MutagenRead(const std::string& path) {
    const std::string script = R"(
import json, sys
from mutagen.oggopus import OggOpus
f = OggOpus(sys.argv[1])
print(json.dumps({"vendor": f.tags.vendor, "comments": [[k, v] for k, v in f.tags],
                  "length": f.info.length, "channels": f.info.channels}))
)";
    const auto r = RunCommand(Python() + " -c " + ShellQuote(script) + " " + ShellQuote(path));
    EXPECT_EQ(r.exitCode, 0) << path;
    return r.exitCode == 0 ? json::parse(r.output) : json();
}

class OpusInterop : public ::testing::Test {
protected:
    void SetUp() override {
        if (Python().empty() || !sondrel::test::HaveProgram("ffmpeg") ||
            !sondrel::test::HaveProgram("opusenc") || !sondrel::test::HaveProgram("opusinfo"))
            GTEST_SKIP() << "opus-tools, ffmpeg or mutagen is not installed";
        wav_ = dir_.file("tone.wav");
        ASSERT_EQ(RunCommand("ffmpeg -v error -nostdin -y -f lavfi -i "
                             "sine=frequency=440:sample_rate=48000 -t 3.5 -ac 2 " +
                             ShellQuote(wav_) + " >/dev/null 2>&1")
                      .exitCode,
                  0);
    }

    std::string Make(const std::string& name, int padding) {
        const std::string path = dir_.file(name);
        const auto r = RunCommand("opusenc --quiet --padding " + std::to_string(padding) +
                                  " --title Tone --artist Uno --artist Dos --comment "
                                  "REPLAYGAIN_TRACK_GAIN=-3.1 " +
                                  ShellQuote(wav_) + " " + ShellQuote(path) + " 2>&1");
        EXPECT_EQ(r.exitCode, 0) << r.output;
        return path;
    }

    TempDir dir_;
    std::string wav_;
};

TEST_F(OpusInterop, ReadsTagsAndStreamFactsAsMutagenDoes) {
    const std::string path = Make("read.opus", 512);
    const json peer = MutagenRead(path);
    OggVorbisTag t;
    t.setFileName(path);
    ASSERT_TRUE(t.Valid()) << t.Error();
    EXPECT_EQ(t.Codec(), OggCodec::Opus);
    EXPECT_EQ(t.title(), "Tone");
    EXPECT_EQ(t.artist(), "Uno / Dos");
    EXPECT_EQ(t.Vendor(), peer["vendor"].get<std::string>());
    EXPECT_EQ(t.frequency(), 48000u);
    EXPECT_EQ(t.ChannelMode(), "Stereo");
    // The last granule position less the pre-skip, at 48 kHz: 3.5 s, not
    // the 3.5 s plus the encoder's delay a plain granule count gives.
    EXPECT_EQ(t.DurationInSeconds(), static_cast<std::int64_t>(peer["length"].get<double>()));
    EXPECT_EQ(t.DurationInSeconds(), 3);
    EXPECT_GT(t.BitrateNominal(), 0u);

    // Through the registry, as the editor and the tool see it.
    sondrel::TagBridge bridge;
    EXPECT_EQ(bridge.Read(path), sondrel::TagFormat::Ogg);
    const auto facts = sondrel::StreamFactsOf(bridge, sondrel::TagFormat::Ogg, path);
    EXPECT_EQ(facts.format, "Ogg Opus");
    // What `show --json` gives as seconds: the exact length, as for FLAC.
    EXPECT_NEAR(facts.seconds, peer["length"].get<double>(), 0.001);
    EXPECT_NEAR(facts.seconds, 3.5, 0.001);
}

// Every kind of save keeps the decoded audio and the stream's length, leaves
// a stream opusinfo accepts, and keeps vendor, repeated and unknown comments.
TEST_F(OpusInterop, EveryKindOfSaveKeepsTheAudio) {
    struct Case {
        const char* name;
        int padding;
        Field field;
        std::string value;
    };
    const Case cases[] = {
        {"within the padding", 512, Field::Title, "Neu"},
        {"growing over several pages", 0, Field::Lyrics, std::string(70000, 'l')},
        {"shrinking", 0, Field::Title, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Make("save.opus", c.padding);
        const std::string md5 = DecodedMd5(path);
        const json before = MutagenRead(path);
        OggVorbisTag t;
        t.setFileName(path);
        ASSERT_TRUE(t.Valid()) << t.Error();
        t.setValue(c.field, c.value);
        ASSERT_TRUE(t.WriteTag()) << t.Error();
        EXPECT_EQ(DecodedMd5(path), md5);
        const auto check = RunCommand("opusinfo " + ShellQuote(path) + " 2>&1");
        EXPECT_EQ(check.exitCode, 0) << check.output;
        EXPECT_EQ(check.output.find("WARNING"), std::string::npos) << check.output;
        const json after = MutagenRead(path);
        EXPECT_EQ(after["vendor"], before["vendor"]);
        EXPECT_EQ(after["length"], before["length"]);
        std::vector<std::vector<std::string>> expected;
        for (const auto& kv : before["comments"]) {
            const auto key = kv[0].get<std::string>();
            if (key == "title" || key == "TITLE") {
                if (c.field == Field::Title) {
                    if (!c.value.empty())
                        expected.push_back({"TITLE", c.value});
                    continue;
                }
            }
            expected.push_back(kv.get<std::vector<std::string>>());
        }
        if (c.field == Field::Lyrics)
            expected.push_back({"LYRICS", c.value});
        EXPECT_EQ(after["comments"].get<std::vector<std::vector<std::string>>>(), expected);
        t.setFileName(path);
        EXPECT_EQ(t.Value(c.field), c.value);
    }
}

TEST_F(OpusInterop, OgaFilesAreOggFiles) {
    const std::string path = dir_.file("vorbis.oga");
    ASSERT_EQ(RunCommand("ffmpeg -v error -nostdin -y -i " + ShellQuote(wav_) +
                         " -c:a libvorbis -f ogg -metadata title=Oga " + ShellQuote(path) +
                         " >/dev/null 2>&1")
                  .exitCode,
              0);
    sondrel::TagBridge bridge;
    ASSERT_EQ(bridge.Read(path), sondrel::TagFormat::Ogg);
    EXPECT_EQ(bridge.Hub().title, "Oga");
    sondrel::TagFields hub = bridge.Hub();
    hub.artist = "Someone";
    bridge.setHub(hub);
    EXPECT_TRUE(bridge.Save(path).ok);
    sondrel::TagBridge again;
    again.Read(path);
    EXPECT_EQ(again.Hub().artist, "Someone");
    EXPECT_EQ(sondrel::StreamFactsOf(again, sondrel::TagFormat::Ogg, path).format, "Ogg Vorbis");
}

}  // namespace
