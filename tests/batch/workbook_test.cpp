// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/workbook.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "support/test_support.h"
#include "util/paths.h"

namespace sondrel {
namespace {

using test::TempDir;

// Reads the workbook back with Python's zipfile: one line per cell,
// "A1<TAB>type<TAB>value<TAB>bold", shared strings resolved.
constexpr const char* kReader = R"PY(
import sys, zipfile, xml.etree.ElementTree as ET
ns = {'m': 'http://schemas.openxmlformats.org/spreadsheetml/2006/main'}
z = zipfile.ZipFile(sys.argv[1])
strings = []
if 'xl/sharedStrings.xml' in z.namelist():
    for si in ET.fromstring(z.read('xl/sharedStrings.xml')).findall('m:si', ns):
        strings.append(''.join(t.text or '' for t in si.iter('{%s}t' % ns['m'])))
styles = ET.fromstring(z.read('xl/styles.xml'))
fonts = styles.find('m:fonts', ns).findall('m:font', ns)
xfs = styles.find('m:cellXfs', ns).findall('m:xf', ns)
numfmts = {n.get('numFmtId'): n.get('formatCode') for n in styles.iter('{%s}numFmt' % ns['m'])}
numfmts.setdefault('49', '@')  # the built-in "Text" format
sheet = ET.fromstring(z.read('xl/worksheets/sheet1.xml'))
for c in sheet.iter('{%s}c' % ns['m']):
    t = c.get('t', 'n')
    v = c.find('m:v', ns)
    value = v.text if v is not None else ''
    if t == 's':
        value = strings[int(value)]
    xf = xfs[int(c.get('s', '0'))]
    bold = fonts[int(xf.get('fontId', '0'))].find('m:b', ns) is not None
    fmt = numfmts.get(xf.get('numFmtId'), '')
    print('%s\t%s\t%s\t%s\t%s' % (c.get('r'), t, value, 'bold' if bold else '', fmt))
for col in sheet.iter('{%s}col' % ns['m']):
    print('col%s\twidth\t%s\t\t' % (col.get('min'), col.get('width')))
)PY";

struct Cell {
    std::string type, value, bold, format;
};

std::map<std::string, Cell> ReadBack(const TempDir& dir, const std::string& book) {
    test::WriteAll(dir.file("read.py"), std::string(kReader));
    const auto r = test::RunCommand("/usr/bin/python3 " + test::ShellQuote(dir.file("read.py")) +
                                    " " + test::ShellQuote(book));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    std::map<std::string, Cell> cells;
    std::istringstream in(r.output);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> parts;
        std::size_t start = 0;
        for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
            parts.push_back(line.substr(start, tab - start));
        parts.push_back(line.substr(start));
        if (parts.size() == 5)
            cells[parts[0]] = {parts[1], parts[2], parts[3], parts[4]};
    }
    return cells;
}

BatchRow Row() {
    BatchRow row;
    row.data.Path = "sub/ä song.mp3";
    row.data.Bitrate = "192";
    row.data.Freq = "44100";
    row.data.Duration = 3725;  // 1:02:05
    row.data.FileSize = 3460300;
    row.data.SizeText = "3.3 Mb";
    row.NewTrack = "07";
    row.NewTitle = "Käse & <Brot>";
    row.NewYear = "1999";
    return row;
}

TEST(Workbook, CellsNumbersTimesAndBoldHeader) {
    TempDir dir;
    BatchRow other = Row();
    other.data.Path = "b.mp3";
    other.NewTrack = "1/12";  // not a whole number: stays text
    other.NewYear.clear();
    other.NewTitle.clear();
    ExportLayout layout;
    layout.slots = {1, 0, 4, 7, 8, 9, 10};  // Title Track Year Bitrate Freq Duration Size
    const std::string book = dir.file("out.xlsx");
    const WorkbookResult written = WriteWorkbook(book, {Row(), other}, layout);
    ASSERT_TRUE(written.ok) << written.error;
    const auto cells = ReadBack(dir, book);

    struct Expect {
        const char* ref;
        const char* type;
        const char* value;
    };
    const Expect expected[] = {
        {"A1", "s", "Filename"}, {"B1", "s", "Title"},          {"C1", "s", "Track"},
        {"H1", "s", "Size"},     {"A2", "s", "sub/ä song.mp3"}, {"B2", "s", "Käse & <Brot>"},
        {"C2", "n", "7"},        {"D2", "n", "1999"},           {"E2", "n", "192"},
        {"F2", "n", "44100"},    {"H2", "n", "3460300"},        {"A3", "s", "b.mp3"},
        {"C3", "s", "1/12"},
    };
    for (const Expect& e : expected) {
        const auto it = cells.find(e.ref);
        ASSERT_NE(it, cells.end()) << e.ref;
        EXPECT_EQ(it->second.type, e.type) << e.ref;
        EXPECT_EQ(it->second.value, e.value) << e.ref;
        EXPECT_EQ(it->second.bold, e.ref[1] == '1' ? "bold" : "") << e.ref;
    }
    EXPECT_EQ(cells.count("B3"), 0u) << "an empty value leaves the cell empty";
    EXPECT_EQ(cells.count("D3"), 0u);
    // The duration is a fraction of a day shown as a time.
    const Cell& duration = cells.at("G2");
    EXPECT_EQ(duration.type, "n");
    EXPECT_NEAR(std::stod(duration.value) * 86400.0, 3725.0, 1e-6);
    EXPECT_EQ(duration.format, "[h]:mm:ss");
    // Columns are as wide as their longest text.
    EXPECT_GT(std::stod(cells.at("col1").value), std::stod(cells.at("col3").value));
}

// A value a spreadsheet would take for a formula goes in as a text cell
// (the "Text" format keeps it text when it is edited), unless the layout
// turns that off; other values keep the general format.
TEST(Workbook, FormulaLikeValuesAreTextCells) {
    TempDir dir;
    BatchRow row = Row();
    row.data.Path = "=cmd.mp3";
    row.NewTitle = "=HYPERLINK(\"http://x\")";
    row.NewArtist = "@SUM(1)";
    row.NewAlbum = "+1";
    row.NewComment = "a=b";
    row.NewTrack = "-3";  // a number, not a formula
    ExportLayout layout;
    layout.slots = {1, 2, 3, 6, 0};  // Title Artist Album Comment Track
    struct Expect {
        const char* ref;
        const char* type;
        const char* value;
        bool text;
    };
    const Expect expected[] = {
        {"A2", "s", "=cmd.mp3", true}, {"B2", "s", "=HYPERLINK(\"http://x\")", true},
        {"C2", "s", "@SUM(1)", true},  {"D2", "s", "+1", true},
        {"E2", "s", "a=b", false},     {"F2", "n", "-3", false},
    };
    for (const bool escape : {true, false}) {
        SCOPED_TRACE(escape);
        if (!escape)
            layout.escapeFormulas = false;
        const std::string book = dir.file(escape ? "text.xlsx" : "plain.xlsx");
        ASSERT_TRUE(WriteWorkbook(book, {row}, layout).ok);
        const auto cells = ReadBack(dir, book);
        for (const Expect& e : expected) {
            const auto it = cells.find(e.ref);
            ASSERT_NE(it, cells.end()) << e.ref;
            EXPECT_EQ(it->second.type, e.type) << e.ref;
            EXPECT_EQ(it->second.value, e.value) << e.ref;
            EXPECT_EQ(it->second.format, escape && e.text ? "@" : "") << e.ref;
        }
    }
}

TEST(Workbook, NoColumnsAndAnUnwritablePlace) {
    TempDir dir;
    ExportLayout layout;
    const std::string book = dir.file("only-names.xlsx");
    ASSERT_TRUE(WriteWorkbook(book, {Row()}, layout).ok);
    const auto cells = ReadBack(dir, book);
    EXPECT_EQ(cells.at("A1").value, "Filename");
    EXPECT_EQ(cells.at("A2").value, "sub/ä song.mp3");
    EXPECT_EQ(cells.count("B2"), 0u);

    const WorkbookResult failed = WriteWorkbook(dir.file("no/such/folder.xlsx"), {Row()}, layout);
    EXPECT_FALSE(failed.ok);
    EXPECT_NE(failed.error.find("no/such/folder.xlsx"), std::string::npos) << failed.error;
}

TEST(Workbook, TemporaryPathsAreFreshXlsxNames) {
    const std::string a = TemporaryWorkbookPath();
    const std::string b = TemporaryWorkbookPath();
    EXPECT_NE(a, b);
    EXPECT_EQ(a.substr(a.size() - 5), ".xlsx");
}

}  // namespace
}  // namespace sondrel
