// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/paths.h"

#include <filesystem>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <direct.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace sondrel {
namespace {

// A run of trailing separators counts as one ("a//" is "a/" to the system),
// but a path made only of separators keeps one: it is the root.
std::string_view DropTrailingSeparators(std::string_view path) {
    while (!path.empty() && path.back() == kPathSeparator)
        path.remove_suffix(1);
    return path;
}

bool IsRootOnly(std::string_view path) {
    return !path.empty() && DropTrailingSeparators(path).empty();
}

#ifdef _WIN32
// "C:" names a drive; its folder is "C:\".
std::string DriveFolder(std::string_view s) {
    std::string out(s);
    if (out.size() == 2)
        out.push_back(kPathSeparator);
    return out;
}
#endif

// rmdir fails on anything that is not an empty directory, which is exactly
// the guarantee wanted: a file can never be removed by this path.
void RemoveEmptyFolder(const fs::path& p) {
#ifdef _WIN32
    (void)_wrmdir(p.c_str());
#else
    (void)::rmdir(p.c_str());
#endif
}

}  // namespace

std::string AddBackslash(std::string_view path) {
    std::string out(path);
    if (!out.empty() && out.back() != kPathSeparator)
        out.push_back(kPathSeparator);
    return out;
}

std::string LastFolderName(std::string_view path) {
    const std::string_view s = DropTrailingSeparators(path);
    const std::size_t last = s.rfind(kPathSeparator);
    return std::string(last == std::string_view::npos ? s : s.substr(last + 1));
}

std::string ParentFolder(std::string_view path) {
    if (IsRootOnly(path))
        return std::string(1, kPathSeparator);
    const std::string_view s = DropTrailingSeparators(path);
    const std::size_t last = s.rfind(kPathSeparator);
#ifdef _WIN32
    if (last == std::string_view::npos)
        return DriveFolder(s);
    return DriveFolder(s.substr(0, last));
#else
    if (last == std::string_view::npos)
        return std::string(s);
    if (last == 0)
        return std::string(1, kPathSeparator);
    return std::string(s.substr(0, last));
#endif
}

void RemoveFolderTree(std::string_view path) {
    // Emptying the whole filesystem of its empty folders is never what a
    // caller means, whatever path text it computed.
    if (path.empty() || IsRootOnly(path))
        return;
    const fs::path top(std::string(DropTrailingSeparators(path)));
    std::error_code ec;
    if (top.relative_path().empty())
        return;
    // A link to a folder is not the caller's tree: leave both link and target.
    if (!fs::is_directory(fs::symlink_status(top, ec)))
        return;

    // Pre-order listing; removing it in reverse removes children first.
    // Links to folders are listed as links and not entered.
    std::vector<fs::path> folders{top};
    fs::recursive_directory_iterator it(top, fs::directory_options::skip_permission_denied, ec);
    for (const fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->is_directory(typeError) && !it->is_symlink(typeError))
            folders.push_back(it->path());
    }
    for (auto f = folders.rbegin(); f != folders.rend(); ++f)
        RemoveEmptyFolder(*f);
}

std::string WinampFolder() {
    // The player's location lives only in the Windows registry.
    return {};
}

}  // namespace sondrel
