#include "batch/batch_row.h"

#include "editor/format_registry.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>
#include <system_error>

#include "util/codepage.h"
#include "util/paths.h"
#include "util/text.h"

namespace sondrel {

namespace {

char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// A whole decimal number as the table's numeric columns accept it: an
// optional sign and digits, nothing else, within 64 bits.
bool ParseWhole(std::string_view s, std::int64_t& value) {
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    if (s.empty())
        return false;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return ec == std::errc() && end == s.data() + s.size();
}

int Sign(std::int64_t a, std::int64_t b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

int CompareNumberOrText(const std::string& a, const std::string& b) {
    std::int64_t x = 0;
    std::int64_t y = 0;
    if (ParseWhole(a, x) && ParseWhole(b, y))
        return Sign(x, y);
    return CompareText(a, b);
}

std::int32_t WholeSeconds(double seconds) {
    if (!(seconds > 0))  // also NaN
        return 0;
    if (seconds >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::trunc(seconds));
}

std::string FirstLine(const std::string& s) {
    const auto cr = s.find('\r');
    return cr == std::string::npos ? s : s.substr(0, cr);
}

}  // namespace

std::string BatchData::Ext() const {
    std::string ext = ExtOf(FileName);
    std::transform(ext.begin(), ext.end(), ext.begin(), AsciiUpper);
    return ext;
}

void BatchRow::ResetNewValues() {
    NewTrack = data.Track;
    NewTitle = data.Title;
    NewArtist = data.Artist;
    NewAlbum = data.Album;
    NewYear = data.Year;
    NewComment = data.Comment;
    NewGenre = data.Genre;
}

std::string NormaliseTrack(std::string_view track, int trackStyle) {
    track = track.substr(0, track.find('/'));
    const auto firstNonZero = track.find_first_not_of('0');
    track =
        firstNonZero == std::string_view::npos ? std::string_view() : track.substr(firstNonZero);
    std::string out(track);
    if (out.empty())
        return out;
    const std::size_t width = static_cast<std::size_t>(std::clamp(trackStyle, 0, 2)) + 1;
    const std::size_t length = Utf8Length(out);
    if (length < width)
        out.insert(0, width - length, '0');
    return out;
}

std::string SizeText(std::int64_t bytes, std::string_view decimalSeparator) {
    constexpr std::int64_t kKilo = 1024;
    constexpr std::int64_t kMega = 1024 * 1024;
    if (bytes < kKilo)
        return std::to_string(bytes);
    if (bytes < kMega)
        return std::to_string(bytes / kKilo) + " Kb";
    // Tenths of a megabyte: bytes * 10 / 2^20 = bytes * 5 / 2^19, split so
    // that no product can overflow.
    constexpr std::uint64_t kDiv = 524288;
    const auto n = static_cast<std::uint64_t>(bytes);
    std::uint64_t tenths = (n / kDiv) * 5;
    const std::uint64_t rest = (n % kDiv) * 5;
    tenths += rest / kDiv;
    const std::uint64_t remainder = rest % kDiv;
    if (remainder * 2 > kDiv || (remainder * 2 == kDiv && (tenths % 2) == 1))
        ++tenths;
    std::string out = std::to_string(tenths / 10);
    if (tenths % 10 != 0) {
        out += decimalSeparator;
        out += static_cast<char>('0' + tenths % 10);
    }
    return out + " Mb";
}

std::string ColumnText(const BatchRow& row, int column, bool newValues) {
    const BatchData& d = row.data;
    switch (column) {
        case kColBefore:
            return d.Path;
        case kColAfter:
            return row.After;
        case kColTrack:
            return newValues ? row.NewTrack : d.Track;
        case kColTitle:
            return newValues ? row.NewTitle : d.Title;
        case kColArtist:
            return newValues ? row.NewArtist : d.Artist;
        case kColAlbum:
            return newValues ? row.NewAlbum : d.Album;
        case kColYear:
            return newValues ? row.NewYear : d.Year;
        case kColGenre:
            return newValues ? row.NewGenre : d.Genre;
        case kColComment:
            return newValues ? row.NewComment : d.Comment;
        case kColBitrate:
            return d.Bitrate;
        case kColFreq:
            return d.Freq;
        case kColDuration:
            return SecondsToTime(d.Duration);
        case kColSize:
            return d.SizeText;
        default:
            return {};
    }
}

int CompareText(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(AsciiUpper(a[i]));
        const auto y = static_cast<unsigned char>(AsciiUpper(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return Sign(static_cast<std::int64_t>(a.size()), static_cast<std::int64_t>(b.size()));
}

int CompareRows(const BatchRow& a, const BatchRow& b, int column, bool newValues) {
    switch (column) {
        case kColFlag:
            return Sign(a.Checked ? 1 : 0, b.Checked ? 1 : 0);
        case kColTrack:
        case kColYear:
        case kColBitrate:
        case kColFreq:
            return CompareNumberOrText(ColumnText(a, column, newValues),
                                       ColumnText(b, column, newValues));
        case kColDuration:
            return Sign(a.data.Duration, b.data.Duration);
        case kColSize:
            return Sign(a.data.FileSize, b.data.FileSize);
        default:
            return CompareText(ColumnText(a, column, newValues), ColumnText(b, column, newValues));
    }
}

void SortState::Click(int clicked) {
    ascending = clicked == column ? !ascending : true;
    column = clicked;
}

void SortRows(std::vector<BatchRow>& rows, int column, bool ascending, bool newValues) {
    // A bottom-up merge sort of indices: it only ever compares elements
    // inside the ranges it merges, so an inconsistent order (numbers mixed
    // with text) gives some order, never undefined behaviour.
    const std::size_t n = rows.size();
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i)
        order[i] = i;
    std::vector<std::size_t> buffer(n);
    auto before = [&](std::size_t x, std::size_t y) {
        const int c = CompareRows(rows[x], rows[y], column, newValues);
        return ascending ? c < 0 : c > 0;
    };
    for (std::size_t width = 1; width < n; width *= 2) {
        for (std::size_t lo = 0; lo < n; lo += 2 * width) {
            const std::size_t mid = std::min(lo + width, n);
            const std::size_t hi = std::min(lo + 2 * width, n);
            std::size_t i = lo;
            std::size_t j = mid;
            std::size_t k = lo;
            while (i < mid && j < hi)
                buffer[k++] = before(order[j], order[i]) ? order[j++] : order[i++];
            while (i < mid)
                buffer[k++] = order[i++];
            while (j < hi)
                buffer[k++] = order[j++];
        }
        order.swap(buffer);
    }
    std::vector<BatchRow> sorted;
    sorted.reserve(n);
    for (const std::size_t i : order)
        sorted.push_back(std::move(rows[i]));
    rows = std::move(sorted);
}

BatchData MakeData(const BatchFile& file, const TagFields& hub, TagFormat format,
                   const StreamFacts& facts, std::int64_t fileSize, const ScanOptions& options) {
    BatchData d;
    d.Folder = AddBackslash(file.Folder);
    d.FileName = file.FileName;
    d.Path = options.subfolderMode ? d.FullPath() : d.FileName;
    d.FileIndex = file.FileIndex;
    d.Track = NormaliseTrack(hub.track, options.trackStyle);
    d.Title = hub.title;
    d.Artist = hub.artist;
    d.Album = hub.album;
    d.Year = hub.year;
    d.Comment = FirstLine(hub.comment);
    d.Genre = hub.GenreID == kGenreOther ? hub.Genre : GenreNameOf(hub.GenreID);
    d.FolderName = LastFolderName(d.Folder);
    const FormatHandler* handler = HandlerOf(format);
    if (facts.valid && handler) {
        if (handler->ShowsBitrate() && facts.bitrate > 0)
            d.Bitrate = std::to_string(facts.bitrate);
        if (facts.sampleRate > 0)
            d.Freq = std::to_string(facts.sampleRate);
        d.Duration = WholeSeconds(facts.seconds);
        d.FileSize = std::max<std::int64_t>(fileSize, 0);
    }
    d.SizeText = SizeText(d.FileSize, options.decimalSeparator);
    return d;
}

std::vector<BatchRow> ReadBatchRows(TagBridge& bridge, const std::vector<BatchFile>& files,
                                    const ScanOptions& options, const std::function<bool()>& step) {
    std::vector<BatchRow> rows;
    rows.reserve(files.size());
    for (const BatchFile& file : files) {
        const std::string path = AddBackslash(file.Folder) + file.FileName;
        const TagFormat format = bridge.Read(path);
        const StreamFacts facts = StreamFactsOf(bridge, format, path);
        std::error_code ec;
        const auto size = std::filesystem::file_size(path, ec);
        const std::int64_t length =
            ec ? 0
               : static_cast<std::int64_t>(std::min<std::uintmax_t>(
                     size, static_cast<std::uintmax_t>(std::numeric_limits<std::int64_t>::max())));
        BatchRow row;
        row.data = MakeData(file, bridge.Hub(), format, facts, length, options);
        if (!facts.valid) {
            row.data.Valid = false;
            row.data.Problem = NotRecognisedMessage(format);
        }
        row.RowIndex = static_cast<int>(rows.size());
        row.ResetNewValues();
        rows.push_back(std::move(row));
        if (step && !step())
            break;
    }
    return rows;
}

}  // namespace sondrel
