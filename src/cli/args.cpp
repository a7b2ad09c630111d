// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/args.h"

#include <charconv>
#include <string_view>
#include <utility>

namespace sondrel::cli {

namespace {

std::optional<int> Choice(std::string_view v) {
    if (v == "1")
        return kVersion1;
    if (v == "2")
        return kVersion2;
    if (v == "12")
        return kVersion12;
    return std::nullopt;
}

std::optional<int> NonNegative(std::string_view v) {
    int n = 0;
    const auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
    if (ec != std::errc() || ptr != v.data() + v.size() || v.empty() || n < 0)
        return std::nullopt;
    return n;
}

// Walks the arguments; options may come before or after the files, and "--"
// ends the options.
class Walker {
public:
    explicit Walker(const std::vector<std::string>& argv) : argv_(argv) {}
    bool Done() const { return i_ >= argv_.size(); }
    const std::string& Next() { return argv_[i_++]; }
    // The value after an option; nullopt when it is missing.
    std::optional<std::string> Value() {
        if (Done())
            return std::nullopt;
        return Next();
    }

private:
    const std::vector<std::string>& argv_;
    std::size_t i_ = 0;
};

std::optional<RemoveKind> RemoveKindOf(std::string_view arg) {
    static constexpr std::pair<std::string_view, RemoveKind> kKinds[] = {
        {"--id3v1", RemoveKind::Id3v1}, {"--id3v2", RemoveKind::Id3v2},
        {"--all", RemoveKind::AllId3},  {"--ogg", RemoveKind::Ogg},
        {"--ape", RemoveKind::Ape},     {"--wma", RemoveKind::Wma},
        {"--mp4", RemoveKind::Mp4},
    };
    for (const auto& [name, kind] : kKinds) {
        if (arg == name)
            return kind;
    }
    return std::nullopt;
}

ParseResult Fail(std::string message) {
    return {std::nullopt, std::move(message)};
}

}  // namespace

std::optional<unsigned> GenreNumber(const std::string& value) {
    if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos ||
        value.size() > 3)
        return std::nullopt;
    return static_cast<unsigned>(std::stoul(value));
}

bool FieldEdits::Any() const {
    for (const auto& v : values) {
        if (v)
            return true;
    }
    return lyricsFile.has_value();
}

ParseResult ParseArgs(const std::vector<std::string>& argv) {
    if (argv.empty())
        return Fail("missing command");
    Args a;
    const std::string& command = argv.front();
    if (command == "show")
        a.command = Command::Show;
    else if (command == "set")
        a.command = Command::Set;
    else if (command == "remove")
        a.command = Command::Remove;
    else if (command == "pictures")
        a.command = Command::Pictures;
    else
        return Fail("unknown command or option '" + command + "'");

    const std::vector<std::string> rest(argv.begin() + 1, argv.end());
    Walker w(rest);
    bool optionsEnded = false;
    const bool isSet = a.command == Command::Set;
    const bool readsTags = a.command == Command::Show || isSet;

    while (!w.Done()) {
        const std::string& arg = w.Next();
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            a.files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::optional<std::string>* text = nullptr;
        for (const auto& entry : kFieldTable) {
            if (arg == entry.option)
                text = &a.edits[entry.field];
        }
        if (arg == "--lyrics-file")
            text = &a.edits.lyricsFile;
        if (text && isSet) {
            auto v = w.Value();
            if (!v)
                return Fail(arg + " needs a value");
            *text = std::move(*v);
        } else if (arg == "--json" && a.command == Command::Show) {
            a.json = true;
        } else if ((arg == "--read" && readsTags) || (arg == "--save" && isSet)) {
            auto v = w.Value();
            const auto c = v ? Choice(*v) : std::nullopt;
            if (!c)
                return Fail(arg + " takes 1, 2 or 12");
            (arg == "--read" ? a.editor.readChoice : a.editor.saveChoice) = *c;
        } else if (arg == "--case" && readsTags) {
            auto v = w.Value();
            const auto n = v ? NonNegative(*v) : std::nullopt;
            if (!n || *n > 4)
                return Fail("--case takes 0 to 4");
            a.editor.capitalization = *n;
        } else if (arg == "--codepage" && a.command != Command::Pictures) {
            auto v = w.Value();
            if (!v || v->empty())
                return Fail("--codepage needs a value");
            a.editor.legacyCodePage = *v;
        } else if (arg == "--no-lyrics3" && isSet) {
            a.editor.useLyrics3 = false;
        } else if (a.command == Command::Remove && RemoveKindOf(arg)) {
            if (a.removeKind)
                return Fail("give only one of --id3v1, --id3v2, --all, --ogg, --ape, --wma, --mp4");
            a.removeKind = RemoveKindOf(arg);
        } else if (a.command == Command::Pictures && arg == "--list") {
            a.pictures.list = true;
        } else if (a.command == Command::Pictures && arg == "--force") {
            a.pictures.force = true;
        } else if (a.command == Command::Pictures && (arg == "--add" || arg == "--desc")) {
            auto v = w.Value();
            if (!v)
                return Fail(arg + " needs a value");
            if (arg == "--add")
                a.pictures.add = std::move(*v);
            else
                a.pictures.description = std::move(*v);
        } else if (a.command == Command::Pictures && arg == "--type") {
            auto v = w.Value();
            const auto n = v ? NonNegative(*v) : std::nullopt;
            if (!n || *n > 20)
                return Fail("--type takes a picture type from 0 to 20 (3: front cover)");
            a.pictures.type = *n;
        } else if (a.command == Command::Pictures && (arg == "--pos" || arg == "--delete")) {
            auto v = w.Value();
            const auto n = v ? NonNegative(*v) : std::nullopt;
            if (!n)
                return Fail(arg + " takes a picture position (0, 1, ...)");
            (arg == "--pos" ? a.pictures.position : a.pictures.remove) = *n;
        } else if (a.command == Command::Pictures && arg == "--extract") {
            auto v = w.Value();
            const auto n = v ? NonNegative(*v) : std::nullopt;
            auto out = w.Value();
            if (!n || !out)
                return Fail("--extract takes a picture position and an output file");
            a.pictures.extract = *n;
            a.pictures.extractTo = std::move(*out);
        } else {
            return Fail("unknown option '" + arg + "' for " + command);
        }
    }

    if (a.files.empty())
        return Fail(command + ": no file given");
    if (a.edits[Field::Lyrics] && a.edits.lyricsFile)
        return Fail("give either --lyrics or --lyrics-file");
    if (isSet && !a.edits.Any())
        return Fail("set: no field to change");
    if (const auto& genre = a.edits[Field::Genre]) {
        if ((genre->find_first_not_of("0123456789") == std::string::npos && !genre->empty() &&
             (genre->size() > 3 || *GenreNumber(*genre) >= kGenreCount)))
            return Fail("--genre takes a genre name or a number from 0 to " +
                        std::to_string(kGenreCount - 1) + " (empty removes the genre)");
    }
    if (a.command == Command::Remove && !a.removeKind)
        return Fail("remove: give --id3v1, --id3v2, --all, --ogg, --ape, --wma or --mp4");
    if (a.command == Command::Pictures) {
        const PictureOps& p = a.pictures;
        if (a.files.size() != 1)
            return Fail("pictures: give exactly one file");
        const int actions = (p.add ? 1 : 0) + (p.remove ? 1 : 0) + (p.extract ? 1 : 0);
        if (actions > 1)
            return Fail("pictures: give only one of --add, --delete, --extract");
        if ((p.position || !p.description.empty() || p.type) && !p.add)
            return Fail("pictures: --pos, --desc and --type go with --add");
        if (p.force && !p.extract)
            return Fail("pictures: --force goes with --extract");
        if (actions == 0)
            a.pictures.list = true;
    }
    return {std::move(a), {}};
}

}  // namespace sondrel::cli
