// SPDX-License-Identifier: GPL-3.0-or-later
// Synchronised lyrics in Vorbis comments (Ogg and FLAC), which have no frame
// for them: a save through the editor's bridge keeps them as LRC text under
// "SYNCEDLYRICS". The new text takes the place of the first such comment
// whatever its key's case, further ones go, and every other comment stays
// where it was, as mutagen reads the file. WMA keeps them the same way in a
// "SYNCEDLYRICS" descriptor, MP4 in a free-form item of that name.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "editor/file_facts.h"
#include "editor/format_bridge.h"
#include "support/test_support.h"
#include "tags/id3v2_frames.h"
#include "tags/mp4.h"
#include "tags/wma.h"

namespace sondrel {
namespace {

using namespace sondrel::test;

// Prints each comment as "KEY=value" on a line, in file order.
constexpr const char* kDump =
    "import sys, mutagen\n"
    "f = mutagen.File(sys.argv[1])\n"
    "if len(sys.argv) > 2:\n"
    "    f.tags.extend([tuple(a.split('=', 1)) for a in sys.argv[2:]])\n"
    "    f.save()\n"
    "for k, v in f.tags:\n"
    "    print(k + '=' + v.replace('\\n', '|'))\n";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t from = 0;
    while (from < text.size()) {
        const auto nl = text.find('\n', from);
        out.push_back(text.substr(from, nl - from));
        if (nl == std::string::npos)
            break;
        from = nl + 1;
    }
    return out;
}

TEST(SyncedLyricsComments, ReplaceTheFirstSuchCommentAndKeepTheOthers) {
    if (!HaveMutagen() || !HaveProgram("ffmpeg"))
        GTEST_SKIP() << "mutagen or ffmpeg is not installed";
    struct Case {
        const char* name;
        const char* make;  // shell command writing $OUT, or empty to copy the Ogg sample
    };
    const Case cases[] = {
        {"song.ogg", ""},
        {"song.flac",
         "ffmpeg -v error -nostdin -y -f lavfi -i sine=frequency=440:duration=1 -c:a flac "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.file(c.name);
        if (*c.make) {
            ASSERT_EQ(RunCommand(std::string(c.make) + ShellQuote(path)).exitCode, 0);
        } else {
            WriteAll(path,
                     ReadAll(std::string(SONDREL_SOURCE_DIR) + "/samples/02 - Evening Tune.ogg"));
        }
        const std::string script = dir.file("dump.py");
        WriteAll(script, std::string(kDump));
        const std::string dump = "/usr/bin/python3 " + ShellQuote(script) + " " + ShellQuote(path);
        const auto seeded = RunCommand(dump + " 'syncedlyrics=[00:00.50]old' 'MOOD=calm' " +
                                       "'SYNCEDLYRICS=[00:00.70]older' 'LYRICS=plain words'");
        ASSERT_EQ(seeded.exitCode, 0) << seeded.output;

        TagBridge bridge;
        bridge.Read(path);
        id3v2::SyncedLyrics lyrics;
        lyrics.language = "eng";
        lyrics.lines = {{1500, "First"}, {2250, "Second"}};
        ASSERT_TRUE(bridge.SetSyncedLyrics(path, lyrics));
        const SaveOutcome saved = bridge.Save(path);
        ASSERT_TRUE(saved.ok) << saved.error;

        // What mutagen read before, with the first synced comment replaced
        // in its place and the second one gone.
        std::vector<std::string> expected;
        for (const std::string& line : Lines(seeded.output)) {
            if (line == "syncedlyrics=[00:00.50]old")
                expected.push_back("SYNCEDLYRICS=[00:01.50]First|[00:02.25]Second|");
            else if (line != "SYNCEDLYRICS=[00:00.70]older")
                expected.push_back(line);
        }
        const auto after = RunCommand(dump);
        ASSERT_EQ(after.exitCode, 0) << after.output;
        EXPECT_EQ(Lines(after.output), expected);

        // A save that sets none leaves the comment as it is.
        TagBridge again;
        again.Read(path);
        ASSERT_TRUE(again.Save(path).ok);
        EXPECT_EQ(Lines(RunCommand(dump).output), expected);
    }
}

// Seeds a WMA or MP4 file through mutagen when given "seed", then prints
// each value as "KEY=TYPE:value" on a line, in file order.
constexpr const char* kItemDump = R"(import sys
from mutagen.asf import ASF, ASFDWordAttribute
from mutagen.mp4 import MP4, MP4FreeForm, AtomDataType
path = sys.argv[1]
wma = path.endswith('.wma')
f = ASF(path) if wma else MP4(path)
if len(sys.argv) > 2:
    if wma:
        f.tags['WM/Lyrics'] = ['plain words']
        f.tags['Mood'] = ['calm']
        f.tags['SYNCEDLYRICS'] = ['[00:00.50]old']
        f.tags['MyCounter'] = [ASFDWordAttribute(7)]
        f.tags['syncedlyrics'] = ['[00:00.70]older']
    else:
        f.tags['\xa9lyr'] = ['plain words']
        f.tags['----:com.apple.iTunes:Mood'] = [MP4FreeForm(b'calm')]
        f.tags['----:com.apple.iTunes:SYNCEDLYRICS'] = [MP4FreeForm(b'[00:00.50]old')]
        f.tags['----:org.example:Counter'] = [MP4FreeForm(b'\x00\x07', AtomDataType.IMPLICIT)]
    f.save()
    f = ASF(path) if wma else MP4(path)  # in file order, as saved
def show(v):
    if isinstance(v, MP4FreeForm):
        return 'ff%d:%s' % (v.dataformat, bytes(v).decode('utf-8', 'backslashreplace'))
    if wma:
        return type(v).__name__ + ':' + str(v.value)
    return str(v)
pairs = list(f.tags) if wma else [(k, v) for k, vs in f.tags.items() for v in vs]
for k, v in pairs:
    print(k + '=' + show(v).replace('\n', '|'))
)";

// One second of `codec` audio made by ffmpeg at `path`.
std::string ToneCommand(const char* codec, const std::string& path) {
    return "ffmpeg -v error -nostdin -y -f lavfi -i sine=frequency=440:duration=1 -c:a " +
           std::string(codec) + " " + ShellQuote(path);
}

// Writes the mutagen `script` into `dir`: the command that runs it on `path`.
std::string ScriptCommand(const TempDir& dir, const char* script, const std::string& path) {
    const std::string file = dir.file("dump.py");
    WriteAll(file, std::string(script));
    return "/usr/bin/python3 " + ShellQuote(file) + " " + ShellQuote(path);
}

// How often `pattern` occurs in `data`.
std::size_t Occurrences(const Bytes& data, const Bytes& pattern) {
    std::size_t n = 0;
    for (auto it = data.begin();
         (it = std::search(it, data.end(), pattern.begin(), pattern.end())) != data.end(); ++it)
        ++n;
    return n;
}

// The LRC text the component read, from the component itself.
std::string SyncedRead(const std::string& path) {
    if (path.ends_with(".wma")) {
        WmaTag wma;
        wma.setFileName(path);
        return wma.SyncedLyricsRead();
    }
    Mp4Tag mp4;
    mp4.setFileName(path);
    return mp4.SyncedLyrics();
}

TEST(SyncedLyricsItems, WmaAndMp4ReplaceTheirOwnItemAndKeepEveryOtherOne) {
    if (!HaveMutagen() || !HaveProgram("ffmpeg"))
        GTEST_SKIP() << "mutagen or ffmpeg is not installed";
    struct Case {
        const char* name;
        const char* codec;
        const char* key;      // the synchronised lyrics' item as mutagen names it
        const char* type;     // and the type it reads for a text there
        const char* spelled;  // a further such item in another case ("" none)
        const char* probe;    // an item outside every table, typed
        Bytes probeBytes;     // that item as stored, kept byte for byte
    };
    const Case cases[] = {
        {"song.wma", "wmav2", "SYNCEDLYRICS", "ASFUnicodeAttribute:", "syncedlyrics", "MyCounter",
         // name length, "MyCounter" in UTF-16LE with its terminator, DWORD, 4 bytes, 7
         Concat({{20, 0},
                 ToBytes(std::string("M\0y\0C\0o\0u\0n\0t\0e\0r\0\0\0", 20)),
                 {3, 0, 4, 0, 7, 0, 0, 0}})},
        {"song.m4a", "aac", "----:com.apple.iTunes:SYNCEDLYRICS", "ff1:", "",
         "----:org.example:Counter",
         // "----" holding mean, name and an implicit-type (0) data atom
         Concat({{0, 0, 0, 68},
                 ToBytes("----"),
                 {0, 0, 0, 23},
                 ToBytes("mean"),
                 {0, 0, 0, 0},
                 ToBytes("org.example"),
                 {0, 0, 0, 19},
                 ToBytes("name"),
                 {0, 0, 0, 0},
                 ToBytes("Counter"),
                 {0, 0, 0, 18},
                 ToBytes("data"),
                 {0, 0, 0, 0, 0, 0, 0, 0},
                 {0, 7}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.file(c.name);
        ASSERT_EQ(RunCommand(ToneCommand(c.codec, path)).exitCode, 0);
        const std::string dump = ScriptCommand(dir, kItemDump, path);
        const auto seeded = RunCommand(dump + " seed");
        ASSERT_EQ(seeded.exitCode, 0) << seeded.output;
        ASSERT_EQ(Occurrences(ReadAll(path), c.probeBytes), 1u) << seeded.output;

        // What mutagen wrote reads back: the text, and the items listed
        // among those no field shows.
        EXPECT_EQ(SyncedRead(path), "[00:00.50]old");
        TagBridge bridge;
        bridge.Read(path);
        const auto others = OtherItemsOf(bridge, FormatOfPath(path));
        for (const char* item : {c.key, c.probe})
            EXPECT_NE(std::find(others.begin(), others.end(), item), others.end()) << item;
        EXPECT_EQ(std::find(others.begin(), others.end(), "WM/Lyrics"), others.end());

        id3v2::SyncedLyrics lyrics;
        lyrics.language = "eng";
        lyrics.lines = {{1500, "First"}, {2250, "Second"}};
        ASSERT_TRUE(bridge.SetSyncedLyrics(path, lyrics));
        const SaveOutcome saved = bridge.Save(path);
        ASSERT_TRUE(saved.ok) << saved.error;

        // What mutagen read before, the synchronised lyrics replaced in their
        // place and the further one in another case gone.
        const std::string key = std::string(c.key) + "=";
        const std::string other = std::string(c.spelled) + "=";
        std::vector<std::string> expected;
        std::vector<std::string> withoutSynced;
        for (const std::string& line : Lines(seeded.output)) {
            if (line.starts_with(key)) {
                expected.push_back(key + c.type + "[00:01.50]First|[00:02.25]Second|");
            } else if (!*c.spelled || !line.starts_with(other)) {
                expected.push_back(line);
                withoutSynced.push_back(line);
            }
        }
        const auto after = RunCommand(dump);
        ASSERT_EQ(after.exitCode, 0) << after.output;
        EXPECT_EQ(Lines(after.output), expected);
        EXPECT_EQ(Occurrences(ReadAll(path), c.probeBytes), 1u);
        EXPECT_EQ(SyncedRead(path), "[00:01.50]First\n[00:02.25]Second\n");

        // A save that sets none leaves the item as it is.
        TagBridge again;
        again.Read(path);
        ASSERT_TRUE(again.Save(path).ok);
        EXPECT_EQ(Lines(RunCommand(dump).output), expected);

        // Empty lyrics remove the item rather than write it empty.
        again.Read(path);
        ASSERT_TRUE(again.SetSyncedLyrics(path, id3v2::SyncedLyrics{}));
        const SaveOutcome emptied = again.Save(path);
        ASSERT_TRUE(emptied.ok) << emptied.error;
        EXPECT_EQ(Lines(RunCommand(dump).output), withoutSynced);
        EXPECT_EQ(Occurrences(ReadAll(path), c.probeBytes), 1u);
        EXPECT_EQ(SyncedRead(path), "");
    }
}

// Seeds a WMA or MP4 file with synchronised lyrics as other tools spell and
// place them, then prints each value in file order as "KEY=TYPE:value", a
// WMA record with "@language/stream".
constexpr const char* kSpellingDump = R"(import sys
from mutagen.asf import ASF, ASFUnicodeAttribute
from mutagen.mp4 import MP4, MP4FreeForm
path = sys.argv[1]
wma = path.endswith('.wma')
f = ASF(path) if wma else MP4(path)
if len(sys.argv) > 2:
    if wma:
        f.tags['WM/Lyrics'] = ['plain words']
        f.tags['Mood'] = ['calm']
        # A language puts an attribute into the metadata library, a stream
        # into the metadata object.
        f.tags.append(('SYNCEDLYRICS', ASFUnicodeAttribute('[00:00.50]old', language=1)))
        f.tags.append(('WM/Mood', ASFUnicodeAttribute('quiet', language=1)))
        f.tags.append(('syncedLyrics', ASFUnicodeAttribute('[00:00.70]older', stream=1)))
        f.tags.append(('MyStream', ASFUnicodeAttribute('s', stream=1)))
    else:
        f.tags['\xa9lyr'] = ['plain words']
        f.tags['----:com.apple.iTunes:syncedlyrics'] = [MP4FreeForm(b'[00:00.50]old')]
        f.tags['----:com.apple.iTunes:Mood'] = [MP4FreeForm(b'calm')]
        f.tags['----:COM.APPLE.ITUNES:SyncedLyrics'] = [MP4FreeForm(b'[00:00.70]older')]
    f.save()
    f = ASF(path) if wma else MP4(path)
def show(v):
    if isinstance(v, MP4FreeForm):
        return 'ff%d:%s' % (v.dataformat, bytes(v).decode('utf-8', 'backslashreplace'))
    if wma:
        where = '' if v.language is None and v.stream is None else '@%s/%s' % (v.language, v.stream)
        return type(v).__name__ + ':' + str(v.value) + where
    return str(v)
pairs = list(f.tags) if wma else [(k, v) for k, vs in f.tags.items() for v in vs]
for k, v in pairs:
    print(k + '=' + show(v).replace('\n', '|'))
)";

// Synchronised lyrics written by another tool under another spelling, or
// (WMA) as records of the metadata objects, are read, and new ones replace
// every such item with one: MP4 keeps the first item's key and place, WMA
// writes one descriptor. Every other item stays as mutagen reads it.
TEST(SyncedLyricsItems, OtherToolsSpellingsAndPlacesAreFoundAndReplaced) {
    if (!HaveMutagen() || !HaveProgram("ffmpeg"))
        GTEST_SKIP() << "mutagen or ffmpeg is not installed";
    struct Case {
        const char* name;
        const char* codec;
        const char* read;   // the lyrics read from the seeded file
        const char* first;  // its item's line as mutagen prints it
        const char* further;
        const char* replaced;  // the first item's line after the save
        bool inPlace;          // the new item stands where the first one stood
    };
    const Case cases[] = {
        {"song.wma", "wmav2", "[00:00.70]older",
         "syncedLyrics=ASFUnicodeAttribute:[00:00.70]older@None/1",
         "SYNCEDLYRICS=ASFUnicodeAttribute:[00:00.50]old@1/0",
         "SYNCEDLYRICS=ASFUnicodeAttribute:[00:01.50]First|[00:02.25]Second|", false},
        {"song.m4a", "aac", "[00:00.50]old", "----:com.apple.iTunes:syncedlyrics=ff1:[00:00.50]old",
         "----:COM.APPLE.ITUNES:SyncedLyrics=ff1:[00:00.70]older",
         "----:com.apple.iTunes:syncedlyrics=ff1:[00:01.50]First|[00:02.25]Second|", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.file(c.name);
        ASSERT_EQ(RunCommand(ToneCommand(c.codec, path)).exitCode, 0);
        const std::string dump = ScriptCommand(dir, kSpellingDump, path);
        const auto seeded = RunCommand(dump + " seed");
        ASSERT_EQ(seeded.exitCode, 0) << seeded.output;
        const std::vector<std::string> before = Lines(seeded.output);
        const auto at = [](const std::vector<std::string>& lines, const char* line) {
            return std::find(lines.begin(), lines.end(), line) - lines.begin();
        };
        // The item read is the first in the file.
        ASSERT_LT(at(before, c.first), at(before, c.further)) << seeded.output;
        EXPECT_EQ(SyncedRead(path), c.read);

        TagBridge bridge;
        bridge.Read(path);
        id3v2::SyncedLyrics lyrics;
        lyrics.lines = {{1500, "First"}, {2250, "Second"}};
        ASSERT_TRUE(bridge.SetSyncedLyrics(path, lyrics));
        const SaveOutcome saved = bridge.Save(path);
        ASSERT_TRUE(saved.ok) << saved.error;
        EXPECT_EQ(SyncedRead(path), "[00:01.50]First\n[00:02.25]Second\n");

        // Every other item as before, in its order; the new one once.
        std::vector<std::string> expected;
        for (const std::string& line : before) {
            if (line == c.first && c.inPlace)
                expected.push_back(c.replaced);
            else if (line != c.first && line != c.further)
                expected.push_back(line);
        }
        std::vector<std::string> after = Lines(RunCommand(dump).output);
        EXPECT_EQ(std::count(after.begin(), after.end(), c.replaced), 1) << seeded.output;
        if (!c.inPlace)
            std::erase(after, c.replaced);
        EXPECT_EQ(after, expected);
    }
}

// An ASF attribute holds at most 65,535 bytes: longer synchronised lyrics
// fail the save with the reason, and the file stays as it was.
TEST(SyncedLyricsItems, WmaRefusesLyricsLongerThanAnAttributeHolds) {
    TempDir dir;
    const std::string path = dir.file("long.wma");
    WriteAll(path, ReadAll(std::string(SONDREL_SOURCE_DIR) + "/samples/03 - Night Tune.wma"));
    const Bytes before = ReadAll(path);
    TagBridge bridge;
    bridge.Read(path);
    id3v2::SyncedLyrics lyrics;
    for (std::uint32_t i = 0; i < 3000; ++i)
        lyrics.lines.push_back({i * 100, "line " + std::to_string(i)});
    ASSERT_TRUE(bridge.SetSyncedLyrics(path, lyrics));
    const SaveOutcome saved = bridge.Save(path);
    EXPECT_FALSE(saved.ok);
    EXPECT_NE(saved.error.find("SYNCEDLYRICS"), std::string::npos) << saved.error;
    EXPECT_EQ(ReadAll(path), before);
}

}  // namespace
}  // namespace sondrel
