// SPDX-License-Identifier: GPL-3.0-or-later
// An MP3 save or removal that touches both ends of the file (ID3v2 at the
// start, Lyrics3 and ID3v1 at the end) is one transaction: it either changes
// everything it was asked to or, when any write, flush or rename fails, not a
// single byte, and it says so. The APE tag between the audio and the Lyrics3
// block rides along untouched.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "editor/file_facts.h"
#include "editor/format_bridge.h"
#include "support/test_support.h"
#include "tags/ape_tag.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"

namespace sondrel {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::ReadAll;
using test::TempDir;
using test::WriteAll;

// Longer than any old tag's room: the ID3v2 tag has to grow.
const std::string kLongComment(3000, 'c');
const Bytes kApeTag = apetag::BuildTag({{"Title", 0, "APE title"}});

bool Contains(const Bytes& hay, const Bytes& needle) {
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

// Silent MPEG-1 Layer III frames, 128 kbit/s at 44.1 kHz (417 bytes each).
Bytes Frames(std::size_t count) {
    Bytes frame(417, 0);
    frame[0] = 0xFF;
    frame[1] = 0xFB;
    frame[2] = 0x90;
    Bytes out;
    for (std::size_t i = 0; i < count; ++i)
        out.insert(out.end(), frame.begin(), frame.end());
    return out;
}

// audio | APE | Lyrics3 | ID3v1, with an ID3v2 tag in front.
Bytes TaggedMp3(const TempDir& dir) {
    const std::string path = dir.file("seed.mp3");
    WriteAll(path, test::Concat({Frames(20), kApeTag}));
    Id3v2Tag v2;
    v2.setFileName(path);
    v2.settitle("Old title");
    v2.setcomment("old comment");
    EXPECT_TRUE(v2.WriteTag()) << v2.Error();
    Id3v1Tag v1;
    v1.setFilename(path);
    v1.setTitle("Old title");
    v1.setLyrics("old words");
    EXPECT_TRUE(v1.WriteTag()) << v1.Error();
    Bytes bytes = ReadAll(path);
    fs::remove(path);
    return bytes;
}

struct Operation {
    const char* name;
    std::function<SaveOutcome(TagBridge&, const std::string&)> run;
    // What the file holds after the operation succeeded.
    std::function<void(const std::string&)> check;
};

SaveOutcome SaveEdit(TagBridge& b, const std::string& path,
                     const std::function<void(TagFields&)>& edit) {
    b.Read(path);
    TagFields h = b.Hub();
    edit(h);
    b.setHub(h);
    return b.Save(path);
}

const Operation kOperations[] = {
    {"save of both tags, the ID3v2 tag growing",
     [](TagBridge& b, const std::string& path) {
         return SaveEdit(b, path, [](TagFields& h) {
             h.title = "New title";
             h.comment = kLongComment;
         });
     },
     [](const std::string& path) {
         Id3v1Tag v1;
         v1.setFilename(path);
         EXPECT_EQ(v1.Title(), "New title");
         EXPECT_EQ(v1.Lyrics(), "old words");
         Id3v2Tag v2;
         v2.setFileName(path);
         EXPECT_EQ(v2.title(), "New title");
         EXPECT_EQ(v2.comment(), kLongComment);
     }},
    {"save of both tags, the Lyrics3 block dropped",
     [](TagBridge& b, const std::string& path) {
         return SaveEdit(b, path, [](TagFields& h) {
             h.title = "Shorter";
             h.text.clear();
         });
     },
     [](const std::string& path) {
         Id3v1Tag v1;
         v1.setFilename(path);
         EXPECT_EQ(v1.Title(), "Shorter");
         EXPECT_EQ(v1.Lyrics(), "");
         const Bytes after = ReadAll(path);
         EXPECT_FALSE(Contains(after, test::ToBytes("LYRICSBEGIN")));
     }},
    {"removal of both tags",
     [](TagBridge& b, const std::string& path) {
         b.Read(path);
         return b.Remove(path, RemoveKind::AllId3);
     },
     [](const std::string& path) {
         TagBridge reader;
         reader.Read(path);
         const TagKinds kinds = TagKindsOf(reader, TagFormat::MP3, path);
         EXPECT_FALSE(kinds.id3v1);
         EXPECT_FALSE(kinds.id3v2.has_value());
         // The APE tag is now the last thing in the file.
         const Bytes after = ReadAll(path);
         ASSERT_GE(after.size(), kApeTag.size());
         EXPECT_TRUE(std::equal(kApeTag.begin(), kApeTag.end(), after.end() - kApeTag.size()));
     }},
};

std::set<std::string> Listing(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.insert(e.path().filename().string());
    return names;
}

enum class Mode { OneWriteFails, DiskFullFromThenOn, HalfLandsThenFails };

TEST(Mp3Transaction, CleanRunChangesBothEndsAndKeepsTheApeTag) {
    TempDir dir;
    const Bytes original = TaggedMp3(dir);
    for (const Operation& op : kOperations) {
        SCOPED_TRACE(op.name);
        const std::string path = dir.file("song.mp3");
        WriteAll(path, original);
        TagBridge b;
        const SaveOutcome r = op.run(b, path);
        ASSERT_TRUE(r.ok) << r.error;
        op.check(path);
        EXPECT_TRUE(Contains(ReadAll(path), kApeTag)) << "the APE tag was changed";
    }
}

TEST(Mp3Transaction, EveryFailedWriteOrStepLeavesEveryByte) {
    TempDir seedDir;
    const Bytes original = TaggedMp3(seedDir);
    for (const Operation& op : kOperations) {
        SCOPED_TRACE(op.name);
        std::size_t writes = 0;
        std::size_t steps = 0;
        {
            TempDir dir;
            const std::string path = dir.file("song.mp3");
            WriteAll(path, original);
            TagBridge b;
            b.SetIoFaults({[&](std::size_t) {
                               ++writes;
                               return true;
                           },
                           [&](IoStep) {
                               ++steps;
                               return true;
                           }});
            ASSERT_TRUE(op.run(b, path).ok);
        }
        ASSERT_GT(writes, 0u);

        auto expectUntouched = [&](const IoFaults& faults) {
            TempDir dir;
            const std::string path = dir.file("song.mp3");
            WriteAll(path, original);
            const auto before = Listing(dir.path());
            TagBridge b;
            b.SetIoFaults(faults);
            const SaveOutcome r = op.run(b, path);
            EXPECT_FALSE(r.ok) << "a failure was reported as success";
            EXPECT_FALSE(r.error.empty()) << "no reason given";
            EXPECT_TRUE(ReadAll(path) == original) << "the file changed";
            EXPECT_EQ(Listing(dir.path()), before) << "a temporary file was left";
        };
        for (Mode mode :
             {Mode::OneWriteFails, Mode::DiskFullFromThenOn, Mode::HalfLandsThenFails}) {
            for (std::size_t k = 1; k <= writes; ++k) {
                SCOPED_TRACE("write " + std::to_string(k) + " of " + std::to_string(writes) +
                             " fails, mode " + std::to_string(static_cast<int>(mode)));
                std::size_t seen = 0;
                expectUntouched({[&](std::size_t bytes) -> WriteVerdict {
                                     ++seen;
                                     if (mode == Mode::DiskFullFromThenOn)
                                         return seen < k;
                                     if (seen != k)
                                         return true;
                                     return mode == Mode::OneWriteFails
                                                ? WriteVerdict(false)
                                                : WriteVerdict::Partial(bytes / 2);
                                 },
                                 {}});
            }
        }
        // Every flush, truncation, reservation and rename the clean run made.
        for (std::size_t k = 1; k <= steps; ++k) {
            SCOPED_TRACE("step " + std::to_string(k) + " of " + std::to_string(steps) + " fails");
            std::size_t seen = 0;
            expectUntouched({{}, [&](IoStep) { return ++seen != k; }});
        }
    }
}

// Faults from the system itself, through the command-line tool: a file-size
// limit (as a full disk, the new file cannot be written) and a folder where
// no new file may be created.
TEST(Mp3Transaction, RealFailuresThroughTheToolLeaveEveryByte) {
    const std::string tool = test::CliTool();
    if (tool.empty())
        GTEST_SKIP() << "sondrel-tag was not built";
    TempDir seedDir;
    const Bytes original = TaggedMp3(seedDir);
    // Room for the file as it is, not for the grown one.
    const std::size_t limitBlocks = original.size() / 1024 + 1;

    struct RealFault {
        const char* name;
        bool needsNonRoot;
        std::function<std::string(const std::string& dir, const std::string& command)> wrap;
    };
    const RealFault faults[] = {
        {"file-size limit", false,
         [&](const std::string&, const std::string& command) {
             return "bash -c " + test::ShellQuote("ulimit -f " + std::to_string(limitBlocks) +
                                                  "; exec " + command);
         }},
        {"read-only folder", true,
         [](const std::string& dir, const std::string& command) {
             ::chmod(dir.c_str(), 0555);
             return command;
         }},
    };
    for (const RealFault& f : faults) {
        SCOPED_TRACE(f.name);
        if (f.needsNonRoot && ::geteuid() == 0) {
            std::printf("[ NOTE ] %s: skipped, folder permissions do not bind root\n", f.name);
            continue;
        }
        TempDir dir;
        const std::string path = dir.file("song.mp3");
        WriteAll(path, original);
        // The title fits the ID3v1 block in place; the comment makes the
        // ID3v2 tag outgrow its room.
        const std::string command = test::ShellQuote(tool) + " set --title " +
                                    test::ShellQuote("New title") + " --comment " + kLongComment +
                                    " " + test::ShellQuote(path) + " 2>&1";
        const auto r = test::RunCommand(f.wrap(dir.path(), command));
        ::chmod(dir.path().c_str(), 0755);
        EXPECT_NE(r.exitCode, 0) << r.output;
        EXPECT_FALSE(r.output.empty()) << "no reason given";
        EXPECT_TRUE(ReadAll(path) == original) << "the file changed: " << r.output;
    }
}

}  // namespace
}  // namespace sondrel
