// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/folder_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <map>
#include <set>
#include <utility>

#include "editor/format_registry.h"

namespace sondrel {

namespace {

using FileId = std::pair<dev_t, ino_t>;

// The most rows a folder's size reserves room for ahead.
constexpr off_t kMaxReservedRows = 1 << 18;

// What the scan found, side by side: the rows go to the list as they are.
struct Found {
    std::vector<FileRow> rows;
    struct Identity {
        FileId id;
        bool link = false;
    };
    std::vector<Identity> ids;

    void Add(FileRow row, FileId id, bool link) {
        rows.push_back(std::move(row));
        ids.push_back({id, link});
    }
};

struct Scan {
    const FolderScanOptions& options;
    const PreviousSelection& previous;
    const FolderScanHooks& hooks;
    std::set<FileId> visitedFolders;
    // The upper-cased extensions of the formats listed.
    std::vector<std::string> listed;
    Found found;
    // Folders reached through a link, entered after every folder reachable
    // without one, so a folder is listed under its own name where it has one.
    struct Deferred {
        std::string path;
        FileId id;
        int level;
    };
    std::vector<Deferred> linkedFolders;

    bool Stopped() const { return options.subfolders && hooks.keepGoing && !hooks.keepGoing(); }
};

std::string UpperAscii(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

// An extension belongs to the first format that claims it.
std::vector<std::string> ListedExtensions(const FolderScanOptions& options) {
    std::vector<std::string> claimed;
    std::vector<std::string> listed;
    for (const FormatHandler* h : AllFormats()) {
        const bool hidden = std::find(options.hiddenFormats.begin(), options.hiddenFormats.end(),
                                      h->Id()) != options.hiddenFormats.end();
        for (std::string_view e : h->Extensions()) {
            if (std::find(claimed.begin(), claimed.end(), e) != claimed.end())
                continue;
            claimed.emplace_back(e);
            if (!hidden)
                listed.emplace_back(e);
        }
    }
    return listed;
}

bool Listed(const Scan& scan, std::string_view upperExt) {
    return std::find(scan.listed.begin(), scan.listed.end(), upperExt) != scan.listed.end();
}

void Walk(Scan& scan, const std::string& dir, int level) {
    // Every row of the folder shares this one copy of its path.
    const FolderPath shared(WithTrailingSeparator(dir));
    const std::string& folder = shared.str();
    if (scan.hooks.onFolder)
        scan.hooks.onFolder(folder);
    DIR* d = ::opendir(folder.c_str());
    if (d == nullptr)
        return;

    struct Subfolder {
        std::string name;
        FileId id;
        bool link;
    };
    std::vector<Subfolder> subfolders;
    // Outside subfolder mode the rows are the folder's alone and go straight
    // to the scan's list; the list sorts them, so their order here is free.
    Found below;
    Found& files = scan.options.subfolders ? below : scan.found;
    const int fd = ::dirfd(d);
    struct stat here {};
    if (::fstat(fd, &here) != 0) {
        ::closedir(d);
        return;
    }
    // Room for about as many rows as the folder's size suggests entries
    // (some 32 bytes each on common file systems), so a large folder's rows
    // are not moved again and again as the list grows.
    const auto guess =
        static_cast<std::size_t>(std::clamp<off_t>(here.st_size / 32, 0, off_t{kMaxReservedRows}));
    files.rows.reserve(files.rows.size() + guess);
    files.ids.reserve(files.ids.size() + guess);
    while (dirent* e = ::readdir(d)) {
        const char* name = e->d_name;
        // Hidden entries are not listed, like the system's hidden attribute.
        if (name[0] == '.')
            continue;
        // Every entry is looked at through its links: the identity decides
        // whether a folder was entered or a file listed before. A plain file
        // is known from its entry alone (its inode, on this folder's device):
        // a status call per file would cost more than the whole walk.
        struct stat st {};
        if (e->d_type == DT_REG) {
            st.st_mode = S_IFREG;
            st.st_dev = here.st_dev;
            st.st_ino = e->d_ino;
        } else if (::fstatat(fd, name, &st, 0) != 0) {
            continue;
        }
        const bool link =
            e->d_type == DT_LNK || (e->d_type == DT_UNKNOWN && [&] {
                struct stat own {};
                return ::fstatat(fd, name, &own, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(own.st_mode);
            }());
        if (S_ISDIR(st.st_mode)) {
            subfolders.push_back({name, {st.st_dev, st.st_ino}, link});
        } else if (S_ISREG(st.st_mode)) {
            const std::string_view n(name);
            const std::size_t dot = n.rfind('.');
            if (dot == std::string_view::npos || dot == 0)
                continue;
            std::string ext = UpperAscii(std::string(n.substr(dot)));
            if (!Listed(scan, ext))
                continue;
            files.Add({shared, std::string(n), std::move(ext), std::string(n)},
                      {st.st_dev, st.st_ino}, link);
        }
    }
    ::closedir(d);

    // In list order, so which of two names of a folder is entered does not
    // depend on the order the system returns them in.
    std::sort(subfolders.begin(), subfolders.end(),
              [](const Subfolder& a, const Subfolder& b) { return NaturalLess(a.name, b.name); });
    const bool selectedOnly =
        scan.options.subfolders && level == 1 && scan.options.onlySelectedSubfolders;
    for (auto& [sub, id, link] : subfolders) {
        if (scan.Stopped())
            break;
        if (scan.options.subfolders) {
            if (selectedOnly && std::find(scan.previous.selectedFolderCaptions.begin(),
                                          scan.previous.selectedFolderCaptions.end(),
                                          sub) == scan.previous.selectedFolderCaptions.end()) {
                continue;
            }
            if (level >= kMaxFolderDepth)
                continue;
            if (link)
                scan.linkedFolders.push_back({folder + sub, id, level + 1});
            else if (scan.visitedFolders.insert(id).second)
                Walk(scan, folder + sub, level + 1);
        } else if (scan.options.showFolders) {
            scan.found.Add({shared, {}, {}, sub}, id, link);
        }
    }
    if (selectedOnly && !scan.previous.anyFileSelected)
        return;
    if (!scan.options.subfolders)
        return;
    for (std::size_t i = 0; i < files.rows.size(); ++i) {
        if (scan.Stopped())
            break;
        scan.found.Add(std::move(files.rows[i]), files.ids[i].id, files.ids[i].link);
    }
}

// Puts `rows[from[i]]` at `i` for every i, `from` being a permutation,
// following its cycles; `from` is used up on the way.
void PermuteInPlace(std::vector<FileRow>& rows, std::vector<std::size_t>& from) {
    constexpr std::size_t kDone = static_cast<std::size_t>(-1);
    for (std::size_t start = 0; start < from.size(); ++start) {
        if (from[start] == kDone || from[start] == start)
            continue;
        FileRow first = std::move(rows[start]);
        std::size_t at = start;
        while (from[at] != start) {
            const std::size_t next = from[at];
            rows[at] = std::move(rows[next]);
            from[at] = kDone;
            at = next;
        }
        rows[at] = std::move(first);
        from[at] = kDone;
    }
}

// The numbers found more than once in `numbers`, sorted. One pass over an
// open-addressing table: sorting every number of a large folder cost more
// than the rest of the choice of names.
std::vector<ino_t> RepeatedNumbers(const std::vector<ino_t>& numbers) {
    std::size_t slots = 16;
    while (slots < numbers.size() * 2)
        slots *= 2;
    // A slot holds its number plus one, so that 0 marks an empty slot.
    std::vector<std::uint64_t> table(slots, 0);
    std::vector<char> seenTwice(slots, 0);
    std::vector<ino_t> repeated;
    const int shift = 64 - std::countr_zero(slots);
    bool zeroSeen = false;
    for (const ino_t n : numbers) {
        const auto key = static_cast<std::uint64_t>(n) + 1;
        if (key == 0) {  // the largest number wraps: kept aside
            if (zeroSeen)
                repeated.push_back(n);
            zeroSeen = true;
            continue;
        }
        std::size_t at = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> shift);
        while (table[at] != 0 && table[at] != key)
            at = (at + 1) & (slots - 1);
        if (table[at] == 0) {
            table[at] = key;
        } else if (!seenTwice[at]) {
            seenTwice[at] = 1;
            repeated.push_back(n);
        }
    }
    std::sort(repeated.begin(), repeated.end());
    repeated.erase(std::unique(repeated.begin(), repeated.end()), repeated.end());
    return repeated;
}

bool IsRoot(std::string_view folder) {
    return !folder.empty() && folder.find_first_not_of('/') == std::string_view::npos;
}

}  // namespace

std::optional<std::vector<FileRow>> ScanFolder(std::string_view folder,
                                               const FolderScanOptions& options,
                                               const PreviousSelection& previous,
                                               const FolderScanHooks& hooks) {
    const std::string path(folder);
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        ::access(path.c_str(), R_OK | X_OK) != 0) {
        return std::nullopt;
    }
    Scan scan{options, previous, hooks, {{st.st_dev, st.st_ino}}, ListedExtensions(options),
              {},      {}};
    Walk(scan, path, 1);
    for (std::size_t i = 0; i < scan.linkedFolders.size() && !scan.Stopped(); ++i) {
        const Scan::Deferred next = scan.linkedFolders[i];
        if (scan.visitedFolders.insert(next.id).second)
            Walk(scan, next.path, next.level);
    }

    // One file reached by two names (a link beside its target, a hard link)
    // is listed once: a save over both would write it twice. The name kept
    // is the first in list order that is not a link, else the first.
    std::vector<FileRow>& rows = scan.found.rows;
    const auto& ids = scan.found.ids;
    const std::vector<std::size_t> order = ListOrder(rows);
    // A file's identity with its place in list order; sorted, the names of
    // one file lie side by side, in list order.
    struct Named {
        FileId id;
        std::size_t place;
        bool operator<(const Named& o) const { return id != o.id ? id < o.id : place < o.place; }
    };
    // Only a file whose inode number is listed twice can have two names;
    // most folders have none, and then the choice costs one pass over the
    // numbers.
    std::vector<ino_t> inodes;
    inodes.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].IsFile())
            inodes.push_back(ids[i].id.second);
    }
    const std::vector<ino_t> twice = RepeatedNumbers(inodes);
    std::vector<Named> byId;
    for (std::size_t place = 0; place < order.size() && !twice.empty(); ++place) {
        const std::size_t row = order[place];
        if (rows[row].IsFile() &&
            std::binary_search(twice.begin(), twice.end(), ids[row].id.second))
            byId.push_back({ids[row].id, place});
    }
    std::sort(byId.begin(), byId.end());
    std::vector<char> dropped(rows.size(), 0);
    for (std::size_t a = 0; a < byId.size();) {
        std::size_t b = a + 1;
        while (b < byId.size() && byId[b].id == byId[a].id)
            ++b;
        if (b - a > 1) {
            std::size_t keep = order[byId[a].place];
            for (std::size_t k = a; k < b; ++k) {
                const std::size_t row = order[byId[k].place];
                if (ids[keep].link && !ids[row].link)
                    keep = row;
            }
            for (std::size_t k = a; k < b; ++k)
                dropped[order[byId[k].place]] = order[byId[k].place] != keep;
        }
        a = b;
    }
    // The rows are put in order where they are: a second vector of rows
    // as large as the first costs more in fresh pages than the moves.
    const std::size_t found = rows.size();
    std::vector<std::size_t> from;
    from.reserve(found + 1);
    if (options.showFolders && !options.subfolders && !IsRoot(path)) {
        from.push_back(found);
        rows.push_back(FileRow{WithTrailingSeparator(path), {}, {}, ".."});
    }
    for (const std::size_t i : order) {
        if (!dropped[i])
            from.push_back(i);
    }
    const std::size_t kept = from.size();
    for (std::size_t i = 0; i < found; ++i) {
        if (dropped[i])
            from.push_back(i);
    }
    PermuteInPlace(rows, from);
    rows.resize(kept);
    return std::move(rows);
}

}  // namespace sondrel
