// SPDX-License-Identifier: GPL-3.0-or-later
// The look-up command of sondrel-tag: "lookup freedb FILE..." finds the
// album of the files on a FreeDB server and, with --disc N --write, writes
// it into them, over the same engine as the batch window; "lookup
// musicbrainz", "lookup covers" and "lookup lyrics" do the same with
// MusicBrainz, the Cover Art Archive and LRCLIB.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace sondrel::cli {

// Runs `argv` (without the program name, starting at the command) when its
// command is "lookup" and returns the exit status (0 success, 1 the
// look-up or a file failed, 2 usage error); nullopt for any other command.
std::optional<int> RunLookupCommand(const std::vector<std::string>& argv, std::ostream& out,
                                    std::ostream& err);

}  // namespace sondrel::cli
