// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/completion.h"

#include <algorithm>
#include <cctype>

#include "cli/help.h"

namespace sondrel::cli {

namespace {

bool IsWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-';
}

void AddOnce(std::vector<std::string>& words, std::string word) {
    if (std::find(words.begin(), words.end(), word) == words.end())
        words.push_back(std::move(word));
}

// Every option a help text names: "--json", "-r"; a dash inside a word
// ("e-mail") or before a digit ("-1") is not one.
void CollectOptions(std::string_view text, std::vector<std::string>& out) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '-' || (i > 0 && (IsWordChar(text[i - 1]) || text[i - 1] == '\'')))
            continue;
        std::size_t end = i + 1;
        const bool isLong = end < text.size() && text[end] == '-';
        if (isLong)
            ++end;
        if (end >= text.size() || !std::isalpha(static_cast<unsigned char>(text[end])))
            continue;
        std::size_t stop = end;
        while (stop < text.size() && IsWordChar(text[stop]))
            ++stop;
        // A short option is one letter: "-r", not a word after a dash.
        if (!isLong && stop - end != 1)
            continue;
        AddOnce(out, std::string(text.substr(i, stop - i)));
        i = stop - 1;
    }
}

// "lookup freedb", "lookup musicbrainz": the words after the command's name
// at the start of its usage lines.
std::vector<std::string> Subcommands(std::string_view name, std::string_view text) {
    std::vector<std::string> out;
    const std::string lead = "\n  " + std::string(name) + " ";
    const std::string all = "\n" + std::string(text);
    for (std::size_t at = all.find(lead); at != std::string::npos; at = all.find(lead, at + 1)) {
        std::size_t begin = at + lead.size();
        std::size_t end = begin;
        while (end < all.size() && std::islower(static_cast<unsigned char>(all[end])))
            ++end;
        if (end > begin)
            AddOnce(out, all.substr(begin, end - begin));
    }
    return out;
}

std::string Join(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words)
        out += (out.empty() ? "" : " ") + w;
    return out;
}

std::string CommandNames(const std::vector<CompletionWords>& table) {
    std::vector<std::string> names;
    for (const auto& c : table)
        names.push_back(c.command);
    names.push_back("help");
    return Join(names);
}

std::string Bash(const std::vector<CompletionWords>& table) {
    std::string s =
        "# bash completion for sondrel-tag; made by \"sondrel-tag --completion bash\".\n"
        "_sondrel_tag() {\n"
        "    local cur=${COMP_WORDS[COMP_CWORD]}\n"
        "    COMPREPLY=()\n"
        "    if ((COMP_CWORD == 1)); then\n"
        "        COMPREPLY=($(compgen -W \"" +
        CommandNames(table) +
        " --help --version --completion\" -- \"$cur\"))\n"
        "        return\n"
        "    fi\n"
        "    local subs= opts=\n"
        "    case ${COMP_WORDS[1]} in\n";
    for (const auto& c : table) {
        s += "        " + c.command + ") subs=\"" + Join(c.subcommands) + "\" opts=\"" +
             Join(c.options) + "\" ;;\n";
    }
    s += "        help) subs=\"" + CommandNames(table) +
         "\" ;;\n"
         "        --completion) subs=\"bash zsh fish\" ;;\n"
         "    esac\n"
         "    if ((COMP_CWORD == 2)) && [[ -n $subs ]]; then\n"
         "        COMPREPLY=($(compgen -W \"$subs\" -- \"$cur\"))\n"
         "    elif [[ $cur == -* ]]; then\n"
         "        COMPREPLY=($(compgen -W \"$opts\" -- \"$cur\"))\n"
         "    fi\n"
         "}\n"
         "# Anything else is a file name (-o default).\n"
         "complete -o default -F _sondrel_tag sondrel-tag\n";
    return s;
}

std::string Zsh(const std::vector<CompletionWords>& table) {
    std::string s =
        "#compdef sondrel-tag\n"
        "# zsh completion for sondrel-tag; made by \"sondrel-tag --completion zsh\".\n"
        "_sondrel-tag() {\n"
        "    local -a subs opts\n"
        "    if (( CURRENT == 2 )); then\n"
        "        compadd -- " +
        CommandNames(table) +
        " --help --version --completion\n"
        "        return\n"
        "    fi\n"
        "    case $words[2] in\n";
    for (const auto& c : table) {
        s += "        " + c.command + ") subs=(" + Join(c.subcommands) + ") opts=(" +
             Join(c.options) + ") ;;\n";
    }
    s += "        help) subs=(" + CommandNames(table) +
         ") ;;\n"
         "        --completion) subs=(bash zsh fish) ;;\n"
         "    esac\n"
         "    if (( CURRENT == 3 && $#subs )); then\n"
         "        compadd -- $subs\n"
         "    elif [[ $PREFIX == -* ]]; then\n"
         "        compadd -- $opts\n"
         "    else\n"
         "        _files\n"
         "    fi\n"
         "}\n"
         "_sondrel-tag \"$@\"\n";
    return s;
}

std::string Fish(const std::vector<CompletionWords>& table) {
    std::string s =
        "# fish completion for sondrel-tag; made by \"sondrel-tag --completion fish\".\n"
        "complete -c sondrel-tag -n __fish_use_subcommand -f -a \"" +
        CommandNames(table) +
        "\"\n"
        "complete -c sondrel-tag -n __fish_use_subcommand -s h -l help\n"
        "complete -c sondrel-tag -n __fish_use_subcommand -s V -l version\n"
        "complete -c sondrel-tag -n __fish_use_subcommand -l completion -x -a \"bash zsh "
        "fish\"\n";
    for (const auto& c : table) {
        const std::string when = " -n \"__fish_seen_subcommand_from " + c.command + "\"";
        if (!c.subcommands.empty()) {
            s += "complete -c sondrel-tag" + when + " -n \"not __fish_seen_subcommand_from " +
                 Join(c.subcommands) + "\" -f -a \"" + Join(c.subcommands) + "\"\n";
        }
        for (const std::string& o : c.options) {
            s += "complete -c sondrel-tag" + when +
                 (o.size() == 2 ? " -s " + o.substr(1) : " -l " + o.substr(2)) + "\n";
        }
    }
    return s;
}

}  // namespace

std::vector<CompletionWords> CompletionTable() {
    std::vector<CompletionWords> table;
    for (const CommandText& c : Commands()) {
        CompletionWords words{std::string(c.name), Subcommands(c.name, c.text), {}};
        CollectOptions(c.text, words.options);
        CollectOptions(SharedHelp(), words.options);
        // Only the first word may ask for the version or a completion script.
        std::erase_if(words.options, [](const std::string& o) {
            return o == "-V" || o == "--version" || o == "--completion";
        });
        table.push_back(std::move(words));
    }
    return table;
}

std::optional<std::string> CompletionScript(std::string_view shell) {
    const auto table = CompletionTable();
    if (shell == "bash")
        return Bash(table);
    if (shell == "zsh")
        return Zsh(table);
    if (shell == "fish")
        return Fish(table);
    return std::nullopt;
}

}  // namespace sondrel::cli
