// SPDX-License-Identifier: GPL-3.0-or-later
// WMA files made by ffmpeg and tagged by mutagen: we read them right, and
// after our save mutagen still sees every attribute it saw before (plus our
// edits), ffmpeg decodes the same audio, and the data object is unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "tags/wma.h"

namespace sondrel {
namespace {

using test::Bytes;
using test::ReadAll;
using test::RunCommand;
using test::ShellQuote;
using test::TempDir;

const std::string kScripts = std::string(SONDREL_TEST_DATA) + "/wma/";

// The Python that can import mutagen (a private Python on the PATH may lack it).
const std::string& MutagenPython() {
    static const std::string python = [] {
        for (const char* candidate : {"python3", "/usr/bin/python3"}) {
            const std::string cmd =
                std::string(candidate) + " -c 'import mutagen.asf' >/dev/null 2>&1";
            if (RunCommand(cmd).exitCode == 0)
                return std::string(candidate);
        }
        return std::string();
    }();
    return python;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

std::uint64_t HeaderSizeOf(const Bytes& f) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v |= static_cast<std::uint64_t>(f[16 + i]) << (8 * i);
    return v;
}
Bytes AfterHeader(const Bytes& f) {
    return Bytes(f.begin() + static_cast<std::ptrdiff_t>(HeaderSizeOf(f)), f.end());
}

class WmaInterop : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("song.wma");

    void SetUp() override {
        if (!test::HaveProgram("ffmpeg"))
            GTEST_SKIP() << "ffmpeg is not installed";
        if (MutagenPython().empty())
            GTEST_SKIP() << "mutagen is not installed";
        const std::string make =
            "ffmpeg -v error -nostdin -y -f lavfi -i sine=f=440:r=44100 -t 1 -ac 2 "
            "-c:a wmav2 -b:a 64k -metadata title=Hello -metadata artist=Someone "
            "-metadata album=Album -metadata genre=Rock " +
            ShellQuote(path) + " >/dev/null 2>&1";
        ASSERT_EQ(RunCommand(make).exitCode, 0) << "ffmpeg cannot encode wmav2";
        ASSERT_EQ(Python("asf_tag.py").exitCode, 0);
    }

    test::CommandResult Python(const std::string& script) {
        return RunCommand(MutagenPython() + " " + ShellQuote(kScripts + script) + " " +
                          ShellQuote(path) + " 2>&1");
    }
    std::vector<std::string> Dump() {
        const auto r = Python("asf_dump.py");
        EXPECT_EQ(r.exitCode, 0) << r.output;
        return Lines(r.output);
    }
    // The decoded audio's checksum; empty when ffmpeg reports any error.
    std::string DecodedMd5() {
        const auto r = RunCommand("ffmpeg -v error -nostdin -i " + ShellQuote(path) +
                                  " -map 0:a -f md5 - 2>&1");
        EXPECT_EQ(r.exitCode, 0) << r.output;
        return r.output.rfind("MD5=", 0) == 0 && r.output.find('\n') == r.output.size() - 1
                   ? r.output
                   : "decoder said: " + r.output;
    }
};

TEST_F(WmaInterop, ReadsWhatFfmpegAndMutagenWrote) {
    WmaTag tag;
    tag.setFileName(path);
    ASSERT_TRUE(tag.Valid()) << tag.Error();
    EXPECT_EQ(tag.Title, "Hello");
    EXPECT_EQ(tag.Artist, "Someone");
    EXPECT_EQ(tag.Album, "Album");
    EXPECT_EQ(tag.Genre, "Rock");
    EXPECT_EQ(tag.Track, "5");
    EXPECT_EQ(tag.Year, "2001");
    EXPECT_EQ(tag.ChannelMode(), "Stereo");
    EXPECT_EQ(tag.Frequency(), 44100);
    EXPECT_EQ(tag.Bitrate(), 64);
    EXPECT_GT(tag.HeaderSize(), 300u * 1024);  // the big picture is in the header
    EXPECT_NEAR(tag.DurationInSeconds(), 1.0, 0.5);
    // The small picture sits in the extended content description, the big
    // one in the metadata library of the header extension.
    ASSERT_EQ(tag.ImagesCount(), 2);
    EXPECT_EQ(tag.GetMIME(0), "image/png");
    EXPECT_EQ(tag.GetDescription(0), "small");
    EXPECT_EQ(tag.Pictures()[0].DataSize(), 179);  // the 1x1 PNG with 100 bytes of padding
    EXPECT_EQ(tag.GetDescription(1), "big");
    EXPECT_EQ(tag.Pictures()[1].DataSize(), 67 + 12 + 300 * 1024);  // PNG plus a framed chunk
}

TEST_F(WmaInterop, SaveKeepsEverythingElse) {
    const Bytes before = ReadAll(path);
    const std::vector<std::string> seen = Dump();
    const std::string md5 = DecodedMd5();
    ASSERT_EQ(md5.rfind("MD5=", 0), 0u) << md5;

    WmaTag tag;
    tag.setFileName(path);
    ASSERT_TRUE(tag.Valid()) << tag.Error();
    tag.Title =
        "Gr\xC3\xBC\xC3\x9F"
        "e \xF0\x9F\x8E\xB5";
    tag.Composer = "Comp";
    tag.URL = "http://example.invalid/";
    ASSERT_TRUE(tag.WriteTag()) << tag.Error();

    const std::vector<std::string> now = Dump();
    const std::set<std::string> nowSet(now.begin(), now.end());
    // Every attribute seen before is still there, except those we rewrote:
    // the title, and the copy ffmpeg writes under "title", which would
    // otherwise keep the old title for readers that take it.
    for (const std::string& line : seen) {
        if (line.find("[\"Title\"") == 0 || line.find("[\"title\"") == 0)
            continue;
        EXPECT_TRUE(nowSet.count(line)) << "lost: " << line;
    }
    EXPECT_FALSE(nowSet.count(R"(["title", "ASFUnicodeAttribute", "Hello"])"));
    for (const char* expected : {
             R"(["Title", "ASFUnicodeAttribute", "Gr\u00fc\u00dfe \ud83c\udfb5"])",
             R"(["WM/Composer", "ASFUnicodeAttribute", "Comp"])",
             R"(["WM/UserWebURL", "ASFUnicodeAttribute", "http://example.invalid/"])",
             R"(["WM/AlbumTitle", "ASFUnicodeAttribute", "Album"])",
         })
        EXPECT_TRUE(nowSet.count(expected)) << "missing: " << expected;

    const Bytes after = ReadAll(path);
    EXPECT_EQ(AfterHeader(after), AfterHeader(before));
    EXPECT_EQ(DecodedMd5(), md5);
}

TEST_F(WmaInterop, PictureChangesAreSeenByMutagen) {
    const std::string png = dir.file("cover.png");
    const std::string md5 = DecodedMd5();
    WmaTag tag;
    tag.setFileName(path);
    ASSERT_EQ(tag.ImagesCount(), 2);
    ASSERT_TRUE(tag.AddImage(0, png, "added"));
    ASSERT_EQ(tag.Error(), "");
    tag.setFileName(path);
    ASSERT_EQ(tag.ImagesCount(), 3);
    EXPECT_EQ(tag.GetDescription(0), "added");

    auto pictures = [&] {
        int count = 0;
        bool id3 = false;
        for (const std::string& line : Dump()) {
            count += line.find("[\"WM/Picture\"") == 0;
            id3 = id3 || line.find("[\"ID3\", \"ASFByteArrayAttribute\"") == 0;
        }
        EXPECT_TRUE(id3);
        return count;
    };
    ASSERT_EQ(tag.DeleteImage(2), 0);  // the big one, in the metadata library
    ASSERT_EQ(tag.Error(), "");
    EXPECT_EQ(pictures(), 1);
    ASSERT_EQ(tag.DeleteImage(1), 0);  // the small one, without re-reading in between
    ASSERT_EQ(tag.Error(), "");
    EXPECT_EQ(pictures(), 0);
    tag.setFileName(path);
    ASSERT_TRUE(tag.Valid()) << tag.Error();
    EXPECT_EQ(tag.ImagesCount(), 1);
    EXPECT_EQ(tag.Year, "2001");

    // Too big for the "ID3" descriptor: it becomes a standard picture.
    const std::string big = dir.file("big.png");
    ASSERT_TRUE(tag.AddImage(1, big, "big again"));
    ASSERT_EQ(tag.Error(), "");
    EXPECT_EQ(pictures(), 1);
    const std::string dump = test::RunCommand(MutagenPython() + " -c " + ShellQuote(R"(
import sys
from mutagen.asf import ASF
v = ASF(sys.argv[1])["WM/Picture"][0].value
sys.stdout.buffer.write(v[v.index(b"\x89PNG"):]))") +
                                              " " + ShellQuote(path))
                                 .output;
    EXPECT_EQ(Bytes(dump.begin(), dump.end()), ReadAll(big));
    EXPECT_EQ(DecodedMd5(), md5);
}

}  // namespace
}  // namespace sondrel
