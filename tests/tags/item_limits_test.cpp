// SPDX-License-Identifier: GPL-3.0-or-later
// Tags that claim or hold more items than any real file: a crafted file must
// neither fill memory nor be rewritten from a partial read. Past the named
// limits the tag counts as damaged: a save is refused and the file stays.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"

namespace sondrel {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::RunCommand;
using test::ShellQuote;

TEST(ItemLimits, ATagWithMoreItemsThanTheLimitIsNeverRewritten) {
    const std::string tool = test::CliTool();
    if (tool.empty() || !test::HaveMutagen())
        GTEST_SKIP() << "needs sondrel-tag and mutagen";
    struct Case {
        const char* seed;
        const char* script;  // fills `path` with 70,000 items
    };
    const Case cases[] = {
        {"musepack/sv8.mpc",
         "from mutagen.apev2 import APEv2\n"
         "t = APEv2()\n"
         "for i in range(70000): t['K%d' % i] = 'v'\n"
         "t.save(path)\n"},
        {"ogg/vorbis.ogg",
         "from mutagen.oggvorbis import OggVorbis\n"
         "f = OggVorbis(path)\n"
         "f['X'] = ['v'] * 70000\n"
         "f.save()\n"},
    };
    const fs::path seeds = fs::path(SONDREL_SOURCE_DIR) / "fuzz" / "corpus";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seed);
        test::TempDir dir;
        const std::string path = dir.file("many" + fs::path(c.seed).extension().string());
        fs::copy_file(seeds / c.seed, path);
        const std::string script = dir.file("fill.py");
        test::WriteAll(script, "import sys\npath = sys.argv[1]\n" + std::string(c.script));
        ASSERT_EQ(
            RunCommand("/usr/bin/python3 " + ShellQuote(script) + " " + ShellQuote(path)).exitCode,
            0);
        const auto before = ReadAll(path);

        const auto set =
            RunCommand(ShellQuote(tool) + " set --title New " + ShellQuote(path) + " 2>&1");
        EXPECT_NE(set.exitCode, 0) << set.output;
        EXPECT_FALSE(set.output.empty());
        EXPECT_TRUE(ReadAll(path) == before) << "the file changed";
    }
}

}  // namespace
}  // namespace sondrel
