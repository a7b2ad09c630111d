#include "editor/folder_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "editor/format_registry.h"

namespace sondrel {

namespace {

using FileId = std::pair<dev_t, ino_t>;

struct Found {
    FileRow row;
    FileId id;
    bool link = false;
};

struct Scan {
    const FolderScanOptions& options;
    const PreviousSelection& previous;
    const FolderScanHooks& hooks;
    std::set<FileId> visitedFolders;
    std::vector<Found> found;
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

bool Listed(const FolderScanOptions& options, const std::string& upperExt) {
    for (const FormatHandler* h : AllFormats()) {
        for (std::string_view e : h->Extensions()) {
            if (e == upperExt) {
                return std::find(options.hiddenFormats.begin(), options.hiddenFormats.end(),
                                 h->Id()) == options.hiddenFormats.end();
            }
        }
    }
    return false;
}

void Walk(Scan& scan, const std::string& dir, int level) {
    const std::string folder = WithTrailingSeparator(dir);
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
    std::vector<Found> files;
    const int fd = ::dirfd(d);
    struct stat here {};
    if (::fstat(fd, &here) != 0) {
        ::closedir(d);
        return;
    }
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
            if (!Listed(scan.options, ext))
                continue;
            files.push_back({{folder, std::string(n), std::move(ext), std::string(n)},
                             {st.st_dev, st.st_ino},
                             link});
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
            scan.found.push_back({{folder, {}, {}, sub}, id, link});
        }
    }
    if (selectedOnly && !scan.previous.anyFileSelected)
        return;
    for (Found& f : files) {
        if (scan.Stopped())
            break;
        scan.found.push_back(std::move(f));
    }
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
    Scan scan{options, previous, hooks, {{st.st_dev, st.st_ino}}, {}, {}};
    Walk(scan, path, 1);
    for (std::size_t i = 0; i < scan.linkedFolders.size() && !scan.Stopped(); ++i) {
        const Scan::Deferred next = scan.linkedFolders[i];
        if (scan.visitedFolders.insert(next.id).second)
            Walk(scan, next.path, next.level);
    }

    // One file reached by two names (a link beside its target, a hard link)
    // is listed once: a save over both would write it twice. The name kept
    // is the first in list order that is not a link, else the first.
    std::vector<FileRow> rows;
    rows.reserve(scan.found.size());
    for (Found& f : scan.found)
        rows.push_back(std::move(f.row));
    const std::vector<std::size_t> order = ListOrder(rows);
    // A file -> the index of the name kept; only identities seen twice need
    // the choice, so the map holds the few files with several names.
    std::vector<std::pair<FileId, std::size_t>> byId;
    byId.reserve(order.size());
    for (std::size_t i : order) {
        if (rows[i].IsFile())
            byId.push_back({scan.found[i].id, i});
    }
    // Stable: equal identities stay in list order.
    std::stable_sort(byId.begin(), byId.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<char> dropped(rows.size(), 0);
    for (std::size_t a = 0; a < byId.size();) {
        std::size_t b = a + 1;
        while (b < byId.size() && byId[b].first == byId[a].first)
            ++b;
        if (b - a > 1) {
            std::size_t keep = byId[a].second;
            for (std::size_t k = a; k < b; ++k) {
                if (scan.found[keep].link && !scan.found[byId[k].second].link)
                    keep = byId[k].second;
            }
            for (std::size_t k = a; k < b; ++k)
                dropped[byId[k].second] = byId[k].second != keep;
        }
        a = b;
    }
    std::vector<FileRow> sorted;
    sorted.reserve(order.size() + 1);
    if (options.showFolders && !options.subfolders && !IsRoot(path))
        sorted.push_back(FileRow{WithTrailingSeparator(path), {}, {}, ".."});
    for (std::size_t i : order) {
        if (!dropped[i])
            sorted.push_back(std::move(rows[i]));
    }
    return sorted;
}

}  // namespace sondrel
