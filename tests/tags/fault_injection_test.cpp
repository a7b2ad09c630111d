// SPDX-License-Identifier: GPL-3.0-or-later
// Every save, removal and picture change of every format, with the k-th
// low-level write failing as a full disk would (none of its bytes landing, or
// half of them), for every k the operation reaches: the operation must report the failure, the file
// must keep every byte, and no temporary file may be left in its folder.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "support/test_support.h"
#include "tags/ape.h"
#include "tags/file_io.h"
#include "tags/flac.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"
#include "tags/mp4.h"
#include "tags/musepack.h"
#include "tags/ogg.h"
#include "tags/save_group.h"
#include "tags/wma.h"

namespace sondrel {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::ReadAll;
using test::TempDir;
using test::WriteAll;

const fs::path kSeeds = fs::path(SONDREL_SOURCE_DIR) / "fuzz" / "corpus";
// Long enough that no tag can take it in place.
const std::string kLongText(3000, 'x');

struct Outcome {
    bool ok = false;
    std::string error;
};

struct FaultCase {
    const char* name;
    const char* seed;  // under fuzz/corpus/
    std::function<Outcome(const std::string& path, const std::string& picture, const IoFaults& io)>
        run;
};

template <typename C>
Outcome Result(bool ok, const C& c) {
    return {ok && c.Error().empty(), c.Error()};
}

const FaultCase kCases[] = {
    {"id3v1 save with lyrics", "id3v1/v11.mp3",
     [](const std::string& p, const std::string&, const IoFaults& io) {
         Id3v1Tag c;
         c.SetIoFaults(io);
         c.setFilename(p);
         c.setTitle("New title");
         c.setLyrics(kLongText);
         return Result(c.WriteTag(), c);
     }},
    {"id3v1 save into a file without a tag", "mpeg/cbr.mp3",
     [](const std::string& p, const std::string&, const IoFaults& io) {
         Id3v1Tag c;
         c.SetIoFaults(io);
         c.setFilename(p);
         c.setTitle("New title");
         return Result(c.WriteTag(), c);
     }},
    {"id3v2 save that grows the tag", "id3v2/v23.mp3",
     [](const std::string& p, const std::string&, const IoFaults& io) {
         Id3v2Tag c;
         c.SetIoFaults(io);
         c.setFileName(p);
         c.settext(kLongText);
         return Result(c.WriteTag(), c);
     }},
    {"id3v2 save in place", "id3v2/v23_picture.mp3",
     [](const std::string& p, const std::string&, const IoFaults& io) {
         Id3v2Tag c;
         c.SetIoFaults(io);
         c.setFileName(p);
         c.settitle("Other");
         return Result(c.WriteTag(), c);
     }},
    {"id3v2 remove", "id3v2/v24.mp3",
     [](const std::string& p, const std::string&, const IoFaults& io) {
         Id3v2Tag c;
         c.SetIoFaults(io);
         c.setFileName(p);
         // The re-read after a removal finds no tag and says so in Error.
         const bool ok = c.RemoveTag();
         return Outcome{ok, c.Error()};
     }},
    {"id3v2 save carrying new Lyrics3 and ID3v1 blocks", "id3v1/lyrics3.mp3",
     [](const std::string& p, const std::string&, const IoFaults& io) {
         Id3v1Tag v1;
         v1.setFilename(p);
         v1.setTitle("New title");
         v1.setLyrics(kLongText);
         Id3v2Tag c;
         c.SetIoFaults(io);
         c.setFileName(p);
         c.settitle("New title");
         return Result(c.WriteTag([&v1](const ByteSource& f) { return v1.PlanWrite(f); }), c);
     }},
    {"id3v2 and id3v1 removed in one rewrite", "mpeg/tagged.mp3",
     [](const std::string& p, const std::string&, const IoFaults& io) {
         Id3v1Tag v1;
         v1.setFilename(p);
         Id3v2Tag c;
         c.SetIoFaults(io);
         c.setFileName(p);
         const bool ok = c.RemoveTag([&v1](const ByteSource& f) { return v1.PlanRemoval(f); });
         return Outcome{ok, c.Error()};
     }},
    {"id3v2 add picture", "id3v2/v23.mp3",
     [](const std::string& p, const std::string& picture, const IoFaults& io) {
         Id3v2Tag c;
         c.SetIoFaults(io);
         c.setFileName(p);
         return Result(c.AddImage(0, picture, "cover"), c);
     }},
    {"id3v2 delete picture", "id3v2/v23_picture.mp3",
     [](const std::string& p, const std::string&, const IoFaults& io) {
         Id3v2Tag c;
         c.SetIoFaults(io);
         c.setFileName(p);
         return Result(c.DeleteImage(0) == 0, c);
     }},
    {"ogg save", "ogg/vorbis.ogg",
     [](const std::string& p, const std::string&, const IoFaults& io) {
         OggVorbisTag c;
         c.SetIoFaults(io);
         c.setFileName(p);
         c.setlyrics(kLongText);
         return Result(c.WriteTag(), c);
     }},
    {"ogg remove", "ogg/vorbis.ogg",
     [](const std::string& p, const std::string&, const IoFaults& io) {
         OggVorbisTag c;
         c.SetIoFaults(io);
         c.setFileName(p);
         return Result(c.RemoveTag(), c);
     }},
    {"ape save", "ape/v3990.ape",
     [](const std::string& p, const std::string&, const IoFaults& io) {
         MonkeysAudioTag c;
         c.SetIoFaults(io);
         c.setFilename(p);
         c.setLyrics(kLongText);
         return Result(c.WriteTag(), c);
     }},
    {"musepack save over id3v1", "musepack/sv8.mpc",
     [](const std::string& p, const std::string&, const IoFaults& io) {
         MusepackTag c;
         c.SetIoFaults(io);
         c.setFilename(p);
         c.setTitle("New title");
         return Result(c.WriteTag(), c);
     }},
    {"wma save", "wma/wmav2.wma",
     [](const std::string& p, const std::string&, const IoFaults& io) {
         WmaTag c;
         c.SetIoFaults(io);
         c.setFileName(p);
         c.Lyrics = kLongText;
         return Result(c.WriteTag(), c);
     }},
    {"wma add picture", "wma/wmav2.wma",
     [](const std::string& p, const std::string& picture, const IoFaults& io) {
         WmaTag c;
         c.SetIoFaults(io);
         c.setFileName(p);
         return Result(c.AddImage(0, picture, "cover"), c);
     }},
    {"flac save", "flac/ffmpeg.flac",
     [](const std::string& p, const std::string&, const IoFaults& io) {
         FlacTag c;
         c.SetIoFaults(io);
         c.setFileName(p);
         c.setValue(Field::Lyrics, kLongText + kLongText + kLongText);
         return Result(c.WriteTag(), c);
     }},
    {"mp4 save", "mp4/aac.m4a",
     [](const std::string& p, const std::string&, const IoFaults& io) {
         Mp4Tag c;
         c.SetIoFaults(io);
         c.setFileName(p);
         c.setLyrics(kLongText);
         return Result(c.WriteTag(), c);
     }},
    {"mp4 add picture", "mp4/aac.m4a",
     [](const std::string& p, const std::string& picture, const IoFaults& io) {
         Mp4Tag c;
         c.SetIoFaults(io);
         c.setFileName(p);
         return Result(c.AddImage(0, picture), c);
     }},
};

std::set<std::string> Listing(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.insert(e.path().filename().string());
    return names;
}

struct Prepared {
    TempDir dir;
    std::string path;
    std::string picture;
};

void Prepare(Prepared& p, const FaultCase& c, const Bytes& original) {
    p.path = p.dir.file("song" + fs::path(c.seed).extension().string());
    WriteAll(p.path, original);
    p.picture = p.dir.file("cover.png");
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    png.resize(600, 0x42);
    WriteAll(p.picture, png);
}

enum class Mode { OneWriteFails, DiskFullFromThenOn, HalfLandsThenFails };

std::size_t totalFaults = 0;

TEST(FaultInjection, EveryFailedWriteLeavesTheFileAsItWas) {
    for (const FaultCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const Bytes original = ReadAll((kSeeds / c.seed).string());
        ASSERT_FALSE(original.empty());

        // A clean run first: it must succeed, and tells how many writes it makes.
        std::size_t writes = 0;
        {
            Prepared p;
            Prepare(p, c, original);
            const IoFaults counting{[&](std::size_t) {
                                        ++writes;
                                        return true;
                                    },
                                    {}};
            const Outcome clean = c.run(p.path, p.picture, counting);
            ASSERT_TRUE(clean.ok) << clean.error;
            ASSERT_NE(ReadAll(p.path), original) << "the clean run changed nothing";
        }
        ASSERT_GT(writes, 0u) << "the operation writes around the file layer";
        RecordProperty(c.name, static_cast<int>(writes));

        for (Mode mode :
             {Mode::OneWriteFails, Mode::DiskFullFromThenOn, Mode::HalfLandsThenFails}) {
            for (std::size_t k = 1; k <= writes; ++k) {
                SCOPED_TRACE("write " + std::to_string(k) + " of " + std::to_string(writes) +
                             (mode == Mode::OneWriteFails        ? " fails"
                              : mode == Mode::DiskFullFromThenOn ? " and later fail"
                                                                 : " lands half, then fails"));
                Prepared p;
                Prepare(p, c, original);
                const auto before = Listing(p.dir.path());
                std::size_t seen = 0;
                const IoFaults failing{[&](std::size_t bytes) -> WriteVerdict {
                                           ++seen;
                                           switch (mode) {
                                               case Mode::OneWriteFails:
                                                   return seen != k;
                                               case Mode::DiskFullFromThenOn:
                                                   return seen < k;
                                               case Mode::HalfLandsThenFails:
                                                   break;
                                           }
                                           if (seen != k)
                                               return true;
                                           return WriteVerdict::Partial(bytes / 2);
                                       },
                                       {}};
                const Outcome r = c.run(p.path, p.picture, failing);
                ++totalFaults;
                EXPECT_FALSE(r.ok) << "a failed write was reported as success";
                EXPECT_FALSE(r.error.empty()) << "no error text";
                EXPECT_TRUE(ReadAll(p.path) == original) << "the file changed";
                EXPECT_EQ(Listing(p.dir.path()), before) << "a temporary file was left";
            }
        }
    }
    RecordProperty("faults_injected", static_cast<int>(totalFaults));
}

// Flushes, truncations, space reservations and the final rename fail in
// turn. A failure is always reported; a rewrite whose rename fails, or a
// tail whose space cannot be reserved, leaves the file as it was (an
// in-place write that fails at its flush has already written, and says so).
TEST(FaultInjection, EveryFailedFlushTruncationAndRenameIsReported) {
    for (const FaultCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const Bytes original = ReadAll((kSeeds / c.seed).string());
        for (const IoStep step :
             {IoStep::Sync, IoStep::Truncate, IoStep::Rename, IoStep::Reserve}) {
            std::size_t steps = 0;
            {
                Prepared p;
                Prepare(p, c, original);
                const IoFaults counting{{}, [&](IoStep s) {
                                            steps += s == step;
                                            return true;
                                        }};
                const Outcome clean = c.run(p.path, p.picture, counting);
                ASSERT_TRUE(clean.ok) << clean.error;
            }
            for (std::size_t k = 1; k <= steps; ++k) {
                SCOPED_TRACE("step " + std::to_string(static_cast<int>(step)) + ", occurrence " +
                             std::to_string(k));
                Prepared p;
                Prepare(p, c, original);
                const auto before = Listing(p.dir.path());
                std::size_t seen = 0;
                const IoFaults failing{{}, [&](IoStep s) { return s != step || ++seen != k; }};
                const Outcome r = c.run(p.path, p.picture, failing);
                EXPECT_FALSE(r.ok) << "a failed step was reported as success";
                EXPECT_FALSE(r.error.empty()) << "no error text";
                EXPECT_EQ(Listing(p.dir.path()), before) << "a temporary file was left";
                if (step == IoStep::Rename || step == IoStep::Reserve) {
                    EXPECT_TRUE(ReadAll(p.path) == original) << "the file changed";
                }
            }
        }
    }
}

// The same saves in a save group, whose flush fails at its commit: the
// file ends wholly old, however it was written (in place at either end or
// rewritten), and the failure reaches its save. Every file of a group that
// fails is told, the syncfs way and the per-file way.
TEST(FaultInjection, AGroupThatFailsLeavesEachOfItsFilesWhollyOld) {
    for (const FaultCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const Bytes original = ReadAll((kSeeds / c.seed).string());
        for (const SaveGroup::Flush flush :
             {SaveGroup::Flush::Parallel, SaveGroup::Flush::FileSystem}) {
            for (const IoStep step : {IoStep::Sync}) {
                SCOPED_TRACE("step " + std::to_string(static_cast<int>(step)) +
                             (flush == SaveGroup::Flush::Parallel ? ", per file" : ", syncfs"));
                // A step that does not come up in this save cannot fail it.
                std::size_t steps = 0;
                {
                    Prepared p;
                    Prepare(p, c, original);
                    SaveGroup group(SaveGroup::Limits{}, flush);
                    IoFaults counting{{}, [&](IoStep s) {
                                          steps += s == step;
                                          return true;
                                      }};
                    counting.group = &group;
                    const Outcome clean = c.run(p.path, p.picture, counting);
                    ASSERT_TRUE(clean.ok) << clean.error;
                    EXPECT_TRUE(group.Commit().empty());
                    ASSERT_NE(ReadAll(p.path), original) << "the clean run changed nothing";
                }
                for (std::size_t k = 1; k <= steps; ++k) {
                    SCOPED_TRACE("occurrence " + std::to_string(k));
                    Prepared p;
                    Prepare(p, c, original);
                    const auto before = Listing(p.dir.path());
                    SaveGroup group(SaveGroup::Limits{}, flush);
                    std::size_t seen = 0;
                    IoFaults failing{{}, [&](IoStep s) { return s != step || ++seen != k; }};
                    failing.group = &group;
                    const Outcome r = c.run(p.path, p.picture, failing);
                    std::optional<IoResult> told;
                    if (r.ok)
                        group.WhenCommitted(p.path, [&told](const IoResult& t) { told = t; });
                    group.Commit();
                    if (r.ok) {
                        ASSERT_TRUE(told.has_value()) << "the save was never told its outcome";
                        EXPECT_FALSE(told->ok) << "a failed commit was reported as success";
                        EXPECT_FALSE(told->error.empty()) << "no error text";
                    }
                    EXPECT_TRUE(ReadAll(p.path) == original) << "the file is not wholly old";
                    EXPECT_EQ(Listing(p.dir.path()), before) << "a temporary file was left";
                }
            }
        }
    }
}

// The undo journal cannot be written (its folder is full), alone or in a
// group: a save that would go in place rewrites the file instead and
// succeeds, with the very bytes the in-place save writes, and leaves no
// temporary file.
TEST(FaultInjection, AJournalThatCannotBeWrittenMakesTheSaveRewriteTheFile) {
    std::size_t inPlace = 0;
    for (const FaultCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const Bytes original = ReadAll((kSeeds / c.seed).string());
        for (const bool grouped : {false, true}) {
            SCOPED_TRACE(grouped ? "in a group" : "alone");
            auto run = [&](Prepared& p, bool journalWorks, bool& asked) {
                Prepare(p, c, original);
                SaveGroup group;
                IoFaults io;
                io.journal = [&] {
                    asked = true;
                    return journalWorks;
                };
                if (grouped)
                    io.group = &group;
                const Outcome r = c.run(p.path, p.picture, io);
                std::optional<IoResult> told;
                if (r.ok && grouped)
                    group.WhenCommitted(p.path, [&told](const IoResult& t) { told = t; });
                group.Commit();
                if (told && !told->ok)
                    return Outcome{false, told->error};
                return r;
            };
            Prepared clean;
            bool journalled = false;
            ASSERT_TRUE(run(clean, true, journalled).ok);
            if (!journalled)
                continue;  // rewritten anyway
            ++inPlace;
            Prepared p;
            bool asked = false;
            const Outcome r = run(p, false, asked);
            EXPECT_TRUE(asked);
            EXPECT_TRUE(r.ok) << r.error;
            EXPECT_TRUE(ReadAll(p.path) == ReadAll(clean.path)) << "not the in-place save's bytes";
            EXPECT_EQ(Listing(p.dir.path()), Listing(clean.dir.path()))
                << "a temporary file was left";
        }
    }
    EXPECT_GT(inPlace, 0u) << "no save went in place";
}

// The saves whose messages must carry the system's reason for a full disk
// or a file grown past the size limit (the formats that rewrite or extend
// their files through the file layer).
bool NamesItsReason(const FaultCase& c) {
    for (const char* prefix : {"flac", "wma", "mp4", "ape", "musepack"})
        if (std::string_view(c.name).starts_with(prefix))
            return true;
    return false;
}

TEST(FaultInjection, AFullDiskIsNamedInTheError) {
    const std::string reason = std::strerror(ENOSPC);
    for (const FaultCase& c : kCases) {
        if (!NamesItsReason(c))
            continue;
        SCOPED_TRACE(c.name);
        const Bytes original = ReadAll((kSeeds / c.seed).string());
        // Every write from the first on, then from the last on, fails.
        std::size_t writes = 0;
        {
            Prepared p;
            Prepare(p, c, original);
            const IoFaults counting{[&](std::size_t) {
                                        ++writes;
                                        return true;
                                    },
                                    {}};
            ASSERT_TRUE(c.run(p.path, p.picture, counting).ok);
        }
        for (const std::size_t k : {std::size_t{1}, writes}) {
            SCOPED_TRACE("full from write " + std::to_string(k));
            Prepared p;
            Prepare(p, c, original);
            std::size_t seen = 0;
            const IoFaults full{[&](std::size_t) { return ++seen < k; }, {}};
            const Outcome r = c.run(p.path, p.picture, full);
            EXPECT_FALSE(r.ok);
            EXPECT_NE(r.error.find(reason), std::string::npos) << r.error;
        }
    }
}

// The file-size limit (RLIMIT_FSIZE) as a shell's "ulimit -f" sets it, in a
// child process that ignores SIGXFSZ as the program does: the save fails with
// the system's "File too large" and the file keeps every byte.
TEST(FaultInjection, TheFileSizeLimitIsNamedInTheError) {
    const std::string reason = std::strerror(EFBIG);
    for (const FaultCase& c : kCases) {
        if (!NamesItsReason(c))
            continue;
        SCOPED_TRACE(c.name);
        const Bytes original = ReadAll((kSeeds / c.seed).string());
        Prepared p;
        Prepare(p, c, original);
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(fds[0]);
            ::signal(SIGXFSZ, SIG_IGN);
            // Below the file's own size: every save that grows it, or writes
            // a new copy of it, goes past the limit.
            const rlimit limit{static_cast<rlim_t>(original.size() / 2), RLIM_INFINITY};
            std::string text = "cannot set the limit";
            if (::setrlimit(RLIMIT_FSIZE, &limit) == 0) {
                const Outcome r = c.run(p.path, p.picture, SystemIo());
                text = r.ok ? "saved" : r.error;
            }
            const ssize_t n = ::write(fds[1], text.data(), text.size());
            ::_exit(n == static_cast<ssize_t>(text.size()) ? 0 : 1);
        }
        ::close(fds[1]);
        std::string got;
        char buf[512];
        for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
            got.append(buf, static_cast<std::size_t>(n));
        ::close(fds[0]);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "the child was killed by signal " << WTERMSIG(status);
        EXPECT_NE(got.find(reason), std::string::npos) << got;
        EXPECT_TRUE(ReadAll(p.path) == original) << "the file changed";
    }
}

}  // namespace
}  // namespace sondrel
