// SPDX-License-Identifier: GPL-3.0-or-later
// Tags written by mutagen read correctly; after we save, mutagen reads the new
// fields, every frame we do not own is there with the same content, and the
// audio behind the tag is byte for byte the same.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "tags/id3v2.h"
#include "tags/id3v2_frames.h"
#include "tags/id3v2_test_tags.h"

namespace sondrel {
namespace {

using namespace sondrel::test;

const std::string kScript = std::string(SONDREL_TEST_DATA) + "/id3v2/mutagen_tags.py";

// An interpreter that can import mutagen: the system one carries the Debian
// package even where another python3 comes first on the PATH.
const std::string& MutagenPython() {
    static const std::string python = [] {
        for (const char* candidate : {"python3", "/usr/bin/python3"}) {
            if (RunCommand(std::string(candidate) + " -c 'import mutagen' >/dev/null 2>&1")
                    .exitCode == 0)
                return std::string(candidate);
        }
        return std::string();
    }();
    return python;
}

using FrameDump = std::map<std::string, std::string>;

FrameDump Dump(const std::string& path) {
    const auto r = RunCommand(MutagenPython() + " " + ShellQuote(kScript) + " dump " +
                              ShellQuote(path) + " 2>&1");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    FrameDump out;
    std::istringstream in(r.output);
    std::string line;
    while (std::getline(in, line)) {
        const auto tab = line.find('\t');
        if (tab != std::string::npos)
            out[line.substr(0, tab)] = line.substr(tab + 1);
    }
    return out;
}

std::size_t TagEnd(const Bytes& file) {
    const auto h = id3v2::ParseHeader(file);
    return h ? 10 + h->BodySize : 0;
}

struct Variant {
    const char* name;
    bool latin1;
};
constexpr Variant kVariants[] = {
    {"v23_latin1", true},  {"v23_utf16", false},   {"v24_utf8", false},
    {"v23_unsync", false}, {"v23_extended", true},
};

class Id3v2Interop : public ::testing::Test {
protected:
    void SetUp() override {
        if (MutagenPython().empty())
            GTEST_SKIP() << "mutagen is not installed";
        audio_ = SilentMp3();
        if (audio_.empty())
            GTEST_SKIP() << "ffmpeg is not installed";
    }
    std::string Make(const TempDir& dir, const Variant& v) {
        const std::string path = dir.file(std::string(v.name) + ".mp3");
        WriteAll(path, audio_);
        const auto r = RunCommand(MutagenPython() + " " + ShellQuote(kScript) + " make " + v.name +
                                  " " + ShellQuote(path) + " 2>&1");
        EXPECT_EQ(r.exitCode, 0) << r.output;
        return path;
    }
    Bytes audio_;
};

TEST_F(Id3v2Interop, ReadsWhatMutagenWrites) {
    for (const auto& v : kVariants) {
        TempDir dir;
        const std::string path = Make(dir, v);
        Id3v2Tag t;
        t.setFileName(path);
        ASSERT_TRUE(t.Valid()) << v.name << ": " << t.Error();
        EXPECT_EQ(t.title(), v.latin1 ? "Caf\u00E9 Song" : "\u041F\u0435\u0441\u043D\u044F \u2603")
            << v.name;
        EXPECT_EQ(t.artist(), v.latin1 ? "Artist" : "\u0410\u0440\u0442") << v.name;
        EXPECT_EQ(t.album(), v.latin1 ? "Album \u00C6" : "Album \u4E2D") << v.name;
        EXPECT_EQ(t.track(), "3/12") << v.name;
        EXPECT_EQ(t.year(), "2003") << v.name;
        EXPECT_EQ(t.Genre(), "Rock") << v.name;
        EXPECT_EQ(t.comment(), "A comment") << v.name;
        EXPECT_EQ(t.text(), "line one\nline two") << v.name;
        ASSERT_EQ(t.ImagesCount(), 1) << v.name;
        const Picture& p = t.Pictures()[0];
        EXPECT_EQ(p.MimeType, "image/jpeg") << v.name;
        EXPECT_EQ(p.Description, "cover") << v.name;
        EXPECT_EQ(p.PictureType, 3) << v.name;
        EXPECT_EQ(p.Data.size(), 311u) << v.name;
    }
}

TEST_F(Id3v2Interop, SaveKeepsEveryFrameAndTheAudio) {
    for (const auto& v : kVariants) {
        TempDir dir;
        const std::string path = Make(dir, v);
        const FrameDump before = Dump(path);
        ASSERT_GT(before.size(), 15u) << v.name;

        Id3v2Tag t;
        t.setFileName(path);
        ASSERT_TRUE(t.Valid()) << v.name;
        t.settitle("New \u00DCber Title");
        t.setcomment("New comment \u2603");
        t.setyear("2024");
        ASSERT_TRUE(t.WriteTag()) << v.name << ": " << t.Error();

        const Bytes disk = ReadAll(path);
        EXPECT_EQ(Bytes(disk.begin() + static_cast<std::ptrdiff_t>(TagEnd(disk)), disk.end()),
                  audio_)
            << v.name;

        const FrameDump after = Dump(path);
        // The 2.4 tag holds a TXXX with two values, which 2.3 cannot hold.
        const bool v24 = std::string(v.name).starts_with("v24");
        EXPECT_EQ(after.at("version"), v24 ? "4.0" : "3.0") << v.name;
        EXPECT_EQ(after.at("TIT2"), "TIT2=New \u00DCber Title") << v.name;
        EXPECT_EQ(after.at("COMM::eng"), "COMM==eng=New comment \u2603 lang=eng") << v.name;
        EXPECT_EQ(after.at("TDRC"), "TDRC=2024") << v.name;
        for (const auto& [key, content] : before) {
            if (key == "version" || key == "TIT2" || key == "COMM::eng" || key == "TDRC")
                continue;
            ASSERT_TRUE(after.count(key)) << v.name << ": " << key << " was lost";
            EXPECT_EQ(after.at(key), content) << v.name << ": " << key;
        }

        // Read back by us as well, and saved again without a change: in place.
        Id3v2Tag again;
        again.setFileName(path);
        EXPECT_EQ(again.title(), "New \u00DCber Title") << v.name;
        EXPECT_EQ(again.comment(), "New comment \u2603") << v.name;
        ASSERT_TRUE(again.WriteTag()) << v.name;
        EXPECT_EQ(ReadAll(path), disk) << v.name;
    }
}

TEST_F(Id3v2Interop, RemovalLeavesTheAudio) {
    TempDir dir;
    const std::string path = Make(dir, kVariants[2]);
    Id3v2Tag t;
    t.setFileName(path);
    ASSERT_TRUE(t.RemoveTag()) << t.Error();
    EXPECT_EQ(ReadAll(path), audio_);
}

}  // namespace
}  // namespace sondrel
