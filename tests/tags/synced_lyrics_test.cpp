// SPDX-License-Identifier: GPL-3.0-or-later
// Synchronised lyrics. ID3v2 (SYLT): the body round-trips in both encodings
// a 2.3 tag carries, damaged bodies are refused or cut at the damage, and a
// save replaces only the frame of the same language, description and
// content type — mutagen and our reader see the new lines, every other SYLT
// frame and the plain lyrics as they were. APE: an LRC text item
// "SYNCEDLYRICS" beside the plain lyrics.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "tags/ape.h"
#include "tags/id3v2.h"
#include "tags/id3v2_frames.h"

namespace sondrel {
namespace {

using id3v2::SyncedLine;
using id3v2::SyncedLyrics;
using namespace sondrel::test;

SyncedLyrics Lyrics(std::string language, std::string description, std::vector<SyncedLine> lines) {
    SyncedLyrics out;
    out.language = std::move(language);
    out.description = std::move(description);
    out.lines = std::move(lines);
    return out;
}

TEST(SyltBody, RoundTripsInTheEncodingItsTextsNeed) {
    struct Case {
        const char* what;
        SyncedLyrics lyrics;
        std::uint8_t encoding;
    };
    const Case cases[] = {
        {"Latin-1 texts", Lyrics("eng", "", {{1500, "First line"}, {4000, "Caf\xc3\xa9"}}),
         id3v2::kEncLatin1},
        {"text outside Latin-1",
         Lyrics("XXX", "", {{0, "\xd0\x9f\xd0\xb5\xd1\x81\xd0\xbd\xd1\x8f"}}), id3v2::kEncUtf16Bom},
        {"a description outside Latin-1", Lyrics("deu", "\xe2\x99\xab", {{70000, "x"}}),
         id3v2::kEncUtf16Bom},
        {"an empty line and a late time", Lyrics("eng", "", {{0, ""}, {0xFFFFFFFFu, "end"}}),
         id3v2::kEncLatin1},
    };
    for (const Case& c : cases) {
        const Bytes body = id3v2::SyltBody(c.lyrics);
        ASSERT_FALSE(body.empty()) << c.what;
        EXPECT_EQ(body[0], c.encoding) << c.what;
        EXPECT_EQ(body[4], id3v2::kSyltMilliseconds) << c.what;
        EXPECT_EQ(body[5], id3v2::kSyltLyrics) << c.what;
        const auto back = id3v2::ParseSylt(body, "ISO-8859-1");
        ASSERT_TRUE(back) << c.what;
        EXPECT_EQ(back->language, c.lyrics.language) << c.what;
        EXPECT_EQ(back->description, c.lyrics.description) << c.what;
        EXPECT_EQ(back->lines, c.lyrics.lines) << c.what;
    }
}

TEST(SyltBody, DamageIsRefusedOrCutAtTheDamage) {
    const Bytes whole = id3v2::SyltBody(Lyrics("eng", "d", {{10, "one"}, {20, "two"}}));
    // encoding, language, format, type: a head cut short is no frame.
    EXPECT_FALSE(id3v2::ParseSylt(ByteView(whole).first(5), ""));
    // A descriptor without its terminator is no frame either.
    EXPECT_FALSE(id3v2::ParseSylt(ByteView(whole).first(7), ""));
    const Bytes unknownEncoding = [&] {
        Bytes b = whole;
        b[0] = 9;
        return b;
    }();
    EXPECT_FALSE(id3v2::ParseSylt(unknownEncoding, ""));
    // The second line's time stamp is cut: the first line stays.
    const auto cut = id3v2::ParseSylt(ByteView(whole).first(whole.size() - 1), "");
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->lines, (std::vector<SyncedLine>{{10, "one"}}));
    // A UTF-16 terminator counts on a 2-byte boundary only: "\x{100}" is 00 01
    // in UTF-16LE, whose zero byte must not end the text early.
    const Bytes wide = id3v2::SyltBody(Lyrics("eng", "", {{5, "\xc4\x80"}}));
    const auto wideBack = id3v2::ParseSylt(wide, "");
    ASSERT_TRUE(wideBack);
    EXPECT_EQ(wideBack->lines, (std::vector<SyncedLine>{{5, "\xc4\x80"}}));
}

// A file tagged by mutagen with plain lyrics and three SYLT frames.
const char kMake[] = R"(
import sys
from mutagen.id3 import ID3, SYLT, USLT, TIT2
t = ID3()
t.add(TIT2(encoding=3, text='Song'))
t.add(USLT(encoding=1, lang='eng', desc='', text='plain one\nplain two'))
t.add(SYLT(encoding=1, lang='deu', format=2, type=1, desc='', text=[('Erste', 1000)]))
t.add(SYLT(encoding=0, lang='eng', format=2, type=1, desc='karaoke', text=[('k', 500)]))
t.add(SYLT(encoding=0, lang='eng', format=2, type=1, desc='', text=[('old', 100)]))
t.save(sys.argv[1], v2_version=3)
)";

// Every SYLT frame as mutagen reads it, sorted, and the plain lyrics.
const char kDump[] = R"(
import sys
from mutagen.id3 import ID3
t = ID3(sys.argv[1])
rows = []
for f in t.getall('SYLT'):
    rows.append('%s|%s|%d|%d|%r' % (f.lang, f.desc, f.type, f.format, list(f.text)))
for r in sorted(rows):
    print(r)
print('USLT|%r' % t.getall('USLT')[0].text)
print('TIT2|%s' % t['TIT2'].text[0])
)";

std::string RunPython(const TempDir& dir, const char* name, const char* script,
                      const std::string& file) {
    const std::string path = dir.file(name);
    WriteAll(path, Bytes(script, script + std::char_traits<char>::length(script)));
    const auto r =
        RunCommand("/usr/bin/python3 " + ShellQuote(path) + " " + ShellQuote(file) + " 2>&1");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return r.output;
}

TEST(SyncedLyricsSave, ReplacesOnlyItsOwnFrameAndMutagenReadsIt) {
    if (!HaveMutagen())
        GTEST_SKIP() << "mutagen is not installed";
    const Bytes audio = SilentMp3();
    if (audio.empty())
        GTEST_SKIP() << "ffmpeg is not installed";
    TempDir dir;
    const std::string mp3 = dir.file("song.mp3");
    WriteAll(mp3, audio);
    RunPython(dir, "make.py", kMake, mp3);

    Id3v2Tag write;
    write.setFileName(mp3);
    ASSERT_TRUE(write.Valid()) << write.Error();
    const std::string plainBefore = write.text();
    write.SetSyncedLyrics(
        Lyrics("eng", "", {{1500, "First line"}, {4000, "Zw\xc3\xb6lf"}, {9250, "\xe2\x99\xab"}}));
    ASSERT_TRUE(write.WriteTag()) << write.Error();

    EXPECT_EQ(RunPython(dir, "dump.py", kDump, mp3),
              "deu||1|2|[('Erste', 1000)]\n"
              "eng|karaoke|1|2|[('k', 500)]\n"
              "eng||1|2|[('First line', 1500), ('Zw\xc3\xb6lf', 4000), ('\xe2\x99\xab', 9250)]\n"
              "USLT|'plain one\\nplain two'\n"
              "TIT2|Song\n");

    // Our own reader: the same frames, and the plain lyrics untouched.
    Id3v2Tag tag;
    tag.setFileName(mp3);
    ASSERT_TRUE(tag.Valid()) << tag.Error();
    const auto frames = tag.SyncedLyricsRead();
    ASSERT_EQ(frames.size(), 3u);
    int ours = 0;
    for (const SyncedLyrics& f : frames) {
        if (f.language == "eng" && f.description.empty()) {
            ++ours;
            EXPECT_EQ(f.lines.size(), 3u);
            EXPECT_EQ(f.lines.back().text, "\xe2\x99\xab");
        }
    }
    EXPECT_EQ(ours, 1) << "the old frame of the same language and description is replaced";
    EXPECT_EQ(tag.text(), plainBefore);

    // A save without new lines keeps the frames as they are: a read forgot them.
    tag.settitle("Other");
    ASSERT_TRUE(tag.WriteTag()) << tag.Error();
    Id3v2Tag after;
    after.setFileName(mp3);
    EXPECT_EQ(after.title(), "Other");
    EXPECT_EQ(after.SyncedLyricsRead().size(), 3u);
    EXPECT_EQ(after.SyncedLyricsRead(), frames);
}

TEST(LrcText, StampsEachLineInMinutesSecondsAndHundredths) {
    EXPECT_EQ(id3v2::LrcText(Lyrics("eng", "", {{1500, "First"}, {61009, ""}, {6000000, "Late"}})),
              "[00:01.50]First\n[01:01.00]\n[100:00.00]Late\n");
}

TEST(SyncedLyricsSave, ApeKeepsThemAsAnLrcItemBesideThePlainLyrics) {
    TempDir dir;
    const std::string ape = dir.file("song.ape");
    WriteAll(ape, ReadAll(std::string(SONDREL_SOURCE_DIR) + "/samples/06 - Dusk Tune.ape"));
    MonkeysAudioTag tag;
    tag.setFilename(ape);
    ASSERT_TRUE(tag.Valid()) << tag.error();
    tag.setLyrics("plain");
    tag.setSyncedLyrics("[00:01.00]old\n");
    ASSERT_TRUE(tag.WriteTag()) << tag.error();
    // A second save replaces the item rather than adding another.
    MonkeysAudioTag again;
    again.setFilename(ape);
    again.setSyncedLyrics(id3v2::LrcText(Lyrics("eng", "", {{1500, "First"}})));
    ASSERT_TRUE(again.WriteTag()) << again.error();

    MonkeysAudioTag back;
    back.setFilename(ape);
    EXPECT_EQ(back.Lyrics(), "plain");
    const auto& others = back.OtherItems();
    EXPECT_EQ(std::count(others.begin(), others.end(), "SYNCEDLYRICS"), 1);
    if (!HaveMutagen())
        return;
    const std::string script = dir.file("dump.py");
    const std::string text =
        "import sys\nfrom mutagen.apev2 import APEv2\nt = APEv2(sys.argv[1])\n"
        "print(repr([k for k in t.keys() if k.upper() == 'SYNCEDLYRICS']))\n"
        "print(repr(str(t['SYNCEDLYRICS'])))\n";
    WriteAll(script, Bytes(text.begin(), text.end()));
    const auto r = RunCommand("/usr/bin/python3 " + ShellQuote(script) + " " + ShellQuote(ape));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output, "['SYNCEDLYRICS']\n'[00:01.50]First\\n'\n");
}

}  // namespace
}  // namespace sondrel
