#include "cli/lookup_command.h"

#include <cstdlib>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "batch/batch_row.h"
#include "cli/batch_commands.h"
#include "cli/help.h"
#include "editor/format_bridge.h"
#include "net/cddb.h"
#include "net/curl_http_client.h"
#include "net/lookup_rows.h"
#include "tags/file_io.h"

namespace sondrel::cli {

namespace {

struct LookupArgs {
    std::vector<std::string> files;
    std::string server;
    std::string email;
    std::optional<std::size_t> disc;  // from 1
    bool write = false;
    bool json = false;
    int trackStyle = kTrackStyleX;
};

std::optional<long> WholeNumber(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::atol(text.c_str());
}

// The options of "lookup freedb"; an error text on a usage error.
std::optional<LookupArgs> Parse(const std::vector<std::string>& argv, std::string& error) {
    LookupArgs a;
    if (const char* email = std::getenv("SONDREL_FREEDB_EMAIL"))
        a.email = email;
    bool filesOnly = false;
    for (std::size_t i = 2; i < argv.size(); ++i) {
        const std::string& arg = argv[i];
        if (filesOnly || arg.empty() || arg[0] != '-' || arg == "-") {
            a.files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            filesOnly = true;
            continue;
        }
        if (arg == "--write") {
            a.write = true;
            continue;
        }
        if (arg == "--json") {
            a.json = true;
            continue;
        }
        if (i + 1 >= argv.size()) {
            error = "option '" + arg + "' needs a value";
            return std::nullopt;
        }
        const std::string& value = argv[++i];
        if (arg == "--server") {
            a.server = value;
        } else if (arg == "--email") {
            a.email = value;
        } else if (arg == "--disc") {
            const auto n = WholeNumber(value);
            if (!n || *n < 1) {
                error = "--disc takes a disc number from 1";
                return std::nullopt;
            }
            a.disc = static_cast<std::size_t>(*n);
        } else if (arg == "--track-style") {
            const auto n = WholeNumber(value);
            if (!n || *n > 2) {
                error = "--track-style takes 0, 1 or 2";
                return std::nullopt;
            }
            a.trackStyle = static_cast<int>(*n);
        } else {
            error = "unknown option '" + arg + "'";
            return std::nullopt;
        }
    }
    if (a.files.empty()) {
        error = "no files given";
        return std::nullopt;
    }
    if (a.write && !a.disc) {
        error = "--write needs --disc N (the disc to write)";
        return std::nullopt;
    }
    if (a.files.size() > net::cddb::kMaxTracks) {
        error = "a disc holds at most 99 tracks; give the files of one album";
        return std::nullopt;
    }
    if (!net::cddb::HelloFromEmail(a.email)) {
        error =
            "FreeDB servers ask for the user's e-mail address: give --email ADDR "
            "(or set SONDREL_FREEDB_EMAIL)";
        return std::nullopt;
    }
    return a;
}

nlohmann::json TagsJson(const BatchRow& row) {
    return {{"album", row.NewAlbum}, {"artist", row.NewArtist}, {"genre", row.NewGenre},
            {"title", row.NewTitle}, {"track", row.NewTrack},   {"year", row.NewYear}};
}

int RunFreedb(const LookupArgs& a, std::ostream& out, std::ostream& err) {
    // Every file must be read: its duration is part of the disc id.
    for (const std::string& f : a.files) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(f, ec)) {
            err << "sondrel-tag: " << f << ": no such file\n";
            return 1;
        }
    }
    TagBridge bridge;
    ScanOptions scan;
    scan.subfolderMode = true;
    scan.trackStyle = a.trackStyle;
    std::vector<BatchRow> rows = ReadBatchRows(bridge, BatchFilesOf(a.files), scan);
    std::vector<std::int32_t> durations;
    for (const BatchRow& row : rows) {
        if (!row.data.Valid) {
            err << "sondrel-tag: " << row.data.FullPath() << ": " << row.data.Problem << "\n";
            return 1;
        }
        durations.push_back(row.data.Duration);
    }
    const auto toc = net::cddb::MakeToc(durations);
    if (!toc) {
        err << "sondrel-tag: a disc holds 1 to 99 tracks\n";
        return 1;
    }
    net::cddb::Settings settings;
    settings.server = a.server;
    settings.email = a.email;
    net::CurlHttpClient client;
    const net::cddb::QueryOutcome query = net::cddb::QueryDiscs(client, settings, *toc);
    if (!query.ok) {
        err << "sondrel-tag: " << query.error << "\n";
        return 1;
    }
    nlohmann::json json = nlohmann::json::object();
    json["discId"] = net::cddb::DiscIdText(toc->discId);
    json["discs"] = nlohmann::json::array();
    for (std::size_t k = 0; k < query.discs.size(); ++k) {
        const auto& d = query.discs[k];
        json["discs"].push_back(
            {{"category", d.category}, {"id", d.discId}, {"number", k + 1}, {"text", d.text}});
        if (!a.json)
            out << "Disc " << (k + 1) << ": " << d.text << "\n";
    }
    if (!a.disc) {
        if (a.json)
            out << json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        return 0;
    }
    if (*a.disc > query.discs.size()) {
        err << "sondrel-tag: there is no disc " << *a.disc << " (" << query.discs.size()
            << " found)\n";
        return 1;
    }
    const net::cddb::ReadOutcome read =
        net::cddb::ReadDisc(client, settings, query.discs[*a.disc - 1]);
    if (!read.ok) {
        err << "sondrel-tag: " << read.error << "\n";
        return 1;
    }
    net::FillRowsFromDisc(rows, read.disc, a.trackStyle);
    std::vector<std::string> status(rows.size(), a.write ? "failed" : "would write");
    std::vector<std::string> message(rows.size());
    int exitCode = 0;
    if (a.write) {
        const net::LookupWriteResult result = net::WriteLookupRows(rows, bridge);
        for (const std::size_t index : result.written)
            status[index] = "written";
        for (const auto& failure : result.failures) {
            for (std::size_t k = 0; k < rows.size(); ++k) {
                if (rows[k].data.FullPath() == failure.path) {
                    message[k] = failure.error;
                    // A cover or later step may fail after the save.
                    if (status[k] != "written")
                        status[k] = "failed";
                }
            }
            err << "sondrel-tag: " << failure.path << ": " << failure.error << "\n";
            exitCode = 1;
        }
    }
    json["disc"] = *a.disc;
    json["files"] = nlohmann::json::array();
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const BatchRow& row = rows[k];
        json["files"].push_back({{"file", row.data.FullPath()},
                                 {"message", message[k]},
                                 {"status", status[k]},
                                 {"tags", TagsJson(row)}});
        if (!a.json && message[k].empty()) {
            out << status[k] << ": " << row.data.FullPath() << ": " << row.NewTrack << ". "
                << row.NewArtist << " - " << row.NewTitle << " [" << row.NewAlbum << ", "
                << row.NewYear << ", " << row.NewGenre << "]\n";
        }
    }
    if (a.json)
        out << json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return exitCode;
}

}  // namespace

std::optional<int> RunLookupCommand(const std::vector<std::string>& argv, std::ostream& out,
                                    std::ostream& err) {
    if (argv.empty() || argv.front() != "lookup")
        return std::nullopt;
    if (argv.size() < 2 || argv[1] != "freedb")
        return UsageError(err, "lookup", "lookup needs a service: lookup freedb FILE...");
    std::string error;
    const auto parsed = Parse(argv, error);
    if (!parsed)
        return UsageError(err, "lookup", error);
    return RunFreedb(*parsed, out, err);
}

}  // namespace sondrel::cli
