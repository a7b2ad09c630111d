// SPDX-License-Identifier: GPL-3.0-or-later
// sondrel-tag over an imperfect library (badly named files, a text file named
// .mp3, a .wav, nested folders, non-ASCII names): what scripts rely on —
// exit codes, what is printed, and that files are only changed or moved as
// reported.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>

#include "editor/format_bridge.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using sondrel::test::HaveMutagen;
using sondrel::test::ReadAll;
using sondrel::test::RunCommand;
using sondrel::test::ShellQuote;
using sondrel::test::TempDir;
using sondrel::test::ToBytes;
using sondrel::test::WriteAll;

struct Outcome {
    int exit = -1;
    std::string out;
    std::string err;
};

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Every file under `root`, relative, with its bytes.
std::map<std::string, sondrel::test::Bytes> Tree(const std::string& root) {
    std::map<std::string, sondrel::test::Bytes> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file())
            files[fs::relative(e.path(), root).string()] = ReadAll(e.path().string());
    }
    return files;
}

class CliLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        tool = sondrel::test::CliTool();
        if (tool.empty())
            GTEST_SKIP() << "sondrel-tag is not built";
        mp3 = sondrel::test::SilentMp3();
        if (mp3.empty())
            GTEST_SKIP() << "ffmpeg is missing";
    }

    // Runs the tool in the library folder; stdout and stderr apart.
    Outcome Run(const std::string& args) {
        const std::string outFile = scratch.file("out");
        const std::string errFile = scratch.file("err");
        const auto r =
            RunCommand("cd " + ShellQuote(lib.path()) + " && " + ShellQuote(tool) + " " + args +
                       " >" + ShellQuote(outFile) + " 2>" + ShellQuote(errFile) + "; echo $?");
        Outcome o;
        o.exit = std::stoi(r.output);
        const auto out = ReadAll(outFile);
        const auto err = ReadAll(errFile);
        o.out.assign(out.begin(), out.end());
        o.err.assign(err.begin(), err.end());
        return o;
    }

    // An MP3 of silence with the given tag values (none: no tag at all).
    void Mp3(const std::string& rel, const std::map<sondrel::Field, std::string>& values = {}) {
        fs::create_directories(fs::path(lib.file(rel)).parent_path());
        WriteAll(lib.file(rel), mp3);
        if (values.empty())
            return;
        sondrel::TagBridge bridge;
        bridge.Read(lib.file(rel));
        sondrel::TagFields tag = bridge.Hub();
        for (const auto& [field, value] : values)
            tag[field] = value;
        bridge.setHub(tag);
        ASSERT_TRUE(bridge.Save(lib.file(rel)).ok) << rel;
    }
    // A second of silence in the format of the extension, made by ffmpeg.
    void Audio(const std::string& rel) {
        fs::create_directories(fs::path(lib.file(rel)).parent_path());
        const auto r =
            RunCommand("ffmpeg -loglevel error -f lavfi -i anullsrc=r=44100:cl=mono -t 1 " +
                       ShellQuote(lib.file(rel)) + " 2>&1");
        ASSERT_EQ(r.exitCode, 0) << r.output;
    }
    void Text(const std::string& rel, const std::string& text) {
        fs::create_directories(fs::path(lib.file(rel)).parent_path());
        WriteAll(lib.file(rel), text);
    }
    sondrel::TagFields Tags(const std::string& rel) {
        sondrel::TagBridge bridge;
        bridge.Read(lib.file(rel));
        return bridge.Hub();
    }

    std::string tool;
    sondrel::test::Bytes mp3;
    TempDir lib;
    TempDir scratch;
};

using sondrel::Field;

// A name the template does not match is left as it is and reported, in a
// dry run the same way; files that are not audio are never written.
TEST_F(CliLibrary, ParseWritesOnlyMatchingAudioFiles) {
    struct Case {
        std::string file;
        std::string args;
        int exit;
        std::string message;  // on stderr; empty: none
        std::string printed;  // the title printed
        std::string title;    // the title afterwards
        std::string track;
    };
    const std::vector<Case> cases = {
        {"Song without dash.mp3", "--template '%# - %T'", 1, "name does not match the template", "",
         "Keep", "4"},
        {"Song without dash.mp3", "--template '%# - %T' --dry-run", 1,
         "name does not match the template", "", "Keep", "4"},
        // A folder segment whose separator is missing.
        {"Plain/03 Song.mp3", "--template '%A - %L/%# %T'", 1, "name does not match the template",
         "", "Keep", "4"},
        {"(1999) Title.mp3", "--template '[%Y] %T'", 1, "name does not match the template", "",
         "Keep", "4"},
        {"05 - Good.mp3", "--template '%# - %T'", 0, "", "Good", "Good", "5"},
        {"Ünïcødé/07 - Café.mp3", "--template '%# - %T'", 0, "", "Café", "Café", "7"},
        {"05 - Good.mp3", "--template '%# - %T' --dry-run", 0, "", "Good", "Keep", "4"},
    };
    for (const Case& c : cases) {
        fs::remove_all(lib.path() + "/");
        fs::create_directories(lib.path());
        Mp3(c.file, {{Field::Title, "Keep"}, {Field::Track, "4"}, {Field::Artist, "Art"}});
        const Outcome o = Run("parse " + c.args + " " + ShellQuote(c.file));
        EXPECT_EQ(o.exit, c.exit) << c.file << " " << c.args << ": " << o.err;
        if (c.message.empty()) {
            EXPECT_EQ(o.err, "") << c.args;
            EXPECT_TRUE(Has(o.out, "title: " + c.printed + "\n")) << o.out;
        } else {
            EXPECT_TRUE(Has(o.err, c.file + ": " + c.message)) << o.err;
            EXPECT_FALSE(Has(o.out, "title:")) << o.out;
        }
        const sondrel::TagFields t = Tags(c.file);
        EXPECT_EQ(t.title, c.title) << c.file << " " << c.args;
        EXPECT_EQ(t.track, c.track) << c.file << " " << c.args;
        EXPECT_EQ(t.artist, "Art") << c.file << " " << c.args;
    }
}

// Files that are not what their extension says are refused by every
// writing command, with exit 1 and the reason, and keep every byte.
TEST_F(CliLibrary, NonAudioFilesAreNeverWritten) {
    Text("notes.mp3", "just some text, not audio\n");
    Text("Artist/01 - Fake.mp3", "still text\n");
    Text("07 - Wave.wav", "RIFF....WAVE");
    Mp3("real.mp3");
    struct Case {
        std::string args;
        std::string file;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"set --title X", "notes.mp3", "not a valid MP3 file"},
        {"parse --template '%# - %T'", "Artist/01 - Fake.mp3", "not a valid MP3 file"},
        {"parse --template '%# - %T'", "07 - Wave.wav", "not a supported audio file"},
        {"rename --template '%T'", "notes.mp3", "not a valid MP3 file"},
        {"rename --template '%T'", "07 - Wave.wav", "not a supported audio file"},
    };
    for (const Case& c : cases) {
        const auto before = Tree(lib.path());
        const Outcome o = Run(c.args + " " + ShellQuote(c.file));
        EXPECT_EQ(o.exit, 1) << c.args << " " << c.file;
        EXPECT_TRUE(Has(o.err, c.file + ": " + c.message)) << c.args << ": " << o.err;
        EXPECT_EQ(o.out, "") << c.args;
        EXPECT_EQ(Tree(lib.path()), before) << c.args << " " << c.file;
    }
    // Mixed with a real file: the real one is written, the run still fails.
    const Outcome o = Run("set --title Mixed real.mp3 notes.mp3");
    EXPECT_EQ(o.exit, 1);
    EXPECT_EQ(Tags("real.mp3").title, "Mixed");
    EXPECT_EQ(ReadAll(lib.file("notes.mp3")), ToBytes("just some text, not audio\n"));
}

// show reports every file, but exits 1 when one is not valid audio; an MP3
// without tags is valid and has no error.
TEST_F(CliLibrary, ShowValidityAndExitStatus) {
    Text("notes.mp3", "text\n");
    Mp3("untagged.mp3");
    struct Case {
        std::string files;
        int exit;
        std::vector<std::string> inJson;
    };
    const std::vector<Case> cases = {
        {"untagged.mp3",
         0,
         {"\"error\": \"\"", "\"valid\": true", "\"id3v2\": false", "\"id3v2Version\": \"\""}},
        {"notes.mp3", 1, {"\"valid\": false", "not a valid MP3 file"}},
        {"untagged.mp3 notes.mp3", 1, {"\"valid\": true", "\"valid\": false"}},
    };
    for (const Case& c : cases) {
        const Outcome o = Run("show --json " + c.files);
        EXPECT_EQ(o.exit, c.exit) << c.files;
        for (const auto& part : c.inJson)
            EXPECT_TRUE(Has(o.out, part)) << c.files << ": " << part << " in " << o.out;
        EXPECT_EQ(Has(o.err, "notes.mp3: not a valid MP3 file"), c.exit == 1) << o.err;
    }
}

// What parse prints is what it writes, for every track style.
TEST_F(CliLibrary, ParseTrackStylePrintsWhatItWrites) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> styles = {
        {"0", {"1", "2", "3"}},
        {"1", {"01", "02", "03"}},
        {"2", {"001", "002", "003"}},
    };
    const std::vector<std::string> names = {"1 A.mp3", "2 B.mp3", "03 C.mp3"};
    for (const auto& [style, tracks] : styles) {
        for (const auto& n : names)
            Mp3(n, {{Field::Track, n.substr(0, n.find(' '))}});
        const Outcome o = Run("parse --template '%# %T' --track-style " + style +
                              " '1 A.mp3' '2 B.mp3' '03 C.mp3'");
        ASSERT_EQ(o.exit, 0) << o.err;
        for (std::size_t i = 0; i < names.size(); ++i) {
            EXPECT_TRUE(Has(o.out, names[i] + "\n  track: " + tracks[i] + "\n")) << o.out;
            EXPECT_EQ(Tags(names[i]).track, tracks[i]) << "style " << style << " " << names[i];
        }
    }
}

// rename: names and folders are made in the file's own folder, empty names
// and refused paths are reported (exit 1), and the printed target is where
// the file went.
TEST_F(CliLibrary, RenameMovesOnlyWhatItReports) {
    struct Case {
        std::string file;
        std::map<Field, std::string> tags;
        std::string args;
        int exit;
        std::string target;   // where the file is afterwards, relative
        std::string message;  // on stderr
    };
    const std::string longTitle(300, 'x');
    const std::vector<Case> cases = {
        {"sub/a.mp3",
         {{Field::Artist, "Art"}, {Field::Title, "T"}},
         "--template '%A/%T'",
         0,
         "sub/Art/T.mp3",
         ""},
        {"Ünï/a.mp3",
         {{Field::Artist, "Björk"}, {Field::Title, "Jóga"}},
         "--template '%A - %T'",
         0,
         "Ünï/Björk - Jóga.mp3",
         ""},
        // No tag values: nothing like " -.mp3", in any folder.
        {"sub/empty.mp3", {}, "--template '%A - %T'", 1, "sub/empty.mp3", "the tags give no name"},
        {"sub/empty.mp3", {}, "--template '%A/%L/%T'", 1, "sub/empty.mp3", "the tags give no name"},
        {"sub/dots.mp3",
         {{Field::Artist, ".."}, {Field::Title, "T"}},
         "--template '%A/%T'",
         1,
         "sub/dots.mp3",
         "\"..\" is refused"},
        // The folder made for it goes again when the rename fails.
        {"sub/long.mp3",
         {{Field::Artist, "Made"}, {Field::Title, longTitle}},
         "--template '%A/%T'",
         1,
         "sub/long.mp3",
         "the new name is too long"},
    };
    for (const Case& c : cases) {
        fs::remove_all(lib.path() + "/");
        fs::create_directories(lib.path());
        Mp3(c.file, c.tags);
        const auto before = ReadAll(lib.file(c.file));
        const Outcome o = Run("rename " + c.args + " " + ShellQuote(c.file));
        EXPECT_EQ(o.exit, c.exit) << c.file << " " << c.args << ": " << o.err;
        EXPECT_EQ(ReadAll(lib.file(c.target)), before) << c.target;
        if (c.message.empty()) {
            EXPECT_EQ(o.out, lib.file(c.file) + " → " + lib.file(c.target) + "\n");
        } else {
            EXPECT_TRUE(Has(o.err, c.file + ": ")) << o.err;
            EXPECT_TRUE(Has(o.err, c.message)) << o.err;
            EXPECT_EQ(o.out, "");
        }
        // Nothing else appeared anywhere: one file, and only the folders
        // on its way.
        EXPECT_EQ(Tree(lib.path()).size(), 1u) << c.file;
        EXPECT_FALSE(fs::exists(lib.file("sub/Made"))) << c.file;
    }
    // An absolute template is refused before anything moves.
    Mp3("abs.mp3", {{Field::Artist, "A"}, {Field::Title, "T"}});
    const Outcome o = Run("rename --template '/%A - %T' abs.mp3");
    EXPECT_EQ(o.exit, 2);
    EXPECT_TRUE(Has(o.err, "relative")) << o.err;
    EXPECT_TRUE(fs::exists(lib.file("abs.mp3")));
}

// A dry run shows exactly what the run then does: the same targets, the
// same failures, and the files end where the dry run said.
TEST_F(CliLibrary, DryRunPredictsTheRun) {
    Mp3("in/one.mp3", {{Field::Artist, "Same"}, {Field::Title, "Name"}});
    Mp3("in/two.mp3", {{Field::Artist, "Same"}, {Field::Title, "Name"}});  // duplicate target
    Mp3("in/three.mp3", {{Field::Artist, "Taken"}, {Field::Title, "X"}});
    Mp3("in/Taken/X.mp3", {{Field::Title, "already here"}});
    Mp3("in/four.mp3", {{Field::Artist, ".."}, {Field::Title, "Up"}});
    Mp3("in/five.mp3", {{Field::Artist, "Long"}, {Field::Title, std::string(260, 'y')}});
    Mp3("in/six.mp3", {{Field::Artist, "Fine"}, {Field::Title, "Ok"}});
    Mp3("in/untagged.mp3");
    Text("in/fake.mp3", "text");
    const std::string args =
        "rename --template '%A/%T' in/one.mp3 in/two.mp3 in/three.mp3 in/four.mp3 in/five.mp3 "
        "in/six.mp3 in/untagged.mp3 in/fake.mp3";
    auto before = Tree(lib.path());
    const Outcome dry = Run(args + " --dry-run");
    EXPECT_EQ(Tree(lib.path()), before) << "a dry run touches nothing";
    EXPECT_EQ(dry.exit, 1);
    for (const std::string f : {"two", "three", "four", "five", "untagged", "fake"})
        EXPECT_TRUE(Has(dry.err, "in/" + f + ".mp3: ")) << f << " in " << dry.err;

    const Outcome run = Run(args);
    EXPECT_EQ(run.exit, dry.exit);
    EXPECT_EQ(run.out, dry.out);
    EXPECT_EQ(run.err, dry.err);
    EXPECT_EQ(run.out, lib.file("in/one.mp3") + " → " + lib.file("in/Same/Name.mp3") + "\n" +
                           lib.file("in/six.mp3") + " → " + lib.file("in/Fine/Ok.mp3") + "\n");
    // Every file is still there, moved only as printed.
    auto after = Tree(lib.path());
    EXPECT_EQ(after.size(), before.size());
    EXPECT_EQ(after["in/Same/Name.mp3"], before["in/one.mp3"]);
    EXPECT_EQ(after["in/Fine/Ok.mp3"], before["in/six.mp3"]);
    EXPECT_EQ(after["in/Taken/X.mp3"], before["in/Taken/X.mp3"]);
    for (const std::string f : {"two", "three", "four", "five", "untagged", "fake"})
        EXPECT_EQ(after["in/" + f + ".mp3"], before["in/" + f + ".mp3"]) << f;
    EXPECT_FALSE(fs::exists(lib.file("in/Long")));
}

// The genre given to set means the same in every format: a table name or
// number is that entry, empty is no genre at all, other text is kept.
TEST_F(CliLibrary, GenreMeansTheSameInEveryFormat) {
    Mp3("g.mp3");
    Audio("g.ogg");
    Audio("g.m4a");
    struct Case {
        std::string given;
        int exit;
        std::string genre;  // shown afterwards
        int genreId;
    };
    const std::vector<Case> cases = {
        {"Rock", 0, "Rock", 17}, {"17", 0, "Rock", 17},     {"0", 0, "Blues", 0},
        {"", 0, "", 255},        {"Other", 0, "Other", 12}, {"Krautrock", 0, "Krautrock", 12},
        {"148", 2, "", -1},      {"1000", 2, "", -1},
    };
    for (const std::string file : {"g.mp3", "g.ogg", "g.m4a"}) {
        for (const Case& c : cases) {
            // From a known genre, so that every case changes something.
            ASSERT_EQ(Run("set --genre Jazz " + file).exit, 0);
            const auto before = ReadAll(lib.file(file));
            const Outcome o = Run("set --genre " + ShellQuote(c.given) + " " + file);
            EXPECT_EQ(o.exit, c.exit) << file << " [" << c.given << "] " << o.err;
            const Outcome shown = Run("show --json " + file);
            if (c.exit != 0) {
                EXPECT_EQ(ReadAll(lib.file(file)), before) << file << " " << c.given;
                continue;
            }
            EXPECT_TRUE(Has(shown.out, "\"genre\": \"" + c.genre + "\",\n"))
                << file << " [" << c.given << "] " << shown.out;
            EXPECT_TRUE(Has(shown.out, "\"genreId\": " + std::to_string(c.genreId) + ",\n"))
                << file << " [" << c.given << "] " << shown.out;
        }
    }
    // No genre written is no TCON frame (empty values are never written)
    // and the ID3v1 byte 255.
    ASSERT_EQ(Run("set --genre '' g.mp3").exit, 0);
    const auto bytes = ReadAll(lib.file("g.mp3"));
    EXPECT_EQ(bytes.back(), 255);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_FALSE(Has(text, "TCON"));
}

// MP4 keeps a track as two numbers: what it cannot hold is refused with the
// reason, and a number given alone keeps the total.
TEST_F(CliLibrary, Mp4TrackIsStoredOrRefused) {
    Audio("t.m4a");
    struct Case {
        std::string given;
        int exit;
        std::string track;  // afterwards, from "3/12"
    };
    const std::vector<Case> cases = {
        {"A1", 1, "3/12"},    {"-1", 1, "3/12"},    {" 7", 1, "3/12"},
        {"0x10", 1, "3/12"},  {"70000", 1, "3/12"}, {"4/", 1, "3/12"},
        {"300", 0, "300/12"}, {"5/20", 0, "5/20"},  {"", 0, ""},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Run("set --track 3/12 t.m4a").exit, 0);
        const Outcome o = Run("set --track " + ShellQuote(c.given) + " t.m4a");
        EXPECT_EQ(o.exit, c.exit) << "[" << c.given << "] " << o.err;
        if (c.exit != 0) {
            EXPECT_TRUE(Has(o.err, "t.m4a: the track \"" + c.given + "\" cannot be stored"))
                << o.err;
        }
        EXPECT_EQ(Tags("t.m4a").track, c.track) << "[" << c.given << "]";
    }
}

// One meaning per JSON field for every format: tag kinds are booleans with
// the ID3v2 version beside them, the encoder is not part of the format.
TEST_F(CliLibrary, JsonFieldsMeanTheSameForEveryFormat) {
    Mp3("k.mp3", {{Field::Title, "T"}});
    Audio("k.ogg");
    Audio("k.m4a");
    struct Case {
        std::string file;
        std::vector<std::string> present;
        std::vector<std::string> absent;
    };
    const std::vector<Case> cases = {
        {"k.mp3", {"\"id3v2\": true", "\"id3v2Version\": \"2.3\"", "\"valid\": true"}, {}},
        {"k.ogg", {"\"id3v2\": false", "\"id3v2Version\": \"\"", "\"valid\": true"}, {}},
        {"k.m4a",
         {"\"encoder\": \"Lavf", "\"id3v2\": false", "\"valid\": true"},
         {"\"format\": \"MP4 Lavf"}},
    };
    for (const Case& c : cases) {
        const Outcome o = Run("show --json " + c.file);
        EXPECT_EQ(o.exit, 0) << c.file << o.err;
        EXPECT_EQ(o.err, "") << c.file;
        for (const auto& p : c.present)
            EXPECT_TRUE(Has(o.out, p)) << c.file << ": " << p << " in " << o.out;
        for (const auto& p : c.absent)
            EXPECT_FALSE(Has(o.out, p)) << c.file << ": " << p << " in " << o.out;
    }
}

TEST_F(CliLibrary, JsonLocatesANameThatIsNotUtf8) {
    // "été.mp3" as a Latin-1 system wrote it: no UTF-8 text can spell it.
    const std::string latin1 = "\xE9t\xE9.mp3";
    Mp3(latin1, {{Field::Title, "T"}});
    Mp3("plain.mp3", {{Field::Title, "T"}});
    const Outcome o = Run("show --json " + ShellQuote(latin1) + " plain.mp3");
    EXPECT_EQ(o.exit, 0) << o.err;
    EXPECT_TRUE(Has(o.out, "\"fileBytes\": \"6XTpLm1wMw==\"")) << o.out;
    EXPECT_TRUE(Has(o.out, "\"fileBytes\": \"\"")) << o.out;
}

// Exports: playlists carry the tags as they are (not the --case preview),
// the CSV separator is chosen, and "-" is standard output.
TEST_F(CliLibrary, ExportToStdoutWithCurrentValues) {
    Mp3("e.mp3", {{Field::Artist, "Sigur Rós"}, {Field::Title, "Hoppípolla; live"}});
    const std::string path = lib.file("e.mp3");
    struct Case {
        std::string args;
        std::string out;
    };
    const std::vector<Case> cases = {
        {"--format m3u --output - --case 2",
         "#EXTM3U\r\n#EXTINF:0,Sigur Rós - Hoppípolla; live\r\n" + path + "\r\n"},
        {"--format pls --output - --case 1",
         "[playlist]\r\nPlaylistName=Sondrel 4.6\r\nFile1=" + path +
             "\r\nTitle1=Sigur Rós - Hoppípolla; live\r\nLength1=0\r\nNumberOfEntries=1\r\n"
             "Version=2\r\n"},
        {"--format csv --output - --columns artist,title",
         "Filename;Artist;Title\r\n" + path + ";Sigur Rós;\"Hoppípolla; live\"\r\n"},
        {"--format csv --output - --columns artist,title --separator ,",
         "Filename,Artist,Title\r\n" + path + ",Sigur Rós,Hoppípolla; live\r\n"},
        {"--format csv --output - --columns track --separator tab",
         "Filename\tTrack\r\n" + path + "\t\r\n"},
    };
    for (const Case& c : cases) {
        const Outcome o = Run("export " + c.args + " e.mp3");
        EXPECT_EQ(o.exit, 0) << c.args << ": " << o.err;
        EXPECT_EQ(o.out, c.out) << c.args;
        EXPECT_FALSE(fs::exists(lib.file("-"))) << c.args;
    }
    EXPECT_EQ(Run("export --format csv --output - --separator ab e.mp3").exit, 2);
}

// An output that exists and is no regular file is written as named (a
// device, a pipe) or refused (a folder); it never grows an extension.
TEST_F(CliLibrary, ExportToADeviceOrPipeAsNamed) {
    Mp3("e.mp3", {{Field::Title, "Song"}});
    ASSERT_FALSE(fs::exists("/dev/null.m3u"));
    const Outcome toNull = Run("export --format m3u --output /dev/null e.mp3");
    EXPECT_EQ(toNull.exit, 0) << toNull.err;
    EXPECT_FALSE(fs::exists("/dev/null.m3u"));
    fs::remove("/dev/null.m3u");

    fs::create_directory(lib.file("lists"));
    const Outcome toFolder = Run("export --format m3u --output lists e.mp3");
    EXPECT_EQ(toFolder.exit, 1);
    EXPECT_TRUE(Has(toFolder.err, "lists: is a folder")) << toFolder.err;
    EXPECT_FALSE(fs::exists(lib.file("lists.m3u")));

    ASSERT_EQ(::mkfifo(lib.file("pipe").c_str(), 0600), 0);
    const auto piped = RunCommand("cd " + ShellQuote(lib.path()) + " && (cat pipe > got &) && " +
                                  ShellQuote(tool) +
                                  " export --format m3u --output pipe e.mp3 >/dev/null; "
                                  "echo $?; sleep 0.2");
    EXPECT_EQ(piped.output, "0\n");
    const auto got = ReadAll(lib.file("got"));
    EXPECT_TRUE(Has(std::string(got.begin(), got.end()), "#EXTM3U"));
    EXPECT_FALSE(fs::exists(lib.file("pipe.m3u")));
}

// Pictures: only images go in (by their content), an extraction never
// replaces a file without --force, and a failure names the file.
TEST_F(CliLibrary, PicturesCheckWhatTheyAddAndWhereTheyWrite) {
    Mp3("p.mp3");
    static const char kJpeg[] =
        "\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00\xFF\xD9";
    const std::string jpeg(kJpeg, sizeof kJpeg - 1);
    Text("cover.jpg", jpeg);
    Text("fake.jpg", "this is text, not a picture");
    Text("taken.jpg", "KEEP");
    struct Case {
        std::string args;
        int exit;
        std::string message;  // on stderr
    };
    const std::vector<Case> cases = {
        {"--add fake.jpg", 1, "cannot add fake.jpg: not a JPEG, PNG, GIF, BMP or WebP image"},
        {"--add missing.jpg", 1, "missing.jpg: no such file"},
        {"--add cover.jpg", 0, ""},
        {"--extract 0 taken.jpg", 1, "cannot extract to taken.jpg: the file exists"},
        {"--extract 0 no/such/folder/out.jpg", 1, "no/such/folder/out.jpg"},
        {"--extract 3 out.jpg", 1, "no picture at position 3"},
        {"--extract 0 p.mp3 --force", 1, "cannot extract to p.mp3: it is the audio file itself"},
        {"--extract 0 /dev/null --force", 1, "cannot extract to /dev/null: not a regular file"},
        {"--extract 0 taken.jpg --force", 0, ""},
    };
    for (const Case& c : cases) {
        const auto mp3Before = ReadAll(lib.file("p.mp3"));
        const Outcome o = Run("pictures p.mp3 " + c.args);
        EXPECT_EQ(o.exit, c.exit) << c.args << ": " << o.err;
        if (c.message.empty()) {
            EXPECT_EQ(o.err, "") << c.args;
        } else {
            EXPECT_TRUE(Has(o.err, c.message)) << c.args << ": " << o.err;
            EXPECT_EQ(ReadAll(lib.file("p.mp3")), mp3Before) << c.args;
        }
        if (c.args == "--extract 0 taken.jpg") {
            EXPECT_EQ(ReadAll(lib.file("taken.jpg")), ToBytes("KEEP"));
        }
    }
    EXPECT_EQ(ReadAll(lib.file("taken.jpg")), ToBytes(jpeg));
    EXPECT_FALSE(fs::exists(lib.file("out.jpg")));
    // A text file named .mp3 gets no picture.
    Text("notes.mp3", "text");
    const Outcome o = Run("pictures notes.mp3 --add cover.jpg");
    EXPECT_EQ(o.exit, 1);
    EXPECT_TRUE(Has(o.err, "notes.mp3: not a valid MP3 file")) << o.err;
    EXPECT_EQ(ReadAll(lib.file("notes.mp3")), ToBytes("text"));
}

// The picture type given with --add is the one stored (the default is the
// front cover); a type outside 0..20, or one without --add, is a usage error.
TEST_F(CliLibrary, PictureTypeIsStoredAsGiven) {
    Mp3("t.mp3");
    static const char kJpeg[] =
        "\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00\xFF\xD9";
    Text("cover.jpg", std::string(kJpeg, sizeof kJpeg - 1));
    const auto before = ReadAll(lib.file("t.mp3"));
    for (const char* bad : {"--add cover.jpg --type 21", "--add cover.jpg --type x", "--type 4"}) {
        EXPECT_EQ(Run(std::string("pictures t.mp3 ") + bad).exit, 2) << bad;
        EXPECT_EQ(ReadAll(lib.file("t.mp3")), before) << bad;
    }
    ASSERT_EQ(Run("pictures t.mp3 --add cover.jpg --type 4 --desc Back").exit, 0);
    ASSERT_EQ(Run("pictures t.mp3 --add cover.jpg --desc Front").exit, 0);
    if (!HaveMutagen())
        GTEST_SKIP() << "mutagen is missing";
    const auto listed = RunCommand("python3 -c " +
                                   ShellQuote("import sys, mutagen.id3 as m\n"
                                              "for f in m.ID3(sys.argv[1]).getall('APIC'):\n"
                                              "    print(f.desc, int(f.type))") +
                                   " " + ShellQuote(lib.file("t.mp3")));
    EXPECT_EQ(listed.output, "Back 4\nFront 3\n");
}

// A usage error is one line and a hint to the help, exit 2, nothing done;
// "COMMAND --help" is that command's help.
TEST_F(CliLibrary, UsageErrorsAndCommandHelp) {
    Mp3("u.mp3", {{Field::Title, "T"}});
    const auto before = Tree(lib.path());
    const std::vector<std::pair<std::string, std::string>> usage = {
        {"rename --template '%T' --bogus u.mp3", "rename --help"},
        {"rename u.mp3", "rename --help"},
        {"parse --template '%T' --mode sometimes u.mp3", "parse --help"},
        {"set --genre 999 u.mp3", "set --help"},
        {"export --format csv u.mp3", "export --help"},
        {"pictures u.mp3 --force", "pictures --help"},
        {"frobnicate u.mp3", "sondrel-tag --help"},
    };
    for (const auto& [args, hint] : usage) {
        const Outcome o = Run(args);
        EXPECT_EQ(o.exit, 2) << args;
        EXPECT_EQ(o.out, "") << args;
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 2) << args << ": " << o.err;
        EXPECT_EQ(o.err.rfind("sondrel-tag: ", 0), 0u) << o.err;
        EXPECT_TRUE(Has(o.err, hint)) << args << ": " << o.err;
    }
    EXPECT_EQ(Tree(lib.path()), before);

    const std::vector<std::pair<std::string, std::vector<std::string>>> help = {
        {"rename --help", {"--template", "--dry-run", "--replace 0..3", "--track-style"}},
        {"parse u.mp3 --help", {"--mode", "--number", "--translit 0..2"}},
        {"help export", {"--separator", "--output OUT|-"}},
        {"set -h", {"--genre", "--no-lyrics3", "--codepage"}},
    };
    for (const auto& [args, parts] : help) {
        const Outcome o = Run(args);
        EXPECT_EQ(o.exit, 0) << args;
        EXPECT_EQ(o.out.rfind("Usage:", 0), 0u) << o.out;
        for (const auto& part : parts)
            EXPECT_TRUE(Has(o.out, part)) << args << ": " << part;
    }
    EXPECT_EQ(Tree(lib.path()), before);
}

// Folders with -r (audio files only, nested), --files-from with line or
// NUL separated names, and a folder without -r reported.
TEST_F(CliLibrary, FilesFromFoldersAndLists) {
    Mp3("A/B/x.mp3");
    Audio("A/y.ogg");
    Text("A/notes.txt", "no audio");
    Mp3("Ünï/z.mp3");
    struct Case {
        std::string command;
        int exit;
        std::vector<std::string> listed;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"export --format m3u --output - -r A", 0, {"A/B/x.mp3", "A/y.ogg"}, ""},
        {"export --format m3u --output - A", 1, {}, "A: is a folder"},
        {"printf 'A/B/x.mp3\\nÜnï/z.mp3\\n' | TOOL export --format m3u --output - --files-from -",
         0,
         {"A/B/x.mp3", "Ünï/z.mp3"},
         ""},
        {"printf 'A/y.ogg\\0Ünï/z.mp3\\0' | TOOL export --format m3u --output - --files-from -",
         0,
         {"A/y.ogg", "Ünï/z.mp3"},
         ""},
        {"export --format m3u --output - --files-from missing.txt", 1, {}, "missing.txt"},
    };
    for (const Case& c : cases) {
        std::string command = c.command;
        const auto at = command.find("TOOL ");
        Outcome o;
        if (at != std::string::npos) {
            // The list comes on standard input.
            const auto r = RunCommand("cd " + ShellQuote(lib.path()) + " && " +
                                      command.replace(at, 4, ShellQuote(tool)) + " 2>/dev/null");
            o.exit = r.exitCode;
            o.out = r.output;
        } else {
            o = Run(command);
        }
        EXPECT_EQ(o.exit, c.exit) << c.command << ": " << o.err;
        std::size_t entries = 0;
        for (std::size_t p = o.out.find("#EXTINF"); p != std::string::npos;
             p = o.out.find("#EXTINF", p + 1))
            ++entries;
        EXPECT_EQ(entries, c.listed.size()) << c.command << ": " << o.out;
        for (const auto& f : c.listed)
            EXPECT_TRUE(Has(o.out, lib.file(f) + "\r\n")) << c.command << ": " << f;
        if (!c.message.empty()) {
            EXPECT_TRUE(Has(o.err, c.message)) << c.command << ": " << o.err;
        }
    }
}

// The batch commands read 8-bit tags in the code page given, as set does.
TEST_F(CliLibrary, BatchCommandsTakeTheCodePage) {
    sondrel::test::Id3v1Values v;
    v.artist = "\xCA\xE8\xED\xEE";         // "Кино" in windows-1251
    v.title = "\xC3\xF0\xF3\xEF\xEF\xE0";  // "Группа"
    const auto tagged = [&](const std::string& rel) {
        auto bytes = mp3;
        const auto block = sondrel::test::Id3v1Block(v);
        bytes.insert(bytes.end(), block.begin(), block.end());
        fs::create_directories(fs::path(lib.file(rel)).parent_path());
        WriteAll(lib.file(rel), bytes);
    };
    tagged("cp/a.mp3");
    const Outcome o = Run("rename --template '%A - %T' --codepage windows-1251 cp/a.mp3");
    EXPECT_EQ(o.exit, 0) << o.err;
    EXPECT_TRUE(fs::exists(lib.file("cp/Кино - Группа.mp3")));
    tagged("cp/b.mp3");
    const Outcome csv =
        Run("export --format csv --output - --columns artist --codepage windows-1251 cp/b.mp3");
    EXPECT_EQ(csv.out, "Filename;Artist\r\n" + lib.file("cp/b.mp3") + ";Кино\r\n");
}

// The 32-byte APE footer (or header) for a tag of `itemBytes` of items.
sondrel::test::Bytes ApeFooter(std::uint32_t itemBytes, std::uint32_t items, bool header) {
    sondrel::test::Bytes b = ToBytes("APETAGEX");
    auto le = [&b](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    le(2000);
    le(itemBytes + 32);
    le(items);
    le(0x80000000u | (header ? 0x20000000u : 0u));
    b.resize(32, 0);
    return b;
}

// remove covers every removable tag: the APE tag is cut out of MP3 files
// whatever stands behind it, WMA and MP4 fields are cleared, and a command
// that does not apply, or a file that is no audio, changes nothing.
TEST_F(CliLibrary, RemoveEveryKindOfTag) {
    sondrel::test::Bytes item = {5, 0, 0, 0, 0, 0, 0, 0};
    const auto key = ToBytes("Title");
    item.insert(item.end(), key.begin(), key.end());
    item.push_back(0);
    const auto value = ToBytes("Hello");
    item.insert(item.end(), value.begin(), value.end());
    const auto size = static_cast<std::uint32_t>(item.size());
    const auto ape =
        sondrel::test::Concat({ApeFooter(size, 1, true), item, ApeFooter(size, 1, false)});
    sondrel::test::Id3v1Values v1;
    v1.title = "Kept";
    const auto id3v1 = sondrel::test::Id3v1Block(v1);
    const auto audio = mp3;
    WriteAll(lib.file("ape.mp3"), sondrel::test::Concat({audio, ape, id3v1}));
    WriteAll(lib.file("apeonly.mp3"), sondrel::test::Concat({audio, ape}));
    WriteAll(lib.file("plain.mp3"), audio);
    Text("fake.mp3", "text");
    Audio("t.m4a");
    Audio("t.wma");
    Audio("t.ogg");
    ASSERT_EQ(Run("set --title Gone --artist Gone t.m4a t.wma").exit, 0);

    struct Case {
        std::string args;
        int exit;
        std::string file;
        std::optional<sondrel::test::Bytes> after;  // the file's bytes afterwards
        std::string message;
    };
    const std::vector<Case> cases = {
        {"--ape", 0, "ape.mp3", sondrel::test::Concat({audio, id3v1}), ""},
        {"--ape", 0, "apeonly.mp3", audio, ""},
        {"--ape", 0, "plain.mp3", audio, ""},
        {"--ape", 1, "fake.mp3", ToBytes("text"), "fake.mp3: not a valid MP3 file"},
        {"--ape", 1, "t.ogg", std::nullopt, "t.ogg: "},
        {"--wma", 1, "t.m4a", std::nullopt, "t.m4a: "},
        {"--mp4", 0, "t.m4a", std::nullopt, ""},
        {"--wma", 0, "t.wma", std::nullopt, ""},
    };
    for (const Case& c : cases) {
        const auto before = ReadAll(lib.file(c.file));
        const Outcome o = Run("remove " + c.args + " " + c.file);
        EXPECT_EQ(o.exit, c.exit) << c.args << " " << c.file << ": " << o.err;
        if (c.after) {
            EXPECT_EQ(ReadAll(lib.file(c.file)), *c.after) << c.args << " " << c.file;
        }
        if (c.exit != 0) {
            EXPECT_TRUE(Has(o.err, c.message)) << o.err;
            EXPECT_EQ(ReadAll(lib.file(c.file)), before) << c.args << " " << c.file;
        }
    }
    EXPECT_EQ(Tags("ape.mp3").title, "Kept");
    for (const std::string f : {"t.m4a", "t.wma"}) {
        EXPECT_EQ(Tags(f).title, "") << f;
        EXPECT_EQ(Tags(f).artist, "") << f;
    }
}

// --json gives one object per file (old, new, status, message), -q drops
// the result lines, -v counts the outcomes; messages stay on stderr.
TEST_F(CliLibrary, ResultsAsJsonQuietOrVerbose) {
    struct Case {
        std::string args;
        int exit;
        std::vector<std::string> out;  // parts of stdout; empty: stdout empty
        std::string err;               // part of stderr
    };
    const std::string good = lib.file("j/good.mp3");
    const std::string bad = lib.file("j/fake.mp3");
    const std::vector<Case> cases = {
        {"rename --template '%T' --dry-run --json j/good.mp3 j/fake.mp3",
         1,
         {"\"new\": \"" + lib.file("j/Song.mp3") + "\"", "\"old\": \"" + good + "\"",
          "\"status\": \"would rename\"", "\"old\": \"" + bad + "\"", "\"status\": \"failed\"",
          "\"message\": \"not a valid MP3 file"},
         "fake.mp3: not a valid MP3 file"},
        {"rename --template '%T' --dry-run -q j/good.mp3", 0, {}, ""},
        {"rename --template '%T' --dry-run -v j/good.mp3 j/fake.mp3",
         1,
         {good + " → " + lib.file("j/Song.mp3") + "\n"},
         "2 file(s): 1 failed, 1 would rename"},
        {"parse --template '%# %T' --dry-run --json j/good.mp3",
         1,
         {"\"status\": \"skipped\"", "\"message\": \"name does not match the template\""},
         "name does not match the template"},
        {"parse --template '%T' --dry-run --json j/good.mp3",
         0,
         {"\"status\": \"would write\"", "\"tags\": {", "\"title\": \"good\""},
         ""},
        {"export --format m3u --output j/list --json j/good.mp3",
         0,
         {"\"new\": \"j/list.m3u\"", "\"status\": \"listed\""},
         ""},
        {"export --format m3u --output j/list2 -q j/good.mp3", 0, {}, ""},
        // A file that is not audio is not listed, and the run says so.
        {"export --format m3u --output - j/fake.mp3 j/good.mp3",
         1,
         {"#EXTM3U\r\n#EXTINF:0, - Song\r\n" + good + "\r\n"},
         "fake.mp3: not a valid MP3 file"},
    };
    Mp3("j/good.mp3", {{Field::Title, "Song"}});
    Text("j/fake.mp3", "text");
    for (const Case& c : cases) {
        const Outcome o = Run(c.args);
        EXPECT_EQ(o.exit, c.exit) << c.args << ": " << o.err;
        if (c.out.empty()) {
            EXPECT_EQ(o.out, "") << c.args;
        }
        for (const auto& part : c.out)
            EXPECT_TRUE(Has(o.out, part)) << c.args << ": " << part << " in " << o.out;
        EXPECT_TRUE(Has(o.err, c.err)) << c.args << ": " << o.err;
    }
    // Nothing above moved or wrote an audio file.
    EXPECT_EQ(Tags("j/good.mp3").title, "Song");
    EXPECT_TRUE(fs::exists(lib.file("j/list2.m3u")));
    EXPECT_EQ(Run("export --format m3u --output - --json j/good.mp3").exit, 2);
}

}  // namespace
