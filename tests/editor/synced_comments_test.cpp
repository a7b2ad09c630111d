// Synchronised lyrics in Vorbis comments (Ogg and FLAC), which have no frame
// for them: a save through the editor's bridge keeps them as LRC text under
// "SYNCEDLYRICS". The new text takes the place of the first such comment
// whatever its key's case, further ones go, and every other comment stays
// where it was, as mutagen reads the file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "editor/format_bridge.h"
#include "support/test_support.h"
#include "tags/id3v2_frames.h"

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

}  // namespace
}  // namespace sondrel
