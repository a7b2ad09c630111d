// SPDX-License-Identifier: GPL-3.0-or-later
// The four commands of sondrel-tag. Each works file by file, prints a failed
// file's error on `err` with its name, and returns the exit status
// (0 all succeeded, 1 some failed).
#pragma once

#include <ostream>

#include "cli/args.h"

namespace sondrel::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// A lyrics file larger than this is refused rather than read into a tag.
inline constexpr std::uintmax_t kMaxLyricsFileBytes = 16u * 1024 * 1024;

int RunShow(const Args& args, std::ostream& out, std::ostream& err);
int RunSet(const Args& args, std::ostream& out, std::ostream& err);
int RunRemove(const Args& args, std::ostream& out, std::ostream& err);
int RunPictures(const Args& args, std::ostream& out, std::ostream& err);

}  // namespace sondrel::cli
