// SPDX-License-Identifier: GPL-3.0-or-later
// sondrel-tag: reads and writes tags from the command line over the same core
// as the desktop program; machine-readable output is JSON.
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/args.h"
#include "cli/batch_commands.h"
#include "cli/commands.h"
#include "cli/completion.h"
#include "cli/help.h"
#include "cli/lookup_command.h"
#include "tags/file_io.h"
#include "tags/region_write.h"
#include "util/version.h"

namespace {

using sondrel::cli::kExitOk;
using sondrel::cli::kExitUsage;

bool IsHelp(std::string_view arg) {
    return arg == "--help" || arg == "-h";
}

}  // namespace

int main(int argc, char** argv) {
    // A full file-size limit fails the write instead of killing a save midway;
    // an interrupted save takes its temporary file with it.
    sondrel::PrepareProcessForSaves(true);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return sondrel::cli::UsageError(std::cerr, "", "missing command");
    const std::string_view first = args.front();
    if (IsHelp(first) || first == "help") {
        // "help COMMAND" is that command's help.
        if (args.size() > 1) {
            if (const auto text = sondrel::cli::CommandHelp(args[1])) {
                std::cout << *text;
                return kExitOk;
            }
        }
        sondrel::cli::PrintHelp(std::cout);
        return kExitOk;
    }
    // "COMMAND --help" anywhere before "--".
    if (const auto text = sondrel::cli::CommandHelp(first)) {
        for (std::size_t i = 1; i < args.size() && args[i] != "--"; ++i) {
            if (IsHelp(args[i])) {
                std::cout << *text;
                return kExitOk;
            }
        }
    }
    if (first == "--completion") {
        const auto script =
            args.size() == 2 ? sondrel::cli::CompletionScript(args[1]) : std::nullopt;
        if (!script)
            return sondrel::cli::UsageError(std::cerr, "", "--completion takes bash, zsh or fish");
        std::cout << *script;
        return kExitOk;
    }
    if (first == "--version" || first == "-V") {
        std::cout << "sondrel-tag " << sondrel::Version() << "\n";
        return kExitOk;
    }
    // What the recovery of interrupted saves had to leave alone is told by
    // every command until the user has dealt with it.
    for (const std::string& problem : sondrel::JournalProblems())
        std::cerr << "sondrel-tag: " << problem << "\n";
    if (const auto status = sondrel::cli::RunBatchCommand(args, std::cout, std::cerr))
        return *status;
    if (const auto status = sondrel::cli::RunLookupCommand(args, std::cout, std::cerr))
        return *status;
    const auto parsed = sondrel::cli::ParseArgs(args);
    if (!parsed.args)
        return sondrel::cli::UsageError(std::cerr, first, parsed.error);
    const auto& a = *parsed.args;
    using sondrel::cli::Command;
    switch (a.command) {
        case Command::Show:
            return sondrel::cli::RunShow(a, std::cout, std::cerr);
        case Command::Set:
            return sondrel::cli::RunSet(a, std::cout, std::cerr);
        case Command::Remove:
            return sondrel::cli::RunRemove(a, std::cout, std::cerr);
        case Command::Pictures:
            return sondrel::cli::RunPictures(a, std::cout, std::cerr);
    }
    return kExitUsage;
}
