// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/batch_commands.h"

#include "cli/help.h"
#include "cli/json_writer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>

#include "batch/batch_row.h"
#include "batch/export.h"
#include "batch/name_parse.h"
#include "batch/name_template.h"
#include "editor/format_registry.h"
#include "editor/tag_jobs.h"
#include "tags/file_io.h"
#include "util/paths.h"

namespace sondrel::cli {

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;

std::optional<int> IntIn(std::string_view v, int low, int high) {
    int n = 0;
    const auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
    if (v.empty() || ec != std::errc() || ptr != v.data() + v.size() || n < low || n > high)
        return std::nullopt;
    return n;
}

// What every batch command shares: the files and the options that shape
// names and values.
struct Common {
    std::vector<std::string> files;
    NameOptions name;
    int trackStyle = kTrackStyleX;
    bool dryRun = false;
    EditorOptions editor;  // how tags are read and saved, as for set
    bool recursive = false;
    std::optional<std::string> filesFrom;
    bool quiet = false;    // no result lines (messages stay)
    bool verbose = false;  // a count of what happened at the end
    bool json = false;     // results as one JSON array
};

// What happened to one file, for the text and JSON results.
struct Result {
    std::string old;
    std::string now;  // the new path (rename), the output (export), else the file
    std::string status;
    std::string message;
    std::vector<std::pair<std::string, std::string>> tags;  // parse: the fields set
};

// Prints the results: a JSON array ("-" keys in byte order), or the text
// lines of the files that did what was asked; failures are printed on
// `err` as they happen, so text mode leaves them out here.
void PrintResults(const Common& common, const std::vector<Result>& results,
                  const std::string& okStatus, std::ostream& out, std::ostream& err,
                  const std::function<void(const Result&)>& textLine) {
    if (common.json) {
        std::string json;
        JsonWriter w(json);
        w.BeginArray();
        for (const Result& r : results) {
            w.BeginObject();
            w.Key("message");
            w.String(r.message);
            w.Key("new");
            w.String(r.now);
            w.Key("old");
            w.String(r.old);
            w.Key("status");
            w.String(r.status);
            if (!r.tags.empty()) {
                w.Key("tags");
                w.BeginObject();
                for (const auto& [key, value] : r.tags) {
                    w.Key(key);
                    w.String(value);
                }
                w.EndObject();
            }
            w.EndObject();
        }
        w.EndArray();
        out << json << "\n";
    } else if (!common.quiet) {
        for (const Result& r : results) {
            if (r.status == okStatus)
                textLine(r);
        }
    }
    if (common.verbose) {
        std::map<std::string, int> counts;
        for (const Result& r : results)
            ++counts[r.status];
        std::string summary;
        for (const auto& [status, n] : counts)
            summary += (summary.empty() ? "" : ", ") + std::to_string(n) + " " + status;
        err << "sondrel-tag: " << results.size()
            << " file(s): " << (summary.empty() ? "none" : summary) << "\n";
    }
}

// Walks argv; options may come before or after the files and "--" ends the
// options. `own` handles a command's own options and returns false with
// `error` set for a bad one, or nullopt when the option is not its own.
class Parser {
public:
    explicit Parser(const std::vector<std::string>& argv) : argv_(argv) {}

    template <typename Own>
    bool Run(Common& common, Own own, std::string& error) {
        bool filesOnly = false;
        while (i_ < argv_.size()) {
            const std::string& a = argv_[i_++];
            if (filesOnly || a.empty() || a.front() != '-' || a == "-") {
                common.files.push_back(a);
                continue;
            }
            if (a == "--") {
                filesOnly = true;
                continue;
            }
            if (const std::optional<bool> handled = own(a, *this, error)) {
                if (!*handled)
                    return false;
                continue;
            }
            if (!Shared(a, common, error))
                return false;
        }
        if (common.files.empty() && !common.filesFrom) {
            error = "no files given";
            return false;
        }
        return true;
    }

    // The value after option `a`.
    std::optional<std::string> Value(const std::string& a, std::string& error) {
        if (i_ >= argv_.size()) {
            error = a + " needs a value";
            return std::nullopt;
        }
        return argv_[i_++];
    }

    bool Number(const std::string& a, int low, int high, int& target, std::string& error) {
        const auto v = Value(a, error);
        if (!v)
            return false;
        const auto n = IntIn(*v, low, high);
        if (!n) {
            error =
                a + " takes a number from " + std::to_string(low) + " to " + std::to_string(high);
            return false;
        }
        target = *n;
        return true;
    }

private:
    bool Shared(const std::string& a, Common& c, std::string& error) {
        if (a == "--replace")
            return Number(a, 0, 3, c.name.replace, error);
        if (a == "--case")
            return Number(a, 0, 4, c.name.capitalization, error);
        if (a == "--translit")
            return Number(a, 0, 2, c.name.transliteration, error);
        if (a == "--track-style")
            return Number(a, 0, 2, c.trackStyle, error);
        if (a == "--keep-bad-letters") {
            c.name.deleteBadLetters = false;
            return true;
        }
        if (a == "--keep-spaces") {
            c.name.removeExtraSpaces = false;
            return true;
        }
        if (a == "--dry-run") {
            c.dryRun = true;
            return true;
        }
        if (a == "--read" || a == "--save") {
            const auto v = Value(a, error);
            if (!v)
                return false;
            const int choice = *v == "1"    ? kVersion1
                               : *v == "2"  ? kVersion2
                               : *v == "12" ? kVersion12
                                            : 0;
            if (choice == 0) {
                error = a + " takes 1, 2 or 12";
                return false;
            }
            (a == "--read" ? c.editor.readChoice : c.editor.saveChoice) = choice;
            return true;
        }
        if (a == "--codepage") {
            const auto v = Value(a, error);
            if (!v)
                return false;
            if (v->empty()) {
                error = "--codepage needs a value";
                return false;
            }
            c.editor.legacyCodePage = *v;
            return true;
        }
        if (a == "--no-lyrics3") {
            c.editor.useLyrics3 = false;
            return true;
        }
        if (a == "-r" || a == "--recursive") {
            c.recursive = true;
            return true;
        }
        if (a == "-q" || a == "--quiet") {
            c.quiet = true;
            return true;
        }
        if (a == "-v" || a == "--verbose") {
            c.verbose = true;
            return true;
        }
        if (a == "--json") {
            c.json = true;
            return true;
        }
        if (a == "--files-from") {
            c.filesFrom = Value(a, error);
            return c.filesFrom.has_value();
        }
        error = "unknown option '" + a + "'";
        return false;
    }

    const std::vector<std::string>& argv_;
    std::size_t i_ = 1;  // past the command
};

std::string CurrentFolder() {
    std::error_code ec;
    const auto cwd = std::filesystem::current_path(ec);
    return ec ? std::string() : cwd.string();
}

// Rows of the regular files among the arguments; anything else (a missing
// file, a folder) is reported and counted as a failure.
// The names in a list file ("-": standard input), separated by NUL bytes
// when the list holds any, else by line ends.
std::optional<std::vector<std::string>> NamesFrom(const std::string& list, std::string& error) {
    std::string text;
    if (list == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        std::ifstream in(list, std::ios::binary);
        if (!in) {
            error = "cannot read the file list " + list;
            return std::nullopt;
        }
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const char separator = text.find('\0') != std::string::npos ? '\0' : '\n';
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find(separator, start);
        if (end == std::string::npos)
            end = text.size();
        std::string name = text.substr(start, end - start);
        if (separator == '\n' && !name.empty() && name.back() == '\r')
            name.pop_back();
        if (!name.empty())
            names.push_back(std::move(name));
        start = end + 1;
    }
    return names;
}

// The audio files under a folder (by extension), in name order.
std::vector<std::string> AudioFilesUnder(const std::string& folder) {
    std::vector<std::string> found;
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->is_regular_file(ec) && HandlerOfPath(it->path().string()))
            found.push_back(it->path().string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

// Rows of the regular files among the arguments (folders walked with -r,
// the list of --files-from added); anything else (a missing file, a folder
// without -r) is reported and counted as a failure.
std::vector<BatchRow> ReadRows(TagBridge& bridge, const Common& common, std::ostream& err,
                               bool& failed) {
    std::vector<std::string> names = common.files;
    if (common.filesFrom) {
        std::string error;
        const auto listed = NamesFrom(*common.filesFrom, error);
        if (!listed) {
            err << "sondrel-tag: " << error << "\n";
            failed = true;
        } else {
            names.insert(names.end(), listed->begin(), listed->end());
        }
    }
    std::vector<std::string> usable;
    for (const std::string& f : names) {
        std::error_code ec;
        if (std::filesystem::is_directory(f, ec)) {
            if (common.recursive) {
                const auto under = AudioFilesUnder(f);
                usable.insert(usable.end(), under.begin(), under.end());
            } else {
                err << "sondrel-tag: " << f
                    << ": is a folder (give -r to work on the files in it)\n";
                failed = true;
            }
        } else if (FileExists(f)) {
            usable.push_back(f);
        } else {
            err << "sondrel-tag: " << f << ": no such file\n";
            failed = true;
        }
    }
    ScanOptions scan;
    scan.subfolderMode = true;
    scan.trackStyle = common.trackStyle;
    return ReadBatchRows(bridge, BatchFilesOf(usable), scan);
}

// Whether the template holds a placeholder that captures what "%c" reads.
bool TemplateFills(std::string_view nameTemplate, char c) {
    const int slot = Captures::SlotOf(c);
    for (std::size_t p = nameTemplate.find('%'); p != std::string_view::npos;
         p = nameTemplate.find('%', p + 1)) {
        if (p + 1 < nameTemplate.size() && Captures::SlotOf(nameTemplate[p + 1]) == slot)
            return true;
    }
    return false;
}

int Usage(std::ostream& err, const std::vector<std::string>& argv, const std::string& message) {
    return UsageError(err, argv.front(), message);
}

int RunRename(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err) {
    Common common;
    std::optional<std::string> nameTemplate;
    std::string error;
    Parser parser(argv);
    const bool ok = parser.Run(
        common,
        [&](const std::string& a, Parser& p, std::string& e) -> std::optional<bool> {
            if (a != "--template")
                return std::nullopt;
            nameTemplate = p.Value(a, e);
            return nameTemplate.has_value();
        },
        error);
    if (!ok)
        return Usage(err, argv, error);
    if (!nameTemplate)
        return Usage(err, argv, "rename needs --template");

    // Names are made in each file's own folder; an absolute template would
    // print one place and reach another.
    if (!nameTemplate->empty() && (nameTemplate->front() == '/' || nameTemplate->front() == '\\'))
        return Usage(err, argv,
                     "rename: the template must be relative (folders are made in each "
                     "file's own folder)");

    TagBridge bridge(common.editor);
    bool failed = false;
    std::vector<BatchRow> rows = ReadRows(bridge, common, err, failed);
    PreviewNames(rows, *nameTemplate, common.name);
    RenameContext context;
    context.shownFolder = CurrentFolder();
    context.subfolderMode = true;
    context.fromFileFolder = true;
    context.dryRun = common.dryRun;
    const RenameResult result = ::sondrel::RunRename(rows, context);
    // The printed target is the path the file went to (or, in a dry run,
    // would go to).
    const std::string okStatus = common.dryRun ? "would rename" : "renamed";
    std::vector<Result> results;
    for (std::size_t k = 0; k < result.renamed.size(); ++k)
        results.push_back({rows[result.renamed[k]].Before(), result.targets[k], okStatus, {}, {}});
    for (std::size_t k = 0; k < result.outcomes.size(); ++k) {
        const RenameOutcome& o = result.outcomes[k];
        const bool noName = o.Code == kOutcomeOk;
        const std::string reason =
            !noName ? result.reasons[k]
                    : "not renamed: the tags give no name (\"" + o.NewName + "\")";
        err << "sondrel-tag: " << o.Path << ": " << reason << "\n";
        results.push_back({o.Path, {}, noName ? "not renamed" : "failed", reason, {}});
    }
    PrintResults(common, results, okStatus, out, err,
                 [&out](const Result& r) { out << r.old << " → " << r.now << "\n"; });
    return failed || !result.outcomes.empty() ? kFailed : kOk;
}

int RunParse(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err) {
    Common common;
    GenerateOptions options;
    bool templateGiven = false;
    std::optional<std::string> start;
    static const std::map<std::string, ParseField, std::less<>> kFieldOptions = {
        {"--track", kFieldTrack}, {"--title", kFieldTitle}, {"--artist", kFieldArtist},
        {"--album", kFieldAlbum}, {"--year", kFieldYear},   {"--comment", kFieldComment},
    };
    // With any field named, only the named fields take part.
    std::set<ParseField> named;
    std::string error;
    Parser parser(argv);
    const bool ok = parser.Run(
        common,
        [&](const std::string& a, Parser& p, std::string& e) -> std::optional<bool> {
            if (a == "--template") {
                const auto v = p.Value(a, e);
                if (v)
                    options.nameTemplate = *v;
                templateGiven = v.has_value();
                return templateGiven;
            }
            if (a == "--mode") {
                const auto v = p.Value(a, e);
                if (!v)
                    return false;
                if (*v == "leave")
                    options.mode = kModeLeave;
                else if (*v == "overwrite")
                    options.mode = kModeOverwrite;
                else if (*v == "empty")
                    options.mode = kModeOnlyEmpty;
                else {
                    e = "--mode takes leave, overwrite or empty";
                    return false;
                }
                return true;
            }
            if (a == "--number") {
                start = p.Value(a, e);
                if (start && !IntIn(*start, 0, 999999)) {
                    e = "--number takes a whole number from 0";
                    return false;
                }
                return start.has_value();
            }
            const auto field = kFieldOptions.find(a);
            if (field == kFieldOptions.end())
                return std::nullopt;
            const auto v = p.Value(a, e);
            if (!v)
                return false;
            options.fields[field->second].expression = *v;
            named.insert(field->second);
            return true;
        },
        error);
    if (!ok)
        return Usage(err, argv, error);
    if (!templateGiven)
        return Usage(err, argv, "parse needs --template");
    for (std::size_t i = 0; i < kParseFieldCount; ++i) {
        FieldExpression& field = options.fields[i];
        // Without a preview to look at, a field the template cannot fill is
        // not emptied behind the user's back: by default only the fields
        // whose placeholder the template holds take part.
        field.enabled = named.empty() ? TemplateFills(options.nameTemplate, field.expression[1])
                                      : named.count(static_cast<ParseField>(i)) > 0;
    }
    if (start) {
        options.autoNumbering = true;
        options.fields[kFieldTrack].expression = AutoNumberExpression(*start);
    }
    options.name = common.name;
    options.trackStyle = common.trackStyle;
    options.shownFolderName = LastFolderName(CurrentFolder());

    TagBridge bridge(common.editor);
    bool failedRead = false;
    std::vector<BatchRow> rows = ReadRows(bridge, common, err, failedRead);
    // The files are written as one save group: flushed together, a file
    // whose flush or rename fails counted as failed.
    SaveGroup group(SaveGroup::LargeRunLimits());
    std::optional<BridgeInGroup> inGroup;
    if (rows.size() > 1)
        inGroup.emplace(bridge, group);
    GenerateResult result =
        GenerateTags(rows, options, common.dryRun ? nullptr : &bridge, [&group] {
            if (group.Full())
                group.Commit();
            return true;
        });
    group.Commit();
    for (const auto& [path, error] : group.Failures()) {
        std::erase_if(result.written,
                      [&, &path = path](std::size_t i) { return rows[i].data.FullPath() == path; });
        result.failures.push_back({path, error});
    }
    std::set<std::string> failed;
    for (const auto& f : result.failures) {
        err << "sondrel-tag: " << f.path << ": " << f.error << "\n";
        failed.insert(f.path);
    }
    std::set<std::size_t> written(result.written.begin(), result.written.end());
    static const std::array<const char*, kParseFieldCount> kLabels = {"track", "title", "artist",
                                                                      "album", "year",  "comment"};
    bool skipped = false;
    std::vector<Result> results;
    for (const auto& f : result.failures)
        results.push_back({f.path, f.path, "failed", f.error, {}});
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const BatchRow& r = rows[i];
        if (failed.count(r.data.FullPath()))
            continue;
        // Rows the job leaves alone say why, the same in a dry run.
        if (!r.Problem.empty()) {
            err << "sondrel-tag: " << r.Before() << ": " << r.Problem << " (left unchanged)\n";
            results.push_back({r.Before(), r.Before(), "skipped", r.Problem, {}});
            skipped = true;
            continue;
        }
        Result one{r.Before(), r.Before(), "", {}, {}};
        one.status = common.dryRun           ? "would write"
                     : written.count(i) == 0 ? "unchanged"
                                             : "written";
        // Only the fields the job sets, as they are written.
        const std::array<const std::string*, kParseFieldCount> values = {
            &r.NewTrack, &r.NewTitle, &r.NewArtist, &r.NewAlbum, &r.NewYear, &r.NewComment};
        for (std::size_t f = 0; f < kParseFieldCount; ++f) {
            if (FieldTakesPart(r, options, static_cast<ParseField>(f)))
                one.tags.emplace_back(kLabels[f], *values[f]);
        }
        results.push_back(std::move(one));
    }
    // Text: every file that was not skipped or failed, with its fields.
    if (!common.json && !common.quiet) {
        for (const Result& r : results) {
            if (r.status == "skipped" || r.status == "failed")
                continue;
            out << r.old << (r.status == "unchanged" ? " (left unchanged)" : "") << "\n";
            for (const auto& [key, value] : r.tags)
                out << "  " << key << ": " << value << "\n";
        }
    }
    Common jsonOnly = common;
    jsonOnly.quiet = true;  // the text is printed above
    PrintResults(jsonOnly, results, {}, out, err, [](const Result&) {});
    return result.failures.empty() && !failedRead && !skipped ? kOk : kFailed;
}

int RunExport(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err) {
    Common common;
    std::optional<ExportKind> kind;
    std::optional<std::string> output;
    ExportLayout layout;
    layout.slots = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    static const std::array<std::string_view, kOptionalColumnCount> kColumnNames = {
        "track",   "title",   "artist", "album",    "year", "genre",
        "comment", "bitrate", "freq",   "duration", "size"};
    std::string error;
    Parser parser(argv);
    const bool ok = parser.Run(
        common,
        [&](const std::string& a, Parser& p, std::string& e) -> std::optional<bool> {
            if (a == "--format") {
                const auto v = p.Value(a, e);
                if (!v)
                    return false;
                if (*v == "csv")
                    kind = ExportKind::Csv;
                else if (*v == "tsv")
                    kind = ExportKind::Tsv;
                else if (*v == "m3u")
                    kind = ExportKind::M3u;
                else if (*v == "pls")
                    kind = ExportKind::Pls;
                else {
                    e = "--format takes csv, tsv, m3u or pls";
                    return false;
                }
                return true;
            }
            if (a == "--output") {
                output = p.Value(a, e);
                return output.has_value();
            }
            if (a == "--escape-formulas") {
                layout.escapeFormulas = true;
                return true;
            }
            if (a == "--separator") {
                const auto v = p.Value(a, e);
                if (!v)
                    return false;
                if (*v == "\\t" || *v == "tab")
                    layout.csvSeparator = '\t';
                else if (v->size() == 1 && (*v)[0] != '"' && (*v)[0] != '\r' && (*v)[0] != '\n')
                    layout.csvSeparator = (*v)[0];
                else {
                    e = "--separator takes one character, such as ';' or ','";
                    return false;
                }
                return true;
            }
            if (a == "--columns") {
                const auto v = p.Value(a, e);
                if (!v)
                    return false;
                layout.slots.clear();
                std::string_view list = *v;
                while (!list.empty()) {
                    const auto comma = list.find(',');
                    const std::string_view name = list.substr(0, comma);
                    int slot = -1;
                    for (std::size_t s = 0; s < kColumnNames.size(); ++s)
                        if (kColumnNames[s] == name)
                            slot = static_cast<int>(s);
                    if (slot < 0) {
                        e = "unknown column '" + std::string(name) + "'";
                        return false;
                    }
                    layout.slots.push_back(slot);
                    list = comma == std::string_view::npos ? std::string_view()
                                                           : list.substr(comma + 1);
                }
                return true;
            }
            return std::nullopt;
        },
        error);
    if (!ok)
        return Usage(err, argv, error);
    if (!kind || !output)
        return Usage(err, argv, "export needs --format and --output");
    if (common.json && (*output == "-" || common.dryRun))
        return Usage(err, argv, "--json and a list on standard output exclude each other");

    TagBridge bridge(common.editor);
    bool failed = false;
    std::vector<BatchRow> all = ReadRows(bridge, common, err, failed);
    // An existing device or pipe (/dev/null, a FIFO) is written as it is
    // named; only a new file gets the format's extension.
    const bool special = KindOfPath(*output) == PathKind::NotRegular;
    const std::string path = *output == "-" || special ? *output : ExportFileName(*output, *kind);
    // "--output *.mp3" hands over the first audio file as the output: a
    // list is never written over a file it lists.
    for (const BatchRow& row : all) {
        std::error_code ec;
        if (std::filesystem::equivalent(path, row.data.FullPath(), ec) && !ec) {
            err << "sondrel-tag: " << path << ": is one of the listed files\n";
            return kFailed;
        }
    }
    // Only audio files go into a list, and into a playlist only names that
    // fit on its lines; the others are reported.
    const bool playlist = *kind == ExportKind::M3u || *kind == ExportKind::Pls;
    std::vector<BatchRow> rows;
    std::vector<Result> results;
    for (BatchRow& row : all) {
        std::string problem = row.data.Valid ? std::string() : row.data.Problem;
        if (problem.empty() && playlist)
            problem = PlaylistRefusal(row.data.FullPath());
        if (problem.empty()) {
            rows.push_back(std::move(row));
            continue;
        }
        err << "sondrel-tag: " << row.data.FullPath() << ": " << problem << " (not listed)\n";
        results.push_back({row.data.FullPath(), {}, "skipped", problem, {}});
        failed = true;
    }
    PreviewExport(rows, common.name.transliteration, common.name.capitalization);
    // "-" is standard output: the text alone, without the byte-order mark
    // a file gets.
    if (common.dryRun || *output == "-") {
        out << BuildExportText(*kind, rows, layout);
        return failed ? kFailed : kOk;
    }
    const IoResult written = WriteExportFile(path, *kind, rows, layout);
    if (!written)
        err << "sondrel-tag: " << path << ": " << written.error << "\n";
    for (const BatchRow& row : rows)
        results.push_back({row.data.FullPath(),
                           path,
                           written ? "listed" : "failed",
                           written ? std::string() : written.error,
                           {}});
    if (common.json || common.verbose)
        PrintResults(common, results, {}, out, err, [](const Result&) {});
    if (!written)
        return kFailed;
    if (!common.json && !common.quiet)
        out << path << "\n";
    return failed ? kFailed : kOk;
}

}  // namespace

std::optional<int> RunBatchCommand(const std::vector<std::string>& argv, std::ostream& out,
                                   std::ostream& err) {
    if (argv.empty())
        return std::nullopt;
    const std::string& command = argv.front();
    if (command == "rename")
        return RunRename(argv, out, err);
    if (command == "parse")
        return RunParse(argv, out, err);
    if (command == "export")
        return RunExport(argv, out, err);
    return std::nullopt;
}

// Every file by its absolute path, so that rows show full paths and names
// with folders are placed relative to the current folder.
std::vector<BatchFile> BatchFilesOf(const std::vector<std::string>& paths) {
    std::vector<BatchFile> files;
    for (const std::string& p : paths) {
        std::error_code ec;
        std::filesystem::path abs = std::filesystem::absolute(p, ec);
        if (ec)
            abs = p;
        abs = abs.lexically_normal();
        files.push_back({abs.parent_path().string(), abs.filename().string(),
                         static_cast<std::int32_t>(files.size())});
    }
    return files;
}

}  // namespace sondrel::cli
