// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "util/paths.h"
#include "util/text.h"
#include "util/unicode.h"

namespace sondrel {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// The mark that makes a spreadsheet take a value as text.
std::string Escaped(std::string_view value, bool escapeFormulas) {
    if (escapeFormulas && IsFormulaLike(value))
        return "'" + std::string(value);
    return std::string(value);
}

// A CSV value as RFC 4180 quotes it, so that a separator, quote or line
// break inside a tag cannot shift the fields.
std::string CsvField(std::string_view raw, char separator, bool escapeFormulas) {
    const std::string value = Escaped(raw, escapeFormulas);
    const char special[] = {separator, '"', '\r', '\n', '\0'};
    if (value.find_first_of(special) == std::string::npos)
        return value;
    return "\"" + ReplaceAll(value, "\"", "\"\"") + "\"";
}

// TSV has no quoting: tabs and line breaks become spaces.
std::string TsvField(std::string_view value, bool escapeFormulas) {
    std::string out = Escaped(value, escapeFormulas);
    for (char& c : out) {
        if (c == '\t' || c == '\r' || c == '\n')
            c = ' ';
    }
    return out;
}

// What readers of playlists take for a line end besides CR and LF (a
// vertical tab, a form feed, the file/group/record separators, NEL and the
// Unicode line and paragraph separators all split lines somewhere).
bool BreaksLine(char32_t cp) {
    return cp == '\n' || cp == '\r' || cp == 0x0B || cp == 0x0C || (cp >= 0x1C && cp <= 0x1E) ||
           cp == 0x85 || cp == 0x2028 || cp == 0x2029;
}

// A title in a playlist line: line breaks and other control characters
// become spaces.
std::string LineField(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size();) {
        const std::size_t at = i;
        const char32_t cp = NextCodePoint(value, i);
        if (BreaksLine(cp) || cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F))
            out += ' ';
        else
            out.append(value.substr(at, i - at));
    }
    return out;
}

// A file name in a message: its line breaks shown, not made.
std::string ShownName(std::string_view path) {
    std::string out;
    for (std::size_t i = 0; i < path.size();) {
        const std::size_t at = i;
        const char32_t cp = NextCodePoint(path, i);
        if (cp == '\n')
            out += "\\n";
        else if (cp == '\r')
            out += "\\r";
        else if (BreaksLine(cp))
            AppendUtf8(out, kReplacementChar);
        else
            out.append(path.substr(at, i - at));
    }
    return out;
}

std::string SlotValue(const BatchRow& row, int slot) {
    return ColumnText(row, slot + kFirstOptionalColumn, true);
}

std::string BuildSeparated(const std::vector<BatchRow>& rows, const ExportLayout& layout, bool csv,
                           bool escapeFormulas) {
    const std::string separator(1, csv ? layout.csvSeparator : '\t');
    auto field = [csv, escapeFormulas, &layout](std::string_view v) {
        return csv ? CsvField(v, layout.csvSeparator, escapeFormulas) : TsvField(v, escapeFormulas);
    };
    std::string out = field(layout.fileNameCaption);
    for (const int slot : layout.slots) {
        if (slot < 0 || slot >= kOptionalColumnCount)
            continue;
        out += separator;
        out += field(layout.captions[static_cast<std::size_t>(slot)]);
    }
    out += kLineEnd;
    for (const BatchRow& row : rows) {
        out += field(row.Before());
        for (const int slot : layout.slots) {
            if (slot < 0 || slot >= kOptionalColumnCount)
                continue;
            out += separator;
            out += field(SlotValue(row, slot));
        }
        out += kLineEnd;
    }
    return out;
}

std::string BuildM3u(const std::vector<BatchRow>& rows) {
    std::string out = "#EXTM3U";
    out += kLineEnd;
    for (const BatchRow& row : rows) {
        if (!PlaylistRefusal(row.data.FullPath()).empty())
            continue;
        out += "#EXTINF:" + std::to_string(row.data.Duration) + "," + LineField(row.data.Artist) +
               " - " + LineField(row.data.Title);
        out += kLineEnd;
        out += row.data.FullPath();
        out += kLineEnd;
    }
    return out;
}

std::string BuildPls(const std::vector<BatchRow>& rows) {
    std::string out = "[playlist]";
    out += kLineEnd;
    out += "PlaylistName=Sondrel ";
    out += kPlaylistVersion;
    out += kLineEnd;
    std::size_t n = 0;
    for (const BatchRow& row : rows) {
        if (!PlaylistRefusal(row.data.FullPath()).empty())
            continue;
        const std::string number = std::to_string(++n);
        out += "File" + number + "=" + row.data.FullPath();
        out += kLineEnd;
        out +=
            "Title" + number + "=" + LineField(row.data.Artist) + " - " + LineField(row.data.Title);
        out += kLineEnd;
        out += "Length" + number + "=" + std::to_string(row.data.Duration);
        out += kLineEnd;
    }
    out += "NumberOfEntries=" + std::to_string(n);
    out += kLineEnd;
    out += "Version=2";
    out += kLineEnd;
    return out;
}

std::string ErrnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// A new file: created exclusively, written whole and flushed; removed again
// when any of that fails, so no partial export is left behind.
IoResult WriteNewFile(const std::string& path, const std::string& content, const IoFaults& faults) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return {false, ErrnoText("cannot create file")};
    File out = File::Adopt(fd, faults);
    const auto* data = reinterpret_cast<const std::uint8_t*>(content.data());
    if (!out.WriteAt(0, data, content.size()) || !out.Sync()) {
        IoResult failed{false, out.LastError()};
        out.Close();
        ::unlink(path.c_str());
        return failed;
    }
    out.Close();
    return {true, {}};
}

// A device or a pipe (/dev/null, a FIFO) cannot be replaced by a new file:
// it takes the bytes as they come. A folder is refused.
IoResult WriteIntoSpecialFile(const std::string& path, const std::string& content) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return {false, "is a folder"};
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return {false, ErrnoText("cannot open")};
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            IoResult failed{false, ErrnoText("write failed")};
            ::close(fd);
            return failed;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0)
        return {false, ErrnoText("write failed")};
    return {true, {}};
}

}  // namespace

bool IsFormulaLike(std::string_view value) {
    return !value.empty() &&
           std::string_view("=+-@\t\r").find(value.front()) != std::string_view::npos;
}

bool EscapesFormulas(const ExportLayout& layout, ExportKind kind) {
    return layout.escapeFormulas.value_or(kind == ExportKind::Spreadsheet);
}

std::string PlaylistRefusal(std::string_view path) {
    for (std::size_t i = 0; i < path.size();) {
        if (BreaksLine(NextCodePoint(path, i)))
            return "its name holds a line break, which a playlist line cannot hold";
    }
    return {};
}

std::string ExportFileName(std::string_view path, ExportKind kind) {
    // Only the name counts: a dot in a folder name is no extension.
    const auto slash = path.find_last_of(kPathSeparator);
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    std::string out(path);
    if (name.find('.') != std::string_view::npos)
        return out;
    switch (kind) {
        case ExportKind::Csv:
            return out + ".csv";
        case ExportKind::Tsv:
            return out + ".tsv";
        case ExportKind::M3u:
            return out + ".m3u";
        case ExportKind::Pls:
            return out + ".pls";
        case ExportKind::Spreadsheet:
            break;
    }
    return out;
}

std::string BuildExportText(ExportKind kind, const std::vector<BatchRow>& rows,
                            const ExportLayout& layout) {
    switch (kind) {
        case ExportKind::Csv:
            return BuildSeparated(rows, layout, true, EscapesFormulas(layout, kind));
        case ExportKind::Spreadsheet:
        case ExportKind::Tsv:
            return BuildSeparated(rows, layout, false, EscapesFormulas(layout, kind));
        case ExportKind::M3u:
            return BuildM3u(rows);
        case ExportKind::Pls:
            return BuildPls(rows);
    }
    return {};
}

std::string ExportFileContent(ExportKind kind, std::string_view text) {
    std::string out;
    if (kind == ExportKind::Csv || kind == ExportKind::Tsv)
        out = kUtf8Bom;
    out += text;
    return out;
}

IoResult WriteExportFile(const std::string& path, ExportKind kind,
                         const std::vector<BatchRow>& rows, const ExportLayout& layout,
                         const IoFaults& faults) {
    if (kind == ExportKind::M3u || kind == ExportKind::Pls) {
        std::string refused;
        for (const BatchRow& row : rows) {
            const std::string path = row.data.FullPath();
            if (PlaylistRefusal(path).empty())
                continue;
            refused += refused.empty() ? "" : ", ";
            refused += ShownName(path);
        }
        if (!refused.empty())
            return {false,
                    "a playlist cannot list a file whose name holds a line break: " + refused};
    }
    const std::string content = ExportFileContent(kind, BuildExportText(kind, rows, layout));
    switch (KindOfPath(path)) {
        case PathKind::Missing:
            return WriteNewFile(path, content, faults);
        case PathKind::NotRegular:
            return WriteIntoSpecialFile(path, content);
        case PathKind::Regular:
            break;
    }
    return SafeReplace(
        path,
        [&content](ReplaceWriter& writer, std::string& error) {
            if (writer.Write(reinterpret_cast<const std::uint8_t*>(content.data()), content.size()))
                return true;
            error = writer.LastError();
            return false;
        },
        faults);
}

void PreviewExport(std::vector<BatchRow>& rows, int transliteration, int capitalization) {
    auto shape = [&](const std::string& s) {
        return ChangeCase(TranslitByMode(s, transliteration), capitalization);
    };
    for (BatchRow& row : rows) {
        row.After.clear();
        row.NewTrack = row.data.Track;
        row.NewTitle = shape(row.data.Title);
        row.NewArtist = shape(row.data.Artist);
        row.NewAlbum = shape(row.data.Album);
        row.NewYear = shape(row.data.Year);
        row.NewComment = shape(row.data.Comment);
        row.NewGenre = shape(row.data.Genre);
    }
}

}  // namespace sondrel
