// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/file_rows.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <ostream>

#include "util/paths.h"
#include "util/text.h"

namespace sondrel {

const std::string& FolderPath::Empty() {
    static const std::string empty;
    return empty;
}

std::ostream& operator<<(std::ostream& out, const FolderPath& f) {
    return out << f.str();
}

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Digit runs at least this long spell their length out in the sort key.
constexpr std::size_t kLongRun = 9;

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Appends the sort key (see SortKey) of `key`, a folded key or, with
// `lower`, an ASCII text folded on the way.
void AppendNaturalKey(std::string_view key, bool lower, std::string& out) {
    // A run of n digits takes at most 2n bytes (its length byte, or nine
    // for a run of nine or more), any other byte one: written in place.
    const std::size_t at = out.size();
    out.resize(at + 2 * key.size());
    char* to = out.data() + at;
    for (std::size_t i = 0; i < key.size();) {
        if (!IsDigit(key[i])) {
            *to++ = lower ? LowerAscii(key[i]) : key[i];
            ++i;
            continue;
        }
        while (i < key.size() && key[i] == '0')
            ++i;
        std::size_t end = i;
        while (end < key.size() && IsDigit(key[end]))
            ++end;
        const std::size_t digits = end - i;
        // The run's first byte is a digit too, so it orders against any
        // other byte as the run's own first digit does; it grows with the
        // run's length, and longer runs spell their length out behind it.
        if (digits < kLongRun) {
            *to++ = static_cast<char>('0' + digits);
        } else {
            *to++ = '0' + kLongRun;
            for (int shift = 56; shift >= 0; shift -= 8)
                *to++ = static_cast<char>((static_cast<std::uint64_t>(digits) >> shift) & 0xFF);
        }
        to = std::copy_n(key.data() + i, digits, to);
        i = end;
    }
    out.resize(static_cast<std::size_t>(to - out.data()));
}

// A text with its folded key, so that a sort folds each text once.
struct Keyed {
    std::string key;
    std::string_view raw;
};

int CompareKeyed(const Keyed& a, const Keyed& b) {
    if (const int c = NaturalCompare(a.key, b.key); c != 0)
        return c;
    return a.raw.compare(b.raw);
}

std::vector<Keyed> FolderParts(std::string_view folder) {
    std::vector<Keyed> parts;
    std::size_t start = 0;
    while (start < folder.size()) {
        std::size_t end = folder.find('/', start);
        if (end == std::string_view::npos)
            end = folder.size();
        if (end > start) {
            const std::string_view part = folder.substr(start, end - start);
            parts.push_back({OrderKey(part), part});
        }
        start = end + 1;
    }
    return parts;
}

// Folders in tree order: component by component, so a folder's subfolders
// follow it directly and "alpha/deep" comes before "alpha b".
bool FolderLess(const std::vector<Keyed>& a, const std::vector<Keyed>& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (const int c = CompareKeyed(a[i], b[i]); c != 0)
            return c < 0;
    }
    return a.size() < b.size();
}

}  // namespace

std::string WithTrailingSeparator(std::string_view folder) {
    std::string out(folder);
    if (out.empty() || out.back() != '/')
        out.push_back('/');
    return out;
}

std::string OrderKey(std::string_view text) {
    // Most names are ASCII, where folding is lowering the letters: no call
    // into the Unicode tables and no allocation beyond the key.
    if (IsAscii(text)) {
        std::string out(text);
        for (char& c : out)
            c = LowerAscii(c);
        return out;
    }
    utf8proc_uint8_t* folded = nullptr;
    const utf8proc_ssize_t n =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                     static_cast<utf8proc_ssize_t>(text.size()), &folded,
                     static_cast<utf8proc_option_t>(UTF8PROC_DECOMPOSE | UTF8PROC_CASEFOLD |
                                                    UTF8PROC_STRIPMARK));
    if (n < 0) {
        std::string out(text);
        for (char& c : out)
            c = LowerAscii(c);
        return out;
    }
    std::string out(reinterpret_cast<const char*>(folded), static_cast<std::size_t>(n));
    std::free(folded);
    return out;
}

int NaturalCompare(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            // Leading zeros carry no value: "07" and "7" compare as equal here.
            while (i < a.size() && a[i] == '0')
                ++i;
            while (j < b.size() && b[j] == '0')
                ++j;
            std::size_t ei = i;
            std::size_t ej = j;
            while (ei < a.size() && IsDigit(a[ei]))
                ++ei;
            while (ej < b.size() && IsDigit(b[ej]))
                ++ej;
            if (ei - i != ej - j)
                return ei - i < ej - j ? -1 : 1;
            if (const int c = a.substr(i, ei - i).compare(b.substr(j, ej - j)); c != 0)
                return c < 0 ? -1 : 1;
            i = ei;
            j = ej;
            continue;
        }
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[j]);
        if (ca != cb)
            return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    return j < b.size() ? -1 : 0;
}

void AppendSortKey(std::string_view text, std::string& out) {
    // ASCII is folded on the way, without a folded key of its own.
    if (IsAscii(text))
        AppendNaturalKey(text, true, out);
    else
        AppendNaturalKey(OrderKey(text), false, out);
}

std::string SortKey(std::string_view text) {
    std::string out;
    AppendSortKey(text, out);
    return out;
}

bool NaturalLess(std::string_view a, std::string_view b) {
    return CompareKeyed({OrderKey(a), a}, {OrderKey(b), b}) < 0;
}

namespace {

// Rows with their sort keys, the keys side by side in one buffer: a large
// folder costs no allocation per name, and the sort compares plain bytes.
// An entry is 32 bytes, its text left in the row: the sort moves entries,
// and a large folder's entries are fresh pages to touch.
struct KeyedRows {
    struct Entry {
        // The key's first 16 bytes as two big-endian numbers, zero-padded:
        // unequal, they order the keys as the bytes do, and most compares
        // end there without reaching the buffer.
        std::uint64_t head[2];
        std::uint64_t keyAt;
        std::uint32_t keySize;
        std::uint32_t index;  // the row (no list holds 2^32 rows)
    };
    // Sorts files by their file names, else rows by their captions.
    KeyedRows(const std::vector<FileRow>& r, bool f) : rows(&r), files(f) {}
    const std::vector<FileRow>* rows;
    bool files;
    std::string keys;
    std::vector<Entry> entries;

    std::string_view Raw(std::size_t index) const {
        const FileRow& r = (*rows)[index];
        return files ? r.fileName : r.caption;
    }
    void Add(std::size_t index) {
        const std::size_t at = keys.size();
        AppendSortKey(Raw(index), keys);
        const std::size_t size = keys.size() - at;
        Entry e{{0, 0}, at, static_cast<std::uint32_t>(size), static_cast<std::uint32_t>(index)};
        unsigned char head[16] = {};
        std::memcpy(head, keys.data() + at, std::min<std::size_t>(16, size));
        for (int k = 0; k < 16; ++k)
            e.head[k / 8] = e.head[k / 8] << 8 | head[k];
        entries.push_back(e);
    }
    // By key, then by the bytes (as CompareKeyed), then by row.
    void Sort() {
        std::sort(entries.begin(), entries.end(), [this](const Entry& a, const Entry& b) {
            if (a.head[0] != b.head[0])
                return a.head[0] < b.head[0];
            if (a.head[1] != b.head[1])
                return a.head[1] < b.head[1];
            const std::string_view ka(keys.data() + a.keyAt, a.keySize);
            const std::string_view kb(keys.data() + b.keyAt, b.keySize);
            if (const int c = ka.compare(kb); c != 0)
                return c < 0;
            if (const int c = Raw(a.index).compare(Raw(b.index)); c != 0)
                return c < 0;
            return a.index < b.index;
        });
    }
};

}  // namespace

std::vector<std::size_t> ListOrder(const std::vector<FileRow>& rows) {
    std::vector<std::size_t> parents;
    KeyedRows folders(rows, false);
    // Files by folder: each folder's parts are folded once, not once per file.
    std::map<std::string_view, KeyedRows> files;
    if (const auto file =
            std::find_if(rows.begin(), rows.end(), [](const FileRow& r) { return r.IsFile(); });
        file != rows.end()) {
        // Most often one folder's files: their keys fit in one buffer.
        std::size_t bytes = 0;
        for (const FileRow& r : rows)
            bytes += r.fileName.size() + 2;
        KeyedRows& first = files.try_emplace(file->folder.str(), rows, true).first->second;
        first.keys.reserve(bytes);
        first.entries.reserve(rows.size());
    }
    // Rows of one folder mostly come together: its list is looked up once.
    std::string_view lastFolder;
    KeyedRows* lastList = nullptr;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const FileRow& r = rows[i];
        if (r.IsParent()) {
            parents.push_back(i);
        } else if (r.IsFolder()) {
            folders.Add(i);
        } else {
            if (lastList == nullptr || r.folder.str() != lastFolder) {
                lastFolder = r.folder.str();
                lastList = &files.try_emplace(lastFolder, rows, true).first->second;
            }
            lastList->Add(i);
        }
    }
    folders.Sort();
    std::vector<std::pair<std::vector<Keyed>, std::string_view>> fileFolders;
    fileFolders.reserve(files.size());
    for (const auto& [folder, list] : files)
        fileFolders.push_back({FolderParts(folder), folder});
    std::sort(fileFolders.begin(), fileFolders.end(), [](const auto& a, const auto& b) {
        if (FolderLess(a.first, b.first))
            return true;
        if (FolderLess(b.first, a.first))
            return false;
        return a.second < b.second;
    });

    std::vector<std::size_t> order = std::move(parents);
    order.reserve(rows.size());
    for (const auto& f : folders.entries)
        order.push_back(f.index);
    for (const auto& folder : fileFolders) {
        KeyedRows& list = files.at(folder.second);
        list.Sort();
        for (const auto& f : list.entries)
            order.push_back(f.index);
    }
    return order;
}

void SortListRows(std::vector<FileRow>& rows) {
    std::vector<FileRow> out;
    out.reserve(rows.size());
    for (std::size_t i : ListOrder(rows))
        out.push_back(std::move(rows[i]));
    rows = std::move(out);
}

std::string RowKey(const FileRow& row) {
    if (row.IsParent())
        return "..";
    return row.IsFile() ? row.Path() : row.folder + row.caption;
}

FolderUp GoingUp(std::string_view shownFolder) {
    std::string_view old = shownFolder;
    while (old.size() > 1 && old.back() == '/')
        old.remove_suffix(1);
    std::string up = ParentFolder(old);
    if (up == old)
        return {};
    std::string_view left = old.substr(std::min(up.size(), old.size()));
    if (!left.empty() && left.front() == '/')
        left.remove_prefix(1);
    return {std::move(up), std::string(left)};
}

void FileRows::Reset(std::vector<FileRow> rows, std::string shownFolder, bool subfolders) {
    rows_ = std::move(rows);
    shownFolder_ = std::move(shownFolder);
    subfolders_ = subfolders;
}

int FileRows::RowOfKey(std::string_view key) const {
    for (int r = 0; r < Count(); ++r) {
        if (RowKey(At(r)) == key)
            return r;
    }
    return -1;
}

std::vector<int> FileRows::RowsOfKeys(const std::vector<std::string>& keys) const {
    std::vector<std::string> wanted = keys;
    std::sort(wanted.begin(), wanted.end());
    std::vector<int> out;
    for (int r = 0; r < Count(); ++r) {
        if (std::binary_search(wanted.begin(), wanted.end(), RowKey(At(r))))
            out.push_back(r);
    }
    return out;
}

std::vector<std::string> FileRows::KeysOf(const std::vector<int>& rows) const {
    std::vector<std::string> out;
    for (int r : rows) {
        if (Valid(r))
            out.push_back(RowKey(At(r)));
    }
    return out;
}

std::vector<int> FileRows::FileRowsAmong(std::vector<int> rows) const {
    std::erase_if(rows, [this](int r) { return !Valid(r) || !At(r).IsFile(); });
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

std::vector<int> FileRows::AllFileRows() const {
    std::vector<int> out;
    for (int r = 0; r < Count(); ++r) {
        if (At(r).IsFile())
            out.push_back(r);
    }
    return out;
}

int FileRows::RowOfCaption(std::string_view name) const {
    if (name.empty())
        return -1;
    const std::string wanted = UpperCase1251(name);
    for (int r = 0; r < Count(); ++r) {
        if (UpperCase1251(At(r).caption) == wanted)
            return r;
    }
    return -1;
}

int FileRows::FolderRowNamed(std::string_view caption) const {
    for (int r = 0; r < Count(); ++r) {
        const FileRow& row = At(r);
        if (row.IsFile())
            break;
        if (row.IsFolder() && row.caption == caption)
            return r;
    }
    return -1;
}

RowAction FileRows::ActionOf(int row) const {
    if (!Valid(row))
        return {};
    const FileRow& r = At(row);
    if (r.IsParent())
        return {RowAction::GoUp, {}};
    if (r.IsFolder())
        return {RowAction::OpenFolder, AddBackslash(shownFolder_) + r.caption};
    return {RowAction::Play, {}};
}

std::string FileRows::FolderSeen(int row) const {
    if (!Valid(row))
        return {};
    const std::string base = WithTrailingSeparator(shownFolder_);
    std::string_view folder = At(row).folder.str();
    auto dropSeparator = [](std::string_view f) {
        while (f.size() > 1 && f.back() == '/')
            f.remove_suffix(1);
        return f;
    };
    if (!folder.starts_with(base))
        return std::string(dropSeparator(folder));
    const std::string_view below = dropSeparator(folder.substr(base.size()));
    const std::string name = LastFolderName(shownFolder_);
    if (below.empty() || below == "/")
        return name.empty() ? "/" : name;
    return name + "/" + std::string(below);
}

}  // namespace sondrel
