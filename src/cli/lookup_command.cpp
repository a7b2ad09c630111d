// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/lookup_command.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "batch/batch_row.h"
#include "cli/batch_commands.h"
#include "cli/help.h"
#include "editor/format_bridge.h"
#include "editor/format_registry.h"
#include "net/cddb.h"
#include "net/cover_art.h"
#include "net/curl_http_client.h"
#include "net/lookup_rows.h"
#include "net/lrclib.h"
#include "net/musicbrainz.h"
#include "net/rate_limiter.h"
#include "net/web_service.h"
#include "tags/file_io.h"

namespace sondrel::cli {

namespace {

// The whole look-up's limit unless --timeout gives another: a server that
// trickles its answers cannot hold the tool for longer.
constexpr long kDefaultTimeoutSeconds = 600;
constexpr long kMaxTimeoutSeconds = 24L * 3600;

// Server texts and file names on the terminal: no control characters.
std::string T(std::string_view text) {
    return net::web::TerminalText(text);
}

// "--timeout N": whole seconds from 1 to a day; an error text otherwise.
std::optional<long> TimeoutOf(const std::string& value, std::string& error);

struct LookupArgs {
    std::vector<std::string> files;
    std::string server;
    std::string email;
    std::optional<std::size_t> disc;  // from 1
    bool write = false;
    bool json = false;
    int trackStyle = kTrackStyleX;
    long timeoutSeconds = kDefaultTimeoutSeconds;
};

std::optional<long> WholeNumber(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::atol(text.c_str());
}

std::optional<long> TimeoutOf(const std::string& value, std::string& error) {
    const auto n = WholeNumber(value);
    if (!n || *n < 1 || *n > kMaxTimeoutSeconds) {
        error = "--timeout takes whole seconds from 1 to 86400";
        return std::nullopt;
    }
    return *n;
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
        } else if (arg == "--timeout") {
            const auto n = TimeoutOf(value, error);
            if (!n)
                return std::nullopt;
            a.timeoutSeconds = *n;
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

// Marks the rows a write reached and reports its failures; the exit status.
int ApplyWriteResult(const net::LookupWriteResult& result, const std::vector<BatchRow>& rows,
                     std::vector<std::string>& status, std::vector<std::string>& message,
                     std::ostream& err) {
    for (const std::size_t index : result.written)
        status[index] = "written";
    for (const auto& failure : result.failures) {
        for (std::size_t k = 0; k < rows.size(); ++k) {
            if (rows[k].data.FullPath() == failure.path) {
                message[k] = failure.error;
                // A cover may fail after the tags were saved.
                if (status[k] != "written")
                    status[k] = "failed";
            }
        }
        err << "sondrel-tag: " << T(failure.path) << ": " << T(failure.error) << "\n";
    }
    return result.failures.empty() ? 0 : 1;
}

int RunFreedb(const LookupArgs& a, std::ostream& out, std::ostream& err) {
    // Every file must be read: its duration is part of the disc id.
    for (const std::string& f : a.files) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(f, ec)) {
            err << "sondrel-tag: " << T(f) << ": no such file\n";
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
            err << "sondrel-tag: " << T(row.data.FullPath()) << ": " << T(row.data.Problem) << "\n";
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
    net::CurlHttpClient curl;
    net::DeadlineHttpClient client(curl, std::chrono::seconds(a.timeoutSeconds));
    const net::cddb::QueryOutcome query = net::cddb::QueryDiscs(client, settings, *toc);
    if (!query.ok) {
        err << "sondrel-tag: " << T(query.error) << "\n";
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
            out << "Disc " << (k + 1) << ": " << T(d.text) << "\n";
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
        err << "sondrel-tag: " << T(read.error) << "\n";
        return 1;
    }
    net::FillRowsFromDisc(rows, read.disc, a.trackStyle);
    std::vector<std::string> status(rows.size(), a.write ? "failed" : "would write");
    std::vector<std::string> message(rows.size());
    int exitCode = 0;
    if (a.write) {
        exitCode = ApplyWriteResult(net::WriteLookupRows(rows, bridge), rows, status, message, err);
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
            out << status[k] << ": " << T(row.data.FullPath()) << ": " << T(row.NewTrack) << ". "
                << T(row.NewArtist) << " - " << T(row.NewTitle) << " [" << T(row.NewAlbum) << ", "
                << T(row.NewYear) << ", " << T(row.NewGenre) << "]\n";
        }
    }
    if (a.json)
        out << json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return exitCode;
}

// The options of "lookup musicbrainz", "lookup covers" and "lookup lyrics".
struct OnlineArgs {
    std::string service;
    std::vector<std::string> files;
    std::string host;
    std::string coverHost;
    std::string email;
    std::string artist;
    std::string album;
    bool byToc = false;
    std::optional<std::size_t> release;  // from 1
    bool write = false;
    bool dryRun = false;
    bool cover = false;
    bool json = false;
    bool allowLoopbackHttp = false;
    int trackStyle = kTrackStyleX;
    long timeoutSeconds = kDefaultTimeoutSeconds;
};

std::optional<OnlineArgs> ParseOnline(const std::vector<std::string>& argv, std::string& error) {
    OnlineArgs a;
    a.service = argv[1];
    const bool lyrics = a.service == "lyrics";
    bool filesOnly = false;
    for (std::size_t i = 2; i < argv.size(); ++i) {
        const std::string& arg = argv[i];
        if (filesOnly || arg.empty() || arg[0] != '-' || arg == "-") {
            a.files.push_back(arg);
            continue;
        }
        bool* flag = arg == "--"                                      ? &filesOnly
                     : arg == "--write"                               ? &a.write
                     : arg == "--dry-run"                             ? &a.dryRun
                     : arg == "--json"                                ? &a.json
                     : arg == "--allow-loopback-http"                 ? &a.allowLoopbackHttp
                     : !lyrics && arg == "--toc"                      ? &a.byToc
                     : a.service == "musicbrainz" && arg == "--cover" ? &a.cover
                                                                      : nullptr;
        if (flag != nullptr) {
            *flag = true;
            continue;
        }
        const bool takesValue = arg == "--host" || arg == "--email" || arg == "--timeout" ||
                                (!lyrics && (arg == "--cover-host" || arg == "--artist" ||
                                             arg == "--album" || arg == "--release")) ||
                                (a.service == "musicbrainz" && arg == "--track-style");
        if (!takesValue) {
            error = "unknown option '" + arg + "'";
            return std::nullopt;
        }
        if (i + 1 >= argv.size()) {
            error = "option '" + arg + "' needs a value";
            return std::nullopt;
        }
        const std::string& value = argv[++i];
        if (arg == "--host") {
            a.host = value;
        } else if (arg == "--cover-host") {
            a.coverHost = value;
        } else if (arg == "--email") {
            a.email = value;
        } else if (arg == "--artist") {
            a.artist = value;
        } else if (arg == "--album") {
            a.album = value;
        } else if (arg == "--timeout") {
            const auto n = TimeoutOf(value, error);
            if (!n)
                return std::nullopt;
            a.timeoutSeconds = *n;
        } else if (arg == "--release") {
            const auto n = WholeNumber(value);
            if (!n || *n < 1) {
                error = "--release takes an entry number from 1";
                return std::nullopt;
            }
            a.release = static_cast<std::size_t>(*n);
        } else {
            const auto n = WholeNumber(value);
            if (!n || *n > 2) {
                error = "--track-style takes 0, 1 or 2";
                return std::nullopt;
            }
            a.trackStyle = static_cast<int>(*n);
        }
    }
    if (a.files.empty()) {
        error = "no files given";
        return std::nullopt;
    }
    if (a.write && a.dryRun) {
        error = "--write and --dry-run exclude each other";
        return std::nullopt;
    }
    if (!lyrics && a.write && !a.release) {
        error = "--write needs --release N (the entry to write)";
        return std::nullopt;
    }
    if (a.byToc && (!a.artist.empty() || !a.album.empty())) {
        error = "--toc looks up the files' durations; leave out --artist and --album";
        return std::nullopt;
    }
    if (!lyrics && a.files.size() > net::musicbrainz::kMaxTracks) {
        error = "a medium holds at most 99 tracks; give the files of one album";
        return std::nullopt;
    }
    return a;
}

void PrintJson(std::ostream& out, const nlohmann::json& json) {
    out << json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

// The files as batch rows; false (with the reason shown) when one is
// missing or unreadable.
bool ReadRows(const std::vector<std::string>& files, int trackStyle, TagBridge& bridge,
              std::vector<BatchRow>& rows, std::ostream& err) {
    for (const std::string& f : files) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(f, ec)) {
            err << "sondrel-tag: " << T(f) << ": no such file\n";
            return false;
        }
    }
    ScanOptions scan;
    scan.subfolderMode = true;
    scan.trackStyle = trackStyle;
    rows = ReadBatchRows(bridge, BatchFilesOf(files), scan);
    for (const BatchRow& row : rows) {
        if (!row.data.Valid) {
            err << "sondrel-tag: " << T(row.data.FullPath()) << ": " << T(row.data.Problem) << "\n";
            return false;
        }
    }
    return true;
}

nlohmann::json EntryJson(const net::musicbrainz::Entry& e, std::size_t number) {
    return {{"number", number},          {"release", e.releaseId},
            {"medium", e.medium},        {"media", e.mediumCount},
            {"title", e.title},          {"album", e.album},
            {"artist", e.artist},        {"year", e.year},
            {"label", e.label},          {"genre", e.genre},
            {"trackCount", e.trackCount}};
}

int RunMusicBrainz(const OnlineArgs& a, std::ostream& out, std::ostream& err) {
    TagBridge bridge;
    std::vector<BatchRow> rows;
    if (!ReadRows(a.files, a.trackStyle, bridge, rows, err))
        return 1;
    net::CurlHttpClient curl;
    net::DeadlineHttpClient client(curl, std::chrono::seconds(a.timeoutSeconds));
    net::SystemClock clock;
    net::RateLimiter limiter(clock, net::musicbrainz::kRequestGap);
    net::musicbrainz::Settings settings;
    settings.endpoint = {a.host, a.allowLoopbackHttp};
    settings.contact = a.email;
    const net::web::Endpoint coverEndpoint{a.coverHost, a.allowLoopbackHttp};
    const std::string userAgent = net::web::ServiceUserAgent(a.email);

    net::musicbrainz::ListOutcome list;
    if (a.byToc) {
        std::vector<std::int32_t> durations;
        for (const BatchRow& row : rows)
            durations.push_back(row.data.Duration);
        const auto toc = net::cddb::MakeToc(durations);
        if (!toc) {
            err << "sondrel-tag: a disc holds 1 to 99 tracks\n";
            return 1;
        }
        list = net::musicbrainz::LookUpToc(client, limiter, settings, *toc);
    } else {
        // Without words of its own the look-up asks for the first file's.
        const bool ownWords = !a.artist.empty() || !a.album.empty();
        list = net::musicbrainz::SearchReleases(client, limiter, settings,
                                                ownWords ? a.artist : rows.front().data.Artist,
                                                ownWords ? a.album : rows.front().data.Album);
    }
    if (!list.ok) {
        err << "sondrel-tag: " << T(list.error) << "\n";
        return 1;
    }
    nlohmann::json json = nlohmann::json::object();
    json["releases"] = nlohmann::json::array();
    for (std::size_t k = 0; k < list.entries.size(); ++k) {
        json["releases"].push_back(EntryJson(list.entries[k], k + 1));
        if (!a.json)
            out << "Release " << (k + 1) << ": " << T(list.entries[k].ListText()) << "\n";
    }
    if (!a.release) {
        if (a.json)
            PrintJson(out, json);
        return 0;
    }
    if (*a.release > list.entries.size()) {
        err << "sondrel-tag: there is no entry " << *a.release << " (" << list.entries.size()
            << " found)\n";
        return 1;
    }
    const net::musicbrainz::ReleaseOutcome read =
        net::musicbrainz::ReadRelease(client, limiter, settings, list.entries[*a.release - 1]);
    if (!read.ok) {
        err << "sondrel-tag: " << T(read.error) << "\n";
        return 1;
    }
    const bool covers = a.service == "covers" || a.cover;
    const std::string coverUrl =
        covers ? net::coverart::FrontCoverUrl(a.coverHost, read.entry.releaseId) : std::string();
    std::vector<std::string> status(rows.size(), a.write ? "failed" : "would write");
    std::vector<std::string> message(rows.size());
    int exitCode = 0;
    net::store::PictureFolder folder;
    if (a.service == "covers") {
        // Only the cover: every row keeps its tags.
        for (BatchRow& row : rows)
            row.CoverUrl = coverUrl;
        const auto holds = [](const BatchRow& row) {
            const FormatHandler* handler = HandlerOfPath(row.data.FullPath());
            return handler != nullptr && handler->HoldsPictures();
        };
        if (!a.write) {
            const auto cover =
                net::coverart::FetchCover(client, coverEndpoint, coverUrl, userAgent);
            if (!cover.ok) {
                err << "sondrel-tag: " << T(cover.error) << "\n";
                return 1;
            }
            json["coverBytes"] = cover.bytes.size();
        } else {
            const net::AfterSave add =
                net::coverart::CoverArtAdder(client, coverEndpoint, userAgent, folder);
            for (std::size_t k = 0; k < rows.size(); ++k) {
                if (!holds(rows[k]))
                    continue;
                std::string error;
                if (bridge.Read(rows[k].data.FullPath()) == TagFormat::None)
                    error = "not a kind of file the program tags";
                else
                    error = add(rows[k], bridge);
                if (error.empty()) {
                    status[k] = "written";
                } else {
                    message[k] = error;
                    err << "sondrel-tag: " << T(rows[k].data.FullPath()) << ": " << T(error)
                        << "\n";
                    exitCode = 1;
                }
            }
        }
        for (std::size_t k = 0; k < rows.size(); ++k) {
            if (!holds(rows[k]))
                status[k] = "holds no pictures";
        }
    } else {
        net::musicbrainz::FillRowsFromEntry(rows, read.entry, a.trackStyle, coverUrl);
        if (a.write) {
            const net::AfterSave add =
                covers ? net::coverart::CoverArtAdder(client, coverEndpoint, userAgent, folder)
                       : net::AfterSave();
            exitCode = ApplyWriteResult(net::WriteLookupRows(rows, bridge, add), rows, status,
                                        message, err);
        }
    }
    json["release"] = *a.release;
    json["cover"] = coverUrl;
    json["files"] = nlohmann::json::array();
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const BatchRow& row = rows[k];
        nlohmann::json file = {
            {"file", row.data.FullPath()}, {"message", message[k]}, {"status", status[k]}};
        if (a.service != "covers")
            file["tags"] = TagsJson(row);
        json["files"].push_back(std::move(file));
        if (a.json || !message[k].empty())
            continue;
        out << status[k] << ": " << T(row.data.FullPath());
        if (a.service == "covers")
            out << ": " << T(coverUrl) << "\n";
        else
            out << ": " << T(row.NewTrack) << ". " << T(row.NewArtist) << " - " << T(row.NewTitle)
                << " [" << T(row.NewAlbum) << ", " << T(row.NewYear) << ", " << T(row.NewGenre)
                << "]\n";
    }
    if (a.json)
        PrintJson(out, json);
    return exitCode;
}

int RunLyrics(const OnlineArgs& a, std::ostream& out, std::ostream& err) {
    TagBridge bridge;
    std::vector<BatchRow> rows;
    if (!ReadRows(a.files, kTrackStyleX, bridge, rows, err))
        return 1;
    net::CurlHttpClient curl;
    net::DeadlineHttpClient client(curl, std::chrono::seconds(a.timeoutSeconds));
    net::lrclib::Settings settings;
    settings.endpoint = {a.host, a.allowLoopbackHttp};
    settings.contact = a.email;
    int exitCode = 0;
    nlohmann::json json = nlohmann::json::object();
    json["files"] = nlohmann::json::array();
    for (const BatchRow& row : rows) {
        const std::string path = row.data.FullPath();
        net::lrclib::Query query{row.data.Artist, row.data.Title, row.data.Album,
                                 row.data.Duration};
        const net::lrclib::LyricsOutcome got = net::lrclib::FetchLyrics(client, settings, query);
        std::string status;
        std::string message;
        if (!got.ok) {
            status = "failed";
            message = got.error;
        } else if (!got.lyrics.found) {
            status = "not found";
        } else if (got.lyrics.plain.empty()) {
            status = "instrumental";
        } else if (!a.write) {
            status = "would write";
        } else if (bridge.Read(path) == TagFormat::None) {
            status = "failed";
            message = "not a kind of file the program tags";
        } else {
            // Only the lyrics change; every other value is the file's own.
            // Timed lines go into the same save where the format keeps them.
            TagFields hub = bridge.Hub();
            hub.text = got.lyrics.plain;
            bridge.setHub(hub);
            if (!got.lyrics.synced.empty())
                bridge.SetSyncedLyrics(path, net::lrclib::SyltOf(got.lyrics.synced));
            const SaveOutcome saved = bridge.Save(path);
            status = saved.ok ? "written" : "failed";
            message = saved.error;
        }
        if (!message.empty()) {
            err << "sondrel-tag: " << T(path) << ": " << T(message) << "\n";
            exitCode = 1;
        }
        nlohmann::json synced = nlohmann::json::array();
        for (const auto& line : got.lyrics.synced)
            synced.push_back({{"time", line.timeMs}, {"text", line.text}});
        json["files"].push_back({{"file", path},
                                 {"status", status},
                                 {"message", message},
                                 {"lyrics", got.lyrics.plain},
                                 {"synced", std::move(synced)}});
        if (!a.json && message.empty()) {
            out << status << ": " << T(path);
            if (got.lyrics.found && !got.lyrics.plain.empty())
                out << ": "
                    << std::count(got.lyrics.plain.begin(), got.lyrics.plain.end(), '\n') + 1
                    << " lines, " << got.lyrics.synced.size() << " timed";
            out << "\n";
        }
    }
    if (a.json)
        PrintJson(out, json);
    return exitCode;
}

}  // namespace

std::optional<int> RunLookupCommand(const std::vector<std::string>& argv, std::ostream& out,
                                    std::ostream& err) {
    if (argv.empty() || argv.front() != "lookup")
        return std::nullopt;
    const std::string service = argv.size() < 2 ? std::string() : argv[1];
    std::string error;
    if (service == "musicbrainz" || service == "covers" || service == "lyrics") {
        const auto parsed = ParseOnline(argv, error);
        if (!parsed)
            return UsageError(err, "lookup", error);
        return service == "lyrics" ? RunLyrics(*parsed, out, err)
                                   : RunMusicBrainz(*parsed, out, err);
    }
    if (service != "freedb")
        return UsageError(err, "lookup",
                          "lookup needs a service: freedb, musicbrainz, covers or lyrics");
    const auto parsed = Parse(argv, error);
    if (!parsed)
        return UsageError(err, "lookup", error);
    return RunFreedb(*parsed, out, err);
}

}  // namespace sondrel::cli
