// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/batch_row.h"

#include "editor/format_registry.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <system_error>

#include "tags/file_snapshot.h"
#include "util/codepage.h"
#include "util/ordered_work.h"
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

namespace {

// What one row is compared by, worked out once per sort: a comparison then
// neither copies a text nor parses a number again.
struct SortKey {
    std::int64_t number = 0;
    bool isNumber = false;
    std::string_view text;
};

// The stored text a column shows, for the columns sorted by text.
const std::string* TextField(const BatchRow& row, int column, bool newValues) {
    const BatchData& d = row.data;
    switch (column) {
        case kColBefore:
            return &d.Path;
        case kColAfter:
            return &row.After;
        case kColTrack:
            return newValues ? &row.NewTrack : &d.Track;
        case kColTitle:
            return newValues ? &row.NewTitle : &d.Title;
        case kColArtist:
            return newValues ? &row.NewArtist : &d.Artist;
        case kColAlbum:
            return newValues ? &row.NewAlbum : &d.Album;
        case kColYear:
            return newValues ? &row.NewYear : &d.Year;
        case kColGenre:
            return newValues ? &row.NewGenre : &d.Genre;
        case kColComment:
            return newValues ? &row.NewComment : &d.Comment;
        case kColBitrate:
            return &d.Bitrate;
        case kColFreq:
            return &d.Freq;
        default:
            return nullptr;
    }
}

SortKey KeyOf(const BatchRow& row, int column, bool newValues) {
    SortKey key;
    switch (column) {
        case kColFlag:
            key.isNumber = true;
            key.number = row.Checked ? 1 : 0;
            return key;
        case kColDuration:
            key.isNumber = true;
            key.number = row.data.Duration;
            return key;
        case kColSize:
            key.isNumber = true;
            key.number = row.data.FileSize;
            return key;
        default:
            break;
    }
    if (const std::string* text = TextField(row, column, newValues)) {
        key.text = *text;
        if (column == kColTrack || column == kColYear || column == kColBitrate ||
            column == kColFreq)
            key.isNumber = ParseWhole(key.text, key.number);
    }
    return key;
}

// CompareRows on the keys: numbers when both are numbers, else the text.
int CompareKeys(const SortKey& a, const SortKey& b) {
    if (a.isNumber && b.isNumber)
        return Sign(a.number, b.number);
    return CompareText(a.text, b.text);
}

}  // namespace

std::vector<std::size_t> ParentsOf(const std::vector<BatchRow>& rows) {
    std::vector<std::size_t> parents(rows.size());
    std::size_t parent = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i == 0 || !rows[i].SubRow)
            parent = i;
        parents[i] = parent;
    }
    return parents;
}

std::vector<std::size_t> SortOrder(const std::vector<BatchRow>& rows, int column, bool ascending,
                                   bool newValues) {
    const std::size_t n = rows.size();
    std::vector<SortKey> keys;
    keys.reserve(n);
    for (const BatchRow& row : rows)
        keys.push_back(KeyOf(row, column, newValues));
    auto before = [&](std::size_t x, std::size_t y) {
        const int c = CompareKeys(keys[x], keys[y]);
        return ascending ? c < 0 : c > 0;
    };
    // A bottom-up merge sort of indices: it only ever compares elements
    // inside the ranges it merges, so an inconsistent order (numbers mixed
    // with text) gives some order, never undefined behaviour.
    std::vector<std::size_t> buffer;
    auto mergeSort = [&](std::vector<std::size_t>& order) {
        const std::size_t m = order.size();
        buffer.resize(m);
        for (std::size_t width = 1; width < m; width *= 2) {
            for (std::size_t lo = 0; lo < m; lo += 2 * width) {
                const std::size_t mid = std::min(lo + width, m);
                const std::size_t hi = std::min(lo + 2 * width, m);
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
    };
    // Parents first, then each parent's sub-rows behind it.
    const std::vector<std::size_t> parents = ParentsOf(rows);
    std::vector<std::size_t> top;
    std::vector<std::vector<std::size_t>> children(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (parents[i] == i)
            top.push_back(i);
        else
            children[parents[i]].push_back(i);
    }
    mergeSort(top);
    std::vector<std::size_t> order;
    order.reserve(n);
    for (const std::size_t p : top) {
        order.push_back(p);
        std::vector<std::size_t>& subRows = children[p];
        mergeSort(subRows);
        order.insert(order.end(), subRows.begin(), subRows.end());
    }
    return order;
}

void ApplyOrder(std::vector<BatchRow>& rows, const std::vector<std::size_t>& order) {
    // In place, one cycle of the permutation at a time: no second table of
    // rows to allocate and fill.
    const std::size_t n = std::min(rows.size(), order.size());
    std::vector<bool> placed(n, false);
    for (std::size_t start = 0; start < n; ++start) {
        if (placed[start])
            continue;
        BatchRow held = std::move(rows[start]);
        std::size_t to = start;
        for (std::size_t from = order[to]; from != start; from = order[to]) {
            rows[to] = std::move(rows[from]);
            placed[to] = true;
            to = from;
        }
        rows[to] = std::move(held);
        placed[to] = true;
    }
}

void SortRows(std::vector<BatchRow>& rows, int column, bool ascending, bool newValues) {
    // A sub-row on the first line has no parent; it must not become one of
    // whichever row it is sorted behind.
    if (!rows.empty())
        rows.front().SubRow = false;
    ApplyOrder(rows, SortOrder(rows, column, ascending, newValues));
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

namespace {

// One file's row; never throws, so it can run on a worker.
BatchRow ReadBatchRow(TagBridge& bridge, const BatchFile& file,
                      const ScanOptions& options) noexcept {
    BatchRow row;
    const std::string path = AddBackslash(file.Folder) + file.FileName;
    try {
        // One opening per file: the tags, the stream facts and the size all
        // come from the same snapshot, as for `sondrel-tag show`; a second
        // open and stream analysis per file was most of the table's cost.
        std::optional<FileSnapshot> snapshot;
        if (FormatOfPath(path) != TagFormat::None)
            snapshot = FileSnapshot::Open(path);
        TagFormat format = TagFormat::None;
        StreamFacts facts;
        std::int64_t length = 0;
        if (snapshot) {
            format = bridge.Read(*snapshot);
            facts = StreamFactsOf(bridge, format, *snapshot);
            length = snapshot->Size();
        } else {
            format = bridge.Read(path);
            facts = StreamFactsOf(bridge, format, path);
            std::error_code ec;
            const auto size = std::filesystem::file_size(path, ec);
            length =
                ec ? 0
                   : static_cast<std::int64_t>(std::min<std::uintmax_t>(
                         size,
                         static_cast<std::uintmax_t>(std::numeric_limits<std::int64_t>::max())));
        }
        row.data = MakeData(file, bridge.Hub(), format, facts, length, options);
        if (!facts.valid) {
            row.data.Valid = false;
            row.data.Problem = NotRecognisedMessage(format);
        }
    } catch (const std::exception& e) {
        // Out of memory or the like: this row says so, the others go on.
        row = BatchRow{};
        row.data = MakeData(file, TagFields{}, FormatOfPath(path), StreamFacts{}, 0, options);
        row.data.Valid = false;
        row.data.Problem = std::string("the file cannot be read: ") + e.what();
    }
    return row;
}

}  // namespace

std::vector<BatchRow> ReadBatchRows(TagBridge& bridge, const std::vector<BatchFile>& files,
                                    const ScanOptions& options, const std::function<bool()>& step) {
    std::vector<BatchRow> rows;
    rows.reserve(files.size());
    // Files are read on one thread per core, each with a bridge of the same
    // options; a short list is read by the caller's own bridge.
    const std::size_t threads = ThreadsFor(files.size());
    ForEachInOrder(
        files.size(), threads,
        [&bridge, threads]() -> std::unique_ptr<TagBridge> {
            return threads > 1 ? std::make_unique<TagBridge>(bridge.Options()) : nullptr;
        },
        [&](std::unique_ptr<TagBridge>& own, std::size_t i) {
            return ReadBatchRow(own ? *own : bridge, files[i], options);
        },
        [&](std::size_t, BatchRow row) {
            row.RowIndex = static_cast<int>(rows.size());
            row.ResetNewValues();
            rows.push_back(std::move(row));
            return !step || step();
        });
    return rows;
}

}  // namespace sondrel
