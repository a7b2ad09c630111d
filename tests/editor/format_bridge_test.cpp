// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/format_bridge.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "editor/file_facts.h"
#include "support/test_support.h"
#include "util/text.h"

namespace sondrel {
namespace {

using test::ReadAll;
using test::TempDir;
using test::WriteAll;

TEST(TrackByteOf, ReadsTheNumberBeforeTheSlash) {
    struct Case {
        const char* text;
        int expected;
    };
    const Case cases[] = {
        {"12/15", 12}, {"3/12", 3}, {"7", 7},     {"A1", 0},          {"", 0},
        {"/5", 0},     {"300", 44}, {"256", 0},   {"1 2", 0},         {"12a/3", 0},
        {"+4", 4},     {"-1", 255}, {"00009", 9}, {"99999999999", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TrackByteOf(c.text), c.expected) << "\"" << c.text << "\"";
}

TEST(FormatOfExt, DecidesByExtensionAloneWithoutRegardToCase) {
    struct Case {
        const char* path;
        TagFormat expected;
    };
    const Case cases[] = {
        {"a.mp3", TagFormat::MP3},         {"A.MP3", TagFormat::MP3},
        {"x.Ogg", TagFormat::Ogg},         {"x.wma", TagFormat::WMA},
        {"x.ape", TagFormat::APE},         {"x.mp4", TagFormat::MP4},
        {"x.M4A", TagFormat::MP4},         {"x.aac", TagFormat::MP4},
        {"x.mpc", TagFormat::MPC},         {"x.MP+", TagFormat::MPC},
        {"x.mpp", TagFormat::MPC},         {"x.flac", TagFormat::FLAC},
        {"noext", TagFormat::None},        {"dir.mp3/noext", TagFormat::None},
        {"song.mp3.bak", TagFormat::None}, {".mp3", TagFormat::MP3},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatOfPath(c.path), c.expected) << c.path;
}

TagFields HubWith(std::uint8_t genreId, std::string genre, std::string track = "") {
    TagFields h;
    h.GenreID = genreId;
    h.Genre = std::move(genre);
    h.track = std::move(track);
    return h;
}

TEST(FromHub, GenreTextIsTheTableNameUnlessTheIdIsOther) {
    struct Case {
        std::uint8_t id;
        const char* hubText;
        const char* expected;
    };
    const Case cases[] = {
        {17, "", "Rock"}, {17, "Trip Rock", "Rock"}, {12, "Trip Rock", "Trip Rock"},
        {12, "", ""},     {0, "(0)", "Blues"},
    };
    for (const auto& c : cases) {
        const TagFields h = HubWith(c.id, c.hubText);
        OggVorbisTag ogg;
        MonkeysAudioTag ape;
        MusepackTag mpc;
        WmaTag wma;
        CopyHubTo(h, ogg);
        CopyHubTo(h, ape);
        CopyHubTo(h, mpc);
        CopyHubTo(h, wma);
        EXPECT_EQ(ogg.Genre(), c.expected) << int(c.id) << " " << c.hubText;
        EXPECT_EQ(ogg.GenreID(), c.id);
        EXPECT_EQ(ape.Genre(), c.expected);
        EXPECT_EQ(mpc.Genre(), c.expected);
        EXPECT_EQ(wma.Genre, c.expected);
        EXPECT_EQ(wma.GenreID, c.id);
    }
}

TEST(FromHub, TrackIsTextForOggAndWmaAndAByteForApeMpcAndId3v1) {
    struct Case {
        const char* hubTrack;
        int byte;
    };
    const Case cases[] = {{"3/12", 3}, {"12/15", 12}, {"A1", 0}, {"300", 44}, {"", 0}};
    for (const auto& c : cases) {
        const TagFields h = HubWith(12, "", c.hubTrack);
        OggVorbisTag ogg;
        WmaTag wma;
        MonkeysAudioTag ape;
        MusepackTag mpc;
        Id3v1Tag v1;
        CopyHubTo(h, ogg);
        CopyHubTo(h, wma);
        CopyHubTo(h, ape);
        CopyHubTo(h, mpc);
        CopyHubTo(h, v1);
        EXPECT_EQ(ogg.track(), c.hubTrack);
        EXPECT_EQ(wma.Track, c.hubTrack);
        EXPECT_EQ(ape.Track(), c.byte) << c.hubTrack;
        EXPECT_EQ(mpc.Track(), c.byte) << c.hubTrack;
        EXPECT_EQ(v1.track(), c.byte) << c.hubTrack;
    }
}

TEST(FromHub, EveryTextFieldReachesTheComponent) {
    TagFields h;
    h.title = "Title";
    h.artist = "Artist";
    h.album = "Album";
    h.year = "1999";
    h.comment = "line 1\nline 2";
    h.text = "la la";
    h.composer = "Composer";
    h.OrigArtist = "Orig";
    h.copyright = "(c)";
    h.URL = "http://x";
    h.EncodedBy = "Enc";
    OggVorbisTag ogg;
    MonkeysAudioTag ape;
    WmaTag wma;
    CopyHubTo(h, ogg);
    CopyHubTo(h, ape);
    CopyHubTo(h, wma);
    const std::string got[][11] = {
        {ogg.title(), ogg.artist(), ogg.album(), ogg.year(), ogg.comment(), ogg.lyrics(),
         ogg.composer(), ogg.OrigArtist(), ogg.copyright(), ogg.URL(), ogg.EncodedBy()},
        {ape.Title(), ape.Artist(), ape.Album(), ape.Year(), ape.Comment(), ape.Lyrics(),
         ape.Composer(), ape.OrigArtist(), ape.Copyright(), ape.URL(), ape.EncodedBy()},
        {wma.Title, wma.Artist, wma.Album, wma.Year, wma.Comment, wma.Lyrics, wma.Composer,
         wma.OrigArtist, wma.Copyright, wma.URL, wma.EncodedBy},
    };
    const std::string want[11] = {h.title,    h.artist,     h.album,     h.year, h.comment,  h.text,
                                  h.composer, h.OrigArtist, h.copyright, h.URL,  h.EncodedBy};
    for (const auto& row : got) {
        for (int i = 0; i < 11; ++i)
            EXPECT_EQ(row[i], want[i]) << i;
    }
}

TEST(FromHub, Id3v1GetsTheHubCutToItsLimits) {
    TagFields h;
    h.title = std::string(40, 't');  // the Lyrics3 block carries the rest
    h.year = "19999";
    h.comment = "";
    for (int i = 0; i < 31; ++i)
        h.comment += "é";
    h.GenreID = 17;
    h.text = "lyrics";
    Id3v1Tag v1;
    CopyHubTo(h, v1);
    EXPECT_EQ(v1.Title(), h.title);
    EXPECT_EQ(v1.Year(), "1999");
    EXPECT_EQ(v1.Comment(), FirstChars(h.comment, 30));
    EXPECT_EQ(v1.GenreID(), 17);
    EXPECT_EQ(v1.Lyrics(), "lyrics");
}

TEST(ToHub, OggValuesCapitalizedAndMirroredIntoId3v1) {
    EditorOptions options;
    options.capitalization = kCaseUpper;
    TagBridge b(options);
    OggVorbisTag ogg;
    ogg.settitle("hey jude");
    ogg.setartist("the beatles");
    ogg.setcomment("keep me lower");
    ogg.setyear("19680");
    ogg.settrack("7/13");
    ogg.setGenre("Trip Rock");
    ogg.setGenreID(12);
    ogg.setlyrics("na na");
    b.TakeRead(HubValuesOf(ogg));
    const TagFields& h = b.Hub();
    EXPECT_EQ(h.title, "HEY JUDE");
    EXPECT_EQ(h.artist, "THE BEATLES");
    EXPECT_EQ(h.comment, "keep me lower");
    EXPECT_EQ(h.track, "7/13");
    EXPECT_EQ(h.Genre, "Trip Rock");
    EXPECT_EQ(h.GenreID, 12);
    EXPECT_EQ(h.text, "na na");
    Id3v1Tag v1;
    CopyHubTo(h, v1);
    EXPECT_EQ(v1.Title(), "HEY JUDE");
    EXPECT_EQ(v1.track(), 7);
    EXPECT_EQ(v1.Year(), "1968");
}

TEST(ToHub, ApeTrackByteZeroIsEmptyAndWmaGenreIsClamped) {
    TagBridge b;
    MonkeysAudioTag ape;
    ape.setTrack(0);
    ape.setTitle("x");
    b.TakeRead(HubValuesOf(ape));
    EXPECT_EQ(b.Hub().track, "");
    EXPECT_EQ(b.Hub().title, "x");
    MusepackTag mpc;
    mpc.setTrack(9);
    b.TakeRead(HubValuesOf(mpc));
    EXPECT_EQ(b.Hub().track, "9");

    WmaTag wma;
    wma.GenreID = 200;
    wma.Genre = "Odd";
    b.TakeRead(HubValuesOf(wma));
    EXPECT_EQ(b.Hub().GenreID, 12);
    EXPECT_EQ(b.Hub().Genre, "Odd");
}

TEST(TransformTags, TransliterationTouchesCommentButCaseDoesNot) {
    EditorOptions options;
    options.capitalization = kCaseUpper;
    options.transliteration = kTranslitToLatin;
    TagBridge b(options);
    TagFields h;
    h.title = "привет";
    h.comment = "мир";
    h.composer = "привет";
    b.setHub(h);
    b.TransformTags();
    EXPECT_EQ(b.Hub().title, ChangeCase(TranslitByMode("привет", 1), kCaseUpper));
    EXPECT_EQ(b.Hub().comment, TranslitByMode("мир", 1));
    EXPECT_EQ(b.Hub().composer, "привет");
}

// ---- The MP3 merge ----

struct V1Values {
    std::uint8_t track = 0;
    std::string title, artist, album, year, comment, lyrics;
    std::uint8_t genre = 12;
};

void LoadV1(Id3v1Tag& t, const V1Values& v) {
    t.settrack(v.track);
    t.setTitle(v.title);
    t.setArtist(v.artist);
    t.setAlbum(v.album);
    t.setYear(v.year);
    t.setComment(v.comment);
    t.setLyrics(v.lyrics);
    t.setGenreID(v.genre);
}

TEST(ReadTags, MergesId3v1IntoTheHubByTheReadChoice) {
    V1Values v1;
    v1.track = 4;
    v1.title = "B";
    v1.artist = "C";
    v1.year = "2001";
    v1.comment = "v1 comment";
    v1.lyrics = "v1 lyrics";
    v1.genre = 17;

    TagFields v2;
    v2.title = "A";
    v2.album = "Album2";
    v2.Genre = "Trip Rock";
    v2.composer = "Comp";

    struct Case {
        int choice;
        const char *track, *title, *artist, *album, *year, *comment, *lyrics;
        int genreId;
    };
    const Case cases[] = {
        {kVersion12, "4", "A", "C", "Album2", "2001", "v1 comment", "v1 lyrics", 12},
        {kVersion1, "4", "B", "C", "", "2001", "v1 comment", "v1 lyrics", 17},
        {kVersion2, "", "A", "", "Album2", "", "", "", 12},
    };
    for (const auto& c : cases) {
        EditorOptions options;
        options.readChoice = c.choice;
        TagBridge b(options);
        Id3v1Tag tag1;
        LoadV1(tag1, v1);
        b.TakeMp3Read(v2, tag1);
        const TagFields& h = b.Hub();
        SCOPED_TRACE(c.choice);
        EXPECT_EQ(h.track, c.track);
        EXPECT_EQ(h.title, c.title);
        EXPECT_EQ(h.artist, c.artist);
        EXPECT_EQ(h.album, c.album);
        EXPECT_EQ(h.year, c.year);
        EXPECT_EQ(h.comment, c.comment);
        EXPECT_EQ(h.text, c.lyrics);
        EXPECT_EQ(h.GenreID, c.genreId);
        // The genre text and the fields ID3v1 lacks always stay the ID3v2 ones.
        EXPECT_EQ(h.Genre, "Trip Rock");
        EXPECT_EQ(h.composer, "Comp");
        // What an ID3v1 save would write is the merged title.
        Id3v1Tag mirror;
        CopyHubTo(h, mirror);
        EXPECT_EQ(mirror.Title(), h.title);
    }
}

TEST(ReadTags, EmptyHubGenreTakesTheId3v1NumberAndTextStopsAtZero) {
    TagBridge b;  // read choice 1&2
    V1Values v1;
    v1.title = std::string("B\0junk", 6);
    v1.genre = 0;
    Id3v1Tag tag1;
    LoadV1(tag1, v1);
    b.TakeMp3Read(TagFields{}, tag1);
    EXPECT_EQ(b.Hub().title, "B");
    EXPECT_EQ(b.Hub().GenreID, 0);
    EXPECT_EQ(b.Hub().Genre, "");
    EXPECT_EQ(b.DisplayedGenre(TagFormat::MP3), "Blues");
}

TEST(DisplayedGenre, FollowsTheEditorsListRule) {
    struct Case {
        int choice;
        std::uint8_t id;
        const char* text;
        const char* shown;
    };
    const Case cases[] = {
        {kVersion12, 17, "Trip Rock", "Rock"},
        {kVersion12, 12, "Other", "Other"},
        {kVersion12, 12, "Trip Rock", "Trip Rock"},
        {kVersion1, 12, "Trip Rock", "Other"},
        {kVersion12, 12, "", ""},
    };
    for (const auto& c : cases) {
        EditorOptions options;
        options.readChoice = c.choice;
        TagBridge b(options);
        b.setHub(HubWith(c.id, c.text));
        EXPECT_EQ(b.DisplayedGenre(TagFormat::MP3), c.shown) << c.text;
    }
}

// ---- Files ----

class Mp3Files : public ::testing::Test {
protected:
    void SetUp() override {
        audio_ = test::SilentMp3();
        if (audio_.empty())
            GTEST_SKIP() << "ffmpeg is not installed";
        path_ = dir_.file("song.mp3");
        WriteAll(path_, audio_);
    }
    // Saves title and artist with the given save choice into a tagless file.
    TagBridge& SaveWith(int saveChoice) {
        EditorOptions options;
        options.saveChoice = saveChoice;
        bridge_.setOptions(options);
        bridge_.Read(path_);
        TagFields h = bridge_.Hub();
        h.title = "Title";
        h.artist = "Artist";
        bridge_.setHub(h);
        last_ = bridge_.Save(path_);
        return bridge_;
    }
    TempDir dir_;
    std::string path_;
    test::Bytes audio_;
    TagBridge bridge_;
    SaveOutcome last_;
};

TEST_F(Mp3Files, SaveChoiceDecidesWhichTagsAreWritten) {
    struct Case {
        int choice;
        bool v1;
        bool v2;
    };
    const Case cases[] = {
        {kVersion1, true, false}, {kVersion2, false, true}, {kVersion12, true, true}};
    for (const auto& c : cases) {
        WriteAll(path_, audio_);
        SaveWith(c.choice);
        // A tag that was absent when the file was read is no save failure.
        EXPECT_TRUE(last_.ok) << c.choice;
        EXPECT_EQ(last_.error, "") << c.choice;
        TagBridge reader;
        reader.Read(path_);
        const TagKinds kinds = TagKindsOf(reader, TagFormat::MP3, path_);
        EXPECT_EQ(kinds.id3v1, c.v1) << c.choice;
        EXPECT_EQ(kinds.id3v2.has_value(), c.v2) << c.choice;
        EXPECT_EQ(reader.Hub().title, "Title");
        EXPECT_EQ(reader.Hub().artist, "Artist");
    }
}

TEST_F(Mp3Files, ReadingAnotherFileLeavesNothingOfTheFirst) {
    SaveWith(kVersion12);
    const std::string other = dir_.file("other.mp3");
    WriteAll(other, audio_);
    TagBridge& b = bridge_;
    b.Read(path_);
    ASSERT_EQ(b.Hub().title, "Title");
    b.Read(other);
    EXPECT_EQ(b.Hub().title, "");
    EXPECT_EQ(b.Hub().artist, "");
    // Nor does a save of the second file write anything of the first.
    ASSERT_TRUE(b.Save(other).ok);
    TagBridge reader;
    reader.Read(other);
    EXPECT_EQ(reader.Hub().title, "");
    EXPECT_EQ(reader.Hub().artist, "");
}

TEST_F(Mp3Files, SaveNeverWritesAFileOtherThanTheOneRead) {
    const std::string other = dir_.file("other.mp3");
    WriteAll(other, audio_);
    bridge_.Read(path_);
    TagFields h = bridge_.Hub();
    h.title = "Meant for other";
    bridge_.setHub(h);
    const SaveOutcome saved = bridge_.Save(other);
    EXPECT_FALSE(saved.ok);
    EXPECT_FALSE(saved.error.empty());
    EXPECT_EQ(test::ReadAll(path_), audio_) << "the file that was read got another's fields";
    EXPECT_EQ(test::ReadAll(other), audio_);
}

TEST_F(Mp3Files, MissingFileFailsWithTheComponentsMessage) {
    std::filesystem::remove(path_);
    SaveWith(kVersion12);
    EXPECT_FALSE(last_.ok);
    EXPECT_EQ(last_.error, Id3v2Tag::kMsgNoFile);
    EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(Mp3Files, ReadOnlyFileIsSavedAndStaysReadOnly) {
    ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
    SaveWith(kVersion12);
    EXPECT_TRUE(last_.ok) << last_.error;
    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    TagBridge reader;
    reader.Read(path_);
    EXPECT_EQ(reader.Hub().title, "Title");
}

TEST_F(Mp3Files, UnknownExtensionReadsEmptyAndRefusesTheSave) {
    const std::string txt = dir_.file("song.txt");
    WriteAll(txt, audio_);
    TagBridge b;
    EXPECT_EQ(b.Read(txt), TagFormat::None);
    EXPECT_EQ(b.Hub().title, "");
    TagFields h;
    h.title = "x";
    b.setHub(h);
    const SaveOutcome out = b.Save(txt);
    EXPECT_FALSE(out.ok) << "nothing was written, so nothing may be reported saved";
    EXPECT_NE(out.error.find(".txt"), std::string::npos) << out.error;
    EXPECT_EQ(ReadAll(txt), audio_);
}

TEST_F(Mp3Files, RemoveTakesOnlyTheChosenTag) {
    struct Case {
        RemoveKind kind;
        bool v1Left;
        bool v2Left;
    };
    const Case cases[] = {{RemoveKind::Id3v1, false, true},
                          {RemoveKind::Id3v2, true, false},
                          {RemoveKind::AllId3, false, false}};
    for (const auto& c : cases) {
        WriteAll(path_, audio_);
        SaveWith(kVersion12);
        ASSERT_TRUE(last_.ok);
        TagBridge b;
        const SaveOutcome removed = b.Remove(path_, c.kind);
        EXPECT_TRUE(removed.ok) << removed.error;
        TagBridge reader;
        reader.Read(path_);
        const TagKinds kinds = TagKindsOf(reader, TagFormat::MP3, path_);
        EXPECT_EQ(kinds.id3v1, c.v1Left);
        EXPECT_EQ(kinds.id3v2.has_value(), c.v2Left);
    }
    // Both gone: only the audio is left.
    EXPECT_EQ(ReadAll(path_), audio_);
}

TEST_F(Mp3Files, RemoveRefusesTheWrongFileTypeWithoutTouchingIt) {
    SaveWith(kVersion12);
    const test::Bytes before = ReadAll(path_);
    TagBridge b;
    const SaveOutcome removed = b.Remove(path_, RemoveKind::Ogg);
    EXPECT_FALSE(removed.ok);
    EXPECT_NE(removed.error.find("Error"), std::string::npos);
    EXPECT_EQ(ReadAll(path_), before);

    // MP3 bytes under an Ogg name: there is no comment header to remove.
    const std::string ogg = dir_.file("fake.ogg");
    WriteAll(ogg, audio_);
    const SaveOutcome fake = b.Remove(ogg, RemoveKind::Ogg);
    EXPECT_FALSE(fake.ok);
    EXPECT_FALSE(fake.error.empty());
    EXPECT_EQ(ReadAll(ogg), audio_);
}

// Through the editor's bridge: a value the MP4 item list cannot hold must
// fail the save and leave the file as it was, not vanish behind a success.
TEST(Mp4Bridge, AValueTheFileCannotHoldFailsTheSaveAndWritesNothing) {
    TempDir src;
    const std::string madePath = src.file("made.m4a");
    test::RunCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=1 -c:a aac " +
                     test::ShellQuote(madePath) + " </dev/null >/dev/null 2>&1");
    if (!std::filesystem::exists(madePath))
        GTEST_SKIP() << "ffmpeg is not available";
    const test::Bytes made = ReadAll(madePath);
    struct Case {
        const char* name;
        Field field;
        std::string value;
    };
    const Case cases[] = {
        {"track that is no number", Field::Track, "A1"},
        {"zero byte in a text", Field::Title, std::string("ab\0cd", 5)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.file("song.m4a");
        WriteAll(path, made);
        TagBridge b;
        b.Read(path);
        TagFields h = b.Hub();
        h[c.field] = c.value;
        h.artist = "Edited too";
        b.setHub(h);
        const SaveOutcome out = b.Save(path);
        EXPECT_FALSE(out.ok);
        EXPECT_NE(out.error.find("Writing error"), std::string::npos) << out.error;
        EXPECT_EQ(ReadAll(path), made);
    }
}

}  // namespace
}  // namespace sondrel
