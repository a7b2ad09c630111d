// SPDX-License-Identifier: GPL-3.0-or-later
// One round-trip suite for every format the editor drives through TagBridge:
// the same cases run per format, and a table says what each format can do.
// Files are made by the peers (ffmpeg, mpcenc) or copied from samples/;
// mutagen writes the items no field shows and reads them back after a save.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "editor/format_bridge.h"
#include "editor/format_registry.h"
#include "support/test_support.h"
#include "tags/tag_model.h"

namespace sondrel {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::ReadAll;
using test::RunCommand;
using test::ShellQuote;
using test::TempDir;
using test::WriteAll;

// ------------------------------------------------------------ making files

// A made file, or why it could not be made (a peer is missing).
struct Made {
    Bytes data;
    std::string missing;
};

bool HaveFfmpegEncoder(const std::string& encoder) {
    return test::HaveProgram("ffmpeg") &&
           RunCommand("ffmpeg -hide_banner -encoders 2>/dev/null | grep -qw " + encoder).exitCode ==
               0;
}

// One second of a stereo tone in `ext`, encoded by ffmpeg with `codec`.
Made FfmpegTone(const std::string& codec, const std::string& ext) {
    if (!HaveFfmpegEncoder(codec))
        return {{}, "ffmpeg with the " + codec + " encoder is not installed"};
    TempDir dir;
    const std::string out = dir.file("tone." + ext);
    const auto r = RunCommand(
        "ffmpeg -v error -nostdin -y -f lavfi -i sine=frequency=440:sample_rate=44100 -t 1 "
        "-ac 2 -c:a " +
        codec + " " + ShellQuote(out) + " >/dev/null 2>&1");
    if (r.exitCode != 0 || !fs::exists(out))
        return {{}, "ffmpeg could not encode " + codec};
    return {ReadAll(out), {}};
}

Made Mp3File() {
    Bytes data = test::SilentMp3();
    if (data.empty())
        return {{}, "ffmpeg with libmp3lame is not installed"};
    return {std::move(data), {}};
}

Made OggFile() {
    return FfmpegTone("libvorbis", "ogg");
}
Made WmaFile() {
    return FfmpegTone("wmav2", "wma");
}
Made M4aFile() {
    return FfmpegTone("aac", "m4a");
}
Made OpusFile() {
    return FfmpegTone("libopus", "opus");
}
Made FlacFile() {
    return FfmpegTone("flac", "flac");
}

Made MpcFile() {
    if (!test::HaveProgram("ffmpeg") || !test::HaveProgram("mpcenc"))
        return {{}, "ffmpeg or mpcenc (musepack-tools) is not installed"};
    TempDir dir;
    const std::string wav = dir.file("tone.wav");
    const std::string mpc = dir.file("tone.mpc");
    const auto gen = RunCommand(
        "ffmpeg -v error -nostdin -y -f lavfi -i sine=frequency=440:sample_rate=44100 -t 1 "
        "-ac 2 " +
        ShellQuote(wav) + " >/dev/null 2>&1");
    const auto enc = RunCommand("mpcenc --silent " + ShellQuote(wav) + " " + ShellQuote(mpc) +
                                " >/dev/null 2>&1");
    if (gen.exitCode != 0 || enc.exitCode != 0 || !fs::exists(mpc))
        return {{}, "ffmpeg and mpcenc could not make a Musepack file"};
    return {ReadAll(mpc), {}};
}

// No Monkey's Audio encoder is packaged; the sample holds a real stream
// header and an APE tag of its own.
Made ApeFile() {
    return {ReadAll(std::string(SONDREL_SOURCE_DIR) + "/samples/06 - Dusk Tune.ape"), {}};
}

// ------------------------------------------------------------ audio checks

std::size_t Id3v2Size(const Bytes& b) {
    if (b.size() < 10 || b[0] != 'I' || b[1] != 'D' || b[2] != '3')
        return 0;
    return 10 + static_cast<std::size_t>(b[6] << 21 | b[7] << 14 | b[8] << 7 | b[9]);
}

std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// The bytes ahead of the APE tag at the end (behind it at most an ID3v1
// block); the whole file when there is none.
Bytes BeforeApeTag(const Bytes& b) {
    for (std::size_t behind : {std::size_t{0}, std::size_t{128}}) {
        if (b.size() < behind + 32)
            continue;
        const std::size_t footer = b.size() - behind - 32;
        if (std::string(b.begin() + static_cast<std::ptrdiff_t>(footer),
                        b.begin() + static_cast<std::ptrdiff_t>(footer + 8)) != "APETAGEX")
            continue;
        const std::size_t size = Le32(b, footer + 12);
        const std::size_t header = (Le32(b, footer + 20) & 0x80000000u) ? 32 : 0;
        if (size + header > footer + 32)
            return {};  // a damaged size: nothing to compare
        return Bytes(b.begin(),
                     b.begin() + static_cast<std::ptrdiff_t>(footer + 32 - size - header));
    }
    return b;
}

// ffmpeg's checksum of the decoded audio; its complaints when it fails.
std::string DecodedMd5(const std::string& path) {
    return RunCommand("ffmpeg -v error -nostdin -i " + ShellQuote(path) + " -map 0:a -f md5 - 2>&1")
        .output;
}

// How "the audio is untouched" is checked for a format.
enum class AudioCheck {
    MpegFrames,    // the MPEG frames between the ID3v2 tag and the trailing tags, byte for byte
    BeforeApeTag,  // every byte ahead of the APE tag at the end
    Decoded,       // ffmpeg decodes the same samples (a save may rewrite container pages)
};

// ------------------------------------------------------------ the format table

struct Capabilities {
    bool simpleFields;    // every text field of kFieldTable round-trips
    bool unicode;         // text outside Latin-1, a character outside the BMP too
    bool multiLine;       // comment and lyrics keep their line breaks
    bool pictures;        // a picture added through the handler survives a title save
    bool otherItemsKept;  // an item no field shows survives a title save, with its value
    bool repeatedKept;    // a second value of a shown field (the artist) survives a title save
    bool onlyTitleAdded;  // a title save adds no item but the title (no empty ones)
    bool audioKept;       // a save leaves the audio as it was
};

struct FormatCase {
    const char* name;  // the test name suffix
    const char* ext;
    TagFormat format;
    const char* peerName;  // other_item.py's name for the format
    Made (*make)();
    AudioCheck audio;
    Capabilities can;
};

const FormatCase kFormatCases[] = {
    {"Mp3",
     ".mp3",
     TagFormat::MP3,
     "mp3",
     Mp3File,
     AudioCheck::MpegFrames,
     {.simpleFields = true,
      .unicode = true,
      .multiLine = true,
      .pictures = true,
      .otherItemsKept = true,
      .repeatedKept = true,
      .onlyTitleAdded = false,  // a save without a genre writes TCON "(12)" (Other)
      .audioKept = true}},
    {"Ogg",
     ".ogg",
     TagFormat::Ogg,
     "ogg",
     OggFile,
     AudioCheck::Decoded,
     {.simpleFields = true,
      .unicode = true,
      .multiLine = true,
      .pictures = true,
      .otherItemsKept = true,
      .repeatedKept = true,
      .onlyTitleAdded = true,
      .audioKept = true}},
    {"Wma",
     ".wma",
     TagFormat::WMA,
     "wma",
     WmaFile,
     AudioCheck::Decoded,
     {.simpleFields = true,
      .unicode = true,
      .multiLine = true,
      .pictures = true,
      .otherItemsKept = true,
      .repeatedKept = true,
      .onlyTitleAdded = true,
      .audioKept = true}},
    {"Mp4",
     ".m4a",
     TagFormat::MP4,
     "mp4",
     M4aFile,
     AudioCheck::Decoded,
     {.simpleFields = true,
      .unicode = true,
      .multiLine = true,
      .pictures = true,
      .otherItemsKept = true,
      .repeatedKept = true,
      .onlyTitleAdded = true,
      .audioKept = true}},
    {"Musepack",
     ".mpc",
     TagFormat::MPC,
     "mpc",
     MpcFile,
     AudioCheck::BeforeApeTag,
     {.simpleFields = true,
      .unicode = true,
      .multiLine = true,
      .pictures = false,  // the editor offers no pictures for this format
      .otherItemsKept = true,
      .repeatedKept = true,
      .onlyTitleAdded = true,
      .audioKept = true}},
    {"Opus",
     ".opus",
     TagFormat::Ogg,
     "opus",
     OpusFile,
     AudioCheck::Decoded,
     {.simpleFields = true,
      .unicode = true,
      .multiLine = true,
      .pictures = true,
      .otherItemsKept = true,
      .repeatedKept = true,
      .onlyTitleAdded = true,
      .audioKept = true}},
    {"Flac",
     ".flac",
     TagFormat::FLAC,
     "flac",
     FlacFile,
     AudioCheck::Decoded,
     {.simpleFields = true,
      .unicode = true,
      .multiLine = true,
      .pictures = true,
      .otherItemsKept = true,
      .repeatedKept = true,
      .onlyTitleAdded = true,
      .audioKept = true}},
    {"MonkeysAudio",
     ".ape",
     TagFormat::APE,
     "ape",
     ApeFile,
     AudioCheck::BeforeApeTag,
     {.simpleFields = true,
      .unicode = true,
      .multiLine = true,
      .pictures = false,  // the editor offers no pictures for this format
      .otherItemsKept = true,
      .repeatedKept = true,
      .onlyTitleAdded = true,
      .audioKept = true}},
};

// ------------------------------------------------------------ the peer

const std::string kOtherItemScript =
    std::string(SONDREL_SOURCE_DIR) + "/tests/support/other_item.py";

// The system Python when it has mutagen (the peers are Debian packages).
std::string MutagenPython() {
    static const std::string python = [] {
        for (const char* candidate : {"/usr/bin/python3", "python3"}) {
            if (RunCommand(std::string(candidate) + " -c 'import mutagen' >/dev/null 2>&1")
                    .exitCode == 0)
                return std::string(candidate);
        }
        return std::string();
    }();
    return python;
}

test::CommandResult Peer(const std::string& command, const FormatCase& f, const std::string& path,
                         const std::vector<std::string>& values = {}) {
    std::string cmd = MutagenPython() + " " + ShellQuote(kOtherItemScript) + " " + command + " " +
                      f.peerName + " " + ShellQuote(path);
    for (const std::string& v : values)
        cmd += " " + ShellQuote(v);
    return RunCommand(cmd + " 2>&1");
}

// ------------------------------------------------------------ the fixture

std::string Describe(const SaveOutcome& o) {
    return o.ok ? "ok" : "failed: " + o.error;
}

// Failure messages name the format, not the bytes of its table row.
void PrintTo(const FormatCase& f, std::ostream* os) {
    *os << f.name;
}

class Conformance : public ::testing::TestWithParam<FormatCase> {
protected:
    TempDir dir;
    std::string path;
    std::string genreShown_;  // the genre the last fresh read shows

    void SetUp() override {
        const FormatCase& f = GetParam();
        static std::map<std::string, Made> made;
        auto it = made.find(f.name);
        if (it == made.end())
            it = made.emplace(f.name, f.make()).first;
        if (!it->second.missing.empty())
            GTEST_SKIP() << it->second.missing;
        path = dir.file(std::string("song") + f.ext);
        WriteAll(path, it->second.data);
        ASSERT_EQ(FormatOfPath(path), f.format);
    }

    const FormatHandler& Handler() const { return *HandlerOf(GetParam().format); }

    // Reads the file, lets `edit` change the hub, saves, and returns the hub
    // a fresh read of the saved file gives.
    TagFields SaveAndReread(const std::function<void(TagFields&)>& edit) {
        {
            // No Valid() check here: an MP3 without an ID3v2 tag reads as not valid.
            TagBridge b;
            EXPECT_EQ(b.Read(path), GetParam().format);
            TagFields hub = b.Hub();
            edit(hub);
            b.setHub(hub);
            const SaveOutcome saved = b.Save(path);
            EXPECT_TRUE(saved.ok) << Describe(saved);
        }
        TagBridge fresh;
        EXPECT_EQ(fresh.Read(path), GetParam().format);
        EXPECT_TRUE(Handler().Valid(fresh)) << Handler().Error(fresh);
        genreShown_ = fresh.DisplayedGenre(GetParam().format);
        return fresh.Hub();
    }

    // Every field of `fields` as a fresh read gives it back.
    void ExpectFieldsRoundTrip(const std::vector<std::pair<Field, std::string>>& fields) {
        const TagFields back = SaveAndReread([&](TagFields& hub) {
            for (const auto& [field, value] : fields) {
                hub[field] = value;
                if (field == Field::Genre)
                    hub.GenreID = GenreIdOf(value);
            }
        });
        for (const auto& [field, value] : fields) {
            // The hub keeps a genre as the format spells it ("(17)Rock" in
            // ID3v2.3; WMA's text beside GenreID "Other"): compare what the
            // editor shows.
            if (field == Field::Genre) {
                EXPECT_EQ(genreShown_, value) << "Genre as shown (hub: " << back.Genre << ")";
            } else {
                EXPECT_EQ(back[field], value) << InfoOf(field).label;
            }
        }
    }

    // The audio part of the file as the format's check sees it.
    std::string AudioOf() {
        const Bytes b = ReadAll(path);
        switch (GetParam().audio) {
            case AudioCheck::MpegFrames: {
                // The file holds the encoder's frames (and nothing else) before the
                // first save: every later copy must hold them at the tag's end.
                const std::size_t at = Id3v2Size(b);
                return std::string(b.begin() + static_cast<std::ptrdiff_t>(std::min(at, b.size())),
                                   b.end());
            }
            case AudioCheck::BeforeApeTag: {
                const Bytes audio = BeforeApeTag(b);
                return std::string(audio.begin(), audio.end());
            }
            case AudioCheck::Decoded:
                return DecodedMd5(path);
        }
        return {};
    }
};

// Values for every text field of the table; Track, Year and Genre hold what
// every format can store (a one-byte track, four digits, a table genre).
std::vector<std::pair<Field, std::string>> SimpleValues() {
    std::vector<std::pair<Field, std::string>> out;
    for (const FieldInfo& entry : kFieldTable) {
        switch (entry.field) {
            case Field::Track:
                out.emplace_back(entry.field, "7");
                break;
            case Field::Year:
                out.emplace_back(entry.field, "1999");
                break;
            case Field::Genre:
                out.emplace_back(entry.field, "Rock");
                break;
            case Field::URL:
                out.emplace_back(entry.field, "http://example.org/song");
                break;
            default:
                out.emplace_back(entry.field, "Some " + std::string(entry.label));
                break;
        }
    }
    return out;
}

TEST_P(Conformance, EveryFieldRoundTrips) {
    if (!GetParam().can.simpleFields)
        GTEST_SKIP() << "not every field round-trips in this format (see the table)";
    ExpectFieldsRoundTrip(SimpleValues());
}

// Greek, CJK, a combining accent and U+1F3B5 (outside the BMP) in every free text field.
TEST_P(Conformance, UnicodeTextRoundTrips) {
    if (!GetParam().can.unicode)
        GTEST_SKIP() << "text outside Latin-1 does not round-trip in this format (see the table)";
    const std::string text =
        "\xCE\x9C\xCE\xBF\xCF\x85\xCF\x83\xCE\xB9\xCE\xBA\xCE\xAE "  // Μουσική
        "\xE9\x9F\xB3\xE6\xA5\xBD "                                  // 音楽
        "e\xCC\x81 "                                                 // e + combining acute
        "\xF0\x9F\x8E\xB5";                                          // U+1F3B5
    std::vector<std::pair<Field, std::string>> fields;
    for (const FieldInfo& entry : kFieldTable) {
        if (entry.field != Field::Track && entry.field != Field::Year &&
            entry.field != Field::Genre && entry.field != Field::URL)
            fields.emplace_back(entry.field, std::string(entry.label) + " " + text);
    }
    ExpectFieldsRoundTrip(fields);
}

TEST_P(Conformance, MultiLineCommentAndLyricsRoundTrip) {
    if (!GetParam().can.multiLine)
        GTEST_SKIP() << "line breaks do not round-trip in this format (see the table)";
    ExpectFieldsRoundTrip({
        {Field::Comment, "first line\nsecond line\n\nfourth after an empty one"},
        {Field::Lyrics, "verse one\r\nverse two\r\nrefrain, as Windows tools write it"},
    });
}

TEST_P(Conformance, PictureSurvivesATitleSave) {
    if (!GetParam().can.pictures)
        GTEST_SKIP() << "this format holds no pictures";
    if (!test::HaveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg is not installed";
    const std::string jpeg = dir.file("cover.jpg");
    ASSERT_EQ(RunCommand("ffmpeg -v error -nostdin -y -f lavfi -i color=red:s=8x8 -frames:v 1 " +
                         ShellQuote(jpeg) + " >/dev/null 2>&1")
                  .exitCode,
              0);
    const Bytes cover = ReadAll(jpeg);

    {
        TagBridge b;
        ASSERT_EQ(b.Read(path), GetParam().format);
        std::string warning;
        ASSERT_EQ(Handler().AddPicture(b, 0, jpeg, "", 3, warning), "");
        TagFields hub = b.Hub();
        hub.title = "Title after the picture";
        b.setHub(hub);
        const SaveOutcome saved = b.Save(path);
        ASSERT_TRUE(saved.ok) << Describe(saved);
    }
    TagBridge fresh;
    ASSERT_EQ(fresh.Read(path), GetParam().format);
    EXPECT_EQ(fresh.Hub().title, "Title after the picture");
    ASSERT_EQ(Handler().PictureCount(fresh), 1);
    const std::string out = dir.file("extracted.jpg");
    ASSERT_EQ(Handler().ExtractPicture(fresh, 0, out), "");
    EXPECT_EQ(ReadAll(out), cover);
}

TEST_P(Conformance, ItemNoFieldShowsIsKeptByATitleSave) {
    if (!GetParam().can.otherItemsKept)
        GTEST_SKIP() << "items no field shows are lost in this format (see the table)";
    if (MutagenPython().empty())
        GTEST_SKIP() << "python3 with mutagen is not installed";
    const std::string mood = "Calm \xE2\x98\x82 evening";  // U+2602
    const auto written = Peer("write", GetParam(), path, {mood});
    ASSERT_EQ(written.exitCode, 0) << written.output;
    ASSERT_EQ(Peer("read", GetParam(), path).output, mood);

    const TagFields back = SaveAndReread([](TagFields& hub) { hub.title = "Only the title"; });
    EXPECT_EQ(back.title, "Only the title");
    const auto read = Peer("read", GetParam(), path);
    EXPECT_EQ(read.exitCode, 0) << read.output;
    EXPECT_EQ(read.output, mood);
}

// The editor shows one artist; the others a file holds are the user's data too.
TEST_P(Conformance, RepeatedArtistValuesAreKeptByATitleSave) {
    if (!GetParam().can.repeatedKept)
        GTEST_SKIP() << "repeated values of a field are not kept in this format (see the table)";
    if (MutagenPython().empty())
        GTEST_SKIP() << "python3 with mutagen is not installed";
    const auto written = Peer("write-artists", GetParam(), path, {"First Artist", "Second Artist"});
    ASSERT_EQ(written.exitCode, 0) << written.output;
    ASSERT_EQ(Peer("read-artists", GetParam(), path).output, "First Artist\nSecond Artist");

    const TagFields back = SaveAndReread([](TagFields& hub) { hub.title = "Only the title"; });
    EXPECT_EQ(back.title, "Only the title");
    EXPECT_EQ(Peer("read-artists", GetParam(), path).output, "First Artist\nSecond Artist");
}

// Untouched means untouched: the items a file held come back with the same
// keys, and the only new one is the title the user set.
TEST_P(Conformance, TitleSaveWritesNoOtherItem) {
    if (!GetParam().can.onlyTitleAdded)
        GTEST_SKIP() << "a title save writes other items in this format (see the table)";
    if (MutagenPython().empty())
        GTEST_SKIP() << "python3 with mutagen is not installed";
    ASSERT_EQ(Peer("write-artists", GetParam(), path, {"An Artist"}).exitCode, 0);
    ASSERT_EQ(Peer("write", GetParam(), path, {"calm"}).exitCode, 0);
    const auto before = Peer("keys", GetParam(), path);
    ASSERT_EQ(before.exitCode, 0) << before.output;

    const TagFields back = SaveAndReread([](TagFields& hub) { hub.title = "Only the title"; });
    EXPECT_EQ(back.title, "Only the title");
    EXPECT_EQ(Peer("keys", GetParam(), path).output, before.output);
}

TEST_P(Conformance, SavesLeaveTheAudioAsItWas) {
    if (!GetParam().can.audioKept)
        GTEST_SKIP() << "a save changes the audio of this format (see the table)";
    if (GetParam().audio == AudioCheck::Decoded && !test::HaveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg is not installed";
    const std::string audio = AudioOf();
    ASSERT_FALSE(audio.empty());
    if (GetParam().audio == AudioCheck::Decoded) {
        ASSERT_EQ(audio.rfind("MD5=", 0), 0u) << audio;
    }

    // A tag that grows (every field), then one that shrinks (the title alone).
    SaveAndReread([](TagFields& hub) {
        // The track stays a number pair: MP4 refuses any other track text.
        for (const auto& [field, value] : SimpleValues())
            hub[field] = field == Field::Track ? value : value + " " + std::string(200, 'x');
    });
    const std::string afterGrowth = AudioOf();
    SaveAndReread([](TagFields& hub) {
        for (const FieldInfo& entry : kFieldTable)
            hub[entry.field].clear();
        hub.title = "T";
    });
    const std::string afterShrink = AudioOf();
    if (GetParam().audio == AudioCheck::MpegFrames) {
        // The frames, then only the trailing tags a save writes behind them.
        for (const std::string& after : {afterGrowth, afterShrink}) {
            EXPECT_EQ(after.substr(0, audio.size()), audio);
            const std::string rest = after.substr(std::min(audio.size(), after.size()));
            EXPECT_TRUE(rest.empty() || rest.rfind("TAG", 0) == 0 ||
                        rest.rfind("LYRICSBEGIN", 0) == 0)
                << rest.substr(0, 16);
        }
    } else {
        EXPECT_EQ(afterGrowth, audio);
        EXPECT_EQ(afterShrink, audio);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, Conformance, ::testing::ValuesIn(kFormatCases),
                         [](const ::testing::TestParamInfo<FormatCase>& info) {
                             return std::string(info.param.name);
                         });

// Formats without pictures say so rather than pretending to add one, and
// the refused add leaves the file alone.
TEST(ConformancePictures, FormatsWithoutPicturesRefuseAnAdd) {
    TempDir dir;
    const std::string jpeg = dir.file("cover.jpg");
    WriteAll(jpeg, Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F', 0, 0xFF, 0xD9});
    for (const FormatCase& f : kFormatCases) {
        if (f.can.pictures)
            continue;
        SCOPED_TRACE(f.name);
        const FormatHandler* handler = HandlerOf(f.format);
        ASSERT_NE(handler, nullptr);
        EXPECT_FALSE(handler->HoldsPictures());
        const Made made = f.make();
        if (!made.missing.empty())
            continue;
        const std::string path = dir.file(std::string("song") + f.ext);
        WriteAll(path, made.data);
        TagBridge b;
        ASSERT_EQ(b.Read(path), f.format);
        std::string warning;
        EXPECT_NE(handler->AddPicture(b, 0, jpeg, "", 3, warning), "");
        EXPECT_EQ(handler->PictureCount(b), 0);
        EXPECT_EQ(ReadAll(path), made.data);
    }
}

}  // namespace
}  // namespace sondrel
