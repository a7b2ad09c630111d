// SPDX-License-Identifier: GPL-3.0-or-later
// The MP4 component and the m4atag module, checked against files made by
// ffmpeg and tagged by mutagen, which also reads back what we save.
#include "tags/mp4.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "tags/file_io.h"
#include "tags/m4atag.h"

namespace sondrel {
namespace {

using test::Bytes;
using test::ReadAll;
using test::RunCommand;
using test::ShellQuote;
using test::TempDir;
using test::WriteAll;
using json = nlohmann::json;

const std::string kTool = std::string(SONDREL_TEST_DATA) + "/mp4/mp4tool.py";

// A one-second stereo AAC file made by ffmpeg with a title; cached per extension.
Bytes AacFile(const std::string& ext) {
    static std::map<std::string, Bytes> cache;
    auto it = cache.find(ext);
    if (it != cache.end())
        return it->second;
    TempDir dir;
    const std::string out = dir.file("made." + ext);
    const std::string format = ext == "aac" ? " -f adts" : "";
    RunCommand(
        "ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=1 -ac 2 -c:a aac "
        "-b:a 64k -metadata title=FromFfmpeg" +
        format + " " + ShellQuote(out) + " </dev/null >/dev/null 2>&1");
    Bytes data = std::filesystem::exists(out) ? ReadAll(out) : Bytes();
    cache[ext] = data;
    return data;
}

bool MutagenTag(const std::string& path, const json& fields) {
    return RunCommand("python3 " + ShellQuote(kTool) + " tag " + ShellQuote(path) + " " +
                      ShellQuote(fields.dump()) + " && echo done")
               .output.find("done") != std::string::npos;
}

json MutagenDump(const std::string& path) {
    const auto r =
        RunCommand("python3 " + ShellQuote(kTool) + " dump " + ShellQuote(path) + " 2>/dev/null");
    return json::parse(r.output, nullptr, false);
}

// ffmpeg decodes the whole file; returns its complaints (empty when clean).
std::string DecodeErrors(const std::string& path) {
    return RunCommand("ffmpeg -v error -i " + ShellQuote(path) +
                      " -map 0:a -f null - 2>&1 </dev/null")
        .output;
}

std::string Hex(const Bytes& b) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (auto c : b) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

// Tiny real pictures made by ffmpeg (ffmpeg checks the covers when it decodes).
Bytes PictureBytes(const std::string& color, const std::string& ext) {
    static std::map<std::string, Bytes> cache;
    const std::string key = color + "." + ext;
    auto it = cache.find(key);
    if (it != cache.end())
        return it->second;
    TempDir dir;
    const std::string out = dir.file(key);
    RunCommand("ffmpeg -v error -y -f lavfi -i color=" + color + ":s=8x8 -frames:v 1 " +
               ShellQuote(out) + " </dev/null >/dev/null 2>&1");
    Bytes data = std::filesystem::exists(out) ? ReadAll(out) : Bytes();
    cache[key] = data;
    return data;
}
Bytes JpegBytes() {
    return PictureBytes("red", "jpg");
}
Bytes PngBytes() {
    return PictureBytes("blue", "png");
}

constexpr int kJpeg = 13, kPng = 14;

const std::string kOrigArtistKey = "----:com.apple.iTunes:ORIGINAL ARTIST";
const std::string kUrlKey = "----:com.apple.iTunes:URL";
const std::string kMoodKey = "----:com.apple.iTunes:MOOD";
const std::string kAlbumKey =
    "\xC2\xA9"
    "alb";

// Every mapped item, as mutagen writes it, with the value the component shows.
struct MappedItem {
    std::string key;
    std::string (Mp4Tag::*get)() const;
    void (Mp4Tag::*set)(const std::string&);
    std::string written;  // what mutagen puts into the file
    std::string edited;   // what we save over it
};
const std::vector<MappedItem>& MappedItems() {
    static const std::vector<MappedItem> items = {
        {"\xC2\xA9nam", &Mp4Tag::Title, &Mp4Tag::setTitle, "Title \xC3\xA9t\xC3\xA9",
         "Neuer Titel \xC3\xBC"},
        {"\xC2\xA9"
         "ART",
         &Mp4Tag::Artist, &Mp4Tag::setArtist, "Artist",
         "\xD0\x90\xD1\x80\xD1\x82\xD0\xB8\xD1\x81\xD1\x82"},
        {"\xC2\xA9"
         "alb",
         &Mp4Tag::Album, &Mp4Tag::setAlbum, "Album", "Album 2"},
        {"\xC2\xA9"
         "day",
         &Mp4Tag::Year, &Mp4Tag::setYear, "1999", "2004"},
        {"\xC2\xA9"
         "cmt",
         &Mp4Tag::Comment, &Mp4Tag::setComment, "line 1\nline 2", "new comment"},
        {"\xC2\xA9lyr", &Mp4Tag::Lyrics, &Mp4Tag::setLyrics, "la la\nla", "words\nmore words"},
        {"\xC2\xA9wrt", &Mp4Tag::Composer, &Mp4Tag::setComposer, "Composer", "Another Composer"},
        {"cprt", &Mp4Tag::Copyright, &Mp4Tag::setCopyright, "(c) 1999", "(c) 2004 Label"},
        {"\xC2\xA9too", &Mp4Tag::EncodedBy, &Mp4Tag::setEncodedBy, "Encoder X", "Sondrel"},
        {"\xC2\xA9gen", &Mp4Tag::Genre, &Mp4Tag::setGenre, "Trip Rock", "Rock"},
        {kOrigArtistKey, &Mp4Tag::OrigArtist, &Mp4Tag::setOrigArtist, "Original", "First One"},
        {kUrlKey, &Mp4Tag::URL, &Mp4Tag::setURL, "http://example.org/a", "https://b.example/"},
    };
    return items;
}

class Mp4Test : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::HaveProgram("ffmpeg"))
            GTEST_SKIP() << "ffmpeg is not installed";
        if (!test::HaveMutagen())
            GTEST_SKIP() << "mutagen is not installed";
        if (AacFile("m4a").empty() || JpegBytes().empty() || PngBytes().empty())
            GTEST_SKIP() << "ffmpeg cannot make the AAC files or pictures here";
    }

    // A fresh copy of the ffmpeg file, tagged by mutagen with `fields`.
    std::string Make(const std::string& name, const json& fields = json::object()) {
        const std::string path = dir_.file(name);
        const std::string ext = std::filesystem::path(name).extension().string().substr(1);
        WriteAll(path, AacFile(ext));
        if (!fields.empty()) {
            EXPECT_TRUE(MutagenTag(path, fields));
        }
        return path;
    }

    // Every mapped item, a cover pair, and items we do not map.
    std::string MakeFullyTagged(const std::string& name) {
        WriteAll(dir_.file("front.jpg"), JpegBytes());
        WriteAll(dir_.file("back.png"), PngBytes());
        json fields = {
            {"trkn", {3, 12}},
            {"tmpo", 120},
            {"cpil", true},
            {"aART", {"Album Artist"}},
            {"\xC2\xA9grp", {"Grouping"}},
            {kMoodKey, {"calm"}},
            {"covr",
             {{{"file", dir_.file("front.jpg")}, {"format", kJpeg}},
              {{"file", dir_.file("back.png")}, {"format", kPng}}}},
        };
        for (const auto& item : MappedItems())
            fields[item.key] = {item.written};
        return Make(name, fields);
    }

    std::vector<std::string> FilesInDir() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir_;
};

TEST_F(Mp4Test, ReadsEveryMappedItemAndTheStreamFacts) {
    // The container decides, not the name: an MP4 file may also be called .aac.
    for (const std::string name : {"tagged.m4a", "tagged.mp4", "tagged.aac"}) {
        SCOPED_TRACE(name);
        const std::string made = MakeFullyTagged(name == "tagged.aac" ? "inner.m4a" : name);
        const std::string path = dir_.file(name);
        if (made != path)
            std::filesystem::rename(made, path);
        Mp4Tag tag;
        tag.setFileName(path);
        ASSERT_TRUE(tag.Valid()) << tag.Error();
        EXPECT_EQ(tag.Error(), "");
        EXPECT_EQ(tag.FileName(), path);
        for (const auto& item : MappedItems())
            EXPECT_EQ((tag.*item.get)(), item.written) << item.key;
        EXPECT_EQ(tag.Track(), "3/12");
        EXPECT_EQ(tag.GenreID(), 12);  // "Trip Rock" is not in the table
        EXPECT_EQ(tag.BMP(), 120);
        EXPECT_EQ(tag.ImagesCount(), 2);

        EXPECT_EQ(tag.FileLength(), static_cast<std::int32_t>(ReadAll(path).size()));
        EXPECT_EQ(tag.Frequency(), 44100);
        EXPECT_EQ(tag.ChannelMode(), "Stereo");
        EXPECT_EQ(tag.Codec(), "AAC");
        EXPECT_EQ(tag.Encoder(), "Encoder X");
        EXPECT_GT(tag.Bitrate(), 0);
        EXPECT_NEAR(tag.DurationInSeconds(), 1.0, 0.1);
        EXPECT_EQ(tag.Error(), "");
    }
}

TEST_F(Mp4Test, ReadsAnUntaggedFfmpegFile) {
    const std::string path = Make("plain.m4a");
    Mp4Tag tag;
    tag.setFileName(path);
    ASSERT_TRUE(tag.Valid()) << tag.Error();
    EXPECT_EQ(tag.Title(), "FromFfmpeg");
    EXPECT_EQ(tag.Artist(), "");
    EXPECT_EQ(tag.Track(), "");
    EXPECT_EQ(tag.ImagesCount(), 0);
    EXPECT_EQ(tag.BMP(), 0);
}

TEST_F(Mp4Test, SavedFieldsReachMutagenAndUnmappedItemsSurvive) {
    const std::string path = MakeFullyTagged("save.m4a");
    const json before = MutagenDump(path);
    ASSERT_FALSE(before.is_discarded());

    Mp4Tag tag;
    tag.setFileName(path);
    ASSERT_TRUE(tag.Valid());
    for (const auto& item : MappedItems()) {
        (tag.*item.set)(item.edited);
        EXPECT_EQ(tag.Error(), "") << item.key;
    }
    tag.setTrack("7/9");
    ASSERT_TRUE(tag.WriteTag()) << tag.Error();
    EXPECT_EQ(tag.Error(), "");

    const json after = MutagenDump(path);
    ASSERT_FALSE(after.is_discarded());
    for (const auto& item : MappedItems())
        EXPECT_EQ(after.value(item.key, json()), json({item.edited})) << item.key;
    EXPECT_EQ(after.value("trkn", json()), json({{7, 9}}));
    // Not mapped by us: must come back exactly as mutagen wrote them.
    for (const std::string key : {"tmpo", "cpil", "aART", "\xC2\xA9grp", kMoodKey.c_str(), "covr"})
        EXPECT_EQ(after.value(key, json()), before[key]) << key;
    EXPECT_EQ(DecodeErrors(path), "");

    // Our own reading of the saved file agrees.
    Mp4Tag again;
    again.setFileName(path);
    EXPECT_EQ(again.Title(), MappedItems()[0].edited);
    EXPECT_EQ(again.GenreID(), 17);  // "Rock"
}

TEST_F(Mp4Test, UnchangedSaveKeepsEveryItem) {
    const std::string path = MakeFullyTagged("same.m4a");
    const json before = MutagenDump(path);
    Mp4Tag tag;
    tag.setFileName(path);
    ASSERT_TRUE(tag.WriteTag()) << tag.Error();
    EXPECT_EQ(MutagenDump(path), before);
}

TEST_F(Mp4Test, EmptiedFieldsRemoveTheirItems) {
    const std::string path = MakeFullyTagged("empty.m4a");
    Mp4Tag tag;
    tag.setFileName(path);
    for (const auto& item : MappedItems())
        (tag.*item.set)("");
    tag.setTrack("");
    ASSERT_TRUE(tag.WriteTag()) << tag.Error();
    const json after = MutagenDump(path);
    for (const auto& item : MappedItems())
        EXPECT_FALSE(after.contains(item.key)) << item.key;
    EXPECT_FALSE(after.contains("trkn"));
    EXPECT_TRUE(after.contains(kMoodKey));
}

TEST_F(Mp4Test, TrackTexts) {
    struct Case {
        std::string text;
        bool accepted;
        std::string shown;  // the track read back after saving
        json trkn;          // what mutagen finds; null = no item
    };
    const std::vector<Case> cases = {
        {"3", true, "3", {{3, 0}}},
        {"3/12", true, "3/12", {{3, 12}}},
        {"03", true, "3", {{3, 0}}},
        {"", true, "", nullptr},
        {"0", true, "", nullptr},
        {"A1", false, "5/6", {{5, 6}}},
        {"3/", false, "5/6", {{5, 6}}},
        {"1/x", false, "5/6", {{5, 6}}},
        {"32767/32767", true, "32767/32767", {{32767, 32767}}},
        {"40000", false, "5/6", {{5, 6}}},
        {"1/70000", false, "5/6", {{5, 6}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("track «" + c.text + "»");
        const std::string path = Make("track.m4a", {{"trkn", {5, 6}}});
        Mp4Tag tag;
        tag.setFileName(path);
        tag.setTrack(c.text);
        EXPECT_EQ(tag.Error(), c.accepted ? "" : "Writing error (Track)");
        ASSERT_TRUE(tag.WriteTag()) << tag.Error();
        EXPECT_EQ(tag.Track(), c.shown);
        EXPECT_EQ(MutagenDump(path).value("trkn", json()), c.trkn);
    }
}

TEST_F(Mp4Test, NumericGenreReadsAsTheTableName) {
    // 68 is the 1-based number of GenreID 67, spelled "Psychadelic" in our table.
    const std::string path = Make("gnre.m4a", {{"gnre", 68}});
    Mp4Tag tag;
    tag.setFileName(path);
    ASSERT_TRUE(tag.Valid());
    EXPECT_EQ(tag.Genre(), "Psychadelic");
    EXPECT_EQ(tag.GenreID(), 67);

    // Saved with the genre unchanged, the file keeps the numeric atom (TagLib
    // alone writes it back as a text item) and no text genre appears.
    tag.setTitle("changed");
    ASSERT_TRUE(tag.WriteTag()) << tag.Error();
    const Bytes bytes = ReadAll(path);
    const auto has = [&bytes](std::string_view s) {
        return std::search(bytes.begin(), bytes.end(), s.begin(), s.end()) != bytes.end();
    };
    // atom size 26, "gnre", "data" atom of 18 bytes, implicit type, locale, 68
    EXPECT_TRUE(
        has(std::string_view("\0\0\0\x1Agnre\0\0\0\x12"
                             "data\0\0\0\0\0\0\0\0\0\x44",
                             26)));
    EXPECT_FALSE(has("\xA9gen"));
    EXPECT_EQ(MutagenDump(path).value("\xC2\xA9nam", json()), json({"changed"}));
    Mp4Tag again;
    again.setFileName(path);
    EXPECT_EQ(again.Genre(), "Psychadelic");

    // A changed genre is written as text, and the number goes.
    again.setGenre("Jazz");
    ASSERT_TRUE(again.WriteTag()) << again.Error();
    EXPECT_EQ(MutagenDump(path).value("\xC2\xA9gen", json()), json({"Jazz"}));
    const Bytes edited = ReadAll(path);
    EXPECT_EQ(std::search(edited.begin(), edited.end(), "gnre", "gnre" + 4), edited.end());
}

TEST_F(Mp4Test, TempoIsTheBmpValue) {
    const std::string path = Make("tempo.m4a");
    Mp4Tag tag;
    tag.setBMP(-1);  // the start-up value: accepted with no file at all
    EXPECT_EQ(tag.Error(), "");
    tag.setFileName(path);
    EXPECT_EQ(tag.BMP(), 0);
    tag.setBMP(128);
    EXPECT_EQ(tag.Error(), "");
    tag.setBMP(m4atag::kMaxTempo + 1);
    EXPECT_EQ(tag.Error(), "Writing error BMP");
    ASSERT_TRUE(tag.WriteTag());
    EXPECT_EQ(MutagenDump(path).value("tmpo", json()), json({128}));
    EXPECT_EQ(tag.BMP(), 128);
}

TEST_F(Mp4Test, PicturesAddDeleteAndExport) {
    const std::string path = MakeFullyTagged("pics.m4a");
    Mp4Tag tag;
    tag.setFileName(path);
    ASSERT_EQ(tag.ImagesCount(), 2);
    EXPECT_EQ(tag.GetMIME(0), "image/jpg");
    EXPECT_EQ(tag.GetMIME(1), "image/png");
    EXPECT_EQ(tag.GetMIME(2), "");

    // Export byte for byte, also over an existing file.
    WriteAll(dir_.file("out.png"), std::string("old content that is longer than nothing"));
    ASSERT_TRUE(tag.SaveImageToFile(1, dir_.file("out.png"))) << tag.Error();
    EXPECT_EQ(ReadAll(dir_.file("out.png")), PngBytes());
    ASSERT_TRUE(tag.SaveImageToFile(0, dir_.file("out.jpg")));
    EXPECT_EQ(ReadAll(dir_.file("out.jpg")), JpegBytes());
    EXPECT_FALSE(tag.SaveImageToFile(2, dir_.file("none.jpg")));
    EXPECT_EQ(tag.Error(), "Error saving image");
    EXPECT_FALSE(std::filesystem::exists(dir_.file("none.jpg")));

    // A JPEG under a .gif name is stored as JPEG (the picture MIME rule).
    const Bytes third = PictureBytes("green", "jpg");
    ASSERT_EQ(std::string(third.begin() + 6, third.begin() + 10), "JFIF");
    WriteAll(dir_.file("third.gif"), third);
    ASSERT_TRUE(tag.AddImage(1, dir_.file("third.gif"))) << tag.Error();
    EXPECT_EQ(tag.ImagesCount(), 3);
    EXPECT_EQ(tag.GetMIME(1), "image/jpg");
    json covr = MutagenDump(path)["covr"];
    ASSERT_EQ(covr.size(), 3u);
    EXPECT_EQ(covr[0]["hex"], Hex(JpegBytes()));
    EXPECT_EQ(covr[1], json({{"format", kJpeg}, {"hex", Hex(third)}}));
    EXPECT_EQ(covr[2]["hex"], Hex(PngBytes()));

    // Appending at the count works; one past it does not touch the file.
    WriteAll(dir_.file("blob.bin"), std::string("not a known picture"));
    ASSERT_TRUE(tag.AddImage(3, dir_.file("blob.bin")));
    EXPECT_EQ(tag.GetMIME(3), "application/octet-stream");
    const Bytes before = ReadAll(path);
    for (int bad : {5, -1}) {
        EXPECT_FALSE(tag.AddImage(bad, dir_.file("blob.bin")));
        EXPECT_EQ(tag.Error(), "Error adding image: there is no position " + std::to_string(bad) +
                                   " among 4 pictures");
    }
    EXPECT_FALSE(tag.AddImage(0, dir_.file("missing.png")));
    EXPECT_EQ(tag.Error().rfind("Error adding image: ", 0), 0u) << tag.Error();
    EXPECT_NE(tag.Error().find(std::strerror(ENOENT)), std::string::npos) << tag.Error();
    EXPECT_FALSE(tag.DeleteImage(4));
    EXPECT_EQ(tag.Error(), "Error deleting image: there is no picture 4 among 4");
    EXPECT_EQ(ReadAll(path), before);

    ASSERT_TRUE(tag.DeleteImage(0)) << tag.Error();
    covr = MutagenDump(path)["covr"];
    ASSERT_EQ(covr.size(), 3u);
    EXPECT_EQ(covr[0]["hex"], Hex(third));
    for (int i = 2; i >= 0; --i)
        ASSERT_TRUE(tag.DeleteImage(i));
    EXPECT_EQ(tag.ImagesCount(), 0);
    EXPECT_FALSE(MutagenDump(path).contains("covr"));
    EXPECT_EQ(DecodeErrors(path), "");
}

TEST_F(Mp4Test, UnreadableFilesGiveTheReadingMessages) {
    const Bytes good = ReadAll(MakeFullyTagged("good.m4a"));
    Bytes truncated(good.begin(), good.begin() + static_cast<long>(good.size() / 3));
    Bytes garbage(4000);
    for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<std::uint8_t>(i * 131 + 7);
    // A top-level atom that claims more bytes than the file has.
    Bytes lying = {0x7F, 0xFF, 0xFF, 0xFF, 'm', 'o', 'o', 'v', 0, 0, 0, 8, 'f', 'r', 'e', 'e'};
    const Bytes adts = AacFile("aac");
    ASSERT_FALSE(adts.empty());

    struct Case {
        std::string name;
        std::optional<Bytes> content;  // nullopt: the file does not exist
        std::string reason;            // after "Error reading metadata"
    };
    const std::string noContainer = ": the file holds no MP4 container";
    const std::vector<Case> cases = {
        {"missing.m4a", std::nullopt, ""},
        {"empty.m4a", Bytes(), ": the file is empty"},
        {"cut.m4a", truncated, ": atom 'mdat' at offset "},
        {"noise.mp4", garbage, noContainer},
        {"lying.m4a", lying,
         ": atom 'moov' at offset 0 declares 2147483647 bytes, but only 16 remain in the file "
         "(is it cut short?)"},
        {"raw.aac", adts, noContainer},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir_.file(c.name);
        if (c.content)
            WriteAll(path, *c.content);
        Mp4Tag tag;
        tag.setFileName(path);
        EXPECT_FALSE(tag.Valid());
        const std::string message = "Error reading metadata" + c.reason;
        EXPECT_EQ(tag.Error().substr(0, message.size()), message);
        // Reading a text must not wipe the message the caller has yet to show.
        const std::string shown = tag.Error();
        EXPECT_EQ(tag.Title(), "");
        EXPECT_EQ(tag.Error(), shown);
        EXPECT_EQ(tag.GenreID(), 12);

        struct Number {
            std::int32_t (Mp4Tag::*get)();
            const char* message;
        };
        for (const auto& n :
             std::vector<Number>{{&Mp4Tag::FileLength, "Reading error filelength"},
                                 {&Mp4Tag::Frequency, "Reading error freq"},
                                 {&Mp4Tag::Bitrate, "Reading error bitrate"},
                                 {&Mp4Tag::BMP, "Reading error BMP"},
                                 {&Mp4Tag::ImagesCount, "Reading error images count"}}) {
            EXPECT_EQ((tag.*n.get)(), -1);
            EXPECT_EQ(tag.Error(), n.message);
        }
        EXPECT_LT(tag.DurationInSeconds(), 0);
        EXPECT_EQ(tag.Error(), "Reading error duration");

        tag.setTitle("x");
        EXPECT_EQ(tag.Error(), "Writing error (Title)");
        // Saving such a file changes nothing.
        EXPECT_FALSE(tag.WriteTag());
        EXPECT_EQ(tag.Error(), "Writing error: no MP4 metadata was read from the file");
        if (c.content)
            EXPECT_EQ(ReadAll(path), *c.content);
        else
            EXPECT_FALSE(std::filesystem::exists(path));
    }
}

TEST_F(Mp4Test, EachSetterReportsItsOwnMessage) {
    struct Case {
        void (Mp4Tag::*set)(const std::string&);
        const char* message;
    };
    const std::vector<Case> cases = {
        {&Mp4Tag::setTrack, "Writing error (Track)"},
        {&Mp4Tag::setTitle, "Writing error (Title)"},
        {&Mp4Tag::setArtist, "Writing error (Artist)"},
        {&Mp4Tag::setAlbum, "Writing error Album"},
        {&Mp4Tag::setYear, "Writing error Year"},
        {&Mp4Tag::setComment, "Writing error Comment"},
        {&Mp4Tag::setLyrics, "Writing error Lyrics"},
        {&Mp4Tag::setComposer, "Writing error Composer"},
        {&Mp4Tag::setOrigArtist, "Writing error OrigArtist"},
        {&Mp4Tag::setCopyright, "Writing error Copyright"},
        {&Mp4Tag::setURL, "Writing error URL"},
        {&Mp4Tag::setEncodedBy, "Writing error EncodedBy"},
        {&Mp4Tag::setGenre, "Writing error Genre"},
    };
    const std::string path = MakeFullyTagged("setters.m4a");
    Mp4Tag tag;
    tag.setFileName(path);
    ASSERT_TRUE(tag.Valid());
    // Malformed UTF-8 and a zero byte inside are refused, leaving the value as it was.
    for (const std::string& bad : {std::string("bad \xC3"), std::string("cut\0here", 8)}) {
        for (const auto& c : cases) {
            (tag.*c.set)(bad);
            EXPECT_EQ(tag.Error(), c.message);
        }
    }
    EXPECT_EQ(tag.Title(), MappedItems()[0].written);
    EXPECT_EQ(tag.Track(), "3/12");
}

TEST_F(Mp4Test, FailedSaveLeavesTheFileAsItWas) {
    const std::string path = MakeFullyTagged("full-disk.m4a");
    const Bytes before = ReadAll(path);
    const auto filesBefore = FilesInDir();
    Mp4Tag tag;
    tag.setFileName(path);
    tag.setTitle("never written");
    tag.SetIoFaults({[](std::size_t) { return false; }, {}});
    const bool saved = tag.WriteTag();
    WriteAll(dir_.file("pic.png"), PngBytes());
    const bool added = tag.AddImage(0, dir_.file("pic.png"));
    tag.SetIoFaults({});
    EXPECT_FALSE(saved);
    EXPECT_FALSE(added);
    EXPECT_EQ(tag.Error(), "Error adding image: write failed: No space left on device");
    EXPECT_EQ(ReadAll(path), before);
    auto filesAfter = FilesInDir();
    std::erase(filesAfter, "pic.png");
    EXPECT_EQ(filesAfter, filesBefore);  // no temporary file left behind
    // The edit is still held and goes in with the next save.
    ASSERT_TRUE(tag.WriteTag()) << tag.Error();
    EXPECT_EQ(MutagenDump(path)["\xC2\xA9nam"], json({"never written"}));
}

TEST_F(Mp4Test, TwoComponentsNeverWriteIntoEachOthersFile) {
    const std::string a = Make("a.m4a", {{"\xC2\xA9nam", {"A"}}});
    const std::string b = Make("b.m4a", {{"\xC2\xA9nam", {"B"}}});
    const Bytes bBefore = ReadAll(b);
    Mp4Tag first, second;
    first.setFileName(a);
    second.setFileName(b);
    EXPECT_EQ(first.Title(), "A");
    first.setTitle("A2");
    second.setArtist("only in memory");
    ASSERT_TRUE(first.WriteTag()) << first.Error();
    EXPECT_EQ(MutagenDump(a)["\xC2\xA9nam"], json({"A2"}));
    EXPECT_EQ(ReadAll(b), bBefore);
    // The second component's edit survived the other save and lands in its own file.
    EXPECT_EQ(second.Title(), "B");
    ASSERT_TRUE(second.WriteTag()) << second.Error();
    EXPECT_EQ(MutagenDump(b)["\xC2\xA9"
                             "ART"],
              json({"only in memory"}));
    EXPECT_FALSE(
        MutagenDump(a).contains("\xC2\xA9"
                                "ART"));
}

// Two components on two files, edits and saves interleaved: each file gets
// its own values only, and saving one leaves the other's bytes alone.
TEST_F(Mp4Test, InterleavedComponentsKeepToTheirOwnFiles) {
    const std::string a = Make("a.m4a", {{"\xC2\xA9nam", {"A"}}, {kAlbumKey, {"Album A"}}});
    const std::string b = Make("b.m4a", {{"\xC2\xA9nam", {"B"}}, {"trkn", {2, 5}}});
    Mp4Tag first, second;
    first.setFileName(a);
    second.setFileName(b);
    ASSERT_TRUE(first.Valid() && second.Valid());

    first.setTitle("A2");
    second.setTitle("B2");
    second.setBMP(90);
    EXPECT_EQ(first.Title(), "A2");
    EXPECT_EQ(second.Title(), "B2");
    EXPECT_EQ(first.Album(), "Album A");
    EXPECT_EQ(second.Album(), "");
    EXPECT_EQ(first.Track(), "");
    EXPECT_EQ(second.Track(), "2/5");
    EXPECT_EQ(first.BMP(), 0);
    EXPECT_EQ(second.BMP(), 90);

    const Bytes bBefore = ReadAll(b);
    ASSERT_TRUE(first.WriteTag()) << first.Error();
    EXPECT_EQ(ReadAll(b), bBefore);
    EXPECT_EQ(second.Title(), "B2");  // still held, not yet in the file
    EXPECT_EQ(first.Title(), "A2");

    const Bytes aAfter = ReadAll(a);
    ASSERT_TRUE(second.WriteTag()) << second.Error();
    EXPECT_EQ(ReadAll(a), aAfter);

    const json dumpA = MutagenDump(a), dumpB = MutagenDump(b);
    EXPECT_EQ(dumpA.value("\xC2\xA9nam", json()), json({"A2"}));
    EXPECT_EQ(dumpA.value(kAlbumKey, json()), json({"Album A"}));
    EXPECT_FALSE(dumpA.contains("tmpo"));
    EXPECT_FALSE(dumpA.contains("trkn"));
    EXPECT_EQ(dumpB.value("\xC2\xA9nam", json()), json({"B2"}));
    EXPECT_EQ(dumpB.value("tmpo", json()), json({90}));
    EXPECT_EQ(dumpB.value("trkn", json()), json({{2, 5}}));
    EXPECT_FALSE(dumpB.contains(kAlbumKey));
}

// What one component shows never depends on what another did in between:
// not on another component reading some other file, nor on the unsaved
// edits of another component on the same file.
TEST_F(Mp4Test, AComponentShowsWhatItReadWhateverOthersDo) {
    const std::string a = Make("a.m4a", {{"\xC2\xA9nam", {"A"}}, {kAlbumKey, {"Album A"}}});
    const std::string b = Make("b.m4a", {{"\xC2\xA9nam", {"B"}}});
    Mp4Tag first, other, sameFile;
    first.setFileName(a);
    first.setTitle("A2");
    // Another program changes the file after the read; using a component on
    // another file must not make `first` pick that up half-way.
    ASSERT_TRUE(MutagenTag(a, {{kAlbumKey, {"changed outside"}}}));
    other.setFileName(b);
    EXPECT_EQ(other.Title(), "B");
    EXPECT_EQ(first.Album(), "Album A");
    EXPECT_EQ(first.Title(), "A2");

    // A second component on the same file sees the file, not first's edit.
    sameFile.setFileName(a);
    EXPECT_EQ(sameFile.Title(), "A");
    sameFile.setArtist("from the second");
    EXPECT_EQ(first.Artist(), "");

    // The save writes only first's own edit: the album the other program
    // wrote stays, and the second component's unsaved artist is not in it.
    ASSERT_TRUE(first.WriteTag()) << first.Error();
    const json after = MutagenDump(a);
    EXPECT_EQ(after.value("\xC2\xA9nam", json()), json({"A2"}));
    EXPECT_EQ(after.value(kAlbumKey, json()), json({"changed outside"}));
    EXPECT_FALSE(
        after.contains("\xC2\xA9"
                       "ART"));
    // The save read the file again.
    EXPECT_EQ(first.Album(), "changed outside");
}

TEST_F(Mp4Test, PictureSizesComeFromTheRead) {
    const std::string tagged = MakeFullyTagged("sizes.m4a");
    const std::string plain = Make("plain.m4a");
    const std::string broken = dir_.file("broken.m4a");
    WriteAll(broken, std::string("not an mp4 file at all"));
    const auto jpeg = static_cast<std::int64_t>(JpegBytes().size());
    const auto png = static_cast<std::int64_t>(PngBytes().size());
    ASSERT_NE(jpeg, png);
    struct Case {
        std::string path;
        int index;
        std::int64_t size;
    };
    const std::vector<Case> cases = {
        {tagged, 0, jpeg}, {tagged, 1, png}, {tagged, 2, -1},
        {tagged, -1, -1},  {plain, 0, -1},   {broken, 0, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::filesystem::path(c.path).filename().string() + " #" +
                     std::to_string(c.index));
        Mp4Tag tag;
        tag.setFileName(c.path);
        EXPECT_EQ(tag.PictureSize(c.index), c.size);
    }

    // After adding and deleting, the sizes follow the file.
    Mp4Tag tag;
    tag.setFileName(plain);
    WriteAll(dir_.file("cover.png"), PngBytes());
    ASSERT_TRUE(tag.AddImage(0, dir_.file("cover.png"))) << tag.Error();
    WriteAll(dir_.file("cover.jpg"), JpegBytes());
    ASSERT_TRUE(tag.AddImage(0, dir_.file("cover.jpg"))) << tag.Error();
    EXPECT_EQ(tag.PictureSize(0), jpeg);
    EXPECT_EQ(tag.PictureSize(1), png);
    ASSERT_TRUE(tag.DeleteImage(0)) << tag.Error();
    EXPECT_EQ(tag.PictureSize(0), png);
    EXPECT_EQ(tag.PictureSize(1), -1);
}

TEST_F(Mp4Test, SaveKeepsItemsAddedByAnotherProgramSinceTheRead) {
    const std::string path = Make("race.m4a", {{"\xC2\xA9nam", {"T"}}});
    Mp4Tag tag;
    tag.setFileName(path);
    ASSERT_TRUE(MutagenTag(path, {{"\xC2\xA9grp", {"added later"}}}));
    tag.setArtist("ours");
    ASSERT_TRUE(tag.WriteTag()) << tag.Error();
    const json after = MutagenDump(path);
    EXPECT_EQ(after.value("\xC2\xA9grp", json()), json({"added later"}));
    EXPECT_EQ(after["\xC2\xA9"
                    "ART"],
              json({"ours"}));
}

// A chunk-offset table whose entry count claims more entries than its atom
// holds is refused at save time, before TagLib would rewrite it.
TEST_F(Mp4Test, SaveRefusesAChunkOffsetTableLongerThanItsAtom) {
    const Bytes good = ReadAll(Make("source.m4a"));
    const std::string text(good.begin(), good.end());
    const std::size_t at = text.find("stco");
    ASSERT_NE(at, std::string::npos);
    ASSERT_GE(at, 4u);
    auto be32 = [&good](std::size_t pos) {
        return std::uint32_t{good[pos]} << 24 | std::uint32_t{good[pos + 1]} << 16 |
               std::uint32_t{good[pos + 2]} << 8 | good[pos + 3];
    };
    const std::uint32_t atomSize = be32(at - 4);
    ASSERT_GE(atomSize, 16u);
    const std::uint32_t fits = (atomSize - 16) / 4;
    ASSERT_EQ(be32(at + 8), fits);  // ffmpeg writes the table full
    struct Case {
        std::uint32_t count;
        bool saved;
    };
    for (const auto& c : std::vector<Case>{{fits, true}, {fits + 1, false}, {0xFFFFFFFFu, false}}) {
        SCOPED_TRACE("entry count " + std::to_string(c.count));
        Bytes bytes = good;
        for (int i = 0; i < 4; ++i)
            bytes[at + 8 + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(c.count >> (24 - 8 * i));
        const std::string path = dir_.file("offsets.m4a");
        WriteAll(path, bytes);
        Mp4Tag tag;
        tag.setFileName(path);
        ASSERT_TRUE(tag.Valid()) << tag.Error();
        tag.setTitle("new title");
        EXPECT_EQ(tag.WriteTag(), c.saved);
        if (c.saved) {
            EXPECT_EQ(MutagenDump(path).value("\xC2\xA9nam", json()), json({"new title"}));
        } else {
            EXPECT_EQ(tag.Error(),
                      "Writing error: a chunk offset table counts more entries than it holds");
            EXPECT_EQ(ReadAll(path), bytes);
            // The edit is still held, not lost with the refusal.
            EXPECT_EQ(tag.Title(), "new title");
        }
    }
}

// Damaged files: bytes of the atom tree overwritten or the file cut at many
// places. Each must read as a clean failure or a file, never crash or hang.
TEST_F(Mp4Test, DamagedAtomTreesNeverCrash) {
    const Bytes good = ReadAll(MakeFullyTagged("source.m4a"));
    const std::string path = dir_.file("damaged.m4a");
    // Aim at the metadata tree: the "moov" atom, wherever the writer put it.
    const std::string text(good.begin(), good.end());
    const std::size_t moov = text.find("moov");
    ASSERT_NE(moov, std::string::npos);
    ASSERT_GE(moov, 4u);
    const std::size_t from = moov - 4;
    const std::size_t moovSize = std::size_t{good[from]} << 24 | std::size_t{good[from + 1]} << 16 |
                                 std::size_t{good[from + 2]} << 8 | good[from + 3];
    ASSERT_LE(moovSize, good.size() - from);
    std::uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    for (int round = 0; round < 150; ++round) {
        Bytes bad = good;
        if (round % 3 == 0) {
            bad.resize(from + next() % moovSize);
        } else {
            for (int k = 0; k < 4; ++k)
                bad[from + next() % moovSize] = static_cast<std::uint8_t>(next() >> 16);
        }
        WriteAll(path, bad);
        Mp4Tag tag;
        tag.setFileName(path);
        SCOPED_TRACE("round " + std::to_string(round));
        if (tag.Valid())
            EXPECT_EQ(tag.Error(), "");
        else
            EXPECT_EQ(tag.Error().rfind("Error reading metadata", 0), 0u) << tag.Error();
        tag.Title();
        tag.GetMIME(0);
        // A save either succeeds or leaves the damaged file exactly as it was.
        if (tag.Valid()) {
            tag.setTitle("after damage");
            if (!tag.WriteTag()) {
                EXPECT_EQ(ReadAll(path), bad);
            }
        }
    }
}

// The module's text calls: the length first, then a buffer of length + 1.
TEST_F(Mp4Test, TextGettersCopyWholeCharactersAndReportTheFullLength) {
    const std::string title = "ab\xC3\xA9";  // 4 bytes, the last character takes two
    const std::string path = Make("buffers.m4a", {{"\xC2\xA9nam", {title}}});
    const m4atag::StatePtr state = m4atag::NewState();
    ASSERT_TRUE(m4atag::ReadMetaData(*state, path.c_str()));
    EXPECT_EQ(m4atag::GetTitle(*state, nullptr, 0), 4);
    struct Case {
        std::int32_t size;
        std::string copied;
    };
    for (const auto& c : std::vector<Case>{{5, title}, {4, "ab"}, {3, "ab"}, {1, ""}}) {
        char buf[8];
        std::fill(std::begin(buf), std::end(buf), 'X');
        EXPECT_EQ(m4atag::GetTitle(*state, buf, c.size), 4);
        EXPECT_EQ(std::string(buf), c.copied) << "size " << c.size;
    }
    EXPECT_EQ(m4atag::GetArtist(*state, nullptr, 0), 0);
    EXPECT_FALSE(m4atag::SetTitle(*state, nullptr));
    EXPECT_FALSE(m4atag::SaveImageToFile(*state, 0, dir_.file("x").c_str()));
    EXPECT_STREQ(m4atag::GetMIME(*state, 0), "");
    EXPECT_EQ(m4atag::GetImageSize(*state, 0), -1);
    // A state that holds no file refuses every edit.
    const m4atag::StatePtr empty = m4atag::NewState();
    EXPECT_EQ(m4atag::GetTitle(*empty, nullptr, 0), 0);
    EXPECT_FALSE(m4atag::SetTitle(*empty, "x"));
    EXPECT_FALSE(m4atag::SaveMetaData(*empty));
    EXPECT_EQ(m4atag::GetFileLength(*empty), -1);
}

// Damage TagLib's save trusted: an atom running past the end of the file
// (a tagged file cut by one byte, before the read or between the read and
// a long save) and containers nested deeper than any stack. Each is refused
// with the reason and leaves the file as it was.
TEST_F(Mp4Test, DamagedTreesAreRefusedBeforeTagLibSeesThem) {
    const Bytes good = ReadAll(MakeFullyTagged("whole.m4a"));
    const Bytes cut(good.begin(), good.end() - 1);
    const std::string lyrics(200000, 'l');

    // Cut before the read: the read says why.
    const std::string cutPath = dir_.file("cut.m4a");
    WriteAll(cutPath, cut);
    Mp4Tag before;
    before.setFileName(cutPath);
    EXPECT_FALSE(before.Valid());
    EXPECT_NE(before.Error().find("remain in the file (is it cut short?)"), std::string::npos)
        << before.Error();
    before.setLyrics(lyrics);
    EXPECT_FALSE(before.WriteTag());
    EXPECT_EQ(ReadAll(cutPath), cut);

    // Cut between the read and the save: the save says why.
    const std::string laterPath = dir_.file("cut_later.m4a");
    WriteAll(laterPath, good);
    Mp4Tag later;
    later.setFileName(laterPath);
    ASSERT_TRUE(later.Valid()) << later.Error();
    WriteAll(laterPath, cut);
    later.setLyrics(lyrics);
    EXPECT_FALSE(later.WriteTag());
    EXPECT_EQ(later.Error().rfind("Writing error: atom ", 0), 0u) << later.Error();
    EXPECT_EQ(ReadAll(laterPath), cut);
    EXPECT_FALSE(later.DeleteImage(0));
    EXPECT_EQ(later.Error().rfind("Error deleting image: atom ", 0), 0u) << later.Error();
    EXPECT_EQ(ReadAll(laterPath), cut);

    // 100,000 nested containers behind the real moov, outermost first.
    Bytes nested;
    for (std::uint32_t level = 100000; level > 0; --level) {
        const std::uint32_t size = 8 * level;
        const Bytes head = {static_cast<std::uint8_t>(size >> 24),
                            static_cast<std::uint8_t>(size >> 16),
                            static_cast<std::uint8_t>(size >> 8),
                            static_cast<std::uint8_t>(size),
                            'm',
                            'o',
                            'o',
                            'v'};
        nested.insert(nested.end(), head.begin(), head.end());
    }
    const Bytes deep = test::Concat({good, nested});
    const std::string deepPath = dir_.file("deep.m4a");
    WriteAll(deepPath, deep);
    Mp4Tag tag;
    tag.setFileName(deepPath);
    EXPECT_FALSE(tag.Valid());
    EXPECT_EQ(tag.Error(), "Error reading metadata: the MP4 atoms nest deeper than 24 levels");
    tag.setTitle("x");
    EXPECT_FALSE(tag.WriteTag());
    WriteAll(dir_.file("front.jpg"), JpegBytes());
    EXPECT_FALSE(tag.AddImage(0, dir_.file("front.jpg")));
    EXPECT_EQ(ReadAll(deepPath), deep);

    // The same through the tool: show, set and pictures refuse the file
    // (a crash would end before the refusal is printed).
    const std::string tool = test::CliTool();
    if (tool.empty())
        return;
    const std::string commands[] = {
        "show " + ShellQuote(deepPath),
        "set --lyrics " + ShellQuote(lyrics.substr(0, 1000)) + " " + ShellQuote(deepPath),
        "pictures " + ShellQuote(deepPath),
        "set --lyrics " + ShellQuote(lyrics.substr(0, 1000)) + " " + ShellQuote(cutPath),
    };
    for (const auto& command : commands) {
        SCOPED_TRACE(command);
        const auto r = RunCommand(ShellQuote(tool) + " " + command + " 2>&1");
        EXPECT_NE(r.exitCode, 0);
        EXPECT_NE(r.output.find("not a valid MP4 file"), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("Sanitizer"), std::string::npos) << r.output;
    }
    EXPECT_EQ(ReadAll(deepPath), deep);
    EXPECT_EQ(ReadAll(cutPath), cut);
}

// Files other readers read in part: one cut short behind its "moov" (the
// media data lost, the tags whole) and one with an atom inside a parent that
// declares more than the parent holds. The tags that hold together are
// shown, the damage is named, and every save is refused with it.
TEST_F(Mp4Test, DamagedFilesShowTheirTagsAndRefuseEverySave) {
    const std::string made = dir_.file("fast.m4a");
    RunCommand(
        "ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=1 -ac 2 -c:a aac -b:a 64k "
        "-movflags +faststart -metadata title=Kept -metadata artist=Whole " +
        ShellQuote(made) + " </dev/null >/dev/null 2>&1");
    const Bytes good = ReadAll(made);
    ASSERT_FALSE(good.empty());
    const std::string text(good.begin(), good.end());
    const auto atom = [&text](const char* type) { return text.find(type) - 4; };
    const std::size_t moov = atom("moov"), mdat = atom("mdat"), tkhd = atom("tkhd");
    ASSERT_LT(moov, mdat) << "the metadata is expected in front of the media";
    const Bytes cut(good.begin(),
                    good.begin() + static_cast<long>(mdat + (good.size() - mdat) / 2));
    Bytes broken = good;
    broken[tkhd] = 0x00;
    broken[tkhd + 1] = 0x7F;

    struct Case {
        const char* name;
        Bytes bytes;
        std::string damage;
    };
    const Case cases[] = {
        {"cut.m4a", cut,
         "atom 'mdat' at offset " + std::to_string(mdat) + " declares " +
             std::to_string(good.size() - mdat) + " bytes, but only " +
             std::to_string(cut.size() - mdat) + " remain in the file (is it cut short?)"},
        {"broken.m4a", broken, "atom 'tkhd' at offset " + std::to_string(tkhd) + " declares "},
    };
    WriteAll(dir_.file("front.jpg"), JpegBytes());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir_.file(c.name);
        WriteAll(path, c.bytes);
        Mp4Tag tag;
        tag.setFileName(path);
        ASSERT_TRUE(tag.Valid()) << tag.Error();
        EXPECT_EQ(tag.Title(), "Kept");
        EXPECT_EQ(tag.Artist(), "Whole");
        EXPECT_EQ(tag.Damage().rfind(c.damage, 0), 0u) << tag.Damage();
        const std::string refusal = "The file is damaged (" + tag.Damage() +
                                    "); its tags are shown read-only and not saved";
        tag.setTitle("New");
        EXPECT_FALSE(tag.WriteTag());
        EXPECT_EQ(tag.Error(), refusal);
        EXPECT_FALSE(tag.AddImage(0, dir_.file("front.jpg")));
        EXPECT_EQ(tag.Error(), refusal);
        EXPECT_EQ(ReadAll(path), c.bytes);

        // The tool shows the tags with the damage as the file's error, and
        // its save names the file and the damage.
        const std::string tool = test::CliTool();
        if (tool.empty())
            continue;
        const auto shown = RunCommand(ShellQuote(tool) + " show --json " + ShellQuote(path));
        const json report = json::parse(shown.output, nullptr, false);
        ASSERT_TRUE(report.is_array() && report.size() == 1) << shown.output;
        EXPECT_EQ(report[0]["tags"]["title"], "Kept");
        EXPECT_EQ(report[0]["error"],
                  "the file is damaged (" + tag.Damage() + "); its tags are shown read-only");
        const auto set =
            RunCommand(ShellQuote(tool) + " set --title New " + ShellQuote(path) + " 2>&1");
        EXPECT_NE(set.exitCode, 0);
        EXPECT_NE(set.output.find(path), std::string::npos) << set.output;
        EXPECT_NE(set.output.find(refusal), std::string::npos) << set.output;
        EXPECT_EQ(ReadAll(path), c.bytes);
    }
}

// The MP4 family by extension: audiobooks, ringtones and MP4 audio are MP4
// files to the tool; raw ADTS AAC holds no MP4 container and says so.
TEST_F(Mp4Test, TheToolTakesTheMp4FamilyAndNamesRawAac) {
    const std::string tool = test::CliTool();
    if (tool.empty())
        GTEST_SKIP() << "sondrel-tag is not built";
    struct Row {
        const char* name;
        const char* muxer;
    };
    const Row rows[] = {
        {"book.m4b", "ipod"}, {"ring.m4r", "ipod"}, {"video.mp4", "mp4"}, {"MUSIC.M4B", "ipod"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = dir_.file(row.name);
        RunCommand(
            "ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=1 -ac 2 -c:a aac "
            "-metadata title=Made -f " +
            std::string(row.muxer) + " " + ShellQuote(path) + " </dev/null >/dev/null 2>&1");
        ASSERT_TRUE(std::filesystem::exists(path));
        const auto r = RunCommand(ShellQuote(tool) + " set --title Chapter --artist Reader " +
                                  ShellQuote(path) + " 2>&1");
        EXPECT_EQ(r.exitCode, 0) << r.output;
        const json dump = MutagenDump(path);
        EXPECT_EQ(dump.value("\xC2\xA9nam", json()), json({"Chapter"}));
        EXPECT_EQ(dump.value("\xC2\xA9"
                             "ART",
                             json()),
                  json({"Reader"}));
        EXPECT_EQ(DecodeErrors(path), "");
    }

    // Raw AAC is refused by the tool, and the component says why.
    const std::string raw = dir_.file("raw.aac");
    WriteAll(raw, AacFile("aac"));
    const auto r = RunCommand(ShellQuote(tool) + " set --title X " + ShellQuote(raw) + " 2>&1");
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.output.find("not a valid MP4 file"), std::string::npos) << r.output;
    EXPECT_EQ(ReadAll(raw), AacFile("aac"));
    Mp4Tag tag;
    tag.setFileName(raw);
    EXPECT_EQ(tag.Error(), "Error reading metadata: the file holds no MP4 container");
}

}  // namespace
}  // namespace sondrel
