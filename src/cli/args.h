// SPDX-License-Identifier: GPL-3.0-or-later
// Command-line parsing of sondrel-tag: turns argv into one command with its
// options, or a usage error (exit status 2).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "editor/format_bridge.h"

namespace sondrel::cli {

// Fields given to `set`; unset members are left as the file has them.
struct FieldEdits : PerField<std::optional<std::string>> {
    std::optional<std::string> lyricsFile;
    bool Any() const;
};

struct PictureOps {
    bool list = false;
    std::optional<std::string> add;
    std::optional<int> position;  // for --add; the end of the list when unset
    std::string description;
    std::optional<int> type;  // for --add: the ID3v2 picture type, 3 (front cover) when unset
    std::optional<int> remove;
    std::optional<int> extract;
    std::string extractTo;
    bool force = false;  // --extract may replace an existing file
};

enum class Command { Show, Set, Remove, Pictures };

struct Args {
    Command command = Command::Show;
    std::vector<std::string> files;
    bool json = false;
    EditorOptions editor;
    FieldEdits edits;
    std::optional<RemoveKind> removeKind;
    PictureOps pictures;
};

struct ParseResult {
    std::optional<Args> args;
    std::string error;  // set when args is empty
};

// The genre table's entry a --genre value names by number ("17"), or
// nullopt for a value that is not a plain number.
std::optional<unsigned> GenreNumber(const std::string& value);

// `argv` without the program name, starting at the command.
ParseResult ParseArgs(const std::vector<std::string>& argv);

}  // namespace sondrel::cli
