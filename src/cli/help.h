// SPDX-License-Identifier: GPL-3.0-or-later
// The help texts of sondrel-tag: the whole help, one command's help, and the
// one-line hint after a usage error.
#pragma once

#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

namespace sondrel::cli {

// One command of the tool with its own part of the help (its usage lines and
// options); the shell completions take their words from these.
struct CommandText {
    std::string_view name;
    std::string_view text;
};
std::span<const CommandText> Commands();
// The options every command's help ends with (name, read, file and output
// options, --help, --version).
std::string_view SharedHelp();

// Everything `--help` prints.
void PrintHelp(std::ostream& out);
// The help of one command; nullopt for an unknown command.
std::optional<std::string> CommandHelp(std::string_view command);
// A usage error: the message, then one line saying where the help is.
// Returns the exit status of a usage error (2).
int UsageError(std::ostream& err, std::string_view command, const std::string& message);

}  // namespace sondrel::cli
