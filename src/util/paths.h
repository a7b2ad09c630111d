// SPDX-License-Identifier: GPL-3.0-or-later
// Folder-path helpers on plain text paths (UTF-8) with the platform's
// separator, plus the removal of empty folder trees.
//
// The filesystem root ("/") plays the part of a drive root: it is its own
// parent, and it is never removed.
#pragma once

#include <string>
#include <string_view>

namespace sondrel {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// `path` with a trailing separator, unless it is empty or already has one.
std::string AddBackslash(std::string_view path);

// The last component of a folder path, ignoring one trailing separator:
// "/music/album/" and "/music/album" give "album". The root has no name and
// gives "".
std::string LastFolderName(std::string_view path);

// The folder that holds `path` (one trailing separator ignored):
// "/music/album/" gives "/music", "/music" gives "/", and "/" stays "/".
// A path without a separator is returned unchanged (less a trailing one).
std::string ParentFolder(std::string_view path);

// Removes `path` and every folder under it that is empty, deepest first.
// Never deletes a file, never follows a symbolic link, never changes the
// current directory, and never touches the root. Nothing is reported:
// callers that care check what is left.
void RemoveFolderTree(std::string_view path);

// The folder of an installed Winamp player with a trailing separator, or ""
// where there is none (always "" on this platform: it has no registry).
std::string WinampFolder();

}  // namespace sondrel
