#include "batch/export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "util/paths.h"
#include "util/text.h"

namespace sondrel {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// A CSV value as RFC 4180 quotes it, so that a separator, quote or line
// break inside a tag cannot shift the fields.
std::string CsvField(std::string_view value, char separator) {
    const char special[] = {separator, '"', '\r', '\n', '\0'};
    if (value.find_first_of(special) == std::string_view::npos)
        return std::string(value);
    return "\"" + ReplaceAll(value, "\"", "\"\"") + "\"";
}

// TSV has no quoting: tabs and line breaks become spaces.
std::string TsvField(std::string_view value) {
    std::string out(value);
    for (char& c : out) {
        if (c == '\t' || c == '\r' || c == '\n')
            c = ' ';
    }
    return out;
}

// Playlist lines cannot hold line breaks either.
std::string LineField(std::string_view value) {
    std::string out(value);
    for (char& c : out) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    return out;
}

std::string SlotValue(const BatchRow& row, int slot) {
    return ColumnText(row, slot + kFirstOptionalColumn, true);
}

std::string BuildSeparated(const std::vector<BatchRow>& rows, const ExportLayout& layout,
                           bool csv) {
    const std::string separator(1, csv ? layout.csvSeparator : '\t');
    auto field = [csv, &layout](std::string_view v) {
        return csv ? CsvField(v, layout.csvSeparator) : TsvField(v);
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
        const std::string number = std::to_string(++n);
        out += "File" + number + "=" + row.data.FullPath();
        out += kLineEnd;
        out +=
            "Title" + number + "=" + LineField(row.data.Artist) + " - " + LineField(row.data.Title);
        out += kLineEnd;
        out += "Length" + number + "=" + std::to_string(row.data.Duration);
        out += kLineEnd;
    }
    out += "NumberOfEntries=" + std::to_string(rows.size());
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
            return BuildSeparated(rows, layout, true);
        case ExportKind::Spreadsheet:
        case ExportKind::Tsv:
            return BuildSeparated(rows, layout, false);
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
