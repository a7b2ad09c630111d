// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/stream_info.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <filesystem>
#include <set>
#include <string>

#include "editor/format_bridge.h"
#include "shell/info_window.h"
#include "support/test_support.h"

namespace {

using sondrel::TagBridge;
using sondrel::TagFormat;
using sondrel::test::Bytes;
using sondrel::test::RunCommand;
using sondrel::test::ShellQuote;
using sondrel::test::TempDir;
using sondrel::test::WriteAll;

void Append(Bytes& b, const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
}

// An ID3v2.3 tag with one title frame.
Bytes Id3v23Title(const std::string& title) {
    Bytes frame;
    Append(frame, "TIT2");
    const auto n = static_cast<std::uint32_t>(title.size() + 1);
    for (int shift = 24; shift >= 0; shift -= 8)
        frame.push_back(static_cast<std::uint8_t>(n >> shift));
    frame.insert(frame.end(), {0, 0, 0});
    Append(frame, title);
    Bytes tag;
    Append(tag, "ID3");
    tag.insert(tag.end(), {3, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(frame.size())});
    tag.insert(tag.end(), frame.begin(), frame.end());
    return tag;
}

// A version 3.97 Monkey's Audio header (the layout without a descriptor)
// over stand-in audio bytes, followed by an ID3v1 tag.
Bytes MonkeysAudio() {
    Bytes b;
    Append(b, "MAC ");
    auto put16 = [&b](unsigned v) {
        b.push_back(static_cast<std::uint8_t>(v));
        b.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    auto put32 = [&b](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    put16(3970);
    put16(2000);  // compression level
    put16(0);     // flags
    put16(2);     // channels
    put32(44100);
    put32(0);
    put32(0);
    put32(10);    // total frames
    put32(1000);  // final frame blocks
    put32(0);
    put32(0);
    for (int i = 0; i < 400; ++i)
        b.push_back(static_cast<std::uint8_t>(i * 7 + 3));
    Append(b, "TAG");
    b.insert(b.end(), 125, 0);
    return b;
}

std::string Probe(const std::string& path, const std::string& entry) {
    const auto r = RunCommand("ffprobe -v error -select_streams a:0 -show_entries stream=" + entry +
                              " -of csv=p=0 " + ShellQuote(path));
    std::string out = r.output;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

class StreamInfoTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!sondrel::test::HaveProgram("ffmpeg") || !sondrel::test::HaveProgram("ffprobe"))
            GTEST_SKIP() << "ffmpeg and ffprobe make and check the fixtures";
    }

    // Reads the file as the editor does, then fills the window.
    void Show(const std::string& path) {
        const TagFormat format = bridge.Read(path);
        shell::ShowStreamInfo(&info, bridge, format,
                              QString::fromStdString(std::filesystem::path(path).filename()), path);
    }
    std::string Row(int row) const { return info.Value(row).toStdString(); }
    std::string Sample(const std::string& name) const {
        return std::string(SONDREL_SOURCE_DIR) + "/samples/" + name;
    }
    std::string Grouped(const std::string& path) const {
        return shell::GroupedSize(static_cast<qint64>(std::filesystem::file_size(path)))
            .toStdString();
    }

    TempDir dir;
    TagBridge bridge;
    InfoWindow info;
};

TEST_F(StreamInfoTest, EachFormatFillsItsRowsAndEmptiesTheOthers) {
    const std::string mpc = dir.file("t.mpc");
    const std::string wav = dir.file("t.wav");
    RunCommand(
        "ffmpeg -hide_banner -loglevel error -y -f lavfi -i sine=frequency=440:duration=1 "
        "-ar 44100 -ac 2 " +
        ShellQuote(wav));
    const bool haveMpc = sondrel::test::HaveProgram("mpcenc") &&
                         RunCommand("mpcenc --silent " + ShellQuote(wav) + " " + ShellQuote(mpc) +
                                    " >/dev/null 2>&1")
                                 .exitCode == 0;
    const std::string ape = dir.file("t.ape");
    WriteAll(ape, MonkeysAudio());
    const std::string flac = dir.file("t.flac");
    RunCommand("ffmpeg -hide_banner -loglevel error -y -i " + ShellQuote(wav) + " " +
               ShellQuote(flac));

    struct Case {
        std::string path;
        std::string formatPrefix;
        std::set<int> filled;  // every other row must be empty
        const char* id3v1;     // row 6, nullptr when it is not checked
        const char* pictures;  // row 8
        bool probeRate;        // row 4 against ffprobe
    };
    std::vector<Case> cases = {
        {Sample("02 - Evening Tune.ogg"),
         "Ogg Vorbis",
         {0, 1, 2, 3, 4, 5, 8, 9},
         nullptr,
         "0",
         true},
        {Sample("03 - Night Tune.wma"), "WMA", {0, 1, 2, 3, 4, 5, 8, 9}, nullptr, "0", true},
        {Sample("04 - Dawn Tune.m4a"), "MP4 ", {0, 1, 2, 3, 4, 5, 8, 9}, nullptr, "0", true},
        // Monkey's Audio gives no bit rate; its ID3v1 tag shows as "+".
        {ape, "APE ", {0, 1, 2, 4, 5, 6, 7, 8, 9}, "+", "0", false},
        // FLAC: where the audio starts, the encoder's vendor string and the MD5.
        {flac, "FLAC 16 bit", {0, 1, 2, 3, 4, 5, 8, 9, 10, 16, 17}, nullptr, "0", true},
    };
    if (haveMpc)
        cases.push_back({mpc, "Musepack", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11}, "-", "0", true});
    for (const auto& c : cases) {
        Show(c.path);
        EXPECT_EQ(info.labFileName()->toolTip().toStdString(), c.path);
        EXPECT_EQ(Row(0), Grouped(c.path)) << c.path;
        EXPECT_EQ(Row(1).rfind(c.formatPrefix, 0), 0u) << c.path << ": " << Row(1);
        EXPECT_EQ(Row(8), c.pictures) << c.path;
        EXPECT_EQ(Row(9), "-") << c.path;
        if (c.id3v1) {
            EXPECT_EQ(Row(6), c.id3v1) << c.path;
        }
        if (c.probeRate) {
            EXPECT_EQ(Row(4), Probe(c.path, "sample_rate") + " Hz") << c.path;
        }
        for (int row = 0; row < InfoWindow::kRows; ++row) {
            EXPECT_EQ(Row(row).empty(), c.filled.count(row) == 0) << c.path << " row " << row;
        }
        if (c.filled.count(3)) {
            EXPECT_NE(Row(3).find(" kbps"), std::string::npos) << c.path;
        }
    }
}

TEST_F(StreamInfoTest, Mp3RowsFromTheStreamAndBothTags) {
    const std::string path = dir.file("v23.mp3");
    Bytes file = Id3v23Title("t");
    const Bytes audio = sondrel::test::SilentMp3();
    file.insert(file.end(), audio.begin(), audio.end());
    WriteAll(path, file);
    Show(path);
    EXPECT_EQ(info.labFileName()->text(), QStringLiteral("v23.mp3"));
    EXPECT_EQ(Row(0), Grouped(path));
    EXPECT_EQ(Row(4), Probe(path, "sample_rate") + " Hz");
    EXPECT_EQ(Row(6), "-");
    EXPECT_EQ(Row(7), "id3v2.3");
    EXPECT_EQ(Row(8), "0");
    EXPECT_EQ(Row(9), "-");
    EXPECT_EQ(Row(10), std::to_string(Id3v23Title("t").size()));  // first frame after the tag
    for (int row : {1, 2, 3, 5, 11, 12, 13, 14, 15, 16})
        EXPECT_FALSE(Row(row).empty()) << row;
    EXPECT_EQ(Row(3).find("(VBR)"), std::string::npos);
}

// The MD5 row is the checksum the encoder stored, which is that of the
// decoded audio; the first frame row is where the audio starts.
TEST_F(StreamInfoTest, FlacShowsTheChecksumOfItsAudio) {
    const std::string path = dir.file("md5.flac");
    RunCommand("ffmpeg -hide_banner -loglevel error -y -f lavfi -i sine=frequency=330:duration=1 " +
               ShellQuote(path));
    ASSERT_TRUE(std::filesystem::exists(path));
    Show(path);
    const auto decoded = RunCommand("ffmpeg -v error -i " + ShellQuote(path) + " -f md5 -");
    ASSERT_EQ(decoded.output.rfind("MD5=", 0), 0u);
    EXPECT_EQ(Row(17), decoded.output.substr(4, 32));
    EXPECT_GT(std::stoll(Row(10)), 42);  // after "fLaC" and the stream facts at least
    EXPECT_EQ(Row(16).rfind("Lavf", 0), 0u) << Row(16);
}

TEST_F(StreamInfoTest, VbrMp3ShowsItsAverageRate) {
    const std::string path = dir.file("vbr.mp3");
    RunCommand(
        "ffmpeg -hide_banner -loglevel error -y -f lavfi -i sine=frequency=440:duration=2 "
        "-c:a libmp3lame -q:a 2 " +
        ShellQuote(path));
    ASSERT_TRUE(std::filesystem::exists(path));
    Show(path);
    const std::string rate = Row(3);
    const std::string suffix = " kbps (VBR)";
    ASSERT_GT(rate.size(), suffix.size());
    EXPECT_EQ(rate.substr(rate.size() - suffix.size()), suffix);
    EXPECT_GT(std::stoi(rate), 0);
    EXPECT_EQ(Row(6), "-");
    EXPECT_EQ(Row(7), "id3v2.4");  // ffmpeg's own tag
}

TEST_F(StreamInfoTest, UnreadableStreamsEmptyTheRows) {
    // An MP3 whose stream cannot be analysed still shows its tags.
    const std::string mp3 = dir.file("broken.mp3");
    Bytes file = Id3v23Title("t");
    Append(file, std::string(300, 'x'));
    WriteAll(mp3, file);
    Show(mp3);
    EXPECT_EQ(Row(7), "id3v2.3");
    EXPECT_EQ(Row(6), "-");
    EXPECT_EQ(Row(8), "0");
    EXPECT_EQ(Row(9), "-");
    for (int row : {0, 1, 2, 3, 4, 5, 10, 11, 12, 13, 14, 15, 16})
        EXPECT_EQ(Row(row), "") << row;

    const std::string ogg = dir.file("broken.ogg");
    WriteAll(ogg, std::string(500, 'y'));
    Show(ogg);
    for (int row = 0; row < InfoWindow::kRows; ++row)
        EXPECT_EQ(Row(row), "") << row;
    EXPECT_EQ(info.labFileName()->text(), QStringLiteral("broken.ogg"));
}

}  // namespace
