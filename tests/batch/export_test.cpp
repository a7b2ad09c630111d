// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/export.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/test_support.h"
#include "util/paths.h"

namespace sondrel {
namespace {

using test::ReadAll;
using test::TempDir;

const std::string kSep(1, kPathSeparator);

BatchRow Row(const std::string& name, const std::string& artist, const std::string& title,
             std::int32_t duration, bool checked = true) {
    BatchRow row;
    row.data.Folder = kSep + "m" + kSep;
    row.data.FileName = name;
    row.data.Path = name;  // subfolder mode off: the bare name
    row.data.Duration = duration;
    row.data.Track = "1";
    row.data.SizeText = "1 Kb";
    row.data.Artist = artist;
    row.data.Title = title;
    row.NewTrack = "1";
    row.NewArtist = artist;
    row.NewTitle = title;
    row.Checked = checked;
    return row;
}

TEST(Export, CsvAndTsvTexts) {
    const std::vector<BatchRow> rows = {Row("a.mp3", "Art", "One", 65),
                                        Row("b.mp3", "X;Y", "say \"hi\"\r\nnow", 0, false)};
    ExportLayout layout;
    layout.slots = {1, 0, 9};  // Title, Track, Duration in display order
    EXPECT_EQ(BuildExportText(ExportKind::Csv, rows, layout),
              "Filename;Title;Track;Duration\r\n"
              "a.mp3;One;1;00:01:05\r\n"
              "b.mp3;\"say \"\"hi\"\"\r\nnow\";1;00:00:00\r\n");
    layout.slots = {2, 1};
    EXPECT_EQ(BuildExportText(ExportKind::Tsv, rows, layout),
              "Filename\tArtist\tTitle\r\n"
              "a.mp3\tArt\tOne\r\n"
              "b.mp3\tX;Y\tsay \"hi\"  now\r\n");
    // The spreadsheet receives the TSV text.
    EXPECT_EQ(BuildExportText(ExportKind::Spreadsheet, rows, layout),
              BuildExportText(ExportKind::Tsv, rows, layout));
    layout.slots.clear();
    EXPECT_EQ(BuildExportText(ExportKind::Csv, rows, layout), "Filename\r\na.mp3\r\nb.mp3\r\n");
}

TEST(Export, Playlists) {
    const std::vector<BatchRow> rows = {Row("a.mp3", "Artist", "Title", 0),
                                        Row("b.mp3", "B", "Two\nlines", 200, false)};
    const std::string a = kSep + "m" + kSep + "a.mp3";
    const std::string b = kSep + "m" + kSep + "b.mp3";
    EXPECT_EQ(BuildExportText(ExportKind::M3u, rows, {}),
              "#EXTM3U\r\n"
              "#EXTINF:0,Artist - Title\r\n" +
                  a +
                  "\r\n"
                  "#EXTINF:200,B - Two lines\r\n" +
                  b + "\r\n");
    EXPECT_EQ(BuildExportText(ExportKind::Pls, rows, {}),
              "[playlist]\r\n"
              "PlaylistName=Sondrel 4.6\r\n"
              "File1=" +
                  a +
                  "\r\n"
                  "Title1=Artist - Title\r\n"
                  "Length1=0\r\n"
                  "File2=" +
                  b +
                  "\r\n"
                  "Title2=B - Two lines\r\n"
                  "Length2=200\r\n"
                  "NumberOfEntries=2\r\n"
                  "Version=2\r\n");
}

// A value a spreadsheet would run as a formula: CSV and TSV keep their
// bytes unless asked, then mark it as text with "'"; the spreadsheet text
// marks it by default.
TEST(Export, FormulaLikeValuesAreMarkedAsTextWhenAsked) {
    const std::vector<BatchRow> rows = {
        Row("=1+2.mp3", "+SUM(A1)", "-2+3", 1), Row("b.mp3", "@cmd", "=HYPERLINK(\"x\";\"y\")", 2),
        Row("c.mp3", "a=b", "Live - 1999", 3), Row("d.mp3", "\tTab", "\rCR", 4)};
    ExportLayout layout;
    layout.slots = {2, 1};  // Artist, Title
    const std::string plainCsv =
        "Filename;Artist;Title\r\n"
        "=1+2.mp3;+SUM(A1);-2+3\r\n"
        "b.mp3;@cmd;\"=HYPERLINK(\"\"x\"\";\"\"y\"\")\"\r\n"
        "c.mp3;a=b;Live - 1999\r\n"
        "d.mp3;\tTab;\"\rCR\"\r\n";
    EXPECT_EQ(BuildExportText(ExportKind::Csv, rows, layout), plainCsv);
    layout.escapeFormulas = false;
    EXPECT_EQ(BuildExportText(ExportKind::Csv, rows, layout), plainCsv);

    layout.escapeFormulas = true;
    EXPECT_EQ(BuildExportText(ExportKind::Csv, rows, layout),
              "Filename;Artist;Title\r\n"
              "'=1+2.mp3;'+SUM(A1);'-2+3\r\n"
              "b.mp3;'@cmd;\"'=HYPERLINK(\"\"x\"\";\"\"y\"\")\"\r\n"
              "c.mp3;a=b;Live - 1999\r\n"
              "d.mp3;'\tTab;\"'\rCR\"\r\n");
    const std::string escapedTsv =
        "Filename\tArtist\tTitle\r\n"
        "'=1+2.mp3\t'+SUM(A1)\t'-2+3\r\n"
        "b.mp3\t'@cmd\t'=HYPERLINK(\"x\";\"y\")\r\n"
        "c.mp3\ta=b\tLive - 1999\r\n"
        "d.mp3\t' Tab\t' CR\r\n";
    EXPECT_EQ(BuildExportText(ExportKind::Tsv, rows, layout), escapedTsv);

    layout.escapeFormulas.reset();
    EXPECT_EQ(BuildExportText(ExportKind::Tsv, rows, layout).substr(0, 41),
              "Filename\tArtist\tTitle\r\n=1+2.mp3\t+SUM(A1)\t");
    EXPECT_EQ(BuildExportText(ExportKind::Spreadsheet, rows, layout), escapedTsv);
    layout.escapeFormulas = false;
    EXPECT_EQ(BuildExportText(ExportKind::Spreadsheet, rows, layout),
              BuildExportText(ExportKind::Tsv, rows, layout));
}

// A file name with a line break would end a playlist entry and start
// another (an "#EXTINF" of its own, an address to fetch): such a file is
// refused by name, and titles lose every kind of line break.
TEST(Export, PlaylistLinesCannotBeBroken) {
    TempDir dir;
    BatchRow bad = Row("x.mp3", "A", "T", 1);
    bad.data.Folder = kSep + "m" + kSep + "Live\n#EXTINF:0,Injected\nhttp:" + kSep;
    BatchRow nel = Row("y.mp3", "A", "T", 1);
    nel.data.FileName = "y\xc2\x85z.mp3";
    const BatchRow good = Row("g.mp3", "Ar\xe2\x80\xa8tist", "Ti\vt\xc2\x85le\x1b[2J", 5);
    const std::string g = kSep + "m" + kSep + "g.mp3";
    EXPECT_NE(PlaylistRefusal(bad.data.FullPath()), "");
    EXPECT_NE(PlaylistRefusal(nel.data.FullPath()), "");
    EXPECT_EQ(PlaylistRefusal(good.data.FullPath()), "");

    const std::vector<BatchRow> rows = {bad, good, nel};
    EXPECT_EQ(BuildExportText(ExportKind::M3u, rows, {}),
              "#EXTM3U\r\n#EXTINF:5,Ar tist - Ti t le [2J\r\n" + g + "\r\n");
    EXPECT_EQ(BuildExportText(ExportKind::Pls, rows, {}),
              "[playlist]\r\nPlaylistName=Sondrel 4.6\r\nFile1=" + g +
                  "\r\nTitle1=Ar tist - Ti t le [2J\r\nLength1=5\r\nNumberOfEntries=1\r\n"
                  "Version=2\r\n");

    for (const ExportKind kind : {ExportKind::M3u, ExportKind::Pls}) {
        const std::string path = dir.file("list");
        const IoResult written = WriteExportFile(path, kind, rows, {});
        EXPECT_FALSE(written.ok);
        EXPECT_NE(written.error.find("line break"), std::string::npos) << written.error;
        EXPECT_NE(written.error.find("Live\\n#EXTINF:0,Injected\\nhttp:"), std::string::npos)
            << written.error;
        EXPECT_NE(written.error.find("y\xef\xbf\xbdz.mp3"), std::string::npos) << written.error;
        EXPECT_FALSE(FileExists(path)) << "a refused playlist was written";
        ASSERT_TRUE(WriteExportFile(path, kind, {good}, {}).ok);
        ::unlink(path.c_str());
    }
    // The other exports list such a name quoted, as ever.
    EXPECT_TRUE(WriteExportFile(dir.file("list.csv"), ExportKind::Csv, rows, {}).ok);
}

TEST(Export, FileNames) {
    const std::vector<std::tuple<std::string, ExportKind, std::string>> cases = {
        {"list", ExportKind::M3u, "list.m3u"},
        {"list", ExportKind::Csv, "list.csv"},
        {"list", ExportKind::Tsv, "list.tsv"},
        {"list", ExportKind::Pls, "list.pls"},
        {"my.list", ExportKind::M3u, "my.list"},
        {kSep + "home" + kSep + "a.b" + kSep + "list", ExportKind::Pls,
         kSep + "home" + kSep + "a.b" + kSep + "list.pls"},
    };
    for (const auto& [in, kind, out] : cases)
        EXPECT_EQ(ExportFileName(in, kind), out) << in;
}

TEST(Export, FilesAreUtf8WithByteOrderMarkForSpreadsheetTexts) {
    TempDir dir;
    const std::vector<BatchRow> rows = {Row("ä.mp3", "Künstler", "Titel", 3)};
    ExportLayout layout;
    layout.slots = {2};

    const std::string csv = dir.file("out.csv");
    ASSERT_TRUE(WriteExportFile(csv, ExportKind::Csv, rows, layout).ok);
    EXPECT_EQ(ReadAll(csv), test::ToBytes("\xEF\xBB\xBF"
                                          "Filename;Artist\r\n\xC3\xA4.mp3;K\xC3\xBCnstler\r\n"));

    // An existing file is replaced whole, keeping its permissions.
    const std::string m3u = dir.file("out.m3u");
    test::WriteAll(m3u, std::string(1000, 'x'));
    ::chmod(m3u.c_str(), 0640);
    ASSERT_TRUE(WriteExportFile(m3u, ExportKind::M3u, rows, layout).ok);
    EXPECT_EQ(ReadAll(m3u), test::ToBytes(BuildExportText(ExportKind::M3u, rows, layout)));
    struct stat st {};
    ASSERT_EQ(::stat(m3u.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    const IoResult missing =
        WriteExportFile(dir.file("no/such/folder.pls"), ExportKind::Pls, rows, layout);
    EXPECT_FALSE(missing.ok);
    EXPECT_FALSE(missing.error.empty());
}

TEST(Export, FullDiskLeavesNoPartialFile) {
    TempDir dir;
    const std::string path = dir.file("out.pls");
    const IoFaults diskFull{[](std::size_t) { return false; }, {}};
    const IoResult r =
        WriteExportFile(path, ExportKind::Pls, {Row("a.mp3", "A", "T", 1)}, {}, diskFull);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(FileExists(path));
}

TEST(Export, PreviewShapesTheNewValues) {
    std::vector<BatchRow> rows = {Row("a.mp3", "the artist", "a title", 1)};
    rows[0].After = "old";
    rows[0].data.Track = "05";
    PreviewExport(rows, 0, 2);
    EXPECT_EQ(rows[0].After, "");
    EXPECT_EQ(rows[0].NewArtist, "THE ARTIST");
    EXPECT_EQ(rows[0].NewTitle, "A TITLE");
    EXPECT_EQ(rows[0].NewTrack, "05");
}

}  // namespace
}  // namespace sondrel
