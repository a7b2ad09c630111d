// SPDX-License-Identifier: GPL-3.0-or-later
// Shell completion scripts for sondrel-tag (bash, zsh, fish), made from the
// tool's own command table and help texts, so a new command or option is
// completed as soon as its help names it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sondrel::cli {

// The words one command completes: its subcommands ("lookup freedb") and its
// options, each once, in the order the help names them.
struct CompletionWords {
    std::string command;
    std::vector<std::string> subcommands;
    std::vector<std::string> options;
};
std::vector<CompletionWords> CompletionTable();

// The script for "bash", "zsh" or "fish"; nullopt for another shell.
std::optional<std::string> CompletionScript(std::string_view shell);

}  // namespace sondrel::cli
