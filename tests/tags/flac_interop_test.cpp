// SPDX-License-Identifier: GPL-3.0-or-later
// FlacTag against peers: the reference encoder and metaflac make and tag real
// files, mutagen reads them and what we write, ffmpeg decodes before and after
// every kind of save, and `flac -t` checks the STREAMINFO MD5 against the
// decoded audio.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "tags/flac.h"
#include "tags/region_write.h"

namespace {

using nlohmann::json;
using sondrel::Field;
using sondrel::FlacTag;
using sondrel::test::Bytes;
using sondrel::test::ReadAll;
using sondrel::test::RunCommand;
using sondrel::test::ShellQuote;
using sondrel::test::TempDir;
using sondrel::test::WriteAll;

const std::string& Python() {
    static const std::string python = [] {
        for (const std::string candidate : {"python3", "/usr/bin/python3"})
            if (RunCommand(candidate + " -c 'import mutagen' >/dev/null 2>&1").exitCode == 0)
                return candidate;
        return std::string();
    }();
    return python;
}

bool HavePeers() {
    return !Python().empty() && sondrel::test::HaveProgram("ffmpeg") &&
           sondrel::test::HaveProgram("flac") && sondrel::test::HaveProgram("metaflac");
}

// Decoded PCM digest; also fails on any decoder complaint.
std::string DecodedMd5(const std::string& path) {
    const auto r =
        RunCommand("ffmpeg -v error -nostdin -i " + ShellQuote(path) + " -map 0:a -f md5 - 2>&1");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output.rfind("MD5=", 0), 0u) << "decoder said: " << r.output;
    return r.output;
}

// The reference decoder checks every frame and the STREAMINFO MD5.
void ExpectDecoderVerifies(const std::string& path) {
    const auto r = RunCommand("flac -t -s " + ShellQuote(path) + " 2>&1");
    EXPECT_EQ(r.exitCode, 0) << r.output;
}

// What mutagen reads: the comments (key as stored, in order), the vendor,
// the pictures and the block types.
json MutagenRead(const std::string& path) {
    const std::string script = R"(
import json, sys
from mutagen.flac import FLAC
f = FLAC(sys.argv[1])
print(json.dumps({
  "vendor": f.tags.vendor if f.tags is not None else None,
  "comments": [[k, v] for k, v in (f.tags or [])],
  "pictures": [{"type": p.type, "mime": p.mime, "desc": p.desc, "size": len(p.data)} for p in f.pictures],
  "blocks": [b.code for b in f.metadata_blocks],
  "rate": f.info.sample_rate, "channels": f.info.channels, "bits": f.info.bits_per_sample,
  "samples": f.info.total_samples, "md5": "%032x" % f.info.md5_signature}))
)";
    const auto r = RunCommand(Python() + " -c " + ShellQuote(script) + " " + ShellQuote(path));
    EXPECT_EQ(r.exitCode, 0) << path;
    return r.exitCode == 0 ? json::parse(r.output) : json();
}

class FlacInterop : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HavePeers())
            GTEST_SKIP() << "flac, metaflac, ffmpeg or mutagen is not installed";
        wav_ = dir_.file("tone.wav");
        cover_ = dir_.file("cover.png");
        const auto gen = RunCommand(
            "ffmpeg -v error -nostdin -y -f lavfi -i sine=frequency=440:sample_rate=44100 -t 2 "
            "-ac 2 " +
            ShellQuote(wav_) +
            " >/dev/null 2>&1 && ffmpeg -v error -nostdin -y -f lavfi -i "
            "color=c=red:s=8x8 -frames:v 1 " +
            ShellQuote(cover_) + " >/dev/null 2>&1");
        ASSERT_EQ(gen.exitCode, 0);
    }

    // A file made by the reference encoder and tagged by metaflac, with a
    // seek table, padding, a picture, a repeated and an unknown key.
    std::string Make(const std::string& name, int padding) {
        const std::string path = dir_.file(name);
        const auto r = RunCommand(
            "flac -s -f --padding=" + std::to_string(padding) + " -o " + ShellQuote(path) + " " +
            ShellQuote(wav_) +
            " 2>/dev/null && metaflac --set-tag=TITLE=Tone --set-tag=ARTIST=Uno " +
            "--set-tag=ARTIST=Dos --set-tag=Replaygain_Track_Gain=-3.1 --set-tag=GENRE=Jazz " +
            "--import-picture-from=" + ShellQuote("3||Cover||" + cover_) + " " + ShellQuote(path));
        EXPECT_EQ(r.exitCode, 0);
        return path;
    }

    TempDir dir_;
    std::string wav_;
    std::string cover_;
};

TEST_F(FlacInterop, ReadsWhatMetaflacWroteAsMutagenDoes) {
    const std::string path = Make("read.flac", 4096);
    const json peer = MutagenRead(path);
    FlacTag t;
    t.setFileName(path);
    ASSERT_TRUE(t.Valid()) << t.Error();
    EXPECT_EQ(t.Value(Field::Title), "Tone");
    EXPECT_EQ(t.Value(Field::Artist), "Uno / Dos");
    EXPECT_EQ(t.Value(Field::Genre), "Jazz");
    EXPECT_EQ(t.Vendor(), peer["vendor"].get<std::string>());
    EXPECT_EQ(t.OtherComments(), std::vector<std::string>{"Replaygain_Track_Gain=-3.1"});
    EXPECT_EQ(t.Stream().sampleRate, peer["rate"].get<std::uint32_t>());
    EXPECT_EQ(t.Stream().channels, peer["channels"].get<int>());
    EXPECT_EQ(t.Stream().bitsPerSample, peer["bits"].get<int>());
    EXPECT_EQ(t.Stream().totalSamples, peer["samples"].get<std::uint64_t>());
    EXPECT_EQ(t.Md5Hex(), peer["md5"].get<std::string>());
    EXPECT_EQ(t.Stream().totalSamples, 88200u);
    EXPECT_DOUBLE_EQ(t.DurationSeconds(), 2.0);
    ASSERT_EQ(t.ImagesCount(), 1);
    EXPECT_EQ(t.Pictures()[0].Description, "Cover");
    EXPECT_EQ(t.Pictures()[0].MimeType, "image/png");
    EXPECT_EQ(t.Pictures()[0].DataSize(), peer["pictures"][0]["size"].get<int>());
    EXPECT_EQ(t.Pictures()[0].Data, ReadAll(cover_));
}

// Every kind of save: the decoded audio is the same before and after, the
// reference decoder still verifies the stream against its MD5, and mutagen
// reads the change with everything else as it was.
TEST_F(FlacInterop, EveryKindOfSaveKeepsTheAudio) {
    struct Case {
        const char* name;
        int padding;
        bool (*edit)(FlacTag&, const std::string& cover);
        bool grows;
    };
    const Case cases[] = {
        {"in place", 4096,
         [](FlacTag& t, const std::string&) {
             t.setValue(Field::Title, "Neu");
             return t.WriteTag();
         },
         false},
        {"growing", 0,
         [](FlacTag& t, const std::string&) {
             t.setValue(Field::Lyrics, std::string(20000, 'l'));
             return t.WriteTag();
         },
         true},
        {"shrinking", 0,
         [](FlacTag& t, const std::string&) {
             t.setValue(Field::Title, "");
             return t.WriteTag();
         },
         false},
        {"picture add", 0,
         [](FlacTag& t, const std::string& cover) { return t.AddImage(1, cover, "Back", 4); },
         true},
        {"picture delete", 0, [](FlacTag& t, const std::string&) { return t.DeleteImage(0); },
         false},
        {"comments removed", 0, [](FlacTag& t, const std::string&) { return t.RemoveTag(); },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Make("save.flac", c.padding);
        const std::string md5 = DecodedMd5(path);
        const json before = MutagenRead(path);
        const auto sizeBefore = ReadAll(path).size();
        FlacTag t;
        t.setFileName(path);
        ASSERT_TRUE(t.Valid()) << t.Error();
        ASSERT_TRUE(c.edit(t, cover_)) << t.Error();
        EXPECT_EQ(DecodedMd5(path), md5);
        ExpectDecoderVerifies(path);
        const json after = MutagenRead(path);
        EXPECT_EQ(after["vendor"], before["vendor"]);
        EXPECT_EQ(after["md5"], before["md5"]);
        EXPECT_EQ(after["samples"], before["samples"]);
        EXPECT_EQ(ReadAll(path).size() > sizeBefore, c.grows);
        // The seek table and stream facts stay where they were.
        EXPECT_EQ(after["blocks"][0], 0);
        EXPECT_EQ(after["blocks"][1], before["blocks"][1]);
        t.setFileName(path);
        ASSERT_TRUE(t.Valid()) << t.Error();
        EXPECT_EQ(t.Md5Hex(), DecodedMd5(path).substr(4, 32))
            << "STREAMINFO MD5 matches the decoded 16-bit audio";
    }
}

TEST_F(FlacInterop, MutagenAndMetaflacReadWhatWeWrote) {
    const std::string path = Make("write.flac", 0);
    FlacTag t;
    t.setFileName(path);
    ASSERT_TRUE(t.Valid()) << t.Error();
    t.setValue(Field::Title, "Ça ira — тест");
    t.setValue(Field::Album, "Älbum ☃ 𝄞");
    t.setValue(Field::Comment, "two\nlines");
    t.setValue(Field::Track, "3/12");
    ASSERT_TRUE(t.WriteTag()) << t.Error();

    const json peer = MutagenRead(path);
    const std::vector<std::vector<std::string>> expected = {
        {"TITLE", "Ça ira — тест"},        {"ARTIST", "Uno"},         {"ARTIST", "Dos"},
        {"Replaygain_Track_Gain", "-3.1"}, {"GENRE", "Jazz"},         {"ALBUM", "Älbum ☃ 𝄞"},
        {"TRACKNUMBER", "3/12"},           {"COMMENT", "two\nlines"},
    };
    EXPECT_EQ(peer["comments"].get<std::vector<std::vector<std::string>>>(), expected);
    ASSERT_EQ(peer["pictures"].size(), 1u);
    EXPECT_EQ(peer["pictures"][0]["desc"], "Cover");

    const auto tags = RunCommand("metaflac --export-tags-to=- " + ShellQuote(path));
    EXPECT_EQ(tags.exitCode, 0);
    EXPECT_NE(tags.output.find("ALBUM=Älbum ☃ 𝄞\n"), std::string::npos) << tags.output;
    const auto list = RunCommand("metaflac --list --block-type=PADDING " + ShellQuote(path));
    EXPECT_NE(list.output.find("length: " + std::to_string(FlacTag::kPadding)), std::string::npos)
        << "a rewrite leaves the standard padding: " << list.output;
}

TEST_F(FlacInterop, MutagenTagsReadTheSame) {
    const std::string path = dir_.file("mutagen.flac");
    ASSERT_EQ(
        RunCommand("flac -s -f -o " + ShellQuote(path) + " " + ShellQuote(wav_) + " 2>/dev/null")
            .exitCode,
        0);
    const std::string script = R"(
import sys
from mutagen.flac import FLAC
f = FLAC(sys.argv[1])
f["title"] = "Mutagen title"
f["artist"] = ["A", "B"]
f["description"] = "via description"
f["contact"] = "http://example.org"
f["x_custom"] = "kept"
f.save()
)";
    ASSERT_EQ(RunCommand(Python() + " -c " + ShellQuote(script) + " " + ShellQuote(path)).exitCode,
              0);
    FlacTag t;
    t.setFileName(path);
    ASSERT_TRUE(t.Valid()) << t.Error();
    EXPECT_EQ(t.Value(Field::Title), "Mutagen title");
    EXPECT_EQ(t.Value(Field::Artist), "A / B");
    EXPECT_EQ(t.Value(Field::Comment), "via description");
    EXPECT_EQ(t.Value(Field::URL), "http://example.org");
    t.setValue(Field::Year, "1999");
    ASSERT_TRUE(t.WriteTag()) << t.Error();
    const json peer = MutagenRead(path);
    const std::vector<std::vector<std::string>> expected = {
        {"title", "Mutagen title"},
        {"artist", "A"},
        {"artist", "B"},
        {"description", "via description"},
        {"contact", "http://example.org"},
        {"x_custom", "kept"},
        {"DATE", "1999"},
    };
    EXPECT_EQ(peer["comments"].get<std::vector<std::vector<std::string>>>(), expected);
}

// A save killed after its in-place write leaves its journal; metaflac then
// edits the same file in place, within the padding (same inode, same size).
// The next recovery must not put our old bytes back over that edit: it
// leaves the file alone and says so.
TEST_F(FlacInterop, RecoveryLeavesAnEditMetaflacMadeAfterAKilledSave) {
    const std::string path = Make("song.flac", 4096);
    const std::string journals = dir_.file("journal");
    ::setenv("SONDREL_JOURNAL_DIR", journals.c_str(), 1);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        FlacTag t;
        sondrel::IoFaults io;
        io.step = [](sondrel::IoStep step) {
            if (step == sondrel::IoStep::Sync)
                ::_exit(42);  // written in place, not yet flushed: the journal stays
            return true;
        };
        t.SetIoFaults(io);
        t.setFileName(path);
        t.setValue(Field::Title, "A title of our own, longer than theirs");
        t.WriteTag();
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 42) << "the save did not die in place";
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    ASSERT_EQ(RunCommand("metaflac --remove-tag=TITLE --set-tag=TITLE=Theirs " + ShellQuote(path))
                  .exitCode,
              0);
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    ASSERT_TRUE(after.st_ino == before.st_ino && after.st_size == before.st_size)
        << "metaflac did not edit in place";
    const Bytes theirs = ReadAll(path);

    sondrel::RecoverJournals(journals);
    EXPECT_TRUE(ReadAll(path) == theirs) << "recovery wrote over metaflac's edit";
    FlacTag t;
    t.setFileName(path);
    EXPECT_EQ(t.Value(Field::Title), "Theirs");
    ExpectDecoderVerifies(path);
    std::string told;
    for (const auto& problem : sondrel::JournalProblems())
        told += problem + "\n";
    EXPECT_NE(told.find(path), std::string::npos) << told;
    ::unsetenv("SONDREL_JOURNAL_DIR");
}

}  // namespace
