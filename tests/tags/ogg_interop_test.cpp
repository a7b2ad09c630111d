// SPDX-License-Identifier: GPL-3.0-or-later
// OggVorbisTag against peers: ffmpeg encodes real Vorbis files, mutagen adds and reads
// comments, ffmpeg decodes after our saves, and a page checker written apart
// from the component (tests/data/ogg/ogg_peer.py) validates every page.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "tags/ogg.h"

namespace {

using nlohmann::json;
using sondrel::OggVorbisTag;
using sondrel::test::Bytes;
using sondrel::test::ReadAll;
using sondrel::test::RunCommand;
using sondrel::test::ShellQuote;
using sondrel::test::TempDir;
using sondrel::test::WriteAll;

const std::string kPeer = std::string(SONDREL_TEST_DATA) + "/ogg/ogg_peer.py";

// A Python that has mutagen; the first python3 on the PATH may be a private
// installation without the distribution's packages.
const std::string& Python() {
    static const std::string python = [] {
        for (const std::string candidate : {"python3", "/usr/bin/python3"})
            if (RunCommand(candidate + " -c 'import mutagen' >/dev/null 2>&1").exitCode == 0)
                return candidate;
        return std::string();
    }();
    return python;
}

bool HaveVorbisEncoder() {
    static const bool have =
        sondrel::test::HaveProgram("ffmpeg") &&
        RunCommand("ffmpeg -hide_banner -encoders 2>/dev/null | grep -q libvorbis").exitCode == 0;
    return have;
}

json Peer(const std::string& command, const std::string& path, const std::string& extra = "") {
    const auto r = RunCommand(Python() + " " + ShellQuote(kPeer) + " " + command + " " +
                              ShellQuote(path) + (extra.empty() ? "" : " " + extra));
    EXPECT_EQ(r.exitCode, 0) << command << " " << path;
    return r.exitCode == 0 ? json::parse(r.output) : json();
}

// Decoded PCM digest; also fails on any decoder complaint.
std::string DecodedMd5(const std::string& path) {
    const auto r = RunCommand("ffmpeg -v error -i " + ShellQuote(path) + " -map 0:a -f md5 - 2>&1");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output.rfind("MD5=", 0), 0u) << "decoder said: " << r.output;
    return r.output;
}

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// Keys that a field owns; every other comment must survive a save.
bool FieldKey(const std::string& key) {
    static const std::vector<std::string> keys = {
        "TRACKNUMBER", "TITLE",       "ARTIST",   "ALBUM",    "DATE",           "GENRE",
        "COMMENT",     "DESCRIPTION", "COMPOSER", "LYRICS",   "ORIGINALARTIST", "COPYRIGHT",
        "CONTACT",     "LINK",        "ENCODED",  "ENCODEDBY"};
    return std::find(keys.begin(), keys.end(), Upper(key)) != keys.end();
}

class OggInterop : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveVorbisEncoder())
            GTEST_SKIP() << "ffmpeg with libvorbis is not installed";
        if (Python().empty())
            GTEST_SKIP() << "python3 with mutagen is not installed";
    }

    // Three seconds of stereo tone with the comments ffmpeg writes.
    std::string Encode(const std::string& name) {
        const std::string path = dir.file(name);
        const auto r = RunCommand(
            "ffmpeg -v error -f lavfi -i sine=frequency=440:duration=3 -ac 2 -c:a libvorbis "
            "-metadata title=Hello -metadata artist=Someone -metadata album=Alb "
            "-metadata date=2001 -metadata genre=Jazz -metadata track=4 -metadata comment=note " +
            ShellQuote(path) + " 2>&1");
        EXPECT_EQ(r.exitCode, 0) << r.output;
        return path;
    }

    // A noisy JPEG of about 96 KB: real enough for decoders, too big for a page.
    std::string Cover() {
        const std::string path = dir.file("cover.jpg");
        const auto r = RunCommand(
            "ffmpeg -v error -y -f lavfi -i 'nullsrc=s=360x360,geq=random(1)*255:128:128' "
            "-frames:v 1 -q:v 2 " +
            ShellQuote(path) + " 2>&1");
        EXPECT_EQ(r.exitCode, 0) << r.output;
        return path;
    }

    TempDir dir;
};

TEST_F(OggInterop, ReadsWhatFfmpegWrote) {
    const std::string path = Encode("plain.ogg");
    const json info = Peer("dump", path);
    OggVorbisTag ogg;
    ogg.setFileName(path);
    ASSERT_TRUE(ogg.Valid()) << ogg.Error();
    EXPECT_EQ(ogg.title(), "Hello");
    EXPECT_EQ(ogg.artist(), "Someone");
    EXPECT_EQ(ogg.album(), "Alb");
    EXPECT_EQ(ogg.year(), "2001");
    EXPECT_EQ(ogg.Genre(), "Jazz");
    EXPECT_EQ(ogg.GenreID(), 8);
    EXPECT_EQ(ogg.track(), "4");
    EXPECT_EQ(ogg.comment(), "note");
    EXPECT_EQ(ogg.Vendor(), info["vendor"].get<std::string>());
    EXPECT_EQ(ogg.frequency(), info["sample_rate"].get<std::uint32_t>());
    EXPECT_EQ(ogg.ChannelMode(), "Stereo");
    EXPECT_EQ(ogg.DurationInSeconds(), static_cast<std::int64_t>(info["length"].get<double>()));
    EXPECT_EQ(ogg.Duration(), "00:00:03");
}

// Short streams end with a short page that shares the last search window
// with the page before it; the playing time must come from the last one.
TEST_F(OggInterop, PlayingTimeComesFromTheLastPage) {
    for (const char* source :
         {"anullsrc=r=44100:cl=stereo", "sine=frequency=300:sample_rate=22050"}) {
        for (const int seconds : {2, 5}) {
            SCOPED_TRACE(std::string(source) + ", " + std::to_string(seconds) + " s");
            const std::string path = dir.file("short.ogg");
            const auto r = RunCommand("ffmpeg -v error -y -f lavfi -i " + std::string(source) +
                                      " -t " + std::to_string(seconds) + " -c:a libvorbis " +
                                      ShellQuote(path) + " 2>&1");
            ASSERT_EQ(r.exitCode, 0) << r.output;
            OggVorbisTag ogg;
            ogg.setFileName(path);
            ASSERT_TRUE(ogg.Valid()) << ogg.Error();
            EXPECT_EQ(ogg.DurationInSeconds(), seconds);
        }
    }
}

// Mutagen's awkward comments (lower-case and repeated keys, Cyrillic, replay
// gain, a picture that spans pages), with and without an ID3v2 tag in front:
// read right, and after a save mutagen sees our fields and every kept comment,
// the pages validate and the audio decodes to the same samples.
TEST_F(OggInterop, SaveKeepsAudioAndUnownedComments) {
    for (const bool withId3 : {false, true}) {
        SCOPED_TRACE(withId3 ? "ID3v2 in front" : "plain");
        const std::string oggPath = Encode(withId3 ? "a.ogg" : "b.ogg");
        const auto added = RunCommand(Python() + " " + ShellQuote(kPeer) + " add-comments " +
                                      ShellQuote(oggPath) + " " + ShellQuote(Cover()));
        ASSERT_EQ(added.exitCode, 0);
        const json before = Peer("dump", oggPath);
        const json pagesBefore = Peer("pages", oggPath);
        ASSERT_EQ(pagesBefore["errors"].size(), 0u) << pagesBefore["errors"];

        Bytes id3;
        if (withId3) {
            id3 = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20,  'T', 'I',
                   'T', '2', 0,   0, 0, 3, 0, 0, 0, 'I', 'D'};
            id3.resize(30, 0);
        }
        const std::string path = dir.file(withId3 ? "tagged.ogg" : "untagged.ogg");
        Bytes file = id3;
        const Bytes body = ReadAll(oggPath);
        file.insert(file.end(), body.begin(), body.end());
        WriteAll(path, file);
        const std::string md5 = DecodedMd5(path);

        OggVorbisTag ogg;
        ogg.setFileName(path);
        ASSERT_TRUE(ogg.Valid()) << ogg.Error();
        // Repeated keys (in any case) show every value.
        EXPECT_EQ(ogg.title(), "Hello / Заголовок");
        EXPECT_EQ(ogg.artist(), "Someone / First / Исполнитель");
        EXPECT_EQ(ogg.comment(), "note / described");
        EXPECT_EQ(ogg.lyrics(), "строка 1\nline 2");
        EXPECT_EQ(ogg.EncodedBy(), "someone");
        EXPECT_EQ(ogg.OrigArtist(), "orig");

        std::vector<std::string> kept;
        for (const auto& kv : before["comments"]) {
            const auto key = kv[0].get<std::string>();
            if (!FieldKey(key))
                kept.push_back(key + "=" + kv[1].get<std::string>());
        }
        ASSERT_EQ(ogg.OtherComments(), kept);

        ogg.setalbum("Альбом ✓");
        ogg.setcomposer("Composer 🎵");
        ogg.setGenreID(17);
        ogg.setURL("http://example.org/");
        ASSERT_TRUE(ogg.WriteTag()) << ogg.Error();

        const Bytes saved = ReadAll(path);
        ASSERT_GE(saved.size(), id3.size());
        EXPECT_TRUE(std::equal(id3.begin(), id3.end(), saved.begin()));
        // The peers read the Ogg stream without the ID3v2 tag.
        const std::string bare = dir.file("bare.ogg");
        WriteAll(bare, Bytes(saved.begin() + static_cast<std::ptrdiff_t>(id3.size()), saved.end()));
        const json after = Peer("dump", bare);
        // The comments of unchanged fields and of no field stay, in their
        // order and spelling; each changed field has one comment, its new value.
        const std::map<std::string, std::string> changed = {{"ALBUM", "Альбом ✓"},
                                                            {"COMPOSER", "Composer 🎵"},
                                                            {"GENRE", "Rock"},
                                                            {"CONTACT", "http://example.org/"}};
        const std::set<std::string> replacedKeys = {"ALBUM", "COMPOSER", "GENRE", "CONTACT",
                                                    "LINK"};
        auto upper = [](std::string k) {
            for (char& c : k)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            return k;
        };
        std::vector<std::string> keptBefore;
        for (const auto& kv : before["comments"])
            if (!replacedKeys.contains(upper(kv[0].get<std::string>())))
                keptBefore.push_back(kv[0].get<std::string>() + "=" + kv[1].get<std::string>());
        std::vector<std::string> keptAfter;
        std::map<std::string, std::vector<std::string>> written;
        for (const auto& kv : after["comments"]) {
            const std::string key = kv[0].get<std::string>();
            EXPECT_NE(kv[1].get<std::string>(), "") << key;
            if (replacedKeys.contains(upper(key)))
                written[key].push_back(kv[1].get<std::string>());
            else
                keptAfter.push_back(key + "=" + kv[1].get<std::string>());
        }
        EXPECT_EQ(keptAfter, keptBefore);
        for (const auto& [key, value] : changed)
            EXPECT_EQ(written[key], std::vector<std::string>{value}) << key;
        EXPECT_EQ(written.size(), changed.size());
        EXPECT_EQ(after["vendor"], before["vendor"]);

        const json pagesAfter = Peer("pages", path, std::to_string(id3.size()));
        EXPECT_EQ(pagesAfter["errors"].size(), 0u) << pagesAfter["errors"];
        EXPECT_EQ(pagesAfter["audio"], pagesBefore["audio"]);
        EXPECT_EQ(pagesAfter["granules"], pagesBefore["granules"]);
        EXPECT_EQ(DecodedMd5(path), md5);

        // Removing leaves a valid stream with the vendor and no comments
        // but the pictures.
        const int pictures = ogg.ImagesCount();
        ASSERT_GT(pictures, 0);
        ASSERT_TRUE(ogg.RemoveTag()) << ogg.Error();
        EXPECT_TRUE(ogg.Valid());
        EXPECT_EQ(ogg.ImagesCount(), pictures);
        const Bytes removed = ReadAll(path);
        WriteAll(bare,
                 Bytes(removed.begin() + static_cast<std::ptrdiff_t>(id3.size()), removed.end()));
        const json empty = Peer("dump", bare);
        EXPECT_EQ(empty["comments"].size(), static_cast<std::size_t>(pictures));
        for (const auto& kv : empty["comments"])
            EXPECT_EQ(upper(kv[0].get<std::string>()), "METADATA_BLOCK_PICTURE");
        EXPECT_EQ(empty["vendor"], before["vendor"]);
        const json pagesRemoved = Peer("pages", path, std::to_string(id3.size()));
        EXPECT_EQ(pagesRemoved["errors"].size(), 0u) << pagesRemoved["errors"];
        EXPECT_EQ(pagesRemoved["audio"], pagesBefore["audio"]);
        EXPECT_EQ(DecodedMd5(path), md5);
    }
}

// Lyrics far beyond one page: the header grows by several pages and the
// whole stream is renumbered; peers must still accept it.
TEST_F(OggInterop, LongLyricsSpreadOverPages) {
    const std::string path = Encode("long.ogg");
    const json pagesBefore = Peer("pages", path);
    const std::string md5 = DecodedMd5(path);
    std::string lyrics;
    for (int i = 0; lyrics.size() < 300000; ++i)
        lyrics += "Строка " + std::to_string(i) + "\n";
    OggVorbisTag ogg;
    ogg.setFileName(path);
    ogg.setlyrics(lyrics);
    ASSERT_TRUE(ogg.WriteTag()) << ogg.Error();
    const json pagesAfter = Peer("pages", path);
    EXPECT_EQ(pagesAfter["errors"].size(), 0u) << pagesAfter["errors"];
    EXPECT_GT(pagesAfter["pages"].get<int>(), pagesBefore["pages"].get<int>() + 3);
    EXPECT_EQ(pagesAfter["audio"], pagesBefore["audio"]);
    EXPECT_EQ(pagesAfter["granules"], pagesBefore["granules"]);
    EXPECT_EQ(DecodedMd5(path), md5);
    bool found = false;
    const json after = Peer("dump", path);
    for (const auto& kv : after["comments"])
        found = found || (kv[0] == "LYRICS" && kv[1] == lyrics);
    EXPECT_TRUE(found);
}

std::string Sha256Of(const std::string& path) {
    const auto r = RunCommand("sha256sum " + ShellQuote(path));
    EXPECT_EQ(r.exitCode, 0);
    return r.output.substr(0, 64);
}

// Pictures both ways with mutagen, in Vorbis and Opus streams: what mutagen
// adds we list and export; what we add, describe and delete mutagen reads;
// the pages stay valid and the audio decodes to the same samples throughout.
TEST_F(OggInterop, PicturesBothWaysWithMutagen) {
    const std::string jpeg = Cover();
    const std::string png = dir.file("back.png");
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i color=c=red:s=64x32 -frames:v 1 " +
                         ShellQuote(png) + " 2>&1")
                  .exitCode,
              0);
    const bool haveOpus = sondrel::test::HaveProgram("opusenc");
    for (const std::string codec : {"vorbis", "opus"}) {
        SCOPED_TRACE(codec);
        if (codec == "opus" && !haveOpus)
            continue;
        std::string path;
        if (codec == "vorbis") {
            path = Encode("pictures.ogg");
        } else {
            path = dir.file("pictures.opus");
            const std::string wav = dir.file("tone.wav");
            ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=330:duration=2 " +
                                 ShellQuote(wav) + " && opusenc --quiet --title T " +
                                 ShellQuote(wav) + " " + ShellQuote(path) + " 2>&1")
                          .exitCode,
                      0);
        }
        const auto added =
            RunCommand(Python() + " " + ShellQuote(kPeer) + " add-picture " + ShellQuote(path) +
                       " " + ShellQuote(jpeg) + " 3 image/jpeg 'Обложка'");
        ASSERT_EQ(added.exitCode, 0) << added.output;
        const std::string md5 = DecodedMd5(path);

        OggVorbisTag ogg;
        ogg.setFileName(path);
        ASSERT_TRUE(ogg.Valid()) << ogg.Error();
        ASSERT_EQ(ogg.ImagesCount(), 1);
        EXPECT_EQ(ogg.Pictures()[0].PictureType, 3);
        EXPECT_EQ(ogg.Pictures()[0].MimeType, "image/jpeg");
        EXPECT_EQ(ogg.Pictures()[0].Description, "Обложка");
        EXPECT_EQ(ogg.Pictures()[0].Data, ReadAll(jpeg));
        const std::string exported = dir.file("exported.jpg");
        ASSERT_TRUE(ogg.SaveImageToFile(0, exported)) << ogg.Error();
        EXPECT_EQ(Sha256Of(exported), Sha256Of(jpeg));

        auto expectPeer = [&](const json& expected) {
            EXPECT_EQ(Peer("pictures", path), expected);
            const json pages = Peer("pages", path);
            EXPECT_EQ(pages["errors"].size(), 0u) << pages["errors"];
            EXPECT_EQ(DecodedMd5(path), md5);
        };
        const json cover = {
            {"type", 3}, {"mime", "image/jpeg"}, {"desc", "Обложка"}, {"sha256", Sha256Of(jpeg)}};
        const json back = {
            {"type", 4}, {"mime", "image/png"}, {"desc", "back"}, {"sha256", Sha256Of(png)}};

        ASSERT_TRUE(ogg.AddImage(1, png, "back", 4)) << ogg.Error();
        expectPeer(json::array({cover, back}));

        ASSERT_TRUE(ogg.SetDescription(0, "front")) << ogg.Error();
        ASSERT_TRUE(ogg.WriteTag()) << ogg.Error();
        json front = cover;
        front["desc"] = "front";
        expectPeer(json::array({front, back}));

        ASSERT_TRUE(ogg.DeleteImage(0)) << ogg.Error();
        expectPeer(json::array({back}));
        ogg.setFileName(path);
        ASSERT_EQ(ogg.ImagesCount(), 1);
        EXPECT_EQ(ogg.Pictures()[0].Description, "back");
        EXPECT_EQ(ogg.Codec() == sondrel::OggCodec::Opus, codec == "opus");
    }
}

// Ogg FLAC from `flac --ogg`: read as mutagen reads it; after saves that keep,
// grow and shrink the comment block, mutagen reads our comments, the pages
// validate, `flac -t` finds the STREAMINFO MD5 of the decoded audio, and
// ffmpeg decodes the same samples.
TEST(OggFlacInterop, FlacToolFilesReadAndSave) {
    if (Python().empty() || !sondrel::test::HaveProgram("flac") ||
        !sondrel::test::HaveProgram("ffmpeg"))
        GTEST_SKIP() << "flac, ffmpeg or mutagen is not installed";
    TempDir dir;
    const std::string wav = dir.file("tone.wav");
    const std::string path = dir.file("tone.oga");
    const auto made = RunCommand(
        "ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=48000:duration=4 -ac 2 "
        "-sample_fmt s16 " +
        ShellQuote(wav) + " && flac --ogg -s -f -T TITLE=Tone -T artist=Uno -T ARTIST=Dos " +
        "-T REPLAYGAIN_TRACK_GAIN=-1.5 -o " + ShellQuote(path) + " " + ShellQuote(wav) + " 2>&1");
    ASSERT_EQ(made.exitCode, 0) << made.output;
    const std::string script = R"(
import json, sys
from mutagen.oggflac import OggFLAC
f = OggFLAC(sys.argv[1])
print(json.dumps({"vendor": f.tags.vendor, "comments": [[k, v] for k, v in f.tags],
                  "length": f.info.length, "rate": f.info.sample_rate,
                  "channels": f.info.channels}))
)";
    auto mutagen = [&] {
        const auto r = RunCommand(Python() + " -c " + ShellQuote(script) + " " + ShellQuote(path));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        return r.exitCode == 0 ? json::parse(r.output) : json();
    };
    const json before = mutagen();
    const std::string md5 = DecodedMd5(path);

    OggVorbisTag ogg;
    ogg.setFileName(path);
    ASSERT_TRUE(ogg.Valid()) << ogg.Error();
    EXPECT_EQ(ogg.Codec(), sondrel::OggCodec::Flac);
    EXPECT_EQ(ogg.title(), "Tone");
    EXPECT_EQ(ogg.artist(), "Uno / Dos");
    EXPECT_EQ(ogg.Vendor(), before["vendor"].get<std::string>());
    EXPECT_EQ(ogg.frequency(), before["rate"].get<std::uint32_t>());
    EXPECT_EQ(ogg.ChannelMode(), "Stereo");
    EXPECT_EQ(ogg.BitsPerSample(), 16);
    EXPECT_EQ(ogg.DurationInSeconds(), static_cast<std::int64_t>(before["length"].get<double>()));
    EXPECT_EQ(ogg.OtherComments(), std::vector<std::string>{"REPLAYGAIN_TRACK_GAIN=-1.5"});

    std::string lyrics;
    for (int i = 0; lyrics.size() < 200000; ++i)
        lyrics += "Zeile " + std::to_string(i) + "\n";
    for (const std::string& now : {std::string("kurz"), lyrics, std::string()}) {
        SCOPED_TRACE(now.size());
        ogg.setalbum("Album ✓");
        ogg.setlyrics(now);
        ASSERT_TRUE(ogg.WriteTag()) << ogg.Error();
        const json after = mutagen();
        json expected = json::array({json::array({"TITLE", "Tone"}), json::array({"artist", "Uno"}),
                                     json::array({"ARTIST", "Dos"}),
                                     json::array({"REPLAYGAIN_TRACK_GAIN", "-1.5"}),
                                     json::array({"ALBUM", "Album ✓"})});
        if (!now.empty())
            expected.push_back(json::array({"LYRICS", now}));
        EXPECT_EQ(after["comments"], expected);
        EXPECT_EQ(after["vendor"], before["vendor"]);
        const auto tested = RunCommand("flac -t -s " + ShellQuote(path) + " 2>&1");
        EXPECT_EQ(tested.exitCode, 0) << tested.output;
        EXPECT_EQ(DecodedMd5(path), md5);
        const auto [pagesOk, pagesOut] = [&] {
            const auto r =
                RunCommand(Python() + " " + ShellQuote(kPeer) + " pages " + ShellQuote(path));
            return std::pair{r.exitCode == 0, r.output};
        }();
        ASSERT_TRUE(pagesOk);
        EXPECT_EQ(json::parse(pagesOut)["errors"].size(), 0u) << pagesOut;
    }
}

// An Ogg FLAC file made by `flac --ogg` (every header packet on a page of
// its own: comments, seek table, 8 KiB of padding) from a tone of `seconds`.
std::string FlacOgg(const TempDir& dir, const std::string& name, double seconds = 3) {
    const std::string wav = dir.file(name + ".wav");
    const std::string path = dir.file(name);
    const auto made =
        RunCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=44100:duration=" +
                   std::to_string(seconds) + " -ac 2 -sample_fmt s16 " + ShellQuote(wav) +
                   " && flac --ogg -s -f -T TITLE=Tone -o " + ShellQuote(path) + " " +
                   ShellQuote(wav) + " 2>&1");
    EXPECT_EQ(made.exitCode, 0) << made.output;
    return path;
}

// Offsets of the pages of a file, in order.
std::vector<std::size_t> PageOffsets(const Bytes& f) {
    std::vector<std::size_t> out;
    for (std::size_t pos = 0; pos + 27 <= f.size() && f[pos] == 'O' && f[pos + 1] == 'g';) {
        out.push_back(pos);
        std::size_t body = 0;
        for (std::size_t i = 0; i < f[pos + 26]; ++i)
            body += f[pos + 27 + i];
        pos += 27 + f[pos + 26] + body;
    }
    return out;
}

// The audio packets as ffmpeg's demuxer reads them, one digest per line.
std::string PacketDigests(const std::string& path) {
    const auto r = RunCommand("ffmpeg -v quiet -nostdin -i " + ShellQuote(path) +
                              " -map 0:a -c copy -f framemd5 - | grep -v '^#'");
    EXPECT_EQ(r.exitCode, 0);
    return r.output;
}

bool HaveFlacTools() {
    return !Python().empty() && sondrel::test::HaveProgram("flac") &&
           sondrel::test::HaveProgram("ffmpeg");
}

// A header block packet shorter than its block header says: the save of
// that file is refused with the reason, the run goes on, and the other files
// given with it are saved.
TEST(OggFlacInterop, ADamagedBlockPacketIsRefusedAndTheRunGoesOn) {
    const std::string tool = sondrel::test::CliTool();
    if (!HaveFlacTools() || tool.empty())
        GTEST_SKIP() << "flac, ffmpeg, mutagen or sondrel-tag is missing";
    TempDir dir;
    const std::string first = FlacOgg(dir, "first.oga");
    const std::string damaged = FlacOgg(dir, "damaged.oga");
    const std::string last = FlacOgg(dir, "last.oga");
    // The seek table's page: one segment becomes two, the first of them
    // empty, so the block packet comes out empty and then a byte short.
    Bytes bytes = ReadAll(damaged);
    const std::size_t at = PageOffsets(bytes).at(2);
    ASSERT_EQ(bytes[at + 26], 1);
    const std::uint8_t length = bytes[at + 27];
    bytes[at + 26] = 2;
    bytes[at + 27] = 0;
    bytes[at + 28] = static_cast<std::uint8_t>(length - 1);
    WriteAll(damaged, bytes);

    const auto r = RunCommand(ShellQuote(tool) + " set --title Saved " + ShellQuote(first) + " " +
                              ShellQuote(damaged) + " " + ShellQuote(last) + " 2>&1");
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.output.find(damaged + ": Saving the Ogg comments: header packet 3 is a damaged "
                                      "FLAC metadata block"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(ReadAll(damaged), bytes);
    for (const std::string& saved : {first, last}) {
        OggVorbisTag ogg;
        ogg.setFileName(saved);
        EXPECT_EQ(ogg.title(), "Saved") << saved;
    }
}

// A page whose CRC is wrong is no page of ours to mend: a save that fits
// in place leaves it where it was, one that renumbers the pages behind the
// headers carries it as it is, so the audio packets ffmpeg reads stay the
// very ones it read before.
TEST(OggFlacInterop, APageWithAWrongCrcIsCarriedAsItIs) {
    if (!HaveFlacTools())
        GTEST_SKIP() << "flac, ffmpeg or mutagen is missing";
    TempDir dir;
    const std::string path = FlacOgg(dir, "crc.oga");
    Bytes bytes = ReadAll(path);
    const auto offsets = PageOffsets(bytes);
    ASSERT_GT(offsets.size(), 8u);
    const std::size_t damagedAt = offsets[6];
    bytes[damagedAt + 22] ^= 0x5A;
    WriteAll(path, bytes);
    const Bytes damagedPage(bytes.begin() + static_cast<std::ptrdiff_t>(damagedAt),
                            bytes.begin() + static_cast<std::ptrdiff_t>(offsets[7]));
    const std::string packets = PacketDigests(path);
    ASSERT_FALSE(packets.empty());

    OggVorbisTag ogg;
    ogg.setFileName(path);
    ASSERT_TRUE(ogg.Valid()) << ogg.Error();
    for (const std::size_t lyrics : {std::size_t{0}, std::size_t{20000}}) {
        SCOPED_TRACE(lyrics == 0 ? "a title within the padding" : "lyrics past it");
        ogg.settitle("Saved " + std::to_string(lyrics));
        ogg.setlyrics(std::string(lyrics, 'l'));
        ASSERT_TRUE(ogg.WriteTag()) << ogg.Error();
        EXPECT_EQ(PacketDigests(path), packets);
        const Bytes saved = ReadAll(path);
        EXPECT_NE(std::search(saved.begin(), saved.end(), damagedPage.begin(), damagedPage.end()),
                  saved.end())
            << "the damaged page was changed";
        OggVorbisTag again;
        again.setFileName(path);
        EXPECT_EQ(again.title(), "Saved " + std::to_string(lyrics));
    }
}

// A save past the file-size limit fails with the file's name and the
// system's reason, and the file stays as it was.
TEST(OggFlacInterop, ASaveOverTheFileSizeLimitSaysWhy) {
    const std::string tool = sondrel::test::CliTool();
    if (!HaveFlacTools() || tool.empty())
        GTEST_SKIP() << "flac, ffmpeg, mutagen or sondrel-tag is missing";
    TempDir dir;
    const std::string path = FlacOgg(dir, "limit.oga", 1);
    const Bytes before = ReadAll(path);
    // The limit in KiB (bash's unit): the file fits, the file with 100 KB more does not.
    const std::size_t limit = before.size() / 1024 + 32;
    const std::string save = "ulimit -f " + std::to_string(limit) + " && " + ShellQuote(tool) +
                             " set --lyrics " + std::string(100000, 'l') + " " + ShellQuote(path);
    const auto r = RunCommand("bash -c " + ShellQuote(save) + " 2>&1");
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.output.find(path + ": Saving the Ogg comments: File too large"), std::string::npos)
        << r.output.substr(0, 400);
    EXPECT_EQ(ReadAll(path), before);
}

// Pictures in Ogg FLAC: `flac --picture` writes one as a PICTURE header
// packet, which reads; pictures we add and delete are seen by the flac
// tools (the file re-encoded by `flac` to native FLAC carries the PICTURE
// blocks `metaflac` lists and exports), `flac -t` still finds the audio's
// MD5, ffmpeg decodes the same samples, the pages validate and mutagen
// reads the comments as before. (mutagen.oggflac reads no pictures.)
TEST(OggFlacInterop, PicturesAreSeenByTheFlacTools) {
    if (Python().empty() || !sondrel::test::HaveProgram("flac") ||
        !sondrel::test::HaveProgram("metaflac") || !sondrel::test::HaveProgram("ffmpeg"))
        GTEST_SKIP() << "flac, metaflac, ffmpeg or mutagen is not installed";
    TempDir dir;
    // A 2x3 PNG; the back cover is the same image with other bytes behind it.
    const Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0,    0, 0, 0x0D,
                       'I',  'H', 'D', 'R', 0,    0,    0,    2,    0,    0, 0, 3,
                       8,    2,   0,   0,   0,    0x36, 0x88, 0x49, 0xD6, 0, 0, 0,
                       0,    'I', 'E', 'N', 'D',  0xAE, 0x42, 0x60, 0x82};
    Bytes back = png;
    back.insert(back.end(), 300, 0x5A);
    const std::string front = dir.file("front.png");
    const std::string backFile = dir.file("back.png");
    WriteAll(front, png);
    WriteAll(backFile, back);
    const std::string wav = dir.file("tone.wav");
    const std::string path = dir.file("tone.oga");
    const auto made = RunCommand(
        "ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=48000:duration=3 -ac 2 "
        "-sample_fmt s16 " +
        ShellQuote(wav) + " && flac --ogg -s -f -T TITLE=Tone --picture='3|image/png|Vorne||" +
        front + "' -o " + ShellQuote(path) + " " + ShellQuote(wav) + " 2>&1");
    ASSERT_EQ(made.exitCode, 0) << made.output;
    const std::string comments =
        "from mutagen.oggflac import OggFLAC\nimport sys\n"
        "f = OggFLAC(sys.argv[1])\nprint(f.tags.vendor, list(f.tags))\n";
    auto mutagen = [&] {
        return RunCommand(Python() + " -c " + ShellQuote(comments) + " " + ShellQuote(path));
    };
    const auto commentsBefore = mutagen();
    ASSERT_EQ(commentsBefore.exitCode, 0) << commentsBefore.output;
    const std::string md5 = DecodedMd5(path);

    // The pictures as the flac tools see them: "type mime description" and
    // the exported bytes, in block order.
    struct Seen {
        std::string line;
        Bytes data;
        bool operator==(const Seen&) const = default;
    };
    auto flacTools = [&] {
        std::vector<Seen> out;
        const std::string native = dir.file("native.flac");
        const auto encoded =
            RunCommand("flac -s -f -o " + ShellQuote(native) + " " + ShellQuote(path) + " 2>&1");
        EXPECT_EQ(encoded.exitCode, 0) << encoded.output;
        const auto list = RunCommand("metaflac --list --block-type=PICTURE " + ShellQuote(native));
        EXPECT_EQ(list.exitCode, 0);
        std::size_t from = 0;
        int block = -1;
        std::string line;
        for (std::size_t nl; (nl = list.output.find('\n', from)) != std::string::npos;
             from = nl + 1) {
            std::string l = list.output.substr(from, nl - from);
            l.erase(0, l.find_first_not_of(' '));
            if (l.rfind("METADATA block #", 0) == 0)
                block = std::stoi(l.substr(16));
            else if (l.rfind("type: ", 0) == 0 && l.rfind("type: 6", 0) != 0)
                line = l.substr(6, 1);
            else if (l.rfind("MIME type: ", 0) == 0)
                line += " " + l.substr(11);
            else if (l.rfind("description: ", 0) == 0) {
                line += " " + l.substr(13);
                const std::string exported = dir.file("exported.bin");
                const auto ex = RunCommand("metaflac --block-number=" + std::to_string(block) +
                                           " --export-picture-to=" + ShellQuote(exported) + " " +
                                           ShellQuote(native));
                EXPECT_EQ(ex.exitCode, 0);
                out.push_back({line, ReadAll(exported)});
            }
        }
        return out;
    };
    auto checks = [&] {
        const auto tested = RunCommand("flac -t -s " + ShellQuote(path) + " 2>&1");
        EXPECT_EQ(tested.exitCode, 0) << tested.output;
        EXPECT_EQ(DecodedMd5(path), md5);
        EXPECT_EQ(Peer("pages", path)["errors"].size(), 0u);
        EXPECT_EQ(mutagen().output, commentsBefore.output);
    };
    ASSERT_EQ(flacTools(), (std::vector<Seen>{{"3 image/png Vorne", png}}));

    OggVorbisTag ogg;
    ogg.setFileName(path);
    ASSERT_TRUE(ogg.Valid()) << ogg.Error();
    ASSERT_EQ(ogg.ImagesCount(), 1);
    EXPECT_EQ(ogg.Pictures()[0].Description, "Vorne");
    EXPECT_EQ(ogg.Pictures()[0].Data, png);

    ASSERT_TRUE(ogg.AddImage(1, backFile, "Hinten \xE2\x9C\x93", 4)) << ogg.Error();
    checks();
    EXPECT_EQ(flacTools(), (std::vector<Seen>{{"3 image/png Vorne", png},
                                              {"4 image/png Hinten \xE2\x9C\x93", back}}));

    ASSERT_TRUE(ogg.DeleteImage(0)) << ogg.Error();
    checks();
    EXPECT_EQ(flacTools(), (std::vector<Seen>{{"4 image/png Hinten \xE2\x9C\x93", back}}));

    const std::string out = dir.file("out.png");
    ASSERT_TRUE(ogg.SaveImageToFile(0, out)) << ogg.Error();
    EXPECT_EQ(ReadAll(out), back);

    ASSERT_TRUE(ogg.DeleteImage(0)) << ogg.Error();
    checks();
    EXPECT_TRUE(flacTools().empty());
}

}  // namespace
